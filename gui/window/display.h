// The display connection: GDK 3 on X11.
//
// open() connects once; with no display it fails and leaves nothing behind,
// so the rest of the process (the terminal console, scripts) runs as
// before. The connection's event handler turns display events into layer
// messages posted to the queue (queue.h); pump() lets the display
// connection run, waiting when asked.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>

#include "gui/window/messages.h"

union _GdkEvent;

namespace kiv::gui::display {

// Connects (once). false with the reason in *error when no display can be
// opened.
bool open(std::string* error);
bool is_open();

// Runs pending display work; with `block`, waits up to timeout_ms (-1: no
// limit) for something to arrive first.
void pump(bool block, int32_t timeout_ms);
// Wakes a blocked pump() (a message was posted from inside the layer).
void wake();

// Native windows of top-level windows (all nullptr-safe).
void* create_native(Hwnd h, int32_t x, int32_t y, int32_t w, int32_t height, const char* title);
void destroy_native(void* native);
void move_native(void* native, int32_t x, int32_t y, int32_t w, int32_t height);
void show_native(void* native, bool visible);
void set_title(void* native, const char* title);
void focus_native(void* native);
// The X window id (for tests and external tools).
uint32_t xid(void* native);

// DPI of the screen: the X resource Xft.dpi when set, else the screen's
// resolution from its size in pixels and millimetres; 96 without a display.
double dpi();
// The screen's size in pixels (a fixed 1280x1024 without a display).
void screen_size(int32_t* w, int32_t* h);

// Copies the rectangle (x, y, w, h) of a surface onto the native window
// (nothing without a display or a native window).
void present(void* native, cairo_surface_t* surface, int32_t x, int32_t y, int32_t w, int32_t h);
// What the screen shows in a rectangle, as a new ARGB32 image surface
// (nullptr without a display).
cairo_surface_t* capture_screen(int32_t x, int32_t y, int32_t w, int32_t h);
// Size limits of a native window in pixels (0: no limit); min = max makes
// it keep its size.
void set_size_limits(void* native, int32_t min_w, int32_t min_h, int32_t max_w, int32_t max_h);

// Double-click time (ms) and distance (pixels).
uint32_t double_click_time();
int32_t double_click_distance();

// Mouse-leave tracking: the window gets one WM_MOUSELEAVE when the pointer
// leaves it (to another window or out of its top-level window).
void track_leave(Hwnd h);
Hwnd tracked();

// Event filters: each sees every display event (but the clipboard's) before
// it is turned into messages, in the order they were added; one answering
// true has used the event. They run inside the display's event handler:
// they may post messages but must not run language code. (The menus use
// them while a menu is open; the dialogs pass their own windows' events on.)
using EventFilter = bool (*)(::_GdkEvent* event);
void add_filter(EventFilter filter);
// Makes the layer's handler the display's event handler again (after a
// library that sets its own, such as the dialogs' toolkit, started).
void reclaim_events();

// The band above a top-level window's client area (its menu bar): the
// native window is `height` pixels taller and starts that much higher than
// the client area, which keeps its place and size. The band's pixels and
// input belong to whoever set it (through the filters); 0 removes it.
void set_band(Hwnd top, int32_t height);
int32_t band(Hwnd top);

}  // namespace kiv::gui::display
