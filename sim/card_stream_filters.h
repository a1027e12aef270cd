// The push graph's two streaming filters as the card's software ships them:
// the shared-source filter (reads a file that may still be growing) and the
// MPEG demultiplexer. Here are their identity, pins and the calls they
// record; their streaming (ISimMediaInfo) is in media_push.cpp.
#pragma once

#include "filter_base.h"

#include "media_stream.h"

#include "../src/card/card_interfaces.h"

#include <mutex>
#include <string>

namespace sim {

extern const char kSharedSourceClassName[]; // "SharedSource"
extern const char kDemuxClassName[];        // "MpegDemux"

// Shared source pins: 0 output (MEDIATYPE_Stream, MPEG-2 program stream).
class SharedSourceFilter : public BaseFilter,
                           public IFileSourceFilter,
                           public ISharedAsync,
                           public ISimMediaInfo {
  public:
    SharedSourceFilter();
    ~SharedSourceFilter() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return BaseFilter::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    // IFileSourceFilter
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;

    // ISharedAsync
    HRESULT STDMETHODCALLTYPE SetFileLock(void* lock) override;
    HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHostName(const char* host) override;

    // ISimMediaInfo: the file as written so far.
    HRESULT STDMETHODCALLTYPE GetMediaInfo(MediaInfo* info) override;

    void* extraInterface(REFIID riid) override;

    // What this instance was told.
    const std::string& file() const { return file_; } // UTF-8, "" before Load
    const std::wstring& wideFile() const { return wideFile_; }
    void* fileLock() const { return lock_; } // null: the file is complete
    const std::string& hostName() const { return host_; }

  private:
    std::string file_;
    std::wstring wideFile_;
    void* lock_ = nullptr;
    std::string host_;
    FileProbe probe_;
    std::mutex probeMutex_; // polls and application calls may meet here
};

// Demultiplexer pins: 0 input (MEDIATYPE_Stream), 1 sub-picture out,
// 2 video out (MPEG-2 video), 3 audio out (MPEG audio).
enum DemuxPin { kDemuxInput = 0, kDemuxSubpictureOut = 1, kDemuxVideoOut = 2, kDemuxAudioOut = 3 };

class DemuxFilter : public BaseFilter, public ISimMediaInfo {
  public:
    DemuxFilter();
    ~DemuxFilter() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return BaseFilter::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    // ISimMediaInfo: its input's stream.
    HRESULT STDMETHODCALLTYPE GetMediaInfo(MediaInfo* info) override;

    void* extraInterface(REFIID riid) override;
};

} // namespace sim
