#include "datatypes/native.h"

#include <utility>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/call_layout.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::native {

namespace {


inline bool is_function_type(uint32_t t) {
    return t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

inline Cell spec_block(const Cell* v) {
    return Cell{TYPE_BLOCK, 0, v->w2, 0};
}

[[noreturn]] void bad_make_arg(uint32_t type, const Cell* spec) {
    Cell s = *spec;
    fire({"script", "bad-make-arg"}, datatype::cell(type), s);
}

int32_t put_text(Cell* out, const char* text, int32_t budget) {
    string::concatenate_literal(out, text);
    return budget - int32_t(__builtin_strlen(text));
}

// Molds a block value through the generic mold (brackets included).
int32_t mold_block(Cell block, Cell* out, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    return actions::mold(&block, out, false, all, flat, part, budget, indent);
}

}  // namespace

bool spec_two_args(Off spec_node) {
    if (!spec_node) return false;
    uint32_t local = fixed::canonical(fixed::REF_LOCAL);
    uint32_t extern_ = fixed::canonical(fixed::REF_EXTERN);
    uint32_t ret = fixed::canonical(fixed::SYM_RETURN);
    uint32_t args = 0;
    Cell spec{TYPE_BLOCK, 0, spec_node, 0};
    uint32_t n = block::cells_length(&spec);
    for (uint32_t i = 0; i < n; ++i) {
        Cell c = *block::cells_at(&spec, i);
        switch (c.type()) {
            case TYPE_WORD:
                ++args;
                break;
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
                if (args == 0) return false;
                ++args;
                break;
            case TYPE_REFINEMENT: {
                uint32_t s = symbol::resolve(c.w2);
                if (s == local || s == extern_) return args == 2;
                return false;
            }
            case TYPE_SET_WORD:
                if (symbol::resolve(c.w2) == ret) return args == 2;
                return false;
            default:
                break;  // doc strings and type blocks
        }
    }
    return args == 2;
}

// ---- make ------------------------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    if (spec->type() != TYPE_BLOCK || block::cells_length(spec) != 2) bad_make_arg(type, spec);
    Cell a = *block::cells_at(spec, spec->w1);
    Cell b = *block::cells_at(spec, spec->w1 + 1);
    // Both orders are read: [spec number] and the boot image's [number spec].
    if (a.type() == TYPE_INTEGER && b.type() == TYPE_BLOCK) std::swap(a, b);
    if (a.type() != TYPE_BLOCK || b.type() != TYPE_INTEGER) bad_make_arg(type, spec);
    int32_t number = int32_t(b.w2);
    int32_t limit = int32_t(type == TYPE_ACTION ? ACTION_LIMIT : NATIVE_LIMIT);
    if (number < 1 || number > limit) bad_make_arg(type, spec);

    stack::TopMark mark;
    Cell* sp = stack::push(a);
    uint32_t length = series::count(sp->w2);
    if (sp->w1 > length) sp->w1 = length;
    if (sp->w1 > 0) block::copy_part(sp, sp, false, false);

    memory::CollectionPause pause;
    Off ctx = context::make(sp, true, false, context::KIND_FUNCTION);
    Cell ctx_cell = *context::cell(ctx);
    Off series = memory::alloc_cells(2);
    SeriesBuffer* s = buffer_of(series);
    Cell* c = s->head_cell();
    c[0] = ctx_cell;
    c[1] = none::cell();
    s->tail = s->head + 2 * sizeof(Cell);
    *proto = Cell{type, uint32_t(number), sp->w2, series};
    // After start-up the layout is made at once and must fit the entry's:
    // a script that later changes the argument block cannot change it.
    if (interpreter::spec::builtin_layouts_closed() &&
        !interpreter::spec::builtin_layout_fits(type, uint32_t(number),
                                                buffer_of(interpreter::spec::build_layout(proto))->head_ptr()))
        bad_make_arg(type, spec);
    return proto;
}

Outcome op_make(Cell* proto, Cell* spec, uint32_t) {
    uint32_t t = spec->type();
    if (t != TYPE_NATIVE && t != TYPE_ACTION && !is_function_type(t))
        fire({"script", "invalid-type"}, datatype::cell(t));
    if (!spec_two_args(spec->w2)) fire({"script", "bad-op-spec"});
    Cell src = *spec;
    src.clear_new_line();
    if (is_function_type(t)) *function::series_cell(&src, function::CELL_OP_SOURCE) = src;
    Cell op = src;
    op.header =
        (src.header & ~(header::TYPE_MASK | header::OP_TYPE_MASK)) | TYPE_OP | (t << header::OP_TYPE_SHIFT);
    *proto = op;
    return proto;
}

// ---- reflect ------------------------------------------------------------------------------------

void reflect(Cell* value, uint32_t field_symbol) {
    Cell v = *value;
    uint32_t field = symbol::resolve(field_symbol);
    if (field == fixed::canonical(fixed::SYM_SPEC)) {
        *stack::arg_base = spec_block(&v);
        return;
    }
    if (field == fixed::canonical(fixed::SYM_BODY)) {
        uint32_t source = v.type() == TYPE_OP ? op_source_type(&v) : v.type();
        if (is_function_type(source)) {
            *stack::arg_base = *function::series_cell(&v, function::CELL_BODY);
        } else {
            *stack::arg_base = Cell{TYPE_INTEGER, 0, v.w1, 0};
        }
        return;
    }
    fire({"internal", "not-done"});
}

// ---- form / mold -------------------------------------------------------------------------------

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    switch (value->type()) {
        case TYPE_ACTION:
            return put_text(out, "?action?", budget);
        case TYPE_OP:
            return put_text(out, "?op?", budget);
        default:
            return put_text(out, "?native?", budget);
    }
}

int32_t mold(Cell* value, Cell* out, bool, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell v = *value;
    if (v.type() != TYPE_OP) {
        budget = put_text(out, v.type() == TYPE_ACTION ? "make action! [" : "make native! [", budget);
        budget = mold_block(spec_block(&v), out, all, flat, part, budget, indent);
        return put_text(out, "]", budget);
    }
    budget = put_text(out, "make op! ", budget);
    // Its specification is molded under an anonymous native frame, so that an
    // error raised while molding shows no caller of its own.
    Cell* saved = stack::top;
    const Cell& anon = fixed::words[fixed::W_ANON];
    stack::mark_native(anon.header ? &anon : nullptr);
    if (op_source_type(&v) == TYPE_FUNCTION) {
        budget = put_text(out, "func ", budget);
        budget = mold_block(spec_block(&v), out, all, flat, part, budget, indent);
        Cell body = *function::series_cell(&v, function::CELL_BODY);
        if (body.type() == TYPE_BLOCK) {
            budget = mold_block(body, out, all, flat, part, budget, indent);
        } else {
            budget = put_text(out, " ", budget);
            budget = actions::mold(&body, out, false, all, flat, part, budget, indent);
        }
    } else {
        budget = put_text(out, "[", budget);
        budget = mold_block(spec_block(&v), out, all, flat, part, budget, indent);
        budget = put_text(out, "]", budget);
    }
    stack::unwind();
    stack::top = saved;
    return budget;
}

// ---- compare -----------------------------------------------------------------------------------

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != value->type()) return NOT_COMPARABLE;
    return compare_keys(value->w1, other->w1, op);
}

// ---- Registration ----------------------------------------------------------------------------

void init() {
    datatype::Registration n = datatype::blank(TYPE_NATIVE, 0, "native!");
    n.set<ACT_MAKE>(make);
    n.set<ACT_REFLECT>(reflect);
    n.set<ACT_FORM>(form);
    n.set<ACT_MOLD>(mold);
    n.set<ACT_COMPARE>(compare);
    datatype::register_type(n);

    datatype::Registration a = datatype::blank(TYPE_ACTION, TYPE_NATIVE, "action!");
    a.set<ACT_MAKE>(make);
    a.inherit(ACT_REFLECT);
    a.set<ACT_FORM>(form);
    a.set<ACT_MOLD>(mold);
    a.set<ACT_COMPARE>(compare);
    datatype::register_type(a);

    datatype::Registration o = datatype::blank(TYPE_OP, TYPE_NATIVE, "op!");
    o.set<ACT_MAKE>(op_make);
    o.inherit(ACT_REFLECT);
    o.set<ACT_FORM>(form);
    o.set<ACT_MOLD>(mold);
    o.set<ACT_COMPARE>(compare);
    datatype::register_type(o);
}

}  // namespace kiv::native
