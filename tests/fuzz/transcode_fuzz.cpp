// libFuzzer target over the lexer's full load: text to values, with every
// loader, container, path, point, date and binary decoder.
//
// Built by CMake; `make test` replays the kept inputs of
// tests/fuzz/corpus/transcode_fuzz. To fuzz, build with clang and libFuzzer
// (`make fuzz`), then run from the repository root:
//   build-fuzz/transcode_fuzz -max_len=512 tests/fuzz/corpus/transcode_fuzz
// and keep new inputs worth keeping there (libFuzzer -merge=1).
//
// Checks, besides the sanitizers: every load ends in a value or a syntax
// error (never another error, a crash or a hang); no run stays live
// afterwards; the scan and prescan modes never raise; a text that the
// scan-only walker of tests/support/lexer_walker.h rejects is rejected by the load
// too; a load that succeeds gives the same number of top-level values as the
// walker finds. Collection is switched on, so runs are marked by the
// collector whenever it runs. A traced load with a callback that refuses
// every error (moving the input on or not), and some prescans and loads,
// must end too, with no run left live.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "boot/startup.h"
#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/fixed_words.h"
#include "datatypes/lexer_values.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/unset.h"
#include "evaluator/lexer.h"
#include "runtime/arena.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "tests/support/lexer_walker.h"

using namespace kiv;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void boot() {
    kiv::boot(BootLevel::language);
    memory::collection_enabled = true;
}

// The fake callback's choices, derived from the input.
uint32_t seed = 0;
uint32_t calls = 0;

Unwind refusing_callback(const Cell*, Cell* args, bool* go_on) {
    ++calls;
    const uint32_t event = args[0].w2;  // the symbol of the event word
    const uint32_t r = (seed >> (calls % 29)) ^ calls;
    if (event == fixed::words[fixed::W_ERROR].w2) {
        if (r & 1) args[1].w1 += 1 + (r >> 1) % 3;  // move on (or not)
        *go_on = false;
        return UNWIND_NONE;
    }
    if (event == fixed::words[fixed::W_PRESCAN].w2 || event == fixed::words[fixed::W_LOAD].w2 ||
        event == fixed::words[fixed::W_OPEN].w2) {
        *go_on = (r % 7) != 0;
    }
    return UNWIND_NONE;
}

Cell callback;

// Top-level values the walker finds, or -1 when it reports an error.
int walk(const uint8_t* data, size_t size) {
    lexer::Walker w(data, data + size);
    int depth = 0, values = 0;
    for (;;) {
        const lexer::Item& it = w.next();
        switch (it.event) {
            case lexer::Event::error:
                return -1;
            case lexer::Event::end:
                return values;
            case lexer::Event::open:
                ++depth;
                break;
            case lexer::Event::close:
                if (--depth == 0) ++values;
                break;
            case lexer::Event::value:
                if (depth == 0) ++values;
                break;
        }
    }
}

// Loads the bytes as a binary!; returns the number of top-level values, or
// -1 after a syntax error.
int load(const uint8_t* data, size_t size, const lexer::Options& o, int32_t* result) {
    Cell* in = stack::push(unset::cell());
    lexer::values::make_binary(in, uint32_t(size));
    SeriesBuffer* b = buffer_of(in->w2);
    if (size) std::memcpy(b->head_ptr(), data, size);
    b->tail = b->head + uint32_t(size);
    Cell* out = stack::push(unset::cell());
    int values = -1;
    try {
        uint32_t consumed = 0;
        *result = lexer::load(out, in, -1, o, &consumed);
        check(consumed <= size);
        if (o.load && o.scan && !o.one && out->type() == TYPE_BLOCK) {
            values = int(series::count(out->w2));
        } else if (o.load && o.scan && !o.one) {
            check(o.callback && out->type() == TYPE_NONE);  // an error at the end, refused
            values = 0;
        } else {
            values = 0;
        }
    } catch (const RaisedError& e) {
        // Only syntax errors; never a scan or prescan.
        check(e.category == "syntax" && o.load && o.scan && !o.callback);
    }
    check(lexer::live_runs() == 0);
    stack::reset_all();
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool booted = false;
    if (!booted) {
        boot();
        booted = true;
        Cell spec;
        block::make_at(&spec, 1);
        callback = Cell{TYPE_FUNCTION, 0, root::keep_copy(spec)->w2, 0};
        lexer::invoke_callback = &refusing_callback;
    }
    if (size > 4096) return 0;
    int32_t r = 0;
    const int loaded = load(data, size, lexer::Options{}, &r);
    // The walker is the structure of the load: what it rejects, the load
    // rejects; what both accept has the same number of values.
    const int walked = walk(data, size);
    if (walked < 0) check(loaded < 0);
    if (loaded >= 0) check(walked == loaded);
    lexer::Options scan;
    scan.load = false;
    load(data, size, scan, &r);
    lexer::Options prescan;
    prescan.scan = false;
    load(data, size, prescan, &r);
    lexer::Options one;
    one.one = true;
    load(data, size, one, &r);
    // Traced: errors are refused, so only a run with a container left open
    // at the end ends without a block; nothing is ever raised.
    seed = size;
    for (size_t i = 0; i < size && i < 64; ++i) seed = seed * 31 + data[i];
    calls = 0;
    lexer::Options traced;
    traced.callback = &callback;
    check(load(data, size, traced, &r) >= -1);
    return 0;
}
