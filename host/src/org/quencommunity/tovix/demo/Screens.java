package org.quencommunity.tovix.demo;

import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.image.BufferedImage;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Base64;
import java.util.HashMap;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import javax.imageio.ImageIO;
import org.quencommunity.tovix.sim.SimControl;

/**
 * What the TV showed: the simulated card's whole output (video, OSD, at the
 * output mode's size) after the session's steps, written as
 * screens/NN-step.png and gathered for the report's strip. A step repeated
 * in plain playback (polls, the file growing, waiting for the end) is shown
 * the first time only: each screen costs the card a decode.
 */
final class Screens {
    /** The folder of the output folder that holds them. */
    static final String FOLDER = "screens";
    /** Their names: number and step. */
    static final String NAMES = "\\d\\d+-[a-z0-9-]*\\.png";
    /**
     * Steps that only wait a moment in a state that holds the picture
     * (opened, paused, stopped, ended): their screen is the one before.
     */
    static final Set<String> HELD = Set.of("opened", "paused", "stopped", "ended");
    /** How often one step of one file is shown. */
    static final int TIMES_PER_STEP = 1;
    /** The width of the pictures in the report. */
    static final int THUMBNAIL_WIDTH = 320;

    /** One screen as the report shows it. */
    static final class Shot {
        final int number;
        final String step;
        /** What was loaded ("recording", ...); null when nothing was. */
        final String phase;
        final SimControl.Screen screen;
        /** What else the session knew at that moment; null when nothing. */
        final String aside;
        final String file;
        final String jpegBase64;

        Shot(int number, String step, String phase, SimControl.Screen screen, String aside,
             String file, String jpegBase64) {
            this.number = number;
            this.step = step;
            this.phase = phase;
            this.screen = screen;
            this.aside = aside;
            this.file = file;
            this.jpegBase64 = jpegBase64;
        }

        /** "position 2.000 s, picture at 2.000 s", or why there is no picture. */
        String moment() {
            String where = screen.position >= 0
                               ? String.format(Locale.ROOT, "position %.3f s", screen.position)
                               : "";
            if (screen.picture) {
                return where +
                    String.format(Locale.ROOT, ", picture at %.3f s", screen.pictureTime);
            }
            return (where.isEmpty() ? "" : where + "; ") + "no picture: " + screen.note;
        }
    }

    private final Path folder;
    private final boolean available;
    private final Map<String, Integer> times = new HashMap<>();
    private int taken;

    /** Screens of the card into `folder`; none when the card cannot show them. */
    Screens(Path folder, boolean available) {
        this.folder = folder;
        this.available = available;
    }

    /**
     * The screen after `step` of `phase` (null: nothing loaded), with `aside`
     * for its caption; null when it is not taken.
     */
    Shot take(String step, String phase, String aside) throws IOException {
        if (!available || HELD.contains(step)) {
            return null;
        }
        String key = phase + "/" + step;
        int seen = times.merge(key, 1, Integer::sum);
        if (seen > TIMES_PER_STEP) {
            return null;
        }
        Files.createDirectories(folder);
        int number = taken + 1;
        String name = String.format("%02d-%s.png", number, fileName(step));
        SimControl.Screen screen = SimControl.screen(folder.resolve(name).toString());
        if (!screen.written) {
            System.err.println("demo: the screen " + folder.resolve(name) + " was not written");
        }
        taken = number;
        return new Shot(number, step, phase, screen, aside, name, thumbnail(screen));
    }

    private static String fileName(String step) {
        return step.toLowerCase(Locale.ROOT).replaceAll("[^a-z0-9]+", "-").replaceAll("^-|-$", "");
    }

    /** The screen scaled to the strip's width, as a JPEG in base64. */
    private static String thumbnail(SimControl.Screen s) throws IOException {
        BufferedImage full = new BufferedImage(s.width, s.height, BufferedImage.TYPE_INT_RGB);
        full.setRGB(0, 0, s.width, s.height, s.pixels, 0, s.width);
        int w = Math.min(THUMBNAIL_WIDTH, s.width);
        int h = Math.max(1, (int)Math.round(s.height * (double)w / s.width));
        BufferedImage small = new BufferedImage(w, h, BufferedImage.TYPE_INT_RGB);
        Graphics2D g = small.createGraphics();
        g.setRenderingHint(RenderingHints.KEY_INTERPOLATION,
                           RenderingHints.VALUE_INTERPOLATION_BILINEAR);
        g.setRenderingHint(RenderingHints.KEY_RENDERING, RenderingHints.VALUE_RENDER_QUALITY);
        g.drawImage(full, 0, 0, w, h, null);
        g.dispose();
        ByteArrayOutputStream jpeg = new ByteArrayOutputStream();
        ImageIO.write(small, "jpg", jpeg);
        return Base64.getEncoder().encodeToString(jpeg.toByteArray());
    }
}
