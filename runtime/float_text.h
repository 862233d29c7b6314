// Conversion between IEEE 754 binary64 values and decimal text, done here
// without the platform's conversions.
//
// What the rest of the runtime relies on:
// - `from_text` returns the double nearest to the decimal value of the text
//   (ties to even) for every input length, with overflow to an infinity and
//   underflow to zero. It never fails: malformed text is the caller's
//   business, and the count of characters left unread tells how far the
//   number went.
// - `dtoa` gives the shortest digit string that reads back to the same double
//   (the closest such string, ties to even), or, with a digit limit n, that
//   string when it has at most n digits and otherwise the value rounded
//   exactly to n digits (ties to even). Digit strings never end in "0".
// - `fixed_digits` and `format_g` round the exact binary value to n
//   significant digits (ties to even), which is what a printf "%.ng"
//   conversion prints.
// - The functions without a caller buffer write into one per-thread buffer of
//   32 bytes whose first byte is "-" and whose digits start at the second byte;
//   their result is valid until the next such call on the same thread. The
//   `_r` variants take the caller's buffer and are reentrant.
//
// How: shortest digits come from a scaled-interval search with 128-bit powers
// of ten (exact comparisons by round-to-odd products); n-digit rounding and
// text reading use 128-bit products of the same table and fall back to exact
// big-integer arithmetic (runtime/bigint.h) only when the product cannot
// decide. Short texts with small exponents are read with one exact double
// multiplication or division.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::float_text {

constexpr size_t BUFFER_SIZE = 32;
// Decimal point positions that mark the special results of `dtoa`.
constexpr int POINT_SPECIAL = 9999;  // infinity or NaN
constexpr int POINT_ZERO = 9998;     // positive or negative zero
// The most significant digits `fixed_digits` and `format_g` produce.
constexpr int MAX_FIXED_DIGITS = 40;
// A buffer this large holds any `format_g` text with its NUL.
constexpr size_t FORMAT_G_BUFFER = 64;

// ---------------------------------------------------------------------------
// Text to double

// Reads the decimal number in [start, end): an optional sign, digits with an
// optional "." and an optional exponent ("e" or "E", an optional sign, at
// least one digit). `extra_exp` is added to the text's decimal exponent (the
// lexer passes -2 for percent!). The special forms "1.#INF", "-1.#INF" and
// "1.#NaN" (one significant digit, then ".#" and "I" or "N" in either case)
// give infinities and a quiet NaN. A text made of a sign and zeros alone is
// +0.0; "-0.0" is -0.0. When `left` is given it receives the count of
// characters not read (end minus where the number stopped); a text with no
// digit reads nothing and gives 0.0.
double from_text(const char* start, const char* end, int extra_exp = 0, ptrdiff_t* left = nullptr);
inline double from_text(const uint8_t* start, const uint8_t* end, int extra_exp = 0,
                        ptrdiff_t* left = nullptr) {
    return from_text(reinterpret_cast<const char*>(start), reinterpret_cast<const char*>(end), extra_exp,
                     left);
}

// ---------------------------------------------------------------------------
// Double to digits

// The result of `dtoa_r`.
struct Digits {
    // text[0] is always "-"; the digits start at text[1], NUL-terminated.
    char text[BUFFER_SIZE];
    int start;      // where `string()` starts: 1, or 0 for "-1.#INF", "-0.0", "-0"
    int point;      // value = 0.d1d2... x 10^point; POINT_SPECIAL, POINT_ZERO
    int count;      // digits in the string (the text length for specials and zero)
    bool negative;  // sign bit (false for NaN)
    const char* string() const { return text + start; }
};

// Digits of `value`: the shortest round-trip digits when `limit` <= 0, else at
// most `limit` digits (see above). Infinity gives "1.#INF" or "-1.#INF" and
// NaN "1.#NaN", all with point POINT_SPECIAL; zero gives "0.0" or "-0.0"
// (with `point_zero`) or "0" or "-0" (without) and point POINT_ZERO.
void dtoa_r(double value, int limit, bool point_zero, Digits& out);

// The same in the per-thread buffer; `point`, `sign` (1 = negative) and
// `count` receive the other results. The string is valid until the next call.
const char* dtoa(double value, int limit, int* point, int* sign, int* count, bool point_zero);

// Lays out `dtoa`'s result as text: exponent form ("1.5e17", "2.0e-8") when
// the point position p is >= 18 or < -6, else plain ("123.45",
// "0.0000001"). When the text would end in "." (an integral value, or one
// digit in exponent form) `point_zero` appends "0", otherwise the "." is
// dropped. `out` needs BUFFER_SIZE bytes; returns the length.
size_t form_shortest_r(double value, int limit, bool point_zero, char* out);
// The same in the per-thread buffer, valid until the next call.
const char* form_shortest(double value, int limit, bool point_zero);

// The exact value of a finite non-zero |value| rounded to `n` significant
// digits (1 <= n <= MAX_FIXED_DIGITS), ties to even. Writes the digits without
// trailing zeros (NUL-terminated, `digits` needs n + 1 bytes), sets `point` as
// in `dtoa` and returns the digit count. Returns 0 for zero, infinities and
// NaN, and for n outside the range.
int fixed_digits(double value, int n, char* digits, int* point);

// The text a C printf "%.<precision>g" conversion gives (precision 0 counts as
// 1, a negative one as 6, at most MAX_FIXED_DIGITS): plain or "d.ddde+XX"
// form, trailing zeros removed. Infinities and NaN give "1.#INF", "-1.#INF",
// "1.#NaN". `out` needs FORMAT_G_BUFFER bytes; returns the length.
size_t format_g(double value, int precision, char* out);

namespace detail {
// Entry q (-342 <= q <= 342) of the table of powers of five:
// floor(5^q * 2^(127 - L)) as two 64-bit halves, with L = floor(log2(5^q)).
// Exposed for the unit tests.
void pow5_entry(int q, uint64_t* hi, uint64_t* lo, int* log2);
}  // namespace detail

}  // namespace kiv::float_text
