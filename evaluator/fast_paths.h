// Fast paths for the commonest operations: integer and float arithmetic,
// comparisons of integers and floats, picking from a block and stepping through a block.
// Each entry handles the common type pairs inline and takes the ordinary
// action call for everything else (a native frame named by `name`, the
// operands pushed, the action's stack entry, the frame popped), so the
// result is always the action's own; only the cost differs. The interpreter
// uses the inline kernels for operators and actions with such operands.
//
// The inline kernels allocate nothing and run no Kiv code. An op code
// outside an entry's list is a fault of the caller: runtime error 101 ends
// the process.
#pragma once

#include <cmath>
#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "runtime/cell.h"
#include "runtime/series.h"

namespace kiv::actions {

// Math op codes are the math workers' (MathOp, datatypes/actions.h); the
// fast paths take every one of them.
// Block navigation op codes and their actions.
enum SeriesOp : uint32_t {
    SO_LENGTH_Q = 1,
    SO_INDEX_Q = 2,
    SO_HEAD_Q = 3,
    SO_TAIL_Q = 4,
    SO_NEXT = 5,
    SO_BACK = 6,
    SO_HEAD = 7,
    SO_TAIL = 8,
};

// ---- Inline kernels ------------------------------------------------------------------

// integer! op integer!: 32-bit two's complement; add, subtract and multiply
// that overflow give the float! of the operation done on the two values as
// floats (what the integer math worker gives). The result is written to
// *out; an integer result only rewrites its value word, as the worker does
// with the left operand's cell. False for an op code outside the list.
inline bool math_int(uint32_t op, int32_t left, int32_t right, Cell* out) {
    int32_t r;
    bool over;
    switch (op) {
        case OP_ADD:
            over = __builtin_add_overflow(left, right, &r);
            break;
        case OP_SUB:
            over = __builtin_sub_overflow(left, right, &r);
            break;
        case OP_MUL:
            over = __builtin_mul_overflow(left, right, &r);
            break;
        case OP_OR:
            r = left | right, over = false;
            break;
        case OP_AND:
            r = left & right, over = false;
            break;
        case OP_XOR:
            r = left ^ right, over = false;
            break;
        default:
            return false;
    }
    if (over) [[unlikely]] {
        double l = left, rr = right;
        float_::make_at(out, op == OP_ADD ? l + rr : op == OP_SUB ? l - rr : l * rr);
        return true;
    }
    out->header = (out->header & ~header::TYPE_MASK) | TYPE_INTEGER;
    out->w2 = uint32_t(r);
    return true;
}

// A number the inline kernels take: integer! or float! (char!, percent!
// and time! keep the action path).
inline bool kernel_number(uint32_t t) {
    return t == TYPE_INTEGER || t == TYPE_FLOAT;
}

// The value of an integer! or float! cell as a double, as the float math
// worker reads its operands.
inline double number_value(const Cell* c) {
    return c->type() == TYPE_INTEGER ? double(int32_t(c->w2)) : c->get_f64();
}

// Integer division and remainder as the integer math worker does them:
// false (the action raises its error) for a zero divisor and for the one
// quotient 32 bits cannot hold; a division that leaves a remainder gives
// the float! of the quotient. *out holds the left operand's cell.
inline bool divide_int(uint32_t op, int32_t left, int32_t right, Cell* out) {
    if (right == 0 || (left == INT32_MIN && right == -1)) return false;
    int32_t r;
    if (op == OP_REM) {
        r = left % right;
    } else if (left % right != 0) {
        float_::make_at(out, double(left) / double(right));
        return true;
    } else {
        r = left / right;
    }
    out->header = (out->header & ~header::TYPE_MASK) | TYPE_INTEGER;
    out->w2 = uint32_t(r);
    return true;
}

// Two numbers of which at least one is a float!: the float math worker's
// result (a float! whose header is the type alone, as it writes it; no
// overflow check, as the worker makes none). False for the op codes the
// worker refuses on floats (or, and, xor).
inline bool math_float(uint32_t op, double l, double r, Cell* out) {
    double x;
    switch (op) {
        case OP_ADD:
            x = l + r;
            break;
        case OP_SUB:
            x = l - r;
            break;
        case OP_MUL:
            x = l * r;
            break;
        case OP_DIV:
            x = l / r;
            break;
        case OP_REM:
            x = std::isfinite(r) ? std::fmod(l, r) : float_::QUIET_NAN;
            break;
        default:
            return false;
    }
    float_::make_at(out, x);
    return true;
}

// The inline cases of two cells: integer! and float! in any pairing, every
// op code the workers share (or, and, xor on integers only; a division by
// integer zero and the one quotient 32 bits cannot hold left to the
// action). The result replaces *out (which may be `a`; an integer result is
// `a`'s cell with the new value, as the action leaves it); false leaves
// *out alone for the action path.
inline bool math_inline(uint32_t op, const Cell* a, const Cell* b, Cell* out) {
    uint32_t ta = a->type(), tb = b->type();
    if (ta == TYPE_INTEGER && tb == TYPE_INTEGER) {
        int32_t l = int32_t(a->w2), r = int32_t(b->w2);
        if (op == OP_DIV || op == OP_REM) {
            if (out != a) *out = *a;
            return divide_int(op, l, r, out);
        }
        if (out != a) *out = *a;
        return math_int(op, l, r, out);
    }
    if (!kernel_number(ta) || !kernel_number(tb)) return false;
    return math_float(op, number_value(a), number_value(b), out);
}

// A comparison of two numbers, at least one a float!, as the float
// comparison gives it (near-equality for equal and not-equal, the type too
// for strict equality, the special values' own order); false for the codes
// that take the general comparison.
inline bool compare_float(int32_t op, const Cell* a, const Cell* b, bool* result) {
    const double l = number_value(a), r = number_value(b);
    switch (op) {
        case COMP_LESSER:
        case COMP_LESSER_EQUAL:
        case COMP_GREATER:
        case COMP_GREATER_EQUAL:
            if (!float_::special_q(l) && !float_::special_q(r)) {
                *result = op == COMP_LESSER         ? l < r
                          : op == COMP_LESSER_EQUAL ? l <= r
                          : op == COMP_GREATER      ? l > r
                                                    : l >= r;
                return true;
            }
            break;
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
        case COMP_STRICT_EQUAL:
            break;
        default:
            return false;
    }
    const int32_t c = float_::compare_numbers(a->type(), l, b->type(), r, op);
    switch (op) {
        case COMP_NOT_EQUAL:
            *result = c != 0;
            break;
        case COMP_EQUAL:
        case COMP_STRICT_EQUAL:
            *result = c == 0;
            break;
        case COMP_LESSER:
            *result = c < 0;
            break;
        case COMP_LESSER_EQUAL:
            *result = c <= 0;
            break;
        case COMP_GREATER:
            *result = c > 0;
            break;
        default:
            *result = c >= 0;
            break;
    }
    return true;
}

// integer! compared with integer! by a comparison op code (CompareOp);
// *known is false for the codes that take the general comparison.
inline bool compare_int(int32_t op, int32_t a, int32_t b, bool* known) {
    *known = true;
    switch (op) {
        case COMP_EQUAL:
        case COMP_STRICT_EQUAL:
            return a == b;
        case COMP_NOT_EQUAL:
            return a != b;
        case COMP_LESSER:
            return a < b;
        case COMP_LESSER_EQUAL:
            return a <= b;
        case COMP_GREATER:
            return a > b;
        case COMP_GREATER_EQUAL:
            return a >= b;
        default:
            *known = false;
            return false;
    }
}

// ---- Entry points ----------------------------------------------------------------------
// `name` names the fallback frame (a word cell; null for <anon>).

// math-op-fast: value1 op value2 pushed as a new cell.
void math_op_fast(const Cell* name, uint32_t op, const Cell* value1, const Cell* value2);
// math-op-int-fast: the right operand an immediate integer.
void math_op_int_fast(const Cell* name, uint32_t op, const Cell* value, int32_t right);
// math-op-top-fast / -top-int-fast: top := top op value.
void math_op_top_fast(const Cell* name, uint32_t op, const Cell* value);
void math_op_top_int_fast(const Cell* name, uint32_t op, int32_t right);

// compare-op-fast / -int-fast: the logic! result pushed.
void compare_op_fast(const Cell* name, int32_t op, const Cell* value1, const Cell* value2);
void compare_op_int_fast(const Cell* name, int32_t op, const Cell* value, int32_t right);
// compare-op-cond / -int-cond: the bare condition (inverted by `negate`);
// nothing stays on the stack.
bool compare_op_cond(const Cell* name, int32_t op, const Cell* value1, const Cell* value2, bool negate);
bool compare_op_int_cond(const Cell* name, int32_t op, const Cell* value, int32_t right, bool negate);
// compare-op-last-fast / -int-last-fast: the condition, also written as
// logic! into the result slot (the argument base).
bool compare_op_last_fast(const Cell* name, int32_t op, const Cell* value1, const Cell* value2);
bool compare_op_int_last_fast(const Cell* name, int32_t op, const Cell* value, int32_t right);
// compare-op-top-fast / -top-int-fast: the topmost cell compared with the
// value, replaced by the logic! result.
void compare_op_top_fast(const Cell* name, int32_t op, const Cell* value);
void compare_op_top_int_fast(const Cell* name, int32_t op, int32_t right);
// compare-to-logic: the two arguments at the argument base compared by
// `compare`, the logic! result written into the result slot.
void compare_to_logic(int32_t op);

// pick-fast: pushes the value at `index` of the series. For a block! from
// its position: 1..n (the values left) inline, 0 and past the tail none;
// anything else the series' path action with an integer! index.
void pick_fast(const Cell* name, const Cell* series, int32_t index);
// The inline case alone: the value picked (or none) in *out; false when the
// action must answer.
inline bool pick_inline(const Cell* series, int32_t index, Cell* out);

// series-op-fast: pushes the result of the navigation op on the series.
// Returns the action's unwind code (a port's actor runs Kiv code).
Unwind series_op_fast(const Cell* name, uint32_t op, const Cell* series);
// The inline case alone (a block! within its buffer): the result in *out;
// false when the action must answer.
bool series_op_inline(uint32_t op, const Cell* series, Cell* out);
// The navigation op code of an action slot, 0 for other actions.
uint32_t series_op_of_action(uint32_t slot);

// ---- Inline definitions ----------------------------------------------------------------

inline bool pick_inline(const Cell* series, int32_t index, Cell* out) {
    if (series->type() != TYPE_BLOCK || index < 0) return false;
    const SeriesBuffer* b = buffer_of(series->w2);
    uint32_t count = b->byte_count() >> 4;
    uint32_t pos = series->w1;
    if (pos > count) return false;
    if (index == 0 || uint32_t(index) > count - pos) {
        *out = Cell{TYPE_NONE, 0, 0, 0};
        return true;
    }
    *out = b->head_cell()[pos + uint32_t(index) - 1];
    return true;
}

}  // namespace kiv::actions
