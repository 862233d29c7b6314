// The window procedures of the backend's own classes, as far as the window
// layer takes them.
//
// window_proc (KivWindow, KivPanel): the face link made at creation; the
// window notifications that become events: move, resize, the move or size
// loop (moving, resizing, then move or resize when it ends), focus and
// unfocus, close, time; painting; DPI and theme changes, after which the
// faces of the window are laid out again (layout_children); the mouse
// capture of a pressed button.
//
// base_proc (KivBase, KivBaseInternal): a counted mouse capture (a second
// press while one is held keeps it), focus and unfocus of the face, the
// input method's compositions (the `ime` event, whose `picked` is the text
// being composed); the rest as window_proc.
#pragma once

#include <cstdint>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui {

int32_t window_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
int32_t base_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);

// Places the windows of a pane's faces again from their offset and size at
// the current DPI (after a DPI or theme change), down through their panes;
// rich-text layouts and font resources are made again at the next paint.
void layout_children(const Cell* pane);

// Raises an event for window h from the current message, with lParam set
// to `lparam` while it is handled. 1 or 0 as make_event.
int32_t raise_event(Hwnd h, uint32_t type, int32_t data, int32_t lparam);

}  // namespace kiv::gui
