// MPEG-2 program streams as the world's source, splitter, demultiplexer and
// decoder see them: what a stream holds (its video size and frame rate from
// the sequence header, its audio streams, its time stamps), read from the
// bytes of the file.
#pragma once

#include "runtime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct MediaInfo {
    bool valid = false;    // a program stream was recognised
    bool hasVideo = false; // a video PES stream (0xE0-0xEF)
    int width = 0;         // from the first sequence header
    int height = 0;
    double frameRate = 0.0;        // frames per second, 0 when unknown
    int aspectCode = 0;            // the sequence header's aspect ratio code
    std::vector<int> audioStreams; // PES stream ids 0xC0-0xDF, in order first seen
    int64_t firstPts = -1;         // 90 kHz, of the timed stream (video if any)
    int64_t lastPts = -1;
    uint64_t bytes = 0;   // bytes parsed
    bool growing = false; // the file is still being written

    // Seconds from the first to the last time stamp; 0 without two.
    double duration() const;
};

// Parses a program stream held in memory. A packet cut off at the end (a
// file still being written) ends the parse without error.
MediaInfo parseProgramStream(const uint8_t* data, size_t size);

// Reads and parses the file at `path` (UTF-8). `found` tells whether the file
// could be opened at all.
MediaInfo probeFile(const std::string& path, bool* found);

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

// Asks the filter behind `pin`'s connection (the pin of the caller's own
// filter) for its stream. E_POINTER/VFW_E_NOT_CONNECTED/E_NOINTERFACE when
// there is no answer.
HRESULT upstreamMediaInfo(IPin* pin, MediaInfo* info);

} // namespace sim
