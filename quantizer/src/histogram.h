// Colour histogram of one frame: the distinct colours, how many pixels have
// each, and for every pixel the number of its colour.
#ifndef TOVIX_QUANTIZER_HISTOGRAM_H
#define TOVIX_QUANTIZER_HISTOGRAM_H

#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <vector>

#include "CQuantizer.h"
#include "colour.h"

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

    // Moves pixels begin..end-1 of a frame `width` pixels wide that differ
    // from `previous` (the frame the histogram last saw there) from their
    // old colour to their new one, at the level of the last build, and
    // writes their new colour numbers to `pixelEntry`. They are taken in
    // runs of pixels that all differ, had one colour number and now have
    // one: changed(i, count, old, now) is called for the run of `count`
    // pixels from pixel i (old and now may be the same colour number: a key
    // stands for several colours above level 0, and all transparent pixels
    // are one). A colour no pixel has any more keeps its entry, counted 0.
    // Returns false when a new colour finds the table full (the histogram
    // must then be built afresh) or when `changed` returns false.
    template <typename Changed>
    bool update(const _OsdColor* pixels, const uint32_t* previous, size_t width, size_t begin,
                size_t end, uint32_t* pixelEntry, Changed changed);

    // Entries, including those counted 0 since an update.
    size_t size() const { return used_; }
    // Colours that some pixel has.
    size_t live() const { return live_; }
    int level() const { return level_; }
    const uint32_t* keys() const { return keys_.data(); }
    const uint32_t* counts() const { return counts_.data(); }

    size_t capacity() const { return keys_.size(); }

    static constexpr int kMaxLevel = 4;
    static constexpr size_t kMaxEntries = size_t(1) << 18;

  private:
    void clear();
    // Entry of `key`, added (counted 0) when new; false when the table is full.
    bool entryOf(uint32_t key, uint32_t hash, size_t& used, uint32_t& entry);
    uint32_t mask() const;
    // The first n slots in use (n a power of two).
    void useSlots(size_t n);
    // Twice as many slots in use, the `used` entries placed again.
    void growSlots(size_t used);

    // Entry number + 1, 0 when free. A frame starts on the first few of
    // them (for 720 x 480, 2^17 slots: 512 KB, where a menu's 36,000
    // colours fit and stay in the cache, which the whole table of 2 MB does
    // not), and the slots in use double whenever they are half full.
    std::vector<uint32_t> slots_;
    std::vector<uint32_t> keys_;
    std::vector<uint32_t> counts_;
    std::vector<uint32_t> slotOf_;
    // A recently seen colour: its key and entry number + 1, both 0 when the
    // slot is free (two 32-bit words, which 32-bit x86 compares one at a
    // time anyway).
    struct Recent {
        uint32_t key;
        uint32_t entryPlusOne;
    };
    // Recently seen colours, up to 2^16 of them, fewer for small frames (the
    // table is cleared for every frame).
    static constexpr size_t kMaxRecent = size_t(1) << 16;
    std::vector<Recent> recent_;
    // The same for update(), cleared by build().
    static constexpr int kChangeColourBits = 12;
    std::vector<Recent> changeColours_ = std::vector<Recent>(size_t(1) << kChangeColourBits);
    int recentShift_ = 32;
    uint32_t slotMask_ = 0;
    int slotShift_ = 32;
    size_t used_ = 0;
    size_t live_ = 0;
    int level_ = 0;
};

template <typename Changed>
bool Histogram::update(const _OsdColor* pixels, const uint32_t* previous, size_t width,
                       size_t begin, size_t end, uint32_t* pixelEntry, Changed changed) {
    const uint32_t keyMask = mask();
    uint32_t* const counts = counts_.data();
    size_t used = used_;
    size_t live = live_;
    bool done = true;
    // Runs of one colour look it up once, and so does a colour that the
    // pixel above has already (gradients across a bar, vertical edges).
    uint32_t runPixel = 0, runEntry = UINT32_MAX;
    size_t i = begin;
    while (i < end) {
        i += samePixels(pixels + i, previous + i, end - i);
        if (i == end)
            break;
        const uint32_t px = packColour(pixels[i]);
        uint32_t entry = runEntry;
        if (px != runPixel || runEntry == UINT32_MAX) {
            if (i >= width && packColour(pixels[i - width]) == px) {
                entry = pixelEntry[i - width];
            } else {
                // A small table of the colours that changes brought, which
                // stays in the cache from frame to frame, before the large one.
                const uint32_t key = normaliseKey(px & keyMask);
                const uint32_t hash = colourHash(key);
                Recent& seen = changeColours_[hash >> (32 - kChangeColourBits)];
                if (seen.key == key && seen.entryPlusOne != 0) {
                    entry = seen.entryPlusOne - 1;
                } else {
                    if (!entryOf(key, hash, used, entry)) {
                        done = false;
                        break;
                    }
                    seen = Recent{key, entry + 1};
                }
            }
            runPixel = px;
            runEntry = entry;
        }
        // The pixels after it of the same colour that had its old colour
        // number move with it, counted once.
        const uint32_t old = pixelEntry[i];
        size_t next = i + 1;
        while (next < end && packColour(pixels[next]) == px && previous[next] != px &&
               pixelEntry[next] == old)
            ++next;
        const uint32_t count = static_cast<uint32_t>(next - i);
        if (entry != old) {
            counts[old] -= count;
            live -= counts[old] == 0;
            live += counts[entry] == 0;
            counts[entry] += count;
            std::fill(pixelEntry + i, pixelEntry + next, entry);
        }
        if (!changed(i, count, old, entry)) {
            done = false;
            break;
        }
        i = next;
    }
    used_ = used;
    live_ = live;
    return done;
}

// The level to count a frame's colours at first: 2 when many of its pixels
// have a colour of their own (a photo with grain, icons with shading), as a
// sample of its pixels shows, else 0. A frame of at most 256 colours is always counted at 0.
int firstLevel(const _OsdColor* pixels, size_t count);

// The key of a pixel's colour at posterisation `level`, as build() counts it.
uint32_t posterise(uint32_t pixel, int level);

// The colour a posterised key stands for: the middle of the dropped range.
uint32_t representativeColour(uint32_t key, int level);

} // namespace tovixquant

#endif
