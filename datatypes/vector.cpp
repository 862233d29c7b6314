// vector!: make, mold, compare, element-wise math with wrap-around, and
// insertion and change by element (see vector.h).
#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::vector {

namespace {

inline SeriesBuffer* buf(const Cell* v) { return buffer_of(v->w2); }
inline uint32_t unit_of(const Cell* v) { return buf(v)->unit(); }
inline uint32_t total(const Cell* v) { return buf(v)->byte_count() / unit_of(v); }
inline uint32_t index_of(const Cell* v) { return std::min(v->w1, total(v)); }
inline uint32_t length(const Cell* v) { return total(v) - index_of(v); }
inline uint8_t* at(const Cell* v, uint32_t i) { return buf(v)->head_ptr() + uint64_t(i) * unit_of(v); }

inline bool is_float_kind(uint32_t t) { return t == TYPE_FLOAT || t == TYPE_PERCENT; }
inline bool is_int_kind(uint32_t t) { return t == TYPE_CHAR || t == TYPE_INTEGER; }
inline uint32_t default_unit(uint32_t t) { return is_float_kind(t) ? 8 : 4; }

[[noreturn]] void no_memory() { fire({"internal", "no-memory"}); }

uint32_t block_count(const Cell* blk) {
    uint32_t n = buffer_of(blk->w2)->byte_count() / sizeof(Cell);
    return blk->w1 < n ? n - blk->w1 : 0;
}

// Values of the vector's kind: char! and integer! for char and integer
// vectors, float! and percent! for float and percent ones.
void check_kind(const Cell* vec, const Cell* value) {
    uint32_t et = vec->w3, vt = value->type();
    bool ok = is_float_kind(et) ? is_float_kind(vt) : is_int_kind(vt);
    if (!ok) fire({"script", "invalid-arg"}, *value);
}

// An element read as a number of its kind.
inline int32_t int_at(const uint8_t* p, uint32_t unit, uint32_t et) { return int32_t(get_element(p, unit, et).w2); }
inline double float_at(const uint8_t* p, uint32_t unit) { return get_element(p, unit, TYPE_FLOAT).get_f64(); }

// Makes room for `count` elements at element `pos` (moving the rest up).
void open_gap(Cell* vec, uint32_t pos, uint64_t count) {
    uint32_t unit = unit_of(vec);
    uint64_t add = count * unit;
    SeriesBuffer* b = buf(vec);
    if (uint64_t(b->byte_count()) + add > MAX_BYTES) no_memory();
    if (add == 0) return;
    uint64_t need = uint64_t(b->byte_count()) + add;
    if (need > b->size) {
        uint64_t grown = std::max<uint64_t>(need, uint64_t(b->size) * 2);
        if (grown > MAX_BYTES) grown = need;
        b = memory::expand_series_copy(b, grown);
    }
    uint8_t* p = b->head_ptr() + uint64_t(pos) * unit;
    std::memmove(p + add, p, size_t(b->tail_ptr() - p));
    b->tail += uint32_t(add);
}

// The source values of insert and change: a block's values from its index
// (at most `part` of them), a vector's elements, or one value.
struct Source {
    Cell value;  // the block, vector or single value
    uint32_t first = 0;
    uint32_t count = 1;
    bool many = false;
    std::vector<Cell> held;  // the elements, when they come from the vector being written
    Cell get(uint32_t i) const {
        if (!held.empty()) return held[i];
        if (!many) return value;
        if (value.type() == TYPE_VECTOR) return get_element(at(&value, first + i), unit_of(&value), value.w3);
        return buffer_of(value.w2)->head_cell()[first + i];
    }
};

Source source_of(const Cell* value, int32_t part) {
    Source s;
    s.value = *value;
    uint32_t t = value->type();
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || t == TYPE_VECTOR) {
        s.many = true;
        uint32_t n = t == TYPE_VECTOR ? total(value) : buffer_of(value->w2)->byte_count() / sizeof(Cell);
        s.first = std::min(value->w1, n);
        s.count = n - s.first;
        if (part >= 0 && uint32_t(part) < s.count) s.count = uint32_t(part);
    }
    return s;
}

// The source of an insert or change into its own vector: its elements are
// read before the gap moves them (scalar cells: nothing for the collector).
void hold_own_elements(const Cell* vec, Source& s) {
    if (!s.many || s.value.type() != TYPE_VECTOR || s.value.w2 != vec->w2) return;
    std::vector<Cell> elements;
    elements.reserve(s.count);
    for (uint32_t i = 0; i < s.count; ++i) elements.push_back(s.get(i));
    s.held = std::move(elements);
}

// Writes the source values `dup` times from element `pos` (room already made).
void write_values(Cell* vec, uint32_t pos, const Source& src, uint64_t dup) {
    uint32_t unit = unit_of(vec);
    for (uint64_t d = 0; d < dup; ++d)
        for (uint32_t i = 0; i < src.count; ++i) {
            Cell v = src.get(i);
            set_element(at(vec, uint32_t(pos + d * src.count + i)), unit, &v);
        }
}

void check_source(const Cell* vec, const Source& src) {
    for (uint32_t i = 0; i < src.count; ++i) {
        Cell v = src.get(i);
        check_kind(vec, &v);
    }
}

// ---- Text ----------------------------------------------------------------------------------

int32_t form_body(Cell* vec, Cell* out, bool mold, Cell* part, int32_t budget) {
    Cell v = *vec;
    uint32_t unit = unit_of(&v), et = v.w3;
    uint32_t n = total(&v);
    for (uint32_t i = index_of(&v); i < n; ++i) {
        if (part && budget < 1) break;
        if (i != index_of(&v)) {
            string::append_char(string::buffer(out), ' ');
            --budget;
        }
        Cell e = get_element(at(&v, i), unit, et);
        if (is_float_kind(et) && unit == 4) {
            double d = e.get_f64();
            bool pct = et == TYPE_PERCENT;
            const char* text = float_::form_float(pct ? d * 100 : d, pct ? float_::MODE_PERCENT32 : float_::MODE_FLOAT32);
            string::concatenate_literal(out, text);
            if (pct) string::append_char(string::buffer(out), '%');
            budget -= int32_t(std::strlen(text)) + (pct ? 1 : 0);
        } else {
            budget = mold ? actions::mold(&e, out, false, false, false, part, budget, 0)
                          : actions::form(&e, out, part, budget);
        }
    }
    return budget;
}

const char* type_name(uint32_t et) {
    switch (et) {
        case TYPE_CHAR: return "char!";
        case TYPE_INTEGER: return "integer!";
        case TYPE_FLOAT: return "float!";
        default: return "percent!";
    }
}

// ---- make -----------------------------------------------------------------------------------

uint32_t element_type_word(const Cell* word) {
    const uint32_t types[] = {TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT};
    uint32_t s = symbol::resolve(word->w2);
    for (uint32_t t : types)
        if (s == symbol::resolve(datatype::names[t].word.w2)) return t;
    return 0;
}

void append_block(Cell* vec, const Cell* blk) {
    Source src = source_of(blk, -1);
    check_source(vec, src);
    uint32_t n = total(vec);
    open_gap(vec, n, src.count);
    write_values(vec, n, src, 1);
}

Cell* make_typed(Cell* proto, const Cell* spec) {
    Cell s = *spec;
    Cell* cells = buffer_of(s.w2)->head_cell() + s.w1;
    uint32_t n = uint32_t(buffer_of(s.w2)->byte_count() / sizeof(Cell)) - s.w1;
    if (n < 2) fire({"script", "bad-make-arg"}, datatype::cell(TYPE_VECTOR), s);
    uint32_t et = element_type_word(&cells[0]);
    if (!et) fire({"script", "bad-make-arg"}, datatype::cell(TYPE_VECTOR), s);
    Cell second = cells[1];
    Cell third = n >= 3 ? cells[2] : none::cell();
    uint32_t bits;
    Cell content;
    if (et == TYPE_PERCENT && (second.type() == TYPE_BLOCK || n == 2)) {
        bits = 64;
        content = second;
    } else {
        if (second.type() != TYPE_INTEGER) fire({"script", "invalid-spec-field"}, second);
        if (n < 3) fire({"script", "bad-make-arg"}, datatype::cell(TYPE_VECTOR), s);
        bits = second.w2;
        content = third;
    }
    bool size_ok = is_int_kind(et) ? (bits == 8 || bits == 16 || bits == 32)
                                   : et == TYPE_FLOAT ? (bits == 32 || bits == 64) : bits == 64;
    if (!size_ok) fire({"script", "bad-make-arg"}, datatype::cell(TYPE_VECTOR), s);
    uint32_t unit = bits / 8;
    if (content.type() == TYPE_INTEGER) {
        int64_t count = int32_t(content.w2);
        if (count < 0) count = 0;
        if (uint64_t(count) * unit > MAX_BYTES) no_memory();
        make_at(proto, uint64_t(count), unit, et);
        std::memset(buf(proto)->head_ptr(), 0, size_t(count) * unit);
        buf(proto)->tail = buf(proto)->head + uint32_t(count) * unit;
    } else if (content.type() == TYPE_BLOCK) {
        stack::TopMark mark;
        Cell* c = stack::push(content);
        make_at(proto, block_count(c), unit, et);
        append_block(proto, c);
    } else {
        fire({"script", "invalid-spec-field"}, content);
    }
    return proto;
}

// ---- Math -----------------------------------------------------------------------------------

int32_t int_op(int32_t a, int32_t b, int32_t op) {
    uint32_t ua = uint32_t(a), ub = uint32_t(b);
    switch (op) {
        case OP_ADD: return int32_t(ua + ub);
        case OP_SUB: return int32_t(ua - ub);
        case OP_MUL: return int32_t(ua * ub);
        case OP_DIV:
        case OP_REM:
            if (b == 0) fire({"math", "zero-divide"});
            if (a == INT32_MIN && b == -1) fire({"math", "overflow"});
            return op == OP_DIV ? a / b : a % b;
        case OP_OR: return a | b;
        case OP_AND: return a & b;
        default: return a ^ b;
    }
}

// The element-wise result of two vectors: a new vector (index 0) as long as
// the shorter, with the larger unit.
void math_vectors(Cell* left, Cell* right, int32_t op) {
    if (left->w3 != right->w3) fire({"script", "not-same-type"});
    stack::TopMark mark;
    Cell a = *left, b = *right;
    uint32_t n = std::min(length(&a), length(&b));
    uint32_t unit = std::max(unit_of(&a), unit_of(&b));
    uint32_t et = a.w3;
    Cell* r = stack::push(none::cell());
    make_at(r, n, unit, et);
    buf(r)->tail = buf(r)->head + n * unit;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* pa = at(&a, index_of(&a) + i);
        const uint8_t* pb = at(&b, index_of(&b) + i);
        Cell e{et, 0, 0, 0};
        if (is_float_kind(et))
            e.set_f64(float_::do_math_op(float_at(pa, unit_of(&a)), float_at(pb, unit_of(&b)), op));
        else
            e.w2 = uint32_t(int_op(int_at(pa, unit_of(&a), et), int_at(pb, unit_of(&b), et), op));
        set_element(at(r, i), unit, &e);
    }
    *left = *r;
}

// The vector's elements from its index changed in place by a number: element
// op number, or number op element when the number came first.
void math_scalar(Cell* vec, const Cell* number, int32_t op, bool number_first) {
    uint32_t et = vec->w3, nt = number->type();
    bool float_vec = is_float_kind(et);
    double f = 0;
    int32_t k = 0;
    if (nt == TYPE_INTEGER || nt == TYPE_CHAR) {
        k = int32_t(number->w2);
        f = double(k);
    } else if (nt == TYPE_FLOAT || nt == TYPE_PERCENT) {
        f = number->get_f64();
        if (!float_vec) {
            if (!(f > -2147483649.0 && f < 2147483648.0)) fire({"math", "overflow"});
            k = int32_t(std::trunc(f));
        }
    } else {
        fire({"internal", "not-done"});
    }
    if (!number_first) {
        bool identity = ((op == OP_ADD || op == OP_SUB) && (float_vec ? f == 0 : k == 0)) ||
                        ((op == OP_MUL || op == OP_DIV) && (float_vec ? f == 1 : k == 1));
        if (identity) return;
    }
    uint32_t unit = unit_of(vec);
    uint32_t n = total(vec);
    for (uint32_t i = index_of(vec); i < n; ++i) {
        uint8_t* p = at(vec, i);
        Cell e{et, 0, 0, 0};
        if (float_vec) {
            double x = float_at(p, unit);
            e.set_f64(number_first ? float_::do_math_op(f, x, op) : float_::do_math_op(x, f, op));
        } else {
            int32_t x = int_at(p, unit, et);
            e.w2 = uint32_t(number_first ? int_op(k, x, op) : int_op(x, k, op));
        }
        set_element(p, unit, &e);
    }
}

void do_math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    if (left->type() == TYPE_VECTOR && right->type() == TYPE_VECTOR) {
        math_vectors(left, right, op);
    } else if (left->type() == TYPE_VECTOR) {
        math_scalar(left, right, op, false);
    } else {
        // A number with a vector second (integer!, float! and char! math).
        Cell number = *left;
        *left = *right;
        math_scalar(left, &number, op, true);
    }
    stack::top = left + 1;
}

}  // namespace

Cell get_element(const uint8_t* p, uint32_t unit, uint32_t elem_type) {
    Cell c{elem_type, 0, 0, 0};
    if (is_float_kind(elem_type)) {
        if (unit == 4) {
            float f;
            std::memcpy(&f, p, 4);
            c.set_f64(double(f));
        } else {
            double d;
            std::memcpy(&d, p, 8);
            c.set_f64(d);
        }
        return c;
    }
    int32_t v = 0;
    switch (unit) {
        case 1:
            v = elem_type == TYPE_CHAR ? int32_t(*p) : int32_t(int8_t(*p));
            break;
        case 2: {
            uint16_t h;
            std::memcpy(&h, p, 2);
            v = elem_type == TYPE_CHAR ? int32_t(h) : int32_t(int16_t(h));
            break;
        }
        default:
            std::memcpy(&v, p, 4);
            break;
    }
    c.w2 = uint32_t(v);
    return c;
}

void set_element(uint8_t* p, uint32_t unit, const Cell* value) {
    uint32_t t = value->type();
    if (is_float_kind(t)) {
        double d = value->get_f64();
        if (unit == 4) {
            float f = float(d);
            std::memcpy(p, &f, 4);
        } else if (unit == 8) {
            std::memcpy(p, &d, 8);
        } else {
            int32_t k = std::isfinite(d) && std::fabs(d) < 2147483648.0 ? int32_t(d) : 0;
            std::memcpy(p, &k, unit);
        }
        return;
    }
    if (!is_int_kind(t)) fire({"script", "invalid-type"}, datatype::cell(t));
    // Integer and char values keep their low 8, 16 or 32 bits.
    uint32_t v = value->w2;
    std::memcpy(p, &v, unit < 4 ? unit : 4);
}

Cell* make_at(Cell* cell, uint64_t n, uint32_t unit, uint32_t elem_type) {
    if (n * unit > MAX_BYTES) no_memory();
    Off node = memory::alloc_series(uint32_t(n ? n : 1), unit, 0);
    *cell = Cell{TYPE_VECTOR, 0, node, elem_type};
    return cell;
}

Cell* push(const Cell* vec) { return stack::push(*vec); }

// ---- Actions -------------------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t) {
    uint32_t t = spec->type();
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        double d = t == TYPE_INTEGER ? double(int32_t(spec->w2)) : spec->get_f64();
        uint64_t n = d >= 1 ? (d < 1e12 ? uint64_t(d) : uint64_t(1e12)) : 0;
        make_at(proto, n, 4, TYPE_INTEGER);
        std::memset(buf(proto)->head_ptr(), 0, size_t(n) * 4);
        buf(proto)->tail = buf(proto)->head + uint32_t(n * 4);
        return proto;
    }
    if (t != TYPE_BLOCK) fire({"internal", "not-done"});
    stack::TopMark mark;
    Cell* s = stack::push(*spec);
    uint32_t n = block_count(s);
    if (n == 0) return make_at(proto, 0, 4, TYPE_INTEGER);
    Cell first = buffer_of(s->w2)->head_cell()[s->w1];
    if (first.type() == TYPE_WORD) return make_typed(proto, s);
    uint32_t et = first.type();
    if (!is_int_kind(et) && !is_float_kind(et)) fire({"script", "invalid-type"}, datatype::cell(et));
    make_at(proto, n, default_unit(et), et);
    append_block(proto, s);
    return proto;
}

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    return form_body(value, out, false, part, budget);
}

int32_t mold(Cell* value, Cell* out, bool only, bool, bool, Cell* part, int32_t budget, int32_t) {
    Cell v = *value;
    if (!only) {
        string::concatenate_literal(out, "make vector! [");
        budget -= 14;
    }
    bool plain = length(&v) != 0 && unit_of(&v) == default_unit(v.w3);
    if (plain) {
        budget = form_body(&v, out, true, part, budget);
        if (!only) {
            string::append_char(string::buffer(out), ']');
            --budget;
        }
        return budget;
    }
    char head[32];
    int len = std::snprintf(head, sizeof head, "%s %u [", type_name(v.w3), unit_of(&v) * 8);
    string::concatenate_literal(out, head);
    budget -= len;
    budget = form_body(&v, out, true, part, budget);
    string::concatenate_literal(out, only ? "]" : "]]");
    return budget - (only ? 1 : 2);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_VECTOR) return NOT_COMPARABLE;
    Cell a = *value, b = *other;
    if (a.w3 != b.w3) fire({"script", "not-same-type"});
    bool same_place = a.w2 == b.w2 && index_of(&a) == index_of(&b);
    if (op == COMP_SAME) return same_place ? 0 : -1;
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (same_place && equality) return 0;
    uint32_t na = length(&a), nb = length(&b);
    if (na != nb && equality) return 1;
    uint32_t n = std::min(na, nb);
    uint32_t et = a.w3;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* pa = at(&a, index_of(&a) + i);
        const uint8_t* pb = at(&b, index_of(&b) + i);
        if (is_float_kind(et)) {
            double x = float_at(pa, unit_of(&a)), y = float_at(pb, unit_of(&b));
            if (std::isnan(x) || std::isnan(y)) return 0;
            if (x != y) return x < y ? -1 : 1;
        } else {
            int32_t x = int_at(pa, unit_of(&a), et), y = int_at(pb, unit_of(&b), et);
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

void add() { do_math(OP_ADD); }
void subtract() { do_math(OP_SUB); }
void multiply() { do_math(OP_MUL); }
void divide() { do_math(OP_DIV); }
void remainder() { do_math(OP_REM); }
void and_t() { do_math(OP_AND); }
void or_t() { do_math(OP_OR); }
void xor_t() { do_math(OP_XOR); }

Unwind insert(Cell* series, Cell* value, int32_t part, bool, int32_t dup, bool append) {
    Source src = source_of(value, part);
    if (dup < 0) dup = 1;
    uint64_t count = uint64_t(src.count) * uint64_t(dup);
    if (count * unit_of(series) > MAX_BYTES) no_memory();
    check_source(series, src);
    uint32_t pos = append ? total(series) : index_of(series);
    bool owned;
    if (Unwind code = series::notify_owner(series, append ? ownership::OwnerEvent::APPEND : ownership::OwnerEvent::INSERT, value, pos, uint32_t(count), &owned)) return code;
    if (owned) {
        // Take both series as the handler left them.
        src = source_of(value, part);
        count = uint64_t(src.count) * uint64_t(dup);
        if (count * unit_of(series) > MAX_BYTES) no_memory();
        check_source(series, src);
        pos = append ? total(series) : std::min(pos, total(series));
    }
    hold_own_elements(series, src);
    stack::TopMark mark;
    stack::push(src.value);  // keeps a source block reachable while the buffer grows
    open_gap(series, pos, count);
    write_values(series, pos, src, uint64_t(dup));
    if (!append) series->w1 = pos + uint32_t(count);
    if (owned) {
        if (Unwind code = series::notify_owner(series, append ? ownership::OwnerEvent::APPENDED : ownership::OwnerEvent::INSERTED, value, pos, uint32_t(count), nullptr)) return mark.pass(code);
    }
    return UNWIND_NONE;
}

Unwind change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
    Source src = source_of(value, -1);
    if (dup < 0) dup = 1;
    uint64_t count = uint64_t(src.count) * uint64_t(dup);
    if (count * unit_of(series) > MAX_BYTES) no_memory();
    check_source(series, src);
    uint32_t pos = index_of(series);
    uint32_t available = total(series) - pos;
    uint64_t replaced = part >= 0 ? std::min<uint64_t>(uint32_t(part), available) : std::min<uint64_t>(count, available);
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGE, value, pos, uint32_t(replaced), &owned)) return code;
    if (owned) {
        // Take both series as the handler left them.
        src = source_of(value, -1);
        count = uint64_t(src.count) * uint64_t(dup);
        if (count * unit_of(series) > MAX_BYTES) no_memory();
        check_source(series, src);
        pos = std::min(pos, total(series));
        available = total(series) - pos;
        replaced = part >= 0 ? std::min<uint64_t>(uint32_t(part), available) : std::min<uint64_t>(count, available);
    }
    hold_own_elements(series, src);
    stack::TopMark mark;
    stack::push(src.value);
    if (count > replaced) {
        open_gap(series, pos + uint32_t(replaced), count - replaced);
    } else if (count < replaced) {
        uint32_t unit = unit_of(series);
        SeriesBuffer* b = buf(series);
        uint8_t* from = b->head_ptr() + uint64_t(pos + replaced) * unit;
        uint8_t* to = b->head_ptr() + uint64_t(pos + count) * unit;
        std::memmove(to, from, size_t(b->tail_ptr() - from));
        b->tail -= uint32_t((replaced - count) * unit);
    }
    write_values(series, pos, src, uint64_t(dup));
    series->w1 = std::min<uint32_t>(pos + uint32_t(count), total(series));
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGED, value, pos, uint32_t(count), nullptr)) return mark.pass(code);
    }
    return UNWIND_NONE;
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_VECTOR, TYPE_STRING, "vector!");
    for (uint32_t slot : {ACT_RANDOM, ACT_REFLECT, ACT_EVAL_PATH, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY, ACT_FIND,
                          ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE,
                          ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SORT, ACT_SKIP, ACT_TAIL, ACT_TAIL_Q, ACT_TAKE,
                          ACT_MODIFY})
        r.inherit(slot);
    r.set<ACT_MAKE>(make);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_ADD>(no_unwind<add>);
    r.set<ACT_SUBTRACT>(no_unwind<subtract>);
    r.set<ACT_MULTIPLY>(no_unwind<multiply>);
    r.set<ACT_DIVIDE>(no_unwind<divide>);
    r.set<ACT_REMAINDER>(no_unwind<remainder>);
    r.set<ACT_AND_T>(no_unwind<and_t>);
    r.set<ACT_OR_T>(no_unwind<or_t>);
    r.set<ACT_XOR_T>(no_unwind<xor_t>);
    r.set<ACT_APPEND>(insert);
    r.set<ACT_INSERT>(insert);
    r.set<ACT_CHANGE>(change);
    datatype::register_type(r);
}

}  // namespace kiv::vector
