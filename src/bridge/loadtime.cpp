// The objects built when the library is loaded, in this order: the
// quantiser, the lock object, the RGB staging buffer. None is freed at
// unload but the lock object's critical section.
#include "loadtime.h"

#include "../player/player.h"

CQuantizer* pQuantizer = new CQuantizer(256, 8, 720, 480);
FileLock gFileLock;
int32_t gRgbBufferSize = 720 * 480 * 4;
unsigned char* gRgbBuffer = new unsigned char[720 * 480 * 4];
