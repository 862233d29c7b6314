// The lexer's entry points: UTF-8 text becomes values.
//
// A run reads tokens with the state machine of evaluator/lexer_scan.h, runs
// the structural scanners (containers, paths, braced strings, points,
// commas, construction syntax) and the value loaders, and collects the
// values in the shared output buffer, from which the result block is copied
// at the end. Syntax errors are raised with fire({"syntax", ...}), the
// arguments being "(line N)", the datatype in error (for `invalid`) or the
// missing character (for `missing`), and the near text: at most 30 bytes of
// the input from where the error was found, cut before a line feed and at a
// character boundary.
//
// What the rest of the runtime may rely on:
//   - Every run keeps its own state (its cells are indexes into the output
//     buffer, its input a private copy of the text), so runs nest: a run
//     started from a callback loads after the outer run's cells and leaves
//     them untouched, also when the buffer grows.
//   - The collector reaches the output cells, the input value and the
//     callback of every live run (a mark callback registered by init()).
//   - The input text is copied (strings converted to UTF-8, binaries copied)
//     before anything is allocated, so no raw pointer into a series buffer
//     is held while values are made.
//   - Any input ends in a value or a syntax error: containers are tracked
//     without recursion, every token consumes input, and a callback that
//     handles an error without moving the input still makes progress.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv::lexer {

// Sizes of the shared buffers at start (both grow on demand).
constexpr uint32_t OUTPUT_CELLS = 1000;
constexpr uint32_t TEXT_BUFFER_BYTES = 100000;
// Near texts of syntax errors: at most this many bytes.
constexpr uint32_t NEAR_BYTES = 30;

// Callback events and the bits of a callback's event mask.
enum EventBit : uint32_t {
    EV_PRESCAN = 1,
    EV_SCAN = 2,
    EV_LOAD = 4,
    EV_OPEN = 8,
    EV_CLOSE = 16,
    EV_ERROR = 32,
    EV_ALL = 63,
};

struct Options {
    bool one = false;                // stop after one value (a whole container counts as one)
    bool scan = true;                // false: prescan, only the state machine classifies the first token
    bool load = true;                // false: scan, the scanners run and values are only classified
    const Cell* callback = nullptr;  // function! or routine! (null or none: no events)
    const Cell* into = nullptr;      // block to append the values to (null or none: a new block)
};

// Runs over `size` bytes of UTF-8 text. `text` must stay where it is for the
// whole run: it must not point into a series buffer (use load() for series
// input). `input` is the value the callback sees (a string! or binary!
// positioned at the first byte of `text`, or null), and `consumed` receives
// how many bytes were consumed.
//
// Loading (the default): the values go into a new block in `out` (or are
// appended to the `into` block, `out` then receiving that block); with `one`
// the first value itself is stored in `out` (left as it was when the text
// holds none). Returns the datatype id of the first value (0 when none).
//
// Scanning (load false) and prescanning (scan false): no value is made;
// returns the datatype id of the first value (0 when there is none), or the
// negated datatype in error (-34 for a bad character) instead of raising a
// syntax error; `out` is left as it was.
//
// When a callback that handles the error (returns false) meets an error at
// the end of the input, `out` becomes none and the run ends.
int32_t scan(Cell* out, const uint8_t* text, uint32_t size, const Options& options, const Cell* input,
             uint32_t* consumed);

// The same over a string! or binary! value from its index: `length` units
// (characters or bytes) or -1 up to the tail. `consumed` receives the count
// in the input's own units.
int32_t load(Cell* out, const Cell* input, int32_t length, const Options& options, uint32_t* consumed);

// The `transcode` native's worker. `src` is the string! or binary! argument;
// the refinement arguments are null when the refinement is absent: `part`
// (integer!, or a series of the source's kind), `into` (block!), `trace`
// (function! or routine!). The result goes into `result`, which may be the
// source's own cell (a data-stack cell, like every argument).
struct TranscodeArgs {
    bool next = false;
    bool one = false;
    bool prescan = false;
    bool scan = false;
    const Cell* part = nullptr;
    const Cell* into = nullptr;
    const Cell* trace = nullptr;
};
// Returns the unwind code of a callback's non-local exit (runtime/stack.h):
// the run ended there, the stacks are already trimmed for the exit and the
// native passes the code on; 0 otherwise.
Unwind transcode(const Cell* src, const TranscodeArgs& args, Cell* result);

// Calls a callback with the five event arguments (the event word, the input
// series, the type, the line as integer!, the token). The invoker pushes the
// arguments on the data stack, runs the function! or routine!, then writes
// back into args[1] the value of the `input` argument as the callback left it
// (a callback may move the input's index), and sets *go_on to false when the
// callback returned false or none. It returns the unwind code of a
// non-local exit out of the callback (a throw to an outer catch, ...), 0
// otherwise: after an exit the run ends at once and scan/load report the
// code through `pending_exit` (the stacks are left as the exit trimmed them).
// init() installs the interpreter's invoker; tests may install their own.
using CallbackInvoker = Unwind (*)(const Cell* callback, Cell* args, bool* go_on);
extern CallbackInvoker invoke_callback;
// The unwind code of the last run that a callback's exit ended (0: none);
// scan and load set it on every run.
extern Unwind pending_exit;

// The event mask of a callback: the words of a block that starts its
// specification or, failing that, its body (prescan 1, scan 2, load 4,
// open 8, close 16, error 32), or all events.
uint32_t event_mask(const Cell* callback);

// Allocates the shared buffers, registers the collector's mark callback and
// installs the runtime's load hooks (runtime::lexer_load, word::load_single's
// loader, word::scan_type). Runs once, after the fixed words and before the
// boot image is decoded; later calls do nothing.
void init();

// Live runs (0 between runs); for tests and diagnostics.
uint32_t live_runs();
// Capacity of the shared output buffer, in cells.
uint32_t output_capacity();

}  // namespace kiv::lexer
