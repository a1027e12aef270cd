#include "session.h"

#include "plugin_log.h"

#include "fake_jni.h"
#include "loaded_natives.h"
#include "stream_writer.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace diag {

namespace {

const int kOpenedState = 1;
const int kEndedState = 5;
const int kWidth = 720;
const int kHeight = 480;
const double kClipSeconds = 2.0;

struct Session {
    SessionNatives n{};
    fakejni::FakeJni jni;
    PluginLog log;
    JNIEnv* env = nullptr;
    jclass cls = nullptr;
};

// A failed check's reason: what the diagnostic saw, then the plug-in log's
// line that explains it.
std::string because(const std::string& seen, const std::vector<std::string>& lines) {
    std::string line = failureLine(lines);
    return seen + (line.empty() ? " (the plug-in log gives no reason)" : "; plug-in log: " + line);
}

std::string moduleVersion(const std::string& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> data(size ? size : 1);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return "";
    char text[32];
    snprintf(text, sizeof text, "%u.%u.%u", static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
             static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
             static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)));
    return text;
}

// Colour bars over the top two thirds, a grey ramp below, and a white frame
// at the screen's edge that shows how much of the OSD the TV crops.
std::vector<jint> testPattern() {
    static const unsigned kBars[] = {0xFFBFBFBF, 0xFFBFBF00, 0xFF00BFBF, 0xFF00BF00,
                                     0xFFBF00BF, 0xFFBF0000, 0xFF0000BF};
    std::vector<jint> pixels(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; y++) {
        for (int x = 0; x < kWidth; x++) {
            unsigned colour;
            if (x < 4 || y < 4 || x >= kWidth - 4 || y >= kHeight - 4)
                colour = 0xFFFFFFFF;
            else if (y < kHeight * 2 / 3)
                colour = kBars[x * 7 / kWidth];
            else {
                unsigned level = static_cast<unsigned>(x * 255 / (kWidth - 1));
                colour = 0xFF000000u | level << 16 | level << 8 | level;
            }
            pixels[static_cast<size_t>(y) * kWidth + x] = static_cast<jint>(colour);
        }
    }
    return pixels;
}

bool waitForState(Session& s, int state, int limitMs) {
    for (int waited = 0; waited <= limitMs; waited += 50) {
        if (s.n.getState(s.env, s.cls) == state)
            return true;
        Sleep(50);
    }
    return false;
}

// Opens the OSD with the given stream_all_mpegs switch; false with the
// reason when openOSD answers false.
bool openOsd(Session& s, const char* streamAll, std::string* reason) {
    s.jni.setProperty("tovix/stream_all_mpegs", streamAll);
    s.log.newLines();
    if (s.n.openOSD(s.env, s.cls) == JNI_TRUE)
        return true;
    *reason = because("openOSD answered false", s.log.newLines());
    return false;
}

void checkPattern(Session& s, Report& report, const SessionOptions& options,
                  const std::string& libraryVersion) {
    const char* check = "OSD test pattern";
    std::string reason;
    if (!openOsd(s, "true", &reason)) {
        report.fail(check, reason);
        return;
    }
    std::vector<jint> pattern = testPattern();
    int refused = 0;
    int seconds = options.patternSeconds > 0 ? options.patternSeconds : 1;
    printf("Showing colour bars on the TV for %d s...\n", seconds);
    fflush(stdout);
    for (int second = 0; second < seconds; second++) {
        jintArray pixels = s.jni.newIntArray(pattern);
        if (s.n.updateOSD(s.env, s.cls, pixels, kWidth, kHeight, 0, 0, kWidth, kHeight, 0, 0) !=
            JNI_TRUE)
            refused++;
        Sleep(1000);
    }
    std::vector<std::string> lines = s.log.newLines();
    std::string banner = s.log.bannerVersion();
    if (refused)
        report.fail(check, because("updateOSD refused " + std::to_string(refused) + " of " +
                                       std::to_string(seconds) + " frames",
                                   lines));
    else if (banner != libraryVersion)
        report.fail(check, "the plug-in log's banner names version '" + banner +
                               "', the DLL's version resource '" + libraryVersion + "'");
    else
        report.pass(check, std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                               " colour bars with a white frame shown for " +
                               std::to_string(seconds) + " s");
}

// Loads the clip, plays it to its end and frees the player.
void checkPlayback(Session& s, Report& report, const char* check, const std::string& clip) {
    s.log.newLines();
    s.n.load(s.env, s.cls, 1, 31, s.jni.newString("video/mpeg"), s.jni.newString(clip),
             s.jni.newString("localhost"), JNI_FALSE, 0);
    std::string seen;
    jlong duration = 0;
    DWORD took = 0;
    int state = s.n.getState(s.env, s.cls);
    if (state != kOpenedState) {
        seen = "after load the player's state is " + std::to_string(state) + ", not opened";
    } else {
        duration = s.n.getDurationMillis(s.env, s.cls);
        DWORD start = GetTickCount();
        if (s.n.play(s.env, s.cls) != JNI_TRUE)
            seen = "play answered false";
        else if (!waitForState(s, kEndedState, static_cast<int>(kClipSeconds * 1000) + 5000))
            seen = "the clip did not play to its end within " +
                   std::to_string(static_cast<int>(kClipSeconds) + 5) + " s (position " +
                   std::to_string(s.n.getMediaTimeMillis(s.env, s.cls)) + " ms)";
        took = GetTickCount() - start;
    }
    s.n.free(s.env, s.cls);
    std::vector<std::string> lines = s.log.newLines();
    if (!seen.empty()) {
        report.fail(check, because(seen, lines));
        return;
    }
    char text[160];
    snprintf(text, sizeof text,
             "a %.1f s MPEG-2 clip (duration %ld ms) played to its end in %.1f s", kClipSeconds,
             static_cast<long>(duration), took / 1000.0);
    report.pass(check, text);
}

void checkClose(Session& s, Report& report) {
    s.log.newLines();
    s.n.closeOSD(s.env, s.cls);
    std::vector<std::string> lines = s.log.newLines();
    const std::string released = "<releaseDecoderFilter>: Decoder filter released with ";
    std::string left;
    for (const std::string& line : lines)
        if (line.compare(0, released.size(), released) == 0)
            left = line.substr(released.size());
    if (s.jni.outstanding() != 0)
        report.fail("close", std::to_string(s.jni.outstanding()) +
                                 " strings or arrays were not given back to the host");
    else if (!s.jni.violations().empty())
        report.fail("close", "the library misused the host's JNI: " + s.jni.violations()[0]);
    else if (!left.empty() && left.compare(0, 2, "0 ") != 0)
        report.fail("close", "the decoder filter was released with " + left);
    else
        report.pass("close", "OSD closed, player freed, every string and array given back" +
                                 std::string(left.empty() ? "" : ", decoder released"));
}

} // namespace

void checkSession(Report& report, const SessionOptions& options) {
    Session s;
    std::string error;
    if (!loadSessionNatives(options.libraryFolder, &s.n, &error)) {
        report.fail("TovixAPI.dll", error);
        for (const char* check :
             {"OSD test pattern", "push graph playback", "rendered graph playback", "close"})
            report.add(check, Outcome::NotRun, "TovixAPI.dll did not load");
        return;
    }
    char path[MAX_PATH] = "";
    GetModuleFileNameA(GetModuleHandleA("TovixAPI.dll"), path, sizeof path);
    std::string version = moduleVersion(path);
    report.pass("TovixAPI.dll", std::string(path) + ", version " + version);

    s.env = s.jni.env();
    s.cls = s.jni.hostClass();
    s.jni.setProperty("version", "tovixdiag");
    s.jni.setProperty("wizard/widget_db_file", "tovixdiag");
    checkPattern(s, report, options, version);

    char folder[MAX_PATH] = "";
    GetTempPathA(sizeof folder, folder);
    std::string clip = std::string(folder) + "tovixdiag_clip.mpg";
    streamwriter::StreamSpec shape;
    shape.seconds = kClipSeconds;
    if (!streamwriter::writeProgramStream(clip, shape)) {
        report.fail("push graph playback", "cannot write the clip " + clip);
        checkClose(s, report);
        return;
    }
    checkPlayback(s, report, "push graph playback", clip);
    // The rendered graph, which the graph manager builds with RenderFile:
    // openOSD reads stream_all_mpegs off, whether the OSD opens or not (the
    // test pattern's row has told that already).
    std::string ignored;
    s.n.closeOSD(s.env, s.cls);
    openOsd(s, "false", &ignored);
    checkPlayback(s, report, "rendered graph playback", clip);
    checkClose(s, report);
    DeleteFileA(clip.c_str());
}

} // namespace diag
