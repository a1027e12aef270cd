// The quantiser's two builds (SSE2 and scalar kernels) as one library: which
// one a process gets, that both give the same bytes, and that their buffers
// are aligned whatever the allocator gives.
//
// This program's operator new returns blocks aligned to 8 bytes only, as
// the C runtime of 32-bit Windows does: the SSE2 kernels' aligned loads
// must not depend on more.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <vector>

#include "CQuantizer.h"
#include "engine.h"
#include "osd_frames.h"
#include "state.h"

namespace {

// Every block starts 8 bytes past a 16-byte boundary; the 16 bytes before
// it keep the start of what malloc gave.
void* eightAligned(size_t bytes) {
    char* block = static_cast<char*>(malloc(bytes + 32));
    if (!block)
        throw std::bad_alloc();
    char* p = block + 16;
    if (reinterpret_cast<uintptr_t>(p) % 16 == 0)
        p += 8;
    reinterpret_cast<char**>(p)[-1] = block;
    return p;
}

void release(void* p) {
    if (p)
        free(reinterpret_cast<char**>(p)[-1]);
}

} // namespace

void* operator new(size_t bytes) {
    return eightAligned(bytes);
}
void* operator new[](size_t bytes) {
    return eightAligned(bytes);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, size_t) noexcept {
    release(p);
}
void operator delete[](void* p, size_t) noexcept {
    release(p);
}

namespace {

using tovixengine::choose;
using tovixengine::Engine;

TEST(QuantizerBuilds, TheProcessorAndTheVariableChooseTheBuild) {
    const Engine* sse2 = &tovixengine::sse2Engine();
    const Engine* scalar = &tovixengine::scalarEngine();
    EXPECT_STREQ("sse2", sse2->name);
    EXPECT_STREQ("scalar", scalar->name);

    EXPECT_EQ(sse2, choose(true, true, nullptr));
    EXPECT_EQ(sse2, choose(true, true, ""));
    EXPECT_EQ(sse2, choose(true, true, "0"));
    EXPECT_EQ(scalar, choose(true, true, "1"));
    EXPECT_EQ(scalar, choose(true, true, "yes"));
    // A Pentium III or an Athlon XP: SSE without SSE2.
    EXPECT_EQ(scalar, choose(true, false, nullptr));
    EXPECT_EQ(scalar, choose(true, false, "1"));
    // Older processors have neither: no build can run there.
    EXPECT_EQ(nullptr, choose(false, false, nullptr));
}

TEST(QuantizerBuilds, TheVariableIsReadOnceForTheProcess) {
    const char* set = getenv(tovixengine::kNoSse2Variable);
    const Engine* chosen = tovixengine::processEngine();
    ASSERT_NE(nullptr, chosen);
    EXPECT_STREQ(set && strcmp(set, "0") != 0 && *set ? "scalar" : "sse2", chosen->name);
    setenv(tovixengine::kNoSse2Variable, chosen == &tovixengine::sse2Engine() ? "1" : "0", 1);
    EXPECT_EQ(chosen, tovixengine::processEngine());
    if (set)
        setenv(tovixengine::kNoSse2Variable, set, 1);
    else
        unsetenv(tovixengine::kNoSse2Variable);
}

TEST(QuantizerBuilds, StateAndPixelBuffersAreAlignedOverAnEightByteAllocator) {
    std::vector<void*> small;
    for (size_t bytes = 1; bytes < 64; bytes += 3)
        small.push_back(::operator new(bytes));
    bool eight = false;
    for (void* p : small)
        eight = eight || reinterpret_cast<uintptr_t>(p) % 16 != 0;
    EXPECT_TRUE(eight) << "the allocator of this test gives 16-byte blocks";
    for (void* p : small)
        ::operator delete(p);

    for (int i = 0; i < 8; ++i) {
        std::vector<char> between(static_cast<size_t>(i) * 24 + 1);
        auto* state = new tovixquant::State(256, 8);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(state) % tovixquant::kBufferAlignment);
        state->reserve(static_cast<size_t>(i) * 1000 + 7, 100, 10 * i + 1, true);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(state->previousFrame.data()) %
                          tovixquant::kBufferAlignment);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(state->pixelEntry.data()) %
                          tovixquant::kBufferAlignment);
        delete state;
    }
}

// Frames through a build's table, as CQuantizer drives it.
struct Output {
    std::vector<_OsdColor> palette = std::vector<_OsdColor>(256);
    std::vector<unsigned char> indices;
};

std::vector<Output> runFrames(const Engine& engine, const std::vector<osdframes::Frame>& frames,
                              bool diffusion) {
    void* state = engine.create(256, 8, 720, 480);
    engine.setErrorDiffusion(state, diffusion);
    std::vector<Output> outputs;
    for (const osdframes::Frame& f : frames) {
        Output r;
        r.indices.assign(f.pixels.size(), 0);
        EXPECT_EQ(0, engine.process(state, f.pixels.data(), f.width, f.height, r.palette.data(),
                                    r.indices.data()));
        outputs.push_back(r);
    }
    engine.destroy(state);
    return outputs;
}

TEST(QuantizerBuilds, BothBuildsGiveTheSameBytesInOneProcess) {
    // A new screen, its highlight moved (the palette and most indices
    // kept), a photo and a larger frame (the buffers grown).
    const std::vector<osdframes::Frame> frames = {
        osdframes::menuFrame(720, 480, 1, 0), osdframes::menuFrame(720, 480, 2, 0),
        osdframes::photoFrame(360, 240), osdframes::iconGridFrame(800, 600)};
    for (bool diffusion : {true, false}) {
        const std::vector<Output> sse2 = runFrames(tovixengine::sse2Engine(), frames, diffusion);
        const std::vector<Output> scalar =
            runFrames(tovixengine::scalarEngine(), frames, diffusion);
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(0, memcmp(sse2[i].palette.data(), scalar[i].palette.data(), 1024))
                << "frame " << i << " diffusion " << diffusion;
            EXPECT_EQ(sse2[i].indices, scalar[i].indices)
                << "frame " << i << " diffusion " << diffusion;
        }
    }
}

} // namespace
