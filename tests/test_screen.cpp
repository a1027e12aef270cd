// What the card's output shows, through the host's natives: the video in
// the destination the library set (or where the aspect puts it), the OSD
// at its rectangle and scaled as the card scales it, at the output mode's
// size; the test pattern and its reason where there is no picture; the
// picture itself against ffmpeg's own decode of the same frame, and the
// demo's clock pictures at the moment played.
#include "natives.h"
#include "pictures.h"
#include "player_world.h"
#include "stream_writer.h"

#include "sim/control_card.h"
#include "sim/control_graph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

// The four quarters of the known picture.
const uint32_t kTopLeft = 0xDC2828;     // red
const uint32_t kTopRight = 0x28C83C;    // green
const uint32_t kBottomLeft = 0x283CDC;  // blue
const uint32_t kBottomRight = 0xEBEBEB; // white

void paintQuarters(int, uint8_t* rgb, int w, int h) {
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t c = y < h / 2 ? (x < w / 2 ? kTopLeft : kTopRight)
                                   : (x < w / 2 ? kBottomLeft : kBottomRight);
            uint8_t* p = rgb + (static_cast<size_t>(y) * w + x) * 3;
            p[0] = static_cast<uint8_t>(c >> 16), p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c);
        }
}

// A stream of `seconds` whose pictures `paint` makes; `codedOut` receives
// them.
void writeStream(const char* path, const pictures::Shape& shape, double seconds,
                 const pictures::Painter& paint,
                 std::vector<std::vector<uint8_t>>* codedOut = nullptr) {
    double fps = streamwriter::framesPerSecond(shape.frameRateCode);
    std::string error;
    auto coded =
        pictures::encode(shape, static_cast<int>(std::lround(seconds * fps)) + 1, paint, &error);
    ASSERT_FALSE(coded.empty()) << error;
    if (codedOut)
        *codedOut = coded;
    streamwriter::StreamSpec stream;
    stream.width = shape.width;
    stream.height = shape.height;
    stream.frameRateCode = shape.frameRateCode;
    stream.seconds = seconds;
    stream.mpeg1 = shape.mpeg1;
    stream.pictures = &coded;
    ASSERT_TRUE(streamwriter::writeProgramStream(path, stream));
}

uint32_t rgbAt(const simcard::Screen& s, int x, int y) {
    return s.pixels[static_cast<size_t>(y) * static_cast<size_t>(s.width) +
                    static_cast<size_t>(x)] &
           0xFFFFFF;
}

// Within `tolerance` in each of red, green and blue.
bool near(uint32_t a, uint32_t b, int tolerance = 12) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) >
            tolerance)
            return false;
    return true;
}

std::string hex(uint32_t c) {
    char text[16];
    snprintf(text, sizeof text, "%06X", c & 0xFFFFFF);
    return text;
}

#define EXPECT_COLOUR(expected, screen, x, y)                                                      \
    EXPECT_TRUE(near(expected, rgbAt(screen, x, y)))                                               \
        << "at (" << (x) << ", " << (y) << "): " << hex(rgbAt(screen, x, y)) << ", expected "      \
        << hex(expected)

// PSNR in dB of the screen's pixels against 0xRRGGBB values of the same size.
double psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); i++)
        for (int shift = 0; shift < 24; shift += 8) {
            double d = static_cast<double>(a[i] >> shift & 0xFF) - (b[i] >> shift & 0xFF);
            sum += d * d;
        }
    double mse = sum / (3.0 * static_cast<double>(a.size()));
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::vector<uint32_t> videoOf(const simcard::Screen& s) {
    std::vector<uint32_t> v;
    for (int y = s.videoArea.top; y < s.videoArea.bottom; y++)
        for (int x = s.videoArea.left; x < s.videoArea.right; x++)
            v.push_back(rgbAt(s, x, y));
    return v;
}

class Screen : public Player {
  protected:
    void seekMs(jlong ms) { Java_org_quencommunity_tovix_TovixAPI_seek(env(), cls(), ms); }
    void placeVideo(int left, int top, int width, int height) {
        Java_org_quencommunity_tovix_TovixAPI_setVideoRectangles(env(), cls(), left, top, width,
                                                                 height);
    }
    bool sendOsd(const std::vector<jint>& argb, int width, int height) {
        return natives::updateOSD(env(), cls(), jni.newIntArray(argb), width, height, 0, 0, width,
                                  height) == JNI_TRUE;
    }
    // The known picture, 4:3, as a rendered file, paused at 0.5 s.
    void showQuarters() {
        pictures::Shape shape;
        shape.width = 352;
        shape.height = 288;
        writeStream("quarters.mpg", shape, 2.0, paintQuarters);
        load("quarters.mpg");
        ASSERT_TRUE(play());
        simctl::advanceClock(500);
        ASSERT_TRUE(pauseClip());
    }
};

// ---- Geometry ---------------------------------------------------------------------

TEST_F(Screen, VideoFillsTheDestinationSetAndTheOsdLiesOverItAtItsRectangle) {
    ASSERT_TRUE(open());
    // 160x80: the left half opaque magenta, the right half white at half
    // alpha.
    std::vector<jint> osd(160 * 80);
    for (int y = 0; y < 80; y++)
        for (int x = 0; x < 160; x++)
            osd[y * 160 + x] = static_cast<jint>(x < 80 ? 0xFFFF00FFu : 0x80FFFFFFu);
    ASSERT_TRUE(sendOsd(osd, 160, 80));
    showQuarters();
    placeVideo(100, 60, 320, 240);

    simcard::Screen s;
    ASSERT_TRUE(simcard::writeScreenPng("screen.png", &s));
    EXPECT_EQ("TV NTSC 720x480", s.mode);
    ASSERT_EQ(720, s.width);
    ASSERT_EQ(480, s.height);
    ASSERT_TRUE(s.picture) << s.note;
    EXPECT_EQ(100, s.videoArea.left);
    EXPECT_EQ(60, s.videoArea.top);
    EXPECT_EQ(420, s.videoArea.right);
    EXPECT_EQ(300, s.videoArea.bottom);
    EXPECT_NEAR(0.5, s.position, 1e-6);
    // The picture's quarters fill the rectangle, their edges where its
    // middle is; nothing of it outside.
    EXPECT_COLOUR(kTopLeft, s, 104, 84);
    EXPECT_COLOUR(kTopLeft, s, 254, 174);
    EXPECT_COLOUR(kTopRight, s, 266, 174);
    EXPECT_COLOUR(kTopRight, s, 416, 84);
    EXPECT_COLOUR(kBottomLeft, s, 104, 296);
    EXPECT_COLOUR(kBottomLeft, s, 254, 186);
    EXPECT_COLOUR(kBottomRight, s, 416, 296);
    EXPECT_COLOUR(0x000000, s, 96, 200);
    EXPECT_COLOUR(0x000000, s, 424, 200);
    EXPECT_COLOUR(0x000000, s, 200, 304);
    // The OSD at (0, 0), its own size: opaque where it is opaque, half the
    // black or half the picture through its translucent half, and none of
    // it past 160x80.
    EXPECT_COLOUR(0xFF00FF, s, 40, 40);
    EXPECT_COLOUR(0xFF00FF, s, 79, 79);
    EXPECT_COLOUR(0x808080, s, 120, 40);
    EXPECT_COLOUR(0xEE9494, s, 140, 70); // over the red quarter
    EXPECT_COLOUR(kTopLeft, s, 140, 84);
    EXPECT_COLOUR(0x000000, s, 200, 40);
    freeAndClose();
}

// HDTV at 1280x720: a 720x480 OSD frame covers the whole screen when the
// library scales it and its own 720x480 otherwise; the video, with no
// destination set, is letter-boxed across the 16:9 screen.
class ScreenOsdScaling : public Screen, public testing::WithParamInterface<bool> {};

TEST_P(ScreenOsdScaling, HdScreenIsTheModeSizeAndTheOsdScaledOnlyWhenAsked) {
    bool scaled = GetParam();
    jni.setProperty("tovix/output", "HDTV");
    jni.setProperty("tovix/hdmode", "2");
    jni.setProperty("tovix/scale_osd", scaled ? "true" : "false");
    ASSERT_TRUE(open());
    // Opaque yellow in the top-left quarter, transparent elsewhere.
    std::vector<jint> osd(720 * 480);
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 720; x++)
            osd[y * 720 + x] = static_cast<jint>(x < 360 && y < 240 ? 0xFFFFFF00u : 0x00000000u);
    ASSERT_TRUE(sendOsd(osd, 720, 480));
    showQuarters();

    simcard::Screen s = simcard::screen();
    EXPECT_EQ("HDTV mode 2 (720p) 1280x720", s.mode);
    ASSERT_EQ(1280, s.width);
    ASSERT_EQ(720, s.height);
    ASSERT_TRUE(s.picture) << s.note;
    // 4:3 on 16:9: 960 wide, bars of 160 beside it.
    EXPECT_EQ(160, s.videoArea.left);
    EXPECT_EQ(0, s.videoArea.top);
    EXPECT_EQ(1120, s.videoArea.right);
    EXPECT_EQ(720, s.videoArea.bottom);
    EXPECT_COLOUR(0x000000, s, 150, 600);
    EXPECT_COLOUR(kBottomLeft, s, 170, 600);
    EXPECT_COLOUR(kBottomRight, s, 1110, 600);
    EXPECT_COLOUR(0x000000, s, 1130, 600);
    EXPECT_COLOUR(0xFFFF00, s, 350, 230);
    if (scaled) {
        EXPECT_COLOUR(0xFFFF00, s, 630, 350);
        EXPECT_COLOUR(kBottomRight, s, 650, 370);
    } else {
        EXPECT_COLOUR(kTopLeft, s, 370, 230);
        EXPECT_COLOUR(kTopLeft, s, 350, 250);
    }
    freeAndClose();
}

INSTANTIATE_TEST_SUITE_P(Scale, ScreenOsdScaling, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) {
                             return p.param ? "Scaled" : "NotScaled";
                         });

// Where the default destination puts a 4:3 picture on each output.
struct AspectCase {
    const char* name;
    const char* output;
    const char* standard;
    const char* aspect;
    const char* mode;
    RECT area;
};

class ScreenAspect : public Screen, public testing::WithParamInterface<AspectCase> {};

TEST_P(ScreenAspect, DefaultDestinationFollowsTheAspectSetting) {
    const AspectCase& c = GetParam();
    jni.setProperty("tovix/output", c.output);
    jni.setProperty("tovix/standard", c.standard);
    jni.setProperty("tovix/hdmode", "2");
    jni.setProperty("tovix/aspect", c.aspect);
    ASSERT_TRUE(open());
    showQuarters();
    simcard::Screen s = simcard::screen();
    EXPECT_EQ(c.mode, s.mode);
    ASSERT_TRUE(s.picture) << s.note;
    EXPECT_EQ(c.area.left, s.videoArea.left);
    EXPECT_EQ(c.area.top, s.videoArea.top);
    EXPECT_EQ(c.area.right, s.videoArea.right);
    EXPECT_EQ(c.area.bottom, s.videoArea.bottom);
    // The picture's middle stays in the area's middle, cut or not.
    int cx = (s.videoArea.left + s.videoArea.right) / 2;
    int cy = (s.videoArea.top + s.videoArea.bottom) / 2;
    EXPECT_COLOUR(kTopLeft, s, cx - 24, cy - 24);
    EXPECT_COLOUR(kBottomRight, s, cx + 24, cy + 24);
    freeAndClose();
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ScreenAspect,
    testing::Values(
        AspectCase{"PalFills", "TV", "PAL", "LETTER_BOX", "TV PAL 720x576", {0, 0, 720, 576}},
        AspectCase{"WideTvPillarBoxes", "TV", "NTSC", "WIDE", "TV NTSC 720x480", {90, 0, 630, 480}},
        AspectCase{"HdAsIsStretches",
                   "HDTV",
                   "NTSC",
                   "ASIS",
                   "HDTV mode 2 (720p) 1280x720",
                   {0, 0, 1280, 720}},
        AspectCase{"HdPanScanFillsAndCuts",
                   "HDTV",
                   "NTSC",
                   "PAN_SCAN",
                   "HDTV mode 2 (720p) 1280x720",
                   {0, 0, 1280, 720}}),
    [](const testing::TestParamInfo<AspectCase>& p) { return p.param.name; });

// ---- No picture ---------------------------------------------------------------------

// The pattern is there, not black: many colours in the video area.
size_t coloursIn(const simcard::Screen& s) {
    std::set<uint32_t> seen;
    for (uint32_t p : videoOf(s))
        seen.insert(p);
    return seen.size();
}

TEST_F(Screen, WithoutAPictureThePatternSaysWhy) {
    simcard::Screen before = simcard::screen();
    EXPECT_FALSE(before.picture);
    EXPECT_EQ("nothing is playing: the card has no decoder", before.note);
    EXPECT_GE(coloursIn(before), 7u);

    ASSERT_TRUE(open());
    simcard::Screen idle = simcard::screen();
    EXPECT_EQ("nothing is playing: no video reaches the decoder", idle.note);
    EXPECT_EQ(0, idle.videoArea.left);
    EXPECT_EQ(720, idle.videoArea.right);

    // The stream writer's pictures without image data.
    load("clip.mpg");
    ASSERT_TRUE(play());
    simctl::advanceClock(400);
    simcard::Screen empty = simcard::screen();
    EXPECT_FALSE(empty.picture);
    EXPECT_EQ("the stream's pictures carry no image data", empty.note);
    EXPECT_GE(coloursIn(empty), 7u);
    EXPECT_GE(empty.position, 0.3);
    freeAndClose();
}

// ---- The picture itself -------------------------------------------------------------

struct FfmpegStream {
    const char* name;
    const char* options; // ffmpeg's output options
};

class ScreenPicture : public Screen, public testing::WithParamInterface<FfmpegStream> {};

bool run(const std::string& command) {
    return system(command.c_str()) == 0;
}

// ffmpeg's decode of picture `n` (counted from 0 in presentation order) as
// 0xRRGGBB values.
std::vector<uint32_t> ffmpegPicture(const char* file, int n, int width, int height) {
    char command[512];
    snprintf(command, sizeof command,
             "ffmpeg -hide_banner -loglevel error -y -i %s -vf 'select=eq(n\\,%d)' -frames:v 1 "
             "-f rawvideo -pix_fmt rgb24 picture.rgb",
             file, n);
    std::vector<uint32_t> pixels;
    if (!run(command))
        return pixels;
    FILE* f = fopen("picture.rgb", "rb");
    if (!f)
        return pixels;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    size_t got = fread(rgb.data(), 1, rgb.size(), f);
    fclose(f);
    if (got != rgb.size())
        return pixels;
    for (size_t i = 0; i < rgb.size(); i += 3)
        pixels.push_back(static_cast<uint32_t>(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
    return pixels;
}

// A 720x480 stream of ffmpeg's moving test picture at 25 fps, with
// bidirectional pictures, shown as is on the NTSC screen at 1.52 s: the
// screen holds ffmpeg's picture 38 within 40 dB, and is nearer to it than
// to its neighbours.
TEST_P(ScreenPicture, MatchesFfmpegsDecodeOfTheFrameAtThePosition) {
    if (!run("command -v ffmpeg >/dev/null 2>&1"))
        GTEST_SKIP() << "ffmpeg is not installed";
    std::string make = std::string("ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
                                   "testsrc2=size=720x480:rate=25 -t 4 ") +
                       GetParam().options + " made.mpg";
    ASSERT_TRUE(run(make)) << make;
    jni.setProperty("tovix/aspect", "ASIS");
    ASSERT_TRUE(open());
    load("made.mpg");
    ASSERT_TRUE(play());
    ASSERT_TRUE(pauseClip());
    seekMs(1520);
    simcard::Screen s = simcard::screen();
    ASSERT_TRUE(s.picture) << s.note;
    EXPECT_NEAR(1.52, s.pictureTime, 1e-3);
    std::vector<uint32_t> shown = videoOf(s);
    ASSERT_EQ(720u * 480u, shown.size());
    double match = psnr(shown, ffmpegPicture("made.mpg", 38, 720, 480));
    double before = psnr(shown, ffmpegPicture("made.mpg", 37, 720, 480));
    double after = psnr(shown, ffmpegPicture("made.mpg", 39, 720, 480));
    printf("screen against ffmpeg's picture 38: %.1f dB (37: %.1f dB, 39: %.1f dB)\n", match,
           before, after);
    EXPECT_GE(match, 40.0);
    EXPECT_GT(match, before + 3);
    EXPECT_GT(match, after + 3);
    freeAndClose();
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ScreenPicture,
    testing::Values(FfmpegStream{"Mpeg2ProgramStream", "-c:v mpeg2video -q:v 3 -bf 2 -f vob"},
                    FfmpegStream{"Mpeg1SystemStream", "-c:v mpeg1video -q:v 3 -bf 2 -f mpeg"}),
    [](const testing::TestParamInfo<FfmpegStream>& p) { return p.param.name; });

// Grey noise, a different field for each picture: an intra picture of it
// is far larger than one PES packet can carry.
void paintNoise(int index, uint8_t* rgb, int w, int h) {
    uint32_t v = 12345u + static_cast<uint32_t>(index) * 7919u;
    for (size_t k = 0; k < static_cast<size_t>(w) * h; k++) {
        v = v * 1103515245u + 12345u;
        rgb[3 * k] = rgb[3 * k + 1] = rgb[3 * k + 2] = static_cast<uint8_t>(v >> 24);
    }
}

std::vector<uint32_t> painted(const pictures::Painter& paint, int index, int w, int h) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    paint(index, rgb.data(), w, h);
    std::vector<uint32_t> v;
    for (size_t k = 0; k < rgb.size(); k += 3)
        v.push_back(static_cast<uint32_t>(rgb[k]) << 16 | rgb[k + 1] << 8 | rgb[k + 2]);
    return v;
}

TEST_F(Screen, APictureSpreadOverSeveralPacketsIsDecodedWhole) {
    pictures::Shape shape;
    shape.quantiser = 1;
    std::vector<std::vector<uint8_t>> coded;
    writeStream("noise.mpg", shape, 0.08, paintNoise, &coded);
    ASSERT_GT(coded[0].size(), 65535u);
    jni.setProperty("tovix/aspect", "ASIS");
    ASSERT_TRUE(open());
    load("noise.mpg");
    ASSERT_TRUE(play());
    ASSERT_TRUE(pauseClip());
    simcard::Screen s = simcard::screen();
    ASSERT_TRUE(s.picture) << s.note;
    std::vector<uint32_t> shown = videoOf(s);
    double match = psnr(shown, painted(paintNoise, 0, 720, 480));
    EXPECT_GE(match, 30.0);
    EXPECT_GT(match, psnr(shown, painted(paintNoise, 1, 720, 480)) + 10);
    freeAndClose();
}

// The demo's clock pictures in a recording still being written, through
// the push graph: the screen shows the picture of the moment played, which
// the clock painted for that frame and not its neighbours.
TEST_F(Screen, RecordingShowsThePictureOfTheMomentPlayed) {
    pictures::Shape shape;
    shape.frameRateCode = 5; // 30 fps
    auto clock = [](int i, uint8_t* rgb, int w, int h) { pictures::paintClock(i, 30, rgb, w, h); };
    std::string error;
    auto coded = pictures::encode(shape, 6 * 30 + 1, clock, &error);
    ASSERT_FALSE(coded.empty()) << error;
    streamwriter::StreamSpec stream = recording();
    stream.frameRateCode = 5;
    stream.pictures = &coded;
    streamwriter::ProgramStreamWriter writer(stream);
    loadRecording(writer);
    ASSERT_TRUE(play());
    simctl::advanceClock(1250);
    ASSERT_TRUE(streamwriter::appendBytes("live.mpg", writer.until(4.0)));
    simctl::advanceClock(1000);

    simcard::Screen s = simcard::screen();
    ASSERT_TRUE(s.picture) << s.note;
    int frame = static_cast<int>(std::floor(s.position * 30 + 1e-6));
    EXPECT_GE(frame, 60);
    EXPECT_NEAR(frame / 30.0, s.pictureTime, 1e-3);
    std::vector<uint32_t> shown = videoOf(s);
    double match = psnr(shown, painted(clock, frame, 720, 480));
    EXPECT_GE(match, 30.0);
    EXPECT_GT(match, psnr(shown, painted(clock, frame - 1, 720, 480)) + 3);
    EXPECT_GT(match, psnr(shown, painted(clock, frame + 1, 720, 480)) + 3);
    free();
    close();
}

} // namespace
