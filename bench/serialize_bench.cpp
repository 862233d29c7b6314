// Serialization save and load of a large nested block, in both layouts.
// The same data in Python's pickle: bench/serialize.py (run it beside this
// to compare; it prints the same figures per operation).
//
// The block holds 100,000 records [integer "text" float word [integer
// integer] float], about 800,000 values; the rate is in records per second.
#include <benchmark/benchmark.h>

#include <string>

#include "library/serialize.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "evaluator/lexer.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"

using namespace kiv;

namespace {

constexpr int RECORDS = 100000;

// The data block, kept on the data stack for the whole run.
Cell* data() {
    static Cell* block = [] {
        kiv::boot(BootLevel::language);
        std::string text = "[";
        for (int i = 0; i < RECORDS; ++i)
            text += "[" + std::to_string(i * 7) + " \"name " + std::to_string(i) + "\" " + std::to_string(i) +
                    ".25 field [" + std::to_string(i % 100) + " -3] 1.5]\n";
        text += "]";
        Cell* s = stack::push(none::cell());
        string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), s,
                     string::ENC_UTF8);
        Cell* out = stack::push(none::cell());
        uint32_t used = 0;
        lexer::load(out, s, -1, lexer::Options{}, &used);
        return stack::push(*buffer_of(out->w2)->head_cell());
    }();
    return block;
}

void save(benchmark::State& state, bool fixed) {
    Cell* v = data();
    Cell* out = stack::push(none::cell());
    for (auto _ : state) {
        if (fixed) {
            kivbin::encode(v, out, true);
        } else {
            kivbin::encode_cp(v, out, true);
        }
    }
    state.counters["bytes"] = double(buffer_of(out->w2)->byte_count());
    state.SetItemsProcessed(int64_t(state.iterations()) * RECORDS);
    stack::pop(1);
}

void load(benchmark::State& state, bool fixed) {
    Cell* v = data();
    Cell* bin = stack::push(none::cell());
    if (fixed) {
        kivbin::encode(v, bin, true);
    } else {
        kivbin::encode_cp(v, bin, true);
    }
    Cell* target = stack::push(none::cell());
    for (auto _ : state) {
        block::make_at(target, 1);
        const SeriesBuffer* b = buffer_of(bin->w2);
        kivbin::decode(b->head_ptr(), b->byte_count(), target, kivbin::LOAD);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * RECORDS);
    stack::pop(2);
}

void BM_SaveCompact(benchmark::State& s) {
    save(s, false);
}
void BM_LoadCompact(benchmark::State& s) {
    load(s, false);
}
void BM_SaveFixed(benchmark::State& s) {
    save(s, true);
}
void BM_LoadFixed(benchmark::State& s) {
    load(s, true);
}

}  // namespace

BENCHMARK(BM_SaveCompact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadCompact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveFixed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFixed)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
