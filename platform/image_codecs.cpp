// Format detection and the dispatch to each codec (see image.h).
#include <cstring>

#include "platform/image.h"

namespace kiv::os_image {

int32_t sniff(const uint8_t* p, size_t n) {
    if (n >= 4 && p[0] == 137 && p[1] == 'P' && p[2] == 'N' && p[3] == 'G') return FORMAT_PNG;
    if (n >= 3 && p[0] == 255 && p[1] == 216 && p[2] == 255) return FORMAT_JPEG;
    if (n >= 2 && p[0] == 'B' && p[1] == 'M') return FORMAT_BMP;
    if (n >= 6 && std::memcmp(p, "GIF8", 4) == 0 && (p[4] == '7' || p[4] == '9') && p[5] == 'a') return FORMAT_GIF;
    if (n >= 4 && ((p[0] == 'I' && p[1] == 'I' && p[2] == 42 && p[3] == 0) ||
                   (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 42)))
        return FORMAT_TIFF;
    return -1;
}

bool codec_available(int32_t format, std::string& why) {
    switch (format) {
        case FORMAT_PNG: return load_png_library(why);
        case FORMAT_JPEG: return load_jpeg_library(why);
        case FORMAT_BMP: return true;
        case FORMAT_GIF: return load_gif_library(why);
        case FORMAT_TIFF: return load_tiff_library(why);
        default: why = "unknown image format"; return false;
    }
}

std::unique_ptr<Bitmap> decode(const uint8_t* bytes, size_t length) {
    switch (sniff(bytes, length)) {
        case FORMAT_PNG: return decode_png(bytes, length);
        case FORMAT_JPEG: return decode_jpeg(bytes, length);
        case FORMAT_BMP: return decode_bmp(bytes, length);
        case FORMAT_GIF: return decode_gif(bytes, length);
        case FORMAT_TIFF: return decode_tiff(bytes, length);
        default: return nullptr;
    }
}

bool encode(const Bitmap& bitmap, int32_t format, std::vector<uint8_t>& out) {
    out.clear();
    if (bitmap.pixels.size() != bitmap.count()) return false;
    switch (format) {
        case FORMAT_PNG: return encode_png(bitmap, out);
        case FORMAT_JPEG: return encode_jpeg(bitmap, out);
        case FORMAT_BMP: return encode_bmp(bitmap, out);
        case FORMAT_GIF: return encode_gif(bitmap, out);
        case FORMAT_TIFF: return encode_tiff(bitmap, out);
        default: return false;
    }
}

}  // namespace kiv::os_image
