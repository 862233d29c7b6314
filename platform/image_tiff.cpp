// TIFF through libtiff, reading from and writing to memory. The first
// directory is decoded: 8-bit RGB and RGBA in one plane directly (straight
// alpha kept exactly), every other layout libtiff knows (grey, palette,
// planar, tiled, other depths, YCbCr, CMYK) through its RGBA interface.
// Encoding writes 8-bit RGB (RGBA with unassociated alpha when some pixel
// is not opaque), LZW-compressed, in strips.
//
// libtiff is opened on the first use of the codec (platform/late_library.h);
// its calls below go through the table.
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "platform/image.h"
#include "platform/late_library.h"

// 4.5 and later (the open options used here) are soname 6.
static_assert(TIFFLIB_MAJOR_VERSION == 4 && TIFFLIB_MINOR_VERSION >= 5, "image_tiff.cpp opens libtiff.so.6");

#define KIV_TIFF_FUNCTIONS(X)               \
    X(TIFFOpenOptionsAlloc)                 \
    X(TIFFOpenOptionsFree)                  \
    X(TIFFOpenOptionsSetMaxSingleMemAlloc)  \
    X(TIFFOpenOptionsSetErrorHandlerExtR)   \
    X(TIFFOpenOptionsSetWarningHandlerExtR) \
    X(TIFFClientOpenExt)                    \
    X(TIFFClose)                            \
    X(TIFFGetField)                         \
    X(TIFFGetFieldDefaulted)                \
    X(TIFFSetField)                         \
    X(TIFFIsTiled)                          \
    X(TIFFScanlineSize64)                   \
    X(TIFFReadScanline)                     \
    X(TIFFWriteScanline)                    \
    X(TIFFRGBAImageOK)                      \
    X(TIFFReadRGBAImageOriented)            \
    X(TIFFDefaultStripSize)                 \
    X(TIFFWriteDirectory)

namespace kiv::os_image {

namespace {

struct Table {
    KIV_TIFF_FUNCTIONS(KIV_LATE_FIELD)
};
Table table;

}  // namespace

bool load_tiff_library(std::string& why) {
    static platform::LateLibrary library("libtiff.so.6", "the TIFF codec needs libtiff: ");
    return library.load(why, [](platform::LateLibrary& lib) { KIV_TIFF_FUNCTIONS(KIV_LATE_RESOLVE) });
}

#define TIFFOpenOptionsAlloc table.TIFFOpenOptionsAlloc
#define TIFFOpenOptionsFree table.TIFFOpenOptionsFree
#define TIFFOpenOptionsSetMaxSingleMemAlloc table.TIFFOpenOptionsSetMaxSingleMemAlloc
#define TIFFOpenOptionsSetErrorHandlerExtR table.TIFFOpenOptionsSetErrorHandlerExtR
#define TIFFOpenOptionsSetWarningHandlerExtR table.TIFFOpenOptionsSetWarningHandlerExtR
#define TIFFClientOpenExt table.TIFFClientOpenExt
#define TIFFClose table.TIFFClose
#define TIFFGetField table.TIFFGetField
#define TIFFGetFieldDefaulted table.TIFFGetFieldDefaulted
#define TIFFSetField table.TIFFSetField
#define TIFFIsTiled table.TIFFIsTiled
#define TIFFScanlineSize64 table.TIFFScanlineSize64
#define TIFFReadScanline table.TIFFReadScanline
#define TIFFWriteScanline table.TIFFWriteScanline
#define TIFFRGBAImageOK table.TIFFRGBAImageOK
#define TIFFReadRGBAImageOriented table.TIFFReadRGBAImageOriented
#define TIFFDefaultStripSize table.TIFFDefaultStripSize
#define TIFFWriteDirectory table.TIFFWriteDirectory

namespace {

struct Memory {
    const uint8_t* bytes;  // reading
    std::vector<uint8_t>* out;  // writing
    uint64_t size;
    uint64_t at;
};

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
    Memory* m = static_cast<Memory*>(h);
    if (!m->bytes || n < 0 || m->at >= m->size) return 0;
    uint64_t k = std::min<uint64_t>(uint64_t(n), m->size - m->at);
    std::memcpy(buf, m->bytes + m->at, size_t(k));
    m->at += k;
    return tmsize_t(k);
}

tmsize_t mem_write(thandle_t h, void* buf, tmsize_t n) {
    Memory* m = static_cast<Memory*>(h);
    if (!m->out || n < 0) return 0;
    uint64_t end = m->at + uint64_t(n);
    if (end > (uint64_t(1) << 31)) return 0;
    if (end > m->out->size()) m->out->resize(size_t(end));
    std::memcpy(m->out->data() + m->at, buf, size_t(n));
    m->at = end;
    m->size = std::max<uint64_t>(m->size, end);
    return n;
}

toff_t mem_seek(thandle_t h, toff_t off, int whence) {
    Memory* m = static_cast<Memory*>(h);
    uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : m->size;
    uint64_t to = base + off;
    if (to > (uint64_t(1) << 40)) return toff_t(-1);
    m->at = to;
    return to;
}

int mem_close(thandle_t) { return 0; }
toff_t mem_size(thandle_t h) { return static_cast<Memory*>(h)->size; }
// Reading maps the input itself: libtiff then reads straight from it (and
// its unmapped path misreads some tiled files).
int mem_map(thandle_t h, void** base, toff_t* size) {
    Memory* m = static_cast<Memory*>(h);
    if (!m->bytes) return 0;
    *base = const_cast<uint8_t*>(m->bytes);
    *size = m->size;
    return 1;
}
void mem_unmap(thandle_t, void*, toff_t) {}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* open(Memory* m, const char* mode) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(MAX_PIXELS * 4));
    TIFFOpenOptionsSetErrorHandlerExtR(opts, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, quiet, nullptr);
    TIFF* t = TIFFClientOpenExt("memory", mode, m, mem_read, mem_write, mem_seek, mem_close, mem_size, mem_map,
                                mem_unmap, opts);
    TIFFOpenOptionsFree(opts);
    return t;
}

struct Closer {
    TIFF* t;
    ~Closer() {
        if (t) TIFFClose(t);
    }
};

}  // namespace

std::unique_ptr<Bitmap> decode_tiff(const uint8_t* bytes, size_t length) {
    std::string why;
    if (!load_tiff_library(why)) return nullptr;
    Memory m{bytes, nullptr, length, 0};
    TIFF* t = open(&m, "r");
    if (!t) return nullptr;
    Closer closer{t};
    uint32_t w = 0, h = 0;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h)) return nullptr;
    if (w == 0 || h == 0 || !fits(w, h)) return nullptr;
    uint16_t bits = 0, spp = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = 0xFFFF;
    uint16_t extra_count = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    bool associated = extra_count > 0 && extra && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    auto bm = new_bitmap(w, h);
    if (!bm) return nullptr;
    if (bits == 8 && photometric == PHOTOMETRIC_RGB && planar == PLANARCONFIG_CONTIG && (spp == 3 || spp == 4) &&
        !TIFFIsTiled(t) && TIFFScanlineSize64(t) == uint64_t(w) * spp) {
        std::vector<uint8_t> line(size_t(w) * spp);
        for (uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(t, line.data(), y, 0) < 0) return nullptr;
            uint32_t* row = bm->pixels.data() + size_t(y) * w;
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* s = line.data() + size_t(x) * spp;
                uint32_t a = spp == 4 ? s[3] : 255u;
                row[x] = (a << 24) | (uint32_t(s[0]) << 16) | (uint32_t(s[1]) << 8) | s[2];
            }
        }
        if (spp == 4 && associated) unpremultiply(bm->pixels.data(), bm->pixels.data(), bm->count());
        return bm;
    }
    char message[1024];
    if (!TIFFRGBAImageOK(t, message)) return nullptr;
    // The RGBA interface answers A B G R words (R in the low byte) with the
    // alpha associated.
    if (!TIFFReadRGBAImageOriented(t, w, h, bm->pixels.data(), ORIENTATION_TOPLEFT, 0)) return nullptr;
    bool alpha = false;
    for (uint32_t& p : bm->pixels) {
        uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
        if (a != 255) alpha = true;
        p = (a << 24) | (r << 16) | (g << 8) | b;
    }
    if (alpha) unpremultiply(bm->pixels.data(), bm->pixels.data(), bm->count());
    return bm;
}

bool encode_tiff(const Bitmap& bm, std::vector<uint8_t>& out) {
    std::string why;
    if (!load_tiff_library(why)) return false;
    Memory m{nullptr, &out, 0, 0};
    TIFF* t = open(&m, "w");
    if (!t) return false;
    bool opaque = std::all_of(bm.pixels.begin(), bm.pixels.end(), [](uint32_t p) { return (p >> 24) == 255; });
    uint16_t spp = opaque ? 3 : 4;
    bool ok = true;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, bm.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, bm.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (!opaque) {
        uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    std::vector<uint8_t> line(size_t(bm.width) * spp);
    for (uint32_t y = 0; ok && y < bm.height; ++y) {
        const uint32_t* row = bm.pixels.data() + size_t(y) * bm.width;
        for (uint32_t x = 0; x < bm.width; ++x) {
            uint8_t* d = line.data() + size_t(x) * spp;
            d[0] = uint8_t(row[x] >> 16);
            d[1] = uint8_t(row[x] >> 8);
            d[2] = uint8_t(row[x]);
            if (spp == 4) d[3] = uint8_t(row[x] >> 24);
        }
        ok = TIFFWriteScanline(t, line.data(), y, 0) >= 0;
    }
    if (ok) ok = TIFFWriteDirectory(t) != 0;
    TIFFClose(t);
    if (ok) out.resize(size_t(m.size));
    return ok;
}

}  // namespace kiv::os_image
