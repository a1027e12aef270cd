// The COM runtime: per-thread initialisation, the class registry behind
// CoCreateInstance, task memory and BSTRs, and QueryInterface over a table.
#include "control.h"
#include "runtime.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct ClassEntry {
    std::string name;
    sim::CreateFunction create;
};

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof a) < 0; }
};

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::map<GUID, ClassEntry, GuidLess>& registry() {
    static std::map<GUID, ClassEntry, GuidLess> classes;
    return classes;
}
// The classes as the world registered them at load, for restoreBuiltinClasses.
std::map<GUID, ClassEntry, GuidLess>& builtins() {
    static std::map<GUID, ClassEntry, GuidLess> classes;
    return classes;
}
bool gLoaded = false; // set once the world's own registrations are done
std::map<GUID, std::string, GuidLess>& guidNames() {
    static std::map<GUID, std::string, GuidLess> names;
    return names;
}

thread_local int tComDepth = 0;
std::atomic<long> gCoInitializeCalls{0};
std::atomic<long> gCoUninitializeCalls{0};

} // namespace

namespace sim {

void registerClass(REFCLSID clsid, const char* name, CreateFunction create) {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry()[clsid] = ClassEntry{name, create};
    if (!gLoaded)
        builtins()[clsid] = ClassEntry{name, create};
    guidNames()[clsid] = name;
}

void unregisterClass(REFCLSID clsid) {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().erase(clsid);
}

void nameGuid(REFGUID guid, const char* name) {
    std::lock_guard<std::mutex> lock(registryMutex());
    guidNames()[guid] = name;
}

std::string guidName(REFGUID guid) {
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        auto it = guidNames().find(guid);
        if (it != guidNames().end())
            return it->second;
    }
    char text[40];
    snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
             guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

HRESULT queryInterface(ComObject* object, REFIID riid, void** ppv,
                       std::initializer_list<InterfaceEntry> table) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    Fault f = fault(std::string("QueryInterface:") + object->className() + ":" + guidName(riid));
    if (f.fail)
        return FAILED(f.hr) ? f.hr : E_NOINTERFACE;
    for (const InterfaceEntry& entry : table) {
        if (IsEqualGUID(*entry.iid, riid)) {
            *ppv = entry.pointer;
            object->addRef();
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

} // namespace sim

extern "C" {

HRESULT CoInitialize(LPVOID) {
    gCoInitializeCalls++;
    sim::Fault f = sim::fault("CoInitialize");
    if (f.fail && FAILED(f.hr))
        return f.hr;
    // The first call on a thread answers S_OK, later ones S_FALSE; each
    // successful call needs its own CoUninitialize.
    return tComDepth++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    gCoUninitializeCalls++;
    if (tComDepth > 0)
        tComDepth--;
    else
        sim::trace("CoUninitialize without CoInitialize on this thread");
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    ClassEntry entry;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        gLoaded = true;
        auto it = registry().find(clsid);
        if (it == registry().end())
            return REGDB_E_CLASSNOTREG;
        entry = it->second;
    }
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

LPVOID CoTaskMemAlloc(size_t size) { return malloc(size ? size : 1); }

void CoTaskMemFree(LPVOID p) { free(p); }

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

void SysFreeString(BSTR s) { free(s); }

} // extern "C"

namespace simctl {

int comInitDepth() { return tComDepth; }
long coInitializeCalls() { return gCoInitializeCalls; }
long coUninitializeCalls() { return gCoUninitializeCalls; }

void registerClass(REFCLSID clsid, const char* name, CreateFunction create) {
    std::lock_guard<std::mutex> lock(registryMutex());
    gLoaded = true;
    registry()[clsid] = ClassEntry{name, create};
}

void restoreBuiltinClasses() {
    std::lock_guard<std::mutex> lock(registryMutex());
    gLoaded = true;
    registry() = builtins();
}

} // namespace simctl
