#include "datatypes/unset.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/series.h"

namespace kiv {

Cell unset_value{TYPE_UNSET, 0, 0, 0};

namespace unset {

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

int32_t form(Cell*, Cell*, Cell*, int32_t budget) {
    return budget;
}

int32_t mold(Cell*, Cell* out, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    string::concatenate_literal(out, all ? "#(unset)" : "unset");
    return budget - (all ? 8 : 5);
}

int32_t compare(Cell*, Cell* other, int32_t op) {
    if (other->type() != TYPE_UNSET) return NOT_COMPARABLE;
    return compare_keys(0, 0, op);
}

void init() {
    unset_value = cell();
    datatype::Registration r = datatype::blank(TYPE_UNSET, 0, "unset!");
    r.set<ACT_MAKE>(make_to);
    r.set<ACT_TO>(make_to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    datatype::register_type(r);
}

}  // namespace unset
}  // namespace kiv
