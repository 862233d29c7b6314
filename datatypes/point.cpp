#include "datatypes/point.h"

#include <cmath>
#include <cstring>

#include "datatypes/fixed_words.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/unset.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/error.h"

namespace kiv::point {

namespace {

inline int dims(const Cell* c) {
    return c->type() == TYPE_POINT3D ? 3 : 2;
}

void set_coord(Cell* c, int i, float v) {
    const uint32_t b = std::bit_cast<uint32_t>(v);
    if (i == 0)
        c->w1 = b;
    else if (i == 1)
        c->w2 = b;
    else
        c->w3 = b;
}

Cell make_n(uint32_t type, const float* v) {
    return type == TYPE_POINT3D ? make3(v[0], v[1], v[2]) : make2(v[0], v[1]);
}

inline bool is_number(uint32_t t) {
    return t == TYPE_INTEGER || t == TYPE_FLOAT;
}
inline double number_of(const Cell* c) {
    return c->type() == TYPE_INTEGER ? double(integer::get(c)) : c->get_f64();
}

// The axis of a path element: 1..N, or a word x, y, z; -1 otherwise.
int32_t axis(const Cell* element, int n) {
    static const uint16_t names[] = {fixed::SYM_X, fixed::SYM_Y, fixed::SYM_Z};
    if (element->type() == TYPE_INTEGER) {
        const int32_t i = integer::get(element);
        return i >= 1 && i <= n ? i : -1;
    }
    return scalar::word_index(element, names, n);
}

Outcome convert(Cell* proto, Cell* spec, uint32_t type) {
    const int n = type == TYPE_POINT3D ? 3 : 2;
    const uint32_t st = spec->type();
    float v[3] = {0, 0, 0};
    switch (st) {
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            v[0] = v[1] = v[2] = float(number_of(spec));
            break;
        case TYPE_PAIR:
            v[0] = float(int32_t(spec->w2));
            v[1] = float(int32_t(spec->w3));
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (st == type) {
                copy_cell(spec, proto);
                return proto;
            }
            if (st == TYPE_POINT3D) fire({"script", "bad-to-arg"}, datatype::cell(type), *spec);
            v[0] = coord(spec, 0);
            v[1] = coord(spec, 1);
            break;
        case TYPE_BLOCK: {
            Cell c[3];
            const uint32_t count = scalar::copy_block(spec, c, 3);
            if (count < uint32_t(n)) fire({"syntax", "malconstruct"}, datatype::cell(type), *spec);
            for (int i = 0; i < n; ++i) {
                if (!is_number(c[i].type())) fire({"syntax", "malconstruct"}, datatype::cell(type), *spec);
                v[i] = float(number_of(&c[i]));
            }
            break;
        }
        default: {
            if (st != TYPE_STRING) fire({"script", "bad-to-arg"}, datatype::cell(type), *spec);
            const Cell r = scalar::load_text(spec);
            if (r.type() != type) fire({"script", "bad-to-arg"}, datatype::cell(type), *spec);
            *proto = r;
            return proto;
        }
    }
    *proto = make_n(type, v);
    return proto;
}

int32_t form(Cell* value_in, Cell* out, Cell*, int32_t budget) {
    const Cell copy = *value_in;  // appending may move the buffer the value lies in
    const Cell* value = &copy;
    int32_t k = scalar::append(out, "(");
    for (int i = 0; i < dims(value); ++i) {
        if (i) k += scalar::append(out, ", ");
        k += scalar::append(out, float_::form_float(coord(value, i), float_::MODE_POINT));
    }
    return budget - k - scalar::append(out, ")");
}
int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

Outcome pick(Cell* value, int32_t, Cell* index_cell) {
    const int32_t a = axis(index_cell, dims(value));
    if (a < 0) {
        // The word first: the message reads "cannot use z on 1x2 value".
        if (index_cell->type() == TYPE_WORD) fire({"script", "cannot-use"}, *index_cell, *value);
        fire({"script", "out-of-range"}, *index_cell);
    }
    return scalar::result(float_::cell(coord(value, a - 1)));
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    const int32_t a = axis(element, dims(parent));
    if (a < 0) scalar::invalid_path(path, element);
    if (!value) return scalar::result(float_::cell(coord(parent, a - 1)));
    if (!is_number(value->type())) fire({"script", "invalid-type"}, datatype::cell(value->type()));
    set_coord(parent, a - 1, float(number_of(value)));
    return value;
}

void absolute() {
    Cell* c = stack::arg_base;
    c->w1 &= 0x7FFFFFFFu;
    c->w2 &= 0x7FFFFFFFu;
    if (c->type() == TYPE_POINT3D) c->w3 &= 0x7FFFFFFFu;
}

void negate(Cell* c) {
    for (int i = 0; i < dims(c); ++i) set_coord(c, i, 0.0f - coord(c, i));
}

Unwind reverse(Cell* c, Cell*, Cell*) {
    if (c->type() == TYPE_POINT3D)
        std::swap(c->w1, c->w3);
    else
        std::swap(c->w1, c->w2);
    return UNWIND_NONE;
}

Unwind random(Cell* c, bool seed, bool secure, bool) {
    if (seed) {
        uint32_t sum = 0;
        uint8_t b[12];
        std::memcpy(b, &c->w1, 12);
        for (uint8_t x : b) sum = sum * 31 + x;
        random::seed(sum);
        *c = unset::cell();
        return UNWIND_NONE;
    }
    for (int i = 0; i < dims(c); ++i) {
        const float v = coord(c, i);
        if (v == 0.0f) continue;
        Cell f = float_::cell(v);
        (void)float_::random(&f, false, secure, false);  // a number runs no code
        set_coord(c, i, float(f.get_f64()));
    }
    return UNWIND_NONE;
}

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    const uint32_t st = scale ? scale->type() : 0;
    if (st == TYPE_MONEY) fire({"script", "not-related"}, scalar::word("round"), datatype::cell(TYPE_MONEY));
    const int n = dims(value);
    const bool per_axis = st == TYPE_POINT2D || st == TYPE_POINT3D || (n == 2 && st == TYPE_PAIR);
    for (int i = 0; i < n; ++i) {
        Cell f = float_::cell(coord(value, i));
        Cell s;
        Cell* sp = scale;
        if (per_axis) {
            double x;
            if (st == TYPE_PAIR)
                x = double(int32_t(i == 0 ? scale->w2 : scale->w3));
            else
                x = i < dims(scale) ? coord(scale, i) : 0.0;
            s = float_::cell(x);
            sp = &s;
        }
        float_::round(&f, sp, even, down, half_down, floor, ceiling, half_ceiling);
        set_coord(value, i, float(f.type() == TYPE_INTEGER ? double(integer::get(&f)) : f.get_f64()));
    }
}


void register_one(uint32_t type, const char* name) {
    datatype::Registration r = datatype::blank(type, 0, name);
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
    r.set<ACT_PICK>(pick);
    r.set<ACT_REVERSE>(reverse);
    datatype::register_type(r);
}

}  // namespace

void do_math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    const uint32_t lt = left->type(), rt = right->type();
    const int n = dims(left);
    double r[3] = {0, 0, 0};
    switch (rt) {
        case TYPE_INTEGER:
            r[0] = r[1] = r[2] = integer::get(right);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            const double f = right->get_f64();
            if (op == OP_MUL || op == OP_DIV) {
                const float ff = float(f);
                for (int i = 0; i < n; ++i)
                    set_coord(left, i, op == OP_MUL ? coord(left, i) * ff : coord(left, i) / ff);
                return;
            }
            r[0] = r[1] = r[2] = f;
            break;
        }
        case TYPE_PAIR:
            if (lt != TYPE_POINT2D) fire({"script", "invalid-type"}, datatype::cell(rt));
            r[0] = int32_t(right->w2);
            r[1] = int32_t(right->w3);
            break;
        default:
            if (rt != lt) fire({"script", "invalid-type"}, datatype::cell(rt));
            for (int i = 0; i < n; ++i) r[i] = coord(right, i);
    }
    for (int i = 0; i < n; ++i) set_coord(left, i, float(float_::do_math_op(coord(left, i), r[i], op)));
}

int32_t compare(Cell* value, Cell* other_in, int32_t op) {
    Cell other = *other_in;
    if (value->type() == TYPE_POINT2D && other.type() == TYPE_PAIR)
        other = make2(float(int32_t(other.w2)), float(int32_t(other.w3)));
    if (other.type() != value->type()) return NOT_COMPARABLE;
    const int n = dims(value);
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
            for (int i = 0; i < n; ++i)
                if (!float_::almost_equal_q(coord(value, i), coord(&other, i))) return 1;
            return 0;
        case COMP_STRICT_EQUAL:
            for (int i = 0; i < n; ++i)
                if (coord(value, i) != coord(&other, i)) return 1;
            return 0;
        case COMP_SAME:
            return value->w1 == other.w1 && value->w2 == other.w2 && (n == 2 || value->w3 == other.w3) ? 0
                                                                                                       : 1;
        default: {
            double d = 0;
            for (int i = 0; i < n; ++i) {
                d = double(coord(value, i)) - double(coord(&other, i));
                if (!float_::almost_equal_q(float(d), 0.0f)) break;
            }
            return d < 0.0 ? -1 : d > 0.0 ? 1 : 0;
        }
    }
}

void init() {
    register_one(TYPE_POINT2D, "point2D!");
    register_one(TYPE_POINT3D, "point3D!");
}

}  // namespace kiv::point
