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
    ASSERT_EQ(S_OK, control->Run());
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
    simctl::advanceClock(1000);
    EXPECT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_COMPLETE, code);
    EXPECT_EQ(0, p1);
    EXPECT_EQ(0, p2);
    EXPECT_EQ(S_OK, events->FreeEventParams(code, p1, p2));
    simctl::advanceClock(1000);
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0)) << "the end is told once";
    EXPECT_EQ(S_OK, events->WaitForCompletion(static_cast<LONG>(INFINITE), &code));
    EXPECT_EQ(EC_COMPLETE, code);
    position->get_CurrentPosition(&t);
    EXPECT_DOUBLE_EQ(4.0, t);

    EXPECT_EQ(S_OK, position->put_CurrentPosition(1.0));
    simctl::advanceClock(1500);
    EXPECT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0)) << "a seek brings the end again";
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
    EXPECT_EQ(S_OK, events->WaitForCompletion(0, &code));
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
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    ASSERT_EQ(S_OK, control->Run());
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
