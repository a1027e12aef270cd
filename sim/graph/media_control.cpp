// IMediaControl and IMediaFilter: the graph's state, driven through every
// filter, and its clock. A graph leaving the stopped state without a clock
// picks one first; IMediaControl's run from stopped passes through paused,
// IMediaFilter's does not, as in DirectShow. Also the graph's frame stepping.
#include "internal.h"

#include "../control_graph.h"

namespace sim {

namespace {

// The graph's own identity, as IPersist tells it.
const CLSID kFilterGraphClass = CLSID_FilterGraph;

} // namespace

REFERENCE_TIME FilterGraph::clockTime() const {
    REFERENCE_TIME now = clockNow();
    if (clock_)
        clock_->GetTime(&now);
    return now;
}

void FilterGraph::setClock(IReferenceClock* clock) {
    if (clock)
        clock->AddRef();
    if (clock_)
        clock_->Release();
    clock_ = clock;
    clockChosen_ = true;
    for (const Member& m : members_)
        m.filter->SetSyncSource(clock_);
    Notify(EC_CLOCK_CHANGED, 0, 0);
}

HRESULT FilterGraph::ensureClock() {
    if (clockChosen_)
        return S_OK;
    return SetDefaultSyncSource();
}

// The clock of the filter added first that has one, else the system clock.
HRESULT FilterGraph::SetDefaultSyncSource() {
    IReferenceClock* clock = nullptr;
    for (auto m = members_.rbegin(); m != members_.rend() && !clock; ++m)
        if (FAILED(
                m->filter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&clock))))
            clock = nullptr;
    if (!clock)
        clock = new GraphClock();
    setClock(clock);
    clock->Release();
    return S_OK;
}

HRESULT FilterGraph::SetSyncSource(IReferenceClock* clock) {
    setClock(clock);
    return S_OK;
}

HRESULT FilterGraph::GetSyncSource(IReferenceClock** clock) {
    if (!clock)
        return E_POINTER;
    *clock = clock_;
    if (!clock_)
        return S_FALSE;
    clock_->AddRef();
    return S_OK;
}

HRESULT FilterGraph::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = kFilterGraphClass;
    return S_OK;
}

HRESULT FilterGraph::changeState(FILTER_STATE target) {
    if (target == state_)
        return S_OK;
    if (state_ == State_Stopped)
        ensureClock();
    if (target == State_Running && state_ == State_Stopped) {
        HRESULT hr = changeState(State_Paused);
        if (FAILED(hr))
            return hr;
    }
    REFERENCE_TIME now = clockTime();
    REFERENCE_TIME previousStart = start_;
    HRESULT result = S_OK;
    switch (target) {
    case State_Paused:
        if (state_ == State_Running) {
            positionAt_ = completeSent_ ? stopPosition() : clockPosition();
            pausedAt_ = now - start_;
        } else {
            positionAt_ = filtersPosition();
        }
        for (const Member& m : members_) {
            HRESULT hr = m.filter->Pause();
            if (FAILED(hr) && SUCCEEDED(result))
                result = hr;
        }
        break;
    case State_Running:
        // Stream time carries on from where the graph was paused.
        result = runFilters(now - pausedAt_);
        break;
    case State_Stopped:
        for (const Member& m : members_) {
            HRESULT hr = m.filter->Stop();
            if (FAILED(hr) && SUCCEEDED(result))
                result = hr;
        }
        pausedAt_ = 0;
        completeSent_ = false;
        break;
    }
    if (FAILED(result)) {
        // Filters that made the change go back, so that every filter is in
        // the state the graph reports: one left paused in a stopped graph
        // could neither be disconnected nor leave.
        for (const Member& m : members_) {
            if (state_ == State_Stopped)
                m.filter->Stop();
            else if (state_ == State_Paused)
                m.filter->Pause();
            else
                m.filter->Run(previousStart);
        }
        start_ = previousStart;
        log("State change to %d failed (%08X)", static_cast<int>(target),
            static_cast<unsigned>(result));
        return result;
    }
    log("State %d -> %d", static_cast<int>(state_), static_cast<int>(target));
    state_ = target;
    return S_OK;
}

HRESULT FilterGraph::runFilters(REFERENCE_TIME start) {
    // An end told before this run is old news (other events stay).
    for (auto e = events_.begin(); e != events_.end();)
        e = e->code == EC_COMPLETE ? events_.erase(e) : e + 1;
    if (state_ == State_Stopped)
        positionAt_ = filtersPosition();
    // The renderers whose end makes the graph's are the ones there now.
    renderers_.clear();
    for (const Member& m : members_)
        if (isRenderer(m.filter))
            renderers_.push_back(m.filter);
    rearmCompletion();
    start_ = start;
    streamAt_ = clockTime() - start_;
    // Renderers may tell of their end while they start (one with nothing
    // connected does at once).
    starting_ = true;
    HRESULT result = S_OK;
    for (const Member& m : members_) {
        HRESULT hr = m.filter->Run(start_);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    starting_ = false;
    return result;
}

void FilterGraph::rearmCompletion() {
    completeSent_ = false;
    completed_.clear();
}

bool FilterGraph::isRenderer(IBaseFilter* filter) const {
    IAMFilterMiscFlags* flags = nullptr;
    if (SUCCEEDED(
            filter->QueryInterface(IID_IAMFilterMiscFlags, reinterpret_cast<void**>(&flags))) &&
        flags) {
        bool renderer = (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) != 0;
        flags->Release();
        return renderer;
    }
    bool seeks = false;
    IMediaSeeking* seeking = nullptr;
    if (SUCCEEDED(filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))) &&
        seeking) {
        seeks = seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME) == S_OK;
        seeking->Release();
    }
    IMediaPosition* position = nullptr;
    if (!seeks &&
        SUCCEEDED(
            filter->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&position))) &&
        position) {
        seeks = true;
        position->Release();
    }
    if (!seeks)
        return false;
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)) || !pins)
        return true;
    bool output = false;
    IPin* pin = nullptr;
    while (!output && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION dir = PINDIR_INPUT;
        output = SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT;
        pin->Release();
    }
    pins->Release();
    return !output;
}

HRESULT FilterGraph::Run() {
    HRESULT armed;
    if (faultFires("FilterGraph::Run", &armed))
        return armed;
    return changeState(State_Running);
}

HRESULT FilterGraph::Pause() {
    HRESULT armed;
    if (faultFires("FilterGraph::Pause", &armed))
        return armed;
    return changeState(State_Paused);
}

HRESULT FilterGraph::Stop() {
    HRESULT armed;
    if (faultFires("FilterGraph::Stop", &armed))
        return armed;
    return changeState(State_Stopped);
}

HRESULT FilterGraph::StopWhenReady() {
    HRESULT armed;
    if (faultFires("FilterGraph::StopWhenReady", &armed))
        return armed;
    if (state_ == State_Stopped)
        return S_OK;
    // Cue every filter (paused) before stopping, so that the position the
    // renderers show is the one the application stopped at.
    HRESULT hr = changeState(State_Paused);
    if (FAILED(hr))
        return hr;
    return changeState(State_Stopped);
}

HRESULT FilterGraph::GetState(LONG, OAFilterState* state) {
    if (!state)
        return E_POINTER;
    *state = static_cast<OAFilterState>(state_);
    return S_OK;
}

// IMediaFilter's run goes straight to running, with stream time zero at
// `start` (now, when 0), as Windows does.
HRESULT FilterGraph::Run(REFERENCE_TIME start) {
    if (state_ == State_Running)
        return S_OK;
    ensureClock();
    REFERENCE_TIME previousStart = start_;
    HRESULT hr = runFilters(start ? start : clockTime() - pausedAt_);
    if (FAILED(hr)) {
        start_ = previousStart;
        for (const Member& m : members_)
            state_ == State_Stopped ? m.filter->Stop() : m.filter->Pause();
        return hr;
    }
    log("State %d -> %d", static_cast<int>(state_), static_cast<int>(State_Running));
    state_ = State_Running;
    return S_OK;
}

HRESULT FilterGraph::GetState(DWORD, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    *state = state_;
    return S_OK;
}

// No renderer of the world steps frames: the card's decoder plays whole
// streams only.
HRESULT FilterGraph::Step(DWORD, IUnknown*) {
    return VFW_E_FRAME_STEP_UNSUPPORTED;
}

HRESULT FilterGraph::CanStep(LONG, IUnknown*) {
    return S_FALSE;
}

HRESULT FilterGraph::CancelStep() {
    return S_OK;
}

HRESULT FilterGraph::RenderFile(BSTR file) {
    return renderFile(file);
}

HRESULT FilterGraph::AddSourceFilter(BSTR, IDispatch** unk) {
    if (unk)
        *unk = nullptr;
    return E_NOTIMPL;
}

HRESULT FilterGraph::get_FilterCollection(IDispatch** unk) {
    if (unk)
        *unk = nullptr;
    return E_NOTIMPL;
}

HRESULT FilterGraph::get_RegFilterCollection(IDispatch** unk) {
    if (unk)
        *unk = nullptr;
    return E_NOTIMPL;
}

} // namespace sim
