// Seeking passed upstream (see upstream_seeking.h).
#include "upstream_seeking.h"

#include "filter.h"

namespace sim {

HRESULT UpstreamSeeking::upstream(IMediaSeeking** seeking) const {
    *seeking = nullptr;
    IPin* peer = input_->peer();
    if (!peer)
        return VFW_E_NOT_CONNECTED;
    if (FAILED(peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking))) ||
        !*seeking) {
        *seeking = nullptr;
        return E_NOTIMPL;
    }
    return S_OK;
}

template <class... Params, class... Args>
HRESULT UpstreamSeeking::forward(HRESULT (STDMETHODCALLTYPE IMediaSeeking::*method)(Params...),
                                 Args... args) {
    IMediaSeeking* seeking = nullptr;
    HRESULT hr = upstream(&seeking);
    if (FAILED(hr))
        return hr;
    hr = (seeking->*method)(args...);
    seeking->Release();
    return hr;
}

HRESULT UpstreamSeeking::GetCapabilities(DWORD* capabilities) {
    if (!capabilities)
        return E_POINTER;
    return forward(&IMediaSeeking::GetCapabilities, capabilities);
}

HRESULT UpstreamSeeking::CheckCapabilities(DWORD* capabilities) {
    if (!capabilities)
        return E_POINTER;
    return forward(&IMediaSeeking::CheckCapabilities, capabilities);
}

HRESULT UpstreamSeeking::IsFormatSupported(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT UpstreamSeeking::QueryPreferredFormat(GUID* format) {
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT UpstreamSeeking::GetTimeFormat(GUID* format) {
    return QueryPreferredFormat(format);
}

HRESULT UpstreamSeeking::IsUsingTimeFormat(const GUID* format) {
    return IsFormatSupported(format);
}

HRESULT UpstreamSeeking::SetTimeFormat(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT UpstreamSeeking::GetDuration(LONGLONG* duration) {
    if (!duration)
        return E_POINTER;
    return forward(&IMediaSeeking::GetDuration, duration);
}

HRESULT UpstreamSeeking::GetStopPosition(LONGLONG* stop) {
    if (!stop)
        return E_POINTER;
    return forward(&IMediaSeeking::GetStopPosition, stop);
}

HRESULT UpstreamSeeking::GetCurrentPosition(LONGLONG* current) {
    if (!current)
        return E_POINTER;
    return forward(&IMediaSeeking::GetCurrentPosition, current);
}

HRESULT UpstreamSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                           LONGLONG source, const GUID* sourceFormat) {
    if (!target)
        return E_POINTER;
    return forward(&IMediaSeeking::ConvertTimeFormat, target, targetFormat, source, sourceFormat);
}

HRESULT UpstreamSeeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                      DWORD stopFlags) {
    return forward(&IMediaSeeking::SetPositions, current, currentFlags, stop, stopFlags);
}

HRESULT UpstreamSeeking::GetPositions(LONGLONG* current, LONGLONG* stop) {
    return forward(&IMediaSeeking::GetPositions, current, stop);
}

HRESULT UpstreamSeeking::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    return forward(&IMediaSeeking::GetAvailable, earliest, latest);
}

HRESULT UpstreamSeeking::SetRate(double rate) {
    return forward(&IMediaSeeking::SetRate, rate);
}

HRESULT UpstreamSeeking::GetRate(double* rate) {
    if (!rate)
        return E_POINTER;
    return forward(&IMediaSeeking::GetRate, rate);
}

HRESULT UpstreamSeeking::GetPreroll(LONGLONG* preroll) {
    if (!preroll)
        return E_POINTER;
    return forward(&IMediaSeeking::GetPreroll, preroll);
}

} // namespace sim
