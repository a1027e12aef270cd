// Placeholder until audio level and video geometry land.
#include "audio_video.h"

#include "../card/modes.h"

bool gMute = false;
float gVolume = 0.0f;
int gClosedCaptioning = 0;

float volLogToLin(int) { return 1.0f; }
int volLinToLog(float) { return 0; }
int getMute() { return gMute ? 1 : 0; }
HRESULT setMute(bool mute) {
    gMute = mute;
    return mute ? 1 : 0;
}
float getVolume() { return gVolume; }
float setVolume(float level) { return gVolume = level; }
int getCC() { return gClosedCaptioning; }
int setCC(int state) {
    gClosedCaptioning = state;
    return 1;
}
void setDestination(int, int, int, int) {}
int videoWidth() { return kDefaultWidth; }
int videoHeight() { return kDefaultHeight; }
