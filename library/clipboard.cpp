// read-clipboard and write-clipboard (see clipboard.h).
#include "library/clipboard.h"

#include <cstring>
#include <ctime>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "library/routine_table.h"
#include "platform/clipboard.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::library::clipboard {

using routine::arg;
using routine::result;

namespace cb = platform::clipboard;

namespace {

constexpr uint32_t DIB_HEADER = 124;

inline uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

// Up to three attempts, a short sleep before the second and third.
bool open_store() {
    for (int i = 0; i < 3; ++i) {
        if (i) {
            timespec ts{0, 1000000};
            nanosleep(&ts, nullptr);
        }
        if (cb::store().open()) return true;
    }
    return false;
}

// UTF-16LE units up to the first NUL (or the end of the bytes).
uint32_t units_before_nul(const uint8_t* p, size_t bytes) {
    uint32_t n = 0;
    while (size_t(n) * 2 + 1 < bytes && (p[n * 2] | p[n * 2 + 1])) ++n;
    return n;
}

Cell* push_text(const uint8_t* p, uint32_t units, bool cr) {
    Cell* s = stack::push(none::cell());
    Off node = unicode::load_utf16(p, units, nullptr, cr);
    *s = Cell{TYPE_STRING, 0, node, 0};
    return s;
}

// The bytes of a string from its index as UTF-16LE, CR LF for LF, with a NUL.
std::vector<uint8_t> utf16_of(Cell* str) {
    int32_t length = -1;
    const uint16_t* u = unicode::to_utf16_part(str, &length, true);
    if (!u) fire({"script", "invalid-arg"}, *str);
    std::vector<uint8_t> out(size_t(length + 1) * 2);
    std::memcpy(out.data(), u, out.size());
    return out;
}

Cell read_files(const std::vector<uint8_t>& d) {
    stack::TopMark r;
    Cell* blk = stack::push(none::cell());
    block::make_at(blk, 4);
    if (d.size() < 20) return *blk;
    uint32_t at = u32(d.data());
    while (at + 1 < d.size()) {
        uint32_t n = units_before_nul(d.data() + at, d.size() - at);
        if (n == 0) break;
        Cell* s = push_text(d.data() + at, n, false);
        s->set_type(TYPE_FILE);  // POSIX paths are file! names as they stand
        block::cells_append(blk, s);
        at += (n + 1) * 2;
    }
    return *blk;
}

std::vector<uint8_t> write_files(Cell* blk) {
    std::vector<uint8_t> out;
    put32(out, 20);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 1);
    uint32_t n = series::count(blk->w2);
    for (uint32_t i = blk->w1; i < n; ++i) {
        stack::TopMark r;
        Cell* v = stack::push(buffer_of(blk->w2)->head_cell()[i]);
        // Only text names a file; anything else is refused before any
        // conversion looks at its payload.
        if (!is_any_string(v->type())) fire({"script", "invalid-arg"}, *v);
        Cell* text = stack::push(none::cell());
        string::make_at(text, 16);
        file::append_os_path(v, text, false);
        std::vector<uint8_t> u = utf16_of(text);
        out.insert(out.end(), u.begin(), u.end());
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::vector<uint8_t> dib_of(const Cell* img) {
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

template <class A>
Unwind read_clipboard(A a) {
    if (!open_store()) {
        result(a) = logic::cell(false);
        return UNWIND_NONE;
    }
    struct Closer {
        ~Closer() { cb::store().close(); }
    } closer;
    stack::TopMark r;
    std::vector<uint8_t> d;
    if (cb::store().get(cb::TEXT, d)) {
        result(a) = *push_text(d.data(), units_before_nul(d.data(), d.size()), true);
        return UNWIND_NONE;
    }
    if (cb::store().get(cb::FILES, d)) {
        result(a) = read_files(d);
        return UNWIND_NONE;
    }
    for (const char* f : {"PNG", "JFIF", "GIF"})
        if (cb::store().get(f, d)) {
            Cell* bin = binary::push_bytes(d.data(), uint32_t(std::min<size_t>(d.size(), UINT32_MAX / 2)));
            result(a) = *image::load_binary(bin);
            return UNWIND_NONE;
        }
    if (cb::store().get(cb::DIBV5, d)) {
        result(a) = *push_dib_image(d);
        return UNWIND_NONE;
    }
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind write_clipboard(A a) {
    stack::TopMark r;
    Cell v = *stack::push(arg<"data">(a));
    uint32_t t = v.type();
    std::vector<std::pair<std::string, std::vector<uint8_t>>> formats;
    if (t == TYPE_STRING) {
        formats.emplace_back(cb::TEXT, utf16_of(&v));
    } else if (t == TYPE_BLOCK) {
        formats.emplace_back(cb::FILES, write_files(&v));
    } else if (t == TYPE_IMAGE) {
        Cell png = *image::encode(&v, os_image::FORMAT_PNG);
        SeriesBuffer* b = buffer_of(png.w2);
        formats.emplace_back("PNG", std::vector<uint8_t>(b->head_ptr(), b->head_ptr() + b->byte_count()));
        formats.emplace_back(cb::DIBV5, dib_of(&v));
    } else if (t != TYPE_NONE) {
        fire({"script", "invalid-arg"}, v);
    }
    if (!open_store()) {
        result(a) = logic::cell(false);
        return UNWIND_NONE;
    }
    bool ok = cb::store().empty();
    for (auto& [name, bytes] : formats) ok = cb::store().put(name, std::move(bytes)) && ok;
    cb::store().close();
    result(a) = logic::cell(ok);
    return UNWIND_NONE;
}

}  // namespace

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

namespace {

const routine::Row ROWS[] = {
    KIV_ROUTINE(
        "read-clipboard",
        "[\"Return the contents of the system clipboard\" return: [any-type!] \"false on failure, none if "
        "empty, otherwise: string!, block! of files!, or an image!\"]",
        read_clipboard),
    KIV_ROUTINE("write-clipboard",
                "[\"Write content to the system clipboard\" data [any-type!] \"string!, block! of files!, an "
                "image! or none!\" return: [logic!] \"indicates success\"]",
                write_clipboard),
};

}  // namespace

const routine::Table TABLE = routine::table("clipboard", ROWS, true);

}  // namespace kiv::library::clipboard
