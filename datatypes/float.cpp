#include "datatypes/float.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/number_scan.h"
#include "runtime/random.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::float_ {

bool pretty_print = true;

const double MAX_VALUE = std::numeric_limits<double>::max();
const double POS_INF = std::numeric_limits<double>::infinity();
const double NEG_INF = -std::numeric_limits<double>::infinity();
const double QUIET_NAN = std::bit_cast<double>(uint64_t{0x7FF8000000000000ull});
const double BELOW_HALF = std::bit_cast<double>(uint64_t{0x3FDFFFFFFFFFFFFFull});

namespace {

using integer::detail::TextView;

inline uint64_t bits_of(double v) {
    return std::bit_cast<uint64_t>(v);
}

inline bool float_like(uint32_t t) {
    return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME;
}

// The value of an integer!, char! or float-like cell as a double.
inline double number_of(const Cell* c) {
    const uint32_t t = c->type();
    return (t == TYPE_INTEGER || t == TYPE_CHAR) ? static_cast<double>(integer::get(c)) : c->get_f64();
}

inline Cell* set_number(Cell* c, uint32_t type, double v) {
    c->header = type;
    c->set_f64(v);
    return c;
}

[[noreturn]] void bad_to_arg(uint32_t target, const Cell& spec) {
    fire({"script", "bad-to-arg"}, datatype::cell(target), spec);
}

// ---- Text ----------------------------------------------------------------------------

struct Scan {
    bool dot = false;
    int e = -1;  // position of "e", or -1
};

Scan scan_text(const char* s, size_t len) {
    Scan r;
    for (size_t i = 0; i < len; ++i) {
        if (s[i] == '.') r.dot = true;
        if (s[i] == 'e' || s[i] == 'E') {
            r.e = static_cast<int>(i);
            break;
        }
    }
    return r;
}

// A text printed with more digits than the value deserves: long, and ending
// in "01" or "99" (before any exponent).
bool noisy(const char* s, size_t len, const Scan& sc) {
    size_t end;
    if (sc.e < 0) {
        const char first = s[0] == '-' ? s[1] : s[0];
        if (!(len > 16 && (first != '0' || len > 17))) return false;
        end = len;
    } else {
        if (sc.e <= 16) return false;
        end = static_cast<size_t>(sc.e);
    }
    if (end < 2) return false;
    const char a = s[end - 2], b = s[end - 1];
    return (a == '0' && b == '1') || (a == '9' && b == '9');
}

size_t copy_text(char* out, const char* text) {
    size_t n = std::strlen(text);
    std::memcpy(out, text, n + 1);
    return n;
}

// ---- Text to number ------------------------------------------------------------------

constexpr size_t MAX_FLOAT_TEXT = 312;

// Copies units [from, to) of a text into `buf` (ASCII only, "," as "."). A
// unit above 127 is copied as a byte that no syntax accepts.
size_t copy_ascii(const TextView& t, uint32_t from, uint32_t to, char* buf) {
    size_t n = 0;
    for (uint32_t i = from; i < to; ++i) {
        uint32_t c = t.at(i);
        buf[n++] = c == ',' ? '.' : (c < 128 ? static_cast<char>(c) : '\x01');
    }
    buf[n] = 0;
    return n;
}

// Reads a checked float text in buf[0..len): apostrophes removed first.
bool read_float(char* buf, size_t len, int extra_exp, double* out) {
    if (!number::float_syntax_ok(reinterpret_cast<const uint8_t*>(buf), len)) return false;
    size_t w = 0;
    for (size_t i = 0; i < len; ++i)
        if (buf[i] != '\'') buf[w++] = buf[i];
    ptrdiff_t left = 0;
    *out = float_text::from_text(buf, buf + w, extra_exp, &left);
    return left == 0;
}

inline bool is_blank(uint32_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The number that loading a text gives, for `to percent!`: an integer, a
// float or a percent literal, surrounded by blanks at most.
bool load_number(const TextView& t, double* out) {
    uint32_t from = 0, to = t.count;
    while (from < to && is_blank(t.at(from))) ++from;
    while (to > from && is_blank(t.at(to - 1))) --to;
    if (from == to || to - from > MAX_FLOAT_TEXT + 1) return false;
    char buf[MAX_FLOAT_TEXT + 2];
    if (t.at(to - 1) == '%') {
        size_t n = copy_ascii(t, from, to - 1, buf);
        return n > 0 && read_float(buf, n, -2, out);
    }
    int error = 0;
    int32_t i = number::scan_integer(t.data + size_t(from) * t.unit, to - from, t.unit, &error);
    if (error == 0) {
        *out = i;
        return true;
    }
    *out = number::scan_float(t.data + size_t(from) * t.unit, to - from, t.unit, &error);
    return error == 0;
}

// mantissa x 10^exponent, correctly rounded from the mantissa's shortest
// decimal digits (so [3 -1] gives 0.3, not 3 x 0.1).
double scale_by_ten(double m, double e) {
    const double et = std::trunc(e);
    if (m == 0 || special_q(m) || std::isnan(et)) return m * std::pow(10.0, et);
    const int64_t exp = et > 100000 ? 100000 : et < -100000 ? -100000 : static_cast<int64_t>(et);
    float_text::Digits d;
    float_text::dtoa_r(m, 0, false, d);
    // value = 0.d1..dn x 10^point = d1..dn x 10^(point - n)
    char text[float_text::BUFFER_SIZE + 24];
    int n = std::snprintf(text, sizeof text, "%se%lld", d.string(),
                          static_cast<long long>(d.point - d.count + exp));
    return float_text::from_text(text, text + n);
}

// ---- Rounding ------------------------------------------------------------------------

double round_unit(double x, bool even, bool down, bool half_down, bool floor_, bool ceiling,
                  bool half_ceiling) {
    const double ax = std::fabs(x);
    const double fl = std::floor(ax);
    const double h = fl + 0.5;
    if (down) return std::copysign(fl, x);
    if (floor_) return std::floor(x);
    if (ceiling) return std::ceil(x);
    if (ax > h) return std::copysign(std::ceil(ax), x);
    if (ax < h) return std::copysign(fl, x);
    if (even) return std::copysign(std::fmod(ax, 2.0) < 1.0 ? fl : std::ceil(ax), x);
    if (half_down) return std::copysign(fl, x);
    if (half_ceiling) return std::ceil(x);
    return std::copysign(std::ceil(ax), x);
}

}  // namespace

// ---- Helpers -------------------------------------------------------------------------

Cell* push(double v) {
    Cell* c = stack::push_slot();
    *c = cell(v);
    return c;
}

Cell* push64(uint32_t high, uint32_t low) {
    Cell* c = stack::push_slot();
    *c = Cell{TYPE_FLOAT, 0, low, high};
    return c;
}

Cell* box(double v) {
    return make_at(stack::arg_base, v);
}

Cell* make_in(const Cell* block, uint32_t high, uint32_t low) {
    Cell* c = block_alloc_tail(block);
    *c = Cell{TYPE_FLOAT, 0, low, high};
    return c;
}

bool almost_equal64_q(double a, double b) {
    if (special_q(a) || special_q(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < EPSILON) return true;
    auto ordered = [](double v) {
        uint64_t u = bits_of(v);
        return (u >> 63) ? (0 - u) : (u | 0x8000000000000000ull);
    };
    const uint64_t ua = ordered(a), ub = ordered(b);
    return (ua > ub ? ua - ub : ub - ua) <= 10;
}

bool almost_equal_q(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    const uint32_t ua = std::bit_cast<uint32_t>(a), ub = std::bit_cast<uint32_t>(b);
    const uint32_t ma = ua & 0x7FFFFFFFu, mb = ub & 0x7FFFFFFFu;
    if (ma >= 0x7F7FFFFFu || mb >= 0x7F7FFFFFu) {
        // At the top of the range (the largest single and the infinities):
        // the same sign and magnitudes less than 2^20 units apart.
        return ((ua ^ ub) & 0x80000000u) == 0 && (ma > mb ? ma - mb : mb - ma) < 0x100000u;
    }
    auto ordered = [](uint32_t u) -> int64_t {
        return (u & 0x80000000u) ? static_cast<int32_t>(0x80000000u - u) : static_cast<int32_t>(u);
    };
    const int64_t d = ordered(ua) - ordered(ub);
    return (d < 0 ? -d : d) <= 10;
}

int32_t to_integer_part(double v) {
    const double t = std::trunc(v + BELOW_HALF);
    if (t != t) return 0;
    if (t >= 2147483647.0) return INT32_MAX;
    if (t <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(t);
}

size_t form_float_r(double v, int mode, char* out) {
    if (mode < MODE_FLOAT32 || mode > MODE_POINT) mode = MODE_FLOAT;
    if (special_q(v)) return copy_text(out, v != v ? "1.#NaN" : v > 0 ? "1.#INF" : "-1.#INF");
    if (pretty_print && std::fabs(v) < EPSILON) {
        static const char* const tiny[6] = {"0.0", "0.0", "0%", "0%", "0.0", "0"};
        return copy_text(out, tiny[mode]);
    }
    static const int first[6] = {7, 16, 7, 13, 0, 7};
    static const int again[6] = {5, 14, 14, 14, 5, 5};
    char buf[float_text::FORMAT_G_BUFFER];
    size_t len = mode == MODE_TIME ? float_text::form_shortest_r(v, 6, false, buf)
                                   : float_text::format_g(v, first[mode], buf);
    Scan sc = scan_text(buf, len);
    if (pretty_print && noisy(buf, len, sc)) {
        len = float_text::format_g(v, again[mode], buf);
        sc = scan_text(buf, len);
    }
    // Copy, cleaning the exponent: no "+", no leading zeros ("1e+020" -> "1e20").
    size_t n = 0;
    const size_t mantissa_end = sc.e < 0 ? len : static_cast<size_t>(sc.e);
    std::memcpy(out, buf, mantissa_end);
    n = mantissa_end;
    const bool add_point = !sc.dot && (mode == MODE_FLOAT32 || mode == MODE_FLOAT);
    if (add_point) {
        out[n++] = '.';
        out[n++] = '0';
    }
    if (sc.e >= 0) {
        out[n++] = 'e';
        size_t i = mantissa_end + 1;
        if (i < len && buf[i] == '-') out[n++] = buf[i++];
        while (i < len && (buf[i] == '+' || buf[i] == '0')) ++i;
        if (i == len) out[n++] = '0';
        while (i < len) out[n++] = buf[i++];
    }
    if (mode == MODE_PERCENT32 || mode == MODE_PERCENT) out[n++] = '%';
    out[n] = 0;
    return n;
}

const char* form_float(double v, int mode) {
    static char buffer[FORM_BUFFER];
    form_float_r(v, mode, buffer);
    return buffer;
}

// ---- Math ----------------------------------------------------------------------------

double do_math_op(double left, double right, int32_t op) {
    switch (op) {
        case OP_ADD:
            return left + right;
        case OP_SUB:
            return left - right;
        case OP_MUL:
            return left * right;
        case OP_DIV:
            return left / right;
        case OP_REM:
            return std::isfinite(right) ? std::fmod(left, right) : QUIET_NAN;
        default:
            fire({"script", "cannot-use"}, integer::detail::caller_word(), datatype::cell(TYPE_FLOAT));
    }
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    const uint32_t lt = left->type();
    const uint32_t rt = right->type();
    switch (rt) {
        case TYPE_TUPLE:
        case TYPE_MONEY:
        case TYPE_VECTOR:
            integer::detail::call_math_action(rt, op);
            return left;
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (lt == TYPE_TIME) break;
            if (op == OP_SUB || op == OP_DIV)
                fire({"script", "not-related"}, integer::detail::word_named(integer::detail::op_name(op)),
                     datatype::cell(rt));
            {
                Cell number = *left;
                copy_cell(right, left);
                *right = number;
            }
            integer::detail::call_math_action(rt, op);
            return left;
        default:
            break;
    }
    if (!(rt == TYPE_INTEGER || rt == TYPE_CHAR || float_like(rt)))
        fire({"script", "invalid-type"}, datatype::cell(rt));
    if (rt == TYPE_CHAR && (lt == TYPE_TIME || lt == TYPE_PERCENT))
        fire({"script", "invalid-type"}, datatype::cell(rt));
    const double r = do_math_op(number_of(left), number_of(right), op);
    const uint32_t type = (lt == TYPE_TIME || rt == TYPE_TIME) ? TYPE_TIME
                          : lt == TYPE_PERCENT                 ? TYPE_PERCENT
                                                               : TYPE_FLOAT;
    set_number(left, type, r);
    return left;
}


void absolute() {
    stack::arg_base->w3 &= 0x7FFFFFFFu;
}

void negate(Cell* value) {
    value->set_f64(0.0 - value->get_f64());
}

void power() {
    Cell* base = stack::arg_base;
    Cell* exponent = base + 1;
    const uint32_t et = exponent->type();
    if (et != TYPE_INTEGER && et != TYPE_FLOAT)
        fire({"script", "expect-arg"}, integer::detail::caller_word(), datatype::cell(et),
             integer::detail::word_named("exponent"));
    base->set_f64(std::pow(base->get_f64(), number_of(exponent)));
}

// The parity of the value truncated to a whole number; infinities and NaN
// count as even.
bool odd_q(Cell* value) {
    const double t = std::trunc(value->get_f64());
    if (!std::isfinite(t)) return false;
    return std::fmod(t, 2.0) != 0.0;
}
bool even_q(Cell* value) {
    return !odd_q(value);
}

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    uint32_t st = scale ? scale->type() : 0;
    if (st == TYPE_MONEY)
        fire({"script", "not-related"}, integer::detail::caller_word(), datatype::cell(TYPE_MONEY));
    if (scale && st != TYPE_INTEGER && !float_like(st)) fire({"script", "invalid-type"}, datatype::cell(st));
    double x = value->get_f64();
    const bool pct = value->type() == TYPE_PERCENT;
    double s;
    if (!scale) {
        s = pct ? 0.01 : 1.0;
    } else {
        s = std::fabs(number_of(scale));
        // A percent! value counts the scale in percent units (round/to 12.345% 1
        // gives 12%); a percent! scale is already a fraction.
        if (pct && st != TYPE_PERCENT) s /= 100.0;
    }
    if (s == 0.0 || !std::isfinite(s) || s < std::fabs(x) * 0x1p-53) return;
    double r;
    if (s >= 1.0) {
        r = round_unit(x / s, even, down, half_down, floor, ceiling, half_ceiling) * s;
        // Scaling back may reach the top of the range: the largest double
        // counts as an overflow too.
        if ((std::isinf(r) && std::isfinite(x)) || std::fabs(r) == MAX_VALUE) fire({"math", "overflow"});
    } else {
        int e = 0;
        const double m = std::frexp(s, &e);
        bool subnormal = e <= -1022;
        if (subnormal) {
            // Keep 1/s finite: round x / 2^e on the scale m, then scale back.
            s = m;
            x = std::ldexp(x, -e);
        }
        const double inv = 1.0 / s;
        r = round_unit(x * inv, even, down, half_down, floor, ceiling, half_ceiling) / inv;
        if (subnormal) r = std::ldexp(r, e);
    }
    if (!scale) {
        value->set_f64(r);
        return;
    }
    if (st == TYPE_INTEGER) {
        // A result that a 32-bit integer cannot hold is an overflow.
        if (!(r >= -2147483648.0 && r <= 2147483647.0)) fire({"math", "overflow"});
        *value = integer::cell(static_cast<int32_t>(r));
        return;
    }
    set_number(value, st, r);
}

// ---- Comparison ------------------------------------------------------------------------

int32_t compare_numbers(uint32_t type_a, double a, uint32_t type_b, double b, int32_t op) {
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && type_a != type_b) return 1;
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
            return almost_equal64_q(a, b) ? 0 : 1;
        case COMP_STRICT_EQUAL:
            return a == b ? 0 : 1;
        case COMP_SAME:
            return bits_of(a) == bits_of(b) ? 0 : 1;
        default:
            if (special_q(a) || special_q(b)) {
                if (op == COMP_LESSER || op == COMP_LESSER_EQUAL) return 1;
                if (op == COMP_GREATER || op == COMP_GREATER_EQUAL) return -1;
                return 0;
            }
            return (a > b) - (a < b);
    }
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint32_t ot = other->type();
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && value->type() != ot) return 1;
    if (ot == TYPE_MONEY) return money::compare_number(value, other, op);
    if (ot != TYPE_INTEGER && !float_like(ot)) return NOT_COMPARABLE;
    return compare_numbers(value->type(), value->get_f64(), ot, number_of(other), op);
}

// ---- Conversions -----------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    const uint32_t target = type == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT;
    const uint32_t st = spec->type();
    double d = 0;
    switch (st) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            d = integer::get(spec);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            d = spec->get_f64();
            break;
        case TYPE_MONEY:
            d = money::to_float(spec);
            break;
        case TYPE_BINARY: {
            TextView t = integer::detail::text_of(spec);
            const uint32_t n = t.count < 8 ? t.count : 8;
            uint64_t u = 0;
            for (uint32_t i = 0; i < n; ++i) u = (u << 8) | t.data[i];
            d = std::bit_cast<double>(u);
            break;
        }
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: {
            const SeriesBuffer* b = buffer_of(spec->w2);
            const uint32_t total = b->byte_count() / sizeof(Cell);
            if (spec->w1 > total || total - spec->w1 != 2) bad_to_arg(target, *spec);
            Cell parts[2];
            copy_cell(b->head_cell() + spec->w1, &parts[0]);
            copy_cell(b->head_cell() + spec->w1 + 1, &parts[1]);
            for (const Cell& p : parts)
                if (p.type() != TYPE_INTEGER && p.type() != TYPE_FLOAT) bad_to_arg(TYPE_FLOAT, p);
            d = scale_by_ten(number_of(&parts[0]), number_of(&parts[1]));
            break;
        }
        default: {
            if (!is_any_string(st)) bad_to_arg(target, *spec);
            TextView t = integer::detail::text_of(spec);
            if (target == TYPE_FLOAT) {
                int error = 0;
                d = number::scan_float(t.data, t.count, t.unit, &error);
                if (error) bad_to_arg(target, *spec);
            } else if (!load_number(t, &d)) {
                bad_to_arg(target, *spec);
            }
        }
    }
    set_number(proto, target, d);
    return proto;
}

// ---- Other actions ---------------------------------------------------------------------

Unwind random(Cell* value, bool seed, bool secure, bool /*only*/) {
    if (seed) {
        random::seed(value->w2 ^ value->w3);
        *value = unset::cell();
        return UNWIND_NONE;
    }
    const double v = value->get_f64();
    double r;
    if (secure) {
        const double r1 = random::secure_int();
        const double r2 = random::secure_int();
        r = v * (r2 + r1 / 2147483647.0) / 2147483648.0;
    } else {
        const double n = random::next();  // 0 .. 2147483647
        r = v * (n / 2147483647.0);
    }
    value->set_f64(r);
    return UNWIND_NONE;
}

int32_t form(Cell* value, Cell* out, Cell* /*part*/, int32_t budget) {
    char buf[FORM_BUFFER];
    const size_t n = form_float_r(value->get_f64(), MODE_FLOAT, buf);
    string::concatenate_literal(out, buf);
    return budget - static_cast<int32_t>(n);
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    char buf[float_text::BUFFER_SIZE];
    const size_t n = float_text::form_shortest_r(value->get_f64(), 0, true, buf);
    string::concatenate_literal(out, buf);
    return budget - static_cast<int32_t>(n);
}

// ---- Registration ----------------------------------------------------------------------

void init() {
    datatype::Registration r = datatype::blank(TYPE_FLOAT, 0, "float!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_RANDOM>(random);
    r.set<ACT_TO>(make);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_ABSOLUTE>(no_unwind<absolute>);
    r.set_arithmetic<do_math>();
    r.set<ACT_NEGATE>(negate);
    r.set<ACT_POWER>(no_unwind<power>);
    r.set<ACT_ROUND>(round);
    r.set<ACT_EVEN_Q>(even_q);
    r.set<ACT_ODD_Q>(odd_q);
    datatype::register_type(r);
}

}  // namespace kiv::float_

namespace kiv::percent {

Cell* push(double v) {
    Cell* c = stack::push_slot();
    *c = cell(v);
    return c;
}

Cell* push64(uint32_t high, uint32_t low) {
    Cell* c = stack::push_slot();
    *c = Cell{TYPE_PERCENT, 0, low, high};
    return c;
}

Cell* box(double v) {
    return make_at(stack::arg_base, v);
}

Cell* make_in(const Cell* block, uint32_t high, uint32_t low) {
    Cell* c = block_alloc_tail(block);
    *c = Cell{TYPE_PERCENT, 0, low, high};
    return c;
}

int32_t form(Cell* value, Cell* out, Cell* /*part*/, int32_t budget) {
    char buf[float_::FORM_BUFFER];
    const size_t n = float_::form_float_r(value->get_f64() * 100.0, float_::MODE_PERCENT, buf);
    string::concatenate_literal(out, buf);
    return budget - static_cast<int32_t>(n);
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_PERCENT, TYPE_FLOAT, "percent!");
    for (uint32_t slot :
         {ACT_MAKE, ACT_RANDOM, ACT_TO, ACT_COMPARE, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE, ACT_MULTIPLY,
          ACT_NEGATE, ACT_POWER, ACT_REMAINDER, ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q})
        r.inherit(slot);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    datatype::register_type(r);
}

}  // namespace kiv::percent
