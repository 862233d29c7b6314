// The literal table: the cells decoded from the boot image, addressed by a
// 0-based index. Its base is an arena offset set by the boot decoder (which
// saves and restores it around a nested decode); the table lives in a fixed
// series, so the base stays valid for as long as the decoder keeps it (the
// collector marks that buffer: runtime::init registers the marker).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::literal_table {

// Arena offset of cell 0 (0 before the boot image is decoded).
extern Off base;
// Sets the base and returns the previous one (the decoder restores it).
Off set_base(Off new_base);
// Address of literal i.
Cell* at(uint32_t index);
// The node a literal refers to: word 2 for series values (block!, string!,
// paths, binary! ...), where series keep their node; word 1 for the others
// (object contexts, functions, natives).
Off node_at(uint32_t index);

}  // namespace kiv::literal_table
