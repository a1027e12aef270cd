// Playback through the host's natives: the push graph and the rendered graph
// around the card's decoder filter, the tear-down, the playback state with
// its events, position, seek and rate, volume and mute, and the video's size
// and placement, on the simulated graph's manual clock.
#include "fake_jni.h"
#include "natives.h"
#include "plugin_log.h"
#include "stream_writer.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"
#include "src/bridge/properties.h"
#include "src/card/modes.h"
#include "src/player/audio_video.h"
#include "src/player/playback.h"
#include "src/player/player.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

namespace {

using streamwriter::StreamSpec;
using testlog::logCount;
using testlog::logHas;

std::string line(const std::string& tag, const std::string& message) {
    return "hh:mm:ss - <" + tag + ">: " + message;
}

// The line of a logError call, whatever the code's text.
bool logHasError(const std::string& tag, const std::string& message, HRESULT code) {
    char hex[16];
    snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(code));
    std::string start = line(tag, message) + " (ERROR: " + hex + "/";
    for (const std::string& l : testlog::readPluginLog())
        if (l.compare(0, start.size(), start) == 0)
            return true;
    return false;
}

int countStartsWith(const std::string& start) {
    int n = 0;
    for (const std::string& l : testlog::readPluginLog())
        if (l.compare(0, start.size(), start) == 0)
            n++;
    return n;
}

bool logStartsWith(const std::string& start) {
    return countStartsWith(start) > 0;
}

const jbyte kMpegMajor = 1;
const jbyte kMpegMinor = 31;

class Player : public testing::Test {
  protected:
    void SetUp() override {
        simctl::reset();
        simcard::reset();
        simctl::setManualClock(true);
        StreamSpec shape;
        shape.width = 352;
        shape.height = 288;
        shape.seconds = 5;
        ASSERT_TRUE(streamwriter::writeProgramStream("clip.mpg", shape));
    }
    void TearDown() override {
        EXPECT_EQ(0, jni.outstanding());
        EXPECT_TRUE(jni.violations().empty());
    }
    JNIEnv* env() { return jni.env(); }
    jclass cls() { return jni.hostClass(); }
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
    static StreamSpec recording() {
        StreamSpec shape;
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

    fakejni::FakeJni jni;
};

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
    EXPECT_EQ(5, state()) << "seeking leaves a finished clip finished";

    freeAndClose();
    EXPECT_TRUE(logHas(line("releaseTovixPlayer", "After completion wait...")));
    EXPECT_EQ(5, gPlaybackState) << "the tear-down does not reset the state";
}

TEST_F(Player, ASecondLoadStopsThePlayingClipAndAStoppedClipAnswersNothing) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(play());
    simctl::advanceClock(2000);
    // Without a free the decoder's pins are still taken: the clip is
    // stopped first, and the new file finds nothing to render it.
    load("clip.mpg");
    EXPECT_TRUE(logHasError("openFile", "Could not render file 'clip.mpg'", VFW_E_CANNOT_RENDER));
    EXPECT_EQ(4, state());
    EXPECT_FALSE(stopClip());
    EXPECT_FALSE(play()) << "a stopped clip is not started again";
    size_t lines = testlog::readPluginLog().size();
    EXPECT_EQ(0, positionMs());
    EXPECT_EQ(0, durationMs());
    Java_org_quencommunity_tovix_TovixAPI_seek(env(), cls(), 3000);
    EXPECT_EQ(lines + 1, testlog::readPluginLog().size()) << "only the native's own seek line";
    freeAndClose();
    EXPECT_EQ(4, gPlaybackState);
}

TEST_F(Player, APartialRenderIsReportedAndLeavesThePlayerAsItWas) {
    StreamSpec shape;
    shape.audioStreams = 2;
    ASSERT_TRUE(streamwriter::writeProgramStream("two.mpg", shape));
    ASSERT_TRUE(open());
    load("two.mpg");
    EXPECT_TRUE(
        logHasError("openFile", "Could not render file 'two.mpg'", VFW_S_AUDIO_NOT_RENDERED));
    EXPECT_EQ(0, state());
    EXPECT_EQ(nullptr, pBasicVideo);
    EXPECT_EQ(nullptr, pBasicAudio);
    EXPECT_FALSE(logHas(
        line("logGraph", "##                      Filter Graph                          ##")));
    freeAndClose();
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

TEST_F(Player, ClosingTheOsdUnderAPlayingFileTearsThePlayerDownFirst) {
    ASSERT_TRUE(open());
    load("clip.mpg", kMpegMajor, kMpegMinor, true, "mediaserver");
    EXPECT_TRUE(play());
    simctl::advanceClock(1000);
    long flagged = simctl::callsIntoUnloadedServers();
    close();
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

// ---- Every failure of the set-up and the wiring -------------------------------------

struct SetupFault {
    const char* point;
    int nth;
    bool push;
    const char* tag;
    const char* message;
    bool isError; // logError (with a code) or logMessage
};

class PlayerSetupFault : public Player, public testing::WithParamInterface<SetupFault> {};

TEST_P(PlayerSetupFault, IsLoggedAndNothingLeaks) {
    const SetupFault& f = GetParam();
    ASSERT_TRUE(open());
    simctl::armFault(f.point, E_OUTOFMEMORY, f.nth);
    if (f.push)
        load("clip.mpg", kMpegMajor, kMpegMinor, true, "mediaserver");
    else
        load("clip.mpg");
    if (f.isError)
        EXPECT_TRUE(logHasError(f.tag, f.message, E_OUTOFMEMORY)) << f.message;
    else
        EXPECT_TRUE(logStartsWith(line(f.tag, f.message))) << f.message;
    simctl::clearFaults();
    // Whatever stayed behind is released by the tear-down, or reused and
    // released by the next one.
    load("clip.mpg");
    free();
    EXPECT_EQ((std::vector<std::string>{"DecoderFilter"}), playerObjects())
        << simctl::describeLiveObjects();
    close();
    EXPECT_TRUE(simctl::liveObjects().empty()) << f.point << "\n" << simctl::describeLiveObjects();
}

const SetupFault kSetupFaults[] = {
    {"CoCreateInstance:FilterGraph", 0, false, "buildGraph", "Could not create graph builder!!!!",
     true},
    {"CoCreateInstance:SharedSource", 0, true, "buildGraph",
     "Cannot create shared source filter!!!", true},
    {"QueryInterface:SharedSource:ISharedAsync", 1, true, "buildGraph",
     "Can not get shared source interface!!", true},
    {"FilterGraph::AddFilter", 1, true, "buildGraph", "Cannot add source filter to Graph!!!", true},
    {"CoCreateInstance:MpegDemux", 0, true, "buildGraph", "Cannot create demux filter!!!", true},
    {"FilterGraph::AddFilter", 2, true, "buildGraph", "Cannot add demux filter to Graph!!!", true},
    {"FilterGraph::AddFilter", 3, true, "buildGraph", "Cannot add sigma decoder filter to Graph!!!",
     true},
    {"FilterGraph::AddFilter", 1, false, "buildGraph",
     "Cannot add sigma decoder filter to Graph!!!", true},
    {"QueryInterface:FilterGraph:IMediaPosition", 1, false, "queryGraphInterface",
     "Failed to create interface from graph builder: IMediaPosition", false},
    {"QueryInterface:FilterGraph:IMediaControl", 1, false, "queryGraphInterface",
     "Failed to create interface from graph builder: IMediaControl", false},
    {"QueryInterface:FilterGraph:IMediaEventEx", 1, false, "queryGraphInterface",
     "Failed to create interface from graph builder: IMediaEventEx", false},
    {"QueryInterface:FilterGraph:IVideoWindow", 1, false, "queryGraphInterface",
     "Failed to create interface from graph builder: IVideoWindow", false},
    {"QueryInterface:FilterGraph:IMediaSeeking", 1, false, "getGraphInterfaces",
     "Could not load media seeking interface", false},
    {"QueryInterface:SharedSource:IFileSourceFilter", 1, true, "openFile",
     "Cannot get IFileSourceFilter interface!!!", true},
    {"SharedSource::Load", 1, true, "openFile", "Cannot load source file!!!", true},
    {"SharedSource::EnumPins", 1, true, "buildGraph", "Cannot find File Source pin 0!!!", false},
    {"MpegDemux::EnumPins", 1, true, "buildGraph", "Cannot find DeMux pin 0!!!", false},
    {"FilterGraph::ConnectDirect", 1, true, "buildGraph",
     "Cannot connect file source filter to demux filter!!!", true},
    {"MpegDemux::EnumPins:pin", 7, true, "buildGraph", "Cannot find demux pin 2!!!", false},
    {"MpegDemux::EnumPins:pin", 12, true, "buildGraph", "Cannot find demux pin 3!!!", false},
    {"DecoderFilter::EnumPins", 1, true, "buildGraph", "Cannot find decoder pin 0!!!", false},
    {"DecoderFilter::EnumPins:pin", 5, true, "buildGraph", "Cannot find decoder pin 1!!!", false},
    {"FilterGraph::ConnectDirect", 2, true, "buildGraph",
     "Cannot connect demux filter video out pin to decoder filter!!!", true},
    {"FilterGraph::ConnectDirect", 3, true, "buildGraph",
     "Cannot connect demux filter audio out pin to decoder filter!!!", true},
    {"QueryInterface:FilterGraph:IBasicVideo2", 1, false, "openFile",
     "Can not get basic video interface", true},
    {"QueryInterface:FilterGraph:IBasicAudio", 1, false, "openFile",
     "Can not get basic audio interface", true},
};

INSTANTIATE_TEST_SUITE_P(EveryStep, PlayerSetupFault, testing::ValuesIn(kSetupFaults),
                         [](const testing::TestParamInfo<SetupFault>& info) {
                             std::string name = std::to_string(info.index) + "_" + info.param.point;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

TEST_F(Player, WithoutTheDecoderNothingIsOpened) {
    simctl::armFault("CoCreateInstance:DecoderFilter", E_OUTOFMEMORY);
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(logHas(line("buildGraph", "Can not add decoder filter because it is NULL")));
    EXPECT_FALSE(logHas(line("openFile", "Automatically building graph for file clip.mpg")));
    EXPECT_FALSE(gPlayerInitialized);
    free();
    EXPECT_EQ(1, simctl::liveCount("FilterGraph")) << "kept for the next load";
    close();
    simctl::clearFaults();
    EXPECT_TRUE(simctl::liveObjects().empty()) << "nothing outlives COM\n"
                                               << simctl::describeLiveObjects();
}

TEST_F(Player, AFailedWiringGivesUpTheDemultiplexerAtTearDown) {
    ASSERT_TRUE(open());
    simctl::armFault("FilterGraph::ConnectDirect", VFW_E_NO_ACCEPTABLE_TYPES, 2);
    load("clip.mpg", kMpegMajor, kMpegMinor, true);
    EXPECT_EQ(1, simctl::liveCount("MpegDemux"));
    free();
    EXPECT_TRUE(logHas(line("releaseFilters", "demux filter released with 0 references left")));
    EXPECT_EQ(0, simctl::liveCount("MpegDemux"));
    close();
    EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
}

TEST_F(Player, AFilterTheGraphWillNotRemoveDoesNotHoldUpTheTearDown) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    simctl::armFault("FilterGraph::RemoveFilter", E_FAIL);
    free();
    EXPECT_EQ(3, countStartsWith(line("releaseGraph",
                                      "Failed to remove filter from graph! (ERROR: 80004005/")));
    EXPECT_TRUE(logHas(line("releaseGraph", "Graph released...done.")));
    simctl::clearFaults();
    EXPECT_EQ((std::vector<std::string>{"DecoderFilter"}), playerObjects());
    close();
}

TEST_F(Player, WithoutAFilterEnumeratorTheGraphStillGoesWithItsFilters) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    simctl::armFault("FilterGraph::EnumFilters", E_OUTOFMEMORY);
    free();
    EXPECT_TRUE(
        logHasError("releaseGraph", "After attempt to get filter enumerator", E_OUTOFMEMORY));
    EXPECT_FALSE(logHas(line("releaseGraph", "Done with filters")));
    EXPECT_TRUE(logHas(line("releaseGraph", "Graph released...done.")));
    simctl::clearFaults();
    EXPECT_EQ((std::vector<std::string>{"DecoderFilter"}), playerObjects());
    close();
    EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
}

TEST_F(Player, TheExportsNothingCallsStillWork) {
    ASSERT_TRUE(open());
    IBaseFilter* second = nullptr;
    EXPECT_EQ(S_OK, createRmInterface(&second));
    ASSERT_NE(nullptr, second);
    EXPECT_NE(pDecoderFilter, second) << "a new instance";
    EXPECT_EQ(0, getFilterName(second)) << "the decoder has no IFilterInfo";
    EXPECT_EQ(0, getFilterName(nullptr));
    getFileName();
    second->Release();
    close();
    EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
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
    ASSERT_TRUE(open());
    load(withNul);
    std::string refused = line("openFile", "Can not open file because its path holds a NUL "
                                           "character: " +
                                               withNul);
    EXPECT_TRUE(logHas(refused));
    EXPECT_TRUE(simctl::renderOutcomes().empty());
    EXPECT_EQ(0, state());
    free();
    load(withNul, kMpegMajor, kMpegMinor, true);
    EXPECT_EQ(2, logCount(refused));
    EXPECT_EQ(0, simcard::sharedSource().loadCalls) << "nothing loaded";
    EXPECT_EQ(0, state());
    freeAndClose();
}

// ---- Rate ----------------------------------------------------------------------

TEST_F(Player, ARefusedRateIsLoggedAndTheKeptRateAnswered) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_FLOAT_EQ(1.0f, Java_org_quencommunity_tovix_TovixAPI_getPlaybackRate(env(), cls()));
    EXPECT_FLOAT_EQ(2.0f,
                    Java_org_quencommunity_tovix_TovixAPI_setPlaybackRate(env(), cls(), 2.0f));
    EXPECT_TRUE(
        logHas(line("setRate DEBUG", "Changed rate!  was=1.000000 wanted=2.000000 got=2.000000")));
    EXPECT_FLOAT_EQ(2.0f,
                    Java_org_quencommunity_tovix_TovixAPI_setPlaybackRate(env(), cls(), -1.0f));
    EXPECT_TRUE(logHasError("setRate", "Could not set new playrate!: -1.000", E_INVALIDARG));
    EXPECT_TRUE(
        logHas(line("setRate DEBUG", "Changed rate!  was=2.000000 wanted=-1.000000 got=2.000000")));
    EXPECT_TRUE(play());
    simctl::advanceClock(1000);
    EXPECT_EQ(2000, positionMs()) << "playing at the rate in force";
    freeAndClose();
}

TEST_F(Player, ARateThatCannotBeReadBackAnswersTheWantedRate) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    // The graph keeps the rate itself, as Windows does: its own answer fails.
    simctl::armFault("FilterGraph::get_Rate", E_UNEXPECTED);
    EXPECT_FLOAT_EQ(1.5f,
                    Java_org_quencommunity_tovix_TovixAPI_setPlaybackRate(env(), cls(), 1.5f));
    EXPECT_TRUE(logHasError("getRate", "Could not determine clip play rate!!", E_UNEXPECTED));
    EXPECT_TRUE(logHasError("setRate", "Could not determine clips new play rate!!", E_UNEXPECTED));
    EXPECT_EQ(1.5, simctl::renderer().rate) << "the graph took it all the same";
    simctl::clearFaults();
    freeAndClose();
}

TEST_F(Player, FailedPositionQueriesAreLoggedAndAnsweredWithZero) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    simctl::armFault("DecoderFilter::get_Duration", E_UNEXPECTED);
    simctl::armFault("DecoderFilter::get_CurrentPosition", E_UNEXPECTED);
    simctl::armFault("DecoderFilter::put_CurrentPosition", E_UNEXPECTED);
    EXPECT_EQ(0, durationMs());
    EXPECT_EQ(0, positionMs());
    Java_org_quencommunity_tovix_TovixAPI_seek(env(), cls(), 100);
    EXPECT_TRUE(logHasError("getDuration", "Could not determine clip duration!!", E_UNEXPECTED));
    EXPECT_TRUE(logHasError("getCurrentPosition", "Could not determine current position in clip!!",
                            E_UNEXPECTED));
    EXPECT_TRUE(logHasError("setCurrentPosition", "Could not seek!!", E_UNEXPECTED));
    simctl::clearFaults();
    freeAndClose();
}

TEST_F(Player, OtherEventsAreLoggedAndChangeNothing) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    IMediaEventSink* sink = nullptr;
    ASSERT_EQ(S_OK,
              pGraphBuilder->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)));
    sink->Notify(EC_PAUSED, 7, 9);
    sink->Release();
    EXPECT_EQ(1, state());
    EXPECT_TRUE(logHas(line("updateState", "Received media event 14(7, 9)")));
    EXPECT_EQ(0, simctl::graphPendingEvents()) << "drained";
    freeAndClose();
}

// ---- Volume, mute and the picture ---------------------------------------------------

TEST_F(Player, VolumeAndMuteReachTheGraphOnItsScale) {
    ASSERT_TRUE(open());
    EXPECT_EQ(-346, volLinToLog(0.5f));
    EXPECT_EQ(-1151, volLinToLog(0.1f));
    EXPECT_EQ(-10000, volLinToLog(0.0f));
    EXPECT_EQ(-10000, volLinToLog(-3.0f));
    EXPECT_EQ(0, volLinToLog(0.999f));
    EXPECT_NEAR(0.50057, volLogToLin(-346), 1e-5);
    EXPECT_TRUE(logHas(line("voLogToLin", "VOLCONV: log=-346  lin=0.501")));
    EXPECT_TRUE(logHas(line("volLinToLog", "  lin=0.500  log=-346")));

    load("clip.mpg");
    EXPECT_NEAR(0.50057f, Java_org_quencommunity_tovix_TovixAPI_setVolume(env(), cls(), 0.5f),
                1e-5);
    EXPECT_EQ(-346, simctl::renderer().volume);
    EXPECT_TRUE(logHas(line("setVolume", "VOLINFO: Basic audio interface DOES exist.")));
    EXPECT_EQ(1.0f, Java_org_quencommunity_tovix_TovixAPI_setVolume(env(), cls(), 1.7f));
    EXPECT_EQ(0, simctl::renderer().volume);
    EXPECT_NEAR(2.06e-9f, setVolume(-0.2f), 1e-10f) << "0 sent as the silent level, read back";
    EXPECT_EQ(-10000, simctl::renderer().volume);

    setVolume(0.1f);
    Java_org_quencommunity_tovix_TovixAPI_setMute(env(), cls(), JNI_TRUE);
    EXPECT_EQ(-10000, simctl::renderer().volume);
    EXPECT_EQ(JNI_TRUE, Java_org_quencommunity_tovix_TovixAPI_getMute(env(), cls()));
    EXPECT_FLOAT_EQ(0.3f, setVolume(0.3f)) << "muted: only stored";
    EXPECT_EQ(-10000, simctl::renderer().volume);
    EXPECT_TRUE(logHas(line(
        "setVolume", "VOLINFO: initial=0.100  param=0.300  tried=0.300  internal=-1  got=0.300")));
    EXPECT_TRUE(logHas(line("getVolume", "VOLINFO: GET => internal=-1  translated=0.300")));
    EXPECT_EQ(S_OK, setMute(false));
    EXPECT_EQ(volLinToLog(0.3f), simctl::renderer().volume);
    EXPECT_TRUE(logHas(line("setMute", "setting mute to false")));

    free();
    EXPECT_EQ(1, setMute(true)) << "without a graph the new flag is answered";
    load("clip.mpg");
    EXPECT_EQ(-10000, simctl::renderer().volume) << "the next graph gets the stored mute";
    freeAndClose();
}

TEST_F(Player, TheHostsLevelAndMuteCarryOverToTheNextFile) {
    ASSERT_TRUE(open());
    // Set before any file: the first file plays at it.
    EXPECT_FLOAT_EQ(0.25f, Java_org_quencommunity_tovix_TovixAPI_setVolume(env(), cls(), 0.25f));
    load("clip.mpg");
    EXPECT_EQ(volLinToLog(0.25f), simctl::renderer().volume);
    EXPECT_NEAR(0.25f, Java_org_quencommunity_tovix_TovixAPI_getVolume(env(), cls()), 1e-3);

    // Muted when the file is freed: the next file is muted, and unmuting
    // gives back the host's level, not the silence the decoder was left at.
    setVolume(0.5f);
    setMute(true);
    free();
    load("clip.mpg");
    EXPECT_EQ(-10000, simctl::renderer().volume);
    setMute(false);
    // The level comes back as the graph rounded it (0.5 reads back as
    // about 0.50057).
    EXPECT_NEAR(-346, simctl::renderer().volume, 1);
    EXPECT_NEAR(0.5f, Java_org_quencommunity_tovix_TovixAPI_getVolume(env(), cls()), 5e-3);
    freeAndClose();
}

TEST_F(Player, UntilTheHostSetsALevelAFileTakesTheDecodersOwnButNotItsSilence) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_EQ(0, simctl::renderer().volume) << "the decoder's own level, not the stored 0.0";
    EXPECT_FLOAT_EQ(1.0f, Java_org_quencommunity_tovix_TovixAPI_getVolume(env(), cls()));
    setMute(true);
    free();
    load("clip.mpg");
    EXPECT_EQ(-10000, simctl::renderer().volume);
    setMute(false);
    EXPECT_EQ(0, simctl::renderer().volume) << "the silence of the mute is not the host's level";
    freeAndClose();
}

TEST_F(Player, TheVideoIsPlacedWhereTheHostSays) {
    ASSERT_TRUE(open());
    gVerboseLog = true;
    load("clip.mpg");
    Java_org_quencommunity_tovix_TovixAPI_setVideoRectangles(env(), cls(), 40, 30, 640, 360);
    EXPECT_TRUE(logHas(line("setDestination", "Setting destination to: 40,30:640x360")));
    simctl::RendererRecord r = simctl::renderer();
    EXPECT_EQ(40, r.destLeft);
    EXPECT_EQ(30, r.destTop);
    EXPECT_EQ(640, r.destWidth);
    EXPECT_EQ(360, r.destHeight);
    EXPECT_EQ(352, Java_org_quencommunity_tovix_TovixAPI_getVideoWidth(env(), cls()));
    EXPECT_TRUE(logHas(line("getVideoWidth", "width = 352")));
    simctl::armFault("DecoderFilter::SetDestinationPosition", E_UNEXPECTED);
    Java_org_quencommunity_tovix_TovixAPI_setVideoRectangles(env(), cls(), 0, 0, 10, 10);
    EXPECT_TRUE(
        logHasError("setDestination", "Failed to set destination location!!", E_UNEXPECTED));
    simctl::armFault("DecoderFilter::get_VideoHeight", E_UNEXPECTED);
    EXPECT_EQ(480, Java_org_quencommunity_tovix_TovixAPI_getVideoHeight(env(), cls()))
        << "a size the graph cannot tell is the default";
    simctl::clearFaults();
    freeAndClose();
}

} // namespace
