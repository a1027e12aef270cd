// osdquant: quantises a PNG the way the OSD path does and shows what the
// card would get: the preview PNG, the raw OSD block, the time taken, the
// error (PSNR over premultiplied RGBA) and the number of colours used.
#include <errno.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "CQuantizer.h"
#include "testframes/osd_frames.h"

namespace {

// Limits of the OSD block: 16-bit width and height, 24-bit length.
constexpr uint32_t kMaxSide = 65535;
constexpr uint64_t kMaxPixels = 16776183; // (2^24 - 1) - 1032

const char kUsage[] = "usage: osdquant [options] INPUT.png [PREVIEW.png]\n"
                      "\n"
                      "Quantises INPUT to 256 colours exactly as the OSD path does (error\n"
                      "diffusion on, distribution and full search off) and prints the time,\n"
                      "the PSNR over premultiplied RGBA and the number of colours used.\n"
                      "\n"
                      "  PREVIEW.png      write the result with the palette applied (RGBA)\n"
                      "  --indexed        write the preview as a palettised PNG instead\n"
                      "  --block FILE     write the raw OSD block (header, palette, indices)\n"
                      "  --previous FILE  quantise FILE first with the same quantiser, then\n"
                      "                   INPUT, and report the flicker: the share of pixels\n"
                      "                   equal in both inputs whose output colour changed\n"
                      "  --runs N         quantise INPUT N times (fresh each time) and report\n"
                      "                   the median time\n"
                      "  --help           show this text\n";

struct Image {
    uint32_t width = 0, height = 0;
    std::vector<_OsdColor> pixels;
};

bool fail(const std::string& message) {
    fprintf(stderr, "osdquant: %s\n", message.c_str());
    return false;
}

bool readPng(const char* path, Image& out) {
    FILE* f = fopen(path, "rb");
    if (!f)
        return fail(std::string(path) + ": cannot open: " + strerror(errno));
    unsigned char signature[8];
    const size_t got = fread(signature, 1, sizeof signature, f);
    if (got != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
        fclose(f);
        return fail(std::string(path) + ": not a PNG file");
    }
    rewind(f);
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_stdio(&image, f)) {
        fclose(f);
        return fail(std::string(path) + ": unreadable PNG: " + image.message);
    }
    if (image.width > kMaxSide || image.height > kMaxSide ||
        static_cast<uint64_t>(image.width) * image.height > kMaxPixels) {
        png_image_free(&image);
        fclose(f);
        return fail(std::string(path) + ": " + std::to_string(image.width) + " x " +
                    std::to_string(image.height) +
                    " is too large for an OSD block (at most 65535 a side and 16776183 pixels)");
    }
    image.format = PNG_FORMAT_BGRA;
    out.width = image.width;
    out.height = image.height;
    out.pixels.assign(static_cast<size_t>(image.width) * image.height, _OsdColor{0, 0, 0, 0});
    const bool ok = png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr) != 0;
    fclose(f);
    if (!ok)
        return fail(std::string(path) + ": unreadable PNG: " + image.message);
    return true;
}

struct Result {
    std::vector<_OsdColor> palette = std::vector<_OsdColor>(256);
    std::vector<unsigned char> indices;
    double milliseconds = 0;
};

// One frame through the quantiser, configured as the OSD path configures it.
void quantise(CQuantizer& q, const Image& img, Result& r) {
    r.indices.assign(img.pixels.size(), 0);
    q.imageWidth = img.width;
    q.imageHeight = img.height;
    q.SetErrorDiffusion(true);
    q.SetDistributeClut(false);
    q.SetFullClutSearch(false);
    const auto t0 = std::chrono::steady_clock::now();
    q.ProcessImage(img.pixels.data(), r.palette.data(), r.indices.data());
    r.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

bool writePreview(const char* path, const Image& img, const Result& r, bool indexed) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = img.width;
    image.height = img.height;
    int ok;
    if (indexed) {
        image.format = PNG_FORMAT_BGRA | PNG_FORMAT_FLAG_COLORMAP;
        image.colormap_entries = 256;
        ok = png_image_write_to_file(&image, path, 0, r.indices.data(), 0, r.palette.data());
    } else {
        std::vector<_OsdColor> shown(img.pixels.size());
        for (size_t i = 0; i < shown.size(); ++i)
            shown[i] = r.palette[r.indices[i]];
        image.format = PNG_FORMAT_BGRA;
        ok = png_image_write_to_file(&image, path, 0, shown.data(), 0, nullptr);
    }
    if (!ok)
        return fail(std::string(path) + ": cannot write PNG: " + image.message);
    return true;
}

bool writeBlock(const char* path, const Image& img, const Result& r) {
    const uint32_t length = static_cast<uint32_t>(img.pixels.size() + 1032);
    const unsigned char header[8] = {0x3E,
                                     static_cast<unsigned char>(length >> 16),
                                     static_cast<unsigned char>(length >> 8),
                                     static_cast<unsigned char>(length),
                                     static_cast<unsigned char>(img.width >> 8),
                                     static_cast<unsigned char>(img.width),
                                     static_cast<unsigned char>(img.height >> 8),
                                     static_cast<unsigned char>(img.height)};
    FILE* f = fopen(path, "wb");
    if (!f)
        return fail(std::string(path) + ": cannot create: " + strerror(errno));
    bool ok = fwrite(header, 1, sizeof header, f) == sizeof header &&
              fwrite(r.palette.data(), sizeof(_OsdColor), 256, f) == 256 &&
              fwrite(r.indices.data(), 1, r.indices.size(), f) == r.indices.size();
    ok = (fclose(f) == 0) && ok;
    if (!ok)
        return fail(std::string(path) + ": write failed");
    return true;
}

size_t coloursUsed(const Result& r) {
    bool seen[256] = {false};
    size_t used = 0;
    for (unsigned char i : r.indices)
        if (!seen[i]) {
            seen[i] = true;
            ++used;
        }
    return used;
}

} // namespace

int main(int argc, char** argv) {
    const char* input = nullptr;
    const char* preview = nullptr;
    const char* block = nullptr;
    const char* previous = nullptr;
    bool indexed = false;
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--indexed") {
            indexed = true;
        } else if ((arg == "--block" || arg == "--previous" || arg == "--runs") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--block")
                block = value;
            if (arg == "--previous")
                previous = value;
            if (arg == "--runs") {
                char* end = nullptr;
                const long v = strtol(value, &end, 10);
                if (*end != '\0' || v < 1 || v > 100000) {
                    fail("--runs needs a count from 1 to 100000");
                    return 2;
                }
                runs = static_cast<int>(v);
            }
        } else if (!arg.empty() && arg[0] == '-') {
            fprintf(stderr, "osdquant: unknown or incomplete option %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else if (!input) {
            input = argv[i];
        } else if (!preview) {
            preview = argv[i];
        } else {
            fprintf(stderr, "osdquant: too many arguments\n%s", kUsage);
            return 2;
        }
    }
    if (!input) {
        fprintf(stderr, "%s", kUsage);
        return 2;
    }

    Image img, prevImg;
    if (!readPng(input, img))
        return 1;
    if (previous && !readPng(previous, prevImg))
        return 1;

    Result result, prevResult;
    std::vector<double> times;
    for (int k = 0; k < runs; ++k) {
        CQuantizer q(256, 8, 720, 480);
        if (previous)
            quantise(q, prevImg, prevResult);
        quantise(q, img, result);
        times.push_back(result.milliseconds);
    }
    std::sort(times.begin(), times.end());

    const double psnr = osdframes::psnr(img.pixels.data(), result.palette.data(),
                                        result.indices.data(), img.pixels.size());
    printf("%s: %u x %u, time %.3f ms%s, PSNR %.2f dB, colours %zu\n", input, img.width, img.height,
           times[times.size() / 2], runs > 1 ? " (median)" : "", psnr, coloursUsed(result));
    if (previous) {
        if (prevImg.width != img.width || prevImg.height != img.height) {
            printf("flicker: n/a (the frames differ in size)\n");
        } else {
            const double f = osdframes::flicker(
                prevImg.pixels.data(), prevResult.palette.data(), prevResult.indices.data(),
                img.pixels.data(), result.palette.data(), result.indices.data(), img.pixels.size());
            printf("flicker %.4f %%\n", f * 100.0);
        }
    }
    if (preview && !writePreview(preview, img, result, indexed))
        return 1;
    if (block && !writeBlock(block, img, result))
        return 1;
    return 0;
}
