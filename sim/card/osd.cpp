// The card's OSD layer: the enumerator that hands out OSD objects, the OSD
// object that provides block buffers and shows blocks, and the screen it
// composes.
//
// A block is checked before it is shown (type, length, sizes, that it lies
// within its buffer); a block that fails is written to the world's trace and
// the screen keeps what it showed, as the card's firmware refuses a bad
// block rather than show garbage.
#include "../com/runtime.h"
#include "state.h"

#include "../../src/card/card_interfaces.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <png.h>
#include <vector>

namespace {

// The block format, written out again here rather than taken from
// osdblock/osd_block.h: the card reads blocks as an independent reader, so
// that a fault in the library's writer shows as a refused block instead of
// passing through both sides unnoticed.
const int kBlockType = 0x3E;
const int kBlockFixedPart = 1032; // header and palette
const uint64_t kMaxBlockLength = 0xFFFFFF;
const int64_t kMaxScreenPixels = 16776183; // what a block could describe

// The one OSD layer of the card, shared by every OSD object.
struct Layer {
    std::mutex mutex;
    int objectCount = 1;
    int requests = 0;
    unsigned lastSize = 0;
    bool displayOn = false;
    int shown = 0;
    int rejected = 0;
    simcard::BlockHeader header{};
    RECT destination{};
    bool destinationSet = false;
    std::vector<uint32_t> screen;
    int width = 0;
    int height = 0;
    // The last block at its own size, kept only when it was scaled to its
    // destination (otherwise the screen is the block).
    std::vector<uint32_t> block;
    bool scaled = false;
    std::vector<uint32_t> columnMap; // source column of every screen column
    std::string snapshotFolder;
    int snapshots = 0;
};

Layer& layer() {
    static Layer* l = new Layer; // outlives every static object that may use it
    return *l;
}

// Called with the layer locked, after a block was accepted.
void snapshot(Layer& l) {
    std::string folder = l.snapshotFolder;
    if (folder.empty()) {
        const char* env = getenv("TOVIX_SIM_SNAPSHOTS");
        if (!env || !*env)
            return;
        folder = env;
    }
    char name[32];
    snprintf(name, sizeof name, "/osd_%04d.png", l.snapshots + 1);
    if (sim::card::writePng(folder + name, l.screen, l.width, l.height))
        l.snapshots++;
    else
        sim::trace("OSD snapshot %s%s could not be written", folder.c_str(), name);
}

class OsdObject : public IOsdObject, public sim::ComObject {
  public:
    explicit OsdObject(int number) : ComObject("OsdObject") {
        snprintf(name_, sizeof name_, "Tovix OSD layer %d", number);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return sim::queryInterface(this, riid, ppv,
                                   {{&IID_IUnknown, static_cast<IOsdObject*>(this)}});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE GetBlockBuffer(unsigned int size, void** block) override {
        if (!block)
            return E_POINTER;
        *block = nullptr;
        static const std::string point = "OsdObject::GetBlockBuffer";
        HRESULT armed = S_OK;
        bool fired = sim::faultFires(point, &armed);
        {
            Layer& l = layer();
            std::lock_guard<std::mutex> lock(l.mutex);
            l.requests++;
            l.lastSize = size;
        }
        if (fired)
            return FAILED(armed) ? armed : E_OUTOFMEMORY; // no buffer: never a success
        // The card's OSD memory holds no block longer than its format allows.
        if (size > kMaxBlockLength) {
            sim::trace("OSD block buffer of %u bytes refused: beyond the OSD memory", size);
            return E_OUTOFMEMORY;
        }
        // Exactly the size asked: a block written past it is the writer's
        // fault, and the sanitizers should see it.
        buffer_.reset(new unsigned char[size ? size : 1]);
        bufferSize_ = size;
        *block = buffer_.get();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Close() override {
        static const std::string point = "OsdObject::Close";
        HRESULT armed = S_OK;
        sim::faultFires(point, &armed);
        closed_ = true;
        return armed;
    }

    HRESULT STDMETHODCALLTYPE SetDisplay(int on) override {
        static const std::string point = "OsdObject::SetDisplay";
        HRESULT armed;
        if (sim::faultFires(point, &armed))
            return armed;
        Layer& l = layer();
        std::lock_guard<std::mutex> lock(l.mutex);
        if (!on) {
            l.displayOn = false;
            return S_OK;
        }
        if (!show(l)) {
            l.rejected++;
            return E_INVALIDARG;
        }
        l.shown++;
        l.displayOn = true;
        snapshot(l);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE SetDestination(RECT area) override {
        static const std::string point = "OsdObject::SetDestination";
        HRESULT armed;
        if (sim::faultFires(point, &armed))
            return armed;
        Layer& l = layer();
        std::lock_guard<std::mutex> lock(l.mutex);
        l.destination = area;
        l.destinationSet = true;
        return S_OK;
    }

    const char* STDMETHODCALLTYPE GetName() override { return name_; }

  private:
    // Checks the block in the buffer and composes it into the destination.
    // False (with a trace line) when the block cannot be shown.
    bool show(Layer& l) {
        if (closed_) {
            sim::trace("OSD block rejected: the OSD object was closed");
            return false;
        }
        if (!buffer_ || bufferSize_ < 8) {
            sim::trace("OSD block rejected: no block buffer holds a header");
            return false;
        }
        const unsigned char* b = buffer_.get();
        simcard::BlockHeader h;
        h.type = b[0];
        h.length = (b[1] << 16) | (b[2] << 8) | b[3];
        h.width = (b[4] << 8) | b[5];
        h.height = (b[6] << 8) | b[7];
        l.header = h;
        uint64_t expected =
            static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height) + kBlockFixedPart;
        if (h.type != kBlockType) {
            sim::trace("OSD block rejected: type 0x%02X, not 0x3E", h.type);
            return false;
        }
        if (expected > kMaxBlockLength) {
            sim::trace("OSD block rejected: %dx%d does not fit the block format", h.width,
                       h.height);
            return false;
        }
        if (static_cast<uint64_t>(h.length) != expected) {
            sim::trace("OSD block rejected: length %d for a %dx%d block (expected %llu)", h.length,
                       h.width, h.height, static_cast<unsigned long long>(expected));
            return false;
        }
        if (static_cast<uint64_t>(h.length) > bufferSize_) {
            sim::trace("OSD block rejected: length %d runs past its %u-byte buffer", h.length,
                       bufferSize_);
            return false;
        }
        int rw = h.width;
        int rh = h.height;
        if (l.destinationSet) {
            int64_t w = static_cast<int64_t>(l.destination.right) - l.destination.left;
            int64_t hh = static_cast<int64_t>(l.destination.bottom) - l.destination.top;
            if (w < 0 || hh < 0 || w * hh > kMaxScreenPixels) {
                sim::trace(
                    "OSD block rejected: destination (%ld, %ld)-(%ld, %ld) is not a screen area",
                    static_cast<long>(l.destination.left), static_cast<long>(l.destination.top),
                    static_cast<long>(l.destination.right),
                    static_cast<long>(l.destination.bottom));
                return false;
            }
            rw = static_cast<int>(w);
            rh = static_cast<int>(hh);
        }
        compose(l, b, h.width, h.height, rw, rh);
        return true;
    }

    // Palette and indices to 0xAARRGGBB pixels, scaled to rw x rh by nearest
    // neighbour. The vectors keep their capacity, so a steady frame size
    // allocates nothing.
    static void compose(Layer& l, const unsigned char* block, int w, int h, int rw, int rh) {
        uint32_t palette[256];
        const unsigned char* p = block + 8;
        for (int i = 0; i < 256; i++, p += 4)
            palette[i] = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        const unsigned char* indices = block + kBlockFixedPart;
        l.width = rw;
        l.height = rh;
        l.screen.resize(static_cast<size_t>(rw) * static_cast<size_t>(rh));
        l.scaled = rw != w || rh != h;
        if (w == 0 || h == 0) {
            std::fill(l.screen.begin(), l.screen.end(), 0u);
            l.block.clear();
            return;
        }
        if (l.scaled) {
            size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
            l.block.resize(n);
            for (size_t i = 0; i < n; i++)
                l.block[i] = palette[indices[i]];
        }
        l.columnMap.resize(static_cast<size_t>(rw));
        for (int x = 0; x < rw; x++)
            l.columnMap[static_cast<size_t>(x)] =
                static_cast<uint32_t>(static_cast<int64_t>(x) * w / rw);
        uint32_t* out = l.screen.data();
        for (int y = 0; y < rh; y++) {
            const unsigned char* row =
                indices +
                static_cast<size_t>(static_cast<int64_t>(y) * h / rh) * static_cast<size_t>(w);
            if (rw == w) {
                for (int x = 0; x < rw; x++)
                    *out++ = palette[row[x]];
            } else {
                for (int x = 0; x < rw; x++)
                    *out++ = palette[row[l.columnMap[static_cast<size_t>(x)]]];
            }
        }
    }

    char name_[32];
    std::unique_ptr<unsigned char[]> buffer_;
    unsigned bufferSize_ = 0;
    bool closed_ = false;
};

class OsdEnumerator : public IOsdEnumerator, public sim::ComObject {
  public:
    OsdEnumerator() : ComObject("OsdEnumerator") {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return sim::queryInterface(this, riid, ppv,
                                   {{&IID_IUnknown, static_cast<IOsdEnumerator*>(this)},
                                    {&IID_IOsdEnumerator, static_cast<IOsdEnumerator*>(this)}});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }

    HRESULT STDMETHODCALLTYPE Reset() override {
        HRESULT armed;
        if (sim::faultFires("OsdEnumerator::Reset", &armed))
            return armed;
        position_ = 0;
        return S_OK;
    }

    IOsdObject* STDMETHODCALLTYPE Next() override {
        sim::Fault f = sim::fault("OsdEnumerator::Next");
        if (f.fail)
            return nullptr;
        int count;
        {
            Layer& l = layer();
            std::lock_guard<std::mutex> lock(l.mutex);
            count = l.objectCount;
        }
        if (position_ >= count)
            return nullptr;
        position_++;
        return new OsdObject(position_);
    }

  private:
    int position_ = 0;
};

HRESULT createEnumerator(REFIID riid, void** ppv) {
    OsdEnumerator* e = new OsdEnumerator;
    HRESULT hr = e->QueryInterface(riid, ppv);
    e->Release();
    return hr;
}

sim::ClassRegistrar gRegistrar(CLSID_OsdEnumerator, "OsdEnumerator", createEnumerator);

} // namespace

namespace sim {
namespace card {

bool writePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height) {
    if (width <= 0 || height <= 0)
        return false;
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    // 0xAARRGGBB values lie in memory as blue, green, red, alpha.
    image.format = PNG_FORMAT_BGRA;
    return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
}

OsdView osdView() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    OsdView v;
    v.pixels = l.screen;
    v.width = l.width;
    v.height = l.height;
    v.left = l.destinationSet ? l.destination.left : 0;
    v.top = l.destinationSet ? l.destination.top : 0;
    v.displayOn = l.displayOn;
    return v;
}

void resetOsdLayer() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.objectCount = 1;
    l.requests = 0;
    l.lastSize = 0;
    l.displayOn = false;
    l.shown = 0;
    l.rejected = 0;
    l.header = simcard::BlockHeader{};
    l.destination = RECT{};
    l.destinationSet = false;
    l.screen.clear();
    l.block.clear();
    l.scaled = false;
    l.width = l.height = 0;
    l.snapshotFolder.clear();
    l.snapshots = 0;
}
} // namespace card
} // namespace sim

namespace simcard {

void setOsdObjectCount(int count) {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.objectCount = count;
}

std::string osdName() {
    return "Tovix OSD layer 1";
}

int blockBufferRequests() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.requests;
}

unsigned lastBlockBufferSize() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.lastSize;
}

bool osdDisplayOn() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.displayOn;
}

int blocksShown() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.shown;
}

int blocksRejected() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.rejected;
}

BlockHeader lastBlockHeader() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.header;
}

RECT osdDestination() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.destination;
}

int osdWidth() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.width;
}

int osdHeight() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.height;
}

std::vector<uint32_t> osdPixels() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.screen;
}

std::vector<uint32_t> osdBlockPixels() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.scaled ? l.block : l.screen;
}

uint32_t osdPixel(int x, int y) {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (x < 0 || y < 0 || x >= l.width || y >= l.height)
        return 0;
    return l.screen[static_cast<size_t>(y) * static_cast<size_t>(l.width) + static_cast<size_t>(x)];
}

void setSnapshotFolder(const std::string& folder) {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.snapshotFolder = folder;
}

int snapshotsWritten() {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.snapshots;
}

bool writeOsdPng(const std::string& path) {
    Layer& l = layer();
    std::lock_guard<std::mutex> lock(l.mutex);
    return sim::card::writePng(path, l.screen, l.width, l.height);
}

} // namespace simcard
