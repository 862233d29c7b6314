// Loads the text library (see pango_api.h).
#include "gui/text/pango_api.h"

#include "datatypes/string.h"
#include "gui/draw/draw_cairo.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::text::pango_api {

Table table;

bool load(std::string& why) {
    // The libraries under Pango come in with it; each soname is opened once.
    static platform::LateLibrary gobject("libgobject-2.0.so.0", "Text needs libgobject: ");
    static platform::LateLibrary glib("libglib-2.0.so.0", "Text needs libglib: ");
    static platform::LateLibrary pango("libpango-1.0.so.0", "Text needs libpango: ");
    static platform::LateLibrary pangocairo("libpangocairo-1.0.so.0", "Text needs libpangocairo: ");
    return gobject.load(why, [](platform::LateLibrary& lib) { KIV_GOBJECT_FUNCTIONS(KIV_LATE_RESOLVE) }) &&
           glib.load(why, [](platform::LateLibrary& lib) { KIV_GLIB_FUNCTIONS(KIV_LATE_RESOLVE) }) &&
           pango.load(why, [](platform::LateLibrary& lib) { KIV_PANGO_FUNCTIONS(KIV_LATE_RESOLVE) }) &&
           pangocairo.load(why, [](platform::LateLibrary& lib) { KIV_PANGOCAIRO_FUNCTIONS(KIV_LATE_RESOLVE) });
}

}  // namespace kiv::text::pango_api

namespace kiv::text {

void need_text() {
    draw::need_device();
    std::string why;
    if (pango_api::load(why)) return;
    const Cell reason = *string::load_push(reinterpret_cast<const uint8_t*>(why.data()), uint32_t(why.size()),
                                           string::ENC_UTF8);
    fire({"access", "cannot-open"}, reason);
}

}  // namespace kiv::text
