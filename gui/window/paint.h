// Painting: one backing surface per top-level window, children composed
// into it, presented on the native window.
//
// Every top-level window owns a Cairo image surface of its client size (its
// render record). A paint composes the window and its visible descendants
// into it, back to front: each face's content (begin: its colour, image and
// text; then its `draw` block) is rendered on a surface of its own size and
// laid over its parent, so that a transparent face shows what lies under it
// and a face never paints outside its rectangle.
//
// Invalidation collects one dirty rectangle per top-level window; the paint
// happens when the message queue is empty (queue::get asks take_due), and
// only the dirty rectangle is composed and presented. Paints of one window
// are at least MIN_FRAME_MS apart: a paint asked for sooner is deferred
// until then, never dropped, so the screen always ends with the last
// content.
//
// Exposure of the native window is answered from the backing surface
// without composing again.
//
// Text: the layer draws and measures no text itself; the text engine
// registers the hooks below. Until it does, face text is not drawn.
#pragma once

#include <cairo.h>

#include <cstdint>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui::paint {

constexpr double MIN_FRAME_MS = 16.6;

// Marks the whole window (or a rectangle of its client area, in pixels) for
// repainting; the paint comes when the queue is empty.
void invalidate(Hwnd h);
void invalidate_rect(Hwnd h, int32_t x, int32_t y, int32_t w, int32_t height);

// A WM_PAINT for the first top-level window whose paint is due (false when
// none is due).
bool take_due(Msg* out);
// Milliseconds until a deferred paint is due (0: one is due now), -1 when none.
int32_t next_due();

// Composes the dirty part of a top-level window and presents it (what its
// WM_PAINT does). Runs the faces' draw blocks: may run Kiv code.
void paint_window(Hwnd top);
// Paints now when the window has a dirty part (UpdateWindow).
void update_window(Hwnd h);
// Presents a rectangle of the backing surface again (exposure).
void expose(Hwnd top, int32_t x, int32_t y, int32_t w, int32_t h);
// Drops the backing surface of a window (destroyed, or device re-creation).
void release(Hwnd top);
void release_all();

// A new ARGB32 surface showing the window and its descendants as a paint
// shows them (a top-level window: its backing surface, brought up to date).
// nullptr when the window is gone or empty.
cairo_surface_t* render_window(Hwnd h);

// The surface a `drawing` event of the window draws on (draw-face), or
// nullptr outside such an event.
cairo_surface_t* drawing_target(Hwnd h);

// Paints counted since start (benchmarks and tests).
extern uint64_t paint_count;

}  // namespace kiv::gui::paint
