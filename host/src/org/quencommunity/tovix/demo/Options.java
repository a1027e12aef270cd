package org.quencommunity.tovix.demo;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Properties;

/** The demo's command line: its options, their checks, and the settings file they name. */
final class Options {
    static final String USAGE = String.join(
        "\n",
        "usage: demo [--settings FILE] [--out DIR] [--media FILE] [--image PNG]... [--frames N]",
        "            [--base DIR] [--help]", "",
        "Runs a host session against the simulated card: settings, OSD frames, a",
        "recording played while it is still being written, a finished file, and the",
        "tear-down. Prints one line per step and a summary.", "",
        "  --settings FILE  host settings as a .properties file (default: the demo's own)",
        "  --out DIR        output folder for the logs, OSD snapshots and report.html",
        "                   (default: build/default/demo-out under make demo, else demo-out;",
        "                   the outputs of an earlier session there are replaced, nothing else)",
        "  --media FILE     play this MPEG program stream instead of the generated recording",
        "  --image PNG      also send this picture as an OSD frame (scaled down to fit",
        "                   720x480 when larger); may be given more than once",
        "  --frames N       main-menu frames to send before the other OSD frames (default 6)",
        "  --base DIR       the folder relative paths are taken from (default: the current",
        "                   folder; make demo gives the folder it was started in)",
        "  --help           this text", "");

    /** A failure of the command line: a message and exit status 2. */
    static final class UsageError extends Exception {
        private static final long serialVersionUID = 1L;

        UsageError(String message) { super(message); }
    }

    /** The folder the relative paths of the command line are taken from. */
    Path base = Paths.get("").toAbsolutePath();
    Path settings;
    Path out = Paths.get("demo-out");
    Path media;
    /** What --media names, once checked: "MPEG-2 program stream" or "MPEG-1 system stream". */
    String mediaKind;
    /** Whether --media holds a video stream at all (a video start code in its first megabytes). */
    boolean mediaHasVideo;
    /** Whether that video is MPEG video (a sequence header); true when there is none. */
    boolean mediaVideoIsMpeg = true;
    final List<Path> images = new ArrayList<>();
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
            case "--image":
            case "--frames":
            case "--base":
                if (value == null) {
                    if (i + 1 >= args.length) {
                        throw new UsageError("option " + a + " needs a value");
                    }
                    value = args[++i];
                }
                o.set(a, value);
                break;
            default:
                throw new UsageError(
                    (a.startsWith("-") ? "unknown option " : "unexpected argument ") + "'" +
                    args[i] + "'");
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
        case "--image":
            images.add(Paths.get(value));
            break;
        case "--base":
            base = Paths.get(value).toAbsolutePath().normalize();
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
        if (!Files.isDirectory(base)) {
            throw new UsageError("base folder not found: " + base);
        }
        settings = resolve(settings);
        media = resolve(media);
        images.replaceAll(this::resolve);
        out = resolve(out);
        checkReadable("settings file", settings);
        checkReadable("media file", media);
        for (Path image : images) {
            checkReadable("image", image);
        }
        refuseOutput("settings file", settings);
        refuseOutput("media file", media);
        for (Path image : images) {
            refuseOutput("image", image);
        }
        if (settings != null) {
            checkText(settings);
        }
        if (media != null) {
            if (size(media) == 0) {
                throw new UsageError("media file is empty: " + media);
            }
            byte[] head = readHead(media, 4 << 20);
            mediaKind = streamKind(head);
            if (mediaKind == null) {
                throw new UsageError(
                    "media file is not an MPEG program stream (no pack header at its start): " +
                    media);
            }
            mediaHasVideo = hasVideoStartCode(head);
            mediaVideoIsMpeg = !mediaHasVideo || hasSequenceHeader(head);
        }
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
            throw new UsageError("cannot create or write the output folder " + out + " (" + why +
                                 ")");
        } catch (IOException | SecurityException e) {
            throw new UsageError("cannot use output folder " + out + ": " + e);
        }
    }

    /** A path of the command line, taken from the base folder when relative. */
    private Path resolve(Path p) {
        return p == null ? null : base.resolve(p).toAbsolutePath().normalize();
    }

    private static void checkReadable(String what, Path file) throws UsageError {
        if (file != null && Files.isDirectory(file)) {
            throw new UsageError(what + " is a directory, not a file: " + file);
        }
        if (file != null && !Files.isRegularFile(file)) {
            throw new UsageError(what + " not found: " + file);
        }
        if (file != null && !Files.isReadable(file)) {
            throw new UsageError(what + " cannot be read: " + file);
        }
    }

    /**
     * The files a session writes into its output folder, by name: a file given as input that
     * matches them would be replaced or removed by the run.
     */
    static final String OUTPUT_NAMES =
        "tovix_log_\\d+\\.txt|dshow_log\\.txt|report\\.html|recording\\.mpg|finished\\.mpg";
    static final String SNAPSHOT_NAMES = "osd_\\d+\\.png";

    /** Whether the run would write or remove `file` (symbolic links followed). */
    boolean isOutput(Path file) {
        Path folder = realPath(file.getParent());
        String name = file.getFileName().toString();
        Path outReal = realPath(out);
        return folder != null && outReal != null &&
            ((folder.equals(outReal) && name.matches(OUTPUT_NAMES)) ||
             (folder.equals(outReal.resolve("snapshots")) && name.matches(SNAPSHOT_NAMES)) ||
             (folder.equals(outReal.resolve(Screens.FOLDER)) && name.matches(Screens.NAMES)));
    }

    private void refuseOutput(String what, Path file) throws UsageError {
        if (file == null) {
            return;
        }
        Path real = realPath(file);
        if (isOutput(file) || (real != null && isOutput(real))) {
            throw new UsageError(
                what + " " + file + " is one of the demo's outputs in " + out +
                ", which this run replaces; copy it elsewhere or pass another --out");
        }
    }

    private static Path realPath(Path p) {
        try {
            return p == null ? null : p.toRealPath();
        } catch (IOException e) {
            return null;
        }
    }

    private static long size(Path file) throws UsageError {
        try {
            return Files.size(file);
        } catch (IOException e) {
            throw new UsageError("cannot read " + file + ": " + e.getMessage());
        }
    }

    /** A settings file is text: a control byte (other than tab, line ends, form feed) is not. */
    private static void checkText(Path file) throws UsageError {
        byte[] bytes;
        try {
            bytes = Files.readAllBytes(file);
        } catch (IOException e) {
            throw new UsageError("settings file cannot be read: " + file + " (" + e.getMessage() +
                                 ")");
        }
        for (int i = 0; i < bytes.length; i++) {
            int b = bytes[i] & 0xFF;
            if (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f') {
                throw new UsageError(String.format(
                    "settings file is not a text .properties file (byte 0x%02X at offset %d): %s",
                    b, i, file));
            }
        }
    }

    private static byte[] readHead(Path file, int limit) throws UsageError {
        try (InputStream in = Files.newInputStream(file)) {
            return in.readNBytes(limit);
        } catch (IOException e) {
            throw new UsageError("media file cannot be read: " + file + " (" + e.getMessage() +
                                 ")");
        }
    }

    /**
     * The layer a pack header at the start announces: its fifth byte starts
     * with the bits 01 in an MPEG-2 program stream and 0010 in an MPEG-1
     * system stream. Null when there is no pack header.
     */
    static String streamKind(byte[] head) {
        if (head.length < 5 || head[0] != 0 || head[1] != 0 || head[2] != 1 ||
            (head[3] & 0xFF) != 0xBA) {
            return null;
        }
        if ((head[4] & 0xC0) == 0x40) {
            return "MPEG-2 program stream";
        }
        return (head[4] & 0xF0) == 0x20 ? "MPEG-1 system stream" : null;
    }

    /** Whether a video elementary stream's packet start code (00 00 01 E0..EF) appears. */
    static boolean hasVideoStartCode(byte[] data) {
        for (int i = 0; i + 3 < data.length; i++) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 &&
                (data[i + 3] & 0xF0) == 0xE0) {
                return true;
            }
        }
        return false;
    }

    /**
     * Whether an MPEG video sequence header (00 00 01 B3) appears: the card decodes MPEG-1 and
     * MPEG-2 video only, and every such stream starts with one.
     */
    static boolean hasSequenceHeader(byte[] data) {
        for (int i = 0; i + 3 < data.length; i++) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 &&
                (data[i + 3] & 0xFF) == 0xB3) {
                return true;
            }
        }
        return false;
    }

    String settingsName() {
        return settings == null ? "built-in demo.properties" : settings.toString();
    }

    Properties readSettings() throws UsageError {
        Properties p = new Properties();
        try (InputStream in = settings == null ? Demo.class.getResourceAsStream("demo.properties")
                                               : Files.newInputStream(settings)) {
            if (in == null) {
                throw new UsageError(
                    "the built-in demo.properties is missing from the jar; pass --settings");
            }
            p.load(in);
        } catch (IllegalArgumentException e) {
            throw new UsageError("settings file " + settingsName() +
                                 " is malformed: " + e.getMessage());
        } catch (IOException e) {
            throw new UsageError("cannot read settings file " + settingsName() + ": " +
                                 e.getMessage());
        }
        return p;
    }
}
