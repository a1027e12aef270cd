// Host paths: modified UTF-8 to UTF-16.
#include "host_path.h"

int hostPathToWide(const char* path, WCHAR* wide, int wideLength) {
    if (!path || !wide || wideLength <= 0)
        return -1;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(path);
    int n = 0;
    while (*s) {
        unsigned c = s[0];
        unsigned unit;
        if (c < 0x80) {
            unit = c;
            s += 1;
        } else if ((c & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80) {
            unit = ((c & 0x1F) << 6) | (s[1] & 0x3F);
            s += 2;
        } else if ((c & 0xF0) == 0xE0 && (s[1] & 0xC0) == 0x80 && (s[2] & 0xC0) == 0x80) {
            // Surrogate halves arrive one by one, each as its own 3-byte
            // sequence, and pass through as the UTF-16 units they are.
            unit = ((c & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
            s += 3;
        } else if ((c & 0xF8) == 0xF0 && (s[1] & 0xC0) == 0x80 && (s[2] & 0xC0) == 0x80 &&
                   (s[3] & 0xC0) == 0x80) {
            // Standard UTF-8 for a character beyond the BMP, which the JVM
            // never sends but a C caller may.
            unsigned cp =
                ((c & 0x07) << 18) | ((s[1] & 0x3F) << 12) | ((s[2] & 0x3F) << 6) | (s[3] & 0x3F);
            s += 4;
            if (cp >= 0x10000 && cp <= 0x10FFFF) {
                if (n + 2 >= wideLength)
                    return -1;
                cp -= 0x10000;
                wide[n++] = static_cast<WCHAR>(0xD800 | (cp >> 10));
                wide[n++] = static_cast<WCHAR>(0xDC00 | (cp & 0x3FF));
                continue;
            }
            unit = 0xFFFD;
        } else {
            unit = 0xFFFD;
            s += 1;
        }
        if (n + 1 >= wideLength)
            return -1;
        wide[n++] = static_cast<WCHAR>(unit);
    }
    wide[n] = 0;
    return n;
}
