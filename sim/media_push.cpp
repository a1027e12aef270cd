// Streaming of the push graph's filters: the shared source reads its file,
// re-reading it as it grows while it holds the host's lock object (the file
// is still being written), and the demultiplexer passes its input's stream
// on to the decoder.
#include "card_stream_filters.h"
#include "media_stream.h"

#include <mutex>

namespace sim {

namespace {

// Interfaces of an extension share the filter's identity and count.
class MediaInfoExtension : public FilterExtension, public ISimMediaInfo {
  public:
    explicit MediaInfoExtension(BaseFilter* filter) : filter_(filter) {}

    void* queryInterface(REFIID riid) override {
        return riid == IID_ISimMediaInfo ? static_cast<ISimMediaInfo*>(this) : nullptr;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return filter_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return filter_->addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return filter_->release(); }

  protected:
    BaseFilter* filter_;
};

class SharedSourceStreaming : public MediaInfoExtension {
  public:
    using MediaInfoExtension::MediaInfoExtension;

    HRESULT STDMETHODCALLTYPE GetMediaInfo(MediaInfo* info) override {
        if (!info)
            return E_POINTER;
        auto* source = static_cast<SharedSourceFilter*>(filter_);
        if (source->file().empty())
            return VFW_E_NOT_CONNECTED;
        // Polls and application calls may meet here (see the decoder).
        std::lock_guard<std::mutex> lock(mutex_);
        if (probe_.path() != source->file())
            probe_.setPath(source->file());
        // The probe re-reads whenever the file's size changed, so a file
        // still being written shows each new stretch as it lands.
        *info = probe_.info();
        info->growing = source->fileLock() != nullptr;
        return S_OK;
    }

  private:
    FileProbe probe_;
    std::mutex mutex_;
};

class DemuxStreaming : public MediaInfoExtension {
  public:
    using MediaInfoExtension::MediaInfoExtension;

    HRESULT STDMETHODCALLTYPE GetMediaInfo(MediaInfo* info) override {
        return upstreamMediaInfo(filter_->pinAt(kDemuxInput), info);
    }
};

FilterExtensionRegistrar gSourceRegistrar(kSharedSourceClassName,
                                          [](BaseFilter* filter) -> FilterExtension* {
                                              return new SharedSourceStreaming(filter);
                                          });
FilterExtensionRegistrar gDemuxRegistrar(kDemuxClassName,
                                         [](BaseFilter* filter) -> FilterExtension* {
                                             return new DemuxStreaming(filter);
                                         });

} // namespace

} // namespace sim
