// Checksums and digests over 100 MB: the kernels behind the `checksum`
// native beside zlib's CRC-32 and Adler-32 (the reference points), so a
// slowdown of ours shows up next to a fixed yardstick.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "runtime/checksum.h"
#include "runtime/digest.h"

namespace {

constexpr size_t SIZE = 100u << 20;

const std::vector<uint8_t>& data() {
    static std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(SIZE);
        uint32_t x = 2463534242u;
        for (auto& v : b) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            v = uint8_t(x);
        }
        return b;
    }();
    return bytes;
}

template <class F>
void run(benchmark::State& state, F f) {
    const auto& d = data();
    for (auto _ : state) benchmark::DoNotOptimize(f(d.data(), d.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SIZE));
}

void BM_Crc32(benchmark::State& s) {
    run(s, [](const uint8_t* p, size_t n) { return kiv::checksum::crc32(kiv::checksum::CRC32_INIT, p, n); });
}
void BM_ZlibCrc32(benchmark::State& s) {
    run(s, [](const uint8_t* p, size_t n) { return crc32(0, p, uInt(n)); });
}
void BM_Adler32(benchmark::State& s) {
    run(s, [](const uint8_t* p, size_t n) { return kiv::checksum::adler32(kiv::checksum::ADLER32_INIT, p, n); });
}
void BM_ZlibAdler32(benchmark::State& s) {
    run(s, [](const uint8_t* p, size_t n) { return adler32(1, p, uInt(n)); });
}
void BM_Tcp(benchmark::State& s) {
    run(s, [](const uint8_t* p, size_t n) { return kiv::checksum::tcp(p, n); });
}
void BM_Sha256(benchmark::State& s) {
    run(s, [](const uint8_t* p, size_t n) {
        uint8_t out[kiv::digest::MAX_SIZE];
        return kiv::digest::compute(kiv::digest::SHA256, p, n, out);
    });
}
void BM_Md5(benchmark::State& s) {
    run(s, [](const uint8_t* p, size_t n) {
        uint8_t out[kiv::digest::MAX_SIZE];
        return kiv::digest::compute(kiv::digest::MD5, p, n, out);
    });
}

}  // namespace

BENCHMARK(BM_Crc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Adler32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibAdler32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tcp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
