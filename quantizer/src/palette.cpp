#include "palette.h"

#include <math.h>

#include <algorithm>
#include <array>

#include "../../osdblock/osd_block.h"

namespace tovixquant {
namespace {

// The cut's sums are integers over the items' pixel counts and byte values.
// A frame has at most kOsdMaxPixels pixels, so a count, or a count times a
// value, fits 32 bits (which 32-bit x86 adds in one instruction where 64
// take two and twice the registers); a count times a squared value does not.
static_assert(kOsdMaxPixels * 255 <= UINT32_MAX, "sums of values fit 32 bits");

constexpr int kRefinePasses = 0;
// An entry takes its cluster's heaviest colour exactly when that colour
// holds at least this share of the cluster's pixels.
constexpr double kSnapShare = 0.5;

inline int clampByte(long v) {
    return v < 0 ? 0 : (v > 255 ? 255 : static_cast<int>(v));
}

inline int bucketOf(float v) {
    return clampByte(lrintf(v));
}

Premul premulFromFloat(const float c[4]) {
    Premul p;
    p.r = static_cast<int16_t>(clampByte(lrintf(c[0])));
    p.g = static_cast<int16_t>(clampByte(lrintf(c[1])));
    p.b = static_cast<int16_t>(clampByte(lrintf(c[2])));
    p.a = static_cast<int16_t>(clampByte(lrintf(c[3])));
    return p;
}

} // namespace

_OsdColor roundToBits(_OsdColor c, int bits) {
    if (bits >= 8)
        return c;
    const int levels = (1 << bits) - 1;
    auto round = [levels](unsigned char v) {
        const int level = (v * levels + 127) / 255;
        return static_cast<unsigned char>((level * 255 + levels / 2) / levels);
    };
    c.blue = round(c.blue);
    c.green = round(c.green);
    c.red = round(c.red);
    c.alpha = round(c.alpha);
    if (c.alpha == 0)
        c.blue = c.green = c.red = 0;
    return c;
}

_OsdColor straightFromPremul(const float premul[4], int bits) {
    _OsdColor out = {0, 0, 0, 0};
    const int a = clampByte(lrintf(premul[3]));
    if (a == 0)
        return out;
    const float scale = 255.0f / static_cast<float>(a);
    out.alpha = static_cast<unsigned char>(a);
    out.red = static_cast<unsigned char>(clampByte(lrintf(premul[0] * scale)));
    out.green = static_cast<unsigned char>(clampByte(lrintf(premul[1] * scale)));
    out.blue = static_cast<unsigned char>(clampByte(lrintf(premul[2] * scale)));
    return roundToBits(out, bits);
}

PaletteBuilder::Sums PaletteBuilder::sumsOf(uint32_t begin, uint32_t end) const {
    Sums sums = {0, {0, 0, 0, 0}, {0, 0, 0, 0}};
    for (uint32_t i = begin; i < end; ++i) {
        const Item& it = items_[i];
        const uint32_t w = it.count;
        sums.w += w;
        for (int a = 0; a < 4; ++a) {
            const uint32_t v = it.v[a];
            sums.s1[a] += w * v;
            sums.s2[a] += uint64_t(w) * (v * v);
        }
    }
    return sums;
}

// The axis along which the box's members spread widest (by population).
int PaletteBuilder::widestAxis(const Box& box) const {
    int lo[4] = {255, 255, 255, 255}, hi[4] = {0, 0, 0, 0};
    for (uint32_t i = box.begin; i < box.end; ++i) {
        const Item& it = items_[i];
        for (int a = 0; a < 4; ++a) {
            lo[a] = std::min<int>(lo[a], it.v[a]);
            hi[a] = std::max<int>(hi[a], it.v[a]);
        }
    }
    int axis = 0;
    for (int a = 1; a < 4; ++a)
        if (hi[a] - lo[a] > hi[axis] - lo[axis])
            axis = a;
    return axis;
}

void PaletteBuilder::fillBuckets(const Box& box, int axis, int& lo, int& hi) {
    const Item* items = items_.data();
    Bucket* buckets = buckets_;
    lo = 255;
    hi = 0;
    for (uint32_t i = box.begin; i < box.end; ++i) {
        const Item& it = items[i];
        const uint32_t w = it.count;
        const int v = it.v[axis];
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        Bucket& b = buckets[v];
        b.w += w;
        for (int a = 0; a < 4; ++a) {
            const uint32_t x = it.v[a];
            b.s[a] += w * x;
            b.ss[a] += uint64_t(w) * (x * x);
        }
    }
}

// The cut along the box's axis that removes the most squared error, from
// the buckets: its threshold, and the error it removes as the priority.
void PaletteBuilder::bestCut(Box& box, int lo, int hi) {
    const Sums& all = box.sums;
    const double sw = toDouble(all.w);
    const double total[4] = {toDouble(all.s1[0]), toDouble(all.s1[1]), toDouble(all.s1[2]),
                             toDouble(all.s1[3])};
    const double totalSs = toDouble(all.s2[0] + all.s2[1] + all.s2[2] + all.s2[3]);
    auto sse = [](double w, const double* s, double ss) {
        return w > 0 ? ss - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2] + s[3] * s[3]) / w : 0.0;
    };
    const double whole = sse(sw, total, totalSs);
    Sums left = {0, {0, 0, 0, 0}, {0, 0, 0, 0}};
    for (int v = lo; v < hi; ++v) {
        Bucket& b = buckets_[v];
        if (b.w == 0)
            continue;
        left.w += b.w;
        for (int c = 0; c < 4; ++c) {
            left.s1[c] += b.s[c];
            left.s2[c] += b.ss[c];
        }
        b = Bucket{};
        const double ls[4] = {toDouble(left.s1[0]), toDouble(left.s1[1]), toDouble(left.s1[2]),
                              toDouble(left.s1[3])};
        const double rs[4] = {total[0] - ls[0], total[1] - ls[1], total[2] - ls[2],
                              total[3] - ls[3]};
        const double lw = toDouble(left.w);
        const double lss = toDouble(left.s2[0] + left.s2[1] + left.s2[2] + left.s2[3]);
        const double gain = whole - sse(lw, ls, lss) - sse(sw - lw, rs, totalSs - lss);
        if (gain > box.priority) {
            box.priority = gain;
            box.threshold = v;
            box.left = left;
        }
    }
    buckets_[hi] = Bucket{};
}

void PaletteBuilder::evaluate(Box& box, bool byPopulation) {
    box.priority = -1.0;
    box.axis = 0;
    box.threshold = 0;
    if (box.end - box.begin < 2)
        return;
    const Sums& sums = box.sums;
    int axis = 0;
    if (byPopulation) {
        axis = widestAxis(box);
    } else {
        // The axis of most squared error. Along an axis where the members
        // differ it is at least half a squared step (two members a step
        // apart, of one pixel each), where they do not it is zero but for
        // the rounding of the doubles.
        const double sw = toDouble(sums.w);
        double best = 0.25;
        for (int a = 0; a < 4; ++a) {
            const double s1 = toDouble(sums.s1[a]);
            const double spread = toDouble(sums.s2[a]) - s1 * s1 / sw;
            if (spread > best) {
                best = spread;
                axis = a;
            }
        }
        if (best == 0.25)
            return;
    }
    int lo, hi;
    fillBuckets(box, axis, lo, hi);
    if (hi == lo) {
        buckets_[lo] = Bucket{};
        return;
    }
    box.axis = axis;

    if (byPopulation) {
        // At the weighted median.
        Sums left = {0, {0, 0, 0, 0}, {0, 0, 0, 0}};
        box.threshold = -1;
        for (int v = lo; v <= hi; ++v) {
            Bucket& b = buckets_[v];
            if (box.threshold < 0 && v < hi) {
                left.w += b.w;
                for (int c = 0; c < 4; ++c) {
                    left.s1[c] += b.s[c];
                    left.s2[c] += b.ss[c];
                }
                if (left.w * 2 >= sums.w || v == hi - 1) {
                    box.threshold = v;
                    box.left = left;
                }
            }
            b = Bucket{};
        }
        box.priority = static_cast<double>(sums.w);
        return;
    }
    bestCut(box, lo, hi);
}

void PaletteBuilder::medianCut(int maxEntries, bool byPopulation) {
    boxes_.clear();
    Box first;
    first.begin = 0;
    first.end = static_cast<uint32_t>(items_.size());
    first.sums = sumsOf(first.begin, first.end);
    evaluate(first, byPopulation);
    boxes_.push_back(first);

    while (static_cast<int>(boxes_.size()) < maxEntries) {
        int pick = -1;
        for (size_t i = 0; i < boxes_.size(); ++i) {
            if (boxes_[i].priority > 0 && (pick < 0 || boxes_[i].priority > boxes_[pick].priority))
                pick = static_cast<int>(i);
        }
        if (pick < 0)
            break;
        Box box = boxes_[pick];
        const int axis = box.axis;
        const int threshold = box.threshold;
        Item* mid = std::partition(items_.data() + box.begin, items_.data() + box.end,
                                   [&](const Item& it) { return it.v[axis] <= threshold; });
        Box left = box, right = box;
        left.end = right.begin = static_cast<uint32_t>(mid - items_.data());
        // The sides' sums from the cut's: no pass over their members.
        left.sums = box.left;
        right.sums.w = box.sums.w - box.left.w;
        for (int a = 0; a < 4; ++a) {
            right.sums.s1[a] = box.sums.s1[a] - box.left.s1[a];
            right.sums.s2[a] = box.sums.s2[a] - box.left.s2[a];
        }
        evaluate(left, byPopulation);
        evaluate(right, byPopulation);
        boxes_[pick] = left;
        boxes_.push_back(right);
    }
}

void PaletteBuilder::reserve(size_t inputs) {
    items_.reserve(inputs);
    rounded_.reserve(inputs);
    cluster_.reserve(inputs);
    boxes_.reserve(256);
}

int PaletteBuilder::build(const std::vector<WeightedColour>& input, int maxEntries, int bits,
                          bool byPopulation, NearestSearch& search, _OsdColor* out) {
    const size_t n = input.size();
    if (n == 0 || maxEntries <= 0)
        return 0;
    cluster_.assign(n, 0);
    items_.resize(n);
    rounded_.resize(n);
    for (size_t i = 0; i < n; ++i) {
        Item& it = items_[i];
        for (int a = 0; a < 4; ++a)
            it.v[a] = static_cast<uint8_t>(bucketOf(input[i].c[a]));
        it.count = static_cast<uint32_t>(input[i].weight);
        it.input = static_cast<uint32_t>(i);
        rounded_[i] = Premul{it.v[0], it.v[1], it.v[2], it.v[3]};
    }
    medianCut(maxEntries, byPopulation);

    const int k = static_cast<int>(boxes_.size());
    std::array<double, 5>* sums = sums_;
    float centre[256][4];
    for (int b = 0; b < k; ++b) {
        double s[4] = {0, 0, 0, 0}, w = 0;
        for (uint32_t i = boxes_[b].begin; i < boxes_[b].end; ++i) {
            const uint32_t e = items_[i].input;
            const WeightedColour& wc = input[e];
            cluster_[e] = static_cast<uint8_t>(b);
            for (int c = 0; c < 4; ++c)
                s[c] += wc.weight * wc.c[c];
            w += wc.weight;
        }
        for (int c = 0; c < 4; ++c)
            centre[b][c] = static_cast<float>(s[c] / w);
    }

    Premul searchPalette[256];
    double* heaviest = heaviest_;
    uint32_t* heaviestKey = heaviestKey_;
    for (int pass = 0; pass <= kRefinePasses; ++pass) {
        for (int b = 0; b < k; ++b)
            searchPalette[b] = premulFromFloat(centre[b]);
        search.setPalette(searchPalette, k, true);
        const bool last = pass == kRefinePasses;
        for (int b = 0; b < k; ++b) {
            sums[b].fill(0.0);
            heaviest[b] = -1;
            heaviestKey[b] = 0;
        }
        for (size_t i = 0; i < n; ++i) {
            const WeightedColour& wc = input[i];
            const int b = search.find(rounded_[i], cluster_[i]);
            cluster_[i] = static_cast<uint8_t>(b);
            std::array<double, 5>& s = sums[b];
            s[0] += wc.weight * wc.c[0];
            s[1] += wc.weight * wc.c[1];
            s[2] += wc.weight * wc.c[2];
            s[3] += wc.weight * wc.c[3];
            s[4] += wc.weight;
            if (last && wc.heaviestWeight > heaviest[b]) {
                heaviest[b] = wc.heaviestWeight;
                heaviestKey[b] = wc.heaviestKey;
            }
        }
        for (int b = 0; b < k; ++b) {
            if (sums[b][4] <= 0)
                continue;
            for (int c = 0; c < 4; ++c)
                centre[b][c] = static_cast<float>(sums[b][c] / sums[b][4]);
        }
    }

    for (int b = 0; b < k; ++b) {
        if (sums[b][4] > 0 && heaviest[b] >= kSnapShare * sums[b][4])
            out[b] = roundToBits(unpackColour(heaviestKey[b]), bits);
        else
            out[b] = straightFromPremul(centre[b], bits);
    }
    return k;
}

} // namespace tovixquant
