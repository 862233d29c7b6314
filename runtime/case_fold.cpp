#include "runtime/case_fold.h"

namespace kiv::casefold {

// Placeholder until the generated tables land: ASCII only.
void init() {}

uint32_t change_char(uint32_t cp, bool upper) {
    if (upper && cp >= 'a' && cp <= 'z') return cp - 32;
    if (!upper && cp >= 'A' && cp <= 'Z') return cp + 32;
    return cp;
}

}  // namespace kiv::casefold
