// The Win32 calls the library makes: files for the graph log, the process
// id, local time and critical sections.
#include "../control.h"
#include "runtime.h"

#include "../../src/platform/win32.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local DWORD tLastError = 0;

// An open file handle. Files opened without sharing are remembered by path
// so that a second open fails with a sharing violation, as on Windows.
struct FileHandle {
    int fd;
    std::string path;
    bool exclusive;
};

std::mutex gFilesMutex;
std::set<std::string> gExclusivePaths;

bool gFixedTime = false;
SYSTEMTIME gTime;

std::string absolutePath(const char* name) {
    if (name[0] == '/')
        return name;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd))
        return name;
    return std::string(cwd) + "/" + name;
}

} // namespace

void sim::setLastError(DWORD error) {
    tLastError = error;
}

extern "C" {

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES*, DWORD disposition,
                   DWORD, HANDLE) {
    sim::Fault f = sim::fault("CreateFileA");
    if (f.fail) {
        tLastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    if (!name || !*name) {
        tLastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    int flags = 0;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        flags = O_RDWR;
    else if (access & GENERIC_WRITE)
        flags = O_WRONLY;
    else
        flags = O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        tLastError = 87; /* ERROR_INVALID_PARAMETER */
        return INVALID_HANDLE_VALUE;
    }
    std::string path = absolutePath(name);
    std::lock_guard<std::mutex> lock(gFilesMutex);
    if (gExclusivePaths.count(path)) {
        tLastError = ERROR_SHARING_VIOLATION;
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(name, flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        tLastError = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    bool exclusive = (share & (FILE_SHARE_READ | FILE_SHARE_WRITE)) == 0;
    if (exclusive)
        gExclusivePaths.insert(path);
    tLastError = 0;
    return new FileHandle{fd, path, exclusive};
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void*) {
    if (written)
        *written = 0;
    if (!file || file == INVALID_HANDLE_VALUE) {
        tLastError = 6; // ERROR_INVALID_HANDLE
        return FALSE;
    }
    FileHandle* handle = static_cast<FileHandle*>(file);
    const char* p = static_cast<const char*>(data);
    DWORD done = 0;
    while (done < size) {
        ssize_t n = write(handle->fd, p + done, size - done);
        if (n <= 0) {
            tLastError = 29; // ERROR_WRITE_FAULT
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (written)
        *written = done;
    return TRUE;
}

BOOL CloseHandle(HANDLE file) {
    if (!file || file == INVALID_HANDLE_VALUE)
        return FALSE;
    FileHandle* handle = static_cast<FileHandle*>(file);
    {
        std::lock_guard<std::mutex> lock(gFilesMutex);
        if (handle->exclusive)
            gExclusivePaths.erase(handle->path);
    }
    close(handle->fd);
    delete handle;
    return TRUE;
}

DWORD GetLastError() {
    return tLastError;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

void GetLocalTime(SYSTEMTIME* out) {
    if (gFixedTime) {
        *out = gTime;
        return;
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    out->wYear = static_cast<WORD>(local.tm_year + 1900);
    out->wMonth = static_cast<WORD>(local.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    out->wDay = static_cast<WORD>(local.tm_mday);
    out->wHour = static_cast<WORD>(local.tm_hour);
    out->wMinute = static_cast<WORD>(local.tm_min);
    out->wSecond = static_cast<WORD>(local.tm_sec);
    out->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

void InitializeCriticalSection(CRITICAL_SECTION* cs) {
    cs->impl = new std::recursive_mutex;
}

void DeleteCriticalSection(CRITICAL_SECTION* cs) {
    delete static_cast<std::recursive_mutex*>(cs->impl);
    cs->impl = nullptr;
}

void EnterCriticalSection(CRITICAL_SECTION* cs) {
    static_cast<std::recursive_mutex*>(cs->impl)->lock();
}

void LeaveCriticalSection(CRITICAL_SECTION* cs) {
    static_cast<std::recursive_mutex*>(cs->impl)->unlock();
}

} // extern "C"

namespace simctl {

void setLocalTime(const SYSTEMTIME* time) {
    gFixedTime = time != nullptr;
    if (time)
        gTime = *time;
}

} // namespace simctl
