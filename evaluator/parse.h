// The parse dialect: matches a rule block against an input series (any
// block, any string or binary!) with backtracking between alternatives,
// repetition, searching, and rules that copy, set, collect and change parts
// of the input.
//
// The engine is one loop over a state variable. Nested blocks and pending
// rules (repetitions, to/thru, copy, into, collect ...) are frames on two
// work stacks, never machine recursion, so rules of any depth use no
// machine stack; the depth is bounded by the stack limit (script
// parse-stack).
//
// What the rest of the runtime may rely on:
//   - The work stacks are two blocks held by the root block and shared by
//     every parse call. A call appends its frames after what it found there
//     and, when it ends (normally, by a non-local exit, or by an error
//     passing through it), cuts both stacks back to where it found them. So
//     a parse started from a paren or a trace callback of another runs on
//     top of it and leaves it intact.
//   - Everything the engine works on stays reachable by the collector: the
//     current input and rule block sit in data-stack slots, the enclosing
//     blocks and inputs in the work stacks. Buffers are re-read through
//     their nodes after anything that may allocate or run Kiv code; only the
//     tight matching loops (which allocate nothing) read buffers directly.
//   - Kiv code run by the rules (parens, `if`, the trace callback) may change
//     the input or the rules: positions are clamped to the tails afterwards,
//     so the parse goes on or ends with a result, never reads past a buffer.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv::parser {

// Frames of the work stacks: pushing while either stack holds this many
// cells or more raises script parse-stack.
constexpr uint32_t STACK_LIMIT = 10001;
// Room the stacks are made with (they grow).
constexpr uint32_t INPUT_STACK_ROOM = 8;
constexpr uint32_t RULE_STACK_ROOM = 100;

// Makes the two work stacks (once; later calls do nothing). Runs in the
// start-up after the natives table.
void init();

// Runs the rules over the input. `cmp` is 0 (case-insensitive) or 2
// (case-sensitive); `part_end` the absolute input index where the input
// ends for the rules (-1: its tail); `callback` a function! for the trace
// events, or null. The result (logic! or the block made by a top-level
// `collect`) goes into *result (a data-stack cell). Returns the unwind
// code of a non-local exit out of the rules (the stacks are then trimmed
// for it and *result is undefined), else 0. Errors are raised.
Unwind process(const Cell* input, const Cell* rules, int32_t cmp, int64_t part_end, const Cell* callback,
               Cell* result);

// Cells the rule stack holds (for tests: a finished parse leaves it as it
// found it).
uint32_t rule_stack_cells();
uint32_t input_stack_cells();

}  // namespace kiv::parser
