// The interpreter's internals shared by its files (interpreter.cpp: blocks,
// expressions, calls and the entries that run them; interpreter_path.cpp:
// paths; interpreter_entries.cpp: the other public entries;
// interpreter_trace.cpp: tracing). Nothing outside the
// interpreter includes this header.
#pragma once

#include <cstdint>

#include "datatypes/context.h"
#include "datatypes/fixed_words.h"
#include "datatypes/call_layout.h"
#include "evaluator/fast_paths.h"
#include "evaluator/interpreter.h"
#include "evaluator/refusal_memo.h"
#include "runtime/arena.h"
#include "runtime/cell.h"
#include "runtime/series.h"

namespace kiv::interpreter::detail {

// The events the trace receivers asked for (meaningful while `tracing`).
extern uint32_t trace_mask;
// Tracing's receivers and state (interpreter_trace.cpp): the C++ receiver,
// tracing as do/trace set it (function flags suspend it), and the root-block
// cell of the Kiv callback (0 before init).
extern TraceHook trace_hook;
extern bool trace_established;
extern uint32_t callback_slot;
// Resets the position the loop reports and sets up its machine-stack guard
// (interpreter.cpp; part of init).
void init_loop_state();

// ---- Code positions ==========================================================================

struct Code {
    Off node;           // block (or path) being evaluated
    uint32_t pos;       // current cell, counted from the buffer head
    uint32_t head;      // the index of the block value (for trace reports)
    uint32_t type;      // the block value's type (for trace reports)
    uint32_t expr = 0;  // start of the expression in progress, while this is the current position
};
inline Cell* cell_at(Off node, uint32_t i) {
    return buffer_of(node)->head_cell() + i;
}
inline uint32_t cell_count(Off node) {
    return buffer_of(node)->byte_count() >> 4;
}
inline Cell code_cell(const Code& c) {
    return Cell{c.type, c.head, c.node, 0};
}

inline const Cell& anon_word() {
    return fixed::words[fixed::W_ANON];
}
inline const Cell& body_word() {
    return fixed::words[fixed::W_BODY];
}

// ---- Trace events

// Sends one event to the receivers; out of line, off the hot paths.
Unwind send_event(uint32_t ev, const Code* c, const Cell* value, const Cell* ref);

#define KIV_TRACE(ev, c, value, ref)                                                              \
    do {                                                                                          \
        if (tracing && (trace_mask & (ev))) [[unlikely]] {                                        \
            if (Unwind trace_code_ = send_event((ev), (c), (value), (ref))) return trace_code_; \
        }                                                                                         \
    } while (0)
// The machine stack left above the guard's floor, in bytes (0 when the
// guard has no floor).
uintptr_t machine_stack_left();

// ---- Value classes

// Types that evaluate to themselves (the default case of eval_expression):
// every type but these (one bit test; type ids are below 64).
constexpr uint64_t NOT_INERT = type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) | type_bit(TYPE_SET_PATH) |
                               type_bit(TYPE_GET_WORD) | type_bit(TYPE_LIT_WORD) | type_bit(TYPE_LIT_PATH) |
                               type_bit(TYPE_GET_PATH) | type_bit(TYPE_PATH) | type_bit(TYPE_PAREN) |
                               type_bit(TYPE_ISSUE) | type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) |
                               type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE) | type_bit(TYPE_OP);
inline bool is_inert(uint32_t type) {
    return !((NOT_INERT >> (type & 63)) & 1);
}

// Word values that a word's evaluation pushes as they are: every type but
// unset, op! and the callables (one bit test, as is_inert).
constexpr uint64_t NOT_PLAIN = type_bit(TYPE_UNSET) | type_bit(TYPE_OP) | type_bit(TYPE_NATIVE) |
                               type_bit(TYPE_ACTION) | type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE);
inline bool is_plain(uint32_t type) {
    return !((NOT_PLAIN >> (type & 63)) & 1);
}

// ---- Words ======================================================================================

// The value of an op! look-ahead candidate without raising anything: null
// unless the word is bound and its value can be read.
inline const Cell* peek_value(const Cell* w) {
    Off ctx = w->w1;
    // An unresolved index (-1) fails each bound test below as unsigned.
    uint32_t idx = w->w3;
    if (ctx == root::global_context) return context::global_value(idx);
    if (!ctx) return nullptr;
    const Cell* cc = context::cell(ctx);
    Off values = cc->w2;
    if (!values) return nullptr;
    if (cc->header & header::STACK_VALUES) {
        // Word 3 holds the cell count of the running call (stack.h); the
        // context layer handles anything beyond it.
        if (idx >= cc->w3) return nullptr;
        return arena::ptr<Cell>(values) + idx;
    }
    const SeriesBuffer* b = buffer_of(values);
    if (idx >= (b->byte_count() >> 4)) return nullptr;
    return b->head_cell() + idx;
}

// The value a word refers to, for reading: the slot read inline when the
// word is bound to a context with values, else through the context layer,
// which raises its errors (no-value, not-defined, not-in-context).
inline Cell word_value(const Cell* w) {
    if (const Cell* v = peek_value(w)) [[likely]]
        return *v;
    return *context::get_word(w);
}

// ---- Calls and paths

// The interpreter's call: opens the frame, fetches the arguments from the
// code (refinements from `path` elements `ref_start` on), runs the value and
// leaves the result in the cell where the frame began. With `infix` the left
// operand is the topmost value and becomes the first argument in place.
Unwind exec_call(const Cell& name, const Cell& fn, Code* c, const Cell* path, uint32_t ref_start,
                 bool infix);
// The call form of a path leading to a function! whose elements name no
// refinement, outside tracing: made as a word's call makes it.
Unwind call_path_function(const Cell& name, const Cell& fn, Code& c);
// The same for a native! or an action! (`system/words/all [...]`).
Unwind call_path_native(const Cell& name, const Cell& fn, Code& c);
// The same for a native! or an action! whose path names refinements from
// element `ref_start` on (`find/case s x`), as exec_call lays them out.
Unwind call_path_refined(const Cell& name, const Cell& fn, Code& c, const Cell& path, uint32_t ref_start);
// The same for a routine! (no refinements).
Unwind call_path_routine(const Cell& name, const Cell& fn, Code& c);

// The value a path's evaluation gives when it reads plain data by direct
// steps (object fields, a block pick) that cannot fail, run code or
// allocate; false when the path must be evaluated.
bool peek_path(const Cell& path, Cell* out);
// The field a set-path assigns by direct object steps: the object, the
// field's index and its value and word cells (valid until the next
// allocation); `current` is the value cell when the value to assign starts
// with the get form of the same path and that field holds plain data, else
// null.
struct FieldTarget {
    Cell obj;
    uint32_t index;
    Cell* value;
    Cell* word;
    const Cell* current;
};
// The target of a set-path by direct object steps; false when the path has
// none (t->current null). Allocates nothing, runs nothing. (The quick
// set-path form inlines the step itself: path_steps.h.)
bool path_set_target(const Cell& path, FieldTarget* t);

// Evaluates a path (get, set or call form); the final value is pushed.
// The call form, the one in expressions, has an entry of its own: the get
// and set forms' direct steps are not in its way.
Unwind walk_call_path(const Cell& path, Code* c);
Unwind walk_data_path(const Cell& path, uint32_t mode, const Cell* value, Code* c);
[[gnu::always_inline]] inline Unwind walk_path(const Cell& path, uint32_t mode, const Cell* value, Code* c) {
    if (mode == PATH_CALL) return walk_call_path(path, c);
    return walk_data_path(path, mode, value, c);
}

}  // namespace kiv::interpreter::detail
