// The graph's membership and wiring: AddFilter, RemoveFilter, EnumFilters,
// ConnectDirect and the rest of IFilterGraph, the graph's version and site,
// the graph's own trace, and the class registration of CLSID_FilterGraph.
#include "manager.h"

#include "../control_graph.h"
#include "internal.h"

#include <algorithm>

#include "../../src/platform/win32.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>

namespace sim {

namespace {

// Filters in a graph are enumerated newest first. An enumerator notices a
// change of membership after its creation or last Reset, as DirectShow's
// does, and answers VFW_E_ENUM_OUT_OF_SYNC until it is reset.
class FilterEnumerator : public IEnumFilters, public ComObject {
  public:
    FilterEnumerator(FilterGraph* graph, size_t position, unsigned version)
        : ComObject("FilterEnumerator"), graph_(graph), position_(position), version_(version) {
        graph_->AddRef();
    }
    ~FilterEnumerator() override { graph_->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return queryInterface(this, riid, ppv,
                              {{&IID_IUnknown, static_cast<IEnumFilters*>(this)},
                               {&IID_IEnumFilters, static_cast<IEnumFilters*>(this)}});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
        if (fetched)
            *fetched = 0;
        if (!filters || (count != 1 && !fetched))
            return E_POINTER;
        if (version_ != graph_->version())
            return VFW_E_ENUM_OUT_OF_SYNC;
        const auto& members = graph_->members();
        ULONG n = 0;
        while (n < count && position_ < members.size()) {
            filters[n] = members[position_++].filter;
            filters[n]->AddRef();
            n++;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    // Windows answers E_INVALIDARG to any skip from the end (an empty
    // graph's start included), and S_FALSE to one that runs past it.
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        if (version_ != graph_->version())
            return VFW_E_ENUM_OUT_OF_SYNC;
        size_t size = graph_->members().size();
        if (position_ >= size)
            return E_INVALIDARG;
        if (position_ + count > size) {
            position_ = size;
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        version_ = graph_->version();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** clone) override {
        if (!clone)
            return E_POINTER;
        *clone = new FilterEnumerator(graph_, position_, version_);
        return S_OK;
    }

  private:
    FilterGraph* graph_; // one reference
    size_t position_;
    unsigned version_;
};

std::mutex gCurrentMutex;
FilterGraph* gCurrent = nullptr; // the most recent graph, no reference
std::vector<std::string> gTrace;

HRESULT createGraph(REFIID riid, void** ppv) {
    FilterGraph* graph = new FilterGraph();
    HRESULT hr = graph->QueryInterface(riid, ppv);
    graph->Release();
    return hr;
}

ClassRegistrar gRegistrar(CLSID_FilterGraph, "FilterGraph", createGraph);

} // namespace

FilterGraph* currentGraph() {
    std::lock_guard<std::mutex> lock(gCurrentMutex);
    return gCurrent;
}

FilterGraph::FilterGraph() : ComObject("FilterGraph"), timeFormat_(TIME_FORMAT_MEDIA_TIME) {
    std::lock_guard<std::mutex> lock(gCurrentMutex);
    gCurrent = this;
    gTrace.clear();
}

FilterGraph::~FilterGraph() {
    // What an application leaves in the graph leaves with it, stopped first
    // (straight from running, as Windows does; renderers first, so that no
    // streaming thread is left waiting on one), whether it stops or not.
    endPendingRun();
    if (state_ != State_Stopped)
        for (IBaseFilter* filter : downstreamFirst())
            filter->Stop();
    state_ = State_Stopped;
    while (!members_.empty())
        removeMember(members_.front().filter, true);
    if (clock_)
        clock_->Release();
    if (site_)
        site_->Release();
    std::lock_guard<std::mutex> lock(gCurrentMutex);
    if (gCurrent == this)
        gCurrent = nullptr;
}

// Windows's graph also answers IFilterMapper, IFilterMapper2, IFilterMapper3
// and IGraphConfig. These wait for a filter mapper in the world: until then
// an application asking for them hears E_NOINTERFACE rather than an
// interface that could not do what it says.
HRESULT FilterGraph::QueryInterface(REFIID riid, void** ppv) {
    return queryInterface(
        this, riid, ppv,
        {{&IID_IUnknown, static_cast<IGraphBuilder*>(this)},
         {&IID_IFilterGraph, static_cast<IFilterGraph*>(this)},
         {&IID_IGraphBuilder, static_cast<IGraphBuilder*>(this)},
         {&IID_IFilterGraph2, static_cast<IFilterGraph2*>(this)},
         {&IID_IPersist, static_cast<IPersist*>(this)},
         {&IID_IMediaFilter, static_cast<IMediaFilter*>(this)},
         {&IID_IGraphVersion, static_cast<IGraphVersion*>(this)},
         {&IID_IVideoFrameStep, static_cast<IVideoFrameStep*>(this)},
         {&IID_IObjectWithSite, static_cast<IObjectWithSite*>(this)},
         {&IID_IMediaControl, static_cast<IMediaControl*>(this)},
         {&IID_IMediaEvent, static_cast<IMediaEvent*>(static_cast<IMediaEventEx*>(this))},
         {&IID_IMediaEventEx, static_cast<IMediaEventEx*>(this)},
         {&IID_IMediaEventSink, static_cast<IMediaEventSink*>(this)},
         {&IID_IMediaPosition, static_cast<IMediaPosition*>(&position_)},
         {&IID_IMediaSeeking, static_cast<IMediaSeeking*>(this)},
         {&IID_IBasicAudio, static_cast<IBasicAudio*>(this)},
         {&IID_IBasicVideo, static_cast<IBasicVideo*>(static_cast<IBasicVideo2*>(this))},
         {&IID_IBasicVideo2, static_cast<IBasicVideo2*>(this)},
         {&IID_IVideoWindow, static_cast<IVideoWindow*>(this)}});
}

void FilterGraph::log(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    if (n < 0)
        return;
    {
        std::lock_guard<std::mutex> lock(gCurrentMutex);
        if (gCurrent == this)
            gTrace.push_back(line);
    }
    if (!logFile_)
        return;
    size_t length = strnlen(line, sizeof line - 3);
    line[length++] = '\r';
    line[length++] = '\n';
    DWORD written = 0;
    WriteFile(logFile_, line, static_cast<DWORD>(length), &written, nullptr);
}

bool FilterGraph::isMember(IBaseFilter* filter) const {
    for (const Member& m : members_)
        if (m.filter == filter)
            return true;
    return false;
}

void* FilterGraph::firstMemberWith(REFIID iid) const {
    for (const Member& m : members_) {
        void* p = nullptr;
        if (SUCCEEDED(m.filter->QueryInterface(iid, &p)) && p)
            return p;
    }
    return nullptr;
}

std::vector<IUnknown*> FilterGraph::membersWith(REFIID iid) const {
    std::vector<IUnknown*> out;
    for (const Member& m : members_) {
        void* p = nullptr;
        if (SUCCEEDED(m.filter->QueryInterface(iid, &p)) && p)
            out.push_back(static_cast<IUnknown*>(p));
    }
    return out;
}

std::wstring FilterGraph::uniqueName(LPCWSTR wanted, bool* renamed) const {
    auto taken = [this](const std::wstring& name) {
        for (const Member& m : members_)
            if (m.name == name)
                return true;
        return false;
    };
    // A name is kept in MAX_FILTER_NAME characters with its terminator, as
    // FILTER_INFO carries it: a longer one is cut to fit.
    std::wstring base = wanted ? wanted : L"";
    if (base.size() > MAX_FILTER_NAME - 1)
        base.resize(MAX_FILTER_NAME - 1);
    *renamed = false;
    if (!base.empty() && !taken(base))
        return base;
    // As DirectShow does: a taken (or missing) name gets a four-digit
    // hexadecimal number, the first one free, and is cut so that the number
    // fits too.
    const size_t kSuffix = 5;
    if (base.size() > MAX_FILTER_NAME - 1 - kSuffix)
        base.resize(MAX_FILTER_NAME - 1 - kSuffix);
    for (unsigned n = 1; n <= 0xFFFF; n++) {
        wchar_t suffix[8];
        swprintf(suffix, 8, base.empty() ? L"%04X" : L" %04X", n);
        std::wstring candidate = base + suffix;
        if (!taken(candidate)) {
            *renamed = wanted != nullptr;
            return candidate;
        }
    }
    return base;
}

HRESULT FilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
    HRESULT armed;
    if (faultFires("FilterGraph::AddFilter", &armed))
        return armed;
    return addMember(filter, name);
}

HRESULT FilterGraph::addMember(IBaseFilter* filter, LPCWSTR name) {
    if (!filter)
        return E_POINTER;
    if (isMember(filter)) {
        log("AddFilter: %s is in the graph already", narrow(name).c_str());
        return S_OK;
    }
    bool renamed = false;
    std::wstring unique = uniqueName(name, &renamed);
    HRESULT hr = filter->JoinFilterGraph(static_cast<IFilterGraph*>(this), unique.c_str());
    if (FAILED(hr)) {
        log("AddFilter: %s refused to join (%08X)", narrow(unique.c_str()).c_str(),
            static_cast<unsigned>(hr));
        return hr;
    }
    filter->AddRef();
    members_.insert(members_.begin(), Member{filter, unique});
    version_++;
    if (clock_)
        filter->SetSyncSource(clock_);
    log("AddFilter: %s", narrow(unique.c_str()).c_str());
    return renamed ? VFW_S_DUPLICATE_NAME : S_OK;
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* filter) {
    HRESULT armed;
    if (faultFires("FilterGraph::RemoveFilter", &armed))
        return armed;
    // E_FAIL for a filter that is not a member (null included), as the
    // SDK documents the call's failure; VFW_E_NOT_IN_GRAPH is not among
    // its answers.
    HRESULT hr = removeMember(filter);
    return hr == VFW_E_NOT_IN_GRAPH ? E_FAIL : hr;
}

// As Windows does: the filter is not stopped, each connection is cut from
// the peer's side first, and a pin that refuses (a running filter's) ends
// the removal with its answer, the filter still a member. A graph going away
// (`force`) lets go of its filters whatever their pins say.
HRESULT FilterGraph::removeMember(IBaseFilter* filter, bool force) {
    size_t index = 0;
    while (index < members_.size() && members_[index].filter != filter)
        index++;
    if (!filter || index == members_.size())
        return VFW_E_NOT_IN_GRAPH;
    Member member = members_[index];
    HRESULT hr = S_OK;
    IEnumPins* pins = nullptr;
    if (SUCCEEDED(filter->EnumPins(&pins)) && pins) {
        IPin* pin = nullptr;
        while (SUCCEEDED(hr) && pins->Next(1, &pin, nullptr) == S_OK && pin) {
            IPin* peer = nullptr;
            if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
                hr = peer->Disconnect();
                if (SUCCEEDED(hr) || force)
                    hr = pin->Disconnect();
                if (force)
                    hr = S_OK;
                peer->Release();
            }
            pin->Release();
            pin = nullptr;
        }
        pins->Release();
    }
    if (FAILED(hr)) {
        log("RemoveFilter: %s refused (%08X)", narrow(member.name.c_str()).c_str(),
            static_cast<unsigned>(hr));
        return hr;
    }
    filter->SetSyncSource(nullptr);
    filter->JoinFilterGraph(nullptr, nullptr);
    members_.erase(members_.begin() + static_cast<long>(index));
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        for (std::vector<IBaseFilter*>* list : {&renderers_, &completed_})
            list->erase(std::remove(list->begin(), list->end(), filter), list->end());
    }
    version_++;
    log("RemoveFilter: %s", narrow(member.name.c_str()).c_str());
    // A clock the filter gave the graph goes with it; the next pause picks
    // another.
    IReferenceClock* own = nullptr;
    if (clock_ &&
        SUCCEEDED(filter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&own)))) {
        if (own == clock_) {
            clock_->Release();
            clock_ = nullptr;
            clockChosen_ = false;
        }
        own->Release();
    }
    member.filter->Release();
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** filters) {
    HRESULT armed;
    if (faultFires("FilterGraph::EnumFilters", &armed))
        return armed;
    if (!filters)
        return E_POINTER;
    *filters = new FilterEnumerator(this, 0, version_);
    return S_OK;
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
    if (!filter || !name)
        return E_POINTER;
    *filter = nullptr;
    for (const Member& m : members_) {
        if (m.name == name) {
            *filter = m.filter;
            m.filter->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

namespace {

// The filter a pin belongs to, without keeping a reference.
IBaseFilter* owningFilter(IPin* pin) {
    PIN_INFO info;
    info.pFilter = nullptr;
    if (FAILED(pin->QueryPinInfo(&info)))
        return nullptr;
    if (info.pFilter)
        info.pFilter->Release();
    return info.pFilter;
}

} // namespace

// The graph asks the first pin to connect to the second and answers what it
// says: it refuses nothing for its own state or the pins' directions; the
// pins do (a running filter's pin, an input pin asked to connect out).
HRESULT FilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
    HRESULT armed;
    if (faultFires("FilterGraph::ConnectDirect", &armed))
        return armed;
    if (!out || !in)
        return E_POINTER;
    if (!isMember(owningFilter(out)) || !isMember(owningFilter(in)))
        return VFW_E_NOT_IN_GRAPH;
    HRESULT hr = out->Connect(in, mt);
    log("ConnectDirect: %08X", static_cast<unsigned>(hr));
    return hr;
}

HRESULT FilterGraph::Reconnect(IPin* pin) {
    return ReconnectEx(pin, nullptr);
}

// Both ends let go, then the output pin connects again with `mt` (null:
// whatever the pins agree), as Windows does.
HRESULT FilterGraph::ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) {
    if (!pin)
        return E_POINTER;
    if (state_ != State_Stopped)
        return VFW_E_WRONG_STATE;
    IPin* peer = nullptr;
    if (FAILED(pin->ConnectedTo(&peer)) || !peer)
        return VFW_E_NOT_CONNECTED;
    PIN_DIRECTION dir = PINDIR_INPUT;
    pin->QueryDirection(&dir);
    IPin* out = dir == PINDIR_OUTPUT ? pin : peer;
    IPin* in = dir == PINDIR_OUTPUT ? peer : pin;
    HRESULT hr = out->Disconnect();
    if (SUCCEEDED(hr))
        hr = in->Disconnect();
    if (SUCCEEDED(hr))
        hr = out->Connect(in, mt);
    peer->Release();
    return hr;
}

HRESULT FilterGraph::Disconnect(IPin* pin) {
    if (!pin)
        return E_POINTER;
    return pin->Disconnect();
}

HRESULT FilterGraph::QueryVersion(LONG* version) {
    if (!version)
        return E_POINTER;
    *version = static_cast<LONG>(version_);
    return S_OK;
}

HRESULT FilterGraph::SetSite(IUnknown* site) {
    if (site)
        site->AddRef();
    if (site_)
        site_->Release();
    site_ = site;
    return S_OK;
}

HRESULT FilterGraph::GetSite(REFIID riid, void** site) {
    if (!site)
        return E_POINTER;
    *site = nullptr;
    return site_ ? site_->QueryInterface(riid, site) : E_FAIL;
}

HRESULT FilterGraph::SetLogFile(DWORD_PTR file) {
    logFile_ = reinterpret_cast<HANDLE>(file);
    log("Log file set");
    return S_OK;
}

HRESULT FilterGraph::Abort() {
    return S_OK;
}
HRESULT FilterGraph::ShouldOperationContinue() {
    return S_OK;
}

} // namespace sim

namespace simctl {

bool graphAlive() {
    return sim::currentGraph() != nullptr;
}

int graphState() {
    sim::FilterGraph* graph = sim::currentGraph();
    return graph ? static_cast<int>(graph->state()) : -1;
}

std::vector<std::string> graphFilterNames() {
    std::vector<std::string> names;
    if (sim::FilterGraph* graph = sim::currentGraph())
        for (const auto& m : graph->members())
            names.push_back(sim::narrow(m.name.c_str()));
    return names;
}

std::vector<std::string> graphTrace() {
    std::lock_guard<std::mutex> lock(sim::gCurrentMutex);
    return sim::gTrace;
}

} // namespace simctl
