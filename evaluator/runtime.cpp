#include "evaluator/runtime.h"

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/literal_table.h"
#include "runtime/arena.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::runtime {

namespace {

void print_to_stdout(const char* text, uint32_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(1, text + done, length - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    (void)!::write(1, "\n", 1);
}

void report(const char* category, const char* id, const Cell* args, int n) {
    Cell* saved = stack::top;
    stack::mark_native(nullptr);
    Cell err = error::create_named(category, id, args, n);
    std::string text = error::form_text(err);
    stack::unwind_drop();
    stack::top = saved;
    print_error(text.data(), uint32_t(text.size()));
}

// The context's word n (an unbound word when n is past its words).
Cell word_of(Off ctx, uint32_t n) {
    if (n < context::word_count(ctx)) {
        Cell w = *context::word_at(ctx, n);
        w.header &= header::TYPE_MASK;
        return w;
    }
    return word::unbound(0);
}

[[noreturn]] void fire_expect_arg(uint32_t type, int32_t index) {
    Cell fn = word::caller();
    Cell arg = error::get_call_argument(index);
    fire({"script", "expect-arg"}, fn, datatype::cell(type), arg);
}

}  // namespace

ErrorPrinter print_error = &print_to_stdout;

void report_error(const char* category, const char* id) {
    report(category, id, nullptr, 0);
}
void report_error(const char* category, const char* id, const Cell& a1) {
    Cell a[1] = {a1};
    report(category, id, a, 1);
}
void report_error(const char* category, const char* id, const Cell& a1, const Cell& a2) {
    Cell a[2] = {a1, a2};
    report(category, id, a, 2);
}
void report_error(const char* category, const char* id, const Cell& a1, const Cell& a2, const Cell& a3) {
    Cell a[3] = {a1, a2, a3};
    report(category, id, a, 3);
}

void fire_bad_make_arg(const Cell& type, const Cell& spec) {
    fire({"script", "bad-make-arg"}, type, spec);
}

// ---- Argument checks -------------------------------------------------------------------

bool typeset_allows(const Cell* ts, uint32_t type) {
    return typeset::has(ts, type);
}

Cell* check_arg_type(const Cell* ts, int32_t index, Cell* value) {
    uint32_t t = value->type();
    if (typeset::has(ts, t)) return value;
    fire_expect_arg(t, index);
}

Cell* check_arg_type_at(const Cell* ts, int32_t index) {
    if (index < 0) return stack::arg_base;
    return check_arg_type(ts, index, stack::arg_base + index);
}

Cell* check_refinement_arg(const Cell* refinement, const Cell* ts, int32_t index, Cell* value) {
    if (refinement->type() == TYPE_LOGIC && logic::get(refinement)) return check_arg_type(ts, index, value);
    return value;
}

Cell* check_set(Cell* value, int32_t index) {
    if (value->type() == TYPE_UNSET) fire_expect_arg(TYPE_UNSET, index);
    return value;
}

void set_refinement(const Cell* value, uint32_t slot, uint32_t arg_count) {
    Cell v = *value;
    bool on = logic::check_true_q(&v, true, nullptr);
    Cell* s = stack::arg_base + slot;
    *s = logic::cell(on);
    if (!on)
        for (uint32_t i = 1; i <= arg_count; ++i) s[i] = none::cell();
}

// ---- Words and context slots -----------------------------------------------------------

Outcome set_word_checked(Cell* w) {
    Cell v = *stack::top_cell();
    if (v.type() == TYPE_UNSET) fire({"script", "need-value"}, *w);
    return context::set_word(w, &v);
}

Unwind set_word_reset(Cell* w) {
    if (Unwind code = set_word_checked(w).code) return code;
    stack::reset();
    return UNWIND_NONE;
}

Cell* set_ctx_slot(Off ctx, uint32_t index) {
    Cell v = *stack::top_cell();
    if (v.type() == TYPE_UNSET) fire({"script", "need-value"}, word_of(ctx, index));
    Cell w = word_of(ctx, index);
    Cell* slot = ctx_slot(&w, ctx, index);
    *slot = v;
    return slot;
}

void set_ctx_slot_checked(Off ctx, uint32_t index) {
    set_ctx_slot(ctx, index);
    stack::reset();
}

void set_ctx_value(Off ctx, uint32_t index) {
    context::set_in_index(ctx, index);
    stack::reset();
}

Cell* get_word_checked(const Cell* w) {
    Cell word = *w;
    Cell* slot = context::get_word(&word);
    if (slot->type() == TYPE_UNSET) fire({"script", "no-value"}, word);
    return slot;
}

Cell* ctx_slot(const Cell* w, Off ctx, uint32_t index) {
    const Cell* c = context::cell(ctx);
    if (c->w2 == 0) fire({"script", "not-defined"}, word_of(ctx, index));
    if (c->header & header::STACK_VALUES) {
        if (index >= context::word_count(ctx)) fire({"script", "not-in-context"}, *w);
        return arena::ptr<Cell>(c->w2) + index;
    }
    if (index >= series::count(c->w2)) fire({"script", "not-in-context"}, *w);
    return context::values_at(ctx, index);
}

// ---- Paths, switch, load ---------------------------------------------------------------

Unwind eval_path(const Cell* path, const Cell* value_to_set, Cell* result) {
    Cell* saved = stack::top;
    Cell* p = stack::push(*path);
    uint32_t length = series::buffer_length(p);
    uint32_t start = p->w1 < length ? p->w1 : length;
    uint32_t count = length - start;
    if (count == 0) fire({"script", "empty-path"});
    Cell* to_set = value_to_set ? stack::push(*value_to_set) : nullptr;
    Cell head = buffer_of(p->w2)->head_cell()[start];
    head.clear_new_line();
    Cell* current = stack::push(head);
    Cell* parent = stack::push(none::cell());
    bool have_parent = false;
    bool from_word = false;
    if (word::bindable_type(head.type())) {
        from_word = true;
        *current = *context::get_word(&head);
        Off ctx = head.w1;
        if (ctx && ctx != context::global()) {
            Cell owner = *context::self_cell(ctx);
            if (owner.type() != TYPE_UNSET && !object::is_object_like(owner.type())) {
                *parent = owner;
                have_parent = true;
            }
        }
    }
    Cell* element = stack::push(none::cell());
    Cell* previous = stack::push(none::cell());
    bool have_previous = false;
    for (uint32_t i = 1; i < count; ++i) {
        *element = buffer_of(p->w2)->head_cell()[start + i];
        element->clear_new_line();
        bool last = i + 1 == count;
        Cell* set_value = last ? to_set : nullptr;
        // Setting through a path of three parts or more changes a series
        // in place: its owner (the previous step's value) may want to know.
        bool notify = false;
        if (set_value && count >= 3 && have_parent) {
            uint32_t pt = parent->type();
            notify =
                (from_word && object::is_object_like(pt) && parent->w3 != 0) || is_any_block(pt);
        }
        Cell step = *current;
        Outcome r =
            actions::eval_path(current, element, set_value, p, have_parent ? parent : nullptr,
                               have_previous ? previous : nullptr, int32_t(i), false, false, last, notify);
        if (r.code) return r.code;
        Cell next = *r.cell;
        *parent = step;
        have_parent = true;
        *previous = *element;
        have_previous = true;
        *current = next;
    }
    Cell final_value = *current;
    stack::top = saved;
    *result = final_value;
    return UNWIND_NONE;
}

Cell* select_case(bool step, bool block_search, bool push) {
    Cell value = stack::arg_base[0];
    Cell blk = stack::arg_base[1];
    Cell found = none::cell();
    if (value.type() != TYPE_BLOCK && is_any_block(blk.type())) {
        Cell* saved = stack::top;
        Cell* v = stack::push(value);
        Cell* e = stack::push(none::cell());
        uint32_t stride = step ? 2 : 1;
        for (uint32_t i = blk.w1;; i += stride) {
            uint32_t length = series::buffer_length(&blk);
            if (i >= length) break;
            *e = buffer_of(blk.w2)->head_cell()[i];
            if (e->type() != value.type() || !actions::compare(e, v, COMP_EQUAL)) continue;
            length = series::buffer_length(&blk);
            const Cell* cells = buffer_of(blk.w2)->head_cell();
            if (block_search) {
                for (uint32_t k = i + 1; k < length; ++k) {
                    if (cells[k].type() == TYPE_BLOCK) {
                        found = cells[k];
                        break;
                    }
                }
            } else {
                found = i + 1 < length ? cells[i + 1] : cells[i];
            }
            break;
        }
        stack::top = saved;
    }
    found.clear_new_line();
    if (push) return stack::push(found);
    *stack::arg_base = found;
    return stack::arg_base;
}

int32_t to_integer_checked(const Cell* value) {
    if (value->type() != TYPE_FLOAT) return int32_t(value->w2);
    double d = value->get_f64();
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) fire({"script", "out-of-range"}, *value);
    return int32_t(d);
}

// The literal table lives in a fixed buffer (the root block, usually): the
// buffer holding the table's base is marked with its cells.
void mark_literal_table() {
    collector::mark_fixed_buffer_holding(literal_table::base);
}

// Sort and compare comparators run through the interpreter.
Unwind run_comparator(const Cell* function, const Cell* args, uint32_t count) {
    return interpreter::call_values(function, args, count);
}

void init() {
    word::load_single = &load_single_utf8;
    port::call_pushed = &interpreter::call_pushed;
    block::comparator_runner = &run_comparator;
    collector::unregister_marker(&mark_literal_table);
    collector::register_marker(&mark_literal_table);
}

}  // namespace kiv::runtime
