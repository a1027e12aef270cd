// Which vector instructions the quantiser's kernels may use. x86-64 always
// has SSE2; 32-bit x86 has it when the compiler is told (-msse2), which the
// build does for the SSE2 build of the kernels only (src/engine.h). Every
// kernel with an SSE2 path keeps a scalar one that gives the same bytes;
// defining TOVIXQUANT_SCALAR selects the scalar paths.
#ifndef TOVIX_QUANTIZER_SIMD_H
#define TOVIX_QUANTIZER_SIMD_H

#include <stddef.h>
#include <stdint.h>

#include <new>

#if !defined(TOVIXQUANT_SCALAR) &&                                                                 \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#include <emmintrin.h>
#define TOVIXQUANT_SSE2 1

namespace tovixquant {

// Lane-wise minimum and maximum of 32-bit values (SSE2 has none).
inline __m128i min32(__m128i a, __m128i b) {
    const __m128i greater = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(greater, b), _mm_andnot_si128(greater, a));
}
inline __m128i max32(__m128i a, __m128i b) {
    const __m128i greater = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(greater, a), _mm_andnot_si128(greater, b));
}

} // namespace tovixquant

#else
#define TOVIXQUANT_SSE2 0
#endif

// The scalar build on 32-bit x86 (a Pentium III, an Athlon XP) has MMX and
// SSE's additions to it, on 64-bit registers: the few kernels that test
// bytes side by side use them there, and leave the registers to the x87
// unit (_mm_empty) before they return.
#if !TOVIXQUANT_SSE2 && defined(__i386__) && defined(__MMX__) && defined(__SSE__)
#include <xmmintrin.h>
#define TOVIXQUANT_MMX 1
#else
#define TOVIXQUANT_MMX 0
#endif

namespace tovixquant {

// Alignment of the work buffers and of the state: a cache line, which also
// serves every 16-byte SSE load. The runtime's allocator is not asked for
// it (32-bit Windows' malloc gives 8 bytes): each block is over-allocated
// through operator new and the address of the block kept just below the
// aligned start.
constexpr size_t kBufferAlignment = 64;

inline void* allocateAligned(size_t bytes) {
    if (bytes > SIZE_MAX - kBufferAlignment - sizeof(void*))
        throw std::bad_alloc();
    char* const block =
        static_cast<char*>(::operator new(bytes + kBufferAlignment + sizeof(void*)));
    const uintptr_t start = reinterpret_cast<uintptr_t>(block) + sizeof(void*);
    char* const aligned =
        block + (sizeof(void*) + (kBufferAlignment - start % kBufferAlignment) % kBufferAlignment);
    reinterpret_cast<void**>(aligned)[-1] = block;
    return aligned;
}

inline void freeAligned(void* p) {
    if (p)
        ::operator delete(static_cast<void**>(p)[-1]);
}

// On 32-bit x86 without SSE2 the compiler does double arithmetic on the x87
// unit, which by default rounds to 64 bits of mantissa where SSE2 rounds to
// 53, and so can decide differently. While an object of this class lives,
// the x87 unit rounds every result to double precision, as SSE2 does (the
// values here stay far from the limits of double's exponent, the one other
// difference). Elsewhere it does nothing.
class DoublePrecision {
  public:
#if (defined(__i386__) && defined(__GNUC__)) && !defined(__SSE2__)
    DoublePrecision() {
        __asm__ volatile("fnstcw %0" : "=m"(saved_));
        const unsigned short doubleMantissa =
            static_cast<unsigned short>((saved_ & ~0x300) | 0x200);
        __asm__ volatile("fldcw %0" : : "m"(doubleMantissa));
    }
    ~DoublePrecision() {
        __asm__ volatile("fldcw %0" : : "m"(saved_));
    }

  private:
    unsigned short saved_;
#else
    DoublePrecision() {}
    ~DoublePrecision() {}
#endif
};

// An unsigned count or sum as a double, the very value static_cast gives.
// On 32-bit x86 without SSE2 the compiler converts an unsigned 32-bit value
// through a 64-bit integer that it writes to memory as two halves and loads
// whole into the x87 unit, which stalls the load until both stores have
// left (a dozen cycles, several times per cut tried in the palette's boxes).
// A signed 32-bit value is loaded as it was written: the top bit is flipped
// and 2^31 added back, exactly. A 64-bit value is its two halves, joined
// with one rounding, as the direct conversion rounds it.
inline double toDouble(uint32_t v) {
#if defined(__i386__) && !defined(__SSE2__)
    return static_cast<double>(static_cast<int32_t>(v ^ 0x80000000u)) + 2147483648.0;
#else
    return static_cast<double>(v);
#endif
}

inline double toDouble(uint64_t v) {
#if defined(__i386__) && !defined(__SSE2__)
    return toDouble(static_cast<uint32_t>(v >> 32)) * 4294967296.0 +
           toDouble(static_cast<uint32_t>(v));
#else
    return static_cast<double>(v);
#endif
}

} // namespace tovixquant

#endif
