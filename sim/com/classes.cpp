// The COM runtime's tables, shared by libtovixsim and tovixsim.dll: the
// creatable classes (behind CoCreateInstance here, DllGetClassObject there),
// the filters registered for graph building, the names GUIDs are reported
// by, and QueryInterface over a table.
#include "runtime.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof a) < 0; }
};
typedef std::map<GUID, sim::ClassEntry, GuidLess> ClassTable;

std::mutex& tableMutex() {
    static std::mutex m;
    return m;
}
ClassTable& classes() {
    static ClassTable table;
    return table;
}
// The classes as the world registered them at load, for restoreBuiltinClasses.
ClassTable& builtins() {
    static ClassTable table;
    return table;
}
bool gLoaded = false; // set once the world's own registrations are done
std::vector<sim::FilterRegistration>& filters() {
    static std::vector<sim::FilterRegistration> registered;
    return registered;
}
std::map<GUID, std::string, GuidLess>& guidNames() {
    static std::map<GUID, std::string, GuidLess> names;
    return names;
}

} // namespace

namespace sim {

void registerClass(REFCLSID clsid, const char* name, CreateFunction create) {
    std::lock_guard<std::mutex> lock(tableMutex());
    classes()[clsid] = ClassEntry{clsid, name, create};
    if (!gLoaded)
        builtins()[clsid] = ClassEntry{clsid, name, create};
    guidNames()[clsid] = name;
}

void replaceClass(REFCLSID clsid, const char* name, CreateFunction create) {
    std::lock_guard<std::mutex> lock(tableMutex());
    gLoaded = true;
    classes()[clsid] = ClassEntry{clsid, name, create};
}

void unregisterClass(REFCLSID clsid) {
    std::lock_guard<std::mutex> lock(tableMutex());
    classes().erase(clsid);
}

void restoreBuiltinClasses() {
    std::lock_guard<std::mutex> lock(tableMutex());
    gLoaded = true;
    classes() = builtins();
}

bool findClass(REFCLSID clsid, ClassEntry* found) {
    std::lock_guard<std::mutex> lock(tableMutex());
    gLoaded = true;
    auto it = classes().find(clsid);
    if (it == classes().end())
        return false;
    *found = it->second;
    return true;
}

std::vector<ClassEntry> registeredClasses() {
    std::lock_guard<std::mutex> lock(tableMutex());
    std::vector<ClassEntry> out;
    for (const auto& entry : classes())
        out.push_back(entry.second);
    return out;
}

void registerFilter(const FilterRegistration& filter) {
    std::lock_guard<std::mutex> lock(tableMutex());
    filters().push_back(filter);
}

std::vector<FilterRegistration> registeredFilters() {
    std::vector<FilterRegistration> out;
    {
        std::lock_guard<std::mutex> lock(tableMutex());
        out = filters();
    }
    std::stable_sort(
        out.begin(), out.end(),
        [](const FilterRegistration& a, const FilterRegistration& b) { return a.merit > b.merit; });
    return out;
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
    object->checkServerLoaded("QueryInterface");
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    HRESULT armed;
    if (faultFires(std::string("QueryInterface:") + object->className() + ":" + guidName(riid),
                   &armed))
        return FAILED(armed) ? armed
                             : E_NOINTERFACE; // QueryInterface never hands back null with success
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
