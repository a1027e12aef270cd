// The simulated graph manager over time: seeking, playback and completion on
// the manual clock, a file that grows while it plays, and the real clock.
#include "com_helpers.h"
#include "graph_world.h"
#include "stream_writer.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"
#include "sim/media/stream.h"
#include "src/card/card_interfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using comtest::connected;
using comtest::create;
using comtest::filterName;
using comtest::pinOf;
using comtest::query;
using streamwriter::StreamSpec;

TEST_F(GraphWorld, SeekingInMediaTimeGoesToTheRenderer) {
    addDecoder();
    ASSERT_EQ(S_OK, render(writeStream("clip.mpg", StreamSpec())));
    IMediaSeeking* seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    LONGLONG position = 0, stop = 0, duration = 0;
    EXPECT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_EQ(20000000, duration);
    LONGLONG target = 5000000;
    EXPECT_EQ(S_OK, seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                          AM_SEEKING_NoPositioning));
    EXPECT_EQ(S_OK, seeking->SetPositions(&target, AM_SEEKING_RelativePositioning, nullptr,
                                          AM_SEEKING_NoPositioning));
    EXPECT_EQ(S_OK, seeking->GetPositions(&position, &stop));
    EXPECT_EQ(10000000, position);
    EXPECT_EQ(duration, stop);
    EXPECT_EQ(S_OK, seeking->SetRate(0.5));
    control->Run();
    simctl::advanceClock(1000);
    EXPECT_EQ(S_OK, seeking->GetCurrentPosition(&position));
    EXPECT_EQ(15000000, position);
    GUID format = GUID{};
    EXPECT_EQ(S_OK, seeking->GetTimeFormat(&format));
    EXPECT_TRUE(format == TIME_FORMAT_MEDIA_TIME);
    control->Stop();
    seeking->Release();
    control->Release();
}

// ---- Playback on the manual clock ------------------------------------------------

TEST_F(GraphWorld, TheDecoderPlaysOnTheClockAtTheRateAndPostsCompletionOnce) {
    addDecoder();
    StreamSpec shape;
    shape.seconds = 4;
    shape.width = 704;
    shape.height = 576;
    ASSERT_EQ(S_OK, render(writeStream("clip.mpg", shape)));
    removeVideoRenderer();
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaPosition* position = query<IMediaPosition>(graph, IID_IMediaPosition);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    IBasicVideo2* video = query<IBasicVideo2>(graph, IID_IBasicVideo2);
    LONG width = 0, height = 0;
    EXPECT_EQ(S_OK, video->GetVideoSize(&width, &height));
    EXPECT_EQ(704, width);
    EXPECT_EQ(576, height);
    EXPECT_EQ(S_OK, video->SetDestinationPosition(10, 20, 300, 200));
    EXPECT_EQ(300, simctl::renderer().destWidth);

    REFTIME t = -1;
    EXPECT_EQ(S_OK, position->get_Duration(&t));
    EXPECT_DOUBLE_EQ(4.0, t);
    ASSERT_EQ(S_FALSE, control->Run()) << "the decoder has no data yet";
    simctl::advanceClock(1000);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(1.0, t);
    EXPECT_EQ(E_INVALIDARG, position->put_Rate(0.0));
    EXPECT_EQ(E_INVALIDARG, position->put_Rate(-1.0));
    EXPECT_EQ(S_OK, position->put_Rate(2.0));
    simctl::advanceClock(500);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(2.0, t);
    control->Pause();
    simctl::advanceClock(5000);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(2.0, t) << "time does not move while paused";
    control->Run();
    LONG code = 0;
    LONG_PTR p1 = -1, p2 = -1;
    EXPECT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_CLOCK_CHANGED, code) << "the graph chose its clock on the first run";
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0));
    simctl::advanceClock(999);
    EXPECT_EQ(0, simctl::graphPendingEvents());
    simctl::advanceClock(1);
    EXPECT_EQ(1, simctl::graphPendingEvents()) << "posted when the time came, unasked";
    EXPECT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_COMPLETE, code);
    EXPECT_EQ(0, p1);
    EXPECT_EQ(0, p2);
    EXPECT_EQ(S_OK, events->FreeEventParams(code, p1, p2));
    simctl::advanceClock(1000);
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0)) << "the end is told once";
    EXPECT_EQ(E_ABORT, events->WaitForCompletion(100, &code))
        << "the wait reads the queue, and the end was taken from it";
    EXPECT_EQ(0, code);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(4.0, t);

    EXPECT_EQ(S_OK, position->put_CurrentPosition(1.0));
    simctl::advanceClock(1000);
    IMediaEventSink* sink = query<IMediaEventSink>(graph, IID_IMediaEventSink);
    sink->Notify(EC_PAUSED, 0, 0);
    sink->Release();
    EXPECT_EQ(S_OK, events->WaitForCompletion(static_cast<LONG>(INFINITE), &code))
        << "a seek brings the end again";
    EXPECT_EQ(EC_COMPLETE, code);
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0))
        << "the wait took the end and the events before it";
    control->Stop();
    control->Release();
    position->Release();
    events->Release();
    video->Release();
}

TEST_F(GraphWorld, WithoutDefaultHandlingTheRenderersOwnCompletionComesThrough) {
    IBaseFilter* decoder = addDecoder();
    StreamSpec shape;
    shape.seconds = 1;
    ASSERT_EQ(S_OK, render(writeStream("clip.mpg", shape)));
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    EXPECT_EQ(E_INVALIDARG, events->CancelDefaultHandling(EC_PAUSED));
    EXPECT_EQ(S_OK, events->CancelDefaultHandling(EC_COMPLETE));
    control->Run();
    simctl::advanceClock(2000);
    LONG code = 0;
    LONG_PTR p1 = -1, p2 = 0;
    ASSERT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_CLOCK_CHANGED, code);
    ASSERT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_COMPLETE, code);
    EXPECT_EQ(S_OK, p1);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(decoder), p2) << "the renderer that finished";
    EXPECT_EQ(E_ABORT, events->WaitForCompletion(0, &code)) << "taken already";
    control->Stop();
    EXPECT_EQ(VFW_E_WRONG_STATE, events->WaitForCompletion(0, &code));
    control->Release();
    events->Release();
}

// ---- The push graph with a growing file --------------------------------------------

TEST_F(GraphWorld, AGrowingFileIsReadAsItGrowsAndEndsOnlyOnceItIsComplete) {
    StreamSpec shape;
    shape.seconds = 6;
    streamwriter::ProgramStreamWriter writer(shape);
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(2.0)));

    IBaseFilter* source = nullptr;
    IBaseFilter* demux = nullptr;
    addPushFilters(&source, &demux);
    IBaseFilter* decoder = addDecoder();
    IFileSourceFilter* file = query<IFileSourceFilter>(source, IID_IFileSourceFilter);
    ISharedAsync* shared = query<ISharedAsync>(source, IID_ISharedAsync);
    int lock = 0;
    shared->SetFileLock(&lock);
    ASSERT_EQ(S_OK, file->Load(L"live.mpg", nullptr));
    IPin* pins[4] = {pinOf(source, 0), pinOf(demux, 0), pinOf(demux, 2), pinOf(decoder, 0)};
    ASSERT_EQ(S_OK, graph->ConnectDirect(pins[0], pins[1], nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(pins[2], pins[3], nullptr));

    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaPosition* position = query<IMediaPosition>(graph, IID_IMediaPosition);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    REFTIME t = 0;
    position->get_Duration(&t);
    EXPECT_DOUBLE_EQ(2.0, t);
    control->Run();
    simctl::advanceClock(3000);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(2.0, t) << "playback waits at what has been written";
    LONG code = 0;
    LONG_PTR p1, p2;
    EXPECT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_CLOCK_CHANGED, code);
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0)) << "no end while it grows";

    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(4.0)));
    position->get_Duration(&t);
    EXPECT_DOUBLE_EQ(4.0, t);
    simctl::advanceClock(1000);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(3.0, t) << "playback goes on from where it waited";
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.rest()));
    shared->SetFileLock(nullptr);
    position->get_Duration(&t);
    EXPECT_DOUBLE_EQ(6.0, t);
    simctl::advanceClock(10000);
    EXPECT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_COMPLETE, code);

    control->Stop();
    for (IPin* pin : pins)
        pin->Release();
    source->Release();
    demux->Release();
    file->Release();
    shared->Release();
    control->Release();
    position->Release();
    events->Release();
}

// ---- The real clock ------------------------------------------------------------------

TEST_F(GraphWorld, OnTheRealClockTheWaitForCompletionEndsWithTheStream) {
    simctl::setManualClock(false);
    addDecoder();
    StreamSpec shape;
    shape.seconds = 0.2;
    ASSERT_EQ(S_OK, render(writeStream("short.mpg", shape)));
    removeVideoRenderer();
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    ASSERT_EQ(S_FALSE, control->Run());
    LONG code = 0;
    EXPECT_EQ(S_OK, events->WaitForCompletion(static_cast<LONG>(INFINITE), &code));
    EXPECT_EQ(EC_COMPLETE, code);
    control->Stop();
    control->Release();
    events->Release();
}

TEST_F(GraphWorld, AnEndlessWaitOnAGraphThatCannotFinishGivesUpAtTheWorldsLimit) {
    simctl::setManualClock(false);
    simctl::setWaitLimit(50);
    StreamSpec shape;
    streamwriter::ProgramStreamWriter writer(shape);
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(0.1)));
    IBaseFilter* source = nullptr;
    IBaseFilter* demux = nullptr;
    addPushFilters(&source, &demux);
    IBaseFilter* decoder = addDecoder();
    ISharedAsync* shared = query<ISharedAsync>(source, IID_ISharedAsync);
    IFileSourceFilter* file = query<IFileSourceFilter>(source, IID_IFileSourceFilter);
    int lock = 0;
    shared->SetFileLock(&lock); // still being written: no end in sight
    file->Load(L"live.mpg", nullptr);
    IPin* pins[4] = {pinOf(source, 0), pinOf(demux, 0), pinOf(demux, 2), pinOf(decoder, 0)};
    ASSERT_EQ(S_OK, graph->ConnectDirect(pins[0], pins[1], nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(pins[2], pins[3], nullptr));
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    control->Run();
    LONG code = 0;
    EXPECT_EQ(E_ABORT, events->WaitForCompletion(static_cast<LONG>(INFINITE), &code));
    EXPECT_EQ(0, code);
    std::vector<std::string> trace = simctl::graphTrace();
    EXPECT_NE(trace.end(), std::find(trace.begin(), trace.end(),
                                     "Wait gave up after the world's limit of 50 ms"));
    control->Stop();
    for (IPin* pin : pins)
        pin->Release();
    source->Release();
    demux->Release();
    shared->Release();
    file->Release();
    control->Release();
    events->Release();
    simctl::setWaitLimit(60000);
}

} // namespace

namespace {

// ---- The decoder's two clock models, and the graph's own time -------------------------

// The push graph over a file of which `writer` has written two seconds so
// far, still locked by its writer.
struct GrowingPushGraph {
    IBaseFilter* source = nullptr;
    IBaseFilter* demux = nullptr;
    ISharedAsync* shared = nullptr;
    std::vector<IPin*> pins;

    void build(IGraphBuilder* graph, IBaseFilter* decoder) {
        IFileSourceFilter* file = query<IFileSourceFilter>(source, IID_IFileSourceFilter);
        shared = query<ISharedAsync>(source, IID_ISharedAsync);
        static int lock = 0;
        shared->SetFileLock(&lock);
        ASSERT_EQ(S_OK, file->Load(L"live.mpg", nullptr));
        file->Release();
        pins = {pinOf(source, 0), pinOf(demux, 0), pinOf(demux, 2), pinOf(decoder, 0)};
        ASSERT_EQ(S_OK, graph->ConnectDirect(pins[0], pins[1], nullptr));
        ASSERT_EQ(S_OK, graph->ConnectDirect(pins[2], pins[3], nullptr));
    }
    ~GrowingPushGraph() {
        for (IPin* pin : pins)
            pin->Release();
        if (shared)
            shared->Release();
        if (source)
            source->Release();
        if (demux)
            demux->Release();
    }
};

LONG nextCode(IMediaEventEx* events) {
    LONG code = 0;
    LONG_PTR p1, p2;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK)
        if (code != EC_CLOCK_CHANGED)
            return code;
    return 0;
}

} // namespace

// Without a clock of the decoder's, the graph's position runs on with the
// system clock past the written end of a file still being written, as on
// Windows; once every renderer has completed, it is the stop exactly.
TEST_F(GraphWorld, WithoutADecoderClockThePositionRunsOnPastTheWrittenEnd) {
    simcard::setDecoderClock(simcard::DecoderClock::None);
    StreamSpec shape;
    shape.seconds = 6;
    streamwriter::ProgramStreamWriter writer(shape);
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(2.0)));
    GrowingPushGraph push;
    addPushFilters(&push.source, &push.demux);
    IBaseFilter* decoder = addDecoder();
    push.build(graph, decoder);
    IReferenceClock* decoderClock = nullptr;
    EXPECT_EQ(E_NOINTERFACE, decoder->QueryInterface(IID_IReferenceClock,
                                                     reinterpret_cast<void**>(&decoderClock)));

    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaPosition* position = query<IMediaPosition>(graph, IID_IMediaPosition);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    control->Run();
    simctl::advanceClock(3000);
    REFTIME t = 0;
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(3.0, t) << "the system clock knows nothing of the written end";
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.rest()));
    push.shared->SetFileLock(nullptr);
    simctl::advanceClock(2000);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(5.0, t);
    EXPECT_EQ(0, nextCode(events)) << "the decoder, which waited, has a second to play";
    simctl::advanceClock(2000);
    EXPECT_EQ(EC_COMPLETE, nextCode(events));
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(6.0, t) << "after the end: the stop, exactly";
    simctl::advanceClock(1000);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(6.0, t);

    control->Stop();
    control->Release();
    position->Release();
    events->Release();
}

// With the decoder's clock the graph's time stands while the decoder waits
// at the written end, so the position holds there, and goes on from there.
TEST_F(GraphWorld, TheDecoderClockHoldsAtTheWrittenEndAndTheGraphAsksNoFilter) {
    StreamSpec shape;
    shape.seconds = 6;
    streamwriter::ProgramStreamWriter writer(shape);
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(2.0)));
    GrowingPushGraph push;
    addPushFilters(&push.source, &push.demux);
    IBaseFilter* decoder = addDecoder();
    push.build(graph, decoder);

    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaPosition* position = query<IMediaPosition>(graph, IID_IMediaPosition);
    IMediaFilter* filter = query<IMediaFilter>(graph, IID_IMediaFilter);
    control->Run();
    IReferenceClock* clock = nullptr;
    ASSERT_EQ(S_OK, filter->GetSyncSource(&clock));
    IUnknown* clockIdentity = query<IUnknown>(clock, IID_IUnknown);
    IUnknown* decoderIdentity = query<IUnknown>(decoder, IID_IUnknown);
    EXPECT_EQ(decoderIdentity, clockIdentity) << "the graph runs on the decoder's clock";
    simctl::advanceClock(3000);
    REFTIME t = 0;
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(2.0, t);
    simctl::armFault("DecoderFilter::GetCurrentPosition", E_UNEXPECTED);
    EXPECT_EQ(S_OK, position->get_CurrentPosition(&t)) << "a running graph asks no filter";
    simctl::clearFaults();
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(4.0)));
    simctl::advanceClock(1500);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(3.5, t);

    control->Stop();
    clock->Release();
    clockIdentity->Release();
    decoderIdentity->Release();
    filter->Release();
    control->Release();
    position->Release();
}

// ---- Renderers and the end; seeking while running ---------------------------------

// The video renderer on nothing completes at Run; the graph tells the
// application once the decoder has completed too. A seek while running
// pauses, seeks and runs again from the seek; a run clears an end queued
// from before.
TEST_F(GraphWorld, EveryRendererCountedAtRunCompletesBeforeTheGraphDoes) {
    addDecoder();
    StreamSpec shape;
    shape.seconds = 2;
    ASSERT_EQ(S_OK, render(writeStream("clip.mpg", shape)));
    IBaseFilter* renderer = nullptr;
    ASSERT_EQ(S_OK, graph->FindFilterByName(L"Video Renderer", &renderer));
    IPin* overlay = pinOf(renderer, 0);
    EXPECT_EQ(S_OK, graph->Disconnect(overlay)) << "an unconnected renderer completes at Run";
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaSeeking* seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    IMediaSeeking* rendererSeeking = query<IMediaSeeking>(renderer, IID_IMediaSeeking);
    EXPECT_EQ(S_OK, rendererSeeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
    rendererSeeking->Release();

    control->Run();
    EXPECT_EQ(0, nextCode(events)) << "the decoder has not completed";
    simctl::advanceClock(2500);
    EXPECT_EQ(EC_COMPLETE, nextCode(events));
    LONGLONG now = 0;
    seeking->GetCurrentPosition(&now);
    EXPECT_EQ(20000000, now);

    LONGLONG target = 5000000;
    EXPECT_EQ(S_OK, seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                          AM_SEEKING_NoPositioning));
    EXPECT_EQ(2, simctl::graphState()) << "running again after the seek";
    seeking->GetCurrentPosition(&now);
    EXPECT_EQ(5000000, now);
    simctl::advanceClock(1000);
    seeking->GetCurrentPosition(&now);
    EXPECT_EQ(15000000, now);
    EXPECT_EQ(S_OK, seeking->SetRate(2.0));
    EXPECT_EQ(2, simctl::graphState()) << "a rate change restores the state";
    simctl::advanceClock(100);
    seeking->GetCurrentPosition(&now);
    EXPECT_EQ(17000000, now);
    simctl::advanceClock(300);
    EXPECT_EQ(EC_COMPLETE, nextCode(events)) << "the seek brought the end again";

    // An end queued before a run is gone after it.
    control->Pause();
    target = 0;
    seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                          AM_SEEKING_NoPositioning);
    simctl::advanceClock(5000);
    control->Run();
    simctl::advanceClock(500);
    EXPECT_EQ(0, nextCode(events));

    control->Stop();
    overlay->Release();
    renderer->Release();
    control->Release();
    seeking->Release();
    events->Release();
}

// ---- State changes --------------------------------------------------------------------

// Each filter changes state before the filters upstream of it, and a
// running filter pauses before it stops. GetState answers from the
// filters' own states: one paused on its way is intermediate, any other
// difference a failure.
TEST_F(GraphWorld, FiltersChangeStateDownstreamFirstAndPauseBeforeTheyStop) {
    streamwriter::ProgramStreamWriter writer{StreamSpec()};
    ASSERT_TRUE(streamwriter::appendBytes("clip.mpg", writer.rest()));
    GrowingPushGraph push;
    IBaseFilter* decoder = addDecoder(); // added first: enumerated last
    addPushFilters(&push.source, &push.demux);
    push.build(graph, decoder);
    push.shared->SetFileLock(nullptr);
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    control->Run();
    simctl::resetPointsReached();
    control->Stop();
    std::vector<std::string> changes;
    auto endsWith = [](const std::string& s, const std::string& end) {
        return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
    };
    for (const std::string& point : simctl::pointsReached())
        if (point.rfind("FilterGraph::", 0) != 0 &&
            (endsWith(point, "::Pause") || endsWith(point, "::Stop")))
            changes.push_back(point);
    EXPECT_EQ(
        (std::vector<std::string>{"DecoderFilter::Pause", "MpegDemux::Pause", "SharedSource::Pause",
                                  "DecoderFilter::Stop", "MpegDemux::Stop", "SharedSource::Stop"}),
        changes);

    OAFilterState state = -1;
    EXPECT_EQ(S_OK, control->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    push.demux->Pause();
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, control->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    push.demux->Run(0);
    EXPECT_EQ(E_FAIL, control->GetState(0, &state));
    push.demux->Stop();
    EXPECT_EQ(S_OK, control->GetState(0, &state));
    control->Release();
}

// A test's event lands between the application's drain of the queue and
// its next call, once.
TEST_F(GraphWorld, AnEventArmedForTheNextDrainArrivesRightAfterIt) {
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    simctl::postAfterNextDrain(EC_PAUSED, 7, 9);
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0)) << "the drain finds nothing";
    ASSERT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_PAUSED, code);
    EXPECT_EQ(7, p1);
    EXPECT_EQ(9, p2);
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0)) << "once";
    events->Release();
}
