// ProcessImage on generated OSD frames, configured as the OSD path does.
// Each single-frame run uses a new quantiser (made outside the timing and
// sized for the frame, as a host with that OSD size makes it), so nothing
// is carried over from an earlier identical frame: every run is a new
// screen. BM_Menu1920x1080Growing instead starts from the library's
// 720 x 480 sizing and so also pays the one-time growth of the buffers.
// The highlight pair runs on one quantiser, as the OSD does when a
// highlight moves.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "CQuantizer.h"
#include "osd_frames.h"

namespace {

void configure(CQuantizer& q, const osdframes::Frame& f) {
    q.imageWidth = f.width;
    q.imageHeight = f.height;
    q.SetErrorDiffusion(true);
    q.SetDistributeClut(false);
    q.SetFullClutSearch(false);
}

void runSingle(benchmark::State& state, const osdframes::Frame& f, bool sizedForFrame = true) {
    std::vector<_OsdColor> palette(256);
    std::vector<unsigned char> indices(f.pixels.size());
    for (auto _ : state) {
        state.PauseTiming();
        auto q = sizedForFrame ? std::make_unique<CQuantizer>(256, 8, f.width, f.height)
                               : std::make_unique<CQuantizer>(256, 8, 720, 480);
        configure(*q, f);
        state.ResumeTiming();
        benchmark::DoNotOptimize(q->ProcessImage(f.pixels.data(), palette.data(), indices.data()));
        state.PauseTiming();
        q.reset();
        state.ResumeTiming();
    }
    const double psnr =
        osdframes::psnr(f.pixels.data(), palette.data(), indices.data(), f.pixels.size());
    state.counters["psnr_dB"] = psnr > 99 ? 99 : psnr;
    state.counters["pixels"] = static_cast<double>(f.pixels.size());
}

void BM_Menu720x480(benchmark::State& state) {
    static const osdframes::Frame frames[] = {osdframes::menuFrame(720, 480, 1, 0),
                                              osdframes::menuFrame(720, 480, 1, 1),
                                              osdframes::menuFrame(720, 480, 1, 2)};
    runSingle(state, frames[state.range(0)]);
}
BENCHMARK(BM_Menu720x480)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_Flat720x480(benchmark::State& state) {
    static const osdframes::Frame frame = osdframes::flatFrame(720, 480);
    runSingle(state, frame);
}
BENCHMARK(BM_Flat720x480)->Unit(benchmark::kMillisecond);

void BM_Menu1920x1080(benchmark::State& state) {
    static const osdframes::Frame frame = osdframes::menuFrame(1920, 1080, 1, 0);
    runSingle(state, frame);
}
BENCHMARK(BM_Menu1920x1080)->Unit(benchmark::kMillisecond);

void BM_Menu1920x1080Growing(benchmark::State& state) {
    static const osdframes::Frame frame = osdframes::menuFrame(1920, 1080, 1, 0);
    runSingle(state, frame, false);
}
BENCHMARK(BM_Menu1920x1080Growing)->Unit(benchmark::kMillisecond);

// Frames `a` and `b` alternate on one quantiser, as a session sends them;
// the time is per frame, the flicker that of the last pair (b after a) over
// the pixels the two share.
void runPair(benchmark::State& state, const osdframes::Frame& a, const osdframes::Frame& b) {
    CQuantizer q(256, 8, a.width, a.height);
    std::vector<_OsdColor> paletteA(256), paletteB(256);
    std::vector<unsigned char> indicesA(a.pixels.size()), indicesB(b.pixels.size());
    configure(q, a);
    q.ProcessImage(a.pixels.data(), paletteA.data(), indicesA.data());
    bool toB = true;
    for (auto _ : state) {
        const osdframes::Frame& f = toB ? b : a;
        configure(q, f);
        benchmark::DoNotOptimize(q.ProcessImage(f.pixels.data(),
                                                toB ? paletteB.data() : paletteA.data(),
                                                toB ? indicesB.data() : indicesA.data()));
        toB = !toB;
    }
    // One more step so that the last frame quantised is b, following a.
    configure(q, a);
    q.ProcessImage(a.pixels.data(), paletteA.data(), indicesA.data());
    configure(q, b);
    q.ProcessImage(b.pixels.data(), paletteB.data(), indicesB.data());
    state.counters["flicker_pct"] =
        100.0 * osdframes::flicker(a.pixels.data(), paletteA.data(), indicesA.data(),
                                   b.pixels.data(), paletteB.data(), indicesB.data(),
                                   a.pixels.size());
    const double psnr =
        osdframes::psnr(b.pixels.data(), paletteB.data(), indicesB.data(), b.pixels.size());
    state.counters["psnr_dB"] = psnr > 99 ? 99 : psnr;
}

// The highlight moves back and forth between two items.
void BM_MovedHighlight720x480(benchmark::State& state) {
    static const osdframes::Frame a = osdframes::menuFrame(720, 480, 1, 0);
    static const osdframes::Frame b = osdframes::menuFrame(720, 480, 2, 0);
    runPair(state, a, b);
}
BENCHMARK(BM_MovedHighlight720x480)->Unit(benchmark::kMillisecond);

// The host sends the same frame again.
void BM_SameFrame720x480(benchmark::State& state) {
    static const osdframes::Frame a = osdframes::menuFrame(720, 480, 1, 0);
    runPair(state, a, a);
}
BENCHMARK(BM_SameFrame720x480)->Unit(benchmark::kMillisecond);

// A 480 x 160 volume pop-up comes and goes over the menu: every pixel of
// it changes from frame to frame.
void BM_VolumePopup720x480(benchmark::State& state) {
    static const osdframes::Frame a = osdframes::menuFrame(720, 480, 1, 0);
    static const osdframes::Frame b = osdframes::withVolumePopup(a, 0.6f);
    runPair(state, a, b);
}
BENCHMARK(BM_VolumePopup720x480)->Unit(benchmark::kMillisecond);

// A 480 x 160 volume pop-up appears over a menu that the quantiser has just
// quantised as a new screen (made outside the timing): the time and flicker
// of the pop-up's frame.
void BM_VolumePopupAppears720x480(benchmark::State& state) {
    static const osdframes::Frame menu = osdframes::menuFrame(720, 480, 1, 0);
    static const osdframes::Frame popup = osdframes::withVolumePopup(menu, 0.6f);
    std::vector<_OsdColor> menuPalette(256), palette(256);
    std::vector<unsigned char> menuIndices(menu.pixels.size()), indices(popup.pixels.size());
    for (auto _ : state) {
        state.PauseTiming();
        auto q = std::make_unique<CQuantizer>(256, 8, menu.width, menu.height);
        configure(*q, menu);
        q->ProcessImage(menu.pixels.data(), menuPalette.data(), menuIndices.data());
        configure(*q, popup);
        state.ResumeTiming();
        benchmark::DoNotOptimize(
            q->ProcessImage(popup.pixels.data(), palette.data(), indices.data()));
        state.PauseTiming();
        q.reset();
        state.ResumeTiming();
    }
    state.counters["flicker_pct"] =
        100.0 * osdframes::flicker(menu.pixels.data(), menuPalette.data(), menuIndices.data(),
                                   popup.pixels.data(), palette.data(), indices.data(),
                                   menu.pixels.size());
    const double psnr =
        osdframes::psnr(popup.pixels.data(), palette.data(), indices.data(), popup.pixels.size());
    state.counters["psnr_dB"] = psnr > 99 ? 99 : psnr;
}
BENCHMARK(BM_VolumePopupAppears720x480)->Unit(benchmark::kMillisecond);

// The volume bar of a pop-up on screen grows by a step.
void BM_VolumeStep720x480(benchmark::State& state) {
    static const osdframes::Frame menu = osdframes::menuFrame(720, 480, 1, 0);
    static const osdframes::Frame a = osdframes::withVolumePopup(menu, 0.5f);
    static const osdframes::Frame b = osdframes::withVolumePopup(menu, 0.6f);
    runPair(state, a, b);
}
BENCHMARK(BM_VolumeStep720x480)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
