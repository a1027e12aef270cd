// Code-page conversion: the ANSI code page (Windows-1252) and UTF-8, to and
// from UTF-16 code units, with the Win32 calling conventions (a length of -1
// includes the terminator, a zero output size asks for the size needed).
#include "runtime.h"

#include "../../src/platform/win32.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const DWORD kErrorInsufficientBuffer = 122;
const DWORD kErrorInvalidParameter = 87;

// 0x80..0x9F of Windows-1252; the five unassigned bytes map to themselves.
const uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void decodeCp1252(const unsigned char* s, size_t n, std::vector<uint16_t>& out) {
    for (size_t i = 0; i < n; i++)
        out.push_back(s[i] >= 0x80 && s[i] < 0xA0 ? kCp1252High[s[i] - 0x80] : s[i]);
}

// Invalid sequences, overlong forms and encoded surrogates become U+FFFD.
void decodeUtf8(const unsigned char* s, size_t n, std::vector<uint16_t>& out) {
    size_t i = 0;
    while (i < n) {
        unsigned c = s[i];
        unsigned need = 0;
        uint32_t cp = 0, min = 0;
        if (c < 0x80) {
            out.push_back(static_cast<uint16_t>(c));
            i++;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            need = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            need = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            need = 3, cp = c & 0x07, min = 0x10000;
        } else {
            out.push_back(0xFFFD);
            i++;
            continue;
        }
        size_t j = 1;
        for (; j <= need && i + j < n && (s[i + j] & 0xC0) == 0x80; j++)
            cp = (cp << 6) | (s[i + j] & 0x3F);
        if (j <= need || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            i += j;
            continue;
        }
        i += j;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<uint16_t>(0xD800 | (cp >> 10)));
            out.push_back(static_cast<uint16_t>(0xDC00 | (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<uint16_t>(cp));
        }
    }
}

void encodeUtf8(const uint16_t* w, size_t n, std::string& out) {
    for (size_t i = 0; i < n; i++) {
        uint32_t cp = w[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            i++;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
}

bool encodeCp1252(uint16_t c, char* out) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        *out = static_cast<char>(c);
        return true;
    }
    for (int i = 0; i < 32; i++) {
        if (kCp1252High[i] == c) {
            *out = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" {

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int length, LPWSTR wide,
                        int wideLength) {
    if (!text || length < -1 || wideLength < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) {
        sim::setLastError(kErrorInvalidParameter);
        return 0;
    }
    size_t n = length == -1 ? strlen(text) + 1 : static_cast<size_t>(length);
    std::vector<uint16_t> units;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    if (codePage == CP_UTF8)
        decodeUtf8(s, n, units);
    else
        decodeCp1252(s, n, units);
    if (wideLength == 0)
        return static_cast<int>(units.size());
    if (units.size() > static_cast<size_t>(wideLength)) {
        sim::setLastError(kErrorInsufficientBuffer);
        return 0;
    }
    for (size_t i = 0; i < units.size(); i++)
        wide[i] = units[i];
    return static_cast<int>(units.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int length, LPSTR text, int textLength,
                        LPCSTR defaultChar, BOOL* usedDefault) {
    if (!wide || length < -1 || textLength < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) {
        sim::setLastError(kErrorInvalidParameter);
        return 0;
    }
    size_t n = 0;
    if (length == -1) {
        while (wide[n])
            n++;
        n++;
    } else {
        n = static_cast<size_t>(length);
    }
    std::vector<uint16_t> units(n);
    for (size_t i = 0; i < n; i++)
        units[i] = static_cast<uint16_t>(wide[i]);
    std::string out;
    if (usedDefault)
        *usedDefault = FALSE;
    if (codePage == CP_UTF8) {
        encodeUtf8(units.data(), n, out);
    } else {
        char replacement = defaultChar ? defaultChar[0] : '?';
        for (size_t i = 0; i < n; i++) {
            char c;
            bool pair = units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < n &&
                        units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
            if (pair || !encodeCp1252(units[i], &c)) {
                c = replacement;
                if (usedDefault)
                    *usedDefault = TRUE;
                if (pair)
                    i++;
            }
            out += c;
        }
    }
    if (textLength == 0)
        return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(textLength)) {
        sim::setLastError(kErrorInsufficientBuffer);
        return 0;
    }
    memcpy(text, out.data(), out.size());
    return static_cast<int>(out.size());
}

} // extern "C"

namespace sim {

std::string narrow(LPCWSTR wide) {
    std::string out;
    if (!wide)
        return out;
    std::vector<uint16_t> units;
    for (size_t i = 0; wide[i]; i++)
        units.push_back(static_cast<uint16_t>(wide[i]));
    encodeUtf8(units.data(), units.size(), out);
    return out;
}

std::wstring widen(const std::string& utf8) {
    std::vector<uint16_t> units;
    decodeUtf8(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(), units);
    return std::wstring(units.begin(), units.end());
}

} // namespace sim
