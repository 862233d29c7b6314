// libFuzzer target over the PNG decoder of the image layer
// (platform/image.h: os_image::decode_png).
//
// Built by CMake; `make test` replays the kept inputs of
// tests/fuzz/corpus/image_png_fuzz. To fuzz, build with clang and libFuzzer
// (`make fuzz`), then run from the repository root:
//   build-fuzz/image_png_fuzz -max_len=4096 -rss_limit_mb=4096 tests/fuzz/corpus/image_png_fuzz
//
// Checks, besides the sanitizers (no read outside the input, no allocation
// from an unchecked size): a decoded bitmap has a size within the limits and
// exactly width x height pixels, and it encodes and decodes back unchanged
// through PNG.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/image.h"

using namespace kiv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto bm = os_image::decode_png(data, size);
    if (!bm) return 0;
    if (!os_image::fits(bm->width, bm->height) || bm->pixels.size() != bm->count()) std::abort();
    if (bm->count() > 4096) return 0;  // keep each run quick
    std::vector<uint8_t> png;
    if (!os_image::encode_png(*bm, png)) std::abort();
    auto back = os_image::decode_png(png.data(), png.size());
    if (!back || back->pixels != bm->pixels) std::abort();
    return 0;
}
