// The order in which the natives open and tear down the library's parts.
#pragma once

#include "../platform/java.h"

// The tag of the natives' own log lines.
const char kNativeTag[] = "TOVIXAPI";

// openOSD: the logs first, so that the entry line and all after it are
// kept; then the plug-in switches, the output settings and the OSD
// connection. Answers whether the OSD connection opened.
bool openOsdInOrder(JNIEnv* env, jclass cls);
// closeOSD: the OSD switched off, then what the player holds, then the rest of
// the OSD connection and COM.
void closeOsdInOrder();
// For tests and fuzzers: every module variable of the library as at load,
// through each owner's reset. The world must have been closed first (free
// and closeOSD): references still held are forgotten, not released.
void resetLibrary();
// load: the player's set-up, then the file, when the set-up succeeded.
void loadInOrder(const char* path, const char* host, bool shifted, int major, int minor);
