// The decoder filter, its output interfaces, and the card's output modes
// configured from the host's settings.
#pragma once

#include "../card/card_interfaces.h"
#include "../platform/exports.h"
#include "../platform/platform.h"

// Marks an output-mode value that is not configured, or not captured yet.
const int kUnsetMode = static_cast<int>(0xDEADBEEF);
// The decoder filter and the OSD object are fetched this many times; the
// last one is used.
const int kBoardOrdinal = 1;

extern "C" TOVIX_EXPORT const int kDefaultWidth;
extern "C" TOVIX_EXPORT const int kDefaultHeight;
extern "C" TOVIX_EXPORT int gWidth;
extern "C" TOVIX_EXPORT int gHeight;

extern IBaseFilter* pDecoderFilter;
extern ITvVgaOutput3* pTvVgaOutput;
extern IAudioOutput* pAudioOutput;
extern IREALmagicProfile* pRmProfile;

// The screen size the output mode gives (gWidth x gHeight), for the other
// subsystems.
struct ScreenSize {
    int width;
    int height;
};
ScreenSize screenSize();

// For tests and fuzzers: the settings unread, the screen size and the
// captured flags word as at load. Holds no reference: the decoder filter and
// its interfaces must have been released (closeOSD) first.
void resetOutputModes();

// The decoder filter, borrowed: no reference is added for the caller.
IBaseFilter* decoderFilter();
// The graph's own video window, lent by the player while it holds one (null
// when it lets it go): the card shows the video, and setWindowProperties
// keeps that window hidden.
void setGraphVideoWindow(IVideoWindow* window);

extern "C" TOVIX_EXPORT int setupModes(JNIEnv* env, jclass cls);
extern "C" TOVIX_EXPORT int createDecoderFilter();
extern "C" TOVIX_EXPORT void releaseDecoderFilter();
extern "C" TOVIX_EXPORT int getDecoderInterfaces();
extern "C" TOVIX_EXPORT void releaseDecoderInterfaces();
extern "C" TOVIX_EXPORT void setWindowProperties();
extern "C" TOVIX_EXPORT void resetWindowProperties();
extern "C" TOVIX_EXPORT void determineDimensions();
// False when the profile holds no description of the mode that parses (the
// screen size is then left as it was); true otherwise, also without a profile.
bool lookupWidthAndHeight(int mode, const char* section, int* width, int* height);
extern "C" TOVIX_EXPORT void setVga();
extern "C" TOVIX_EXPORT void setTv();
