// The card's demultiplexer: its pins as the push graph wires it, and as a
// splitter reading any IAsyncReader upstream, parsing the stream, and
// delivering the samples of its streams (see card/stream_filters.h).
#include "../graph/clock.h"
#include "../media/types.h"
#include "stream_filters.h"

#include <cstring>

namespace sim {

const char kDemuxClassName[] = "MpegDemux";

namespace {

ClassRegistrar gDemuxClass(CLSID_MpegDemux, kDemuxClassName, createObject<DemuxFilter>);
// Registered above the system's own MPEG splitters (MERIT_NORMAL, and
// MERIT_NORMAL + 1), so that graph building picks the card's.
FilterRegistrar gDemuxFilter({CLSID_MpegDemux,
                              "MPEG DeMux",
                              kMeritPreferred,
                              {{MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System},
                               {MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM}}});

const DWORD kCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                            AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetStopPos |
                            AM_SEEKING_CanGetDuration;
const LONG kReadChunk = 1 << 20;
// The push graph's samples: the largest payload a PES packet can carry.
const LONG kLargestPesPayload = 65536;

AM_MEDIA_TYPE withFormat(REFGUID major, REFGUID sub, REFGUID formatType, const void* block,
                         size_t size) {
    AM_MEDIA_TYPE mt = makeMediaType(major, sub);
    mt.formattype = formatType;
    mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (mt.pbFormat) {
        memcpy(mt.pbFormat, block, size);
        mt.cbFormat = static_cast<ULONG>(size);
    }
    return mt;
}

template <class Header> void fillHeader(const VideoFormat& picture, Header* h) {
    h->rcSource = RECT{0, 0, picture.width, picture.height};
    h->rcTarget = h->rcSource;
    h->AvgTimePerFrame = picture.framePeriod;
    h->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    h->bmiHeader.biWidth = picture.width;
    h->bmiHeader.biHeight = picture.height;
}

// MPEG-2 video: MPEG2VIDEOINFO, its picture's shape in the header; MPEG-1
// video: MPEG1VIDEOINFO.
AM_MEDIA_TYPE videoType(const MediaInfo& info) {
    VideoFormat picture = videoFormatOf(info);
    if (info.videoMpegVersion == 2) {
        MPEG2VIDEOINFO block{};
        fillHeader(picture, &block.hdr);
        block.hdr.dwPictAspectRatioX = static_cast<DWORD>(picture.aspectX);
        block.hdr.dwPictAspectRatioY = static_cast<DWORD>(picture.aspectY);
        return withFormat(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video, &block,
                          sizeof block);
    }
    MPEG1VIDEOINFO block{};
    fillHeader(picture, &block.hdr);
    return withFormat(MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Payload, FORMAT_MPEGVideo, &block,
                      sizeof block);
}

// The format tag of AC-3, DTS and LPCM is left unknown, as the system's own
// demultiplexers leave it.
AM_MEDIA_TYPE audioType(AudioCoding coding) {
    WAVEFORMATEX block{};
    block.nChannels = 2;
    block.nSamplesPerSec = 48000;
    const GUID* sub = &MEDIASUBTYPE_MPEG1AudioPayload;
    if (coding == AudioCoding::Mpeg)
        block.wFormatTag = 0x0050; // WAVE_FORMAT_MPEG
    else if (coding == AudioCoding::Ac3)
        sub = &MEDIASUBTYPE_DOLBY_AC3;
    else if (coding == AudioCoding::Dts)
        sub = &MEDIASUBTYPE_DTS;
    else
        sub = &MEDIASUBTYPE_DVD_LPCM_AUDIO;
    return withFormat(MEDIATYPE_Audio, *sub, FORMAT_WaveFormatEx, &block, sizeof block);
}

REFERENCE_TIME unitsOf(int64_t ticks90k) {
    return ticks90k * kUnitsPerSecond / kPtsPerSecond;
}

} // namespace

// ---- Pins --------------------------------------------------------------------------

DemuxFilter::DemuxFilter() : DemuxFilter(kDemuxClassName, CLSID_MpegDemux, false) {}

DemuxFilter::DemuxFilter(const char* className, REFCLSID clsid, bool mpeg1Splitter)
    : BaseFilter(className, clsid), mpeg1Splitter_(mpeg1Splitter),
      seeking_(static_cast<IBaseFilter*>(this), this) {
    if (mpeg1Splitter_) {
        addPin(L"Input", PINDIR_INPUT, {makeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System)});
        return;
    }
    addPin(L"Input", PINDIR_INPUT, {makeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM)},
           {makeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM),
            makeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System)});
    addPushOutputs();
}

DemuxFilter::~DemuxFilter() {
    endStreaming(false);
    for (Output& output : outputs_)
        forgetOutput(&output);
}

void DemuxFilter::addPushOutputs() {
    largestPayload_ = kLargestPesPayload;
    BasePin* pin =
        addPin(L"Subpicture", PINDIR_OUTPUT, {makeMediaType(MEDIATYPE_Subpicture, GUID_NULL_TYPE)});
    outputs_.push_back(Output{pin, kNoStream});
    pin =
        addPin(L"Video", PINDIR_OUTPUT, {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO)});
    outputs_.push_back(Output{pin, kAnyVideo});
    pin =
        addPin(L"Audio", PINDIR_OUTPUT, {makeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Audio)});
    outputs_.push_back(Output{pin, kFirstAudio});
}

void DemuxFilter::addStreamOutputs() {
    dropOutputs();
    if (info_.hasVideo) {
        BasePin* pin = addPin(L"Video", PINDIR_OUTPUT, {videoType(info_)});
        outputs_.push_back(Output{pin, kAnyVideo});
    }
    int audio = 0;
    // Every audio stream, whether or not the card plays its coding: what
    // nobody takes stays unrendered, as on Windows. The system's MPEG-1
    // splitter offers its first MPEG audio stream only.
    for (int stream : info_.audioStreams) {
        if (mpeg1Splitter_ && (audio > 0 || audioCodingOf(stream) != AudioCoding::Mpeg))
            continue;
        std::wstring name = ++audio == 1 ? L"Audio" : L"Audio " + std::to_wstring(audio);
        BasePin* pin = addPin(name.c_str(), PINDIR_OUTPUT, {audioType(audioCodingOf(stream))});
        outputs_.push_back(Output{pin, stream});
    }
}

void* DemuxFilter::extraInterface(REFIID riid) {
    if (riid == IID_ISimMediaInfo && !pulling_)
        return static_cast<ISimMediaInfo*>(this);
    return nullptr;
}

void* DemuxFilter::pinInterface(BasePin* pin, REFIID riid) {
    if (pin->direction() != PINDIR_OUTPUT)
        return nullptr;
    if (riid == IID_IMediaSeeking)
        return static_cast<IMediaSeeking*>(&seeking_);
    if (riid == IID_IMediaPosition)
        return static_cast<IMediaPosition*>(&position_);
    return nullptr;
}

DemuxFilter::Output* DemuxFilter::outputOf(BasePin* pin) {
    for (Output& output : outputs_)
        if (output.pin == pin)
            return &output;
    return nullptr;
}

void DemuxFilter::dropOutputs() {
    for (Output& output : outputs_) {
        if (IPin* peer = output.pin->peer())
            peer->Disconnect();
        output.pin->Disconnect();
        forgetOutput(&output);
    }
    outputs_.clear();
    removePinsFrom(kDemuxInput + 1);
}

void DemuxFilter::forgetOutput(Output* output) {
    if (output->receiver)
        output->receiver->Release();
    if (output->allocator)
        output->allocator->Release();
    output->receiver = nullptr;
    output->allocator = nullptr;
}

HRESULT DemuxFilter::readStream(IAsyncReader* reader) {
    LONGLONG total = 0, available = 0;
    HRESULT hr = reader->Length(&total, &available);
    if (FAILED(hr))
        return hr;
    bytes_.resize(static_cast<size_t>(total));
    for (LONGLONG at = 0; at < total; at += kReadChunk) {
        LONG length = static_cast<LONG>(total - at < kReadChunk ? total - at : kReadChunk);
        hr = reader->SyncRead(at, length, bytes_.data() + at);
        if (FAILED(hr))
            return hr;
    }
    info_ = parseSystemStream(bytes_.data(), bytes_.size());
    if (!info_.valid)
        return VFW_E_TYPE_NOT_ACCEPTED;
    SystemStreamReader packets(bytes_.data(), bytes_.size());
    PesPacket packet;
    while (packets.next(&packet))
        if (static_cast<LONG>(packet.payloadSize) > largestPayload_)
            largestPayload_ = static_cast<LONG>(packet.payloadSize);
    return S_OK;
}

// The input decides the mode: a reader upstream makes a splitter of it. An
// output of the splitter sends its samples through the peer's allocator, or
// one of its own.
HRESULT DemuxFilter::onCompleteConnect(BasePin* pin, IPin* peer) {
    if (pin->index() == kDemuxInput && pin->direction() == PINDIR_INPUT) {
        IAsyncReader* reader = nullptr;
        if (FAILED(peer->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&reader))) ||
            !reader)
            return mpeg1Splitter_ ? VFW_E_NO_TRANSPORT : S_OK; // the push graph's source
        HRESULT hr = readStream(reader);
        if (SUCCEEDED(hr) && mpeg1Splitter_ && info_.layer != SystemLayer::Mpeg1System)
            hr = VFW_E_TYPE_NOT_ACCEPTED;
        reader->Release();
        if (FAILED(hr)) {
            bytes_.clear();
            return hr;
        }
        pulling_ = true;
        addStreamOutputs();
        return S_OK;
    }
    Output* output = outputOf(pin);
    if (!output)
        return S_OK;
    IMemInputPin* receiver = nullptr;
    IMemAllocator* allocator = nullptr;
    HRESULT hr = connectReceiver(peer, largestPayload_, &receiver, &allocator);
    if (FAILED(hr))
        return hr;
    output->receiver = receiver;
    output->allocator = allocator;
    return S_OK;
}

void DemuxFilter::onDisconnected(BasePin* pin) {
    if (Output* output = outputOf(pin)) {
        forgetOutput(output);
        return;
    }
    if (pin->index() != kDemuxInput || pin->direction() != PINDIR_INPUT)
        return;
    if (pulling_) {
        // Back to the pins the push graph wires.
        dropOutputs();
        pulling_ = false;
        bytes_.clear();
        info_ = MediaInfo();
        largestPayload_ = 0;
        if (!mpeg1Splitter_)
            addPushOutputs();
    }
    // A new stream starts at its beginning.
    std::lock_guard<std::mutex> lock(mutex_);
    start_ = 0;
    seeking_.reset();
}

// ---- Delivery ------------------------------------------------------------------------

HRESULT DemuxFilter::onPause() {
    startStreaming();
    return S_OK;
}

HRESULT DemuxFilter::onStop() {
    endStreaming(false);
    for (Output& output : outputs_)
        if (output.allocator)
            output.allocator->Decommit();
    return S_OK;
}

void DemuxFilter::startStreaming() {
    if (!pinAt(kDemuxInput)->isConnected() || !streaming_.empty())
        return;
    REFERENCE_TIME start = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        start = start_;
    }
    // The segment plays at the rate set: its stamps are divided by it.
    segmentRate_ = seeking_.rate();
    halting_ = false;
    for (Output& output : outputs_) {
        if (!output.receiver || FAILED(output.allocator->Commit()))
            continue;
        streaming_.push_back(std::make_unique<WorldThread>());
        Output* o = &output;
        streaming_.back()->start([this, o, start] { deliver(o, start); });
    }
}

void DemuxFilter::endStreaming(bool flush) {
    halting_ = true;
    wakeWaiters(); // a thread waiting for the file to grow looks again
    std::vector<IPin*> flushed;
    for (Output& output : outputs_) {
        IPin* peer = output.pin->peer();
        if (!peer)
            continue;
        bool held = flush;
        PIN_INFO info{};
        if (!held && SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) {
            FILTER_STATE state = State_Stopped;
            held = SUCCEEDED(info.pFilter->GetState(0, &state)) && state != State_Stopped;
        }
        if (info.pFilter)
            info.pFilter->Release();
        if (held) {
            peer->BeginFlush();
            flushed.push_back(peer);
        }
    }
    for (auto& thread : streaming_)
        thread->join();
    streaming_.clear();
    for (IPin* peer : flushed)
        peer->EndFlush();
}

bool DemuxFilter::Walk::carries(int stream) {
    if (output->stream == kAnyVideo)
        return stream >= 0xE0 && stream <= 0xEF;
    if (output->stream != kFirstAudio)
        return stream == output->stream;
    if (audio == 0 && audioCodingOf(stream) != AudioCoding::None)
        audio = stream;
    return stream == audio;
}

// One output's samples from the start position on, on its own thread, each
// stamped with its time from there, then EndOfStream. A sample its peer
// refuses ends the delivery there, before EndOfStream; one the peer does
// not take (a flush) ends it at once.
void DemuxFilter::deliver(Output* output, REFERENCE_TIME start) {
    IPin* peer = output->pin->peer();
    peer->NewSegment(start, duration(), segmentRate_);
    Walk walk{output, start, start == 0, pulling_ ? info_.firstPts : -1};
    if (pulling_)
        walkPackets(bytes_.data(), bytes_.size(), &walk);
    else
        deliverWritten(&walk);
    if (!halting_ && walk.result != S_FALSE)
        peer->EndOfStream();
}

size_t DemuxFilter::walkPackets(const uint8_t* data, size_t size, Walk* walk) {
    SystemStreamReader packets(data, size);
    PesPacket packet;
    while (!halting_ && packets.next(&packet)) {
        if (!walk->carries(packet.stream))
            continue;
        REFERENCE_TIME at = -1;
        if (packet.pts >= 0) {
            if (walk->firstPts < 0) // a file being written from its first packet on
                walk->firstPts = streamInfo().firstPts;
            if (walk->firstPts < 0)
                walk->firstPts = packet.pts;
            int64_t ticks = packet.pts - walk->firstPts;
            if (ticks < -kPtsWrap / 2)
                ticks += kPtsWrap;
            at = unitsOf(ticks);
            walk->started = walk->started || at >= walk->start;
        }
        if (!walk->started)
            continue;
        walk->result =
            send(walk->output, data + packet.payload, packet.payloadSize, at, walk->start);
        if (walk->result != S_OK)
            break;
    }
    return packets.position();
}

// The push graph's delivery: the source's file read a stretch at a time as
// far as it is written. At the written end of a file still being written
// the thread waits until it grows (or is no longer written); the stream
// ends once the file is complete and walked whole, or cannot be read.
void DemuxFilter::deliverWritten(Walk* walk) {
    ISimWrittenFile* file = writtenFile();
    if (!file)
        return;
    std::vector<uint8_t> pending; // what is read and not yet walked whole
    LONGLONG read = 0;            // where it ends in the file
    while (!halting_ && walk->result == S_OK) {
        LONGLONG size = 0;
        BOOL growing = FALSE;
        if (FAILED(file->Written(&size, &growing)))
            break;
        if (read < size) {
            size_t before = pending.size();
            LONG length = size - read < kReadChunk ? static_cast<LONG>(size - read) : kReadChunk;
            if (FAILED(file->ReadWritten(read, length, &pending)) || pending.size() == before)
                break;
            read += static_cast<LONGLONG>(pending.size() - before);
            size_t walked = walkPackets(pending.data(), pending.size(), walk);
            pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(walked));
            continue;
        }
        if (!growing)
            break;
        waitFor([this, file, read] {
            LONGLONG now = 0;
            BOOL still = FALSE;
            return halting_ || FAILED(file->Written(&now, &still)) || now > read || !still;
        });
    }
    file->Release();
}

ISimWrittenFile* DemuxFilter::writtenFile() {
    IPin* peer = pinAt(kDemuxInput)->peer();
    PIN_INFO info{};
    if (!peer || FAILED(peer->QueryPinInfo(&info)) || !info.pFilter)
        return nullptr;
    ISimWrittenFile* file = nullptr;
    if (FAILED(info.pFilter->QueryInterface(IID_ISimWrittenFile, reinterpret_cast<void**>(&file))))
        file = nullptr;
    info.pFilter->Release();
    return file;
}

// One packet's payload as a sample, stamped `at` less the segment's start,
// over the segment's rate.
HRESULT DemuxFilter::send(Output* output, const uint8_t* payload, size_t payloadSize,
                          REFERENCE_TIME at, REFERENCE_TIME start) {
    IMediaSample* sample = nullptr;
    HRESULT hr = output->allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr) || !sample)
        return FAILED(hr) ? hr : E_POINTER;
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    LONG size = static_cast<LONG>(payloadSize);
    if (size > sample->GetSize())
        size = sample->GetSize();
    memcpy(buffer, payload, static_cast<size_t>(size));
    sample->SetActualDataLength(size);
    if (at >= 0) {
        auto from = static_cast<REFERENCE_TIME>(static_cast<double>(at - start) / segmentRate_);
        REFERENCE_TIME to = from + 1;
        sample->SetTime(&from, &to);
        sample->SetSyncPoint(TRUE);
    }
    hr = output->receiver->Receive(sample);
    sample->Release();
    return hr;
}

MediaInfo DemuxFilter::streamInfo() {
    if (pulling_)
        return info_;
    MediaInfo info;
    if (FAILED(upstreamMediaInfo(pinAt(kDemuxInput), &info)))
        return MediaInfo();
    return info;
}

REFERENCE_TIME DemuxFilter::duration() {
    return unitsFromSeconds(streamInfo().duration());
}

HRESULT DemuxFilter::seek(REFERENCE_TIME* position) {
    REFERENCE_TIME end = duration();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        start_ = *position < 0 ? 0 : *position > end ? end : *position;
        *position = start_;
    }
    if (state() == State_Stopped)
        return S_OK;
    endStreaming(true);
    startStreaming();
    return S_OK;
}

// ---- Seeking ----------------------------------------------------------------------
// In media time only; the stream plays forwards only.

DemuxSeeking::DemuxSeeking(IUnknown* identity, DemuxFilter* demux)
    : SeekingBase(identity, kCapabilities), demux_(demux) {}

HRESULT DemuxSeeking::durationHook(LONGLONG* duration) {
    *duration = demux_->duration();
    return S_OK;
}

HRESULT DemuxSeeking::seekHook(LONGLONG* current) {
    return demux_->seek(current);
}

} // namespace sim
