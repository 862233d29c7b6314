// The generic actions: lookup of a type's implementation, one dispatcher per
// action (called directly by datatype code), the stack entries that action!
// values and the interpreter call, and the value ordering used by sorting.
//
// A missing implementation raises script expect-arg (the calling function's
// word, the value's datatype, the called function's first argument word).
//
// Stack entries: generic_table[slot](refs) runs action `slot` on the call
// whose arguments sit from the argument base on (fixed arguments first, in
// specification order). `refs` holds one int32 per refinement of the action,
// in specification order: -1 when the refinement is absent, else the offset
// from the argument base of the refinement's first argument cell (for a
// refinement without argument any value >= 0). The entry leaves the result in
// the result slot (the argument base); it does not move the data top. It
// returns the unwind code of Kiv code it ran (a port's actor, an object's
// hook or body, a sort comparator): UNWIND_NONE, or a code passed up as it
// came, with the stacks as the exit left them (runtime/stack.h).
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/registry.h"
#include "runtime/stack.h"

namespace kiv::actions {

// The generic action table: the stack entry of each slot (slot 8 empty).
using StackEntry = Unwind (*)(const int32_t* refinements);
extern StackEntry generic_table[ACTION_COUNT + 1];
void init();
// Copies `count` entries into slots 1..count.
void register_entries(const StackEntry* list, uint32_t count);
// Number of refinements of each action's specification.
uint32_t refinement_count(uint32_t slot);
// The action's refinements in specification order, as "[/part /only ...]".
const char* refinements_text(uint32_t slot);
// The action's word and its first argument's name ("" for slots 7-9).
const char* slot_name(uint32_t slot);
const char* first_arg_name(uint32_t slot);

// The lookup's uncommon cases: a port! (its native scheme's table first), a
// header byte above the registered range, and the missing entry's error.
ActionEntry get_action_rare(uint32_t type, const Cell* value, uint32_t slot);

// Lookup with the missing-entry error. Inheritance is resolved when a type
// registers, so every type but port! finds its entry by one indexed load.
inline ActionEntry get_action_from(uint32_t type, const Cell* value, uint32_t slot) {
    if (type != TYPE_PORT && type <= TYPE_ID_LIMIT) [[likely]] {
        if (ActionEntry e = datatype::lookup(type, slot)) [[likely]]
            return e;
    }
    return get_action_rare(type, value, slot);
}
inline ActionEntry get_action(const Cell* value, uint32_t slot) {
    return get_action_from(value->type(), value, slot);
}
// The same for the value at the argument base.
inline ActionEntry get_action_arg(uint32_t slot) {
    return get_action(stack::arg_base, slot);
}
// The typed implementation of `Slot` for a value.
template <uint32_t Slot>
inline SlotFn<Slot> action_for(const Cell* value) {
    return entry_as<Slot>(get_action(value, Slot));
}

// A port! whose actor is a native scheme (a handle!) takes the actions of
// slots 25..62 from the scheme's own table (entry slot - 25). The port layer
// installs this lookup; it answers the scheme's table, or null when the port
// has no native actor. An empty entry there raises access no-port-action.
using PortActorTable = const ActionEntry* (*)(const Cell* port);
extern PortActorTable port_actor_table;

// Dispatchers (same arguments as the slot's implementation; see datatypes/actions.h).
// The body of make object! (make error!, make port!) runs Kiv code.
Outcome make(Cell* proto, Cell* spec);
Outcome to(Cell* proto, Cell* spec);
Unwind random(Cell* value, bool seed, bool secure, bool only);
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// Path step: the parent's eval-path. A parent type without one raises script
// bad-path-type (path, parent's datatype, the path) or, with no path, script
// bad-path-type2 (element, parent's datatype).
[[noreturn]] void raise_bad_path(const Cell* parent, const Cell* element, const Cell* path, int32_t position);
inline Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                         int32_t position, bool case_sensitive, bool get_path, bool last_element,
                         bool notify_owner) {
    uint32_t type = parent->type();
    ActionEntry e = type <= TYPE_ID_LIMIT ? datatype::lookup(type, ACT_EVAL_PATH) : nullptr;
    if (!e) [[unlikely]]
        raise_bad_path(parent, element, path, position);
    return entry_as<ACT_EVAL_PATH>(e)(parent, element, value, path, grandparent, previous, position,
                                      case_sensitive, get_path, last_element, notify_owner);
}
// Comparison as a boolean: raises invalid-compare for orderings of values that are not comparable.
bool compare(Cell* a, Cell* b, int32_t op);
// Ordering (-1, 0, 1) for sort and set operations; a type's compare may
// answer -2 (not comparable), which is passed on.
int32_t compare_value(Cell* a, Cell* b, int32_t op);
// Math and navigation actions whose operands are at the argument base.
Unwind stack_op(uint32_t slot);
void negate(Cell* value);
void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling);
bool even_q(Cell* value);
bool odd_q(Cell* value);
Cell* complement(Cell* value);
Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Unwind change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Unwind clear(Cell* series);
Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Count length(Cell* value);  // -1: none
Outcome move(Cell* origin, Cell* target, Cell* part);
Outcome pick(Cell* series, int32_t index, Cell* index_cell);
Outcome poke(Cell* series, int32_t index, Cell* value, Cell* index_cell);
Outcome put(Cell* series, Cell* key, Cell* value, bool case_sensitive);
Unwind remove(Cell* series, Cell* part, Cell* key);
Unwind reverse(Cell* series, Cell* part, Cell* skip);
Outcome select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
               Cell* with, Cell* skip, bool last, bool reverse);
Unwind sort(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all,
            bool reverse, bool stable);
Unwind swap(Cell* series1, Cell* series2);
Outcome take(Cell* series, Cell* part, bool deep, bool last);
Unwind trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
Outcome port_op(uint32_t slot, Cell* value);  // create, close, delete, open?, query, update
Outcome modify(Cell* target, Cell* field, Cell* value, bool case_sensitive);
Outcome open(Cell* spec, bool new_, bool read, bool write, bool seek, Cell* allow);
Outcome read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Outcome rename(Cell* from, Cell* to);
Outcome write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
              Cell* seek, Cell* allow, Cell* as);

// The result of an action on a value that is never a port! (a series, a
// map, a bitset, an object...): its implementation runs no Kiv code and so
// answers no unwind code; one that does is a faulty build and ends the
// process. Callers that may meet a port pass the code up instead.
[[noreturn]] void unexpected_unwind(Unwind code);
inline Cell* cell_of(Outcome answer) {
    if (answer.code) [[unlikely]]
        unexpected_unwind(answer.code);
    return answer.cell;
}
inline int32_t count_of(Count answer) {
    if (answer.code) [[unlikely]]
        unexpected_unwind(answer.code);
    return answer.n;
}

// pick/poke index from a cell: logic true 1, false 2, integer!/char! their number, else 0.
int32_t index_argument(const Cell* index);

}  // namespace kiv::actions
