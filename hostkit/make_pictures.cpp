// Writes the demo's clock pictures as an MPEG video elementary stream:
//   make_pictures OUT.m2v WIDTH HEIGHT FPS SECONDS
// FPS is one of 24, 25, 30, 50, 60. The build makes the streams the demo's
// writer carries, so that the demo itself encodes nothing.
#include "pictures.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: %s OUT.m2v WIDTH HEIGHT FPS SECONDS\n", argv[0]);
        return 2;
    }
    pictures::Shape shape;
    shape.width = atoi(argv[2]);
    shape.height = atoi(argv[3]);
    int fps = atoi(argv[4]);
    const int codes[][2] = {{24, 2}, {25, 3}, {30, 5}, {50, 6}, {60, 8}};
    shape.frameRateCode = 0;
    for (const auto& c : codes)
        if (c[0] == fps)
            shape.frameRateCode = c[1];
    double seconds = atof(argv[5]);
    if (shape.width <= 0 || shape.height <= 0 || shape.frameRateCode == 0 || seconds <= 0) {
        fprintf(stderr, "make_pictures: bad size, rate or length\n");
        return 2;
    }
    std::string error;
    auto coded = pictures::encode(
        shape, static_cast<int>(seconds * fps),
        [fps](int i, uint8_t* rgb, int w, int h) { pictures::paintClock(i, fps, rgb, w, h); },
        &error);
    if (coded.empty()) {
        fprintf(stderr, "make_pictures: %s\n", error.c_str());
        return 1;
    }
    FILE* out = fopen(argv[1], "wb");
    if (!out) {
        fprintf(stderr, "make_pictures: cannot write %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    bool ok = true;
    for (const auto& p : coded)
        ok = ok && fwrite(p.data(), 1, p.size(), out) == p.size();
    if (fclose(out) != 0 || !ok) {
        fprintf(stderr, "make_pictures: writing %s failed\n", argv[1]);
        return 1;
    }
    return 0;
}
