// The natives table: the numbered entry points of the built-in functions that
// are not datatype actions.
//
// A native! value holds its 1-based slot number in payload word 1 (never an
// address); calling it runs natives_table[number - 1]. Of the TABLE_SLOTS
// slots the start-up registration fills the first NATIVE_COUNT in native-
// number order (the constants below name each number); the others stay null.
//
// The natives are declared in evaluator/native_list.h, one row each; this
// header derives the rest from those rows.
//
// Entry contract (NativeFn, the table's entries):
//   - the arguments sit on the data stack from the argument base: the fixed
//     arguments in specification order, then the arguments of every
//     refinement in specification order (an absent refinement's arguments are
//     none cells, so each argument has a fixed cell);
//   - `check` asks the entry to test each fixed argument against its typeset
//     first (check_args below); callers that already tested them (the
//     interpreter) pass false. The entry does this itself, from the row's
//     specification, before it runs the native's function;
//   - `refinements` holds one int32 per refinement in specification order:
//     -1 when absent, else the offset from the argument base of the
//     refinement's first argument cell (a refinement without argument gets
//     the offset where its arguments would start: any value >= 0 means
//     present). A native's function reads it by name through Refs<N>;
//   - the result goes into the argument base (the result slot); a native that
//     evaluates code leaves the evaluated value there;
//   - the entry returns the unwind code (runtime/stack.h): 0 when it ended
//     normally; a non-zero code from an evaluation it made is returned as it
//     came (the stacks are already trimmed for it) unless the native is the
//     frame that admits it (loops admit break and continue). Errors are
//     raised with fire() and never returned.
#pragma once

#include <cstdint>

#include "datatypes/argument_text.h"
#include "evaluator/native_list.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv::natives {

// Native numbers (1-based slots), in row order.
enum Number : uint32_t {
    N_NONE = 0,
#define KIV_NATIVE_NUMBER(name, word, fn, spec) N_##name,
    KIV_NATIVES(KIV_NATIVE_NUMBER)
#undef KIV_NATIVE_NUMBER
        N_END,
};

constexpr uint32_t TABLE_SLOTS = 120;
constexpr uint32_t NATIVE_COUNT = N_END - 1;
static_assert(NATIVE_COUNT <= TABLE_SLOTS);

using NativeFn = Unwind (*)(bool check, const int32_t* refinements);

// Filled by natives::init in native-number order.
extern NativeFn natives_table[TABLE_SLOTS];
// The next free 1-based number: 1 before registration, NATIVE_COUNT + 1 after.
extern uint32_t next_number;

// The word of each native, indexed by number - 1.
extern const char* const NAMES[NATIVE_COUNT];
// Each native's specification as Kiv source text (arguments with their
// type blocks, refinements with their arguments, the return type when the
// native declares one, the doc string first), indexed by number - 1.
extern const char* const SPECS[NATIVE_COUNT];

// Fills the table in native-number order and makes the print worker's
// 32-cell working block as a child of the root block. Runs once, after the
// fixed words and before the parser.
void init();
// Appends `count` entries at the counter (the registration step of init).
void register_entries(const NativeFn* list, uint32_t count);
// The print worker's working block (a block! cell; valid after init).
Cell working_block();

// The check-flag test of a native entry: each of the first `fixed` argument
// cells is tested against the typeset of its slot in the native's typed
// specification; a mismatch raises script expect-arg with the native's word,
// the value's datatype and the argument's word.
void check_args(uint32_t number, uint32_t fixed);

// Truth tests. The lenient test: only none and false are falsy. The strict
// test does the same but raises script no-return when the value is unset.
inline bool lenient_true(const Cell* v) {
    uint32_t t = v->type();
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && v->w1 == 0));
}
[[noreturn]] void no_return_value();
// Truth for either and the strict tests: as lenient_true, but an unset value
// raises script no-return.
inline bool strict_true(const Cell* v) {
    uint32_t t = v->type();
    if (t == TYPE_UNSET) [[unlikely]]
        no_return_value();
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && v->w1 == 0));
}

// ---- Reading a specification at compile time ---------------------------------------------

namespace argument_text {
using namespace kiv::argument_text;

// The argument-block texts of the natives, indexed by number - 1, usable in
// constant expressions.
inline constexpr const char* TEXTS[] = {
#define KIV_NATIVE_SPEC(name, word, fn, spec) spec,
    KIV_NATIVES(KIV_NATIVE_SPEC)
#undef KIV_NATIVE_SPEC
};

// The spec block of native N, as text.
template <uint32_t N>
struct NativeSpec {
    static constexpr const char* text = TEXTS[N - 1];
};

}  // namespace argument_text

// The count of fixed arguments of native N, from its specification.
template <uint32_t N>
inline constexpr uint32_t ARITY = argument_text::fixed_count(argument_text::TEXTS[N - 1]);

// The refinements of native N by name (Refs<N>{refs}.has<"part">(),
// .arg<"part">()). A name the native's argument block does not have does not
// compile.
template <uint32_t N>
using Refs = argument_text::NamedRefs<argument_text::NativeSpec<N>>;

// ---- The natives' functions (natives_*.cpp) -----------------------------------------------
// Each takes the refinement offsets (read them through Refs<N>); its fixed
// arguments were checked by its entry when the caller asked for it.

// Interns the method words of compress and decompress (start-up).
void init_compress_methods();
// Interns the method words of checksum (start-up).
void init_checksum_methods();

// A native whose step is not built yet (never called: its entry raises).
Unwind later(const int32_t* refs);
#define KIV_NATIVE_PROTOTYPE(name, word, fn, spec) Unwind fn(const int32_t* refs);
KIV_NATIVES(KIV_NATIVE_PROTOTYPE)
#undef KIV_NATIVE_PROTOTYPE

}  // namespace kiv::natives
