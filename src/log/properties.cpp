// Host settings and the plug-in switches.
#include "properties.h"

#include "jni_guards.h"
#include "log.h"

#include <cstring>

bool gStreamAllMpegs = true;
bool gScaleOSD = false;
bool gVerboseLog = false;

namespace {

// Copies `value` into `out`, zero-filling the rest; a value too long for the
// buffer is cut so that the buffer always ends in a zero byte.
void copyValue(char* out, int outSize, const char* value) {
    if (!out || outSize <= 0)
        return;
    strncpy(out, value, static_cast<size_t>(outSize));
    out[outSize - 1] = '\0';
}

// A pending Java exception stops every further JNI call but those that
// handle it; the failed read takes its default instead.
bool clearedException(JNIEnv* env) {
    if (!env->ExceptionCheck())
        return false;
    env->ExceptionClear();
    return true;
}

bool asciiEqualsIgnoreCase(const char* a, const char* b) {
    for (; *a && *b; a++, b++) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

bool switchOn(const char* value) {
    return asciiEqualsIgnoreCase(value, "true") || asciiEqualsIgnoreCase(value, "yes");
}

} // namespace

bool getProperty(JNIEnv* env, jclass cls, const char* key, const char* defaultValue, char* out,
                 int outSize) {
    jmethodID method = env->GetStaticMethodID(
        cls, "getProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    if (!method) {
        clearedException(env);
        logMessage("getProperty", "Could not find method!");
        copyValue(out, outSize, defaultValue);
        return false;
    }
    logMessage("getProperty", "About to call java getProepty with args: '%s', '%s'", key,
               defaultValue);
    // The references are deleted as soon as the read is done: openOSD makes
    // a dozen reads in one native call, more than the local frame promises.
    LocalRef jkey(env, env->NewStringUTF(key));
    if (!jkey.get() && clearedException(env)) {
        copyValue(out, outSize, defaultValue);
        return true;
    }
    LocalRef jdefault(env, env->NewStringUTF(defaultValue));
    if (!jdefault.get() && clearedException(env)) {
        copyValue(out, outSize, defaultValue);
        return true;
    }
    LocalRef value(env, env->CallStaticObjectMethod(cls, method, jkey.get(), jdefault.get()));
    if (clearedException(env) || !value.get()) {
        copyValue(out, outSize, defaultValue);
    } else {
        StringChars chars(env, static_cast<jstring>(value.get()));
        if (!chars.get())
            clearedException(env);
        copyValue(out, outSize, chars.get() ? chars.get() : defaultValue);
    }
    logMessage("getProperty", "Got back: '%s'", outSize > 0 ? out : "");
    return true;
}

void resetSwitches() {
    gStreamAllMpegs = true;
    gScaleOSD = false;
    gVerboseLog = false;
}

int configPlayer(JNIEnv* env, jclass cls) {
    char streamAll[12];
    char scale[12];
    char verbose[12];
    getProperty(env, cls, "tovix/stream_all_mpegs", "true", streamAll, sizeof streamAll);
    getProperty(env, cls, "tovix/scale_osd", "false", scale, sizeof scale);
    getProperty(env, cls, "tovix/verbose_log", "false", verbose, sizeof verbose);

    gStreamAllMpegs = switchOn(streamAll);
    logMessage("configPlayer", "All mpegs %s be streamed from server.",
               gStreamAllMpegs ? "WILL" : "WILL NOT");
    gScaleOSD = switchOn(scale);
    logMessage("configPlayer", "OSD %s be scaled to fit display.", gScaleOSD ? "WILL" : "WILL NOT");
    gVerboseLog = switchOn(verbose);
    logMessage("configPlayer", "Logging %s be verbose.", gVerboseLog ? "WILL" : "WILL NOT");
    return 0;
}
