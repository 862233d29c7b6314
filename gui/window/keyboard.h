// The keyboard: X key symbols to virtual-key codes, the characters keys
// type, and the key-state queries of the message loop.
//
// A key message carries the virtual key of the key's unshifted symbol
// (letters as 'A'..'Z', digits as '0'..'9') and the scan code (X key code
// minus 8, the PC set-1 code for the keys that have one) in lParam bits
// 16-23, with the extended bit for the right-hand modifiers, the arrow and
// editing keys. The character a key types is worked out when the key is
// pressed, from the symbol with Shift and the layout applied, and with
// Control: letters give 1-26, Backspace 127, [ \ ] give 27-29, Enter 10.
#pragma once

#include <cstdint>

#include "gui/window/messages.h"

namespace kiv::gui::keyboard {

// The virtual key of an unshifted key symbol (0 when the key has none).
uint32_t vk_from_keysym(uint32_t keysym);
// Whether the key symbol is an extended key.
bool extended(uint32_t keysym);
// The character the key types (0 when none): `typed` is the code point of
// the symbol with the modifiers applied (0 when it has none), vk the key's
// virtual key.
uint32_t typed_char(uint32_t vk, uint32_t typed, bool control, bool alt);

// The character of a virtual key (upper-case letters, digits, the
// punctuation of a US layout, control codes of Backspace, Tab, Enter, Esc);
// 0 when the key types none.
uint32_t vk_to_char(uint32_t vk);
// Left or right Shift from the scan code (VK_LSHIFT / VK_RSHIFT).
uint32_t shift_from_scan(uint32_t scan);
// The keys whose key-down gives no key event (the character message does),
// VK_PACKET among them.
bool is_char_key(uint32_t vk);
// The virtual key that types a character (0xFF when none), as its low byte.
uint32_t vk_for_char(uint32_t ch);

// The key and button state of the message being handled (event flag bits):
// Control, Shift, Alt and, unless keys_only, the mouse buttons.
uint32_t key_state(bool keys_only);
// Sets the state the queries answer (the loop sets it from each message).
void set_state(uint32_t flags);

}  // namespace kiv::gui::keyboard
