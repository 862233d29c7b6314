// Series buffers and nodes.
//
// A series value never points at its buffer: it holds a node, a 32-bit slot in
// a node frame whose content is the arena offset of the buffer header. The
// header points back at its node. Moving a buffer (expansion, compaction) is a
// copy plus one rewrite of the node slot, and every value sharing the series
// sees the move at once.
//
// Invariants:
//   data start <= head <= tail <= data start + size
//   node slot content == buffer offset and buffer.node == node, for every live buffer
//   element count == (tail - head) >> log2(unit)
// A raw SeriesBuffer* or pointer into a data area is valid only until the next
// allocation of a series buffer (see memory.h); a node is valid until freed.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/arena.h"
#include "runtime/cell.h"

namespace kiv {

// Buffer flag bits (the flags field of SeriesBuffer). Bits 0-4 hold the unit.
namespace series_flag {
constexpr uint32_t UNIT_MASK = 0x1Fu;
constexpr uint32_t LIVE = 0x80000000u;          // cleared on the old buffer of an expansion
constexpr uint32_t ALLOCATED = 0x20000000u;     // set on every buffer handed out
constexpr uint32_t HEAD_CENTRED = 0x10000000u;  // head placed mid-buffer at allocation
constexpr uint32_t MARKED = 0x08000000u;        // the collector's mark; clear outside a collection
constexpr uint32_t BIG = 0x01000000u;           // lives in a big block of its own
constexpr uint32_t FIXED = 0x00100000u;         // outside the frames, never moved
constexpr uint32_t COMPLEMENT = 0x00080000u;    // bitset!
constexpr uint32_t OWNED = 0x00020000u;         // cleared by a partial copy
constexpr uint32_t OWNED_LOW = 0x00010000u;
// A literal block of module code run once, reached by nothing but the one
// evaluation that passes it to func (function::init_context takes it as the
// body instead of a copy). Never carried to a copy.
constexpr uint32_t SOLE = 0x00040000u;
// Bits that describe where a buffer lives; they belong to the allocation and
// are never copied from one buffer to another.
constexpr uint32_t PLACEMENT = MARKED | BIG | FIXED;
}  // namespace series_flag

// The 20-byte header in front of every buffer's data area. node, head and
// tail are arena offsets.
struct SeriesBuffer {
    uint32_t flags;
    Off node;
    uint32_t size;  // data area bytes, a multiple of 16
    Off head;
    Off tail;

    uint32_t unit() const { return flags & series_flag::UNIT_MASK; }
    Off data_start() const { return arena::off(this) + sizeof(SeriesBuffer); }
    Off data_end() const { return data_start() + size; }
    uint8_t* head_ptr() const { return arena::ptr(head); }
    uint8_t* tail_ptr() const { return arena::ptr(tail); }
    Cell* head_cell() const { return arena::ptr<Cell>(head); }
    Cell* tail_cell() const { return arena::ptr<Cell>(tail); }
    uint32_t byte_count() const { return tail - head; }
};
static_assert(sizeof(SeriesBuffer) == 20, "buffer headers are 20 bytes");

// Each buffer in a series frame takes header + data + one 32-bit slack word.
constexpr uint32_t BUFFER_OVERHEAD = 24;

// log2 of a power-of-two unit (index of its highest set bit).
inline uint32_t unit_shift(uint32_t unit) {
    return 31u - static_cast<uint32_t>(__builtin_clz(unit | 1u));
}

// The code unit of `unit` bytes (1, 2 or 4) at p. Buffers are only 4-byte
// aligned, so wider units are copied out, never read through a cast pointer.
inline uint32_t read_unit(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline Off node_content(Off node) {
    return *arena::ptr<Off>(node);
}
inline SeriesBuffer* buffer_of(Off node) {
    return arena::ptr<SeriesBuffer>(node_content(node));
}

namespace series {

// Tail-growing helpers. They may expand (and so allocate and collect): any
// raw pointer into the buffer is stale afterwards; use the returned values or
// re-read the buffer through its node.
Cell* alloc_tail_cell(SeriesBuffer* buf);             // new unset! cell at the tail
Off reserve_tail(SeriesBuffer* buf, uint64_t bytes);  // returns the old tail offset

Off alloc_records(uint32_t count, uint32_t record_size);

// Element counts use log2 of the unit: meaningful for power-of-two units. A
// record series of another record size is handled through byte counts.
inline uint32_t count(Off node) {
    const SeriesBuffer* b = buffer_of(node);
    return (b->tail - b->head) >> unit_shift(b->unit());
}
inline SeriesBuffer* reset_tail(Off node) {
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head;
    return b;
}
inline uint8_t* head_of(Off node) {
    return buffer_of(node)->head_ptr();
}
inline void set_flags(Off node, uint32_t bits) {
    buffer_of(node)->flags |= bits;
}

// Positions outside the data area (or, for removals, past the tail) raise
// script out-of-range instead of touching memory they do not own.
SeriesBuffer* set_tail_at(Off node, uint32_t index);  // 1-based; index 1 empties
Off copy_node(Off node);
Off copy_part(Off node, uint32_t offset, uint32_t count);  // offset and count in units
void append_byte(SeriesBuffer* buf, uint8_t byte);
// `src` may point into any series buffer, this one included.
void append_bytes(SeriesBuffer* buf, const void* src, uint32_t length);
uint8_t byte_at(Off node, uint32_t index);  // 1-based
void append_entry(SeriesBuffer* buf, uint32_t value);
void append_entry(Off node, uint32_t value);
int32_t find_entry(const SeriesBuffer* buf, uint32_t value);  // byte offset from head, or -1
int32_t find_entry(Off node, uint32_t value);
uint32_t get_int(Off node, uint32_t index);  // 1-based 32-bit entry
void set_int(Off node, uint32_t index, uint32_t value);
void insert_int(SeriesBuffer* buf, uint32_t value, uint32_t index);  // 1-based, up to count + 1
void remove_int(Off node, uint32_t value);                           // first equal entry, if any
void remove_bytes(Off node, uint32_t offset, uint32_t n);            // offset in bytes from head

}  // namespace series

// Appends a new cell at a block value's tail (block value: word 2 = node).
Cell* block_alloc_tail(const Cell* block);

}  // namespace kiv
