// Unicode character data tables (Unicode 14.0), generated into
// runtime/unicode_tables.cpp by tools/gen-unicode-tables.
//
// Case mapping: two direct tables for the Basic Multilingual Plane, each
// 65,536 16-bit entries indexed by code point and holding the mapped code
// point (a code point without a mapping holds itself), and two sorted pair
// tables for the supplementary planes. No BMP code point maps outside the BMP
// (the generator checks it), so 16-bit entries suffice.
//
// Display widths: three sorted, non-overlapping interval tables of inclusive
// [first, last] pairs, flattened (2 entries per interval).
#pragma once

#include <array>
#include <cstdint>

namespace kiv::unicode_tables {

struct CasePair {
    uint32_t from;
    uint32_t to;
};

using DirectTable = std::array<uint16_t, 0x10000>;

// Identity table overlaid with the given BMP pairs; evaluated at compile time.
template <std::size_t N>
constexpr DirectTable build_direct_table(const CasePair (&pairs)[N]) {
    DirectTable t{};
    for (uint32_t c = 0; c < 0x10000; ++c) t[c] = static_cast<uint16_t>(c);
    for (const CasePair& p : pairs) t[p.from] = static_cast<uint16_t>(p.to);
    return t;
}

// Sizes of the generated tables (pairs, and intervals for the width tables).
struct TableCounts {
    uint32_t upper_bmp, lower_bmp, upper_supp, lower_supp;
    uint32_t zero_width, wide, ambiguous;
};

extern const DirectTable upper_bmp;
extern const DirectTable lower_bmp;
extern const CasePair upper_pairs_supp[];
extern const CasePair lower_pairs_supp[];
extern const uint32_t zero_width[];
extern const uint32_t wide[];
extern const uint32_t ambiguous[];
extern const TableCounts counts;

}  // namespace kiv::unicode_tables
