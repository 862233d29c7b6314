// Sliders, progress bars and scrollers.

#include "gui/controls/controls.h"
#include "gui/window/windows.h"

namespace kiv::gui::controls {

void paint_range(cairo_t*, Hwnd, const Cell&, Kind, double, double) {}
int32_t range_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    if (message == WM_NCCREATE) {
        windows::set_slot(h, SLOT_FACE, lparam);
        return 1;
    }
    if (message == WM_DESTROY) forget(h);
    return windows::default_proc(h, message, wparam, lparam);
}

}  // namespace kiv::gui::controls
