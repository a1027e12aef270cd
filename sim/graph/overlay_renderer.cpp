// The video renderer that the decoder's overlay pin ends in when a graph is
// built around the decoder. It takes only the overlay: the world has no
// software MPEG decoder, so compressed video has nowhere else to go.
//
// In the simulated world it is the system's own Video Renderer. tovixsim.dll
// serves it under a class of its own and registers it with the system's
// filter mapper, because Wine's video renderer takes no overlay connection
// (Windows's does); the library takes it out of the graph again either way.
#include "../base/filter.h"
#include "../base/seeking.h"

namespace sim {

namespace {

#ifdef _WIN32
const CLSID CLSID_OverlayRenderer = {
    0x6B1F7E23, 0x3C4D, 0x4A55, {0x9E, 0x61, 0x70, 0x82, 0x93, 0xA4, 0xB5, 0xC6}};
#else
const CLSID CLSID_OverlayRenderer = {
    0x70E102B0, 0x5556, 0x11CE, {0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
#endif

// The renderer's seeking passes through to its upstream pin, which on the
// overlay connection has none to offer: it says nothing, but takes media
// time, so the graph counts the renderer among those whose end it awaits.
class PassThroughSeeking final : public SeekingBase {
  public:
    explicit PassThroughSeeking(IUnknown* identity) : SeekingBase(identity, 0) {}
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override {
        return capabilities ? E_NOTIMPL : E_POINTER;
    }

  protected:
    HRESULT durationHook(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT positionHook(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT seekHook(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT rateHook(double) override { return E_NOTIMPL; }
};

// It completes as a renderer does: at the end of its input's stream, and at
// once when its input is not connected. The overlay carries no samples and
// no end of stream, so a graph that keeps it never completes.
class VideoRendererFilter : public BaseFilter {
  public:
    VideoRendererFilter()
        : BaseFilter("VideoRenderer", CLSID_OverlayRenderer),
          seeking_(static_cast<IBaseFilter*>(this)) {
        addPin(L"Input", PINDIR_INPUT, {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_Overlay)},
               {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_Overlay)});
    }

    void* extraInterface(REFIID riid) override {
        if (riid == IID_IMediaSeeking)
            return static_cast<IMediaSeeking*>(&seeking_);
        if (riid == IID_IMediaPosition)
            return static_cast<IMediaPosition*>(&position_);
        return nullptr;
    }
    HRESULT onRun(REFERENCE_TIME) override {
        if (!pinAt(0)->isConnected() || ended_)
            complete();
        return S_OK;
    }
    HRESULT onStop() override {
        ended_ = false;
        return S_OK;
    }
    HRESULT onEndOfStream(BasePin*) override {
        ended_ = true;
        if (state() == State_Running)
            complete();
        return S_OK;
    }
    HRESULT onBeginFlush(BasePin*) override {
        ended_ = false;
        return S_OK;
    }

  private:
    void complete() {
        notifyGraph(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    }

    PassThroughSeeking seeking_;
    PositionOverSeeking position_{&seeking_};
    bool ended_ = false; // its input's stream has ended, no flush or stop since
};

ClassRegistrar gClass(CLSID_OverlayRenderer, "VideoRenderer", createObject<VideoRendererFilter>);
FilterRegistrar gFilter({CLSID_OverlayRenderer,
                         "Video Renderer",
                         kMeritUnlikely,
                         {{MEDIATYPE_Video, MEDIASUBTYPE_Overlay}}});

} // namespace

} // namespace sim
