// series!: the actions every concrete series type shares.
//
// No value carries type series! (id 42); block!, string!, binary!, vector!
// and their children inherit these implementations from its row of the
// action table. They work on units: a unit is one element of the buffer (a
// 16-byte cell for block-like series, a 1/2/4-byte character for strings, a
// byte for binary!, an element for vector!), its size the low 5 bits of the
// buffer flags. A series value holds its position (in units from the buffer
// head) in word 1 and its node in word 2; word 3 is type-specific (vector!
// element type, hash! table, string conversion cache).
//
// Invariants the helpers keep and rely on:
//   - a position may lie past the tail after the series shrank through
//     another reference; every helper clamps it before reading units;
//   - no raw pointer into a buffer is held across an allocation: buffers are
//     re-read through their node, and values taken out of a buffer are
//     copied before anything that may allocate runs;
//   - a hash! (block with a table in word 3) has its table updated at every
//     change made here (hashtable::delete_range / insert_values / reindex).
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/series.h"
#include "datatypes/actions.h"
#include "datatypes/ownership.h"

namespace kiv::series {

// Registers series! (after logic!, before block!).
void init();

// ---- Kinds of series ------------------------------------------------------------------

// The kinds of series (is_any_block, is_any_string, is_series) are in runtime/cell.h.

// ---- Helpers used by all series types ------------------------------------------------------

inline SeriesBuffer* buffer(const Cell* v) {
    return buffer_of(series_node(v));
}
// log2 of the unit of the value's buffer.
inline uint32_t shift_of(const SeriesBuffer* b) {
    return unit_shift(b->unit());
}

// Units between the buffer's head and tail (the position is ignored).
inline uint32_t buffer_length(const Cell* v) {
    const SeriesBuffer* b = buffer(v);
    return b->byte_count() >> shift_of(b);
}
// True when the position is at or past the buffer's tail.
inline bool tail_reached(const Cell* v) {
    return v->w1 >= buffer_length(v);
}
// Adds offset to the position unless the new position would lie past the
// tail (or before the head); answers whether the position is now at or past
// the tail.
bool move_index(Cell* v, int32_t offset);
// The new position for `at` (base 1) or `skip` (base 0): series at the
// argument base, integer! offset in the next cell (anything else raises
// script invalid-arg). Clamped to 0..buffer length.
uint32_t at_skip_index(int32_t base);
// Units from the position (or from the head) to the tail. A position past the
// tail is first clamped to the tail (the cell is rewritten) and gives 0.
uint32_t get_length(Cell* v, bool from_head);

// The /part argument of remove, reverse, take, copy and sort as a signed unit
// count from the series' position: an integer! directly, a position in the
// same series as the distance to it. Anything else raises script
// invalid-refine-arg with the word `part` and the argument.
int64_t part_count(const Cell* series, const Cell* part);

// The value of the unit at a position counted from the head (the position
// must lie before the tail), as the series type boxes it: the cell itself for
// block-like series, char! for strings, integer! for binary!, the element
// type for vector!.
Cell unit_value(const Cell* series, uint32_t position);

// The global word! of a name, for error arguments (the refinement or action
// named). Needs the symbol table and the global context.
Cell arg_word(const char* name);

// ---- Ownership notices ------------------------------------------------------------------------
//
// Before and after each change of a series held in a field of an object with
// an on-deep-change handler, the changing action reports it to the owner:
// `event` is the action's word before the change and its past tense after
// (random/randomized, clear/cleared, poke/poked ...), `value` the value
// inserted or stored (or null), `index` and `count` the units concerned.
// Goes through the ownership table (runtime/externals.h, ownership::notify).
// The handler's unwind code is returned, and *owned (when not null) tells
// whether the series is owned; the after-notice is sent only then.
Unwind notify_owner(const Cell* series, ownership::OwnerEvent event, const Cell* value, uint32_t index, uint32_t count,
                    bool* owned);
// The owner's handler runs Kiv code, which may change the series: after a
// before-notice that was sent (the series was owned), what the action
// computed before it is checked again. Raises script past-end unless the
// units [start, start + count) still lie within the series.
void recheck_range(const Cell* series, uint32_t start, uint32_t count);
// swap changes one element in each of two series, so the owners of both
// hear of it. notify_swap sends the two before-notices and, when either was
// sent, checks that both positions still lie within their series (past-end
// otherwise); notify_swapped sends the after-notices to the owners recorded.
struct SwapOwners {
    bool first = false;
    bool second = false;
};
Unwind notify_swap(const Cell* series1, uint32_t index1, const Cell* series2, uint32_t index2, SwapOwners& owned);
Unwind notify_swapped(const Cell* series1, uint32_t index1, const Cell* series2, uint32_t index2,
                      const SwapOwners& owned);

// ---- Actions (signatures of datatypes/actions.h) ----------------------------------------------

Unwind random(Cell* value, bool seed, bool secure, bool only);
void reflect(Cell* value, uint32_t field_symbol);
void at();
void back();
Unwind clear(Cell* series);
Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
void head();
void head_q();
void index_q();
Count length_q(Cell* value);
Outcome move(Cell* origin, Cell* target, Cell* part);
void next();
Outcome pick(Cell* series, int32_t index, Cell* index_cell);
Outcome poke(Cell* series, int32_t index, Cell* value, Cell* index_cell);
Unwind remove(Cell* series, Cell* part, Cell* key);
Unwind reverse(Cell* series, Cell* part, Cell* skip);
void skip();
void tail();
void tail_q();
Outcome take(Cell* series, Cell* part, bool deep, bool last);
Outcome modify(Cell* target, Cell* field, Cell* value, bool case_sensitive);

}  // namespace kiv::series
