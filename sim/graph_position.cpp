// IMediaPosition and IMediaSeeking of the graph: forwarded to the renderers
// that expose them. Reads go to the first renderer, changes to every one. A
// graph without a renderer that seeks answers E_NOTIMPL.
#include "graph_internal.h"

namespace sim {

namespace {

template <class Method, class... Args>
HRESULT positionFirst(const FilterGraph* graph, Method method, Args... args) {
    return forwardToFirst<IMediaPosition>(graph, IID_IMediaPosition, E_NOTIMPL, method, args...);
}

template <class Method, class... Args>
HRESULT seekingFirst(const FilterGraph* graph, Method method, Args... args) {
    return forwardToFirst<IMediaSeeking>(graph, IID_IMediaSeeking, E_NOTIMPL, method, args...);
}

} // namespace

HRESULT FilterGraph::get_Duration(REFTIME* length) {
    HRESULT hr;
    if (graphFault("get_Duration", &hr))
        return hr;
    if (!length)
        return E_POINTER;
    return positionFirst(this, &IMediaPosition::get_Duration, length);
}

HRESULT FilterGraph::put_CurrentPosition(REFTIME time) {
    HRESULT hr;
    if (graphFault("put_CurrentPosition", &hr))
        return hr;
    hr = forwardToAll<IMediaPosition>(this, IID_IMediaPosition, E_NOTIMPL,
                                      &IMediaPosition::put_CurrentPosition, time);
    if (SUCCEEDED(hr))
        rearmCompletion();
    return hr;
}

HRESULT FilterGraph::get_CurrentPosition(REFTIME* time) {
    HRESULT hr;
    if (graphFault("get_CurrentPosition", &hr))
        return hr;
    if (!time)
        return E_POINTER;
    poll();
    return positionFirst(this, &IMediaPosition::get_CurrentPosition, time);
}

HRESULT FilterGraph::get_StopTime(REFTIME* time) {
    return positionFirst(this, &IMediaPosition::get_StopTime, time);
}

HRESULT FilterGraph::put_StopTime(REFTIME time) {
    return forwardToAll<IMediaPosition>(this, IID_IMediaPosition, E_NOTIMPL,
                                        &IMediaPosition::put_StopTime, time);
}

HRESULT FilterGraph::get_PrerollTime(REFTIME* time) {
    return positionFirst(this, &IMediaPosition::get_PrerollTime, time);
}

HRESULT FilterGraph::put_PrerollTime(REFTIME time) {
    return forwardToAll<IMediaPosition>(this, IID_IMediaPosition, E_NOTIMPL,
                                        &IMediaPosition::put_PrerollTime, time);
}

HRESULT FilterGraph::put_Rate(double rate) {
    HRESULT hr;
    if (graphFault("put_Rate", &hr))
        return hr;
    hr = forwardToAll<IMediaPosition>(this, IID_IMediaPosition, E_NOTIMPL,
                                      &IMediaPosition::put_Rate, rate);
    if (SUCCEEDED(hr))
        log("Rate %.3f", rate);
    return hr;
}

HRESULT FilterGraph::get_Rate(double* rate) {
    HRESULT hr;
    if (graphFault("get_Rate", &hr))
        return hr;
    if (!rate)
        return E_POINTER;
    return positionFirst(this, &IMediaPosition::get_Rate, rate);
}

HRESULT FilterGraph::CanSeekForward(LONG* canSeek) {
    return positionFirst(this, &IMediaPosition::CanSeekForward, canSeek);
}

HRESULT FilterGraph::CanSeekBackward(LONG* canSeek) {
    return positionFirst(this, &IMediaPosition::CanSeekBackward, canSeek);
}

// The graph can do what all of its seeking renderers can.
HRESULT FilterGraph::GetCapabilities(DWORD* capabilities) {
    HRESULT hr;
    if (graphFault("GetCapabilities", &hr))
        return hr;
    if (!capabilities)
        return E_POINTER;
    std::vector<IUnknown*> renderers = membersWith(IID_IMediaSeeking);
    if (renderers.empty()) {
        *capabilities = 0;
        return E_NOTIMPL;
    }
    DWORD common = ~0u;
    for (IUnknown* unknown : renderers) {
        DWORD own = 0;
        if (SUCCEEDED(static_cast<IMediaSeeking*>(unknown)->GetCapabilities(&own)))
            common &= own;
        else
            common = 0;
        unknown->Release();
    }
    *capabilities = common;
    return S_OK;
}

HRESULT FilterGraph::CheckCapabilities(DWORD* capabilities) {
    if (!capabilities)
        return E_POINTER;
    DWORD have = 0;
    HRESULT hr = GetCapabilities(&have);
    if (FAILED(hr))
        return hr;
    DWORD wanted = *capabilities;
    *capabilities = wanted & have;
    if (*capabilities == wanted)
        return S_OK;
    return *capabilities ? S_FALSE : E_FAIL;
}

HRESULT FilterGraph::IsFormatSupported(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT FilterGraph::QueryPreferredFormat(GUID* format) {
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT FilterGraph::GetTimeFormat(GUID* format) {
    return QueryPreferredFormat(format);
}

HRESULT FilterGraph::IsUsingTimeFormat(const GUID* format) {
    return IsFormatSupported(format);
}

HRESULT FilterGraph::SetTimeFormat(const GUID* format) {
    if (!format)
        return E_POINTER;
    if (state_ != State_Stopped)
        return VFW_E_WRONG_STATE;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT FilterGraph::GetDuration(LONGLONG* duration) {
    if (!duration)
        return E_POINTER;
    return seekingFirst(this, &IMediaSeeking::GetDuration, duration);
}

HRESULT FilterGraph::GetStopPosition(LONGLONG* stop) {
    if (!stop)
        return E_POINTER;
    return seekingFirst(this, &IMediaSeeking::GetStopPosition, stop);
}

HRESULT FilterGraph::GetCurrentPosition(LONGLONG* current) {
    if (!current)
        return E_POINTER;
    poll();
    return seekingFirst(this, &IMediaSeeking::GetCurrentPosition, current);
}

HRESULT FilterGraph::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                       const GUID* sourceFormat) {
    if (!target)
        return E_POINTER;
    bool targetOk = !targetFormat || *targetFormat == TIME_FORMAT_MEDIA_TIME;
    bool sourceOk = !sourceFormat || *sourceFormat == TIME_FORMAT_MEDIA_TIME;
    if (!targetOk || !sourceOk)
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}

HRESULT FilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                  DWORD stopFlags) {
    HRESULT hr = forwardToAll<IMediaSeeking>(this, IID_IMediaSeeking, E_NOTIMPL,
                                             &IMediaSeeking::SetPositions, current, currentFlags,
                                             stop, stopFlags);
    if (SUCCEEDED(hr) && (currentFlags & AM_SEEKING_PositioningBitsMask))
        rearmCompletion();
    return hr;
}

HRESULT FilterGraph::GetPositions(LONGLONG* current, LONGLONG* stop) {
    poll();
    return seekingFirst(this, &IMediaSeeking::GetPositions, current, stop);
}

HRESULT FilterGraph::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    return seekingFirst(this, &IMediaSeeking::GetAvailable, earliest, latest);
}

HRESULT FilterGraph::SetRate(double rate) {
    return forwardToAll<IMediaSeeking>(this, IID_IMediaSeeking, E_NOTIMPL, &IMediaSeeking::SetRate,
                                       rate);
}

HRESULT FilterGraph::GetRate(double* rate) {
    if (!rate)
        return E_POINTER;
    return seekingFirst(this, &IMediaSeeking::GetRate, rate);
}

HRESULT FilterGraph::GetPreroll(LONGLONG* preroll) {
    return seekingFirst(this, &IMediaSeeking::GetPreroll, preroll);
}

} // namespace sim
