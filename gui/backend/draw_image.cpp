// The bridge between Draw and image! values: the pixels of an image as a
// premultiplied Cairo surface, and drawing into an image.
#include "gui/backend/draw_context.h"

namespace kiv::draw {

cairo_surface_t* image_surface(Context&, const Cell&) {
    return nullptr;
}

}  // namespace kiv::draw
