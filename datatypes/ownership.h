// Series owned by objects: the walks that enter a value's series into the
// ownership table (runtime/externals.h) and the reports of in-place changes
// to the owner's on-deep-change* handler.
//
// An owned series buffer carries series_flag::OWNED; an owned image! cell and
// the context cell of an owner object carry header::OWNS_SERIES. Walks into
// nested blocks and objects guard against cycles.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/externals.h"
#include "runtime/stack.h"

namespace kiv::ownership {

// The events of the series actions' notices: the action's word before the
// change and its past tense after, as the owner's handler receives them.
// clang-format off
#define KIV_OWNER_EVENTS(X) \
    X(APPEND, "append") \
    X(APPENDED, "appended") \
    X(INSERT, "insert") \
    X(INSERTED, "inserted") \
    X(CHANGE, "change") \
    X(CHANGED, "changed") \
    X(CLEAR, "clear") \
    X(CLEARED, "cleared") \
    X(MOVE, "move") \
    X(MOVED, "moved") \
    X(POKE, "poke") \
    X(POKED, "poked") \
    X(PUT, "put") \
    X(PUT_ED, "put-ed") \
    X(RANDOM, "random") \
    X(RANDOMIZED, "randomized") \
    X(REMOVE, "remove") \
    X(REMOVED, "removed") \
    X(REVERSE, "reverse") \
    X(REVERSED, "reversed") \
    X(SORT, "sort") \
    X(SORTED, "sorted") \
    X(SWAP, "swap") \
    X(SWAPED, "swaped") \
    X(TAKE, "take") \
    X(TAKEN, "taken") \
    X(TRIM, "trim") \
    X(TRIMMED, "trimmed") \
    X(UPPERCASE, "uppercase") \
    X(LOWERCASE, "lowercase") \
    /* end */
// clang-format on
enum class OwnerEvent : uint8_t {
#define KIV_OWNER_EVENT_ENUM(id, name) id,
    KIV_OWNER_EVENTS(KIV_OWNER_EVENT_ENUM)
#undef KIV_OWNER_EVENT_ENUM
};
// The event's word name.
const char* owner_event_name(OwnerEvent event);

// Creates the table and installs the object layer's bind and unbind entries.
void init();

// The value's series (and, for blocks, every series nested in it; for an
// object, the series in its fields with the object's own words) becomes
// owned by `owner` under `field` (null: none).
void set_owner(Cell* value, const Cell* owner, const Cell* field);
// set_owner, then the owner's context cell gets header::OWNS_SERIES.
void bind_set(Cell* value, const Cell* owner, const Cell* field);
// Removes the ownership of the value's series (and of nested ones).
void unbind(Cell* value);
// unbind on `count` cells of the block from 0-based `index`.
void unbind_cells(const Cell* block, uint32_t index, uint32_t count);
// When the series (object!: its context) is owned by an object with hooks,
// runs the owner's on-deep-change* with (owner, field word, series, action,
// new value or none, index, part) and sets *owned; else *owned is false.
// Returns the handler's unwind code (the stacks are then the exit's).
Unwind check(const Cell* series, const Cell* action, const Cell* new_value, int32_t index, int32_t part,
             bool* owned);
// The series actions' notice: check with the global word of `event`.
Unwind notify(const Cell* series, OwnerEvent event, const Cell* value, uint32_t index, uint32_t count,
              bool* owned);

}  // namespace kiv::ownership
