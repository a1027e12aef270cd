// Remapping: gives every pixel its palette entry, dithered in smooth areas
// only, and keeps the previous frame's index for pixels that
// did not change when the palette is the previous one.
#ifndef TOVIX_QUANTIZER_REMAP_H
#define TOVIX_QUANTIZER_REMAP_H

#include <stdint.h>

#include "nearest.h"

namespace tovixquant {

// A row of a frame that differs from the previous frame's, and the span
// [begin, end) of its pixels from the first to the last one that differs.
struct RowChange {
    uint32_t y, begin, end;
};

// The rows of `frame` (width w, height h) that differ from `previous`, top
// to bottom, into `changes` (room for h); returns their number.
size_t findChanges(const _OsdColor* frame, const uint32_t* previous, uint32_t w, uint32_t h,
                   RowChange* changes);

struct RemapJob {
    const _OsdColor* pixels; // a fully transparent pixel counts as (0,0,0,0)
    uint32_t width;
    uint32_t height;
    const uint32_t* pixelEntry; // histogram entry of every pixel
    const uint32_t* keys;       // the histogram's keys, counted at posterisation `level`
    int level;
    const uint8_t* entryIndex; // nearest palette entry of every histogram entry
    // Per colour: 0 when it is not dithered; 1 when it is, 2 when moreover
    // entryAlt holds its second-nearest entry and entryShare the share of
    // its smooth pixels that show it, in 64ths (both filled in here).
    uint8_t* entryDiffuse;
    uint8_t* entryAlt;
    uint8_t* entryShare;
    // Previous frame, same size and same palette; null when there is none.
    // With it, only the changed rows are remapped, and only the pixels that
    // differ in them: the others keep their indices and are not dithered.
    const uint32_t* previousPixels;
    const uint8_t* previousIndices;
    const RowChange* changes;
    size_t changeCount;
    bool diffuse;        // dither
    uint8_t* candidates; // width values of scratch
    uint8_t* indices;
    // Where the frame and its indices are kept for the next frame; may be
    // previousPixels and previousIndices themselves.
    uint32_t* savePixels;
    uint8_t* saveIndices;
    // Where each pixel's nearest entry (entryIndex of its colour, before
    // dithering) is kept; pixels that keep their index keep it too.
    uint8_t* saveNearest;
    // Pixels that show each entry, kept up to date over the changed pixels
    // (with previousPixels); null when not counted.
    uint32_t* shown;
};

void remap(const RemapJob& job, NearestSearch& search);

} // namespace tovixquant

#endif
