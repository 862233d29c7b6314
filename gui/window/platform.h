// The way in from the language: `load-gui` opens the display, registers the
// window classes and returns an object of routines over the window layer.
//
// Without a display it raises access cannot-open and leaves the process as
// it was (the terminal console and scripts go on working).
//
// The object's routines: the platform words of the window layer
// (make-null-handle, do-event-loop, exit-event-loop, destroy-view,
// show-window, register-class) and the layer's own: make-window (a window
// for a face: a top-level window for a `window` face, a child window under
// `parent` otherwise), set-timer, kill-timer, window-face, child-at,
// to-pixels, to-logical, window-xid (the display's id of a top-level
// window), send-event and loop-state ([depth pending]).
#pragma once

#include "library/routine_table.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv::gui {

// The global table `gui` (`load-gui`, which runs the GUI engine group
// first) and the object table `platform` (the object load-gui returns).
extern const routine::Table GUI_TABLE;
extern const routine::Table PLATFORM_TABLE;

}  // namespace kiv::gui
