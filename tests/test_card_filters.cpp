// The decoder card's simulated filters: their pins and media types, the
// graph they join, the interfaces they answer, the profile and the shared
// source, each driven directly as DirectShow would.
#include "com_helpers.h"

#include "sim/card/decoder.h"
#include "sim/card/stream_filters.h"
#include "sim/control.h"
#include "sim/control_card.h"
#include "src/card/card_interfaces.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using comtest::create;
using comtest::pinName;
using comtest::pinOf;

// A graph that counts its references and is never asked anything.
class TestGraph : public IFilterGraph, public sim::ComObject {
  public:
    TestGraph() : ComObject("TestGraph") {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return sim::queryInterface(this, riid, ppv,
                                   {{&IID_IUnknown, static_cast<IFilterGraph*>(this)},
                                    {&IID_IFilterGraph, static_cast<IFilterGraph*>(this)}});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return fail(); }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter*) override { return fail(); }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters**) override { return fail(); }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override { return fail(); }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override {
        return fail();
    }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return fail(); }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return fail(); }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return fail(); }

  private:
    HRESULT fail() {
        ADD_FAILURE() << "a filter called its graph";
        return E_NOTIMPL;
    }
};

using CardFilters = comtest::ComWorld;

TEST_F(CardFilters, DecoderPinsEnumerateInOrderAndCountOnTheFilter) {
    IBaseFilter* decoder = create<IBaseFilter>(CLSID_TovixDecoder, IID_IBaseFilter);
    IEnumPins* pins = nullptr;
    ASSERT_EQ(S_OK, decoder->EnumPins(&pins));
    IPin* got[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, pins->Next(4, got, &fetched)) << "three of four asked for";
    ASSERT_EQ(3u, fetched);
    EXPECT_EQ(E_POINTER, pins->Next(2, got + 3, nullptr));
    const char* names[] = {"Video", "Audio", "Overlay"};
    PIN_DIRECTION dirs[] = {PINDIR_INPUT, PINDIR_INPUT, PINDIR_OUTPUT};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(names[i], pinName(got[i]));
        PIN_DIRECTION dir;
        got[i]->QueryDirection(&dir);
        EXPECT_EQ(dirs[i], dir);
    }
    // The filter's own, the enumerator's and one per pin: pins have no count
    // of their own.
    EXPECT_EQ(5, static_cast<int>(simctl::liveObjects()[0].refs));
    EXPECT_EQ(1, simctl::liveCount("DecoderFilter"));

    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(2));
    EXPECT_EQ(S_FALSE, pins->Skip(2));
    IEnumPins* clone = nullptr;
    pins->Reset();
    pins->Skip(1);
    ASSERT_EQ(S_OK, pins->Clone(&clone));
    IPin* second = nullptr;
    EXPECT_EQ(S_OK, clone->Next(1, &second, nullptr));
    EXPECT_EQ(got[1], second);
    second->Release();
    clone->Release();

    for (IPin* pin : {got[0], got[1], got[2]})
        pin->Release();
    pins->Release();
    IPin* audio = nullptr;
    EXPECT_EQ(S_OK, decoder->FindPin(L"Audio", &audio));
    EXPECT_EQ(got[1], audio);
    audio->Release();
    IPin* none = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_FOUND, decoder->FindPin(L"Subtitles", &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(0u, decoder->Release());
}

TEST_F(CardFilters, EnumPinsFaultsYieldFewerPinsOrNone) {
    IBaseFilter* demux = create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
    simctl::armFault("MpegDemux::EnumPins:pin", S_FALSE, 3);
    IEnumPins* pins = nullptr;
    ASSERT_EQ(S_OK, demux->EnumPins(&pins));
    IPin* got[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, pins->Next(4, got, &fetched));
    EXPECT_EQ(2u, fetched) << "the third pin is missing, and so is everything after it";
    for (ULONG i = 0; i < fetched; i++)
        got[i]->Release();
    pins->Release();

    simctl::armFault("MpegDemux::EnumPins", E_OUTOFMEMORY);
    EXPECT_EQ(E_OUTOFMEMORY, demux->EnumPins(&pins));
    EXPECT_EQ(nullptr, pins);
    demux->Release();
}

TEST_F(CardFilters, OutputPinsConnectByMediaTypeAsDirectShowDoes) {
    IBaseFilter* demux = create<IBaseFilter>(CLSID_MpegDemux, IID_IBaseFilter);
    IBaseFilter* decoder = create<IBaseFilter>(CLSID_TovixDecoder, IID_IBaseFilter);
    IPin* videoOut = pinOf(demux, sim::kDemuxVideoOut);
    IPin* audioOut = pinOf(demux, sim::kDemuxAudioOut);
    IPin* videoIn = pinOf(decoder, sim::kDecoderVideoIn);
    IPin* audioIn = pinOf(decoder, sim::kDecoderAudioIn);
    EXPECT_EQ("Video", pinName(videoOut));

    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, videoIn->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer);
    EXPECT_EQ(S_FALSE, videoIn->Disconnect());
    EXPECT_EQ(E_UNEXPECTED, videoIn->Connect(videoOut, nullptr)) << "input pins do not connect";

    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, audioOut->Connect(videoIn, nullptr));
    EXPECT_EQ(S_OK, videoOut->Connect(videoIn, nullptr));
    ASSERT_EQ(S_OK, videoIn->ConnectedTo(&peer));
    EXPECT_EQ(videoOut, peer);
    peer->Release();
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(S_OK, videoIn->ConnectionMediaType(&mt));
    EXPECT_TRUE(mt.majortype == MEDIATYPE_Video && mt.subtype == MEDIASUBTYPE_MPEG2_VIDEO);
    sim::freeMediaType(&mt);
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, videoOut->Connect(videoIn, nullptr));

    // Connections change only while stopped.
    ASSERT_EQ(S_FALSE, decoder->Run(0)) << "running, its input waits for data";
    FILTER_STATE state;
    decoder->GetState(0, &state);
    EXPECT_EQ(State_Running, state);
    EXPECT_EQ(VFW_E_NOT_STOPPED, videoIn->Disconnect());
    demux->Pause();
    EXPECT_EQ(VFW_E_NOT_STOPPED, audioOut->Connect(audioIn, nullptr));
    decoder->Stop();
    demux->Stop();

    simctl::armFault("MpegDemux.Audio::Connect", VFW_E_CANNOT_CONNECT, 1);
    EXPECT_EQ(VFW_E_CANNOT_CONNECT, audioOut->Connect(audioIn, nullptr));
    EXPECT_EQ(S_OK, audioOut->Connect(audioIn, nullptr));

    // Each side lets go of its own end.
    for (IPin* pin : {videoOut, videoIn, audioOut, audioIn})
        EXPECT_EQ(S_OK, pin->Disconnect());
    EXPECT_EQ(S_FALSE, videoOut->Disconnect());
    for (IPin* pin : {videoOut, videoIn, audioOut, audioIn})
        pin->Release();
    EXPECT_EQ(0u, demux->Release());
    EXPECT_EQ(0u, decoder->Release());
}

TEST_F(CardFilters, JoinsAGraphWithoutAReferenceAndReportsIt) {
    IBaseFilter* decoder = create<IBaseFilter>(CLSID_TovixDecoder, IID_IBaseFilter);
    TestGraph* graph = new TestGraph;
    ASSERT_EQ(S_OK, decoder->JoinFilterGraph(graph, L"Sigma Decoder"));
    EXPECT_EQ(1u, graph->refCount());
    FILTER_INFO info;
    ASSERT_EQ(S_OK, decoder->QueryFilterInfo(&info));
    EXPECT_EQ("Sigma Decoder", sim::narrow(info.achName));
    EXPECT_EQ(static_cast<IFilterGraph*>(graph), info.pGraph);
    EXPECT_EQ(2u, graph->refCount()) << "the info carries a reference";
    info.pGraph->Release();
    decoder->JoinFilterGraph(nullptr, nullptr);
    decoder->QueryFilterInfo(&info);
    EXPECT_EQ(nullptr, info.pGraph);
    EXPECT_EQ(0u, graph->Release());
    CLSID clsid;
    decoder->GetClassID(&clsid);
    EXPECT_TRUE(clsid == CLSID_TovixDecoder);
    decoder->Release();
}

TEST_F(CardFilters, DecoderAnswersItsOutputInterfacesOnOneCount) {
    IBaseFilter* decoder = create<IBaseFilter>(CLSID_TovixDecoder, IID_IBaseFilter);
    ITvVgaOutput3* out = nullptr;
    IAudioOutput* audio = nullptr;
    IREALmagicProfile* profile = nullptr;
    ASSERT_EQ(S_OK, decoder->QueryInterface(IID_ITvVgaOutput3, reinterpret_cast<void**>(&out)));
    ASSERT_EQ(S_OK, decoder->QueryInterface(IID_IAudioOutput, reinterpret_cast<void**>(&audio)));
    ASSERT_EQ(S_OK,
              decoder->QueryInterface(IID_IREALmagicProfile, reinterpret_cast<void**>(&profile)));
    EXPECT_EQ(4, static_cast<int>(simctl::liveObjects()[0].refs));
    void* none = nullptr;
    EXPECT_EQ(E_NOINTERFACE, decoder->QueryInterface(IID_IVideoWindow, &none));

    // The registers belong to the card, not to one filter instance.
    out->SetHdMode(4);
    audio->SetAudioOutput(2);
    EXPECT_EQ(4, simcard::registers().hdMode);
    EXPECT_EQ(1, simcard::registerWrites().hdMode);
    out->Release();
    audio->Release();
    profile->Release();
    decoder->Release();
    decoder = create<IBaseFilter>(CLSID_TovixDecoder, IID_IBaseFilter);
    decoder->QueryInterface(IID_ITvVgaOutput3, reinterpret_cast<void**>(&out));
    int mode = 0;
    EXPECT_EQ(S_OK, out->GetHdMode(&mode));
    EXPECT_EQ(4, mode);
    simctl::armFault("DecoderFilter::GetHdMode", E_FAIL);
    EXPECT_EQ(E_FAIL, out->GetHdMode(&mode));
    out->Release();
    decoder->Release();
}

TEST_F(CardFilters, ProfileAnswersFromTheBuiltInTableAFileOrTheControl) {
    IBaseFilter* decoder = create<IBaseFilter>(CLSID_TovixDecoder, IID_IBaseFilter);
    IREALmagicProfile* profile = nullptr;
    decoder->QueryInterface(IID_IREALmagicProfile, reinterpret_cast<void**>(&profile));
    char value[128];
    EXPECT_EQ(S_OK, profile->ReadProfileString("HDTV", "mode2", "", value, sizeof value));
    EXPECT_STREQ("720p 1280 720", value);
    EXPECT_EQ(S_OK, profile->ReadProfileString("Progressive", "mode1", "", value, sizeof value));
    EXPECT_STREQ("SVGA 800 600", value);
    EXPECT_EQ(S_FALSE, profile->ReadProfileString("HDTV", "mode99", "none", value, sizeof value));
    EXPECT_STREQ("none", value);
    char small[5];
    profile->ReadProfileString("HDTV", "mode4", "", small, sizeof small);
    EXPECT_STREQ("1080", small) << "cut to the buffer and terminated";

    const char* path = "profile.ini";
    FILE* file = fopen(path, "w");
    ASSERT_NE(nullptr, file);
    fputs("; a card with one HD mode\n[hdtv]\nMODE0 = 1080p 1920 1080\n", file);
    fclose(file);
    setenv("TOVIX_SIM_PROFILE", path, 1);
    profile->ReadProfileString("HDTV", "mode0", "", value, sizeof value);
    EXPECT_STREQ("1080p 1920 1080", value);
    EXPECT_EQ(S_FALSE, profile->ReadProfileString("HDTV", "mode2", "", value, sizeof value));

    simcard::setProfileText("[Progressive]\nmode0=UXGA 1600 1200\n");
    profile->ReadProfileString("Progressive", "mode0", "", value, sizeof value);
    EXPECT_STREQ("UXGA 1600 1200", value);
    unsetenv("TOVIX_SIM_PROFILE");
    profile->Release();
    decoder->Release();
}

TEST_F(CardFilters, SharedSourceRecordsWhatItIsTold) {
    IBaseFilter* source = create<IBaseFilter>(CLSID_SharedSource, IID_IBaseFilter);
    IFileSourceFilter* file = nullptr;
    ISharedAsync* shared = nullptr;
    ASSERT_EQ(S_OK, source->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&file)));
    ASSERT_EQ(S_OK, source->QueryInterface(IID_ISharedAsync, reinterpret_cast<void**>(&shared)));
    EXPECT_EQ(S_OK, file->Load(L"\\\\server\\tv\\show.mpg", nullptr));
    int lock = 0;
    shared->SetFileLock(&lock);
    shared->SetHostName("server");
    shared->SetFileLock(nullptr);
    simcard::SharedSourceRecord r = simcard::sharedSource();
    EXPECT_EQ(1, r.loadCalls);
    EXPECT_EQ("\\\\server\\tv\\show.mpg", r.file);
    EXPECT_FALSE(r.loadHadMediaType);
    EXPECT_EQ(2, r.lockCalls);
    EXPECT_EQ(nullptr, r.lock);
    EXPECT_EQ(1, r.hostCalls);
    EXPECT_EQ("server", r.host);
    LPOLESTR name = nullptr;
    ASSERT_EQ(S_OK, file->GetCurFile(&name, nullptr));
    EXPECT_EQ("\\\\server\\tv\\show.mpg", sim::narrow(name));
    CoTaskMemFree(name);
    IPin* out = pinOf(source, 0);
    EXPECT_EQ("Output", pinName(out));
    out->Release();
    file->Release();
    shared->Release();
    source->Release();
}

} // namespace
