package org.quencommunity.tovix.media;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Coded MPEG pictures read from a video elementary stream, one entry a
 * picture: its header and slices, with the sequence header, extensions,
 * group header and user data that go before it. A writer stamps them one
 * after another, so the stream must present them in the order they are
 * coded (no bidirectional pictures), as the build's clock pictures do.
 */
public final class Pictures {
    private static final int PICTURE = 0x00;
    private static final int SLICE_LAST = 0xAF;

    private Pictures() {}

    public static List<byte[]> read(Path file) throws IOException {
        return split(Files.readAllBytes(file));
    }

    /** The pictures of an elementary stream; anything before the first header is dropped. */
    public static List<byte[]> split(byte[] es) {
        List<Integer> at = new ArrayList<>();
        List<Integer> codes = new ArrayList<>();
        for (int i = 0; i + 3 < es.length; i++) {
            if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1) {
                at.add(i);
                codes.add(es[i + 3] & 0xFF);
                i += 2;
            }
        }
        // Each picture begins at its picture header, or earlier at the run
        // of headers that are not slices just before it.
        List<Integer> begins = new ArrayList<>();
        for (int k = 0; k < codes.size(); k++) {
            if (codes.get(k) != PICTURE) {
                continue;
            }
            int first = k;
            while (first > 0 && !isPictureData(codes.get(first - 1))) {
                first--;
            }
            begins.add(at.get(first));
        }
        List<byte[]> pictures = new ArrayList<>();
        for (int p = 0; p < begins.size(); p++) {
            int from = begins.get(p);
            int to = p + 1 < begins.size() ? begins.get(p + 1) : es.length;
            byte[] picture = new byte[to - from];
            System.arraycopy(es, from, picture, 0, picture.length);
            pictures.add(picture);
        }
        return pictures;
    }

    /** A picture header or a slice: what belongs to the picture before. */
    private static boolean isPictureData(int code) { return code <= SLICE_LAST; }
}
