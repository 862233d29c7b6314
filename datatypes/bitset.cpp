// bitset!: specs and ranges, growth with the complement flag, mold, compare
// and the set operations (see bitset.h).
#include "datatypes/bitset.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "datatypes/fixed_words.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace kiv::bitset {

namespace {

Cell none_value = Cell{TYPE_NONE, 0, 0, 0};

enum Op { MEASURE = 0, SET = 1, TEST = 2, CLEAR = 3 };
enum Caller { BY_MAKE, BY_TO, BY_OTHER };

inline SeriesBuffer* buf(const Cell* bits) { return buffer_of(series_node(bits)); }
inline uint32_t byte_count(const Cell* bits) { return buf(bits)->byte_count(); }
inline bool flagged(const Cell* bits) { return (buf(bits)->flags & series_flag::COMPLEMENT) != 0; }
inline uint8_t fill_byte(const Cell* bits) { return flagged(bits) ? 0xFF : 0x00; }
inline uint8_t mask_of(uint32_t n) { return uint8_t(0x80u >> (n & 7)); }

inline void put_text(Cell* out, const char* text) { string::concatenate_literal(out, text); }

// Makes the stored bytes cover `count` bytes: the buffer grows (new bytes
// filled with the flag's byte) and the tail moves over fresh flag bytes.
void ensure_bytes(Cell* bits, uint32_t count) {
    SeriesBuffer* b = buf(bits);
    uint8_t fill = fill_byte(bits);
    if (count > b->size) b = memory::expand_series_fill(b, count, fill);
    uint32_t have = b->byte_count();
    if (have >= count) return;
    std::memset(b->head_ptr() + have, fill, count - have);
    b->tail = b->head + count;
}

// Bit n stored (the buffer may move). n must be within MAX_BIT.
inline void ensure_bit(Cell* bits, uint32_t n) { ensure_bytes(bits, n / 8 + 1); }

[[noreturn]] void bad_value(const Cell* value, Caller caller) {
    Cell v = *value;
    if (caller == BY_MAKE) fire({"script", "bad-make-arg"}, datatype::cell(TYPE_BITSET), v);
    if (caller == BY_TO) fire({"script", "bad-to-arg"}, datatype::cell(TYPE_BITSET), v);
    fire({"script", "invalid-arg"}, v);
}

// Sets or clears the bits low..high (already checked), or tests them.
int64_t process_range(Cell* bits, int64_t low, int64_t high, Op op) {
    if (op == MEASURE) return high;
    uint32_t stored = byte_count(bits) * 8u;
    bool flag = flagged(bits);
    if (op == TEST) {
        for (int64_t n = low; n <= high; ++n)
            if (!test_bit(bits, uint32_t(n))) return 0;
        return 1;
    }
    if (op == SET && flag) {
        // Bits past the stored bytes already read as 1.
        if (low >= stored) return high;
        high = std::min<int64_t>(high, stored - 1);
    }
    if (op == CLEAR && !flag) {
        if (low >= stored) return high;
        high = std::min<int64_t>(high, stored - 1);
    }
    ensure_bit(bits, uint32_t(high));
    uint8_t* p = buf(bits)->head_ptr();  // no allocation below
    for (int64_t n = low; n <= high; ++n) {
        if ((n & 7) == 0 && n + 7 <= high) {
            p[n >> 3] = op == SET ? 0xFF : 0x00;
            n += 7;
            continue;
        }
        if (op == SET)
            p[n >> 3] |= mask_of(uint32_t(n));
        else
            p[n >> 3] &= uint8_t(~mask_of(uint32_t(n)));
    }
    return high;
}

// A bit number named by an integer! or char!; a negative one is refused
// (except when testing, where it reads as the flag: -1).
int64_t bit_number(const Cell* v, Op op) {
    int64_t n;
    if (v->type() == TYPE_FLOAT) {
        double d = v->get_f64();
        if (!(d >= -2147483648.0 && d < 2147483648.0)) fire({"script", "out-of-range"}, *v);
        n = int64_t(std::trunc(d));
    } else {
        n = v->type() == TYPE_CHAR ? int64_t(v->w2) : int64_t(int32_t(v->w2));
    }
    if (n < 0) {
        if (op == TEST) return -1;
        fire({"script", "out-of-range"}, *v);
    }
    if (n > MAX_BIT) fire({"script", "out-of-range"}, *v);
    return n;
}

int64_t process(Cell* bits, const Cell* value, Op op, Caller caller);

// The values of a block in turn; a char! or integer! followed by the word `-`
// and a value of the same type names the range low..high.
int64_t process_block(Cell* bits, const Cell* blk, Op op, Caller caller) {
    Cell b = *blk;
    // A block met again inside itself would be walked forever.
    if (cycles::find(b.w2)) {
        cycles::reset();
        fire({"internal", "no-cycle"});
    }
    cycles::Guard guard;
    guard.push(b.w2);
    int64_t highest = -1;
    uint32_t dash = symbol::resolve(fixed::sym[fixed::SYM_DASH]);
    for (uint32_t i = b.w1; i < block::cells_length(&b) + b.w1; ++i) {
        Cell v = *block::cells_at(&b, i);
        uint32_t t = v.type();
        uint32_t n = block::cells_length(&b) + b.w1;
        bool ranged = (t == TYPE_CHAR || t == TYPE_INTEGER) && i + 1 < n &&
                      block::cells_at(&b, i + 1)->type() == TYPE_WORD &&
                      symbol::resolve(block::cells_at(&b, i + 1)->w2) == dash;
        int64_t r;
        if (ranged) {
            if (i + 2 >= n) fire({"script", "past-end"});
            Cell hi = *block::cells_at(&b, i + 2);
            if (hi.type() != t) fire({"script", "invalid-arg"}, hi);
            int64_t low = bit_number(&v, SET), high = bit_number(&hi, SET);
            if (high < low) fire({"script", "past-end"});
            r = process_range(bits, low, high, op);
            i += 2;
        } else if (t == TYPE_BINARY) {
            fire({"internal", "not-done"});
        } else {
            r = process(bits, &v, op, caller);
        }
        if (op == TEST) {
            if (!r) return 0;
            highest = 1;
        } else {
            highest = std::max(highest, r);
        }
    }
    return op == TEST ? 1 : highest;
}

// What a value names (see bitset.h): measure, set, test or clear those bits.
int64_t process(Cell* bits, const Cell* value, Op op, Caller caller) {
    switch (value->type()) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            int64_t n = bit_number(value, op);
            if (n < 0) return flagged(bits) ? 1 : 0;
            return process_range(bits, n, n, op);
        }
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF: {
            Cell s = *value;
            uint32_t len = string::length_from_head(&s);
            int64_t highest = -1;
            for (uint32_t i = s.w1; i < len; ++i) {
                uint32_t cp = string::get_char(string::buffer(&s)->head_ptr() + uint64_t(i) * string::buffer(&s)->unit(),
                                               string::buffer(&s)->unit());
                if (cp > MAX_BIT) fire({"script", "out-of-range"}, Cell{TYPE_CHAR, 0, cp, 0});
                int64_t r = process_range(bits, cp, cp, op);
                if (op == TEST && !r) return 0;
                highest = std::max<int64_t>(highest, cp);
            }
            return op == TEST ? 1 : highest;
        }
        case TYPE_BLOCK:
            return process_block(bits, value, op, caller);
        default:
            bad_value(value, caller);
    }
}

// Applies a set (or clear on a complemented bitset, which reads the other way)
// at the top level: afterwards the tail covers the highest bit named.
void set_named(Cell* bits, const Cell* value, Op op, Caller caller) {
    int64_t highest = process(bits, value, op, caller);
    if (op == SET && highest >= 0) ensure_bytes(bits, uint32_t((highest + 8) / 8));
}

// Bytes of a binary! from its position.
void binary_bytes(const Cell* bin, const uint8_t** at, uint32_t* count) {
    const SeriesBuffer* b = buffer_of(series_node(bin));
    uint32_t total = b->byte_count();
    uint32_t index = std::min(bin->w1, total);
    *at = b->head_ptr() + index;
    *count = total - index;
}

void from_binary(Cell* proto, const Cell* bin, bool invert) {
    Cell b = *bin;
    const uint8_t* at;
    uint32_t n;
    binary_bytes(&b, &at, &n);
    make_at(proto, n, 0);
    binary_bytes(&b, &at, &n);  // re-read: the allocation may have moved it
    uint8_t* p = buf(proto)->head_ptr();
    for (uint32_t i = 0; i < n; ++i) p[i] = invert ? uint8_t(~at[i]) : at[i];
    if (invert) buf(proto)->flags |= series_flag::COMPLEMENT;
}

Cell* make_from_spec(Cell* proto, Cell* spec, Caller caller) {
    stack::TopMark mark;
    Cell* s = stack::push(*spec);
    uint32_t t = s->type();
    bool complemented = false;
    if (t == TYPE_BLOCK && block::cells_length(s) > 0) {
        Cell first = *block::cells_at(s, s->w1);
        if (first.type() == TYPE_WORD &&
            symbol::resolve(first.w2) == symbol::resolve(fixed::sym[fixed::SYM_NOT])) {
            complemented = true;
            s->w1 += 1;
            if (block::cells_length(s) > 0 && block::cells_at(s, s->w1)->type() == TYPE_BINARY) {
                Cell bin = *block::cells_at(s, s->w1);
                from_binary(proto, &bin, true);
                return proto;
            }
        }
    }
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        if (caller == BY_TO) fire({"script", "bad-to-arg"}, datatype::cell(TYPE_BITSET), *s);
        double n = t == TYPE_INTEGER ? double(int32_t(s->w2)) : s->get_f64();
        if (!(n >= 0)) fire({"script", "out-of-range"}, *s);
        if (n > double(MAX_BIT) + 1) fire({"script", "out-of-range"}, *s);
        make_at(proto, uint32_t((uint64_t(n) + 7) / 8), 0);
        return proto;
    }
    if (t == TYPE_BITSET) return copy(s, proto, nullptr, false, nullptr).cell;
    if (t == TYPE_BINARY) {
        from_binary(proto, s, false);
        return proto;
    }
    // Measure, allocate, then set (or clear, when complemented).
    Cell* probe = stack::push(none::cell());
    make_at(probe, 0, 0);
    int64_t highest = process(probe, s, MEASURE, caller);
    uint32_t bytes = highest < 0 ? 1 : uint32_t((highest + 8) / 8);
    make_at(proto, bytes, complemented ? 0xFF : 0x00);
    if (complemented) buf(proto)->flags |= series_flag::COMPLEMENT;
    process(proto, s, complemented ? CLEAR : SET, caller);
    return proto;
}

// The byte i of a bitset as the reading rule gives it.
inline uint8_t byte_at(const uint8_t* p, uint32_t n, bool flag, uint32_t i) {
    return i < n ? p[i] : (flag ? 0xFF : 0x00);
}

uint8_t combine(int32_t op, uint8_t a, uint8_t b) {
    switch (op) {
        case 5: case 9: return a | b;
        case 6: case 10: return a & b;
        case 11: return a & uint8_t(~b);
        default: return a ^ b;  // 7, 12
    }
}

bool combine_flag(int32_t op, bool a, bool b) {
    switch (op) {
        case 5: case 9: return a || b;
        case 6: case 10: return a && b;
        case 11: return a && !b;
        default: return a != b;
    }
}

// Writes the stored bytes as two hex digits each (inverted for a
// complemented bitset, so that the bytes shown are the members as made).
int32_t form_bytes(Cell* bits, Cell* out, Cell* part, int32_t budget) {
    Cell b = *bits;
    bool flag = flagged(&b);
    uint32_t n = byte_count(&b);
    for (uint32_t i = 0; i < n; ++i) {
        if (part && budget < 0) return budget;
        uint8_t v = buf(&b)->head_ptr()[i];
        put_text(out, string::byte_to_hex(flag ? uint8_t(~v) : v));
        budget -= 2;
    }
    return budget;
}

bool poke_clears(const Cell* v) {
    switch (v->type()) {
        case TYPE_NONE: return true;
        case TYPE_LOGIC: return v->w1 == 0;
        case TYPE_INTEGER: return v->w2 == 0;
        case TYPE_FLOAT: return v->get_f64() == 0.0;
        default: return false;
    }
}

}  // namespace

Cell* make_at(Cell* cell, uint32_t bytes, uint8_t fill) {
    Off node = memory::alloc_bytes(bytes);
    SeriesBuffer* b = buffer_of(node);
    std::memset(b->head_ptr(), fill, bytes);
    b->tail = b->head + bytes;
    *cell = Cell{TYPE_BITSET, 0, node, 0};
    return cell;
}

Cell* push(const Cell* bits) { return stack::push(*bits); }

void do_bitwise(int32_t op) {
    Cell* a = stack::arg_base;
    Cell* b = a + 1;
    if (op == 8) return;
    if (b->type() != TYPE_BITSET) fire({"script", "invalid-type"}, datatype::cell(b->type()));
    uint32_t na = byte_count(a), nb = byte_count(b);
    bool fa = flagged(a), fb = flagged(b);
    uint32_t n = std::max(na, nb);
    // The set operations give a result as long as the longer operand (intersect
    // and exclude keep zero bytes there); and~ of a plain operand ends at its
    // length, the bits beyond reading as 0 whatever the other holds.
    if (op == 6 && !fa && na < n) n = na;
    if (op == 6 && !fb && nb < n) n = nb;
    Cell* r = stack::push(none::cell());
    make_at(r, n, 0);
    const uint8_t* pa = buf(a)->head_ptr();
    const uint8_t* pb = buf(b)->head_ptr();
    uint8_t* pr = buf(r)->head_ptr();
    for (uint32_t i = 0; i < n; ++i)
        pr[i] = combine(op, byte_at(pa, na, fa, i), byte_at(pb, nb, fb, i));
    if (combine_flag(op, fa, fb)) buf(r)->flags |= series_flag::COMPLEMENT;
    *a = *r;
    stack::top = a + 1;
}

// ---- Actions -------------------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t) { return make_from_spec(proto, spec, BY_MAKE); }

Outcome to(Cell* proto, Cell* spec, uint32_t) { return make_from_spec(proto, spec, BY_TO); }

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    bool flag = flagged(value);
    put_text(out, flag ? "make bitset! [not #{" : "make bitset! #{");
    budget -= flag ? 20 : 15;
    budget = form_bytes(value, out, part, budget);
    if (part && budget < 1) return budget;
    put_text(out, flag ? "}]" : "}");
    return budget - (flag ? 2 : 1);
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, int32_t, bool, bool, bool, bool) {
    uint32_t t = element->type();
    if (t != TYPE_INTEGER && t != TYPE_CHAR) fire({"script", "invalid-type"}, datatype::cell(t));
    if (value) {
        if (Unwind code = poke(parent, 0, value, element).code) return code;
        return value;
    }
    return pick(parent, 0, element);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_BITSET) return NOT_COMPARABLE;
    if (op == COMP_SAME) return value->w2 == other->w2 ? 0 : 1;
    uint32_t na = byte_count(value), nb = byte_count(other);
    if (na != nb) return na > nb ? 1 : -1;
    if (na == 0) return 0;
    bool fa = flagged(value), fb = flagged(other);
    if (fa != fb) return fa ? 1 : -1;
    const uint8_t* pa = buf(value)->head_ptr();
    const uint8_t* pb = buf(other)->head_ptr();
    for (uint32_t i = na; i-- > 0;)
        if (pa[i] != pb[i]) return pa[i] > pb[i] ? 1 : -1;
    return 0;
}

void negate(Cell* value) { *value = *complement(value); }

Cell* complement(Cell* value) {
    Cell* r = copy(value, stack::push(none::cell()), nullptr, false, nullptr).cell;
    SeriesBuffer* b = buf(r);
    uint8_t* p = b->head_ptr();
    for (uint32_t i = 0; i < b->byte_count(); ++i) p[i] = uint8_t(~p[i]);
    b->flags ^= series_flag::COMPLEMENT;
    return r;
}

void and_t() { do_bitwise(6); }
void or_t() { do_bitwise(5); }
void xor_t() { do_bitwise(7); }

namespace {

// Runs `change` between the owner's notices before and after it (the after
// notice only when the bitset is owned); a handler's unwind code ends it.
template <class Change>
Unwind noticed(Cell* series, ownership::OwnerEvent before, ownership::OwnerEvent after, const Cell* value, Change&& change) {
    bool owned = false;
    if (Unwind code = series::notify_owner(series, before, value, 0, 0, &owned)) return code;
    change();
    return owned ? series::notify_owner(series, after, value, 0, 0, nullptr) : UNWIND_NONE;
}

}  // namespace

Unwind insert(Cell* series, Cell* value, int32_t, bool, int32_t, bool) {
    return noticed(series, ownership::OwnerEvent::APPEND, ownership::OwnerEvent::APPENDED, value, [&] { set_named(series, value, SET, BY_OTHER); });
}

Unwind clear(Cell* series) {
    return noticed(series, ownership::OwnerEvent::CLEAR, ownership::OwnerEvent::CLEARED, nullptr, [&] {
        SeriesBuffer* b = buf(series);
        std::memset(b->head_ptr(), fill_byte(series), b->byte_count());
    });
}

Outcome copy(Cell* series, Cell* result, Cell*, bool, Cell*) {
    Cell s = *series;
    uint32_t n = byte_count(&s);
    Off node = memory::alloc_bytes(n);
    SeriesBuffer* src = buf(&s);
    SeriesBuffer* b = buffer_of(node);
    if (n) std::memcpy(b->head_ptr(), src->head_ptr(), n);
    b->tail = b->head + n;
    b->flags |= src->flags & series_flag::COMPLEMENT;
    *result = Cell{TYPE_BITSET, 0, node, 0};
    return result;
}

Outcome find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    // One character (the usual question) tests its bit directly.
    if (value->type() == TYPE_CHAR && int64_t(value->w2) <= MAX_BIT)
        return test_bit(series, value->w2) ? &true_value : &none_value;
    return process(series, value, TEST, BY_OTHER) ? &true_value : &none_value;
}

Count length_q(Cell* value) {
    return int32_t(byte_count(value) * 8);
}

Outcome pick(Cell* series, int32_t, Cell* index_cell) {
    return process(series, index_cell, TEST, BY_OTHER) ? &true_value : &false_value;
}

Outcome poke(Cell* series, int32_t, Cell* value, Cell* index_cell) {
    Cell v = *value;
    if (Unwind code = noticed(series, ownership::OwnerEvent::POKE, ownership::OwnerEvent::POKED, value, [&] {
            if (poke_clears(&v))
                process(series, index_cell, CLEAR, BY_OTHER);
            else
                set_named(series, index_cell, SET, BY_OTHER);
        }))
        return code;
    return value;
}

Unwind remove(Cell* series, Cell* part, Cell*) {
    if (!part) fire({"script", "missing-arg"});
    // Clearing a stored bit of a complemented bitset still clears it: the
    // stored bytes hold the real bits.
    return noticed(series, ownership::OwnerEvent::REMOVE, ownership::OwnerEvent::REMOVED, nullptr, [&] { process(series, part, CLEAR, BY_OTHER); });
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_BITSET, 0, "bitset!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(to);
    r.set<ACT_REFLECT>(series::reflect);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_NEGATE>(negate);
    r.set<ACT_COMPLEMENT>(complement);
    r.set<ACT_AND_T>(no_unwind<and_t>);
    r.set<ACT_OR_T>(no_unwind<or_t>);
    r.set<ACT_XOR_T>(no_unwind<xor_t>);
    r.set<ACT_APPEND>(insert);
    r.set<ACT_INSERT>(insert);
    r.set<ACT_CLEAR>(clear);
    r.set<ACT_COPY>(copy);
    r.set<ACT_FIND>(find);
    r.set<ACT_LENGTH_Q>(length_q);
    r.set<ACT_PICK>(pick);
    r.set<ACT_POKE>(poke);
    r.set<ACT_REMOVE>(remove);
    r.set<ACT_MODIFY>(series::modify);
    datatype::register_type(r);
}

}  // namespace kiv::bitset
