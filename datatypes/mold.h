// Molding helpers shared by the datatypes' mold workers.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::mold {
// Appends four spaces per level; returns budget - 4 x levels.
int32_t indent(Cell* out, int32_t levels, int32_t budget);
}  // namespace kiv::mold
