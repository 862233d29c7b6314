// Terminal display width of a code point: 0, 1 or 2 columns.
//
// Rules, in order: an East Asian Ambiguous code point is 2 columns in
// char_width and falls through to the others in narrow_ambiguous; NUL is 0;
// the other C0 and C1 controls and DEL are 1; combining marks and format
// characters are 0; East Asian Wide and Fullwidth are 2; everything else
// (unassigned code points included) is 1. The interval tables follow the
// Unicode 14.0 data (runtime/unicode_tables.cpp).
#pragma once

#include <cstdint>

namespace kiv::charwidth {

// Ambiguous characters counted wide (for East Asian terminals).
int char_width(uint32_t cp);

// Ambiguous characters counted narrow.
int narrow_ambiguous(uint32_t cp);

// True when cp lies in one of the inclusive [first, last] intervals of a
// sorted interval table of `entries` 32-bit words (twice the interval count).
bool in_table(uint32_t cp, const uint32_t* table, uint32_t entries);

}  // namespace kiv::charwidth
