// The clipboard on the X11 CLIPBOARD selection, installed as the platform
// clipboard's backend once the display is open.
//
// Writing makes the process the selection's owner with the content kept
// here, served to other programs as UTF-8 text (UTF8_STRING,
// text/plain;charset=utf-8, STRING, TEXT) or as a file list
// (text/uri-list). Reading takes the content directly while the process
// owns the selection; otherwise it asks the owner for its targets and then
// for text (carriage returns dropped) or, failing that, a file list, waiting
// at most a second for each answer. No owner or no usable target: empty.
#pragma once

namespace kiv::gui::clipboard {

// Makes the selection window and installs the backend (once).
void install();
// A selection event of the display (a GdkEvent).
void on_selection_event(void* gdk_event);

}  // namespace kiv::gui::clipboard
