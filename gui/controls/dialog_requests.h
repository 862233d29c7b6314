// The requesters of the platform routines: request-font, request-file and
// request-dir run the toolkit's font, file and folder choosers (dialog_gtk.h).
// Cancelling gives none; request-file gives a file! (a block of them with
// `multi`), request-dir a folder's file! ending in "/", request-font the
// given font object with the chosen name, size and style.
#pragma once

namespace kiv::gui::dialogs {

// Installs the requesters into the window layer (dialog_hooks.h); cheap, once.
void install();

}  // namespace kiv::gui::dialogs
