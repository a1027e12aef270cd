// Creating the world's components and reaching their pins and interfaces,
// for the tests of the simulated world.
#pragma once

#include "sim/com/runtime.h"
#include "sim/control.h"
#include "sim/control_card.h"
#include "src/platform/directshow.h"

#include <gtest/gtest.h>

#include <string>

namespace comtest {

template <class T> T* create(REFCLSID clsid, REFIID iid) {
    T* object = nullptr;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                     reinterpret_cast<void**>(&object)));
    return object;
}

template <class T> T* query(IUnknown* object, REFIID iid) {
    T* out = nullptr;
    EXPECT_EQ(S_OK, object->QueryInterface(iid, reinterpret_cast<void**>(&out)));
    return out;
}

// The pin at `index` in enumeration order, with a reference of the caller's.
inline IPin* pinOf(IBaseFilter* filter, int index) {
    IEnumPins* pins = nullptr;
    EXPECT_EQ(S_OK, filter->EnumPins(&pins));
    IPin* pin = nullptr;
    pins->Skip(static_cast<ULONG>(index));
    EXPECT_EQ(S_OK, pins->Next(1, &pin, nullptr));
    pins->Release();
    return pin;
}

inline std::string pinName(IPin* pin) {
    PIN_INFO info;
    EXPECT_EQ(S_OK, pin->QueryPinInfo(&info));
    info.pFilter->Release();
    return sim::narrow(info.achName);
}

inline std::string filterName(IBaseFilter* filter) {
    FILTER_INFO info;
    EXPECT_EQ(S_OK, filter->QueryFilterInfo(&info));
    if (info.pGraph)
        info.pGraph->Release();
    return sim::narrow(info.achName);
}

inline int pinCount(IBaseFilter* filter) {
    IEnumPins* pins = nullptr;
    EXPECT_EQ(S_OK, filter->EnumPins(&pins));
    IPin* pin = nullptr;
    int count = 0;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        pin->Release();
        count++;
    }
    pins->Release();
    return count;
}

inline bool connected(IPin* pin) {
    IPin* peer = nullptr;
    if (FAILED(pin->ConnectedTo(&peer)))
        return false;
    peer->Release();
    return true;
}

// Every test starts with COM up on its thread and a card at power-on, and
// ends with nothing of the world left alive.
class ComWorld : public testing::Test {
  protected:
    void SetUp() override {
        simctl::reset();
        simcard::reset();
        CoInitialize(nullptr);
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
    }
};

} // namespace comtest
