// The OS image layer: records, the two pixel buffers and their flags, the
// collector hook, making and the derived bitmaps (see image.h).
#include "platform/image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

#include "runtime/collector.h"
#include "runtime/externals.h"
#include "runtime/lowlevel.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace kiv::os_image {

namespace {

constexpr uint32_t RECORD_WORDS = 6;
enum Word : uint32_t { W_FLAGS = 0, W_SOURCE, W_PIXELS, W_SIZE, W_HANDLE, W_CACHE };

uint32_t kind = 0;  // the registry kind "image"

// The record's words, read through the node (the buffer may have moved).
inline uint32_t* record(Off node) { return reinterpret_cast<uint32_t*>(buffer_of(node)->head_ptr()); }
inline uint32_t get_word(Off node, Word w) {
    uint32_t v;
    std::memcpy(&v, record(node) + w, 4);
    return v;
}
inline void set_word(Off node, Word w, uint32_t v) { std::memcpy(record(node) + w, &v, 4); }

inline Bitmap* bitmap_of_node(Off node) {
    return reinterpret_cast<Bitmap*>(externals::address_of(get_word(node, W_HANDLE)));
}

void drop_cache(Bitmap* bm, Off node) {
    if (bm->cache && bm->cache_release) bm->cache_release(bm->cache);
    bm->cache = nullptr;
    bm->cache_release = nullptr;
    if (node) set_word(node, W_CACHE, 0);
}

// Every Bitmap handed to the registry and not freed yet. release_all frees
// them while their entries stay, so the release routine frees only what is
// still here (never twice).
std::unordered_set<Bitmap*>& live() {
    static std::unordered_set<Bitmap*> set;
    return set;
}

// Registry release routine: frees the Bitmap of a record no longer reached.
void free_bitmaps(uint32_t, uint64_t address) {
    Bitmap* bm = reinterpret_cast<Bitmap*>(address);
    if (live().erase(bm)) delete bm;
}

// Collector hook, once the image cell's record node is marked: marks the
// Bitmap's entry; a device bitmap not used since the last collection is
// released (it is rebuilt on the next drawing).
void mark_image(Cell* image) {
    Off node = image->w2;
    if (!node) return;
    uint32_t handle = get_word(node, W_HANDLE);
    if (!externals::mark(handle)) return;
    Bitmap* bm = bitmap_of_node(node);
    if (!bm) return;
    uint32_t f = get_word(node, W_FLAGS);
    if (f & CACHE_USED)
        set_word(node, W_FLAGS, f & ~CACHE_USED);
    else if (bm->cache)
        drop_cache(bm, node);
}

inline uint8_t mul_div255(uint32_t a, uint32_t b) {
    uint32_t t = a * b + 128;
    return uint8_t((t + (t >> 8)) >> 8);
}

}  // namespace

Bitmap::~Bitmap() {
    if (cache && cache_release) cache_release(cache);
}

bool fits(uint64_t width, uint64_t height) {
    return width <= MAX_SIDE && height <= MAX_SIDE && width * height <= MAX_PIXELS;
}

uint64_t pixels_made = 0;

std::unique_ptr<Bitmap> new_bitmap(uint64_t width, uint64_t height) {
    if (!fits(width, height)) return nullptr;
    std::unique_ptr<Bitmap> bm(new (std::nothrow) Bitmap);
    if (!bm) return nullptr;
    bm->width = uint32_t(width);
    bm->height = uint32_t(height);
    try {
        bm->pixels.assign(size_t(width * height), 0u);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    pixels_made += width * height;
    memory::note_outside_bytes(width * height * 4);
    return bm;
}

void init() {
    kind = externals::register_type("image", free_bitmaps);
    collector::image_marker = mark_image;
    lowlevel::at_quit(release_all);
    // Processes that end without quit (tests, fuzz drivers) free them at
    // exit too; the set is made first so that it outlives the handler.
    live();
    std::atexit(release_all);
}

void release_all() {
    for (Bitmap* bm : live()) delete bm;
    live().clear();
}

void init_image(Cell* out, std::unique_ptr<Bitmap> bm, uint32_t flags) {
    if (!bm || bm->width == 0 || bm->height == 0) {
        *out = Cell{TYPE_IMAGE, 0, 0, 0};
        return;
    }
    uint32_t size = bm->width | (bm->height << 16);
    // The series first: its allocation may collect. Nothing allocates
    // between entering the Bitmap in the registry and storing the cell, so
    // no collection can see an entry that no cell reaches.
    Off node = memory::alloc_bytes(RECORD_WORDS * 4);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + RECORD_WORDS * 4;
    std::memset(b->head_ptr(), 0, RECORD_WORDS * 4);
    set_word(node, W_FLAGS, flags);
    set_word(node, W_SOURCE, bm->source.empty() ? 0 : 1);
    set_word(node, W_PIXELS, bm->pixels.empty() ? 0 : 1);
    set_word(node, W_SIZE, size);
    live().insert(bm.get());
    uint32_t handle = externals::add(reinterpret_cast<uint64_t>(bm.release()), kind);
    set_word(node, W_HANDLE, handle);
    *out = Cell{TYPE_IMAGE, 0, node, size};
}

Bitmap* bitmap(const Cell* image) {
    return image->w2 ? bitmap_of_node(image->w2) : nullptr;
}

uint32_t flags(const Cell* image) {
    return image->w2 ? get_word(image->w2, W_FLAGS) : 0;
}

uint32_t* pixels(const Cell* image, bool write) {
    Off node = image->w2;
    if (!node) return nullptr;
    Bitmap* bm = bitmap_of_node(node);
    uint32_t f = get_word(node, W_FLAGS);
    if (f & SOURCE_RENDERED) f &= ~(SOURCE_RENDERED | PIXELS_VALID);
    if (!(f & PIXELS_VALID) || bm->pixels.empty()) {
        if (bm->pixels.empty()) memory::note_outside_bytes(bm->count() * 4);
        bm->pixels.resize(size_t(bm->count()));
        if (bm->source.size() == bm->pixels.size()) {
            if (f & SOURCE_PREMULT)
                unpremultiply(bm->source.data(), bm->pixels.data(), bm->count());
            else
                std::memcpy(bm->pixels.data(), bm->source.data(), size_t(bm->count()) * 4);
        }
        f |= PIXELS_VALID;
        set_word(node, W_PIXELS, 1);
    }
    if (write) f |= PIXELS_WRITTEN;
    set_word(node, W_FLAGS, f);
    return bm->pixels.data();
}

uint32_t get_pixel(const Cell* image, uint64_t index) {
    return pixels(image, false)[index];
}

void set_pixel(const Cell* image, uint64_t index, uint32_t pixel) {
    pixels(image, true)[index] = pixel;
}

const uint32_t* premultiplied(const Cell* image) {
    Off node = image->w2;
    if (!node) return nullptr;
    Bitmap* bm = bitmap_of_node(node);
    uint32_t f = get_word(node, W_FLAGS);
    bool stale = bm->source.empty() || (f & PIXELS_WRITTEN) || !(f & SOURCE_PREMULT);
    if (stale) {
        const uint32_t* px = pixels(image, false);
        f = get_word(node, W_FLAGS);
        if (bm->source.empty()) memory::note_outside_bytes(bm->count() * 4);
        bm->source.resize(size_t(bm->count()));
        premultiply(px, bm->source.data(), bm->count());
        drop_cache(bm, node);
        f = (f & ~(PIXELS_WRITTEN | SOURCE_MATERIAL)) | SOURCE_PREMULT;
        set_word(node, W_SOURCE, 1);
        set_word(node, W_FLAGS, f);
    }
    return bm->source.data();
}

uint32_t* to_premultiplied(const Cell* image) {
    const uint32_t* p = premultiplied(image);
    if (p) set_word(image->w2, W_FLAGS, get_word(image->w2, W_FLAGS) | SOURCE_MATERIAL);
    return const_cast<uint32_t*>(p);
}

void mark_changed(const Cell* image) {
    Off node = image->w2;
    if (!node) return;
    set_word(node, W_FLAGS, get_word(node, W_FLAGS) | SOURCE_RENDERED);
    drop_cache(bitmap_of_node(node), node);
}

void* get_cached(const Cell* image) {
    Off node = image->w2;
    if (!node) return nullptr;
    set_word(node, W_FLAGS, get_word(node, W_FLAGS) | CACHE_USED);
    return bitmap_of_node(node)->cache;
}

void set_cached(const Cell* image, void* cache, CacheRelease release) {
    Off node = image->w2;
    if (!node) return;
    Bitmap* bm = bitmap_of_node(node);
    if (bm->cache) drop_cache(bm, node);
    bm->cache = cache;
    bm->cache_release = release;
    set_word(node, W_CACHE, cache ? 1 : 0);
}

void release_cached(const Cell* image) {
    if (image->w2) drop_cache(bitmap_of_node(image->w2), image->w2);
}

void premultiply(const uint32_t* in, uint32_t* out, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t p = in[i], a = p >> 24;
        if (a == 255) {
            out[i] = p;
        } else if (a == 0) {
            out[i] = 0;
        } else {
            out[i] = (a << 24) | (uint32_t(mul_div255((p >> 16) & 255, a)) << 16) |
                     (uint32_t(mul_div255((p >> 8) & 255, a)) << 8) | mul_div255(p & 255, a);
        }
    }
}

void unpremultiply(const uint32_t* in, uint32_t* out, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t p = in[i], a = p >> 24;
        if (a == 255 || a == 0) {
            out[i] = a ? p : 0;
            continue;
        }
        auto un = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
        out[i] = (a << 24) | (un((p >> 16) & 255) << 16) | (un((p >> 8) & 255) << 8) | un(p & 255);
    }
}

// ---- Making ----------------------------------------------------------------------------------

std::unique_ptr<Bitmap> make(uint64_t width, uint64_t height, const uint8_t* rgb, size_t rgb_len,
                             const uint8_t* alpha, size_t alpha_len, const uint8_t* colour) {
    auto bm = new_bitmap(width, height);
    if (!bm) return nullptr;
    uint64_t n = bm->count();
    uint32_t* px = bm->pixels.data();
    if (colour) {
        uint32_t word = (uint32_t(255 - colour[3]) << 24) | (uint32_t(colour[0]) << 16) |
                        (uint32_t(colour[1]) << 8) | colour[2];
        std::fill(px, px + n, word);
        return bm;
    }
    uint64_t triples = rgb ? rgb_len / 3 : 0;
    uint64_t alphas = alpha ? alpha_len : 0;
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t r = 255, g = 255, b = 255, a = 255;
        if (i < triples) {
            r = rgb[i * 3];
            g = rgb[i * 3 + 1];
            b = rgb[i * 3 + 2];
        }
        if (i < alphas) a = 255u - alpha[i];
        px[i] = (a << 24) | (r << 16) | (g << 8) | b;
    }
    return bm;
}

// ---- Derived bitmaps -------------------------------------------------------------------------

std::unique_ptr<Bitmap> resize(const Bitmap& from, uint64_t width, uint64_t height) {
    auto bm = new_bitmap(width, height);
    if (!bm || from.count() == 0 || bm->count() == 0) return bm;
    for (uint64_t y = 0; y < height; ++y) {
        // The source pixel whose area holds the destination pixel's centre.
        uint64_t sy = std::min<uint64_t>((2 * y + 1) * from.height / (2 * height), from.height - 1);
        for (uint64_t x = 0; x < width; ++x) {
            uint64_t sx = std::min<uint64_t>((2 * x + 1) * from.width / (2 * width), from.width - 1);
            bm->pixels[size_t(y * width + x)] = from.pixels[size_t(sy * from.width + sx)];
        }
    }
    return bm;
}

std::unique_ptr<Bitmap> flip_vertical(const Bitmap& from) {
    auto bm = new_bitmap(from.width, from.height);
    if (!bm) return nullptr;
    for (uint64_t y = 0; y < from.height; ++y)
        std::memcpy(&bm->pixels[size_t(y * from.width)], &from.pixels[size_t((from.height - 1 - y) * from.width)],
                    size_t(from.width) * 4);
    return bm;
}

std::unique_ptr<Bitmap> flip_horizontal(const Bitmap& from) {
    auto bm = new_bitmap(from.width, from.height);
    if (!bm) return nullptr;
    for (uint64_t y = 0; y < from.height; ++y)
        for (uint64_t x = 0; x < from.width; ++x)
            bm->pixels[size_t(y * from.width + x)] = from.pixels[size_t(y * from.width + from.width - 1 - x)];
    return bm;
}

std::unique_ptr<Bitmap> copy_part(const Bitmap& from, uint64_t x, uint64_t y, uint64_t w, uint64_t h) {
    if (x >= from.width || y >= from.height) return new_bitmap(0, 0);
    w = std::min<uint64_t>(w, from.width - x);
    h = std::min<uint64_t>(h, from.height - y);
    auto bm = new_bitmap(w, h);
    if (!bm) return nullptr;
    for (uint64_t r = 0; r < h; ++r)
        std::memcpy(&bm->pixels[size_t(r * w)], &from.pixels[size_t((y + r) * from.width + x)], size_t(w) * 4);
    return bm;
}

}  // namespace kiv::os_image
