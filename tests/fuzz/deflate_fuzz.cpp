// libFuzzer target over the DEFLATE decoder in its three framings, and the
// encoder's round trip. The first byte chooses: 0 raw, 1 zlib, 2 gzip, 3 the
// encoder; the rest is the input.
//
// The kernel needs no runtime, so the target builds from its two sources
// (run from the repository root):
//
// clang-format off
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. tests/fuzz/deflate_fuzz.cpp runtime/deflate.cpp runtime/checksum.cpp -lz -o /tmp/deflate_fuzz
//   /tmp/deflate_fuzz -max_total_time=600 tests/fuzz/corpus/deflate_fuzz
// clang-format on
//
// Checks, besides the sanitizers: the sizing pass and the real run agree on
// the size; a capacity below it gives TOO_SMALL with the same size and
// leaves the bytes past the capacity alone; whatever the reference library
// inflates completely, ours inflates to the same bytes; the encoder's output
// inflates back to its input with both decoders.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/deflate.h"

using namespace kiv;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

using Codec = deflate::Result (*)(uint8_t*, uint32_t*, const uint8_t*, uint32_t);

// The reference inflate; true when it reached the stream's end within 1 MB
// having used all the input (framed streams) or not (raw).
bool reference(const uint8_t* in, size_t n, int window_bits, std::vector<uint8_t>* out) {
    z_stream s{};
    if (inflateInit2(&s, window_bits) != Z_OK) return false;
    out->resize(1 << 20);
    s.next_in = const_cast<Bytef*>(in);
    s.avail_in = uInt(n);
    s.next_out = out->data();
    s.avail_out = uInt(out->size());
    const int r = inflate(&s, Z_FINISH);
    const bool all_used = s.avail_in == 0;
    out->resize(s.total_out);
    inflateEnd(&s);
    return r == Z_STREAM_END && (window_bits < 0 || all_used);
}

void decoder(Codec codec, int window_bits, const uint8_t* in, uint32_t n) {
    uint32_t size = 0;
    const deflate::Result sizing = codec(nullptr, &size, in, n);
    std::vector<uint8_t> expected;
    const bool ref_ok = reference(in, n, window_bits, &expected);
    if (sizing != deflate::OK && sizing != deflate::TOO_SMALL) {
        check(!ref_ok);
        return;
    }
    if (size > (64u << 20)) return;
    std::vector<uint8_t> out(size + 16, 0xA5);
    uint32_t got = size;
    const deflate::Result r = codec(out.data(), &got, in, n);
    for (uint32_t i = size; i < size + 16; ++i) check(out[i] == 0xA5);
    if (r == deflate::OK) {
        check(got == size);
        if (ref_ok) check(expected.size() == got && std::memcmp(expected.data(), out.data(), got) == 0);
    } else {
        // Only the framing's check of the whole output can fail now.
        check(codec != deflate::decompress && !ref_ok);
    }
    if (size > 1 && codec != deflate::gunzip) {
        uint32_t half = size / 2;
        std::vector<uint8_t> small(half + 8, 0x5A);
        check(codec(small.data(), &half, in, n) == deflate::TOO_SMALL && half == size);
        for (uint32_t i = size / 2; i < size / 2 + 8; ++i) check(small[i] == 0x5A);
    }
}

void encoder(const uint8_t* in, uint32_t n) {
    static const Codec codecs[3] = {deflate::compress, deflate::zlib_compress, deflate::gzip_compress};
    static const Codec back[3] = {deflate::decompress, deflate::zlib_decompress, deflate::gunzip};
    static const int bits[3] = {-15, 15, 31};
    for (int k = 0; k < 3; ++k) {
        // As compress does: retry with the size reported (a framing first
        // asks for room for its overhead, then for the full size).
        uint32_t size = 0;
        std::vector<uint8_t> z;
        deflate::Result r = codecs[k](nullptr, &size, in, n);
        for (int attempt = 0; r != deflate::OK && attempt < 2; ++attempt) {
            z.resize(size);
            r = codecs[k](z.data(), &size, in, n);
        }
        check(r == deflate::OK && size <= z.size());
        z.resize(size);
        // A gzip member is passed through unchanged and need not be valid.
        if (k == 2 && n > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 8) continue;
        std::vector<uint8_t> ref;
        check(reference(z.data(), z.size(), bits[k], &ref) && ref.size() == n &&
              std::memcmp(ref.data(), in, n) == 0);
        uint32_t m = n;
        std::vector<uint8_t> mine(n + 1);
        check(back[k](mine.data(), &m, z.data(), size) == deflate::OK && m == n);
        check(std::memcmp(mine.data(), in, n) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1 << 20)) return 0;
    const uint8_t mode = data[0] % 4;
    const uint8_t* in = data + 1;
    const uint32_t n = uint32_t(size - 1);
    switch (mode) {
        case 0:
            decoder(deflate::decompress, -15, in, n);
            break;
        case 1:
            decoder(deflate::zlib_decompress, 15, in, n);
            break;
        case 2:
            decoder(deflate::gunzip, 31, in, n);
            break;
        default:
            encoder(in, n);
    }
    return 0;
}
