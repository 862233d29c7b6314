// The window table: every window of the layer, top-level or child.
//
// A window is a small integer (Hwnd) indexing this table; 0 is no window. A
// top-level window owns one native window of the display; its children are
// virtual: rectangles in their parent's client area, hit-tested and routed
// by the layer, composed into the native window of their top-level window.
// Coordinates are pixels: a top-level window's x, y is the screen position
// of its client origin, a child's is relative to its parent's client origin.
//
// Invariant: a window's record stays valid (and its Hwnd unused by another
// window) until destroy() has sent WM_DESTROY to it and to every descendant;
// a destroyed window's number is only reused after the table has wrapped.
// Window procedures may create and destroy windows re-entrantly; callers
// re-check alive() after sending any message.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/window/messages.h"

namespace kiv::gui {

using WndProc = int32_t (*)(Hwnd, uint32_t message, uint32_t wparam, int32_t lparam);

// Extra-byte slots of a window: twenty 32-bit slots addressed by byte index
// (0, 4, ... 76), as the backend's window record lays them out.
constexpr int32_t EXTRA_BYTES = 80;
enum : int32_t {
    SLOT_HIDDEN = 12,
    SLOT_ICON = 16,
    SLOT_DRAWING = 20,
    SLOT_RENDER = 24,
    SLOT_FONT = 28,
    SLOT_CURSOR = 32,
    SLOT_DRAG_TYPE = 36,
    SLOT_COMPANION = 40,
    SLOT_FRAME = 44,
    SLOT_STATE = 48,
    SLOT_POSITION = 52,
    SLOT_WIDGET = 56,
    SLOT_FACE = 60,
    SLOT_CAPTURES = 64,  // mouse-capture counter of a base window
    SLOT_FLAGS = 76,
};
// State bit of SLOT_STATE: report the size as a pair! instead of a point2D!.
constexpr int32_t STATE_SIZE_AS_PAIR = 0x10;
// Window flag of SLOT_FLAGS read by the pre-filter.
constexpr int32_t FLAG_ALL_OVER = 0x1;

// Window styles the layer reads.
enum : uint32_t {
    WS_CHILD = 0x40000000,
    WS_VISIBLE = 0x10000000,
    WS_DISABLED = 0x08000000,
    WS_EX_TRANSPARENT = 0x00000020,
};

struct Window {
    bool used = false;
    uint32_t class_index = 0;
    WndProc proc = nullptr;
    Hwnd parent = 0;
    Hwnd owner = 0;
    std::vector<Hwnd> children;  // bottom to top
    int32_t x = 0, y = 0, w = 0, h = 0;
    uint32_t style = 0, ex_style = 0;
    bool visible = false;
    bool enabled = true;
    int32_t extra[EXTRA_BYTES / 4] = {};
    void* native = nullptr;  // the display's window of a top-level window
    std::string text;
    // Geometries asked of the display by the program ([x y w h], oldest
    // first) whose configure notices have not come back yet.
    std::vector<std::array<int32_t, 4>> requested;
};

namespace windows {

// The record of a live window, or nullptr.
Window* get(Hwnd h);
bool alive(Hwnd h);

// Makes a window of a registered class (nullptr-safe: an unknown class gives
// 0). Sends WM_NCCREATE with `param` as lParam, then WM_CREATE; a procedure
// answering 0 (NCCREATE) or -1 (CREATE) makes the creation fail (0).
Hwnd create(uint32_t ex_style, const char* class_name, const char* title, uint32_t style, int32_t x, int32_t y,
            int32_t w, int32_t h, Hwnd parent, int32_t param);
// Sends WM_DESTROY to the window, then to its descendants, frees them and
// their native windows, timers, focus and capture.
void destroy(Hwnd h);
// Destroys every window (the layer's shut-down).
void destroy_all();

// Calls the window's procedure now.
int32_t send(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
// The default procedure: WM_CLOSE destroys the window; everything else 0.
int32_t default_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);

int32_t get_slot(Hwnd h, int32_t byte_index);
void set_slot(Hwnd h, int32_t byte_index, int32_t value);

Hwnd parent(Hwnd h);
// The top-level window of a window (itself for a top-level one).
Hwnd root(Hwnd h);
// The root owner: the top-level window, then its owner chain to the end.
Hwnd root_owner(Hwnd h);

// Position and size in the parent's client coordinates (or the screen).
void move(Hwnd h, int32_t x, int32_t y, int32_t w, int32_t h_);
// The screen position of the window's client origin.
void client_to_screen(Hwnd h, int32_t* x, int32_t* y);
void screen_to_client(Hwnd h, int32_t* x, int32_t* y);
// The direct child under a client point, skipping invisible (and, with
// skip_transparent, transparent) children; the window itself when none.
Hwnd child_at(Hwnd h, int32_t x, int32_t y, bool skip_transparent);
// The deepest visible, enabled window under a client point of `h`.
Hwnd deepest_at(Hwnd h, int32_t x, int32_t y);

// Puts a child window above its siblings.
void to_top(Hwnd h);

void show(Hwnd h, bool visible);
bool visible(Hwnd h);
void enable(Hwnd h, bool enabled);
bool enabled(Hwnd h);
void set_text(Hwnd h, const char* text);

// Keyboard focus (a window of the process) and the active top-level window.
Hwnd focus();
// Gives the focus to the window: WM_KILLFOCUS to the old one, WM_SETFOCUS to
// the new one. Returns the previous focus window.
Hwnd set_focus(Hwnd h);
// Mouse capture: mouse input goes to the capture window while it is set.
Hwnd capture();
Hwnd set_capture(Hwnd h);
void release_capture();

// The window whose native window is `native` (0 when none).
Hwnd from_native(const void* native);

// Number of live windows; the top-level windows, oldest first.
uint32_t count();
std::vector<Hwnd> top_levels();

}  // namespace windows
}  // namespace kiv::gui
