// Media time as DirectShow counts it: REFERENCE_TIME in 100 ns units, and
// IMediaPosition's seconds (REFTIME) over it.
#pragma once

#include "../../src/platform/directshow.h"

#include <cmath>

namespace sim {

const REFERENCE_TIME kUnitsPerSecond = 10000000;
const REFERENCE_TIME kUnitsPerMs = 10000;

inline REFERENCE_TIME unitsFromSeconds(REFTIME seconds) {
    return static_cast<REFERENCE_TIME>(
        std::llround(seconds * static_cast<double>(kUnitsPerSecond)));
}

inline REFTIME secondsFromUnits(REFERENCE_TIME units) {
    return static_cast<REFTIME>(units) / static_cast<double>(kUnitsPerSecond);
}

} // namespace sim
