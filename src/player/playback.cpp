// Placeholder until playback control lands.
#include "playback.h"

int gPlaybackState = 0;

void updateState() {}
int getState() { return gPlaybackState; }
int play() { return 0; }
int pause() { return 0; }
int stop() { return 0; }
HRESULT step(int) { return E_FAIL; }
double getDuration() { return 0.0; }
double getCurrentPosition() { return 0.0; }
void setCurrentPosition(double) {}
double getRate() { return 0.0; }
double setRate(float) { return 0.0; }
