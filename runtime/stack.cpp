#include "runtime/stack.h"

#include "runtime/arena.h"
#include "runtime/cycles.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/series.h"

namespace kiv::stack {

Cell* bottom = nullptr;
Cell* top = nullptr;
Cell* arg_base = nullptr;
Cell* limit = nullptr;
Frame* frames_bottom = nullptr;
Frame* frames_top = nullptr;
Frame* frames_limit = nullptr;
Frame* throw_position = nullptr;
uint32_t (*canonical_symbol)(uint32_t id) = [](uint32_t id) { return id; };
uint32_t body_symbol = 0;
uint32_t anon_symbol = 0;

namespace {

// The context cell of a context node: the first cell of its buffer.
inline Cell* context_cell(Off context) {
    return buffer_of(context)->head_cell();
}

// Undoes what a type-1 frame did to its function's context.
inline void restore_context(const Frame* f) {
    if (f->type() == FRAME_FUNCTION && f->function_context != 0)
        context_cell(f->function_context)->w2 = f->saved_values;
}

// The base that was in force while `f` was the topmost frame: the saved base
// of the record above it, or the current base when `f` is the topmost frame.
inline Cell* own_base(const Frame* f) {
    return f + 1 == frames_top ? arg_base : saved_base(f + 1);
}

// Pops frames, restoring contexts, until `new_top` is the frame top.
void pop_to(Frame* new_top) {
    while (frames_top > new_top) {
        --frames_top;
        restore_context(frames_top);
    }
}
// Pops every frame above `target`; target stays.
inline void pop_above(Frame* target) {
    pop_to(target + 1);
}

[[noreturn]] void overflow() {
    cycles::reset();
    fire({"internal", "stack-overflow"});
}

}  // namespace

void init() {
    Off data = memory::alloc_fixed_series(DATA_CELLS, sizeof(Cell), 0);
    Off frames = memory::alloc_fixed_series(FRAME_CELLS, sizeof(Cell), 0);
    bottom = arena::ptr<Cell>(buffer_of(data)->data_start());
    limit = bottom + DATA_CELLS;
    top = arg_base = bottom;
    frames_bottom = arena::ptr<Frame>(buffer_of(frames)->data_start());
    frames_top = frames_bottom;
    frames_limit = frames_bottom + FRAME_COUNT;
    throw_position = nullptr;
}

// ---- Data stack ----------------------------------------------------------------

void data_overflow(Cell* attempted_top) {
    // Leave a few cells free for the error report.
    top = attempted_top - bottom > 5 ? attempted_top - 5 : bottom;
    overflow();
}

void pop(uint32_t n) {
    top = uint32_t(top - bottom) > n ? top - n : bottom;
}

void keep_thrown() {
    Cell* t = top_cell();
    if (t->type() == TYPE_ERROR) copy_cell(t, arg_base);
    top = arg_base + 1;
}

// ---- Frames ------------------------------------------------------------------------

void frame_overflow() {
    top = top - bottom > 5 ? top - 5 : bottom;
    overflow();
}

void unwind_checked() {
    Cell* callee = pop_frame(true);  // restores only type-1 frames
    if (frames_top == frames_bottom) {
        arg_base = top = bottom;
    } else {
        top = callee;
    }
}

void unroll(uint32_t type, bool keep) {
    Cell* former = arg_base;
    for (Frame* f = frames_top; f > frames_bottom; --f) {
        Frame* r = f - 1;
        uint32_t t = r->type();
        if (t == type || t == FRAME_TRY_ALL) {
            Cell* base = keep ? own_base(r) : saved_base(r);
            pop_above(r);
            arg_base = base;
            top = former + 1;
            return;
        }
    }
    pop_to(frames_bottom);
    arg_base = top = bottom;
}

void unroll_last(uint32_t type) {
    Cell result = *arg_base;
    unroll(type, true);
    *arg_base = result;
    top = arg_base;
}

// ---- Non-local exits --------------------------------------------------------------

// The nearest frame at or below `from` (a record) satisfying `is_target`, or
// null; a try/all frame met first raises the given throw error.
template <class Pred>
static Frame* search(ptrdiff_t from, Pred is_target, IdIn<error_catalog::CAT_THROW> id, const Cell* arg) {
    for (ptrdiff_t i = from; i >= 0; --i) {
        Frame* r = frames_bottom + i;
        if (is_target(r)) return r;
        if (r->type() == FRAME_TRY_ALL) break;
    }
    if (arg) fire(id, *arg);
    fire(id);
}

// Trims both stacks to `target` (kept) and returns the base that receives the
// carried value.
static Cell* trim_to(Frame* target) {
    Cell* base = own_base(target);
    pop_above(target);
    arg_base = base;
    top = base + 1;
    return base;
}

Unwind throw_break(bool has_value, bool is_continue) {
    Cell value = *arg_base;
    Frame* target = search(
        frames_top - frames_bottom - 1, [](const Frame* r) { return r->type() == FRAME_LOOP; },
        is_continue ? IdIn<error_catalog::CAT_THROW>("continue") : IdIn<error_catalog::CAT_THROW>("break"),
        nullptr);
    Cell* base = trim_to(target);
    *base = has_value && !is_continue ? value : Cell{TYPE_UNSET, 0, 0, 0};
    return is_continue ? UNWIND_CONTINUE : UNWIND_BREAK;
}

Unwind throw_exit(bool has_value, bool from_top) {
    Cell value = *arg_base;
    ptrdiff_t start = frames_top - frames_bottom - 1;
    if (!from_top) --start;  // skip the native frame of return/exit
    Frame* target = search(
        start, [](const Frame* r) { return (r->header & FRAME_RETURN_TARGET) != 0; }, "return", nullptr);
    Cell* base = trim_to(target);
    *base = has_value ? value : Cell{TYPE_UNSET, 0, 0, 0};
    return has_value ? UNWIND_RETURN : UNWIND_EXIT;
}

// Whether the catch frame `r` takes a throw carrying `name` (none when the
// throw is unnamed). A throw passes by the named catches it is not meant
// for, so that with no catch of its own it fails where it was thrown, as an
// error that a try around it catches.
static bool catch_takes(const Frame* r, const Cell& name) {
    if (!(r->header & FRAME_NAMED_CATCH)) return true;
    Cell want = saved_base(r)[1];
    if (want.type() == TYPE_BLOCK) {
        const SeriesBuffer* b = buffer_of(want.w2);
        bool named = false;
        for (const Cell *w = b->head_cell() + want.w1, *end = b->tail_cell(); w < end; ++w) {
            if (w->type() != TYPE_WORD) return true;  // the catch raises invalid-refine-arg
            if (name.type() == TYPE_WORD && canonical_symbol(w->w2) == canonical_symbol(name.w2))
                named = true;
        }
        return named;
    }
    return want.type() == TYPE_WORD && name.type() == TYPE_WORD &&
           canonical_symbol(want.w2) == canonical_symbol(name.w2);
}

Unwind throw_value(Unwind code) {
    Cell value = arg_base[0];
    Cell name = arg_base + 1 < top ? arg_base[1] : Cell{TYPE_NONE, 0, 0, 0};
    ptrdiff_t start = frames_top - frames_bottom - 1;
    if (start >= 0) {
        // throw's own frame: where the error's `where` is taken from when no
        // catch exists.
        if (!throw_position) throw_position = frames_bottom + start;
        --start;
    }
    Frame* target = search(
        start, [&name](const Frame* r) { return r->type() == FRAME_CATCH && catch_takes(r, name); }, "throw",
        &value);
    Cell* base = trim_to(target);
    base[0] = value;
    base[1] = name;
    top = base + 2;
    return code;
}

// ---- Errors -----------------------------------------------------------------------

void catch_at(Frame* frame) {
    if (frame < frames_bottom) return;
    if (frames_top > frame) {
        pop_above(frame);
        --frames_top;
        restore_context(frame);
    }
    arg_base = saved_base(frame);
    top = arg_base + 1;
}

void throw_error(const RaisedError& error) {
    if (frames_top > frames_bottom) {
        Cell* saved_top = top;
        unroll(FRAME_TRY, false);
        if (frames_top > frames_bottom) {
            Frame* f = --frames_top;  // the try frame itself
            restore_context(f);
            arg_base = saved_base(f);
            top = saved_top;
        }
    }
    throw error;
}

void reset_all() {
    pop_to(frames_bottom);
    frames_top = frames_bottom;
    arg_base = top = bottom;
    throw_position = nullptr;
}

// ---- Inspection --------------------------------------------------------------------

bool eval_q(const Frame* frame, bool only_one) {
    for (ptrdiff_t i = (frame ? frame : frames_top) - frames_bottom - 1; i >= 0; --i) {
        if (frames_bottom[i].header & FRAME_EVALUATING) return true;
        if (only_one) break;
    }
    return false;
}

Frame* caller_frame() {
    ptrdiff_t i = (throw_position ? throw_position + 1 : frames_top) - frames_bottom - 1;
    throw_position = nullptr;
    for (; i >= 0; --i) {
        uint32_t s = frames_bottom[i].symbol();
        // Frames without a name word (symbol 0) are anonymous too.
        if (s != 0 && s != body_symbol && s != anon_symbol) return frames_bottom + i;
    }
    return nullptr;
}

}  // namespace kiv::stack
