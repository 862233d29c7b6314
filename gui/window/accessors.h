// Accessors between windows, faces, face values and screen units.
//
// A window reaches its face through its face slot (SLOT_FACE): the face's
// number in the GUI slot table (runtime/externals.h, kiv::slots). A face
// reaches its window through the handle! at the head of its `state` block.
// Logical units are 1/96 inch; pixels = truncate(logical × scale + 0.5),
// where scale = DPI / 96.
#pragma once

#include <cstdint>

#include "gui/text/facets.h"
#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui {

// The scale factor (DPI / 96), 1.0 until the display says otherwise.
extern double scale_factor;
void set_dpi(double dpi);

int32_t to_pixels(double logical);
double to_logical(int32_t pixels);
// A pair! or point2D! value (a place or size) in logical units, or in
// pixels at the current DPI; false (outputs untouched) for another value.
bool logical_of(const Cell* v, double* x, double* y);
bool pixels_of(const Cell* v, int32_t* x, int32_t* y);

// Whether the window's face slot is non-zero.
bool has_face(Hwnd h);
// The face object of a window (none when it has none or the slot is free).
Cell window_face_cell(Hwnd h);
// The index-th (1-based) value of an object, or nullptr. Valid until the
// next allocation.
Cell* face_value_slot(const Cell* obj, uint32_t index);

// The facet table of face! (gui/text/facets.h), read by position.
using text::Facet;
using enum text::Facet;
using text::FACET_NAMES;
using text::face_slot;
using text::check_face_prototype;
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
