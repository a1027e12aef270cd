// Host strings arrive in the JVM's modified UTF-8.
#pragma once

#include "../platform/com.h"

// Converts a host path (modified UTF-8: U+0000 as C0 80, characters beyond
// the BMP as two 3-byte surrogate halves) into UTF-16 code units in `wide`,
// terminated. Answers the number of units without the terminator, or -1
// when the path does not fit `wideLength` units with its terminator.
// Malformed bytes become U+FFFD.
int hostPathToWide(const char* path, WCHAR* wide, int wideLength);
