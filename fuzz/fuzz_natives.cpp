// All 27 natives in any order with hostile arguments (null and huge
// strings, rectangles and arrays of any size, rates, seeks and levels of any
// value, NaN and infinities included), the simulated clock moving between
// calls, and now and then a fault armed at one of the points the run has
// reached so far. Each input ends with free and closeOSD and must leave
// nothing of the world alive. While no fault is armed, what the host reads
// must be sound: a state it knows, a position never past the duration and
// never back without a seek, and a free that does not wait.
#include "fake_jni.h"
#include "fuzz_input.h"
#include "log_trim.h"
#include "natives.h"
#include "session.h"

#include "sim/control.h"
#include "sim/control_graph.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using fuzzinput::check;
using fuzzinput::Input;

const int kNatives = 27;
const HRESULT kFaults[] = {E_FAIL,       E_OUTOFMEMORY,     E_NOINTERFACE, E_POINTER,
                           E_UNEXPECTED, VFW_E_WRONG_STATE, S_FALSE};

float hostileFloat(Input& in) {
    switch (in.byte() % 8) {
    case 0:
        return std::numeric_limits<float>::quiet_NaN();
    case 1:
        return std::numeric_limits<float>::infinity();
    case 2:
        return -std::numeric_limits<float>::infinity();
    case 3:
        return 0.0f;
    case 4:
        return static_cast<float>(in.byte()) / 64.0f;
    default: {
        uint32_t bits = in.u32();
        float f;
        memcpy(&f, &bits, sizeof f);
        return f;
    }
    }
}

jlong hostileMillis(Input& in) {
    switch (in.byte() % 4) {
    case 0:
        return static_cast<jlong>(in.u16()) * 10;
    case 1:
        return -static_cast<jlong>(in.u16());
    case 2:
        return static_cast<jlong>(in.u32()) << 31;
    default:
        return static_cast<jlong>(in.u16());
    }
}

jstring hostileString(fakejni::FakeJni& jni, Input& in) {
    switch (in.byte() % 6) {
    case 0:
        return nullptr;
    case 1:
    case 2:
        return jni.newString(session::kPushFile);
    case 3:
        return jni.newString(session::kRenderFile);
    case 4:
        return jni.newString(std::string(200 + in.byte() * 2, 'p'));
    default:
        return jni.newString(in.text(300));
    }
}

// What the host has read of the position since anything could move it back.
struct Reading {
    long long position = -1;
    void forget() { position = -1; }
};

class Session {
  public:
    explicit Session(Input& in) : in_(in) {}

    void call(int native) {
        JNIEnv* env = jni_.env();
        jclass cls = jni_.hostClass();
        switch (native) {
        case 0:
            Java_org_quencommunity_tovix_TovixAPI_openOSD(env, cls);
            reading_.forget();
            break;
        case 1:
            Java_org_quencommunity_tovix_TovixAPI_closeOSD(env, cls);
            reading_.forget();
            break;
        case 2:
            Java_org_quencommunity_tovix_TovixAPI_supportsRegionUpdates(env, cls);
            break;
        case 3: {
            int width = in_.byte() % 64, height = in_.byte() % 64;
            int minX = in_.i32() % 2048, minY = in_.byte();
            std::vector<jint> pixels(
                static_cast<size_t>(in_.byte() % 2 ? width * height : in_.byte() * 3),
                static_cast<jint>(in_.u32()));
            jintArray array = in_.byte() % 8 ? jni_.newIntArray(pixels) : nullptr;
            Java_org_quencommunity_tovix_TovixAPI_updateOSD(
                env, cls, array, width, height, minX, minY, minX + width, minY + height, 0, 0);
            break;
        }
        case 4: {
            jbyte maj = static_cast<jbyte>(in_.byte() % 3 ? 1 : in_.byte());
            jbyte min = static_cast<jbyte>(in_.byte() % 3 ? 31 : in_.byte());
            jstring hint = hostileString(jni_, in_);
            jstring file = hostileString(jni_, in_);
            jstring host = hostileString(jni_, in_);
            Java_org_quencommunity_tovix_TovixAPI_load(env, cls, maj, min, hint, file, host,
                                                       in_.byte() % 2 ? JNI_TRUE : JNI_FALSE,
                                                       static_cast<jlong>(in_.u32()));
            reading_.forget();
            break;
        }
        case 5:
            Java_org_quencommunity_tovix_TovixAPI_getFile(env, cls);
            break;
        case 6: {
            long long before = simctl::clockMs();
            Java_org_quencommunity_tovix_TovixAPI_free(env, cls);
            if (!faulted_)
                check(simctl::clockMs() == before, "free waited with nothing to wait for");
            reading_.forget();
            break;
        }
        case 7:
            Java_org_quencommunity_tovix_TovixAPI_inactiveFile(env, cls);
            break;
        case 8:
            Java_org_quencommunity_tovix_TovixAPI_pause(env, cls);
            break;
        case 9:
            Java_org_quencommunity_tovix_TovixAPI_play(env, cls);
            break;
        case 10:
            Java_org_quencommunity_tovix_TovixAPI_stop(env, cls);
            reading_.forget();
            break;
        case 11:
            Java_org_quencommunity_tovix_TovixAPI_frameStep(env, cls, in_.i32());
            break;
        case 12: {
            jint state = Java_org_quencommunity_tovix_TovixAPI_getState(env, cls);
            check(state >= 0 && state <= 5, "a state the host does not know");
            break;
        }
        case 13:
        case 14:
            readPosition();
            break;
        case 15:
            Java_org_quencommunity_tovix_TovixAPI_getPlaybackRate(env, cls);
            break;
        case 16:
            Java_org_quencommunity_tovix_TovixAPI_setPlaybackRate(env, cls, hostileFloat(in_));
            reading_.forget();
            break;
        case 17:
            Java_org_quencommunity_tovix_TovixAPI_seek(env, cls, hostileMillis(in_));
            reading_.forget();
            break;
        case 18:
            Java_org_quencommunity_tovix_TovixAPI_setVideoRectangles(env, cls, in_.i32(), in_.i32(),
                                                                     in_.i32(), in_.i32());
            break;
        case 19:
            Java_org_quencommunity_tovix_TovixAPI_getMute(env, cls);
            break;
        case 20:
            Java_org_quencommunity_tovix_TovixAPI_setMute(env, cls, in_.byte() % 2);
            break;
        case 21:
            Java_org_quencommunity_tovix_TovixAPI_getVolume(env, cls);
            break;
        case 22:
            Java_org_quencommunity_tovix_TovixAPI_setVolume(env, cls, hostileFloat(in_));
            break;
        case 23:
            Java_org_quencommunity_tovix_TovixAPI_setClosedCaptioningState(env, cls, in_.i32());
            break;
        case 24:
            Java_org_quencommunity_tovix_TovixAPI_getClosedCaptioningState(env, cls);
            break;
        case 25:
            Java_org_quencommunity_tovix_TovixAPI_getVideoWidth(env, cls);
            break;
        default:
            Java_org_quencommunity_tovix_TovixAPI_getVideoHeight(env, cls);
            break;
        }
        check(jni_.outstanding() == 0, "a string or array not given back");
        check(jni_.violations().empty(), "JNI misused");
    }

    // Arms a fault at one of the points reached so far.
    void armFault() {
        std::vector<std::string> points = simctl::pointsReached();
        if (points.empty())
            return;
        const std::string& point = points[in_.byte() % points.size()];
        int nth = 1 + in_.byte() % 4;
        if (in_.byte() % 4 == 0)
            simctl::armNull(point, nth);
        else
            simctl::armFault(point, kFaults[in_.byte() % (sizeof kFaults / sizeof kFaults[0])],
                             nth);
        faulted_ = true;
    }

    // The end of every input: the host frees the player and closes the OSD,
    // and nothing of the world may be left.
    void end() {
        simctl::clearFaults();
        Java_org_quencommunity_tovix_TovixAPI_free(jni_.env(), jni_.hostClass());
        Java_org_quencommunity_tovix_TovixAPI_closeOSD(jni_.env(), jni_.hostClass());
        std::string left = session::leftAfterClose();
        if (!left.empty()) {
            fprintf(stderr, "%s", left.c_str());
            fuzzinput::fail("closeOSD left the world alive");
        }
        if (jni_.exceptionPending())
            jni_.env()->ExceptionClear();
    }

  private:
    void readPosition() {
        JNIEnv* env = jni_.env();
        jclass cls = jni_.hostClass();
        jint state = Java_org_quencommunity_tovix_TovixAPI_getState(env, cls);
        jlong position = Java_org_quencommunity_tovix_TovixAPI_getMediaTimeMillis(env, cls);
        jlong duration = Java_org_quencommunity_tovix_TovixAPI_getDurationMillis(env, cls);
        if (faulted_ || state == 0 || state == 4) {
            reading_.forget();
            return;
        }
        if (duration > 0)
            check(position <= duration, "the position ran past the duration");
        if (reading_.position >= 0)
            check(position >= reading_.position, "the position went back without a seek");
        reading_.position = position;
    }

    Input& in_;
    fakejni::FakeJni jni_;
    Reading reading_;
    bool faulted_ = false;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    simctl::setManualClock(true);
    if (!session::writeMedia())
        fuzzinput::fail("cannot write the media files");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::trimLog();
    Input in(data, size);
    Session host(in);
    for (int calls = 0; in.left() > 0 && calls < 64; calls++) {
        uint8_t op = in.byte();
        if (op >= 0xF8)
            host.armFault();
        else if (op >= 0xE0)
            simctl::advanceClock(20L * in.byte());
        else
            host.call(op % kNatives);
    }
    host.end();
    return 0;
}
