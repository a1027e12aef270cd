package org.quencommunity.tovix.media;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.util.List;

/**
 * Writes a small but valid MPEG-2 program stream: one pack per video
 * picture, each with a pack header, a PES packet of video (stream 0xE0) and,
 * as the audio clock comes due, PES packets of MPEG-1 layer II audio (stream
 * 0xC0). The first pack also carries the system header, and the first
 * picture of every group of pictures a sequence header with the picture
 * size and frame rate. Given coded pictures (see {@link Pictures}), it
 * carries them, one a frame; otherwise, and once they run out, its pictures
 * carry no image data: what matters to a player is then the stream
 * structure and its time stamps.
 */
public final class ProgramStreamWriter {
    /** 90 kHz ticks: the unit of every PTS and SCR. */
    public static final long CLOCK = 90_000;

    private static final int PACK_START = 0x000001BA;
    private static final int SYSTEM_HEADER = 0x000001BB;
    private static final int VIDEO_STREAM = 0xE0;
    private static final int AUDIO_STREAM = 0xC0;
    private static final int MUX_RATE = 25_200;       // units of 50 bytes/s: 10 Mbit/s
    private static final int AUDIO_FRAME_BYTES = 576; // 192 kbit/s at 48 kHz
    private static final long AUDIO_FRAME_TICKS = CLOCK * 1152 / 48_000;
    private static final int GOP_LENGTH = 12;
    /** The most payload a PES packet here carries: its length field has 16 bits. */
    private static final int PES_PAYLOAD = 60_000;

    private final OutputStream out;
    private final int width;
    private final int height;
    private final int frameRateCode;
    private final long frameTicks;
    private final long startPts;
    private final List<byte[]> coded;
    private long pictures;
    private long audioFrames;
    private long bytesWritten;

    /**
     * @param fps one of the MPEG-2 frame rates 24, 25, 30, 50 or 60
     * @param startSeconds the time stamp of the first picture
     */
    public ProgramStreamWriter(OutputStream out, int width, int height, int fps,
                               double startSeconds) {
        this(out, width, height, fps, startSeconds, List.of());
    }

    /**
     * @param coded pictures of this size and rate to carry, one a frame, in
     *     presentation order
     */
    public ProgramStreamWriter(OutputStream out, int width, int height, int fps,
                               double startSeconds, List<byte[]> coded) {
        if (width <= 0 || width > 4095 || height <= 0 || height > 4095) {
            throw new IllegalArgumentException("picture size out of range: " + width + "x" +
                                               height);
        }
        this.out = out;
        this.width = width;
        this.height = height;
        switch (fps) {
        case 24:
            frameRateCode = 2;
            break;
        case 25:
            frameRateCode = 3;
            break;
        case 30:
            frameRateCode = 5;
            break;
        case 50:
            frameRateCode = 6;
            break;
        case 60:
            frameRateCode = 8;
            break;
        default:
            throw new IllegalArgumentException("unsupported frame rate " + fps);
        }
        this.frameTicks = CLOCK / fps;
        this.startPts = Math.round(startSeconds * CLOCK);
        this.coded = coded;
    }

    /** Seconds of media written so far. */
    public double secondsWritten() { return pictures * (double)frameTicks / CLOCK; }

    public long bytesWritten() { return bytesWritten; }

    /** Appends the packs for `seconds` more of media and flushes. */
    public void writeSeconds(double seconds) throws IOException {
        long target = pictures + Math.round(seconds * CLOCK / frameTicks);
        while (pictures < target) {
            writePicturePack();
        }
        out.flush();
    }

    /** Ends the stream with the program end code. */
    public void finish() throws IOException {
        byte[] end = {0, 0, 1, (byte)0xB9};
        out.write(end);
        bytesWritten += end.length;
        out.flush();
    }

    private void writePicturePack() throws IOException {
        long pts = startPts + pictures * frameTicks;
        ByteArrayOutputStream pack = new ByteArrayOutputStream(1024);
        writePackHeader(pack, Math.max(0, pts - frameTicks));
        if (pictures == 0) {
            writeSystemHeader(pack);
        }
        writePes(pack, VIDEO_STREAM, pts, pictureData());
        // Audio keeps pace with the pictures: every audio frame due before
        // the next picture goes into this pack.
        long nextPicture = pts + frameTicks;
        while (startPts + audioFrames * AUDIO_FRAME_TICKS < nextPicture) {
            writePes(pack, AUDIO_STREAM, startPts + audioFrames * AUDIO_FRAME_TICKS, audioFrame());
            audioFrames++;
        }
        pack.writeTo(out);
        bytesWritten += pack.size();
        pictures++;
    }

    private static void writePackHeader(ByteArrayOutputStream b, long scr) {
        put32(b, PACK_START);
        long base = scr & 0x1FFFFFFFFL;
        // '01', SCR base in three parts with marker bits, 9-bit extension 0.
        b.write((int)(0x44 | ((base >> 27) & 0x38) | ((base >> 28) & 0x03)));
        b.write((int)((base >> 20) & 0xFF));
        b.write((int)(0x04 | ((base >> 12) & 0xF8) | ((base >> 13) & 0x03)));
        b.write((int)((base >> 5) & 0xFF));
        b.write((int)(0x04 | ((base << 3) & 0xF8)));
        b.write(0x01);
        b.write((MUX_RATE >> 14) & 0xFF);
        b.write((MUX_RATE >> 6) & 0xFF);
        b.write(((MUX_RATE << 2) & 0xFC) | 0x03);
        b.write(0xF8); // reserved bits, no stuffing
    }

    private static void writeSystemHeader(ByteArrayOutputStream b) {
        put32(b, SYSTEM_HEADER);
        put16(b, 6 + 2 * 3);
        b.write(0x80 | ((MUX_RATE >> 15) & 0x7F));
        b.write((MUX_RATE >> 7) & 0xFF);
        b.write(((MUX_RATE << 1) & 0xFE) | 0x01);
        b.write((1 << 2) | 0x00);    // one audio stream, variable rate, not CSPS
        b.write(0xC0 | 0x20 | 0x01); // audio and video locked, marker, one video stream
        b.write(0x7F);               // no packet rate restriction
        b.write(VIDEO_STREAM);
        b.write(0xE0 | 0x00); // buffer bound scale 1024 bytes: 230 KiB
        b.write(0xE6);
        b.write(AUDIO_STREAM);
        b.write(0xC0); // scale 128 bytes: 4 KiB
        b.write(0x20);
    }

    /** The payload in as many packets as it needs, the first one stamped. */
    private static void writePes(ByteArrayOutputStream b, int streamId, long pts, byte[] payload) {
        int at = 0;
        do {
            int n = Math.min(PES_PAYLOAD, payload.length - at);
            boolean stamped = at == 0;
            put32(b, 0x00000100 | streamId);
            put16(b, 3 + (stamped ? 5 : 0) + n);
            b.write(0x81);               // '10', not scrambled, original
            b.write(stamped ? 0x80 : 0); // PTS only, or nothing
            b.write(stamped ? 5 : 0);
            if (stamped) {
                long p = pts & 0x1FFFFFFFFL;
                b.write((int)(0x21 | ((p >> 29) & 0x0E)));
                b.write((int)((p >> 22) & 0xFF));
                b.write((int)(0x01 | ((p >> 14) & 0xFE)));
                b.write((int)((p >> 7) & 0xFF));
                b.write((int)(0x01 | ((p << 1) & 0xFE)));
            }
            b.write(payload, at, n);
            at += n;
        } while (at < payload.length);
    }

    private byte[] pictureData() {
        if (pictures < coded.size()) {
            return coded.get((int)pictures);
        }
        ByteArrayOutputStream b = new ByteArrayOutputStream(512);
        int inGop = (int)(pictures % GOP_LENGTH);
        if (inGop == 0) {
            put32(b, 0x000001B3);
            b.write((width >> 4) & 0xFF);
            b.write(((width & 0x0F) << 4) | ((height >> 8) & 0x0F));
            b.write(height & 0xFF);
            b.write((2 << 4) | frameRateCode); // 4:3 display
            int bitRate = 15_000;              // units of 400 bit/s: 6 Mbit/s
            b.write((bitRate >> 10) & 0xFF);
            b.write((bitRate >> 2) & 0xFF);
            b.write(((bitRate & 0x03) << 6) | 0x20 | ((112 >> 5) & 0x1F)); // marker, vbv size
            b.write(((112 & 0x1F) << 3)); // not constrained, no quantiser matrices
            // Sequence extension: main profile at main level, progressive, 4:2:0.
            put32(b, 0x000001B5);
            b.write(0x14);
            b.write(0x8A);
            b.write(0x00);
            b.write(0x01);
            b.write(0x00);
            b.write(0x00);
            // Group of pictures, closed.
            put32(b, 0x000001B8);
            long seconds = pictures * frameTicks / CLOCK;
            b.write((int)(((seconds / 3600) & 0x1F) << 2 | ((seconds / 60 % 60) >> 4)));
            b.write((int)(((seconds / 60 % 60) & 0x0F) << 4 | 0x08 | ((seconds % 60) >> 3)));
            b.write((int)(((seconds % 60) & 0x07) << 5));
            b.write(0x40);
        }
        put32(b, 0x00000100);
        int type = inGop == 0 ? 1 : 2; // I then P pictures
        b.write((inGop >> 2) & 0xFF);
        b.write(((inGop & 0x03) << 6) | (type << 3) | 0x07);
        b.write(0xFF);
        b.write(0xF8);
        // One slice of filler: bytes that never form a start code.
        put32(b, 0x00000101);
        for (int i = 0; i < 240; i++) {
            b.write(0x55 ^ (int)((pictures + i) & 0x0F));
        }
        return b.toByteArray();
    }

    private static byte[] audioFrame() {
        byte[] frame = new byte[AUDIO_FRAME_BYTES];
        frame[0] = (byte)0xFF;
        frame[1] = (byte)0xFD; // MPEG-1 layer II, no CRC
        frame[2] = (byte)0xA4; // 192 kbit/s, 48 kHz
        frame[3] = 0x00;       // stereo
        for (int i = 4; i < frame.length; i++) {
            frame[i] = (byte)0x11;
        }
        return frame;
    }

    private static void put32(ByteArrayOutputStream b, int v) {
        b.write(v >>> 24);
        b.write((v >>> 16) & 0xFF);
        b.write((v >>> 8) & 0xFF);
        b.write(v & 0xFF);
    }

    private static void put16(ByteArrayOutputStream b, int v) {
        b.write((v >>> 8) & 0xFF);
        b.write(v & 0xFF);
    }
}
