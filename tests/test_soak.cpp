// A host that runs for weeks: many OSD frames of changing sizes and many
// load / play / free cycles in one process, with the resident memory and the
// simulated world's live objects sampled as they go. Either growing after
// the warm-up fails the run.
//
// The short form (1,000 frames, 60 cycles) runs in every check; TOVIX_SOAK_FRAMES and
// TOVIX_SOAK_CYCLES make the long form (CTest label "soak", `make soak`).
#include "fake_jni.h"
#include "natives.h"
#include "session.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"
#include "src/bridge/lifecycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <unistd.h>

namespace {

// Under AddressSanitizer freed memory waits in a quarantine of hundreds of
// megabytes before it is reused, so resident memory grows whatever the
// library does; there the leak checker judges leaks, and the short form is
// shorter still, the sanitized code being many times slower.
#if defined(__SANITIZE_ADDRESS__)
const bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif
#else
const bool kSanitized = false;
#endif

int fromEnvironment(const char* name, int fallback) {
    const char* text = getenv(name);
    int value = text ? atoi(text) : 0;
    return value > 0 ? value : fallback;
}

// Resident memory in KiB.
// Resident memory once the allocator has handed back the pages it holds
// free: what is left is what the process uses, whatever the allocator's
// thresholds made of the heap's layout.
long residentKiB() {
    malloc_trim(0);
    FILE* statm = fopen("/proc/self/statm", "r");
    if (!statm)
        return -1;
    long size = 0;
    long resident = 0;
    int read = fscanf(statm, "%ld %ld", &size, &resident);
    fclose(statm);
    return read == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// Frame sizes cycling through a set that makes the staging buffer and the
// card's block buffer change size, shrink and grow again, with repeats
// that reuse them.
struct Size {
    int width;
    int height;
};
const Size kSizes[] = {{96, 64}, {96, 64}, {48, 32},  {720, 480},
                       {1, 1},   {0, 0},   {160, 90}, {64, 200}};
const int kSizeCount = sizeof kSizes / sizeof kSizes[0];

// Memory may move a little with the allocator's own bookkeeping; a leak of
// even a small block per frame or per cycle goes far past this.
const long kSlackKiB = 1024;

class Soak : public testing::Test {
  protected:
    void SetUp() override {
        simctl::reset();
        simcard::reset();
        resetLibrary();
        simctl::setManualClock(true);
        ASSERT_TRUE(session::writeMedia());
        // The fake JNI keeps a record of every call; a fresh one per batch
        // keeps the test's own memory flat.
        jni.reset(new fakejni::FakeJni);
        session::applySettings(*jni);
        ASSERT_EQ(JNI_TRUE, natives::openOSD(jni->env(), jni->hostClass()));
    }
    void TearDown() override {
        Java_org_quencommunity_tovix_TovixAPI_free(jni->env(), jni->hostClass());
        natives::closeOSD(jni->env(), jni->hostClass());
        EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
        EXPECT_EQ(0, simctl::comInitDepth());
    }
    void freshJni() {
        EXPECT_EQ(0, jni->outstanding());
        EXPECT_TRUE(jni->violations().empty());
        jni.reset(new fakejni::FakeJni);
        session::applySettings(*jni);
        // The world's own trace grows with every rejected block; it is the
        // simulation's memory, not the library's.
        simctl::clearTrace();
    }

    std::unique_ptr<fakejni::FakeJni> jni;
};

TEST_F(Soak, OsdFramesOfChangingSizesHoldMemoryAndObjectsFlat) {
    const int frames = fromEnvironment("TOVIX_SOAK_FRAMES", kSanitized ? 200 : 1000);
    // The allocator and the quantiser's caches settle within a few hundred
    // frames of these sizes; growth after that is what counts.
    const int warmUp = std::max(frames / 10, std::min(400, frames / 2));
    // Resident memory swings by a full frame's buffers with the frame sizes
    // (blocks of a megabyte and more come and go from the system), so it is
    // sampled after every round of sizes and the peaks are compared: a leak
    // raises the peak round after round.
    long peakWarm = 0;
    long peakAfter = 0;
    long objectsBefore = 0;
    for (int i = 0; i < frames; i++) {
        if (i % 200 == 0)
            freshJni();
        const Size& s = kSizes[i % kSizeCount];
        ASSERT_TRUE(session::sendFrame(*jni, s.width, s.height, static_cast<unsigned>(i)));
        if (i % kSizeCount == kSizeCount - 1) {
            long& peak = i < warmUp ? peakWarm : peakAfter;
            peak = std::max(peak, residentKiB());
        }
        if (i + 1 == warmUp)
            objectsBefore = static_cast<long>(simctl::liveObjects().size());
    }
    freshJni();
    long objectsAfter = static_cast<long>(simctl::liveObjects().size());
    printf("soak: %d OSD frames: resident at most %ld KiB in the warm-up, at most %ld KiB after; "
           "live objects %ld then %ld\n",
           frames, peakWarm, peakAfter, objectsBefore, objectsAfter);
    if (!kSanitized) {
        EXPECT_LE(peakAfter, peakWarm + kSlackKiB);
    }
    EXPECT_EQ(objectsBefore, objectsAfter) << simctl::describeLiveObjects();
    EXPECT_GT(simcard::blocksShown(), frames / 2) << "the frames reached the card";
}

TEST_F(Soak, LoadPlayFreeCyclesHoldMemoryAndObjectsFlat) {
    const int cycles = fromEnvironment("TOVIX_SOAK_CYCLES", kSanitized ? 20 : 60);
    const int warmUp = cycles / 10 > 0 ? cycles / 10 : 1;
    long before = 0;
    long objectsBefore = 0;
    for (int i = 0; i < cycles; i++) {
        if (i % 20 == 0)
            freshJni();
        session::playFile(*jni, i % 2 ? session::kRenderFile : session::kPushFile, i % 2 == 0);
        ASSERT_EQ("", session::leftAfterFree()) << "cycle " << i;
        session::sendFrame(*jni, 32, 16, static_cast<unsigned>(i));
        if (i + 1 == warmUp) {
            before = residentKiB();
            objectsBefore = simctl::objectsCreated();
        }
    }
    freshJni();
    long after = residentKiB();
    printf("soak: %d load/play/free cycles: resident %ld KiB after warm-up, %ld KiB at the end; "
           "%ld simulated objects made and let go since\n",
           cycles, before, after, simctl::objectsCreated() - objectsBefore);
    if (!kSanitized) {
        EXPECT_LE(after, before + kSlackKiB);
    }
    EXPECT_EQ(3u, simctl::liveObjects().size()) << simctl::describeLiveObjects();
}

} // namespace
