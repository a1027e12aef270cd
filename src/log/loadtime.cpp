// The objects built when the library is loaded, in this order: the
// quantiser, the lock object, the RGB staging buffer. None is freed at
// unload but the lock object's critical section.
#include "loadtime.h"

#include <cstddef>
#include <new>

namespace {

// A whole 720 x 480 frame of the host's 32-bit pixels.
const int32_t kStagingBufferAtLoad = 720 * 480 * 4;

CQuantizer* newQuantizer() {
    return new CQuantizer(256, 8, 720, 480);
}

} // namespace

CQuantizer* pQuantizer = newQuantizer();
FileLock gFileLock;
int32_t gRgbBufferSize = kStagingBufferAtLoad;
unsigned char* gRgbBuffer = new unsigned char[kStagingBufferAtLoad];

void resetLoadTimeObjects() {
    delete pQuantizer;
    pQuantizer = newQuantizer();
    sizeStagingBuffer(kStagingBufferAtLoad);
}

bool sizeStagingBuffer(int32_t size) {
    if (size == gRgbBufferSize && gRgbBuffer)
        return true;
    delete[] gRgbBuffer;
    gRgbBuffer = new (std::nothrow) unsigned char[static_cast<size_t>(size)];
    gRgbBufferSize = gRgbBuffer ? size : 0;
    return gRgbBuffer != nullptr;
}
