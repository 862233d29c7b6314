// hash!: a block whose values are indexed by a hash table (hash kind,
// runtime/hashtable.h), so that find, select and path access by value avoid
// a linear scan.
//
// A hash value: as block! (word 1 position, word 2 node) plus word 3 = the
// table indexing every cell of the buffer. Every block action works on it;
// the block and series routines that change cells (sort and trim included)
// keep the table in step, and the actions here (make, to, mold, copy) build
// or copy it. Molded as "make hash! " followed by the block.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/stack.h"
#include "datatypes/actions.h"

namespace kiv::hash {

// Indexes every cell of the block in the cell (a new table) and gives it the
// type hash!.
Cell* index_block(Cell* cell);

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);
Outcome to(Cell* proto, Cell* spec, uint32_t type);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);

// Registers hash! (a block! child).
void init();

}  // namespace kiv::hash
