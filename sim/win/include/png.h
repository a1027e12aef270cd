/* The part of libpng's simplified writing API that the OSD snapshots use,
 * for the Windows build of the card's components, where libpng is not at
 * hand. Images are written as 8-bit RGBA with stored (uncompressed) deflate
 * blocks: larger files than libpng's, read the same by any PNG reader. */
#ifndef TOVIX_SIM_WIN_PNG_H
#define TOVIX_SIM_WIN_PNG_H

#include <stdint.h>

typedef uint32_t png_uint_32;
typedef int32_t png_int_32;

#define PNG_IMAGE_VERSION 1
#define PNG_FORMAT_FLAG_ALPHA 0x01U
#define PNG_FORMAT_FLAG_COLOR 0x02U
#define PNG_FORMAT_FLAG_BGR 0x10U
#define PNG_FORMAT_RGBA (PNG_FORMAT_FLAG_COLOR | PNG_FORMAT_FLAG_ALPHA)
#define PNG_FORMAT_BGRA (PNG_FORMAT_RGBA | PNG_FORMAT_FLAG_BGR)

typedef struct {
    void* opaque;
    png_uint_32 version;
    png_uint_32 width;
    png_uint_32 height;
    png_uint_32 format;
    png_uint_32 flags;
    png_uint_32 colormap_entries;
    png_uint_32 warning_or_error;
    char message[64];
} png_image;

#ifdef __cplusplus
extern "C" {
#endif

/* Writes `buffer` (rows of width pixels in image->format, RGBA or BGRA, each
 * `row_stride` pixels apart, 0 meaning width) to `file`. Answers 1 on
 * success, 0 on failure. convert_to_8bit and colormap are not used. */
int png_image_write_to_file(png_image* image, const char* file, int convert_to_8bit,
                            const void* buffer, png_int_32 row_stride, const void* colormap);

#ifdef __cplusplus
}
#endif

#endif
