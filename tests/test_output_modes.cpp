// The card's output modes: the settings the library reads from the host,
// their codes, applying them to the card and restoring it, the decoder
// filter's interfaces and the screen size from the profile.
#include "com_helpers.h"
#include "fake_jni.h"
#include "plugin_log.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "src/bridge/lifecycle.h"
#include "src/card/modes.h"
#include "src/log/log.h"
#include "src/log/properties.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using testlog::line;
using testlog::logHas;

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

class OutputModes : public comtest::ComWorld {
  protected:
    void SetUp() override {
        ComWorld::SetUp();
        resetLibrary();
        openLogs(jni.env(), jni.hostClass());
    }
    void TearDown() override {
        releaseDecoderInterfaces();
        EXPECT_EQ(0, jni.outstanding());
        ComWorld::TearDown();
    }
    // Forgets the settings read, as a new process would.
    void forgetSettings() {
        releaseDecoderInterfaces();
        resetOutputModes();
    }
    void readSettings() { setupModes(jni.env(), jni.hostClass()); }
    // Reads the settings and applies them to a card that held `before`;
    // answers what the card holds then. The default `before` holds values
    // no setting gives, so that what was not written shows.
    simcard::Registers applied(const simcard::Registers& before = kUnlikely) {
        readSettings();
        getDecoderInterfaces();
        simcard::setRegisters(before);
        setWindowProperties();
        return simcard::registers();
    }
    static constexpr simcard::Registers kUnlikely = {0x1000, 9, 77, 77, 9};
    fakejni::FakeJni jni;
};

TEST_F(OutputModes, DefaultsAreTvUseTvCompositeLetterBoxStereo) {
    simcard::Registers card = applied();
    EXPECT_EQ(0x11, card.outputFlags);
    EXPECT_EQ(0, card.hdMode);
    EXPECT_EQ(0, card.vgaMode);
    EXPECT_EQ(2, card.aspect);
    EXPECT_EQ(0, card.audioOutput);
    for (const char* key : {"tovix/output", "tovix/standard", "tovix/connector", "tovix/audio",
                            "tovix/hdmode", "tovix/vgamode", "tovix/aspect"})
        EXPECT_EQ(1, jni.propertyReads(key)) << key;
    EXPECT_TRUE(logHas(line(
        "getProperty", "About to call java getProepty with args: 'tovix/aspect', 'LETTER_BOX'")));

    // A second reading reads nothing, even when the host changed a setting.
    jni.setProperty("tovix/output", "VGA");
    readSettings();
    EXPECT_EQ(1, jni.propertyReads("tovix/output"));
    setWindowProperties();
    EXPECT_EQ(0x11, simcard::registers().outputFlags);
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
        EXPECT_EQ(c.flags, applied().outputFlags)
            << c.output << " " << c.standard << " " << c.connector;
    }
    const char* aspects[] = {"ASIS", "PAN_SCAN", "LETTER_BOX", "WIDE"};
    for (int code = 0; code < 4; code++) {
        forgetSettings();
        jni.setProperty("tovix/aspect", aspects[code]);
        EXPECT_EQ(code, applied().aspect) << aspects[code];
    }
    forgetSettings();
    jni.setProperty("tovix/audio", "SPDIF");
    EXPECT_EQ(2, applied().audioOutput);
    for (const std::string& l : testlog::readPluginLog())
        EXPECT_EQ(std::string::npos, l.find("Unknown")) << l;
}

TEST_F(OutputModes, TextsNotAcceptedAreReportedAndCountAsZero) {
    jni.setProperty("tovix/output", "tv");
    jni.setProperty("tovix/standard", "PAL ");
    jni.setProperty("tovix/connector", "S-VIDEO");
    jni.setProperty("tovix/audio", "AC3");
    jni.setProperty("tovix/aspect", "wide");
    simcard::Registers card = applied();
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/output mode 'tv'")));
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/standard mode 'PAL '")));
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/connector mode 'S-VIDEO'")));
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/audio mode 'AC3'")));
    EXPECT_TRUE(logHas(line("setupModes", "Unknown tovix/aspect mode 'wide'")));
    EXPECT_EQ(0, card.outputFlags) << "VGA, NTSC, composite";
    EXPECT_EQ(0, card.audioOutput) << "stereo, written";
    EXPECT_EQ(0, card.aspect) << "as is, written";

    // Output kind VGA: the screen size comes from the progressive modes.
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
        simcard::Registers card = applied();
        // A mode not accepted is not configured: the card keeps its own.
        int expected = c.accepted ? c.value : kUnlikely.hdMode;
        EXPECT_EQ(expected, card.hdMode) << "'" << c.text << "'";
        EXPECT_EQ(expected, card.vgaMode) << "'" << c.text << "'";
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
    setGraphVideoWindow(window);
    setWindowProperties();
    EXPECT_EQ((std::vector<std::string>{"put_AutoShow", "put_Visible"}), window->calls);
    EXPECT_EQ(OAFALSE, window->autoShow);
    EXPECT_EQ(OAFALSE, window->visible);
    setGraphVideoWindow(nullptr);
    window->Release();

    getDecoderInterfaces();
    simcard::Registers odd = {0x82, 1, 2, 3, 2};
    simcard::setRegisters(odd);
    setWindowProperties();
    simcard::Registers writes = simcard::registerWrites();
    EXPECT_EQ(0, writes.outputFlags + writes.aspect + writes.hdMode + writes.vgaMode +
                     writes.audioOutput);
    // The word found was captured: the closing puts it back.
    simcard::setRegisters({0x01, 1, 2, 3, 2});
    resetWindowProperties();
    EXPECT_EQ(0x82, simcard::registers().outputFlags);
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
}

TEST_F(OutputModes, AnHdModeTheProfileLacksIsNamedWithItsSetting) {
    jni.setProperty("tovix/output", "HDTV");
    jni.setProperty("tovix/hdmode", "99");
    readSettings();
    getDecoderInterfaces();
    setWindowProperties();
    determineDimensions();
    EXPECT_TRUE(logHas(line("determineDimensions", "tovix/hdmode 99 has no mode description in "
                                                   "section HDTV of the card's profile")));
    // The screen keeps its size; the card holds the number it was given.
    EXPECT_EQ(kDefaultWidth, gWidth);
    EXPECT_EQ(kDefaultHeight, gHeight);
    EXPECT_EQ(99, simcard::registers().hdMode);
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
    // The description alone does not tell which setting chose it.
    EXPECT_TRUE(logHas(line("determineDimensions",
                            "tovix/vgamode 2 has no mode description in section Progressive of "
                            "the card's profile")));
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
    setWindowProperties();
    EXPECT_EQ(0x11, simcard::registers().outputFlags) << "the configured word stays";

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
