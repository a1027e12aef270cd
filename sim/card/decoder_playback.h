// The decoder filter as the graph's renderer: its input pins take samples
// (IMemInputPin) of what a hardware MPEG decoder plays; it plays on the
// card's own time (the system's) at the rate set, reports its position,
// passes duration and seeking upstream as a renderer does, holds the volume
// and the picture (DecoderPicture), offers the graph a clock that follows
// what it presents (when the card is modelled with one, see
// simcard::setDecoderClock), and tells the graph when the stream has played
// to its end: once every connected input has had EndOfStream and its time
// has passed the stream's end. The decoder filter owns one and hands its hooks
// and interfaces to it; they share the decoder's identity and its one
// reference count.
//
// Samples come on the upstream filter's streaming thread. A paused decoder
// holds the first sample it is given (Receive blocks until the decoder runs,
// stops or is flushed); until each input that is fed samples has one, or
// has ended, its pause is not complete (Pause answers S_FALSE, GetState
// VFW_S_STATE_INTERMEDIATE). Running, the card buffers a little ahead of
// what it presents: Receive blocks while a sample is further ahead than that.
// A thread of the decoder's own waits, while it runs, for the end of the
// stream and posts EC_COMPLETE when the time comes.
//
// The stream's length is what the splitter upstream answers through its
// output's IMediaSeeking. Presentation goes no further than the data it has
// been given: when no input has its end or a sample waiting to be taken, it
// holds at the latest sample's time (a file still being written, delivered
// as far as it is written) and goes on from there when more comes.
#pragma once

#include "../base/seeking.h"
#include "../base/world_wait.h"
#include "../graph/manager.h"
#include "../media/sample_receiver.h"
#include "../media/types.h"
#include "decoder_picture.h"

#include <mutex>

namespace sim {

class DecoderPlayback;

// One input pin's side as a receiver of samples. It shares the pin's
// identity; its state is guarded by the playback's lock.
class DecoderInput : public SampleReceiver {
  public:
    DecoderInput(BasePin* pin, DecoderPlayback* playback)
        : SampleReceiver(pin), playback_(playback) {}

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;

    void forget();                   // on disconnection: the allocator and the stream's state go
    bool ended = false;              // EndOfStream came, and no flush or stop since
    bool flushing = false;           // between BeginFlush and EndFlush
    bool hasData = false;            // a sample came, and no flush or stop since
    REFERENCE_TIME latest = -1;      // media time of the latest stamped one, -1 for none
    bool holding = false;            // a Receive waits here for its time
    REFERENCE_TIME segmentStart = 0; // media time of sample time zero (NewSegment)
    double segmentRate = 1.0;        // media time over sample time (NewSegment)

  private:
    DecoderPlayback* playback_;
};

// The decoder's IMediaSeeking: the seeking base with the playback's hooks.
class DecoderSeeking final : public SeekingBase {
  public:
    DecoderSeeking(IUnknown* identity, DecoderPlayback* playback);

  protected:
    HRESULT durationHook(LONGLONG* duration) override;
    HRESULT positionHook(LONGLONG* current) override;
    HRESULT seekHook(LONGLONG* current) override;
    HRESULT rateHook(double rate) override;

  private:
    DecoderPlayback* playback_;
};

// The decoder's reference clock (simcard::DecoderClock::FollowsPresentation):
// it moves with what the decoder presents, by the stream time presented
// (the media time played over the rate), so it stands while the decoder is
// paused, stopped or out of data, and never runs backwards.
class DecoderClockImpl final : public IReferenceClock {
  public:
    explicit DecoderClockImpl(DecoderPlayback* playback) : playback_(playback) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override;
    // Nothing in the world waits on clock advice.
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT,
                                         DWORD_PTR* cookie) override;
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE,
                                             DWORD_PTR* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return S_FALSE; }

  private:
    DecoderPlayback* playback_;
};

class DecoderPlayback final : public IAMFilterMiscFlags {
  public:
    explicit DecoderPlayback(BaseFilter* filter);
    ~DecoderPlayback();

    // The decoder's hooks.
    void* extraInterface(REFIID riid);
    void* pinInterface(BasePin* pin, REFIID riid);
    HRESULT onPause();
    HRESULT onRun(REFERENCE_TIME start);
    HRESULT onStop();
    HRESULT onGetState(DWORD msTimeout);
    HRESULT onNewSegment(BasePin* pin, REFERENCE_TIME start, double rate);
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

    // The decoder clock's reading (see DecoderClockImpl).
    REFERENCE_TIME presentedTime();

    // The seeking hooks (see DecoderSeeking), in 100 ns units.
    HRESULT duration(LONGLONG* duration);
    HRESULT currentPosition(LONGLONG* current);
    HRESULT seek(LONGLONG* current);
    HRESULT changeRate(double rate);

  private:
    // How long the stream is, in seconds, as upstream tells it.
    HRESULT extent(double* seconds) const;
    // The first connected input's upstream IMediaSeeking (a reference), or null.
    IMediaSeeking* upstreamSeeking() const;
    bool everyInputEnded() const;
    DecoderInput* inputOf(BasePin* pin);
    // Whether an input fed samples still waits for its first one: the
    // pause is not complete.
    bool awaitingData();
    // Whether the stream has played to its end in this run, and nothing
    // has told of it yet.
    bool endDue();
    // The thread that posts EC_COMPLETE while running; ended on leaving it.
    void startCompletion();
    void endCompletion();

    REFERENCE_TIME now() const;
    void rebase(double position);
    double position();
    // How far presentation may go, in seconds: the stream's end, and while
    // no input has ended or holds a sample, the latest sample given.
    double presentable();
    // Fixes the position where it stands now, before what presentable()
    // answers changes.
    void settle();
    void record(double rate) const;

    BaseFilter* filter_;
    double position_ = 0.0;   // seconds at base_ (or now, when not running)
    REFERENCE_TIME base_ = 0; // system clock time the position was last fixed
    // The decoder clock: its reading, and the position it last followed.
    REFERENCE_TIME presented_ = 0;
    double presentedFrom_ = 0.0;
    bool posted_ = false;  // EC_COMPLETE sent for the current run to the end
    bool leaving_ = false; // the completion thread is to end
    // Guards the above and the inputs' state: samples come on streaming
    // threads and the end is told from the completion thread while the
    // application calls in. Never held while waiting or waking waiters.
    std::recursive_mutex mutex_;
    WorldThread completion_;
    DecoderPicture picture_;
    DecoderInput video_;
    DecoderInput audio_;
    DecoderSeeking seeking_; // keeps the rate
    bool offersClock_;       // the clock model when the filter was made
    PositionOverSeeking mediaPosition_{&seeking_};
    DecoderClockImpl clock_{this};
};

} // namespace sim
