package org.quencommunity.tovix.sim;

import java.util.Arrays;
import java.util.List;

/**
 * The simulated world's controls, for the JVM tests and the demo: the
 * reference ledger, fault injection, the COM runtime's counters and, as the
 * build offers them, the card's and the graph's state. Backed by the
 * libtovixsimjni shim, which shares the simulated world with the library.
 */
public final class SimControl {
    private static List<String> features;

    private SimControl() {}

    /**
     * Loads the shim. The library must be loaded first so that both use the
     * same simulated world. Answers false, with the reason on stderr, when
     * the shim cannot be found.
     */
    public static synchronized boolean load() {
        if (features != null) {
            return true;
        }
        try {
            System.loadLibrary("tovixsimjni");
            features = Arrays.asList(features());
            return true;
        } catch (UnsatisfiedLinkError e) {
            System.err.println("simulated world controls not available: " + e.getMessage());
            return false;
        }
    }

    /** Whether a group of controls ("card", "graph", ...) is compiled in. */
    public static synchronized boolean has(String feature) {
        return features != null && features.contains(feature);
    }

    // ---- Reference ledger ----
    /** One "Class refs=N" entry per simulated COM object alive, oldest first. */
    public static native String[] liveObjects();
    public static native int liveCount(String className);
    public static native String describeLiveObjects();
    public static native long objectsCreated();

    // ---- Fault injection ----
    /** The nth call of the point from now fails with hr (every call when nth is 0). */
    public static native void armFault(String point, int hr, int nth);
    /** The nth call of the point hands back a null pointer, answering hr. */
    public static native void armNull(String point, int nth, int hr);
    public static native void clearFaults();
    public static native String[] pointsReached();
    public static native void resetPointsReached();
    public static native int callCount(String point);

    // ---- COM runtime ----
    public static native int comInitDepth();
    public static native long coInitializeCalls();
    public static native long coUninitializeCalls();

    // ---- Trace ----
    public static native String[] traceLines();
    public static native void clearTrace();
    public static native void reset();

    // ---- The card (feature "card") ----
    /** outputFlags, aspect, hdMode, vgaMode, audioOutput as the card holds them. */
    public static native int[] registers();
    /** The same five registers as the card held them at power-on. */
    public static native int[] startRegisters();
    /** Writes made through the decoder filter's interfaces, per register. */
    public static native int[] registerWrites();
    public static native String osdName();
    public static native boolean osdDisplayOn();
    public static native int blocksShown();
    public static native int blocksRejected();
    public static native int blockBufferRequests();
    /** type, length, width, height of the last block switched on. */
    public static native int[] lastBlockHeader();
    /** left, top, right, bottom of the rectangle last given to the OSD object. */
    public static native int[] osdDestination();
    public static native int osdWidth();
    public static native int osdHeight();
    /** What the OSD layer shows, 0xAARRGGBB row after row; empty before the first block. */
    public static native int[] osdPixels();
    /** The last block at its own size (lastBlockHeader's width and height), before scaling. */
    public static native int[] osdBlockPixels();
    public static native void setSnapshotFolder(String folder);
    public static native int snapshotsWritten();
    public static native boolean writeOsdPng(String path);
    public static native void setProfileText(String iniText);
    /**
     * A key of the card's profile ("mode4" in "HDTV"), as the card answers it; null when absent.
     */
    public static native String profileValue(String section, String key);
    public static native void resetCard();

    // ---- The screen (feature "screen") ----
    /** What the card's output shows, composed when asked (see sim/control_card.h). */
    public static final class Screen {
        public final int width;
        public final int height;
        /** 0xAARRGGBB, alpha 255, row after row. */
        public final int[] pixels;
        /** left, top, right, bottom of the video on the screen; it may reach past the edges. */
        public final int[] videoArea;
        /** Whether a decoded picture fills the video area; false: the test pattern. */
        public final boolean picture;
        /** The output mode, as "TV NTSC 720x480" or "HDTV mode 4 (1080i) 1920x1080". */
        public final String mode;
        /** Why there is no picture; empty when there is one. */
        public final String note;
        /** The file the decoder plays; empty when none. */
        public final String file;
        /** The decoder's position in seconds; -1 without a stream. */
        public final double position;
        /** Seconds into the stream of the picture shown; -1 without one. */
        public final double pictureTime;
        /** Whether the PNG asked for was written. */
        public final boolean written;

        Screen(int width, int height, int[] pixels, int[] videoArea, boolean picture, String mode,
               String note, String file, double position, double pictureTime, boolean written) {
            this.width = width;
            this.height = height;
            this.pixels = pixels;
            this.videoArea = videoArea;
            this.picture = picture;
            this.mode = mode;
            this.note = note;
            this.file = file;
            this.position = position;
            this.pictureTime = pictureTime;
            this.written = written;
        }
    }

    /** Composes what the card's output shows; writes it as PNG to pngPath unless it is null. */
    public static native Screen screen(String pngPath);

    // ---- The graph (feature "graph") ----
    public static native void setManualClock(boolean on);
    public static native void advanceClock(long ms);
    public static native boolean graphAlive();
    /** 0 stopped, 1 paused, 2 running; -1 when there is no graph. */
    public static native int graphState();
    public static native String[] graphFilterNames();
    public static native String[] graphTrace();
    public static native int graphPendingEvents();
    /** One line per RenderFile of the process: "file result=XXXXXXXX streams=N rendered=M". */
    public static native String[] renderOutcomes();

    private static native String[] features();
}
