// buildOsdImage and the quantiser behind it: any pixels at any size the
// block format holds, one to three frames per input so that the quantiser's
// memory of the previous frame meets frames of other sizes. The block and
// the staging pixels are allocated at exactly their sizes, so that a write
// or read past either is the sanitizer's to see.
#include "fuzz_input.h"

#include "src/log/loadtime.h"
#include "src/osd/osd.h"

#include <map>
#include <memory>
#include <set>
#include <vector>

namespace {

const uint32_t kMaxPixels = 1 << 14;

uint32_t colourOf(const _OsdColor& c) {
    return static_cast<uint32_t>(c.blue) | static_cast<uint32_t>(c.green) << 8 |
           static_cast<uint32_t>(c.red) << 16 | static_cast<uint32_t>(c.alpha) << 24;
}

void oneFrame(fuzzinput::Input& in) {
    const uint8_t mode = in.byte();
    uint32_t width = in.u16();
    uint32_t height = in.u16();
    if (width * height > kMaxPixels)
        height = kMaxPixels / (width ? width : 1);
    const uint32_t count = width * height;

    // The pixels: straight from the input, or drawn from a few colours of it
    // (menus have few), opaque or not.
    std::vector<uint32_t> colours;
    const size_t wanted = (mode & 1) ? 1 + in.byte() : 0;
    for (size_t i = 0; i < wanted; i++)
        colours.push_back(in.u32() | ((mode & 2) ? 0xFF000000u : 0u));
    std::string bytes = in.text(1 << 14);
    std::unique_ptr<_OsdColor[]> pixels(new _OsdColor[count]);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t v = 0;
        if (!bytes.empty()) {
            for (uint32_t k = 0; k < 4; k++)
                v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[(i * 4 + k) % bytes.size()]))
                     << (8 * k);
        }
        if (!colours.empty())
            v = colours[v % colours.size()];
        pixels[i].blue = static_cast<unsigned char>(v);
        pixels[i].green = static_cast<unsigned char>(v >> 8);
        pixels[i].red = static_cast<unsigned char>(v >> 16);
        pixels[i].alpha = static_cast<unsigned char>(v >> 24);
    }

    const uint32_t length = count + 1032;
    std::unique_ptr<unsigned char[]> block(new unsigned char[length]);
    buildOsdImage(pixels.get(), static_cast<int>(width), static_cast<int>(height), block.get());

    const unsigned char header[8] = {
        0x3E,
        static_cast<unsigned char>(length >> 16),
        static_cast<unsigned char>(length >> 8),
        static_cast<unsigned char>(length),
        static_cast<unsigned char>(width >> 8),
        static_cast<unsigned char>(width),
        static_cast<unsigned char>(height >> 8),
        static_cast<unsigned char>(height),
    };
    fuzzinput::check(memcmp(block.get(), header, 8) == 0, "block header");

    const _OsdColor* palette = reinterpret_cast<const _OsdColor*>(block.get() + 8);
    const unsigned char* indices = block.get() + 1032;
    std::set<uint32_t> distinct;
    bool opaque = true;
    for (uint32_t i = 0; i < count; i++) {
        distinct.insert(colourOf(pixels[i]));
        opaque = opaque && pixels[i].alpha == 255;
        // A transparent pixel shows as transparent, whatever its colour.
        if (pixels[i].alpha == 0)
            fuzzinput::check(palette[indices[i]].alpha == 0, "a transparent pixel became visible");
    }
    // A frame of no more colours than the palette holds comes back exactly.
    if (opaque && distinct.size() <= 256) {
        for (uint32_t i = 0; i < count; i++)
            fuzzinput::check(colourOf(palette[indices[i]]) == colourOf(pixels[i]),
                             "a frame of at most 256 colours not reproduced exactly");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::Input in(data, size);
    int frames = 1 + in.byte() % 3;
    for (int i = 0; i < frames; i++)
        oneFrame(in);
    return 0;
}
