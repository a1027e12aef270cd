// Placeholder until the output modes land: the variables with their load
// values and operations that do nothing.
#include "modes.h"

extern "C" const int kDefaultWidth = 720;
extern "C" const int kDefaultHeight = 480;
int gWidth = 720;
int gHeight = 480;
IBaseFilter* pDecoderFilter = nullptr;
ITvVgaOutput3* pTvVgaOutput = nullptr;
IAudioOutput* pAudioOutput = nullptr;
IREALmagicProfile* pRmProfile = nullptr;
int gOutputFlags = kUnsetMode;
int gHdMode = kUnsetMode;
int gVgaMode = kUnsetMode;
int gAspect = 0;
bool gAspectSet = false;
int gAudioOutput = 0;
bool gAudioSet = false;
int gSavedOutputFlags = kUnsetMode;

int setupModes(JNIEnv*, jclass) { return 0; }
int createDecoderFilter() { return 1; }
void releaseDecoderFilter() {}
int getDecoderInterfaces() { return 0; }
void releaseDecoderInterfaces() {}
void setWindowProperties() {}
void resetWindowProperties() {}
void determineDimensions() {}
void lookupWidthAndHeight(int, const char*, int*, int*) {}
void setVga() {}
void setTv() {}
