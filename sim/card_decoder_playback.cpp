// The decoder filter as the graph's renderer: it plays on the graph's clock
// at the rate set, reports the stream's duration and its position, holds the
// volume, reports the video size from the stream's sequence header, keeps
// the destination rectangle, and tells the graph through IMediaEventSink
// when the stream has played to its end.
//
// Nothing runs on a thread: the position is worked out from the clock when
// asked, and the end is noticed when the graph polls (ISimTimedRenderer).
// A stream still being written has no end yet: the position stops at what
// has been written, and EC_COMPLETE waits until the file is complete.
#include "card_decoder.h"
#include "control_graph.h"
#include "graph_clock.h"
#include "graph_manager.h"
#include "media_stream.h"

#include <cmath>
#include <mutex>

namespace sim {

namespace {

const LONG kSilent = -10000;
const double kMaxRate = 8.0;

std::mutex gRecordMutex;
simctl::RendererRecord gRecord;

class DecoderPlayback : public FilterExtension,
                        public IMediaPosition,
                        public IMediaSeeking,
                        public IBasicAudio,
                        public IBasicVideo2,
                        public IAMFilterMiscFlags,
                        public ISimTimedRenderer {
  public:
    explicit DecoderPlayback(BaseFilter* filter) : filter_(filter) {}

    // ---- FilterExtension ----
    void* queryInterface(REFIID riid) override {
        if (riid == IID_IMediaPosition)
            return static_cast<IMediaPosition*>(this);
        if (riid == IID_IMediaSeeking)
            return static_cast<IMediaSeeking*>(this);
        if (riid == IID_IBasicAudio)
            return static_cast<IBasicAudio*>(this);
        if (riid == IID_IBasicVideo)
            return static_cast<IBasicVideo*>(this);
        if (riid == IID_IBasicVideo2)
            return static_cast<IBasicVideo2*>(this);
        if (riid == IID_IAMFilterMiscFlags)
            return static_cast<IAMFilterMiscFlags*>(this);
        if (riid == IID_ISimTimedRenderer)
            return static_cast<ISimTimedRenderer*>(this);
        return nullptr;
    }
    HRESULT onPause() override {
        if (filter_->state() == State_Running)
            position_ = position();
        return S_OK;
    }
    HRESULT onRun(REFERENCE_TIME) override {
        rebase(position_);
        return S_OK;
    }
    HRESULT onStop() override {
        if (filter_->state() == State_Running)
            position_ = position();
        return S_OK;
    }
    void onConnected(BasePin* pin) override {
        if (pin->index() == kDecoderVideoIn) {
            MediaInfo info = mediaInfo();
            destination_ = RECT{0, 0, info.width, info.height};
            source_ = destination_;
            record();
        }
    }
    void onDisconnected(BasePin* pin) override {
        if (pin->index() != kDecoderOverlayOut) {
            position_ = 0;
            posted_ = false;
        }
    }

    // ---- IUnknown: the decoder's identity and its one count ----
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return filter_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return filter_->addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return filter_->release(); }

    // ---- IDispatch: not offered ----
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // ---- IAMFilterMiscFlags ----
    // The overlay output pin would make a graph manager take the decoder for
    // a transform filter; it is the graph's renderer: its completion and its
    // position are the graph's.
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    // ---- ISimTimedRenderer ----
    void STDMETHODCALLTYPE Poll() override {
        if (filter_->state() != State_Running || posted_)
            return;
        MediaInfo info;
        if (FAILED(streamInfo(&info)) || info.growing)
            return;
        if (position() < info.duration())
            return;
        posted_ = true;
        IFilterGraph* graph = filter_->graph();
        IMediaEventSink* sink = nullptr;
        if (graph &&
            SUCCEEDED(
                graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) &&
            sink) {
            sink->Notify(EC_COMPLETE, S_OK,
                         reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter_)));
            sink->Release();
        }
    }

    // ---- IMediaPosition ----
    HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* length) override {
        if (!length)
            return E_POINTER;
        HRESULT hr = faultAt("get_Duration");
        if (FAILED(hr))
            return hr;
        MediaInfo info;
        hr = streamInfo(&info);
        if (FAILED(hr))
            return hr;
        *length = info.duration();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME time) override {
        HRESULT hr = faultAt("put_CurrentPosition");
        if (FAILED(hr))
            return hr;
        MediaInfo info;
        hr = streamInfo(&info);
        if (FAILED(hr))
            return hr;
        if (!(time > 0.0))
            time = 0.0;
        if (time > info.duration())
            time = info.duration();
        rebase(time);
        posted_ = false;
        record();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME* time) override {
        if (!time)
            return E_POINTER;
        HRESULT hr = faultAt("get_CurrentPosition");
        if (FAILED(hr))
            return hr;
        *time = position();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* time) override { return get_Duration(time); }
    HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME* time) override {
        if (!time)
            return E_POINTER;
        *time = 0.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Rate(double rate) override {
        HRESULT hr = faultAt("put_Rate");
        if (FAILED(hr))
            return hr;
        // The card plays forwards only, and not faster than its fast scan.
        if (!(rate > 0.0) || rate > kMaxRate)
            return E_INVALIDARG;
        rebase(position());
        rate_ = rate;
        record();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Rate(double* rate) override {
        if (!rate)
            return E_POINTER;
        HRESULT hr = faultAt("get_Rate");
        if (FAILED(hr))
            return hr;
        *rate = rate_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* canSeek) override {
        if (!canSeek)
            return E_POINTER;
        *canSeek = OATRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG* canSeek) override {
        return CanSeekForward(canSeek);
    }

    // ---- IMediaSeeking (media time, 100 ns units) ----
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override {
        if (!capabilities)
            return E_POINTER;
        HRESULT hr = faultAt("GetCapabilities");
        if (FAILED(hr))
            return hr;
        *capabilities = kCapabilities;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override {
        if (!capabilities)
            return E_POINTER;
        DWORD wanted = *capabilities;
        *capabilities &= kCapabilities;
        if (*capabilities == wanted)
            return S_OK;
        return *capabilities ? S_FALSE : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override {
        if (!format)
            return E_POINTER;
        return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override {
        if (!format)
            return E_POINTER;
        *format = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override {
        return QueryPreferredFormat(format);
    }
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override {
        return IsFormatSupported(format);
    }
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override {
        if (!format)
            return E_POINTER;
        return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override {
        if (!duration)
            return E_POINTER;
        REFTIME seconds = 0;
        HRESULT hr = get_Duration(&seconds);
        *duration = toUnits(seconds);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override { return GetDuration(stop); }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override {
        if (!current)
            return E_POINTER;
        REFTIME seconds = 0;
        HRESULT hr = get_CurrentPosition(&seconds);
        *current = toUnits(seconds);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                                LONGLONG source,
                                                const GUID* sourceFormat) override {
        if (!target)
            return E_POINTER;
        if ((targetFormat && *targetFormat != TIME_FORMAT_MEDIA_TIME) ||
            (sourceFormat && *sourceFormat != TIME_FORMAT_MEDIA_TIME))
            return E_INVALIDARG;
        *target = source;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG*,
                                           DWORD) override {
        DWORD how = currentFlags & AM_SEEKING_PositioningBitsMask;
        if (how == AM_SEEKING_NoPositioning)
            return S_OK;
        if (!current)
            return E_POINTER;
        double seconds = static_cast<double>(*current) / kUnitsPerSecond;
        if (how == AM_SEEKING_RelativePositioning)
            seconds += position();
        else if (how != AM_SEEKING_AbsolutePositioning)
            return E_INVALIDARG;
        return put_CurrentPosition(seconds);
    }
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override {
        if (current) {
            HRESULT hr = GetCurrentPosition(current);
            if (FAILED(hr))
                return hr;
        }
        return stop ? GetStopPosition(stop) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
        if (earliest)
            *earliest = 0;
        return latest ? GetDuration(latest) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override { return put_Rate(rate); }
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override { return get_Rate(rate); }
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override {
        if (!preroll)
            return E_POINTER;
        *preroll = 0;
        return S_OK;
    }

    // ---- IBasicAudio ----
    HRESULT STDMETHODCALLTYPE put_Volume(LONG volume) override {
        HRESULT hr = faultAt("put_Volume");
        if (FAILED(hr))
            return hr;
        if (volume < kSilent || volume > 0)
            return E_INVALIDARG;
        volume_ = volume;
        record();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Volume(LONG* volume) override {
        if (!volume)
            return E_POINTER;
        HRESULT hr = faultAt("get_Volume");
        if (FAILED(hr))
            return hr;
        *volume = volume_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Balance(LONG balance) override {
        if (balance < -10000 || balance > 10000)
            return E_INVALIDARG;
        balance_ = balance;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Balance(LONG* balance) override {
        if (!balance)
            return E_POINTER;
        *balance = balance_;
        return S_OK;
    }

    // ---- IBasicVideo / IBasicVideo2 ----
    HRESULT STDMETHODCALLTYPE get_AvgTimePerFrame(REFTIME* time) override {
        if (!time)
            return E_POINTER;
        MediaInfo info;
        HRESULT hr = videoInfo(&info);
        if (FAILED(hr))
            return hr;
        *time = info.frameRate > 0 ? 1.0 / info.frameRate : 0.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BitRate(LONG* rate) override { return zero(rate); }
    HRESULT STDMETHODCALLTYPE get_BitErrorRate(LONG* rate) override { return zero(rate); }
    HRESULT STDMETHODCALLTYPE get_VideoWidth(LONG* width) override {
        LONG height = 0;
        return videoSize("get_VideoWidth", width, &height);
    }
    HRESULT STDMETHODCALLTYPE get_VideoHeight(LONG* height) override {
        LONG width = 0;
        return videoSize("get_VideoHeight", &width, height);
    }
    HRESULT STDMETHODCALLTYPE put_SourceLeft(LONG v) override { return setSide(source_, 0, v); }
    HRESULT STDMETHODCALLTYPE get_SourceLeft(LONG* v) override { return side(source_, 0, v); }
    HRESULT STDMETHODCALLTYPE put_SourceWidth(LONG v) override { return setSide(source_, 2, v); }
    HRESULT STDMETHODCALLTYPE get_SourceWidth(LONG* v) override { return side(source_, 2, v); }
    HRESULT STDMETHODCALLTYPE put_SourceTop(LONG v) override { return setSide(source_, 1, v); }
    HRESULT STDMETHODCALLTYPE get_SourceTop(LONG* v) override { return side(source_, 1, v); }
    HRESULT STDMETHODCALLTYPE put_SourceHeight(LONG v) override { return setSide(source_, 3, v); }
    HRESULT STDMETHODCALLTYPE get_SourceHeight(LONG* v) override { return side(source_, 3, v); }
    HRESULT STDMETHODCALLTYPE put_DestinationLeft(LONG v) override {
        return setSide(destination_, 0, v);
    }
    HRESULT STDMETHODCALLTYPE get_DestinationLeft(LONG* v) override {
        return side(destination_, 0, v);
    }
    HRESULT STDMETHODCALLTYPE put_DestinationWidth(LONG v) override {
        return setSide(destination_, 2, v);
    }
    HRESULT STDMETHODCALLTYPE get_DestinationWidth(LONG* v) override {
        return side(destination_, 2, v);
    }
    HRESULT STDMETHODCALLTYPE put_DestinationTop(LONG v) override {
        return setSide(destination_, 1, v);
    }
    HRESULT STDMETHODCALLTYPE get_DestinationTop(LONG* v) override {
        return side(destination_, 1, v);
    }
    HRESULT STDMETHODCALLTYPE put_DestinationHeight(LONG v) override {
        return setSide(destination_, 3, v);
    }
    HRESULT STDMETHODCALLTYPE get_DestinationHeight(LONG* v) override {
        return side(destination_, 3, v);
    }
    HRESULT STDMETHODCALLTYPE SetSourcePosition(LONG left, LONG top, LONG width,
                                                LONG height) override {
        return setRect(source_, left, top, width, height);
    }
    HRESULT STDMETHODCALLTYPE GetSourcePosition(LONG* left, LONG* top, LONG* width,
                                                LONG* height) override {
        return getRect(source_, left, top, width, height);
    }
    HRESULT STDMETHODCALLTYPE SetDefaultSourcePosition() override {
        MediaInfo info = mediaInfo();
        source_ = RECT{0, 0, info.width, info.height};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDestinationPosition(LONG left, LONG top, LONG width,
                                                     LONG height) override {
        HRESULT hr = faultAt("SetDestinationPosition");
        if (FAILED(hr))
            return hr;
        hr = setRect(destination_, left, top, width, height);
        record();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetDestinationPosition(LONG* left, LONG* top, LONG* width,
                                                     LONG* height) override {
        return getRect(destination_, left, top, width, height);
    }
    HRESULT STDMETHODCALLTYPE SetDefaultDestinationPosition() override {
        MediaInfo info = mediaInfo();
        destination_ = RECT{0, 0, info.width, info.height};
        record();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVideoSize(LONG* width, LONG* height) override {
        return videoSize("GetVideoSize", width, height);
    }
    HRESULT STDMETHODCALLTYPE GetVideoPaletteEntries(LONG, LONG, LONG* retrieved, LONG*) override {
        if (retrieved)
            *retrieved = 0;
        return VFW_E_NO_PALETTE_AVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentImage(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsUsingDefaultSource() override {
        MediaInfo info = mediaInfo();
        return (source_.left == 0 && source_.top == 0 && source_.right == info.width &&
                source_.bottom == info.height)
                   ? S_OK
                   : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE IsUsingDefaultDestination() override {
        MediaInfo info = mediaInfo();
        return (destination_.left == 0 && destination_.top == 0 &&
                destination_.right == info.width && destination_.bottom == info.height)
                   ? S_OK
                   : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) override {
        if (!aspectX || !aspectY)
            return E_POINTER;
        MediaInfo info;
        HRESULT hr = videoInfo(&info);
        if (FAILED(hr))
            return hr;
        // The sequence header's display aspect codes: 2 is 4:3, 3 is 16:9,
        // 4 is 2.21:1; anything else shows square pixels.
        switch (info.aspectCode) {
        case 2:
            *aspectX = 4, *aspectY = 3;
            break;
        case 3:
            *aspectX = 16, *aspectY = 9;
            break;
        case 4:
            *aspectX = 221, *aspectY = 100;
            break;
        default:
            *aspectX = info.width, *aspectY = info.height;
            break;
        }
        return S_OK;
    }

  private:
    static const DWORD kCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                       AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                                       AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

    static LONGLONG toUnits(double seconds) {
        return static_cast<LONGLONG>(std::llround(seconds * kUnitsPerSecond));
    }

    // An armed fault point of the decoder's renderer side answers its code.
    static HRESULT faultAt(const char* method) {
        Fault f = fault(std::string("DecoderFilter::") + method);
        return f.fail && FAILED(f.hr) ? f.hr : S_OK;
    }

    REFERENCE_TIME now() const {
        REFERENCE_TIME t = clockNow();
        if (IReferenceClock* clock = filter_->clock())
            clock->GetTime(&t);
        return t;
    }

    void rebase(double position) {
        position_ = position;
        base_ = now();
    }

    // The stream as the connected input pins see it; video first.
    HRESULT streamInfo(MediaInfo* info) const {
        HRESULT hr = upstreamMediaInfo(filter_->pinAt(kDecoderVideoIn), info);
        if (FAILED(hr))
            hr = upstreamMediaInfo(filter_->pinAt(kDecoderAudioIn), info);
        return hr;
    }
    MediaInfo mediaInfo() const {
        MediaInfo info;
        streamInfo(&info);
        return info;
    }
    HRESULT videoInfo(MediaInfo* info) const {
        HRESULT hr = upstreamMediaInfo(filter_->pinAt(kDecoderVideoIn), info);
        if (FAILED(hr))
            return hr;
        return info->width > 0 ? S_OK : VFW_E_NOT_CONNECTED;
    }
    HRESULT videoSize(const char* method, LONG* width, LONG* height) const {
        if (!width || !height)
            return E_POINTER;
        HRESULT hr = faultAt(method);
        if (FAILED(hr))
            return hr;
        MediaInfo info;
        hr = videoInfo(&info);
        if (FAILED(hr))
            return hr;
        *width = info.width;
        *height = info.height;
        return S_OK;
    }

    // Seconds into the stream: frozen unless running, then moving with the
    // clock at the rate, and never past what the stream holds. Playback that
    // reaches the end of what has been written waits there: the position is
    // fixed at that point, so that it moves on from it once the file grows.
    double position() {
        double p = position_;
        REFERENCE_TIME t = now();
        bool running = filter_->state() == State_Running;
        if (running)
            p += static_cast<double>(t - base_) / kUnitsPerSecond * rate_;
        MediaInfo info;
        if (SUCCEEDED(streamInfo(&info)) && p > info.duration()) {
            p = info.duration();
            if (running) {
                position_ = p;
                base_ = t;
            }
        }
        return p < 0 ? 0 : p;
    }

    static HRESULT zero(LONG* v) {
        if (!v)
            return E_POINTER;
        *v = 0;
        return S_OK;
    }
    // Rectangles are kept as left, top, width, height in RECT's four fields.
    static LONG& field(RECT& r, int which) {
        return which == 0 ? r.left : which == 1 ? r.top : which == 2 ? r.right : r.bottom;
    }
    static HRESULT side(RECT r, int which, LONG* v) {
        if (!v)
            return E_POINTER;
        *v = field(r, which);
        return S_OK;
    }
    static HRESULT setSide(RECT& r, int which, LONG v) {
        if (which >= 2 && v <= 0)
            return E_INVALIDARG;
        field(r, which) = v;
        return S_OK;
    }
    static HRESULT setRect(RECT& r, LONG left, LONG top, LONG width, LONG height) {
        if (width <= 0 || height <= 0)
            return E_INVALIDARG;
        r = RECT{left, top, width, height};
        return S_OK;
    }
    static HRESULT getRect(const RECT& r, LONG* left, LONG* top, LONG* width, LONG* height) {
        if (!left || !top || !width || !height)
            return E_POINTER;
        *left = r.left, *top = r.top, *width = r.right, *height = r.bottom;
        return S_OK;
    }

    void record() const {
        std::lock_guard<std::mutex> lock(gRecordMutex);
        gRecord.volume = volume_;
        gRecord.rate = rate_;
        gRecord.destLeft = destination_.left;
        gRecord.destTop = destination_.top;
        gRecord.destWidth = destination_.right;
        gRecord.destHeight = destination_.bottom;
        gRecord.position = position_;
    }

    BaseFilter* filter_;
    double position_ = 0.0;   // seconds at base_ (or now, when not running)
    REFERENCE_TIME base_ = 0; // clock time the position was last fixed
    double rate_ = 1.0;
    bool posted_ = false; // EC_COMPLETE sent for the current run to the end
    LONG volume_ = 0;
    LONG balance_ = 0;
    RECT source_{0, 0, 0, 0};
    RECT destination_{0, 0, 0, 0};
};

FilterExtensionRegistrar gRegistrar(kDecoderClassName, [](BaseFilter* filter) -> FilterExtension* {
    return new DecoderPlayback(filter);
});

} // namespace

} // namespace sim

namespace simctl {

RendererRecord renderer() {
    std::lock_guard<std::mutex> lock(sim::gRecordMutex);
    return sim::gRecord;
}

} // namespace simctl
