// The natives a program drives in the built library, found at run time as
// the host's virtual machine finds them: TovixAPI.dll through LoadLibrary and
// the decorated stdcall names, or libTovixAPI.so through dlopen.
#pragma once

#include <jni.h>

#include <string>

struct SessionNatives {
    jboolean(JNICALL* openOSD)(JNIEnv*, jclass);
    void(JNICALL* closeOSD)(JNIEnv*, jclass);
    jboolean(JNICALL* updateOSD)(JNIEnv*, jclass, jintArray, jint, jint, jint, jint, jint, jint,
                                 jlong, jlong);
    void(JNICALL* load)(JNIEnv*, jclass, jbyte, jbyte, jstring, jstring, jstring, jboolean, jlong);
    void(JNICALL* free)(JNIEnv*, jclass);
    jint(JNICALL* inactiveFile)(JNIEnv*, jclass);
    jboolean(JNICALL* play)(JNIEnv*, jclass);
    jboolean(JNICALL* pause)(JNIEnv*, jclass);
    jboolean(JNICALL* stop)(JNIEnv*, jclass);
    jint(JNICALL* getState)(JNIEnv*, jclass);
    jlong(JNICALL* getDurationMillis)(JNIEnv*, jclass);
    jlong(JNICALL* getMediaTimeMillis)(JNIEnv*, jclass);
    jlong(JNICALL* seek)(JNIEnv*, jclass, jlong);
    jfloat(JNICALL* getPlaybackRate)(JNIEnv*, jclass);
    jfloat(JNICALL* setPlaybackRate)(JNIEnv*, jclass, jfloat);
    jfloat(JNICALL* setVolume)(JNIEnv*, jclass, jfloat);
    jfloat(JNICALL* getVolume)(JNIEnv*, jclass);
    void(JNICALL* setMute)(JNIEnv*, jclass, jboolean);
    jboolean(JNICALL* getMute)(JNIEnv*, jclass);
    void(JNICALL* setVideoRectangles)(JNIEnv*, jclass, jint, jint, jint, jint);
    jint(JNICALL* getVideoWidth)(JNIEnv*, jclass);
    jint(JNICALL* getVideoHeight)(JNIEnv*, jclass);
};

// Loads the library from `folder` (empty: the current folder on Linux, the
// search path on Windows) and fills every member of `natives`; false, with
// the reason in `error`, when the library or a name cannot be found.
bool loadSessionNatives(const std::string& folder, SessionNatives* natives, std::string* error);

// One entry of the lookup: the native's JNI short name (after
// "Java_org_quencommunity_tovix_TovixAPI_"), the byte count of its arguments
// on the 32-bit virtual machine, and where its address goes.
struct NativeSlot {
    const char* name;
    int argumentBytes;
    void** address;
};

// The platform's half of the lookup (load_windows.cpp, load_posix.cpp).
bool loadNatives(const std::string& folder, NativeSlot* slots, int count, std::string* error);

// The process id that names the plug-in log, and a pause in milliseconds.
long processId();
void sleepMs(int ms);
