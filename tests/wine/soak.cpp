// The soak of the Windows build under Wine: TovixAPI.dll driven through
// Wine's COM runtime and graph manager, the card's components from the
// registered tovixsim.dll. OSD frames of changing content, then load / play
// / seek / free cycles of a stream through the push graph; the process's
// working set is sampled after a warm-up and at the end, and once the OSD is
// closed tovixsim.dll must have no object, factory or lock left
// (DllCanUnloadNow answers S_OK).
//
// Usage: tovix_soak <frames> <cycles>
#include "checks.h"
#include "fake_jni.h"
#include "loaded_natives.h"
#include "stream_writer.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using checks::check;

const char* kStreamFile = "soak.mpg";
// The working set may grow this much past its warm-up peak: Wine's own
// caches settle slowly.
const long kSlackKiB = 4096;

long workingSetKiB() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return static_cast<long>(counters.WorkingSetSize / 1024);
}

// A frame whose bar moves with `step`, over a translucent panel.
std::vector<jint> osdFrame(int width, int height, int step) {
    std::vector<jint> pixels(static_cast<size_t>(width) * height, 0);
    int barLeft = 40 + (step * 37) % (width - 280);
    for (int y = height / 2; y < height / 2 + 120; y++)
        for (int x = 40; x < width - 40; x++)
            pixels[static_cast<size_t>(y) * width + x] = static_cast<jint>(0xC0203060u);
    for (int y = height / 2 + 40; y < height / 2 + 80; y++)
        for (int x = barLeft; x < barLeft + 200; x++)
            pixels[static_cast<size_t>(y) * width + x] =
                static_cast<jint>(0xFF000000u | (0x10101u * (step & 0xFF)));
    return pixels;
}

typedef HRESULT(WINAPI* CanUnloadFunction)();

// tovixsim.dll's DllCanUnloadNow, given the time for an object that a
// thread of the system's graph still held to go.
HRESULT serverIdle() {
    HMODULE server = GetModuleHandleA("tovixsim.dll");
    if (!server)
        return S_OK; // unloaded: nothing of it is left
    auto canUnload = reinterpret_cast<CanUnloadFunction>(GetProcAddress(server, "DllCanUnloadNow"));
    if (!canUnload)
        return E_NOINTERFACE;
    HRESULT hr = canUnload();
    for (int i = 0; i < 100 && hr != S_OK; i++) {
        Sleep(20);
        hr = canUnload();
    }
    return hr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s <frames> <cycles>\n", argv[0]);
        return 2;
    }
    const int frames = atoi(argv[1]);
    const int cycles = atoi(argv[2]);
    SessionNatives n{};
    std::string error;
    if (!loadSessionNatives("", &n, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    streamwriter::StreamSpec shape;
    shape.seconds = 0.5;
    if (!streamwriter::writeProgramStream(kStreamFile, shape)) {
        fprintf(stderr, "cannot write %s\n", kStreamFile);
        return 2;
    }
    // COM stays up in this thread across the library's own use of it, so
    // that tovixsim.dll stays loaded to be asked at the end.
    CoInitialize(nullptr);

    // The fake virtual machine keeps every array it hands out: a fresh one
    // every few frames, and the working set read just after, keep its
    // memory out of the measure.
    std::unique_ptr<fakejni::FakeJni> jni;
    auto freshJni = [&jni] {
        if (jni)
            check(jni->outstanding() == 0, "every string and array was given back");
        jni.reset(new fakejni::FakeJni);
        jni->setProperty("version", "soak 1.0");
        jni->setProperty("tovix/scale_osd", "true");
    };
    freshJni();
    check(n.openOSD(jni->env(), jni->hostClass()) == JNI_TRUE, "openOSD answers true");

    const int kFramesPerJni = 20;
    // The quantiser's and Wine's buffers settle within the first frames; a
    // leak then raises the peak batch after batch.
    const int warmFrames = std::max(frames / 10, std::min(200, frames / 2));
    long warmPeak = 0, peak = 0;
    int refused = 0;
    for (int i = 0; i < frames; i++) {
        if (i % kFramesPerJni == 0 && i > 0) {
            freshJni();
            long& sampled = i <= warmFrames ? warmPeak : peak;
            sampled = std::max(sampled, workingSetKiB());
        }
        jintArray pixels = jni->newIntArray(osdFrame(720, 480, i));
        refused += n.updateOSD(jni->env(), jni->hostClass(), pixels, 720, 480, 0, 0, 720, 480, 0,
                               0) != JNI_TRUE;
    }
    freshJni();
    JNIEnv* env = jni->env();
    jclass cls = jni->hostClass();
    check(refused == 0, std::to_string(refused) + " OSD frames refused");
    printf("wine soak: %d OSD frames: working set at most %ld KiB in the warm-up, at most %ld KiB "
           "after\n",
           frames, warmPeak, peak);
    check(peak <= warmPeak + kSlackKiB, "the OSD frames' working set stays flat");

    const int warmCycles = cycles / 10 > 0 ? cycles / 10 : 1;
    long afterWarm = 0;
    int failedCycles = 0;
    for (int i = 0; i < cycles; i++) {
        n.load(env, cls, 1, 31, jni->newString("video/mpeg"), jni->newString(kStreamFile),
               jni->newString("mediaserver"), JNI_FALSE, 0);
        bool ok = n.getState(env, cls) == 1 && n.getDurationMillis(env, cls) > 0 &&
                  n.play(env, cls) == JNI_TRUE;
        Sleep(10);
        ok = ok && n.pause(env, cls) == JNI_TRUE && n.seek(env, cls, 100) == 100;
        failedCycles += !ok;
        n.free(env, cls);
        if (i + 1 == warmCycles)
            afterWarm = workingSetKiB();
    }
    long atEnd = workingSetKiB();
    check(failedCycles == 0, std::to_string(failedCycles) + " load/play/free cycles failed");
    printf("wine soak: %d load/play/free cycles: working set %ld KiB after warm-up, %ld KiB at "
           "the end\n",
           cycles, afterWarm, atEnd);
    check(atEnd <= afterWarm + kSlackKiB, "the cycles' working set stays flat");

    n.closeOSD(env, cls);
    HRESULT idle = serverIdle();
    check(idle == S_OK, "tovixsim.dll has objects, factories or locks left after closeOSD");
    check(jni->outstanding() == 0, "every string and array was given back");
    CoUninitialize();
    return checks::verdict();
}
