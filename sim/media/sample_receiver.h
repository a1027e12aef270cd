// An input pin's IMemInputPin, sharing the pin's identity: the allocator
// the pin hands out or is told of, ReceiveMultiple as one Receive after
// another, and Receive itself left to the filter. The card's decoder and
// the PC's audio stand-ins all take samples this way.
#pragma once

#include "../base/filter.h"
#include "types.h"

namespace sim {

class SampleReceiver : public IMemInputPin {
  public:
    explicit SampleReceiver(BasePin* pin) : pin_(pin) {}
    virtual ~SampleReceiver() { releaseAllocator(); }
    SampleReceiver(const SampleReceiver&) = delete;
    SampleReceiver& operator=(const SampleReceiver&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return pin_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return pin_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return pin_->Release(); }

    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
        if (!allocator)
            return E_POINTER;
        if (!allocator_)
            allocator_ = new MemAllocator();
        allocator_->AddRef();
        *allocator = allocator_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL) override {
        if (!allocator)
            return E_POINTER;
        allocator->AddRef();
        releaseAllocator();
        allocator_ = allocator;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count,
                                              LONG* processed) override {
        if (!samples || !processed)
            return E_POINTER;
        *processed = 0;
        HRESULT hr = S_OK;
        while (*processed < count && (hr = Receive(samples[*processed])) == S_OK)
            ++*processed;
        return hr;
    }
    // Each of them may block in Receive (a renderer paused, or a transform
    // delivering downstream on the caller's thread), and Windows's stock
    // renderers answer so even when they do not.
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

    BasePin* pin() const { return pin_; }
    // On disconnection: the allocator goes.
    void releaseAllocator() {
        if (allocator_)
            allocator_->Release();
        allocator_ = nullptr;
    }

  private:
    BasePin* pin_;
    IMemAllocator* allocator_ = nullptr; // one reference while set
};

} // namespace sim
