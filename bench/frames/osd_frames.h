// Generated OSD frames for the quantiser's tests, benchmarks and tools:
// menus drawn the way a Java2D host draws them (anti-aliased shapes and
// strokes composited over a transparent background), plus the error and
// flicker figures the quantiser is judged by. Header-only; not part of the
// quantiser library itself.
#ifndef TOVIX_BENCH_FRAMES_OSD_FRAMES_H
#define TOVIX_BENCH_FRAMES_OSD_FRAMES_H

#include <math.h>
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "CQuantizer.h"

namespace osdframes {

struct Frame {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<_OsdColor> pixels;
};

// Premultiplied colour, components 0..1.
struct Paint {
    float r, g, b, a;
};

inline Paint rgba(int r, int g, int b, float a = 1.0f) {
    return Paint{r / 255.0f * a, g / 255.0f * a, b / 255.0f * a, a};
}

inline Paint mix(const Paint& x, const Paint& y, float t) {
    return Paint{x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t,
                 x.a + (y.a - x.a) * t};
}

// Small deterministic generator, the same on every platform.
class Random {
  public:
    explicit Random(uint32_t seed) : s_(seed * 2654435761u + 1u) {}
    uint32_t next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return s_;
    }
    float uniform() { return static_cast<float>(next() >> 8) / 16777216.0f; }

  private:
    uint32_t s_;
};

// Drawing surface in premultiplied floats; shapes are drawn with "source
// over" and an analytic coverage, as an anti-aliasing renderer does.
class Canvas {
  public:
    Canvas(uint32_t w, uint32_t h)
        : w_(w), h_(h), p_(static_cast<size_t>(w) * h, Paint{0, 0, 0, 0}) {}

    uint32_t width() const { return w_; }
    uint32_t height() const { return h_; }

    void blend(int x, int y, const Paint& src, float coverage) {
        if (x < 0 || y < 0 || x >= static_cast<int>(w_) || y >= static_cast<int>(h_) ||
            coverage <= 0)
            return;
        // Java2D stores 8-bit coverage.
        const float cov = roundf(std::min(coverage, 1.0f) * 255.0f) / 255.0f;
        Paint& d = p_[static_cast<size_t>(y) * w_ + x];
        const float k = 1.0f - src.a * cov;
        d.r = src.r * cov + d.r * k;
        d.g = src.g * cov + d.g * k;
        d.b = src.b * cov + d.b * k;
        d.a = src.a * cov + d.a * k;
    }

    // Rounded rectangle; paint(x, y) gives the colour at each pixel.
    template <typename PaintAt>
    void roundRect(float x0, float y0, float x1, float y1, float radius, float softness,
                   PaintAt paint) {
        const int ix0 = static_cast<int>(floorf(x0 - softness)),
                  iy0 = static_cast<int>(floorf(y0 - softness));
        const int ix1 = static_cast<int>(ceilf(x1 + softness)),
                  iy1 = static_cast<int>(ceilf(y1 + softness));
        for (int y = iy0; y <= iy1; ++y) {
            for (int x = ix0; x <= ix1; ++x) {
                const float px = x + 0.5f, py = y + 0.5f;
                const float qx =
                    std::max(fabsf(px - (x0 + x1) * 0.5f) - ((x1 - x0) * 0.5f - radius), 0.0f);
                const float qy =
                    std::max(fabsf(py - (y0 + y1) * 0.5f) - ((y1 - y0) * 0.5f - radius), 0.0f);
                const float inside =
                    std::min(std::max(fabsf(px - (x0 + x1) * 0.5f) - (x1 - x0) * 0.5f + radius,
                                      fabsf(py - (y0 + y1) * 0.5f) - (y1 - y0) * 0.5f + radius),
                             0.0f);
                const float dist = sqrtf(qx * qx + qy * qy) + inside - radius;
                const float cov = softness > 0 ? 0.5f - dist / softness : 0.5f - dist;
                if (cov > 0)
                    blend(x, y, paint(px, py), std::min(cov, 1.0f));
            }
        }
    }

    // Line segment of the given half width (a pen stroke).
    void stroke(float ax, float ay, float bx, float by, float halfWidth, const Paint& paint) {
        const int x0 = static_cast<int>(floorf(std::min(ax, bx) - halfWidth - 1));
        const int x1 = static_cast<int>(ceilf(std::max(ax, bx) + halfWidth + 1));
        const int y0 = static_cast<int>(floorf(std::min(ay, by) - halfWidth - 1));
        const int y1 = static_cast<int>(ceilf(std::max(ay, by) + halfWidth + 1));
        const float dx = bx - ax, dy = by - ay;
        const float len2 = std::max(dx * dx + dy * dy, 1e-6f);
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const float px = x + 0.5f - ax, py = y + 0.5f - ay;
                const float t = std::min(std::max((px * dx + py * dy) / len2, 0.0f), 1.0f);
                const float ex = px - t * dx, ey = py - t * dy;
                const float cov = halfWidth + 0.5f - sqrtf(ex * ex + ey * ey);
                if (cov > 0)
                    blend(x, y, paint, std::min(cov, 1.0f));
            }
        }
    }

    // A line of text-like glyphs: each character is a few strokes chosen
    // from its code, `size` pixels high.
    void text(float x, float baseline, const char* s, float size, const Paint& paint) {
        const float w = size * 0.55f, hw = std::max(0.6f, size * 0.07f);
        for (; *s; ++s) {
            if (*s != ' ') {
                Random r(static_cast<uint32_t>(static_cast<unsigned char>(*s)) * 7919u);
                const int strokes = 2 + static_cast<int>(r.next() % 3);
                for (int k = 0; k < strokes; ++k) {
                    const float ax = x + w * 0.1f + r.uniform() * w * 0.7f;
                    const float ay = baseline - r.uniform() * size * 0.75f;
                    const float bx = x + w * 0.1f + r.uniform() * w * 0.7f;
                    const float by = baseline - r.uniform() * size * 0.75f;
                    stroke(ax, ay, bx, by, hw, paint);
                }
            }
            x += w + size * 0.12f;
        }
    }

    Frame toFrame() const {
        Frame f;
        f.width = w_;
        f.height = h_;
        f.pixels.resize(p_.size());
        for (size_t i = 0; i < p_.size(); ++i) {
            const Paint& p = p_[i];
            const int a = static_cast<int>(lrintf(std::min(std::max(p.a, 0.0f), 1.0f) * 255.0f));
            _OsdColor c = {0, 0, 0, 0};
            if (a > 0) {
                const float k = 255.0f * 255.0f / static_cast<float>(a);
                auto comp = [&](float v) {
                    return static_cast<unsigned char>(std::min(255L, std::max(0L, lrintf(v * k))));
                };
                c = _OsdColor{comp(p.b), comp(p.g), comp(p.r), static_cast<unsigned char>(a)};
            }
            f.pixels[i] = c;
        }
        return f;
    }

  private:
    uint32_t w_, h_;
    std::vector<Paint> p_;
};

// A menu screen: a translucent panel with a drop shadow over transparent
// video, a gradient title bar, menu items with soft icons and text, one
// highlighted item (`highlight`), a photo thumbnail with film grain, a
// progress bar and a clock. Scales with the frame size; `variant` changes
// the texts and the photo.
inline Frame menuFrame(uint32_t width, uint32_t height, int highlight = 1, uint32_t variant = 0) {
    Canvas c(width, height);
    const float sx = width / 720.0f, sy = height / 480.0f, s = std::min(sx, sy);
    const float px0 = 40 * sx, py0 = 36 * sy, px1 = 680 * sx, py1 = 444 * sy;

    c.roundRect(px0 + 8 * s, py0 + 10 * s, px1 + 8 * s, py1 + 10 * s, 18 * s, 14 * s,
                [](float, float) { return rgba(0, 0, 0, 0.45f); });
    const Paint panelTop = rgba(24, 36, 70, 0.82f), panelBottom = rgba(6, 12, 30, 0.86f);
    c.roundRect(px0, py0, px1, py1, 16 * s, 1, [&](float, float y) {
        return mix(panelTop, panelBottom, (y - py0) / (py1 - py0));
    });
    const Paint titleTop = rgba(70, 120, 200), titleBottom = rgba(20, 48, 110);
    const float ty1 = py0 + 52 * sy;
    c.roundRect(px0, py0, px1, ty1 + 16 * s, 16 * s, 1, [&](float, float y) {
        return mix(titleTop, titleBottom, std::min(1.0f, (y - py0) / (ty1 - py0)));
    });
    c.roundRect(px0, ty1, px1, ty1 + 18 * s, 0, 1, [&](float, float y) {
        return mix(panelTop, panelBottom, (y - py0) / (py1 - py0));
    });
    static const char* const titles[] = {"Recordings", "Timer Overview", "Media Library"};
    c.text(px0 + 24 * s, py0 + 38 * sy, titles[variant % 3], 26 * s, rgba(255, 255, 255));
    static const char* const clocks[] = {"20:15", "20:16", "21:03", "07:59"};
    c.text(px1 - 110 * s, py0 + 36 * sy, clocks[variant % 4], 20 * s, rgba(230, 236, 255, 0.9f));

    static const char* const items[] = {"News at Eight",   "Documentary: Deep Sea",
                                        "Late Movie",      "Football Live",
                                        "Weather Tonight", "Quiz Show Finale"};
    const float itemX0 = px0 + 20 * s, itemX1 = 420 * sx;
    for (int i = 0; i < 6; ++i) {
        const float y0 = py0 + (74 + i * 46) * sy, y1 = y0 + 38 * sy;
        if (i == highlight) {
            const Paint left = rgba(232, 140, 24), right = rgba(252, 200, 64);
            c.roundRect(itemX0 - 4 * s, y0 - 4 * s, itemX1 + 4 * s, y1 + 4 * s, 12 * s, 8 * s,
                        [](float, float) { return rgba(255, 170, 40, 0.35f); });
            c.roundRect(itemX0, y0, itemX1, y1, 10 * s, 1, [&](float x, float) {
                return mix(left, right, (x - itemX0) / (itemX1 - itemX0));
            });
        }
        // Soft round icon with a radial shade.
        const float cx = itemX0 + 24 * s, cy = (y0 + y1) * 0.5f, r = 14 * s;
        const Paint hue = rgba(60 + 30 * i, 200 - 25 * i, 120 + 20 * (i % 3));
        c.roundRect(cx - r, cy - r, cx + r, cy + r, r, 2.5f * s, [&](float x, float y) {
            const float d = sqrtf((x - cx + r * 0.4f) * (x - cx + r * 0.4f) +
                                  (y - cy + r * 0.4f) * (y - cy + r * 0.4f));
            return mix(rgba(255, 255, 255), hue, std::min(1.0f, d / (1.6f * r)));
        });
        const Paint ink = i == highlight ? rgba(20, 20, 24) : rgba(235, 238, 245);
        const char* label = items[(i + variant) % 6];
        c.text(itemX0 + 50 * s, y1 - 11 * sy, label, 20 * s, ink);
    }

    // Photo thumbnail: smooth picture with film grain and a thin frame.
    const float fx0 = 450 * sx, fy0 = py0 + 74 * sy, fx1 = 660 * sx, fy1 = fy0 + 158 * sy;
    Random grain(variant * 31u + 7u);
    for (int y = static_cast<int>(fy0); y < static_cast<int>(fy1); ++y) {
        for (int x = static_cast<int>(fx0); x < static_cast<int>(fx1); ++x) {
            const float u = (x - fx0) / (fx1 - fx0), v = (y - fy0) / (fy1 - fy0);
            const float sky = 1.0f - v;
            float r = 60 + 120 * sky + 50 * sinf(u * 7.0f + variant) * v;
            float g = 90 + 100 * sky + 40 * cosf(v * 9.0f + u * 3.0f);
            float b = 140 + 100 * sky - 80 * v * v;
            const float n = (grain.uniform() - 0.5f) * 16.0f;
            r = std::min(255.0f, std::max(0.0f, r + n));
            g = std::min(255.0f, std::max(0.0f, g + n));
            b = std::min(255.0f, std::max(0.0f, b + n));
            c.blend(x, y, rgba(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b)),
                    1.0f);
        }
    }
    c.roundRect(fx0 - 2 * s, fy0 - 2 * s, fx1 + 2 * s, fy0, 0, 1,
                [](float, float) { return rgba(200, 200, 210); });
    c.roundRect(fx0 - 2 * s, fy1, fx1 + 2 * s, fy1 + 2 * s, 0, 1,
                [](float, float) { return rgba(200, 200, 210); });
    c.text(fx0, fy1 + 28 * sy, "Deep Sea  52 min", 16 * s, rgba(200, 208, 230));

    // Progress bar: track and a horizontal gradient fill.
    const float bx0 = 460 * sx, by0 = py1 - 60 * sy, bx1 = 660 * sx, by1 = by0 + 14 * sy;
    c.roundRect(bx0, by0, bx1, by1, 7 * s, 1,
                [](float, float) { return rgba(255, 255, 255, 0.18f); });
    const float fill = bx0 + (bx1 - bx0) * (0.35f + 0.1f * (variant % 3));
    c.roundRect(bx0, by0, fill, by1, 7 * s, 1, [&](float x, float) {
        return mix(rgba(40, 160, 250), rgba(120, 230, 255), (x - bx0) / (bx1 - bx0));
    });
    return c.toFrame();
}

// A dense grid of application icons on a translucent panel: each icon a
// rounded tile with a diagonal gradient, a soft round glyph with a radial
// shade and a label below. Many small gradients: hundreds of thousands of
// pixels in tens of thousands of colours.
inline Frame iconGridFrame(uint32_t width, uint32_t height, uint32_t variant = 0) {
    Canvas c(width, height);
    const float sx = width / 720.0f, sy = height / 480.0f, s = std::min(sx, sy);
    c.roundRect(16 * sx, 16 * sy, 704 * sx, 464 * sy, 14 * s, 1,
                [](float, float) { return rgba(12, 16, 28, 0.88f); });
    static const char* const labels[] = {"Music",  "Photos", "Videos", "Radio", "Guide",
                                         "Timers", "Files",  "Setup",  "Games", "Weather"};
    const int columns = 8, rows = 4;
    const float cellW = 672 * sx / columns, cellH = 432 * sy / rows;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < columns; ++col) {
            const int k = row * columns + col + static_cast<int>(variant);
            const float x0 = 24 * sx + col * cellW + 10 * s, y0 = 24 * sy + row * cellH + 6 * s;
            const float x1 = x0 + cellW - 20 * s, y1 = y0 + cellH - 34 * s;
            const Paint top = rgba(40 + (k * 53) % 200, 60 + (k * 97) % 180, 80 + (k * 31) % 170);
            const Paint bottom = rgba((k * 71) % 120, (k * 29) % 110, 40 + (k * 43) % 150);
            c.roundRect(x0, y0, x1, y1, 12 * s, 2 * s, [&](float x, float y) {
                return mix(top, bottom, ((x - x0) + (y - y0)) / ((x1 - x0) + (y1 - y0)));
            });
            const float cx = (x0 + x1) * 0.5f, cy = (y0 + y1) * 0.5f;
            const float r = std::min(x1 - x0, y1 - y0) * 0.3f;
            const Paint hue = rgba(255 - (k * 37) % 120, 200 - (k * 23) % 150, (k * 59) % 255);
            c.roundRect(cx - r, cy - r, cx + r, cy + r, r, 2.5f * s, [&](float x, float y) {
                const float d = sqrtf((x - cx + r * 0.35f) * (x - cx + r * 0.35f) +
                                      (y - cy + r * 0.35f) * (y - cy + r * 0.35f));
                return mix(rgba(255, 255, 255, 0.95f), hue, std::min(1.0f, d / (1.5f * r)));
            });
            c.text(x0 + 4 * s, y1 + 22 * s, labels[k % 10], 15 * s, rgba(225, 230, 240));
        }
    }
    return c.toFrame();
}

// A photo filling the frame, as a picture viewer shows it: smooth shapes
// of sky, hills and a sun with film grain and a vignette. Nearly every
// pixel has its own colour.
inline Frame photoFrame(uint32_t width, uint32_t height, uint32_t variant = 0) {
    Frame f;
    f.width = width;
    f.height = height;
    f.pixels.resize(static_cast<size_t>(width) * height);
    Random grain(variant * 97u + 13u);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const float u = static_cast<float>(x) / width, v = static_cast<float>(y) / height;
            const float hill = 0.55f + 0.12f * sinf(u * 6.0f + variant) + 0.05f * sinf(u * 23.0f);
            float r, g, b;
            if (v < hill) {
                const float sky = v / hill;
                r = 90 + 120 * sky;
                g = 140 + 70 * sky;
                b = 230 - 40 * sky;
                const float dx = u - 0.72f, dy = v - 0.22f, sun = sqrtf(dx * dx + dy * dy);
                const float glow = std::max(0.0f, 1.0f - sun * 5.0f);
                r += (255 - r) * glow;
                g += (235 - g) * glow;
                b += (180 - b) * glow * 0.8f;
            } else {
                const float ground = (v - hill) / (1.0f - hill);
                r = 60 + 40 * sinf(u * 40.0f + ground * 9.0f) * 0.5f + 30 * ground;
                g = 110 - 50 * ground + 25 * cosf(u * 17.0f);
                b = 40 + 20 * ground;
            }
            const float dx = u - 0.5f, dy = v - 0.5f;
            const float vignette = 1.0f - 0.6f * (dx * dx + dy * dy);
            const float n = (grain.uniform() - 0.5f) * 14.0f;
            auto byte = [&](float c) {
                return static_cast<unsigned char>(
                    std::min(255.0f, std::max(0.0f, c * vignette + n)));
            };
            f.pixels[static_cast<size_t>(y) * width + x] =
                _OsdColor{byte(b), byte(g), byte(r), 255};
        }
    }
    return f;
}

// A frame of flat panels and text whose anti-aliasing has four coverage
// levels: well under 256 colours.
inline Frame flatFrame(uint32_t width, uint32_t height) {
    Frame f;
    f.width = width;
    f.height = height;
    f.pixels.assign(static_cast<size_t>(width) * height, _OsdColor{0, 0, 0, 0});
    Canvas c(width, height);
    const float sx = width / 720.0f, sy = height / 480.0f, s = std::min(sx, sy);
    c.roundRect(60 * sx, 60 * sy, 660 * sx, 420 * sy, 0, 0,
                [](float, float) { return rgba(16, 24, 48, 0.8f); });
    c.roundRect(60 * sx, 60 * sy, 660 * sx, 110 * sy, 0, 0,
                [](float, float) { return rgba(30, 70, 140); });
    c.roundRect(80 * sx, 180 * sy, 400 * sx, 220 * sy, 0, 0,
                [](float, float) { return rgba(240, 160, 30); });
    c.text(80 * sx, 96 * sy, "Settings", 26 * s, rgba(255, 255, 255));
    c.text(90 * sx, 160 * sy, "Picture format", 20 * s, rgba(230, 230, 240));
    c.text(90 * sx, 210 * sy, "Audio language", 20 * s, rgba(20, 20, 20));
    c.text(90 * sx, 260 * sy, "Subtitles", 20 * s, rgba(230, 230, 240));
    Frame drawn = c.toFrame();
    // Reduce the anti-aliasing to four levels per colour pair by snapping
    // each channel to a coarse grid.
    for (size_t i = 0; i < drawn.pixels.size(); ++i) {
        _OsdColor p = drawn.pixels[i];
        auto snap = [](unsigned char v) {
            return static_cast<unsigned char>((v + 32) / 64 * 64 > 255 ? 255 : (v + 32) / 64 * 64);
        };
        p.blue = snap(p.blue);
        p.green = snap(p.green);
        p.red = snap(p.red);
        p.alpha = p.alpha == 0 ? 0 : (p.alpha > 230 ? 255 : 204);
        f.pixels[i] = p;
    }
    return f;
}

// `under` with a 480 x 160 volume pop-up at the bottom centre, as a host
// shows it over a menu: a dark translucent panel with rounded corners, a
// speaker, the word and the level as text, and a bar filled to `level`
// (0 to 1) with a gradient. Pixels outside the pop-up's shape are left as
// they are, byte for byte.
inline Frame withVolumePopup(const Frame& under, float level) {
    const uint32_t pw = std::min<uint32_t>(480, under.width),
                   ph = std::min<uint32_t>(160, under.height);
    Canvas c(pw, ph);
    c.roundRect(1, 1, pw - 1.0f, ph - 1.0f, 18, 1, [&](float, float y) {
        return mix(rgba(30, 44, 84, 0.9f), rgba(8, 14, 34, 0.92f), y / ph);
    });
    c.roundRect(28, 52, 40, 76, 2, 1, [](float, float) { return rgba(235, 238, 245); });
    c.stroke(40, 56, 54, 44, 2.0f, rgba(235, 238, 245));
    c.stroke(40, 72, 54, 84, 2.0f, rgba(235, 238, 245));
    c.stroke(54, 44, 54, 84, 2.0f, rgba(235, 238, 245));
    c.text(80, 44, "Volume", 22, rgba(255, 255, 255));
    static const char* const numbers[] = {"0",  "10", "20", "30", "40", "50",
                                          "60", "70", "80", "90", "100"};
    const int step = static_cast<int>(lrintf(std::min(std::max(level, 0.0f), 1.0f) * 10));
    c.text(pw - 90.0f, 44, numbers[step], 22, rgba(230, 236, 255, 0.9f));
    const float bx0 = 80, bx1 = pw - 40.0f, by0 = 92, by1 = 112;
    c.roundRect(bx0, by0, bx1, by1, 10, 1, [](float, float) { return rgba(255, 255, 255, 0.18f); });
    const float fill = bx0 + (bx1 - bx0) * std::min(std::max(level, 0.0f), 1.0f);
    if (fill > bx0)
        c.roundRect(bx0, by0, fill, by1, 10, 1, [&](float x, float) {
            return mix(rgba(232, 140, 24), rgba(252, 200, 64), (x - bx0) / (bx1 - bx0));
        });
    const Frame pop = c.toFrame();

    // Source over, pixel by pixel, in premultiplied floats.
    Frame f = under;
    const uint32_t x0 = (under.width - pw) / 2, y0 = under.height - ph - (under.height - ph) / 8;
    for (uint32_t y = 0; y < ph; ++y) {
        for (uint32_t x = 0; x < pw; ++x) {
            const _OsdColor& s = pop.pixels[static_cast<size_t>(y) * pw + x];
            if (s.alpha == 0)
                continue;
            _OsdColor& d = f.pixels[static_cast<size_t>(y0 + y) * under.width + x0 + x];
            const float sa = s.alpha / 255.0f, da = d.alpha / 255.0f * (1 - sa);
            const float a = sa + da;
            auto comp = [&](unsigned char sc, unsigned char dc) {
                return static_cast<unsigned char>(lrintf((sc * sa + dc * da) / a));
            };
            d = _OsdColor{comp(s.blue, d.blue), comp(s.green, d.green), comp(s.red, d.red),
                          static_cast<unsigned char>(lrintf(a * 255.0f))};
        }
    }
    return f;
}

// Squared error of one pixel against its palette colour, both
// premultiplied: P = (R*A/255, G*A/255, B*A/255, A), all four channels.
inline double premultipliedError(const _OsdColor& x, const _OsdColor& y) {
    const double ax = x.alpha / 255.0, ay = y.alpha / 255.0;
    const double dr = x.red * ax - y.red * ay, dg = x.green * ax - y.green * ay;
    const double db = x.blue * ax - y.blue * ay, da = static_cast<double>(x.alpha) - y.alpha;
    return dr * dr + dg * dg + db * db + da * da;
}

// PSNR in dB over premultiplied RGBA of a quantised frame; infinity when
// exact.
inline double psnr(const _OsdColor* source, const _OsdColor* palette, const unsigned char* indices,
                   size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += premultipliedError(source[i], palette[indices[i]]);
    if (sum == 0 || count == 0)
        return std::numeric_limits<double>::infinity();
    const double mse = sum / (4.0 * static_cast<double>(count));
    return 10.0 * log10(255.0 * 255.0 / mse);
}

inline bool sameColour(const _OsdColor& x, const _OsdColor& y) {
    return x.blue == y.blue && x.green == y.green && x.red == y.red && x.alpha == y.alpha;
}

// Share of the pixels equal in both input frames whose output colour
// changed from the first frame to the second.
inline double flicker(const _OsdColor* first, const _OsdColor* firstPalette,
                      const unsigned char* firstIndices, const _OsdColor* second,
                      const _OsdColor* secondPalette, const unsigned char* secondIndices,
                      size_t count) {
    size_t same = 0, changed = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!sameColour(first[i], second[i]))
            continue;
        ++same;
        if (!sameColour(firstPalette[firstIndices[i]], secondPalette[secondIndices[i]]))
            ++changed;
    }
    return same ? static_cast<double>(changed) / static_cast<double>(same) : 0.0;
}

inline size_t distinctColours(const std::vector<_OsdColor>& pixels) {
    std::vector<uint32_t> keys(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) {
        const _OsdColor& p = pixels[i];
        keys[i] = p.alpha == 0
                      ? 0u
                      : (static_cast<uint32_t>(p.alpha) << 24 | static_cast<uint32_t>(p.red) << 16 |
                         static_cast<uint32_t>(p.green) << 8 | p.blue);
    }
    std::sort(keys.begin(), keys.end());
    return static_cast<size_t>(std::unique(keys.begin(), keys.end()) - keys.begin());
}

} // namespace osdframes

#endif
