// Collection cost: the booted runtime alone, a live heap of nested blocks
// and strings, and the sweep of garbage between collections.
#include <benchmark/benchmark.h>

#include "boot/startup.h"
#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/externals.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"

using namespace kiv;

namespace {

void boot() { kiv::boot(BootLevel::values); }

// A block on the data stack holding `count` blocks of eight integers and a string.
Cell* live_heap(int64_t count) {
    stack::reset_all();
    Cell* root = stack::push(Cell{TYPE_NONE, 0, 0, 0});
    block::make_at(root, int32_t(count));
    for (int64_t i = 0; i < count; ++i) {
        Cell inner = *block::make_in(root, 9);
        for (uint32_t k = 0; k < 8; ++k) *block_alloc_tail(&inner) = Cell{TYPE_INTEGER, 0, k, 0};
        Cell* s = block_alloc_tail(&inner);
        *s = Cell{TYPE_NONE, 0, 0, 0};
        Cell* text = stack::push(Cell{TYPE_NONE, 0, 0, 0});
        string::make_at(text, 16);
        string::concatenate_literal(text, "some text here");
        *block::cells_at(&inner, 8) = *text;
        stack::pop(1);
    }
    return root;
}

void BM_CollectBootedRuntime(benchmark::State& state) {
    boot();
    stack::reset_all();
    collector::collect();
    for (auto _ : state) collector::collect();
    uint64_t nodes = 0;
    for (Off o = memory::record.first_node_frame; o; o = arena::ptr<memory::NodeFrame>(o)->next)
        nodes += arena::ptr<memory::NodeFrame>(o)->used;
    state.counters["live_nodes"] = double(nodes);
}
BENCHMARK(BM_CollectBootedRuntime);

void BM_CollectLiveBlocks(benchmark::State& state) {
    boot();
    live_heap(state.range(0));
    collector::collect();
    for (auto _ : state) collector::collect();
    state.SetItemsProcessed(state.iterations() * state.range(0) * 2);  // buffers marked
    stack::reset_all();
}
BENCHMARK(BM_CollectLiveBlocks)->Arg(1000)->Arg(10000)->Arg(100000);

void BM_CollectGarbage(benchmark::State& state) {
    boot();
    stack::reset_all();
    collector::collect();
    const int64_t count = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        for (int64_t i = 0; i < count; ++i) memory::alloc_cells(4);
        state.ResumeTiming();
        collector::collect();
    }
    state.SetItemsProcessed(state.iterations() * count);  // buffers swept
}
BENCHMARK(BM_CollectGarbage)->Arg(10000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
