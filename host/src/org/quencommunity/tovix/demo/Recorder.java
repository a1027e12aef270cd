package org.quencommunity.tovix.demo;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import org.quencommunity.tovix.media.ProgramStreamWriter;

/**
 * The recording as the host's server writes it: a program stream appended
 * to in the background, half a second of media at a time, until it reaches
 * its length.
 */
final class Recorder extends Thread {
    final double targetSeconds;
    private final Path file;
    private final double firstSeconds;
    private volatile double written;
    private volatile IOException failure;
    private final Object firstData = new Object();
    private boolean started;

    Recorder(Path file, double firstSeconds, double targetSeconds) {
        super("recorder");
        setDaemon(true);
        this.file = file;
        this.firstSeconds = firstSeconds;
        this.targetSeconds = targetSeconds;
    }

    double seconds() { return written; }

    @Override
    public void run() {
        try (OutputStream out = Files.newOutputStream(file)) {
            ProgramStreamWriter w =
                new ProgramStreamWriter(out, 720, 480, 30, 0.0, ClockPictures.of(720, 480, 30));
            w.writeSeconds(firstSeconds);
            written = w.secondsWritten();
            signal();
            while (w.secondsWritten() < targetSeconds) {
                Thread.sleep(150);
                w.writeSeconds(0.5);
                written = w.secondsWritten();
            }
            w.finish();
        } catch (IOException e) {
            failure = e;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        } finally {
            signal();
        }
    }

    private void signal() {
        synchronized (firstData) {
            started = true;
            firstData.notifyAll();
        }
    }

    /** Waits until the first seconds are on disk. */
    void awaitFirstData() throws IOException {
        synchronized (firstData) {
            while (!started) {
                try {
                    firstData.wait();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                    return;
                }
            }
        }
        rethrow();
    }

    void rethrow() throws IOException {
        if (failure != null) {
            throw new IOException("writing the recording " + file + ": " + failure.getMessage(),
                                  failure);
        }
    }
}
