// The interpreter's public entries that do not run the loop themselves:
// set-up, calls of a function value with given arguments, path evaluation
// and the shape of a function's specification. The loop's own entries (eval,
// eval_next, eval_truth, call_pushed ...) are in interpreter.cpp, with the
// quick paths they share.
#include "datatypes/error.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/unset.h"
#include "datatypes/call_layout.h"
#include "evaluator/interpreter.h"
#include "evaluator/interpreter_internal.h"
#include "evaluator/path_steps.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace kiv::interpreter {

using namespace detail;
using namespace spec;

namespace {

// Root-block cell of the last value (an index; 0 before init).
uint32_t last_value_slot = 0;

// ==== Hooks for the object and error layers
// ==================================================================

Unwind object_hook_runner(const Cell* function, Off object_ctx) {
    return run_function(function, object_ctx);
}

Unwind object_block_evaluator(const Cell* block) {
    return eval(block, false);
}

Cell position_for_errors() {
    return current_position();
}

}  // namespace

void init() {
    if (!last_value_slot) {
        root::keep_copy(unset::cell());
        last_value_slot = root::count() - 1;
        root::keep_copy(none::cell());
        callback_slot = root::count() - 1;
    } else {
        *root::at(last_value_slot) = unset::cell();
        *root::at(callback_slot) = none::cell();
    }
    tracing = false;
    trace_established = false;
    trace_mask = 0;
    trace_hook = nullptr;
    forget_fields();
    object::hook_runner = object_hook_runner;
    object::block_evaluator = object_block_evaluator;
    error::current_position = position_for_errors;
    init_loop_state();
}

Unwind call_values(const Cell* fn, const Cell* args, uint32_t count, const Cell* name) {
    Cell f = *fn;
    Cell* first = stack::top;
    for (uint32_t i = 0; i < count; ++i) stack::push(args[i]);
    return call_pushed(name, &f, first, false);
}

Unwind eval_path(const Cell* path, uint32_t mode, const Cell* value, const Cell* block, uint32_t* next) {
    Cell p = *path;
    Cell v = value ? *value : unset::cell();
    if (block && next) {
        Cell b = *block;
        Code c{b.w2, *next, b.w1, b.type()};
        Unwind code = walk_path(p, mode, value ? &v : nullptr, &c);
        *next = c.pos;
        return code;
    }
    return walk_path(p, mode, value ? &v : nullptr, nullptr);
}

Shape shape_of(const Cell* fn_in) {
    Cell fn = source_of(fn_in);
    if (!is_callable(fn.type())) return Shape{0, 0, 0};
    Off spec = typed_spec(&fn);
    const SpecHeader* h = spec_header(spec);
    return Shape{h->fixed, h->refinements, h->frame_cells};
}

int32_t find_refinement(const Cell* fn_in, uint32_t sym) {
    Cell fn = source_of(fn_in);
    if (!is_callable(fn.type())) return -1;
    return find_ref_word(typed_spec(&fn), sym);
}

Cell* last_value() {
    return root::at(last_value_slot);
}

}  // namespace kiv::interpreter
