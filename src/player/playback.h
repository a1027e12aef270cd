// The playback state and the transport: play, pause, stop, position, rate.
#pragma once

#include "../platform/exports.h"
#include "../platform/platform.h"

// 0 nothing opened yet, 1 opened, 2 playing, 3 paused, 4 stopped, 5 ended.
extern int gPlaybackState;

// Drains the graph's pending events without waiting.
void updateState();

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
