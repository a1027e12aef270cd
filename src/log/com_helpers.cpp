// Wide names into the ANSI code page.
#include "com_helpers.h"

#include <cstring>

void ansiName(const WCHAR* wide, char* out, size_t size) {
    // Converted whole first: the conversion fails rather than cut when its
    // buffer is short.
    char full[MAX_FILTER_NAME * 2 + 1];
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, full, sizeof full, nullptr, nullptr);
    if (n <= 0)
        return;
    size_t length = strnlen(full, size - 1);
    memcpy(out, full, length);
    out[length] = '\0';
}
