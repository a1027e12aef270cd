// One whole host session against the built library, as the host's virtual
// machine would drive it: open the OSD with settings, show OSD frames, load a
// generated MPEG-2 program stream through the push graph, play it to the
// end, seek, set the volume and mute, free the player; then a recording
// still being written, loaded time-shifted, played while it grows and to its
// end once the host says the file is complete; then finished files through
// the rendered graph (RenderFile around the decoder: the card's
// demultiplexer found by its registration), an MPEG-2 program stream and an
// MPEG-1 system stream, each played to its end with a seek and the volume;
// close the OSD.
//
// The same program runs natively against libTovixAPI.so (the simulated
// world) and under Wine against TovixAPI.dll (Wine's COM runtime and filter
// graph manager, the card's components from the registered tovixsim.dll).
// It checks what the host would see and writes the plug-in log, time stamps
// masked, for the two runs to be compared.
//
// Usage: tovix_session <library folder> <masked log out>
#include "checks.h"
#include "fake_jni.h"
#include "loaded_natives.h"
#include "plugin_log.h"
#include "stream_writer.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

using checks::check;

const char* kStreamFile = "session.mpg";
const double kStreamSeconds = 1.5;
const char* kRecordingFile = "recording.mpg";
const double kRecordingSeconds = 2.0;
const int kEndedState = 5;

bool near(double value, double wanted, double tolerance) {
    return std::fabs(value - wanted) <= tolerance;
}

// An OSD frame as the host draws one: a transparent screen with a
// translucent panel and an opaque bar whose position tells frames apart.
std::vector<jint> osdFrame(int width, int height, int barLeft) {
    std::vector<jint> pixels(static_cast<size_t>(width) * height, 0);
    for (int y = 300; y < 420; y++)
        for (int x = 40; x < width - 40; x++)
            pixels[static_cast<size_t>(y) * width + x] = static_cast<jint>(0xC0203060u);
    for (int y = 340; y < 380; y++)
        for (int x = barLeft; x < barLeft + 200; x++)
            pixels[static_cast<size_t>(y) * width + x] = static_cast<jint>(0xFFF0C020u);
    return pixels;
}

// Waits for the playback state, asking as the host's player loop does.
bool waitForState(const SessionNatives& n, JNIEnv* env, jclass cls, int state, int limitMs) {
    for (int waited = 0; waited <= limitMs; waited += 50) {
        if (n.getState(env, cls) == state)
            return true;
        sleepMs(50);
    }
    return false;
}

// A finished file through the rendered graph: opened, its length and
// picture, the volume, played, paused and sought, then played to its end.
void playRendered(const SessionNatives& n, fakejni::FakeJni& jni, const char* file,
                  const streamwriter::StreamSpec& shape) {
    JNIEnv* env = jni.env();
    jclass cls = jni.hostClass();
    std::string name = file;
    if (!streamwriter::writeProgramStream(file, shape)) {
        check(false, "cannot write " + name);
        return;
    }
    n.load(env, cls, 2, 0, jni.newString("video/mpeg"), jni.newString(file),
           jni.newString("mediaserver"), JNI_FALSE, 0);
    check(n.getState(env, cls) == 1, name + " is open through RenderFile (state 1)");
    jlong duration = n.getDurationMillis(env, cls);
    check(near(static_cast<double>(duration), shape.seconds * 1000, 50),
          name + ": duration " + std::to_string(duration) + " ms is the stream's");
    check(n.getVideoWidth(env, cls) == shape.width && n.getVideoHeight(env, cls) == shape.height,
          name + ": the video size is the stream's");
    check(near(n.setVolume(env, cls, 0.25f), 0.25, 0.01), name + ": setVolume(0.25) stores 0.25");
    check(n.play(env, cls) == JNI_TRUE, name + ": play answers true");
    sleepMs(300);
    check(n.pause(env, cls) == JNI_TRUE, name + ": pause answers true");
    check(n.seek(env, cls, 400) == 400, name + ": seek answers its millis");
    jlong sought = n.getMediaTimeMillis(env, cls);
    check(near(static_cast<double>(sought), 400, 20),
          name + ": the position after seeking to 400 ms is " + std::to_string(sought) + " ms");
    check(n.play(env, cls) == JNI_TRUE, name + ": play after the seek answers true");
    check(waitForState(n, env, cls, kEndedState, static_cast<int>(duration) + 5000),
          name + " plays to its end (state 5)");
    check(near(n.getVolume(env, cls), 0.25, 0.01), name + ": the volume is still 0.25");
    n.free(env, cls);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s <library folder> <masked log out>\n", argv[0]);
        return 2;
    }
    SessionNatives n{};
    std::string error;
    if (!loadSessionNatives(argv[1], &n, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }

    streamwriter::StreamSpec shape;
    shape.seconds = kStreamSeconds;
    if (!streamwriter::writeProgramStream(kStreamFile, shape)) {
        fprintf(stderr, "cannot write %s\n", kStreamFile);
        return 2;
    }

    fakejni::FakeJni jni;
    jni.setProperty("version", "7.1.9 session");
    jni.setProperty("wizard/widget_db_file", "session.qtv");
    jni.setProperty("tovix/scale_osd", "true");
    JNIEnv* env = jni.env();
    jclass cls = jni.hostClass();

    check(n.openOSD(env, cls) == JNI_TRUE, "openOSD answers true");
    for (int barLeft : {60, 260}) {
        std::vector<jint> frame = osdFrame(720, 480, barLeft);
        jintArray pixels = jni.newIntArray(frame);
        check(n.updateOSD(env, cls, pixels, 720, 480, 0, 0, 720, 480, 0, 0) == JNI_TRUE,
              "updateOSD answers true");
    }

    n.load(env, cls, 1, 31, jni.newString("video/mpeg"), jni.newString(kStreamFile),
           jni.newString("mediaserver"), JNI_FALSE, 0);
    check(n.getState(env, cls) == 1, "the loaded file is open (state 1)");
    jlong duration = n.getDurationMillis(env, cls);
    check(near(static_cast<double>(duration), kStreamSeconds * 1000, 50),
          "duration " + std::to_string(duration) + " ms is the stream's");
    check(n.getVideoWidth(env, cls) == 720 && n.getVideoHeight(env, cls) == 480,
          "the video size is the stream's 720x480");
    check(near(n.setVolume(env, cls, 0.5f), 0.5, 0.01), "setVolume(0.5) stores 0.5");
    check(near(n.getVolume(env, cls), 0.5, 0.01), "getVolume answers 0.5");
    n.setMute(env, cls, JNI_TRUE);
    check(n.getMute(env, cls) == JNI_TRUE, "muted");
    n.setMute(env, cls, JNI_FALSE);
    check(n.getMute(env, cls) == JNI_FALSE, "unmuted");
    n.setVideoRectangles(env, cls, 0, 0, 720, 480);

    check(n.play(env, cls) == JNI_TRUE, "play answers true");
    check(n.getState(env, cls) == 2, "playing (state 2)");
    sleepMs(400);
    check(n.pause(env, cls) == JNI_TRUE, "pause answers true");
    check(n.getState(env, cls) == 3, "paused (state 3)");
    jlong paused = n.getMediaTimeMillis(env, cls);
    check(paused >= 200 && paused < duration,
          "the position when paused after 400 ms is " + std::to_string(paused) + " ms");
    check(n.seek(env, cls, 500) == 500, "seek answers its millis");
    jlong sought = n.getMediaTimeMillis(env, cls);
    check(near(static_cast<double>(sought), 500, 20),
          "the position after seeking to 500 ms is " + std::to_string(sought) + " ms");

    check(n.play(env, cls) == JNI_TRUE, "play after pause answers true");
    check(waitForState(n, env, cls, kEndedState, static_cast<int>(duration) + 5000),
          "the stream plays to its end (state 5)");
    jlong end = n.getMediaTimeMillis(env, cls);
    check(near(static_cast<double>(end), static_cast<double>(duration), 100),
          "the position at the end, " + std::to_string(end) + " ms, is the duration");

    n.free(env, cls);

    // A recording: half of it is on disk when the host loads it; the rest
    // lands while it plays, then the host says the file is complete.
    streamwriter::StreamSpec recordingSpec;
    recordingSpec.seconds = kRecordingSeconds;
    streamwriter::ProgramStreamWriter recording(recordingSpec);
    if (!streamwriter::appendBytes(kRecordingFile, recording.until(kRecordingSeconds / 2))) {
        fprintf(stderr, "cannot write %s\n", kRecordingFile);
        return 2;
    }
    n.load(env, cls, 1, 31, jni.newString("video/mpeg"), jni.newString(kRecordingFile),
           jni.newString("mediaserver"), JNI_TRUE, 0);
    check(n.getState(env, cls) == 1, "the recording is open (state 1)");
    check(n.play(env, cls) == JNI_TRUE, "play of the recording answers true");
    sleepMs(300);
    check(streamwriter::appendBytes(kRecordingFile, recording.rest()), "the recording grew");
    check(n.inactiveFile(env, cls) == 0, "inactiveFile answers S_OK");
    sleepMs(1200);
    jlong grown = n.getMediaTimeMillis(env, cls);
    check(grown > 1100 && grown <= kRecordingSeconds * 1000,
          "the position 1.5 s into the recording, " + std::to_string(grown) +
              " ms, is past what was on disk at load");
    check(waitForState(n, env, cls, kEndedState, static_cast<int>(kRecordingSeconds * 1000) + 5000),
          "the recording plays to its end (state 5)");
    // The position once the end has come is not compared: Wine's graph
    // manager then answers the stop position it read at Run, when only half
    // of the recording was on disk.
    jlong recorded = n.getDurationMillis(env, cls);
    check(near(static_cast<double>(recorded), kRecordingSeconds * 1000, 50),
          "the recording's duration " + std::to_string(recorded) + " ms is all of it");
    n.free(env, cls);

    streamwriter::StreamSpec program;
    program.seconds = kStreamSeconds;
    playRendered(n, jni, "rendered.mpg", program);
    streamwriter::StreamSpec system = program;
    system.mpeg1 = true;
    system.width = 352;
    system.height = 240;
    playRendered(n, jni, "rendered-mpeg1.mpg", system);
    n.closeOSD(env, cls);

    check(jni.outstanding() == 0, "every string and array was given back");
    for (const std::string& v : jni.violations())
        check(false, "JNI misuse: " + v);
    check(testlog::writeMaskedPluginLog(argv[2]),
          std::string("the masked log was written to ") + argv[2]);

    return checks::verdict();
}
