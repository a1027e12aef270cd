// Placeholder until the filter graph lands.
#include "player.h"

bool gPlayerInitialized = false;
bool gStreaming = false;
IGraphBuilder* pGraphBuilder = nullptr;
IBaseFilter* pSourceFilter = nullptr;
ISharedAsync* pSharedAsync = nullptr;
IBaseFilter* pDemuxFilter = nullptr;
IMediaPosition* pMediaPosition = nullptr;
IMediaControl* pMediaControl = nullptr;
IMediaEventEx* pMediaEvent = nullptr;
IVideoWindow* pVideoWindow = nullptr;
IMediaSeeking* pMediaSeeking = nullptr;
IBasicVideo2* pBasicVideo = nullptr;
IBasicAudio* pBasicAudio = nullptr;

HRESULT setupTovixPlayer(int, int, bool) { return E_FAIL; }
int createFilters(int, int, bool) { return 1; }
unsigned char streamFile(unsigned char, int, int) { return 0; }
int getGraphInterfaces() { return 0; }
HRESULT openFile(const char*, const char*, bool, int, int) { return E_FAIL; }
HRESULT buildGraph() { return E_FAIL; }
IPin* getPin(IBaseFilter*, int) { return nullptr; }
void cleanupGraph() {}
void releaseTovixPlayer() {}
void releaseGraphInterfaces() {}
void releaseFilters() {}
void releaseGraph() {}
HRESULT inactiveFile() { return 0; }
HRESULT createRmInterface(IBaseFilter**) { return E_FAIL; }
int getFilterName(IUnknown*) { return 0; }
void getFileName() {}
