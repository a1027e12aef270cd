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
// A palette made afresh for a frame of many colours leaves this share of
// its entries (one in sixteen) unused, for a later change to mend it with:
// a pop-up over a menu finds entries for its own colours without moving any
// that the rest of the screen shows.
constexpr int kSpareShare = 16;
// Refinement passes over a mended palette's new entries.
constexpr int kMendPasses = 2;
// Colours whose nearest entry is at most this far (squared) are left alone
// by dithering: the banding they could show is below one step, and
// dithering would only add noise.
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
        entryShare.resize(colours);
        entryErrors.resize(colours);
        regionCount.resize(colours);
        entryMark.resize(colours);
    }
    for (MendMemory& m : mends)
        if (m.log.empty())
            m.log.resize(kMendLog);
    if (regionColours.empty()) {
        regionColours.resize(PaletteInputs::kCapacity);
        regionGuess.resize(PaletteInputs::kCapacity);
        regionKept.resize(PaletteInputs::kCapacity);
        inputKept.resize(PaletteInputs::kCapacity);
        regionInputs.reserve(PaletteInputs::kCapacity);
    }
    if (width > rowCapacity || candidates.empty()) {
        rowCapacity = std::max(width, rowCapacity);
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
    search->setPalette(premul, paletteCount, true);
    searchCurrent = true;
}

// The frame has few enough colours to keep them all. Returns true when the
// previous palette already holds every one of them.
bool State::losslessPalette(size_t colours) {
    const uint32_t* keys = histogram.keys();
    std::fill(entryReach, entryReach + 256, 0);
    mappingsValid = true;
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
    const int best = search->find(q, guess);
    const int32_t d = distance2(q, search->entry(best));
    mapTo(e, best, d);
    return d;
}

void State::setMapping(size_t e, int index, EntryErrors errors) {
    entryIndex[e] = static_cast<uint8_t>(index);
    entryErrors[e] = errors;
    entryDiffuse[e] = histogram.keys()[e] != 0 && errors.error > kDiffuseMinError;
}

void State::mapTo(size_t e, int best, int32_t d) {
    logMapping(e);
    setMapping(e, best, EntryErrors{stamp, d});
    entryReach[best] = std::max(entryReach[best], d);
}

double State::errorLimit(size_t pixels) const {
    return (paletteMse * kReuseFactor + kReuseAllowance) * static_cast<double>(pixels);
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
    const double limit = errorLimit(pixels);
    uint64_t error;
    // The changed pixels alone tell the error when every pixel's nearest
    // entry is known to be its colour's.
    const bool changedOnly = sameSize && nearestExact;
    if (!(changedOnly ? changedError(limit, error) : wholeError(limit, error)))
        return false;
    // Only the changed pixels' colours have been mapped.
    mappingsValid = !changedOnly;
    frameError = error;
    return true;
}

// The limit (never negative) as a whole number, to be compared with a sum
// as it grows: the sum stays far below 2^53, where a double holds it
// exactly, so this decides as comparing it as a double would, without
// converting a 64-bit number each time (a slow one on 32-bit x86).
static uint64_t wholeLimit(double limit) {
    return limit <= 0                       ? 0
           : limit < 18446744073709551616.0 ? static_cast<uint64_t>(limit)
                                            : UINT64_MAX;
}

// The error of every colour of the frame under the palette, as long as it
// stays within the limit.
bool State::wholeError(double limit, uint64_t& total) {
    const size_t colours = histogram.size();
    const uint32_t* counts = histogram.counts();
    const uint64_t most = wholeLimit(limit);
    uint64_t error = 0;
    for (size_t e = 0; e < colours; ++e) {
        error += uint64_t(counts[e]) * static_cast<uint32_t>(mapEntry(e, -1));
        if (error > most)
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
    const uint64_t most = wholeLimit(limit);
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
            if (added > most)
                return false;
            const uint32_t before =
                representativeColour(posterise(previousFrame[i], previousLevel), previousLevel);
            removed += static_cast<uint32_t>(
                distance2(premultiplyKey(before), search->entry(previousNearest[i])));
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
    const int spare = static_cast<int>(maxColours) / kSpareShare;
    const int k = builder.build(inputs.inputs(), static_cast<int>(maxColours) - offset - spare,
                                bits, distribute, *search, chosen);
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
    EntryErrors* const errors = entryErrors.data();
    const Premul* const premul = inputs.premultiplied();
    int32_t* const reach = entryReach;
    std::fill(reach, reach + 256, 0);
    uint64_t error = 0;
    for (size_t e = 0; e < colours; ++e) {
        if (keys[e] == 0) {
            index[e] = 0;
            diffuses[e] = 0;
            errors[e] = EntryErrors{stamp, 0};
            continue;
        }
        const Premul q = premul[e];
        const int best = search->find(q, builder.clusterOf(inputs.inputOf(e)) + offset);
        index[e] = static_cast<uint8_t>(best);
        const int32_t d = distance2(q, search->entry(best));
        diffuses[e] = d > kDiffuseMinError;
        errors[e] = EntryErrors{stamp, d};
        reach[best] = std::max(reach[best], d);
        error += uint64_t(counts[e]) * static_cast<uint32_t>(d);
    }
    mappingsValid = true;
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
    job.keys = histogram.keys();
    job.level = histogram.level();
    job.entryIndex = entryIndex.data();
    job.entryDiffuse = entryDiffuse.data();
    job.entryAlt = entryAlt.data();
    job.entryShare = entryShare.data();
    job.previousPixels = keepIndices ? previousFrame.data() : nullptr;
    job.previousIndices = previousIndices.data();
    job.changes = changes.data();
    job.changeCount = changeCount;
    job.savePixels = previousFrame.data();
    job.saveIndices = previousIndices.data();
    job.saveNearest = previousNearest.data();
    job.shown = keepIndices && shownValid ? shown : nullptr;
    job.diffuse = diffuseNow;
    job.candidates = candidates.data();
    job.indices = indices;
    return job;
}

State::StepFit State::stepError(size_t pixels, uint64_t& total) {
    if (paletteCount == 0)
        return StepFit::Rebuild;
    if (!searchCurrent)
        setSearchPalette();
    const bool haveTransparent =
        std::find(paletteKeys, paletteKeys + paletteCount, 0u) != paletteKeys + paletteCount;
    const double limit = errorLimit(pixels);
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
    bool over = false; // past the limit: the rest only brings the histogram up to date
    size_t overAt = 0; // the pixel at which it went over
    int guess = -1;    // the last colour's entry: neighbours are often alike
    // After a mend the next change is likely to need one too (a pop-up
    // that comes and goes): it is gathered as the histogram is brought up
    // to date rather than in a second pass over it.
    const bool gathering = gatherEarly;
    auto changed = [&](size_t i, uint32_t count, uint32_t old, uint32_t now) {
        EntryErrors& before = entryErrors[old];
        if (before.stamp != stamp) {
            const int nearest = previousNearest[i];
            mapTo(old, nearest,
                  distance2(premultiplyKey(representativeColour(keys[old], level)),
                            search->entry(nearest)));
        }
        // What went out is counted even past the limit, and from there on
        // the change is gathered: a mended palette starts from both.
        removed += uint64_t(count) * static_cast<uint32_t>(before.error);
        if (over || gathering)
            gatherRun(i, count, now);
        if (over)
            return true;
        overAt = i + count - 1;
        const EntryErrors& after = entryErrors[now];
        if (after.stamp != stamp) {
            if (keys[now] == 0 && !haveTransparent) {
                over = true; // transparent pixels need an exactly transparent entry
                return true;
            }
            mapEntry(now, guess >= 0 ? guess : previousNearest[i]);
        }
        guess = entryIndex[now];
        added += uint64_t(count) * static_cast<uint32_t>(after.error);
        // The new total is at least what came in.
        over = added > limitWhole;
        return true;
    };
    for (size_t c = 0; c < changeCount; ++c) {
        const size_t rowStart = static_cast<size_t>(changes[c].y) * previousWidth;
        if (!histogram.update(frame, previousFrame.data(), previousWidth,
                              rowStart + changes[c].begin, rowStart + changes[c].end,
                              pixelEntry.data(), changed))
            return StepFit::Rebuild;
    }
    total = frameError - removed + added;
    if (!over && static_cast<double>(total + lagError) <= limit)
        return StepFit::Fits;
    // The change up to where it went over gathered as the rest was.
    if (!gathering)
        gatherRegion(over ? overAt : SIZE_MAX);
    total = frameError - removed;
    return StepFit::Over;
}

void State::gatherRun(size_t i, uint32_t count, uint32_t colour) {
    // Runs of one index counted whole, as a count moved pixel by pixel
    // waits for its own previous store.
    const uint8_t* shows = previousIndices.data();
    uint32_t run = 1;
    for (size_t x = i + 1; x < i + count; ++x) {
        if (shows[x] == shows[x - 1]) {
            ++run;
        } else {
            regionLeft[shows[x - 1]] += run;
            run = 1;
        }
    }
    regionLeft[shows[i + count - 1]] += run;
    if (regionCount[colour] != 0)
        regionCount[colour] += count;
    else if (regionSize < regionColours.size())
        regionCount[regionColours[regionSize++] = colour] = count;
    else
        regionFull = true;
}

void State::gatherRegion(size_t last) {
    const uint32_t* entries = pixelEntry.data();
    for (size_t c = 0; c < changeCount; ++c) {
        const size_t rowStart = static_cast<size_t>(changes[c].y) * previousWidth;
        const size_t end = rowStart + changes[c].end;
        size_t i = rowStart + changes[c].begin;
        while (i < end) {
            i += samePixels(frame + i, previousFrame.data() + i, end - i);
            if (i == end)
                break;
            if (i > last)
                return;
            // The pixels after it that differ too and have its colour.
            const size_t stop = std::min(end, last + 1);
            size_t next = i + 1;
            while (next < stop && entries[next] == entries[i] &&
                   packColour(frame[next]) != previousFrame[next])
                ++next;
            gatherRun(i, static_cast<uint32_t>(next - i), entries[i]);
            i = next;
        }
    }
}

// The pixels that show each entry, counted afresh from the previous frame's
// indices; the remap keeps the counts up to date from then on.
void State::countShown(size_t pixels) {
    uint32_t counts[4][256] = {};
    const uint8_t* indices = previousIndices.data();
    size_t i = 0;
    for (; i + 4 <= pixels; i += 4) {
        ++counts[0][indices[i]];
        ++counts[1][indices[i + 1]];
        ++counts[2][indices[i + 2]];
        ++counts[3][indices[i + 3]];
    }
    for (; i < pixels; ++i)
        ++counts[0][indices[i]];
    for (int k = 0; k < 256; ++k)
        shown[k] = counts[0][k] + counts[1][k] + counts[2][k] + counts[3][k];
    shownValid = true;
}

void State::clearRegion() {
    for (size_t r = 0; r < regionSize; ++r)
        regionCount[regionColours[r]] = 0;
    regionSize = 0;
    regionFull = false;
    memset(regionLeft, 0, sizeof regionLeft);
}

// The new entries of a mended palette moved to the mean of the inputs that
// are nearer to them than to any kept entry (inputKept): the kept entries
// serve some of the change's colours, and the new ones should not be spent
// on those.
void State::refineMended(int added, const int* slots) {
    for (int pass = 0; pass < kMendPasses; ++pass) {
        Premul fresh[256];
        for (int j = 0; j < added; ++j)
            fresh[j] = premultiply(palette[slots[j]]);
        double sums[256][5] = {};
        double heaviest[256];
        uint32_t heaviestKey[256] = {};
        std::fill(heaviest, heaviest + 256, -1.0);
        for (size_t i = 0; i < regionInputs.size(); ++i) {
            const WeightedColour& wc = regionInputs[i];
            const Premul q = {static_cast<int16_t>(wc.c[0]), static_cast<int16_t>(wc.c[1]),
                              static_cast<int16_t>(wc.c[2]), static_cast<int16_t>(wc.c[3])};
            int32_t bestD = inputKept[i];
            int b = -1;
            for (int j = 0; j < added; ++j) {
                const int32_t d = distance2(q, fresh[j]);
                if (d < bestD) {
                    bestD = d;
                    b = slots[j];
                }
            }
            if (b < 0)
                continue;
            for (int c = 0; c < 4; ++c)
                sums[b][c] += wc.weight * wc.c[c];
            sums[b][4] += wc.weight;
            if (wc.heaviestWeight > heaviest[b]) {
                heaviest[b] = wc.heaviestWeight;
                heaviestKey[b] = wc.heaviestKey;
            }
        }
        for (int j = 0; j < added; ++j) {
            const int slot = slots[j];
            if (sums[slot][4] <= 0)
                continue;
            float centre[4];
            for (int c = 0; c < 4; ++c)
                centre[c] = static_cast<float>(sums[slot][c] / sums[slot][4]);
            palette[slot] = heaviest[slot] >= 0.5 * sums[slot][4]
                                ? roundToBits(unpackColour(heaviestKey[slot]), bits)
                                : straightFromPremul(centre, bits);
            paletteKeys[slot] = normaliseKey(packColour(palette[slot]));
        }
    }
}

void State::forgetSecondEntries() {
    // Eight flags (0, 1 or 2 each) at a time: a byte's two low bits folded
    // into its lowest.
    uint8_t* const flags = entryDiffuse.data();
    const size_t colours = histogram.size();
    size_t e = 0;
    for (; e + 8 <= colours; e += 8) {
        uint64_t eight;
        memcpy(&eight, flags + e, sizeof eight);
        eight = (eight | eight >> 1) & 0x0101010101010101ull;
        memcpy(flags + e, &eight, sizeof eight);
    }
    for (; e < colours; ++e)
        flags[e] = flags[e] != 0;
}

void State::MendMemory::take(const State& state) {
    valid = true;
    stamp = state.stamp;
    paletteCount = state.paletteCount;
    memcpy(palette, state.palette, sizeof palette);
    memcpy(keys, state.paletteKeys, sizeof keys);
    memcpy(reach, state.entryReach, sizeof reach);
}

void State::rememberMend() {
    mends[1 - lastMend].take(*this);
    mends[1 - lastMend].logged = 0;
    mends[lastMend].valid = false;
    lastMend = 1 - lastMend;
}

// A pop-up that goes brings back the colours the entries it displaced
// served: those entries are put back as they were, without choosing new
// ones or looking at the whole histogram. The colours whose nearest entry
// can differ between the two palettes are those whose mapping changed since
// the last mend began (its log: every other colour was mapped before it,
// under the palette being restored, and kept its entry through it) and the
// changed pixels' colours; each takes its mapping from before the mend
// when that was known, and is looked up in the restored palette otherwise.
bool State::undoMend(size_t pixels, uint64_t& total) {
    const MendMemory& last = mends[lastMend];
    MendMemory& undo = mends[1 - lastMend];
    if (!last.valid || last.stamp != stamp || last.logged + regionSize > undo.log.size())
        return false;
    const uint32_t* keys = histogram.keys();
    const uint32_t* counts = histogram.counts();
    const int level = histogram.level();
    // Every entry the mend moved must be shown by none of the pixels the
    // change leaves alone.
    Premul now[256], restored[256];
    bool restoredTransparent = false;
    for (int i = 0; i < static_cast<int>(maxColours); ++i) {
        const bool moved = memcmp(&palette[i], &last.palette[i], sizeof(_OsdColor)) != 0;
        if (moved && i < paletteCount && (shown[i] > regionLeft[i] || paletteKeys[i] == 0))
            return false;
        now[i] = premultiply(palette[i]);
        restored[i] = premultiply(last.palette[i]);
        restoredTransparent = restoredTransparent || (i < last.paletteCount && last.keys[i] == 0);
    }
    for (size_t r = 0; r < regionSize && !restoredTransparent; ++r)
        if (keys[regionColours[r]] == 0)
            return false; // transparent pixels need an exactly transparent entry

    // Looked up in the other search, which may hold the restored palette
    // already; this one keeps the palette for a mend if the undo fails.
    NearestSearch* const current = search;
    const bool held = searchCurrent;
    search = &spareSearch();
    if (!last.searchKept)
        search->setPalette(restored, last.paletteCount, true);
    if (++markGeneration == 0) {
        std::fill(entryMark.begin(), entryMark.end(), 0);
        markGeneration = 1;
    }
    // Each colour settled once: its mapping now logged for undoing this
    // undo, then replaced. As in patchPalette, what its unchanged pixels
    // counted goes out of `total` and what all its pixels count now comes
    // in; the lag follows the unchanged pixels' nearest distance.
    undo.logged = 0;
    int64_t delta = 0, lagging = 0;
    auto settle = [&](uint32_t e, uint8_t index, EntryErrors errors) {
        entryMark[e] = markGeneration;
        undo.log[undo.logged++] = LoggedMapping{e, entryIndex[e], entryErrors[e]};
        if (counts[e] != 0) {
            const Premul q = premultiplyKey(representativeColour(keys[e], level));
            const uint32_t unchanged = counts[e] - regionCount[e];
            const int32_t was = unchanged != 0 ? distance2(q, now[entryIndex[e]]) : 0;
            if (errors.stamp != stamp) {
                // Not mapped before the mend: looked up in the restored palette.
                index =
                    static_cast<uint8_t>(search->find(q, index < last.paletteCount ? index : -1));
                errors = EntryErrors{stamp, distance2(q, search->entry(index))};
            }
            delta += int64_t(counts[e]) * errors.error - int64_t(unchanged) * was;
            lagging += int64_t(unchanged) * (was - errors.error);
        }
        setMapping(e, index, errors);
    };
    for (size_t k = 0; k < last.logged; ++k) {
        const LoggedMapping& m = last.log[k];
        if (entryMark[m.entry] != markGeneration)
            settle(m.entry, m.index, m.errors);
    }
    // A changed colour not logged has the mapping it had before the mend.
    for (size_t r = 0; r < regionSize; ++r) {
        const uint32_t e = regionColours[r];
        if (entryMark[e] != markGeneration)
            settle(e, entryIndex[e], entryErrors[e]);
    }
    const int64_t after = static_cast<int64_t>(total) + delta;
    const int64_t lag = std::max<int64_t>(0, static_cast<int64_t>(lagError) + lagging);
    if (static_cast<double>(after + lag) > errorLimit(pixels)) {
        // Not good enough: every mapping back as it was, for a mend.
        for (size_t k = 0; k < undo.logged; ++k) {
            const LoggedMapping& m = undo.log[k];
            setMapping(m.entry, m.index, m.errors);
        }
        undo.logged = 0;
        search = current;
        searchCurrent = held;
        return false;
    }
    // The palette before the mend back, remembered as the mend this undo is.
    undo.take(*this);
    undo.searchKept = held;
    memcpy(palette, last.palette, sizeof palette);
    memcpy(paletteKeys, last.keys, sizeof paletteKeys);
    paletteCount = last.paletteCount;
    // Each entry's reach covers its colours from before the mend and those
    // mapped to it since.
    for (int k = 0; k < 256; ++k)
        entryReach[k] = std::max(entryReach[k], last.reach[k]);
    for (size_t k = 0; k < undo.logged; ++k) {
        const LoggedMapping& m = undo.log[k];
        const EntryErrors& errors = entryErrors[m.entry];
        if (errors.stamp == stamp)
            entryReach[entryIndex[m.entry]] =
                std::max(entryReach[entryIndex[m.entry]], errors.error);
    }
    mends[lastMend].valid = false;
    lastMend = 1 - lastMend;
    forgetSecondEntries();
    searchCurrent = true;
    nearestExact = false;
    total = static_cast<uint64_t>(after);
    lagError = static_cast<uint64_t>(lag);
    return true;
}

// The palette mended for a change that it serves badly (a pop-up over a
// menu): the entries that the unchanged pixels show stay as they are, so
// that nothing outside the change moves on screen, and the others are
// chosen afresh for the changed pixels' colours that the kept entries do
// not already serve. `total` comes in as the error of the unchanged pixels
// and goes out as the frame's error under the mended palette. False when
// there is nothing to mend with, or the mended palette is still over the
// limit: the frame then needs a new palette.
bool State::patchPalette(uint32_t width, uint32_t height, uint64_t& total) {
    const size_t n = static_cast<size_t>(width) * height;
    if (!mappingsValid || regionFull)
        return false;
    if (!shownValid)
        countShown(n);
    if (undoMend(n, total))
        return true;
    const uint32_t* keys = histogram.keys();
    const uint32_t* counts = histogram.counts();
    const int level = histogram.level();
    const bool haveTransparent =
        std::find(paletteKeys, paletteKeys + paletteCount, 0u) != paletteKeys + paletteCount;
    // The transparent entry stays: transparent pixels have no other.
    int freeSlots[256], keptSlots[256], freeCount = 0, keptCount = 0;
    int keptAt[256]; // each slot's place among the kept ones, -1 when it is free
    std::fill(keptAt, keptAt + 256, -1);
    Premul before[256], keptPremul[256];
    for (int i = 0; i < static_cast<int>(maxColours); ++i) {
        before[i] = premultiply(palette[i]);
        if (i < paletteCount && (shown[i] > regionLeft[i] || paletteKeys[i] == 0)) {
            keptAt[i] = keptCount;
            keptSlots[keptCount] = i;
            keptPremul[keptCount++] = before[i];
        } else
            freeSlots[freeCount++] = i;
    }
    if (freeCount == 0 || keptCount == 0)
        return false;

    // The changed pixels' colours that no kept entry serves well, weighted
    // by their pixels in the change.
    // Each colour's nearest kept entry (as a slot) is its first guess in
    // the mended palette, unless a new entry is chosen for it.
    regionInputs.clear();
    // The kept entries and then the mended palette in the other search:
    // this one keeps the palette as it is, for undoing the mend.
    const bool held = searchCurrent;
    search = &spareSearch();
    search->setPalette(keptPremul, keptCount, true);
    searchCurrent = false;
    int guess = -1;
    for (size_t r = 0; r < regionSize; ++r) {
        const uint32_t e = regionColours[r];
        if (keys[e] == 0) {
            if (!haveTransparent)
                return false;
            regionGuess[r] = 0; // unused: a transparent colour is looked up afresh
            continue;
        }
        // A colour already mapped to a kept entry under the palette has it
        // as its nearest kept one.
        const EntryErrors& known = entryErrors[e];
        const bool mapped = known.stamp == stamp && keptAt[entryIndex[e]] >= 0;
        if (mapped && known.error <= kDiffuseMinError) {
            guess = keptAt[entryIndex[e]];
            regionGuess[r] = entryIndex[e];
            regionKept[r] = known.error;
            continue;
        }
        const Premul q = premultiplyKey(representativeColour(keys[e], level));
        guess = mapped ? keptAt[entryIndex[e]] : search->find(q, guess);
        regionGuess[r] = static_cast<uint8_t>(keptSlots[guess]);
        const int32_t keptDistance = mapped ? known.error : distance2(q, search->entry(guess));
        regionKept[r] = keptDistance;
        if (keptDistance <= kDiffuseMinError)
            continue;
        inputKept[regionInputs.size()] = keptDistance;
        const double w = regionCount[e];
        regionInputs.push_back(
            WeightedColour{{float(q.r), float(q.g), float(q.b), float(q.a)}, w, keys[e], w});
    }

    // New entries in the free slots, lowest first.
    rememberMend();
    mends[lastMend].searchKept = held;
    bool moved[256] = {};
    int added = 0;
    if (!regionInputs.empty()) {
        _OsdColor chosen[256];
        added = builder.build(regionInputs, freeCount, bits, distribute, *search, chosen);
        for (int j = 0; j < added; ++j) {
            const int slot = freeSlots[j];
            palette[slot] = chosen[j];
            paletteKeys[slot] = normaliseKey(packColour(chosen[j]));
            paletteCount = std::max(paletteCount, slot + 1);
            moved[slot] = true;
            entryReach[slot] = 0;
        }
        refineMended(added, freeSlots);
    }
    setSearchPalette();
    nearestExact = false;

    // A colour's nearest entry can change only if it was a moved one, or a
    // new entry lies within twice the colour's distance of the entry it had
    // (no further than twice the largest such distance, entryReach).
    // near[k] lists the new entries within that distance of entry k.
    // nearest[k] is the squared distance from entry k to the nearest of
    // them: a colour of that entry less than half of it away stays.
    bool touched[256] = {};
    uint8_t near[256][256];
    int nearCount[256];
    int32_t nearest[256];
    for (int k = 0; k < paletteCount; ++k) {
        nearCount[k] = 0;
        nearest[k] = INT32_MAX;
        for (int j = 0; j < added; ++j) {
            const int32_t d = distance2(before[k], search->entry(freeSlots[j]));
            if (d <= 4 * entryReach[k]) {
                near[k][nearCount[k]++] = static_cast<uint8_t>(freeSlots[j]);
                nearest[k] = std::min(nearest[k], d);
            }
        }
        touched[k] = moved[k] || nearCount[k] != 0;
    }
    // The changed pixels' colours and the touched ones mapped again; what
    // their unchanged pixels counted before goes out, what every pixel of
    // them counts now comes in.
    int64_t delta = 0;
    // Unchanged pixels keep their entries when a new one is nearer: what
    // they show is then worse than the error counts. Each such pixel lags
    // by what its colour's nearest distance fell, and catches up by what it
    // rises again when that entry goes.
    int64_t lagging = 0;
    // mapNow() maps the colour and returns its distance.
    auto remapColour = [&](size_t e, bool wasMapped, auto mapNow) {
        const uint32_t unchanged = counts[e] - regionCount[e];
        int32_t was = 0;
        if (unchanged != 0 && wasMapped) {
            const Premul q = premultiplyKey(representativeColour(keys[e], level));
            was = distance2(q, before[entryIndex[e]]);
            delta -= int64_t(unchanged) * was;
        }
        const int32_t now = mapNow();
        delta += int64_t(counts[e]) * now;
        if (unchanged != 0 && wasMapped)
            lagging += int64_t(unchanged) * (was - now);
    };
    // A changed pixel's colour is nearest to the kept entry found above,
    // or to a new one.
    auto mapRegion = [&](size_t r) {
        const uint32_t e = regionColours[r];
        if (keys[e] == 0)
            return mapEntry(e, -1);
        const Premul q = premultiplyKey(representativeColour(keys[e], level));
        int best = regionGuess[r];
        int32_t bestD = regionKept[r];
        for (int j = 0; j < added; ++j) {
            const int slot = freeSlots[j];
            const int32_t d = distance2(q, search->entry(slot));
            if (d < bestD || (d == bestD && slot < best)) {
                bestD = d;
                best = slot;
            }
        }
        mapTo(e, best, bestD);
        return bestD;
    };
    for (size_t r = 0; r < regionSize; ++r) {
        // A colour that some unchanged pixel has was mapped before.
        const uint32_t e = regionColours[r];
        remapColour(e, counts[e] != regionCount[e], [&] { return mapRegion(r); });
    }
    int movedNearest[256];
    std::fill(movedNearest, movedNearest + 256, -1);
    const size_t colours = histogram.size();
    for (size_t e = 0; e < colours; ++e) {
        // The second-nearest entry may have changed; when it stays, it is
        // the first guess for a colour whose entry moved.
        const int second = entryDiffuse[e] == 2 ? entryAlt[e] : -1;
        // The entry first: most colours' is not touched, and their counts
        // need not be read.
        const int old = entryIndex[e];
        if (!touched[old] || regionCount[e] != 0)
            continue;
        if (counts[e] == 0) {
            logMapping(e);
            entryErrors[e].stamp = 0; // found again when it comes back
        } else if (moved[old]) {
            // Otherwise the entry nearest to where the moved one was, found
            // once for all its colours, rather than a scan for each.
            if (movedNearest[old] < 0)
                movedNearest[old] = search->find(before[old], -1);
            const int guess = second >= 0 && !moved[second] ? second : movedNearest[old];
            remapColour(e, true, [&] { return mapEntry(e, guess); });
        } else if (entryErrors[e].stamp == stamp && 4 * entryErrors[e].error < nearest[old]) {
            continue; // every new entry is further than the one it has
        } else {
            // Its entry is still there: only a new one can be nearer.
            const Premul q = premultiplyKey(representativeColour(keys[e], level));
            const int32_t was = distance2(q, before[old]);
            int best = old;
            int32_t bestD = was;
            for (int j = 0; j < nearCount[old]; ++j) {
                const int slot = near[old][j];
                const int32_t d = distance2(q, search->entry(slot));
                if (d < bestD || (d == bestD && slot < best)) {
                    bestD = d;
                    best = slot;
                }
            }
            if (best != old) {
                mapTo(e, best, bestD);
                delta += int64_t(counts[e]) * (bestD - was);
                lagging += int64_t(counts[e]) * (was - bestD);
            }
        }
    }
    forgetSecondEntries();
    total = static_cast<uint64_t>(static_cast<int64_t>(total) + delta);
    lagError =
        static_cast<uint64_t>(std::max<int64_t>(0, static_cast<int64_t>(lagError) + lagging));
    return static_cast<double>(total + lagError) <= errorLimit(n);
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
        auto any = [](size_t, uint32_t, uint32_t, uint32_t) { return true; };
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
        const StepFit fit = stepError(n, error);
        const bool served =
            fit == StepFit::Fits || (fit == StepFit::Over && patchPalette(width, height, error));
        // Whatever was gathered, also when the histogram had to be rebuilt
        // after the change went over.
        clearRegion();
        gatherEarly = fit == StepFit::Over;
        if (!served)
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
    remap(job, *search);
    return true;
}

void State::full(uint32_t width, uint32_t height, bool sameSize, unsigned char* indices) {
    const size_t n = static_cast<size_t>(width) * height;
    gatherEarly = false;
    forgetMends();
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
    remap(job, *search);
    nearestExact = nearestExact || !(kept && sameSize);
    if (!(kept && sameSize))
        lagError = 0;
    shownValid = shownValid && kept && sameSize;
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

TOVIXENGINE_ENTRY void destroy(void* state) {
    delete stateOf(state);
}

TOVIXENGINE_ENTRY void setErrorDiffusion(void* state, bool enable) {
    stateOf(state)->diffuse = enable;
}

TOVIXENGINE_ENTRY void setDistributeClut(void* state, bool enable) {
    State* s = stateOf(state);
    if (s->distribute != enable)
        s->havePrevious = false;
    s->distribute = enable;
}

TOVIXENGINE_ENTRY void setFullClutSearch(void* state, bool enable) {
    for (tovixquant::NearestSearch& search : stateOf(state)->searches)
        search.setFullSearch(enable);
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
