#include "evaluator/natives.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "runtime/error.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace kiv::natives {

NativeFn natives_table[TABLE_SLOTS];
uint32_t next_number = 1;

const char* const NAMES[NATIVE_COUNT] = {
#define KIV_NATIVE_NAME(name, word, fn, spec) word,
    KIV_NATIVES(KIV_NATIVE_NAME)
#undef KIV_NATIVE_NAME
};

const char* const SPECS[NATIVE_COUNT] = {
#define KIV_NATIVE_SPEC(name, word, fn, spec) spec,
    KIV_NATIVES(KIV_NATIVE_SPEC)
#undef KIV_NATIVE_SPEC
};

Unwind later(const int32_t*) {
    fire({"internal", "not-done"});
}

namespace {

// Root-block index of the print worker's working block (0: not made yet).
uint32_t working_slot = 0;

// The entry of native N: checks the fixed arguments when asked, then runs
// the native's function. A native not built yet raises internal not-done
// naming it.
template <uint32_t N, auto F>
Unwind entry(bool check, const int32_t* refs) {
    if constexpr (F == &later) {
        fire({"internal", "not-done"}, word::load(NAMES[N - 1]));
    } else {
        if (check) check_args(N, ARITY<N>);
        return F(refs);
    }
}

// The entries in native-number order.
const NativeFn entries[NATIVE_COUNT] = {
#define KIV_NATIVE_ENTRY(name, word, fn, spec) entry<N_##name, &fn>,
    KIV_NATIVES(KIV_NATIVE_ENTRY)
#undef KIV_NATIVE_ENTRY
};

}  // namespace

void register_entries(const NativeFn* list, uint32_t count) {
    for (uint32_t i = 0; i < count && next_number <= TABLE_SLOTS; ++i)
        natives_table[next_number++ - 1] = list[i];
}

void init() {
    for (NativeFn& f : natives_table) f = nullptr;
    next_number = 1;
    register_entries(entries, NATIVE_COUNT);
    init_compress_methods();
    init_checksum_methods();
    if (!working_slot) {
        block::make_in(&root::block, 32);
        working_slot = root::count() - 1;
    }
}

Cell working_block() {
    return working_slot ? *root::at(working_slot) : Cell{TYPE_NONE, 0, 0, 0};
}

void no_return_value() {
    fire({"script", "no-return"});
}

void check_args(uint32_t number, uint32_t fixed) {
    if (number < 1 || number > NATIVE_COUNT) return;
    // The native's value is the one its word holds in the global context.
    Cell name = word::load(NAMES[number - 1]);
    Cell value;
    context::get_global_into(name.w2, &value);
    if (value.type() != TYPE_NATIVE || value.w1 != number) return;
    for (uint32_t i = 0; i < fixed; ++i) interpreter::check_argument(&value, &name, i, stack::arg_base + i);
}

}  // namespace kiv::natives
