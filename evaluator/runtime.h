// Runtime entry points: the small routines through which natives, actions
// and the library reach the runtime.
//
// - Argument type checks against typesets, refinement set-up.
// - Reading and writing words and context slots with the checks that
//   interpreted code makes (unset values refused).
// - Path evaluation over a path value, a compiled switch/select, loading one
//   value from text, forming with a length limit.
//
// All of these run on the main thread. Raising errors goes through fire()
// (runtime/error.h) and never returns. Cell* arguments must not point into a
// series buffer that an allocation may move (pass data-stack cells or local
// copies); Cell* results on the data stack stay valid.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/load_form.h"
#include "runtime/cell.h"
#include "runtime/stack.h"


namespace kiv::runtime {

// ---- Errors ---------------------------------------------------------------------------
// Builds the error value and prints its formed text (inside a native call
// frame) without raising it. The text goes through `print_error`.
void report_error(const char* category, const char* id);
void report_error(const char* category, const char* id, const Cell& a1);
void report_error(const char* category, const char* id, const Cell& a1, const Cell& a2);
void report_error(const char* category, const char* id, const Cell& a1, const Cell& a2, const Cell& a3);
// Where report_error writes (UTF-8 text and its length, no line feed).
// Defaults to standard output with a line feed; the console replaces it.
using ErrorPrinter = void (*)(const char* text, uint32_t length);
extern ErrorPrinter print_error;

// fire script bad-make-arg with the type and its spec.
[[noreturn]] void fire_bad_make_arg(const Cell& type, const Cell& spec);

// ---- Argument checks -------------------------------------------------------------------
// True when the typeset allows the datatype id (bit 0x80 >> (t & 7) of byte t >> 3).
bool typeset_allows(const Cell* typeset, uint32_t type);
// Returns the value when its type is in the typeset, else raises script
// expect-arg with the current function's word, the value's datatype and the
// word of argument `index` (error::get_call_argument).
Cell* check_arg_type(const Cell* typeset, int32_t index, Cell* value);
// A negative index is returned unchecked (the argument base); else checks
// the argument-base cell `index`.
Cell* check_arg_type_at(const Cell* typeset, int32_t index);
// Checks only when the refinement slot holds true.
Cell* check_refinement_arg(const Cell* refinement, const Cell* typeset, int32_t index, Cell* value);
// An unset! value raises script expect-arg with the function's word, unset!
// and the word of argument `index`.
Cell* check_set(Cell* value, int32_t index);
// The refinement slot `slot` (from the argument base) becomes true or false
// by the value's truth; an unset! value raises script no-value. False: the
// `arg_count` cells after the slot become none!.
void set_refinement(const Cell* value, uint32_t slot, uint32_t arg_count);

// ---- Words and context slots -----------------------------------------------------------
// Stores the stack-top value into the word through its context; unset! raises
// script need-value with the word. Returns the stored value's slot, or the
// exit code of the owner's change hook.
Outcome set_word_checked(Cell* word);
// As set_word_checked, then the stack top returns to the argument base.
Unwind set_word_reset(Cell* word);
// Copies the stack-top value into value slot `index` of the context; unset!
// raises script need-value with the context's word at that index.
Cell* set_ctx_slot(Off ctx, uint32_t index);
// As set_ctx_slot, then the result slot is reset to the argument base.
void set_ctx_slot_checked(Off ctx, uint32_t index);
// Copies the stack-top value into slot `index` without the unset check (an
// object context marks word `index` as set); the stack top returns to the
// argument base.
void set_ctx_value(Off ctx, uint32_t index);
// Reads the word's value through its context; unset! raises script no-value.
Cell* get_word_checked(const Cell* word);
// Address of value slot `index` of the context; a context without value
// storage raises script not-defined with the context's word at that index.
Cell* ctx_slot(const Cell* word, Off ctx, uint32_t index);

// ---- Paths, switch, load ---------------------------------------------------------------
// Evaluates a path value (elements as they stand, nothing evaluated): the
// head word is read through its context, then each element goes through the
// path action of the current value. With `value_to_set` non-null the last
// element is set. The final value is copied into `result`. Returns the
// unwind code of a change hook the setting ran (result not set then).
Unwind eval_path(const Cell* path, const Cell* value_to_set, Cell* result);
// The compiled switch/select: the value at the argument base is searched in
// the block in the next cell, by steps of 2 (value/case pairs) when `step`,
// else 1. With `block_search` the case is the first block! after the match,
// otherwise the next element (or the match itself when last). No match
// gives none. With `push` the case is pushed, else copied to the result slot.
Cell* select_case(bool step, bool block_search, bool push);

// float! above 2147483647.0, below -2147483648.0 or NaN raises script
// out-of-range with the value; other floats truncate toward zero; any other
// value gives its word 2.
int32_t to_integer_checked(const Cell* value);

// Installs the hooks through which the datatypes call up: load_single_utf8
// in the word layer, the interpreter's call in the port layer and the sort
// comparator runner.
void init();

}  // namespace kiv::runtime
