#include "datatypes/context.h"

#include "datatypes/fixed_words.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/root.h"

namespace kiv::context {

GlobalValues global_values{};

Cell* noted_global_value(uint32_t n) {
    if (!root::global_context) return nullptr;  // words read before it is made are unbound
    const SeriesBuffer* b = buffer_of(cell(root::global_context)->w2);
    uint32_t count = b->byte_count() >> 4;
    global_values = {memory::layout_stamp, arena::off(b->head_cell()), count};
    return n < count ? b->head_cell() + n : nullptr;
}

SetNotify on_set_notify = nullptr;

namespace {

constexpr uint32_t NO_INDEX = 0xFFFFFFFFu;

inline Cell* cells_of(Off node) {
    return buffer_of(node)->head_cell();
}

// The value index a word found at position `pos` of the words series uses.
// A case variant added to the global context by an exact lookup shares its
// twin's slot, so its index differs from its position.
inline uint32_t value_index(Off ctx, uint32_t pos) {
    return word_at(ctx, pos)->w3;
}

inline bool is_self(uint32_t symbol) {
    uint32_t self = fixed::sym[fixed::SYM_SELF];
    return self != 0 && symbol::resolve(symbol) == symbol::resolve(self);
}

// Appends one unset value slot to a heap context.
inline void append_unset(Off ctx) {
    series::alloc_tail_cell(buffer_of(cell(ctx)->w2));
}

// Number of value slots the index may address: the values series' length
// for a heap context, the number of words for a stack context (its argument
// cells are laid out one per word).
inline uint32_t slot_limit(Off ctx) {
    const Cell* c = cell(ctx);
    if (c->header & header::STACK_VALUES) return word_count(ctx);
    return series::count(c->w2);
}

// The slot of value n of a context whose values exist (word 2 not 0); n
// already checked.
inline Cell* slot_at(Off ctx, uint32_t n) {
    const Cell* c = cell(ctx);
    if (c->header & header::STACK_VALUES) return arena::ptr<Cell>(c->w2) + n;
    return cells_of(c->w2) + n;
}

[[noreturn]] void fire_word(IdIn<error_catalog::CAT_SCRIPT> id, const Cell& word) {
    Cell w = word;
    fire(id, w);
}

// Value n when it exists; an index outside the slots is a word from corrupt
// data or from a context it does not belong to: not-in-context.
inline Cell* checked_slot(Off ctx, uint32_t n, const Cell& word) {
    if (n >= slot_limit(ctx)) [[unlikely]]
        fire_word("not-in-context", word);
    return slot_at(ctx, n);
}

inline Cell word_n(Off ctx, uint32_t n) {
    if (n < word_count(ctx)) return *word_at(ctx, n);
    return word::unbound(0);
}

// Marks word n of an object context as set (the object layer reads it).
inline void mark_set(Off ctx, uint32_t n) {
    if (kind(ctx) == KIND_OBJECT && n < word_count(ctx)) word_at(ctx, n)->header |= header::WORD_SET;
}

// A quick no for binding: one bit per canonical symbol id modulo 256 of a
// context's words. A word whose bit is clear is not in the context, so the
// look-up is skipped (most words of a body are not among its context's).
// Binding adds no word and changes no symbol, so the filter holds for the
// whole walk. Contexts of more than FILTER_WORDS words take every word.
constexpr uint32_t FILTER_WORDS = 256;
struct BindFilter {
    uint64_t bits[4] = {~0ull, ~0ull, ~0ull, ~0ull};
    const Cell* symbols;  // nothing allocates while binding: the table stays put
    uint32_t count;
    explicit BindFilter(Off ctx) : symbols(hashtable::symbol_cells(&count)) {
        const SeriesBuffer* b = buffer_of(words_node(ctx));
        uint32_t n = b->byte_count() >> 4;
        if (n > FILTER_WORDS) return;
        bits[0] = bits[1] = bits[2] = bits[3] = 0;
        const Cell* words = b->head_cell();
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t canon = hashtable::canonical_in(symbols, count, words[i].w2);
            bits[(canon >> 6) & 3] |= 1ull << (canon & 63);
        }
    }
    bool may_hold(uint32_t symbol) const {
        uint32_t canon = hashtable::canonical_in(symbols, count, symbol);
        return (bits[(canon >> 6) & 3] >> (canon & 63)) & 1;
    }
};

void bind_cells(Off node, Off ctx, bool self, const BindFilter& filter) {
    if (cycles::find(node)) return;
    cycles::push(node);
    // Binding never allocates in the arena (look-ups only), but the buffer
    // is re-read each step anyway: nothing here needs a stable pointer.
    for (uint32_t i = 0;; ++i) {
        const SeriesBuffer* b = buffer_of(node);
        if (uint64_t(i) * sizeof(Cell) >= b->byte_count()) break;
        Cell* c = b->head_cell() + i;
        uint32_t t = c->type();
        switch (t) {
            case TYPE_WORD:
                if (self && is_self(c->w2)) {
                    c->w1 = ctx;
                    c->w3 = NO_INDEX;
                    break;
                }
                [[fallthrough]];
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT:
                if (filter.may_hold(c->w2)) bind_word(ctx, c);
                break;
            case TYPE_BLOCK:
            case TYPE_PAREN:
            case TYPE_PATH:
            case TYPE_LIT_PATH:
            case TYPE_SET_PATH:
            case TYPE_GET_PATH:
            case TYPE_HASH:
                if (c->w2) bind_cells(c->w2, ctx, self, filter);
                break;
            default:
                break;
        }
    }
    cycles::pop();
}

}  // namespace

// ---- Layout ------------------------------------------------------------------------------------

Off global() {
    if (!root::global_context) [[unlikely]]
        init_global();
    return root::global_context;
}

// ---- Start-up ----------------------------------------------------------------------------------

void init_global() {
    root::global_context = create(GLOBAL_ROOM, false, false, 0, KIND_GLOBAL);
    global_values = {};
}

void init() {
    datatype::register_type(datatype::blank(TYPE_CONTEXT, 0, "context!"));
}

// ---- Lookup and addition -----------------------------------------------------------------------

// Contexts of up to SCAN_WORDS words are searched by a scan of the words
// series instead of the index: fewer instructions than hashing and probing.
int32_t find_word(Off ctx, uint32_t symbol, bool case_insensitive) {
    const SeriesBuffer* b = buffer_of(words_node(ctx));
    uint32_t n = b->byte_count() >> 4;
    if (n <= SCAN_WORDS) return hashtable::scan_symbols(b->head_cell(), n, symbol, case_insensitive);
    return hashtable::find_symbol(table(ctx), symbol, case_insensitive, 0);
}

int32_t find_word_at(Off ctx, uint32_t symbol, bool case_insensitive, int32_t* out) {
    return hashtable::find_symbol(table(ctx), symbol, case_insensitive, ctx, out);
}

Cell add_global(uint32_t symbol, bool case_insensitive, bool keep_case) {
    Off g = global();
    int32_t added = -1;
    int32_t pos = find_word_at(g, symbol, case_insensitive, &added);
    if (pos >= 0) {
        Cell w = *word_at(g, uint32_t(pos));
        if (case_insensitive && keep_case && w.w2 != symbol) {
            // A case variant: its own word cell, same context and index.
            w.w2 = symbol;
            w.header &= ~header::WORD_SET;
            root::keep_copy(w);
        }
        return w;
    }
    if (symbol::get_alias(symbol) > 0) {
        // Share the slot of the first case variant present (the lookup
        // meets the earliest-added variant first, possibly the new word).
        int32_t twin = find_word(g, symbol, true);
        word_at(g, uint32_t(added))->w3 = value_index(g, uint32_t(twin));
    }
    append_unset(g);
    return *word_at(g, uint32_t(added));
}

Cell* add_word(Off ctx, const Cell* word, const Cell* value) {
    Cell w = *word, v = *value;
    int32_t added = -1;
    if (find_word_at(ctx, w.w2, true, &added) >= 0) return nullptr;
    if (on_stack(ctx)) return nullptr;
    Cell* slot = series::alloc_tail_cell(buffer_of(cell(ctx)->w2));
    *slot = v;
    return slot;
}

uint32_t find_or_add_word(Off ctx, const Cell* word) {
    uint32_t symbol = word->w2;
    int32_t added = -1;
    int32_t pos = find_word_at(ctx, symbol, true, &added);
    if (pos >= 0) return value_index(ctx, uint32_t(pos));
    if (!on_stack(ctx)) append_unset(ctx);
    return uint32_t(added);
}

void put_word(Off ctx, const Cell* word, const Cell* value) {
    Cell w = *word, v = *value;
    uint32_t n = find_or_add_word(ctx, &w);
    if (!cell(ctx)->w2) fire_word("not-defined", w);
    *checked_slot(ctx, n, w) = v;
}

bool collect_set_words(Off ctx, const Cell* spec) {
    Cell s = *spec;
    uint32_t before = on_stack(ctx) ? 0 : series::count(cell(ctx)->w2);
    uint32_t length = series::count(s.w2);
    for (uint32_t i = s.w1 < length ? s.w1 : length;; ++i) {
        const SeriesBuffer* b = buffer_of(s.w2);
        if (uint64_t(i) * sizeof(Cell) >= b->byte_count()) break;
        Cell c = b->head_cell()[i];
        if (c.type() == TYPE_SET_WORD) find_or_add_word(ctx, &c);
    }
    return !on_stack(ctx) && series::count(cell(ctx)->w2) > before;
}

Cell* get_word_value(uint32_t symbol, Off ctx) {
    if (!ctx || on_stack(ctx)) ctx = global();
    int32_t pos = find_word(ctx, symbol, true);
    if (pos < 0) fire_word("no-value", word::unbound(symbol));
    uint32_t n = value_index(ctx, uint32_t(pos));
    return checked_slot(ctx, n, *word_at(ctx, uint32_t(pos)));
}

void get_global_into(uint32_t symbol, Cell* target) {
    Cell w = add_global(symbol, false, false);
    Off g = global();
    *target = *checked_slot(g, w.w3, w);
}

Cell* global_value_at(uint32_t symbol) {
    return get_word_value(symbol, global());
}

// ---- Creation, copy, binding ------------------------------------------------------------------

Off create(uint32_t slots, bool values_on_stack, bool self, Off source, uint32_t kind) {
    if (slots == 0) slots = 1;
    memory::CollectionPause pause;
    Off node = memory::alloc_cells(2);
    SeriesBuffer* b = buffer_of(node);
    Cell* c = b->head_cell();
    c[0] = Cell{TYPE_UNSET, 0, 0, 0};
    c[1] = Cell{TYPE_UNSET, 0, 0, 0};
    b->tail = b->head + 2 * sizeof(Cell);
    Off words =
        source ? hashtable::copy_words(table(source)) : hashtable::init(slots, 0, hashtable::WORDS, 2);
    Off values = values_on_stack ? 0 : memory::alloc_unset_cells(slots);
    uint32_t h = TYPE_CONTEXT | ((kind << header::CONTEXT_KIND_SHIFT) & header::CONTEXT_KIND_MASK);
    if (values_on_stack) h |= header::STACK_VALUES;
    if (self) h |= header::HAS_SELF;
    *cell(node) = Cell{h, words, values, 0};
    return node;
}

Off make(const Cell* spec, bool values_on_stack, bool self, uint32_t kind) {
    // The new context is reachable from nothing until the caller stores it.
    memory::CollectionPause pause;
    Cell s = *spec;
    uint32_t length = series::count(s.w2);
    uint32_t slots = s.w1 < length ? length - s.w1 : 0;
    Off ctx = create(slots, values_on_stack, self, 0, kind);
    uint32_t count = 0;
    for (uint32_t i = 0;; ++i) {
        const SeriesBuffer* b = buffer_of(s.w2);
        if (uint64_t(i) * sizeof(Cell) >= b->byte_count()) break;
        const Cell c = b->head_cell()[i];
        switch (c.type()) {
            case TYPE_WORD:
            case TYPE_GET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_REFINEMENT: {
                int32_t added = -1;
                if (find_word_at(ctx, c.w2, true, &added) < 0) ++count;
                break;
            }
            default:
                break;
        }
    }
    if (!values_on_stack) {
        // One unset value per word (the series has room for one per source
        // cell from the index; words are counted from the head, so it may
        // have to grow).
        Off values = cell(ctx)->w2;
        series::reset_tail(values);
        for (uint32_t i = 0; i < count; ++i) series::alloc_tail_cell(buffer_of(values));
    }
    return ctx;
}

Off clone(Cell* value, uint32_t kind) {
    memory::CollectionPause pause;
    Off old = value->w1;
    uint32_t n = word_count(old);
    uint32_t h = cell(old)->header;
    Off ctx = create(n, (h & header::STACK_VALUES) != 0, (h & header::HAS_SELF) != 0, old, kind);
    SeriesBuffer* wb = buffer_of(words_node(ctx));
    for (Cell *w = wb->head_cell(), *end = wb->tail_cell(); w < end; ++w) w->w1 = ctx;
    value->w1 = ctx;
    return ctx;
}

int32_t bind_word(Off ctx, Cell* word) {
    int32_t pos = find_word(ctx, word->w2, true);
    if (pos < 0) return -1;
    uint32_t n = value_index(ctx, uint32_t(pos));
    word->w1 = ctx;
    word->w3 = n;
    return int32_t(n);
}

Cell* bind(Cell* block, Off ctx, bool self) {
    if (block->w2) bind_cells(block->w2, ctx, self, BindFilter(ctx));
    return block;
}

// ---- Reading and setting bound words ------------------------------------------------------------

Cell* get(const Cell* word, Off ctx) {
    int32_t index = word::index_of(word);
    if (index == -1) {
        if (word->w1 && is_self(word->w2)) return self_cell(word->w1);
        fire_word("no-value", *word);
    }
    if (!ctx) fire_word("not-defined", *word);
    // The hot path of every word read: one look at the context cell, one at
    // the values buffer.
    const Cell* c = cell(ctx);
    Off values = c->w2;
    if (!values) fire_word("not-in-context", *word);
    if (c->header & header::STACK_VALUES) return checked_slot(ctx, uint32_t(index), *word);
    const SeriesBuffer* b = buffer_of(values);
    if (uint32_t(index) >= (b->byte_count() >> 4)) [[unlikely]]
        fire_word("not-in-context", *word);
    return b->head_cell() + index;
}

Cell* get_word(const Cell* word) {
    return get(word, word->w1);
}

Outcome set_in(Cell* word, const Cell* value, Off ctx, bool notify) {
    Cell v = *value;
    if (!ctx) fire_word("not-defined", *word);
    if (word::index_of(word) == -1) {
        // The word may lie in a block: nothing may move it before the index
        // is stored.
        memory::CollectionPause pause;
        int32_t pos = find_word(ctx, word->w2, false);
        Cell w = *word;
        uint32_t n = pos >= 0 ? value_index(ctx, uint32_t(pos)) : find_or_add_word(ctx, &w);
        word->w3 = n;
    }
    uint32_t n = word->w3;
    const Cell* c = cell(ctx);
    uint32_t h = c->header;
    Off values = c->w2;
    if (!values) fire_word("not-defined", *word);
    Cell* slot;
    if (h & header::STACK_VALUES) {
        slot = checked_slot(ctx, n, *word);
        *slot = v;
        return slot;
    }
    const SeriesBuffer* b = buffer_of(values);
    if (n >= (b->byte_count() >> 4)) [[unlikely]]
        fire_word("not-in-context", *word);
    slot = b->head_cell() + n;
    if (((h & header::CONTEXT_KIND_MASK) >> header::CONTEXT_KIND_SHIFT) == KIND_OBJECT) {
        Cell w = *word;
        // mark_set, the kind known; the self cell follows the context cell.
        SeriesBuffer* wb = buffer_of(words_node(ctx));
        if (n < (wb->byte_count() >> 4)) wb->head_cell()[n].header |= header::WORD_SET;
        const Cell* self = c + 1;
        if (notify && on_set_notify && self->w3 != 0) {
            Cell* saved_top = stack::top;
            Cell* old = stack::push(*slot);
            *slot_at(ctx, n) = v;
            Cell self_value = *self;
            if (Unwind code = on_set_notify(&self_value, &w, old, &v)) return code;
            stack::top = saved_top;
            return checked_slot(ctx, n, w);
        }
    }
    *slot = v;
    return slot;
}

Outcome set_word(Cell* word, const Cell* value) {
    return set_in(word, value, word->w1, true);
}

int32_t set_integer(Cell* word, int32_t value) {
    Off ctx = word->w1;
    if (!ctx) fire_word("not-defined", *word);
    if (word::index_of(word) == -1) {
        int32_t pos = find_word(ctx, word->w2, false);
        if (pos < 0) fire_word("no-value", *word);
        word->w3 = value_index(ctx, uint32_t(pos));
    }
    Cell w = *word;
    if (!cell(ctx)->w2) fire_word("not-defined", w);
    *checked_slot(ctx, w.w3, w) = Cell{TYPE_INTEGER, 0, uint32_t(value), 0};
    return value;
}

// ---- Index-based helpers --------------------------------------------------------------------

void set_in_index(Off ctx, uint32_t n) {
    Cell v = *stack::top_cell();
    if (!cell(ctx)->w2) fire_word("not-defined", word_n(ctx, n));
    Cell* slot = checked_slot(ctx, n, word_n(ctx, n));
    mark_set(ctx, n);
    *slot = v;
}

void replace_in_index(Off ctx, uint32_t n) {
    Cell v = *stack::top_cell();
    if (!cell(ctx)->w2) fire_word("not-defined", word_n(ctx, n));
    Cell old = *checked_slot(ctx, n, word_n(ctx, n));
    stack::push(old);
    mark_set(ctx, n);
    *slot_at(ctx, n) = v;
}

Cell* set_from_base(Off ctx, uint32_t n) {
    Cell v = *stack::arg_base;
    if (!cell(ctx)->w2) fire_word("not-defined", word_n(ctx, n));
    Cell* slot = checked_slot(ctx, n, word_n(ctx, n));
    mark_set(ctx, n);
    *slot = v;
    return stack::arg_base;
}

Cell word_for_symbol(Off ctx, uint32_t symbol) {
    int32_t pos = find_word(ctx, symbol, false);
    if (pos >= 0) return *word_at(ctx, uint32_t(pos));
    return word::make_global(symbol);
}

}  // namespace kiv::context
