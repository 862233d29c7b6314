#include "datatypes/object.h"

#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/mold.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::object {

HookRunner hook_runner = nullptr;
BlockEvaluator block_evaluator = nullptr;
OwnershipBind ownership_bind_set = nullptr;
OwnershipUnbind ownership_unbind = nullptr;

namespace {

// The class-id counter: the first id given is 2 (1 belongs to errors).
int32_t class_counter = 1;

constexpr uint32_t NO_INDEX = 0xFFFFu;

inline Off values_node(Off ctx) {
    return context::cell(ctx)->w2;
}
inline uint32_t value_count(Off ctx) {
    Off v = values_node(ctx);
    return v ? series::count(v) : 0;
}
inline Cell* value_at(Off ctx, uint32_t n) {
    return context::values_at(ctx, n);
}
inline uint32_t canonical(uint32_t symbol) {
    return symbol::resolve(symbol);
}
inline uint32_t fixed_word_symbol(fixed::Word w) {
    return fixed::words[w].w2;
}
inline uint32_t on_change_symbol() {
    return fixed_word_symbol(fixed::W_ON_CHANGE_STAR);
}
inline uint32_t on_deep_change_symbol() {
    return fixed_word_symbol(fixed::W_ON_DEEP_CHANGE_STAR);
}
inline bool is_hook_symbol(uint32_t symbol) {
    uint32_t c = canonical(symbol);
    return c == canonical(on_change_symbol()) || c == canonical(on_deep_change_symbol());
}
inline bool is_self_symbol(uint32_t symbol) {
    uint32_t self = fixed::sym[fixed::SYM_SELF];
    if (self == 0 || symbol == self) return self != 0;
    uint32_t count;
    const Cell* symbols = hashtable::symbol_cells(&count);
    return hashtable::canonical_in(symbols, count, symbol) == hashtable::canonical_in(symbols, count, self);
}

// Stores the object in its context's self cell.
inline void store_self(const Cell* obj) {
    *context::self_cell(obj->w1) = *obj;
}

// Word n of the context as a plain word! value (mark and new-line cleared).
inline Cell plain_word(Off ctx, uint32_t n) {
    Cell w = *context::word_at(ctx, n);
    w.header = TYPE_WORD;
    return w;
}

// The index of the symbol's word in the context, -1 when absent.
inline int32_t index_of_symbol(Off ctx, uint32_t symbol) {
    return context::find_word(ctx, symbol, true);
}

// Decodes one on-set record.
struct HookRecord {
    int32_t index;
    int32_t locals;
    Off spec;
};
inline HookRecord read_record(Off on_set, uint32_t n) {
    const Cell* c = buffer_of(on_set)->head_cell() + n;
    return HookRecord{int32_t(c->w2) >> 16, int32_t(c->w2 & 0xFFFFu), c->w3};
}
inline void write_record(Off on_set, uint32_t n, int32_t index, int32_t locals, Off spec) {
    Cell* c = buffer_of(on_set)->head_cell() + n;
    *c = Cell{TYPE_PAIR, 0, (uint32_t(index) << 16) | (uint32_t(locals) & 0xFFFFu), spec};
}

int32_t count_locals_of(const Cell* fn) {
    if (!fn->w2) return 0;
    int32_t n = function::count_locals(fn->w2, 0, false);
    return n < 0 ? 0 : n;
}

// A copy of a series value through its copy action (deep when asked). A type
// whose copy is not implemented keeps sharing its series.
Cell copy_series_value(const Cell& v, bool deep) {
    if (!datatype::lookup(v.type(), ACT_COPY)) return v;
    Cell* saved = stack::top;
    Cell* src = stack::push(v);
    Cell* res = stack::push(none::cell());
    Cell r = *actions::cell_of(actions::copy(src, res, nullptr, deep, nullptr));
    stack::top = saved;
    r.header = (r.header & ~header::TYPE_MASK) | v.type() | (v.header & header::NEW_LINE);
    return r;
}

// Copies a series value for an object context: block-like copies are bound
// to the context.
Cell copy_for_context(const Cell& v, Off ctx, bool deep) {
    Cell r = copy_series_value(v, deep);
    if (is_any_block(r.type()) && r.w2) context::bind(&r, ctx, true);
    return r;
}

[[noreturn]] void fire_invalid_path(const Cell* path, const Cell* element) {
    Cell p = path ? *path : none::cell();
    fire({"script", "invalid-path"}, p, *element);
}

// Sets field n of the object with notify off, then reports the change.
Unwind set_field_notified(const Cell* obj, uint32_t n, const Cell* value) {
    if (obj->w3 == 0) {
        set_field_quiet(obj->w1, n, value);
        return UNWIND_NONE;
    }
    Off ctx = obj->w1;
    Cell v = *value;
    Cell w = *context::word_at(ctx, n);
    Cell* saved = stack::top;
    Cell* old = stack::push(*value_at(ctx, n));
    *value_at(ctx, n) = v;
    context::word_at(ctx, n)->header |= header::WORD_SET;
    w.header = TYPE_WORD;
    if (Unwind code = on_set_notify(obj, &w, old, &v)) return code;
    stack::top = saved;
    return UNWIND_NONE;
}

// The change report the context layer calls after setting a word.
Unwind context_notify(Cell* self, const Cell* word, Cell* old_value, const Cell* new_value) {
    return on_set_notify(self, word, old_value, new_value);
}

// Appends text (ASCII) and returns its length.
inline int32_t put_text(Cell* out, const char* text) {
    string::concatenate_literal(out, text);
    return int32_t(std::strlen(text));
}

}  // namespace

// ---- Class ids --------------------------------------------------------------------------

int32_t next_class_id() {
    return ++class_counter;
}

// ---- Construction -------------------------------------------------------------------------

Cell* push(Off ctx, int32_t class_id, Off on_set) {
    Cell obj = cell(ctx, class_id, on_set);
    Cell* c = stack::push(obj);
    store_self(&obj);
    return c;
}

Cell* make_at(Cell* target, uint32_t slots) {
    Off ctx = context::create(slots, false, true, 0, context::KIND_OBJECT);
    Cell obj = cell(ctx, 0, 0);
    store_self(&obj);
    *target = obj;
    return target;
}

Cell* push_context(Off ctx, int32_t class_id) {
    uint32_t words = context::word_count(ctx);
    Off values = values_node(ctx);
    if (values && series::count(values) == 0)
        for (uint32_t i = 0; i < words; ++i) series::alloc_tail_cell(buffer_of(values));
    return push(ctx, class_id, 0);
}

Off make_on_set_data(Off change_spec, Off deep_spec, int32_t change_index, int32_t deep_index,
                     int32_t change_locals, int32_t deep_locals) {
    Off node = memory::alloc_cells(2);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + 2 * sizeof(Cell);
    write_record(node, 0, change_index, change_locals, change_spec);
    write_record(node, 1, deep_index, deep_locals, deep_spec);
    return node;
}

void attach_hooks(const HookData& data) {
    Cell* obj = stack::top_cell();
    Off ctx = obj->w1;
    Off change_spec = 0, deep_spec = 0;
    if (data.change_index >= 0) change_spec = value_at(ctx, uint32_t(data.change_index))->w2;
    if (data.deep_index >= 0) deep_spec = value_at(ctx, uint32_t(data.deep_index))->w2;
    Off node = make_on_set_data(change_spec, deep_spec, data.change_index, data.deep_index,
                                data.change_locals, data.deep_locals);
    obj = stack::top_cell();
    obj->w3 = node;
    store_self(obj);
    if (data.deep_index >= 0 && ownership_bind_set) ownership_bind_set(obj, nullptr);
}

void init_hooks(Cell* obj) {
    Off ctx = obj->w1;
    int32_t index[2] = {-1, -1};
    uint32_t wanted[2] = {canonical(on_change_symbol()), canonical(on_deep_change_symbol())};
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t c = canonical(context::word_at(ctx, i)->w2);
        for (int k = 0; k < 2; ++k)
            if (index[k] < 0 && c == wanted[k]) index[k] = int32_t(i);
    }
    if (index[0] < 0 && index[1] < 0) {
        obj->w3 = 0;
        store_self(obj);
        return;
    }
    Off specs[2] = {0, 0};
    int32_t locals[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        if (index[k] < 0) continue;
        Cell v = *value_at(ctx, uint32_t(index[k]));
        if (v.type() != TYPE_FUNCTION && v.type() != TYPE_ROUTINE) {
            Cell w = plain_word(ctx, uint32_t(index[k]));
            fire({"script", "bad-field-set"}, w, datatype::cell(v.type()));
        }
        specs[k] = v.w2;
        locals[k] = count_locals_of(&v);
    }
    // Keep the object reachable while its hook data is allocated.
    Cell* saved = stack::top;
    Cell* held = stack::push(*obj);
    Off node = make_on_set_data(specs[0], specs[1], index[0], index[1], locals[0], locals[1]);
    held->w3 = node;
    store_self(held);
    *obj = *held;
    Cell o = *held;
    stack::top = saved;
    if (index[1] >= 0 && ownership_bind_set) ownership_bind_set(&o, nullptr);
}

// ---- Words and values ---------------------------------------------------------------------

int32_t find_word(const Cell* obj, const Cell* w) {
    return index_of_symbol(obj->w1, w->w2);
}

Cell* select_word(const Cell* obj, const Cell* w) {
    int32_t i = find_word(obj, w);
    return i < 0 ? &none_value : value_at(obj->w1, uint32_t(i));
}

Cell* word_at(const Cell* obj, uint32_t n) {
    return context::word_at(obj->w1, n);
}
Cell* first_word(const Cell* obj) {
    return context::word_at(obj->w1, 0);
}
uint32_t word_count(const Cell* obj) {
    return context::word_count(obj->w1);
}
Cell* get_values(const Cell* obj) {
    return value_at(obj->w1, 0);
}

bool same_object_q(const Cell* w, Off ctx) {
    if (!word::bindable_type(w->type()) || !w->w1) return false;
    Off wctx = w->w1;
    if (context::on_stack(wctx) && context::cell(wctx)->w2 == 0) return false;
    if (word::index_of(w) < 0) return false;
    const Cell* v = context::get_word(w);
    return is_object_like(v->type()) && v->w1 == ctx;
}

bool is_owner_q(Off ctx, uint32_t n, Off owner) {
    if (n >= value_count(ctx)) return false;
    const Cell* v = value_at(ctx, n);
    return is_object_like(v->type()) && v->w1 == owner;
}

// ---- Hooks ---------------------------------------------------------------------------------

Unwind call_hook(const Cell* function, Off object_ctx, const Cell* frame_word, const Cell* args, uint32_t count,
                 int32_t locals) {
    Cell fn = *function;
    Cell name = *frame_word;
    Cell* saved = stack::top;
    stack::mark_func(&name, fn.w1);
    for (uint32_t i = 0; i < count; ++i) stack::push(args[i]);
    if (locals > 0) function::push_absent_refinement(locals);
    if (!hook_runner) fire({"internal", "not-done"});
    if (Unwind code = hook_runner(&fn, object_ctx)) return code;
    stack::unwind_func();
    stack::top = saved;
    return UNWIND_NONE;
}

Unwind on_set_notify(const Cell* obj, const Cell* w, const Cell* old_value, const Cell* new_value) {
    Cell o = *obj;
    if (o.w3 == 0) return UNWIND_NONE;
    HookRecord r = read_record(o.w3, 0);
    if (r.index < 0) return UNWIND_NONE;
    Off ctx = o.w1;
    Cell fn = *value_at(ctx, uint32_t(r.index));
    if (fn.type() != TYPE_FUNCTION) fire({"script", "invalid-obj-evt"}, fn);
    int32_t locals = r.locals;
    if (fn.w2 != r.spec) {
        // The hook function was replaced: recount its locals.
        locals = count_locals_of(&fn);
        write_record(o.w3, 0, r.index, locals, fn.w2);
    }
    Cell args[3] = {*w, *old_value, *new_value};
    args[0].header &= header::TYPE_MASK;
    // The hook always receives a word of the object.
    if (args[0].w1 != ctx) context::bind_word(ctx, &args[0]);
    return call_hook(&fn, ctx, &fixed::words[fixed::W_ON_CHANGE_STAR], args, 3, locals);
}

Unwind on_set_word(const Cell* obj, const Cell* w) {
    // Before the store: the word's value is the old one, the new one waits
    // just below the stack top.
    Cell old = *select_word(obj, w);
    Cell* top = stack::top_cell();
    Cell nv = top > stack::bottom ? top[-1] : *top;
    return on_set_notify(obj, w, &old, &nv);
}

Unwind on_set_from_stack(const Cell* obj, const Cell* w) {
    Cell* top = stack::top_cell();
    Cell* old = top > stack::bottom ? top - 1 : top;
    return on_set_notify(obj, w, old, top);
}

Unwind set_on_stack_top(Off ctx, const Cell* w) {
    Cell self = *context::self_cell(ctx);
    return on_set_from_stack(&self, w);
}

Unwind on_deep_change(const Cell* owner, const Cell* w, const Cell* target, const Cell* action,
                      const Cell* new_value, int32_t index, int32_t part) {
    Cell o = *owner;
    if (o.w3 == 0) fire({"script", "invalid-obj-evt"}, o);
    HookRecord r = read_record(o.w3, 1);
    if (r.index < 0) return UNWIND_NONE;
    Off ctx = o.w1;
    Cell fn = *value_at(ctx, uint32_t(r.index));
    if (fn.type() != TYPE_FUNCTION) return UNWIND_NONE;
    int32_t locals = r.locals;
    if (fn.w2 != r.spec) {
        locals = count_locals_of(&fn);
        write_record(o.w3, 1, r.index, locals, fn.w2);
    }
    Cell args[7] = {o,
                    *w,
                    *target,
                    *action,
                    new_value ? *new_value : none::cell(),
                    Cell{TYPE_INTEGER, 0, uint32_t(index), 0},
                    Cell{TYPE_INTEGER, 0, uint32_t(part), 0}};
    return call_hook(&fn, ctx, &fixed::words[fixed::W_ON_DEEP_CHANGE_STAR], args, 7, locals);
}

Unwind evaluate(const Cell* block) {
    if (!block_evaluator) fire({"internal", "not-done"});
    Cell b = *block;
    return block_evaluator(&b);
}

// ---- Constructors and copies ----------------------------------------------------------------

void clear_new_lines(Off node) {
    if (!node) return;
    SeriesBuffer* b = buffer_of(node);
    for (Cell *c = b->head_cell(), *end = b->tail_cell(); c < end; ++c) c->clear_new_line();
}

namespace {

void clear_marks(Off ctx) {
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; ++i) context::word_at(ctx, i)->header &= ~header::WORD_SET;
}

// A copy of the object value `src` (any object-like type) into target.
Cell* copy_object(const Cell& src, Cell* target, bool rebuild_functions, bool deep);

// Replaces value i of the context by its deep copy (series and objects).
void deep_copy_value(Off ctx, uint32_t i) {
    Cell v = *value_at(ctx, i);
    uint32_t t = v.type();
    if (is_series(t) && v.w2) {
        Cell r = copy_series_value(v, true);
        *value_at(ctx, i) = r;
    } else if (is_object_like(t)) {
        if (cycles::find(v.w1)) {
            cycles::reset();
            fire({"internal", "no-cycle"});
        }
        Cell* saved = stack::top;
        Cell* slot = stack::push(none::cell());
        copy_object(v, slot, true, true);
        Cell r = *slot;
        r.header = v.header;
        stack::top = saved;
        *value_at(ctx, i) = r;
    }
}

Cell* copy_object(const Cell& src, Cell* target, bool rebuild_functions, bool deep) {
    Cell p = src;
    Off old = p.w1;
    cycles::Guard guard;
    guard.push(old);
    Off ctx;
    {
        memory::CollectionPause pause;
        Cell tmp = p;
        ctx = context::clone(&tmp, context::KIND_OBJECT);
        uint32_t words = context::word_count(ctx);
        uint32_t have = value_count(old);
        Off values = values_node(ctx);
        for (uint32_t i = 0; i < words; ++i) {
            Cell v = i < have ? *value_at(old, i) : unset::cell();
            *series::alloc_tail_cell(buffer_of(values)) = v;
        }
        Cell obj = cell(ctx, class_of(&p), 0, p.type());
        obj.header = p.header;
        obj.w3 = 0;
        store_self(&obj);
        *target = obj;
    }
    // The copy is reachable from here on: keep it on the stack while its
    // values are copied (copies allocate).
    Cell* saved = stack::top;
    Cell* held = stack::push(*target);
    uint32_t words = context::word_count(ctx);
    for (uint32_t i = 0; i < words; ++i) {
        if (deep) deep_copy_value(ctx, i);
        if (rebuild_functions) {
            Cell v = *value_at(ctx, i);
            if (v.type() == TYPE_FUNCTION) {
                copy_function(&v, ctx);
                *value_at(ctx, i) = v;
            }
        }
    }
    init_hooks(held);
    *target = *held;
    stack::top = saved;
    return target;
}

}  // namespace

Cell* copy_into(const Cell* proto, Cell* target, bool rebuild_functions, bool deep) {
    Cell p = *proto;
    return copy_object(p, target, rebuild_functions, deep);
}

void copy_function(Cell* fn, Off ctx) {
    Cell f = *fn;
    if (f.type() != TYPE_FUNCTION || !f.w1 || !f.w2 || !f.w3) fire({"script", "bad-func-def"}, f);
    Cell* saved = stack::top;
    Cell spec = function::spec_of(&f);
    Cell* spec_copy = stack::push(none::cell());
    block::copy_part(&spec, spec_copy, false, false);
    Cell body = function::body_of(&f);
    Cell* body_copy = stack::push(none::cell());
    bool has_body = body.type() == TYPE_BLOCK;
    if (has_body) {
        block::copy_part(&body, body_copy, true, true);
        context::bind(body_copy, ctx, true);
    }
    Cell code = *function::series_cell(&f, function::CELL_CODE);
    Cell extra = *function::series_cell(&f, function::CELL_EXTRA);
    uint32_t code_id = code.type() == TYPE_INTEGER ? code.w2 : 0;
    int32_t extra_value = extra.type() == TYPE_INTEGER ? int32_t(extra.w2) : 0;
    uint32_t flags = f.header & (header::FUNC_TRACE | header::FUNC_NO_TRACE);
    Cell s = *spec_copy, b = *body_copy;
    function::init_context(&s, has_body ? &b : nullptr, 0, code_id, extra_value, flags);
    Cell r = *stack::top_cell();
    stack::top = saved;
    *fn = r;
}

void transfer_values(Off source, Off target, bool copy_all) {
    uint32_t n = value_count(source);
    uint32_t limit = value_count(target);
    if (n > limit) n = limit;
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *value_at(source, i);
        if (is_series(v.type()) && v.w2) {  // every series value is copied
            Cell r = copy_for_context(v, target, false);
            *value_at(target, i) = r;
        } else if (copy_all) {
            *value_at(target, i) = v;
        }
    }
}

bool extend_from(Off ctx, Off source, const Cell* obj) {
    (void)obj;
    uint32_t n = context::word_count(source);
    uint32_t before = context::word_count(ctx);
    // All words first, so that copied function bodies bind to every field.
    for (uint32_t i = 0; i < n; ++i) {
        Cell w = *context::word_at(source, i);
        context::find_or_add_word(ctx, &w);
    }
    bool added = context::word_count(ctx) > before;
    uint32_t have = value_count(source);
    for (uint32_t i = 0; i < n && i < have; ++i) {
        uint32_t symbol = context::word_at(source, i)->w2;
        Cell v = *value_at(source, i);
        if (is_series(v.type()) && v.w2) {
            v = copy_for_context(v, ctx, false);
        } else if (v.type() == TYPE_FUNCTION) {
            copy_function(&v, ctx);
        }
        int32_t at = index_of_symbol(ctx, symbol);
        if (at >= 0) *value_at(ctx, uint32_t(at)) = v;
    }
    return added;
}

void copy_values(Off source, Off target) {
    uint32_t n = context::word_count(source);
    uint32_t have = value_count(source);
    for (uint32_t i = 0; i < n && i < have; ++i) {
        int32_t at = index_of_symbol(target, context::word_at(source, i)->w2);
        if (at < 0) continue;
        Cell v = *value_at(source, i);
        if (is_series(v.type()) && v.w2) v = copy_series_value(v, false);
        *value_at(target, uint32_t(at)) = v;
    }
}

void construct_words(Off ctx, const Cell* spec, bool only) {
    Cell s = *spec;
    uint32_t length = series::count(s.w2);
    uint32_t start = s.w1 < length ? s.w1 : length;
    // Each run of set-words receives the first value after it that is not a
    // set-word; set-words at the end receive none.
    uint32_t run = start;
    for (uint32_t i = start;; ++i) {
        const SeriesBuffer* b = buffer_of(s.w2);
        bool at_end = uint64_t(i) * sizeof(Cell) >= b->byte_count();
        Cell c = at_end ? none::cell() : b->head_cell()[i];
        if (!at_end && c.type() == TYPE_SET_WORD) {
            context::find_or_add_word(ctx, &c);
            continue;
        }
        Cell v = c;
        v.clear_new_line();
        if (!at_end && !only && v.type() == TYPE_WORD) {
            uint32_t sym = canonical(v.w2);
            if (sym == canonical(fixed::sym[fixed::SYM_TRUE]))
                v = logic::cell(true);
            else if (sym == canonical(fixed::sym[fixed::SYM_FALSE]))
                v = logic::cell(false);
            else if (sym == canonical(fixed::sym[fixed::SYM_NONE]))
                v = none::cell();
        }
        for (uint32_t k = run; k < i; ++k) {
            Cell w = buffer_of(s.w2)->head_cell()[k];
            if (w.type() != TYPE_SET_WORD) continue;
            int32_t at = index_of_symbol(ctx, w.w2);
            if (at >= 0) *value_at(ctx, uint32_t(at)) = v;
        }
        run = i + 1;
        if (at_end) break;
    }
}

Cell* construct(const Cell* spec, const Cell* proto, bool only) {
    Cell s = *spec;
    Cell* result = stack::push(unset::cell());
    int32_t class_id;
    uint32_t before = 0;
    if (proto && is_object_like(proto->type())) {
        Cell p = *proto;
        copy_into(&p, result, false, false);
        before = context::word_count(result->w1);
        class_id = class_of(&p);
    } else {
        make_at(result, 4);
        class_id = next_class_id();
    }
    construct_words(result->w1, &s, only);
    if (proto && is_object_like(proto->type()) && context::word_count(result->w1) > before)
        class_id = next_class_id();
    result->w2 = uint32_t(class_id);
    init_hooks(result);
    return result;
}

Unwind set_many(Cell* target, const Cell* value, bool any, bool only, bool some) {
    Cell t = *target;
    Cell v = *value;
    Off ctx = t.w1;
    uint32_t n = context::word_count(ctx);
    bool hooks = t.w3 != 0;
    auto skipped = [&](uint32_t i) { return hooks && is_hook_symbol(context::word_at(ctx, i)->w2); };
    auto assign = [&](uint32_t i, const Cell& nv) {
        if (skipped(i)) return UNWIND_NONE;
        if (some && nv.type() == TYPE_NONE) return UNWIND_NONE;
        return set_field_notified(&t, i, &nv);
    };
    bool spread = !only && (v.type() == TYPE_BLOCK || is_object_like(v.type()));
    if (!spread) {
        for (uint32_t i = 0; i < n; ++i)
            if (Unwind code = assign(i, v)) return code;
        return UNWIND_NONE;
    }
    if (v.type() == TYPE_BLOCK) {
        auto source_at = [&](uint32_t i) {
            uint32_t len = series::count(v.w2);
            uint64_t k = uint64_t(v.w1) + i;
            return k < len ? buffer_of(v.w2)->head_cell()[k] : none::cell();
        };
        if (!some && !any) {
            for (uint32_t i = 0; i < n; ++i)
                if (source_at(i).type() == TYPE_UNSET) fire({"script", "need-value"}, plain_word(ctx, i));
        }
        for (uint32_t i = 0; i < n; ++i) {
            Cell nv = source_at(i);
            nv.clear_new_line();
            if (Unwind code = assign(i, nv)) return code;
        }
        return UNWIND_NONE;
    }
    // An object: by name.
    Off src = v.w1;
    auto source_index = [&](uint32_t i) { return index_of_symbol(src, context::word_at(ctx, i)->w2); };
    if (!some && !any) {
        for (uint32_t i = 0; i < n; ++i) {
            int32_t k = source_index(i);
            if (k >= 0 && value_at(src, uint32_t(k))->type() == TYPE_UNSET)
                fire({"script", "need-value"}, plain_word(ctx, i));
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        int32_t k = source_index(i);
        if (k < 0) continue;
        Cell nv = *value_at(src, uint32_t(k));
        if (Unwind code = assign(i, nv)) return code;
    }
    return UNWIND_NONE;
}

// ---- Output ---------------------------------------------------------------------------------

int32_t mold_body(const Cell* obj, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
                  bool line, int32_t level, bool mold_flag) {
    Cell o = *obj;
    Off ctx = o.w1;
    uint32_t n = context::word_count(ctx);
    if (n == 0) return budget;
    char separator = '\n';
    if (flat) {
        line = false;
        separator = ' ';
    } else if (mold_flag) {
        if (only) {
            line = false;
        } else {
            string::append_char(string::buffer(out), '\n');
            budget -= 1;
        }
    }
    // The last field written (the hook fields are skipped unless /all).
    uint32_t last = n;
    for (uint32_t i = n; i > 0; --i) {
        if (all || !is_hook_symbol(context::word_at(ctx, i - 1)->w2)) {
            last = i - 1;
            break;
        }
    }
    cycles::Guard guard;
    guard.push(ctx);
    for (uint32_t i = 0; i < n && budget > 0; ++i) {
        Cell w = *context::word_at(ctx, i);
        if (!all && is_hook_symbol(w.w2)) continue;
        if (line) budget = mold::indent(out, level, budget);
        budget = word::form_name(w.w2, out, budget);
        budget -= put_text(out, ": ");
        Cell v = i < value_count(ctx) ? *value_at(ctx, i) : unset::cell();
        if (v.type() == 0) v = unset::cell();
        if (v.type() == TYPE_WORD) {
            string::append_char(string::buffer(out), '\'');
            budget -= 1;
        }
        Cell* saved = stack::top;
        Cell* vs = stack::push(v);
        budget = actions::mold(vs, out, false, all, flat, part, budget, level);
        stack::top = saved;
        if (line || i < last) {
            string::append_char(string::buffer(out), uint32_t(separator));
            budget -= 1;
        }
    }
    return budget;
}

// ---- Actions ----------------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t /*type*/) {
    Cell p = *proto;
    Cell s = *spec;
    bool has_proto = is_object_like(p.type());
    Cell* result = stack::push(unset::cell());
    if (has_proto)
        copy_into(&p, result, true, false);
    else
        make_at(result, 4);
    Off ctx = result->w1;
    bool added;
    if (is_object_like(s.type())) {
        added = extend_from(ctx, s.w1, result);
    } else if (s.type() == TYPE_BLOCK) {
        uint32_t before = context::word_count(ctx);
        context::collect_set_words(ctx, &s);
        added = context::word_count(ctx) > before;
        context::bind(&s, ctx, true);
        if (has_proto) transfer_values(p.w1, ctx, false);
        // The object stays on the stack (reachable) while its body runs.
        Cell* saved = stack::top;
        if (Unwind code = evaluate(&s)) return code;
        stack::top = saved;
        clear_marks(ctx);
        clear_new_lines(values_node(ctx));
    } else {
        fire({"syntax", "malconstruct"}, s);
    }
    result->w2 = uint32_t(added || !has_proto ? next_class_id() : class_of(&p));
    result->w3 = 0;
    init_hooks(result);
    return result;
}

void reflect(Cell* value, uint32_t field_symbol) {
    Cell o = *value;
    Off ctx = o.w1;
    uint32_t f = canonical(field_symbol);
    auto is = [&](uint32_t symbol) { return symbol && f == canonical(symbol); };
    Cell* base = stack::arg_base;
    Cell* saved = stack::top;
    uint32_t n = context::word_count(ctx);
    if (is(fixed_word_symbol(fixed::W_CHANGED))) {
        Cell* blk = block::push_only(int32_t(n));
        for (uint32_t i = 0; i < n; ++i) {
            if (!(context::word_at(ctx, i)->header & header::WORD_SET)) continue;
            Cell w = plain_word(ctx, i);
            block::cells_append(blk, &w);
        }
        *base = *blk;
    } else if (is(fixed::sym[fixed::SYM_CLASS])) {
        *base = Cell{TYPE_INTEGER, 0, o.w2, 0};
    } else if (is(fixed::sym[fixed::SYM_WORDS])) {
        Cell* blk = block::push_only(int32_t(n));
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = plain_word(ctx, i);
            block::cells_append(blk, &w);
        }
        *base = *blk;
    } else if (is(fixed::sym[fixed::SYM_VALUES])) {
        Cell* blk = block::push_only(int32_t(n));
        uint32_t have = value_count(ctx);
        for (uint32_t i = 0; i < have; ++i) {
            Cell v = *value_at(ctx, i);
            v.clear_new_line();
            block::cells_append(blk, &v);
        }
        *base = *blk;
    } else if (is(fixed::sym[fixed::SYM_BODY])) {
        Cell* blk = block::push_only(int32_t(n * 2));
        uint32_t have = value_count(ctx);
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = plain_word(ctx, i);
            w.header = TYPE_SET_WORD | header::NEW_LINE;
            block::cells_append(blk, &w);
            Cell v = i < have ? *value_at(ctx, i) : unset::cell();
            v.clear_new_line();
            if (v.type() == TYPE_WORD) v.set_type(TYPE_LIT_WORD);
            if (v.type() == TYPE_PATH) v.set_type(TYPE_LIT_PATH);
            block::cells_append(blk, &v);
        }
        *base = *blk;
    } else if (is(fixed::sym[fixed::SYM_OWNER])) {
        *base = logic::cell((context::cell(ctx)->header & header::OWNS_SERIES) != 0);
    } else if (is(fixed::sym[fixed::SYM_EVENTS_Q])) {
        *base = logic::cell(o.w3 != 0);
    } else {
        fire({"internal", "not-done"});
    }
    stack::top = saved;
}

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    if (cycles::find(value->w1)) {
        budget -= put_text(out, "...");
        return budget;
    }
    return mold_body(value, out, false, false, false, part, budget, false, 0, false);
}

int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent) {
    if (cycles::find(value->w1)) {
        budget -= put_text(out, "make object! [...]");
        return budget;
    }
    if (!only) budget -= put_text(out, "make object! [");
    budget = mold_body(value, out, only, all, flat, part, budget, true, indent + 1, true);
    if (!flat && indent > 0) budget = mold::indent(out, indent, budget);
    if (!only) budget -= put_text(out, "]");
    return budget;
}

uint32_t not_self_memo[NOT_SELF_MEMO];

// path_settable for a field found (a real symbol) that the memo lacks.
bool path_settable_found(uint32_t symbol) {
    if (is_self_symbol(symbol)) return false;
    if (fixed::sym[fixed::SYM_SELF]) not_self_memo[symbol % NOT_SELF_MEMO] = symbol;  // once self is known
    return true;
}

Unwind set_path_field_notified(const Cell* obj, uint32_t n, const Cell* value) {
    return set_field_notified(obj, n, value);
}

// A field the object lacks, or one whose value is unset: a get-path at its
// last element (optional access) gives unset; any other last element is
// invalid-path; an element inside the path is unset-path.
Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* /*grandparent*/,
                Cell* /*previous*/, int32_t /*position*/, bool /*case_sensitive*/, bool get_path,
                bool last_element, bool /*notify_owner*/) {
    Cell o = *parent;
    Off ctx = o.w1;
    uint32_t t = element->type();
    if (!(t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD))
        fire_invalid_path(path, element);
    int32_t index = path_field(ctx, element);
    if (index >= 0) {
        element->w1 = ctx;
        element->w3 = uint32_t(index);
    }
    auto missing = [&]() -> Cell* {
        if (get_path && last_element) return &unset_value;
        Cell p = path ? *path : none::cell();
        Cell e = *element;
        if (last_element) fire({"script", "invalid-path"}, p, e);
        fire({"script", "unset-path"}, p, e);
    };
    if (value) {
        if (!path_settable(element->w2, index)) fire_invalid_path(path, element);
        Cell v = *value;
        if (Unwind code = set_field_notified(&o, uint32_t(index), &v)) return code;
        return value;
    }
    if (index < 0) return missing();
    Cell* slot = value_at(ctx, uint32_t(index));
    if (slot->type() == TYPE_UNSET) return missing();
    return slot;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (!is_object_like(other->type())) return NOT_COMPARABLE;
    Off a = value->w1, b = other->w1;
    if (a == b) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find(a)) return cycles::find(b) ? 0 : -1;
    uint32_t na = context::word_count(a), nb = context::word_count(b);
    if (na != nb) return na < nb ? -1 : 1;
    if (na == 0) return 0;
    cycles::Guard guard;
    guard.push(a);
    guard.push(b);
    uint32_t va = value_count(a), vb = value_count(b);
    for (uint32_t i = 0; i < na; ++i) {
        uint32_t sa = canonical(context::word_at(a, i)->w2);
        uint32_t sb = canonical(context::word_at(b, i)->w2);
        if (sa != sb) return sa < sb ? -1 : 1;
        Cell* saved = stack::top;
        Cell* x = stack::push(i < va ? *value_at(a, i) : unset::cell());
        Cell* y = stack::push(i < vb ? *value_at(b, i) : unset::cell());
        int32_t r = actions::compare_value(x, y, op);
        uint32_t tx = x->type(), ty = y->type();
        stack::top = saved;
        if (r == NOT_COMPARABLE) r = tx == ty ? 1 : (tx < ty ? -1 : 1);
        if (r != 0) return r;
    }
    return 0;
}

Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* /*types*/) {
    if (part) fire({"script", "invalid-refine-arg"}, word::load("part"), *part);
    Cell o = *series;
    copy_into(&o, result, true, deep);
    return result;
}

Outcome select(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    uint32_t t = value->type();
    if (!(t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD))
        fire({"script", "invalid-type"}, datatype::cell(t));
    return select_word(series, value);
}

Outcome put(Cell* series, Cell* key, Cell* value, bool /*case_sensitive*/) {
    if (key->type() != TYPE_WORD) fire({"script", "invalid-key-type"}, datatype::cell(key->type()));
    Cell o = *series;
    int32_t index = index_of_symbol(o.w1, key->w2);
    if (index < 0 || is_self_symbol(key->w2)) fire_invalid_path(nullptr, key);
    Cell v = *value;
    if (Unwind code = set_field_notified(&o, uint32_t(index), &v)) return code;
    return value;
}

Outcome modify(Cell* target, Cell* field, Cell* value, bool /*case_sensitive*/) {
    Cell o = *target;
    if (!is_all_word(field->type())) return value;
    uint32_t f = canonical(field->w2);
    if (f == canonical(fixed_word_symbol(fixed::W_CHANGED))) {
        if (value->type() != TYPE_NONE) fire({"script", "invalid-arg"}, *value);
        clear_marks(o.w1);
    } else if (f == canonical(fixed::sym[fixed::SYM_OWNER])) {
        if (ownership_bind_set) ownership_bind_set(&o, nullptr);
    } else if (f == canonical(fixed::sym[fixed::SYM_OWNED])) {
        if (value->type() == TYPE_NONE) {
            if (ownership_unbind) ownership_unbind(&o);
        } else if (value->type() == TYPE_BLOCK && ownership_bind_set) {
            Cell v = *value;
            uint32_t len = series::count(v.w2);
            if (uint64_t(v.w1) + 1 < len) {
                Cell first = buffer_of(v.w2)->head_cell()[v.w1];
                Cell second = buffer_of(v.w2)->head_cell()[v.w1 + 1];
                ownership_bind_set(&first, &second);
            }
        }
    }
    return value;
}

// ---- Registration -----------------------------------------------------------------------

void init() {
    datatype::Registration r = datatype::blank(TYPE_OBJECT, 0, "object!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_REFLECT>(reflect);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_COPY>(copy);
    r.set<ACT_SELECT>(select);
    r.set<ACT_PUT>(put);
    r.set<ACT_MODIFY>(modify);
    datatype::register_type(r);
    context::on_set_notify = &context_notify;
}

}  // namespace kiv::object
