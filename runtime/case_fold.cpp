#include "runtime/case_fold.h"

#include <algorithm>
#include <cstring>

#include "runtime/lowlevel.h"
#include "runtime/unicode.h"

namespace kiv::casefold {

namespace ut = unicode_tables;

void init() {
    // The tables are constant data; check once that they are the ones this
    // code was written for (a regenerated file with a broken table would
    // otherwise corrupt every case-insensitive comparison silently).
    static bool checked = false;
    if (checked) return;
    checked = true;
    if (ut::upper_bmp['a'] != 'A' || ut::lower_bmp['A'] != 'a' || ut::upper_bmp[0xFF] != 0x178 ||
        ut::counts.upper_supp == 0 || ut::counts.lower_supp == 0)
        lowlevel::quit(lowlevel::ERR_ASSERTION, lowlevel::caller_address());
}

uint32_t change_supplementary(uint32_t cp, bool upper) {
    const ut::CasePair* pairs = upper ? ut::upper_pairs_supp : ut::lower_pairs_supp;
    uint32_t n = upper ? ut::counts.upper_supp : ut::counts.lower_supp;
    if (n == 0 || cp < pairs[0].from || cp > pairs[n - 1].from) return cp;
    const ut::CasePair* it =
        std::lower_bound(pairs, pairs + n, cp, [](const ut::CasePair& p, uint32_t c) { return p.from < c; });
    return (it != pairs + n && it->from == cp) ? it->to : cp;
}

uint32_t other_case(uint32_t cp) {
    uint32_t up = change_char(cp, true);
    return up != cp ? up : change_char(cp, false);
}

namespace {

template <class T>
uint32_t map_units(uint8_t* base, uint32_t from, uint32_t to, const ut::DirectTable& table, bool upper) {
    // Maps units [from, to); stops at the first one whose mapping needs a
    // wider unit and returns its position (to when all fitted).
    constexpr uint32_t limit = sizeof(T) == 1 ? 0xFF : sizeof(T) == 2 ? 0xFFFF : 0xFFFFFFFF;
    for (uint32_t i = from; i < to; ++i) {
        T v;
        std::memcpy(&v, base + size_t(i) * sizeof(T), sizeof(T));
        uint32_t m = v < 0x10000 ? table[v] : change_supplementary(v, upper);
        if (m > limit) return i;
        if (m != v) {
            T w = T(m);
            std::memcpy(base + size_t(i) * sizeof(T), &w, sizeof(T));
        }
    }
    return to;
}

}  // namespace

SeriesBuffer* change_units(Off node, uint32_t index, uint32_t count, bool upper) {
    SeriesBuffer* buf = buffer_of(node);
    const ut::DirectTable& table = upper ? ut::upper_bmp : ut::lower_bmp;
    uint32_t unit = buf->unit();
    if (unit != 1 && unit != 2 && unit != 4) lowlevel::quit(101, lowlevel::caller_address());
    // Widening keeps the number of units, so the range is fixed up front.
    uint32_t total = (buf->tail - buf->head) >> unit_shift(unit);
    uint32_t pos = std::min(index, total);
    uint32_t end = pos + std::min(count, total - pos);
    for (;;) {
        uint8_t* base = buf->head_ptr();
        pos = unit == 1   ? map_units<uint8_t>(base, pos, end, table, upper)
              : unit == 2 ? map_units<uint16_t>(base, pos, end, table, upper)
                          : map_units<uint32_t>(base, pos, end, table, upper);
        if (pos == end) return buf;
        // The mapping of the unit at pos needs a wider unit: widen the whole
        // buffer (it may move; the node stays) and go on from there.
        uint32_t cp = 0;
        std::memcpy(&cp, base + size_t(pos) * unit, unit);
        buf = unicode::widen_to(buf, change_char(cp, upper) <= 0xFFFF ? 2 : 4);
        unit = buf->unit();
    }
}

}  // namespace kiv::casefold
