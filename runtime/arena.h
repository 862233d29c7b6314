// The series arena: one reserved range of virtual memory (4 GiB, less under
// an address-space limit) that holds all series memory (node frames, series frames, big series and fixed series).
//
// Invariant: every "address" the runtime stores in a 32-bit field (node slots,
// the node/head/tail fields of buffer headers, node words of cells) is an Off,
// a byte offset from the arena base. Offset 0 is null and never handed out.
// Pages are committed when a system block is allocated and returned to the
// kernel when it is freed (up to 16 MB of freed blocks stay committed for the
// next allocations, unless a quarantine is in force), so the reservation
// costs nothing until used.
//
// Raw pointers made with ptr() stay valid only until the next allocation that
// may collect: the collector moves series buffers. Re-read through the node.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv::arena {

// The largest range reserved (offsets are 32 bits).
constexpr uint64_t RESERVED_BYTES = uint64_t(1) << 32;  // 4 GiB
constexpr uint32_t PAGE_SIZE = 4096;
// The smallest range the program starts with: under a tighter address-space
// limit it cannot run at all.
constexpr uint64_t MIN_RESERVED_BYTES = uint64_t(16) << 20;

// The size of the range actually reserved: RESERVED_BYTES, or less when the
// process runs under an address-space limit (ulimit -v, a container's
// limit), which a 4 GiB reservation would exceed on its own. Then about half
// of what the limit leaves at load time is taken, so that the C heap
// (pixels, decoders, the system libraries) keeps the other half. Series
// memory beyond it raises the language's "not enough memory" error.
extern const uint64_t reserved_bytes;

// The start of the reserved range, fixed when the program loads. Declared
// const so that the compiler may keep it in a register across stores and
// calls instead of reloading it at every offset-to-pointer conversion.
extern uint8_t* const base;

// The range is reserved when the program loads; kept for the start-up
// sequence, it does nothing.
void init();

template <class T = uint8_t>
inline T* ptr(Off o) {
    return reinterpret_cast<T*>(base + o);
}
inline Off off(const void* p) {
    return static_cast<Off>(static_cast<const uint8_t*>(p) - base);
}
inline bool contains(const void* p) {
    auto* b = static_cast<const uint8_t*>(p);
    return b >= base && b < base + reserved_bytes;
}

// A page-aligned, committed, zero-filled block of at least `bytes` bytes
// (rounded up to pages). Returns 0 when the arena has no room left.
Off alloc_pages(uint64_t bytes);
// Returns a block from alloc_pages; `bytes` is the size it was asked with
// (any size that rounds to the same pages). Returns false, and frees nothing,
// unless `block` is the start of a block in use of exactly that many pages.
bool free_pages(Off block, uint64_t bytes);

// Makes a block from alloc_pages inaccessible (any access faults) or
// accessible again, keeping its pages and their content. `bytes` as for
// free_pages; false when `block` is not such a block.
bool protect(Off block, uint64_t bytes, bool accessible);

// Bytes currently committed through alloc_pages.
uint64_t committed_bytes();

// Quarantine of released pages: while `bytes` is non-zero, a released block
// stays inaccessible and out of reach of alloc_pages until that many bytes
// have been released after it, so that a stale pointer into it faults
// instead of reading a newer block placed there. 0 (the default) hands
// released pages out again at once.
void set_quarantine(uint64_t bytes);

}  // namespace kiv::arena
