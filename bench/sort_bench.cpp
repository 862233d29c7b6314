// Record sorting against the standard library on 16-byte records (a block of
// cells sorted by an integer! payload) and on 1-byte records (a Latin-1
// string). The Kiv sorts call their comparator through a function pointer,
// as the sort actions do; "std ... (callback)" runs the standard sort through
// the same pointer, "std ... (inline)" with a comparator the compiler inlines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/sort.h"

using namespace kiv;

namespace {

struct Rec {
    uint32_t header, w1, w2, w3;  // a cell: the key in word 2
};

int32_t by_key(const void* a, const void* b, int32_t, intptr_t) {
    uint32_t x, y;
    std::memcpy(&x, static_cast<const uint8_t*>(a) + 8, 4);
    std::memcpy(&y, static_cast<const uint8_t*>(b) + 8, 4);
    return int32_t(x) < int32_t(y) ? -1 : int32_t(x) > int32_t(y);
}
int32_t by_byte(const void* a, const void* b, int32_t, intptr_t) {
    return *static_cast<const uint8_t*>(a) - *static_cast<const uint8_t*>(b);
}

enum Input { RANDOM = 0, FEW_KEYS = 1, SORTED = 2, REVERSED = 3 };

std::vector<Rec> make(size_t n, int input) {
    std::mt19937 rng(42);
    std::vector<Rec> v(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t k = input == RANDOM     ? rng()
                     : input == FEW_KEYS ? rng() % 16
                     : input == SORTED   ? uint32_t(i)
                                         : uint32_t(n - i);
        v[i] = Rec{11, 0, k & 0x7FFFFFFF, uint32_t(i)};
    }
    return v;
}

sort::Compare volatile comparator = by_key;  // keep the std sorts from seeing through it

template <class Sort>
void run(benchmark::State& state, Sort&& sorter) {
    auto input = make(size_t(state.range(0)), int(state.range(1)));
    std::vector<Rec> v;
    for (auto _ : state) {
        state.PauseTiming();
        v = input;
        state.ResumeTiming();
        sorter(v);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_KivMergeSort(benchmark::State& state) {
    run(state, [](std::vector<Rec>& v) { sort::merge_sort(v.data(), uint32_t(v.size()), 16, 7, 0, by_key); });
}
void BM_StdStableSortCallback(benchmark::State& state) {
    run(state, [](std::vector<Rec>& v) {
        sort::Compare c = comparator;
        std::stable_sort(v.begin(), v.end(), [c](const Rec& a, const Rec& b) { return c(&a, &b, 7, 0) < 0; });
    });
}
void BM_StdStableSortInline(benchmark::State& state) {
    run(state, [](std::vector<Rec>& v) {
        std::stable_sort(v.begin(), v.end(),
                         [](const Rec& a, const Rec& b) { return int32_t(a.w2) < int32_t(b.w2); });
    });
}
void BM_KivQuickSort(benchmark::State& state) {
    run(state, [](std::vector<Rec>& v) { sort::quick_sort(v.data(), uint32_t(v.size()), 16, 7, 0, by_key); });
}
void BM_StdSortCallback(benchmark::State& state) {
    run(state, [](std::vector<Rec>& v) {
        sort::Compare c = comparator;
        std::sort(v.begin(), v.end(), [c](const Rec& a, const Rec& b) { return c(&a, &b, 7, 0) < 0; });
    });
}

void Inputs(benchmark::internal::Benchmark* b) {
    for (int64_t n : {1000, 100000, 1000000}) b->Args({n, RANDOM});
    b->Args({1000000, FEW_KEYS});
    b->Args({1000000, SORTED});
    b->Args({1000000, REVERSED});
}
BENCHMARK(BM_KivMergeSort)->Apply(Inputs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdStableSortCallback)->Apply(Inputs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdStableSortInline)->Apply(Inputs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KivQuickSort)->Apply(Inputs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdSortCallback)->Apply(Inputs)->Unit(benchmark::kMicrosecond);

// 1-byte records: characters of a string.
void BM_KivMergeSortBytes(benchmark::State& state) {
    std::mt19937 rng(1);
    std::vector<uint8_t> input(size_t(state.range(0)));
    for (auto& c : input) c = uint8_t(rng());
    std::vector<uint8_t> v;
    for (auto _ : state) {
        state.PauseTiming();
        v = input;
        state.ResumeTiming();
        sort::merge_sort(v.data(), uint32_t(v.size()), 1, 7, 0, by_byte);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
void BM_StdStableSortBytesCallback(benchmark::State& state) {
    std::mt19937 rng(1);
    std::vector<uint8_t> input(size_t(state.range(0)));
    for (auto& c : input) c = uint8_t(rng());
    std::vector<uint8_t> v;
    sort::Compare volatile byte_cmp = by_byte;
    for (auto _ : state) {
        state.PauseTiming();
        v = input;
        state.ResumeTiming();
        sort::Compare c = byte_cmp;
        std::stable_sort(v.begin(), v.end(),
                         [c](const uint8_t& a, const uint8_t& b) { return c(&a, &b, 7, 0) < 0; });
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_KivMergeSortBytes)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdStableSortBytesCallback)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
