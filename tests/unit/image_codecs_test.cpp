// Image codecs: files of every supported layout are generated here with the
// libraries' own writers (BMP by hand), decoded by the image layer and
// compared pixel by pixel with what was written; every encoder round-trips;
// truncated and hostile inputs fail cleanly. Also the derived bitmaps and
// the quad warp's golden rows.
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <jpeglib.h>

#include <gtest/gtest.h>

#include "platform/image.h"
#include "platform/image_warp.h"

using namespace kiv;
using os_image::Bitmap;

namespace {

constexpr uint32_t W = 13, H = 7;  // odd sizes: row padding and partial bytes

uint32_t bgra(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return a << 24 | r << 16 | g << 8 | b; }

// A pattern with varied colours.
uint32_t pattern(uint32_t x, uint32_t y, bool alpha) {
    uint32_t r = (x * 19 + y * 7) & 255, g = (x * 5 + y * 29) & 255, b = (x * y * 11 + 3) & 255;
    return bgra(r, g, b, alpha ? ((x + y) * 37) & 255 : 255);
}

// ---- PNG writer over libpng ----------------------------------------------------------------

void png_out(png_structp png, png_bytep d, png_size_t n) {
    auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    v->insert(v->end(), d, d + n);
}
void png_flush(png_structp) {}

// Samples are given per pixel as full-range values of `depth` bits.
std::vector<uint8_t> write_png(int colour, int depth, bool interlace, const std::vector<std::vector<uint32_t>>& rows,
                               const std::vector<png_color>& palette = {}, const std::vector<uint8_t>& trans = {},
                               const png_color_16* trans_colour = nullptr) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, png_out, png_flush);
    png_set_IHDR(png, info, W, H, depth, colour, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (!trans.empty()) png_set_tRNS(png, info, trans.data(), int(trans.size()), nullptr);
    if (trans_colour) png_set_tRNS(png, info, nullptr, 0, trans_colour);
    png_write_info(png, info);
    int channels = png_get_channels(png, info);
    size_t rowbytes = png_get_rowbytes(png, info);
    std::vector<std::vector<uint8_t>> packed(H, std::vector<uint8_t>(rowbytes, 0));
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x)
            for (int c = 0; c < channels; ++c) {
                uint32_t v = rows[y][x * channels + c];
                size_t bit = (size_t(x) * channels + c) * depth;
                if (depth == 16) {
                    packed[y][bit / 8] = uint8_t(v >> 8);
                    packed[y][bit / 8 + 1] = uint8_t(v);
                } else {
                    packed[y][bit / 8] |= uint8_t(v << (8 - depth - bit % 8));
                }
            }
    std::vector<png_bytep> ptrs;
    for (auto& r : packed) ptrs.push_back(r.data());
    png_write_image(png, ptrs.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

void expect_pixels(const Bitmap* bm, const std::vector<uint32_t>& want, int tolerance = 0) {
    ASSERT_NE(bm, nullptr);
    ASSERT_EQ(bm->width, W);
    ASSERT_EQ(bm->height, H);
    for (size_t i = 0; i < want.size(); ++i) {
        for (int k = 0; k < 32; k += 8) {
            int a = int((bm->pixels[i] >> k) & 255), b = int((want[i] >> k) & 255);
            ASSERT_LE(std::abs(a - b), tolerance) << "pixel " << i << " byte " << k / 8 << std::hex << " got "
                                                  << bm->pixels[i] << " want " << want[i];
        }
    }
}

TEST(ImageCodecs, PngEveryColourTypeDepthAndInterlace) {
    for (bool interlace : {false, true}) {
        // Grey at 1, 2, 4, 8 and 16 bits: the value scaled to 8 bits.
        for (int depth : {1, 2, 4, 8, 16}) {
            uint32_t maxv = (1u << depth) - 1;
            std::vector<std::vector<uint32_t>> rows(H);
            std::vector<uint32_t> want;
            for (uint32_t y = 0; y < H; ++y)
                for (uint32_t x = 0; x < W; ++x) {
                    uint32_t v = (x * 7 + y * 3) % (maxv + 1);
                    if (depth == 16) v = (x * 4099 + y * 977) & 0xFFFF;
                    rows[y].push_back(v);
                    uint32_t g = depth == 16 ? (v * 255 + 32895) / 65535 : v * 255 / maxv;
                    want.push_back(bgra(g, g, g, 255));
                }
            auto file = write_png(PNG_COLOR_TYPE_GRAY, depth, interlace, rows);
            SCOPED_TRACE("grey " + std::to_string(depth) + (interlace ? " interlaced" : ""));
            // 16 bits scale to 8 with rounding: within 1.
            expect_pixels(os_image::decode(file.data(), file.size()).get(), want, depth == 16 ? 1 : 0);
        }
        // RGB, RGBA and grey+alpha at 8 and 16 bits.
        for (int depth : {8, 16}) {
            for (int colour : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_GRAY_ALPHA}) {
                std::vector<std::vector<uint32_t>> rows(H);
                std::vector<uint32_t> want;
                for (uint32_t y = 0; y < H; ++y)
                    for (uint32_t x = 0; x < W; ++x) {
                        uint32_t p = pattern(x, y, true);
                        uint32_t r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255, a = p >> 24;
                        auto put = [&](uint32_t v) { rows[y].push_back(depth == 16 ? v * 257 : v); };
                        if (colour == PNG_COLOR_TYPE_GRAY_ALPHA) {
                            put(r);
                            put(a);
                            want.push_back(bgra(r, r, r, a));
                        } else {
                            put(r);
                            put(g);
                            put(b);
                            if (colour == PNG_COLOR_TYPE_RGB_ALPHA) put(a);
                            want.push_back(bgra(r, g, b, colour == PNG_COLOR_TYPE_RGB ? 255 : a));
                        }
                    }
                auto file = write_png(colour, depth, interlace, rows);
                SCOPED_TRACE("colour " + std::to_string(colour) + " depth " + std::to_string(depth));
                expect_pixels(os_image::decode(file.data(), file.size()).get(), want);
            }
        }
        // Palettes at 1, 2, 4 and 8 bits, with tRNS alpha per entry.
        for (int depth : {1, 2, 4, 8}) {
            int entries = 1 << depth;
            std::vector<png_color> pal;
            std::vector<uint8_t> trans;
            for (int i = 0; i < entries; ++i) {
                pal.push_back(png_color{uint8_t(i * 37), uint8_t(255 - i * 11), uint8_t(i * 91)});
                trans.push_back(uint8_t(i * 53));
            }
            std::vector<std::vector<uint32_t>> rows(H);
            std::vector<uint32_t> want;
            for (uint32_t y = 0; y < H; ++y)
                for (uint32_t x = 0; x < W; ++x) {
                    uint32_t i = (x + y * 3) % uint32_t(entries);
                    rows[y].push_back(i);
                    want.push_back(bgra(pal[i].red, pal[i].green, pal[i].blue, trans[i]));
                }
            auto file = write_png(PNG_COLOR_TYPE_PALETTE, depth, interlace, rows, pal, trans);
            SCOPED_TRACE("palette " + std::to_string(depth));
            expect_pixels(os_image::decode(file.data(), file.size()).get(), want);
        }
        // An RGB tRNS colour becomes transparent.
        {
            std::vector<std::vector<uint32_t>> rows(H);
            std::vector<uint32_t> want;
            for (uint32_t y = 0; y < H; ++y)
                for (uint32_t x = 0; x < W; ++x) {
                    uint32_t v = (x + y) % 3 * 100;
                    rows[y].insert(rows[y].end(), {v, v, v});
                    want.push_back(bgra(v, v, v, v == 100 ? 0 : 255));
                }
            png_color_16 key{0, 100, 100, 100, 0};
            auto file = write_png(PNG_COLOR_TYPE_RGB, 8, interlace, rows, {}, {}, &key);
            expect_pixels(os_image::decode(file.data(), file.size()).get(), want);
        }
    }
}

// ---- JPEG writer over libjpeg ------------------------------------------------------------------

std::vector<uint8_t> write_jpeg(bool grey, bool progressive, const std::vector<uint32_t>& px) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = W;
    c.image_height = H;
    c.input_components = grey ? 1 : 3;
    c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 98, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(W * 3);
    while (c.next_scanline < H) {
        for (uint32_t x = 0; x < W; ++x) {
            uint32_t p = px[c.next_scanline * W + x];
            if (grey) {
                row[x] = uint8_t(p >> 16);
            } else {
                row[x * 3] = uint8_t(p >> 16);
                row[x * 3 + 1] = uint8_t(p >> 8);
                row[x * 3 + 2] = uint8_t(p);
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(mem, mem + size);
    jpeg_destroy_compress(&c);
    std::free(mem);
    return out;
}

// A smooth picture, so that JPEG's error stays small.
std::vector<uint32_t> smooth(bool grey) {
    std::vector<uint32_t> px;
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            uint32_t r = 40 + x * 10, g = 60 + y * 15, b = 200 - x * 5;
            px.push_back(grey ? bgra(r, r, r, 255) : bgra(r, g, b, 255));
        }
    return px;
}

TEST(ImageCodecs, JpegBaselineProgressiveGrey) {
    for (bool grey : {false, true})
        for (bool progressive : {false, true}) {
            auto want = smooth(grey);
            auto file = write_jpeg(grey, progressive, want);
            SCOPED_TRACE(std::string(grey ? "grey" : "colour") + (progressive ? " progressive" : " baseline"));
            expect_pixels(os_image::decode(file.data(), file.size()).get(), want, 12);
            // Cut short: an error, never grey padding.
            EXPECT_EQ(os_image::decode(file.data(), file.size() * 2 / 3), nullptr);
        }
}

// ---- GIF writer over giflib -------------------------------------------------------------------

int gif_out(GifFileType* g, const GifByteType* d, int n) {
    auto* v = static_cast<std::vector<uint8_t>*>(g->UserData);
    v->insert(v->end(), d, d + n);
    return n;
}

TEST(ImageCodecs, GifFirstFrameTransparencyInterlace) {
    for (bool interlace : {false, true}) {
        GifColorType cols[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
        ColorMapObject* map = GifMakeMapObject(4, cols);
        std::vector<uint8_t> out;
        int err = 0;
        GifFileType* g = EGifOpen(&out, gif_out, &err);
        EGifSetGifVersion(g, true);
        EGifPutScreenDesc(g, W, H, 8, 0, map);
        GifByteType gce[4] = {1, 0, 0, 3};  // index 3 is transparent
        EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, gce);
        EGifPutImageDesc(g, 0, 0, W, H, interlace, nullptr);
        std::vector<uint32_t> want(W * H);
        std::vector<std::vector<GifPixelType>> rows(H, std::vector<GifPixelType>(W));
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                uint32_t i = (x * 3 + y) % 4;
                rows[y][x] = GifPixelType(i);
                want[y * W + x] = i == 3 ? 0 : bgra(cols[i].Red, cols[i].Green, cols[i].Blue, 255);
            }
        static const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
        if (interlace) {
            for (int p = 0; p < 4; ++p)
                for (uint32_t y = uint32_t(starts[p]); y < H; y += uint32_t(steps[p])) EGifPutLine(g, rows[y].data(), W);
        } else {
            for (uint32_t y = 0; y < H; ++y) EGifPutLine(g, rows[y].data(), W);
        }
        // A second frame that must not be drawn.
        EGifPutImageDesc(g, 0, 0, 2, 2, false, nullptr);
        GifPixelType two[2] = {0, 0};
        EGifPutLine(g, two, 2);
        EGifPutLine(g, two, 2);
        EGifCloseFile(g, &err);
        GifFreeMapObject(map);
        expect_pixels(os_image::decode(out.data(), out.size()).get(), want);
        EXPECT_EQ(os_image::decode(out.data(), 30), nullptr);
    }
}

// ---- TIFF writer over libtiff ------------------------------------------------------------------

std::vector<uint8_t> write_tiff_file(const char* name, void (*fill)(TIFF*)) {
    std::string path = std::string("/tmp/kiv-tiff-") + std::to_string(getpid()) + name;
    TIFF* t = TIFFOpen(path.c_str(), "w");
    fill(t);
    TIFFClose(t);
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    int ch;
    while ((ch = std::fgetc(f)) != EOF) bytes.push_back(uint8_t(ch));
    std::fclose(f);
    std::remove(path.c_str());
    return bytes;
}

void tiff_common(TIFF* t, uint16_t spp, uint16_t bits, uint16_t photometric, uint16_t planar) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, W);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, H);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, planar);
}

TEST(ImageCodecs, TiffLayouts) {
    std::vector<uint32_t> rgb, rgba, grey;
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            rgb.push_back(pattern(x, y, false));
            rgba.push_back(pattern(x, y, true));
            uint32_t g = (x * 17 + y * 5) & 255;
            grey.push_back(bgra(g, g, g, 255));
        }
    // 8-bit RGB in one plane, deflate-compressed.
    auto contig = write_tiff_file("a", [](TIFF* t) {
        tiff_common(t, 3, 8, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 3);
        for (uint32_t y = 0; y < H; ++y) {
            uint8_t row[W * 3];
            for (uint32_t x = 0; x < W; ++x) {
                uint32_t p = pattern(x, y, false);
                row[x * 3] = uint8_t(p >> 16), row[x * 3 + 1] = uint8_t(p >> 8), row[x * 3 + 2] = uint8_t(p);
            }
            TIFFWriteScanline(t, row, y, 0);
        }
    });
    SCOPED_TRACE("contig");
    expect_pixels(os_image::decode(contig.data(), contig.size()).get(), rgb);
    // 8-bit RGBA with unassociated alpha: kept exactly.
    auto alpha = write_tiff_file("b", [](TIFF* t) {
        tiff_common(t, 4, 8, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG);
        uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
        for (uint32_t y = 0; y < H; ++y) {
            uint8_t row[W * 4];
            for (uint32_t x = 0; x < W; ++x) {
                uint32_t p = pattern(x, y, true);
                row[x * 4] = uint8_t(p >> 16), row[x * 4 + 1] = uint8_t(p >> 8), row[x * 4 + 2] = uint8_t(p);
                row[x * 4 + 3] = uint8_t(p >> 24);
            }
            TIFFWriteScanline(t, row, y, 0);
        }
    });
    SCOPED_TRACE("alpha");
    expect_pixels(os_image::decode(alpha.data(), alpha.size()).get(), rgba);
    // Planes written separately.
    auto planar = write_tiff_file("c", [](TIFF* t) {
        tiff_common(t, 3, 8, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE);
        for (uint16_t s = 0; s < 3; ++s)
            for (uint32_t y = 0; y < H; ++y) {
                uint8_t row[W];
                for (uint32_t x = 0; x < W; ++x) row[x] = uint8_t(pattern(x, y, false) >> (16 - 8 * s));
                TIFFWriteScanline(t, row, y, s);
            }
    });
    SCOPED_TRACE("planar");
    expect_pixels(os_image::decode(planar.data(), planar.size()).get(), rgb);
    // Grey, LZW.
    auto grey8 = write_tiff_file("d", [](TIFF* t) {
        tiff_common(t, 1, 8, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        for (uint32_t y = 0; y < H; ++y) {
            uint8_t row[W];
            for (uint32_t x = 0; x < W; ++x) row[x] = uint8_t((x * 17 + y * 5) & 255);
            TIFFWriteScanline(t, row, y, 0);
        }
    });
    SCOPED_TRACE("grey8");
    expect_pixels(os_image::decode(grey8.data(), grey8.size()).get(), grey);
    // Tiled RGB (16x16 tiles over a 13x7 image).
    auto tiled = write_tiff_file("e", [](TIFF* t) {
        tiff_common(t, 3, 8, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
        uint8_t tile[16 * 16 * 3] = {};
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                uint32_t p = pattern(x, y, false);
                uint8_t* d = tile + (y * 16 + x) * 3;
                d[0] = uint8_t(p >> 16), d[1] = uint8_t(p >> 8), d[2] = uint8_t(p);
            }
        TIFFWriteTile(t, tile, 0, 0, 0, 0);
    });
    SCOPED_TRACE("tiled");
    expect_pixels(os_image::decode(tiled.data(), tiled.size()).get(), rgb);
    // 16 bits per sample: scaled to 8.
    auto deep = write_tiff_file("f", [](TIFF* t) {
        tiff_common(t, 3, 16, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG);
        for (uint32_t y = 0; y < H; ++y) {
            uint16_t row[W * 3];
            for (uint32_t x = 0; x < W; ++x) {
                uint32_t p = pattern(x, y, false);
                row[x * 3] = uint16_t(((p >> 16) & 255) * 257), row[x * 3 + 1] = uint16_t(((p >> 8) & 255) * 257);
                row[x * 3 + 2] = uint16_t((p & 255) * 257);
            }
            TIFFWriteScanline(t, row, y, 0);
        }
    });
    SCOPED_TRACE("16 bits");
    expect_pixels(os_image::decode(deep.data(), deep.size()).get(), rgb);
    for (auto* f : {&contig, &alpha, &planar, &grey8, &tiled, &deep})
        for (size_t cut = 0; cut < f->size(); cut += 7) os_image::decode(f->data(), cut);  // must not crash
}

// ---- BMP written by hand ---------------------------------------------------------------------

void le(std::vector<uint8_t>& v, uint32_t x, int n) {
    for (int i = 0; i < n; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

std::vector<uint8_t> write_bmp(uint32_t bpp, bool top_down, bool fields, const std::vector<uint32_t>& px) {
    uint32_t stride = (W * bpp + 31) / 32 * 4;
    uint32_t header = fields ? 56 : 40;
    std::vector<uint8_t> v{'B', 'M'};
    le(v, 14 + header + stride * H, 4);
    le(v, 0, 4);
    le(v, 14 + header, 4);
    le(v, header, 4);
    le(v, W, 4);
    le(v, top_down ? uint32_t(-int32_t(H)) : H, 4);
    le(v, 1, 2);
    le(v, bpp, 2);
    le(v, fields ? 3 : 0, 4);
    for (int i = 0; i < 5; ++i) le(v, 0, 4);
    if (fields) {
        le(v, 0x00FF0000, 4);
        le(v, 0x0000FF00, 4);
        le(v, 0x000000FF, 4);
        le(v, 0xFF000000, 4);
    }
    for (uint32_t r = 0; r < H; ++r) {
        uint32_t y = top_down ? r : H - 1 - r;
        size_t start = v.size();
        for (uint32_t x = 0; x < W; ++x) le(v, px[y * W + x], bpp / 8);
        while (v.size() - start < stride) v.push_back(0);
    }
    return v;
}

TEST(ImageCodecs, BmpLayouts) {
    std::vector<uint32_t> rgb, rgba;
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            rgb.push_back(pattern(x, y, false));
            rgba.push_back(pattern(x, y, true));
        }
    for (bool top_down : {false, true}) {
        auto b24 = write_bmp(24, top_down, false, rgb);
        expect_pixels(os_image::decode(b24.data(), b24.size()).get(), rgb);
        auto b32 = write_bmp(32, top_down, true, rgba);
        expect_pixels(os_image::decode(b32.data(), b32.size()).get(), rgba);
        // Plain 32 bits whose fourth bytes are all 0: opaque.
        std::vector<uint32_t> zero_alpha;
        for (uint32_t p : rgb) zero_alpha.push_back(p & 0xFFFFFF);
        auto plain = write_bmp(32, top_down, false, zero_alpha);
        expect_pixels(os_image::decode(plain.data(), plain.size()).get(), rgb);
        // Every prefix of the file fails cleanly (the data is checked
        // against the header before any pixel is read).
        for (size_t cut = 0; cut < b32.size(); ++cut) EXPECT_EQ(os_image::decode(b32.data(), cut), nullptr);
    }
    // Sizes past the limit are refused before anything is allocated.
    auto huge = write_bmp(24, false, false, rgb);
    huge[18] = 0xFF, huge[19] = 0xFF, huge[20] = 0xFF, huge[21] = 0x7F;
    EXPECT_EQ(os_image::decode(huge.data(), huge.size()), nullptr);
}

// ---- Round trips through every encoder ------------------------------------------------------

TEST(ImageCodecs, RoundTrips) {
    auto bm = os_image::new_bitmap(W, H);
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) bm->pixels[y * W + x] = pattern(x, y, true);
    for (int32_t f : {os_image::FORMAT_PNG, os_image::FORMAT_BMP, os_image::FORMAT_TIFF}) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(os_image::encode(*bm, f, bytes));
        EXPECT_EQ(os_image::sniff(bytes.data(), bytes.size()), f);
        auto back = os_image::decode(bytes.data(), bytes.size());
        SCOPED_TRACE(f);
        expect_pixels(back.get(), bm->pixels);
        for (size_t cut = 0; cut < bytes.size(); cut += 5) os_image::decode(bytes.data(), cut);
    }
    // GIF keeps few colours and all-or-nothing alpha exactly.
    auto few = os_image::new_bitmap(W, H);
    for (uint32_t i = 0; i < W * H; ++i) few->pixels[i] = i % 5 == 0 ? 0 : bgra(i % 3 * 100, 50, i % 4 * 60, 255);
    std::vector<uint8_t> gif;
    ASSERT_TRUE(os_image::encode(*few, os_image::FORMAT_GIF, gif));
    expect_pixels(os_image::decode(gif.data(), gif.size()).get(), few->pixels);
    // JPEG: within the usual error on a smooth picture.
    auto soft = os_image::new_bitmap(W, H);
    soft->pixels = smooth(false);
    std::vector<uint8_t> jpg;
    ASSERT_TRUE(os_image::encode(*soft, os_image::FORMAT_JPEG, jpg));
    expect_pixels(os_image::decode(jpg.data(), jpg.size()).get(), soft->pixels, 16);
    // Opaque images use the plain layouts (RGB, 24-bit) and still round-trip.
    for (int32_t f : {os_image::FORMAT_PNG, os_image::FORMAT_BMP, os_image::FORMAT_TIFF}) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(os_image::encode(*soft, f, bytes));
        expect_pixels(os_image::decode(bytes.data(), bytes.size()).get(), soft->pixels);
    }
    EXPECT_FALSE(os_image::encode(*bm, 5, gif));
}

TEST(ImageCodecs, HostileHeaders) {
    // A PNG whose header claims 65535 x 65535 is refused before the pixels
    // (4 GiB) would be allocated; so is one past the side limit.
    auto bm = os_image::new_bitmap(2, 2);
    std::vector<uint8_t> png;
    ASSERT_TRUE(os_image::encode_png(*bm, png));
    for (uint32_t side : {65535u, 70000u}) {
        auto bad = png;
        for (int i = 0; i < 2; ++i)
            for (int k = 0; k < 4; ++k) bad[16 + i * 4 + k] = uint8_t(side >> (24 - 8 * k));
        EXPECT_EQ(os_image::decode(bad.data(), bad.size()), nullptr);
    }
    const uint8_t junk[] = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0};
    EXPECT_EQ(os_image::decode(junk, sizeof junk), nullptr);
    const uint8_t tiff[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF};
    EXPECT_EQ(os_image::decode(tiff, sizeof tiff), nullptr);
    EXPECT_FALSE(os_image::fits(65536, 1));
    EXPECT_FALSE(os_image::fits(65535, 65535));
    EXPECT_TRUE(os_image::fits(4000, 3000));
}

uint32_t crc32_of(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

TEST(ImageCodecs, SizesTheDataCannotFill) {
    // Headers within the size limits whose data is far too short to fill
    // them are refused before any pixel is made; files as compressible as
    // their formats allow still decode.
    auto small = os_image::new_bitmap(2, 2);
    std::vector<uint8_t> png;
    ASSERT_TRUE(os_image::encode_png(*small, png));
    auto put32be = [](uint8_t* p, uint32_t v) {
        for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (24 - 8 * k));
    };
    put32be(&png[16], 65535);
    put32be(&png[20], 2048);
    put32be(&png[29], crc32_of(&png[12], 17));  // the header chunk's CRC over its type and data
    uint64_t before = os_image::pixels_made;
    EXPECT_EQ(os_image::decode(png.data(), png.size()), nullptr);
    EXPECT_EQ(os_image::pixels_made, before);

    // A GIF whose one frame covers 65535 x 2048 with a few bytes of codes.
    const uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0x00, 0x08, 0x80, 0, 0,
                           0, 0, 0, 255, 255, 255,                              // two colours
                           0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0x08, 0x00,    // the frame
                           2, 2, 0x4C, 0x01, 0, 0x3B};
    before = os_image::pixels_made;
    EXPECT_EQ(os_image::decode(gif, sizeof gif), nullptr);
    EXPECT_EQ(os_image::pixels_made, before);

    auto flat = os_image::new_bitmap(2000, 1500);
    for (int32_t format : {os_image::FORMAT_PNG, os_image::FORMAT_GIF}) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(os_image::encode(*flat, format, bytes));
        auto back = os_image::decode(bytes.data(), bytes.size());
        ASSERT_NE(back, nullptr) << format;
        EXPECT_EQ(back->width, 2000u);
        EXPECT_EQ(back->height, 1500u);
    }
}

// ---- Derived bitmaps ----------------------------------------------------------------------------

TEST(ImageLayer, ResizeFlipClip) {
    auto bm = os_image::new_bitmap(4, 2);
    for (uint32_t i = 0; i < 8; ++i) bm->pixels[i] = i;
    auto big = os_image::resize(*bm, 8, 4);
    EXPECT_EQ(big->pixels, (std::vector<uint32_t>{0, 0, 1, 1, 2, 2, 3, 3, 0, 0, 1, 1, 2, 2, 3, 3,
                                                 4, 4, 5, 5, 6, 6, 7, 7, 4, 4, 5, 5, 6, 6, 7, 7}));
    auto small = os_image::resize(*bm, 2, 1);
    EXPECT_EQ(small->pixels, (std::vector<uint32_t>{5, 7}));  // the pixels under the centres
    EXPECT_EQ(os_image::flip_vertical(*bm)->pixels, (std::vector<uint32_t>{4, 5, 6, 7, 0, 1, 2, 3}));
    EXPECT_EQ(os_image::flip_horizontal(*bm)->pixels, (std::vector<uint32_t>{3, 2, 1, 0, 7, 6, 5, 4}));
    auto part = os_image::copy_part(*bm, 1, 1, 5, 5);
    EXPECT_EQ(part->width, 3u);
    EXPECT_EQ(part->pixels, (std::vector<uint32_t>{5, 6, 7}));
    EXPECT_EQ(os_image::copy_part(*bm, 4, 0, 1, 1)->count(), 0u);
    EXPECT_EQ(os_image::resize(*bm, 70000, 1), nullptr);
}

TEST(ImageLayer, Premultiply) {
    uint32_t in[3] = {0x80FF8040u, 0x00FFFFFFu, 0xFF123456u}, pm[3], back[3];
    os_image::premultiply(in, pm, 3);
    EXPECT_EQ(pm[0], 0x80804020u);
    EXPECT_EQ(pm[1], 0u);
    EXPECT_EQ(pm[2], in[2]);
    os_image::unpremultiply(pm, back, 3);
    EXPECT_EQ(back[0], 0x80FF8040u);
    EXPECT_EQ(back[2], in[2]);
}

// ---- Geometry and the warp ----------------------------------------------------------------------

TEST(Geometry, PointsAndRects) {
    geometry::Quad q{{{0, 0}, {4, 0}, {4, 4}, {0, 4}}};
    EXPECT_TRUE(geometry::point_in_quad(q, 4, 2));  // on an edge: inside
    EXPECT_TRUE(geometry::point_in_quad(q, 0, 0));
    EXPECT_FALSE(geometry::point_in_quad(q, 4.01f, 2));
    EXPECT_FALSE(geometry::point_in_quad(q, 2, -0.5f));
    geometry::mirror_quad_x(q, 1);
    EXPECT_EQ(q.p[1].x, -2.0f);
    uint32_t px[6] = {1, 2, 3, 4, 5, 6}, out[6] = {};
    EXPECT_FALSE(geometry::copy_pixel_rect(px, 3, 2, 3, 0, 1, 1, out));  // x = width
    EXPECT_FALSE(geometry::copy_pixel_rect(px, 3, 2, -1, 0, 1, 1, out));
    EXPECT_TRUE(geometry::copy_pixel_rect(px, 3, 2, 1, 0, 5, 5, out));
    EXPECT_EQ(std::vector<uint32_t>(out, out + 4), (std::vector<uint32_t>{2, 3, 5, 6}));
}

TEST(Geometry, WarpGoldenRows) {
    // The axis-aligned quad of the source's own size gives the source back.
    constexpr uint32_t SW = 5, SH = 3;
    std::vector<uint32_t> src(SW * SH);
    for (uint32_t i = 0; i < SW * SH; ++i) src[i] = 0x01020304u * (i + 1);
    geometry::Quad same{{{0, 0}, {float(SW), 0}, {float(SW), float(SH)}, {0, float(SH)}}};
    auto r = geometry::warp(src.data(), SW, SH, same);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.w, int32_t(SW));
    EXPECT_EQ(r.h, int32_t(SH));
    EXPECT_EQ(r.pixels, src);
    // Twice the size: bilinear in between, clamped at the right and bottom.
    std::vector<uint32_t> two = {0x00000000u, 0x64646464u};  // bytes 0 and 100
    geometry::Quad wide{{{0, 0}, {4, 0}, {4, 1}, {0, 1}}};
    auto s = geometry::warp(two.data(), 2, 1, wide);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.pixels, (std::vector<uint32_t>{0x00000000u, 0x32323232u, 0x64646464u, 0x64646464u}));
    // A shifted quad reports its box; pixels outside a triangle-ish quad stay 0.
    geometry::Quad skew{{{10, 20}, {14, 20}, {12, 24}, {10, 24}}};
    auto k = geometry::warp(src.data(), SW, SH, skew);
    ASSERT_TRUE(k.ok);
    EXPECT_EQ(k.x, 10);
    EXPECT_EQ(k.y, 20);
    EXPECT_EQ(k.pixels[size_t(3 * k.w + 3)], 0u);  // (13, 23) lies right of p1->p2
    // Degenerate, not finite or far-away quads are refused, never converted.
    geometry::Quad flat{{{0, 0}, {0, 0}, {4, 4}, {0, 4}}};
    EXPECT_FALSE(geometry::warp(src.data(), SW, SH, flat).ok);
    geometry::Quad far{{{0, 0}, {1e30f, 0}, {1e30f, 1e30f}, {0, 1e30f}}};
    EXPECT_FALSE(geometry::warp(src.data(), SW, SH, far).ok);
    geometry::Quad nan{{{0, 0}, {NAN, 0}, {4, 4}, {0, 4}}};
    EXPECT_FALSE(geometry::warp(src.data(), SW, SH, nan).ok);
}

}  // namespace
