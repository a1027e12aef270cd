#include "remap.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>

#include "colour.h"
#include "histogram.h"

#include "simd.h"

namespace tovixquant {
namespace {

// Largest difference of any byte to a 4-neighbour for a pixel to count as
// part of a smooth area (gradient), where dithering removes banding. Edges
// and noise are above it and keep their nearest colour.
constexpr int kSmoothLimit = 4;
// A colour is dithered with its second-nearest entry only when that entry
// is at most this far (squared) from it: as far as a mix of the two can
// still stand for the colour, a step of 20 in every channel.
constexpr int32_t kDitherReach = 4 * 20 * 20;
// The share of a colour's pixels that show its second entry is counted in
// 64ths: a pixel shows it when the colour's share is above the pixel's
// threshold in this 8 x 8 matrix (each of 0 to 63 once, every value as far
// from those of its neighbours as the matrix allows), so that any share of
// an area shows the second entry in an even pattern.
constexpr int kShares = 64;
const uint8_t kThreshold[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                                  {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                                  {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                                  {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

#if TOVIXQUANT_SSE2

// True when no byte of the four neighbours differs from the pixel's by more
// than the limit; missing neighbours at the border count as equal.
inline bool neighboursClose(uint32_t px, uint32_t left, uint32_t right, uint32_t up,
                            uint32_t down) {
    const __m128i centre = _mm_set1_epi32(static_cast<int>(px));
    const __m128i around = _mm_setr_epi32(static_cast<int>(left), static_cast<int>(right),
                                          static_cast<int>(up), static_cast<int>(down));
    const __m128i diff = _mm_or_si128(_mm_subs_epu8(centre, around), _mm_subs_epu8(around, centre));
    const __m128i over = _mm_subs_epu8(diff, _mm_set1_epi8(static_cast<char>(kSmoothLimit)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(over, _mm_setzero_si128())) == 0xFFFF;
}

#else

// For two bytes a and b held in the two 16-bit lanes of a word each: bit 15
// of a lane set when a - b >= -kSmoothLimit and a - b <= kSmoothLimit. In a
// lane, a - b (-255 to 255) plus an offset near 0x8000 neither borrows from
// nor carries into the other lane, and its bit 15 tells on which side of the
// offset's bound the difference lies.
inline uint32_t closeLanes(uint32_t a, uint32_t b) {
    constexpr uint32_t atLeast = (0x8000u + kSmoothLimit) * 0x00010001u;
    constexpr uint32_t above = (0x7FFFu - kSmoothLimit) * 0x00010001u;
    return (a + atLeast - b) & ~(a + above - b);
}

// The test of the vector kernel above on plain 32-bit words: the even and
// the odd bytes of each neighbour at once, without a branch per byte.
inline bool neighboursClose(uint32_t px, uint32_t left, uint32_t right, uint32_t up,
                            uint32_t down) {
    constexpr uint32_t kLanes = 0x00FF00FFu, kSign = 0x80008000u;
    const uint32_t even = px & kLanes, odd = (px >> 8) & kLanes;
    uint32_t all = kSign;
    for (uint32_t n : {left, right, up, down})
        all &= closeLanes(even, n & kLanes) & closeLanes(odd, (n >> 8) & kLanes);
    return (all & kSign) == kSign;
}

#endif

inline bool isSmooth(const _OsdColor* row, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    const _OsdColor* p = row + x;
    const ptrdiff_t stride = static_cast<ptrdiff_t>(w);
    const uint32_t c = normaliseKey(packColour(*p));
    auto at = [&](bool present, ptrdiff_t offset) {
        return present ? normaliseKey(packColour(p[offset])) : c;
    };
    return neighboursClose(c, at(x > 0, -1), at(x + 1 < w, 1), at(y > 0, -stride),
                           at(y + 1 < h, stride));
}

// Clears the candidate flag (flags[x] for pixel x) of every pixel of row y
// that is not smooth, so that the dithering pass only visits pixels that
// may show their colour's second entry.
void keepSmoothCandidates(const _OsdColor* pixels, uint8_t* flags, uint32_t y, uint32_t w,
                          uint32_t h) {
    const _OsdColor* row = pixels + static_cast<size_t>(y) * w;
    uint32_t x = 0;
#if TOVIXQUANT_SSE2
    // Four pixels at a time away from the left and right border; above and
    // below, a missing row counts as equal, as in isSmooth.
    if (w >= 6) {
        if (flags[0] && !isSmooth(row, 0, y, w, h))
            flags[0] = 0;
        const ptrdiff_t stride = static_cast<ptrdiff_t>(w);
        const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        const __m128i zero = _mm_setzero_si128();
        const __m128i limit = _mm_set1_epi8(static_cast<char>(kSmoothLimit));
        auto load = [&](const _OsdColor* p) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            // Fully transparent pixels count as (0,0,0,0).
            return _mm_andnot_si128(_mm_cmpeq_epi32(_mm_and_si128(v, alpha), zero), v);
        };
        auto over = [&](__m128i a, __m128i b) {
            return _mm_subs_epu8(_mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)), limit);
        };
        for (x = 1; x + 5 <= w; x += 4) {
            uint32_t four;
            memcpy(&four, flags + x, sizeof four);
            if (four == 0)
                continue;
            const _OsdColor* p = row + x;
            const __m128i c = load(p);
            __m128i bad = _mm_or_si128(over(c, load(p - 1)), over(c, load(p + 1)));
            if (y > 0)
                bad = _mm_or_si128(bad, over(c, load(p - stride)));
            if (y + 1 < h)
                bad = _mm_or_si128(bad, over(c, load(p + stride)));
            // The flags of the pixels that are not smooth cleared, as bytes of
            // one word: each mask bit spread to a whole byte.
            const uint32_t smooth = static_cast<uint32_t>(
                _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(bad, zero))));
            four &= ((smooth * 0x00204081u) & 0x01010101u) * 0xFFu;
            memcpy(flags + x, &four, sizeof four);
        }
    }
#elif TOVIXQUANT_MMX
    // The same two pixels at a time.
    if (w >= 4) {
        if (flags[0] && !isSmooth(row, 0, y, w, h))
            flags[0] = 0;
        const ptrdiff_t stride = static_cast<ptrdiff_t>(w);
        const __m64 alpha = _mm_set1_pi32(static_cast<int>(0xFF000000u));
        const __m64 zero = _mm_setzero_si64();
        const __m64 limit = _mm_set1_pi8(static_cast<char>(kSmoothLimit));
        auto load = [&](const _OsdColor* p) {
            __m64 v;
            memcpy(&v, p, sizeof v);
            return _mm_andnot_si64(_mm_cmpeq_pi32(_mm_and_si64(v, alpha), zero), v);
        };
        auto over = [&](__m64 a, __m64 b) {
            return _mm_subs_pu8(_mm_or_si64(_mm_subs_pu8(a, b), _mm_subs_pu8(b, a)), limit);
        };
        for (x = 1; x + 3 <= w; x += 2) {
            if ((flags[x] | flags[x + 1]) == 0)
                continue;
            const _OsdColor* p = row + x;
            const __m64 c = load(p);
            __m64 bad = _mm_or_si64(over(c, load(p - 1)), over(c, load(p + 1)));
            if (y > 0)
                bad = _mm_or_si64(bad, over(c, load(p - stride)));
            if (y + 1 < h)
                bad = _mm_or_si64(bad, over(c, load(p + stride)));
            // A byte of the mask per byte of the two pixels: all four set
            // when the pixel is smooth.
            const int smooth = _mm_movemask_pi8(_mm_cmpeq_pi32(bad, zero));
            if ((smooth & 0x0F) == 0)
                flags[x] = 0;
            if ((smooth & 0xF0) == 0)
                flags[x + 1] = 0;
        }
        _mm_empty();
    }
#endif
    for (; x < w; ++x)
        if (flags[x] && !isSmooth(row, x, y, w, h))
            flags[x] = 0;
}

// A colour's second entry and the share of its pixels that show it, found
// on first need: entryDiffuse 1 means they are yet to be found, 2 that
// entryAlt and entryShare hold them. The share is where the colour lies
// between its nearest entry n and its second entry m, along the line from
// n to m: (c - n).(m - n) / |m - n|^2 in 64ths, so that the pixels of an
// area of the colour show on average the colour's own place between the
// two (at most half of them: nearer to m than to n, it would have m as
// its nearest). No share when m is further than kDitherReach.
void findSecond(const RemapJob& job, uint32_t e, NearestSearch& search) {
    const Premul c = premultiplyKey(representativeColour(job.keys[e], job.level));
    const int nearest = job.entryIndex[e];
    const int second = search.second(c, nearest);
    int share = 0;
    if (second >= 0 && distance2(c, search.entry(second)) <= kDitherReach) {
        const Premul& n = search.entry(nearest);
        const Premul& m = search.entry(second);
        // Both below 4 * 255^2: no overflow, also times kShares.
        const int32_t along = (c.r - n.r) * (m.r - n.r) + (c.g - n.g) * (m.g - n.g) +
                              (c.b - n.b) * (m.b - n.b) + (c.a - n.a) * (m.a - n.a);
        const int32_t span = distance2(n, m);
        if (along > 0 && span > 0)
            share = std::min(kShares / 2, (along * kShares + span / 2) / span);
    }
    job.entryAlt[e] = static_cast<uint8_t>(second < 0 ? nearest : second);
    job.entryShare[e] = static_cast<uint8_t>(share);
    job.entryDiffuse[e] = 2;
}

// Copies a row of pixels to where the next frame compares with them. The
// stores bypass the cache (SSE2, or MMX with SSE's additions): the copy is
// read only by the next frame.
inline void copyRow(uint32_t* to, const _OsdColor* from, uint32_t w) {
    uint32_t x = 0;
#if TOVIXQUANT_SSE2
    for (; x < w && (reinterpret_cast<uintptr_t>(to + x) & 15) != 0; ++x)
        to[x] = packColour(from[x]);
    for (; x + 4 <= w; x += 4)
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + x),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x)));
#elif TOVIXQUANT_MMX
    if (w >= 2) {
        for (; (reinterpret_cast<uintptr_t>(to + x) & 7) != 0; ++x)
            to[x] = packColour(from[x]);
        for (; x + 2 <= w; x += 2) {
            __m64 two;
            memcpy(&two, from + x, sizeof two);
            _mm_stream_pi(reinterpret_cast<__m64*>(to + x), two);
        }
        _mm_empty();
    }
#endif
    for (; x < w; ++x)
        to[x] = packColour(from[x]);
}

// The index pass of a row of a new frame: every pixel gets its colour's
// nearest entry (also kept as `nearest`) and its colour's dithering flag.
// Returns whether any pixel of the row may be dithered. Plain table look-ups,
// four pixels at a time, one look-up for four pixels of one colour.
uint8_t indexRow(const uint32_t* pixelEntry, const uint8_t* entryIndex, const uint8_t* entryDiffuse,
                 uint8_t* indices, uint8_t* nearest, uint8_t* flags, uint32_t w) {
    uint32_t any = 0;
    uint32_t x = 0;
    for (; x + 4 <= w; x += 4) {
        const uint32_t e0 = pixelEntry[x], e1 = pixelEntry[x + 1], e2 = pixelEntry[x + 2],
                       e3 = pixelEntry[x + 3];
        if (e0 == e3 && e1 == e3 && e2 == e3) {
            // Four pixels of one colour, as in most of a menu.
            const uint32_t index = entryIndex[e0] * 0x01010101u;
            const uint32_t flag = entryDiffuse[e0] * 0x01010101u;
            memcpy(indices + x, &index, 4);
            memcpy(nearest + x, &index, 4);
            memcpy(flags + x, &flag, 4);
            any |= flag;
            continue;
        }
        const uint8_t i0 = entryIndex[e0], i1 = entryIndex[e1], i2 = entryIndex[e2],
                      i3 = entryIndex[e3];
        const uint8_t f0 = entryDiffuse[e0], f1 = entryDiffuse[e1], f2 = entryDiffuse[e2],
                      f3 = entryDiffuse[e3];
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // The four bytes put together in a register, written as one word
        // each (gathered on the stack, they would be read back before the
        // byte stores reach them).
        const uint32_t index = i0 | uint32_t(i1) << 8 | uint32_t(i2) << 16 | uint32_t(i3) << 24;
        const uint32_t flag = f0 | uint32_t(f1) << 8 | uint32_t(f2) << 16 | uint32_t(f3) << 24;
        memcpy(indices + x, &index, 4);
        memcpy(nearest + x, &index, 4);
        memcpy(flags + x, &flag, 4);
#else
        indices[x] = nearest[x] = i0;
        indices[x + 1] = nearest[x + 1] = i1;
        indices[x + 2] = nearest[x + 2] = i2;
        indices[x + 3] = nearest[x + 3] = i3;
        flags[x] = f0;
        flags[x + 1] = f1;
        flags[x + 2] = f2;
        flags[x + 3] = f3;
#endif
        any |= f0 | f1 | f2 | f3;
    }
    for (; x < w; ++x) {
        indices[x] = nearest[x] = entryIndex[pixelEntry[x]];
        flags[x] = entryDiffuse[pixelEntry[x]];
        any |= flags[x];
    }
    return any != 0;
}

// The index pass of pixels begin..end-1 of a row under the previous frame's
// palette: as indexRow, but stretches equal to the previous frame keep their
// indices (and their nearest entries, kept in place) and are not dithered.
uint8_t keepRow(const _OsdColor* pixels, const uint32_t* previous, const uint8_t* previousIndices,
                const uint32_t* pixelEntry, const uint8_t* entryIndex, const uint8_t* entryDiffuse,
                uint8_t* indices, uint8_t* nearest, uint8_t* flags, uint32_t begin, uint32_t end) {
    uint8_t any = 0;
    auto index = [&](uint32_t x) {
        const uint32_t entry = pixelEntry[x];
        indices[x] = nearest[x] = entryIndex[entry];
        flags[x] = entryDiffuse[entry];
        any |= flags[x];
    };
    uint32_t x = begin;
    while (x < end) {
#if TOVIXQUANT_SSE2
        // Four pixels that all differ are indexed without looking for a
        // stretch of equal ones.
        if (x + 4 <= end &&
            _mm_movemask_epi8(_mm_cmpeq_epi32(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(previous + x)))) == 0) {
            const uint32_t e0 = pixelEntry[x];
            if (pixelEntry[x + 1] == e0 && pixelEntry[x + 2] == e0 && pixelEntry[x + 3] == e0) {
                // Four pixels of one colour, as along most of a pop-up's rows.
                const uint32_t four = entryIndex[e0] * 0x01010101u;
                const uint32_t flag = entryDiffuse[e0] * 0x01010101u;
                memcpy(indices + x, &four, 4);
                memcpy(nearest + x, &four, 4);
                memcpy(flags + x, &flag, 4);
                any |= entryDiffuse[e0];
            } else {
                index(x);
                index(x + 1);
                index(x + 2);
                index(x + 3);
            }
            x += 4;
            continue;
        }
#endif
        const size_t same = samePixels(pixels + x, previous + x, end - x);
        if (same != 0) {
            memcpy(indices + x, previousIndices + x, same);
            memset(flags + x, 0, same);
            x += static_cast<uint32_t>(same);
            continue;
        }
        index(x++);
    }
    return any;
}

// Bit i set when flags[i] is not zero, for sixteen flags.
inline uint32_t flagMask(const uint8_t* flags) {
#if TOVIXQUANT_SSE2
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(flags));
    return ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()))) &
           0xFFFFu;
#elif TOVIXQUANT_MMX
    __m64 lo, hi;
    memcpy(&lo, flags, sizeof lo);
    memcpy(&hi, flags + 8, sizeof hi);
    const __m64 zero = _mm_setzero_si64();
    const uint32_t zeros = static_cast<uint32_t>(_mm_movemask_pi8(_mm_cmpeq_pi8(lo, zero))) |
                           static_cast<uint32_t>(_mm_movemask_pi8(_mm_cmpeq_pi8(hi, zero))) << 8;
    _mm_empty();
    return ~zeros & 0xFFFFu;
#else
    uint32_t mask = 0;
    for (int i = 0; i < 16; ++i)
        mask |= static_cast<uint32_t>(flags[i] != 0) << i;
    return mask;
#endif
}

// The dithering pass of row y: each pixel whose flag is set (a smooth
// pixel of a colour worth dithering, see keepSmoothCandidates) shows its
// colour's second entry where the colour's share is above the pixel's
// threshold. A pixel's entry depends on its colour and place alone.
void ditherRow(const RemapJob& job, uint32_t y, uint8_t* flags, NearestSearch& search) {
    const uint32_t w = job.width;
    const size_t rowStart = static_cast<size_t>(y) * w;
    const uint32_t* const pixelEntry = job.pixelEntry + rowStart;
    uint8_t* const indices = job.indices + rowStart;
    const uint8_t* const threshold = kThreshold[y & 7];
    keepSmoothCandidates(job.pixels, flags, y, w, job.height);
    // The candidates taken from a mask of sixteen flags at a time: where the
    // smooth test left them scattered (grain) a branch per pixel mostly
    // guesses wrong.
    for (uint32_t k = 0; k < w;) {
        const uint32_t span = k + 16 <= w ? 16 : 1;
        uint32_t mask = span == 16 ? flagMask(flags + k) : flags[k] != 0;
        while (mask != 0) {
            const uint32_t x = k + static_cast<uint32_t>(__builtin_ctz(mask));
            mask &= mask - 1;
            const uint32_t e = pixelEntry[x];
            if (job.entryDiffuse[e] == 1)
                findSecond(job, e, search);
            if (job.entryShare[e] > threshold[x & 7])
                indices[x] = job.entryAlt[e];
        }
        k += span;
    }
}

// Counts of the pixels that show each entry, to be added to the job's
// `shown`: four tables, one for each pixel of four in a row, so that a
// count does not wait for its own previous store when neighbours show the
// same entry.
struct ShownChange {
    int32_t by[4][256];
};

// The pixels that show each entry, moved from the indices `before` to
// `after` over begin..end-1: four pixels of equal indices at a time are
// skipped, the others counted out of one entry and into the other (the
// same one, for a pixel that keeps its index) without a branch.
void recount(const uint8_t* before, const uint8_t* after, uint32_t begin, uint32_t end,
             ShownChange& change) {
    uint32_t x = begin;
    for (; x + 4 <= end; x += 4) {
        uint32_t was, now;
        memcpy(&was, before + x, 4);
        memcpy(&now, after + x, 4);
        if (was == now)
            continue;
        for (int k = 0; k < 4; ++k) {
            --change.by[k][before[x + k]];
            ++change.by[k][after[x + k]];
        }
    }
    for (; x < end; ++x) {
        --change.by[0][before[x]];
        ++change.by[0][after[x]];
    }
}

// Row y of the frame, pixels begin..end-1 of it as they differ from the
// previous frame (the whole row when there is none), then its dithering.
void remapRow(const RemapJob& job, uint32_t y, uint32_t begin, uint32_t end, NearestSearch& search,
              ShownChange& shownChange) {
    const uint32_t w = job.width;
    const size_t rowStart = static_cast<size_t>(y) * w;
    const _OsdColor* row = job.pixels + rowStart;
    uint8_t* const flags = job.candidates;
    uint8_t* const indices = job.indices + rowStart;
    uint8_t anyFlag;
    if (job.previousPixels) {
        const uint8_t* previousIndices = job.previousIndices + rowStart;
        memcpy(indices, previousIndices, begin);
        memcpy(indices + end, previousIndices + end, w - end);
        memset(flags, 0, begin);
        memset(flags + end, 0, w - end);
        anyFlag = keepRow(row, job.previousPixels + rowStart, previousIndices,
                          job.pixelEntry + rowStart, job.entryIndex, job.entryDiffuse, indices,
                          job.saveNearest + rowStart, flags, begin, end);
    } else {
        anyFlag = indexRow(job.pixelEntry + rowStart, job.entryIndex, job.entryDiffuse, indices,
                           job.saveNearest + rowStart, flags, w);
    }
    if (job.diffuse && anyFlag)
        ditherRow(job, y, flags, search);
    if (job.shown)
        recount(job.saveIndices + rowStart, indices, begin, end, shownChange);
    // What the next frame compares with, copied while the row is at hand
    // (outside the span it holds these pixels already).
    copyRow(job.savePixels + rowStart + begin, row + begin, end - begin);
    memcpy(job.saveIndices + rowStart + begin, indices + begin, end - begin);
}

} // namespace

size_t findChanges(const _OsdColor* frame, const uint32_t* previous, uint32_t w, uint32_t h,
                   RowChange* changes) {
    size_t count = 0;
    const size_t rowBytes = static_cast<size_t>(w) * sizeof(uint32_t);
    for (uint32_t y = 0; y < h; ++y) {
        const size_t rowStart = static_cast<size_t>(y) * w;
        const _OsdColor* row = frame + rowStart;
        const uint32_t* before = previous + rowStart;
        if (memcmp(row, before, rowBytes) == 0)
            continue;
        const uint32_t begin = static_cast<uint32_t>(samePixels(row, before, w));
        uint32_t end = w;
        while (packColour(row[end - 1]) == before[end - 1])
            --end;
        changes[count++] = RowChange{y, begin, end};
    }
    return count;
}

void remap(const RemapJob& job, NearestSearch& search) {
    const uint32_t w = job.width, h = job.height;
    ShownChange shownChange;
    if (job.shown)
        memset(&shownChange, 0, sizeof shownChange);

    // One row at a time, while it is in the cache: every pixel first gets
    // its colour's nearest entry (or keeps last frame's index when it did
    // not change); then the pixels of colours worth dithering are visited
    // again.
    if (!job.previousPixels) {
        for (uint32_t y = 0; y < h; ++y)
            remapRow(job, y, 0, w, search, shownChange);
    } else {
        // Rows that did not change keep their indices.
        uint32_t y = 0;
        for (size_t c = 0; c <= job.changeCount; ++c) {
            const uint32_t changed = c < job.changeCount ? job.changes[c].y : h;
            if (changed > y) {
                memcpy(job.indices + static_cast<size_t>(y) * w,
                       job.previousIndices + static_cast<size_t>(y) * w,
                       static_cast<size_t>(changed - y) * w);
            }
            if (c < job.changeCount)
                remapRow(job, changed, job.changes[c].begin, job.changes[c].end, search,
                         shownChange);
            y = changed + 1;
        }
    }
    if (job.shown)
        for (int k = 0; k < 256; ++k)
            job.shown[k] += static_cast<uint32_t>(shownChange.by[0][k] + shownChange.by[1][k] +
                                                  shownChange.by[2][k] + shownChange.by[3][k]);
#if TOVIXQUANT_SSE2 || TOVIXQUANT_MMX
    _mm_sfence();
#endif
}

} // namespace tovixquant
