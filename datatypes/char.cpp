#include "datatypes/char.h"

#include <cmath>

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace kiv::char_ {

namespace {

[[noreturn]] void bad_to_arg(const Cell* spec) {
    fire({"script", "bad-to-arg"}, datatype::cell(TYPE_CHAR), *spec);
}

// The code point a make/to spec names, range-checked.
uint32_t spec_code_point(Cell* spec) {
    uint32_t t = spec->type();
    switch (t) {
        case TYPE_CHAR:
        case TYPE_INTEGER: {
            int32_t v = int32_t(spec->w2);
            if (v < 0 || uint32_t(v) > MAX_CODE_POINT) fire({"script", "out-of-range"}, *spec);
            return uint32_t(v);
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = std::trunc(spec->get_f64());
            // NaN fails both tests and is out of range too.
            if (!(d >= 0.0 && d <= double(MAX_CODE_POINT))) fire({"script", "out-of-range"}, *spec);
            return uint32_t(d);
        }
        case TYPE_BINARY: {
            SeriesBuffer* b = buffer_of(spec->w2);
            uint32_t len = b->byte_count();
            if (spec->w1 >= len) bad_to_arg(spec);
            const uint8_t* p = b->head_ptr() + spec->w1;
            uint32_t avail = len - spec->w1;
            int lead = unicode::utf8_lead_length(*p);
            int32_t n = int32_t(lead == 0 ? 1 : lead);
            if (uint32_t(n) > avail) unicode::fire_invalid_utf8(p, p + avail);
            int32_t cp = unicode::decode_utf8_char(p, &n);
            if (cp < 0) unicode::fire_invalid_utf8(p, p + avail);
            return uint32_t(cp);
        }
        default:
            if (is_any_string(t)) {
                if (string::is_tail(spec)) bad_to_arg(spec);
                return string::abs_at(spec, spec->w1);
            }
            bad_to_arg(spec);
    }
}

}  // namespace

Cell* push(uint32_t cp) {
    return stack::push(cell(cp));
}

Cell* make_in(const Cell* block, uint32_t cp) {
    Cell* slot = block_alloc_tail(block);
    *slot = cell(cp);
    return slot;
}

Outcome make(Cell* proto, Cell* spec, uint32_t /*type*/) {
    uint32_t cp = spec_code_point(spec);
    *proto = cell(cp);
    return proto;
}

int32_t form(Cell* value, Cell* out, Cell* /*part*/, int32_t budget) {
    string::append_char(string::buffer(out), value->w2);
    return budget - 1;
}

int32_t mold(Cell* value, Cell* out, bool /*only*/, bool all, bool /*flat*/, Cell* /*part*/, int32_t budget,
             int32_t /*indent*/) {
    string::concatenate_literal(out, "#\"");
    string::escape_char(out, value->w2, string::ESCAPE_MARKER, all);
    string::append_char(string::buffer(out), '"');
    return budget - 4;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    uint32_t t = other->type();
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t != TYPE_CHAR) return 1;
    if (t != TYPE_CHAR && t != TYPE_INTEGER) return NOT_COMPARABLE;
    int64_t a = int64_t(value->w2);
    int64_t b = t == TYPE_CHAR ? int64_t(other->w2) : int64_t(int32_t(other->w2));
    return (a > b) - (a < b);
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    int32_t operand;
    switch (right->type()) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            operand = int32_t(right->w2);
            break;
        case TYPE_FLOAT: {
            double d = std::trunc(right->get_f64());
            if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire({"math", "overflow"});
            operand = int32_t(d);
            break;
        }
        case TYPE_VECTOR:
            integer::detail::call_math_action(TYPE_VECTOR, op);
            return left;
        default:
            fire({"script", "invalid-type"}, datatype::cell(right->type()));
    }
    Cell result = *left;
    integer::do_math_op(int32_t(left->w2), operand, op, &result);
    // A result cell turned float! is an integer overflow or a division with
    // a remainder: neither is a code point.
    if (result.type() != TYPE_CHAR || result.w2 > MAX_CODE_POINT) fire({"math", "overflow"});
    left->w2 = result.w2;
    return left;
}


void init() {
    datatype::Registration r = datatype::blank(TYPE_CHAR, TYPE_INTEGER, "char!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(make);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    r.set_arithmetic<do_math>();
    r.set_bitwise<do_math>();
    r.inherit(ACT_RANDOM);
    r.inherit(ACT_ABSOLUTE);
    r.inherit(ACT_EVEN_Q);
    r.inherit(ACT_ODD_Q);
    datatype::register_type(r);
}

}  // namespace kiv::char_
