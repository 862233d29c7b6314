// The action contract between the generic actions and each datatype.
//
// Every datatype implements some of the 62 actions. An implementation is
// registered in the per-type action table under its slot number and is called
// with the signature its slot fixes below. Arguments live on the data stack
// (a fixed series, so Cell* into it stay valid); the first argument's cell is
// the argument base and receives the result. Conventions:
//   - an optional refinement argument (an "opt cell") is nullptr when the
//     refinement was not used;
//   - a count is -1 when its refinement was not used;
//   - "writes the return slot": the implementation leaves its result in the
//     argument-base cell itself; otherwise it returns a Cell* that the generic
//     entry copies into the return slot;
//   - form and mold append to the output string and return the /part budget
//     left; they may stop once it falls to 0 or below.
// Raising errors goes through fire(); implementations never return error codes.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

enum ActionSlot : uint32_t {
    ACT_MAKE = 1, ACT_RANDOM, ACT_REFLECT, ACT_TO, ACT_FORM, ACT_MOLD, ACT_EVAL_PATH, ACT_SET_PATH,
    ACT_COMPARE, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE, ACT_MULTIPLY, ACT_NEGATE, ACT_POWER,
    ACT_REMAINDER, ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q, ACT_AND_T, ACT_COMPLEMENT,
    ACT_OR_T, ACT_XOR_T, ACT_APPEND, ACT_AT, ACT_BACK, ACT_CHANGE, ACT_CLEAR, ACT_COPY, ACT_FIND,
    ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK,
    ACT_POKE, ACT_PUT, ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SORT, ACT_SKIP, ACT_SWAP, ACT_TAIL,
    ACT_TAIL_Q, ACT_TAKE, ACT_TRIM, ACT_CREATE, ACT_CLOSE, ACT_DELETE, ACT_MODIFY, ACT_OPEN,
    ACT_OPEN_Q, ACT_QUERY, ACT_READ, ACT_RENAME, ACT_UPDATE, ACT_WRITE,
    ACTION_COUNT = 62,
};

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

// Arithmetic operation codes of the math workers.
enum MathOp : int32_t { OP_ADD = 0, OP_SUB, OP_MUL, OP_DIV, OP_REM, OP_OR, OP_AND, OP_XOR };

// One signature per slot (or group of slots).
namespace action {
using Make = Cell* (*)(Cell* proto, Cell* spec, uint32_t type);  // make, to
using Random = void (*)(Cell* value, bool seed, bool secure, bool only);
using Reflect = void (*)(Cell* value, uint32_t field_symbol);
using Form = int32_t (*)(Cell* value, Cell* out, Cell* part, int32_t budget);
using Mold = int32_t (*)(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
                         int32_t indent);
using EvalPath = Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent,
                           Cell* previous, int32_t position, bool case_sensitive, bool get_path,
                           bool last_element, bool notify_owner);
using Compare = int32_t (*)(Cell* value, Cell* other, int32_t op);
using StackOp = void (*)();  // operands at the argument base: math, at, back, head, next, skip, tail...
using Negate = void (*)(Cell* value);
using Round = void (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
                       bool ceiling, bool half_ceiling);
using Predicate = bool (*)(Cell* value);  // even?, odd?
using Complement = Cell* (*)(Cell* value);
using Insert = void (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
using Change = void (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
using Clear = void (*)(Cell* series);
using Copy = Cell* (*)(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
using Find = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same,
                       bool any, Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
using Length = int32_t (*)(Cell* value);  // -1 means none
using Move = Cell* (*)(Cell* origin, Cell* target, Cell* part);
using Pick = Cell* (*)(Cell* series, int32_t index, Cell* index_cell);
using Poke = Cell* (*)(Cell* series, int32_t index, Cell* value, Cell* index_cell);
using Put = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_sensitive);
using Remove = void (*)(Cell* series, Cell* part, Cell* key);
using Reverse = void (*)(Cell* series, Cell* part, Cell* skip);
using Select = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same,
                         bool any, Cell* with, Cell* skip, bool last, bool reverse);
using Sort = Cell* (*)(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all,
                       bool reverse, bool stable);
using Swap = void (*)(Cell* series1, Cell* series2);
using Take = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using Trim = void (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using PortOp = Cell* (*)(Cell* value);  // create, close, delete, open?, query, update
using Modify = Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_sensitive);
using Open = Cell* (*)(Cell* spec, bool new_, bool read, bool write, bool seek, Cell* allow);
using Read = Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using Rename = Cell* (*)(Cell* from, Cell* to);
using Write = Cell* (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
                        Cell* part, Cell* seek, Cell* allow, Cell* as);
}  // namespace action

// A table entry: an implementation cast to this common type, nullptr for
// none, INHERIT in a registration list for "take the parent's entry".
using ActionEntry = void (*)();
inline const ActionEntry INHERIT = reinterpret_cast<ActionEntry>(intptr_t(-1));

template <class F>
inline ActionEntry entry(F f) {
    return reinterpret_cast<ActionEntry>(f);
}

}  // namespace kiv
