// updateOSD with any pixel array, bitmap size and update rectangle (negative,
// overflowing, disagreeing with the array), through the fake JNI environment
// and with the OSD open, so that every frame the native accepts goes through
// the quantiser to the simulated card.
#include "fake_jni.h"
#include "fuzz_input.h"
#include "log_trim.h"
#include "natives.h"

#include "sim/control.h"
#include "sim/control_card.h"

#include <vector>

namespace {

// Frames larger than this are still tried for their sizes, but their pixels
// are not: the fuzzer's time goes to many inputs, not to large copies.
const int64_t kMaxPixels = 1 << 15;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fakejni::FakeJni jni;
    if (natives::openOSD(jni.env(), jni.hostClass()) != JNI_TRUE)
        fuzzinput::fail("the OSD does not open");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::trimLog();
    fuzzinput::Input in(data, size);
    const uint8_t mode = in.byte();
    int32_t bitmapWidth = in.i32();
    int32_t bitmapHeight = in.i32();
    int32_t minX = in.i32();
    int32_t minY = in.i32();
    int32_t maxX = in.i32();
    int32_t maxY = in.i32();
    int64_t length = in.u16();
    if (mode & 1) {
        // A frame whose rectangle, bitmap and array agree, placed anywhere,
        // its corners wrapping round as 32-bit ints do.
        bitmapWidth = static_cast<int32_t>(static_cast<uint32_t>(bitmapWidth) % 128);
        bitmapHeight = static_cast<int32_t>(static_cast<uint32_t>(bitmapHeight) % 128);
        maxX =
            static_cast<int32_t>(static_cast<uint32_t>(minX) + static_cast<uint32_t>(bitmapWidth));
        maxY =
            static_cast<int32_t>(static_cast<uint32_t>(minY) + static_cast<uint32_t>(bitmapHeight));
        length = static_cast<int64_t>(bitmapWidth) * bitmapHeight;
        // ... or an array a little off what the rectangle says.
        if (mode & 2)
            length += static_cast<int8_t>(in.byte());
    }
    if (length < 0 || length > kMaxPixels)
        length = 0;
    std::string bytes = in.rest();
    std::vector<jint> pixels(static_cast<size_t>(length));
    for (size_t i = 0; i < pixels.size() && !bytes.empty(); i++) {
        uint32_t v = 0;
        for (size_t k = 0; k < 4; k++)
            v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[(i * 4 + k) % bytes.size()]))
                 << (8 * k);
        pixels[i] = static_cast<jint>(v);
    }

    fakejni::FakeJni jni;
    jintArray array = (mode & 4) ? nullptr : jni.newIntArray(pixels);
    if (mode & 8)
        jni.failArrayElements(true);
    const int shownBefore = simcard::blocksShown();
    jboolean answer = Java_org_quencommunity_tovix_TovixAPI_updateOSD(
        jni.env(), jni.hostClass(), array, bitmapWidth, bitmapHeight, minX, minY, maxX, maxY,
        static_cast<jlong>(in.u32()), 0);

    fuzzinput::check(jni.outstanding() == 0, "pixel array not given back");
    fuzzinput::check(jni.violations().empty(), "JNI misused");
    // An array the VM could not hand over leaves its OutOfMemoryError for the
    // host; nothing else may.
    if (!(mode & 8))
        fuzzinput::check(!jni.exceptionPending(), "a Java exception left pending");
    // A well-formed frame that an OSD block can describe (65535 pixels a
    // side, a length below 2^24) is shown, with its own size in the header.
    const int64_t width = static_cast<int64_t>(maxX) - minX;
    const int64_t height = static_cast<int64_t>(maxY) - minY;
    const bool wellFormed = array && !(mode & 8) && width >= 0 && height >= 0 && width <= 65535 &&
                            height <= 65535 && width * height <= 16776183 && width == bitmapWidth &&
                            height == bitmapHeight &&
                            width * height == static_cast<int64_t>(pixels.size());
    if (wellFormed) {
        fuzzinput::check(answer == JNI_TRUE, "a well-formed frame refused");
        if (width * height > 0) {
            fuzzinput::check(simcard::blocksShown() == shownBefore + 1,
                             "a well-formed frame not shown");
            simcard::BlockHeader header = simcard::lastBlockHeader();
            fuzzinput::check(header.width == width && header.height == height,
                             "the block header does not carry the frame's size");
        }
    }
    return 0;
}
