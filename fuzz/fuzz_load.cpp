// load with any strings: null ones, paths of any length, any bytes where the
// JVM would send modified UTF-8, any type hints, time-shifted or not, and now
// and then a second load while the first file plays. Every load is followed
// by free, after which the world must hold no more than before. The path
// conversion is also driven alone, into a buffer of any length.
#include "fake_jni.h"
#include "fuzz_input.h"
#include "log_trim.h"
#include "natives.h"
#include "session.h"

#include "sim/control.h"
#include "sim/control_graph.h"
#include "src/log/host_path.h"
#include "src/player/player.h"

#include <memory>
#include <string>

namespace {

jstring hostString(fakejni::FakeJni& jni, fuzzinput::Input& in) {
    const uint8_t kind = in.byte() % 8;
    switch (kind) {
    case 0:
        return nullptr;
    case 1:
        return jni.newString(session::kPushFile);
    case 2:
        return jni.newString(session::kRenderFile);
    case 3: {
        // Near and past the longest path the player takes (259 characters).
        const size_t length = 240 + in.byte() % 40;
        return jni.newString(std::string(length, static_cast<char>('a' + in.byte() % 26)));
    }
    default:
        return jni.newString(in.text(600));
    }
}

// A string the VM could not hand over leaves its OutOfMemoryError for the
// host, which sees it thrown from load and goes on; nothing else may.
void checkJni(fakejni::FakeJni& jni, bool stringsFailed) {
    fuzzinput::check(jni.outstanding() == 0, "a string not given back");
    fuzzinput::check(jni.violations().empty(), "JNI misused");
    if (!stringsFailed)
        fuzzinput::check(!jni.exceptionPending(), "a Java exception left pending");
    if (jni.exceptionPending())
        jni.env()->ExceptionClear();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    simctl::setManualClock(true);
    if (!session::writeMedia())
        fuzzinput::fail("cannot write the media files");
    fakejni::FakeJni jni;
    if (natives::openOSD(jni.env(), jni.hostClass()) != JNI_TRUE)
        fuzzinput::fail("the OSD does not open");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::trimLog();
    fuzzinput::Input in(data, size);
    const uint8_t flags = in.byte();
    const int loads = (flags & 1) ? 2 : 1;
    fakejni::FakeJni jni;
    for (int i = 0; i < loads; i++) {
        jbyte maj = static_cast<jbyte>(in.byte());
        jbyte min = static_cast<jbyte>(in.byte());
        if (flags & 2) {
            maj = 1;
            min = 31;
        }
        jstring hint = hostString(jni, in);
        jstring file = hostString(jni, in);
        jstring host = hostString(jni, in);
        const bool stringsFail = (flags & 4) && i == 0;
        jni.failStringChars(stringsFail);
        natives::load(jni.env(), jni.hostClass(), maj, min, hint, file, host, flags & 8);
        jni.failStringChars(false);
        checkJni(jni, stringsFail);
        // The second load comes while the first file plays.
        Java_org_quencommunity_tovix_TovixAPI_play(jni.env(), jni.hostClass());
    }
    Java_org_quencommunity_tovix_TovixAPI_free(jni.env(), jni.hostClass());
    const std::string left = session::leftAfterFree();
    if (!left.empty()) {
        fprintf(stderr, "%s", left.c_str());
        fuzzinput::fail("free left objects alive");
    }
    // What free left for the next load is released by closeOSD; a clean
    // world for the next input.
    if (pGraphBuilder) {
        natives::closeOSD(jni.env(), jni.hostClass());
        natives::openOSD(jni.env(), jni.hostClass());
    }

    // The conversion alone: any bytes, any room.
    const int room = 1 + in.byte() % 300;
    std::unique_ptr<WCHAR[]> wide(new WCHAR[room]);
    const std::string path = in.rest();
    const int units = hostPathToWide(path.c_str(), wide.get(), room);
    fuzzinput::check(units < room, "the path overran its buffer");
    if (units >= 0)
        fuzzinput::check(wide[units] == 0, "the wide path is not terminated");
    return 0;
}
