#include "evaluator/pure_calls.h"

#include "evaluator/fast_paths.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/call_layout.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "evaluator/fast_paths.h"
#include "evaluator/interpreter_internal.h"
#include "evaluator/natives.h"
#include "runtime/root.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::interpreter::pure {

using namespace detail;
using namespace spec;

namespace {

// ==== The compact form ========================================================================

// Instructions work on a stack of values; each leaves its result on top.
enum OpCode : uint16_t {
    OP_ARG,    // push argument a
    OP_CONST,  // push constant b
    OP_WORD,   // push the value of the word in constant b (plain data only)
    OP_NONE,   // push none (a conditional whose branch was not taken)
    OP_POP,    // drop the value of a finished expression
    OP_ADD,    // integer operators: left and right -> result
    OP_SUB,
    OP_MUL,
    OP_REM,
    OP_EQ,
    OP_NE,
    OP_LT,
    OP_GT,
    OP_LE,
    OP_GE,
    // push argument a with integer operator OP_ADD + (op - OP_ARG_ADD)
    // applied to it and constant b (in the same order as the operators)
    OP_ARG_ADD,
    OP_ARG_SUB,
    OP_ARG_MUL,
    OP_ARG_REM,
    OP_ARG_EQ,
    OP_ARG_NE,
    OP_ARG_LT,
    OP_ARG_GT,
    OP_ARG_LE,
    OP_ARG_GE,
    OP_JUMP_FALSE,  // pop a condition; jump to b when it is false
    OP_JUMP_TRUE,   // pop a condition; jump to b when it is true
    OP_JUMP,        // jump to b
    OP_CALL,        // call site b: its arguments on top are replaced by the result
    OP_RETURN,      // the top value is the body's result
};

struct Instr {
    uint16_t op;
    uint16_t a;
    uint32_t b;
};

struct Form;

// A block the form was made from: its cells from the block's index on.
struct Snapshot {
    Off node;
    uint32_t index;
    std::vector<Cell> cells;
};

// A word the form read and the value it had.
struct Guard {
    Cell word;
    Cell value;
};

// A call of another function: the function! value (its word is guarded)
// and, during a run, its form.
struct Site {
    Cell fn;
    Form* callee;
};

struct Form {
    Cell function{};  // the function! it was made from
    Off context() const { return function.w1; }
    Cell body{};  // the body block value it was made from
    uint32_t argc = 0;
    uint32_t nesting = 0;           // deepest nesting of calls, conditionals, operators and parens
    uint32_t stack_use = 0;         // most values the body has on the stack at once
    std::vector<uint64_t> allowed;  // per argument: the types it takes (plain ones only)
    bool open = false;              // every argument takes every plain type
    std::vector<Instr> code;
    std::vector<Cell> consts;
    std::vector<Snapshot> blocks;
    std::vector<Guard> guards;
    std::vector<Site> sites;
    uint64_t run = 0;        // the run it was last checked for
    uint32_t index = 0;      // in the table of forms
    uint32_t abandoned = 0;  // runs abandoned in it
    uint32_t remade = 0;     // times it was made again because its code or words changed
};

// A run abandoned is work done twice: a function whose runs were abandoned
// this often keeps no form.
constexpr uint32_t MAX_ABANDONED = 3;
// Code whose blocks or words change between most runs (a callee made anew
// for each call, say) is not worth a form either.
constexpr uint32_t MAX_REMADE = 4;

// Forms live in one table; a function's code cell names its form by index
// and by the table's generation (the table is emptied when it grows too
// large, which makes every earlier name stale).
std::vector<std::unique_ptr<Form>> forms;
uint32_t generation = 1;
constexpr size_t MAX_FORMS = 4096;
uint64_t run_count = 0;
Counts totals;

// The cells of a function!'s series that hold its form's state (see
// pure_calls.h).
Cell* code_cell(const Cell& fn) {
    return function::series_cell(&fn, function::CELL_CODE);
}
Cell* form_cell(const Cell& fn) {
    return function::series_cell(&fn, function::CELL_EXTRA);
}
void disable(const Cell& fn) {
    *code_cell(fn) = Cell{TYPE_UNSET, 0, 0, 0};
    Cell* fc = form_cell(fn);
    if (fc->type() == TYPE_HANDLE) *fc = Cell{TYPE_UNSET, 0, 0, 0};
}

bool same(const Cell& a, const Cell& b) {
    return std::memcmp(&a, &b, sizeof(Cell)) == 0;
}

// The kernel operator an op! stands for, or -1.
int kernel_op(const Cell& op) {
    const uint32_t source = native::op_source_type(&op);
    if (source == TYPE_ACTION) {
        switch (op.w1) {
            case ACT_ADD:
                return OP_ADD;
            case ACT_SUBTRACT:
                return OP_SUB;
            case ACT_MULTIPLY:
                return OP_MUL;
            case ACT_REMAINDER:
                return OP_REM;
            default:
                return -1;
        }
    }
    if (source != TYPE_NATIVE) return -1;
    switch (op.w1) {
        case natives::N_EQUAL_Q:
        case natives::N_STRICT_EQUAL_Q:
            return OP_EQ;
        case natives::N_NOT_EQUAL_Q:
            return OP_NE;
        case natives::N_LESSER_Q:
            return OP_LT;
        case natives::N_GREATER_Q:
            return OP_GT;
        case natives::N_LESSER_OR_EQUAL_Q:
            return OP_LE;
        case natives::N_GREATER_OR_EQUAL_Q:
            return OP_GE;
        default:
            return -1;
    }
}

// A word whose value a form may rely on between checks: bound to a context
// whose values are not a call's (those change with every call).
const Cell* guardable_value(const Cell& word) {
    const Off ctx = word.w1;
    if (!ctx) return nullptr;
    if (ctx != root::global_context && (context::cell(ctx)->header & header::STACK_VALUES)) return nullptr;
    return peek_value(&word);
}

// Functions whose layout a compilation found unbuilt: the compiler reads
// cells in place and may not allocate, so they are built after it and the
// compilation made again.
std::vector<Cell> unbuilt;

// The layout of a function! with fixed evaluated arguments only; null
// otherwise, or when it is not built yet (the function is noted).
const SpecHeader* plain_layout(const Cell& fn, Off* spec_out) {
    const Off spec = built_typed_spec(&fn);
    if (!spec) {
        unbuilt.push_back(fn);
        return nullptr;
    }
    const SpecHeader* hp = spec_header(spec);
    if (hp->refinements || hp->locals || hp->fixed > 64) return nullptr;
    for (uint32_t i = 0; i < hp->fixed; ++i)
        if ((entry_at(spec, i)->kind_mode & MODE_MASK) != MODE_EVAL) return nullptr;
    *spec_out = spec;
    return hp;
}

// ==== Making a form =============================================================================
//
// The compiler reads the body as the interpreter would evaluate it with the
// words' present values, and records those values as guards. It reads cells
// in place: nothing here allocates from the arena.

constexpr uint32_t MAX_NESTING = 32;

struct View {
    const Cell* at;
    uint32_t n;
};

struct Compiler {
    Form& f;
    int height = 0;

    void emit(uint16_t op, uint16_t a = 0, uint32_t b = 0) {
        f.code.push_back(Instr{op, a, b});
        switch (op) {
            case OP_ARG:
            case OP_CONST:
            case OP_WORD:
            case OP_NONE:
                ++height;
                break;
            case OP_POP:
            case OP_JUMP_FALSE:
            case OP_JUMP_TRUE:
                --height;
                break;
            default:
                if (op >= OP_ADD && op <= OP_GE) --height;
                if (op >= OP_ARG_ADD && op <= OP_ARG_GE) ++height;
                break;
        }
        f.stack_use = std::max<uint32_t>(f.stack_use, uint32_t(std::max(height, 0)));
    }
    uint32_t here() const { return uint32_t(f.code.size()); }
    // The latest jump target: where two instructions may not be merged.
    uint32_t label = ~0u;
    void land(uint32_t jump) {
        f.code[jump].b = here();
        label = here();
    }
    void guard(const Cell& word, const Cell& value) { f.guards.push_back(Guard{word, value}); }

    // The statements of a block or paren value; its last value is left.
    bool block(const Cell& b, uint32_t depth) {
        if (depth > MAX_NESTING) return false;
        f.nesting = std::max(f.nesting, depth);
        const SeriesBuffer* buf = buffer_of(b.w2);
        const uint32_t n = buf->byte_count() >> 4;
        if (b.w1 >= n) return false;  // an empty block's value is unset: left to the interpreter
        View v{buf->head_cell(), n};
        f.blocks.push_back(Snapshot{b.w2, b.w1, std::vector<Cell>(v.at + b.w1, v.at + n)});
        uint32_t pos = b.w1;
        for (;;) {
            if (!expression(v, &pos, depth)) return false;
            if (pos >= n) return true;
            emit(OP_POP);
        }
    }

    // An operand and the operators after it.
    bool expression(View v, uint32_t* pos, uint32_t depth) {
        if (!operand(v, pos, depth)) return false;
        for (;;) {
            if (*pos >= v.n) return true;
            const Cell& w = v.at[*pos];
            if (w.type() != TYPE_WORD) return true;
            // An argument holds plain data during a run (checked at each
            // call), so it is never an operator here.
            if (w.w1 == f.context()) return true;
            // A word that is not an operator starts the next expression,
            // which checks its value (a guard, or a look-up at run time
            // that takes plain data only).
            const Cell* val = guardable_value(w);
            if (!val) return false;
            if (val->type() != TYPE_OP) return true;
            guard(w, *val);
            const int k = kernel_op(*val);
            if (k < 0 || ++*pos >= v.n) return false;
            const uint32_t before = here();
            if (!operand(v, pos, depth + 1)) return false;
            // An argument and a constant under an operator: one instruction
            // (unless a jump lands between the two).
            if (here() == before + 1 && before > 0 && label != before && f.code[before - 1].op == OP_ARG &&
                f.code[before].op == OP_CONST) {
                const uint16_t a = f.code[before - 1].a;
                const uint32_t constant = f.code[before].b;
                f.code.resize(before - 1);
                height -= 2;
                emit(uint16_t(OP_ARG_ADD + (k - OP_ADD)), a, constant);
                continue;
            }
            emit(uint16_t(k));
        }
    }

    bool operand(View v, uint32_t* pos, uint32_t depth) {
        if (depth > MAX_NESTING) return false;
        f.nesting = std::max(f.nesting, depth);
        const Cell& p = v.at[(*pos)++];
        const uint32_t t = p.type();
        if (t == TYPE_PAREN) return block(p, depth + 1);
        if (is_inert(t)) {
            // Every value a run makes is plain data: arguments are checked
            // as they come in, words as they are read.
            if (!is_plain(t)) return false;
            Cell c = p;
            c.clear_new_line();
            emit(OP_CONST, 0, uint32_t(f.consts.size()));
            f.consts.push_back(c);
            return true;
        }
        if (t != TYPE_WORD) return false;
        if (p.w1 == f.context()) {
            if (p.w3 >= f.argc) return false;
            emit(OP_ARG, uint16_t(p.w3));
            return true;
        }
        const Cell* val = guardable_value(p);
        if (!val) return false;
        const Cell value = *val;
        if (is_plain(value.type())) {
            // Read when the run comes to it: data words change between runs.
            emit(OP_WORD, 0, uint32_t(f.consts.size()));
            f.consts.push_back(p);
            return true;
        }
        if (value.type() == TYPE_FUNCTION) return call(v, pos, p, value, depth);
        if (value.type() == TYPE_NATIVE && value.w1 - natives::N_IF <= 2u) {
            guard(p, value);
            return conditional(v, pos, value.w1, depth);
        }
        return false;
    }

    bool call(View v, uint32_t* pos, const Cell& word, const Cell& fn, uint32_t depth) {
        Off spec;
        const SpecHeader* hp = plain_layout(fn, &spec);
        if (!hp || (fn.header & (header::FUNC_TRACE | header::FUNC_NO_TRACE))) return false;
        guard(word, fn);
        for (uint32_t i = 0; i < hp->fixed; ++i) {
            if (*pos >= v.n || !expression(v, pos, depth + 1)) return false;
        }
        emit(OP_CALL, 0, uint32_t(f.sites.size()));
        f.sites.push_back(Site{fn, nullptr});
        height -= int(hp->fixed) - 1;
        return true;
    }

    // if, unless, either: the condition, then literal blocks with no
    // operator after the last (it would take the block as its operand).
    bool conditional(View v, uint32_t* pos, uint32_t id, uint32_t depth) {
        const uint32_t blocks = id == natives::N_EITHER ? 2 : 1;
        if (*pos >= v.n || !expression(v, pos, depth + 1)) return false;
        if (*pos + blocks > v.n) return false;
        for (uint32_t k = 0; k < blocks; ++k)
            if (v.at[*pos + k].type() != TYPE_BLOCK) return false;
        const Cell first = v.at[*pos];
        const Cell second = v.at[*pos + 1 < v.n ? *pos + 1 : *pos];
        *pos += blocks;
        const uint32_t jump = here();
        emit(id == natives::N_UNLESS ? OP_JUMP_TRUE : OP_JUMP_FALSE);
        const int base = height;
        if (!block(first, depth + 1)) return false;
        const uint32_t skip = here();
        emit(OP_JUMP);
        land(jump);
        height = base;
        if (blocks == 2) {
            if (!block(second, depth + 1)) return false;
        } else {
            emit(OP_NONE);
        }
        land(skip);
        // An operator after the last block would take the block as its
        // left operand: left to the interpreter.
        if (*pos < v.n && v.at[*pos].type() == TYPE_WORD && v.at[*pos].w1 != f.context()) {
            const Cell* val = guardable_value(v.at[*pos]);
            if (!val || val->type() == TYPE_OP) return false;
        }
        return true;
    }
};

// Makes f from the function's present body and words; false when the body
// has no compact form.
bool compile_in_place(Form& f, const Cell& fn) {
    f = Form{};
    f.function = fn;
    if (fn.header & (header::FUNC_TRACE | header::FUNC_NO_TRACE)) return false;
    Off spec;
    const SpecHeader* hp = plain_layout(fn, &spec);
    if (!hp) return false;
    f.argc = hp->fixed;
    constexpr uint64_t plain_types = ((uint64_t(1) << TYPE_ID_LIMIT) - 2) & ~NOT_PLAIN;
    static_assert(TYPE_ID_LIMIT < 64, "type ids fit a 64-bit mask");
    f.open = true;
    for (uint32_t i = 0; i < f.argc; ++i) {
        const SpecEntry* e = entry_at(spec, i);
        f.allowed.push_back((uint64_t(e->accept[1]) << 32 | e->accept[0]) & ~NOT_PLAIN);
        if ((f.allowed.back() & plain_types) != plain_types) f.open = false;
    }
    f.body = *function::series_cell(&fn, function::CELL_BODY);
    if (f.body.type() != TYPE_BLOCK) return false;
    Compiler c{f};
    if (!c.block(f.body, 1)) return false;
    c.emit(OP_RETURN);
    // A jump to the return returns at once (a conditional's branch at the
    // end of the body).
    for (Instr& in : f.code)
        if (in.op == OP_JUMP && f.code[in.b].op == OP_RETURN) in = Instr{OP_RETURN, 0, 0};
    ++totals.forms;
    return true;
}

// Records the form in the function's series. A body that calls no
// function gains nothing over the interpreter's own quick paths: its form
// serves the forms that call it only, and the interpreter does not enter it.
void name_form(const Cell& fn, const Form& f) {
    const Cell handle{TYPE_HANDLE, f.index, generation, 0xFFFFFFFFu};
    *form_cell(fn) = handle;
    *code_cell(fn) = f.sites.empty() ? Cell{TYPE_UNSET, 0, 0, 0} : handle;
}

// compile_in_place, with the layouts of the functions the body calls built
// first when they were not (a function called for the first time from the
// body). The values of the words are held during the building, which may
// allocate but runs no Kiv code.
bool compile(Form& f, const Cell& fn) {
    // A compilation stops at the first unbuilt layout: a few rounds serve
    // a body that calls several such functions.
    for (int round = 0; round < 4; ++round) {
        unbuilt.clear();
        if (compile_in_place(f, fn)) return true;
        if (unbuilt.empty()) return false;
        std::vector<Cell> pending;
        pending.swap(unbuilt);
        for (const Cell& callee : pending) (void)typed_spec(&callee);
    }
    return false;
}

// The form of a function!, made on its first use; null when it has none.
Form* form_of(const Cell& fn) {
    const Cell* fc = form_cell(fn);
    if (fc->type() == TYPE_HANDLE) {
        if (fc->w2 == generation && fc->w1 < forms.size()) {
            Form* f = forms[fc->w1].get();
            if (f->function.w3 == fn.w3 && f->context() == fn.w1) return f;
        }
        // made before the table was last emptied: made again
    } else if (fc->type() != TYPE_UNSET || code_cell(fn)->type() != TYPE_NONE) {
        return nullptr;  // no form, or the cell holds a value given at creation
    }
    auto f = std::make_unique<Form>();
    if (!compile(*f, fn)) {
        disable(fn);
        return nullptr;
    }
    f->index = uint32_t(forms.size());
    forms.push_back(std::move(f));
    name_form(fn, *forms.back());
    return forms.back().get();
}

// True when the form still stands for the function's code and words.
bool fits(const Form& f, const Cell& fn) {
    if (!same(*function::series_cell(&fn, function::CELL_BODY), f.body)) return false;
    for (const Snapshot& s : f.blocks) {
        const SeriesBuffer* buf = buffer_of(s.node);
        const uint32_t n = buf->byte_count() >> 4;
        if (n < s.index || n - s.index != s.cells.size()) return false;
        if (std::memcmp(buf->head_cell() + s.index, s.cells.data(), s.cells.size() * sizeof(Cell)))
            return false;
    }
    for (const Guard& g : f.guards) {
        const Cell* v = guardable_value(g.word);
        if (!v || !same(*v, g.value)) return false;
    }
    return true;
}

// Checks the form for this run and finds the forms of the functions it
// calls, their callees in turn. False when any of them has no form.
constexpr uint32_t MAX_CHAIN = 64;
uint32_t run_nesting = 0;
uint32_t run_stack_use = 0;

bool prepare(Form* f, const Cell& fn, uint32_t chain) {
    if (f->run == run_count) return true;
    if (chain > MAX_CHAIN) return false;
    if (!fits(*f, fn)) {
        const uint32_t index = f->index, remade = f->remade + 1;
        if (remade > MAX_REMADE || !compile(*f, fn)) {
            disable(fn);
            return false;
        }
        f->index = index;
        f->remade = remade;
        name_form(fn, *f);
    }
    f->run = run_count;
    run_nesting = std::max(run_nesting, f->nesting);
    run_stack_use = std::max(run_stack_use, f->stack_use + f->argc);
    for (Site& s : f->sites) {
        Form* callee = form_of(s.fn);
        if (!callee || !prepare(callee, s.fn, chain + 1)) {
            f->run = 0;
            disable(fn);
            return false;
        }
        s.callee = callee;
    }
    return true;
}

// ==== Running a form ==================================================================================

constexpr uint32_t VALUE_CELLS = 1u << 16;
constexpr uint32_t MAX_DEPTH = 1000;

struct Frame {
    const Instr* pc;
    Cell* base;
    Form* form;
};

Cell values[VALUE_CELLS];
Frame frames[MAX_DEPTH + 1];

// The interpreter takes under 300 bytes of machine stack per level of
// nesting in a recursive call (under 450 with the address sanitizer); these
// bounds leave a wide margin.
#if defined(__SANITIZE_ADDRESS__)
constexpr uintptr_t MACHINE_BYTES_PER_NESTING = 2u << 10;
#else
constexpr uintptr_t MACHINE_BYTES_PER_NESTING = 1u << 10;
#endif

// How deep a run may call: never deeper than the interpreter, evaluating
// the same calls from here, could surely go (its frames, data cells and
// machine stack per level are bounded by the forms' nesting), so that a
// run never succeeds where the interpreter would have overflowed.
uint32_t depth_limit() {
    const uint64_t per_level = run_nesting + 2;
    uint64_t limit = MAX_DEPTH;
    limit = std::min<uint64_t>(limit, uint64_t(stack::frames_limit - stack::frames_top) / per_level);
    limit = std::min<uint64_t>(limit, uint64_t(stack::limit - stack::top) / (3 * per_level + run_stack_use));
    const uintptr_t left = machine_stack_left();
    limit = std::min<uint64_t>(limit, left / (MACHINE_BYTES_PER_NESTING * per_level));
    return uint32_t(limit);
}

inline bool plain_integers(const Cell* l) {
    return l[0].type() == TYPE_INTEGER && l[1].type() == TYPE_INTEGER;
}

// Applies integer operator `op` to *l and r (both integers), leaving the
// result in *l as the kernel does (an integer result keeps the left
// operand's cell and changes its value). False when the kernel would not
// give an integer or logic! here.
[[gnu::always_inline]] inline bool apply(uint32_t op, Cell* l, int32_t a, int32_t b) {
    int32_t r;
    switch (op) {
        case OP_ADD:
            if (__builtin_add_overflow(a, b, &r)) return false;
            break;
        case OP_SUB:
            if (__builtin_sub_overflow(a, b, &r)) return false;
            break;
        case OP_MUL:
            if (__builtin_mul_overflow(a, b, &r)) return false;
            break;
        case OP_REM:
            if (b == 0 || (a == INT32_MIN && b == -1)) return false;
            r = a % b;
            break;
        case OP_EQ:
            *l = logic::cell(a == b);
            return true;
        case OP_NE:
            *l = logic::cell(a != b);
            return true;
        case OP_LT:
            *l = logic::cell(a < b);
            return true;
        case OP_GT:
            *l = logic::cell(a > b);
            return true;
        case OP_LE:
            *l = logic::cell(a <= b);
            return true;
        case OP_GE:
            *l = logic::cell(a >= b);
            return true;
        default:
            return false;
    }
    l->w2 = uint32_t(r);
    return true;
}

// Operands that are not two integers: integer! with float! (either way
// round) or two floats, computed as the float worker computes them. Inline
// and without calls, so that the run's loop keeps its registers: anything
// that would need one (a remainder, a comparison with an infinity or NaN)
// is refused, and so are the equality operators (a form does not tell
// equal from strict-equal, which differ on floats): the run is abandoned.
[[gnu::always_inline]] inline bool apply_mixed(uint32_t op, Cell* l, const Cell* r) {
    if (!actions::kernel_number(l->type()) || !actions::kernel_number(r->type())) return false;
    if (l->type() == TYPE_INTEGER && r->type() == TYPE_INTEGER) return false;
    const double a = actions::number_value(l), b = actions::number_value(r);
    switch (op) {
        case OP_ADD:
            float_::make_at(l, a + b);
            return true;
        case OP_SUB:
            float_::make_at(l, a - b);
            return true;
        case OP_MUL:
            float_::make_at(l, a * b);
            return true;
        case OP_LT:
        case OP_GT:
        case OP_LE:
        case OP_GE:
            if (float_::special_q(a) || float_::special_q(b)) return false;
            *l = logic::cell(op == OP_LT ? a < b : op == OP_GT ? a > b : op == OP_LE ? a <= b : a >= b);
            return true;
        default:
            return false;
    }
}

// Arguments a form takes: plain values of its arguments' types.
inline bool takes(const Form& f, const Cell* args) {
    for (uint32_t i = 0; i < f.argc; ++i) {
        const uint32_t t = args[i].type();
        if (t >= 64 || !((f.allowed[i] >> t) & 1)) return false;
    }
    return true;
}

// Runs the prepared form on the arguments copied to values[0..argc); the
// result goes to *out. On an abandoned run, *failed is the form that
// could not go on.
bool execute(Form* entry, Cell* out, Form** failed) {
    // One indirect jump per instruction, from a table in opcode order.
    static void* const dispatch[] = {
        &&arg,     &&constant,   &&word,      &&none,   &&pop,    &&op_add, &&op_sub, &&op_mul,
        &&op_rem,  &&op_eq,      &&op_ne,     &&op_lt,  &&op_gt,  &&op_le,  &&op_ge,  &&arg_add,
        &&arg_sub, &&arg_mul,    &&arg_rem,   &&arg_eq, &&arg_ne, &&arg_lt, &&arg_gt, &&arg_le,
        &&arg_ge,  &&jump_false, &&jump_true, &&jump,   &&call,   &&ret,
    };
    static_assert(sizeof(dispatch) / sizeof(dispatch[0]) == OP_RETURN + 1, "one entry per opcode");
    const uint32_t limit = depth_limit();
    Form* form = entry;
    Cell* base = values;
    Cell* sp = values + entry->argc;
    Cell* const end = values + VALUE_CELLS;
    const Instr* code = entry->code.data();
    const Instr* pc = code;
    const Cell* consts = entry->consts.data();
    uint32_t depth = 0;
    Instr in;
#define NEXT                   \
    do {                       \
        in = *pc++;            \
        goto* dispatch[in.op]; \
    } while (0)
    NEXT;

arg:
    *sp++ = base[in.a];
    NEXT;
constant:
    *sp++ = consts[in.b];
    NEXT;
word : {
    const Cell* v = peek_value(consts + in.b);
    if (!v || !is_plain(v->type())) goto abandon;
    *sp++ = *v;
    NEXT;
}
none:
    *sp++ = none_value;
    NEXT;
pop:
    --sp;
    NEXT;

    // Both operands on the stack; the result replaces the left one.
#define BINARY(label, op)                                                                          \
    label : {                                                                                      \
        Cell* l = sp - 2;                                                                          \
        if ((!plain_integers(l) || !apply(op, l, int32_t(l[0].w2), int32_t(l[1].w2))) &&         \
            !apply_mixed(op, l, l + 1))                                                            \
            goto abandon;                                                                          \
        --sp;                                                                                      \
        NEXT;                                                                                      \
    }
    // An argument and a constant: the result pushed.
#define ARG_CONSTANT(label, op)                                                 \
    label : {                                                                   \
        const Cell& a = base[in.a];                                             \
        const Cell& k = consts[in.b];                                           \
        *sp = a;                                                                \
        if ((a.type() != TYPE_INTEGER || k.type() != TYPE_INTEGER ||            \
             !apply(op, sp, int32_t(a.w2), int32_t(k.w2))) &&                   \
            !apply_mixed(op, sp, &k))                                           \
            goto abandon;                                                       \
        ++sp;                                                                   \
        NEXT;                                                                   \
    }
    BINARY(op_add, OP_ADD)
    BINARY(op_sub, OP_SUB)
    BINARY(op_mul, OP_MUL)
    BINARY(op_rem, OP_REM)
    BINARY(op_eq, OP_EQ)
    BINARY(op_ne, OP_NE)
    BINARY(op_lt, OP_LT)
    BINARY(op_gt, OP_GT)
    BINARY(op_le, OP_LE)
    BINARY(op_ge, OP_GE)
    ARG_CONSTANT(arg_add, OP_ADD)
    ARG_CONSTANT(arg_sub, OP_SUB)
    ARG_CONSTANT(arg_mul, OP_MUL)
    ARG_CONSTANT(arg_rem, OP_REM)
    ARG_CONSTANT(arg_eq, OP_EQ)
    ARG_CONSTANT(arg_ne, OP_NE)
    ARG_CONSTANT(arg_lt, OP_LT)
    ARG_CONSTANT(arg_gt, OP_GT)
    ARG_CONSTANT(arg_le, OP_LE)
    ARG_CONSTANT(arg_ge, OP_GE)
#undef BINARY
#undef ARG_CONSTANT

jump_false:
jump_true : {
    --sp;
    const uint32_t t = sp->type();
    if (t == TYPE_UNSET) goto abandon;  // the conditional raises its error
    const bool truth = !(t == TYPE_NONE || (t == TYPE_LOGIC && sp->w1 == 0));
    if (truth == (in.op == OP_JUMP_TRUE)) pc = code + in.b;
    NEXT;
}
jump:
    pc = code + in.b;
    NEXT;
call : {
    Form* callee = form->sites[in.b].callee;
    Cell* args = sp - callee->argc;
    if (depth >= limit || (!callee->open && !takes(*callee, args)) || sp + callee->stack_use >= end)
        goto abandon;
    frames[depth++] = Frame{pc, base, form};
    form = callee;
    base = args;
    code = pc = callee->code.data();
    consts = callee->consts.data();
    NEXT;
}
ret : {
    const Cell result = sp[-1];
    if (depth == 0) {
        *out = result;
        return true;
    }
    *base = result;
    sp = base + 1;
    const Frame& f = frames[--depth];
    pc = f.pc;
    base = f.base;
    form = f.form;
    code = form->code.data();
    consts = form->consts.data();
    NEXT;
}
#undef NEXT

abandon:
    *failed = form;
    return false;
}

}  // namespace

bool run(const Cell& fn, const Cell* args) {
    Cell* cc = code_cell(fn);
    if (cc->type() == TYPE_NONE && ++cc->w2 < CALLS_BEFORE_FORM) return false;
    if (forms.size() >= MAX_FORMS) {
        forms.clear();
        ++generation;
    }
    Form* f = form_of(fn);
    if (!f || f->sites.empty()) return false;
    ++run_count;
    run_nesting = 0;
    run_stack_use = 0;
    if (!prepare(f, fn, 0)) return false;
    if (!takes(*f, args) || f->argc + f->stack_use >= VALUE_CELLS) return false;
    ++totals.runs;
    std::copy(args, args + f->argc, values);
    Cell result;
    Form* failed = nullptr;
    if (!execute(f, &result, &failed)) {
        ++totals.abandoned;
        if (++failed->abandoned >= MAX_ABANDONED) disable(failed->function);
        return false;
    }
    stack::push(result);
    return true;
}

Counts counts() {
    return totals;
}

}  // namespace kiv::interpreter::pure
