// point2D! and point3D!: points with single-precision coordinates.
//
// Cell payload: word 1 = x, word 2 = y, word 3 = z (point3D! only), each an
// IEEE single. Math, comparison and rounding run on doubles through the
// float! machinery and store the results back as singles. pair! math falls
// back to point2D! math when a result is not a whole 32-bit number.
#pragma once

#include <bit>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv::point {

void init();

inline float coord(const Cell* c, int i) {
    return std::bit_cast<float>(i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3);
}
inline Cell make2(float x, float y) {
    return Cell{TYPE_POINT2D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), 0};
}
inline Cell make3(float x, float y, float z) {
    return Cell{TYPE_POINT3D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
                std::bit_cast<uint32_t>(z)};
}

// The math worker of both types: the point at the argument base, the operand
// in the next cell; the result replaces the point.
void do_math(int32_t op);
// Comparison of two point2D! values (a pair! is turned into one first).
int32_t compare(Cell* value, Cell* other, int32_t op);

}  // namespace kiv::point
