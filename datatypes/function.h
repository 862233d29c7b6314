// function! and routine! values.
//
// A function! is a user function: a specification block, a body block and a
// context (kind 1, values on the data stack while a call runs: the context's
// values word points at the call's first argument cell, 0 when no call is
// active). Its words are its specification's word!, get-word!, lit-word! and
// refinement! entries in order, so the word of index i reads the stack cell
// argument base + i: arguments, then each refinement's flag followed by its
// arguments, then /local's flag and the local words.
//
// function! cell:
//   header  24 | header::FUNC_TRACE / header::FUNC_NO_TRACE (attribute flags)
//   word 1  node of the function's context
//   word 2  node of its specification block (index 0)
//   word 3  node of the function's series of five cells:
//             0  the body block (a deep copy of the given body), or none
//             1  unset (kept for the interpreter)
//             2  a compiled entry: integer! id in the routine registry; else
//                the state of the body's compact form (evaluator/pure_calls.h):
//                none until the form is made, then a handle! or unset
//             3  unset; an op! made from the function keeps a copy of it here
//             4  integer! given at creation (0 is stored as unset); with none
//                given, the handle! naming the body's compact form, if any
// The context's self cell holds a copy of the function cell.
//
// routine! cell: header 29 | header::ROUTINE_DIRECT when the interpreter
// passes the argument cells as they are, the number of word! entries of the
// specification in header::ROUTINE_ARITY bits; words 1-3 as for function!
// (body in cell 0, the registry id of its C++ entry in cell 2, the extra
// integer in cell 4).
//
// Calling either kind is the interpreter's business; this module builds,
// validates, reflects, molds and compares them.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv::function {

// Cells of the function's series.
enum SeriesCell : uint32_t {
    CELL_BODY = 0,
    CELL_SPARE = 1,
    CELL_CODE = 2,
    CELL_OP_SOURCE = 3,
    CELL_EXTRA = 4
};
constexpr uint32_t SERIES_CELLS = 5;

// Cell n of the function's (or routine's) series (valid until the next allocation).
Cell* series_cell(const Cell* fn, uint32_t n);
// Its specification and body as block! values (the body may be none).
Cell spec_of(const Cell* fn);
Cell body_of(const Cell* fn);

// ---- Specifications --------------------------------------------------------------------
// Checks a specification from its index; raises script bad-func-def with
// its spec on the first violation, and script dup-vars with the word when an
// argument, refinement or local name repeats (case-insensitive), since a
// repeated name would leave the later one reading the wrong stack cell. Type
// blocks are checked with check_type_block. Returns the attribute flags of a
// leading attribute block (0 without one).
uint32_t validate(const Cell* spec);
// Flags of an attribute block: header::FUNC_TRACE for `trace`,
// header::FUNC_NO_TRACE for `no-trace`, other words ignored; -1 when it
// holds a value that is not a word!.
int32_t attributes(const Cell* block);
// Every word! of a type block must have a value (else script no-value) that
// is a datatype! or typeset! (else script invalid-type-spec).
void check_type_block(const Cell* types);
// Raises script dup-vars with the word when a word!, get-word!, lit-word! or
// refinement! name repeats (case-insensitive).
void check_duplicates(const Cell* spec);
// From `start` (cells from the head): 1 for the first /local and 1 for each
// word! after it; 0 without /local, or -1 when `required` is set.
int32_t count_locals(Off spec_node, uint32_t start, bool required);
// Pushes false, then count - 1 none values: an absent refinement followed by
// its arguments (with count_locals: /local and its words).
void push_absent_refinement(int32_t count);
// The local words of `function`: changes `spec` (a copy the caller owns) by
// cutting it at /extern and appending /local and the words set in `body`;
// returns the block of words added (in a new data-stack cell).
Cell* collect_locals(Cell* spec, const Cell* body);

// ---- Making ------------------------------------------------------------------------------
// Builds a function! from spec and body (body may be null or none): copies
// its spec when its index is above 0, takes `context` or makes one from the
// spec, deep-copies the body and, with a new context, binds the copy to it.
// `code` is a routine-registry id (0: none), `extra` the integer of cell 4.
// Pushes the function and returns its context node.
Off init_context(const Cell* spec, const Cell* body, Off context, uint32_t code, int32_t extra,
                 uint32_t flags);

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);

// Registers function!.
void init();

}  // namespace kiv::function

namespace kiv::routine {

// The C++ entry of a routine: its arguments sit on the data stack from
// `args` (the argument base) in specification order; it leaves its result in
// args[0]. Like a native it answers an unwind code: an entry that runs Kiv
// code (a change hook, an owner's handler) returns that code's exit as it
// came, with the stacks as the exit left them; the others UNWIND_NONE.
using Fn = Unwind (*)(Cell* args);

// The routine registry: C++ entries by 1-based id. Registering the same
// entry again returns its first id. The name is kept by address: it must
// live as long as the process (a routine table row's name). `tests` names
// the datatype an entry answers for when its whole work is `type of its one
// argument = tests` (the type predicates; 0 for every other entry): the
// interpreter may then answer such a call without running it.
uint32_t register_fn(Fn fn, const char* name, uint32_t tests = 0);
// The datatype a routine! value's entry tests for (as register_fn noted
// it), or 0.
uint32_t type_tested(const Cell* r);
// The entry of an id, nullptr for an id never given.
Fn lookup(uint32_t id);
// The name it was registered with ("" for an unknown id).
const char* name(uint32_t id);
// Number of registered entries.
uint32_t count();

// Builds a routine! from spec, body, registry id and extra integer (direct:
// the interpreter passes the argument cells unconverted) and pushes it. A
// specification with more than 31 word! entries raises script bad-func-def.
Cell* push(const Cell* spec, const Cell* body, uint32_t code, int32_t extra, bool direct);
// Number of word! entries of its specification (header bits).
inline uint32_t get_arity(const Cell* r) {
    return (r->header & header::ROUTINE_ARITY_MASK) >> header::ROUTINE_ARITY_SHIFT;
}
// The registry id of its entry (0 when none).
uint32_t code_of(const Cell* r);

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);

// Registers routine! (after function!).
void init();

}  // namespace kiv::routine
