package org.quencommunity.tovix;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Properties;
import java.util.function.BinaryOperator;

/**
 * The host's view of the native library: its 27 native methods, and the
 * static getProperty through which the library reads the host's settings.
 */
public final class TovixAPI {
    private static final Properties settings = new Properties();

    private TovixAPI() {}

    // ---- Settings store, read back by the library ----

    private static volatile BinaryOperator<String> propertySource;

    /** Answers the setting, or the default when it is not set. */
    public static String getProperty(String key, String def) {
        BinaryOperator<String> source = propertySource;
        if (source != null) {
            return source.apply(key, def);
        }
        synchronized (settings) {
            return settings.getProperty(key, def);
        }
    }

    /**
     * Answers every getProperty from `source` (key and default in, value
     * out) instead of the store, until it is set back to null. Lets a test
     * play a host whose settings answer null or throw.
     */
    public static void setPropertySource(BinaryOperator<String> source) { propertySource = source; }

    public static void setProperty(String key, String value) {
        synchronized (settings) {
            if (value == null) {
                settings.remove(key);
            } else {
                settings.setProperty(key, value);
            }
        }
    }

    public static void clearProperties() {
        synchronized (settings) {
            settings.clear();
        }
    }

    /** Adds the settings of a .properties file to the store. */
    public static void loadProperties(Path file) throws IOException {
        try (InputStream in = Files.newInputStream(file)) {
            Properties loaded = new Properties();
            loaded.load(in);
            synchronized (settings) {
                settings.putAll(loaded);
            }
        }
    }

    // ---- The natives ----

    public static native boolean openOSD();
    public static native void closeOSD();
    public static native boolean supportsRegionUpdates();
    public static native boolean updateOSD(int[] pixels, int bitmapWidth, int bitmapHeight,
                                           int updMinX, int updMinY, int updMaxX, int updMaxY,
                                           long reserved1, long reserved2);
    public static native void load(byte maj, byte min, String encodingHint, String fileName,
                                   String host, boolean shifted, long reserved);
    public static native Object getFile();
    public static native void free();
    public static native int inactiveFile();
    public static native boolean pause();
    public static native boolean play();
    public static native boolean stop();
    public static native int frameStep(int frames);
    public static native int getState();
    public static native long getDurationMillis();
    public static native long getMediaTimeMillis();
    public static native float getPlaybackRate();
    public static native float setPlaybackRate(float rate);
    public static native long seek(long millis);
    public static native void setVideoRectangles(int left, int top, int width, int height);
    public static native boolean getMute();
    public static native void setMute(boolean mute);
    public static native float getVolume();
    public static native float setVolume(float level);
    public static native boolean setClosedCaptioningState(int state);
    public static native int getClosedCaptioningState();
    public static native int getVideoWidth();
    public static native int getVideoHeight();
}
