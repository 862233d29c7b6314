#include "gui/controls/dialog_gtk.h"

#include <cstdlib>

#include "gui/window/display.h"
#include "gui/window/windows.h"

namespace kiv::gui::dialogs {

GtkTable gtk;

namespace {

platform::LateLibrary library("libgtk-3.so.0", "dialogs need GTK 3: ");
bool started = false;

// The toolkit's own windows get their events; the layer keeps its own.
bool pass_to_toolkit(GdkEvent* event) {
    if (windows::from_native(event->any.window)) return false;
    // What still arrives for a dialog already gone is dropped.
    if (event->any.window && !gtk.gdk_window_is_destroyed(event->any.window)) gtk.gtk_main_do_event(event);
    return true;
}

}  // namespace

bool start_toolkit(std::string& why) {
    if (started) return true;
    if (!display::is_open()) {
        why = "no display";
        return false;
    }
    if (!library.load(why, [](platform::LateLibrary& lib) {
            auto& table = gtk;
            KIV_GTK_FUNCTIONS(KIV_LATE_RESOLVE)
        }))
        return false;
    // No accessibility bus: it is not needed for a dialog and its start
    // can stall a session without one.
    setenv("NO_AT_BRIDGE", "1", 0);
    // The choosers' settings (last folder, sort order) stay in the process
    // when no settings service is running, instead of failing at each save.
    if (!getenv("DBUS_SESSION_BUS_ADDRESS")) setenv("GSETTINGS_BACKEND", "memory", 0);
    if (!gtk.gtk_init_check(nullptr, nullptr)) {
        why = "dialogs need GTK 3: it cannot start on this display";
        return false;
    }
    display::reclaim_events();
    display::add_filter(pass_to_toolkit);
    started = true;
    return true;
}

bool run_modal(GtkWidget* dialog) {
    if (windows::capture()) windows::release_capture();
    Hwnd owner = windows::focus() ? windows::root(windows::focus()) : 0;
    if (!owner) {
        const auto tops = windows::top_levels();
        if (!tops.empty()) owner = tops.back();
    }
    const Window* w = windows::get(owner);
    gtk.gtk_widget_realize(dialog);
    if (w && w->native)
        gtk.gdk_window_set_transient_for(gtk.gtk_widget_get_window(dialog), static_cast<GdkWindow*>(w->native));
    // The file choosers answer ACCEPT, the font chooser OK.
    const gint response = gtk.gtk_dialog_run(reinterpret_cast<GtkDialog*>(dialog));
    return response == GTK_RESPONSE_ACCEPT || response == GTK_RESPONSE_OK;
}

}  // namespace kiv::gui::dialogs
