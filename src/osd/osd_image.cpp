// The OSD image block: an 8-byte header (type, 24-bit length, 16-bit width
// and height, all big-endian), a 256-entry palette and one index byte per
// pixel, filled by the process's one quantiser.
#include "osd.h"

#include "../bridge/loadtime.h"

#include <cassert>
#include <cstdint>

extern "C" const int kDefaultOsdImageSize = 346632;

namespace {

const unsigned char kBlockType = 0x3E;
const int kPaletteOffset = 8;
const int kIndexOffset = 1032;

} // namespace

int buildOsdImage(const _OsdColor* rgbPixels, int width, int height, unsigned char* osdImage) {
    assert(rgbPixels != NULL && osdImage != NULL);
    // Unsigned arithmetic wraps where the block format truncates: only the
    // low 24 bits of the length and 16 bits of each side are kept.
    uint32_t length = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) + kIndexOffset;
    osdImage[0] = kBlockType;
    osdImage[1] = static_cast<unsigned char>(length >> 16);
    osdImage[2] = static_cast<unsigned char>(length >> 8);
    osdImage[3] = static_cast<unsigned char>(length);
    osdImage[4] = static_cast<unsigned char>(static_cast<uint32_t>(width) >> 8);
    osdImage[5] = static_cast<unsigned char>(width);
    osdImage[6] = static_cast<unsigned char>(static_cast<uint32_t>(height) >> 8);
    osdImage[7] = static_cast<unsigned char>(height);

    pQuantizer->imageWidth = static_cast<uint32_t>(width) & 0xFFFFu;
    pQuantizer->imageHeight = static_cast<uint32_t>(height) & 0xFFFFu;
    pQuantizer->SetErrorDiffusion(true);
    pQuantizer->SetDistributeClut(false);
    pQuantizer->SetFullClutSearch(false);
    return pQuantizer->ProcessImage(rgbPixels,
                                    reinterpret_cast<_OsdColor*>(osdImage + kPaletteOffset),
                                    osdImage + kIndexOffset);
}
