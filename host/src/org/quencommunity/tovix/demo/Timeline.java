package org.quencommunity.tovix.demo;

import java.util.ArrayList;
import java.util.List;
import java.util.Set;

/**
 * The playback timeline as an SVG chart: the steps the session took as
 * labels on top, position (line) and duration (dashed) of each file over
 * session time, a time axis with ticks, and the playback state as a band
 * below in which every state seen has room.
 */
final class Timeline {
    /** Samples taken while waiting, not marked on the chart. */
    static final Set<String> QUIET_LABELS =
        Set.of("poll", "growing", "to end", "paused", "resumed", "ended");
    static final String[] STATE_COLOURS = {"#bbb",    "#7aa6d8", "#5cb85c",
                                           "#f0ad4e", "#d9534f", "#8e6bbf"};
    static final int WIDTH = 960;
    private static final int LEFT = 60;
    private static final int RIGHT = 20;
    private static final int PLOT_HEIGHT = 240;
    private static final int BAND = 24;
    private static final int LABEL_ROW = 13;
    /** The narrowest a state's stretch of the band is drawn, so that none is lost. */
    static final double MIN_STATE_WIDTH = 4;
    /** The width of one character of the 11-pixel labels, generously. */
    static final double CHAR_WIDTH = 6.5;

    private final List<Report.Sample> samples;
    private final double t0;
    private final double span;
    private final double plotWidth = WIDTH - LEFT - RIGHT;

    Timeline(List<Report.Sample> samples) {
        this.samples = samples;
        t0 = samples.isEmpty() ? 0 : samples.get(0).seconds;
        double t1 = samples.isEmpty() ? 0 : samples.get(samples.size() - 1).seconds;
        span = Math.max(t1 - t0, 1e-3);
    }

    private double x(double seconds) { return LEFT + plotWidth * (seconds - t0) / span; }

    /**
     * A step of 1, 2 or 5 times a power of ten that gives at most `most` intervals over `range`.
     */
    static double tickStep(double range, int most) {
        double step = Math.pow(10, Math.floor(Math.log10(Math.max(range, 1e-9) / most)));
        for (double m : new double[] {1, 2, 5, 10}) {
            if (range / (step * m) <= most) {
                return step * m;
            }
        }
        return step * 10;
    }

    /** A step's label: the sample it marks, its row above the chart and where its text starts. */
    static final class Label {
        final Report.Sample sample;
        final int row;
        final double textX;

        Label(Report.Sample sample, int row, double textX) {
            this.sample = sample;
            this.row = row;
            this.textX = textX;
        }
    }

    /**
     * The step labels, each in the first row where it does not touch the one
     * before it; one that would run past the right edge ends at its mark.
     */
    List<Label> labels() {
        List<Double> rowEnds = new ArrayList<>();
        List<Label> placed = new ArrayList<>();
        for (Report.Sample s : samples) {
            if (QUIET_LABELS.contains(s.label)) {
                continue;
            }
            double width = s.label.length() * CHAR_WIDTH;
            double start = x(s.seconds) + 2;
            if (start + width > WIDTH - 2) {
                start = x(s.seconds) - 2 - width;
            }
            int row = 0;
            while (row < rowEnds.size() && rowEnds.get(row) > start - 4) {
                row++;
            }
            if (row == rowEnds.size()) {
                rowEnds.add(start + width);
            } else {
                rowEnds.set(row, start + width);
            }
            placed.add(new Label(s, row, start));
        }
        return placed;
    }

    String svg() {
        if (samples.isEmpty()) {
            return "<p>No playback.</p>\n";
        }
        List<Label> labels = labels();
        int rows = 1;
        for (Label l : labels) {
            rows = Math.max(rows, l.row + 1);
        }
        int top = 10 + rows * LABEL_ROW + 6;
        int plotBottom = top + PLOT_HEIGHT;
        int bandY = plotBottom + 44;
        int legendY = bandY + BAND + 28;
        int height = legendY + 12;
        long maxMillis = 1000;
        for (Report.Sample s : samples) {
            maxMillis = Math.max(maxMillis, Math.max(s.positionMillis, s.durationMillis));
        }
        double yMax = Math.ceil(maxMillis / 1000.0);
        StringBuilder b = new StringBuilder();
        b.append(
             String.format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                               + "font-family=\"sans-serif\" font-size=\"11\">\n",
                           WIDTH, height))
            .append("<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");
        phases(b, top, plotBottom);

        // Position axis: seconds into the file.
        double yStep = tickStep(yMax, 6);
        for (double v = 0; v <= yMax + 1e-9; v += yStep) {
            double y = plotBottom - PLOT_HEIGHT * v / yMax;
            b.append(
                String.format("<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#eee\"/>"
                                  + "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%s s</text>\n",
                              LEFT, y, WIDTH - RIGHT, y, LEFT - 6, y + 4, number(v)));
        }
        b.append(
            String.format("<text transform=\"translate(14,%d) rotate(-90)\" text-anchor=\"middle\">"
                              + "position in the file</text>\n",
                          top + PLOT_HEIGHT / 2));

        // Session time axis, with ticks.
        b.append(String.format("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#444\"/>\n",
                               LEFT, plotBottom, WIDTH - RIGHT, plotBottom));
        double xStep = tickStep(span, 12);
        for (double t = 0; t <= span + 1e-9; t += xStep) {
            double x = x(t0 + t);
            b.append(String.format(
                "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#444\"/>"
                    + "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%s s</text>\n",
                x, plotBottom, x, plotBottom + 5, x, plotBottom + 17, number(t)));
        }
        b.append(String.format("<text x=\"%d\" y=\"%d\" text-anchor=\"end\" fill=\"#555\">"
                                   + "session time since the first load</text>\n",
                               WIDTH - RIGHT, plotBottom + 31));

        // The steps the session took, each label on a row where it has room.
        for (Label l : labels) {
            double x = x(l.sample.seconds);
            int y = 10 + l.row * LABEL_ROW + 9;
            b.append(
                String.format("<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#ccc\" "
                                  + "stroke-dasharray=\"2,3\"/>"
                                  + "<text x=\"%.1f\" y=\"%d\" fill=\"#555\">%s</text>\n",
                              x, y - 9, x, plotBottom, l.textX, y, Report.esc(l.sample.label)));
        }

        lines(b, plotBottom, yMax);
        stateBand(b, bandY);
        legend(b, legendY);
        b.append("</svg>\n");
        return b.toString();
    }

    /** A faint background and the name of each file played, over the stretch it was loaded. */
    private void phases(StringBuilder b, int top, int plotBottom) {
        String[] fills = {"#f3f7fc", "#f7f3fc"};
        int n = 0;
        int i = 0;
        while (i < samples.size()) {
            String phase = samples.get(i).phase;
            int j = i;
            while (j + 1 < samples.size() && phase != null &&
                   phase.equals(samples.get(j + 1).phase)) {
                j++;
            }
            if (phase != null) {
                double x0 = x(samples.get(i).seconds);
                double x1 = x(samples.get(j).seconds);
                b.append(String.format(
                    "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\"/>"
                        +
                        "<text x=\"%.1f\" y=\"%d\" fill=\"#1f4f85\" font-weight=\"bold\">%s</text>\n",
                    x0, top, Math.max(x1 - x0, 1), plotBottom - top, fills[n++ % 2], x0 + 4,
                    plotBottom - 6, Report.esc(phase)));
            }
            i = j + 1;
        }
    }

    /** Position and duration of each file, a separate line per file. */
    private void lines(StringBuilder b, int plotBottom, double yMax) {
        StringBuilder position = new StringBuilder();
        StringBuilder duration = new StringBuilder();
        String phase = null;
        for (Report.Sample s : samples) {
            if (s.phase == null || !s.phase.equals(phase)) {
                flushLines(b, position, duration);
                phase = s.phase;
            }
            if (s.phase == null) {
                continue;
            }
            double x = x(s.seconds);
            position.append(String.format(
                "%.1f,%.1f ", x, plotBottom - PLOT_HEIGHT * s.positionMillis / 1000.0 / yMax));
            duration.append(String.format(
                "%.1f,%.1f ", x, plotBottom - PLOT_HEIGHT * s.durationMillis / 1000.0 / yMax));
            b.append(String.format(
                "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" fill=\"#1f6fc5\"><title>%s: %.2f s, "
                    + "position %d ms, duration %d ms, %s</title></circle>\n",
                x, plotBottom - PLOT_HEIGHT * s.positionMillis / 1000.0 / yMax, Report.esc(s.label),
                s.seconds - t0, s.positionMillis, s.durationMillis, Card.state(s.state)));
        }
        flushLines(b, position, duration);
    }

    private static void flushLines(StringBuilder b, StringBuilder position,
                                   StringBuilder duration) {
        if (position.length() > 0) {
            b.append("<polyline fill=\"none\" stroke=\"#999\" stroke-dasharray=\"5,4\" points=\"")
                .append(duration)
                .append(
                    "\"/>\n<polyline fill=\"none\" stroke=\"#1f6fc5\" stroke-width=\"2\" points=\"")
                .append(position)
                .append("\"/>\n");
        }
        position.setLength(0);
        duration.setLength(0);
    }

    /**
     * The state from each sample to the next. A stretch narrower than
     * MIN_STATE_WIDTH is widened, pushing what follows to the right, so that
     * a state held only a moment still shows.
     */
    private void stateBand(StringBuilder b, int bandY) {
        double drawnTo = LEFT;
        int i = 0;
        while (i < samples.size()) {
            int state = samples.get(i).state;
            int j = i;
            while (j + 1 < samples.size() && samples.get(j + 1).state == state) {
                j++;
            }
            double x0 = Math.max(x(samples.get(i).seconds), drawnTo);
            double x1 = j + 1 < samples.size() ? x(samples.get(j + 1).seconds) : WIDTH - RIGHT;
            x1 = Math.max(x1, x0 + MIN_STATE_WIDTH);
            String colour =
                state >= 0 && state < STATE_COLOURS.length ? STATE_COLOURS[state] : "#000";
            b.append(String.format(
                "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\"><title>%s, "
                    + "%.2f s to %.2f s</title></rect>\n",
                x0, bandY, x1 - x0, BAND, colour, Card.state(state), samples.get(i).seconds - t0,
                (j + 1 < samples.size() ? samples.get(j + 1).seconds : samples.get(j).seconds) -
                    t0));
            String name = Card.state(state);
            if (x1 - x0 > name.length() * CHAR_WIDTH + 6) {
                b.append(String.format("<text x=\"%.1f\" y=\"%d\" fill=\"#fff\">%s</text>\n",
                                       x0 + 4, bandY + 16, name));
            }
            drawnTo = x1;
            i = j + 1;
        }
        b.append(String.format("<text x=\"%d\" y=\"%d\" text-anchor=\"end\">state</text>\n",
                               LEFT - 6, bandY + 16));
    }

    private static void legend(StringBuilder b, int y) {
        int x = LEFT;
        b.append(String.format(
            "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#1f6fc5\" stroke-width=\"2\"/>"
                + "<text x=\"%d\" y=\"%d\">position</text>\n",
            x, y - 4, x + 20, y - 4, x + 25, y));
        x += 90;
        b.append(String.format(
            "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#999\" stroke-dasharray=\"5,4\"/>"
                + "<text x=\"%d\" y=\"%d\">duration</text>\n",
            x, y - 4, x + 20, y - 4, x + 25, y));
        x += 90;
        for (int s = 0; s < STATE_COLOURS.length; s++) {
            b.append(
                String.format("<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\"/>"
                                  + "<text x=\"%d\" y=\"%d\">%s</text>\n",
                              x, y - 10, STATE_COLOURS[s], x + 16, y, Card.state(s)));
            x += 80;
        }
    }

    private static String number(double v) {
        return v == Math.rint(v) ? Long.toString((long)v) : String.format("%.1f", v);
    }
}
