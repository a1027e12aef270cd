package org.quencommunity.tovix;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Objects;

/**
 * The little that the JVM tests need from a test framework: named checks that
 * keep going after a failure, one line per failure, and an exit status.
 */
public final class Checks {
    private final String suite;
    private int passed;
    private final List<String> failures = new ArrayList<>();

    public Checks(String suite) { this.suite = suite; }

    public boolean that(String what, boolean ok) { return that(what, ok, ""); }

    public boolean that(String what, boolean ok, String detail) {
        if (ok) {
            passed++;
        } else {
            String line = what + (detail.isEmpty() ? "" : ": " + detail);
            failures.add(line);
            System.out.println("FAIL " + suite + ": " + line);
        }
        return ok;
    }

    public boolean equal(String what, Object expected, Object actual) {
        return that(what, Objects.equals(expected, actual),
                    "expected <" + expected + "> but was <" + actual + ">");
    }

    public boolean equal(String what, Object expected, Object actual, String context) {
        return that(what, Objects.equals(expected, actual),
                    "expected <" + expected + "> but was <" + actual + ">; " + context);
    }

    public boolean near(String what, double expected, double actual, double tolerance) {
        return that(what, Math.abs(expected - actual) <= tolerance,
                    "expected " + expected + " +/- " + tolerance + " but was " + actual);
    }

    public boolean atLeast(String what, double floor, double actual) {
        return that(what, actual >= floor, "expected at least " + floor + " but was " + actual);
    }

    /** Reports and exits: 0 when every check passed, 1 otherwise. */
    public void finish() {
        System.out.println(suite + ": " + passed + " checks passed, " + failures.size() +
                           " failed");
        System.out.flush();
        System.exit(failures.isEmpty() ? 0 : 1);
    }

    // ---- The plug-in log ----

    /** The plug-in log this process writes in the working directory. */
    public static Path pluginLog() {
        return Paths.get("tovix_log_" + ProcessHandle.current().pid() + ".txt").toAbsolutePath();
    }

    /**
     * The plug-in log's lines with every time stamp replaced by HH:MM:SS, so
     * that lines can be compared whole. An absent log reads as no lines.
     */
    public static List<String> maskedLog() {
        Path log = pluginLog();
        if (!Files.exists(log)) {
            return List.of();
        }
        try {
            List<String> masked = new ArrayList<>();
            for (String line : Files.readAllLines(log, StandardCharsets.UTF_8)) {
                masked.add(line.replaceAll("\\b\\d\\d:\\d\\d:\\d\\d\\b", "HH:MM:SS")
                               .replaceAll("\\b\\d\\d/\\d\\d/\\d\\d\\d\\d\\b", "MM/DD/YYYY"));
            }
            return masked;
        } catch (IOException e) {
            throw new IllegalStateException("cannot read " + log + ": " + e.getMessage(), e);
        }
    }

    /** A log line as written by logMessage or logVerbose, time stamp masked. */
    public static String line(String tag, String message) {
        return "HH:MM:SS - <" + tag + ">: " + message;
    }

    /** How many lines of the list equal the line. */
    public static int count(List<String> lines, String line) {
        int n = 0;
        for (String l : lines) {
            if (l.equals(line)) {
                n++;
            }
        }
        return n;
    }
}
