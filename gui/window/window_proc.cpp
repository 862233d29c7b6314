#include "gui/window/window_proc.h"

#include <string>

#include "datatypes/point.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/window/accessors.h"
#include "gui/window/classes.h"
#include "gui/window/control_hooks.h"
#include "gui/window/event.h"
#include "gui/window/loop.h"
#include "gui/window/menu_hooks.h"
#include "gui/window/paint.h"
#include "gui/window/windows.h"

namespace kiv::gui {

namespace {

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

}  // namespace

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
            return 0;
        }
        case WM_ACTIVATE:
            if (!is_window_face(h)) break;
            if (wparam != WA_INACTIVE) {
                const Hwnd f = windows::focus();
                if (!f || windows::root(f) != h) windows::set_focus(h);
                raise_event(h, event::FOCUS, 0, 0);
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
        case WM_COMMAND:
            // A chosen menu item: its id is its position in its menu.
            if (lparam == 0 && wparam <= 999 && menu_hooks::command && menu_hooks::command(h, wparam)) return 0;
            [[fallthrough]];
        case WM_NOTIFY:
        case WM_HSCROLL:
        case WM_VSCROLL:
            // What child controls send their parent becomes their events.
            if (lparam && control_hooks::notify) return control_hooks::notify(h, message, wparam, lparam);
            break;
        default:
            break;
    }
    classes::call_hooks(h, message, wparam, lparam);
    return windows::default_proc(h, message, wparam, lparam);
}

}  // namespace kiv::gui
