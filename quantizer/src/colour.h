// Colour helpers shared by the quantiser's stages: packing of _OsdColor
// values and the premultiplied form that every distance is measured in.
#ifndef TOVIX_QUANTIZER_COLOUR_H
#define TOVIX_QUANTIZER_COLOUR_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "CQuantizer.h"

#include "simd.h"

namespace tovixquant {

// A colour in premultiplied form, components 0..255, alpha last. Kept as
// 16-bit values so that the palette scan can work on eight entries at once.
struct Premul {
    int16_t r, g, b, a;
};

inline uint32_t packColour(const _OsdColor& c) {
    uint32_t v;
    memcpy(&v, &c, sizeof v);
    return v;
}

inline _OsdColor unpackColour(uint32_t v) {
    _OsdColor c;
    memcpy(&c, &v, sizeof c);
    return c;
}

// A packed value's alpha, read from its bytes (memory order B,G,R,A) rather
// than by shifting, so that it is right on every host.
inline int keyAlpha(uint32_t k) {
    return unpackColour(k).alpha;
}

// round(v / 255) for 0 <= v <= 255 * 255.
inline int div255(int v) {
    return (v + 128 + ((v + 128) >> 8)) >> 8;
}

inline Premul premultiply(const _OsdColor& c) {
    Premul p;
    p.r = static_cast<int16_t>(div255(c.red * c.alpha));
    p.g = static_cast<int16_t>(div255(c.green * c.alpha));
    p.b = static_cast<int16_t>(div255(c.blue * c.alpha));
    p.a = c.alpha;
    return p;
}

inline Premul premultiplyKey(uint32_t k) {
    return premultiply(unpackColour(k));
}

inline int32_t distance2(const Premul& x, const Premul& y) {
    int32_t dr = x.r - y.r, dg = x.g - y.g, db = x.b - y.b, da = x.a - y.a;
    return dr * dr + dg * dg + db * db + da * da;
}

// premultiplyKey() of n packed colours; the same results, with SSE2 two
// colours at a time.
inline void premultiplyKeys(const uint32_t* keys, size_t n, Premul* out) {
    size_t i = 0;
#if TOVIXQUANT_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i alphaLane = _mm_setr_epi16(0, 0, 0, -1, 0, 0, 0, -1);
    const __m128i c255 = _mm_set1_epi16(255), c128 = _mm_set1_epi16(128);
    for (; i + 2 <= n; i += 2) {
        // Lanes b, g, r, a of two colours as 16-bit values.
        const __m128i v =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(keys + i)), zero);
        // Each colour's alpha in all its lanes; the alpha lane itself is
        // multiplied by 255, which div255 turns back into alpha.
        __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF);
        a = _mm_or_si128(_mm_andnot_si128(alphaLane, a), _mm_and_si128(alphaLane, c255));
        const __m128i t = _mm_add_epi16(_mm_mullo_epi16(v, a), c128);
        __m128i p = _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
        // b, g, r, a to r, g, b, a.
        p = _mm_shufflehi_epi16(_mm_shufflelo_epi16(p, 0xC6), 0xC6);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), p);
    }
#endif
    for (; i < n; ++i)
        out[i] = premultiplyKey(keys[i]);
}

// Number of leading pixels of `now` (n at most) equal to `before`.
inline size_t samePixels(const _OsdColor* now, const uint32_t* before, size_t n) {
    size_t i = 0;
#if TOVIXQUANT_SSE2
    while (i + 4 <= n &&
           _mm_movemask_epi8(_mm_cmpeq_epi32(
               _mm_loadu_si128(reinterpret_cast<const __m128i*>(now + i)),
               _mm_loadu_si128(reinterpret_cast<const __m128i*>(before + i)))) == 0xFFFF)
        i += 4;
#endif
    while (i < n && packColour(now[i]) == before[i])
        ++i;
    return i;
}

// The hash of every table of colours (multiplicative: the top bits of the
// product spread neighbouring colours apart, so a table of 2^n slots takes
// the top n bits as the slot).
inline uint32_t colourHash(uint32_t key) {
    return key * 0x9E3779B1u;
}

// Every fully transparent pixel is the same colour to us.
inline uint32_t normaliseKey(uint32_t k) {
    return keyAlpha(k) == 0 ? 0u : k;
}

} // namespace tovixquant

#endif
