// Loads the drawing library (see draw_cairo.h).
#include "gui/draw/draw_cairo.h"

#include "datatypes/string.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::draw::cairo_api {

Table table;

bool load(std::string& why) {
    static platform::LateLibrary library("libcairo.so.2", "Draw needs libcairo: ");
    return library.load(why, [](platform::LateLibrary& lib) { KIV_CAIRO_FUNCTIONS(KIV_LATE_RESOLVE) });
}

}  // namespace kiv::draw::cairo_api

namespace kiv::draw {

void need_device() {
    std::string why;
    if (cairo_api::load(why)) return;
    // The reason stays on the stack, reachable while the error is built.
    const Cell reason = *string::load_push(reinterpret_cast<const uint8_t*>(why.data()), uint32_t(why.size()),
                                           string::ENC_UTF8);
    fire({"access", "cannot-open"}, reason);
}

}  // namespace kiv::draw
