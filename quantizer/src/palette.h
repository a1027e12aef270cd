// Palette selection: divides the frame's weighted colours into boxes, each
// time splitting the box whose best cut removes the most squared error
// (or, distributing by population, the most populous box at its weighted
// median), then refines the box means with a few k-means passes.
#ifndef TOVIX_QUANTIZER_PALETTE_H
#define TOVIX_QUANTIZER_PALETTE_H

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <vector>

#include "colour.h"
#include "nearest.h"

namespace tovixquant {

// One colour to be represented: premultiplied mean, pixel count, and the
// straight colour of its heaviest member (entries snap to it when it
// dominates their cluster, so flat areas get their exact colour back).
struct WeightedColour {
    float c[4]; // premultiplied r, g, b, a
    double weight;
    uint32_t heaviestKey;
    double heaviestWeight;
};

class PaletteBuilder {
  public:
    // Chooses at most `maxEntries` colours for `input` and writes them as
    // straight colours to `out` (components rounded to `bits` bits).
    // `search` is used for the refinement; the caller gives it the final
    // palette.
    // Returns the number of entries chosen.
    // Sizes the work buffers for up to `inputs` input colours, so that
    // build() allocates nothing for that many.
    void reserve(size_t inputs);

    int build(const std::vector<WeightedColour>& input, int maxEntries, int bits, bool byPopulation,
              NearestSearch& search, _OsdColor* out);

    // Entry chosen for input colour i by the last refinement pass.
    int clusterOf(size_t i) const { return cluster_[i]; }

  private:
    // Sums over some of the items: pixels, and along each axis the values
    // and their squares (widths as in palette.cpp).
    struct Sums {
        uint32_t w;
        uint32_t s1[4];
        uint64_t s2[4];
    };

    struct Box {
        uint32_t begin, end;
        double priority;
        int axis;
        int threshold;
        Sums sums; // of its members
        Sums left; // of those the cut puts on the left (at most threshold)
    };

    Sums sumsOf(uint32_t begin, uint32_t end) const;
    // The box's best cut (axis and threshold), its priority (-1 when it
    // cannot be cut) and the sums of the cut's left side.
    void evaluate(Box& box, bool byPopulation);
    int widestAxis(const Box& box) const;
    // Statistics per value along the axis into the buckets, which are all
    // zero before and are cleared again as they are read; the members'
    // lowest and highest value along it into lo and hi.
    void fillBuckets(const Box& box, int axis, int& lo, int& hi);
    void bestCut(Box& box, int lo, int hi);
    void medianCut(int maxEntries, bool byPopulation);

    // One input colour during the cut: its rounded components, pixel
    // count and number. Boxes are ranges of items_, which the cut reorders.
    struct Item {
        uint8_t v[4];
        uint32_t count;
        uint32_t input;
    };
    std::vector<Item> items_;
    std::vector<Premul> rounded_; // each input's rounded components
    std::vector<uint8_t> cluster_;
    std::vector<Box> boxes_;
    // Per-value statistics of one box along one axis. Pixel counts and
    // sums of values fit 32 bits (palette.cpp), sums of squares need 64.
    struct Bucket {
        uint32_t w, s[4];
        uint64_t ss[4];
    };
    Bucket buckets_[256] = {};
    std::array<double, 5> sums_[256]; // weighted sums and weight per entry
    double heaviest_[256];
    uint32_t heaviestKey_[256];
};

// Straight colour whose premultiplied form is nearest to `premul`, each
// component rounded to `bits` bits.
_OsdColor straightFromPremul(const float premul[4], int bits);

// Rounds each component of a straight colour to `bits` bits.
_OsdColor roundToBits(_OsdColor c, int bits);

} // namespace tovixquant

#endif
