#include "datatypes/logic.h"

#include "datatypes/datatype.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/error.h"
#include "runtime/series.h"

namespace kiv {

Cell true_value{TYPE_LOGIC, 1, 0, 0};
Cell false_value{TYPE_LOGIC, 0, 0, 0};

namespace logic {

Cell* box(bool b) {
    *stack::arg_base = cell(b);
    return stack::arg_base;
}

Cell* push(bool b) {
    return stack::push(cell(b));
}

Cell* make_in(const Cell* block, bool b) {
    Cell* c = block_alloc_tail(block);
    *c = cell(b);
    return c;
}

// ---- Truth tests ------------------------------------------------------------------

bool true_q() {
    const Cell* c = stack::arg_base;
    if (c->type() == TYPE_UNSET) fire({"script", "no-return"});
    return is_true(c);
}

bool false_q() {
    return is_false(stack::arg_base);
}

bool top_false_q() {
    const Cell* c = stack::top > stack::arg_base ? stack::top - 1 : stack::arg_base;
    return is_false(c);
}

bool top_true_q() {
    return !top_false_q();
}

bool check_true_q(const Cell* value, bool check, const Cell* word) {
    if (check && value->type() == TYPE_UNSET)
        fire({"script", "no-value"}, word ? *word : Cell{TYPE_NONE, 0, 0, 0});
    return is_true(value);
}

// ---- Actions ----------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    switch (spec->type()) {
        case TYPE_INTEGER:
            *proto = cell(spec->w2 != 0);
            return proto;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            *proto = cell(!(spec->get_f64() == 0.0));  // NaN and every non-zero value are true
            return proto;
        default:
            return to(proto, spec, type);
    }
}

Outcome to(Cell*, Cell* spec, uint32_t) {
    switch (spec->type()) {
        case TYPE_LOGIC:
            return spec;
        case TYPE_NONE:
            return &false_value;
        default:
            return &true_value;
    }
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    bool b = get(value);
    string::concatenate_literal(out, b ? "true" : "false");
    return budget - (b ? 4 : 5);
}

int32_t mold(Cell* value, Cell* out, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    if (!all) return form(value, out, nullptr, budget);
    bool b = get(value);
    string::concatenate_literal(out, b ? "#(true)" : "#(false)");
    return budget - (b ? 7 : 8);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_LOGIC) return NOT_COMPARABLE;
    return compare_keys(get(value), get(other), op);
}

Cell* complement(Cell* value) {
    value->w1 = get(value) ? 0 : 1;
    return value;
}

namespace {
// The second operand of and~, or~ and xor~ must be logic!.
inline Cell* bitwise_operands() {
    Cell* a = stack::arg_base;
    Cell* b = a + 1;
    if (b->type() != TYPE_LOGIC) {
        fire({"script", "expect-arg"}, word::caller(), datatype::cell(b->type()), word::load("value2"));
    }
    return a;
}
}  // namespace

void and_t() {
    Cell* a = bitwise_operands();
    a->w1 = (a->w1 & a[1].w1) ? 1 : 0;
}

void or_t() {
    Cell* a = bitwise_operands();
    a->w1 = (a->w1 | a[1].w1) ? 1 : 0;
}

void xor_t() {
    Cell* a = bitwise_operands();
    a->w1 = (a->w1 ^ a[1].w1) ? 1 : 0;
}

// /seed seeds the generator with the payload; otherwise a 31-bit draw above
// the middle of its range gives true, so both outcomes are equally likely.
Unwind random(Cell* value, bool seed, bool secure, bool /*only*/) {
    if (seed) {
        random::seed(value->w1);
        *value = unset::cell();
        return UNWIND_NONE;
    }
    const uint32_t d = secure ? static_cast<uint32_t>(random::secure_int()) : random::next();
    *value = cell(d > 0x3FFFFFFFu);
    return UNWIND_NONE;
}

void init() {
    true_value = cell(true);
    false_value = cell(false);
    datatype::Registration r = datatype::blank(TYPE_LOGIC, 0, "logic!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_RANDOM>(random);
    r.set<ACT_TO>(to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_AND_T>(no_unwind<and_t>);
    r.set<ACT_COMPLEMENT>(complement);
    r.set<ACT_OR_T>(no_unwind<or_t>);
    r.set<ACT_XOR_T>(no_unwind<xor_t>);
    datatype::register_type(r);
}

}  // namespace logic
}  // namespace kiv
