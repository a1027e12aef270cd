// The world's trace and the fault helpers that every build of the world
// shares; where a trace line is kept and how a point is armed differ (the
// Linux world's com/faults.cpp, tovixsim.dll's win/runtime_win.cpp).
#include "runtime.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace sim {

void trace(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (getenv("TOVIX_SIM_TRACE"))
        fprintf(stderr, "[sim] %s\n", line);
    keepTraceLine(line);
}

bool faultFires(const std::string& point, HRESULT* hr) {
    Fault f = fault(point);
    if (f.fail)
        *hr = f.hr;
    return f.fail;
}

std::string faultPoint(const char* className, const char* method) {
    return std::string(className) + "::" + method;
}

} // namespace sim
