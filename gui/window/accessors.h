// Accessors between windows, faces, face values and screen units.
//
// A window reaches its face through its face slot (SLOT_FACE): the face's
// number in the GUI slot table (runtime/externals.h, kiv::slots). A face
// reaches its window through the handle! at the head of its `state` block.
// Logical units are 1/96 inch; pixels = truncate(logical × scale + 0.5),
// where scale = DPI / 96.
#pragma once

#include <cstdint>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui {

// The scale factor (DPI / 96), 1.0 until the display says otherwise.
extern double scale_factor;
void set_dpi(double dpi);

int32_t to_pixels(double logical);
double to_logical(int32_t pixels);

// Whether the window's face slot is non-zero.
bool has_face(Hwnd h);
// The face object of a window (none when it has none or the slot is free).
Cell window_face_cell(Hwnd h);
// The index-th (1-based) value of an object, or nullptr. Valid until the
// next allocation.
Cell* face_value_slot(const Cell* obj, uint32_t index);
// The value of a face's field by name (nullptr when absent). Valid until
// the next allocation.
Cell* face_field(const Cell* face, const char* name);

// The facets of face!, in the prototype's order (bit k of a face's change
// flags is facet k). C++ reads a facet by its position, never by its name;
// check_face_prototype() compares this table with the words of `face!`.
enum Facet : uint32_t {
    FACET_TYPE, FACET_OFFSET, FACET_SIZE, FACET_TEXT, FACET_IMAGE, FACET_COLOR, FACET_MENU, FACET_DATA,
    FACET_ENABLED, FACET_VISIBLE, FACET_SELECTED, FACET_FLAGS, FACET_OPTIONS, FACET_PARENT, FACET_PANE,
    FACET_STATE, FACET_RATE, FACET_EDGE, FACET_PARA, FACET_FONT, FACET_ACTORS, FACET_EXTRA, FACET_DRAW,
    FACET_COUNT
};
extern const char* const FACET_NAMES[FACET_COUNT];
// The facet of a face (nullptr when the value is not an object with that
// many fields). Valid until the next allocation.
Cell* face_slot(const Cell* face, Facet facet);
// Whether the global `face!` holds the facets in this order (checked once,
// then remembered); false when it does not.
bool check_face_prototype();
// Whether a facet holds the word `name`.
bool facet_is(const Cell* face, Facet facet, const char* name);

// The window of a face: the handle! at the head of its `state` block when
// the face is an object and `state` a block; 0 otherwise.
Hwnd face_handle_q(const Cell* face);

// The window an event belongs to: the message's window when it has a face;
// else its parent when that has a face; else the window under the
// message's point when it has a face; else -1.
int32_t event_window(const Msg* m);
// The face of event_window (none when -1).
Cell event_face(const Msg* m);

// The window's top-left corner in its parent's client coordinates.
void window_position(Hwnd h, int32_t* x, int32_t* y);
// The child under a client point, skipping invisible and transparent
// children; the window itself when there is none (0 outside it).
Hwnd child_at(Hwnd h, int32_t x, int32_t y);
// The window under a screen point (0 when none of the process's).
Hwnd window_from_point(int32_t x, int32_t y);
// A further extra slot of the window (byte index).
int32_t window_slot(Hwnd h, int32_t byte_index);

}  // namespace kiv::gui
