// Media types, format blocks, media samples and their allocator.
#include "types.h"

#include <cstring>

namespace sim {

const GUID MEDIASUBTYPE_MPEG1System = {
    0xE436EB84, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const GUID MEDIASUBTYPE_MPEG1Packet = {
    0xE436EB80, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const GUID MEDIASUBTYPE_MPEG1Payload = {
    0xE436EB81, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
const GUID MEDIASUBTYPE_MPEG1AudioPayload = {
    0x00000050, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID MEDIASUBTYPE_MPEG2_AUDIO = {
    0xE06D802B, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const GUID MEDIASUBTYPE_DOLBY_AC3 = {
    0xE06D802C, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const GUID MEDIASUBTYPE_DTS = {
    0xE06D8033, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const GUID MEDIASUBTYPE_DVD_LPCM_AUDIO = {
    0xE06D8032, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
const GUID MEDIASUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID FORMAT_VideoInfo = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const GUID FORMAT_WaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const GUID FORMAT_MPEGVideo = {
    0x05589F82, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const GUID FORMAT_VideoInfo2 = {
    0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
const GUID FORMAT_MPEG2Video = {
    0xE06D80E3, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};

namespace {

// The picture of a header, with the aspect ratio its pixels give when the
// block names none.
template <class Header> void readHeader(const Header& h, VideoFormat* format) {
    format->width = h.bmiHeader.biWidth;
    format->height = h.bmiHeader.biHeight < 0 ? -h.bmiHeader.biHeight : h.bmiHeader.biHeight;
    format->framePeriod = h.AvgTimePerFrame;
    format->aspectX = format->width;
    format->aspectY = format->height;
}

void readHeader2(const VIDEOINFOHEADER2& h, VideoFormat* format) {
    readHeader(h, format);
    if (h.dwPictAspectRatioX && h.dwPictAspectRatioY) {
        format->aspectX = static_cast<LONG>(h.dwPictAspectRatioX);
        format->aspectY = static_cast<LONG>(h.dwPictAspectRatioY);
    }
}

class MediaSample : public IMediaSample, public ComObject {
  public:
    explicit MediaSample(LONG size)
        : ComObject("MediaSample"), buffer_(static_cast<size_t>(size)), length_(size) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return queryInterface(this, riid, ppv,
                              {{&IID_IUnknown, static_cast<IMediaSample*>(this)},
                               {&IID_IMediaSample, static_cast<IMediaSample*>(this)}});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
        if (!buffer)
            return E_POINTER;
        *buffer = buffer_.data();
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetSize() override { return static_cast<LONG>(buffer_.size()); }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
        if (!start || !end)
            return E_POINTER;
        if (!timed_)
            return VFW_E_SAMPLE_TIME_NOT_SET;
        *start = start_;
        *end = end_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
        timed_ = start != nullptr;
        if (start)
            start_ = *start;
        end_ = end ? *end : start_ + 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return sync_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL sync) override {
        sync_ = sync != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return S_OK; }
    LONG STDMETHODCALLTYPE GetActualDataLength() override { return length_; }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override {
        if (length < 0 || length > GetSize())
            return VFW_E_BUFFER_OVERFLOW;
        length_ = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override {
        if (!type)
            return E_POINTER;
        *type = nullptr;
        return S_FALSE; // the type is the connection's
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL discontinuity) override {
        discontinuity_ = discontinuity != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override {
        return VFW_E_MEDIA_TIME_NOT_SET;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

  private:
    std::vector<BYTE> buffer_;
    LONG length_;
    bool timed_ = false;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME end_ = 0;
    bool sync_ = false;
    bool discontinuity_ = false;
};

} // namespace

bool readVideoFormat(const AM_MEDIA_TYPE& mt, VideoFormat* format) {
    if (!mt.pbFormat)
        return false;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        readHeader(*reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat), format);
        return true;
    }
    if (mt.formattype == FORMAT_MPEGVideo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        readHeader(reinterpret_cast<const MPEG1VIDEOINFO*>(mt.pbFormat)->hdr, format);
        return true;
    }
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        readHeader2(*reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat), format);
        return true;
    }
    if (mt.formattype == FORMAT_MPEG2Video && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        readHeader2(reinterpret_cast<const MPEG2VIDEOINFO*>(mt.pbFormat)->hdr, format);
        return true;
    }
    return false;
}

VideoFormat videoFormatOf(const MediaInfo& info) {
    VideoFormat format;
    format.width = info.width;
    format.height = info.height;
    format.framePeriod = info.frameRate > 0 ? unitsFromSeconds(1.0 / info.frameRate) : 0;
    format.aspectX = info.width;
    format.aspectY = info.height;
    if (info.videoMpegVersion == 2) {
        static const LONG shapes[][2] = {{4, 3}, {16, 9}, {221, 100}};
        if (info.aspectCode >= 2 && info.aspectCode <= 4) {
            format.aspectX = shapes[info.aspectCode - 2][0];
            format.aspectY = shapes[info.aspectCode - 2][1];
        }
    }
    return format;
}

MemAllocator::MemAllocator() : ComObject("MemAllocator") {}

HRESULT MemAllocator::QueryInterface(REFIID riid, void** ppv) {
    return queryInterface(this, riid, ppv,
                          {{&IID_IUnknown, static_cast<IMemAllocator*>(this)},
                           {&IID_IMemAllocator, static_cast<IMemAllocator*>(this)}});
}

HRESULT MemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual)
        return E_POINTER;
    if (committed_)
        return VFW_E_ALREADY_COMMITTED;
    props_ = *request;
    if (props_.cBuffers < 1)
        props_.cBuffers = 1;
    if (props_.cbAlign < 1)
        props_.cbAlign = 1;
    *actual = props_;
    return S_OK;
}

HRESULT MemAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
    if (!props)
        return E_POINTER;
    *props = props_;
    return S_OK;
}

HRESULT MemAllocator::Commit() {
    if (props_.cbBuffer <= 0)
        return VFW_E_SIZENOTSET;
    committed_ = true;
    return S_OK;
}

HRESULT MemAllocator::Decommit() {
    committed_ = false;
    return S_OK;
}

// Each buffer is a sample of its own, freed when its last reference goes:
// nothing here waits for a buffer to come back.
HRESULT MemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) {
    if (!sample)
        return E_POINTER;
    *sample = nullptr;
    if (!committed_)
        return VFW_E_NOT_COMMITTED;
    *sample = new MediaSample(props_.cbBuffer);
    return S_OK;
}

HRESULT MemAllocator::ReleaseBuffer(IMediaSample*) {
    return S_OK;
}

HRESULT connectReceiver(IPin* peer, LONG bufferSize, IMemInputPin** receiver,
                        IMemAllocator** allocator) {
    *receiver = nullptr;
    *allocator = nullptr;
    IMemInputPin* input = nullptr;
    if (FAILED(peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input))) || !input)
        return VFW_E_NO_TRANSPORT;
    IMemAllocator* chosen = nullptr;
    if (FAILED(input->GetAllocator(&chosen)) || !chosen)
        chosen = new MemAllocator();
    ALLOCATOR_PROPERTIES wanted{4, bufferSize > 0 ? bufferSize : 1, 1, 0}, got{};
    HRESULT hr = chosen->SetProperties(&wanted, &got);
    if (SUCCEEDED(hr))
        hr = input->NotifyAllocator(chosen, FALSE);
    if (FAILED(hr)) {
        chosen->Release();
        input->Release();
        return hr;
    }
    *receiver = input;
    *allocator = chosen;
    return S_OK;
}

} // namespace sim
