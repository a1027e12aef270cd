// The quantiser's state from frame to frame: the stages' buffers, the
// palette, and what the next frame needs of the previous one. CQuantizer
// runs it; the tests look at it directly.
#ifndef TOVIX_QUANTIZER_STATE_H
#define TOVIX_QUANTIZER_STATE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "histogram.h"
#include "inputs.h"
#include "nearest.h"
#include "palette.h"
#include "remap.h"
#include "simd.h"

namespace tovixquant {

// Storage for one value per pixel, aligned to kBufferAlignment. Every value
// is written before it is read, so growing for a larger frame leaves the new
// memory as it is and costs no pass over it; at construction (`touch`) it is
// cleared once, so that the first frame does not meet the system's
// first-touch faults.
template <typename T> class PixelBuffer {
  public:
    void grow(size_t n, bool touch) {
        if (n <= size_)
            return;
        if (n > SIZE_MAX / sizeof(T))
            throw std::bad_alloc();
        data_.reset(static_cast<T*>(allocateAligned(n * sizeof(T))));
        size_ = n;
        if (touch)
            memset(data_.get(), 0, n * sizeof(T));
    }
    bool empty() const { return size_ == 0; }
    T* data() { return data_.get(); }
    T& operator[](size_t i) { return data_.get()[i]; }

  private:
    struct Free {
        void operator()(T* p) const { freeAligned(p); }
    };
    std::unique_ptr<T, Free> data_;
    size_t size_ = 0;
};

struct State {
    unsigned maxColours;
    int bits;
    bool diffuse = true;
    bool distribute = false;

    size_t capacity = 0; // pixels the frame buffers hold
    uint32_t rowCapacity = 0;
    uint32_t rowsCapacity = 0;
    const _OsdColor* frame = nullptr; // the frame being quantised
    PixelBuffer<uint32_t> previousFrame;
    PixelBuffer<uint8_t> previousIndices;
    // Entry nearest each pixel's colour in the previous frame, before
    // dithering chose between it and the second nearest: what the pixel
    // counts in frameError.
    PixelBuffer<uint8_t> previousNearest;
    PixelBuffer<uint32_t> pixelEntry;
    std::vector<uint8_t> entryIndex;
    std::vector<uint8_t> entryDiffuse; // 1 when the colour is worth dithering (see RemapJob)
    std::vector<uint8_t> entryAlt;
    std::vector<uint8_t> entryShare;
    std::vector<uint8_t> candidates;
    // A mended palette's scratch: the changed pixels' colours (histogram
    // entries), their pixels in the change (0 outside it), and the colours
    // the new entries are chosen for.
    std::vector<uint32_t> regionColours;
    std::vector<uint32_t> regionCount;
    std::vector<WeightedColour> regionInputs;
    std::vector<uint8_t> regionGuess; // each changed colour's nearest kept entry
    std::vector<int32_t> regionKept;  // and its distance to it
    std::vector<int32_t> inputKept;   // each input's distance to the nearest kept entry
    size_t regionSize = 0;
    bool regionFull = false;       // more colours than regionColours holds
    uint32_t regionLeft[256] = {}; // changed pixels that showed each entry
    bool gatherEarly = false;      // the last step mended the palette
    // Pixels that show each entry, while shownValid.
    uint32_t shown[256] = {};
    bool shownValid = false;
    // The rows that differ from the previous frame (of the same size).
    std::vector<RowChange> changes;
    size_t changeCount = 0;

    Histogram histogram;
    PaletteInputs inputs;
    PaletteBuilder builder;
    // Two searches: `search` holds the palette (while searchCurrent), the
    // other what a mend leaves there (the palette before it), so that
    // undoing the mend need not set that palette's search up again.
    NearestSearch searches[2];
    NearestSearch* search = &searches[0];
    NearestSearch& spareSearch() { return searches[search == &searches[0] ? 1 : 0]; }

    _OsdColor palette[256];
    uint32_t paletteKeys[256];
    int paletteCount = 0;
    bool searchCurrent = false; // search holds `palette`
    double paletteMse = 0;      // error per pixel when the palette was made
    // Total squared error of the last frame's colours to their nearest
    // entries, kept up to date from frame to frame while the palette is kept.
    uint64_t frameError = 0;
    // A histogram entry's mapping to the palette (entryIndex, entryDiffuse
    // and this error) holds while the entry carries the current `stamp`,
    // which moves on whenever the histogram is built afresh or the palette
    // changes: in a session of small changes a colour seen again is not
    // looked up again.
    struct EntryErrors {
        uint32_t stamp;
        int32_t error; // squared distance of the colour to its nearest entry
    };
    std::vector<EntryErrors> entryErrors;
    uint32_t stamp = 0;

    // The last mend, remembered so that the next one can undo it when the
    // change goes back (a pop-up that comes and goes): the palette before
    // it, and from then on every colour's mapping as it was before its
    // first change. A mend that undoes another is remembered the same way.
    struct LoggedMapping {
        uint32_t entry;
        uint8_t index;
        EntryErrors errors;
    };
    struct MendMemory {
        bool valid = false;
        bool searchKept = false; // spareSearch() holds `palette`
        uint32_t stamp = 0;      // the mappings' stamp, which a new histogram moves on
        int paletteCount = 0;
        _OsdColor palette[256];
        uint32_t keys[256];
        int32_t reach[256];
        std::vector<LoggedMapping> log;
        size_t logged = 0;
        // Remembers the state's palette as it stands; the log stays.
        void take(const State& state);
    };
    // Mappings logged per mend at most; a mend that changes more is not
    // remembered.
    static constexpr size_t kMendLog = 16384;
    MendMemory mends[2];
    int lastMend = 0; // mends[lastMend] is the last one, while valid
    // Marks of the histogram entries already settled by an undo.
    std::vector<uint32_t> entryMark;
    uint32_t markGeneration = 0;

    // Every pixel's previousNearest is its colour's nearest entry under the
    // palette. Not so after a mended palette, whose new entries may be
    // nearer to colours of pixels that were left as they were.
    bool nearestExact = true;
    // entryIndex holds the nearest entry of every colour some pixel has
    // (after a palette kept by looking at the changed pixels only, it holds
    // theirs alone), and entryReach[k] is at least the squared distance of
    // each such colour mapped to entry k.
    bool mappingsValid = false;
    // How much more error the frame shows than frameError counts, at most:
    // pixels left as they were keep their entries when a mended palette has
    // a nearer one. Kept palettes are held to the limit with it.
    uint64_t lagError = 0;
    int32_t entryReach[256] = {};
    bool havePrevious = false;
    bool exact = false; // the previous frame was reproduced exactly
    uint32_t previousWidth = 0, previousHeight = 0;
    int previousLevel = 0; // posterisation level of the previous frame's histogram

    State(unsigned colours, unsigned bitsPerChannel)
        : maxColours(std::min(256u, std::max(1u, colours))),
          bits(static_cast<int>(std::min(8u, std::max(1u, bitsPerChannel)))) {
        memset(palette, 0, sizeof palette);
        memset(paletteKeys, 0, sizeof paletteKeys);
    }

    // The search's tables are read with aligned SSE loads: the state is
    // aligned whatever the runtime's allocator gives.
    static void* operator new(size_t bytes) { return allocateAligned(bytes); }
    static void operator delete(void* p) { freeAligned(p); }

    void reserve(size_t pixels, uint32_t width, uint32_t height, bool touch);
    int run(const _OsdColor* pixels, uint32_t width, uint32_t height, _OsdColor* out,
            unsigned char* indices);
    // A frame of the previous frame's size whose `changes` are known, run
    // from the previous frame's histogram and palette at the cost of what
    // changed. False when that cannot give what a full run gives: the frame
    // then needs a full run.
    bool step(uint32_t width, uint32_t height, unsigned char* indices);
    // A frame quantised from its whole histogram.
    void full(uint32_t width, uint32_t height, bool sameSize, unsigned char* indices);
    // The histogram brought up to date over the changed rows, and with it
    // the error under the previous palette (into `total`); false when that
    // palette no longer serves (or the histogram must be built afresh).
    // Over: the histogram is up to date but the palette serves the frame
    // worse than the limit allows; Rebuild: the frame needs a full run.
    enum class StepFit { Fits, Over, Rebuild };
    StepFit stepError(size_t pixels, uint64_t& total);
    // The palette mended for the changed pixels, keeping every entry the
    // others show; false when the frame needs a full run.
    bool patchPalette(uint32_t width, uint32_t height, uint64_t& total);
    void countShown(size_t pixels);
    void refineMended(int added, const int* slots);
    // The `count` changed pixels from pixel i, now of histogram colour
    // `colour`, counted in the change's colours and in the entries they
    // leave; gatherRegion does so for every changed pixel up to pixel `last`.
    void gatherRun(size_t i, uint32_t count, uint32_t colour);
    void gatherRegion(size_t last);
    void clearRegion();
    // The palette as it is now, and the mappings from now on, remembered as
    // the last mend (which is about to change them).
    void rememberMend();
    void forgetMends() { mends[0].valid = mends[1].valid = false; }
    // Histogram entry e's mapping, before it changes, into the last mend's log.
    void logMapping(size_t e) {
        MendMemory& m = mends[lastMend];
        if (!m.valid)
            return;
        if (m.logged == m.log.size())
            m.valid = false;
        else
            m.log[m.logged++] =
                LoggedMapping{static_cast<uint32_t>(e), entryIndex[e], entryErrors[e]};
    }
    // The last mend undone, when every entry it moved is free again and the
    // palette before it serves the frame within the limit; `total` as in
    // patchPalette. False, with nothing changed, otherwise.
    bool undoMend(size_t pixels, uint64_t& total);
    // Every colour's second-nearest entry to be found again (the palette
    // changed).
    void forgetSecondEntries();
    // The most error a kept palette may give a frame of `pixels` pixels.
    double errorLimit(size_t pixels) const;
    bool losslessPalette(size_t colours);
    // Maps histogram entry e to its nearest entry (`guess` first), stamps
    // it and returns the squared distance.
    int32_t mapEntry(size_t e, int guess);
    // Maps histogram entry e to palette entry `best` at squared distance d.
    void mapTo(size_t e, int best, int32_t d);
    // Colour e's mapping (its entry, distance and dithering flag) as given,
    // with nothing logged.
    void setMapping(size_t e, int index, EntryErrors errors);
    void nextStamp();
    // With sameSize, only the pixels of `changes` are looked at.
    bool reusePalette(size_t pixels, bool sameSize);
    bool wholeError(double limit, uint64_t& total);
    bool changedError(double limit, uint64_t& total);
    void newPalette(size_t pixels);
    void setSearchPalette();
    // The remap of the frame being quantised; keepIndices: pixels equal to
    // the previous frame's keep their indices.
    RemapJob remapJob(uint32_t width, uint32_t height, bool keepIndices, bool diffuseNow,
                      unsigned char* indices);
};

} // namespace tovixquant

#endif
