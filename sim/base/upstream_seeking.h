// Seeking passed upstream, as a transform filter's output pin and a
// renderer answer it: every call goes to the IMediaSeeking of the pin that
// feeds `input` (the owner's own input pin), which passes it on in turn until
// the splitter or source that can seek answers. Only the time format is
// answered here: media time, so that a graph counts a renderer among those
// whose end it awaits even before it is connected.
#pragma once

#include "../com/runtime.h"

namespace sim {

class BasePin;

class UpstreamSeeking final : public IMediaSeeking {
  public:
    // `identity` answers QueryInterface and counts the references.
    UpstreamSeeking(IUnknown* identity, BasePin* input) : identity_(identity), input_(input) {}
    UpstreamSeeking(const UpstreamSeeking&) = delete;
    UpstreamSeeking& operator=(const UpstreamSeeking&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return identity_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return identity_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return identity_->Release(); }

    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                                LONGLONG source, const GUID* sourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

  private:
    // The upstream pin's IMediaSeeking (a reference of the caller's), or the
    // reason there is none: VFW_E_NOT_CONNECTED, E_NOTIMPL.
    HRESULT upstream(IMediaSeeking** seeking) const;
    template <class... Params, class... Args>
    HRESULT forward(HRESULT (STDMETHODCALLTYPE IMediaSeeking::*method)(Params...), Args... args);

    IUnknown* identity_;
    BasePin* input_;
};

} // namespace sim
