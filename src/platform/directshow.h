// DirectShow as the library and the simulated world use it. On Windows this
// is the SDK's dshow.h. Elsewhere the same interfaces are declared here with
// the SDK's method names, signatures and vtable order, and the same constant
// values, so that code written against one behaves the same against the other.
#pragma once

#include "com.h"

#ifdef _WIN32
#include <dshow.h>
#else

typedef LONGLONG REFERENCE_TIME;
typedef double REFTIME;
typedef LONG_PTR OAHWND;
typedef LONG_PTR OAEVENT;
typedef LONG OAFilterState;
typedef LONG OABOOL;
typedef HANDLE HEVENT;
typedef HANDLE HSEMAPHORE;

#define OATRUE (-1)
#define OAFALSE (0)
#define INFINITE 0xFFFFFFFF
#define MAX_FILTER_NAME 128
#define MAX_PIN_NAME 128

// Result codes of DirectShow.
#define VFW_E_INVALIDMEDIATYPE ((HRESULT)0x80040200)
#define VFW_E_INVALIDSUBTYPE ((HRESULT)0x80040201)
#define VFW_E_NEED_OWNER ((HRESULT)0x80040202)
#define VFW_E_ENUM_OUT_OF_SYNC ((HRESULT)0x80040203)
#define VFW_E_ALREADY_CONNECTED ((HRESULT)0x80040204)
#define VFW_E_FILTER_ACTIVE ((HRESULT)0x80040205)
#define VFW_E_NO_TYPES ((HRESULT)0x80040206)
#define VFW_E_NO_ACCEPTABLE_TYPES ((HRESULT)0x80040207)
#define VFW_E_INVALID_DIRECTION ((HRESULT)0x80040208)
#define VFW_E_NOT_CONNECTED ((HRESULT)0x80040209)
#define VFW_E_NO_ALLOCATOR ((HRESULT)0x8004020A)
#define VFW_E_RUNTIME_ERROR ((HRESULT)0x8004020B)
#define VFW_E_BUFFER_NOTSET ((HRESULT)0x8004020C)
#define VFW_E_BUFFER_OVERFLOW ((HRESULT)0x8004020D)
#define VFW_E_BADALIGN ((HRESULT)0x8004020E)
#define VFW_E_ALREADY_COMMITTED ((HRESULT)0x8004020F)
#define VFW_E_BUFFERS_OUTSTANDING ((HRESULT)0x80040210)
#define VFW_E_NOT_COMMITTED ((HRESULT)0x80040211)
#define VFW_E_SIZENOTSET ((HRESULT)0x80040212)
#define VFW_E_NO_CLOCK ((HRESULT)0x80040213)
#define VFW_E_NO_SINK ((HRESULT)0x80040214)
#define VFW_E_NO_INTERFACE ((HRESULT)0x80040215)
#define VFW_E_NOT_FOUND ((HRESULT)0x80040216)
#define VFW_E_CANNOT_CONNECT ((HRESULT)0x80040217)
#define VFW_E_CANNOT_RENDER ((HRESULT)0x80040218)
#define VFW_E_CHANGING_FORMAT ((HRESULT)0x80040219)
#define VFW_E_NO_COLOR_KEY_SET ((HRESULT)0x8004021A)
#define VFW_E_NOT_OVERLAY_CONNECTION ((HRESULT)0x8004021B)
#define VFW_E_NOT_SAMPLE_CONNECTION ((HRESULT)0x8004021C)
#define VFW_E_PALETTE_SET ((HRESULT)0x8004021D)
#define VFW_E_COLOR_KEY_SET ((HRESULT)0x8004021E)
#define VFW_E_NO_COLOR_KEY_FOUND ((HRESULT)0x8004021F)
#define VFW_E_NO_PALETTE_AVAILABLE ((HRESULT)0x80040220)
#define VFW_E_NO_DISPLAY_PALETTE ((HRESULT)0x80040221)
#define VFW_E_TOO_MANY_COLORS ((HRESULT)0x80040222)
#define VFW_E_STATE_CHANGED ((HRESULT)0x80040223)
#define VFW_E_NOT_STOPPED ((HRESULT)0x80040224)
#define VFW_E_NOT_PAUSED ((HRESULT)0x80040225)
#define VFW_E_NOT_RUNNING ((HRESULT)0x80040226)
#define VFW_E_WRONG_STATE ((HRESULT)0x80040227)
#define VFW_E_START_TIME_AFTER_END ((HRESULT)0x80040228)
#define VFW_E_INVALID_RECT ((HRESULT)0x80040229)
#define VFW_E_TYPE_NOT_ACCEPTED ((HRESULT)0x8004022A)
#define VFW_E_SAMPLE_REJECTED ((HRESULT)0x8004022B)
#define VFW_E_SAMPLE_REJECTED_EOS ((HRESULT)0x8004022C)
#define VFW_E_DUPLICATE_NAME ((HRESULT)0x8004022D)
#define VFW_S_DUPLICATE_NAME ((HRESULT)0x0004022D)
#define VFW_E_TIMEOUT ((HRESULT)0x8004022E)
#define VFW_E_INVALID_FILE_FORMAT ((HRESULT)0x8004022F)
#define VFW_E_ENUM_OUT_OF_RANGE ((HRESULT)0x80040230)
#define VFW_E_CIRCULAR_GRAPH ((HRESULT)0x80040231)
#define VFW_E_NOT_ALLOWED_TO_SAVE ((HRESULT)0x80040232)
#define VFW_E_TIME_ALREADY_PASSED ((HRESULT)0x80040233)
#define VFW_E_ALREADY_CANCELLED ((HRESULT)0x80040234)
#define VFW_E_CORRUPT_GRAPH_FILE ((HRESULT)0x80040235)
#define VFW_E_ADVISE_ALREADY_SET ((HRESULT)0x80040236)
#define VFW_S_STATE_INTERMEDIATE ((HRESULT)0x00040237)
#define VFW_E_NO_MODEX_AVAILABLE ((HRESULT)0x80040238)
#define VFW_E_NO_ADVISE_SET ((HRESULT)0x80040239)
#define VFW_E_NO_FULLSCREEN ((HRESULT)0x8004023A)
#define VFW_E_IN_FULLSCREEN_MODE ((HRESULT)0x8004023B)
#define VFW_E_UNKNOWN_FILE_TYPE ((HRESULT)0x80040240)
#define VFW_E_CANNOT_LOAD_SOURCE_FILTER ((HRESULT)0x80040241)
#define VFW_S_PARTIAL_RENDER ((HRESULT)0x00040242)
#define VFW_E_FILE_TOO_SHORT ((HRESULT)0x80040243)
#define VFW_E_INVALID_FILE_VERSION ((HRESULT)0x80040244)
#define VFW_S_SOME_DATA_IGNORED ((HRESULT)0x00040245)
#define VFW_S_CONNECTIONS_DEFERRED ((HRESULT)0x00040246)
#define VFW_E_INVALID_CLSID ((HRESULT)0x80040247)
#define VFW_E_INVALID_MEDIA_TYPE ((HRESULT)0x80040248)
#define VFW_E_SAMPLE_TIME_NOT_SET ((HRESULT)0x80040249)
#define VFW_S_RESOURCE_NOT_NEEDED ((HRESULT)0x00040250)
#define VFW_E_MEDIA_TIME_NOT_SET ((HRESULT)0x80040251)
#define VFW_E_NO_TIME_FORMAT_SET ((HRESULT)0x80040252)
#define VFW_E_MONO_AUDIO_HW ((HRESULT)0x80040253)
#define VFW_S_MEDIA_TYPE_IGNORED ((HRESULT)0x00040254)
#define VFW_E_NO_DECOMPRESSOR ((HRESULT)0x80040255)
#define VFW_E_NO_AUDIO_HARDWARE ((HRESULT)0x80040256)
#define VFW_S_VIDEO_NOT_RENDERED ((HRESULT)0x00040257)
#define VFW_S_AUDIO_NOT_RENDERED ((HRESULT)0x00040258)
#define VFW_E_RPZA ((HRESULT)0x80040259)
#define VFW_E_PROCESSOR_NOT_SUITABLE ((HRESULT)0x8004025B)
#define VFW_E_UNSUPPORTED_AUDIO ((HRESULT)0x8004025C)
#define VFW_E_UNSUPPORTED_VIDEO ((HRESULT)0x8004025D)
#define VFW_E_MPEG_NOT_CONSTRAINED ((HRESULT)0x8004025E)
#define VFW_E_NOT_IN_GRAPH ((HRESULT)0x8004025F)
#define VFW_E_NO_TIME_FORMAT ((HRESULT)0x80040261)
#define VFW_E_READ_ONLY ((HRESULT)0x80040262)
#define VFW_E_BUFFER_UNDERFLOW ((HRESULT)0x80040264)
#define VFW_E_UNSUPPORTED_STREAM ((HRESULT)0x80040265)
#define VFW_E_NO_TRANSPORT ((HRESULT)0x80040266)
#define VFW_S_ESTIMATED ((HRESULT)0x00040260)
#define VFW_S_RESERVED ((HRESULT)0x00040263)
#define VFW_S_STREAM_OFF ((HRESULT)0x00040267)
#define VFW_S_CANT_CUE ((HRESULT)0x00040268)
#define VFW_E_BAD_VIDEOCD ((HRESULT)0x80040269)
#define VFW_E_OUT_OF_VIDEO_MEMORY ((HRESULT)0x80040271)
#define VFW_E_FRAME_STEP_UNSUPPORTED ((HRESULT)0x8004028E)
#define VFW_E_BAD_KEY ((HRESULT)0x800403F2)

// Event codes.
#define EC_COMPLETE 0x01
#define EC_USERABORT 0x02
#define EC_ERRORABORT 0x03
#define EC_TIME 0x04
#define EC_REPAINT 0x05
#define EC_STREAM_ERROR_STOPPED 0x06
#define EC_STREAM_ERROR_STILLPLAYING 0x07
#define EC_ERROR_STILLPLAYING 0x08
#define EC_PALETTE_CHANGED 0x09
#define EC_VIDEO_SIZE_CHANGED 0x0A
#define EC_QUALITY_CHANGE 0x0B
#define EC_SHUTTING_DOWN 0x0C
#define EC_CLOCK_CHANGED 0x0D
#define EC_PAUSED 0x0E
#define EC_ACTIVATE 0x13
#define EC_NEED_RESTART 0x14
#define EC_WINDOW_DESTROYED 0x15
#define EC_DISPLAY_CHANGED 0x16
#define EC_STARVATION 0x17
#define EC_STATE_CHANGE 0x32
#define EC_CLOCK_UNSET 0x51

// IFilterGraph2::RenderEx flags.
#define AM_RENDEREX_RENDERTOEXISTINGRENDERERS 0x1

// IMediaSeeking capabilities.
#define AM_SEEKING_CanSeekAbsolute 0x1
#define AM_SEEKING_CanSeekForwards 0x2
#define AM_SEEKING_CanSeekBackwards 0x4
#define AM_SEEKING_CanGetCurrentPos 0x8
#define AM_SEEKING_CanGetStopPos 0x10
#define AM_SEEKING_CanGetDuration 0x20
#define AM_SEEKING_CanPlayBackwards 0x40
#define AM_SEEKING_CanDoSegments 0x80
#define AM_SEEKING_Source 0x100

// IMediaSeeking::SetPositions flags.
#define AM_SEEKING_NoPositioning 0x0
#define AM_SEEKING_AbsolutePositioning 0x1
#define AM_SEEKING_RelativePositioning 0x2
#define AM_SEEKING_IncrementalPositioning 0x3
#define AM_SEEKING_PositioningBitsMask 0x3
#define AM_SEEKING_SeekToKeyFrame 0x4
#define AM_SEEKING_ReturnTime 0x8
#define AM_SEEKING_Segment 0x10
#define AM_SEEKING_NoFlush 0x20

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

struct IPin;
struct IEnumPins;
struct IEnumFilters;
struct IEnumMediaTypes;
struct IFilterGraph;
struct IBaseFilter;
struct IReferenceClock;
struct IMoniker;
struct IBindCtx;

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph; // carries a reference when not null
};

struct PIN_INFO {
    IBaseFilter* pFilter; // carries a reference when not null
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

extern "C" {
TOVIX_SIM_API extern const IID IID_IMediaFilter;
TOVIX_SIM_API extern const IID IID_IBaseFilter;
TOVIX_SIM_API extern const IID IID_IPin;
TOVIX_SIM_API extern const IID IID_IEnumPins;
TOVIX_SIM_API extern const IID IID_IEnumFilters;
TOVIX_SIM_API extern const IID IID_IEnumMediaTypes;
TOVIX_SIM_API extern const IID IID_IFilterGraph;
TOVIX_SIM_API extern const IID IID_IGraphBuilder;
TOVIX_SIM_API extern const IID IID_IFilterGraph2;
TOVIX_SIM_API extern const IID IID_IGraphVersion;
TOVIX_SIM_API extern const IID IID_IVideoFrameStep;
TOVIX_SIM_API extern const IID IID_IObjectWithSite;
TOVIX_SIM_API extern const IID IID_IMediaControl;
TOVIX_SIM_API extern const IID IID_IMediaEvent;
TOVIX_SIM_API extern const IID IID_IMediaEventEx;
TOVIX_SIM_API extern const IID IID_IMediaEventSink;
TOVIX_SIM_API extern const IID IID_IMediaPosition;
TOVIX_SIM_API extern const IID IID_IMediaSeeking;
TOVIX_SIM_API extern const IID IID_IBasicAudio;
TOVIX_SIM_API extern const IID IID_IBasicVideo;
TOVIX_SIM_API extern const IID IID_IBasicVideo2;
TOVIX_SIM_API extern const IID IID_IVideoWindow;
TOVIX_SIM_API extern const IID IID_IFileSourceFilter;
TOVIX_SIM_API extern const IID IID_IFilterInfo;
TOVIX_SIM_API extern const IID IID_IAMFilterMiscFlags;
TOVIX_SIM_API extern const IID IID_IReferenceClock;
TOVIX_SIM_API extern const IID IID_IAsyncReader;
TOVIX_SIM_API extern const IID IID_IMemInputPin;
TOVIX_SIM_API extern const CLSID CLSID_FilterGraph;
TOVIX_SIM_API extern const GUID MEDIATYPE_Video;
TOVIX_SIM_API extern const GUID MEDIATYPE_Audio;
TOVIX_SIM_API extern const GUID MEDIATYPE_Stream;
TOVIX_SIM_API extern const GUID MEDIASUBTYPE_MPEG2_PROGRAM;
TOVIX_SIM_API extern const GUID MEDIASUBTYPE_MPEG2_VIDEO;
TOVIX_SIM_API extern const GUID MEDIASUBTYPE_MPEG1Audio;
TOVIX_SIM_API extern const GUID TIME_FORMAT_MEDIA_TIME;
TOVIX_SIM_API extern const GUID TIME_FORMAT_NONE;
TOVIX_SIM_API extern const GUID TIME_FORMAT_FRAME;
TOVIX_SIM_API extern const GUID TIME_FORMAT_BYTE;
TOVIX_SIM_API extern const GUID TIME_FORMAT_SAMPLE;
TOVIX_SIM_API extern const GUID TIME_FORMAT_FIELD;

// Text for a DirectShow or COM result code; answers the number of characters
// written, or 0 when there is no text for the code.
TOVIX_SIM_API DWORD WINAPI AMGetErrorTextA(HRESULT hr, char* buffer, DWORD maxLen);
}

struct IReferenceClock : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                                 HEVENT event, DWORD_PTR* cookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME startTime,
                                                     REFERENCE_TIME periodTime,
                                                     HSEMAPHORE semaphore, DWORD_PTR* cookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR cookie) = 0;

  protected:
    ~IReferenceClock() = default;
};

struct IMediaFilter : IPersist {
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(DWORD msTimeout, FILTER_STATE* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) = 0;

  protected:
    ~IMediaFilter() = default;
};

struct IBaseFilter : IMediaFilter {
    virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendorInfo) = 0;

  protected:
    ~IBaseFilter() = default;
};

struct IPin : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector,
                                                        const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndOfStream() = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                                 double rate) = 0;

  protected:
    ~IPin() = default;
};

struct IEnumPins : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) = 0;

  protected:
    ~IEnumPins() = default;
};

struct IEnumFilters : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** clone) = 0;

  protected:
    ~IEnumFilters() = default;
};

struct IEnumMediaTypes : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) = 0;

  protected:
    ~IEnumMediaTypes() = default;
};

struct IFilterGraph : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** filters) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* out, IPin* in,
                                                    const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reconnect(IPin* pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() = 0;

  protected:
    ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin* out, IPin* in) = 0;
    virtual HRESULT STDMETHODCALLTYPE Render(IPin* out) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR file, LPCWSTR playList) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR file, LPCWSTR filterName,
                                                      IBaseFilter** filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR file) = 0;
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
    virtual HRESULT STDMETHODCALLTYPE ShouldOperationContinue() = 0;

  protected:
    ~IGraphBuilder() = default;
};

struct IFilterGraph2 : IGraphBuilder {
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker* moniker,
                                                                IBindCtx* context,
                                                                LPCWSTR filterName,
                                                                IBaseFilter** filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderEx(IPin* out, DWORD flags, DWORD* context) = 0;

  protected:
    ~IFilterGraph2() = default;
};

struct IGraphVersion : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryVersion(LONG* version) = 0;

  protected:
    ~IGraphVersion() = default;
};

struct IVideoFrameStep : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Step(DWORD frames, IUnknown* filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE CanStep(LONG multiple, IUnknown* filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelStep() = 0;

  protected:
    ~IVideoFrameStep() = default;
};

struct IObjectWithSite : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void** site) = 0;

  protected:
    ~IObjectWithSite() = default;
};

struct IMediaControl : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Run() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderFile(BSTR file) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR file, IDispatch** unk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** unk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** unk) = 0;
    virtual HRESULT STDMETHODCALLTYPE StopWhenReady() = 0;

  protected:
    ~IMediaControl() = default;
};

struct IMediaEvent : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* handle) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2,
                                               LONG msTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG* eventCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG eventCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG eventCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeEventParams(LONG eventCode, LONG_PTR param1,
                                                      LONG_PTR param2) = 0;

  protected:
    ~IMediaEvent() = default;
};

struct IMediaEventEx : IMediaEvent {
    virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG msg,
                                                      LONG_PTR instanceData) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG noNotifyFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* noNotifyFlags) = 0;

  protected:
    ~IMediaEventEx() = default;
};

struct IMediaEventSink : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;

  protected:
    ~IMediaEventSink() = default;
};

struct IMediaPosition : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME time) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME time) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME time) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Rate(double rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Rate(double* rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* canSeek) = 0;
    virtual HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG* canSeek) = 0;

  protected:
    ~IMediaPosition() = default;
};

struct IMediaSeeking : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                                        LONGLONG source,
                                                        const GUID* sourceFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags,
                                                   LONGLONG* stop, DWORD stopFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRate(double rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRate(double* rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) = 0;

  protected:
    ~IMediaSeeking() = default;
};

struct IBasicAudio : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE put_Volume(LONG volume) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Volume(LONG* volume) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Balance(LONG balance) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Balance(LONG* balance) = 0;

  protected:
    ~IBasicAudio() = default;
};

struct IBasicVideo : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_AvgTimePerFrame(REFTIME* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BitRate(LONG* rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BitErrorRate(LONG* rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VideoWidth(LONG* width) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VideoHeight(LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceLeft(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceLeft(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceWidth(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceWidth(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceTop(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceTop(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceHeight(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceHeight(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationLeft(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationLeft(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationWidth(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationWidth(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationTop(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationTop(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationHeight(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationHeight(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSourcePosition(LONG left, LONG top, LONG width,
                                                        LONG height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSourcePosition(LONG* left, LONG* top, LONG* width,
                                                        LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultSourcePosition() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDestinationPosition(LONG left, LONG top, LONG width,
                                                             LONG height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDestinationPosition(LONG* left, LONG* top, LONG* width,
                                                             LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultDestinationPosition() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoSize(LONG* width, LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoPaletteEntries(LONG start, LONG count,
                                                             LONG* retrieved, LONG* palette) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentImage(LONG* bufferSize, LONG* image) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingDefaultSource() = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingDefaultDestination() = 0;

  protected:
    ~IBasicVideo() = default;
};

struct IBasicVideo2 : IBasicVideo {
    virtual HRESULT STDMETHODCALLTYPE GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) = 0;

  protected:
    ~IBasicVideo2() = default;
};

struct IVideoWindow : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE put_Caption(BSTR caption) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Caption(BSTR* caption) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowStyleEx(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowStyleEx(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AutoShow(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AutoShow(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowState(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowState(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BackgroundPalette(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BackgroundPalette(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Visible(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Visible(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Left(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Left(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Width(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Width(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Top(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Top(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Height(LONG v) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Height(LONG* v) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Owner(OAHWND owner) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Owner(OAHWND* owner) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MessageDrain(OAHWND drain) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MessageDrain(OAHWND* drain) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BorderColor(LONG* color) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BorderColor(LONG color) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FullScreenMode(LONG* mode) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_FullScreenMode(LONG mode) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWindowForeground(LONG focus) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wParam,
                                                         LONG_PTR lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWindowPosition(LONG left, LONG top, LONG width,
                                                        LONG height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWindowPosition(LONG* left, LONG* top, LONG* width,
                                                        LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMinIdealImageSize(LONG* width, LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxIdealImageSize(LONG* width, LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestorePosition(LONG* left, LONG* top, LONG* width,
                                                         LONG* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE HideCursor(LONG hide) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsCursorHidden(LONG* hidden) = 0;

  protected:
    ~IVideoWindow() = default;
};

struct IFileSourceFilter : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) = 0;

  protected:
    ~IFileSourceFilter() = default;
};

// What a graph manager asks a filter that cannot be told by its pins: a
// renderer with an output pin (the decoder's overlay) says it is one here.
enum AM_FILTER_MISC_FLAGS {
    AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1,
    AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2
};

struct IAMFilterMiscFlags : IUnknown {
    virtual ULONG STDMETHODCALLTYPE GetMiscFlags() = 0;

  protected:
    ~IAMFilterMiscFlags() = default;
};

struct IFilterInfo : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE FindPin(BSTR id, IDispatch** unk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VendorInfo(BSTR* vendorInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Filter(IUnknown** unk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Pins(IDispatch** unk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsFileSource(LONG* isSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Filename(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Filename(BSTR name) = 0;

  protected:
    ~IFilterInfo() = default;
};

#endif // _WIN32
