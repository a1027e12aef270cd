// Program stream parsing: pack headers, system headers, PES packets with
// their time stamps, and the video sequence header inside the video PES.
#include "media_stream.h"

#include <cstdio>
#include <sys/stat.h>

namespace sim {

const IID IID_ISimMediaInfo = {
    0x6B1F7E21, 0x3C4D, 0x4A55, {0x9E, 0x61, 0x70, 0x82, 0x93, 0xA4, 0xB5, 0xC6}};

namespace {

const uint8_t kPackStart = 0xBA;
const uint8_t kProgramEnd = 0xB9;
const uint8_t kSequenceHeader = 0xB3;
const int64_t kPtsWrap = int64_t(1) << 33;

const double kFrameRates[16] = {
    0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60, 0, 0, 0, 0, 0, 0, 0};

bool isStartCode(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

int64_t readPts(const uint8_t* p) {
    return (int64_t(p[0] & 0x0E) << 29) | (int64_t(p[1]) << 22) | (int64_t(p[2] & 0xFE) << 14) |
           (int64_t(p[3]) << 7) | (p[4] >> 1);
}

void readSequenceHeader(const uint8_t* payload, size_t size, MediaInfo* info) {
    for (size_t i = 0; i + 8 <= size; i++) {
        if (isStartCode(payload + i) && payload[i + 3] == kSequenceHeader) {
            const uint8_t* s = payload + i + 4;
            info->width = (s[0] << 4) | (s[1] >> 4);
            info->height = ((s[1] & 0x0F) << 8) | s[2];
            info->aspectCode = s[3] >> 4;
            info->frameRate = kFrameRates[s[3] & 0x0F];
            return;
        }
    }
}

struct Stamps {
    int64_t first = -1;
    int64_t last = -1;
    void add(int64_t pts) {
        if (first < 0)
            first = pts;
        // A stamp far below the last one is the 33-bit counter wrapping.
        else if (pts < last && last - pts > kPtsWrap / 2)
            pts += kPtsWrap;
        last = pts;
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

} // namespace

double MediaInfo::duration() const {
    if (firstPts < 0 || lastPts < firstPts)
        return 0.0;
    return static_cast<double>(lastPts - firstPts) / 90000.0;
}

MediaInfo parseProgramStream(const uint8_t* data, size_t size) {
    MediaInfo info;
    Stamps video, audio;
    size_t pos = 0;
    while (pos + 4 <= size) {
        if (!isStartCode(data + pos) || data[pos + 3] < kProgramEnd) {
            pos++; // lost: look for the next start code
            continue;
        }
        uint8_t id = data[pos + 3];
        if (id == kProgramEnd) {
            pos += 4;
            break;
        }
        if (id == kPackStart) {
            if (pos + 5 > size)
                break;
            if ((data[pos + 4] & 0xC0) == 0x40) { // MPEG-2 pack header
                if (pos + 14 > size)
                    break;
                pos += 14 + (data[pos + 13] & 0x07);
            } else {
                pos += 12; // MPEG-1 pack header
            }
            info.valid = true;
            continue;
        }
        if (pos + 6 > size)
            break;
        size_t length = (size_t(data[pos + 4]) << 8) | data[pos + 5];
        size_t end = pos + 6 + length;
        // A packet not yet written whole is not presented: its stamp waits.
        if (end > size)
            break;
        bool isVideo = id >= 0xE0 && id <= 0xEF;
        bool isAudio = id >= 0xC0 && id <= 0xDF;
        if ((isVideo || isAudio) && length >= 3 && (data[pos + 6] & 0xC0) == 0x80) {
            const uint8_t* pes = data + pos;
            size_t headerEnd = pos + 9 + pes[8];
            if ((pes[7] & 0x80) && pes[8] >= 5 && headerEnd <= end)
                (isVideo ? video : audio).add(readPts(pes + 9));
            if (isVideo) {
                info.hasVideo = true;
                if (info.width == 0 && headerEnd < end)
                    readSequenceHeader(data + headerEnd, end - headerEnd, &info);
            } else {
                bool known = false;
                for (int s : info.audioStreams)
                    known = known || s == id;
                if (!known)
                    info.audioStreams.push_back(id);
            }
            info.valid = true;
        }
        pos = end;
    }
    info.bytes = pos < size ? pos : size;
    const Stamps& timed = video.first >= 0 ? video : audio;
    info.firstPts = timed.first;
    info.lastPts = timed.last;
    return info;
}

MediaInfo probeFile(const std::string& path, bool* found) {
    MediaInfo info;
    FILE* file = openFile(path);
    if (found)
        *found = file != nullptr;
    if (!file)
        return info;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(file);
    return parseProgramStream(bytes.data(), bytes.size());
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
    NameMediaGuids() { sim::nameGuid(sim::IID_ISimMediaInfo, "ISimMediaInfo"); }
} gNameMediaGuids;
} // namespace
