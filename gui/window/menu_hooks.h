// The menus' way into the window layer.
//
// The menu layer (gui/controls, above this one) fills these when it is
// installed; until then faces have no menus. The layer calls them in the
// language's safe places (the message loop and window procedures, never
// from inside the display's event handler), so they may read faces:
//   set_menu    a `window` face's window was made or its `menu` facet
//               changed: the window gets, changes or loses its menu bar;
//   show_popup  a right-button press reached the pre-filter: when the
//               face of the message's window has a popup menu it opens at
//               the screen point and the answer is true;
//   command     WM_COMMAND with lParam 0: a menu item was chosen; true
//               when the id names the pending choice (a `menu` event was
//               raised for it);
//   key         a key message reached default processing: Alt, F10 and
//               Alt with a letter open the menu bar of the window's
//               top-level window;
//   forget      a window is being destroyed: its menu bar and any menu
//               it opened go.
// What happens inside open menus (the pointer, the keys, painting) is the
// menu layer's own business, through the display's event filters
// (display.h).
#pragma once

#include <cstdint>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui::menu_hooks {

inline void (*set_menu)(Hwnd top, const Cell* face) = nullptr;
inline bool (*show_popup)(Msg* m, int32_t screen_x, int32_t screen_y) = nullptr;
inline bool (*command)(Hwnd h, uint32_t id) = nullptr;
inline void (*key)(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) = nullptr;
inline void (*forget)(Hwnd h) = nullptr;

}  // namespace kiv::gui::menu_hooks
