// Real MPEG pictures for the streams that tests and the demo write, coded
// with libavcodec's MPEG-1 or MPEG-2 video encoder (Linux builds only).
// Pictures are intra and predicted only, no bidirectional ones, so that
// each is presented in the order it is coded and a system stream can stamp
// them one after another.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictures {

struct Shape {
    int width = 720;
    int height = 480;
    int frameRateCode = 3; // the sequence header's code: 3 is 25 fps, 5 is 30
    bool mpeg1 = false;
    int groupLength = 12; // pictures from one intra picture to the next
    int quantiser = 3;    // fixed, 1 (finest) to 31
};

// Paints picture `index` into `rgb`: width x height pixels of red, green and
// blue bytes, row after row.
using Painter = std::function<void(int index, uint8_t* rgb, int width, int height)>;

// `count` coded pictures, each with the sequence and group headers that go
// before it. Empty, with the reason in `error`, when the encoder fails.
std::vector<std::vector<uint8_t>> encode(const Shape& shape, int count, const Painter& paint,
                                         std::string* error);

// The demo's picture at `index` of a stream of `fps` pictures a second: the
// running time code (minutes, seconds, picture) in large figures, and a bar
// that crosses the picture once a second, so that any one picture tells
// the moment of the stream it belongs to.
void paintClock(int index, double fps, uint8_t* rgb, int width, int height);

} // namespace pictures
