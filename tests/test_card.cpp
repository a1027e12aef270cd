// The decoder card: the simulated filters' DirectShow protocol, and the
// output modes the library reads from the host and applies to the card.
#include "com_helpers.h"
#include "fake_jni.h"
#include "plugin_log.h"

#include "sim/card_decoder.h"
#include "sim/card_stream_filters.h"
#include "sim/control.h"
#include "sim/control_card.h"
#include "src/bridge/properties.h"
#include "src/card/modes.h"
#include "src/log/log.h"
#include "src/player/player.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using comtest::create;
using comtest::pinName;
using comtest::pinOf;
using testlog::logHas;

// Every test starts with COM up on its thread and a card at power-on, and
// ends with nothing of the world left alive.
class CardWorld : public testing::Test {
  protected:
    void SetUp() override {
        simctl::reset();
        simcard::reset();
        CoInitialize(nullptr);
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
    }
};

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

// The graph's video window as setWindowProperties sees it: records the two
// calls it may make, fails the test on any other.
class TestVideoWindow : public IVideoWindow, public sim::ComObject {
  public:
    TestVideoWindow() : ComObject("TestVideoWindow") {}
    LONG autoShow = OATRUE;
    LONG visible = OATRUE;
    std::vector<std::string> calls;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return sim::queryInterface(this, riid, ppv,
                                   {{&IID_IUnknown, static_cast<IVideoWindow*>(this)},
                                    {&IID_IVideoWindow, static_cast<IVideoWindow*>(this)}});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }
    HRESULT STDMETHODCALLTYPE put_AutoShow(LONG v) override {
        calls.push_back("put_AutoShow");
        autoShow = v;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Visible(LONG v) override {
        calls.push_back("put_Visible");
        visible = v;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return no(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return no(); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE put_Caption(BSTR) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_Caption(BSTR*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_WindowStyleEx(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_WindowStyleEx(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_AutoShow(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_WindowState(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_WindowState(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_BackgroundPalette(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_BackgroundPalette(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_Visible(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_Left(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_Left(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_Width(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_Width(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_Top(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_Top(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_Height(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_Height(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_Owner(OAHWND) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_Owner(OAHWND*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_MessageDrain(OAHWND) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_MessageDrain(OAHWND*) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_BorderColor(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_BorderColor(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE get_FullScreenMode(LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE put_FullScreenMode(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE SetWindowForeground(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE SetWindowPosition(LONG, LONG, LONG, LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE GetWindowPosition(LONG*, LONG*, LONG*, LONG*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE GetMinIdealImageSize(LONG*, LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE GetMaxIdealImageSize(LONG*, LONG*) override { return no(); }
    HRESULT STDMETHODCALLTYPE GetRestorePosition(LONG*, LONG*, LONG*, LONG*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE HideCursor(LONG) override { return no(); }
    HRESULT STDMETHODCALLTYPE IsCursorHidden(LONG*) override { return no(); }

  private:
    HRESULT no() {
        ADD_FAILURE() << "setWindowProperties used more of the video window than it hides";
        return E_NOTIMPL;
    }
};

// ---- The simulated filters --------------------------------------------------

using CardFilters = CardWorld;

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
    ASSERT_EQ(S_OK, decoder->Run(0));
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

// ---- Output modes -------------------------------------------------------------

class OutputModes : public CardWorld {
  protected:
    void SetUp() override {
        CardWorld::SetUp();
        openLogs(jni.env(), jni.hostClass());
    }
    void TearDown() override {
        releaseDecoderInterfaces();
        EXPECT_EQ(0, jni.outstanding());
        CardWorld::TearDown();
    }
    // Forgets the settings read, as a new process would.
    void forgetSettings() {
        gOutputFlags = gHdMode = gVgaMode = kUnsetMode;
        gAspect = gAudioOutput = 0;
        gAspectSet = gAudioSet = false;
    }
    void readSettings() { setupModes(jni.env(), jni.hostClass()); }
    static std::string line(const std::string& tag, const std::string& message) {
        return "hh:mm:ss - <" + tag + ">: " + message;
    }
    fakejni::FakeJni jni;
};

TEST_F(OutputModes, DefaultsAreTvUseTvCompositeLetterBoxStereo) {
    readSettings();
    EXPECT_EQ(0x11, gOutputFlags);
    EXPECT_EQ(0, gHdMode);
    EXPECT_EQ(0, gVgaMode);
    EXPECT_EQ(2, gAspect);
    EXPECT_TRUE(gAspectSet);
    EXPECT_EQ(0, gAudioOutput);
    EXPECT_TRUE(gAudioSet);
    for (const char* key : {"tovix/output", "tovix/standard", "tovix/connector", "tovix/audio",
                            "tovix/hdmode", "tovix/vgamode", "tovix/aspect"})
        EXPECT_EQ(1, jni.propertyReads(key)) << key;
    EXPECT_TRUE(logHas(line(
        "getProperty", "About to call java getProepty with args: 'tovix/aspect', 'LETTER_BOX'")));

    // A second reading reads nothing, even when the host changed a setting.
    jni.setProperty("tovix/output", "VGA");
    readSettings();
    EXPECT_EQ(1, jni.propertyReads("tovix/output"));
    EXPECT_EQ(0x11, gOutputFlags);
    determineDimensions();
    EXPECT_EQ(720, gWidth);
    EXPECT_EQ(480, gHeight);
}

TEST_F(OutputModes, EveryAcceptedTextHasItsCode) {
    struct Case {
        const char* output;
        const char* standard;
        const char* connector;
        int flags;
    } cases[] = {
        {"TV", "NTSC", "COMPOSITE", 0x01},   {"VGA", "PAL", "YUV", 0x82},
        {"HDTV", "PAL60", "RGB", 0xE8},      {"TV", "PALM", "SCART", 0x20B},
        {"VGA", "USETV", "COMPOSITE", 0x10},
    };
    for (const Case& c : cases) {
        forgetSettings();
        jni.setProperty("tovix/output", c.output);
        jni.setProperty("tovix/standard", c.standard);
        jni.setProperty("tovix/connector", c.connector);
        readSettings();
        EXPECT_EQ(c.flags, gOutputFlags) << c.output << " " << c.standard << " " << c.connector;
    }
    const char* aspects[] = {"ASIS", "PAN_SCAN", "LETTER_BOX", "WIDE"};
    for (int code = 0; code < 4; code++) {
        forgetSettings();
        jni.setProperty("tovix/aspect", aspects[code]);
        readSettings();
        EXPECT_EQ(code, gAspect);
    }
    forgetSettings();
    jni.setProperty("tovix/audio", "SPDIF");
    readSettings();
    EXPECT_EQ(2, gAudioOutput);
    for (const std::string& l : testlog::readPluginLog())
        EXPECT_EQ(std::string::npos, l.find("Unknown")) << l;
}

TEST_F(OutputModes, TextsNotAcceptedAreReportedAndCountAsZero) {
    jni.setProperty("tovix/output", "tv");
    jni.setProperty("tovix/standard", "PAL ");
    jni.setProperty("tovix/connector", "S-VIDEO");
    jni.setProperty("tovix/audio", "AC3");
    jni.setProperty("tovix/aspect", "wide");
    readSettings();
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/output mode 'tv'")));
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/standard mode 'PAL '")));
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/connector mode 'S-VIDEO'")));
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/audio mode 'AC3'")));
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/aspect mode 'wide'")));
    EXPECT_EQ(0, gOutputFlags) << "VGA, NTSC, composite";
    EXPECT_EQ(0, gAudioOutput);
    EXPECT_TRUE(gAudioSet);
    EXPECT_EQ(0, gAspect);
    EXPECT_TRUE(gAspectSet);

    // Output kind VGA: the screen size comes from the progressive modes.
    getDecoderInterfaces();
    determineDimensions();
    EXPECT_EQ(640, gWidth);
    EXPECT_EQ(480, gHeight);
    EXPECT_TRUE(
        logHas(line("lookupWidthAndHeight", "Found dimenstions 640x480 with description VGA")));
}

TEST_F(OutputModes, ModeNumbersMustBeWholeDecimalIntegers) {
    struct Case {
        const char* text;
        bool accepted;
        int value;
    } cases[] = {
        {" 7", true, 7},
        {"-3", true, -3},
        {"+5", true, 5},
        {"99999999999", true, 2147483647},
        {"-99999999999", true, -2147483647 - 1},
        {"12abc", false, 0},
        {"", false, 0},
        {"0x10", false, 0},
        {"7 ", false, 0},
        {"-", false, 0},
    };
    for (const Case& c : cases) {
        forgetSettings();
        jni.setProperty("tovix/hdmode", c.text);
        jni.setProperty("tovix/vgamode", c.text);
        readSettings();
        if (c.accepted) {
            EXPECT_EQ(c.value, gHdMode) << "'" << c.text << "'";
            EXPECT_EQ(c.value, gVgaMode) << "'" << c.text << "'";
        } else {
            EXPECT_EQ(kUnsetMode, gHdMode) << "'" << c.text << "'";
            EXPECT_EQ(kUnsetMode, gVgaMode) << "'" << c.text << "'";
        }
    }
    EXPECT_EQ(5, testlog::logCount(line("setupModes", "tovix/hdmode must be an integer value")));
    EXPECT_EQ(5, testlog::logCount(line("setupModes", "tovix/vgamode must be an integer value")));
}

TEST_F(OutputModes, CardValuesAreWrittenOnlyWhenTheyDiffer) {
    readSettings();
    getDecoderInterfaces();
    simcard::resetRegisterCounts();
    setWindowProperties();
    // Power-on: flags 0x01, aspect 0, modes 0, stereo.
    simcard::Registers writes = simcard::registerWrites();
    EXPECT_EQ(1, writes.outputFlags);
    EXPECT_EQ(1, writes.aspect);
    EXPECT_EQ(0, writes.hdMode);
    EXPECT_EQ(0, writes.vgaMode);
    EXPECT_EQ(0, writes.audioOutput);
    EXPECT_EQ(0x11, simcard::registers().outputFlags);
    EXPECT_EQ(2, simcard::registers().aspect);

    // A card that already matches is only read.
    setWindowProperties();
    setWindowProperties();
    writes = simcard::registerWrites();
    EXPECT_EQ(1, writes.outputFlags);
    EXPECT_EQ(1, writes.aspect);
    EXPECT_EQ(3, simcard::registerReads().hdMode);

    // Something else changed the card: the next application puts it back.
    simcard::Registers changed = simcard::registers();
    changed.vgaMode = 3;
    changed.audioOutput = 2;
    simcard::setRegisters(changed);
    setWindowProperties();
    EXPECT_EQ(0, simcard::registers().vgaMode);
    EXPECT_EQ(0, simcard::registers().audioOutput);
    EXPECT_EQ(1, simcard::registerWrites().vgaMode);
}

TEST_F(OutputModes, AnUnreadableCardValueIsWrittenAnyway) {
    readSettings();
    getDecoderInterfaces();
    simcard::Registers matching = {0x11, 2, 0, 0, 0};
    simcard::setRegisters(matching);
    simctl::armFault("DecoderFilter::GetAspect", E_FAIL);
    simctl::armFault("DecoderFilter::GetAudioOutput", E_FAIL);
    setWindowProperties();
    EXPECT_EQ(1, simcard::registerWrites().aspect);
    EXPECT_EQ(1, simcard::registerWrites().audioOutput);
    EXPECT_EQ(0, simcard::registerWrites().outputFlags);
}

TEST_F(OutputModes, BeforeTheSettingsAreReadFlagsAreCapturedAndNothingWritten) {
    // The graph's own window stays hidden whatever else is configured.
    TestVideoWindow* window = new TestVideoWindow;
    pVideoWindow = window;
    setWindowProperties();
    EXPECT_EQ((std::vector<std::string>{"put_AutoShow", "put_Visible"}), window->calls);
    EXPECT_EQ(OAFALSE, window->autoShow);
    EXPECT_EQ(OAFALSE, window->visible);
    pVideoWindow = nullptr;
    window->Release();

    getDecoderInterfaces();
    simcard::Registers odd = {0x82, 1, 2, 3, 2};
    simcard::setRegisters(odd);
    setWindowProperties();
    EXPECT_EQ(0x82, gSavedOutputFlags);
    simcard::Registers writes = simcard::registerWrites();
    EXPECT_EQ(0, writes.outputFlags + writes.aspect + writes.hdMode + writes.vgaMode +
                     writes.audioOutput);
    determineDimensions();
    EXPECT_EQ(720, gWidth) << "the unset sentinel has the TV bit";
}

TEST_F(OutputModes, ClosingRestoresTheFlagsFirstFoundAndNothingElse) {
    simcard::Registers found = {0x82, 1, 2, 3, 2};
    simcard::setRegisters(found);
    jni.setProperty("tovix/audio", "STEREO");
    readSettings();
    getDecoderInterfaces();
    setWindowProperties();
    EXPECT_EQ(0x11, simcard::registers().outputFlags);
    resetWindowProperties();
    simcard::Registers after = simcard::registers();
    EXPECT_EQ(0x82, after.outputFlags);
    EXPECT_EQ(2, after.aspect);
    EXPECT_EQ(0, after.hdMode);
    EXPECT_EQ(0, after.vgaMode);
    EXPECT_EQ(0, after.audioOutput);

    // A later connection finds the card as it left it, but restores the
    // word captured the first time.
    releaseDecoderInterfaces();
    simcard::setRegisters({0x01, 2, 0, 0, 0});
    getDecoderInterfaces();
    setWindowProperties();
    resetWindowProperties();
    EXPECT_EQ(0x82, simcard::registers().outputFlags);
}

TEST_F(OutputModes, HdtvScreenSizeComesFromTheProfile) {
    jni.setProperty("tovix/output", "HDTV");
    jni.setProperty("tovix/hdmode", "4");
    readSettings();
    getDecoderInterfaces();
    setWindowProperties();
    determineDimensions();
    EXPECT_EQ(1920, gWidth);
    EXPECT_EQ(1080, gHeight);
    EXPECT_TRUE(
        logHas(line("lookupWidthAndHeight", "Found dimenstions 1920x1080 with description 1080i")));
    EXPECT_EQ(4, simcard::registers().hdMode);
    EXPECT_EQ(0x30, simcard::registers().outputFlags);
}

TEST_F(OutputModes, MissingOrMalformedDescriptionsLeaveTheSize) {
    jni.setProperty("tovix/output", "VGA");
    jni.setProperty("tovix/vgamode", "2");
    jni.setProperty("tovix/hdmode", "not a number");
    readSettings();
    getDecoderInterfaces();
    simcard::setProfileText("[Progressive]\nmode2=garbage\nmode3=XGA 1024\n");
    gWidth = 800;
    gHeight = 600;
    determineDimensions();
    EXPECT_TRUE(logHas(line("lookupWidthAndHeight", "Could not parse mode description: garbage")));
    lookupWidthAndHeight(3, "Progressive", &gWidth, &gHeight);
    EXPECT_TRUE(logHas(line("lookupWidthAndHeight", "Could not parse mode description: XGA 1024")));
    lookupWidthAndHeight(7, "Progressive", &gWidth, &gHeight);
    EXPECT_TRUE(logHas(line("lookupWidthAndHeight", "Could not parse mode description: ")));
    EXPECT_EQ(800, gWidth);
    EXPECT_EQ(600, gHeight);

    // A mode left unset is still looked up. Its key is built whole, in a
    // buffer with room for any int, and no profile holds it.
    gWidth = 800;
    gHeight = 600;
    int before =
        testlog::logCount(line("lookupWidthAndHeight", "Could not parse mode description: "));
    lookupWidthAndHeight(kUnsetMode, "HDTV", &gWidth, &gHeight);
    lookupWidthAndHeight(-2147483647 - 1, "HDTV", &gWidth, &gHeight);
    EXPECT_EQ(before + 2, testlog::logCount(
                              line("lookupWidthAndHeight", "Could not parse mode description: ")));
    EXPECT_EQ(800, gWidth);
    EXPECT_EQ(600, gHeight);
}

TEST_F(OutputModes, NumbersBeyondAnIntMakeADescriptionThatDoesNotParse) {
    jni.setProperty("tovix/output", "VGA");
    readSettings();
    getDecoderInterfaces();
    simcard::setProfileText("[Progressive]\nmode2=BIG 99999999999 600\n"
                            "mode3=LOW 800 -2147483649\nmode4=EDGE 2147483647 -2147483648\n");
    gWidth = 800;
    gHeight = 600;
    lookupWidthAndHeight(2, "Progressive", &gWidth, &gHeight);
    lookupWidthAndHeight(3, "Progressive", &gWidth, &gHeight);
    EXPECT_TRUE(logHas(
        line("lookupWidthAndHeight", "Could not parse mode description: BIG 99999999999 600")));
    EXPECT_TRUE(logHas(
        line("lookupWidthAndHeight", "Could not parse mode description: LOW 800 -2147483649")));
    EXPECT_EQ(800, gWidth);
    EXPECT_EQ(600, gHeight);
    lookupWidthAndHeight(4, "Progressive", &gWidth, &gHeight);
    EXPECT_TRUE(logHas(line("lookupWidthAndHeight",
                            "Found dimenstions 2147483647x-2147483648 with description EDGE")));
}

TEST_F(OutputModes, EachMissingDecoderInterfaceIsReportedAndSkipped) {
    const char* names[] = {"ITvVgaOutput3", "IAudioOutput", "IREALmagicProfile"};
    int blankLines = testlog::logCount("");
    for (const char* name : names) {
        simctl::clearFaults();
        simctl::armFault(std::string("QueryInterface:DecoderFilter:") + name, E_NOINTERFACE);
        EXPECT_EQ(0, getDecoderInterfaces());
        EXPECT_TRUE(
            logHas(line("queryDecoderInterface",
                        std::string("Failed to create interface from sigma decoder: ") + name)))
            << name;
        EXPECT_EQ(std::string(name) != "ITvVgaOutput3", pTvVgaOutput != nullptr);
        EXPECT_EQ(std::string(name) != "IAudioOutput", pAudioOutput != nullptr);
        EXPECT_EQ(std::string(name) != "IREALmagicProfile", pRmProfile != nullptr);
        releaseDecoderInterfaces();
    }
    EXPECT_EQ(blankLines + 3, testlog::logCount(""))
        << "each message ends in a line break of its own";

    // Without the output interface nothing reaches the card's registers;
    // without the profile the screen size falls back.
    simctl::clearFaults();
    simctl::armFault("QueryInterface:DecoderFilter:ITvVgaOutput3", E_NOINTERFACE);
    simctl::armFault("QueryInterface:DecoderFilter:IREALmagicProfile", E_NOINTERFACE);
    jni.setProperty("tovix/output", "HDTV");
    jni.setProperty("tovix/audio", "SPDIF");
    readSettings();
    getDecoderInterfaces();
    simcard::resetRegisterCounts();
    setWindowProperties();
    resetWindowProperties();
    simcard::Registers writes = simcard::registerWrites();
    EXPECT_EQ(0, writes.outputFlags + writes.aspect + writes.hdMode + writes.vgaMode);
    EXPECT_EQ(1, writes.audioOutput);
    gWidth = 1;
    determineDimensions();
    EXPECT_EQ(720, gWidth);
    EXPECT_EQ(480, gHeight);
    EXPECT_TRUE(
        logHas(line("lookupWidthAndHeight", "no RM profiler.  Using default width and height.")));
}

TEST_F(OutputModes, ADecoderThatCannotBeCreatedIsReportedOnce) {
    simctl::armFault("CoCreateInstance:DecoderFilter", REGDB_E_CLASSNOTREG, 1);
    EXPECT_EQ(1, createDecoderFilter());
    EXPECT_EQ(nullptr, pDecoderFilter);
    bool found = false;
    for (const std::string& l : testlog::readPluginLog())
        found = found || l.rfind("hh:mm:ss - <buildGraph>: Cannot create decoder filter!!! (ERROR: "
                                 "80040154/",
                                 0) == 0;
    EXPECT_TRUE(found);
    EXPECT_EQ(0, getDecoderInterfaces()) << "the next try succeeds";
    EXPECT_NE(nullptr, pRmProfile);
    EXPECT_EQ(0, createDecoderFilter()) << "held already";
    EXPECT_EQ(1, simctl::liveCount("DecoderFilter"));

    // Without COM on the thread the runtime refuses.
    releaseDecoderInterfaces();
    CoUninitialize();
    EXPECT_EQ(1, createDecoderFilter());
    EXPECT_EQ(0, getDecoderInterfaces());
    EXPECT_EQ(nullptr, pTvVgaOutput);
    CoInitialize(nullptr);
}

TEST_F(OutputModes, ReleasingTheDecoderLogsTheReferencesLeft) {
    getDecoderInterfaces();
    IBaseFilter* graphsHold = pDecoderFilter;
    graphsHold->AddRef();
    releaseDecoderInterfaces();
    EXPECT_TRUE(
        logHas(line("releaseDecoderFilter", "Decoder filter released with 1 references left")));
    EXPECT_EQ(nullptr, pDecoderFilter);
    EXPECT_EQ(0u, graphsHold->Release());
    releaseDecoderFilter(); // nothing held: nothing said
    EXPECT_EQ(1, testlog::logCount(line("releaseDecoderFilter",
                                        "Decoder filter released with 1 references left")));
}

TEST_F(OutputModes, SetTvAndSetVgaReplaceTheWholeWordOnlyWhenItDiffers) {
    readSettings();
    setTv(); // nothing held yet: nothing happens
    getDecoderInterfaces();
    simcard::setRegisters({1, 0, 0, 0, 0});
    setTv();
    EXPECT_EQ(0, simcard::registerWrites().outputFlags);
    simcard::setRegisters({0x11, 0, 0, 0, 0});
    setTv();
    EXPECT_EQ(1, simcard::registers().outputFlags);
    setVga();
    EXPECT_EQ(0, simcard::registers().outputFlags);
    EXPECT_EQ(2, simcard::registerWrites().outputFlags);
    EXPECT_EQ(0x11, gOutputFlags) << "the configured word stays";

    simctl::armFault("DecoderFilter::GetOutputFlags", E_FAIL, 1);
    setTv();
    EXPECT_EQ(1, simcard::registers().outputFlags) << "written although it could not be read";
    simctl::armFault("DecoderFilter::SetOutputFlags", E_ACCESSDENIED, 1);
    setVga();
    bool readFailed = false;
    bool writeFailed = false;
    for (const std::string& l : testlog::readPluginLog()) {
        readFailed =
            readFailed ||
            l.rfind("hh:mm:ss - <setTv>: Failed to get tv output mode (ERROR: 80004005/", 0) == 0;
        writeFailed =
            writeFailed ||
            l.rfind("hh:mm:ss - <setVga>: Failed to set tv output mode (ERROR: 80070005/", 0) == 0;
    }
    EXPECT_TRUE(readFailed);
    EXPECT_TRUE(writeFailed);
}

} // namespace
