// Text lists (the "ListBox" class) and drop-downs (the "ComboBox" class).

#include "gui/controls/controls.h"
#include "gui/window/windows.h"

namespace kiv::gui::controls {

void paint_list(cairo_t*, Hwnd, const Cell&, double, double) {}
void paint_combo(cairo_t*, Hwnd, const Cell&, Kind, double, double) {}
void list_facets(Hwnd, const Cell*, uint32_t) {}
int32_t list_item_at(Hwnd, int32_t, int32_t) { return 0; }
int32_t list_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    if (message == WM_NCCREATE) {
        windows::set_slot(h, SLOT_FACE, lparam);
        return 1;
    }
    if (message == WM_DESTROY) forget(h);
    return windows::default_proc(h, message, wparam, lparam);
}
int32_t combo_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    return list_proc(h, message, wparam, lparam);
}

}  // namespace kiv::gui::controls
