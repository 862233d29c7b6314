// BMP, read and written here. Reads the 12-byte core header and the 40-,
// 52-, 56-, 108- and 124-byte info headers: 1, 4 and 8 bits through the
// palette, 16 bits (5-5-5 or bit fields), 24 bits, 32 bits (bit fields, or
// plain with the fourth byte as alpha unless every such byte is 0), bottom-up
// or top-down. Every offset and size is checked in 64 bits against the
// input before a byte is read. Writes 24-bit plain pixels when the image is
// opaque, else 32-bit bit fields with alpha under a 124-byte header; rows
// bottom-up.
#include <algorithm>
#include <cstring>

#include "platform/image.h"

namespace kiv::os_image {

namespace {

inline uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

// Bits of a masked field scaled to 0..255.
struct Field {
    uint32_t mask = 0, shift = 0, bits = 0;
    explicit Field(uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        while (bits < 32 - shift && ((m >> (shift + bits)) & 1)) ++bits;
    }
    uint32_t get(uint32_t v) const {
        if (!mask || !bits) return 0;
        uint32_t x = (v & mask) >> shift;
        if (bits >= 8) return x >> (bits - 8);
        uint32_t maxv = (1u << bits) - 1;
        return (x * 255 + maxv / 2) / maxv;
    }
};

void put16(std::vector<uint8_t>& o, uint32_t v) {
    o.push_back(uint8_t(v));
    o.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& o, uint32_t v) {
    put16(o, v & 0xFFFF);
    put16(o, v >> 16);
}

}  // namespace

std::unique_ptr<Bitmap> decode_bmp(const uint8_t* p, size_t n) {
    if (n < 26 || p[0] != 'B' || p[1] != 'M') return nullptr;
    uint64_t data_offset = u32(p + 10);
    uint64_t hsize = u32(p + 14);
    if (hsize < 12 || 14 + hsize > n) return nullptr;
    const uint8_t* h = p + 14;
    int64_t width, height;
    uint32_t bpp, compression = 0, colours_used = 0;
    uint32_t masks[4] = {0, 0, 0, 0};
    uint32_t palette_entry = 4;
    if (hsize == 12) {
        width = u16(h + 4);
        height = int16_t(u16(h + 6));
        bpp = u16(h + 10);
        palette_entry = 3;
    } else {
        if (hsize < 40) return nullptr;
        width = int32_t(u32(h + 4));
        height = int32_t(u32(h + 8));
        bpp = u16(h + 14);
        compression = u32(h + 16);
        colours_used = u32(h + 32);
        if (hsize >= 52) {
            masks[0] = u32(h + 40);
            masks[1] = u32(h + 44);
            masks[2] = u32(h + 48);
        }
        if (hsize >= 56) masks[3] = u32(h + 52);
    }
    bool top_down = height < 0;
    if (top_down) height = -height;
    if (width <= 0 || height <= 0 || !fits(uint64_t(width), uint64_t(height))) return nullptr;
    uint64_t w = uint64_t(width), hh = uint64_t(height);
    // BI_RGB 0, BI_BITFIELDS 3, BI_ALPHABITFIELDS 6.
    bool fields = compression == 3 || compression == 6;
    if (compression != 0 && !fields) return nullptr;
    if (fields && hsize == 40) {
        // The masks follow a 40-byte header.
        uint64_t count = compression == 6 ? 4 : 3;
        if (14 + 40 + count * 4 > n) return nullptr;
        for (uint64_t i = 0; i < count; ++i) masks[i] = u32(p + 54 + i * 4);
    }
    if (fields && bpp != 16 && bpp != 32) return nullptr;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return nullptr;
    std::vector<uint32_t> palette;
    if (bpp <= 8) {
        uint64_t count = colours_used ? colours_used : (uint64_t(1) << bpp);
        if (count > 256) return nullptr;
        uint64_t at = 14 + hsize + (fields && hsize == 40 ? (compression == 6 ? 16 : 12) : 0);
        if (at + count * palette_entry > n) return nullptr;
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* e = p + at + i * palette_entry;
            palette.push_back(0xFF000000u | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0]);
        }
    }
    uint64_t stride = (w * bpp + 31) / 32 * 4;
    if (data_offset > n || stride * hh > n - data_offset) return nullptr;
    auto bm = new_bitmap(w, hh);
    if (!bm) return nullptr;
    if (!fields && bpp == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }
    if (!fields && bpp == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
        masks[3] = 0xFF000000;
    }
    Field fr(masks[0]), fg(masks[1]), fb(masks[2]), fa(masks[3]);
    bool any_alpha = false;
    for (uint64_t y = 0; y < hh; ++y) {
        const uint8_t* row = p + data_offset + stride * (top_down ? y : hh - 1 - y);
        uint32_t* out = bm->pixels.data() + size_t(y * w);
        for (uint64_t x = 0; x < w; ++x) {
            uint32_t px;
            if (bpp <= 8) {
                uint64_t bit = x * bpp;
                uint32_t idx = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                px = idx < palette.size() ? palette[idx] : 0xFF000000u;
            } else if (bpp == 24) {
                const uint8_t* s = row + x * 3;
                px = 0xFF000000u | uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0];
            } else {
                uint32_t v = bpp == 16 ? u16(row + x * 2) : u32(row + x * 4);
                uint32_t a = masks[3] ? fa.get(v) : 255u;
                if (masks[3] && a) any_alpha = true;
                px = a << 24 | fr.get(v) << 16 | fg.get(v) << 8 | fb.get(v);
            }
            out[x] = px;
        }
    }
    // A plain 32-bit file whose fourth bytes are all 0 did not mean alpha.
    if (bpp == 32 && !fields && !any_alpha)
        for (uint32_t& px : bm->pixels) px |= 0xFF000000u;
    return bm;
}

bool encode_bmp(const Bitmap& bm, std::vector<uint8_t>& out) {
    bool opaque = std::all_of(bm.pixels.begin(), bm.pixels.end(), [](uint32_t p) { return (p >> 24) == 255; });
    uint32_t bpp = opaque ? 24 : 32;
    uint64_t stride = (uint64_t(bm.width) * bpp + 31) / 32 * 4;
    uint32_t hsize = opaque ? 40 : 124;
    uint64_t offset = 14 + hsize;
    uint64_t total = offset + stride * bm.height;
    if (total > UINT32_MAX) return false;
    out.clear();
    out.reserve(size_t(total));
    out.push_back('B');
    out.push_back('M');
    put32(out, uint32_t(total));
    put32(out, 0);
    put32(out, uint32_t(offset));
    put32(out, hsize);
    put32(out, bm.width);
    put32(out, bm.height);  // positive: bottom-up
    put16(out, 1);
    put16(out, bpp);
    put32(out, opaque ? 0 : 3);
    put32(out, uint32_t(stride * bm.height));
    put32(out, 2835);  // 72 dpi
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    if (!opaque) {
        put32(out, 0x00FF0000);
        put32(out, 0x0000FF00);
        put32(out, 0x000000FF);
        put32(out, 0xFF000000);
        put32(out, 0x73524742);  // colour space 'sRGB'
        for (int i = 0; i < 12; ++i) put32(out, 0);  // endpoints, gamma
        put32(out, 4);  // intent: images
        put32(out, 0);
        put32(out, 0);
        put32(out, 0);
    }
    for (uint32_t y = bm.height; y-- > 0;) {
        const uint32_t* row = bm.pixels.data() + size_t(y) * bm.width;
        size_t start = out.size();
        for (uint32_t x = 0; x < bm.width; ++x) {
            uint32_t px = row[x];
            out.push_back(uint8_t(px));
            out.push_back(uint8_t(px >> 8));
            out.push_back(uint8_t(px >> 16));
            if (!opaque) out.push_back(uint8_t(px >> 24));
        }
        while (out.size() - start < stride) out.push_back(0);
    }
    return true;
}

}  // namespace kiv::os_image
