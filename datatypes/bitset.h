// bitset!: a set of non-negative integers (character codes in practice) held
// as a bit array that grows on demand, with a complement flag.
//
// A bitset value: word 2 = node of a buffer of 1-byte units holding the bit
// bytes; words 1 and 3 unused (a bitset has no position). Bit n lives in byte
// n / 8 under the mask 128 >> (n mod 8): the most significant bit of byte 0
// is bit 0. The stored bits are 8 x (tail - head).
//
// Complement flag: series_flag::COMPLEMENT of the buffer. A bit at or beyond
// the stored bytes reads as the flag; a stored bit reads as itself. So the
// stored bytes always hold the real bits, and complementing inverts them and
// toggles the flag.
//
// Bits above MAX_BIT are refused (script out-of-range) rather than grown into:
// a bitset is a byte per eight bits, and no character set needs more.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/series.h"
#include "datatypes/actions.h"

namespace kiv::bitset {

constexpr int64_t MAX_BIT = (int64_t(1) << 27) - 1;  // 16 MiB of bits

// The bit's state (bits past the stored bytes read as the flag). Inline:
// find of a char! in a bitset! is one call of it.
inline bool test_bit(const Cell* bits, uint32_t n) {
    const SeriesBuffer* b = buffer_of(series_node(bits));
    if (uint64_t(n) >= uint64_t(b->byte_count()) * 8) return (b->flags & series_flag::COMPLEMENT) != 0;
    return (b->head_ptr()[n >> 3] & (0x80u >> (n & 7))) != 0;
}
// Makes the cell a new bitset of `bytes` bytes, all `fill`.
Cell* make_at(Cell* cell, uint32_t bytes, uint8_t fill);
Cell* push(const Cell* bits);
// The set-operation worker (union 9, intersect 10, exclude 11, difference 12,
// and the bitwise or 5, and 6, xor 7; unique 8 gives the first unchanged):
// the operands at the argument base and the next cell; the result replaces
// the argument base.
void do_bitwise(int32_t op);

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);
Outcome to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                int32_t position, bool case_sensitive, bool get_path, bool last_element, bool notify_owner);
int32_t compare(Cell* value, Cell* other, int32_t op);
void negate(Cell* value);
Cell* complement(Cell* value);
void and_t();
void or_t();
void xor_t();
Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Unwind clear(Cell* series);
Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Count length_q(Cell* value);
Outcome pick(Cell* series, int32_t index, Cell* index_cell);
Outcome poke(Cell* series, int32_t index, Cell* value, Cell* index_cell);
Unwind remove(Cell* series, Cell* part, Cell* key);

// Registers bitset!.
void init();

}  // namespace kiv::bitset
