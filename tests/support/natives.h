// The host's natives as the library defines them, for calling from tests.
#pragma once

#include <jni.h>

#define TOVIX_NATIVE(result, name, ...)                                                            \
    extern "C" JNIEXPORT result JNICALL Java_org_quencommunity_tovix_TovixAPI_##name(              \
        JNIEnv*, jclass, ##__VA_ARGS__)

TOVIX_NATIVE(jboolean, openOSD);
TOVIX_NATIVE(void, closeOSD);
TOVIX_NATIVE(jboolean, supportsRegionUpdates);
TOVIX_NATIVE(jboolean, updateOSD, jintArray, jint, jint, jint, jint, jint, jint, jlong, jlong);
TOVIX_NATIVE(void, load, jbyte, jbyte, jstring, jstring, jstring, jboolean, jlong);
TOVIX_NATIVE(jobject, getFile);
TOVIX_NATIVE(void, free);
TOVIX_NATIVE(jint, inactiveFile);
TOVIX_NATIVE(jboolean, pause);
TOVIX_NATIVE(jboolean, play);
TOVIX_NATIVE(jboolean, stop);
TOVIX_NATIVE(jint, frameStep, jint);
TOVIX_NATIVE(jint, getState);
TOVIX_NATIVE(jlong, getDurationMillis);
TOVIX_NATIVE(jlong, getMediaTimeMillis);
TOVIX_NATIVE(jfloat, getPlaybackRate);
TOVIX_NATIVE(jfloat, setPlaybackRate, jfloat);
TOVIX_NATIVE(jlong, seek, jlong);
TOVIX_NATIVE(void, setVideoRectangles, jint, jint, jint, jint);
TOVIX_NATIVE(jboolean, getMute);
TOVIX_NATIVE(void, setMute, jboolean);
TOVIX_NATIVE(jfloat, getVolume);
TOVIX_NATIVE(jfloat, setVolume, jfloat);
TOVIX_NATIVE(jboolean, setClosedCaptioningState, jint);
TOVIX_NATIVE(jint, getClosedCaptioningState);
TOVIX_NATIVE(jint, getVideoWidth);
TOVIX_NATIVE(jint, getVideoHeight);

#undef TOVIX_NATIVE

// Short names for tests.
namespace natives {
inline jboolean openOSD(JNIEnv* env, jclass cls) {
    return Java_org_quencommunity_tovix_TovixAPI_openOSD(env, cls);
}
inline void closeOSD(JNIEnv* env, jclass cls) {
    Java_org_quencommunity_tovix_TovixAPI_closeOSD(env, cls);
}
inline jboolean updateOSD(JNIEnv* env, jclass cls, jintArray pixels, jint width, jint height,
                          jint minX, jint minY, jint maxX, jint maxY) {
    return Java_org_quencommunity_tovix_TovixAPI_updateOSD(env, cls, pixels, width, height, minX,
                                                           minY, maxX, maxY, 0, 0);
}
inline void load(JNIEnv* env, jclass cls, jbyte maj, jbyte min, jstring hint, jstring file,
                 jstring host, bool shifted) {
    Java_org_quencommunity_tovix_TovixAPI_load(env, cls, maj, min, hint, file, host,
                                               shifted ? JNI_TRUE : JNI_FALSE, 0);
}
} // namespace natives
