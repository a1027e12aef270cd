// A filter of the graph probe's own, to put a graph manager through running
// graphs and see what it does to its filters: one pin (an input, or an
// output that connects straight to another probe filter's input), state
// changes written to a shared journal, a seeking interface in media time
// that can be left out, the renderer flag that can be set at any time, and
// an end of stream told to the graph on request.
//
// It answers as the simplest filter would, so that any answer of the graph
// that differs between two graph managers is the graph manager's own: it
// reaches each state at once (unless told to be slow), seeks to a fixed place (1234 ms) whatever it
// is asked, and stops where it is told.
#pragma once

#include "../../src/platform/directshow.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace probe {

const LONGLONG kUnitsPerMs = 10000;
// Where every probe filter says a seek took it.
const LONGLONG kSeekResult = 1234 * kUnitsPerMs;

// The state changes of every probe filter, in order: "<name> <state>".
class Journal {
  public:
    void note(const std::string& line);
    std::vector<std::string> lines();
    void clear();

  private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

struct FilterShape {
    const char* name;
    bool output = false;    // its pin is an output pin
    bool seeking = true;    // it answers IMediaSeeking in media time
    bool miscFlags = false; // it answers IAMFilterMiscFlags (flags 0 until setRenderer)
    LONGLONG stop = 0;      // its stop position and duration at first
    bool slowPause = false; // its pause from stopped completes only at settle()
    bool slowRun = false;   // its run answers S_FALSE and completes only at settle()
};

class Pin;

class Filter final : public IBaseFilter, public IMediaSeeking, public IAMFilterMiscFlags {
  public:
    Filter(const FilterShape& shape, Journal* journal);

    // What the probe does to it or asks it.
    IPin* pin();
    HRESULT complete(); // EC_COMPLETE to the graph, as a renderer at its end
    void setRenderer(bool on) { renderer_ = on; }
    // Its GetState answers `answer` with `state` from now (S_OK with the
    // state it was told, by default).
    void reportState(HRESULT answer, FILTER_STATE state);
    void reportTrueState();
    // Its GetState answers `answer` with the state it is in (VFW_S_CANT_CUE,
    // say, as a live source does), unless a slow change pends.
    void answerState(HRESULT answer) { trueAnswer_ = answer; }
    void setSlowPause(bool on) { slowPause_ = on; }
    // A slow pause, or a stop that came while it pended, completes (as a
    // renderer's pause does when its first sample comes); the next pause
    // from stopped is slow again.
    void settle() { pending_ = false; }
    FILTER_STATE state() const { return state_; }
    // The start its last Run was given.
    REFERENCE_TIME runStart() const { return runStart_; }
    // The state it was in when it was last told to seek.
    FILTER_STATE stateAtSeek() const { return atSeek_; }
    double rate() const { return rate_; }
    int positionQuestions() const { return positionQuestions_; }
    void resetPositionQuestions() { positionQuestions_ = 0; }
    bool hasClock() const { return clock_ != nullptr; }
    const std::string& name() const { return name_; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD msTimeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

    // IMediaSeeking
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                                LONGLONG source, const GUID* sourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

    // IAMFilterMiscFlags
    ULONG STDMETHODCALLTYPE GetMiscFlags() override;

  private:
    ~Filter();
    void changeTo(FILTER_STATE state, const char* word);

    std::atomic<long> refs_{1};
    std::string name_;
    FilterShape shape_;
    Journal* journal_;
    Pin* pin_;
    IFilterGraph* graph_ = nullptr; // not held: the graph holds the filter
    WCHAR graphName_[MAX_FILTER_NAME] = {};
    IReferenceClock* clock_ = nullptr;
    std::atomic<FILTER_STATE> state_{State_Stopped}; // the graph may change it on a thread
    FILTER_STATE atSeek_ = State_Stopped;
    bool trueState_ = true;
    HRESULT stateAnswer_ = S_OK;
    FILTER_STATE reportedState_ = State_Stopped;
    bool renderer_ = false;
    std::atomic<bool> pending_{false};
    std::atomic<bool> slowPause_;
    std::atomic<HRESULT> trueAnswer_{S_OK};
    std::atomic<REFERENCE_TIME> runStart_{-1};
    LONGLONG current_ = 0;
    LONGLONG stop_;
    double rate_ = 1.0;
    std::atomic<int> positionQuestions_{0};
};

} // namespace probe
