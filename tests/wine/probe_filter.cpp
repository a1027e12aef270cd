#include "probe_filter.h"

#include <cstring>

namespace probe {

// ---- Journal ------------------------------------------------------------------------

void Journal::note(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.push_back(line);
}

std::vector<std::string> Journal::lines() {
    std::lock_guard<std::mutex> hold(lock_);
    return lines_;
}

void Journal::clear() {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.clear();
}

// ---- The pin ------------------------------------------------------------------------

// The filter's one pin lives as long as the filter and counts with it.
class Pin final : public IPin {
  public:
    Pin(Filter* owner, bool output) : owner_(owner), output_(output) {}
    ~Pin() {
        if (peer_)
            peer_->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IPin)
            return E_NOINTERFACE;
        *ppv = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

    // An output pin connects straight to the pin it is given, with no media
    // type: the probe filters take anything.
    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override {
        if (!receiver)
            return E_POINTER;
        if (!output_)
            return E_UNEXPECTED;
        if (peer_)
            return VFW_E_ALREADY_CONNECTED;
        HRESULT hr = receiver->ReceiveConnection(this, mt);
        if (FAILED(hr))
            return hr;
        peer_ = receiver;
        peer_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) override {
        if (!connector)
            return E_POINTER;
        if (output_)
            return E_UNEXPECTED;
        if (peer_)
            return VFW_E_ALREADY_CONNECTED;
        peer_ = connector;
        peer_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        if (!peer_)
            return S_FALSE;
        peer_->Release();
        peer_ = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
        if (!pin)
            return E_POINTER;
        *pin = peer_;
        if (!peer_)
            return VFW_E_NOT_CONNECTED;
        peer_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override {
        if (!mt)
            return E_POINTER;
        memset(mt, 0, sizeof *mt);
        return peer_ ? S_OK : VFW_E_NOT_CONNECTED;
    }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override {
        if (!info)
            return E_POINTER;
        memset(info, 0, sizeof *info);
        info->pFilter = owner_;
        owner_->AddRef();
        info->dir = output_ ? PINDIR_OUTPUT : PINDIR_INPUT;
        info->achName[0] = output_ ? L'o' : L'i';
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override {
        if (!dir)
            return E_POINTER;
        *dir = output_ ? PINDIR_OUTPUT : PINDIR_INPUT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
        if (!id)
            return E_POINTER;
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(2 * sizeof(WCHAR)));
        if (!*id)
            return E_OUTOFMEMORY;
        (*id)[0] = output_ ? L'o' : L'i';
        (*id)[1] = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override {
        if (types)
            *types = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override {
        return S_OK;
    }

  private:
    Filter* owner_;
    bool output_;
    IPin* peer_ = nullptr;
};

namespace {

// The filter's one pin, enumerated.
class OnePin final : public IEnumPins {
  public:
    explicit OnePin(IPin* pin, ULONG at = 0) : pin_(pin), at_(at) { pin_->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IEnumPins)
            return E_NOINTERFACE;
        *ppv = static_cast<IEnumPins*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (!left) {
            pin_->Release();
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (!pins)
            return E_POINTER;
        ULONG given = 0;
        if (count && at_ == 0) {
            pins[0] = pin_;
            pin_->AddRef();
            at_ = given = 1;
        }
        if (fetched)
            *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        ULONG left = 1 - at_;
        at_ = count >= left ? 1 : at_;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        at_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override {
        if (!clone)
            return E_POINTER;
        *clone = new OnePin(pin_, at_);
        return S_OK;
    }

  private:
    ULONG refs_ = 1;
    IPin* pin_;
    ULONG at_;
};

} // namespace

// ---- The filter ---------------------------------------------------------------------

Filter::Filter(const FilterShape& shape, Journal* journal)
    : name_(shape.name), shape_(shape), journal_(journal), pin_(new Pin(this, shape.output)),
      slowPause_(shape.slowPause), stop_(shape.stop) {}

Filter::~Filter() {
    delete pin_;
    if (clock_)
        clock_->Release();
}

IPin* Filter::pin() {
    return pin_;
}

HRESULT Filter::complete() {
    if (!graph_)
        return E_UNEXPECTED;
    IMediaEventSink* sink = nullptr;
    HRESULT hr = graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
    if (FAILED(hr))
        return hr;
    hr = sink->Notify(EC_COMPLETE, S_OK,
                      reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    sink->Release();
    return hr;
}

void Filter::reportState(HRESULT answer, FILTER_STATE state) {
    trueState_ = false;
    stateAnswer_ = answer;
    reportedState_ = state;
}

void Filter::reportTrueState() {
    trueState_ = true;
}

void Filter::changeTo(FILTER_STATE state, const char* word) {
    journal_->note(name_ + " " + word);
    state_ = state;
}

HRESULT Filter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
        riid == IID_IBaseFilter)
        *ppv = static_cast<IBaseFilter*>(this);
    else if (riid == IID_IMediaSeeking && shape_.seeking)
        *ppv = static_cast<IMediaSeeking*>(this);
    else if (riid == IID_IAMFilterMiscFlags && shape_.miscFlags)
        *ppv = static_cast<IAMFilterMiscFlags*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG Filter::AddRef() {
    return static_cast<ULONG>(++refs_);
}

ULONG Filter::Release() {
    long left = --refs_;
    if (!left)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT Filter::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    memset(clsid, 0, sizeof *clsid);
    return S_OK;
}

// A stop while a slow pause pends is slow too: it completes at settle().
HRESULT Filter::Stop() {
    changeTo(State_Stopped, "stopped");
    return pending_ ? S_FALSE : S_OK;
}

HRESULT Filter::Pause() {
    if (slowPause_ && state_ == State_Stopped)
        pending_ = true;
    changeTo(State_Paused, "paused");
    return pending_ ? S_FALSE : S_OK;
}

// A slow run is intermediate while running too, until it settles.
HRESULT Filter::Run(REFERENCE_TIME start) {
    runStart_ = start;
    if (shape_.slowRun)
        pending_ = true;
    changeTo(State_Running, "running");
    return pending_ ? S_FALSE : S_OK;
}

HRESULT Filter::GetState(DWORD, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    *state = trueState_ ? state_.load() : reportedState_;
    if (trueState_ && pending_ && (state_ != State_Running || shape_.slowRun))
        return VFW_S_STATE_INTERMEDIATE;
    return trueState_ ? trueAnswer_.load() : stateAnswer_;
}

HRESULT Filter::SetSyncSource(IReferenceClock* clock) {
    if (clock)
        clock->AddRef();
    if (clock_)
        clock_->Release();
    clock_ = clock;
    return S_OK;
}

HRESULT Filter::GetSyncSource(IReferenceClock** clock) {
    if (!clock)
        return E_POINTER;
    *clock = clock_;
    if (clock_)
        clock_->AddRef();
    return S_OK;
}

HRESULT Filter::EnumPins(IEnumPins** pins) {
    if (!pins)
        return E_POINTER;
    *pins = new OnePin(pin_);
    return S_OK;
}

HRESULT Filter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin)
        return E_POINTER;
    *pin = nullptr;
    if (id[0] != (shape_.output ? L'o' : L'i') || id[1])
        return VFW_E_NOT_FOUND;
    *pin = pin_;
    pin_->AddRef();
    return S_OK;
}

HRESULT Filter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info)
        return E_POINTER;
    memcpy(info->achName, graphName_, sizeof graphName_);
    info->pGraph = graph_;
    if (graph_)
        graph_->AddRef();
    return S_OK;
}

HRESULT Filter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    graph_ = graph;
    size_t i = 0;
    for (; name && name[i] && i + 1 < MAX_FILTER_NAME; i++)
        graphName_[i] = name[i];
    graphName_[i] = 0;
    return S_OK;
}

HRESULT Filter::QueryVendorInfo(LPWSTR* info) {
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

// ---- Seeking in media time ----------------------------------------------------------

HRESULT Filter::GetCapabilities(DWORD* capabilities) {
    if (!capabilities)
        return E_POINTER;
    *capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                    AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                    AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
    return S_OK;
}

HRESULT Filter::CheckCapabilities(DWORD* capabilities) {
    DWORD own = 0;
    GetCapabilities(&own);
    if (!capabilities)
        return E_POINTER;
    DWORD wanted = *capabilities;
    *capabilities &= own;
    return *capabilities == wanted ? S_OK : *capabilities ? S_FALSE : E_FAIL;
}

HRESULT Filter::IsFormatSupported(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT Filter::QueryPreferredFormat(GUID* format) {
    return GetTimeFormat(format);
}

HRESULT Filter::GetTimeFormat(GUID* format) {
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT Filter::IsUsingTimeFormat(const GUID* format) {
    return IsFormatSupported(format);
}

HRESULT Filter::SetTimeFormat(const GUID* format) {
    return IsFormatSupported(format) == S_OK ? S_OK : E_INVALIDARG;
}

HRESULT Filter::GetDuration(LONGLONG* duration) {
    if (!duration)
        return E_POINTER;
    *duration = shape_.stop;
    return S_OK;
}

HRESULT Filter::GetStopPosition(LONGLONG* stop) {
    if (!stop)
        return E_POINTER;
    *stop = stop_;
    return S_OK;
}

HRESULT Filter::GetCurrentPosition(LONGLONG* current) {
    if (!current)
        return E_POINTER;
    positionQuestions_++;
    *current = current_;
    return S_OK;
}

HRESULT Filter::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                  const GUID* sourceFormat) {
    if (!target)
        return E_POINTER;
    if ((targetFormat && *targetFormat != TIME_FORMAT_MEDIA_TIME) ||
        (sourceFormat && *sourceFormat != TIME_FORMAT_MEDIA_TIME))
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}

// Any seek lands at kSeekResult, which goes back to the caller; a stop is
// taken as asked.
HRESULT Filter::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                             DWORD stopFlags) {
    atSeek_ = state_;
    if (current && (currentFlags & AM_SEEKING_PositioningBitsMask)) {
        current_ = kSeekResult;
        *current = kSeekResult;
    }
    if (stop && (stopFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning)
        stop_ = *stop;
    return S_OK;
}

HRESULT Filter::GetPositions(LONGLONG* current, LONGLONG* stop) {
    if (current)
        *current = current_;
    if (stop)
        *stop = stop_;
    return S_OK;
}

HRESULT Filter::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    if (earliest)
        *earliest = 0;
    if (latest)
        *latest = shape_.stop;
    return S_OK;
}

HRESULT Filter::SetRate(double rate) {
    rate_ = rate;
    return S_OK;
}

HRESULT Filter::GetRate(double* rate) {
    if (!rate)
        return E_POINTER;
    *rate = rate_;
    return S_OK;
}

HRESULT Filter::GetPreroll(LONGLONG* preroll) {
    if (!preroll)
        return E_POINTER;
    *preroll = 0;
    return S_OK;
}

ULONG Filter::GetMiscFlags() {
    return renderer_ ? AM_FILTER_MISC_FLAGS_IS_RENDERER : 0;
}

} // namespace probe
