// setupModes with any texts for the seven output-mode settings, read
// through the fake host's getProperty, compared with what each text must
// encode to. The settings are read once per process, so each input starts
// from the unread state.
#include "log_trim.h"
#include "settings.h"

#include "src/card/modes.h"
#include "src/log/log.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

struct Code {
    const char* text;
    int code;
};

bool encode(const Code* codes, size_t count, const std::string& text, int* code) {
    for (size_t i = 0; i < count; i++) {
        if (text == codes[i].text) {
            *code = codes[i].code;
            return true;
        }
    }
    return false;
}

// A decimal integer that fills the whole text, clamped to 32 bits.
bool integer(const std::string& text, int* value) {
    const char* start = text.c_str();
    const char* p = start;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    if (*p == '+' || *p == '-')
        p++;
    if (*p < '0' || *p > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(start, &end, 10);
    if (*end != '\0')
        return false;
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    *value = static_cast<int>(v);
    return true;
}

const Code kOutputs[] = {{"TV", 0x1}, {"VGA", 0x0}, {"HDTV", 0x20}};
const Code kStandards[] = {
    {"NTSC", 0x0}, {"PAL", 0x2}, {"PAL60", 0x8}, {"PALM", 0xA}, {"USETV", 0x10}};
const Code kConnectors[] = {{"COMPOSITE", 0x0}, {"YUV", 0x80}, {"RGB", 0xC0}, {"SCART", 0x200}};
const Code kAudios[] = {{"STEREO", 0}, {"SPDIF", 2}};
const Code kAspects[] = {{"ASIS", 0}, {"PAN_SCAN", 1}, {"LETTER_BOX", 2}, {"WIDE", 3}};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The plug-in log open, so that every message with a setting's text in
    // it is really written.
    fakejni::FakeJni jni;
    openLogs(jni.env(), jni.hostClass());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::trimLog();
    fuzzinput::Input in(data, size);
    fakejni::FakeJni jni;
    fuzzsettings::Setting settings[] = {
        {"tovix/output", "TV", "", 0},
        {"tovix/standard", "USETV", "", 0},
        {"tovix/connector", "COMPOSITE", "", 0},
        {"tovix/audio", "STEREO", "", 0},
        {"tovix/hdmode", "0", "", 0},
        {"tovix/vgamode", "0", "", 0},
        {"tovix/aspect", "LETTER_BOX", "", 0},
    };
    const bool methodPresent = fuzzsettings::apply(in, jni, settings, 300);

    gOutputFlags = gHdMode = gVgaMode = kUnsetMode;
    gAspect = gAudioOutput = 0;
    gAspectSet = gAudioSet = false;
    setupModes(jni.env(), jni.hostClass());
    fuzzsettings::checkJni(jni);

    std::string v[7];
    for (int i = 0; i < 7; i++)
        v[i] = settings[i].expected(128, methodPresent);
    int flags = 0;
    int code = 0;
    if (encode(kOutputs, 3, v[0], &code))
        flags = code;
    if (encode(kStandards, 5, v[1], &code))
        flags |= code;
    if (encode(kConnectors, 4, v[2], &code))
        flags |= code;
    fuzzinput::check(gOutputFlags == flags, "output flags");
    int audio = 0;
    encode(kAudios, 2, v[3], &audio);
    fuzzinput::check(gAudioSet && gAudioOutput == audio, "audio output");
    int mode = kUnsetMode;
    int expectedHd = integer(v[4], &mode) ? mode : kUnsetMode;
    fuzzinput::check(gHdMode == expectedHd, "HD mode");
    mode = kUnsetMode;
    int expectedVga = integer(v[5], &mode) ? mode : kUnsetMode;
    fuzzinput::check(gVgaMode == expectedVga, "VGA mode");
    int aspect = 0;
    encode(kAspects, 4, v[6], &aspect);
    fuzzinput::check(gAspectSet && gAspect == aspect, "aspect");

    // The screen size follows without a profile: the TV size, or the
    // default with its message.
    determineDimensions();
    fuzzinput::check(gWidth == 720 && gHeight == 480, "screen size without a profile");
    return 0;
}
