// IMediaEventEx and IMediaEventSink: the graph's event queue. Renderers post
// through Notify, from their own threads; the application polls with
// GetEvent or waits for the end with WaitForCompletion.
//
// On the manual clock time runs on while the caller blocks: the wait moves
// the clock on in small steps, each done once the world's threads have
// done what it brings, until the event or completion is there or its
// time-out has passed. On the real clock a wait blocks at most its
// time-out. Either way no wait lasts longer than the world's wait limit
// (simctl::setWaitLimit), so that an INFINITE wait on a graph that cannot
// finish gives up with E_ABORT instead of hanging its caller for good.
#include "internal.h"

#include "../control_graph.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace sim {

namespace {

const DWORD kStepMs = 5;

// The event simctl::postAfterNextDrain armed, if any.
struct ArmedEvent {
    bool armed = false;
    LONG code = 0;
    LONG_PTR param1 = 0, param2 = 0;
};
std::mutex gArmedMutex;
ArmedEvent gArmed;

void postArmedEvent(FilterGraph* graph) {
    ArmedEvent event;
    {
        std::lock_guard<std::mutex> lock(gArmedMutex);
        event = gArmed;
        gArmed = ArmedEvent();
    }
    if (event.armed)
        graph->Notify(event.code, event.param1, event.param2);
}

// Blocks, in real or manual time, until `done` holds or `timeoutMs`
// (INFINITE included, capped by the wait limit) has passed. Answers `done`.
template <typename Done> bool waitUntil(FilterGraph* graph, LONG timeoutMs, Done done) {
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
        for (DWORD waited = 0; waited < wanted; waited += kStepMs) {
            simctl::advanceClock(static_cast<long>(std::min<DWORD>(kStepMs, wanted - waited)));
            if (done())
                return true;
        }
    } else if (waitFor(done, wanted)) {
        return true;
    }
    if (capped)
        graph->log("Wait gave up after the world's limit of %u ms", static_cast<unsigned>(limit));
    return false;
}

} // namespace

int FilterGraph::pendingEvents() const {
    std::lock_guard<std::mutex> lock(eventMutex_);
    return static_cast<int>(events_.size());
}

bool FilterGraph::completeSent() const {
    std::lock_guard<std::mutex> lock(eventMutex_);
    return completeSent_;
}

bool FilterGraph::takeCompletion(LONG* eventCode) {
    std::lock_guard<std::mutex> lock(eventMutex_);
    while (!events_.empty()) {
        Event event = events_.front();
        events_.pop_front();
        if (event.code == EC_COMPLETE || event.code == EC_ERRORABORT ||
            event.code == EC_USERABORT) {
            *eventCode = event.code;
            return true;
        }
    }
    return false;
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
    bool ended = false;
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        if (!queueEvent(eventCode, param1, param2, &ended))
            return S_OK;
    }
    wakeWaiters();
    if (ended) // the position once every renderer has ended
        stopPosition();
    return S_OK;
}

// Notify's decision, with the event lock held: whether the event reaches
// the queue, and whether it is the graph's end.
bool FilterGraph::queueEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2, bool* ended) {
    if (eventCode == EC_COMPLETE && defaultHandling(EC_COMPLETE)) {
        // The application hears of the end once per run, when every
        // renderer counted at Run has told of its own, with the status the
        // last one gave and no filter pointer. Others are dropped.
        if (completeSent_ || (state_ != State_Running && !starting_))
            return false;
        auto* from = reinterpret_cast<IBaseFilter*>(param2);
        bool counted = false, told = false;
        for (IBaseFilter* r : renderers_)
            counted = counted || r == from;
        for (IBaseFilter* c : completed_)
            told = told || c == from;
        if (!counted || told)
            return false;
        completed_.push_back(from);
        if (completed_.size() < renderers_.size())
            return false;
        completeSent_ = true;
        *ended = true;
        events_.push_back(Event{EC_COMPLETE, param1, 0});
        log("EC_COMPLETE");
        return true;
    }
    if (eventCode == EC_CLOCK_UNSET && defaultHandling(EC_CLOCK_UNSET)) {
        // The next pause picks a clock again; the application hears of it.
        clockChosen_ = false;
    } else if (defaultHandling(eventCode)) {
        // Repaints, activation, display changes and the like concern
        // windows and resources the world does not have: handled is done.
        log("Event %d handled", static_cast<int>(eventCode));
        return false;
    }
    if (eventCode == EC_COMPLETE || eventCode == EC_ERRORABORT || eventCode == EC_USERABORT)
        completeSent_ = true;
    events_.push_back(Event{eventCode, param1, param2});
    log("Event %d(%ld, %ld)", static_cast<int>(eventCode), static_cast<long>(param1),
        static_cast<long>(param2));
    return true;
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
    auto queued = [this] {
        std::lock_guard<std::mutex> lock(eventMutex_);
        return !events_.empty();
    };
    Event event{};
    for (;;) {
        if (!waitUntil(this, msTimeout, queued)) {
            postArmedEvent(this);
            return E_ABORT;
        }
        std::lock_guard<std::mutex> lock(eventMutex_);
        if (events_.empty())
            continue; // a run purged it meanwhile
        event = events_.front();
        events_.pop_front();
        break;
    }
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
    // The wait reads the queue: every other event is discarded on the way,
    // and an end the application has taken already is not waited for.
    if (!waitUntil(this, msTimeout, [this, eventCode] { return takeCompletion(eventCode); }))
        return E_ABORT;
    return S_OK;
}

HRESULT FilterGraph::CancelDefaultHandling(LONG eventCode) {
    if (!hasDefaultHandling(eventCode))
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (defaultHandling(eventCode))
        cancelledDefaults_.push_back(eventCode);
    return S_OK;
}

HRESULT FilterGraph::RestoreDefaultHandling(LONG eventCode) {
    if (!hasDefaultHandling(eventCode))
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(eventMutex_);
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

void postAfterNextDrain(long code, long param1, long param2) {
    std::lock_guard<std::mutex> lock(sim::gArmedMutex);
    sim::gArmed = sim::ArmedEvent{true, static_cast<LONG>(code), param1, param2};
}

int graphPendingEvents() {
    sim::FilterGraph* graph = sim::currentGraph();
    return graph ? graph->pendingEvents() : 0;
}

} // namespace simctl
