// The controls' way into the window layer.
//
// The controls layer (gui/controls, above this one) registers the
// procedures of the classes that stand in for the system controls and fills
// these at start-up; until then a control face is painted as a plain face
// and answers no input. The window layer calls them:
//   paint    painting a face's own content (paint.h): draws the control of
//            a face type the layer knows on a context in pixels of the
//            window's size and answers true; false leaves the face to the
//            plain painting (colour, image, text);
//   notify   the main window procedure's relay of what its child controls
//            send it (WM_COMMAND, WM_NOTIFY, WM_HSCROLL, WM_VSCROLL from a
//            control): turns them into events; the answer is the
//            procedure's result;
//   facets   the update path applied change bits (bit k for facet k) to
//            the face's window, or a series in one of its facets changed in
//            place: the control follows its facets (text, data, selected).
#pragma once

#include <cairo.h>

#include <cstdint>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui::control_hooks {

inline bool (*paint)(cairo_t* cr, Hwnd h, const Cell& face, int32_t width, int32_t height) = nullptr;
inline int32_t (*notify)(Hwnd parent, uint32_t message, uint32_t wparam, int32_t lparam) = nullptr;
inline void (*facets)(Hwnd h, const Cell* face, uint32_t bits) = nullptr;

}  // namespace kiv::gui::control_hooks
