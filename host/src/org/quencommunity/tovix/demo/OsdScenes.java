package org.quencommunity.tovix.demo;

import java.awt.BasicStroke;
import java.awt.Color;
import java.awt.Font;
import java.awt.GradientPaint;
import java.awt.Graphics2D;
import java.awt.RadialGradientPaint;
import java.awt.RenderingHints;
import java.awt.geom.Ellipse2D;
import java.awt.geom.RoundRectangle2D;
import java.awt.image.BufferedImage;
import java.util.Random;

/**
 * OSD frames drawn the way a media-center host draws them: Java2D onto a
 * fully transparent ARGB canvas, anti-aliased text, translucent panels,
 * soft-edged icons and a photo thumbnail.
 */
final class OsdScenes {
    static final String[] MENU = {"Watch Live TV", "Recorded Shows", "Videos",  "Photos",
                                  "Music",         "Program Guide",  "Settings"};

    private final BufferedImage photo;

    OsdScenes() { photo = photo(240, 160, 7L); }

    /** A drawn frame: its name, what it shows, and its pixels as the host sends them. */
    static final class Frame {
        final String name;
        final String description;
        final BufferedImage image;

        Frame(String name, String description, BufferedImage image) {
            this.name = name;
            this.description = description;
            this.image = image;
        }

        int[] pixels() {
            int w = image.getWidth();
            int h = image.getHeight();
            return image.getRGB(0, 0, w, h, null, 0, w);
        }
    }

    private static BufferedImage canvas(int w, int h) {
        return new BufferedImage(w, h, BufferedImage.TYPE_INT_ARGB); // starts fully transparent
    }

    private static Graphics2D pen(BufferedImage image) {
        Graphics2D g = image.createGraphics();
        g.setRenderingHint(RenderingHints.KEY_ANTIALIASING, RenderingHints.VALUE_ANTIALIAS_ON);
        g.setRenderingHint(RenderingHints.KEY_TEXT_ANTIALIASING,
                           RenderingHints.VALUE_TEXT_ANTIALIAS_ON);
        g.setRenderingHint(RenderingHints.KEY_RENDERING, RenderingHints.VALUE_RENDER_QUALITY);
        g.setRenderingHint(RenderingHints.KEY_INTERPOLATION,
                           RenderingHints.VALUE_INTERPOLATION_BILINEAR);
        return g;
    }

    /** The main menu with its highlight bar on entry `step` of the menu. */
    Frame menu(int step, int w, int h) {
        BufferedImage image = canvas(w, h);
        Graphics2D g = pen(image);
        int selected = Math.floorMod(step, MENU.length);
        int left = 60;
        int top = 70;
        int rowHeight = 44;

        g.setFont(new Font(Font.SANS_SERIF, Font.BOLD, 30));
        g.setColor(new Color(255, 255, 255, 235));
        g.drawString("Main Menu", left, top - 18);

        // The highlight bar: a vertical gradient with a soft glow around it.
        int barY = top + selected * rowHeight;
        for (int i = 6; i >= 1; i--) {
            g.setColor(new Color(80, 160, 255, 14));
            g.fill(new RoundRectangle2D.Float(left - 10 - i, barY - i, 330 + 2 * i,
                                              rowHeight - 4 + 2 * i, 18 + i, 18 + i));
        }
        g.setPaint(new GradientPaint(0, barY, new Color(70, 140, 240, 230), 0, barY + rowHeight,
                                     new Color(20, 60, 150, 230)));
        g.fill(new RoundRectangle2D.Float(left - 10, barY, 330, rowHeight - 4, 18, 18));

        g.setFont(new Font(Font.SANS_SERIF, Font.PLAIN, 24));
        for (int i = 0; i < MENU.length; i++) {
            int y = top + i * rowHeight;
            icon(g, left + 4, y + 6, 28, i);
            g.setColor(i == selected ? Color.WHITE : new Color(225, 230, 240, 210));
            g.drawString(MENU[i], left + 44, y + 29);
        }

        // Translucent info panel with the selected entry's thumbnail.
        int panelX = w - 330;
        int panelY = top;
        g.setColor(new Color(10, 14, 30, 150));
        g.fill(new RoundRectangle2D.Float(panelX, panelY, 280, 300, 24, 24));
        g.setStroke(new BasicStroke(2f));
        g.setColor(new Color(255, 255, 255, 90));
        g.draw(new RoundRectangle2D.Float(panelX, panelY, 280, 300, 24, 24));
        g.drawImage(photo, panelX + 20, panelY + 20, null);
        g.setFont(new Font(Font.SANS_SERIF, Font.BOLD, 20));
        g.setColor(Color.WHITE);
        g.drawString(MENU[selected], panelX + 20, panelY + 212);
        g.setFont(new Font(Font.SERIF, Font.ITALIC, 16));
        g.setColor(new Color(220, 220, 220, 220));
        g.drawString("Tue 8 Dec, 20:00 - 21:00", panelX + 20, panelY + 240);
        g.drawString((12 + step) + " items", panelX + 20, panelY + 264);

        // A clock in the corner, semi-transparent.
        g.setFont(new Font(Font.MONOSPACED, Font.BOLD, 22));
        g.setColor(new Color(255, 255, 255, 170));
        g.drawString(String.format("20:%02d", step % 60), w - 110, h - 30);
        g.dispose();
        return new Frame("menu-" + (step + 1), "main menu, highlight on \"" + MENU[selected] + "\"",
                         image);
    }

    /** A full-screen photo browser: one big generated photo with a caption strip. */
    Frame photoViewer(int w, int h) {
        BufferedImage image = canvas(w, h);
        Graphics2D g = pen(image);
        BufferedImage big = photo(w - 120, h - 140, 11L);
        g.setColor(new Color(0, 0, 0, 200));
        g.fillRect(0, 0, w, h);
        g.drawImage(big, 60, 40, null);
        g.setPaint(new GradientPaint(0, h - 100, new Color(0, 0, 0, 0), 0, h - 40,
                                     new Color(0, 0, 0, 220)));
        g.fillRect(0, h - 100, w, 100);
        g.setFont(new Font(Font.SANS_SERIF, Font.PLAIN, 22));
        g.setColor(Color.WHITE);
        g.drawString("Lake at dusk  -  12 of 48", 60, h - 45);
        g.dispose();
        return new Frame("photo", "photo viewer: generated photograph, gradient caption", image);
    }

    /** A volume pop-up at another frame size. */
    Frame volumePopup(int w, int h, int level) {
        BufferedImage image = canvas(w, h);
        Graphics2D g = pen(image);
        g.setColor(new Color(20, 20, 20, 170));
        g.fill(new RoundRectangle2D.Float(20, h - 110, w - 40, 80, 30, 30));
        icon(g, 40, h - 92, 44, 4);
        g.setColor(new Color(255, 255, 255, 60));
        g.fill(new RoundRectangle2D.Float(110, h - 78, w - 180, 16, 16, 16));
        g.setPaint(
            new GradientPaint(110, 0, new Color(90, 220, 120), w - 70, 0, new Color(240, 200, 60)));
        g.fill(new RoundRectangle2D.Float(110, h - 78, (w - 180) * level / 100f, 16, 16, 16));
        g.setFont(new Font(Font.SANS_SERIF, Font.BOLD, 18));
        g.setColor(Color.WHITE);
        g.drawString("Volume " + level + "%", 110, h - 86);
        g.dispose();
        return new Frame("volume-" + w + "x" + h, "volume pop-up at " + w + "x" + h, image);
    }

    /**
     * What the host leaves over playing video: a translucent bar along the
     * bottom with the title and a progress line, the rest transparent.
     */
    Frame nowPlaying(int w, int h) {
        BufferedImage image = canvas(w, h);
        Graphics2D g = pen(image);
        g.setColor(new Color(10, 10, 30, 150));
        g.fill(new RoundRectangle2D.Float(30, h - 100, w - 60, 70, 24, 24));
        g.setFont(new Font(Font.SANS_SERIF, Font.BOLD, 22));
        g.setColor(Color.WHITE);
        g.drawString("Now playing", 56, h - 66);
        g.setColor(new Color(255, 255, 255, 90));
        g.fill(new RoundRectangle2D.Float(56, h - 52, w - 112, 8, 8, 8));
        g.setColor(new Color(90, 200, 255));
        g.fill(new RoundRectangle2D.Float(56, h - 52, (w - 112) * 0.4f, 8, 8, 8));
        g.dispose();
        return new Frame("now-playing", "what stays over the video: a translucent info bar", image);
    }

    /** A flat, aliased program guide grid in 12 colours. */
    Frame flatGuide(int w, int h) {
        BufferedImage image = canvas(w, h);
        Graphics2D g = image.createGraphics(); // no anti-aliasing: few exact colours
        Color[] cells = {new Color(40, 60, 120), new Color(60, 90, 160), new Color(30, 120, 90),
                         new Color(140, 70, 40), new Color(90, 90, 90)};
        g.setColor(new Color(10, 10, 40, 220));
        g.fillRect(40, 60, w - 80, h - 120);
        g.setFont(new Font(Font.MONOSPACED, Font.PLAIN, 16));
        for (int row = 0; row < 6; row++) {
            for (int col = 0; col < 4; col++) {
                int x = 60 + col * (w - 120) / 4;
                int y = 80 + row * 50;
                g.setColor(cells[(row + col) % cells.length]);
                g.fillRect(x, y, (w - 120) / 4 - 6, 44);
                g.setColor(Color.WHITE);
                g.drawString("Ch " + (row + 2) + "." + col, x + 8, y + 28);
            }
        }
        g.setColor(Color.YELLOW);
        g.fillRect(60, 80 + 6 * 50 + 10, 120, 6);
        g.setColor(new Color(255, 255, 255, 128));
        g.fillRect(200, 80 + 6 * 50 + 10, 120, 6);
        g.dispose();
        return new Frame("guide", "program guide: flat colours, no anti-aliasing", image);
    }

    /** A round icon with a soft edge, in one of a few colours and shapes. */
    private static void icon(Graphics2D g, int x, int y, int size, int kind) {
        Color[] hues = {new Color(255, 120, 80), new Color(120, 200, 255), new Color(160, 255, 140),
                        new Color(255, 220, 90), new Color(230, 140, 255), new Color(255, 255, 255),
                        new Color(150, 170, 190)};
        Color c = hues[Math.floorMod(kind, hues.length)];
        float r = size / 2f;
        // Radial fade to transparent gives the soft edge.
        g.setPaint(new RadialGradientPaint(
            x + r, y + r, r, new float[] {0f, 0.65f, 1f},
            new Color[] {c, new Color(c.getRed(), c.getGreen(), c.getBlue(), 200),
                         new Color(c.getRed(), c.getGreen(), c.getBlue(), 0)}));
        g.fill(new Ellipse2D.Float(x, y, size, size));
        g.setColor(new Color(0, 0, 0, 140));
        g.fill(new Ellipse2D.Float(x + r * 0.6f, y + r * 0.6f, r * 0.8f, r * 0.8f));
    }

    /** A generated photograph: sky, hills, a sun and grain. */
    static BufferedImage photo(int w, int h, long seed) {
        BufferedImage image = new BufferedImage(w, h, BufferedImage.TYPE_INT_ARGB);
        Graphics2D g = pen(image);
        g.setPaint(
            new GradientPaint(0, 0, new Color(40, 70, 140), 0, h * 0.6f, new Color(250, 170, 110)));
        g.fillRect(0, 0, w, h);
        g.setPaint(new RadialGradientPaint(
            w * 0.7f, h * 0.45f, h * 0.25f, new float[] {0f, 0.4f, 1f},
            new Color[] {new Color(255, 250, 220), new Color(255, 220, 150, 200),
                         new Color(255, 200, 120, 0)}));
        g.fillRect(0, 0, w, h);
        Random random = new Random(seed);
        for (int layer = 0; layer < 3; layer++) {
            int[] xs = new int[22];
            int[] ys = new int[22];
            for (int i = 0; i < 20; i++) {
                xs[i] = i * w / 19;
                ys[i] = (int)(h * (0.5 + 0.12 * layer) + random.nextGaussian() * h * 0.04);
            }
            xs[20] = w;
            ys[20] = h;
            xs[21] = 0;
            ys[21] = h;
            int shade = 90 - layer * 30;
            g.setColor(new Color(shade / 2, shade, shade / 2 + 20));
            g.fillPolygon(xs, ys, 22);
        }
        g.dispose();
        // Grain, as a camera gives.
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                int p = image.getRGB(x, y);
                int n = (int)(random.nextGaussian() * 6);
                int r = clamp(((p >> 16) & 0xFF) + n);
                int gr = clamp(((p >> 8) & 0xFF) + n);
                int b = clamp((p & 0xFF) + n);
                image.setRGB(x, y, 0xFF000000 | (r << 16) | (gr << 8) | b);
            }
        }
        return image;
    }

    private static int clamp(int v) { return Math.max(0, Math.min(255, v)); }
}
