// The decoder filter as the graph's renderer: its input pins take samples
// (IMemInputPin) of what a hardware MPEG decoder plays; it plays on the
// graph's clock at the rate set, reports its position, passes duration and
// seeking upstream as a renderer does, holds the volume and the picture
// (DecoderPicture), and tells the graph when the stream has played to its
// end: once every connected input has had EndOfStream and the clock has
// passed the stream's end. The decoder filter owns one and hands its hooks
// and interfaces to it; they share the decoder's identity and its one
// reference count.
//
// The push graph's demultiplexer delivers no samples: for it the stream's
// extent comes through the world's private ISimMediaInfo, which also tells a
// file still being written, and the end is the clock passing the end of a
// complete file.
#pragma once

#include "../graph/manager.h"
#include "../media/types.h"
#include "decoder_picture.h"

#include <mutex>

namespace sim {

class DecoderPlayback;

// One input pin's side as a receiver of samples. It shares the pin's
// identity; its state is guarded by the playback's lock.
class DecoderInput : public IMemInputPin {
  public:
    DecoderInput(BasePin* pin, DecoderPlayback* playback) : pin_(pin), playback_(playback) {}
    ~DecoderInput();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return pin_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return pin_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return pin_->Release(); }

    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count,
                                              LONG* processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    BasePin* pin() const { return pin_; }
    void forget();         // on disconnection: the allocator and the stream's state go
    bool ended = false;    // EndOfStream came, and no flush or stop since
    bool flushing = false; // between BeginFlush and EndFlush

  private:
    BasePin* pin_;
    DecoderPlayback* playback_;
    IMemAllocator* allocator_ = nullptr; // one reference while set
};

class DecoderPlayback final : public NoDispatch<IMediaPosition>,
                              public MediaTimeSeeking,
                              public IAMFilterMiscFlags,
                              public ISimTimedRenderer {
  public:
    explicit DecoderPlayback(BaseFilter* filter);

    // The decoder's hooks.
    void* extraInterface(REFIID riid);
    void* pinInterface(BasePin* pin, REFIID riid);
    HRESULT onPause();
    HRESULT onRun(REFERENCE_TIME start);
    HRESULT onStop();
    void onConnected(BasePin* pin);
    void onDisconnected(BasePin* pin);
    HRESULT onEndOfStream(BasePin* pin);
    HRESULT onBeginFlush(BasePin* pin);
    HRESULT onEndFlush(BasePin* pin);

    // A sample reached an input: S_OK when it is taken.
    HRESULT receive(DecoderInput* input, IMediaSample* sample);

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
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

  private:
    // How long the stream is, and how its end is told.
    struct Extent {
        double seconds = 0;
        bool growing = false;    // a file still being written: no end yet
        bool toldByEnds = false; // the end is EndOfStream on every input
    };
    HRESULT extent(Extent* out) const;
    // The first connected input's upstream IMediaSeeking (a reference), or null.
    IMediaSeeking* upstreamSeeking() const;
    bool everyInputEnded() const;
    DecoderInput* inputOf(BasePin* pin);

    REFERENCE_TIME now() const;
    void rebase(double position);
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
    DecoderInput video_;
    DecoderInput audio_;
};

} // namespace sim
