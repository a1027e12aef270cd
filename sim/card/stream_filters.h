// The push graph's two streaming filters as the card's software ships them:
// the shared-source filter (reads a file that may still be growing) and the
// MPEG demultiplexer. Here are their identity, pins and the calls they
// record; what the source tells of its file (ISimMediaInfo, ISimWrittenFile)
// is in media/push.cpp, the demultiplexer's delivery in card/demux.cpp.
#pragma once

#include "../base/filter.h"
#include "../base/seeking.h"
#include "../base/world_wait.h"

#include "../media/stream.h"
#include "../media/types.h"

#include "../../src/card/card_interfaces.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace sim {

extern const char kSharedSourceClassName[]; // "SharedSource"
extern const char kDemuxClassName[];        // "MpegDemux"

// Shared source pins: 0 output (MEDIATYPE_Stream, MPEG-2 program stream).
class SharedSourceFilter : public BaseFilter,
                           public IFileSourceFilter,
                           public ISharedAsync,
                           public ISimMediaInfo,
                           public ISimWrittenFile {
  public:
    SharedSourceFilter();
    ~SharedSourceFilter() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return BaseFilter::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    // IFileSourceFilter
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;

    // ISharedAsync
    HRESULT STDMETHODCALLTYPE SetFileLock(void* lock) override;
    HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHostName(const char* host) override;

    // ISimMediaInfo: the file as written so far.
    HRESULT STDMETHODCALLTYPE GetMediaInfo(MediaInfo* info) override;

    // ISimWrittenFile: its bytes, for the demultiplexer's delivery. The file
    // is still being written while the source holds the host's lock object.
    HRESULT STDMETHODCALLTYPE Written(LONGLONG* size, BOOL* growing) override;
    HRESULT STDMETHODCALLTYPE ReadWritten(LONGLONG offset, LONG limit,
                                          std::vector<uint8_t>* bytes) override;

    void* extraInterface(REFIID riid) override;

  private:
    std::string file_;
    std::wstring wideFile_;
    void* lock_ = nullptr;
    std::string host_;
    FileProbe probe_;
    // Guards the file, the lock and the probe: the decoder's thread asks for
    // the stream while the application loads and releases the file.
    std::mutex probeMutex_;
};

// Demultiplexer pins: 0 input (an MPEG-1 system or MPEG-2 program stream);
// then, as the push graph wires it to the shared source, 1 sub-picture out,
// 2 video out (MPEG-2 video), 3 audio out (the file's first audio stream).
// Connected to a reader instead (IAsyncReader, the pull model), it reads and
// parses the stream and its outputs become the streams found: a video pin
// when there is video, an audio pin for each audio stream ("Audio", "Audio
// 2", ...) of whatever coding (MPEG audio, AC-3, DTS, LPCM), each with its
// format block: what nobody takes stays unconnected.
//
// Either way, from the pause on, a streaming thread for each connected
// output delivers its stream's samples, stamped over the rate, then
// EndOfStream; a seek flushes downstream and delivers again from the new
// position; Stop ends the threads. Its output pins answer IMediaSeeking.
//
// In the push graph the threads read the shared source's file themselves
// (ISimWrittenFile), as far as it has been written: at the written end of a
// file still being written they wait for more, and the stream ends only once
// the file is complete. On Windows the source reads the file on a thread of
// its own and hands the demultiplexer byte-stream samples, which it splits
// onto its outputs; what reaches the decoder, and on which kind of thread,
// is the same, so the world keeps one delivery for both graphs.
// (card/demux.cpp)
enum DemuxPin { kDemuxInput = 0, kDemuxSubpictureOut = 1, kDemuxVideoOut = 2, kDemuxAudioOut = 3 };

class DemuxFilter;

// The demultiplexer's seeking, answered by each of its output pins: they
// share one position, and a seek on any of them moves them all.
class DemuxSeeking final : public SeekingBase {
  public:
    DemuxSeeking(IUnknown* identity, DemuxFilter* demux);

  protected:
    HRESULT durationHook(LONGLONG* duration) override;
    HRESULT seekHook(LONGLONG* current) override;
    HRESULT rateHook(double) override { return S_OK; }

  private:
    DemuxFilter* demux_;
};

class DemuxFilter : public BaseFilter, public ISimMediaInfo {
  public:
    DemuxFilter();
    ~DemuxFilter() override;
    // With `mpeg1Splitter`, the system's MPEG-1 splitter
    // (media/mpeg1_splitter.cpp): no push graph's pins; its input takes an
    // MPEG-1 system stream from a reader only (VFW_E_NO_TRANSPORT from
    // anything else), and its outputs are the first video and the first
    // MPEG audio stream.
    DemuxFilter(const char* className, REFCLSID clsid, bool mpeg1Splitter);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return BaseFilter::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    // ISimMediaInfo, in the push graph only: its input's stream.
    HRESULT STDMETHODCALLTYPE GetMediaInfo(MediaInfo* info) override;

    void* extraInterface(REFIID riid) override;
    void* pinInterface(BasePin* pin, REFIID riid) override;
    HRESULT onCompleteConnect(BasePin* pin, IPin* peer) override;
    void onDisconnected(BasePin* pin) override;
    HRESULT onPause() override;
    HRESULT onStop() override;

    // For its seeking: the stream's length (of a file still being written,
    // what is written so far) and where delivery starts, in 100 ns units; a
    // seek delivers again from there.
    REFERENCE_TIME duration();
    HRESULT seek(REFERENCE_TIME* position);

  private:
    struct Output {
        BasePin* pin;
        int stream;                         // the stream key its samples carry, or a kind below
        IMemInputPin* receiver = nullptr;   // the peer's, one reference while connected
        IMemAllocator* allocator = nullptr; // one reference while connected
    };
    // The push graph's outputs carry a kind of stream rather than a key.
    static const int kAnyVideo = -1;   // any MPEG video stream
    static const int kFirstAudio = -2; // the first audio stream met, of any coding
    static const int kNoStream = 0;    // nothing: the world's streams carry no sub-pictures
    // What one streaming thread has walked so far.
    struct Walk {
        Output* output;
        REFERENCE_TIME start;  // the segment's start
        bool started;          // a stamp at or after the start has been met
        int64_t firstPts;      // the stream's time zero, -1 until known
        int audio = 0;         // for kFirstAudio: the stream found
        HRESULT result = S_OK; // S_FALSE: flushed; a failure: a sample refused
        bool carries(int stream);
    };
    void addPushOutputs();
    HRESULT readStream(IAsyncReader* reader);
    void addStreamOutputs();
    Output* outputOf(BasePin* pin);
    void forgetOutput(Output* output);
    // Disconnects and removes every output pin.
    void dropOutputs();
    // Starts a streaming thread for each connected output from the start
    // position, unless they run already.
    void startStreaming();
    // Ends the streaming threads. The peers are flushed first when `flush`
    // says so, and otherwise those not stopped themselves, so that no
    // thread stays held in a Receive.
    void endStreaming(bool flush);
    void deliver(Output* output, REFERENCE_TIME start);
    // Sends the samples of the walk's stream among the packets in `data`;
    // answers how many bytes were walked whole.
    size_t walkPackets(const uint8_t* data, size_t size, Walk* walk);
    void deliverWritten(Walk* walk);
    HRESULT send(Output* output, const uint8_t* payload, size_t size, REFERENCE_TIME at,
                 REFERENCE_TIME start);
    // The stream: the one read from the reader, or the push source's as
    // written so far.
    MediaInfo streamInfo();
    // The push source's file, a reference of the caller's, or null.
    ISimWrittenFile* writtenFile();

    const bool mpeg1Splitter_;
    bool pulling_ = false; // connected to a reader
    std::vector<uint8_t> bytes_;
    MediaInfo info_;
    LONG largestPayload_ = 0; // the samples' size
    std::vector<Output> outputs_;
    std::mutex mutex_; // guards start_, never held while calling out
    REFERENCE_TIME start_ = 0;
    // The streaming threads, one for each output delivering; started and
    // ended by the application's calls (state changes, seeks) only.
    std::vector<std::unique_ptr<WorldThread>> streaming_;
    std::atomic<bool> halting_{false}; // the threads are to end now
    // The rate of the segment the threads deliver, set before they start.
    double segmentRate_ = 1.0;
    DemuxSeeking seeking_;
    PositionOverSeeking position_{&seeking_};
};

} // namespace sim
