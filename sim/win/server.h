// tovixsim.dll's own parts: the objects alive in it and the thread that lets
// its renderers notice the end of their stream.
#pragma once

#include "../com/runtime.h"

namespace simwin {

// Objects alive in the DLL (for DllCanUnloadNow), and a walk over them.
using sim::forEachLive;
using sim::liveObjectCount;

// Starts the thread that polls running renderers, unless it runs already.
// It ends by itself once no object is left in the DLL.
void startRendererTicker();
// True when the ticker's thread has ended (or never started).
bool rendererTickerStopped();

} // namespace simwin
