// Raising language errors.
//
// `fire` builds an error! value from a catalog category and id (with up to
// three argument cells; datatypes/error.h) and unwinds to the nearest try or
// catch frame. Unwinding is the one C++ exception type RaisedError, caught
// only at those frames and at the top level; break, continue, return, exit
// and throw never use it. The stacks are left as they were at the fire point
// (runtime/stack.h): the frame that catches restores them with
// stack::catch_at, and an error passed on from there goes through
// stack::throw_error.
//
// RaisedError carries the error! value and, for code that only needs to know
// which error it is, the category and id names and the argument cells. Before
// the error values can be built (early start-up, before the symbol table and
// the fixed words exist) `value` is none! and only the names are known.
//
// When fire runs, the error's `stack` field receives the call-frame position
// (its `where` is left to the frame that takes the error, which owns the
// throw position read by word::caller); the error stays reachable for
// the collector (one root cell) until the next error is raised.
#pragma once

#include <string>

#include "runtime/cell.h"
#include "runtime/error_catalog_table.h"

namespace kiv {

struct RaisedError {
    std::string category;  // catalog category word, e.g. "internal"
    std::string id;        // catalog id word, e.g. "no-memory"
    Cell args[3];
    int arg_count;
    Cell value{TYPE_NONE, 0, 0, 0};  // the error! value (none! before error values exist)
};

// A catalog error named by its category and id words, as in
// fire({"script", "expect-arg"}, ...). The pair is looked up in the catalog
// when the call is compiled: a name the catalog does not have does not
// compile.
struct ErrorId {
    const char* category;
    const char* id;
    consteval ErrorId(const char* c, const char* i) : category(c), id(i) {
        if (!error_catalog::table::known(c, i)) throw "not an error of the catalog";
    }

  private:
    template <int>
    friend struct IdIn;
    struct Checked {};
    constexpr ErrorId(Checked, const char* c, const char* i) : category(c), id(i) {}
};

// An id of one category, for helpers that raise several errors of it:
// IdIn<CAT_SCRIPT> takes "no-value" and is checked the same way.
template <int Category>
struct IdIn {
    const char* id;
    consteval IdIn(const char* i) : id(i) {
        if (!error_catalog::table::known(error_catalog::table::CATEGORIES[Category].name, i))
            throw "not an error of the catalog";
    }
    constexpr operator ErrorId() const {
        return ErrorId(ErrorId::Checked{}, error_catalog::table::CATEGORIES[Category].name, id);
    }
};

[[noreturn]] void fire(ErrorId e);
[[noreturn]] void fire(ErrorId e, const Cell& a1);
[[noreturn]] void fire(ErrorId e, const Cell& a1, const Cell& a2);
[[noreturn]] void fire(ErrorId e, const Cell& a1, const Cell& a2, const Cell& a3);

// The tracer's error event (mask 0x1000), sent by fire with the error value
// when tracing is on. Installed by the interpreter; null: no tracing.
using ErrorTracer = void (*)(const Cell& error);
extern ErrorTracer trace_error;

// Builds the error! value that fire raises (none! when it cannot): the error
// datatype installs it when it registers (datatypes/error.cpp), and sets the
// error's `stack` field and keeps it reachable there. Null before that:
// errors carry only their names. An error raised while it runs is raised
// without a value, with the stacks restored.
using ErrorValueBuilder = Cell (*)(const char* category, const char* id, const Cell* args, int n);
extern ErrorValueBuilder build_error_value;

// raised_text, the formed text of a RaisedError, is in datatypes/error.h.

}  // namespace kiv
