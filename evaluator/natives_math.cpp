// Natives that compute on numbers: the sign tests, max and min, shift,
// to-hex, the trigonometric and logarithmic natives and square-root. Each
// computes in its result slot (the first argument's cell) and retypes it.
#include <cmath>
#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/actions.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::natives {

namespace {

constexpr double PI = 3.141592653589793;

// Leaves the result slot as it is and the data top just above it.
Unwind done() {
    stack::top = stack::arg_base + 1;
    return UNWIND_NONE;
}

Unwind put(const Cell& result) {
    *stack::arg_base = result;
    return done();
}

[[noreturn]] void wrong_type(const Cell* v, const char* arg) {
    fire({"script", "expect-arg"}, word::caller(), datatype::cell(v->type()), series::arg_word(arg));
}

bool is_float_like(uint32_t t) {
    return t == TYPE_FLOAT || t == TYPE_PERCENT;
}

// -1, 0 or 1 for the numbers the sign tests take; NaN is 0.
int32_t sign_of(const Cell* v) {
    switch (v->type()) {
        case TYPE_MONEY:
            return money::sign(v);
        case TYPE_INTEGER:
            return integer::sign(integer::get(v));
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: {
            const double d = v->get_f64();
            return (d > 0.0) - (d < 0.0);
        }
        default:
            wrong_type(v, "number");
    }
}

// The argument as a double: an integer converted, a float, percent or time
// read as it is.
double to_double(const Cell* v) {
    return v->type() == TYPE_INTEGER ? double(integer::get(v)) : v->get_f64();
}

// ---- max and min ---------------------------------------------------------------------------

// The point rule on one component.
float pick_component(float a, float b, bool max) {
    if (b != b) return b;
    return (max ? a < b : a > b) ? b : a;
}

int32_t pick_int(int32_t a, int32_t b, bool max) {
    return max ? (a < b ? b : a) : (a > b ? b : a);
}

// A number as a 32-bit float (integer converted, double rounded).
float to_single(const Cell* v) {
    return float(to_double(v));
}

// Combines the compound value `a` with `b` in place (pair!, point2D!,
// point3D!, tuple! first); false when the pair of types has no such rule.
bool combine(Cell* a, Cell* b, bool max) {
    const uint32_t ta = a->type(), tb = b->type();
    const bool b_number = tb == TYPE_INTEGER || tb == TYPE_FLOAT;
    if (ta == TYPE_PAIR) {
        if (tb == TYPE_FLOAT) {
            const double d = b->get_f64();
            if (std::isnan(d) || std::isinf(d) || d > 2147483647.0 || d < -2147483648.0) {
                *b = point::make2(float(d), float(d));
                return combine(a, b, max);
            }
            *b = integer::cell(int32_t(d));
        }
        if (b->type() == TYPE_INTEGER) {
            const int32_t n = integer::get(b);
            *a = pair::make(pick_int(pair::x_of(a), n, max), pick_int(pair::y_of(a), n, max));
            return true;
        }
        if (tb == TYPE_PAIR) {
            *a = pair::make(pick_int(pair::x_of(a), pair::x_of(b), max),
                            pick_int(pair::y_of(a), pair::y_of(b), max));
            return true;
        }
        if (tb == TYPE_POINT2D) {
            *a = point::make2(float(pair::x_of(a)), float(pair::y_of(a)));
            return combine(a, b, max);
        }
        return false;
    }
    if (ta == TYPE_POINT2D || ta == TYPE_POINT3D) {
        const int n = ta == TYPE_POINT2D ? 2 : 3;
        float other[3];
        if (b_number) {
            other[0] = other[1] = other[2] = to_single(b);
        } else if (tb == ta) {
            for (int i = 0; i < n; ++i) other[i] = point::coord(b, i);
        } else if (ta == TYPE_POINT2D && tb == TYPE_PAIR) {
            other[0] = float(pair::x_of(b));
            other[1] = float(pair::y_of(b));
        } else {
            return false;
        }
        float c[3];
        for (int i = 0; i < n; ++i) c[i] = pick_component(point::coord(a, i), other[i], max);
        *a = n == 2 ? point::make2(c[0], c[1]) : point::make3(c[0], c[1], c[2]);
        return true;
    }
    if (ta == TYPE_TUPLE) {
        uint8_t bytes[12], other[12];
        tuple::get_bytes(a, bytes);
        const uint32_t length = tuple::length(a);
        if (b_number) {
            int32_t n;
            if (tb == TYPE_FLOAT) {
                const double d = b->get_f64();
                if (!(d < 2147483648.0 && d > -2147483649.0))
                    fire({"script", "type-limit"}, datatype::cell(TYPE_INTEGER));
                n = int32_t(d);
            } else {
                n = integer::get(b);
            }
            const uint8_t byte = uint8_t(n < 0 ? 0 : n > 255 ? 255 : n);
            std::memset(other, byte, sizeof other);
        } else if (tb == TYPE_TUPLE && tuple::length(b) == length) {
            tuple::get_bytes(b, other);
        } else {
            return false;
        }
        for (uint32_t i = 0; i < length; ++i)
            bytes[i] = uint8_t(pick_int(bytes[i], other[i], max));
        *a = tuple::make(bytes, length);
        return true;
    }
    return false;
}

bool is_compound(uint32_t t) {
    return t == TYPE_PAIR || t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TUPLE;
}

Unwind max_min(bool max) {
    Cell* a = stack::arg_base;
    Cell* b = a + 1;
    const uint32_t ta = a->type(), tb = b->type();
    const bool a_number = ta == TYPE_INTEGER || is_float_like(ta);
    const bool b_number = tb == TYPE_INTEGER || is_float_like(tb);
    // NaN wins over every number, for both natives.
    if (is_float_like(ta) && std::isnan(a->get_f64()) && b_number) return done();
    if (is_float_like(tb) && std::isnan(b->get_f64()) && a_number) return put(*b);
    // The compound value first: max 3 1x5 is max 1x5 3.
    if (is_compound(tb) && (ta == TYPE_INTEGER || ta == TYPE_FLOAT)) {
        const Cell t = *a;
        *a = *b;
        *b = t;
    }
    if (is_compound(a->type()) && combine(a, b, max)) return done();
    const bool less = actions::compare(a, b, COMP_LESSER);
    if (max ? less : !less) *a = *b;
    return done();
}

// Trigonometry in degrees: the angle brought into -180..180 (and, for sine
// and tangent, -90..90) before the conversion, so multiples of 90 degrees
// give exact results.
enum class Trig { sine, cosine, tangent };

double degrees_to_radians(double a, Trig f) {
    a = std::fmod(a, 360.0);
    if (a > 180.0 || a < -180.0) a += a < 0 ? 360.0 : -360.0;
    if (a > 90.0 || a < -90.0) {
        if (f == Trig::sine) a = a >= 0 ? 180.0 - a : -180.0 - a;
        if (f == Trig::tangent) a = a >= 0 ? a - 180.0 : a + 180.0;
    }
    return a * PI / 180.0;
}

Unwind trig(Trig f, bool radians) {
    Cell* v = stack::arg_base;
    double r = to_double(v);
    if (!radians) r = degrees_to_radians(r, f);
    double result;
    if (f == Trig::tangent) {
        result = r == PI / 2 ? float_::POS_INF : r == PI / -2 ? float_::NEG_INF : std::tan(r);
    } else {
        result = f == Trig::sine ? std::sin(r) : std::cos(r);
        if (std::fabs(result) < float_::EPSILON) result = 0.0;
    }
    float_::make_at(v, result);
    return done();
}

Unwind inverse_trig(double (*fn)(double), bool radians) {
    Cell* v = stack::arg_base;
    double result = fn(to_double(v));
    if (!radians) result = result * 180.0 / PI;
    float_::make_at(v, result);
    return done();
}

Unwind unary(double (*fn)(double)) {
    Cell* v = stack::arg_base;
    float_::make_at(v, fn(to_double(v)));
    return done();
}

}  // namespace

// ---- Sign tests ------------------------------------------------------------------------------

Unwind negative_q(const int32_t*) {
    return put(logic::cell(sign_of(stack::arg_base) < 0));
}

Unwind positive_q(const int32_t*) {
    return put(logic::cell(sign_of(stack::arg_base) > 0));
}

Unwind sign_q(const int32_t*) {
    return put(integer::cell(sign_of(stack::arg_base)));
}

// zero? is false, without error, for a type that has no zero.
Unwind zero_q(const int32_t*) {
    const Cell* v = stack::arg_base;
    bool zero = false;
    switch (v->type()) {
        case TYPE_MONEY:
            zero = money::sign(v) == 0;
            break;
        case TYPE_CHAR:
        case TYPE_INTEGER:
            zero = v->w2 == 0;
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            zero = v->get_f64() == 0.0;
            break;
        case TYPE_PAIR:
            zero = v->w2 == 0 && v->w3 == 0;
            break;
        case TYPE_POINT2D:
            zero = point::coord(v, 0) == 0.0f && point::coord(v, 1) == 0.0f;
            break;
        case TYPE_POINT3D:
            zero = point::coord(v, 0) == 0.0f && point::coord(v, 1) == 0.0f && point::coord(v, 2) == 0.0f;
            break;
        case TYPE_TUPLE: {
            uint8_t bytes[12];
            tuple::get_bytes(v, bytes);
            zero = true;
            for (uint32_t i = 0; i < tuple::length(v); ++i) zero = zero && bytes[i] == 0;
            break;
        }
        default:
            break;
    }
    return put(logic::cell(zero));
}

Unwind nan_q(const int32_t*) {
    const Cell* v = stack::arg_base;
    return put(logic::cell(is_float_like(v->type()) && std::isnan(v->get_f64())));
}

// ---- max, min, shift, to-hex -------------------------------------------------------------------

Unwind max(const int32_t*) {
    return max_min(true);
}

Unwind min(const int32_t*) {
    return max_min(false);
}

// shift data bits /left /logical
Unwind shift(const int32_t* refs) {
    Refs<N_SHIFT> r{refs};
    Cell* v = stack::arg_base;
    const int32_t data = integer::get(v);
    int32_t bits = integer::get(v + 1);
    if (bits < 0) bits = 0;
    int32_t result;
    if (r.has<"left">())
        result = bits > 31 ? 0 : int32_t(uint32_t(data) << bits);
    else if (r.has<"logical">())
        result = bits > 31 ? 0 : int32_t(uint32_t(data) >> bits);
    else
        result = bits > 31 ? (data < 0 ? -1 : 0) : data >> bits;
    integer::make_at(v, result);
    return done();
}

// to-hex value /size length
Unwind to_hex(const int32_t* refs) {
    Cell* v = stack::arg_base;
    uint32_t digits = 8;
    if (const Cell* length = Refs<N_TO_HEX>{refs}.arg<"size">()) {
        const int32_t n = integer::get(length);
        if (n <= 0) fire({"script", "invalid-arg"}, *length);
        if (n < 8) digits = uint32_t(n);
    }
    static const char HEX[] = "0123456789ABCDEF";
    const uint32_t value = v->w2;
    char text[9];
    for (uint32_t i = 0; i < 8; ++i) text[i] = HEX[(value >> (28 - 4 * i)) & 0xF];
    text[8] = 0;
    issue::make_at(v, text + 8 - digits);
    return done();
}

// ---- Trigonometry, logarithms, roots --------------------------------------------------------

Unwind sine(const int32_t* refs) {
    return trig(Trig::sine, Refs<N_SINE>{refs}.has<"radians">());
}

Unwind cosine(const int32_t* refs) {
    return trig(Trig::cosine, Refs<N_COSINE>{refs}.has<"radians">());
}

Unwind tangent(const int32_t* refs) {
    return trig(Trig::tangent, Refs<N_TANGENT>{refs}.has<"radians">());
}

Unwind arcsine(const int32_t* refs) {
    return inverse_trig(std::asin, Refs<N_ARCSINE>{refs}.has<"radians">());
}

Unwind arccosine(const int32_t* refs) {
    return inverse_trig(std::acos, Refs<N_ARCCOSINE>{refs}.has<"radians">());
}

Unwind arctangent(const int32_t* refs) {
    return inverse_trig(std::atan, Refs<N_ARCTANGENT>{refs}.has<"radians">());
}

// arctangent2 y x: the angle of the vector (x, y), in the result slot.
Unwind arctangent2(const int32_t* refs) {
    Cell* v = stack::arg_base;
    double result = std::atan2(to_double(v), to_double(v + 1));
    if (!Refs<N_ARCTANGENT2>{refs}.has<"radians">()) result *= 180.0 / PI;
    float_::make_at(v, result);
    return done();
}

// No domain checks: a negative argument gives NaN, the logarithm of 0
// negative infinity.
Unwind log_2(const int32_t*) {
    return unary([](double x) { return std::log(x) / 0.6931471805599453; });
}

Unwind log_10(const int32_t*) {
    return unary([](double x) { return std::log10(x); });
}

Unwind log_e(const int32_t*) {
    return unary([](double x) { return std::log(x); });
}

Unwind exp(const int32_t*) {
    return unary([](double x) { return std::pow(2.718281828459045, x); });
}

Unwind square_root(const int32_t*) {
    return unary([](double x) { return std::sqrt(x); });
}

}  // namespace kiv::natives
