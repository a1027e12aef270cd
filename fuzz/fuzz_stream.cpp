// The bytes of a user's own MPEG file, as the simulated world reads them in
// the demo and in tovixsim.dll: the system-stream parse that tells what a
// file holds, the packet walk, and the demultiplexer's walk when a graph
// renders the file around the card's decoder and plays it. Each answer must
// stay inside the bytes it was given, and the graph must leave nothing alive.
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

// RenderFile around the decoder, then run for a while on the manual clock:
// the demultiplexer walks the packets and delivers them.
void checkGraph(const uint8_t* data, size_t size, long playMs) {
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
    HRESULT hr = graph->RenderFile(L"fuzz.mpg", nullptr);
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
    // The first byte chooses how long the graph plays; the rest is the file.
    long playMs = 40L * data[0];
    checkParse(data + 1, size - 1);
    checkWalk(data + 1, size - 1);
    checkGraph(data + 1, size - 1, playMs);
    simctl::clearTrace();
    return 0;
}
