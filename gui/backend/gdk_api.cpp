// Loads the display library (see gdk_api.h).
#include "gui/backend/gdk_api.h"

#include <dlfcn.h>

namespace kiv::gui::gdk_api {

Table table;

namespace {

template <typename F>
bool resolve(void* lib, const char* name, F& out) {
    out = reinterpret_cast<F>(dlsym(lib, name));
    return out != nullptr;
}

}  // namespace

bool load(std::string& why) {
    static bool loaded = false;
    static std::string failure;
    if (loaded) return true;
    if (!failure.empty()) {
        why = failure;
        return false;
    }
    // GDK brings GLib with it; its symbols resolve through the same handle.
    void* lib = dlopen("libgdk-3.so.0", RTLD_NOW | RTLD_GLOBAL);
    if (!lib) {
        const char* e = dlerror();
        failure = std::string("cannot load the display library: ") + (e ? e : "libgdk-3.so.0");
        why = failure;
        return false;
    }
    bool ok = true;
#define KIV_GDK_RESOLVE(name) \
    if (!resolve(lib, #name, table.name)) ok = false, failure = "the display library lacks " #name;
    KIV_GDK_FUNCTIONS(KIV_GDK_RESOLVE)
#undef KIV_GDK_RESOLVE
    if (!ok) {
        why = failure;
        return false;
    }
    loaded = true;
    return true;
}

}  // namespace kiv::gui::gdk_api
