// Pure calls: function bodies that only compute with their arguments,
// literals, integer operators, conditionals and calls of other such
// functions, run in one loop over a compact form of the body.
//
// Nothing such a run does can be seen from outside it: it runs no other
// Kiv code, allocates nothing, raises nothing, sends no trace event and
// changes no word, block or frame. Anything the form does not cover (a
// value of another type, an integer overflow, a refused remainder, a depth
// the interpreter might not reach) abandons the run, and the interpreter
// evaluates the body from its start with the same arguments: the result,
// the errors and every effect are then the interpreter's own. A function
// whose run was abandoned keeps no form from then on.
//
// A form is checked before each run against the code and the words it was
// made from (its blocks' cells, the values of the words it reads, the
// functions it calls): a script may change any of them between two runs,
// and none can change during one. A form that no longer fits is made again.
#pragma once

#include "runtime/cell.h"

namespace kiv::interpreter::pure {

// A function!'s series holds the state of its form in two cells. Its code
// cell (cell 2) is none before the form is made (its word 2 counts the
// calls from the interpreter until then), a handle! when a call from
// the interpreter should run the form (the body calls functions), and unset
// otherwise: no form, or one that serves the forms that call it only. Its
// extra cell (cell 4, when no value was given there at creation) holds the
// handle! naming the form. A handle!'s word 3 is below zero: the collector reads
// no external in it.

// Making a form costs about as much as a dozen calls of a small function:
// a function is given one at this call from the interpreter (or when a form
// that calls it is made), so that functions made and called only a few
// times (in a loop, say) are not given one.
constexpr uint32_t CALLS_BEFORE_FORM = 16;

// Runs the body of the function! `fn`, whose code cell is none or a
// handle!, on its arguments (the fixed ones, from `args`, under the call's
// open frame), outside tracing: the result is
// pushed on the data stack and true returned. False, with nothing changed,
// when the body has no compact form or the run was abandoned.
bool run(const Cell& fn, const Cell* args);

// Forms made so far and runs abandoned (for tests and benchmarks).
struct Counts {
    uint64_t forms = 0;
    uint64_t runs = 0;
    uint64_t abandoned = 0;
};
Counts counts();

}  // namespace kiv::interpreter::pure
