// The natives table: the numbered entry points of the built-in functions that
// are not datatype actions.
//
// A native! value holds its 1-based slot number in payload word 1 (never an
// address); calling it runs natives_table[number - 1]. Of the TABLE_SLOTS
// slots the start-up registration fills the first NATIVE_COUNT in native-
// number order (the constants below name each number); the others stay null.
//
// Entry contract:
//   - the arguments sit on the data stack from the argument base: the fixed
//     arguments in specification order, then the arguments of every
//     refinement in specification order (an absent refinement's arguments are
//     none cells, so each argument has a fixed cell);
//   - `check` asks the entry to test each fixed argument against its typeset
//     first (check_args below); callers that already tested them (the
//     interpreter) pass false;
//   - `refinements` holds one int32 per refinement in specification order:
//     -1 when absent, else the offset from the argument base of the
//     refinement's first argument cell (a refinement without argument gets
//     the offset where its arguments would start: any value >= 0 means
//     present);
//   - the result goes into the argument base (the result slot); a native that
//     evaluates code leaves the evaluated value there;
//   - the entry returns the unwind code (runtime/stack.h): 0 when it ended
//     normally; a non-zero code from an evaluation it made is returned as it
//     came (the stacks are already trimmed for it) unless the native is the
//     frame that admits it (loops admit break and continue). Errors are
//     raised with fire() and never returned.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::natives {

constexpr uint32_t TABLE_SLOTS = 120;
constexpr uint32_t NATIVE_COUNT = 107;

using NativeFn = uint32_t (*)(bool check, const int32_t* refinements);

// Filled by natives::init in native-number order.
extern NativeFn natives_table[TABLE_SLOTS];
// The next free 1-based number: 1 before registration, 108 after.
extern uint32_t next_number;

// Native numbers (1-based slots), in registration order.
enum Number : uint32_t {
    N_IF = 1,
    N_UNLESS,
    N_EITHER,
    N_ANY,
    N_ALL,
    N_WHILE,
    N_UNTIL,
    N_LOOP,
    N_REPEAT,
    N_FOREVER,
    N_FOREACH,
    N_FORALL,
    N_REMOVE_EACH,
    N_FUNC,
    N_FUNCTION,
    N_DOES,
    N_HAS,
    N_SWITCH,
    N_CASE,
    N_DO,
    N_GET,
    N_SET,
    N_PRINT,
    N_PRIN,
    N_EQUAL_Q,
    N_NOT_EQUAL_Q,
    N_STRICT_EQUAL_Q,
    N_LESSER_Q,
    N_GREATER_Q,
    N_LESSER_OR_EQUAL_Q,
    N_GREATER_OR_EQUAL_Q,
    N_SAME_Q,
    N_NOT,
    N_TYPE_Q,
    N_REDUCE,
    N_COMPOSE,
    N_STATS,
    N_BIND,
    N_IN,
    N_PARSE,
    N_UNION,
    N_INTERSECT,
    N_UNIQUE,
    N_DIFFERENCE,
    N_EXCLUDE,
    N_COMPLEMENT_Q,
    N_DEHEX,
    N_ENHEX,
    N_NEGATIVE_Q,
    N_POSITIVE_Q,
    N_MAX,
    N_MIN,
    N_SHIFT,
    N_TO_HEX,
    N_SINE,
    N_COSINE,
    N_TANGENT,
    N_ARCSINE,
    N_ARCCOSINE,
    N_ARCTANGENT,
    N_ARCTANGENT2,
    N_NAN_Q,
    N_LOG_2,
    N_LOG_10,
    N_LOG_E,
    N_EXP,
    N_SQUARE_ROOT,
    N_CONSTRUCT,
    N_VALUE_Q,
    N_TRY,
    N_UPPERCASE,
    N_LOWERCASE,
    N_AS_PAIR,
    N_AS_POINT2D,
    N_AS_POINT3D,
    N_AS_MONEY,
    N_BREAK,
    N_CONTINUE,
    N_EXIT,
    N_RETURN,
    N_THROW,
    N_CATCH,
    N_EXTEND,
    N_DEBASE,
    N_TO_LOCAL_FILE,
    N_WAIT,
    N_CHECKSUM,
    N_UNSET,
    N_NEW_LINE,
    N_NEW_LINE_Q,
    N_ENBASE,
    N_CONTEXT_Q,
    N_SET_ENV,
    N_GET_ENV,
    N_LIST_ENV,
    N_NOW,
    N_SIGN_Q,
    N_AS,
    N_CALL,
    N_ZERO_Q,
    N_SIZE_Q,
    N_BROWSE,
    N_COMPRESS,
    N_DECOMPRESS,
    N_RECYCLE,
    N_TRANSCODE,
    N_APPLY,
};
static_assert(N_APPLY == NATIVE_COUNT);

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
bool strict_true(const Cell* v);

// ---- Control natives (natives_control.cpp) ---------------------------------------------
uint32_t if_(bool check, const int32_t* refs);
uint32_t unless(bool check, const int32_t* refs);
uint32_t either(bool check, const int32_t* refs);
uint32_t any(bool check, const int32_t* refs);
uint32_t all(bool check, const int32_t* refs);
uint32_t while_(bool check, const int32_t* refs);
uint32_t until(bool check, const int32_t* refs);
uint32_t loop(bool check, const int32_t* refs);
uint32_t repeat(bool check, const int32_t* refs);
uint32_t forever(bool check, const int32_t* refs);
uint32_t foreach (bool check, const int32_t* refs);
uint32_t forall(bool check, const int32_t* refs);
uint32_t remove_each(bool check, const int32_t* refs);
uint32_t switch_(bool check, const int32_t* refs);
uint32_t case_(bool check, const int32_t* refs);

// ---- Evaluation and function natives (natives_eval.cpp) ---------------------------------
uint32_t func(bool check, const int32_t* refs);
uint32_t function(bool check, const int32_t* refs);
uint32_t does(bool check, const int32_t* refs);
uint32_t has(bool check, const int32_t* refs);
uint32_t do_(bool check, const int32_t* refs);
uint32_t get(bool check, const int32_t* refs);
uint32_t set(bool check, const int32_t* refs);
uint32_t reduce(bool check, const int32_t* refs);
uint32_t compose(bool check, const int32_t* refs);
uint32_t bind(bool check, const int32_t* refs);
uint32_t in(bool check, const int32_t* refs);
uint32_t construct(bool check, const int32_t* refs);
uint32_t value_q(bool check, const int32_t* refs);
uint32_t extend(bool check, const int32_t* refs);
uint32_t unset(bool check, const int32_t* refs);
uint32_t context_q(bool check, const int32_t* refs);
uint32_t apply(bool check, const int32_t* refs);

// ---- Try, catch and non-local exits (natives_try.cpp) ------------------------------------
uint32_t try_(bool check, const int32_t* refs);
uint32_t break_(bool check, const int32_t* refs);
uint32_t continue_(bool check, const int32_t* refs);
uint32_t exit_(bool check, const int32_t* refs);
uint32_t return_(bool check, const int32_t* refs);
uint32_t throw_(bool check, const int32_t* refs);
uint32_t catch_(bool check, const int32_t* refs);

// ---- Encoding natives (natives_encoding.cpp) -------------------------------------------
uint32_t dehex(bool check, const int32_t* refs);
uint32_t enhex(bool check, const int32_t* refs);
uint32_t enbase(bool check, const int32_t* refs);
uint32_t debase(bool check, const int32_t* refs);
uint32_t to_local_file(bool check, const int32_t* refs);

// ---- System natives (natives_system.cpp) -------------------------------------------------
uint32_t transcode(bool check, const int32_t* refs);
uint32_t parse(bool check, const int32_t* refs);
uint32_t stats(bool check, const int32_t* refs);
uint32_t recycle(bool check, const int32_t* refs);
uint32_t compress(bool check, const int32_t* refs);
uint32_t decompress(bool check, const int32_t* refs);
// Interns the method words of compress and decompress (start-up).
void init_compress_methods();

// ---- Output and comparison natives (natives_output.cpp) ----------------------------------
uint32_t print(bool check, const int32_t* refs);
uint32_t prin(bool check, const int32_t* refs);
uint32_t equal_q(bool check, const int32_t* refs);
uint32_t not_equal_q(bool check, const int32_t* refs);
uint32_t strict_equal_q(bool check, const int32_t* refs);
uint32_t lesser_q(bool check, const int32_t* refs);
uint32_t greater_q(bool check, const int32_t* refs);
uint32_t lesser_or_equal_q(bool check, const int32_t* refs);
uint32_t greater_or_equal_q(bool check, const int32_t* refs);
uint32_t same_q(bool check, const int32_t* refs);
uint32_t not_(bool check, const int32_t* refs);
uint32_t type_q(bool check, const int32_t* refs);

// ---- Set natives (natives_sets.cpp) ---------------------------------------------------------
uint32_t union_(bool check, const int32_t* refs);
uint32_t intersect(bool check, const int32_t* refs);
uint32_t unique(bool check, const int32_t* refs);
uint32_t difference(bool check, const int32_t* refs);
uint32_t exclude(bool check, const int32_t* refs);
uint32_t complement_q(bool check, const int32_t* refs);

}  // namespace kiv::natives
