// The decoder's renderer side: clock, rate, position, duration and the end
// of the stream (see card_decoder_playback.h). Nothing runs on a thread: the
// position is worked out from the clock when asked, and the end is noticed
// when the graph polls (ISimTimedRenderer). A stream still being written has
// no end yet: the position stops at what has been written, and EC_COMPLETE
// waits until the file is complete.
#include "card_decoder_playback.h"
#include "control_graph.h"
#include "graph_clock.h"
#include "graph_manager.h"
#include "media_stream.h"

#include <cmath>
#include <mutex>

namespace sim {

namespace {

const double kMaxRate = 8.0;
const DWORD kCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                            AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                            AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

LONGLONG toUnits(double seconds) {
    return static_cast<LONGLONG>(std::llround(seconds * kUnitsPerSecond));
}

HRESULT faultAt(const char* method) {
    return decoderFault(method);
}

} // namespace

DecoderPlayback::DecoderPlayback(BaseFilter* filter) : filter_(filter), picture_(filter) {}

void* DecoderPlayback::extraInterface(REFIID riid) {
    if (riid == IID_IMediaPosition)
        return static_cast<IMediaPosition*>(this);
    if (riid == IID_IMediaSeeking)
        return static_cast<IMediaSeeking*>(this);
    if (riid == IID_IBasicAudio)
        return static_cast<IBasicAudio*>(&picture_);
    if (riid == IID_IBasicVideo)
        return static_cast<IBasicVideo*>(&picture_);
    if (riid == IID_IBasicVideo2)
        return static_cast<IBasicVideo2*>(&picture_);
    if (riid == IID_IAMFilterMiscFlags)
        return static_cast<IAMFilterMiscFlags*>(this);
    if (riid == IID_ISimTimedRenderer)
        return static_cast<ISimTimedRenderer*>(this);
    return nullptr;
}

HRESULT DecoderPlayback::onPause() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (filter_->state() == State_Running)
        position_ = position();
    return S_OK;
}

HRESULT DecoderPlayback::onRun(REFERENCE_TIME) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    rebase(position_);
    return S_OK;
}

HRESULT DecoderPlayback::onStop() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (filter_->state() == State_Running)
        position_ = position();
    return S_OK;
}

void DecoderPlayback::onConnected(BasePin* pin) {
    if (pin->index() == kDecoderVideoIn) {
        picture_.resetToStream();
    }
}

void DecoderPlayback::onDisconnected(BasePin* pin) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (pin->index() != kDecoderOverlayOut) {
        position_ = 0;
        posted_ = false;
    }
}

HRESULT DecoderPlayback::QueryInterface(REFIID riid, void** ppv) {
    return filter_->QueryInterface(riid, ppv);
}

ULONG DecoderPlayback::AddRef() {
    return filter_->addRef();
}

ULONG DecoderPlayback::Release() {
    return filter_->release();
}

ULONG DecoderPlayback::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_RENDERER;
}

void DecoderPlayback::Poll() {
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (filter_->state() != State_Running || posted_)
            return;
        MediaInfo info;
        if (FAILED(streamInfo(&info)) || info.growing)
            return;
        if (position() < info.duration())
            return;
        posted_ = true;
    }
    // Told outside the lock: the graph may be calling in from another
    // thread with its own lock held.
    IFilterGraph* graph = filter_->graph();
    IMediaEventSink* sink = nullptr;
    if (graph &&
        SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) &&
        sink) {
        sink->Notify(EC_COMPLETE, S_OK,
                     reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter_)));
        sink->Release();
    }
}

HRESULT DecoderPlayback::get_Duration(REFTIME* length) {
    if (!length)
        return E_POINTER;
    HRESULT hr = faultAt("get_Duration");
    if (FAILED(hr))
        return hr;
    MediaInfo info;
    hr = streamInfo(&info);
    if (FAILED(hr))
        return hr;
    *length = info.duration();
    return S_OK;
}

HRESULT DecoderPlayback::put_CurrentPosition(REFTIME time) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    HRESULT hr = faultAt("put_CurrentPosition");
    if (FAILED(hr))
        return hr;
    MediaInfo info;
    hr = streamInfo(&info);
    if (FAILED(hr))
        return hr;
    if (!(time > 0.0))
        time = 0.0;
    if (time > info.duration())
        time = info.duration();
    rebase(time);
    posted_ = false;
    record();
    return S_OK;
}

HRESULT DecoderPlayback::get_CurrentPosition(REFTIME* time) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!time)
        return E_POINTER;
    HRESULT hr = faultAt("get_CurrentPosition");
    if (FAILED(hr))
        return hr;
    *time = position();
    return S_OK;
}

HRESULT DecoderPlayback::get_StopTime(REFTIME* time) {
    return get_Duration(time);
}

HRESULT DecoderPlayback::put_StopTime(REFTIME) {
    return E_NOTIMPL;
}

HRESULT DecoderPlayback::get_PrerollTime(REFTIME* time) {
    if (!time)
        return E_POINTER;
    *time = 0.0;
    return S_OK;
}

HRESULT DecoderPlayback::put_PrerollTime(REFTIME) {
    return E_NOTIMPL;
}

HRESULT DecoderPlayback::put_Rate(double rate) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    HRESULT hr = faultAt("put_Rate");
    if (FAILED(hr))
        return hr;
    // The card plays forwards only, and not faster than its fast scan.
    if (!(rate > 0.0) || rate > kMaxRate)
        return E_INVALIDARG;
    rebase(position());
    rate_ = rate;
    record();
    return S_OK;
}

HRESULT DecoderPlayback::get_Rate(double* rate) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!rate)
        return E_POINTER;
    HRESULT hr = faultAt("get_Rate");
    if (FAILED(hr))
        return hr;
    *rate = rate_;
    return S_OK;
}

HRESULT DecoderPlayback::CanSeekForward(LONG* canSeek) {
    if (!canSeek)
        return E_POINTER;
    *canSeek = OATRUE;
    return S_OK;
}

HRESULT DecoderPlayback::CanSeekBackward(LONG* canSeek) {
    return CanSeekForward(canSeek);
}

HRESULT DecoderPlayback::GetCapabilities(DWORD* capabilities) {
    if (!capabilities)
        return E_POINTER;
    HRESULT hr = faultAt("GetCapabilities");
    if (FAILED(hr))
        return hr;
    *capabilities = kCapabilities;
    return S_OK;
}

HRESULT DecoderPlayback::CheckCapabilities(DWORD* capabilities) {
    if (!capabilities)
        return E_POINTER;
    DWORD wanted = *capabilities;
    *capabilities &= kCapabilities;
    if (*capabilities == wanted)
        return S_OK;
    return *capabilities ? S_FALSE : E_FAIL;
}

HRESULT DecoderPlayback::IsFormatSupported(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT DecoderPlayback::QueryPreferredFormat(GUID* format) {
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT DecoderPlayback::GetTimeFormat(GUID* format) {
    return QueryPreferredFormat(format);
}

HRESULT DecoderPlayback::IsUsingTimeFormat(const GUID* format) {
    return IsFormatSupported(format);
}

HRESULT DecoderPlayback::SetTimeFormat(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT DecoderPlayback::GetDuration(LONGLONG* duration) {
    if (!duration)
        return E_POINTER;
    REFTIME seconds = 0;
    HRESULT hr = get_Duration(&seconds);
    *duration = toUnits(seconds);
    return hr;
}

HRESULT DecoderPlayback::GetStopPosition(LONGLONG* stop) {
    return GetDuration(stop);
}

HRESULT DecoderPlayback::GetCurrentPosition(LONGLONG* current) {
    if (!current)
        return E_POINTER;
    REFTIME seconds = 0;
    HRESULT hr = get_CurrentPosition(&seconds);
    *current = toUnits(seconds);
    return hr;
}

HRESULT DecoderPlayback::GetPositions(LONGLONG* current, LONGLONG* stop) {
    if (current) {
        HRESULT hr = GetCurrentPosition(current);
        if (FAILED(hr))
            return hr;
    }
    return stop ? GetStopPosition(stop) : S_OK;
}

HRESULT DecoderPlayback::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    if (earliest)
        *earliest = 0;
    return latest ? GetDuration(latest) : S_OK;
}

HRESULT DecoderPlayback::SetRate(double rate) {
    return put_Rate(rate);
}

HRESULT DecoderPlayback::GetRate(double* rate) {
    return get_Rate(rate);
}

HRESULT DecoderPlayback::GetPreroll(LONGLONG* preroll) {
    if (!preroll)
        return E_POINTER;
    *preroll = 0;
    return S_OK;
}

HRESULT DecoderPlayback::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                           LONGLONG source, const GUID* sourceFormat) {
    if (!target)
        return E_POINTER;
    if ((targetFormat && *targetFormat != TIME_FORMAT_MEDIA_TIME) ||
        (sourceFormat && *sourceFormat != TIME_FORMAT_MEDIA_TIME))
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}

HRESULT DecoderPlayback::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG*, DWORD) {
    DWORD how = currentFlags & AM_SEEKING_PositioningBitsMask;
    if (how == AM_SEEKING_NoPositioning)
        return S_OK;
    if (!current)
        return E_POINTER;
    double seconds = static_cast<double>(*current) / kUnitsPerSecond;
    if (how == AM_SEEKING_RelativePositioning)
        seconds += position();
    else if (how != AM_SEEKING_AbsolutePositioning)
        return E_INVALIDARG;
    return put_CurrentPosition(seconds);
}

REFERENCE_TIME DecoderPlayback::now() const {
    REFERENCE_TIME t = clockNow();
    if (IReferenceClock* clock = filter_->clock())
        clock->GetTime(&t);
    return t;
}

void DecoderPlayback::rebase(double position) {
    position_ = position;
    base_ = now();
}

HRESULT DecoderPlayback::streamInfo(MediaInfo* info) const {
    return decoderStreamInfo(filter_, info);
}

// Seconds into the stream: frozen unless running, then moving with the
// clock at the rate, and never past what the stream holds. Playback that
// reaches the end of what has been written waits there: the position is
// fixed at that point, so that it moves on from it once the file grows.
double DecoderPlayback::position() {
    double p = position_;
    REFERENCE_TIME t = now();
    bool running = filter_->state() == State_Running;
    if (running)
        p += static_cast<double>(t - base_) / kUnitsPerSecond * rate_;
    MediaInfo info;
    if (SUCCEEDED(streamInfo(&info)) && p > info.duration()) {
        p = info.duration();
        if (running) {
            position_ = p;
            base_ = t;
        }
    }
    return p < 0 ? 0 : p;
}

void DecoderPlayback::record() const {
    recordPlayback(rate_, position_);
}

} // namespace sim
