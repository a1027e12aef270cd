// The MPEG media types and format blocks the world's filters exchange, and
// the memory allocator behind their samples. The SDK's declarations of
// samples, allocators, readers and format blocks are the platform's
// (src/platform/directshow_media.h).
#pragma once

#include "../../src/platform/directshow_media.h"
#include "../base/media_time.h"
#include "../com/runtime.h"
#include "stream.h"

#include <atomic>
#include <vector>

namespace sim {

// Byte-stream and elementary-stream types and format blocks the SDK header
// set lacks; the values are the SDK's.
extern const GUID MEDIASUBTYPE_MPEG1System;
extern const GUID MEDIASUBTYPE_MPEG1Packet;
extern const GUID MEDIASUBTYPE_MPEG1Payload;
extern const GUID MEDIASUBTYPE_MPEG1AudioPayload;
extern const GUID MEDIASUBTYPE_MPEG2_AUDIO;
extern const GUID MEDIASUBTYPE_DOLBY_AC3;
extern const GUID MEDIASUBTYPE_DTS;
extern const GUID MEDIASUBTYPE_DVD_LPCM_AUDIO;
extern const GUID MEDIASUBTYPE_PCM;
extern const GUID FORMAT_VideoInfo;
extern const GUID FORMAT_VideoInfo2;
extern const GUID FORMAT_MPEGVideo;
extern const GUID FORMAT_MPEG2Video;
extern const GUID FORMAT_WaveFormatEx;

// A picture as a video format block tells it.
struct VideoFormat {
    LONG width = 0;
    LONG height = 0;
    REFERENCE_TIME framePeriod = 0; // 100 ns units, 0 when unknown
    LONG aspectX = 0;               // the picture's aspect ratio
    LONG aspectY = 0;
};
// Reads a VIDEOINFOHEADER, VIDEOINFOHEADER2, MPEG1VIDEOINFO or MPEG2VIDEOINFO
// block; false for any other format or a block too short for its type.
bool readVideoFormat(const AM_MEDIA_TYPE& mt, VideoFormat* format);
// The picture a stream's sequence header describes. The aspect ratio codes of
// MPEG-2 name the picture's shape (2 is 4:3, 3 is 16:9, 4 is 2.21:1); MPEG-1's
// name the pixels', so there the picture's shape is its size.
VideoFormat videoFormatOf(const MediaInfo& info);

// A media sample in task memory of its own, handed out by MemAllocator.
class MemAllocator : public IMemAllocator, public ComObject {
  public:
    MemAllocator();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request,
                                            ALLOCATOR_PROPERTIES* actual) override;
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override;
    HRESULT STDMETHODCALLTYPE Commit() override;
    HRESULT STDMETHODCALLTYPE Decommit() override;
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                        REFERENCE_TIME* end, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override;

  private:
    ALLOCATOR_PROPERTIES props_{};
    std::atomic<bool> committed_{false}; // decommitted while a streaming thread asks
};

// Readies an output pin to send samples of up to `bufferSize` bytes to
// `peer`: through the peer's IMemInputPin and the allocator it proposes (or
// one of the world's when it proposes none), told back to the peer. Both
// come with a reference of the caller's; VFW_E_NO_TRANSPORT when the peer
// takes no samples.
HRESULT connectReceiver(IPin* peer, LONG bufferSize, IMemInputPin** receiver,
                        IMemAllocator** allocator);

} // namespace sim
