// Workers shared by the evaluation, try and output natives and by the code
// that calls them directly (the console, routines, compiled library code).
//
// The native entries themselves are declared in evaluator/natives.h. Every
// worker here follows the interpreter's return-code convention
// (evaluator/interpreter.h): a non-zero unwind code means the stacks are
// already trimmed for a travelling exit and the caller passes it on without
// touching either stack. Cell* arguments must be data-stack cells or local
// copies, never pointers into a series buffer.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::stack {
struct Frame;
}

namespace kiv::natives {

// ---- Evaluation -----------------------------------------------------------------------
// Evaluates one value as a one-value expression: a word gives its value
// (calling a function found there), a lit-word the word, a paren its last
// value, a path is evaluated, other values give themselves. The result
// replaces *slot (a data-stack cell); the data top is left just above the
// slot.
Unwind eval_value(Cell* slot);

// The reduce worker: evaluates the block value expression by expression
// under a frame named <body> and adds every value (new-line marker cleared)
// to `out`, an any-block value in a data-stack cell: appended when `out` is
// at its tail (its position is kept), else inserted at its position, which
// moves past each value. With `notify` (a caller's series, reduce/into) the
// owner of `out` hears of the values appended. Returns the unwind code of the
// evaluation.
Unwind reduce_into(const Cell* block, Cell* out, bool notify);

// ---- Output ---------------------------------------------------------------------------
// The line-feed flag of the most recent print (1) or prin (0) that ended
// normally; 0 at start-up. The routine last-lf? reads it.
extern uint32_t last_line_feed;

// The print worker on the value in the result slot: reduces a block into the
// working block, forms the value (a string is used as it is), fires hook
// list A with the string and `new_line`, and leaves unset in the result
// slot. An unwind out of the reduction leaves the working block as it was
// and is returned without firing the hooks.
Unwind print_value(uint32_t new_line);

// A hook-list-A callback that writes the string (UTF-8, through the
// low-level console output) followed by a line end when `new_line` is set.
// The terminal front end registers it; values other than strings are
// ignored.
void write_to_console(const Cell* value, uint32_t new_line);

// ---- Comparison -----------------------------------------------------------------------
// The same-value test of `same?`.
bool same_value(const Cell* a, const Cell* b);

// ---- Errors ---------------------------------------------------------------------------
// Raises an existing error! value as `do` does: its `where` is filled from
// the calling frame when still none and, unless its `stack` field holds a
// block, that field receives the frame position.
[[noreturn]] void raise_error_value(const Cell& err);

// The end of a try whose frame `frame` caught the error `caught` (compiled
// library code builds its own try frame and calls this instead of the
// native), called while the stacks are still as the error left them: the
// error's `where` is filled from the frames of the fire point and, with
// `keep`, the call trace is recorded in its stack field; the "no catch for
// throw:" error (category and id both throw) is raised again toward the next
// handler; any other error becomes the result: the stacks are restored as
// stack::catch_at does and the error value is left in the result slot.
void try_end(stack::Frame* frame, const RaisedError& caught, bool keep);

}  // namespace kiv::natives
