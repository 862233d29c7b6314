// Raising language errors.
//
// `fire` builds an error from a catalog category and id (with up to three
// argument cells) and unwinds to the nearest try or catch frame. Unwinding is
// the one C++ exception type RaisedError, caught only at those frames and at
// the top level; break, continue, return, exit and throw never use it.
//
// Until error! values exist the exception carries the category and id names
// and the argument cells; the error-value layer turns them into an error!.
#pragma once

#include <string>

#include "runtime/cell.h"

namespace kiv {

struct RaisedError {
    std::string category;  // catalog category word, e.g. "internal"
    std::string id;        // catalog id word, e.g. "no-memory"
    Cell args[3];
    int arg_count;
};

[[noreturn]] void fire(const char* category, const char* id);
[[noreturn]] void fire(const char* category, const char* id, const Cell& a1);
[[noreturn]] void fire(const char* category, const char* id, const Cell& a1, const Cell& a2);
[[noreturn]] void fire(const char* category, const char* id, const Cell& a1, const Cell& a2,
                       const Cell& a3);

}  // namespace kiv
