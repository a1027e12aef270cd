#include "nearest.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "simd.h"

namespace tovixquant {
namespace {

// Far enough from every real colour never to be chosen, small enough that
// the squared sums stay within 32 bits.
constexpr int16_t kFarAway = 4000;
// Above every squared distance between real colours (at most 4 * 255^2),
// below every distance to a far entry, and small enough to shift by 8.
[[maybe_unused]] constexpr int32_t kDistanceCap = 1 << 22; // read by the SSE2 kernels only

// A squared distance (below 2^19) rounded down to its binary order of
// magnitude and the next two bits: distance order, in 80 steps.
constexpr int kMagnitudes = 80;
inline int magnitude(int32_t d) {
    if (d < 4)
        return d;
    const int m = 31 - __builtin_clz(static_cast<uint32_t>(d));
    return (m << 2) | ((d >> (m - 2)) & 3);
}

#if TOVIXQUANT_SSE2

// Squared distances from the query (each component broadcast) to the
// entries 8k to 8k + 7 of the component arrays, four in `lo` and four in
// `hi`.
inline void distances8(__m128i qr, __m128i qg, __m128i qb, __m128i qa, const int16_t* r,
                       const int16_t* g, const int16_t* b, const int16_t* a, int k, __m128i* lo,
                       __m128i* hi) {
    const __m128i dr =
        _mm_sub_epi16(qr, _mm_load_si128(reinterpret_cast<const __m128i*>(r + 8 * k)));
    const __m128i dg =
        _mm_sub_epi16(qg, _mm_load_si128(reinterpret_cast<const __m128i*>(g + 8 * k)));
    const __m128i db =
        _mm_sub_epi16(qb, _mm_load_si128(reinterpret_cast<const __m128i*>(b + 8 * k)));
    const __m128i da =
        _mm_sub_epi16(qa, _mm_load_si128(reinterpret_cast<const __m128i*>(a + 8 * k)));
    __m128i rgLo = _mm_unpacklo_epi16(dr, dg), rgHi = _mm_unpackhi_epi16(dr, dg);
    __m128i baLo = _mm_unpacklo_epi16(db, da), baHi = _mm_unpackhi_epi16(db, da);
    *lo = _mm_add_epi32(_mm_madd_epi16(rgLo, rgLo), _mm_madd_epi16(baLo, baLo));
    *hi = _mm_add_epi32(_mm_madd_epi16(rgHi, rgHi), _mm_madd_epi16(baHi, baHi));
}
#elif TOVIXQUANT_MMX

// The scalar build's distances in MMX: a colour's four 16-bit components
// are one 64-bit value, and MMX's multiply-add squares and pairs them in one
// instruction, the same integer sums as distance2. Every function that uses
// them leaves the registers to the x87 unit (_mm_empty) before it returns.
inline __m64 loadPremul(const Premul& p) {
    __m64 v;
    memcpy(&v, &p, sizeof v);
    return v;
}

// The squared distances from q to x (low half) and y (high half).
inline __m64 distancesTwo(__m64 q, const Premul& x, const Premul& y) {
    const __m64 dx = _mm_sub_pi16(q, loadPremul(x)), dy = _mm_sub_pi16(q, loadPremul(y));
    const __m64 sx = _mm_madd_pi16(dx, dx), sy = _mm_madd_pi16(dy, dy);
    return _mm_add_pi32(_mm_unpacklo_pi32(sx, sy), _mm_unpackhi_pi32(sx, sy));
}
#endif

} // namespace

NearestSearch::NearestSearch() {
    memset(palette_, 0, sizeof palette_);
    memset(isolation_, 0, sizeof isolation_);
    memset(neighbours_, 0, sizeof neighbours_);
    for (int i = 0; i < kPadded; ++i)
        r_[i] = g_[i] = b_[i] = a_[i] = kFarAway;
}

void NearestSearch::setPalette(const Premul* palette, int count, bool many) {
    count_ = count;
    useNeighbours_ = many;
    for (int i = 0; i < kPadded; ++i) {
        if (i < count) {
            palette_[i] = palette[i];
            r_[i] = palette[i].r;
            g_[i] = palette[i].g;
            b_[i] = palette[i].b;
            a_[i] = palette[i].a;
        } else {
            r_[i] = g_[i] = b_[i] = a_[i] = kFarAway;
        }
    }
    for (int i = 0; i < count; ++i) {
        int32_t* row = distances_[i];
        distancesTo(palette_[i], row);
        int32_t best = INT32_MAX;
        for (int j = 0; j < count; ++j)
            if (j != i && row[j] < best)
                best = row[j];
        isolation_[i] = best;
        neighboursReady_[i] = false;
    }
}

// The entries other than `entry` whose distance in `row` is below `limit`,
// in ascending order, into `near`; returns their number.
int NearestSearch::nearerThan(const int32_t* row, int32_t limit, int entry, uint8_t* near) const {
    int found = 0;
    int j = 0;
#if TOVIXQUANT_SSE2
    // Four at a time: the row holds distances up to the next multiple of
    // eight, those past the palette's end to far entries, beyond any limit.
    const __m128i below = _mm_set1_epi32(limit);
    for (; j < count_; j += 4) {
        unsigned mask = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(
            _mm_cmplt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j)), below))));
        while (mask != 0) {
            const int k = j + __builtin_ctz(mask);
            near[found] = static_cast<uint8_t>(k);
            found += k != entry;
            mask &= mask - 1;
        }
    }
#endif
    for (; j < count_; ++j) {
        near[found] = static_cast<uint8_t>(j);
        found += (row[j] < limit) & (j != entry);
    }
    return found;
}

void NearestSearch::prepareNeighbours(int entry) {
    // The list need not be sorted, nor hold exactly the nearest entries:
    // searches take the nearest of the listed entries and then ask whether
    // an entry beyond the list could be nearer still, which only needs a
    // bound on the distance to the nearest one left out. So the entries
    // nearer than a few times the nearest neighbour are picked out first
    // (more often than not a few dozen), counted by the magnitude of their
    // distance, and the list takes the magnitudes that fit whole and fills
    // up from the next one.
    const int32_t* row = distances_[entry];
    int32_t limit = std::min<int32_t>(std::max<int32_t>(isolation_[entry], 1), 1 << 20) * 8;
    uint8_t near[256];
    int found = 0;
    for (;;) {
        found = nearerThan(row, limit, entry, near);
        if (found >= kNeighbours || found == count_ - 1 || limit > (1 << 20))
            break;
        limit *= 4;
    }
    int orders[kMagnitudes] = {0};
    for (int c = 0; c < found; ++c)
        ++orders[magnitude(row[near[c]])];
    int whole = 0, taken = 0; // orders below `whole` fit in the list
    while (whole < kMagnitudes && taken + orders[whole] <= kNeighbours)
        taken += orders[whole++];
    int n = 0, room = kNeighbours - taken; // room: places left for the next magnitude
    // The nearest entry not listed: the entries not picked out are at
    // least `limit` away.
    int32_t leftOut = found == count_ - 1 ? INT32_MAX : limit;
    for (int c = 0; c < found; ++c) {
        const int j = near[c];
        const int m = magnitude(row[j]);
        if (m < whole || (m == whole && room > 0)) {
            room -= m == whole;
            neighbours_[entry][n++] = static_cast<uint8_t>(j);
        } else if (row[j] < leftOut) {
            leftOut = row[j];
        }
    }
    listed_[entry] = n;
    beyond_[entry] = leftOut == INT32_MAX ? INFINITY : sqrtf(static_cast<float>(leftOut));
    for (int t = 0; t < kNeighbours; ++t) {
        if (t < n) {
            const int j = neighbours_[entry][t];
            neighbourR_[entry][t] = palette_[j].r;
            neighbourG_[entry][t] = palette_[j].g;
            neighbourB_[entry][t] = palette_[j].b;
            neighbourA_[entry][t] = palette_[j].a;
        } else {
            neighbourR_[entry][t] = neighbourG_[entry][t] = neighbourB_[entry][t] =
                neighbourA_[entry][t] = kFarAway;
        }
    }
    neighboursReady_[entry] = true;
}

// The nearest of entry e's listed neighbours to q, ties to the lowest
// number, starting from `best` at squared distance `bestD`.
void NearestSearch::nearestListed(const Premul& q, int e, int& best, int32_t& bestD) const {
    const int n = listed_[e];
    const uint8_t* near = neighbours_[e];
#if TOVIXQUANT_SSE2
    (void)n;
    // All listed neighbours at once (unlisted lanes are far away). Each
    // lane's distance and entry number go into one value, distance << 8 |
    // entry, whose minimum is the nearest entry with ties to the lowest
    // number. Distances are capped first (real ones are far below the cap),
    // so that the shift cannot overflow and unlisted lanes stay above every
    // listed one.
    //
    // The query's components are held in pairs, (r, g) and (b, a) in every
    // lane pair, and the neighbours' interleaved to match, so that the loop
    // keeps few values in the eight vector registers of 32-bit x86: the same
    // differences as distances8's, in the same order.
    const __m128i qrg = _mm_unpacklo_epi16(_mm_set1_epi16(q.r), _mm_set1_epi16(q.g));
    const __m128i qba = _mm_unpacklo_epi16(_mm_set1_epi16(q.b), _mm_set1_epi16(q.a));
    const __m128i cap = _mm_set1_epi32(kDistanceCap);
    __m128i least = _mm_set1_epi32(INT32_MAX);
    for (int k = 0; k < kNeighbours / 8; ++k) {
        auto load = [k](const int16_t* values) {
            return _mm_load_si128(reinterpret_cast<const __m128i*>(values + 8 * k));
        };
        const __m128i r = load(neighbourR_[e]), g = load(neighbourG_[e]);
        const __m128i b = load(neighbourB_[e]), a = load(neighbourA_[e]);
        auto squares = [](__m128i q2, __m128i pairs) {
            const __m128i d = _mm_sub_epi16(q2, pairs);
            return _mm_madd_epi16(d, d);
        };
        __m128i lo = _mm_add_epi32(squares(qrg, _mm_unpacklo_epi16(r, g)),
                                   squares(qba, _mm_unpacklo_epi16(b, a)));
        __m128i hi = _mm_add_epi32(squares(qrg, _mm_unpackhi_epi16(r, g)),
                                   squares(qba, _mm_unpackhi_epi16(b, a)));
        // The neighbours' numbers, bytes 8k to 8k + 7, as 32-bit lanes.
        const __m128i numbers = _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(near + 8 * k)), _mm_setzero_si128());
        lo = _mm_or_si128(_mm_slli_epi32(min32(lo, cap), 8),
                          _mm_unpacklo_epi16(numbers, _mm_setzero_si128()));
        hi = _mm_or_si128(_mm_slli_epi32(min32(hi, cap), 8),
                          _mm_unpackhi_epi16(numbers, _mm_setzero_si128()));
        least = min32(least, min32(lo, hi));
    }
    least = min32(least, _mm_shuffle_epi32(least, 0x4E));
    least = min32(least, _mm_shuffle_epi32(least, 0xB1));
    const int32_t packed = _mm_cvtsi128_si32(least);
    if (packed >= kDistanceCap << 8)
        return; // no entry listed
    const int32_t d = packed >> 8;
    const int j = packed & 0xFF;
    if (d < bestD || (d == bestD && j < best)) {
        bestD = d;
        best = j;
    }
#else
    auto take = [&](int j, int32_t d) {
        if (d < bestD || (d == bestD && j < best)) {
            bestD = d;
            best = j;
        }
    };
    int t = 0;
#if TOVIXQUANT_MMX
    const __m64 qv = loadPremul(q);
    for (; t + 2 <= n; t += 2) {
        const __m64 d = distancesTwo(qv, palette_[near[t]], palette_[near[t + 1]]);
        take(near[t], _mm_cvtsi64_si32(d));
        take(near[t + 1], _mm_cvtsi64_si32(_mm_srli_si64(d, 32)));
    }
    _mm_empty();
#endif
    for (; t < n; ++t)
        take(near[t], distance2(q, palette_[near[t]]));
#endif
}

int NearestSearch::searchAround(const Premul& q, int guess, int32_t guessDistance) {
    if (!neighboursReady_[guess])
        prepareNeighbours(guess);
    int best = guess;
    int32_t bestD = guessDistance;
    nearestListed(q, guess, best, bestD);
    // Triangle inequality: an unlisted entry j has d(q, j) >= d(guess, j) -
    // d(q, guess) >= beyond - d(q, guess), so when that exceeds the best
    // distance found, no entry beyond the list is nearer (the margin covers
    // rounding of the square roots).
    if (beyond_[guess] >
        sqrtf(static_cast<float>(guessDistance)) + sqrtf(static_cast<float>(bestD)) + 0.01f)
        return best;
    return scan(q);
}

int NearestSearch::second(const Premul& q, int nearest) {
    if (count_ < 2)
        return -1;
    if (full_)
        return scan(q, nearest);
    if (!neighboursReady_[nearest])
        prepareNeighbours(nearest);
    int best = INT32_MAX;
    int32_t bestD = INT32_MAX;
    nearestListed(q, nearest, best, bestD);
    // As in searchAround.
    const float reach = sqrtf(static_cast<float>(distance2(q, palette_[nearest])));
    if (beyond_[nearest] > reach + sqrtf(static_cast<float>(bestD)) + 0.01f)
        return best;
    return scan(q, nearest);
}

#if TOVIXQUANT_SSE2

int NearestSearch::scan(const Premul& q, int except) const {
    const __m128i qr = _mm_set1_epi16(q.r), qg = _mm_set1_epi16(q.g);
    const __m128i qb = _mm_set1_epi16(q.b), qa = _mm_set1_epi16(q.a);
    __m128i bestLo = _mm_set1_epi32(INT32_MAX), bestHi = bestLo;
    __m128i idxLo = _mm_setzero_si128(), idxHi = idxLo;
    __m128i curLo = _mm_setr_epi32(0, 1, 2, 3), curHi = _mm_setr_epi32(4, 5, 6, 7);
    const __m128i step = _mm_set1_epi32(8);
    // The left-out entry counts as infinitely far.
    const __m128i out = _mm_set1_epi32(except), far = _mm_set1_epi32(INT32_MAX);
    const int blocks = (count_ + 7) / 8;
    for (int k = 0; k < blocks; ++k) {
        __m128i allLo, allHi;
        distances8(qr, qg, qb, qa, r_, g_, b_, a_, k, &allLo, &allHi);
        const __m128i exLo = _mm_cmpeq_epi32(curLo, out), exHi = _mm_cmpeq_epi32(curHi, out);
        const __m128i dLo = _mm_or_si128(_mm_andnot_si128(exLo, allLo), _mm_and_si128(exLo, far));
        const __m128i dHi = _mm_or_si128(_mm_andnot_si128(exHi, allHi), _mm_and_si128(exHi, far));
        // Strictly smaller only: within a lane the lowest entry wins ties.
        const __m128i ltLo = _mm_cmplt_epi32(dLo, bestLo), ltHi = _mm_cmplt_epi32(dHi, bestHi);
        bestLo = _mm_or_si128(_mm_and_si128(ltLo, dLo), _mm_andnot_si128(ltLo, bestLo));
        bestHi = _mm_or_si128(_mm_and_si128(ltHi, dHi), _mm_andnot_si128(ltHi, bestHi));
        idxLo = _mm_or_si128(_mm_and_si128(ltLo, curLo), _mm_andnot_si128(ltLo, idxLo));
        idxHi = _mm_or_si128(_mm_and_si128(ltHi, curHi), _mm_andnot_si128(ltHi, idxHi));
        curLo = _mm_add_epi32(curLo, step);
        curHi = _mm_add_epi32(curHi, step);
    }
    alignas(16) int32_t d[8], idx[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(d), bestLo);
    _mm_store_si128(reinterpret_cast<__m128i*>(d + 4), bestHi);
    _mm_store_si128(reinterpret_cast<__m128i*>(idx), idxLo);
    _mm_store_si128(reinterpret_cast<__m128i*>(idx + 4), idxHi);
    int best = idx[0];
    int32_t bestD = d[0];
    for (int l = 1; l < 8; ++l) {
        if (d[l] < bestD || (d[l] == bestD && idx[l] < best)) {
            bestD = d[l];
            best = idx[l];
        }
    }
    return best;
}

void NearestSearch::distancesTo(const Premul& q, int32_t* out) const {
    const __m128i qr = _mm_set1_epi16(q.r), qg = _mm_set1_epi16(q.g);
    const __m128i qb = _mm_set1_epi16(q.b), qa = _mm_set1_epi16(q.a);
    const int blocks = (count_ + 7) / 8;
    for (int k = 0; k < blocks; ++k) {
        __m128i lo, hi;
        distances8(qr, qg, qb, qa, r_, g_, b_, a_, k, &lo, &hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k + 4), hi);
    }
}

#elif TOVIXQUANT_MMX

void NearestSearch::distancesTo(const Premul& q, int32_t* out) const {
    const __m64 qv = loadPremul(q);
    int j = 0;
    for (; j + 2 <= count_; j += 2) {
        const __m64 d = distancesTwo(qv, palette_[j], palette_[j + 1]);
        memcpy(out + j, &d, sizeof d);
    }
    _mm_empty();
    for (; j < count_; ++j)
        out[j] = distance2(q, palette_[j]);
}

int NearestSearch::scan(const Premul& q, int except) const {
    const __m64 qv = loadPremul(q);
    int best = 0;
    int32_t bestD = INT32_MAX;
    auto take = [&](int i, int32_t d) {
        if (i != except && d < bestD) {
            bestD = d;
            best = i;
        }
    };
    int i = 0;
    for (; i + 2 <= count_; i += 2) {
        const __m64 d = distancesTwo(qv, palette_[i], palette_[i + 1]);
        take(i, _mm_cvtsi64_si32(d));
        take(i + 1, _mm_cvtsi64_si32(_mm_srli_si64(d, 32)));
    }
    _mm_empty();
    for (; i < count_; ++i)
        take(i, distance2(q, palette_[i]));
    return best;
}

#else

void NearestSearch::distancesTo(const Premul& q, int32_t* out) const {
    for (int j = 0; j < count_; ++j)
        out[j] = distance2(q, palette_[j]);
}

int NearestSearch::scan(const Premul& q, int except) const {
    int best = 0;
    int32_t bestD = INT32_MAX;
    for (int i = 0; i < count_; ++i) {
        if (i == except)
            continue;
        const int32_t d = distance2(q, palette_[i]);
        if (d < bestD) {
            bestD = d;
            best = i;
        }
    }
    return best;
}

#endif

} // namespace tovixquant
