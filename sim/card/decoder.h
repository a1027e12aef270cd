// The card's decoder filter: pins video in, audio in, overlay out; the output
// registers (ITvVgaOutput3, IAudioOutput) and the profile
// (IREALmagicProfile). The inputs take what the card decodes: MPEG-1 and
// MPEG-2 video; MPEG audio, AC-3 and DVD LPCM. Decoded video and PCM are
// refused.
//
// The renderer side (clock, position, volume, video size, completion) is the
// decoder's playback object (card/decoder_playback.h), a member that the
// decoder's hooks hand over to. Its interfaces count on the decoder's one
// reference count.
#pragma once

#include "../base/filter.h"

#include "../../src/card/card_interfaces.h"

#include <memory>

namespace sim {

extern const char kDecoderClassName[]; // "DecoderFilter"

class DecoderPlayback;

enum DecoderPin { kDecoderVideoIn = 0, kDecoderAudioIn = 1, kDecoderOverlayOut = 2 };

class DecoderFilter : public BaseFilter,
                      public ITvVgaOutput3,
                      public IAudioOutput,
                      public IREALmagicProfile {
  public:
    DecoderFilter();
    ~DecoderFilter() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return BaseFilter::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    // ITvVgaOutput3
    HRESULT STDMETHODCALLTYPE GetOutputFlags(int* flags) override;
    HRESULT STDMETHODCALLTYPE SetOutputFlags(int flags) override;
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAspect(int* aspect) override;
    HRESULT STDMETHODCALLTYPE SetAspect(int aspect) override;
    HRESULT STDMETHODCALLTYPE GetHdMode(int* mode) override;
    HRESULT STDMETHODCALLTYPE SetHdMode(int mode) override;
    HRESULT STDMETHODCALLTYPE GetVgaMode(int* mode) override;
    HRESULT STDMETHODCALLTYPE SetVgaMode(int mode) override;

    // IAudioOutput
    HRESULT STDMETHODCALLTYPE GetAudioOutput(int* output) override;
    HRESULT STDMETHODCALLTYPE SetAudioOutput(int output) override;

    // IREALmagicProfile
    HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReadProfileString(const char* section, const char* key,
                                                const char* defaultValue, char* buffer,
                                                int bufferSize) override;

    void* extraInterface(REFIID riid) override;
    void* pinInterface(BasePin* pin, REFIID riid) override;
    HRESULT onStop() override;
    HRESULT onPause() override;
    HRESULT onRun(REFERENCE_TIME start) override;
    HRESULT onGetState(DWORD msTimeout) override;
    HRESULT onCompleteConnect(BasePin* pin, IPin* peer) override;
    void onConnected(BasePin* pin) override;
    void onDisconnected(BasePin* pin) override;
    HRESULT onEndOfStream(BasePin* pin) override;
    HRESULT onBeginFlush(BasePin* pin) override;
    HRESULT onEndFlush(BasePin* pin) override;
    HRESULT onNewSegment(BasePin* pin, REFERENCE_TIME start, REFERENCE_TIME stop,
                         double rate) override;

  private:
    std::unique_ptr<DecoderPlayback> playback_;
};

} // namespace sim
