// The quantiser on the generated OSD frames, built for Linux and for
// Windows from the very objects TovixAPI.dll links, so that the two can be
// compared byte for byte and timed in one run (run_wine_quantizer.sh).
//
// The frames are drawn on Linux only and read from files on both sides: the
// generator's sinf is the C library's, and Windows' differs from glibc's in
// the last bit.
//
//   quantizer_frames write <folder>                  draws the frames into <folder>
//   quantizer_frames run <folder> <runs> [<frame>...] quantises each <runs> times
//
// `run` prints one line per frame: its name, the kernels used, FNV-1a
// digests of the frame and of the output (palette and indices), the median
// and the fastest time of ProcessImage, the processor time of all runs
// together and every run's time, in milliseconds.
// A frame's runs share one quantiser, as the library's OSD path does, after
// one run that is not timed; before each run the quantiser is made to forget
// the previous frame, so that every run does the whole work of a frame on a
// new quantiser. Had each run a new quantiser, its buffers would be new
// memory under Wine (as on Windows, blocks this large come from the system
// and go back to it) but the same memory again on Linux, whose allocator
// keeps them: the two would not do the same work. Every run must give the
// bytes of the first, or the frame fails. Without frame names, every frame and a
// last line, "sequence": the digest of a series of frames on long-lived
// quantisers (kept palettes and indices, a larger frame, diffusion off,
// fewer bits and entries, distribution by population, the full search).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "CQuantizer.h"
#include "engine.h"
#include "osd_frames.h"

namespace {

using osdframes::Frame;

struct Named {
    const char* name;
    Frame frame;
};

// The frames timed, one by one; the sequence uses two more.
const char* const kTimed[] = {"menu-home", "menu-info", "menu-list", "icon-grid",
                              "photo",     "flat",      "menu-1080"};

// Every frame, drawn (`write`) or with its name alone (`run` reads the
// pixels, and drawing them all would cost each run of the program a second).
std::vector<Named> allFrames(bool draw) {
    auto frame = [draw](Frame (*how)()) { return draw ? how() : Frame{}; };
    return {
        {"menu-home", frame([] { return osdframes::menuFrame(720, 480, 1, 0); })},
        {"menu-info", frame([] { return osdframes::menuFrame(720, 480, 1, 1); })},
        {"menu-list", frame([] { return osdframes::menuFrame(720, 480, 1, 2); })},
        {"icon-grid", frame([] { return osdframes::iconGridFrame(720, 480); })},
        {"photo", frame([] { return osdframes::photoFrame(720, 480); })},
        {"flat", frame([] { return osdframes::flatFrame(720, 480); })},
        {"menu-1080", frame([] { return osdframes::menuFrame(1920, 1080, 1, 0); })},
        {"menu-second", frame([] { return osdframes::menuFrame(720, 480, 2, 0); })},
        {"menu-third", frame([] { return osdframes::menuFrame(720, 480, 3, 1); })},
    };
}

const char kMagic[4] = {'O', 'S', 'D', 'F'};

bool writeFrame(const std::string& path, const Frame& f) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const uint32_t size[2] = {f.width, f.height};
    bool ok = fwrite(kMagic, 1, 4, file) == 4 && fwrite(size, 4, 2, file) == 2 &&
              fwrite(f.pixels.data(), 4, f.pixels.size(), file) == f.pixels.size();
    return fclose(file) == 0 && ok;
}

bool readFrame(const std::string& path, Frame* f) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char magic[4];
    uint32_t size[2];
    bool ok = fread(magic, 1, 4, file) == 4 && memcmp(magic, kMagic, 4) == 0 &&
              fread(size, 4, 2, file) == 2 && size[0] <= 4096 && size[1] <= 4096;
    if (ok) {
        f->width = size[0];
        f->height = size[1];
        f->pixels.resize(static_cast<size_t>(size[0]) * size[1]);
        ok = fread(f->pixels.data(), 4, f->pixels.size(), file) == f->pixels.size();
    }
    fclose(file);
    return ok;
}

// Processor time of this thread in milliseconds: less swayed than the wall
// clock by the machine's other work, but counted in steps (10 ms under
// Wine), so only a sum over many runs tells.
double threadMs() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 |
                                   t.dwLowDateTime) /
               1e4;
    };
    return ms(kernel) + ms(user);
#else
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
#endif
}

struct Digest {
    uint64_t value = 1469598103934665603ull;
    void add(const void* data, size_t n) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < n; ++i)
            value = (value ^ p[i]) * 1099511628211ull;
    }
};

struct Output {
    std::vector<_OsdColor> palette = std::vector<_OsdColor>(256);
    std::vector<unsigned char> indices;
};

// One frame on `q`, configured as the OSD path does (diffusion as given).
bool quantise(CQuantizer& q, const Frame& f, bool diffusion, Output* out) {
    out->indices.assign(f.pixels.size(), 0);
    q.imageWidth = f.width;
    q.imageHeight = f.height;
    q.SetErrorDiffusion(diffusion);
    return q.ProcessImage(f.pixels.data(), out->palette.data(), out->indices.data()) == 0;
}

void addOutput(Digest* d, const Output& out) {
    d->add(out.palette.data(), out.palette.size() * sizeof(_OsdColor));
    d->add(out.indices.data(), out.indices.size());
}

const Frame* find(const std::vector<Named>& frames, const char* name) {
    for (const Named& n : frames)
        if (strcmp(n.name, name) == 0)
            return &n.frame;
    return nullptr;
}

bool sequenceDigest(const std::vector<Named>& frames, uint64_t* digest) {
    Digest d;
    Output out;
    bool ok = true;
    auto step = [&](CQuantizer& q, const char* name, bool diffusion) {
        ok = ok && quantise(q, *find(frames, name), diffusion, &out);
        addOutput(&d, out);
    };
    CQuantizer session(256, 8, 720, 480);
    for (const char* name : {"menu-home", "menu-second", "menu-home", "menu-third", "icon-grid",
                             "photo", "flat", "menu-home", "menu-1080", "menu-second"})
        step(session, name, true);
    CQuantizer plain(256, 8, 720, 480);
    for (const char* name : {"menu-home", "menu-second", "photo"})
        step(plain, name, false);
    CQuantizer fewBits(256, 4, 720, 480), fewEntries(16, 8, 720, 480);
    step(fewBits, "menu-third", true);
    step(fewEntries, "icon-grid", true);
    CQuantizer spread(256, 8, 720, 480), full(256, 8, 720, 480);
    spread.SetDistributeClut(true);
    step(spread, "menu-info", true);
    full.SetFullClutSearch(true);
    step(full, "photo", true);
    *digest = d.value;
    return ok;
}

int writeAll(const std::string& folder) {
    for (const Named& n : allFrames(true)) {
        if (!writeFrame(folder + "/" + n.name + ".frame", n.frame)) {
            fprintf(stderr, "cannot write %s/%s.frame\n", folder.c_str(), n.name);
            return 1;
        }
    }
    return 0;
}

int runAll(const std::string& folder, int runs, const std::vector<std::string>& only) {
    std::vector<Named> frames = allFrames(false);
    for (Named& n : frames) {
        if (!readFrame(folder + "/" + n.name + ".frame", &n.frame)) {
            fprintf(stderr, "cannot read %s/%s.frame\n", folder.c_str(), n.name);
            return 1;
        }
    }
    const tovixengine::Engine* engine = tovixengine::processEngine();
    const char* kernels = engine ? engine->name : "none";
    int failed = 0;
    for (const char* name : kTimed) {
        if (!only.empty() && std::find(only.begin(), only.end(), name) == only.end())
            continue;
        const Frame& f = *find(frames, name);
        Digest in, out;
        in.add(f.pixels.data(), f.pixels.size() * sizeof(_OsdColor));
        std::vector<double> ms;
        double cpu = 0;
        CQuantizer q(256, 8, f.width, f.height);
        Output first, result;
        for (int i = -1; i < runs; ++i) {
            // A change of the distribution switch starts the quantiser
            // afresh: no palette or index is kept from the run before.
            q.SetDistributeClut(true);
            q.SetDistributeClut(false);
            q.SetFullClutSearch(false);
            q.imageWidth = f.width;
            q.imageHeight = f.height;
            q.SetErrorDiffusion(true);
            Output& o = i < 0 ? first : result;
            o.indices.assign(f.pixels.size(), 0);
            const double cpuStart = threadMs();
            const auto start = std::chrono::steady_clock::now();
            const int status = q.ProcessImage(f.pixels.data(), o.palette.data(), o.indices.data());
            const auto end = std::chrono::steady_clock::now();
            if (i < 0)
                continue;
            cpu += threadMs() - cpuStart;
            failed += status != 0;
            if (memcmp(result.palette.data(), first.palette.data(),
                       first.palette.size() * sizeof(_OsdColor)) != 0 ||
                result.indices != first.indices) {
                fprintf(stderr, "%s: run %d gave other bytes than the first\n", name, i + 1);
                ++failed;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
        addOutput(&out, first);
        std::string times;
        for (double t : ms)
            times += (times.empty() ? "" : ",") + std::to_string(t);
        std::sort(ms.begin(), ms.end());
        printf("%-10s %-6s in=%016llx out=%016llx median=%.3f fastest=%.3f cpu=%.3f times=%s\n",
               name, kernels, static_cast<unsigned long long>(in.value),
               static_cast<unsigned long long>(out.value), ms[ms.size() / 2], ms[0], cpu,
               times.c_str());
    }
    if (!only.empty())
        return failed ? 1 : 0;
    uint64_t sequence = 0;
    failed += !sequenceDigest(frames, &sequence);
    printf("%-10s %-6s out=%016llx\n", "sequence", kernels,
           static_cast<unsigned long long>(sequence));
    if (failed)
        fprintf(stderr, "%d frames refused\n", failed);
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "write") == 0)
        return writeAll(argv[2]);
    if (argc >= 4 && strcmp(argv[1], "run") == 0 && atoi(argv[3]) > 0)
        return runAll(argv[2], atoi(argv[3]), std::vector<std::string>(argv + 4, argv + argc));
    fprintf(stderr, "usage: %s write <folder> | run <folder> <runs> [<frame>...]\n", argv[0]);
    return 2;
}
