// Control of the simulated world for tests, tools and the demo: the reference
// ledger, fault injection, the COM runtime's counters and the class registry.
// The card's controls are in control_card.h, the graph's in control_graph.h.
#pragma once

#include "../src/platform/directshow.h"
#include "../src/platform/win32.h"

#include <string>
#include <vector>

#define TOVIX_SIM_CONTROL __attribute__((visibility("default")))

namespace simctl {

// ---- Reference ledger -----------------------------------------------------
struct LiveObject {
    std::string className;
    ULONG refs;
};
// Every simulated COM object alive now, oldest first.
TOVIX_SIM_CONTROL std::vector<LiveObject> liveObjects();
// How many objects of the class are alive.
TOVIX_SIM_CONTROL int liveCount(const std::string& className);
// One line per live object ("DecoderFilter refs=2"), for failure messages.
TOVIX_SIM_CONTROL std::string describeLiveObjects();
// Total objects created since the process started.
TOVIX_SIM_CONTROL long objectsCreated();

// ---- Fault injection ------------------------------------------------------
// Arms a fault point: its `nth` call from now fails with `hr` (every call
// from now when nth is 0). Point names are "CoCreateInstance:<class>",
// "QueryInterface:<class>:<interface>", "<class>::<method>" and the like;
// pointsReached() lists the ones a run touched.
TOVIX_SIM_CONTROL void armFault(const std::string& point, HRESULT hr, int nth = 0);
// As armFault, but the call hands back a null pointer (with `hr`, S_OK by
// default, as its answer).
TOVIX_SIM_CONTROL void armNull(const std::string& point, int nth = 0, HRESULT hr = S_OK);
TOVIX_SIM_CONTROL void clearFaults();
// Every fault point reached since the last resetPointsReached(), in the
// order first reached.
TOVIX_SIM_CONTROL std::vector<std::string> pointsReached();
TOVIX_SIM_CONTROL void resetPointsReached();
// How often a point has been called since the last resetPointsReached().
TOVIX_SIM_CONTROL int callCount(const std::string& point);

// ---- COM runtime ----------------------------------------------------------
// CoInitialize minus CoUninitialize on the calling thread.
TOVIX_SIM_CONTROL int comInitDepth();
// Calls in the whole process.
TOVIX_SIM_CONTROL long coInitializeCalls();
TOVIX_SIM_CONTROL long coUninitializeCalls();
// Calls (AddRef, Release, QueryInterface) into an object after the last
// CoUninitialize of the thread that made it unloaded its server. Windows
// would crash on each; the world traces it and carries on.
TOVIX_SIM_CONTROL long callsIntoUnloadedServers();

// Class registry: tests register doubles under a CLSID (replacing what was
// there) and may restore the built-in class afterwards.
typedef HRESULT (*CreateFunction)(REFIID riid, void** ppv);
TOVIX_SIM_CONTROL void registerClass(REFCLSID clsid, const char* name, CreateFunction create);
TOVIX_SIM_CONTROL void restoreBuiltinClasses();

// ---- Win32 ----------------------------------------------------------------
// Fixes the local time that GetLocalTime answers (null: the real clock).
TOVIX_SIM_CONTROL void setLocalTime(const SYSTEMTIME* time);

// ---- The world's own trace ------------------------------------------------
TOVIX_SIM_CONTROL std::vector<std::string> traceLines();
TOVIX_SIM_CONTROL void clearTrace();

// Puts the whole world back as at load: faults, trace, counters of reached
// points, fixed time. Live objects are not touched.
TOVIX_SIM_CONTROL void reset();

} // namespace simctl
