// IMediaSeeking of the graph (its IMediaPosition is PositionOverSeeking). The graph keeps its time
// format and its rate itself; the rest goes to the members that seek in
// media time, newest first, and their answers are combined as Windows
// combines them: durations and stop positions are the longest, capabilities
// those all share, a failure other than E_NOTIMPL is passed on, and
// E_NOTIMPL only when no member did better. Without such a member the graph
// answers for itself, as an empty graph does on Windows.
//
// The current position is the graph's own while it runs on a clock (see
// GetCurrentPosition).
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

// ---- IMediaSeeking --------------------------------------------------------------

// What every seeking member can do; nothing for a graph without one.
HRESULT FilterGraph::GetCapabilities(DWORD* capabilities) {
    HRESULT hr;
    if (faultFires("FilterGraph::GetCapabilities", &hr))
        return hr;
    if (!capabilities)
        return E_POINTER;
    std::vector<IMediaSeeking*> members = seekers();
    DWORD common = members.empty() ? 0 : ~0u;
    for (IMediaSeeking* s : members) {
        DWORD own = 0;
        HRESULT own_hr = s->GetCapabilities(&own);
        if (own_hr != E_NOTIMPL) // a member with nothing to say leaves the rest
            common &= SUCCEEDED(own_hr) ? own : 0;
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

// While the graph plays on a clock, its position is worked out from the
// clock and no filter is asked; once every renderer has told of its end it
// is the stop position exactly. Stopped, or without a clock, the filters
// say.
HRESULT FilterGraph::GetCurrentPosition(LONGLONG* current) {
    if (!current)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    if (!clock_ || state_ == State_Stopped)
        *current = filtersPosition();
    else if (completeSent())
        *current = stopPosition();
    else if (state_ == State_Running && !runPending_)
        *current = clockPosition();
    else
        *current = positionAt_;
    return S_OK;
}

LONGLONG FilterGraph::clockPosition() const {
    REFERENCE_TIME stream = clockTime() - start_;
    return positionAt_ + static_cast<LONGLONG>(static_cast<double>(stream - streamAt_) * rate_);
}

LONGLONG FilterGraph::filtersPosition() {
    std::vector<IMediaSeeking*> members = seekers();
    LONGLONG position = 0;
    bool found = false;
    for (IMediaSeeking* s : members)
        found = found || SUCCEEDED(s->GetCurrentPosition(&position));
    releaseAll(members);
    return found ? position : 0;
}

LONGLONG FilterGraph::stopPosition() {
    LONGLONG stop = 0;
    if (SUCCEEDED(GetStopPosition(&stop)))
        lastStop_ = stop;
    return lastStop_;
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
//
// A running graph is paused for the seek and runs again from where it went,
// as on Windows: no filter is running while it is told to seek. A run still
// waiting for the renderers' data is not paused: its filters are.
HRESULT FilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                  DWORD stopFlags) {
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    bool running = state_ == State_Running && !runPending_;
    if (running && (currentFlags & AM_SEEKING_PositioningBitsMask))
        changeState(State_Paused);
    else
        running = false;
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
    if (SUCCEEDED(result) && (currentFlags & AM_SEEKING_PositioningBitsMask)) {
        rearmCompletion();
        positionAt_ = filtersPosition();
    }
    if (running)
        changeState(State_Running);
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
// graph without members keeps the normal rate and takes no other. A running
// graph is paused for the change and runs again from where it stood. A new
// rate while the graph is not stopped also repositions the members where
// the graph stands, as Windows's graph manager does: the splitter starts a
// new segment there, stamped for the new rate, which an audio renderer
// plays by (a clip that has ended stays where it is).
HRESULT FilterGraph::SetRate(double rate) {
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    bool running = state_ == State_Running && !runPending_;
    if (running)
        changeState(State_Paused);
    std::vector<IMediaSeeking*> members = seekers();
    HRESULT result = members.empty() && rate == rate_ ? S_OK : E_NOTIMPL;
    for (IMediaSeeking* s : members)
        combine(&result, s->SetRate(rate));
    releaseAll(members);
    bool changed = SUCCEEDED(result) && rate != rate_;
    if (changed) {
        rate_ = rate;
        log("Rate %.3f", rate);
    }
    if (changed && state_ != State_Stopped && !completeSent()) {
        LONGLONG here = positionAt_;
        SetPositions(&here, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    }
    if (running)
        changeState(State_Running);
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
