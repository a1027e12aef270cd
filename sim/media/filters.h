// The system's file source ("File Source (Async.)") that RenderFile starts a
// graph with: it hands its file's bytes to a splitter through IAsyncReader.
// The splitter is whichever registered filter takes the file's type (the
// card's demultiplexer), and the decoder's overlay ends in the registered
// video renderer (graph/overlay_renderer.cpp).
#pragma once

#include "../base/filter.h"
#include "stream.h"
#include "types.h"

#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>

namespace sim {

class FileSourceFilter;

// The file source's output pin as a reader of its file. It shares the pin's
// identity and count.
class FileReader : public IAsyncReader {
  public:
    explicit FileReader(FileSourceFilter* source) : source_(source) {}
    ~FileReader();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE RequestAllocator(IMemAllocator* preferred,
                                               ALLOCATOR_PROPERTIES* props,
                                               IMemAllocator** actual) override;
    HRESULT STDMETHODCALLTYPE Request(IMediaSample* sample, DWORD_PTR user) override;
    HRESULT STDMETHODCALLTYPE WaitForNext(DWORD timeout, IMediaSample** sample,
                                          DWORD_PTR* user) override;
    HRESULT STDMETHODCALLTYPE SyncReadAligned(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
    HRESULT STDMETHODCALLTYPE Length(LONGLONG* total, LONGLONG* available) override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    bool open(const std::string& path);

  private:
    HRESULT readInto(IMediaSample* sample);

    FileSourceFilter* source_;
    std::FILE* file_ = nullptr;
    LONGLONG size_ = 0;
    std::mutex mutex_;
    std::deque<std::pair<IMediaSample*, DWORD_PTR>> done_; // read, not yet collected
};

class FileSourceFilter : public BaseFilter, public IFileSourceFilter {
  public:
    FileSourceFilter();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return BaseFilter::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    // IFileSourceFilter: a missing file answers the Win32 file-not-found
    // code. The output's type follows the file's first bytes: MPEG-1 system
    // or MPEG-2 program stream, else a byte stream of no known subtype.
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;

    void* extraInterface(REFIID riid) override;
    void* pinInterface(BasePin* pin, REFIID riid) override;

    // What the file holds, as parsed at Load.
    const MediaInfo& mediaInfo() const { return info_; }

  private:
    std::wstring file_;
    MediaInfo info_;
    FileReader reader_;
};

} // namespace sim
