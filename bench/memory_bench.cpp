// Allocation hot paths: bump allocation of small series, node take/release,
// and tail growth of blocks and byte series.
#include <benchmark/benchmark.h>

#include <vector>

#include "runtime/memory.h"

using namespace kiv;

namespace {

// Returns everything and starts with one node frame and one series frame.
void restart() {
    memory::init();
    memory::init_frames();
}

// Empties the series frames as a collection would, keeping their pages.
void empty_frames() {
    for (Off o = memory::record.first_series_frame; o; o = arena::ptr<memory::SeriesFrame>(o)->next) {
        auto* f = arena::ptr<memory::SeriesFrame>(o);
        f->first_free = f->data_start();
    }
    memory::record.current_series_frame = memory::record.first_series_frame;
}

void BM_AllocSmallSeries(benchmark::State& state) {
    restart();
    const uint32_t cells = static_cast<uint32_t>(state.range(0));
    std::vector<Off> nodes;
    nodes.reserve(20000);
    for (auto _ : state) {
        nodes.push_back(memory::alloc_cells(cells));
        if (nodes.size() == 20000) {
            state.PauseTiming();
            for (Off n : nodes) memory::free_node(n);
            nodes.clear();
            empty_frames();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AllocSmallSeries)->Arg(1)->Arg(8)->Arg(64);

void BM_NodeTakeAndRelease(benchmark::State& state) {
    restart();
    Off nodes[64];
    for (auto _ : state) {
        for (Off& n : nodes) n = memory::alloc_node();
        for (Off n : nodes) memory::free_node(n);
    }
    state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_NodeTakeAndRelease);

void BM_BlockAppend(benchmark::State& state) {
    restart();
    const uint32_t count = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        empty_frames();
        Off n = memory::alloc_cells(1);
        Cell block{TYPE_BLOCK, 0, n, 0};
        state.ResumeTiming();
        for (uint32_t i = 0; i < count; ++i) block_alloc_tail(&block)->w1 = i;
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_BlockAppend)->Arg(1000)->Arg(100000);

void BM_ByteAppend(benchmark::State& state) {
    restart();
    const uint32_t count = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        empty_frames();
        Off n = memory::alloc_bytes(0);
        state.ResumeTiming();
        for (uint32_t i = 0; i < count; ++i) series::append_byte(buffer_of(n), uint8_t(i));
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ByteAppend)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
