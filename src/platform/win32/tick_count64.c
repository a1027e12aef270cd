// Windows XP has no GetTickCount64, yet the threads library that is linked
// statically into every DLL and program here calls it for its timed waits.
// This definition of the import it looks up stands in for KERNEL32's, so the
// linker never asks KERNEL32 for the function: the performance counter,
// which every Windows since 2000 has, read as milliseconds.
#include <windows.h>

static ULONGLONG WINAPI tickCount64(void) {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    ULONGLONG counts = (ULONGLONG)now.QuadPart;
    ULONGLONG perSecond = (ULONGLONG)frequency.QuadPart;
    return counts / perSecond * 1000 + counts % perSecond * 1000 / perSecond;
}

ULONGLONG(WINAPI* const tickCount64Import)(void) __asm__("__imp__GetTickCount64@0") = tickCount64;
