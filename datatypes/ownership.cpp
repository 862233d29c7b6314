#include "datatypes/ownership.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "runtime/cycles.h"
#include "runtime/externals.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::ownership {

namespace {

const Cell none_cell{TYPE_NONE, 0, 0, 0};

inline bool is_flat_series(uint32_t t) {
    return is_any_string(t) || t == TYPE_BINARY || t == TYPE_VECTOR;
}

// Records [value, owner, word] under the node (the value is stored as given).
void record_entry(Off node, const Cell& value, const Cell& owner, const Cell& field) {
    Cell v = value, o = owner, w = field;
    Cell* e = hashtable::put_int(table, node);
    e[0] = v;
    e[1] = o;
    e[2] = w;
}

// The object's own word n as a plain word! value.
Cell own_word(Off ctx, uint32_t n) {
    Cell w = *context::word_at(ctx, n);
    w.header = TYPE_WORD;
    return w;
}

void own(Cell* v, const Cell& o, const Cell& w);

// Walks the cells of a block-like series from `position` (cycle-guarded).
template <class F>
void walk_block(Off node, uint32_t position, F&& each) {
    if (cycles::find(node)) return;
    cycles::push(node);
    for (uint32_t i = position;; ++i) {
        SeriesBuffer* b = buffer_of(node);
        if (uint64_t(i) * sizeof(Cell) >= b->byte_count()) break;
        each(b->head_cell() + i);
    }
    cycles::pop();
}

// Walks an object's values with their words (cycle-guarded on the values).
template <class F>
void walk_object(const Cell* obj, F&& each) {
    Off ctx = obj->w1;
    if (!ctx) return;
    Cell* cc = context::cell(ctx);
    if (cc->header & header::STACK_VALUES) return;
    Off values = cc->w2;
    if (!values || cycles::find(values)) return;
    cycles::push(values);
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n && i < series::count(values); ++i) each(i, context::values_at(ctx, i));
    cycles::pop();
}

void own(Cell* v, const Cell& o, const Cell& w) {
    uint32_t t = v->type();
    if (is_any_block(t) || is_flat_series(t) || t == TYPE_BITSET) {
        Off node = series_node(v);
        if (!node) return;
        SeriesBuffer* b = buffer_of(node);
        if (!(b->flags & series_flag::OWNED)) {
            b->flags |= series_flag::OWNED;
            record_entry(node, *v, o, w);
        }
        if (is_any_block(t)) walk_block(node, v->w1, [&](Cell* c) { own(c, o, w); });
    } else if (t == TYPE_IMAGE) {
        if (!series_node(v) || (v->header & header::OWNS_SERIES)) return;
        v->header |= header::OWNS_SERIES;
        record_entry(series_node(v), *v, o, w);
    } else if (t == TYPE_OBJECT) {
        if (!v->w1 || (context::cell(v->w1)->header & header::OWNS_SERIES)) return;
        Off ctx = v->w1;
        walk_object(v, [&](uint32_t i, Cell* value) {
            if (object::is_object_like(value->type()) && value->w1 == o.w1) return;
            Cell word = own_word(ctx, i);
            own(value, o, word);
        });
    }
}

void disown(Cell* v) {
    uint32_t t = v->type();
    if (is_any_block(t) || is_flat_series(t) || t == TYPE_BITSET) {
        Off node = series_node(v);
        if (!node) return;
        buffer_of(node)->flags &= ~series_flag::OWNED;
        hashtable::remove_int(table, node);
        if (is_any_block(t)) walk_block(node, v->w1, [](Cell* c) { disown(c); });
    } else if (t == TYPE_IMAGE) {
        if (!series_node(v)) return;
        v->header &= ~header::OWNS_SERIES;
        hashtable::remove_int(table, series_node(v));
    } else if (t == TYPE_OBJECT) {
        if (!v->w1 || (context::cell(v->w1)->header & header::OWNS_SERIES)) return;
        walk_object(v, [](uint32_t, Cell* value) { disown(value); });
    }
}

// The object layer's entries: an object becomes the owner of the series in
// its own fields, or gives that ownership up.
void object_bind(const Cell* obj, const Cell* field) {
    if (!obj || !object::is_object_like(obj->type())) return;
    Cell o = *obj;
    bind_set(&o, &o, field);
}

void object_unbind(const Cell* obj) {
    if (!obj || !object::is_object_like(obj->type()) || !obj->w1) return;
    Cell o = *obj;
    context::cell(o.w1)->header &= ~header::OWNS_SERIES;
    unbind(&o);
}

}  // namespace

void init() {
    init_table();
    object::ownership_bind_set = object_bind;
    object::ownership_unbind = object_unbind;
}

void set_owner(Cell* value, const Cell* owner, const Cell* field) {
    if (!table) return;
    Cell o = *owner;
    Cell w = field ? *field : none_cell;
    own(value, o, w);
}

void bind_set(Cell* value, const Cell* owner, const Cell* field) {
    if (!table) return;
    Cell o = *owner;
    set_owner(value, &o, field);
    if (object::is_object_like(o.type()) && o.w1) context::cell(o.w1)->header |= header::OWNS_SERIES;
}

void unbind(Cell* value) {
    if (table) disown(value);
}

void unbind_cells(const Cell* blk, uint32_t index, uint32_t count) {
    if (!table || !series_node(blk)) return;
    Off node = series_node(blk);
    for (uint32_t i = index; i < index + count; ++i) {
        SeriesBuffer* b = buffer_of(node);
        if (uint64_t(i) * sizeof(Cell) >= b->byte_count()) break;
        disown(b->head_cell() + i);
    }
}

Unwind check(const Cell* series, const Cell* action, const Cell* new_value, int32_t index, int32_t part,
             bool* owned) {
    *owned = false;
    if (!table) return UNWIND_NONE;
    Off key = series->type() == TYPE_OBJECT ? series->w1 : series_node(series);
    if (!key) return UNWIND_NONE;
    Cell* e = hashtable::get_int(table, key);
    if (!e || e[1].w3 == 0) return UNWIND_NONE;
    // The handler allocates: its arguments wait on the data stack.
    stack::TopMark mark;
    Cell* args = stack::push(e[1]);
    stack::push(e[2]);
    stack::push(*series);
    stack::push(*action);
    stack::push(new_value ? *new_value : none_cell);
    if (Unwind code = object::on_deep_change(args, args + 1, args + 2, args + 3, args + 4, index, part))
        return mark.pass(code);
    *owned = true;
    return UNWIND_NONE;
}

const char* owner_event_name(OwnerEvent event) {
    static constexpr const char* NAMES[] = {
#define KIV_OWNER_EVENT_NAME(id, name) name,
        KIV_OWNER_EVENTS(KIV_OWNER_EVENT_NAME)
#undef KIV_OWNER_EVENT_NAME
    };
    return NAMES[uint8_t(event)];
}

Unwind notify(const Cell* series, OwnerEvent event, const Cell* value, uint32_t index, uint32_t count,
              bool* owned) {
    *owned = false;
    if (!table) return UNWIND_NONE;
    uint32_t t = series->type();
    // Most series are not owned: the flags answer without a table look-up.
    if (t == TYPE_IMAGE) {
        if (!(series->header & header::OWNS_SERIES)) return UNWIND_NONE;
    } else if (t == TYPE_OBJECT) {
        if (!series->w1) return UNWIND_NONE;
    } else {
        if (!series_node(series) || !(buffer_of(series_node(series))->flags & series_flag::OWNED))
            return UNWIND_NONE;
    }
    Off key = t == TYPE_OBJECT ? series->w1 : series_node(series);
    Cell* e = hashtable::get_int(table, key);
    if (!e || e[1].w3 == 0) return UNWIND_NONE;
    // Interning the event word allocates: keep the caller's cells on the stack.
    stack::TopMark mark;
    Cell* s = stack::push(*series);
    Cell* v = value ? stack::push(*value) : nullptr;
    Cell* action = stack::push(series::arg_word(owner_event_name(event)));
    if (Unwind code = check(s, action, v, int32_t(index), int32_t(count), owned)) return mark.pass(code);
    return UNWIND_NONE;
}

}  // namespace kiv::ownership
