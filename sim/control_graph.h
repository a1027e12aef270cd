// Control of the simulated filter graph manager and media for tests and the
// demo: the clock, the most recent graph, and what RenderFile did.
#pragma once

#include "control.h"

#include <string>
#include <vector>

namespace simctl {

// ---- Clock -----------------------------------------------------------------
// Switches every graph to the manual clock (true) or back to real time.
// While it is on, time stands still until advanceClock moves it or a wait
// (WaitForCompletion, GetEvent with a time-out) blocks: the wait moves it on
// until what it waits for is due or its time-out has passed.
TOVIX_SIM_CONTROL void setManualClock(bool on);
// Moves the manual clock on. The world's threads (streaming, renderers
// waiting for their end) have done what the time that stood allowed before
// it moves, and what the new time allows when the call returns.
TOVIX_SIM_CONTROL void advanceClock(long ms);
// Waits until every thread of the world has delivered what it can or
// blocks (in Receive, on the clock), so that a test's next look does not
// race them; at most the wait limit.
TOVIX_SIM_CONTROL void waitForStreaming();
// Now on the clock every graph uses, in milliseconds.
TOVIX_SIM_CONTROL long long clockMs();
// The longest a wait blocks in real time before it gives up (60 s at load).
TOVIX_SIM_CONTROL void setWaitLimit(unsigned long ms);

// ---- The most recent graph -------------------------------------------------
// Whether a graph manager is alive now.
TOVIX_SIM_CONTROL bool graphAlive();
// Its state: 0 stopped, 1 paused, 2 running; -1 when there is none.
TOVIX_SIM_CONTROL int graphState();
// The names of its filters in enumeration order.
TOVIX_SIM_CONTROL std::vector<std::string> graphFilterNames();
// Its own trace (what SetLogFile's handle receives), kept in memory too.
TOVIX_SIM_CONTROL std::vector<std::string> graphTrace();
// Events queued for the application and not yet taken.
TOVIX_SIM_CONTROL int graphPendingEvents();
// Queues the event (code, param1, param2) as the next GetEvent finds the
// queue empty, after it has answered so: the event arrives between the
// application's drain of the queue and its next call, as a streaming
// thread's would. Once; a later call replaces one not yet posted.
TOVIX_SIM_CONTROL void postAfterNextDrain(long code, long param1 = 0, long param2 = 0);

// ---- The decoder as renderer -----------------------------------------------
// What the most recent decoder filter was last told as the graph's renderer.
struct RendererRecord {
    long volume = 0; // -10000 (silent) to 0 (full)
    double rate = 1.0;
    long destLeft = 0, destTop = 0, destWidth = 0, destHeight = 0;
    double position = 0; // seconds, as last fixed by a seek or state change
    long samples = 0;    // media samples taken by its input pins, and their bytes
    long sampleBytes = 0;
};
TOVIX_SIM_CONTROL RendererRecord renderer();

// ---- The PC's sound device ---------------------------------------------------
// Whether the PC has a sound device (it has at load). Without one the
// DirectSound renderer takes no connection (VFW_E_NO_AUDIO_HARDWARE), and an
// audio stream that only it could play stays unrendered.
TOVIX_SIM_CONTROL void setSoundDevice(bool present);

// ---- RenderFile ------------------------------------------------------------
struct RenderOutcome {
    std::string file;      // the path as given, in UTF-8
    HRESULT result = S_OK; // what RenderFile answered
    int streams = 0;       // streams the splitter offered
    int rendered = 0;      // of those, the ones that found a taker
};
// Every RenderFile of the process, oldest first.
TOVIX_SIM_CONTROL std::vector<RenderOutcome> renderOutcomes();

} // namespace simctl
