// Codecs whose library bindings come in the next step.
#include "platform/image.h"

namespace kiv::os_image {
std::unique_ptr<Bitmap> decode_png(const uint8_t*, size_t) { return nullptr; }
std::unique_ptr<Bitmap> decode_jpeg(const uint8_t*, size_t) { return nullptr; }
std::unique_ptr<Bitmap> decode_gif(const uint8_t*, size_t) { return nullptr; }
std::unique_ptr<Bitmap> decode_tiff(const uint8_t*, size_t) { return nullptr; }
std::unique_ptr<Bitmap> decode_bmp(const uint8_t*, size_t) { return nullptr; }
bool encode_png(const Bitmap&, std::vector<uint8_t>&) { return false; }
bool encode_jpeg(const Bitmap&, std::vector<uint8_t>&) { return false; }
bool encode_gif(const Bitmap&, std::vector<uint8_t>&) { return false; }
bool encode_tiff(const Bitmap&, std::vector<uint8_t>&) { return false; }
bool encode_bmp(const Bitmap&, std::vector<uint8_t>&) { return false; }
}  // namespace kiv::os_image
