package org.quencommunity.tovix.demo;

import java.awt.image.BufferedImage;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.util.Base64;
import java.util.HashSet;
import java.util.Set;
import javax.imageio.ImageIO;

/** Pixel arithmetic for the demo: error figures, colour counts, PNG encoding. */
public final class Images {
    private Images() {}

    /**
     * PSNR in dB of what the card shows against what the host drew, over the
     * host frame's area: both premultiplied by their alpha, the mean squared
     * error taken over the four channels. Pixels the card does not cover
     * count as transparent. Infinite when the two agree exactly.
     */
    public static double psnr(int[] host, int w, int h, int[] card, int cw, int ch) {
        double sum = 0;
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                int a = host[y * w + x];
                int b = x < cw && y < ch ? card[y * cw + x] : 0;
                sum += squaredError(a, b);
            }
        }
        double mse = sum / (4.0 * w * h);
        return mse == 0 ? Double.POSITIVE_INFINITY : 10 * Math.log10(255.0 * 255.0 / mse);
    }

    private static double squaredError(int p, int q) {
        double pa = p >>> 24;
        double qa = q >>> 24;
        double e = (pa - qa) * (pa - qa);
        for (int shift = 0; shift <= 16; shift += 8) {
            double pc = ((p >>> shift) & 0xFF) * pa / 255.0;
            double qc = ((q >>> shift) & 0xFF) * qa / 255.0;
            e += (pc - qc) * (pc - qc);
        }
        return e;
    }

    /**
     * Where the card differs from the host: per pixel the largest difference
     * of the premultiplied channels, times `gain`, as opaque grey (black:
     * none).
     */
    static int[] difference(int[] host, int w, int h, int[] card, int cw, int ch, int gain) {
        int[] out = new int[w * h];
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                int p = host[y * w + x];
                int q = x < cw && y < ch ? card[y * cw + x] : 0;
                double pa = p >>> 24;
                double qa = q >>> 24;
                double worst = Math.abs(pa - qa);
                for (int shift = 0; shift <= 16; shift += 8) {
                    double pc = ((p >>> shift) & 0xFF) * pa / 255.0;
                    double qc = ((q >>> shift) & 0xFF) * qa / 255.0;
                    worst = Math.max(worst, Math.abs(pc - qc));
                }
                int v = (int)Math.min(255, Math.round(worst * gain));
                out[y * w + x] = 0xFF000000 | (v << 16) | (v << 8) | v;
            }
        }
        return out;
    }

    /**
     * What the card shows, read back at the frame's size: unchanged when the
     * sizes agree, else each frame pixel from the centre of the area it was
     * stretched over (the OSD scaled to the screen).
     */
    static int[] atFrameSize(int[] screen, int sw, int sh, int w, int h) {
        if (sw == w && sh == h) {
            return screen;
        }
        int[] out = new int[w * h];
        for (int y = 0; y < h; y++) {
            int sy = (int)((y + 0.5) * sh / h);
            for (int x = 0; x < w; x++) {
                out[y * w + x] = screen[sy * sw + (int)((x + 0.5) * sw / w)];
            }
        }
        return out;
    }

    public static String formatDb(double db) {
        return Double.isInfinite(db) ? "exact" : String.format("%.1f dB", db);
    }

    public static int distinctColours(int[] pixels) {
        Set<Integer> seen = new HashSet<>();
        for (int p : pixels) {
            seen.add(p);
        }
        return seen.size();
    }

    static String pngBase64(int[] pixels, int w, int h) {
        BufferedImage image = new BufferedImage(w, h, BufferedImage.TYPE_INT_ARGB);
        image.setRGB(0, 0, w, h, pixels, 0, w);
        ByteArrayOutputStream png = new ByteArrayOutputStream();
        try {
            ImageIO.write(image, "png", png);
        } catch (IOException e) {
            throw new UncheckedIOException("encoding a PNG", e);
        }
        return Base64.getEncoder().encodeToString(png.toByteArray());
    }
}
