#include "report.h"

#include <windows.h>

#include <cstdio>

namespace diag {

namespace {

const char* outcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Pass:
        return "pass";
    case Outcome::Fail:
        return "FAIL";
    case Outcome::NotRun:
        return "not run";
    }
    return "?";
}

} // namespace

bool Report::failed() const {
    for (const Row& row : rows_)
        if (row.outcome == Outcome::Fail)
            return true;
    return false;
}

void Report::print() const {
    size_t width = 5;
    for (const Row& row : rows_)
        width = row.check.size() > width ? row.check.size() : width;
    int w = static_cast<int>(width);
    printf("\n%-*s  %-7s  %s\n", w, "check", "result", "reason");
    printf("%s  %s  %s\n", std::string(width, '-').c_str(), "-------", "------");
    for (const Row& row : rows_)
        printf("%-*s  %-7s  %s\n", w, row.check.c_str(), outcomeText(row.outcome),
               row.reason.c_str());
    int failures = 0;
    for (const Row& row : rows_)
        failures += row.outcome == Outcome::Fail;
    printf("\n%s\n", failures ? "Some checks FAILED: the reasons above come from the plug-in log "
                                "where it gave one."
                              : "All checks that ran passed.");
    fflush(stdout);
}

std::string resultText(long hr) {
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(hr), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'))
        text[--n] = '\0';
    return n ? std::string(code) + " (" + text + ")" : std::string(code);
}

} // namespace diag
