// tovixsim.dll as an in-process COM server: a class factory per served
// class, the server's lock count, and its registration under
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 (ThreadingModel Both). Its
// filters for graph building (the demultiplexer) are registered with the
// system's filter mapper too, so that RenderFile finds them.
//
// The DLL has no control API of its own: the clock model of the card's
// decoder comes from the environment (TOVIX_SIM_DECODER_CLOCK, see
// sim/control_card.h), read once, when COM first asks for a class object.
#include "server.h"

#include "../control_card.h"

#include <shlwapi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

std::atomic<long> gServerLocks{0};
std::atomic<long> gFactories{0};

class ClassFactory : public IClassFactory {
  public:
    explicit ClassFactory(const sim::ClassEntry& served) : served_(served) { gFactories++; }
    virtual ~ClassFactory() { gFactories--; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return served_.create(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            gServerLocks++;
        else
            gServerLocks--;
        return S_OK;
    }

  private:
    sim::ClassEntry served_;
    std::atomic<ULONG> refs_{1};
};

std::wstring guidText(REFGUID guid) {
    wchar_t text[40];
    swprintf(text, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
             guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
             guid.Data4[6], guid.Data4[7]);
    return text;
}

HRESULT setValue(HKEY key, const wchar_t* name, const std::wstring& value) {
    LONG r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return r == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(r);
}

HRESULT createKey(HKEY parent, const std::wstring& path, HKEY* key) {
    LONG r = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key, nullptr);
    return r == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(r);
}

std::wstring modulePath() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&modulePath), &module);
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, n);
}

HRESULT registerClass(const sim::ClassEntry& served, const std::wstring& path) {
    std::wstring base = L"CLSID\\" + guidText(served.clsid);
    HKEY key = nullptr;
    HRESULT hr = createKey(HKEY_CLASSES_ROOT, base, &key);
    if (FAILED(hr))
        return hr;
    hr = setValue(key, nullptr, sim::widen(served.name));
    RegCloseKey(key);
    if (FAILED(hr))
        return hr;
    hr = createKey(HKEY_CLASSES_ROOT, base + L"\\InprocServer32", &key);
    if (FAILED(hr))
        return hr;
    hr = setValue(key, nullptr, path);
    if (SUCCEEDED(hr))
        hr = setValue(key, L"ThreadingModel", L"Both");
    RegCloseKey(key);
    return hr;
}

// Calls `each` with the system's filter mapper for every filter the DLL
// registers for graph building.
template <class Each> HRESULT withFilterMapper(Each each) {
    HRESULT init = CoInitialize(nullptr);
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(hr)) {
        for (const sim::FilterRegistration& filter : sim::registeredFilters()) {
            hr = each(mapper, filter);
            if (FAILED(hr))
                break;
        }
        mapper->Release();
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return hr;
}

// One input pin taking the registered types, one output of any type.
HRESULT registerFilter(IFilterMapper2* mapper, const sim::FilterRegistration& filter) {
    std::vector<REGPINTYPES> types;
    for (const auto& type : filter.inputTypes)
        types.push_back(REGPINTYPES{&type.first, &type.second});
    REGFILTERPINS2 pins[2] = {};
    pins[0].cInstances = 1;
    pins[0].nMediaTypes = static_cast<UINT>(types.size());
    pins[0].lpMediaType = types.data();
    pins[1].dwFlags = REG_PINFLAG_B_OUTPUT | REG_PINFLAG_B_ZERO | REG_PINFLAG_B_MANY;
    REGFILTER2 registration = {};
    registration.dwVersion = 2;
    registration.dwMerit = filter.merit;
    registration.cPins2 = 2;
    registration.rgPins2 = pins;
    return mapper->RegisterFilter(filter.clsid, sim::widen(filter.name).c_str(), nullptr,
                                  &CLSID_LegacyAmFilterCategory, nullptr, &registration);
}

// The decoder's clock model the environment asks for; the card's own (one
// that follows presentation) unless it says "none".
bool takeDecoderClockFromEnvironment() {
    const char* model = getenv("TOVIX_SIM_DECODER_CLOCK");
    simcard::setDecoderClock(model && !strcmp(model, "none")
                                 ? simcard::DecoderClock::None
                                 : simcard::DecoderClock::FollowsPresentation);
    return true;
}

} // namespace

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
    static const bool modelled = takeDecoderClockFromEnvironment();
    (void)modelled;
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    sim::ClassEntry served;
    if (!sim::findClass(clsid, &served))
        return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new ClassFactory(served);
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT WINAPI DllCanUnloadNow() {
    bool idle = gServerLocks == 0 && gFactories == 0 && simwin::liveObjectCount() == 0;
    return idle ? S_OK : S_FALSE;
}

HRESULT WINAPI DllRegisterServer() {
    std::wstring path = modulePath();
    if (path.empty())
        return E_UNEXPECTED;
    for (const sim::ClassEntry& served : sim::registeredClasses()) {
        HRESULT hr = registerClass(served, path);
        if (FAILED(hr))
            return hr;
    }
    return withFilterMapper(registerFilter);
}

HRESULT WINAPI DllUnregisterServer() {
    HRESULT hr =
        withFilterMapper([](IFilterMapper2* mapper, const sim::FilterRegistration& filter) {
            HRESULT hr =
                mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, filter.clsid);
            return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
        });
    if (FAILED(hr))
        return hr;
    for (const sim::ClassEntry& served : sim::registeredClasses()) {
        std::wstring base = L"CLSID\\" + guidText(served.clsid);
        LONG r = static_cast<LONG>(SHDeleteKeyW(HKEY_CLASSES_ROOT, base.c_str()));
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
            return HRESULT_FROM_WIN32(r);
    }
    return S_OK;
}

} // extern "C"
