#include "gui/window/window_proc.h"

#include <cmath>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/system_object.h"
#include "datatypes/point.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/window/accessors.h"
#include "gui/window/classes.h"
#include "gui/window/event.h"
#include "gui/window/loop.h"
#include "gui/window/paint.h"
#include "gui/window/windows.h"
#include "gui/text/text.h"
#include "runtime/stack.h"

namespace kiv::gui {

namespace {

// 1 between the start and the end of a move or size loop of a window.
bool in_size_move = false;

bool is_window_face(Hwnd h) {
    Cell face = window_face_cell(h);
    return facet_is(&face, FACET_TYPE, "window");
}

// Stores a client point or size (pixels) in a face field as a point2D! of
// logical units (a pair! for the size when the window keeps it as one).
void store_facet(Hwnd h, Facet facet, int32_t x, int32_t y) {
    Cell face = window_face_cell(h);
    Cell* slot = face_slot(&face, facet);
    if (!slot) return;
    if (facet == FACET_SIZE && (windows::get_slot(h, SLOT_STATE) & STATE_SIZE_AS_PAIR)) {
        *slot = Cell{TYPE_PAIR, 0, uint32_t(int32_t(to_logical(x))), uint32_t(int32_t(to_logical(y)))};
        return;
    }
    *slot = point::make2(float(to_logical(x)), float(to_logical(y)));
}

bool same_value(const Cell& a, const Cell& b) {
    return a.type() == b.type() && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

void layout_pane(const Cell* pane_in, std::vector<Cell>& fonts) {
    Cell* saved = stack::top;
    Cell* pane = stack::push(*pane_in);
    if (pane->type() != TYPE_BLOCK) {
        stack::top = saved;
        return;
    }
    for (uint32_t i = 0; i < block::cells_length(pane); ++i) {
        Cell* face = stack::push(*block::cells_at(pane, pane->w1 + i));
        const Hwnd h = face->type() == TYPE_OBJECT ? face_handle_q(face) : 0;
        if (windows::alive(h)) {
            const Window* w = windows::get(h);
            int32_t x = w->x, y = w->y, width = w->w, height = w->h;
            pixels_of(face_slot(face, FACET_OFFSET), &x, &y);
            pixels_of(face_slot(face, FACET_SIZE), &width, &height);
            windows::move(h, x, y, width, height);
            // A font is made again for the new DPI once, whoever uses it.
            const Cell* font = face_slot(face, FACET_FONT);
            if (font && font->type() == TYPE_OBJECT) {
                bool done = false;
                for (const Cell& f : fonts) done = done || same_value(f, *font);
                if (!done) {
                    fonts.push_back(*font);
                    text::prepare();
                    text::update_font(*face_slot(face, FACET_FONT), 0);
                }
            }
            const Cell* kids = face_slot(face, FACET_PANE);
            if (kids && kids->type() == TYPE_BLOCK) layout_pane(kids, fonts);
        }
        stack::pop(1);
    }
    stack::top = saved;
}

// The window face's fonts and the places of its faces after a DPI or theme
// change.
void relayout(Hwnd h) {
    Cell* saved = stack::top;
    Cell* face = stack::push(window_face_cell(h));
    std::vector<Cell> fonts;
    const Cell* font = face_slot(face, FACET_FONT);
    if (font && font->type() == TYPE_OBJECT) {
        fonts.push_back(*font);
        text::prepare();
        text::update_font(*face_slot(face, FACET_FONT), 0);
    }
    const Cell* pane = face_slot(face, FACET_PANE);
    if (pane && pane->type() == TYPE_BLOCK) layout_pane(pane, fonts);
    stack::top = saved;
    paint::invalidate(h);
}

// The screens and the metrics follow a change of the display or its DPI.
void refresh_screens() {
    system_object::set_field({"view", "metrics", "dpi"}, integer::cell(int32_t(std::lround(scale_factor * 96.0))));
    loop::call_view_function({"view", "platform", "refresh-screens"}, "refresh-screens", nullptr, 0);
}

bool state_is_block(Hwnd h) {
    Cell face = window_face_cell(h);
    const Cell* st = face_slot(&face, FACET_STATE);
    return st && st->type() == TYPE_BLOCK;
}

}  // namespace

void layout_children(const Cell* pane) {
    std::vector<Cell> fonts;
    layout_pane(pane, fonts);
}

int32_t raise_event(Hwnd h, uint32_t type, int32_t data, int32_t lparam) {
    Msg* m = loop::current_message();
    const Msg saved = *m;
    m->hwnd = h;
    m->lparam = lparam;
    const int32_t r = loop::make_event(m, data, type);
    *m = saved;
    return r;
}

int32_t window_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_NCCREATE:
            windows::set_slot(h, SLOT_FACE, lparam);
            break;
        case WM_MOVE:
        case WM_SIZE: {
            if (!is_window_face(h)) return 0;
            if (message == WM_SIZE && wparam == SIZE_MINIMIZED) return 0;
            const int32_t x = lo16(lparam), y = hi16(lparam);
            if (message == WM_MOVE && (x < -9999 || y < -9999)) return 0;
            if (message == WM_MOVE) windows::set_slot(h, SLOT_POSITION, lparam);
            store_facet(h, message == WM_MOVE ? FACET_OFFSET : FACET_SIZE, x, y);
            if (message == WM_SIZE) paint::invalidate(h);
            raise_event(h, message == WM_MOVE ? event::MOVE : event::RESIZE, 0, lparam);
            if (message == WM_SIZE && windows::alive(h) && state_is_block(h) &&
                (!in_size_move || wparam == SIZE_MAXIMIZED))
                raise_event(h, event::RESIZE, 0, lparam);
            return 0;
        }
        case WM_SIZING:
        case WM_MOVING: {
            if (!is_window_face(h)) return 1;
            const bool sizing = message == WM_SIZING;
            if (!sizing) windows::set_slot(h, SLOT_POSITION, lparam);
            store_facet(h, sizing ? FACET_SIZE : FACET_OFFSET, lo16(lparam), hi16(lparam));
            windows::set_slot(h, SLOT_DRAG_TYPE, int32_t(sizing ? event::RESIZING : event::MOVING));
            raise_event(h, sizing ? event::RESIZING : event::MOVING, 0, lparam);
            return 1;
        }
        case WM_ENTERSIZEMOVE:
            if (is_window_face(h)) in_size_move = true;
            break;
        case WM_EXITSIZEMOVE: {
            if (!is_window_face(h)) return 0;
            in_size_move = false;
            // The event tells where the loop left the window: its client
            // position after a move, its client size after a resize.
            const Window* w = windows::get(h);
            if (windows::get_slot(h, SLOT_DRAG_TYPE) == int32_t(event::MOVING))
                raise_event(h, event::MOVE, 0, windows::get_slot(h, SLOT_POSITION));
            else
                raise_event(h, event::RESIZE, 0, w ? pack_point(w->w, w->h) : 0);
            return 0;
        }
        case WM_DPICHANGED:
            if (!state_is_block(h)) return 0;
            set_dpi(double(wparam & 0xFFFF));
            refresh_screens();
            if (!windows::alive(h)) return 0;
            if (is_window_face(h)) {
                // The window keeps its size in logical units.
                Cell face = window_face_cell(h);
                const Window* w = windows::get(h);
                int32_t width = w->w, height = w->h;
                pixels_of(face_slot(&face, FACET_SIZE), &width, &height);
                windows::move(h, w->x, w->y, width, height);
                relayout(h);
            }
            paint::invalidate(h);
            return 0;
        case WM_DISPLAYCHANGE:
            refresh_screens();
            break;
        case WM_THEMECHANGED:
            if (is_window_face(h)) relayout(h);
            break;
        case WM_ACTIVATE:
            if (!is_window_face(h)) break;
            if (wparam != WA_INACTIVE) {
                raise_event(h, event::FOCUS, 0, 0);
                if (!windows::alive(h)) return 0;
                // The keys go back to the window's `selected` face (or to
                // the window) unless a window inside it has them already.
                const Hwnd f = windows::focus();
                if (!f || windows::root(f) != h) {
                    Cell face = window_face_cell(h);
                    const Cell* sel = face_slot(&face, FACET_SELECTED);
                    const Hwnd s = sel && sel->type() == TYPE_OBJECT ? face_handle_q(sel) : 0;
                    windows::set_focus(windows::alive(s) && windows::root(s) == h ? s : h);
                }
                return 0;
            }
            raise_event(h, event::UNFOCUS, 0, 0);
            break;
        case WM_CLOSE:
            if (windows::get_slot(h, SLOT_WIDGET) == -1) break;
            if (!is_window_face(h)) break;
            windows::set_focus(h);
            // `stop` from the close handling ends the window and its loop;
            // otherwise the high-level side decides (it unviews the window).
            if (raise_event(h, event::CLOSE, 0, 0) == 0) {
                windows::destroy(h);
                loop::request_quit();
            }
            return 0;
        case WM_LBUTTONDOWN:
            windows::set_capture(h);
            return 0;
        case WM_LBUTTONUP:
            windows::release_capture();
            return 0;
        case WM_PAINT:
            paint::paint_window(h);
            return 0;
        case WM_DESTROY:
            if (!windows::parent(h)) paint::release(h);
            break;
        case WM_TIMER:
            raise_event(h, event::TIME, 0, 0);
            return 0;
        default:
            break;
    }
    classes::call_hooks(h, message, wparam, lparam);
    return windows::default_proc(h, message, wparam, lparam);
}

int32_t base_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        // Presses are counted: the capture is taken at the first and given
        // back when as many releases came. (Giving it back at the first
        // release would leave the count behind the presses, and the face
        // would not take the capture again at its next press.)
        case WM_LBUTTONDOWN: {
            const int32_t n = windows::get_slot(h, SLOT_CAPTURES);
            windows::set_slot(h, SLOT_CAPTURES, n + 1);
            if (windows::capture() != h) windows::set_capture(h);
            return 0;
        }
        case WM_LBUTTONUP: {
            const int32_t n = windows::get_slot(h, SLOT_CAPTURES);
            if (n < 1) break;
            windows::set_slot(h, SLOT_CAPTURES, n - 1);
            if (n == 1 && windows::capture() == h) windows::release_capture();
            return 0;
        }
        case WM_SETFOCUS:
            if (windows::parent(h)) raise_event(h, event::FOCUS, 0, 0);
            return 0;
        case WM_KILLFOCUS:
            if (windows::parent(h)) raise_event(h, event::UNFOCUS, 0, 0);
            return 0;
        case WM_IME_STARTCOMPOSITION:
            loop::ime_active = true;
            return 0;
        case WM_IME_COMPOSITION:
            raise_event(h, event::IME, 0, lparam);
            return 0;
        case WM_IME_ENDCOMPOSITION:
            loop::ime_active = false;
            return 0;
        default:
            break;
    }
    return window_proc(h, message, wparam, lparam);
}

}  // namespace kiv::gui
