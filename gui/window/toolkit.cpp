#include "gui/window/toolkit.h"

#include <dlfcn.h>
#include <gtk/gtk.h>
#include <stdlib.h>

#include "gui/window/display.h"
#include "platform/late_library.h"

#define KIV_TOOLKIT_FUNCTIONS(X) \
    X(gtk_disable_setlocale)     \
    X(gtk_init_check)

namespace kiv::gui::toolkit {

namespace {

struct Table {
    KIV_TOOLKIT_FUNCTIONS(KIV_LATE_FIELD)
};
Table table;

bool started = false;
std::string failure;  // why the start failed, once it has

}  // namespace

bool start(std::string& why) {
    if (started) return true;
    if (!failure.empty()) {
        why = failure;
        return false;
    }
    if (!display::is_open()) {
        why = "no display";
        return false;
    }
    static platform::LateLibrary library(SONAME, "cannot load GTK 3: ", RTLD_NOW | RTLD_GLOBAL);
    if (!library.load(failure, [](platform::LateLibrary& lib) { KIV_TOOLKIT_FUNCTIONS(KIV_LATE_RESOLVE) })) {
        why = failure;
        return false;
    }
    // The process keeps its own locale (number formats): the toolkit must
    // not set it from the environment.
    table.gtk_disable_setlocale();
    // No accessibility bus: no widget here needs it, and its start can
    // stall a session that has none.
    setenv("NO_AT_BRIDGE", "1", 0);
    // The choosers' settings (last folder, sort order) stay in the process
    // when no settings service is running, instead of failing at each save.
    if (!getenv("DBUS_SESSION_BUS_ADDRESS")) setenv("GSETTINGS_BACKEND", "memory", 0);
    if (!table.gtk_init_check(nullptr, nullptr)) {
        failure = "GTK 3 cannot start on this display";
        why = failure;
        return false;
    }
    // The toolkit takes the display's event handler at its start: the
    // window layer keeps it.
    display::reinstall_handler();
    started = true;
    return true;
}

}  // namespace kiv::gui::toolkit
