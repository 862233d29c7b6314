// The library's routines: small primitives written in C++ and bound to
// global words as routine! values, each with a specification block like any
// function (its arguments are type-checked by the interpreter before the
// entry runs).
//
// Bound here, in this order: process exit (`quit-return`), event-free
// assignment (`set-quiet`, `set-slot-quiet`), bit shifts, the current
// directory and directory queries, `os-info`, the tuple builders
// (`as-color`, `as-ipv4`, `as-rgba`), `count-chars`, stack introspection for
// the tracing tools, the tracing flag, the clipboard, standard output; then
// one predicate per datatype (`integer?` ...) and one test per typeset
// (`series?` ...). A typeset test looks its typeset up by its global word at
// each call, so it follows a redefinition of that word.
//
// Every entry reads its arguments from the argument base and leaves its
// result there; errors go through fire(). Entries answer an unwind code
// (routine::Fn): none of these runs Kiv code, so each answers UNWIND_NONE.
#pragma once

#include "datatypes/function.h"
#include "runtime/cell.h"

namespace kiv::library::routines {

// Registers every routine and binds its word in the global context. Runs
// once, as a step of the library's module order (after the base values).
void bind_all();

// The routines that live in the system object rather than in global words,
// made and pushed on the data stack by name: `active?`, `series-cycles` and
// `nodes-cycles` (system/state/GC), `float-on-change*` (called with the
// field's word and its new value by the change handler of
// system/options/float; sets the runtime's float switches). An unknown name
// pushes none.
Cell* push_system_routine(const char* name);

// Makes a routine from its specification text and entry and pushes it.
Cell* push_routine(const char* name, const char* spec_text, routine::Fn fn);

}  // namespace kiv::library::routines
