// RenderFile and the rest of the graph's intelligent building, as Windows
// does it: a file source for the file, then the registered filter of the
// highest merit that takes its type (the card's demultiplexer, registered
// above the system's MPEG-1 splitter), and each stream of that splitter
// rendered in pin order: connected to a free input pin of a filter already
// in the graph, newest first (the card's decoder, which the library adds
// before RenderFile), or else to a new registered filter, highest merit
// first (filters at or below MERIT_DO_NOT_USE are never tried); what a filter
// reached that way leaves open is rendered in turn (the decoder's overlay,
// by the video renderer), except pins whose name starts with '~'. A new
// filter whose own outputs cannot all be rendered is taken out again, with
// whatever was added after it, and the next registered filter is tried.
//
// So with the card's filters in the graph and the system's stand-ins
// registered (media/stock_filters.h): the video and the first audio stream
// go to the card's decoder, which is in the graph and whose pins take them.
// A second audio stream finds the decoder's one audio input taken; among
// the registered filters only the MPEG audio decoder takes MPEG audio, and
// its PCM goes to the DirectSound renderer, the only registered taker of
// PCM: the second track plays on the PC's sound device, and the answer is
// S_OK. A second AC-3 or LPCM stream, which Windows has no decoder for, and
// any DTS stream, which the card does not play either, find no taker and
// stay unconnected; so does the second MPEG audio of a PC without a sound
// device.
//
// Answers: S_OK when every stream found a taker; VFW_S_AUDIO_NOT_RENDERED or
// VFW_S_VIDEO_NOT_RENDERED when only audio or only video did not, and
// VFW_S_PARTIAL_RENDER for other mixes; VFW_E_CANNOT_RENDER when no stream
// did (the source and splitter are taken out again); VFW_E_UNSUPPORTED_STREAM
// for a file that is no MPEG system stream, or that no splitter takes;
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a missing file. A second
// RenderFile into the same graph adds a second chain beside the first.
#include "internal.h"

#include "../control_graph.h"
#include "../media/filters.h"

#include <mutex>

namespace sim {

namespace {

std::mutex gOutcomesMutex;
std::vector<simctl::RenderOutcome> gOutcomes;

void recordOutcome(const std::string& file, HRESULT hr, int streams, int rendered) {
    std::lock_guard<std::mutex> lock(gOutcomesMutex);
    simctl::RenderOutcome outcome;
    outcome.file = file;
    outcome.result = hr;
    outcome.streams = streams;
    outcome.rendered = rendered;
    gOutcomes.push_back(outcome);
}

std::vector<IPin*> pinsOf(IBaseFilter* filter, PIN_DIRECTION wanted, bool unconnectedOnly) {
    std::vector<IPin*> out;
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)) || !pins)
        return out;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK && pin) {
        PIN_DIRECTION dir;
        IPin* peer = nullptr;
        bool connected = SUCCEEDED(pin->ConnectedTo(&peer)) && peer;
        if (peer)
            peer->Release();
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted &&
            !(unconnectedOnly && connected))
            out.push_back(pin);
        else
            pin->Release();
        pin = nullptr;
    }
    pins->Release();
    return out;
}

void releaseAll(std::vector<IPin*>& pins) {
    for (IPin* pin : pins)
        pin->Release();
    pins.clear();
}

bool isVideoPin(IPin* pin) {
    IEnumMediaTypes* types = nullptr;
    AM_MEDIA_TYPE* mt = nullptr;
    bool video = false;
    if (SUCCEEDED(pin->EnumMediaTypes(&types)) && types) {
        if (types->Next(1, &mt, nullptr) == S_OK && mt) {
            video = mt->majortype == MEDIATYPE_Video;
            deleteMediaType(mt);
        }
        types->Release();
    }
    return video;
}

// Whether a registered input type admits one of the pin's types; a null
// GUID in the registration stands for any.
bool registrationTakes(const FilterRegistration& filter, IPin* out) {
    IEnumMediaTypes* types = nullptr;
    if (FAILED(out->EnumMediaTypes(&types)) || !types)
        return false;
    bool takes = false;
    AM_MEDIA_TYPE* mt = nullptr;
    while (!takes && types->Next(1, &mt, nullptr) == S_OK && mt) {
        for (const auto& input : filter.inputTypes)
            takes = takes || ((input.first == GUID_NULL_TYPE || input.first == mt->majortype) &&
                              (input.second == GUID_NULL_TYPE || input.second == mt->subtype));
        deleteMediaType(mt);
        mt = nullptr;
    }
    types->Release();
    return takes;
}

// A pin that graph building leaves alone unless asked for it by name.
bool isHidden(IPin* pin) {
    PIN_INFO info;
    info.pFilter = nullptr;
    info.achName[0] = 0;
    if (FAILED(pin->QueryPinInfo(&info)))
        return false;
    if (info.pFilter)
        info.pFilter->Release();
    return info.achName[0] == L'~';
}

IBaseFilter* filterOf(IPin* pin) {
    PIN_INFO info;
    info.pFilter = nullptr;
    if (FAILED(pin->QueryPinInfo(&info)))
        return nullptr;
    if (info.pFilter)
        info.pFilter->Release(); // the graph holds it
    return info.pFilter;
}

} // namespace

bool FilterGraph::connectToMember(IPin* out) {
    IBaseFilter* own = filterOf(out);
    std::vector<Member> candidates = members_;
    for (const Member& m : candidates) {
        if (m.filter == own)
            continue;
        std::vector<IPin*> inputs = pinsOf(m.filter, PINDIR_INPUT, true);
        bool connected = false;
        for (IPin* in : inputs) {
            if (!connected && SUCCEEDED(out->Connect(in, nullptr))) {
                connected = true;
                log("Stream taken by %s", narrow(m.name.c_str()).c_str());
            }
        }
        releaseAll(inputs);
        if (connected) {
            renderLeftovers(m.filter);
            return true;
        }
    }
    return false;
}

IBaseFilter* FilterGraph::connectToRegistered(IPin* out, bool renderOutputs) {
    for (const FilterRegistration& registered : registeredFilters()) {
        if (registered.merit <= kMeritDoNotUse || !registrationTakes(registered, out))
            continue;
        IBaseFilter* filter = nullptr;
        if (FAILED(CoCreateInstance(registered.clsid, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IBaseFilter, reinterpret_cast<void**>(&filter))) ||
            !filter)
            continue;
        size_t before = members_.size();
        bool connected = false;
        if (SUCCEEDED(addMember(filter, widen(registered.name).c_str()))) {
            std::vector<IPin*> inputs = pinsOf(filter, PINDIR_INPUT, true);
            for (IPin* in : inputs)
                connected = connected || SUCCEEDED(out->Connect(in, nullptr));
            releaseAll(inputs);
            if (connected)
                log("Stream taken by %s", registered.name.c_str());
            if (connected && renderOutputs && !renderLeftovers(filter)) {
                log("Nothing renders what %s puts out", registered.name.c_str());
                connected = false;
            }
            // A filter that leads nowhere goes, with what was added after it.
            while (!connected && members_.size() > before)
                if (FAILED(removeMember(members_.front().filter, true)))
                    break;
        }
        filter->Release(); // the graph holds it while it is a member
        if (connected)
            return filter;
    }
    return nullptr;
}

bool FilterGraph::renderPin(IPin* out) {
    if (connectToMember(out))
        return true;
    return connectToRegistered(out, true) != nullptr;
}

bool FilterGraph::renderLeftovers(IBaseFilter* filter) {
    std::vector<IPin*> outputs = pinsOf(filter, PINDIR_OUTPUT, true);
    bool all = true;
    for (IPin* out : outputs)
        if (!isHidden(out) && !renderPin(out))
            all = false;
    releaseAll(outputs);
    return all;
}

HRESULT FilterGraph::renderFile(LPCWSTR file) {
    std::string path = file ? narrow(file) : "";
    HRESULT hr = S_OK;
    if (faultFires("FilterGraph::RenderFile", &hr)) {
        recordOutcome(path, hr, 0, 0);
        return hr;
    }
    if (!file)
        return E_POINTER;
    if (state_ != State_Stopped)
        return VFW_E_NOT_STOPPED;
    log("RenderFile: %s", path.c_str());
    FileSourceFilter* source = new FileSourceFilter();
    hr = source->Load(file, nullptr);
    if (SUCCEEDED(hr) && !source->mediaInfo().valid)
        hr = VFW_E_UNSUPPORTED_STREAM;
    if (SUCCEEDED(hr))
        hr = addMember(source, file);
    if (FAILED(hr)) {
        source->Release();
        log("RenderFile: %08X", static_cast<unsigned>(hr));
        recordOutcome(path, hr, 0, 0);
        return hr;
    }
    IBaseFilter* splitter = connectToRegistered(source->pinAt(0), false);
    int streams = 0, rendered = 0;
    bool videoMissed = false, audioMissed = false;
    if (!splitter) {
        hr = VFW_E_UNSUPPORTED_STREAM;
    } else {
        std::vector<IPin*> outputs = pinsOf(splitter, PINDIR_OUTPUT, true);
        for (IPin* out : outputs) {
            if (isHidden(out))
                continue;
            streams++;
            bool isVideo = isVideoPin(out);
            if (renderPin(out))
                rendered++;
            else if (isVideo)
                videoMissed = true;
            else
                audioMissed = true;
        }
        releaseAll(outputs);
        if (rendered == 0)
            hr = VFW_E_CANNOT_RENDER;
        else if (rendered == streams)
            hr = S_OK;
        else if (audioMissed && !videoMissed)
            hr = VFW_S_AUDIO_NOT_RENDERED;
        else if (videoMissed && !audioMissed)
            hr = VFW_S_VIDEO_NOT_RENDERED;
        else
            hr = VFW_S_PARTIAL_RENDER;
    }
    if (FAILED(hr)) {
        if (splitter)
            removeMember(splitter);
        removeMember(source);
    }
    source->Release();
    log("RenderFile: %08X (%d of %d streams)", static_cast<unsigned>(hr), rendered, streams);
    recordOutcome(path, hr, streams, rendered);
    return hr;
}

HRESULT FilterGraph::RenderFile(LPCWSTR file, LPCWSTR) {
    return renderFile(file);
}

HRESULT FilterGraph::Render(IPin* out) {
    if (!out)
        return E_POINTER;
    IPin* peer = nullptr;
    if (SUCCEEDED(out->ConnectedTo(&peer)) && peer) {
        peer->Release();
        return VFW_E_ALREADY_CONNECTED;
    }
    if (state_ != State_Stopped)
        return VFW_E_NOT_STOPPED;
    return renderPin(out) ? S_OK : VFW_E_CANNOT_RENDER;
}

// Flags 0 render as Render does; "to existing renderers" only connects to
// filters already in the graph.
HRESULT FilterGraph::RenderEx(IPin* out, DWORD flags, DWORD*) {
    if (!(flags & AM_RENDEREX_RENDERTOEXISTINGRENDERERS))
        return Render(out);
    if (!out)
        return E_POINTER;
    return connectToMember(out) ? S_OK : VFW_E_CANNOT_RENDER;
}

// The world names no source by moniker.
HRESULT FilterGraph::AddSourceFilterForMoniker(IMoniker*, IBindCtx*, LPCWSTR,
                                               IBaseFilter** filter) {
    if (!filter)
        return E_POINTER;
    *filter = nullptr;
    return E_NOTIMPL;
}

HRESULT FilterGraph::Connect(IPin* out, IPin* in) {
    HRESULT hr = ConnectDirect(out, in, nullptr);
    // No intermediate filter could help: the world has no converters.
    if (FAILED(hr) && hr != E_POINTER && hr != VFW_E_ALREADY_CONNECTED && hr != VFW_E_NOT_STOPPED &&
        hr != VFW_E_NOT_IN_GRAPH)
        return VFW_E_CANNOT_CONNECT;
    return hr;
}

HRESULT FilterGraph::AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) {
    if (!file || !filter)
        return E_POINTER;
    *filter = nullptr;
    FileSourceFilter* source = new FileSourceFilter();
    HRESULT hr = source->Load(file, nullptr);
    if (SUCCEEDED(hr))
        hr = addMember(source, filterName ? filterName : file);
    if (FAILED(hr)) {
        source->Release();
        return hr;
    }
    *filter = source; // the creator's reference goes to the caller
    return S_OK;
}

} // namespace sim

namespace simctl {

std::vector<RenderOutcome> renderOutcomes() {
    std::lock_guard<std::mutex> lock(sim::gOutcomesMutex);
    return sim::gOutcomes;
}

} // namespace simctl
