// Base pin: the connection protocol between pins, pin information and the
// enumerator of a pin's media types.
#include "filter.h"

#include <cstring>
#include <string>

namespace sim {

namespace {

bool isComplete(const AM_MEDIA_TYPE* mt) {
    return mt && mt->majortype != GUID_NULL_TYPE && mt->subtype != GUID_NULL_TYPE;
}

LPWSTR taskString(const std::wstring& text) {
    size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    LPWSTR copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy)
        memcpy(copy, text.c_str(), bytes);
    return copy;
}

std::string narrowName(const std::wstring& name) {
    std::string out;
    for (wchar_t c : name)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Holds a reference on the pin (and so on its filter) whose types it walks,
// so that the pin outlives it.
class MediaTypeEnumerator : public IEnumMediaTypes, public ComObject {
  public:
    MediaTypeEnumerator(BasePin* pin, int position)
        : ComObject("MediaTypeEnumerator"), pin_(pin), position_(position) {
        pin_->AddRef();
    }
    ~MediaTypeEnumerator() override { pin_->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return queryInterface(this, riid, ppv,
                              {{&IID_IUnknown, static_cast<IEnumMediaTypes*>(this)},
                               {&IID_IEnumMediaTypes, static_cast<IEnumMediaTypes*>(this)}});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (!types || (count != 1 && !fetched))
            return E_POINTER;
        const std::vector<AM_MEDIA_TYPE>& all = pin_->proposedTypes();
        ULONG got = 0;
        while (got < count && position_ < static_cast<int>(all.size())) {
            AM_MEDIA_TYPE* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
            if (!mt || FAILED(copyMediaType(mt, &all[static_cast<size_t>(position_)]))) {
                CoTaskMemFree(mt);
                break;
            }
            position_++;
            types[got++] = mt;
        }
        if (fetched)
            *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        int total = static_cast<int>(pin_->proposedTypes().size());
        if (static_cast<ULONG>(total - position_) < count) {
            position_ = total;
            return S_FALSE;
        }
        position_ += static_cast<int>(count);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override {
        if (!clone)
            return E_POINTER;
        *clone = new MediaTypeEnumerator(pin_, position_);
        return S_OK;
    }

  private:
    BasePin* pin_;
    int position_;
};

} // namespace

// ---- Base pin ---------------------------------------------------------------

BasePin::BasePin(BaseFilter* owner, int index, const wchar_t* name, PIN_DIRECTION dir,
                 std::vector<AM_MEDIA_TYPE> types, std::vector<AM_MEDIA_TYPE> accept)
    : owner_(owner), index_(index), name_(name), dir_(dir), types_(std::move(types)),
      accept_(std::move(accept)) {
    std::string base = std::string(owner->className()) + "." + narrowName(name_);
    connectPoint_ = base + "::Connect";
    receivePoint_ = base + "::ReceiveConnection";
}

BasePin::~BasePin() {
    clearConnection();
    for (AM_MEDIA_TYPE& mt : types_)
        freeMediaType(&mt);
    for (AM_MEDIA_TYPE& mt : accept_)
        freeMediaType(&mt);
}

HRESULT BasePin::QueryInterface(REFIID riid, void** ppv) {
    void* p = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPin)
        p = static_cast<IPin*>(this);
    else
        p = owner_->pinInterface(this, riid);
    if (p)
        return queryInterface(owner_, riid, ppv, {{&riid, p}});
    return queryInterface(owner_, riid, ppv, {});
}

ULONG BasePin::AddRef() {
    return owner_->addRef();
}
ULONG BasePin::Release() {
    return owner_->release();
}

void BasePin::setProposedTypes(std::vector<AM_MEDIA_TYPE> types) {
    for (AM_MEDIA_TYPE& mt : types_)
        freeMediaType(&mt);
    types_ = std::move(types);
}

HRESULT BasePin::checkMediaType(const AM_MEDIA_TYPE* mt) const {
    if (!mt)
        return S_FALSE;
    const std::vector<AM_MEDIA_TYPE>& allowed = accept_.empty() ? types_ : accept_;
    if (allowed.empty())
        return S_OK;
    for (const AM_MEDIA_TYPE& a : allowed)
        if (mediaTypeMatches(mt, &a))
            return S_OK;
    return S_FALSE;
}

void BasePin::clearConnection() {
    if (peer_) {
        peer_->Release();
        peer_ = nullptr;
    }
    freeMediaType(&mt_);
    mt_ = AM_MEDIA_TYPE{};
}

HRESULT BasePin::attemptConnection(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (checkMediaType(mt) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    // The connection is recorded before the receiver is asked, as DirectShow
    // does, so that the receiver may already query it.
    peer_ = receivePin;
    peer_->AddRef();
    HRESULT hr = copyMediaType(&mt_, mt);
    if (SUCCEEDED(hr))
        hr = receivePin->ReceiveConnection(this, mt);
    if (FAILED(hr)) {
        clearConnection();
        return hr;
    }
    hr = owner_->onCompleteConnect(this, receivePin);
    if (FAILED(hr)) {
        receivePin->Disconnect();
        clearConnection();
        return hr;
    }
    owner_->onConnected(this);
    return S_OK;
}

HRESULT BasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (!receivePin)
        return E_POINTER;
    if (dir_ != PINDIR_OUTPUT)
        return E_UNEXPECTED;
    static const std::string generic = "IPin::Connect";
    HRESULT armed;
    if (faultFires(generic, &armed) || faultFires(connectPoint_, &armed))
        return FAILED(armed) ? armed : VFW_E_CANNOT_CONNECT;
    if (peer_)
        return VFW_E_ALREADY_CONNECTED;
    if (owner_->state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    PIN_DIRECTION otherDir;
    if (FAILED(receivePin->QueryDirection(&otherDir)) || otherDir != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;

    if (isComplete(mt))
        return attemptConnection(receivePin, mt);

    // A partial type (or none): our own proposals first, then the receiver's.
    for (const AM_MEDIA_TYPE& candidate : types_)
        if (mediaTypeMatches(&candidate, mt) &&
            SUCCEEDED(attemptConnection(receivePin, &candidate)))
            return S_OK;
    IEnumMediaTypes* theirs = nullptr;
    if (SUCCEEDED(receivePin->EnumMediaTypes(&theirs)) && theirs) {
        AM_MEDIA_TYPE* candidate = nullptr;
        bool connected = false;
        while (!connected && theirs->Next(1, &candidate, nullptr) == S_OK) {
            if (mediaTypeMatches(candidate, mt) &&
                SUCCEEDED(attemptConnection(receivePin, candidate)))
                connected = true;
            deleteMediaType(candidate);
        }
        theirs->Release();
        if (connected)
            return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT BasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt)
        return E_POINTER;
    if (dir_ != PINDIR_INPUT)
        return E_UNEXPECTED;
    static const std::string generic = "IPin::ReceiveConnection";
    HRESULT armed;
    if (faultFires(generic, &armed) || faultFires(receivePoint_, &armed))
        return FAILED(armed) ? armed : VFW_E_TYPE_NOT_ACCEPTED;
    if (peer_)
        return VFW_E_ALREADY_CONNECTED;
    if (owner_->state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    PIN_DIRECTION otherDir;
    if (FAILED(connector->QueryDirection(&otherDir)) || otherDir != PINDIR_OUTPUT)
        return VFW_E_INVALID_DIRECTION;
    if (checkMediaType(mt) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = copyMediaType(&mt_, mt);
    if (FAILED(hr))
        return hr;
    peer_ = connector;
    peer_->AddRef();
    hr = owner_->onCompleteConnect(this, connector);
    if (FAILED(hr)) {
        clearConnection();
        return hr;
    }
    owner_->onConnected(this);
    return S_OK;
}

HRESULT BasePin::Disconnect() {
    if (owner_->state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!peer_)
        return S_FALSE;
    clearConnection();
    owner_->onDisconnected(this);
    return S_OK;
}

HRESULT BasePin::ConnectedTo(IPin** pin) {
    if (!pin)
        return E_POINTER;
    *pin = peer_;
    if (!peer_)
        return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

HRESULT BasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    if (!peer_) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return copyMediaType(mt, &mt_);
}

HRESULT BasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info)
        return E_POINTER;
    info->pFilter = owner_;
    owner_->AddRef();
    info->dir = dir_;
    size_t n = name_.size() < MAX_PIN_NAME - 1 ? name_.size() : MAX_PIN_NAME - 1;
    for (size_t i = 0; i < n; i++)
        info->achName[i] = name_[i];
    info->achName[n] = 0;
    return S_OK;
}

HRESULT BasePin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir)
        return E_POINTER;
    *dir = dir_;
    return S_OK;
}

HRESULT BasePin::QueryId(LPWSTR* id) {
    if (!id)
        return E_POINTER;
    *id = taskString(name_);
    return *id ? S_OK : E_OUTOFMEMORY;
}

HRESULT BasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    return checkMediaType(mt);
}

HRESULT BasePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types)
        return E_POINTER;
    *types = new MediaTypeEnumerator(this, 0);
    return S_OK;
}

HRESULT BasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

HRESULT BasePin::EndOfStream() {
    return owner_->onEndOfStream(this);
}
HRESULT BasePin::BeginFlush() {
    return owner_->onBeginFlush(this);
}
HRESULT BasePin::EndFlush() {
    return owner_->onEndFlush(this);
}
HRESULT BasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return owner_->onNewSegment(this, start, stop, rate);
}

} // namespace sim
