// The order of opening and tear-down across the card, the OSD connection and
// the player: the one place that knows it.
#include "lifecycle.h"

#include "../card/modes.h"
#include "../log/loadtime.h"
#include "../log/log.h"
#include "../log/properties.h"
#include "../osd/osd.h"
#include "../player/player.h"

bool openOsdInOrder(JNIEnv* env, jclass cls) {
    openLogs(env, cls);
    logMessage(kNativeTag, "openOSD");
    configPlayer(env, cls);
    setupModes(env, cls);
    return setupTovixOsd() >= 0;
}

void closeOsdInOrder() {
    // The OSD goes off first, so that the last menu does not stay on screen
    // while the player's tear-down waits for its clip to end. The OSD's
    // closing ends with CoUninitialize, which unloads the code of every
    // component this thread loaded: the player goes before it, as free would
    // take it down; what a failed set-up kept for the next load goes too,
    // since its graph would go on holding the decoder filter that the
    // closing lets go.
    switchOsdOff();
    if (playerOpen())
        releaseTovixPlayer();
    else if (keptForNextLoad())
        releaseFilters();
    releaseTovixOsd();
}

void resetLibrary() {
    resetPlayer();
    resetOsd();
    resetOutputModes();
    resetLoadTimeObjects();
    resetSwitches();
    resetLogs();
}

void loadInOrder(const char* path, const char* host, bool shifted, int major, int minor) {
    if (setupTovixPlayer(major, minor, shifted) >= 0)
        openFile(path, host, shifted, major, minor);
}
