// pair!: two signed 32-bit integers x and y, written 640x480.
//
// Cell payload: word 2 = x, word 3 = y. Math that needs a fraction or does
// not fit 32 bits continues as point2D! math, computed once from the
// original operands.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::pair {

void init();

inline Cell make(int32_t x, int32_t y) {
    return Cell{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)};
}
inline int32_t x_of(const Cell* c) {
    return int32_t(c->w2);
}
inline int32_t y_of(const Cell* c) {
    return int32_t(c->w3);
}

}  // namespace kiv::pair
