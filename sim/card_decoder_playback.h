// The decoder filter as the graph's renderer: it plays on the graph's clock
// at the rate set, reports the stream's duration and its position, holds the
// volume and the picture (DecoderPicture), and tells the graph when the
// stream has played to its end. The decoder filter owns one and hands its
// hooks and interfaces to it; they share the decoder's identity and its one
// reference count.
#pragma once

#include "card_decoder_picture.h"
#include "graph_manager.h"

#include <mutex>

namespace sim {

class DecoderPlayback : public NoDispatch<IMediaPosition>,
                        public IMediaSeeking,
                        public IAMFilterMiscFlags,
                        public ISimTimedRenderer {
  public:
    explicit DecoderPlayback(BaseFilter* filter);

    // The decoder's hooks.
    void* extraInterface(REFIID riid);
    HRESULT onPause();
    HRESULT onRun(REFERENCE_TIME start);
    HRESULT onStop();
    void onConnected(BasePin* pin);
    void onDisconnected(BasePin* pin);

    // IUnknown: the decoder's identity and its one count.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IAMFilterMiscFlags. The overlay output pin would make a graph manager
    // take the decoder for a transform filter; it is the graph's renderer:
    // its completion and its position are the graph's.
    ULONG STDMETHODCALLTYPE GetMiscFlags() override;

    // ISimTimedRenderer
    void STDMETHODCALLTYPE Poll() override;

    // IMediaPosition
    HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* length) override;
    HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME) override;
    HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME) override;
    HRESULT STDMETHODCALLTYPE put_Rate(double rate) override;
    HRESULT STDMETHODCALLTYPE get_Rate(double* rate) override;
    HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* canSeek) override;
    HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG* canSeek) override;

    // IMediaSeeking (media time, 100 ns units)
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                                LONGLONG source, const GUID* sourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

  private:
    REFERENCE_TIME now() const;
    void rebase(double position);
    HRESULT streamInfo(MediaInfo* info) const;
    double position();
    void record() const;

    BaseFilter* filter_;
    double position_ = 0.0;   // seconds at base_ (or now, when not running)
    REFERENCE_TIME base_ = 0; // clock time the position was last fixed
    double rate_ = 1.0;
    bool posted_ = false; // EC_COMPLETE sent for the current run to the end
    // Guards the above: where the system's graph manager runs the decoder, a
    // thread of the world's polls it while the application calls in.
    std::recursive_mutex mutex_;
    DecoderPicture picture_;
};

} // namespace sim
