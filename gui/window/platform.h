// The way in from the language: `load-gui` opens the display, registers the
// window classes and returns an object of routines over the window layer.
//
// Without a display it raises access cannot-open and leaves the process as
// it was (the terminal console and scripts go on working).
//
// The object's routines: first those of `system/view/platform` in the
// order of that object's words (the engine's init in gui/engine/view.kiv copies
// them into it; its high-level words are Kiv functions), then the layer's own:
// start-backend, make-window (make-view), set-timer, timer-period,
// face-to-image, window-style, paint-count, window-face, child-at,
// to-pixels, to-logical, window-xid (the display's id of a top-level
// window), send-event, loop-state and register-class.
//
// The object is also reachable without a display (`routine-table
// 'platform`): the backend then runs headless (view::start).
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
