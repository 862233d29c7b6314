// Paths: the get, set and call forms of a path value, walked element by
// element through the datatypes' path actions; the commonest forms are
// answered directly (see Direct forms).
#include <cstring>

#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/scalar.h"
#include "datatypes/unset.h"
#include "datatypes/action_dispatch.h"
#include "evaluator/fast_paths.h"
#include "evaluator/interpreter_internal.h"
#include "evaluator/path_steps.h"
#include "datatypes/call_layout.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::interpreter::detail {

using spec::is_callable;

// ----======================================================================================

// After a set-path: a value whose path action changed it in its own cell
// (scalar::changed_in_place) is stored back into the value it was read from,
// up the chain of steps, and into the head word at the top. Returns the
// unwind code of a change hook that a store ran.
Unwind write_back(const Cell& head, Cell* path, Cell* history, Cell changed) {
    int32_t k = int32_t((stack::top - history) / 2) - 1;  // the last step
    while (scalar::changed_in_place(changed.type())) {
        if (k == 0) {
            Cell w = head;
            return context::set_word(&w, &changed).code;
        }
        Cell* holder = history + 2 * (k - 1);
        if (Unwind code =
                actions::eval_path(holder, holder + 1, &changed, path, nullptr, nullptr, k, false, false, true, true)
                    .code)
            return code;
        changed = *holder;
        --k;
    }
    return UNWIND_NONE;
}

// The longer object paths of object_steps.
const Cell* object_steps_loop(const Cell* slot, const Cell* cells, uint32_t end, bool call, uint32_t* at) {
    for (uint32_t i = 1; i < end; ++i) {
        slot = object_field(slot->w1, &cells[i]);
        if (!slot) return nullptr;
        *at = i;
        uint32_t t = slot->type();
        if (t == TYPE_OBJECT) continue;
        if (call && is_callable(t)) return slot;
        if (i + 1 < end) return nullptr;
    }
    return slot;
}

// The pick of `b/2`; false when the generic walk must answer.
inline bool block_pick(const Cell* block, const Cell* cells, uint32_t count, Cell* out) {
    return count == 2 && cells[1].type() == TYPE_INTEGER &&
           actions::pick_inline(block, int32_t(cells[1].w2), out);
}

// A function at the head, called with the path's refinements (a native's
// or an action's as the word's call path makes its call).
[[gnu::noinline]] Unwind call_head(const Cell& path, const Cell* cells, const Cell* head, Code* c) {
    Cell name = cells[0];
    Cell fn = *head;
    Cell p = path;
    if (c && (fn.type() == TYPE_NATIVE || fn.type() == TYPE_ACTION)) return call_path_refined(name, fn, *c, p, path.w1 + 1);
    return exec_call(name, fn, c, &p, path.w1 + 1, false);
}

// Paths found to lead to a function or an op!: a quick form meets the same
// call path on every run of a loop (`t: n + (o/f 1)`).
static RefusalMemo refused_paths;

// peek_path's answer from the slot the path leads to: its value, unless it
// is a function or an op! (the path is then a call, remembered as refused).
inline bool slot_answer(const Cell& path, const Cell* slot, Cell* out) {
    uint32_t st = slot->type();
    if (is_callable(st) || st == TYPE_OP) {
        refused_paths.note(path.w2, path.w1);
        return false;
    }
    *out = *slot;
    return true;
}

// peek_path for the object paths its inline form does not answer: any
// number of steps, fields found as the object's path action finds them.
// (The head is read again here: passing it on costs peek_path's own form.)
[[gnu::noinline]] bool peek_object_steps(const Cell& path, Cell* out) {
    const Cell* cells = nullptr;
    uint32_t count = 0;
    const Cell* head = path_head(path, &cells, &count);  // an object!, as peek_path found
    uint32_t at = 0;
    const Cell* slot = object_steps(head, cells, count, true, &at);
    return slot && slot_answer(path, slot, out);
}

// The value a one-key path on a map! reads (the map's get step, its path
// action's without /case): a look-up, nothing allocated. False, with
// nothing changed, for another path and for a function value (the call
// form calls it through the generic walk). Out of line: the object and
// block forms stay small.
[[gnu::noinline]] bool map_path_value(const Cell* head, const Cell* cells, uint32_t count, Cell* out) {
    Cell key;
    if (!map_path_key(head, cells, count, &key)) return false;
    Cell v;
    map::select_value(head, &key, &v);
    if (is_callable(v.type())) return false;
    *out = v;
    return true;
}

// The commonest forms (`b/2`, and `p/x` whose field the field memo holds)
// answered with no call, the rest by peek_object_steps, which gives the
// same answer for these.
bool peek_path(const Cell& path, Cell* out) {
    if (refused_paths.refused(path.w2, path.w1)) [[unlikely]]
        return false;
    const Cell* cells;
    uint32_t count;
    const Cell* head = path_head(path, &cells, &count);
    if (!head) return false;
    if (head->type() == TYPE_BLOCK) return block_pick(head, cells, count, out) && !is_callable(out->type());
    if (head->type() != TYPE_OBJECT) return head->type() == TYPE_MAP && map_path_value(head, cells, count, out);
    if (count != 2 || cells[1].type() != TYPE_WORD) return peek_object_steps(path, out);
    // The field by the memo; the rest (the memo's first entry) out of line.
    const FieldMemoEntry* m = memo_field_entry(head->w1, cells[1].w2);
    if (!m) return peek_object_steps(path, out);
    const Cell* slot = memo_field_slot(m);
    if (slot->type() == TYPE_UNSET) return false;
    return slot_answer(path, slot, out);
}

// The get and call forms; false leaves the path to the generic walk.
[[gnu::always_inline]] inline bool direct_path(const Cell& path, uint32_t mode, Code* c, Unwind* code) {
    const Cell* cells;
    uint32_t count;
    const Cell* head = path_head(path, &cells, &count);
    if (!head) return false;
    uint32_t t = head->type();
    Cell result;
    if (t == TYPE_OBJECT) {
        uint32_t at = 0;
        const Cell* slot = object_steps(head, cells, count, mode == PATH_CALL, &at);
        if (!slot) return false;
        uint32_t st = slot->type();
        if (mode == PATH_CALL && is_callable(st)) {
            // Elements after the function's name are its refinements.
            // With none, the call a word makes.
            if (at + 1 == count && c) {
                Cell name = cells[at];
                Cell fn = *slot;
                *code = st == TYPE_FUNCTION  ? call_path_function(name, fn, *c)
                        : st == TYPE_ROUTINE ? call_path_routine(name, fn, *c)
                                             : call_path_native(name, fn, *c);
                return true;
            }
            Cell name = cells[at];
            Cell fn = *slot;
            Cell p = path;
            *code = exec_call(name, fn, c, at + 1 < count ? &p : nullptr, path.w1 + at + 1, false);
            return true;
        }
        result = *slot;
    } else if (t == TYPE_BLOCK) {
        if (!block_pick(head, cells, count, &result)) return false;
        if (mode == PATH_CALL && is_callable(result.type())) return false;
    } else if (t == TYPE_MAP) {
        if (!map_path_value(head, cells, count, &result)) return false;
    } else if (is_callable(t) && mode == PATH_CALL) {
        *code = call_head(path, cells, head, c);
        return true;
    } else {
        return false;
    }
    stack::push(result);
    *code = UNWIND_NONE;
    return true;
}

// Set-paths found to lead elsewhere than an object field (path_steps.h).
RefusalMemo refused_set_paths;

FieldMemoEntry field_memo[FIELD_MEMO_SIZE];

context::Field find_field(Off ctx, const Cell* el) {
    const uint32_t symbol = el->w2;
    context::Field f = object::path_field_cells(ctx, el);
    const Cell* cc = context::cell(ctx);
    if (f.value && ctx != root::global_context && !(cc->header & header::STACK_VALUES) && cc->w2) {
        // The key in the own slot, when it is one of this cycle noted
        // there, moves to the neighbour (memo_field_entry).
        FieldMemoEntry& own = field_memo_entry(ctx, symbol);
        if (own.key && own.cycle == memory::collection_cycles &&
            &field_memo_entry(Off(own.key >> 32), uint32_t(own.key)) == &own)
            field_memo[uint32_t(&own - field_memo) ^ 1u] = own;
        memo_field_note(ctx, symbol, f.index);
    }
    return f;
}

void forget_fields() {
    for (FieldMemoEntry& m : field_memo) m = FieldMemoEntry{0, 0, 0, 0, 0};
}

bool path_set_target(const Cell& path, FieldTarget* t) {
    return set_target<false>(path, t, nullptr);
}

// The set form on an object field: `value` assigned to the field the last
// element names; a non-local exit of on-change* goes to *code.
[[gnu::always_inline]] inline bool direct_path_set(const Cell& path, const Cell* value, Unwind* code) {
    FieldTarget t;
    if (!path_set_target(path, &t)) return false;
    // The value (the result) and the object stay on the data stack while
    // on-change* may run.
    Cell* result = stack::push(*value);
    stack::push(t.obj);
    *code = object::set_path_field(&t.obj, t.index, result);
    if (*code == UNWIND_NONE) stack::top = result + 1;
    return true;
}

// The set form on a map! of one key (`m/key: v`, `m/:k: v`): the map's path
// action called as the generic walk's single step calls it.
[[gnu::always_inline]] inline bool direct_map_set(const Cell& path, const Cell* value, Unwind* code) {
    const Cell* cells;
    uint32_t count;
    const Cell* head = path_head(path, &cells, &count);
    Cell el;
    if (!map_path_key(head, cells, count, &el)) return false;
    // The map's set step itself (it holds what it needs while a new key is
    // copied); the value is the result.
    Cell* result = stack::push(*value);
    map::set_key(const_cast<Cell*>(head), &el, result, &path);
    stack::top = result + 1;
    *code = UNWIND_NONE;
    return true;
}

// The generic walk: every step through the parent's path action, with the
// path, the value and the parents held on the data stack.
[[gnu::noinline]] Unwind walk_steps(const Cell& path_in, uint32_t mode, const Cell* value_in, Code* c) {
    Cell* start = stack::top;
    Cell* path = stack::push(path_in);  // data-stack copies: never moved
    Off node = path->w2;
    uint32_t first = path->w1;
    uint32_t n = cell_count(node);
    if (first >= n) fire({"script", "empty-path"});
    Code pc{node, first, first, path->type()};
    KIV_TRACE(EV_ENTER, &pc, path, nullptr);
    Cell head = *cell_at(node, first);
    KIV_TRACE(EV_FETCH, &pc, &head, nullptr);
    if (head.type() != TYPE_WORD) fire({"script", "word-first"}, *path);
    Cell* value = stack::push(value_in ? *value_in : unset::cell());
    Cell* parent = stack::push(word_value(&head));
    if (parent->type() == TYPE_UNSET) fire({"script", "unset-path"}, *path, head);
    if (is_callable(parent->type())) {
        if (mode == PATH_SET) fire({"script", "invalid-path-set"}, *path);
        if (mode == PATH_GET) fire({"script", "invalid-path-get"}, *path);
        Cell fn = *parent;
        Cell p = *path;
        stack::top = start;
        if (Unwind code = exec_call(head, fn, c, &p, first + 1, false)) return code;
        pc.pos = n;
        KIV_TRACE(EV_EXIT, &pc, stack::top - 1, nullptr);
        return UNWIND_NONE;
    }
    Cell* grandparent = stack::push(none::cell());
    Cell* element = stack::push(none::cell());
    // Each step's parent and element, so that a value held in its cell (a
    // pair, a date...) that a set-path changed can be written back where it
    // was read from.
    Cell* history = stack::top;
    for (uint32_t i = first + 1; i < n; ++i) {
        pc.pos = i;
        Cell el = *cell_at(node, i);
        KIV_TRACE(EV_FETCH, &pc, &el, nullptr);
        if (el.type() == TYPE_GET_WORD) {
            el = word_value(&el);
        } else if (el.type() == TYPE_PAREN) {
            Cell* mark = stack::top;
            if (Unwind code = eval(&el, false)) return code;
            el = *mark;
            stack::top = mark;
        }
        if (el.type() == TYPE_UNSET) fire({"script", "invalid-path"}, *path, el);
        *element = el;
        bool last = i + 1 == n;
        if (mode == PATH_SET) {
            stack::push(*parent);
            stack::push(el);
        }
        // An integer! step into a block! is a pick, answered inline.
        Cell result;
        bool picked = mode != PATH_SET && el.type() == TYPE_INTEGER && !tracing &&
                      actions::pick_inline(parent, int32_t(el.w2), &result);
        if (!picked) {
            Outcome r = actions::eval_path(parent, element, mode == PATH_SET && last ? value : nullptr, path,
                                           grandparent, nullptr, int32_t(i), false, mode == PATH_GET, last, true);
            if (r.code) return r.code;
            result = r.cell ? *r.cell : none::cell();
        }
        *grandparent = *parent;
        *parent = result;
        KIV_TRACE(EV_PUSH, &pc, parent, nullptr);
        if (mode == PATH_CALL && is_callable(result.type())) {
            Cell name = el.type() == TYPE_WORD ? el : anon_word();
            Cell p = *path;
            stack::top = start;
            if (Unwind code = exec_call(name, result, c, &p, i + 1, false)) return code;
            pc.pos = n;
            KIV_TRACE(EV_EXIT, &pc, stack::top - 1, nullptr);
            return UNWIND_NONE;
        }
    }
    if (mode == PATH_SET) {
        if (Unwind code = write_back(head, path, history, *grandparent)) return code;
    }
    Cell final_value = mode == PATH_SET ? *value : *parent;
    stack::top = start;
    stack::push(final_value);
    pc.pos = n;
    KIV_TRACE(EV_EXIT, &pc, stack::top - 1, nullptr);
    return UNWIND_NONE;
}

// Evaluates a path's call form; the final value is pushed.
Unwind walk_call_path(const Cell& path, Code* c) {
    if (!tracing) {
        Unwind code;
        if (direct_path(path, PATH_CALL, c, &code)) return code;
    }
    return walk_steps(path, PATH_CALL, nullptr, c);
}

// Evaluates a path's get or set form; the final value is pushed.
Unwind walk_data_path(const Cell& path, uint32_t mode, const Cell* value, Code* c) {
    if (!tracing) {
        Unwind code;
        if (mode == PATH_SET) {
            // A map! head first: the object form would only refuse it.
            if (direct_map_set(path, value, &code)) return code;
            if (direct_path_set(path, value, &code)) return code;
        } else {
            if (direct_path(path, mode, c, &code)) return code;
        }
    }
    return walk_steps(path, mode, value, c);
}

}  // namespace kiv::interpreter::detail
