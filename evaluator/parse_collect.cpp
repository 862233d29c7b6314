// The collecting and modifying rules of the parse dialect: collect, keep,
// remove, insert and change.
//
// Collect targets live on the data stack above the engine's slots, one
// entry per open collect: a plain collect's block; for `collect set word`
// the word, then the block; for `collect into word` the word retyped as
// get-word!, for `collect after word` as refinement! (the target series is
// the word's value). The collect's rule frame keeps, in its count record,
// the target's index when the collect began, the mode, and the data-stack
// index of its first entry.
#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/fixed_words.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/interpreter.h"
#include "evaluator/parse_internal.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::parser {

namespace {

enum CollectMode : uint32_t { C_PLAIN = 0, C_SET = 1, C_INTO = 2, C_AFTER = 3 };

inline bool is_word_of(const Cell* c, uint32_t fixed_symbol) {
    return c && c->type() == TYPE_WORD && symbol::resolve(c->w2) == symbol::resolve(fixed_symbol);
}

// Pushes an engine-owned cell above the engine's slots.
Cell* push_work(Parser& p, const Cell& v) {
    stack::top = p.work_top;
    Cell* c = stack::push(v);
    p.work_top = stack::top;
    return c;
}

// The input series positioned at `at` (a data-stack cell above the engine's top).
Cell* input_at(Parser& p, uint32_t at) {
    stack::top = p.work_top;
    Cell* s = stack::push(*p.input);
    s->w1 = at;
    return s;
}

// The changes of the input and of collect targets below run owners'
// handlers: they answer the handler's exit code.

// Removes `count` units of the input from `at`.
Unwind remove_units(Parser& p, uint32_t at, uint32_t count) {
    if (count == 0) return UNWIND_NONE;
    Cell* s = input_at(p, at);
    Cell* part = stack::push(integer::cell(int32_t(count)));
    if (Unwind code = actions::remove(s, part, nullptr)) return code;
    stack::top = p.work_top;
    return UNWIND_NONE;
}

// Inserts or changes at `at`: *after receives the position after the new content.
Unwind put_value(Parser& p, uint32_t at, const Cell& value, bool only, int32_t replaced, uint32_t* after) {
    Cell* s = input_at(p, at);
    Cell* v = stack::push(value);
    Unwind code =
        replaced >= 0 ? actions::change(s, v, replaced, only, 1) : actions::insert(s, v, -1, only, 1, false);
    if (code) return code;
    *after = s->w1;
    stack::top = p.work_top;
    return UNWIND_NONE;
}

// The value cell of insert and change: a paren is evaluated, a word gives
// its value (unset raises no-value), a path is refused. Returns the unwind
// code of the paren.
Unwind fetch_value(Parser& p, const Cell& cell, Cell* out) {
    uint32_t t = cell.type();
    if (t == TYPE_PAREN) {
        if (Unwind code = eval_paren(p, cell)) return code;
        p.paren_ran = true;
        *out = *p.paren_value;
        return UNWIND_NONE;
    }
    if (t == TYPE_PATH) parse_error("parse-rule", cell);
    if (t == TYPE_WORD) {
        Cell v = word_value(cell);
        if (v.type() == TYPE_UNSET) parse_error("no-value", cell);
        *out = v;
        return UNWIND_NONE;
    }
    *out = cell;
    out->clear_new_line();
    return UNWIND_NONE;
}

// A word or get-word whose value is a position in the input: that value.
bool position_ref(const Parser& p, const Cell* c, Cell* pos) {
    if (!c) return false;
    uint32_t t = c->type();
    if (t != TYPE_GET_WORD && !(t == TYPE_WORD && !is_keyword(*c))) return false;
    Cell w = *c;
    Cell v = *context::get_word(&w);
    if (!same_series(p, v)) return false;
    *pos = v;
    return true;
}

// The collect target of into/after must suit the input: its own datatype,
// a block-like target for any input, text for text or binary input, binary
// only for binary input.
void check_target(const Parser& p, const Cell& target) {
    uint32_t t = target.type(), in = p.input->type();
    bool ok = t == in || is_block_input(t) ||
              (is_string_input(t) && (is_string_input(in) || in == TYPE_BINARY)) ||
              (t == TYPE_BINARY && in == TYPE_BINARY);
    if (!ok || !is_series(t) || t == TYPE_VECTOR || t == TYPE_IMAGE) parse_error("parse-into-type");
}

// Adds one kept value to the innermost collect target.
Unwind emit(Parser& p, const Cell& value, bool each) {
    Cell* top = p.work_top - 1;
    uint32_t t = top->type();
    Cell v = value;
    v.clear_new_line();
    if (each && is_block_input(v.type())) {
        uint32_t n = series::count(v.w2);
        for (uint32_t i = v.w1; i < n && i < series::count(v.w2); ++i) {
            Cell item = *block::cells_at(&v, i);
            if (Unwind code = emit(p, item, false)) return code;
        }
        return UNWIND_NONE;
    }
    if (t == TYPE_BLOCK) {
        block::cells_append(top, &v);
        return UNWIND_NONE;
    }
    // into (get-word marker) or after (refinement marker): the word's series.
    Cell word = *top;
    word.set_type(TYPE_WORD);
    Cell target = word_value(word);
    check_target(p, target);
    stack::top = p.work_top;
    Cell* s = stack::push(target);
    Cell* val = stack::push(v);
    bool after = t == TYPE_REFINEMENT;
    if (Unwind code = actions::insert(s, val, -1, is_block_input(target.type()), 1, after)) return code;
    if (!after) {
        Cell moved = *s;
        if (Unwind code = context::set_word(&word, &moved).code) return code;
    }
    stack::top = p.work_top;
    return UNWIND_NONE;
}

// What `keep rule` matched, added to the collect target. A binary slice
// kept into a text target (into or after) goes in as its bytes, each byte a
// character (code points 0-255), rather than as a molded binary.
Unwind emit_slice(Parser& p, const Cell& value) {
    const Cell* top = p.work_top - 1;
    const uint32_t t = top->type();
    if (value.type() == TYPE_BINARY && (t == TYPE_GET_WORD || t == TYPE_REFINEMENT)) {
        Cell word = *top;
        word.set_type(TYPE_WORD);
        if (is_any_string(word_value(word).type())) {
            stack::top = p.work_top;
            Cell* bin = stack::push(value);
            const uint32_t length = series::buffer_length(bin);
            const uint32_t from = bin->w1 < length ? bin->w1 : length;
            Cell* text = string::make_at_width(stack::push_slot(), length - from, 1);
            SeriesBuffer* tb = buffer_of(text->w2);
            std::memcpy(tb->head_ptr(), buffer_of(bin->w2)->head_ptr() + from, length - from);
            tb->tail = tb->head + (length - from);
            *p.copied = *text;  // reachable while it is added
            stack::top = p.work_top;
            return emit(p, *p.copied, false);
        }
    }
    return emit(p, value, false);
}

}  // namespace

State kw_remove(Parser& p, const Cell& keyword, Unwind* code) {
    const Cell* next = rule_cell(p, p.rp + 1);
    if (!next) parse_error("parse-end", keyword);
    if (next->type() == TYPE_PATH) parse_error("parse-rule", *next);
    Cell pos;
    if (position_ref(p, next, &pos)) {
        uint32_t cur = p.input->w1, at = pos.w1;
        uint32_t lo = at < cur ? at : cur, hi = at < cur ? cur : at;
        uint32_t n = input_count(p.input);
        if (hi > n) hi = n;
        if (lo < hi)
            if ((*code = remove_units(p, lo, hi - lo))) return S_EXIT;
        p.input->w1 = lo;
        refresh_end(p);
        ++p.rp;
        p.match = true;
        return S_CHECK_PENDING;
    }
    p.kind = K_REMOVE;
    p.flag = 0;
    p.count_cell = Cell{TYPE_TRIPLE, 0, 0, 1};
    return S_PUSH_RULE;
}

namespace {
// insert and change take an optional `only` after the keyword: steps over it.
bool take_only(Parser& p, int32_t& i) {
    if (!is_word_of(rule_cell(p, i), fixed::sym[fixed::SYM_ONLY])) return false;
    ++i;
    return true;
}
}  // namespace

State kw_insert(Parser& p, const Cell& keyword, Unwind* code) {
    int32_t i = p.rp + 1;
    const bool only = take_only(p, i);
    const Cell* c = rule_cell(p, i);
    if (!c) parse_error("parse-end", keyword);
    uint32_t cur = p.input->w1;
    uint32_t at = cur;
    Cell pos;
    if (position_ref(p, c, &pos)) {
        Cell ref = *c;
        at = pos.w1;
        ++i;
        c = rule_cell(p, i);
        if (!c) parse_error("parse-rule", ref);
    }
    Cell cell = *c;
    p.rp = i;
    Cell value;
    if ((*code = fetch_value(p, cell, &value))) return S_EXIT;
    uint32_t n = input_count(p.input);
    if (at > n) at = n;
    uint32_t after = 0;
    if ((*code = put_value(p, at, value, only, -1, &after))) return S_EXIT;
    if (at <= cur) p.input->w1 = cur + (after - at);
    refresh_end(p);
    p.match = true;
    return S_CHECK_PENDING;
}

State kw_change(Parser& p, const Cell& keyword, Unwind* code) {
    int32_t i = p.rp + 1;
    const bool only = take_only(p, i);
    const Cell* c = rule_cell(p, i);
    if (!c) parse_error("parse-rule", keyword);
    Cell pos;
    if (position_ref(p, c, &pos)) {
        const Cell* vc = rule_cell(p, i + 1);
        if (!vc) parse_error("parse-end", keyword);
        Cell cell = *vc;
        p.rp = i + 1;
        Cell value;
        if ((*code = fetch_value(p, cell, &value))) return S_EXIT;
        uint32_t cur = p.input->w1, at = pos.w1;
        uint32_t lo = at < cur ? at : cur, hi = at < cur ? cur : at;
        uint32_t n = input_count(p.input);
        if (hi > n) hi = n;
        if (lo > hi) lo = hi;
        uint32_t after = 0;
        if ((*code = put_value(p, lo, value, only, int32_t(hi - lo), &after))) return S_EXIT;
        p.input->w1 = after;
        refresh_end(p);
        p.match = true;
        return S_CHECK_PENDING;
    }
    p.rp = i - 1;
    p.kind = only ? K_CHANGE_ONLY : K_CHANGE;
    p.flag = 0;
    p.count_cell = Cell{TYPE_TRIPLE, 0, 0, 1};
    return S_PUSH_RULE;
}

State kw_collect(Parser& p, const Cell& keyword) {
    int32_t i = p.rp + 1;
    const Cell* c = rule_cell(p, i);
    uint32_t mode = C_PLAIN;
    if (is_word_of(c, fixed::sym[fixed::SYM_SET]))
        mode = C_SET;
    else if (is_word_of(c, fixed::sym[fixed::SYM_INTO]))
        mode = C_INTO;
    else if (is_word_of(c, fixed::sym[fixed::SYM_AFTER]))
        mode = C_AFTER;
    uint32_t base = stack::index_of(p.work_top);
    uint32_t saved_index = 0;
    if (mode != C_PLAIN) {
        const Cell* w = rule_cell(p, i + 1);
        if (!w || w->type() != TYPE_WORD) parse_error("parse-end", keyword);
        Cell word = *w;
        word.clear_new_line();
        p.rp = i + 1;
        if (mode == C_SET) {
            push_work(p, word);
            Cell* blk = push_work(p, none::cell());
            block::make_at(blk, 8);
        } else {
            Cell target = word_value(word);
            check_target(p, target);
            if (target.w2 == p.input->w2) parse_error("parse-into-bad");
            saved_index = target.w1;
            word.set_type(mode == C_INTO ? TYPE_GET_WORD : TYPE_REFINEMENT);
            push_work(p, word);
        }
    } else {
        Cell* blk = push_work(p, none::cell());
        block::make_at(blk, 8);
    }
    if (!rule_cell(p, p.rp + 1)) parse_error("parse-end", keyword);
    ++p.collect_depth;
    p.kind = K_COLLECT;
    p.flag = 0;
    p.count_cell = Cell{TYPE_TRIPLE, saved_index, mode, base};
    return S_PUSH_RULE;
}

State kw_keep(Parser& p, const Cell& keyword) {
    if (p.collect_depth == 0) parse_error("parse-keep", keyword);
    int32_t i = p.rp + 1;
    bool pick = false;
    if (is_word_of(rule_cell(p, i), fixed::sym[fixed::SYM_PICK])) {
        pick = true;
        ++i;
    }
    const Cell* c = rule_cell(p, i);
    if (!c) parse_error("parse-end", keyword);
    p.kind = c->type() == TYPE_PAREN ? K_KEEP_PAREN : K_KEEP;
    p.flag = pick ? 1 : 0;
    p.rp = i - 1;
    p.count_cell = Cell{TYPE_TRIPLE, 0, 0, 1};
    return S_PUSH_RULE;
}

Unwind finish_remove(Parser& p, const Cell* frame) {
    if (!p.match) return UNWIND_NONE;
    uint32_t from = frame[1].w2, cur = p.input->w1;
    if (from < cur)
        if (Unwind code = remove_units(p, from, cur - from)) return code;
    p.input->w1 = from;
    refresh_end(p);
    return UNWIND_NONE;
}

Unwind finish_change(Parser& p, const Cell* frame, bool only) {
    const Cell* c = rule_cell(p, p.rp + 1);
    if (!c) parse_error("parse-end", fixed::words[fixed::W_CHANGE]);
    Cell cell = *c;
    if (cell.type() == TYPE_PATH) parse_error("parse-rule", cell);
    ++p.rp;
    if (!p.match) return UNWIND_NONE;
    Cell value;
    if (Unwind code = fetch_value(p, cell, &value)) return code;
    uint32_t from = frame[1].w2, cur = p.input->w1;
    uint32_t n = input_count(p.input);
    if (from > n) from = n;
    if (cur < from) cur = from;
    uint32_t after = 0;
    if (Unwind code = put_value(p, from, value, only, int32_t(cur - from), &after)) return code;
    p.input->w1 = after;
    refresh_end(p);
    return UNWIND_NONE;
}

Unwind finish_collect(Parser& p, const Cell* frame) {
    uint32_t saved_index = frame[0].w1, mode = frame[0].w2, base = frame[0].w3;
    if (p.collect_depth) --p.collect_depth;
    Cell* entries = stack::bottom + base;
    if (entries >= p.work_top) return UNWIND_NONE;  // nothing of this collect is left
    Cell first = entries[0];
    Cell made{TYPE_NONE, 0, 0, 0};
    if (mode == C_SET) {
        Cell word = first, blk = entries[1];
        if (Unwind code = context::set_word(&word, &blk).code) return code;
    } else if (mode == C_INTO || mode == C_AFTER) {
        Cell word = first;
        word.set_type(TYPE_WORD);
        Cell target = word_value(word);
        if (is_series(target.type())) {
            target.w1 = saved_index;
            if (Unwind code = context::set_word(&word, &target).code) return code;
        }
    } else {
        made = first;
    }
    // The block stays reachable from the result slot or the enclosing target
    // before its stack entry goes.
    if (mode == C_PLAIN && p.collect_depth == 0) {
        *p.result = made;
        p.result_made = true;
    }
    Cell keep_alive = made;
    *p.paren_value = keep_alive;
    stack::top = entries;
    p.work_top = entries;
    if (mode == C_PLAIN && p.collect_depth > 0) return emit(p, keep_alive, false);
    return UNWIND_NONE;
}

Unwind finish_keep(Parser& p, const Cell* frame, bool paren) {
    if (!p.match || p.work_top <= p.pending + 1) return UNWIND_NONE;
    bool pick = frame[2].w3 != 0;
    if (paren) return emit(p, *p.paren_value, pick);
    if (p.last_kind == K_COPY) return pick ? emit(p, *p.copied, true) : emit_slice(p, *p.copied);
    uint32_t from = frame[1].w2, cur = p.input->w1;
    if (cur <= from) return UNWIND_NONE;
    if (cur - from == 1) return emit(p, item_at(p.input, from), false);
    if (pick) {
        for (uint32_t i = from; i < cur && i < input_count(p.input); ++i)
            if (Unwind code = emit(p, item_at(p.input, i), false)) return code;
        return UNWIND_NONE;
    }
    stack::top = p.work_top;
    Cell* s = stack::push(*p.input);
    s->w1 = from;
    Cell* count = stack::push(integer::cell(int32_t(cur - from)));
    Cell* out = stack::push_slot();
    Cell copy = *actions::cell_of(actions::copy(s, out, count, false, nullptr));
    *p.copied = copy;  // reachable while it is added
    stack::top = p.work_top;
    return emit_slice(p, copy);
}

}  // namespace kiv::parser
