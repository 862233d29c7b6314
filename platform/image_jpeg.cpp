// JPEG through libjpeg-turbo: baseline, progressive, greyscale and CMYK
// decoded to opaque BGRA; encoded as baseline YCbCr at quality 90 (alpha is
// not kept).
//
// The library reports errors through error_exit, which longjmps back here;
// the state that must survive lives in heap objects made before setjmp.
//
// libjpeg is opened on the first use of the codec (platform/late_library.h);
// its calls below go through the table.
// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <csetjmp>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/image.h"
#include "platform/late_library.h"

static_assert(JPEG_LIB_VERSION == 62, "image_jpeg.cpp opens libjpeg.so.62");

#define KIV_JPEG_FUNCTIONS(X)  \
    X(jpeg_std_error)          \
    X(jpeg_CreateDecompress)   \
    X(jpeg_CreateCompress)     \
    X(jpeg_destroy_decompress) \
    X(jpeg_destroy_compress)   \
    X(jpeg_mem_src)            \
    X(jpeg_mem_dest)           \
    X(jpeg_read_header)        \
    X(jpeg_start_decompress)   \
    X(jpeg_read_scanlines)     \
    X(jpeg_finish_decompress)  \
    X(jpeg_set_defaults)       \
    X(jpeg_set_quality)        \
    X(jpeg_start_compress)     \
    X(jpeg_write_scanlines)    \
    X(jpeg_finish_compress)

namespace kiv::os_image {

namespace {

struct Table {
    KIV_JPEG_FUNCTIONS(KIV_LATE_FIELD)
};
Table table;

}  // namespace

bool load_jpeg_library(std::string& why) {
    static platform::LateLibrary library("libjpeg.so.62", "the JPEG codec needs libjpeg: ");
    return library.load(why, [](platform::LateLibrary& lib) { KIV_JPEG_FUNCTIONS(KIV_LATE_RESOLVE) });
}

#define jpeg_std_error table.jpeg_std_error
#define jpeg_CreateDecompress table.jpeg_CreateDecompress
#define jpeg_CreateCompress table.jpeg_CreateCompress
#define jpeg_destroy_decompress table.jpeg_destroy_decompress
#define jpeg_destroy_compress table.jpeg_destroy_compress
#define jpeg_mem_src table.jpeg_mem_src
#define jpeg_mem_dest table.jpeg_mem_dest
#define jpeg_read_header table.jpeg_read_header
#define jpeg_start_decompress table.jpeg_start_decompress
#define jpeg_read_scanlines table.jpeg_read_scanlines
#define jpeg_finish_decompress table.jpeg_finish_decompress
#define jpeg_set_defaults table.jpeg_set_defaults
#define jpeg_set_quality table.jpeg_set_quality
#define jpeg_start_compress table.jpeg_start_compress
#define jpeg_write_scanlines table.jpeg_write_scanlines
#define jpeg_finish_compress table.jpeg_finish_compress

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void error_exit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
void quiet_message(j_common_ptr) {}
// Warnings are ignored, except running out of data: a truncated file is an
// error, not an image padded with grey.
void emit_message(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Hostile progressive files can hold thousands of tiny scans; past this
// many the decode stops.
constexpr int MAX_SCANS = 1000;
void progress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > MAX_SCANS) std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
    }
}

struct DecodeState {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr prog;
    std::unique_ptr<Bitmap> bitmap;
    std::vector<uint8_t> row;
};

bool decode_into(DecodeState* st, const uint8_t* bytes, size_t length) {
    j_decompress_ptr c = &st->cinfo;
    if (setjmp(st->err.jump)) return false;
    jpeg_mem_src(c, bytes, (unsigned long)length);
    if (jpeg_read_header(c, TRUE) != JPEG_HEADER_OK) return false;
    if (!fits(c->image_width, c->image_height) || c->image_width == 0 || c->image_height == 0) return false;
    bool cmyk = c->jpeg_color_space == JCS_CMYK || c->jpeg_color_space == JCS_YCCK;
    c->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(c);
    if (c->output_width != c->image_width || c->output_height != c->image_height) return false;
    st->bitmap = new_bitmap(c->output_width, c->output_height);
    if (!st->bitmap) return false;
    uint32_t w = c->output_width;
    st->row.resize(size_t(w) * 4);
    while (c->output_scanline < c->output_height) {
        uint32_t y = c->output_scanline;
        uint8_t* dst = reinterpret_cast<uint8_t*>(st->bitmap->pixels.data() + size_t(y) * w);
        JSAMPROW rows[1] = {cmyk ? st->row.data() : dst};
        if (jpeg_read_scanlines(c, rows, 1) != 1) return false;
        if (cmyk) {
            // Adobe writes CMYK inverted: the stored values are 255 - ink.
            bool inverted = c->saw_Adobe_marker;
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* s = st->row.data() + size_t(x) * 4;
                uint32_t k = inverted ? s[3] : 255u - s[3];
                auto ch = [&](uint8_t v) { return uint32_t((inverted ? v : 255u - v) * k / 255u); };
                uint32_t px = 0xFF000000u | (ch(s[0]) << 16) | (ch(s[1]) << 8) | ch(s[2]);
                std::memcpy(dst + size_t(x) * 4, &px, 4);
            }
        } else {
            for (uint32_t x = 0; x < w; ++x) dst[size_t(x) * 4 + 3] = 255;
        }
    }
    jpeg_finish_decompress(c);
    return true;
}

struct EncodeState {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    unsigned char* mem = nullptr;
    unsigned long size = 0;
};

bool encode_into(EncodeState* st, const Bitmap& bm) {
    j_compress_ptr c = &st->cinfo;
    if (setjmp(st->err.jump)) return false;
    jpeg_mem_dest(c, &st->mem, &st->size);
    c->image_width = bm.width;
    c->image_height = bm.height;
    c->input_components = 4;
    c->in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, 90, TRUE);
    jpeg_start_compress(c, TRUE);
    while (c->next_scanline < c->image_height) {
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(bm.pixels.data()) +
                                                       size_t(c->next_scanline) * bm.width)};
        jpeg_write_scanlines(c, rows, 1);
    }
    jpeg_finish_compress(c);
    return true;
}

}  // namespace

std::unique_ptr<Bitmap> decode_jpeg(const uint8_t* bytes, size_t length) {
    if (length < 3) return nullptr;
    std::string why;
    if (!load_jpeg_library(why)) return nullptr;
    auto st = std::make_unique<DecodeState>();
    st->cinfo.err = jpeg_std_error(&st->err.base);
    st->err.base.error_exit = error_exit;
    st->err.base.output_message = quiet_message;
    st->err.base.emit_message = emit_message;
    jpeg_create_decompress(&st->cinfo);
    st->prog.progress_monitor = progress;
    st->cinfo.progress = &st->prog;
    bool ok = decode_into(st.get(), bytes, length);
    jpeg_destroy_decompress(&st->cinfo);
    if (!ok) return nullptr;
    return std::move(st->bitmap);
}

bool encode_jpeg(const Bitmap& bm, std::vector<uint8_t>& out) {
    std::string why;
    if (!load_jpeg_library(why)) return false;
    auto st = std::make_unique<EncodeState>();
    st->cinfo.err = jpeg_std_error(&st->err.base);
    st->err.base.error_exit = error_exit;
    st->err.base.output_message = quiet_message;
    jpeg_create_compress(&st->cinfo);
    bool ok = encode_into(st.get(), bm);
    jpeg_destroy_compress(&st->cinfo);
    if (ok) out.assign(st->mem, st->mem + st->size);
    std::free(st->mem);
    return ok;
}

}  // namespace kiv::os_image
