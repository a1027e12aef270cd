// The card's video decoder as the screen uses it: the picture of an MPEG-1
// or MPEG-2 system stream at a moment of the file, decoded with libavcodec
// and scaled with libswscale. Nothing here runs while samples flow: a
// picture is decoded only when a screen is asked for, from the file itself
// (the group of pictures before the moment, decoded up to it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {
namespace card {

class VideoPicture {
  public:
    ~VideoPicture();

    int width() const;
    int height() const;
    // Seconds from the stream's first time stamp to this picture's.
    double seconds() const { return seconds_; }

    // The picture, or the part of it from (cropLeft, cropTop) of cropWidth x
    // cropHeight, scaled to width x height as 0xAARRGGBB values (alpha 255),
    // row after row. False when the scaler refuses the sizes.
    bool scaled(int cropLeft, int cropTop, int cropWidth, int cropHeight, int width, int height,
                std::vector<uint32_t>* out) const;

  private:
    friend std::unique_ptr<VideoPicture> decodePictureAt(const std::string&, double, std::string*);
    struct Frame;
    explicit VideoPicture(Frame* frame, double seconds) : frame_(frame), seconds_(seconds) {}
    Frame* frame_;
    double seconds_;
};

// The picture on show `seconds` after the stream's first time stamp in the
// system stream at `path` (UTF-8): the last one presented at or before that
// moment, or the first when the moment comes before any. Null when there is
// none, with the reason in words in `reason` ("the stream holds no video",
// "the stream's pictures carry no image data", libavcodec's complaint, ...).
std::unique_ptr<VideoPicture> decodePictureAt(const std::string& path, double seconds,
                                              std::string* reason);

} // namespace card
} // namespace sim
