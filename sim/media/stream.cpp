// System stream parsing: pack headers of both layers, system headers, PES
// packets in MPEG-1 and MPEG-2 syntax with their time stamps, the sub-streams
// of private stream 1, and the video sequence header inside the video PES.
#include "stream.h"

#include <cstdio>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace sim {

const IID IID_ISimMediaInfo = {
    0x6B1F7E21, 0x3C4D, 0x4A55, {0x9E, 0x61, 0x70, 0x82, 0x93, 0xA4, 0xB5, 0xC6}};
const IID IID_ISimWrittenFile = {
    0x6B1F7E22, 0x3C4D, 0x4A55, {0x9E, 0x61, 0x70, 0x82, 0x93, 0xA4, 0xB5, 0xC6}};

namespace {

const uint8_t kPackStart = 0xBA;
const uint8_t kProgramEnd = 0xB9;
const uint8_t kSequenceHeader = 0xB3;
const uint8_t kExtension = 0xB5;
const uint8_t kGroupOfPictures = 0xB8;
const uint8_t kPicture = 0x00;
const int kPrivate1Id = 0xBD;

// Files up to twice this size are parsed whole; larger ones at both ends.
const size_t kProbeSpan = size_t(2) << 20;

const double kFrameRates[16] = {
    0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60, 0, 0, 0, 0, 0, 0, 0};

bool isStartCode(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

bool isVideo(int stream) {
    return stream >= 0xE0 && stream <= 0xEF;
}

int64_t readPts(const uint8_t* p) {
    return (int64_t(p[0] & 0x0E) << 29) | (int64_t(p[1]) << 22) | (int64_t(p[2] & 0xFE) << 14) |
           (int64_t(p[3]) << 7) | (p[4] >> 1);
}

// The sequence header's size, rate and aspect; then, before the first group
// or picture, the sequence extension that only MPEG-2 video has.
void readSequenceHeader(const uint8_t* payload, size_t size, MediaInfo* info) {
    size_t i = 0;
    for (; i + 8 <= size; i++) {
        if (isStartCode(payload + i) && payload[i + 3] == kSequenceHeader) {
            const uint8_t* s = payload + i + 4;
            info->width = (s[0] << 4) | (s[1] >> 4);
            info->height = ((s[1] & 0x0F) << 8) | s[2];
            info->aspectCode = s[3] >> 4;
            info->frameRate = kFrameRates[s[3] & 0x0F];
            info->videoMpegVersion = 1;
            break;
        }
    }
    for (i += 12; i + 5 <= size; i++) {
        if (!isStartCode(payload + i))
            continue;
        uint8_t code = payload[i + 3];
        if (code == kGroupOfPictures || code == kPicture)
            return;
        if (code == kExtension && (payload[i + 4] >> 4) == 1) {
            info->videoMpegVersion = 2;
            return;
        }
    }
}

// Earliest and latest stamp of one stream, the 33-bit counter unwrapped.
struct Stamps {
    int64_t first = -1;
    int64_t last = -1; // as unwrapped, in the order met
    int64_t low = -1;
    int64_t high = -1;
    void add(int64_t pts) {
        if (first < 0) {
            first = last = low = high = pts;
            return;
        }
        // A stamp far below the last one is the counter wrapping; stamps a
        // little below are pictures presented before the one decoded earlier.
        while (pts < last && last - pts > kPtsWrap / 2)
            pts += kPtsWrap;
        last = pts;
        low = pts < low ? pts : low;
        high = pts > high ? pts : high;
    }
};

// Paths are UTF-8; Windows opens them through its wide calls.
FILE* openFile(const std::string& path) {
#ifdef _WIN32
    return _wfopen(widen(path).c_str(), L"rb");
#else
    return fopen(path.c_str(), "rb");
#endif
}

long long fileSize(const std::string& path) {
#ifdef _WIN32
    struct _stat64 st;
    return _wstat64(widen(path).c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -2;
#else
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -2;
#endif
}

// Reads through the file's descriptor: a 64-bit seek that the oldest
// Windows the card's software runs on has.
std::vector<uint8_t> readAt(FILE* file, long long offset, size_t count) {
    std::vector<uint8_t> bytes(count);
    size_t got = 0;
#ifdef _WIN32
    int fd = _fileno(file);
    bool placed = _lseeki64(fd, offset, SEEK_SET) == offset;
    while (placed && got < count) {
        int n = _read(fd, bytes.data() + got, static_cast<unsigned>(count - got));
#else
    int fd = fileno(file);
    bool placed = lseek(fd, static_cast<off_t>(offset), SEEK_SET) == offset;
    while (placed && got < count) {
        ssize_t n = read(fd, bytes.data() + got, count - got);
#endif
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

// The packets' facts gathered into `info`; `video` and `audio` collect the
// stamps. Answers where the walk ended.
size_t gather(const uint8_t* data, size_t size, MediaInfo* info, Stamps* video, Stamps* audio) {
    SystemStreamReader reader(data, size);
    PesPacket packet;
    while (reader.next(&packet)) {
        if (isVideo(packet.stream)) {
            info->hasVideo = true;
            if (packet.pts >= 0)
                video->add(packet.pts);
            if (info->width == 0)
                readSequenceHeader(data + packet.payload, packet.payloadSize, info);
            continue;
        }
        if (audioCodingOf(packet.stream) == AudioCoding::None)
            continue;
        bool known = false;
        for (int s : info->audioStreams)
            known = known || s == packet.stream;
        if (!known)
            info->audioStreams.push_back(packet.stream);
        // One audio stream times a file without video: the first one found.
        if (packet.pts >= 0 && packet.stream == info->audioStreams.front())
            audio->add(packet.pts);
    }
    if (info->layer == SystemLayer::None)
        info->layer = reader.layer();
    return reader.position();
}

void finish(MediaInfo* info, const Stamps& video, const Stamps& audio) {
    info->valid =
        info->layer != SystemLayer::None && (info->hasVideo || !info->audioStreams.empty());
    const Stamps& timed = video.first >= 0 ? video : audio;
    info->firstPts = timed.low;
    info->lastPts = timed.high;
}

} // namespace

AudioCoding audioCodingOf(int stream) {
    if (stream >= 0xC0 && stream <= 0xDF)
        return AudioCoding::Mpeg;
    if ((stream & 0xFF00) != kPrivateStream1)
        return AudioCoding::None;
    int sub = stream & 0xFF;
    if (sub >= 0x80 && sub <= 0x87)
        return AudioCoding::Ac3;
    if (sub >= 0x88 && sub <= 0x8F)
        return AudioCoding::Dts;
    if (sub >= 0xA0 && sub <= 0xA7)
        return AudioCoding::Lpcm;
    return AudioCoding::None;
}

SystemLayer leadingSystemLayer(const uint8_t* data, size_t size) {
    if (size < 5 || !isStartCode(data) || data[3] != kPackStart)
        return SystemLayer::None;
    if ((data[4] & 0xF0) == 0x20)
        return SystemLayer::Mpeg1System;
    if ((data[4] & 0xC0) == 0x40)
        return SystemLayer::Mpeg2Program;
    return SystemLayer::None;
}

bool SystemStreamReader::next(PesPacket* packet) {
    while (!ended_ && pos_ + 4 <= size_) {
        const uint8_t* p = data_ + pos_;
        if (!isStartCode(p) || p[3] < kProgramEnd) {
            pos_++; // lost: look for the next start code
            continue;
        }
        int id = p[3];
        if (id == kProgramEnd) {
            pos_ += 4;
            ended_ = true;
            break;
        }
        if (id == kPackStart) {
            SystemLayer layer = leadingSystemLayer(p, size_ - pos_);
            size_t length = layer == SystemLayer::Mpeg2Program ? 14 : 12;
            if (pos_ + length > size_)
                break;
            if (layer == SystemLayer::Mpeg2Program)
                length += p[13] & 0x07; // stuffing
            if (pos_ + length > size_)
                break; // its stuffing is not written yet
            if (layer_ == SystemLayer::None)
                layer_ = layer;
            pos_ += length;
            continue;
        }
        if (pos_ + 6 > size_)
            break;
        size_t end = pos_ + 6 + ((size_t(p[4]) << 8) | p[5]);
        // A packet not yet written whole is not handed out: its stamp waits.
        if (end > size_)
            break;
        packet->start = pos_;
        packet->end = end;
        bool elementary = readPes(id, packet);
        pos_ = end;
        if (elementary)
            return true;
    }
    return false;
}

// The PES header of the packet at pos_ in either syntax: its stamp and where
// its payload lies. False for streams that carry no elementary stream and for
// headers that do not fit the packet.
bool SystemStreamReader::readPes(int id, PesPacket* packet) {
    bool wanted = id == kPrivate1Id || (id >= 0xC0 && id <= 0xEF);
    if (!wanted)
        return false;
    const uint8_t* p = data_ + packet->start;
    size_t length = packet->end - packet->start;
    size_t at = 6;
    packet->pts = -1;
    if (length > at && (p[at] & 0xC0) == 0x80) { // MPEG-2 syntax
        if (length < 9 || 9 + size_t(p[8]) > length)
            return false;
        if ((p[7] & 0x80) && p[8] >= 5)
            packet->pts = readPts(p + 9);
        at = 9 + p[8];
    } else { // MPEG-1 syntax: stuffing, buffer size, stamps
        while (at < length && p[at] == 0xFF)
            at++;
        if (at < length && (p[at] & 0xC0) == 0x40)
            at += 2;
        if (at >= length)
            return false;
        if ((p[at] & 0xE0) == 0x20) { // '0010' PTS, or '0011' PTS and DTS
            size_t stamps = (p[at] & 0x10) ? 10 : 5;
            if (at + stamps > length)
                return false;
            packet->pts = readPts(p + at);
            at += stamps;
        } else if (p[at] == 0x0F) {
            at++;
        } else {
            return false;
        }
    }
    packet->stream = id;
    if (id == kPrivate1Id) {
        // DVD audio: a sub-stream id, then for AC-3 and DTS the frame count
        // and first access unit (3 bytes), for LPCM 6 bytes.
        if (at >= length)
            return false;
        int sub = p[at];
        packet->stream = kPrivateStream1 | sub;
        AudioCoding coding = audioCodingOf(packet->stream);
        at += coding == AudioCoding::Lpcm ? 7 : coding == AudioCoding::None ? 1 : 4;
        if (at > length)
            return false;
    }
    packet->payload = packet->start + at;
    packet->payloadSize = length - at;
    return true;
}

double MediaInfo::duration() const {
    if (firstPts < 0 || lastPts < firstPts)
        return 0.0;
    return static_cast<double>(lastPts - firstPts) / static_cast<double>(kPtsPerSecond);
}

MediaInfo parseSystemStream(const uint8_t* data, size_t size) {
    MediaInfo info;
    Stamps video, audio;
    info.bytes = gather(data, size, &info, &video, &audio);
    finish(&info, video, audio);
    return info;
}

MediaInfo probeFile(const std::string& path, bool* found) {
    MediaInfo info;
    FILE* file = openFile(path);
    if (found)
        *found = file != nullptr;
    if (!file)
        return info;
    long long size = fileSize(path);
    if (size <= static_cast<long long>(2 * kProbeSpan)) {
        std::vector<uint8_t> bytes = readAt(file, 0, size > 0 ? static_cast<size_t>(size) : 0);
        fclose(file);
        return parseSystemStream(bytes.data(), bytes.size());
    }
    // The head tells the streams and where time starts; the tail, walked
    // from its first pack header (a start code inside a payload could
    // mislead a walk begun anywhere else), where time ends.
    Stamps video, audio;
    std::vector<uint8_t> head = readAt(file, 0, kProbeSpan);
    gather(head.data(), head.size(), &info, &video, &audio);
    long long tailAt = size - static_cast<long long>(kProbeSpan);
    std::vector<uint8_t> tail = readAt(file, tailAt, kProbeSpan);
    fclose(file);
    size_t pack = 0;
    while (pack + 4 <= tail.size() && !(isStartCode(&tail[pack]) && tail[pack + 3] == kPackStart))
        pack++;
    MediaInfo late = info;
    size_t ended = pack + gather(tail.data() + pack, tail.size() - pack, &late, &video, &audio);
    info.bytes = static_cast<uint64_t>(tailAt) + ended;
    finish(&info, video, audio);
    return info;
}

long long fileSizeNow(const std::string& path) {
    return fileSize(path);
}

bool appendFileBytes(const std::string& path, long long offset, size_t limit,
                     std::vector<uint8_t>* bytes) {
    FILE* file = openFile(path);
    if (!file)
        return false;
    std::vector<uint8_t> more = readAt(file, offset, limit);
    fclose(file);
    bytes->insert(bytes->end(), more.begin(), more.end());
    return true;
}

const MediaInfo& FileProbe::info(bool* found) {
    long long size = fileSize(path_);
    if (size != size_) {
        size_ = size;
        info_ = probeFile(path_, &found_);
    }
    if (found)
        *found = found_;
    return info_;
}

HRESULT upstreamMediaInfo(IPin* pin, MediaInfo* info) {
    if (!pin || !info)
        return E_POINTER;
    IPin* peer = nullptr;
    if (FAILED(pin->ConnectedTo(&peer)) || !peer)
        return VFW_E_NOT_CONNECTED;
    PIN_INFO pinInfo;
    pinInfo.pFilter = nullptr;
    HRESULT hr = peer->QueryPinInfo(&pinInfo);
    peer->Release();
    if (FAILED(hr) || !pinInfo.pFilter)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    ISimMediaInfo* source = nullptr;
    hr = pinInfo.pFilter->QueryInterface(IID_ISimMediaInfo, reinterpret_cast<void**>(&source));
    pinInfo.pFilter->Release();
    if (FAILED(hr) || !source)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = source->GetMediaInfo(info);
    source->Release();
    return hr;
}

} // namespace sim

namespace {
struct NameMediaGuids {
    NameMediaGuids() {
        sim::nameGuid(sim::IID_ISimMediaInfo, "ISimMediaInfo");
        sim::nameGuid(sim::IID_ISimWrittenFile, "ISimWrittenFile");
    }
} gNameMediaGuids;
} // namespace
