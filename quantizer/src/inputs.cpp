#include "inputs.h"

#include <stddef.h>

#include <algorithm>

namespace tovixquant {
namespace {

// When colours are grouped, those of at most this many pixels are grouped
// more coarsely: they weigh little, and there are many of them.
constexpr uint32_t kRareCount = 2;

// The groups' table has 2^kGroupSlotBits slots.
constexpr int kGroupSlotBits = 15;

uint32_t groupSlot(uint32_t group) {
    return colourHash(group) >> (32 - kGroupSlotBits);
}

} // namespace

void PaletteInputs::reserve(size_t colours) {
    if (entryInput_.size() < colours) {
        entryInput_.resize(colours);
        entryPremul_.resize(colours);
    }
    if (groupSlots_.empty()) {
        inputs_.reserve(kCapacity);
        groupSlots_.assign(size_t(1) << kGroupSlotBits, 0);
        groupSums_.resize(kCapacity);
        fineSums_.resize(kCapacity);
        coarseGroup_.resize(kCapacity);
    }
}

// The premultiplied colour of every histogram entry.
void PaletteInputs::premultiplyEntries(const Histogram& histogram) {
    const size_t colours = histogram.size();
    const uint32_t* keys = histogram.keys();
    const int level = histogram.level();
    Premul* premul = entryPremul_.data();
    if (level == 0) {
        premultiplyKeys(keys, colours, premul);
    } else {
        for (size_t e = 0; e < colours; ++e)
            premul[e] = premultiplyKey(representativeColour(keys[e], level));
    }
}

uint32_t PaletteInputs::findGroup(uint32_t group, uint32_t heaviestKey, size_t& groupCount) {
    const uint32_t slotMask = static_cast<uint32_t>(groupSlots_.size() - 1);
    uint32_t slot = groupSlot(group);
    for (;;) {
        const uint32_t s = groupSlots_[slot];
        if (s == 0) {
            if (groupCount == groupSums_.size())
                return UINT32_MAX;
            const uint32_t input = static_cast<uint32_t>(groupCount++);
            groupSlots_[slot] = input + 1;
            groupSums_[input] = GroupSum{{0, 0, 0, 0}, 0, group, heaviestKey, 0};
            return input;
        }
        if (groupSums_[s - 1].key == group)
            return s - 1;
        slot = (slot + 1) & slotMask;
    }
}

// The group of colour p, of w pixels, with the low `shift` bits dropped;
// colours of very few pixels (grain, the edges of anti-aliased strokes) go
// to groups twice as wide, marked apart by the top bit of each byte, which
// narrow groups never set. Returns the group's number, or UINT32_MAX when
// the table of groups is full.
uint32_t PaletteInputs::groupOf(const Premul& p, uint32_t w, uint32_t key, int shift,
                                size_t& groupCount) {
    const bool rare = w <= kRareCount;
    const int bits = shift + (rare ? 1 : 0);
    const uint32_t group =
        (static_cast<uint32_t>(p.r >> bits) | (static_cast<uint32_t>(p.g >> bits) << 8) |
         (static_cast<uint32_t>(p.b >> bits) << 16) | (static_cast<uint32_t>(p.a >> bits) << 24)) |
        (rare ? 0x80808080u : 0u);
    const uint32_t input = findGroup(group, key, groupCount);
    if (input == UINT32_MAX)
        return input;
    // Exact integer sums; the mean is taken once the group is complete.
    GroupSum& sum = groupSums_[input];
    sum.s[0] += w * static_cast<uint32_t>(p.r);
    sum.s[1] += w * static_cast<uint32_t>(p.g);
    sum.s[2] += w * static_cast<uint32_t>(p.b);
    sum.s[3] += w * static_cast<uint32_t>(p.a);
    sum.w += w;
    if (w > sum.heaviestCount) {
        sum.heaviestCount = w;
        sum.heaviestKey = key;
    }
    return input;
}

void PaletteInputs::clearSlots(size_t groupCount) {
    const uint32_t slotMask = static_cast<uint32_t>(groupSlots_.size() - 1);
    for (size_t i = 0; i < groupCount; ++i) {
        uint32_t slot = groupSlot(groupSums_[i].key);
        while (groupSlots_[slot] != i + 1)
            slot = (slot + 1) & slotMask;
        groupSlots_[slot] = 0;
    }
}

size_t PaletteInputs::coarsen(size_t groupCount, const Histogram& histogram) {
    clearSlots(groupCount);
    std::copy(groupSums_.begin(), groupSums_.begin() + static_cast<ptrdiff_t>(groupCount),
              fineSums_.begin());
    size_t coarseCount = 0;
    for (size_t g = 0; g < groupCount; ++g) {
        const GroupSum& fine = fineSums_[g];
        // Each byte of the key one bit shorter; rare groups keep their mark.
        const uint32_t group =
            (((fine.key & 0x7F7F7F7Fu) >> 1) & 0x7F7F7F7Fu) | (fine.key & 0x80808080u);
        // No more groups than before: the table cannot fill.
        const uint32_t input = findGroup(group, fine.heaviestKey, coarseCount);
        GroupSum& sum = groupSums_[input];
        for (int k = 0; k < 4; ++k)
            sum.s[k] += fine.s[k];
        sum.w += fine.w;
        if (fine.heaviestCount > sum.heaviestCount) {
            sum.heaviestCount = fine.heaviestCount;
            sum.heaviestKey = fine.heaviestKey;
        }
        coarseGroup_[g] = input;
    }
    const size_t colours = histogram.size();
    const uint32_t* keys = histogram.keys();
    for (size_t e = 0; e < colours; ++e)
        if (keys[e] != 0)
            entryInput_[e] = coarseGroup_[entryInput_[e]];
    return coarseCount;
}

// Frees the groups' slots for the next frame (finding each group again)
// and, unless the table overflowed, makes each group an input.
void PaletteInputs::finishGroups(size_t groupCount, bool overflow) {
    clearSlots(groupCount);
    for (size_t i = 0; i < groupCount; ++i) {
        const GroupSum& sum = groupSums_[i];
        if (!overflow) {
            const double w = toDouble(sum.w);
            WeightedColour wc;
            for (int k = 0; k < 4; ++k)
                wc.c[k] = static_cast<float>(toDouble(sum.s[k]) / w);
            wc.weight = w;
            wc.heaviestKey = sum.heaviestKey;
            wc.heaviestWeight = sum.heaviestCount;
            inputs_.push_back(wc);
        }
    }
}

void PaletteInputs::gather(const Histogram& histogram) {
    const size_t colours = histogram.size();
    const uint32_t* keys = histogram.keys();
    const uint32_t* counts = histogram.counts();
    premultiplyEntries(histogram);
    const Premul* premul = entryPremul_.data();
    // Groups as narrow as the table of groups allows.
    int shift = colours > kMaxInputs ? 2 : 0;
    for (;;) {
        bool overflow = false;
        size_t groupCount = 0;
        size_t pixels = 0; // that are not transparent
        inputs_.clear();
        for (size_t e = 0; e < colours; ++e) {
            if (keys[e] == 0)
                continue;
            pixels += counts[e];
            uint32_t input;
            if (shift == 0) {
                const Premul p = premul[e];
                const double w = counts[e];
                input = static_cast<uint32_t>(inputs_.size());
                inputs_.push_back(WeightedColour{
                    {float(p.r), float(p.g), float(p.b), float(p.a)}, w, keys[e], w});
            } else {
                input = groupOf(premul[e], counts[e], keys[e], shift, groupCount);
                if (input == UINT32_MAX) {
                    overflow = true;
                    break;
                }
            }
            entryInput_[e] = input;
        }
        if (shift != 0 && !overflow && groupCount > kMaxGroups &&
            groupCount * kPixelsPerGroup > pixels)
            groupCount = coarsen(groupCount, histogram);
        if (shift != 0)
            finishGroups(groupCount, overflow);
        if (!overflow)
            return;
        ++shift;
    }
}

} // namespace tovixquant
