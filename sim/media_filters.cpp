// The file source, the MPEG-2 splitter and the video renderer behind
// RenderFile.
#include "media_filters.h"

#include <cstring>

namespace sim {

namespace {

const CLSID CLSID_AsyncReader = {
    0xE436EBB5, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const CLSID CLSID_Mpeg2Splitter = {
    0x6B1F7E22, 0x3C4D, 0x4A55, {0x9E, 0x61, 0x70, 0x82, 0x93, 0xA4, 0xB5, 0xC6}};
const CLSID CLSID_VideoRenderer = {
    0x70E102B0, 0x5556, 0x11CE, {0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

} // namespace

FileSourceFilter::FileSourceFilter() : BaseFilter("FileSource", CLSID_AsyncReader) {
    addPin(L"Output", PINDIR_OUTPUT, {makeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM)});
}

void* FileSourceFilter::extraInterface(REFIID riid) {
    if (riid == IID_IFileSourceFilter)
        return static_cast<IFileSourceFilter*>(this);
    if (riid == IID_ISimMediaInfo)
        return static_cast<ISimMediaInfo*>(this);
    return nullptr;
}

HRESULT FileSourceFilter::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*) {
    if (!fileName)
        return E_POINTER;
    Fault f = faultAt("Load");
    if (f.fail && FAILED(f.hr))
        return f.hr;
    bool found = false;
    MediaInfo info = probeFile(narrow(fileName), &found);
    if (!found)
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    file_ = fileName;
    info_ = info;
    return S_OK;
}

HRESULT FileSourceFilter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
    if (!fileName)
        return E_POINTER;
    *fileName = nullptr;
    if (mt)
        *mt = AM_MEDIA_TYPE{};
    if (file_.empty())
        return S_OK;
    size_t bytes = (file_.size() + 1) * sizeof(OLECHAR);
    *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*fileName)
        return E_OUTOFMEMORY;
    memcpy(*fileName, file_.c_str(), bytes);
    if (mt)
        *mt = makeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM);
    return S_OK;
}

HRESULT FileSourceFilter::GetMediaInfo(MediaInfo* info) {
    if (!info)
        return E_POINTER;
    if (file_.empty())
        return VFW_E_NOT_CONNECTED;
    *info = info_;
    return S_OK;
}

SplitterFilter::SplitterFilter(const MediaInfo& info)
    : BaseFilter("Mpeg2Splitter", CLSID_Mpeg2Splitter) {
    addPin(L"Input", PINDIR_INPUT, {makeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM)},
           {makeMediaType(MEDIATYPE_Stream, GUID_NULL_TYPE)});
    if (info.hasVideo)
        addPin(L"Video", PINDIR_OUTPUT, {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO)});
    for (size_t i = 0; i < info.audioStreams.size(); i++) {
        std::wstring name = i == 0 ? L"Audio" : L"Audio " + std::to_wstring(i + 1);
        addPin(name.c_str(), PINDIR_OUTPUT,
               {makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Audio)});
    }
}

void* SplitterFilter::extraInterface(REFIID riid) {
    if (riid == IID_ISimMediaInfo)
        return static_cast<ISimMediaInfo*>(this);
    return nullptr;
}

HRESULT SplitterFilter::GetMediaInfo(MediaInfo* info) {
    return upstreamMediaInfo(pinAt(0), info);
}

// It takes only the decoder's overlay: the world has no software MPEG
// decoder, so compressed video has nowhere else to go.
VideoRendererFilter::VideoRendererFilter() : BaseFilter("VideoRenderer", CLSID_VideoRenderer) {
    addPin(L"Input", PINDIR_INPUT, {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_Overlay)},
           {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_Overlay)});
}

} // namespace sim
