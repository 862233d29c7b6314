// The routine of do-file's header search; the Kiv side takes it from the
// object of this table (`routine-table 'loading`).
#pragma once

#include <cstddef>
#include <cstdint>

#include "library/routine_table.h"

namespace kiv::library::loading {

// The object table `loading`: `find-header`.
extern const routine::Table TABLE;

// A new string on the data stack holding the characters of UTF-8 text (our
// own, well formed), in the narrowest unit that holds them all. Unlike the
// loaders of files, a leading U+FEFF is a character here, not a byte-order
// mark.
Cell* push_text(const uint8_t* text, size_t size);

// The character at byte i of UTF-8 text and, in *len, its byte count (at
// least 1, never past the end; a byte that starts no character is read as
// the character of that code).
uint32_t utf8_at(const uint8_t* text, size_t size, size_t i, uint32_t* len);

}  // namespace kiv::library::loading
