// Paths: the get, set and call forms of a path value, walked element by
// element through the datatypes' path actions.
#include "datatypes/none.h"
#include "datatypes/scalar.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/fast_paths.h"
#include "evaluator/interpreter_internal.h"
#include "evaluator/typed_spec.h"
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

// Evaluates a path (get, set or call form); the final value is pushed.
Unwind walk_path(const Cell& path_in, uint32_t mode, const Cell* value_in, Code* c) {
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

}  // namespace kiv::interpreter::detail
