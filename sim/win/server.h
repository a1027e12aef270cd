// tovixsim.dll's own parts: the objects alive in it.
#pragma once

#include "../com/runtime.h"

namespace simwin {

// Objects alive in the DLL (for DllCanUnloadNow), and a walk over them.
using sim::forEachLive;
using sim::liveObjectCount;

} // namespace simwin
