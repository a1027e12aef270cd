// Base filter and base pin of the simulated world's DirectShow filters.
//
// The base filter owns QueryInterface (IUnknown, IPersist, IMediaFilter,
// IBaseFilter), the one reference count, the state machine, the clock and
// graph membership, pin enumeration and FindPin. The base pin owns the
// connection protocol. A concrete filter only fills in the base filter's
// virtual hooks: its pins, its extra interfaces, what happens on a state
// change or a streaming call.
//
// Pins have no reference count of their own: their AddRef and Release are
// the owning filter's, as in DirectShow, so the ledger shows the filter.
//
// Fault points (see simctl::armFault):
//   "<class>::EnumPins"         EnumPins fails with the armed code (or hands
//                               back null with armNull)
//   "<class>::EnumPins:pin"     consulted for every pin an enumerator hands
//                               out; when it fires the enumeration ends there,
//                               so the filter shows fewer pins
//   "IPin::Connect", "<class>.<pin>::Connect"
//   "IPin::ReceiveConnection", "<class>.<pin>::ReceiveConnection"
//   "<class>::Run", "<class>::Pause", "<class>::Stop", "<class>::JoinFilterGraph"
//   "QueryInterface:<class>:<interface>" for the filter and its pins
#pragma once

#include "../com/runtime.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// Media types the card's filters speak that the SDK header set lacks.
extern const GUID MEDIASUBTYPE_Overlay; // the decoder's overlay connection
extern const GUID MEDIATYPE_Subpicture; // the demultiplexer's sub-picture stream
extern const GUID GUID_NULL_TYPE;       // all zero: "any" in a partial media type

// AM_MEDIA_TYPE helpers in DirectShow's conventions: the format block lives
// in task memory; a copy owns its own block.
HRESULT copyMediaType(AM_MEDIA_TYPE* dest, const AM_MEDIA_TYPE* src);
void freeMediaType(AM_MEDIA_TYPE* mt);   // frees the format block, keeps the struct
void deleteMediaType(AM_MEDIA_TYPE* mt); // frees block and struct (task memory)
AM_MEDIA_TYPE makeMediaType(REFGUID major, REFGUID sub);
// True when `partial` (whose null GUIDs mean "any") admits `mt`.
bool mediaTypeMatches(const AM_MEDIA_TYPE* mt, const AM_MEDIA_TYPE* partial);

class BaseFilter;

class BasePin : public IPin {
  public:
    // `types` are the types the pin proposes when connecting (output) or
    // lists through EnumMediaTypes; `accept` is what it accepts (empty: the
    // proposed ones, and when those are empty too, anything).
    BasePin(BaseFilter* owner, int index, const wchar_t* name, PIN_DIRECTION dir,
            std::vector<AM_MEDIA_TYPE> types, std::vector<AM_MEDIA_TYPE> accept = {});
    virtual ~BasePin();
    BasePin(const BasePin&) = delete;
    BasePin& operator=(const BasePin&) = delete;

    // IUnknown: the owning filter's count.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                         double rate) override;

    // S_OK when the pin takes `mt`, S_FALSE otherwise.
    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) const;

    BaseFilter* filter() const { return owner_; }
    int index() const { return index_; }
    const std::wstring& name() const { return name_; }
    PIN_DIRECTION direction() const { return dir_; }
    // The connected pin (no reference of the caller's), or null.
    IPin* peer() const { return peer_; }
    const AM_MEDIA_TYPE& mediaType() const { return mt_; }
    bool isConnected() const { return peer_ != nullptr; }
    const std::vector<AM_MEDIA_TYPE>& proposedTypes() const { return types_; }
    // New proposals, while unconnected (a source's type once it has a file).
    void setProposedTypes(std::vector<AM_MEDIA_TYPE> types);

  private:
    HRESULT attemptConnection(IPin* receivePin, const AM_MEDIA_TYPE* mt);
    void clearConnection();

    BaseFilter* owner_;
    int index_;
    std::wstring name_;
    PIN_DIRECTION dir_;
    std::vector<AM_MEDIA_TYPE> types_;
    std::vector<AM_MEDIA_TYPE> accept_;
    IPin* peer_ = nullptr; // one reference while connected
    AM_MEDIA_TYPE mt_{};
    std::string connectPoint_; // fault point names, built once
    std::string receivePoint_;
};

class BaseFilter : public IBaseFilter, public ComObject {
  public:
    BaseFilter(const char* className, REFCLSID clsid);
    ~BaseFilter() override;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;

    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD msTimeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendorInfo) override;

    // For concrete filters.
    int pinCount() const { return static_cast<int>(pins_.size()); }
    BasePin* pinAt(int index) const;
    // The state, the start time of the last run and the clock are read by
    // streaming threads and pollers while the graph changes them.
    FILTER_STATE state() const;
    REFERENCE_TIME startTime() const;
    // The filter's clock with a reference of the caller's, or null.
    IReferenceClock* clock() const;
    IFilterGraph* graph() const { return graph_; } // no reference: the graph owns us
    const std::wstring& filterName() const { return name_; }

    // Hooks. Every pointer handed out from extraInterface and pinInterface
    // counts its references on the filter.
    // An interface the filter answers besides its own, or null.
    virtual void* extraInterface(REFIID) { return nullptr; }
    // An interface one of the filter's pins answers besides IPin, or null.
    virtual void* pinInterface(BasePin*, REFIID) { return nullptr; }
    // A state change's own work; S_FALSE from onPause says the filter is not
    // ready yet (a renderer without data): the pause completes later.
    virtual HRESULT onStop() { return S_OK; }
    virtual HRESULT onPause() { return S_OK; }
    virtual HRESULT onRun(REFERENCE_TIME) { return S_OK; }
    // GetState's answer: S_OK once the state is complete, else
    // VFW_S_STATE_INTERMEDIATE after waiting at most `msTimeout` for it.
    virtual HRESULT onGetState(DWORD /*msTimeout*/) { return S_OK; }
    virtual void onJoinGraph(IFilterGraph*) {}
    // A connection is about to be made, the peer known: a failure refuses it.
    virtual HRESULT onCompleteConnect(BasePin*, IPin* /*peer*/) { return S_OK; }
    virtual void onConnected(BasePin*) {}
    virtual void onDisconnected(BasePin*) {}
    virtual HRESULT onEndOfStream(BasePin*) { return S_OK; }
    virtual HRESULT onBeginFlush(BasePin*) { return S_OK; }
    virtual HRESULT onEndFlush(BasePin*) { return S_OK; }
    virtual HRESULT onNewSegment(BasePin*, REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

    // Posts an event to the graph the filter is in (IMediaEventSink), if any;
    // a renderer's EC_COMPLETE carries the filter.
    void notifyGraph(LONG code, LONG_PTR param1, LONG_PTR param2);

  protected:
    // Pins are added in enumeration order by the concrete filter's
    // constructor.
    BasePin* addPin(const wchar_t* name, PIN_DIRECTION dir, std::vector<AM_MEDIA_TYPE> types,
                    std::vector<AM_MEDIA_TYPE> accept = {});
    // Takes out the pins from `index` on, disconnecting them first: they are
    // no longer enumerated or found, but stay alive as long as the filter,
    // for whoever still holds one. A splitter's outputs follow its stream.
    void removePinsFrom(int index);

  private:
    void setState(FILTER_STATE state);

    CLSID clsid_;
    // Guards state_, start_ and clock_; never held while a hook runs (the
    // graph changes one filter's state at a time).
    mutable std::mutex stateMutex_;
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME start_ = 0;
    IReferenceClock* clock_ = nullptr; // one reference while set
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    std::vector<std::unique_ptr<BasePin>> pins_;
    std::vector<std::unique_ptr<BasePin>> removedPins_;
};

// The creation function behind a class registration: a new object of T,
// asked for `riid` on the caller's behalf.
template <class T> HRESULT createObject(REFIID riid, void** ppv) {
    T* object = new T();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release(); // the creator's reference; the caller holds its own
    return hr;
}

} // namespace sim
