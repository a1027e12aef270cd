// Playback through the host's natives when the world fails: every step of
// the set-up and the wiring, a missing decoder, and a tear-down that meets
// filters which will not go.
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

// ---- Every failure of the set-up and the wiring -------------------------------------

// One failing call of the set-up or the wiring, from the shared table of
// the library's lines for failures.
struct SetupFault {
    const char* point;
    int nth;
    bool push;
};

// The calls of the table that a load meets, each once, in the table's order.
std::vector<SetupFault> setupFaults() {
    std::vector<SetupFault> faults;
    for (const testfaults::FaultLine& f : testfaults::faultLines()) {
        bool seen = false;
        for (const SetupFault& s : faults)
            seen = seen || (s.point == std::string(f.point) && s.nth == f.nth && s.push == f.push);
        if (f.nth > 0 && !seen)
            faults.push_back({f.point, f.nth, f.push});
    }
    return faults;
}

class PlayerSetupFault : public Player, public testing::WithParamInterface<SetupFault> {};

TEST_P(PlayerSetupFault, IsLoggedAndNothingLeaks) {
    const SetupFault& f = GetParam();
    ASSERT_TRUE(open());
    simctl::armFault(f.point, E_OUTOFMEMORY, f.nth);
    if (f.push)
        load("clip.mpg", kMpegMajor, kMpegMinor, true, "mediaserver");
    else
        load("clip.mpg");
    // A line written with the failure's code carries this one.
    const std::string errorStart = " (ERROR: ";
    for (const testfaults::FaultLine& l : testfaults::faultLines()) {
        if (f.point != std::string(l.point) || f.nth != l.nth || f.push != l.push)
            continue;
        std::string start = std::string("hh:mm:ss - ") + l.line;
        if (start.size() > errorStart.size() &&
            start.compare(start.size() - errorStart.size(), errorStart.size(), errorStart) == 0)
            start += "8007000E/";
        EXPECT_TRUE(logHasStart(start)) << start;
    }
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

INSTANTIATE_TEST_SUITE_P(EveryStep, PlayerSetupFault, testing::ValuesIn(setupFaults()),
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
    EXPECT_EQ(3, logCountStarting(line("releaseGraph",
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
    // getFileName does nothing: no line, no call into the world.
    size_t lines = testlog::readPluginLog().size();
    simctl::resetPointsReached();
    getFileName();
    EXPECT_EQ(lines, testlog::readPluginLog().size());
    EXPECT_TRUE(simctl::pointsReached().empty());
    second->Release();
    close();
    EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
}

} // namespace
