// Playback through the host's natives, the graphs themselves: every call
// before a file is open, the rendered graph around the card's decoder filter,
// the push graph through the shared source and the demultiplexer, a growing
// file, the tear-down, and the paths the host sends.
#include "fake_jni.h"
#include "fault_lines.h"
#include "natives.h"
#include "player_world.h"
#include "plugin_log.h"
#include "stream_writer.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"
#include "src/card/modes.h"
#include "src/log/loadtime.h"
#include "src/log/properties.h"
#include "src/player/audio_video.h"
#include "src/player/playback.h"
#include "src/player/player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

namespace {

using streamwriter::StreamSpec;
using testlog::line;
using testlog::logCount;
using testlog::logCountStarting;
using testlog::logHas;
using testlog::logHasError;
using testlog::logHasStart;

// ---- Before anything is open ------------------------------------------------------

TEST_F(Player, WithoutAFileEveryCallAnswersNeutrallyWithItsMessage) {
    ASSERT_TRUE(open());
    EXPECT_EQ(0, state());
    EXPECT_EQ(0, durationMs());
    EXPECT_TRUE(logHas(line("getDuration", "Can not get clip duration because media position "
                                           "interface is unavailable!!")));
    EXPECT_FALSE(play());
    EXPECT_TRUE(logHas(
        line("play", "Can not play clip because media control interface is not available!!")));
    EXPECT_FALSE(pauseClip());
    EXPECT_TRUE(logHas(
        line("pause", "Can not pause clip because media control interface is not available!!")));
    EXPECT_FALSE(stopClip());
    EXPECT_TRUE(logHas(
        line("stop", "Can not stop clip because media control interface is not available!!")));
    EXPECT_EQ(0, positionMs());
    EXPECT_TRUE(logHas(line("getCurrentPosition", "Can not get current position in clip because "
                                                  "media position interface is unavailable!!")));
    Java_org_quencommunity_tovix_TovixAPI_seek(env(), cls(), 1500);
    EXPECT_TRUE(logHas(line("setCurrentPosition", "Can not set current position in clip because "
                                                  "media position interface is unavailable!!")));
    EXPECT_EQ(0.0f, Java_org_quencommunity_tovix_TovixAPI_setPlaybackRate(env(), cls(), 2.0f));
    EXPECT_TRUE(logHas(line(
        "getRate", "Can not get clip rate because media position interface is unavailable!!")));
    EXPECT_TRUE(logHas(line(
        "setRate", "Can not set clip rate because media position interface is unavailable!!")));
    EXPECT_EQ(E_FAIL, Java_org_quencommunity_tovix_TovixAPI_frameStep(env(), cls(), 3));

    size_t lines = testlog::readPluginLog().size();
    EXPECT_EQ(0.0f, Java_org_quencommunity_tovix_TovixAPI_getVolume(env(), cls()));
    EXPECT_EQ(lines, testlog::readPluginLog().size()) << "no line for the stored volume";
    EXPECT_EQ(720, Java_org_quencommunity_tovix_TovixAPI_getVideoWidth(env(), cls()));
    EXPECT_EQ(480, Java_org_quencommunity_tovix_TovixAPI_getVideoHeight(env(), cls()));
    EXPECT_TRUE(logHas(line("TOVIXAPI", "getVideoWidth: no basic video interface!")));
    EXPECT_TRUE(logHas(line("TOVIXAPI", "getVideoHeight: no basic video interface!")));
    Java_org_quencommunity_tovix_TovixAPI_setVideoRectangles(env(), cls(), 0, 0, 100, 100);
    EXPECT_TRUE(logHas(line("setDestination", "Can not set desitination area because basic "
                                              "video interface is unavailable!!")));
    EXPECT_EQ(JNI_TRUE,
              Java_org_quencommunity_tovix_TovixAPI_setClosedCaptioningState(env(), cls(), 5));
    EXPECT_EQ(5, Java_org_quencommunity_tovix_TovixAPI_getClosedCaptioningState(env(), cls()));
    EXPECT_EQ(0, Java_org_quencommunity_tovix_TovixAPI_inactiveFile(env(), cls()));

    cleanupGraph();
    EXPECT_TRUE(logHas(line("cleanupGraph", "Could not cleanup graph because either decoder "
                                            "filter or graph builder were unavailable")));
    free();
    free();
    EXPECT_EQ(2, logCount(line("releaseTovixPlayer", "Entering release...")));
    EXPECT_FALSE(logHas(line("releaseTovixPlayer", "After stop...")));
    close();
    EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
}

// ---- The rendered graph -----------------------------------------------------------

TEST_F(Player, ARenderedFilePlaysToItsEndOnTheClock) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(logHas(line("openFile", "Automatically building graph for file clip.mpg")));
    EXPECT_TRUE(logHas(line("getGraphInterfaces", "Media seeking capabilities = 3F")));
    EXPECT_EQ((std::vector<std::string>{"MPEG DeMux", "clip.mpg", "Sigma Decoder"}),
              simctl::graphFilterNames())
        << "the video renderer behind the overlay pin is gone";
    EXPECT_TRUE(logHas(line("logFilter", "FILTER 1: MPEG DeMux")));
    EXPECT_TRUE(logHas(line("logFilter", "FILTER 3: Sigma Decoder")));
    EXPECT_FALSE(gStreaming);
    EXPECT_EQ(1, state());
    EXPECT_EQ(5000, durationMs());
    EXPECT_EQ(352, Java_org_quencommunity_tovix_TovixAPI_getVideoWidth(env(), cls()));
    EXPECT_EQ(288, Java_org_quencommunity_tovix_TovixAPI_getVideoHeight(env(), cls()));

    EXPECT_FALSE(pauseClip()) << "only a playing clip pauses";
    EXPECT_TRUE(play());
    EXPECT_EQ(2, state());
    EXPECT_FALSE(play()) << "already playing";
    simctl::advanceClock(1250);
    EXPECT_EQ(1250, positionMs());
    EXPECT_TRUE(pauseClip());
    EXPECT_FALSE(pauseClip());
    EXPECT_EQ(3, state());
    simctl::advanceClock(1000);
    EXPECT_EQ(1250, positionMs());
    EXPECT_TRUE(play());
    simctl::advanceClock(4000);
    EXPECT_EQ(5, state());
    EXPECT_TRUE(logHas(line("updateState", "Received media event 1(0, 0)")));
    EXPECT_FALSE(play());
    EXPECT_FALSE(stopClip());
    EXPECT_EQ(5000, positionMs()) << "a finished clip is still asked";
    Java_org_quencommunity_tovix_TovixAPI_seek(env(), cls(), 1000);
    EXPECT_EQ(1000, positionMs());
    EXPECT_EQ(2, state()) << "the seek restarted the running graph";
    simctl::advanceClock(4500);
    EXPECT_EQ(5, state());

    freeAndClose();
    EXPECT_TRUE(logHas(line("releaseTovixPlayer", "After completion wait...")));
    EXPECT_EQ(5, state()) << "the tear-down does not reset the state";
}

TEST_F(Player, ASecondLoadStopsThePlayingClipAndAStoppedClipAnswersNothing) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(play());
    simctl::advanceClock(2000);
    // Without a free the decoder's pins are still taken: the clip is
    // stopped first, and the new file's video finds nothing to render it
    // (its audio goes to the PC's sound device).
    load("clip.mpg");
    EXPECT_TRUE(
        logHasError("openFile", "Could not render file 'clip.mpg'", VFW_S_VIDEO_NOT_RENDERED));
    EXPECT_EQ(4, state());
    EXPECT_FALSE(stopClip());
    EXPECT_FALSE(play()) << "a stopped clip is not started again";
    size_t lines = testlog::readPluginLog().size();
    EXPECT_EQ(0, positionMs());
    EXPECT_EQ(0, durationMs());
    Java_org_quencommunity_tovix_TovixAPI_seek(env(), cls(), 3000);
    EXPECT_EQ(lines + 1, testlog::readPluginLog().size()) << "only the native's own seek line";
    freeAndClose();
    EXPECT_EQ(4, state());
}

TEST_F(Player, APartialRenderIsReportedAndLeavesThePlayerAsItWas) {
    StreamSpec shape;
    shape.dtsStreams = 1;
    ASSERT_TRUE(streamwriter::writeProgramStream("dts.mpg", shape));
    ASSERT_TRUE(open());
    load("dts.mpg");
    EXPECT_TRUE(
        logHasError("openFile", "Could not render file 'dts.mpg'", VFW_S_AUDIO_NOT_RENDERED));
    EXPECT_EQ(0, state());
    EXPECT_EQ(nullptr, pBasicVideo);
    EXPECT_EQ(nullptr, pBasicAudio);
    EXPECT_FALSE(logHas(
        line("logGraph", "##                      Filter Graph                          ##")));
    freeAndClose();
}

// A broadcast recording with a second language: the card plays the first
// track, the PC's sound device the second, and the clip ends when both have,
// whether the graph's clock is the card's or, without one, the sound
// device's.
TEST_F(Player, ASecondAudioTrackPlaysOnThePcAndTheClipEndsWhenBothHave) {
    StreamSpec shape;
    shape.audioStreams = 2;
    shape.seconds = 3;
    ASSERT_TRUE(streamwriter::writeProgramStream("two.mpg", shape));
    for (simcard::DecoderClock model :
         {simcard::DecoderClock::FollowsPresentation, simcard::DecoderClock::None}) {
        simcard::setDecoderClock(model);
        ASSERT_TRUE(open());
        load("two.mpg");
        EXPECT_FALSE(logHas(line("openFile", "Could not render file 'two.mpg'")));
        EXPECT_EQ((std::vector<std::string>{"Default DirectSound Device", "MPEG Audio Decoder",
                                            "MPEG DeMux", "two.mpg", "Sigma Decoder"}),
                  simctl::graphFilterNames());
        EXPECT_EQ(1, state());
        EXPECT_EQ(3000, durationMs());

        // The host's level reaches both renderers and is read back.
        EXPECT_NEAR(0.5f, Java_org_quencommunity_tovix_TovixAPI_setVolume(env(), cls(), 0.5f),
                    1e-3f);
        EXPECT_EQ(-346, simctl::renderer().volume);
        Java_org_quencommunity_tovix_TovixAPI_setMute(env(), cls(), JNI_TRUE);
        EXPECT_EQ(-10000, simctl::renderer().volume);
        Java_org_quencommunity_tovix_TovixAPI_setMute(env(), cls(), JNI_FALSE);

        EXPECT_TRUE(play());
        simctl::advanceClock(1500);
        EXPECT_EQ(1500, positionMs());
        EXPECT_GT(simctl::renderer().samples, 0) << "the card plays";
        simctl::advanceClock(1600);
        EXPECT_EQ(5, state());
        EXPECT_EQ(3000, positionMs());
        freeAndClose();
    }
}

TEST_F(Player, AMissingFileIsReportedWithTheFileNotFoundCode) {
    ASSERT_TRUE(open());
    load("nowhere.mpg");
    EXPECT_TRUE(logHasError("openFile", "Could not render file 'nowhere.mpg'",
                            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)));
    freeAndClose();
}

TEST_F(Player, AnUnconnectedOverlayPinLeavesTheGraphAsRendered) {
    ASSERT_TRUE(open());
    simctl::armFault("DecoderFilter.Overlay::Connect", VFW_E_NO_ACCEPTABLE_TYPES);
    load("clip.mpg");
    EXPECT_TRUE(logHas(line("cleanupGraph", "Overlay pin not connected to anything")));
    EXPECT_EQ(1, state()) << "the open goes on";
    freeAndClose();
}

TEST_F(Player, AFailedSetUpIsTriedAgainByTheNextLoad) {
    ASSERT_TRUE(open());
    simctl::armFault("CoCreateInstance:FilterGraph", E_OUTOFMEMORY, 1);
    load("clip.mpg");
    EXPECT_TRUE(logHasError("buildGraph", "Could not create graph builder!!!!", E_OUTOFMEMORY));
    EXPECT_FALSE(gPlayerInitialized);
    EXPECT_EQ(0, state());
    load("clip.mpg");
    EXPECT_TRUE(gPlayerInitialized);
    EXPECT_EQ(1, state());
    freeAndClose();
}

TEST_F(Player, ADecoderShowingNoPinsHasNoOverlayToCleanUp) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    simctl::armFault("DecoderFilter::EnumPins", E_OUTOFMEMORY);
    cleanupGraph();
    EXPECT_TRUE(logHas(line("cleanupGraph", "Could not find overlay pin on decoder filter!")));
    simctl::clearFaults();
    freeAndClose();
}

// ---- The push graph ---------------------------------------------------------------

TEST_F(Player, AServerMpegIsStreamedThroughTheSharedSourceAndDemultiplexer) {
    ASSERT_TRUE(open());
    load("clip.mpg", kMpegMajor, kMpegMinor, false, "mediaserver");
    EXPECT_TRUE(gStreaming);
    EXPECT_TRUE(logHas(line("openFile", "Streaming file clip.mpg from server")));
    EXPECT_TRUE(logHas(line("openFile", "Setting shared async file hostname to 'mediaserver'")));
    simcard::SharedSourceRecord source = simcard::sharedSource();
    EXPECT_EQ("mediaserver", source.host);
    EXPECT_EQ("clip.mpg", source.file);
    EXPECT_FALSE(source.loadHadMediaType);
    EXPECT_EQ(0, source.lockCalls) << "a complete file gets no lock";
    EXPECT_EQ((std::vector<std::string>{"Sigma Decoder", "MPEG DeMux", "Shared Source"}),
              simctl::graphFilterNames());
    EXPECT_EQ(1, simctl::liveCount("MpegDemux"));
    EXPECT_EQ(1, state());
    EXPECT_EQ(5000, durationMs());
    EXPECT_TRUE(play());
    simctl::advanceClock(6000);
    EXPECT_EQ(5, state());

    free();
    EXPECT_TRUE(logHas(line("releaseGraph", "removing and releasing filter MPEG DeMux")));
    EXPECT_TRUE(
        logHas(line("releaseFilters", "shared async interface released with 1 references left")));
    EXPECT_TRUE(
        logHas(line("releaseFilters", "file source filter released with 0 references left")));
    EXPECT_TRUE(logHas(line("releaseTovixPlayer", "After filters release... ...and done.")));
    EXPECT_EQ(0, simctl::liveCount("MpegDemux")) << "the graph was the demultiplexer's owner";
    EXPECT_EQ((std::vector<std::string>{"DecoderFilter"}), playerObjects());
    close();
    EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
}

TEST_F(Player, WhichFilesAreStreamed) {
    ASSERT_TRUE(open());
    gStreamAllMpegs = false;
    load("clip.mpg", kMpegMajor, kMpegMinor, false);
    EXPECT_FALSE(gStreaming) << "not shifted, not all MPEGs: rendered";
    free();
    load("clip.mpg", kMpegMajor, 30, true);
    EXPECT_FALSE(gStreaming) << "another hint pair is rendered even when shifted";
    free();
    load("clip.mpg", 2, kMpegMinor, true);
    EXPECT_FALSE(gStreaming);
    free();
    load("clip.mpg", kMpegMajor, kMpegMinor, true);
    EXPECT_TRUE(gStreaming) << "a shifted MPEG is streamed whatever the switch says";
    EXPECT_EQ(static_cast<const void*>(&gFileLock), simcard::sharedSource().lock);
    EXPECT_EQ(1, state());
    freeAndClose();
}

TEST_F(Player, AFileStillBeingWrittenGrowsUntilTheHostSaysItIsInactive) {
    streamwriter::ProgramStreamWriter writer(recording());
    ASSERT_NO_FATAL_FAILURE(loadRecording(writer));
    EXPECT_EQ(2000, durationMs());
    EXPECT_TRUE(play());
    simctl::advanceClock(3000);
    EXPECT_EQ(2, state()) << "the end of what is written is not the end of the file";
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(4.0)));
    EXPECT_EQ(4000, durationMs());
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.rest()));
    EXPECT_EQ(0, Java_org_quencommunity_tovix_TovixAPI_inactiveFile(env(), cls()));
    EXPECT_EQ(nullptr, simcard::sharedSource().lock);
    EXPECT_EQ(6000, durationMs());
    simctl::advanceClock(4000);
    EXPECT_EQ(5, state());
    freeAndClose();
}

TEST_F(Player, AFailedSharedAsyncQueryIsTriedAgainByTheNextLoad) {
    ASSERT_TRUE(open());
    simctl::armFault("QueryInterface:SharedSource:ISharedAsync", E_NOINTERFACE, 1);
    load("clip.mpg", kMpegMajor, kMpegMinor, true, "mediaserver");
    EXPECT_TRUE(logHasError("buildGraph", "Can not get shared source interface!!", E_NOINTERFACE));
    EXPECT_FALSE(gPlayerInitialized);
    // The source filter made by the failed set-up is kept; its shared-async
    // interface is asked for again, so the file gets its server and lock.
    load("clip.mpg", kMpegMajor, kMpegMinor, true, "mediaserver");
    EXPECT_EQ(1, state());
    simcard::SharedSourceRecord source = simcard::sharedSource();
    EXPECT_EQ(1, source.hostCalls);
    EXPECT_EQ("mediaserver", source.host);
    EXPECT_EQ(static_cast<const void*>(&gFileLock), source.lock);
    free();
    EXPECT_TRUE(
        logHas(line("releaseFilters", "shared async interface released with 1 references left")));
    EXPECT_EQ((std::vector<std::string>{"DecoderFilter"}), playerObjects())
        << simctl::describeLiveObjects();
    close();
}

TEST_F(Player, FreeWaitsOnlyAFewSecondsForAGrowingFileItCouldNotStop) {
    streamwriter::ProgramStreamWriter writer(recording());
    ASSERT_NO_FATAL_FAILURE(loadRecording(writer));
    EXPECT_TRUE(play());
    simctl::advanceClock(1000);
    simctl::armFault("FilterGraph::StopWhenReady", E_UNEXPECTED);
    long long before = simctl::clockMs();
    free();
    long long waited = simctl::clockMs() - before;
    simctl::clearFaults();
    EXPECT_GT(waited, 0) << "the clip's end was waited for";
    EXPECT_LE(waited, 5000) << "free blocked the host's thread for " << waited << " ms";
    EXPECT_EQ(2, state()) << "the stop failed";
    EXPECT_FALSE(simctl::graphAlive());
    std::vector<std::string> release;
    for (const std::string& l : testlog::readPluginLog())
        if (l.find("<releaseTovixPlayer>") != std::string::npos)
            release.push_back(l);
    EXPECT_EQ((std::vector<std::string>{
                  line("releaseTovixPlayer", "Entering release..."),
                  line("releaseTovixPlayer", "After stop..."),
                  line("releaseTovixPlayer", "After completion wait..."),
                  line("releaseTovixPlayer", "After 2nd stop..."),
                  line("releaseTovixPlayer", "After basic video interface release..."),
                  line("releaseTovixPlayer", "After basic audio release..."),
                  line("releaseTovixPlayer", "After graph interfaces release..."),
                  line("releaseTovixPlayer", "After filters release... ...and done.")}),
              release);
    EXPECT_EQ((std::vector<std::string>{"DecoderFilter"}), playerObjects())
        << simctl::describeLiveObjects();
    close();
}

TEST_F(Player, ClosingTheOsdUnderAPlayingFileSwitchesItOffThenTearsThePlayerDown) {
    ASSERT_TRUE(open());
    load("clip.mpg", kMpegMajor, kMpegMinor, true, "mediaserver");
    EXPECT_TRUE(play());
    simctl::advanceClock(1000);
    long flagged = simctl::callsIntoUnloadedServers();
    simctl::resetPointsReached();
    close();
    // The order of the first calls of the closing: the OSD off before the
    // player's tear-down with its completion wait, the card's flags and the
    // decoder after it.
    std::vector<std::string> reached = simctl::pointsReached();
    auto at = [&reached](const std::string& point) {
        return std::find(reached.begin(), reached.end(), point) - reached.begin();
    };
    for (const char* point : {"OsdObject::SetDisplay", "FilterGraph::WaitForCompletion",
                              "DecoderFilter::SetOutputFlags"})
        EXPECT_LT(at(point), static_cast<long>(reached.size())) << point << " not reached";
    EXPECT_LT(at("OsdObject::SetDisplay"), at("FilterGraph::StopWhenReady"));
    EXPECT_LT(at("FilterGraph::WaitForCompletion"), at("DecoderFilter::SetOutputFlags"));
    EXPECT_TRUE(logHas(line("releaseTovixPlayer", "After filters release... ...and done.")));
    EXPECT_FALSE(gPlayerInitialized);
    EXPECT_FALSE(simctl::graphAlive());
    EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
    EXPECT_EQ(0, simctl::comInitDepth());
    // The host's free that follows finds nothing left to call.
    free();
    EXPECT_EQ(flagged, simctl::callsIntoUnloadedServers());
    EXPECT_EQ(2, logCount(line("releaseTovixPlayer", "Entering release...")));
}

TEST_F(Player, APushOpenWithoutTheSourceFilterIsRefused) {
    ASSERT_TRUE(open());
    load("clip.mpg"); // set up for a rendered file
    load("clip.mpg", kMpegMajor, kMpegMinor, true);
    EXPECT_TRUE(logHas(
        line("openFile", "Can not load file because graph builder is not available: clip.mpg")));
    freeAndClose();
}

// ---- Paths ----------------------------------------------------------------------

TEST_F(Player, PathsArriveAsUtf8AndAnOverlongOneIsRefused) {
    const std::string accented = "clip-\xC3\xA9t\xC3\xA9-\xE6\x98\xA0\xE7\x94\xBB.mpg";
    ASSERT_TRUE(streamwriter::writeProgramStream(accented, StreamSpec()));
    ASSERT_TRUE(open());
    load(accented);
    EXPECT_EQ(1, state());
    EXPECT_EQ(accented, simctl::renderOutcomes().back().file);
    free();

    std::string longPath(240, 'd');
    longPath += "/" + std::string(18, 'f'); // 259 characters: still fits
    EXPECT_EQ(259u, longPath.size());
    load(longPath);
    EXPECT_EQ(longPath, simctl::renderOutcomes().back().file) << "handed on whole";
    std::string tooLong = longPath + "x";
    load(tooLong);
    EXPECT_TRUE(logHas(line("openFile", "Can not open file because its path is longer than 259 "
                                        "characters: " +
                                            tooLong)));
    EXPECT_EQ(E_FAIL, openFile(tooLong.c_str(), nullptr, false, 2, 0));
    freeAndClose();
}

TEST_F(Player, APathWithANulCharacterIsRefusedForBothGraphs) {
    // The JVM sends U+0000 as C0 80; in a wide path it would end the name
    // early and open clip.mpg instead.
    const std::string withNul = "clip.mpg\xC0\x80x";
    size_t rendersBefore = simctl::renderOutcomes().size();
    ASSERT_TRUE(open());
    load(withNul);
    std::string refused = line("openFile", "Can not open file because its path holds a NUL "
                                           "character: " +
                                               withNul);
    EXPECT_TRUE(logHas(refused));
    EXPECT_EQ(rendersBefore, simctl::renderOutcomes().size()) << "nothing rendered";
    EXPECT_EQ(0, state());
    free();
    load(withNul, kMpegMajor, kMpegMinor, true);
    EXPECT_EQ(2, logCount(refused));
    EXPECT_EQ(0, simcard::sharedSource().loadCalls) << "nothing loaded";
    EXPECT_EQ(0, state());
    freeAndClose();
}

} // namespace
