// A whole host session through the natives, as the host drives it: open the
// OSD with settings, a few frames of changing size, a streamed (push) file
// and a rendered file with transport, volume, placement and queries, each
// freed again, and the OSD closed. Used by the fault sweep, the soak and the
// valgrind run, which judge what the session leaves behind.
#pragma once

#include "fake_jni.h"

#include <functional>
#include <string>
#include <vector>

namespace session {

// The media the session opens, written into the current directory.
extern const char kPushFile[];
extern const char kRenderFile[];
// Writes both files; false when they cannot be written.
bool writeMedia();

// The host's settings for the session: HDTV output (so the profile is
// read), scaling and verbose logging on.
void applySettings(fakejni::FakeJni& jni);

// Where the session stops for a look at the world.
enum class Stage { AfterOpen, AfterPushFree, AfterRenderFree, AfterClose };
const char* stageName(Stage stage);
using Checkpoint = std::function<void(Stage)>;

// An OSD frame of width x height through updateOSD, its pixels a pattern
// that changes with `seed`. Answers what the native answered.
bool sendFrame(fakejni::FakeJni& jni, int width, int height, unsigned seed);

// One load / play / ... / free cycle of a file. `push` loads it as the
// host's streamed MPEG (hints 1, 31, time-shifted), otherwise as a file to
// render.
void playFile(fakejni::FakeJni& jni, const char* path, bool push);

// The whole session. The simulated graph must be on its manual clock.
void run(fakejni::FakeJni& jni, const Checkpoint& checkpoint = Checkpoint());

// ---- Judging what is left ----
// The classes of the simulated objects alive now, oldest first.
std::vector<std::string> liveClasses();
// Problems with the world after a free: anything alive but the decoder
// filter and the OSD objects (which the OSD connection holds). Empty when
// all is well.
std::string leftAfterFree();
// Problems after closeOSD: anything alive, COM left initialised, or a call
// made into a component after COM unloaded it.
std::string leftAfterClose();

} // namespace session
