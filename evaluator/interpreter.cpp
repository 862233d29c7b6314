#include "evaluator/interpreter.h"


#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/scalar.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/action_dispatch.h"
#include "datatypes/call_layout.h"
#include "evaluator/fast_paths.h"
#include "evaluator/interpreter_internal.h"
#include "evaluator/natives.h"
#include "evaluator/path_steps.h"
#include "evaluator/pure_calls.h"
#include "runtime/arena.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/lowlevel.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::interpreter {

using namespace detail;
using namespace spec;

bool tracing = false;
volatile std::sig_atomic_t interrupt_requested = 0;

namespace {

// ==== Interpreter state ======================================================================

// The code being evaluated, its expression in progress at `expr` (null
// before any): one pointer saved and restored per block, paren or body run,
// read only when an error or a trace report needs the position.
const Code* current_code = nullptr;

struct PositionGuard {
    const Code* saved;
    // Saves the current position and moves it to the start of `c`.
    explicit PositionGuard(Code& c) : saved(current_code) {
        c.expr = c.pos;
        current_code = &c;
    }
    ~PositionGuard() { current_code = saved; }
};

// Machine-stack guard: evaluation recurses on the C++ stack (every call, block
// and single expression checks it); below the floor a clean stack overflow is
// raised before the real stack runs out. The margin left below the floor
// covers the deepest stretch between two checks and the raising of the
// error; on a small stack it is a quarter of the stack, so the guard works
// at any stack size.
uintptr_t stack_floor = 0;
uintptr_t stack_ceiling = 0;

#if defined(__SANITIZE_ADDRESS__)
constexpr uintptr_t STACK_MARGIN = 2u << 20;
#else
constexpr uintptr_t STACK_MARGIN = 512u << 10;
#endif

void init_stack_guard() {
    uintptr_t addr = 0;
    size_t size = 0;
    if (lowlevel::thread_stack(&addr, &size) && size > 0) {
        uintptr_t margin = std::min<uintptr_t>(STACK_MARGIN, size / 4);
        stack_floor = addr + margin;
        stack_ceiling = addr + size;
    }
}

[[noreturn]] void machine_overflow() {
    cycles::reset();
    fire({"internal", "stack-overflow"});
}

// The stack pointer itself: taking the frame address would make every
// function that checks keep a frame pointer.
inline uintptr_t stack_pointer() {
    uintptr_t probe;
#if defined(__x86_64__)
    asm("mov %%rsp, %0" : "=r"(probe));
#else
    probe = uintptr_t(__builtin_frame_address(0));
#endif
    return probe;
}

inline void check_machine_stack() {
    const uintptr_t probe = stack_pointer();
    if (probe < stack_floor && probe + (64u << 20) > stack_floor) [[unlikely]]
        machine_overflow();
}

}  // namespace

namespace detail {

void init_loop_state() {
    current_code = nullptr;
    init_stack_guard();
}

uintptr_t machine_stack_left() {
    const uintptr_t probe = stack_pointer();
    return stack_floor && probe > stack_floor ? probe - stack_floor : 0;
}

uint32_t trace_mask = 0;

[[gnu::noinline]] Unwind send_event(uint32_t ev, const Code* c, const Cell* value, const Cell* ref) {
    Cell code = c ? code_cell(*c) : none::cell();
    int32_t offset = c ? int32_t(c->pos) : -1;
    return fire_event(ev, c ? &code : nullptr, offset, value, ref);
}

}  // namespace detail

namespace {

// ==== Integer infix fast path =========================================================================
//
// An operator made from add, subtract, multiply, remainder or one of the
// comparison natives, with integer! operands, is computed in place: the
// result is the one the call gives (the integer math worker itself on
// overflow, which turns the result float!; comparisons of two integers cannot
// fail). Anything else, a remainder by 0 included, takes the ordinary call.
// `source` is the operator's source type and `id` its action or native
// number; the result replaces *out. Never used while tracing, which must see
// every call.
// NoCall: refuses an overflow instead of calling the math worker, so that
// the caller stays a leaf (the caller then repeats the step with the worker).
template <bool NoCall = false>
inline bool integer_infix(uint32_t source, uint32_t id, int32_t left, int32_t right, Cell* out) {
    int32_t r;
    if (source == TYPE_ACTION) {
        switch (id) {
            case ACT_ADD:
                if (__builtin_add_overflow(left, right, &r)) [[unlikely]]
                    return !NoCall && actions::math_int(OP_ADD, left, right, out);
                break;
            case ACT_SUBTRACT:
                if (__builtin_sub_overflow(left, right, &r)) [[unlikely]]
                    return !NoCall && actions::math_int(OP_SUB, left, right, out);
                break;
            case ACT_MULTIPLY:
                if (__builtin_mul_overflow(left, right, &r)) [[unlikely]]
                    return !NoCall && actions::math_int(OP_MUL, left, right, out);
                break;
            case ACT_REMAINDER:
                if (right == 0 || (left == INT32_MIN && right == -1)) return false;
                r = left % right;
                break;
            default:
                return false;
        }
        // As the math worker: the integer cell keeps its header, only the
        // value word changes.
        out->header = (out->header & ~header::TYPE_MASK) | TYPE_INTEGER;
        out->w2 = uint32_t(r);
        return true;
    }
    if (source != TYPE_NATIVE) return false;
    bool b;
    switch (id) {
        case natives::N_EQUAL_Q:
        case natives::N_STRICT_EQUAL_Q:
            b = left == right;
            break;
        case natives::N_NOT_EQUAL_Q:
            b = left != right;
            break;
        case natives::N_LESSER_Q:
            b = left < right;
            break;
        case natives::N_GREATER_Q:
            b = left > right;
            break;
        case natives::N_LESSER_OR_EQUAL_Q:
            b = left <= right;
            break;
        case natives::N_GREATER_OR_EQUAL_Q:
            b = left >= right;
            break;
        default:
            return false;
    }
    *out = logic::cell(b);
    return true;
}

// The operators of integer_infix, and divide, on integer! and float!
// operands of which at least one is a float! (or an integer division): the
// math and comparison kernels give the action's own result (fast_paths.h),
// or refuse what the action must answer (a division by integer zero, a
// comparison of special values the kernels leave, an op code they do not
// take). Inlined only into the out-of-line steps below, so that the
// integer-only cases stay lean.
[[gnu::always_inline]] inline bool number_infix(uint32_t source, uint32_t id, Cell* slot, const Cell* right) {
    if (source == TYPE_ACTION) {
        uint32_t op;
        switch (id) {
            case ACT_ADD:
                op = OP_ADD;
                break;
            case ACT_SUBTRACT:
                op = OP_SUB;
                break;
            case ACT_MULTIPLY:
                op = OP_MUL;
                break;
            case ACT_DIVIDE:
                op = OP_DIV;
                break;
            case ACT_REMAINDER:
                op = OP_REM;
                break;
            default:
                return false;
        }
        return actions::math_inline(op, slot, right, slot);
    }
    if (source != TYPE_NATIVE) return false;
    int32_t op;
    switch (id) {
        case natives::N_EQUAL_Q:
            op = COMP_EQUAL;
            break;
        case natives::N_STRICT_EQUAL_Q:
            op = COMP_STRICT_EQUAL;
            break;
        case natives::N_NOT_EQUAL_Q:
            op = COMP_NOT_EQUAL;
            break;
        case natives::N_LESSER_Q:
            op = COMP_LESSER;
            break;
        case natives::N_GREATER_Q:
            op = COMP_GREATER;
            break;
        case natives::N_LESSER_OR_EQUAL_Q:
            op = COMP_LESSER_EQUAL;
            break;
        case natives::N_GREATER_OR_EQUAL_Q:
            op = COMP_GREATER_EQUAL;
            break;
        default:
            return false;
    }
    if (slot->type() == TYPE_INTEGER && right->type() == TYPE_INTEGER) return false;
    bool b;
    if (!actions::compare_float(op, slot, right, &b)) return false;
    *slot = logic::cell(b);
    return true;
}

[[gnu::noinline]] bool number_infix_call(uint32_t source, uint32_t id, Cell* slot, const Cell* right) {
    return number_infix(source, id, slot, right);
}

// integer_infix, and number_infix for every other pair of integer! and
// float! operands: the kernel's answer for the operator (source type and
// action or native number) on *slot and *right, into *slot.
template <bool NoCall = false>
[[gnu::always_inline]] inline bool numeric_infix(uint32_t source, uint32_t id, Cell* slot, const Cell* right) {
    if (slot->type() == TYPE_INTEGER && right->type() == TYPE_INTEGER) {
        if (integer_infix<NoCall>(source, id, int32_t(slot->w2), int32_t(right->w2), slot)) return true;
        if (id != ACT_DIVIDE || source != TYPE_ACTION) return false;
    }
    return !NoCall && number_infix_call(source, id, slot, right);
}

// Both integer! or float! (the numbers the kernels take).
inline bool kernel_numbers(const Cell* a, const Cell* b) {
    return actions::kernel_number(a->type()) && actions::kernel_number(b->type());
}

// ==== Calls =======================================================================================

Unwind eval_expression(Code& c, bool lookahead, bool top_level);
Unwind eval_paren(const Cell& v_in);

// Evaluates the expressions of `c` from c.pos to its tail under the frame in
// force, each from `base` (the data top is reset there before each), with
// the current position on the expression in progress. The last value is
// left in *base; with no expression, unset is pushed there. An expression
// that starts with a word holding data or a callable is taken here
// (eval_word_statement) without a level of eval_expression.
[[gnu::always_inline]] inline Unwind eval_word_statement(Code& c, const Cell* word, const Cell* value);
// Word values eval_word_statement leaves to eval_expression: the errors
// (unset, op!).
constexpr uint64_t NOT_WORD_STATEMENT = type_bit(TYPE_UNSET) | type_bit(TYPE_OP);
[[gnu::always_inline]] inline Unwind eval_each(Code& c, Cell* base) {
    if (c.pos >= cell_count(c.node)) {
        stack::top = base;
        stack::push(unset::cell());
        return UNWIND_NONE;
    }
    do {
        stack::top = base;
        c.expr = c.pos;
        const Cell* p = cell_at(c.node, c.pos);
        const Cell* value;
        if (p->type() == TYPE_WORD && !tracing && (value = peek_value(p)) &&
            !((NOT_WORD_STATEMENT >> (value->type() & 63)) & 1)) {
            if (Unwind code = eval_word_statement(c, p, value)) return code;
        } else if (Unwind code = eval_expression(c, true, true)) {
            return code;
        }
    } while (c.pos < cell_count(c.node));
    return UNWIND_NONE;
}

// The expressions of block `b` evaluated under the frame in force, the
// last value left in *start; the block's end is reported (with Enter, its
// start too) when tracing is on, which code in the block may switch on.
template <bool Enter = false>
[[gnu::always_inline]] inline Unwind eval_block_into(const Cell& b, Cell* start) {
    Code c{b.w2, b.w1, b.w1, b.type()};
    PositionGuard guard(c);
    if (Enter) KIV_TRACE(EV_ENTER, &c, &b, nullptr);
    if (Unwind code = eval_each(c, start)) return code;
    KIV_TRACE(EV_EXIT, &c, start, nullptr);
    return UNWIND_NONE;
}

// The look-ahead's test: cell `pos` of the code is a word whose value is an op!.
inline bool operator_at(const Code& c, uint32_t pos) {
    if (pos >= cell_count(c.node)) return false;
    const Cell* next = cell_at(c.node, pos);
    if (next->type() != TYPE_WORD) return false;
    const Cell* val = peek_value(next);
    return val && val->type() == TYPE_OP;
}

// ---- Values without evaluation steps
//
// Outside tracing, an expression made only of values that need no call (a
// literal, a word holding plain data, a `word/integer` pick from a block, a
// paren holding one such expression) and of integer and float operators the kernels
// compute is given its value directly: nothing in it can fail, run code or
// allocate, so no frame, no argument fetch and no trace event is due. Its
// value is the one the ordinary evaluation gives. Anything else is left to
// the ordinary path, with nothing changed.

// Parens nested deeper than this take the ordinary path (bounds the
// recursion on the machine stack).
constexpr uint32_t QUICK_DEPTH = 4;

// The cells of a block's buffer, read in place: valid while nothing
// allocates, which holds for the whole of a quick evaluation.
struct Cells {
    const Cell* at;
    uint32_t n;
};
inline Cells cells_of_node(Off node) {
    const SeriesBuffer* b = buffer_of(node);
    return Cells{b->head_cell(), b->byte_count() >> 4};
}

// Out of line, for functions that push a frame inline: GCC would gather the frame's
// fields into vector registers (a dozen shuffles) before one wide store;
// separate stores are fewer instructions (fib -0.65%). The NO_IVOPTS form
// also keeps GCC from preparing the induction variables of the operator
// loop in quick_run (a dozen instructions before the first operator; fib
// -0.64 %), and from partial redundancy elimination (fib -0.5 %, objects
// -0.2 %, loops -0.25 %). KIV_NO_IVOPTS: that option alone, for functions no one inlines
// (eval_expression: loops -0.8 %, objects -0.6 %, blocks -0.5 %, fib +0.2 %;
// KIV_NO_IVOPTS_PRE, without partial redundancy elimination as well: loops,
// objects and blocks another -0.3 to -0.4 %; without GCSE and the moving
// of loop invariants (every loop pass here runs once or twice) all seven
// benchmarks another 0.1 to 0.7 %).
#if defined(__GNUC__) && !defined(__clang__)
#define KIV_SCALAR_STORES [[gnu::noinline, gnu::optimize("no-tree-slp-vectorize")]]
#define KIV_SCALAR_STORES_NO_IVOPTS [[gnu::noinline, gnu::optimize("no-tree-slp-vectorize", "no-ivopts", "no-tree-pre")]]
#define KIV_NO_IVOPTS [[gnu::optimize("no-ivopts")]]
#define KIV_NO_IVOPTS_PRE [[gnu::optimize("no-ivopts", "no-tree-pre", "no-gcse", "no-move-loop-invariants")]]
#else
#define KIV_NO_IVOPTS
#define KIV_NO_IVOPTS_PRE
#define KIV_SCALAR_STORES [[gnu::noinline]]
#define KIV_SCALAR_STORES_NO_IVOPTS [[gnu::noinline]]
#endif

bool quick_paren(const Cell& v, Cell* out, uint32_t depth);

// The value of one operand cell, as its evaluation pushes it.
inline bool quick_operand(const Cell* p, Cell* out, uint32_t depth) {
    uint32_t t = p->type();
    if (t == TYPE_WORD) {
        const Cell* val = peek_value(p);
        if (!val || !is_plain(val->type())) return false;
        *out = *val;
        return true;
    }
    if (is_inert(t)) {
        *out = *p;
        out->clear_new_line();
        return true;
    }
    if (t == TYPE_PATH) return peek_path(*p, out);
    if (t == TYPE_PAREN) return quick_paren(*p, out, depth);
    return false;
}

// The op! of the word at `pos`, or null.
inline const Cell* op_at(Cells cs, uint32_t pos) {
    if (pos >= cs.n) return nullptr;
    const Cell* w = cs.at + pos;
    if (w->type() != TYPE_WORD) return nullptr;
    const Cell* val = peek_value(w);
    return val && val->type() == TYPE_OP ? val : nullptr;
}

// The operator `op` at *pos applied by the number kernels (numeric_infix) to *slot and the
// operand after it; on success *pos moves past the operand and the result
// replaces *slot (as the ordinary call leaves it in the left operand's cell).
bool number_step(Cells cs, uint32_t* pos, Cell* slot, const Cell* op, uint32_t depth);
[[gnu::noinline]] bool number_step_right(uint32_t* pos, Cell* slot, const Cell* op, const Cell* right);
[[gnu::always_inline]] inline bool kernel_step(Cells cs, uint32_t* pos, Cell* slot, const Cell* op, uint32_t depth) {
    if (slot->type() != TYPE_INTEGER || *pos + 1 >= cs.n) [[unlikely]]
        return number_step(cs, pos, slot, op, depth);
    Cell right;
    if (!quick_operand(cs.at + *pos + 1, &right, depth)) return false;
    if (right.type() != TYPE_INTEGER ||
        !integer_infix(native::op_source_type(op), op->w1, int32_t(slot->w2), int32_t(right.w2), slot))
        [[unlikely]]
        return number_step_right(pos, slot, op, &right);
    *pos += 2;
    return true;
}

// kernel_step's other cases, out of line so that the integer one stays
// small enough to inline: a float! left operand, or a right operand that
// is a float! (or an integer division).
[[gnu::noinline]] bool number_step_right(uint32_t* pos, Cell* slot, const Cell* op, const Cell* right) {
    if (!actions::kernel_number(right->type())) return false;
    const uint32_t source = native::op_source_type(op);
    if (slot->type() == TYPE_INTEGER && right->type() == TYPE_INTEGER && (op->w1 != ACT_DIVIDE || source != TYPE_ACTION))
        return false;
    if (!number_infix(source, op->w1, slot, right)) return false;
    *pos += 2;
    return true;
}
[[gnu::noinline]] bool number_step(Cells cs, uint32_t* pos, Cell* slot, const Cell* op, uint32_t depth) {
    if (slot->type() != TYPE_FLOAT || *pos + 1 >= cs.n) return false;
    Cell right;
    if (!quick_operand(cs.at + *pos + 1, &right, depth)) return false;
    return number_step_right(pos, slot, op, &right);
}

bool quick_test_call(Cells cs, uint32_t* pos, Cell* out, uint32_t depth, const Cell* fn);

// The expression from *pos with its operators; on success *pos moves past it.
// Inlined into quick_conditional (called there it costs fib 1.5 %). With
// Calls, a word holding a native or a routine may start a call
// quick_test_call answers (the conditions and the values of blocks; a paren
// does without: its quick form is on the path of every operand).
template <bool Calls = true>
[[gnu::always_inline]] inline bool quick_run(Cells cs, uint32_t* pos, Cell* out, uint32_t depth) {
    if (*pos >= cs.n) return false;
    Cell v;
    const Cell* first = cs.at + *pos;
    if (!Calls) {
        if (!quick_operand(first, &v, depth)) return false;
    } else if (first->type() == TYPE_WORD) {
        const Cell* val = peek_value(first);
        if (!val) return false;
        if (!is_plain(val->type())) {
            if (val->type() == TYPE_ROUTINE || (val->type() == TYPE_NATIVE && val->w1 == natives::N_NOT))
                return quick_test_call(cs, pos, out, depth, val);
            return false;
        }
        v = *val;
    } else if (!quick_operand(first, &v, depth)) {
        return false;
    }
    uint32_t p = *pos + 1;
    while (const Cell* op = op_at(cs, p)) {
        if (!kernel_step(cs, &p, &v, op, depth)) return false;
    }
    *out = v;
    *pos = p;
    return true;
}

// The layout of a callable, when it is built already, that takes one
// evaluated argument accepting `type` and has no refinements: its call
// then fetches the argument as quick_run reads it and raises nothing
// before its entry runs.
inline bool one_evaluated_arg(const Cell* fn, uint32_t type) {
    const Off spec = built_typed_spec(fn);
    if (!spec) return false;
    const uint8_t* head = buffer_of(spec)->head_ptr();
    const SpecHeader* hp = reinterpret_cast<const SpecHeader*>(head);
    if (hp->fixed != 1 || hp->refinements != 0) return false;
    const SpecEntry* e = entry_in(head, 0);
    return (e->kind_mode & MODE_MASK) == MODE_EVAL && accepts(*e, type);
}

// A call at *pos, by a word (holding `fn`, a native or a routine), of `not`
// or of a routine whose entry tests its one argument's datatype (none?,
// block?, ...), whose argument is a quick expression: the answer the entry
// gives, without its frame, fetch and entry (nothing in it can fail, run
// code or allocate). Its argument takes every operator after it, so none
// follows the call. False, with nothing changed, for anything else.
[[gnu::noinline]] bool quick_test_call(Cells cs, uint32_t* pos, Cell* out, uint32_t depth, const Cell* fn) {
    if (depth >= QUICK_DEPTH) return false;
    // The argument first: a routine's test is looked up only for a quick one.
    uint32_t p = *pos + 1;
    Cell arg;
    if (!quick_run(cs, &p, &arg, depth + 1) || arg.type() == TYPE_UNSET) return false;
    uint32_t tested = 0;
    if (fn->type() == TYPE_ROUTINE && !(tested = routine::type_tested(fn))) return false;
    if (!one_evaluated_arg(fn, arg.type())) return false;
    *out = logic::cell(tested ? arg.type() == tested : !natives::lenient_true(&arg));
    *pos = p;
    return true;
}

// A paren holding one quick expression.
KIV_SCALAR_STORES_NO_IVOPTS bool quick_paren(const Cell& v, Cell* out, uint32_t depth) {
    if (depth >= QUICK_DEPTH) return false;
    Cells cs = cells_of_node(v.w2);
    uint32_t pos = v.w1;
    return quick_run<false>(cs, &pos, out, depth + 1) && pos == cs.n;
}

// The expression at c.pos; on success c.pos moves past it.
inline bool quick_expression(Code& c, Cell* out) {
    uint32_t pos = c.pos;
    if (!quick_run(cells_of_node(c.node), &pos, out, 0)) return false;
    c.pos = pos;
    return true;
}

// A block holding exactly one value that needs no evaluation step (a
// literal, a word holding plain data): its value into *out, as evaluating
// the block gives it. False for any other block (nothing changed). Inlined
// into the call path, so it leaves parens and paths to the block's
// evaluation: taking them through quick_operand costs fib 2.6 %.
inline bool single_value(const Cell& b, Cell* out) {
    const SeriesBuffer* buf = buffer_of(b.w2);
    if ((buf->byte_count() >> 4) != b.w1 + 1) return false;
    const Cell* p = buf->head_cell() + b.w1;
    const uint32_t t = p->type();
    if (t == TYPE_WORD) {
        const Cell* v = peek_value(p);
        if (!v || !is_plain(v->type())) return false;
        *out = *v;
        return true;
    }
    if (!is_inert(t)) return false;
    *out = *p;
    out->clear_new_line();
    return true;
}

// The conditionals (if, unless, either) whose condition is an expression
// needing no evaluation step (see quick_run) and whose branches are literal
// blocks, outside tracing: answered without the call's frame and argument
// fetch, since nothing in such a condition can fail, run code or allocate.
// A branch that needs evaluating runs under a frame naming the conditional,
// as under the native's own frame. False, with nothing changed, for any
// other form: the call takes the ordinary path.
static_assert(natives::N_UNLESS == natives::N_IF + 1 && natives::N_EITHER == natives::N_IF + 2,
              "the conditionals are numbered together");
KIV_SCALAR_STORES_NO_IVOPTS bool quick_conditional(const Cell& name, uint32_t id, Code& c, Unwind* code) {
    const uint32_t blocks = id == natives::N_EITHER ? 2 : 1;
    Cells cs = cells_of_node(c.node);
    uint32_t pos = c.pos;
    Cell cond;
    // An unset condition is left to the native, which raises its error.
    if (!quick_run(cs, &pos, &cond, 0) || cond.type() == TYPE_UNSET) return false;
    if (pos + blocks > cs.n) return false;
    // Each branch a block, with no operator after the last (an operator
    // would take the block as its left operand; after an earlier one the
    // next block stands).
    const Cell* first = cs.at + pos;
    for (uint32_t k = 0; k < blocks; ++k)
        if (first[k].type() != TYPE_BLOCK) return false;
    if (op_at(cs, pos + blocks)) return false;
    const bool truth = natives::lenient_true(&cond);
    const Cell* branch = id == natives::N_IF       ? (truth ? first : nullptr)
                         : id == natives::N_UNLESS ? (truth ? nullptr : first)
                                                   : (truth ? first : first + 1);
    c.pos = pos + blocks;
    *code = UNWIND_NONE;
    Cell value;
    if (!branch) {
        stack::push(none_value);
    } else if (single_value(*branch, &value)) {
        stack::push(value);
    } else {
        // The frame holds the block for the collector (the code may drop
        // every other reference to it); its base is the cell the value
        // goes to.
        check_machine_stack();
        const Cell b = *branch;
        Cell* start = stack::push_frame(&name, stack::MARK_INTERP_NATIVE, 0, b.w2);
        if ((*code = eval_block_into(b, start))) return true;
        stack::unwind_own();
    }
    return true;
}

// `any` and `all` with a literal block (no operator after it), outside
// tracing: the native's frame and argument laid out as its call lays them
// out, and its work (eval_truth) done here, without the argument fetch and
// the dispatch through the natives table. False, with nothing changed, for
// any other form: the call takes the ordinary path.
static_assert(natives::N_ANY == natives::N_IF + 3 && natives::N_ALL == natives::N_IF + 4,
              "any and all follow the conditionals");
[[gnu::noinline]] bool quick_truth(const Cell& name, uint32_t id, Code& c, Unwind* code) {
    Cells cs = cells_of_node(c.node);
    const uint32_t pos = c.pos;
    if (tracing || pos >= cs.n || cs.at[pos].type() != TYPE_BLOCK || op_at(cs, pos + 1)) return false;
    const Cell b = cs.at[pos];
    check_machine_stack();
    Cell* base = stack::mark(&name, stack::MARK_INTERP_NATIVE);
    stack::push(b);  // the argument: holds the block for the collector
    c.pos = pos + 1;
    if ((*code = eval_truth(base, id == natives::N_ANY, base))) return true;
    stack::unwind_own();  // its own frame, the topmost again
    *code = UNWIND_NONE;
    return true;
}

// The look-ahead's form: the left operand is the topmost cell, c.pos is at
// the operator.
inline bool fast_infix(Code& c, Cell* slot, const Cell* op) {
    uint32_t pos = c.pos;
    if (!kernel_step(cells_of_node(c.node), &pos, slot, op, 0)) return false;
    c.pos = pos;
    stack::top = slot + 1;
    return true;
}

Unwind exec_infix(const Cell& name, const Cell& fn, Code& c);
Unwind call_function(const Cell& name, const Cell& fn, Code& c);
Unwind call_native(const Cell& name, const Cell& fn, Code& c);
Unwind call_routine_word(const Cell& name, const Cell& fn, Code& c);

// The call of the callable a word holds (`word`, its value `fn`), from the
// expression or argument path outside tracing: a conditional's quick form,
// or the call path of its kind.
[[gnu::always_inline]] inline Unwind call_word(const Cell& word, const Cell& fn, Code& c) {
    switch (fn.type()) {
        case TYPE_NATIVE:
            if (fn.w1 - natives::N_IF <= 2u) {
                Unwind code;
                if (quick_conditional(word, fn.w1, c, &code)) return code;
            } else if (fn.w1 - natives::N_ANY <= 1u) {
                Unwind code;
                if (quick_truth(word, fn.w1, c, &code)) return code;
            }
            return call_native(word, fn, c);
        case TYPE_ACTION:
            return call_native(word, fn, c);
        case TYPE_FUNCTION:
            return call_function(word, fn, c);
        default:
            return call_routine_word(word, fn, c);
    }
}

// The call of the operator at c.pos (the word `next`, its op! value `op`)
// whose left operand is in *slot, the topmost cell. Out of line: the
// kernel answers the common cases in apply_operators.
[[gnu::noinline]] Unwind call_operator(Code& c, Cell* slot, const Cell* next, const Cell* op) {
    Cell op_word = *next;
    // native::op_source's value, made as one copy and a header change.
    Cell src;
    std::memcpy(&src, op, sizeof(Cell));
    src.header = (src.header & ~(header::TYPE_MASK | header::OP_TYPE_MASK)) | native::op_source_type(op);
    KIV_TRACE(EV_FETCH, &c, &op_word, nullptr);
    ++c.pos;
    stack::top = slot + 1;  // the left operand becomes the first argument
    if (!tracing && src.type() != TYPE_FUNCTION && src.type() != TYPE_ROUTINE)
        return exec_infix(op_word, src, c);
    return exec_call(op_word, src, &c, nullptr, 0, true);
}

// Infix look-ahead: the operators that follow the value in *slot (the
// topmost cell) apply to it left to right. Without Kernel every one takes
// call_operator (the same results), for a rare caller that should not
// inline fast_infix once more.
template <bool Kernel = true>
[[gnu::always_inline]] inline Unwind apply_operators(Code& c, Cell* slot) {
    while (operator_at(c, c.pos)) {
        const Cell* next = cell_at(c.node, c.pos);
        const Cell* val = peek_value(next);
        if (Kernel && !tracing && fast_infix(c, slot, val)) continue;
        if (Unwind code = call_operator(c, slot, next, val)) return code;
    }
    return UNWIND_NONE;
}

// The code ended before argument `i` (entry index): an argument whose
// typeset accepts unset! receives unset (it is optional, as `help`'s word
// is), whatever its fetch mode; any other is missing.
[[gnu::noinline]] Unwind missing_arg(const Cell& name, Off spec, uint32_t i) {
    if (!accepts(*entry_at(spec, i), TYPE_UNSET)) {
        Cell n = name;
        fire({"script", "no-arg"}, n, word::unbound(entry_at(spec, i)->symbol));
    }
    stack::push(unset::cell());
    return UNWIND_NONE;
}

[[noreturn]] void expect_arg(const Cell& name, uint32_t type, uint32_t symbol) {
    Cell n = name;
    fire({"script", "expect-arg"}, n, datatype::cell(type), word::unbound(symbol));
}

inline void check_type(const Cell& name, const SpecEntry& e, const Cell* v) {
    if (!accepts(e, v->type())) [[unlikely]]
        expect_arg(name, v->type(), e.symbol);
}

// Fetches argument `i` (entry index) of the typed specification from the
// code by its mode, pushes it and checks its type. The entry is read in
// place before and after the fetch (a fetch evaluates code, which may move
// the buffer), not copied.
Unwind fetch_arg(const Cell& name, Off spec, uint32_t i, Code& c, bool single) {
    uint32_t mode = entry_at(spec, i)->kind_mode & MODE_MASK;
    if (c.pos >= cell_count(c.node)) [[unlikely]]
        return missing_arg(name, spec, i);
    if (mode == MODE_EVAL) [[likely]] {
        // An inert value (a block, a number, ...) is its own value, and a
        // word whose value is plain data (not a function, an operator or
        // unset) gives that value: either is pushed without the expression
        // machinery. Calls, paths and parens are evaluated as
        // eval_expression evaluates them, without its dispatch. Then the
        // operators after the value apply.
        Cell v = *cell_at(c.node, c.pos);
        if (!tracing) {
            Cell* slot = stack::top;
            const uint32_t t = v.type();
            if (is_inert(t)) {
                v.clear_new_line();
                stack::push(v);
                ++c.pos;
            } else if (t == TYPE_WORD) {
                const Cell* val = peek_value(&v);
                if (!val) goto general;
                const uint32_t vt = val->type();
                if (is_plain(vt)) {
                    stack::push(*val);
                    ++c.pos;
                } else if (is_callable(vt)) {
                    const Cell fn = *val;  // the word may change while the arguments are fetched
                    ++c.pos;
                    if (Unwind code = call_word(v, fn, c)) return code;
                } else {
                    goto general;
                }
            } else if (t == TYPE_PATH) {
                ++c.pos;
                if (Unwind code = walk_path(v, PATH_CALL, nullptr, &c)) return code;
            } else if (t == TYPE_PAREN) {
                ++c.pos;
                if (Unwind code = eval_paren(v)) return code;
            } else {
                goto general;
            }
            if (!single) {
                if (Unwind code = apply_operators(c, slot)) return code;
            }
            goto check;
        }
    general:
        if (Unwind code = eval_expression(c, !single, false)) return code;
    } else {
        Cell v = *cell_at(c.node, c.pos);
        KIV_TRACE(EV_FETCH, &c, &v, nullptr);
        ++c.pos;
        if (mode == MODE_QUOTED) {
            switch (v.type()) {
                case TYPE_PAREN:
                    if (Unwind code = eval(&v, false)) return code;
                    goto pushed;
                case TYPE_GET_WORD:
                    v = word_value(&v);
                    break;
                case TYPE_GET_PATH:
                    if (Unwind code = walk_path(v, PATH_GET, nullptr, nullptr)) return code;
                    goto pushed;
                default:
                    break;
            }
        }
        stack::push(v);
    pushed:
        KIV_TRACE(EV_PUSH, &c, stack::top - 1, nullptr);
    }
check:
    const SpecEntry* e = entry_at(spec, i);
    uint32_t type = stack::top[-1].type();
    if (!accepts(*e, type)) [[unlikely]]
        expect_arg(name, type, e->symbol);
    return UNWIND_NONE;
}

// The operators from `pos` (the first one `op`) applied to *v by the
// number kernels: the position after them, or 0 (no operator ends there), at
// the first one it refuses, when they cannot all be. Out of line, so that
// kernel_step's inlining elsewhere is unchanged.
[[gnu::noinline]] uint32_t kernel_operators_general(Cells cs, uint32_t pos, Cell* v, const Cell* op) {
    do {
        if (!kernel_step(cs, &pos, v, op, 0)) return 0;
    } while ((op = op_at(cs, pos)));
    return pos;
}
// One step of kernel_operators when it is a common one (a right operand
// that is an integer, or a word holding data, and no overflow): 1, *pos
// moved past it; 0 when the kernel refuses it; -1 for any other step (a
// paren or path operand, an overflow, a remainder the kernel refuses),
// nothing of it changed.
[[gnu::always_inline]] inline int leaf_step(Cells cs, uint32_t* pos, Cell* v, const Cell* op) {
    if (v->type() != TYPE_INTEGER || *pos + 1 >= cs.n) return v->type() == TYPE_FLOAT ? -1 : 0;
    const Cell* p = cs.at + *pos + 1;
    if (p->type() == TYPE_WORD) {
        // As quick_operand: a word whose value is not plain data, or cannot
        // be read, has no quick value; one not a number stops it.
        p = peek_value(p);
        if (!p || p->type() != TYPE_INTEGER) return p && p->type() == TYPE_FLOAT ? -1 : 0;
    } else if (p->type() != TYPE_INTEGER) {
        return is_inert(p->type()) && p->type() != TYPE_FLOAT ? 0 : -1;
    }
    if (!integer_infix<true>(native::op_source_type(op), op->w1, int32_t(v->w2), int32_t(p->w2), v))
        return -1;
    *pos += 2;
    return 1;
}
// kernel_operators_general's answer with every step leaf_step takes made
// here, without a call; anything else goes on by the general loop from
// where it is.
KIV_NO_IVOPTS [[gnu::noinline]] uint32_t kernel_operators_leaf(Cells cs, uint32_t pos, Cell* v, const Cell* op) {
    do {
        if (int r = leaf_step(cs, &pos, v, op); r <= 0)
            return r ? kernel_operators_general(cs, pos, v, op) : 0;
    } while ((op = op_at(cs, pos)));
    return pos;
}
// The same answer: one operator (the common case, as `n - 1`) taken
// straight, not looped, so that the code saves almost no registers; more of
// them go on by the loop.
[[gnu::noinline]] uint32_t kernel_operators(Cells cs, uint32_t pos, Cell* v, const Cell* op) {
    if (int r = leaf_step(cs, &pos, v, op); r <= 0) return r ? kernel_operators_general(cs, pos, v, op) : 0;
    if ((op = op_at(cs, pos))) return kernel_operators_leaf(cs, pos, v, op);
    return pos;
}

// An argument that needs no evaluation step (a literal such as the blocks
// of the control natives, or a word holding plain data) taken as fetch_arg
// would take it, without the call: an evaluated argument whose type the
// entry accepts and which no operator follows. False, with nothing changed,
// for anything else. Not while tracing (fetch_arg reports nothing for it
// either way, but tracing goes by the ordinary path everywhere).
// WithOperators, for an argument whose operators apply to it (not an
// operator's right operand): operators after it that the number kernels
// computes are applied, as the look-ahead would apply them.
template <bool WithOperators = false>
[[gnu::always_inline]] inline bool plain_arg(Off spec, uint32_t i, Code& c) {
    const SeriesBuffer* b = buffer_of(c.node);
    const uint32_t n = b->byte_count() >> 4;
    uint32_t pos = c.pos;
    if (pos >= n) return false;
    const Cell* p = b->head_cell() + pos;
    Cell v;
    if (is_inert(p->type())) {
        v = *p;
        v.clear_new_line();
    } else if (p->type() == TYPE_WORD) {
        // A word holding plain data gives that value.
        const Cell* val = peek_value(p);
        if (!val || !is_plain(val->type())) return false;
        v = *val;
    } else {
        return false;
    }
    ++pos;
    if (pos < n && p[1].type() == TYPE_WORD) {
        const Cell* op = peek_value(p + 1);
        if (op && op->type() == TYPE_OP) {
            // An operator after it: the operators the number kernels
            // computes, when they apply to this argument; else the call.
            if (!WithOperators) return false;
            // The first step inline (the common one operator, as `n - 1`).
            const Cells cs{b->head_cell(), n};
            if (int r = leaf_step(cs, &pos, &v, op); r <= 0) {
                if (!r || !(pos = kernel_operators_general(cs, pos, &v, op))) return false;
            } else if ((op = op_at(cs, pos)) && !(pos = kernel_operators_leaf(cs, pos, &v, op))) {
                return false;
            }
        }
    }
    const SpecEntry* e = entry_at(spec, i);
    if ((e->kind_mode & MODE_MASK) != MODE_EVAL || !accepts(*e, v.type())) return false;
    stack::push(v);
    c.pos = pos;
    return true;
}

// Refinements named by a path, in path order (ordinals), with their activity.
struct RefUse {
    uint32_t ordinal;
    bool active;
};

// Reads the refinements a path names from element `start` on into `out`
// (room for every refinement: a name given twice raises); returns the count.
uint32_t path_refinements(const Cell& name, Off spec, const Cell& path, uint32_t start, RefUse* out) {
    uint32_t n = cell_count(path.w2);
    uint32_t count = 0;
    for (uint32_t i = start; i < n; ++i) {
        Cell el = *cell_at(path.w2, i);
        if (el.type() != TYPE_WORD && el.type() != TYPE_GET_WORD) fire({"script", "bad-refine"}, el);
        int32_t r = find_ref_word(spec, el.w2);
        if (r < 0) {
            Cell nm = name;
            Cell w = el;
            w.set_type(TYPE_WORD);
            w.clear_new_line();
            fire({"script", "no-refine"}, nm, w);
        }
        for (uint32_t k = 0; k < count; ++k)
            if (out[k].ordinal == uint32_t(r)) {
                Cell p = path;
                fire({"script", "dup-refine"}, p);
            }
        bool active = true;
        if (el.type() == TYPE_GET_WORD) {
            Cell v = word_value(&el);
            active = natives::lenient_true(&v);
        }
        out[count++] = {uint32_t(r), active};
    }
    return count;
}

// Pushes n none cells (no allocation, one overflow test).
inline void push_nones(uint32_t n) {
    Cell* t = stack::top;
    if (t + n >= stack::limit) [[unlikely]]
        stack::data_overflow(t + n);
    const Cell none = none_value;  // one read: the stores below could alias the global
    for (uint32_t k = 0; k < n; ++k) t[k] = none;
    stack::top = t + n;
}

// lay_out_absent's native case, from the layout's counts.
[[gnu::always_inline]] inline void lay_out_absent_native(uint32_t refinements, uint32_t ref_args,
                                                         int32_t* refs) {
    // Four entries in one store (most refined natives and actions have no
    // more), any further ones after.
    std::memset(refs, 0xFF, 4 * sizeof(int32_t));
    if (refinements > 4) {
        std::memset(refs + 4, 0xFF, 12 * sizeof(int32_t));
        for (uint32_t r = 16; r < refinements; ++r) refs[r] = -1;
    }
    // One or two argument cells (most refined natives and actions) stored
    // straight, not looped.
    Cell* t = stack::top;
    if (ref_args - 1 < 2u && t + ref_args < stack::limit) [[likely]] {
        const Cell none = none_value;
        t[0] = none;
        if (ref_args == 2) t[1] = none;
        stack::top = t + ref_args;
        return;
    }
    push_nones(ref_args);
}

// A function's refinement cells after its fixed arguments, every refinement
// absent: each one's flag false and its arguments none.
inline void push_absent_function_refinements(Off spec, uint32_t refinements) {
    const uint8_t* head = buffer_of(spec)->head_ptr();  // read in place: pushes do not allocate
    for (uint32_t r = 0; r < refinements; ++r) {
        const uint32_t nargs = entry_in(head, ref_index_in(head, r))->nargs;
        stack::push(false_value);
        push_nones(nargs);
    }
}

// Lays out the refinement cells of a call whose fixed arguments are pushed,
// every refinement absent: a function's flag false and arguments none; a
// native's arguments none and its refs[] entry -1.
[[gnu::always_inline]] inline void lay_out_absent(Off spec, bool func, int32_t* refs) {
    const SpecHeader* h = spec_header(spec);  // read in place: nothing here allocates
    const uint32_t refinements = h->refinements;
    if (!func) return lay_out_absent_native(refinements, h->ref_args, refs);
    // Sixteen entries in one fixed-size fill the compiler makes inline
    // (every refs array has room for 32), any further ones one by one.
    std::memset(refs, 0xFF, 16 * sizeof(int32_t));
    for (uint32_t r = 16; r < refinements; ++r) refs[r] = -1;
    push_absent_function_refinements(spec, refinements);
}

// The refinements a path names (from element `ref_start`), fetched in path
// order into the slots lay_out_absent made. Out of line: few calls name one.
[[gnu::noinline]] Unwind path_refinement_args(const Cell& name, Off spec, bool func, Cell* base,
                                              const Cell& path, uint32_t ref_start, Code* c, bool infix,
                                              int32_t* refs) {
    // One refinement named by a word, taking no argument (as append/only):
    // switched on here, without the general reading of the path.
    if (cell_count(path.w2) == ref_start + 1) {
        const Cell* el = cell_at(path.w2, ref_start);
        int32_t r;
        if (el->type() == TYPE_WORD && (r = find_ref_word(spec, el->w2)) >= 0) {
            const SpecEntry* re = entry_at(spec, ref_entry_index(spec, uint32_t(r)));
            if (re->nargs == 0) {
                if (func) base[re->fpos] = true_value;
                refs[r] = int32_t(re->npos);
                return UNWIND_NONE;
            }
        }
    }
    const uint32_t refinements = spec_header(spec)->refinements;
    RefUse small[16];
    std::vector<RefUse> big;
    RefUse* uses = small;
    if (refinements > 16) {
        big.resize(refinements);
        uses = big.data();
    }
    uint32_t count = path_refinements(name, spec, path, ref_start, uses);
    for (uint32_t u = 0; u < count; ++u) {
        uint32_t idx = ref_entry_index(spec, uses[u].ordinal);
        SpecEntry re = spec_entry(spec, idx);
        if (uses[u].active) {
            if (func) base[re.fpos] = true_value;
            refs[uses[u].ordinal] = int32_t(re.npos);
        }
        for (uint32_t k = 0; k < re.nargs; ++k) {
            SpecEntry ae = spec_entry(spec, idx + 1 + k);
            Unwind code = c ? fetch_arg(name, spec, idx + 1 + k, *c, infix) : missing_arg(name, spec, idx + 1 + k);
            if (code) return code;
            Cell v = *--stack::top;
            if (uses[u].active) base[func ? ae.fpos : ae.npos] = v;
        }
    }
    return UNWIND_NONE;
}

// Calls a routine whose arguments are in place from the argument base;
// its code is passed on as a native's is.
inline Unwind call_routine(const Cell& r) {
    routine::Fn f = routine::lookup(routine::code_of(&r));
    if (!f) fire({"internal", "routines"});
    return f(stack::arg_base);
}

// Memory outside the series arena ran out in a native (the C++ heap refused
// a request): the memory that request was for is gone with the unwinding, so
// it becomes the language's catchable error, raised from the native's call
// while its frame is still there.
[[noreturn, gnu::cold, gnu::noinline]] void out_of_memory() {
    fire({"internal", "no-memory"});
}

// Runs native number n, or the action in slot `slot`; its unwind code is
// the result.
inline Unwind run_native_fn(uint32_t n, const int32_t* refs) {
    natives::NativeFn f = n >= 1 && n <= natives::TABLE_SLOTS ? natives::natives_table[n - 1] : nullptr;
    if (!f) fire({"internal", "not-done"});
    Unwind code;
    try {
        code = f(false, refs);
    } catch (const std::bad_alloc&) {
        out_of_memory();
    }
    if (!code) memory::collect_owed();  // the result is on the data stack
    return code;
}
inline Unwind run_action(uint32_t slot, const int32_t* refs) {
    actions::StackEntry f = slot >= 1 && slot <= ACTION_COUNT ? actions::generic_table[slot] : nullptr;
    if (!f) fire({"internal", "not-done"});
    Unwind code;
    try {
        code = f(refs);
    } catch (const std::bad_alloc&) {
        out_of_memory();
    }
    if (!code) memory::collect_owed();  // the result is on the data stack
    return code;
}
// Runs an action or native entry; its unwind code is the result.
inline Unwind run_native(const Cell& fn, const int32_t* refs) {
    return fn.type() == TYPE_NATIVE ? run_native_fn(fn.w1, refs) : run_action(fn.w1, refs);
}

// The right operand of an operator call from exec_infix, outside tracing,
// as fetch_arg takes it without the expression machinery (an inert value, a
// word holding plain data or a callable, a paren, a path), without its call
// and without the look-up plain_arg would repeat. False, with nothing
// changed, for anything else (fetch_arg takes it).
[[gnu::always_inline]] inline bool infix_operand(const Cell& name, Off spec, Code& c, Unwind* code) {
    const SeriesBuffer* b = buffer_of(c.node);
    if (c.pos >= (b->byte_count() >> 4)) return false;
    Cell v = b->head_cell()[c.pos];
    const uint32_t t = v.type();
    const Cell* val = nullptr;
    if (t == TYPE_WORD) {
        val = peek_value(&v);
        if (!val || !(is_plain(val->type()) || is_callable(val->type()))) return false;
    } else if (!is_inert(t) && t != TYPE_PAREN && t != TYPE_PATH) {
        return false;
    }
    if ((entry_at(spec, 1)->kind_mode & MODE_MASK) != MODE_EVAL) return false;
    ++c.pos;
    *code = UNWIND_NONE;
    if (val) {
        if (is_plain(val->type())) {
            stack::push(*val);
        } else {
            const Cell fn = *val;  // the word may change while the arguments are fetched
            *code = call_word(v, fn, c);
        }
    } else if (t == TYPE_PAREN) {
        *code = eval_paren(v);
    } else if (t == TYPE_PATH) {
        *code = walk_path(v, PATH_CALL, nullptr, &c);
    } else {
        v.clear_new_line();
        stack::push(v);
    }
    if (*code) return true;
    const SpecEntry* e = entry_at(spec, 1);  // read after the evaluation, which may move it
    const uint32_t type = stack::top[-1].type();
    if (!accepts(*e, type)) [[unlikely]]
        expect_arg(name, type, e->symbol);
    return true;
}

// The call of an operator made from an action or a native of two plain
// arguments (no refinements), outside tracing: what exec_call does for it,
// its left operand the topmost value, without the steps no such call needs.
// The conditionals (an operator made from if, unless or either) and any
// other shape take exec_call.
Unwind exec_infix(const Cell& name, const Cell& fn, Code& c) {
    Off spec = typed_spec(&fn);
    const SpecHeader* hp = spec_header(spec);
    if (hp->fixed != 2 || hp->refinements != 0 ||
        (fn.type() == TYPE_NATIVE &&
         (fn.w1 == natives::N_IF || fn.w1 == natives::N_UNLESS || fn.w1 == natives::N_EITHER)))
        return exec_call(name, fn, &c, nullptr, 0, true);
    check_machine_stack();
    Cell* base = stack::top - 1;
    stack::top = base;
    stack::mark(&name, stack::MARK_INTERP_NATIVE);
    stack::top = base + 1;
    check_type(name, *entry_at(spec, 0), base);  // in place: nothing allocates here
    Unwind code;
    if (!tracing && infix_operand(name, spec, c, &code)) {
        if (code) return code;
    } else if ((code = fetch_arg(name, spec, 1, c, true))) {
        return code;
    }
    // With two integers the result is computed here, under the frame the
    // evaluation of the right operand ran in.
    if (kernel_numbers(base, base + 1) && !tracing && numeric_infix(fn.type(), fn.w1, base, base + 1)) {
        stack::unwind_own();
        return UNWIND_NONE;
    }
    KIV_TRACE(EV_CALL, &c, &fn, &name);
    int32_t refs[1];
    if (Unwind code = run_native(fn, refs)) return code;
    stack::unwind_own();
    KIV_TRACE(EV_RETURN, &c, stack::top - 1, &name);
    return UNWIND_NONE;
}

Unwind run_body(const Cell& fn, const Cell& name);
[[gnu::always_inline]] inline Unwind run_body_in_frame(const Cell& fn, const Cell& name, Cell* base,
                                                       Cell** result);
// Inlined into its two callers (eval and run_body): it runs for every block
// a function body, if, either or a loop evaluates.
[[gnu::always_inline]] inline Unwind eval_in_frame(const Cell& b);

// A body whose function carries a trace flag: tracing switched as the flag
// says for the body's run.
[[gnu::noinline]] Unwind eval_body_trace_flagged(const Cell& fn, const Cell& body) {
    bool saved = tracing;
    tracing = fn.header & header::FUNC_NO_TRACE ? false : trace_established;
    struct Restore {
        bool v;
        ~Restore() { tracing = v; }
    } restore{saved};
    return eval_in_frame(body);
}

// A block navigation action (next, back, head, tail and their tests) on a
// block!, its argument at `base`: answered in place as the action would
// answer it. False for any other call.
inline bool navigation_answer(const Cell& fn, uint32_t fixed_count, uint32_t refinements, Cell* base) {
    if (fn.type() != TYPE_ACTION || fixed_count != 1 || refinements != 0 || base->type() != TYPE_BLOCK ||
        tracing) [[likely]]
        return false;
    uint32_t op = actions::series_op_of_action(fn.w1);
    return op && actions::series_op_inline(op, base, base);
}

// A conditional (if, unless, either) whose arguments are in place from
// `base` under its frame, outside tracing: answered as its native answers
// it (the branch evaluated under this frame, pushed by the interpreter, so
// evaluating; the machine stack was checked on entry), the frame ended and
// *code set. False, with nothing done, for any other native.
[[gnu::always_inline]] inline bool conditional_answer(const Cell& name, const Cell& fn, Cell* base, Code* c,
                                                      Unwind* code) {
    if (tracing) return false;
    const Cell* branch;
    switch (fn.w1) {
        case natives::N_IF:
            branch = natives::lenient_true(base) ? base + 1 : nullptr;
            break;
        case natives::N_UNLESS:
            branch = natives::lenient_true(base) ? nullptr : base + 1;
            break;
        case natives::N_EITHER:
            branch = natives::strict_true(base) ? base + 1 : base + 2;
            break;
        default:
            return false;
    }
    if (branch && single_value(*branch, base)) {
        // A branch of one value needing no evaluation step: its value.
    } else if (branch) {
        const Cell b = *branch;
        Cell* start = stack::top;
        if ((*code = eval_block_into(b, start))) return true;
        *base = *start;
    } else {
        *base = none_value;
    }
    stack::unwind();
    *code = UNWIND_NONE;
    if (tracing && (trace_mask & EV_RETURN)) [[unlikely]]  // switched on inside the branch
        *code = send_event(EV_RETURN, c, stack::top - 1, &name);
    return true;
}

// The fixed arguments from `i` on that plain_arg<true> would take, taken in
// one pass (the same values, pushed in the same order): the code's buffer
// and the layout's entries (`e` is entry i) are read in place, as nothing
// here allocates. Returns the index of the first argument not taken. When
// the pushes could reach the data limit, none is taken: fetch_arg pushes
// them one by one and raises the overflow where it arises. A stop at an
// evaluated argument that is a word holding a callable value sets *call to
// the word's cell and *callee to the value (both in place).
[[gnu::always_inline]] inline uint32_t plain_args(const SpecEntry* e, uint32_t i, uint32_t fixed_count,
                                                  Code& c, const Cell** call, const Cell** callee) {
    Cell* top = stack::top;
    if (top + (fixed_count - i) >= stack::limit) [[unlikely]]
        return i;
    const SeriesBuffer* b = buffer_of(c.node);
    const Cell* head = b->head_cell();
    const uint32_t n = b->byte_count() >> 4;
    uint32_t pos = c.pos;
    const Cell* p;
    const Cell* val;
    // Each value is made in the next free cell (above the top until taken).
    for (; i < fixed_count; ++i, ++e) {
        if (pos >= n) break;
        p = head + pos;
        if (is_inert(p->type())) {
            *top = *p;
            top->clear_new_line();
        } else if (p->type() == TYPE_WORD) {
            val = peek_value(p);
        word_value:
            if (!val) break;
            if (!is_plain(val->type())) {
                if (is_callable(val->type()) && (e->kind_mode & MODE_MASK) == MODE_EVAL) {
                    *call = p;
                    *callee = val;
                }
                break;
            }
            *top = *val;
        } else {
            break;
        }
        uint32_t next = pos + 1;
        if (next < n && p[1].type() == TYPE_WORD) {
            const Cell* op = peek_value(p + 1);
            if (op && op->type() == TYPE_OP) {
                if (!(next = kernel_operators(Cells{head, n}, next, top, op))) break;
            } else {
                // The word after this argument is the next one's: its value
                // as just looked up (nothing changes in between).
                if ((e->kind_mode & MODE_MASK) != MODE_EVAL || !accepts(*e, top->type())) break;
                ++top;
                pos = next;
                ++e;
                if (++i == fixed_count) break;
                p = head + pos;
                val = op;
                goto word_value;
            }
        }
        if ((e->kind_mode & MODE_MASK) != MODE_EVAL || !accepts(*e, top->type())) break;
        ++top;
        pos = next;
    }
    stack::top = top;
    c.pos = pos;
    return i;
}

// Evaluated argument `i`, the word *call at c.pos holding the callable
// *callee (both read in place: nothing allocated since), outside tracing:
// fetched as fetch_arg fetches it (Kernel: as apply_operators).
template <bool Kernel = true>
[[gnu::always_inline]] inline Unwind call_arg(const Cell& name, Off spec, uint32_t i, Code& c,
                                              const Cell* call, const Cell* callee) {
    const Cell v = *call;
    const Cell fn = *callee;  // the word may change while the arguments are fetched
    Cell* slot = stack::top;
    ++c.pos;
    if (Unwind code = call_word(v, fn, c)) return code;
    if (Unwind code = apply_operators<Kernel>(c, slot)) return code;
    const SpecEntry* e = entry_at(spec, i);
    uint32_t type = stack::top[-1].type();
    if (!accepts(*e, type)) [[unlikely]]
        expect_arg(name, type, e->symbol);
    return UNWIND_NONE;
}

// The fixed arguments of a call that is not an operator's, fetched in order.
[[gnu::always_inline]] inline Unwind fetch_fixed(const Cell& name, Off spec, uint32_t fixed_count, Code& c) {
    for (uint32_t i = 0; i < fixed_count; ++i) {
        if (!tracing && plain_arg<true>(spec, i, c)) continue;
        if (Unwind code = fetch_arg(name, spec, i, c, false)) return code;
    }
    return UNWIND_NONE;
}

// The cells of a function's frame after its fixed arguments when the call
// names no refinement: the absent refinements, then the /local cells. Out
// of line: most functions have no refinements.
[[gnu::noinline]] void push_absent_function_tail(Off spec) {
    const SpecHeader* hp = spec_header(spec);  // read in place: pushes do not allocate
    push_absent_function_refinements(spec, hp->refinements);
    function::push_absent_refinement(int32_t(hp->locals));
}

// A call of a function! from the expression or argument path, outside
// tracing: exec_call's steps for a function whose body is a block the
// interpreter runs (run_body_in_frame's case), its refinements all absent,
// without the tests that serve the other kinds of call. Any other function
// takes exec_call.
KIV_SCALAR_STORES_NO_IVOPTS Unwind call_function(const Cell& name, const Cell& fn, Code& c) {
    const Off spec = typed_spec(&fn);
    const SpecHeader* hp = spec_header(spec);
    const uint32_t fixed_count = hp->fixed;
    // The cells after the fixed arguments: /local's alone (a count), or
    // with refinements (all ones: laid out by push_absent_function_tail).
    const uint32_t tail = hp->refinements ? ~0u : hp->locals;
    check_machine_stack();
    Cell* keeper = stack::push(fn);
    Cell* base = stack::mark_func(&name, fn.w1, stack::MARK_INTERP_FUNC);
    if (Unwind code = fetch_fixed(name, spec, fixed_count, c)) return code;
    if (tail) {
        if (tail == ~0u) [[unlikely]]
            push_absent_function_tail(spec);
        else
            function::push_absent_refinement(int32_t(tail));
    }
    Cell* result = base;
    if (tracing) [[unlikely]] {
        KIV_TRACE(EV_CALL, &c, &fn, &name);
        if (Unwind code = run_body(fn, name)) return code;
    } else if (Unwind code = run_body_in_frame(fn, name, base, &result)) {
        return code;
    }
    stack::pop_func_frame();
    // The result replaces the function value kept under the frame.
    *keeper = *result;
    stack::top = keeper + 1;
    KIV_TRACE(EV_RETURN, &c, stack::top - 1, &name);
    return UNWIND_NONE;
}

// The fixed arguments of a native's call from `i` on, where the first run
// of plain ones stopped (at a word holding a callable when `call` is set, as
// plain_args sets it). A separate loop after that run: a call whose
// arguments are all plain does not enter it. Kernel: as call_arg.
template <bool Kernel = true>
[[gnu::always_inline]] inline Unwind fetch_rest(const Cell& name, Off spec, uint32_t i, uint32_t fixed_count,
                                                Code& c, const Cell* call, const Cell* callee) {
    for (;;) {
        if (call) {
            if (Unwind code = call_arg<Kernel>(name, spec, i, c, call, callee)) return code;
        } else if (Unwind code = fetch_arg(name, spec, i, c, false)) {
            return code;
        }
        if (++i == fixed_count) return UNWIND_NONE;
        call = nullptr;
        if (!tracing && (i = plain_args(entry_at(spec, i), i, fixed_count, c, &call, &callee)) == fixed_count)
            return UNWIND_NONE;
    }
}

// A call of a native or an action from the expression or argument path,
// outside tracing: exec_call's steps for it without the tests that serve
// functions, operators and paths. The conditionals whose quick form was
// refused are answered after their arguments, as exec_call answers them.
// With Path, the call of a path (`find/case s x`) whose elements from
// `ref_start` on name refinements, laid out after the fixed arguments as
// exec_call lays them out (a path's conditional is not answered early).
template <bool Path>
[[gnu::always_inline]] inline Unwind call_native_as(const Cell& name, const Cell& fn, Code& c, const Cell* path,
                                                    uint32_t ref_start) {
    const Off spec = typed_spec(&fn);
    const uint8_t* head = buffer_of(spec)->head_ptr();  // read in place until the first fetch
    const SpecHeader* hp = reinterpret_cast<const SpecHeader*>(head);
    // The layout's counts, read once: a layout never changes once built.
    const uint32_t fixed_count = hp->fixed, refinements = hp->refinements, ref_args = hp->ref_args;
    if (refinements > 32) return exec_call(name, fn, &c, path, ref_start, false);
    check_machine_stack();
    Cell* base = stack::mark(&name, stack::MARK_INTERP_NATIVE);
    uint32_t taken = 0;
    const Cell* call = nullptr;
    const Cell* callee = nullptr;
    if (!tracing) [[likely]]
        taken = plain_args(entry_in(head, 0), 0, fixed_count, c, &call, &callee);
    if (taken < fixed_count) {
        if (Unwind code = fetch_rest(name, spec, taken, fixed_count, c, call, callee)) return code;
    }
    int32_t refs[32];
    if (fn.type() == TYPE_ACTION) {
        // (A path's elements are refinements the action may not have: its
        // call reads them first.)
        if (!Path && navigation_answer(fn, fixed_count, refinements, base)) {
            stack::unwind();
            return UNWIND_NONE;
        }
        if (refinements) lay_out_absent_native(refinements, ref_args, refs);
        if (Path) {
            if (Unwind code = path_refinement_args(name, spec, false, base, *path, ref_start, &c, false, refs))
                return code;
        }
        KIV_TRACE(EV_CALL, &c, &fn, &name);
        if (Unwind code = run_action(fn.w1, refs)) return code;
    } else {
        if (!Path && fn.w1 - natives::N_IF <= 2u) {
            Unwind code;
            if (conditional_answer(name, fn, base, &c, &code)) return code;
        }
        if (refinements) lay_out_absent_native(refinements, ref_args, refs);
        if (Path) {
            if (Unwind code = path_refinement_args(name, spec, false, base, *path, ref_start, &c, false, refs))
                return code;
        }
        KIV_TRACE(EV_CALL, &c, &fn, &name);
        if (Unwind code = run_native_fn(fn.w1, refs)) return code;
    }
    stack::unwind_own();  // its own frame, the topmost again
    KIV_TRACE(EV_RETURN, &c, stack::top - 1, &name);
    return UNWIND_NONE;
}
[[gnu::noinline]] Unwind call_native(const Cell& name, const Cell& fn, Code& c) {
    return call_native_as<false>(name, fn, c, nullptr, 0);
}
[[gnu::noinline]] Unwind call_native_refined(const Cell& name, const Cell& fn, Code& c, const Cell& path,
                                             uint32_t ref_start) {
    return call_native_as<true>(name, fn, c, &path, ref_start);
}

// The fixed arguments of a native's or an action's call, outside tracing,
// as call_native fetches them. Out of line: inlined into exec_call it
// shifts what the compiler inlines into call_native (wordfreq rises).
[[gnu::noinline]] Unwind native_fixed(const Cell& name, Off spec, uint32_t fixed_count, Code& c) {
    const Cell* call = nullptr;
    const Cell* callee = nullptr;
    const uint32_t taken = plain_args(entry_at(spec, 0), 0, fixed_count, c, &call, &callee);
    if (taken == fixed_count) return UNWIND_NONE;
    // Without the kernel's look-ahead after a call argument: inlining it
    // here once more costs the other call paths theirs.
    return fetch_rest<false>(name, spec, taken, fixed_count, c, call, callee);
}

// A call of a routine! from the expression or argument path, outside
// tracing: exec_call's steps for it (the frame, the fixed arguments as a
// native's are fetched, the entry, the frame's end), without the tests
// that serve the other kinds of call. A routine whose layout has
// refinements takes exec_call.
[[gnu::noinline]] Unwind call_routine_word(const Cell& name, const Cell& fn, Code& c) {
    if (fn.type() != TYPE_ROUTINE) [[unlikely]]
        return exec_call(name, fn, &c, nullptr, 0, false);
    const Off spec = typed_spec(&fn);
    const SpecHeader* hp = spec_header(spec);
    const uint32_t fixed_count = hp->fixed;
    if (hp->refinements) [[unlikely]]
        return exec_call(name, fn, &c, nullptr, 0, false);
    check_machine_stack();
    stack::mark(&name, stack::MARK_INTERP_NATIVE);
    if (fixed_count) {
        if (Unwind code = native_fixed(name, spec, fixed_count, c)) return code;
    }
    KIV_TRACE(EV_CALL, &c, &fn, &name);
    if (Unwind code = call_routine(fn)) return code;
    stack::unwind();
    KIV_TRACE(EV_RETURN, &c, stack::top - 1, &name);
    return UNWIND_NONE;
}

// The infix look-ahead of eval_word_statement. Out of line: inlined at
// every block evaluation it pushes the kernel's helpers out of line.
[[gnu::noinline]] Unwind statement_operators(Code& c, Cell* slot) {
    return apply_operators(c, slot);
}

// An expression of a block that starts with a word (`word`, its `value`
// read in place) holding plain data or a callable,
// outside tracing: the value pushed or the call made, then the operators
// after it, as eval_expression takes them at the top level.
inline Unwind eval_word_statement(Code& c, const Cell* word, const Cell* value) {
    Cell* slot = stack::top;
    const Cell v = *word;
    const Cell fn = *value;
    ++c.pos;
    if (is_plain(fn.type())) {
        stack::push(fn);
    } else if (Unwind code = call_word(v, fn, c)) {
        return code;
    }
    // Only a word can be an operator; most statements are followed by a
    // word (the next one's), whose value the look-ahead reads.
    if (c.pos < cell_count(c.node) && cell_at(c.node, c.pos)->type() == TYPE_WORD) {
        if (Unwind code = statement_operators(c, slot)) return code;
    }
    if (tracing && (trace_mask & EV_EXPR)) [[unlikely]]
        return send_event(EV_EXPR, &c, slot, nullptr);
    return UNWIND_NONE;
}

}  // namespace

Unwind detail::call_path_function(const Cell& name, const Cell& fn, Code& c) {
    return call_function(name, fn, c);
}
Unwind detail::call_path_native(const Cell& name, const Cell& fn, Code& c) {
    return call_native(name, fn, c);
}
Unwind detail::call_path_refined(const Cell& name, const Cell& fn, Code& c, const Cell& path, uint32_t ref_start) {
    return call_native_refined(name, fn, c, path, ref_start);
}
Unwind detail::call_path_routine(const Cell& name, const Cell& fn, Code& c) {
    return call_routine_word(name, fn, c);
}

Unwind detail::exec_call(const Cell& name, const Cell& fn, Code* c, const Cell* path, uint32_t ref_start,
                         bool infix) {
    check_machine_stack();
    KIV_TRACE(EV_OPEN, c, &name, nullptr);
    uint32_t type = fn.type();
    if (!is_callable(type)) fire({"internal", "not-done"});
    Off spec = typed_spec(&fn);
    const SpecHeader* hp = spec_header(spec);
    const uint32_t fixed_count = hp->fixed, refinements = hp->refinements, locals = hp->locals;
    bool func = type == TYPE_FUNCTION;

    // A function! value is kept on the data stack under its frame, so that
    // its body and context stay reachable even when the word that held it
    // is changed during the call.
    Cell* keeper = nullptr;
    Cell* base;
    if (infix) {
        Cell* left = stack::top - 1;
        stack::top = left;
        base = func ? stack::mark_func(&name, fn.w1, stack::MARK_INTERP_FUNC)
                    : stack::mark(&name, stack::MARK_INTERP_NATIVE);
        stack::top = left + 1;
    } else if (func) {
        keeper = stack::push(fn);
        base = stack::mark_func(&name, fn.w1, stack::MARK_INTERP_FUNC);
    } else {
        base = stack::mark(&name, stack::MARK_INTERP_NATIVE);
    }

    // Fixed arguments. A native's or an action's, outside tracing, as
    // call_native takes them: the plain ones in one pass, then the rest.
    uint32_t first = 0;
    if (!func && !infix && c && fixed_count && !tracing && type != TYPE_ROUTINE) {
        if (Unwind code = native_fixed(name, spec, fixed_count, *c)) return code;
        first = fixed_count;
    }
    for (uint32_t i = first; i < fixed_count; ++i) {
        if (i == 0 && infix) {
            check_type(name, *entry_at(spec, 0), base);  // in place: nothing allocates here
            continue;
        }
        if (!c) [[unlikely]] {
            if (Unwind code = missing_arg(name, spec, i)) return code;
            continue;
        }
        if (!tracing && plain_arg(spec, i, *c)) continue;
        if (Unwind code = fetch_arg(name, spec, i, *c, infix)) return code;
    }

    // An operator whose right operand had to be evaluated (a call, a
    // paren): with two integers the result is computed here, under the
    // frame the evaluation of the operand ran in.
    if (infix && fixed_count == 2 && refinements == 0 && kernel_numbers(base, base + 1) && !tracing &&
        numeric_infix(type, fn.w1, base, base + 1)) {
        stack::unwind();
        return UNWIND_NONE;
    }

    // (Not for a path naming refinements, which the action may not have.)
    if (!(path && ref_start < cell_count(path->w2)) && navigation_answer(fn, fixed_count, refinements, base)) {
        stack::unwind();
        return UNWIND_NONE;
    }

    // The conditionals, answered here as their natives answer them, without
    // the dispatch through the natives table.
    if (type == TYPE_NATIVE && !path && fixed_count >= 2) {
        Unwind code;
        if (conditional_answer(name, fn, base, c, &code)) return code;
    }
    // Refinements (the path's, from ref_start on).
    // (A frame-local array: no destructor on the call path; more than 32
    // refinements, which no built-in has, take room on the machine stack.)
    int32_t small_refs[32];
    int32_t* refs = small_refs;
    if (refinements) {
        if (refinements > 32) [[unlikely]]
            refs = static_cast<int32_t*>(__builtin_alloca(refinements * sizeof(int32_t)));
        lay_out_absent(spec, func, refs);
    }
    if (path && ref_start < cell_count(path->w2)) [[unlikely]] {
        if (Unwind code = path_refinement_args(name, spec, func, base, *path, ref_start, c, infix, refs))
            return code;
    }
    if (func && locals) function::push_absent_refinement(int32_t(locals));

    KIV_TRACE(EV_CALL, c, &fn, &name);

    Unwind code;
    switch (type) {
        case TYPE_FUNCTION: {
            Cell* result = base;
            code = keeper && !tracing ? run_body_in_frame(fn, name, base, &result) : run_body(fn, name);
            if (code) return code;
            if (keeper) {
                // The result replaces the function value kept under the frame.
                stack::pop_func_frame();
                *keeper = *result;
                stack::top = keeper + 1;
            } else {
                stack::unwind_func();
            }
            KIV_TRACE(EV_RETURN, c, stack::top - 1, &name);
            return UNWIND_NONE;
        }
        case TYPE_ROUTINE:
            code = call_routine(fn);
            if (code) return code;
            stack::unwind();
            break;
        default:
            code = run_native(fn, refs);
            if (code) return code;
            stack::unwind();
            break;
    }
    if (keeper) {
        *keeper = *(keeper + 1);
        stack::top = keeper + 1;
    }
    KIV_TRACE(EV_RETURN, c, stack::top - 1, &name);
    return UNWIND_NONE;
}

namespace {

// Runs a function!'s body; its frame (type 1) is open and its context
// values (arguments, flags, locals) sit from the argument base. The result
// goes to the argument base.
Unwind run_body(const Cell& fn, const Cell& name) {
    KIV_TRACE(EV_PROLOG, nullptr, &fn, &name);
    // The function's series, read before anything can allocate.
    const Cell* cells = buffer_of(fn.w3)->head_cell();
    Cell compiled = cells[function::CELL_CODE];
    Cell body = cells[function::CELL_BODY];
    Unwind code = UNWIND_NONE;
    if (compiled.type() == TYPE_INTEGER) {
        stack::mark_func_on_stack(&body_word(), fn.w1);
        routine::Fn f = routine::lookup(compiled.w2);
        if (!f) fire({"internal", "routines"});
        Cell* args = arena::ptr<Cell>(context::cell(fn.w1)->w2);
        code = f(args);
        if (!code) {
            *stack::arg_base = *args;
            stack::top = stack::arg_base + 1;
        }
    } else if (body.type() == TYPE_BLOCK) {
        // One frame is both the return target and the evaluation frame of
        // the body block (what eval would push): <body>, evaluating.
        check_machine_stack();
        stack::mark_on_stack(&body_word(), fn.w1, stack::MARK_BODY);
        if (fn.header & (header::FUNC_NO_TRACE | header::FUNC_TRACE)) [[unlikely]] {
            code = eval_body_trace_flagged(fn, body);
        } else {
            code = eval_in_frame(body);
        }
    } else {
        stack::mark_func_on_stack(&body_word(), fn.w1);
        *stack::arg_base = unset::cell();
        stack::top = stack::arg_base + 1;
    }
    // A return or exit ends here: the stacks were trimmed to the body frame
    // and its result slot holds the value.
    if (code == UNWIND_RETURN || code == UNWIND_EXIT) code = UNWIND_NONE;
    if (code) return code;
    KIV_TRACE(EV_EPILOG, nullptr, stack::arg_base, &name);
    stack::unwind_last();
    return UNWIND_NONE;
}

// The common case of run_body for a call the interpreter made (the
// function value kept in the cell under its frame): the function's own
// frame is the return target and the body's expressions are evaluated
// above its context values, as eval_branch evaluates a branch, so a call
// pushes one frame instead of two. Compiled bodies, bodies that are not
// blocks and functions with trace flags take run_body. The value is left in
// *base, or outside tracing in the cell *result is pointed at (the caller
// moves it, so it is not copied twice).
inline Unwind run_body_in_frame(const Cell& fn, const Cell& name, Cell* base, Cell** result) {
    const Cell* cells = buffer_of(fn.w3)->head_cell();
    const Cell body = cells[function::CELL_BODY];
    // The code cell is unset unless the function is a routine or has a
    // compact form worth running: the common case tests it once.
    const Cell code_cell = cells[function::CELL_CODE];
    const bool block_body =
        body.type() == TYPE_BLOCK && !(fn.header & (header::FUNC_NO_TRACE | header::FUNC_TRACE));
    if (code_cell.type() != TYPE_UNSET || !block_body) [[unlikely]] {
        if (code_cell.type() == TYPE_INTEGER || !block_body) {
            if (Unwind code = run_body(fn, name)) return code;
            return UNWIND_NONE;
        }
        if (pure::run(fn, base)) {
            *result = stack::top - 1;
            return UNWIND_NONE;
        }
    }
    stack::frames_top[-1].header |= stack::FRAME_RETURN_TARGET;  // the function's own frame
    if (fn.w1) {
        Cell* cc = buffer_of(fn.w1)->head_cell();
        cc->w2 = arena::off(base);
        cc->w3 = uint32_t(stack::top - base);
    }
    Cell* values_end = stack::top;
    Code c{body.w2, body.w1, body.w1, body.type()};
    PositionGuard guard(c);
    if (Unwind code = eval_each(c, values_end)) {
        // A return or exit ends here: the stacks were trimmed to this frame
        // and its base holds the value.
        if (code == UNWIND_RETURN || code == UNWIND_EXIT) return UNWIND_NONE;
        return code;
    }
    if (!tracing) [[likely]] {
        *result = values_end;
        return UNWIND_NONE;
    }
    // Tracing switched on inside the body still sees it end.
    *base = *values_end;
    KIV_TRACE(EV_EXIT, &c, base, nullptr);
    KIV_TRACE(EV_EPILOG, nullptr, base, &name);
    return UNWIND_NONE;
}

// ---- Parens

// A paren in an expression, its value pushed. Outside tracing, and when the
// frame in force is one the interpreter evaluates in (do/trace reads that
// bit of the frame below its own), it runs without a frame of its own: the
// paren is held in the cell its value replaces, for the collector.
[[gnu::always_inline]] inline Unwind eval_paren_inline(const Cell& v_in) {
    const stack::Frame* f = stack::ctop();
    if (tracing || !f || !(f->header & stack::FRAME_EVALUATING)) return eval(&v_in, false);
    check_machine_stack();
    Cell b = v_in;
    Cell* keep = stack::push(b);
    Cell* base = keep + 1;
    Code c{b.w2, b.w1, b.w1, b.type()};
    PositionGuard guard(c);
    if (Unwind code = eval_each(c, base)) return code;
    *keep = *base;
    stack::top = keep + 1;
    return UNWIND_NONE;
}

// The same, out of line, for the argument paths.
KIV_SCALAR_STORES Unwind eval_paren(const Cell& v_in) {
    return eval_paren_inline(v_in);
}

// ==== Expressions ========================================================================================

// The field of a set-word bound to an object's field that the context
// layer would store with no report (the object has no change hook): its
// value cell and its word cell, found once; a null value for any other
// word. Valid until the next allocation.
struct QuietField {
    Cell* value;
    Cell* word;
};
inline QuietField quiet_field(const Cell& word) {
    const Off ctx = word.w1;
    const uint32_t n = word.w3;
    if (!ctx || n == 0xFFFFFFFFu) return {nullptr, nullptr};
    const Cell* cc = context::cell(ctx);
    if (((cc->header & header::CONTEXT_KIND_MASK) >> header::CONTEXT_KIND_SHIFT) != context::KIND_OBJECT ||
        (cc->header & header::STACK_VALUES) || !cc->w2)
        return {nullptr, nullptr};
    if (cc[1].w3 != 0) return {nullptr, nullptr};  // the self cell: a change hook to run
    const SeriesBuffer* vb = buffer_of(cc->w2);
    const SeriesBuffer* wb = buffer_of(context::words_node(ctx));
    if (n >= (vb->byte_count() >> 4) || n >= (wb->byte_count() >> 4)) return {nullptr, nullptr};
    return {vb->head_cell() + n, wb->head_cell() + n};
}
// The quiet store of a field quiet_field found, as object::set_field_quiet.
inline void store_quiet(QuietField f, const Cell& value) {
    *f.value = value;
    f.word->header |= header::WORD_SET;
}

Unwind store_set(Code& c, const Cell& v_in, Cell* slot, bool top_level);

// The head word of a set-path, which names its frame.
inline Cell set_path_name(const Cell& v) {
    Cell head = cell_count(v.w2) > v.w1 ? *cell_at(v.w2, v.w1) : anon_word();
    return head.type() == TYPE_WORD ? head : anon_word();
}

// The quick part of a set's value from *pos: its first operand (a value
// needing no evaluation step; with `read`, already in *value) and the
// operators after it that the number kernels computes, into *value; *pos
// moves past them and *left is the operator there that the kernel refused
// (null when none follows). False, with nothing changed, when the first
// operand has no quick form.
inline bool quick_prefix(Cells cs, uint32_t* pos, Cell* value, const Cell** left, bool read = false) {
    uint32_t p = *pos;
    if (!read && (p >= cs.n || !quick_operand(cs.at + p, value, 0))) return false;
    ++p;
    const Cell* op;
    while ((op = op_at(cs, p)) && kernel_step(cs, &p, value, op, 0)) {
    }
    *pos = p;
    *left = op;
    return true;
}

// The rest of a set whose value's quick part (quick_prefix) is `value` and
// ends at `pos`: under the frame eval_set would open, the operator there
// (which the kernel refused) and the ones after it are called as the
// look-ahead calls them, then the store (which runs a change hook or
// refuses unset). Nothing read by the quick part is read again: `op` is the
// refused operator's value quick_prefix found (null when none follows),
// still in place since nothing has allocated.
[[gnu::noinline]] Unwind resume_set(Code& c, const Cell& v, Cell* slot, bool top_level, Cell value,
                                    uint32_t pos, const Cell* op) {
    const Cell name = v.type() == TYPE_SET_PATH ? set_path_name(v) : v;
    stack::mark(&name, stack::MARK_INTERP_NATIVE);
    stack::push(value);
    c.pos = pos;
    if (op) {
        if (Unwind code = call_operator(c, slot, cell_at(c.node, pos), op)) return code;
        if (Unwind code = apply_operators(c, slot)) return code;
    }
    return store_set(c, v, slot, top_level);
}

// A set-word! whose value starts with a value needing no evaluation step,
// outside tracing. When the whole value is computed by the kernel it is
// stored where the context layer would store it: nothing can fail, so no
// frame naming the word for an error is needed. When an operator is left
// (a call, a paren, a decimal...), the set goes on by resume_set. False,
// with nothing changed, for anything else (eval_set then does it all).
inline bool quick_set(Code& c, const Cell& word, Cell* slot, bool top_level, Unwind* code) {
    // The value's quick part first (a value that needs a call, the usual
    // refusal, is refused before the word's slot is looked for).
    Cells cs = cells_of_node(c.node);
    uint32_t p = c.pos;
    Cell value;
    const Cell* left;
    if (!quick_prefix(cs, &p, &value, &left)) return false;
    if (left) [[unlikely]] {
        *code = resume_set(c, word, slot, top_level, value, p, left);
        return true;
    }
    if (value.type() == TYPE_UNSET) return false;
    // The slot (an object's field has none: the object layer's quiet store
    // sets it). Nothing here allocates, so the slot stays valid.
    Cell* dst = context::direct_slot(&word);
    Cell* mark = nullptr;  // the field's word cell, marked set by the store
    if (!dst) [[unlikely]] {
        QuietField field = quiet_field(word);
        if (!field.value) return false;
        dst = field.value;
        mark = field.word;
    }
    *dst = value;
    if (mark) mark->header |= header::WORD_SET;
    *slot = value;
    stack::top = slot + 1;
    c.pos = p;
    *code = UNWIND_NONE;
    return true;
}

// Map set-paths found to have no quick form (an operator the kernel
// refuses in the value, another kind of path): a loop meets the same
// refusal on every pass.
RefusalMemo refused_map_sets;

// The map! of a set-path on one of its keys (`m/:k: v`), the key into
// *key; null for any other set-path. Out of line: objects are the usual
// set-path target.
[[gnu::noinline]] const Cell* map_set_target(const Cell& v, Cell* key) {
    const Cell* cells;
    uint32_t count;
    const Cell* head = path_head(v, &cells, &count);
    return map_path_key(head, cells, count, key) ? head : nullptr;
}

// A set-path! on an object field (`p/y: p/y - 1`), or on one key of a
// map! (`m/:k: v`), whose value starts with a value needing no evaluation
// step, outside tracing. The target and the value's quick part are found
// first, reading only; false, with nothing changed, when either has no
// such form (eval_set then does it all). When the kernel computes the whole
// value and the store cannot fail (an object field with no change hook, a
// key the map holds: updated in place, nothing allocated), it is made with
// no frame; otherwise the set goes on by resume_set (a new map key is
// added under the set's frame).
[[gnu::noinline]] bool quick_set_path(Code& c, const Cell& v, Cell* slot, bool top_level, Unwind* code) {
    // The target first: a set-path on a block leaves at its head.
    FieldTarget t;
    Cell key;
    const Cell* map = nullptr;
    if (!set_target<true>(v, &t, &c)) {
        if (refused_map_sets.refused(v.w2, v.w1)) return false;
        map = map_set_target(v, &key);
        if (!map) {
            refused_map_sets.note(v.w2, v.w1);
            return false;
        }
        t = FieldTarget{Cell{}, 0, nullptr, nullptr, nullptr};
    }
    Cells cs = cells_of_node(c.node);
    uint32_t p = c.pos;
    Cell value;
    const Cell* left;
    // A value starting with the same path (`p/y: p/y - 1`) reads the target.
    if (t.current) value = *t.current;
    if (!quick_prefix(cs, &p, &value, &left, t.current != nullptr)) return false;
    if (map && left) {
        // An operator the kernel refused (a call after it, say): resuming
        // here would save nothing over eval_set.
        refused_map_sets.note(v.w2, v.w1);
        return false;
    }
    if (left || value.type() == TYPE_UNSET ||
        (map ? !map::update(map, &key, &value, false, nullptr) : t.obj.w3 != 0)) {
        *code = resume_set(c, v, slot, top_level, value, p, left);
        return true;
    }
    if (!map) {
        // The quiet store (object::set_field_quiet) through the cells the
        // target step found: nothing since allocated.
        *t.value = value;
        t.word->header |= header::WORD_SET;
    }
    *slot = value;
    stack::top = slot + 1;
    c.pos = p;
    *code = UNWIND_NONE;
    return true;
}

// The set-word! and set-path! forms, out of line so that eval_expression
// stays small for the common cases. `v` was read at c.pos - 1; its value
// goes to `slot`.
[[gnu::noinline]] Unwind eval_set(Code& c, const Cell& v_in, Cell* slot, bool top_level) {
    Cell v = v_in;
    if (c.pos >= cell_count(c.node)) fire({"script", "need-value"}, v);
    const Cell name = v.type() == TYPE_SET_PATH ? set_path_name(v) : v;
    stack::mark(&name, stack::MARK_INTERP_NATIVE);
    // A value that starts with a call by a global word (`x: length? s`),
    // outside tracing: the call and the operators after it, as
    // eval_expression takes them, without a second expression level. (Read
    // through the global values alone: one more peek_value here moves
    // peek_value out of line in the hot paths.)
    const Cell* w = cell_at(c.node, c.pos);
    if (!tracing && w->type() == TYPE_WORD && w->w1 == root::global_context) {
        const Cell* fv = context::global_value(w->w3);
        if (fv && is_callable(fv->type())) {
            const Cell word = *w;
            const Cell fn = *fv;
            ++c.pos;
            if (Unwind code = call_word(word, fn, c)) return code;
            if (Unwind code = apply_operators(c, slot)) return code;
            return store_set(c, v, slot, top_level);
        }
    }
    if (Unwind code = eval_expression(c, true, false)) return code;
    return store_set(c, v, slot, top_level);
}

// The rest of a set-word! or set-path! once its value is in *slot, under
// the frame eval_set opened: the store, its event and the frame's end.
Unwind store_set(Code& c, const Cell& v_in, Cell* slot, bool top_level) {
    Cell v = v_in;
    Cell value = *slot;
    if (v.type() == TYPE_SET_WORD) {
        if (value.type() == TYPE_UNSET) fire({"script", "need-value"}, v);
        // A word with a direct slot, or an object field with no change
        // hook, is stored as the context layer would store it.
        if (Cell* dst = context::direct_slot(&v)) {
            *dst = value;
        } else if (QuietField field = quiet_field(v); field.value) {
            store_quiet(field, value);
        } else if (Unwind code = context::set_word(&v, &value).code) {
            return code;
        }
    } else {
        if (Unwind code = walk_path(v, PATH_SET, &value, &c)) return code;
        stack::top = slot + 1;
    }
    KIV_TRACE(EV_SET, &c, &value, &v);
    stack::unwind_own();  // the frame eval_set or resume_set opened
    *slot = value;
    if (tracing && top_level && (trace_mask & EV_EXPR)) {
        if (Unwind code = send_event(EV_EXPR, &c, slot, nullptr)) return code;
    }
    return UNWIND_NONE;
}

// The call of a callable value met in the code itself, outside tracing: as
// a word holding it is called, with no name. Out of line: call_word inlined
// here once more would cost eval_expression's other cases registers.
[[gnu::noinline]] Unwind call_value(const Cell& fn, Code& c) {
    return call_word(anon_word(), fn, c);
}

// Evaluates the expression at c.pos and pushes its value (one new cell at
// the data top on entry); c.pos moves past it.
KIV_NO_IVOPTS_PRE Unwind eval_expression(Code& c, bool lookahead, bool top_level) {
    Cell* slot = stack::top;
    Cell v = *cell_at(c.node, c.pos);
    KIV_TRACE(EV_FETCH, &c, &v, nullptr);
    ++c.pos;
    switch (v.type()) {
        case TYPE_WORD: {
            Cell value = word_value(&v);
            switch (value.type()) {
                case TYPE_UNSET:
                    fire({"script", "no-value"}, v);
                case TYPE_NATIVE:
                case TYPE_ACTION:
                case TYPE_FUNCTION:
                case TYPE_ROUTINE:
                    if (Unwind code =
                            tracing ? exec_call(v, value, &c, nullptr, 0, false) : call_word(v, value, c))
                        return code;
                    break;
                case TYPE_OP:
                    fire({"script", "no-op-arg"}, v);
                default:
                    stack::push(value);
                    KIV_TRACE(EV_PUSH, &c, &value, nullptr);
                    break;
            }
            break;
        }
        case TYPE_SET_WORD: {
            Unwind code;
            if (!tracing && quick_set(c, v, slot, top_level, &code)) return code;
            return eval_set(c, v, slot, top_level);
        }
        case TYPE_SET_PATH: {
            Unwind code;
            if (!tracing && quick_set_path(c, v, slot, top_level, &code)) return code;
            return eval_set(c, v, slot, top_level);
        }
        case TYPE_GET_WORD: {
            Cell value = word_value(&v);
            stack::push(value);
            KIV_TRACE(EV_PUSH, &c, &value, nullptr);
            break;
        }
        case TYPE_LIT_WORD:
            v.set_type(TYPE_WORD);
            v.clear_new_line();
            stack::push(v);
            KIV_TRACE(EV_PUSH, &c, &v, nullptr);
            break;
        case TYPE_LIT_PATH:
            v.set_type(TYPE_PATH);
            v.clear_new_line();
            stack::push(v);
            KIV_TRACE(EV_PUSH, &c, &v, nullptr);
            break;
        case TYPE_GET_PATH:
            if (Unwind code = walk_path(v, PATH_GET, nullptr, &c)) return code;
            break;
        case TYPE_PATH:
            if (Unwind code = walk_path(v, PATH_CALL, nullptr, &c)) return code;
            break;
        case TYPE_PAREN:
            if (Unwind code = eval_paren_inline(v)) return code;
            break;
        case TYPE_ISSUE:
            if (c.pos < cell_count(c.node) && cell_at(c.node, c.pos)->type() == TYPE_BLOCK) [[unlikely]]
                fire({"internal", "kiv-system"});
            v.clear_new_line();
            stack::push(v);
            KIV_TRACE(EV_PUSH, &c, &v, nullptr);
            break;
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
            // A callable value in the code (as `compose` puts it there):
            // called as a word holding it is called, with no name.
            if (Unwind code = tracing ? exec_call(anon_word(), v, &c, nullptr, 0, false) : call_value(v, c))
                return code;
            break;
        case TYPE_OP:
            fire({"internal", "not-done"});
        default:
            v.clear_new_line();
            stack::push(v);
            KIV_TRACE(EV_PUSH, &c, &v, nullptr);
            break;
    }

    if (lookahead) {
        if (Unwind code = apply_operators(c, slot)) return code;
    }
    if (tracing && top_level && (trace_mask & EV_EXPR)) [[unlikely]]
        return send_event(EV_EXPR, &c, slot, nullptr);
    return UNWIND_NONE;
}

// Evaluates the block value's expressions under the frame the caller has
// just pushed (an evaluation or function body frame); the last value is
// left in the frame's base.
inline Unwind eval_in_frame(const Cell& b) {
    // The frame holds the block: the collector keeps it while it runs, even
    // when the code clears or replaces every other reference to it. Every
    // caller has just pushed that frame, so it is the topmost.
    (stack::frames_top - 1)->saved_values = b.w2;
    Code c{b.w2, b.w1, b.w1, b.type()};
    PositionGuard guard(c);
    KIV_TRACE(EV_ENTER, &c, &b, nullptr);
    if (Unwind code = eval_each(c, stack::arg_base)) return code;
    KIV_TRACE(EV_EXIT, &c, stack::arg_base, nullptr);
    return UNWIND_NONE;
}

}  // namespace

// ==== Public interface ==============================================================================
// The entries that run the loop or its quick paths; the others are in
// interpreter_entries.cpp, tracing in interpreter_trace.cpp.

KIV_SCALAR_STORES Unwind eval(const Cell* block, bool keep) {
    check_machine_stack();
    Cell b = *block;
    stack::mark_eval(&body_word());
    if (Unwind code = eval_in_frame(b)) return code;
    // The evaluation frame pushed above is the topmost again: popped as
    // unwind_last / unwind pop it, without their test for an empty frame stack.
    Cell* callee = stack::arg_base;
    stack::unwind_own();
    if (keep) copy_cell(callee, stack::arg_base);
    return UNWIND_NONE;
}

Unwind eval_branch(const Cell* block) {
    // Tracing events report the stacks, and do/trace reads the evaluating
    // bit of the frame below its own: either keeps the frame.
    const stack::Frame* f = stack::ctop();
    if (tracing || !f || !(f->header & stack::FRAME_EVALUATING)) [[unlikely]]
        return eval(block, true);
    check_machine_stack();
    Cell b = *block;
    Cell* base = stack::top;
    if (Unwind code = eval_block_into<true>(b, base)) return code;
    *stack::arg_base = *base;
    stack::top = stack::arg_base + 1;
    return UNWIND_NONE;
}

namespace {

// An interrupt asked for at a loop pass: the console's halt, as `halt`
// throws it (throw/name 'halt-request 'console), from a frame of its own
// that the throw drops.
[[gnu::noinline, gnu::cold]] Unwind halt_on_interrupt() {
    interrupt_requested = 0;
    const Cell name = word::load("throw");
    const Cell value = word::load("halt-request");
    const Cell catch_name = word::load("console");
    Cell* base = stack::mark(&name, stack::MARK_INTERP_NATIVE);
    base[0] = value;
    base[1] = catch_name;
    stack::top = base + 2;
    return stack::throw_value(UNWIND_THROW);
}

}  // namespace

KIV_SCALAR_STORES Unwind eval_pass(const Cell* block) {
    if (interrupt_requested) [[unlikely]]
        return halt_on_interrupt();
    if (tracing) [[unlikely]] {
        stack::reset();
        return eval(block, true);
    }
    // The call of the loop native checked the machine stack, at this same
    // depth; every deeper evaluation checks its own.
    Cell b = *block;
    Cell* base = stack::arg_base;
    Code c{b.w2, b.w1, b.w1, b.type()};
    PositionGuard guard(c);
    if (Unwind code = eval_each(c, base)) return code;
    stack::top = base + 1;
    KIV_TRACE(EV_EXIT, &c, base, nullptr);
    return UNWIND_NONE;
}

namespace {

// eval_next and eval_single: one expression from `index`, with or without
// the infix look-ahead after it.
Unwind eval_one(const Cell* block, uint32_t index, uint32_t* next, bool lookahead) {
    check_machine_stack();
    Cell b = *block;
    uint32_t n = cell_count(b.w2);
    if (index >= n) {
        stack::push(unset::cell());
        *next = n;
        return UNWIND_NONE;
    }
    Code c{b.w2, index, b.w1, b.type()};
    PositionGuard guard(c);
    stack::mark(&body_word(), stack::MARK_INTERP_NATIVE);
    stack::ctop()->saved_values = b.w2;  // keeps the block, as eval_in_frame does
    if (Unwind code = eval_expression(c, lookahead, false)) return code;
    stack::unwind();
    *next = c.pos;
    return UNWIND_NONE;
}

}  // namespace

Unwind eval_next(const Cell* block, uint32_t index, uint32_t* next) {
    return eval_one(block, index, next, true);
}

Unwind eval_single(const Cell* block, uint32_t index, uint32_t* next) {
    return eval_one(block, index, next, false);
}

bool quick_value(const Cell* block, uint32_t index, Cell* out, uint32_t* next) {
    if (tracing) return false;
    Code c{block->w2, index, block->w1, block->type()};
    if (!quick_expression(c, out)) return false;
    *next = c.pos;
    return true;
}

// any's and all's memo: a value that needs no evaluation step (`x > 0`) is
// read by the quick reader; at one found to need evaluation (`select m k`)
// it is not tried again for a while.
static RefusalMemo truth_refusals;

KIV_SCALAR_STORES Unwind eval_truth(const Cell* block, bool stop_on, Cell* out) {
    const Cell b = *block;
    if (b.w1 >= cell_count(b.w2)) {
        *out = none_value;
        return UNWIND_NONE;
    }
    Cell last;
    Cell* mark = stack::top;
    Code c{b.w2, b.w1, b.w1, b.type()};
    // The position moves to `c` at the first evaluated expression (as
    // eval_next's guard moves it) and comes back on any way out.
    struct Restore {
        const Code* saved;
        ~Restore() { current_code = saved; }
    } restore{current_code};
    bool framed = false;
    do {
        if (!truth_refusals.refused(b.w2, c.pos)) {
            // The cell the quick value would be pushed to (eval_next's
            // caller pushes it first).
            if (mark + 1 >= stack::limit) [[unlikely]]
                stack::data_overflow(mark + 1);
            Cell v;
            if (quick_value(&b, c.pos, &v, &c.pos)) {
                last = v;
                if (natives::lenient_true(&v) == stop_on) break;
                continue;
            }
            truth_refusals.note(b.w2, c.pos);
        }
        if (!framed) {
            check_machine_stack();
            current_code = &c;
            stack::mark(&body_word(), stack::MARK_INTERP_NATIVE);
            stack::ctop()->saved_values = b.w2;  // keeps the block, as eval_in_frame does
            framed = true;
        } else {
            stack::top = mark;
        }
        c.expr = c.pos;
        if (Unwind code = eval_expression(c, true, false)) return code;
        last = *mark;
        if (natives::lenient_true(&last) == stop_on) break;
    } while (c.pos < cell_count(b.w2));
    if (framed) stack::unwind_own();
    stack::top = mark;
    *out = natives::lenient_true(&last) ? last : none_value;
    return UNWIND_NONE;
}

Unwind call_pushed(const Cell* name_in, const Cell* fn_in, Cell* args, bool with_refinements) {
    check_machine_stack();
    Cell fn = source_of(fn_in);
    Cell name = name_in ? *name_in : anon_word();
    uint32_t type = fn.type();
    if (!is_callable(type)) {
        fire({"script", "invalid-arg"}, fn);
    }
    Off spec = typed_spec(&fn);
    SpecHeader h = *spec_header(spec);
    bool func = type == TYPE_FUNCTION;
    uint32_t given = uint32_t(stack::top - args);
    if (given < h.fixed) fire({"script", "no-arg"}, name, word::unbound(spec_entry(spec, given).symbol));
    for (uint32_t i = 0; i < h.fixed; ++i) check_type(name, spec_entry(spec, i), args + i);

    int32_t small_refs[32];
    std::vector<int32_t> big_refs;
    int32_t* refs = small_refs;
    if (h.refinements > 32) {
        big_refs.resize(h.refinements);
        refs = big_refs.data();
    }
    uint32_t full = h.fixed + h.refinements + h.ref_args;  // function layout without locals
    if (!with_refinements) {
        stack::top = args + h.fixed;
        for (uint32_t r = 0; r < h.refinements; ++r) {
            refs[r] = -1;
            SpecEntry re = spec_entry(spec, ref_entry_index(spec, r));
            if (func) stack::push(false_value);
            for (uint32_t k = 0; k < re.nargs; ++k) stack::push(none_value);
        }
    } else {
        if (given < full) {
            // The first missing cell names the argument (or refinement) lacking.
            uint32_t missing = given;
            uint32_t sym = 0;
            for (uint32_t i = 0; i < h.entries; ++i) {
                SpecEntry e = spec_entry(spec, i);
                if (e.fpos == missing) sym = e.symbol;
            }
            fire({"script", "no-arg"}, name, word::unbound(sym));
        }
        stack::top = args + full;
        // Refinement flags decide; arguments of absent refinements become none.
        for (uint32_t r = 0; r < h.refinements; ++r) {
            uint32_t idx = ref_entry_index(spec, r);
            SpecEntry re = spec_entry(spec, idx);
            bool active = natives::lenient_true(args + re.fpos);
            refs[r] = active ? int32_t(re.npos) : -1;
            if (func) args[re.fpos] = logic::cell(active);
            for (uint32_t k = 0; k < re.nargs; ++k) {
                SpecEntry ae = spec_entry(spec, idx + 1 + k);
                if (active) {
                    check_type(name, ae, args + ae.fpos);
                } else {
                    args[ae.fpos] = none_value;
                }
            }
        }
        if (!func) {
            // Natives take their refinement arguments without the flags:
            // close the gaps in specification order.
            for (uint32_t r = 0; r < h.refinements; ++r) {
                uint32_t idx = ref_entry_index(spec, r);
                SpecEntry re = spec_entry(spec, idx);
                for (uint32_t k = 0; k < re.nargs; ++k) {
                    SpecEntry ae = spec_entry(spec, idx + 1 + k);
                    args[ae.npos] = args[ae.fpos];
                }
            }
            stack::top = args + h.fixed + h.ref_args;
        }
    }
    if (func && h.locals) function::push_absent_refinement(int32_t(h.locals));

    Cell* end = stack::top;
    stack::top = args;
    if (func) {
        stack::mark_func(&name, fn.w1);
    } else {
        stack::mark_native(&name);
    }
    stack::top = end;

    Unwind code;
    switch (type) {
        case TYPE_FUNCTION:
            if ((code = run_body(fn, name))) return code;
            stack::unwind_func();
            break;
        case TYPE_ROUTINE:
            if ((code = call_routine(fn))) return code;
            stack::unwind();
            break;
        default:
            if ((code = run_native(fn, refs))) return code;
            stack::unwind();
            break;
    }
    return UNWIND_NONE;
}

Unwind run_function(const Cell* fn, Off) {
    Cell f = *fn;
    return run_body(f, anon_word());
}

void check_argument(const Cell* fn_in, const Cell* name, uint32_t index, const Cell* value) {
    Cell fn = source_of(fn_in);
    if (!is_callable(fn.type())) return;
    Off spec = typed_spec(&fn);
    if (index >= spec_header(spec)->fixed) return;
    check_type(name ? *name : anon_word(), spec_entry(spec, index), value);
}

Cell current_position() {
    if (!current_code) return none::cell();
    return Cell{current_code->type, current_code->expr, current_code->node, 0};
}

}  // namespace kiv::interpreter
