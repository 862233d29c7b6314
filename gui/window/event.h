// event!: one input or window notification as the GUI engine sees it.
//
// Cell (id 54):
//   word 1  the event type (Type below; 0 none)
//   word 2  a system event: the reference of its message in the message
//           store (message_of); a made event (flag EVT_MADE): the node of a
//           4-cell block [face window offset picked], or 0 without one
//   word 3  the flags (messages.h EVT_*): low 16 bits the key, character or
//           data of the event
//
// Only these three words are stored; every field (face, window, offset,
// key, picked, ...) is worked out from the message when a path reads it.
// The message store keeps the last STORE_SIZE messages: an event kept past
// the handling of later events reads none for what its message no longer
// says (never another event's message).
//
// The backend keeps one global event cell (the event record), rewritten for
// each event by the message loop (loop.h), which hands a copy to `awake`.
#pragma once

#include <cstdint>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui::event {

enum Type : uint32_t {
    DOWN = 1, UP, MID_DOWN, MID_UP, ALT_DOWN, ALT_UP, AUX_DOWN, AUX_UP, CLICK, DBL_CLICK, WHEEL, OVER,
    KEY, KEY_DOWN, KEY_UP, IME, FOCUS, UNFOCUS, ENTER, ZOOM, PAN, ROTATE, TWO_TAP, PRESS_TAP, SELECT, CHANGE,
    MENU, CLOSE, MOVE, RESIZE, MOVING, RESIZING, TIME, DRAWING, SCROLL,
};
constexpr uint32_t TYPE_COUNT = 35;
constexpr uint32_t FIELD_COUNT = 15;

// ---- Key state beside the record (the message loop writes it) -------------------------------
// The translated key code of the last key message (-1: the key types a
// character), the pending high surrogate of a character pair (then the
// combined code point), the client point of the last right-button press.
extern int32_t key_code;
extern uint32_t surrogate;
extern int32_t right_click_x, right_click_y;

// Answers the backend parts that are not built in the window layer may
// install: the word of a menu item (none when the item has no word), the
// 1-based list item under a client point of a window (0 when none), the
// track position of a window's scroll bar.
extern Cell (*menu_item_word)(uint32_t id);
extern int32_t (*list_item_at)(Hwnd h, int32_t x, int32_t y);
extern int32_t (*scroll_track_pos)(Hwnd h, bool vertical);

// ---- The message store ------------------------------------------------------------------
constexpr uint32_t STORE_SIZE = 64;
uint32_t keep_message(const Msg& m);
const Msg* message_of(uint32_t ref);

// The texts of input-method compositions: a WM_IME_COMPOSITION message
// carries the reference of its text (UTF-8) in lParam; the last
// TEXT_STORE_SIZE texts are kept, an older reference reads none.
constexpr uint32_t TEXT_STORE_SIZE = 16;
uint32_t keep_text(const char* utf8, uint32_t length);

// ---- Values ----------------------------------------------------------------------------
// The event record (a system event of type 0 until the first event).
extern Cell record;
// Rewrites the record: type, message, flags.
void set_record(uint32_t type, const Msg& m, uint32_t flags);
// Pushes a copy of the record.
Cell* push_current();

// The word of a type id (none for an unknown id), the id of a type word (0
// when it is none).
Cell type_to_word(uint32_t type);
uint32_t word_to_type(const Cell* word);
// The bit of a flag word (control shift alt command away down mid-down
// alt-down aux-down); 0 for any other word.
uint32_t flags_to_block(const Cell* word);
// 1..15, or -1 when the word is no field word.
int32_t field_index(const Cell* word);
// The field's value (index 1..15).
Cell get_field(const Cell* event, int32_t index);
// Whether `flags` (a word, or a block of words and lit-words) holds `word`.
bool find_flag(const Cell* flags, const Cell* word);

// Registers event! (make, form, mold, eval-path, compare, pick).
void init();

}  // namespace kiv::gui::event
