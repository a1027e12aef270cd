// Time of each stage of the quantiser on a new screen, frame by frame: the
// histogram, the palette inputs, the palette (box cuts and refinement),
// the nearest entry of every colour, and the remap (index pass and
// diffusion). Medians of the thread's processor time over fresh states
// sized for the frame, as osdquant times whole frames.
//
// Then, once in this fresh process (so that the system's first-touch page
// faults count), the first 1920 x 1080 frame on a quantiser made for
// 720 x 480, which grows its buffers, against the next 1920 x 1080 new
// screen on the same quantiser.
//
// With --profile FRAME N, FRAME (one of the names printed) is quantised N
// times as a new screen on one state and nothing is printed: a loop for a
// profiler to watch, free of the states' setting up.
//
// usage: bench_stages [RUNS] | bench_stages --profile FRAME N
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include "CQuantizer.h"
#include "osd_frames.h"
#include "state.h"

namespace {

double now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const bool profile = argc > 3 && strcmp(argv[1], "--profile") == 0;
    const int runs = argc > 1 && !profile ? atoi(argv[1]) : 15;
    struct Named {
        const char* name;
        osdframes::Frame frame;
    };
    const Named frames[] = {{"menu_720x480_0", osdframes::menuFrame(720, 480, 1, 0)},
                            {"menu_720x480_1", osdframes::menuFrame(720, 480, 1, 1)},
                            {"menu_720x480_2", osdframes::menuFrame(720, 480, 1, 2)},
                            {"icons_720x480", osdframes::iconGridFrame(720, 480)},
                            {"photo_720x480", osdframes::photoFrame(720, 480)},
                            {"menu_1920x1080", osdframes::menuFrame(1920, 1080, 1, 0)}};
    if (profile) {
        for (const Named& f : frames) {
            if (strcmp(f.name, argv[2]) != 0)
                continue;
            const size_t n = f.frame.pixels.size();
            std::vector<unsigned char> indices(n);
            std::vector<_OsdColor> palette(256);
            tovixquant::State s(256, 8);
            s.reserve(n, f.frame.width, f.frame.height, true);
            for (int r = atoi(argv[3]); r > 0; --r) {
                s.havePrevious = false;
                s.run(f.frame.pixels.data(), f.frame.width, f.frame.height, palette.data(),
                      indices.data());
            }
            return 0;
        }
        fprintf(stderr, "bench_stages: no frame %s\n", argv[2]);
        return 2;
    }
    printf("%-16s %9s %9s %9s %9s %9s %9s\n", "frame", "histogram", "inputs", "palette", "mapping",
           "remap", "total");
    for (const Named& f : frames) {
        const uint32_t w = f.frame.width, h = f.frame.height;
        const size_t n = f.frame.pixels.size();
        std::vector<unsigned char> indices(n);
        std::vector<double> times[6];
        for (int r = 0; r < runs; ++r) {
            tovixquant::State s(256, 8);
            s.reserve(n, w, h, true);
            s.frame = f.frame.pixels.data();
            double t0 = now();
            int level = tovixquant::firstLevel(s.frame, n);
            while (!s.histogram.build(s.frame, n, level, s.pixelEntry.data()) &&
                   level < tovixquant::Histogram::kMaxLevel)
                ++level;
            double t1 = now();
            s.inputs.gather(s.histogram);
            double t2 = now();
            _OsdColor chosen[256];
            s.builder.build(s.inputs.inputs(), 255, 8, false, *s.search, chosen);
            double t3 = now();
            // newPalette gathers and builds again: what is left is the mapping.
            s.newPalette(n);
            double t4 = now();
            const tovixquant::RemapJob job = s.remapJob(w, h, false, true, indices.data());
            tovixquant::remap(job, *s.search);
            double t5 = now();
            times[0].push_back(t1 - t0);
            times[1].push_back(t2 - t1);
            times[2].push_back(t3 - t2);
            times[3].push_back((t4 - t3) - (t3 - t1));
            times[4].push_back(t5 - t4);
            times[5].push_back((t1 - t0) + (t5 - t3));
        }
        printf("%-16s %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f\n", f.name, median(times[0]),
               median(times[1]), median(times[2]), median(times[3]), median(times[4]),
               median(times[5]));
    }
    // Growth: a quantiser made for 720 x 480 meets 1920 x 1080 frames.
    const osdframes::Frame small = osdframes::menuFrame(720, 480, 1, 0);
    const osdframes::Frame large[2] = {osdframes::menuFrame(1920, 1080, 1, 0),
                                       osdframes::menuFrame(1920, 1080, 2, 1)};
    std::vector<_OsdColor> palette(256);
    std::vector<unsigned char> indices(large[0].pixels.size());
    CQuantizer q(256, 8, 720, 480);
    q.imageWidth = 720;
    q.imageHeight = 480;
    q.ProcessImage(small.pixels.data(), palette.data(), indices.data());
    double times[2];
    for (int k = 0; k < 2; ++k) {
        q.imageWidth = 1920;
        q.imageHeight = 1080;
        const double t0 = now();
        q.ProcessImage(large[k].pixels.data(), palette.data(), indices.data());
        times[k] = now() - t0;
    }
    printf("growth: first 1920x1080 frame after 720x480 %.3f ms, next new 1920x1080 screen %.3f ms "
           "(%.2fx)\n",
           times[0], times[1], times[0] / times[1]);
    return 0;
}
