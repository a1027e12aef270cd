package org.quencommunity.tovix;

import java.util.List;
import org.quencommunity.tovix.sim.SimControl;

/**
 * A host whose getProperty misbehaves: throws, answers null, answers more
 * than a switch's buffer holds. Each bad read takes its default, the reads
 * after it still reach the host, and no exception comes back out of
 * openOSD. Run under -Xcheck:jni, which reports any JNI call made while an
 * exception is pending.
 */
public final class HostSettingsTest {
    private HostSettingsTest() {}

    public static void main(String[] args) {
        Checks c = new Checks("HostSettingsTest");
        System.loadLibrary("TovixAPI");

        // The host throws for the scaling switch and for the host version,
        // which is read before the log is open.
        TovixAPI.setPropertySource((key, def) -> {
            switch (key) {
            case "version":
            case "tovix/scale_osd":
                throw new IllegalStateException("settings store unavailable for " + key);
            case "tovix/stream_all_mpegs":
                return "no";
            case "tovix/verbose_log":
                return "YES";
            default:
                return def;
            }
        });
        boolean opened = false;
        try {
            opened = TovixAPI.openOSD();
        } catch (RuntimeException e) {
            c.that("no exception from the host's getProperty leaves openOSD", false, e.toString());
        }
        c.that("openOSD answers true all the same", opened);
        List<String> log = Checks.maskedLog();
        c.that("the banner shows the default version",
               log.contains(String.format("###  Quen Version: %-48s###", "[unknown version]")));
        c.equal("a throwing read takes its default", 1,
                Checks.count(log, Checks.line("getProperty", "Got back: 'false'")));
        c.equal("the read before it still works", 1,
                Checks.count(log, Checks.line("configPlayer",
                                              "All mpegs WILL NOT be streamed from server.")));
        c.equal("the read after it still works", 1,
                Checks.count(log, Checks.line("configPlayer", "Logging WILL be verbose.")));
        c.equal("the throwing switch is off", 1,
                Checks.count(
                    log, Checks.line("configPlayer", "OSD WILL NOT be scaled to fit display.")));

        // Null answers and values longer than a switch buffer.
        TovixAPI.setPropertySource((key, def) -> {
            switch (key) {
            case "tovix/stream_all_mpegs":
                return null;
            case "tovix/scale_osd":
                return "yes"
                    + "x".repeat(30);
            case "tovix/verbose_log":
                return "no";
            default:
                return def;
            }
        });
        c.that("a second openOSD", TovixAPI.openOSD());
        log = Checks.maskedLog();
        c.equal("a null answer takes the default", 1,
                Checks.count(log, Checks.line("getProperty", "Got back: 'true'")));
        c.equal("the stream switch is on again by default", 1,
                Checks.count(
                    log, Checks.line("configPlayer", "All mpegs WILL be streamed from server.")));
        c.equal("a long value is cut to the buffer's 11 characters", 1,
                Checks.count(log, Checks.line("getProperty", "Got back: 'yesxxxxxxxx'")));
        c.equal("and is then no switch value", 2,
                Checks.count(
                    log, Checks.line("configPlayer", "OSD WILL NOT be scaled to fit display.")));
        c.equal("verbose logging is off", 1,
                Checks.count(log, Checks.line("configPlayer", "Logging WILL NOT be verbose.")));

        TovixAPI.setPropertySource(null);
        TovixAPI.closeOSD();
        if (SimControl.load()) {
            c.equal("nothing left alive after closeOSD", "", SimControl.describeLiveObjects());
        }
        c.finish();
    }
}
