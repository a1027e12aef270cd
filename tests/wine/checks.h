// The checks of the programs that run the Windows build: each failed check
// is told on stderr and counted, and the program ends with the count.
#pragma once

#include <cstdio>
#include <string>

namespace checks {

inline int& failures() {
    static int count = 0;
    return count;
}

inline void check(bool ok, const std::string& what) {
    if (!ok) {
        failures()++;
        fprintf(stderr, "FAILED: %s\n", what.c_str());
    }
}

// Prints the verdict line and answers the program's exit code.
inline int verdict() {
    printf("%s: %d failed\n", failures() ? "FAILED" : "passed", failures());
    return failures() ? 1 : 0;
}

} // namespace checks
