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

}  // namespace kiv::library::loading
