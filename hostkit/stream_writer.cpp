// System stream writing: every frame is one pack with a video PES packet and
// one audio PES packet per audio stream, stamped with its presentation time.
#include "stream_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace streamwriter {

namespace {

const int kPrivateStream1 = 0xBD;

void put(std::vector<uint8_t>& out, std::initializer_list<int> bytes) {
    for (int b : bytes)
        out.push_back(static_cast<uint8_t>(b));
}

// A time stamp as both layers write it: 4 bits `prefix`, then the 33 bits
// in three parts, each followed by a marker bit.
void stamp(std::vector<uint8_t>& out, int prefix, int64_t t) {
    put(out, {(prefix << 4) | 0x01 | int((t >> 29) & 0x0E), int((t >> 22) & 0xFF),
              0x01 | int((t >> 14) & 0xFE), int((t >> 7) & 0xFF), 0x01 | int((t << 1) & 0xFE)});
}

void packHeader(std::vector<uint8_t>& out, int64_t scr, bool mpeg1) {
    put(out, {0x00, 0x00, 0x01, 0xBA});
    if (mpeg1) {
        stamp(out, 0x2, scr);
        put(out, {0x80, 0x13, 0xB1}); // mux rate 2520 (x 50 bytes/s)
        return;
    }
    put(out,
        {0x44 | int((scr >> 27) & 0x38) | int((scr >> 28) & 0x03), int((scr >> 20) & 0xFF),
         int((scr >> 12) & 0xF8) | 0x04 | int((scr >> 13) & 0x03), int((scr >> 5) & 0xFF),
         int((scr << 3) & 0xF8) | 0x04, 0x01, 0x01, 0x89, 0xC3, // mux rate 25200 (x 50 bytes/s)
         0xF8});                                                // no stuffing
}

void systemHeader(std::vector<uint8_t>& out, const StreamSpec& shape) {
    std::vector<uint8_t> body;
    put(body, {0x80, 0xC4, 0xE1, 0x04 | (shape.audioStreams << 2 & 0xFC), 0xE1, 0xFF});
    if (shape.video)
        put(body, {0xE0, 0xE0, 0xE8});
    if ((shape.ac3 && shape.audioStreams > 0) || shape.dtsStreams > 0)
        put(body, {kPrivateStream1, 0xE0, 0x3A});
    for (int i = 0; i < shape.audioStreams && !shape.ac3; i++)
        put(body, {0xC0 + i, 0xC0, 0x20});
    put(out, {0x00, 0x00, 0x01, 0xBB, int(body.size() >> 8), int(body.size() & 0xFF)});
    out.insert(out.end(), body.begin(), body.end());
}

// One PES packet of `size` payload bytes at `data`, stamped when `pts` is
// not negative.
void pes(std::vector<uint8_t>& out, int streamId, int64_t pts, const uint8_t* data, size_t size,
         bool mpeg1) {
    size_t header = pts >= 0 ? (mpeg1 ? 5 : 8) : (mpeg1 ? 1 : 3);
    size_t length = header + size;
    put(out, {0x00, 0x00, 0x01, streamId, int(length >> 8), int(length & 0xFF)});
    if (pts >= 0) {
        if (!mpeg1)
            put(out, {0x80, 0x80, 0x05}); // MPEG-2 syntax, a PTS only
        stamp(out, 0x2, pts);
    } else {
        put(out, mpeg1 ? std::initializer_list<int>{0x0F} : std::initializer_list<int>{0x80, 0, 0});
    }
    out.insert(out.end(), data, data + size);
}

// A payload in as many packets as its length needs; the first one stamped.
void pes(std::vector<uint8_t>& out, int streamId, int64_t pts, const std::vector<uint8_t>& payload,
         bool mpeg1) {
    const size_t most = 60000; // well within the 16-bit packet length
    size_t at = 0;
    do {
        size_t n = std::min(most, payload.size() - at);
        pes(out, streamId, at == 0 ? pts : -1, payload.data() + at, n, mpeg1);
        at += n;
    } while (at < payload.size());
}

std::vector<uint8_t> videoPayload(const StreamSpec& shape, bool withSequenceHeader) {
    std::vector<uint8_t> p;
    if (withSequenceHeader)
        put(p, {0x00, 0x00, 0x01, 0xB3, (shape.width >> 4) & 0xFF,
                ((shape.width & 0x0F) << 4) | ((shape.height >> 8) & 0x0F), shape.height & 0xFF,
                0x20 | (shape.frameRateCode & 0x0F), 0xFF, 0xFF, 0xE0, 0x18});
    // MPEG-2 video tells itself by the sequence extension (identifier 1).
    if (withSequenceHeader && !shape.mpeg1)
        put(p, {0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00});
    put(p, {0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8}); // a picture header
    for (int i = 0; i < 24; i++)
        p.push_back(static_cast<uint8_t>(0x11 * (i % 7)));
    return p;
}

std::vector<uint8_t> audioPayload() {
    std::vector<uint8_t> p = {0xFF, 0xFD, 0x94, 0x00}; // MPEG-1 layer II frame header
    p.resize(32, 0x55);
    return p;
}

// DVD's private stream 1: the sub-stream id, one frame starting at offset 1,
// then an AC-3 sync frame (48 kHz, 192 kbit/s).
std::vector<uint8_t> ac3Payload(int subStream) {
    std::vector<uint8_t> p = {static_cast<uint8_t>(subStream),
                              0x01,
                              0x00,
                              0x01,
                              0x0B,
                              0x77,
                              0x00,
                              0x00,
                              0x14,
                              0x40,
                              0x43};
    p.resize(40, 0x33);
    return p;
}

// DVD's private stream 1: the sub-stream id, one frame starting at offset 1,
// then a DTS frame's sync word and header.
std::vector<uint8_t> dtsPayload(int subStream) {
    std::vector<uint8_t> p = {
        static_cast<uint8_t>(subStream), 0x01, 0x00, 0x01, 0x7F, 0xFE, 0x80, 0x01, 0xFC, 0x3C};
    p.resize(48, 0x44);
    return p;
}

} // namespace

double framesPerSecond(int code) {
    static const double rates[9] = {0,  24000.0 / 1001, 24, 25, 30000.0 / 1001, 30,
                                    50, 60000.0 / 1001, 60};
    return code > 0 && code < 9 ? rates[code] : 0;
}

ProgramStreamWriter::ProgramStreamWriter(const StreamSpec& shape) : spec_(shape) {
    double fps = framesPerSecond(shape.frameRateCode);
    if (fps <= 0)
        fps = 25;
    frames_ = static_cast<int>(std::lround(shape.seconds * fps)) + 1;
}

std::vector<uint8_t> ProgramStreamWriter::until(double seconds) {
    std::vector<uint8_t> out;
    if (ended_)
        return out;
    if (!started_) {
        packHeader(out, 0, spec_.mpeg1);
        systemHeader(out, spec_);
        started_ = true;
    }
    double fps = framesPerSecond(spec_.frameRateCode);
    if (fps <= 0)
        fps = 25;
    while (next_ < frames_) {
        // The last frame lands exactly on the stream's length.
        int64_t offset = next_ == frames_ - 1
                             ? static_cast<int64_t>(std::llround(spec_.seconds * 90000))
                             : static_cast<int64_t>(std::llround(next_ * 90000.0 / fps));
        if (offset > std::llround(seconds * 90000))
            break;
        int64_t pts = spec_.firstPts + offset;
        packHeader(out, pts > 9000 ? pts - 9000 : 0, spec_.mpeg1);
        if (spec_.video)
            pes(out, 0xE0, pts,
                spec_.pictures && next_ < static_cast<int>(spec_.pictures->size())
                    ? (*spec_.pictures)[static_cast<size_t>(next_)]
                    : videoPayload(spec_, next_ == 0),
                spec_.mpeg1);
        for (int a = 0; a < spec_.audioStreams; a++) {
            if (spec_.ac3)
                pes(out, kPrivateStream1, pts, ac3Payload(0x80 + a), spec_.mpeg1);
            else
                pes(out, 0xC0 + a, pts, audioPayload(), spec_.mpeg1);
        }
        for (int d = 0; d < spec_.dtsStreams; d++)
            pes(out, kPrivateStream1, pts, dtsPayload(0x88 + d), spec_.mpeg1);
        next_++;
    }
    return out;
}

std::vector<uint8_t> ProgramStreamWriter::rest() {
    std::vector<uint8_t> out = until(spec_.seconds + 1);
    if (!ended_)
        put(out, {0x00, 0x00, 0x01, 0xB9});
    ended_ = true;
    return out;
}

std::vector<uint8_t> programStream(const StreamSpec& shape) {
    ProgramStreamWriter writer(shape);
    return writer.rest();
}

bool writeProgramStream(const std::string& path, const StreamSpec& shape) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    std::vector<uint8_t> bytes = programStream(shape);
    // An empty stretch writes nothing: fwrite must not be handed its null data.
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

bool appendBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "ab");
    if (!file)
        return false;
    // An empty stretch writes nothing: fwrite must not be handed its null data.
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

} // namespace streamwriter
