// The plug-in log grows by a few lines per input; a fuzz run makes millions.
// Every so often it is emptied, so that a minute's run does not fill the
// disk with lines nobody reads; the simulated world's own trace, kept in
// memory, likewise.
#pragma once

#include "sim/control.h"
#include "src/log/log.h"

#include <cstdio>
#include <unistd.h>

namespace fuzzinput {

inline void trimLog() {
    static unsigned calls = 0;
    if (++calls % 512 != 0)
        return;
    simctl::clearTrace();
    if (!gLogFile)
        return;
    fflush(gLogFile);
    if (ftruncate(fileno(gLogFile), 0) == 0)
        rewind(gLogFile);
}

} // namespace fuzzinput
