// The graphs' reference clock and the switch between real and manual time.
#include "clock.h"

#include "../base/world_wait.h"
#include "../control_graph.h"

#include <algorithm>
#include <atomic>
#include <ctime>

namespace {

std::atomic<bool> gManual{false};
std::atomic<REFERENCE_TIME> gManualNow{0};
std::atomic<DWORD> gWaitLimitMs{60000};

REFERENCE_TIME realNow() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<REFERENCE_TIME>(now.tv_sec) * sim::kUnitsPerSecond + now.tv_nsec / 100;
}

} // namespace

namespace sim {

REFERENCE_TIME clockNow() {
    return gManual ? gManualNow.load() : realNow();
}
bool manualClockOn() {
    return gManual;
}
DWORD waitLimitMs() {
    return gWaitLimitMs;
}

HRESULT cueingState(DWORD msTimeout, const std::function<bool()>& cued) {
    if (cued())
        return S_OK;
    if (msTimeout == 0)
        return VFW_S_STATE_INTERMEDIATE;
    return waitFor(cued, std::min(msTimeout, waitLimitMs())) ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

GraphClock::GraphClock() : ComObject("SystemClock") {}

HRESULT GraphClock::QueryInterface(REFIID riid, void** ppv) {
    return queryInterface(this, riid, ppv,
                          {{&IID_IUnknown, static_cast<IReferenceClock*>(this)},
                           {&IID_IReferenceClock, static_cast<IReferenceClock*>(this)}});
}

HRESULT GraphClock::GetTime(REFERENCE_TIME* time) {
    if (!time)
        return E_POINTER;
    REFERENCE_TIME now = clockNow();
    if (now < last_)
        now = last_;
    last_ = now;
    *time = now;
    return S_OK;
}

// Nothing in the world asks for clock advice: its waits look at the clock.
HRESULT GraphClock::AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR* cookie) {
    if (cookie)
        *cookie = 0;
    return E_NOTIMPL;
}

HRESULT GraphClock::AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR* cookie) {
    if (cookie)
        *cookie = 0;
    return E_NOTIMPL;
}

HRESULT GraphClock::Unadvise(DWORD_PTR) {
    return S_FALSE;
}

} // namespace sim

namespace simctl {

void setManualClock(bool on) {
    // Switching starts the manual clock where real time stands, so that
    // readings taken before the switch stay in the past.
    if (on && !gManual)
        gManualNow = realNow();
    gManual = on;
}

// The world's threads first finish what they can do at the time that
// stands, then see the new time: what a step of the clock brings is done
// when the call returns.
void advanceClock(long ms) {
    sim::waitUntilIdle(gWaitLimitMs);
    if (ms > 0)
        gManualNow += static_cast<REFERENCE_TIME>(ms) * sim::kUnitsPerMs;
    sim::wakeWaiters();
    sim::waitUntilIdle(gWaitLimitMs);
}

void waitForStreaming() {
    sim::waitUntilIdle(gWaitLimitMs);
}

long long clockMs() {
    return static_cast<long long>(sim::clockNow() / sim::kUnitsPerMs);
}

void setWaitLimit(unsigned long ms) {
    gWaitLimitMs = static_cast<DWORD>(ms);
}

} // namespace simctl
