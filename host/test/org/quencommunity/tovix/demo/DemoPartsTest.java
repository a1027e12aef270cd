package org.quencommunity.tovix.demo;

import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.quencommunity.tovix.Checks;
import org.quencommunity.tovix.media.Pictures;
import org.quencommunity.tovix.media.ProgramStreamWriter;

/**
 * The demo's parts that decide what a user is told: which plug-in log lines
 * count as problems, what kind of stream a file is, the card's registers by
 * name, a timeline whose labels never overlap and whose states all show,
 * and the coded pictures the demo's streams carry.
 */
public final class DemoPartsTest {
    private DemoPartsTest() {}

    public static void main(String[] args) {
        Checks c = new Checks("DemoPartsTest");
        pluginLog(c);
        streamKinds(c);
        registers(c);
        timeline(c);
        pictures(c);
        c.finish();
    }

    private static void pluginLog(Checks c) {
        PluginLog p = PluginLog.of(List.of(
            "12:00:00 - <TOVIXAPI>: openOSD",
            "12:00:00 - <releaseGraph>: After attempt to get filter enumerator (ERROR: 0/The operation "
                + "completed successfully.)",
            "12:00:01 - <openFile>: Cannot load source file!!! (ERROR: 80004005/Unspecified error)",
            "12:00:01 - <getDuration>: Can not get clip duration because media position interface is "
                + "unavailable!!",
            "12:00:01 - <setupModes>: Unknown tovix/output mode 'BANANA'",
            "12:00:01 - <setupModes>: Unknown tovix/connector mode ''",
            "12:00:01 - <setupModes>: tovix/hdmode must be an integer value",
            "12:00:01 - <lookupWidthAndHeight>: Could not parse mode description: ",
            "12:00:01 - <determineDimensions>: tovix/vgamode -3 has no mode description in section "
                + "Progressive of the card's profile",
            "12:00:02 - <configPlayer>: Logging WILL be verbose."));
        c.equal("a failure with a code other than 0 is an error, and counted once", 1,
                p.errors.size());
        c.that("a success reported as ERROR: 0 is not an error",
               p.errors.stream().noneMatch(l -> l.contains("ERROR: 0/")));
        c.equal("a refusal", 1, p.refusals.size());
        c.equal("setting values not taken: a mode the profile lacks counts once, by its key", 4,
                p.settings.size());
        c.equal("the summary's counts", "1 error, 1 refusal, 4 setting values not taken",
                p.counts());
        c.equal("refused settings, in order", 4, p.refusedSettings.size());
        c.equal("the key behind a mode description", "tovix/vgamode", p.refusedSettings.get(3).key);
        c.equal("and its number", "-3", p.refusedSettings.get(3).value);
        c.equal("an unknown value's key", "tovix/output", p.refusedSettings.get(0).key);
        c.equal("and its value", "BANANA", p.refusedSettings.get(0).value);
        c.equal("an empty value", "", p.refusedSettings.get(1).value);
        c.equal("a value the log does not quote", null, p.refusedSettings.get(2).value);
        c.equal("a clean log", "none",
                PluginLog.of(List.of("12:00:00 - <TOVIXAPI>: free")).counts());

        List<String> many = new ArrayList<>();
        for (int i = 0; i < 10; i++) {
            many.add("12:00:00 - <x>: Cannot do " + i);
        }
        PluginLog m = PluginLog.of(many);
        c.equal("all are counted", "10 refusals", m.counts());
        c.equal("the first few are quoted", PluginLog.QUOTED, m.quoted().size());
        c.equal("from the first", many.get(0), m.quoted().get(0));
    }

    private static byte[] bytes(int... values) {
        byte[] b = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            b[i] = (byte)values[i];
        }
        return b;
    }

    private static void streamKinds(Checks c) {
        c.equal("an MPEG-2 pack header", "MPEG-2 program stream",
                Options.streamKind(bytes(0, 0, 1, 0xBA, 0x44, 0, 4)));
        c.equal("an MPEG-1 pack header", "MPEG-1 system stream",
                Options.streamKind(bytes(0, 0, 1, 0xBA, 0x21, 0, 1)));
        c.equal("a pack header of neither layer", null,
                Options.streamKind(bytes(0, 0, 1, 0xBA, 0x00)));
        c.equal("no pack header", null, Options.streamKind(bytes(0, 0, 1, 0xB3, 0x44)));
        c.equal("too short", null, Options.streamKind(bytes(0, 0, 1, 0xBA)));
        c.that("a video packet", Options.hasVideoStartCode(bytes(7, 0, 0, 1, 0xE0, 0)));
        c.that("audio packets only",
               !Options.hasVideoStartCode(bytes(0, 0, 1, 0xC0, 0, 0, 1, 0xBD)));
        c.that("a start code cut at the end", !Options.hasVideoStartCode(bytes(0, 0, 1)));
        c.that("an MPEG sequence header", Options.hasSequenceHeader(bytes(9, 0, 0, 1, 0xB3, 0x2D)));
        c.that("H.264 start codes are no sequence header",
               !Options.hasSequenceHeader(bytes(0, 0, 0, 1, 0x67, 0, 0, 1, 0x68, 0, 0, 1, 0x65)));
        c.that("a sequence header code cut at the end", !Options.hasSequenceHeader(bytes(0, 0, 1)));
    }

    /**
     * An elementary stream cut into pictures: each from its picture header,
     * or from the headers just before it; and a picture longer than a PES
     * packet written over several, only the first one stamped.
     */
    private static void pictures(Checks c) {
        byte[] es = bytes(0, 0, 1, 0xB3, 9, 0, 0, 1, 0xB5, 9, 0, 0, 1, 0xB8, 9,  // headers
                          0, 0, 1, 0x00, 1, 0, 0, 1, 0xB5, 2, 0, 0, 1, 0x01, 3,  // picture 1
                          0, 0, 1, 0x00, 4, 0, 0, 1, 0x01, 5, 0, 0, 1, 0x02, 6,  // picture 2
                          0, 0, 1, 0xB8, 7, 0, 0, 1, 0x00, 8, 0, 0, 1, 0x01, 9); // 3
        List<byte[]> p = Pictures.split(es);
        c.equal("three pictures", 3, p.size());
        c.equal("the first with the sequence and group headers", 30, p.get(0).length);
        c.equal("the second from its picture header", 0x00, (int)p.get(1)[3]);
        c.equal("and up to the next group", 15, p.get(1).length);
        c.equal("the third from its group header", 0xB8, p.get(2)[3] & 0xFF);
        c.equal("nothing lost", es.length, p.get(0).length + p.get(1).length + p.get(2).length);

        byte[] big = new byte[150_000];
        big[2] = 1;
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        try {
            new ProgramStreamWriter(out, 352, 288, 25, 0.0, List.of(big)).writeSeconds(0.04);
        } catch (java.io.IOException e) {
            throw new AssertionError(e);
        }
        byte[] stream = out.toByteArray();
        int packets = 0;
        int stamped = 0;
        int carried = 0;
        for (int i = 0; i + 8 < stream.length; i++) {
            if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 &&
                (stream[i + 3] & 0xFF) == 0xE0) {
                int length = (stream[i + 4] & 0xFF) << 8 | (stream[i + 5] & 0xFF);
                int header = 3 + (stream[i + 8] & 0xFF);
                packets++;
                stamped += (stream[i + 7] & 0x80) != 0 ? 1 : 0;
                carried += length - header;
                i += 5 + length;
            }
        }
        c.equal("a 150,000-byte picture in three video packets", 3, packets);
        c.equal("the first one stamped", 1, stamped);
        c.equal("carrying the whole picture", big.length, carried);
    }

    private static void registers(Checks c) {
        Card.Registers r = new Card.Registers(new int[] {0x81, 3, 4, 2, 2});
        c.equal("TV, NTSC, YUV by name",
                "TV, NTSC, YUV; aspect WIDE; HD mode 4; VGA mode 2; audio SPDIF", r.words());
        Card.Registers v = new Card.Registers(new int[] {0xE2, 0, 0, 1, 0});
        c.equal("HDTV, PAL, RGB", "HDTV, PAL, RGB",
                v.output + ", " + v.standard + ", " + v.connector);
        c.equal("what the card got for a setting", "ASIS", v.valueFor("tovix/aspect"));
        c.equal("an unknown code is shown as a code", "code 7",
                new Card.Registers(new int[] {0, 7, 0, 0, 0}).aspect);
        c.equal("a state by name", "stopped", Card.state(4));
        c.equal("an unknown state", "code 9", Card.state(9));
    }

    private static void timeline(Checks c) {
        c.equal("tick step over 12 s", 2.0, Timeline.tickStep(12.3, 12));
        c.equal("tick step over 0.4 s", 0.1, Timeline.tickStep(0.4, 6), "range 0.4");
        c.equal("tick step over 95 s", 10.0, Timeline.tickStep(95, 12));

        // Steps crowded together, a long label at the right edge, and states
        // held for a moment only.
        List<Report.Sample> samples = new ArrayList<>();
        String[] labels = {"load",
                           "opened",
                           "play",
                           "seek",
                           "rate 2x",
                           "inactiveFile",
                           "seek to end",
                           "end",
                           "free",
                           "load 2",
                           "a rather long label at the very end"};
        int[] states = {1, 1, 2, 2, 2, 2, 2, 5, 5, 1, 4};
        double[] times = {0, 0.01, 0.02, 3, 3.01, 3.02, 3.03, 9.9, 9.91, 9.92, 10};
        for (int i = 0; i < labels.length; i++) {
            samples.add(new Report.Sample(times[i], states[i], 0, 1000, labels[i], "recording"));
        }
        Timeline t = new Timeline(samples);
        List<Timeline.Label> placed = t.labels();
        c.equal("every step is labelled", labels.length, placed.size());
        for (int i = 0; i < placed.size(); i++) {
            Timeline.Label a = placed.get(i);
            double aEnd = a.textX + a.sample.label.length() * Timeline.CHAR_WIDTH;
            c.that("label '" + a.sample.label + "' inside the chart",
                   a.textX >= 0 && aEnd <= Timeline.WIDTH, a.textX + " to " + aEnd);
            for (int j = 0; j < i; j++) {
                Timeline.Label b = placed.get(j);
                double bEnd = b.textX + b.sample.label.length() * Timeline.CHAR_WIDTH;
                c.that("labels '" + a.sample.label + "' and '" + b.sample.label +
                           "' do not overlap",
                       a.row != b.row || aEnd <= b.textX || bEnd <= a.textX);
            }
        }

        // Each stretch of the state band: its width and its state.
        Matcher m =
            Pattern
                .compile("<rect x=\"[0-9.]+\" y=\"[0-9]+\" width=\"([0-9.]+)\" height=\"[0-9]+\" "
                         + "fill=\"#[0-9a-f]+\"><title>(\\w+),")
                .matcher(t.svg());
        List<String> seen = new ArrayList<>();
        while (m.find()) {
            seen.add(m.group(2));
            c.atLeast("the stretch of '" + m.group(2) + "' is visible", Timeline.MIN_STATE_WIDTH,
                      Double.parseDouble(m.group(1)));
        }
        c.equal("every state held, in order",
                List.of("opened", "playing", "ended", "opened", "stopped"), seen);
    }
}
