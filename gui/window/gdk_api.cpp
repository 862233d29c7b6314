// Loads the display library (see gdk_api.h).
#include "gui/window/gdk_api.h"

namespace kiv::gui::gdk_api {

Table table;

bool load(std::string& why) {
    // GDK brings GLib with it; its symbols resolve through the same handle.
    static platform::LateLibrary library("libgdk-3.so.0", "cannot load the display library: ",
                                         RTLD_NOW | RTLD_GLOBAL);
    return library.load(why, [](platform::LateLibrary& lib) { KIV_GDK_FUNCTIONS(KIV_LATE_RESOLVE) });
}

}  // namespace kiv::gui::gdk_api
