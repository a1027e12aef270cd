// The simulated runtime itself: COM initialisation, the class registry, the
// reference ledger, fault points, code pages, files and error texts.
#include "sim/com/runtime.h"
#include "sim/control.h"

#include "src/platform/win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

const CLSID CLSID_TestWidget = {0x1234ABCD, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID IID_ITestWidget = {0x1234ABCE, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

struct ITestWidget : IUnknown {
    virtual int STDMETHODCALLTYPE Value() = 0;
};

class Widget : public ITestWidget, public sim::ComObject {
  public:
    Widget() : ComObject("Widget") {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return sim::queryInterface(this, riid, ppv,
                                   {{&IID_IUnknown, static_cast<ITestWidget*>(this)},
                                    {&IID_ITestWidget, static_cast<ITestWidget*>(this)}});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }
    int STDMETHODCALLTYPE Value() override { return 42; }

    static HRESULT create(REFIID riid, void** ppv) {
        Widget* widget = new Widget;
        HRESULT hr = widget->QueryInterface(riid, ppv);
        widget->Release();
        return hr;
    }
};

sim::ClassRegistrar gWidgetClass(CLSID_TestWidget, "Widget", &Widget::create);

class Sim : public testing::Test {
  protected:
    void SetUp() override { simctl::reset(); }
    void TearDown() override {
        simctl::reset();
        simctl::restoreBuiltinClasses();
        EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
        EXPECT_EQ(0, simctl::comInitDepth());
    }
};

TEST_F(Sim, CoInitializeCountsPerThread) {
    EXPECT_EQ(0, simctl::comInitDepth());
    EXPECT_EQ(S_OK, CoInitialize(nullptr));
    EXPECT_EQ(S_FALSE, CoInitialize(nullptr));
    EXPECT_EQ(2, simctl::comInitDepth());
    std::thread other([] { EXPECT_EQ(0, simctl::comInitDepth()); });
    other.join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(0, simctl::comInitDepth());
}

TEST_F(Sim, CoCreateInstanceNeedsComOnTheThread) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_ITestWidget, &p));
    EXPECT_EQ(nullptr, p);
}

TEST_F(Sim, CoCreateInstanceFollowsTheRegistry) {
    CoInitialize(nullptr);
    ITestWidget* widget = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ITestWidget, reinterpret_cast<void**>(&widget)));
    EXPECT_EQ(42, widget->Value());
    EXPECT_EQ(1, simctl::liveCount("Widget"));
    EXPECT_EQ(1u, simctl::liveObjects().back().refs);

    IUnknown* unknown = nullptr;
    EXPECT_EQ(S_OK, widget->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(2u, simctl::liveObjects().back().refs);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, widget->QueryInterface(IID_IPersist, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_POINTER, widget->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(1u, unknown->Release());
    EXPECT_EQ(0u, widget->Release());
    EXPECT_EQ(0, simctl::liveCount("Widget"));

    const CLSID unknownClass = {0xDEAD, 0, 0, {0}};
    void* p = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(unknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p));
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CoCreateInstance(CLSID_TestWidget, reinterpret_cast<IUnknown*>(widget),
                               CLSCTX_INPROC_SERVER, IID_IUnknown, &p));
    CoUninitialize();
}

TEST_F(Sim, TheLastCoUninitializeUnloadsTheServersItsThreadLoaded) {
    long flagged = simctl::callsIntoUnloadedServers();
    CoInitialize(nullptr);
    CoInitialize(nullptr);
    ITestWidget* widget = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ITestWidget, reinterpret_cast<void**>(&widget)));
    CoUninitialize();
    widget->AddRef();
    widget->Release();
    EXPECT_EQ(flagged, simctl::callsIntoUnloadedServers()) << "COM is still initialised";

    // Another thread's last CoUninitialize leaves this thread's objects be.
    std::thread other([] {
        CoInitialize(nullptr);
        CoUninitialize();
    });
    other.join();
    widget->AddRef();
    widget->Release();
    EXPECT_EQ(flagged, simctl::callsIntoUnloadedServers());

    CoUninitialize();
    IUnknown* unknown = nullptr;
    widget->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
    unknown->Release();
    widget->Release();
    EXPECT_EQ(flagged + 4, simctl::callsIntoUnloadedServers())
        << "QueryInterface, the AddRef it makes, and two Releases";
    bool traced = false;
    for (const std::string& t : simctl::traceLines())
        traced = traced || t == "Release called on Widget after CoUninitialize unloaded its server";
    EXPECT_TRUE(traced);
}

TEST_F(Sim, FaultPointsFailTheChosenCall) {
    CoInitialize(nullptr);
    simctl::armFault("CoCreateInstance:Widget", E_OUTOFMEMORY, 2);
    void* p = nullptr;
    EXPECT_EQ(S_OK,
              CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p));
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(E_OUTOFMEMORY,
              CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ITestWidget, &p));

    simctl::armFault("QueryInterface:Widget:IUnknown", E_NOINTERFACE);
    ITestWidget* widget = static_cast<ITestWidget*>(p);
    void* q = nullptr;
    EXPECT_EQ(E_NOINTERFACE, widget->QueryInterface(IID_IUnknown, &q));
    EXPECT_EQ(E_NOINTERFACE, widget->QueryInterface(IID_IUnknown, &q));
    simctl::clearFaults();
    EXPECT_EQ(S_OK, widget->QueryInterface(IID_IUnknown, &q));
    static_cast<IUnknown*>(q)->Release();
    widget->Release();

    simctl::armNull("CoCreateInstance:Widget");
    EXPECT_EQ(S_OK,
              CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p));
    EXPECT_EQ(nullptr, p);

    std::vector<std::string> reached = simctl::pointsReached();
    EXPECT_EQ((std::vector<std::string>{"CoInitialize", "CoCreateInstance:Widget",
                                        "QueryInterface:Widget:IUnknown"}),
              std::vector<std::string>(reached.begin(), reached.begin() + 3));
    EXPECT_EQ(4, simctl::callCount("CoCreateInstance:Widget"));
    CoUninitialize();
}

TEST_F(Sim, CodePagesConvertAsWin32Does) {
    // Windows-1252: the euro sign sits at 0x80, and an unmappable character
    // becomes '?'.
    WCHAR wide[8];
    EXPECT_EQ(3, MultiByteToWideChar(CP_ACP, 0,
                                     "\x80"
                                     "a",
                                     -1, wide, 8));
    EXPECT_EQ(0x20AC, wide[0]);
    EXPECT_EQ(L'a', wide[1]);
    EXPECT_EQ(0, wide[2]);
    char text[8];
    const WCHAR cjk[] = {0x65E5, L'x', 0};
    BOOL usedDefault = FALSE;
    EXPECT_EQ(3, WideCharToMultiByte(CP_ACP, 0, cjk, -1, text, 8, nullptr, &usedDefault));
    EXPECT_STREQ("?x", text);
    EXPECT_TRUE(usedDefault);

    // UTF-8 to UTF-16, with a character beyond the BMP as a surrogate pair.
    const char* utf8 = "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x8E\xAC";
    EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0) - 1);
    WCHAR units[8];
    ASSERT_EQ(5, MultiByteToWideChar(CP_UTF8, 0, utf8, -1, units, 8));
    EXPECT_EQ(0xE9, units[0]);
    EXPECT_EQ(0x65E5, units[1]);
    EXPECT_EQ(0xD83C, units[2]);
    EXPECT_EQ(0xDFAC, units[3]);
    char back[16];
    ASSERT_EQ(10, WideCharToMultiByte(CP_UTF8, 0, units, -1, back, 16, nullptr, nullptr));
    EXPECT_STREQ(utf8, back);

    // A buffer too small fails rather than cuts.
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, utf8, -1, units, 2));
    EXPECT_EQ(122u, GetLastError());
}

TEST_F(Sim, CreateFileHonoursDispositionAndSharing) {
    HANDLE first = CreateFileA("shared.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    HANDLE second = CreateFileA("shared.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, second);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(first, "trace\n", 6, &written, nullptr));
    EXPECT_EQ(6u, written);
    EXPECT_TRUE(CloseHandle(first));
    std::ifstream in("shared.txt");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ("trace", line);

    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("missing/none.txt", GENERIC_WRITE, 0, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    simctl::armFault("CreateFileA", E_FAIL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("other.txt", GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST_F(Sim, LocalTimeCanBeFixedAndGivenBackToTheClock) {
    SYSTEMTIME fixed = {2026, 12, 1, 7, 9, 5, 17, 250};
    simctl::setLocalTime(&fixed);
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(0, memcmp(&fixed, &now, sizeof now)) << "every field as fixed";
    usleep(20000);
    GetLocalTime(&now);
    EXPECT_EQ(17, now.wSecond) << "time stands still while fixed";
    EXPECT_EQ(250, now.wMilliseconds);

    // Unfixed, it is the machine's local time again.
    simctl::setLocalTime(nullptr);
    time_t before = time(nullptr);
    GetLocalTime(&now);
    time_t after = time(nullptr);
    struct tm local;
    localtime_r(&before, &local);
    EXPECT_EQ(local.tm_year + 1900, now.wYear);
    EXPECT_EQ(local.tm_mon + 1, now.wMonth);
    EXPECT_EQ(local.tm_wday, now.wDayOfWeek);
    long seconds = now.wHour * 3600L + now.wMinute * 60L + now.wSecond;
    long low = local.tm_hour * 3600L + local.tm_min * 60L + local.tm_sec;
    EXPECT_GE(seconds, low);
    EXPECT_LE(seconds, low + static_cast<long>(after - before) + 1);
}

TEST_F(Sim, ErrorTextsExistForTheCodesTheLibraryMeets) {
    char text[160];
    for (HRESULT hr :
         {E_FAIL, E_NOINTERFACE, E_POINTER, REGDB_E_CLASSNOTREG, VFW_E_NOT_CONNECTED,
          VFW_E_CANNOT_RENDER, VFW_S_PARTIAL_RENDER, VFW_E_WRONG_STATE, VFW_E_ALREADY_CONNECTED,
          VFW_E_NOT_STOPPED, VFW_E_UNSUPPORTED_STREAM, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)}) {
        EXPECT_GT(AMGetErrorTextA(hr, text, sizeof text), 0u) << std::hex << hr;
        EXPECT_EQ(strlen(text), AMGetErrorTextA(hr, text, sizeof text));
    }
    EXPECT_EQ(0u, AMGetErrorTextA(static_cast<HRESULT>(0x80041234), text, sizeof text));
    char small[8];
    EXPECT_EQ(7u, AMGetErrorTextA(E_FAIL, small, sizeof small));
    EXPECT_STREQ("Unspeci", small) << "cut to the buffer and terminated";
    EXPECT_EQ(0u, AMGetErrorTextA(E_FAIL, small, 0));

    // Windows's own texts for the codes a user most often meets in the
    // plug-in log, and a text of its own for each code.
    const std::pair<HRESULT, const char*> windows[] = {
        {E_FAIL, "Unspecified error."},
        {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
        {VFW_E_NOT_CONNECTED,
         "The operation cannot be performed because the pins are not connected."},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified."}};
    for (const auto& known : windows) {
        AMGetErrorTextA(known.first, text, sizeof text);
        EXPECT_STREQ(known.second, text) << std::hex << known.first;
    }
    std::set<std::string> distinct;
    for (HRESULT hr : {E_FAIL, E_NOINTERFACE, E_POINTER, E_OUTOFMEMORY, E_UNEXPECTED,
                       REGDB_E_CLASSNOTREG, VFW_E_NOT_CONNECTED, VFW_E_CANNOT_RENDER,
                       VFW_S_PARTIAL_RENDER, VFW_E_WRONG_STATE, VFW_E_ALREADY_CONNECTED}) {
        AMGetErrorTextA(hr, text, sizeof text);
        EXPECT_TRUE(distinct.insert(text).second) << std::hex << hr << " shares its text";
    }
}

} // namespace
