// A PNG writer behind include/png.h: signature, IHDR, one IDAT holding a
// zlib stream of stored blocks, IEND.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < size; i++)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void putBig(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void putChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
    putBig(out, static_cast<uint32_t>(body.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    putBig(out, crc32(out.data() + start, out.size() - start));
}

// zlib framing around deflate's stored blocks (at most 65535 bytes each).
std::vector<uint8_t> storedZlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z{0x78, 0x01};
    size_t pos = 0;
    do {
        size_t n = raw.size() - pos;
        if (n > 65535)
            n = 65535;
        bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBig(z, (b << 16) | a);
    return z;
}

} // namespace

extern "C" int png_image_write_to_file(png_image* image, const char* file, int, const void* buffer,
                                       png_int_32 row_stride, const void*) {
    if (!image || !file || !buffer || image->version != PNG_IMAGE_VERSION || image->width == 0 ||
        image->height == 0 || (image->format & ~PNG_FORMAT_BGRA) != 0 ||
        (image->format & PNG_FORMAT_RGBA) != PNG_FORMAT_RGBA)
        return 0;
    const bool bgr = (image->format & PNG_FORMAT_FLAG_BGR) != 0;
    const size_t width = image->width;
    const size_t stride = row_stride > 0 ? static_cast<size_t>(row_stride) : width;
    const uint8_t* pixels = static_cast<const uint8_t*>(buffer);

    std::vector<uint8_t> raw;
    raw.reserve((width * 4 + 1) * image->height);
    for (size_t y = 0; y < image->height; y++) {
        raw.push_back(0); // filter: none
        const uint8_t* row = pixels + y * stride * 4;
        for (size_t x = 0; x < width; x++) {
            const uint8_t* p = row + x * 4;
            raw.push_back(bgr ? p[2] : p[0]);
            raw.push_back(p[1]);
            raw.push_back(bgr ? p[0] : p[2]);
            raw.push_back(p[3]);
        }
    }

    std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    putBig(header, image->width);
    putBig(header, image->height);
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8-bit RGBA, no interlace
    putChunk(out, "IHDR", header);
    putChunk(out, "IDAT", storedZlib(raw));
    putChunk(out, "IEND", {});

    FILE* f = fopen(file, "wb");
    if (!f)
        return 0;
    bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = fclose(f) == 0 && ok;
    return ok ? 1 : 0;
}
