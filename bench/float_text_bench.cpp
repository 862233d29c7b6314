// Decimal text <-> double: the runtime's conversions against the C++
// library's std::to_chars / std::from_chars (and snprintf for "%.16g").
//
// Each iteration converts a set of 4096 values; the rate is per value.
// "Random" draws every finite bit pattern (mostly 16-17 digit texts),
// "Short" draws prices with two decimals (short texts, the common case in
// scripts), "Long" reads 25-digit texts, which need the 128-bit or exact path.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "runtime/float_text.h"

using namespace kiv;

namespace {

constexpr int SET = 4096;

std::vector<double> random_doubles() {
    std::mt19937_64 rng(1);
    std::vector<double> v;
    while (v.size() < SET) {
        uint64_t b = rng();
        if ((b & 0x7FF0000000000000ull) == 0x7FF0000000000000ull) continue;
        v.push_back(std::bit_cast<double>(b));
    }
    return v;
}

std::vector<double> short_doubles() {
    std::mt19937_64 rng(2);
    std::vector<double> v;
    for (int i = 0; i < SET; ++i) v.push_back(static_cast<double>(rng() % 1000000) / 100.0);
    return v;
}

const std::vector<double>& values(int which) {
    static const std::vector<double> r = random_doubles();
    static const std::vector<double> s = short_doubles();
    return which == 0 ? r : s;
}

// Texts of the values: the shortest form, or 25 significant digits.
std::vector<std::string> texts(int which, bool long_form) {
    std::vector<std::string> out;
    char buf[64];
    for (double d : values(which)) {
        if (long_form) {
            int n = std::snprintf(buf, sizeof buf, "%.24e", d);
            out.emplace_back(buf, static_cast<size_t>(n));
        } else {
            auto r = std::to_chars(buf, buf + sizeof buf, d);
            out.emplace_back(buf, r.ptr);
        }
    }
    return out;
}

void BM_FormatShortest_Kiv(benchmark::State& state) {
    const auto& v = values(static_cast<int>(state.range(0)));
    char buf[float_text::BUFFER_SIZE];
    for (auto _ : state) {
        for (double d : v) {
            size_t n = float_text::form_shortest_r(d, 0, true, buf);
            benchmark::DoNotOptimize(n);
            benchmark::DoNotOptimize(buf);
        }
    }
    state.SetItemsProcessed(state.iterations() * SET);
}

void BM_FormatShortest_ToChars(benchmark::State& state) {
    const auto& v = values(static_cast<int>(state.range(0)));
    char buf[64];
    for (auto _ : state) {
        for (double d : v) {
            auto r = std::to_chars(buf, buf + sizeof buf, d);
            benchmark::DoNotOptimize(r.ptr);
            benchmark::DoNotOptimize(buf);
        }
    }
    state.SetItemsProcessed(state.iterations() * SET);
}

void BM_Digits_Kiv(benchmark::State& state) {
    const auto& v = values(static_cast<int>(state.range(0)));
    float_text::Digits d;
    for (auto _ : state) {
        for (double x : v) {
            float_text::dtoa_r(x, 0, true, d);
            benchmark::DoNotOptimize(d);
        }
    }
    state.SetItemsProcessed(state.iterations() * SET);
}

void BM_FormatG16_Kiv(benchmark::State& state) {
    const auto& v = values(static_cast<int>(state.range(0)));
    char buf[float_text::FORMAT_G_BUFFER];
    for (auto _ : state) {
        for (double d : v) {
            size_t n = float_text::format_g(d, 16, buf);
            benchmark::DoNotOptimize(n);
            benchmark::DoNotOptimize(buf);
        }
    }
    state.SetItemsProcessed(state.iterations() * SET);
}

void BM_FormatG16_ToChars(benchmark::State& state) {
    const auto& v = values(static_cast<int>(state.range(0)));
    char buf[64];
    for (auto _ : state) {
        for (double d : v) {
            auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 16);
            benchmark::DoNotOptimize(r.ptr);
            benchmark::DoNotOptimize(buf);
        }
    }
    state.SetItemsProcessed(state.iterations() * SET);
}

void BM_FormatG16_Snprintf(benchmark::State& state) {
    const auto& v = values(static_cast<int>(state.range(0)));
    char buf[64];
    for (auto _ : state) {
        for (double d : v) {
            int n = std::snprintf(buf, sizeof buf, "%.16g", d);
            benchmark::DoNotOptimize(n);
            benchmark::DoNotOptimize(buf);
        }
    }
    state.SetItemsProcessed(state.iterations() * SET);
}

void BM_Parse_Kiv(benchmark::State& state) {
    auto t = texts(static_cast<int>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        for (const std::string& s : t) {
            double d = float_text::from_text(s.data(), s.data() + s.size());
            benchmark::DoNotOptimize(d);
        }
    }
    state.SetItemsProcessed(state.iterations() * SET);
}

void BM_Parse_FromChars(benchmark::State& state) {
    auto t = texts(static_cast<int>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        for (const std::string& s : t) {
            double d;
            auto r = std::from_chars(s.data(), s.data() + s.size(), d);
            benchmark::DoNotOptimize(r.ptr);
            benchmark::DoNotOptimize(d);
        }
    }
    state.SetItemsProcessed(state.iterations() * SET);
}

// Argument 0: 0 = Random, 1 = Short. Parse argument 1: 0 = shortest text, 1 = Long.
BENCHMARK(BM_FormatShortest_Kiv)->ArgName("short")->Arg(0)->Arg(1);
BENCHMARK(BM_FormatShortest_ToChars)->ArgName("short")->Arg(0)->Arg(1);
BENCHMARK(BM_Digits_Kiv)->ArgName("short")->Arg(0)->Arg(1);
BENCHMARK(BM_FormatG16_Kiv)->ArgName("short")->Arg(0)->Arg(1);
BENCHMARK(BM_FormatG16_ToChars)->ArgName("short")->Arg(0)->Arg(1);
BENCHMARK(BM_FormatG16_Snprintf)->ArgName("short")->Arg(0)->Arg(1);
BENCHMARK(BM_Parse_Kiv)->ArgNames({"short", "long"})->Args({0, 0})->Args({1, 0})->Args({0, 1});
BENCHMARK(BM_Parse_FromChars)->ArgNames({"short", "long"})->Args({0, 0})->Args({1, 0})->Args({0, 1});

}  // namespace

BENCHMARK_MAIN();
