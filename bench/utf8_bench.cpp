// UTF-8 throughput: counting, the lexer's decoder, loading into string
// buffers and encoding back. Bytes processed are input bytes (UTF-8 side).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/memory.h"
#include "runtime/unicode.h"

using namespace kiv;
namespace uc = kiv::unicode;

namespace {

constexpr size_t SIZE = 1 << 20;

// Text of about SIZE bytes: `kind` 0 ASCII prose, 1 ASCII with CR LF lines,
// 2 Cyrillic and ASCII mixed, 3 CJK, 4 ASCII with an emoji every 64 bytes.
std::string sample(int kind) {
    const char* pieces[] = {
        "The quick brown fox jumps over the lazy dog; 0123456789. ",
        "line of ASCII text with a Windows line break at the end\r\n",
        "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, world! \xD0\xBC\xD0\xB8\xD1\x80 ",
        "\xE6\x96\x87\xE5\xAD\x97\xE5\x88\x97\xE3\x81\xAE\xE5\xA4\x89\xE6\x8F\x9B",
        "plain ASCII words, then a face \xF0\x9F\x98\x80 and more plain words.. ",
    };
    std::string s;
    while (s.size() < SIZE) s += pieces[kind];
    return s;
}

const uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

void Count(benchmark::State& state) {
    std::string s = sample(int(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(uc::count_utf8_chars(bytes(s), bytes(s) + s.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}
BENCHMARK(Count)->Arg(0)->Arg(2)->Arg(3)->Arg(4);

// The lexer's use: one character at a time, no end check (NUL-terminated).
void FastDecodeLoop(benchmark::State& state) {
    std::string s = sample(int(state.range(0)));
    for (auto _ : state) {
        const uint8_t* p = bytes(s);
        const uint8_t* end = p + s.size();
        uint32_t sum = 0;
        while (p < end) {
            int32_t cp;
            p = uc::fast_decode_utf8_char(p, &cp);
            sum += uint32_t(cp);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}
BENCHMARK(FastDecodeLoop)->Arg(0)->Arg(2)->Arg(3);

// Loads into one target string, so that no iteration allocates.
void Load(benchmark::State& state) {
    memory::init();
    memory::init_frames();
    std::string s = sample(int(state.range(0)));
    bool cr = state.range(1) != 0;
    Off target = memory::alloc_codepoints(uint32_t(s.size()), 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(uc::load_utf8(bytes(s), uint32_t(s.size()), target, nullptr, cr));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}
BENCHMARK(Load)->Args({0, 0})->Args({1, 1})->Args({2, 0})->Args({3, 0})->Args({4, 0});

// New string each time (the allocation included); memory is reset when it
// has grown large.
void LoadNew(benchmark::State& state) {
    memory::init();
    memory::init_frames();
    std::string s = sample(int(state.range(0)));
    int n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(uc::load_utf8_new(bytes(s), uint32_t(s.size())));
        if (++n == 64) {
            state.PauseTiming();
            memory::init();
            memory::init_frames();
            n = 0;
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}
BENCHMARK(LoadNew)->Arg(0)->Arg(2);

// String to UTF-8 through the conversion cache (output bytes counted).
void ToUtf8(benchmark::State& state) {
    memory::init();
    memory::init_frames();
    std::string s = sample(int(state.range(0)));
    Cell str{TYPE_STRING, 0, uc::load_utf8_new(bytes(s), uint32_t(s.size())), 0};
    for (auto _ : state) {
        int32_t len = -1;
        benchmark::DoNotOptimize(uc::to_utf8(&str, &len));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}
BENCHMARK(ToUtf8)->Arg(0)->Arg(2)->Arg(3);

}  // namespace

BENCHMARK_MAIN();
