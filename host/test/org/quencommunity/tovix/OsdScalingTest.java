package org.quencommunity.tovix;

import java.util.Arrays;
import java.util.List;
import org.quencommunity.tovix.demo.Images;
import org.quencommunity.tovix.sim.SimControl;

/**
 * HDTV output with the OSD scaled to the screen: the screen size comes from
 * the card's profile, each frame keeps its own size in the block and is
 * placed over the whole screen, and what the card shows is the host's frame
 * stretched. Its own process, since the output settings are read once.
 */
public final class OsdScalingTest {
    private OsdScalingTest() {}

    public static void main(String[] args) {
        Checks c = new Checks("OsdScalingTest");
        TovixAPI.clearProperties();
        TovixAPI.setProperty("tovix/output", "HDTV");
        TovixAPI.setProperty("tovix/hdmode", "7");
        TovixAPI.setProperty("tovix/scale_osd", "true");
        System.loadLibrary("TovixAPI");
        if (!c.that("the simulated world's controls load",
                    SimControl.load() && SimControl.has("card"))) {
            c.finish();
        }
        SimControl.setProfileText(
            "[HDTV]\nmode7=test1080 1920 1080\n[Progressive]\nmode7=XGA 1024 768\n");

        c.that("openOSD", TovixAPI.openOSD());
        List<String> log = Checks.maskedLog();
        c.that("the screen size comes from the profile's HD mode",
               log.contains(Checks.line("lookupWidthAndHeight",
                                        "Found dimenstions 1920x1080 with description test1080")));
        int[] registers = SimControl.registers();
        c.equal("output flags: HDTV, USETV, composite", 0x30, registers[0]);
        c.equal("HD mode", 7, registers[2]);

        int[] frame = pixels(OsdTest.menuFrame(720, 480));
        c.that("updateOSD", TovixAPI.updateOSD(frame, 720, 480, 0, 0, 720, 480, 0L, 0L));
        c.equal("the block keeps the frame's own size", List.of(720, 480),
                boxed(SimControl.lastBlockHeader()).subList(2, 4));
        c.equal("placed over the whole screen", List.of(0, 0, 1920, 1080),
                boxed(SimControl.osdDestination()));
        int sw = SimControl.osdWidth();
        int sh = SimControl.osdHeight();
        c.equal("the card shows the whole screen", "1920x1080", sw + "x" + sh);
        int[] shown = SimControl.osdPixels();
        if (shown.length == sw * sh && sw > 0 && sh > 0) {
            c.atLeast("PSNR of the stretched frame, sampled back (dB)", 30.0,
                      Images.psnr(frame, 720, 480, sampleBack(shown, sw, sh, 720, 480), 720, 480));
        }

        TovixAPI.closeOSD();
        c.equal("nothing left alive after closeOSD", "", SimControl.describeLiveObjects());
        c.finish();
    }

    /**
     * The screen read back at frame size: each frame pixel from the centre of its stretched area.
     */
    private static int[] sampleBack(int[] screen, int sw, int sh, int w, int h) {
        int[] out = new int[w * h];
        for (int y = 0; y < h; y++) {
            int sy = (int)((y + 0.5) * sh / h);
            for (int x = 0; x < w; x++) {
                int sx = (int)((x + 0.5) * sw / w);
                out[y * w + x] = screen[sy * sw + sx];
            }
        }
        return out;
    }

    private static int[] pixels(java.awt.image.BufferedImage image) {
        return image.getRGB(0, 0, image.getWidth(), image.getHeight(), null, 0, image.getWidth());
    }

    private static List<Integer> boxed(int[] values) {
        return Arrays.stream(values).boxed().toList();
    }
}
