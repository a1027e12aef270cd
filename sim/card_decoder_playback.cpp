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
#include "card_decoder_picture.h"
#include "control_graph.h"
#include "graph_clock.h"
#include "graph_manager.h"
#include "media_stream.h"

#include <cmath>
#include <mutex>

namespace sim {

namespace {

const double kMaxRate = 8.0;

class DecoderPlayback : public FilterExtension,
                        public IMediaPosition,
                        public IMediaSeeking,
                        public IAMFilterMiscFlags,
                        public ISimTimedRenderer {
  public:
    explicit DecoderPlayback(BaseFilter* filter) : filter_(filter), picture_(filter) {}

    // ---- FilterExtension ----
    void* queryInterface(REFIID riid) override {
        if (riid == IID_IMediaPosition)
            return static_cast<IMediaPosition*>(this);
        if (riid == IID_IMediaSeeking)
            return static_cast<IMediaSeeking*>(this);
        if (riid == IID_IBasicAudio)
            return static_cast<IBasicAudio*>(&picture_);
        if (riid == IID_IBasicVideo)
            return static_cast<IBasicVideo*>(&picture_);
        if (riid == IID_IBasicVideo2)
            return static_cast<IBasicVideo2*>(&picture_);
        if (riid == IID_IAMFilterMiscFlags)
            return static_cast<IAMFilterMiscFlags*>(this);
        if (riid == IID_ISimTimedRenderer)
            return static_cast<ISimTimedRenderer*>(this);
        return nullptr;
    }
    HRESULT onPause() override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (filter_->state() == State_Running)
            position_ = position();
        return S_OK;
    }
    HRESULT onRun(REFERENCE_TIME) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        rebase(position_);
        return S_OK;
    }
    HRESULT onStop() override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (filter_->state() == State_Running)
            position_ = position();
        return S_OK;
    }
    void onConnected(BasePin* pin) override {
        if (pin->index() == kDecoderVideoIn) {
            picture_.resetToStream();
        }
    }
    void onDisconnected(BasePin* pin) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
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
        {
            std::lock_guard<std::recursive_mutex> lock(mutex_);
            if (filter_->state() != State_Running || posted_)
                return;
            MediaInfo info;
            if (FAILED(streamInfo(&info)) || info.growing)
                return;
            if (position() < info.duration())
                return;
            posted_ = true;
        }
        // Told outside the lock: the graph may be calling in from another
        // thread with its own lock held.
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
        std::lock_guard<std::recursive_mutex> lock(mutex_);
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
        std::lock_guard<std::recursive_mutex> lock(mutex_);
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
        std::lock_guard<std::recursive_mutex> lock(mutex_);
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
        std::lock_guard<std::recursive_mutex> lock(mutex_);
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

  private:
    static const DWORD kCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                       AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                                       AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

    static LONGLONG toUnits(double seconds) {
        return static_cast<LONGLONG>(std::llround(seconds * kUnitsPerSecond));
    }

    static HRESULT faultAt(const char* method) { return decoderFault(method); }

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

    HRESULT streamInfo(MediaInfo* info) const { return decoderStreamInfo(filter_, info); }

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

    void record() const { recordPlayback(rate_, position_); }

    BaseFilter* filter_;
    double position_ = 0.0;   // seconds at base_ (or now, when not running)
    REFERENCE_TIME base_ = 0; // clock time the position was last fixed
    double rate_ = 1.0;
    bool posted_ = false; // EC_COMPLETE sent for the current run to the end
    // Guards the above: where the system's graph manager runs the decoder, a
    // thread of the world's polls it while the application calls in.
    std::recursive_mutex mutex_;
    DecoderPicture picture_;
};

FilterExtensionRegistrar gRegistrar(kDecoderClassName, [](BaseFilter* filter) -> FilterExtension* {
    return new DecoderPlayback(filter);
});

} // namespace

} // namespace sim
