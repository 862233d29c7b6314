// block!: the cell-series primitives that the rest of the runtime builds
// blocks with (cells_*: length, position, append, find, copy, insert) and the
// making of blocks, with the block module's internal helpers (growth, hash!
// upkeep, deep copies).
#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/block_internal.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace kiv::block {

namespace internal {

[[noreturn]] void no_memory() {
    fire({"internal", "no-memory"});
}

// Makes room for `extra` cells at the tail. The new size is the needed size,
// doubled when `doubled`. Returns the buffer to use.
// room_for when the buffer has no room: expands it.
SeriesBuffer* grow_for(const Cell* blk, uint64_t extra, bool doubled) {
    SeriesBuffer* b = buf(blk);
    uint64_t bytes = extra * CELL;
    uint64_t need = uint64_t(b->byte_count()) + bytes;
    if (need > MAX_BLOCK_BYTES) no_memory();
    uint64_t size = doubled ? std::min<uint64_t>(need * 2, MAX_BLOCK_BYTES) : need;
    return memory::expand_series_copy(b, size);
}

// After `count` cells were inserted at `pos` of a hash!: shift and index.
void hash_inserted(const Cell* blk, uint32_t pos, uint32_t count) {
    if (!is_hash(blk) || count == 0) return;
    if (hashtable::insert_values(blk->w3, pos, count)) hashtable::reindex(blk->w3, 0, hashtable::ALL);
}

bool copied_deeply(uint32_t t, bool any) {
    if (t == TYPE_BLOCK || t == TYPE_HASH) return true;
    return any && is_any_block(t);
}

// Replaces cell i of the block by a copy of the series it holds (deep when
// asked), keeping the cell's header flags.
void replace_by_copy(const Cell* blk, uint32_t i, bool deep) {
    Cell c = read_cell(blk, i);
    if (is_any_block(c.type()) && cycles::find(c.w2)) {
        cycles::reset();
        fire({"internal", "no-cycle"});
    }
    stack::TopMark mark;
    Cell* slot = stack::push(none::cell());
    Cell* src = stack::push(c);
    Cell r = *actions::cell_of(actions::copy(src, slot, nullptr, deep, nullptr));
    r.header = (c.header & ~header::TYPE_MASK) | r.type();
    *cell_at(blk, i) = r;
}

// Copies deeply every series value among the cells of a new block.
void deep_copy_cells(const Cell* blk, uint32_t source_node) {
    cycles::Guard guard;
    guard.push(source_node);
    uint32_t n = cell_count(blk);
    for (uint32_t i = 0; i < n; ++i) {
        if (is_series(cell_at(blk, i)->type())) replace_by_copy(blk, i, true);
    }
}

}  // namespace internal

using namespace internal;

// ---- Cell-series primitives -------------------------------------------------------------------

uint32_t cells_length(const Cell* blk) {
    uint32_t n = cell_count(blk);
    return blk->w1 >= n ? 0 : n - blk->w1;
}

bool cells_next(Cell* blk) {
    uint32_t n = cell_count(blk);
    if (blk->w1 < n) ++blk->w1;
    return blk->w1 >= n;
}

Cell* cells_head(Cell* blk) {
    uint32_t n = cell_count(blk);
    if (blk->w1 > n) blk->w1 = n;
    return cell_at(blk, blk->w1);
}

Cell* cells_tail(const Cell* blk) {
    return buf(blk)->tail_cell();
}

bool cells_at_tail(const Cell* blk) {
    return blk->w1 == cell_count(blk);
}

Cell* cells_at(const Cell* blk, uint32_t n) {
    return cell_at(blk, n);
}

void cells_clear(Cell* blk) {
    SeriesBuffer* b = buf(blk);
    if (blk->w1 < b->byte_count() / CELL) b->tail = b->head + blk->w1 * CELL;
}

void cells_clear_at(Cell* blk, uint32_t n) {
    SeriesBuffer* b = buf(blk);
    if (n <= b->byte_count() / CELL) b->tail = b->head + n * CELL;
}

Cell* cells_append(const Cell* blk, const Cell* value) {
    Cell v = *value;  // the value may live in the buffer that grows
    Off node = blk->w2;
    Cell* c = series::alloc_tail_cell(buffer_of(node));
    *c = v;
    return c;
}

Cell* cells_append_all(Cell* target, const Cell* source) {
    Cell s = *source;
    Cell t = *target;
    uint32_t n = cells_length(&s);
    if (n == 0) return target;
    SeriesBuffer* b = room_for(&t, n, false);
    // Re-read the source after the growth (it may be the target itself).
    std::memmove(b->tail_cell(), cell_at(&s, s.w1), size_t(n) * CELL);
    b = buf(&t);
    b->tail += n * CELL;
    return target;
}

Cell* cells_find_word(const Cell* blk, const Cell* word, bool strict) {
    uint32_t n = cell_count(blk);
    uint32_t sym = word->w2;
    uint32_t canon = strict ? sym : hashtable::canonical_symbol(sym);
    for (uint32_t i = blk->w1; i < n; ++i) {
        const Cell* c = cell_at(blk, i);
        uint32_t t = c->type();
        if (t < TYPE_WORD || t > TYPE_GET_WORD) continue;
        bool same = strict ? c->w2 == sym : hashtable::canonical_symbol(c->w2) == canon;
        if (same) return i + 1 < n ? cell_at(blk, i + 1) : &none_value;
    }
    return &none_value;
}

Cell* select_value(const Cell* blk, const Cell* value) {
    uint32_t n = cell_count(blk);
    for (uint32_t i = blk->w1; i < n; ++i) {
        if (equal_cells(cell_at(blk, i), value, COMP_FIND))
            return i + 1 < n ? cell_at(blk, i + 1) : &none_value;
    }
    return &none_value;
}

void cells_remove_last(Cell* blk) {
    SeriesBuffer* b = buf(blk);
    uint32_t n = b->byte_count() / CELL;
    if (n == 0) return;
    if (is_hash(blk)) hashtable::delete_range(blk->w3, n - 1, 1);
    b = buf(blk);
    b->tail -= CELL;
    if (blk->w1 > n - 1) blk->w1 = n - 1;
}

void copy_types(const Cell* blk, uint32_t first, uint32_t end, uint32_t step, bool deep, const Cell* types) {
    Cell b = *blk;
    Cell ty = *types;
    if (step == 0) step = 1;
    for (uint32_t i = first; i < end && i < cell_count(&b); i += step) {
        uint32_t t = cell_at(&b, i)->type();
        bool wanted = ty.type() == TYPE_DATATYPE ? t == ty.w1 : typeset_has(&ty, t);
        if (!wanted) continue;
        bool copyable =
            is_series(t) || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_MAP;
        if (copyable) replace_by_copy(&b, i, deep);
    }
}

void remove_value(Cell* blk, const Cell* value, bool from_head) {
    uint32_t n = cell_count(blk);
    Cell v = *value;
    for (uint32_t i = from_head ? 0 : blk->w1; i < n; ++i) {
        if (equal_cells(cell_at(blk, i), &v, COMP_FIND)) {
            if (is_hash(blk)) hashtable::delete_range(blk->w3, i, 1);
            SeriesBuffer* b = buf(blk);
            Cell* at = b->head_cell() + i;
            std::memmove(at, at + 1, size_t(n - i - 1) * CELL);
            b->tail -= CELL;
            return;
        }
    }
}

Cell* copy_part(const Cell* src, Cell* dst, bool deep, bool any) {
    Cell s = *src;
    uint32_t n = cells_length(&s);
    Off node = memory::alloc_cells(n ? n : 1);
    SeriesBuffer* nb = buffer_of(node);
    if (n) std::memcpy(nb->head_cell(), cell_at(&s, s.w1), size_t(n) * CELL);
    nb->tail = nb->head + n * CELL;
    *dst = Cell{TYPE_BLOCK, 0, node, 0};
    if (deep) {
        cycles::Guard guard;
        guard.push(s.w2);
        for (uint32_t i = 0; i < n; ++i) {
            Cell c = read_cell(dst, i);
            if (!copied_deeply(c.type(), any)) continue;
            if (cycles::find(c.w2)) {
                cycles::reset();
                fire({"internal", "no-cycle"});
            }
            stack::TopMark mark;
            Cell* slot = stack::push(none::cell());
            copy_part(&c, slot, true, any);
            Cell r = *slot;
            r.header = c.header;
            r.w3 = 0;
            if (r.type() == TYPE_HASH) r.set_type(TYPE_BLOCK);  // the copy has no table of its own
            *cell_at(dst, i) = r;
        }
    }
    return dst;
}

Cell* insert_value(Cell* blk, const Cell* value, bool advance, bool at_head) {
    Cell v = *value;
    uint32_t n = cell_count(blk);
    uint32_t pos = at_head ? 0 : std::min(blk->w1, n);
    SeriesBuffer* b = room_for(blk, 1, true);
    Cell* at = b->head_cell() + pos;
    std::memmove(at + 1, at, size_t(n - pos) * CELL);
    *at = v;
    b->tail += CELL;
    hash_inserted(blk, pos, 1);
    if (advance) blk->w1 = pos + 1;
    return blk;
}

void insert_block(Cell* dst, const Cell* src) {
    Cell s = *src;
    uint32_t n = cells_length(&s);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = read_cell(&s, s.w1 + i);
        insert_value(dst, &v, true, false);
    }
}

// ---- Making blocks -----------------------------------------------------------------------------

namespace {
Cell spare{TYPE_NONE, 0, 0, 0};
}

Cell* spare_cell() {
    return &spare;
}

Cell* make_at(Cell* cell, int32_t n) {
    Off node = memory::alloc_cells(uint32_t(n < 1 ? 1 : n));
    return box(cell, node, 0);
}

Cell* make_at_fixed(Cell* cell, int32_t n, bool outside) {
    uint32_t count = uint32_t(n < 1 ? 1 : n);
    Off node = outside ? memory::alloc_fixed_series(count, CELL, 0) : memory::alloc_cells(count);
    return box(cell, node, 0);
}

Cell* make_in(const Cell* parent, int32_t n) {
    if (!parent) return make_at(&spare, n);
    // The cell first (as none), so that the new buffer is reachable from the
    // moment it exists; then re-read the cell through the parent's node.
    Off pnode = parent->w2;
    cells_append(parent, &none_value);
    Off node = memory::alloc_cells(uint32_t(n < 1 ? 1 : n));
    Cell* c = buffer_of(pnode)->tail_cell() - 1;
    return box(c, node, 0);
}

Cell* make_fixed_in(const Cell* parent, int32_t n) {
    if (!parent) return make_at_fixed(&spare, n, true);
    Off pnode = parent->w2;
    cells_append(parent, &none_value);
    Off node = memory::alloc_fixed_series(uint32_t(n < 1 ? 1 : n), CELL, 0);
    Cell* c = buffer_of(pnode)->tail_cell() - 1;
    return box(c, node, 0);
}

Cell* push(const Cell* blk) {
    return stack::push(*blk);
}

Cell* push_only(int32_t n) {
    Cell* c = stack::push(none::cell());
    return make_at(c, n);
}

}  // namespace kiv::block
