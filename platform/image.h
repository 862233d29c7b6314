// The OS image layer: where the pixels of every image! value live.
//
// Invariant. An image! cell (word 2) names the node of an image record, a
// byte series of six 32-bit words; the pixels themselves live outside the
// arena in a Bitmap entered in the external-resource registry under the kind
// "image". The registry frees the Bitmap when a collection no longer reaches
// the record, so a Bitmap* (and a pointer into its pixels) stays valid
// across allocations exactly as long as some reachable cell (a stack cell
// will do) still holds the image. The record itself is a series buffer and
// may move: it is always read again through the node, never kept.
//
// Record words, in order:
//   0 flags   state bits (Flag below)
//   1 source  1 when the drawing buffer (Bitmap::source) exists, else 0
//   2 pixels  1 when the pixel buffer (Bitmap::pixels) exists, else 0
//   3 size    width in the low 16 bits, height in the high 16 bits
//   4 handle  index of the Bitmap's registry entry
//   5 cache   1 when the GUI backend's cached device bitmap is set, else 0
//
// Pixel format: 32 bits per pixel, straight (not premultiplied) BGRA: bytes
// B, G, R, A in memory, so a pixel read as a little-endian word is
// A << 24 | R << 16 | G << 8 | B. A is opacity (255 opaque); the language's
// alpha is transparency (255 - A). Rows are packed, width * 4 bytes apart.
// The drawing buffer holds the same pixels premultiplied (what Cairo's
// ARGB32 format wants on a little-endian machine).
//
// The two buffers are kept in step lazily by the flags: writing pixels sets
// PIXELS_WRITTEN, so the next premultiplied() rebuilds the drawing buffer;
// rendering into the drawing buffer is followed by mark_changed(), so the
// next pixels() rebuilds the pixel buffer. Every rebuild of the drawing
// buffer drops the cached device bitmap.
//
// Sizes: width and height are at most MAX_SIDE (they share one 32-bit word)
// and width * height at most MAX_PIXELS; every size is computed in 64 bits
// and checked before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace kiv::os_image {

constexpr uint32_t MAX_SIDE = 65535;
constexpr uint64_t MAX_PIXELS = uint64_t(1) << 27;  // 512 MiB of pixels

enum Flag : uint32_t {
    PIXELS_VALID = 0x01,     // pixels is in step with source
    PIXELS_WRITTEN = 0x02,   // pixels were written: source is stale
    SOURCE_MATERIAL = 0x08,  // source is a materialised premultiplied buffer for rendering
    SOURCE_PREMULT = 0x10,   // source holds premultiplied pixels
    SOURCE_RENDERED = 0x20,  // source was rendered into: pixels are stale
    CACHE_USED = 0x40,       // the cache was used since the last collection
};

// Releases a cached device bitmap of the GUI backend.
using CacheRelease = void (*)(void* cache);

struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;  // straight BGRA; empty when not made yet
    std::vector<uint32_t> source;  // premultiplied BGRA for drawing; empty when none
    void* cache = nullptr;
    CacheRelease cache_release = nullptr;

    uint64_t count() const { return uint64_t(width) * height; }
    ~Bitmap();
};

// True when a width x height image may be made (both sides within MAX_SIDE,
// the pixel count within MAX_PIXELS).
bool fits(uint64_t width, uint64_t height);

// A new Bitmap of that size, every pixel 0; nullptr when it does not fit or
// memory runs out.
std::unique_ptr<Bitmap> new_bitmap(uint64_t width, uint64_t height);
// Pixels that new_bitmap has made since start (tests read it to see that a
// refused input made none).
extern uint64_t pixels_made;

// Registers the kind "image" with the external-resource registry, installs
// the collector's image hook and frees every bitmap when the process quits.
// Called once by image! registration.
void init();
// Frees every bitmap still held (at quit; no image! may be used after it).
void release_all();

// Makes `out` (a cell the collector reaches, e.g. on the data stack) an
// image! at index 0 over a new record owning the Bitmap, with these flags.
// A Bitmap of zero width or height gives an image! with no record.
void init_image(Cell* out, std::unique_ptr<Bitmap> bitmap, uint32_t flags = PIXELS_VALID);

// The Bitmap of an image! cell; nullptr for an image with no record.
Bitmap* bitmap(const Cell* image);
inline uint32_t width(const Cell* image) { return image->w3 & 0xFFFFu; }
inline uint32_t height(const Cell* image) { return image->w3 >> 16; }
inline uint64_t pixel_count(const Cell* image) { return uint64_t(width(image)) * height(image); }
// The record's flag word (0 for an image with no record).
uint32_t flags(const Cell* image);

// The straight BGRA pixels of the image, width * height words, row after
// row (rebuilt from the drawing buffer first when that was rendered into);
// `write` marks them written so drawing picks the change up. nullptr for an
// image with no record.
uint32_t* pixels(const Cell* image, bool write);
// The 0-based pixel at an offset (must be below the pixel count).
uint32_t get_pixel(const Cell* image, uint64_t index);
void set_pixel(const Cell* image, uint64_t index, uint32_t pixel);

// The premultiplied drawing buffer, brought in step with the pixels.
const uint32_t* premultiplied(const Cell* image);
// The drawing buffer for the GUI backend to render into; call mark_changed
// after rendering so that pixel access sees the result.
uint32_t* to_premultiplied(const Cell* image);
void mark_changed(const Cell* image);

// The GUI backend's device bitmap made from the drawing buffer (nullptr when
// none); reading it marks it used. set_cached stores one when none is set;
// the collector releases a cache not used between two collections.
void* get_cached(const Cell* image);
void set_cached(const Cell* image, void* cache, CacheRelease release);
void release_cached(const Cell* image);

// Conversions between straight and premultiplied BGRA, `count` pixels.
void premultiply(const uint32_t* in, uint32_t* out, uint64_t count);
void unpremultiply(const uint32_t* in, uint32_t* out, uint64_t count);

// ---- Making ----------------------------------------------------------------------------------

// The pixels of OS-image/make: a colour (R, G, B and the language alpha;
// `colour` null when none) fills every pixel, else the rgb bytes (triples)
// and alpha bytes (language alpha) are taken in order, white and opaque
// when they run out. nullptr when the size does not fit.
std::unique_ptr<Bitmap> make(uint64_t width, uint64_t height, const uint8_t* rgb, size_t rgb_len,
                             const uint8_t* alpha, size_t alpha_len, const uint8_t* colour);

// ---- Derived bitmaps (the given bitmap is not changed) ---------------------------------------

// Nearest-neighbour scaling to width x height (nullptr when it does not fit).
std::unique_ptr<Bitmap> resize(const Bitmap& from, uint64_t width, uint64_t height);
std::unique_ptr<Bitmap> flip_vertical(const Bitmap& from);
std::unique_ptr<Bitmap> flip_horizontal(const Bitmap& from);
// The rectangle x, y, w, h, cut to the bitmap.
std::unique_ptr<Bitmap> copy_part(const Bitmap& from, uint64_t x, uint64_t y, uint64_t w, uint64_t h);

// ---- Codecs ------------------------------------------------------------------------------------

// Format indexes of encode (and of the codec objects).
enum Format : int32_t { FORMAT_BMP = 0, FORMAT_PNG = 1, FORMAT_GIF = 2, FORMAT_JPEG = 3, FORMAT_TIFF = 4 };

// The format the bytes start with (a signature check only), or -1.
int32_t sniff(const uint8_t* bytes, size_t length);

// The PNG, JPEG, GIF and TIFF libraries are not linked into the executable:
// each is opened on the first use of its codec (platform/late_library.h).
// True when the codec of the format can be used (BMP needs no library);
// false with the reason in `why` when its library cannot be loaded, or for
// an unknown format. A codec whose library is missing fails like a bad
// input; callers check this first to report the missing codec instead.
bool codec_available(int32_t format, std::string& why);
bool load_png_library(std::string& why);
bool load_jpeg_library(std::string& why);
bool load_gif_library(std::string& why);
bool load_tiff_library(std::string& why);

// Decodes the first frame of encoded bytes of any known format into straight
// BGRA. Never reads outside [bytes, bytes + length) and never allocates from
// a size that does not fit; nullptr on any failure.
std::unique_ptr<Bitmap> decode(const uint8_t* bytes, size_t length);
std::unique_ptr<Bitmap> decode_png(const uint8_t* bytes, size_t length);
std::unique_ptr<Bitmap> decode_jpeg(const uint8_t* bytes, size_t length);
std::unique_ptr<Bitmap> decode_gif(const uint8_t* bytes, size_t length);
std::unique_ptr<Bitmap> decode_tiff(const uint8_t* bytes, size_t length);
std::unique_ptr<Bitmap> decode_bmp(const uint8_t* bytes, size_t length);

// Encodes straight BGRA pixels; false when the format index is unknown or
// the library fails. JPEG drops alpha (quality 90); GIF keeps full
// transparency as one transparent palette entry and quantises colours.
bool encode(const Bitmap& bitmap, int32_t format, std::vector<uint8_t>& out);
bool encode_png(const Bitmap& bitmap, std::vector<uint8_t>& out);
bool encode_jpeg(const Bitmap& bitmap, std::vector<uint8_t>& out);
bool encode_gif(const Bitmap& bitmap, std::vector<uint8_t>& out);
bool encode_tiff(const Bitmap& bitmap, std::vector<uint8_t>& out);
bool encode_bmp(const Bitmap& bitmap, std::vector<uint8_t>& out);

}  // namespace kiv::os_image
