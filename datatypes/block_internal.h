// Helpers shared by the files of block! (block.cpp, block_primitives.cpp,
// set_operations.cpp); not for other datatypes, which go through block.h.
//
// Cell addresses from cell_at() are valid until the next allocation: re-read
// them through the block's node afterwards.
#pragma once

#include <cstdint>
#include <cstring>

#include "datatypes/action_dispatch.h"
#include "runtime/cell.h"
#include "runtime/cycles.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::block::internal {

constexpr uint32_t CELL = sizeof(Cell);
// Largest data area a block may need: beyond it the size no longer fits the
// 32-bit size field of a buffer.
constexpr uint64_t MAX_BLOCK_BYTES = 0xFFFFFFF0ull;

[[noreturn]] void no_memory();

inline SeriesBuffer* buf(const Cell* b) {
    return buffer_of(b->w2);
}
inline uint32_t cell_count(const Cell* b) {
    return buf(b)->byte_count() / CELL;
}
inline Cell* cell_at(const Cell* b, uint32_t i) {
    return buf(b)->head_cell() + i;
}
inline Cell read_cell(const Cell* b, uint32_t i) {
    return *cell_at(b, i);
}
inline bool is_hash(const Cell* v) {
    return v->type() == TYPE_HASH && v->w3 != 0;
}

inline bool typeset_has(const Cell* ts, uint32_t type) {
    uint8_t bytes[12];
    std::memcpy(bytes, &ts->w1, 12);
    return type < 96 && (bytes[type >> 3] & (0x80u >> (type & 7))) != 0;
}

inline bool equal_cells(const Cell* a, const Cell* b, int32_t op) {
    // Two integers: every equality operation compares their values.
    if (a->type() == TYPE_INTEGER && b->type() == TYPE_INTEGER) return a->w2 == b->w2;
    Cell x = *a, y = *b;
    return actions::compare(&x, &y, op);
}

// Makes room for `extra` cells at the tail. The new size is the needed size,
// doubled when `doubled`. Returns the buffer to use. The check is inline
// (appends run it for every value); grow_for expands.
SeriesBuffer* grow_for(const Cell* blk, uint64_t extra, bool doubled);
inline SeriesBuffer* room_for(const Cell* blk, uint64_t extra, bool doubled) {
    SeriesBuffer* b = buffer_of(blk->w2);
    if (uint64_t(b->tail) + extra * sizeof(Cell) <= b->data_end()) [[likely]]
        return b;
    return grow_for(blk, extra, doubled);
}
// After `count` cells were inserted at `pos` of a hash!: shift and index.
void hash_inserted(const Cell* blk, uint32_t pos, uint32_t count);
// Whether a copy copies a value of type t deeply (any: every block-like type).
bool copied_deeply(uint32_t t, bool any);
// Replaces cell i of the block by a copy of the series it holds (deep when
// asked), keeping the cell's header flags.
void replace_by_copy(const Cell* blk, uint32_t i, bool deep);
// Copies deeply every series value among the cells of a new block.
void deep_copy_cells(const Cell* blk, uint32_t source_node);

}  // namespace kiv::block::internal
