// Colour helpers shared by the quantiser's stages: packing of _OsdColor
// values and the premultiplied form that every distance is measured in.
#ifndef TOVIX_QUANTIZER_COLOUR_H
#define TOVIX_QUANTIZER_COLOUR_H

#include <stdint.h>
#include <string.h>

#include "CQuantizer.h"

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

// Packed values: memory order B,G,R,A, so on every host we read and write
// the bytes explicitly rather than shifting the 32-bit value.
inline int keyBlue(uint32_t k) {
    return unpackColour(k).blue;
}
inline int keyGreen(uint32_t k) {
    return unpackColour(k).green;
}
inline int keyRed(uint32_t k) {
    return unpackColour(k).red;
}
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

// Every fully transparent pixel is the same colour to us.
inline uint32_t normaliseKey(uint32_t k) {
    return keyAlpha(k) == 0 ? 0u : k;
}

} // namespace tovixquant

#endif
