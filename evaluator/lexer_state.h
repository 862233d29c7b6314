// The lexer's run state, shared by the token loop (evaluator/lexer.cpp), the
// loaders (evaluator/lexer_load.cpp) and the date and binary loaders
// (evaluator/lexer_dates.cpp). Not for use outside the lexer.
//
// Output cells. All runs share one buffer of cells in C++ memory (never in
// the series arena, so a collection never moves it); a run refers to its
// cells by index only: `first` (its first cell), `head` (the first cell of
// the innermost open container) and `tail` (the next free cell). Growing the
// buffer moves every cell, so a Cell* into it is valid only until the next
// slot is taken or a callback runs; indexes are always valid.
//
// Open containers. Opening one stores a marker cell where the container's
// value will go; `head` moves after it. The marker:
//   header  unset! (so that the collector ignores it) | comma count << 16
//           (point containers) | the new-line bit of the container
//   word 1  datatype of the container (block!, paren!, map!, point2D!, a path type)
//   word 2  `head` of the enclosing container
//   word 3  byte offset of the opening in the input
// Closing turns the marker into the container value and sets `tail` back to
// the cell after it.
#pragma once

#include <cstdint>

#include "evaluator/lexer.h"
#include "evaluator/lexer_scan.h"
#include "runtime/cell.h"

namespace kiv::lexer {

// Kinds of syntax error (the `kind` of throw_error): a datatype id (> 0)
// raises `invalid`; the others:
constexpr int32_t KIND_BAD_CHAR = -1;
constexpr int32_t KIND_MALCONSTRUCT = -2;
constexpr int32_t KIND_MISSING = -3;      // a closing character found that does not match
constexpr int32_t KIND_MISSING_END = -4;  // the input ended with a container open

constexpr uint32_t MARKER_COMMA_SHIFT = 16;
constexpr uint32_t MARKER_COMMA_MASK = 0xFFu << MARKER_COMMA_SHIFT;

struct State {
    State* outer = nullptr;  // the live run this one nests in

    // Output cells (indexes into the shared buffer).
    uint32_t first = 0;
    uint32_t head = 0;
    uint32_t tail = 0;

    // Input: [begin, end); pos is where the next token starts.
    const uint8_t* begin = nullptr;
    const uint8_t* end = nullptr;
    const uint8_t* pos = nullptr;
    const uint8_t* token_start = nullptr;  // the token being handled (near texts, events)
    const uint8_t* token_end = nullptr;
    uint32_t line = 1;
    uint32_t token_line = 1;
    uint32_t value_line = 0;  // line where the last value ended: a later value starts a new line

    uint8_t start_state = S_START;
    uint8_t previous = 0;
    uint8_t error_type = 0;  // datatype of the error being raised (for the error event)

    // Modes.
    bool one = false;
    bool load = true;   // values are made (else only classified)
    bool raise = true;  // syntax errors are raised (else the run reports them)

    // Values completed at the top level, the type of the first one.
    uint32_t top_values = 0;
    int32_t first_type = 0;
    bool stop = false;     // a callback or the one-value mode ended the run
    bool aborted = false;  // an error at the end of the input was handled by the callback

    // Open braced string.
    uint32_t brace_depth = 0;
    const uint8_t* brace_start = nullptr;
    uint32_t brace_flags = 0;
    uint32_t brace_line = 0;
    const uint8_t* point_start = nullptr;  // the `(` of a point read from state 35

    // Callback.
    Cell callback{TYPE_NONE, 0, 0, 0};
    uint32_t mask = 0;
    Cell input{TYPE_NONE, 0, 0, 0};  // the input value as the callback sees it
    uint32_t input_base = 0;         // the input's index at `begin`
    bool string_input = false;       // indexes count characters (else bytes)
    uint32_t cache_byte = 0;         // position cache: byte offset ...
    uint32_t cache_char = 0;         // ... and its character index
};

// ---- The shared output buffer ----------------------------------------------------
Cell* cell_at(uint32_t index);
// A new output cell (unset!, with the new-line bit when asked); returns its index.
uint32_t alloc_slot(State& st, bool new_line);
// Stores a value in an output cell, keeping the cell's new-line bit.
inline void store(uint32_t slot, const Cell& value) {
    Cell* c = cell_at(slot);
    const uint32_t nl = c->header & header::NEW_LINE;
    *c = value;
    c->header = (c->header & ~header::NEW_LINE) | nl;
}

// ---- Errors ----------------------------------------------------------------------
// Thrown (as a C++ exception) by throw_error when the callback handled the
// error: the token loop catches it and goes on from the input position.
struct Handled {};

// Raises a syntax error of `kind` with the near text from `at`. Returns only
// through Handled when a callback took the error.
[[noreturn]] void throw_error(State& st, const uint8_t* at, int32_t kind, char missing = 0);
[[noreturn]] inline void invalid(State& st, const uint8_t* at, uint32_t type) {
    throw_error(st, at, int32_t(type));
}

// ---- Loaders (lexer_load.cpp) -------------------------------------------------------
// Makes the value of a value token in output cell `slot`. [start, end) is
// the token as the state machine read it (a closing byte that the loader
// owns, such as a string's quote, is at `end`); `token` is the final state.
// Returns the datatype of the value. Errors go through throw_error.
uint32_t load_value(State& st, uint8_t token, const uint8_t* start, const uint8_t* end, uint32_t flags,
                    uint32_t slot);
// A path element (start state 59): [start, end) without the `/` or `:` that
// follows it; `token` is the element's final state.
uint32_t load_element(State& st, uint8_t token, uint8_t previous, const uint8_t* start, const uint8_t* end,
                      uint32_t flags, uint32_t slot);
// The word loader for the first element of a path (its ' or : already cut).
void load_plain_word(State& st, const uint8_t* start, const uint8_t* end, uint32_t slot);
// Construction syntax #(...): the text between the parentheses.
uint32_t load_construct(State& st, const uint8_t* start, const uint8_t* end, uint32_t slot);
// A braced string: its text between the braces, the flags of all its pieces.
void load_braced(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, uint32_t slot);
// Builds the value of a point container from its gathered cells (the
// marker at `marker`, values after it up to the tail).
void close_point(State& st, uint32_t marker, uint32_t type);

// ---- Dates, binaries, percent-decoding (lexer_dates.cpp) ------------------------------
void load_date(State& st, const uint8_t* start, const uint8_t* end, uint32_t slot);
void load_binary(State& st, const uint8_t* start, const uint8_t* end, uint32_t slot);
// Decodes percent-escapes of [start, end) into a new text value of `type`
// in `cell`; false when an escaped sequence is not valid UTF-8 or the raw
// text is not.
bool percent_decode(const uint8_t* start, const uint8_t* end, uint32_t type, Cell* cell);

// ---- Text decoding shared by the string-like loaders -------------------------------------
// Decodes UTF-8 text (with `^` escapes when `escapes`) into a new value of
// `type` in `cell`. Returns null on success, else the position of the first
// offending byte.
const uint8_t* load_text(const uint8_t* start, const uint8_t* end, uint32_t flags, bool escapes,
                         uint32_t type, Cell* cell);
// One `^` escape at p (p points at `^`); returns the position after it and
// the code point, or null when it is malformed.
const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, uint32_t* cp);

}  // namespace kiv::lexer
