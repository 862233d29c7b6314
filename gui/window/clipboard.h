// The clipboard on the X11 CLIPBOARD selection, installed as the platform
// clipboard's store once the display is open.
//
// Writing makes the process the selection's owner with the formats kept
// here, served to other programs as UTF-8 text (UTF8_STRING,
// text/plain;charset=utf-8, STRING, TEXT), as a file list (text/uri-list)
// and as encoded images (image/png, image/jpeg, image/gif). Reading takes
// the formats directly while the process owns the selection; otherwise it
// asks the owner for its targets, then for the format asked for, waiting
// at most a second for each answer. No owner or no such target: the format
// is not there.
#pragma once

namespace kiv::gui::clipboard {

// Makes the selection window and installs the backend (once).
void install();
// A selection event of the display (a GdkEvent).
void on_selection_event(void* gdk_event);

}  // namespace kiv::gui::clipboard
