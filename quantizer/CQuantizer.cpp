// The quantiser's state: runs the stages for one frame and keeps what the
// next frame needs (the palette, the frame and its indices) so that
// unchanged parts of the OSD keep their colours. Compiled once per kernel
// build; CQuantizer (dispatch.cpp) reaches it through `engine`.
#include "CQuantizer.h"

#include <string.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "src/colour.h"
#include "src/engine.h"
#include "src/histogram.h"
#include "src/inputs.h"
#include "src/nearest.h"
#include "src/palette.h"
#include "src/remap.h"
#include "src/simd.h"
#include "src/state.h"

#include "../osdblock/osd_block.h"

namespace tovixquant {
namespace {

// The previous palette is kept while its error on the new frame stays within
// this factor (plus a small allowance) of the error it had when it was made.
constexpr double kReuseFactor = 1.1;
constexpr double kReuseAllowance = 0.05;
// Colours whose nearest entry is at most this far (squared) are left alone
// by error diffusion: the banding they could show is below one step, and
// diffusing would only add noise.
constexpr int32_t kDiffuseMinError = 8;

} // namespace

// Largest frame accepted: a frame larger than an OSD block can hold is
// refused rather than allocated.
constexpr uint64_t kMaxFramePixels = kOsdMaxPixels;

void State::reserve(size_t pixels, uint32_t width, uint32_t height, bool touch) {
    if (pixels > capacity || previousFrame.empty()) {
        // Growing loses what the buffers held, which only a frame of the
        // previous frame's size would look at, and this one is larger.
        previousFrame.grow(pixels, touch);
        previousIndices.grow(pixels, touch);
        previousNearest.grow(pixels, touch);
        pixelEntry.grow(pixels, touch);
        histogram.reserve(pixels);
        capacity = pixels;
    }
    const size_t colours = histogram.capacity();
    if (entryIndex.size() < colours) {
        entryIndex.resize(colours);
        entryDiffuse.resize(colours);
        entryAlt.resize(colours);
        entryErrors.resize(colours);
    }
    if (width > rowCapacity || errorRows.empty()) {
        rowCapacity = std::max(width, rowCapacity);
        errorRows.resize(2 * (static_cast<size_t>(rowCapacity) + 2) * 4);
        candidates.resize(rowCapacity);
    }
    if (height > rowsCapacity) {
        rowsCapacity = height;
        changes.resize(rowsCapacity);
    }
    inputs.reserve(colours);
    builder.reserve(PaletteInputs::kCapacity);
}

void State::setSearchPalette() {
    Premul premul[256];
    for (int i = 0; i < paletteCount; ++i)
        premul[i] = premultiply(palette[i]);
    search.setPalette(premul, paletteCount, true);
    searchCurrent = true;
}

// The frame has few enough colours to keep them all. Returns true when the
// previous palette already holds every one of them.
bool State::losslessPalette(size_t colours) {
    const uint32_t* keys = histogram.keys();
    if (havePrevious) {
        uint32_t sorted[256];
        int order[256];
        for (int i = 0; i < paletteCount; ++i)
            order[i] = i;
        std::sort(order, order + paletteCount, [&](int x, int y) {
            return paletteKeys[x] != paletteKeys[y] ? paletteKeys[x] < paletteKeys[y] : x < y;
        });
        for (int i = 0; i < paletteCount; ++i)
            sorted[i] = paletteKeys[order[i]];
        bool all = true;
        for (size_t e = 0; e < colours && all; ++e) {
            const uint32_t* hit = std::lower_bound(sorted, sorted + paletteCount, keys[e]);
            if (hit == sorted + paletteCount || *hit != keys[e])
                all = false;
            else
                entryIndex[e] = static_cast<uint8_t>(order[hit - sorted]);
        }
        if (all) {
            frameError = 0;
            return true;
        }
    }
    nextStamp(); // a new palette
    paletteCount = static_cast<int>(colours);
    for (size_t e = 0; e < colours; ++e) {
        paletteKeys[e] = keys[e];
        palette[e] = unpackColour(keys[e]);
        entryIndex[e] = static_cast<uint8_t>(e);
    }
    searchCurrent = false;
    paletteMse = 0;
    frameError = 0;
    return false;
}

int32_t State::mapEntry(size_t e, int guess) {
    const uint32_t key = histogram.keys()[e];
    const Premul q = premultiplyKey(representativeColour(key, histogram.level()));
    const int best = search.find(q, guess);
    entryIndex[e] = static_cast<uint8_t>(best);
    const int32_t d = distance2(q, search.entry(best));
    entryDiffuse[e] = key != 0 && d > kDiffuseMinError;
    entryErrors[e] = EntryErrors{stamp, d};
    return d;
}

void State::nextStamp() {
    if (++stamp == 0) {
        std::fill(entryErrors.begin(), entryErrors.end(), EntryErrors{0, 0});
        stamp = 1;
    }
}

// Maps the frame's colours to the previous palette and keeps it when the
// frame's error under it stays close to what it was when the palette was
// made. With a previous frame of the same size only the pixels that changed
// are looked at: the others keep their indices anyway.
bool State::reusePalette(size_t pixels, bool sameSize) {
    if (!havePrevious || paletteCount == 0)
        return false;
    const size_t colours = histogram.size();
    const uint32_t* keys = histogram.keys();
    // Transparent pixels need an exactly transparent entry.
    bool needTransparent = false;
    for (size_t e = 0; e < colours && !needTransparent; ++e)
        needTransparent = keys[e] == 0;
    if (needTransparent &&
        std::find(paletteKeys, paletteKeys + paletteCount, 0u) == paletteKeys + paletteCount)
        return false;
    if (!searchCurrent)
        setSearchPalette();
    const double limit =
        (paletteMse * kReuseFactor + kReuseAllowance) * static_cast<double>(pixels);
    uint64_t error;
    if (!(sameSize ? changedError(limit, error) : wholeError(limit, error)))
        return false;
    frameError = error;
    return true;
}

// The error of every colour of the frame under the palette, as long as it
// stays within the limit.
bool State::wholeError(double limit, uint64_t& total) {
    const size_t colours = histogram.size();
    const uint32_t* counts = histogram.counts();
    uint64_t error = 0;
    for (size_t e = 0; e < colours; ++e) {
        error += uint64_t(counts[e]) * static_cast<uint32_t>(mapEntry(e, -1));
        if (static_cast<double>(error) > limit)
            return false;
    }
    total = error;
    return true;
}

// The previous frame's error brought up to date over the changed pixels:
// out goes what each counted in the previous frame (its colour, as that
// frame's histogram saw it, to its nearest entry), in comes its new
// colour's error.
bool State::changedError(double limit, uint64_t& total) {
    uint64_t added = 0, removed = 0;
    for (size_t c = 0; c < changeCount; ++c) {
        const size_t rowStart = static_cast<size_t>(changes[c].y) * previousWidth;
        const size_t end = rowStart + changes[c].end;
        for (size_t i = rowStart + changes[c].begin; i < end; ++i) {
            // Unchanged stretches are skipped four pixels at a time.
            i += samePixels(frame + i, previousFrame.data() + i, end - i);
            if (i == end)
                break;
            const uint32_t e = pixelEntry[i];
            const EntryErrors& known = entryErrors[e];
            if (known.stamp != stamp) {
                // The entry the pixel had is a good first guess.
                mapEntry(e, previousIndices[i] < paletteCount ? previousIndices[i] : -1);
            }
            added += static_cast<uint32_t>(known.error);
            // What goes out is part of the total, so the new total is at
            // least what came in: once that is over the limit, the rest need
            // not be looked at.
            if (static_cast<double>(added) > limit)
                return false;
            const uint32_t before =
                representativeColour(posterise(previousFrame[i], previousLevel), previousLevel);
            removed += static_cast<uint32_t>(
                distance2(premultiplyKey(before), search.entry(previousNearest[i])));
        }
    }
    total = frameError - removed + added;
    return static_cast<double>(total) <= limit;
}

void State::newPalette(size_t pixels) {
    const size_t colours = histogram.size();
    const uint32_t* keys = histogram.keys();
    const uint32_t* counts = histogram.counts();
    bool transparent = false;
    for (size_t e = 0; e < colours; ++e)
        transparent = transparent || keys[e] == 0;

    nextStamp(); // a new palette
    inputs.gather(histogram);
    const int offset = transparent ? 1 : 0;
    _OsdColor chosen[256];
    const int k = builder.build(inputs.inputs(), static_cast<int>(maxColours) - offset, bits,
                                distribute, search, chosen);
    paletteCount = k + offset;
    if (transparent)
        palette[0] = _OsdColor{0, 0, 0, 0};
    for (int i = 0; i < k; ++i)
        palette[offset + i] = chosen[i];
    if (paletteCount == 0) {
        palette[0] = _OsdColor{0, 0, 0, 0};
        paletteCount = 1;
    }
    for (int i = 0; i < paletteCount; ++i)
        paletteKeys[i] = normaliseKey(packColour(palette[i]));
    setSearchPalette();

    // Local pointers: the byte stores below could otherwise alias the
    // vectors' own pointers, to be reloaded after every store.
    uint8_t* const index = entryIndex.data();
    uint8_t* const diffuses = entryDiffuse.data();
    const Premul* const premul = inputs.premultiplied();
    uint64_t error = 0;
    for (size_t e = 0; e < colours; ++e) {
        if (keys[e] == 0) {
            index[e] = 0;
            diffuses[e] = 0;
            continue;
        }
        const Premul q = premul[e];
        const int best = search.find(q, builder.clusterOf(inputs.inputOf(e)) + offset);
        index[e] = static_cast<uint8_t>(best);
        const int32_t d = distance2(q, search.entry(best));
        diffuses[e] = d > kDiffuseMinError;
        error += uint64_t(counts[e]) * static_cast<uint32_t>(d);
    }
    paletteMse = pixels ? static_cast<double>(error) / static_cast<double>(pixels) : 0;
    frameError = error;
}

RemapJob State::remapJob(uint32_t width, uint32_t height, bool keepIndices, bool diffuseNow,
                         unsigned char* indices) {
    RemapJob job;
    job.pixels = frame;
    job.width = width;
    job.height = height;
    job.pixelEntry = pixelEntry.data();
    job.entryIndex = entryIndex.data();
    job.entryDiffuse = entryDiffuse.data();
    job.entryAlt = entryAlt.data();
    job.previousPixels = keepIndices ? previousFrame.data() : nullptr;
    job.previousIndices = previousIndices.data();
    job.changes = changes.data();
    job.changeCount = changeCount;
    job.savePixels = previousFrame.data();
    job.saveIndices = previousIndices.data();
    job.saveNearest = previousNearest.data();
    job.diffuse = diffuseNow;
    job.errorRows = errorRows.data();
    job.candidates = candidates.data();
    job.indices = indices;
    return job;
}

bool State::stepError(size_t pixels, uint64_t& total) {
    if (paletteCount == 0)
        return false;
    if (!searchCurrent)
        setSearchPalette();
    const bool haveTransparent =
        std::find(paletteKeys, paletteKeys + paletteCount, 0u) != paletteKeys + paletteCount;
    const double limit =
        (paletteMse * kReuseFactor + kReuseAllowance) * static_cast<double>(pixels);
    // In integers for the test on every pixel: a total is over the limit
    // when it is over its integer part.
    const uint64_t limitWhole = static_cast<uint64_t>(limit);
    const uint32_t* keys = histogram.keys();
    const int level = histogram.level();
    // As in reusePalette: out goes what each changed pixel counted in the
    // previous frame, in comes its new colour's error, each found once per
    // colour while the palette is kept. What the old colour counted is its
    // distance to the nearest entry the pixel had, its own mapping under
    // this palette.
    uint64_t added = 0, removed = 0;
    int guess = -1; // the last colour's entry: neighbours are often alike
    auto changed = [&](size_t i, uint32_t old, uint32_t now) {
        EntryErrors& before = entryErrors[old];
        if (before.stamp != stamp) {
            const int nearest = previousNearest[i];
            const int32_t d = distance2(premultiplyKey(representativeColour(keys[old], level)),
                                        search.entry(nearest));
            entryIndex[old] = static_cast<uint8_t>(nearest);
            entryDiffuse[old] = keys[old] != 0 && d > kDiffuseMinError;
            before = EntryErrors{stamp, d};
        }
        removed += static_cast<uint32_t>(before.error);
        const EntryErrors& after = entryErrors[now];
        if (after.stamp != stamp) {
            if (keys[now] == 0 && !haveTransparent)
                return false; // transparent pixels need an exactly transparent entry
            mapEntry(now, guess >= 0 ? guess : previousNearest[i]);
        }
        guess = entryIndex[now];
        added += static_cast<uint32_t>(after.error);
        // The new total is at least what came in.
        return added <= limitWhole;
    };
    for (size_t c = 0; c < changeCount; ++c) {
        const size_t rowStart = static_cast<size_t>(changes[c].y) * previousWidth;
        if (!histogram.update(frame, previousFrame.data(), previousWidth,
                              rowStart + changes[c].begin, rowStart + changes[c].end,
                              pixelEntry.data(), changed))
            return false;
    }
    total = frameError - removed + added;
    return static_cast<double>(total) <= limit;
}

bool State::step(uint32_t width, uint32_t height, unsigned char* indices) {
    const size_t n = static_cast<size_t>(width) * height;
    if (changeCount == 0) {
        memcpy(indices, previousIndices.data(), n);
        return true;
    }
    bool diffuseNow = diffuse;
    if (exact) {
        const size_t known = histogram.size();
        auto any = [](size_t, uint32_t, uint32_t) { return true; };
        for (size_t c = 0; c < changeCount; ++c) {
            const size_t rowStart = static_cast<size_t>(changes[c].y) * width;
            if (!histogram.update(frame, previousFrame.data(), width, rowStart + changes[c].begin,
                                  rowStart + changes[c].end, pixelEntry.data(), any))
                return false;
        }
        // Still exact when every new colour is in the palette.
        const uint32_t* keys = histogram.keys();
        for (size_t e = known; e < histogram.size(); ++e) {
            const uint32_t* hit = std::find(paletteKeys, paletteKeys + paletteCount, keys[e]);
            if (hit == paletteKeys + paletteCount)
                return false;
            entryIndex[e] = static_cast<uint8_t>(hit - paletteKeys);
            entryDiffuse[e] = 0;
        }
        diffuseNow = false;
    } else {
        uint64_t error;
        if (!stepError(n, error))
            return false;
        // A frame that has become few enough colours to keep them all is
        // made exact by a full run.
        if (histogram.level() == 0 && histogram.live() <= maxColours)
            return false;
        frameError = error;
    }
    const RemapJob job = remapJob(width, height, true, diffuseNow, indices);
    if (diffuseNow && !searchCurrent)
        setSearchPalette();
    remap(job, search);
    return true;
}

void State::full(uint32_t width, uint32_t height, bool sameSize, unsigned char* indices) {
    const size_t n = static_cast<size_t>(width) * height;
    nextStamp(); // the histogram's entries are numbered afresh
    int level = firstLevel(frame, n);
    // The last level has no more colours than the table holds.
    while (!histogram.build(frame, n, level, pixelEntry.data()) && level < Histogram::kMaxLevel)
        ++level;
    const size_t colours = histogram.size();

    bool representable = level == 0 && colours <= maxColours;
    for (size_t e = 0; e < colours && representable && bits < 8; ++e)
        representable =
            packColour(roundToBits(unpackColour(histogram.keys()[e]), bits)) == histogram.keys()[e];

    bool kept;
    bool diffuseNow = diffuse;
    if (representable) {
        kept = losslessPalette(colours);
        diffuseNow = false; // every colour is exact
    } else {
        kept = reusePalette(n, sameSize);
        if (!kept)
            newPalette(n);
    }
    exact = representable;

    const RemapJob job = remapJob(width, height, kept && sameSize, diffuseNow, indices);
    if (diffuseNow && !searchCurrent)
        setSearchPalette();
    remap(job, search);
}

int State::run(const _OsdColor* pixels, uint32_t width, uint32_t height, _OsdColor* out,
               unsigned char* indices) {
    const size_t n = static_cast<size_t>(width) * height;
    try {
        reserve(n, width, height, false);
    } catch (const std::exception&) {
        // Out of memory, or a frame larger than memory can address. A
        // buffer may have grown (and lost the previous frame) before another
        // failed: start afresh with the next frame.
        havePrevious = false;
        return -1;
    }
    if (n == 0) {
        memset(out, 0, 256 * sizeof(_OsdColor));
        havePrevious = false;
        return 0;
    }
    // The frame is read where it is. Every stage treats a fully transparent
    // pixel as (0,0,0,0) whatever its colour bytes.
    frame = pixels;

    // Most frames of a session are the previous one with a few rows
    // changed: their cost follows the change.
    const bool sameSize = havePrevious && width == previousWidth && height == previousHeight;
    changeCount =
        sameSize ? findChanges(frame, previousFrame.data(), width, height, changes.data()) : 0;
    if (!sameSize || !step(width, height, indices)) {
        full(width, height, sameSize, indices);
        previousLevel = histogram.level();
    }

    memcpy(out, palette, static_cast<size_t>(paletteCount) * sizeof(_OsdColor));
    memset(out + paletteCount, 0, static_cast<size_t>(256 - paletteCount) * sizeof(_OsdColor));
    frame = nullptr;
    previousWidth = width;
    previousHeight = height;
    havePrevious = true;
    return 0;
}

// The entry points of this build (src/engine.h).
namespace {

static_assert(alignof(State) <= kBufferAlignment, "State::operator new aligns to kBufferAlignment");

State* stateOf(void* state) {
    return static_cast<State*>(state);
}

TOVIXENGINE_ENTRY void* create(unsigned maxColours, unsigned bitsPerChannel, unsigned width,
                               unsigned height) {
    State* state = new State(maxColours, bitsPerChannel);
    try {
        state->reserve(static_cast<size_t>(width) * height, width, height, true);
    } catch (const std::exception&) {
        // Grown again on the first frame.
    }
    return state;
}

void destroy(void* state) {
    delete stateOf(state);
}

void setErrorDiffusion(void* state, bool enable) {
    stateOf(state)->diffuse = enable;
}

void setDistributeClut(void* state, bool enable) {
    State* s = stateOf(state);
    if (s->distribute != enable)
        s->havePrevious = false;
    s->distribute = enable;
}

void setFullClutSearch(void* state, bool enable) {
    stateOf(state)->search.setFullSearch(enable);
}

TOVIXENGINE_ENTRY int process(void* state, const _OsdColor* pixels, uint32_t width, uint32_t height,
                              _OsdColor* palette, unsigned char* indices) {
    const uint64_t n = static_cast<uint64_t>(width) * height;
    if (n > kMaxFramePixels)
        return -1;
    if (palette == nullptr || (n != 0 && (pixels == nullptr || indices == nullptr)))
        return -1;
    DoublePrecision precision;
    return stateOf(state)->run(pixels, width, height, palette, indices);
}

} // namespace

extern const tovixengine::Engine engine;
const tovixengine::Engine engine = {TOVIXQUANT_SSE2 ? "sse2" : "scalar",
                                    create,
                                    destroy,
                                    setErrorDiffusion,
                                    setDistributeClut,
                                    setFullClutSearch,
                                    process};

} // namespace tovixquant
