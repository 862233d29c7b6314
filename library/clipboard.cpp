// Images on the clipboard (see clipboard.h).
#include "library/clipboard.h"

#include <cstring>

#include "datatypes/none.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::library::clipboard {

namespace {

constexpr uint32_t DIB_HEADER = 124;

inline uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> bitmap_of(const Cell* img) {
    uint32_t w = os_image::width(img), h = os_image::height(img);
    std::vector<uint8_t> out;
    put32(out, DIB_HEADER);
    put32(out, w);
    put32(out, uint32_t(-int32_t(h)));  // top-down
    put32(out, 1 | 32u << 16);          // planes 1, 32 bits per pixel
    put32(out, 3);                      // bit fields
    put32(out, w * h * 4);
    for (int i = 0; i < 4; ++i) put32(out, 0);  // resolution, colours
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, 0x57696E20);  // the system's colour space
    while (out.size() < 108) put32(out, 0);
    put32(out, 4);  // intent: images
    while (out.size() < DIB_HEADER) put32(out, 0);
    const uint32_t* px = os_image::pixels(img, false);
    size_t at = out.size();
    out.resize(at + size_t(w) * h * 4);
    if (px) std::memcpy(out.data() + at, px, size_t(w) * h * 4);
    return out;
}

Cell* push_dib_image(const std::vector<uint8_t>& d) {
    if (d.size() < 40) return stack::push(none::cell());
    uint32_t hsize = u32(d.data());
    int64_t w = int32_t(u32(d.data() + 4)), h = int32_t(u32(d.data() + 8));
    uint32_t bpp = u32(d.data() + 12) >> 16, compression = u32(d.data() + 16);
    bool bgra = hsize >= 56 && hsize <= d.size() && bpp == 32 && compression == 3 && u32(d.data() + 40) == 0x00FF0000 &&
                u32(d.data() + 44) == 0x0000FF00 && u32(d.data() + 48) == 0x000000FF && u32(d.data() + 52) == 0xFF000000;
    if (bgra) {
        bool bottom_up = h > 0;
        if (h < 0) h = -h;
        if (w <= 0 || h <= 0 || !os_image::fits(uint64_t(w), uint64_t(h))) return stack::push(none::cell());
        uint64_t bytes = uint64_t(w) * uint64_t(h) * 4;
        // The pixels must all be there before one is read.
        if (d.size() - hsize < bytes) return stack::push(none::cell());
        auto bm = os_image::new_bitmap(uint64_t(w), uint64_t(h));
        if (!bm) fire({"internal", "no-memory"});
        for (int64_t y = 0; y < h; ++y) {
            int64_t from = bottom_up ? h - 1 - y : y;
            std::memcpy(bm->pixels.data() + y * w, d.data() + hsize + from * w * 4, size_t(w) * 4);
        }
        Cell* out = stack::push(none::cell());
        os_image::init_image(out, std::move(bm));
        return out;
    }
    // Any other bitmap: through the BMP reader behind a file header, alpha
    // ignored.
    std::vector<uint8_t> file = {'B', 'M'};
    put32(file, uint32_t(14 + d.size()));
    put32(file, 0);
    uint32_t palette = 0;
    if (bpp <= 8) {
        uint32_t used = d.size() >= 36 ? u32(d.data() + 32) : 0;
        palette = (used ? used : (1u << std::min<uint32_t>(bpp, 8))) * 4;
    }
    uint32_t masks = hsize == 40 && compression == 3 ? 12 : 0;
    put32(file, 14 + hsize + masks + palette);
    file.insert(file.end(), d.begin(), d.end());
    auto bm = os_image::decode_bmp(file.data(), file.size());
    if (!bm) return stack::push(none::cell());
    for (uint32_t& p : bm->pixels) p |= 0xFF000000u;
    Cell* out = stack::push(none::cell());
    os_image::init_image(out, std::move(bm));
    return out;
}

}  // namespace kiv::library::clipboard
