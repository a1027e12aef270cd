// The decoder filter: its pins, output registers and profile.
#include "decoder.h"

#include "../media/stream.h"
#include "../media/types.h"
#include "decoder_playback.h"
#include "state.h"

#include <cstring>

namespace sim {

const char kDecoderClassName[] = "DecoderFilter";

namespace {

// Fault points of the register methods, named once: they are called on every
// OSD frame, which must not allocate.
bool registerFault(int which, HRESULT* armed) {
    static const std::string points[] = {
        "DecoderFilter::GetOutputFlags", "DecoderFilter::SetOutputFlags",
        "DecoderFilter::GetAspect",      "DecoderFilter::SetAspect",
        "DecoderFilter::GetHdMode",      "DecoderFilter::SetHdMode",
        "DecoderFilter::GetVgaMode",     "DecoderFilter::SetVgaMode",
        "DecoderFilter::GetAudioOutput", "DecoderFilter::SetAudioOutput",
    };
    return faultFires(points[which], armed);
}

HRESULT readThrough(int point, card::Register r, int* value) {
    if (!value)
        return E_POINTER;
    HRESULT armed;
    if (registerFault(point, &armed))
        return armed;
    *value = card::readRegister(r);
    return S_OK;
}

HRESULT writeThrough(int point, card::Register r, int value) {
    HRESULT armed;
    if (registerFault(point, &armed))
        return armed;
    card::writeRegister(r, value);
    return S_OK;
}

ClassRegistrar gRegistrar(CLSID_TovixDecoder, kDecoderClassName, createObject<DecoderFilter>);

} // namespace

DecoderFilter::DecoderFilter() : BaseFilter(kDecoderClassName, CLSID_TovixDecoder) {
    addPin(L"Video", PINDIR_INPUT, {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO)},
           {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO),
            makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Payload),
            makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Packet)});
    // MEDIASUBTYPE_MPEG1Audio is what the card's own demultiplexer offers.
    addPin(L"Audio", PINDIR_INPUT, {makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Audio)},
           {makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Audio),
            makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1AudioPayload),
            makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Payload),
            makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Packet),
            makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG2_AUDIO),
            makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3),
            makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_DVD_LPCM_AUDIO)});
    addPin(L"Overlay", PINDIR_OUTPUT, {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_Overlay)});
    playback_ = std::make_unique<DecoderPlayback>(this);
}

DecoderFilter::~DecoderFilter() = default;

void* DecoderFilter::extraInterface(REFIID riid) {
    if (riid == IID_ITvVgaOutput3)
        return static_cast<ITvVgaOutput3*>(this);
    if (riid == IID_IAudioOutput)
        return static_cast<IAudioOutput*>(this);
    if (riid == IID_IREALmagicProfile)
        return static_cast<IREALmagicProfile*>(this);
    return playback_->extraInterface(riid);
}

void* DecoderFilter::pinInterface(BasePin* pin, REFIID riid) {
    return playback_->pinInterface(pin, riid);
}
HRESULT DecoderFilter::onStop() {
    return playback_->onStop();
}
HRESULT DecoderFilter::onPause() {
    return playback_->onPause();
}
HRESULT DecoderFilter::onRun(REFERENCE_TIME start) {
    return playback_->onRun(start);
}
HRESULT DecoderFilter::onGetState(DWORD msTimeout) {
    return playback_->onGetState(msTimeout);
}
// The card decodes MPEG-1 and MPEG-2 video only. A video stream in which no
// MPEG sequence header is found (H.264 in a program stream, for one) is
// refused at the connection, whatever subtype the demultiplexer announced
// for it: in push mode the stream itself is asked, through the filters
// upstream; in pull mode the demultiplexer's format block tells, since it
// has no picture size without a sequence header.
HRESULT DecoderFilter::onCompleteConnect(BasePin* pin, IPin*) {
    if (pin->index() != kDecoderVideoIn)
        return S_OK;
    MediaInfo info;
    if (SUCCEEDED(upstreamMediaInfo(pin, &info)) && info.videoNotMpeg())
        return VFW_E_TYPE_NOT_ACCEPTED;
    VideoFormat format;
    if (readVideoFormat(pin->mediaType(), &format) && (format.width <= 0 || format.height <= 0))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

void DecoderFilter::onConnected(BasePin* pin) {
    playback_->onConnected(pin);
}
void DecoderFilter::onDisconnected(BasePin* pin) {
    playback_->onDisconnected(pin);
}
HRESULT DecoderFilter::onEndOfStream(BasePin* pin) {
    return playback_->onEndOfStream(pin);
}
HRESULT DecoderFilter::onBeginFlush(BasePin* pin) {
    return playback_->onBeginFlush(pin);
}
HRESULT DecoderFilter::onEndFlush(BasePin* pin) {
    return playback_->onEndFlush(pin);
}
HRESULT DecoderFilter::onNewSegment(BasePin* pin, REFERENCE_TIME start, REFERENCE_TIME,
                                    double rate) {
    return playback_->onNewSegment(pin, start, rate);
}

HRESULT DecoderFilter::GetOutputFlags(int* flags) {
    return readThrough(0, card::kOutputFlags, flags);
}
HRESULT DecoderFilter::SetOutputFlags(int flags) {
    return writeThrough(1, card::kOutputFlags, flags);
}
HRESULT DecoderFilter::GetAspect(int* aspect) {
    return readThrough(2, card::kAspect, aspect);
}
HRESULT DecoderFilter::SetAspect(int aspect) {
    return writeThrough(3, card::kAspect, aspect);
}
HRESULT DecoderFilter::GetHdMode(int* mode) {
    return readThrough(4, card::kHdMode, mode);
}
HRESULT DecoderFilter::SetHdMode(int mode) {
    return writeThrough(5, card::kHdMode, mode);
}
HRESULT DecoderFilter::GetVgaMode(int* mode) {
    return readThrough(6, card::kVgaMode, mode);
}
HRESULT DecoderFilter::SetVgaMode(int mode) {
    return writeThrough(7, card::kVgaMode, mode);
}
HRESULT DecoderFilter::GetAudioOutput(int* output) {
    return readThrough(8, card::kAudioOutput, output);
}
HRESULT DecoderFilter::SetAudioOutput(int output) {
    return writeThrough(9, card::kAudioOutput, output);
}

// As the Windows profile functions: the value, or the default when the key
// is missing, cut to fit and always terminated. S_FALSE says the default
// was used.
HRESULT DecoderFilter::ReadProfileString(const char* section, const char* key,
                                         const char* defaultValue, char* buffer, int bufferSize) {
    if (!section || !key || !buffer)
        return E_POINTER;
    if (bufferSize <= 0)
        return E_INVALIDARG;
    HRESULT armed;
    if (faultFires(faultPoint(className(), "ReadProfileString"), &armed))
        return armed;
    std::string value;
    bool found = card::profileValue(section, key, &value);
    if (!found)
        value = defaultValue ? defaultValue : "";
    size_t n = value.size() < static_cast<size_t>(bufferSize - 1)
                   ? value.size()
                   : static_cast<size_t>(bufferSize - 1);
    memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return found ? S_OK : S_FALSE;
}

} // namespace sim
