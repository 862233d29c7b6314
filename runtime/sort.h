// In-place sorting of arrays of fixed-size records.
//
// Used by the sort actions of blocks (a record is /skip cells of 16 bytes)
// and of the string types (a record is one character unit). Two sorts:
//   merge_sort  stable natural merge sort with the powersort merge policy;
//               allocates one scratch block of (n / 2) records
//   quick_sort  three-way quicksort that recognises presorted input; not
//               stable, allocates nothing
// Both run in linear time on input that is already ascending or descending.
//
// The order is decided only by the compare callback, called with the
// addresses of two records and the caller's operation code and flags, which
// are passed through untouched (flags is pointer-sized so that a caller may
// pass the address of its own state). It returns < 0, 0 or > 0 for a before,
// equal to, or after b.
//
// Invariants the caller must keep:
//   - the array must not move while the sort runs: a callback that may
//     collect (a user compare function) must run with the buffer pinned or
//     collection suspended;
//   - records are only 4-byte aligned at most: they are moved with memcpy.
// When the callback raises (fire), the error unwinds through the sort; the
// array then still holds every record exactly once, in some order, and the
// scratch block is released. A callback whose user function exited (break,
// return, throw ...) answers 0 from then on without calling it, so the sort
// ends quickly; its caller then drops the order and returns the exit's code.
#pragma once

#include <cstdint>

namespace kiv::sort {

using Compare = int32_t (*)(const void* a, const void* b, int32_t op, intptr_t flags);

// Stable. Raises script error too-long when the scratch size does not fit in
// 32 bits and internal error no-memory when it cannot be allocated; both
// before any record moves.
void merge_sort(void* base, uint32_t n, uint32_t width, int32_t op, intptr_t flags, Compare cmp);

// Not stable; no allocation.
void quick_sort(void* base, uint32_t n, uint32_t width, int32_t op, intptr_t flags, Compare cmp);

// Exchanges two records of `width` bytes (word-wise when the width is a
// multiple of 4, byte-wise otherwise).
void swap(void* a, void* b, uint32_t width);

// The natural run that starts at `start`: records up to the returned end are
// ascending on return. A strictly descending run is reversed in place; a run
// that is not strictly descending is taken while neighbours compare <= 0, so
// equal records never change their order.
uint8_t* find_run(uint8_t* start, uint8_t* end, uint32_t width, int32_t op, intptr_t flags,
                  Compare cmp);

}  // namespace kiv::sort
