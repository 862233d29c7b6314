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
// Each is a row of a routine table (library/routine_table.h): it reads its
// arguments by name and leaves its result in the result slot; errors go
// through fire(). Entries answer an unwind code (routine::Fn): none of
// these runs Kiv code, so each answers UNWIND_NONE. `routine-table` gives
// the object of an object table's routines (the codecs, draw-image).
#pragma once

#include "datatypes/function.h"
#include "library/routine_table.h"
#include "runtime/cell.h"

namespace kiv::library::routines {

// The library's own tables: the global routines (with the type predicates
// and typeset tests) and the routines of the system object.
extern const routine::Table LIBRARY_TABLE;
extern const routine::Table SYSTEM_TABLE;

// Reads the routine specifications from the boot image and binds the
// routines of every global table to their words. Runs once, as a step of
// the library's module order (after the base values).
void bind_all();

// The routines of an object table as an object (each row's word set to its
// routine), pushed on the data stack.
Cell* push_table_object(const routine::Table& table);
// The routine of the row named `name` of a table, pushed; none when the
// table has no such row.
Cell* push_table_routine(const routine::Table& table, const char* name);

}  // namespace kiv::library::routines
