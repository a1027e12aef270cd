package org.quencommunity.tovix.demo;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import org.quencommunity.tovix.media.Pictures;

/**
 * The pictures the demo's streams carry: a running time code and a moving
 * bar, coded by the build (hostkit/make_pictures) into
 * clock-WIDTHxHEIGHT-FPS.m2v in the folder that the system property
 * tovix.demo.pictures names. Without them the streams carry pictures with
 * no image data, and the screens say so.
 */
final class ClockPictures {
    private ClockPictures() {}

    /** The coded pictures for that shape; empty, with the reason on stderr, when there are none. */
    static List<byte[]> of(int width, int height, int fps) {
        String folder = System.getProperty("tovix.demo.pictures");
        if (folder == null || folder.isEmpty()) {
            return List.of();
        }
        Path file = Paths.get(folder, "clock-" + width + "x" + height + "-" + fps + ".m2v");
        if (!Files.isReadable(file)) {
            System.err.println("demo: no clock pictures " + file +
                               "; the streams carry blank ones");
            return List.of();
        }
        try {
            return Pictures.read(file);
        } catch (IOException e) {
            System.err.println("demo: cannot read " + file + ": " + e.getMessage());
            return List.of();
        }
    }
}
