// IMediaEventEx and IMediaEventSink: the graph's event queue. Renderers post
// through Notify; the application polls with GetEvent or waits for the end
// with WaitForCompletion.
//
// Nothing in the world runs on a thread of its own, so a wait cannot be woken
// by a renderer: the graph polls its renderers while it waits. On the manual
// clock time runs on while the caller blocks: the wait moves the clock on in
// the poll's steps until the event or completion is due or its time-out has
// passed. On the real clock a wait blocks at most its time-out. Either way no
// wait lasts longer than the world's wait limit (simctl::setWaitLimit), so
// that an INFINITE wait on a graph that cannot finish gives up with E_ABORT
// instead of hanging its caller for good.
#include "internal.h"

#include "../control_graph.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace sim {

namespace {

const DWORD kPollMs = 5;

// Blocks in slices of time, real or manual, until `done` holds or
// `timeoutMs` (INFINITE included, capped by the wait limit) has passed.
// Answers `done`.
template <typename Done> bool waitUntil(FilterGraph* graph, LONG timeoutMs, Done done) {
    graph->poll();
    if (done())
        return true;
    if (timeoutMs == 0)
        return false;
    DWORD limit = waitLimitMs();
    DWORD wanted = static_cast<DWORD>(timeoutMs);
    bool capped = wanted > limit;
    if (capped)
        wanted = limit;
    if (manualClockOn()) {
        for (DWORD waited = 0; waited < wanted; waited += kPollMs) {
            simctl::advanceClock(static_cast<long>(std::min<DWORD>(kPollMs, wanted - waited)));
            graph->poll();
            if (done())
                return true;
        }
    } else {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wanted);
        while (std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            graph->poll();
            if (done())
                return true;
        }
    }
    if (capped)
        graph->log("Wait gave up after the world's limit of %u ms", static_cast<unsigned>(limit));
    return false;
}

} // namespace

void FilterGraph::poll() {
    for (IUnknown* unknown : membersWith(IID_ISimTimedRenderer)) {
        static_cast<ISimTimedRenderer*>(unknown)->Poll();
        unknown->Release();
    }
}

bool FilterGraph::completionPending() const {
    return completeSent_;
}

namespace {

// The codes the graph acts on itself unless told otherwise; everything else
// (EC_CLOCK_CHANGED included) goes to the application as it comes.
const LONG kDefaultHandled[] = {EC_COMPLETE,         EC_REPAINT,         EC_ACTIVATE,
                                EC_WINDOW_DESTROYED, EC_DISPLAY_CHANGED, EC_NEED_RESTART,
                                EC_STARVATION,       EC_STATE_CHANGE,    EC_CLOCK_UNSET};

bool hasDefaultHandling(LONG code) {
    for (LONG handled : kDefaultHandled)
        if (handled == code)
            return true;
    return false;
}

// Any value that is not null: the application only compares it.
const OAEVENT kEventHandle = 0x4E56;

} // namespace

bool FilterGraph::defaultHandling(LONG code) const {
    if (!hasDefaultHandling(code))
        return false;
    for (LONG cancelled : cancelledDefaults_)
        if (cancelled == code)
            return false;
    return true;
}

HRESULT FilterGraph::Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
    if (eventCode == EC_COMPLETE && defaultHandling(EC_COMPLETE)) {
        // The application hears of the end once per run, when every
        // renderer counted at Run has told of its own, with the status the
        // last one gave and no filter pointer. Others are dropped.
        if (completeSent_ || (state_ != State_Running && !starting_))
            return S_OK;
        auto* from = reinterpret_cast<IBaseFilter*>(param2);
        bool counted = false, told = false;
        for (IBaseFilter* r : renderers_)
            counted = counted || r == from;
        for (IBaseFilter* c : completed_)
            told = told || c == from;
        if (!counted || told)
            return S_OK;
        completed_.push_back(from);
        if (completed_.size() < renderers_.size())
            return S_OK;
        completeSent_ = true;
        lastStop_ = stopPosition();
        events_.push_back(Event{EC_COMPLETE, param1, 0});
        log("EC_COMPLETE");
        return S_OK;
    }
    if (eventCode == EC_CLOCK_UNSET && defaultHandling(EC_CLOCK_UNSET)) {
        // The next pause picks a clock again; the application hears of it.
        clockChosen_ = false;
    } else if (defaultHandling(eventCode)) {
        // Repaints, activation, display changes and the like concern
        // windows and resources the world does not have: handled is done.
        log("Event %d handled", static_cast<int>(eventCode));
        return S_OK;
    }
    if (eventCode == EC_COMPLETE || eventCode == EC_ERRORABORT || eventCode == EC_USERABORT)
        completeSent_ = true;
    events_.push_back(Event{eventCode, param1, param2});
    log("Event %d(%ld, %ld)", static_cast<int>(eventCode), static_cast<long>(param1),
        static_cast<long>(param2));
    return S_OK;
}

// The handle is the graph's manual-reset event on Windows. The world has no
// waits on handles, so it is only an identity here: nobody can wait on it.
HRESULT FilterGraph::GetEventHandle(OAEVENT* handle) {
    if (!handle)
        return E_POINTER;
    *handle = kEventHandle;
    return S_OK;
}

HRESULT FilterGraph::GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout) {
    HRESULT armed;
    if (faultFires("FilterGraph::GetEvent", &armed))
        return armed;
    if (!eventCode || !param1 || !param2)
        return E_POINTER;
    *eventCode = 0;
    *param1 = *param2 = 0;
    if (!waitUntil(this, msTimeout, [this] { return !events_.empty(); }))
        return E_ABORT;
    Event event = events_.front();
    events_.pop_front();
    *eventCode = event.code;
    *param1 = event.param1;
    *param2 = event.param2;
    return S_OK;
}

HRESULT FilterGraph::WaitForCompletion(LONG msTimeout, LONG* eventCode) {
    HRESULT armed;
    if (faultFires("FilterGraph::WaitForCompletion", &armed))
        return armed;
    if (!eventCode)
        return E_POINTER;
    *eventCode = 0;
    if (state_ != State_Running)
        return VFW_E_WRONG_STATE;
    if (!waitUntil(this, msTimeout, [this] { return completionPending(); }))
        return E_ABORT;
    *eventCode = EC_COMPLETE;
    return S_OK;
}

HRESULT FilterGraph::CancelDefaultHandling(LONG eventCode) {
    if (!hasDefaultHandling(eventCode))
        return E_INVALIDARG;
    if (defaultHandling(eventCode))
        cancelledDefaults_.push_back(eventCode);
    return S_OK;
}

HRESULT FilterGraph::RestoreDefaultHandling(LONG eventCode) {
    if (!hasDefaultHandling(eventCode))
        return E_INVALIDARG;
    for (auto c = cancelledDefaults_.begin(); c != cancelledDefaults_.end(); ++c) {
        if (*c == eventCode) {
            cancelledDefaults_.erase(c);
            break;
        }
    }
    return S_OK;
}

// No event of the world carries allocated parameters.
HRESULT FilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) {
    return S_OK;
}

HRESULT FilterGraph::SetNotifyWindow(OAHWND, LONG, LONG_PTR) {
    return S_OK;
}

HRESULT FilterGraph::SetNotifyFlags(LONG noNotifyFlags) {
    if (noNotifyFlags != 0 && noNotifyFlags != 1)
        return E_INVALIDARG;
    notifyFlags_ = noNotifyFlags;
    return S_OK;
}

HRESULT FilterGraph::GetNotifyFlags(LONG* noNotifyFlags) {
    if (!noNotifyFlags)
        return E_POINTER;
    *noNotifyFlags = notifyFlags_;
    return S_OK;
}

} // namespace sim

namespace simctl {

int graphPendingEvents() {
    // Counted without polling: a test sees exactly what was posted.
    sim::FilterGraph* graph = sim::currentGraph();
    return graph ? graph->pendingEvents() : 0;
}

} // namespace simctl
