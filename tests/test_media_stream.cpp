// The media layer's parse of MPEG system streams: both pack layers, MPEG-1
// and MPEG-2 video, audio-only streams, DVD audio in private stream 1, files
// cut mid-packet and files too large to read whole; and, where ffmpeg is
// installed, the streams a real muxer writes.
#include "stream_writer.h"

#include "sim/media/stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using sim::AudioCoding;
using sim::SystemLayer;
using streamwriter::StreamSpec;

sim::MediaInfo parse(const std::vector<uint8_t>& bytes) {
    return sim::parseSystemStream(bytes.data(), bytes.size());
}

TEST(SystemStream, ReadsSizeRateAudioAndDurationFromWhatTheWriterMade) {
    StreamSpec shape;
    shape.width = 1280;
    shape.height = 720;
    shape.frameRateCode = 5;
    shape.seconds = 3.5;
    shape.audioStreams = 2;
    std::vector<uint8_t> bytes = streamwriter::programStream(shape);
    sim::MediaInfo info = parse(bytes);
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(SystemLayer::Mpeg2Program, info.layer);
    EXPECT_EQ(SystemLayer::Mpeg2Program, sim::leadingSystemLayer(bytes.data(), bytes.size()));
    EXPECT_TRUE(info.hasVideo);
    EXPECT_EQ(2, info.videoMpegVersion);
    EXPECT_EQ(1280, info.width);
    EXPECT_EQ(720, info.height);
    EXPECT_DOUBLE_EQ(30.0, info.frameRate);
    EXPECT_EQ((std::vector<int>{0xC0, 0xC1}), info.audioStreams);
    EXPECT_NEAR(3.5, info.duration(), 1e-9);
    EXPECT_EQ(bytes.size(), info.bytes);
}

TEST(SystemStream, AnMpeg1SystemStreamIsReadInItsOwnPacketSyntax) {
    StreamSpec shape;
    shape.mpeg1 = true;
    shape.width = 352;
    shape.height = 288;
    shape.seconds = 2.5;
    std::vector<uint8_t> bytes = streamwriter::programStream(shape);
    sim::MediaInfo info = parse(bytes);
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(SystemLayer::Mpeg1System, info.layer);
    EXPECT_EQ(SystemLayer::Mpeg1System, sim::leadingSystemLayer(bytes.data(), bytes.size()));
    EXPECT_EQ(1, info.videoMpegVersion) << "no sequence extension";
    EXPECT_EQ(352, info.width);
    EXPECT_EQ(288, info.height);
    EXPECT_EQ((std::vector<int>{0xC0}), info.audioStreams);
    EXPECT_NEAR(2.5, info.duration(), 1e-9) << "not 0: the stamps are read";

    // The same packets walked one by one, as a demultiplexer delivers them.
    sim::SystemStreamReader reader(bytes.data(), bytes.size());
    sim::PesPacket packet;
    int video = 0, audio = 0;
    int64_t firstVideoPts = -1;
    while (reader.next(&packet)) {
        ASSERT_LE(packet.payload + packet.payloadSize, packet.end);
        if (packet.stream == 0xE0 && video++ == 0) {
            firstVideoPts = packet.pts;
            EXPECT_EQ(0xB3, bytes[packet.payload + 3])
                << "the payload starts at the sequence header";
        }
        audio += packet.stream == 0xC0;
    }
    EXPECT_EQ(64, video) << "one every 40 ms, and the last at 2.5 s";
    EXPECT_EQ(64, audio);
    EXPECT_EQ(90000, firstVideoPts);
    EXPECT_EQ(bytes.size(), reader.position());
}

TEST(SystemStream, AnAudioOnlyStreamHasNoVideoAndIsTimedByItsAudio) {
    for (bool mpeg1 : {false, true}) {
        StreamSpec shape;
        shape.video = false;
        shape.mpeg1 = mpeg1;
        shape.seconds = 3;
        sim::MediaInfo info = parse(streamwriter::programStream(shape));
        EXPECT_TRUE(info.valid);
        EXPECT_FALSE(info.hasVideo);
        EXPECT_EQ(0, info.width) << "no picture size is made up";
        EXPECT_EQ(0, info.height);
        EXPECT_EQ(0, info.videoMpegVersion);
        EXPECT_EQ((std::vector<int>{0xC0}), info.audioStreams);
        EXPECT_NEAR(3.0, info.duration(), 1e-9);
    }
}

TEST(SystemStream, CutPacketsTextAndEmptyPacksAreNoPlayableStream) {
    StreamSpec shape;
    shape.seconds = 4;
    streamwriter::ProgramStreamWriter writer(shape);
    std::vector<uint8_t> bytes = writer.until(2.0);
    bytes.resize(bytes.size() - 50); // the last frame's video packet is cut short
    sim::MediaInfo info = parse(bytes);
    EXPECT_TRUE(info.valid);
    EXPECT_NEAR(1.96, info.duration(), 1e-9) << "the cut packet's stamp is not whole";

    const char text[] = "this is not a program stream at all, only words";
    info = sim::parseSystemStream(reinterpret_cast<const uint8_t*>(text), sizeof text);
    EXPECT_FALSE(info.valid);
    EXPECT_EQ(SystemLayer::None, info.layer);
    EXPECT_EQ(0.0, info.duration());

    // Pack headers and padding, but no audio or video: nothing to play.
    std::vector<uint8_t> packs = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00,
                                  0x01, 0x80, 0x13, 0xB1, 0x00, 0x00, 0x01, 0xBE,
                                  0x00, 0x02, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0xB9};
    info = parse(packs);
    EXPECT_EQ(SystemLayer::Mpeg1System, info.layer);
    EXPECT_FALSE(info.valid);
    EXPECT_EQ(packs.size(), info.bytes);

    // An MPEG-2 pack header whose stuffing is cut off at the end: the walk
    // stops before it, not past the bytes.
    std::vector<uint8_t> stuffed = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00,
                                    0x04, 0x01, 0x01, 0x89, 0xC3, 0xFF, 0xFF};
    info = parse(stuffed);
    EXPECT_EQ(0u, info.bytes);
}

TEST(SystemStream, DvdAudioInPrivateStreamOneIsKnownByItsSubStream) {
    // An MPEG-2 pack, then an AC-3 packet and an LPCM packet of private
    // stream 1, each with its sub-stream header, and a sub-picture packet.
    std::vector<uint8_t> bytes = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                                  0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
    auto privatePacket = [&bytes](int sub, int64_t pts, size_t header) {
        size_t length = 3 + 5 + header + 4;
        for (int b : {0x00, 0x00, 0x01, 0xBD, 0x00, int(length), 0x81, 0x80, 0x05})
            bytes.push_back(static_cast<uint8_t>(b));
        for (int b : {0x21 | int((pts >> 29) & 0x0E), int((pts >> 22) & 0xFF),
                      0x01 | int((pts >> 14) & 0xFE), int((pts >> 7) & 0xFF),
                      0x01 | int((pts << 1) & 0xFE)})
            bytes.push_back(static_cast<uint8_t>(b));
        bytes.push_back(static_cast<uint8_t>(sub));
        bytes.insert(bytes.end(), header - 1, 0x00);
        bytes.insert(bytes.end(), {0x0B, 0x77, 0x12, 0x34});
    };
    privatePacket(0x80, 9000, 4);
    privatePacket(0xA0, 9000, 7);
    privatePacket(0x20, 9000, 1);
    privatePacket(0x80, 9000 + 3 * 90000, 4);
    sim::MediaInfo info = parse(bytes);
    EXPECT_TRUE(info.valid);
    EXPECT_EQ((std::vector<int>{0xBD80, 0xBDA0}), info.audioStreams) << "no sub-picture";
    EXPECT_EQ(AudioCoding::Ac3, sim::audioCodingOf(0xBD80));
    EXPECT_EQ(AudioCoding::Lpcm, sim::audioCodingOf(0xBDA0));
    EXPECT_EQ(AudioCoding::Dts, sim::audioCodingOf(0xBD88));
    EXPECT_EQ(AudioCoding::Mpeg, sim::audioCodingOf(0xC3));
    EXPECT_EQ(AudioCoding::None, sim::audioCodingOf(0xE0));
    EXPECT_EQ(AudioCoding::None, sim::audioCodingOf(0xBD20));
    EXPECT_NEAR(3.0, info.duration(), 1e-9) << "timed by the first audio stream";

    sim::SystemStreamReader reader(bytes.data(), bytes.size());
    sim::PesPacket packet;
    while (reader.next(&packet)) {
        ASSERT_EQ(4u, packet.payloadSize) << std::hex << packet.stream;
        EXPECT_EQ(0x0B, bytes[packet.payload]) << "the payload starts after the sub-stream header";
    }
}

TEST(SystemStream, ALargeFileIsTimedFromItsHeadAndTail) {
    StreamSpec shape;
    shape.seconds = 1800; // about 4.8 MB: more than the probe reads whole
    const char* path = "large.mpg";
    ASSERT_TRUE(streamwriter::writeProgramStream(path, shape));
    bool found = false;
    sim::MediaInfo info = sim::probeFile(path, &found);
    EXPECT_TRUE(found);
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(720, info.width);
    EXPECT_NEAR(1800.0, info.duration(), 1e-9);
    FILE* file = fopen(path, "rb");
    fseek(file, 0, SEEK_END);
    EXPECT_EQ(static_cast<uint64_t>(ftell(file)), info.bytes);
    fclose(file);
    remove(path);

    EXPECT_FALSE(sim::probeFile("missing.mpg", &found).valid);
    EXPECT_FALSE(found);
}

// ---- Streams from a real muxer ------------------------------------------------------

struct Muxed {
    const char* name;
    const char* args; // ffmpeg's inputs and output options
    SystemLayer layer;
    int width, height, mpegVersion;
    int audio; // the first audio stream's key, 0 for none
};

bool makeWithFfmpeg(const Muxed& m) {
    std::string command = std::string("ffmpeg -hide_banner -loglevel error -y ") + m.args + " " +
                          m.name + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

TEST(SystemStream, StreamsThatFfmpegWritesAreReadAsTheyAre) {
    if (system("command -v ffmpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    const char* video = "-f lavfi -i testsrc=size=320x240:rate=25";
    const char* tone = "-f lavfi -i sine=frequency=440";
    std::string both = std::string(video) + " " + tone + " -t 2";
    std::string onlyVideo = std::string(video) + " -t 2";
    std::string onlyTone = std::string(tone) + " -t 2";
    const Muxed streams[] = {
        {"mpeg1.mpg", "", SystemLayer::Mpeg1System, 320, 240, 1, 0xC0},
        {"mpeg2.vob", "", SystemLayer::Mpeg2Program, 320, 240, 2, 0xC0},
        {"ac3.vob", "", SystemLayer::Mpeg2Program, 320, 240, 2, 0xBD80},
        {"mpeg2in1.mpg", "", SystemLayer::Mpeg1System, 320, 240, 2, 0},
        {"tone.mpg", "", SystemLayer::Mpeg1System, 0, 0, 0, 0xC0},
        {"tone.vob", "", SystemLayer::Mpeg2Program, 0, 0, 0, 0xBD80},
    };
    const std::string args[] = {
        both + " -c:v mpeg1video -c:a mp2 -f mpeg",
        both + " -c:v mpeg2video -c:a mp2 -f vob",
        both + " -c:v mpeg2video -c:a ac3 -f dvd",
        onlyVideo + " -c:v mpeg2video -f mpeg",
        onlyTone + " -c:a mp2 -f mpeg",
        onlyTone + " -c:a ac3 -f dvd",
    };
    for (size_t i = 0; i < sizeof streams / sizeof streams[0]; i++) {
        Muxed m = streams[i];
        m.args = args[i].c_str();
        ASSERT_TRUE(makeWithFfmpeg(m)) << m.name;
        bool found = false;
        sim::MediaInfo info = sim::probeFile(m.name, &found);
        SCOPED_TRACE(m.name);
        EXPECT_TRUE(info.valid);
        EXPECT_EQ(m.layer, info.layer);
        EXPECT_EQ(m.width != 0, info.hasVideo);
        EXPECT_EQ(m.width, info.width);
        EXPECT_EQ(m.height, info.height);
        EXPECT_EQ(m.mpegVersion, info.videoMpegVersion);
        EXPECT_EQ(m.audio ? std::vector<int>{m.audio} : std::vector<int>{}, info.audioStreams);
        // Two seconds, less the last frame's length (and a little more for
        // AC-3's frames of 32 ms).
        EXPECT_NEAR(2.0, info.duration(), 0.15);
        remove(m.name);
    }
}

} // namespace
