#include "datatypes/handle.h"

#include <cstdio>
#include <cstring>

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/series.h"

namespace kiv::handle {

namespace {
const char* const class_names[CLASS_COUNT] = {"null", "fd", "monitor", "window", "font", "rich-text"};
constexpr int32_t FORM_LENGTH = 9;  // eight digits and "h"
}  // namespace

const char* class_name(uint32_t cls) {
    return cls < CLASS_COUNT ? class_names[cls] : nullptr;
}

Cell* make_at(Cell* c, uint32_t handle, uint32_t cls) {
    *c = cell(handle, cls);
    return c;
}

Cell* box(uint32_t handle, uint32_t cls) {
    return make_at(stack::arg_base, handle, cls);
}

Cell* push(uint32_t handle, uint32_t cls) {
    return stack::push(cell(handle, cls));
}

Cell* push_null() {
    return push(0, CLASS_NULL);
}

Cell* make_in(const Cell* block, uint32_t handle, uint32_t cls) {
    return make_at(block_alloc_tail(block), handle, cls);
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    char text[16];
    std::snprintf(text, sizeof text, "%08Xh", value->w2);
    string::concatenate_literal(out, text);
    return budget - FORM_LENGTH;
}

int32_t mold(Cell* value, Cell* out, bool, bool all, bool, Cell* part, int32_t budget, int32_t) {
    if (!all) {
        string::concatenate_literal(out, "handle!");
        return budget - 7;
    }
    Cell v = *value;  // the output may grow into a buffer that holds the value
    string::concatenate_literal(out, "#[handle! ");
    budget = form(&v, out, part, budget - 11);
    const char* name = class_of(&v) > CLASS_NULL ? class_name(class_of(&v)) : nullptr;
    if (name) {
        string::concatenate_literal(out, " ");
        string::concatenate_literal(out, name);
        budget -= int32_t(std::strlen(name)) + 1;
    }
    string::concatenate_literal(out, "]");
    return budget;
}

int32_t compare(Cell* value, Cell* other, int32_t) {
    if (other->type() != TYPE_HANDLE) return 1;
    int32_t a = int32_t(value->w2), b = int32_t(other->w2);
    return a < b ? -1 : a > b ? 1 : 0;
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_HANDLE, TYPE_INTEGER, "handle!");
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    datatype::register_type(r);
}

}  // namespace kiv::handle
