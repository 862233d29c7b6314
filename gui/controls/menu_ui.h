// Menus on screen: the menu bar drawn in the band above a `window` face's
// client area, popup menus as override-redirect windows, and the choice
// turned into a `menu` event.
//
// One menu is open at a time (a session): a popup menu opened by a right
// click, or the menu bar entered by the mouse or the keyboard, with its
// chain of open submenus. While it is open the pointer and the keyboard
// belong to it (a grab, and the display's event filter): nothing reaches
// the faces until it closes. Everything that runs while it is open is
// native: the trees hold no language values, and choosing an item only
// records the choice and posts WM_COMMAND (item id = its position in its
// menu) to the window that owns the menu; the window procedure then raises
// `menu` for the window that opened it, whose `picked` is the item's word,
// or none for an item without one.
//
// A menu that closes without a choice (Escape, a click outside) leaves
// nothing behind: no pending choice, no remembered opener.
//
// Keyboard: Alt (pressed and released alone) or F10 enters the menu bar;
// Alt with an item's access key opens that item. In menus: arrows move and
// open/close submenus (Left/Right at the ends move along the bar), Home and
// End, Enter or Space choose, an access key chooses its item, Escape
// closes one level, Alt or F10 closes everything.
#pragma once

namespace kiv::gui::menus {

// Installs the menus into the window layer (menu_hooks.h, the display's
// filters); cheap, once.
void install();

}  // namespace kiv::gui::menus
