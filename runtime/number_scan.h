// Text to number: the scanners behind the `to` and `make` conversions of the
// number datatypes and the lexer's number loaders.
//
// Every scanner reads a run of `count` characters of `unit` bytes each (1, 2
// or 4; any other unit is refused) and reports failure through its error
// out-parameter, never by raising, so that the caller picks the error to
// raise. The error is set to 0 on success. None of them allocates: the float
// scanner copies at most FLOAT_MAX_TEXT characters into a stack buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv::number {

constexpr int SCAN_OK = 0;
constexpr int SCAN_BAD = -1;       // a character that does not belong to the number
constexpr int SCAN_OVERFLOW = -2;  // an integer outside the signed 32-bit range

// Decimal integer: an optional leading sign, digits, and `'` anywhere (they
// are skipped). Any other character sets SCAN_BAD and the scan goes on to the
// end (so the result holds the digits that were read); a text without any
// digit is SCAN_BAD too. A value outside -2147483648..2147483647 sets
// SCAN_OVERFLOW and gives 0.
int32_t scan_integer(const void* start, uint32_t count, uint32_t unit, int* error);

// The float syntax check shared with the lexer's float and percent loaders:
// runs the float automaton (runtime/lexer_tables.h) over `length` bytes.
// Texts longer than 312 bytes are refused.
bool float_syntax_ok(const uint8_t* text, size_t length);

// Decimal float: at most 312 characters; `,` counts as `.`; the text must pass
// the float syntax check and be one whole number (a text the check lets
// through but that is not a number, such as "." or "+-1", fails). `'`
// characters are dropped; the value is the correctly rounded double (an
// infinity beyond the range). On failure the error is SCAN_BAD and the result
// a quiet NaN.
double scan_float(const void* start, uint32_t count, uint32_t unit, int* error);

// Tuple: 1 to 12 decimal parts of 0..255 separated by single `.`; `result`
// becomes a tuple! of that many bytes (padded with zero bytes to 3, the
// shortest tuple). Anything else is SCAN_BAD and leaves `result` untouched.
Cell* scan_tuple(const void* start, uint32_t count, uint32_t unit, int* error, Cell* result);

// The pieces of a money text, as character indexes into the scanned run.
struct MoneyText {
    bool negative = false;
    int32_t currency = -1;  // index of the three-letter code, -1 when there is none
    uint32_t digits = 0;    // first integer digit (the integer part may hold `'`)
    uint32_t point = 0;     // the decimal `.` or `,`; equal to `end` when there is none
    uint32_t end = 0;       // the fraction digits run from point + 1 to end
};

// Checks a money text: an optional sign; an optional currency code of exactly
// three ASCII letters followed by `$` (then at least five characters follow
// the sign), else an optional `$`; integer digits with single `'` between
// digits; optionally `.` or `,` and at least one fraction digit. Fills `out`
// and returns true when the text is valid.
bool scan_money_text(const void* start, uint32_t count, uint32_t unit, MoneyText* out);

// Builds a money! value from checked pieces; returns false when the money
// datatype refuses them (too many digits, a currency not in the list).
using MoneyMaker = bool (*)(Cell* result, const MoneyText& text, const void* start, uint32_t unit);

// `scan_money_text`, then `make`. SCAN_BAD when either fails.
Cell* scan_money(const void* start, uint32_t count, uint32_t unit, int* error, Cell* result, MoneyMaker make);

// Upper-cases the ASCII letters of a NUL-terminated byte string in place.
void upcase_ascii(char* text);

}  // namespace kiv::number
