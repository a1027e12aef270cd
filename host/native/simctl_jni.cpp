// JNI bindings of the simulated world's control API, for the Java tests and
// the demo: org.quencommunity.tovix.sim.SimControl. Not part of the library;
// it is loaded beside it and shares the one libtovixsim.so of the process.
#include "sim/control.h"

#include <jni.h>

#include <string>
#include <vector>

#define SIMCTL(result, name) \
    extern "C" JNIEXPORT result JNICALL Java_org_quencommunity_tovix_sim_SimControl_##name

namespace {

// A Java string's characters as a std::string, given back at once.
std::string toStd(JNIEnv* env, jstring text) {
    if (!text)
        return std::string();
    const char* chars = env->GetStringUTFChars(text, nullptr);
    if (!chars)
        return std::string();
    std::string copy(chars);
    env->ReleaseStringUTFChars(text, chars);
    return copy;
}

jobjectArray toJava(JNIEnv* env, const std::vector<std::string>& lines) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass)
        return nullptr;
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(lines.size()), stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    if (!array)
        return nullptr;
    for (size_t i = 0; i < lines.size(); i++) {
        jstring line = env->NewStringUTF(lines[i].c_str());
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
    return env->NewStringUTF(simctl::describeLiveObjects().c_str());
}

SIMCTL(jlong, objectsCreated)(JNIEnv*, jclass) { return simctl::objectsCreated(); }

// ---- Fault injection --------------------------------------------------------

SIMCTL(void, armFault)(JNIEnv* env, jclass, jstring point, jint hr, jint nth) {
    simctl::armFault(toStd(env, point), static_cast<HRESULT>(hr), nth);
}

SIMCTL(void, armNull)(JNIEnv* env, jclass, jstring point, jint nth, jint hr) {
    simctl::armNull(toStd(env, point), nth, static_cast<HRESULT>(hr));
}

SIMCTL(void, clearFaults)(JNIEnv*, jclass) { simctl::clearFaults(); }

SIMCTL(jobjectArray, pointsReached)(JNIEnv* env, jclass) {
    return toJava(env, simctl::pointsReached());
}

SIMCTL(void, resetPointsReached)(JNIEnv*, jclass) { simctl::resetPointsReached(); }

SIMCTL(jint, callCount)(JNIEnv* env, jclass, jstring point) {
    return simctl::callCount(toStd(env, point));
}

// ---- COM runtime ------------------------------------------------------------

SIMCTL(jint, comInitDepth)(JNIEnv*, jclass) { return simctl::comInitDepth(); }
SIMCTL(jlong, coInitializeCalls)(JNIEnv*, jclass) { return simctl::coInitializeCalls(); }
SIMCTL(jlong, coUninitializeCalls)(JNIEnv*, jclass) { return simctl::coUninitializeCalls(); }

// ---- The world's trace ------------------------------------------------------

SIMCTL(jobjectArray, traceLines)(JNIEnv* env, jclass) { return toJava(env, simctl::traceLines()); }
SIMCTL(void, clearTrace)(JNIEnv*, jclass) { simctl::clearTrace(); }
SIMCTL(void, reset)(JNIEnv*, jclass) { simctl::reset(); }

// ---- What this build offers -------------------------------------------------

// The groups of controls compiled in: the card's and the graph's join as
// their control headers land, and Java asks before it calls them.
SIMCTL(jobjectArray, features)(JNIEnv* env, jclass) {
    std::vector<std::string> features{"ledger", "faults", "com", "trace"};
    return toJava(env, features);
}
