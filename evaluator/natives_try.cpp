// try, catch and the natives that start non-local exits: break, continue,
// exit, return and throw.
//
// The exits travel as unwind codes (runtime/stack.h): the stack::throw_*
// operation finds the target frame, trims both stacks to it and returns the
// code, which every evaluating caller hands up unchanged until the owner of
// the target frame. The exit natives only choose the code and leave the
// carried value where the unwinders read it (the argument base).
//
// Errors travel as the C++ exception RaisedError. A try catches it at its own
// frame and restores both stacks with stack::catch_at. A catch does not catch
// errors at all: an error passes through it, and the frame that takes it
// pops the catch frame with everything else above itself.
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/fixed_words.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/natives_impl.h"
#include "runtime/stack.h"

namespace kiv::natives {

namespace {

// The error value of a caught error; errors raised before error values
// existed are built now.
Cell error_value(const RaisedError& e) {
    if (e.value.type() == TYPE_ERROR) return e.value;
    Cell* saved = stack::top;
    Cell v = Cell{TYPE_NONE, 0, 0, 0};
    try {
        v = error::create_named(e.category.c_str(), e.id.c_str(), e.args, e.arg_count);
    } catch (const RaisedError&) {
        v = Cell{TYPE_NONE, 0, 0, 0};
    }
    stack::top = saved;
    return v;
}

// The "no catch for throw:" error, which a try/all barrier answers with the
// thrown value.
bool is_uncaught_throw(const RaisedError& e) {
    return e.category == "throw" && e.id == "throw";
}

// Records the call trace in the error's stack field while the frames of the
// fire point are still on the stack (only when stack tracing is on).
void keep_trace(const Cell& err) {
    if (err.type() != TYPE_ERROR) return;
    if (!error::trace_level || error::trace_level() <= 0) return;
    Cell* saved = stack::top;
    Cell* e = stack::push(err);
    error::capture_stack(e);
    stack::top = saved;
}

// The error's `where` becomes the word of the call it was raised in (when
// still none), read while the frames of the fire point are on the stack.
void fill_where(const Cell& err) {
    if (err.type() != TYPE_ERROR) return;
    Cell* saved = stack::top;
    Cell* e = stack::push(err);
    Cell caller = word::caller();
    error::set_where(e, &caller);
    stack::top = saved;
}

bool same_name(const Cell& a, const Cell& b) {
    return symbol::resolve(a.w2) == symbol::resolve(b.w2);
}

}  // namespace

// ---- try ---------------------------------------------------------------------------------

Unwind try_(const int32_t* refs) {
    Refs<N_TRY> r{refs};
    bool all = r.has<"all">();
    bool keep = r.has<"keep">();
    Cell* base = stack::arg_base;
    if (stack::top < base + 1) stack::top = base + 1;
    const Cell* name = &fixed::words[fixed::W_TRY];
    if (all) {
        stack::mark_try_all(name);
    } else {
        stack::mark_try(name);
    }
    stack::Frame* frame = stack::ctop();
    Unwind code;
    try {
        code = interpreter::eval(base, false);
    } catch (const RaisedError& e) {
        Cell result;
        if (all && is_uncaught_throw(e) && e.arg_count > 0) {
            // try/all is a barrier no throw crosses: the throw that met it
            // ends here with its value (and with it the throw's position).
            result = e.args[0];
            stack::throw_position = nullptr;
        } else {
            result = error_value(e);
            fill_where(result);
            if (keep) keep_trace(result);
        }
        stack::catch_at(frame);
        *stack::arg_base = result;
        stack::top = stack::arg_base + 1;
        return UNWIND_NONE;
    }
    // A break, continue, return, exit or throw passes on: the stacks are
    // already trimmed to its target and this frame is gone.
    if (code) return code;
    stack::unwind_last();
    stack::keep();
    return UNWIND_NONE;
}

void try_end(stack::Frame* frame, const RaisedError& caught, bool keep) {
    Cell err = error_value(caught);
    fill_where(err);
    if (keep) keep_trace(err);
    if (is_uncaught_throw(caught)) throw caught;
    stack::catch_at(frame);
    *stack::arg_base = err;
    stack::top = stack::arg_base + 1;
}

// ---- catch -------------------------------------------------------------------------------

Unwind catch_(const int32_t* refs) {
    bool named = Refs<N_CATCH>{refs}.has<"name">();
    Cell* base = stack::arg_base;
    if (stack::top < base + 2) stack::top = base + 2;
    Cell* body = stack::mark_catch(&fixed::words[fixed::W_BODY]);
    stack::Frame* frame = stack::ctop();
    if (named) frame->header |= stack::FRAME_NAMED_CATCH;
    Unwind code = interpreter::eval(base, false);
    if (code == 0) {
        stack::unwind_last();
        stack::keep();
        return UNWIND_NONE;
    }
    // A throw bound for a catch further down passes by: the stacks were
    // trimmed to its target, which is not this frame.
    if (code != UNWIND_THROW || stack::ctop() != frame) return code;
    // The throw stopped at this frame: its value at the frame's base, its
    // name (none when unnamed) in the next cell.
    bool accepted = true;
    if (named) {
        const Cell& thrown_name = body[1];
        const Cell& want = base[1];
        accepted = false;
        if (want.type() == TYPE_BLOCK) {
            Cell list = want;
            uint32_t n = block::cells_length(&list);
            for (uint32_t i = 0; i < n; ++i) {
                Cell w = *block::cells_at(&list, list.w1 + i);
                if (w.type() != TYPE_WORD)
                    fire({"script", "invalid-refine-arg"}, fixed::words[fixed::W_NAME], list);
                if (thrown_name.type() == TYPE_WORD && same_name(w, thrown_name)) accepted = true;
            }
        } else {
            accepted = thrown_name.type() == TYPE_WORD && same_name(want, thrown_name);
        }
    }
    if (!accepted) {
        // On toward the next catch: this frame counts as the throw's own
        // and is dropped by the search, the name stays beside the value.
        return stack::throw_value(UNWIND_THROW);
    }
    if (interpreter::tracing) {
        Cell value = body[0];
        Cell none{TYPE_NONE, 0, 0, 0};
        Unwind c = interpreter::fire_event(interpreter::EV_CATCH, &none, -1, &value, &none);
        if (c) return c;
    }
    // The throw ends here: the frame it started from is gone, and a later
    // error must not take its `where` from there.
    stack::throw_position = nullptr;
    stack::unwind_last();
    stack::keep();
    return UNWIND_NONE;
}

// ---- throw and the loop and function exits ----------------------------------------------

Unwind throw_(const int32_t* refs) {
    Cell* base = stack::arg_base;
    // The name travels in the cell after the value: none when unnamed.
    if (stack::top < base + 2) stack::top = base + 2;
    if (!Refs<N_THROW>{refs}.has<"name">()) base[1] = Cell{TYPE_NONE, 0, 0, 0};
    if (interpreter::tracing) {
        Cell value = base[0];
        Cell name = base[1];
        Cell none{TYPE_NONE, 0, 0, 0};
        Unwind c = interpreter::fire_event(interpreter::EV_THROW, &none, -1, &value, &name);
        if (c) return c;
    }
    return stack::throw_value(UNWIND_THROW);
}

Unwind break_(const int32_t* refs) {
    if (stack::top < stack::arg_base + 1) stack::top = stack::arg_base + 1;
    return stack::throw_break(Refs<N_BREAK>{refs}.has<"return">(), false);
}

Unwind continue_(const int32_t*) {
    if (stack::top < stack::arg_base + 1) stack::top = stack::arg_base + 1;
    return stack::throw_break(false, true);
}

Unwind exit_(const int32_t*) {
    if (stack::top < stack::arg_base + 1) stack::top = stack::arg_base + 1;
    return stack::throw_exit(false, false);
}

Unwind return_(const int32_t*) {
    return stack::throw_exit(true, false);
}

}  // namespace kiv::natives
