// The fast paths' entry points and their action fallbacks (fast_paths.h).
#include "evaluator/fast_paths.h"

#include "datatypes/action_dispatch.h"
#include "datatypes/fixed_words.h"
#include "datatypes/none.h"
#include "runtime/lowlevel.h"
#include "runtime/stack.h"

namespace kiv::actions {

namespace {

[[noreturn]] void bad_op() {
    lowlevel::quit(101);
}

uint32_t math_slot(uint32_t op) {
    switch (op) {
        case OP_ADD:
            return ACT_ADD;
        case OP_SUB:
            return ACT_SUBTRACT;
        case OP_MUL:
            return ACT_MULTIPLY;
        case OP_OR:
            return ACT_OR_T;
        case OP_AND:
            return ACT_AND_T;
        case OP_XOR:
            return ACT_XOR_T;
        case OP_DIV:
            return ACT_DIVIDE;
        case OP_REM:
            return ACT_REMAINDER;
        default:
            bad_op();
    }
}

void check_compare_op(int32_t op) {
    if (op < COMP_EQUAL || op > COMP_FIND || op == COMP_SORT || op == COMP_CASE_SORT) bad_op();
}

// The action path: a native frame named `name` above the data top, the
// operands pushed as its arguments, the action's stack entry (none of these
// actions has a refinement), the frame popped. The result is pushed (one
// new cell at the old top). Returns the entry's unwind code (navigation on
// a port runs its actor); with a code the stacks are the exit's.
Unwind call_action(const Cell* name, uint32_t slot, const Cell& a, const Cell* b) {
    Cell first = a;
    Cell second = b ? *b : Cell{};
    stack::mark_native(name ? name : &fixed::words[fixed::W_ANON]);
    stack::push(first);
    if (b) stack::push(second);
    StackEntry f = generic_table[slot];
    if (!f) fire({"internal", "not-done"});
    int32_t no_refs[4] = {-1, -1, -1, -1};
    if (Unwind code = f(no_refs)) return code;
    stack::unwind();
    return UNWIND_NONE;
}

// The general comparison under a native frame: the logic! result pushed.
void compare_call(const Cell* name, int32_t op, const Cell& a, const Cell& b) {
    Cell first = a, second = b;
    stack::mark_native(name ? name : &fixed::words[fixed::W_ANON]);
    stack::push(first);
    stack::push(second);
    compare_to_logic(op);
    stack::unwind();
}

// The condition of a comparison of two cells, inline for two integers.
bool condition(const Cell* name, int32_t op, const Cell* a, const Cell* b) {
    check_compare_op(op);
    if (a->type() == TYPE_INTEGER && b->type() == TYPE_INTEGER) {
        bool known;
        bool r = compare_int(op, int32_t(a->w2), int32_t(b->w2), &known);
        if (known) return r;
    } else if (kernel_number(a->type()) && kernel_number(b->type())) {
        bool r;
        if (compare_float(op, a, b, &r)) return r;
    }
    Cell* mark = stack::top;
    compare_call(name, op, *a, *b);
    bool r = mark->w1 != 0;
    stack::top = mark;
    return r;
}

}  // namespace

// ---- Math -------------------------------------------------------------------------------

void math_op_fast(const Cell* name, uint32_t op, const Cell* value1, const Cell* value2) {
    uint32_t slot = math_slot(op);
    Cell r = none::cell();
    if (math_inline(op, value1, value2, &r)) {
        stack::push(r);
        return;
    }
    (void)call_action(name, slot, *value1, value2);  // the math actions run no Kiv code
}

void math_op_int_fast(const Cell* name, uint32_t op, const Cell* value, int32_t right) {
    Cell r = integer::cell(right);
    math_op_fast(name, op, value, &r);
}

void math_op_top_fast(const Cell* name, uint32_t op, const Cell* value) {
    uint32_t slot = math_slot(op);
    Cell* t = stack::top - 1;
    if (math_inline(op, t, value, t)) return;
    Cell left = *t;
    stack::top = t;
    (void)call_action(name, slot, left, value);  // the math actions run no Kiv code
}

void math_op_top_int_fast(const Cell* name, uint32_t op, int32_t right) {
    Cell r = integer::cell(right);
    math_op_top_fast(name, op, &r);
}

// ---- Comparisons ------------------------------------------------------------------------

void compare_to_logic(int32_t op) {
    Cell* a = stack::arg_base;
    bool r = compare(a, a + 1, op);
    *a = logic::cell(r);
}

void compare_op_fast(const Cell* name, int32_t op, const Cell* value1, const Cell* value2) {
    Cell r = logic::cell(condition(name, op, value1, value2));
    stack::push(r);
}

void compare_op_int_fast(const Cell* name, int32_t op, const Cell* value, int32_t right) {
    Cell r = integer::cell(right);
    compare_op_fast(name, op, value, &r);
}

bool compare_op_cond(const Cell* name, int32_t op, const Cell* value1, const Cell* value2, bool negate) {
    return condition(name, op, value1, value2) != negate;
}

bool compare_op_int_cond(const Cell* name, int32_t op, const Cell* value, int32_t right, bool negate) {
    Cell r = integer::cell(right);
    return condition(name, op, value, &r) != negate;
}

bool compare_op_last_fast(const Cell* name, int32_t op, const Cell* value1, const Cell* value2) {
    bool r = condition(name, op, value1, value2);
    *stack::arg_base = logic::cell(r);
    return r;
}

bool compare_op_int_last_fast(const Cell* name, int32_t op, const Cell* value, int32_t right) {
    Cell r = integer::cell(right);
    return compare_op_last_fast(name, op, value, &r);
}

void compare_op_top_fast(const Cell* name, int32_t op, const Cell* value) {
    Cell* t = stack::top - 1;
    Cell left = *t;
    Cell right = *value;
    *t = logic::cell(condition(name, op, &left, &right));
}

void compare_op_top_int_fast(const Cell* name, int32_t op, int32_t right) {
    Cell r = integer::cell(right);
    compare_op_top_fast(name, op, &r);
}

// ---- Blocks -----------------------------------------------------------------------------

void pick_fast(const Cell* name, const Cell* series, int32_t index) {
    Cell r = none::cell();
    if (pick_inline(series, index, &r)) {
        stack::push(r);
        return;
    }
    // The series' path action with an integer! index, under a native frame.
    Cell s = *series;
    stack::mark_native(name ? name : &fixed::words[fixed::W_ANON]);
    Cell* parent = stack::push(s);
    Cell* element = stack::push(integer::cell(index));
    // A get step runs no Kiv code (only a set reports to change hooks).
    Cell* v = eval_path(parent, element, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false).cell;
    *stack::arg_base = v ? *v : none::cell();
    stack::unwind();
}

uint32_t series_op_of_action(uint32_t slot) {
    switch (slot) {
        case ACT_LENGTH_Q:
            return SO_LENGTH_Q;
        case ACT_INDEX_Q:
            return SO_INDEX_Q;
        case ACT_HEAD_Q:
            return SO_HEAD_Q;
        case ACT_TAIL_Q:
            return SO_TAIL_Q;
        case ACT_NEXT:
            return SO_NEXT;
        case ACT_BACK:
            return SO_BACK;
        case ACT_HEAD:
            return SO_HEAD;
        case ACT_TAIL:
            return SO_TAIL;
        default:
            return 0;
    }
}

bool series_op_inline(uint32_t op, const Cell* series, Cell* out) {
    if (series->type() != TYPE_BLOCK) return false;
    uint32_t count = buffer_of(series->w2)->byte_count() >> 4;
    uint32_t pos = series->w1;
    if (pos > count) return false;  // a position past a shrunk tail: the action clamps it
    uint32_t n = count - pos;
    Cell r = *series;
    switch (op) {
        case SO_LENGTH_Q:
            r = integer::cell(int32_t(n));
            break;
        case SO_INDEX_Q:
            r = integer::cell(int32_t(pos + 1));
            break;
        case SO_HEAD_Q:
            r = logic::cell(pos == 0);
            break;
        case SO_TAIL_Q:
            r = logic::cell(n < 1);
            break;
        case SO_NEXT:
            if (n >= 1) r.w1 = pos + 1;
            break;
        case SO_BACK:
            if (pos > 0) r.w1 = pos - 1;
            break;
        case SO_HEAD:
            r.w1 = 0;
            break;
        case SO_TAIL:
            r.w1 = count;
            break;
        default:
            return false;
    }
    *out = r;
    return true;
}

Unwind series_op_fast(const Cell* name, uint32_t op, const Cell* series) {
    static constexpr uint32_t slots[] = {0,       ACT_LENGTH_Q, ACT_INDEX_Q, ACT_HEAD_Q, ACT_TAIL_Q,
                                         ACT_NEXT, ACT_BACK,     ACT_HEAD,    ACT_TAIL};
    if (op < 1 || op > 8) bad_op();
    Cell r = none::cell();
    if (series_op_inline(op, series, &r)) {
        stack::push(r);
        return UNWIND_NONE;
    }
    return call_action(name, slots[op], *series, nullptr);
}

}  // namespace kiv::actions
