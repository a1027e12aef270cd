// The fixture of the player's tests: the host's natives on the simulated
// graph's manual clock, with a 5 s clip "clip.mpg" written beforehand.
#pragma once

#include "fake_jni.h"
#include "library_world.h"
#include "natives.h"
#include "stream_writer.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The hint pair of an MPEG file from the host's server.
const jbyte kMpegMajor = 1;
const jbyte kMpegMinor = 31;

class Player : public LibraryWorld {
  protected:
    void SetUp() override {
        LibraryWorld::SetUp();
        simctl::setManualClock(true);
        streamwriter::StreamSpec shape;
        shape.width = 352;
        shape.height = 288;
        shape.seconds = 5;
        ASSERT_TRUE(streamwriter::writeProgramStream("clip.mpg", shape));
    }
    bool open() { return natives::openOSD(env(), cls()) == JNI_TRUE; }
    void load(const std::string& path, jbyte maj = 2, jbyte min = 0, bool shifted = false,
              const char* host = nullptr) {
        natives::load(env(), cls(), maj, min, jni.newString("video/mpeg"), jni.newString(path),
                      host ? jni.newString(host) : nullptr, shifted);
    }
    void free() { Java_org_quencommunity_tovix_TovixAPI_free(env(), cls()); }
    void close() { natives::closeOSD(env(), cls()); }
    bool play() { return Java_org_quencommunity_tovix_TovixAPI_play(env(), cls()) == JNI_TRUE; }
    bool pauseClip() {
        return Java_org_quencommunity_tovix_TovixAPI_pause(env(), cls()) == JNI_TRUE;
    }
    bool stopClip() { return Java_org_quencommunity_tovix_TovixAPI_stop(env(), cls()) == JNI_TRUE; }
    int state() { return Java_org_quencommunity_tovix_TovixAPI_getState(env(), cls()); }
    jlong durationMs() {
        return Java_org_quencommunity_tovix_TovixAPI_getDurationMillis(env(), cls());
    }
    jlong positionMs() {
        return Java_org_quencommunity_tovix_TovixAPI_getMediaTimeMillis(env(), cls());
    }
    // After the tear-down the library holds the decoder filter alone; after
    // the OSD is closed, nothing of the world is left.
    void freeAndClose() {
        free();
        EXPECT_EQ((std::vector<std::string>{"DecoderFilter"}), playerObjects())
            << simctl::describeLiveObjects();
        close();
        EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
    }

    // The host's time-shifted recording: live.mpg, 6 s long, of which the
    // server has written the first 2 s when the OSD is opened and it is
    // loaded.
    static streamwriter::StreamSpec recording() {
        streamwriter::StreamSpec shape;
        shape.seconds = 6;
        return shape;
    }
    void loadRecording(streamwriter::ProgramStreamWriter& writer) {
        ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(2.0)));
        ASSERT_TRUE(open());
        load("live.mpg", kMpegMajor, kMpegMinor, true, "mediaserver");
    }

    // The live objects of the world less the OSD connection's own.
    static std::vector<std::string> playerObjects() {
        std::vector<std::string> names;
        for (const simctl::LiveObject& object : simctl::liveObjects())
            if (object.className.compare(0, 3, "Osd") != 0)
                names.push_back(object.className);
        return names;
    }
};
