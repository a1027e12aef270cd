// Seeking as a filter answers it, and IMediaPosition over any IMediaSeeking.
//
// SeekingBase keeps the current (start) position, the stop position and the
// rate under one lock and answers every IMediaSeeking method in media time,
// the one time format here. The filter that owns it fills in four hooks:
// the duration and the current position it reports (both may move while it
// plays), and what a seek and a rate change do to its stream. Its interface
// shares the owner's identity and reference count.
//
// PositionOverSeeking is IMediaPosition as DirectShow defines it: seconds
// over an IMediaSeeking's 100 ns units, and nothing of its own.
#pragma once

#include "../com/runtime.h"
#include "media_time.h"

#include <mutex>

namespace sim {

class SeekingBase : public IMediaSeeking {
  public:
    // `identity` answers QueryInterface and counts the references. With a
    // `faultClass`, the duration, position, seek and rate calls consult the
    // fault points "<faultClass>::GetDuration", "::GetCurrentPosition",
    // "::SetPositions" and "::SetRate".
    SeekingBase(IUnknown* identity, DWORD capabilities, const char* faultClass = nullptr)
        : identity_(identity), capabilities_(capabilities), faultClass_(faultClass) {}
    virtual ~SeekingBase() = default;
    SeekingBase(const SeekingBase&) = delete;
    SeekingBase& operator=(const SeekingBase&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return identity_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return identity_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return identity_->Release(); }

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

    // What the base holds, for its owner.
    LONGLONG start();
    double rate();
    // Back to the start of the stream at the normal rate, the stop at its
    // end (a new stream).
    void reset();

  protected:
    // The hooks. Each is called without the base's lock held, so that it
    // may call out (upstream, or to the graph).
    // The stream's length.
    virtual HRESULT durationHook(LONGLONG* duration) = 0;
    // Where the stream is now; by default the start set by the last seek.
    virtual HRESULT positionHook(LONGLONG* current);
    // The start moves to `*current` (the hook may keep it within the stream
    // and says where it went); a failure leaves the start where it was.
    virtual HRESULT seekHook(LONGLONG* current) = 0;
    // A new rate, already known to be positive; a failure refuses it.
    virtual HRESULT rateHook(double rate) = 0;

  private:
    bool fires(const char* method, HRESULT* hr) const;

    IUnknown* identity_;
    DWORD capabilities_;
    const char* faultClass_;
    std::mutex mutex_;   // guards the members below
    LONGLONG start_ = 0; // where the last seek put the stream
    LONGLONG stop_ = -1; // where it stops; -1 for its end
    double rate_ = 1.0;
};

// IMediaPosition over `seeking`, sharing its identity. With a `faultClass`,
// its methods consult the points "<faultClass>::get_Duration",
// "::get_CurrentPosition", "::put_CurrentPosition", "::get_Rate" and
// "::put_Rate".
class PositionOverSeeking : public NoDispatch<IMediaPosition> {
  public:
    explicit PositionOverSeeking(IMediaSeeking* seeking, const char* faultClass = nullptr)
        : seeking_(seeking), faultClass_(faultClass) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return seeking_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return seeking_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return seeking_->Release(); }

    HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* length) override;
    HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE put_Rate(double rate) override;
    HRESULT STDMETHODCALLTYPE get_Rate(double* rate) override;
    HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* canSeek) override;
    HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG* canSeek) override;

  private:
    bool fires(const char* method, HRESULT* hr) const;
    // One of IMediaSeeking's readings, in seconds.
    HRESULT seconds(HRESULT (STDMETHODCALLTYPE IMediaSeeking::*read)(LONGLONG*), REFTIME* out);
    HRESULT can(DWORD capability, LONG* answer);

    IMediaSeeking* seeking_;
    const char* faultClass_;
};

} // namespace sim
