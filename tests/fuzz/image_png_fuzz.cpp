// libFuzzer target over the PNG decoder of the image layer
// (platform/image.h: os_image::decode_png).
//
// Built by CMake; `make test` replays the kept inputs of
// tests/fuzz/corpus/image_png_fuzz. To fuzz, build with clang and libFuzzer
// (`make fuzz`), then run from the repository root:
//   build-fuzz/image_png_fuzz -max_len=4096 -rss_limit_mb=4096 tests/fuzz/corpus/image_png_fuzz
//
// Checks: see image_fuzz_check.h.
#include "tests/fuzz/image_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return kiv::fuzz::check_image_decoder(kiv::os_image::decode_png, data, size);
}
