#include "datatypes/time.h"

#include <cmath>
#include <cstring>

#include "datatypes/fixed_words.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "runtime/stack.h"
#include "runtime/error.h"

namespace kiv::time_ {

namespace {

[[noreturn]] void bad_to_arg(const Cell& spec) {
    fire({"script", "bad-to-arg"}, datatype::cell(TYPE_TIME), spec);
}

inline bool is_number(uint32_t t) {
    return t == TYPE_INTEGER || t == TYPE_FLOAT;
}

double number_of(const Cell* c) {
    return c->type() == TYPE_INTEGER ? double(integer::get(c)) : c->get_f64();
}

// Seconds from up to three block values: hours, minutes, seconds.
double from_block(const Cell* spec) {
    Cell v[3];
    const uint32_t n = scalar::copy_block(spec, v, 3);
    if (n == 0 || n > 3) bad_to_arg(*spec);
    bool negative = false;
    double total = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t t = v[i].type();
        if (!(t == TYPE_INTEGER || (i == 2 && t == TYPE_FLOAT))) bad_to_arg(*spec);
        double x = number_of(&v[i]);
        if (x < 0) {
            if (i > 0) bad_to_arg(*spec);
            negative = true;
            x = -x;
        }
        total += x * (i == 0 ? HOUR : i == 1 ? MINUTE : 1.0);
    }
    return negative ? -total : total;
}

}  // namespace

// ---- Text --------------------------------------------------------------------------

int32_t form_into(double seconds, Cell* out) {
    int32_t n = 0;
    if (std::signbit(seconds) && seconds != 0) {
        n += scalar::append(out, "-");
        seconds = -seconds;
    }
    if (!std::isfinite(seconds)) return n + scalar::append(out, float_::form_float(seconds, float_::MODE_FLOAT));
    double minutes = std::floor(seconds / MINUTE);
    const double s = seconds - minutes * MINUTE;
    char sec[float_::FORM_BUFFER + 1];
    if (s < 1e-6) {
        std::strcpy(sec, "00");
    } else {
        char t[float_::FORM_BUFFER];
        const size_t len = float_::form_float_r(s, float_::MODE_TIME, t);
        if (std::strtod(t, nullptr) >= MINUTE) {
            // The seconds round up to a whole minute: carry it.
            minutes += 1;
            std::strcpy(sec, "00");
        } else if (len == 1 || t[1] == '.') {
            sec[0] = '0';
            std::memcpy(sec + 1, t, len + 1);
        } else {
            std::memcpy(sec, t, len + 1);
        }
    }
    const double hours = std::floor(minutes / 60.0);
    // Past 2^53 minutes the difference is no longer exact: keep it a minute.
    const double rest = minutes - hours * 60.0;
    const int m = rest >= 0 && rest < 60 ? int(rest) : 0;
    char buf[48];
    if (hours < 1e15)
        std::snprintf(buf, sizeof buf, "%.0f:%02d:", hours, m);
    else
        std::snprintf(buf, sizeof buf, "%s:%02d:", float_::form_float(hours, float_::MODE_TIME), m);
    n += scalar::append(out, buf);
    return n + scalar::append(out, sec);
}

// ---- Fields ------------------------------------------------------------------------

int32_t path_field(const Cell* element) {
    static const uint16_t names[] = {fixed::SYM_HOUR, fixed::SYM_MINUTE, fixed::SYM_SECOND};
    if (element->type() == TYPE_INTEGER) {
        const int32_t i = integer::get(element);
        return i >= 1 && i <= 3 ? i : -1;
    }
    return scalar::word_index(element, names, 3);
}

Cell get_field(double seconds, int32_t field) {
    switch (field) {
        case 1: {
            const double h = std::trunc(seconds / HOUR);
            return integer::cell(h >= 2147483647.0 ? INT32_MAX : h <= -2147483648.0 ? INT32_MIN : int32_t(h));
        }
        case 2:
            return integer::cell(int32_t(std::floor(std::fmod(std::fabs(seconds), HOUR) / MINUTE)));
        default:
            return float_::cell(std::fmod(seconds, MINUTE));
    }
}

double set_field(double seconds, int32_t field, const Cell* value) {
    const uint32_t t = value->type();
    if (!(t == TYPE_INTEGER || (field == 3 && t == TYPE_FLOAT))) fire({"script", "invalid-arg"}, *value);
    const double v = number_of(value);
    switch (field) {
        case 1:
            return seconds - (std::floor(seconds / HOUR) - v) * HOUR;
        case 2:
            return seconds - (std::floor(std::fmod(seconds, HOUR) / MINUTE) - v) * MINUTE;
        default:
            return seconds - (std::fmod(seconds, MINUTE) - v);
    }
}

// ---- Actions -----------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t /*type*/) {
    const uint32_t st = spec->type();
    double s = 0;
    switch (st) {
        case TYPE_TIME:
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            s = spec->get_f64();
            break;
        case TYPE_INTEGER:
            s = integer::get(spec);
            break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            s = from_block(spec);
            break;
        default: {
            if (!is_any_string(st)) bad_to_arg(*spec);
            const Cell v = scalar::load_text(spec);
            if (v.type() != TYPE_TIME) bad_to_arg(*spec);
            s = v.get_f64();
        }
    }
    return make_at(proto, s);
}

int32_t form(Cell* value, Cell* out, Cell* /*part*/, int32_t budget) {
    return budget - form_into(value->get_f64(), out);
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    const int32_t field = path_field(element);
    if (field < 0) scalar::invalid_path(path, element);
    if (!value) return scalar::result(get_field(parent->get_f64(), field));
    parent->set_f64(set_field(parent->get_f64(), field, value));
    return value;
}

Outcome pick(Cell* value, int32_t /*index*/, Cell* index_cell) {
    const int32_t field = path_field(index_cell);
    if (field < 0) fire({"script", "out-of-range"}, *index_cell);
    return scalar::result(get_field(value->get_f64(), field));
}

namespace {

void math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    const uint32_t rt = right->type();
    if (rt == TYPE_DATE) {
        if (op != OP_ADD)
            fire({"script", "not-related"}, scalar::word(integer::detail::op_name(op)), datatype::cell(TYPE_TIME));
        const Cell t = *left;
        copy_cell(right, left);
        *right = t;
        integer::detail::call_math_action(TYPE_DATE, OP_ADD);
        return;
    }
    if (op == OP_MUL && rt == TYPE_TIME)
        fire({"script", "not-related"}, scalar::word("multiply"), datatype::cell(TYPE_TIME));
    float_::do_math(op);
    if (op == OP_DIV && rt == TYPE_TIME) left->set_type(TYPE_FLOAT);
}

}  // namespace


void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    if (scale && scale->type() == TYPE_MONEY)
        fire({"script", "not-related"}, integer::detail::caller_word(), datatype::cell(TYPE_MONEY));
    float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    const double s = value->type() == TYPE_INTEGER ? double(integer::get(value)) : value->get_f64();
    make_at(value, s);
}

// The whole seconds of the minute, moved 1e-6 away from zero first.
bool odd_q(Cell* value) {
    double s = value->get_f64();
    s += s >= 0 ? 1e-6 : -1e-6;
    return (int64_t(std::fmod(s, MINUTE)) & 1) != 0;
}
bool even_q(Cell* value) {
    return !odd_q(value);
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_TIME, TYPE_FLOAT, "time!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(make);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_ADD>(math_entry<math, OP_ADD>);
    r.set<ACT_SUBTRACT>(math_entry<math, OP_SUB>);
    r.set<ACT_MULTIPLY>(math_entry<math, OP_MUL>);
    r.set<ACT_DIVIDE>(math_entry<math, OP_DIV>);
    r.set<ACT_ROUND>(round);
    r.set<ACT_EVEN_Q>(even_q);
    r.set<ACT_ODD_Q>(odd_q);
    r.set<ACT_PICK>(pick);
    for (uint32_t slot : {ACT_RANDOM, ACT_COMPARE, ACT_ABSOLUTE, ACT_NEGATE, ACT_REMAINDER}) r.inherit(slot);
    datatype::register_type(r);
}

}  // namespace kiv::time_
