// setupModes with any texts for the seven output-mode settings, read
// through the fake host's getProperty and applied to the simulated card.
// The oracle reads the card's registers back by the layout of the flags
// word (bit 0 TV, bit 5 HDTV; bits 1 and 3 PAL and PAL60, both PALM, bit 4
// USETV; bits 6 and 7 RGB, bit 7 alone YUV, bit 9 SCART), not through a
// copy of the library's table, and names what the card holds; that name
// must be the setting's text, or the one whose code is zero when the text
// is not accepted. The settings are read once per process, so each input
// starts from the unread state.
#include "log_trim.h"
#include "settings.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "src/card/modes.h"
#include "src/log/log.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Registers no setting gives, so that a value left unwritten shows.
const simcard::Registers kUnlikely = {0x1000, 9, 77, 77, 9};

// The texts each setting accepts (the mode numbers take any integer).
const std::vector<std::vector<const char*>> kAccepted = {
    {"TV", "VGA", "HDTV"},
    {"NTSC", "PAL", "PAL60", "PALM", "USETV"},
    {"COMPOSITE", "YUV", "RGB", "SCART"},
    {"STEREO", "SPDIF"},
    {},
    {},
    {"ASIS", "PAN_SCAN", "LETTER_BOX", "WIDE"}};

// The text itself when setting `i` accepts it, else `whenNot`.
std::string acceptedOr(const std::string& text, size_t i, const char* whenNot) {
    for (const char* a : kAccepted[i])
        if (text == a)
            return text;
    return whenNot;
}

std::string outputKind(int flags) {
    if ((flags & 0x21) == 0x21)
        return "TV and HDTV";
    return (flags & 0x1) ? "TV" : (flags & 0x20) ? "HDTV" : "VGA";
}

std::string standard(int flags) {
    switch (flags & 0x1A) {
    case 0x0:
        return "NTSC";
    case 0x2:
        return "PAL";
    case 0x8:
        return "PAL60";
    case 0xA:
        return "PALM";
    case 0x10:
        return "USETV";
    default:
        return "bits " + std::to_string(flags & 0x1A);
    }
}

std::string connector(int flags) {
    switch (flags & 0x2C0) {
    case 0x0:
        return "COMPOSITE";
    case 0x80:
        return "YUV";
    case 0xC0:
        return "RGB";
    case 0x200:
        return "SCART";
    default:
        return "bits " + std::to_string(flags & 0x2C0);
    }
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

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The plug-in log open, so that every message with a setting's text in
    // it is really written; COM up for the card's decoder filter.
    fakejni::FakeJni jni;
    openLogs(jni.env(), jni.hostClass());
    CoInitialize(nullptr);
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
    // Half the time a setting the host answers holds one of its accepted
    // texts, which random bytes would seldom spell.
    for (size_t i = 0; i < kAccepted.size(); i++) {
        const uint8_t pick = in.byte();
        if (settings[i].how == 0 && !kAccepted[i].empty() && (pick & 1)) {
            settings[i].text = kAccepted[i][(pick >> 1) % kAccepted[i].size()];
            jni.setProperty(settings[i].key, settings[i].text);
        }
    }

    resetOutputModes();
    setupModes(jni.env(), jni.hostClass());
    fuzzsettings::checkJni(jni);
    getDecoderInterfaces();
    simcard::setRegisters(kUnlikely);
    setWindowProperties();
    const simcard::Registers card = simcard::registers();

    std::string v[7];
    for (int i = 0; i < 7; i++)
        v[i] = settings[i].expected(128, methodPresent);
    fuzzinput::check((card.outputFlags & ~0x2FB) == 0, "output flags: bits outside the layout");
    fuzzinput::check(outputKind(card.outputFlags) == acceptedOr(v[0], 0, "VGA"), "output kind");
    fuzzinput::check(standard(card.outputFlags) == acceptedOr(v[1], 1, "NTSC"), "standard");
    fuzzinput::check(connector(card.outputFlags) == acceptedOr(v[2], 2, "COMPOSITE"), "connector");
    const char* audios[] = {"STEREO", "?", "SPDIF"};
    fuzzinput::check(card.audioOutput >= 0 && card.audioOutput <= 2 && card.audioOutput != 1 &&
                         audios[card.audioOutput] == acceptedOr(v[3], 3, "STEREO"),
                     "audio output");
    int mode = 0;
    fuzzinput::check(card.hdMode == (integer(v[4], &mode) ? mode : kUnlikely.hdMode), "HD mode");
    fuzzinput::check(card.vgaMode == (integer(v[5], &mode) ? mode : kUnlikely.vgaMode), "VGA mode");
    const char* aspects[] = {"ASIS", "PAN_SCAN", "LETTER_BOX", "WIDE"};
    fuzzinput::check(card.aspect >= 0 && card.aspect <= 3 &&
                         aspects[card.aspect] == acceptedOr(v[6], 6, "ASIS"),
                     "aspect");

    // The screen size follows from the output kind; without a profile it
    // is the TV size, or the default with its message.
    simctl::armFault("QueryInterface:DecoderFilter:IREALmagicProfile", E_NOINTERFACE);
    releaseDecoderInterfaces();
    getDecoderInterfaces();
    simctl::clearFaults();
    determineDimensions();
    fuzzinput::check(gWidth == 720 && gHeight == 480, "screen size without a profile");
    releaseDecoderInterfaces();
    return 0;
}
