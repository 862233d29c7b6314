// image!: make, to, form/mold, paths, compare, navigation, pick/poke,
// change, copy, and the helpers that load, encode and transform images (see
// image.h; the pixels live in the OS image layer, platform/image.h).
#include "datatypes/image.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/binary.h"
#include "datatypes/datatype.h"
#include "datatypes/file.h"
#include "datatypes/fixed_words.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "platform/files.h"
#include "platform/image.h"
#include "platform/image_warp.h"
#include "runtime/error.h"
#include "runtime/lowlevel.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::image {

namespace {

using os_image::Bitmap;

inline uint32_t width_of(const Cell* v) { return os_image::width(v); }
inline uint32_t height_of(const Cell* v) { return os_image::height(v); }
inline uint64_t count_of(const Cell* v) { return os_image::pixel_count(v); }
inline uint32_t index_of(const Cell* v) { return uint32_t(std::min<uint64_t>(v->w1, count_of(v))); }

// The stored word for a language tuple (A is transparency; 3 components
// give an opaque pixel).
uint32_t stored_from_tuple(const Cell* t) {
    uint8_t b[12];
    tuple::get_bytes(t, b);
    uint32_t opacity = tuple::length(t) >= 4 ? 255u - b[3] : 255u;
    return (opacity << 24) | (uint32_t(b[0]) << 16) | (uint32_t(b[1]) << 8) | b[2];
}

Cell tuple_from_stored(uint32_t px) {
    uint8_t b[12] = {};
    b[0] = uint8_t(px >> 16);
    b[1] = uint8_t(px >> 8);
    b[2] = uint8_t(px);
    b[3] = uint8_t(255u - (px >> 24));
    return tuple::make(b, 4);
}

// The bitmap with its pixels brought in step (for reading whole images).
const Bitmap* current(const Cell* image) {
    if (!os_image::pixels(image, false)) return nullptr;
    return os_image::bitmap(image);
}

[[noreturn]] void too_big(int64_t w, int64_t h) {
    fire({"script", "size-limit"}, pair::make(int32_t(std::clamp<int64_t>(w, INT32_MIN, INT32_MAX)),
                                             int32_t(std::clamp<int64_t>(h, INT32_MIN, INT32_MAX))));
}

// Makes `out` an image! over the bitmap (an empty image for a null or empty
// one). A null bitmap for a non-empty size means memory ran out.
void wrap(Cell* out, std::unique_ptr<Bitmap> bm) { os_image::init_image(out, std::move(bm)); }

bool is_word_named(const Cell* element, uint32_t sym) {
    uint32_t t = element->type();
    if (t != TYPE_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD && t != TYPE_SET_WORD) return false;
    return symbol::resolve(element->w2) == symbol::resolve(fixed::sym[sym]);
}

// ---- Text --------------------------------------------------------------------------------------

void hex2(std::string& s, uint32_t byte) {
    static const char digits[] = "0123456789ABCDEF";
    s += digits[(byte >> 4) & 15];
    s += digits[byte & 15];
}

void indent_to(std::string& s, int32_t level) {
    for (int32_t i = 0; i < level; ++i) s += "    ";
}

// The routine behind form and mold. Both sections cover the pixels from the
// index to the end, so that a molded image at any index makes the same
// image again.
int32_t mold_image(Cell* value, Cell* out, bool only, bool flat, Cell* part, int32_t budget, int32_t level) {
    Cell v = *value;
    std::string s;
    auto flush = [&]() {
        string::append_latin1(out, s.data(), uint32_t(s.size()));
        s.clear();
    };
    if (!only) {
        s += "make image! [";
        budget -= 13;
    }
    s += std::to_string(width_of(&v)) + "x" + std::to_string(height_of(&v));
    if (!v.w2) {
        s += " #{}";
        if (!only) s += "]";
        flush();
        return budget - 5;
    }
    const uint32_t* px = current(&v)->pixels.data();
    uint64_t first = index_of(&v), n = count_of(&v) - first;
    bool wide = !flat && n * 4 > 30;
    s += " #{";
    budget -= 2;
    if (wide) {
        s += '\n';
        indent_to(s, level);
    }
    // One section of `cost` characters a pixel, ten pixels a line; false
    // when /part's budget ran out (what was written is flushed).
    auto section = [&](auto&& put, int32_t cost) {
        for (uint64_t i = 0; i < n; ++i) {
            put(px[first + i]);
            budget -= cost;
            if (!flat && (i + 1) % 10 == 0) {
                s += '\n';
                indent_to(s, level);
            }
            if (part && budget <= 0) {
                flush();
                return false;
            }
        }
        return true;
    };
    bool translucent = false;
    const bool whole = section(
        [&](uint32_t p) {
            hex2(s, p >> 16);
            hex2(s, p >> 8);
            hex2(s, p);
            if ((p >> 24) != 255) translucent = true;
        },
        6);
    if (!whole) return budget;
    if (wide && n % 10 != 0) {
        s += '\n';
        indent_to(s, level - 1);
    }
    s += '}';
    if (translucent) {
        s += " #{\n";
        indent_to(s, level);
        if (!section([&](uint32_t p) { hex2(s, 255u - (p >> 24)); }, 1)) return budget;
        s += '\n';
        indent_to(s, level - 1);
        s += '}';
    }
    if (!only) s += ']';
    flush();
    return budget;
}

// ---- Copying ---------------------------------------------------------------------------------

// Makes `result` the rectangle x, y, w, h of the image (empty when w or h < 1).
void copy_rect(const Cell* image, Cell* result, int64_t x, int64_t y, int64_t w, int64_t h) {
    const Bitmap* bm = current(image);
    if (!bm || w < 1 || h < 1 || x < 0 || y < 0) {
        *result = Cell{TYPE_IMAGE, 0, 0, 0};
        return;
    }
    auto out = os_image::copy_part(*bm, uint64_t(x), uint64_t(y), uint64_t(w), uint64_t(h));
    if (!out) fire({"internal", "no-memory"});
    wrap(result, std::move(out));
}

}  // namespace

// ---- Helpers -----------------------------------------------------------------------------------

Cell* push_new(int64_t width, int64_t height) {
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (!os_image::fits(uint64_t(width), uint64_t(height))) too_big(width, height);
    Cell* c = stack::push(none::cell());
    auto bm = os_image::new_bitmap(uint64_t(width), uint64_t(height));
    if (!bm) fire({"internal", "no-memory"});
    wrap(c, std::move(bm));
    return c;
}

Cell get_pixel(const Cell* image, uint64_t offset) {
    if (offset >= count_of(image)) return none::cell();
    return tuple_from_stored(os_image::get_pixel(image, offset));
}

uint32_t resolve_index(const Cell* image, const Cell* position, int32_t base, bool* out) {
    int64_t w = width_of(image), h = height_of(image), total = w * h;
    int64_t e;
    if (position->type() == TYPE_INTEGER) {
        e = integer::get(position);
    } else if (position->type() == TYPE_PAIR) {
        int64_t x = pair::x_of(position), y = pair::y_of(position);
        if (base == 1) {
            if (x < 1 || x > w || y < 1 || y > h) *out = true;
            e = x + w * (y > 0 ? y - 1 : y);
        } else {
            if (x < 0 || x >= w || y < 0 || y >= h) *out = true;
            e = x + w * y;
        }
    } else {
        fire({"script", "invalid-arg"}, *position);
    }
    int64_t r = e + int64_t(image->w1) - base;
    if (base == 1 && e <= 0) r += 1;
    if (e == 0 || r < 0 || r >= total) *out = true;
    return uint32_t(std::clamp<int64_t>(r, 0, total));
}

bool known_format(const Cell* binary) {
    SeriesBuffer* b = buffer_of(binary->w2);
    uint32_t len = b->byte_count();
    uint32_t at = std::min(binary->w1, len);
    return os_image::sniff(b->head_ptr() + at, len - at) >= 0;
}

namespace {

// The codec libraries are opened on first use: one that cannot be loaded is
// reported as a missing codec, with the loader's reason (the string stays on
// the stack, where the error's build finds it reachable).
void need_codec(int32_t format) {
    std::string why;
    if (format < 0 || os_image::codec_available(format, why)) return;
    const Cell reason = *string::load_push(reinterpret_cast<const uint8_t*>(why.data()), uint32_t(why.size()),
                                           string::ENC_UTF8);
    fire({"access", "no-codec"}, reason);
}

}  // namespace

Cell* load_binary(const Cell* binary) {
    if (!known_format(binary)) return stack::push(none::cell());
    Cell* out = stack::push(none::cell());
    SeriesBuffer* b = buffer_of(binary->w2);
    uint32_t len = b->byte_count();
    uint32_t at = std::min(binary->w1, len);
    need_codec(os_image::sniff(b->head_ptr() + at, len - at));
    b = buffer_of(binary->w2);
    // Decoding allocates only outside the arena: the bytes stay put.
    auto bm = os_image::decode(b->head_ptr() + at, len - at);
    if (!bm) fire({"access", "bad-media"});
    wrap(out, std::move(bm));
    return out;
}

Cell* load_file(const Cell* file) {
    const std::string path = file::os_path(file);
    std::vector<uint8_t> bytes;
    std::unique_ptr<Bitmap> bm;
    if (platform::files::read(path.c_str(), -1, -1, bytes)) {
        need_codec(os_image::sniff(bytes.data(), bytes.size()));
        bm = os_image::decode(bytes.data(), bytes.size());
    }
    if (!bm) fire({"access", "cannot-open"}, *file);
    Cell* out = stack::push(none::cell());
    wrap(out, std::move(bm));
    return out;
}

Cell* load(const Cell* value) {
    if (value->type() == TYPE_BINARY) return load_binary(value);
    return load_file(value);
}

Cell* encode(const Cell* image, int32_t format) {
    if (image->w3 == 0) fire({"access", "bad-media"});
    const Bitmap* bm = current(image);
    std::vector<uint8_t> bytes;
    if (format < os_image::FORMAT_BMP || format > os_image::FORMAT_TIFF) {
        lowlevel::print_line({"Cannot find image encoder"});
        return stack::push(none::cell());
    }
    need_codec(format);
    if (bm && !os_image::encode(*bm, format, bytes)) fire({"access", "bad-media"});
    if (bytes.size() > UINT32_MAX / 2) fire({"internal", "no-memory"});
    return binary::push_bytes(bytes.data(), uint32_t(bytes.size()));
}

Cell* push_resized(const Cell* image, int64_t width, int64_t height) {
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (!os_image::fits(uint64_t(width), uint64_t(height))) too_big(width, height);
    Cell* out = stack::push(none::cell());
    const Bitmap* bm = current(image);
    if (!bm) return out = stack::push(Cell{TYPE_IMAGE, 0, 0, 0});
    auto r = os_image::resize(*bm, uint64_t(width), uint64_t(height));
    if (!r) fire({"internal", "no-memory"});
    wrap(out, std::move(r));
    return out;
}

Cell* extract_data(const Cell* image, int32_t mode) {
    const Bitmap* bm = current(image);
    uint64_t n = count_of(image);
    uint64_t unit = mode == MODE_ARGB ? 4 : mode == MODE_RGB ? 3 : 1;
    std::vector<uint8_t> bytes(size_t(n * unit));
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t p = bm->pixels[size_t(i)];
        uint8_t* o = bytes.data() + i * unit;
        if (mode == MODE_ARGB) {
            std::memcpy(o, &p, 4);
        } else if (mode == MODE_RGB) {
            o[0] = uint8_t(p >> 16);
            o[1] = uint8_t(p >> 8);
            o[2] = uint8_t(p);
        } else {
            o[0] = uint8_t(255u - (p >> 24));
        }
    }
    if (bytes.size() > UINT32_MAX / 2) fire({"internal", "no-memory"});
    return binary::push_bytes(bytes.data(), uint32_t(bytes.size()));
}

Unwind set_data(Cell* image, const Cell* value, int32_t mode) {
    Cell v = *value;
    uint32_t t = v.type();
    if (t != TYPE_BINARY && t != TYPE_TUPLE && t != TYPE_INTEGER) fire({"script", "invalid-arg"}, v);
    uint64_t n = count_of(image);
    bool owned = false;
    if (Unwind code = series::notify_owner(image, ownership::OwnerEvent::CHANGE, &v, image->w1, uint32_t(n), &owned)) return code;
    uint32_t* px = os_image::pixels(image, true);
    if (!px) return UNWIND_NONE;
    if (t == TYPE_BINARY) {
        SeriesBuffer* b = buffer_of(v.w2);
        uint32_t len = b->byte_count(), at = std::min(v.w1, len);
        const uint8_t* src = b->head_ptr() + at;
        uint64_t avail = len - at;
        if (mode == MODE_ARGB) {
            std::memcpy(px, src, size_t(std::min<uint64_t>(n * 4, avail)));
        } else if (mode == MODE_RGB) {
            uint64_t m = std::min<uint64_t>(n, avail / 3);
            for (uint64_t i = 0; i < m; ++i)
                px[i] = (px[i] & 0xFF000000u) | (uint32_t(src[i * 3]) << 16) | (uint32_t(src[i * 3 + 1]) << 8) |
                        src[i * 3 + 2];
        } else {
            uint64_t m = std::min<uint64_t>(n, avail);
            for (uint64_t i = 0; i < m; ++i) px[i] = (px[i] & 0x00FFFFFFu) | (uint32_t(255u - src[i]) << 24);
        }
    } else {
        uint8_t b[12] = {};
        if (t == TYPE_TUPLE) {
            tuple::get_bytes(&v, b);
            if (tuple::length(&v) < 4) b[3] = 0;
        } else {
            std::memcpy(b, &v.w2, 4);
        }
        uint32_t rgb = (uint32_t(b[0]) << 16) | (uint32_t(b[1]) << 8) | b[2];
        uint32_t opacity = uint32_t(255u - b[mode == MODE_ALPHA ? 0 : 3]) << 24;
        for (uint64_t i = 0; i < n; ++i) {
            if (mode == MODE_ARGB)
                px[i] = opacity | rgb;
            else if (mode == MODE_RGB)
                px[i] = (px[i] & 0xFF000000u) | rgb;
            else
                px[i] = (px[i] & 0x00FFFFFFu) | opacity;
        }
    }
    if (owned) return series::notify_owner(image, ownership::OwnerEvent::CHANGED, &v, image->w1, uint32_t(n), nullptr);
    return UNWIND_NONE;
}

Cell* transform(const Cell* image, const Cell* crop_offset, const Cell* crop_size, const Cell* first,
                const Cell* last, int32_t out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    int64_t count = last - first + 1;
    Cell* result = stack::push(none::cell());
    if (count < 1 || count > 4) return result;
    const Bitmap* bm = current(image);
    if (!bm) return result;
    // The source rectangle: the crop cut to the image, else the whole image.
    int64_t sx = 0, sy = 0, sw = bm->width, sh = bm->height;
    if (crop_offset && crop_size) {
        sx = pair::x_of(crop_offset);
        sy = pair::y_of(crop_offset);
        sw = pair::x_of(crop_size);
        sh = pair::y_of(crop_size);
        // An offset outside the image copies nothing (checked before the
        // part's buffer is sized from it).
        if (sx < 0 || sy < 0 || sx >= int64_t(bm->width) || sy >= int64_t(bm->height)) return result;
        if (sx + sw > int64_t(bm->width)) sw = int64_t(bm->width) - sx;
        if (sy + sh > int64_t(bm->height)) sh = int64_t(bm->height) - sy;
    }
    float pts[4][2];
    for (int64_t i = 0; i < count; ++i) {
        const Cell* c = first + i;
        if (c->type() == TYPE_PAIR) {
            pts[i][0] = float(pair::x_of(c));
            pts[i][1] = float(pair::y_of(c));
        } else if (c->type() == TYPE_POINT2D) {
            pts[i][0] = point::coord(c, 0);
            pts[i][1] = point::coord(c, 1);
        } else {
            fire({"script", "invalid-arg"}, *c);
        }
    }
    geometry::Quad q;
    float fw = float(sw), fh = float(sh);
    switch (count) {
        case 1:
            q = {{{pts[0][0], pts[0][1]},
                  {pts[0][0] + fw, pts[0][1]},
                  {pts[0][0] + fw, pts[0][1] + fh},
                  {pts[0][0], pts[0][1] + fh}}};
            break;
        case 2:
            q = {{{pts[0][0], pts[0][1]}, {pts[1][0], pts[0][1]}, {pts[1][0], pts[1][1]}, {pts[0][0], pts[1][1]}}};
            break;
        case 3: {
            double x = double(pts[0][0]) + (double(pts[1][0]) - pts[0][0]) + (double(pts[2][0]) - pts[0][0]);
            double y = double(pts[0][1]) + (double(pts[1][1]) - pts[0][1]) + (double(pts[2][1]) - pts[0][1]);
            q = {{{pts[0][0], pts[0][1]}, {pts[1][0], pts[1][1]}, {float(x), float(y)}, {pts[2][0], pts[2][1]}}};
            break;
        }
        default:
            q = {{{pts[0][0], pts[0][1]}, {pts[1][0], pts[1][1]}, {pts[3][0], pts[3][1]}, {pts[2][0], pts[2][1]}}};
            break;
    }
    bool mirror_x = false, mirror_y = false;
    if (q.p[0].x > q.p[1].x) {
        geometry::mirror_quad_x(q, q.p[0].x);
        mirror_x = true;
    }
    if (q.p[1].y > q.p[2].y) {
        geometry::mirror_quad_y(q, q.p[0].y);
        mirror_y = true;
    }
    geometry::WarpResult w;
    if (crop_offset && crop_size) {
        if (sw < 1 || sh < 1) return result;
        std::vector<uint32_t> part(size_t(sw * sh));
        if (!geometry::copy_pixel_rect(bm->pixels.data(), bm->width, bm->height, int32_t(sx), int32_t(sy),
                                       int32_t(sw), int32_t(sh), part.data()))
            return result;
        w = geometry::warp(part.data(), uint32_t(sw), uint32_t(sh), q);
    } else {
        w = geometry::warp(bm->pixels.data(), bm->width, bm->height, q);
    }
    if (!w.ok) fire({"script", "invalid-arg"}, *first);
    if (w.pixels.empty()) return result;
    auto nb = os_image::new_bitmap(uint64_t(w.w), uint64_t(w.h));
    if (!nb) too_big(w.w, w.h);
    nb->pixels = std::move(w.pixels);
    wrap(result, std::move(nb));
    out[0] = w.x;
    out[1] = w.y;
    out[2] = mirror_x ? -w.w : w.w;
    out[3] = mirror_y ? -w.h : w.h;
    return result;
}

bool (*face_capture)(const Cell*, Cell*) = nullptr;

// ---- Actions ---------------------------------------------------------------------------------

namespace {

Outcome copy(Cell* series, Cell* result, Cell* part, bool, Cell*);

Outcome to(Cell* proto, Cell* spec, uint32_t) {
    if (spec->type() == TYPE_IMAGE) return copy(spec, proto, nullptr, false, nullptr);
    if (spec->type() == TYPE_OBJECT && face_capture) {
        Cell* out = stack::push(none::cell());
        if (face_capture(spec, out)) {
            *proto = *out;
            return proto;
        }
    }
    if (spec->type() == TYPE_BINARY) {
        Cell* r = load_binary(spec);
        if (r->type() != TYPE_IMAGE) fire({"script", "bad-to-arg"}, datatype::cell(TYPE_IMAGE), *spec);
        *proto = *r;
        return proto;
    }
    fire({"script", "bad-to-arg"}, datatype::cell(TYPE_IMAGE), *spec);
}

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    stack::TopMark mark;
    Cell s = *spec;
    int64_t w = 0, h = 0;
    if (s.type() == TYPE_PAIR) {
        w = pair::x_of(&s);
        h = pair::y_of(&s);
        Cell* r = push_new(w, h);
        // A new image from a size is white and opaque.
        if (uint32_t* px = os_image::pixels(r, true)) std::fill(px, px + count_of(r), 0xFFFFFFFFu);
        r->w3 = uint32_t(std::max<int64_t>(h, 0) << 16 | std::max<int64_t>(w, 0));
        *proto = *r;
        return proto;
    }
    if (s.type() != TYPE_BLOCK) return to(proto, spec, type);
    Cell* blk = stack::push(s);
    uint32_t n = series::count(blk->w2);
    uint32_t at = std::min(blk->w1, n);
    if (at == n) {
        if (proto->type() == TYPE_IMAGE) return copy(proto, proto, nullptr, false, nullptr);
        fire({"script", "invalid-arg"}, s);
    }
    auto cell_at = [&](uint32_t i) { return buffer_of(blk->w2)->head_cell()[at + i]; };
    Cell size = cell_at(0);
    if (size.type() != TYPE_PAIR) fire({"script", "invalid-arg"}, size);
    Cell second = n - at >= 2 ? cell_at(1) : none::cell();
    Cell third = n - at >= 3 ? cell_at(2) : none::cell();
    if (n - at >= 2 && second.type() != TYPE_BINARY && second.type() != TYPE_TUPLE)
        fire({"script", "invalid-arg"}, second);
    if (n - at >= 3 && third.type() != TYPE_BINARY) fire({"script", "invalid-arg"}, third);
    w = std::max<int64_t>(0, pair::x_of(&size));
    h = std::max<int64_t>(0, pair::y_of(&size));
    if (!os_image::fits(uint64_t(w), uint64_t(h))) too_big(w, h);
    Cell* r = stack::push(none::cell());
    // The bytes are read in place: making the bitmap allocates outside the
    // arena only, and the record is made after the bytes are used.
    auto bytes_of = [](const Cell& c, size_t* len) -> const uint8_t* {
        SeriesBuffer* b = buffer_of(c.w2);
        uint32_t l = b->byte_count(), i = std::min(c.w1, l);
        *len = l - i;
        return b->head_ptr() + i;
    };
    const uint8_t *rgb = nullptr, *alpha = nullptr;
    size_t rgb_len = 0, alpha_len = 0;
    uint8_t colour[12] = {};
    bool has_colour = second.type() == TYPE_TUPLE;
    if (has_colour) {
        tuple::get_bytes(&second, colour);
        if (tuple::length(&second) < 4) colour[3] = 0;
    } else if (second.type() == TYPE_BINARY) {
        rgb = bytes_of(second, &rgb_len);
    }
    if (third.type() == TYPE_BINARY) alpha = bytes_of(third, &alpha_len);
    auto bm = os_image::make(uint64_t(w), uint64_t(h), rgb, rgb_len, alpha, alpha_len, has_colour ? colour : nullptr);
    if (!bm && w && h) fire({"internal", "no-memory"});
    wrap(r, std::move(bm));
    r->w3 = uint32_t(h << 16 | w);  // an empty image keeps its size (0x2 stays 0x2)
    *proto = *r;
    return proto;
}

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    return mold_image(value, out, false, false, part, budget, 0);
}

int32_t mold(Cell* value, Cell* out, bool only, bool, bool flat, Cell* part, int32_t budget, int32_t indent) {
    return mold_image(value, out, only, flat, part, budget, indent + 1);
}

Outcome pick(Cell* series, int32_t index, Cell* index_cell) {
    Cell pos = index_cell ? *index_cell : integer::cell(index);
    if (pos.type() != TYPE_INTEGER && pos.type() != TYPE_PAIR) fire({"script", "invalid-arg"}, pos);
    bool out = false;
    uint32_t offset = resolve_index(series, &pos, 1, &out);
    if (out || !series->w2) return stack::push(none::cell());
    return stack::push(get_pixel(series, offset));
}

Outcome poke(Cell* series, int32_t index, Cell* value, Cell* index_cell) {
    Cell pos = index_cell ? *index_cell : integer::cell(index);
    if (pos.type() != TYPE_INTEGER && pos.type() != TYPE_PAIR) fire({"script", "invalid-arg"}, pos);
    bool out = false;
    uint32_t offset = resolve_index(series, &pos, 1, &out);
    if (out || !series->w2) fire({"script", "out-of-range"}, pos);
    if (value->type() != TYPE_TUPLE) fire({"script", "invalid-arg"}, *value);
    uint32_t word = stored_from_tuple(value);
    bool owned = false;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::POKE, value, offset, 1, &owned)) return code;
    if (owned && offset >= count_of(series)) fire({"script", "past-end"});
    os_image::set_pixel(series, offset, word);
    if (owned)
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::POKED, value, offset, 1, nullptr)) return code;
    return value;
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    uint32_t t = element->type();
    if (t == TYPE_INTEGER || t == TYPE_PAIR) {
        if (value) return poke(parent, 0, value, element);
        return pick(parent, 0, element);
    }
    int32_t mode = -1;
    if (is_word_named(element, fixed::SYM_SIZE)) {
        if (value) scalar::invalid_path(path, element);
        return scalar::result(pair::make(int32_t(width_of(parent)), int32_t(height_of(parent))));
    }
    if (is_word_named(element, fixed::SYM_RGB)) mode = MODE_RGB;
    if (is_word_named(element, fixed::SYM_ALPHA)) mode = MODE_ALPHA;
    if (is_word_named(element, fixed::SYM_ARGB)) mode = MODE_ARGB;
    if (mode < 0) scalar::invalid_path(path, element);
    if (value) {
        if (Unwind code = set_data(parent, value, mode)) return code;
        return value;
    }
    if (!parent->w2) return binary::push_bytes(nullptr, 0);
    return extract_data(parent, mode);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_IMAGE) return NOT_COMPARABLE;
    bool same = value->w2 == other->w2 && value->w1 == other->w1;
    if (op == COMP_SAME) return same ? 0 : -1;
    if (same && (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL)) return 0;
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
        case COMP_STRICT_EQUAL:
        case COMP_SORT:
        case COMP_CASE_SORT:
        case COMP_FIND:
            break;
        default:
            return NOT_COMPARABLE;
    }
    uint64_t na = count_of(value), nb = count_of(other);
    if (na != nb) return na < nb ? -1 : 1;
    if (na == 0) return 0;
    const Bitmap* a = current(value);
    const Bitmap* b = current(other);
    int c = std::memcmp(a->pixels.data(), b->pixels.data(), size_t(na) * 4);
    return (c > 0) - (c < 0);
}

Count length_q(Cell* value) {
    return int32_t(count_of(value));
}

void at() {
    Cell* s = stack::arg_base;
    bool out = false;
    s->w1 = resolve_index(s, s + 1, 1, &out);
}
void skip() {
    Cell* s = stack::arg_base;
    bool out = false;
    s->w1 = resolve_index(s, s + 1, 0, &out);
}
void next() {
    Cell* s = stack::arg_base;
    if (s->w1 + uint64_t(1) <= count_of(s)) ++s->w1;
}
void back() {
    Cell* s = stack::arg_base;
    if (s->w1 > count_of(s)) s->w1 = uint32_t(count_of(s));
    if (s->w1 > 0) --s->w1;
}
void tail() {
    Cell* s = stack::arg_base;
    s->w1 = uint32_t(count_of(s));
}
void tail_q() {
    Cell* s = stack::arg_base;
    *s = logic::cell(s->w1 >= count_of(s));
}

Unwind change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
    if (dup > 1 || part >= 0) fire({"internal", "not-done"});
    Cell v = *value;
    uint64_t total = count_of(series);
    if (v.type() == TYPE_TUPLE) {
        if (series->w1 >= total) return UNWIND_NONE;
        uint32_t pos = series->w1;
        bool owned;
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGE, &v, pos, 1, &owned)) return code;
        if (owned && pos >= count_of(series)) fire({"script", "past-end"});
        os_image::set_pixel(series, pos, stored_from_tuple(&v));
        series->w1 = pos + 1;
        if (owned) {
            if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGED, &v, pos, 1, nullptr)) return code;
        }
        return UNWIND_NONE;
    }
    if (v.type() != TYPE_IMAGE) fire({"script", "invalid-type"}, datatype::cell(v.type()));
    if (series->w1 >= total || !v.w2) return UNWIND_NONE;
    stack::TopMark mark;
    Cell* src = stack::push(v);
    uint32_t w = width_of(series), h = height_of(series);
    uint32_t x0 = series->w1 % w, y0 = series->w1 / w;
    uint32_t sw = width_of(src), shh = height_of(src);
    uint32_t cols = std::min(sw, w - x0), rows = std::min(shh, h - y0);
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGE, &v, series->w1, cols * rows, &owned)) return mark.pass(code);
    const uint32_t* sp = os_image::pixels(src, false);
    // A copy when pasting an image into itself, so rows read the old pixels.
    std::vector<uint32_t> own;
    if (src->w2 == series->w2) {
        own.assign(sp, sp + count_of(src));
        sp = own.data();
    }
    uint32_t* tp = os_image::pixels(series, true);
    for (uint32_t sy = 0; sy < rows; ++sy)
        std::memcpy(tp + uint64_t(y0 + sy) * w + x0, sp + uint64_t(sy) * sw, size_t(cols) * 4);
    series->w1 = (y0 + rows - 1) * w + std::min(x0 + sw, w);
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGED, &v, series->w1, cols * rows, nullptr)) return mark.pass(code);
    }
    return UNWIND_NONE;
}

Outcome copy(Cell* series, Cell* result, Cell* part, bool, Cell*) {
    stack::TopMark mark;
    Cell* src = stack::push(*series);
    int64_t w = width_of(src), h = height_of(src);
    if (!src->w2 || w == 0 || h == 0) {
        *result = Cell{TYPE_IMAGE, 0, 0, 0};
        return result;
    }
    int64_t index = src->w1;
    int64_t x = index % w, y = index / w;
    int64_t cw, ch;
    if (!part) {
        if (index == 0) {
            cw = w;
            ch = h;
        } else {
            cw = w - x;
            ch = h - y;
        }
    } else if (part->type() == TYPE_INTEGER) {
        fire({"internal", "not-done"});
    } else if (part->type() == TYPE_PAIR) {
        int64_t px = pair::x_of(part), py = pair::y_of(part);
        if (px >= 1 && py >= 1 && index < w * h) {
            cw = std::min(w - x, px);
            ch = std::min(h - y, py);
        } else if (px < 0 && py < 0 && index >= 1) {
            cw = -px;
            ch = -py;
            if (x == 0) x = w;
            if (cw > x) {
                cw = x;
                x = 0;
            } else {
                x -= cw;
            }
            if (y < h) ++y;
            if (ch > y) {
                ch = y;
                y = 0;
            } else {
                y -= ch;
            }
        } else {
            cw = ch = 0;
        }
    } else if (part->type() == TYPE_IMAGE && part->w2 == src->w2) {
        int64_t a = std::min<int64_t>(index, part->w1), b = std::max<int64_t>(index, part->w1);
        x = a % w;
        y = a / w;
        cw = b % w - x;
        ch = b / w - y;
    } else {
        fire({"script", "invalid-refine-arg"}, series::arg_word("part"), *part);
    }
    copy_rect(src, result, x, y, cw, ch);
    return result;
}

}  // namespace

void init() {
    datatype::Registration r = datatype::blank(TYPE_IMAGE, TYPE_SERIES, "image!");
    for (uint32_t slot : {ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_MODIFY}) r.inherit(slot);
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_AT>(no_unwind<at>);
    r.set<ACT_BACK>(no_unwind<back>);
    r.set<ACT_CHANGE>(change);
    r.set<ACT_COPY>(copy);
    r.set<ACT_LENGTH_Q>(length_q);
    r.set<ACT_NEXT>(no_unwind<next>);
    r.set<ACT_PICK>(pick);
    r.set<ACT_POKE>(poke);
    r.set<ACT_SKIP>(no_unwind<skip>);
    r.set<ACT_TAIL>(no_unwind<tail>);
    r.set<ACT_TAIL_Q>(no_unwind<tail_q>);
    datatype::register_type(r);
    os_image::init();
}

}  // namespace kiv::image
