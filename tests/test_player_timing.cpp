// What the host sees of a clip in time, whichever way the graph works out its
// position: never past the duration and never back without a seek, each new
// file at the rate the host reads, a tear-down that does not wait for a clip
// that has ended, and the state of an ended clip that a seek restarts.
#include "fake_jni.h"
#include "natives.h"
#include "player_world.h"
#include "plugin_log.h"
#include "stream_writer.h"

#include "sim/com/runtime.h"
#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"
#include "src/player/playback.h"
#include "src/player/player.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The graph's IMediaPosition with its current position answered as the test
// says. A graph manager that has a clock works the position out from it and
// asks no filter: past the end of what a file being written holds, and once
// every renderer has completed, the stop it read at Run. The rest goes to the
// graph's own interface, whose reference the stand-in takes over.
class ScriptedPosition final : public sim::NoDispatch<IMediaPosition> {
  public:
    explicit ScriptedPosition(IMediaPosition* graph) : graph_(graph) {}
    double answer = -1.0; // seconds; negative: the graph's own answer

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IMediaPosition) {
            *ppv = static_cast<IMediaPosition*>(this);
            AddRef();
            return S_OK;
        }
        return graph_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            graph_->Release();
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME* time) override {
        if (answer < 0.0)
            return graph_->get_CurrentPosition(time);
        *time = answer;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* length) override {
        return graph_->get_Duration(length);
    }
    HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME time) override {
        return graph_->put_CurrentPosition(time);
    }
    HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* time) override {
        return graph_->get_StopTime(time);
    }
    HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME time) override {
        return graph_->put_StopTime(time);
    }
    HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME* time) override {
        return graph_->get_PrerollTime(time);
    }
    HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME time) override {
        return graph_->put_PrerollTime(time);
    }
    HRESULT STDMETHODCALLTYPE put_Rate(double rate) override { return graph_->put_Rate(rate); }
    HRESULT STDMETHODCALLTYPE get_Rate(double* rate) override { return graph_->get_Rate(rate); }
    HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* can) override {
        return graph_->CanSeekForward(can);
    }
    HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG* can) override {
        return graph_->CanSeekBackward(can);
    }

  private:
    ~ScriptedPosition() = default;
    IMediaPosition* graph_;
    ULONG refs_ = 1;
};

class PlayerTiming : public Player {
  public:
    using Player::durationMs;
    using Player::freeAndClose;
    using Player::loadRecording;
    using Player::play;
    using Player::positionMs;
    using Player::recording;
    using Player::state;
    void inactive() { Java_org_quencommunity_tovix_TovixAPI_inactiveFile(env(), cls()); }

  protected:
    // Puts the stand-in between the library and the graph it has just built.
    ScriptedPosition* scriptPosition() {
        auto* scripted = new ScriptedPosition(pMediaPosition);
        pMediaPosition = scripted;
        return scripted;
    }
    void seek(jlong ms) { Java_org_quencommunity_tovix_TovixAPI_seek(env(), cls(), ms); }
    float rate() { return Java_org_quencommunity_tovix_TovixAPI_getPlaybackRate(env(), cls()); }
    float setRate(float rate) {
        return Java_org_quencommunity_tovix_TovixAPI_setPlaybackRate(env(), cls(), rate);
    }
    // How long free held the host's thread, on the manual clock that any
    // wait of the graph's moves on.
    long long timedFree() {
        long long before = simctl::clockMs();
        free();
        return simctl::clockMs() - before;
    }
};

// ---- The position the host reads -----------------------------------------------

TEST_F(PlayerTiming, ARecordingsPositionHoldsAtTheWrittenEndAndNeverRunsBack) {
    streamwriter::ProgramStreamWriter writer(recording());
    ASSERT_NO_FATAL_FAILURE(loadRecording(writer));
    ScriptedPosition* graph = scriptPosition();
    EXPECT_TRUE(play());
    simctl::advanceClock(1500);
    graph->answer = 1.5;
    EXPECT_EQ(1500, positionMs());
    // The clock runs on past the 2 s written so far.
    simctl::advanceClock(1500);
    graph->answer = 3.0;
    EXPECT_EQ(2000, durationMs());
    EXPECT_EQ(2000, positionMs()) << "held at the written end";
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(4.0)));
    graph->answer = 3.5;
    EXPECT_EQ(3500, positionMs()) << "follows the clock again once more is written";

    // The rest is written and the recording ends; the graph then answers
    // the stop it read at Run. The decoder, which held a second at the
    // written end, has four seconds left to play.
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.rest()));
    EXPECT_EQ(0, Java_org_quencommunity_tovix_TovixAPI_inactiveFile(env(), cls()));
    simctl::advanceClock(4000);
    graph->answer = 2.0;
    EXPECT_EQ(5, state());
    EXPECT_EQ(6000, positionMs()) << "an ended clip is at its end";
    graph->answer = 1.0;
    EXPECT_EQ(6000, positionMs());

    // A seek back is the one way back.
    seek(1000);
    EXPECT_EQ(2, state());
    graph->answer = 1.0;
    EXPECT_EQ(1000, positionMs());
    graph->answer = 0.9;
    EXPECT_EQ(1000, positionMs()) << "no step back while it plays on";
    freeAndClose();
}

// A recording written at half real time, caught up with at its written end,
// then complete and played to its end, polled every 100 ms as a host does:
// whether the decoder's clock holds the graph's time there or the system
// clock runs on, the host never sees the position past the duration nor
// going back.
void catchUpWith(PlayerTiming& test, simcard::DecoderClock model) {
    SCOPED_TRACE(model == simcard::DecoderClock::None ? "no decoder clock" : "decoder clock");
    simcard::setDecoderClock(model);
    streamwriter::ProgramStreamWriter writer(PlayerTiming::recording());
    ASSERT_NO_FATAL_FAILURE(test.loadRecording(writer));
    EXPECT_TRUE(test.play());
    double written = 2.0;
    jlong last = 0;
    for (int step = 0; step < 120; step++) {
        simctl::advanceClock(100);
        if (written < 6.0) {
            written += 0.05;
            ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(written)));
            if (written >= 6.0) {
                ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.rest()));
                test.inactive();
            }
        }
        jlong position = test.positionMs();
        jlong duration = test.durationMs();
        ASSERT_LE(position, duration) << "at step " << step;
        ASSERT_GE(position, last) << "at step " << step;
        last = position;
    }
    EXPECT_EQ(5, test.state());
    EXPECT_EQ(6000, test.positionMs());
    test.freeAndClose();
}

TEST_F(PlayerTiming, ACaughtUpRecordingIsSoundWithOrWithoutTheDecodersClock) {
    catchUpWith(*this, simcard::DecoderClock::FollowsPresentation);
    catchUpWith(*this, simcard::DecoderClock::None);
}

TEST_F(PlayerTiming, APausedClipsPositionDoesNotSlipBackAndANewFileStartsAfresh) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    ScriptedPosition* graph = scriptPosition();
    EXPECT_TRUE(play());
    graph->answer = 2.5;
    EXPECT_EQ(2500, positionMs());
    EXPECT_TRUE(pauseClip());
    graph->answer = 2.4;
    EXPECT_EQ(2500, positionMs());
    // The next file's position is its own, however far the last one went.
    free();
    load("clip.mpg");
    EXPECT_EQ(1, state());
    EXPECT_EQ(0, positionMs());
    freeAndClose();
}

// ---- The rate --------------------------------------------------------------------

TEST_F(PlayerTiming, TheNextFilePlaysAtTheNormalRateTheHostReads) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(play());
    EXPECT_EQ(2.0f, setRate(2.0f));
    simctl::advanceClock(1000);
    EXPECT_EQ(2000, positionMs());
    free();

    // The decoder filter outlives the graph; the new file must not play on
    // at the old rate while the host is told 1.0.
    load("clip.mpg");
    EXPECT_EQ(1.0f, rate());
    EXPECT_EQ(1.0, simctl::renderer().rate);
    EXPECT_TRUE(play());
    simctl::advanceClock(1000);
    EXPECT_EQ(1000, positionMs());
    freeAndClose();
}

// ---- The end, a seek after it, and the tear-down -------------------------------

TEST_F(PlayerTiming, ASeekAfterTheEndRestartsTheClipAndFreeDoesNotWaitForItsNewEnd) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(play());
    simctl::advanceClock(5500);
    EXPECT_EQ(5, state());
    seek(1000);
    EXPECT_EQ(2, state()) << "the graph runs the clip again";
    simctl::advanceClock(500);
    EXPECT_EQ(1500, positionMs());
    EXPECT_TRUE(pauseClip());
    EXPECT_TRUE(play());
    EXPECT_EQ(0, timedFree()) << "a stopped clip has nothing to finish";
    EXPECT_FALSE(simctl::graphAlive());
    close();
}

TEST_F(PlayerTiming, FreeAfterTheEndOrASeekPastItReturnsAtOnce) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(play());
    simctl::advanceClock(5500);
    EXPECT_EQ(5, state());
    EXPECT_EQ(0, timedFree());
    EXPECT_TRUE(testlog::logHas(testlog::line("releaseTovixPlayer", "After completion wait...")));

    load("clip.mpg");
    EXPECT_TRUE(play());
    simctl::advanceClock(500);
    seek(9000);
    EXPECT_EQ(5000, positionMs()) << "no further than the end";
    EXPECT_EQ(0, timedFree());
    close();
}

// The push graph's streaming threads wait at a recording's written end
// while it plays, and are held in the decoder's Receive while it is paused:
// free lets them go at once either way.
TEST_F(PlayerTiming, FreeReturnsAtOnceWhileARecordingsThreadsWaitOrAreHeld) {
    streamwriter::ProgramStreamWriter writer(recording());
    ASSERT_NO_FATAL_FAILURE(loadRecording(writer));
    long before = simctl::renderer().samples;
    EXPECT_TRUE(play());
    simctl::advanceClock(3000);
    EXPECT_GT(simctl::renderer().samples, before + 80) << "the two seconds written";
    EXPECT_EQ(2000, positionMs());
    EXPECT_EQ(0, timedFree());
    EXPECT_EQ(0, simctl::liveCount("MpegDemux"));

    load("live.mpg", kMpegMajor, kMpegMinor, true, "mediaserver");
    EXPECT_TRUE(play());
    simctl::advanceClock(500);
    EXPECT_TRUE(pauseClip());
    simctl::waitForStreaming();
    EXPECT_EQ(0, timedFree());
    EXPECT_EQ(0, simctl::liveCount("MpegDemux"));
    close();
}

TEST_F(PlayerTiming, TheHostsFarthestSeeksReachTheEndsOfTheClip) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(play());
    // Each seek restarts the streaming; the clock stands still, so the
    // position is looked at once the world's threads have settled.
    seek(INT64_MAX);
    simctl::waitForStreaming();
    EXPECT_EQ(5000, positionMs());
    seek(INT64_MIN);
    simctl::waitForStreaming();
    EXPECT_EQ(0, positionMs());
    seek(2500);
    simctl::waitForStreaming();
    EXPECT_EQ(2500, positionMs());
    freeAndClose();
}

// A seek to the end of a running clip ends it on the decoder's thread; the
// end can reach the graph while the next seek pauses it. Once the seek has
// run the graph again, that end is gone: the host never finds the clip
// ended, nor its position at the end, after going back to the start. The
// race is narrow, so the pair of seeks is made many times.
TEST_F(PlayerTiming, AnEndToldDuringTheSeekBackIsNotTheHostsToSee) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(play());
    for (int round = 0; round < 60; ++round) {
        seek(INT64_MAX);
        ASSERT_EQ(5000, positionMs()) << "round " << round;
        seek(INT64_MIN);
        ASSERT_EQ(0, positionMs()) << "round " << round;
        simctl::waitForStreaming();
        ASSERT_EQ(2, state()) << "round " << round;
        ASSERT_EQ(0, positionMs()) << "round " << round;
    }
    freeAndClose();
}

TEST_F(PlayerTiming, ASeekInAnEndedClipOfAStoppedGraphLeavesItEnded) {
    ASSERT_TRUE(open());
    load("clip.mpg");
    EXPECT_TRUE(play());
    simctl::advanceClock(5500);
    EXPECT_EQ(5, state());
    ASSERT_EQ(S_OK, pMediaControl->Stop());
    seek(1000);
    EXPECT_EQ(5, state()) << "nothing runs";
    freeAndClose();
}

} // namespace
