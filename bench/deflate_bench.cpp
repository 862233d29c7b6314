// The DEFLATE codec against the reference library on the same data.
//
// Inflate: a 100 MB text-like input compressed once by the reference at
// level 6 (dynamic blocks), then inflated by each decoder; the rate is in
// bytes of output. Deflate: 16 MB of the same text encoded by our encoder
// (one fixed-code block, one probe of four slots per position) and by the
// reference at level 1, its fastest real compression. The sizes reached are
// reported as counters (ratio = output / input).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "runtime/deflate.h"

using namespace kiv;

namespace {

// Words drawn with a skewed distribution, with spaces and line breaks:
// roughly the redundancy of source text.
std::vector<uint8_t> text(size_t n) {
    static const char* const words[] = {"value", "block",  "series", "the",    "of",  "word", "context",
                                        "func",  "return", "if",     "either", "[",   "]",    "print",
                                        "a",     "to",     "string", "1",      "200", "x:",   "none"};
    std::mt19937 rng(11);
    std::vector<uint8_t> v;
    v.reserve(n + 16);
    while (v.size() < n) {
        const char* w = words[std::min(rng() % 32, rng() % 21)];
        v.insert(v.end(), w, w + std::char_traits<char>::length(w));
        v.push_back(rng() % 9 == 0 ? '\n' : ' ');
    }
    v.resize(n);
    return v;
}

const std::vector<uint8_t>& big_input() {
    static const std::vector<uint8_t> v = text(100u << 20);
    return v;
}

const std::vector<uint8_t>& big_stream() {
    static const std::vector<uint8_t> z = [] {
        const auto& in = big_input();
        z_stream s{};
        deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        std::vector<uint8_t> out(deflateBound(&s, uLong(in.size())));
        s.next_in = const_cast<Bytef*>(in.data());
        s.avail_in = uInt(in.size());
        s.next_out = out.data();
        s.avail_out = uInt(out.size());
        ::deflate(&s, Z_FINISH);
        out.resize(s.total_out);
        deflateEnd(&s);
        return out;
    }();
    return z;
}

void BM_InflateOurs(benchmark::State& state) {
    const auto& z = big_stream();
    std::vector<uint8_t> out(big_input().size());
    for (auto _ : state) {
        uint32_t size = uint32_t(out.size());
        if (deflate::decompress(out.data(), &size, z.data(), uint32_t(z.size())) != deflate::OK)
            state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}

void BM_InflateReference(benchmark::State& state) {
    const auto& z = big_stream();
    std::vector<uint8_t> out(big_input().size());
    for (auto _ : state) {
        z_stream s{};
        inflateInit2(&s, -15);
        s.next_in = const_cast<Bytef*>(z.data());
        s.avail_in = uInt(z.size());
        s.next_out = out.data();
        s.avail_out = uInt(out.size());
        if (inflate(&s, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate failed");
        inflateEnd(&s);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}

constexpr size_t ENCODE_SIZE = 16u << 20;

void BM_DeflateOurs(benchmark::State& state) {
    const std::vector<uint8_t> in(big_input().begin(), big_input().begin() + ENCODE_SIZE);
    std::vector<uint8_t> out(in.size() * 9 / 8 + 64);
    uint32_t size = 0;
    for (auto _ : state) {
        size = uint32_t(out.size());
        deflate::compress(out.data(), &size, in.data(), uint32_t(in.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.counters["ratio"] = double(size) / double(in.size());
}

void BM_DeflateReferenceLevel1(benchmark::State& state) {
    const std::vector<uint8_t> in(big_input().begin(), big_input().begin() + ENCODE_SIZE);
    std::vector<uint8_t> out(compressBound(uLong(in.size())));
    uLongf size = 0;
    for (auto _ : state) {
        size = out.size();
        compress2(out.data(), &size, in.data(), uLong(in.size()), 1);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.counters["ratio"] = double(size) / double(in.size());
}

}  // namespace

BENCHMARK(BM_InflateOurs)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_InflateReference)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DeflateOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateReferenceLevel1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
