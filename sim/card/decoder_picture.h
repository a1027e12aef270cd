// The decoder filter's picture and sound as the graph sees them: the
// volume it holds (-10000 silent to 0 full), the video size from the video
// connection's format block, and the source and destination rectangles it
// keeps. Part of the decoder's renderer side: its interfaces share the
// decoder's identity and reference count.
#pragma once

#include "../media/stream.h"
#include "../media/types.h"
#include "decoder.h"

#include <string>

namespace sim {

// The decoder's fault point "DecoderFilter::<method>": its armed code, else S_OK.
inline HRESULT decoderFault(const char* method) {
    HRESULT armed = S_OK;
    faultFires(faultPoint("DecoderFilter", method), &armed);
    return armed;
}

// The stream as the decoder's connected input pins see it; video first.
inline HRESULT decoderStreamInfo(BaseFilter* decoder, MediaInfo* info) {
    HRESULT hr = upstreamMediaInfo(decoder->pinAt(kDecoderVideoIn), info);
    if (FAILED(hr))
        hr = upstreamMediaInfo(decoder->pinAt(kDecoderAudioIn), info);
    return hr;
}

// What tests read through simctl::renderer().
void recordPicture(LONG volume, const RECT& destination);
void recordPlayback(double rate, double position);
void recordSample(long bytes);

class DecoderPicture : public NoDispatch<IBasicAudio, IBasicVideo2> {
  public:
    explicit DecoderPicture(BaseFilter* filter) : filter_(filter) {}

    // The rectangles follow a newly connected stream.
    void resetToStream() {
        destination_ = wholePicture();
        source_ = destination_;
        record();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return filter_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return filter_->addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return filter_->release(); }

    // ---- IBasicAudio ----
    HRESULT STDMETHODCALLTYPE put_Volume(LONG volume) override {
        HRESULT hr = decoderFault("put_Volume");
        if (FAILED(hr))
            return hr;
        if (volume < kSilent || volume > 0)
            return E_INVALIDARG;
        volume_ = volume;
        record();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Volume(LONG* volume) override {
        if (!volume)
            return E_POINTER;
        HRESULT hr = decoderFault("get_Volume");
        if (FAILED(hr))
            return hr;
        *volume = volume_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Balance(LONG balance) override {
        if (balance < -10000 || balance > 10000)
            return E_INVALIDARG;
        balance_ = balance;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Balance(LONG* balance) override {
        if (!balance)
            return E_POINTER;
        *balance = balance_;
        return S_OK;
    }

    // ---- IBasicVideo / IBasicVideo2 ----
    HRESULT STDMETHODCALLTYPE get_AvgTimePerFrame(REFTIME* time) override {
        if (!time)
            return E_POINTER;
        VideoFormat format;
        HRESULT hr = picture(&format);
        if (FAILED(hr))
            return hr;
        *time = secondsFromUnits(format.framePeriod);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BitRate(LONG* rate) override { return zero(rate); }
    HRESULT STDMETHODCALLTYPE get_BitErrorRate(LONG* rate) override { return zero(rate); }
    HRESULT STDMETHODCALLTYPE get_VideoWidth(LONG* width) override {
        LONG height = 0;
        return videoSize("get_VideoWidth", width, &height);
    }
    HRESULT STDMETHODCALLTYPE get_VideoHeight(LONG* height) override {
        LONG width = 0;
        return videoSize("get_VideoHeight", &width, height);
    }
    HRESULT STDMETHODCALLTYPE put_SourceLeft(LONG v) override { return setSide(source_, 0, v); }
    HRESULT STDMETHODCALLTYPE get_SourceLeft(LONG* v) override { return side(source_, 0, v); }
    HRESULT STDMETHODCALLTYPE put_SourceWidth(LONG v) override { return setSide(source_, 2, v); }
    HRESULT STDMETHODCALLTYPE get_SourceWidth(LONG* v) override { return side(source_, 2, v); }
    HRESULT STDMETHODCALLTYPE put_SourceTop(LONG v) override { return setSide(source_, 1, v); }
    HRESULT STDMETHODCALLTYPE get_SourceTop(LONG* v) override { return side(source_, 1, v); }
    HRESULT STDMETHODCALLTYPE put_SourceHeight(LONG v) override { return setSide(source_, 3, v); }
    HRESULT STDMETHODCALLTYPE get_SourceHeight(LONG* v) override { return side(source_, 3, v); }
    HRESULT STDMETHODCALLTYPE put_DestinationLeft(LONG v) override {
        return setSide(destination_, 0, v);
    }
    HRESULT STDMETHODCALLTYPE get_DestinationLeft(LONG* v) override {
        return side(destination_, 0, v);
    }
    HRESULT STDMETHODCALLTYPE put_DestinationWidth(LONG v) override {
        return setSide(destination_, 2, v);
    }
    HRESULT STDMETHODCALLTYPE get_DestinationWidth(LONG* v) override {
        return side(destination_, 2, v);
    }
    HRESULT STDMETHODCALLTYPE put_DestinationTop(LONG v) override {
        return setSide(destination_, 1, v);
    }
    HRESULT STDMETHODCALLTYPE get_DestinationTop(LONG* v) override {
        return side(destination_, 1, v);
    }
    HRESULT STDMETHODCALLTYPE put_DestinationHeight(LONG v) override {
        return setSide(destination_, 3, v);
    }
    HRESULT STDMETHODCALLTYPE get_DestinationHeight(LONG* v) override {
        return side(destination_, 3, v);
    }
    HRESULT STDMETHODCALLTYPE SetSourcePosition(LONG left, LONG top, LONG width,
                                                LONG height) override {
        return setRect(source_, left, top, width, height);
    }
    HRESULT STDMETHODCALLTYPE GetSourcePosition(LONG* left, LONG* top, LONG* width,
                                                LONG* height) override {
        return getRect(source_, left, top, width, height);
    }
    HRESULT STDMETHODCALLTYPE SetDefaultSourcePosition() override {
        source_ = wholePicture();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDestinationPosition(LONG left, LONG top, LONG width,
                                                     LONG height) override {
        HRESULT hr = decoderFault("SetDestinationPosition");
        if (FAILED(hr))
            return hr;
        hr = setRect(destination_, left, top, width, height);
        record();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetDestinationPosition(LONG* left, LONG* top, LONG* width,
                                                     LONG* height) override {
        return getRect(destination_, left, top, width, height);
    }
    HRESULT STDMETHODCALLTYPE SetDefaultDestinationPosition() override {
        destination_ = wholePicture();
        record();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVideoSize(LONG* width, LONG* height) override {
        return videoSize("GetVideoSize", width, height);
    }
    HRESULT STDMETHODCALLTYPE GetVideoPaletteEntries(LONG, LONG, LONG* retrieved, LONG*) override {
        if (retrieved)
            *retrieved = 0;
        return VFW_E_NO_PALETTE_AVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentImage(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsUsingDefaultSource() override {
        return sameRect(source_, wholePicture()) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE IsUsingDefaultDestination() override {
        return sameRect(destination_, wholePicture()) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) override {
        if (!aspectX || !aspectY)
            return E_POINTER;
        VideoFormat format;
        HRESULT hr = picture(&format);
        if (FAILED(hr))
            return hr;
        *aspectX = format.aspectX;
        *aspectY = format.aspectY;
        return S_OK;
    }

  private:
    static const LONG kSilent = -10000;

    // The picture of the connected video: the connection's format block, or,
    // for the push graph's demultiplexer whose pin carries none, the stream
    // upstream. VFW_E_NOT_CONNECTED without video.
    HRESULT picture(VideoFormat* format) const {
        BasePin* pin = filter_->pinAt(kDecoderVideoIn);
        if (!pin->isConnected())
            return VFW_E_NOT_CONNECTED;
        if (readVideoFormat(pin->mediaType(), format) && format->width > 0)
            return S_OK;
        MediaInfo info;
        HRESULT hr = upstreamMediaInfo(pin, &info);
        if (FAILED(hr))
            return hr;
        if (info.width <= 0)
            return VFW_E_NOT_CONNECTED;
        *format = videoFormatOf(info);
        return S_OK;
    }
    RECT wholePicture() const {
        VideoFormat format;
        if (FAILED(picture(&format)))
            return RECT{0, 0, 0, 0};
        return RECT{0, 0, format.width, format.height};
    }
    HRESULT videoSize(const char* method, LONG* width, LONG* height) const {
        if (!width || !height)
            return E_POINTER;
        HRESULT hr = decoderFault(method);
        if (FAILED(hr))
            return hr;
        VideoFormat format;
        hr = picture(&format);
        if (FAILED(hr))
            return hr;
        *width = format.width;
        *height = format.height;
        return S_OK;
    }

    static bool sameRect(const RECT& a, const RECT& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
    static HRESULT zero(LONG* v) {
        if (!v)
            return E_POINTER;
        *v = 0;
        return S_OK;
    }
    // Rectangles are kept as left, top, width, height in RECT's four fields.
    static LONG& field(RECT& r, int which) {
        return which == 0 ? r.left : which == 1 ? r.top : which == 2 ? r.right : r.bottom;
    }
    static HRESULT side(RECT r, int which, LONG* v) {
        if (!v)
            return E_POINTER;
        *v = field(r, which);
        return S_OK;
    }
    static HRESULT setSide(RECT& r, int which, LONG v) {
        if (which >= 2 && v <= 0)
            return E_INVALIDARG;
        field(r, which) = v;
        return S_OK;
    }
    static HRESULT setRect(RECT& r, LONG left, LONG top, LONG width, LONG height) {
        if (width <= 0 || height <= 0)
            return E_INVALIDARG;
        r = RECT{left, top, width, height};
        return S_OK;
    }
    static HRESULT getRect(const RECT& r, LONG* left, LONG* top, LONG* width, LONG* height) {
        if (!left || !top || !width || !height)
            return E_POINTER;
        *left = r.left, *top = r.top, *width = r.right, *height = r.bottom;
        return S_OK;
    }

    void record() const { recordPicture(volume_, destination_); }

    BaseFilter* filter_;
    LONG volume_ = 0;
    LONG balance_ = 0;
    RECT source_{0, 0, 0, 0};
    RECT destination_{0, 0, 0, 0};
};

} // namespace sim
