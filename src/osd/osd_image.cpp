// The OSD image block (its format: osdblock/osd_block.h), filled by the process's
// one quantiser.
#include "osd.h"

#include "../../osdblock/osd_block.h"
#include "../log/loadtime.h"

#include <cassert>
#include <cstdint>

extern "C" const int kDefaultOsdImageSize = 346632;

int buildOsdImage(const _OsdColor* rgbPixels, int width, int height, unsigned char* osdImage) {
    assert(rgbPixels != NULL && osdImage != NULL);
    writeOsdBlockHeader(osdImage, static_cast<uint32_t>(width), static_cast<uint32_t>(height));

    pQuantizer->imageWidth = static_cast<uint32_t>(width) & 0xFFFFu;
    pQuantizer->imageHeight = static_cast<uint32_t>(height) & 0xFFFFu;
    pQuantizer->SetErrorDiffusion(true);
    pQuantizer->SetDistributeClut(false);
    pQuantizer->SetFullClutSearch(false);
    return pQuantizer->ProcessImage(rgbPixels,
                                    reinterpret_cast<_OsdColor*>(osdImage + kOsdPaletteOffset),
                                    osdImage + kOsdBlockOverhead);
}
