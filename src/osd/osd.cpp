// The connection to the card's OSD layer: finding the OSD object, showing
// each frame and letting everything go again.
#include "osd.h"

#include "../../osdblock/osd_block.h"
#include "../card/modes.h"
#include "../log/loadtime.h"
#include "../log/log.h"
#include "../log/properties.h"

#include <cstdint>

bool osdInitialized = false;
IOsdEnumerator* pOsdEnum = nullptr;
IOsdObject* pOsd = nullptr;
unsigned char* pOsdImage = nullptr;

namespace {

// The byte size of the block buffer last asked of the OSD object.
int gOsdImageSize = -1;

// Whether the opening's CoInitialize succeeded and waits for its
// CoUninitialize. A closing without one (a second closeOSD, or one before
// any openOSD) must not uninitialise COM that the host's thread set up for
// itself.
bool gComPending = false;

// Whether the log has said that this processor cannot run the quantiser:
// said once, at the first frame refused for it.
bool gNoSseLogged = false;
const char kNoSseMessage[] =
    "The processor lacks SSE, which the OSD's quantiser needs: no OSD frame can be shown";

} // namespace

void resetOsd() {
    osdInitialized = false;
    pOsdEnum = nullptr;
    pOsd = nullptr;
    pOsdImage = nullptr;
    gOsdImageSize = -1;
    gComPending = false;
    gNoSseLogged = false;
}

HRESULT initCom() {
    return CoInitialize(nullptr);
}

void freeCom() {
    CoUninitialize();
}

HRESULT setupTovixOsd() {
    if (osdInitialized)
        return S_OK;
    gComPending = SUCCEEDED(initCom());

    const char* tag = "setupTovixOsd";
    HRESULT hr = CoCreateInstance(CLSID_OsdEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IOsdEnumerator, reinterpret_cast<void**>(&pOsdEnum));
    if (FAILED(hr) || !pOsdEnum) {
        // A failed creation hands out nothing, whatever is in the pointer.
        pOsdEnum = nullptr;
        logError(FAILED(hr) ? hr : E_NOINTERFACE, tag, "No OSD board found");
        releaseTovixOsd();
        return E_FAIL;
    }
    pOsdEnum->Reset();

    // Every object passed over on the way to the board's own is let go.
    pOsd = nullptr;
    for (int i = 0; i < kBoardOrdinal; i++) {
        if (pOsd)
            pOsd->Release();
        pOsd = pOsdEnum->Next();
    }
    if (!pOsd) {
        logMessage(tag, "No OSD available!");
        releaseTovixOsd();
        return E_FAIL;
    }
    const char* name = pOsd->GetName();
    logMessage(tag, "Found OSD for Tovix: %s", name ? name : "");

    // The first frame of this connection asks for a fresh block buffer.
    pOsdImage = nullptr;
    getDecoderInterfaces();
    setWindowProperties();
    determineDimensions();
    osdInitialized = true;
    return S_OK;
}

void switchOsdOff() {
    osdInitialized = false;
    if (pOsd) {
        pOsd->Close();
        pOsd->SetDisplay(0);
        pOsd->Release();
    }
    pOsd = nullptr;
    if (pOsdEnum)
        pOsdEnum->Release();
    pOsdEnum = nullptr;
}

void releaseTovixOsd() {
    switchOsdOff();
    // The card's output goes back to what it was before the first opening,
    // before the interface to it is let go.
    resetWindowProperties();
    releaseDecoderInterfaces();
    if (gComPending)
        freeCom();
    gComPending = false;
}

HRESULT processOsdImage(const void* rgbPixels, int width, int height) {
    const char* tag = "processOsdImage";
    logVerbose(tag, "Processing osd image with width=%d and height=%d", width, height);
    if (!pOsd) {
        logMessage(tag, "Cannot update OSD because OSD is not available!!!");
        return S_FALSE;
    }
    // Sizes the block cannot describe would have the quantiser run far past
    // both buffers; such a frame never reaches the card.
    if (!osdBlockFits(width, height)) {
        logMessage(tag,
                   "Cannot update OSD because a %dx%d frame does not fit an OSD block (at most "
                   "65535 pixels a side and 16776183 pixels)",
                   width, height);
        return S_FALSE;
    }
    int size = width * height + kOsdBlockOverhead;
    if (!pOsdImage || size != gOsdImageSize) {
        gOsdImageSize = size;
        pOsd->GetBlockBuffer(static_cast<unsigned int>(size), reinterpret_cast<void**>(&pOsdImage));
    }
    if (!pOsdImage) {
        logMessage(tag, "Cannot update OSD because OSD surface is not available!!!");
        return S_FALSE;
    }
    // A quantiser that failed (it answers -1) has written no palette and no
    // indices: the block holds whatever the buffer held, and is not shown.
    if (buildOsdImage(static_cast<const _OsdColor*>(rgbPixels), width, height, pOsdImage) < 0) {
        if (!pQuantizer->ProcessorSupported() && !gNoSseLogged) {
            gNoSseLogged = true;
            logMessage(tag, "%s", kNoSseMessage);
        }
        logMessage(tag,
                   "Cannot update OSD because the %dx%d frame could not be quantised; the "
                   "previous frame stays on screen",
                   width, height);
        return E_FAIL;
    }
    updateOsd(width, height);
    return S_OK;
}

HRESULT updateOsd(int width, int height) {
    // An export: a caller other than processOsdImage may come without an
    // OSD object.
    if (!pOsd)
        return E_POINTER;
    RECT area;
    area.left = 0;
    area.top = 0;
    ScreenSize screen = screenSize();
    area.right = gScaleOSD ? screen.width : width;
    area.bottom = gScaleOSD ? screen.height : height;
    setWindowProperties();
    pOsd->SetDestination(area);
    return pOsd->SetDisplay(1);
}
