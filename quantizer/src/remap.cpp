#include "remap.h"

#include <stddef.h>
#include <string.h>

#include "colour.h"

namespace tovixquant {
namespace {

// Largest difference of any byte to a 4-neighbour for a pixel to count as
// part of a smooth area (gradient), where diffusion removes banding. Edges
// and noise are above it and keep their nearest colour.
constexpr int kSmoothLimit = 10;
// Share of the error passed on, in sixteenths; a little below 16 keeps
// diffusion from building up patterns in long gradients.
constexpr int kErrorShare = 14;
// Largest error per channel carried into a pixel.
constexpr int kMaxError = 20;

inline int maxByteDiff(uint32_t x, uint32_t y) {
    int m = 0;
    for (int s = 0; s < 32; s += 8) {
        const int d = static_cast<int>((x >> s) & 0xFF) - static_cast<int>((y >> s) & 0xFF);
        const int ad = d < 0 ? -d : d;
        if (ad > m) m = ad;
    }
    return m;
}

inline bool isSmooth(const uint32_t* row, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    const uint32_t* p = row + x;
    const ptrdiff_t stride = static_cast<ptrdiff_t>(w);
    if (x > 0 && maxByteDiff(*p, p[-1]) > kSmoothLimit) return false;
    if (x + 1 < w && maxByteDiff(*p, p[1]) > kSmoothLimit) return false;
    if (y > 0 && maxByteDiff(*p, p[-stride]) > kSmoothLimit) return false;
    if (y + 1 < h && maxByteDiff(*p, p[stride]) > kSmoothLimit) return false;
    return true;
}

inline int clampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

void remap(const RemapJob& job, NearestSearch& search) {
    const uint32_t w = job.width, h = job.height;
    if (!job.diffuse) {
        const size_t n = static_cast<size_t>(w) * h;
        for (size_t i = 0; i < n; ++i) {
            if (job.previousPixels && job.pixels[i] == job.previousPixels[i])
                job.indices[i] = job.previousIndices[i];
            else
                job.indices[i] = job.entryIndex[job.pixelEntry[i]];
        }
        return;
    }

    const size_t rowValues = (static_cast<size_t>(w) + 2) * 4;
    int32_t* errThis = job.errorRows;
    int32_t* errNext = job.errorRows + rowValues;
    memset(errThis, 0, rowValues * sizeof(int32_t));

    for (uint32_t y = 0; y < h; ++y) {
        memset(errNext, 0, rowValues * sizeof(int32_t));
        const bool forward = (y & 1) == 0;
        const int dir = forward ? 1 : -1;
        const size_t rowStart = static_cast<size_t>(y) * w;
        const uint32_t* row = job.pixels + rowStart;
        for (uint32_t k = 0; k < w; ++k) {
            const uint32_t x = forward ? k : w - 1 - k;
            const size_t i = rowStart + x;
            const uint32_t px = row[x];
            if (job.previousPixels && px == job.previousPixels[i]) {
                job.indices[i] = job.previousIndices[i];
                continue;
            }
            const int base = job.entryIndex[job.pixelEntry[i]];
            const uint32_t key = normaliseKey(px);
            if (key == 0 || key == job.paletteKeys[base] || !isSmooth(row, x, y, w, h)) {
                job.indices[i] = static_cast<uint8_t>(base);
                continue;
            }
            const Premul p = premultiply(unpackColour(px));
            int32_t* e = errThis + (static_cast<size_t>(x) + 1) * 4;
            const int ea = clampInt((e[3] + 8) >> 4, -kMaxError, kMaxError);
            const int er = clampInt((e[0] + 8) >> 4, -kMaxError, kMaxError);
            const int eg = clampInt((e[1] + 8) >> 4, -kMaxError, kMaxError);
            const int eb = clampInt((e[2] + 8) >> 4, -kMaxError, kMaxError);
            Premul q;
            q.a = static_cast<int16_t>(clampInt(p.a + ea, 1, 255));
            q.r = static_cast<int16_t>(clampInt(p.r + er, 0, q.a));
            q.g = static_cast<int16_t>(clampInt(p.g + eg, 0, q.a));
            q.b = static_cast<int16_t>(clampInt(p.b + eb, 0, q.a));
            const int chosen = (er | eg | eb | ea) == 0 ? base : search.find(q, base);
            job.indices[i] = static_cast<uint8_t>(chosen);

            const Premul& c = search.entry(chosen);
            const int d[4] = {(q.r - c.r) * kErrorShare, (q.g - c.g) * kErrorShare, (q.b - c.b) * kErrorShare,
                              (q.a - c.a) * kErrorShare};
            // Floyd-Steinberg weights in sixteenths, mirrored on reverse rows;
            // the share above folds the extra factor of 16 back out.
            int32_t* ahead = errThis + (static_cast<size_t>(x) + 1 + dir) * 4;
            int32_t* below = errNext + (static_cast<size_t>(x) + 1) * 4;
            int32_t* belowBehind = below - dir * 4;
            int32_t* belowAhead = below + dir * 4;
            for (int ch = 0; ch < 4; ++ch) {
                ahead[ch] += d[ch] * 7 / 16;
                belowBehind[ch] += d[ch] * 3 / 16;
                below[ch] += d[ch] * 5 / 16;
                belowAhead[ch] += d[ch] / 16;
            }
        }
        int32_t* t = errThis;
        errThis = errNext;
        errNext = t;
    }
}

}  // namespace tovixquant
