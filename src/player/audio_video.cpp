// Volume and mute on the graph's scale, the closed-captioning state, and the
// video's placement and size. Without an open file the settings are only
// stored; openFile puts them on the next graph.
#include "audio_video.h"

#include "../card/modes.h"
#include "../log/log.h"
#include "player.h"

#include <climits>
#include <cmath>

namespace {

// The host's settings; they outlive every graph.
bool gMute = false;
float gVolume = 0.0f;
int gClosedCaptioning = 0;

// Whether gVolume is a level the host set. Until it is, a new graph takes
// its level from the decoder.
bool gHostLevelSet = false;

// The graph's silent level; also what a level of zero or less maps to.
const LONG kSilent = -10000;
// The level a file plays at while nobody has set one: 0 on the graph's scale.
const float kFullLevel = 1.0f;

const char* yesNo(bool value) {
    return value ? "true" : "false";
}

} // namespace

float volLogToLin(int value) {
    float level = static_cast<float>(expl(0.002L * value));
    logMessage("voLogToLin", "VOLCONV: log=%i  lin=%.3f", value, level);
    return level;
}

int volLinToLog(float level) {
    int value = kSilent;
    if (level > 0.0f) {
        // ln of the largest float times 500 is far inside an int; only an
        // infinite level needs holding back from the conversion.
        long double scaled = logl(level) * 500.0L;
        value = std::isinf(scaled) ? INT_MAX : static_cast<int>(scaled);
    }
    logMessage("volLinToLog", "  lin=%.3f  log=%i", level, value);
    return value;
}

void resetAudioVideo() {
    gMute = false;
    gVolume = 0.0f;
    gClosedCaptioning = 0;
    gHostLevelSet = false;
}

int getMute() {
    return gMute ? 1 : 0;
}

HRESULT setMute(bool mute) {
    logMessage("setMute", "setting mute to %s", yesNo(mute));
    gMute = mute;
    if (!pBasicAudio)
        return gMute ? 1 : 0;
    if (gMute)
        return pBasicAudio->put_Volume(kSilent);
    return pBasicAudio->put_Volume(volLinToLog(gVolume));
}

void applyAudioToNewGraph() {
    // The decoder outlives each graph and holds the level it was last
    // given: the host's own, or the silence of a mute. Its level is read and
    // logged for every file, but taken only while the host has set none, and
    // never when it is that silence: a level nobody set is the full one.
    LONG volume = 0;
    bool read = SUCCEEDED(pBasicAudio->get_Volume(&volume));
    float decoderLevel = read ? volLogToLin(volume) : kFullLevel;
    if (!gHostLevelSet)
        gVolume = read && volume != kSilent ? decoderLevel : kFullLevel;
    setMute(gMute);
}

float getVolume() {
    if (!pBasicAudio)
        return gVolume;
    LONG work = -1;
    if (!gMute) {
        // While muted the graph holds the silent level, not the host's.
        pBasicAudio->get_Volume(&work);
        gVolume = volLogToLin(work);
    }
    logMessage("getVolume", "VOLINFO: GET => internal=%i  translated=%.3f", static_cast<int>(work),
               gVolume);
    return gVolume;
}

float setVolume(float level) {
    logMessage("setVolume", "VOLINFO: Mute status: %s", yesNo(gMute));
    logMessage("setVolume", "VOLINFO: Basic audio interface %s exist.",
               pBasicAudio ? "DOES" : "DOES NOT");
    float initial = getVolume();
    float tried = level;
    if (level < 0.0f)
        tried = 0.0f;
    else if (level > 1.0f)
        tried = 1.0f;
    gVolume = tried;
    gHostLevelSet = true;
    int work = -1;
    if (!gMute && pBasicAudio) {
        work = volLinToLog(gVolume);
        pBasicAudio->put_Volume(work);
    }
    getVolume();
    logMessage("setVolume", "VOLINFO: initial=%.3f  param=%.3f  tried=%.3f  internal=%i  got=%.3f",
               initial, level, tried, work, gVolume);
    return gVolume;
}

int getCC() {
    return gClosedCaptioning;
}

int setCC(int state) {
    gClosedCaptioning = state;
    return 1;
}

void setDestination(int left, int top, int width, int height) {
    if (!pBasicVideo) {
        logMessage("setDestination",
                   "Can not set desitination area because basic video interface is unavailable!!");
        return;
    }
    logVerbose("setDestination", "Setting destination to: %d,%d:%dx%d", left, top, width, height);
    HRESULT hr = pBasicVideo->SetDestinationPosition(left, top, width, height);
    if (FAILED(hr))
        logError(hr, "setDestination", "Failed to set destination location!!");
}

// A size the graph cannot report is answered with the default screen size,
// as when no file is open.
int videoWidth() {
    if (!pBasicVideo) {
        logMessage("TOVIXAPI", "getVideoWidth: no basic video interface!");
        return kDefaultWidth;
    }
    LONG width = kDefaultWidth;
    if (FAILED(pBasicVideo->get_VideoWidth(&width)))
        width = kDefaultWidth;
    logVerbose("getVideoWidth", "width = %d", static_cast<int>(width));
    return width;
}

int videoHeight() {
    if (!pBasicVideo) {
        logMessage("TOVIXAPI", "getVideoHeight: no basic video interface!");
        return kDefaultHeight;
    }
    LONG height = kDefaultHeight;
    if (FAILED(pBasicVideo->get_VideoHeight(&height)))
        height = kDefaultHeight;
    logVerbose("getVideoHeight", "height = %d", static_cast<int>(height));
    return height;
}
