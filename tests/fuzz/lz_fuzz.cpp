// libFuzzer target over the LZ codec. The first byte chooses: even, the
// decoder on the rest; odd, the encoder's round trip of the rest.
//
// The kernel needs no runtime (run from the repository root):
//
// clang-format off
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. tests/fuzz/lz_fuzz.cpp runtime/lz.cpp -o /tmp/lz_fuzz
//   /tmp/lz_fuzz -max_total_time=600 tests/fuzz/corpus/lz_fuzz
// clang-format on
//
// Checks, besides the sanitizers: a stream the decoder accepts gives exactly
// its declared size, and the decoder fails cleanly with a smaller bound; the
// encoder's output decodes back to its input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/lz.h"

using namespace kiv;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 20)) return 0;
    const uint8_t* in = data + 1;
    const size_t n = size - 1;
    std::vector<uint8_t> out;
    if (data[0] % 2 == 0) {
        if (!lz::decompress(in, n, &out, 16 << 20)) {
            check(out.empty());
            return 0;
        }
        uint32_t declared;
        std::memcpy(&declared, in + 4, 4);
        check(out.size() == declared);
        if (declared > 0) check(!lz::decompress(in, n, &out, declared - 1) && out.empty());
        return 0;
    }
    const std::vector<uint8_t> z = lz::compress(in, n);
    if (n < lz::MIN_INPUT) {
        check(z.empty());
        return 0;
    }
    check(lz::decompress(z.data(), z.size(), &out, n) && out.size() == n &&
          std::memcmp(out.data(), in, n) == 0);
    return 0;
}
