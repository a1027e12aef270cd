package org.quencommunity.tovix.demo;

/** Names for what the library and the simulated card answer in codes. */
final class Card {
    static final String[] STATE_NAMES = {"none", "opened", "playing", "paused", "stopped", "ended"};
    static final int OPENED = 1;
    static final int ENDED = 5;
    private static final String[] ASPECTS = {"ASIS", "PAN_SCAN", "LETTER_BOX", "WIDE"};

    private Card() {}

    /** How many mode numbers, from 0, the demo asks the card's profile about. */
    static final int PROFILE_MODES = 64;

    /**
     * The section of the card's profile that describes the modes of a mode setting: the library
     * looks the HD mode up under "HDTV" and the VGA mode under "Progressive". Null for other keys.
     */
    static String modeSection(String key) {
        return key.equals("tovix/hdmode") ? "HDTV"
        : key.equals("tovix/vgamode")     ? "Progressive"
                                          : null;
    }

    static String state(int state) {
        return state >= 0 && state < STATE_NAMES.length ? STATE_NAMES[state] : "code " + state;
    }

    /**
     * The card's registers (output flags, aspect, HD mode, VGA mode, audio) in the settings' own
     * words.
     */
    static final class Registers {
        final int flags;
        final String output;
        final String standard;
        final String connector;
        final String aspect;
        final int hdMode;
        final int vgaMode;
        final String audio;

        Registers(int[] r) {
            flags = r[0];
            output = (flags & 0x01) != 0 ? "TV" : (flags & 0x20) != 0 ? "HDTV" : "VGA";
            int standardBits = flags & 0x1A;
            standard = standardBits == 0x10   ? "USETV"
                       : standardBits == 0x0A ? "PALM"
                       : standardBits == 0x08 ? "PAL60"
                       : standardBits == 0x02 ? "PAL"
                       : standardBits == 0    ? "NTSC"
                                              : String.format("0x%X", standardBits);
            connector = (flags & 0x200) != 0     ? "SCART"
                        : (flags & 0xC0) == 0xC0 ? "RGB"
                        : (flags & 0x80) != 0    ? "YUV"
                                                 : "COMPOSITE";
            aspect = r[1] >= 0 && r[1] < ASPECTS.length ? ASPECTS[r[1]] : "code " + r[1];
            hdMode = r[2];
            vgaMode = r[3];
            audio = r[4] == 0 ? "STEREO" : r[4] == 2 ? "SPDIF" : "code " + r[4];
        }

        /**
         * What the card holds for a setting's key ("tovix/output" and so on), null for other keys.
         */
        String valueFor(String key) {
            switch (key) {
            case "tovix/output":
                return output;
            case "tovix/standard":
                return standard;
            case "tovix/connector":
                return connector;
            case "tovix/audio":
                return audio;
            case "tovix/aspect":
                return aspect;
            case "tovix/hdmode":
                return Integer.toString(hdMode);
            case "tovix/vgamode":
                return Integer.toString(vgaMode);
            default:
                return null;
            }
        }

        /** "TV, NTSC, YUV; aspect WIDE; HD mode 4; VGA mode 2; audio SPDIF" */
        String words() {
            return String.format("%s, %s, %s; aspect %s; HD mode %d; VGA mode %d; audio %s", output,
                                 standard, connector, aspect, hdMode, vgaMode, audio);
        }

        String wordsWithFlags() { return words() + String.format(" (output flags 0x%X)", flags); }
    }
}
