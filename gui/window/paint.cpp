#include "gui/window/paint.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "datatypes/block.h"
#include "datatypes/tuple.h"
#include "gui/draw/draw_context.h"
#include "gui/draw/draw_device.h"
#include "gui/text/routines.h"
#include "gui/window/accessors.h"
#include "gui/window/camera_hooks.h"
#include "gui/window/control_hooks.h"
#include "gui/window/display.h"
#include "gui/window/event.h"
#include "gui/window/window_proc.h"
#include "gui/window/view.h"
#include "gui/window/windows.h"
#include "platform/image.h"
#include "runtime/stack.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::paint {

uint64_t paint_count = 0;

namespace {

struct Rect {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
    void add(const Rect& r) {
        if (r.empty()) return;
        if (empty()) {
            *this = r;
            return;
        }
        x0 = std::min(x0, r.x0);
        y0 = std::min(y0, r.y0);
        x1 = std::max(x1, r.x1);
        y1 = std::max(y1, r.y1);
    }
    bool meets(const Rect& r) const { return !empty() && !r.empty() && r.x0 < x1 && r.x1 > x0 && r.y0 < y1 && r.y1 > y0; }
};

// The render record of a top-level window.
struct Backing {
    cairo_surface_t* surface = nullptr;
    int32_t w = 0, h = 0;
    Rect dirty;
    double last_ms = -1e9;  // when it was last painted
};
std::unordered_map<Hwnd, Backing> records;
// Windows still open when the process ends give their surfaces back.
struct ReleaseAtExit {
    ~ReleaseAtExit() { release_all(); }
} release_at_exit;
bool painting = false;
Hwnd drawing_window = 0;
cairo_surface_t* drawing_surface = nullptr;

double now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

// The light palette's window colour (light or dark by the window's palette).
constexpr uint32_t LIGHT_PANEL = 0x00F0F0F0;  // 240.240.240, opaque
constexpr uint32_t DARK_PANEL = 0x00282828;   // 40.40.40
uint32_t panel_colour = LIGHT_PANEL;  // of the window being composed

// A tuple! colour as 0xAABBGGRR (top byte transparency).
bool colour_of(const Cell* v, uint32_t* out) {
    if (!v || v->type() != TYPE_TUPLE) return false;
    uint8_t b[12];
    tuple::get_bytes(v, b);
    const uint32_t a = tuple::length(v) >= 4 ? b[3] : 0;
    *out = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | a << 24;
    return true;
}

void fill(cairo_t* cr, uint32_t colour, double w, double h) {
    const draw::Rgba c = draw::to_rgba(colour);
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_fill(cr);
}

// Draw-begin for a face: its colour (a window without one gets the panel
// colour), its image stretched over it (a camera's preview keeps its
// aspect ratio, centred), its text.
void paint_begin(cairo_t* cr, const Cell& face, bool top, int32_t w, int32_t h) {
    uint32_t colour;
    if (colour_of(face_slot(&face, FACET_COLOR), &colour))
        fill(cr, colour, w, h);
    else if (top)
        fill(cr, panel_colour, w, h);
    const Cell* image = face_slot(&face, FACET_IMAGE);
    if (image && image->type() == TYPE_IMAGE && os_image::bitmap(image)) {
        const Cell img = *image;
        const uint32_t iw = os_image::width(&img), ih = os_image::height(&img);
        if (iw && ih) {
            // The pixels stay put: nothing allocates until the paint is done.
            uint32_t* px = const_cast<uint32_t*>(os_image::premultiplied(&img));
            cairo_surface_t* s = draw::wrap_pixels(reinterpret_cast<uint8_t*>(px), int(iw), int(ih), int(iw) * 4);
            camera_hooks::Placement at{0, 0, w, h};
            if (camera_hooks::fit && facet_is(&face, FACET_TYPE, "camera"))
                at = camera_hooks::fit(double(iw) / ih, w, h);
            cairo_save(cr);
            cairo_translate(cr, at.x, at.y);
            cairo_scale(cr, double(at.width) / iw, double(at.height) / ih);
            cairo_set_source_surface(cr, s, 0, 0);
            cairo_paint(cr);
            cairo_restore(cr);
            cairo_surface_destroy(s);
        }
    }
    const Cell* text = face_slot(&face, FACET_TEXT);
    if (text && is_any_string(text->type()) && !facet_is(&face, FACET_TYPE, "window"))
        text::paint_face_text(cr, face, scale_factor);
}

// Renders the face's own content (not its children) on a surface of its size.
void paint_content(Hwnd h, cairo_surface_t* s, bool top, int32_t w, int32_t height) {
    Cell* saved = stack::top;
    Cell* face = stack::push(window_face_cell(h));
    if (face->type() == TYPE_OBJECT) {
        cairo_t* cr = cairo_create(s);
        // A control draws itself; other faces get the plain beginning.
        if (top || !control_hooks::paint || !control_hooks::paint(cr, h, *face, w, height))
            paint_begin(cr, *face, top, w, height);
        cairo_destroy(cr);
        const Cell* d = face_slot(face, FACET_DRAW);
        if (d && d->type() == TYPE_BLOCK) {
            // The block stays reachable from the stack for the pass; the
            // commands are in logical units.
            Cell* cmds = stack::push(*d);
            cairo_surface_set_device_scale(s, scale_factor, scale_factor);
            (void)draw::run_pass(s, *cmds, true, 0);
            cairo_surface_set_device_scale(s, 1, 1);
        } else if (facet_is(face, FACET_TYPE, "base") || facet_is(face, FACET_TYPE, "rich-text")) {
            // Without a draw block the face's actors draw at the `drawing`
            // event, through draw-face on this surface (the faces the
            // program draws itself: base, and rich-text, whose owner may
            // draw its lines one by one).
            const Hwnd saved_window = drawing_window;
            cairo_surface_t* saved_surface = drawing_surface;
            drawing_window = h;
            drawing_surface = s;
            raise_event(h, event::DRAWING, 0, 0);
            drawing_window = saved_window;
            drawing_surface = saved_surface;
        }
    } else if (top) {
        cairo_t* cr = cairo_create(s);
        fill(cr, panel_colour, w, height);
        cairo_destroy(cr);
    }
    stack::top = saved;
}

// Composes the visible children of `h` onto the context, whose origin is
// h's client origin; `clip` is in the same coordinates.
void compose_children(Hwnd h, cairo_t* cr, const Rect& clip);

void compose_child(Hwnd c, cairo_t* cr, const Rect& clip) {
    const Window* w = windows::get(c);
    if (!w || !w->visible || w->w <= 0 || w->h <= 0) return;
    const Rect r{w->x, w->y, w->x + w->w, w->y + w->h};
    if (!r.meets(clip)) return;
    const int32_t x = w->x, y = w->y, cw = w->w, ch = w->h;
    cairo_surface_t* s = draw::new_surface(cw, ch);
    if (!s) return;
    paint_content(c, s, false, cw, ch);
    cairo_t* inner = cairo_create(s);
    if (windows::alive(c)) compose_children(c, inner, Rect{clip.x0 - x, clip.y0 - y, clip.x1 - x, clip.y1 - y});
    cairo_destroy(inner);
    cairo_surface_flush(s);
    cairo_set_source_surface(cr, s, x, y);
    cairo_rectangle(cr, x, y, cw, ch);
    cairo_fill(cr);
    cairo_surface_destroy(s);
}

void compose_children(Hwnd h, cairo_t* cr, const Rect& clip) {
    const Window* w = windows::get(h);
    if (!w) return;
    const std::vector<Hwnd> kids = w->children;  // a draw block may change the tree
    for (Hwnd c : kids) compose_child(c, cr, clip);
}

Backing& record_of(Hwnd top) {
    Backing& b = records[top];
    const Window* w = windows::get(top);
    const int32_t cw = std::max(1, w ? w->w : 1), ch = std::max(1, w ? w->h : 1);
    if (!b.surface || b.w != cw || b.h != ch) {
        if (b.surface) cairo_surface_destroy(b.surface);
        b.surface = draw::new_surface(cw, ch);
        b.w = cw;
        b.h = ch;
        b.dirty = Rect{0, 0, cw, ch};
    }
    return b;
}

// Composes the rectangle of the top-level window into its backing surface.
void compose(Hwnd top, Backing& b, Rect r) {
    r.x0 = std::max(r.x0, 0);
    r.y0 = std::max(r.y0, 0);
    r.x1 = std::min(r.x1, b.w);
    r.y1 = std::min(r.y1, b.h);
    if (r.empty() || !b.surface) return;
    cairo_surface_t* s = b.surface;
    cairo_surface_reference(s);
    panel_colour = view::dark(top) ? DARK_PANEL : LIGHT_PANEL;
    // The window's own content is painted over the whole surface under a
    // clip: a draw block then paints only inside the dirty rectangle.
    cairo_t* cr = cairo_create(s);
    cairo_rectangle(cr, r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
    cairo_clip(cr);
    fill(cr, panel_colour, b.w, b.h);
    cairo_destroy(cr);
    if (r.x0 == 0 && r.y0 == 0 && r.x1 == b.w && r.y1 == b.h) {
        paint_content(top, s, true, b.w, b.h);
    } else {
        cairo_surface_t* part = draw::new_surface(b.w, b.h);
        if (part) {
            paint_content(top, part, true, b.w, b.h);
            cairo_t* c2 = cairo_create(s);
            cairo_set_source_surface(c2, part, 0, 0);
            cairo_rectangle(c2, r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
            cairo_fill(c2);
            cairo_destroy(c2);
            cairo_surface_destroy(part);
        }
    }
    if (windows::alive(top)) {
        cairo_t* c3 = cairo_create(s);
        cairo_rectangle(c3, r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
        cairo_clip(c3);
        compose_children(top, c3, r);
        cairo_destroy(c3);
    }
    cairo_surface_flush(s);
    cairo_surface_destroy(s);
}

}  // namespace

cairo_surface_t* drawing_target(Hwnd h) {
    return h && h == drawing_window ? drawing_surface : nullptr;
}

void invalidate(Hwnd h) {
    const Window* w = windows::get(h);
    if (!w) return;
    invalidate_rect(h, 0, 0, w->w, w->h);
}

void invalidate_rect(Hwnd h, int32_t x, int32_t y, int32_t w, int32_t height) {
    if (!windows::alive(h)) return;
    // A rectangle of a child is clipped by each parent on the way up.
    Hwnd at = h;
    Rect r{x, y, x + w, y + height};
    for (;;) {
        const Window* win = windows::get(at);
        if (!win) return;
        r.x0 = std::max(r.x0, 0);
        r.y0 = std::max(r.y0, 0);
        r.x1 = std::min(r.x1, win->w);
        r.y1 = std::min(r.y1, win->h);
        if (r.empty()) return;
        if (!win->parent) break;
        if (!win->visible) return;
        r = Rect{r.x0 + win->x, r.y0 + win->y, r.x1 + win->x, r.y1 + win->y};
        at = win->parent;
    }
    records[at].dirty.add(r);
    display::wake();
}

bool take_due(Msg* out) {
    if (painting) return false;
    const double now = now_ms();
    for (auto& [h, b] : records) {
        if (b.dirty.empty() || !windows::visible(h)) continue;
        if (now - b.last_ms < MIN_FRAME_MS) continue;  // deferred, see next_due
        *out = Msg{};
        out->hwnd = h;
        out->message = WM_PAINT;
        return true;
    }
    return false;
}

int32_t next_due() {
    const double now = now_ms();
    double best = -1;
    for (auto& [h, b] : records) {
        if (b.dirty.empty() || !windows::visible(h)) continue;
        const double wait = std::max(0.0, b.last_ms + MIN_FRAME_MS - now);
        if (best < 0 || wait < best) best = wait;
    }
    return best < 0 ? -1 : int32_t(std::ceil(best));
}

void paint_window(Hwnd top) {
    if (painting || !windows::alive(top) || windows::parent(top)) return;
    draw::need_device();
    Backing& first = record_of(top);
    const Rect r = first.dirty;
    first.dirty = Rect{};
    if (r.empty()) return;
    painting = true;
    struct Done {
        ~Done() { painting = false; }
    } done;
    compose(top, first, r);
    ++paint_count;
    // The record may have been dropped or remade while draw blocks ran.
    auto it = records.find(top);
    if (it == records.end() || !windows::alive(top)) return;
    it->second.last_ms = now_ms();
    const Window* w = windows::get(top);
    display::present(w->native, it->second.surface, r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
}

void update_window(Hwnd h) {
    const Hwnd top = windows::root(h);
    auto it = records.find(top);
    if (it != records.end() && !it->second.dirty.empty() && windows::visible(top)) paint_window(top);
}

void expose(Hwnd top, int32_t x, int32_t y, int32_t w, int32_t h) {
    auto it = records.find(top);
    if (it == records.end() || !it->second.surface) {
        invalidate(top);
        return;
    }
    const Window* win = windows::get(top);
    if (win) display::present(win->native, it->second.surface, x, y, w, h);
}

void release(Hwnd top) {
    auto it = records.find(top);
    if (it == records.end()) return;
    if (it->second.surface) cairo_surface_destroy(it->second.surface);
    records.erase(it);
}

void release_all() {
    for (auto& [h, b] : records)
        if (b.surface) cairo_surface_destroy(b.surface);
    records.clear();
}

cairo_surface_t* render_window(Hwnd h) {
    const Window* w = windows::get(h);
    if (!w || w->w <= 0 || w->h <= 0) return nullptr;
    draw::need_device();
    if (!w->parent) {
        Backing& b = record_of(h);
        if (!b.dirty.empty() && !painting) {
            const Rect r = b.dirty;
            b.dirty = Rect{};
            painting = true;
            compose(h, b, r);
            painting = false;
            auto it = records.find(h);
            if (it == records.end()) return nullptr;
            const Window* again = windows::get(h);
            if (again) display::present(again->native, it->second.surface, r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
        }
        auto it = records.find(h);
        if (it == records.end() || !it->second.surface) return nullptr;
        cairo_surface_t* copy = draw::new_surface(it->second.w, it->second.h);
        cairo_t* cr = cairo_create(copy);
        cairo_set_source_surface(cr, it->second.surface, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(copy);
        return copy;
    }
    // A child: rendered afresh, its content and its descendants.
    const int32_t cw = w->w, ch = w->h;
    cairo_surface_t* s = draw::new_surface(cw, ch);
    if (!s) return nullptr;
    paint_content(h, s, false, cw, ch);
    cairo_t* cr = cairo_create(s);
    if (windows::alive(h)) compose_children(h, cr, Rect{0, 0, cw, ch});
    cairo_destroy(cr);
    cairo_surface_flush(s);
    return s;
}

}  // namespace kiv::gui::paint
