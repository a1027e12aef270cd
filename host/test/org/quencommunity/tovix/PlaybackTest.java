package org.quencommunity.tovix;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.List;
import org.quencommunity.tovix.media.ProgramStreamWriter;
import org.quencommunity.tovix.sim.SimControl;

/**
 * Generated program streams played through the natives on the simulated
 * graph's manual clock: the push graph to the end, seek, rate, volume and
 * mute; a rendered graph stopped early; a recording that grows until
 * inactiveFile. Every graph object is gone after free, everything after
 * closeOSD.
 */
public final class PlaybackTest {
    private static final int PLAYING = 2;
    private static final int PAUSED = 3;
    private static final int STOPPED = 4;
    private static final int ENDED = 5;

    private PlaybackTest() {}

    public static void main(String[] args) throws IOException {
        Checks c = new Checks("PlaybackTest");
        TovixAPI.clearProperties();
        TovixAPI.setProperty("version", "playback test");
        TovixAPI.setProperty("tovix/verbose_log", "true");
        System.loadLibrary("TovixAPI");
        if (!c.that("the simulated world's controls load",
                    SimControl.load() && SimControl.has("graph"))) {
            c.finish();
        }
        SimControl.setManualClock(true);
        c.that("openOSD", TovixAPI.openOSD());

        Path clip = write("clip.mpg", 720, 480, 30, 6.0);
        pushGraphToTheEnd(c, clip);
        // A name beyond ASCII: the host hands it over in modified UTF-8 and
        // the file must still open.
        renderedGraphStoppedEarly(
            c, write("Nachrichten – café 東京 \uD83C\uDFAC.mpg", 352, 288, 25, 4.0));
        growingRecording(c);

        TovixAPI.closeOSD();
        c.equal("nothing alive after closeOSD", "", SimControl.describeLiveObjects());
        c.finish();
    }

    private static void pushGraphToTheEnd(Checks c, Path clip) {
        TovixAPI.load((byte)1, (byte)31, "MPEG2", clip.toString(), "mediaserver", false, 0L);
        c.equal("state after load", 1, TovixAPI.getState());
        c.equal(
            "the push graph", List.of("Shared Source", "MPEG DeMux", "Sigma Decoder"),
            sorted(SimControl.graphFilterNames(), "Shared Source", "MPEG DeMux", "Sigma Decoder"));
        long duration = TovixAPI.getDurationMillis();
        c.that("duration of a 6 s clip", duration >= 5900 && duration <= 6000, duration + " ms");
        c.equal("video width from the sequence header", 720, TovixAPI.getVideoWidth());
        c.equal("video height from the sequence header", 480, TovixAPI.getVideoHeight());

        c.that("play", TovixAPI.play());
        c.equal("state while playing", PLAYING, TovixAPI.getState());
        c.that("play again is refused", !TovixAPI.play());
        SimControl.advanceClock(1000);
        c.near("position after 1 s", 1000, TovixAPI.getMediaTimeMillis(), 40);

        c.equal("seek answers its millis", 500L, TovixAPI.seek(500));
        c.near("position after seek", 500, TovixAPI.getMediaTimeMillis(), 40);
        c.near("rate 2x is taken", 2.0, TovixAPI.setPlaybackRate(2.0f), 1e-6);
        c.near("getPlaybackRate", 2.0, TovixAPI.getPlaybackRate(), 1e-6);
        SimControl.advanceClock(1000);
        c.near("position after 1 s at 2x", 2500, TovixAPI.getMediaTimeMillis(), 60);
        c.near("back to normal speed", 1.0, TovixAPI.setPlaybackRate(1.0f), 1e-6);

        c.near("setVolume(0.5) reads back from the graph", 0.50057, TovixAPI.setVolume(0.5f), 1e-4);
        c.near("getVolume", 0.50057, TovixAPI.getVolume(), 1e-4);
        TovixAPI.setMute(true);
        c.that("muted", TovixAPI.getMute());
        c.near("the level is kept while muted", 0.50057, TovixAPI.getVolume(), 1e-4);
        TovixAPI.setMute(false);
        TovixAPI.setVideoRectangles(40, 30, 640, 360);

        c.that("pause", TovixAPI.pause());
        c.equal("state while paused", PAUSED, TovixAPI.getState());
        long paused = TovixAPI.getMediaTimeMillis();
        SimControl.advanceClock(1000);
        c.near("the position stands while paused", paused, TovixAPI.getMediaTimeMillis(), 1);
        c.that("play resumes", TovixAPI.play());
        SimControl.advanceClock(10_000);
        c.equal("the clip plays to its end", ENDED, TovixAPI.getState());
        c.that("completion is logged",
               Checks.maskedLog().stream().anyMatch(
                   l -> l.startsWith(Checks.line("updateState", "Received media event 1("))));
        c.that("an ended clip does not play again", !TovixAPI.play());

        TovixAPI.free();
        c.that("the graph is gone after free", !SimControl.graphAlive());
        c.equal("after free only the OSD connection's objects are left",
                List.of("DecoderFilter", "OsdEnumerator", "OsdObject"), liveClasses());
    }

    private static void renderedGraphStoppedEarly(Checks c, Path clip) {
        TovixAPI.load((byte)2, (byte)0, "video/mpeg", clip.toString(), null, false, 0L);
        c.equal("state after a rendered load", 1, TovixAPI.getState());
        List<String> filters = Arrays.asList(SimControl.graphFilterNames());
        c.that("the decoder is in the rendered graph", filters.contains("Sigma Decoder"));
        // The graph keeps a filter's name in 127 characters: a deep folder
        // gives a cut one.
        String path = clip.toString();
        String sourceName = path.length() > 127 ? path.substring(0, 127) : path;
        c.that("the source filter is named after the file", filters.contains(sourceName),
               filters.toString());
        c.that("no shared source in a rendered graph",
               !Arrays.asList(SimControl.graphFilterNames()).contains("Shared Source"));
        c.equal("video width of the rendered clip", 352, TovixAPI.getVideoWidth());
        c.that("play", TovixAPI.play());
        SimControl.advanceClock(1500);
        c.near("position in the rendered clip", 1500, TovixAPI.getMediaTimeMillis(), 40);
        c.that("stop", TovixAPI.stop());
        c.equal("state after stop", STOPPED, TovixAPI.getState());
        c.equal("no position once stopped", 0L, TovixAPI.getMediaTimeMillis());
        TovixAPI.free();
        c.that("the graph is gone after free", !SimControl.graphAlive());
        c.equal("nothing of the rendered graph is left",
                List.of("DecoderFilter", "OsdEnumerator", "OsdObject"), liveClasses());
    }

    private static void growingRecording(Checks c) throws IOException {
        Path file = Paths.get("recording.mpg").toAbsolutePath();
        try (OutputStream out = Files.newOutputStream(file)) {
            ProgramStreamWriter w = new ProgramStreamWriter(out, 720, 480, 30, 0.0);
            w.writeSeconds(2.0);
            TovixAPI.load((byte)1, (byte)31, "MPEG2", file.toString(), "localhost", true, 0L);
            long first = TovixAPI.getDurationMillis();
            c.that("duration of the first 2 s", first >= 1900 && first <= 2000, first + " ms");
            c.that("play the recording", TovixAPI.play());
            w.writeSeconds(3.0);
            long grown = TovixAPI.getDurationMillis();
            c.that("the duration grows with the file", grown >= 4900 && grown <= 5000,
                   grown + " ms");
            w.finish();
        }
        c.equal("inactiveFile answers the shared source's result", 0, TovixAPI.inactiveFile());
        SimControl.advanceClock(6000);
        c.equal("the finished recording plays to its end", ENDED, TovixAPI.getState());
        TovixAPI.free();
        c.equal("nothing of the push graph is left",
                List.of("DecoderFilter", "OsdEnumerator", "OsdObject"), liveClasses());
    }

    private static Path write(String name, int w, int h, int fps, double seconds)
        throws IOException {
        Path file = Paths.get(name).toAbsolutePath();
        try (OutputStream out = Files.newOutputStream(file)) {
            ProgramStreamWriter writer = new ProgramStreamWriter(out, w, h, fps, 0.0);
            writer.writeSeconds(seconds);
            writer.finish();
        }
        return file;
    }

    /** The classes of the simulated objects alive, sorted. */
    private static List<String> liveClasses() {
        return Arrays.stream(SimControl.liveObjects())
            .map(o -> o.replaceAll(" refs=.*", ""))
            .sorted()
            .toList();
    }

    /** The names present, in the given order; absent ones are left out. */
    private static List<String> sorted(String[] names, String... order) {
        List<String> present = Arrays.asList(names);
        return Arrays.stream(order).filter(present::contains).toList();
    }
}
