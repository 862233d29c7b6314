// The bridge between Draw and image! values: an image's pixels as a
// premultiplied Cairo surface, the platform routine `draw-image`, and
// its routine table, from which the GUI engine takes it (`routine-table 'draw`).
#include "gui/draw/draw_image.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/draw/draw_context.h"
#include "gui/draw/draw_device.h"
#include "library/routine_table.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/stack.h"

#include "gui/draw/draw_cairo_calls.h"

namespace kiv::draw {

cairo_surface_t* image_surface(Context& c, const Cell& image) {
    if (image.type() != TYPE_IMAGE) return nullptr;
    const os_image::Bitmap* bm = os_image::bitmap(&image);
    if (!bm) return nullptr;
    uint32_t w = bm->width, h = bm->height;
    if (!w || !h) return nullptr;
    if (w > uint32_t(MAX_SURFACE_SIDE) || h > uint32_t(MAX_SURFACE_SIDE)) return nullptr;
    cairo_surface_t* s = new_surface(int(w), int(h));
    if (!s) return nullptr;
    cairo_surface_flush(s);
    uint8_t* dst = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    if (c.target_image && image.w2 == c.target_image && c.target && cairo_image_surface_get_width(c.target) == int(w) &&
        cairo_image_surface_get_height(c.target) == int(h)) {
        // The image being drawn into: what has been drawn so far.
        cairo_surface_flush(c.target);
        const uint8_t* src = cairo_image_surface_get_data(c.target);
        int sstride = cairo_image_surface_get_stride(c.target);
        for (uint32_t y = 0; y < h; ++y) std::memcpy(dst + size_t(y) * stride, src + size_t(y) * sstride, w * 4);
    } else {
        const uint32_t* src = os_image::premultiplied(&image);
        if (!src) {
            cairo_surface_destroy(s);
            return nullptr;
        }
        for (uint32_t y = 0; y < h; ++y) std::memcpy(dst + size_t(y) * stride, src + size_t(y) * w, w * 4);
    }
    cairo_surface_mark_dirty(s);
    return s;
}

Unwind draw_into_image(const Cell& image, const Cell& commands, bool catch_errors) {
    const os_image::Bitmap* bm = os_image::bitmap(&image);
    if (!bm) return UNWIND_NONE;
    uint32_t w = bm->width, h = bm->height;
    if (!w || !h) return UNWIND_NONE;
    if (commands.type() != TYPE_BLOCK || block::cells_length(&commands) == 0) return UNWIND_NONE;
    if (w > uint32_t(MAX_SURFACE_SIDE) || h > uint32_t(MAX_SURFACE_SIDE)) return UNWIND_NONE;
    // The pass draws on a copy of the image's premultiplied pixels, so that
    // nothing the commands run (a change handler of a set-word) can move the
    // buffer under it; the result is copied back at the end, also when an
    // error or an exit ends the pass.
    std::vector<uint32_t> pixels(size_t(w) * h);
    std::memcpy(pixels.data(), os_image::to_premultiplied(&image), pixels.size() * 4);
    cairo_surface_t* surface = wrap_pixels(reinterpret_cast<uint8_t*>(pixels.data()), int(w), int(h), int(w) * 4);
    struct Finish {
        const Cell& image;
        std::vector<uint32_t>& pixels;
        cairo_surface_t* surface;
        ~Finish() {
            cairo_surface_finish(surface);
            cairo_surface_destroy(surface);
            const os_image::Bitmap* bm = os_image::bitmap(&image);
            if (bm && bm->count() == pixels.size()) {
                std::memcpy(os_image::to_premultiplied(&image), pixels.data(), pixels.size() * 4);
                os_image::mark_changed(&image);
            }
        }
    } finish{image, pixels, surface};
    return run_pass(surface, commands, catch_errors, image.w2);
}

namespace {

// system/view/platform/draw-image: image [image!] cmds [block!]. The image
// drawn into is reported to its owner as poked as a whole. An exit from a
// change handler run by the commands, or from the owner's handler, is
// returned as it came (the pixels drawn before it stay drawn).
template <class A>
Unwind draw_image_routine(A a) {
    // The image copy that the pass finishes with outlives an exit's trim of
    // the data stack; nothing allocates between the trim and the copy back.
    const Cell image = routine::arg<"image">(a);
    Cell* held = stack::push(image);
    Cell commands = routine::arg<"cmds">(a);
    if (Unwind code = draw_into_image(image, commands, false)) return code;
    uint32_t w = os_image::width(held), h = os_image::height(held);
    if (w && h)
        if (Unwind code = series::notify_owner(held, ownership::OwnerEvent::POKE, nullptr, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr))
            return code;
    routine::result(a) = none::cell();
    return UNWIND_NONE;
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("draw-image", "[image [image!] cmds [block!]]", draw_image_routine),
};

}  // namespace

const routine::Table TABLE = routine::table("draw", ROWS, false);

}  // namespace kiv::draw
