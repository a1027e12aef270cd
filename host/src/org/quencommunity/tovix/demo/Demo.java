package org.quencommunity.tovix.demo;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.UncheckedIOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import java.util.Set;
import java.util.TreeMap;
import org.quencommunity.tovix.TovixAPI;
import org.quencommunity.tovix.media.ProgramStreamWriter;
import org.quencommunity.tovix.sim.SimControl;

/**
 * A whole host session against the simulated card, as the media-center host
 * drives the library: settings, the OSD, a recording played while it is
 * still being written, a finished file, and the tear-down. Prints one line
 * per step and a summary, and leaves the logs, snapshots and report.html in
 * the output folder.
 */
public final class Demo {
    /** How much the report's difference images amplify the error. */
    static final int DIFF_GAIN = 8;
    static final String[] STATE_NAMES = {"none", "opened", "playing", "paused", "stopped", "ended"};

    private final Options options;
    private final Report report = new Report();
    private final long startNanos = System.nanoTime();
    private final List<Double> frameMillis = new ArrayList<>();
    /** The playback states seen, in order of first sight, per file played. */
    private final Map<String, Set<Integer>> statesSeen = new LinkedHashMap<>();
    private String phase = "recording";
    private int step;
    private boolean cardView;
    private boolean graphView;

    private Demo(Options options) {
        this.options = options;
    }

    public static void main(String[] args) {
        Options options;
        try {
            options = Options.parse(args);
        } catch (UsageError e) {
            System.err.println("demo: " + e.getMessage());
            System.err.println("Try 'demo --help' for the options.");
            System.exit(2);
            return;
        }
        if (options.help) {
            System.out.print(Options.USAGE);
            return;
        }
        try {
            options.check();
            new Demo(options).run();
        } catch (UsageError e) {
            System.err.println("demo: " + e.getMessage());
            System.exit(2);
        } catch (DemoFailure e) {
            System.err.println("demo: " + e.getMessage());
            System.exit(1);
        } catch (IOException | UncheckedIOException e) {
            System.err.println("demo: input/output error: " + e.getMessage());
            System.exit(1);
        }
    }

    /** A failure that ends the session with a message and exit status 1. */
    static final class DemoFailure extends Exception {
        private static final long serialVersionUID = 1L;

        DemoFailure(String message) {
            super(message);
        }
    }

    // ---- The session ----

    private void run() throws IOException, DemoFailure, UsageError {
        Properties settings = options.readSettings();
        report.settings = new TreeMap<>();
        for (String key : settings.stringPropertyNames()) {
            report.settings.put(key, settings.getProperty(key));
        }
        for (String key : settings.stringPropertyNames()) {
            TovixAPI.setProperty(key, settings.getProperty(key));
        }
        progress("settings", options.settingsName() + ": " + settings.size() + " keys ("
                + describeOutput(settings) + ")");

        try {
            System.loadLibrary("TovixAPI");
        } catch (UnsatisfiedLinkError e) {
            throw new DemoFailure("cannot load the library libTovixAPI.so (java.library.path="
                    + System.getProperty("java.library.path") + "): " + e.getMessage());
        }
        if (SimControl.load()) {
            cardView = SimControl.has("card");
            graphView = SimControl.has("graph");
        }
        Path snapshots = options.out.resolve("snapshots");
        Files.createDirectories(snapshots);
        removeEarlierOutputs(snapshots);
        if (cardView) {
            SimControl.setSnapshotFolder(snapshots.toString());
        }
        noteCard("at power-on");
        progress("world", "simulated card view " + (cardView ? "on" : "not in this build")
                + ", graph view " + (graphView ? "on" : "not in this build"));

        boolean opened = TovixAPI.openOSD();
        noteCard("with the OSD open");
        if (cardView) {
            report.facts.put("OSD", SimControl.osdName());
        }
        progress("openOSD", "-> " + opened + (cardView ? "  (card: " + registers() + ")" : ""));

        osdSession();
        Path recording = recordingSession();
        finishedFileSession();

        TovixAPI.closeOSD();
        noteCard("after closeOSD");
        progress("closeOSD", "done" + (cardView ? "  (display " + (SimControl.osdDisplayOn() ? "on" : "off")
                + ", card: " + registers() + ")" : ""));
        if (cardView) {
            report.liveObjects = SimControl.describeLiveObjects();
        }
        finish(recording);
    }

    private void osdSession() {
        OsdScenes scenes = new OsdScenes();
        List<OsdScenes.Frame> frames = new ArrayList<>();
        for (int i = 0; i < options.frames; i++) {
            frames.add(scenes.menu(i, 720, 480));
        }
        frames.add(scenes.photoViewer(720, 480));
        frames.add(scenes.volumePopup(480, 160, 65));
        frames.add(scenes.flatGuide(720, 480));
        for (OsdScenes.Frame frame : frames) {
            sendFrame(frame);
        }
    }

    private void sendFrame(OsdScenes.Frame frame) {
        int w = frame.image.getWidth();
        int h = frame.image.getHeight();
        int[] pixels = frame.pixels();
        long t0 = System.nanoTime();
        boolean taken = TovixAPI.updateOSD(pixels, w, h, 0, 0, w, h, 0L, 0L);
        double ms = (System.nanoTime() - t0) / 1e6;
        frameMillis.add(ms);
        Report.FrameRow row = new Report.FrameRow(frame.name, frame.description, w, h, ms,
                Images.distinctColours(pixels));
        row.hostPng = Images.pngBase64(pixels, w, h);
        String shown = "card view not available";
        if (cardView) {
            int sw = SimControl.osdWidth();
            int sh = SimControl.osdHeight();
            int[] card = SimControl.osdPixels();
            if (card.length == sw * sh && sw > 0 && sh > 0) {
                row.cardWidth = sw;
                row.cardHeight = sh;
                row.cardPng = Images.pngBase64(card, sw, sh);
                // A frame scaled to the screen is compared at the frame's size.
                boolean scaled = sw != w || sh != h;
                int[] seen = Images.atFrameSize(card, sw, sh, w, h);
                row.psnr = Images.psnr(pixels, w, h, seen, w, h);
                row.diffPng = Images.pngBase64(Images.difference(pixels, w, h, seen, w, h, DIFF_GAIN), w, h);
                shown = "card shows " + sw + "x" + sh + (scaled ? " (scaled)" : "") + ", PSNR "
                        + Images.formatDb(row.psnr);
            } else {
                shown = "card shows nothing";
            }
        }
        report.frames.add(row);
        progress("updateOSD", String.format("%-14s %dx%d, %d colours -> %s  (%.1f ms; %s)", frame.name, w, h,
                row.colours, taken, ms, shown));
    }

    // ---- Playback: a recording still being written ----

    private Path recordingSession() throws IOException, DemoFailure {
        Path file;
        RecordingThread writer = null;
        boolean shifted;
        if (options.media != null) {
            file = options.media.toAbsolutePath();
            shifted = false;
            phase = "your file";
            progress("media", "playing your file " + file + " (" + Files.size(file) + " bytes)");
        } else {
            file = options.out.resolve("recording.mpg").toAbsolutePath();
            writer = new RecordingThread(file, 4.0, 12.0);
            writer.start();
            writer.awaitFirstData();
            shifted = true;
            progress("recorder", String.format("writing %s: %.1f s written so far, growing to %.0f s",
                    file.getFileName(), writer.seconds(), writer.targetSeconds));
        }
        TovixAPI.load((byte) 1, (byte) 31, "MPEG2-PS", file.toString(), "localhost", shifted, 0L);
        noteGraph("graph for the recording (maj 1, min 31)");
        sample("load");
        progress("load", "maj=1 min=31 shifted=" + shifted + " -> state " + stateText(TovixAPI.getState())
                + graphFilters());
        boolean playing = TovixAPI.play();
        sample("play");
        progress("play", "-> " + playing);

        for (int i = 0; i < 5; i++) {
            pause(250);
            sample("poll");
            progress("poll", String.format("position %d ms of %d ms, state %s%s", TovixAPI.getMediaTimeMillis(),
                    TovixAPI.getDurationMillis(), stateText(TovixAPI.getState()),
                    writer != null ? String.format(", recording at %.1f s", writer.seconds()) : ""));
        }
        long seekTo = 2000;
        progress("seek", seekTo + " -> " + TovixAPI.seek(seekTo) + ", position now "
                + TovixAPI.getMediaTimeMillis() + " ms");
        sample("seek");
        float rate = TovixAPI.setPlaybackRate(2.0f);
        progress("setPlaybackRate", "2.0 -> " + rate + " (getPlaybackRate " + TovixAPI.getPlaybackRate() + ")");
        sample("rate 2x");
        float level = TovixAPI.setVolume(0.8f);
        progress("setVolume", "0.8 -> " + level + " (getVolume " + TovixAPI.getVolume() + ")");
        TovixAPI.setMute(true);
        progress("setMute", "true -> getMute " + TovixAPI.getMute());
        TovixAPI.setMute(false);
        progress("setMute", "false -> getMute " + TovixAPI.getMute());
        TovixAPI.setVideoRectangles(40, 30, 640, 360);
        progress("setVideoRectangles", "(40, 30) 640x360 -> video is " + TovixAPI.getVideoWidth() + "x"
                + TovixAPI.getVideoHeight() + " (getVideoWidth/getVideoHeight)");
        report.videoSize = TovixAPI.getVideoWidth() + "x" + TovixAPI.getVideoHeight();

        if (writer != null) {
            while (writer.isAlive()) {
                pause(250);
                sample("growing");
            }
            writer.rethrow();
            progress("recorder", String.format("finished: %.1f s, %d bytes", writer.seconds(), Files.size(file)));
            int inactive = TovixAPI.inactiveFile();
            sample("inactiveFile");
            progress("inactiveFile", "-> " + inactive + ", duration now " + TovixAPI.getDurationMillis() + " ms");
        }
        TovixAPI.setPlaybackRate(1.0f);
        long duration = TovixAPI.getDurationMillis();
        if (duration > 1500) {
            TovixAPI.seek(duration - 1200);
            sample("seek to end");
            progress("seek", (duration - 1200) + " (1.2 s before the end)");
        }
        playToEnd(playing, 8000);
        TovixAPI.free();
        sample("free");
        progress("free", "state " + stateText(TovixAPI.getState()) + (graphView ? ", graph alive: "
                + SimControl.graphAlive() : ""));
        return options.media == null ? file : null;
    }

    private void playToEnd(boolean playing, long limitMillis) {
        if (!playing) {
            progress("play to end", "skipped: the clip is not playing");
            return;
        }
        long until = System.currentTimeMillis() + limitMillis;
        int state = TovixAPI.getState();
        while (state != 5 && System.currentTimeMillis() < until) {
            pause(200);
            sample("to end");
            state = TovixAPI.getState();
        }
        sample(state == 5 ? "end" : "not ended");
        pause(300); // the host shows the end a moment before it lets go of the file
        sample("ended");
        progress("play to end", state == 5 ? "reached the end at " + TovixAPI.getMediaTimeMillis() + " ms"
                : "not ended after " + limitMillis / 1000 + " s (state " + stateText(state) + ")");
    }

    // ---- Playback: a finished file through the rendered graph ----

    private void finishedFileSession() throws IOException {
        phase = "finished file";
        Path file = options.out.resolve("finished.mpg").toAbsolutePath();
        try (OutputStream out = Files.newOutputStream(file)) {
            ProgramStreamWriter w = new ProgramStreamWriter(out, 352, 288, 25, 0.0);
            w.writeSeconds(5.0);
            w.finish();
        }
        progress("file", "wrote " + file.getFileName() + ": 5.0 s of 352x288 at 25 fps, " + Files.size(file)
                + " bytes");
        TovixAPI.load((byte) 2, (byte) 0, "video/mpeg", file.toString(), null, false, 0L);
        noteGraph("graph for the finished file (maj 2, min 0)");
        sample("load 2");
        String render = "";
        if (graphView) {
            String[] outcomes = SimControl.renderOutcomes();
            if (outcomes.length > 0) {
                String last = outcomes[outcomes.length - 1];
                render = ", RenderFile " + last.substring(last.lastIndexOf(" result=") + 1);
            }
        }
        progress("load", "maj=2 min=0 (rendered graph) -> state " + stateText(TovixAPI.getState())
                + graphFilters() + render);
        progress("video size", TovixAPI.getVideoWidth() + "x" + TovixAPI.getVideoHeight());
        boolean playing = TovixAPI.play();
        sample("play 2");
        progress("play", "-> " + playing);
        pause(600);
        sample("poll");
        boolean paused = TovixAPI.pause();
        sample("pause");
        progress("pause", "-> " + paused + " at " + TovixAPI.getMediaTimeMillis() + " ms");
        pause(300);
        sample("paused");
        boolean resumed = TovixAPI.play();
        progress("play", "-> " + resumed + " (resume)");
        pause(300);
        sample("resumed");
        boolean stopped = TovixAPI.stop();
        sample("stop");
        progress("stop", "-> " + stopped + ", state " + stateText(TovixAPI.getState()));
        TovixAPI.free();
        sample("free 2");
        progress("free", "done");
    }

    // ---- Output ----

    private void finish(Path recording) throws IOException {
        long pid = ProcessHandle.current().pid();
        Path cwd = Paths.get("").toAbsolutePath();
        // The library writes its logs into the working directory; the output
        // folder gets a copy of each.
        Path pluginLog = copyLog(cwd.resolve("tovix_log_" + pid + ".txt"));
        Path graphLog = copyLog(cwd.resolve("dshow_log.txt"));
        report.pluginLog = pluginLog == null ? null : Files.readString(pluginLog,
                java.nio.charset.StandardCharsets.ISO_8859_1);
        report.statesSeen = statesSummary();
        Path html = options.out.resolve("report.html");
        Files.writeString(html, report.html(), java.nio.charset.StandardCharsets.UTF_8);
        int snapshots = countFiles(options.out.resolve("snapshots"));

        double[] sorted = frameMillis.stream().mapToDouble(Double::doubleValue).sorted().toArray();
        double median = sorted.length == 0 ? 0 : sorted.length % 2 == 1 ? sorted[sorted.length / 2]
                : (sorted[sorted.length / 2 - 1] + sorted[sorted.length / 2]) / 2;
        double worst = sorted.length == 0 ? 0 : sorted[sorted.length - 1];
        System.out.println();
        System.out.println("Summary");
        System.out.printf("  OSD frames sent     %d (median %.1f ms, worst %.1f ms per frame)%n", sorted.length,
                median, worst);
        System.out.println("  quantisation error  " + report.psnrSummary());
        System.out.println("  playback states     " + statesSummary());
        System.out.println("  report              " + html);
        System.out.println("  plug-in log         " + (pluginLog != null ? pluginLog : "(none written)"));
        System.out.println("  graph log           " + (graphLog != null ? graphLog : "(none written)"));
        System.out.println("  OSD snapshots       " + options.out.resolve("snapshots") + " (" + snapshots
                + " PNG)");
        if (recording != null) {
            System.out.println("  recording           " + recording);
        }
    }

    /** "recording: opened, playing, ended; finished file: ..." */
    private String statesSummary() {
        List<String> phases = new ArrayList<>();
        for (Map.Entry<String, Set<Integer>> e : statesSeen.entrySet()) {
            List<String> names = new ArrayList<>();
            for (int s : e.getValue()) {
                names.add(s >= 0 && s < STATE_NAMES.length ? STATE_NAMES[s] : Integer.toString(s));
            }
            phases.add(e.getKey() + ": " + String.join(", ", names));
        }
        return phases.isEmpty() ? "none" : String.join("; ", phases);
    }

    /** An earlier session's snapshots and plug-in log would be mistaken for this one's. */
    private void removeEarlierOutputs(Path snapshots) throws IOException {
        try (var files = Files.list(snapshots)) {
            for (Path p : (Iterable<Path>) files::iterator) {
                if (p.getFileName().toString().matches("osd_\\d+\\.png")) {
                    Files.delete(p);
                }
            }
        }
        try (var files = Files.list(options.out)) {
            for (Path p : (Iterable<Path>) files::iterator) {
                if (p.getFileName().toString().matches("tovix_log_\\d+\\.txt")) {
                    Files.delete(p);
                }
            }
        }
    }

    private Path copyLog(Path source) throws IOException {
        if (!Files.exists(source)) {
            return null;
        }
        Path target = options.out.resolve(source.getFileName()).toAbsolutePath();
        if (!target.equals(source.toAbsolutePath())) {
            Files.copy(source, target, StandardCopyOption.REPLACE_EXISTING);
        }
        return target;
    }

    private static int countFiles(Path folder) throws IOException {
        if (!Files.isDirectory(folder)) {
            return 0;
        }
        try (var files = Files.list(folder)) {
            return (int) files.filter(p -> p.toString().endsWith(".png")).count();
        }
    }

    private void progress(String what, String detail) {
        step++;
        System.out.printf("[%2d] %-18s %s%n", step, what, detail);
        System.out.flush();
    }

    /** Records state and position for the timeline. */
    private void sample(String label) {
        int state = TovixAPI.getState();
        statesSeen.computeIfAbsent(phase, k -> new LinkedHashSet<>()).add(state);
        report.timeline.add(new Report.Sample((System.nanoTime() - startNanos) / 1e9, state,
                TovixAPI.getMediaTimeMillis(), TovixAPI.getDurationMillis(), label));
    }

    static String stateText(int state) {
        return state >= 0 && state < STATE_NAMES.length ? state + " (" + STATE_NAMES[state] + ")"
                : Integer.toString(state);
    }

    private String graphFilters() {
        if (!graphView || !SimControl.graphAlive()) {
            return "";
        }
        return ", graph: " + String.join(" + ", SimControl.graphFilterNames());
    }

    private static String registers() {
        int[] r = SimControl.registers();
        return String.format("output flags 0x%X, aspect %d, HD mode %d, VGA mode %d, audio %d", r[0], r[1], r[2],
                r[3], r[4]);
    }

    /** The card's registers in the settings' own words. */
    static String registersInWords(int[] r) {
        int flags = r[0];
        String output = (flags & 0x01) != 0 ? "TV" : (flags & 0x20) != 0 ? "HDTV" : "VGA";
        int standardBits = flags & 0x1A;
        String standard = standardBits == 0x10 ? "USETV" : standardBits == 0x0A ? "PALM" : standardBits == 0x08
                ? "PAL60" : standardBits == 0x02 ? "PAL" : standardBits == 0 ? "NTSC" : String.format("0x%X",
                        standardBits);
        String connector = (flags & 0x200) != 0 ? "SCART" : (flags & 0xC0) == 0xC0 ? "RGB" : (flags & 0x80) != 0
                ? "YUV" : "COMPOSITE";
        String[] aspects = {"ASIS", "PAN_SCAN", "LETTER_BOX", "WIDE"};
        String aspect = r[1] >= 0 && r[1] < aspects.length ? aspects[r[1]] : Integer.toString(r[1]);
        String audio = r[4] == 0 ? "STEREO" : r[4] == 2 ? "SPDIF" : Integer.toString(r[4]);
        return String.format("%s, %s, %s (flags 0x%X); aspect %s; HD mode %d; VGA mode %d; audio %s", output,
                standard, connector, flags, aspect, r[2], r[3], audio);
    }

    private void noteCard(String when) {
        if (cardView) {
            report.facts.put("card " + when, registersInWords(SimControl.registers()));
        }
    }

    private void noteGraph(String which) {
        if (graphView && SimControl.graphAlive()) {
            report.facts.put(which, String.join(" + ", SimControl.graphFilterNames()));
        }
    }

    private static String describeOutput(Properties s) {
        return "output=" + s.getProperty("tovix/output", "TV") + " standard="
                + s.getProperty("tovix/standard", "USETV") + " connector="
                + s.getProperty("tovix/connector", "COMPOSITE") + " audio=" + s.getProperty("tovix/audio", "STEREO")
                + " verbose=" + s.getProperty("tovix/verbose_log", "false");
    }

    private static void pause(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    // ---- The recording, written as the host's server writes it ----

    /** Appends to a program stream in the background, half a second of media at a time. */
    static final class RecordingThread extends Thread {
        final double targetSeconds;
        private final Path file;
        private final double firstSeconds;
        private volatile double written;
        private volatile IOException failure;
        private final Object firstData = new Object();
        private boolean started;

        RecordingThread(Path file, double firstSeconds, double targetSeconds) {
            super("recorder");
            setDaemon(true);
            this.file = file;
            this.firstSeconds = firstSeconds;
            this.targetSeconds = targetSeconds;
        }

        double seconds() {
            return written;
        }

        @Override
        public void run() {
            try (OutputStream out = Files.newOutputStream(file)) {
                ProgramStreamWriter w = new ProgramStreamWriter(out, 720, 480, 30, 0.0);
                w.writeSeconds(firstSeconds);
                written = w.secondsWritten();
                signal();
                while (w.secondsWritten() < targetSeconds) {
                    Thread.sleep(150);
                    w.writeSeconds(0.5);
                    written = w.secondsWritten();
                }
                w.finish();
            } catch (IOException e) {
                failure = e;
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            } finally {
                signal();
            }
        }

        private void signal() {
            synchronized (firstData) {
                started = true;
                firstData.notifyAll();
            }
        }

        void awaitFirstData() throws IOException {
            synchronized (firstData) {
                while (!started) {
                    try {
                        firstData.wait();
                    } catch (InterruptedException e) {
                        Thread.currentThread().interrupt();
                        return;
                    }
                }
            }
            rethrow();
        }

        void rethrow() throws IOException {
            if (failure != null) {
                throw new IOException("writing the recording " + file + ": " + failure.getMessage(), failure);
            }
        }
    }

    // ---- Options ----

    static final class UsageError extends Exception {
        private static final long serialVersionUID = 1L;

        UsageError(String message) {
            super(message);
        }
    }

    static final class Options {
        static final String USAGE = String.join("\n",
                "usage: demo [--settings FILE] [--out DIR] [--media FILE] [--frames N] [--help]",
                "",
                "Runs a host session against the simulated card: settings, OSD frames, a",
                "recording played while it is still being written, a finished file, and the",
                "tear-down. Prints one line per step and a summary.",
                "",
                "  --settings FILE  host settings as a .properties file (default: the demo's own)",
                "  --out DIR        output folder for the logs, OSD snapshots and report.html",
                "                   (default: demo-out; an earlier session's outputs are replaced)",
                "  --media FILE     play this MPEG-2 program stream instead of the generated recording",
                "  --frames N       main-menu frames to send before the other OSD frames (default 6)",
                "  --help           this text",
                "");

        Path settings;
        Path out = Paths.get("demo-out");
        Path media;
        int frames = 6;
        boolean help;

        static Options parse(String[] args) throws UsageError {
            Options o = new Options();
            for (int i = 0; i < args.length; i++) {
                String a = args[i];
                String value = null;
                int eq = a.indexOf('=');
                if (a.startsWith("--") && eq > 0) {
                    value = a.substring(eq + 1);
                    a = a.substring(0, eq);
                }
                switch (a) {
                    case "--help":
                    case "-h":
                        o.help = true;
                        break;
                    case "--settings":
                    case "--out":
                    case "--media":
                    case "--frames":
                        if (value == null) {
                            if (i + 1 >= args.length) {
                                throw new UsageError("option " + a + " needs a value");
                            }
                            value = args[++i];
                        }
                        o.set(a, value);
                        break;
                    default:
                        throw new UsageError((a.startsWith("-") ? "unknown option " : "unexpected argument ")
                                + "'" + args[i] + "'");
                }
            }
            return o;
        }

        private void set(String option, String value) throws UsageError {
            if (value.isEmpty()) {
                throw new UsageError("option " + option + " needs a value");
            }
            switch (option) {
                case "--settings":
                    settings = Paths.get(value);
                    break;
                case "--out":
                    out = Paths.get(value);
                    break;
                case "--media":
                    media = Paths.get(value);
                    break;
                default:
                    try {
                        frames = Integer.parseInt(value);
                    } catch (NumberFormatException e) {
                        throw new UsageError("--frames takes a whole number, not '" + value + "'");
                    }
                    if (frames < 1 || frames > 10_000) {
                        throw new UsageError("--frames must be between 1 and 10000, not " + frames);
                    }
            }
        }

        /** Checks the files and the output folder before anything starts. */
        void check() throws UsageError {
            if (settings != null && !Files.isRegularFile(settings)) {
                throw new UsageError("settings file not found: " + settings);
            }
            if (settings != null && !Files.isReadable(settings)) {
                throw new UsageError("settings file cannot be read: " + settings);
            }
            if (media != null && !Files.isRegularFile(media)) {
                throw new UsageError("media file not found: " + media);
            }
            if (media != null && !Files.isReadable(media)) {
                throw new UsageError("media file cannot be read: " + media);
            }
            if (media != null && !startsWithPackHeader(media)) {
                throw new UsageError("media file is not an MPEG-2 program stream (no pack header at its start): "
                        + media);
            }
            out = out.toAbsolutePath().normalize();
            if (Files.exists(out) && !Files.isDirectory(out)) {
                throw new UsageError("output folder " + out + " is a file, not a folder");
            }
            try {
                Files.createDirectories(out);
                Path probe = Files.createTempFile(out, ".probe", ".tmp");
                Files.delete(probe);
            } catch (AccessDeniedException e) {
                throw new UsageError("output folder is not writable: " + out);
            } catch (FileSystemException e) {
                String why = e.getReason() != null ? e.getReason() : e.getClass().getSimpleName();
                throw new UsageError("cannot create or write the output folder " + out + " (" + why + ")");
            } catch (IOException | SecurityException e) {
                throw new UsageError("cannot use output folder " + out + ": " + e);
            }
        }

        private static boolean startsWithPackHeader(Path file) throws UsageError {
            byte[] head = new byte[4];
            try (InputStream in = Files.newInputStream(file)) {
                if (in.readNBytes(head, 0, 4) < 4) {
                    return false;
                }
            } catch (IOException e) {
                throw new UsageError("media file cannot be read: " + file + " (" + e.getMessage() + ")");
            }
            return head[0] == 0 && head[1] == 0 && head[2] == 1 && (head[3] & 0xFF) == 0xBA;
        }

        String settingsName() {
            return settings == null ? "built-in demo.properties" : settings.toString();
        }

        Properties readSettings() throws UsageError {
            Properties p = new Properties();
            try (InputStream in = settings == null ? Demo.class.getResourceAsStream("demo.properties")
                    : Files.newInputStream(settings)) {
                if (in == null) {
                    throw new UsageError("the built-in demo.properties is missing from the jar; pass --settings");
                }
                p.load(in);
            } catch (IllegalArgumentException e) {
                throw new UsageError("settings file " + settingsName() + " is malformed: " + e.getMessage());
            } catch (IOException e) {
                throw new UsageError("cannot read settings file " + settingsName() + ": " + e.getMessage());
            }
            return p;
        }
    }
}
