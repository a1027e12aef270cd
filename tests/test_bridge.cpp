// The host bridge: settings read back from the host, the plug-in switches,
// and the natives' own work (frames into the staging buffer, load's
// strings, conversions).
#include "fake_jni.h"
#include "library_world.h"
#include "natives.h"
#include "plugin_log.h"

#include "src/log/host_path.h"
#include "src/log/loadtime.h"
#include "src/log/log.h"
#include "src/log/properties.h"
#include "src/player/player.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using testlog::logHas;
using testlog::pluginLogLines;

class Bridge : public LibraryWorld {
  protected:
    void openLog() { openLogs(env(), cls()); }
};

// ---- getProperty ----------------------------------------------------------

TEST_F(Bridge, ReadsASettingWithTheJniCallsInOrder) {
    openLog();
    jni.setProperty("tovix/output", "HDTV");
    jni.clearCalls();
    char out[128];
    memset(out, 'x', sizeof out);
    EXPECT_TRUE(getProperty(env(), cls(), "tovix/output", "TV", out, sizeof out));
    EXPECT_STREQ("HDTV", out);
    for (size_t i = 5; i < sizeof out; i++)
        ASSERT_EQ('\0', out[i]) << "the rest of the buffer is zero-filled";
    std::vector<std::string> expected = {
        "GetStaticMethodID getProperty", "NewStringUTF tovix/output", "NewStringUTF TV",
        "CallStaticObjectMethod",        "GetStringUTFChars HDTV",    "ReleaseStringUTFChars HDTV"};
    std::vector<std::string> seen;
    for (const std::string& call : jni.calls())
        if (call.rfind("Exception", 0) != 0 && call != "DeleteLocalRef")
            seen.push_back(call);
    EXPECT_EQ(expected, seen);
    EXPECT_EQ(0, jni.liveLocals());
    EXPECT_TRUE(logHas("hh:mm:ss - <getProperty>: About to call java getProepty with args: "
                       "'tovix/output', 'TV'"));
    EXPECT_TRUE(logHas("hh:mm:ss - <getProperty>: Got back: 'HDTV'"));
}

TEST_F(Bridge, LongValuesAreCutAndAlwaysTerminated) {
    openLog();
    char out[12];
    jni.setProperty("k", "abcdefghijk"); // 11 characters fit with the terminator
    getProperty(env(), cls(), "k", "d", out, sizeof out);
    EXPECT_STREQ("abcdefghijk", out);
    EXPECT_TRUE(logHas("hh:mm:ss - <getProperty>: Got back: 'abcdefghijk'"));
    jni.setProperty("k", "abcdefghijkl-and-more");
    getProperty(env(), cls(), "k", "d", out, sizeof out);
    EXPECT_STREQ("abcdefghijk", out);
    char one[1];
    getProperty(env(), cls(), "k", "d", one, sizeof one);
    EXPECT_EQ('\0', one[0]);
}

TEST_F(Bridge, MissingMethodNullAnswersAndExceptionsYieldTheDefault) {
    openLog();
    char out[32];
    jni.answerNullFor("nothing");
    EXPECT_TRUE(getProperty(env(), cls(), "nothing", "fallback", out, sizeof out));
    EXPECT_STREQ("fallback", out);

    jni.throwFor("throws");
    EXPECT_TRUE(getProperty(env(), cls(), "throws", "safe", out, sizeof out));
    EXPECT_STREQ("safe", out);
    EXPECT_FALSE(jni.exceptionPending());

    jni.setHasGetProperty(false);
    EXPECT_FALSE(getProperty(env(), cls(), "any", "def", out, sizeof out));
    EXPECT_STREQ("def", out);
    EXPECT_FALSE(jni.exceptionPending());
    EXPECT_TRUE(logHas("hh:mm:ss - <getProperty>: Could not find method!"));

    // A value whose characters the VM cannot hand over.
    jni.setHasGetProperty(true);
    jni.setProperty("unreadable", "value");
    jni.failCharsOf("value");
    EXPECT_TRUE(getProperty(env(), cls(), "unreadable", "def", out, sizeof out));
    EXPECT_STREQ("def", out);
    EXPECT_FALSE(jni.exceptionPending());

    // Reads after a failed one still reach the host.
    jni.setProperty("after", "works");
    getProperty(env(), cls(), "after", "def", out, sizeof out);
    EXPECT_STREQ("works", out);
}

// ---- configPlayer ---------------------------------------------------------

TEST_F(Bridge, SwitchesAcceptTrueAndYesInAnyCase) {
    openLog();
    for (const char* on : {"YES", "Yes", "TRUE", "yes", "tRuE"}) {
        jni.setProperty("tovix/scale_osd", on);
        configPlayer(env(), cls());
        EXPECT_TRUE(gScaleOSD) << on;
    }
    for (const char* off : {"1", "on", "true ", "", "yes!", "false"}) {
        jni.setProperty("tovix/scale_osd", off);
        configPlayer(env(), cls());
        EXPECT_FALSE(gScaleOSD) << "'" << off << "'";
    }
    jni.setProperty("tovix/stream_all_mpegs", "false");
    jni.setProperty("tovix/verbose_log", "Yes");
    configPlayer(env(), cls());
    EXPECT_FALSE(gStreamAllMpegs);
    EXPECT_TRUE(gVerboseLog);
    EXPECT_TRUE(logHas("hh:mm:ss - <configPlayer>: All mpegs WILL NOT be streamed from server."));
    EXPECT_TRUE(logHas("hh:mm:ss - <configPlayer>: Logging WILL be verbose."));
}

TEST_F(Bridge, WithoutTheHostMethodTheSwitchesTakeTheirDefaults) {
    openLog();
    jni.setHasGetProperty(false);
    gStreamAllMpegs = false;
    gScaleOSD = true;
    gVerboseLog = true;
    configPlayer(env(), cls());
    EXPECT_TRUE(gStreamAllMpegs);
    EXPECT_FALSE(gScaleOSD);
    EXPECT_FALSE(gVerboseLog);
    std::vector<std::string> expected = {
        "hh:mm:ss - <getProperty>: Could not find method!",
        "hh:mm:ss - <getProperty>: Could not find method!",
        "hh:mm:ss - <getProperty>: Could not find method!",
        "hh:mm:ss - <configPlayer>: All mpegs WILL be streamed from server.",
        "hh:mm:ss - <configPlayer>: OSD WILL NOT be scaled to fit display.",
        "hh:mm:ss - <configPlayer>: Logging WILL NOT be verbose."};
    EXPECT_EQ(expected, pluginLogLines());
}

// ---- openOSD --------------------------------------------------------------

TEST_F(Bridge, OpenOsdOpensTheLogOnceAndRereadsTheSwitches) {
    natives::openOSD(env(), cls());
    natives::openOSD(env(), cls());
    EXPECT_EQ(1, jni.propertyReads("version"));
    EXPECT_EQ(2, jni.propertyReads("tovix/scale_osd"));
    EXPECT_EQ(4, testlog::logCount(std::string(70, '#')));
    EXPECT_EQ(2, testlog::logCount("hh:mm:ss - <TOVIXAPI>: openOSD"));
    // A dozen reads in one call stay within the local references the JVM
    // promises a native.
    EXPECT_LE(jni.maxLiveLocals(), 4);
}

// ---- Natives before the log opens, and fixed answers ----------------------

TEST_F(Bridge, NativesBeforeOpenOsdWriteNothing) {
    EXPECT_EQ(nullptr, Java_org_quencommunity_tovix_TovixAPI_getFile(env(), cls()));
    EXPECT_EQ(JNI_FALSE, Java_org_quencommunity_tovix_TovixAPI_supportsRegionUpdates(env(), cls()));
    EXPECT_EQ(static_cast<jint>(0x80004005),
              Java_org_quencommunity_tovix_TovixAPI_frameStep(env(), cls(), 3));
    EXPECT_EQ(1500, Java_org_quencommunity_tovix_TovixAPI_seek(env(), cls(), 1500));
    EXPECT_EQ(-1, Java_org_quencommunity_tovix_TovixAPI_seek(env(), cls(), -1));
    jintArray pixels = jni.newIntArray(std::vector<jint>(4, 0));
    EXPECT_EQ(JNI_TRUE, natives::updateOSD(env(), cls(), pixels, 2, 2, 0, 0, 2, 2));
    Java_org_quencommunity_tovix_TovixAPI_closeOSD(env(), cls());
    EXPECT_TRUE(testlog::readPluginLog().empty());
}

TEST_F(Bridge, VerboseEntryLinesAndTheEmptyMuteLine) {
    jni.setProperty("tovix/verbose_log", "true");
    natives::openOSD(env(), cls());
    size_t before = pluginLogLines().size();
    Java_org_quencommunity_tovix_TovixAPI_getMute(env(), cls());
    Java_org_quencommunity_tovix_TovixAPI_supportsRegionUpdates(env(), cls());
    Java_org_quencommunity_tovix_TovixAPI_frameStep(env(), cls(), 1);
    Java_org_quencommunity_tovix_TovixAPI_getFile(env(), cls());
    Java_org_quencommunity_tovix_TovixAPI_setPlaybackRate(env(), cls(), 1.0f);
    std::vector<std::string> lines = pluginLogLines();
    ASSERT_GE(lines.size(), before + 2);
    EXPECT_EQ("hh:mm:ss - <TOVIXAPI>: ", lines[before]);
    EXPECT_EQ("hh:mm:ss - <TOVIXAPI>: supportsRegionUpdates", lines[before + 1]);
    // frameStep, getFile and setPlaybackRate write no line of their own.
    for (size_t i = before + 2; i < lines.size(); i++) {
        EXPECT_EQ(std::string::npos, lines[i].find("<TOVIXAPI>")) << lines[i];
    }
}

// ---- updateOSD ------------------------------------------------------------

TEST_F(Bridge, FramesFillTheStagingBufferSizedToTheFrame) {
    unsigned char* initial = gRgbBuffer;
    EXPECT_EQ(1382400, gRgbBufferSize);
    std::vector<jint> frame(720 * 480);
    for (size_t i = 0; i < frame.size(); i++)
        frame[i] = static_cast<jint>(i * 2654435761u);
    jintArray pixels = jni.newIntArray(frame);
    EXPECT_EQ(JNI_TRUE, natives::updateOSD(env(), cls(), pixels, 720, 480, 0, 0, 720, 480));
    EXPECT_EQ(initial, gRgbBuffer) << "a full-screen frame reuses the buffer made at load";
    EXPECT_EQ(0, memcmp(gRgbBuffer, frame.data(), 1382400));
    EXPECT_EQ((std::vector<std::string>{"GetArrayLength", "GetIntArrayElements",
                                        "ReleaseIntArrayElements mode=0"}),
              jni.calls());

    jintArray smaller = jni.newIntArray(std::vector<jint>(640 * 480, 7));
    EXPECT_EQ(JNI_TRUE, natives::updateOSD(env(), cls(), smaller, 640, 480, 10, 20, 650, 500));
    EXPECT_EQ(1228800, gRgbBufferSize);
    EXPECT_EQ(JNI_TRUE, natives::updateOSD(env(), cls(), pixels, 720, 480, 0, 0, 720, 480));
    EXPECT_EQ(1382400, gRgbBufferSize);

    jintArray empty = jni.newIntArray({});
    EXPECT_EQ(JNI_TRUE, natives::updateOSD(env(), cls(), empty, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(0, gRgbBufferSize);
}

TEST_F(Bridge, FramesThatDisagreeWithTheirRectangleAreDropped) {
    openLog();
    jintArray four = jni.newIntArray(std::vector<jint>(4, 1));
    unsigned char* before = gRgbBuffer;
    EXPECT_EQ(JNI_FALSE, natives::updateOSD(env(), cls(), four, 2, 2, 0, 0, 3, 2));
    EXPECT_EQ(JNI_FALSE, natives::updateOSD(env(), cls(), four, 4, 1, 0, 0, 2, 2));
    EXPECT_EQ(before, gRgbBuffer);
    EXPECT_EQ(1382400, gRgbBufferSize);
    std::vector<std::string> lines = pluginLogLines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("len == (updMaxX-updMinX) * (updMaxY-updMinY)"));
    EXPECT_NE(std::string::npos, lines[1].find("bitmapWidth == (updMaxX-updMinX)"));
    EXPECT_EQ(2u, jni.callsStartingWith("ReleaseIntArrayElements mode=0").size());
}

TEST_F(Bridge, NegativeAndOversizedFramesAreRefused) {
    openLog();
    // (1,1)-(0,0) makes a 1-pixel "frame" of -1 x -1.
    jintArray one = jni.newIntArray({5});
    EXPECT_EQ(JNI_FALSE, natives::updateOSD(env(), cls(), one, -1, -1, 1, 1, 0, 0));
    // 65536 x 0 would pass the area test but cannot be described by a block.
    jintArray empty = jni.newIntArray({});
    EXPECT_EQ(JNI_FALSE, natives::updateOSD(env(), cls(), empty, 65536, 0, 0, 0, 65536, 0));
    // Corners far apart must not overflow into a plausible size.
    EXPECT_EQ(JNI_FALSE, natives::updateOSD(env(), cls(), one, 1, 1, INT32_MIN, 0, INT32_MAX, 1));
    EXPECT_EQ(1382400, gRgbBufferSize);
    for (const std::string& line : pluginLogLines()) {
        EXPECT_NE(std::string::npos, line.find("not a valid OSD frame size")) << line;
    }
    EXPECT_EQ(3u, pluginLogLines().size());
}

TEST_F(Bridge, NullOrUnreadableArraysAreRefused) {
    openLog();
    EXPECT_EQ(JNI_FALSE, natives::updateOSD(env(), cls(), nullptr, 0, 0, 0, 0, 0, 0));
    jni.failArrayElements(true);
    jintArray four = jni.newIntArray(std::vector<jint>(4, 1));
    EXPECT_EQ(JNI_FALSE, natives::updateOSD(env(), cls(), four, 2, 2, 0, 0, 2, 2));
    EXPECT_EQ(2u, pluginLogLines().size());
}

// ---- load -----------------------------------------------------------------

TEST_F(Bridge, LoadLogsItsArgumentsAndGivesStringsBackInOrder) {
    openLog();
    jstring hint = jni.newString("video/mpeg");
    jstring file = jni.newString("/media/show.mpg");
    jstring host = jni.newString("server");
    jni.clearCalls();
    natives::load(env(), cls(), -97, 31, hint, file, host, true);
    EXPECT_TRUE(logHas("hh:mm:ss - <TOVIXAPI>: load shifted=true maj=-97 min=31 "
                       "hint='video/mpeg' file='/media/show.mpg' host='server'"));
    EXPECT_EQ((std::vector<std::string>{"ReleaseStringUTFChars /media/show.mpg",
                                        "ReleaseStringUTFChars server",
                                        "ReleaseStringUTFChars video/mpeg"}),
              jni.callsStartingWith("ReleaseStringUTFChars"));
    EXPECT_EQ(
        (std::vector<std::string>{"GetStringUTFChars video/mpeg",
                                  "GetStringUTFChars /media/show.mpg", "GetStringUTFChars server"}),
        jni.callsStartingWith("GetStringUTFChars"));
}

TEST_F(Bridge, LoadWithoutHostShowsNull) {
    openLog();
    jni.clearCalls();
    natives::load(env(), cls(), 1, 31, jni.newString("h"), jni.newString("f.mpg"), nullptr, false);
    EXPECT_TRUE(logHas("hh:mm:ss - <TOVIXAPI>: load shifted=false maj=1 min=31 hint='h' "
                       "file='f.mpg' host='NULL'"));
    EXPECT_EQ(2u, jni.callsStartingWith("ReleaseStringUTFChars").size());
}

TEST_F(Bridge, LoadRefusesNullStrings) {
    openLog();
    jni.clearCalls();
    natives::load(env(), cls(), 1, 31, nullptr, jni.newString("f.mpg"), nullptr, false);
    natives::load(env(), cls(), 1, 31, jni.newString("h"), nullptr, nullptr, false);
    EXPECT_TRUE(jni.calls().empty());
    EXPECT_EQ(2, testlog::logCount("hh:mm:ss - <TOVIXAPI>: load: precondition failed: "
                                   "encodingHint && jFileName; nothing loaded"));
    jni.failStringChars(true);
    natives::load(env(), cls(), 1, 31, jni.newString("h"), jni.newString("f"), nullptr, false);
    EXPECT_TRUE(logHas("hh:mm:ss - <TOVIXAPI>: load: could not read the file name or hint; "
                       "nothing loaded"));
}

TEST_F(Bridge, ALoadWhoseStringsCannotBeReadStopsAtTheFirst) {
    openLog();
    // The hint cannot be read: nothing more is asked of the VM, whose
    // OutOfMemoryError reaches the host.
    jni.failCharsOf("hint");
    jni.clearCalls();
    natives::load(env(), cls(), 2, 0, jni.newString("hint"), jni.newString("f.mpg"),
                  jni.newString("server"), false);
    EXPECT_EQ((std::vector<std::string>{"GetStringUTFChars hint"}),
              jni.callsStartingWith("GetStringUTFChars"));
    EXPECT_TRUE(jni.exceptionPending());
    jni.clearException();

    // The file name cannot be read: the hint is given back, the host's
    // name is not asked for.
    jni.failCharsOf("f.mpg");
    jni.clearCalls();
    natives::load(env(), cls(), 2, 0, jni.newString("h"), jni.newString("f.mpg"),
                  jni.newString("server"), false);
    EXPECT_EQ((std::vector<std::string>{"GetStringUTFChars h", "GetStringUTFChars f.mpg"}),
              jni.callsStartingWith("GetStringUTFChars"));
    EXPECT_EQ((std::vector<std::string>{"ReleaseStringUTFChars h"}),
              jni.callsStartingWith("ReleaseStringUTFChars"));
    EXPECT_EQ(2, testlog::logCount("hh:mm:ss - <TOVIXAPI>: load: could not read the file name or "
                                   "hint; nothing loaded"));
    jni.clearException();

    // The host's name cannot be read: the load ends there too, the two
    // strings taken are given back and the error stays for the host.
    jni.failCharsOf("server");
    jni.clearCalls();
    natives::load(env(), cls(), 2, 0, jni.newString("h"), jni.newString("g.mpg"),
                  jni.newString("server"), false);
    EXPECT_EQ((std::vector<std::string>{"GetStringUTFChars h", "GetStringUTFChars g.mpg",
                                        "GetStringUTFChars server", "ReleaseStringUTFChars g.mpg",
                                        "ReleaseStringUTFChars h"}),
              jni.calls())
        << "no other JNI call, the exception is not cleared";
    EXPECT_TRUE(jni.exceptionPending());
    EXPECT_TRUE(
        logHas("hh:mm:ss - <TOVIXAPI>: load: could not read the host name; nothing loaded"));
    EXPECT_FALSE(testlog::logHasStart("hh:mm:ss - <TOVIXAPI>: load shifted="));
    EXPECT_FALSE(gPlayerInitialized) << "nothing loaded";
    jni.clearException();
}

// ---- Host paths -----------------------------------------------------------

TEST(HostPath, ModifiedUtf8BecomesUtf16) {
    WCHAR wide[16];
    // é, 日, then U+1F3AC sent as two 3-byte surrogate halves, then U+0000
    // as C0 80 (which ends nothing).
    const char* path = "\xC3\xA9\xE6\x97\xA5\xED\xA0\xBC\xED\xBE\xAC\xC0\x80z";
    ASSERT_EQ(6, hostPathToWide(path, wide, 16));
    EXPECT_EQ(0xE9, wide[0]);
    EXPECT_EQ(0x65E5, wide[1]);
    EXPECT_EQ(0xD83C, wide[2]);
    EXPECT_EQ(0xDFAC, wide[3]);
    EXPECT_EQ(0, wide[4]);
    EXPECT_EQ(L'z', wide[5]);
    EXPECT_EQ(0, wide[6]);
    // Standard 4-byte UTF-8 gives the same pair.
    ASSERT_EQ(2, hostPathToWide("\xF0\x9F\x8E\xAC", wide, 16));
    EXPECT_EQ(0xD83C, wide[0]);
    // Broken bytes become U+FFFD instead of being skipped or read past.
    ASSERT_EQ(2, hostPathToWide("\xE6\x97", wide, 16));
    EXPECT_EQ(0xFFFD, wide[0]);
}

TEST(HostPath, APathMustFitWithItsTerminator) {
    WCHAR wide[260];
    std::string fits(259, 'a');
    EXPECT_EQ(259, hostPathToWide(fits.c_str(), wide, 260));
    std::string tooLong(260, 'a');
    EXPECT_EQ(-1, hostPathToWide(tooLong.c_str(), wide, 260));
    std::string wideTooLong(129, 'a');
    for (int i = 0; i < 65; i++)
        wideTooLong += "\xF0\x9F\x8E\xAC"; // 129 + 130 units = 259: fits
    EXPECT_EQ(259, hostPathToWide(wideTooLong.c_str(), wide, 260));
    wideTooLong += "b";
    EXPECT_EQ(-1, hostPathToWide(wideTooLong.c_str(), wide, 260));
}

} // namespace
