// The session's natives from TovixAPI.dll, under the names a 32-bit virtual
// machine looks up: "_" + the JNI name + "@" + the argument bytes.
#include "loaded_natives.h"

#include <windows.h>

bool loadNatives(const std::string& folder, NativeSlot* slots, int count, std::string* error) {
    std::string path = folder.empty() ? "TovixAPI.dll" : folder + "\\TovixAPI.dll";
    HMODULE library = LoadLibraryA(path.c_str());
    if (!library) {
        DWORD code = GetLastError();
        char text[256] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       text, sizeof text, nullptr);
        *error = "LoadLibrary " + path + " failed with " + std::to_string(code) + ": " + text;
        while (!error->empty() && (error->back() == '\n' || error->back() == '\r'))
            error->pop_back();
        return false;
    }
    for (int i = 0; i < count; i++) {
        std::string name = std::string("_Java_org_quencommunity_tovix_TovixAPI_") + slots[i].name +
                           "@" + std::to_string(slots[i].argumentBytes);
        FARPROC address = GetProcAddress(library, name.c_str());
        if (!address) {
            *error = "TovixAPI.dll does not export " + name;
            return false;
        }
        *slots[i].address = reinterpret_cast<void*>(address);
    }
    return true;
}

long processId() {
    return static_cast<long>(GetCurrentProcessId());
}

void sleepMs(int ms) {
    Sleep(static_cast<DWORD>(ms));
}
