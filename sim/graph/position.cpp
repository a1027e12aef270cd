// IMediaSeeking and IMediaPosition of the graph. The graph keeps its time
// format and its rate itself; the rest goes to the members that seek in
// media time, newest first, and their answers are combined as Windows
// combines them: durations and stop positions are the longest, capabilities
// those all share, a failure other than E_NOTIMPL is passed on, and
// E_NOTIMPL only when no member did better. Without such a member the graph
// answers for itself, as an empty graph does on Windows.
//
// The current position is the one deliberate difference: Windows works it
// out from the graph's clock and asks no filter while it has a clock. Here
// it comes from the seeking member, because the card's decoder holds it at
// the end of what a file still being written holds, which the clock alone
// cannot know.
#include "internal.h"

namespace sim {

namespace {

// Folds one member's answer into the graph's (start with E_NOTIMPL).
void combine(HRESULT* result, HRESULT hr) {
    if (hr == E_NOTIMPL || (FAILED(*result) && *result != E_NOTIMPL))
        return;
    *result = SUCCEEDED(hr) ? S_OK : hr;
}

void releaseAll(std::vector<IMediaSeeking*>& seekers) {
    for (IMediaSeeking* s : seekers)
        s->Release();
    seekers.clear();
}

// The longest of the members' answers to `method`.
HRESULT longest(std::vector<IMediaSeeking*> seekers,
                HRESULT (STDMETHODCALLTYPE IMediaSeeking::*method)(LONGLONG*), LONGLONG* out) {
    HRESULT result = E_NOTIMPL;
    LONGLONG best = 0;
    for (IMediaSeeking* s : seekers) {
        LONGLONG value = 0;
        HRESULT hr = (s->*method)(&value);
        if (SUCCEEDED(hr) && value > best)
            best = value;
        combine(&result, hr);
    }
    releaseAll(seekers);
    if (SUCCEEDED(result))
        *out = best;
    return result;
}

} // namespace

std::vector<IMediaSeeking*> FilterGraph::seekers() const {
    std::vector<IMediaSeeking*> out;
    for (IUnknown* unknown : membersWith(IID_IMediaSeeking)) {
        auto* seeking = static_cast<IMediaSeeking*>(unknown);
        if (seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME) == S_OK)
            out.push_back(seeking);
        else
            seeking->Release();
    }
    return out;
}

// ---- IMediaPosition: seconds over IMediaSeeking ------------------------------

namespace {

const double kUnits = 10000000.0;

LONGLONG units(REFTIME seconds) {
    return static_cast<LONGLONG>(seconds * kUnits + (seconds < 0 ? -0.5 : 0.5));
}

} // namespace

HRESULT FilterGraph::get_Duration(REFTIME* length) {
    HRESULT hr;
    if (graphFault("get_Duration", &hr))
        return hr;
    if (!length)
        return E_POINTER;
    LONGLONG duration = 0;
    hr = GetDuration(&duration);
    if (SUCCEEDED(hr))
        *length = static_cast<double>(duration) / kUnits;
    return hr;
}

HRESULT FilterGraph::put_CurrentPosition(REFTIME time) {
    HRESULT hr;
    if (graphFault("put_CurrentPosition", &hr))
        return hr;
    LONGLONG current = units(time);
    return SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                        AM_SEEKING_NoPositioning);
}

HRESULT FilterGraph::get_CurrentPosition(REFTIME* time) {
    HRESULT hr;
    if (graphFault("get_CurrentPosition", &hr))
        return hr;
    if (!time)
        return E_POINTER;
    LONGLONG current = 0;
    hr = GetCurrentPosition(&current);
    if (SUCCEEDED(hr))
        *time = static_cast<double>(current) / kUnits;
    return hr;
}

HRESULT FilterGraph::get_StopTime(REFTIME* time) {
    if (!time)
        return E_POINTER;
    LONGLONG stop = 0;
    HRESULT hr = GetStopPosition(&stop);
    if (SUCCEEDED(hr))
        *time = static_cast<double>(stop) / kUnits;
    return hr;
}

HRESULT FilterGraph::put_StopTime(REFTIME time) {
    LONGLONG stop = units(time);
    return SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning);
}

// The graph has no preroll of its own to tell or take.
HRESULT FilterGraph::get_PrerollTime(REFTIME* time) {
    if (!time)
        return E_POINTER;
    return E_NOTIMPL;
}

HRESULT FilterGraph::put_PrerollTime(REFTIME) {
    return E_NOTIMPL;
}

HRESULT FilterGraph::put_Rate(double rate) {
    HRESULT hr;
    if (graphFault("put_Rate", &hr))
        return hr;
    return SetRate(rate);
}

HRESULT FilterGraph::get_Rate(double* rate) {
    HRESULT hr;
    if (graphFault("get_Rate", &hr))
        return hr;
    return GetRate(rate);
}

HRESULT FilterGraph::CanSeekForward(LONG* canSeek) {
    if (!canSeek)
        return E_POINTER;
    DWORD caps = AM_SEEKING_CanSeekForwards;
    HRESULT hr = CheckCapabilities(&caps);
    *canSeek = hr == S_OK ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT FilterGraph::CanSeekBackward(LONG* canSeek) {
    if (!canSeek)
        return E_POINTER;
    DWORD caps = AM_SEEKING_CanSeekBackwards;
    HRESULT hr = CheckCapabilities(&caps);
    *canSeek = hr == S_OK ? OATRUE : OAFALSE;
    return S_OK;
}

// ---- IMediaSeeking --------------------------------------------------------------

// What every seeking member can do; nothing for a graph without one.
HRESULT FilterGraph::GetCapabilities(DWORD* capabilities) {
    HRESULT hr;
    if (graphFault("GetCapabilities", &hr))
        return hr;
    if (!capabilities)
        return E_POINTER;
    std::vector<IMediaSeeking*> members = seekers();
    DWORD common = members.empty() ? 0 : ~0u;
    for (IMediaSeeking* s : members) {
        DWORD own = 0;
        common &= SUCCEEDED(s->GetCapabilities(&own)) ? own : 0;
    }
    releaseAll(members);
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
    if (*capabilities == 0)
        return E_FAIL;
    return *capabilities == wanted ? S_OK : S_FALSE;
}

HRESULT FilterGraph::IsFormatSupported(const GUID* format) {
    std::vector<IMediaSeeking*> members = seekers();
    if (members.empty())
        return E_NOTIMPL;
    HRESULT hr = S_FALSE;
    if (!format)
        hr = E_POINTER;
    for (IMediaSeeking* s : members)
        if (format && s->IsFormatSupported(format) == S_OK)
            hr = S_OK;
    releaseAll(members);
    return hr;
}

// Media time, whatever the members prefer.
HRESULT FilterGraph::QueryPreferredFormat(GUID* format) {
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT FilterGraph::GetTimeFormat(GUID* format) {
    if (!format)
        return E_POINTER;
    *format = timeFormat_;
    return S_OK;
}

HRESULT FilterGraph::IsUsingTimeFormat(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == timeFormat_ ? S_OK : S_FALSE;
}

// Media time (or none, which means media time) always; another format only
// when a member takes it, and never while the graph plays.
HRESULT FilterGraph::SetTimeFormat(const GUID* format) {
    if (!format)
        return E_POINTER;
    if (*format == TIME_FORMAT_MEDIA_TIME || *format == TIME_FORMAT_NONE) {
        timeFormat_ = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    std::vector<IMediaSeeking*> members = seekers();
    HRESULT hr = members.empty() ? E_NOTIMPL : E_FAIL;
    if (!members.empty() && state_ != State_Stopped)
        hr = VFW_E_WRONG_STATE;
    for (IMediaSeeking* s : members) {
        if (hr == E_FAIL && s->SetTimeFormat(format) == S_OK) {
            timeFormat_ = *format;
            hr = S_OK;
        }
    }
    releaseAll(members);
    return hr;
}

HRESULT FilterGraph::GetDuration(LONGLONG* duration) {
    if (!duration)
        return E_POINTER;
    return longest(seekers(), &IMediaSeeking::GetDuration, duration);
}

HRESULT FilterGraph::GetStopPosition(LONGLONG* stop) {
    if (!stop)
        return E_POINTER;
    return longest(seekers(), &IMediaSeeking::GetStopPosition, stop);
}

// See the top of the file: from the seeking member; without one, the
// graph's own stream time at its rate (none without a clock).
HRESULT FilterGraph::GetCurrentPosition(LONGLONG* current) {
    if (!current)
        return E_POINTER;
    poll();
    std::vector<IMediaSeeking*> members = seekers();
    if (members.empty()) {
        REFERENCE_TIME stream = state_ == State_Running  ? clockTime() - start_
                                : state_ == State_Paused ? pausedAt_
                                                         : 0;
        *current = clock_ ? static_cast<LONGLONG>(static_cast<double>(stream) * rate_) : 0;
        return S_OK;
    }
    HRESULT hr = members.front()->GetCurrentPosition(current);
    releaseAll(members);
    return hr;
}

// Only a conversion to the same format (null is the one in use) is known.
HRESULT FilterGraph::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                       const GUID* sourceFormat) {
    if (!target)
        return E_POINTER;
    GUID to = targetFormat ? *targetFormat : timeFormat_;
    GUID from = sourceFormat ? *sourceFormat : timeFormat_;
    if (to != from)
        return E_NOTIMPL;
    *target = source;
    return S_OK;
}

// Every member is asked with the caller's positions. Without ReturnTime a
// member's write-back stays with the graph; with it, the caller's variable
// travels from member to member and ends with the last one's answer.
HRESULT FilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                  DWORD stopFlags) {
    std::vector<IMediaSeeking*> members = seekers();
    HRESULT result = E_NOTIMPL;
    for (IMediaSeeking* s : members) {
        LONGLONG currentCopy = current ? *current : 0;
        LONGLONG stopCopy = stop ? *stop : 0;
        LONGLONG* c = current && !(currentFlags & AM_SEEKING_ReturnTime) ? &currentCopy : current;
        LONGLONG* t = stop && !(stopFlags & AM_SEEKING_ReturnTime) ? &stopCopy : stop;
        combine(&result, s->SetPositions(c, currentFlags, t, stopFlags));
    }
    releaseAll(members);
    if (SUCCEEDED(result) && (currentFlags & AM_SEEKING_PositioningBitsMask))
        rearmCompletion();
    return result;
}

HRESULT FilterGraph::GetPositions(LONGLONG* current, LONGLONG* stop) {
    HRESULT hr = S_OK;
    if (current)
        hr = GetCurrentPosition(current);
    if (SUCCEEDED(hr) && stop)
        hr = GetStopPosition(stop);
    return hr;
}

HRESULT FilterGraph::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    return forwardToFirst<IMediaSeeking>(this, IID_IMediaSeeking, E_NOTIMPL,
                                         &IMediaSeeking::GetAvailable, earliest, latest);
}

// The rate goes to every member; the graph keeps the one they took. A
// graph without members keeps the normal rate and takes no other.
HRESULT FilterGraph::SetRate(double rate) {
    std::vector<IMediaSeeking*> members = seekers();
    HRESULT result = members.empty() && rate == rate_ ? S_OK : E_NOTIMPL;
    for (IMediaSeeking* s : members)
        combine(&result, s->SetRate(rate));
    releaseAll(members);
    if (SUCCEEDED(result) && rate != rate_) {
        rate_ = rate;
        log("Rate %.3f", rate);
    }
    return result;
}

HRESULT FilterGraph::GetRate(double* rate) {
    if (!rate)
        return E_POINTER;
    *rate = rate_;
    return S_OK;
}

HRESULT FilterGraph::GetPreroll(LONGLONG* preroll) {
    return forwardToFirst<IMediaSeeking>(this, IID_IMediaSeeking, E_NOTIMPL,
                                         &IMediaSeeking::GetPreroll, preroll);
}

} // namespace sim
