/* Reference run of libimagequant on one PNG frame, for the comparison
 * script: prints the median time of the quantise-and-remap step, the PSNR
 * over premultiplied RGBA (same definition as osdquant) and, with
 * --previous, the flicker between two frames quantised in sequence. */
#include <libimagequant.h>
#include <math.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef struct {
    png_uint_32 width, height;
    unsigned char* rgba;
} Image;

static int load(const char* path, Image* img) {
    png_image p;
    memset(&p, 0, sizeof p);
    p.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&p, path)) {
        fprintf(stderr, "liq_compare: %s: %s\n", path, p.message);
        return 0;
    }
    p.format = PNG_FORMAT_RGBA;
    img->width = p.width;
    img->height = p.height;
    img->rgba = malloc(PNG_IMAGE_SIZE(p));
    if (!img->rgba || !png_image_finish_read(&p, NULL, img->rgba, 0, NULL)) {
        fprintf(stderr, "liq_compare: %s: %s\n", path, p.message);
        return 0;
    }
    return 1;
}

static double now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static int cmp_double(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

/* One quantisation; fills out (palette as RGBA) and indices. */
static double quantise(const Image* img, int speed, float dither, liq_color* palette,
                       unsigned char* indices) {
    double t0 = now_ms();
    liq_attr* attr = liq_attr_create();
    liq_set_speed(attr, speed);
    liq_image* image = liq_image_create_rgba(attr, img->rgba, (int)img->width, (int)img->height, 0);
    liq_result* result = NULL;
    if (liq_image_quantize(image, attr, &result) != LIQ_OK) {
        fprintf(stderr, "liq_compare: quantisation failed\n");
        exit(1);
    }
    liq_set_dithering_level(result, dither);
    liq_write_remapped_image(result, image, indices, (size_t)img->width * img->height);
    const liq_palette* pal = liq_get_palette(result);
    memset(palette, 0, 256 * sizeof *palette);
    memcpy(palette, pal->entries, pal->count * sizeof *palette);
    double t1 = now_ms();
    liq_result_destroy(result);
    liq_image_destroy(image);
    liq_attr_destroy(attr);
    return t1 - t0;
}

static double psnr(const Image* img, const liq_color* palette, const unsigned char* indices) {
    size_t n = (size_t)img->width * img->height;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* s = img->rgba + 4 * i;
        const liq_color* q = &palette[indices[i]];
        double as = s[3] / 255.0, aq = q->a / 255.0;
        double dr = s[0] * as - q->r * aq, dg = s[1] * as - q->g * aq, db = s[2] * as - q->b * aq;
        double da = (double)s[3] - q->a;
        sum += dr * dr + dg * dg + db * db + da * da;
    }
    if (sum == 0)
        return INFINITY;
    return 10.0 * log10(255.0 * 255.0 / (sum / (4.0 * n)));
}

int main(int argc, char** argv) {
    int speed = 4, runs = 5;
    float dither = 1.0f;
    const char *previous = NULL, *path = NULL;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--speed") && i + 1 < argc)
            speed = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--dither") && i + 1 < argc)
            dither = (float)atof(argv[++i]);
        else if (!strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--previous") && i + 1 < argc)
            previous = argv[++i];
        else if (argv[i][0] != '-')
            path = argv[i];
        else {
            fprintf(
                stderr,
                "usage: liq_compare [--speed N] [--dither 0..1] [--runs N] [--previous PNG] PNG\n");
            return 2;
        }
    }
    if (!path) {
        fprintf(stderr,
                "usage: liq_compare [--speed N] [--dither 0..1] [--runs N] [--previous PNG] PNG\n");
        return 2;
    }
    if (runs < 1)
        runs = 1;
    Image img;
    if (!load(path, &img))
        return 1;
    size_t n = (size_t)img.width * img.height;
    unsigned char* indices = malloc(n ? n : 1);
    liq_color palette[256];
    double* times = malloc(runs * sizeof *times);
    for (int r = 0; r < runs; ++r)
        times[r] = quantise(&img, speed, dither, palette, indices);
    qsort(times, runs, sizeof *times, cmp_double);
    int used = 0;
    unsigned char seen[256] = {0};
    for (size_t i = 0; i < n; ++i)
        if (!seen[indices[i]]) {
            seen[indices[i]] = 1;
            ++used;
        }
    printf("time_ms=%.3f psnr=%.2f colours=%d", times[runs / 2], psnr(&img, palette, indices),
           used);
    if (previous) {
        Image prev;
        if (!load(previous, &prev))
            return 1;
        if (prev.width != img.width || prev.height != img.height) {
            fprintf(stderr, "liq_compare: frames differ in size\n");
            return 1;
        }
        unsigned char* prevIndices = malloc(n ? n : 1);
        liq_color prevPalette[256];
        quantise(&prev, speed, dither, prevPalette, prevIndices);
        size_t same = 0, changed = 0;
        for (size_t i = 0; i < n; ++i) {
            if (memcmp(prev.rgba + 4 * i, img.rgba + 4 * i, 4) != 0)
                continue;
            ++same;
            const liq_color *a = &prevPalette[prevIndices[i]], *b = &palette[indices[i]];
            if (a->r != b->r || a->g != b->g || a->b != b->b || a->a != b->a)
                ++changed;
        }
        printf(" flicker=%.4f", same ? (double)changed / same : 0.0);
    }
    printf("\n");
    return 0;
}
