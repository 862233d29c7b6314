#include "datatypes/mold.h"

#include <climits>

#include "datatypes/string.h"

namespace kiv::mold {

int32_t indent(Cell* out, int32_t levels, int32_t budget) {
    static const char spaces[] = "                                ";  // 32
    if (levels <= 0) return budget;
    int64_t n = int64_t(levels) * 4;
    int64_t left = int64_t(budget) - n;
    while (n > 0) {
        int64_t k = n < 32 ? n : 32;
        string::append_latin1(out, spaces, uint32_t(k));
        n -= k;
    }
    return left < INT_MIN ? INT_MIN : int32_t(left);
}

}  // namespace kiv::mold
