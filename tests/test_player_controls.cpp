// Playback control through the host's natives: the rate, positions and
// events, volume and mute on the graph's scale, and the video's size and
// placement, on the simulated graph's manual clock.
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

// A first file whose decoder cannot tell its level, or tells the silence it
// was left at, plays at the full level, not at the 0.0 stored at load.
TEST_F(Player, AFirstFileWhoseDecoderLevelCannotBeReadPlaysAtFullLevel) {
    ASSERT_TRUE(open());
    simctl::armFault("DecoderFilter::get_Volume", E_UNEXPECTED, 1);
    load("clip.mpg");
    EXPECT_EQ(0, simctl::renderer().volume);
    EXPECT_FALSE(testlog::logHasStart(line("voLogToLin", "VOLCONV:")))
        << "no level read, none converted";
    EXPECT_FLOAT_EQ(1.0f, Java_org_quencommunity_tovix_TovixAPI_getVolume(env(), cls()));
    freeAndClose();
}

TEST_F(Player, AFirstFileWhoseDecoderIsSilentPlaysAtFullLevel) {
    ASSERT_TRUE(open());
    // Left silent by an earlier user of the card.
    IBasicAudio* audio = nullptr;
    ASSERT_EQ(S_OK,
              pDecoderFilter->QueryInterface(IID_IBasicAudio, reinterpret_cast<void**>(&audio)));
    audio->put_Volume(-10000);
    audio->Release();
    load("clip.mpg");
    EXPECT_EQ(0, simctl::renderer().volume) << "the decoder's silence is not a level";
    EXPECT_TRUE(logHas(line("voLogToLin", "VOLCONV: log=-10000  lin=0.000")));
    EXPECT_FLOAT_EQ(1.0f, Java_org_quencommunity_tovix_TovixAPI_getVolume(env(), cls()));
    freeAndClose();
}

// The decoder's level is read and logged for every file, also once the host
// has set its own, which is the one kept.
TEST_F(Player, EveryFileLogsTheDecodersLevel) {
    ASSERT_TRUE(open());
    setVolume(0.25f);
    load("clip.mpg");
    const std::string fromDecoder = line("voLogToLin", "VOLCONV: log=0  lin=1.000");
    EXPECT_EQ(1, logCount(fromDecoder)) << "the decoder's level at power-on";
    setMute(true);
    free();
    load("clip.mpg");
    EXPECT_TRUE(logHas(line("voLogToLin", "VOLCONV: log=-10000  lin=0.000")))
        << "the silence of the mute, read and logged";
    setMute(false);
    EXPECT_EQ(volLinToLog(0.25f), simctl::renderer().volume) << "the host's level is kept";
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
