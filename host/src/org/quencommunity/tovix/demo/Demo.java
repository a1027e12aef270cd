package org.quencommunity.tovix.demo;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;

/**
 * A whole host session against the simulated card, as the media-center host
 * drives the library. Runs the session's steps, then leaves the logs,
 * snapshots and report.html in the output folder and prints a summary. Exits
 * 0 when the session ran, 1 when it failed (a file that did not play, the
 * library not found), 2 on a wrong command line.
 */
public final class Demo {
    private Demo() {}

    public static void main(String[] args) {
        // Figures are written the same on every machine: the summary is read
        // by scripts, and the report's chart needs SVG's decimal point.
        Locale.setDefault(Locale.Category.FORMAT, Locale.ROOT);
        Options options;
        try {
            options = Options.parse(args);
        } catch (Options.UsageError e) {
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
            Session session = new Session(options);
            session.run();
            if (!finish(session)) {
                System.exit(1);
            }
        } catch (Options.UsageError e) {
            System.err.println("demo: " + e.getMessage());
            System.exit(2);
        } catch (Session.Failure e) {
            System.err.println("demo: " + e.getMessage());
            System.exit(1);
        } catch (IOException | UncheckedIOException e) {
            System.err.println("demo: input/output error: " + e.getMessage());
            System.exit(1);
        }
    }

    /** Writes the report, prints the summary; false when the session failed. */
    private static boolean finish(Session session) throws IOException {
        Options options = session.options;
        Report report = session.report;
        // The library writes its logs into the working directory; the output
        // folder gets a copy of each.
        Path pluginLog = copyLog(session, session.pluginLog);
        Path graphLog = copyLog(session, Paths.get("").toAbsolutePath().resolve("dshow_log.txt"));
        List<String> logLines = PluginLog.read(pluginLog);
        PluginLog problems = PluginLog.of(logLines);
        report.pluginLog = pluginLog == null ? null : String.join("\n", logLines);
        report.logProblems = problems;
        report.settingsNotTaken = session.settingsNotTaken;
        report.failures = session.failures;
        Path html = options.out.resolve("report.html");
        session.wrote(html);
        Files.writeString(html, report.html(), StandardCharsets.UTF_8);

        List<Double> times = session.frameMillis;
        double worst = times.stream().mapToDouble(Double::doubleValue).max().orElse(0);
        System.out.println();
        System.out.println("Summary");
        System.out.printf(
            "  OSD frames sent     %d (library time per frame: median %.1f ms, worst %.1f ms)%n",
            times.size(), median(times), worst);
        System.out.println("  quantisation error  " + report.psnrSummary());
        System.out.println("  playback states     " + session.statesSummary());
        List<String> notTaken = session.settingsNotTaken;
        int silent = notTaken.size() - session.settingsNamedByLog;
        System.out.println("  settings not taken  " +
                           (notTaken.isEmpty() ? "none"
                            : silent == 0
                                ? notTaken.size() + " (each named in the plug-in log)"
                                : notTaken.size() + " (" + session.settingsNamedByLog +
                                      " named in the plug-in log; " + silent +
                                      " the library takes without a word, found by the demo)"));
        indented(notTaken);
        System.out.println("  plug-in log         " +
                           (pluginLog != null ? pluginLog : "(none written)"));
        System.out.println("  log problems        " + problems.counts());
        indented(problems.quoted());
        System.out.println("  graph log           " +
                           (graphLog != null ? graphLog : "(none written)"));
        System.out.println("  OSD snapshots       " + session.snapshots + " (" +
                           session.snapshotsWritten + " PNG, written after each timed call)");
        if (!session.report.screens.isEmpty()) {
            System.out.println(
                "  screens             " + session.options.out.resolve(Screens.FOLDER) + " (" +
                session.report.screens.size() + " PNG, what the TV showed after the steps)");
        }
        if (session.recording != null) {
            System.out.println("  recording           " + session.recording);
        }
        System.out.println("  report              " + html);
        System.out.println("  outputs in          " + options.out);
        for (String failure : session.failures) {
            System.err.println("demo: FAILED: " + failure);
        }
        return session.failures.isEmpty();
    }

    private static void indented(List<String> lines) {
        for (String line : lines) {
            System.out.println("                      " + line);
        }
    }

    private static Path copyLog(Session session, Path source) throws IOException {
        if (!Files.exists(source)) {
            return null;
        }
        Path target = session.options.out.resolve(source.getFileName()).toAbsolutePath();
        session.wrote(target);
        if (!target.equals(source.toAbsolutePath())) {
            Files.copy(source, target, StandardCopyOption.REPLACE_EXISTING);
        }
        return target;
    }

    /** The median of some times, 0 for none. */
    static double median(List<Double> values) {
        double[] sorted = values.stream().mapToDouble(Double::doubleValue).toArray();
        Arrays.sort(sorted);
        if (sorted.length == 0) {
            return 0;
        }
        int mid = sorted.length / 2;
        return sorted.length % 2 == 1 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
    }
}
