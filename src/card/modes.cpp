// The card's output modes: the seven host settings read once per process,
// the decoder filter and its three output interfaces, applying the settings
// to the card, and the screen size they give.
#include "modes.h"

#include "../log/com_helpers.h"
#include "../log/log.h"
#include "../log/properties.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" const int kDefaultWidth = 720;
extern "C" const int kDefaultHeight = 480;
int gWidth = 720;
int gHeight = 480;

IBaseFilter* pDecoderFilter = nullptr;
ITvVgaOutput3* pTvVgaOutput = nullptr;
IAudioOutput* pAudioOutput = nullptr;
IREALmagicProfile* pRmProfile = nullptr;

namespace {

// The output configuration read from the host's settings, once per process,
// and the card's flags word as first found, which the closing restores.
int gOutputFlags = kUnsetMode;
int gHdMode = kUnsetMode;
int gVgaMode = kUnsetMode;
int gAspect = 0;
bool gAspectSet = false;
int gAudioOutput = 0;
bool gAudioSet = false;
int gSavedOutputFlags = kUnsetMode;

// The graph's own video window while the player holds one; the player's
// reference, not one of ours.
IVideoWindow* gGraphVideoWindow = nullptr;

const int kSettingSize = 128;
const int kDescriptionSize = 128;

struct Code {
    const char* text;
    int code;
};

const Code kOutputs[] = {{"TV", 0x1}, {"VGA", 0x0}, {"HDTV", 0x20}};
const Code kStandards[] = {
    {"NTSC", 0x0}, {"PAL", 0x2}, {"PAL60", 0x8}, {"PALM", 0xA}, {"USETV", 0x10}};
const Code kConnectors[] = {{"COMPOSITE", 0x0}, {"YUV", 0x80}, {"RGB", 0xC0}, {"SCART", 0x200}};
const Code kAudios[] = {{"STEREO", 0}, {"SPDIF", 2}};
const Code kAspects[] = {{"ASIS", 0}, {"PAN_SCAN", 1}, {"LETTER_BOX", 2}, {"WIDE", 3}};

// The code of a setting text; texts match only byte for byte, whole.
template <size_t N> bool encode(const Code (&codes)[N], const char* text, int* code) {
    for (const Code& c : codes) {
        if (strcmp(c.text, text) == 0) {
            *code = c.code;
            return true;
        }
    }
    return false;
}

// Reads a decimal integer as "%d" does: optional leading white space, an
// optional sign, at least one digit. Answers the end of the digits, or null
// when there are none. A magnitude far beyond 32 bits is held just outside
// an int's range, so that the caller sees it is out of range and nothing
// overflows on the way.
const char* scanDecimal(const char* text, int64_t* value) {
    const char* p = text;
    while (isspace(static_cast<unsigned char>(*p)))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!isdigit(static_cast<unsigned char>(*p)))
        return nullptr;
    int64_t magnitude = 0;
    const int64_t limit = static_cast<int64_t>(INT32_MAX) + 2;
    for (; isdigit(static_cast<unsigned char>(*p)); p++) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit)
            magnitude = limit;
    }
    *value = negative ? -magnitude : magnitude;
    return p;
}

bool fitsInt(int64_t value) {
    return value >= INT32_MIN && value <= INT32_MAX;
}

// A decimal integer filling the whole text. Values beyond 32 bits are
// clamped to its ends.
bool parseInteger(const char* text, int* value) {
    int64_t wide = 0;
    const char* end = scanDecimal(text, &wide);
    if (!end || *end != '\0')
        return false;
    if (wide > INT32_MAX)
        wide = INT32_MAX;
    if (wide < INT32_MIN)
        wide = INT32_MIN;
    *value = static_cast<int>(wide);
    return true;
}

// A mode description: a name of at most 64 characters, then the width and
// the height, each an int. A number beyond an int makes the description
// one that does not parse.
bool parseModeDescription(const char* description, char (&name)[65], int* width, int* height) {
    int nameEnd = 0;
    if (sscanf(description, "%64s%n", name, &nameEnd) != 1)
        return false;
    int64_t w = 0;
    int64_t h = 0;
    const char* p = scanDecimal(description + nameEnd, &w);
    if (!p || !scanDecimal(p, &h) || !fitsInt(w) || !fitsInt(h))
        return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

// Reads a card value and writes `wanted` when it differs. A failed read
// leaves the card's value unknown; the configured value is written then, so
// that the card does not stay in a mode nobody asked for.
template <class Reader, class Writer> void applyValue(int wanted, Reader read, Writer write) {
    int current = 0;
    HRESULT hr = read(&current);
    if (FAILED(hr) || current != wanted)
        write(wanted);
}

// setTv and setVga: the whole flags word replaced by `target`.
void forceOutput(int target, const char* tag) {
    if (!pTvVgaOutput)
        return;
    int current = 0;
    HRESULT hr = pTvVgaOutput->GetOutputFlags(&current);
    if (FAILED(hr))
        logError(hr, tag, "Failed to get tv output mode");
    if (FAILED(hr) || current != target) {
        hr = pTvVgaOutput->SetOutputFlags(target);
        if (FAILED(hr))
            logError(hr, tag, "Failed to set tv output mode");
    }
}

} // namespace

int setupModes(JNIEnv* env, jclass cls) {
    if (gOutputFlags != kUnsetMode)
        return 0;

    char output[kSettingSize];
    char standard[kSettingSize];
    char connector[kSettingSize];
    char audio[kSettingSize];
    char hdMode[kSettingSize];
    char vgaMode[kSettingSize];
    char aspect[kSettingSize];
    getProperty(env, cls, "tovix/output", "TV", output, kSettingSize);
    getProperty(env, cls, "tovix/standard", "USETV", standard, kSettingSize);
    getProperty(env, cls, "tovix/connector", "COMPOSITE", connector, kSettingSize);
    getProperty(env, cls, "tovix/audio", "STEREO", audio, kSettingSize);
    getProperty(env, cls, "tovix/hdmode", "0", hdMode, kSettingSize);
    getProperty(env, cls, "tovix/vgamode", "0", vgaMode, kSettingSize);
    getProperty(env, cls, "tovix/aspect", "LETTER_BOX", aspect, kSettingSize);

    const char* tag = "setupModes";
    int code = 0;
    gOutputFlags = 0;
    if (encode(kOutputs, output, &code))
        gOutputFlags = code;
    else
        logMessage(tag, "Unknown tovix/output mode '%s'", output);

    if (encode(kStandards, standard, &code))
        gOutputFlags |= code;
    else
        logMessage(tag, "Unknown tovix/standard mode '%s'", standard);

    if (encode(kConnectors, connector, &code))
        gOutputFlags |= code;
    else
        logMessage(tag, "Unknown tovix/connector mode '%s'", connector);

    if (encode(kAudios, audio, &code))
        gAudioOutput = code;
    else
        logMessage(tag, "Unknown tovix/audio mode '%s'", audio);
    gAudioSet = true;

    int mode = 0;
    if (parseInteger(hdMode, &mode))
        gHdMode = mode;
    else
        logMessage(tag, "tovix/hdmode must be an integer value");

    if (parseInteger(vgaMode, &mode))
        gVgaMode = mode;
    else
        logMessage(tag, "tovix/vgamode must be an integer value");

    if (encode(kAspects, aspect, &code))
        gAspect = code;
    else
        logMessage(tag, "Unknown tovix/aspect mode '%s'", aspect);
    gAspectSet = true;
    return 0;
}

void resetOutputModes() {
    gWidth = kDefaultWidth;
    gHeight = kDefaultHeight;
    pDecoderFilter = nullptr;
    pTvVgaOutput = nullptr;
    pAudioOutput = nullptr;
    pRmProfile = nullptr;
    gOutputFlags = kUnsetMode;
    gHdMode = kUnsetMode;
    gVgaMode = kUnsetMode;
    gAspect = 0;
    gAspectSet = false;
    gAudioOutput = 0;
    gAudioSet = false;
    gSavedOutputFlags = kUnsetMode;
    gGraphVideoWindow = nullptr;
}

ScreenSize screenSize() {
    return {gWidth, gHeight};
}

IBaseFilter* decoderFilter() {
    return pDecoderFilter;
}

void setGraphVideoWindow(IVideoWindow* window) {
    gGraphVideoWindow = window;
}

int createDecoderFilter() {
    if (pDecoderFilter)
        return 0;
    HRESULT hr = E_FAIL;
    for (int i = 0; i < kBoardOrdinal; i++) {
        releaseAndClear(pDecoderFilter);
        hr = CoCreateInstance(CLSID_TovixDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&pDecoderFilter));
        // A failed creation hands out nothing, whatever the server left in
        // the out pointer.
        if (FAILED(hr))
            pDecoderFilter = nullptr;
    }
    if (!pDecoderFilter) {
        logError(failureCode(hr), "buildGraph", "Cannot create decoder filter!!!");
        return 1;
    }
    return 0;
}

void releaseDecoderFilter() {
    if (pDecoderFilter) {
        ULONG left = pDecoderFilter->Release();
        logMessage("releaseDecoderFilter", "Decoder filter released with %d references left",
                   static_cast<int>(left));
    }
    pDecoderFilter = nullptr;
}

int getDecoderInterfaces() {
    createDecoderFilter();
    if (!pDecoderFilter)
        return 0;
    const char* tag = "queryDecoderInterface";
    const char* format = "Failed to create interface from sigma decoder: %s\n";
    if (!pTvVgaOutput && FAILED(pDecoderFilter->QueryInterface(
                             IID_ITvVgaOutput3, reinterpret_cast<void**>(&pTvVgaOutput)))) {
        pTvVgaOutput = nullptr;
        logMessage(tag, format, "ITvVgaOutput3");
    }
    if (!pAudioOutput && FAILED(pDecoderFilter->QueryInterface(
                             IID_IAudioOutput, reinterpret_cast<void**>(&pAudioOutput)))) {
        pAudioOutput = nullptr;
        logMessage(tag, format, "IAudioOutput");
    }
    if (!pRmProfile && FAILED(pDecoderFilter->QueryInterface(
                           IID_IREALmagicProfile, reinterpret_cast<void**>(&pRmProfile)))) {
        pRmProfile = nullptr;
        logMessage(tag, format, "IREALmagicProfile");
    }
    return 0;
}

void releaseDecoderInterfaces() {
    releaseAndClear(pTvVgaOutput);
    releaseAndClear(pAudioOutput);
    releaseAndClear(pRmProfile);
    releaseDecoderFilter();
}

void setWindowProperties() {
    // The card shows the video; the graph's own window must stay hidden.
    if (gGraphVideoWindow) {
        gGraphVideoWindow->put_AutoShow(OAFALSE);
        gGraphVideoWindow->put_Visible(OAFALSE);
    }
    if (pTvVgaOutput) {
        ITvVgaOutput3* out = pTvVgaOutput;
        if (gSavedOutputFlags == kUnsetMode) {
            int found = 0;
            if (SUCCEEDED(out->GetOutputFlags(&found)))
                gSavedOutputFlags = found;
        }
        if (gOutputFlags != kUnsetMode)
            applyValue(
                gOutputFlags, [out](int* v) { return out->GetOutputFlags(v); },
                [out](int v) { return out->SetOutputFlags(v); });
        if (gHdMode != kUnsetMode)
            applyValue(
                gHdMode, [out](int* v) { return out->GetHdMode(v); },
                [out](int v) { return out->SetHdMode(v); });
        if (gVgaMode != kUnsetMode)
            applyValue(
                gVgaMode, [out](int* v) { return out->GetVgaMode(v); },
                [out](int v) { return out->SetVgaMode(v); });
        if (gAspectSet)
            applyValue(
                gAspect, [out](int* v) { return out->GetAspect(v); },
                [out](int v) { return out->SetAspect(v); });
    }
    if (pAudioOutput && gAudioSet) {
        IAudioOutput* audio = pAudioOutput;
        applyValue(
            gAudioOutput, [audio](int* v) { return audio->GetAudioOutput(v); },
            [audio](int v) { return audio->SetAudioOutput(v); });
    }
}

void resetWindowProperties() {
    if (pTvVgaOutput && gSavedOutputFlags != kUnsetMode)
        pTvVgaOutput->SetOutputFlags(gSavedOutputFlags);
}

// The line before this one quotes the description only, empty for a mode the
// profile does not hold; this one names the setting behind it.
static void logModeNotFound(const char* key, int mode, const char* section) {
    logMessage("determineDimensions",
               "%s %d has no mode description in section %s of the card's profile", key, mode,
               section);
}

void determineDimensions() {
    if (gOutputFlags & 0x1) {
        gWidth = kDefaultWidth;
        gHeight = kDefaultHeight;
    } else if (gOutputFlags & 0x20) {
        if (!lookupWidthAndHeight(gHdMode, "HDTV", &gWidth, &gHeight))
            logModeNotFound("tovix/hdmode", gHdMode, "HDTV");
    } else {
        if (!lookupWidthAndHeight(gVgaMode, "Progressive", &gWidth, &gHeight))
            logModeNotFound("tovix/vgamode", gVgaMode, "Progressive");
    }
}

bool lookupWidthAndHeight(int mode, const char* section, int* width, int* height) {
    const char* tag = "lookupWidthAndHeight";
    if (!pRmProfile) {
        *width = kDefaultWidth;
        *height = kDefaultHeight;
        logMessage(tag, "no RM profiler.  Using default width and height.");
        return true;
    }
    // Room for any int: a mode outside the card's keys (such as one never
    // configured) gives a key the profile does not hold, and so the "could
    // not parse" line below.
    char key[16];
    snprintf(key, sizeof key, "mode%d", mode);
    char description[kDescriptionSize] = "";
    pRmProfile->ReadProfileString(section, key, "", description, kDescriptionSize);
    // The card terminates what it writes; this keeps a misbehaving one from
    // sending the parse past the buffer.
    description[kDescriptionSize - 1] = '\0';
    char name[65];
    int w = 0;
    int h = 0;
    if (parseModeDescription(description, name, &w, &h)) {
        *width = w;
        *height = h;
        logMessage(tag, "Found dimenstions %dx%d with description %s", w, h, name);
        return true;
    }
    logMessage(tag, "Could not parse mode description: %s", description);
    return false;
}

void setVga() {
    forceOutput(0, "setVga");
}
void setTv() {
    forceOutput(1, "setTv");
}
