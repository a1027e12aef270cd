// The OSD image block and the connection to the card's OSD layer.
#pragma once

#include "../card/card_interfaces.h"
#include "../platform/exports.h"
#include "../platform/platform.h"

#include "CQuantizer.h"

// Block length of a 720 x 480 frame: the pixels plus the 1032-byte header
// and palette.
extern "C" TOVIX_EXPORT const int kDefaultOsdImageSize;

extern "C" TOVIX_EXPORT bool osdInitialized;
extern "C" TOVIX_EXPORT IOsdEnumerator* pOsdEnum;
extern "C" TOVIX_EXPORT IOsdObject* pOsd;
extern "C" TOVIX_EXPORT unsigned char* pOsdImage;

// For tests and fuzzers: the connection closed and forgotten, as at load.
// Holds no reference: the connection must have been closed first.
void resetOsd();

// Writes one OSD image block for a frame of width x height pixels into
// `osdImage` (at least width * height + 1032 bytes). Answers the
// quantiser's result.
extern "C" TOVIX_EXPORT int buildOsdImage(const _OsdColor* rgbPixels, int width, int height,
                                          unsigned char* osdImage);

extern "C" TOVIX_EXPORT HRESULT setupTovixOsd();
extern "C" TOVIX_EXPORT void releaseTovixOsd();
// The first steps of releaseTovixOsd: the display switched off, the OSD
// object and its enumerator let go. The decoder's interfaces and COM stay.
void switchOsdOff();
// Shows one frame. Answers S_OK when it was shown, S_FALSE when it was
// dropped for want of an OSD object, a block buffer or a size the block can
// describe, and E_FAIL when the quantiser could not fill the block.
extern "C" TOVIX_EXPORT HRESULT processOsdImage(const void* rgbPixels, int width, int height);
extern "C" TOVIX_EXPORT HRESULT updateOsd(int width, int height);
extern "C" TOVIX_EXPORT HRESULT initCom();
extern "C" TOVIX_EXPORT void freeCom();
