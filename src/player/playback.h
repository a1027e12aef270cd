// The playback state and the transport: play, pause, stop, position, rate.
#pragma once

#include "../platform/exports.h"
#include "../platform/platform.h"

// The playback state, as getState answers it to the host.
enum PlaybackState : int {
    kStateNone = 0, // nothing opened yet
    kStateOpened = 1,
    kStatePlaying = 2,
    kStatePaused = 3,
    kStateStopped = 4,
    kStateEnded = 5,
};

// For tests and fuzzers: the state as at load, nothing opened.
void resetPlayback();

// Drains the graph's pending events without waiting.
void updateState();
// A file has just been opened: its clip waits to be played.
void clipOpened();
// Stops a clip that plays or is paused, before another file is opened.
void stopRunningClip();
// Whether the clip has played to its end, as last seen (no event drained).
bool clipEnded();

extern "C" TOVIX_EXPORT int getState();
extern "C" TOVIX_EXPORT int play();
extern "C" TOVIX_EXPORT int pause();
extern "C" TOVIX_EXPORT int stop();
extern "C" TOVIX_EXPORT HRESULT step(int frames);
extern "C" TOVIX_EXPORT double getDuration();
extern "C" TOVIX_EXPORT double getCurrentPosition();
extern "C" TOVIX_EXPORT void setCurrentPosition(double seconds);
extern "C" TOVIX_EXPORT double getRate();
extern "C" TOVIX_EXPORT double setRate(float rate);
