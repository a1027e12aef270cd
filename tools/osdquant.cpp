// osdquant: quantises a PNG the way the OSD path does and shows what the
// card would get: the preview PNG, the raw OSD block, the time taken, the
// error (PSNR over premultiplied RGBA, against the file's own samples) and
// the number of colours used. A frame the quantiser refuses is an error.
#include <errno.h>
#include <math.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "CQuantizer.h"
#include "osd_frames.h"

#include "../osdblock/osd_block.h"

namespace {

const char kUsage[] = "usage: osdquant [options] INPUT.png [PREVIEW.png]\n"
                      "\n"
                      "Quantises INPUT to 256 colours exactly as the OSD path does (error\n"
                      "diffusion on, distribution and full search off) and prints the time,\n"
                      "the PSNR over premultiplied RGBA (\"exact\" when there is no error)\n"
                      "and the number of colours used. 16-bit samples are taken as sRGB.\n"
                      "\n"
                      "  PREVIEW.png      write the result with the palette applied (RGBA)\n"
                      "  --indexed        write the preview as a palettised PNG instead\n"
                      "  --block FILE     write the raw OSD block (header, palette, indices)\n"
                      "  --previous FILE  quantise FILE first with the same quantiser, then\n"
                      "                   INPUT, and report the flicker: the share of pixels\n"
                      "                   equal in both inputs whose output colour changed\n"
                      "  --runs N         quantise INPUT N times, each on a new quantiser\n"
                      "                   sized for the frame and made outside the timing,\n"
                      "                   and report the median time (wall clock and the\n"
                      "                   thread's processor time)\n"
                      "  --help           show this text\n";

struct Image {
    uint32_t width = 0, height = 0;
    std::vector<_OsdColor> pixels; // what the quantiser gets
    // The file's own samples, B, G, R, A on a 16-bit scale (an 8-bit value
    // v is v * 257): the error is measured against these, so that a fault
    // in reading the file cannot hide behind an exact result.
    std::vector<uint16_t> samples;
};

bool fail(const std::string& message) {
    fprintf(stderr, "osdquant: %s\n", message.c_str());
    return false;
}

// libpng's reason for a failed read of the low-level interface, taken back
// to the caller by the long jump.
struct ReadError {
    char message[256];
};

void onPngError(png_structp png, png_const_charp message) {
    ReadError* error = static_cast<ReadError*>(png_get_error_ptr(png));
    snprintf(error->message, sizeof error->message, "%s", message);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// The raw samples of a 16-bit file, expanded to B, G, R, A, with no colour
// conversion: a 16-bit sample is taken as sRGB, as the 8-bit samples are.
// Only plain data may live across the long jump: the row pointers are
// made before it.
bool readSamples16(const char* path, FILE* f, Image& img) {
    std::vector<png_bytep> rows(img.height);
    const size_t rowValues = static_cast<size_t>(img.width) * 4;
    img.samples.assign(rowValues * img.height, 0);
    for (uint32_t y = 0; y < img.height; ++y)
        rows[y] = reinterpret_cast<png_bytep>(img.samples.data() + y * rowValues);
    ReadError error = {{0}};
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, onPngError, onPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return fail(std::string(path) + ": out of memory");
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return fail(std::string(path) + ": unreadable PNG: " + error.message);
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    if (png_get_bit_depth(png, info) != 16 || png_get_image_width(png, info) != img.width ||
        png_get_image_height(png, info) != img.height)
        png_error(png, "the file changed while it was read");
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    // PNG stores 16-bit samples most significant byte first.
    for (uint16_t& v : img.samples) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(&v);
        v = static_cast<uint16_t>(b[0] << 8 | b[1]);
    }
    return true;
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
    if (!osdBlockFits(image.width, image.height)) {
        png_image_free(&image);
        fclose(f);
        return fail(std::string(path) + ": " + std::to_string(image.width) + " x " +
                    std::to_string(image.height) +
                    " is too large for an OSD block (at most 65535 a side and 16776183 pixels)");
    }
    // Without the flag, 16-bit samples lacking a gAMA or sRGB chunk would be
    // taken as linear light and come out brighter.
    const bool sixteen = (image.format & PNG_FORMAT_FLAG_LINEAR) != 0;
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    image.format = PNG_FORMAT_BGRA;
    out.width = image.width;
    out.height = image.height;
    out.pixels.assign(static_cast<size_t>(image.width) * image.height, _OsdColor{0, 0, 0, 0});
    const bool ok = png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr) != 0;
    if (!ok) {
        fclose(f);
        return fail(std::string(path) + ": unreadable PNG: " + image.message);
    }
    if (sixteen) {
        rewind(f);
        const bool read = readSamples16(path, f, out);
        fclose(f);
        return read;
    }
    fclose(f);
    out.samples.resize(out.pixels.size() * 4);
    for (size_t i = 0; i < out.pixels.size(); ++i) {
        const _OsdColor& p = out.pixels[i];
        uint16_t* s = &out.samples[i * 4];
        s[0] = static_cast<uint16_t>(p.blue * 257);
        s[1] = static_cast<uint16_t>(p.green * 257);
        s[2] = static_cast<uint16_t>(p.red * 257);
        s[3] = static_cast<uint16_t>(p.alpha * 257);
    }
    return true;
}

// PSNR in dB over premultiplied RGBA of the output against the file's own
// samples, on the 0..255 scale; infinity when exact. Both sides go through
// the same arithmetic, so that equal colours give exactly zero.
double psnrAgainstSamples(const Image& img, const _OsdColor* palette,
                          const unsigned char* indices) {
    auto premultiplied = [](const uint16_t* s, double* p) {
        const double a = s[3] / 65535.0;
        for (int c = 0; c < 3; ++c)
            p[c] = s[c] / 257.0 * a;
        p[3] = s[3] / 257.0;
    };
    double sum = 0;
    const size_t count = img.pixels.size();
    for (size_t i = 0; i < count; ++i) {
        const _OsdColor& c = palette[indices[i]];
        const uint16_t shown[4] = {
            static_cast<uint16_t>(c.blue * 257), static_cast<uint16_t>(c.green * 257),
            static_cast<uint16_t>(c.red * 257), static_cast<uint16_t>(c.alpha * 257)};
        double x[4], y[4];
        premultiplied(&img.samples[i * 4], x);
        premultiplied(shown, y);
        for (int k = 0; k < 4; ++k)
            sum += (x[k] - y[k]) * (x[k] - y[k]);
    }
    if (sum == 0 || count == 0)
        return std::numeric_limits<double>::infinity();
    const double mse = sum / (4.0 * static_cast<double>(count));
    return 10.0 * log10(255.0 * 255.0 / mse);
}

struct Result {
    std::vector<_OsdColor> palette = std::vector<_OsdColor>(256);
    std::vector<unsigned char> indices;
    double milliseconds = 0; // wall-clock time
    double cpuMilliseconds =
        0; // the thread's processor time: on a busy machine, the steadier figure
};

double threadCpuMilliseconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

// One frame through the quantiser, configured as the OSD path configures it.
bool quantise(CQuantizer& q, const Image& img, Result& r) {
    r.indices.assign(img.pixels.size(), 0);
    q.imageWidth = img.width;
    q.imageHeight = img.height;
    q.SetErrorDiffusion(true);
    q.SetDistributeClut(false);
    q.SetFullClutSearch(false);
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = threadCpuMilliseconds();
    const int status = q.ProcessImage(img.pixels.data(), r.palette.data(), r.indices.data());
    r.cpuMilliseconds = threadCpuMilliseconds() - cpu0;
    r.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (status != 0)
        return fail("the quantiser refused the " + std::to_string(img.width) + " x " +
                    std::to_string(img.height) + " frame (error " + std::to_string(status) + ")");
    return true;
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
    unsigned char header[8];
    writeOsdBlockHeader(header, img.width, img.height);
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
    std::vector<double> times, cpuTimes;
    for (int k = 0; k < runs; ++k) {
        // As the OSD path: a quantiser sized for the frame, made before the
        // timed call.
        CQuantizer q(256, 8, std::max(img.width, prevImg.width),
                     std::max(img.height, prevImg.height));
        if (previous && !quantise(q, prevImg, prevResult))
            return 1;
        if (!quantise(q, img, result))
            return 1;
        times.push_back(result.milliseconds);
        cpuTimes.push_back(result.cpuMilliseconds);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());

    const double psnr = psnrAgainstSamples(img, result.palette.data(), result.indices.data());
    char error[32] = "exact";
    if (!isinf(psnr))
        snprintf(error, sizeof error, "PSNR %.2f dB", psnr);
    printf("%s: %u x %u, time %.3f ms%s (processor %.3f ms), %s, colours %zu\n", input, img.width,
           img.height, times[times.size() / 2], runs > 1 ? " (median)" : "",
           cpuTimes[cpuTimes.size() / 2], error, coloursUsed(result));
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
