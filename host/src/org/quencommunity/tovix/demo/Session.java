package org.quencommunity.tovix.demo;

import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.image.BufferedImage;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import java.util.Set;
import java.util.TreeMap;
import javax.imageio.ImageIO;
import org.quencommunity.tovix.TovixAPI;
import org.quencommunity.tovix.media.ProgramStreamWriter;
import org.quencommunity.tovix.sim.SimControl;

/**
 * The steps of a host session, in the order the media-center host takes
 * them: settings, the OSD, a recording played while it is still being
 * written (or the user's own file), a finished file, and the tear-down.
 * Prints one line per step and gathers what the report and the summary show.
 */
final class Session {
    /** How much the report's difference images amplify the error. */
    static final int DIFF_GAIN = 8;
    /** The largest OSD frame the demo sends; larger pictures are scaled down to it. */
    static final int OSD_WIDTH = 720;
    static final int OSD_HEIGHT = 480;

    /** A failure found before the session starts: a message and exit status 1. */
    static final class Failure extends Exception {
        private static final long serialVersionUID = 1L;

        Failure(String message) { super(message); }
    }

    final Options options;
    final Report report = new Report();
    /** The library's own time per updateOSD call, without the simulated card's snapshot. */
    final List<Double> frameMillis = new ArrayList<>();
    /** The playback states seen, in order of first sight, per file played. */
    private final Map<String, Set<Integer>> statesSeen = new LinkedHashMap<>();
    /** Why the run failed; empty when it did not. */
    final List<String> failures = new ArrayList<>();
    /** Setting values the library did not take, each with what the card got instead. */
    final List<String> settingsNotTaken = new ArrayList<>();
    /** How many of those the plug-in log names; the others the library takes without a word. */
    int settingsNamedByLog;
    /** The keys the library asked the host for, with the default it gave. */
    private final Map<String, String> keysAsked = new LinkedHashMap<>();
    final Path snapshots;
    /** The plug-in log the library writes into the working directory. */
    final Path pluginLog;
    /** The generated recording; null when the user's file was played. */
    Path recording;
    int snapshotsWritten;
    private final long startNanos = System.nanoTime();
    private String phase;
    private int step;
    private boolean cardView;
    private boolean graphView;
    private Screens screens = new Screens(null, false);
    /** The recording being written while it plays; null otherwise. */
    private Recorder recorder;

    Session(Options options) {
        this.options = options;
        snapshots = options.out.resolve("snapshots");
        pluginLog = Paths.get("").toAbsolutePath().resolve("tovix_log_" +
                                                           ProcessHandle.current().pid() + ".txt");
    }

    void run() throws IOException, Failure, Options.UsageError {
        List<OsdScenes.Frame> frames = frames();
        Properties settings = applySettings();
        removeEarlierOutputs();
        loadLibrary();

        boolean opened = TovixAPI.openOSD();
        noteCard("with the OSD open");
        if (cardView) {
            report.facts.put("OSD", SimControl.osdName());
        }
        progress("openOSD", "-> " + opened + (cardView ? "  (card: " + card().words() + ")" : ""));
        checkSettingsTaken(settings);

        for (OsdScenes.Frame frame : frames) {
            sendFrame(frame);
        }
        screen("OSD frames sent", false);
        if (playFirstFile()) {
            playFinishedFile();
        }

        TovixAPI.closeOSD();
        noteCard("after closeOSD");
        if (cardView) {
            report.facts.put("card after closeOSD",
                             report.facts.get("card after closeOSD") +
                                 "; the library restored the output flags it found on the card "
                                 + "at its first OSD connection (output, standard, connector), "
                                 + "and left the modes, aspect and audio as set");
        }
        progress("closeOSD",
                 "done" + (cardView ? "  (display " + (SimControl.osdDisplayOn() ? "on" : "off") +
                                          ", card: " + card().words() +
                                          "; output flags as first found restored)"
                                    : ""));
        if (cardView) {
            report.liveObjects = SimControl.describeLiveObjects();
        }
        report.statesSeen = statesSummary();
    }

    // ---- Settings and the library ----

    private Properties applySettings() throws Options.UsageError {
        Properties settings = options.readSettings();
        report.settings = new TreeMap<>();
        for (String key : settings.stringPropertyNames()) {
            report.settings.put(key, settings.getProperty(key));
        }
        // The host answers the library from the file, and notes which keys
        // the library asks for and with which default.
        TovixAPI.setPropertySource((key, def) -> {
            synchronized (keysAsked) {
                keysAsked.putIfAbsent(key, def);
            }
            return settings.getProperty(key, def);
        });
        progress("settings", options.settingsName() + ": " + settings.size() + " keys (" +
                                 describeOutput(settings) + ")");
        return settings;
    }

    private void loadLibrary() throws Failure, IOException {
        try {
            System.loadLibrary("TovixAPI");
        } catch (UnsatisfiedLinkError e) {
            throw new Failure("cannot load the library libTovixAPI.so (java.library.path=" +
                              System.getProperty("java.library.path") + "): " + e.getMessage());
        }
        if (SimControl.load()) {
            cardView = SimControl.has("card");
            graphView = SimControl.has("graph");
            screens = new Screens(options.out.resolve(Screens.FOLDER), SimControl.has("screen"));
        }
        Files.createDirectories(snapshots);
        noteCard("at power-on");
        progress("world", "simulated card view " + (cardView ? "on" : "not in this build") +
                              ", graph view " + (graphView ? "on" : "not in this build"));
    }

    /**
     * Names each setting value the library did not take: those its log refused, with what the
     * card holds instead; then those it takes without a word (a key it never asks for, a switch
     * that is neither on nor off, a mode number the card's profile does not describe).
     */
    private void checkSettingsTaken(Properties settings) throws IOException {
        Set<String> named = new LinkedHashSet<>();
        for (PluginLog.Refused r : PluginLog.of(PluginLog.read(pluginLog)).refusedSettings) {
            if (!named.add(r.key)) {
                continue;
            }
            String value = r.value != null ? r.value : settings.getProperty(r.key, "");
            if (Card.modeSection(r.key) != null && r.value != null) {
                notTaken(modeNotInProfile(r.key, value));
            } else {
                String got = cardView ? card().valueFor(r.key) : null;
                notTaken(r.key + "='" + value + "' not accepted by the library; the card got " +
                         (got != null ? got : "its default"));
            }
        }
        settingsNamedByLog = settingsNotTaken.size();
        Map<String, String> asked;
        synchronized (keysAsked) {
            asked = new LinkedHashMap<>(keysAsked);
        }
        for (String key : new TreeMap<>(report.settings).keySet()) {
            String value = settings.getProperty(key);
            if (named.contains(key)) {
                continue;
            }
            String def = asked.get(key);
            if (def == null) {
                if (key.startsWith("tovix/")) {
                    notTaken(key + "='" + value + "' is not a setting the library reads; ignored");
                }
            } else if (isSwitch(def) && !isSwitch(value)) {
                notTaken(key + "='" + value + "' is neither true nor false; the library reads it "
                         + "as off (a switch is on for true or yes, in any case)");
            } else if (cardView && Card.modeSection(key) != null) {
                // The library took the number: the card holds it.
                if (profileMode(key, card().valueFor(key)) == null) {
                    notTaken(modeNotInProfile(key, value));
                }
            }
        }
    }

    /** The values of a switch setting that say on or off. */
    private static final Set<String> SWITCHES = Set.of("true", "false", "yes", "no");

    private static boolean isSwitch(String value) {
        return SWITCHES.contains(value.toLowerCase(java.util.Locale.ROOT));
    }

    private void notTaken(String line) {
        settingsNotTaken.add(line);
        progress("setting", line);
    }

    /** The description the card's profile holds for a mode number of a mode setting, or null. */
    private static String profileMode(String key, String number) {
        return SimControl.profileValue(Card.modeSection(key), "mode" + number);
    }

    /** "tovix/hdmode='99' is not a mode of the card's profile", with the modes it has. */
    private String modeNotInProfile(String key, String value) {
        String section = Card.modeSection(key);
        List<String> modes = new ArrayList<>();
        if (cardView) {
            for (int n = 0; n < Card.PROFILE_MODES; n++) {
                String d = SimControl.profileValue(section, "mode" + n);
                if (d != null) {
                    modes.add(n + " (" + d + ")");
                }
            }
        }
        String got = cardView ? card().valueFor(key) : null;
        return key + "='" + value + "' is not a mode of the card's profile (section " + section +
            (modes.isEmpty() ? ", which lists none" : "; its modes: " + String.join(", ", modes)) +
            "); the card got " + (got != null ? got : "its default");
    }

    /** The list, in the output folder, of the files the last session wrote there. */
    static final String MANIFEST = ".demo-outputs";

    /**
     * The outputs of an earlier session would be mistaken for this one's: those it listed as
     * written are removed, and nothing else.
     */
    private void removeEarlierOutputs() throws IOException {
        Path manifest = options.out.resolve(MANIFEST);
        if (Files.isRegularFile(manifest)) {
            for (String name : Files.readAllLines(manifest, StandardCharsets.UTF_8)) {
                Path p = options.out.resolve(name).normalize();
                if (!name.isEmpty() && options.isOutput(p)) {
                    Files.deleteIfExists(p);
                }
            }
        }
        Files.deleteIfExists(manifest);
    }

    /** Lists a file of the output folder as this session's, for the next one to remove. */
    void wrote(Path file) throws IOException {
        Files.writeString(
            options.out.resolve(MANIFEST), options.out.relativize(file.toAbsolutePath()) + "\n",
            StandardCharsets.UTF_8, StandardOpenOption.CREATE, StandardOpenOption.APPEND);
    }

    // ---- OSD frames ----

    private List<OsdScenes.Frame> frames() throws Options.UsageError {
        OsdScenes scenes = new OsdScenes();
        List<OsdScenes.Frame> frames = new ArrayList<>();
        for (int i = 0; i < options.frames; i++) {
            frames.add(scenes.menu(i, OSD_WIDTH, OSD_HEIGHT));
        }
        frames.add(scenes.photoViewer(OSD_WIDTH, OSD_HEIGHT));
        frames.add(scenes.volumePopup(480, 160, 65));
        frames.add(scenes.flatGuide(OSD_WIDTH, OSD_HEIGHT));
        for (Path image : options.images) {
            frames.add(userPicture(image));
        }
        // What stays over the video while it plays.
        frames.add(scenes.nowPlaying(OSD_WIDTH, OSD_HEIGHT));
        return frames;
    }

    /** The user's picture as an ARGB frame, scaled down to fit the OSD when larger. */
    private static OsdScenes.Frame userPicture(Path file) throws Options.UsageError {
        BufferedImage read;
        try {
            read = ImageIO.read(file.toFile());
        } catch (IOException e) {
            throw new Options.UsageError("cannot read the image " + file + ": " + e.getMessage());
        }
        if (read == null) {
            throw new Options.UsageError(
                "the image " + file + " is not a picture this JVM can read (PNG, JPEG, GIF, BMP)");
        }
        double scale = Math.min(1.0, Math.min((double)OSD_WIDTH / read.getWidth(),
                                              (double)OSD_HEIGHT / read.getHeight()));
        int w = Math.max(1, (int)Math.round(read.getWidth() * scale));
        int h = Math.max(1, (int)Math.round(read.getHeight() * scale));
        BufferedImage image = new BufferedImage(w, h, BufferedImage.TYPE_INT_ARGB);
        Graphics2D g = image.createGraphics();
        g.setRenderingHint(RenderingHints.KEY_INTERPOLATION,
                           RenderingHints.VALUE_INTERPOLATION_BICUBIC);
        g.drawImage(read, 0, 0, w, h, null);
        g.dispose();
        String name = file.getFileName().toString().replaceFirst("\\.[^.]*$", "");
        String description =
            "your picture " + file +
            (scale < 1 ? " (" + read.getWidth() + "x" + read.getHeight() + ", scaled down)" : "");
        return new OsdScenes.Frame(name.length() > 14 ? name.substring(0, 11) + "..." : name,
                                   description, image);
    }

    private void sendFrame(OsdScenes.Frame frame) throws IOException {
        int w = frame.image.getWidth();
        int h = frame.image.getHeight();
        int[] pixels = frame.pixels();
        // Only the library's call is timed: what a host waits for with a real card.
        long t0 = System.nanoTime();
        boolean taken = TovixAPI.updateOSD(pixels, w, h, 0, 0, w, h, 0L, 0L);
        double ms = (System.nanoTime() - t0) / 1e6;
        frameMillis.add(ms);
        Report.FrameRow row = new Report.FrameRow(frame.name, frame.description, w, h, ms,
                                                  Images.distinctColours(pixels));
        row.hostPng = Images.pngBase64(pixels, w, h);
        String shown = "card view not available";
        if (cardView) {
            row.snapshotMillis = snapshot(taken);
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
                // The card scaled the block to the screen: the quantiser's
                // own error is the block's, and the scaled picture's apart.
                int[] header = SimControl.lastBlockHeader();
                int[] block = SimControl.osdBlockPixels();
                if (scaled && header[2] == w && header[3] == h && block.length == w * h) {
                    row.scaledPsnr = row.psnr;
                    row.psnr = Images.psnr(pixels, w, h, block, w, h);
                }
                row.diffPng =
                    Images.pngBase64(Images.difference(pixels, w, h, seen, w, h, DIFF_GAIN), w, h);
                shown = "card shows " + sw + "x" + sh + (scaled ? " (scaled)" : "") + ", PSNR " +
                        Images.formatDb(row.psnr) +
                        (Double.isNaN(row.scaledPsnr)
                             ? ""
                             : ", scaled picture " + Images.formatDb(row.scaledPsnr));
            } else {
                shown = "card shows nothing";
            }
        }
        report.frames.add(row);
        progress("updateOSD", String.format("%-14s %dx%d, %d colours -> %s  (%.1f ms; %s)",
                                            frame.name, w, h, row.colours, taken, ms, shown));
    }

    /**
     * Writes what the card shows as snapshots/osd_NNNN.png, after the timed call; answers the time
     * it took.
     */
    private double snapshot(boolean taken) throws IOException {
        if (!taken) {
            return Double.NaN;
        }
        long t0 = System.nanoTime();
        Path png = snapshots.resolve(String.format("osd_%04d.png", snapshotsWritten + 1));
        if (SimControl.writeOsdPng(png.toString())) {
            snapshotsWritten++;
        }
        wrote(png);
        return (System.nanoTime() - t0) / 1e6;
    }

    // ---- Playback: a recording still being written, or the user's file ----

    /** Plays the recording or the user's file; false when it failed and the session should stop. */
    private boolean playFirstFile() throws IOException {
        Path file;
        Recorder writer = null;
        boolean shifted;
        if (options.media != null) {
            file = options.media.toAbsolutePath();
            shifted = false;
            phase = "your file " + file.getFileName();
            String about = options.mediaKind + ", " + Files.size(file) + " bytes" +
                           (!options.mediaHasVideo      ? ", no video stream"
                            : !options.mediaVideoIsMpeg ? ", " + NOT_MPEG
                                                        : "");
            report.played.add("your file " + file + " (" + about + ")");
            progress("media", "playing your file " + file + " (" + about + ")");
        } else {
            file = options.out.resolve("recording.mpg").toAbsolutePath();
            wrote(file);
            writer = new Recorder(file, 4.0, 12.0);
            writer.start();
            recorder = writer;
            writer.awaitFirstData();
            shifted = true;
            phase = "recording";
            recording = file;
            report.played.add("the recording " + file.getFileName() +
                              ", played time-shifted while the demo "
                              + "wrote it (720x480, 30 fps, " + (int)writer.targetSeconds + " s)");
            progress("recorder",
                     String.format("writing %s: %.1f s written so far, growing to %.0f s",
                                   file.getFileName(), writer.seconds(), writer.targetSeconds));
        }
        TovixAPI.load((byte)1, (byte)31, "MPEG2-PS", file.toString(), "localhost", shifted, 0L);
        noteGraph("graph for the " + (writer != null ? "recording" : "file") + " (maj 1, min 31)");
        sample("load", true);
        long duration = TovixAPI.getDurationMillis();
        progress("load", "maj=1 min=31 shifted=" + shifted + " -> " +
                             Card.state(TovixAPI.getState()) + ", duration " + duration + " ms" +
                             graphFilters());
        if (duration <= 0) {
            return failPlaying(file, writer, "the library reports no duration for it after load");
        }
        pause(300); // the host shows what it opened a moment before it plays
        sample("opened", true);
        boolean playing = TovixAPI.play();
        sample("play", true);
        progress("play", "-> " + playing);

        for (int i = 0; i < 5; i++) {
            pause(250);
            sample("poll", true);
            int state = TovixAPI.getState();
            long position = TovixAPI.getMediaTimeMillis();
            progress("poll", String.format("position %d ms of %d ms, %s%s", position,
                                           TovixAPI.getDurationMillis(), Card.state(state),
                                           writer != null ? String.format(", recording at %.1f s",
                                                                          writer.seconds())
                                                          : ""));
            // A file of more than a second that has ended by the first poll did not play.
            long length = TovixAPI.getDurationMillis();
            if (i == 0 && state == Card.ENDED && length > 1000) {
                return failPlaying(file, writer,
                                   "it ended at once, at " + position + " ms of " + length + " ms");
            }
        }
        long seekTo = 2000;
        progress("seek", seekTo + " -> " + TovixAPI.seek(seekTo) + ", position now " +
                             TovixAPI.getMediaTimeMillis() + " ms");
        sample("seek", true);
        float rate = TovixAPI.setPlaybackRate(2.0f);
        progress("setPlaybackRate",
                 "2.0 -> " + rate + " (getPlaybackRate " + TovixAPI.getPlaybackRate() + ")");
        sample("rate 2x", true);
        float level = TovixAPI.setVolume(0.8f);
        progress("setVolume", "0.8 -> " + level + " (getVolume " + TovixAPI.getVolume() + ")");
        TovixAPI.setMute(true);
        progress("setMute", "true -> getMute " + TovixAPI.getMute());
        TovixAPI.setMute(false);
        progress("setMute", "false -> getMute " + TovixAPI.getMute());
        TovixAPI.setVideoRectangles(40, 30, 640, 360);
        String size = TovixAPI.getVideoWidth() + "x" + TovixAPI.getVideoHeight();
        String noVideo =
            options.media != null && !options.mediaHasVideo
                ? " (the file holds no video stream: this is the library's default size)"
                : "";
        progress("setVideoRectangles", "(40, 30) 640x360 -> video is " + size + noVideo);
        screen("setVideoRectangles", true);
        report.videoSize = size + noVideo;

        if (writer != null) {
            while (writer.isAlive()) {
                pause(250);
                sample("growing", true);
            }
            writer.rethrow();
            progress("recorder", String.format("finished: %.1f s, %d bytes", writer.seconds(),
                                               Files.size(file)));
            int inactive = TovixAPI.inactiveFile();
            sample("inactiveFile", true);
            progress("inactiveFile",
                     "-> " + inactive + ", duration now " + TovixAPI.getDurationMillis() + " ms");
        }
        TovixAPI.setPlaybackRate(1.0f);
        duration = TovixAPI.getDurationMillis();
        if (duration > 1500) {
            TovixAPI.seek(duration - 1200);
            sample("seek to end", true);
            progress("seek", (duration - 1200) + " (1.2 s before the end)");
        }
        playToEnd(playing, 8000);
        free();
        progress("free", Card.state(TovixAPI.getState()) +
                             (graphView ? ", graph alive: " + SimControl.graphAlive() : ""));
        return true;
    }

    /** What the demo says of a file whose video stream holds no MPEG sequence header. */
    static final String NOT_MPEG = "its video is not MPEG video (no MPEG sequence header), and the "
                                   + "card decodes MPEG-1 and MPEG-2 video only";

    /** Ends the playing of a file that does not play: a failure of the run. */
    private boolean failPlaying(Path file, Recorder writer, String why) {
        String kind = options.media != null ? " (" + options.mediaKind + ")" : "";
        if (options.media != null && !options.mediaVideoIsMpeg) {
            why += "; " + NOT_MPEG;
        }
        // What was to be played is listed apart: it did not play.
        if (!report.played.isEmpty()) {
            report.notPlayed.add(report.played.remove(report.played.size() - 1));
        }
        failures.add(file + kind + ": " + why + "; nothing was played");
        progress("FAILED", file.getFileName() + kind + ": " + why);
        free();
        progress("free", "done");
        if (writer != null) {
            writer.interrupt();
        }
        return false;
    }

    private void playToEnd(boolean playing, long limitMillis) {
        if (!playing) {
            progress("play to end", "skipped: the clip is not playing");
            return;
        }
        long until = System.currentTimeMillis() + limitMillis;
        int state = TovixAPI.getState();
        while (state != Card.ENDED && System.currentTimeMillis() < until) {
            pause(200);
            sample("to end", true);
            state = TovixAPI.getState();
        }
        sample(state == Card.ENDED ? "end" : "not ended", true);
        pause(300); // the host shows the end a moment before it lets go of the file
        sample("ended", true);
        progress("play to end",
                 state == Card.ENDED
                     ? "reached the end at " + TovixAPI.getMediaTimeMillis() + " ms"
                     : "not ended after " + limitMillis / 1000 + " s (" + Card.state(state) + ")");
    }

    // ---- Playback: a finished file through the rendered graph ----

    private void playFinishedFile() throws IOException {
        phase = "finished file";
        Path file = options.out.resolve("finished.mpg").toAbsolutePath();
        wrote(file);
        try (OutputStream out = Files.newOutputStream(file)) {
            ProgramStreamWriter w =
                new ProgramStreamWriter(out, 352, 288, 25, 0.0, ClockPictures.of(352, 288, 25));
            w.writeSeconds(5.0);
            w.finish();
        }
        report.played.add("the finished file " + file.getFileName() +
                          ", through the rendered graph (352x288, 25 fps, 5 s)");
        progress("file", "wrote " + file.getFileName() + ": 5.0 s of 352x288 at 25 fps, " +
                             Files.size(file) + " bytes");
        TovixAPI.load((byte)2, (byte)0, "video/mpeg", file.toString(), null, false, 0L);
        noteGraph("graph for the finished file (maj 2, min 0)");
        sample("load 2", true);
        String render = "";
        if (graphView) {
            String[] outcomes = SimControl.renderOutcomes();
            if (outcomes.length > 0) {
                String last = outcomes[outcomes.length - 1];
                render = ", RenderFile " + last.substring(last.lastIndexOf(" result=") + 1);
            }
        }
        progress("load", "maj=2 min=0 (rendered graph) -> " + Card.state(TovixAPI.getState()) +
                             graphFilters() + render);
        progress("video size", TovixAPI.getVideoWidth() + "x" + TovixAPI.getVideoHeight());
        pause(300);
        sample("opened", true);
        boolean playing = TovixAPI.play();
        sample("play 2", true);
        progress("play", "-> " + playing);
        pause(600);
        sample("poll", true);
        boolean paused = TovixAPI.pause();
        sample("pause", true);
        progress("pause", "-> " + paused + " at " + TovixAPI.getMediaTimeMillis() + " ms");
        pause(300);
        sample("paused", true);
        boolean resumed = TovixAPI.play();
        sample("resume", true);
        progress("play", "-> " + resumed + " (resume)");
        pause(300);
        sample("resumed", true);
        boolean stopped = TovixAPI.stop();
        sample("stop", true);
        progress("stop", "-> " + stopped + ", " + Card.state(TovixAPI.getState()));
        pause(300);
        sample("stopped", true);
        free();
        progress("free", "done");
    }

    private void free() {
        recorder = null;
        TovixAPI.free();
        sample("free", false);
    }

    // ---- What the session saw ----

    /** Records state, and while a file is loaded position and duration, for the timeline. */
    private void sample(String label, boolean loaded) {
        int state = TovixAPI.getState();
        statesSeen.computeIfAbsent(phase, k -> new LinkedHashSet<>()).add(state);
        // Position and duration are asked only of a loaded file, as a host does.
        long position = loaded ? TovixAPI.getMediaTimeMillis() : -1;
        long duration = loaded ? TovixAPI.getDurationMillis() : -1;
        report.timeline.add(new Report.Sample((System.nanoTime() - startNanos) / 1e9, state,
                                              position, duration, label, loaded ? phase : null));
        screen(label, loaded);
    }

    /** What the card's output shows after a step, for screens/ and the report's strip. */
    private void screen(String step, boolean loaded) {
        try {
            // While the recording grows, how far the writer has got: the
            // screens show playback following it.
            String aside = loaded && recorder != null && recorder.isAlive()
                               ? String.format("recording written to %.1f s", recorder.seconds())
                               : null;
            Screens.Shot shot = screens.take(step, loaded ? phase : null, aside);
            if (shot != null) {
                wrote(options.out.resolve(Screens.FOLDER).resolve(shot.file));
                report.screens.add(shot);
            }
        } catch (IOException e) {
            System.err.println("demo: the screen after " + step + ": " + e.getMessage());
        }
    }

    /** "recording: opened, playing, ended; finished file: ..." */
    String statesSummary() {
        List<String> phases = new ArrayList<>();
        for (Map.Entry<String, Set<Integer>> e : statesSeen.entrySet()) {
            List<String> names = new ArrayList<>();
            for (int s : e.getValue()) {
                names.add(Card.state(s));
            }
            phases.add(e.getKey() + ": " + String.join(", ", names));
        }
        return phases.isEmpty() ? "none" : String.join("; ", phases);
    }

    private void progress(String what, String detail) {
        step++;
        System.out.printf("[%2d] %-18s %s%n", step, what, detail);
        System.out.flush();
    }

    private String graphFilters() {
        if (!graphView || !SimControl.graphAlive()) {
            return "";
        }
        return ", graph: " + String.join(" + ", SimControl.graphFilterNames());
    }

    private static Card.Registers card() { return new Card.Registers(SimControl.registers()); }

    private void noteCard(String when) {
        if (cardView) {
            report.facts.put("card " + when, card().wordsWithFlags());
        }
    }

    private void noteGraph(String which) {
        if (graphView && SimControl.graphAlive()) {
            report.facts.put(which, String.join(" + ", SimControl.graphFilterNames()));
        }
    }

    private static String describeOutput(Properties s) {
        return "output=" + s.getProperty("tovix/output", "TV") +
            " standard=" + s.getProperty("tovix/standard", "USETV") +
            " connector=" + s.getProperty("tovix/connector", "COMPOSITE") +
            " audio=" + s.getProperty("tovix/audio", "STEREO") +
            " verbose=" + s.getProperty("tovix/verbose_log", "false");
    }

    private static void pause(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
