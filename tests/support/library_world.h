// The fixture of the tests that drive the library through its natives: the
// simulated world and the library as at load before each test, and at its
// end the host's own ending (free, then closeOSD) with nothing of the world
// left alive, COM uninitialised and every string and array given back.
#pragma once

#include "fake_jni.h"
#include "natives.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "src/bridge/lifecycle.h"

#include <gtest/gtest.h>

class LibraryWorld : public testing::Test {
  protected:
    void SetUp() override {
        simctl::reset();
        simcard::reset();
        resetLibrary();
    }
    void TearDown() override {
        Java_org_quencommunity_tovix_TovixAPI_free(env(), cls());
        natives::closeOSD(env(), cls());
        EXPECT_TRUE(simctl::liveObjects().empty()) << simctl::describeLiveObjects();
        EXPECT_EQ(0, simctl::comInitDepth());
        EXPECT_EQ(0, jni.outstanding());
        for (const std::string& violation : jni.violations())
            ADD_FAILURE() << "JNI misuse: " << violation;
    }
    JNIEnv* env() { return jni.env(); }
    jclass cls() { return jni.hostClass(); }

    fakejni::FakeJni jni;
};
