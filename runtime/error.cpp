#include "runtime/error.h"

#include "runtime/lowlevel.h"
#include "runtime/stack.h"

namespace kiv {

ErrorTracer trace_error = nullptr;
ErrorValueBuilder build_error_value = nullptr;

namespace {

// Set while an error value is being built: an error raised meanwhile (the
// build itself failing) is raised without a value instead of recursing.
bool building = false;

[[noreturn]] void raise(const char* category, const char* id, const Cell* args, int n) {
    RaisedError e{category, id, {}, n};
    for (int i = 0; i < n; ++i) e.args[i] = args[i];
    // An error while the value of another is built: back to the builder,
    // with the stacks left for it to restore.
    if (building) throw e;
    {
        building = true;
        Cell* saved_top = stack::top;
        Cell* saved_base = stack::arg_base;
        stack::Frame* saved_frames = stack::frames_top;
        try {
            if (build_error_value) e.value = build_error_value(category, id, args, n);
            if (e.value.type() == TYPE_ERROR && trace_error) {
                uint32_t saved = lowlevel::system_record.thrown;
                lowlevel::system_record.thrown = 0;
                trace_error(e.value);
                lowlevel::system_record.thrown = saved;
            }
        } catch (const RaisedError&) {
            e.value = Cell{TYPE_NONE, 0, 0, 0};
            stack::top = saved_top;
            stack::arg_base = saved_base;
            stack::frames_top = saved_frames;
        }
        building = false;
    }
    // The stacks stay as they were at the fire point (the catching try or
    // the top level restores them with stack::catch_at); re-raising an
    // error that no frame took goes through stack::throw_error.
    throw e;
}

}  // namespace

void fire(ErrorId e) {
    raise(e.category, e.id, nullptr, 0);
}
void fire(ErrorId e, const Cell& a1) {
    Cell a[1] = {a1};
    raise(e.category, e.id, a, 1);
}
void fire(ErrorId e, const Cell& a1, const Cell& a2) {
    Cell a[2] = {a1, a2};
    raise(e.category, e.id, a, 2);
}
void fire(ErrorId e, const Cell& a1, const Cell& a2, const Cell& a3) {
    Cell a[3] = {a1, a2, a3};
    raise(e.category, e.id, a, 3);
}

}  // namespace kiv
