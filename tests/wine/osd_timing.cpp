// The OSD frame path through the built library, timed as a host sees it:
// updateOSD from the host's array to the card's OSD layer (the quantiser,
// the block, the card), on TovixAPI.dll under Wine or libTovixAPI.so on
// Linux (run_wine_quantizer.sh runs both in one go).
//
//   osd_timing <library folder> <frame folder> <rounds>
//
// The frames are quantizer_frames' files. Three series, each <rounds> calls:
// "highlight", the menu with its highlight moving back and forth between two
// items, as while the user scrolls (the palette and most indices kept);
// "screens", a new screen every call (menus, icons, a photo, a flat guide);
// and "library", the highlight again, but through the library's own part of
// the path (processOsdImage: the quantiser, the block and the card) without
// the virtual machine's copy of the host's array (GetIntArrayElements and
// its release) and the copy into the staging buffer.
// Prints the median and the fastest call of each in milliseconds.
#include "fake_jni.h"
#include "loaded_natives.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// The library's processOsdImage export (an HRESULT, 32 bits on both sides),
// from the library loadSessionNatives loaded; null when it is not found.
using ProcessOsdImage = int32_t (*)(const void* pixels, int width, int height);

ProcessOsdImage findProcessOsdImage(const std::string& folder) {
#ifdef _WIN32
    (void)folder;
    HMODULE library = GetModuleHandleA("TovixAPI.dll");
    return library ? reinterpret_cast<ProcessOsdImage>(
                         reinterpret_cast<void*>(GetProcAddress(library, "processOsdImage")))
                   : nullptr;
#else
    const std::string path = (folder.empty() ? std::string(".") : folder) + "/libTovixAPI.so";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    return library ? reinterpret_cast<ProcessOsdImage>(dlsym(library, "processOsdImage")) : nullptr;
#endif
}

struct HostFrame {
    int width = 0;
    int height = 0;
    std::vector<jint> pixels;
};

bool readFrame(const std::string& path, HostFrame* f) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char magic[4];
    uint32_t size[2];
    bool ok = fread(magic, 1, 4, file) == 4 && memcmp(magic, "OSDF", 4) == 0 &&
              fread(size, 4, 2, file) == 2 && size[0] <= 4096 && size[1] <= 4096;
    if (ok) {
        f->width = static_cast<int>(size[0]);
        f->height = static_cast<int>(size[1]);
        f->pixels.resize(static_cast<size_t>(size[0]) * size[1]);
        ok = fread(f->pixels.data(), 4, f->pixels.size(), file) == f->pixels.size();
    }
    fclose(file);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 || atoi(argv[3]) <= 0) {
        fprintf(stderr, "usage: %s <library folder> <frame folder> <rounds>\n", argv[0]);
        return 2;
    }
    const int rounds = atoi(argv[3]);
    const char* const highlight[] = {"menu-home", "menu-second"};
    const char* const screens[] = {"menu-home", "icon-grid", "menu-info", "photo",
                                   "menu-list", "flat",      "menu-third"};
    std::vector<HostFrame> frames;
    std::vector<std::string> names(std::begin(highlight), std::end(highlight));
    names.insert(names.end(), std::begin(screens), std::end(screens));
    for (const std::string& name : names) {
        frames.emplace_back();
        if (!readFrame(std::string(argv[2]) + "/" + name + ".frame", &frames.back())) {
            fprintf(stderr, "cannot read %s/%s.frame\n", argv[2], name.c_str());
            return 2;
        }
    }

    SessionNatives n{};
    std::string error;
    if (!loadSessionNatives(argv[1], &n, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    fakejni::FakeJni jni;
    jni.setProperty("version", "osd timing 1.0");
    JNIEnv* env = jni.env();
    jclass cls = jni.hostClass();
    if (n.openOSD(env, cls) != JNI_TRUE) {
        fprintf(stderr, "openOSD failed\n");
        return 1;
    }
    std::vector<jintArray> arrays;
    for (const HostFrame& f : frames)
        arrays.push_back(jni.newIntArray(f.pixels));

    const ProcessOsdImage processOsdImage = findProcessOsdImage(argv[1]);
    if (!processOsdImage) {
        fprintf(stderr, "the library does not export processOsdImage\n");
        return 2;
    }

    int refused = 0;
    // Calls `rounds` times, frame `first + i % count` each time, through
    // updateOSD or, `direct`, processOsdImage.
    auto series = [&](const char* name, size_t first, size_t count, bool direct = false) {
        std::vector<double> ms;
        for (int i = 0; i < rounds; ++i) {
            const size_t k = first + static_cast<size_t>(i) % count;
            const HostFrame& f = frames[k];
            const auto start = std::chrono::steady_clock::now();
            if (direct)
                refused += processOsdImage(f.pixels.data(), f.width, f.height) != 0;
            else
                refused += n.updateOSD(env, cls, arrays[k], f.width, f.height, 0, 0, f.width,
                                       f.height, 0, 0) != JNI_TRUE;
            const auto end = std::chrono::steady_clock::now();
            ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
        std::sort(ms.begin(), ms.end());
        printf("osd-%-9s median=%.3f fastest=%.3f\n", name, ms[ms.size() / 2], ms[0]);
    };
    // One frame first, so that the card's OSD is open and showing.
    series("warm-up", 0, 1);
    series("highlight", 0, 2);
    series("screens", 2, frames.size() - 2);
    series("library", 0, 2, true);
    n.closeOSD(env, cls);
    if (refused) {
        fprintf(stderr, "%d OSD frames refused\n", refused);
        return 1;
    }
    return 0;
}
