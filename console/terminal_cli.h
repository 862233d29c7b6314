// The terminal front end: how `kiv` runs scripts from a shell and reads
// lines from standard input when no display is used.
//
//   kiv [--catch] [--cli] [--other-options] [--] [script.kiv [args...]]
//
// Leading arguments that begin with "--" are options: "--catch" keeps the
// session after the script (it goes on reading lines), "--cli" asks for this
// front end, any other is skipped, and a bare "--" ends the options (the next
// argument names the script even when it begins with "--"). The next
// argument names a script; the rest are the script's own arguments.
//
// What the front end writes into the system object before the script runs:
//   system/options/args    the script's arguments, a block of strings
//   system/options/script  the script file
//   system/script/args     the raw text of the script's arguments
//   system/script/header   the script's header, an object made from
//                          system/standard/header and the header block
//   system/options/path    the script's directory, which becomes the current
//                          directory when the script names one
//
// A script must start with a header (the word Kiv and a block; text before
// it is ignored): without one it is refused with the syntax error "script is
// missing a Kiv header:". The code after the header is evaluated; everything
// it prints goes to standard output as UTF-8. An error that reaches the top
// (a load error, a missing file, a script error) is printed formed on
// standard output and the process ends with status 1; a script that ends
// normally ends with 0 (`quit/return n` ends at once with n). With "--catch",
// or without a script, lines are then read from standard input, evaluated,
// and their results printed as "== " and the molded value (formed for a
// float!; nothing for unset); errors are printed formed, followed by an empty
// line. Input whose brackets, parentheses or braces are still open is
// collected over several lines. End of input ends the process with 0.
// The word `halt` (throwing halt-request to the catch name console) stops
// an evaluation and prints "(halted)".
//
// On an interactive terminal a prompt (">> ", or the open delimiter followed
// by four spaces while collecting) and the banner are shown, and results
// are cut to the terminal's width; with redirected input neither is shown.
#pragma once

#include "library/routine_table.h"

namespace kiv::cli {

// The object table `console`: the lexer callback of the line reader
// (console-delimiters).
extern const routine::Table TABLE;

// Sends everything `print` and `prin` write to standard output. Runs before
// the library's modules, so that their output is seen.
void attach_output();

// Runs the front end with the process's arguments and returns the exit
// status. The library must be defined.
int run(int argc, char** argv);

}  // namespace kiv::cli
