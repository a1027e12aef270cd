// The bytes of a user's own MPEG file, as the simulated world reads them in
// the demo and in tovixsim.dll: the system-stream parse that tells what a
// file holds, the packet walk, and the demultiplexer's walk when a graph
// renders the file around the card's decoder and plays it, or plays it
// through the push graph as the library wires it (still being written, or
// complete). Each answer must stay inside the bytes it was given, and the
// graph must leave nothing alive.
#include "fuzz_input.h"

#include "sim/control.h"
#include "sim/control_graph.h"
#include "sim/media/stream.h"
#include "src/card/card_interfaces.h"
#include "src/platform/directshow.h"

#include <cmath>
#include <cstdio>

namespace {

using fuzzinput::check;

void checkParse(const uint8_t* data, size_t size) {
    sim::MediaInfo info = sim::parseSystemStream(data, size);
    check(info.bytes <= size, "the parse ended past the bytes");
    if (info.valid)
        check(info.hasVideo || !info.audioStreams.empty(), "a valid stream without a stream");
    check(info.firstPts < 0 || info.lastPts >= 0, "a first time stamp without a last");
    double seconds = info.duration();
    check(std::isfinite(seconds) && seconds >= 0.0, "a duration that is no length");
    check(info.width >= 0 && info.height >= 0, "a negative picture size");
}

void checkWalk(const uint8_t* data, size_t size) {
    sim::SystemStreamReader reader(data, size);
    sim::PesPacket packet;
    size_t last = 0;
    int packets = 0;
    while (reader.next(&packet)) {
        check(packet.start >= last, "a packet before the one before it");
        check(packet.start < packet.end && packet.end <= size, "a packet outside the bytes");
        check(packet.payload >= packet.start && packet.payload + packet.payloadSize <= packet.end,
              "a payload outside its packet");
        last = packet.end;
        check(++packets <= static_cast<int>(size / 6) + 1, "more packets than the bytes hold");
    }
    check(reader.position() <= size, "the walk stands past the bytes");
}

template <typename T> void release(T*& p) {
    if (p)
        p->Release();
    p = nullptr;
}

// The filter's pin at `index` (a reference), or null.
IPin* pinAt(IBaseFilter* filter, int index) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)) || !pins)
        return nullptr;
    IPin* pin = nullptr;
    if (index > 0)
        pins->Skip(static_cast<ULONG>(index));
    if (pins->Next(1, &pin, nullptr) != S_OK)
        pin = nullptr;
    pins->Release();
    return pin;
}

void connect(IGraphBuilder* graph, IBaseFilter* from, int out, IBaseFilter* to, int in) {
    IPin* output = pinAt(from, out);
    IPin* input = pinAt(to, in);
    if (output && input)
        graph->ConnectDirect(output, input, nullptr);
    release(output);
    release(input);
}

// The push graph: the shared source on the file (held by its writer when
// `growing`), the demultiplexer, the decoder's two inputs.
HRESULT buildPushGraph(IGraphBuilder* graph, IBaseFilter* decoder, bool growing) {
    static int lock = 0;
    IBaseFilter* source = nullptr;
    IBaseFilter* demux = nullptr;
    ISharedAsync* shared = nullptr;
    IFileSourceFilter* file = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SharedSource, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IBaseFilter, reinterpret_cast<void**>(&source));
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_MpegDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&demux));
    if (SUCCEEDED(hr))
        hr = source->QueryInterface(IID_ISharedAsync, reinterpret_cast<void**>(&shared));
    if (SUCCEEDED(hr))
        hr = source->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) {
        graph->AddFilter(source, L"Shared Source");
        graph->AddFilter(demux, L"MPEG DeMux");
        if (growing)
            shared->SetFileLock(&lock);
        hr = file->Load(L"fuzz.mpg", nullptr);
        connect(graph, source, 0, demux, 0);
        connect(graph, demux, 2, decoder, 0);
        connect(graph, demux, 3, decoder, 1);
    }
    release(file);
    release(shared);
    release(demux);
    release(source);
    return hr;
}

// RenderFile around the decoder, or the push graph, then run for a while
// on the manual clock: the demultiplexer walks the packets and delivers
// them.
void checkGraph(const uint8_t* data, size_t size, long playMs, int kind) {
    FILE* file = fopen("fuzz.mpg", "wb");
    if (!file)
        fuzzinput::fail("cannot write fuzz.mpg");
    size_t written = fwrite(data, 1, size, file);
    if (fclose(file) != 0 || written != size)
        fuzzinput::fail("cannot write fuzz.mpg");
    IGraphBuilder* graph = nullptr;
    IBaseFilter* decoder = nullptr;
    IMediaControl* control = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph))) ||
        FAILED(CoCreateInstance(CLSID_TovixDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&decoder))))
        fuzzinput::fail("cannot make the graph or the decoder");
    graph->AddFilter(decoder, L"Sigma Decoder");
    HRESULT hr = kind == 0 ? graph->RenderFile(L"fuzz.mpg", nullptr)
                           : buildPushGraph(graph, decoder, kind == 2);
    if (SUCCEEDED(hr) &&
        SUCCEEDED(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)))) {
        control->Run();
        simctl::advanceClock(playMs);
        control->Stop();
    }
    release(control);
    release(decoder);
    release(graph);
    if (!simctl::liveObjects().empty()) {
        fprintf(stderr, "%s", simctl::describeLiveObjects().c_str());
        fuzzinput::fail("the graph left objects alive");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    simctl::setManualClock(true);
    CoInitialize(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses the graph (its low two bits: rendered, push,
    // push while written) and how long it plays; the rest is the file.
    long playMs = 40L * (data[0] >> 2);
    int kind = data[0] & 3;
    checkParse(data + 1, size - 1);
    checkWalk(data + 1, size - 1);
    checkGraph(data + 1, size - 1, playMs, kind == 3 ? 0 : kind);
    simctl::clearTrace();
    return 0;
}
