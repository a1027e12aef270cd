// The plug-in log: banner, line formats, verbose gating, lines before the
// log opens, and lines that would not fit.
#include "fake_jni.h"
#include "library_world.h"
#include "natives.h"
#include "plugin_log.h"

#include "sim/control.h"
#include "src/log/log.h"
#include "src/log/properties.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testlog::logHas;
using testlog::pluginLogLines;
using testlog::readPluginLog;

const SYSTEMTIME kNoon = {2026, 12, 1, 7, 12, 15, 0, 0};

class PluginLog : public LibraryWorld {
  protected:
    void SetUp() override {
        LibraryWorld::SetUp();
        simctl::setLocalTime(&kNoon);
    }
    void open() { openLogs(jni.env(), jni.hostClass()); }
};

TEST_F(PluginLog, BannerNamesPluginHostAndUiFile) {
    jni.setProperty("version", "4.1.7");
    jni.setProperty("wizard/widget_db_file",
                    "C:\\Program Files\\Vond Technologies\\QuenTV\\QTVs\\Themes\\Big.xml");
    open();
    std::vector<std::string> lines = readPluginLog();
    ASSERT_GE(lines.size(), 13u);
    std::string hashes(70, '#');
    std::string blank = "###" + std::string(64, ' ') + "###";
    EXPECT_EQ(hashes, lines[0]);
    EXPECT_EQ(hashes, lines[1]);
    EXPECT_EQ(blank, lines[2]);
    EXPECT_EQ("", lines[3]);
    EXPECT_EQ("###  Tovix Version: 0.0.9                 help@tovix.quencomm.org  ###", lines[4]);
    EXPECT_EQ("###  Quen Version: 4.1.7" + std::string(43, ' ') + "###", lines[5]);
    EXPECT_EQ("###  QTV: Themes\\Big.xml" + std::string(43, ' ') + "###", lines[6]);
    EXPECT_EQ(blank, lines[7]);
    EXPECT_EQ("###  Log file created at hh:mm:ss on 12/07/2026                    ###", lines[8]);
    EXPECT_EQ(blank, lines[9]);
    EXPECT_EQ(hashes, lines[10]);
    EXPECT_EQ(hashes, lines[11]);
    EXPECT_EQ("", lines[12]);
    for (int i = 0; i < 12; i++) {
        if (i != 3) {
            EXPECT_EQ(70u, lines[i].size()) << "banner line " << i + 1;
        }
    }
    // The reads made while the log was still closed left no lines.
    EXPECT_EQ(13u, lines.size());
}

TEST_F(PluginLog, UiFileOutsideTheHostsFolderIsShownWhole) {
    std::string qtv = "D:\\program files\\Vond Technologies\\QuenTV\\QTVs\\Themes\\Big\\Big.xml";
    jni.setProperty("wizard/widget_db_file", qtv);
    jni.setProperty("version", std::string(60, 'v'));
    open();
    std::vector<std::string> lines = readPluginLog();
    ASSERT_GE(lines.size(), 13u);
    // Cut to 63 characters, and the version's line grows past 70.
    EXPECT_EQ("###  QTV: " + qtv.substr(0, 63) + "###", lines[6]);
    EXPECT_GT(qtv.size(), 63u);
    EXPECT_EQ("###  Quen Version: " + std::string(60, 'v') + "###", lines[5]);
}

TEST_F(PluginLog, DefaultsShowWhenTheHostHasNoSettings) {
    jni.setHasGetProperty(false);
    open();
    std::vector<std::string> lines = readPluginLog();
    ASSERT_GE(lines.size(), 13u);
    EXPECT_EQ("###  Quen Version: [unknown version]" + std::string(31, ' ') + "###", lines[5]);
    EXPECT_EQ("###  QTV: [unknown qtv]" + std::string(44, ' ') + "###", lines[6]);
    EXPECT_TRUE(jni.violations().empty());
}

TEST_F(PluginLog, LinesBeforeTheLogOpensAreDropped) {
    logMessage("early", "not kept");
    logError(E_FAIL, "early", "not kept either");
    open();
    logMessage("later", "kept %d", 1);
    std::vector<std::string> lines = pluginLogLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("hh:mm:ss - <later>: kept 1", lines[0]);
}

TEST_F(PluginLog, LineFormats) {
    open();
    logMessage("TOVIXAPI", "openOSD");
    logError(E_FAIL, "buildGraph", "Cannot create decoder filter!!!");
    logError(static_cast<HRESULT>(0x80041234), "tag", "no text for %s", "this");
    logMessage("tag", "ends in a line feed\n");
    std::vector<std::string> lines = pluginLogLines();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("hh:mm:ss - <TOVIXAPI>: openOSD", lines[0]);
    EXPECT_EQ("hh:mm:ss - <buildGraph>: Cannot create decoder filter!!! (ERROR: 80004005/"
              "Unspecified error.)",
              lines[1]);
    EXPECT_EQ("hh:mm:ss - <tag>: no text for this (ERROR: 80041234/Unknown Error)", lines[2]);
    EXPECT_EQ("hh:mm:ss - <tag>: ends in a line feed", lines[3]);
    EXPECT_EQ("", lines[4]);
}

TEST_F(PluginLog, VerboseLinesOnlyWhileTheSwitchIsOn) {
    open();
    gVerboseLog = false;
    logVerbose("tag", "hidden");
    logMessage("tag", "shown");
    gVerboseLog = true;
    logVerbose("tag", "verbose %s", "now");
    std::vector<std::string> lines = pluginLogLines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("hh:mm:ss - <tag>: shown", lines[0]);
    EXPECT_EQ("hh:mm:ss - <tag>: verbose now", lines[1]);
}

TEST_F(PluginLog, TagAndErrorTextAreWrittenLiterally) {
    open();
    logMessage("100%s%n", "value %d", 7);
    std::vector<std::string> lines = pluginLogLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("hh:mm:ss - <100%s%n>: value 7", lines[0]);
}

TEST_F(PluginLog, OverlongLinesAreCutNotOverrun) {
    open();
    std::string format(3000, 'f');
    format += "%d";
    logMessage("tag", "%s", format.c_str()); // an argument is not limited
    logMessage("tag", format.c_str(), 5);    // a format is cut to the buffer
    std::string almost(2026, 'x');
    almost += "%0123d"; // the cut falls inside this conversion
    logMessage("tag", almost.c_str(), 1);
    std::vector<std::string> lines = pluginLogLines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("hh:mm:ss - <tag>: " + format, lines[0]);
    EXPECT_EQ(2046u, lines[1].size());
    EXPECT_EQ("hh:mm:ss - <tag>: " + std::string(2046 - 18, 'f'), lines[1]);
    EXPECT_EQ("hh:mm:ss - <tag>: " + std::string(2026, 'x'), lines[2]);
}

TEST_F(PluginLog, OpenedOnceWithTheGraphLog) {
    open();
    ASSERT_NE(nullptr, gLogFile);
    ASSERT_NE(nullptr, gGraphLog);
    FILE* log = gLogFile;
    HANDLE graphLog = gGraphLog;
    EXPECT_EQ(0, access("dshow_log.txt", F_OK));
    open();
    EXPECT_EQ(log, gLogFile);
    EXPECT_EQ(graphLog, gGraphLog);
    EXPECT_EQ(1, jni.propertyReads("version"));
    EXPECT_EQ(13u, readPluginLog().size());
}

TEST_F(PluginLog, FailuresToOpenAreRetriedNextTime) {
    std::string name = "tovix_log_" + std::to_string(getpid()) + ".txt";
    ASSERT_EQ(0, mkdir(name.c_str(), 0755)); // cannot be opened as a file
    simctl::armFault("CreateFileA", E_FAIL, 1);
    open();
    EXPECT_EQ(nullptr, gLogFile);
    EXPECT_EQ(nullptr, gGraphLog);
    rmdir(name.c_str());
    open();
    EXPECT_NE(nullptr, gLogFile);
    EXPECT_NE(nullptr, gGraphLog);
    EXPECT_EQ(2, jni.propertyReads("version"));
}

// A host JVM on Linux sets the user's locale for the whole process; the log
// still writes its numbers with a decimal point. Checked where a locale
// with a decimal comma is installed (LOCPATH may name one).
TEST_F(PluginLog, NumbersKeepTheirDecimalPointInTheHostsLocale) {
    const char* commaLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
    const char* set = nullptr;
    for (const char* name : commaLocales)
        if ((set = setlocale(LC_ALL, name)) != nullptr)
            break;
    if (!set)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    open();
    logMessage("test", "level=%.3f", 0.5);
    setlocale(LC_ALL, "C");
    EXPECT_TRUE(logHas("hh:mm:ss - <test>: level=0.500"));
}

} // namespace
