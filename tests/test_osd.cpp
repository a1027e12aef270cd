// The OSD: the image block, the connection to the card's OSD layer through
// the natives, and what the simulated card shows.
#include "counting_allocator.h"
#include "fake_jni.h"
#include "library_world.h"
#include "natives.h"
#include "plugin_log.h"

#include "quantizer/src/engine.h"
#include "sim/control.h"
#include "sim/control_card.h"
#include "src/card/modes.h"
#include "src/log/loadtime.h"
#include "src/log/properties.h"
#include "src/osd/osd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

using testlog::line;
using testlog::logHas;

const uint32_t kRed = 0xFFFF0000;
const uint32_t kBlue = 0xFF0000FF;
const uint32_t kWhite = 0xFFFFFFFF;
const uint32_t kClear = 0x00000000;
const uint32_t kShade = 0x80102030; // translucent

// A host frame of a few colours: a white panel with a shaded band on a
// clear background, and a red left and blue right edge.
std::vector<jint> frame(int width, int height) {
    std::vector<jint> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            uint32_t c = kClear;
            if (x < width / 8)
                c = kRed;
            else if (x >= width - width / 8)
                c = kBlue;
            else if (y > height / 4 && y < height / 2)
                c = kWhite;
            else if (y >= height / 2 && y < height / 2 + 8)
                c = kShade;
            pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                static_cast<jint>(c);
        }
    }
    return pixels;
}

class OsdTest : public LibraryWorld {
  protected:
    void SetUp() override {
        LibraryWorld::SetUp();
        initsBefore = simctl::coInitializeCalls();
        uninitsBefore = simctl::coUninitializeCalls();
    }
    bool open() { return natives::openOSD(env(), cls()) == JNI_TRUE; }
    void close() { natives::closeOSD(env(), cls()); }
    bool send(const std::vector<jint>& pixels, int width, int height) {
        jintArray array = jni.newIntArray(pixels);
        return natives::updateOSD(env(), cls(), array, width, height, 0, 0, width, height) ==
               JNI_TRUE;
    }
    bool send(int width, int height) { return send(frame(width, height), width, height); }
    void expectBalancedCom() {
        EXPECT_EQ(simctl::coInitializeCalls() - initsBefore,
                  simctl::coUninitializeCalls() - uninitsBefore);
        EXPECT_EQ(0, simctl::comInitDepth());
    }
    void expectNothingOfTheCardAlive() {
        EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
    }

    long initsBefore = 0;
    long uninitsBefore = 0;
};

// ---- The image block ----------------------------------------------------------

using OsdBlock = OsdTest;

TEST_F(OsdBlock, A720x480FrameMakesTheDefaultSizedBlock) {
    std::vector<jint> pixels = frame(720, 480);
    std::vector<unsigned char> block(static_cast<size_t>(kDefaultOsdImageSize) + 16, 0xAB);
    EXPECT_EQ(0, buildOsdImage(reinterpret_cast<const _OsdColor*>(pixels.data()), 720, 480,
                               block.data()));
    const unsigned char header[] = {0x3E, 0x05, 0x4A, 0x08, 0x02, 0xD0, 0x01, 0xE0};
    EXPECT_EQ(0, memcmp(header, block.data(), sizeof header));
    for (size_t i = static_cast<size_t>(kDefaultOsdImageSize); i < block.size(); i++)
        ASSERT_EQ(0xAB, block[i]) << "nothing is written past the block";
    // Five colours come back exactly through the palette at 8 and the
    // indices at 1032.
    const unsigned char* palette = block.data() + 8;
    for (size_t i = 0; i < pixels.size(); i++) {
        const unsigned char* entry = palette + 4 * block[1032 + i];
        uint32_t c = static_cast<uint32_t>(entry[0]) | static_cast<uint32_t>(entry[1]) << 8 |
                     static_cast<uint32_t>(entry[2]) << 16 | static_cast<uint32_t>(entry[3]) << 24;
        ASSERT_EQ(static_cast<uint32_t>(pixels[i]), c) << "pixel " << i;
    }
}

TEST_F(OsdBlock, HeadersOfTinyEmptyAndOutsizedFrames) {
    std::vector<unsigned char> block(1040, 0);
    jint one = static_cast<jint>(kRed);
    buildOsdImage(reinterpret_cast<const _OsdColor*>(&one), 1, 1, block.data());
    const unsigned char tiny[] = {0x3E, 0x00, 0x04, 0x09, 0x00, 0x01, 0x00, 0x01};
    EXPECT_EQ(0, memcmp(tiny, block.data(), 8));

    // No pixels: header and palette only.
    buildOsdImage(reinterpret_cast<const _OsdColor*>(&one), 0, 0, block.data());
    const unsigned char empty[] = {0x3E, 0x00, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(0, memcmp(empty, block.data(), 8));

    // The header keeps the low 16 bits of a side.
    buildOsdImage(reinterpret_cast<const _OsdColor*>(&one), 65536, 0, block.data());
    EXPECT_EQ(0, memcmp(empty, block.data(), 8));
    EXPECT_EQ(0u, pQuantizer->imageWidth);
}

// ---- The connection, through the natives ------------------------------------------

using OsdConnection = OsdTest;

TEST_F(OsdConnection, OpeningFindsTheOsdAndAFrameShowsExactlyWhatTheHostSent) {
    ASSERT_TRUE(open());
    EXPECT_TRUE(osdInitialized);
    EXPECT_TRUE(logHas(line("setupTovixOsd", "Found OSD for Tovix: " + simcard::osdName())));
    std::vector<jint> pixels = frame(720, 480);
    EXPECT_TRUE(send(pixels, 720, 480));

    EXPECT_TRUE(simcard::osdDisplayOn());
    EXPECT_EQ(1, simcard::blocksShown());
    EXPECT_EQ(0, simcard::blocksRejected());
    simcard::BlockHeader h = simcard::lastBlockHeader();
    EXPECT_EQ(0x3E, h.type);
    EXPECT_EQ(346632, h.length);
    EXPECT_EQ(720, h.width);
    EXPECT_EQ(480, h.height);
    RECT r = simcard::osdDestination();
    EXPECT_EQ(0, r.left);
    EXPECT_EQ(0, r.top);
    EXPECT_EQ(720, r.right);
    EXPECT_EQ(480, r.bottom);
    ASSERT_EQ(720, simcard::osdWidth());
    ASSERT_EQ(480, simcard::osdHeight());
    std::vector<uint32_t> shown = simcard::osdPixels();
    ASSERT_EQ(pixels.size(), shown.size());
    for (size_t i = 0; i < shown.size(); i++)
        ASSERT_EQ(static_cast<uint32_t>(pixels[i]), shown[i]) << "pixel " << i;
    EXPECT_TRUE(simctl::traceLines().empty());
    close();
}

TEST_F(OsdConnection, RequestsBlockBuffersOnlyWhenTheSizeChangesAndAfterReopening) {
    ASSERT_TRUE(open());
    send(720, 480);
    EXPECT_EQ(1, simcard::blockBufferRequests());
    EXPECT_EQ(346632u, simcard::lastBlockBufferSize());
    send(1280, 720);
    EXPECT_EQ(2, simcard::blockBufferRequests());
    EXPECT_EQ(922632u, simcard::lastBlockBufferSize());
    send(1280, 720);
    EXPECT_EQ(2, simcard::blockBufferRequests());
    EXPECT_EQ(3, simcard::blocksShown());
    close();

    ASSERT_TRUE(open());
    send(1280, 720);
    EXPECT_EQ(3, simcard::blockBufferRequests()) << "a new connection, a new buffer";
    EXPECT_EQ(simcard::osdPixel(0, 0), kRed);
    EXPECT_EQ(simcard::osdPixel(1279, 719), kBlue);
    close();
}

TEST_F(OsdConnection, ScalesTheRectangleToTheScreenWhenAsked) {
    jni.setProperty("tovix/scale_osd", "true");
    jni.setProperty("tovix/output", "HDTV");
    jni.setProperty("tovix/hdmode", "2"); // 720p 1280 720
    ASSERT_TRUE(open());
    EXPECT_EQ(1280, gWidth);
    std::vector<jint> pixels = frame(720, 480);
    send(pixels, 720, 480);
    RECT r = simcard::osdDestination();
    EXPECT_EQ(1280, r.right);
    EXPECT_EQ(720, r.bottom);
    EXPECT_EQ(720, simcard::lastBlockHeader().width) << "the block keeps the frame's size";
    EXPECT_EQ(480, simcard::lastBlockHeader().height);
    ASSERT_EQ(1280, simcard::osdWidth());
    ASSERT_EQ(720, simcard::osdHeight());
    for (int y = 0; y < 720; y += 7) {
        for (int x = 0; x < 1280; x += 3) {
            size_t source =
                static_cast<size_t>(y * 480 / 720) * 720 + static_cast<size_t>(x * 720 / 1280);
            ASSERT_EQ(static_cast<uint32_t>(pixels[source]), simcard::osdPixel(x, y))
                << x << "," << y;
        }
    }

    // Not scaled: the frame's own size.
    gScaleOSD = false;
    send(pixels, 720, 480);
    EXPECT_EQ(720, simcard::osdDestination().right);
    EXPECT_EQ(480, simcard::osdDestination().bottom);
    EXPECT_EQ(720, simcard::osdWidth());
    close();
}

TEST_F(OsdConnection, ClosingLeavesNoCardObjectRestoresTheFlagsAndBalancesCom) {
    simcard::setRegisters({0x82, 1, 0, 0, 0});
    ASSERT_TRUE(open());
    EXPECT_EQ(0x11, simcard::registers().outputFlags);
    send(720, 480);
    EXPECT_EQ(1, simctl::liveCount("OsdObject"));
    EXPECT_EQ(1, simctl::liveCount("OsdEnumerator"));
    EXPECT_EQ(1, simctl::liveCount("DecoderFilter"));
    close();
    EXPECT_FALSE(osdInitialized);
    EXPECT_EQ(nullptr, pOsd);
    EXPECT_EQ(nullptr, pOsdEnum);
    EXPECT_EQ(nullptr, pDecoderFilter);
    EXPECT_FALSE(simcard::osdDisplayOn());
    EXPECT_EQ(0x82, simcard::registers().outputFlags);
    EXPECT_EQ(2, simcard::registers().aspect) << "only the flags are restored";
    EXPECT_TRUE(
        logHas(line("releaseDecoderFilter", "Decoder filter released with 0 references left")));
    expectNothingOfTheCardAlive();
    expectBalancedCom();
}

TEST_F(OsdConnection, WithoutAnEnumeratorTheOpeningFailsAndReleasesEverything) {
    simctl::armFault("CoCreateInstance:OsdEnumerator", REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(open());
    EXPECT_TRUE(
        testlog::logHasStart("hh:mm:ss - <setupTovixOsd>: No OSD board found (ERROR: 80040154/"));
    EXPECT_FALSE(osdInitialized);
    expectNothingOfTheCardAlive();
    expectBalancedCom();
    send(720, 480);
    EXPECT_TRUE(
        logHas(line("processOsdImage", "Cannot update OSD because OSD is not available!!!")));
    EXPECT_EQ(0, simcard::blockBufferRequests());
}

TEST_F(OsdConnection, WithoutAnOsdObjectAtTheOrdinalTheOpeningFails) {
    simcard::setOsdObjectCount(0);
    EXPECT_FALSE(open());
    EXPECT_TRUE(logHas(line("setupTovixOsd", "No OSD available!")));
    EXPECT_EQ(E_FAIL, setupTovixOsd());
    expectNothingOfTheCardAlive();
    expectBalancedCom();

    // A card with two layers: the first is used, nothing else is kept.
    simcard::setOsdObjectCount(2);
    ASSERT_TRUE(open());
    EXPECT_EQ(1, simctl::liveCount("OsdObject"));
    close();
    expectNothingOfTheCardAlive();
    expectBalancedCom();
}

TEST_F(OsdConnection, TheOpeningGoesOnWithoutTheDecoder) {
    simctl::armFault("CoCreateInstance:DecoderFilter", E_OUTOFMEMORY);
    jni.setProperty("tovix/output", "VGA");
    ASSERT_TRUE(open());
    EXPECT_TRUE(
        testlog::logHasStart("hh:mm:ss - <buildGraph>: Cannot create decoder filter!!! (ERROR: "));
    EXPECT_TRUE(
        logHas(line("lookupWidthAndHeight", "no RM profiler.  Using default width and height.")));
    EXPECT_TRUE(send(720, 480));
    EXPECT_EQ(1, simcard::blocksShown());
    close();
    expectNothingOfTheCardAlive();
    expectBalancedCom();
}

TEST_F(OsdConnection, WithoutABlockBufferTheFrameIsDroppedAndTheNextAsksAgain) {
    ASSERT_TRUE(open());
    simctl::armNull("OsdObject::GetBlockBuffer", 1);
    EXPECT_TRUE(send(720, 480)) << "nothing on the frame path reaches the host";
    EXPECT_TRUE(logHas(
        line("processOsdImage", "Cannot update OSD because OSD surface is not available!!!")));
    EXPECT_EQ(0, simcard::blocksShown());
    EXPECT_EQ(346632u, simcard::lastBlockBufferSize());
    send(720, 480);
    EXPECT_EQ(2, simcard::blockBufferRequests()) << "asked again at the same size";
    EXPECT_EQ(1, simcard::blocksShown());
    close();
}

TEST_F(OsdConnection, AFrameTheQuantiserCouldNotFillIsNotShown) {
    ASSERT_TRUE(open());
    ASSERT_TRUE(send(320, 240));
    std::vector<uint32_t> shown = simcard::osdPixels();
    // A larger frame needs larger quantiser buffers, and memory runs out;
    // the card's block buffer (under 1 MB) is still had.
    std::vector<jint> large(800 * 600, static_cast<jint>(kBlue));
    jintArray array = jni.newIntArray(large);
    countingalloc::failAllocationsFrom(1 << 20);
    jboolean answered = natives::updateOSD(env(), cls(), array, 800, 600, 0, 0, 800, 600);
    countingalloc::failAllocationsFrom(0);
    EXPECT_EQ(JNI_TRUE, answered) << "nothing on the frame path reaches the host";
    EXPECT_TRUE(logHas(line("processOsdImage",
                            "Cannot update OSD because the 800x600 frame could not be quantised; "
                            "the previous frame stays on screen")));
    EXPECT_EQ(1, simcard::blocksShown());
    EXPECT_EQ(shown, simcard::osdPixels()) << "the previous frame stays on screen";
    EXPECT_EQ(481032u, simcard::lastBlockBufferSize());

    // With memory back the same frame is shown.
    EXPECT_TRUE(send(large, 800, 600));
    EXPECT_EQ(2, simcard::blocksShown());
    EXPECT_EQ(kBlue, simcard::osdPixel(400, 300));
    close();
}

// The quantiser of a library loaded on a processor with or without SSE and
// SSE2, until the end of the scope.
struct PretendedProcessor {
    PretendedProcessor(bool sse, bool sse2) {
        tovixengine::pretendProcessor(sse, sse2);
        resetLoadTimeObjects();
    }
    ~PretendedProcessor() {
        tovixengine::stopPretending();
        resetLoadTimeObjects();
    }
};

TEST_F(OsdConnection, WithoutSseTheLogSaysOnceWhyNoFrameIsShown) {
    const std::string noSse = line("processOsdImage", "The processor lacks SSE, which the OSD's "
                                                      "quantiser needs: no OSD frame can be shown");
    const std::string refused =
        line("processOsdImage", "Cannot update OSD because the 320x240 frame could not be "
                                "quantised; the previous frame stays on screen");
    {
        PretendedProcessor oldProcessor(false, false);
        ASSERT_TRUE(open());
        EXPECT_TRUE(send(320, 240));
        EXPECT_TRUE(send(320, 240));
        EXPECT_EQ(0, simcard::blocksShown());
        EXPECT_EQ(1, testlog::logCount(noSse));
        EXPECT_EQ(2, testlog::logCount(refused));
        close();
    }
    {
        // A Pentium III: the scalar kernels show the frame, and nothing is said.
        PretendedProcessor sseOnly(true, false);
        ASSERT_TRUE(open());
        EXPECT_TRUE(send(320, 240));
        EXPECT_EQ(1, simcard::blocksShown());
        EXPECT_EQ(kBlue, simcard::osdPixel(319, 120));
        close();
    }
    EXPECT_EQ(1, testlog::logCount(noSse));
    EXPECT_EQ(2, testlog::logCount(refused));
}

TEST_F(OsdConnection, FramesWithoutAConnection) {
    EXPECT_TRUE(send(720, 480));
    EXPECT_TRUE(testlog::readPluginLog().empty()) << "the log is not open before openOSD";
    ASSERT_TRUE(open());
    close();
    EXPECT_TRUE(send(720, 480));
    EXPECT_TRUE(
        logHas(line("processOsdImage", "Cannot update OSD because OSD is not available!!!")));
    EXPECT_EQ(E_POINTER, updateOsd(720, 480)) << "the export called on its own";
    EXPECT_EQ(0, simcard::blocksShown());
}

TEST_F(OsdConnection, ASecondOpeningOrClosingChangesNothing) {
    ASSERT_TRUE(open());
    long inits = simctl::coInitializeCalls();
    ASSERT_TRUE(open());
    EXPECT_EQ(inits, simctl::coInitializeCalls());
    EXPECT_EQ(1, simctl::liveCount("OsdEnumerator"));
    EXPECT_EQ(
        1, testlog::logCount(line("setupTovixOsd", "Found OSD for Tovix: " + simcard::osdName())));
    close();
    close();
    EXPECT_FALSE(osdInitialized);
    expectNothingOfTheCardAlive();
    expectBalancedCom();
    for (const std::string& t : simctl::traceLines())
        EXPECT_EQ(std::string::npos, t.find("CoUninitialize")) << t;
}

TEST_F(OsdConnection, AClosingBeforeAnyOpeningLeavesTheHostsComAlone) {
    CoInitialize(nullptr); // the host's own
    close();
    EXPECT_EQ(1, simctl::comInitDepth());
    CoUninitialize();
}

TEST_F(OsdConnection, FramesTheBlockCannotDescribeAreDropped) {
    ASSERT_TRUE(open());
    unsigned char pixel[4] = {};
    const int sizes[][2] = {{-1, 10},   {10, -1},     {65536, 1},
                            {1, 65536}, {4096, 4097}, {-65536, -65536}};
    for (const auto& s : sizes) {
        processOsdImage(pixel, s[0], s[1]);
        EXPECT_TRUE(logHas(
            line("processOsdImage", "Cannot update OSD because a " + std::to_string(s[0]) + "x" +
                                        std::to_string(s[1]) +
                                        " frame does not fit an OSD block (at most 65535 pixels a "
                                        "side and 16776183 pixels)")))
            << s[0] << "x" << s[1];
    }
    EXPECT_EQ(0, simcard::blockBufferRequests());
    EXPECT_EQ(0, simcard::blocksShown());
    close();
}

TEST_F(OsdConnection, TheFramePathAllocatesNothingOnceTheSizeIsSteady) {
    jni.setProperty("tovix/scale_osd", "true");
    ASSERT_TRUE(open());
    std::vector<jint> pixels = frame(720, 480);
    memcpy(gRgbBuffer, pixels.data(), static_cast<size_t>(gRgbBufferSize));
    processOsdImage(gRgbBuffer, 720, 480); // the first frame sizes everything
    processOsdImage(gRgbBuffer, 720, 480);
    long before = countingalloc::allocations();
    for (int i = 0; i < 3; i++)
        processOsdImage(gRgbBuffer, 720, 480);
    EXPECT_EQ(before, countingalloc::allocations());
    std::string* counted = new std::string(64, 'x'); // the counter itself works
    EXPECT_GT(countingalloc::allocations(), before);
    delete counted;
    EXPECT_EQ(5, simcard::blocksShown());

    // The native around it reuses the staging buffer; only the fake JVM's
    // copy of the array may allocate.
    jintArray array = jni.newIntArray(pixels);
    const unsigned char* staging = gRgbBuffer;
    natives::updateOSD(env(), cls(), array, 720, 480, 0, 0, 720, 480);
    EXPECT_EQ(staging, gRgbBuffer);
    close();
}

TEST_F(OsdConnection, SnapshotsOfWhatTheCardShowsAreWrittenAsPng) {
    std::string folder = "snapshots";
    ASSERT_EQ(0, system(("mkdir -p " + folder).c_str()));
    simcard::setSnapshotFolder(folder);
    ASSERT_TRUE(open());
    send(64, 32);
    send(64, 32);
    close();
    EXPECT_EQ(2, simcard::snapshotsWritten());
    for (const char* name : {"snapshots/osd_0001.png", "snapshots/osd_0002.png"}) {
        FILE* f = fopen(name, "rb");
        ASSERT_NE(nullptr, f) << name;
        unsigned char signature[8] = {};
        EXPECT_EQ(8u, fread(signature, 1, 8, f));
        fclose(f);
        const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        EXPECT_EQ(0, memcmp(png, signature, 8));
    }
}

// ---- The simulated OSD layer itself ------------------------------------------------

class SimulatedOsd : public OsdTest {
  protected:
    void SetUp() override {
        OsdTest::SetUp();
        CoInitialize(nullptr);
        ASSERT_EQ(S_OK,
                  CoCreateInstance(CLSID_OsdEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IOsdEnumerator, reinterpret_cast<void**>(&enumerator)));
        enumerator->Reset();
        osd = enumerator->Next();
        ASSERT_NE(nullptr, osd);
    }
    void TearDown() override {
        osd->Release();
        enumerator->Release();
        expectNothingOfTheCardAlive();
        CoUninitialize();
        OsdTest::TearDown();
    }
    // A w x h block of palette entries 0..3 (red, blue, white, clear) with
    // index (x + y) % 4, in a buffer of `bufferSize` bytes (0: exact).
    unsigned char* block(int w, int h, unsigned bufferSize = 0) {
        unsigned size = static_cast<unsigned>(w * h + 1032);
        void* memory = nullptr;
        EXPECT_EQ(S_OK, osd->GetBlockBuffer(bufferSize ? bufferSize : size, &memory));
        unsigned char* b = static_cast<unsigned char*>(memory);
        unsigned char header[] = {0x3E,
                                  static_cast<unsigned char>(size >> 16),
                                  static_cast<unsigned char>(size >> 8),
                                  static_cast<unsigned char>(size),
                                  static_cast<unsigned char>(w >> 8),
                                  static_cast<unsigned char>(w),
                                  static_cast<unsigned char>(h >> 8),
                                  static_cast<unsigned char>(h)};
        memcpy(b, header, 8);
        memset(b + 8, 0, 1024);
        const uint32_t colours[] = {kRed, kBlue, kWhite, kClear};
        memcpy(b + 8, colours, sizeof colours);
        unsigned limit = bufferSize ? bufferSize : size;
        for (int i = 0; i < w * h && 1032u + static_cast<unsigned>(i) < limit; i++)
            b[1032 + i] = static_cast<unsigned char>(((i % w) + (i / w)) % 4);
        return b;
    }
    IOsdEnumerator* enumerator = nullptr;
    IOsdObject* osd = nullptr;
};

TEST_F(SimulatedOsd, RejectsBlocksItCannotShowAndKeepsTheScreen) {
    block(2, 2);
    osd->SetDestination({0, 0, 2, 2});
    ASSERT_EQ(S_OK, osd->SetDisplay(1));
    std::vector<uint32_t> good = simcard::osdPixels();
    EXPECT_EQ((std::vector<uint32_t>{kRed, kBlue, kBlue, kWhite}), good);

    unsigned char* b = block(2, 2);
    b[0] = 0x3F;
    EXPECT_EQ(E_INVALIDARG, osd->SetDisplay(1));
    b = block(2, 2);
    b[3] = static_cast<unsigned char>(b[3] + 1);
    EXPECT_EQ(E_INVALIDARG, osd->SetDisplay(1));
    block(100, 100, 2000); // the header promises more than the buffer holds
    EXPECT_EQ(E_INVALIDARG, osd->SetDisplay(1));
    block(2, 2);
    osd->SetDestination({0, 0, -5, 10});
    EXPECT_EQ(E_INVALIDARG, osd->SetDisplay(1));

    EXPECT_EQ(4, simcard::blocksRejected());
    EXPECT_EQ(good, simcard::osdPixels());
    std::vector<std::string> trace = simctl::traceLines();
    ASSERT_EQ(4u, trace.size());
    EXPECT_EQ("OSD block rejected: type 0x3F, not 0x3E", trace[0]);
    EXPECT_EQ("OSD block rejected: length 1037 for a 2x2 block (expected 1036)", trace[1]);
    EXPECT_EQ("OSD block rejected: length 11032 runs past its 2000-byte buffer", trace[2]);

    osd->SetDestination({0, 0, 2, 2});
    osd->Close();
    EXPECT_EQ(E_INVALIDARG, osd->SetDisplay(1)) << "nothing is shown after Close";
    EXPECT_EQ(S_OK, osd->SetDisplay(0));
    EXPECT_FALSE(simcard::osdDisplayOn());
}

TEST_F(SimulatedOsd, ComposesIntoItsRectangleByNearestNeighbour) {
    block(2, 2);
    osd->SetDestination({0, 0, 4, 4});
    ASSERT_EQ(S_OK, osd->SetDisplay(1));
    std::vector<uint32_t> expected = {kRed,  kRed,  kBlue,  kBlue,  kRed,  kRed,  kBlue,  kBlue,
                                      kBlue, kBlue, kWhite, kWhite, kBlue, kBlue, kWhite, kWhite};
    EXPECT_EQ(expected, simcard::osdPixels());
    osd->SetDestination({0, 0, 1, 1});
    osd->SetDisplay(1);
    EXPECT_EQ((std::vector<uint32_t>{kRed}), simcard::osdPixels());

    // An empty block clears the screen it is shown on.
    block(0, 0);
    osd->SetDestination({0, 0, 3, 1});
    ASSERT_EQ(S_OK, osd->SetDisplay(1));
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0}), simcard::osdPixels());

    void* none = reinterpret_cast<void*>(1);
    simctl::armNull("OsdObject::GetBlockBuffer");
    EXPECT_EQ(E_OUTOFMEMORY, osd->GetBlockBuffer(100, &none));
    EXPECT_EQ(nullptr, none);
}

} // namespace
