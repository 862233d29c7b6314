// block!: the basic container, a series of cells that is both data and code.
//
// A block value: word 1 = position (in cells from the buffer head), word 2 =
// node of a buffer of 16-byte units; word 3 unused (hash! keeps its table
// there). Header bit 30 of a cell inside a block is its new-line marker: the
// value starts a new line when the block is molded.
//
// This module also provides the cell-series primitives the whole runtime uses
// to build and scan blocks (cells_*), and the block side of mold/form, compare,
// find/select, insert/change, sort and the set operations. paren!, the path
// types and hash! inherit most of it.
//
// Invariants:
//   - Cell* results that point into a block buffer (cells_head, cells_append,
//     pick ...) are valid only until the next allocation; copy the cell out
//     before calling anything that may allocate (mold, copy, insert ...);
//   - every routine that changes a hash! keeps its table (word 3) in step;
//   - walks into nested blocks (mold, form, compare, deep copy) push the
//     block's node on the cycle stack, so self-containing blocks terminate.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/stack.h"
#include "runtime/series.h"
#include "datatypes/actions.h"

namespace kiv::block {

// Registers block! (after series!).
void init();

// ---- Cell-series primitives -------------------------------------------------------------

// Cells from the position to the tail (0 when the position is past it).
uint32_t cells_length(const Cell* blk);
// Advances the position unless already at the tail; answers whether it is now at the tail.
bool cells_next(Cell* blk);
// Address of the cell at the position; a position past the tail is clamped first.
Cell* cells_head(Cell* blk);
// Address just past the last cell.
Cell* cells_tail(const Cell* blk);
// The position is exactly at the tail.
bool cells_at_tail(const Cell* blk);
// Address of cell n counted from the buffer head.
Cell* cells_at(const Cell* blk, uint32_t n);
// tail := position.
void cells_clear(Cell* blk);
// tail := cell n from the head (when that lies within the buffer).
void cells_clear_at(Cell* blk, uint32_t n);
// Copies the value into a new cell at the tail (growing the buffer); returns the new cell.
Cell* cells_append(const Cell* blk, const Cell* value);
// Appends a copy of every cell of source (from its position) at target's tail.
Cell* cells_append_all(Cell* target, const Cell* source);
// Scans from the position for an any-word (word!, set-word!, lit-word!,
// get-word!) with the word's symbol (case-insensitive alias unless strict);
// returns the cell after it, or the none constant when missing or last.
Cell* cells_find_word(const Cell* blk, const Cell* word, bool strict);
// The cell after the first cell equal (operation 12) to the value, or none.
Cell* select_value(const Cell* blk, const Cell* value);
// Removes the last cell (if any) and clamps the position to the new tail.
void cells_remove_last(Cell* blk);
// The /types worker of copy: every cell of [first, first + count) (moving by
// step) whose type is the datatype! or in the typeset! and that holds a
// series, bitset!, object!, error! or map! is replaced by its copy (deep when
// asked). Cells are given by position in the block so that copying may
// allocate.
void copy_types(const Cell* blk, uint32_t first, uint32_t end, uint32_t step, bool deep, const Cell* types);
// Removes the first cell equal (operation 12) to the value, from the position or the head.
void remove_value(Cell* blk, const Cell* value, bool from_head);
// A new block in dst with copies of src's cells from its position (room for
// one cell at least); with deep, nested blocks (and with any, parens and paths
// too) are copied recursively, each copy keeping its cell's header.
Cell* copy_part(const Cell* src, Cell* dst, bool deep, bool any);
// Inserts one value at the position (or at the head), growing the buffer to
// twice the needed size when short; with advance the position moves past it.
Cell* insert_value(Cell* blk, const Cell* value, bool advance, bool at_head);
// Inserts each value of src from its position at dst's position, advancing dst.
void insert_block(Cell* dst, const Cell* src);

// ---- Making blocks ------------------------------------------------------------------------

// Makes the cell a block! value over the node at the position.
inline Cell* box(Cell* cell, Off node, uint32_t position = 0) {
    *cell = Cell{TYPE_BLOCK, position, node, 0};
    return cell;
}
// Makes the cell an empty block with room for n cells (n < 1 gives 1).
Cell* make_at(Cell* cell, int32_t n);
// The same; with outside, the buffer is a fixed series (never moved or
// collected: for blocks that live for the whole run).
Cell* make_at_fixed(Cell* cell, int32_t n, bool outside);
// A new empty block with room for n cells, in a new cell at the tail of the
// parent block, or in the module's spare cell when parent is null. Returns
// the new block cell.
Cell* make_in(const Cell* parent, int32_t n);
Cell* make_fixed_in(const Cell* parent, int32_t n);
// The spare cell make_in uses without a parent (a root for the collector).
Cell* spare_cell();
// Pushes a copy of the block value on the data stack.
Cell* push(const Cell* blk);
// Pushes a new empty block with room for n cells (at least 1).
Cell* push_only(int32_t n);

// ---- Workers --------------------------------------------------------------------------

// Molds the cells from the position (no brackets) with new-line markers and
// indentation; returns the budget left.
int32_t mold_each(Cell* blk, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
                  int32_t indent);
// Compares two block-like values (see compare); -1, 0, 1.
int32_t compare_each(Cell* a, Cell* b, int32_t op);
// The block side of the set operations: operands at the argument base (the
// second in the next cell for union, intersect, exclude and difference), op
// 8 unique, 9 union, 10 intersect, 11 exclude, 12 difference; skip is the
// record size (1 when /skip was not used; below 1 raises invalid-refine-arg).
// The result replaces the argument base and is returned.
Cell* do_set_op(bool case_sensitive, int32_t skip, int32_t op);

enum SetOp : int32_t {
    SET_UNIQUE = 8,
    SET_UNION = 9,
    SET_INTERSECT = 10,
    SET_EXCLUDE = 11,
    SET_DIFFERENCE = 12
};

// The call point of sort/compare with a function! or routine!: calls it with
// two values (or two record blocks) and stores its order in *order. Returns
// the function's unwind code: when it is not UNWIND_NONE, *order is not set
// and the stacks are the exit's (the sort stops asking and returns the code).
// Needs the interpreter: raises internal not-done until then.
Unwind call_compare_function(const Cell* function, const Cell* a, const Cell* b, int32_t* order);
// The interpreter's half of call_compare_function, installed by it as
// object::hook_runner is: calls `function` with the `count` values and
// leaves its answer on a new top cell; returns the call's unwind code.
using ComparatorRunner = Unwind (*)(const Cell* function, const Cell* args, uint32_t count);
extern ComparatorRunner comparator_runner;

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t type);
Outcome to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                int32_t position, bool case_sensitive, bool get_path, bool last_element, bool notify_owner);
int32_t compare(Cell* value, Cell* other, int32_t op);
Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Unwind change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Outcome put(Cell* series, Cell* key, Cell* value, bool case_sensitive);
Outcome select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
               Cell* with, Cell* skip, bool last, bool reverse);
Unwind sort(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all,
            bool reverse, bool stable);
Unwind swap(Cell* series1, Cell* series2);
Outcome take(Cell* series, Cell* part, bool deep, bool last);
Unwind trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

// insert's first case: append (no /part, no /dup) of one value (a
// block-like value only with /only) at the tail of a block that no owner
// watches (an owned buffer carries the flag) and no hash table indexes.
[[gnu::always_inline]] inline bool is_plain_cell_append(const Cell* series, const Cell* value, bool only) {
    if (!only && is_any_block(value->type())) return false;
    if (series->type() == TYPE_HASH && series->w3 != 0) return false;
    return !(buffer_of(series->w2)->flags & series_flag::OWNED);
}
// That append when the buffer has room for the cell: done, or false with
// nothing done.
[[gnu::always_inline]] inline bool append_cell_in_room(Cell* series, const Cell* value) {
    SeriesBuffer* b = buffer_of(series->w2);
    if (uint64_t(b->tail) + sizeof(Cell) > b->data_end()) return false;
    std::memmove(static_cast<void*>(b->tail_cell()), value, sizeof(Cell));
    b->tail += sizeof(Cell);
    series->w1 = 0;
    return true;
}
// Both, taken before insert's call: false, with nothing done, when insert
// must run (it then does the same or more).
[[gnu::always_inline]] inline bool append_cell_quick(Cell* series, const Cell* value, bool only) {
    return is_plain_cell_append(series, value, only) && append_cell_in_room(series, value);
}

}  // namespace kiv::block

namespace kiv::paren {

// Registers paren! (a block child written between "(" and ")").
void init();
// Gives the cell the type paren! and pushes a copy of it.
Cell* push(Cell* cell);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);

}  // namespace kiv::paren
