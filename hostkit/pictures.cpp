// Coding pictures with libavcodec, and the demo's clock picture.
#include "pictures.h"

#include "stream_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

namespace pictures {

namespace {

struct Encoder {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* sws = nullptr;
    ~Encoder() {
        sws_freeContext(sws);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::string avError(const char* what, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return std::string(what) + ": " + text;
}

// Takes every packet the encoder has ready.
int drain(Encoder& e, std::vector<std::vector<uint8_t>>* out) {
    int r;
    while ((r = avcodec_receive_packet(e.context, e.packet)) == 0) {
        out->emplace_back(e.packet->data, e.packet->data + e.packet->size);
        av_packet_unref(e.packet);
    }
    return r == AVERROR(EAGAIN) || r == AVERROR_EOF ? 0 : r;
}

// Seven segments a figure: a top, b top right, c bottom right, d bottom,
// e bottom left, f top left, g middle; bit 0 is a.
const uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

struct Canvas {
    uint8_t* rgb;
    int width;
    int height;
    void fill(int x, int y, int w, int h, uint32_t colour) {
        int x0 = std::max(0, x), x1 = std::min(width, x + w);
        int y0 = std::max(0, y), y1 = std::min(height, y + h);
        for (int row = y0; row < y1; row++) {
            uint8_t* p = rgb + (static_cast<size_t>(row) * width + x0) * 3;
            for (int col = x0; col < x1; col++, p += 3) {
                p[0] = static_cast<uint8_t>(colour >> 16);
                p[1] = static_cast<uint8_t>(colour >> 8);
                p[2] = static_cast<uint8_t>(colour);
            }
        }
    }
    // A figure in a w x h box at x, y.
    void figure(int x, int y, int w, int h, int digit, uint32_t colour) {
        int t = std::max(2, w / 5);
        int half = h / 2;
        uint8_t s = kSegments[digit];
        if (s & 0x01)
            fill(x, y, w, t, colour);
        if (s & 0x02)
            fill(x + w - t, y, t, half + t / 2, colour);
        if (s & 0x04)
            fill(x + w - t, y + half - t / 2, t, h - half + t / 2, colour);
        if (s & 0x08)
            fill(x, y + h - t, w, t, colour);
        if (s & 0x10)
            fill(x, y + half - t / 2, t, h - half + t / 2, colour);
        if (s & 0x20)
            fill(x, y, t, half + t / 2, colour);
        if (s & 0x40)
            fill(x, y + half - t / 2, w, t, colour);
    }
};

} // namespace

std::vector<std::vector<uint8_t>> encode(const Shape& shape, int count, const Painter& paint,
                                         std::string* error) {
    std::vector<std::vector<uint8_t>> coded;
    AVCodecID id = shape.mpeg1 ? AV_CODEC_ID_MPEG1VIDEO : AV_CODEC_ID_MPEG2VIDEO;
    const AVCodec* codec = avcodec_find_encoder(id);
    double fps = streamwriter::framesPerSecond(shape.frameRateCode);
    if (!codec || fps <= 0) {
        *error = !codec ? "this libavcodec has no MPEG video encoder" : "no such frame rate code";
        return {};
    }
    Encoder e;
    e.context = avcodec_alloc_context3(codec);
    e.frame = av_frame_alloc();
    e.packet = av_packet_alloc();
    if (!e.context || !e.frame || !e.packet) {
        *error = "out of memory";
        return {};
    }
    AVRational rate = av_d2q(fps, 100000);
    e.context->width = shape.width;
    e.context->height = shape.height;
    e.context->pix_fmt = AV_PIX_FMT_YUV420P;
    e.context->time_base = av_inv_q(rate);
    e.context->framerate = rate;
    e.context->gop_size = shape.groupLength;
    e.context->max_b_frames = 0;
    e.context->thread_count = 1;
    // A 4:3 picture, whatever its size.
    av_reduce(&e.context->sample_aspect_ratio.num, &e.context->sample_aspect_ratio.den,
              4LL * shape.height, 3LL * shape.width, 255);
    e.context->flags |= AV_CODEC_FLAG_QSCALE;
    e.context->global_quality = FF_QP2LAMBDA * std::clamp(shape.quantiser, 1, 31);
    int r = avcodec_open2(e.context, codec, nullptr);
    if (r < 0) {
        *error = avError("the encoder would not open", r);
        return {};
    }
    e.frame->format = AV_PIX_FMT_YUV420P;
    e.frame->width = shape.width;
    e.frame->height = shape.height;
    if ((r = av_frame_get_buffer(e.frame, 0)) < 0) {
        *error = avError("no picture buffer", r);
        return {};
    }
    e.sws = sws_getContext(shape.width, shape.height, AV_PIX_FMT_RGB24, shape.width, shape.height,
                           AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!e.sws) {
        *error = "no RGB to YUV converter";
        return {};
    }
    std::vector<uint8_t> rgb(static_cast<size_t>(shape.width) * shape.height * 3);
    for (int i = 0; i < count; i++) {
        paint(i, rgb.data(), shape.width, shape.height);
        if ((r = av_frame_make_writable(e.frame)) < 0) {
            *error = avError("picture buffer busy", r);
            return {};
        }
        const uint8_t* planes[1] = {rgb.data()};
        int strides[1] = {shape.width * 3};
        sws_scale(e.sws, planes, strides, 0, shape.height, e.frame->data, e.frame->linesize);
        e.frame->pts = i;
        if ((r = avcodec_send_frame(e.context, e.frame)) < 0 || (r = drain(e, &coded)) < 0) {
            *error = avError("encoding failed", r);
            return {};
        }
    }
    if ((r = avcodec_send_frame(e.context, nullptr)) < 0 || (r = drain(e, &coded)) < 0) {
        *error = avError("encoding failed at the end", r);
        return {};
    }
    return coded;
}

void paintClock(int index, double fps, uint8_t* rgb, int width, int height) {
    Canvas c{rgb, width, height};
    // A dark blue ground that brightens towards the bottom, so that the
    // scaling of a picture shows.
    for (int y = 0; y < height; y++)
        c.fill(0, y, width, 1, 0x102040 + (static_cast<uint32_t>(y * 48 / height) << 8));
    int perSecond = std::max(1, static_cast<int>(std::lround(fps)));
    int frame = index % perSecond;
    int seconds = index / perSecond;
    int figures[6] = {seconds / 600 % 6, seconds / 60 % 10, seconds % 60 / 10,
                      seconds % 10,      frame / 10 % 10,   frame % 10};
    // MM:SS:FF across four fifths of the width.
    int cell = width * 4 / 5 / 8;
    int w = cell * 3 / 4;
    int h = std::min(height / 3, w * 2);
    int x = (width - cell * 8) / 2;
    int y = height / 4;
    for (int i = 0; i < 6; i++) {
        c.figure(x + cell / 8, y, w, h, figures[i], 0xF0F0F0);
        x += cell;
        if (i == 1 || i == 3) {
            int dot = std::max(2, w / 5);
            c.fill(x + cell / 2 - dot / 2, y + h / 3 - dot / 2, dot, dot, 0xF0F0F0);
            c.fill(x + cell / 2 - dot / 2, y + 2 * h / 3 - dot / 2, dot, dot, 0xF0F0F0);
            x += cell;
        }
    }
    // The bar: a track along the bottom, crossed once a second.
    int trackTop = height * 3 / 4;
    int trackHeight = std::max(4, height / 12);
    c.fill(0, trackTop, width, trackHeight, 0x303030);
    int barWidth = std::max(4, width / 12);
    int barX = perSecond > 1 ? frame * (width - barWidth) / (perSecond - 1) : 0;
    c.fill(barX, trackTop, barWidth, trackHeight, 0xFFD020);
    // Marks at tenths of the second under the track.
    for (int i = 0; i <= 10; i++)
        c.fill(i * (width - 2) / 10, trackTop + trackHeight, 2, trackHeight / 2, 0xA0A0A0);
}

} // namespace pictures
