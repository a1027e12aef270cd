// The objects that exist from the moment the library is loaded.
#pragma once

#include "../platform/exports.h"
#include "../platform/platform.h"

#include "CQuantizer.h"

#include <cstdint>

extern "C" TOVIX_EXPORT CQuantizer* pQuantizer;

// The lock object lent to the shared-source filter while a time-shifted file
// is open: a word the library leaves at zero, then a critical section that
// lives as long as the library is loaded. The library never enters it.
struct FileLock {
    int32_t reserved = 0;
    CRITICAL_SECTION section;
    FileLock() { InitializeCriticalSection(&section); }
    ~FileLock() { DeleteCriticalSection(&section); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
};
extern FileLock gFileLock;

// The host's pixels of the current OSD frame, one 32-bit value each, and the
// block's size in bytes.
extern unsigned char* gRgbBuffer;
extern int32_t gRgbBufferSize;

// For tests and fuzzers: a new quantiser, whose work buffers have not yet
// grown, and the staging buffer of 720 x 480 pixels, as at load. The lock
// object stays.
void resetLoadTimeObjects();

// Makes the staging buffer exactly `size` bytes; false when it cannot be had.
bool sizeStagingBuffer(int32_t size);
