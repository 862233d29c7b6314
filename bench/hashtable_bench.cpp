// Hash-table look-ups per second: integer! values in a hash!, string! keys in
// a map! (case-insensitive, so every character is case-folded while hashing
// and comparing), node keys in an integer-keyed table and symbol interning of
// existing names. Tables of 1,000 to 1,000,000 keys; the looked-up keys are
// chosen at random among those present.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/series.h"

using namespace kiv;
namespace ht = kiv::hashtable;

namespace {

void fresh_memory() {
    memory::init();
    memory::init_frames();
}

Cell integer(int32_t v) {
    return Cell{TYPE_INTEGER, 0, uint32_t(v), 0};
}

Cell string_cell(const std::string& s) {
    Off node = memory::alloc_codepoints(uint32_t(s.size()), 1);
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(b->head_ptr(), s.data(), s.size());
    b->tail = b->head + uint32_t(s.size());
    return Cell{TYPE_STRING, 0, node, 0};
}

std::vector<uint32_t> random_picks(size_t n, size_t count) {
    std::mt19937 rng(7);
    std::vector<uint32_t> v(count);
    for (auto& x : v) x = uint32_t(rng() % n);
    return v;
}

void BM_HashFindInteger(benchmark::State& state) {
    fresh_memory();
    uint32_t n = uint32_t(state.range(0));
    Off block = memory::alloc_cells(n);
    std::mt19937 rng(3);
    std::vector<Cell> keys;
    for (uint32_t i = 0; i < n; ++i) {
        Cell c = integer(int32_t(rng()));
        keys.push_back(c);
        *series::alloc_tail_cell(buffer_of(block)) = c;
    }
    Off t = ht::init(n, block, ht::HASH, 0);
    auto picks = random_picks(n, 4096);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ht::find(t, &keys[picks[i++ & 4095]]));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_HashFindIntegerMissing(benchmark::State& state) {
    fresh_memory();
    uint32_t n = uint32_t(state.range(0));
    Off block = memory::alloc_cells(n);
    for (uint32_t i = 0; i < n; ++i) *series::alloc_tail_cell(buffer_of(block)) = integer(int32_t(2 * i));
    Off t = ht::init(n, block, ht::HASH, 0);
    uint32_t k = 1;
    for (auto _ : state) {
        Cell c = integer(int32_t(k));
        k += 2;
        benchmark::DoNotOptimize(ht::find(t, &c));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MapFindString(benchmark::State& state) {
    fresh_memory();
    uint32_t n = uint32_t(state.range(0));
    Off pairs = memory::alloc_cells(2 * n);
    std::vector<Cell> keys;
    for (uint32_t i = 0; i < n; ++i) {
        Cell k = string_cell("Key-" + std::to_string(i * 7919u));
        Cell upper = string_cell("KEY-" + std::to_string(i * 7919u));  // looked up without case
        keys.push_back(upper);
        *series::alloc_tail_cell(buffer_of(pairs)) = k;
        *series::alloc_tail_cell(buffer_of(pairs)) = integer(int32_t(i));
    }
    Off t = ht::init(n, pairs, ht::MAP, 0);
    auto picks = random_picks(n, 4096);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ht::find(t, &keys[picks[i++ & 4095]]));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_IntTableGet(benchmark::State& state) {
    fresh_memory();
    uint32_t n = uint32_t(state.range(0));
    Off t = ht::init(n, 0, ht::OWNERSHIP, 3);
    for (uint32_t i = 1; i <= n; ++i) ht::put_int(t, i * 16);
    auto picks = random_picks(n, 4096);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ht::get_int(t, (picks[i++ & 4095] + 1) * 16));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_SymbolLookup(benchmark::State& state) {
    fresh_memory();
    uint32_t n = uint32_t(state.range(0));
    Off symbols = memory::alloc_cells(n);
    Off t = ht::init(4000, symbols, ht::WORDS, 1);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < n; ++i) {
        names.push_back("word-" + std::to_string(i));
        ht::find_string(t, reinterpret_cast<const uint8_t*>(names.back().data()),
                        uint32_t(names.back().size()), false);
    }
    auto picks = random_picks(n, 4096);
    size_t i = 0;
    for (auto _ : state) {
        const std::string& s = names[picks[i++ & 4095]];
        benchmark::DoNotOptimize(
            ht::find_string(t, reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()), false));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_HashBuildInteger(benchmark::State& state) {
    uint32_t n = uint32_t(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        fresh_memory();
        Off block = memory::alloc_cells(n);
        std::mt19937 rng(5);
        for (uint32_t i = 0; i < n; ++i)
            *series::alloc_tail_cell(buffer_of(block)) = integer(int32_t(rng() % (n / 2 + 1)));
        state.ResumeTiming();
        Off t = ht::init(1, block, ht::HASH, 0);  // grows all the way; half the values repeat
        benchmark::DoNotOptimize(t);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_HashFindInteger)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_HashFindIntegerMissing)->Arg(100000);
BENCHMARK(BM_MapFindString)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_IntTableGet)->Arg(1000)->Arg(100000);
BENCHMARK(BM_SymbolLookup)->Arg(1000)->Arg(100000);
BENCHMARK(BM_HashBuildInteger)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
