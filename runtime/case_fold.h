// Simple one-to-one case mapping of Unicode code points (Unicode 14.0).
//
// Code points of the Basic Multilingual Plane map through two direct tables
// of 65,536 entries (one load, no branch on the data); supplementary code
// points through two small sorted pair tables. The tables are constant data
// built at compile time (runtime/unicode_tables.cpp), so mapping works from
// the first instruction of the process and needs no locking. A code point
// without a mapping, or any value above 0x10FFFF, maps to itself.
#pragma once

#include <cstdint>

#include "runtime/series.h"
#include "runtime/unicode_tables.h"

namespace kiv::casefold {

// Start-up hook kept for the start-up order: the tables are already in place,
// so it only checks them (once) and returns. Calling it again does nothing.
void init();

// Supplementary-plane lookup (binary search of the sorted pair table).
uint32_t change_supplementary(uint32_t cp, bool upper);

// Maps a code point to upper case (upper = true) or lower case; code points
// without a mapping map to themselves.
inline uint32_t change_char(uint32_t cp, bool upper) {
    if (cp < 0x10000) return (upper ? unicode_tables::upper_bmp : unicode_tables::lower_bmp)[cp];
    return change_supplementary(cp, upper);
}

inline uint32_t to_upper_char(uint32_t cp) {
    return change_char(cp, true);
}
inline uint32_t to_lower_char(uint32_t cp) {
    return change_char(cp, false);
}

// The upper case of a code point when that differs from it, else its lower case.
uint32_t other_case(uint32_t cp);

// Maps `count` characters of a text buffer in place, starting `index` units
// from its head (both clamped to the tail). When a mapped code point does not
// fit the buffer's unit (0xFF maps to 0x178, for one) the whole buffer is
// widened first, which may allocate and move it: the node keeps its identity
// and the buffer to use afterwards is returned. A unit other than 1, 2 or 4
// is an internal fault: runtime error 101 ends the process.
SeriesBuffer* change_units(Off node, uint32_t index, uint32_t count, bool upper);

}  // namespace kiv::casefold
