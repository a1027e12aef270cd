// The simulated runtime's services to the card's components, in the DLL that
// serves them to the system's COM: QueryInterface over a table, the class
// table that DllGetClassObject answers from, GUID names for the trace,
// fault points (never armed here), the trace itself and text conversion.
#include "server.h"

#include "../runtime.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof a) < 0; }
};

std::mutex& tableMutex() {
    static std::mutex m;
    return m;
}
std::map<GUID, simwin::ServedClass, GuidLess>& classes() {
    static std::map<GUID, simwin::ServedClass, GuidLess> table;
    return table;
}
std::map<GUID, std::string, GuidLess>& guidNames() {
    static std::map<GUID, std::string, GuidLess> names;
    return names;
}

} // namespace

namespace sim {

void registerClass(REFCLSID clsid, const char* name, CreateFunction create) {
    std::lock_guard<std::mutex> lock(tableMutex());
    classes()[clsid] = simwin::ServedClass{clsid, name, create};
    guidNames()[clsid] = name;
}

void unregisterClass(REFCLSID clsid) {
    std::lock_guard<std::mutex> lock(tableMutex());
    classes().erase(clsid);
}

void nameGuid(REFGUID guid, const char* name) {
    std::lock_guard<std::mutex> lock(tableMutex());
    guidNames()[guid] = name;
}

std::string guidName(REFGUID guid) {
    {
        std::lock_guard<std::mutex> lock(tableMutex());
        auto it = guidNames().find(guid);
        if (it != guidNames().end())
            return it->second;
    }
    char text[40];
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
             guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
             guid.Data4[6], guid.Data4[7]);
    return text;
}

HRESULT queryInterface(ComObject* object, REFIID riid, void** ppv,
                       std::initializer_list<InterfaceEntry> table) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (const InterfaceEntry& entry : table) {
        if (IsEqualGUID(*entry.iid, riid)) {
            *ppv = entry.pointer;
            object->addRef();
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

// Faults are injected by the Linux tests only; under a real COM runtime
// every point answers "carry on".
Fault fault(const std::string&) {
    return Fault();
}

void trace(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (getenv("TOVIX_SIM_TRACE"))
        fprintf(stderr, "[sim] %s\n", line);
    OutputDebugStringA(line);
}

void setLastError(DWORD error) {
    SetLastError(error);
}

std::string narrow(LPCWSTR wide) {
    if (!wide)
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::wstring widen(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (n <= 1)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

} // namespace sim

namespace simwin {

std::vector<ServedClass> servedClasses() {
    std::lock_guard<std::mutex> lock(tableMutex());
    std::vector<ServedClass> out;
    for (const auto& entry : classes())
        out.push_back(entry.second);
    return out;
}

bool findClass(REFCLSID clsid, ServedClass* found) {
    std::lock_guard<std::mutex> lock(tableMutex());
    auto it = classes().find(clsid);
    if (it == classes().end())
        return false;
    *found = it->second;
    return true;
}

} // namespace simwin
