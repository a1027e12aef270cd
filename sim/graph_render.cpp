// RenderFile and the rest of the graph's intelligent building: a file source
// and an MPEG-2 splitter for the file, each stream of the splitter connected
// to a free input pin of a filter already in the graph (the decoder), and
// what is then left open rendered by a new video renderer.
//
// Answers: S_OK when every stream found a taker; VFW_S_AUDIO_NOT_RENDERED or
// VFW_S_VIDEO_NOT_RENDERED when only audio or only video did not, and
// VFW_S_PARTIAL_RENDER for other mixes; VFW_E_CANNOT_RENDER when no stream
// did (the source and splitter are taken out again); VFW_E_UNSUPPORTED_STREAM
// for a file that is no program stream; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
// for a missing file.
#include "graph_internal.h"

#include "control_graph.h"
#include "media_filters.h"

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

void FilterGraph::renderLeftovers(IBaseFilter* filter) {
    std::vector<IPin*> outputs = pinsOf(filter, PINDIR_OUTPUT, true);
    for (IPin* out : outputs) {
        if (connectToMember(out))
            continue;
        VideoRendererFilter* renderer = new VideoRendererFilter();
        if (SUCCEEDED(addMember(renderer, L"Video Renderer"))) {
            IPin* in = renderer->pinAt(0);
            if (FAILED(out->Connect(in, nullptr)))
                removeMember(renderer);
        }
        renderer->Release();
    }
    releaseAll(outputs);
}

HRESULT FilterGraph::renderFile(LPCWSTR file) {
    std::string path = file ? narrow(file) : "";
    HRESULT hr = S_OK;
    if (graphFault("RenderFile", &hr)) {
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
    MediaInfo info;
    source->GetMediaInfo(&info);
    if (SUCCEEDED(hr) && !info.valid)
        hr = VFW_E_UNSUPPORTED_STREAM;
    if (SUCCEEDED(hr))
        hr = addMember(source, file);
    if (FAILED(hr)) {
        source->Release();
        log("RenderFile: %08X", static_cast<unsigned>(hr));
        recordOutcome(path, hr, 0, 0);
        return hr;
    }
    SplitterFilter* splitter = new SplitterFilter(info);
    hr = addMember(splitter, L"MPEG-2 Splitter");
    if (SUCCEEDED(hr))
        hr = source->pinAt(0)->Connect(splitter->pinAt(0), nullptr);
    int streams = 0, rendered = 0;
    bool videoMissed = false, audioMissed = false;
    if (SUCCEEDED(hr)) {
        for (int i = 1; i < splitter->pinCount(); i++) {
            BasePin* out = splitter->pinAt(i);
            streams++;
            bool taken = connectToMember(out);
            bool isVideo = out->proposedTypes().front().majortype == MEDIATYPE_Video;
            if (taken)
                rendered++;
            else if (isVideo)
                videoMissed = true;
            else
                audioMissed = true;
        }
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
        removeMember(splitter);
        removeMember(source);
    }
    splitter->Release();
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
    if (connectToMember(out))
        return S_OK;
    VideoRendererFilter* renderer = new VideoRendererFilter();
    HRESULT hr = addMember(renderer, L"Video Renderer");
    if (SUCCEEDED(hr) && FAILED(out->Connect(renderer->pinAt(0), nullptr))) {
        removeMember(renderer);
        hr = VFW_E_CANNOT_RENDER;
    }
    renderer->Release();
    return FAILED(hr) ? hr : S_OK;
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
