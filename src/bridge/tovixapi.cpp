// The native methods of org.quencommunity.tovix.TovixAPI. Each converts the
// host's arguments, calls the operation that does the work and gives back
// every string and array it took before it returns.
#include "../../osdblock/osd_block.h"
#include "../log/jni_guards.h"
#include "../log/loadtime.h"
#include "../log/log.h"
#include "../osd/osd.h"
#include "../platform/exports.h"
#include "../player/audio_video.h"
#include "../player/playback.h"
#include "../player/player.h"
#include "lifecycle.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#define NATIVE(result, name)                                                                       \
    extern "C" JNIEXPORT result JNICALL Java_org_quencommunity_tovix_TovixAPI_##name

namespace {

// Seconds to the host's milliseconds, truncated toward zero. A value the
// player cannot give as a finite number arrives as 0.
jlong toMillis(double seconds) {
    double millis = seconds * 1000.0;
    if (!std::isfinite(millis))
        return 0;
    if (millis >= 9.2e18)
        return INT64_MAX;
    if (millis <= -9.2e18)
        return INT64_MIN;
    return static_cast<jlong>(millis);
}

} // namespace

NATIVE(jboolean, openOSD)(JNIEnv* env, jclass cls) {
    // The entry line is written once the log is open.
    return openOsdInOrder(env, cls) ? JNI_TRUE : JNI_FALSE;
}

NATIVE(void, closeOSD)(JNIEnv*, jclass) {
    logMessage(kNativeTag, "closeOSD");
    closeOsdInOrder();
}

NATIVE(jboolean, supportsRegionUpdates)(JNIEnv*, jclass) {
    logVerbose(kNativeTag, "supportsRegionUpdates");
    return JNI_FALSE;
}

NATIVE(jboolean, updateOSD)
(JNIEnv* env, jclass, jintArray pixels, jint bitmapWidth, jint bitmapHeight, jint updMinX,
 jint updMinY, jint updMaxX, jint updMaxY, jlong, jlong) {
    logVerbose(kNativeTag, "updateOSD");
    if (!pixels) {
        logMessage(kNativeTag, "updateOSD: no pixel array; frame dropped");
        return JNI_FALSE;
    }
    jsize len = env->GetArrayLength(pixels);
    IntArrayElements elements(env, pixels);
    if (!elements.get()) {
        logMessage(kNativeTag,
                   "updateOSD: could not get the pixel array's elements; frame dropped");
        return JNI_FALSE;
    }
    // The rectangle's sides are worked out wide, so that no order of corners
    // can overflow; a negative side, or one beyond what an OSD block can
    // describe, is refused before anything is sized from it.
    int64_t width = static_cast<int64_t>(updMaxX) - updMinX;
    int64_t height = static_cast<int64_t>(updMaxY) - updMinY;
    if (!osdBlockFits(width, height)) {
        logMessage(kNativeTag,
                   "updateOSD: update rectangle (%d, %d)-(%d, %d) is not a valid OSD frame size; "
                   "frame dropped",
                   static_cast<int>(updMinX), static_cast<int>(updMinY), static_cast<int>(updMaxX),
                   static_cast<int>(updMaxY));
        return JNI_FALSE;
    }
    if (static_cast<int64_t>(len) != width * height) {
        logMessage(kNativeTag,
                   "updateOSD: precondition failed: len == (updMaxX-updMinX) * (updMaxY-updMinY) "
                   "(len=%d, rectangle %dx%d); frame dropped",
                   static_cast<int>(len), static_cast<int>(width), static_cast<int>(height));
        return JNI_FALSE;
    }
    if (bitmapWidth != width || bitmapHeight != height) {
        logMessage(kNativeTag,
                   "updateOSD: precondition failed: bitmapWidth == (updMaxX-updMinX) && "
                   "bitmapHeight == (updMaxY-updMinY) (bitmap %dx%d, rectangle %dx%d); frame "
                   "dropped",
                   static_cast<int>(bitmapWidth), static_cast<int>(bitmapHeight),
                   static_cast<int>(width), static_cast<int>(height));
        return JNI_FALSE;
    }
    if (!sizeStagingBuffer(len * 4)) {
        logMessage(kNativeTag,
                   "updateOSD: no memory for a staging buffer of %d bytes; frame dropped",
                   static_cast<int>(len * 4));
        return JNI_FALSE;
    }
    memcpy(gRgbBuffer, elements.get(), static_cast<size_t>(gRgbBufferSize));
    elements.release();
    // Nothing on the frame path reaches the host: a frame the OSD could not
    // show has been logged there, and the host is answered true all the same.
    processOsdImage(gRgbBuffer, bitmapWidth, bitmapHeight);
    return JNI_TRUE;
}

NATIVE(void, load)
(JNIEnv* env, jclass, jbyte maj, jbyte min, jstring encodingHint, jstring jFileName, jstring host,
 jboolean shifted, jlong) {
    if (!encodingHint || !jFileName) {
        logMessage(kNativeTag,
                   "load: precondition failed: encodingHint && jFileName; nothing loaded");
        return;
    }
    // A string the VM cannot hand over leaves an OutOfMemoryError pending,
    // and no JNI call but giving back may follow it. Whichever string it is,
    // the load ends there and the error reaches the host.
    StringChars hint(env, encodingHint);
    StringChars path(env, hint.get() ? jFileName : nullptr);
    if (!path.get()) {
        logMessage(kNativeTag, "load: could not read the file name or hint; nothing loaded");
        hint.release();
        return;
    }
    // A host name the VM could not hand over ends the load too: the error
    // stays pending for the host, and only what was taken is given back.
    StringChars hostText(env, host);
    if (host && !hostText.get()) {
        logMessage(kNativeTag, "load: could not read the host name; nothing loaded");
        path.release();
        hint.release();
        return;
    }
    int major = maj;
    int minor = min;
    bool isShifted = shifted != JNI_FALSE;
    logMessage(kNativeTag, "load shifted=%s maj=%d min=%d hint='%s' file='%s' host='%s'",
               isShifted ? "true" : "false", major, minor, hint.get(), path.get(),
               hostText.get() ? hostText.get() : "NULL");
    loadInOrder(path.get(), hostText.get(), isShifted, major, minor);
    // The host expects its strings back in this order.
    path.release();
    hostText.release();
    hint.release();
}

NATIVE(jobject, getFile)(JNIEnv*, jclass) {
    return nullptr;
}

NATIVE(void, free)(JNIEnv*, jclass) {
    logMessage(kNativeTag, "free");
    releaseTovixPlayer();
}

NATIVE(jint, inactiveFile)(JNIEnv*, jclass) {
    logMessage(kNativeTag, "inactiveFile");
    return inactiveFile();
}

NATIVE(jboolean, pause)(JNIEnv*, jclass) {
    logMessage(kNativeTag, "pause");
    return pause() ? JNI_TRUE : JNI_FALSE;
}

NATIVE(jboolean, play)(JNIEnv*, jclass) {
    logMessage(kNativeTag, "play");
    return play() ? JNI_TRUE : JNI_FALSE;
}

NATIVE(jboolean, stop)(JNIEnv*, jclass) {
    logMessage(kNativeTag, "stop");
    return stop() ? JNI_TRUE : JNI_FALSE;
}

NATIVE(jint, frameStep)(JNIEnv*, jclass, jint frames) {
    return step(frames);
}

NATIVE(jint, getState)(JNIEnv*, jclass) {
    logVerbose(kNativeTag, "getState");
    return getState();
}

NATIVE(jlong, getDurationMillis)(JNIEnv*, jclass) {
    logVerbose(kNativeTag, "getDurationMillis");
    return toMillis(getDuration());
}

NATIVE(jlong, getMediaTimeMillis)(JNIEnv*, jclass) {
    logVerbose(kNativeTag, "getMediaTimeMillis");
    return toMillis(getCurrentPosition());
}

NATIVE(jfloat, getPlaybackRate)(JNIEnv*, jclass) {
    logVerbose(kNativeTag, "getPlaybackRate");
    return static_cast<jfloat>(getRate());
}

NATIVE(jfloat, setPlaybackRate)(JNIEnv*, jclass, jfloat rate) {
    return static_cast<jfloat>(setRate(rate));
}

NATIVE(jlong, seek)(JNIEnv*, jclass, jlong millis) {
    logMessage(kNativeTag, "seek");
    setCurrentPosition(static_cast<double>(millis) * 0.001);
    return millis;
}

NATIVE(void, setVideoRectangles)(JNIEnv*, jclass, jint left, jint top, jint width, jint height) {
    logVerbose(kNativeTag, "setVideoRectangles");
    setDestination(left, top, width, height);
}

NATIVE(jboolean, getMute)(JNIEnv*, jclass) {
    logVerbose(kNativeTag, "%s", "");
    return getMute() ? JNI_TRUE : JNI_FALSE;
}

NATIVE(void, setMute)(JNIEnv*, jclass, jboolean mute) {
    logVerbose(kNativeTag, "setMute");
    setMute(mute != JNI_FALSE);
}

NATIVE(jfloat, getVolume)(JNIEnv*, jclass) {
    logVerbose(kNativeTag, "getVolume");
    return getVolume();
}

NATIVE(jfloat, setVolume)(JNIEnv*, jclass, jfloat level) {
    logVerbose(kNativeTag, "setVolume");
    return setVolume(level);
}

NATIVE(jboolean, setClosedCaptioningState)(JNIEnv*, jclass, jint state) {
    logVerbose(kNativeTag, "setClosedCaptioningState");
    return setCC(state) ? JNI_TRUE : JNI_FALSE;
}

NATIVE(jint, getClosedCaptioningState)(JNIEnv*, jclass) {
    logVerbose(kNativeTag, "getClosedCaptioningState");
    return getCC();
}

NATIVE(jint, getVideoWidth)(JNIEnv*, jclass) {
    return videoWidth();
}

NATIVE(jint, getVideoHeight)(JNIEnv*, jclass) {
    return videoHeight();
}
