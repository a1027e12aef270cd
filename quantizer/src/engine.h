// The quantiser is compiled twice from the same sources: once with its SSE2
// kernels, in namespace tovixquant, and once with the scalar ones, in
// namespace tovixquant_scalar (the build renames the namespace on the
// compiler's command line, so that the two share no symbol). Each build
// hands its entry points over as one Engine table, and a process uses one
// of them: SSE2 when the processor has it, unless the environment variable
// TOVIX_NO_SSE2 is set (to anything but "0").
#ifndef TOVIX_QUANTIZER_ENGINE_H
#define TOVIX_QUANTIZER_ENGINE_H

#include <stdint.h>

struct _OsdColor;

// The entry points of a build. On 32-bit x86 the caller's stack may be
// aligned to only 4 bytes (a thread the host's VM started, a callback), and
// the kernels keep 16-byte SSE values on it: each entry point realigns it,
// and the kernels, compiled to take a 16-byte-aligned stack as given
// (quantizer/CMakeLists.txt), are reached through these alone.
#if defined(__i386__) && defined(__GNUC__)
#define TOVIXENGINE_ENTRY __attribute__((force_align_arg_pointer))
#else
#define TOVIXENGINE_ENTRY
#endif

namespace tovixengine {

constexpr const char* kNoSse2Variable = "TOVIX_NO_SSE2";

struct Engine {
    const char* name; // "sse2" or "scalar"
    // A quantiser's state, its buffers sized for width x height; it throws
    // std::bad_alloc when the state itself cannot be allocated.
    void* (*create)(unsigned maxColours, unsigned bitsPerChannel, unsigned width, unsigned height);
    void (*destroy)(void* state);
    void (*setErrorDiffusion)(void* state, bool enable);
    void (*setDistributeClut)(void* state, bool enable);
    void (*setFullClutSearch)(void* state, bool enable);
    // CQuantizer::ProcessImage for a frame of width x height.
    int (*process)(void* state, const _OsdColor* pixels, uint32_t width, uint32_t height,
                   _OsdColor* palette, unsigned char* indices);
};

// The two builds' tables.
const Engine& sse2Engine();
const Engine& scalarEngine();

// The build for a processor with or without SSE and SSE2, and the value of
// TOVIX_NO_SSE2 (null when unset). Null when the processor lacks SSE, which
// even the scalar build uses for its floating point: then no build can run.
const Engine* choose(bool sse, bool sse2, const char* noSse2);

// The build this process uses, chosen on the first call (the processor
// asked once, the environment read once).
const Engine* processEngine();

// For tests: from now on processEngine() chooses as on a processor with (or
// without) SSE and SSE2, the environment as the process read it; objects
// made before keep their build. stopPretending() brings the processor's
// own answer back.
void pretendProcessor(bool sse, bool sse2);
void stopPretending();

} // namespace tovixengine

#endif
