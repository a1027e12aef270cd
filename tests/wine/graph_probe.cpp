// The graph manager's answers compared with Windows's: one fixed sequence of
// calls on CLSID_FilterGraph, empty and then with the card's decoder and
// demultiplexer in it, each answer set beside the one Windows gives (as
// Wine's conformance tests record it on Windows, or where they are silent as
// the SDK documents the call). Each row names its source: a fact's id from
// the facts sheet, or "doc" for the SDK's documentation.
//
// The same program runs against the simulated world (libtovixsim) and,
// cross-built, under Wine against Wine's own graph manager with the card's
// components from tovixsim.dll. A difference fails the run unless the list
// of known gaps given with --known names the row (with its reason); a listed
// row that now agrees fails it too, so that the list only shrinks.
//
// Usage: graph_probe [--known FILE] [--table FILE]
//   --table writes the rows as a Markdown table (call, Windows, here).
#include "../../src/card/card_interfaces.h"
#include "../../src/platform/directshow.h"
#include "probe_filter.h"

#ifndef _WIN32
#include "../../sim/control_graph.h"
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// ---- Answers as text ----------------------------------------------------------------

std::string code(HRESULT hr) {
    static const std::map<unsigned long, const char*> names = {
        {0x00000000, "S_OK"},
        {0x00000001, "S_FALSE"},
        {0x80004001, "E_NOTIMPL"},
        {0x80004002, "E_NOINTERFACE"},
        {0x80004003, "E_POINTER"},
        {0x80004004, "E_ABORT"},
        {0x80004005, "E_FAIL"},
        {0x8000FFFF, "E_UNEXPECTED"},
        {0x80070057, "E_INVALIDARG"},
        {0x0004022D, "VFW_S_DUPLICATE_NAME"},
        {0x00040237, "VFW_S_STATE_INTERMEDIATE"},
        {0x00040268, "VFW_S_CANT_CUE"},
        {0x80040203, "VFW_E_ENUM_OUT_OF_SYNC"},
        {0x80040209, "VFW_E_NOT_CONNECTED"},
        {0x80040216, "VFW_E_NOT_FOUND"},
        {0x80040218, "VFW_E_CANNOT_RENDER"},
        {0x80040227, "VFW_E_WRONG_STATE"},
        {0x80040265, "VFW_E_UNSUPPORTED_STREAM"},
    };
    auto found = names.find(static_cast<uint32_t>(hr));
    if (found != names.end())
        return found->second;
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(hr)));
    return text;
}

std::string with(HRESULT hr, const std::string& value) {
    return code(hr) + ", " + value;
}

std::string number(long long value) {
    return std::to_string(value);
}

std::string hexValue(unsigned long value) {
    char text[16];
    snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

std::string formatName(const GUID& format) {
    if (format == TIME_FORMAT_MEDIA_TIME)
        return "MEDIA_TIME";
    if (format == TIME_FORMAT_NONE)
        return "NONE";
    return "another";
}

std::string narrowName(const WCHAR* name) {
    std::string out;
    for (; *name; name++)
        out += *name < 128 ? static_cast<char>(*name) : '?';
    return out;
}

std::string filterName(IBaseFilter* filter) {
    FILTER_INFO info;
    if (FAILED(filter->QueryFilterInfo(&info)))
        return "?";
    if (info.pGraph)
        info.pGraph->Release();
    return narrowName(info.achName);
}

// ---- The comparison -------------------------------------------------------------------

struct Row {
    std::string id;
    std::string call;
    std::string windows;
    std::string here;
};

class Probe {
  public:
    // Calls are told apart by their text, which the known gaps name.
    void add(const std::string& id, const std::string& call, const std::string& windows,
             const std::string& here) {
        for (const Row& r : rows_)
            if (r.call == call)
                fprintf(stderr, "the probe names two calls \"%s\"\n", call.c_str());
        rows_.push_back(Row{id, call, windows, here});
    }
    const std::vector<Row>& rows() const { return rows_; }

  private:
    std::vector<Row> rows_;
};

// The known gaps: "<call>\t<reason>" per line; # starts a comment.
std::map<std::string, std::string> readKnown(const char* path) {
    std::map<std::string, std::string> known;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t tab = line.find('\t');
        known[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
    }
    return known;
}

template <class T> T* query(IUnknown* object, REFIID iid) {
    void* out = nullptr;
    if (FAILED(object->QueryInterface(iid, &out)))
        return nullptr;
    return static_cast<T*>(out);
}

IBaseFilter* createFilter(REFCLSID clsid) {
    IBaseFilter* filter = nullptr;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     reinterpret_cast<void**>(&filter));
    return filter;
}

IPin* firstPin(IBaseFilter* filter) {
    IEnumPins* pins = nullptr;
    IPin* pin = nullptr;
    if (SUCCEEDED(filter->EnumPins(&pins))) {
        pins->Next(1, &pin, nullptr);
        pins->Release();
    }
    return pin;
}

// The next event, or E_ABORT's answer.
std::string nextEvent(IMediaEventEx* events) {
    LONG eventCode = 0;
    LONG_PTR p1 = 0, p2 = 0;
    HRESULT hr = events->GetEvent(&eventCode, &p1, &p2, 0);
    if (hr != S_OK)
        return code(hr);
    events->FreeEventParams(eventCode, p1, p2);
    return with(hr, number(eventCode) + "(" + number(p1) + ", " + number(p2) + ")");
}

// ---- The sequence ---------------------------------------------------------------------

void interfaces(Probe& p, IGraphBuilder* graph) {
    struct Named {
        const char* id;
        const char* name;
        const IID* iid;
        HRESULT windows;
    } const asked[] = {
        {"QI-02", "IUnknown", &IID_IUnknown, S_OK},
        {"QI-02", "IFilterGraph", &IID_IFilterGraph, S_OK},
        {"QI-02", "IFilterGraph2", &IID_IFilterGraph2, S_OK},
        {"QI-02", "IGraphBuilder", &IID_IGraphBuilder, S_OK},
        {"QI-02", "IMediaControl", &IID_IMediaControl, S_OK},
        {"QI-02", "IMediaEvent", &IID_IMediaEvent, S_OK},
        {"QI-02", "IMediaEventEx", &IID_IMediaEventEx, S_OK},
        {"QI-02", "IMediaEventSink", &IID_IMediaEventSink, S_OK},
        {"QI-02", "IMediaFilter", &IID_IMediaFilter, S_OK},
        {"QI-02", "IMediaSeeking", &IID_IMediaSeeking, S_OK},
        {"QI-02", "IMediaPosition", &IID_IMediaPosition, S_OK},
        {"QI-03", "IBasicAudio", &IID_IBasicAudio, S_OK},
        {"QI-03", "IBasicVideo", &IID_IBasicVideo, S_OK},
        {"QI-03", "IBasicVideo2", &IID_IBasicVideo2, S_OK},
        {"QI-03", "IVideoWindow", &IID_IVideoWindow, S_OK},
        {"QI-04", "IGraphVersion", &IID_IGraphVersion, S_OK},
        {"QI-04", "IObjectWithSite", &IID_IObjectWithSite, S_OK},
        {"QI-04", "IVideoFrameStep", &IID_IVideoFrameStep, S_OK},
        {"doc", "IPersist (IMediaFilter's base)", &IID_IPersist, S_OK},
        {"QI-05", "IBaseFilter", &IID_IBaseFilter, E_NOINTERFACE},
        {"QI-05", "IDispatch", &IID_IDispatch, E_NOINTERFACE},
    };
    for (const Named& n : asked) {
        void* out = nullptr;
        HRESULT hr = graph->QueryInterface(*n.iid, &out);
        if (out)
            static_cast<IUnknown*>(out)->Release();
        p.add(n.id, std::string("QueryInterface(") + n.name + ")", code(n.windows), code(hr));
    }
    IMediaEvent* event = query<IMediaEvent>(graph, IID_IMediaEvent);
    IMediaEventEx* eventEx = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    p.add("QI-06", "IMediaEvent and IMediaEventEx", "the same pointer",
          static_cast<void*>(event) == static_cast<void*>(eventEx) ? "the same pointer"
                                                                   : "different pointers");
    if (event)
        event->Release();
    if (eventEx)
        eventEx->Release();
}

void emptySeeking(Probe& p, IMediaSeeking* s) {
    DWORD caps = 0xFF;
    HRESULT hr = s->GetCapabilities(&caps);
    p.add("SK-01", "GetCapabilities", with(S_OK, "0x0"), with(hr, hexValue(caps)));
    caps = 0;
    hr = s->CheckCapabilities(&caps);
    p.add("SK-02", "CheckCapabilities(0)", with(E_FAIL, "0x0"), with(hr, hexValue(caps)));
    caps = AM_SEEKING_CanSeekAbsolute;
    hr = s->CheckCapabilities(&caps);
    p.add("SK-03", "CheckCapabilities(CanSeekAbsolute)", with(E_FAIL, "0x0"),
          with(hr, hexValue(caps)));
    p.add("SK-04", "IsFormatSupported(NULL)", code(E_NOTIMPL), code(s->IsFormatSupported(nullptr)));
    p.add("SK-04", "IsFormatSupported(MEDIA_TIME)", code(E_NOTIMPL),
          code(s->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME)));
    p.add("SK-04", "IsFormatSupported(FRAME)", code(E_NOTIMPL),
          code(s->IsFormatSupported(&TIME_FORMAT_FRAME)));
    GUID format = TIME_FORMAT_NONE;
    p.add("SK-05", "QueryPreferredFormat(NULL)", code(E_POINTER),
          code(s->QueryPreferredFormat(nullptr)));
    hr = s->QueryPreferredFormat(&format);
    p.add("SK-05", "QueryPreferredFormat", with(S_OK, "MEDIA_TIME"), with(hr, formatName(format)));
    p.add("SK-06", "GetTimeFormat(NULL)", code(E_POINTER), code(s->GetTimeFormat(nullptr)));
    format = TIME_FORMAT_NONE;
    hr = s->GetTimeFormat(&format);
    p.add("SK-06", "GetTimeFormat", with(S_OK, "MEDIA_TIME"), with(hr, formatName(format)));
    p.add("SK-07", "IsUsingTimeFormat(NULL)", code(E_POINTER), code(s->IsUsingTimeFormat(nullptr)));
    p.add("SK-07", "IsUsingTimeFormat(MEDIA_TIME)", code(S_OK),
          code(s->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME)));
    p.add("SK-07", "IsUsingTimeFormat(NONE)", code(S_FALSE),
          code(s->IsUsingTimeFormat(&TIME_FORMAT_NONE)));
    hr = s->SetTimeFormat(&TIME_FORMAT_NONE);
    format = TIME_FORMAT_NONE;
    s->GetTimeFormat(&format);
    p.add("SK-08", "SetTimeFormat(NONE), then GetTimeFormat", with(S_OK, "MEDIA_TIME"),
          with(hr, formatName(format)));
    p.add("SK-09", "SetTimeFormat(MEDIA_TIME)", code(S_OK),
          code(s->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME)));
    p.add("SK-10", "SetTimeFormat(FRAME)", code(E_NOTIMPL),
          code(s->SetTimeFormat(&TIME_FORMAT_FRAME)));
    LONGLONG t = 0;
    hr = s->ConvertTimeFormat(&t, nullptr, 123, &TIME_FORMAT_MEDIA_TIME);
    p.add("SK-11", "ConvertTimeFormat(NULL <- MEDIA_TIME, 123)", with(S_OK, "123"),
          with(hr, number(t)));
    p.add("SK-12", "ConvertTimeFormat(NONE <- MEDIA_TIME)", code(E_NOTIMPL),
          code(s->ConvertTimeFormat(&t, &TIME_FORMAT_NONE, 123, &TIME_FORMAT_MEDIA_TIME)));
    t = 0;
    hr = s->ConvertTimeFormat(&t, &TIME_FORMAT_NONE, 123, &TIME_FORMAT_NONE);
    p.add("SK-13", "ConvertTimeFormat(NONE <- NONE, 123)", with(S_OK, "123"), with(hr, number(t)));
    p.add("SK-14", "GetDuration(NULL)", code(E_POINTER), code(s->GetDuration(nullptr)));
    p.add("SK-14", "GetDuration", code(E_NOTIMPL), code(s->GetDuration(&t)));
    p.add("SK-15", "GetStopPosition(NULL)", code(E_POINTER), code(s->GetStopPosition(nullptr)));
    p.add("SK-15", "GetStopPosition", code(E_NOTIMPL), code(s->GetStopPosition(&t)));
    LONGLONG current = 0, stop = 0;
    p.add("SK-16", "SetPositions(&0, 0, &0, 0)", code(E_NOTIMPL),
          code(s->SetPositions(&current, 0, &stop, 0)));
    p.add("SK-17", "GetPositions(NULL, NULL)", code(S_OK), code(s->GetPositions(nullptr, nullptr)));
    p.add("SK-17", "GetPositions(NULL, &stop)", code(E_NOTIMPL),
          code(s->GetPositions(nullptr, &stop)));
    p.add("SK-17", "GetPositions(&current, &stop)", code(E_NOTIMPL),
          code(s->GetPositions(&current, &stop)));
    current = -1;
    hr = s->GetPositions(&current, nullptr);
    p.add("SK-17", "GetPositions(&current, NULL)", with(S_OK, "0"), with(hr, number(current)));
    p.add("SK-18", "GetCurrentPosition(NULL)", code(E_POINTER),
          code(s->GetCurrentPosition(nullptr)));
    current = -1;
    hr = s->GetCurrentPosition(&current);
    p.add("SK-18", "GetCurrentPosition", with(S_OK, "0"), with(hr, number(current)));
    LONGLONG earliest = 0, latest = 0;
    p.add("SK-19", "GetAvailable", code(E_NOTIMPL), code(s->GetAvailable(&earliest, &latest)));
    p.add("SK-20", "SetRate(1.0)", code(S_OK), code(s->SetRate(1.0)));
    p.add("SK-20", "SetRate(2.0)", code(E_NOTIMPL), code(s->SetRate(2.0)));
    double rate = 0;
    hr = s->GetRate(&rate);
    p.add("SK-20", "GetRate", with(S_OK, "1.0"),
          with(hr, rate == 1.0 ? "1.0" : std::to_string(rate)));
    p.add("SK-21", "GetPreroll", code(E_NOTIMPL), code(s->GetPreroll(&t)));
}

void emptyEvents(Probe& p, IMediaEventEx* e) {
    LONG eventCode = -1;
    LONG_PTR p1 = -1, p2 = -1;
    HRESULT hr = e->GetEvent(&eventCode, &p1, &p2, 0);
    p.add("EV-01", "GetEvent(0), queue empty", with(E_ABORT, "code 0"),
          with(hr, "code " + number(eventCode)));
    p.add("EV-02", "GetEvent(0), queue empty: the parameters", "0, 0",
          number(p1) + ", " + number(p2));
    OAEVENT handle = 0;
    hr = e->GetEventHandle(&handle);
    p.add("EV-10", "GetEventHandle", with(S_OK, "a handle"),
          with(hr, handle ? "a handle" : "none"));
    LONG flags = -1;
    hr = e->GetNotifyFlags(&flags);
    p.add("EV-13", "GetNotifyFlags", with(S_OK, "0"), with(hr, number(flags)));
    p.add("EV-14", "GetNotifyFlags(NULL)", code(E_POINTER), code(e->GetNotifyFlags(nullptr)));
    p.add("EV-15", "SetNotifyFlags(2)", code(E_INVALIDARG), code(e->SetNotifyFlags(2)));
    hr = e->SetNotifyFlags(1);
    e->GetNotifyFlags(&flags);
    p.add("EV-16", "SetNotifyFlags(NONOTIFY), then GetNotifyFlags", with(S_OK, "1"),
          with(hr, number(flags)));
    hr = e->SetNotifyFlags(0);
    e->GetNotifyFlags(&flags);
    p.add("EV-20", "SetNotifyFlags(0), then GetNotifyFlags", with(S_OK, "0"),
          with(hr, number(flags)));
    p.add("RC-04", "CancelDefaultHandling(EC_COMPLETE)", code(S_OK),
          code(e->CancelDefaultHandling(EC_COMPLETE)));
    p.add("RC-05", "RestoreDefaultHandling(EC_COMPLETE)", code(S_OK),
          code(e->RestoreDefaultHandling(EC_COMPLETE)));
    p.add("doc", "CancelDefaultHandling(EC_REPAINT)", code(S_OK),
          code(e->CancelDefaultHandling(EC_REPAINT)));
    p.add("doc", "RestoreDefaultHandling(EC_REPAINT)", code(S_OK),
          code(e->RestoreDefaultHandling(EC_REPAINT)));
}

void emptyClock(Probe& p, IMediaFilter* f, IMediaEventEx* e) {
    IReferenceClock* clock = reinterpret_cast<IReferenceClock*>(1);
    HRESULT hr = f->GetSyncSource(&clock);
    p.add("CK-04", "GetSyncSource, no clock", with(S_FALSE, "none"),
          with(hr, clock ? "a clock" : "none"));
    if (clock && hr == S_OK)
        clock->Release();
    IFilterGraph* graph = query<IFilterGraph>(f, IID_IFilterGraph);
    p.add("CK-06", "SetDefaultSyncSource", code(S_OK), code(graph->SetDefaultSyncSource()));
    graph->Release();
    clock = nullptr;
    hr = f->GetSyncSource(&clock);
    p.add("CK-06", "GetSyncSource after it", with(S_OK, "a clock"),
          with(hr, clock ? "a clock" : "none"));
    p.add("doc", "GetEvent: the clock was set", with(S_OK, "13(0, 0)"), nextEvent(e));
    p.add("CK-03", "SetSyncSource(NULL)", code(S_OK), code(f->SetSyncSource(nullptr)));
    p.add("doc", "GetEvent: the clock was set to none", with(S_OK, "13(0, 0)"), nextEvent(e));
    IReferenceClock* none = nullptr;
    hr = f->GetSyncSource(&none);
    p.add("CK-04", "GetSyncSource after SetSyncSource(NULL)", with(S_FALSE, "none"),
          with(hr, none ? "a clock" : "none"));
    if (none)
        none->Release();
    // The clock back, for the rest.
    if (clock) {
        f->SetSyncSource(clock);
        clock->Release();
        nextEvent(e);
    }
    FILTER_STATE state = State_Running;
    hr = f->GetState(0, &state);
    p.add("MC-01", "IMediaFilter::GetState(0)", with(S_OK, "stopped"),
          with(hr, state == State_Stopped ? "stopped" : "not stopped"));
}

void emptyForwarding(Probe& p, IGraphBuilder* graph) {
    IBasicAudio* audio = query<IBasicAudio>(graph, IID_IBasicAudio);
    IBasicVideo2* video = query<IBasicVideo2>(graph, IID_IBasicVideo2);
    IVideoWindow* window = query<IVideoWindow>(graph, IID_IVideoWindow);
    LONG value = 0;
    p.add("BA-01", "put_Volume(0), no audio renderer", code(E_NOTIMPL), code(audio->put_Volume(0)));
    p.add("BA-01", "get_Volume", code(E_NOTIMPL), code(audio->get_Volume(&value)));
    p.add("BA-01", "put_Balance(0)", code(E_NOTIMPL), code(audio->put_Balance(0)));
    p.add("BA-01", "get_Balance", code(E_NOTIMPL), code(audio->get_Balance(&value)));
    p.add("BA-08", "IBasicVideo2::get_BitRate, no video renderer", code(E_NOINTERFACE),
          code(video->get_BitRate(&value)));
    LONG width = 0, height = 0;
    p.add("doc", "IBasicVideo::GetVideoSize, no video renderer", code(E_NOINTERFACE),
          code(video->GetVideoSize(&width, &height)));
    p.add("BA-08", "IVideoWindow::SetWindowForeground", code(E_NOINTERFACE),
          code(window->SetWindowForeground(OATRUE)));
    audio->Release();
    video->Release();
    window->Release();
}

void membership(Probe& p, IGraphBuilder* graph, IBaseFilter* decoder, IBaseFilter* demux) {
    IBaseFilter* found = reinterpret_cast<IBaseFilter*>(1);
    HRESULT hr = graph->FindFilterByName(L"testid", &found);
    p.add("AF-01", "FindFilterByName, no such name", with(VFW_E_NOT_FOUND, "null"),
          with(hr, found ? "not null" : "null"));
    p.add("AF-08", "FindFilterByName(name, NULL)", code(E_POINTER),
          code(graph->FindFilterByName(L"testid", nullptr)));
    p.add("AF-07", "AddFilter(NULL, name)", code(E_POINTER), code(graph->AddFilter(nullptr, L"x")));

    IEnumFilters* e = nullptr;
    p.add("EN-01", "EnumFilters, empty graph", code(S_OK), code(graph->EnumFilters(&e)));
    IBaseFilter* got[2] = {nullptr, nullptr};
    p.add("EN-02", "Next(1, NULL fetched), empty graph", code(S_FALSE),
          code(e->Next(1, got, nullptr)));
    p.add("EN-03", "Skip(0), empty graph", code(E_INVALIDARG), code(e->Skip(0)));
    p.add("EN-03", "Skip(1), empty graph", code(E_INVALIDARG), code(e->Skip(1)));
    e->Release();

    p.add("AF-02", "AddFilter(decoder, \"testid\")", code(S_OK),
          code(graph->AddFilter(decoder, L"testid")));
    found = nullptr;
    hr = graph->FindFilterByName(L"testid", &found);
    p.add("AF-03", "FindFilterByName(\"testid\")", with(S_OK, "the filter"),
          with(hr, found == decoder ? "the filter" : "another"));
    if (found)
        found->Release();
    hr = graph->RemoveFilter(decoder);
    FILTER_INFO info;
    decoder->QueryFilterInfo(&info);
    p.add("AF-04", "RemoveFilter(decoder)", with(S_OK, "no graph, no name"),
          with(hr, std::string(info.pGraph ? "a graph" : "no graph") +
                       (info.achName[0] ? ", a name" : ", no name")));
    if (info.pGraph)
        info.pGraph->Release();
    p.add("doc", "RemoveFilter of a filter not in the graph", code(E_FAIL),
          code(graph->RemoveFilter(decoder)));
    hr = graph->AddFilter(demux, nullptr);
    p.add("AF-05", "AddFilter(demux, NULL)", with(S_OK, "0001"), with(hr, filterName(demux)));

    e = nullptr;
    graph->EnumFilters(&e);
    graph->AddFilter(decoder, L"Decoder");
    p.add("EN-04", "Next on an enumerator older than AddFilter", code(VFW_E_ENUM_OUT_OF_SYNC),
          code(e->Next(1, got, nullptr)));
    p.add("EN-05", "Reset", code(S_OK), code(e->Reset()));
    ULONG fetched = 0;
    hr = e->Next(2, got, &fetched);
    std::string order;
    for (ULONG i = 0; i < fetched; i++) {
        order += (i ? ", " : "") + filterName(got[i]);
        got[i]->Release();
    }
    p.add("EN-12", "Next(2)", with(S_OK, "Decoder, 0001"), with(hr, order));
    e->Reset();
    p.add("EN-06", "Skip(0) at the start", code(S_OK), code(e->Skip(0)));
    p.add("EN-07", "Skip(1)", code(S_OK), code(e->Skip(1)));
    p.add("EN-07", "Skip(2) past the end", code(S_FALSE), code(e->Skip(2)));
    p.add("EN-08", "Skip(1) at the end", code(E_INVALIDARG), code(e->Skip(1)));
    e->Reset();
    p.add("EN-10", "Skip(3) from the start", code(S_FALSE), code(e->Skip(3)));
    e->Release();

    IBaseFilter* source = createFilter(CLSID_SharedSource);
    p.add("doc", "AddFilter(source, \"Decoder\"), the name taken", code(VFW_S_DUPLICATE_NAME),
          code(graph->AddFilter(source, L"Decoder")));
    graph->RemoveFilter(source);
    source->Release();
}

// The card's decoder in the graph, unconnected: a renderer that seeks in
// media time. What Windows answers follows from the rules the facts record
// and from the decoder's own answers, asked directly.
void withDecoder(Probe& p, IGraphBuilder* graph, IBaseFilter* decoder) {
    IMediaSeeking* s = query<IMediaSeeking>(graph, IID_IMediaSeeking);
    IMediaSeeking* own = query<IMediaSeeking>(decoder, IID_IMediaSeeking);
    DWORD ownCaps = 0, caps = 0;
    own->GetCapabilities(&ownCaps);
    HRESULT hr = s->GetCapabilities(&caps);
    p.add("SK-25", "GetCapabilities, the decoder in the graph", with(S_OK, hexValue(ownCaps)),
          with(hr, hexValue(caps)));
    p.add("SK-28", "IsFormatSupported(MEDIA_TIME), the decoder in the graph", code(S_OK),
          code(s->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME)));
    p.add("SK-28", "IsFormatSupported(FRAME), no filter takes it", code(S_FALSE),
          code(s->IsFormatSupported(&TIME_FORMAT_FRAME)));
    p.add("SK-30", "SetTimeFormat(FRAME), no filter takes it", code(E_FAIL),
          code(s->SetTimeFormat(&TIME_FORMAT_FRAME)));
    LONGLONG t = 0;
    HRESULT ownDuration = own->GetDuration(&t);
    p.add("SK-40", "GetDuration, the decoder unconnected", code(ownDuration),
          code(s->GetDuration(&t)));
    LONGLONG current = -1;
    hr = s->GetCurrentPosition(&current);
    p.add("SK-43", "GetCurrentPosition, never run", with(S_OK, "0"), with(hr, number(current)));
    hr = s->SetRate(2.0);
    double rate = 0;
    HRESULT got = s->GetRate(&rate);
    p.add("SK-49", "SetRate(2.0), then GetRate", code(S_OK) + "; " + with(S_OK, "2.0"),
          code(hr) + "; " + with(got, rate == 2.0 ? "2.0" : std::to_string(rate)));
    s->SetRate(1.0);
    own->Release();
    s->Release();

    IBasicAudio* audio = query<IBasicAudio>(graph, IID_IBasicAudio);
    LONG volume = 0;
    hr = audio->put_Volume(-10);
    audio->get_Volume(&volume);
    p.add("BA-02", "put_Volume(-10), then get_Volume", with(S_OK, "-10"), with(hr, number(volume)));
    IBasicVideo* video = query<IBasicVideo>(graph, IID_IBasicVideo);
    LONG width = 0, height = 0;
    p.add("BA-09", "IBasicVideo::GetVideoSize, the renderer unconnected", code(VFW_E_NOT_CONNECTED),
          code(video->GetVideoSize(&width, &height)));

    IPin* pin = firstPin(decoder);
    p.add("CN-12", "Reconnect of an unconnected pin", code(VFW_E_NOT_CONNECTED),
          code(graph->Reconnect(pin)));
    p.add("CN-04", "Disconnect of an unconnected pin", code(S_FALSE), code(graph->Disconnect(pin)));
    pin->Release();

    // Twenty bytes of no known format.
    FILE* junk = fopen("junk.nonsense", "wb");
    fputs("this is no media at.", junk);
    fclose(junk);
    hr = graph->RenderFile(L"junk.nonsense", nullptr);
    IEnumFilters* e = nullptr;
    graph->EnumFilters(&e);
    IBaseFilter* f = nullptr;
    std::string left;
    while (e->Next(1, &f, nullptr) == S_OK) {
        left += (left.empty() ? "" : ", ") + filterName(f);
        f->Release();
    }
    e->Release();
    remove("junk.nonsense");
    p.add("RN-15", "RenderFile(20 bytes of junk)", code(VFW_E_UNSUPPORTED_STREAM), code(hr));
    p.add("RN-15", "the filters after it", "Decoder, 0001", left);

    graph->RemoveFilter(decoder);
    p.add("BA-04", "put_Volume after the renderer left", code(E_NOTIMPL),
          code(audio->put_Volume(0)));
    LONG bitRate = 0;
    p.add("BA-10", "get_BitRate after the renderer left", code(E_NOINTERFACE),
          code(video->get_BitRate(&bitRate)));
    audio->Release();
    video->Release();
}

void running(Probe& p) {
    IGraphBuilder* graph = nullptr;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&graph));
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    p.add("MC-13", "IMediaControl::GetState(0, NULL)", code(E_POINTER),
          code(control->GetState(0, nullptr)));
    p.add("doc", "Run, empty graph", code(S_OK), code(control->Run()));
    p.add("doc", "GetEvent after the first run: the clock chosen", with(S_OK, "13(0, 0)"),
          nextEvent(events));
    p.add("doc", "Stop", code(S_OK), code(control->Stop()));
    events->Release();
    control->Release();
    graph->Release();
}

// The world's stand-in for the system's Video Renderer: natively under the
// system's own class; tovixsim.dll serves it under a class of its own (Wine's
// renderer needs a display, and the stand-in is what is probed).
#ifdef _WIN32
const CLSID kStandInRenderer = {
    0x6B1F7E23, 0x3C4D, 0x4A55, {0x9E, 0x61, 0x70, 0x82, 0x93, 0xA4, 0xB5, 0xC6}};
#else
const CLSID kStandInRenderer = {
    0x70E102B0, 0x5556, 0x11CE, {0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
#endif

// ---- Running graphs -------------------------------------------------------------------
//
// Natively the world's manual clock stands still but for the probe's waits,
// so every figure is exact; under Wine the waits are real and a position is
// compared with the time the graph's own clock says has passed, within the
// tolerance the row names.

const long kToleranceMs = 60;

void startTime() {
#ifndef _WIN32
    simctl::setManualClock(true);
#endif
}

void endTime() {
#ifndef _WIN32
    simctl::setManualClock(false);
#endif
}

void wait(long ms) {
#ifdef _WIN32
    Sleep(static_cast<DWORD>(ms));
#else
    simctl::advanceClock(ms);
#endif
}

// Now on the graph's clock, in ms; -1 without one.
long long clockMs(IMediaFilter* graph) {
    IReferenceClock* clock = nullptr;
    REFERENCE_TIME now = -probe::kUnitsPerMs;
    if (graph->GetSyncSource(&clock) == S_OK && clock) {
        clock->GetTime(&now);
        clock->Release();
    }
    return now / probe::kUnitsPerMs;
}

std::string ms(LONGLONG units) {
    return number(units / probe::kUnitsPerMs) + " ms";
}

// A position against `base` ms plus the time the clock has run since
// `since` (at `rate`): the expected text when within the tolerance, else by
// how much it is off.
std::string around(HRESULT hr, LONGLONG position, long base, const std::string& what,
                   long long ran) {
    long long off = position / probe::kUnitsPerMs - base - ran;
    if (off >= -kToleranceMs && off <= kToleranceMs)
        return with(hr, what);
    return with(hr, what + " " + (off > 0 ? "+ " : "- ") + number(off > 0 ? off : -off) + " ms");
}

std::string tolerated(const std::string& what) {
    return what + " (within " + number(kToleranceMs) + " ms)";
}

std::string expected(const std::string& what) {
    return with(S_OK, tolerated(what));
}

// The EC_COMPLETE events the application finds now, the first waited for
// up to `waitMs`; other events are passed over.
std::string completions(IMediaEventEx* events, long waitMs) {
    std::string found;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, waitMs) == S_OK) {
        if (code == EC_COMPLETE)
            found += (found.empty() ? "" : ", ") + number(code) + "(" + number(p1) + ", " +
                     number(p2) + ")";
        events->FreeEventParams(code, p1, p2);
        waitMs = 0;
    }
    return found.empty() ? "none" : found;
}

std::string stateName(LONG state) {
    return state == State_Running   ? "running"
           : state == State_Paused  ? "paused"
           : state == State_Stopped ? "stopped"
                                    : number(state);
}

std::string controlState(IMediaControl* control, LONG timeoutMs) {
    OAFilterState state = -1;
    HRESULT hr = control->GetState(timeoutMs, &state);
    return with(hr, stateName(state));
}

// How a state change reached the source and the renderer downstream of it:
// whether each was paused before it ran or stopped, and which of the two
// changed first at every step.
std::string transition(probe::Journal& journal, bool throughPause) {
    std::vector<std::string> lines = journal.lines();
    journal.clear();
    auto at = [&](const std::string& line) {
        for (size_t i = 0; i < lines.size(); i++)
            if (lines[i] == line)
                return static_cast<long>(i);
        return -1L;
    };
    std::string last = lines.empty() ? "" : lines.back().substr(lines.back().find(' ') + 1);
    std::string out;
    if (throughPause) {
        bool paused = at("source paused") >= 0 && at("render paused") >= 0 &&
                      at("source paused") < at("source " + last) &&
                      at("render paused") < at("render " + last);
        out = paused ? "each paused first, " : "not each paused first, ";
        if (at("render paused") > at("source paused"))
            out += "the source paused first, ";
    }
    long render = at("render " + last), source = at("source " + last);
    if (render < 0 || source < 0)
        return out + "not both " + last;
    return out + (render < source ? "the renderer " : "the source ") + last + " first";
}

// Whether any filter ran since the journal was last cleared.
std::string ran(probe::Journal& journal) {
    for (const std::string& line : journal.lines())
        if (line.size() > 8 && line.compare(line.size() - 8, 8, " running") == 0)
            return line;
    return "never ran";
}

struct RunningGraph {
    IGraphBuilder* graph = nullptr;
    IMediaControl* control = nullptr;
    IMediaSeeking* seeking = nullptr;
    IMediaEventEx* events = nullptr;
    IMediaFilter* filter = nullptr;
    probe::Journal journal;
    probe::Filter* source = nullptr;
    probe::Filter* render = nullptr;  // downstream of the source, stops at 5000 ms
    probe::Filter* render2 = nullptr; // alone, stops at 6000 ms
    probe::Filter* late = nullptr;    // flagged a renderer only once running

    bool open() {
        if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IGraphBuilder, reinterpret_cast<void**>(&graph))))
            return false;
        control = query<IMediaControl>(graph, IID_IMediaControl);
        seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
        events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
        filter = query<IMediaFilter>(graph, IID_IMediaFilter);
        probe::FilterShape shape{"source"};
        shape.output = true;
        shape.seeking = false;
        source = new probe::Filter(shape, &journal);
        shape = probe::FilterShape{"render"};
        shape.stop = 5000 * probe::kUnitsPerMs;
        render = new probe::Filter(shape, &journal);
        shape = probe::FilterShape{"render2"};
        shape.stop = 6000 * probe::kUnitsPerMs;
        render2 = new probe::Filter(shape, &journal);
        shape = probe::FilterShape{"late"};
        shape.seeking = false;
        shape.miscFlags = true;
        late = new probe::Filter(shape, &journal);
        graph->AddFilter(source, L"source");
        graph->AddFilter(render, L"render");
        graph->AddFilter(render2, L"render2");
        graph->AddFilter(late, L"late");
        return control && seeking && events && filter &&
               SUCCEEDED(source->pin()->Connect(render->pin(), nullptr));
    }
    void close() {
        if (control)
            control->Stop();
        for (IUnknown* i : std::initializer_list<IUnknown*>{control, seeking, events, filter})
            if (i)
                i->Release();
        if (graph)
            graph->Release();
        for (probe::Filter* f : {source, render, render2, late})
            if (f)
                f->Release();
    }
    std::string position(long base, long long since, const std::string& what) {
        LONGLONG current = -1;
        HRESULT hr = seeking->GetCurrentPosition(&current);
        return around(hr, current, base, what, clockMs(filter) - since);
    }
};

// Every figure a position row expects.
const long kSeekMs = static_cast<long>(probe::kSeekResult / probe::kUnitsPerMs);

void stoppedAndStarting(Probe& p, RunningGraph& g) {
    LONGLONG current = 0, stop = 0;
    HRESULT hr = g.seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                                         AM_SEEKING_NoPositioning);
    p.add("SK-47", "SetPositions(0), stopped", code(S_OK), code(hr));
    current = -1;
    hr = g.seeking->GetPositions(&current, &stop);
    p.add("SK-47", "GetPositions after it: what the filters wrote back, the longest stop",
          with(S_OK, "1234 ms, 6000 ms"), with(hr, ms(current) + ", " + ms(stop)));

    g.journal.clear();
    p.add("MC-01", "Pause, probe filters", code(S_OK), code(g.control->Pause()));
    p.add("MC-03", "Pause: the order", "the renderer paused first", transition(g.journal, false));
    IReferenceClock* clock = nullptr;
    hr = g.filter->GetSyncSource(&clock);
    p.add("CK-05", "GetSyncSource after the first Pause", with(S_OK, "a clock"),
          with(hr, clock ? "a clock" : "none"));
    if (clock)
        clock->Release();
    p.add("CK-05", "the filters were given the clock", "yes",
          g.render->hasClock() && g.source->hasClock() ? "yes" : "no");
    p.add("MC-01", "Stop from paused", code(S_OK), code(g.control->Stop()));
    p.add("MC-03", "Stop: the order", "the renderer stopped first", transition(g.journal, false));
}

// Run from stopped, the position on the clock, and the end when every
// renderer counted at Run has told of it.
void runToTheEnd(Probe& p, RunningGraph& g) {
    HRESULT hr = g.control->Run();
    p.add("MC-01", "Run from stopped, probe filters", code(S_OK), code(hr));
    long long ran = clockMs(g.filter);
    p.add("MC-02", "Run from stopped: the order", "each paused first, the renderer running first",
          transition(g.journal, true));
    g.late->setRenderer(true);
    completions(g.events, 0);
    g.render->resetPositionQuestions();
    g.render2->resetPositionQuestions();
    p.add("MC-01", "GetState(0) running", with(S_OK, "running"), controlState(g.control, 0));
    wait(400);
    p.add("SK-58", "GetCurrentPosition, 400 ms on a clock", expected("1234 ms + the time run"),
          g.position(kSeekMs, ran, tolerated("1234 ms + the time run")));
    p.add("SK-58", "the filters asked for their position, running on a clock", "0 times",
          number(g.render->positionQuestions() + g.render2->positionQuestions()) + " times");
    p.add("RC-01", "EC_COMPLETE from the first renderer",
          with(S_OK, "none reaches the application"),
          with(g.render->complete(), completions(g.events, 50) == "none"
                                         ? "none reaches the application"
                                         : "one reaches the application"));
    p.add("SK-59", "GetCurrentPosition after the first renderer's end",
          expected("1234 ms + the time run"),
          g.position(kSeekMs, ran, tolerated("1234 ms + the time run")));
    g.render2->complete();
    p.add("RC-02", "EC_COMPLETE from the second renderer: what reaches the application", "1(0, 0)",
          completions(g.events, 50));
    g.late->complete();
    p.add("RC-03", "EC_COMPLETE from a filter flagged a renderer after Run", "none",
          completions(g.events, 50));
    LONGLONG current = -1;
    hr = g.seeking->GetCurrentPosition(&current);
    p.add("SK-60", "GetCurrentPosition once every renderer has ended", with(S_OK, "6000 ms"),
          with(hr, ms(current)));
    wait(300);
    hr = g.seeking->GetCurrentPosition(&current);
    p.add("SK-60", "GetCurrentPosition 300 ms later", with(S_OK, "6000 ms"), with(hr, ms(current)));
    g.late->setRenderer(false);

    // A seek after the end starts the clip again from where the seek went.
    current = 0;
    g.seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                            AM_SEEKING_NoPositioning);
    ran = clockMs(g.filter);
    wait(200);
    p.add("SK-52", "GetCurrentPosition 200 ms after a seek that restarts an ended graph",
          expected("1234 ms + the time run"),
          g.position(kSeekMs, ran, tolerated("1234 ms + the time run")));

    // A new run counts the renderers again, and forgets an end not taken.
    g.control->Pause();
    g.control->Run();
    completions(g.events, 0);
    g.render->complete();
    g.render2->complete();
    g.control->Pause();
    hr = g.control->Run();
    p.add("EV-07", "Run with an EC_COMPLETE queued, then GetEvent", with(S_OK, "none"),
          with(hr, completions(g.events, 50)));
}

// With its default handling cancelled, the graph passes on every filter's
// EC_COMPLETE as it came, counted or not.
void ownCompletion(Probe& p, RunningGraph& g) {
    p.add("RC-04", "CancelDefaultHandling(EC_COMPLETE), running", code(S_OK),
          code(g.events->CancelDefaultHandling(EC_COMPLETE)));
    g.render->complete();
    g.late->complete();
    std::string passed;
    LONG eventCode = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (g.events->GetEvent(&eventCode, &p1, &p2, passed.empty() ? 50 : 0) == S_OK) {
        if (eventCode == EC_COMPLETE) {
            IBaseFilter* from = reinterpret_cast<IBaseFilter*>(p2);
            passed += (passed.empty() ? "" : ", ") + number(p1) + " from " +
                      (from == g.render ? "the renderer"
                       : from == g.late ? "the other"
                                        : "?");
        }
        g.events->FreeEventParams(eventCode, p1, p2);
    }
    p.add("RC-04", "EC_COMPLETE from a renderer and from a filter not counted, handling cancelled",
          "0 from the renderer, 0 from the other", passed);
    p.add("RC-05", "RestoreDefaultHandling(EC_COMPLETE), running", code(S_OK),
          code(g.events->RestoreDefaultHandling(EC_COMPLETE)));
}

// Seek, pause and rate while the graph runs.
void controlsWhileRunning(Probe& p, RunningGraph& g) {
    LONGLONG current = 0, stop = 9000 * probe::kUnitsPerMs;
    HRESULT hr = g.seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stop,
                                         AM_SEEKING_AbsolutePositioning);
    long long ran = clockMs(g.filter);
    p.add("SK-51", "SetPositions(0, 9000 ms) running: the filters' state when told",
          with(S_OK, "paused"), with(hr, stateName(g.render->stateAtSeek())));
    p.add("SK-52", "GetState(0) after the seek", with(S_OK, "running"), controlState(g.control, 0));
    p.add("SK-52", "GetCurrentPosition right after the seek", expected("1234 ms + the time run"),
          g.position(kSeekMs, ran, tolerated("1234 ms + the time run")));
    wait(300);
    p.add("SK-52", "GetCurrentPosition 300 ms after the seek", expected("1234 ms + the time run"),
          g.position(kSeekMs, ran, tolerated("1234 ms + the time run")));
    current = -1;
    stop = -1;
    hr = g.seeking->GetPositions(&current, &stop);
    p.add("SK-53", "GetPositions after the seek: the stop", with(S_OK, "9000 ms"),
          with(hr, ms(stop)));

    g.control->Pause();
    g.seeking->GetCurrentPosition(&current);
    long held = static_cast<long>(current / probe::kUnitsPerMs);
    wait(300);
    p.add("SK-55", "GetCurrentPosition after 300 ms paused", expected("as at the Pause"),
          g.position(held, clockMs(g.filter), tolerated("as at the Pause")));
    g.control->Run();
    long long resumed = clockMs(g.filter);
    wait(200);
    p.add("SK-55", "GetCurrentPosition 200 ms after running again",
          expected("as at the Pause + the time run since"),
          g.position(held, resumed, tolerated("as at the Pause + the time run since")));

    // Paused, sought, run again: it goes on from where the seek took it.
    g.control->Pause();
    current = 0;
    hr = g.seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                                 AM_SEEKING_NoPositioning);
    p.add("SK-51", "SetPositions(0) paused: the filters' state when told", with(S_OK, "paused"),
          with(hr, stateName(g.render->stateAtSeek())));
    hr = g.seeking->GetCurrentPosition(&current);
    p.add("SK-47", "GetCurrentPosition after a seek while paused", with(S_OK, "1234 ms"),
          with(hr, ms(current)));
    g.control->Run();
    resumed = clockMs(g.filter);
    wait(200);
    p.add("SK-52", "GetCurrentPosition 200 ms after Run from a seek while paused",
          expected("1234 ms + the time run"),
          g.position(kSeekMs, resumed, tolerated("1234 ms + the time run")));

    hr = g.seeking->SetRate(2.0);
    p.add("SK-49", "SetRate(2.0) running: the filters told", with(S_OK, "2.0"),
          with(hr, g.render->rate() == 2.0 && g.render2->rate() == 2.0 ? "2.0" : "not 2.0"));
    p.add("SK-49", "GetState(0) after SetRate(2.0)", with(S_OK, "running"),
          controlState(g.control, 0));
    hr = g.seeking->SetRate(-1.0);
    double rate = 0;
    HRESULT got = g.seeking->GetRate(&rate);
    p.add("SK-50", "SetRate(-1.0) running, then GetRate", code(S_OK) + "; " + with(S_OK, "-1.0"),
          code(hr) + "; " + with(got, rate == -1.0 ? "-1.0" : std::to_string(rate)));
    g.seeking->SetRate(1.0);

    g.journal.clear();
    p.add("MC-05", "Stop from running", code(S_OK), code(g.control->Stop()));
    p.add("MC-05", "Stop from running: the order", "each paused first, the renderer stopped first",
          transition(g.journal, true));
    hr = g.seeking->GetCurrentPosition(&current);
    p.add("SK-56", "GetCurrentPosition after Stop: the filters' seek position again",
          with(S_OK, "1234 ms"), with(hr, ms(current)));
}

// IMediaControl::GetState while a filter says it is elsewhere.
void statesApart(Probe& p, RunningGraph& g) {
    g.control->Pause();
    g.render->reportState(S_OK, State_Stopped);
    p.add("MC-08", "GetState(0) paused, a filter stopped", with(E_FAIL, "paused"),
          controlState(g.control, 0));
    g.render->reportTrueState();
    g.control->Run();
    g.render->reportState(S_OK, State_Paused);
    p.add("MC-09", "GetState(0) running, a filter paused",
          with(VFW_S_STATE_INTERMEDIATE, "running"), controlState(g.control, 0));
    p.add("MC-09", "GetState(100) running, a filter paused",
          with(VFW_S_STATE_INTERMEDIATE, "running"), controlState(g.control, 100));
    g.render->reportState(S_OK, State_Stopped);
    p.add("MC-10", "GetState(0) running, a filter stopped", with(E_FAIL, "running"),
          controlState(g.control, 0));
    g.render->reportTrueState();
    g.control->Stop();
    g.render->reportState(S_OK, State_Paused);
    p.add("MC-11", "GetState(0) stopped, a filter paused",
          with(VFW_S_STATE_INTERMEDIATE, "stopped"), controlState(g.control, 0));
    g.render->reportState(S_OK, State_Running);
    p.add("MC-12", "GetState(0) stopped, a filter running", with(E_FAIL, "stopped"),
          controlState(g.control, 0));
    g.render->reportTrueState();
}

// Without a clock the graph has to ask its filters where they are.
void withoutClock(Probe& p, RunningGraph& g) {
    g.filter->SetSyncSource(nullptr);
    g.control->Run();
    g.render->resetPositionQuestions();
    g.render2->resetPositionQuestions();
    wait(100);
    LONGLONG current = -1;
    g.seeking->GetCurrentPosition(&current);
    p.add("SK-58", "the filters asked for their position, running with no clock", "asked",
          g.render->positionQuestions() + g.render2->positionQuestions() ? "asked" : "not asked");
    g.control->Stop();
}

void runningGraph(Probe& p) {
    RunningGraph g;
    if (!g.open()) {
        p.add("doc", "a graph of probe filters", "built", "not built");
        g.close();
        return;
    }
    startTime();
    stoppedAndStarting(p, g);
    runToTheEnd(p, g);
    g.control->Stop();
    g.control->Run();
    completions(g.events, 0);
    ownCompletion(p, g);
    controlsWhileRunning(p, g);
    statesApart(p, g);
    withoutClock(p, g);
    endTime();
    g.close();
}

// A renderer whose pause completes only when its data comes, as a connected
// renderer's does: the graph's state changes pend until it has.
void pendingStates(Probe& p) {
    IGraphBuilder* graph = nullptr;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&graph));
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    probe::Journal journal;
    probe::FilterShape shape{"render"};
    shape.slowPause = true;
    probe::Filter* render = new probe::Filter(shape, &journal);
    graph->AddFilter(render, L"render");
    startTime();
    p.add("MC-18", "Pause, the renderer's pause pending", code(S_FALSE), code(control->Pause()));
    p.add("MC-18", "GetState(0) while the pause pends", with(VFW_S_STATE_INTERMEDIATE, "paused"),
          controlState(control, 0));
    render->settle();
    p.add("MC-18", "GetState(0) once it is paused", with(S_OK, "paused"), controlState(control, 0));
    control->Stop();
    journal.clear();
    p.add("MC-20", "Run from stopped, the renderer's pause pending", code(S_FALSE),
          code(control->Run()));
    p.add("MC-20", "GetState(0) while the run pends", with(VFW_S_STATE_INTERMEDIATE, "running"),
          controlState(control, 0));
    std::vector<std::string> told = journal.lines();
    p.add("MC-20", "the renderer while it pends", "render paused",
          told.empty() ? "nothing" : told.back());
    p.add("MC-22", "Run again while the run pends", code(S_FALSE), code(control->Run()));
    render->settle();
    std::string settled;
    for (int i = 0; i < 50 && settled != with(S_OK, "running"); i++) {
        wait(10);
        settled = controlState(control, 0);
    }
    p.add("MC-23", "GetState(0) once it is paused: the graph runs it", with(S_OK, "running"),
          settled);
    control->Stop();
    control->Run();
    p.add("MC-24", "Stop while the pause pends", code(S_FALSE), code(control->Stop()));
    told = journal.lines();
    p.add("MC-24", "the renderer after it", "render stopped", told.back());
    p.add("MC-19", "GetState(0) while the stop pends", with(VFW_S_STATE_INTERMEDIATE, "stopped"),
          controlState(control, 0));
    p.add("MC-24", "a second Stop", code(S_OK), code(control->Stop()));
    render->settle();
    p.add("MC-19", "GetState(0) once it is stopped", with(S_OK, "stopped"),
          controlState(control, 0));

    // A pause or a stop while the run pends: the renderer never runs.
    control->Run();
    journal.clear();
    p.add("MC-25", "Pause while the run pends", code(S_FALSE), code(control->Pause()));
    render->settle();
    p.add("MC-25", "GetState(0) once the pause is complete", with(S_OK, "paused"),
          controlState(control, 0));
    p.add("MC-25", "the renderer after the pause", "never ran", ran(journal));
    control->Stop();
    render->settle();
    control->Run();
    journal.clear();
    p.add("MC-26", "Stop while the run pends", code(S_FALSE), code(control->Stop()));
    render->settle();
    p.add("MC-26", "GetState(0) once the stop is complete", with(S_OK, "stopped"),
          controlState(control, 0));
    p.add("MC-26", "the renderer after the stop", "never ran", ran(journal));

    // The graph goes with its last reference while a run pends.
    control->Run();
    control->Release();
    p.add("MC-27", "the graph's last Release while a run pends", "0", number(graph->Release()));
    endTime();
    render->Release();
}

// A filter that cannot cue (VFW_S_CANT_CUE, as a live source) or whose run
// completes later: what the graph says of its state, and what it waits for.
struct TwoFilters {
    IGraphBuilder* graph = nullptr;
    IMediaControl* control = nullptr;
    IMediaFilter* filter = nullptr;
    IMediaSeeking* seeking = nullptr;
    probe::Journal journal;
    probe::Filter* source = nullptr;
    probe::Filter* render = nullptr;

    bool open(const probe::FilterShape& renderShape) {
        if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IGraphBuilder, reinterpret_cast<void**>(&graph))))
            return false;
        control = query<IMediaControl>(graph, IID_IMediaControl);
        filter = query<IMediaFilter>(graph, IID_IMediaFilter);
        seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
        probe::FilterShape shape{"source"};
        shape.output = true;
        shape.seeking = false;
        source = new probe::Filter(shape, &journal);
        render = new probe::Filter(renderShape, &journal);
        graph->AddFilter(source, L"source");
        graph->AddFilter(render, L"render");
        return control && filter && seeking &&
               SUCCEEDED(source->pin()->Connect(render->pin(), nullptr));
    }
    void close() {
        if (control)
            control->Stop();
        for (IUnknown* i : std::initializer_list<IUnknown*>{control, filter, seeking})
            if (i)
                i->Release();
        if (graph)
            graph->Release();
        for (probe::Filter* f : {source, render})
            if (f)
                f->Release();
    }
    std::string bothRunning() const {
        return source->state() == State_Running && render->state() == State_Running
                   ? "both running"
                   : "not both running";
    }
    std::string filterState(DWORD timeoutMs) {
        FILTER_STATE state = State_Stopped;
        HRESULT hr = filter->GetState(timeoutMs, &state);
        return with(hr, stateName(state));
    }
};

void cueing(Probe& p) {
    TwoFilters g;
    probe::FilterShape shape{"render"};
    shape.slowRun = true;
    if (!g.open(shape)) {
        p.add("doc", "a graph of a probe source and renderer", "built", "not built");
        g.close();
        return;
    }
    startTime();
    // IMediaFilter's run does not wait for a run that completes later.
    p.add("MC-28", "IMediaFilter::Run(0) from stopped, the renderer's run slow", code(S_FALSE),
          code(g.filter->Run(0)));
    p.add("MC-28", "the filters after IMediaFilter::Run", "both running", g.bothRunning());
    p.add("MC-28", "IMediaFilter::GetState(0) while the run pends",
          with(VFW_S_STATE_INTERMEDIATE, "running"), g.filterState(0));
    g.render->settle();
    g.control->Stop();
    g.close();

    TwoFilters c;
    if (!c.open(probe::FilterShape{"render"})) {
        c.close();
        endTime();
        return;
    }
    c.source->answerState(VFW_S_CANT_CUE);
    p.add("MC-29", "Pause, the source cannot cue", code(S_OK), code(c.control->Pause()));
    p.add("MC-29", "GetState(0), the source cannot cue", with(VFW_S_CANT_CUE, "paused"),
          controlState(c.control, 0));
    c.render->answerState(VFW_S_STATE_INTERMEDIATE);
    p.add("MC-30", "GetState(0), the source cannot cue, the renderer intermediate",
          with(VFW_S_CANT_CUE, "paused"), controlState(c.control, 0));
    c.source->answerState(VFW_S_STATE_INTERMEDIATE);
    c.render->answerState(VFW_S_CANT_CUE);
    p.add("MC-30", "GetState(0), the renderer cannot cue, the source intermediate",
          with(VFW_S_CANT_CUE, "paused"), controlState(c.control, 0));
    c.source->answerState(S_OK);
    c.render->answerState(S_OK);
    c.control->Stop();
    // With a source that cannot cue, a run does not wait for the renderer's
    // pause.
    c.source->answerState(VFW_S_CANT_CUE);
    c.render->setSlowPause(true);
    p.add("MC-31", "Run from stopped, the renderer's pause pending, the source cannot cue",
          code(S_FALSE), code(c.control->Run()));
    p.add("MC-31", "the filters after that Run", "both running", c.bothRunning());
    p.add("MC-31", "GetState(0) after that Run", with(VFW_S_CANT_CUE, "running"),
          controlState(c.control, 0));
    c.control->Stop();
    c.render->settle();
    c.close();
    endTime();
}

// A graph told to run with no clock: where its filters start, and where it
// says it stands.
void noClock(Probe& p) {
    TwoFilters g;
    if (!g.open(probe::FilterShape{"render"})) {
        g.close();
        return;
    }
    startTime();
    g.filter->SetSyncSource(nullptr);
    g.control->Run();
    REFERENCE_TIME start = g.render->runStart();
    p.add("CK-09", "Run with no clock: the start the filters are given", "between 0 and 50 ms",
          start > 0 && start < 50 * probe::kUnitsPerMs ? "between 0 and 50 ms" : ms(start));
    wait(100);
    LONGLONG current = -1, stop = -1;
    HRESULT hr = g.seeking->GetCurrentPosition(&current);
    p.add("SK-57", "GetCurrentPosition 100 ms into a run with no clock", with(S_OK, "0 ms"),
          with(hr, ms(current)));
    current = -1;
    hr = g.seeking->GetPositions(&current, &stop);
    p.add("SK-57", "GetPositions 100 ms into a run with no clock: the current", with(S_OK, "0 ms"),
          with(hr, ms(current)));
    p.add("SK-57", "GetPositions 100 ms into a run with no clock: the stop", with(S_OK, "0 ms"),
          with(hr, ms(stop)));
    endTime();
    g.close();
}

// The Video Renderer alone, unconnected: it has nothing to wait for, and
// ends at once at every run.
void unconnectedRenderer(Probe& p) {
    IGraphBuilder* graph = nullptr;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&graph));
    IBaseFilter* renderer = createFilter(kStandInRenderer);
    if (!renderer) {
        p.add("RP-23", "the Video Renderer", "created", "not created");
        graph->Release();
        return;
    }
    graph->AddFilter(renderer, L"renderer");
    IMediaControl* control = query<IMediaControl>(graph, IID_IMediaControl);
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    startTime();
    HRESULT hr = control->Pause();
    p.add("RP-22", "Pause, an unconnected Video Renderer alone", with(S_OK, "none"),
          with(hr, completions(events, 50)));
    hr = control->Run();
    p.add("RP-23", "Run from paused: EC_COMPLETE", with(S_OK, "1(0, 0)"),
          with(hr, completions(events, 500)));
    hr = control->Pause();
    p.add("RP-23", "Pause again", with(S_OK, "none"), with(hr, completions(events, 50)));
    hr = control->Stop();
    p.add("RP-23", "Stop, the Video Renderer alone", with(S_OK, "none"),
          with(hr, completions(events, 50)));
    hr = control->Run();
    p.add("RP-23", "Run from stopped: EC_COMPLETE", with(S_OK, "1(0, 0)"),
          with(hr, completions(events, 500)));
    control->Stop();
    endTime();
    events->Release();
    control->Release();
    graph->RemoveFilter(renderer);
    renderer->Release();
    graph->Release();
}

int runProbe(Probe& p) {
    IUnknown* asked = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterGraph2, reinterpret_cast<void**>(&asked));
    p.add("QI-01", "CoCreateInstance(CLSID_FilterGraph, IFilterGraph2)", code(S_OK), code(hr));
    if (asked)
        asked->Release();
    IGraphBuilder* graph = nullptr;
    hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                          reinterpret_cast<void**>(&graph));
    if (FAILED(hr))
        return 1;
    IBaseFilter* decoder = createFilter(CLSID_TovixDecoder);
    IBaseFilter* demux = createFilter(CLSID_MpegDemux);
    if (!decoder || !demux) {
        fprintf(stderr, "the card's decoder or demultiplexer cannot be created\n");
        return 1;
    }
    interfaces(p, graph);
    IMediaSeeking* seeking = query<IMediaSeeking>(graph, IID_IMediaSeeking);
    emptySeeking(p, seeking);
    seeking->Release();
    IMediaEventEx* events = query<IMediaEventEx>(graph, IID_IMediaEventEx);
    emptyEvents(p, events);
    IMediaFilter* filter = query<IMediaFilter>(graph, IID_IMediaFilter);
    if (filter) {
        emptyClock(p, filter, events);
        filter->Release();
    }
    events->Release();
    emptyForwarding(p, graph);
    membership(p, graph, decoder, demux);
    withDecoder(p, graph, decoder);
    graph->Release();
    decoder->Release();
    demux->Release();
    running(p);
    runningGraph(p);
    pendingStates(p);
    cueing(p);
    noClock(p);
    unconnectedRenderer(p);
    return 0;
}

std::string cell(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '|' ? std::string("\\|") : std::string(1, c);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const char* knownPath = nullptr;
    const char* tablePath = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--known"))
            knownPath = argv[i + 1];
        else if (!strcmp(argv[i], "--table"))
            tablePath = argv[i + 1];
    }
    std::map<std::string, std::string> known;
    if (knownPath)
        known = readKnown(knownPath);

    CoInitialize(nullptr);
    Probe probe;
    int broken = runProbe(probe);
    CoUninitialize();

    int agree = 0, gaps = 0, differ = 0, stale = 0;
    std::ostringstream table;
    table << "| Source | Call | Windows | Here |\n|---|---|---|---|\n";
    for (const Row& r : probe.rows()) {
        bool same = r.windows == r.here;
        auto listed = known.find(r.call);
        table << "| " << r.id << " | " << cell(r.call) << " | " << cell(r.windows) << " | "
              << cell(r.here) << (same ? "" : " (differs)") << " |\n";
        if (same && listed == known.end()) {
            agree++;
        } else if (same) {
            stale++;
            printf("AGREES NOW, remove it from the known gaps: %s\n", r.call.c_str());
        } else if (listed != known.end()) {
            gaps++;
            printf("known gap  %s: Windows %s, here %s (%s)\n", r.call.c_str(), r.windows.c_str(),
                   r.here.c_str(), listed->second.c_str());
        } else {
            differ++;
            printf("DIFFERS    %s [%s]: Windows %s, here %s\n", r.call.c_str(), r.id.c_str(),
                   r.windows.c_str(), r.here.c_str());
        }
    }
    if (tablePath) {
        std::ofstream out(tablePath);
        out << table.str();
    }
    printf("graph probe: %d calls, %d as on Windows, %d known gaps, %d differ, %d gaps gone\n",
           static_cast<int>(probe.rows().size()), agree, gaps, differ, stale);
    return broken || differ || stale ? 1 : 0;
}
