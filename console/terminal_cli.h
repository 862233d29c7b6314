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
// or without a script, the console engine (system/console, written in Kiv:
// console/engine.kiv) runs: it reads lines through `ask`, collects them
// while a delimiter stays open, evaluates them and prints results and
// errors. This front end gives it each line (`read-line` of the object
// table `console`), keeps system/console/size (the terminal's size, else
// COLUMNS and LINES, else 80x24; again after SIGWINCH) and sets
// system/console/gui? to false.
//
// On an interactive terminal lines are edited with libedit (opened on the
// first prompt): history kept in the settings folder across sessions, Tab
// completion through kiv-complete-ctx, Ctrl-C dropping the line being
// typed. With redirected input lines are read as they are, with no prompt.
#pragma once

#include "library/routine_table.h"

namespace kiv::cli {

// The object table `console`: read-line, set-title and load-console (runs
// the console's module group).
extern const routine::Table TABLE;

// Sends everything `print` and `prin` write to standard output. Runs before
// the library's modules, so that their output is seen.
void attach_output();

// Runs the front end with the process's arguments and returns the exit
// status. The library must be defined.
int run(int argc, char** argv);

}  // namespace kiv::cli
