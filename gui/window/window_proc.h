// The window procedure of the KivWindow, KivPanel and KivBase classes, as
// far as the window layer takes it: the face link made at creation, the
// window notifications that become events (move, resize, focus, unfocus,
// close, time) and the mouse capture of a pressed button. Painting, control
// notifications, scrolling and DPI changes belong to the drawing and
// widget parts of the backend.
#pragma once

#include <cstdint>

#include "gui/window/messages.h"

namespace kiv::gui {

int32_t window_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);

// Raises an event for window h from the current message, with lParam set
// to `lparam` while it is handled. 1 or 0 as make_event.
int32_t raise_event(Hwnd h, uint32_t type, int32_t data, int32_t lparam);

}  // namespace kiv::gui
