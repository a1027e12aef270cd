// The one way the world's threads wait, and the world's own threads.
//
// A streaming thread blocked in a renderer's Receive, a renderer waiting for
// the time of its last sample, a graph waiting for its renderers' data: each
// waits on a condition of its own through waitFor. Whatever may make such a
// condition hold (a state change, a flush, a sample taken, the manual clock
// moved on) calls wakeWaiters, and every waiter looks again; on the real
// clock a waiter also looks again every few milliseconds, as time moves by
// itself.
//
// Threads started as WorldThread are known to the world, so that a test on
// the manual clock can wait until they are all idle (ended, or blocked on a
// condition that does not hold) before it looks: simctl::advanceClock does.
//
// A condition is evaluated with the world's wait lock held, possibly on
// another thread (the one waiting for idleness): it may take a filter's own
// lock, and so no code may call wakeWaiters while it holds one.
#pragma once

#include "../../src/platform/directshow.h"

#include <functional>
#include <memory>
#include <thread>

namespace sim {

// Blocks until ready() holds or `timeoutMs` of real time (INFINITE: no
// limit) has passed. True when ready.
bool waitFor(const std::function<bool()>& ready, DWORD timeoutMs = INFINITE);
void wakeWaiters();
// Blocks until every world thread has ended or waits on a condition that
// does not hold, at most `limitMs` of real time. True when that came.
bool waitUntilIdle(DWORD limitMs);

class WorldThread {
  public:
    WorldThread() = default;
    ~WorldThread() { join(); }
    WorldThread(const WorldThread&) = delete;
    WorldThread& operator=(const WorldThread&) = delete;

    // Starts `body` on a new thread; one started before must have been joined.
    void start(std::function<void()> body);
    // Waits for the thread to end (nothing when none was started).
    void join();
    bool started() const { return thread_.joinable(); }

    struct Entry; // the world's record of the thread

  private:
    std::thread thread_;
    std::shared_ptr<Entry> entry_;
};

} // namespace sim
