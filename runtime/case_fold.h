// Simple one-to-one case mapping of Unicode code points (Unicode 14.0) and
// terminal display widths.
#pragma once

#include <cstdint>

namespace kiv::casefold {

// Builds the two BMP lookup tables; runs once at start-up before any symbol
// is interned. Calling it again does nothing.
void init();

// Maps a code point to upper case (upper = true) or lower case; code points
// without a mapping map to themselves.
uint32_t change_char(uint32_t cp, bool upper);

}  // namespace kiv::casefold
