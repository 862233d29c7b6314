// float! and percent!: IEEE 754 binary64 numbers.
//
// Cell payload of both: words 2 and 3 hold the double (word 2 the low 32
// bits); read and write it only through Cell::get_f64/set_f64, never through
// a double* (cells are 4-byte aligned). A percent! holds the fraction: 50% is
// stored as 0.5. percent! is a child of float! and inherits everything but
// form and mold. time! (seconds in the same payload) shares the math worker,
// compare and round.
//
// Text: `form` of float! gives the tidy text of form_float mode 1 ("%.16g"
// cleaned up: 0.1 + 0.2 forms as 0.3, 3 as 3.0, 1e20 as 1.0e20), `mold` the
// shortest text that reads back to the same double (0.30000000000000004);
// percent! writes mode 3 of the value x 100 with "%" for both. Infinities and
// NaN are "1.#INF", "-1.#INF" and "1.#NaN".
//
// Equality (=) holds within 10 units of least precision; strict equality
// (==) needs the exact double and the same datatype; same? the same 64 bits.
// Every ordering test involving an infinity or NaN is false.
//
// (The namespace carries a trailing underscore because `float` is a keyword.)
#pragma once

#include <cstdint>
#include <cstring>

#include "datatypes/integer.h"
#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv::float_ {

// Tidy-up of formed floats (tiny values as 0.0, noisy digits printed again
// with fewer digits). Set from system/options/float/pretty?; on by default.
extern bool pretty_print;

// Shared constants.
extern const double MAX_VALUE;  // the largest finite double
extern const double POS_INF;
extern const double NEG_INF;
extern const double QUIET_NAN;   // high word 0x7FF80000, low word 0
extern const double BELOW_HALF;  // 0.49999999999999994
constexpr double EPSILON = 2.220446049250313e-16;

// Registers float! (percent! registers later, with percent::init).
void init();

// ---- Helpers -------------------------------------------------------------------
inline double get(const Cell* c) {
    return c->get_f64();
}
inline Cell cell(double v) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    c.set_f64(v);
    return c;
}
// The cell becomes float! (plain header) holding v.
inline Cell* make_at(Cell* c, double v) {
    c->header = TYPE_FLOAT;
    c->set_f64(v);
    return c;
}
Cell* push(double v);
Cell* push64(uint32_t high, uint32_t low);
Cell* box(double v);
Cell* make_in(const Cell* block, uint32_t high, uint32_t low);

// Exponent bits all ones: an infinity or NaN.
inline bool special_q(double v) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    return (b & 0x7FF0000000000000ull) == 0x7FF0000000000000ull;
}
inline bool equal_special_q(double v) {
    return special_q(v);
}
inline bool nan32_q(float v) {
    return v != v;
}
// Tolerance tests: within 10 units of least precision (doubles also within
// EPSILON of each other); never true for an infinity or NaN (singles: see
// the .cpp for the rule at the top of the range).
bool almost_equal64_q(double a, double b);
bool almost_equal_q(float a, float b);
// value + 0.49999999999999994 truncated to 32 bits, saturating (NaN gives 0).
int32_t to_integer_part(double v);

// Form modes.
enum FormMode : int {
    MODE_FLOAT32 = 0,    // vector! elements of 32-bit floats
    MODE_FLOAT = 1,      // float!
    MODE_PERCENT32 = 2,  // vector! elements of 32-bit percents (value x 100)
    MODE_PERCENT = 3,    // percent! (value x 100)
    MODE_TIME = 4,       // seconds of time!
    MODE_POINT = 5,      // point2D!/point3D! coordinates
};
constexpr size_t FORM_BUFFER = 64;
// Text of `v` in the given mode (the caller multiplies percents by 100).
// Writes a NUL-terminated text into `out` (FORM_BUFFER bytes); returns its length.
size_t form_float_r(double v, int mode, char* out);
// The same in one static buffer, valid until the next call.
const char* form_float(double v, int mode);

// One operation (MathOp code) on two doubles: no error for division by zero
// or overflow; remainder is fmod (NaN for an infinite right value); or, and,
// xor raise script cannot-use.
double do_math_op(double left, double right, int32_t op);
// The math actions' worker for float!, percent!, time! and an integer! left
// operand whose right operand is float-like: operands at the argument base
// and the next cell; returns the result cell (the argument base).
Cell* do_math(int32_t op);

// Comparison of two numbers given as doubles with their datatypes (the
// integer! side of mixed comparisons uses it).
int32_t compare_numbers(uint32_t type_a, double a, uint32_t type_b, double b, int32_t op);

// ---- Actions (percent! inherits all but form and mold) -------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);  // also `to`
void random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
void absolute();
void negate(Cell* value);
void power();
void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling);
bool even_q(Cell* value);
bool odd_q(Cell* value);

}  // namespace kiv::float_

namespace kiv::percent {

// Registers percent! (after float!, whose entries it inherits).
void init();

inline double get(const Cell* c) {
    return c->get_f64();
}
inline Cell cell(double v) {
    Cell c{TYPE_PERCENT, 0, 0, 0};
    c.set_f64(v);
    return c;
}
inline Cell* make_at(Cell* c, double v) {
    c->header = TYPE_PERCENT;
    c->set_f64(v);
    return c;
}
inline Cell* make_at_halves(Cell* c, uint32_t high, uint32_t low) {
    c->header = TYPE_PERCENT;
    c->w2 = low;
    c->w3 = high;
    return c;
}
Cell* push(double v);
Cell* push64(uint32_t high, uint32_t low);
Cell* box(double v);
Cell* make_in(const Cell* block, uint32_t high, uint32_t low);

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);

}  // namespace kiv::percent
