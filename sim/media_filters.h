// The filters RenderFile builds a graph from: a file source that reads a
// program stream ("File Source (Async.)"), the MPEG-2 splitter with one
// output pin per stream of the file, and a video renderer that takes what
// the decoder's overlay pin offers.
#pragma once

#include "filter_base.h"
#include "media_stream.h"

namespace sim {

class FileSourceFilter : public BaseFilter, public IFileSourceFilter, public ISimMediaInfo {
  public:
    FileSourceFilter();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return BaseFilter::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    // IFileSourceFilter: a missing file answers the Win32 file-not-found code.
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;

    HRESULT STDMETHODCALLTYPE GetMediaInfo(MediaInfo* info) override;

    void* extraInterface(REFIID riid) override;

  private:
    std::wstring file_;
    MediaInfo info_;
};

class SplitterFilter : public BaseFilter, public ISimMediaInfo {
  public:
    // The pins follow the streams of `info`: video first, then each audio
    // stream in the order the file carries them.
    explicit SplitterFilter(const MediaInfo& info);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return BaseFilter::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE GetMediaInfo(MediaInfo* info) override;

    void* extraInterface(REFIID riid) override;
};

class VideoRendererFilter : public BaseFilter {
  public:
    VideoRendererFilter();
};

} // namespace sim
