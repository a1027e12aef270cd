// The whole-session driver shared by the reliability tests.
#include "session.h"

#include "natives.h"
#include "stream_writer.h"

#include "sim/control.h"
#include "sim/control_graph.h"
#include "src/player/player.h"

#include <map>
#include <set>
#include <sstream>

namespace session {

const char kPushFile[] = "session_push.mpg";
const char kRenderFile[] = "session_render.mpg";

namespace {

#define TOVIX_CALL(name, ...) Java_org_quencommunity_tovix_TovixAPI_##name(__VA_ARGS__)

const jbyte kMpegMajor = 1;
const jbyte kMpegMinor = 31;

} // namespace

bool writeMedia() {
    streamwriter::StreamSpec shape;
    shape.width = 352;
    shape.height = 288;
    shape.seconds = 2.0;
    if (!streamwriter::writeProgramStream(kPushFile, shape))
        return false;
    shape.seconds = 1.0;
    return streamwriter::writeProgramStream(kRenderFile, shape);
}

void applySettings(fakejni::FakeJni& jni) {
    jni.setProperty("version", "session 1.0");
    jni.setProperty("tovix/output", "HDTV");
    jni.setProperty("tovix/hdmode", "2");
    jni.setProperty("tovix/standard", "PAL");
    jni.setProperty("tovix/connector", "YUV");
    jni.setProperty("tovix/audio", "SPDIF");
    jni.setProperty("tovix/aspect", "WIDE");
    jni.setProperty("tovix/scale_osd", "yes");
    jni.setProperty("tovix/verbose_log", "true");
}

const char* stageName(Stage stage) {
    switch (stage) {
    case Stage::AfterOpen:
        return "after openOSD";
    case Stage::AfterPushFree:
        return "after free of the streamed file";
    case Stage::AfterRenderFree:
        return "after free of the rendered file";
    case Stage::AfterClose:
        return "after closeOSD";
    }
    return "?";
}

bool sendFrame(fakejni::FakeJni& jni, int width, int height, unsigned seed) {
    std::vector<jint> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (size_t i = 0; i < pixels.size(); i++) {
        unsigned v = static_cast<unsigned>(i) * 2654435761u + seed * 40503u;
        // Opaque colours and a band of transparent ones, as menus have.
        pixels[i] = static_cast<jint>((i % 7 == 0 ? 0u : 0xFF000000u) | (v & 0x00FFFFFFu));
    }
    jintArray array = jni.newIntArray(pixels);
    jboolean shown = TOVIX_CALL(updateOSD, jni.env(), jni.hostClass(), array, width, height, 0, 0,
                                width, height, 0, 0);
    return shown == JNI_TRUE;
}

void playFile(fakejni::FakeJni& jni, const char* path, bool push) {
    JNIEnv* env = jni.env();
    jclass cls = jni.hostClass();
    jstring hint = jni.newString(push ? "video/mpeg" : "video/x-ms-asf");
    jstring file = jni.newString(path);
    jstring host = push ? jni.newString("mediaserver") : nullptr;
    TOVIX_CALL(load, env, cls, push ? kMpegMajor : 2, push ? kMpegMinor : 0, hint, file, host,
               push ? JNI_TRUE : JNI_FALSE, 0);

    TOVIX_CALL(getState, env, cls);
    TOVIX_CALL(getDurationMillis, env, cls);
    TOVIX_CALL(play, env, cls);
    simctl::advanceClock(300);
    TOVIX_CALL(getMediaTimeMillis, env, cls);
    TOVIX_CALL(pause, env, cls);
    TOVIX_CALL(seek, env, cls, 200);
    TOVIX_CALL(play, env, cls);
    TOVIX_CALL(setPlaybackRate, env, cls, 2.0f);
    TOVIX_CALL(getPlaybackRate, env, cls);
    TOVIX_CALL(setVolume, env, cls, 0.5f);
    TOVIX_CALL(getVolume, env, cls);
    TOVIX_CALL(setMute, env, cls, JNI_TRUE);
    TOVIX_CALL(setVolume, env, cls, 0.25f);
    TOVIX_CALL(getMute, env, cls);
    TOVIX_CALL(setMute, env, cls, JNI_FALSE);
    TOVIX_CALL(setVideoRectangles, env, cls, 10, 20, 640, 360);
    TOVIX_CALL(getVideoWidth, env, cls);
    TOVIX_CALL(getVideoHeight, env, cls);
    TOVIX_CALL(setClosedCaptioningState, env, cls, 1);
    TOVIX_CALL(getClosedCaptioningState, env, cls);
    TOVIX_CALL(frameStep, env, cls, 1);
    if (push) {
        // The recording is finished and plays on: the free comes while the
        // demultiplexer's threads, ahead of the card, are held in its
        // Receive.
        TOVIX_CALL(inactiveFile, env, cls);
        simctl::advanceClock(300);
        TOVIX_CALL(getMediaTimeMillis, env, cls);
    } else {
        // Played to its end: the decoder posts its completion. A seek back
        // plays it again, and the free comes while the demultiplexer's
        // threads are held in the decoder's Receive.
        simctl::advanceClock(5000);
        TOVIX_CALL(getState, env, cls);
        TOVIX_CALL(seek, env, cls, 0);
        simctl::advanceClock(300);
        TOVIX_CALL(getState, env, cls);
    }
    TOVIX_CALL(free, env, cls);
}

void run(fakejni::FakeJni& jni, const Checkpoint& checkpoint) {
    JNIEnv* env = jni.env();
    jclass cls = jni.hostClass();
    auto at = [&](Stage stage) {
        if (checkpoint)
            checkpoint(stage);
    };
    TOVIX_CALL(supportsRegionUpdates, env, cls);
    TOVIX_CALL(openOSD, env, cls);
    at(Stage::AfterOpen);
    sendFrame(jni, 64, 48, 1);
    sendFrame(jni, 32, 24, 2);
    sendFrame(jni, 32, 24, 3);

    playFile(jni, kPushFile, true);
    at(Stage::AfterPushFree);
    sendFrame(jni, 48, 16, 4);
    playFile(jni, kRenderFile, false);
    at(Stage::AfterRenderFree);

    TOVIX_CALL(closeOSD, env, cls);
    at(Stage::AfterClose);
}

std::vector<std::string> liveClasses() {
    std::vector<std::string> classes;
    for (const simctl::LiveObject& object : simctl::liveObjects())
        classes.push_back(object.className);
    return classes;
}

std::string leftAfterFree() {
    std::set<std::string> kept = {"DecoderFilter", "OsdEnumerator", "OsdObject"};
    // A set-up that failed keeps what it made, in the library's variables,
    // for the next load; closeOSD lets it go.
    if (!gPlayerInitialized && pGraphBuilder)
        kept.insert({"FilterGraph", "SharedSource", "MpegDemux"});
    std::ostringstream problems;
    std::map<std::string, int> counts;
    for (const simctl::LiveObject& object : simctl::liveObjects()) {
        if (!kept.count(object.className) || ++counts[object.className] > 1)
            problems << "still alive: " << object.className << " refs=" << object.refs << "\n";
    }
    return problems.str();
}

std::string leftAfterClose() {
    std::ostringstream problems;
    for (const simctl::LiveObject& object : simctl::liveObjects())
        problems << "still alive: " << object.className << " refs=" << object.refs << "\n";
    if (simctl::comInitDepth() != 0)
        problems << "COM left initialised " << simctl::comInitDepth() << " deep\n";
    if (simctl::callsIntoUnloadedServers() != 0)
        problems << simctl::callsIntoUnloadedServers()
                 << " calls into objects whose server CoUninitialize had unloaded\n";
    return problems.str();
}

} // namespace session
