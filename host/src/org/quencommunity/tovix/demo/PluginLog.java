package org.quencommunity.tovix.demo;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * The lines of the plug-in log that tell of something going wrong: a
 * failure with its code, a refusal, a setting value the library did not
 * take.
 */
final class PluginLog {
    /** How many lines of each kind the summary quotes. */
    static final int QUOTED = 3;

    private static final Pattern UNKNOWN_VALUE =
        Pattern.compile("<setupModes>: Unknown (tovix/\\w+) mode '(.*)'$");
    private static final Pattern NOT_INTEGER =
        Pattern.compile("<setupModes>: (tovix/\\w+) must be an integer value$");
    private static final Pattern NO_MODE =
        Pattern.compile("<determineDimensions>: (tovix/\\w+) (-?\\d+) has no mode description");
    /**
     * The description the profile gave for a mode, empty when it has none: the line after it
     * names the setting, and counts for both.
     */
    private static final Pattern MODE_DESCRIPTION =
        Pattern.compile("<lookupWidthAndHeight>: Could not parse mode description: ");
    private static final Pattern BAD_SETTING = Pattern.compile(
        "<\\w+>: (Unknown tovix/|tovix/\\w+ must be |tovix/\\w+ -?\\d+ has no mode description)");
    // A failure code other than 0: verbose lines also report successes as "(ERROR: 0/...)".
    private static final Pattern ERROR = Pattern.compile("\\(ERROR: (?!0/)[^)]*\\)");
    private static final Pattern REFUSAL = Pattern.compile(
        "(?i)\\b(cannot|can not|could not|failed|refused|not available|unavailable|precondition failed)\\b");

    /** A setting the library did not take: its key and, where the log says it, the value. */
    static final class Refused {
        final String key;
        final String value; // null when the log does not quote it

        Refused(String key, String value) {
            this.key = key;
            this.value = value;
        }
    }

    final List<String> errors = new ArrayList<>();
    final List<String> refusals = new ArrayList<>();
    final List<String> settings = new ArrayList<>();
    final List<Refused> refusedSettings = new ArrayList<>();

    static List<String> read(Path log) throws IOException {
        return log != null && Files.exists(log)
            ? Files.readAllLines(log, StandardCharsets.ISO_8859_1)
            : List.of();
    }

    /** Sorts the lines into errors, refusals and settings not taken; each line counts once. */
    static PluginLog of(List<String> lines) {
        PluginLog p = new PluginLog();
        for (String line : lines) {
            Matcher unknown = UNKNOWN_VALUE.matcher(line);
            Matcher notInteger = NOT_INTEGER.matcher(line);
            Matcher noMode = NO_MODE.matcher(line);
            if (MODE_DESCRIPTION.matcher(line).find()) {
                continue;
            }
            if (unknown.find()) {
                p.refusedSettings.add(new Refused(unknown.group(1), unknown.group(2)));
            } else if (notInteger.find()) {
                p.refusedSettings.add(new Refused(notInteger.group(1), null));
            } else if (noMode.find()) {
                p.refusedSettings.add(new Refused(noMode.group(1), noMode.group(2)));
            }
            if (BAD_SETTING.matcher(line).find()) {
                p.settings.add(line);
            } else if (ERROR.matcher(line).find()) {
                p.errors.add(line);
            } else if (REFUSAL.matcher(line).find()) {
                p.refusals.add(line);
            }
        }
        return p;
    }

    int count() { return errors.size() + refusals.size() + settings.size(); }

    /** "2 errors, 1 refusal, 1 setting value not taken", or "none". */
    String counts() {
        List<String> parts = new ArrayList<>();
        addCount(parts, errors.size(), "error", "errors");
        addCount(parts, refusals.size(), "refusal", "refusals");
        addCount(parts, settings.size(), "setting value not taken", "setting values not taken");
        return parts.isEmpty() ? "none" : String.join(", ", parts);
    }

    private static void addCount(List<String> parts, int n, String one, String many) {
        if (n > 0) {
            parts.add(n + " " + (n == 1 ? one : many));
        }
    }

    /** The first few lines of each kind, in that order. */
    List<String> quoted() {
        List<String> q = new ArrayList<>();
        for (List<String> kind : List.of(errors, refusals, settings)) {
            q.addAll(kind.subList(0, Math.min(QUOTED, kind.size())));
        }
        return q;
    }
}
