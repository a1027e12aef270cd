// The filter graph manager (CLSID_FilterGraph). One object answers every
// interface an application asks of a graph; its methods live in one source
// file per interface:
//   graph/filters.cpp   IFilterGraph2 / IGraphBuilder membership and wiring,
//                       IGraphVersion, IObjectWithSite
//   graph/render.cpp    RenderFile, Render, Connect, AddSourceFilter
//   graph/media_control.cpp   IMediaControl, IMediaFilter (state and clock),
//                       IVideoFrameStep
//   graph/events.cpp    IMediaEventEx, IMediaEventSink
//   graph/position.cpp  IMediaSeeking (forwarded to renderers; IMediaPosition
//                       is PositionOverSeeking over it)
//   graph/forward.cpp   IBasicAudio, IBasicVideo2, IVideoWindow (forwarded)
//
// Where the graph answers differently from Windows on purpose, the method
// says why.
//
// The application's calls come on its threads; renderers post events from
// theirs (Notify), and a run that waits for the renderers' data is finished
// on a thread of the graph's own. The state, positions and the pending run
// are guarded by the control lock, held across calls into the filters; the
// event queue and the count of renderers by the event lock, never held
// while calling out, so that a renderer's thread can always post.
#pragma once

#include "../base/seeking.h"
#include "../base/world_wait.h"
#include "../com/runtime.h"
#include "clock.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class FilterGraph
    : public IFilterGraph2,
      public IMediaFilter,
      public IGraphVersion,
      public IVideoFrameStep,
      public IObjectWithSite,
      public NoDispatch<IMediaControl, IMediaEventEx, IBasicAudio, IBasicVideo2, IVideoWindow>,
      public IMediaEventSink,
      public IMediaSeeking,
      public ComObject {
  public:
    FilterGraph();
    ~FilterGraph() override;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    // IFilterGraph
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override;
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** filters) override;
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE Reconnect(IPin* pin) override;
    HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) override;
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override;

    // IGraphBuilder
    HRESULT STDMETHODCALLTYPE Connect(IPin* out, IPin* in) override;
    HRESULT STDMETHODCALLTYPE Render(IPin* out) override;
    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR file, LPCWSTR playList) override;
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR file, LPCWSTR filterName,
                                              IBaseFilter** filter) override;
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR file) override;
    HRESULT STDMETHODCALLTYPE Abort() override;
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override;

    // IFilterGraph2
    HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context,
                                                        LPCWSTR filterName,
                                                        IBaseFilter** filter) override;
    HRESULT STDMETHODCALLTYPE ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE RenderEx(IPin* out, DWORD flags, DWORD* context) override;

    // IPersist / IMediaFilter (Stop and Pause are IMediaControl's too)
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD msTimeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;

    // IGraphVersion
    HRESULT STDMETHODCALLTYPE QueryVersion(LONG* version) override;

    // IVideoFrameStep
    HRESULT STDMETHODCALLTYPE Step(DWORD frames, IUnknown* filter) override;
    HRESULT STDMETHODCALLTYPE CanStep(LONG multiple, IUnknown* filter) override;
    HRESULT STDMETHODCALLTYPE CancelStep() override;

    // IObjectWithSite
    HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override;
    HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void** site) override;

    // IMediaControl
    HRESULT STDMETHODCALLTYPE Run() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* state) override;
    HRESULT STDMETHODCALLTYPE RenderFile(BSTR file) override;
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR file, IDispatch** unk) override;
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** unk) override;
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** unk) override;
    HRESULT STDMETHODCALLTYPE StopWhenReady() override;

    // IMediaEvent / IMediaEventEx
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* handle) override;
    HRESULT STDMETHODCALLTYPE GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2,
                                       LONG msTimeout) override;
    HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG* eventCode) override;
    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG eventCode) override;
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG eventCode) override;
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG eventCode, LONG_PTR param1,
                                              LONG_PTR param2) override;
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG msg,
                                              LONG_PTR instanceData) override;
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG noNotifyFlags) override;
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* noNotifyFlags) override;

    // IMediaEventSink
    HRESULT STDMETHODCALLTYPE Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) override;

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

    // IBasicAudio
    HRESULT STDMETHODCALLTYPE put_Volume(LONG volume) override;
    HRESULT STDMETHODCALLTYPE get_Volume(LONG* volume) override;
    HRESULT STDMETHODCALLTYPE put_Balance(LONG balance) override;
    HRESULT STDMETHODCALLTYPE get_Balance(LONG* balance) override;

    // IBasicVideo / IBasicVideo2
    HRESULT STDMETHODCALLTYPE get_AvgTimePerFrame(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE get_BitRate(LONG* rate) override;
    HRESULT STDMETHODCALLTYPE get_BitErrorRate(LONG* rate) override;
    HRESULT STDMETHODCALLTYPE get_VideoWidth(LONG* width) override;
    HRESULT STDMETHODCALLTYPE get_VideoHeight(LONG* height) override;
    HRESULT STDMETHODCALLTYPE put_SourceLeft(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_SourceLeft(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_SourceWidth(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_SourceWidth(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_SourceTop(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_SourceTop(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_SourceHeight(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_SourceHeight(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_DestinationLeft(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_DestinationLeft(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_DestinationWidth(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_DestinationWidth(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_DestinationTop(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_DestinationTop(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_DestinationHeight(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_DestinationHeight(LONG* v) override;
    HRESULT STDMETHODCALLTYPE SetSourcePosition(LONG left, LONG top, LONG width,
                                                LONG height) override;
    HRESULT STDMETHODCALLTYPE GetSourcePosition(LONG* left, LONG* top, LONG* width,
                                                LONG* height) override;
    HRESULT STDMETHODCALLTYPE SetDefaultSourcePosition() override;
    HRESULT STDMETHODCALLTYPE SetDestinationPosition(LONG left, LONG top, LONG width,
                                                     LONG height) override;
    HRESULT STDMETHODCALLTYPE GetDestinationPosition(LONG* left, LONG* top, LONG* width,
                                                     LONG* height) override;
    HRESULT STDMETHODCALLTYPE SetDefaultDestinationPosition() override;
    HRESULT STDMETHODCALLTYPE GetVideoSize(LONG* width, LONG* height) override;
    HRESULT STDMETHODCALLTYPE GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved,
                                                     LONG* palette) override;
    HRESULT STDMETHODCALLTYPE GetCurrentImage(LONG* bufferSize, LONG* image) override;
    HRESULT STDMETHODCALLTYPE IsUsingDefaultSource() override;
    HRESULT STDMETHODCALLTYPE IsUsingDefaultDestination() override;
    HRESULT STDMETHODCALLTYPE GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) override;

    // IVideoWindow
    HRESULT STDMETHODCALLTYPE put_Caption(BSTR caption) override;
    HRESULT STDMETHODCALLTYPE get_Caption(BSTR* caption) override;
    HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_WindowStyleEx(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_WindowStyleEx(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_AutoShow(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_AutoShow(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_WindowState(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_WindowState(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_BackgroundPalette(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_BackgroundPalette(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_Visible(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_Visible(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_Left(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_Left(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_Width(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_Width(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_Top(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_Top(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_Height(LONG v) override;
    HRESULT STDMETHODCALLTYPE get_Height(LONG* v) override;
    HRESULT STDMETHODCALLTYPE put_Owner(OAHWND owner) override;
    HRESULT STDMETHODCALLTYPE get_Owner(OAHWND* owner) override;
    HRESULT STDMETHODCALLTYPE put_MessageDrain(OAHWND drain) override;
    HRESULT STDMETHODCALLTYPE get_MessageDrain(OAHWND* drain) override;
    HRESULT STDMETHODCALLTYPE get_BorderColor(LONG* color) override;
    HRESULT STDMETHODCALLTYPE put_BorderColor(LONG color) override;
    HRESULT STDMETHODCALLTYPE get_FullScreenMode(LONG* mode) override;
    HRESULT STDMETHODCALLTYPE put_FullScreenMode(LONG mode) override;
    HRESULT STDMETHODCALLTYPE SetWindowForeground(LONG focus) override;
    HRESULT STDMETHODCALLTYPE NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wParam,
                                                 LONG_PTR lParam) override;
    HRESULT STDMETHODCALLTYPE SetWindowPosition(LONG left, LONG top, LONG width,
                                                LONG height) override;
    HRESULT STDMETHODCALLTYPE GetWindowPosition(LONG* left, LONG* top, LONG* width,
                                                LONG* height) override;
    HRESULT STDMETHODCALLTYPE GetMinIdealImageSize(LONG* width, LONG* height) override;
    HRESULT STDMETHODCALLTYPE GetMaxIdealImageSize(LONG* width, LONG* height) override;
    HRESULT STDMETHODCALLTYPE GetRestorePosition(LONG* left, LONG* top, LONG* width,
                                                 LONG* height) override;
    HRESULT STDMETHODCALLTYPE HideCursor(LONG hide) override;
    HRESULT STDMETHODCALLTYPE IsCursorHidden(LONG* hidden) override;

    // ---- For the graph's own source files and the control API ----
    struct Member {
        IBaseFilter* filter; // one reference, the graph's
        std::wstring name;
    };
    const std::vector<Member>& members() const { return members_; }
    unsigned version() const { return version_; }
    int pendingEvents() const;
    FILTER_STATE state() const { return state_; }
    // Writes one line of the graph's own trace to the log file, if any.
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool isMember(IBaseFilter* filter) const;
    // The first member answering `iid` (with a reference), or null; members
    // are asked in enumeration order.
    void* firstMemberWith(REFIID iid) const;
    // Every member answering `iid`, each with a reference.
    std::vector<IUnknown*> membersWith(REFIID iid) const;

  private:
    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    std::wstring uniqueName(LPCWSTR wanted, bool* renamed) const;
    HRESULT changeState(FILTER_STATE target);
    // A run from stopped whose renderers have no data yet leaves the
    // filters paused (the graph says running) and runs them from a thread
    // of the graph's once every filter's pause is complete.
    void startPendingRun();
    // Ends that thread, its run done or abandoned. Called without the
    // control lock.
    void endPendingRun();
    bool completeSent() const;
    // Runs every filter with stream time zero at clock time `start`; S_FALSE
    // when a filter's run is not complete yet.
    HRESULT runFilters(REFERENCE_TIME start);
    // The start a run gives the filters: stream time carries on from where
    // the graph was paused; with no clock, a little after zero.
    REFERENCE_TIME runStart() const;
    HRESULT addMember(IBaseFilter* filter, LPCWSTR name);
    HRESULT removeMember(IBaseFilter* filter, bool force = false);
    // The clock the graph picks for itself when it leaves the stopped state
    // without one having been set.
    HRESULT ensureClock();
    // Makes `clock` (may be null) the graph's and every filter's clock, and
    // tells the application with EC_CLOCK_CHANGED.
    void setClock(IReferenceClock* clock);
    REFERENCE_TIME clockTime() const;
    // Takes events off the queue up to the first that ends the stream
    // (EC_COMPLETE, EC_ERRORABORT, EC_USERABORT), whose code it gives.
    bool takeCompletion(LONG* eventCode);
    bool defaultHandling(LONG code) const;
    bool queueEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2, bool* ended);
    // A seek or a rate change may bring the end of the stream again.
    void rearmCompletion();
    // The graph entering Running forgets an end still queued from before
    // (other events stay).
    void dropQueuedCompletions();
    // Whether `filter` counts as a renderer: IAMFilterMiscFlags says so, or
    // without that interface, it seeks in media time (or has IMediaPosition)
    // and has no output pin.
    bool isRenderer(IBaseFilter* filter) const;
    // The members, each before the filters upstream of it.
    std::vector<IBaseFilter*> downstreamFirst() const;
    // GetState's answer from the filters' own states.
    HRESULT settledState() const;
    // No filter says its state change is still under way, or one cannot cue
    // (VFW_S_CANT_CUE, a live source), so that there is nothing to wait for.
    bool pausesComplete() const;
    // The graph's position while it plays, worked out from its clock; and
    // the position the filters report (the first seeking member that
    // answers), or 0.
    LONGLONG clockPosition() const;
    LONGLONG filtersPosition();
    // The longest stop position the members report, else the last one read.
    LONGLONG stopPosition();
    // The members whose IMediaSeeking works in media time (each with a
    // reference), newest first: the streams the graph seeks and times.
    std::vector<IMediaSeeking*> seekers() const;
    // RenderFile's work (graph/render.cpp): one output pin looking for a
    // taker among the members, and the open outputs of a filter that took
    // one, which go to a new video renderer when no member takes them.
    bool connectToMember(IPin* out);
    // A new registered filter, highest merit first, connected to `out`; the
    // graph's member (no reference of the caller's), or null. With
    // `renderOutputs`, a filter whose outputs cannot all be rendered is taken
    // out again and the next one tried.
    IBaseFilter* connectToRegistered(IPin* out, bool renderOutputs);
    // `out` connected to a member or else a registered filter, and what that
    // filter leaves open rendered in turn.
    bool renderPin(IPin* out);
    // Renders the open outputs of `filter` but those named '~...'; whether
    // every one found a taker.
    bool renderLeftovers(IBaseFilter* filter);
    HRESULT renderFile(LPCWSTR file);

    std::vector<Member> members_; // enumeration order: the newest first
    unsigned version_ = 0;        // bumped by every change of membership
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IReferenceClock* clock_ = nullptr;     // one reference, or null
    std::atomic<bool> clockChosen_{false}; // a clock (or none) was set: Pause keeps it
    std::recursive_mutex controlMutex_;
    mutable std::mutex eventMutex_;
    bool runPending_ = false; // the graph runs, its filters wait paused
    std::atomic<bool> abandonPendingRun_{false};
    WorldThread pendingRun_;
    REFERENCE_TIME start_ = 0;    // clock time at stream time zero while running
    REFERENCE_TIME pausedAt_ = 0; // stream time reached when last paused
    double rate_ = 1.0;
    GUID timeFormat_;
    std::deque<Event> events_;
    bool completeSent_ = false; // EC_COMPLETE has gone to the application this run
    // The renderers counted at the last Run (members, no references of
    // their own), and those of them that have told of their end since.
    std::vector<IBaseFilter*> renderers_;
    std::vector<IBaseFilter*> completed_;
    std::atomic<bool> starting_{false}; // filters are being run: their EC_COMPLETE counts
    // The media position at stream time streamAt_ while running; where the
    // graph stands while paused.
    LONGLONG positionAt_ = 0;
    REFERENCE_TIME streamAt_ = 0;
    std::atomic<LONGLONG> lastStop_{0};
    std::vector<LONG> cancelledDefaults_; // codes whose default handling is cancelled
    LONG notifyFlags_ = 0;
    HANDLE logFile_ = nullptr;
    IUnknown* site_ = nullptr; // one reference, or null
    // IMediaPosition: seconds over the graph's IMediaSeeking.
    PositionOverSeeking position_{static_cast<IMediaSeeking*>(this), "FilterGraph"};
};

} // namespace sim
