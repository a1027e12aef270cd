// The plug-in log "tovix_log_<pid>.txt" and the graph log "dshow_log.txt".
#pragma once

#include "../platform/exports.h"
#include "../platform/platform.h"

#include <cstdio>

extern FILE* gLogFile;
extern HANDLE gGraphLog;

// Opens the plug-in log with its banner if it is not open, and creates the
// graph log if no handle is held. Reads "version" and
// "wizard/widget_db_file" from the host.
void openLogs(JNIEnv* env, jclass cls);

// For tests and fuzzers: both logs closed, as at load, so that the next
// openLogs writes a new plug-in log with its banner.
void resetLogs();

// One line "hh:mm:ss - <tag>: message". Dropped while the log is closed.
void logMessage(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));
// As logMessage, but only while gVerboseLog is on.
void logVerbose(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));
// As logMessage, with " (ERROR: <code>/<text>)" after the message.
void logError(HRESULT code, const char* tag, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
