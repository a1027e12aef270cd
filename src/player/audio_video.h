// Volume and mute, the closed-captioning state, the video's placement and
// size.
#pragma once

#include "../platform/exports.h"
#include "../platform/platform.h"

// The host's linear level (0 to 1) against the graph's volume value (0 full,
// -10000 silent), on a natural-logarithm scale.
float volLogToLin(int value);
int volLinToLog(float level);

// For tests: the level, mute and closed-captioning state as at load, the
// host's level forgotten.
void resetAudioVideo();

// Puts the host's level and mute state on a graph just opened (pBasicAudio
// held).
void applyAudioToNewGraph();

extern "C" TOVIX_EXPORT int getMute();
extern "C" TOVIX_EXPORT HRESULT setMute(bool mute);
extern "C" TOVIX_EXPORT float getVolume();
extern "C" TOVIX_EXPORT float setVolume(float level);
extern "C" TOVIX_EXPORT int getCC();
extern "C" TOVIX_EXPORT int setCC(int state);
extern "C" TOVIX_EXPORT void setDestination(int left, int top, int width, int height);

// The natives getVideoWidth and getVideoHeight do their whole work here.
int videoWidth();
int videoHeight();
