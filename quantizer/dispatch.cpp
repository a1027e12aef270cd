// CQuantizer over the quantiser's two builds (src/engine.h): each object
// runs on the build the process chose, through its table of entry points.
// This file is compiled for the product's baseline processor, with neither
// SSE nor SSE2, so that it can ask the processor before either runs.
#include "CQuantizer.h"

#include <stdlib.h>
#include <string.h>

#include "src/engine.h"

#if defined(__i386__) && defined(__GNUC__)
#include <cpuid.h>
#endif

namespace tovixquant {
extern const tovixengine::Engine engine;
}
namespace tovixquant_scalar {
extern const tovixengine::Engine engine;
}

namespace tovixengine {
namespace {

struct Features {
    bool sse;
    bool sse2;
};

// What the tests make processEngine() see instead of the processor.
bool gPretending = false;
Features gPretended = {true, true};

Features processorFeatures() {
#if defined(__i386__) && defined(__GNUC__)
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return {false, false};
    return {(edx & bit_SSE) != 0, (edx & bit_SSE2) != 0};
#else
    // x86-64 always has both; on other processors both builds are scalar.
    return {true, true};
#endif
}

} // namespace

const Engine& sse2Engine() {
    return tovixquant::engine;
}

const Engine& scalarEngine() {
    return tovixquant_scalar::engine;
}

namespace {

bool scalarForced(const char* noSse2) {
    return noSse2 != nullptr && *noSse2 != '\0' && strcmp(noSse2, "0") != 0;
}

} // namespace

const Engine* choose(bool sse, bool sse2, const char* noSse2) {
    if (sse2 && !scalarForced(noSse2))
        return &sse2Engine();
    if (sse)
        return &scalarEngine();
    return nullptr;
}

const Engine* processEngine() {
    // The variable's verdict, kept: the environment may change later.
    static const char* const noSse2 = scalarForced(getenv(kNoSse2Variable)) ? "1" : nullptr;
    static const Engine* const chosen = [] {
        const Features features = processorFeatures();
        return choose(features.sse, features.sse2, noSse2);
    }();
    if (gPretending)
        return choose(gPretended.sse, gPretended.sse2, noSse2);
    return chosen;
}

void pretendProcessor(bool sse, bool sse2) {
    gPretending = true;
    gPretended = {sse, sse2};
}

void stopPretending() {
    gPretending = false;
}

} // namespace tovixengine

CQuantizer::CQuantizer(unsigned maxColours, unsigned bitsPerChannel, unsigned width,
                       unsigned height)
    : imageHeight(height), imageWidth(width), engine_(tovixengine::processEngine()),
      state_(engine_ ? engine_->create(maxColours, bitsPerChannel, width, height) : nullptr) {}

CQuantizer::~CQuantizer() {
    if (state_)
        engine_->destroy(state_);
}

bool CQuantizer::ProcessorSupported() const {
    return engine_ != nullptr;
}

void CQuantizer::SetErrorDiffusion(bool enable) {
    if (state_)
        engine_->setErrorDiffusion(state_, enable);
}

void CQuantizer::SetDistributeClut(bool enable) {
    if (state_)
        engine_->setDistributeClut(state_, enable);
}

void CQuantizer::SetFullClutSearch(bool enable) {
    if (state_)
        engine_->setFullClutSearch(state_, enable);
}

int CQuantizer::ProcessImage(const _OsdColor* pixels, _OsdColor* palette, unsigned char* indices) {
    if (!state_)
        return -1;
    return engine_->process(state_, pixels, imageWidth, imageHeight, palette, indices);
}
