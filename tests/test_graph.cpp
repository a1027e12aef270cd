// The simulated filter graph manager: membership and enumeration, direct
// connection, state changes, events the graph handles itself, forwarded
// interfaces, the graph trace and RenderFile around the decoder.
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

// ---- Membership and enumeration ------------------------------------------------

TEST_F(GraphWorld, FiltersJoinUnderUniqueNamesAndEnumerateNewestFirst) {
    IBaseFilter* first = create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
    IBaseFilter* second = create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
    IBaseFilter* third = create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
    EXPECT_EQ(S_OK, graph->AddFilter(first, L"Demux"));
    EXPECT_EQ(VFW_S_DUPLICATE_NAME, graph->AddFilter(second, L"Demux"));
    EXPECT_EQ(S_OK, graph->AddFilter(third, nullptr));
    EXPECT_EQ("Demux", filterName(first));
    EXPECT_EQ("Demux 0001", filterName(second));
    EXPECT_EQ("0001", filterName(third));
    EXPECT_EQ(1u, first->Release()) << "the graph holds the only reference left";

    // A name is cut to 127 characters, the room FILTER_INFO gives it with
    // its terminator; a taken one is cut further to make room for its number.
    IBaseFilter* longNamed[2] = {create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter),
                                 create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter)};
    std::wstring longName(130, L'n');
    EXPECT_EQ(S_OK, graph->AddFilter(longNamed[0], longName.c_str()));
    EXPECT_EQ(VFW_S_DUPLICATE_NAME, graph->AddFilter(longNamed[1], longName.c_str()));
    EXPECT_EQ(std::string(127, 'n'), filterName(longNamed[0]));
    EXPECT_EQ(std::string(122, 'n') + " 0001", filterName(longNamed[1]));
    for (IBaseFilter* filter : longNamed) {
        graph->RemoveFilter(filter);
        filter->Release();
    }

    IEnumFilters* filters = nullptr;
    ASSERT_EQ(S_OK, graph->EnumFilters(&filters));
    IBaseFilter* got[4] = {};
    ULONG fetched = 9;
    EXPECT_EQ(S_OK, filters->Next(2, got, &fetched));
    EXPECT_EQ(2u, fetched);
    EXPECT_EQ(third, got[0]);
    EXPECT_EQ(second, got[1]);
    EXPECT_EQ(S_FALSE, filters->Next(4, got + 2, &fetched)) << "a partial fetch";
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(first, got[2]);
    for (int i = 0; i < 3; i++)
        got[i]->Release();
    EXPECT_EQ(E_POINTER, filters->Next(2, got, nullptr));

    IEnumFilters* clone = nullptr;
    filters->Reset();
    EXPECT_EQ(S_OK, filters->Skip(2));
    ASSERT_EQ(S_OK, filters->Clone(&clone));
    EXPECT_EQ(S_FALSE, clone->Skip(5));

    EXPECT_EQ(S_OK, graph->RemoveFilter(second));
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, filters->Next(1, got, nullptr))
        << "the graph changed under the enumerator";
    filters->Reset();
    EXPECT_EQ(S_OK, filters->Next(1, got, nullptr));
    EXPECT_EQ(third, got[0]);
    got[0]->Release();
    clone->Release();
    filters->Release();
    EXPECT_EQ(E_FAIL, graph->RemoveFilter(second)) << "not a member";
    EXPECT_EQ(E_FAIL, graph->RemoveFilter(nullptr));
    second->Release();
    third->Release();
}

TEST_F(GraphWorld, RemovingAFilterCutsItsConnectionsOnBothSides) {
    IBaseFilter* source = nullptr;
    IBaseFilter* demux = nullptr;
    addPushFilters(&source, &demux);
    IPin* out = pinOf(source, 0);
    IPin* in = pinOf(demux, 0);
    EXPECT_EQ(E_POINTER, graph->ConnectDirect(out, nullptr, nullptr));
    EXPECT_EQ(E_UNEXPECTED, graph->ConnectDirect(in, out, nullptr))
        << "the graph asks the first pin, and an input pin does not connect out";
    ASSERT_EQ(S_OK, graph->ConnectDirect(out, in, nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, graph->ConnectDirect(out, in, nullptr));

    EXPECT_EQ(S_OK, graph->RemoveFilter(demux));
    EXPECT_FALSE(connected(out));
    EXPECT_FALSE(connected(in));
    FILTER_INFO info;
    EXPECT_EQ(S_OK, demux->QueryFilterInfo(&info));
    EXPECT_EQ(nullptr, info.pGraph) << "the filter left the graph";
    EXPECT_EQ(VFW_E_NOT_IN_GRAPH, graph->ConnectDirect(out, in, nullptr));
    out->Release();
    in->Release();
    source->Release();
    demux->Release();
}

TEST_F(GraphWorld, ConnectingWhileRunningIsRefusedAndWaitsNeedARunningGraph) {
    IBaseFilter* source = nullptr;
    IBaseFilter* demux = nullptr;
    addPushFilters(&source, &demux);
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    EXPECT_EQ(VFW_E_WRONG_STATE, events->WaitForCompletion(0, &code));
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0));

    ASSERT_EQ(S_OK, control->Run());
    OAFilterState state = -1;
    EXPECT_EQ(S_OK, control->GetState(0, &state));
    EXPECT_EQ(State_Running, state);
    FILTER_STATE filterState;
    demux->GetState(0, &filterState);
    EXPECT_EQ(State_Running, filterState) << "the graph drives every filter";
    IPin* out = pinOf(source, 0);
    IPin* in = pinOf(demux, 0);
    EXPECT_EQ(VFW_E_NOT_STOPPED, graph->ConnectDirect(out, in, nullptr));
    EXPECT_EQ(E_ABORT, events->WaitForCompletion(static_cast<LONG>(INFINITE), &code))
        << "a graph without a renderer never completes";
    EXPECT_EQ(S_OK, control->StopWhenReady());
    EXPECT_EQ(0, simctl::graphState());
    out->Release();
    in->Release();
    source->Release();
    demux->Release();
    control->Release();
    events->Release();
}

TEST_F(GraphWorld, ARunningFilterIsNotRemovedButTheGraphsReleaseLetsGoOfIt) {
    IBaseFilter* source = nullptr;
    IBaseFilter* demux = nullptr;
    addPushFilters(&source, &demux);
    IPin* out = pinOf(source, 0);
    IPin* in = pinOf(demux, 0);
    ASSERT_EQ(S_OK, graph->ConnectDirect(out, in, nullptr));
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    ASSERT_EQ(S_OK, control->Run());
    EXPECT_EQ(VFW_E_NOT_STOPPED, graph->RemoveFilter(demux)) << "its running peer refuses";
    EXPECT_TRUE(connected(out));
    IFilterGraph2* graph2 = query<IFilterGraph2>(graph, IID_IFilterGraph2);
    EXPECT_EQ(VFW_E_WRONG_STATE, graph2->ReconnectEx(in, nullptr));
    graph2->Release();
    EXPECT_EQ(S_OK, control->Stop());
    EXPECT_EQ(S_OK, graph->Reconnect(in)) << "the output pin connects again";
    EXPECT_TRUE(connected(in));

    // A filter that will not stop still leaves with the graph; its peer is
    // let go, and the ledger at the end shows nothing held.
    ASSERT_EQ(S_OK, control->Run());
    simctl::armFault("MpegDemux::Stop", E_FAIL);
    control->Release();
    graph->Release();
    graph = nullptr;
    simctl::clearFaults();
    EXPECT_FALSE(connected(out));
    out->Release();
    in->Release();
    source->Release();
    demux->Release();
}

TEST_F(GraphWorld, RepaintsAreTheGraphsUntilCancelledAndARunDropsAnOldEnd) {
    IMediaEventSink* sink = query<IMediaEventSink>(graph, IID_IMediaEventSink);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaFilter* filter = query<IMediaFilter>(graph, IID_IMediaFilter);
    IReferenceClock* clock = nullptr;
    EXPECT_EQ(S_FALSE, filter->GetSyncSource(&clock));
    EXPECT_EQ(nullptr, clock);
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    EXPECT_EQ(S_OK, sink->Notify(EC_REPAINT, 0, 0));
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0)) << "the graph repaints itself";
    EXPECT_EQ(S_OK, events->CancelDefaultHandling(EC_REPAINT));
    EXPECT_EQ(S_OK, sink->Notify(EC_REPAINT, 0, 0));
    EXPECT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(EC_REPAINT, code);
    EXPECT_EQ(E_INVALIDARG, events->CancelDefaultHandling(EC_CLOCK_CHANGED))
        << "it has no default handling to cancel";

    EXPECT_EQ(S_OK, events->CancelDefaultHandling(EC_COMPLETE));
    EXPECT_EQ(S_OK, sink->Notify(EC_COMPLETE, S_OK, 0));
    EXPECT_EQ(S_OK, sink->Notify(EC_PAUSED, 0, 0));
    ASSERT_EQ(S_OK, filter->Run(0)); // straight from stopped, with a clock chosen
    EXPECT_EQ(S_OK, filter->GetSyncSource(&clock));
    ASSERT_NE(nullptr, clock);
    clock->Release();
    std::vector<LONG> codes;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK)
        codes.push_back(code);
    EXPECT_EQ((std::vector<LONG>{EC_PAUSED, EC_CLOCK_CHANGED}), codes)
        << "the end told before the run is gone";
    EXPECT_EQ(S_OK, control->Stop());
    sink->Release();
    events->Release();
    control->Release();
    filter->Release();
}

TEST_F(GraphWorld, AFilterThatCannotPauseLeavesEveryFilterWhereTheGraphIs) {
    IBaseFilter* source = nullptr;
    IBaseFilter* demux = nullptr;
    addPushFilters(&source, &demux);
    IPin* out = pinOf(source, 0);
    IPin* in = pinOf(demux, 0);
    ASSERT_EQ(S_OK, graph->ConnectDirect(out, in, nullptr));
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    simctl::armFault("SharedSource::Pause", E_FAIL);
    EXPECT_EQ(E_FAIL, control->Run());
    simctl::clearFaults();
    FILTER_STATE state = State_Running;
    demux->GetState(0, &state);
    EXPECT_EQ(State_Stopped, state) << "the demultiplexer paused first and was put back";
    EXPECT_EQ(0, simctl::graphState());
    EXPECT_EQ(S_OK, graph->RemoveFilter(demux));
    EXPECT_FALSE(connected(out));
    out->Release();
    in->Release();
    source->Release();
    demux->Release();
    control->Release();
}

TEST_F(GraphWorld, ForwardedInterfacesAnswerAsWindowsDoesWithoutATaker) {
    IBasicAudio* audio = query<IBasicAudio>(graph, IID_IBasicAudio);
    IBasicVideo2* video = query<IBasicVideo2>(graph, IID_IBasicVideo2);
    IVideoWindow* window = query<IVideoWindow>(graph, IID_IVideoWindow);
    IMediaSeeking* seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
    LONG value = 0;
    DWORD caps = 7;
    EXPECT_EQ(E_NOTIMPL, audio->put_Volume(0));
    EXPECT_EQ(E_NOINTERFACE, video->get_VideoWidth(&value));
    EXPECT_EQ(E_NOINTERFACE, window->put_Visible(OAFALSE));
    EXPECT_EQ(S_OK, seeking->GetCapabilities(&caps));
    EXPECT_EQ(0u, caps) << "nothing to seek";

    addDecoder();
    EXPECT_EQ(S_OK, seeking->GetCapabilities(&caps));
    EXPECT_EQ(0x3Fu, caps);
    EXPECT_EQ(E_INVALIDARG, audio->put_Volume(1)) << "0 is the loudest";
    EXPECT_EQ(S_OK, audio->put_Volume(-10000));
    EXPECT_EQ(-10000, simctl::renderer().volume);
    EXPECT_EQ(E_NOINTERFACE, window->put_Visible(OAFALSE)) << "no filter has a window";
    audio->Release();
    video->Release();
    window->Release();
    seeking->Release();
}

TEST_F(GraphWorld, TheGraphTraceGoesToTheLogHandle) {
    HANDLE file = CreateFileA("graph.log", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(S_OK, graph->SetLogFile(reinterpret_cast<DWORD_PTR>(file)));
    addDecoder();
    graph->Release();
    graph = nullptr;
    CloseHandle(file);
    FILE* in = fopen("graph.log", "r");
    ASSERT_NE(nullptr, in);
    char text[4096] = {};
    fread(text, 1, sizeof text - 1, in);
    fclose(in);
    EXPECT_NE(nullptr, strstr(text, "AddFilter: Sigma Decoder\r\n"));
    EXPECT_NE(nullptr, strstr(text, "RemoveFilter: Sigma Decoder\r\n"));
}

// ---- RenderFile ---------------------------------------------------------------

TEST_F(GraphWorld, RenderFileBuildsAroundTheDecoderAndRendersItsOverlay) {
    IBaseFilter* decoder = addDecoder();
    std::string path = writeStream("clip.mpg", StreamSpec());
    size_t rendersBefore = simctl::renderOutcomes().size();
    EXPECT_EQ(S_OK, render(path));
    EXPECT_EQ(
        (std::vector<std::string>{"Video Renderer", "MPEG DeMux", "clip.mpg", "Sigma Decoder"}),
        simctl::graphFilterNames());
    for (int pin = 0; pin < 3; pin++) {
        IPin* p = pinOf(decoder, pin);
        EXPECT_TRUE(connected(p)) << "decoder pin " << pin;
        p->Release();
    }
    ASSERT_EQ(rendersBefore + 1, simctl::renderOutcomes().size());
    EXPECT_EQ(2, simctl::renderOutcomes().back().streams);
}

TEST_F(GraphWorld, RenderFileAnswersForStreamsWithoutATakerAndForBadFiles) {
    addDecoder();
    StreamSpec dts;
    dts.dtsStreams = 1;
    EXPECT_EQ(VFW_S_AUDIO_NOT_RENDERED, render(writeStream("dts.mpg", dts)))
        << "neither the card nor the PC plays DTS";

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), render("missing.mpg"));
    FILE* text = fopen("notes.mpg", "w");
    fputs("plain words, no packs", text);
    fclose(text);
    EXPECT_EQ(VFW_E_UNSUPPORTED_STREAM, render("notes.mpg"));
}

TEST_F(GraphWorld, AnMpeg1SystemStreamPlaysItsLengthAndAudioAloneHasNoPicture) {
    StreamSpec mpeg1;
    mpeg1.mpeg1 = true;
    mpeg1.seconds = 3;
    StreamSpec tone;
    tone.video = false;
    tone.seconds = 2;
    for (const StreamSpec& shape : {mpeg1, tone}) {
        graph->Release();
        graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        addDecoder();
        ASSERT_EQ(S_OK, render(writeStream("clip.mpg", shape)));
        IMediaSeeking* seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
        IBasicVideo* video = query<IBasicVideo>(graph, IID_IBasicVideo);
        LONGLONG duration = 0;
        EXPECT_EQ(S_OK, seeking->GetDuration(&duration));
        EXPECT_EQ(static_cast<LONGLONG>(shape.seconds * 10000000), duration);
        LONG width = 0, height = 0;
        if (shape.video) {
            EXPECT_EQ(S_OK, video->GetVideoSize(&width, &height));
            EXPECT_EQ(720, width);
        } else {
            EXPECT_EQ(VFW_E_NOT_CONNECTED, video->GetVideoSize(&width, &height))
                << "the decoder's video input is left open";
        }
        seeking->Release();
        video->Release();
    }
}

TEST_F(GraphWorld, RenderFileWithNothingToTakeTheStreamsLeavesTheGraphAsItWas) {
    StreamSpec video;
    video.audioStreams = 0;
    EXPECT_EQ(VFW_E_CANNOT_RENDER, render(writeStream("clip.mpg", video)))
        << "no MPEG-2 video decoder without the card";
    EXPECT_TRUE(simctl::graphFilterNames().empty());
}

// A stream whose video holds no MPEG sequence header (H.264 in a program
// stream, say): every sequence header start code of a written stream turned
// into a user-data one.
std::string writeVideoThatIsNotMpeg(const char* name) {
    std::vector<uint8_t> bytes = streamwriter::programStream(StreamSpec());
    for (size_t i = 0; i + 3 < bytes.size(); i++) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xB3)
            bytes[i + 3] = 0xB2;
    }
    FILE* f = fopen(name, "wb");
    EXPECT_NE(nullptr, f);
    if (f) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return name;
}

TEST_F(GraphWorld, TheDecoderRefusesVideoThatIsNotMpeg) {
    // The rendered graph: the audio plays, the video finds no taker.
    IBaseFilter* decoder = addDecoder();
    std::string path = writeVideoThatIsNotMpeg("h264.mpg");
    EXPECT_EQ(VFW_S_VIDEO_NOT_RENDERED, render(path));
    IPin* video = pinOf(decoder, 0);
    IPin* audio = pinOf(decoder, 1);
    EXPECT_FALSE(connected(video));
    EXPECT_TRUE(connected(audio));
    video->Release();
    audio->Release();

    // The push graph: the demultiplexer offers MPEG-2 video whatever the
    // stream holds; the decoder asks upstream and refuses it.
    graph->Release();
    graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    IBaseFilter* source = nullptr;
    IBaseFilter* demux = nullptr;
    addPushFilters(&source, &demux);
    decoder = addDecoder();
    IFileSourceFilter* file = query<IFileSourceFilter>(source, IID_IFileSourceFilter);
    ASSERT_EQ(S_OK, file->Load(sim::widen(path).c_str(), nullptr));
    IPin* pins[4] = {pinOf(source, 0), pinOf(demux, 0), pinOf(demux, 2), pinOf(decoder, 0)};
    ASSERT_EQ(S_OK, graph->ConnectDirect(pins[0], pins[1], nullptr));
    EXPECT_TRUE(FAILED(graph->ConnectDirect(pins[2], pins[3], nullptr)));
    EXPECT_FALSE(connected(pins[3]));
    for (IPin* pin : pins)
        pin->Release();
    file->Release();
    source->Release();
    demux->Release();
}

TEST_F(GraphWorld, RenderAndConnectBuildOnlyWhatTheWorldCanTake) {
    IBaseFilter* decoder = addDecoder();
    writeStream("clip.mpg", StreamSpec());
    IBaseFilter* source = nullptr;
    ASSERT_EQ(S_OK, graph->AddSourceFilter(L"clip.mpg", L"Source", &source));
    IBaseFilter* missing = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              graph->AddSourceFilter(L"none.mpg", nullptr, &missing));
    EXPECT_EQ(nullptr, missing);
    IPin* stream = pinOf(source, 0);
    IPin* video = pinOf(decoder, 0);
    // The world's Connect joins two pins directly or not at all.
    EXPECT_EQ(VFW_E_CANNOT_CONNECT, graph->Connect(stream, video));
    IPin* overlay = pinOf(decoder, 2);
    EXPECT_EQ(S_OK, graph->Render(stream)) << "through the demultiplexer, registered for it";
    EXPECT_EQ((std::vector<std::string>{"Video Renderer", "MPEG DeMux", "Source", "Sigma Decoder"}),
              simctl::graphFilterNames());
    EXPECT_TRUE(connected(video));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, graph->Render(overlay));
    stream->Release();
    video->Release();
    overlay->Release();
    source->Release();
}

} // namespace
