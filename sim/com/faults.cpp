// Fault injection: named points that fail a chosen call, and the record of
// every point a run reached.
#include "../control.h"
#include "runtime.h"

#include <map>
#include <mutex>

namespace {

struct Armed {
    HRESULT hr;
    bool null;
    int nth;   // 0: every call
    int calls; // calls since arming
};

std::mutex gMutex;
std::map<std::string, Armed> gArmed;
std::vector<std::string> gReached;
std::map<std::string, int> gCalls;
std::vector<std::string> gTrace;

} // namespace

namespace sim {

Fault fault(const std::string& point) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (gCalls[point]++ == 0)
        gReached.push_back(point);
    Fault answer;
    auto it = gArmed.find(point);
    if (it == gArmed.end())
        return answer;
    Armed& armed = it->second;
    armed.calls++;
    if (armed.nth != 0 && armed.calls != armed.nth)
        return answer;
    answer.fail = true;
    answer.null = armed.null;
    answer.hr = armed.hr;
    return answer;
}

void keepTraceLine(const char* line) {
    std::lock_guard<std::mutex> lock(gMutex);
    gTrace.push_back(line);
}

} // namespace sim

namespace simctl {

void armFault(const std::string& point, HRESULT hr, int nth) {
    std::lock_guard<std::mutex> lock(gMutex);
    gArmed[point] = Armed{hr, false, nth, 0};
}

void armNull(const std::string& point, int nth, HRESULT hr) {
    std::lock_guard<std::mutex> lock(gMutex);
    gArmed[point] = Armed{hr, true, nth, 0};
}

void clearFaults() {
    std::lock_guard<std::mutex> lock(gMutex);
    gArmed.clear();
}

std::vector<std::string> pointsReached() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gReached;
}

void resetPointsReached() {
    std::lock_guard<std::mutex> lock(gMutex);
    gReached.clear();
    gCalls.clear();
}

int callCount(const std::string& point) {
    std::lock_guard<std::mutex> lock(gMutex);
    auto it = gCalls.find(point);
    return it == gCalls.end() ? 0 : it->second;
}

std::vector<std::string> traceLines() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gTrace;
}

void clearTrace() {
    std::lock_guard<std::mutex> lock(gMutex);
    gTrace.clear();
}

void reset() {
    clearFaults();
    clearTrace();
    resetPointsReached();
    setLocalTime(nullptr);
}

} // namespace simctl
