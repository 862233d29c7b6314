// port!: an object whose series and I/O actions are carried out by its
// scheme's actor, an object of functions named after the actions. The
// datatype does no I/O itself: `make port!` copies the port prototype of
// system/standard, fills `spec` (an object whose first field is the scheme
// name), `scheme` and `actor` (the scheme's fourth field, found by name in
// system/schemes), and every action applied to the port calls the actor's
// function of the same name with the port and the action's arguments: plain
// arguments as they are, each refinement as a logic! flag followed by its
// argument (none when absent). `read` and `write` are open, copy (or insert
// then copy) and close on the actor.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace kiv::port {

// The port for a URL (its parse by the library's parse-url, then make
// port!), pushed on the data stack; opened with the refinements when `open`.
// A URL that does not parse is script invalid-arg with the URL. An exit from
// the parse or from the scheme's actor passes up as the Outcome's code.
Outcome from_url(Cell* url, bool open, bool new_, bool read, bool write, bool seek, Cell* allow);

// read and write on a url! that no built-in scheme serves: through the
// URL's port (not opened first: the port's read and write open it).
Outcome read_url(Cell* url, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Outcome write_url(Cell* url, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
                  Cell* seek, Cell* allow, Cell* as);

// Registers port! (after date!).
void init();

// The interpreter's call of `fn` (named `name`) on the arguments pushed from
// `args` on, result in the first cell: the port layer calls actors and the
// URL parser through it. The evaluator installs it at start-up; until then a
// call raises internal not-done.
using CallPushed = Unwind (*)(const Cell* name, const Cell* fn, Cell* args, bool with_refinements);
extern CallPushed call_pushed;

}  // namespace kiv::port
