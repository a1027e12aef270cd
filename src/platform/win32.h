// The Win32 calls the library makes outside COM: the graph log file, the
// process id, local time, critical sections and code-page conversion.
#pragma once

#include "com.h"

#ifndef _WIN32

typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x80
#define CP_ACP 0
#define CP_UTF8 65001
#define MAX_PATH 260

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct CRITICAL_SECTION {
    void* impl; // owned by the simulated runtime
};

extern "C" {
TOVIX_SIM_API HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                        SECURITY_ATTRIBUTES* security, DWORD disposition,
                                        DWORD flags, HANDLE templateFile);
TOVIX_SIM_API BOOL WINAPI WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written,
                                    void* overlapped);
TOVIX_SIM_API BOOL WINAPI CloseHandle(HANDLE handle);
TOVIX_SIM_API DWORD WINAPI GetLastError();
TOVIX_SIM_API DWORD WINAPI GetCurrentProcessId();
TOVIX_SIM_API void WINAPI GetLocalTime(SYSTEMTIME* time);
TOVIX_SIM_API void WINAPI InitializeCriticalSection(CRITICAL_SECTION* cs);
TOVIX_SIM_API void WINAPI DeleteCriticalSection(CRITICAL_SECTION* cs);
TOVIX_SIM_API void WINAPI EnterCriticalSection(CRITICAL_SECTION* cs);
TOVIX_SIM_API void WINAPI LeaveCriticalSection(CRITICAL_SECTION* cs);
TOVIX_SIM_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length,
                                             LPWSTR wide, int wideLength);
TOVIX_SIM_API int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int length,
                                             LPSTR text, int textLength, LPCSTR defaultChar,
                                             BOOL* usedDefault);
}

#endif // _WIN32
