// Every call the library makes into the simulated world, failing: a clean
// session records the fault points it reaches; then, for each point, the
// session runs again in a process of its own with that point failing on
// every call (and, where the call hands out an object, once more with it
// handing out null; where the session calls it more than once, once more
// failing its first call only and once its last only). Each run must end by itself, log the
// library's own line for the failure where it has one, and leave the world as it found it: after a
// free nothing but the decoder filter and the OSD objects, after closeOSD nothing at all and COM
// uninitialised.
#include "fake_jni.h"
#include "fault_lines.h"
#include "natives.h"
#include "plugin_log.h"
#include "session.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"
#include "src/bridge/lifecycle.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A run that has not ended by then is taken as hung.
const int kRunTimeoutSeconds = 30;

struct Fault {
    std::string point;
    bool null = false; // hand out null instead of failing
    int nth = 0;       // fail only this call of the point; 0: every call
    HRESULT hr = E_FAIL;
    std::string describe() const {
        char code[16];
        snprintf(code, sizeof code, "%08X", static_cast<unsigned>(hr));
        return point + (null ? std::string(" (null") : std::string(" (") + code) +
               (nth ? " on call " + std::to_string(nth) + ")" : " on every call)");
    }
};

// Calls that hand out an object, and so can hand out null instead.
bool handsOutObject(const std::string& point) {
    auto endsWith = [&](const std::string& tail) {
        return point.size() >= tail.size() &&
               point.compare(point.size() - tail.size(), tail.size(), tail) == 0;
    };
    return point.compare(0, 17, "CoCreateInstance:") == 0 || endsWith("::EnumPins");
}

void prepareWorld() {
    simctl::reset();
    simcard::reset();
    resetLibrary();
    simctl::setManualClock(true);
    simctl::setWaitLimit(2000);
}

// The session with `fault` armed (none when its point is empty), in the
// current process. Answers what was wrong, empty when nothing was.
std::string runSession(const Fault& fault) {
    prepareWorld();
    if (!session::writeMedia())
        return "cannot write the session's media\n";
    std::ostringstream problems;
    fakejni::FakeJni jni;
    session::applySettings(jni);
    if (!fault.point.empty()) {
        if (fault.null)
            simctl::armNull(fault.point, fault.nth);
        else
            simctl::armFault(fault.point, fault.hr, fault.nth);
    }
    session::run(jni, [&](session::Stage stage) {
        std::string left;
        if (stage == session::Stage::AfterPushFree || stage == session::Stage::AfterRenderFree) {
            // A filter that refuses every Stop cannot be disconnected (as in
            // DirectShow). Any other filter goes with the graph and lets its
            // peers go; the decoder filter outlives the graph, and the
            // demultiplexer on its inputs lives on until it goes at closeOSD.
            if (fault.nth != 0 || fault.point != "DecoderFilter::Stop")
                left = session::leftAfterFree();
        } else if (stage == session::Stage::AfterClose) {
            left = session::leftAfterClose();
        }
        if (!left.empty())
            problems << session::stageName(stage) << ":\n" << left;
    });
    simctl::clearFaults();
    if (jni.outstanding() != 0)
        problems << jni.outstanding() << " JNI strings or arrays not given back\n";
    for (const std::string& v : jni.violations())
        problems << "JNI misuse: " << v << "\n";
    // The line is the one for a point that keeps failing; a single failure
    // may be followed by a call that succeeds and says nothing.
    if (fault.nth == 0) {
        std::vector<std::string> log = testlog::readPluginLog();
        for (const std::string& text : testfaults::linesWhenEveryCallFails(fault.point)) {
            bool found = false;
            for (const std::string& l : log)
                found = found || l.find(text) != std::string::npos;
            if (!found)
                problems << "no log line containing \"" << text << "\"\n";
        }
    }
    return problems.str();
}

struct Outcome {
    bool ended = false; // on its own, in time
    int status = 0;
    std::string report;
};

// Runs `body` in a child process, in a scratch folder of its own; the child
// writes its report to a file there and exits 0 when it had nothing to say.
template <typename Body> Outcome inChild(const std::string& folder, Body body) {
    mkdir(folder.c_str(), 0755);
    std::string reportPath = folder + "/report.txt";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(3);
        std::string report = body();
        std::ofstream("report.txt") << report;
        // exit, not _exit: the leak checker of a sanitizer build runs at exit.
        exit(report.empty() ? 0 : 1);
    }
    Outcome outcome;
    if (pid < 0) {
        outcome.report = "fork failed";
        return outcome;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunTimeoutSeconds);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            outcome.ended = true;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            outcome.report = "hung: killed after " + std::to_string(kRunTimeoutSeconds) + " s";
            return outcome;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    outcome.status = status;
    std::ifstream in(reportPath);
    std::stringstream text;
    text << in.rdbuf();
    outcome.report = text.str();
    if (WIFSIGNALED(status))
        outcome.report += "crashed with signal " + std::to_string(WTERMSIG(status));
    else if (WEXITSTATUS(status) != 0 && outcome.report.empty())
        outcome.report = "exited with status " + std::to_string(WEXITSTATUS(status));
    return outcome;
}

// ---- Findings of the sweep, kept as tests of their own ----

void expectWorldEmptyAfterFreeAndClose(fakejni::FakeJni& jni) {
    Java_org_quencommunity_tovix_TovixAPI_free(jni.env(), jni.hostClass());
    EXPECT_EQ("", session::leftAfterFree());
    natives::closeOSD(jni.env(), jni.hostClass());
    EXPECT_EQ("", session::leftAfterClose());
}

// A set-up that failed part-way keeps its graph, source and demultiplexer
// for the next load. They used to outlive closeOSD too: the graph went on
// holding the card's decoder filter with COM already uninitialised.
TEST(FaultFinding, CloseReleasesWhatAFailedSetUpKept) {
    prepareWorld();
    ASSERT_TRUE(session::writeMedia());
    fakejni::FakeJni jni;
    ASSERT_EQ(JNI_TRUE, natives::openOSD(jni.env(), jni.hostClass()));
    simctl::armFault("DecoderFilter::JoinFilterGraph", E_FAIL);
    natives::load(jni.env(), jni.hostClass(), 1, 31, jni.newString("video/mpeg"),
                  jni.newString(session::kPushFile), nullptr, true);
    EXPECT_TRUE(testlog::logHas(
        "hh:mm:ss - <buildGraph>: Cannot add sigma decoder filter to Graph!!! (ERROR: 80004005/"
        "Unspecified error.)"));
    simctl::clearFaults();
    Java_org_quencommunity_tovix_TovixAPI_free(jni.env(), jni.hostClass());
    EXPECT_EQ(1, simctl::liveCount("FilterGraph")) << "kept for the next load";
    natives::closeOSD(jni.env(), jni.hostClass());
    EXPECT_EQ("", session::leftAfterClose());
}

// A filter that failed to pause when the graph was run stayed paused while
// the graph believed itself stopped; leaving the graph could not disconnect
// it, and the connections kept it, its peers and the decoder filter alive.
TEST(FaultFinding, AFilterThatFailedToPauseLeavesWithTheGraph) {
    prepareWorld();
    ASSERT_TRUE(session::writeMedia());
    fakejni::FakeJni jni;
    ASSERT_EQ(JNI_TRUE, natives::openOSD(jni.env(), jni.hostClass()));
    natives::load(jni.env(), jni.hostClass(), 2, 0, jni.newString("video/mpeg"),
                  jni.newString(session::kRenderFile), nullptr, false);
    simctl::armFault("FileSource::Pause", E_FAIL);
    EXPECT_EQ(JNI_FALSE, Java_org_quencommunity_tovix_TovixAPI_play(jni.env(), jni.hostClass()));
    simctl::clearFaults();
    expectWorldEmptyAfterFreeAndClose(jni);
}

TEST(FaultSweep, EveryPointFailingEndsCleanlyWithItsLineAndABalancedLedger) {
    // The clean session: what it reaches is what the sweep fails.
    Outcome clean = inChild("clean", [] {
        std::string report = runSession(Fault());
        std::ofstream points("points.txt");
        for (const std::string& p : simctl::pointsReached())
            points << simctl::callCount(p) << " " << p << "\n";
        return report;
    });
    ASSERT_TRUE(clean.ended && clean.status == 0) << "the clean session: " << clean.report;
    std::vector<Fault> faults;
    std::ifstream in("clean/points.txt");
    int calls = 0;
    for (std::string point; in >> calls && std::getline(in >> std::ws, point);) {
        faults.push_back(Fault{point, false, 0});
        if (handsOutObject(point))
            faults.push_back(Fault{point, true, 0});
        // A point the session calls more than once also fails once only, at
        // its first call and at its last: a failure the library meets after
        // things have gone well so far.
        if (calls > 1) {
            faults.push_back(Fault{point, false, 1});
            faults.push_back(Fault{point, false, calls});
        }
    }
    ASSERT_GT(faults.size(), 20u) << "the session reaches too few points to be whole";
    // A render that only half succeeds answers a success code; the library
    // must still report it and tear the half-built graph down at free.
    faults.push_back(Fault{"FilterGraph::RenderFile", false, 0, VFW_S_PARTIAL_RENDER});
    for (const testfaults::FaultLine& entry : testfaults::faultLines()) {
        bool reached = false;
        for (const Fault& f : faults)
            reached = reached || f.point == entry.point;
        EXPECT_TRUE(reached) << "the session never reaches " << entry.point;
    }

    int failed = 0;
    for (size_t i = 0; i < faults.size(); i++) {
        const Fault& fault = faults[i];
        Outcome outcome =
            inChild("sweep-" + std::to_string(i), [&fault] { return runSession(fault); });
        if (!outcome.report.empty()) {
            failed++;
            ADD_FAILURE() << fault.describe() << ":\n" << outcome.report;
        }
    }
    int points = 0;
    int nulls = 0;
    for (const Fault& f : faults) {
        points += !f.null && f.nth == 0 && f.hr == E_FAIL ? 1 : 0;
        nulls += f.null ? 1 : 0;
    }
    printf("fault sweep: %d points swept in %zu runs (%d with null handed out, %zu failing one "
           "call only or with a success code), %d failed\n",
           points, faults.size(), nulls, faults.size() - points - nulls, failed);
}

} // namespace
