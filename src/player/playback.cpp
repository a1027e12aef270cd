// The playback state and the transport. Graph events are never delivered to
// the library: every state-dependent call first drains the graph's queue
// without waiting and moves the state from what it finds.
#include "playback.h"

#include "../log/log.h"
#include "player.h"

namespace {

PlaybackState gPlaybackState = kStateNone;

// The shared guard of the position and rate calls: the graph is asked only
// while a clip is open and not stopped. Events are drained before each test.
bool positionAvailable(const char* tag, const char* unavailable) {
    if (!pMediaPosition) {
        logMessage(tag, "%s", unavailable);
        return false;
    }
    updateState();
    if (gPlaybackState == kStateStopped)
        return false;
    updateState();
    if (gPlaybackState == kStateNone)
        return false;
    return true;
}

} // namespace

void resetPlayback() {
    gPlaybackState = kStateNone;
}

void updateState() {
    while (pMediaEvent) {
        LONG code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        if (pMediaEvent->GetEvent(&code, &param1, &param2, 0) != S_OK)
            break;
        logMessage("updateState", "Received media event %d(%d, %d)", static_cast<int>(code),
                   static_cast<int>(param1), static_cast<int>(param2));
        if (code == EC_COMPLETE)
            gPlaybackState = kStateEnded;
        pMediaEvent->FreeEventParams(code, param1, param2);
    }
}

void clipOpened() {
    gPlaybackState = kStateOpened;
}

void stopRunningClip() {
    updateState();
    if (gPlaybackState == kStatePlaying || gPlaybackState == kStatePaused)
        stop();
}

int getState() {
    updateState();
    return gPlaybackState;
}

int play() {
    if (!pMediaControl) {
        logMessage("play", "Can not play clip because media control interface is not available!!");
        return 0;
    }
    updateState();
    if (gPlaybackState != kStateOpened && gPlaybackState != kStatePaused)
        return 0;
    if (FAILED(pMediaControl->Run()))
        return 0;
    gPlaybackState = kStatePlaying;
    return 1;
}

int pause() {
    if (!pMediaControl) {
        logMessage("pause",
                   "Can not pause clip because media control interface is not available!!");
        return 0;
    }
    updateState();
    if (gPlaybackState != kStatePlaying)
        return 0;
    if (FAILED(pMediaControl->Pause()))
        return 0;
    gPlaybackState = kStatePaused;
    return 1;
}

int stop() {
    if (!pMediaControl) {
        logMessage("stop", "Can not stop clip because media control interface is not available!!");
        return 0;
    }
    updateState();
    if (gPlaybackState != kStateOpened && gPlaybackState != kStatePlaying &&
        gPlaybackState != kStatePaused)
        return 0;
    if (FAILED(pMediaControl->StopWhenReady()))
        return 0;
    gPlaybackState = kStateStopped;
    return 1;
}

HRESULT step(int) {
    return E_FAIL;
}

double getDuration() {
    if (!positionAvailable(
            "getDuration",
            "Can not get clip duration because media position interface is unavailable!!"))
        return 0.0;
    REFTIME duration = 0.0;
    HRESULT hr = pMediaPosition->get_Duration(&duration);
    if (FAILED(hr)) {
        logError(hr, "getDuration", "Could not determine clip duration!!");
        return 0.0;
    }
    return duration;
}

double getCurrentPosition() {
    if (!positionAvailable("getCurrentPosition",
                           "Can not get current position in clip because media position "
                           "interface is unavailable!!"))
        return 0.0;
    REFTIME position = 0.0;
    HRESULT hr = pMediaPosition->get_CurrentPosition(&position);
    if (FAILED(hr)) {
        logError(hr, "getCurrentPosition", "Could not determine current position in clip!!");
        return 0.0;
    }
    return position;
}

void setCurrentPosition(double seconds) {
    if (!positionAvailable("setCurrentPosition",
                           "Can not set current position in clip because media position "
                           "interface is unavailable!!"))
        return;
    HRESULT hr = pMediaPosition->put_CurrentPosition(seconds);
    if (FAILED(hr))
        logError(hr, "setCurrentPosition", "Could not seek!!");
}

double getRate() {
    if (!positionAvailable(
            "getRate", "Can not get clip rate because media position interface is unavailable!!"))
        return 0.0;
    double rate = 0.0;
    HRESULT hr = pMediaPosition->get_Rate(&rate);
    if (FAILED(hr)) {
        logError(hr, "getRate", "Could not determine clip play rate!!");
        return 0.0;
    }
    return rate;
}

double setRate(float rate) {
    double wanted = rate;
    double earlier = getRate();
    if (!positionAvailable(
            "setRate", "Can not set clip rate because media position interface is unavailable!!"))
        return 0.0;
    HRESULT hr = pMediaPosition->put_Rate(wanted);
    if (FAILED(hr))
        logError(hr, "setRate", "Could not set new playrate!: %.3f", wanted);
    double got = 0.0;
    hr = pMediaPosition->get_Rate(&got);
    if (FAILED(hr)) {
        logError(hr, "setRate", "Could not determine clips new play rate!!");
        return wanted;
    }
    logMessage("setRate DEBUG", "Changed rate!  was=%f wanted=%f got=%f", earlier, wanted, got);
    return got;
}
