// Tracing: do/trace's callback or a C++ receiver, the event filter, and the
// events the interpreter, parse and the lexer send (fire_event). The loop
// tests the mask inline (KIV_TRACE in interpreter_internal.h) and calls
// send_event only for an event that is wanted.
#include "datatypes/block.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/interpreter_internal.h"
#include "runtime/error.h"
#include "runtime/root.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::interpreter {

using namespace detail;

namespace detail {

TraceHook trace_hook = nullptr;
bool trace_established = false;
uint32_t callback_slot = 0;

}  // namespace detail

namespace {

void trace_error_event(const Cell& error) {
    if (!tracing || !(trace_mask & EV_ERROR)) return;
    Cell e = error;
    (void)fire_event(EV_ERROR, nullptr, -1, &e, nullptr);  // an exit it asks for cannot travel from here
}

// The Kiv trace callback and its event filter.
uint32_t callback_mask(const Cell& callback) {
    Cell body = function::body_of(&callback);
    if (body.type() != TYPE_BLOCK || block::cells_length(&body) == 0) return 0xFFFF;
    Cell first = *block::cells_at(&body, body.w1);
    if (first.type() != TYPE_BLOCK) return 0xFFFF;
    uint32_t mask = 0;
    uint32_t n = series::count(first.w2);
    for (uint32_t i = first.w1; i < n; ++i) {
        Cell w = *block::cells_at(&first, i);
        if (w.type() != TYPE_WORD) continue;
        uint32_t s = symbol::resolve(w.w2);
        for (uint32_t bit = 1; bit <= EV_EXPR; bit <<= 1)
            if (symbol::resolve(event_word(bit).w2) == s) mask |= bit;
    }
    return mask;
}

}  // namespace

Cell event_word(uint32_t event) {
    switch (event) {
        case EV_INIT:
            return fixed::words[fixed::W_INIT];
        case EV_END:
            return fixed::symbol_words[fixed::SW_END];
        case EV_PROLOG:
            return fixed::words[fixed::W_PROLOG];
        case EV_EPILOG:
            return fixed::words[fixed::W_EPILOG];
        case EV_ENTER:
            return fixed::words[fixed::W_ENTER];
        case EV_EXIT:
            return fixed::words[fixed::W_EXIT];
        case EV_OPEN:
            return fixed::words[fixed::W_OPEN];
        case EV_RETURN:
            return fixed::words[fixed::W_RETURN];
        case EV_FETCH:
            return fixed::words[fixed::W_FETCH];
        case EV_PUSH:
            return fixed::words[fixed::W_PUSH];
        case EV_SET:
            return fixed::symbol_words[fixed::SW_SET];
        case EV_CALL:
            return fixed::words[fixed::W_CALL];
        case EV_ERROR:
            return fixed::words[fixed::W_ERROR];
        case EV_THROW:
            return fixed::words[fixed::W_THROW];
        case EV_CATCH:
            return fixed::words[fixed::W_CATCH];
        case EV_EXPR:
            return fixed::words[fixed::W_EXPR];
        default:
            return none::cell();
    }
}

TraceState trace_state() {
    return TraceState{trace_established, trace_mask, trace_hook, callback_slot};
}

void restore_trace(const TraceState& saved) {
    trace_established = saved.on;
    tracing = saved.on;
    trace_mask = saved.mask;
    trace_hook = saved.hook;
    trace_error = tracing ? trace_error_event : nullptr;
}

Unwind trace_begin(const Cell* callback) {
    Cell cb = *callback;
    if (cb.type() != TYPE_FUNCTION) fire({"script", "invalid-arg"}, cb);
    *root::at(callback_slot) = cb;
    trace_hook = nullptr;
    trace_mask = callback_mask(cb);
    trace_established = true;
    tracing = true;
    trace_error = trace_error_event;
    return fire_event(EV_INIT, nullptr, -1, nullptr, nullptr);
}

void trace_begin_hook(TraceHook hook, uint32_t mask) {
    trace_hook = hook;
    trace_mask = mask;
    trace_established = true;
    tracing = true;
    trace_error = trace_error_event;
    (void)fire_event(EV_INIT, nullptr, -1, nullptr, nullptr);  // a C++ receiver runs no Kiv code
}

Unwind trace_end() {
    // Tracing ends even when the end event raises an error (a stack
    // overflow that ends the traced code can still be in force while the
    // callback runs): the state is reset on every way out.
    struct Reset {
        ~Reset() {
            tracing = false;
            trace_established = false;
            trace_error = nullptr;
        }
    } reset;
    return fire_event(EV_END, nullptr, -1, nullptr, nullptr);
}

Unwind fire_event(uint32_t event, const Cell* code, int32_t offset, const Cell* value, const Cell* ref) {
    if (!tracing || !(trace_mask & event)) return UNWIND_NONE;
    Cell none_cell = none::cell();
    Cell code_v = code ? *code : none_cell;
    Cell value_v = value && value->type() != TYPE_UNSET ? *value : none_cell;
    Cell ref_v = ref ? *ref : none_cell;
    int32_t base = int32_t(stack::index_of(stack::arg_base));
    int32_t top = int32_t(stack::index_of(stack::top));
    struct Resume {
        ~Resume() { tracing = true; }
    } resume;
    tracing = false;  // no events from the callback itself
    Cell* saved_top = stack::top;
    stack::Frame* saved_frames = stack::frames_top;
    if (trace_hook) {
        trace_hook(event, code_v, code ? offset : -1, value_v, ref_v, base, top);
        stack::top = saved_top;
        return UNWIND_NONE;
    }
    Cell cb = *root::at(callback_slot);
    if (cb.type() != TYPE_FUNCTION) return UNWIND_NONE;
    Cell* args = stack::top;
    stack::push(event_word(event));
    stack::push(code_v);
    stack::push(Cell{TYPE_INTEGER, 0, uint32_t(code ? offset : -1), 0});
    stack::push(value_v);
    stack::push(ref_v);
    stack::push(Cell{TYPE_PAIR, 0, uint32_t(base), uint32_t(top)});
    const Cell& frame_name = fixed::words[fixed::W_INTERP_CALLBACK];
    if (Unwind c = call_pushed(&frame_name, &cb, args, false)) return c;
    stack::top = saved_top;
    stack::frames_top = saved_frames;
    return UNWIND_NONE;
}

}  // namespace kiv::interpreter
