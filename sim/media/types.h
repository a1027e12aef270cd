// What filters exchange once connected: the MPEG media types and format
// blocks, media samples and their allocators (IMemInputPin, the push model
// into a renderer) and IAsyncReader (the pull model between a file source
// and a splitter). On Windows these are the SDK's; elsewhere they are
// declared here with the SDK's layouts, method names and vtable order.
#pragma once

#include "../com/runtime.h"
#include "stream.h"

#include <vector>

#ifdef _WIN32
#include <dvdmedia.h>
#include <mmreg.h>
#else

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    DWORD dwInterlaceFlags;
    DWORD dwCopyProtectFlags;
    DWORD dwPictAspectRatioX;
    DWORD dwPictAspectRatioY;
    DWORD dwControlFlags;
    DWORD dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};

struct MPEG1VIDEOINFO {
    VIDEOINFOHEADER hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    BYTE bSequenceHeader[1];
};

struct MPEG2VIDEOINFO {
    VIDEOINFOHEADER2 hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    DWORD dwProfile;
    DWORD dwLevel;
    DWORD dwFlags;
    DWORD dwSequenceHeader[1];
};

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)

#ifndef AM_SEEKING_ReturnTime
#define AM_SEEKING_ReturnTime 0x8
#endif

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

extern "C" TOVIX_SIM_API const IID IID_IMediaSample;
extern "C" TOVIX_SIM_API const IID IID_IMemAllocator;

struct IMediaSample : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) = 0;
    virtual LONG STDMETHODCALLTYPE GetSize() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSyncPoint() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL sync) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPreroll() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPreroll(BOOL preroll) = 0;
    virtual LONG STDMETHODCALLTYPE GetActualDataLength() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsDiscontinuity() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL discontinuity) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
};

struct IMemAllocator : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request,
                                                    ALLOCATOR_PROPERTIES* actual) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
    virtual HRESULT STDMETHODCALLTYPE Decommit() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                                REFERENCE_TIME* end, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) = 0;
};

struct IMemInputPin : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) = 0;
    virtual HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count,
                                                      LONG* processed) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveCanBlock() = 0;
};

struct IAsyncReader : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RequestAllocator(IMemAllocator* preferred,
                                                       ALLOCATOR_PROPERTIES* props,
                                                       IMemAllocator** actual) = 0;
    virtual HRESULT STDMETHODCALLTYPE Request(IMediaSample* sample, DWORD_PTR user) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForNext(DWORD timeout, IMediaSample** sample,
                                                  DWORD_PTR* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE SyncReadAligned(IMediaSample* sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE SyncRead(LONGLONG position, LONG length, BYTE* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE Length(LONGLONG* total, LONGLONG* available) = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndFlush() = 0;
};

#endif

namespace sim {

// Byte-stream and elementary-stream types and format blocks the SDK header
// set lacks; the values are the SDK's.
extern const GUID MEDIASUBTYPE_MPEG1System;
extern const GUID MEDIASUBTYPE_MPEG1Packet;
extern const GUID MEDIASUBTYPE_MPEG1Payload;
extern const GUID MEDIASUBTYPE_MPEG1AudioPayload;
extern const GUID MEDIASUBTYPE_MPEG2_AUDIO;
extern const GUID MEDIASUBTYPE_DOLBY_AC3;
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

// What every seeking interface here shares: media time is the only time
// format, and CheckCapabilities answers from GetCapabilities.
class MediaTimeSeeking : public IMediaSeeking {
  public:
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                                LONGLONG source, const GUID* sourceFormat) override;
};

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
    bool committed_ = false;
};

} // namespace sim
