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
// it keep its size. The window's position counts as the user's (a window
// manager keeps it).
void set_size_limits(void* native, int32_t min_w, int32_t min_h, int32_t max_w, int32_t max_h);

// The pointer shapes a window may ask for (its cursor slot, SLOT_CURSOR):
// shown over the window's client area; 0 is the default arrow.
enum Cursor : int32_t {
    CURSOR_DEFAULT = 0, CURSOR_IBEAM, CURSOR_HAND, CURSOR_CROSS, CURSOR_RESIZE_NS, CURSOR_RESIZE_EW,
    CURSOR_IMAGE,  // the window's own shape, made from an image (set_image_cursor)
};
// Makes the window's own pointer shape from an ARGB32 surface (hot spot at
// its centre), replacing the one it had; nullptr drops it. The window
// keeps it until it is dropped or the window goes.
void set_image_cursor(Hwnd h, cairo_surface_t* image);
// The name of the shape the native window shows now ("default" before any).
const char* shown_cursor(void* native);

// The event handler again, after a library that took it (the toolkit at
// its start).
void reinstall_handler();

// Milliseconds without a move or size notice after which a move or resize
// made outside the program (the user dragging) counts as ended.
constexpr uint32_t SIZE_MOVE_QUIET_MS = 150;

// Double-click time (ms) and distance (pixels).
uint32_t double_click_time();
int32_t double_click_distance();

// Mouse-leave tracking: the window gets one WM_MOUSELEAVE when the pointer
// leaves it (to another window or out of its top-level window).
void track_leave(Hwnd h);
Hwnd tracked();

}  // namespace kiv::gui::display
