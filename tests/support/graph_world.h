// The fixture of the tests that drive the simulated graph manager directly:
// COM up, the manual clock, a fresh card and a graph.
#pragma once

#include "com_helpers.h"
#include "stream_writer.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"
#include "src/card/card_interfaces.h"

#include <gtest/gtest.h>

#include <string>

// Every test runs with COM up, the manual clock and a fresh card, and ends
// with nothing of the world left alive.
class GraphWorld : public testing::Test {
  protected:
    void SetUp() override {
        simctl::reset();
        simcard::reset();
        simctl::setManualClock(true);
        simctl::setWaitLimit(60000);
        CoInitialize(nullptr);
        graph = comtest::create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    }
    void TearDown() override {
        if (graph)
            graph->Release();
        CoUninitialize();
        EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
    }
    IBaseFilter* addDecoder() {
        IBaseFilter* decoder = comtest::create<IBaseFilter>(CLSID_TovixDecoder, IID_IBaseFilter);
        EXPECT_EQ(S_OK, graph->AddFilter(decoder, L"Sigma Decoder"));
        decoder->Release(); // the graph holds it
        return decoder;
    }
    // The push graph's shared source and demultiplexer, added to the graph
    // under the names the library gives them; the caller keeps a reference
    // to each and releases it.
    void addPushFilters(IBaseFilter** source, IBaseFilter** demux) {
        *source = comtest::create<IBaseFilter>(CLSID_SharedSource, IID_IBaseFilter);
        *demux = comtest::create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
        graph->AddFilter(*source, L"Shared Source");
        graph->AddFilter(*demux, L"MPEG DeMux");
    }
    std::string writeStream(const char* name, const streamwriter::StreamSpec& shape) {
        EXPECT_TRUE(streamwriter::writeProgramStream(name, shape));
        return name;
    }
    HRESULT render(const std::string& path) {
        return graph->RenderFile(sim::widen(path).c_str(), nullptr);
    }

    IGraphBuilder* graph = nullptr;
};
