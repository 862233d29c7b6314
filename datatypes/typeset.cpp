#include "datatypes/typeset.h"

#include <cstdio>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/error.h"
#include "runtime/series.h"

namespace kiv::typeset {

namespace {

inline void merge(Cell* ts, const Cell* other) {
    ts->w1 |= other->w1;
    ts->w2 |= other->w2;
    ts->w3 |= other->w3;
}

// The value a word! stands for (a copy; the word's own slot may move).
Cell word_value(const Cell* word, bool checked) {
    stack::TopMark mark;
    Cell* v = checked ? word::get_checked(word) : word::push_value(word);
    return *v;
}

// Bits of the typeset under construction as seen by a datatype or typeset value.
bool add_type_value(Cell* ts, const Cell* v) {
    if (v->type() == TYPE_TYPESET) {
        merge(ts, v);
        return true;
    }
    if (v->type() == TYPE_DATATYPE) {
        set_bit(ts, v->w1);
        return true;
    }
    return false;
}

}  // namespace

Cell of_types(std::initializer_list<uint32_t> ids) {
    Cell ts = empty();
    for (uint32_t id : ids) set_bit(&ts, id);
    return ts;
}

void clear(Cell* ts) {
    ts->w1 = ts->w2 = ts->w3 = 0;
}

uint32_t count(const Cell* ts) {
    uint32_t n = 0;
    for (uint32_t id = 1; id <= datatype::highest_type_id && id < 96; ++id)
        if (has(ts, id)) ++n;
    return n;
}

Cell* make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell* c = block_alloc_tail(block);
    *c = of_words(w1, w2, w3);
    return c;
}

Cell* make_in_default(const Cell* block) {
    return make_in(block, DEFAULT_W1, 0xFFFFFFFFu, 0xFFFFFFFFu);
}

Cell from_block(const Cell* spec) {
    Cell s = *spec;
    Cell ts = empty();
    uint32_t n = block::cells_length(&s);
    for (uint32_t i = 0; i < n; ++i) {
        Cell item = *block::cells_at(&s, s.w1 + i);
        Cell v = item.type() == TYPE_WORD ? word_value(&item, false) : item;
        if (add_type_value(&ts, &v)) continue;
        if (v.type() == TYPE_WORD) {
            set_bit(&ts, TYPE_OBJECT);
        } else if (v.type() != TYPE_BLOCK) {
            fire({"script", "invalid-type-spec"}, item);
        }
    }
    return ts;
}

Cell* make_in_from_block(const Cell* block, const Cell* spec) {
    const Cell ts = from_block(spec);
    Cell* c = block_alloc_tail(block);
    *c = ts;
    return c;
}

void add_type(Cell* ts, const Cell* value) {
    Cell passed = *value;
    Cell v = passed.type() == TYPE_WORD ? word_value(&passed, true) : passed;
    if (!add_type_value(ts, &v)) fire({"script", "invalid-arg"}, passed);
}

Cell* to_block(const Cell* ts, Cell* result) {
    Cell t = *ts;
    block::make_at(result, int32_t(count(&t)));
    for (uint32_t id = 1; id <= datatype::highest_type_id && id < 96; ++id) {
        if (!has(&t, id)) continue;
        Cell d = datatype::cell(id);
        block::cells_append(result, &d);
    }
    return result;
}

Cell* push(const Cell* ts) {
    return stack::push(*ts);
}

Cell* do_bitwise(Cell* value1, const Cell* value2, int32_t op) {
    if (op == block::SET_UNIQUE) return value1;
    Cell b;
    if (value2->type() == TYPE_TYPESET) {
        b = *value2;
    } else if (value2->type() == TYPE_DATATYPE) {
        b = empty();
        set_bit(&b, value2->w1);
    } else {
        fire({"script", "invalid-arg"}, *value2);
    }
    Cell a = *value1;
    Cell r = empty();
    switch (op) {
        case OP_OR:
        case block::SET_UNION:
            r = of_words(a.w1 | b.w1, a.w2 | b.w2, a.w3 | b.w3);
            break;
        case OP_AND:
        case block::SET_INTERSECT:
            r = of_words(a.w1 & b.w1, a.w2 & b.w2, a.w3 & b.w3);
            break;
        case OP_XOR:
        case block::SET_DIFFERENCE:
            r = of_words(a.w1 ^ b.w1, a.w2 ^ b.w2, a.w3 ^ b.w3);
            break;
        case block::SET_EXCLUDE:
            r = of_words(a.w1 & ~b.w1, a.w2 & ~b.w2, a.w3 & ~b.w3);
            break;
        default:
            fire({"internal", "not-done"});
    }
    *value1 = r;
    return value1;
}

// ---- Actions --------------------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t) {
    if (spec->type() == TYPE_TYPESET) return spec;
    if (spec->type() != TYPE_BLOCK) fire({"script", "bad-to-arg"}, datatype::cell(TYPE_TYPESET), *spec);
    Cell s = *spec;
    Cell ts = empty();
    uint32_t n = block::cells_length(&s);
    for (uint32_t i = 0; i < n; ++i) {
        Cell item = *block::cells_at(&s, s.w1 + i);
        add_type(&ts, &item);
    }
    *proto = ts;
    return proto;
}

int32_t mold(Cell* value, Cell* out, bool only, bool, bool, Cell* part, int32_t budget, int32_t) {
    Cell ts = *value;
    if (!only) {
        string::concatenate_literal(out, "make typeset! [");
        budget -= 15;
    }
    bool wrote = false;
    for (uint32_t id = 1; id <= datatype::highest_type_id && id < 96; ++id) {
        if (!has(&ts, id)) continue;
        const datatype::NameRecord& rec = datatype::names[id];
        if (!rec.name) continue;
        if (part && budget < 0) return budget;
        string::append_latin1(out, rec.name, uint32_t(rec.length + 1));
        string::concatenate_literal(out, " ");
        budget -= rec.length + 2;
        wrote = true;
    }
    SeriesBuffer* b = buffer_of(out->w2);
    if (only) {
        if (wrote) {
            b->tail -= b->unit();  // the trailing space
            ++budget;
        }
    } else if (wrote) {
        string::set_char(b->tail_ptr() - b->unit(), b->unit(), ']');
    } else {
        string::concatenate_literal(out, "]");
        --budget;
    }
    return budget;
}

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    return mold(value, out, false, false, false, part, budget, 0);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_TYPESET) return NOT_COMPARABLE;
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
        case COMP_STRICT_EQUAL:
        case COMP_SAME:
        case COMP_FIND:
            return value->w1 == other->w1 && value->w2 == other->w2 && value->w3 == other->w3 ? 0 : 1;
        case COMP_SORT:
        case COMP_CASE_SORT: {
            uint32_t a = count(value), b = count(other);
            return a == b ? 0 : a < b ? -1 : 1;
        }
        default:
            return NOT_COMPARABLE;
    }
}

void and_t() {
    do_bitwise(stack::arg_base, stack::arg_base + 1, OP_AND);
}
void or_t() {
    do_bitwise(stack::arg_base, stack::arg_base + 1, OP_OR);
}
void xor_t() {
    do_bitwise(stack::arg_base, stack::arg_base + 1, OP_XOR);
}

Cell* complement(Cell* value) {
    value->w1 = ~value->w1;
    value->w2 = ~value->w2;
    value->w3 = ~value->w3;
    return value;
}

Outcome find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    if (value->type() != TYPE_DATATYPE) fire({"script", "invalid-arg"}, *value);
    return has(series, value->w1) ? &true_value : &false_value;
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_TYPESET, 0, "typeset!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(make);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_AND_T>(no_unwind<and_t>);
    r.set<ACT_COMPLEMENT>(complement);
    r.set<ACT_OR_T>(no_unwind<or_t>);
    r.set<ACT_XOR_T>(no_unwind<xor_t>);
    r.set<ACT_FIND>(find);
    datatype::register_type(r);
}

}  // namespace kiv::typeset

namespace kiv::triple {

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    char text[64];
    int n = std::snprintf(text, sizeof text, "make triple! [%d %d %d]", int32_t(value->w1),
                          int32_t(value->w2), int32_t(value->w3));
    string::append_latin1(out, text, uint32_t(n));
    return budget - n;
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_TRIPLE, 0, "triple!");
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    datatype::register_type(r);
}

}  // namespace kiv::triple
