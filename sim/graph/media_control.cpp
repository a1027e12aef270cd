// IMediaControl and IMediaFilter: the graph's state, driven through every
// filter, and its clock. A graph leaving the stopped state without a clock
// picks one first; IMediaControl's run from stopped passes through paused,
// IMediaFilter's does not, as in DirectShow. A pause a renderer cannot
// complete yet (it has no data) answers S_FALSE; a run from there waits for
// it on a thread of the graph's before it runs the filters. Also the graph's
// frame stepping.
#include "internal.h"

#include "../control_graph.h"

#include <algorithm>

namespace sim {

namespace {

// The graph's own identity, as IPersist tells it.
const CLSID kFilterGraphClass = CLSID_FilterGraph;
// What a run with no clock gives the filters as its start: Windows's graph
// gives them a start a little after zero.
const REFERENCE_TIME kStartWithoutClock = 10 * kUnitsPerMs;

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
    HRESULT paused = S_OK;
    if (target == State_Running && state_ == State_Stopped) {
        paused = changeState(State_Paused);
        if (FAILED(paused))
            return paused;
    }
    REFERENCE_TIME now = clockTime();
    REFERENCE_TIME previousStart = start_;
    HRESULT result = S_OK;
    switch (target) {
    case State_Paused:
        if (state_ == State_Running && !runPending_) {
            positionAt_ = completeSent() ? stopPosition() : clockPosition();
            pausedAt_ = now - start_;
        } else if (state_ == State_Stopped) {
            positionAt_ = filtersPosition();
        }
        runPending_ = false;
        for (IBaseFilter* filter : downstreamFirst()) {
            HRESULT hr = filter->Pause();
            if (FAILED(hr) && SUCCEEDED(result))
                result = hr;
            else if (hr == S_FALSE && result == S_OK)
                result = S_FALSE;
        }
        break;
    case State_Running:
        // The filters run once every pause is complete; stream time carries
        // on from where the graph was paused.
        // A pause that has not completed makes the run's answer S_FALSE,
        // even when there is nothing to wait for (a source that cannot cue).
        // The graph says Running from here on, whether its filters run now
        // or once their pauses complete: an end queued before (one a
        // renderer told while a seek paused the graph) is old news, and
        // the application must not take it between now and the filters'
        // run.
        if (!pausesComplete()) {
            dropQueuedCompletions();
            log("State %d -> %d (waiting for the renderers' data)", static_cast<int>(state_),
                static_cast<int>(target));
            state_ = target;
            startPendingRun();
            return S_FALSE;
        }
        result = runFilters(runStart());
        if (result == S_OK)
            result = paused;
        break;
    case State_Stopped:
        runPending_ = false;
        // A running filter is paused before it stops.
        if (state_ == State_Running)
            for (IBaseFilter* filter : downstreamFirst())
                filter->Pause();
        // A filter whose stop is not complete yet makes the graph's S_FALSE.
        for (IBaseFilter* filter : downstreamFirst()) {
            HRESULT hr = filter->Stop();
            if (FAILED(hr) && SUCCEEDED(result))
                result = hr;
            else if (hr == S_FALSE && result == S_OK)
                result = S_FALSE;
        }
        pausedAt_ = 0;
        {
            std::lock_guard<std::mutex> lock(eventMutex_);
            completeSent_ = false;
        }
        break;
    }
    if (FAILED(result)) {
        // Filters that made the change go back, so that every filter is in
        // the state the graph reports: one left paused in a stopped graph
        // could neither be disconnected nor leave.
        for (IBaseFilter* filter : downstreamFirst()) {
            if (state_ == State_Stopped)
                filter->Stop();
            else if (state_ == State_Paused)
                filter->Pause();
            else
                filter->Run(previousStart);
        }
        start_ = previousStart;
        log("State change to %d failed (%08X)", static_cast<int>(target),
            static_cast<unsigned>(result));
        return result;
    }
    log("State %d -> %d", static_cast<int>(state_), static_cast<int>(target));
    state_ = target;
    return result;
}

void FilterGraph::startPendingRun() {
    runPending_ = true;
    abandonPendingRun_ = false;
    pendingRun_.start([this] {
        waitFor([this] { return abandonPendingRun_ || pausesComplete(); });
        std::lock_guard<std::recursive_mutex> lock(controlMutex_);
        if (abandonPendingRun_ || !runPending_)
            return;
        runPending_ = false;
        HRESULT hr = runFilters(runStart());
        if (FAILED(hr))
            log("Run of the filters failed (%08X)", static_cast<unsigned>(hr));
    });
}

void FilterGraph::endPendingRun() {
    if (!pendingRun_.started())
        return;
    abandonPendingRun_ = true;
    wakeWaiters();
    pendingRun_.join();
    abandonPendingRun_ = false;
}

HRESULT FilterGraph::runFilters(REFERENCE_TIME start) {
    dropQueuedCompletions();
    if (state_ == State_Stopped)
        positionAt_ = filtersPosition();
    // The renderers whose end makes the graph's are the ones there now.
    std::vector<IBaseFilter*> renderers;
    for (const Member& m : members_)
        if (isRenderer(m.filter))
            renderers.push_back(m.filter);
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        renderers_ = renderers;
    }
    rearmCompletion();
    start_ = start;
    streamAt_ = clockTime() - start_;
    // Renderers may tell of their end while they start (one with nothing
    // connected does at once).
    starting_ = true;
    HRESULT result = S_OK;
    for (IBaseFilter* filter : downstreamFirst()) {
        HRESULT hr = filter->Run(start_);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
        else if (hr == S_FALSE && result == S_OK)
            result = S_FALSE;
    }
    starting_ = false;
    return result;
}

REFERENCE_TIME FilterGraph::runStart() const {
    return clock_ ? clockTime() - pausedAt_ : kStartWithoutClock;
}

// Members ordered so that each comes before the filters upstream of it
// (renderers first, sources last), by the connections of their output pins.
std::vector<IBaseFilter*> FilterGraph::downstreamFirst() const {
    std::vector<IBaseFilter*> pending, ordered;
    for (const Member& m : members_)
        pending.push_back(m.filter);
    auto downstreamOf = [](IBaseFilter* filter) {
        std::vector<IBaseFilter*> found;
        IEnumPins* pins = nullptr;
        if (FAILED(filter->EnumPins(&pins)) || !pins)
            return found;
        IPin* pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            PIN_DIRECTION dir = PINDIR_INPUT;
            IPin* peer = nullptr;
            if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT &&
                SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
                PIN_INFO info{};
                if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) {
                    found.push_back(info.pFilter);
                    info.pFilter->Release();
                }
                peer->Release();
            }
            pin->Release();
        }
        pins->Release();
        return found;
    };
    while (!pending.empty()) {
        auto ready = pending.begin();
        for (; ready != pending.end(); ++ready) {
            bool waits = false;
            for (IBaseFilter* down : downstreamOf(*ready))
                waits = waits || std::find(pending.begin(), pending.end(), down) != pending.end();
            if (!waits)
                break;
        }
        if (ready == pending.end()) // a loop of connections: take them as they are
            ready = pending.begin();
        ordered.push_back(*ready);
        pending.erase(ready);
    }
    return ordered;
}

void FilterGraph::dropQueuedCompletions() {
    std::lock_guard<std::mutex> lock(eventMutex_);
    for (auto e = events_.begin(); e != events_.end();)
        e = e->code == EC_COMPLETE ? events_.erase(e) : e + 1;
}

void FilterGraph::rearmCompletion() {
    std::lock_guard<std::mutex> lock(eventMutex_);
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

// A run asked again while the last one waits for the renderers' data
// answers as that one did.
HRESULT FilterGraph::Run() {
    HRESULT armed;
    if (faultFires("FilterGraph::Run", &armed))
        return armed;
    {
        std::lock_guard<std::recursive_mutex> lock(controlMutex_);
        if (runPending_)
            return S_FALSE;
    }
    endPendingRun();
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    return changeState(State_Running);
}

HRESULT FilterGraph::Pause() {
    HRESULT armed;
    if (faultFires("FilterGraph::Pause", &armed))
        return armed;
    endPendingRun();
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    return changeState(State_Paused);
}

HRESULT FilterGraph::Stop() {
    HRESULT armed;
    if (faultFires("FilterGraph::Stop", &armed))
        return armed;
    endPendingRun();
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    return changeState(State_Stopped);
}

HRESULT FilterGraph::StopWhenReady() {
    HRESULT armed;
    if (faultFires("FilterGraph::StopWhenReady", &armed))
        return armed;
    endPendingRun();
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    if (state_ == State_Stopped)
        return S_OK;
    // Cue every filter (paused) before stopping, so that the position the
    // renderers show is the one the application stopped at.
    HRESULT hr = changeState(State_Paused);
    if (FAILED(hr))
        return hr;
    return changeState(State_Stopped);
}

// With a time-out, the answer waits at most that long for the filters to
// get where the graph is.
HRESULT FilterGraph::GetState(LONG msTimeout, OAFilterState* state) {
    if (!state)
        return E_POINTER;
    FILTER_STATE own = State_Stopped;
    HRESULT hr = GetState(static_cast<DWORD>(msTimeout), &own);
    *state = static_cast<OAFilterState>(own);
    return hr;
}

// The graph's state is the one it was told; whether its filters are there
// yet is the answer: a filter still paused on the way to running or to
// stopped is intermediate, any other difference a failure. A filter that
// cannot cue says so, and that outranks intermediate.
HRESULT FilterGraph::settledState() const {
    HRESULT result = S_OK;
    bool cantCue = false;
    for (const Member& m : members_) {
        FILTER_STATE own = state_;
        HRESULT hr = m.filter->GetState(0, &own);
        if (hr == VFW_S_STATE_INTERMEDIATE)
            result = VFW_S_STATE_INTERMEDIATE;
        cantCue = cantCue || hr == VFW_S_CANT_CUE;
        if (own == state_)
            continue;
        if (own != State_Paused)
            return E_FAIL;
        result = VFW_S_STATE_INTERMEDIATE;
    }
    return cantCue ? VFW_S_CANT_CUE : result;
}

bool FilterGraph::pausesComplete() const {
    bool complete = true;
    for (const Member& m : members_) {
        FILTER_STATE own = State_Paused;
        HRESULT hr = m.filter->GetState(0, &own);
        if (hr == VFW_S_CANT_CUE)
            return true;
        if (hr == VFW_S_STATE_INTERMEDIATE)
            complete = false;
    }
    return complete;
}

// IMediaFilter's run goes straight to running, with stream time zero at
// `start` (now, when 0), as Windows does.
HRESULT FilterGraph::Run(REFERENCE_TIME start) {
    endPendingRun();
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    if (state_ == State_Running)
        return S_OK;
    ensureClock();
    REFERENCE_TIME previousStart = start_;
    HRESULT hr = runFilters(start ? start : runStart());
    if (FAILED(hr)) {
        start_ = previousStart;
        for (const Member& m : members_)
            state_ == State_Stopped ? m.filter->Stop() : m.filter->Pause();
        return hr;
    }
    log("State %d -> %d", static_cast<int>(state_.load()), static_cast<int>(State_Running));
    state_ = State_Running;
    return hr;
}

HRESULT FilterGraph::GetState(DWORD msTimeout, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    HRESULT hr = settledState();
    if (hr == VFW_S_STATE_INTERMEDIATE && msTimeout != 0 &&
        waitFor([this] { return settledState() != VFW_S_STATE_INTERMEDIATE; },
                std::min(msTimeout, waitLimitMs())))
        hr = settledState();
    *state = state_;
    return hr;
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
