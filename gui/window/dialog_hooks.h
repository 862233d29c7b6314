// The dialogs' way into the window layer's platform routines.
//
// The dialog layer (gui/controls, above this one) fills these when it is
// installed; until then request-font, request-file and request-dir answer
// none. Each runs a modal dialog in the display's main loop and answers the
// routine's result (a value the caller stores at once: nothing allocates
// between the answer and its use):
//   request_font  the font object filled and returned, none on cancel;
//   request_file  a file!, a block of file! with `multi`, none on cancel;
//   request_dir   a folder's file! (ending in "/"), none on cancel.
#pragma once

#include "runtime/cell.h"

namespace kiv::gui::dialog_hooks {

inline Cell (*request_font)(const Cell* font, const Cell* selected, bool mono) = nullptr;
inline Cell (*request_file)(const Cell* title, const Cell* name, const Cell* filter, bool save, bool multi) = nullptr;
inline Cell (*request_dir)(const Cell* title, const Cell* dir, const Cell* filter, bool keep, bool multi) = nullptr;

}  // namespace kiv::gui::dialog_hooks
