package org.quencommunity.tovix.demo;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import org.quencommunity.tovix.TovixAPI;

/** A host session against the simulated card. */
public final class Demo {
    private Demo() {}

    public static void main(String[] args) throws Exception {
        Path out = Paths.get(args.length > 0 ? args[0] : "build/demo").toAbsolutePath();
        Files.createDirectories(out);
        TovixAPI.setProperty("version", "demo host 1.0");
        TovixAPI.setProperty("tovix/verbose_log", "true");
        System.loadLibrary("TovixAPI");
        boolean opened = TovixAPI.openOSD();
        System.out.println("openOSD -> " + opened);
        int width = 720;
        int height = 480;
        int[] pixels = new int[width * height];
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                pixels[y * width + x] = (y > 400) ? 0xC0203060 : 0;
            }
        }
        boolean sent = TovixAPI.updateOSD(pixels, width, height, 0, 0, width, height, 0, 0);
        System.out.println("updateOSD 720x480 -> " + sent);
        TovixAPI.closeOSD();
        System.out.println("closeOSD");
        System.out.println("plug-in log: " + out.resolve("tovix_log_" + ProcessHandle.current().pid() + ".txt"));
    }
}
