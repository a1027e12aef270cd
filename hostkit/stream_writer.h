// Small valid MPEG system streams for tests and the demo, either MPEG-2
// program streams (MPEG-2 video) or MPEG-1 system streams (MPEG-1 video):
// pack headers, a system header, video PES packets (the first with a
// sequence header giving the picture size and frame rate; real pictures
// when they are given) and, if asked, MPEG audio, AC-3 or DTS PES packets, all
// time-stamped. A writer can hand out a stream in stretches, to stand in for
// a file that is still being written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace streamwriter {

struct StreamSpec {
    int width = 720;
    int height = 480;
    int frameRateCode = 3; // the sequence header's code: 3 is 25 fps, 5 is 30
    double seconds = 2.0;  // from the first time stamp to the last
    bool video = true;
    int audioStreams = 1;     // stream ids 0xC0, 0xC1, ...
    bool ac3 = false;         // audio as AC-3 in private stream 1, sub-streams 0x80, 0x81, ...
    int dtsStreams = 0;       // then DTS audio in private stream 1, sub-streams 0x88, 0x89, ...
    int64_t firstPts = 90000; // 90 kHz
    bool mpeg1 = false;       // the MPEG-1 pack layer and PES syntax
    // Coded pictures to carry, one a frame (as pictures::encode makes
    // them, of the same size, rate and MPEG version); frames beyond them,
    // or all when null, carry a picture header without image data.
    const std::vector<std::vector<uint8_t>>* pictures = nullptr;
};

// Frames per second of a frame-rate code (0 for a code with none).
double framesPerSecond(int frameRateCode);

class ProgramStreamWriter {
  public:
    explicit ProgramStreamWriter(const StreamSpec& shape);

    // The bytes of the frames up to `seconds` into the stream (clamped to the
    // stream's length) not yet handed out. The first call starts with the
    // system header.
    std::vector<uint8_t> until(double seconds);
    // The rest of the stream and its end code.
    std::vector<uint8_t> rest();

  private:
    StreamSpec spec_;
    int frames_;   // frames in the whole stream
    int next_ = 0; // the next frame to write
    bool started_ = false;
    bool ended_ = false;
};

// A whole stream.
std::vector<uint8_t> programStream(const StreamSpec& shape);
// Writes a whole stream to `path`; false when the file cannot be written.
bool writeProgramStream(const std::string& path, const StreamSpec& shape);
// Appends bytes to `path` (creating it); false when it cannot.
bool appendBytes(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace streamwriter
