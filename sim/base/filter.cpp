// Base filter and its pin enumerator; the base pin is in base/pin.cpp.
#include "filter.h"
#include "world_wait.h"

#include <cstring>
#include <utility>

namespace sim {

extern const GUID MEDIASUBTYPE_Overlay = {
    0xE436EB7F, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
extern const GUID MEDIATYPE_Subpicture = {
    0xE06D802D, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
extern const GUID GUID_NULL_TYPE = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// ---- Media types ------------------------------------------------------------

HRESULT copyMediaType(AM_MEDIA_TYPE* dest, const AM_MEDIA_TYPE* src) {
    *dest = *src;
    dest->pbFormat = nullptr;
    if (src->cbFormat && src->pbFormat) {
        dest->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (!dest->pbFormat) {
            dest->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        memcpy(dest->pbFormat, src->pbFormat, src->cbFormat);
    } else {
        dest->cbFormat = 0;
    }
    if (dest->pUnk)
        dest->pUnk->AddRef();
    return S_OK;
}

void freeMediaType(AM_MEDIA_TYPE* mt) {
    if (mt->pbFormat)
        CoTaskMemFree(mt->pbFormat);
    mt->pbFormat = nullptr;
    mt->cbFormat = 0;
    if (mt->pUnk) {
        mt->pUnk->Release();
        mt->pUnk = nullptr;
    }
}

void deleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return;
    freeMediaType(mt);
    CoTaskMemFree(mt);
}

AM_MEDIA_TYPE makeMediaType(REFGUID major, REFGUID sub) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = major;
    mt.subtype = sub;
    mt.bFixedSizeSamples = FALSE;
    mt.bTemporalCompression = TRUE;
    mt.formattype = GUID_NULL_TYPE;
    return mt;
}

bool mediaTypeMatches(const AM_MEDIA_TYPE* mt, const AM_MEDIA_TYPE* partial) {
    if (!partial)
        return true;
    if (partial->majortype != GUID_NULL_TYPE && partial->majortype != mt->majortype)
        return false;
    if (partial->subtype != GUID_NULL_TYPE && partial->subtype != mt->subtype)
        return false;
    return true;
}

namespace {

// ---- Enumerators --------------------------------------------------------------
// Holds a reference on the filter whose pins it walks, so that the filter
// outlives it.

class PinEnumerator : public IEnumPins, public ComObject {
  public:
    PinEnumerator(BaseFilter* filter, int position)
        : ComObject("PinEnumerator"), filter_(filter), position_(position),
          point_(std::string(filter->className()) + "::EnumPins:pin") {
        filter_->AddRef();
    }
    ~PinEnumerator() override { filter_->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return queryInterface(this, riid, ppv,
                              {{&IID_IUnknown, static_cast<IEnumPins*>(this)},
                               {&IID_IEnumPins, static_cast<IEnumPins*>(this)}});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (!pins || (count != 1 && !fetched))
            return E_POINTER;
        ULONG got = 0;
        while (got < count && position_ < available()) {
            // A fault here ends the enumeration early: the filter shows
            // fewer pins than it has.
            if (fault(point_).fail) {
                truncatedAt_ = position_;
                break;
            }
            IPin* pin = filter_->pinAt(position_++);
            pin->AddRef();
            pins[got++] = pin;
        }
        if (fetched)
            *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        int left = available() - position_;
        if (static_cast<ULONG>(left) < count) {
            position_ = available();
            return S_FALSE;
        }
        position_ += static_cast<int>(count);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        truncatedAt_ = -1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override {
        if (!clone)
            return E_POINTER;
        *clone = new PinEnumerator(filter_, position_);
        return S_OK;
    }

  private:
    int available() const { return truncatedAt_ >= 0 ? truncatedAt_ : filter_->pinCount(); }

    BaseFilter* filter_;
    int position_;
    int truncatedAt_ = -1;
    std::string point_;
};

} // namespace

// ---- Base filter ------------------------------------------------------------

BaseFilter::BaseFilter(const char* className, REFCLSID clsid)
    : ComObject(className), clsid_(clsid) {}

BaseFilter::~BaseFilter() {
    pins_.clear();
    removedPins_.clear();
    if (clock_)
        clock_->Release();
}

BasePin* BaseFilter::addPin(const wchar_t* name, PIN_DIRECTION dir,
                            std::vector<AM_MEDIA_TYPE> types, std::vector<AM_MEDIA_TYPE> accept) {
    pins_.push_back(std::make_unique<BasePin>(this, pinCount(), name, dir, std::move(types),
                                              std::move(accept)));
    return pins_.back().get();
}

void BaseFilter::removePinsFrom(int index) {
    while (pinCount() > index) {
        std::unique_ptr<BasePin> pin = std::move(pins_.back());
        pins_.pop_back();
        pin->Disconnect();
        removedPins_.push_back(std::move(pin));
    }
}

BasePin* BaseFilter::pinAt(int index) const {
    if (index < 0 || index >= pinCount())
        return nullptr;
    return pins_[static_cast<size_t>(index)].get();
}

HRESULT BaseFilter::QueryInterface(REFIID riid, void** ppv) {
    void* p = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
        riid == IID_IBaseFilter)
        p = static_cast<IBaseFilter*>(this);
    else
        p = extraInterface(riid);
    if (p)
        return queryInterface(this, riid, ppv, {{&riid, p}});
    return queryInterface(this, riid, ppv, {});
}

HRESULT BaseFilter::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

void BaseFilter::notifyGraph(LONG code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = nullptr;
    if (graph_ &&
        SUCCEEDED(graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) &&
        sink) {
        sink->Notify(code, param1, param2);
        sink->Release();
    }
}

FILTER_STATE BaseFilter::state() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_;
}

REFERENCE_TIME BaseFilter::startTime() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return start_;
}

IReferenceClock* BaseFilter::clock() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (clock_)
        clock_->AddRef();
    return clock_;
}

// Whatever waits on the filter (a Receive held while paused) looks again.
void BaseFilter::setState(FILTER_STATE state) {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        state_ = state;
    }
    wakeWaiters();
}

HRESULT BaseFilter::Stop() {
    HRESULT armed;
    if (faultFires(faultPoint(className(), "Stop"), &armed))
        return armed;
    HRESULT hr = S_OK;
    if (state() != State_Stopped)
        hr = onStop();
    setState(State_Stopped);
    return hr;
}

HRESULT BaseFilter::Pause() {
    HRESULT armed;
    if (faultFires(faultPoint(className(), "Pause"), &armed))
        return armed;
    HRESULT hr = S_OK;
    if (state() != State_Paused)
        hr = onPause();
    if (SUCCEEDED(hr))
        setState(State_Paused);
    return hr;
}

HRESULT BaseFilter::Run(REFERENCE_TIME start) {
    HRESULT armed;
    if (faultFires(faultPoint(className(), "Run"), &armed))
        return armed;
    // A stopped filter passes through paused on its way to running; a pause
    // that has not completed makes the run's answer S_FALSE too.
    HRESULT paused = S_OK;
    if (state() == State_Stopped) {
        paused = Pause();
        if (FAILED(paused))
            return paused;
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        start_ = start;
    }
    HRESULT hr = S_OK;
    if (state() != State_Running)
        hr = onRun(start);
    if (SUCCEEDED(hr))
        setState(State_Running);
    return hr == S_OK ? paused : hr;
}

HRESULT BaseFilter::GetState(DWORD msTimeout, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    HRESULT hr = onGetState(msTimeout);
    *state = this->state();
    return hr;
}

HRESULT BaseFilter::SetSyncSource(IReferenceClock* clock) {
    if (clock)
        clock->AddRef();
    IReferenceClock* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        old = clock_;
        clock_ = clock;
    }
    if (old)
        old->Release();
    return S_OK;
}

HRESULT BaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock)
        return E_POINTER;
    *clock = this->clock();
    return S_OK;
}

HRESULT BaseFilter::EnumPins(IEnumPins** pins) {
    if (!pins)
        return E_POINTER;
    *pins = nullptr;
    HRESULT armed;
    if (faultFires(faultPoint(className(), "EnumPins"), &armed))
        return armed;
    *pins = new PinEnumerator(this, 0);
    return S_OK;
}

HRESULT BaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin)
        return E_POINTER;
    for (const auto& p : pins_) {
        if (p->name() == id) {
            *pin = p.get();
            p->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info)
        return E_POINTER;
    size_t n = name_.size() < MAX_FILTER_NAME - 1 ? name_.size() : MAX_FILTER_NAME - 1;
    for (size_t i = 0; i < n; i++)
        info->achName[i] = name_[i];
    info->achName[n] = 0;
    info->pGraph = graph_;
    if (graph_)
        graph_->AddRef();
    return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    HRESULT armed;
    if (faultFires(faultPoint(className(), "JoinFilterGraph"), &armed))
        return armed;
    // No reference: the graph holds the filter, and a reference back would
    // keep both alive for ever.
    graph_ = graph;
    name_ = name ? name : L"";
    onJoinGraph(graph);
    return S_OK;
}

HRESULT BaseFilter::QueryVendorInfo(LPWSTR* vendorInfo) {
    if (vendorInfo)
        *vendorInfo = nullptr;
    return E_NOTIMPL;
}

} // namespace sim
