#include "histogram.h"

#include <string.h>

#include <algorithm>

#include "colour.h"

#include "simd.h"

namespace tovixquant {
namespace {

// Mask per posterisation level, in packed B,G,R,A byte order. Alpha keeps
// one more bit than the colour components: it weighs every other channel.
uint32_t levelMask(int level) {
    static const unsigned char colourMask[] = {0xFF, 0xFE, 0xFC, 0xF8, 0xF0};
    static const unsigned char alphaMask[] = {0xFF, 0xFF, 0xFE, 0xFC, 0xF8};
    _OsdColor m = {colourMask[level], colourMask[level], colourMask[level], alphaMask[level]};
    return packColour(m);
}

// Along a long run of pixel value px from pixels[i], the pixels' entries
// (four at a time with SSE2); returns how many were written. Without SSE2 a
// loop of its own, which keeps its few values in registers where the
// caller's loop, on 32-bit x86, keeps most of its own on the stack.
inline uint32_t continueRun(const _OsdColor* pixels, size_t i, size_t count, uint32_t px,
                            uint32_t entry, uint32_t* pixelEntry) {
    uint32_t written = 0;
#if TOVIXQUANT_SSE2
    const __m128i same = _mm_set1_epi32(static_cast<int>(px));
    const __m128i entries = _mm_set1_epi32(static_cast<int>(entry));
    while (i + 4 <= count &&
           _mm_movemask_epi8(_mm_cmpeq_epi32(
               _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i)), same)) == 0xFFFF) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixelEntry + i), entries);
        i += 4;
        written += 4;
    }
#else
    while (i < count && packColour(pixels[i]) == px) {
        pixelEntry[i++] = entry;
        ++written;
    }
#endif
    return written;
}

} // namespace

void Histogram::reserve(size_t pixels) {
    // Entries needed: at most one per pixel, capped; beyond the cap the
    // frame is posterised instead (the last level has at most 2^17 colours).
    size_t entries = 4096;
    while (entries < pixels && entries < kMaxEntries)
        entries <<= 1;
    if (keys_.size() >= entries)
        return;
    keys_.assign(entries, 0);
    counts_.assign(entries, 0);
    slotOf_.assign(entries, 0);
    slots_.assign(entries * 2, 0);
    useSlots(slots_.size());
    recent_.assign(std::min(entries, kMaxRecent), Recent{0, 0});
    int bits = 0;
    while ((size_t(1) << bits) < recent_.size())
        ++bits;
    recentShift_ = 32 - bits;
    used_ = 0;
}

void Histogram::useSlots(size_t n) {
    slotMask_ = static_cast<uint32_t>(n - 1);
    int bits = 0;
    while ((size_t(1) << bits) < n)
        ++bits;
    slotShift_ = 32 - bits;
}

void Histogram::clear() {
    for (size_t i = 0; i < used_; ++i)
        slots_[slotOf_[i]] = 0;
    used_ = 0;
    live_ = 0;
}

void Histogram::growSlots(size_t used) {
    const size_t n = (static_cast<size_t>(slotMask_) + 1) * 2;
    memset(slots_.data(), 0, n * sizeof slots_[0]);
    useSlots(n);
    for (size_t e = 0; e < used; ++e) {
        uint32_t slot = colourHash(keys_[e]) >> slotShift_;
        while (slots_[slot] != 0)
            slot = (slot + 1) & slotMask_;
        slots_[slot] = static_cast<uint32_t>(e + 1);
        slotOf_[e] = slot;
    }
}

bool Histogram::entryOf(uint32_t key, uint32_t hash, size_t& used, uint32_t& entry) {
    uint32_t* const slots = slots_.data();
    const uint32_t* const keys = keys_.data();
    uint32_t slot = hash >> slotShift_;
    for (;;) {
        const uint32_t s = slots[slot];
        if (s == 0)
            break;
        if (keys[s - 1] == key) {
            entry = s - 1;
            return true;
        }
        slot = (slot + 1) & slotMask_;
    }
    if (used == keys_.size())
        return false;
    if ((used + 1) * 2 > static_cast<size_t>(slotMask_) + 1) {
        // Half full: twice the slots, and the key's slot found again.
        growSlots(used);
        return entryOf(key, hash, used, entry);
    }
    entry = static_cast<uint32_t>(used++);
    slots[slot] = entry + 1;
    slotOf_[entry] = slot;
    keys_[entry] = key;
    counts_[entry] = 0;
    return true;
}

bool Histogram::build(const _OsdColor* pixels, size_t count, int level, uint32_t* pixelEntry) {
    clear();
    // A slot for every three pixels or so to start with: a menu has a tenth
    // as many colours as pixels.
    size_t first = 4096;
    while (first < count / 8 * 3 && first < slots_.size())
        first <<= 1;
    useSlots(std::min(first, slots_.size()));
    memset(recent_.data(), 0, recent_.size() * sizeof recent_[0]);
    memset(changeColours_.data(), 0, changeColours_.size() * sizeof changeColours_[0]);
    level_ = level;
    const uint32_t mask = levelMask(level);
    uint32_t* counts = counts_.data();
    // Members in locals: the stores below could otherwise alias them.
    Recent* recentTable = recent_.data();
    const int recentShift = recentShift_;
    size_t used = used_;

    // Menus are mostly runs of one colour: a run's pixels skip the tables,
    // and its length is added to the count once the run ends.
    uint32_t prevPixel = 0;
    uint32_t prevEntry = UINT32_MAX;
    uint32_t runLength = 0;
    size_t i = 0;
    while (i < count) {
        const uint32_t px = packColour(pixels[i]);
        if (px == prevPixel && prevEntry != UINT32_MAX) {
            pixelEntry[i++] = prevEntry;
            const uint32_t more = continueRun(pixels, i, count, px, prevEntry, pixelEntry);
            i += more;
            runLength += 1 + more;
            continue;
        }
        if (prevEntry != UINT32_MAX)
            counts[prevEntry] += runLength;
        const uint32_t key = normaliseKey(px & mask); // as posterise(px, level)
        // A smaller table of recent colours, mostly in the cache, answers
        // most repeats (anti-aliased edges, columns of a gradient, icons
        // and grain seen in the rows above) before the large table is
        // touched.
        const uint32_t hash = colourHash(key);
        Recent& recent = recentTable[hash >> recentShift];
        uint32_t entry;
        if (recent.key == key && recent.entryPlusOne != 0) {
            entry = recent.entryPlusOne - 1;
        } else {
            if (!entryOf(key, hash, used, entry)) {
                used_ = live_ = used;
                return false;
            }
            recent = Recent{key, entry + 1};
        }
        pixelEntry[i++] = entry;
        prevPixel = px;
        prevEntry = entry;
        runLength = 1;
    }
    if (prevEntry != UINT32_MAX)
        counts[prevEntry] += runLength;
    used_ = live_ = used;
    return true;
}

uint32_t Histogram::mask() const {
    return tovixquant::levelMask(level_);
}

namespace {

// Distinct colours at posterisation `level` among the pixels sampled every
// `stride` pixels, up to 4,096 of them, in a table of twice as many slots.
size_t sampledColours(const _OsdColor* pixels, size_t count, size_t stride, int level,
                      size_t& sampled) {
    constexpr size_t kSample = 4096, kSlots = 2 * kSample;
    constexpr uint32_t kFree = 0x00FFFFFFu; // transparent, never a normalised key
    const uint32_t keyMask = levelMask(level);
    uint32_t slots[kSlots];
    std::fill(slots, slots + kSlots, kFree);
    size_t distinct = 0;
    sampled = 0;
    for (size_t i = 0; i < count && sampled < kSample; i += stride, ++sampled) {
        const uint32_t key = normaliseKey(packColour(pixels[i]) & keyMask);
        uint32_t slot = colourHash(key) >> 19; // 13 bits: kSlots
        while (slots[slot] != kFree && slots[slot] != key)
            slot = (slot + 1) & (kSlots - 1);
        distinct += slots[slot] == kFree;
        slots[slot] = key;
    }
    return distinct;
}

} // namespace

int firstLevel(const _OsdColor* pixels, size_t count) {
    if (count <= 256)
        return 0;
    const size_t stride = std::max<size_t>(1, count / 4096);
    size_t sampled = 0;
    const size_t distinct = sampledColours(pixels, count, stride, 0, sampled);
    if (distinct <= 256)
        return 0;
    // Three in four sampled pixels of a colour not sampled before: counting
    // such a frame's colours exactly costs more than it is worth. At level 2
    // the generated photo has 3,000 colours instead of 79,000, takes 30 %
    // less time than at level 1 (a fifth of its colours) and loses 0.4 dB
    // against it; at level 3 it would lose 5 dB, its pixels then being
    // mapped from colours too far from their own.
    if (distinct * 4 > sampled * 3)
        return 2;
    // One in three or more, of which level 2 merges a tenth or more with
    // others sampled: shades near one another, as many small antialiased
    // shapes have (the icon grid: 2,025 colours sampled, 1,648 at level 2;
    // 0.6 ms less in its palette's inputs and mapping, for 0.2 dB). Colours
    // scattered at random hardly merge (one in 300), and a few hundred exact
    // ones beside them would lose their own entries: counted exactly.
    if (distinct * 3 > sampled) {
        size_t again = 0;
        const size_t merged = sampledColours(pixels, count, stride, 2, again);
        if (merged * 10 < distinct * 9)
            return 2;
    }
    return 0;
}

uint32_t posterise(uint32_t pixel, int level) {
    return normaliseKey(pixel & levelMask(level));
}

uint32_t representativeColour(uint32_t key, int level) {
    if (level == 0 || key == 0)
        return key;
    const uint32_t kept = levelMask(level);
    _OsdColor c = unpackColour(key);
    _OsdColor m = unpackColour(kept);
    auto mid = [](unsigned char v, unsigned char maskByte) {
        const int dropped = (~maskByte) & 0xFF;
        return static_cast<unsigned char>(v + ((dropped + 1) >> 1));
    };
    c.blue = mid(c.blue, m.blue);
    c.green = mid(c.green, m.green);
    c.red = mid(c.red, m.red);
    c.alpha = mid(c.alpha, m.alpha);
    return packColour(c);
}

} // namespace tovixquant
