// Runs a Kiv program text inside a fuzz target: loads and evaluates it under
// a try frame, so that an error ends the run the way a script's uncaught
// error does, then puts the stacks back and checks that no frame was left
// on them. `check` reports a failed condition (and aborts).
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/none.h"
#include "evaluator/interpreter.h"
#include "library/library.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::fuzz {

inline void run_program(const std::string& text, const char* name, void (*check)(bool ok, const char* what)) {
    Cell* saved_top = stack::top;
    Cell* saved_base = stack::arg_base;
    stack::Frame* saved_frames = stack::frames_top;
    Cell* slot = stack::push(none::cell());
    stack::arg_base = slot;
    stack::mark_try(nullptr);
    stack::Frame* frame = stack::ctop();
    try {
        Cell* script_name = library::push_utf8(name);
        Cell* code = library::load_script(reinterpret_cast<const uint8_t*>(text.data()), text.size(), script_name,
                                          nullptr);
        uint32_t status = interpreter::eval(code, false);
        check(status == 0, "an exit left the program");
        stack::catch_at(frame);
    } catch (const RaisedError&) {
        stack::catch_at(frame);
    }
    stack::top = saved_top;
    stack::arg_base = saved_base;
    check(stack::frames_top == saved_frames, "frames left on the stack");
}

}  // namespace kiv::fuzz
