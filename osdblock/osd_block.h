// The OSD image block, the unit in which one whole OSD frame goes to the
// card: an 8-byte header (type, 24-bit length, 16-bit width and height, all
// big-endian), a palette of 256 four-byte colours, then one palette index
// per pixel. Used by the library, the quantiser and its tool; the simulated
// card reads blocks with its own code, so that a fault here shows there.
#pragma once

#include <cstdint>

const unsigned char kOsdBlockType = 0x3E;
const int kOsdPaletteOffset = 8;
// The header and the palette: every block is its pixel count plus this, and
// the indices begin here.
const int kOsdBlockOverhead = 1032;

// The format's limits: 16 bits a side and a 24-bit length.
const int64_t kOsdMaxSide = 65535;
const int64_t kOsdMaxPixels = 0xFFFFFF - kOsdBlockOverhead; // 16776183

// Whether a block can describe a frame of width x height pixels.
inline bool osdBlockFits(int64_t width, int64_t height) {
    return width >= 0 && height >= 0 && width <= kOsdMaxSide && height <= kOsdMaxSide &&
           width * height <= kOsdMaxPixels;
}

// Writes the 8 header bytes of the block of a width x height frame. Unsigned
// arithmetic wraps where the format truncates: only the low 24 bits of the
// length and 16 bits of each side are kept.
inline void writeOsdBlockHeader(unsigned char* block, uint32_t width, uint32_t height) {
    uint32_t length = width * height + kOsdBlockOverhead;
    block[0] = kOsdBlockType;
    block[1] = static_cast<unsigned char>(length >> 16);
    block[2] = static_cast<unsigned char>(length >> 8);
    block[3] = static_cast<unsigned char>(length);
    block[4] = static_cast<unsigned char>(width >> 8);
    block[5] = static_cast<unsigned char>(width);
    block[6] = static_cast<unsigned char>(height >> 8);
    block[7] = static_cast<unsigned char>(height);
}
