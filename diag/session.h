// The checks that drive TovixAPI.dll as the host does, through its natives:
// the OSD with a test pattern, a clip through the push graph and through the
// rendered graph, and closing it all.
#pragma once

#include "report.h"

#include <string>

namespace diag {

struct SessionOptions {
    std::string libraryFolder; // where TovixAPI.dll is
    int patternSeconds = 5;    // how long the test pattern stays up
};

void checkSession(Report& report, const SessionOptions& options);

} // namespace diag
