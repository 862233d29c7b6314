// The direct steps of paths over objects, shared by the path evaluation
// (interpreter_path.cpp) and the interpreter's quick set-path form, which
// inlines them. Nothing here allocates or runs code.
#pragma once

#include <cstdint>
#include <cstring>

#include "datatypes/object.h"
#include "evaluator/interpreter_internal.h"
#include "evaluator/refusal_memo.h"
#include "runtime/memory.h"
#include "runtime/root.h"

namespace kiv::interpreter::detail {

using spec::is_callable;

// ---- Direct forms
//
// The commonest paths are answered without the generic walk's data-stack
// copies and path-action calls, outside tracing (whose events the generic
// walk sends):
//   - a head word holding an object! and elements that are words naming
//     fields (`p/x`, `p/a/b`, `p/move 1 2`, `p/y: 0`): each field is found
//     as the object's path action finds it (object::path_field) and read
//     from its value slot;
//   - a head word holding a block! and one integer! element (`b/2`): the
//     pick kernel, as the generic walk itself uses it;
//   - a head word holding a function called with refinements
//     (`append/only`): the call, as the generic walk makes it.
// Whatever the actions would treat otherwise (a missing field, an unset
// value, a parent of another type, `self` as the field set, a function
// picked from a block, a pick past the block's tail...) is left to the
// generic walk, which starts again from the head: up to that decision
// nothing is changed, allocated or run.

// ---- Field memo
//
// The index at which a symbol was found in an object context (not the
// global one), by the field steps below, and the node of the context's
// values: a loop reads the same fields on every pass, and the memo spares
// it the words series (a chain of loads from the context cell) and its
// scan, and the context cell on the way to the values. An index stays
// right while the context node names the same context: words are never
// removed or moved, and such a context holds one word per canonical
// symbol. A heap context keeps the values node it was made with. Nodes
// are freed and relocated only by a collection, so an entry holds for the
// collection cycle it was made in.
struct FieldMemoEntry {
    uint64_t key;  // context node and symbol; 0 for none (no node is 0)
    uint32_t cycle;
    uint32_t index;
    Off values;
    uint32_t unused;
};
// Direct-mapped by a multiplicative hash of the key: large enough that the
// fields of the dozens of objects a program works on at once (bodies of a
// simulation, the tasks of a queue, each with its fields) seldom evict one
// another, small enough to stay in the first-level caches' reach.
constexpr uint32_t FIELD_MEMO_BITS = 12;
constexpr uint32_t FIELD_MEMO_SIZE = 1u << FIELD_MEMO_BITS;
extern FieldMemoEntry field_memo[FIELD_MEMO_SIZE];
inline uint64_t field_memo_key(Off ctx, uint32_t symbol) {
    return uint64_t(ctx) << 32 | symbol;
}
inline FieldMemoEntry& field_memo_entry(Off ctx, uint32_t symbol) {
    return field_memo[(field_memo_key(ctx, symbol) * 0x9E3779B97F4A7C15ull) >> (64 - FIELD_MEMO_BITS)];
}
// The entry of the symbol in the context, or null. Entries go in pairs (a
// slot and its neighbour, index xor 1): a key is noted in its own slot, and
// the key it displaces moves to the neighbour, so two keys of one slot read
// in turn (the fields of many objects walked in a loop) both stay.
[[gnu::always_inline]] inline const FieldMemoEntry* memo_field_entry(Off ctx, uint32_t symbol) {
    const uint64_t key = field_memo_key(ctx, symbol);
    const FieldMemoEntry& m = field_memo_entry(ctx, symbol);
    if (m.key == key && m.cycle == memory::collection_cycles) [[likely]]
        return &m;
    const FieldMemoEntry& n = field_memo[uint32_t(&m - field_memo) ^ 1u];
    return n.key == key && n.cycle == memory::collection_cycles ? &n : nullptr;
}
// The value slot of an entry's field (valid until the next allocation).
inline Cell* memo_field_slot(const FieldMemoEntry* m) {
    return buffer_of(m->values)->head_cell() + m->index;
}
// Notes a field found in a heap context other than the global one.
inline void memo_field_note(Off ctx, uint32_t symbol, int32_t index) {
    const Cell* cc = context::cell(ctx);
    if (ctx == root::global_context || (cc->header & header::STACK_VALUES) || !cc->w2) return;
    field_memo_entry(ctx, symbol) = {field_memo_key(ctx, symbol), memory::collection_cycles, uint32_t(index),
                                     cc->w2, 0};
}
// Forgets every entry (a new run of the runtime).
void forget_fields();

// The field `el` (a word!) names in the object context, as
// object::path_field_cells finds it, noted in the memo: the memo's miss,
// out of line.
[[gnu::noinline]] context::Field find_field(Off ctx, const Cell* el);
// The same with the memo first; the word cell only with Word.
template <bool Word = false>
[[gnu::always_inline]] inline context::Field memo_field(Off ctx, const Cell* el) {
    const FieldMemoEntry* m = memo_field_entry(ctx, el->w2);
    if (!m) return find_field(ctx, el);
    return {memo_field_slot(m), Word ? context::word_at(ctx, m->index) : nullptr, int32_t(m->index)};
}

// The slot of the field `el` names in the object context, or null.
[[gnu::always_inline]] inline const Cell* object_field(Off ctx, const Cell* el) {
    if (el->type() != TYPE_WORD) return nullptr;
    const Cell* slot = memo_field(ctx, el).value;
    return !slot || slot->type() == TYPE_UNSET ? nullptr : slot;
}

// Steps from the object in `slot` through the fields cells[1] ..
// cells[end - 1] name, each but the last leading to another object. With
// `call`, a function met on the way ends the walk (*at: its element). The
// last slot read, or null when a step is not such a field step. Nothing
// here allocates, so the pointers stay valid. The one-step form (`p/x`)
// is answered inline; longer paths loop out of line.
[[gnu::noinline]] const Cell* object_steps_loop(const Cell* slot, const Cell* cells, uint32_t end, bool call,
                                                uint32_t* at);
[[gnu::always_inline]] inline const Cell* object_steps(const Cell* slot, const Cell* cells, uint32_t end, bool call,
                                                       uint32_t* at) {
    if (end == 1) return slot;
    if (end == 2) {
        *at = 1;
        return object_field(slot->w1, &cells[1]);
    }
    return object_steps_loop(slot, cells, end, call, at);
}
// The path's cells from its head, their count (at least 2) and the head
// word's value; null when the path has no direct form.
inline const Cell* path_head(const Cell& path, const Cell** cells, uint32_t* count) {
    const SeriesBuffer* b = buffer_of(path.w2);
    uint32_t n = b->byte_count() >> 4;
    if (path.w1 + 1 >= n) return nullptr;
    *count = n - path.w1;
    *cells = b->head_cell() + path.w1;
    if ((*cells)[0].type() != TYPE_WORD) return nullptr;
    return peek_value(&(*cells)[0]);
}

// The key of a one-key path on a map! (`m/key`, `m/:k`): the element, a
// get-word's value read in place. False for any other path, and for a key
// the generic walk evaluates or refuses (a paren, unset, a get-word whose
// value cannot be read in place).
inline bool map_path_key(const Cell* head, const Cell* cells, uint32_t count, Cell* key) {
    if (!head || head->type() != TYPE_MAP || count != 2) return false;
    Cell el = cells[1];
    if (el.type() == TYPE_GET_WORD) {
        const Cell* v = peek_value(&el);
        if (!v) return false;
        el = *v;
    }
    if (el.type() == TYPE_PAREN || el.type() == TYPE_UNSET) return false;
    *key = el;
    return true;
}

// Set-paths found to lead elsewhere than an object field (`m/:k:` on a
// map!, `b/2:` on a block): a loop stores through the same path on every
// pass, and both the quick set and the walk ask for its target.
extern RefusalMemo refused_set_paths;

// Equal words (type, binding, symbol, index) take the same steps to the
// same field: words 1 and 2 compared as one 64-bit value, then word 3 and
// the type.
inline bool same_step(const Cell* x, const Cell* y) {
    uint64_t a, b;
    std::memcpy(&a, reinterpret_cast<const char*>(x) + 4, 8);
    std::memcpy(&b, reinterpret_cast<const char*>(y) + 4, 8);
    return a == b && x->w3 == y->w3 && ((x->header ^ y->header) & header::TYPE_MASK) == 0;
}

// True when `operand` is a path of the same `count` steps as `cells` (at
// least 2).
inline bool same_path(const Cell* x, uint32_t count, const Cell& operand) {
    if (operand.type() != TYPE_PATH) return false;
    const SeriesBuffer* b = buffer_of(operand.w2);
    if ((b->byte_count() >> 4) != operand.w1 + count) return false;
    const Cell* y = b->head_cell() + operand.w1;
    // The first two (every such path has them) unrolled.
    if (!same_step(x, y) || !same_step(x + 1, y + 1)) return false;
    for (uint32_t i = 2; i < count; ++i) {
        if (!same_step(x + i, y + i)) return false;
    }
    return true;
}

// The object and field a set-path assigns by direct steps; false when the
// path has no direct set form. With `c`, whose cell at c->pos starts the
// value to assign: when it is the get form of that same path (`p/y: p/y -
// 1`), the field's value is read in place as peek_path reads it
// (t->current). Nothing here allocates or runs code.
template <bool Read>
[[gnu::always_inline]] inline bool set_target(const Cell& path, FieldTarget* t, const Code* c) {
    if (refused_set_paths.refused(path.w2, path.w1)) [[unlikely]]
        return false;
    const Cell* cells;
    uint32_t count;
    const Cell* head = path_head(path, &cells, &count);
    const Cell* slot = nullptr;
    const Cell* el = nullptr;
    context::Field f{nullptr, nullptr, -1};
    if (head && head->type() == TYPE_OBJECT) {
        uint32_t at = 0;
        slot = object_steps(head, cells, count - 1, false, &at);
        if (slot && slot->type() != TYPE_OBJECT) slot = nullptr;
        if (slot) {
            el = &cells[count - 1];
            if (el->type() == TYPE_WORD) f = memo_field<true>(slot->w1, el);
        }
    }
    if (!el || !object::path_settable(el->w2, f.index)) {
        refused_set_paths.note(path.w2, path.w1);
        return false;
    }
    t->obj = *slot;
    t->index = uint32_t(f.index);
    t->value = f.value;
    t->word = f.word;
    t->current = nullptr;
    if (Read && c->pos < cell_count(c->node) && same_path(cells, count, *cell_at(c->node, c->pos))) {
        uint32_t vt = f.value->type();
        if (vt != TYPE_UNSET && !is_callable(vt) && vt != TYPE_OP) t->current = f.value;
    }
    return true;
}
}  // namespace kiv::interpreter::detail
