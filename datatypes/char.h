// char!: one Unicode code point.
//
// Cell payload: word 2 holds the code point, always within 0-0x10FFFF (every
// maker and every arithmetic result is range-checked, so readers never see
// anything else); words 1 and 3 are unused. char! is a child of integer!:
// random, absolute, even? and odd? come from integer!, and the math actions
// run the integer operation on the code point and check the result's range.
// (The namespace carries a trailing underscore because `char` is a keyword.)
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv::char_ {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

// Registers char! (after integer!).
void init();

// A char! value (not on any stack).
inline Cell cell(uint32_t cp) {
    return Cell{TYPE_CHAR, 0, cp, 0};
}
inline uint32_t get(const Cell* c) {
    return c->w2;
}
// A new char! cell on the data stack.
Cell* push(uint32_t cp);
// Appends a new char! cell at a block value's tail.
Cell* make_in(const Cell* block, uint32_t cp);

// The math actions' worker: operands at the argument base and the next cell;
// the result is the argument base.
Cell* do_math(int32_t op);

// ---- Actions (signatures of datatypes/actions.h) ----------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);  // make and to
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);

}  // namespace kiv::char_
