// The whole OSD frame path through the updateOSD native (fake JVM, simulated
// card), against the quantiser's own time on the same frames. Each size has
// a pair of menu frames whose highlight moves, sent alternately, as a host
// does while the user scrolls.
//
// BM_FramePath: updateOSD from the host's array to the card's screen.
// BM_QuantizerOnly: ProcessImage alone on the library's quantiser,
// configured as the OSD path does.
// The path's cost beyond the quantiser is the difference of the two.
#include <benchmark/benchmark.h>

#include "fake_jni.h"
#include "natives.h"
#include "osd_frames.h"
#include "sim/control_card.h"
#include "src/log/loadtime.h"
#include "src/osd/osd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct FramePair {
    int width;
    int height;
    std::vector<jint> pixels[2];
};

const FramePair& frames(int width, int height) {
    static std::vector<std::unique_ptr<FramePair>> cache;
    for (const auto& f : cache)
        if (f->width == width && f->height == height)
            return *f;
    auto pair = std::make_unique<FramePair>();
    pair->width = width;
    pair->height = height;
    for (int i = 0; i < 2; i++) {
        osdframes::Frame f =
            osdframes::menuFrame(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 1, i);
        pair->pixels[i].resize(f.pixels.size());
        memcpy(pair->pixels[i].data(), f.pixels.data(), f.pixels.size() * 4);
    }
    cache.push_back(std::move(pair));
    return *cache.back();
}

// The host side, opened once for the whole program: the library's state is
// process-wide, as it is in the host's JVM.
fakejni::FakeJni& host() {
    static fakejni::FakeJni* jni = [] {
        auto* j = new fakejni::FakeJni;
        natives::openOSD(j->env(), j->hostClass());
        return j;
    }();
    return *jni;
}

void BM_FramePath(benchmark::State& state) {
    const FramePair& pair =
        frames(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    fakejni::FakeJni& jni = host();
    jintArray arrays[2] = {jni.newIntArray(pair.pixels[0]), jni.newIntArray(pair.pixels[1])};
    int shownBefore = simcard::blocksShown();
    int which = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(natives::updateOSD(jni.env(), jni.hostClass(), arrays[which],
                                                    pair.width, pair.height, 0, 0, pair.width,
                                                    pair.height));
        which ^= 1;
        jni.clearCalls(); // the fake's record of calls would grow for ever
    }
    if (simcard::blocksShown() - shownBefore != static_cast<int>(state.iterations()))
        state.SkipWithError("a frame did not reach the card");
    state.counters["pixels"] = static_cast<double>(pair.width) * pair.height;
}
BENCHMARK(BM_FramePath)->Args({720, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);

void BM_QuantizerOnly(benchmark::State& state) {
    const FramePair& pair =
        frames(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    // The process's own quantiser, in the state the path leaves it in.
    host();
    CQuantizer& quantizer = *pQuantizer;
    std::vector<_OsdColor> palette(256);
    std::vector<unsigned char> indices(pair.pixels[0].size());
    int which = 0;
    for (auto _ : state) {
        quantizer.imageWidth = static_cast<uint32_t>(pair.width);
        quantizer.imageHeight = static_cast<uint32_t>(pair.height);
        quantizer.SetErrorDiffusion(true);
        quantizer.SetDistributeClut(false);
        quantizer.SetFullClutSearch(false);
        benchmark::DoNotOptimize(
            quantizer.ProcessImage(reinterpret_cast<const _OsdColor*>(pair.pixels[which].data()),
                                   palette.data(), indices.data()));
        which ^= 1;
    }
    state.counters["pixels"] = static_cast<double>(pair.width) * pair.height;
}
BENCHMARK(BM_QuantizerOnly)->Args({720, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The library writes its logs into the working folder: keep them out of
    // the caller's.
    char dir[] = "/tmp/bench_osd_path.XXXXXX";
    if (mkdtemp(dir) && chdir(dir) != 0)
        perror("bench_osd_path: cannot enter a scratch folder");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
