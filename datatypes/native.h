// native!, action! and op! values: built-in functions and infix operators.
//
// native! (21) and action! (22) cell:
//   word 1  the 1-based number of the entry: a slot of natives::natives_table
//           (1..120) for a native, an action slot of actions::generic_table
//           (1..62) for an action. A number, never an address, so ordering
//           and reflection work on it directly.
//   word 2  node of its specification block (index 0)
//   word 3  node of a two-cell series: cell 0 a copy of the context cell of
//           the value's context (a function-kind context over the
//           specification's words, values on the data stack), cell 1 none
//           (kept for the interpreter)
//
// op! (23) cell: the three payload words of the value it was made from (its
// source: a native!, action!, function! or routine!), unchanged; the
// source's type id in header bits 16-23 (header::OP_TYPE_MASK); the source's
// other header flags are kept (routine! arity and direct bit, function!
// attribute flags). An op made from a function! or routine! also stores a
// copy of the source in cell 3 of the function's series, so the source
// stays reachable from the op.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv::native {

// Highest entry numbers a native! and an action! may carry.
constexpr uint32_t NATIVE_LIMIT = 120;
constexpr uint32_t ACTION_LIMIT = 62;

// The source type of an op (native!, action!, function! or routine!).
inline uint32_t op_source_type(const Cell* op) {
    return (op->header & header::OP_TYPE_MASK) >> header::OP_TYPE_SHIFT;
}
// The value an op was made from (same payload, source header restored).
// Inline: every operator call the kernel does not answer reads it.
inline Cell op_source(const Cell* op) {
    Cell c = *op;
    c.header = (c.header & ~(header::TYPE_MASK | header::OP_TYPE_MASK)) | op_source_type(op);
    return c;
}

// True when its specification (from its head) has exactly two arguments
// before any /local, /extern, other refinement or return:, the first of them
// a word!. A lit-word! or get-word! first, or any other refinement, makes it
// false.
bool spec_two_args(Off spec_node);

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------
// make native! / make action!: from a block of exactly two values, the
// specification block and the entry number (either order); anything else,
// or a number out of range, raises script bad-make-arg.
Outcome make(Cell* proto, Cell* spec, uint32_t type);
// make op!: from a native!, action!, function! or routine! taking two
// arguments (script invalid-type for another type, script bad-op-spec for
// another specification).
Outcome op_make(Cell* proto, Cell* spec, uint32_t type);
// reflect (all three types): spec, body; other fields raise internal not-done.
void reflect(Cell* value, uint32_t field_symbol);
// form and mold (all three types).
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// compare (all three types): equality and sorting by entry number.
int32_t compare(Cell* value, Cell* other, int32_t op);

// Registers native!, action! and op!, in that order.
void init();

}  // namespace kiv::native
