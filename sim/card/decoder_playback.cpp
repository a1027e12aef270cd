// The decoder's renderer side: samples in, clock, rate, position, duration
// and the end of the stream (see card/decoder_playback.h). The position is
// worked out from the clock when asked. A stream still being written has no
// end yet: the position stops at what has been written, and EC_COMPLETE
// waits for the inputs' ends, which come once the file is complete.
#include "decoder_playback.h"
#include "../control_card.h"
#include "../control_graph.h"
#include "../graph/clock.h"
#include "../graph/manager.h"
#include "../media/stream.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace sim {

namespace {

const double kMaxRate = 8.0;
// How far ahead of what it presents the card's buffer reaches, in stream
// time: a sample further ahead waits in Receive.
const REFERENCE_TIME kBufferAhead = kUnitsPerSecond / 2;
const DWORD kCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                            AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                            AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

} // namespace

// ---- Input pins ----------------------------------------------------------------

void DecoderInput::forget() {
    releaseAllocator();
    ended = false;
    flushing = false;
    hasData = false;
    latest = -1;
    segmentStart = 0;
    segmentRate = 1.0;
}

HRESULT DecoderInput::Receive(IMediaSample* sample) {
    return playback_->receive(this, sample);
}

// ---- Playback ----------------------------------------------------------------

DecoderPlayback::DecoderPlayback(BaseFilter* filter)
    : filter_(filter), picture_(filter), video_(filter->pinAt(kDecoderVideoIn), this),
      audio_(filter->pinAt(kDecoderAudioIn), this),
      seeking_(static_cast<IBaseFilter*>(filter), this),
      offersClock_(simcard::decoderClock() == simcard::DecoderClock::FollowsPresentation) {}

DecoderPlayback::~DecoderPlayback() {
    endCompletion();
}

DecoderInput* DecoderPlayback::inputOf(BasePin* pin) {
    if (pin == video_.pin())
        return &video_;
    return pin == audio_.pin() ? &audio_ : nullptr;
}

void* DecoderPlayback::pinInterface(BasePin* pin, REFIID riid) {
    DecoderInput* input = inputOf(pin);
    return input && riid == IID_IMemInputPin ? static_cast<IMemInputPin*>(input) : nullptr;
}

// What a hardware decoder refuses: samples while stopped or flushing, and
// after the end of its stream; it takes everything else into its buffer,
// and holds the caller there while paused, or while the sample lies further
// ahead of what it presents than its buffer reaches.
HRESULT DecoderPlayback::receive(DecoderInput* input, IMediaSample* sample) {
    if (!sample)
        return E_POINTER;
    REFERENCE_TIME at = -1, end = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (filter_->state() == State_Stopped)
            return VFW_E_WRONG_STATE;
        if (input->flushing)
            return S_FALSE;
        if (input->ended)
            return VFW_E_SAMPLE_REJECTED_EOS;
        recordSample(sample->GetActualDataLength());
        input->hasData = true;
        if (SUCCEEDED(sample->GetTime(&at, &end)))
            at = input->segmentStart +
                 static_cast<REFERENCE_TIME>(static_cast<double>(at) * input->segmentRate);
        else
            at = -1;
        settle(); // it may have been holding for want of this sample
        input->latest = std::max(input->latest, at);
        input->holding = true;
    }
    wakeWaiters(); // a pause may be complete now
    waitFor([this, input, at] {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        FILTER_STATE state = filter_->state();
        if (state == State_Stopped || input->flushing)
            return true;
        return state == State_Running &&
               (at < 0 || at <= unitsFromSeconds(position()) + kBufferAhead);
    });
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    settle();
    input->holding = false;
    return S_OK;
}

HRESULT DecoderPlayback::onNewSegment(BasePin* pin, REFERENCE_TIME start, double rate) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    DecoderInput* input = inputOf(pin);
    if (!input)
        return E_UNEXPECTED;
    input->segmentStart = start;
    input->segmentRate = rate > 0 ? rate : 1.0;
    return S_OK;
}

HRESULT DecoderPlayback::onEndOfStream(BasePin* pin) {
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        DecoderInput* input = inputOf(pin);
        if (!input)
            return E_UNEXPECTED;
        if (filter_->state() == State_Stopped)
            return VFW_E_WRONG_STATE; // a stream cut off by the stop
        if (input->flushing)
            return S_FALSE;
        settle();
        input->ended = true;
    }
    wakeWaiters(); // the end completes a pause and may be due
    return S_OK;
}

HRESULT DecoderPlayback::onBeginFlush(BasePin* pin) {
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        DecoderInput* input = inputOf(pin);
        if (!input)
            return E_UNEXPECTED;
        settle();
        input->flushing = true;
        input->ended = false;
        input->hasData = false;
        input->latest = -1;
        posted_ = false;
    }
    wakeWaiters(); // a Receive held here returns
    return S_OK;
}

HRESULT DecoderPlayback::onEndFlush(BasePin* pin) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    DecoderInput* input = inputOf(pin);
    if (!input)
        return E_UNEXPECTED;
    input->flushing = false;
    return S_OK;
}

bool DecoderPlayback::awaitingData() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (DecoderInput* input : {&video_, &audio_})
        if (!input->hasData && !input->ended && input->pin()->isConnected())
            return true;
    return false;
}

bool DecoderPlayback::everyInputEnded() const {
    bool any = false;
    for (const DecoderInput* input : {&video_, &audio_}) {
        if (!input->pin()->isConnected())
            continue;
        if (!input->ended)
            return false;
        any = true;
    }
    return any;
}

IMediaSeeking* DecoderPlayback::upstreamSeeking() const {
    for (const DecoderInput* input : {&video_, &audio_}) {
        IPin* peer = input->pin()->peer();
        IMediaSeeking* seeking = nullptr;
        if (peer &&
            SUCCEEDED(
                peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))) &&
            seeking)
            return seeking;
    }
    return nullptr;
}

HRESULT DecoderPlayback::extent(double* seconds) const {
    IMediaSeeking* seeking = upstreamSeeking();
    if (!seeking)
        return VFW_E_NOT_CONNECTED;
    LONGLONG duration = 0;
    HRESULT hr = seeking->GetDuration(&duration);
    seeking->Release();
    if (SUCCEEDED(hr))
        *seconds = secondsFromUnits(duration);
    return hr;
}

void* DecoderPlayback::extraInterface(REFIID riid) {
    if (riid == IID_IMediaPosition)
        return static_cast<IMediaPosition*>(&mediaPosition_);
    if (riid == IID_IMediaSeeking)
        return static_cast<IMediaSeeking*>(&seeking_);
    if (riid == IID_IBasicAudio)
        return static_cast<IBasicAudio*>(&picture_);
    if (riid == IID_IBasicVideo)
        return static_cast<IBasicVideo*>(&picture_);
    if (riid == IID_IBasicVideo2)
        return static_cast<IBasicVideo2*>(&picture_);
    if (riid == IID_IAMFilterMiscFlags)
        return static_cast<IAMFilterMiscFlags*>(this);
    if (riid == IID_IReferenceClock && offersClock_)
        return static_cast<IReferenceClock*>(&clock_);
    return nullptr;
}

HRESULT DecoderPlayback::onPause() {
    endCompletion();
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (filter_->state() == State_Running)
            position_ = position();
    }
    return awaitingData() ? S_FALSE : S_OK;
}

HRESULT DecoderPlayback::onRun(REFERENCE_TIME) {
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        rebase(position_);
        // A renderer tells every run that it has reached its end, as the
        // graph counts its renderers again at each run.
        posted_ = false;
    }
    startCompletion();
    return S_OK;
}

HRESULT DecoderPlayback::onStop() {
    endCompletion();
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (filter_->state() == State_Running)
        position_ = position();
    // Stopping forgets the end and the data: the stream is delivered again
    // from its position when the graph runs again.
    for (DecoderInput* input : {&video_, &audio_}) {
        input->ended = input->hasData = false;
        input->latest = -1;
    }
    return S_OK;
}

HRESULT DecoderPlayback::onGetState(DWORD msTimeout) {
    if (filter_->state() == State_Stopped)
        return S_OK;
    return cueingState(msTimeout, [this] { return !awaitingData(); });
}

void DecoderPlayback::startCompletion() {
    endCompletion();
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        leaving_ = false;
    }
    completion_.start([this] {
        for (;;) {
            waitFor([this] {
                std::lock_guard<std::recursive_mutex> lock(mutex_);
                return leaving_ || endDue();
            });
            {
                std::lock_guard<std::recursive_mutex> lock(mutex_);
                if (leaving_)
                    return;
                if (!endDue())
                    continue;
                posted_ = true;
            }
            // Told outside the lock: the graph may be calling in with its
            // own lock held.
            filter_->notifyGraph(EC_COMPLETE, S_OK,
                                 reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter_)));
        }
    });
}

void DecoderPlayback::endCompletion() {
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        leaving_ = true;
    }
    wakeWaiters();
    completion_.join();
}

void DecoderPlayback::onConnected(BasePin* pin) {
    if (pin->index() == kDecoderVideoIn) {
        picture_.resetToStream();
    }
}

void DecoderPlayback::onDisconnected(BasePin* pin) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (DecoderInput* input = inputOf(pin)) {
        input->forget();
        position_ = 0;
        posted_ = false;
    }
}

HRESULT DecoderPlayback::QueryInterface(REFIID riid, void** ppv) {
    return filter_->QueryInterface(riid, ppv);
}

ULONG DecoderPlayback::AddRef() {
    return filter_->addRef();
}

ULONG DecoderPlayback::Release() {
    return filter_->release();
}

ULONG DecoderPlayback::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_RENDERER;
}

bool DecoderPlayback::endDue() {
    if (filter_->state() != State_Running || posted_ || !everyInputEnded())
        return false;
    double seconds = 0;
    return SUCCEEDED(extent(&seconds)) && position() >= seconds;
}

// ---- Seeking ---------------------------------------------------------------------

DecoderSeeking::DecoderSeeking(IUnknown* identity, DecoderPlayback* playback)
    : SeekingBase(identity, kCapabilities, kDecoderClassName), playback_(playback) {}

HRESULT DecoderSeeking::durationHook(LONGLONG* duration) {
    return playback_->duration(duration);
}

HRESULT DecoderSeeking::positionHook(LONGLONG* current) {
    return playback_->currentPosition(current);
}

HRESULT DecoderSeeking::seekHook(LONGLONG* current) {
    return playback_->seek(current);
}

HRESULT DecoderSeeking::rateHook(double rate) {
    return playback_->changeRate(rate);
}

HRESULT DecoderPlayback::duration(LONGLONG* duration) {
    double seconds = 0;
    HRESULT hr = extent(&seconds);
    if (SUCCEEDED(hr))
        *duration = unitsFromSeconds(seconds);
    return hr;
}

HRESULT DecoderPlayback::currentPosition(LONGLONG* current) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    *current = unitsFromSeconds(position());
    return S_OK;
}

// Within the stream; the source delivers it again from there.
HRESULT DecoderPlayback::seek(LONGLONG* current) {
    double time = secondsFromUnits(*current);
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        double seconds = 0;
        HRESULT hr = extent(&seconds);
        if (FAILED(hr))
            return hr;
        if (!(time > 0.0))
            time = 0.0;
        if (time > seconds)
            time = seconds;
        rebase(time);
        posted_ = false;
        record(seeking_.rate());
    }
    wakeWaiters(); // the end may come again
    *current = unitsFromSeconds(time);
    IMediaSeeking* seeking = upstreamSeeking();
    if (!seeking)
        return S_OK;
    LONGLONG at = *current;
    HRESULT hr = seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr,
                                       AM_SEEKING_NoPositioning);
    seeking->Release();
    return FAILED(hr) ? hr : S_OK;
}

// The card plays forwards only, and not faster than its fast scan.
HRESULT DecoderPlayback::changeRate(double rate) {
    if (rate > kMaxRate)
        return E_INVALIDARG;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        rebase(position());
        record(rate);
    }
    wakeWaiters(); // a Receive waiting on the time looks again
    return S_OK;
}

// The card presents on its own time, which is the system's: the graph's
// clock may be the decoder's own, which follows this.
REFERENCE_TIME DecoderPlayback::now() const {
    return clockNow();
}

void DecoderPlayback::rebase(double position) {
    position_ = position;
    base_ = now();
    presentedFrom_ = position;
}

REFERENCE_TIME DecoderPlayback::presentedTime() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    double p = position();
    if (p > presentedFrom_)
        presented_ += unitsFromSeconds((p - presentedFrom_) / seeking_.rate());
    presentedFrom_ = p;
    return presented_;
}

HRESULT DecoderClockImpl::QueryInterface(REFIID riid, void** ppv) {
    return playback_->QueryInterface(riid, ppv);
}

ULONG DecoderClockImpl::AddRef() {
    return playback_->AddRef();
}

ULONG DecoderClockImpl::Release() {
    return playback_->Release();
}

HRESULT DecoderClockImpl::GetTime(REFERENCE_TIME* time) {
    if (!time)
        return E_POINTER;
    *time = playback_->presentedTime();
    return S_OK;
}

HRESULT DecoderClockImpl::AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR* cookie) {
    if (cookie)
        *cookie = 0;
    return E_NOTIMPL;
}

HRESULT DecoderClockImpl::AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE,
                                         DWORD_PTR* cookie) {
    if (cookie)
        *cookie = 0;
    return E_NOTIMPL;
}

// Seconds into the stream: frozen unless running, then moving with the
// clock at the rate, and never past what the stream holds. Playback that
// reaches the end of what has been written waits there: the position is
// fixed at that point, so that it moves on from it once the file grows.
double DecoderPlayback::position() {
    double p = position_;
    REFERENCE_TIME t = now();
    bool running = filter_->state() == State_Running;
    if (running)
        p += secondsFromUnits(t - base_) * seeking_.rate();
    double seconds = presentable();
    if (p > seconds) {
        p = seconds > position_ ? seconds : position_;
        if (running) {
            position_ = p;
            base_ = t;
        }
    }
    return p < 0 ? 0 : p;
}

void DecoderPlayback::settle() {
    position_ = position();
    base_ = now();
}

double DecoderPlayback::presentable() {
    double seconds = 0;
    if (FAILED(extent(&seconds)))
        seconds = HUGE_VAL;
    REFERENCE_TIME latest = -1;
    for (const DecoderInput* input : {&video_, &audio_}) {
        if (!input->pin()->isConnected())
            continue;
        if (input->ended || input->holding)
            return seconds;
        latest = std::max(latest, input->latest);
    }
    if (latest < 0)
        return seconds; // nothing given yet: nothing to hold at
    return std::min(seconds, secondsFromUnits(latest));
}

void DecoderPlayback::record(double rate) const {
    recordPlayback(rate, position_);
}

} // namespace sim

namespace {
std::atomic<simcard::DecoderClock> gClockModel{simcard::DecoderClock::FollowsPresentation};
} // namespace

namespace simcard {

void setDecoderClock(DecoderClock model) {
    gClockModel = model;
}

DecoderClock decoderClock() {
    return gClockModel;
}

} // namespace simcard
