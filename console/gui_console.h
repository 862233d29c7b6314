// The console window's front end: how `kiv` starts the graphical console
// and the few routines of it that Kiv code cannot write.
//
//   kiv                      the console window, when a display can be opened
//   kiv --cli                the terminal front end (console/terminal_cli.h)
//   kiv script.kiv args      the script in text mode (terminal front end)
//   kiv --gui script.kiv     the script in the console window, which stays
//                            hidden until the script prints or asks
//
// Without a display (DISPLAY unset, or one that cannot be opened) every mode
// falls back on the terminal front end.
//
// The window itself is Kiv code (console/gui-console.kiv and the terminal,
// the GCONSOLE module group), run only when the window starts: the GUI
// engine's group, the console engine's group, then this one, then
// `gui-console-ctx/launch`, which returns when the session ends.
//
// Output: `add-gui-print` replaces the terminal's writer on the print hooks
// with two hooks that hand every `print`/`prin` and every low-level print
// to `gui-console-ctx/terminal/vprint`. Fatal reports do not travel that
// way: they go to standard error (lowlevel::error_box), and a print the
// terminal's Kiv code cannot take (it fails, or it prints while it runs)
// goes to standard error as well, so that nothing is lost.
#pragma once

#include "library/routine_table.h"

namespace kiv::gui_console {

// The object table `gui-console`: add-gui-print and get-caret-blink-time.
extern const routine::Table TABLE;

// True when the command line asks for the console window (no script, or
// --gui before the script; not --cli) and a display is named.
bool window_wanted(int argc, char** argv);

// Opens the display and runs the console window's launch. Returns the exit
// status, or -1 when the display cannot be opened (the caller then runs the
// terminal front end). The library must be defined.
int run();

}  // namespace kiv::gui_console
