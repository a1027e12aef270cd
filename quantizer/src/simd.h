// Which vector instructions the quantiser's kernels may use. SSE2 is the
// baseline of every processor the product runs on, but the compiler must be
// told (x86-64 always is; 32-bit x86 with -msse2 or /arch:SSE2). Every
// kernel with an SSE2 path keeps a scalar one that gives the same bytes;
// defining TOVIXQUANT_SCALAR selects the scalar paths, so that the two can
// be compared.
#ifndef TOVIX_QUANTIZER_SIMD_H
#define TOVIX_QUANTIZER_SIMD_H

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

#endif
