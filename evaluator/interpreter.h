// The interpreter: evaluates blocks of values left to right, expression by
// expression, with no operator precedence. op! values apply to the value on
// their left by a look-ahead after each operand.
//
// Stack discipline (runtime/stack.h): calls open frames and push their
// arguments and results on the data stack the way every caller does, so
// natives, actions, functions and routines run the same however they are
// called.
//
// Return codes. Every evaluating function here returns a uint32_t unwind
// code: 0 when the evaluation ended normally, else one of UNWIND_BREAK,
// UNWIND_CONTINUE, UNWIND_RETURN, UNWIND_EXIT or UNWIND_THROW. A non-zero
// code means a non-local exit is travelling: stack::throw_* has already
// trimmed both stacks to its target frame, so the caller must not touch
// either stack, pop nothing, and return the code as it came, unless it owns
// the target frame (a loop frame for break/continue, a function body for
// return/exit, a catch frame for throw). Results are only defined for code 0.
// Errors are C++ exceptions (RaisedError, runtime/error.h), caught only at
// try/catch frames and at the top level.
//
// Cell* arguments must not point into a series buffer that an allocation may
// move: pass data-stack cells or local copies. Block and path values are
// read by node and index at every step, never through a held buffer pointer.
#pragma once

#include <csignal>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv::interpreter {

// ---- Start-up ------------------------------------------------------------------------
// Allocates the interpreter's cells at the tail of the root block (the saved
// position and the last value, set to unset), installs the call points the
// object layer and the error layer use, and clears the tracing state. Runs
// once, after the fixed words and the natives table.
void init();

// ---- Evaluating blocks -----------------------------------------------------------------
// Evaluates the block value (from its index) under an evaluation frame,
// expression by expression; between two expressions the data stack returns
// to the frame's base, so only the last value remains. An empty block gives
// unset. keep: the value is copied into the caller's result slot (the
// argument base in force at the call) and the data top ends one cell above
// where it was; otherwise the value is pushed (one new cell at the old top).
// Any block-like value (block!, paren!, ...) is accepted.
Unwind eval(const Cell* block, bool keep);

// As eval(block, true) for a block that stays referenced while it runs (an
// argument cell of the calling native, below the data top): the block is
// evaluated above the data top under the caller's frame, with no frame of
// its own, and its value goes to the caller's result slot. Used by the
// conditionals and the loop bodies. While tracing, or under a frame the
// interpreter did not push (a call made by apply), it is eval itself.
Unwind eval_branch(const Cell* block);

// One pass of a loop body under the loop frame (the topmost frame, pushed
// by the loop native with the evaluating bit; the block is one of its
// argument cells): the data stack is cut back to the frame's base, the
// body's value ends in that base with the data top just above it. As
// eval_branch, without the checks that hold for every pass of a loop.
Unwind eval_pass(const Cell* block);

// Evaluates the one expression that starts at cell `index` (counted from the
// buffer head) of the block, with infix look-ahead, under an interpreter
// frame, and pushes its value. *next receives the index after the
// expression; at or past the tail unset is pushed and *next is the tail.
Unwind eval_next(const Cell* block, uint32_t index, uint32_t* next);

// As eval_next, but pushes the value without infix look-ahead after it
// (a single value: the right operand of an op!).
Unwind eval_single(const Cell* block, uint32_t index, uint32_t* next);

// The value of the expression at `index` when it needs no evaluation step:
// an inert value or a word whose value is plain data, followed by nothing
// or by integer operators that the interpreter computes in place (the
// value is the one eval_next gives). False, with nothing changed, for
// anything else and while tracing. Runs no code, allocates nothing.
bool quick_value(const Cell* block, uint32_t index, Cell* out, uint32_t* next);

// any and all: the expressions of the block, from its index to its tail,
// evaluated in turn until the truth of one's value is `stop_on`. Each
// value is the one eval_next gives; one the quick reader can read (outside
// tracing, unless it was refused there lately) is read so, and one that
// needs evaluation is remembered as refused. The evaluated ones share one
// frame, pushed at the first of them: eval_next's frame, which nothing
// between two expressions could tell from one per expression. *out (which
// may be the block's own cell) receives the last value when it is true,
// else none (an empty block gives none); the data top is left where it was.
Unwind eval_truth(const Cell* block, bool stop_on, Cell* out);

// ---- Calling function values from native code --------------------------------------
// Calls `fn` (native!, action!, op!, function! or routine!) whose complete
// argument list the caller has pushed: the cells from `args` to the data
// top hold the fixed arguments in specification order, then, when
// `with_refinements`, every refinement's logic! flag followed by its
// arguments, in specification order (the layout of a function's context);
// without it every refinement is absent. Locals are added here. The
// arguments are type-checked against its specification (script expect-arg).
// The call runs under its own frame named by `name` (a word cell; null gives
// <anon>). The result replaces *args and the data top becomes args + 1.
Unwind call_pushed(const Cell* name, const Cell* fn, Cell* args, bool with_refinements);

// Pushes `count` argument values (no refinements) and calls `fn` with them;
// the result is pushed (one new cell at the old top).
Unwind call_values(const Cell* fn, const Cell* args, uint32_t count, const Cell* name = nullptr);

// Runs a function!'s body with its arguments already in place from the
// argument base of a frame the caller pushed (stack::mark_func or mark_native;
// the cells are the function's context values: arguments, refinement flags
// and arguments, locals). The body frame, tracing events, and the end of a
// return/exit at this call are handled here; the result is left in the
// argument base. `ctx` is the context the body runs in (0: the function's
// own context).
Unwind run_function(const Cell* fn, Off ctx);

// ---- Paths ---------------------------------------------------------------------------
enum PathMode : uint32_t { PATH_GET = 0, PATH_SET = 1, PATH_CALL = 2 };
// Evaluates a path value in one of its forms. PATH_CALL: a function value
// met on the way is called with the path's remaining elements as
// refinements, fetching its arguments from `block` at *next (advanced).
// PATH_SET: `value` is assigned through the last element. The final value is
// pushed. `block` and `next` may be null for the get and set forms.
Unwind eval_path(const Cell* path, uint32_t mode, const Cell* value, const Cell* block, uint32_t* next);

// ---- Typed specifications -------------------------------------------------------------
// The argument shape of a function value, read from its typed specification
// (built on the first call and kept with the value).
struct Shape {
    uint32_t fixed;        // fixed arguments (fetched)
    uint32_t refinements;  // refinements before /local
    uint32_t frame_cells;  // function!: context values (args, flags, refinement args, locals)
};
Shape shape_of(const Cell* fn);
// Index (0-based, in specification order) of the refinement with the
// symbol's canonical id, or -1.
int32_t find_refinement(const Cell* fn, uint32_t symbol);
// Tests `value` against the typeset of fixed argument `index` of fn; a
// mismatch raises script expect-arg (name word, value's datatype, argument
// word). Used by natives called with check set.
void check_argument(const Cell* fn, const Cell* name, uint32_t index, const Cell* value);

// ---- Tracing -----------------------------------------------------------------------------
enum Event : uint32_t {
    EV_INIT = 1,
    EV_END = 2,
    EV_PROLOG = 4,
    EV_EPILOG = 8,
    EV_ENTER = 16,
    EV_EXIT = 32,
    EV_OPEN = 64,
    EV_RETURN = 128,
    EV_FETCH = 256,
    EV_PUSH = 512,
    EV_SET = 1024,
    EV_CALL = 2048,
    EV_ERROR = 4096,
    EV_THROW = 8192,
    EV_CATCH = 0x4000,
    EV_EXPR = 0x8000,
};
// The event word of an event bit (a global word of the fixed list).
Cell event_word(uint32_t event);

// A C++ receiver of trace events (tests, tools): code is the block or path
// being evaluated (none when absent), offset the 0-based index in it (-1
// outside), value the value concerned and ref the naming word or value (none
// when absent), base and top the argument-base and data-top cell indexes.
using TraceHook = void (*)(uint32_t event, const Cell& code, int32_t offset, const Cell& value,
                           const Cell& ref, int32_t base, int32_t top);

// Global tracing switch, tested once at each trace site.
extern bool tracing;

// Set by a signal handler (the terminal console's Ctrl-C) to ask the running
// evaluation to halt. Tested once per loop pass: there the evaluation turns
// it into the console's halt (the word halt-request thrown to the catch
// named console) and clears it.
extern volatile std::sig_atomic_t interrupt_requested;

// The tracing state that do/trace saves and restores around its evaluation.
struct TraceState {
    bool on;
    uint32_t mask;
    TraceHook hook;
    uint32_t callback_slot;  // root-block cell of the function! callback (0: none)
};
TraceState trace_state();
void restore_trace(const TraceState& saved);

// Starts tracing with a function! callback (spec
// `event [word!] code offset [integer!] value ref frame [pair!]`); when the
// callback body's first value is a block of event words only those events
// are reported. Fires `init`. Returns the code of the callback's run.
Unwind trace_begin(const Cell* callback);
// Starts tracing with a C++ receiver and an event mask (all events: 0xFFFF).
void trace_begin_hook(TraceHook hook, uint32_t mask);
// Fires `end` and switches tracing off.
Unwind trace_end();
// Sends one event to the callback (when tracing and the mask has it). While
// the callback runs, tracing is suspended; the data and frame tops are
// restored after it.
Unwind fire_event(uint32_t event, const Cell* code, int32_t offset, const Cell* value, const Cell* ref);

// ---- Interpreter state -------------------------------------------------------------------
// The block being evaluated and the index of its current expression (none
// outside any evaluation).
Cell current_position();
// The value of the last top-level evaluation kept by the console (unset at start).
Cell* last_value();

}  // namespace kiv::interpreter
