// The runtime's roots: the values the collector always reaches.
//
// The root block is a fixed block (it never moves) made once at start-up.
// Values that must live for the whole run and have no other owner are
// appended to it: the symbol block, copies of the words start-up makes, the
// output conversion buffer, unbound refinement values. Nothing is ever
// removed from it.
//
// Roots the collector marks, in its order (see the collector):
//   root::block            as a block cell (its cells marked)
//   root::symbol_index     the symbol table's hash table (hashtable::mark)
//   root::global_context   the global context node
// The symbol block itself is held by the root block (and by the index).
//
// Word recording: while `recording` is set (start-up, from the start of the
// runtime initialisation until the fixed and library words are interned),
// every word made by word::make_global or word::load is also kept as a copy
// in the root block, and issue::load appends its issue there.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::root {

// Room the root block is made with (it grows like any block).
constexpr uint32_t BLOCK_ROOM = 1000;

// The root block value (word 2 = node of a fixed series; 0 before init).
extern Cell block;
// Node of the symbol table's hash table (type 2, value size 1) whose value
// block is the symbol block; 0 before the symbol index exists.
extern Off symbol_index;
// Node of the global context; 0 before it exists.
extern Off global_context;
// The start-up word-recording flag.
extern bool recording;

// Makes the root block (once; a second call keeps the block, emptied).
void init();

// Appends a copy of the value to the root block (made first when start-up has
// not made it yet) and returns the new cell (valid until the next allocation).
Cell* keep_copy(const Cell& value);

// Number of cells in the root block; cell i (0-based) of it.
uint32_t count();
Cell* at(uint32_t i);

}  // namespace kiv::root
