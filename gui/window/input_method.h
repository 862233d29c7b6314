// The input method: compositions typed into the windows of `base` and
// `rich-text` faces.
//
// Key presses for such a window go through an input-method context of the
// toolkit (loaded on the first such key, like the display library) bound to
// the native window of its top-level window. What the method does becomes
// layer messages for the window:
//   a composition starts        WM_IME_STARTCOMPOSITION
//   its text changes            WM_IME_COMPOSITION, lParam the reference of
//                               the text (event::keep_text), "" when emptied
//   it ends                     WM_IME_ENDCOMPOSITION
//   text is committed           WM_CHAR for each UTF-16 unit
// A key the method takes gives a key-down with VK_PROCESSKEY (no event).
// A key that simply types its own character, outside any composition, keeps
// the ordinary path (key-down, then its character).
#pragma once

#include <gdk/gdk.h>

#include <cstdint>

#include "gui/window/messages.h"

namespace kiv::gui::input_method {

// Whether keys for the window go through the input method.
bool wants(Hwnd h);

enum class Outcome { PLAIN, TAKEN };
// Feeds a key press or release for `target` (inside the top-level window
// whose native window is `native`) to the method and posts what it made.
// `key_down` is the key-down message the key would give by itself (posted
// with VK_PROCESSKEY when the method takes the key). PLAIN when the key goes
// its ordinary way; also when the toolkit cannot be loaded.
Outcome filter(Hwnd target, void* native, GdkEventKey* key, const Msg& key_down);
// The top-level window lost the keyboard focus.
void focus_out(void* native);
// The native window is going away.
void forget(void* native);

}  // namespace kiv::gui::input_method
