// tuple!: 3 to 12 unsigned bytes written as dotted decimals (1.2.3).
//
// Cell layout: header bits 19-22 hold the length; the bytes fill payload
// words 1-3, byte 1 in the low byte of word 1. Bytes past the length are 0.
// Math clamps every byte to 0..255.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::tuple {

void init();

inline uint32_t length(const Cell* c) {
    return (c->header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT;
}
// Copies the 12 payload bytes out of / into a cell.
void get_bytes(const Cell* c, uint8_t out[12]);
Cell make(const uint8_t bytes[12], uint32_t length);

}  // namespace kiv::tuple
