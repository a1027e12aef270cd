// The one table of the natives a program looks up. The argument bytes of
// each stdcall name follow from the member's type, as the virtual machine
// derives them from the Java signature: every argument takes a multiple of
// four bytes on the 32-bit stack, JNIEnv* and jclass included.
#include "loaded_natives.h"

#include <type_traits>

namespace {

template <typename T> constexpr int stackBytes() {
    return sizeof(T) <= 4 ? 4 : static_cast<int>((sizeof(T) + 3) / 4 * 4);
}

// Pointers and handles are 4 bytes on the 32-bit machine whatever they are here.
template <typename T> constexpr int stackBytes32() {
    return std::is_pointer<T>::value ? 4 : stackBytes<T>();
}

template <typename R, typename... A> constexpr int argumentBytes(R(JNICALL*)(A...)) {
    return (0 + ... + stackBytes32<A>());
}

template <typename F> NativeSlot slot(const char* name, F* member) {
    return NativeSlot{name, argumentBytes(*member), reinterpret_cast<void**>(member)};
}

} // namespace

bool loadSessionNatives(const std::string& folder, SessionNatives* n, std::string* error) {
    NativeSlot slots[] = {
        slot("openOSD", &n->openOSD),
        slot("closeOSD", &n->closeOSD),
        slot("updateOSD", &n->updateOSD),
        slot("load", &n->load),
        slot("free", &n->free),
        slot("inactiveFile", &n->inactiveFile),
        slot("play", &n->play),
        slot("pause", &n->pause),
        slot("stop", &n->stop),
        slot("getState", &n->getState),
        slot("getDurationMillis", &n->getDurationMillis),
        slot("getMediaTimeMillis", &n->getMediaTimeMillis),
        slot("seek", &n->seek),
        slot("getPlaybackRate", &n->getPlaybackRate),
        slot("setPlaybackRate", &n->setPlaybackRate),
        slot("setVolume", &n->setVolume),
        slot("getVolume", &n->getVolume),
        slot("setMute", &n->setMute),
        slot("getMute", &n->getMute),
        slot("setVideoRectangles", &n->setVideoRectangles),
        slot("getVideoWidth", &n->getVideoWidth),
        slot("getVideoHeight", &n->getVideoHeight),
    };
    return loadNatives(folder, slots, static_cast<int>(sizeof slots / sizeof slots[0]), error);
}

// The counts against the DLL's export names of a few natives of each shape.
static_assert(argumentBytes(decltype(SessionNatives::openOSD){}) == 8, "openOSD@8");
static_assert(argumentBytes(decltype(SessionNatives::updateOSD){}) == 52, "updateOSD@52");
static_assert(argumentBytes(decltype(SessionNatives::load){}) == 40, "load@40");
static_assert(argumentBytes(decltype(SessionNatives::seek){}) == 16, "seek@16");
static_assert(argumentBytes(decltype(SessionNatives::setVolume){}) == 12, "setVolume@12");
static_assert(argumentBytes(decltype(SessionNatives::setPlaybackRate){}) == 12,
              "setPlaybackRate@12");
