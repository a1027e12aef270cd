// configPlayer with any texts for the three plug-in switches (and the host
// answering null, throwing or lacking getProperty), and getProperty itself
// into a buffer of any size: the buffer always ends in a zero byte and
// nothing is written past it.
#include "log_trim.h"
#include "settings.h"

#include "src/log/log.h"
#include "src/log/properties.h"

#include <cctype>
#include <memory>

namespace {

bool switchOn(const std::string& value) {
    std::string lower;
    for (char c : value)
        lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return lower == "true" || lower == "yes";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fakejni::FakeJni jni;
    openLogs(jni.env(), jni.hostClass());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::trimLog();
    fuzzinput::Input in(data, size);
    fakejni::FakeJni jni;
    fuzzsettings::Setting settings[] = {
        {"tovix/stream_all_mpegs", "true", "", 0},
        {"tovix/scale_osd", "false", "", 0},
        {"tovix/verbose_log", "false", "", 0},
        {"fuzz/any", "default", "", 0},
    };
    const bool methodPresent = fuzzsettings::apply(in, jni, settings, 64);

    configPlayer(jni.env(), jni.hostClass());
    fuzzsettings::checkJni(jni);
    fuzzinput::check(gStreamAllMpegs == switchOn(settings[0].expected(12, methodPresent)),
                     "stream all MPEG files switch");
    fuzzinput::check(gScaleOSD == switchOn(settings[1].expected(12, methodPresent)),
                     "scale OSD switch");
    fuzzinput::check(gVerboseLog == switchOn(settings[2].expected(12, methodPresent)),
                     "verbose log switch");

    // Any buffer size a caller might pass, the buffer exactly that large.
    const int outSize = static_cast<int>(in.byte()) - 2;
    std::unique_ptr<char[]> out(new char[outSize > 0 ? outSize : 1]);
    getProperty(jni.env(), jni.hostClass(), "fuzz/any", "default", out.get(), outSize);
    fuzzsettings::checkJni(jni);
    if (outSize > 0) {
        std::string expected = settings[3].expected(static_cast<size_t>(outSize), methodPresent);
        fuzzinput::check(expected == out.get(), "getProperty's value");
    }
    return 0;
}
