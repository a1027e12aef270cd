// tovixdiag: for a user whose card shows nothing. Checks that each of the
// card's components is registered and answers its interfaces, shows a test
// pattern on the OSD, plays a short MPEG clip it writes itself, closes it
// all, and prints a table of the checks with the reason for each failure,
// taken from the plug-in log where it gives one. Exits 1 when a check
// failed.
//
// Usage: tovixdiag [--pattern-seconds N] [--library FOLDER]
#include "components.h"
#include "plugin_log.h"
#include "report.h"
#include "session.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: tovixdiag [--pattern-seconds N] [--library FOLDER]\n"
    "  --pattern-seconds N  how long the test pattern stays on the TV (default 5)\n"
    "  --library FOLDER     where TovixAPI.dll is (default: beside tovixdiag.exe)\n";

std::string ownFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash)
        *slash = '\0';
    return path;
}

} // namespace

int main(int argc, char** argv) {
    diag::SessionOptions options;
    options.libraryFolder = ownFolder();
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--pattern-seconds" && i + 1 < argc) {
            options.patternSeconds = atoi(argv[++i]);
        } else if (arg == "--library" && i + 1 < argc) {
            options.libraryFolder = argv[++i];
        } else {
            fputs(kUsage, arg == "--help" ? stdout : stderr);
            return arg == "--help" ? 0 : 2;
        }
    }

    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof folder, folder);
    printf("tovixdiag %s: checks the decoder card and TovixAPI.dll\n", TOVIX_VERSION);
    printf("The plug-in log and the graph log are written to %s\\%s and dshow_log.txt\n", folder,
           diag::PluginLog().path().c_str());
    fflush(stdout);

    CoInitialize(nullptr);
    diag::Report report;
    diag::checkComponents(report);
    diag::checkSession(report, options);
    CoUninitialize();

    report.print();
    return report.failed() ? 1 : 0;
}
