// The objects that exist from the moment the library is loaded.
#pragma once

#include "../platform/exports.h"

#include "CQuantizer.h"

#include <cstdint>

extern "C" TOVIX_EXPORT CQuantizer* pQuantizer;

// The host's pixels of the current OSD frame, one 32-bit value each, and the
// block's size in bytes.
extern unsigned char* gRgbBuffer;
extern int32_t gRgbBufferSize;
