// PNG through libpng: every colour type and bit depth, interlaced or not,
// decoded to straight 8-bit BGRA; encoded as 8-bit RGBA (RGB when opaque).
//
// libpng reports errors by longjmp: everything that must survive one lives
// in a heap State made before setjmp, and nothing with a destructor is made
// between setjmp and the library calls.
//
// libpng is opened on the first use of the codec (platform/late_library.h);
// its calls below go through the table.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "platform/image.h"
#include "platform/late_library.h"

static_assert(PNG_LIBPNG_VER_DLLNUM == 16, "image_png.cpp opens libpng16.so.16");

#define KIV_PNG_FUNCTIONS(X)      \
    X(png_sig_cmp)                \
    X(png_create_read_struct)     \
    X(png_create_write_struct)    \
    X(png_create_info_struct)     \
    X(png_destroy_read_struct)    \
    X(png_destroy_write_struct)   \
    X(png_set_read_fn)            \
    X(png_set_write_fn)           \
    X(png_get_io_ptr)             \
    X(png_error)                  \
    X(png_longjmp)                \
    X(png_set_longjmp_fn)         \
    X(png_set_user_limits)        \
    X(png_set_chunk_malloc_max)   \
    X(png_read_info)              \
    X(png_get_IHDR)               \
    X(png_get_channels)           \
    X(png_set_expand)             \
    X(png_set_scale_16)           \
    X(png_set_gray_to_rgb)        \
    X(png_set_bgr)                \
    X(png_set_add_alpha)          \
    X(png_set_interlace_handling) \
    X(png_read_update_info)       \
    X(png_get_rowbytes)           \
    X(png_read_image)             \
    X(png_read_end)               \
    X(png_set_IHDR)               \
    X(png_set_compression_level)  \
    X(png_write_info)             \
    X(png_set_filler)             \
    X(png_write_image)            \
    X(png_write_end)

namespace kiv::os_image {

namespace {

struct Table {
    KIV_PNG_FUNCTIONS(KIV_LATE_FIELD)
};
Table table;

}  // namespace

bool load_png_library(std::string& why) {
    static platform::LateLibrary library("libpng16.so.16", "the PNG codec needs libpng: ");
    return library.load(why, [](platform::LateLibrary& lib) { KIV_PNG_FUNCTIONS(KIV_LATE_RESOLVE) });
}

#define png_sig_cmp table.png_sig_cmp
#define png_create_read_struct table.png_create_read_struct
#define png_create_write_struct table.png_create_write_struct
#define png_create_info_struct table.png_create_info_struct
#define png_destroy_read_struct table.png_destroy_read_struct
#define png_destroy_write_struct table.png_destroy_write_struct
#define png_set_read_fn table.png_set_read_fn
#define png_set_write_fn table.png_set_write_fn
#define png_get_io_ptr table.png_get_io_ptr
#define png_error table.png_error
#define png_longjmp table.png_longjmp
#define png_set_longjmp_fn table.png_set_longjmp_fn
#define png_set_user_limits table.png_set_user_limits
#define png_set_chunk_malloc_max table.png_set_chunk_malloc_max
#define png_read_info table.png_read_info
#define png_get_IHDR table.png_get_IHDR
#define png_get_channels table.png_get_channels
#define png_set_expand table.png_set_expand
#define png_set_scale_16 table.png_set_scale_16
#define png_set_gray_to_rgb table.png_set_gray_to_rgb
#define png_set_bgr table.png_set_bgr
#define png_set_add_alpha table.png_set_add_alpha
#define png_set_interlace_handling table.png_set_interlace_handling
#define png_read_update_info table.png_read_update_info
#define png_get_rowbytes table.png_get_rowbytes
#define png_read_image table.png_read_image
#define png_read_end table.png_read_end
#define png_set_IHDR table.png_set_IHDR
#define png_set_compression_level table.png_set_compression_level
#define png_write_info table.png_write_info
#define png_set_filler table.png_set_filler
#define png_write_image table.png_write_image
#define png_write_end table.png_write_end

namespace {

struct Reader {
    const uint8_t* bytes;
    size_t length;
    size_t at;
};

void read_bytes(png_structp png, png_bytep out, png_size_t count) {
    Reader* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (count > r->length - r->at) png_error(png, "truncated");
    std::memcpy(out, r->bytes + r->at, count);
    r->at += count;
}

void quiet_warning(png_structp, png_const_charp) {}
[[noreturn]] void quiet_error(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
    __builtin_unreachable();  // the table's pointer does not carry the noreturn
}

struct DecodeState {
    std::unique_ptr<Bitmap> bitmap;
    std::vector<png_bytep> rows;
};

bool decode_into(png_structp png, png_infop info, DecodeState* st) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, MAX_SIDE, MAX_SIDE);
    png_set_chunk_malloc_max(png, 64u << 20);
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
    if (!fits(w, h) || w == 0 || h == 0) return false;
    // The image data is one zlib stream, which inflates to at most 1032 times
    // its size: pixels that the whole input could not hold are refused
    // before they are made.
    uint64_t data_bits = uint64_t(w) * h * png_get_channels(png, info) * uint64_t(depth);
    if (data_bits / 8 > uint64_t(static_cast<Reader*>(png_get_io_ptr(png))->length) * 1032) return false;
    // Everything to 8-bit BGRA: palettes and low depths expand, tRNS becomes
    // alpha, grey becomes RGB, 16 bits scale to 8, opaque types get A = 255.
    png_set_expand(png);
    png_set_scale_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) return false;
    st->bitmap = new_bitmap(w, h);
    if (!st->bitmap) return false;
    st->rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y)
        st->rows[y] = reinterpret_cast<png_bytep>(st->bitmap->pixels.data() + size_t(y) * w);
    png_read_image(png, st->rows.data());
    png_read_end(png, nullptr);
    return true;
}

struct Writer {
    std::vector<uint8_t>* out;
};

void write_bytes(png_structp png, png_bytep data, png_size_t count) {
    Writer* w = static_cast<Writer*>(png_get_io_ptr(png));
    w->out->insert(w->out->end(), data, data + count);
}
void flush_bytes(png_structp) {}

bool encode_into(png_structp png, png_infop info, const Bitmap& bm, std::vector<png_bytep>* rows,
                 std::vector<uint8_t>* packed) {
    if (setjmp(png_jmpbuf(png))) return false;
    bool opaque = true;
    for (uint32_t p : bm.pixels)
        if ((p >> 24) != 255) {
            opaque = false;
            break;
        }
    png_set_IHDR(png, info, bm.width, bm.height, 8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_write_info(png, info);
    png_set_bgr(png);
    if (opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);
    (void)packed;
    for (uint32_t y = 0; y < bm.height; ++y)
        (*rows)[y] = reinterpret_cast<png_bytep>(const_cast<uint32_t*>(bm.pixels.data()) + size_t(y) * bm.width);
    png_write_image(png, rows->data());
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

std::unique_ptr<Bitmap> decode_png(const uint8_t* bytes, size_t length) {
    std::string why;
    if (!load_png_library(why)) return nullptr;
    if (length < 8 || png_sig_cmp(bytes, 0, 8) != 0) return nullptr;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet_error, quiet_warning);
    if (!png) return nullptr;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return nullptr;
    }
    Reader reader{bytes, length, 0};
    png_set_read_fn(png, &reader, read_bytes);
    auto st = std::make_unique<DecodeState>();
    bool ok = decode_into(png, info, st.get());
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) return nullptr;
    return std::move(st->bitmap);
}

bool encode_png(const Bitmap& bm, std::vector<uint8_t>& out) {
    std::string why;
    if (!load_png_library(why)) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet_error, quiet_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    Writer writer{&out};
    png_set_write_fn(png, &writer, write_bytes, flush_bytes);
    auto rows = std::make_unique<std::vector<png_bytep>>(bm.height);
    bool ok = encode_into(png, info, bm, rows.get(), nullptr);
    png_destroy_write_struct(&png, &info);
    return ok;
}

}  // namespace kiv::os_image
