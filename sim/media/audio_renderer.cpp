// The system's DirectSound renderer ("Default DirectSound Device"): PCM in,
// played on the PC's sound device. It plays nothing here, but answers as
// Windows's does:
// - its input takes PCM with a WAVEFORMATEX block only; without a sound
//   device (simctl::setSoundDevice) it takes nothing;
// - Receive refuses samples while stopped (VFW_E_WRONG_STATE), while
//   flushing (S_FALSE) and after the end of the stream
//   (VFW_E_SAMPLE_REJECTED_EOS), and never blocks;
// - connected, its pause from stopped completes only with its first sample
//   or the end of the stream: until then Pause (and Run straight from
//   stopped) answers S_FALSE and GetState VFW_S_STATE_INTERMEDIATE. A pause
//   while running, or after a flush, keeps what it has and completes at
//   once;
// - the filter exposes IBasicAudio (volume -10000..0, balance
//   -10000..10000, both 0 at first), IMediaSeeking and IMediaPosition passed
//   upstream, and the sound device's reference clock; no IAMFilterMiscFlags,
//   so that the graph counts it as a renderer by its seeking;
// - it completes as a renderer does: once its stream has ended and the
//   stream time has reached its last sample's (a thread of its own waits
//   for that while it runs), and at every Run while its input is
//   unconnected.
#include "../base/filter.h"
#include "../base/seeking.h"
#include "../base/upstream_seeking.h"
#include "../base/world_wait.h"
#include "../control_graph.h"
#include "../graph/clock.h"
#include "sample_receiver.h"
#include "stock_filters.h"
#include "types.h"

#include <atomic>
#include <mutex>

namespace sim {

const CLSID CLSID_DSoundRender = {
    0x79376820, 0x07D0, 0x11CF, {0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}};

namespace {

const char kClassName[] = "DSoundRender";
std::atomic<bool> gSoundDevice{true};

class AudioRenderer;

// The input pin as a receiver of samples; it shares the pin's identity.
class RendererInput final : public SampleReceiver {
  public:
    RendererInput(BasePin* pin, AudioRenderer* renderer)
        : SampleReceiver(pin), renderer_(renderer) {}

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;

  private:
    AudioRenderer* renderer_;
};

// The sound device's clock: the system's time, as a device that plays
// steadily keeps it. It shares the renderer's identity.
class DeviceClock final : public IReferenceClock {
  public:
    explicit DeviceClock(IUnknown* identity) : identity_(identity) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return identity_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return identity_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return identity_->Release(); }

    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override {
        if (!time)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        REFERENCE_TIME now = clockNow();
        if (now < last_)
            now = last_;
        last_ = now;
        *time = now;
        return S_OK;
    }
    // Nothing in the world waits on clock advice: renderers are polled.
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT,
                                         DWORD_PTR* cookie) override {
        if (cookie)
            *cookie = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE,
                                             DWORD_PTR* cookie) override {
        if (cookie)
            *cookie = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return S_FALSE; }

  private:
    IUnknown* identity_;
    std::mutex mutex_;
    REFERENCE_TIME last_ = 0; // GetTime never runs backwards
};

class AudioRenderer final : public BaseFilter, public NoDispatch<IBasicAudio> {
  public:
    AudioRenderer()
        : BaseFilter(kClassName, CLSID_DSoundRender),
          input_(addPin(L"Audio Input pin (rendered)", PINDIR_INPUT,
                        {makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM)})),
          receiver_(input_, this), seeking_(static_cast<IBaseFilter*>(this), input_),
          clock_(static_cast<IBaseFilter*>(this)) {}
    ~AudioRenderer() override { endCompletion(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return BaseFilter::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    void* extraInterface(REFIID riid) override {
        if (riid == IID_IBasicAudio)
            return static_cast<IBasicAudio*>(this);
        if (riid == IID_IReferenceClock)
            return static_cast<IReferenceClock*>(&clock_);
        if (riid == IID_IMediaSeeking)
            return static_cast<IMediaSeeking*>(&seeking_);
        if (riid == IID_IMediaPosition)
            return static_cast<IMediaPosition*>(&position_);
        return nullptr;
    }
    void* pinInterface(BasePin* pin, REFIID riid) override {
        return pin == input_ && riid == IID_IMemInputPin ? static_cast<IMemInputPin*>(&receiver_)
                                                         : nullptr;
    }

    HRESULT onCompleteConnect(BasePin*, IPin*) override {
        if (!gSoundDevice)
            return VFW_E_NO_AUDIO_HARDWARE;
        const AM_MEDIA_TYPE& mt = input_->mediaType();
        if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat ||
            mt.cbFormat < sizeof(WAVEFORMATEX))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    void onDisconnected(BasePin*) override { receiver_.releaseAllocator(); }

    HRESULT onRun(REFERENCE_TIME) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            posted_ = false; // a held end is told again at every run
        }
        if (!input_->isConnected())
            complete();
        else
            startCompletion();
        return S_OK;
    }
    HRESULT onPause() override {
        bool fromStopped = state() == State_Stopped;
        endCompletion();
        std::lock_guard<std::mutex> lock(mutex_);
        if (fromStopped && input_->isConnected())
            cueing_ = true;
        return cueing_ ? S_FALSE : S_OK;
    }
    HRESULT onGetState(DWORD msTimeout) override {
        if (state() == State_Stopped)
            return S_OK;
        return cueingState(msTimeout, [this] { return !cueing(); });
    }
    HRESULT onStop() override {
        endCompletion();
        std::lock_guard<std::mutex> lock(mutex_);
        cueing_ = false;
        ended_ = false;
        posted_ = false;
        lastTime_ = 0;
        return S_OK;
    }
    HRESULT onEndOfStream(BasePin*) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (flushing_)
                return S_FALSE;
            ended_ = true;
            cueing_ = false;
        }
        wakeWaiters(); // the end may be due now, and a pause complete
        return S_OK;
    }
    HRESULT onBeginFlush(BasePin*) override {
        std::lock_guard<std::mutex> lock(mutex_);
        flushing_ = true;
        ended_ = false;
        posted_ = false;
        lastTime_ = 0;
        return S_OK;
    }
    HRESULT onEndFlush(BasePin*) override {
        std::lock_guard<std::mutex> lock(mutex_);
        flushing_ = false;
        return S_OK;
    }

    HRESULT receive(IMediaSample* sample) {
        if (!sample)
            return E_POINTER;
        if (state() == State_Stopped)
            return VFW_E_WRONG_STATE;
        bool cued = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (flushing_)
                return S_FALSE;
            if (ended_)
                return VFW_E_SAMPLE_REJECTED_EOS;
            REFERENCE_TIME start = 0, stop = 0;
            if (SUCCEEDED(sample->GetTime(&start, &stop)) && start > lastTime_)
                lastTime_ = start;
            cued = cueing_;
            cueing_ = false;
        }
        if (cued)
            wakeWaiters(); // the pause is complete
        return S_OK;
    }

    // IBasicAudio
    HRESULT STDMETHODCALLTYPE put_Volume(LONG volume) override {
        if (volume < -10000 || volume > 0)
            return E_INVALIDARG;
        volume_ = volume;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Volume(LONG* volume) override {
        if (!volume)
            return E_POINTER;
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

  private:
    // A thread of the renderer's own waits, while it runs, for the end to be
    // due and tells it.
    void startCompletion() {
        endCompletion();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            leaving_ = false;
        }
        completion_.start([this] {
            for (;;) {
                waitFor([this] { return leaving() || endDue(); });
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (leaving_)
                        return;
                }
                if (!endDue())
                    continue;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    posted_ = true;
                }
                complete();
            }
        });
    }
    void endCompletion() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            leaving_ = true;
        }
        wakeWaiters();
        completion_.join();
    }
    bool leaving() {
        std::lock_guard<std::mutex> lock(mutex_);
        return leaving_;
    }
    bool cueing() {
        std::lock_guard<std::mutex> lock(mutex_);
        return cueing_;
    }
    // Whether, running, the stream has ended and the stream time has reached
    // its last sample's, with the end not yet told in this run. With no
    // clock nothing is timed: the end is due once the stream has ended.
    bool endDue() {
        if (state() != State_Running)
            return false;
        REFERENCE_TIME now = 0;
        IReferenceClock* clock = this->clock();
        bool timed = clock != nullptr;
        if (timed) {
            clock->GetTime(&now);
            clock->Release();
        }
        REFERENCE_TIME start = startTime();
        std::lock_guard<std::mutex> lock(mutex_);
        return ended_ && !posted_ && (!timed || now - start >= lastTime_);
    }
    void complete() {
        notifyGraph(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    }

    BasePin* input_;
    RendererInput receiver_;
    UpstreamSeeking seeking_;
    PositionOverSeeking position_{&seeking_};
    DeviceClock clock_;
    std::atomic<LONG> volume_{0};
    std::atomic<LONG> balance_{0};
    // Guards the stream's state below: the streaming thread delivers while
    // the application changes the state and the graph polls.
    std::mutex mutex_;
    bool flushing_ = false;
    bool cueing_ = false;         // paused from stopped, no sample or end since
    bool ended_ = false;          // EndOfStream came, no flush or stop since
    bool posted_ = false;         // EC_COMPLETE told for this run
    bool leaving_ = false;        // the completion thread is to end
    REFERENCE_TIME lastTime_ = 0; // stream time of the last sample taken
    WorldThread completion_;
};

HRESULT RendererInput::Receive(IMediaSample* sample) {
    return renderer_->receive(sample);
}

ClassRegistrar gClass(CLSID_DSoundRender, kClassName, createObject<AudioRenderer>);
// The default audio renderer's merit.
FilterRegistrar gFilter({CLSID_DSoundRender,
                         "Default DirectSound Device",
                         kMeritPreferred,
                         {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}});

} // namespace

} // namespace sim

namespace simctl {

void setSoundDevice(bool present) {
    sim::gSoundDevice = present;
}

} // namespace simctl
