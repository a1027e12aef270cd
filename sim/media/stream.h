// MPEG system streams as the world's source, splitter, demultiplexer and
// decoder see them, read from the bytes of the file: MPEG-1 system streams
// (the pack layer of Video CDs and of many .mpg files) and MPEG-2 program
// streams (DVD's VOB files, recordings). What a stream holds (its video size,
// frame rate and MPEG version from the sequence header, its audio streams,
// its time stamps) comes from a parse; a demultiplexer that delivers samples
// walks the same packets with SystemStreamReader.
#pragma once

#include "../com/runtime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The pack layer a stream uses, told by its pack header's first byte after
// the start code: '0010' for MPEG-1, '01' for MPEG-2.
enum class SystemLayer { None, Mpeg1System, Mpeg2Program };

// An elementary stream's key: the PES stream id for MPEG video (0xE0-0xEF)
// and MPEG audio (0xC0-0xDF); for the audio that DVDs carry in private
// stream 1, 0xBD00 plus the sub-stream id of the payload's first byte.
const int kPrivateStream1 = 0xBD00;

// Presentation time stamps count 90 kHz ticks in 33 bits, and wrap.
const int64_t kPtsWrap = int64_t(1) << 33;
const int64_t kPtsPerSecond = 90000;

enum class AudioCoding { None, Mpeg, Ac3, Dts, Lpcm };
// The coding a stream key stands for; None for video and anything else.
AudioCoding audioCodingOf(int stream);

struct MediaInfo {
    bool valid = false;                    // a pack layer with at least one audio or video stream
    SystemLayer layer = SystemLayer::None; // of the first pack header
    bool hasVideo = false;                 // a video PES stream (0xE0-0xEF)
    int videoMpegVersion = 0; // 2 when the sequence header has its MPEG-2 extension, else 1
    int width = 0;            // from the first sequence header; 0 without video
    int height = 0;
    double frameRate = 0.0;        // frames per second, 0 when unknown
    int aspectCode = 0;            // the sequence header's aspect ratio code
    std::vector<int> audioStreams; // stream keys of the audio, in the order first seen
    int64_t firstPts = -1;         // 90 kHz: earliest and latest presentation time of
    int64_t lastPts = -1;          // the timed stream (video if any, else the first audio)
    uint64_t bytes = 0;            // where the parse ended: after the last whole packet

    // A video stream in which no MPEG sequence header was found: video of
    // another coding (H.264, say) that an MPEG decoder cannot take.
    bool videoNotMpeg() const { return hasVideo && videoMpegVersion == 0; }

    // Seconds from the earliest to the latest time stamp; 0 without two.
    double duration() const;
};

// One PES packet of a system stream. Offsets count from the start of the
// bytes the reader was given.
struct PesPacket {
    int stream = 0;         // its key (see kPrivateStream1)
    size_t start = 0;       // of its start code
    size_t end = 0;         // just past it
    size_t payload = 0;     // of the elementary stream's bytes (after any sub-stream header)
    size_t payloadSize = 0; //
    int64_t pts = -1;       // 90 kHz, -1 when the packet carries none
};

// Walks the packets of a system stream of either layer. Pack headers, system
// headers and packets without an elementary stream (padding, private stream
// 2, stream maps) are stepped over; bytes that are no start code are skipped
// until the next one. The walk ends at the program end code, at the end of
// the bytes, or at a packet cut off at the end (a file still being written):
// that packet is not handed out, and position() stays at its start.
class SystemStreamReader {
  public:
    SystemStreamReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next packet with an elementary stream; false at the end.
    bool next(PesPacket* packet);
    // Where the walk stands: the bytes before it have been read whole.
    size_t position() const { return pos_; }
    // The layer of the first pack header met so far.
    SystemLayer layer() const { return layer_; }

  private:
    bool readPes(int id, PesPacket* packet);

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ended_ = false;
    SystemLayer layer_ = SystemLayer::None;
};

// The layer named by a pack header at the very start of `data`, as a file
// source's check bytes see a file; None when it starts otherwise.
SystemLayer leadingSystemLayer(const uint8_t* data, size_t size);

// Parses a system stream held in memory.
MediaInfo parseSystemStream(const uint8_t* data, size_t size);

// Reads and parses the file at `path` (UTF-8). `found` tells whether the file
// could be opened at all. A large file is read at its head (its streams and
// first time stamps) and its tail (its last time stamps) only.
MediaInfo probeFile(const std::string& path, bool* found);

// The size of the file at `path` now; -2 when it cannot be asked.
long long fileSizeNow(const std::string& path);
// Appends to `bytes` what the file at `path` holds from `offset` on, at most
// `limit` bytes; false when the file cannot be opened.
bool appendFileBytes(const std::string& path, long long offset, size_t limit,
                     std::vector<uint8_t>* bytes);

// A file's probe, re-read only when the file's size changed since the last
// one: cheap enough to ask on every position query of a growing file.
class FileProbe {
  public:
    void setPath(const std::string& path) {
        path_ = path;
        size_ = -1;
    }
    const std::string& path() const { return path_; }
    const MediaInfo& info(bool* found = nullptr);

  private:
    std::string path_;
    long long size_ = -1;
    bool found_ = false;
    MediaInfo info_;
};

// The world's private way for a filter to ask upstream what its stream is:
// sources answer it from their file; splitters and the demultiplexer pass the
// question up through their input pin.
extern const IID IID_ISimMediaInfo;
struct ISimMediaInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetMediaInfo(MediaInfo* info) = 0;

  protected:
    ~ISimMediaInfo() = default;
};

// The world's private way for the push graph's demultiplexer to read its
// source's file as far as it has been written: the shared source answers it.
extern const IID IID_ISimWrittenFile;
struct ISimWrittenFile : IUnknown {
    // How many bytes the file holds now, and whether it is still being
    // written. The second is asked first: when it says no, the size is the
    // whole file's.
    virtual HRESULT STDMETHODCALLTYPE Written(LONGLONG* size, BOOL* growing) = 0;
    // Appends to `bytes` what the file holds from `offset` on, at most
    // `limit` bytes.
    virtual HRESULT STDMETHODCALLTYPE ReadWritten(LONGLONG offset, LONG limit,
                                                  std::vector<uint8_t>* bytes) = 0;

  protected:
    ~ISimWrittenFile() = default;
};

// Asks the filter behind `pin`'s connection (the pin of the caller's own
// filter) for its stream. E_POINTER/VFW_E_NOT_CONNECTED/E_NOINTERFACE when
// there is no answer.
HRESULT upstreamMediaInfo(IPin* pin, MediaInfo* info);

} // namespace sim
