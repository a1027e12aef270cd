// Placeholder until the OSD connection lands.
#include "osd.h"

#include "../log/log.h"

extern "C" const int kDefaultOsdImageSize = 346632;
bool osdInitialized = false;
IOsdEnumerator* pOsdEnum = nullptr;
IOsdObject* pOsd = nullptr;
unsigned char* pOsdImage = nullptr;
int gOsdImageSize = -1;

int buildOsdImage(const _OsdColor*, int, int, unsigned char*) { return 0; }
HRESULT setupTovixOsd() { return E_FAIL; }
void releaseTovixOsd() {}
void processOsdImage(const void*, int width, int height) {
    logVerbose("processOsdImage", "Processing osd image with width=%d and height=%d", width,
               height);
    logMessage("processOsdImage", "Cannot update OSD because OSD is not available!!!");
}
HRESULT updateOsd(int, int) { return S_OK; }
HRESULT initCom() { return CoInitialize(nullptr); }
void freeCom() { CoUninitialize(); }
