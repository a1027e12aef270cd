// The COM runtime: per-thread initialisation, CoCreateInstance over the class
// table (com/classes.cpp), task memory and BSTRs.
#include "runtime.h"
#include "../control.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

thread_local int tComDepth = 0;
std::atomic<long> gCoInitializeCalls{0};
std::atomic<long> gCoUninitializeCalls{0};

} // namespace

extern "C" {

HRESULT CoInitialize(LPVOID) {
    gCoInitializeCalls++;
    HRESULT armed;
    if (sim::faultFires("CoInitialize", &armed))
        return armed;
    // The first call on a thread answers S_OK, later ones S_FALSE; each
    // successful call needs its own CoUninitialize.
    return tComDepth++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    gCoUninitializeCalls++;
    if (tComDepth > 0) {
        if (--tComDepth == 0)
            sim::unloadServers();
    } else
        sim::trace("CoUninitialize without CoInitialize on this thread");
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    sim::ClassEntry entry;
    if (!sim::findClass(clsid, &entry))
        return REGDB_E_CLASSNOTREG;
    sim::Fault f = sim::fault("CoCreateInstance:" + entry.name);
    if (f.fail && (f.null || FAILED(f.hr)))
        return f.hr;
    if (tComDepth == 0)
        return CO_E_NOTINITIALIZED;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
        return REGDB_E_CLASSNOTREG;
    return entry.create(riid, ppv);
}

LPVOID CoTaskMemAlloc(size_t size) {
    return malloc(size ? size : 1);
}

void CoTaskMemFree(LPVOID p) {
    free(p);
}

BSTR SysAllocString(const OLECHAR* s) {
    if (!s)
        return nullptr;
    size_t n = 0;
    while (s[n])
        n++;
    OLECHAR* copy = static_cast<OLECHAR*>(malloc((n + 1) * sizeof(OLECHAR)));
    if (copy)
        memcpy(copy, s, (n + 1) * sizeof(OLECHAR));
    return copy;
}

void SysFreeString(BSTR s) {
    free(s);
}

} // extern "C"

namespace simctl {

int comInitDepth() {
    return tComDepth;
}
long callsIntoUnloadedServers() {
    return sim::callsIntoUnloadedServers();
}
long coInitializeCalls() {
    return gCoInitializeCalls;
}
long coUninitializeCalls() {
    return gCoUninitializeCalls;
}

void registerClass(REFCLSID clsid, const char* name, CreateFunction create) {
    sim::replaceClass(clsid, name, create);
}

void restoreBuiltinClasses() {
    sim::restoreBuiltinClasses();
}

} // namespace simctl
