// The action contract between the generic actions and each datatype.
//
// Every datatype implements some of the 62 actions. An implementation is
// registered in the per-type action table under its slot number and is called
// with the signature its slot fixes in KIV_ACTIONS below; registration
// (datatype::Registration::set<Slot>) checks that signature at compile time.
// Arguments live on the data stack (a fixed series, so Cell* into it stay
// valid); the first argument's cell is the argument base and receives the
// result. Conventions:
//   - an optional refinement argument (an "opt cell") is nullptr when the
//     refinement was not used;
//   - a count is -1 when its refinement was not used;
//   - "writes the return slot": the implementation leaves its result in the
//     argument-base cell itself; otherwise it returns a Cell* that the generic
//     entry copies into the return slot;
//   - form and mold append to the output string and return the /part budget
//     left; they may stop once it falls to 0 or below.
//   - the slots whose implementations may run Kiv code (make and to run an
//     object's body, path steps, put and modify run change hooks, sort runs
//     comparators, random and the series changes run ownership handlers,
//     and every series and port action of a port! runs its actor: the
//     navigation actions, copy, find, select, length?, pick, the port
//     actions, open, read, rename and write) answer an Outcome, a Count or
//     an Unwind code; a non-zero code is returned as it came, with the
//     stacks as the exit left them (runtime/stack.h). The math actions share
//     the navigation actions' StackOp signature and answer UNWIND_NONE.
// Raising errors goes through fire(); implementations never return error codes.
#pragma once

#include <cstdint>
#include <type_traits>

#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv {

// One row per action slot, in slot order: the enum name, the action's word
// ("" for the internal slots 7-9), its first argument's name, the
// refinements of its specification in order (checked name by name against
// library/actions.kiv at start-up; the generic entries read them by name) and
// the signature of a datatype's implementation (namespace
// action below). Everything else about a slot is derived from this list.
#define KIV_ACTIONS(X)                                                                                  \
    X(MAKE, "make", "type", "[]", Make)                                                                 \
    X(RANDOM, "random", "value", "[/seed /secure /only]", Random)                                       \
    X(REFLECT, "reflect", "value", "[]", Reflect)                                                       \
    X(TO, "to", "type", "[]", Make)                                                                     \
    X(FORM, "form", "value", "[/part]", Form)                                                           \
    X(MOLD, "mold", "value", "[/only /all /flat /part]", Mold)                                          \
    X(EVAL_PATH, "", "", "[]", EvalPath)                                                                \
    X(SET_PATH, "", "", "[]", EvalPath)                                                                 \
    X(COMPARE, "", "", "[]", Compare)                                                                   \
    X(ABSOLUTE, "absolute", "value", "[]", StackOp)                                                     \
    X(ADD, "add", "value1", "[]", StackOp)                                                              \
    X(DIVIDE, "divide", "value1", "[]", StackOp)                                                        \
    X(MULTIPLY, "multiply", "value1", "[]", StackOp)                                                    \
    X(NEGATE, "negate", "number", "[]", Negate)                                                         \
    X(POWER, "power", "number", "[]", StackOp)                                                          \
    X(REMAINDER, "remainder", "value1", "[]", StackOp)                                                  \
    X(ROUND, "round", "n", "[/to /even /down /half-down /floor /ceiling /half-ceiling]", Round)         \
    X(SUBTRACT, "subtract", "value1", "[]", StackOp)                                                    \
    X(EVEN_Q, "even?", "number", "[]", Predicate)                                                       \
    X(ODD_Q, "odd?", "number", "[]", Predicate)                                                         \
    X(AND_T, "and~", "value1", "[]", StackOp)                                                           \
    X(COMPLEMENT, "complement", "value", "[]", Complement)                                              \
    X(OR_T, "or~", "value1", "[]", StackOp)                                                             \
    X(XOR_T, "xor~", "value1", "[]", StackOp)                                                           \
    X(APPEND, "append", "series", "[/part /only /dup]", Insert)                                         \
    X(AT, "at", "series", "[]", StackOp)                                                                \
    X(BACK, "back", "series", "[]", StackOp)                                                            \
    X(CHANGE, "change", "series", "[/part /only /dup]", Change)                                         \
    X(CLEAR, "clear", "series", "[]", Clear)                                                            \
    X(COPY, "copy", "value", "[/part /deep /types]", Copy)                                              \
    X(FIND, "find", "series", "[/part /only /case /same /any /with /skip /last /reverse /tail /match]", \
      Find)                                                                                             \
    X(HEAD, "head", "series", "[]", StackOp)                                                            \
    X(HEAD_Q, "head?", "series", "[]", StackOp)                                                         \
    X(INDEX_Q, "index?", "series", "[]", StackOp)                                                       \
    X(INSERT, "insert", "series", "[/part /only /dup]", Insert)                                         \
    X(LENGTH_Q, "length?", "series", "[]", Length)                                                      \
    X(MOVE, "move", "origin", "[/part]", Move)                                                          \
    X(NEXT, "next", "series", "[]", StackOp)                                                            \
    X(PICK, "pick", "series", "[]", Pick)                                                               \
    X(POKE, "poke", "series", "[]", Poke)                                                               \
    X(PUT, "put", "series", "[/case]", Put)                                                             \
    X(REMOVE, "remove", "series", "[/part /key]", Remove)                                               \
    X(REVERSE, "reverse", "series", "[/part /skip]", Reverse)                                           \
    X(SELECT, "select", "series", "[/part /only /case /same /any /with /skip /last /reverse]", Select)  \
    X(SORT, "sort", "series", "[/case /skip /compare /part /all /reverse /stable]", Sort)               \
    X(SKIP, "skip", "series", "[]", StackOp)                                                            \
    X(SWAP, "swap", "series1", "[]", Swap)                                                              \
    X(TAIL, "tail", "series", "[]", StackOp)                                                            \
    X(TAIL_Q, "tail?", "series", "[]", StackOp)                                                         \
    X(TAKE, "take", "series", "[/part /deep /last]", Take)                                              \
    X(TRIM, "trim", "series", "[/head /tail /auto /lines /all /with]", Trim)                            \
    X(CREATE, "create", "port", "[]", PortOp)                                                           \
    X(CLOSE, "close", "port", "[]", PortOp)                                                             \
    X(DELETE, "delete", "file", "[]", PortOp)                                                           \
    X(MODIFY, "modify", "target", "[/case]", Modify)                                                    \
    X(OPEN, "open", "port", "[/new /read /write /seek /allow]", Open)                                   \
    X(OPEN_Q, "open?", "port", "[]", PortOp)                                                            \
    X(QUERY, "query", "target", "[]", PortOp)                                                           \
    X(READ, "read", "source", "[/part /seek /binary /lines /info /as]", Read)                           \
    X(RENAME, "rename", "from", "[]", Rename)                                                           \
    X(UPDATE, "update", "port", "[]", PortOp)                                                           \
    X(WRITE, "write", "destination", "[/binary /lines /info /append /part /seek /allow /as]", Write)

enum ActionSlot : uint32_t {
    ACT_NO_SLOT = 0,
#define KIV_ACTION_ENUM(name, word, first, refinements, sig) ACT_##name,
    KIV_ACTIONS(KIV_ACTION_ENUM)
#undef KIV_ACTION_ENUM
        ACTION_END,
    ACTION_COUNT = ACTION_END - 1,
};
static_assert(ACTION_COUNT == 62 && ACT_MAKE == 1 && ACT_WRITE == 62);

// Comparison operation codes.
enum CompareOp : int32_t {
    COMP_EQUAL = 0,
    COMP_NOT_EQUAL = 1,
    COMP_STRICT_EQUAL = 2,
    COMP_LESSER = 3,
    COMP_LESSER_EQUAL = 4,
    COMP_GREATER = 5,
    COMP_GREATER_EQUAL = 6,
    COMP_SORT = 7,
    COMP_CASE_SORT = 8,
    COMP_SAME = 9,
    COMP_EQUAL_10 = 10,
    COMP_EQUAL_11 = 11,
    COMP_FIND = 12,
};
constexpr int32_t NOT_COMPARABLE = -2;

// Comparison of values with no order of their own (none!, unset!, logic!,
// the function types): the equality, sort, same and find operations compare
// the two keys (-1, 0 or 1); the ordering operations are not comparable.
inline int32_t compare_keys(uint32_t a, uint32_t b, int32_t op) {
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
        case COMP_STRICT_EQUAL:
        case COMP_SORT:
        case COMP_CASE_SORT:
        case COMP_SAME:
        case COMP_FIND:
            return (a > b) - (a < b);
        default:
            return NOT_COMPARABLE;
    }
}

// Arithmetic operation codes of the math workers, also taken by the
// evaluator's fast paths (evaluator/fast_paths.h).
enum MathOp : int32_t { OP_ADD = 0, OP_SUB, OP_MUL, OP_DIV, OP_REM, OP_OR, OP_AND, OP_XOR };

// The math actions of a type whose worker takes the operation code (MathOp):
// r.set<ACT_ADD>(math_entry<do_math, OP_ADD>) stands for a wrapper per action.
template <auto Worker, int32_t Op>
Unwind math_entry() {
    (void)Worker(Op);
    return UNWIND_NONE;
}

// A StackOp implementation that runs no Kiv code (the math and navigation
// actions of every type but port!): r.set<ACT_AT>(no_unwind<at>). The call
// inlines; the code it answers is always UNWIND_NONE.
template <void (*Op)()>
Unwind no_unwind() {
    Op();
    return UNWIND_NONE;
}

// The answer of an implementation whose slot may run Kiv code: its result
// cell (as a Cell* return), or the unwind code of an exit that left that
// code, with no result. Implementations return either; the implicit
// conversions keep `return cell;` as it reads.
struct [[nodiscard]] Outcome {
    Cell* cell = nullptr;
    Unwind code = UNWIND_NONE;
    Outcome(Cell* c) : cell(c) {}
    Outcome(Unwind u) : code(u) {}
};

// The answer of length?: the length (-1 for none), or the unwind code of an
// exit that left a port's actor, with no length. Eight bytes, returned in a
// register; `return n;` and `return code;` both read as they are.
struct [[nodiscard]] Count {
    int32_t n = -1;
    Unwind code = UNWIND_NONE;
    Count(int32_t length) : n(length) {}
    Count(Unwind u) : code(u) {}
};

// One signature per slot (or group of slots).
namespace action {
using Make = Outcome (*)(Cell* proto, Cell* spec, uint32_t type);  // make, to: object bodies run
using Random = Unwind (*)(Cell* value, bool seed, bool secure, bool only);  // series: owner handlers
using Reflect = void (*)(Cell* value, uint32_t field_symbol);
using Form = int32_t (*)(Cell* value, Cell* out, Cell* part, int32_t budget);
using Mold = int32_t (*)(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
                         int32_t indent);
using EvalPath = Outcome (*)(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent,
                           Cell* previous, int32_t position, bool case_sensitive, bool get_path,
                           bool last_element, bool notify_owner);
using Compare = int32_t (*)(Cell* value, Cell* other, int32_t op);
// Operands at the argument base: math, at, back, head, next, skip, tail...
using StackOp = Unwind (*)();
using Negate = void (*)(Cell* value);
using Round = void (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
                       bool ceiling, bool half_ceiling);
using Predicate = bool (*)(Cell* value);  // even?, odd?
using Complement = Cell* (*)(Cell* value);
using Insert = Unwind (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
using Change = Unwind (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
using Clear = Unwind (*)(Cell* series);
using Copy = Outcome (*)(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
using Find = Outcome (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same,
                         bool any, Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
using Length = Count (*)(Cell* value);  // n -1 means none
using Move = Outcome (*)(Cell* origin, Cell* target, Cell* part);
using Pick = Outcome (*)(Cell* series, int32_t index, Cell* index_cell);
using Poke = Outcome (*)(Cell* series, int32_t index, Cell* value, Cell* index_cell);
using Put = Outcome (*)(Cell* series, Cell* key, Cell* value, bool case_sensitive);
using Remove = Unwind (*)(Cell* series, Cell* part, Cell* key);
using Reverse = Unwind (*)(Cell* series, Cell* part, Cell* skip);
using Select = Outcome (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same,
                           bool any, Cell* with, Cell* skip, bool last, bool reverse);
// The sorted series (at its position, which /part may move back) replaces *series.
using Sort = Unwind (*)(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all,
                        bool reverse, bool stable);
using Swap = Unwind (*)(Cell* series1, Cell* series2);
using Take = Outcome (*)(Cell* series, Cell* part, bool deep, bool last);
using Trim = Unwind (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using PortOp = Outcome (*)(Cell* value);  // create, close, delete, open?, query, update
using Modify = Outcome (*)(Cell* target, Cell* field, Cell* value, bool case_sensitive);
using Open = Outcome (*)(Cell* spec, bool new_, bool read, bool write, bool seek, Cell* allow);
using Read = Outcome (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using Rename = Outcome (*)(Cell* from, Cell* to);
using Write = Outcome (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
                          Cell* part, Cell* seek, Cell* allow, Cell* as);
}  // namespace action

// The signature of each slot's implementation: SlotFn<ACT_FORM> is action::Form.
template <uint32_t Slot>
struct SlotSignature;
#define KIV_ACTION_SIG(name, word, first, refinements, sig) \
    template <>                                             \
    struct SlotSignature<ACT_##name> {                      \
        using type = action::sig;                           \
    };
KIV_ACTIONS(KIV_ACTION_SIG)
#undef KIV_ACTION_SIG
template <uint32_t Slot>
using SlotFn = typename SlotSignature<Slot>::type;

// Whether a slot's implementation has signature F (for the dispatchers that
// take the slot at run time: the math and navigation actions, the port ops).
template <class F>
constexpr bool slot_takes(uint32_t slot) {
    constexpr bool table[ACTION_COUNT + 1] = {false,
#define KIV_ACTION_TAKES(name, word, first, refinements, sig) std::is_same_v<F, action::sig>,
                                              KIV_ACTIONS(KIV_ACTION_TAKES)
#undef KIV_ACTION_TAKES
    };
    return slot <= ACTION_COUNT && table[slot];
}

// A table entry: an implementation stored without its type (the table has one
// row per datatype and one column per slot, so every column shares one C++
// type); nullptr for none, INHERIT in a registration for "take the parent's
// entry". Entries go in only through datatype::Registration::set<Slot>, which
// checks the implementation against the slot's signature, and come out only
// as that signature again (entry_as).
using ActionEntry = void (*)();
inline const ActionEntry INHERIT = reinterpret_cast<ActionEntry>(intptr_t(-1));

namespace detail {
template <class F>
inline ActionEntry erase(F f) {
    return reinterpret_cast<ActionEntry>(f);
}
}  // namespace detail

// The implementation behind an entry of `Slot`.
template <uint32_t Slot>
inline SlotFn<Slot> entry_as(ActionEntry e) {
    return reinterpret_cast<SlotFn<Slot>>(e);
}

// The implementation behind an entry of a slot chosen at run time, as the
// signature F the caller expects; a slot of another signature is a faulty
// build and ends the process (bad_slot_signature, datatypes/registry.cpp).
[[noreturn]] void bad_slot_signature(uint32_t slot);
template <class F>
inline F entry_as(ActionEntry e, uint32_t slot) {
    if (!slot_takes<F>(slot)) [[unlikely]]
        bad_slot_signature(slot);
    return reinterpret_cast<F>(e);
}

}  // namespace kiv
