// call: runs a program with its standard streams connected to strings,
// binaries or files (platform/process does the work). /console leaves the
// streams not redirected on this process's terminal. Text goes to the child
// as bytes for the system (UTF-8, escaped bytes as themselves) and comes back
// decoded without loss, CR LF folded to LF, whatever the child wrote to its
// error stream.
#include <string>

#include "datatypes/action_dispatch.h"
#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "platform/process.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::natives {

namespace {

namespace process = platform::process;

// The stream for a refinement's cell: a file! by its path, a string! as
// bytes for the system (input), a binary! by its bytes from the index (input).
process::Stream stream_of(Cell* target, bool input) {
    process::Stream s;
    if (!target) return s;
    if (target->type() == TYPE_FILE) {
        s.kind = process::Stream::FILE;
        s.path = file::os_path(target);
        return s;
    }
    s.kind = process::Stream::BYTES;
    if (!input) return s;
    if (target->type() == TYPE_BINARY) {
        binary::gather(target, -1, false, false, s.bytes);
    } else {
        std::string text = unicode::to_system_bytes(target);
        s.bytes.assign(text.begin(), text.end());
    }
    return s;
}

// Captured bytes into their target: a binary! gets them at its head, a
// string! gets them appended as text: decoded without loss (a byte that is
// not valid UTF-8 is kept as its escape, so neither the output nor the exit
// code is lost to it), CR LF and a lone CR read as LF, as a file read reads
// them. The binary's insert may run its owner's handler: its exit code.
Unwind deliver(Cell* target, const process::Stream& s) {
    if (!target || s.kind != process::Stream::BYTES || s.bytes.empty()) return UNWIND_NONE;
    Cell* saved = stack::top;
    if (target->type() == TYPE_BINARY) {
        Cell* bytes = binary::push_bytes(s.bytes.data(), uint32_t(s.bytes.size()));
        Cell head = *target;
        head.w1 = 0;
        Cell* at = stack::push(head);
        if (Unwind code = actions::insert(at, bytes, -1, false, 1, false)) return code;
    } else {
        Cell* text = stack::push(none::cell());
        *text = Cell{TYPE_STRING, 0, unicode::load_escaped(s.bytes.data(), uint32_t(s.bytes.size()), true), 0};
        string::concatenate(target, text, -1, 0, true, string::CONCAT_APPEND);
    }
    stack::top = saved;
    return UNWIND_NONE;
}

}  // namespace

// call cmd /wait /show /console /shell /input in /output out /error err
Unwind call(const int32_t* refs) {
    Refs<N_CALL> r{refs};
    Cell* base = stack::arg_base;
    std::string command = unicode::to_system_bytes(base);
    if (command.empty()) {
        *base = integer::cell(0);
        stack::top = base + 1;
        return UNWIND_NONE;
    }
    if (command.find('\0') != std::string::npos) fire({"script", "invalid-arg"}, *base);
    Cell* in = r.arg<"input">();
    Cell* out = r.arg<"output">();
    Cell* err = r.arg<"error">();
    process::Stream sin = stream_of(in, true), sout = stream_of(out, false), serr = stream_of(err, false);
    process::Result result = process::run(command, r.has<"shell">(), r.has<"wait">(), r.has<"console">(), sin, sout, serr);
    switch (result.failure) {
        case process::OUTPUT_FILE: fire({"access", "cannot-open"}, *out);
        case process::ERROR_FILE: fire({"access", "cannot-open"}, *err);
        case process::PIPE: fire({"access", "cannot-open"}, *base);
        default: break;
    }
    if (Unwind code = deliver(out, sout)) return code;
    if (Unwind code = deliver(err, serr)) return code;
    *base = integer::cell(int32_t(result.value));
    stack::top = base + 1;
    return UNWIND_NONE;
}

}  // namespace kiv::natives
