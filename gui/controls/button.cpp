// Buttons, toggles, check boxes and radio buttons (the "BUTTON" class), and
// the frame of group boxes.

#include <algorithm>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "gui/controls/controls.h"
#include "gui/draw/draw_device.h"
#include "gui/window/accessors.h"
#include "gui/window/paint.h"
#include "gui/window/view.h"
#include "gui/window/windows.h"
#include "library/library.h"
#include "platform/image.h"
#include "runtime/stack.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::controls {

namespace {

// A caption as shown: "&&" is a literal "&"; a single "&" marks the
// mnemonic letter and is not shown.
std::string caption_of(const Cell& face) {
    const Cell* t = face_slot(&face, FACET_TEXT);
    if (!t || !is_any_string(t->type())) return std::string();
    const std::string raw = library::to_utf8(*t);
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '&') {
            if (i + 1 < raw.size() && raw[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += raw[i];
    }
    return out;
}

bool checked(const Cell& face) {
    const Cell* d = face_slot(&face, FACET_DATA);
    return d && !(d->type() == TYPE_NONE || (d->type() == TYPE_LOGIC && d->w1 == 0));
}

bool indeterminate(const Cell& face) {
    const Cell* d = face_slot(&face, FACET_DATA);
    return d && d->type() == TYPE_NONE && (flags_of(face) & view::FLAG_TRI_STATE);
}

// The image of a button for its state. An image! is drawn at its own size;
// a block of images is drawn at the face's size, one image per state
// (normal, hot, pressed, disabled, default) where the block has it, else
// its first; a block of an image and a pair draws the image at that size.
// The image is centred, and scaled down when it does not fit.
void paint_image(cairo_t* cr, Hwnd h, const Cell& face, double w, double h_) {
    const Cell* v = face_slot(&face, FACET_IMAGE);
    if (!v) return;
    Cell img = *v;
    double want_w = 0, want_h = 0;  // 0: the image's own size
    if (img.type() == TYPE_BLOCK) {
        const Cell blk = img;
        const uint32_t n = block::cells_length(&blk);
        if (n == 0) return;
        const Cell second = n == 2 ? *block::cells_at(&blk, blk.w1 + 1) : Cell{};
        if (n == 2 && second.type() == TYPE_PAIR) {
            img = *block::cells_at(&blk, blk.w1);
            want_w = int32_t(second.w2);
            want_h = int32_t(second.w3);
        } else {
            const State& st = state_of(h);
            uint32_t k = 0;
            if (!windows::enabled(h)) k = 3;
            else if (st.pressed) k = 2;
            else if (st.hot) k = 1;
            else if (windows::focus() == h) k = 4;
            img = *block::cells_at(&blk, blk.w1 + (k < n ? k : 0));
            want_w = w;
            want_h = h_;
        }
    }
    if (img.type() != TYPE_IMAGE || !os_image::bitmap(&img)) return;
    const uint32_t iw = os_image::width(&img), ih = os_image::height(&img);
    if (!iw || !ih) return;
    if (want_w <= 0 || want_h <= 0) want_w = iw, want_h = ih;
    // The pixels stay put: nothing allocates until they are painted.
    uint32_t* px = const_cast<uint32_t*>(os_image::premultiplied(&img));
    cairo_surface_t* s = draw::wrap_pixels(reinterpret_cast<uint8_t*>(px), int(iw), int(ih), int(iw) * 4);
    const double k = std::min({1.0, w / want_w, h_ / want_h});
    const double dw = want_w * k, dh = want_h * k;
    cairo_save(cr);
    cairo_translate(cr, (w - dw) / 2, (h_ - dh) / 2);
    cairo_scale(cr, dw / iw, dh / ih);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(s);
}

// A click by mouse or keyboard: a toggle or check box moves its state on
// (a three-state check: off, on, undecided), then the parent hears of it.
void click(Hwnd h) {
    const Kind kind = state_of(h).kind;
    if (kind == Kind::TOGGLE || kind == Kind::CHECK) {
        Cell face = face_of(h);
        Cell* d = face_slot(&face, FACET_DATA);
        if (d) {
            const bool tri = kind == Kind::CHECK && (flags_of(face) & view::FLAG_TRI_STATE);
            d = face_slot(&face, FACET_DATA);
            if (tri && d->type() == TYPE_LOGIC && d->w1)
                *d = none::cell();
            else if (tri && d->type() == TYPE_NONE)
                *d = logic::cell(false);
            else
                *d = logic::cell(!checked(face));
        }
    }
    paint::invalidate(h);
    command(h, BN_CLICKED);
}

}  // namespace

void paint_button(cairo_t* cr, Hwnd h, const Cell& face, Kind kind, double w, double height) {
    const Palette& p = palette_of(h);
    const State& st = state_of(h);
    const bool enabled = windows::enabled(h);
    const bool focused = windows::focus() == h;
    uint32_t bg;
    const bool coloured = face_colour(face, &bg);
    const uint32_t ink = enabled ? ink_of(face, p) : p.text_disabled;
    const std::string caption = caption_of(face);
    if (kind == Kind::BUTTON || kind == Kind::TOGGLE) {
        const bool down = st.pressed || (kind == Kind::TOGGLE && checked(face));
        uint32_t fill = coloured ? bg : p.face;
        if (down) fill = p.face_down;
        else if (st.hot && enabled && !coloured) fill = p.face_hot;
        rounded_rect(cr, 0.5, 0.5, w - 1, height - 1, 2);
        set_rgb(cr, fill);
        cairo_fill_preserve(cr);
        set_rgb(cr, focused || down ? p.accent : p.edge);
        cairo_set_line_width(cr, focused ? 2 : 1);
        cairo_stroke(cr);
        paint_image(cr, h, face, w, height);
        if (!caption.empty()) {
            TextLine t(face, caption, std::max(1.0, w - 6));
            const double dx = down && st.pressed ? 1 : 0;
            t.draw(cr, (w - t.width()) / 2 + dx, (height - t.height()) / 2 + dx, ink);
        }
        if (focused) focus_ring(cr, 3, 3, w - 6, height - 6, p.edge_dark);
        return;
    }
    if (coloured) fill_rect(cr, 0, 0, w, height, bg);
    const double box = 13, by = std::floor((height - box) / 2);
    if (kind == Kind::CHECK) {
        fill_rect(cr, 1, by, box, box, enabled ? p.field : p.face);
        frame_rect(cr, 1, by, box, box, st.pressed ? p.accent : p.edge_dark);
        if (indeterminate(face)) {
            fill_rect(cr, 4, by + 4, box - 6, box - 6, p.accent);
        } else if (checked(face)) {
            set_rgb(cr, enabled ? p.accent : p.text_disabled);
            cairo_set_line_width(cr, 2);
            cairo_move_to(cr, 3.5, by + 6.5);
            cairo_line_to(cr, 6.5, by + 9.5);
            cairo_line_to(cr, 11.5, by + 3.5);
            cairo_stroke(cr);
        }
    } else {
        const double cx = 1 + box / 2, cy = by + box / 2;
        circle(cr, cx, cy, box / 2 - 0.5);
        set_rgb(cr, enabled ? p.field : p.face);
        cairo_fill_preserve(cr);
        set_rgb(cr, st.pressed ? p.accent : p.edge_dark);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        if (checked(face)) {
            circle(cr, cx, cy, 3.5);
            set_rgb(cr, enabled ? p.accent : p.text_disabled);
            cairo_fill(cr);
        }
    }
    if (!caption.empty()) {
        TextLine t(face, caption);
        const double tx = 18, ty = (height - t.height()) / 2;
        t.draw(cr, tx, ty, ink);
        if (focused) focus_ring(cr, tx - 2, std::max(0.0, ty - 1), std::min(w - tx + 2, t.width() + 4), t.height() + 2, p.edge_dark);
    } else if (focused) {
        focus_ring(cr, 0, by - 1, box + 2, box + 2, p.edge_dark);
    }
}

void paint_group_box(cairo_t* cr, Hwnd h, const Cell& face, double w, double height) {
    const Palette& p = palette_of(h);
    uint32_t bg;
    if (face_colour(face, &bg)) fill_rect(cr, 0, 0, w, height, bg);
    const std::string caption = caption_of(face);
    double tw = 0, th = 14;
    if (!caption.empty()) {
        TextLine t(face, caption);
        tw = t.width();
        th = t.height();
        t.draw(cr, 9, 0, windows::enabled(h) ? ink_of(face, p) : p.text_disabled);
    }
    // The frame runs behind the title's middle, with a gap for the title.
    const double top = std::floor(th / 2) + 0.5;
    set_rgb(cr, p.edge);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, caption.empty() ? 0.5 : 7, top);
    cairo_line_to(cr, 0.5, top);
    cairo_line_to(cr, 0.5, height - 0.5);
    cairo_line_to(cr, w - 0.5, height - 0.5);
    cairo_line_to(cr, w - 0.5, top);
    cairo_line_to(cr, caption.empty() ? 0.5 : std::min(w - 0.5, 11 + tw), top);
    cairo_stroke(cr);
}

int32_t button_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            State& st = state_of(h);
            windows::set_focus(h);
            if (!windows::alive(h)) return 0;
            windows::set_capture(h);
            st.pressed = st.tracking = true;
            paint::invalidate(h);
            return 0;
        }
        case WM_MOUSEMOVE: {
            State& st = state_of(h);
            const Window* w = windows::get(h);
            const int32_t x = lo16(lparam), y = hi16(lparam);
            const bool inside = w && x >= 0 && y >= 0 && x < w->w && y < w->h;
            if (st.tracking && st.pressed != inside) {
                st.pressed = inside;
                paint::invalidate(h);
            }
            if (!st.hot) {
                st.hot = true;
                paint::invalidate(h);
            }
            return 0;
        }
        case WM_MOUSELEAVE: {
            State& st = state_of(h);
            st.hot = false;
            paint::invalidate(h);
            return 0;
        }
        case WM_LBUTTONUP: {
            State& st = state_of(h);
            const bool was = st.tracking && st.pressed;
            st.tracking = st.pressed = false;
            windows::release_capture();
            paint::invalidate(h);
            if (was) click(h);
            return 0;
        }
        case WM_KEYDOWN:
            if (wparam == VK_SPACE) {
                state_of(h).pressed = true;
                paint::invalidate(h);
            }
            return 0;
        case WM_KEYUP:
            if (wparam == VK_SPACE && state_of(h).pressed) {
                state_of(h).pressed = false;
                click(h);
            }
            return 0;
        case WM_KILLFOCUS:
            state_of(h).pressed = false;
            break;
        default:
            break;
    }
    return control_default(h, message, wparam, lparam);
}

}  // namespace kiv::gui::controls
