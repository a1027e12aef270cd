// The whole host session once, as a plain program for valgrind's memory
// checker: every byte the library reads must be initialised, every block it
// frees must be its own, and nothing may be lost at exit. Also checks the
// world's ledger at each stage, so a run outside valgrind is a small
// end-to-end test of its own.
#include "fake_jni.h"
#include "session.h"

#include "sim/control.h"
#include "sim/control_card.h"
#include "sim/control_graph.h"

#include <cstdio>
#include <string>

int main() {
    simctl::reset();
    simcard::reset();
    simctl::setManualClock(true);
    if (!session::writeMedia()) {
        fprintf(stderr, "cannot write the session's media\n");
        return 2;
    }
    int problems = 0;
    {
        fakejni::FakeJni jni;
        session::applySettings(jni);
        session::run(jni, [&](session::Stage stage) {
            std::string left;
            if (stage == session::Stage::AfterPushFree || stage == session::Stage::AfterRenderFree)
                left = session::leftAfterFree();
            else if (stage == session::Stage::AfterClose)
                left = session::leftAfterClose();
            if (!left.empty()) {
                fprintf(stderr, "%s:\n%s", session::stageName(stage), left.c_str());
                problems++;
            }
        });
        if (jni.outstanding() != 0 || !jni.violations().empty()) {
            fprintf(stderr, "JNI: %d not given back, %zu misuses\n", jni.outstanding(),
                    jni.violations().size());
            problems++;
        }
    }
    if (simcard::blocksShown() == 0) {
        fprintf(stderr, "no OSD block reached the card\n");
        problems++;
    }
    printf("valgrind session: %d stage checks failed\n", problems);
    return problems == 0 ? 0 : 1;
}
