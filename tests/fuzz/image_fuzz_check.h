// The check shared by the image decoders' fuzz targets: besides the
// sanitizers (no read outside the input, no allocation from an unchecked
// size), a decoded bitmap has a size within the limits and exactly
// width x height pixels, and it encodes and decodes back unchanged through
// PNG.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/image.h"

namespace kiv::fuzz {

template <typename Decode>
int check_image_decoder(Decode decode, const uint8_t* data, size_t size) {
    auto bm = decode(data, size);
    if (!bm) return 0;
    if (!os_image::fits(bm->width, bm->height) || bm->pixels.size() != bm->count()) std::abort();
    if (bm->count() > 4096) return 0;  // keep each run quick
    std::vector<uint8_t> png;
    if (!os_image::encode_png(*bm, png)) std::abort();
    auto back = os_image::decode_png(png.data(), png.size());
    if (!back || back->pixels != bm->pixels) std::abort();
    return 0;
}

}  // namespace kiv::fuzz
