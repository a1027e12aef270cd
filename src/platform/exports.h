// Marks the library's exported functions and variables. On Windows the .def
// file names the exports; elsewhere every symbol is hidden unless marked.
#pragma once

#ifdef _WIN32
#define TOVIX_EXPORT
#else
#define TOVIX_EXPORT __attribute__((visibility("default")))
#endif
