package org.quencommunity.tovix.demo;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * The self-contained report.html: what was played, frames side by side,
 * the playback timeline, the settings, what the plug-in log complained of.
 */
final class Report {

    static final class FrameRow {
        final String name;
        final String description;
        final int width;
        final int height;
        final double millis;
        final int colours;
        String hostPng;
        String cardPng;
        String diffPng;
        int cardWidth;
        int cardHeight;
        /** The quantiser's error: the frame against the block the card got, at the frame's size. */
        double psnr = Double.NaN;
        /** The error of the picture the card scaled to its screen; NaN when it did not scale. */
        double scaledPsnr = Double.NaN;
        /** The simulated card's writing of its snapshot, outside the frame's time. */
        double snapshotMillis = Double.NaN;

        FrameRow(String name, String description, int width, int height, double millis,
                 int colours) {
            this.name = name;
            this.description = description;
            this.width = width;
            this.height = height;
            this.millis = millis;
            this.colours = colours;
        }
    }

    static final class Sample {
        final double seconds;
        final int state;
        final long positionMillis;
        final long durationMillis;
        final String label;
        /** What was loaded ("recording", ...); null when nothing was. */
        final String phase;

        Sample(double seconds, int state, long positionMillis, long durationMillis, String label,
               String phase) {
            this.seconds = seconds;
            this.state = state;
            this.positionMillis = positionMillis;
            this.durationMillis = durationMillis;
            this.label = label;
            this.phase = phase;
        }
    }

    final List<FrameRow> frames = new ArrayList<>();
    final List<Sample> timeline = new ArrayList<>();
    /** What the card's output showed after the steps, in order. */
    final List<Screens.Shot> screens = new ArrayList<>();
    Map<String, String> settings;
    final Map<String, String> facts = new java.util.LinkedHashMap<>();
    String statesSeen;
    String pluginLog;
    String liveObjects;
    String videoSize;
    /** What was played, in order, each in a few words. */
    final List<String> played = new ArrayList<>();
    /** What was to be played and did not play. */
    final List<String> notPlayed = new ArrayList<>();
    List<String> settingsNotTaken = List.of();
    List<String> failures = List.of();
    PluginLog logProblems;

    /**
     * The PSNR line of the summary: mean and worst over the frames the card showed, the
     * quantiser's own error; the picture scaled to the screen apart, when the card scaled any.
     */
    String psnrSummary() {
        String quantiser = psnrSummary(f -> f.psnr);
        boolean scaled = frames.stream().anyMatch(f -> !Double.isNaN(f.scaledPsnr));
        return scaled ? quantiser + "; scaled to the screen: " + psnrSummary(f -> f.scaledPsnr)
                      : quantiser;
    }

    private String psnrSummary(java.util.function.ToDoubleFunction<FrameRow> of) {
        double sum = 0;
        double worst = Double.POSITIVE_INFINITY;
        int lossy = 0;
        int exact = 0;
        for (FrameRow f : frames) {
            double psnr = of.applyAsDouble(f);
            if (Double.isNaN(psnr)) {
                continue;
            }
            if (Double.isInfinite(psnr)) {
                exact++;
                continue;
            }
            sum += psnr;
            worst = Math.min(worst, psnr);
            lossy++;
        }
        if (lossy + exact == 0) {
            return "n/a (what the card shows is not visible in this build)";
        }
        String exactText =
            exact == 0 ? "" : exact + (exact == 1 ? " frame" : " frames") + " shown exactly";
        if (lossy == 0) {
            return "PSNR: " + exactText;
        }
        return String.format("PSNR mean %.1f dB, worst %.1f dB over %d %s%s", sum / lossy, worst,
                             lossy, lossy == 1 ? "frame" : "frames",
                             exactText.isEmpty() ? "" : "; " + exactText);
    }

    /**
     * The page. Its one script switches the checkerboard behind the frames
     * and, once the page has loaded, writes into the page-check paragraph
     * how many images loaded and how many script errors occurred; a browser
     * test reads it from there.
     */
    String html() {
        StringBuilder b = new StringBuilder(1 << 20);
        b.append("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n")
            .append("<title>TovixAPI demo session</title>\n")
            .append("<script>\nvar pageErrors = [];\n")
            .append(
                "window.addEventListener('error', function (e) { pageErrors.push(String(e.message)); });\n")
            .append("</script>\n<style>\n")
            .append("body{font-family:sans-serif;margin:2em;color:#222;background:#fafafa}\n")
            .append("table{border-collapse:collapse;margin-bottom:2em}\n")
            .append(
                "td,th{border:1px solid #ccc;padding:6px 10px;vertical-align:top;text-align:left}\n")
            .append("td:first-child{min-width:11em;max-width:18em;overflow-wrap:anywhere}\n")
            // Dark squares by default: the OSD is drawn over TV pictures.
            .append(".chk{--sq:#3a3a3a;--bg:#262626;background-color:var(--bg);")
            .append("background-image:linear-gradient(45deg,var(--sq) 25%,transparent 25%),")
            .append("linear-gradient(-45deg,var(--sq) 25%,transparent 25%),")
            .append("linear-gradient(45deg,transparent 75%,var(--sq) 75%),")
            .append(
                "linear-gradient(-45deg,transparent 75%,var(--sq) 75%);background-size:16px 16px;")
            .append(
                "background-position:0 0,0 8px,8px -8px,-8px 0;display:inline-block;line-height:0}\n")
            .append("body.light .chk{--sq:#ccc;--bg:#fff}\n")
            .append(".failed{color:#a00;font-weight:bold}\n.warn{color:#8a5300}\n")
            .append("#page-check{color:#888;font-size:12px}\n")
            .append(".strip{display:flex;flex-wrap:wrap;gap:10px;margin-bottom:2em}\n")
            .append(".strip figure{margin:0;width:320px;font-size:12px}\n")
            .append(".strip img{max-width:320px;display:block}\n")
            .append("img{max-width:300px}\npre{background:#fff;border:1px solid #ccc;padding:1em;")
            .append("max-height:30em;overflow:auto;font-size:12px}\n</style></head><body>\n")
            .append("<h1>TovixAPI demo session</h1>\n");

        for (String failure : failures) {
            b.append("<p class=\"failed\">FAILED: ").append(esc(failure)).append("</p>\n");
        }
        b.append("<p>Played: ")
            .append(played.isEmpty() ? "nothing" : esc(String.join("; then ", played)))
            .append(".</p>\n");
        if (!notPlayed.isEmpty()) {
            b.append("<p>Not played: ").append(esc(String.join("; ", notPlayed))).append(".</p>\n");
        }
        b.append("<p>OSD frames sent: ")
            .append(frames.size())
            .append(". Quantisation error: ")
            .append(esc(psnrSummary()))
            .append(".</p>\n");
        for (String s : settingsNotTaken) {
            b.append("<p class=\"warn\">Setting ").append(esc(s)).append(".</p>\n");
        }
        if (logProblems != null) {
            b.append("<p>Errors, refusals and setting values not taken in the plug-in log: ")
                .append(esc(logProblems.counts()))
                .append(".</p>\n");
            List<String> quoted = logProblems.quoted();
            if (!quoted.isEmpty()) {
                b.append("<pre>").append(esc(String.join("\n", quoted))).append("</pre>\n");
            }
        }

        b.append("<h2>OSD frames: what the host drew and what the card showed</h2>\n")
            .append("<p>Both images over a checkerboard, so that transparency shows: ")
            .append("<label><input type=\"checkbox\" id=\"light\"> light checkerboard</label>. ")
            .append(
                "The time is the library's own for the frame; the simulated card's writing of its PNG ")
            .append(
                "snapshot is not in it. The error is the PSNR of the premultiplied RGBA values over the host ")
            .append(
                "frame's area; below it, where the card differs (black: not at all).</p>\n<table>\n")
            .append(
                "<tr><th>Frame</th><th>Host frame</th><th>Card shows</th><th>Error</th></tr>\n");
        for (FrameRow f : frames) {
            b.append("<tr><td><b>")
                .append(esc(f.name))
                .append("</b><br>")
                .append(esc(f.description))
                .append("<br>")
                .append(f.width)
                .append('x')
                .append(f.height)
                .append(", ")
                .append(f.colours)
                .append(" colours<br>")
                .append(String.format("library: %.1f ms", f.millis));
            if (!Double.isNaN(f.snapshotMillis)) {
                b.append(String.format("<br>card's snapshot: %.1f ms", f.snapshotMillis));
            }
            b.append("</td><td>").append(img(f.hostPng)).append("</td><td>");
            if (f.cardPng != null) {
                b.append(img(f.cardPng))
                    .append("<br>")
                    .append(f.cardWidth)
                    .append('x')
                    .append(f.cardHeight);
            } else {
                b.append("<i>not visible in this build</i>");
            }
            b.append("</td><td>")
                .append(Double.isNaN(f.psnr) ? "n/a" : esc(Images.formatDb(f.psnr)));
            if (!Double.isNaN(f.scaledPsnr)) {
                b.append("<br>scaled to the screen: ").append(esc(Images.formatDb(f.scaledPsnr)));
            }
            if (f.diffPng != null) {
                b.append("<br><img alt=\"difference\" src=\"data:image/png;base64,")
                    .append(f.diffPng)
                    .append("\"><br>difference, x")
                    .append(Session.DIFF_GAIN);
            }
            b.append("</td></tr>\n");
        }
        b.append("</table>\n");

        b.append("<h2>Playback timeline</h2>\n");
        if (statesSeen != null) {
            b.append("<p>Playback states seen: ").append(esc(statesSeen)).append(".</p>\n");
        }
        b.append(new Timeline(timeline).svg());
        if (videoSize != null) {
            b.append("<p>Video size reported for the first file: ")
                .append(esc(videoSize))
                .append(".</p>\n");
        }

        screenStrip(b);

        b.append("<h2>Settings used</h2>\n<table>\n<tr><th>Key</th><th>Value</th></tr>\n");
        if (settings != null) {
            rows(b, settings);
        }
        b.append("</table>\n");
        if (!facts.isEmpty()) {
            b.append("<h2>The simulated card and graph</h2>\n<table>\n");
            rows(b, facts);
            b.append("</table>\n");
        }
        if (liveObjects != null) {
            b.append("<h2>Simulated COM objects alive at the end</h2>\n<pre>")
                .append(esc(liveObjects.isEmpty() ? "(none)" : liveObjects))
                .append("</pre>\n");
        }
        if (pluginLog != null) {
            b.append("<h2>Plug-in log</h2>\n<pre>").append(esc(pluginLog)).append("</pre>\n");
        }
        b.append("<p id=\"page-check\">page check: not run (scripts off?)</p>\n")
            .append("<script>\n")
            .append("document.getElementById('light').addEventListener('change', function (e) {\n")
            .append("  document.body.classList.toggle('light', e.target.checked);\n")
            .append("});\n")
            .append("window.addEventListener('load', function () {\n")
            .append("  var images = document.images, broken = 0;\n")
            .append("  for (var i = 0; i < images.length; i++) {\n")
            .append("    if (!images[i].complete || images[i].naturalWidth === 0) broken++;\n")
            .append("  }\n")
            .append(
                "  document.getElementById('page-check').textContent = 'page check: ' + images.length +\n")
            .append(
                "      ' images, ' + broken + ' not loaded; ' + pageErrors.length + ' script errors' +\n")
            .append("      (pageErrors.length ? ': ' + pageErrors.join(' | ') : '');\n")
            .append("});\n")
            .append("</script>\n")
            .append("</body></html>\n");
        return b.toString();
    }

    /** "What the TV showed": each screen with its step, position and output mode. */
    private void screenStrip(StringBuilder b) {
        if (screens.isEmpty()) {
            return;
        }
        b.append("<h2>What the TV showed</h2>\n")
            .append("<p>The simulated card's whole output after the steps of the session: the ")
            .append("video decoded at the decoder's position and placed where the library put ")
            .append("it, the OSD over it, at the output mode's size. Each is in screens/ as ")
            .append("its number and step.</p>\n<div class=\"strip\">\n");
        for (Screens.Shot s : screens) {
            b.append("<figure><img alt=\"screen ")
                .append(s.number)
                .append("\" src=\"data:image/jpeg;base64,")
                .append(s.jpegBase64)
                .append("\"><figcaption><b>")
                .append(String.format("%02d", s.number))
                .append(' ')
                .append(esc(s.step))
                .append("</b>")
                .append(s.phase != null ? " (" + esc(s.phase) + ")" : "")
                .append("<br>")
                .append(esc(s.moment()))
                .append(s.aside != null ? "<br>" + esc(s.aside) : "")
                .append("<br>")
                .append(esc(s.screen.mode))
                .append("</figcaption></figure>\n");
        }
        b.append("</div>\n");
    }

    private static void rows(StringBuilder b, Map<String, String> entries) {
        for (Map.Entry<String, String> e : entries.entrySet()) {
            b.append("<tr><td>")
                .append(esc(e.getKey()))
                .append("</td><td>")
                .append(esc(e.getValue()))
                .append("</td></tr>\n");
        }
    }

    private static String img(String base64) {
        return base64 == null ? ""
                              : "<span class=\"chk\"><img alt=\"\" src=\"data:image/png;base64," +
                                    base64 + "\"></span>";
    }

    static String esc(String s) {
        StringBuilder b = new StringBuilder(s.length());
        for (char c : s.toCharArray()) {
            switch (c) {
            case '<':
                b.append("&lt;");
                break;
            case '>':
                b.append("&gt;");
                break;
            case '&':
                b.append("&amp;");
                break;
            case '"':
                b.append("&quot;");
                break;
            default:
                if (c < 0x20 && c != '\n' && c != '\t') {
                    b.append(' ');
                } else {
                    b.append(c);
                }
            }
        }
        return b.toString();
    }
}
