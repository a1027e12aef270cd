// The filter graph: its assembly for one media file and its tear-down.
#pragma once

#include "../platform/exports.h"
#include "../platform/platform.h"
#include "../card/card_interfaces.h"

// The lock object lent to the shared-source filter while a time-shifted file
// is open: a word the library leaves at zero, then a critical section that
// lives as long as the library is loaded. The library never enters it.
struct FileLock {
    int32_t reserved = 0;
    CRITICAL_SECTION section;
    FileLock() { InitializeCriticalSection(&section); }
    ~FileLock() { DeleteCriticalSection(&section); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
};
extern FileLock gFileLock;

extern "C" TOVIX_EXPORT bool gPlayerInitialized;
extern "C" TOVIX_EXPORT bool gStreaming;

extern IGraphBuilder* pGraphBuilder;
extern IBaseFilter* pSourceFilter;
extern ISharedAsync* pSharedAsync;
extern IBaseFilter* pDemuxFilter;
extern IMediaPosition* pMediaPosition;
extern IMediaControl* pMediaControl;
extern IMediaEventEx* pMediaEvent;
extern IVideoWindow* pVideoWindow;
extern IMediaSeeking* pMediaSeeking;
extern IBasicVideo2* pBasicVideo;
extern IBasicAudio* pBasicAudio;

extern "C" TOVIX_EXPORT HRESULT setupTovixPlayer(int major, int minor, bool shifted);
extern "C" TOVIX_EXPORT int createFilters(int major, int minor, bool shifted);
extern "C" TOVIX_EXPORT unsigned char streamFile(unsigned char shifted, int major, int minor);
extern "C" TOVIX_EXPORT int getGraphInterfaces();
extern "C" TOVIX_EXPORT HRESULT openFile(const char* path, const char* host, bool shifted,
                                         int major, int minor);
extern "C" TOVIX_EXPORT HRESULT buildGraph();
IPin* getPin(IBaseFilter* filter, int index);
extern "C" TOVIX_EXPORT void cleanupGraph();
extern "C" TOVIX_EXPORT void releaseTovixPlayer();
extern "C" TOVIX_EXPORT void releaseGraphInterfaces();
extern "C" TOVIX_EXPORT void releaseFilters();
void releaseGraph();
extern "C" TOVIX_EXPORT HRESULT inactiveFile();
extern "C" TOVIX_EXPORT HRESULT createRmInterface(IBaseFilter** filter);
extern "C" TOVIX_EXPORT int getFilterName(IUnknown* object);
extern "C" TOVIX_EXPORT void getFileName();
