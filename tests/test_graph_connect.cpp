// Graph building as on a PC: RenderFile with the card's filters and the
// system's own splitter, MPEG audio decoder and DirectSound renderer
// registered at their merits; what those stand-ins take and refuse; and the
// graph with a second audio renderer in it (clock, completion, volume).
#include "com_helpers.h"
#include "graph_world.h"
#include "stream_writer.h"

#include "sim/base/filter.h"
#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"
#include "sim/media/stock_filters.h"
#include "sim/media/types.h"
#include "src/card/card_interfaces.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using comtest::connected;
using comtest::create;
using comtest::filterName;
using comtest::pinCount;
using comtest::pinName;
using comtest::pinOf;
using comtest::query;
using streamwriter::StreamSpec;

const char kSoundDevice[] = "Default DirectSound Device";

IBaseFilter* memberNamed(IGraphBuilder* graph, const char* name) {
    IBaseFilter* filter = nullptr;
    graph->FindFilterByName(sim::widen(name).c_str(), &filter);
    if (filter)
        filter->Release(); // the graph holds it
    return filter;
}

// The name of the filter at the other end of `pin`'s connection, or "".
std::string peerFilter(IPin* pin) {
    IPin* peer = nullptr;
    if (FAILED(pin->ConnectedTo(&peer)) || !peer)
        return "";
    PIN_INFO info;
    peer->QueryPinInfo(&info);
    std::string name = filterName(info.pFilter) + "." + pinName(peer);
    info.pFilter->Release();
    peer->Release();
    return name;
}

StreamSpec tracks(int mpegAudio, int dts = 0) {
    StreamSpec shape;
    shape.audioStreams = mpegAudio;
    shape.dtsStreams = dts;
    return shape;
}

// ---- What RenderFile builds --------------------------------------------------------------

TEST_F(GraphWorld, ASecondAudioTrackPlaysOnThePcsSoundDeviceAndTheFirstOnTheCard) {
    IBaseFilter* decoder = addDecoder();
    ASSERT_EQ(S_OK, render(writeStream("two.mpg", tracks(2))));
    EXPECT_EQ((std::vector<std::string>{kSoundDevice, "MPEG Audio Decoder", "Video Renderer",
                                        "MPEG DeMux", "two.mpg", "Sigma Decoder"}),
              simctl::graphFilterNames());
    IPin* audio = pinOf(decoder, 1);
    EXPECT_EQ("MPEG DeMux.Audio", peerFilter(audio));
    audio->Release();
    IPin* pcm = pinOf(memberNamed(graph, kSoundDevice), 0);
    EXPECT_EQ("MPEG Audio Decoder.XForm Out", peerFilter(pcm));
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(S_OK, pcm->ConnectionMediaType(&mt));
    EXPECT_EQ(sim::MEDIASUBTYPE_PCM, mt.subtype);
    ASSERT_EQ(sizeof(WAVEFORMATEX), mt.cbFormat);
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    EXPECT_EQ(1, wave->wFormatTag);
    EXPECT_EQ(48000u, wave->nSamplesPerSec) << "the rate of the MPEG stream's format";
    EXPECT_EQ(16, wave->wBitsPerSample);
    sim::freeMediaType(&mt);
    pcm->Release();
    IPin* second = pinOf(memberNamed(graph, "MPEG Audio Decoder"), 0);
    EXPECT_EQ("MPEG DeMux.Audio 2", peerFilter(second));
    second->Release();
    EXPECT_EQ(3, simctl::renderOutcomes().back().rendered);
}

TEST_F(GraphWorld, StreamsNobodyTakesStayUnconnectedAndWhatLedNowhereIsTakenOut) {
    // DTS: the card plays none, and Windows has no decoder for it.
    addDecoder();
    EXPECT_EQ(VFW_S_AUDIO_NOT_RENDERED, render(writeStream("dts.mpg", tracks(1, 1))));
    IBaseFilter* demux = memberNamed(graph, "MPEG DeMux");
    ASSERT_EQ(4, pinCount(demux)) << "input, video, MPEG audio, DTS: every stream has its pin";
    IPin* dts = pinOf(demux, 3);
    EXPECT_EQ("Audio 2", pinName(dts));
    EXPECT_FALSE(connected(dts));
    dts->Release();
    EXPECT_EQ(nullptr, memberNamed(graph, "MPEG Audio Decoder"));

    // A second AC-3 track: the card's input is taken, and the MPEG audio
    // decoder refuses AC-3.
    graph->Release();
    graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    addDecoder();
    StreamSpec ac3 = tracks(2);
    ac3.ac3 = true;
    EXPECT_EQ(VFW_S_AUDIO_NOT_RENDERED, render(writeStream("ac3.mpg", ac3)));
    EXPECT_EQ(
        (std::vector<std::string>{"Video Renderer", "MPEG DeMux", "ac3.mpg", "Sigma Decoder"}),
        simctl::graphFilterNames());

    // A PC without a sound device: the MPEG audio decoder connects, its PCM
    // has nowhere to go, and it is taken out again.
    graph->Release();
    graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    addDecoder();
    simctl::setSoundDevice(false);
    HRESULT hr = render(writeStream("two.mpg", tracks(2)));
    simctl::setSoundDevice(true);
    EXPECT_EQ(VFW_S_AUDIO_NOT_RENDERED, hr);
    EXPECT_EQ(nullptr, memberNamed(graph, "MPEG Audio Decoder"));
    EXPECT_EQ(4u, simctl::graphFilterNames().size());

    // Video and DTS only, no card: nothing takes anything, and the graph is
    // left as it was.
    graph->Release();
    graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    EXPECT_EQ(VFW_E_CANNOT_RENDER, render(writeStream("dts.mpg", tracks(0, 1))));
    EXPECT_TRUE(simctl::graphFilterNames().empty());
}

TEST_F(GraphWorld, AFileThatIsNoMpegStreamLeavesTheGraphWithWhatItHad) {
    addDecoder();
    FILE* text = fopen("notes.mpg", "w");
    fputs("plain words, no packs, long enough to look at", text);
    fclose(text);
    EXPECT_EQ(VFW_E_UNSUPPORTED_STREAM, render("notes.mpg"));
    EXPECT_EQ((std::vector<std::string>{"Sigma Decoder"}), simctl::graphFilterNames());
}

TEST_F(GraphWorld, ASecondRenderFileAddsASecondChainBesideTheFirst) {
    IBaseFilter* decoder = addDecoder();
    ASSERT_EQ(S_OK, render(writeStream("first.mpg", StreamSpec())));
    // The card's inputs are taken; the system has no MPEG-2 video decoder,
    // so only the audio finds a way, to the PC's sound device.
    EXPECT_EQ(VFW_S_VIDEO_NOT_RENDERED, render(writeStream("second.mpg", StreamSpec())));
    EXPECT_EQ((std::vector<std::string>{kSoundDevice, "MPEG Audio Decoder", "MPEG DeMux 0001",
                                        "second.mpg", "Video Renderer", "MPEG DeMux", "first.mpg",
                                        "Sigma Decoder"}),
              simctl::graphFilterNames());
    IPin* video = pinOf(decoder, 0);
    EXPECT_EQ("MPEG DeMux.Video", peerFilter(video)) << "the first chain is untouched";
    video->Release();
}

// ---- The stand-ins' own answers ------------------------------------------------------------

TEST_F(GraphWorld, TheAudioDecoderTakesMpegAudioOnlyAndOffersPcmOnceItHasIt) {
    IBaseFilter* decoder = create<IBaseFilter>(sim::CLSID_CMpegAudioCodec, IID_IBaseFilter);
    IBaseFilter* renderer = create<IBaseFilter>(sim::CLSID_DSoundRender, IID_IBaseFilter);
    IBaseFilter* source = nullptr;
    writeStream("mixed.mpg", tracks(1, 1));
    ASSERT_EQ(S_OK, graph->AddSourceFilter(L"mixed.mpg", L"Source", &source));
    IBaseFilter* demux = create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
    graph->AddFilter(demux, L"MPEG DeMux");
    graph->AddFilter(decoder, L"MPEG Audio Decoder");
    graph->AddFilter(renderer, L"Renderer");
    IPin* stream = pinOf(source, 0);
    IPin* demuxIn = pinOf(demux, 0);
    ASSERT_EQ(S_OK, graph->ConnectDirect(stream, demuxIn, nullptr));
    // The splitter's outputs are the streams it found once it has its input.
    IPin* pins[] = {stream,
                    demuxIn,
                    pinOf(demux, 2),
                    pinOf(demux, 3),
                    pinOf(decoder, 0),
                    pinOf(decoder, 1),
                    pinOf(renderer, 0)};
    IPin *&mpeg = pins[2], *&dts = pins[3], *&in = pins[4], *&out = pins[5], *&pcm = pins[6];
    EXPECT_EQ("XForm In", pinName(in));
    EXPECT_EQ("Audio Input pin (rendered)", pinName(pcm));
    EXPECT_TRUE(FAILED(graph->ConnectDirect(out, pcm, nullptr)))
        << "a transform's output waits for its input";
    EXPECT_TRUE(FAILED(graph->ConnectDirect(dts, in, nullptr)));
    EXPECT_TRUE(FAILED(graph->ConnectDirect(mpeg, pcm, nullptr)))
        << "the sound device plays PCM only";
    EXPECT_FALSE(connected(in));
    EXPECT_FALSE(connected(pcm));
    ASSERT_EQ(S_OK, graph->ConnectDirect(mpeg, in, nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(out, pcm, nullptr));
    IMediaSeeking* seeking = query<IMediaSeeking>(renderer, IID_IMediaSeeking);
    LONGLONG duration = 0;
    EXPECT_EQ(S_OK, seeking->GetDuration(&duration)) << "passed up to the demultiplexer";
    EXPECT_EQ(20000000, duration);
    seeking->Release();

    // Samples reach the renderer with their times; it refuses them while
    // stopped and after the end, as Windows's does. Its pause from stopped
    // completes with its first sample or the end, and a sample never waits.
    IMemInputPin* receiver = query<IMemInputPin>(pcm, IID_IMemInputPin);
    IMemAllocator* allocator = nullptr;
    ASSERT_EQ(S_OK, receiver->GetAllocator(&allocator));
    ALLOCATOR_PROPERTIES wanted{1, 64, 1, 0}, got{};
    allocator->SetProperties(&wanted, &got);
    allocator->Commit();
    IMediaSample* sample = nullptr;
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_WRONG_STATE, receiver->Receive(sample));
    IMediaFilter* filter = query<IMediaFilter>(renderer, IID_IMediaFilter);
    FILTER_STATE state = State_Stopped;
    EXPECT_EQ(S_FALSE, filter->Pause()) << "no sample yet";
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, filter->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    EXPECT_EQ(S_OK, receiver->Receive(sample)) << "at once, while paused";
    EXPECT_EQ(S_OK, filter->GetState(1000, &state));
    EXPECT_EQ(S_OK, filter->Run(0));
    EXPECT_EQ(S_OK, filter->Pause()) << "a pause while running keeps what it has";
    EXPECT_EQ(S_OK, filter->GetState(0, &state));
    EXPECT_EQ(S_OK, pcm->BeginFlush());
    EXPECT_EQ(S_FALSE, receiver->Receive(sample)) << "while flushing";
    EXPECT_EQ(S_OK, pcm->EndFlush());
    EXPECT_EQ(S_OK, filter->GetState(0, &state)) << "a flush does not start a new pause";
    filter->Stop();
    EXPECT_EQ(S_FALSE, filter->Run(0)) << "straight from stopped, no sample yet";
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, filter->GetState(0, &state));
    EXPECT_EQ(State_Running, state);
    filter->Stop();
    EXPECT_EQ(S_OK, filter->GetState(0, &state));
    EXPECT_EQ(S_FALSE, filter->Pause());
    EXPECT_EQ(S_OK, pcm->EndOfStream());
    EXPECT_EQ(S_OK, filter->GetState(1000, &state)) << "the end completes the pause";
    EXPECT_EQ(VFW_E_SAMPLE_REJECTED_EOS, receiver->Receive(sample));
    EXPECT_EQ(S_OK, receiver->ReceiveCanBlock());
    filter->Stop();
    filter->Release();
    sample->Release();
    allocator->Release();
    receiver->Release();
    for (IPin* pin : pins)
        pin->Release();
    source->Release();
    demux->Release();
    decoder->Release();
    renderer->Release();
}

TEST_F(GraphWorld, TheSoundDeviceHasAClockAVolumeAndSeekingButNoRendererFlag) {
    IBaseFilter* renderer = create<IBaseFilter>(sim::CLSID_DSoundRender, IID_IBaseFilter);
    IUnknown* none = nullptr;
    EXPECT_EQ(E_NOINTERFACE,
              renderer->QueryInterface(IID_IAMFilterMiscFlags, reinterpret_cast<void**>(&none)));
    IPin* in = pinOf(renderer, 0);
    EXPECT_EQ(E_NOINTERFACE, in->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&none)))
        << "seeking is the filter's, not its pin's";
    in->Release();
    IReferenceClock* clock = query<IReferenceClock>(renderer, IID_IReferenceClock);
    clock->Release();
    IBasicAudio* audio = query<IBasicAudio>(renderer, IID_IBasicAudio);
    LONG volume = -1, balance = -1;
    EXPECT_EQ(S_OK, audio->get_Volume(&volume));
    EXPECT_EQ(S_OK, audio->get_Balance(&balance));
    EXPECT_EQ(0, volume);
    EXPECT_EQ(0, balance);
    EXPECT_EQ(E_POINTER, audio->get_Balance(nullptr));
    EXPECT_EQ(E_INVALIDARG, audio->put_Volume(-10001));
    EXPECT_EQ(E_INVALIDARG, audio->put_Volume(1));
    EXPECT_EQ(S_OK, audio->put_Volume(-10000));
    EXPECT_EQ(E_INVALIDARG, audio->put_Balance(-10001));
    EXPECT_EQ(S_OK, audio->put_Balance(10000));
    audio->get_Volume(&volume);
    EXPECT_EQ(-10000, volume);
    audio->Release();

    // Alone and unconnected in a graph, it completes at every run.
    ASSERT_EQ(S_OK, graph->AddFilter(renderer, L"Renderer"));
    renderer->Release();
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    IReferenceClock* chosen = nullptr;
    for (int run = 0; run < 2; run++) {
        ASSERT_EQ(S_OK, control->Run()) << "an unconnected renderer has nothing to wait for";
        LONG code = 0;
        EXPECT_EQ(S_OK, events->WaitForCompletion(0, &code)) << "run " << run;
        EXPECT_EQ(EC_COMPLETE, code);
        control->Stop();
    }
    IMediaFilter* graphFilter = query<IMediaFilter>(graph, IID_IMediaFilter);
    ASSERT_EQ(S_OK, graphFilter->GetSyncSource(&chosen));
    IReferenceClock* own = query<IReferenceClock>(renderer, IID_IReferenceClock);
    EXPECT_EQ(own, chosen) << "the only filter with a clock gives the graph its clock";
    own->Release();
    chosen->Release();
    graphFilter->Release();
    control->Release();
    events->Release();
}

TEST_F(GraphWorld, TheSystemsMpeg1SplitterTakesAnMpeg1StreamFromAReaderOnly) {
    IBaseFilter* decoder = addDecoder();
    StreamSpec mpeg1 = tracks(2);
    mpeg1.mpeg1 = true;
    writeStream("mpeg1.mpg", mpeg1);
    writeStream("mpeg2.mpg", StreamSpec());
    IBaseFilter* splitter = create<IBaseFilter>(sim::CLSID_MPEG1Splitter, IID_IBaseFilter);
    ASSERT_EQ(S_OK, graph->AddFilter(splitter, L"MPEG-1 Stream Splitter"));
    splitter->Release();
    EXPECT_EQ(1, pinCount(splitter)) << "no outputs before it has a stream";
    IPin* in = pinOf(splitter, 0);
    IBaseFilter* other = nullptr;
    ASSERT_EQ(S_OK, graph->AddSourceFilter(L"mpeg2.mpg", L"Program stream", &other));
    IPin* program = pinOf(other, 0);
    EXPECT_TRUE(FAILED(graph->ConnectDirect(program, in, nullptr)));
    program->Release();
    other->Release();

    IBaseFilter* source = nullptr;
    ASSERT_EQ(S_OK, graph->AddSourceFilter(L"mpeg1.mpg", L"Source", &source));
    IPin* stream = pinOf(source, 0);
    ASSERT_EQ(S_OK, graph->ConnectDirect(stream, in, nullptr));
    ASSERT_EQ(3, pinCount(splitter)) << "the first video and the first MPEG audio only";
    IPin* video = pinOf(splitter, 1);
    IPin* audio = pinOf(splitter, 2);
    EXPECT_EQ("Video", pinName(video));
    EXPECT_EQ("Audio", pinName(audio));
    IMediaSeeking* seeking = query<IMediaSeeking>(audio, IID_IMediaSeeking);
    DWORD caps = 0;
    seeking->GetCapabilities(&caps);
    EXPECT_EQ(0x37u, caps);
    seeking->Release();
    EXPECT_EQ(S_OK, graph->Render(video));
    EXPECT_EQ(S_OK, graph->Render(audio));
    IPin* card = pinOf(decoder, 1);
    EXPECT_EQ("MPEG-1 Stream Splitter.Audio", peerFilter(card));
    card->Release();
    removeVideoRenderer();

    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    simctl::advanceClock(2100);
    LONG code = 0;
    EXPECT_EQ(S_OK, events->WaitForCompletion(0, &code)) << "it delivers to its end";
    EXPECT_GT(simctl::renderer().samples, 0);
    control->Stop();
    control->Release();
    events->Release();
    for (IPin* pin : {in, stream, video, audio})
        pin->Release();
    source->Release();
}

// ---- A graph with two audio renderers ------------------------------------------------------

TEST_F(GraphWorld, WithTwoTracksTheGraphEndsWhenBothRenderersHaveAndItsClockIsTheCardsIfAny) {
    for (simcard::DecoderClock model :
         {simcard::DecoderClock::FollowsPresentation, simcard::DecoderClock::None}) {
        simcard::setDecoderClock(model);
        graph->Release();
        graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        IBaseFilter* decoder = addDecoder();
        StreamSpec shape = tracks(2);
        shape.seconds = 4;
        ASSERT_EQ(S_OK, render(writeStream("two.mpg", shape)));
        removeVideoRenderer();
        IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
        IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
        IMediaSeeking* seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
        IMediaFilter* graphFilter = query<IMediaFilter>(graph, IID_IMediaFilter);
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        // The clock of the filter added first that has one: the card's
        // decoder when it offers one, else the sound device's.
        IReferenceClock* chosen = nullptr;
        graphFilter->GetSyncSource(&chosen);
        IBaseFilter* expected =
            model == simcard::DecoderClock::None ? memberNamed(graph, kSoundDevice) : decoder;
        IReferenceClock* own = query<IReferenceClock>(expected, IID_IReferenceClock);
        EXPECT_EQ(own, chosen);
        own->Release();
        if (chosen)
            chosen->Release();

        simctl::advanceClock(2000);
        LONGLONG position = 0;
        seeking->GetCurrentPosition(&position);
        EXPECT_EQ(20000000, position);
        LONG code = 0;
        EXPECT_EQ(E_ABORT, events->WaitForCompletion(0, &code));
        simctl::advanceClock(2100);
        EXPECT_EQ(S_OK, events->WaitForCompletion(0, &code))
            << "both renderers have reached the end";
        EXPECT_EQ(EC_COMPLETE, code);

        // Double speed from 1 s on: the graph starts the tracks again where
        // it stands, the sound device's samples stamped for the rate, and
        // both end 1.5 s later.
        control->Stop();
        LONGLONG start = 0;
        ASSERT_EQ(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                              AM_SEEKING_NoPositioning));
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        simctl::advanceClock(1000);
        ASSERT_EQ(S_OK, seeking->SetRate(2.0));
        simctl::advanceClock(1400);
        EXPECT_EQ(E_ABORT, events->WaitForCompletion(0, &code));
        simctl::advanceClock(200);
        EXPECT_EQ(S_OK, events->WaitForCompletion(0, &code));
        control->Stop();
        control->Release();
        events->Release();
        seeking->Release();
        graphFilter->Release();
    }
}

TEST_F(GraphWorld, TheGraphsVolumeReachesBothAudioRenderersAndIsReadFromTheNewest) {
    addDecoder();
    ASSERT_EQ(S_OK, render(writeStream("two.mpg", tracks(2))));
    IBasicAudio* audio = query<IBasicAudio>(graph, IID_IBasicAudio);
    EXPECT_EQ(S_OK, audio->put_Volume(-2500));
    EXPECT_EQ(-2500, simctl::renderer().volume);
    IBasicAudio* device = query<IBasicAudio>(memberNamed(graph, kSoundDevice), IID_IBasicAudio);
    LONG volume = 0;
    device->get_Volume(&volume);
    EXPECT_EQ(-2500, volume);
    device->put_Volume(-100);
    audio->get_Volume(&volume);
    EXPECT_EQ(-100, volume) << "the newest member that has IBasicAudio answers";
    device->Release();
    audio->Release();
}

} // namespace
