#include "components.h"

#include "../src/card/card_interfaces.h"
#include "../src/platform/directshow.h"

#include <windows.h>

#include <cstdio>

namespace diag {

namespace {

struct Interface {
    const IID* iid;
    const char* name;
};

struct Component {
    const CLSID* clsid;
    const char* name;
    Interface interfaces[4];
};

// What the library asks of each component: created as the first interface,
// queried for the others.
const Component kComponents[] = {
    {&CLSID_TovixDecoder,
     "decoder filter",
     {{&IID_IBaseFilter, "IBaseFilter"},
      {&IID_ITvVgaOutput3, "ITvVgaOutput3"},
      {&IID_IAudioOutput, "IAudioOutput"},
      {&IID_IREALmagicProfile, "IREALmagicProfile"}}},
    {&CLSID_OsdEnumerator, "OSD enumerator", {{&IID_IOsdEnumerator, "IOsdEnumerator"}}},
    {&CLSID_SharedSource,
     "shared source filter",
     {{&IID_IBaseFilter, "IBaseFilter"},
      {&IID_IFileSourceFilter, "IFileSourceFilter"},
      {&IID_ISharedAsync, "shared-async"}}},
    {&CLSID_MpegDemux, "demultiplexer", {{&IID_IBaseFilter, "IBaseFilter"}}},
};

std::string guidText(const GUID& g) {
    char text[40];
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
             g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// A value of a registry key under HKEY_CLASSES_ROOT; false when the key or
// the value is missing.
bool readClassesValue(const std::string& key, const char* name, std::string* value) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return false;
    char data[MAX_PATH * 2] = "";
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    LONG r = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    data[size < sizeof data ? size : sizeof data - 1] = '\0';
    char expanded[MAX_PATH * 2];
    DWORD n = ExpandEnvironmentStringsA(data, expanded, sizeof expanded);
    *value = n > 0 && n <= sizeof expanded ? expanded : data;
    return true;
}

// Where the component's in-process server is registered, or why it is not.
bool checkRegistration(const Component& c, std::string* server, std::string* reason) {
    std::string key = "CLSID\\" + guidText(*c.clsid) + "\\InprocServer32";
    if (!readClassesValue(key, nullptr, server)) {
        *reason = "not registered: HKEY_CLASSES_ROOT\\" + key + " is missing";
        return false;
    }
    if (GetFileAttributesA(server->c_str()) == INVALID_FILE_ATTRIBUTES &&
        !SearchPathA(nullptr, server->c_str(), nullptr, 0, nullptr, nullptr)) {
        *reason = "registered to " + *server + ", which does not exist";
        return false;
    }
    return true;
}

// Creates the component and asks it for each interface.
bool checkInterfaces(const Component& c, std::string* reason) {
    IUnknown* object = nullptr;
    HRESULT hr = CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, *c.interfaces[0].iid,
                                  reinterpret_cast<void**>(&object));
    if (FAILED(hr) || !object) {
        *reason = std::string("cannot be created as ") + c.interfaces[0].name + ": " +
                  resultText(FAILED(hr) ? hr : E_POINTER);
        return false;
    }
    std::string missing;
    for (const Interface& i : c.interfaces) {
        if (!i.iid)
            break;
        IUnknown* answer = nullptr;
        hr = object->QueryInterface(*i.iid, reinterpret_cast<void**>(&answer));
        if (FAILED(hr) || !answer)
            missing += std::string(missing.empty() ? "" : ", ") + i.name + " " +
                       resultText(FAILED(hr) ? hr : E_POINTER);
        if (answer)
            answer->Release();
    }
    object->Release();
    if (!missing.empty()) {
        *reason = "does not answer " + missing;
        return false;
    }
    return true;
}

std::string interfaceNames(const Component& c) {
    std::string names;
    for (const Interface& i : c.interfaces)
        if (i.iid)
            names += std::string(names.empty() ? "" : ", ") + i.name;
    return names;
}

} // namespace

bool checkComponents(Report& report) {
    bool all = true;
    for (const Component& c : kComponents) {
        std::string server;
        std::string reason;
        bool ok = checkRegistration(c, &server, &reason) && checkInterfaces(c, &reason);
        if (ok)
            report.pass(c.name, server + " answers " + interfaceNames(c));
        else
            report.fail(c.name, guidText(*c.clsid) + " " + reason);
        all = all && ok;
    }
    return all;
}

} // namespace diag
