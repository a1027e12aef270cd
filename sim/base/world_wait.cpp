// The world's waits and threads (see base/world_wait.h).
#include "world_wait.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace sim {

struct WorldThread::Entry {
    const std::function<bool()>* waitingOn = nullptr; // the condition it blocks on
    bool ended = false;
};

namespace {

// A waiter looks again this often on its own: real time moves without
// anyone saying so, and a file being written grows the same way.
const auto kSlice = std::chrono::milliseconds(5);

std::mutex& waitMutex() {
    static std::mutex m;
    return m;
}

std::condition_variable& waitChanged() {
    static std::condition_variable c;
    return c;
}

std::vector<std::shared_ptr<WorldThread::Entry>>& threads() {
    static std::vector<std::shared_ptr<WorldThread::Entry>> all;
    return all;
}

thread_local WorldThread::Entry* tSelf = nullptr;

} // namespace

bool waitFor(const std::function<bool()>& ready, DWORD timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(waitMutex());
    bool result = true;
    while (!ready()) {
        if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline) {
            result = false;
            break;
        }
        if (tSelf && !tSelf->waitingOn) {
            tSelf->waitingOn = &ready;
            waitChanged().notify_all(); // one waiting for idleness looks again
        }
        waitChanged().wait_for(lock, kSlice);
    }
    if (tSelf)
        tSelf->waitingOn = nullptr;
    return result;
}

void wakeWaiters() {
    std::lock_guard<std::mutex> lock(waitMutex());
    waitChanged().notify_all();
}

bool waitUntilIdle(DWORD limitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::unique_lock<std::mutex> lock(waitMutex());
    for (;;) {
        bool idle = true;
        for (const auto& t : threads())
            idle = idle && (t->ended || (t->waitingOn && !(*t->waitingOn)()));
        if (idle)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        waitChanged().wait_for(lock, kSlice);
    }
}

void WorldThread::start(std::function<void()> body) {
    join();
    entry_ = std::make_shared<Entry>();
    {
        std::lock_guard<std::mutex> lock(waitMutex());
        threads().push_back(entry_);
    }
    std::shared_ptr<Entry> entry = entry_;
    thread_ = std::thread([entry, body] {
        tSelf = entry.get();
        body();
        tSelf = nullptr;
        std::lock_guard<std::mutex> lock(waitMutex());
        entry->ended = true;
        waitChanged().notify_all();
    });
}

void WorldThread::join() {
    if (!thread_.joinable())
        return;
    thread_.join();
    std::lock_guard<std::mutex> lock(waitMutex());
    auto& all = threads();
    all.erase(std::remove(all.begin(), all.end(), entry_), all.end());
    entry_.reset();
}

} // namespace sim
