// The filter graph for one media file: set-up of the graph and its filters,
// the pin-by-pin push wiring or RenderFile around the decoder filter, and the
// tear-down. The decoder filter is borrowed from the output side and never
// released here.
#include "player.h"

#include "../card/modes.h"
#include "../log/com_helpers.h"
#include "../log/host_path.h"
#include "../log/loadtime.h"
#include "../log/log.h"
#include "../log/properties.h"
#include "audio_video.h"
#include "playback.h"

#include <cstdio>

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

namespace {

// Whether pDemuxFilter still carries the library's own reference. A
// successful wiring hands the demultiplexer to the graph; a failed one
// leaves the reference with the library, and the tear-down must give it up.
bool gDemuxReferenceHeld = false;

// The hint pair of the MPEG files that may come from the host's server.
const int kStreamMajor = 1;
const int kStreamMinor = 31;

// getPin fetches at most this many pins in its one Next call.
const ULONG kMaxPins = 10;

// The longest the tear-down waits for the clip to end when its first stop
// left the graph running. A time-shifted file does not end before
// inactiveFile, which the host cannot call while free blocks its thread.
const LONG kCompletionWaitMs = 3000;

bool takesPushPath(bool shifted, int major, int minor) {
    return major == kStreamMajor && minor == kStreamMinor && (shifted || gStreamAllMpegs);
}

bool holdsNul(const WCHAR* wide, int length) {
    for (int i = 0; i < length; i++)
        if (wide[i] == 0)
            return true;
    return false;
}

template <typename T> void queryGraphInterface(const IID& iid, T*& pointer, const char* name) {
    if (pointer)
        return;
    HRESULT hr = pGraphBuilder
                     ? pGraphBuilder->QueryInterface(iid, reinterpret_cast<void**>(&pointer))
                     : E_POINTER;
    if (FAILED(obtained(hr, pointer))) {
        pointer = nullptr;
        logMessage("queryGraphInterface", "Failed to create interface from graph builder: %s\n",
                   name);
    }
}

// The pins buildGraph holds while it wires; every way out gives them back.
struct HeldPins {
    IPin* pins[6] = {};
    ~HeldPins() {
        for (IPin*& pin : pins)
            releaseAndClear(pin);
    }
};

HRESULT pushOpen(const char* path, const WCHAR* widePath, const char* host, bool shifted) {
    gStreaming = true;
    logMessage("openFile", "Streaming file %s from server", path);
    if (!pSourceFilter) {
        logMessage("openFile", "Can not load file because graph builder is not available: %s",
                   path);
        return E_FAIL;
    }
    IFileSourceFilter* fileSource = nullptr;
    HRESULT hr = obtained(
        pSourceFilter->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&fileSource)),
        fileSource);
    if (FAILED(hr)) {
        logError(hr, "openFile", "Cannot get IFileSourceFilter interface!!!");
        return E_FAIL;
    }
    logMessage("openFile", "Setting shared async file hostname to '%s'", host ? host : "(null)");
    if (pSharedAsync)
        pSharedAsync->SetHostName(host);
    if (shifted && pSharedAsync)
        pSharedAsync->SetFileLock(&gFileLock);
    hr = fileSource->Load(widePath, nullptr);
    fileSource->Release();
    if (FAILED(hr)) {
        logError(hr, "openFile", "Cannot load source file!!!");
        return E_FAIL;
    }
    if (FAILED(buildGraph()))
        return E_FAIL;
    return S_OK;
}

} // namespace

HRESULT setupTovixPlayer(int major, int minor, bool shifted) {
    if (gPlayerInitialized)
        return S_OK;
    if (createFilters(major, minor, shifted) != 0)
        return E_FAIL;
    getGraphInterfaces();
    setWindowProperties();
    gPlayerInitialized = true;
    return S_OK;
}

namespace {

// The graph manager, with the graph log attached; 1 when it cannot be made.
int createGraphBuilder(const char* tag) {
    if (pGraphBuilder)
        return 0;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, reinterpret_cast<void**>(&pGraphBuilder));
    if (FAILED(obtained(hr, pGraphBuilder))) {
        pGraphBuilder = nullptr;
        logError(failureCode(hr), tag, "Could not create graph builder!!!!");
        return 1;
    }
    if (gGraphLog)
        pGraphBuilder->SetLogFile(reinterpret_cast<DWORD_PTR>(gGraphLog));
    return 0;
}

// The push graph's shared source and demultiplexer, each made once and
// added to the graph; 1 at the first step that fails.
int addPushFilters(const char* tag) {
    if (!pSourceFilter) {
        HRESULT hr = CoCreateInstance(CLSID_SharedSource, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IBaseFilter, reinterpret_cast<void**>(&pSourceFilter));
        if (FAILED(obtained(hr, pSourceFilter))) {
            pSourceFilter = nullptr;
            logError(failureCode(hr), tag, "Cannot create shared source filter!!!");
            return 1;
        }
    }
    // Asked for again while it is missing: a source filter kept from a
    // failed set-up would otherwise open every later file without the
    // server's name and without the lock.
    if (!pSharedAsync) {
        HRESULT hr = pSourceFilter->QueryInterface(IID_ISharedAsync,
                                                   reinterpret_cast<void**>(&pSharedAsync));
        if (FAILED(obtained(hr, pSharedAsync))) {
            pSharedAsync = nullptr;
            logError(failureCode(hr), tag, "Can not get shared source interface!!");
            return 1;
        }
    }
    HRESULT hr = pGraphBuilder->AddFilter(pSourceFilter, L"Shared Source");
    if (FAILED(hr)) {
        logError(hr, tag, "Cannot add source filter to Graph!!!");
        return 1;
    }
    if (!pDemuxFilter) {
        hr = CoCreateInstance(CLSID_MpegDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&pDemuxFilter));
        if (FAILED(obtained(hr, pDemuxFilter))) {
            pDemuxFilter = nullptr;
            logError(failureCode(hr), tag, "Cannot create demux filter!!!");
            return 1;
        }
        gDemuxReferenceHeld = true;
    }
    hr = pGraphBuilder->AddFilter(pDemuxFilter, L"MPEG DeMux");
    if (FAILED(hr)) {
        logError(hr, tag, "Cannot add demux filter to Graph!!!");
        return 1;
    }
    return 0;
}

} // namespace

int createFilters(int major, int minor, bool shifted) {
    const char* tag = "buildGraph";
    createDecoderFilter();
    if (createGraphBuilder(tag) != 0)
        return 1;
    if (streamFile(shifted ? 1 : 0, major, minor) == 1 && addPushFilters(tag) != 0)
        return 1;
    if (!decoderFilter()) {
        logMessage(tag, "Can not add decoder filter because it is NULL");
        return 1;
    }
    HRESULT hr = pGraphBuilder->AddFilter(decoderFilter(), L"Sigma Decoder");
    if (FAILED(hr)) {
        logError(hr, tag, "Cannot add sigma decoder filter to Graph!!!");
        return 1;
    }
    return 0;
}

unsigned char streamFile(unsigned char shifted, int major, int minor) {
    if (major != kStreamMajor || minor != kStreamMinor)
        return 0;
    if (shifted)
        return 1;
    return static_cast<unsigned char>(gStreamAllMpegs);
}

int getGraphInterfaces() {
    queryGraphInterface(IID_IMediaPosition, pMediaPosition, "IMediaPosition");
    queryGraphInterface(IID_IMediaControl, pMediaControl, "IMediaControl");
    queryGraphInterface(IID_IMediaEventEx, pMediaEvent, "IMediaEventEx");
    queryGraphInterface(IID_IVideoWindow, pVideoWindow, "IVideoWindow");
    setGraphVideoWindow(pVideoWindow);
    queryGraphInterface(IID_IMediaSeeking, pMediaSeeking, "IMediaSeeking");
    if (!pMediaSeeking) {
        logMessage("getGraphInterfaces", "Could not load media seeking interface");
        return 0;
    }
    DWORD capabilities = 0;
    pMediaSeeking->GetCapabilities(&capabilities);
    logMessage("getGraphInterfaces", "Media seeking capabilities = %X",
               static_cast<unsigned>(capabilities));
    return 0;
}

namespace {

// The host's path as the wide path the graph opens; false, with the reason
// logged, for a path that cannot be opened as given.
bool widePathOf(const char* tag, const char* path, WCHAR (&widePath)[MAX_PATH]) {
    // A path that does not fit is refused whole: opening a truncated path
    // could play some other file.
    if (!path) {
        logMessage(tag, "Can not open file because no path was given");
        return false;
    }
    int length = hostPathToWide(path, widePath, MAX_PATH);
    if (length < 0) {
        logMessage(tag, "Can not open file because its path is longer than %d characters: %s",
                   MAX_PATH - 1, path);
        return false;
    }
    // The host sends U+0000 as C0 80. In the wide path it would end the name
    // early, and the file opened would be another one.
    if (holdsNul(widePath, length)) {
        logMessage(tag, "Can not open file because its path holds a NUL character: %s", path);
        return false;
    }
    return true;
}

// The basic video and audio interfaces of the graph. Queried only while not
// held, as every interface variable is: a second open on the same graph must
// not overwrite (and so leak) a reference.
HRESULT getBasicInterfaces(const char* tag) {
    HRESULT hr = S_OK;
    if (!pBasicVideo) {
        hr =
            pGraphBuilder->QueryInterface(IID_IBasicVideo2, reinterpret_cast<void**>(&pBasicVideo));
        if (FAILED(obtained(hr, pBasicVideo))) {
            pBasicVideo = nullptr;
            logError(failureCode(hr), tag, "Can not get basic video interface");
            return E_FAIL;
        }
    }
    if (!pBasicAudio) {
        hr = pGraphBuilder->QueryInterface(IID_IBasicAudio, reinterpret_cast<void**>(&pBasicAudio));
        if (FAILED(obtained(hr, pBasicAudio))) {
            pBasicAudio = nullptr;
            logError(failureCode(hr), tag, "Can not get basic audio interface");
            return E_FAIL;
        }
    }
    return S_OK;
}

} // namespace

HRESULT openFile(const char* path, const char* host, bool shifted, int major, int minor) {
    const char* tag = "openFile";
    stopRunningClip();
    WCHAR widePath[MAX_PATH];
    if (!widePathOf(tag, path, widePath))
        return E_FAIL;
    if (takesPushPath(shifted, major, minor)) {
        if (FAILED(pushOpen(path, widePath, host, shifted)))
            return E_FAIL;
    } else {
        logMessage(tag, "Automatically building graph for file %s", path);
        if (!pGraphBuilder) {
            logMessage(tag, "Can not load file because graph builder is not available: %s", path);
            return E_FAIL;
        }
        HRESULT hr = pGraphBuilder->RenderFile(widePath, nullptr);
        if (hr != S_OK) {
            logError(hr, tag, "Could not render file '%s'", path);
            return hr;
        }
        cleanupGraph();
    }
    logGraph();
    if (FAILED(getBasicInterfaces(tag)))
        return E_FAIL;
    applyAudioToNewGraph();
    clipOpened();
    setWindowProperties();
    return S_OK;
}

HRESULT buildGraph() {
    const char* tag = "buildGraph";
    HeldPins held;
    IPin*& sourceOut = held.pins[0];
    IPin*& demuxIn = held.pins[1];
    IPin*& videoOut = held.pins[2];
    IPin*& audioOut = held.pins[3];
    IPin*& decoderVideo = held.pins[4];
    IPin*& decoderAudio = held.pins[5];

    if (!(sourceOut = getPin(pSourceFilter, 0))) {
        logMessage(tag, "Cannot find File Source pin 0!!!");
        return E_FAIL;
    }
    if (!(demuxIn = getPin(pDemuxFilter, 0))) {
        logMessage(tag, "Cannot find DeMux pin 0!!!");
        return E_FAIL;
    }
    HRESULT hr = pGraphBuilder->ConnectDirect(sourceOut, demuxIn, nullptr);
    if (FAILED(hr)) {
        logError(hr, tag, "Cannot connect file source filter to demux filter!!!");
        return E_FAIL;
    }
    releaseAndClear(sourceOut);
    releaseAndClear(demuxIn);
    if (!(videoOut = getPin(pDemuxFilter, 2))) {
        logMessage(tag, "Cannot find demux pin 2!!!");
        return E_FAIL;
    }
    if (!(audioOut = getPin(pDemuxFilter, 3))) {
        logMessage(tag, "Cannot find demux pin 3!!!");
        return E_FAIL;
    }
    if (!(decoderVideo = getPin(decoderFilter(), 0))) {
        logMessage(tag, "Cannot find decoder pin 0!!!");
        return E_FAIL;
    }
    if (!(decoderAudio = getPin(decoderFilter(), 1))) {
        logMessage(tag, "Cannot find decoder pin 1!!!");
        return E_FAIL;
    }
    hr = pGraphBuilder->ConnectDirect(videoOut, decoderVideo, nullptr);
    if (FAILED(hr)) {
        logError(hr, tag, "Cannot connect demux filter video out pin to decoder filter!!!");
        return E_FAIL;
    }
    hr = pGraphBuilder->ConnectDirect(audioOut, decoderAudio, nullptr);
    if (FAILED(hr)) {
        logError(hr, tag, "Cannot connect demux filter audio out pin to decoder filter!!!");
        return E_FAIL;
    }
    // From here the graph is the demultiplexer's only owner; the pointer is
    // kept only so that the tear-down can forget it.
    if (gDemuxReferenceHeld) {
        pDemuxFilter->Release();
        gDemuxReferenceHeld = false;
    }
    clipOpened();
    return S_OK;
}

IPin* getPin(IBaseFilter* filter, int index) {
    if (!filter || index < 0)
        return nullptr;
    IEnumPins* pins = nullptr;
    if (FAILED(obtained(filter->EnumPins(&pins), pins)))
        return nullptr;
    IPin* fetched[kMaxPins] = {};
    ULONG count = 0;
    pins->Next(kMaxPins, fetched, &count);
    if (count > kMaxPins)
        count = kMaxPins;
    IPin* wanted = nullptr;
    for (ULONG i = 0; i < count; i++) {
        if (static_cast<int>(i) == index)
            wanted = fetched[i];
        else if (fetched[i])
            fetched[i]->Release();
    }
    pins->Release();
    return wanted;
}

void cleanupGraph() {
    const char* tag = "cleanupGraph";
    if (!decoderFilter() || !pGraphBuilder) {
        logMessage(tag, "Could not cleanup graph because either decoder filter or graph builder "
                        "were unavailable");
        return;
    }
    IPin* overlay = getPin(decoderFilter(), 2);
    if (!overlay) {
        logMessage(tag, "Could not find overlay pin on decoder filter!");
        return;
    }
    IPin* downstream = nullptr;
    if (FAILED(obtained(overlay->ConnectedTo(&downstream), downstream))) {
        overlay->Release();
        logMessage(tag, "Overlay pin not connected to anything");
        return;
    }
    PIN_INFO info;
    info.pFilter = nullptr;
    if (FAILED(downstream->QueryPinInfo(&info)))
        info.pFilter = nullptr;
    downstream->Release();
    overlay->Disconnect();
    overlay->Release();
    if (info.pFilter) {
        pGraphBuilder->RemoveFilter(info.pFilter);
        info.pFilter->Release();
    }
}

void releaseTovixPlayer() {
    const char* tag = "releaseTovixPlayer";
    logMessage(tag, "Entering release...");
    if (!gPlayerInitialized)
        return;
    gPlayerInitialized = false;
    stop();
    logMessage(tag, "After stop...");
    // A clip that has ended has nothing more to finish: its completion was
    // taken from the queue already, and a wait would last the whole time-out.
    // Any other clip is waited for as before; after a stop that took, the
    // graph is stopped and the wait answers at once.
    if (pMediaEvent && !clipEnded()) {
        LONG code = 0;
        pMediaEvent->WaitForCompletion(kCompletionWaitMs, &code);
    }
    logMessage(tag, "After completion wait...");
    if (pMediaControl)
        pMediaControl->Stop();
    logMessage(tag, "After 2nd stop...");
    releaseAndClear(pBasicVideo);
    logMessage(tag, "After basic video interface release...");
    releaseAndClear(pBasicAudio);
    logMessage(tag, "After basic audio release...");
    releaseGraphInterfaces();
    logMessage(tag, "After graph interfaces release...");
    releaseFilters();
    logMessage(tag, "After filters release... ...and done.");
}

void releaseGraphInterfaces() {
    releaseAndClear(pMediaSeeking);
    releaseAndClear(pMediaPosition);
    setGraphVideoWindow(nullptr);
    releaseAndClear(pVideoWindow);
    releaseAndClear(pMediaControl);
    releaseAndClear(pMediaEvent);
}

void releaseFilters() {
    const char* tag = "releaseFilters";
    logMessage(tag, "beginning");
    releaseGraph();
    if (pSharedAsync) {
        ULONG left = pSharedAsync->Release();
        logMessage(tag, "shared async interface released with %d references left",
                   static_cast<int>(left));
        pSharedAsync = nullptr;
    }
    // After a successful wiring the graph owned the demultiplexer and has
    // just let it go; after a failed one the library's reference is the
    // last and is given up here.
    if (pDemuxFilter && gDemuxReferenceHeld) {
        ULONG left = pDemuxFilter->Release();
        logMessage(tag, "demux filter released with %d references left", static_cast<int>(left));
    }
    gDemuxReferenceHeld = false;
    pDemuxFilter = nullptr;
    if (pSourceFilter) {
        ULONG left = pSourceFilter->Release();
        logMessage(tag, "file source filter released with %d references left",
                   static_cast<int>(left));
        pSourceFilter = nullptr;
    }
    logMessage(tag, "graph released...done");
}

void releaseGraph() {
    const char* tag = "releaseGraph";
    if (!pGraphBuilder)
        return;
    logMessage(tag, "releasing graph");
    IEnumFilters* filters = nullptr;
    HRESULT hr = pGraphBuilder->EnumFilters(&filters);
    logError(hr, tag, "After attempt to get filter enumerator");
    if (SUCCEEDED(hr) && filters) {
        IBaseFilter* filter = nullptr;
        ULONG fetched = 0;
        while (filters->Next(1, &filter, &fetched) == S_OK && filter) {
            char name[64] = "<UNKNOWN>";
            FILTER_INFO info;
            if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
                ansiName(info.achName, name, sizeof name);
                if (info.pGraph)
                    info.pGraph->Release();
            }
            logMessage(tag, "removing and releasing filter %s", name);
            hr = pGraphBuilder->RemoveFilter(filter);
            if (FAILED(hr))
                logError(hr, tag, "Failed to remove filter from graph!");
            else
                // The graph changed under the enumerator; start again from
                // the first filter left. A filter that would not leave is
                // stepped over instead, or the loop would meet it forever;
                // the graph lets it go when the graph itself goes.
                filters->Reset();
            ULONG left = filter->Release();
            filter = nullptr;
            logMessage(tag, "Filter released with %d references left", static_cast<int>(left));
        }
        logMessage(tag, "Done with filters");
        filters->Release();
    }
    logMessage(tag, "Done with enumerator");
    releaseAndClear(pGraphBuilder);
    logMessage(tag, "Graph released...done.");
}

bool playerOpen() {
    return gPlayerInitialized;
}

void resetPlayer() {
    gPlayerInitialized = false;
    gStreaming = false;
    pGraphBuilder = nullptr;
    pSourceFilter = nullptr;
    pSharedAsync = nullptr;
    pDemuxFilter = nullptr;
    pMediaPosition = nullptr;
    pMediaControl = nullptr;
    pMediaEvent = nullptr;
    pVideoWindow = nullptr;
    pMediaSeeking = nullptr;
    pBasicVideo = nullptr;
    pBasicAudio = nullptr;
    gDemuxReferenceHeld = false;
    resetPlayback();
    resetAudioVideo();
}

bool keptForNextLoad() {
    return pGraphBuilder || pSourceFilter || pSharedAsync || pDemuxFilter;
}

HRESULT inactiveFile() {
    if (!pSharedAsync)
        return 0;
    return pSharedAsync->SetFileLock(nullptr);
}

HRESULT createRmInterface(IBaseFilter** filter) {
    return CoCreateInstance(CLSID_TovixDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                            reinterpret_cast<void**>(filter));
}

int getFilterName(IUnknown* object) {
    if (!object)
        return 0;
    IFilterInfo* info = nullptr;
    if (FAILED(obtained(object->QueryInterface(IID_IFilterInfo, reinterpret_cast<void**>(&info)),
                        info)))
        return 0;
    BSTR name = nullptr;
    if (SUCCEEDED(info->get_Name(&name)) && name) {
        char text[128] = "";
        ansiName(name, text, sizeof text);
        printf("name = '%s'\n", text);
        SysFreeString(name);
    }
    info->Release();
    return 0;
}

void getFileName() {}
