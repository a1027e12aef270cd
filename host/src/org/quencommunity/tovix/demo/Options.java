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
        "usage: demo [--settings FILE] [--out DIR] [--media FILE] [--image PNG]... [--frames N] [--help]",
        "", "Runs a host session against the simulated card: settings, OSD frames, a",
        "recording played while it is still being written, a finished file, and the",
        "tear-down. Prints one line per step and a summary.", "",
        "  --settings FILE  host settings as a .properties file (default: the demo's own)",
        "  --out DIR        output folder for the logs, OSD snapshots and report.html",
        "                   (default: demo-out; an earlier session's outputs are replaced)",
        "  --media FILE     play this MPEG program stream instead of the generated recording",
        "  --image PNG      also send this picture as an OSD frame (scaled down to fit",
        "                   720x480 when larger); may be given more than once",
        "  --frames N       main-menu frames to send before the other OSD frames (default 6)",
        "  --help           this text", "");

    /** A failure of the command line: a message and exit status 2. */
    static final class UsageError extends Exception {
        private static final long serialVersionUID = 1L;

        UsageError(String message) { super(message); }
    }

    Path settings;
    Path out = Paths.get("demo-out");
    Path media;
    /** What --media names, once checked: "MPEG-2 program stream" or "MPEG-1 system stream". */
    String mediaKind;
    /** Whether --media holds a video stream at all (a video start code in its first megabytes). */
    boolean mediaHasVideo;
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
        checkReadable("settings file", settings);
        checkReadable("media file", media);
        for (Path image : images) {
            checkReadable("image", image);
        }
        if (media != null) {
            byte[] head = readHead(media, 4 << 20);
            mediaKind = streamKind(head);
            if (mediaKind == null) {
                throw new UsageError(
                    "media file is not an MPEG program stream (no pack header at its start): " +
                    media);
            }
            mediaHasVideo = hasVideoStartCode(head);
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
            throw new UsageError("cannot create or write the output folder " + out + " (" + why +
                                 ")");
        } catch (IOException | SecurityException e) {
            throw new UsageError("cannot use output folder " + out + ": " + e);
        }
    }

    private static void checkReadable(String what, Path file) throws UsageError {
        if (file != null && !Files.isRegularFile(file)) {
            throw new UsageError(what + " not found: " + file);
        }
        if (file != null && !Files.isReadable(file)) {
            throw new UsageError(what + " cannot be read: " + file);
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
