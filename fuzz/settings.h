// The host's settings as a fuzz target sets them: any text for each key, or
// the host answering null, throwing, or lacking its getProperty method.
#pragma once

#include "fake_jni.h"
#include "fuzz_input.h"

#include <string>

namespace fuzzsettings {

// What the library reads for one key.
struct Setting {
    const char* key;
    const char* defaultValue;
    std::string text; // what the host answers
    int how = 0;      // 0 the text, 1 null, 2 an exception, 3 the key unset

    // The value the library must end up with in a buffer of `size` bytes:
    // the host's text (up to its first zero byte) or the default, cut to
    // fit with its terminator.
    std::string expected(size_t size, bool methodPresent) const {
        std::string value = (methodPresent && how == 0) ? text.c_str() : defaultValue;
        return value.substr(0, size - 1);
    }
};

// Fills `settings` from the input and tells the fake host about them.
// Answers whether the host has its getProperty method.
template <size_t N>
bool apply(fuzzinput::Input& in, fakejni::FakeJni& jni, Setting (&settings)[N], size_t maxLength) {
    const uint8_t flags = in.byte();
    const bool methodPresent = (flags & 0x80) == 0;
    jni.setHasGetProperty(methodPresent);
    for (Setting& s : settings) {
        s.how = in.byte() % 8;
        if (s.how > 3)
            s.how = 0;
        s.text = in.text(maxLength);
        if (s.how == 0)
            jni.setProperty(s.key, s.text);
        else if (s.how == 1)
            jni.answerNullFor(s.key);
        else if (s.how == 2)
            jni.throwFor(s.key);
    }
    return methodPresent;
}

inline void checkJni(const fakejni::FakeJni& jni) {
    fuzzinput::check(jni.outstanding() == 0, "a string not given back");
    fuzzinput::check(jni.violations().empty(), "JNI misused");
    fuzzinput::check(!jni.exceptionPending(), "a Java exception left pending");
}

} // namespace fuzzsettings
