// The filter graph: its assembly for one media file and its tear-down.
#pragma once

#include "../card/card_interfaces.h"
#include "../platform/exports.h"
#include "../platform/platform.h"

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

// Whether the player is set up (gPlayerInitialized), for the other
// subsystems.
bool playerOpen();

// For tests and fuzzers: the player as at load, with the playback state and
// the audio settings. Holds no reference: the player must have been torn
// down (free, or closeOSD) first.
void resetPlayer();

// Whether a set-up that failed kept a graph or a push-graph filter for the
// next load (gPlayerInitialized is false then).
bool keptForNextLoad();

// The dump of the current filter graph into the plug-in log.
void logFilter(int index, IBaseFilter* filter);
void logGraph();
