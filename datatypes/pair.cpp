#include "datatypes/pair.h"

#include <climits>
#include <cmath>

#include "datatypes/fixed_words.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/unset.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/error.h"

namespace kiv::pair {

namespace {

// A float truncated toward zero into 32 bits (math overflow beyond).
int32_t truncate(double f) {
    const double t = std::trunc(f);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) fire({"math", "overflow"});
    return int32_t(t);
}

int32_t axis(const Cell* element) {
    static const uint16_t names[] = {fixed::SYM_X, fixed::SYM_Y};
    if (element->type() == TYPE_INTEGER) {
        const int32_t i = integer::get(element);
        return i == 1 || i == 2 ? i : -1;
    }
    return scalar::word_index(element, names, 2);
}

Outcome convert(Cell* proto, Cell* spec, uint32_t) {
    const uint32_t st = spec->type();
    switch (st) {
        case TYPE_PAIR:
            copy_cell(spec, proto);
            return proto;
        case TYPE_INTEGER:
            *proto = make(integer::get(spec), integer::get(spec));
            return proto;
        case TYPE_FLOAT: {
            const int32_t t = truncate(spec->get_f64());
            *proto = make(t, t);
            return proto;
        }
        case TYPE_POINT2D: {
            const float x = point::coord(spec, 0), y = point::coord(spec, 1);
            if (!std::isfinite(x) || !std::isfinite(y)) fire({"script", "invalid-arg"}, *spec);
            *proto = make(truncate(x), truncate(y));
            return proto;
        }
        case TYPE_BLOCK: {
            Cell v[2];
            const uint32_t n = scalar::copy_block(spec, v, 2);
            if (n < 2) fire({"syntax", "malconstruct"}, datatype::cell(TYPE_PAIR), *spec);
            int32_t c[2];
            for (int i = 0; i < 2; ++i) {
                if (v[i].type() == TYPE_INTEGER)
                    c[i] = integer::get(&v[i]);
                else if (v[i].type() == TYPE_FLOAT)
                    c[i] = truncate(v[i].get_f64());
                else
                    fire({"syntax", "malconstruct"}, datatype::cell(TYPE_PAIR), *spec);
            }
            *proto = make(c[0], c[1]);
            return proto;
        }
        default: {
            if (st != TYPE_STRING) fire({"script", "bad-to-arg"}, datatype::cell(TYPE_PAIR), *spec);
            const Cell r = scalar::load_text(spec);
            if (r.type() != TYPE_PAIR) fire({"script", "bad-to-arg"}, datatype::cell(TYPE_PAIR), *spec);
            *proto = r;
            return proto;
        }
    }
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%dx%d", x_of(value), y_of(value));
    return budget - scalar::append(out, buf);
}
int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

Outcome pick(Cell* value, int32_t, Cell* index_cell) {
    const int32_t a = axis(index_cell);
    if (a < 0) {
        // The word first: the message reads "cannot use z on 1x2 value".
        if (index_cell->type() == TYPE_WORD) fire({"script", "cannot-use"}, *index_cell, *value);
        fire({"script", "out-of-range"}, *index_cell);
    }
    return scalar::result(integer::cell(a == 1 ? x_of(value) : y_of(value)));
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    const int32_t a = axis(element);
    if (a < 0) scalar::invalid_path(path, element);
    if (!value) return scalar::result(integer::cell(a == 1 ? x_of(parent) : y_of(parent)));
    if (value->type() != TYPE_INTEGER) fire({"script", "invalid-type"}, datatype::cell(value->type()));
    if (a == 1)
        parent->w2 = value->w2;
    else
        parent->w3 = value->w2;
    return value;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() == TYPE_POINT2D) {
        Cell p = point::make2(float(x_of(value)), float(y_of(value)));
        return point::compare(&p, other, op);
    }
    if (other->type() != TYPE_PAIR) return NOT_COMPARABLE;
    const int32_t ax = x_of(value), bx = x_of(other);
    if (ax != bx) return ax < bx ? -1 : 1;
    const int32_t ay = y_of(value), by = y_of(other);
    return (ay > by) - (ay < by);
}

// The whole operation as point2D! math, from the original operands.
void as_points(const Cell& left, const Cell& right, int32_t op) {
    Cell* l = stack::arg_base;
    *l = point::make2(float(x_of(&left)), float(y_of(&left)));
    l[1] = right;
    point::do_math(op);
}

void do_math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    const uint32_t rt = right->type();
    const Cell original_left = *left, original_right = *right;
    int32_t rx, ry;
    switch (rt) {
        case TYPE_INTEGER:
            rx = ry = integer::get(right);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            const double f = right->get_f64();
            if (op == OP_MUL || op == OP_DIV) {
                if (std::isnan(f) || (op == OP_MUL && std::isinf(f))) fire({"script", "invalid-arg"}, *right);
                const float ff = float(f);
                const float x = float(x_of(left)), y = float(y_of(left));
                *left = op == OP_MUL ? point::make2(x * ff, y * ff) : point::make2(x / ff, y / ff);
                return;
            }
            if (!std::isfinite(f)) fire({"script", "invalid-arg"}, *right);
            rx = ry = truncate(f);
            break;
        }
        case TYPE_PAIR:
            rx = x_of(right);
            ry = y_of(right);
            break;
        case TYPE_POINT2D:
            as_points(original_left, original_right, op);
            return;
        default:
            fire({"script", "invalid-type"}, datatype::cell(rt));
    }
    Cell rxc = integer::cell(0), ryc = integer::cell(0);
    const int32_t x = integer::do_math_op(x_of(left), rx, op, &rxc);
    const int32_t y = integer::do_math_op(y_of(left), ry, op, &ryc);
    if (rxc.type() != TYPE_INTEGER || ryc.type() != TYPE_INTEGER) {
        // A fraction or an overflow: the whole operation in floats.
        as_points(original_left, point::make2(float(rx), float(ry)), op);
        return;
    }
    *left = make(x, y);
}


void absolute() {
    Cell* c = stack::arg_base;
    *c = make(integer::abs_checked(x_of(c)), integer::abs_checked(y_of(c)));
}

void negate(Cell* c) {
    if (x_of(c) == INT32_MIN || y_of(c) == INT32_MIN) fire({"math", "overflow"});
    *c = make(-x_of(c), -y_of(c));
}

Unwind reverse(Cell* c, Cell*, Cell*) {
    *c = make(y_of(c), x_of(c));
    return UNWIND_NONE;
}

Unwind random(Cell* c, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(c->w2 ^ c->w3);
        *c = unset::cell();
        return UNWIND_NONE;
    }
    const int32_t x = x_of(c) ? random::int_(x_of(c), secure) : 0;
    const int32_t y = y_of(c) ? random::int_(y_of(c), secure) : 0;
    *c = make(x, y);
    return UNWIND_NONE;
}

int32_t round_one(int32_t v, const Cell* scale, bool even, bool down, bool half_down, bool floor,
                  bool ceiling, bool half_ceiling) {
    Cell c = integer::cell(v);
    Cell s;
    Cell* sp = nullptr;
    if (scale) {
        s = *scale;
        sp = &s;
    }
    integer::round(&c, sp, even, down, half_down, floor, ceiling, half_ceiling);
    return c.type() == TYPE_INTEGER ? integer::get(&c) : truncate(c.get_f64());
}

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    if (scale && scale->type() == TYPE_MONEY)
        fire({"script", "not-related"}, scalar::word("round"), datatype::cell(TYPE_MONEY));
    Cell sx, sy;
    const Cell* px = scale;
    const Cell* py = scale;
    if (scale && scale->type() == TYPE_PAIR) {
        sx = integer::cell(x_of(scale));
        sy = integer::cell(y_of(scale));
        px = &sx;
        py = &sy;
    }
    const int32_t x = round_one(x_of(value), px, even, down, half_down, floor, ceiling, half_ceiling);
    const int32_t y = round_one(y_of(value), py, even, down, half_down, floor, ceiling, half_ceiling);
    *value = make(x, y);
}

}  // namespace

void init() {
    datatype::Registration r = datatype::blank(TYPE_PAIR, 0, "pair!");
    r.set<ACT_MAKE>(convert);
    r.set<ACT_RANDOM>(random);
    r.set<ACT_TO>(convert);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_ABSOLUTE>(no_unwind<absolute>);
    r.set_arithmetic<do_math>();
    r.set<ACT_NEGATE>(negate);
    r.set<ACT_ROUND>(round);
    r.set_bitwise<do_math>();
    r.set<ACT_PICK>(pick);
    r.set<ACT_REVERSE>(reverse);
    datatype::register_type(r);
}

}  // namespace kiv::pair
