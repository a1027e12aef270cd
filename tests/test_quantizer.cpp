// CQuantizer: the output contract, exactness for frames of few colours,
// transparency, error bounds on generated OSD frames, and frame-to-frame
// stability.
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "CQuantizer.h"
#include "colour.h"
#include "counting_allocator.h"
#include "osd_frames.h"
#include "state.h"

namespace {

using osdframes::Frame;

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

// Output buffers with guard bytes on both sides.
struct Output {
    explicit Output(size_t pixels)
        : paletteBytes(256 * 4 + 2 * kGuardBytes, kGuard),
          indexBytes(pixels + 2 * kGuardBytes, kGuard) {}

    _OsdColor* palette() { return reinterpret_cast<_OsdColor*>(paletteBytes.data() + kGuardBytes); }
    unsigned char* indices() { return indexBytes.data() + kGuardBytes; }
    const _OsdColor& colourAt(size_t i) { return palette()[indices()[i]]; }

    bool guardsIntact() const {
        for (size_t i = 0; i < kGuardBytes; ++i) {
            if (paletteBytes[i] != kGuard || paletteBytes[paletteBytes.size() - 1 - i] != kGuard)
                return false;
            if (indexBytes[i] != kGuard || indexBytes[indexBytes.size() - 1 - i] != kGuard)
                return false;
        }
        return true;
    }

    std::vector<unsigned char> paletteBytes;
    std::vector<unsigned char> indexBytes;
};

// One frame, configured as the OSD path configures every frame.
int run(CQuantizer& q, const Frame& f, Output& out, bool diffusion = true) {
    q.imageWidth = f.width;
    q.imageHeight = f.height;
    q.SetErrorDiffusion(diffusion);
    q.SetDistributeClut(false);
    q.SetFullClutSearch(false);
    return q.ProcessImage(f.pixels.data(), out.palette(), out.indices());
}

double psnrOf(const Frame& f, Output& out) {
    return osdframes::psnr(f.pixels.data(), out.palette(), out.indices(), f.pixels.size());
}

Frame filled(uint32_t w, uint32_t h, _OsdColor c) {
    Frame f;
    f.width = w;
    f.height = h;
    f.pixels.assign(static_cast<size_t>(w) * h, c);
    return f;
}

// A frame of exactly `colours` distinct colours (some translucent), each
// used by several pixels in scattered places.
Frame manyColours(uint32_t w, uint32_t h, uint32_t colours, uint32_t seed) {
    Frame f = filled(w, h, _OsdColor{0, 0, 0, 0});
    osdframes::Random r(seed);
    std::vector<_OsdColor> set;
    std::set<uint32_t> seen;
    while (set.size() < colours) {
        const uint32_t v = r.next();
        _OsdColor c = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                       static_cast<unsigned char>(v >> 16),
                       static_cast<unsigned char>((v >> 24) | 0x0F)};
        const uint32_t key = static_cast<uint32_t>(c.blue) | c.green << 8 | c.red << 16 |
                             static_cast<uint32_t>(c.alpha) << 24;
        if (seen.insert(key).second)
            set.push_back(c);
    }
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = set[i < set.size() ? i : r.next() % set.size()];
    return f;
}

// --- Building blocks with a vector path ------------------------------------

TEST(QuantizerColour, PremultiplyingManyColoursAtOnceMatchesOneByOne) {
    // Every component value against every alpha, in an odd count so that
    // the scalar tail runs too.
    std::vector<uint32_t> keys;
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t v = 0; v < 256; ++v)
            keys.push_back(a << 24 | v << 16 | (255 - v) << 8 | (v * 7 & 255));
    keys.push_back(0x80FF0001u);
    std::vector<tovixquant::Premul> many(keys.size());
    tovixquant::premultiplyKeys(keys.data(), keys.size(), many.data());
    for (size_t i = 0; i < keys.size(); ++i) {
        const tovixquant::Premul one = tovixquant::premultiplyKey(keys[i]);
        ASSERT_TRUE(one.r == many[i].r && one.g == many[i].g && one.b == many[i].b &&
                    one.a == many[i].a)
            << std::hex << keys[i];
    }
}

// --- The palette's inputs and its cut ---------------------------------------

TEST(QuantizerHistogram, CountsEveryColourOnceAsItsTableGrows) {
    // Half a flat panel, half a colour per pixel: counted exactly (level 0),
    // with more colours than the slots a frame of this size starts with, so
    // the table doubles twice while filling. Then a change moves those
    // colours about, so that the step's update finds each again in the
    // table, and brings as many new ones.
    const uint32_t w = 360, h = 240;
    const size_t n = static_cast<size_t>(w) * h;
    auto colourOf = [](size_t i, uint32_t salt) {
        const uint32_t v = static_cast<uint32_t>(i) * 2654435761u + salt;
        return _OsdColor{static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                         static_cast<unsigned char>(v >> 16),
                         static_cast<unsigned char>(1 + i % 254)};
    };
    Frame f = filled(w, h, _OsdColor{40, 50, 60, 255});
    for (size_t i = n / 2; i < n; ++i)
        f.pixels[i] = colourOf(i, 0);
    ASSERT_EQ(0, tovixquant::firstLevel(f.pixels.data(), n));
    tovixquant::Histogram histogram;
    histogram.reserve(n);
    std::vector<uint32_t> pixelEntry(n);
    auto check = [&](const Frame& frame) {
        std::map<uint32_t, uint32_t> expected;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t key = tovixquant::normaliseKey(tovixquant::packColour(frame.pixels[i]));
            ++expected[key];
            ASSERT_EQ(key, histogram.keys()[pixelEntry[i]]) << "pixel " << i;
        }
        // One entry per colour, even once no pixel has it any more.
        std::map<uint32_t, uint32_t> counted;
        std::set<uint32_t> entered;
        for (size_t e = 0; e < histogram.size(); ++e) {
            ASSERT_TRUE(entered.insert(histogram.keys()[e]).second) << "a colour entered twice";
            if (histogram.counts()[e] != 0)
                counted[histogram.keys()[e]] = histogram.counts()[e];
        }
        EXPECT_EQ(expected, counted);
        EXPECT_EQ(expected.size(), histogram.live());
    };
    ASSERT_TRUE(histogram.build(f.pixels.data(), n, 0, pixelEntry.data()));
    ASSERT_GT(histogram.size(), n / 3);
    check(f);

    std::vector<uint32_t> before(n);
    for (size_t i = 0; i < n; ++i)
        before[i] = tovixquant::packColour(f.pixels[i]);
    Frame changed = f;
    for (size_t i = n / 2; i < n; ++i)
        changed.pixels[i] = i % 2 ? f.pixels[n / 2 + (n - 1 - i)] : colourOf(i, 12345);
    ASSERT_TRUE(histogram.update(changed.pixels.data(), before.data(), w, 0, n, pixelEntry.data(),
                                 [](size_t, uint32_t, uint32_t, uint32_t) { return true; }));
    check(changed);
}

TEST(QuantizerPalette, SeparateClustersEachGetAnEntryOfTheirMean) {
    // Tight clusters of three colours a step apart, far from each other,
    // and as many entries as clusters: every cut must fall between
    // clusters, so each entry is its cluster's middle colour. Run twice on
    // one builder with other clusters the second time, as frames follow
    // each other: nothing of the first cut may be left over.
    tovixquant::PaletteBuilder builder;
    builder.reserve(64);
    tovixquant::NearestSearch search;
    for (int round = 0; round < 2; ++round) {
        std::vector<tovixquant::WeightedColour> inputs;
        std::set<uint32_t> expected;
        for (int c = 0; c < 12; ++c) {
            const int r = 20 + 40 * (c % 3) + 7 * round, g = 30 + 50 * (c / 3) + 3 * round,
                      b = 200 - 60 * (c % 2), weight = 5 + 10 * c;
            for (int d = -1; d <= 1; ++d) {
                const float at[3] = {float(r + (c % 2 ? d : 0)), float(g + (c % 2 ? 0 : d)),
                                     float(b + d)};
                inputs.push_back(tovixquant::WeightedColour{
                    {at[0], at[1], at[2], 255.0f}, double(weight), 0, double(weight)});
            }
            expected.insert(tovixquant::packColour(_OsdColor{static_cast<unsigned char>(b),
                                                             static_cast<unsigned char>(g),
                                                             static_cast<unsigned char>(r), 255}));
        }
        _OsdColor out[256];
        ASSERT_EQ(12, builder.build(inputs, 12, 8, false, search, out)) << "round " << round;
        std::set<uint32_t> chosen;
        for (int e = 0; e < 12; ++e)
            chosen.insert(tovixquant::packColour(out[e]));
        EXPECT_EQ(expected, chosen) << "round " << round;
    }
}

TEST(QuantizerPalette, MergedGroupsKeepEveryColourAndPixel) {
    // The icon grid has too many small groups of colours: they are merged
    // into wider ones. Every pixel must still be counted once, in the group
    // that holds its colour, and each group's heaviest colour must be one
    // of its own.
    const Frame f = osdframes::iconGridFrame(720, 480);
    const size_t n = f.pixels.size();
    tovixquant::Histogram histogram;
    histogram.reserve(n);
    std::vector<uint32_t> pixelEntry(n);
    ASSERT_TRUE(histogram.build(f.pixels.data(), n, 0, pixelEntry.data()));
    tovixquant::PaletteInputs inputs;
    inputs.reserve(histogram.capacity());
    inputs.gather(histogram);
    const std::vector<tovixquant::WeightedColour>& groups = inputs.inputs();
    ASSERT_GT(histogram.size(), tovixquant::PaletteInputs::kMaxInputs);
    EXPECT_LE(groups.size(), tovixquant::PaletteInputs::kMaxGroups);

    std::vector<double> weight(groups.size(), 0.0);
    std::vector<bool> heaviestIsMember(groups.size(), false);
    double opaque = 0;
    for (size_t e = 0; e < histogram.size(); ++e) {
        const uint32_t key = histogram.keys()[e];
        if (key == 0)
            continue;
        opaque += histogram.counts()[e];
        const uint32_t g = inputs.inputOf(e);
        ASSERT_LT(g, groups.size());
        weight[g] += histogram.counts()[e];
        heaviestIsMember[g] = heaviestIsMember[g] || groups[g].heaviestKey == key;
        // The widest groups (rare colours, merged) span 16 values.
        const tovixquant::Premul p = tovixquant::premultiplyKey(key);
        const float v[4] = {float(p.r), float(p.g), float(p.b), float(p.a)};
        for (int c = 0; c < 4; ++c)
            ASSERT_LT(fabsf(groups[g].c[c] - v[c]), 16.0f) << "colour " << e << " channel " << c;
    }
    double total = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        EXPECT_EQ(weight[g], groups[g].weight) << "group " << g;
        EXPECT_TRUE(heaviestIsMember[g]) << "group " << g;
        total += groups[g].weight;
    }
    EXPECT_EQ(opaque, total);
}

// --- The SSE2 and the scalar kernels ---------------------------------------

// FNV-1a digest of the output of frames that take every path: new screens
// of every kind, diffusion on and off, kept palettes and kept indices, a
// larger frame, reduced bits, few entries, distribution by population.
uint64_t outputDigest() {
    uint64_t digest = 1469598103934665603ull;
    auto add = [&](const unsigned char* p, size_t n) {
        for (size_t i = 0; i < n; ++i)
            digest = (digest ^ p[i]) * 1099511628211ull;
    };
    auto frame = [&](CQuantizer& q, const Frame& f, bool diffusion) {
        Output out(f.pixels.size());
        EXPECT_EQ(0, run(q, f, out, diffusion));
        add(out.paletteBytes.data(), out.paletteBytes.size());
        add(out.indexBytes.data(), out.indexBytes.size());
    };
    const Frame menus[] = {osdframes::menuFrame(720, 480, 1, 0),
                           osdframes::menuFrame(720, 480, 2, 0),
                           osdframes::menuFrame(720, 480, 3, 1)};
    const Frame icons = osdframes::iconGridFrame(720, 480), photo = osdframes::photoFrame(720, 480);
    const Frame flat = osdframes::flatFrame(720, 480),
                large = osdframes::menuFrame(1920, 1080, 2, 2);
    const Frame popups[] = {osdframes::withVolumePopup(menus[0], 0.5f),
                            osdframes::withVolumePopup(menus[0], 0.6f)};
    CQuantizer session(256, 8, 720, 480);
    for (const Frame* f :
         {&menus[0], &menus[1], &menus[0], &popups[0], &popups[1], &menus[0], &popups[0], &menus[2],
          &icons, &photo, &flat, &flat, &menus[0], &large, &menus[1]})
        frame(session, *f, true);
    CQuantizer plain(256, 8, 720, 480);
    for (const Frame* f : {&menus[0], &menus[1], &photo})
        frame(plain, *f, false);
    CQuantizer fewBits(256, 4, 720, 480), fewEntries(16, 8, 720, 480), spread(256, 8, 720, 480);
    spread.SetDistributeClut(true);
    frame(fewBits, menus[2], true);
    frame(fewEntries, icons, true);
    spread.imageWidth = 720;
    spread.imageHeight = 480;
    Output out(menus[0].pixels.size());
    EXPECT_EQ(0, spread.ProcessImage(menus[0].pixels.data(), out.palette(), out.indices()));
    add(out.paletteBytes.data(), out.paletteBytes.size());
    add(out.indexBytes.data(), out.indexBytes.size());
    return digest;
}

// Run by the other build (below) to give its digest; skipped otherwise.
TEST(QuantizerKernels, DigestForTheOtherBuild) {
    const char* path = getenv("TOVIXQUANT_DIGEST_FILE");
    if (!path)
        GTEST_SKIP() << "only run by QuantizerKernels.ScalarAndSse2GiveTheSameBytes";
    std::ofstream(path) << outputDigest() << "\n";
}

#ifdef TOVIXQUANT_SCALAR_TEST
TEST(QuantizerKernels, ScalarAndSse2GiveTheSameBytes) {
    // An absolute path: every test process works in a folder of its own.
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    const std::string file = std::string(cwd) + "/scalar-digest.txt";
    remove(file.c_str());
    const std::string cmd = "TOVIXQUANT_DIGEST_FILE=" + file + " " + TOVIXQUANT_SCALAR_TEST +
                            " --gtest_filter=QuantizerKernels.DigestForTheOtherBuild >/dev/null";
    ASSERT_EQ(0, system(cmd.c_str()));
    uint64_t scalar = 0;
    std::ifstream(file) >> scalar;
    EXPECT_NE(0u, scalar);
    EXPECT_EQ(outputDigest(), scalar);
}
#endif

// --- The contract: sizes written, nothing outside, results -------------

TEST(QuantizerContract, WritesWholePaletteAndOneIndexPerPixelAndNothingElse) {
    const Frame frames[] = {osdframes::menuFrame(720, 480), osdframes::menuFrame(97, 13),
                            filled(1, 1, {1, 2, 3, 255}), manyColours(31, 7, 200, 3)};
    for (const Frame& f : frames) {
        SCOPED_TRACE(testing::Message() << f.width << " x " << f.height);
        CQuantizer q(256, 8, 720, 480);
        Output out(f.pixels.size());
        EXPECT_EQ(0, run(q, f, out));
        EXPECT_TRUE(out.guardsIntact());
        for (size_t i = 0; i < 256 * 4; ++i) {
            // Every palette byte was written: unused entries are zero, so no
            // guard pattern may survive inside the palette.
            const uint32_t* entry =
                reinterpret_cast<const uint32_t*>(out.paletteBytes.data() + kGuardBytes) + i / 4;
            ASSERT_NE(0xA5A5A5A5u, *entry) << "palette entry " << i / 4 << " not written";
        }
        EXPECT_GT(psnrOf(f, out), 30.0);
    }
}

TEST(QuantizerContract, EmptyFrameWritesThePaletteOnly) {
    CQuantizer q(256, 8, 720, 480);
    for (auto size : {std::pair<uint32_t, uint32_t>{0, 0}, {720, 0}, {0, 480}}) {
        Output out(0);
        q.imageWidth = size.first;
        q.imageHeight = size.second;
        EXPECT_EQ(0, q.ProcessImage(nullptr, out.palette(), out.indices()));
        EXPECT_TRUE(out.guardsIntact());
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(0, out.palette()[i].alpha);
    }
    // And a normal frame still works afterwards.
    const Frame f = osdframes::menuFrame(160, 120);
    Output out(f.pixels.size());
    EXPECT_EQ(0, run(q, f, out));
    EXPECT_GT(psnrOf(f, out), 38.0);
}

TEST(QuantizerContract, MissingBuffersAreRefusedWithoutWriting) {
    const Frame f = filled(4, 4, {9, 9, 9, 255});
    CQuantizer q(256, 8, 4, 4);
    Output out(f.pixels.size());
    q.imageWidth = 4;
    q.imageHeight = 4;
    EXPECT_NE(0, q.ProcessImage(f.pixels.data(), nullptr, out.indices()));
    EXPECT_NE(0, q.ProcessImage(f.pixels.data(), out.palette(), nullptr));
    EXPECT_NE(0, q.ProcessImage(nullptr, out.palette(), out.indices()));
    // Larger than an OSD block can hold: refused before anything is read.
    q.imageWidth = 65535;
    q.imageHeight = 65535;
    EXPECT_NE(0, q.ProcessImage(f.pixels.data(), out.palette(), out.indices()));
    EXPECT_EQ(Output(16).paletteBytes, out.paletteBytes);
    EXPECT_EQ(Output(16).indexBytes, out.indexBytes);
}

TEST(QuantizerContract, GrowsForALargerFrameAndGoesBack) {
    CQuantizer q(256, 8, 720, 480);
    const Frame small = osdframes::menuFrame(720, 480, 1, 0);
    const Frame large = osdframes::menuFrame(1920, 1080, 3, 1);
    for (const Frame* f : {&small, &large, &small}) {
        Output out(f->pixels.size());
        ASSERT_EQ(0, run(q, *f, out));
        EXPECT_TRUE(out.guardsIntact());
        EXPECT_GT(psnrOf(*f, out), 43.0);
    }
}

// --- Few colours: exact ---------------------------------------------------

TEST(QuantizerLossless, FramesOfAtMostTheMaximumColoursComeOutExact) {
    struct Case {
        unsigned maxColours;
        Frame frame;
    };
    const Case cases[] = {{256, osdframes::flatFrame(720, 480)},
                          {256, manyColours(64, 48, 256, 1)},
                          {16, manyColours(40, 10, 16, 2)},
                          {256, filled(33, 5, {10, 20, 30, 40})}};
    for (const Case& c : cases) {
        ASSERT_LE(osdframes::distinctColours(c.frame.pixels), c.maxColours);
        CQuantizer q(c.maxColours, 8, 720, 480);
        Output out(c.frame.pixels.size());
        ASSERT_EQ(0, run(q, c.frame, out));
        for (size_t i = 0; i < c.frame.pixels.size(); ++i) {
            const _OsdColor& in = c.frame.pixels[i];
            const _OsdColor& got = out.colourAt(i);
            ASSERT_TRUE(in.alpha == 0 ? got.alpha == 0 : osdframes::sameColour(in, got))
                << "pixel " << i;
            ASSERT_LT(out.indices()[i], c.maxColours);
        }
    }
}

TEST(QuantizerLossless, OneColourMoreThanTheMaximumStaysWithinTheEntries) {
    const Frame f = manyColours(40, 10, 17, 5);
    CQuantizer q(16, 8, 40, 10);
    Output out(f.pixels.size());
    ASSERT_EQ(0, run(q, f, out));
    for (size_t i = 0; i < f.pixels.size(); ++i)
        ASSERT_LT(out.indices()[i], 16);
    for (int e = 16; e < 256; ++e)
        EXPECT_TRUE(osdframes::sameColour(out.palette()[e], {0, 0, 0, 0}));
    EXPECT_GT(psnrOf(f, out), 20.0);
}

TEST(QuantizerLossless, ReducedBitsRoundEveryPaletteComponent) {
    const Frame f = osdframes::menuFrame(200, 120);
    CQuantizer q(256, 4, 200, 120);
    Output out(f.pixels.size());
    ASSERT_EQ(0, run(q, f, out));
    for (int e = 0; e < 256; ++e) {
        const _OsdColor& c = out.palette()[e];
        for (unsigned char v : {c.blue, c.green, c.red, c.alpha})
            EXPECT_EQ(0, v % 17) << "entry " << e;
    }
    EXPECT_GT(psnrOf(f, out), 30.0);
}

// --- Transparency ----------------------------------------------------------

TEST(QuantizerTransparency, TransparentPixelsShareOneEntryWhateverTheirColour) {
    const Frame clean = osdframes::menuFrame(720, 480, 2, 1);
    Frame noisy = clean;
    osdframes::Random r(11);
    for (_OsdColor& p : noisy.pixels)
        if (p.alpha == 0) {
            const uint32_t v = r.next();
            p = _OsdColor{static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                          static_cast<unsigned char>(v >> 16), 0};
        }
    CQuantizer q1(256, 8, 720, 480), q2(256, 8, 720, 480);
    Output a(clean.pixels.size()), b(noisy.pixels.size());
    ASSERT_EQ(0, run(q1, clean, a));
    ASSERT_EQ(0, run(q2, noisy, b));
    EXPECT_EQ(a.paletteBytes, b.paletteBytes);
    EXPECT_EQ(a.indexBytes, b.indexBytes);

    std::set<int> transparentEntries;
    for (size_t i = 0; i < noisy.pixels.size(); ++i) {
        if (noisy.pixels[i].alpha == 0) {
            transparentEntries.insert(b.indices()[i]);
            EXPECT_TRUE(osdframes::sameColour(b.colourAt(i), {0, 0, 0, 0}));
        } else if (noisy.pixels[i].alpha > 8) {
            // Visible pixels never become fully transparent.
            EXPECT_NE(0, b.colourAt(i).alpha) << "pixel " << i;
        }
    }
    EXPECT_EQ(1u, transparentEntries.size());
}

TEST(QuantizerTransparency, FaintColoursCountByTheirCoverage) {
    // Thousands of random colours at alpha 3 on one half, 200 opaque
    // colours on the other: the opaque ones are what shows, so they must
    // keep (nearly) their own entries.
    Frame f = manyColours(100, 100, 200, 21);
    osdframes::Random r(4);
    for (size_t i = 0; i < 5000; ++i) {
        const uint32_t v = r.next();
        f.pixels[5000 + i] =
            _OsdColor{static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                      static_cast<unsigned char>(v >> 16), 3};
    }
    for (size_t i = 200; i < 5000; ++i)
        f.pixels[i] = f.pixels[i % 200];
    CQuantizer q(256, 8, 100, 100);
    Output out(f.pixels.size());
    ASSERT_EQ(0, run(q, f, out));
    double opaqueError = 0;
    for (size_t i = 0; i < 5000; ++i)
        opaqueError += osdframes::premultipliedError(f.pixels[i], out.colourAt(i));
    EXPECT_LT(opaqueError / 5000, 1.0);
    EXPECT_GT(psnrOf(f, out), 45.0);
}

// --- Quality: error bounds and where diffusion may act --------------------

TEST(QuantizerQuality, MenuFramesStayWithinTheErrorBound) {
    for (uint32_t variant = 0; variant < 3; ++variant) {
        const Frame f = osdframes::menuFrame(720, 480, static_cast<int>(variant), variant);
        ASSERT_GT(osdframes::distinctColours(f.pixels), 256u);
        CQuantizer q(256, 8, 720, 480);
        Output out(f.pixels.size());
        ASSERT_EQ(0, run(q, f, out));
        EXPECT_GT(psnrOf(f, out), 43.5) << "variant " << variant;
    }
}

TEST(QuantizerQuality, DiffusionSmoothsGradientsButLeavesFlatPanelsAndTextClean) {
    // Left: a wide horizontal gradient (banding without diffusion). Right:
    // a flat panel with text. Bottom: grain, so that the frame has far
    // more than 256 colours and the palette is tight.
    const uint32_t w = 400, h = 200;
    osdframes::Canvas c(w, h);
    c.roundRect(0, 0, 200, 150, 0, 0, [](float x, float) {
        return osdframes::mix(osdframes::rgba(10, 40, 90), osdframes::rgba(240, 200, 60),
                              x / 200.0f);
    });
    c.roundRect(200, 0, 400, 150, 0, 0, [](float, float) { return osdframes::rgba(30, 30, 60); });
    c.text(215, 60, "Settings", 20, osdframes::rgba(255, 255, 255));
    osdframes::Random r(8);
    for (uint32_t y = 150; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            c.blend(static_cast<int>(x), static_cast<int>(y),
                    osdframes::rgba(static_cast<int>(r.next() % 256),
                                    static_cast<int>(r.next() % 256),
                                    static_cast<int>(r.next() % 256)),
                    1.0f);
    const Frame f = c.toFrame();

    Output plain(f.pixels.size()), dithered(f.pixels.size());
    CQuantizer q1(256, 8, w, h), q2(256, 8, w, h);
    ASSERT_EQ(0, run(q1, f, plain, false));
    ASSERT_EQ(0, run(q2, f, dithered, true));

    // Flat panel and fully covered text keep their exact colours.
    const _OsdColor panel = f.pixels[static_cast<size_t>(140) * w + 390];
    for (uint32_t y = 0; y < 150; ++y)
        for (uint32_t x = 200; x < w; ++x) {
            const _OsdColor& in = f.pixels[static_cast<size_t>(y) * w + x];
            const bool flatOrInk =
                osdframes::sameColour(in, panel) || osdframes::sameColour(in, {255, 255, 255, 255});
            if (flatOrInk) {
                ASSERT_TRUE(
                    osdframes::sameColour(dithered.colourAt(static_cast<size_t>(y) * w + x), in))
                    << x << "," << y;
            }
        }

    // In the gradient, averages over each column follow the input more
    // closely with diffusion than without (no banding).
    auto columnError = [&](Output& out) {
        double total = 0;
        for (uint32_t x = 0; x < 200; ++x) {
            double sum = 0;
            for (uint32_t y = 0; y < 150; ++y) {
                const size_t i = static_cast<size_t>(y) * w + x;
                const _OsdColor& a = f.pixels[i];
                const _OsdColor& b = out.colourAt(i);
                sum += (a.red - b.red) + (a.green - b.green) + (a.blue - b.blue);
            }
            total += fabs(sum / 150.0);
        }
        return total / 200.0;
    };
    EXPECT_LT(columnError(dithered), columnError(plain) * 0.8);
    EXPECT_GT(psnrOf(f, dithered), psnrOf(f, plain) - 1.0);
}

TEST(QuantizerQuality, DitheredPixelsOnlyMixTheTwoEntriesNearestTheirColour) {
    // Slow diagonal gradients in a translucent and an opaque panel, with
    // grain below so that the palette is tight: many pixels are dithered.
    // Each must still show one of the two entries nearest its own colour,
    // never a third colour's noise.
    const uint32_t w = 300, h = 160;
    osdframes::Canvas c(w, h);
    c.roundRect(0, 0, 150, 120, 0, 0, [](float x, float y) {
        return osdframes::mix(osdframes::rgba(20, 30, 80, 0.7f),
                              osdframes::rgba(200, 120, 40, 0.9f), (x + y) / 270.0f);
    });
    c.roundRect(150, 0, 300, 120, 0, 0, [](float x, float y) {
        return osdframes::mix(osdframes::rgba(250, 250, 250), osdframes::rgba(10, 90, 30),
                              (x - 150 + y) / 270.0f);
    });
    osdframes::Random r(5);
    for (uint32_t y = 120; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            c.blend(static_cast<int>(x), static_cast<int>(y),
                    osdframes::rgba(static_cast<int>(r.next() % 256),
                                    static_cast<int>(r.next() % 256),
                                    static_cast<int>(r.next() % 256)),
                    1.0f);
    const Frame f = c.toFrame();
    CQuantizer q(256, 8, w, h);
    Output plain(f.pixels.size()), dithered(f.pixels.size());
    ASSERT_EQ(0, run(q, f, plain, false));
    CQuantizer q2(256, 8, w, h);
    ASSERT_EQ(0, run(q2, f, dithered, true));
    ASSERT_EQ(plain.paletteBytes, dithered.paletteBytes);

    size_t differing = 0;
    for (size_t i = 0; i < static_cast<size_t>(w) * 120; ++i) {
        if (dithered.indices()[i] == plain.indices()[i])
            continue;
        ++differing;
        // Distances from the pixel to every used entry: the chosen one may
        // not be farther than the second nearest (small allowance for the
        // rounding of premultiplied values).
        std::vector<double> d;
        for (int e = 0; e < 256; ++e)
            if (dithered.palette()[e].alpha != 0)
                d.push_back(osdframes::premultipliedError(f.pixels[i], dithered.palette()[e]));
        std::sort(d.begin(), d.end());
        const double chosen = osdframes::premultipliedError(f.pixels[i], dithered.colourAt(i));
        ASSERT_LE(chosen, d[1] * 1.1 + 4.0) << "pixel " << i % w << "," << i / w;
    }
    EXPECT_GT(differing, 500u) << "the gradients should be dithered";
}

TEST(QuantizerQuality, FullHdFrameStaysWithinTheErrorBound) {
    const Frame f = osdframes::menuFrame(1920, 1080, 4, 2);
    CQuantizer q(256, 8, 720, 480);
    Output out(f.pixels.size());
    ASSERT_EQ(0, run(q, f, out));
    EXPECT_GT(psnrOf(f, out), 43.0);
}

TEST(QuantizerQuality, APhotoWithAColourPerPixelStaysWithinTheErrorBound) {
    // Nearly every pixel its own colour: counted with two bits less per
    // colour channel (one less for alpha), and with a sixteenth of the
    // entries left spare, still within about a dB of counting them exactly
    // into every entry (42.5 dB).
    const Frame f = osdframes::photoFrame(720, 480);
    CQuantizer q(256, 8, 720, 480);
    Output out(f.pixels.size());
    ASSERT_EQ(0, run(q, f, out));
    EXPECT_GT(psnrOf(f, out), 41.4);
}

TEST(QuantizerQuality, SwitchesKeepTheContract) {
    const Frame f = osdframes::menuFrame(360, 240, 0, 1);
    // Full search is the reference path: the shortcuts must give the very
    // same answer.
    Output fast(f.pixels.size()), full(f.pixels.size()), spread(f.pixels.size());
    CQuantizer q1(256, 8, 360, 240), q2(256, 8, 360, 240), q3(256, 8, 360, 240);
    ASSERT_EQ(0, run(q1, f, fast));
    q2.imageWidth = q3.imageWidth = f.width;
    q2.imageHeight = q3.imageHeight = f.height;
    q2.SetErrorDiffusion(true);
    q2.SetFullClutSearch(true);
    ASSERT_EQ(0, q2.ProcessImage(f.pixels.data(), full.palette(), full.indices()));
    EXPECT_EQ(fast.paletteBytes, full.paletteBytes);
    EXPECT_EQ(fast.indexBytes, full.indexBytes);

    q3.SetDistributeClut(true);
    ASSERT_EQ(0, q3.ProcessImage(f.pixels.data(), spread.palette(), spread.indices()));
    EXPECT_TRUE(spread.guardsIntact());
    EXPECT_GT(psnrOf(f, spread), 36.0);
}

// --- From frame to frame ----------------------------------------------------

TEST(QuantizerTemporal, SameFramesGiveTheSameOutput) {
    const Frame a = osdframes::menuFrame(720, 480, 1, 0), b = osdframes::menuFrame(720, 480, 3, 2);
    CQuantizer q1(256, 8, 720, 480), q2(256, 8, 720, 480);
    for (const Frame* f : {&a, &b, &a}) {
        Output o1(f->pixels.size()), o2(f->pixels.size());
        ASSERT_EQ(0, run(q1, *f, o1));
        ASSERT_EQ(0, run(q2, *f, o2));
        EXPECT_EQ(o1.paletteBytes, o2.paletteBytes);
        EXPECT_EQ(o1.indexBytes, o2.indexBytes);
        // Resending an unchanged frame changes nothing on screen.
        Output again(f->pixels.size());
        ASSERT_EQ(0, run(q1, *f, again));
        EXPECT_EQ(o1.paletteBytes, again.paletteBytes);
        EXPECT_EQ(o1.indexBytes, again.indexBytes);
        ASSERT_EQ(0, run(q2, *f, again));
    }
}

TEST(QuantizerTemporal, MovingTheHighlightLeavesTheRestOfTheScreenAlone) {
    const Frame a = osdframes::menuFrame(720, 480, 1, 0), b = osdframes::menuFrame(720, 480, 2, 0);
    CQuantizer q(256, 8, 720, 480);
    Output oa(a.pixels.size()), ob(b.pixels.size());
    ASSERT_EQ(0, run(q, a, oa));
    ASSERT_EQ(0, run(q, b, ob));
    const double flicker =
        osdframes::flicker(a.pixels.data(), oa.palette(), oa.indices(), b.pixels.data(),
                           ob.palette(), ob.indices(), a.pixels.size());
    EXPECT_EQ(0.0, flicker);
    EXPECT_GT(psnrOf(b, ob), 43.0);
}

// True when every pixel shows exactly its own colour (any fully transparent
// pixel as any other).
bool shownExactly(const Frame& f, Output& out) {
    for (size_t i = 0; i < f.pixels.size(); ++i) {
        const _OsdColor& p = f.pixels[i];
        const _OsdColor& shown = out.colourAt(i);
        if (p.alpha == 0 ? shown.alpha != 0 : !osdframes::sameColour(p, shown))
            return false;
    }
    return true;
}

TEST(QuantizerTemporal, AChangeThatLeavesFewColoursMakesTheFrameExact) {
    // 300 colours in the top rows of a flat frame, then most of them
    // painted over with the background: 201 colours are left, which the
    // frame must show exactly, although the previous palette would serve.
    const _OsdColor background = {40, 30, 20, 255};
    Frame busy = filled(64, 64, background);
    for (uint32_t i = 0; i < 300; ++i)
        busy.pixels[i] = _OsdColor{static_cast<unsigned char>(i), static_cast<unsigned char>(i / 2),
                                   static_cast<unsigned char>(255 - i / 3), 255};
    Frame calmer = busy;
    std::fill(calmer.pixels.begin() + 200, calmer.pixels.begin() + 300, background);
    CQuantizer q(256, 8, 64, 64);
    Output o1(busy.pixels.size()), o2(calmer.pixels.size());
    ASSERT_EQ(0, run(q, busy, o1));
    EXPECT_FALSE(shownExactly(busy, o1));
    ASSERT_EQ(0, run(q, calmer, o2));
    EXPECT_TRUE(shownExactly(calmer, o2));
}

TEST(QuantizerTemporal, ChangesToAnExactFrameStayExact) {
    // A flat frame of three colours, then a pixel of a colour the palette
    // lacks, then one back to a colour it has.
    Frame f = filled(48, 32, _OsdColor{200, 100, 50, 255});
    for (uint32_t x = 0; x < 48; ++x)
        f.pixels[5 * 48 + x] = _OsdColor{0, 0, 0, 0};
    f.pixels[7] = _OsdColor{1, 2, 3, 128};
    CQuantizer q(256, 8, 48, 32);
    Output out(f.pixels.size());
    ASSERT_EQ(0, run(q, f, out));
    EXPECT_TRUE(shownExactly(f, out));
    f.pixels[20 * 48 + 9] = _OsdColor{9, 9, 250, 255};
    ASSERT_EQ(0, run(q, f, out));
    EXPECT_TRUE(shownExactly(f, out));
    f.pixels[30 * 48 + 40] = _OsdColor{1, 2, 3, 128};
    ASSERT_EQ(0, run(q, f, out));
    EXPECT_TRUE(shownExactly(f, out));
}

TEST(QuantizerTemporal, AHoleInAnOpaqueFrameIsFullyTransparent) {
    // An opaque photo's palette has no transparent entry; one transparent
    // pixel, a small share of the frame's error, must still get one.
    const Frame photo = osdframes::photoFrame(640, 480);
    Frame holed = photo;
    holed.pixels[240 * 640 + 320] = _OsdColor{90, 90, 90, 0};
    CQuantizer q(256, 8, 640, 480);
    Output o1(photo.pixels.size()), o2(holed.pixels.size());
    ASSERT_EQ(0, run(q, photo, o1));
    ASSERT_EQ(0, run(q, holed, o2));
    const _OsdColor& shown = o2.colourAt(240 * 640 + 320);
    EXPECT_EQ(0, shown.alpha);
    EXPECT_EQ(0, shown.red + shown.green + shown.blue);
}

// Squared error of every pixel to the palette entry nearest its colour,
// found by trying them all, in the quantiser's own premultiplied metric;
// with a posterisation level, of the colour its histogram key stands for.
uint64_t nearestEntryError(const Frame& f, const _OsdColor* palette, int entries, int level = 0) {
    std::map<uint32_t, uint64_t> counts;
    for (const _OsdColor& p : f.pixels)
        ++counts[tovixquant::posterise(tovixquant::packColour(p), level)];
    uint64_t total = 0;
    for (const auto& c : counts) {
        const tovixquant::Premul q =
            tovixquant::premultiplyKey(tovixquant::representativeColour(c.first, level));
        int32_t best = INT32_MAX;
        for (int e = 0; e < entries; ++e)
            best = std::min(best, tovixquant::distance2(q, tovixquant::premultiply(palette[e])));
        total += c.second * static_cast<uint64_t>(best);
    }
    return total;
}

TEST(QuantizerTemporal, ThePaletteErrorKeptOverAThousandFramesStaysTrue) {
    // Two menu frames alternate (the highlight moves back and forth) while
    // a progress bar fills and a small spot cycles through a few colours:
    // the palette is kept for long stretches, and the quantiser's running
    // figure of its error must stay the true one, or the decision to keep
    // the palette grows laxer the longer a session runs.
    const uint32_t w = 360, h = 240;
    const Frame a = osdframes::menuFrame(w, h, 1, 0), b = osdframes::menuFrame(w, h, 2, 0);
    static const _OsdColor spot[4] = {
        {40, 200, 250, 255}, {250, 250, 250, 255}, {30, 60, 220, 200}, {0, 140, 255, 255}};
    auto frameAt = [&](int k) {
        Frame f = (k & 1) ? b : a;
        const uint32_t fill = 20 + static_cast<uint32_t>(k / 10) % 300;
        for (uint32_t y = 200; y < 208; ++y)
            for (uint32_t x = 20; x < 20 + fill; ++x)
                f.pixels[y * w + x] =
                    _OsdColor{static_cast<unsigned char>(x), static_cast<unsigned char>(120 + y),
                              static_cast<unsigned char>(200 - x / 2), 230};
        for (uint32_t y = 220; y < 226; ++y)
            for (uint32_t x = 300; x < 306; ++x)
                f.pixels[y * w + x] = spot[(k / 3) % 4];
        return f;
    };
    tovixquant::State state(256, 8);
    state.reserve(static_cast<size_t>(w) * h, w, h, true);
    Output out(a.pixels.size());
    const int frames = 1000;
    for (int k = 0; k < frames; ++k) {
        const Frame f = frameAt(k);
        ASSERT_EQ(0, state.run(f.pixels.data(), w, h, out.palette(), out.indices()));
        if (k % 100 == 99) {
            const double truth =
                static_cast<double>(nearestEntryError(f, out.palette(), state.paletteCount));
            ASSERT_EQ(truth, static_cast<double>(state.frameError)) << "frame " << k;
        }
    }

    // The picture after the long run is as good as that of a quantiser that
    // saw only the last two frames...
    const Frame last = frameAt(frames - 1), beforeLast = frameAt(frames - 2);
    CQuantizer fresh(256, 8, w, h);
    Output freshOut(last.pixels.size());
    ASSERT_EQ(0, run(fresh, beforeLast, freshOut));
    ASSERT_EQ(0, run(fresh, last, freshOut));
    EXPECT_GT(psnrOf(last, out), psnrOf(last, freshOut) - 0.1);
    // ... and within what keeping a palette may cost (its error may grow by
    // a tenth before a new one is made) of a palette made for the frame.
    CQuantizer single(256, 8, w, h);
    ASSERT_EQ(0, run(single, last, freshOut));
    EXPECT_GT(psnrOf(last, out), psnrOf(last, freshOut) - 10 * log10(1.1));
}

TEST(QuantizerTemporal, StepsKeepEveryPixelsColourAndEveryColoursCount) {
    // A step moves changed pixels between colours a run at a time: a flat
    // bar drawn over a varied menu is one new colour over many old ones,
    // and where the menu already had the bar's colour a pixel does not
    // change at all. After every step each pixel's colour number must be
    // its colour's, and each colour's count its pixels.
    const uint32_t w = 360, h = 240;
    const Frame menu = osdframes::menuFrame(w, h, 1, 0);
    auto withBar = [&](uint32_t x0, uint32_t x1, _OsdColor c) {
        Frame f = menu;
        for (uint32_t y = 100; y < 140; ++y)
            for (uint32_t x = x0; x < x1; ++x)
                f.pixels[y * w + x] = c;
        return f;
    };
    // The bar's colour taken from the menu itself, so some of its pixels
    // are unchanged in the middle of a run.
    const _OsdColor menuColour = menu.pixels[120 * w + 60];
    const Frame frames[] = {
        withBar(40, 300, menuColour), withBar(40, 300, _OsdColor{10, 200, 30, 255}),
        osdframes::withVolumePopup(menu, 0.4f), withBar(20, 200, menuColour), menu};
    tovixquant::State state(256, 8);
    state.reserve(menu.pixels.size(), w, h, true);
    Output out(menu.pixels.size());
    ASSERT_EQ(0, state.run(menu.pixels.data(), w, h, out.palette(), out.indices()));
    for (const Frame& f : frames) {
        ASSERT_EQ(0, state.run(f.pixels.data(), w, h, out.palette(), out.indices()));
        const tovixquant::Histogram& histogram = state.histogram;
        std::vector<uint32_t> counted(histogram.size(), 0);
        for (size_t i = 0; i < f.pixels.size(); ++i) {
            const uint32_t e = state.pixelEntry[i];
            ASSERT_LT(e, histogram.size()) << "pixel " << i;
            const uint32_t key = tovixquant::normaliseKey(
                tovixquant::posterise(tovixquant::packColour(f.pixels[i]), histogram.level()));
            ASSERT_EQ(key, histogram.keys()[e]) << "pixel " << i;
            ++counted[e];
        }
        EXPECT_TRUE(std::equal(counted.begin(), counted.end(), histogram.counts()));
        EXPECT_EQ(static_cast<size_t>(std::count_if(counted.begin(), counted.end(),
                                                    [](uint32_t c) { return c != 0; })),
                  histogram.live());
    }
}

TEST(QuantizerTemporal, AChangeGatheredBeforeTheHistogramFilledUpIsForgotten) {
    // A smooth frame of a colour per pixel fills the histogram's table. The
    // next frame's first changed pixel is transparent, which the palette
    // lacks, so its change is gathered for a mend from there; a new colour
    // then finds the table full and the frame is quantised afresh. What was
    // gathered must not come back with the next change, which a mend serves.
    const uint32_t w = 64, h = 64;
    Frame smooth = filled(w, h, _OsdColor{0, 0, 0, 255});
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            smooth.pixels[y * w + x] = _OsdColor{128, static_cast<unsigned char>(4 * y),
                                                 static_cast<unsigned char>(4 * x), 255};
    smooth.pixels[0] = smooth.pixels[1]; // room in the table for one colour more
    Frame filling = smooth;
    filling.pixels[0] = _OsdColor{0, 0, 0, 0};
    for (uint32_t i = 1; i <= 100; ++i)
        filling.pixels[i] = smooth.pixels[4000 + i % 90];
    filling.pixels[101] = _OsdColor{7, 7, 7, 255};
    Frame spot = filling;
    for (uint32_t y = 30; y < 38; ++y)
        for (uint32_t x = 30; x < 38; ++x)
            spot.pixels[y * w + x] = _OsdColor{0, 0, 255, 255};

    tovixquant::State state(256, 8);
    state.reserve(smooth.pixels.size(), w, h, true);
    Output before(smooth.pixels.size()), after(smooth.pixels.size());
    ASSERT_EQ(0, state.run(smooth.pixels.data(), w, h, before.palette(), before.indices()));
    ASSERT_EQ(0, state.run(filling.pixels.data(), w, h, before.palette(), before.indices()));
    ASSERT_EQ(0, state.run(spot.pixels.data(), w, h, after.palette(), after.indices()));
    EXPECT_TRUE(state.shownValid) << "the palette was mended";
    EXPECT_EQ(0.0, osdframes::flicker(filling.pixels.data(), before.palette(), before.indices(),
                                      spot.pixels.data(), after.palette(), after.indices(),
                                      spot.pixels.size()));
    EXPECT_EQ(static_cast<double>(nearestEntryError(spot, after.palette(), state.paletteCount,
                                                    state.histogram.level())),
              static_cast<double>(state.frameError));
}

TEST(QuantizerTemporal, APopUpComingAndGoingLeavesTheRestOfTheScreenAlone) {
    // A volume pop-up over a menu brings colours the menu's palette lacks:
    // the entries the rest of the screen shows must stay as they are, the
    // pop-up must still look about as good as on a palette of its own, and
    // the running error must stay the true one through every mend.
    const Frame menu = osdframes::menuFrame(720, 480, 1, 0);
    const Frame popups[] = {osdframes::withVolumePopup(menu, 0.3f),
                            osdframes::withVolumePopup(menu, 0.8f)};
    tovixquant::State state(256, 8);
    state.reserve(menu.pixels.size(), 720, 480, true);
    Output before(menu.pixels.size()), after(menu.pixels.size());
    ASSERT_EQ(0, state.run(menu.pixels.data(), 720, 480, before.palette(), before.indices()));
    const Frame* previous = &menu;
    int mended = 0;
    for (const Frame* f : {&popups[0], &menu, &popups[1], &popups[0], &menu}) {
        ASSERT_EQ(0, state.run(f->pixels.data(), 720, 480, after.palette(), after.indices()));
        EXPECT_EQ(0.0, osdframes::flicker(previous->pixels.data(), before.palette(),
                                          before.indices(), f->pixels.data(), after.palette(),
                                          after.indices(), f->pixels.size()));
        EXPECT_EQ(static_cast<double>(nearestEntryError(*f, after.palette(), state.paletteCount)),
                  static_cast<double>(state.frameError));
        // The pixels counted for each entry, kept up from frame to frame,
        // are those that show it.
        if (state.shownValid) {
            std::vector<uint32_t> shown(256, 0);
            for (size_t i = 0; i < f->pixels.size(); ++i)
                ++shown[after.indices()[i]];
            EXPECT_TRUE(std::equal(shown.begin(), shown.end(), state.shown));
        }
        CQuantizer fresh(256, 8, 720, 480);
        Output own(f->pixels.size());
        ASSERT_EQ(0, run(fresh, *f, own));
        EXPECT_GT(psnrOf(*f, after), psnrOf(*f, own) - 0.5);
        mended += state.shownValid;
        std::swap(before, after);
        previous = f;
    }
    EXPECT_EQ(5, mended);
}

TEST(QuantizerTemporal, APopUpThatGoesGivesTheMenuItsEntriesBackAndTheErrorStaysTrue) {
    // A pop-up that comes and goes over a menu, with other changes between:
    // its bar grows, the menu's highlight moves and moves back. Each time
    // the pop-up goes, the entries its mend displaced come back as they
    // were, so the menu shows the palette it had before the pop-up came;
    // and through every such undo the running error must stay the true one.
    const Frame menus[] = {osdframes::menuFrame(720, 480, 1, 0),
                           osdframes::menuFrame(720, 480, 2, 0)};
    const Frame popups[] = {osdframes::withVolumePopup(menus[0], 0.5f),
                            osdframes::withVolumePopup(menus[0], 0.6f)};
    tovixquant::State state(256, 8);
    state.reserve(menus[0].pixels.size(), 720, 480, true);
    Output before(menus[0].pixels.size()), after(menus[0].pixels.size());
    ASSERT_EQ(0, state.run(menus[0].pixels.data(), 720, 480, before.palette(), before.indices()));
    const std::vector<_OsdColor> menuPalette(before.palette(), before.palette() + 256);
    const Frame* previous = &menus[0];
    int returns = 0, given = 0;
    for (const Frame* f : {&popups[0], &menus[0], &popups[0], &popups[1], &menus[0], &menus[1],
                           &menus[0], &popups[1], &menus[0], &popups[0], &menus[0]}) {
        ASSERT_EQ(0, state.run(f->pixels.data(), 720, 480, after.palette(), after.indices()));
        EXPECT_EQ(0.0, osdframes::flicker(previous->pixels.data(), before.palette(),
                                          before.indices(), f->pixels.data(), after.palette(),
                                          after.indices(), f->pixels.size()));
        EXPECT_EQ(static_cast<double>(nearestEntryError(*f, after.palette(), state.paletteCount)),
                  static_cast<double>(state.frameError));
        if (f == &menus[0] && previous != &menus[1]) {
            ++returns;
            given += std::equal(menuPalette.begin(), menuPalette.end(), after.palette(),
                                [](const _OsdColor& x, const _OsdColor& y) {
                                    return memcmp(&x, &y, sizeof x) == 0;
                                });
        }
        std::swap(before, after);
        previous = f;
    }
    EXPECT_EQ(4, returns);
    EXPECT_EQ(returns, given);
}

TEST(QuantizerTemporal, WhatAMendedSessionShowsStaysWithinTheCountedErrorAndLag) {
    // Pixels left as they were keep their entries when a mend brings a
    // nearer one, so the screen shows more error than the nearest-entry
    // figure; the lag must cover the difference, or kept palettes could
    // drift past their limit unseen. Without diffusion every pixel shows
    // the entry its colour was mapped to, so the bound is exact.
    const Frame menus[] = {osdframes::menuFrame(720, 480, 1, 0),
                           osdframes::menuFrame(720, 480, 2, 0)};
    const Frame popups[] = {osdframes::withVolumePopup(menus[0], 0.2f),
                            osdframes::withVolumePopup(menus[1], 0.9f)};
    tovixquant::State state(256, 8);
    state.diffuse = false;
    state.reserve(menus[0].pixels.size(), 720, 480, true);
    Output out(menus[0].pixels.size());
    for (const Frame* f : {&menus[0], &popups[0], &menus[0], &menus[1], &popups[1], &menus[1],
                           &popups[0], &menus[0]}) {
        ASSERT_EQ(0, state.run(f->pixels.data(), 720, 480, out.palette(), out.indices()));
        uint64_t shown = 0;
        for (size_t i = 0; i < f->pixels.size(); ++i)
            shown += static_cast<uint64_t>(tovixquant::distance2(
                tovixquant::premultiply(f->pixels[i]), tovixquant::premultiply(out.colourAt(i))));
        EXPECT_LE(shown, state.frameError + state.lagError);
    }
}

TEST(QuantizerTemporal, APopUpWithAHoleShowsTheHoleTransparent) {
    // The menu has a transparent band, so its palette has a transparent
    // entry; the pop-up brings new colours and a transparent hole of its
    // own, which the mended palette must show through that entry.
    Frame menu = osdframes::menuFrame(720, 480, 1, 0);
    std::fill(menu.pixels.begin(), menu.pixels.begin() + 720 * 40, _OsdColor{0, 0, 0, 0});
    Frame popup = osdframes::withVolumePopup(menu, 0.7f);
    for (uint32_t y = 380; y < 390; ++y)
        for (uint32_t x = 300; x < 340; ++x)
            popup.pixels[y * 720 + x] = _OsdColor{7, 7, 7, 0};
    tovixquant::State state(256, 8);
    state.reserve(menu.pixels.size(), 720, 480, true);
    Output o1(menu.pixels.size()), o2(popup.pixels.size());
    ASSERT_EQ(0, state.run(menu.pixels.data(), 720, 480, o1.palette(), o1.indices()));
    ASSERT_EQ(0, state.run(popup.pixels.data(), 720, 480, o2.palette(), o2.indices()));
    EXPECT_TRUE(state.shownValid) << "the palette was mended";
    EXPECT_EQ(0.0, osdframes::flicker(menu.pixels.data(), o1.palette(), o1.indices(),
                                      popup.pixels.data(), o2.palette(), o2.indices(),
                                      menu.pixels.size()));
    for (uint32_t y = 380; y < 390; ++y)
        for (uint32_t x = 300; x < 340; ++x)
            ASSERT_EQ(0, o2.colourAt(y * 720 + x).alpha) << x << "," << y;
    EXPECT_EQ(static_cast<double>(nearestEntryError(popup, o2.palette(), state.paletteCount)),
              static_cast<double>(state.frameError));
}

TEST(QuantizerTemporal, AKeptPaletteIsHeldToItsErrorLimitToTheUnit) {
    // The whole frame's error under a palette is held to a limit in double
    // while the sum is a whole number: a sum equal to the limit passes, one
    // above it by less than one unit does not, and no limit is too large.
    const Frame photo = osdframes::photoFrame(720, 480);
    tovixquant::State state(256, 8);
    state.reserve(photo.pixels.size(), 720, 480, true);
    Output out(photo.pixels.size());
    ASSERT_EQ(0, state.run(photo.pixels.data(), 720, 480, out.palette(), out.indices()));
    if (!state.searchCurrent)
        state.setSearchPalette();
    uint64_t total = 0;
    ASSERT_TRUE(state.wholeError(1e30, total));
    ASSERT_GT(total, 1000u);
    const double sum = static_cast<double>(total);
    uint64_t again = 0;
    EXPECT_TRUE(state.wholeError(sum, again));
    EXPECT_EQ(total, again);
    EXPECT_TRUE(state.wholeError(sum + 0.5, again));
    EXPECT_FALSE(state.wholeError(sum - 0.5, again));
    EXPECT_FALSE(state.wholeError(sum - 1, again));
    EXPECT_FALSE(state.wholeError(0, again));
}

TEST(QuantizerTemporal, FramesAllocateNothingOnceTheBuffersFitThem) {
    // Made for 720 x 480: every kind of frame of that size, new screens
    // and small changes alike, runs without allocating; a larger frame
    // grows the buffers once, and the next one allocates nothing again.
    const Frame menu = osdframes::menuFrame(720, 480, 1, 0),
                moved = osdframes::menuFrame(720, 480, 2, 0);
    const Frame other = osdframes::menuFrame(720, 480, 3, 2), flat = osdframes::flatFrame(720, 480);
    const Frame large = osdframes::menuFrame(1920, 1080, 1, 1),
                large2 = osdframes::menuFrame(1920, 1080, 2, 2);
    Output small(menu.pixels.size()), big(large.pixels.size());
    CQuantizer q(256, 8, 720, 480);
    const Frame popup = osdframes::withVolumePopup(menu, 0.5f);
    long before = countingalloc::allocations();
    for (const Frame* f : {&menu, &moved, &flat, &other, &menu, &popup, &menu})
        ASSERT_EQ(0, run(q, *f, small));
    EXPECT_EQ(before, countingalloc::allocations()) << "720 x 480 frames";
    ASSERT_EQ(0, run(q, large, big));
    before = countingalloc::allocations();
    ASSERT_EQ(0, run(q, large2, big));
    ASSERT_EQ(0, run(q, menu, small));
    EXPECT_EQ(before, countingalloc::allocations()) << "after growing once";
}

TEST(QuantizerTemporal, ANewScreenGetsANewPalette) {
    // After a busy menu, a frame of quite different colours must not be
    // squeezed into the old palette.
    const Frame menu = osdframes::menuFrame(320, 200, 1, 0);
    Frame other = manyColours(320, 200, 600, 17);
    CQuantizer q(256, 8, 320, 200);
    Output o1(menu.pixels.size()), o2(other.pixels.size()), fresh(other.pixels.size());
    ASSERT_EQ(0, run(q, menu, o1));
    ASSERT_EQ(0, run(q, other, o2));
    CQuantizer q2(256, 8, 320, 200);
    ASSERT_EQ(0, run(q2, other, fresh));
    EXPECT_GT(psnrOf(other, o2), psnrOf(other, fresh) - 0.5);
}

} // namespace
