// Loading one value from text (through the lexer's hook) and forming or
// molding a value with a length limit: the entries of the runtime namespace
// that the datatypes themselves need. The lexer installs `lexer_load` at
// start-up; evaluator/runtime.h holds the rest of the namespace.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::runtime {

// The lexer's load of text into a block, the one call point of the lexer
// from here. Fills `block` (a data-stack cell) with a block of the values and
// returns the number of characters consumed. Installed by the lexer; until
// then loading raises internal not-done.
using LexerLoad = uint32_t (*)(const Cell* text, Cell* block);
extern LexerLoad lexer_load;
// Loads one value from a string value into target: none when the lexer
// stopped before the end or when the text holds more than one value, unset
// when it holds none, else the value. Returns target.
Cell* load_single(const Cell* text, Cell* target);
// load_single into the argument base.
Cell* load_single_result(const Cell* text);
// load_single from UTF-8 bytes (the word layer's hook shape).
void load_single_utf8(const uint8_t* utf8, uint32_t length, Cell* result);

// Forms the value into a new string pushed on the data stack, cut to `limit`
// characters when the limit is above 0. Returns the string cell.
Cell* form_part(const Cell* value, int32_t limit);
// Molds (or forms) the value into a temporary string cut to `limit`
// characters and appends it to `out`; returns the number of characters
// appended.
uint32_t append_limited(Cell* out, const Cell* value, int32_t limit, bool mold, bool flat, bool only);

}  // namespace kiv::runtime
