// The control natives: conditionals, short-circuit tests, loops, switch and
// case.
//
// Loops run their body under a loop frame (named <body>) pushed above their
// arguments, so the arguments (counters, series positions, words) stay put
// between passes. Each pass starts with the data stack cut back to the loop
// frame's base and evaluates the body with the keep flag: the body's value
// lands in that base. break and continue arrive as return codes with the
// stacks already trimmed to the loop frame and the carried value (the
// /return value or unset) in the same base, so ending the loop is always
// stack::unwind_last(): the base's value becomes the native's result. Any
// other code (return, exit, throw) goes on upward untouched.
#include <cmath>
#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/runtime.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::natives {

namespace {

inline Cell* arg(uint32_t i) {
    return stack::arg_base + i;
}
inline void result(const Cell& v) {
    *stack::arg_base = v;
}
inline void result_none() {
    *stack::arg_base = none::cell();
}
inline const Cell& body_word() {
    return fixed::words[fixed::W_BODY];
}

// A loop count: integers as they are, floats truncated toward zero (out of
// the 32-bit range: script out-of-range).
inline int64_t loop_count(const Cell* v) {
    return runtime::to_integer_checked(v);
}

// Cells in a block-like value's buffer.
inline uint32_t cells_of(const Cell* blk) {
    return series::count(blk->w2);
}

// Values left from the position of any series value.
int64_t remaining(const Cell* s) {
    uint32_t t = s->type();
    if (is_any_block(t)) {
        uint32_t n = cells_of(s);
        return s->w1 < n ? int64_t(n - s->w1) : 0;
    }
    // An image's length? ignores its index: the pixels left are counted here.
    if (t == TYPE_IMAGE) {
        int64_t n = int64_t(os_image::pixel_count(s)) - int64_t(s->w1);
        return n > 0 ? n : 0;
    }
    Cell c = *s;
    Cell* saved = stack::top;
    int32_t n = actions::count_of(actions::length(&c));
    stack::top = saved;
    return n;
}

// The value at absolute position `pos` of a series, by its datatype's pick.
Cell value_at(const Cell* s, uint32_t pos) {
    if (is_any_block(s->type())) {
        Cell v = *block::cells_at(s, pos);
        return v;
    }
    Cell* saved = stack::top;
    Cell* at = stack::push(*s);
    at->w1 = pos;
    Cell* index = stack::push(integer::cell(1));
    Cell v = *actions::cell_of(actions::pick(at, 1, index));
    stack::top = saved;
    return v;
}

// A word's write, which may run an owner's change hook: its exit code.
inline Unwind set_word(const Cell& w, const Cell& v) {
    Cell word = w;
    Cell value = v;
    return context::set_word(&word, &value).code;
}

// The loop words' writes (a counter, a foreach word) on every pass: into
// the word's slot when nothing more is to be done, else by the context layer.
inline Unwind set_loop_word(const Cell& w, const Cell& v) {
    if (Cell* slot = context::direct_slot(&w)) [[likely]] {
        *slot = v;
        return UNWIND_NONE;
    }
    return set_word(w, v);
}

// A loop word's slot found once for the whole loop when the word is bound
// to a heap context other than an object's: such a context keeps its values
// node, and words are never removed from it, so each pass reaches the slot
// through that node alone (the node's buffer may move between passes). Any
// other word is looked up on each pass by direct_slot.
class LoopSlot {
    Off values_ = 0;
    uint32_t index_ = 0;

  public:
    explicit LoopSlot(const Cell& word) {
        Off ctx = word.w1;
        uint32_t idx = word.w3;
        if (!ctx || idx == 0xFFFFFFFFu) return;
        const Cell* cc = context::cell(ctx);
        if (cc->header & header::STACK_VALUES) return;
        if (((cc->header & header::CONTEXT_KIND_MASK) >> header::CONTEXT_KIND_SHIFT) == context::KIND_OBJECT)
            return;
        values_ = cc->w2;
        index_ = idx;
    }
    // As direct_slot(&word) answers it.
    [[gnu::always_inline]] Cell* get(const Cell& word) const {
        if (values_) [[likely]] {
            const SeriesBuffer* b = buffer_of(values_);
            return index_ < (b->byte_count() >> 4) ? b->head_cell() + index_ : nullptr;
        }
        return context::direct_slot(&word);
    }
};

// What a loop's step answers: end the loop, run the pass, or (any other
// value) the exit code of a hook the step ran.
constexpr uint32_t STEP_END = 0;
constexpr uint32_t STEP_GO = 1;
inline uint32_t step_of(Unwind code) {
    return code ? uint32_t(code) : STEP_GO;
}

// The words of foreach / remove-each: one word, or a block of words (at
// least one, all word!). Returns their count.
uint32_t loop_words(const Cell* words) {
    if (words->type() == TYPE_WORD) return 1;
    uint32_t n = cells_of(words);
    uint32_t count = words->w1 < n ? n - words->w1 : 0;
    if (count == 0) fire({"script", "invalid-arg"}, *words);
    for (uint32_t i = words->w1; i < n; ++i)
        if (block::cells_at(words, i)->type() != TYPE_WORD) fire({"script", "invalid-arg"}, *words);
    return count;
}
inline Cell loop_word(const Cell* words, uint32_t k) {
    return words->type() == TYPE_WORD ? *words : *block::cells_at(words, words->w1 + k);
}

// Sets the loop words from the series at `series->w1` and advances it
// (first, so that an exit from a word's hook leaves the values behind);
// STEP_END when nothing is left.
uint32_t foreach_step(const Cell* words, uint32_t count, Cell* series) {
    if (is_any_block(series->type())) {
        // Blocks: the cells read in place (a word's write may run an
        // owner's code, so the buffer is found anew for each).
        uint32_t pos = series->w1;
        uint32_t n = cells_of(series);
        if (pos >= n) return STEP_END;
        uint32_t left = n - pos;
        series->w1 = pos + count;
        for (uint32_t k = 0; k < count; ++k) {
            Cell v = k < left && pos + k < cells_of(series) ? buffer_of(series->w2)->head_cell()[pos + k] : none::cell();
            v.clear_new_line();
            if (Unwind code = set_loop_word(loop_word(words, k), v)) return code;
        }
        return STEP_GO;
    }
    if (remaining(series) <= 0) return STEP_END;
    uint32_t pos = series->w1;
    int64_t left = remaining(series);
    series->w1 = pos + count;
    for (uint32_t k = 0; k < count; ++k) {
        Cell v = int64_t(k) < left ? value_at(series, pos + k) : none::cell();
        v.clear_new_line();
        if (Unwind code = set_loop_word(loop_word(words, k), v)) return code;
    }
    return STEP_GO;
}

// A map's next live entry from cell position `*pos` (key/value pairs);
// sets the two words and advances; STEP_END when no entry is left.
uint32_t map_step(const Cell* words, Cell* map, uint32_t* pos) {
    uint32_t n = cells_of(map);
    while (*pos + 1 < n) {
        Cell key = *block::cells_at(map, *pos);
        Cell value = *block::cells_at(map, *pos + 1);
        *pos += 2;
        if (value.header == 0) continue;  // a removed entry
        if (key.type() == TYPE_SET_WORD) key.set_type(TYPE_WORD);
        key.clear_new_line();
        value.clear_new_line();
        if (Unwind code = set_word(loop_word(words, 0), key)) return code;
        return step_of(set_word(loop_word(words, 1), value));
    }
    return STEP_END;
}

}  // namespace

// ---- Conditionals ------------------------------------------------------------------------------

Unwind if_(const int32_t*) {
    if (lenient_true(arg(0))) return interpreter::eval_branch(arg(1));
    result_none();
    return UNWIND_NONE;
}

Unwind unless(const int32_t*) {
    if (!lenient_true(arg(0))) return interpreter::eval_branch(arg(1));
    result_none();
    return UNWIND_NONE;
}

Unwind either(const int32_t*) {
    return interpreter::eval_branch(strict_true(arg(0)) ? arg(1) : arg(2));
}

// The expressions of the block argument evaluated until one's truth is
// `stop_on`; the result is the last value when it is true, else none (an
// empty block gives none).
static Unwind truth_run(bool stop_on) {
    return interpreter::eval_truth(arg(0), stop_on, arg(0));
}

Unwind any(const int32_t*) {
    return truth_run(true);
}

Unwind all(const int32_t*) {
    return truth_run(false);
}

// ---- Loops ------------------------------------------------------------------------------------------
//
// Every loop native is the one skeleton below with its own steps: the loop
// frame goes above the arguments, then each pass runs the `next` step (set
// the words, advance the counter; STEP_END ends the loop), evaluates the
// body into the frame's base and hands the pass's end to the `after` step
// (STEP_END ends the loop). break ends the loop with its value already in
// the base; return, exit and throw go on upward untouched. A step whose
// word write runs a hook answers the hook's exit code, which counts as the
// pass's: break ends the loop, continue goes to the next pass. The natives take their
// argument cells before pushing the frame, which moves the argument base.

namespace {

enum LoopEnd { LOOP_DONE, LOOP_BROKE };

// Runs the passes under the loop frame the caller pushed; *out receives a
// code that must travel on (0 when the loop ended here).
template <class Next, class After>
[[gnu::always_inline]] inline LoopEnd run_passes(const Cell* body, Unwind* out, Next next, After after) {
    *out = UNWIND_NONE;
    for (;;) {
        uint32_t step = next();
        Unwind code;
        if (step == STEP_GO) [[likely]]
            code = interpreter::eval_pass(body);
        else if (step == STEP_END)
            return LOOP_DONE;
        else
            code = Unwind(step);
        if (code == UNWIND_BREAK) return LOOP_BROKE;
        if (code && code != UNWIND_CONTINUE) {
            *out = code;
            return LOOP_DONE;
        }
        step = after(code == UNWIND_CONTINUE);
        if (step == STEP_GO) [[likely]]
            continue;
        if (step == STEP_END) return LOOP_DONE;
        if (step == UNWIND_BREAK) return LOOP_BROKE;
        if (step != UNWIND_CONTINUE) {
            *out = Unwind(step);
            return LOOP_DONE;
        }
    }
}
constexpr auto always = [] { return STEP_GO; };
constexpr auto go_on = [](bool) { return STEP_GO; };

// The loop frame. The bodies run in it (eval_pass), so it counts as a
// frame the interpreter evaluates in.
inline void mark_loop_frame() {
    stack::mark_loop(&body_word());
    stack::ctop()->header |= stack::FRAME_EVALUATING;
}

// The loop frame, with unset in its base: the result when no pass runs.
inline void open_loop() {
    mark_loop_frame();
    *stack::arg_base = unset::cell();
    stack::top = stack::arg_base + 1;
}

// The end of a loop native: a code that travels on leaves the stacks to its
// target; otherwise the loop frame goes and its base holds the result.
inline Unwind close_loop(Unwind code) {
    if (code) return code;
    stack::unwind_last();
    return UNWIND_NONE;
}

// ---- The loop steps (also what each pass of the natives does).

// repeat-next: the counter word set to the pass's number.
inline uint32_t repeat_next(const Cell& word, const LoopSlot& slot, int64_t i) {
    if (Cell* at = slot.get(word)) [[likely]] {
        *at = integer::cell(int32_t(i));
        return STEP_GO;
    }
    return step_of(set_word(word, integer::cell(int32_t(i))));
}

// forall-next: after a pass, the word must still refer to the loop's series
// (the same buffer); its position advances by one.
uint32_t forall_next(const Cell& word, const Cell* start) {
    Cell now = *context::get_word(&word);
    if (now.type() != start->type() || now.w2 != start->w2) fire({"script", "bad-loop-series"}, now);
    now.w1 += 1;
    return step_of(set_word(word, now));
}

// remove-each-step: after a pass whose value is truthy, the values just
// visited are removed and the cursor moves back over them.
// The removal may run an owner's handler: its exit code.
uint32_t remove_each_step(Cell* cursor, uint32_t before, uint32_t visited) {
    if (!lenient_true(stack::arg_base)) return STEP_GO;
    Cell* saved = stack::top;
    Cell* at = stack::push(*cursor);
    at->w1 = before;
    Cell* part = visited > 1 ? stack::push(integer::cell(int32_t(visited))) : nullptr;
    if (Unwind code = actions::remove(at, part, nullptr)) return code;
    stack::top = saved;
    cursor->w1 = before;
    return STEP_GO;
}

}  // namespace

Unwind while_(const int32_t*) {
    Cell* cond = arg(0);
    Cell* body = arg(1);
    Unwind cond_code = UNWIND_NONE;
    mark_loop_frame();
    Unwind code;
    run_passes(
        body, &code,
        [&] {
            // A condition of one expression needing no evaluation step
            // (`i < n`) is computed without the block's evaluation.
            uint32_t next;
            if (interpreter::quick_value(cond, cond->w1, stack::arg_base, &next) && next == cells_of(cond)) {
                stack::top = stack::arg_base + 1;
                return strict_true(stack::arg_base) ? STEP_GO : STEP_END;
            }
            cond_code = interpreter::eval_pass(cond);
            if (cond_code == UNWIND_BREAK || cond_code == UNWIND_CONTINUE) fire({"throw", "while-cond"});
            return !cond_code && strict_true(stack::arg_base) ? STEP_GO : STEP_END;
        },
        go_on);
    if (cond_code) return cond_code;
    if (code) return code;
    stack::unwind_drop();
    result(unset::cell());
    stack::top = stack::arg_base + 1;
    return UNWIND_NONE;
}

Unwind until(const int32_t*) {
    Cell* body = arg(0);
    mark_loop_frame();
    Unwind code;
    // A pass ended by continue is not tested.
    run_passes(body, &code, always,
               [](bool cont) { return cont || !strict_true(stack::arg_base) ? STEP_GO : STEP_END; });
    return close_loop(code);
}

Unwind loop(const int32_t*) {
    Cell* body = arg(1);
    int64_t count = loop_count(arg(0));
    if (count <= 0) {
        result_none();
        return UNWIND_NONE;
    }
    mark_loop_frame();
    Unwind code;
    int64_t i = 0;
    run_passes(body, &code, [&] { return i++ < count ? STEP_GO : STEP_END; }, go_on);
    return close_loop(code);
}

Unwind repeat(const int32_t*) {
    Cell* body = arg(2);
    Cell word = *arg(0);
    int64_t count = loop_count(arg(1));
    if (count <= 0) {
        result_none();
        return UNWIND_NONE;
    }
    mark_loop_frame();
    Unwind code;
    int64_t i = 0;
    const LoopSlot slot(word);
    auto next = [&] {
        if (++i > count) return STEP_END;
        return repeat_next(word, slot, i);
    };
    run_passes(body, &code, next, go_on);
    return close_loop(code);
}

Unwind forever(const int32_t*) {
    Cell* body = arg(0);
    mark_loop_frame();
    Unwind code;
    run_passes(body, &code, always, go_on);
    return close_loop(code);
}

Unwind foreach (const int32_t*) {
    Cell* body = arg(2);
    Cell* words = arg(0);
    Cell* series = arg(1);  // its position advances in place
    uint32_t count = loop_words(words);
    bool is_map = series->type() == TYPE_MAP;
    if (is_map && (words->type() != TYPE_BLOCK || count != 2)) fire({"script", "invalid-arg"}, *words);
    uint32_t map_pos = 0;
    open_loop();
    Unwind code;
    if (words->type() == TYPE_WORD && is_any_block(series->type())) {
        // One word over a block, the commonest form: foreach_step's block
        // case for a single word. The word is taken once (its argument cell
        // does not change while the loop runs).
        const Cell word = *words;
        const LoopSlot word_slot(word);
        const Off node = series->w2;
        auto next = [&] {
            uint32_t pos = series->w1;
            const SeriesBuffer* b = buffer_of(node);
            if (pos >= (b->byte_count() >> 4)) return STEP_END;
            const Cell* from = b->head_cell() + pos;
            series->w1 = pos + 1;
            // Straight into the word's slot (no allocation between the
            // read and the write), the new-line mark cleared there.
            if (Cell* slot = word_slot.get(word)) [[likely]] {
                std::memmove(static_cast<void*>(slot), from, sizeof(Cell));
                slot->clear_new_line();
                return STEP_GO;
            }
            Cell v = *from;
            v.clear_new_line();
            return step_of(set_word(word, v));
        };
        run_passes(body, &code, next, go_on);
    } else {
        run_passes(
            body, &code,
            [&] { return is_map ? map_step(words, series, &map_pos) : foreach_step(words, count, series); },
            go_on);
    }
    return close_loop(code);
}

Unwind forall(const int32_t*) {
    Cell* body = arg(1);
    Cell word = *arg(0);
    Cell* start = stack::push(*context::get_word(&word));  // the series as given (argument area)
    if (!is_series(start->type())) {
        fire({"script", "expect-arg"}, word::load("forall"), datatype::cell(start->type()), series::arg_word("word"));
    }
    open_loop();
    Unwind code;
    LoopEnd end = run_passes(
        body, &code,
        [&] {
            Cell current = *context::get_word(&word);
            return remaining(&current) > 0 ? STEP_GO : STEP_END;
        },
        [&](bool) { return forall_next(word, start); });
    if (code) return code;
    Cell saved = *start;
    stack::unwind_last();
    if (end != LOOP_BROKE) return set_word(word, saved);  // forall-end
    return UNWIND_NONE;
}

Unwind remove_each(const int32_t*) {
    Cell* body = arg(2);
    Cell* words = arg(0);
    Cell* data = arg(1);
    uint32_t count = loop_words(words);
    if (data->type() == TYPE_MAP || !is_series(data->type())) fire({"script", "invalid-arg"}, *data);
    Cell* given = stack::push(*data);  // the result: the series at its original position
    Cell* cursor = stack::push(*data);
    open_loop();
    Unwind code;
    uint32_t before = 0, visited = 0;
    run_passes(
        body, &code,
        [&] {
            before = cursor->w1;
            int64_t left = remaining(cursor);
            visited = uint32_t(left < int64_t(count) ? left : count);
            return foreach_step(words, count, cursor);
        },
        [&](bool cont) {
            return cont ? STEP_GO : remove_each_step(cursor, before, visited);  // continue removes nothing
        });
    if (code) return code;
    Cell out = *given;
    stack::unwind_drop();
    result(out);
    stack::top = stack::arg_base + 1;
    return UNWIND_NONE;
}

// ---- switch and case ----------------------------------------------------------------------------

Unwind switch_(const int32_t* refs) {
    Cell* value = arg(0);
    Cell cases = *arg(1);
    uint32_t n = cells_of(&cases);
    if (value->type() != TYPE_BLOCK) {
        Cell* probe = stack::push(none::cell());
        for (uint32_t i = cases.w1; i < n; ++i) {
            Cell c = *block::cells_at(&cases, i);
            if (c.type() != value->type()) continue;
            *probe = c;
            if (!actions::compare(value, probe, COMP_EQUAL)) continue;
            n = cells_of(&cases);
            for (uint32_t k = i + 1; k < n; ++k) {
                Cell b = *block::cells_at(&cases, k);
                if (b.type() == TYPE_BLOCK) {
                    *probe = b;
                    return interpreter::eval_branch(probe);
                }
            }
            result_none();
            return UNWIND_NONE;
        }
    }
    if (Cell* fallback = Refs<N_SWITCH>{refs}.arg<"default">()) return interpreter::eval_branch(fallback);
    result_none();
    return UNWIND_NONE;
}

Unwind case_(const int32_t* refs) {
    bool all = Refs<N_CASE>{refs}.has<"all">();
    Cell blk = *arg(0);
    uint32_t i = blk.w1;
    Cell last = none::cell();
    bool matched = false;
    while (i < cells_of(&blk)) {
        Cell* mark = stack::top;
        if (Unwind code = interpreter::eval_next(&blk, i, &i)) return code;
        Cell cond = *mark;
        stack::top = mark;
        if (i >= cells_of(&blk)) fire({"script", "need-value"}, fixed::symbol_words[fixed::SW_CASE]);
        matched = false;
        if (!strict_true(&cond)) {
            ++i;
            continue;
        }
        Cell next = *block::cells_at(&blk, i);
        if (next.type() == TYPE_BLOCK) {
            ++i;
            if (Unwind code = interpreter::eval(&next, false)) return code;
        } else {
            if (Unwind code = interpreter::eval_next(&blk, i, &i)) return code;
        }
        last = *mark;
        stack::top = mark;
        matched = true;
        if (!all) {
            result(last);
            return UNWIND_NONE;
        }
    }
    result(all && matched ? last : none::cell());
    return UNWIND_NONE;
}

}  // namespace kiv::natives
