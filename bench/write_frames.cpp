// Writes the generated OSD frames used by the benchmark as PNG files, so
// that osdquant and other quantisers can be compared on the same input.
#include <png.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "osd_frames.h"

namespace {

bool writePng(const std::string& path, const osdframes::Frame& f) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = f.width;
    image.height = f.height;
    image.format = PNG_FORMAT_BGRA;
    if (!png_image_write_to_file(&image, path.c_str(), 0, f.pixels.data(), 0, nullptr)) {
        fprintf(stderr, "write_frames: %s: %s\n", path.c_str(), image.message);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || strcmp(argv[1], "--help") == 0) {
        fprintf(stderr, "usage: write_frames DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    for (uint32_t v = 0; v < 3; ++v)
        ok = ok && writePng(dir + "/menu_720x480_" + std::to_string(v) + ".png",
                            osdframes::menuFrame(720, 480, 1, v));
    ok = ok && writePng(dir + "/menu_720x480_moved.png", osdframes::menuFrame(720, 480, 2, 0));
    ok = ok && writePng(dir + "/icons_720x480.png", osdframes::iconGridFrame(720, 480));
    ok = ok && writePng(dir + "/photo_720x480.png", osdframes::photoFrame(720, 480));
    ok = ok && writePng(dir + "/flat_720x480.png", osdframes::flatFrame(720, 480));
    ok = ok && writePng(dir + "/menu_1920x1080.png", osdframes::menuFrame(1920, 1080, 1, 0));
    return ok ? 0 : 1;
}
