#include "datatypes/none.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/series.h"

namespace kiv {

Cell none_value{TYPE_NONE, 0, 0, 0};

namespace none {

Cell* push_last() {
    *stack::arg_base = cell();
    return stack::arg_base;
}

Cell* push() {
    return stack::push(cell());
}

Cell* make_in(const Cell* block) {
    Cell* c = block_alloc_tail(block);
    *c = cell();
    return c;
}

Outcome make_to(Cell*, Cell*, uint32_t) {
    return push();
}

int32_t form(Cell*, Cell* out, Cell*, int32_t budget) {
    string::concatenate_literal(out, "none");
    return budget - 4;
}

int32_t mold(Cell*, Cell* out, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    string::concatenate_literal(out, all ? "#(none)" : "none");
    return budget - (all ? 7 : 4);
}

int32_t compare(Cell*, Cell* other, int32_t op) {
    if (other->type() != TYPE_NONE) return NOT_COMPARABLE;
    return compare_keys(0, 0, op);
}

Unwind clear(Cell*) {
    push_last();
    return UNWIND_NONE;
}

Outcome find(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    return push_last();
}

Count length(Cell*) {
    return -1;
}

Unwind remove(Cell*, Cell*, Cell*) {
    push_last();
    return UNWIND_NONE;
}

Outcome select(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    return push_last();
}

Outcome take(Cell*, Cell*, bool, bool) {
    return push_last();
}

void init() {
    none_value = cell();
    datatype::Registration r = datatype::blank(TYPE_NONE, 0, "none!");
    r.set<ACT_MAKE>(make_to);
    r.set<ACT_TO>(make_to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_CLEAR>(clear);
    r.set<ACT_FIND>(find);
    r.set<ACT_LENGTH_Q>(length);
    r.set<ACT_REMOVE>(remove);
    r.set<ACT_SELECT>(select);
    r.set<ACT_TAKE>(take);
    datatype::register_type(r);
}

}  // namespace none
}  // namespace kiv
