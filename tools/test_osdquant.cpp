// osdquant as a user runs it: 16-bit files read as sRGB, the error measured
// against the file's own samples, "exact" for an exact result, and a
// corrupt file reported with libpng's reason and a failing exit status.
#include <gtest/gtest.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "osd_frames.h"

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Outcome osdquant(const std::string& args) {
    const std::string out = "osdquant.out", err = "osdquant.err";
    const std::string cmd = std::string(OSDQUANT_PATH) + " " + args + " >" + out + " 2>" + err;
    const int raw = system(cmd.c_str());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

void write8(const std::string& path, const osdframes::Frame& f) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = f.width;
    image.height = f.height;
    image.format = PNG_FORMAT_BGRA;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, f.pixels.data(), 0, nullptr))
        << image.message;
}

// A 16-bit RGBA file without gAMA or sRGB chunk: each 8-bit value v is
// written as v * 257 + offset.
void write16(const std::string& path, const osdframes::Frame& f, int offset) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, f.width, f.height, 16, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<unsigned char> row(static_cast<size_t>(f.width) * 8);
    for (uint32_t y = 0; y < f.height; ++y) {
        for (uint32_t x = 0; x < f.width; ++x) {
            const _OsdColor& p = f.pixels[static_cast<size_t>(y) * f.width + x];
            const unsigned char v[4] = {p.red, p.green, p.blue, p.alpha};
            for (int c = 0; c < 4; ++c) {
                const int s = std::min(65535, v[c] * 257 + offset);
                row[x * 8 + c * 2] = static_cast<unsigned char>(s >> 8);
                row[x * 8 + c * 2 + 1] = static_cast<unsigned char>(s);
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(file);
}

TEST(Osdquant, ASixteenBitCopyGivesTheSameBlockAndTheSameError) {
    const osdframes::Frame f = osdframes::menuFrame(240, 160, 1, 2);
    write8("menu8.png", f);
    write16("menu16.png", f, 0);
    const Outcome a = osdquant("--block menu8.blk menu8.png");
    const Outcome b = osdquant("--block menu16.blk menu16.png");
    ASSERT_EQ(0, a.status) << a.err;
    ASSERT_EQ(0, b.status) << b.err;
    EXPECT_FALSE(slurp("menu8.blk").empty());
    EXPECT_TRUE(slurp("menu8.blk") == slurp("menu16.blk")) << "the blocks differ";
    auto error = [](const std::string& out) { return out.substr(out.find("PSNR")); };
    ASSERT_NE(std::string::npos, a.out.find("PSNR")) << a.out;
    ASSERT_NE(std::string::npos, b.out.find("PSNR")) << b.out;
    EXPECT_EQ(error(a.out), error(b.out));
}

TEST(Osdquant, AnExactResultSaysSoAndTheErrorIsMeasuredAgainstTheFile) {
    const osdframes::Frame f = osdframes::flatFrame(240, 160);
    write8("flat8.png", f);
    const Outcome exact = osdquant("flat8.png");
    ASSERT_EQ(0, exact.status) << exact.err;
    EXPECT_NE(std::string::npos, exact.out.find(", exact, ")) << exact.out;
    EXPECT_EQ(std::string::npos, exact.out.find("inf")) << exact.out;

    // 16-bit samples a little above the 8-bit values: the quantiser gets
    // the same frame, but the result is no longer exact against the file.
    write16("flat16.png", f, 100);
    const Outcome near = osdquant("--block flat16.blk flat16.png");
    ASSERT_EQ(0, near.status) << near.err;
    EXPECT_EQ(std::string::npos, near.out.find("exact")) << near.out;
    EXPECT_NE(std::string::npos, near.out.find("PSNR")) << near.out;
    ASSERT_EQ(0, osdquant("--block flat8.blk flat8.png").status);
    EXPECT_TRUE(slurp("flat8.blk") == slurp("flat16.blk")) << "the blocks differ";
}

TEST(Osdquant, ACorruptFileFailsWithLibpngsReason) {
    write8("good.png", osdframes::flatFrame(64, 48));
    std::string bytes = slurp("good.png");
    // One bit of the image data flipped: its checksum no longer matches.
    const size_t idat = bytes.find("IDAT");
    ASSERT_NE(std::string::npos, idat);
    bytes[idat + 10] = static_cast<char>(bytes[idat + 10] ^ 0x10);
    std::ofstream("corrupt.png", std::ios::binary) << bytes;
    const Outcome r = osdquant("corrupt.png");
    EXPECT_NE(0, r.status);
    EXPECT_EQ("", r.out);
    const std::string prefix = "osdquant: corrupt.png: unreadable PNG: ";
    ASSERT_EQ(0u, r.err.find(prefix)) << r.err;
    EXPECT_GT(r.err.size(), prefix.size() + 2) << "no reason given: " << r.err;

    std::ofstream("short.png", std::ios::binary) << slurp("good.png").substr(0, 60);
    const Outcome cut = osdquant("short.png");
    EXPECT_NE(0, cut.status);
    EXPECT_EQ(0u, cut.err.find("osdquant: short.png: unreadable PNG: ")) << cut.err;
}

} // namespace
