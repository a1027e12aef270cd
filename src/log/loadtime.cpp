// The objects built when the library is loaded, in this order: the
// quantiser, the lock object, the RGB staging buffer. None is freed at
// unload but the lock object's critical section.
#include "loadtime.h"

#include <cstddef>
#include <new>

CQuantizer* pQuantizer = new CQuantizer(256, 8, 720, 480);
FileLock gFileLock;
int32_t gRgbBufferSize = 720 * 480 * 4;
unsigned char* gRgbBuffer = new unsigned char[720 * 480 * 4];

bool sizeStagingBuffer(int32_t size) {
    if (size == gRgbBufferSize && gRgbBuffer)
        return true;
    delete[] gRgbBuffer;
    gRgbBuffer = new (std::nothrow) unsigned char[static_cast<size_t>(size)];
    gRgbBufferSize = gRgbBuffer ? size : 0;
    return gRgbBuffer != nullptr;
}
