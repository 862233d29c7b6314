// Contexts and binding: a context maps symbols to value slots.
//
// A context is a node whose buffer holds exactly two cells:
//   cell 0  the context cell (context!, id 14)
//   cell 1  the self cell: the object value that owns the context (unset
//           until an object is stored there)
// Context cell:
//   header  14; bits 11-12 the kind (0 global, 1 function, 2 object);
//           bit 22 (header::STACK_VALUES) values on the data stack;
//           bit 24 (header::HAS_SELF) has self
//   word 1  node of the word index, a type-2 hash table of value size 2
//           whose value block is the words series: one word! per word of the
//           context, in order of addition, each bound to this context with
//           its own index (word 1 the context, word 2 the symbol, word 3 the
//           0-based position = the word's index)
//   word 2  heap context: node of the values series (value i at position i);
//           stack context (bit 22): arena offset of the first argument cell
//           of the running call on the data stack, 0 when no call is active
//   word 3  unused
//
// Invariants: a word's index never changes once given; words are never
// removed; outside the global context every word is added by a
// case-insensitive look-up, so such a context holds at most one word per
// canonical symbol (datatypes/symbol.h); every operation here that adds a word to a heap context also
// appends its value slot, except find_word_at and make, whose callers do it.
//
// Word cells (word!, set-word!, lit-word!, get-word!, refinement!):
// word 1 the context node (0 unbound), word 2 the symbol id, word 3 the index
// in that context (-1 while unresolved; resolved on first use by lookup).
//
// Every get and set of a bound word is an indexed access; hashing happens
// only when a word is bound, added or first resolved. An index outside the
// context's words (a word from corrupt data) raises script not-in-context
// with the word instead of touching memory outside the values.
//
// Pointers returned into a values series, a words series or a context
// buffer are valid only until the next allocation. Value slots of a stack
// context live on the data stack, which never moves.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/series.h"
#include "datatypes/actions.h"

namespace kiv::context {

enum Kind : uint32_t { KIND_GLOBAL = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2 };

// Words the global context is made for (it grows).
constexpr uint32_t GLOBAL_ROOM = 4000;

// ---- Layout ----------------------------------------------------------------------
inline Cell* cell(Off ctx) {
    return buffer_of(ctx)->head_cell();
}
inline Cell* self_cell(Off ctx) {
    return buffer_of(ctx)->head_cell() + 1;
}
inline uint32_t kind(Off ctx) {
    return (cell(ctx)->header & header::CONTEXT_KIND_MASK) >> header::CONTEXT_KIND_SHIFT;
}
inline bool on_stack(Off ctx) {
    return (cell(ctx)->header & header::STACK_VALUES) != 0;
}
inline bool has_self(Off ctx) {
    return (cell(ctx)->header & header::HAS_SELF) != 0;
}
// The word index (hash table) node.
inline Off table(Off ctx) {
    return cell(ctx)->w1;
}
// The words series node.
inline Off words_node(Off ctx) {
    return hashtable::record(table(ctx))->values;
}
// Number of words.
inline uint32_t word_count(Off ctx) {
    return series::count(words_node(ctx));
}
// Word n (0-based) of the words series; no range check.
inline Cell* word_at(Off ctx, uint32_t n) {
    return buffer_of(words_node(ctx))->head_cell() + n;
}
// Value n of a heap context's values series; no range check.
inline Cell* values_at(Off ctx, uint32_t n) {
    return buffer_of(cell(ctx)->w2)->head_cell() + n;
}
// The global context node.
Off global();

// Where the global context's values lay when a word of it was last read: a
// read of a global word goes from here to the slot, without the chain of
// loads from the context's node through its cell and its values node to
// the buffer. It holds while memory::layout_stamp is unchanged: the context
// keeps its values node, its values never shrink, and only a collection or
// a growth moves their buffer.
struct GlobalValues {
    uint64_t stamp;  // memory::layout_stamp when noted
    Off values;      // the first value
    uint32_t count;  // the values there were (0 before the first note)
};
extern GlobalValues global_values;
// Global value n, the place of the values noted; null when n is past them.
Cell* noted_global_value(uint32_t n);
// Global value n, from the place noted while it holds; null past the values.
[[gnu::always_inline]] inline Cell* global_value(uint32_t n) {
    const GlobalValues& g = global_values;
    if (n < g.count && g.stamp == memory::layout_stamp) [[likely]]
        return arena::ptr<Cell>(g.values) + n;
    return noted_global_value(n);
}

// ---- Start-up --------------------------------------------------------------------
// Makes the global context (after the symbol block) and stores it in
// root::global_context.
void init_global();
// Registers the context! datatype (no actions).
void init();

// ---- Lookup and addition ---------------------------------------------------------
// A case-insensitive lookup compares canonical symbol ids; an exact one ids.

// Index of the symbol's word, or -1; adds nothing.
int32_t find_word(Off ctx, uint32_t symbol, bool case_insensitive);
// The word's own index when it is bound to ctx and within its words, else
// find_word of its symbol (case-insensitive); adds nothing. Inline for the
// interpreter's object field steps: a small context other than the global
// one is scanned for the very symbol first (the only word that can match
// there, by the invariant above).
constexpr uint32_t SCAN_WORDS = hashtable::SMALL_WORDS;
inline int32_t find_bound_word(Off ctx, const Cell* word) {
    const SeriesBuffer* b = buffer_of(words_node(ctx));
    uint32_t n = b->byte_count() >> 4;
    int32_t index = int32_t(word->w3);
    if (word->w1 == ctx && index >= 0 && uint32_t(index) < n) return index;
    uint32_t symbol = word->w2;
    if (n <= SCAN_WORDS && ctx != root::global_context) {
        const Cell* words = b->head_cell();
        for (uint32_t i = 0; i < n; ++i)
            if (words[i].w2 == symbol) return int32_t(i);
    }
    return find_word(ctx, symbol, true);
}
// A heap context's field as find_bound_word finds it, with its cells: the
// context cell, the words buffer and the values buffer each read once (the
// path steps of the interpreter read and store fields through these). The
// value cell is null when the context lacks the word. Valid until the next
// allocation. With Lookup false, only the word's own index and the scan of
// a small context are tried (no call: a null value then means that these
// did not find it, and find_bound_field may).
struct Field {
    Cell* value;
    Cell* word;
    int32_t index;
};
template <bool Lookup = true>
[[gnu::always_inline]] inline Field find_bound_field(Off ctx, const Cell* word) {
    const Cell* cc = cell(ctx);
    const SeriesBuffer* b = buffer_of(hashtable::record(cc->w1)->values);
    uint32_t n = b->byte_count() >> 4;
    int32_t index = int32_t(word->w3);
    if (word->w1 != ctx || index < 0 || uint32_t(index) >= n) {
        index = -1;
        uint32_t symbol = word->w2;
        if (n <= SCAN_WORDS && ctx != root::global_context) {
            const Cell* words = b->head_cell();
            for (uint32_t i = 0; i < n; ++i)
                if (words[i].w2 == symbol) {
                    index = int32_t(i);
                    break;
                }
        }
        if (index < 0) {
            if (!Lookup) return {nullptr, nullptr, -1};
            index = find_word(ctx, symbol, true);
            if (index < 0) return {nullptr, nullptr, -1};
        }
    }
    return {buffer_of(cc->w2)->head_cell() + index, b->head_cell() + index, index};
}
// Index of the symbol's word; when absent, a bound word! is appended to the
// words series (no value slot), -1 is returned and the new index goes to *out.
int32_t find_word_at(Off ctx, uint32_t symbol, bool case_insensitive, int32_t* out);
// The word of the symbol in the global context (a copy), added when absent.
// With case_insensitive and keep_case, a case variant of an existing word
// gets a word cell of its own (kept in the root block) sharing the variant's
// index. An added symbol that has an alias shares its twin's slot.
Cell add_global(uint32_t symbol, bool case_insensitive, bool keep_case);
// When the context lacks the word's symbol (case-insensitive): appends the
// word and a copy of the value, returns the new value slot. Else nullptr.
Cell* add_word(Off ctx, const Cell* word, const Cell* value);
// Index of the word's symbol (case-insensitive); when absent the word is
// appended and, for a heap context, an unset value slot.
uint32_t find_or_add_word(Off ctx, const Cell* word);
// Sets the value of the word's symbol (case-insensitive), adding the word.
void put_word(Off ctx, const Cell* word, const Cell* value);
// Finds or adds every set-word! of the block from its index (clamped to the
// tail). True when the values series grew.
bool collect_set_words(Off ctx, const Cell* spec);
// The value slot of the symbol (case-insensitive); a stack context is
// replaced by the global context. An absent symbol raises script no-value.
Cell* get_word_value(uint32_t symbol, Off ctx);
// Copies the global value of the symbol (exact lookup, the word made global
// when absent) into target.
void get_global_into(uint32_t symbol, Cell* target);
// The global value slot of the symbol (case-insensitive); an absent symbol
// raises script no-value.
Cell* global_value_at(uint32_t symbol);

// ---- Creation, copy, binding ------------------------------------------------------
// A new context node is reachable from nothing: store it (in a word, an
// object, a function or a rooted cell) before the next allocation.
// A new context node with room for `slots` words (0 taken as 1). With a
// source context, its words are copied in order (the caller re-points them).
Off create(uint32_t slots, bool values_on_stack, bool self, Off source, uint32_t kind);
// A context holding the words of a function specification: every word!,
// get-word!, lit-word! and refinement! of the block (from its head; case-
// insensitive, so a repeated name is added once).
Off make(const Cell* spec, bool values_on_stack, bool self, uint32_t kind);
// Gives the value (word 1 = a context node) a copy of its context: same
// words in order, re-pointed at the new node, values not copied. Returns the
// new node.
Off clone(Cell* value, uint32_t kind);
// Case-insensitive lookup; when found, binds the word (context, index) and
// returns the index; else -1 and the word is left as it was.
int32_t bind_word(Off ctx, Cell* word);
// Binds every word of the block deeply (nested blocks, parens and paths);
// words the context lacks keep their binding. With self, a plain word! `self`
// becomes the self reference (context, index -1). Cyclic blocks terminate.
Cell* bind(Cell* block, Off ctx, bool self);

// ---- Reading and setting bound words ------------------------------------------------
// The value slot of the word in ctx (the word's own context for get_word).
// Index -1: the self cell for `self`, else script no-value. A context without
// values: script not-in-context. An index outside the words: not-in-context.
Cell* get(const Cell* word, Off ctx);
Cell* get_word(const Cell* word);
// Stores a copy of the value in the word's slot; an index of -1 is resolved
// first (the word added when absent) and kept in the word. A context without
// values raises script not-defined. Object contexts mark the word as set and,
// with notify, report the change to the owner (see on_set_notify). Returns
// the slot, or the unwind code of the change hook that ran.
Outcome set_in(Cell* word, const Cell* value, Off ctx, bool notify);
Outcome set_word(Cell* word, const Cell* value);
// The slot set_word would store into with nothing more to do: the word's
// resolved index in a global or function context's values (a heap series,
// or the running call's cells on the data stack, bounded by the call's cell
// count as the interpreter's reads are). Null for object contexts (marks,
// change reports), unbound or unresolved words and contexts without values:
// set_word handles those. Valid until the next allocation.
inline Cell* direct_slot(const Cell* word) {
    Off ctx = word->w1;
    uint32_t idx = word->w3;
    if (ctx == root::global_context) return global_value(idx);
    if (!ctx || idx == 0xFFFFFFFFu) return nullptr;
    const Cell* cc = cell(ctx);
    Off values = cc->w2;
    if (!values) return nullptr;
    if (cc->header & header::STACK_VALUES) return idx < cc->w3 ? arena::ptr<Cell>(values) + idx : nullptr;
    if (((cc->header & header::CONTEXT_KIND_MASK) >> header::CONTEXT_KIND_SHIFT) == KIND_OBJECT) return nullptr;
    const SeriesBuffer* b = buffer_of(values);
    return idx < (b->byte_count() >> 4) ? b->head_cell() + idx : nullptr;
}
// Stores an integer! in the word's slot (exact lookup for index -1, kept in
// the word); the symbol must be in the context. Returns the integer.
int32_t set_integer(Cell* word, int32_t value);

// The object layer installs the change report of object contexts: called
// with the self cell, the word, the old value (on the data stack) and the new
// value, after the new value is stored. Returns the unwind code of the
// change hook it ran.
using SetNotify = Unwind (*)(Cell* self, const Cell* word, Cell* old_value, const Cell* new_value);
extern SetNotify on_set_notify;

// ---- Index-based helpers of compiled and native code ----------------------------------
// Copies the topmost stack value into value n; object contexts mark word n.
void set_in_index(Off ctx, uint32_t n);
// As set_in_index, first pushing a copy of the old value n.
void replace_in_index(Off ctx, uint32_t n);
// Copies the result slot into value n (object contexts mark word n); returns
// the result slot.
Cell* set_from_base(Off ctx, uint32_t n);
// The context's own word for the symbol (exact) when it has one, else the
// global word made by word::make_global.
Cell word_for_symbol(Off ctx, uint32_t symbol);

}  // namespace kiv::context
