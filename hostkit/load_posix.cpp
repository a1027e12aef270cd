// The session's natives from libTovixAPI.so, under their JNI names.
#include "loaded_natives.h"

#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

bool loadNatives(const std::string& folder, NativeSlot* slots, int count, std::string* error) {
    std::string path = (folder.empty() ? std::string(".") : folder) + "/libTovixAPI.so";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        *error = dlerror();
        return false;
    }
    for (int i = 0; i < count; i++) {
        std::string name = std::string("Java_org_quencommunity_tovix_TovixAPI_") + slots[i].name;
        void* address = dlsym(library, name.c_str());
        if (!address) {
            *error = path + " does not export " + name;
            return false;
        }
        *slots[i].address = address;
    }
    return true;
}

long processId() {
    return static_cast<long>(getpid());
}

void sleepMs(int ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}
