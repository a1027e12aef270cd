// The card's renderers notice the end of their stream when polled
// (ISimTimedRenderer). On Linux the simulated graph manager polls them
// whenever the application looks at the graph; the system's graph manager
// knows nothing of that, so here a thread polls every running decoder
// filter, as a real renderer's streaming thread would notice its last
// sample, and the decoder posts EC_COMPLETE to the graph's IMediaEventSink
// from this thread.
//
// A poll meets application calls on the same filters: the decoder's
// renderer side and the shared source's probe take a lock of their own for
// that, and the decoder tells the graph of the end outside its lock.
#include "server.h"

#include "../card/decoder.h"
#include "../graph/manager.h"

#include <mutex>

namespace sim {
// The world's own identifier, shared with the simulated graph manager.
const IID IID_ISimTimedRenderer = {
    0x6B1F7E20, 0x3C4D, 0x4A55, {0x9E, 0x61, 0x70, 0x82, 0x93, 0xA4, 0xB5, 0xC6}};
} // namespace sim

namespace {

const DWORD kTickMs = 20;

std::mutex gMutex;
HANDLE gThread = nullptr;
bool gStopping = false;

void pollRenderers() {
    simwin::forEachLive(sim::kDecoderClassName, [](sim::ComObject* object) {
        auto* filter = dynamic_cast<sim::BaseFilter*>(object);
        if (!filter || filter->state() != State_Running)
            return;
        sim::ISimTimedRenderer* renderer = nullptr;
        if (SUCCEEDED(filter->QueryInterface(sim::IID_ISimTimedRenderer,
                                             reinterpret_cast<void**>(&renderer))) &&
            renderer) {
            renderer->Poll();
            renderer->Release();
        }
    });
}

DWORD WINAPI tick(LPVOID) {
    for (;;) {
        Sleep(kTickMs);
        pollRenderers();
        std::lock_guard<std::mutex> lock(gMutex);
        if (simwin::liveObjectCount() == 0) {
            gStopping = true;
            return 0;
        }
    }
}

} // namespace

namespace simwin {

void startRendererTicker() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (gThread && !gStopping)
        return;
    if (gThread) {
        // The last round has decided to end; let it, then start anew.
        WaitForSingleObject(gThread, INFINITE);
        CloseHandle(gThread);
        gThread = nullptr;
    }
    gStopping = false;
    gThread = CreateThread(nullptr, 0, tick, nullptr, 0, nullptr);
}

bool rendererTickerStopped() {
    std::lock_guard<std::mutex> lock(gMutex);
    return !gThread || WaitForSingleObject(gThread, 0) == WAIT_OBJECT_0;
}

} // namespace simwin
