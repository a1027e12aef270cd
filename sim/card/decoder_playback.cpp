// The decoder's renderer side: samples in, clock, rate, position, duration
// and the end of the stream (see card/decoder_playback.h). Nothing runs on a
// thread of its own: samples are taken as they come (the card buffers them;
// Receive never blocks), the position is worked out from the clock when
// asked, and the end is noticed when the graph polls (ISimTimedRenderer). A
// stream still being written has no end yet: the position stops at what has
// been written, and EC_COMPLETE waits until the file is complete.
#include "decoder_playback.h"
#include "../control_card.h"
#include "../control_graph.h"
#include "../graph/clock.h"
#include "../graph/manager.h"
#include "../media/stream.h"

#include <atomic>
#include <cmath>
#include <mutex>

namespace sim {

namespace {

const double kMaxRate = 8.0;
const DWORD kCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                            AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                            AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

} // namespace

// ---- Input pins ----------------------------------------------------------------

DecoderInput::~DecoderInput() {
    forget();
}

void DecoderInput::forget() {
    if (allocator_)
        allocator_->Release();
    allocator_ = nullptr;
    ended = false;
    flushing = false;
}

HRESULT DecoderInput::GetAllocator(IMemAllocator** allocator) {
    if (!allocator)
        return E_POINTER;
    if (!allocator_)
        allocator_ = new MemAllocator();
    allocator_->AddRef();
    *allocator = allocator_;
    return S_OK;
}

HRESULT DecoderInput::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (!allocator)
        return E_POINTER;
    allocator->AddRef();
    if (allocator_)
        allocator_->Release();
    allocator_ = allocator;
    return S_OK;
}

HRESULT DecoderInput::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT DecoderInput::Receive(IMediaSample* sample) {
    return playback_->receive(this, sample);
}

HRESULT DecoderInput::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    if (!samples || !processed)
        return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count && (hr = Receive(samples[*processed])) == S_OK)
        ++*processed;
    return hr;
}

HRESULT DecoderInput::ReceiveCanBlock() {
    return S_FALSE;
}

// ---- Playback ----------------------------------------------------------------

DecoderPlayback::DecoderPlayback(BaseFilter* filter)
    : filter_(filter), picture_(filter), video_(filter->pinAt(kDecoderVideoIn), this),
      audio_(filter->pinAt(kDecoderAudioIn), this),
      seeking_(static_cast<IBaseFilter*>(filter), this),
      offersClock_(simcard::decoderClock() == simcard::DecoderClock::FollowsPresentation) {}

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
// after the end of its stream; it takes everything else into its buffer.
HRESULT DecoderPlayback::receive(DecoderInput* input, IMediaSample* sample) {
    if (!sample)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (filter_->state() == State_Stopped)
        return VFW_E_WRONG_STATE;
    if (input->flushing)
        return S_FALSE;
    if (input->ended)
        return VFW_E_SAMPLE_REJECTED_EOS;
    recordSample(sample->GetActualDataLength());
    return S_OK;
}

HRESULT DecoderPlayback::onEndOfStream(BasePin* pin) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    DecoderInput* input = inputOf(pin);
    if (!input)
        return E_UNEXPECTED;
    if (input->flushing)
        return S_FALSE;
    input->ended = true;
    return S_OK;
}

HRESULT DecoderPlayback::onBeginFlush(BasePin* pin) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    DecoderInput* input = inputOf(pin);
    if (!input)
        return E_UNEXPECTED;
    input->flushing = true;
    input->ended = false;
    posted_ = false;
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

HRESULT DecoderPlayback::extent(Extent* out) const {
    MediaInfo info;
    HRESULT hr = decoderStreamInfo(filter_, &info);
    if (SUCCEEDED(hr)) {
        out->seconds = info.duration();
        out->growing = info.growing;
        out->toldByEnds = false;
        return S_OK;
    }
    IMediaSeeking* seeking = upstreamSeeking();
    if (!seeking)
        return hr;
    LONGLONG duration = 0;
    hr = seeking->GetDuration(&duration);
    seeking->Release();
    if (FAILED(hr))
        return hr;
    out->seconds = secondsFromUnits(duration);
    out->growing = false;
    out->toldByEnds = true;
    return S_OK;
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
    if (riid == IID_ISimTimedRenderer)
        return static_cast<ISimTimedRenderer*>(this);
    if (riid == IID_IReferenceClock && offersClock_)
        return static_cast<IReferenceClock*>(&clock_);
    return nullptr;
}

HRESULT DecoderPlayback::onPause() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (filter_->state() == State_Running)
        position_ = position();
    return S_OK;
}

HRESULT DecoderPlayback::onRun(REFERENCE_TIME) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    rebase(position_);
    // A renderer tells every run that it has reached its end, as the graph
    // counts its renderers again at each run.
    posted_ = false;
    return S_OK;
}

HRESULT DecoderPlayback::onStop() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (filter_->state() == State_Running)
        position_ = position();
    // Stopping forgets the end: the stream is delivered again from its
    // position when the graph runs again.
    video_.ended = audio_.ended = false;
    return S_OK;
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

void DecoderPlayback::Poll() {
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (filter_->state() != State_Running || posted_)
            return;
        Extent stream;
        if (FAILED(extent(&stream)) || stream.growing)
            return;
        if (stream.toldByEnds && !everyInputEnded())
            return;
        if (position() < stream.seconds)
            return;
        posted_ = true;
    }
    // Told outside the lock: the graph may be calling in from another
    // thread with its own lock held.
    filter_->notifyGraph(EC_COMPLETE, S_OK,
                         reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter_)));
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
    Extent stream;
    HRESULT hr = extent(&stream);
    if (SUCCEEDED(hr))
        *duration = unitsFromSeconds(stream.seconds);
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
    Extent stream;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        HRESULT hr = extent(&stream);
        if (FAILED(hr))
            return hr;
        if (!(time > 0.0))
            time = 0.0;
        if (time > stream.seconds)
            time = stream.seconds;
        rebase(time);
        posted_ = false;
        record(seeking_.rate());
    }
    *current = unitsFromSeconds(time);
    if (!stream.toldByEnds)
        return S_OK;
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
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    rebase(position());
    record(rate);
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
    Extent stream;
    if (SUCCEEDED(extent(&stream)) && p > stream.seconds) {
        p = stream.seconds;
        if (running) {
            position_ = p;
            base_ = t;
        }
    }
    return p < 0 ? 0 : p;
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
