// hash!: building and copying the table of a hashed block (the block actions
// keep it in step with every change, sort and trim included).
#include "datatypes/hash.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"

namespace kiv::hash {

namespace {

inline uint32_t cell_count(const Cell* b) { return buffer_of(b->w2)->byte_count() / sizeof(Cell); }

}  // namespace

Cell* index_block(Cell* cell) {
    // The block stays reachable through the cell while the table is made.
    cell->w3 = 0;
    cell->set_type(TYPE_BLOCK);
    uint32_t n = cell_count(cell);
    Off table = hashtable::init(n ? n : 1, cell->w2, hashtable::HASH, 0);
    cell->w3 = table;
    cell->set_type(TYPE_HASH);
    return cell;
}

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (t == TYPE_HASH) return copy(spec, proto, nullptr, false, nullptr);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_BLOCK) {
        (void)block::make(proto, spec, TYPE_BLOCK);  // writes *proto
        return index_block(proto);
    }
    return to(proto, spec, type);
}

Outcome to(Cell* proto, Cell* spec, uint32_t) {
    if (spec->type() == TYPE_HASH) return copy(spec, proto, nullptr, false, nullptr);
    (void)block::to(proto, spec, TYPE_BLOCK);  // writes *proto
    return index_block(proto);
}

int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent) {
    if (!only) {
        string::concatenate_literal(out, "make hash! ");
        budget -= 11;
    }
    return block::mold(value, out, only, all, flat, part, budget, indent);
}

Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types) {
    stack::TopMark mark;
    Cell* src = stack::push(*series);
    bool whole = src->w1 == 0 && !part && !deep && !types && src->w3 != 0;
    Cell* r = block::copy(src, result, part, deep, types).cell;
    Cell c = *r;
    c.w3 = 0;
    c.set_type(TYPE_BLOCK);
    Cell* held = stack::push(c);
    if (whole) {
        held->w3 = hashtable::copy(src->w3, held->w2);
        held->set_type(TYPE_HASH);
    } else {
        index_block(held);
    }
    *result = *held;
    return result;
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_HASH, TYPE_BLOCK, "hash!");
    r.inherit_all();
    r.drop(ACT_RANDOM);
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(to);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COPY>(copy);
    datatype::register_type(r);
}

}  // namespace kiv::hash
