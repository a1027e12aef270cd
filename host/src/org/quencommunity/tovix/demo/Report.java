package org.quencommunity.tovix.demo;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Set;

/** The self-contained report.html: frames side by side, the playback timeline, the settings. */
final class Report {
    /** Samples taken while waiting, not marked on the chart. */
    static final Set<String> QUIET_LABELS = Set.of("poll", "growing", "to end", "paused", "resumed", "ended");
    static final String[] STATE_COLOURS = {"#bbb", "#7aa6d8", "#5cb85c", "#f0ad4e", "#d9534f", "#8e6bbf"};

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
        double psnr = Double.NaN;

        FrameRow(String name, String description, int width, int height, double millis, int colours) {
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

        Sample(double seconds, int state, long positionMillis, long durationMillis, String label) {
            this.seconds = seconds;
            this.state = state;
            this.positionMillis = positionMillis;
            this.durationMillis = durationMillis;
            this.label = label;
        }
    }

    final List<FrameRow> frames = new ArrayList<>();
    final List<Sample> timeline = new ArrayList<>();
    Map<String, String> settings;
    final Map<String, String> facts = new java.util.LinkedHashMap<>();
    String statesSeen;
    String pluginLog;
    String liveObjects;
    String videoSize;

    /** The PSNR line of the summary: mean and worst over the frames the card showed. */
    String psnrSummary() {
        double sum = 0;
        double worst = Double.POSITIVE_INFINITY;
        int lossy = 0;
        int exact = 0;
        for (FrameRow f : frames) {
            if (Double.isNaN(f.psnr)) {
                continue;
            }
            if (Double.isInfinite(f.psnr)) {
                exact++;
                continue;
            }
            sum += f.psnr;
            worst = Math.min(worst, f.psnr);
            lossy++;
        }
        if (lossy + exact == 0) {
            return "n/a (what the card shows is not visible in this build)";
        }
        String exactText = exact == 0 ? "" : exact + (exact == 1 ? " frame" : " frames") + " shown exactly";
        if (lossy == 0) {
            return "PSNR: " + exactText;
        }
        return String.format("PSNR mean %.1f dB, worst %.1f dB over %d %s%s", sum / lossy, worst, lossy,
                lossy == 1 ? "frame" : "frames", exactText.isEmpty() ? "" : "; " + exactText);
    }

    String html() {
        StringBuilder b = new StringBuilder(1 << 20);
        b.append("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n")
                .append("<title>TovixAPI demo session</title>\n<style>\n")
                .append("body{font-family:sans-serif;margin:2em;color:#222;background:#fafafa}\n")
                .append("table{border-collapse:collapse;margin-bottom:2em}\n")
                .append("td,th{border:1px solid #ccc;padding:6px 10px;vertical-align:top;text-align:left}\n")
                .append(".chk{background-color:#fff;background-image:linear-gradient(45deg,#ccc 25%,transparent 25%),")
                .append("linear-gradient(-45deg,#ccc 25%,transparent 25%),linear-gradient(45deg,transparent 75%,#ccc 75%),")
                .append("linear-gradient(-45deg,transparent 75%,#ccc 75%);background-size:16px 16px;")
                .append("background-position:0 0,0 8px,8px -8px,-8px 0;display:inline-block;line-height:0}\n")
                .append("img{max-width:300px}\npre{background:#fff;border:1px solid #ccc;padding:1em;")
                .append("max-height:30em;overflow:auto;font-size:12px}\n</style></head><body>\n")
                .append("<h1>TovixAPI demo session</h1>\n");

        b.append("<p>OSD frames sent: ").append(frames.size()).append(". Quantisation error: ")
                .append(esc(psnrSummary())).append(".</p>\n");

        b.append("<h2>OSD frames: what the host drew and what the card showed</h2>\n")
                .append("<p>Both images over a checkerboard, so that transparency shows. The error is the PSNR of ")
                .append("the premultiplied RGBA values over the host frame's area; below it, where the card differs (black: not at all).</p>\n<table>\n")
                .append("<tr><th>Frame</th><th>Host frame</th><th>Card shows</th><th>Error</th></tr>\n");
        for (FrameRow f : frames) {
            b.append("<tr><td><b>").append(esc(f.name)).append("</b><br>").append(esc(f.description))
                    .append("<br>").append(f.width).append('x').append(f.height).append(", ").append(f.colours)
                    .append(" colours<br>").append(String.format("%.1f ms", f.millis)).append("</td><td>")
                    .append(img(f.hostPng)).append("</td><td>");
            if (f.cardPng != null) {
                b.append(img(f.cardPng)).append("<br>").append(f.cardWidth).append('x').append(f.cardHeight);
            } else {
                b.append("<i>not visible in this build</i>");
            }
            b.append("</td><td>").append(Double.isNaN(f.psnr) ? "n/a" : esc(Images.formatDb(f.psnr)));
            if (f.diffPng != null) {
                b.append("<br><img alt=\"difference\" src=\"data:image/png;base64,").append(f.diffPng)
                        .append("\"><br>difference, x").append(Demo.DIFF_GAIN);
            }
            b.append("</td></tr>\n");
        }
        b.append("</table>\n");

        b.append("<h2>Playback timeline</h2>\n");
        if (statesSeen != null) {
            b.append("<p>Playback states seen: ").append(esc(statesSeen)).append(".</p>\n");
        }
        b.append(timelineSvg());
        if (videoSize != null) {
            b.append("<p>Video size reported for the recording: ").append(esc(videoSize)).append(".</p>\n");
        }

        b.append("<h2>Settings used</h2>\n<table>\n<tr><th>Key</th><th>Value</th></tr>\n");
        if (settings != null) {
            for (Map.Entry<String, String> e : settings.entrySet()) {
                b.append("<tr><td>").append(esc(e.getKey())).append("</td><td>").append(esc(e.getValue()))
                        .append("</td></tr>\n");
            }
        }
        b.append("</table>\n");
        if (!facts.isEmpty()) {
            b.append("<h2>The simulated card and graph</h2>\n<table>\n");
            for (Map.Entry<String, String> e : facts.entrySet()) {
                b.append("<tr><td>").append(esc(e.getKey())).append("</td><td>").append(esc(e.getValue()))
                        .append("</td></tr>\n");
            }
            b.append("</table>\n");
        }
        if (liveObjects != null) {
            b.append("<h2>Simulated COM objects alive at the end</h2>\n<pre>")
                    .append(esc(liveObjects.isEmpty() ? "(none)" : liveObjects)).append("</pre>\n");
        }
        if (pluginLog != null) {
            b.append("<h2>Plug-in log</h2>\n<pre>").append(esc(pluginLog)).append("</pre>\n");
        }
        b.append("</body></html>\n");
        return b.toString();
    }

    private static String img(String base64) {
        return base64 == null ? "" : "<span class=\"chk\"><img alt=\"\" src=\"data:image/png;base64," + base64
                + "\"></span>";
    }

    /** Position (line) and duration (dashed) over session time, with the state as a band below. */
    private String timelineSvg() {
        if (timeline.isEmpty()) {
            return "<p>No playback.</p>\n";
        }
        int width = 900;
        int plotHeight = 260;
        int left = 60;
        int right = 20;
        int top = 20;
        int band = 24;
        int height = top + plotHeight + 20 + band + 50;
        double t0 = timeline.get(0).seconds;
        double t1 = timeline.get(timeline.size() - 1).seconds;
        double span = Math.max(t1 - t0, 1e-3);
        long maxMillis = 1000;
        for (Sample s : timeline) {
            maxMillis = Math.max(maxMillis, Math.max(s.positionMillis, s.durationMillis));
        }
        double yMax = Math.ceil(maxMillis / 1000.0);
        double plotWidth = width - left - right;
        StringBuilder b = new StringBuilder();
        b.append("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"").append(width).append("\" height=\"")
                .append(height).append("\" font-family=\"sans-serif\" font-size=\"11\">\n")
                .append("<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");
        for (int i = 0; i <= 4; i++) {
            double v = yMax * i / 4;
            double y = top + plotHeight - plotHeight * i / 4.0;
            b.append(String.format("<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#eee\"/>", left, y,
                    width - right, y));
            b.append(String.format("<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%.1f s</text>\n", left - 6,
                    y + 4, v));
        }
        StringBuilder position = new StringBuilder();
        StringBuilder duration = new StringBuilder();
        for (Sample s : timeline) {
            double x = left + plotWidth * (s.seconds - t0) / span;
            position.append(String.format("%.1f,%.1f ", x, top + plotHeight - plotHeight * s.positionMillis / 1000.0
                    / yMax));
            duration.append(String.format("%.1f,%.1f ", x, top + plotHeight - plotHeight * s.durationMillis / 1000.0
                    / yMax));
        }
        // The steps the session took, as marks across the chart.
        double lastMark = -1e9;
        int row = 0;
        for (Sample s : timeline) {
            if (QUIET_LABELS.contains(s.label)) {
                continue;
            }
            double x = left + plotWidth * (s.seconds - t0) / span;
            row = x - lastMark < 70 ? (row + 1) % 5 : 0;
            lastMark = x;
            boolean nearRightEdge = x > width - right - 80;
            b.append(String.format("<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#d0d0d0\" "
                    + "stroke-dasharray=\"2,3\"/><text x=\"%.1f\" y=\"%d\" fill=\"#666\"%s>%s</text>\n", x, top,
                    x, top + plotHeight, nearRightEdge ? x - 3 : x + 3, top + 10 + row * 12,
                    nearRightEdge ? " text-anchor=\"end\"" : "", esc(s.label)));
        }
        b.append("<polyline fill=\"none\" stroke=\"#999\" stroke-dasharray=\"5,4\" points=\"")
                .append(duration).append("\"/>\n");
        b.append("<polyline fill=\"none\" stroke=\"#1f6fc5\" stroke-width=\"2\" points=\"")
                .append(position).append("\"/>\n");
        for (Sample s : timeline) {
            double x = left + plotWidth * (s.seconds - t0) / span;
            b.append(String.format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" fill=\"#1f6fc5\"><title>%s: %.2f s, "
                    + "position %d ms, duration %d ms, state %s</title></circle>\n", x,
                    top + plotHeight - plotHeight * s.positionMillis / 1000.0 / yMax, esc(s.label),
                    s.seconds - t0, s.positionMillis, s.durationMillis, esc(Demo.stateText(s.state))));
        }
        int bandY = top + plotHeight + 20;
        for (int i = 0; i < timeline.size(); i++) {
            Sample s = timeline.get(i);
            double x0 = left + plotWidth * (s.seconds - t0) / span;
            double x1 = i + 1 < timeline.size() ? left + plotWidth * (timeline.get(i + 1).seconds - t0) / span
                    : width - right;
            String colour = s.state >= 0 && s.state < STATE_COLOURS.length ? STATE_COLOURS[s.state] : "#000";
            b.append(String.format("<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\"><title>%s"
                    + "</title></rect>\n", x0, bandY, Math.max(x1 - x0, 1), band, colour,
                    esc(Demo.stateText(s.state))));
        }
        b.append(String.format("<text x=\"%d\" y=\"%d\" text-anchor=\"end\">state</text>\n", left - 6,
                bandY + 16));
        int legendY = bandY + band + 30;
        int x = left;
        b.append(String.format("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#1f6fc5\" "
                + "stroke-width=\"2\"/><text x=\"%d\" y=\"%d\">position</text>\n", x, legendY - 4, x + 20,
                legendY - 4, x + 25, legendY));
        x += 90;
        b.append(String.format("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#999\" "
                + "stroke-dasharray=\"5,4\"/><text x=\"%d\" y=\"%d\">duration</text>\n", x, legendY - 4, x + 20,
                legendY - 4, x + 25, legendY));
        x += 90;
        for (int s = 0; s < STATE_COLOURS.length; s++) {
            b.append(String.format("<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\"/>"
                    + "<text x=\"%d\" y=\"%d\">%s</text>\n", x, legendY - 10, STATE_COLOURS[s], x + 16, legendY,
                    esc(Demo.stateText(s))));
            x += 100;
        }
        b.append(String.format("<text x=\"%d\" y=\"%d\">session time: %.1f s</text>\n", width - right - 140,
                bandY + band + 14, span));
        b.append("</svg>\n");
        return b.toString();
    }

    static String esc(String s) {
        StringBuilder b = new StringBuilder(s.length());
        for (char c : s.toCharArray()) {
            switch (c) {
                case '<': b.append("&lt;"); break;
                case '>': b.append("&gt;"); break;
                case '&': b.append("&amp;"); break;
                case '"': b.append("&quot;"); break;
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
