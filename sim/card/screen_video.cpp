// Decoding one picture of a system stream for the screen: the video's
// elementary stream is gathered from the file around the moment asked for,
// decoded from the sequence header of the group of pictures before the one
// that holds the moment, and the last picture presented by then is kept.
#include "screen_video.h"

#include "../media/stream.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace sim {
namespace card {

struct VideoPicture::Frame {
    AVFrame* frame = nullptr;
    ~Frame() { av_frame_free(&frame); }
};

namespace {

const int64_t kClock = 90000; // time stamps tick at 90 kHz
// A file up to this size is read whole; a larger one around the moment only.
const long long kWholeFile = 48ll << 20;
// How much of a larger file is read: from a point at least this long before
// the moment (two groups of pictures of any common stream), this many bytes.
const int64_t kLeadTicks = 4 * kClock;
const size_t kWindow = 24u << 20;
const size_t kProbeRead = 256u << 10;

// libavcodec reports through av_log; its last error is kept as the reason
// for a picture that could not be decoded, and nothing goes to stderr.
std::mutex gLogMutex;
std::string gLastLibError;

void keepLibError(void*, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR)
        return;
    char line[256];
    vsnprintf(line, sizeof line, format, args);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    std::lock_guard<std::mutex> lock(gLogMutex);
    gLastLibError = text;
}

std::string takeLibError() {
    std::lock_guard<std::mutex> lock(gLogMutex);
    std::string text;
    text.swap(gLastLibError);
    return text;
}

struct File {
    FILE* f = nullptr;
    ~File() {
        if (f)
            fclose(f);
    }
};

long long sizeOf(FILE* f) {
    if (fseeko(f, 0, SEEK_END) != 0)
        return -1;
    return static_cast<long long>(ftello(f));
}

std::vector<uint8_t> readAt(FILE* f, long long offset, size_t count) {
    std::vector<uint8_t> bytes(count);
    if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0)
        return {};
    bytes.resize(fread(bytes.data(), 1, count, f));
    return bytes;
}

bool isVideoStream(int stream) {
    return stream >= 0xE0 && stream <= 0xEF;
}

// The first video time stamp in the bytes, -1 when none.
int64_t firstVideoPts(const std::vector<uint8_t>& bytes) {
    SystemStreamReader reader(bytes.data(), bytes.size());
    PesPacket p;
    while (reader.next(&p))
        if (isVideoStream(p.stream) && p.pts >= 0)
            return p.pts;
    return -1;
}

// Where to start reading a large file: the furthest point found, by
// halving, whose first video time stamp lies at least kLeadTicks before
// `target`.
long long windowStart(FILE* f, long long size, int64_t target) {
    long long low = 0;
    long long high = size;
    while (high - low > static_cast<long long>(kProbeRead)) {
        long long middle = low + (high - low) / 2;
        int64_t pts = firstVideoPts(readAt(f, middle, kProbeRead));
        if (pts >= 0 && pts <= target - kLeadTicks)
            low = middle;
        else
            high = middle;
    }
    return low;
}

// The video's elementary stream and the packets it came in.
struct Elementary {
    std::vector<uint8_t> bytes;
    struct Packet {
        size_t offset; // of its payload in `bytes`
        int64_t pts;   // -1 when it carries none
    };
    std::vector<Packet> packets;
};

Elementary gatherVideo(const std::vector<uint8_t>& file) {
    Elementary es;
    SystemStreamReader reader(file.data(), file.size());
    PesPacket p;
    int stream = -1;
    while (reader.next(&p)) {
        if (!isVideoStream(p.stream) || (stream >= 0 && p.stream != stream))
            continue;
        stream = p.stream;
        es.packets.push_back({es.bytes.size(), p.pts});
        es.bytes.insert(es.bytes.end(), file.begin() + static_cast<long>(p.payload),
                        file.begin() + static_cast<long>(p.payload + p.payloadSize));
    }
    return es;
}

// Offsets of the start codes of one kind (the byte after 00 00 01) in the
// elementary stream; for slices, any of 0x01 to 0xAF.
std::vector<size_t> startCodes(const std::vector<uint8_t>& b, int code) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 3 < b.size(); i++) {
        if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1)
            continue;
        int c = b[i + 3];
        if (c == code || (code == 0x01 && c >= 0x01 && c <= 0xAF))
            at.push_back(i);
        i += 2;
    }
    return at;
}

// The packet that holds `offset`.
size_t packetAt(const Elementary& es, size_t offset) {
    size_t k = 0;
    while (k + 1 < es.packets.size() && es.packets[k + 1].offset <= offset)
        k++;
    return k;
}

// The time stamp that applies at `offset`: its packet's, or the next one
// carried (a stamp belongs to the first picture that starts in its packet).
int64_t stampAt(const Elementary& es, size_t offset) {
    for (size_t k = packetAt(es, offset); k < es.packets.size(); k++)
        if (es.packets[k].pts >= 0)
            return es.packets[k].pts;
    return -1;
}

struct Codec {
    AVCodecContext* context = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVPacket* packet = nullptr;
    ~Codec() {
        av_packet_free(&packet);
        if (parser)
            av_parser_close(parser);
        avcodec_free_context(&context);
    }
};

// Decodes from `start` on and keeps the last picture presented at or before
// `target` (or the first, when all come later). The frame's time stamp is
// the parser's, from the packets' stamps.
class Decoding {
  public:
    explicit Decoding(int64_t target) : target_(target) {}
    ~Decoding() {
        av_frame_free(&kept_);
        av_frame_free(&frame_);
    }

    bool open(bool mpeg1, std::string* reason) {
        AVCodecID id = mpeg1 ? AV_CODEC_ID_MPEG1VIDEO : AV_CODEC_ID_MPEG2VIDEO;
        const AVCodec* decoder = avcodec_find_decoder(id);
        if (!decoder) {
            *reason = "this libavcodec has no MPEG video decoder";
            return false;
        }
        codec_.context = avcodec_alloc_context3(decoder);
        codec_.parser = av_parser_init(id);
        codec_.packet = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (!codec_.context || !codec_.parser || !codec_.packet || !frame_) {
            *reason = "out of memory for the decoder";
            return false;
        }
        codec_.context->thread_count = 1;
        if (avcodec_open2(codec_.context, decoder, nullptr) < 0) {
            *reason = "the MPEG video decoder would not open: " + takeLibError();
            return false;
        }
        return true;
    }

    // Feeds one packet's stretch of the elementary stream, stamped `pts`
    // (or none when negative); a null `data` drains the decoder. False once
    // the picture is settled.
    bool feed(const uint8_t* data, size_t size, int64_t pts) {
        while (size > 0 || data == nullptr) {
            uint8_t* out = nullptr;
            int outSize = 0;
            int used = av_parser_parse2(codec_.parser, codec_.context, &out, &outSize, data,
                                        static_cast<int>(size), pts >= 0 ? pts : AV_NOPTS_VALUE,
                                        AV_NOPTS_VALUE, 0);
            if (used < 0)
                return false;
            if (data) {
                data += used;
                size -= static_cast<size_t>(used);
            }
            if (outSize > 0) {
                codec_.packet->data = out;
                codec_.packet->size = outSize;
                codec_.packet->pts = codec_.parser->pts;
                codec_.packet->dts = codec_.parser->dts;
                if (!send(codec_.packet))
                    return false;
            }
            if (!data) {
                if (outSize > 0)
                    continue; // the parser may hold one more picture
                send(nullptr);
                return false;
            }
        }
        return !settled_;
    }

    AVFrame* take() {
        AVFrame* f = kept_;
        kept_ = nullptr;
        return f;
    }
    int64_t keptPts() const { return keptPts_; }

  private:
    bool send(AVPacket* packet) {
        // A packet the decoder refuses is passed over: the pictures after
        // it may still decode, and libavcodec's complaint stays for the
        // reason when none does.
        avcodec_send_packet(codec_.context, packet);
        while (avcodec_receive_frame(codec_.context, frame_) == 0) {
            int64_t pts = frame_->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE)
                pts = lastPts_ == AV_NOPTS_VALUE ? 0 : lastPts_ + framePeriod();
            lastPts_ = pts;
            bool early = kept_ == nullptr;
            if (pts <= target_ || early) {
                if (!kept_ && !(kept_ = av_frame_alloc())) {
                    settled_ = true;
                    break;
                }
                av_frame_unref(kept_);
                av_frame_move_ref(kept_, frame_);
                keptPts_ = pts;
                if (pts > target_)
                    settled_ = true;
            } else {
                settled_ = true;
            }
            av_frame_unref(frame_);
        }
        return !settled_;
    }
    int64_t framePeriod() const {
        AVRational rate = codec_.context->framerate;
        if (rate.num <= 0 || rate.den <= 0)
            return kClock / 25;
        return kClock * rate.den / rate.num;
    }

    Codec codec_;
    int64_t target_;
    AVFrame* frame_ = nullptr;
    AVFrame* kept_ = nullptr;
    int64_t keptPts_ = 0;
    int64_t lastPts_ = AV_NOPTS_VALUE;
    bool settled_ = false;
};

struct InstallLog {
    InstallLog() { av_log_set_callback(keepLibError); }
};

} // namespace

VideoPicture::~VideoPicture() {
    delete frame_;
}

int VideoPicture::width() const {
    return frame_->frame->width;
}

int VideoPicture::height() const {
    return frame_->frame->height;
}

bool VideoPicture::scaled(int cropLeft, int cropTop, int cropWidth, int cropHeight, int width,
                          int height, std::vector<uint32_t>* out) const {
    const AVFrame* f = frame_->frame;
    AVPixelFormat format = static_cast<AVPixelFormat>(f->format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d || width <= 0 || height <= 0 || cropWidth <= 0 || cropHeight <= 0)
        return false;
    // The crop moves in whole chroma samples.
    int cx = cropLeft >> d->log2_chroma_w << d->log2_chroma_w;
    int cy = cropTop >> d->log2_chroma_h << d->log2_chroma_h;
    cx = std::clamp(cx, 0, f->width - 1);
    cy = std::clamp(cy, 0, f->height - 1);
    cropWidth = std::min(cropWidth, f->width - cx);
    cropHeight = std::min(cropHeight, f->height - cy);
    const uint8_t* planes[4] = {};
    for (int i = 0; i < 4 && f->data[i]; i++) {
        bool chroma = i == 1 || i == 2;
        int x = chroma ? cx >> d->log2_chroma_w : cx;
        int y = chroma ? cy >> d->log2_chroma_h : cy;
        planes[i] = f->data[i] + static_cast<ptrdiff_t>(y) * f->linesize[i] + x;
    }
    SwsContext* sws = sws_getContext(cropWidth, cropHeight, format, width, height, AV_PIX_FMT_BGRA,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws)
        return false;
    out->assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(out->data()), nullptr, nullptr, nullptr};
    int dstStride[4] = {width * 4, 0, 0, 0};
    int rows = sws_scale(sws, planes, f->linesize, 0, cropHeight, dst, dstStride);
    sws_freeContext(sws);
    return rows > 0;
}

std::unique_ptr<VideoPicture> decodePictureAt(const std::string& path, double seconds,
                                              std::string* reason) {
    static InstallLog installed;
    takeLibError();
    bool found = false;
    MediaInfo info = probeFile(path, &found);
    if (!found) {
        *reason = "the file cannot be read";
        return nullptr;
    }
    if (!info.hasVideo) {
        *reason = "the stream holds no video";
        return nullptr;
    }
    int64_t target = info.firstPts + static_cast<int64_t>(std::llround(seconds * kClock));

    File file;
    file.f = fopen(path.c_str(), "rb");
    long long size = file.f ? sizeOf(file.f) : -1;
    if (size <= 0) {
        *reason = "the file cannot be read";
        return nullptr;
    }
    std::vector<uint8_t> bytes;
    if (size <= kWholeFile)
        bytes = readAt(file.f, 0, static_cast<size_t>(size));
    else
        bytes = readAt(file.f, windowStart(file.f, size, target), kWindow);
    Elementary es = gatherVideo(bytes);
    bytes.clear();
    bytes.shrink_to_fit();

    if (startCodes(es.bytes, 0x01).empty()) {
        *reason = "the stream's pictures carry no image data";
        return nullptr;
    }
    std::vector<size_t> sequences = startCodes(es.bytes, 0xB3);
    if (sequences.empty()) {
        *reason = "no sequence header before the moment";
        return nullptr;
    }
    // The last sequence header at or before the moment, then one more group
    // back, so that pictures shown before their group's first (an open
    // group) have their earlier reference.
    size_t pick = 0;
    for (size_t i = 0; i < sequences.size(); i++) {
        int64_t pts = stampAt(es, sequences[i]);
        if (pts >= 0 && pts <= target)
            pick = i;
    }
    if (pick > 0)
        pick--;
    size_t start = sequences[pick];

    Decoding decoding(target);
    if (!decoding.open(info.videoMpegVersion == 1, reason))
        return nullptr;
    // Whole packets from the one that holds the sequence header, each with
    // its stamp: the parser gives each picture the stamp of the packet its
    // header starts in, and the decoder passes over what comes before.
    bool going = true;
    for (size_t k = packetAt(es, start); going && k < es.packets.size(); k++) {
        size_t from = es.packets[k].offset;
        size_t to = k + 1 < es.packets.size() ? es.packets[k + 1].offset : es.bytes.size();
        if (to > from)
            going = decoding.feed(es.bytes.data() + from, to - from, es.packets[k].pts);
    }
    if (going)
        decoding.feed(nullptr, 0, -1);
    AVFrame* frame = decoding.take();
    if (!frame) {
        std::string why = takeLibError();
        *reason = "no picture could be decoded" + (why.empty() ? "" : ": " + why);
        return nullptr;
    }
    auto* held = new VideoPicture::Frame;
    held->frame = frame;
    double at = static_cast<double>(decoding.keptPts() - info.firstPts) / kClock;
    return std::unique_ptr<VideoPicture>(new VideoPicture(held, at));
}

} // namespace card
} // namespace sim
