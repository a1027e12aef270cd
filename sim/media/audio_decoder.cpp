// The system's MPEG audio decoder: MPEG-1 audio (layers I and II, as a
// splitter's packets or payload) in, PCM out. Its output offers PCM only
// once its input is connected, with the channels and sample rate of the
// input's format. It decodes nothing: each sample goes on with its size,
// its times and its flags, on the thread that delivered it, and so do the
// stream's end, flushes and new segments. Seeking on its output passes
// upstream. No AC-3, DTS, LPCM or MPEG-2 audio: those it refuses.
#include "../base/filter.h"
#include "../base/seeking.h"
#include "../base/upstream_seeking.h"
#include "sample_receiver.h"
#include "stock_filters.h"
#include "types.h"

#include <atomic>
#include <cstring>

namespace sim {

const CLSID CLSID_CMpegAudioCodec = {
    0x4A2286E0, 0x7BEF, 0x11CE, {0x9B, 0xD9, 0x00, 0x00, 0xE2, 0x02, 0x59, 0x9C}};

namespace {

const char kClassName[] = "MpegAudioDecoder";
const LONG kPcmBuffer = 1 << 16;

std::vector<AM_MEDIA_TYPE> mpegAudioTypes() {
    return {makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Packet),
            makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Payload),
            makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1AudioPayload)};
}

// 16-bit PCM with the channels and rate of `input`'s format (stereo at
// 48 kHz when it names none).
AM_MEDIA_TYPE pcmTypeFor(const AM_MEDIA_TYPE& input) {
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = 1; // WAVE_FORMAT_PCM
    pcm.nChannels = 2;
    pcm.nSamplesPerSec = 48000;
    if (input.formattype == FORMAT_WaveFormatEx && input.pbFormat &&
        input.cbFormat >= sizeof(WAVEFORMATEX)) {
        const auto* mpeg = reinterpret_cast<const WAVEFORMATEX*>(input.pbFormat);
        if (mpeg->nChannels)
            pcm.nChannels = mpeg->nChannels;
        if (mpeg->nSamplesPerSec)
            pcm.nSamplesPerSec = mpeg->nSamplesPerSec;
    }
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = static_cast<WORD>(pcm.nChannels * 2);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
    AM_MEDIA_TYPE mt = makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    mt.bFixedSizeSamples = TRUE;
    mt.bTemporalCompression = FALSE;
    mt.lSampleSize = pcm.nBlockAlign;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof pcm));
    if (mt.pbFormat) {
        memcpy(mt.pbFormat, &pcm, sizeof pcm);
        mt.cbFormat = sizeof pcm;
    }
    return mt;
}

class MpegAudioDecoder;

// The input pin as a receiver of samples; it shares the pin's identity.
class DecoderReceiver final : public SampleReceiver {
  public:
    DecoderReceiver(BasePin* pin, MpegAudioDecoder* decoder)
        : SampleReceiver(pin), decoder_(decoder) {}

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;

  private:
    MpegAudioDecoder* decoder_;
};

class MpegAudioDecoder final : public BaseFilter {
  public:
    MpegAudioDecoder()
        : BaseFilter(kClassName, CLSID_CMpegAudioCodec),
          input_(addPin(L"XForm In", PINDIR_INPUT, mpegAudioTypes())),
          output_(addPin(L"XForm Out", PINDIR_OUTPUT, {})), receiver_(input_, this),
          seeking_(static_cast<IBaseFilter*>(this), input_) {}
    ~MpegAudioDecoder() override { forgetOutput(); }

    void* pinInterface(BasePin* pin, REFIID riid) override {
        if (pin == input_ && riid == IID_IMemInputPin)
            return static_cast<IMemInputPin*>(&receiver_);
        if (pin == output_ && riid == IID_IMediaSeeking)
            return static_cast<IMediaSeeking*>(&seeking_);
        if (pin == output_ && riid == IID_IMediaPosition)
            return static_cast<IMediaPosition*>(&position_);
        return nullptr;
    }

    // The output takes a connection only after the input has one, and
    // then sends through the downstream pin's allocator.
    HRESULT onCompleteConnect(BasePin* pin, IPin* peer) override {
        if (pin != output_)
            return S_OK;
        if (!input_->isConnected())
            return VFW_E_NOT_CONNECTED;
        return connectReceiver(peer, kPcmBuffer, &downstream_, &allocator_);
    }
    void onConnected(BasePin* pin) override {
        if (pin == input_)
            output_->setProposedTypes({pcmTypeFor(input_->mediaType())});
    }
    void onDisconnected(BasePin* pin) override {
        if (pin == output_)
            forgetOutput();
        else if (pin == input_)
            receiver_.releaseAllocator();
        if (pin == input_ && !output_->isConnected())
            output_->setProposedTypes({});
    }

    HRESULT onPause() override {
        if (state() == State_Stopped && allocator_)
            return allocator_->Commit();
        return S_OK;
    }
    HRESULT onStop() override {
        if (allocator_)
            allocator_->Decommit();
        return S_OK;
    }

    HRESULT onEndOfStream(BasePin* pin) override {
        if (pin != input_)
            return E_UNEXPECTED;
        IPin* next = output_->peer();
        return next ? next->EndOfStream() : S_OK;
    }
    HRESULT onBeginFlush(BasePin* pin) override {
        if (pin != input_)
            return E_UNEXPECTED;
        flushing_ = true;
        IPin* next = output_->peer();
        return next ? next->BeginFlush() : S_OK;
    }
    HRESULT onEndFlush(BasePin* pin) override {
        if (pin != input_)
            return E_UNEXPECTED;
        flushing_ = false;
        IPin* next = output_->peer();
        return next ? next->EndFlush() : S_OK;
    }
    HRESULT onNewSegment(BasePin* pin, REFERENCE_TIME start, REFERENCE_TIME stop,
                         double rate) override {
        if (pin != input_)
            return E_UNEXPECTED;
        IPin* next = output_->peer();
        return next ? next->NewSegment(start, stop, rate) : S_OK;
    }

    // One compressed sample as one sample of PCM, its size and times kept.
    HRESULT receive(IMediaSample* sample) {
        if (!sample)
            return E_POINTER;
        if (state() == State_Stopped)
            return VFW_E_WRONG_STATE;
        if (flushing_)
            return S_FALSE;
        if (!downstream_)
            return S_OK; // nothing downstream: the sample is dropped
        IMediaSample* out = nullptr;
        HRESULT hr = allocator_->GetBuffer(&out, nullptr, nullptr, 0);
        if (FAILED(hr) || !out)
            return FAILED(hr) ? hr : E_POINTER;
        BYTE* from = nullptr;
        BYTE* to = nullptr;
        sample->GetPointer(&from);
        out->GetPointer(&to);
        LONG size = sample->GetActualDataLength();
        if (size > out->GetSize())
            size = out->GetSize();
        if (size > 0 && from && to)
            memcpy(to, from, static_cast<size_t>(size));
        out->SetActualDataLength(size);
        REFERENCE_TIME start = 0, stop = 0;
        if (SUCCEEDED(sample->GetTime(&start, &stop)))
            out->SetTime(&start, &stop);
        out->SetSyncPoint(sample->IsSyncPoint() == S_OK);
        out->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
        hr = downstream_->Receive(out);
        out->Release();
        return hr;
    }

  private:
    void forgetOutput() {
        if (downstream_)
            downstream_->Release();
        if (allocator_)
            allocator_->Release();
        downstream_ = nullptr;
        allocator_ = nullptr;
    }

    BasePin* input_;
    BasePin* output_;
    DecoderReceiver receiver_;
    UpstreamSeeking seeking_;
    PositionOverSeeking position_{&seeking_};
    // Set while the output is connected, which happens only while stopped:
    // the streaming thread reads them unlocked.
    IMemInputPin* downstream_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
    std::atomic<bool> flushing_{false};
};

HRESULT DecoderReceiver::Receive(IMediaSample* sample) {
    return decoder_->receive(sample);
}

ClassRegistrar gClass(CLSID_CMpegAudioCodec, kClassName, createObject<MpegAudioDecoder>);
// A decoder's merit, as Windows's guidelines give it.
FilterRegistrar gFilter({CLSID_CMpegAudioCodec,
                         "MPEG Audio Decoder",
                         kMeritNormal,
                         {{MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Packet},
                          {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Payload},
                          {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1AudioPayload}}});

} // namespace

} // namespace sim
