#include "runtime/char_width.h"

#include <algorithm>

#include "runtime/unicode_tables.h"

namespace kiv::charwidth {

namespace ut = unicode_tables;

bool in_table(uint32_t cp, const uint32_t* table, uint32_t entries) {
    if (entries < 2 || cp < table[0] || cp > table[entries - 1]) return false;
    // Binary search over the intervals: the last one whose first value is <= cp.
    uint32_t lo = 0, hi = entries / 2;  // intervals [lo, hi)
    while (hi - lo > 1) {
        uint32_t mid = (lo + hi) / 2;
        if (table[2 * mid] <= cp)
            lo = mid;
        else
            hi = mid;
    }
    return cp <= table[2 * lo + 1];
}

int narrow_ambiguous(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (in_table(cp, ut::zero_width, 2 * ut::counts.zero_width)) return 0;
    if (in_table(cp, ut::wide, 2 * ut::counts.wide)) return 2;
    return 1;
}

int char_width(uint32_t cp) {
    if (in_table(cp, ut::ambiguous, 2 * ut::counts.ambiguous)) return 2;
    return narrow_ambiguous(cp);
}

}  // namespace kiv::charwidth
