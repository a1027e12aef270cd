package org.quencommunity.tovix;

import java.awt.Color;
import java.awt.Font;
import java.awt.Graphics2D;
import java.awt.RadialGradientPaint;
import java.awt.RenderingHints;
import java.awt.geom.Ellipse2D;
import java.awt.geom.RoundRectangle2D;
import java.awt.image.BufferedImage;
import java.util.Arrays;
import java.util.List;
import org.quencommunity.tovix.demo.Images;
import org.quencommunity.tovix.sim.SimControl;

/**
 * Host frames drawn with Java2D, sent through updateOSD and compared with
 * what the simulated card's OSD layer shows; the output settings on the
 * card's registers; nothing left alive after closeOSD.
 */
public final class OsdTest {
    private static final double PSNR_FLOOR_DB = 30.0;
    private static final int OPAQUE_RED = 0xFFD02020;

    private OsdTest() {}

    public static void main(String[] args) {
        Checks c = new Checks("OsdTest");
        TovixAPI.clearProperties();
        TovixAPI.setProperty("version", "osd test");
        TovixAPI.setProperty("tovix/output", "TV");
        TovixAPI.setProperty("tovix/standard", "PAL");
        TovixAPI.setProperty("tovix/connector", "SCART");
        TovixAPI.setProperty("tovix/audio", "SPDIF");
        TovixAPI.setProperty("tovix/aspect", "WIDE");
        TovixAPI.setProperty("tovix/verbose_log", "true");
        System.loadLibrary("TovixAPI");
        if (!c.that("the simulated world's controls load",
                    SimControl.load() && SimControl.has("card"))) {
            c.finish();
        }
        int[] start = SimControl.registers();

        c.that("openOSD answers true on the simulated card", TovixAPI.openOSD());
        int[] open = SimControl.registers();
        c.equal("output flags: TV, PAL, SCART", 0x203, open[0]);
        c.equal("aspect: wide", 3, open[1]);
        c.equal("audio output: S/PDIF", 2, open[4]);
        c.that("the OSD is named in the log",
               Checks.maskedLog().contains(
                   Checks.line("setupTovixOsd", "Found OSD for Tovix: " + SimControl.osdName())));

        BufferedImage menu = menuFrame(720, 480);
        int[] sent = pixels(menu);
        c.that("updateOSD takes the menu frame",
               TovixAPI.updateOSD(sent, 720, 480, 0, 0, 720, 480, 0L, 0L));
        c.that("the display is switched on", SimControl.osdDisplayOn());
        c.equal("one block shown", 1, SimControl.blocksShown());
        c.equal("no block rejected", 0, SimControl.blocksRejected());
        c.equal("block header: type, length, width, height",
                List.of(0x3E, 720 * 480 + 1032, 720, 480), boxed(SimControl.lastBlockHeader()));
        c.equal("placed at the origin at the frame's size", List.of(0, 0, 720, 480),
                boxed(SimControl.osdDestination()));
        int[] shown = SimControl.osdPixels();
        int sw = SimControl.osdWidth();
        int sh = SimControl.osdHeight();
        c.equal("the card shows 720x480", "720x480", sw + "x" + sh);
        if (shown.length == sw * sh && sw >= 720 && sh >= 480) {
            double psnr = Images.psnr(sent, 720, 480, shown, sw, sh);
            c.atLeast("PSNR of the menu frame (dB)", PSNR_FLOOR_DB, psnr);
            c.equal("the transparent background stays transparent", 0, shown[5 * sw + 5] >>> 24);
            c.that("the opaque swatch keeps its colour", close(OPAQUE_RED, shown[445 * sw + 30], 6),
                   String.format("shown 0x%08X", shown[445 * sw + 30]));
            int panel = shown[300 * sw + 600];
            c.that("the translucent panel stays translucent",
                   (panel >>> 24) > 100 && (panel >>> 24) < 200,
                   String.format("shown 0x%08X", panel));
        }

        // A frame at another size gets a new block buffer and its own rectangle.
        int requests = SimControl.blockBufferRequests();
        int[] popup = pixels(menuFrame(400, 200));
        c.that("updateOSD takes a 400x200 frame",
               TovixAPI.updateOSD(popup, 400, 200, 0, 0, 400, 200, 0L, 0L));
        c.equal("a new block buffer for the new size", requests + 1,
                SimControl.blockBufferRequests());
        c.equal("placed at its own size", List.of(0, 0, 400, 200),
                boxed(SimControl.osdDestination()));
        c.atLeast("PSNR of the smaller frame (dB)", PSNR_FLOOR_DB,
                  Images.psnr(popup, 400, 200, SimControl.osdPixels(), SimControl.osdWidth(),
                              SimControl.osdHeight()));

        // Fewer colours than palette entries come through exactly.
        int[] flat = new int[320 * 240];
        for (int i = 0; i < flat.length; i++) {
            int x = i % 320;
            int y = i / 320;
            flat[i] = (x / 40 + y / 40) % 3 == 0
                          ? 0
                          : 0xFF000000 | ((x / 40) * 0x1F0000) | ((y / 40) * 0x2A);
        }
        TovixAPI.updateOSD(flat, 320, 240, 0, 0, 320, 240, 0L, 0L);
        c.that("a frame of " + Images.distinctColours(flat) + " colours is shown exactly",
               Double.isInfinite(Images.psnr(flat, 320, 240, SimControl.osdPixels(),
                                             SimControl.osdWidth(), SimControl.osdHeight())));

        // The same frame again reuses the block buffer.
        requests = SimControl.blockBufferRequests();
        TovixAPI.updateOSD(flat, 320, 240, 0, 0, 320, 240, 0L, 0L);
        c.equal("the same size reuses the block buffer", requests,
                SimControl.blockBufferRequests());

        TovixAPI.closeOSD();
        c.that("the display is switched off", !SimControl.osdDisplayOn());
        int[] closed = SimControl.registers();
        c.equal("closing restores the output flags", start[0], closed[0]);
        c.equal("closing keeps the aspect", 3, closed[1]);
        c.equal("COM is uninitialised again", 0, SimControl.comInitDepth());
        c.equal("no simulated object is left alive", "", SimControl.describeLiveObjects());
        c.finish();
    }

    /** Text, a translucent panel, soft-edged icons and an opaque swatch on a transparent canvas. */
    static BufferedImage menuFrame(int w, int h) {
        BufferedImage image = new BufferedImage(w, h, BufferedImage.TYPE_INT_ARGB);
        Graphics2D g = image.createGraphics();
        g.setRenderingHint(RenderingHints.KEY_ANTIALIASING, RenderingHints.VALUE_ANTIALIAS_ON);
        g.setRenderingHint(RenderingHints.KEY_TEXT_ANTIALIASING,
                           RenderingHints.VALUE_TEXT_ANTIALIAS_ON);
        g.setColor(new Color(20, 30, 60, 150));
        g.fill(new RoundRectangle2D.Float(w / 2f, 40, w / 2f - 40, h - 120, 20, 20));
        g.setFont(new Font(Font.SANS_SERIF, Font.BOLD, 28));
        g.setColor(Color.WHITE);
        g.drawString("Recorded Shows", 40, 80);
        g.setFont(new Font(Font.SERIF, Font.PLAIN, 20));
        g.setColor(new Color(230, 230, 120));
        g.drawString("Evening News - 20:00", 40, 120);
        for (int i = 0; i < 3; i++) {
            float cx = 70 + i * 70;
            g.setPaint(new RadialGradientPaint(cx, 190, 28, new float[] {0f, 0.6f, 1f},
                                               new Color[] {new Color(90, 180, 255),
                                                            new Color(90, 180, 255, 180),
                                                            new Color(90, 180, 255, 0)}));
            g.fill(new Ellipse2D.Float(cx - 28, 162, 56, 56));
        }
        g.setColor(new Color(OPAQUE_RED, true));
        g.fillRect(20, Math.min(430, h - 40), 40, 30);
        g.dispose();
        return image;
    }

    private static int[] pixels(BufferedImage image) {
        return image.getRGB(0, 0, image.getWidth(), image.getHeight(), null, 0, image.getWidth());
    }

    private static List<Integer> boxed(int[] values) {
        return Arrays.stream(values).boxed().toList();
    }

    private static boolean close(int expected, int actual, int tolerance) {
        for (int shift = 0; shift < 32; shift += 8) {
            if (Math.abs(((expected >>> shift) & 0xFF) - ((actual >>> shift) & 0xFF)) > tolerance) {
                return false;
            }
        }
        return true;
    }
}
