// What the card's output shows, composed on request (simcard::screen): the
// output mode's raster, the video picture placed where the decoder was told
// (or where the aspect register puts it), and the OSD layer over it.
#include "../media/stream.h"
#include "decoder.h"
#include "screen_pattern.h"
#include "screen_video.h"
#include "state.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

namespace sim {
namespace card {

namespace {

// The aspect register's values, as the library encodes them.
enum Aspect { kAsIs = 0, kPanScan = 1, kLetterBox = 2, kWide = 3 };

// A scaled picture may be larger than the screen (pan and scan, a
// destination reaching past the edges), within reason.
const int64_t kMostScaledPixels = int64_t(64) << 20;
const LONG kFar = 1 << 24;

struct Mode {
    int width = 720;
    int height = 480;
    bool tv = true;
    std::string name;
};

// The raster of the output the registers select. TV is 480 lines but for
// PAL (bit 1 without bit 3: PAL60 and PAL-M are 525-line systems); HDTV and
// VGA take the mode's line in the profile, and 720x480 when it has none.
Mode outputMode(const simcard::Registers& r) {
    Mode m;
    char text[160];
    if (r.outputFlags & 0x01) {
        bool pal = (r.outputFlags & 0x0A) == 0x02;
        const char* standard = (r.outputFlags & 0x0A) == 0x0A ? "PAL-M"
                               : (r.outputFlags & 0x08)       ? "PAL60"
                               : pal                          ? "PAL"
                                                              : "NTSC";
        m.height = pal ? 576 : 480;
        snprintf(text, sizeof text, "TV %s %dx%d", standard, m.width, m.height);
        m.name = text;
        return m;
    }
    m.tv = false;
    bool hd = (r.outputFlags & 0x20) != 0;
    const char* kind = hd ? "HDTV" : "VGA";
    int number = hd ? r.hdMode : r.vgaMode;
    std::string line;
    char name[65] = "";
    int w = 0;
    int h = 0;
    if (profileValue(hd ? "HDTV" : "Progressive", "mode" + std::to_string(number), &line) &&
        sscanf(line.c_str(), "%64s %d %d", name, &w, &h) == 3 && w > 0 && h > 0 && w <= 8192 &&
        h <= 8192) {
        m.width = w;
        m.height = h;
        snprintf(text, sizeof text, "%s mode %d (%s) %dx%d", kind, number, name, w, h);
    } else {
        snprintf(text, sizeof text, "%s mode %d (not in the profile) %dx%d", kind, number, m.width,
                 m.height);
    }
    m.name = text;
    return m;
}

// What the newest decoder filter plays and where it puts it.
struct Source {
    bool decoder = false;
    bool connected = false;
    std::string file;
    double position = -1;
    bool defaultDestination = true;
    LONG left = 0, top = 0, width = 0, height = 0; // the destination
    double aspect = 0;                             // the picture's shape, 0 when unknown
};

// The file the filters upstream of `pin` read, found through the first
// IFileSourceFilter on the way up; empty when there is none.
std::string upstreamFile(IPin* pin, int depth = 0) {
    IPin* peer = nullptr;
    if (depth > 8 || FAILED(pin->ConnectedTo(&peer)) || !peer)
        return "";
    PIN_INFO info;
    info.pFilter = nullptr;
    HRESULT hr = peer->QueryPinInfo(&info);
    peer->Release();
    if (FAILED(hr) || !info.pFilter)
        return "";
    std::string file;
    IFileSourceFilter* source = nullptr;
    if (SUCCEEDED(info.pFilter->QueryInterface(IID_IFileSourceFilter,
                                               reinterpret_cast<void**>(&source))) &&
        source) {
        LPOLESTR name = nullptr;
        if (SUCCEEDED(source->GetCurFile(&name, nullptr)) && name)
            file = narrow(name);
        CoTaskMemFree(name);
        source->Release();
    } else {
        IEnumPins* pins = nullptr;
        if (SUCCEEDED(info.pFilter->EnumPins(&pins)) && pins) {
            IPin* p = nullptr;
            while (file.empty() && pins->Next(1, &p, nullptr) == S_OK) {
                PIN_DIRECTION direction = PINDIR_OUTPUT;
                if (SUCCEEDED(p->QueryDirection(&direction)) && direction == PINDIR_INPUT)
                    file = upstreamFile(p, depth + 1);
                p->Release();
            }
            pins->Release();
        }
    }
    info.pFilter->Release();
    return file;
}

Source newestSource() {
    Source s;
    forEachLive(kDecoderClassName, [&s](ComObject* object) {
        auto* filter = dynamic_cast<BaseFilter*>(object);
        if (!filter)
            return;
        s = Source();
        s.decoder = true;
        BasePin* video = filter->pinAt(kDecoderVideoIn);
        s.connected = video && video->isConnected();
        if (!s.connected)
            return;
        s.file = upstreamFile(video);
        IMediaSeeking* seeking = nullptr;
        if (SUCCEEDED(
                filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))) &&
            seeking) {
            LONGLONG now = 0;
            if (SUCCEEDED(seeking->GetCurrentPosition(&now)))
                s.position = static_cast<double>(now) / 1e7;
            seeking->Release();
        }
        IBasicVideo2* basic = nullptr;
        if (SUCCEEDED(filter->QueryInterface(IID_IBasicVideo2, reinterpret_cast<void**>(&basic))) &&
            basic) {
            s.defaultDestination = basic->IsUsingDefaultDestination() == S_OK;
            if (FAILED(basic->GetDestinationPosition(&s.left, &s.top, &s.width, &s.height)))
                s.defaultDestination = true;
            LONG x = 0, y = 0;
            if (SUCCEEDED(basic->GetPreferredAspectRatio(&x, &y)) && x > 0 && y > 0)
                s.aspect = static_cast<double>(x) / y;
            basic->Release();
        }
    });
    return s;
}

// Where the video goes on the screen, and which part of the picture.
struct Placement {
    int left = 0, top = 0, width = 0, height = 0;
    int cropLeft = 0, cropTop = 0, cropWidth = 0, cropHeight = 0;
};

// The default destination fills the screen as the aspect register says:
// as is (stretched), letter box (fitted whole, bars beside or above), pan
// and scan (filling, the picture's sides cut) or wide (a TV taken as 16:9,
// fitted whole). A destination the library set is used as it is.
Placement place(const Mode& mode, int aspectRegister, const Source& s, int pictureWidth,
                int pictureHeight) {
    Placement p;
    p.cropWidth = pictureWidth;
    p.cropHeight = pictureHeight;
    if (!s.defaultDestination) {
        // Far beyond any screen is as good as there; sums stay in range.
        auto bound = [](LONG v) { return static_cast<int>(std::clamp<LONG>(v, -kFar, kFar)); };
        p.left = bound(s.left), p.top = bound(s.top);
        p.width = bound(s.width), p.height = bound(s.height);
        return p;
    }
    p.width = mode.width, p.height = mode.height;
    double screenShape = mode.tv ? (aspectRegister == kWide ? 16.0 / 9 : 4.0 / 3)
                                 : static_cast<double>(mode.width) / mode.height;
    double pictureShape = s.aspect > 0        ? s.aspect
                          : pictureHeight > 0 ? static_cast<double>(pictureWidth) / pictureHeight
                                              : screenShape;
    double ratio = pictureShape / screenShape;
    if (aspectRegister == kLetterBox || aspectRegister == kWide) {
        if (ratio > 1)
            p.height = static_cast<int>(std::lround(mode.height / ratio));
        else
            p.width = static_cast<int>(std::lround(mode.width * ratio));
        p.left = (mode.width - p.width) / 2;
        p.top = (mode.height - p.height) / 2;
    } else if (aspectRegister == kPanScan) {
        if (ratio > 1)
            p.cropWidth = static_cast<int>(std::lround(pictureWidth / ratio));
        else
            p.cropHeight = static_cast<int>(std::lround(pictureHeight * ratio));
        p.cropLeft = (pictureWidth - p.cropWidth) / 2;
        p.cropTop = (pictureHeight - p.cropHeight) / 2;
    }
    return p;
}

// Copies the rows and columns of `image` (w x h, placed at x, y) that fall
// on the screen.
void blit(simcard::Screen& screen, const std::vector<uint32_t>& image, int x, int y, int w, int h) {
    int x0 = std::max(0, x), x1 = std::min(screen.width, x + w);
    int y0 = std::max(0, y), y1 = std::min(screen.height, y + h);
    for (int row = y0; row < y1; row++)
        std::copy(image.begin() + static_cast<ptrdiff_t>(row - y) * w + (x0 - x),
                  image.begin() + static_cast<ptrdiff_t>(row - y) * w + (x1 - x),
                  screen.pixels.begin() + static_cast<ptrdiff_t>(row) * screen.width + x0);
}

// The test pattern over the part of the area on the screen.
void pattern(simcard::Screen& screen, const Placement& p, const std::string& reason) {
    int x0 = std::max(0, p.left), x1 = std::min<int64_t>(screen.width, int64_t(p.left) + p.width);
    int y0 = std::max(0, p.top), y1 = std::min<int64_t>(screen.height, int64_t(p.top) + p.height);
    if (x1 <= x0 || y1 <= y0)
        return;
    drawTestPattern(screen.pixels.data() + static_cast<ptrdiff_t>(y0) * screen.width + x0,
                    screen.width, x1 - x0, y1 - y0, reason);
}

// The OSD's straight alpha over the opaque picture.
void blend(simcard::Screen& screen, const OsdView& osd) {
    if (!osd.displayOn || osd.width <= 0 || osd.height <= 0 ||
        osd.pixels.size() != static_cast<size_t>(osd.width) * static_cast<size_t>(osd.height))
        return;
    int x0 = std::max(0, osd.left), x1 = std::min(screen.width, osd.left + osd.width);
    int y0 = std::max(0, osd.top), y1 = std::min(screen.height, osd.top + osd.height);
    for (int y = y0; y < y1; y++) {
        const uint32_t* from = osd.pixels.data() + static_cast<ptrdiff_t>(y - osd.top) * osd.width;
        uint32_t* to = screen.pixels.data() + static_cast<ptrdiff_t>(y) * screen.width;
        for (int x = x0; x < x1; x++) {
            uint32_t o = from[x - osd.left];
            uint32_t a = o >> 24;
            if (a == 0)
                continue;
            uint32_t v = to[x];
            uint32_t mixed = 0xFF000000;
            for (int shift = 0; shift < 24; shift += 8) {
                uint32_t c =
                    ((o >> shift & 0xFF) * a + (v >> shift & 0xFF) * (255 - a) + 127) / 255;
                mixed |= c << shift;
            }
            to[x] = mixed;
        }
    }
}

} // namespace

} // namespace card
} // namespace sim

namespace simcard {

Screen screen() {
    using namespace sim::card;
    Screen out;
    Registers r = registers();
    Mode mode = outputMode(r);
    out.width = mode.width;
    out.height = mode.height;
    out.mode = mode.name;
    out.pixels.assign(static_cast<size_t>(mode.width) * static_cast<size_t>(mode.height),
                      0xFF000000);

    Source source = newestSource();
    out.file = source.file;
    out.position = source.position;
    std::string reason;
    std::unique_ptr<VideoPicture> picture;
    if (!source.decoder)
        reason = "nothing is playing: the card has no decoder";
    else if (!source.connected)
        reason = "nothing is playing: no video reaches the decoder";
    else if (source.file.empty())
        reason = "the decoder's stream comes from no file";
    else if (source.position < 0)
        reason = "the decoder tells no position";
    else
        picture = decodePictureAt(source.file, source.position, &reason);

    int pictureWidth = picture ? picture->width() : 0;
    int pictureHeight = picture ? picture->height() : 0;
    Placement where = place(mode, r.aspect, source, pictureWidth, pictureHeight);
    out.videoArea = RECT{where.left, where.top, where.left + where.width, where.top + where.height};
    if (picture) {
        std::vector<uint32_t> scaled;
        if (int64_t(where.width) * where.height > kMostScaledPixels)
            reason = "the video's destination is too large to show";
        else if (!picture->scaled(where.cropLeft, where.cropTop, where.cropWidth, where.cropHeight,
                                  where.width, where.height, &scaled))
            reason = "the picture could not be scaled to its destination";
        if (reason.empty()) {
            blit(out, scaled, where.left, where.top, where.width, where.height);
            out.picture = true;
            out.pictureTime = picture->seconds();
        }
    }
    if (!out.picture) {
        out.note = reason;
        pattern(out, where, reason);
    }
    blend(out, osdView());
    return out;
}

bool writeScreenPng(const std::string& path, Screen* shown) {
    Screen s = screen();
    bool written = sim::card::writePng(path, s.pixels, s.width, s.height);
    if (shown)
        *shown = std::move(s);
    return written;
}

} // namespace simcard
