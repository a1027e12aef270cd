// Colour histogram of one frame: the distinct colours, how many pixels have
// each, and for every pixel the number of its colour.
#ifndef TOVIX_QUANTIZER_HISTOGRAM_H
#define TOVIX_QUANTIZER_HISTOGRAM_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "CQuantizer.h"

namespace tovixquant {

class Histogram {
  public:
    // Sizes the table for frames of up to `pixels` pixels.
    void reserve(size_t pixels);

    // Counts the colours of `pixels`. Colours are
    // reduced with the posterisation `level` (0 keeps them exact, each level
    // drops one more low bit of every component); fully transparent pixels
    // all become colour 0. Writes each pixel's colour number to `pixelEntry`.
    // Returns false when the frame has more colours than the table holds at
    // this level; the caller then tries the next level.
    bool build(const _OsdColor* pixels, size_t count, int level, uint32_t* pixelEntry);

    size_t size() const { return used_; }
    int level() const { return level_; }
    const uint32_t* keys() const { return keys_.data(); }
    const uint32_t* counts() const { return counts_.data(); }

    size_t capacity() const { return keys_.size(); }

    static constexpr int kMaxLevel = 4;
    static constexpr size_t kMaxEntries = size_t(1) << 18;

  private:
    void clear();

    std::vector<uint32_t> slots_; // entry number + 1, 0 when free
    std::vector<uint32_t> keys_;
    std::vector<uint32_t> counts_;
    std::vector<uint32_t> slotOf_;
    // key << 32 | (entry number + 1) of recently seen colours, 0 when free;
    // up to 2^16 of them, fewer for small frames (the table is cleared for
    // every frame).
    static constexpr size_t kMaxRecent = size_t(1) << 16;
    std::vector<uint64_t> recent_;
    int recentShift_ = 32;
    uint32_t slotMask_ = 0;
    int slotShift_ = 32;
    size_t used_ = 0;
    int level_ = 0;
};

// The key of a pixel's colour at posterisation `level`, as build() counts it.
uint32_t posterise(uint32_t pixel, int level);

// The colour a posterised key stands for: the middle of the dropped range.
uint32_t representativeColour(uint32_t key, int level);

} // namespace tovixquant

#endif
