// The reference clock a graph hands its filters: real time by default, or a
// manual clock that tests advance, so that positions and the end of a stream
// come exactly when a test says.
#pragma once

#include "../base/media_time.h"
#include "../com/runtime.h"

#include <functional>

namespace sim {

// Now on the clock every graph uses: monotonic real time, or the manual
// clock's reading while it is switched on.
REFERENCE_TIME clockNow();
bool manualClockOn();
// The longest any wait of the world blocks in real time, in milliseconds;
// a wait that would be longer gives up (see WaitForCompletion).
DWORD waitLimitMs();
// GetState's answer from a filter whose pause completes only once `cued`
// holds: S_OK when it does, else VFW_S_STATE_INTERMEDIATE after waiting up
// to `msTimeout` (at most the wait limit). A time-out of 0 answers without
// waiting, so that a condition of another waiter may ask.
HRESULT cueingState(DWORD msTimeout, const std::function<bool()>& cued);

class GraphClock : public IReferenceClock, public ComObject {
  public:
    GraphClock();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override;
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                         HEVENT event, DWORD_PTR* cookie) override;
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                             HSEMAPHORE semaphore, DWORD_PTR* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR cookie) override;

  private:
    // GetTime never runs backwards, as the SDK promises.
    REFERENCE_TIME last_ = 0;
};

} // namespace sim
