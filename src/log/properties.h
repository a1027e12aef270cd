// Host settings, read back through the host class's static getProperty, and
// the three plug-in switches.
#pragma once

#include "../platform/exports.h"
#include "../platform/java.h"

extern "C" TOVIX_EXPORT bool gStreamAllMpegs;
extern "C" TOVIX_EXPORT bool gScaleOSD;
extern "C" TOVIX_EXPORT bool gVerboseLog;

// Reads the host setting `key` into `out` (`outSize` bytes, always
// terminated). Answers true when the host was asked, false when its method
// is missing; `out` then holds `defaultValue`.
TOVIX_EXPORT bool getProperty(JNIEnv* env, jclass cls, const char* key, const char* defaultValue,
                              char* out, int outSize);

// For tests and fuzzers: the three switches as at load.
void resetSwitches();

// Reads the three plug-in switches.
extern "C" TOVIX_EXPORT int configPlayer(JNIEnv* env, jclass cls);
