// Helpers shared by the scalar datatypes whose whole value lives in the cell
// (time!, date!, money!, tuple!, pair!, point2D!, point3D!).
//
// None of them holds a pointer into a series buffer across an allocation:
// block contents are copied out before anything else happens.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::scalar {

// Copies at most `max` cells of a block-like value (from its index) into
// `out`; returns how many cells the block holds from its index.
uint32_t copy_block(const Cell* block, Cell* out, uint32_t max);

// A cell that outlives the call (pick and path reads return it); the caller
// copies it at once.
Cell* result(const Cell& value);

// The value that loading a string-like value gives (none when the text is
// not exactly one value).
Cell load_text(const Cell* text);

// Raises script invalid-path with the path (none when the step has no
// path) and the element.
[[noreturn]] void invalid_path(const Cell* path, const Cell* element);

// A word for an error argument (an action or argument name).
Cell word(const char* name);

// Appends ASCII text to a string and returns how many characters it has.
int32_t append(Cell* out, const char* text);

// The position (1-based) of a word among fixed symbols (boot/fixed_words.h),
// compared without regard to case; -1 when it is none of them or not a word.
int32_t word_index(const Cell* word, const uint16_t* symbols, int32_t count);

// True for the datatypes whose path action writes a field into the value's
// own cell: a set-path through them must store the changed cell back.
inline bool changed_in_place(uint32_t type) {
    return type == TYPE_TIME || type == TYPE_DATE || type == TYPE_PAIR || type == TYPE_TUPLE ||
           type == TYPE_POINT2D || type == TYPE_POINT3D || type == TYPE_EVENT;
}

}  // namespace kiv::scalar
