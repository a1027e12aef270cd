// The seeking base and IMediaPosition over IMediaSeeking (see seeking.h).
#include "seeking.h"

namespace sim {

bool SeekingBase::fires(const char* method, HRESULT* hr) const {
    return faultClass_ && faultFires(faultPoint(faultClass_, method), hr);
}

LONGLONG SeekingBase::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    return start_;
}

double SeekingBase::rate() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rate_;
}

void SeekingBase::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    start_ = 0;
    stop_ = -1;
    rate_ = 1.0;
}

HRESULT SeekingBase::positionHook(LONGLONG* current) {
    *current = start();
    return S_OK;
}

HRESULT SeekingBase::GetCapabilities(DWORD* capabilities) {
    if (!capabilities)
        return E_POINTER;
    HRESULT hr;
    if (fires("GetCapabilities", &hr))
        return hr;
    *capabilities = capabilities_;
    return S_OK;
}

HRESULT SeekingBase::CheckCapabilities(DWORD* capabilities) {
    if (!capabilities)
        return E_POINTER;
    DWORD have = 0;
    HRESULT hr = GetCapabilities(&have);
    if (FAILED(hr))
        return hr;
    DWORD wanted = *capabilities;
    *capabilities &= have;
    if (*capabilities == wanted)
        return S_OK;
    return *capabilities ? S_FALSE : E_FAIL;
}

HRESULT SeekingBase::IsFormatSupported(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT SeekingBase::QueryPreferredFormat(GUID* format) {
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT SeekingBase::GetTimeFormat(GUID* format) {
    return QueryPreferredFormat(format);
}

HRESULT SeekingBase::IsUsingTimeFormat(const GUID* format) {
    return IsFormatSupported(format);
}

HRESULT SeekingBase::SetTimeFormat(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT SeekingBase::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                       const GUID* sourceFormat) {
    if (!target)
        return E_POINTER;
    if ((targetFormat && *targetFormat != TIME_FORMAT_MEDIA_TIME) ||
        (sourceFormat && *sourceFormat != TIME_FORMAT_MEDIA_TIME))
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}

HRESULT SeekingBase::GetDuration(LONGLONG* duration) {
    if (!duration)
        return E_POINTER;
    HRESULT hr;
    if (fires("GetDuration", &hr))
        return hr;
    return durationHook(duration);
}

HRESULT SeekingBase::GetStopPosition(LONGLONG* stop) {
    if (!stop)
        return E_POINTER;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_ >= 0) {
            *stop = stop_;
            return S_OK;
        }
    }
    return GetDuration(stop);
}

HRESULT SeekingBase::GetCurrentPosition(LONGLONG* current) {
    if (!current)
        return E_POINTER;
    HRESULT hr;
    if (fires("GetCurrentPosition", &hr))
        return hr;
    return positionHook(current);
}

// Relative positions count from where the stream is now (the start) or
// from the stop that was set; incremental stops from the new start.
HRESULT SeekingBase::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                  DWORD stopFlags) {
    DWORD how = currentFlags & AM_SEEKING_PositioningBitsMask;
    DWORD stopHow = stopFlags & AM_SEEKING_PositioningBitsMask;
    if ((how != AM_SEEKING_NoPositioning && !current) ||
        (stopHow != AM_SEEKING_NoPositioning && !stop))
        return E_POINTER;
    if (how == AM_SEEKING_NoPositioning && stopHow == AM_SEEKING_NoPositioning)
        return S_OK;
    HRESULT hr;
    if (fires("SetPositions", &hr))
        return hr;
    LONGLONG newStart = 0;
    if (how != AM_SEEKING_NoPositioning) {
        newStart = *current;
        if (how != AM_SEEKING_AbsolutePositioning) {
            LONGLONG now = 0;
            hr = positionHook(&now);
            if (FAILED(hr))
                return hr;
            newStart += now;
        }
        hr = seekHook(&newStart);
        if (FAILED(hr))
            return hr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (how != AM_SEEKING_NoPositioning)
        start_ = newStart;
    if (stopHow == AM_SEEKING_AbsolutePositioning)
        stop_ = *stop;
    else if (stopHow == AM_SEEKING_RelativePositioning)
        stop_ = (stop_ < 0 ? 0 : stop_) + *stop;
    else if (stopHow == AM_SEEKING_IncrementalPositioning)
        stop_ = start_ + *stop;
    if (current && (currentFlags & AM_SEEKING_ReturnTime))
        *current = start_;
    if (stop && (stopFlags & AM_SEEKING_ReturnTime) && stop_ >= 0)
        *stop = stop_;
    return S_OK;
}

HRESULT SeekingBase::GetPositions(LONGLONG* current, LONGLONG* stop) {
    if (current) {
        HRESULT hr = GetCurrentPosition(current);
        if (FAILED(hr))
            return hr;
    }
    return stop ? GetStopPosition(stop) : S_OK;
}

HRESULT SeekingBase::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    if (earliest)
        *earliest = 0;
    return latest ? GetDuration(latest) : S_OK;
}

HRESULT SeekingBase::SetRate(double rate) {
    HRESULT hr;
    if (fires("SetRate", &hr))
        return hr;
    if (!(rate > 0.0))
        return E_INVALIDARG;
    hr = rateHook(rate);
    if (FAILED(hr))
        return hr;
    std::lock_guard<std::mutex> lock(mutex_);
    rate_ = rate;
    return S_OK;
}

HRESULT SeekingBase::GetRate(double* rate) {
    if (!rate)
        return E_POINTER;
    *rate = this->rate();
    return S_OK;
}

HRESULT SeekingBase::GetPreroll(LONGLONG* preroll) {
    if (!preroll)
        return E_POINTER;
    *preroll = 0;
    return S_OK;
}

// ---- IMediaPosition over IMediaSeeking ------------------------------------------

bool PositionOverSeeking::fires(const char* method, HRESULT* hr) const {
    return faultClass_ && faultFires(faultPoint(faultClass_, method), hr);
}

HRESULT PositionOverSeeking::seconds(HRESULT (STDMETHODCALLTYPE IMediaSeeking::*read)(LONGLONG*),
                                     REFTIME* out) {
    if (!out)
        return E_POINTER;
    LONGLONG units = 0;
    HRESULT hr = (seeking_->*read)(&units);
    if (SUCCEEDED(hr))
        *out = secondsFromUnits(units);
    return hr;
}

HRESULT PositionOverSeeking::get_Duration(REFTIME* length) {
    HRESULT hr;
    if (fires("get_Duration", &hr))
        return hr;
    return seconds(&IMediaSeeking::GetDuration, length);
}

HRESULT PositionOverSeeking::put_CurrentPosition(REFTIME time) {
    HRESULT hr;
    if (fires("put_CurrentPosition", &hr))
        return hr;
    LONGLONG current = unitsFromSeconds(time);
    return seeking_->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                                  AM_SEEKING_NoPositioning);
}

HRESULT PositionOverSeeking::get_CurrentPosition(REFTIME* time) {
    HRESULT hr;
    if (fires("get_CurrentPosition", &hr))
        return hr;
    return seconds(&IMediaSeeking::GetCurrentPosition, time);
}

HRESULT PositionOverSeeking::get_StopTime(REFTIME* time) {
    return seconds(&IMediaSeeking::GetStopPosition, time);
}

HRESULT PositionOverSeeking::put_StopTime(REFTIME time) {
    LONGLONG stop = unitsFromSeconds(time);
    return seeking_->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop,
                                  AM_SEEKING_AbsolutePositioning);
}

HRESULT PositionOverSeeking::get_PrerollTime(REFTIME* time) {
    return seconds(&IMediaSeeking::GetPreroll, time);
}

// IMediaSeeking has no preroll to set.
HRESULT PositionOverSeeking::put_PrerollTime(REFTIME) {
    return E_NOTIMPL;
}

HRESULT PositionOverSeeking::put_Rate(double rate) {
    HRESULT hr;
    if (fires("put_Rate", &hr))
        return hr;
    return seeking_->SetRate(rate);
}

HRESULT PositionOverSeeking::get_Rate(double* rate) {
    HRESULT hr;
    if (fires("get_Rate", &hr))
        return hr;
    return seeking_->GetRate(rate);
}

HRESULT PositionOverSeeking::can(DWORD capability, LONG* answer) {
    if (!answer)
        return E_POINTER;
    DWORD caps = capability;
    *answer = seeking_->CheckCapabilities(&caps) == S_OK ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT PositionOverSeeking::CanSeekForward(LONG* canSeek) {
    return can(AM_SEEKING_CanSeekForwards, canSeek);
}

HRESULT PositionOverSeeking::CanSeekBackward(LONG* canSeek) {
    return can(AM_SEEKING_CanSeekBackwards, canSeek);
}

} // namespace sim
