// tovixsim.dll as COM sees it: every class of the card is created through
// the registry, the class factory refuses aggregation, an unknown class is
// refused, and DllCanUnloadNow answers S_OK only once no object, factory or
// server lock is left.
//
// Usage (under Wine, tovixsim.dll registered): tovix_server_check <tovixsim.dll>
#include "../../src/card/card_interfaces.h"
#include "../../src/platform/directshow.h"
#include "checks.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

using checks::check;

std::string hex(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

typedef HRESULT(WINAPI* GetClassObjectFunction)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(WINAPI* CanUnloadFunction)();

// DllCanUnloadNow, given the time for what another thread held to go.
HRESULT settledCanUnload(CanUnloadFunction canUnload) {
    HRESULT hr = canUnload();
    for (int i = 0; i < 50 && hr != S_OK; i++) {
        Sleep(20);
        hr = canUnload();
    }
    return hr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <tovixsim.dll>\n", argv[0]);
        return 2;
    }
    CoInitialize(nullptr);

    const struct {
        const CLSID* clsid;
        const IID* iid;
        const char* name;
    } classes[] = {{&CLSID_TovixDecoder, &IID_IBaseFilter, "decoder filter"},
                   {&CLSID_OsdEnumerator, &IID_IOsdEnumerator, "OSD enumerator"},
                   {&CLSID_SharedSource, &IID_IBaseFilter, "shared source"},
                   {&CLSID_MpegDemux, &IID_IBaseFilter, "demultiplexer"}};
    for (const auto& c : classes) {
        IUnknown* object = nullptr;
        HRESULT hr = CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, *c.iid,
                                      reinterpret_cast<void**>(&object));
        check(hr == S_OK && object,
              std::string("CoCreateInstance of the ") + c.name + " answers " + hex(hr));
        if (object)
            check(object->Release() == 0, std::string("the ") + c.name + " has one reference");
    }

    HMODULE server = LoadLibraryA(argv[1]);
    check(server != nullptr, std::string("LoadLibrary ") + argv[1]);
    if (!server)
        return 1;
    auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(server, "DllGetClassObject")));
    auto canUnload = reinterpret_cast<CanUnloadFunction>(
        reinterpret_cast<void*>(GetProcAddress(server, "DllCanUnloadNow")));
    check(getClassObject && canUnload, "tovixsim.dll exports DllGetClassObject, DllCanUnloadNow");
    if (!getClassObject || !canUnload)
        return 1;

    IClassFactory* factory = nullptr;
    HRESULT hr =
        getClassObject(CLSID_FilterGraph, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    check(hr == CLASS_E_CLASSNOTAVAILABLE && !factory,
          "a class the DLL does not serve is refused, " + hex(hr));

    hr = getClassObject(CLSID_TovixDecoder, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    check(hr == S_OK && factory, "the decoder's class factory, " + hex(hr));
    if (!factory)
        return 1;
    check(settledCanUnload(canUnload) == S_FALSE, "a factory held keeps the DLL loaded");

    IUnknown* outer = factory; // any object will do: aggregation is refused outright
    IBaseFilter* filter = nullptr;
    hr = factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&filter));
    check(hr == CLASS_E_NOAGGREGATION && !filter, "aggregation is refused, " + hex(hr));

    hr = factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    check(hr == S_OK && filter, "the factory creates a decoder filter, " + hex(hr));
    check(factory->LockServer(TRUE) == S_OK, "LockServer(TRUE)");
    factory->Release();
    check(settledCanUnload(canUnload) == S_FALSE, "a live filter and a lock keep the DLL loaded");
    if (filter)
        filter->Release();
    check(settledCanUnload(canUnload) == S_FALSE, "the server lock keeps the DLL loaded");

    hr = getClassObject(CLSID_TovixDecoder, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr) && factory) {
        factory->LockServer(FALSE);
        factory->Release();
    }
    check(settledCanUnload(canUnload) == S_OK,
          "with no object, factory or lock left the DLL may be unloaded");

    FreeLibrary(server);
    CoUninitialize();
    return checks::verdict();
}
