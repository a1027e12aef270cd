// The card's filters as a real graph manager meets them: the decoder as a
// renderer that takes samples of what the card decodes, the demultiplexer as
// a splitter over any reader, and the two playing a rendered file to its end.
#include "com_helpers.h"
#include "stream_writer.h"

#include "sim/base/filter.h"
#include "sim/base/world_wait.h"
#include "sim/card/stream_filters.h"
#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"
#include "sim/media/stream.h"
#include "sim/media/types.h"
#include "src/card/card_interfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

namespace {

using comtest::connected;
using comtest::create;
using comtest::pinCount;
using comtest::pinName;
using comtest::pinOf;
using comtest::query;
using streamwriter::StreamSpec;

const GUID kRgb32 = {0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const GUID kYuy2 = {0x32595559, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

AM_MEDIA_TYPE connectionType(IPin* pin) {
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(S_OK, pin->ConnectionMediaType(&mt));
    return mt;
}

class CardFilterWorld : public testing::Test {
  protected:
    void SetUp() override {
        simctl::reset();
        simcard::reset();
        simctl::setManualClock(true);
        CoInitialize(nullptr);
        graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        decoder = create<IBaseFilter>(CLSID_TovixDecoder, IID_IBaseFilter);
        EXPECT_EQ(S_OK, graph->AddFilter(decoder, L"Sigma Decoder"));
    }
    void TearDown() override {
        decoder->Release();
        if (graph)
            graph->Release();
        CoUninitialize();
        EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
    }
    // A source for `shape` and the demultiplexer, connected.
    IBaseFilter* sourceAndDemux(const StreamSpec& shape) {
        EXPECT_TRUE(streamwriter::writeProgramStream("clip.mpg", shape));
        IBaseFilter* source = nullptr;
        EXPECT_EQ(S_OK, graph->AddSourceFilter(L"clip.mpg", L"Source", &source));
        IBaseFilter* demux = create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
        EXPECT_EQ(S_OK, graph->AddFilter(demux, L"MPEG DeMux"));
        IPin* out = pinOf(source, 0);
        IPin* in = pinOf(demux, sim::kDemuxInput);
        EXPECT_EQ(S_OK, graph->ConnectDirect(out, in, nullptr));
        out->Release();
        in->Release();
        source->Release();
        demux->Release(); // the graph holds both
        return demux;
    }
    // The push graph as the library wires it over `path`: the shared source,
    // the demultiplexer, and the decoder's video and audio inputs; the file
    // still being written while the source holds `lock`. Answers the
    // source's ISharedAsync; the graph holds the filters.
    ISharedAsync* pushGraph(const wchar_t* path, void* lock) {
        IBaseFilter* source = create<IBaseFilter>(CLSID_SharedSource, IID_IBaseFilter);
        IBaseFilter* demux = create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
        EXPECT_EQ(S_OK, graph->AddFilter(source, L"Shared Source"));
        EXPECT_EQ(S_OK, graph->AddFilter(demux, L"MPEG DeMux"));
        ISharedAsync* shared = query<ISharedAsync>(source, IID_ISharedAsync);
        IFileSourceFilter* file = query<IFileSourceFilter>(source, IID_IFileSourceFilter);
        if (lock)
            shared->SetFileLock(lock);
        EXPECT_EQ(S_OK, file->Load(path, nullptr));
        file->Release();
        connect(source, 0, demux, sim::kDemuxInput);
        connect(demux, sim::kDemuxVideoOut, decoder, 0);
        connect(demux, sim::kDemuxAudioOut, decoder, 1);
        source->Release();
        demux->Release();
        return shared;
    }
    void connect(IBaseFilter* from, int out, IBaseFilter* to, int in) {
        IPin* output = pinOf(from, out);
        IPin* input = pinOf(to, in);
        EXPECT_EQ(S_OK, graph->ConnectDirect(output, input, nullptr));
        output->Release();
        input->Release();
    }
    HRESULT render(const StreamSpec& shape) {
        EXPECT_TRUE(streamwriter::writeProgramStream("clip.mpg", shape));
        return graph->RenderFile(L"clip.mpg", nullptr);
    }
    // The next event's code but for the clock's changes, or 0 when none is
    // queued.
    LONG nextEvent() {
        IMediaEvent* events = query<IMediaEvent>(graph, IID_IMediaEvent);
        LONG code = 0, found = 0;
        LONG_PTR one = 0, two = 0;
        while (!found && events->GetEvent(&code, &one, &two, 0) == S_OK) {
            events->FreeEventParams(code, one, two);
            if (code != EC_CLOCK_CHANGED)
                found = code;
        }
        events->Release();
        return found;
    }

    IGraphBuilder* graph = nullptr;
    IBaseFilter* decoder = nullptr;
};

// ---- The decoder's inputs ----------------------------------------------------------

TEST_F(CardFilterWorld, DecoderInputsTakeWhatTheCardDecodesAndRefuseDecodedData) {
    IPin* video = pinOf(decoder, 0);
    IPin* audio = pinOf(decoder, 1);
    IPin* overlay = pinOf(decoder, 2);
    for (const GUID* sub : {&MEDIASUBTYPE_MPEG2_VIDEO, &sim::MEDIASUBTYPE_MPEG1Payload,
                            &sim::MEDIASUBTYPE_MPEG1Packet}) {
        AM_MEDIA_TYPE mt = sim::makeMediaType(MEDIATYPE_Video, *sub);
        EXPECT_EQ(S_OK, video->QueryAccept(&mt)) << sim::guidName(*sub);
    }
    for (const GUID* sub : {&kRgb32, &kYuy2}) {
        AM_MEDIA_TYPE mt = sim::makeMediaType(MEDIATYPE_Video, *sub);
        EXPECT_EQ(S_FALSE, video->QueryAccept(&mt)) << "decoded video";
    }
    for (const GUID* sub : {&MEDIASUBTYPE_MPEG1Audio, &sim::MEDIASUBTYPE_MPEG1AudioPayload,
                            &sim::MEDIASUBTYPE_MPEG2_AUDIO, &sim::MEDIASUBTYPE_DOLBY_AC3,
                            &sim::MEDIASUBTYPE_DVD_LPCM_AUDIO}) {
        AM_MEDIA_TYPE mt = sim::makeMediaType(MEDIATYPE_Audio, *sub);
        EXPECT_EQ(S_OK, audio->QueryAccept(&mt)) << sim::guidName(*sub);
    }
    AM_MEDIA_TYPE pcm = sim::makeMediaType(MEDIATYPE_Audio, sim::MEDIASUBTYPE_PCM);
    EXPECT_EQ(S_FALSE, audio->QueryAccept(&pcm)) << "decoded audio";

    IMemInputPin* input = query<IMemInputPin>(video, IID_IMemInputPin);
    IPin* back = query<IPin>(input, IID_IPin);
    EXPECT_EQ(video, back) << "the receiver is the pin itself";
    back->Release();
    IMemInputPin* none = nullptr;
    EXPECT_EQ(E_NOINTERFACE,
              overlay->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&none)));
    input->Release();
    video->Release();
    audio->Release();
    overlay->Release();
}

// A Receive on a world thread of its own, as a splitter's streaming thread
// calls it: the test waits for the world to be idle, then sees whether the
// call has returned.
class Delivery {
  public:
    Delivery(IMemInputPin* input, IMediaSample* sample, REFERENCE_TIME at) {
        REFERENCE_TIME end = at + 1;
        sample->SetTime(&at, &end);
        thread_.start([this, input, sample] { answer_ = input->Receive(sample); });
        simctl::waitForStreaming();
    }
    ~Delivery() { thread_.join(); }
    bool returned() {
        simctl::waitForStreaming();
        return answer_ != kPending;
    }
    HRESULT answer() {
        thread_.join();
        return answer_;
    }

  private:
    static const HRESULT kPending = 0x7FFF0001;
    std::atomic<HRESULT> answer_{kPending};
    sim::WorldThread thread_;
};

TEST_F(CardFilterWorld, DecoderTakesSamplesOnlyWhileActiveAndBeforeTheEnd) {
    IPin* video = pinOf(decoder, 0);
    IMemInputPin* input = query<IMemInputPin>(video, IID_IMemInputPin);
    EXPECT_EQ(E_NOTIMPL, input->GetAllocatorRequirements(nullptr));
    EXPECT_EQ(E_POINTER, input->NotifyAllocator(nullptr, FALSE));
    EXPECT_EQ(S_OK, input->ReceiveCanBlock()) << "a paused or full card holds the caller";
    IMemAllocator* allocator = nullptr;
    ASSERT_EQ(S_OK, input->GetAllocator(&allocator));
    ALLOCATOR_PROPERTIES wanted{2, 4096, 1, 0}, got{};
    EXPECT_EQ(S_OK, allocator->SetProperties(&wanted, &got));
    IMediaSample* sample = nullptr;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, allocator->Commit());
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(4096, sample->GetSize());

    EXPECT_EQ(VFW_E_WRONG_STATE, input->Receive(sample)) << "stopped";
    ASSERT_EQ(S_OK, decoder->Pause()) << "an input nobody feeds has nothing to wait for";
    long before = simctl::renderer().samples;
    {
        Delivery held(input, sample, 0);
        EXPECT_EQ(before + 1, simctl::renderer().samples) << "taken";
        EXPECT_FALSE(held.returned()) << "a paused decoder holds the sample's thread";
        EXPECT_EQ(S_OK, video->BeginFlush());
        EXPECT_EQ(S_OK, held.answer()) << "the flush lets it go";
    }
    EXPECT_EQ(S_FALSE, input->Receive(sample)) << "flushing";
    EXPECT_EQ(S_FALSE, video->EndOfStream()) << "an end while flushing is dropped";
    EXPECT_EQ(S_OK, video->EndFlush());
    EXPECT_EQ(S_OK, video->EndOfStream());
    EXPECT_EQ(VFW_E_SAMPLE_REJECTED_EOS, input->Receive(sample));
    IPin* overlay = pinOf(decoder, 2);
    EXPECT_EQ(E_UNEXPECTED, overlay->EndOfStream()) << "an output pin";
    EXPECT_EQ(S_OK, decoder->Stop());
    EXPECT_EQ(VFW_E_WRONG_STATE, video->EndOfStream()) << "stopped";

    ASSERT_EQ(S_OK, decoder->Pause());
    {
        Delivery held(input, sample, 0);
        EXPECT_FALSE(held.returned()) << "stopping forgot the end";
        EXPECT_EQ(S_OK, decoder->Run(0));
        EXPECT_EQ(S_OK, held.answer()) << "running lets it go";
    }
    // Running, the card takes what lies within its buffer at once, and
    // holds a sample further ahead until the clock comes near it.
    EXPECT_EQ(S_OK, input->Receive(sample));
    {
        Delivery ahead(input, sample, 30000000);
        simctl::advanceClock(2000);
        EXPECT_FALSE(ahead.returned()) << "3 s ahead at 2 s";
        simctl::advanceClock(600);
        EXPECT_TRUE(ahead.returned()) << "within the buffer at 2.6 s";
        EXPECT_EQ(S_OK, ahead.answer());
        Delivery later(input, sample, 60000000);
        EXPECT_EQ(S_OK, decoder->Stop());
        EXPECT_EQ(S_OK, later.answer()) << "the stop lets it go";
    }

    sample->Release();
    allocator->Release();
    overlay->Release();
    input->Release();
    video->Release();
}

// ---- Pauses that wait for data ----------------------------------------------------------

// An upstream filter whose output delivers nothing by itself: the test
// delivers for it.
class QuietSource : public sim::BaseFilter {
  public:
    QuietSource() : BaseFilter("QuietSource", GUID{}) {
        addPin(L"Out", PINDIR_OUTPUT,
               {sim::makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO)});
    }
};

TEST_F(CardFilterWorld, PauseAndRunWaitForTheDecodersFirstSampleOrItsEnd) {
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaFilter* media = query<IMediaFilter>(graph, IID_IMediaFilter);
    OAFilterState state = -1;
    EXPECT_EQ(S_OK, control->Pause()) << "nothing connected, nothing to wait for";
    EXPECT_EQ(S_OK, control->GetState(0, &state));
    EXPECT_EQ(S_OK, control->Stop());

    QuietSource* source = new QuietSource();
    ASSERT_EQ(S_OK, graph->AddFilter(source, L"Quiet"));
    source->Release(); // the graph holds it
    IPin* out = pinOf(source, 0);
    IPin* video = pinOf(decoder, 0);
    ASSERT_EQ(S_OK, graph->ConnectDirect(out, video, nullptr));
    IMemInputPin* input = query<IMemInputPin>(video, IID_IMemInputPin);
    IMemAllocator* allocator = nullptr;
    ASSERT_EQ(S_OK, input->GetAllocator(&allocator));
    ALLOCATOR_PROPERTIES wanted{1, 64, 1, 0}, got{};
    allocator->SetProperties(&wanted, &got);
    allocator->Commit();
    IMediaSample* sample = nullptr;
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));

    EXPECT_EQ(S_FALSE, control->Pause()) << "the decoder has no data";
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, control->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, control->GetState(20, &state)) << "waited in vain";
    {
        Delivery first(input, sample, 0);
        EXPECT_EQ(S_OK, control->GetState(0, &state)) << "the first sample completes the pause";
        EXPECT_EQ(State_Paused, state);
        EXPECT_EQ(S_OK, control->Stop());
    }

    // A run from stopped leaves the filters paused until the data comes,
    // then runs them.
    EXPECT_EQ(S_FALSE, control->Run());
    FILTER_STATE own = State_Stopped;
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, media->GetState(0, &own));
    EXPECT_EQ(State_Running, own);
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, decoder->GetState(0, &own));
    EXPECT_EQ(State_Paused, own) << "the decoder is not run before its pause is complete";
    EXPECT_EQ(S_FALSE, control->Run()) << "asked again while it waits";
    {
        Delivery first(input, sample, 0);
        EXPECT_TRUE(first.returned()) << "the decoder runs and takes it";
        EXPECT_EQ(S_OK, decoder->GetState(0, &own));
        EXPECT_EQ(State_Running, own);
        EXPECT_EQ(S_OK, control->GetState(0, &state));
        EXPECT_EQ(State_Running, state);
    }
    EXPECT_EQ(S_OK, control->Stop());

    // The end of the stream completes a pause as a sample does; a stop while
    // a run waits abandons it.
    EXPECT_EQ(S_FALSE, control->Run());
    EXPECT_EQ(S_OK, control->Stop());
    EXPECT_EQ(S_OK, decoder->GetState(0, &own));
    EXPECT_EQ(State_Stopped, own);
    EXPECT_EQ(S_FALSE, control->Pause());
    EXPECT_EQ(S_OK, video->EndOfStream());
    EXPECT_EQ(S_OK, control->GetState(0, &state));
    EXPECT_EQ(S_OK, control->Run()) << "paused already, with its end";
    EXPECT_EQ(S_OK, control->Stop());

    sample->Release();
    allocator->Release();
    input->Release();
    video->Release();
    out->Release();
    media->Release();
    control->Release();
}

// ---- The demultiplexer as a splitter --------------------------------------------------

TEST_F(CardFilterWorld, DemuxOverAReaderOffersTheStreamsFoundWithTheirFormats) {
    StreamSpec shape;
    shape.audioStreams = 2;
    IBaseFilter* demux = sourceAndDemux(shape);
    ASSERT_EQ(4, pinCount(demux)) << "input, video, two audio";
    IPin* video = pinOf(demux, 1);
    IPin* audio = pinOf(demux, 2);
    IPin* second = pinOf(demux, 3);
    EXPECT_EQ("Video", pinName(video));
    EXPECT_EQ("Audio", pinName(audio));
    EXPECT_EQ("Audio 2", pinName(second));
    IPin* decoderVideo = pinOf(decoder, 0);
    ASSERT_EQ(S_OK, graph->ConnectDirect(video, decoderVideo, nullptr));
    AM_MEDIA_TYPE mt = connectionType(decoderVideo);
    EXPECT_EQ(MEDIASUBTYPE_MPEG2_VIDEO, mt.subtype);
    EXPECT_EQ(sim::FORMAT_MPEG2Video, mt.formattype);
    sim::VideoFormat picture;
    ASSERT_TRUE(sim::readVideoFormat(mt, &picture));
    EXPECT_EQ(720, picture.width);
    EXPECT_EQ(480, picture.height);
    EXPECT_EQ(400000, picture.framePeriod) << "25 frames a second";
    sim::freeMediaType(&mt);

    IMediaSeeking* seeking = query<IMediaSeeking>(audio, IID_IMediaSeeking);
    LONGLONG duration = 0;
    EXPECT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_EQ(20000000, duration);
    DWORD caps = 0;
    EXPECT_EQ(S_OK, seeking->GetCapabilities(&caps));
    EXPECT_EQ(0x37u, caps) << "no current position: the renderer knows that";
    EXPECT_EQ(E_INVALIDARG, seeking->SetRate(-1.0));
    seeking->Release();
    IMediaSeeking* none = nullptr;
    EXPECT_EQ(E_NOINTERFACE,
              demux->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&none)))
        << "the pins seek, not the filter";

    // Without its reader it is the push graph's demultiplexer again.
    IPin* in = pinOf(demux, 0);
    EXPECT_EQ(S_OK, graph->Disconnect(in));
    EXPECT_EQ(4, pinCount(demux));
    EXPECT_FALSE(connected(decoderVideo));
    in->Release();
    decoderVideo->Release();
    video->Release();
    audio->Release();
    second->Release();
}

TEST_F(CardFilterWorld, MpegOneVideoAndAudioAloneAsTheDemuxFindsThem) {
    StreamSpec mpeg1;
    mpeg1.mpeg1 = true;
    mpeg1.width = 352;
    mpeg1.height = 240;
    IBaseFilter* demux = sourceAndDemux(mpeg1);
    IPin* video = pinOf(demux, 1);
    IPin* decoderVideo = pinOf(decoder, 0);
    ASSERT_EQ(S_OK, graph->ConnectDirect(video, decoderVideo, nullptr));
    AM_MEDIA_TYPE mt = connectionType(video);
    EXPECT_EQ(sim::MEDIASUBTYPE_MPEG1Payload, mt.subtype);
    EXPECT_EQ(sim::FORMAT_MPEGVideo, mt.formattype);
    sim::freeMediaType(&mt);
    IBasicVideo* picture = query<IBasicVideo>(decoder, IID_IBasicVideo);
    LONG width = 0, height = 0;
    EXPECT_EQ(S_OK, picture->GetVideoSize(&width, &height));
    EXPECT_EQ(352, width);
    EXPECT_EQ(240, height) << "from the connection's format block";
    video->Release();
    decoderVideo->Release();
    graph->RemoveFilter(demux);

    StreamSpec tone;
    tone.video = false;
    demux = sourceAndDemux(tone);
    EXPECT_EQ(2, pinCount(demux)) << "input and audio: no video pin";
    EXPECT_EQ(VFW_E_NOT_CONNECTED, picture->GetVideoSize(&width, &height));
    picture->Release();
}

TEST_F(CardFilterWorld, AReaderWithNoSystemStreamIsRefused) {
    FILE* text = fopen("notes.mpg", "w");
    fputs("\x00\x00\x01\xBA but nothing after the pack", text);
    fclose(text);
    IBaseFilter* source = nullptr;
    ASSERT_EQ(S_OK, graph->AddSourceFilter(L"notes.mpg", L"Source", &source));
    IBaseFilter* demux = create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
    EXPECT_EQ(S_OK, graph->AddFilter(demux, L"MPEG DeMux"));
    IPin* out = pinOf(source, 0);
    IPin* in = pinOf(demux, 0);
    EXPECT_TRUE(FAILED(graph->ConnectDirect(out, in, nullptr)));
    EXPECT_FALSE(connected(in));
    out->Release();
    in->Release();
    demux->Release();
    source->Release();
}

// ---- A rendered file played to its end -------------------------------------------------

// ---- Delivery in either graph --------------------------------------------------------

// The rendered graph (RenderFile: the demultiplexer over a reader) and the
// push graph as the library wires it deliver, pend, seek and end alike.
class EitherGraph : public CardFilterWorld, public testing::WithParamInterface<bool> {
  protected:
    bool push() const { return GetParam(); }
    // The clip `shape` in the graph of the test's kind, complete.
    void build(const StreamSpec& shape) {
        if (push()) {
            ASSERT_TRUE(streamwriter::writeProgramStream("clip.mpg", shape));
            pushGraph(L"clip.mpg", nullptr)->Release();
            return;
        }
        ASSERT_EQ(S_OK, render(shape));
        // The overlay's renderer out, as the library takes it (it would
        // never complete).
        IBaseFilter* renderer = nullptr;
        ASSERT_EQ(S_OK, graph->FindFilterByName(L"Video Renderer", &renderer));
        EXPECT_EQ(S_OK, graph->RemoveFilter(renderer));
        renderer->Release();
    }
};

INSTANTIATE_TEST_SUITE_P(Graphs, EitherGraph, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Push" : "Rendered");
                         });

TEST_P(EitherGraph, AFileIsDeliveredAndCompletesOnceTheClockPassesItsEnd) {
    ASSERT_NO_FATAL_FAILURE(build(StreamSpec()));
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaSeeking* seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
    long before = simctl::renderer().samples;
    ASSERT_EQ(S_FALSE, control->Run()) << "the decoder has no data yet";
    simctl::waitForStreaming();
    long buffered = simctl::renderer().samples - before;
    EXPECT_GT(buffered, 0);
    simctl::advanceClock(1900);
    long delivered = simctl::renderer().samples - before;
    EXPECT_GT(delivered, buffered) << "the rest as the clock comes near it";
    EXPECT_GT(delivered, 50) << "two seconds of video and audio";
    EXPECT_EQ(0, nextEvent()) << "delivered whole, but not yet played";
    simctl::advanceClock(200);
    EXPECT_EQ(EC_COMPLETE, nextEvent());

    // A seek delivers again from there, and the end comes again.
    LONGLONG at = 15000000;
    before = simctl::renderer().samples;
    EXPECT_EQ(S_OK, seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr,
                                          AM_SEEKING_NoPositioning));
    simctl::waitForStreaming();
    long again = simctl::renderer().samples - before;
    EXPECT_GT(again, 0);
    EXPECT_LT(again, delivered / 2) << "only what lies after 1.5 s";
    simctl::advanceClock(600);
    EXPECT_EQ(EC_COMPLETE, nextEvent());
    EXPECT_EQ(S_OK, control->Stop());
    seeking->Release();
    control->Release();
}

TEST_P(EitherGraph, ASeekWhilePausedDeliversAgainAndAStopNeverLeavesAThreadHeld) {
    ASSERT_NO_FATAL_FAILURE(build(StreamSpec()));
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaSeeking* seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
    long before = simctl::renderer().samples;
    EXPECT_EQ(S_FALSE, control->Pause());
    simctl::waitForStreaming();
    EXPECT_EQ(before + 2, simctl::renderer().samples)
        << "a paused decoder holds the first sample of each stream";
    before = simctl::renderer().samples;
    OAFilterState state = -1;
    EXPECT_EQ(S_OK, control->GetState(0, &state));

    LONGLONG at = 10000000;
    EXPECT_EQ(S_OK, seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr,
                                          AM_SEEKING_NoPositioning));
    simctl::waitForStreaming();
    EXPECT_EQ(before + 2, simctl::renderer().samples) << "the flush let them go; again from 1 s";
    EXPECT_EQ(S_OK, control->GetState(0, &state));

    // A decoder that refuses to stop still lets the streaming threads go
    // (held in its Receive, half the clip ahead).
    at = 0;
    EXPECT_EQ(S_OK, seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr,
                                          AM_SEEKING_NoPositioning));
    simctl::waitForStreaming();
    EXPECT_EQ(S_OK, control->Run()) << "paused with data";
    simctl::advanceClock(500);
    simctl::armFault("DecoderFilter::Stop", E_FAIL);
    EXPECT_EQ(E_FAIL, control->Stop());
    simctl::clearFaults();
    EXPECT_EQ(S_OK, control->Stop());
    seeking->Release();
    control->Release();
}

// Paused, each streaming thread is held in the decoder's Receive; the
// graph's last release still returns, and leaves nothing alive.
TEST_P(EitherGraph, TheGraphsLastReleaseReturnsWhileItsThreadsAreHeld) {
    ASSERT_NO_FATAL_FAILURE(build(StreamSpec()));
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    long before = simctl::renderer().samples;
    EXPECT_EQ(S_FALSE, control->Pause());
    simctl::waitForStreaming();
    EXPECT_EQ(before + 2, simctl::renderer().samples);
    control->Release();
    EXPECT_EQ(0u, graph->Release());
    graph = nullptr;
}

// ---- The push graph over a recording still being written -------------------------------

// The shared source delivers what is written: a pause pends until the first
// bytes are, delivery waits at the written end and presentation holds
// there, and the stream ends only once the writer has let go of the file.
TEST_F(CardFilterWorld, APushGraphPendsUntilTheFirstBytesAndWaitsAtTheWrittenEnd) {
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", {}));
    StreamSpec shape;
    shape.seconds = 2;
    streamwriter::ProgramStreamWriter writer(shape);
    int lock = 0;
    ISharedAsync* shared = pushGraph(L"live.mpg", &lock);
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaSeeking* seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
    OAFilterState state = -1;
    long before = simctl::renderer().samples;
    EXPECT_EQ(S_FALSE, control->Pause()) << "nothing written yet";
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, control->GetState(100, &state));
    EXPECT_EQ(State_Paused, state);
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(1.0)));
    simctl::waitForStreaming();
    EXPECT_EQ(S_OK, control->GetState(0, &state)) << "the first bytes complete the pause";
    EXPECT_EQ(before + 2, simctl::renderer().samples) << "one sample held on each input";

    LONGLONG written = 0, at = 0;
    ASSERT_EQ(S_OK, seeking->GetDuration(&written));
    EXPECT_GT(written, 9000000);
    EXPECT_EQ(S_OK, control->Run());
    simctl::advanceClock(2000);
    long delivered = simctl::renderer().samples;
    EXPECT_GT(delivered, before + 40) << "a second of video and audio";
    EXPECT_EQ(S_OK, seeking->GetCurrentPosition(&at));
    EXPECT_EQ(written, at) << "the decoder's clock holds where its data ends";
    simctl::advanceClock(1000);
    EXPECT_EQ(delivered, simctl::renderer().samples) << "nothing more to deliver yet";
    EXPECT_EQ(0, nextEvent()) << "and no end";

    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.rest()));
    simctl::waitForStreaming();
    EXPECT_GT(simctl::renderer().samples, delivered) << "delivery goes on as the file grows";
    simctl::advanceClock(2000);
    EXPECT_EQ(0, nextEvent()) << "all written, but the writer holds the file";
    shared->SetFileLock(nullptr);
    simctl::advanceClock(0);
    EXPECT_EQ(EC_COMPLETE, nextEvent());
    EXPECT_EQ(S_OK, control->Stop());
    shared->Release();
    seeking->Release();
    control->Release();
}

// A recording grows by whatever its writer hands the disk, cut anywhere:
// within a pack header, a packet's header or its payload. Every sample of
// the video and the first audio stream still arrives once and whole.
TEST_F(CardFilterWorld, ARecordingCutAnywhereIsDeliveredWholeAndOnce) {
    StreamSpec shape;
    shape.seconds = 1;
    shape.audioStreams = 2;
    std::vector<uint8_t> stream = streamwriter::programStream(shape);
    long samples = 0, bytes = 0;
    sim::SystemStreamReader packets(stream.data(), stream.size());
    sim::PesPacket packet;
    while (packets.next(&packet)) {
        if (packet.stream == 0xC1)
            continue; // the second audio stream has no output in the push graph
        samples++;
        bytes += static_cast<long>(packet.payloadSize);
    }
    ASSERT_GT(samples, 40);

    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", {}));
    int lock = 0;
    ISharedAsync* shared = pushGraph(L"live.mpg", &lock);
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    simctl::RendererRecord before = simctl::renderer();
    EXPECT_EQ(S_FALSE, control->Run());
    const size_t kCut = 97;
    for (size_t at = 0; at < stream.size(); at += kCut) {
        size_t end = std::min(stream.size(), at + kCut);
        ASSERT_TRUE(streamwriter::appendBytes(
            "live.mpg", std::vector<uint8_t>(stream.begin() + static_cast<ptrdiff_t>(at),
                                             stream.begin() + static_cast<ptrdiff_t>(end))));
        simctl::advanceClock(10);
    }
    shared->SetFileLock(nullptr);
    simctl::advanceClock(2000);
    EXPECT_EQ(EC_COMPLETE, nextEvent());
    EXPECT_EQ(samples, simctl::renderer().samples - before.samples);
    EXPECT_EQ(bytes, simctl::renderer().sampleBytes - before.sampleBytes);
    EXPECT_EQ(S_OK, control->Stop());
    shared->Release();
    control->Release();
}

} // namespace
