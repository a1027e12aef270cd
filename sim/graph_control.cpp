// IMediaControl: the graph's state, driven through every filter. A graph
// leaving the stopped state picks its clock first; running from stopped
// passes through paused, as in DirectShow.
#include "graph_internal.h"

#include "control_graph.h"

namespace sim {

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
    REFERENCE_TIME now = 0;
    clock_->GetTime(&now);
    REFERENCE_TIME previousStart = start_;
    HRESULT result = S_OK;
    switch (target) {
    case State_Paused:
        if (state_ == State_Running)
            pausedAt_ = now - start_;
        for (const Member& m : members_) {
            HRESULT hr = m.filter->Pause();
            if (FAILED(hr) && SUCCEEDED(result))
                result = hr;
        }
        break;
    case State_Running:
        // Stream time carries on from where the graph was paused.
        start_ = now - pausedAt_;
        for (const Member& m : members_) {
            HRESULT hr = m.filter->Run(start_);
            if (FAILED(hr) && SUCCEEDED(result))
                result = hr;
        }
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

HRESULT FilterGraph::Run() {
    Fault f = fault("FilterGraph::Run");
    if (f.fail)
        return f.hr;
    return changeState(State_Running);
}

HRESULT FilterGraph::Pause() {
    Fault f = fault("FilterGraph::Pause");
    if (f.fail)
        return f.hr;
    return changeState(State_Paused);
}

HRESULT FilterGraph::Stop() {
    Fault f = fault("FilterGraph::Stop");
    if (f.fail)
        return f.hr;
    return changeState(State_Stopped);
}

HRESULT FilterGraph::StopWhenReady() {
    Fault f = fault("FilterGraph::StopWhenReady");
    if (f.fail)
        return f.hr;
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
