// The playback state and the transport. Graph events are never delivered to
// the library: every state-dependent call first drains the graph's queue
// without waiting and moves the state from what it finds.
#include "playback.h"

#include "../log/log.h"
#include "player.h"

namespace {

PlaybackState gPlaybackState = kStateNone;
// What the host was last told of the position since the clip was opened or
// sought, in seconds; negative when nothing since. A graph that works the
// position out from its clock runs past the end of a file still being
// written, and after the end it may answer the stop it read at Run: the
// host is shown neither, but the last position it saw, held.
double gShownPosition = -1.0;
// The clip has played to its end and nothing was sought since: its position
// is its duration, whatever the graph answers.
bool gEndReached = false;
// The rate in force as last read back; a clip that plays backwards runs its
// position down, so the hold applies only forwards.
double gRateInForce = 1.0;

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
    gShownPosition = -1.0;
    gEndReached = false;
    gRateInForce = 1.0;
}

void updateState() {
    while (pMediaEvent) {
        LONG code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        if (pMediaEvent->GetEvent(&code, &param1, &param2, 0) != S_OK)
            break;
        logMessage("updateState", "Received media event %d(%d, %d)", static_cast<int>(code),
                   static_cast<int>(param1), static_cast<int>(param2));
        if (code == EC_COMPLETE) {
            gPlaybackState = kStateEnded;
            gEndReached = true;
        }
        pMediaEvent->FreeEventParams(code, param1, param2);
    }
}

bool clipEnded() {
    return gPlaybackState == kStateEnded;
}

void clipOpened() {
    gPlaybackState = kStateOpened;
    gShownPosition = -1.0;
    gEndReached = false;
    gRateInForce = 1.0;
    // The decoder filter outlives the graph and keeps the rate it was last
    // given; every file starts at the normal rate, the one getRate answers.
    if (pMediaPosition) {
        HRESULT hr = pMediaPosition->put_Rate(1.0);
        if (FAILED(hr))
            logError(hr, "openFile", "Could not start the clip at the normal rate!!");
    }
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
    // Never past the duration (a time-shifted file's is what has been
    // written), and never back without a seek.
    REFTIME duration = 0.0;
    if (SUCCEEDED(pMediaPosition->get_Duration(&duration)) && duration > 0.0 &&
        (position > duration || gEndReached))
        position = duration;
    if (gRateInForce > 0.0 && position < gShownPosition)
        position = gShownPosition;
    gShownPosition = position;
    return position;
}

void setCurrentPosition(double seconds) {
    if (!positionAvailable("setCurrentPosition",
                           "Can not set current position in clip because media position "
                           "interface is unavailable!!"))
        return;
    // The graph holds positions in 100 ns units of 64 bits; a position
    // beyond them (the host's millis reach 2^63) is brought to the last one
    // they hold instead of overflowing the graph's conversion.
    const double kLongestSeconds = 9.2e11;
    if (seconds > kLongestSeconds)
        seconds = kLongestSeconds;
    else if (seconds < -kLongestSeconds)
        seconds = -kLongestSeconds;
    HRESULT hr = pMediaPosition->put_CurrentPosition(seconds);
    if (FAILED(hr)) {
        logError(hr, "setCurrentPosition", "Could not seek!!");
        return;
    }
    gShownPosition = -1.0;
    gEndReached = false;
    // A seek in a clip that has ended restarts it when the graph still runs
    // (a graph stays running after its completion): the state is what the
    // graph does, and a seek past the end ends it again with a new event.
    OAFilterState graphState = State_Stopped;
    if (gPlaybackState == kStateEnded && pMediaControl &&
        SUCCEEDED(pMediaControl->GetState(0, &graphState))) {
        if (graphState == State_Running)
            gPlaybackState = kStatePlaying;
        else if (graphState == State_Paused)
            gPlaybackState = kStatePaused;
    }
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
    if (got < 0.0 || gRateInForce < 0.0)
        gShownPosition = -1.0;
    gRateInForce = got;
    return got;
}
