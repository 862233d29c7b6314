// Fields and areas (the "EDIT" class).

#include "gui/controls/controls.h"
#include "gui/window/windows.h"

namespace kiv::gui::controls {

void paint_edit(cairo_t*, Hwnd, const Cell&, Kind, double, double) {}
void edit_facets(Hwnd, const Cell*, uint32_t) {}
int32_t edit_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    if (message == WM_NCCREATE) {
        windows::set_slot(h, SLOT_FACE, lparam);
        return 1;
    }
    if (message == WM_DESTROY) forget(h);
    return windows::default_proc(h, message, wparam, lparam);
}

}  // namespace kiv::gui::controls
