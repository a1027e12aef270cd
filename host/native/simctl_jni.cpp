// JNI bindings of the simulated world's control API, for the Java tests and
// the demo: org.quencommunity.tovix.sim.SimControl. Not part of the library;
// it is loaded beside it and shares the one libtovixsim.so of the process.
#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"

#include <jni.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#define SIMCTL(result, name)                                                                       \
    extern "C" JNIEXPORT result JNICALL Java_org_quencommunity_tovix_sim_SimControl_##name

namespace {

// The world speaks standard UTF-8; JNI's own UTF functions speak modified
// UTF-8, which differs for characters beyond the BMP and for NUL. Strings
// therefore cross as UTF-16.

// A Java string as standard UTF-8, its characters given back at once.
std::string toStd(JNIEnv* env, jstring text) {
    std::string out;
    if (!text)
        return out;
    jsize length = env->GetStringLength(text);
    const jchar* units = env->GetStringChars(text, nullptr);
    if (!units)
        return out;
    for (jsize i = 0; i < length; i++) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD; // a lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    env->ReleaseStringChars(text, units);
    return out;
}

// Standard UTF-8 as a Java string; a malformed byte becomes U+FFFD.
jstring toJava(JNIEnv* env, const std::string& text) {
    std::vector<jchar> units;
    units.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        uint32_t c = *p;
        int extra = c < 0x80           ? 0
                    : (c >> 5) == 0x6  ? 1
                    : (c >> 4) == 0xE  ? 2
                    : (c >> 3) == 0x1E ? 3
                                       : -1;
        if (extra < 0 || end - p <= extra) {
            units.push_back(0xFFFD);
            p++;
            continue;
        }
        c = extra == 0 ? c : c & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; k++) {
            if ((p[k] & 0xC0) != 0x80)
                ok = false;
            c = (c << 6) | (p[k] & 0x3F);
        }
        if (!ok || c > 0x10FFFF) {
            units.push_back(0xFFFD);
            p++;
            continue;
        }
        p += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            units.push_back(static_cast<jchar>(0xD800 + (c >> 10)));
            units.push_back(static_cast<jchar>(0xDC00 + (c & 0x3FF)));
        } else {
            units.push_back(static_cast<jchar>(c));
        }
    }
    return env->NewString(units.data(), static_cast<jsize>(units.size()));
}

jobjectArray toJava(JNIEnv* env, const std::vector<std::string>& lines) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass)
        return nullptr;
    jobjectArray array =
        env->NewObjectArray(static_cast<jsize>(lines.size()), stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    if (!array)
        return nullptr;
    for (size_t i = 0; i < lines.size(); i++) {
        jstring line = toJava(env, lines[i]);
        if (!line)
            return nullptr;
        env->SetObjectArrayElement(array, static_cast<jsize>(i), line);
        env->DeleteLocalRef(line);
    }
    return array;
}

} // namespace

// ---- Reference ledger -------------------------------------------------------

SIMCTL(jobjectArray, liveObjects)(JNIEnv* env, jclass) {
    std::vector<std::string> lines;
    for (const simctl::LiveObject& object : simctl::liveObjects())
        lines.push_back(object.className + " refs=" + std::to_string(object.refs));
    return toJava(env, lines);
}

SIMCTL(jint, liveCount)(JNIEnv* env, jclass, jstring className) {
    return simctl::liveCount(toStd(env, className));
}

SIMCTL(jstring, describeLiveObjects)(JNIEnv* env, jclass) {
    return toJava(env, simctl::describeLiveObjects());
}

SIMCTL(jlong, objectsCreated)(JNIEnv*, jclass) {
    return simctl::objectsCreated();
}

// ---- Fault injection --------------------------------------------------------

SIMCTL(void, armFault)(JNIEnv* env, jclass, jstring point, jint hr, jint nth) {
    simctl::armFault(toStd(env, point), static_cast<HRESULT>(hr), nth);
}

SIMCTL(void, armNull)(JNIEnv* env, jclass, jstring point, jint nth, jint hr) {
    simctl::armNull(toStd(env, point), nth, static_cast<HRESULT>(hr));
}

SIMCTL(void, clearFaults)(JNIEnv*, jclass) {
    simctl::clearFaults();
}

SIMCTL(jobjectArray, pointsReached)(JNIEnv* env, jclass) {
    return toJava(env, simctl::pointsReached());
}

SIMCTL(void, resetPointsReached)(JNIEnv*, jclass) {
    simctl::resetPointsReached();
}

SIMCTL(jint, callCount)(JNIEnv* env, jclass, jstring point) {
    return simctl::callCount(toStd(env, point));
}

// ---- COM runtime ------------------------------------------------------------

SIMCTL(jint, comInitDepth)(JNIEnv*, jclass) {
    return simctl::comInitDepth();
}
SIMCTL(jlong, coInitializeCalls)(JNIEnv*, jclass) {
    return simctl::coInitializeCalls();
}
SIMCTL(jlong, coUninitializeCalls)(JNIEnv*, jclass) {
    return simctl::coUninitializeCalls();
}

// ---- The world's trace ------------------------------------------------------

SIMCTL(jobjectArray, traceLines)(JNIEnv* env, jclass) {
    return toJava(env, simctl::traceLines());
}
SIMCTL(void, clearTrace)(JNIEnv*, jclass) {
    simctl::clearTrace();
}
SIMCTL(void, reset)(JNIEnv*, jclass) {
    simctl::reset();
}

// ---- What this build offers -------------------------------------------------

// The groups of controls compiled in; Java asks before it calls them.
SIMCTL(jobjectArray, features)(JNIEnv* env, jclass) {
    std::vector<std::string> features{"ledger", "faults", "com",   "trace",
                                      "card",   "graph",  "screen"};
    return toJava(env, features);
}

// ---- The card -----------------------------------------------------------------

namespace {

jintArray toJava(JNIEnv* env, const int* values, size_t count) {
    jintArray array = env->NewIntArray(static_cast<jsize>(count));
    if (array)
        env->SetIntArrayRegion(array, 0, static_cast<jsize>(count),
                               reinterpret_cast<const jint*>(values));
    return array;
}

jintArray toJava(JNIEnv* env, const simcard::Registers& r) {
    const int values[] = {r.outputFlags, r.aspect, r.hdMode, r.vgaMode, r.audioOutput};
    return toJava(env, values, 5);
}

} // namespace

SIMCTL(jintArray, registers)(JNIEnv* env, jclass) {
    return toJava(env, simcard::registers());
}
SIMCTL(jintArray, startRegisters)(JNIEnv* env, jclass) {
    return toJava(env, simcard::startRegisters());
}
SIMCTL(jintArray, registerWrites)(JNIEnv* env, jclass) {
    return toJava(env, simcard::registerWrites());
}
SIMCTL(jstring, osdName)(JNIEnv* env, jclass) {
    return toJava(env, simcard::osdName());
}
SIMCTL(jboolean, osdDisplayOn)(JNIEnv*, jclass) {
    return simcard::osdDisplayOn() ? JNI_TRUE : JNI_FALSE;
}
SIMCTL(jint, blocksShown)(JNIEnv*, jclass) {
    return simcard::blocksShown();
}
SIMCTL(jint, blocksRejected)(JNIEnv*, jclass) {
    return simcard::blocksRejected();
}
SIMCTL(jint, blockBufferRequests)(JNIEnv*, jclass) {
    return simcard::blockBufferRequests();
}

SIMCTL(jintArray, lastBlockHeader)(JNIEnv* env, jclass) {
    simcard::BlockHeader h = simcard::lastBlockHeader();
    const int values[] = {h.type, h.length, h.width, h.height};
    return toJava(env, values, 4);
}

SIMCTL(jintArray, osdDestination)(JNIEnv* env, jclass) {
    RECT r = simcard::osdDestination();
    const int values[] = {static_cast<int>(r.left), static_cast<int>(r.top),
                          static_cast<int>(r.right), static_cast<int>(r.bottom)};
    return toJava(env, values, 4);
}

SIMCTL(jint, osdWidth)(JNIEnv*, jclass) {
    return simcard::osdWidth();
}
SIMCTL(jint, osdHeight)(JNIEnv*, jclass) {
    return simcard::osdHeight();
}

// 0xAARRGGBB values go across unchanged: a Java int holds the same bits.
namespace {
jintArray toJavaPixels(JNIEnv* env, const std::vector<uint32_t>& pixels) {
    static_assert(sizeof(jint) == sizeof(uint32_t), "one pixel per Java int");
    jintArray array = env->NewIntArray(static_cast<jsize>(pixels.size()));
    if (array && !pixels.empty())
        env->SetIntArrayRegion(array, 0, static_cast<jsize>(pixels.size()),
                               reinterpret_cast<const jint*>(pixels.data()));
    return array;
}
} // namespace

SIMCTL(jintArray, osdPixels)(JNIEnv* env, jclass) {
    return toJavaPixels(env, simcard::osdPixels());
}
SIMCTL(jintArray, osdBlockPixels)(JNIEnv* env, jclass) {
    return toJavaPixels(env, simcard::osdBlockPixels());
}

SIMCTL(void, setSnapshotFolder)(JNIEnv* env, jclass, jstring folder) {
    simcard::setSnapshotFolder(toStd(env, folder));
}
SIMCTL(jint, snapshotsWritten)(JNIEnv*, jclass) {
    return simcard::snapshotsWritten();
}
SIMCTL(jboolean, writeOsdPng)(JNIEnv* env, jclass, jstring path) {
    return simcard::writeOsdPng(toStd(env, path)) ? JNI_TRUE : JNI_FALSE;
}
SIMCTL(void, setProfileText)(JNIEnv* env, jclass, jstring text) {
    simcard::setProfileText(toStd(env, text));
}
SIMCTL(jstring, profileValue)(JNIEnv* env, jclass, jstring section, jstring key) {
    std::string value;
    if (!simcard::profileValue(toStd(env, section), toStd(env, key), &value))
        return nullptr;
    return toJava(env, value);
}
SIMCTL(void, resetCard)(JNIEnv*, jclass) {
    simcard::reset();
}

// ---- The screen -----------------------------------------------------------------

// What the card's output shows, as a SimControl.Screen; also written as PNG
// to `path` unless it is null.
SIMCTL(jobject, screen)(JNIEnv* env, jclass, jstring path) {
    simcard::Screen s;
    bool written = false;
    if (path)
        written = simcard::writeScreenPng(toStd(env, path), &s);
    else
        s = simcard::screen();
    jclass type = env->FindClass("org/quencommunity/tovix/sim/SimControl$Screen");
    if (!type)
        return nullptr;
    jmethodID make = env->GetMethodID(
        type, "<init>", "(II[I[IZLjava/lang/String;Ljava/lang/String;Ljava/lang/String;DDZ)V");
    if (!make)
        return nullptr;
    jintArray pixels = env->NewIntArray(static_cast<jsize>(s.pixels.size()));
    if (!pixels)
        return nullptr;
    if (!s.pixels.empty())
        env->SetIntArrayRegion(pixels, 0, static_cast<jsize>(s.pixels.size()),
                               reinterpret_cast<const jint*>(s.pixels.data()));
    const int area[4] = {static_cast<int>(s.videoArea.left), static_cast<int>(s.videoArea.top),
                         static_cast<int>(s.videoArea.right), static_cast<int>(s.videoArea.bottom)};
    jintArray videoArea = toJava(env, area, 4);
    jstring mode = toJava(env, s.mode);
    jstring note = toJava(env, s.note);
    jstring file = toJava(env, s.file);
    if (!videoArea || !mode || !note || !file)
        return nullptr;
    return env->NewObject(type, make, s.width, s.height, pixels, videoArea,
                          s.picture ? JNI_TRUE : JNI_FALSE, mode, note, file, s.position,
                          s.pictureTime, written ? JNI_TRUE : JNI_FALSE);
}

// ---- The graph ------------------------------------------------------------------

SIMCTL(void, setManualClock)(JNIEnv*, jclass, jboolean on) {
    simctl::setManualClock(on != JNI_FALSE);
}
SIMCTL(void, advanceClock)(JNIEnv*, jclass, jlong ms) {
    simctl::advanceClock(static_cast<long>(ms));
}
SIMCTL(jboolean, graphAlive)(JNIEnv*, jclass) {
    return simctl::graphAlive() ? JNI_TRUE : JNI_FALSE;
}
SIMCTL(jint, graphState)(JNIEnv*, jclass) {
    return simctl::graphState();
}
SIMCTL(jobjectArray, graphFilterNames)(JNIEnv* env, jclass) {
    return toJava(env, simctl::graphFilterNames());
}
SIMCTL(jobjectArray, graphTrace)(JNIEnv* env, jclass) {
    return toJava(env, simctl::graphTrace());
}
SIMCTL(jint, graphPendingEvents)(JNIEnv*, jclass) {
    return simctl::graphPendingEvents();
}

SIMCTL(jobjectArray, renderOutcomes)(JNIEnv* env, jclass) {
    std::vector<std::string> lines;
    for (const simctl::RenderOutcome& o : simctl::renderOutcomes()) {
        char result[16];
        snprintf(result, sizeof result, "%08X", static_cast<unsigned>(o.result));
        lines.push_back(o.file + " result=" + result + " streams=" + std::to_string(o.streams) +
                        " rendered=" + std::to_string(o.rendered));
    }
    return toJava(env, lines);
}
