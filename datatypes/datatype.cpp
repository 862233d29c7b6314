#include "datatypes/datatype.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/series.h"

namespace kiv::datatype {

Cell* push(uint32_t type) {
    return stack::push(cell(type));
}

Cell* make_in(const Cell* block, uint32_t type) {
    Cell* c = block_alloc_tail(block);
    *c = cell(type);
    return c;
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    const NameRecord& rec = names[value->w1];
    string::append_latin1(out, rec.name, uint32_t(rec.length));
    return budget - rec.length;
}

int32_t mold(Cell* value, Cell* out, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    const NameRecord& rec = names[value->w1];
    if (all) string::concatenate_literal(out, "#(");
    string::append_latin1(out, rec.name, uint32_t(rec.length + 1));
    if (all) string::concatenate_literal(out, ")");
    return budget - (rec.length + 1) - (all ? 3 : 0);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
        case COMP_STRICT_EQUAL:
        case COMP_SAME:
        case COMP_FIND:
            return other->type() == TYPE_DATATYPE && other->w1 == value->w1 ? 0 : 1;
        default:
            return NOT_COMPARABLE;
    }
}

void init() {
    Registration r = blank(TYPE_DATATYPE, 0, "datatype!");
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    register_type(r);
}

}  // namespace kiv::datatype
