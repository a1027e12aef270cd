package org.quencommunity.tovix;

import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.List;
import org.quencommunity.tovix.sim.SimControl;

/**
 * Every native of the host class, called from a real JVM with no media
 * loaded, with its answer and the plug-in log checked. Run with
 * -Xcheck:jni; the runner fails the test on any JNI warning.
 */
public final class NativesTest {
    private static final String TAG = "TOVIXAPI";
    private static final int E_FAIL = 0x80004005;

    private NativesTest() {}

    public static void main(String[] args) {
        Checks c = new Checks("NativesTest");
        TovixAPI.clearProperties();
        TovixAPI.setProperty("version", "natives test 1.0");
        TovixAPI.setProperty("wizard/widget_db_file",
                             "D:\\Program Files\\Vond Technologies\\QuenTV\\QTVs\\Themes\\Big.xml");
        TovixAPI.setProperty("tovix/stream_all_mpegs", "TRUE");
        TovixAPI.setProperty("tovix/scale_osd", "on");
        TovixAPI.setProperty("tovix/verbose_log", "Yes");
        System.loadLibrary("TovixAPI");

        beforeTheFirstOpen(c);
        boolean opened = openingWritesBannerAndSettings(c);
        osdFrames(c);
        playerWithoutMedia(c);
        audioAndCaptions(c);
        reopeningRereadsSwitchesOnly(c, opened);
        closing(c);
        c.finish();
    }

    /** Natives called before openOSD answer as usual and write nowhere. */
    private static void beforeTheFirstOpen(Checks c) {
        c.equal("getState before openOSD", 0, TovixAPI.getState());
        c.equal("getVideoWidth before openOSD", 720, TovixAPI.getVideoWidth());
        c.that("play before openOSD answers false", !TovixAPI.play());
        c.that("no plug-in log before openOSD", !Files.exists(Checks.pluginLog()));
    }

    private static boolean openingWritesBannerAndSettings(Checks c) {
        boolean opened = TovixAPI.openOSD();
        List<String> log = Checks.maskedLog();
        c.that("the plug-in log exists after openOSD", !log.isEmpty());
        c.that("the graph log exists after openOSD", Files.exists(Paths.get("dshow_log.txt")));
        String hashes = "#".repeat(70);
        String blank = "###"
                       + " ".repeat(64) + "###";
        List<String> banner =
            List.of(hashes, hashes, blank, "",
                    "###  Tovix Version: 0.0.9                 help@tovix.quencomm.org  ###",
                    String.format("###  Quen Version: %-48s###", "natives test 1.0"),
                    String.format("###  QTV: %-57s###", "Themes\\Big.xml"), blank,
                    "###  Log file created at HH:MM:SS on MM/DD/YYYY                    ###", blank,
                    hashes, hashes, "");
        if (c.that("the log holds the banner", log.size() > banner.size(), log.size() + " lines")) {
            for (int i = 0; i < banner.size(); i++) {
                c.equal("banner line " + (i + 1), banner.get(i), log.get(i));
            }
            // Lines logged before the log opened (the two banner settings,
            // the natives called above) are dropped, not held back.
            c.equal("the first line after the banner", Checks.line(TAG, "openOSD"),
                    log.get(banner.size()));
        }
        String[][] switches = {
            {"tovix/stream_all_mpegs", "true", "TRUE"},
            {"tovix/scale_osd", "false", "on"},
            {"tovix/verbose_log", "false", "Yes"},
        };
        for (String[] s : switches) {
            c.equal("switch " + s[0] + " asked for", 1,
                    Checks.count(log, Checks.line("getProperty",
                                                  "About to call java getProepty with args: '" +
                                                      s[0] + "', '" + s[1] + "'")));
            c.equal("switch " + s[0] + " answered", 1,
                    Checks.count(log, Checks.line("getProperty", "Got back: '" + s[2] + "'")));
        }
        c.equal("stream switch", 1,
                Checks.count(
                    log, Checks.line("configPlayer", "All mpegs WILL be streamed from server.")));
        c.equal("scale switch", 1,
                Checks.count(
                    log, Checks.line("configPlayer", "OSD WILL NOT be scaled to fit display.")));
        c.equal("verbose switch", 1,
                Checks.count(log, Checks.line("configPlayer", "Logging WILL be verbose.")));
        c.that("openOSD answers true on the simulated card", opened);
        c.that("the opened OSD is named in the log",
               log.stream().anyMatch(
                   l -> l.startsWith(Checks.line("setupTovixOsd", "Found OSD for Tovix: "))));
        c.equal("the output settings are read once, in order",
                List.of("tovix/output", "tovix/standard", "tovix/connector", "tovix/audio",
                        "tovix/hdmode", "tovix/vgamode", "tovix/aspect"),
                log.stream()
                    .filter(l -> l.contains("About to call java getProepty with args: 'tovix/"))
                    .map(l -> l.replaceAll(".*args: '([^']*)'.*", "$1"))
                    .filter(key -> !key.contains("_"))
                    .toList());
        return opened;
    }

    private static void osdFrames(Checks c) {
        c.that("supportsRegionUpdates answers false", !TovixAPI.supportsRegionUpdates());
        int[] frame = new int[720 * 480];
        java.util.Arrays.fill(frame, 0x80336699);
        c.that("a full 720x480 frame is taken",
               TovixAPI.updateOSD(frame, 720, 480, 0, 0, 720, 480, 0L, 0L));
        c.that("an empty frame with a zero-area rectangle is taken",
               TovixAPI.updateOSD(new int[0], 0, 0, 0, 0, 0, 0, 0L, 0L));
        c.that("an array shorter than its rectangle is refused",
               !TovixAPI.updateOSD(new int[10], 4, 4, 0, 0, 4, 4, 0L, 0L));
        c.that("a rectangle with negative sides is refused",
               !TovixAPI.updateOSD(new int[1], -1, -1, 1, 1, 0, 0, 0L, 0L));
        c.that("a bitmap size that differs from the rectangle is refused",
               !TovixAPI.updateOSD(new int[12], 4, 3, 0, 0, 3, 4, 0L, 0L));
        List<String> log = Checks.maskedLog();
        c.equal("supportsRegionUpdates writes a verbose line", 1,
                Checks.count(log, Checks.line(TAG, "supportsRegionUpdates")));
        c.equal("every updateOSD writes a verbose line", 5,
                Checks.count(log, Checks.line(TAG, "updateOSD")));
        c.equal(
            "the full frame reaches the OSD connection", 1,
            Checks.count(log, Checks.line("processOsdImage",
                                          "Processing osd image with width=720 and height=480")));
        c.equal("the empty frame reaches the OSD connection", 1,
                Checks.count(log, Checks.line("processOsdImage",
                                              "Processing osd image with width=0 and height=0")));

        c.equal("the three broken frames are reported", 3L,
                log.stream().filter(l -> l.contains("frame dropped")).count());
    }

    private static void playerWithoutMedia(Checks c) {
        c.equal("getFile answers null", null, TovixAPI.getFile());
        String path = "/no/such/folder/café φ.mpg";
        TovixAPI.load((byte)-97, (byte)31, "MPEG2", path, null, false, 0L);
        TovixAPI.load((byte)1, (byte)31, "MPEG2", path, "mediaserver", true, 0L);
        TovixAPI.free();
        c.equal("inactiveFile without a shared source", 0, TovixAPI.inactiveFile());
        c.that("play without a graph answers false", !TovixAPI.play());
        c.that("pause without a graph answers false", !TovixAPI.pause());
        c.that("stop without a graph answers false", !TovixAPI.stop());
        c.equal("frameStep answers E_FAIL", E_FAIL, TovixAPI.frameStep(3));
        c.equal("getState with no file opened", 0, TovixAPI.getState());
        c.equal("getDurationMillis without a graph", 0L, TovixAPI.getDurationMillis());
        c.equal("getMediaTimeMillis without a graph", 0L, TovixAPI.getMediaTimeMillis());
        c.equal("getPlaybackRate without a graph", 0.0f, TovixAPI.getPlaybackRate());
        c.equal("setPlaybackRate without a graph", 0.0f, TovixAPI.setPlaybackRate(1.5f));
        c.equal("seek answers its millis", 1500L, TovixAPI.seek(1500L));
        c.equal("seek answers negative millis unchanged", -1L, TovixAPI.seek(-1L));
        TovixAPI.setVideoRectangles(10, 20, 640, 360);
        c.equal("getVideoWidth without a graph", 720, TovixAPI.getVideoWidth());
        c.equal("getVideoHeight without a graph", 480, TovixAPI.getVideoHeight());

        List<String> log = Checks.maskedLog();
        c.equal("load with a null host and a negative byte", 1,
                Checks.count(
                    log, Checks.line(TAG, "load shifted=false maj=-97 min=31 hint='MPEG2' file='" +
                                              path + "' host='NULL'")));
        c.equal("time-shifted load with a host", 1,
                Checks.count(log,
                             Checks.line(TAG, "load shifted=true maj=1 min=31 hint='MPEG2' file='" +
                                                  path + "' host='mediaserver'")));
        for (String always :
             new String[] {"free", "inactiveFile", "play", "pause", "stop", "seek"}) {
            c.that("'" + always + "' is logged", Checks.count(log, Checks.line(TAG, always)) >= 1);
        }
        c.equal("seek is logged once per call", 2, Checks.count(log, Checks.line(TAG, "seek")));
        for (String silent : new String[] {"getFile", "frameStep", "setPlaybackRate"}) {
            c.that("'" + silent + "' writes no line of its own",
                   log.stream().noneMatch(l -> l.endsWith("<" + TAG + ">: " + silent)));
        }
        for (String verbose : new String[] {"getState", "getDurationMillis", "getMediaTimeMillis",
                                            "getPlaybackRate", "setVideoRectangles"}) {
            c.that("'" + verbose + "' writes a verbose line",
                   Checks.count(log, Checks.line(TAG, verbose)) >= 1);
        }
    }

    private static void audioAndCaptions(Checks c) {
        c.that("not muted at first", !TovixAPI.getMute());
        TovixAPI.setMute(true);
        c.that("getMute after setMute(true)", TovixAPI.getMute());
        TovixAPI.setMute(false);
        c.that("getMute after setMute(false)", !TovixAPI.getMute());
        c.equal("getVolume with no file opened", 0.0f, TovixAPI.getVolume());
        c.equal("setVolume without a graph stores the level", 0.5f, TovixAPI.setVolume(0.5f));
        c.equal("getVolume gives the stored level back", 0.5f, TovixAPI.getVolume());
        c.that("setClosedCaptioningState answers true", TovixAPI.setClosedCaptioningState(5));
        c.equal("getClosedCaptioningState gives the state back", 5,
                TovixAPI.getClosedCaptioningState());
        List<String> log = Checks.maskedLog();
        c.equal("getMute's verbose line has an empty message", 3,
                Checks.count(log, Checks.line(TAG, "")));
        for (String verbose :
             new String[] {"setMute", "getVolume", "setVolume", "setClosedCaptioningState",
                           "getClosedCaptioningState"}) {
            c.that("'" + verbose + "' writes a verbose line",
                   Checks.count(log, Checks.line(TAG, verbose)) >= 1);
        }
    }

    /**
     * A second openOSD keeps the log and the output settings but reads the
     * three switches again: verbose lines stop once the host turns them off.
     */
    private static void reopeningRereadsSwitchesOnly(Checks c, boolean firstAnswer) {
        TovixAPI.setProperty("tovix/verbose_log", "no");
        TovixAPI.setProperty("tovix/output", "VGA");
        c.equal("a second openOSD answers as the first", firstAnswer, TovixAPI.openOSD());
        TovixAPI.supportsRegionUpdates();
        List<String> log = Checks.maskedLog();
        c.equal("one banner per process", 1L,
                log.stream().filter(l -> l.startsWith("###  Tovix Version:")).count());
        c.equal("openOSD is logged twice", 2, Checks.count(log, Checks.line(TAG, "openOSD")));
        c.equal(
            "the switches are read again", 2,
            Checks.count(
                log, Checks.line(
                         "getProperty",
                         "About to call java getProepty with args: 'tovix/verbose_log', 'false'")));
        c.equal("verbose logging is now off", 1,
                Checks.count(log, Checks.line("configPlayer", "Logging WILL NOT be verbose.")));
        c.equal("no verbose line after it is turned off", 1,
                Checks.count(log, Checks.line(TAG, "supportsRegionUpdates")));
        c.equal(
            "the output settings are not read again", 1,
            Checks.count(
                log, Checks.line("getProperty",
                                 "About to call java getProepty with args: 'tovix/output', 'TV'")));
        c.that("the changed output setting is not seen",
               !log.contains(Checks.line("getProperty", "Got back: 'VGA'")));
    }

    private static void closing(Checks c) {
        TovixAPI.closeOSD();
        if (SimControl.load()) {
            c.equal("no simulated object is left alive", "", SimControl.describeLiveObjects());
            c.equal("COM is uninitialised again", 0, SimControl.comInitDepth());
        }
        c.that("updateOSD after closeOSD still answers true",
               TovixAPI.updateOSD(new int[4], 2, 2, 0, 0, 2, 2, 0L, 0L));
        List<String> log = Checks.maskedLog();
        c.equal("closeOSD is logged", 1, Checks.count(log, Checks.line(TAG, "closeOSD")));
        String last = log.isEmpty() ? "" : log.get(log.size() - 1);
        c.equal("a frame after closeOSD is reported",
                Checks.line("processOsdImage", "Cannot update OSD because OSD is not available!!!"),
                last);
    }
}
