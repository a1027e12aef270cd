// Palette inputs: the weighted colours the palette is chosen from. One per
// histogram colour, or, for busy frames, colours merged into groups of
// nearby premultiplied values.
#ifndef TOVIX_QUANTIZER_INPUTS_H
#define TOVIX_QUANTIZER_INPUTS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "colour.h"
#include "histogram.h"
#include "palette.h"

namespace tovixquant {

class PaletteInputs {
  public:
    // Above this many distinct colours the palette is chosen from colours
    // merged into small groups; the pixels are still mapped from exact
    // colours.
    static constexpr size_t kMaxInputs = 8192;
    // Most inputs gather() may give (the group table's size).
    static constexpr size_t kCapacity = kMaxInputs * 2;
    // Groups of colours beyond this many, and more than one per
    // kPixelsPerGroup pixels, are merged into groups twice as wide: the
    // palette's cost grows with its inputs, the other stages' with the
    // pixels. A 720 x 480 icon grid's 7,700 groups cost its palette about a
    // millisecond more than 2,800 would, for 0.02 dB; a menu's 3,500 groups
    // stay (merged, it would lose 0.5 dB), and so do the 7,400 of a
    // 1920 x 1080 menu.
    static constexpr size_t kMaxGroups = 4096;
    static constexpr size_t kPixelsPerGroup = 64;

    // Sizes the buffers for histograms of up to `colours` entries, so that
    // gather() allocates nothing.
    void reserve(size_t colours);

    // The inputs for the histogram's colours; fully transparent pixels are
    // left out. The group keeps the exact mean of its colours; colours of
    // very few pixels go to wider groups.
    void gather(const Histogram& histogram);

    const std::vector<WeightedColour>& inputs() const { return inputs_; }
    // Input of histogram entry e (not for the transparent colour).
    uint32_t inputOf(size_t e) const { return entryInput_[e]; }
    // Premultiplied colour of every histogram entry, as gather() found it
    // (a posterised key stands for the middle of its range).
    const Premul* premultiplied() const { return entryPremul_.data(); }

  private:
    // One group of colours: sums of its pixels' premultiplied components,
    // its pixel count, its key and its most frequent colour. A frame's
    // pixels times 255 fit 32 bits (palette.cpp), and so do the sums.
    struct GroupSum {
        uint32_t s[4];
        uint32_t w;
        uint32_t key;
        uint32_t heaviestKey;
        uint32_t heaviestCount;
    };

    void premultiplyEntries(const Histogram& histogram);
    // The group of key `group`, added (empty) when new; UINT32_MAX when the
    // table of groups is full.
    uint32_t findGroup(uint32_t group, uint32_t heaviestKey, size_t& groupCount);
    uint32_t groupOf(const Premul& p, uint32_t w, uint32_t key, int shift, size_t& groupCount);
    // Frees the groups' slots for the next frame.
    void clearSlots(size_t groupCount);
    // The groups merged into groups twice as wide, and every colour moved
    // to its new group; returns the number of groups.
    size_t coarsen(size_t groupCount, const Histogram& histogram);
    void finishGroups(size_t groupCount, bool overflow);

    std::vector<WeightedColour> inputs_;
    std::vector<uint32_t> entryInput_;
    std::vector<Premul> entryPremul_;
    std::vector<uint32_t> groupSlots_; // input number + 1, 0 when free
    std::vector<GroupSum> groupSums_;
    std::vector<GroupSum> fineSums_;    // the groups before coarsen() merged them
    std::vector<uint32_t> coarseGroup_; // the group each of those went to
};

} // namespace tovixquant

#endif
