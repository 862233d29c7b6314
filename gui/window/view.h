// Faces as windows: creation, the update path, destruction, face timers and
// captures.
//
// A face gets one window (make_view): a `window` face a top-level window
// with a native window of its own, every other face a child window composed
// into its top-level window's backing surface (paint.h). The face's `state`
// block holds the window's handle (the high-level side stores it); the
// window reaches its face through its face slot. Facets are read by their
// position in face! (accessors.h), never by name.
//
// update_view applies the change flags of a face (state/2, bit k for facet
// k) in a fixed order: offset, size, text, data, enabled?, visible?,
// selected, flags, draw/color/font/para, pane, rate, menu, image, options.
// A face's options give its pointer shape (`cursor:` with a word, or an
// image made into a shape of its own).
// The flags are cleared first and given back when a language error leaves
// the update, so that no change is lost.
#pragma once

#include <cairo.h>

#include <cstdint>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui::view {

// Flag bits of `gui/get-flags`.
enum : uint32_t {
    FLAG_ALL_OVER = 0x1, FLAG_FOCUSABLE = 0x2, FLAG_TRI_STATE = 0x20000, FLAG_SCROLLABLE = 0x40000,
    FLAG_PASSWORD = 0x80000, FLAG_NO_SYNC = 0x100000, FLAG_FULLSCREEN = 0x200000, FLAG_POPUP = 0x1000000,
    FLAG_MODAL = 0x2000000, FLAG_RESIZE = 0x4000000, FLAG_NO_BUTTONS = 0x8000000, FLAG_NO_MAX = 0x10000000,
    FLAG_NO_MIN = 0x20000000, FLAG_NO_TITLE = 0x40000000, FLAG_NO_BORDER = 0x80000000,
};
// Styles a face window may carry beside those of windows.h.
enum : uint32_t { WS_HSCROLL = 0x00100000, WS_VSCROLL = 0x00200000, WS_CLIPSIBLINGS = 0x04000000 };

// Opens the display when there is one and sets up the layer once; without
// a display the layer runs headless (virtual windows, 96 DPI, one screen).
void start();
bool started();

// The bit mask of a flags facet (a word or a block of words); another value
// gives 0; a word of a block that is no flag raises script invalid-arg.
uint32_t get_flags(const Cell* flags);

// Makes the window of a face under a parent window (0 for a top-level
// window); raises script face-type for an unknown type.
Hwnd make_view(const Cell* face, Hwnd parent);
// Applies the pending changes of a face to its window.
void update_view(const Cell* face);
// Frees the face's window (and those of its pane); with empty?, the loop
// that ran for it is asked to end.
void destroy_view(const Cell* face, bool empty);
// Shows a window (show-window).
void show_window(Hwnd h);

// The face timer: an integer n > 0 fires n times a second (at least every
// millisecond), a float the same, a time! t > 0 every t seconds, none stops
// it; anything else raises script invalid-facet-type with the rate.
void set_timer(Hwnd h, const Cell* rate);
// The timer period in milliseconds a rate gives (-1 for none; -2 invalid).
double timer_period(const Cell* rate);

// The face's capture as an image! in *out (a cell the collector reaches):
// the screen face from the screen, a face with a window as it is painted.
// False when the face has no window.
bool face_to_image(const Cell* face, Cell* out);
// An image! of a surface's pixels in *out.
void surface_to_image(cairo_surface_t* s, Cell* out);

// The palette of a top-level window: dark or light.
void set_dark(Hwnd h, bool dark);
bool dark(Hwnd h);

}  // namespace kiv::gui::view
