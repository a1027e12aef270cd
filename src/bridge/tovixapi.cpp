// The native methods of org.quencommunity.tovix.TovixAPI. Each converts the
// host's arguments, calls the operation that does the work and gives back
// every string and array it took before it returns.
#include "../card/modes.h"
#include "../log/log.h"
#include "../osd/osd.h"
#include "../platform/exports.h"
#include "../player/audio_video.h"
#include "../player/playback.h"
#include "../player/player.h"
#include "jni_guards.h"
#include "loadtime.h"
#include "properties.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#define NATIVE(result, name) extern "C" JNIEXPORT result JNICALL Java_org_quencommunity_tovix_TovixAPI_##name

namespace {

const char kTag[] = "TOVIXAPI";

// The largest frame an OSD block can describe: 65535 pixels a side and a
// block length below 2^24.
const int64_t kMaxOsdSide = 65535;
const int64_t kMaxOsdPixels = 16776183;

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

// Makes the staging buffer exactly `size` bytes; false when it cannot be had.
bool sizeStagingBuffer(int32_t size) {
    if (size == gRgbBufferSize && gRgbBuffer)
        return true;
    delete[] gRgbBuffer;
    gRgbBuffer = new (std::nothrow) unsigned char[static_cast<size_t>(size)];
    gRgbBufferSize = gRgbBuffer ? size : 0;
    return gRgbBuffer != nullptr;
}

// The OSD's closing ends with CoUninitialize, which unloads the code of
// every component this thread loaded: nothing of the player may be called
// after it. A player still set up is torn down first, as free would; what a
// failed set-up kept for the next load goes too, since its graph would go
// on holding the decoder filter that the closing lets go.
void releasePlayerBeforeCom() {
    if (gPlayerInitialized)
        releaseTovixPlayer();
    else if (pGraphBuilder || pSourceFilter || pSharedAsync || pDemuxFilter)
        releaseFilters();
}

} // namespace

NATIVE(jboolean, openOSD)(JNIEnv* env, jclass cls) {
    openLogs(env, cls);
    logMessage(kTag, "openOSD");
    configPlayer(env, cls);
    setupModes(env, cls);
    HRESULT hr = setupTovixOsd();
    return hr >= 0 ? JNI_TRUE : JNI_FALSE;
}

NATIVE(void, closeOSD)(JNIEnv*, jclass) {
    logMessage(kTag, "closeOSD");
    releasePlayerBeforeCom();
    releaseTovixOsd();
}

NATIVE(jboolean, supportsRegionUpdates)(JNIEnv*, jclass) {
    logVerbose(kTag, "supportsRegionUpdates");
    return JNI_FALSE;
}

NATIVE(jboolean, updateOSD)
(JNIEnv* env, jclass, jintArray pixels, jint bitmapWidth, jint bitmapHeight, jint updMinX,
 jint updMinY, jint updMaxX, jint updMaxY, jlong, jlong) {
    logVerbose(kTag, "updateOSD");
    if (!pixels) {
        logMessage(kTag, "updateOSD: no pixel array; frame dropped");
        return JNI_FALSE;
    }
    jsize len = env->GetArrayLength(pixels);
    IntArrayElements elements(env, pixels);
    if (!elements.get()) {
        logMessage(kTag, "updateOSD: could not get the pixel array's elements; frame dropped");
        return JNI_FALSE;
    }
    // The rectangle's sides are worked out wide, so that no order of corners
    // can overflow; a negative side, or one beyond what an OSD block can
    // describe, is refused before anything is sized from it.
    int64_t width = static_cast<int64_t>(updMaxX) - updMinX;
    int64_t height = static_cast<int64_t>(updMaxY) - updMinY;
    if (width < 0 || height < 0 || width > kMaxOsdSide || height > kMaxOsdSide ||
        width * height > kMaxOsdPixels) {
        logMessage(kTag,
                   "updateOSD: update rectangle (%d, %d)-(%d, %d) is not a valid OSD frame size; "
                   "frame dropped",
                   static_cast<int>(updMinX), static_cast<int>(updMinY),
                   static_cast<int>(updMaxX), static_cast<int>(updMaxY));
        return JNI_FALSE;
    }
    if (static_cast<int64_t>(len) != width * height) {
        logMessage(kTag,
                   "updateOSD: precondition failed: len == (updMaxX-updMinX) * (updMaxY-updMinY) "
                   "(len=%d, rectangle %dx%d); frame dropped",
                   static_cast<int>(len), static_cast<int>(width), static_cast<int>(height));
        return JNI_FALSE;
    }
    if (bitmapWidth != width || bitmapHeight != height) {
        logMessage(kTag,
                   "updateOSD: precondition failed: bitmapWidth == (updMaxX-updMinX) && "
                   "bitmapHeight == (updMaxY-updMinY) (bitmap %dx%d, rectangle %dx%d); frame "
                   "dropped",
                   static_cast<int>(bitmapWidth), static_cast<int>(bitmapHeight),
                   static_cast<int>(width), static_cast<int>(height));
        return JNI_FALSE;
    }
    if (!sizeStagingBuffer(len * 4)) {
        logMessage(kTag, "updateOSD: no memory for a staging buffer of %d bytes; frame dropped",
                   static_cast<int>(len * 4));
        return JNI_FALSE;
    }
    memcpy(gRgbBuffer, elements.get(), static_cast<size_t>(gRgbBufferSize));
    elements.release();
    // Only a frame the quantiser could not reduce is reported; a frame
    // dropped for want of the OSD answers true, as the host expects.
    HRESULT hr = processOsdImage(gRgbBuffer, bitmapWidth, bitmapHeight);
    return SUCCEEDED(hr) ? JNI_TRUE : JNI_FALSE;
}

NATIVE(void, load)
(JNIEnv* env, jclass, jbyte maj, jbyte min, jstring encodingHint, jstring jFileName, jstring host,
 jboolean shifted, jlong) {
    if (!encodingHint || !jFileName) {
        logMessage(kTag, "load: precondition failed: encodingHint && jFileName; nothing loaded");
        return;
    }
    // A string the VM cannot hand over leaves an OutOfMemoryError pending,
    // and no JNI call but giving back may follow it. A missing hint or file
    // name ends the load, and the error reaches the host; a missing host
    // name is a load without one, as for a null host.
    StringChars hint(env, encodingHint);
    StringChars path(env, hint.get() ? jFileName : nullptr);
    if (!path.get()) {
        logMessage(kTag, "load: could not read the file name or hint; nothing loaded");
        hint.release();
        return;
    }
    StringChars hostText(env, host);
    if (host && !hostText.get())
        env->ExceptionClear();
    int major = maj;
    int minor = min;
    bool isShifted = shifted != JNI_FALSE;
    logMessage(kTag, "load shifted=%s maj=%d min=%d hint='%s' file='%s' host='%s'",
               isShifted ? "true" : "false", major, minor, hint.get(), path.get(),
               hostText.get() ? hostText.get() : "NULL");
    if (setupTovixPlayer(major, minor, isShifted) >= 0)
        openFile(path.get(), hostText.get(), isShifted, major, minor);
    // The host expects its strings back in this order.
    path.release();
    hostText.release();
    hint.release();
}

NATIVE(jobject, getFile)(JNIEnv*, jclass) { return nullptr; }

NATIVE(void, free)(JNIEnv*, jclass) {
    logMessage(kTag, "free");
    releaseTovixPlayer();
}

NATIVE(jint, inactiveFile)(JNIEnv*, jclass) {
    logMessage(kTag, "inactiveFile");
    return inactiveFile();
}

NATIVE(jboolean, pause)(JNIEnv*, jclass) {
    logMessage(kTag, "pause");
    return pause() ? JNI_TRUE : JNI_FALSE;
}

NATIVE(jboolean, play)(JNIEnv*, jclass) {
    logMessage(kTag, "play");
    return play() ? JNI_TRUE : JNI_FALSE;
}

NATIVE(jboolean, stop)(JNIEnv*, jclass) {
    logMessage(kTag, "stop");
    return stop() ? JNI_TRUE : JNI_FALSE;
}

NATIVE(jint, frameStep)(JNIEnv*, jclass, jint frames) { return step(frames); }

NATIVE(jint, getState)(JNIEnv*, jclass) {
    logVerbose(kTag, "getState");
    return getState();
}

NATIVE(jlong, getDurationMillis)(JNIEnv*, jclass) {
    logVerbose(kTag, "getDurationMillis");
    return toMillis(getDuration());
}

NATIVE(jlong, getMediaTimeMillis)(JNIEnv*, jclass) {
    logVerbose(kTag, "getMediaTimeMillis");
    return toMillis(getCurrentPosition());
}

NATIVE(jfloat, getPlaybackRate)(JNIEnv*, jclass) {
    logVerbose(kTag, "getPlaybackRate");
    return static_cast<jfloat>(getRate());
}

NATIVE(jfloat, setPlaybackRate)(JNIEnv*, jclass, jfloat rate) {
    return static_cast<jfloat>(setRate(rate));
}

NATIVE(jlong, seek)(JNIEnv*, jclass, jlong millis) {
    logMessage(kTag, "seek");
    setCurrentPosition(static_cast<double>(millis) * 0.001);
    return millis;
}

NATIVE(void, setVideoRectangles)(JNIEnv*, jclass, jint left, jint top, jint width, jint height) {
    logVerbose(kTag, "setVideoRectangles");
    setDestination(left, top, width, height);
}

NATIVE(jboolean, getMute)(JNIEnv*, jclass) {
    logVerbose(kTag, "%s", "");
    return getMute() ? JNI_TRUE : JNI_FALSE;
}

NATIVE(void, setMute)(JNIEnv*, jclass, jboolean mute) {
    logVerbose(kTag, "setMute");
    setMute(mute != JNI_FALSE);
}

NATIVE(jfloat, getVolume)(JNIEnv*, jclass) {
    logVerbose(kTag, "getVolume");
    return getVolume();
}

NATIVE(jfloat, setVolume)(JNIEnv*, jclass, jfloat level) {
    logVerbose(kTag, "setVolume");
    return setVolume(level);
}

NATIVE(jboolean, setClosedCaptioningState)(JNIEnv*, jclass, jint state) {
    logVerbose(kTag, "setClosedCaptioningState");
    return setCC(state) ? JNI_TRUE : JNI_FALSE;
}

NATIVE(jint, getClosedCaptioningState)(JNIEnv*, jclass) {
    logVerbose(kTag, "getClosedCaptioningState");
    return getCC();
}

NATIVE(jint, getVideoWidth)(JNIEnv*, jclass) { return videoWidth(); }

NATIVE(jint, getVideoHeight)(JNIEnv*, jclass) { return videoHeight(); }
