// The plug-in log: one plain-text file per host process, opened once with a
// banner, then one line per event, each flushed at once.
#include "log.h"

#include "../platform/c_locale.h"
#include "properties.h"

#include <cstdarg>
#include <cstring>

FILE* gLogFile = nullptr;
HANDLE gGraphLog = nullptr;

namespace {

const char kPluginVersion[] = "0.0.9";
const char kContact[] = "help@tovix.quencomm.org";
static_assert(sizeof kContact - 1 == 23, "the banner's contact field is 23 characters wide");

// The host's UI files normally live under this folder; the banner shows
// them relative to it.
const char kQtvPrefix[] = ":\\Program Files\\Vond Technologies\\QuenTV\\QTVs\\";
static_assert(sizeof kQtvPrefix - 1 == 46, "drive letter plus this prefix is 47 characters");

char gAppVersion[64];
char gQtvFile[64];

const size_t kLineBufferSize = 2048;

void timeStamp(char out[9]) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    snprintf(out, 9, "%02u:%02u:%02u", now.wHour % 100u, now.wMinute % 100u, now.wSecond % 100u);
}

// A line under composition: time stamp, tag, the caller's format and the
// error suffix, in a fixed buffer that is never overrun. Texts that must
// appear literally have their '%' doubled so that only the caller's format
// is expanded.
struct LineBuffer {
    char text[kLineBufferSize];
    size_t length = 0;
    bool full = false;

    void append(const char* s, bool literal) {
        for (; *s && !full; s++) {
            size_t need = (literal && *s == '%') ? 2 : 1;
            // One byte stays free for the line end, one for the terminator.
            if (length + need > kLineBufferSize - 2) {
                full = true;
                break;
            }
            text[length++] = *s;
            if (need == 2)
                text[length++] = '%';
        }
    }

    // Ends the line. A cut can leave half a conversion at the end; it is
    // dropped, so that the stream never sees an incomplete one.
    const char* finish() {
        text[length] = '\0';
        if (full)
            dropIncompleteConversion();
        text[length++] = '\n';
        text[length] = '\0';
        return text;
    }

    void dropIncompleteConversion() {
        size_t i = 0;
        while (i < length) {
            if (text[i] != '%') {
                i++;
                continue;
            }
            size_t j = i + 1;
            if (j < length && text[j] == '%') {
                i = j + 1;
                continue;
            }
            while (j < length && strchr("-+ #0123456789.*hlLqjztI", text[j]))
                j++;
            if (j >= length) {
                length = i;
                return;
            }
            i = j + 1;
        }
    }
};

void writeLine(const char* tag, const char* format, va_list args, const char* errorSuffix) {
    char stamp[9];
    timeStamp(stamp);
    LineBuffer line;
    line.append(stamp, true);
    line.append(" - <", true);
    line.append(tag ? tag : "", true);
    line.append(">: ", true);
    line.append(format ? format : "", false);
    if (errorSuffix)
        line.append(errorSuffix, true);
    const char* composed = line.finish();
    if (!gLogFile)
        return;
    CLocaleScope cLocale;
    vfprintf(gLogFile, composed, args);
    fflush(gLogFile);
}

void writeBanner(FILE* file) {
    const char* hashes = "######################################################################";
    const char* blank = "###                                                                ###";
    SYSTEMTIME now;
    GetLocalTime(&now);
    char time[16];
    char date[16];
    snprintf(time, sizeof time, "%02u:%02u:%02u", now.wHour % 100u, now.wMinute % 100u,
             now.wSecond % 100u);
    snprintf(date, sizeof date, "%02u/%02u/%04u", now.wMonth % 100u, now.wDay % 100u,
             now.wYear % 10000u);
    fprintf(file, "%s\n%s\n%s\n\n", hashes, hashes, blank);
    fprintf(file, "###  Tovix Version: %s                 %s  ###\n", kPluginVersion, kContact);
    fprintf(file, "###  Quen Version: %-48s###\n", gAppVersion);
    fprintf(file, "###  QTV: %-57s###\n", gQtvFile);
    fprintf(file, "%s\n", blank);
    fprintf(file, "###  Log file created at %s on %s                    ###\n", time, date);
    fprintf(file, "%s\n%s\n%s\n\n", blank, hashes, hashes);
}

} // namespace

void openLogs(JNIEnv* env, jclass cls) {
    if (!gLogFile) {
        getProperty(env, cls, "version", "[unknown version]", gAppVersion, sizeof gAppVersion);
        char qtv[256];
        getProperty(env, cls, "wizard/widget_db_file", "[unknown qtv]", qtv, sizeof qtv);
        const char* shown = qtv;
        if (qtv[0] && strncmp(qtv + 1, kQtvPrefix, sizeof kQtvPrefix - 1) == 0)
            shown = qtv + 1 + (sizeof kQtvPrefix - 1);
        size_t length = strnlen(shown, sizeof gQtvFile - 1);
        memcpy(gQtvFile, shown, length);
        gQtvFile[length] = '\0';

        char name[64];
        snprintf(name, sizeof name, "tovix_log_%d.txt", static_cast<int>(GetCurrentProcessId()));
        FILE* file = fopen(name, "w");
        if (file) {
            writeBanner(file);
            gLogFile = file;
        }
    }
    if (!gGraphLog) {
        HANDLE handle = CreateFileA("dshow_log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        gGraphLog = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }
}

void resetLogs() {
    if (gLogFile)
        fclose(gLogFile);
    gLogFile = nullptr;
    if (gGraphLog)
        CloseHandle(gGraphLog);
    gGraphLog = nullptr;
    gAppVersion[0] = '\0';
    gQtvFile[0] = '\0';
}

void logMessage(const char* tag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(tag, format, args, nullptr);
    va_end(args);
}

void logVerbose(const char* tag, const char* format, ...) {
    if (!gVerboseLog)
        return;
    va_list args;
    va_start(args, format);
    writeLine(tag, format, args, nullptr);
    va_end(args);
}

void logError(HRESULT code, const char* tag, const char* format, ...) {
    char text[160];
    if (AMGetErrorTextA(code, text, sizeof text) == 0)
        snprintf(text, sizeof text, "%s", "Unknown Error");
    char suffix[200];
    snprintf(suffix, sizeof suffix, " (ERROR: %X/%s)", static_cast<unsigned>(code), text);
    va_list args;
    va_start(args, format);
    writeLine(tag, format, args, suffix);
    va_end(args);
}
