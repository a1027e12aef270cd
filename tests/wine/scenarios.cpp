// Timed host scenarios against the built library, in real time: the same
// program runs natively against libTovixAPI.so (the simulated world) and
// under Wine against TovixAPI.dll (Wine's graph manager, the card's
// components from the registered tovixsim.dll), and compare_scenarios.py
// compares what the host saw in the two runs.
//
// A scenario is a host's session with one or two files: natives called at
// set times, and between them, every 100 ms, the state, position and
// duration polled as the host's player loop polls them. The transcript
// holds one line per native call (its time from the scenario's start, what
// it answered and how long it took) and one per poll; the plug-in log,
// dates masked, is written beside it.
//
// Usage: tovix_scenarios <library folder> <transcript out> <masked log out>
//                        [--long] [--decoder-clock follows|none] [scenario...]
// --long plays a longer recording and runs every scenario three times.
// --decoder-clock chooses whether the simulated card's decoder offers the
// graph a clock that follows what it presents (the card's default) or none,
// so that the graph runs on the system clock; the host must see the same
// either way. On Linux it is set through the card's control API; under
// Wine through the environment variable that tovixsim.dll reads once
// (TOVIX_SIM_DECODER_CLOCK), before anything has loaded the DLL. Either
// way, the model in force is checked on a decoder made for the purpose.
#include "fake_jni.h"
#include "loaded_natives.h"
#include "plugin_log.h"
#include "stream_writer.h"

#include "../../src/card/card_interfaces.h"
#include "../../src/platform/directshow.h"

#ifndef _WIN32
#include "../../sim/control_card.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

const int kPollMs = 100;
// The hint pairs of an MPEG file from the host's server and of any other file.
const jbyte kServerMajor = 1, kServerMinor = 31;
const jbyte kFileMajor = 2, kFileMinor = 0;

typedef std::chrono::steady_clock Clock;

// One scenario's run: the natives, called and recorded, on the scenario's
// time line.
class Run {
  public:
    Run(const SessionNatives& n, fakejni::FakeJni& jni, FILE* out) : n_(n), jni_(jni), out_(out) {}

    void begin(const std::string& name) {
        fprintf(out_, "scenario\t%s\n", name.c_str());
        start_ = Clock::now();
        nextPoll_ = 0;
    }
    long now() const {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
    }

    // Polls every 100 ms until `ms` from the scenario's start; `tick`, when
    // given, runs before each poll with the poll's time.
    void until(long ms, const std::function<void(long)>& tick = nullptr) {
        while (nextPoll_ <= ms) {
            sleepUntil(nextPoll_);
            if (tick)
                tick(nextPoll_);
            poll();
            nextPoll_ += kPollMs;
        }
        sleepUntil(ms);
    }

    void openOSD() {
        Clock::time_point before = Clock::now();
        call("openOSD()", "setup", [&] { return n_.openOSD(env(), cls()) ? 1L : 0L; });
        start_ += Clock::now() - before;
    }
    void closeOSD() {
        call("closeOSD()", "=", [&] {
            n_.closeOSD(env(), cls());
            return 0L;
        });
    }
    // The set-up (the OSD's opening, the graph's building) is left out of
    // the time line: the scenario's clock goes on from where it was when it
    // was called.
    void load(const std::string& file, bool server, bool shifted) {
        Clock::time_point before = Clock::now();
        call("load(" + file + ")", "setup", [&] {
            n_.load(env(), cls(), server ? kServerMajor : kFileMajor,
                    server ? kServerMinor : kFileMinor, jni_.newString("video/mpeg"),
                    jni_.newString(file.c_str()), jni_.newString("mediaserver"),
                    shifted ? JNI_TRUE : JNI_FALSE, 0);
            return 0L;
        });
        start_ += Clock::now() - before;
    }
    void free() {
        call("free()", "=", [&] {
            n_.free(env(), cls());
            return 0L;
        });
    }
    void play() {
        call("play()", "=", [&] { return n_.play(env(), cls()) ? 1L : 0L; });
    }
    void pause() {
        call("pause()", "=", [&] { return n_.pause(env(), cls()) ? 1L : 0L; });
    }
    void stop() {
        call("stop()", "=", [&] { return n_.stop(env(), cls()) ? 1L : 0L; });
    }
    void seek(long ms) {
        call("seek(" + std::to_string(ms) + ")", "=",
             [&] { return static_cast<long>(n_.seek(env(), cls(), ms)); });
        poll();
    }
    void inactiveFile() {
        call("inactiveFile()", "=",
             [&] { return static_cast<long>(n_.inactiveFile(env(), cls())); });
    }
    // Rates are recorded in thousandths.
    void setRate(float rate) {
        call("setPlaybackRate(" + std::to_string(rate).substr(0, 3) + ")", "=", [&] {
            return static_cast<long>(n_.setPlaybackRate(env(), cls(), rate) * 1000.0f + 0.5f);
        });
    }
    void getRate() {
        call("getPlaybackRate()", "=",
             [&] { return static_cast<long>(n_.getPlaybackRate(env(), cls()) * 1000.0f + 0.5f); });
    }

  private:
    JNIEnv* env() { return jni_.env(); }
    jclass cls() { return jni_.hostClass(); }

    void sleepUntil(long ms) {
        long left = ms - now();
        if (left > 0)
            sleepMs(static_cast<int>(left));
    }

    // The answer's kind: "=" compared exactly with the time it took;
    // "setup" the answer only.
    template <typename F> void call(const std::string& what, const char* kind, F f) {
        long at = now();
        long answer = f();
        fprintf(out_, "call\t%ld\t%s\t%ld\t%ld\t%s\n", at, what.c_str(), answer, now() - at, kind);
    }

    void poll() {
        long at = now();
        int state = n_.getState(env(), cls());
        long position = static_cast<long>(n_.getMediaTimeMillis(env(), cls()));
        long duration = static_cast<long>(n_.getDurationMillis(env(), cls()));
        fprintf(out_, "poll\t%ld\t%d\t%ld\t%ld\n", at, state, position, duration);
    }

    const SessionNatives& n_;
    fakejni::FakeJni& jni_;
    FILE* out_;
    Clock::time_point start_;
    long nextPoll_ = 0;
};

bool writeClip(const std::string& file, double seconds, int audioStreams = 1, bool ac3 = false) {
    streamwriter::StreamSpec shape;
    shape.seconds = seconds;
    shape.audioStreams = audioStreams;
    shape.ac3 = ac3;
    return streamwriter::writeProgramStream(file, shape);
}

// ---- The scenarios ---------------------------------------------------------------

// A recording loaded time-shifted with its first second written, written on
// at half real time while it plays: playback catches up with the written
// end at 2 s and waits there. When all is written the host says the file is
// inactive; it plays to its end and is freed.
void timeShift(Run& r, bool longForm) {
    streamwriter::StreamSpec shape;
    shape.seconds = longForm ? 10 : 4;
    streamwriter::ProgramStreamWriter writer(shape);
    const char* file = "timeshift.mpg";
    std::remove(file);
    streamwriter::appendBytes(file, writer.until(1.0));
    long complete = static_cast<long>((shape.seconds - 1.0) * 2000);
    r.begin("time-shift catch-up");
    r.openOSD();
    r.load(file, true, true);
    r.play();
    r.until(complete,
            [&](long t) { streamwriter::appendBytes(file, writer.until(1.0 + t / 2000.0)); });
    streamwriter::appendBytes(file, writer.rest());
    r.inactiveFile();
    r.until(complete + 2000);
    r.free();
    r.closeOSD();
}

void playToTheEndThenFree(Run& r) {
    writeClip("rendered-ending.mpg", 2);
    r.begin("play to the end, then free");
    r.openOSD();
    r.load("rendered-ending.mpg", false, false);
    r.play();
    r.until(2800);
    r.free();
    r.closeOSD();
}

// The clip ends, a seek back plays it again, and free comes while it plays.
void seekAfterTheEnd(Run& r) {
    writeClip("rendered-again.mpg", 2);
    r.begin("a seek after the end, then free");
    r.openOSD();
    r.load("rendered-again.mpg", false, false);
    r.play();
    r.until(2500);
    r.seek(500);
    r.until(3000);
    r.free();
    r.closeOSD();
}

// A seek past the end of a playing clip ends it; free comes after.
void seekPastTheEnd(Run& r) {
    writeClip("rendered-past.mpg", 2);
    r.begin("a seek past the end, then free");
    r.openOSD();
    r.load("rendered-past.mpg", false, false);
    r.play();
    r.until(500);
    r.seek(5000);
    r.until(1500);
    r.free();
    r.closeOSD();
}

void seekRatePause(Run& r) {
    writeClip("rendered-controls.mpg", 6);
    r.begin("seek, rate and pause while running");
    r.openOSD();
    r.load("rendered-controls.mpg", false, false);
    r.play();
    r.until(300);
    r.seek(2000);
    r.until(800);
    r.setRate(2.0f);
    r.until(1300);
    r.pause();
    r.until(1800);
    r.play();
    r.until(2300);
    r.setRate(1.0f);
    r.until(4200);
    r.free();
    r.closeOSD();
}

void rateThenNextFile(Run& r) {
    writeClip("rendered-fast.mpg", 3);
    writeClip("rendered-next.mpg", 3);
    r.begin("a rate on one file, then the next file");
    r.openOSD();
    r.load("rendered-fast.mpg", false, false);
    r.play();
    r.until(200);
    r.setRate(2.0f);
    r.until(800);
    r.free();
    r.load("rendered-next.mpg", false, false);
    r.getRate();
    r.play();
    r.until(2000);
    r.getRate();
    r.free();
    r.closeOSD();
}

// The second track plays on the PC's sound device; the rate reaches both
// tracks' renderers, and the clip ends at it.
void twoAudioTracks(Run& r) {
    writeClip("rendered-two-tracks.mpg", 3, 2);
    r.begin("two audio tracks");
    r.openOSD();
    r.load("rendered-two-tracks.mpg", false, false);
    r.play();
    r.until(600);
    r.setRate(2.0f);
    r.until(2400);
    r.free();
    r.closeOSD();
}

void ac3Audio(Run& r) {
    writeClip("rendered-ac3.mpg", 2, 1, true);
    r.begin("AC-3");
    r.openOSD();
    r.load("rendered-ac3.mpg", false, false);
    r.play();
    r.until(2600);
    r.free();
    r.closeOSD();
}

void secondLoadWithoutFree(Run& r) {
    writeClip("rendered-first.mpg", 3);
    writeClip("rendered-second.mpg", 3);
    r.begin("a second load without free");
    r.openOSD();
    r.load("rendered-first.mpg", false, false);
    r.play();
    r.until(600);
    r.load("rendered-second.mpg", false, false);
    r.play();
    r.until(1500);
    r.stop();
    r.free();
    r.closeOSD();
}

void closeWhilePlaying(Run& r) {
    writeClip("rendered-closing.mpg", 3);
    r.begin("closeOSD while playing");
    r.openOSD();
    r.load("rendered-closing.mpg", false, false);
    r.play();
    r.until(800);
    r.closeOSD();
    r.until(1200);
    r.free();
}

struct Scenario {
    const char* name;
    std::function<void(Run&, bool)> run;
};

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all = {
        {"timeshift", timeShift},
        {"ending", [](Run& r, bool) { playToTheEndThenFree(r); }},
        {"restart", [](Run& r, bool) { seekAfterTheEnd(r); }},
        {"past", [](Run& r, bool) { seekPastTheEnd(r); }},
        {"controls", [](Run& r, bool) { seekRatePause(r); }},
        {"rate", [](Run& r, bool) { rateThenNextFile(r); }},
        {"tracks", [](Run& r, bool) { twoAudioTracks(r); }},
        {"ac3", [](Run& r, bool) { ac3Audio(r); }},
        {"reload", [](Run& r, bool) { secondLoadWithoutFree(r); }},
        {"close", [](Run& r, bool) { closeWhilePlaying(r); }},
    };
    return all;
}

// The clock model of the card's decoder as COM makes it for this process:
// "follows" when it offers the graph a clock, "none" when not.
std::string decoderClockInForce() {
    CoInitialize(nullptr);
    std::string model = "not made";
    IBaseFilter* decoder = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TovixDecoder, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, reinterpret_cast<void**>(&decoder)))) {
        IReferenceClock* clock = nullptr;
        decoder->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&clock));
        model = clock ? "follows" : "none";
        if (clock)
            clock->Release();
        decoder->Release();
    }
    CoUninitialize();
    return model;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr,
                "usage: %s <library folder> <transcript out> <masked log out> [--long] "
                "[--decoder-clock follows|none] [scenario...]\n",
                argv[0]);
        return 2;
    }
    bool longForm = false;
    std::vector<std::string> chosen;
    for (int i = 4; i < argc; i++) {
        if (strcmp(argv[i], "--long") == 0) {
            longForm = true;
        } else if (strcmp(argv[i], "--decoder-clock") == 0 && i + 1 < argc) {
            std::string model = argv[++i];
            if (model != "follows" && model != "none") {
                fprintf(stderr, "no decoder clock model \"%s\"\n", model.c_str());
                return 2;
            }
#ifdef _WIN32
            _putenv(("TOVIX_SIM_DECODER_CLOCK=" + model).c_str());
#else
            simcard::setDecoderClock(model == "none" ? simcard::DecoderClock::None
                                                     : simcard::DecoderClock::FollowsPresentation);
#endif
            std::string inForce = decoderClockInForce();
            if (inForce != model) {
                fprintf(stderr, "the card's decoder clock is \"%s\", not \"%s\"\n", inForce.c_str(),
                        model.c_str());
                return 2;
            }
        } else {
            chosen.push_back(argv[i]);
        }
    }
    SessionNatives n{};
    std::string error;
    if (!loadSessionNatives(argv[1], &n, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    FILE* out = fopen(argv[2], "w");
    if (!out) {
        fprintf(stderr, "cannot write %s\n", argv[2]);
        return 2;
    }
    fakejni::FakeJni jni;
    jni.setProperty("version", "7.1.9 scenarios");
    Run run(n, jni, out);
    int rounds = longForm ? 3 : 1;
    for (int round = 0; round < rounds; round++)
        for (const Scenario& s : scenarios())
            if (chosen.empty() || std::find(chosen.begin(), chosen.end(), s.name) != chosen.end()) {
                s.run(run, longForm);
                fflush(out);
            }
    fclose(out);
    bool ok = testlog::writeMaskedPluginLog(argv[3]);
    if (jni.outstanding() != 0 || !jni.violations().empty()) {
        fprintf(stderr, "the natives kept %d strings or arrays, or misused JNI\n",
                jni.outstanding());
        return 1;
    }
    return ok ? 0 : 1;
}
