package org.quencommunity.tovix;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import org.quencommunity.tovix.media.ProgramStreamWriter;
import org.quencommunity.tovix.sim.SimControl;

/**
 * A careless host at the boundary, in a real JVM: natives called in every
 * order, null strings and arrays, arrays that disagree with their rectangle,
 * negative and huge sizes, settings of every length, paths past the limit,
 * a load while a file plays. Nothing may crash the JVM or reach the host as
 * a Java exception, and each refusal leaves a clear line in the plug-in log.
 */
public final class BadInputTest {
    private static final String TAG = "TOVIXAPI";

    private BadInputTest() {}

    /** A native call that may answer anything but must not throw. */
    private interface Call {
        void run() throws Throwable;
    }

    private static void noThrow(Checks c, String what, Call call) {
        try {
            call.run();
            c.that(what + " returns normally", true);
        } catch (Throwable t) {
            c.that(what + " returns normally", false, t.toString());
        }
    }

    private static boolean logHas(String text) {
        for (String line : Checks.maskedLog()) {
            if (line.contains(text)) {
                return true;
            }
        }
        return false;
    }

    public static void main(String[] args) throws IOException {
        Checks c = new Checks("BadInputTest");
        TovixAPI.clearProperties();
        // A host version far longer than the banner's field.
        TovixAPI.setProperty("version", "v".repeat(200));
        TovixAPI.setProperty("tovix/verbose_log", "true");
        System.loadLibrary("TovixAPI");
        if (!c.that("the simulated world's controls load",
                    SimControl.load() && SimControl.has("graph"))) {
            c.finish();
        }
        SimControl.setManualClock(true);

        outOfOrderBeforeOpen(c);
        settingsOfEveryLength(c);
        c.that("openOSD", TovixAPI.openOSD());
        badFrames(c);
        Path clip = write("clip.mpg", 4.0);
        badLoads(c, clip);
        loadWhilePlaying(c, clip);
        outOfOrderAfterClose(c);
        c.finish();
    }

    /** Every native before openOSD: nothing is open, nothing may break. */
    private static void outOfOrderBeforeOpen(Checks c) {
        noThrow(c, "closeOSD before openOSD", TovixAPI::closeOSD);
        noThrow(c, "free before any load", TovixAPI::free);
        noThrow(c, "a frame before openOSD",
                () -> TovixAPI.updateOSD(new int[4], 2, 2, 0, 0, 2, 2, 0L, 0L));
        noThrow(c, "load before openOSD, without COM",
                ()
                    -> TovixAPI.load((byte)2, (byte)0, "MPEG2", "/nonexistent/early.mpg", null,
                                     false, 0L));
        noThrow(c, "play before any load", () -> c.that("play answers false", !TovixAPI.play()));
        noThrow(c, "transport before any load", () -> {
            TovixAPI.pause();
            TovixAPI.stop();
            TovixAPI.seek(Long.MIN_VALUE);
            TovixAPI.seek(Long.MAX_VALUE);
            TovixAPI.setPlaybackRate(Float.NaN);
            TovixAPI.setPlaybackRate(Float.NEGATIVE_INFINITY);
            TovixAPI.setVolume(Float.NaN);
            TovixAPI.setVolume(-1e30f);
            TovixAPI.setVideoRectangles(Integer.MIN_VALUE, Integer.MAX_VALUE, -1,
                                        Integer.MIN_VALUE);
            TovixAPI.frameStep(Integer.MIN_VALUE);
            TovixAPI.inactiveFile();
        });
        c.equal("COM left as found", 0, SimControl.comInitDepth());
        c.equal("nothing alive before openOSD", "", SimControl.describeLiveObjects());
    }

    /**
     * The three switches are read at every openOSD: values of every length
     * from empty to far past their 12-byte buffers, each followed by a close.
     * The output-mode settings, read once, get 300 characters each.
     */
    private static void settingsOfEveryLength(Checks c) {
        String[] modeKeys = {"tovix/output", "tovix/standard", "tovix/connector", "tovix/audio",
                             "tovix/hdmode", "tovix/vgamode",  "tovix/aspect"};
        for (String key : modeKeys) {
            TovixAPI.setProperty(key, "M".repeat(300));
        }
        TovixAPI.setProperty("wizard/widget_db_file", "C:\\Program Files\\"
                                                          + "Q".repeat(400));
        boolean allOpened = true;
        for (int length = 0; length <= 40; length++) {
            String value = "y".repeat(length);
            TovixAPI.setProperty("tovix/stream_all_mpegs", value);
            TovixAPI.setProperty("tovix/scale_osd", "yes"
                                                        + " ".repeat(length));
            TovixAPI.setProperty("tovix/verbose_log", length % 2 == 0 ? "TRUE" : "yes" + value);
            final boolean[] opened = new boolean[1];
            noThrow(c, "openOSD with switch values " + length + " long",
                    () -> opened[0] = TovixAPI.openOSD());
            allOpened &= opened[0];
            TovixAPI.closeOSD();
        }
        c.that("every openOSD opened", allOpened);
        c.that("a long host version is shown cut to 63 characters",
               logHas("###  Quen Version: "
                      + "v".repeat(63) + "###"));
        c.that("a long UI file is shown cut to 63 characters",
               logHas("###  QTV: C:\\Program Files\\"
                      + "Q".repeat(46) + "###"));
        c.that("an output kind of 300 characters is refused by name",
               logHas("<setupModes>: Unknown tovix/output mode '"
                      + "M".repeat(127) + "'"));
        c.that("an HD mode of 300 characters is not an integer",
               logHas("<setupModes>: tovix/hdmode must be an integer value"));
        c.that("a long value is shown cut to its buffer",
               logHas("<getProperty>: Got back: 'yyyyyyyyyyy'"));
        TovixAPI.setProperty("tovix/verbose_log", "true");
        c.equal("COM balanced after the openings", 0, SimControl.comInitDepth());
    }

    private static void badFrames(Checks c) {
        int shown = SimControl.blocksShown();
        noThrow(c, "a null pixel array",
                ()
                    -> c.that("a null array answers false",
                              !TovixAPI.updateOSD(null, 2, 2, 0, 0, 2, 2, 0L, 0L)));
        c.that("a null array is logged",
               logHas("<TOVIXAPI>: updateOSD: no pixel array; frame dropped"));
        noThrow(c, "an array shorter than its rectangle",
                () -> TovixAPI.updateOSD(new int[99], 10, 10, 0, 0, 10, 10, 0L, 0L));
        c.that(
            "the short array is logged",
            logHas("updateOSD: precondition failed: len == (updMaxX-updMinX) * (updMaxY-updMinY) "
                   + "(len=99, rectangle 10x10); frame dropped"));
        noThrow(c, "a bitmap size that disagrees with its rectangle",
                () -> TovixAPI.updateOSD(new int[100], 20, 5, 0, 0, 10, 10, 0L, 0L));
        c.that("the disagreeing size is logged",
               logHas("(bitmap 20x5, rectangle 10x10); frame dropped"));
        int[][] rectangles = {
            {-10, -10, 0, 0},
            {0, 0, -5, 7},
            {Integer.MIN_VALUE, 0, Integer.MAX_VALUE, 1},
            {0, Integer.MIN_VALUE, 1, Integer.MAX_VALUE},
            {0, 0, 65536, 1},
            {0, 0, 5000, 5000},
            {Integer.MAX_VALUE, Integer.MAX_VALUE, Integer.MIN_VALUE, Integer.MIN_VALUE},
        };
        for (int[] r : rectangles) {
            String what = "the rectangle (" + r[0] + ", " + r[1] + ")-(" + r[2] + ", " + r[3] + ")";
            noThrow(c, what,
                    ()
                        -> c.that(what + " is refused",
                                  !TovixAPI.updateOSD(new int[16], r[2] - r[0], r[3] - r[1], r[0],
                                                      r[1], r[2], r[3], 0L, 0L)));
        }
        c.that(
            "a negative rectangle is logged",
            logHas(
                "<TOVIXAPI>: updateOSD: update rectangle (-10, -10)-(0, 0) is not a valid OSD frame size; frame dropped") ||
                logHas("(len=16, rectangle 10x10); frame dropped"));
        c.that("an overflowing rectangle is logged",
               logHas("updateOSD: update rectangle (-2147483648, 0)-(2147483647, 1)"
                      + " is not a valid OSD frame size; frame dropped"));
        c.equal("no refused frame reached the card", shown, SimControl.blocksShown());
        // The largest frame an OSD block describes (16,776,183 pixels at most)
        // is shown; one with more pixels is refused before any is copied.
        int before = SimControl.blocksShown();
        noThrow(c, "the largest frame a block holds",
                ()
                    -> c.that("4096x4095 is accepted",
                              TovixAPI.updateOSD(new int[4096 * 4095], 4096, 4095, 0, 0, 4096, 4095,
                                                 0L, 0L)));
        c.equal("the largest frame is shown", before + 1, SimControl.blocksShown());
        noThrow(c, "a frame one row past the largest",
                ()
                    -> c.that("4095x4097 is refused",
                              !TovixAPI.updateOSD(new int[4095 * 4097], 4095, 4097, 0, 0, 4095,
                                                  4097, 0L, 0L)));
        c.that(
            "the oversized frame is logged",
            logHas(
                "<TOVIXAPI>: updateOSD: update rectangle (0, 0)-(4095, 4097) is not a valid OSD frame size; frame dropped"));
        shown = SimControl.blocksShown();
        noThrow(c, "an empty frame",
                () -> TovixAPI.updateOSD(new int[0], 0, 0, 0, 0, 0, 0, 0L, 0L));
        noThrow(c, "a good frame after the bad ones",
                ()
                    -> c.that("a good frame is accepted",
                              TovixAPI.updateOSD(new int[64 * 32], 64, 32, 5, 5, 69, 37, 0L, 0L)));
        c.that("the good frame is shown", SimControl.blocksShown() > shown);
    }

    private static void badLoads(Checks c, Path clip) {
        noThrow(c, "load with a null file name",
                () -> TovixAPI.load((byte)1, (byte)31, "MPEG2", null, "mediaserver", false, 0L));
        noThrow(c, "load with a null hint",
                () -> TovixAPI.load((byte)1, (byte)31, null, clip.toString(), null, true, 0L));
        c.that(
            "the null strings are logged",
            logHas(
                "<TOVIXAPI>: load: precondition failed: encodingHint && jFileName; nothing loaded"));
        noThrow(c, "load with every string null",
                () -> TovixAPI.load((byte)-1, (byte)-128, null, null, null, true, 0L));
        noThrow(c, "free after the refused loads", TovixAPI::free);
        c.equal("nothing of a graph after refused loads", List.of(), graphObjects());

        String longPath = "/"
                          + "d".repeat(300) + "/clip.mpg";
        noThrow(c, "load with a path past the limit",
                () -> TovixAPI.load((byte)2, (byte)0, "MPEG2", longPath, null, false, 0L));
        c.that(
            "the long path is logged",
            logHas("<openFile>: Can not open file because its path is longer than 259 characters"));
        noThrow(c, "free after the long path", TovixAPI::free);
        noThrow(
            c, "load of a file that is not there",
            () -> TovixAPI.load((byte)2, (byte)0, "MPEG2", "/nonexistent/x.mpg", "", false, 0L));
        c.that("the missing file is logged",
               logHas("<openFile>: Could not render file '/nonexistent/x.mpg' (ERROR: "));
        noThrow(c, "a second free in a row", () -> {
            TovixAPI.free();
            TovixAPI.free();
        });
        c.equal("nothing of a graph after free", List.of(), graphObjects());
    }

    /**
     * A new file while one plays, without a free between: the first stops,
     * and the graph it leaves, its decoder inputs taken, cannot render the
     * second. The host is told nothing; the log says why.
     */
    private static void loadWhilePlaying(Checks c, Path clip) {
        TovixAPI.load((byte)2, (byte)0, "MPEG2", clip.toString(), null, false, 0L);
        c.that("the first file plays", TovixAPI.play());
        SimControl.advanceClock(500);
        noThrow(c, "load while playing",
                () -> TovixAPI.load((byte)2, (byte)0, "MPEG2", clip.toString(), "x", false, 0L));
        c.equal("the first file stopped", 4, TovixAPI.getState());
        c.that("the second file's failure is logged",
               logHas("<openFile>: Could not render file '" + clip + "' (ERROR: "));
        noThrow(c, "load of a streamed file onto a rendered graph",
                () -> TovixAPI.load((byte)1, (byte)31, "MPEG2", clip.toString(), null, true, 0L));
        c.that("the mismatch is logged",
               logHas("<openFile>: Can not load file because graph builder is not available: " +
                      clip));
        noThrow(c, "free, and free again", () -> {
            TovixAPI.free();
            TovixAPI.free();
        });
        c.equal("nothing of a graph after free", List.of(), graphObjects());
    }

    /** closeOSD with a file open, then every native after it. */
    private static void outOfOrderAfterClose(Checks c) {
        Path clip = Paths.get("clip.mpg").toAbsolutePath();
        TovixAPI.load((byte)1, (byte)31, "MPEG2", clip.toString(), "mediaserver", true, 0L);
        TovixAPI.play();
        noThrow(c, "closeOSD while a file plays", TovixAPI::closeOSD);
        noThrow(c, "a frame after closeOSD",
                ()
                    -> c.that("a frame after closeOSD answers true",
                              TovixAPI.updateOSD(new int[4], 2, 2, 0, 0, 2, 2, 0L, 0L)));
        c.that("a frame after closeOSD is logged",
               logHas("<processOsdImage>: Cannot update OSD because OSD is not available!!!"));
        noThrow(c, "transport after closeOSD", () -> {
            TovixAPI.getState();
            TovixAPI.pause();
            TovixAPI.seek(1000);
            TovixAPI.setVolume(0.5f);
            TovixAPI.getVideoWidth();
        });
        noThrow(c, "free after closeOSD", TovixAPI::free);
        noThrow(c, "closeOSD twice", () -> {
            TovixAPI.closeOSD();
            TovixAPI.closeOSD();
        });
        c.equal("nothing alive at the end", "", SimControl.describeLiveObjects());
        c.equal("COM left as found", 0, SimControl.comInitDepth());
    }

    /** The live simulated objects other than the card's own. */
    private static List<String> graphObjects() {
        return java.util.Arrays.stream(SimControl.liveObjects())
            .map(o -> o.replaceAll(" refs=.*", ""))
            .filter(n -> !n.equals("DecoderFilter") && !n.startsWith("Osd"))
            .sorted()
            .toList();
    }

    private static Path write(String name, double seconds) throws IOException {
        Path file = Paths.get(name).toAbsolutePath();
        try (OutputStream out = Files.newOutputStream(file)) {
            ProgramStreamWriter writer = new ProgramStreamWriter(out, 352, 288, 25, 0.0);
            writer.writeSeconds(seconds);
            writer.finish();
        }
        return file;
    }
}
