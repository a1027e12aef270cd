// CQuantizer: reduces a 32-bit OSD frame to 256 palette entries and one index
// byte per pixel.
//
// Colours are compared in premultiplied RGBA, (R*A/255, G*A/255, B*A/255, A),
// so the colour of a fully transparent pixel never matters, a translucent
// colour counts in proportion to its coverage, and no colour bleeds into
// transparent areas. Every fully transparent pixel maps to one palette entry
// (0,0,0,0).
//
// A frame of no more than maxColours distinct colours is reproduced exactly.
// Otherwise the palette is built from the frame's colour histogram and the
// pixels are mapped to their nearest entry, with optional dithering.
//
// The object remembers the previous frame: when the previous palette still
// fits the new frame about as well as a fresh one, it is kept, and pixels
// that did not change since the previous frame keep their index, so parts of
// the OSD that did not change do not flicker. When a change (a pop-up) brings
// colours the palette serves badly, the entries the unchanged pixels show
// are kept and the others chosen for the change, as long as that serves the
// frame about as well; a fresh palette of a frame of many colours leaves a
// sixteenth of its entries unused for that. When the pop-up goes, the
// entries it displaced come back as they were.
//
// The kernels use SSE2 where the processor has it and scalar code otherwise
// (or when the environment variable TOVIX_NO_SSE2 is set to anything but
// "0"); both give the same bytes. On 32-bit x86 the scalar code needs SSE,
// for its floating point: without it ProcessImage refuses every frame.
//
// Work buffers are sized at construction for the given frame size and grow
// only when a larger frame arrives. One object must not run two frames at
// the same time; it starts no threads. Output depends only on the sequence
// of frames and switches given to the object.
#ifndef TOVIX_QUANTIZER_CQUANTIZER_H
#define TOVIX_QUANTIZER_CQUANTIZER_H

#include <stdint.h>

// One pixel or palette entry: memory order blue, green, red, alpha, which is
// a 0xAARRGGBB integer on a little-endian machine. Alpha 0 is fully
// transparent, 255 opaque; colour components are not premultiplied.
struct _OsdColor {
    unsigned char blue;
    unsigned char green;
    unsigned char red;
    unsigned char alpha;
};

namespace tovixengine {
struct Engine;
}

class CQuantizer {
  public:
    // maxColours: palette entries the quantiser may use (1 to 256; the
    // palette written always has 256 entries, unused ones are (0,0,0,0)).
    // bitsPerChannel: precision of each palette component, 1 to 8; below 8
    // every component of an entry is rounded to that many bits.
    // width, height: the frame size to size the work buffers for; also the
    // initial imageWidth and imageHeight.
    CQuantizer(unsigned maxColours, unsigned bitsPerChannel, unsigned width, unsigned height);
    virtual ~CQuantizer();

    CQuantizer(const CQuantizer&) = delete;
    CQuantizer& operator=(const CQuantizer&) = delete;

    // Size of the next frame in pixels; assign directly before ProcessImage.
    uint32_t imageHeight;
    uint32_t imageWidth;

    // Dithering (default on). On: in smooth areas such as gradients a
    // pixel whose colour lies between its two nearest entries shows one or
    // the other by a fixed 8 x 8 pattern, the second one in proportion to
    // how near the colour lies to it, which removes banding; the dither
    // only mixes those two entries, and a pixel's entry depends only on its
    // colour and its place, so a pattern does not crawl from frame to
    // frame. Pixels whose colour is exactly in the palette, pixels on edges
    // (text, panel borders), noisy areas and transparent pixels are not
    // dithered, so flat panels and text stay clean. Off: every pixel gets
    // its nearest palette entry.
    void SetErrorDiffusion(bool enable);

    // Palette distribution (default off). Off: the palette is refined where
    // the squared error is largest, which gives the lowest error. On: the
    // colour space is divided by pixel count instead, so that every entry
    // serves a similar share of the pixels (classic median cut); rare but
    // distinct colours may then lose their own entry.
    void SetDistributeClut(bool enable);

    // Full palette search (default off). Off: nearest-entry queries start
    // from a first guess and its nearest neighbours with a distance bound,
    // and fall back to scanning the palette only when the bound does not
    // decide.
    // On: every query scans all palette entries. Both give the same answer;
    // the full search is the slow reference path.
    void SetFullClutSearch(bool enable);

    // Quantises one frame of imageWidth x imageHeight pixels, row after row.
    // Reads exactly that many pixels, writes all 256 palette entries and
    // exactly imageWidth * imageHeight index bytes, and nothing else.
    // Returns 0 on success, -1 when a pointer needed for the frame is null,
    // the frame has more pixels than an OSD block holds (16,776,183), or its
    // buffers cannot be allocated (or the processor lacks SSE); nothing is
    // written then.
    int ProcessImage(const _OsdColor* pixels, _OsdColor* palette, unsigned char* indices);

    // False on a 32-bit x86 processor without SSE, where ProcessImage
    // refuses every frame.
    bool ProcessorSupported() const;

  private:
    // The kernel build this process uses (SSE2 or scalar) and the state it
    // made; both null on a processor without SSE, where every frame is
    // refused.
    const tovixengine::Engine* engine_;
    void* state_;
};

#endif
