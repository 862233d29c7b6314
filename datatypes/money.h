// money!: an exact decimal amount with an optional currency.
//
// Cell layout (datatypes/lexer_values.h builds literals the same way): header
// bit 14 is the sign; payload byte 4 (low byte of word 1) the currency index
// (0 none, else the 1-based position in system/locale/currencies/list);
// payload bytes 5-15 hold 22 BCD digits, two a byte, high nibble first:
// digits 1-17 the integer part, 18-22 the fraction.
//
// Arithmetic works on the magnitude read as one whole number of 100000ths
// (at most 10^22 - 1, so a 128-bit integer holds every product and shifted
// dividend): the decimal digits never pass through a binary float. Products
// and quotients keep 5 fraction digits, cut (not rounded); any result that
// needs more than 17 integer digits raises script type-limit money!.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::money {

void init();
// Makes money literals read the live system/locale/currencies/list (once the
// system object exists) instead of the built-in list.
void use_live_currencies();

// The integer part of a money! value (script type-limit integer! beyond 32 bits).
int32_t to_integer(const Cell* money);
// The nearest double of the amount (through its decimal text).
double to_float(const Cell* money);
// A money! value from a number (float magnitudes of 1e17 and more, or below
// 1e-5 but not zero, raise script bad-make-arg with the float).
Cell from_integer(int32_t v);
// The sign of the amount: -1, 0 or 1 (a zero amount is 0 whatever its sign bit).
int32_t sign(const Cell* money);
// as-money: `amount` (integer! or float!) with the currency named by the
// word `currency` (looked up in the currency list); an unknown word raises
// script bad-denom with it.
Cell with_currency(const Cell* currency, const Cell* amount);
Cell from_float(double v);
// Comparison of a number (integer! or float-like) with a money! value, as the
// number's compare action answers it.
int32_t compare_number(const Cell* number, const Cell* money, int32_t op);

}  // namespace kiv::money
