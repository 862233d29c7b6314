#include "gui/window/view.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_set>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/text/routines.h"
#include "gui/window/accessors.h"
#include "gui/window/classes.h"
#include "gui/window/clipboard.h"
#include "gui/window/control_hooks.h"
#include "gui/window/display.h"
#include "gui/window/loop.h"
#include "gui/window/menu_hooks.h"
#include "gui/window/paint.h"
#include "gui/window/timers.h"
#include "gui/window/window_proc.h"
#include "gui/window/windows.h"
#include "library/library.h"
#include "platform/console_output.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/stack.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::view {

namespace {

constexpr uint32_t FACE_TIMER_ID = 1;
bool is_started = false;
std::unordered_set<Hwnd> dark_windows;

// (The value is copied before the name is loaded: loading may allocate.)
bool same_word(const Cell* v, const char* name) {
    if (!v || (v->type() != TYPE_WORD && v->type() != TYPE_LIT_WORD)) return false;
    const Cell value = *v;
    Cell w = word::load(name);
    return symbol::resolve(value.w2) == symbol::resolve(w.w2);
}

bool is_true(const Cell* v) {
    return v && !(v->type() == TYPE_NONE || (v->type() == TYPE_LOGIC && v->w1 == 0));
}

// A pair! or point2D! facet in logical units.
bool logical_of(const Cell* v, double* x, double* y) {
    if (!v) return false;
    if (v->type() == TYPE_PAIR) {
        *x = int32_t(v->w2);
        *y = int32_t(v->w3);
        return true;
    }
    if (v->type() == TYPE_POINT2D) {
        *x = point::coord(v, 0);
        *y = point::coord(v, 1);
        return true;
    }
    return false;
}

// Face types and their window classes.
struct TypeClass {
    const char* type;
    const char* cls;
};
constexpr TypeClass TYPE_CLASSES[] = {
    {"window", "KivWindow"},  {"button", "KivButton"},     {"toggle", "KivButton"},   {"check", "KivButton"},
    {"radio", "KivButton"},   {"panel", "KivPanel"},       {"group-box", "KivPanel"}, {"tab-panel", "KivTabpanel"},
    {"field", "KivField"},    {"area", "KivArea"},         {"text", "KivFace"},       {"text-list", "KivListBox"},
    {"drop-down", "KivCombo"}, {"drop-list", "KivCombo"},  {"progress", "KivProgress"}, {"slider", "KivSlider"},
    {"scroller", "KivScroller"}, {"base", "KivBase"},      {"rich-text", "KivBase"},  {"camera", "KivCamera"},
    {"calendar", "KivCalendar"},
};

// The size limits of a window face that cannot be resized: its size in
// pixels at the current DPI (the face's size is in logical units).
void limit_size(Hwnd h, const Cell* face) {
    const Window* w = windows::get(h);
    if (!w || !w->native) return;
    if (get_flags(face_slot(face, FACET_FLAGS)) & FLAG_RESIZE) {
        display::set_size_limits(w->native, 0, 0, 0, 0);
        return;
    }
    display::set_size_limits(w->native, w->w, w->h, w->w, w->h);
}

// The place of a face in pixels; a pair! offset becomes a point2D! in the
// face, a pair! size sets the size-as-pair bit.
void place_of(const Cell* face, Hwnd h, int32_t* x, int32_t* y, int32_t* w, int32_t* height, bool window) {
    double ox = 0, oy = 0, sw = 0, sh = 0;
    Cell* off = face_slot(face, FACET_OFFSET);
    if (logical_of(off, &ox, &oy) && off->type() == TYPE_PAIR) *off = point::make2(float(ox), float(oy));
    const Cell* size = face_slot(face, FACET_SIZE);
    logical_of(size, &sw, &sh);
    if (h) {
        int32_t st = windows::get_slot(h, SLOT_STATE) & ~STATE_SIZE_AS_PAIR;
        if (size && size->type() == TYPE_PAIR) st |= STATE_SIZE_AS_PAIR;
        windows::set_slot(h, SLOT_STATE, st);
    }
    if (window) {
        if (sw < 0) sw = 200;
        if (sh < 0) sh = 200;
    }
    *x = to_pixels(ox);
    *y = to_pixels(oy);
    *w = std::max(0, to_pixels(sw));
    *height = std::max(0, to_pixels(sh));
}

void invalidate_place(Hwnd h) {
    const Window* w = windows::get(h);
    if (!w) return;
    if (w->parent)
        paint::invalidate_rect(w->parent, w->x, w->y, w->w, w->h);
    else
        paint::invalidate(h);
}

// Brings the windows of the pane's faces to the top of their siblings, in
// pane order.
void order_pane(const Cell* face) {
    Cell* saved = stack::top;
    const Cell* p = face_slot(face, FACET_PANE);
    if (p && p->type() == TYPE_BLOCK) {
        Cell* pane = stack::push(*p);
        const uint32_t n = block::cells_length(pane);
        for (uint32_t i = 0; i < n; ++i) {
            const Cell kid = *block::cells_at(pane, pane->w1 + i);
            const Hwnd k = face_handle_q(&kid);
            if (windows::alive(k) && windows::parent(k)) windows::to_top(k);
        }
    }
    stack::top = saved;
    if (const Hwnd h = face_handle_q(face)) paint::invalidate(h);
}

// Applies the change bits in their fixed order.
void apply(const Cell* face, Hwnd h, uint32_t bits) {
    const bool window = facet_is(face, FACET_TYPE, "window");
    auto has = [bits](Facet f) { return (bits >> f) & 1u; };
    if (has(FACET_OFFSET) || has(FACET_SIZE)) {
        int32_t x, y, w, height;
        place_of(face, h, &x, &y, &w, &height, window);
        const Window* win = windows::get(h);
        if (!has(FACET_OFFSET)) x = win->x, y = win->y;
        if (!has(FACET_SIZE)) w = win->w, height = win->h;
        invalidate_place(h);
        windows::move(h, x, y, w, height);
        if (window && has(FACET_SIZE)) limit_size(h, face);
        invalidate_place(h);
    }
    if (has(FACET_TEXT)) {
        const Cell* t = face_slot(face, FACET_TEXT);
        const std::string text = t && is_any_string(t->type()) ? library::to_utf8(*t) : std::string();
        windows::set_text(h, text.c_str());
        paint::invalidate(h);
    }
    if (has(FACET_DATA)) paint::invalidate(h);
    if (has(FACET_ENABLED)) windows::enable(h, is_true(face_slot(face, FACET_ENABLED)));
    if (has(FACET_VISIBLE)) {
        const bool on = is_true(face_slot(face, FACET_VISIBLE));
        windows::set_slot(h, SLOT_HIDDEN, on ? 0 : 1);
        if (!on) invalidate_place(h);
        windows::show(h, on);
        if (on) invalidate_place(h);
    }
    if (has(FACET_SELECTED) && window) {
        const Cell* sel = face_slot(face, FACET_SELECTED);
        const Hwnd f = sel && sel->type() == TYPE_OBJECT ? face_handle_q(sel) : h;
        if (windows::alive(f)) windows::set_focus(f);
    }
    if (has(FACET_FLAGS)) windows::set_slot(h, SLOT_FLAGS, int32_t(get_flags(face_slot(face, FACET_FLAGS))));
    if (has(FACET_DRAW) || has(FACET_COLOR) || has(FACET_FONT) || has(FACET_PARA)) paint::invalidate(h);
    if (has(FACET_PANE)) order_pane(face);
    if (has(FACET_RATE)) set_timer(h, face_slot(face, FACET_RATE));
    if (has(FACET_MENU) && window && menu_hooks::set_menu) menu_hooks::set_menu(h, face);
    if (has(FACET_IMAGE)) paint::invalidate(h);
    if (control_hooks::facets && windows::alive(h)) control_hooks::facets(h, face, bits);
}

void free_face(const Cell* face) {
    Cell* saved = stack::top;
    Cell* f = stack::push(*face);
    const Hwnd h = face_handle_q(f);
    if (windows::alive(h)) {
        if (facet_is(f, FACET_TYPE, "window")) windows::show(h, false);
        const Cell* rate = face_slot(f, FACET_RATE);
        if (rate && rate->type() != TYPE_NONE) timers::kill(h, FACE_TIMER_ID);
    }
    const Cell* p = face_slot(f, FACET_PANE);
    if (p && p->type() == TYPE_BLOCK) {
        Cell* pane = stack::push(*p);
        for (uint32_t i = 0; i < block::cells_length(pane); ++i) {
            const Cell kid = *block::cells_at(pane, pane->w1 + i);
            if (kid.type() == TYPE_OBJECT) free_face(&kid);
        }
    }
    if (windows::alive(h)) {
        invalidate_place(h);
        const uint32_t slot = uint32_t(windows::get_slot(h, SLOT_FACE));
        windows::set_slot(h, SLOT_FACE, 0);
        if (slot) slots::release(slot);
        dark_windows.erase(h);
        windows::destroy(h);
    }
    if (Cell* st = face_slot(f, FACET_STATE)) *st = none::cell();
    stack::top = saved;
}

void capture_release(void* cache) {
    cairo_surface_destroy(static_cast<cairo_surface_t*>(cache));
}

bool face_capture_hook(const Cell* face, Cell* out) {
    return face_to_image(face, out);
}

}  // namespace

void start() {
    if (is_started) return;
    std::string reason;
    if (display::open(&reason)) {
        set_dpi(display::dpi());
        clipboard::install();
    } else {
        set_dpi(96);
    }
    classes::register_backend_classes(window_proc, window_proc);
    image::face_capture = face_capture_hook;
    is_started = true;
}

bool started() {
    return is_started;
}

uint32_t get_flags(const Cell* flags) {
    static const struct {
        const char* name;
        uint32_t bit;
    } table[] = {{"all-over", FLAG_ALL_OVER},     {"focusable", FLAG_FOCUSABLE},   {"tri-state", FLAG_TRI_STATE},
                 {"scrollable", FLAG_SCROLLABLE}, {"password", FLAG_PASSWORD},     {"no-sync", FLAG_NO_SYNC},
                 {"fullscreen", FLAG_FULLSCREEN}, {"popup", FLAG_POPUP},           {"modal", FLAG_MODAL},
                 {"resize", FLAG_RESIZE},         {"no-buttons", FLAG_NO_BUTTONS}, {"no-max", FLAG_NO_MAX},
                 {"no-min", FLAG_NO_MIN},         {"no-title", FLAG_NO_TITLE},     {"no-border", FLAG_NO_BORDER}};
    auto bit_of = [](const Cell* w) -> uint32_t {
        for (const auto& e : table)
            if (same_word(w, e.name)) return e.bit;
        return 0;
    };
    if (!flags) return 0;
    const Cell blk = *flags;
    if (blk.type() == TYPE_WORD) return bit_of(&blk);
    if (blk.type() != TYPE_BLOCK) return 0;
    uint32_t mask = 0;
    const uint32_t n = block::cells_length(&blk);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell v = *block::cells_at(&blk, blk.w1 + i);
        const uint32_t b = bit_of(&v);
        if (!b) fire({"script", "invalid-arg"}, v);
        mask |= b;
    }
    return mask;
}

Hwnd make_view(const Cell* face_in, Hwnd parent) {
    start();
    Cell* saved = stack::top;
    Cell* face = stack::push(*face_in);
    if (!check_face_prototype()) fire({"internal", "not-here"}, word::load("face!"));
    const Cell* type_slot = face_slot(face, FACET_TYPE);
    const Cell type_value = type_slot ? *type_slot : none::cell();
    const Cell* type = &type_value;
    const char* cls = nullptr;
    std::string widget_class;
    uint32_t style = WS_CHILD | WS_CLIPSIBLINGS;
    for (const TypeClass& tc : TYPE_CLASSES)
        if (same_word(type, tc.type)) cls = tc.cls;
    if (!cls && type && type->type() == TYPE_WORD)
        if (const classes::Widget* w = classes::find_widget(symbol::resolve(type->w2))) {
            widget_class = w->class_name;
            cls = widget_class.c_str();
            style |= w->style;
        }
    if (!cls) fire({"script", "face-type"}, type_value);
    const bool window = same_word(type, "window");
    const uint32_t flags = get_flags(face_slot(face, FACET_FLAGS));
    if (window) style = 0;
    if (is_true(face_slot(face, FACET_VISIBLE)) && !window) style |= WS_VISIBLE;
    if (!is_true(face_slot(face, FACET_ENABLED))) style |= WS_DISABLED;
    // `scrollable` gives the window its own scroll bars from the start.
    if (flags & FLAG_SCROLLABLE) style |= WS_HSCROLL | WS_VSCROLL;
    int32_t x, y, w, h;
    place_of(face, 0, &x, &y, &w, &h, window);
    std::string title;
    if (const Cell* t = face_slot(face, FACET_TEXT); window && t && is_any_string(t->type()))
        title = library::to_utf8(*t);
    if (!window && !windows::alive(parent)) fire({"script", "invalid-arg"}, *face);
    const uint32_t slot = slots::alloc(*face);
    const Hwnd win = windows::create(0, cls, title.c_str(), style, x, y, w, h, window ? 0 : parent, int32_t(slot));
    if (!win) {
        slots::release(slot);
        console::print_cstring("*** View Error: CreateWindowEx failed!\n");
        stack::top = saved;
        return 0;
    }
    if (windows::get_slot(win, SLOT_FACE) == 0) windows::set_slot(win, SLOT_FACE, int32_t(slot));
    place_of(face, win, &x, &y, &w, &h, window);
    windows::set_slot(win, SLOT_FLAGS, int32_t(flags));
    if (window) limit_size(win, face);
    if (window && menu_hooks::set_menu) menu_hooks::set_menu(win, face);
    const Cell* rate = face_slot(face, FACET_RATE);
    if (rate && rate->type() != TYPE_NONE) set_timer(win, rate);
    invalidate_place(win);
    stack::top = saved;
    return win;
}

void update_view(const Cell* face_in) {
    Cell* saved = stack::top;
    Cell* face = stack::push(*face_in);
    const Hwnd h = face_handle_q(face);
    if (facet_is(face, FACET_TYPE, "screen") || !windows::alive(h)) {
        // A rich-text face without a window (a box that measures text and
        // is drawn through Draw) lays its changed text out at its next use.
        if (!windows::alive(h) && facet_is(face, FACET_TYPE, "rich-text")) text::mark_layout_stale(*face);
        stack::top = saved;
        return;
    }
    const Cell* st = face_slot(face, FACET_STATE);
    Cell* state = stack::push(*st);
    if (block::cells_length(state) < 2) {
        stack::top = saved;
        return;
    }
    Cell* flags = block::cells_at(state, state->w1 + 1);
    if (flags->type() != TYPE_INTEGER) {
        stack::top = saved;
        return;
    }
    const uint32_t bits = uint32_t(integer::get(flags));
    *flags = integer::cell(0);
    try {
        apply(face, h, bits);
    } catch (...) {
        // No change is lost: the flags go back for the next update.
        Cell* again = block::cells_at(state, state->w1 + 1);
        if (again->type() == TYPE_INTEGER) *again = integer::cell(int32_t(uint32_t(integer::get(again)) | bits));
        stack::top = saved;
        throw;
    }
    stack::top = saved;
}

void destroy_view(const Cell* face, bool empty) {
    free_face(face);
    if (empty) loop::request_quit();
}

void show_window(Hwnd h) {
    if (!windows::alive(h)) return;
    const bool appears = !windows::visible(h) || windows::get_slot(h, SLOT_HIDDEN);
    if (appears) {
        const Hwnd c = windows::capture();
        if (c && windows::root(c) == h) windows::release_capture();
    }
    windows::set_slot(h, SLOT_HIDDEN, 0);
    windows::show(h, true);
    // A window already on screen repaints only what its updates marked
    // (show of a shown window comes after refresh-window has done that).
    if (appears) paint::invalidate(h);
    paint::update_window(h);
    const Cell face = window_face_cell(h);
    const Cell* sel = face_slot(&face, FACET_SELECTED);
    if (sel && sel->type() == TYPE_OBJECT) {
        const Hwnd f = face_handle_q(sel);
        if (windows::alive(f)) windows::set_focus(f);
    }
}

double timer_period(const Cell* rate) {
    if (!rate || rate->type() == TYPE_NONE) return -1;
    // A rate above 1000 a second still gets a period of 1 ms, never 0 (a
    // timer of 0 ms would keep the loop busy).
    if (rate->type() == TYPE_INTEGER && integer::get(rate) > 0) return std::max(1.0, 1000.0 / integer::get(rate));
    if (rate->type() == TYPE_FLOAT && rate->get_f64() > 0 && std::isfinite(rate->get_f64()))
        return std::max(1.0, 1000.0 / rate->get_f64());
    if (rate->type() == TYPE_TIME && rate->get_f64() > 0 && std::isfinite(rate->get_f64()))
        return std::max(1.0, rate->get_f64() * 1000.0);
    return -2;
}

void set_timer(Hwnd h, const Cell* rate) {
    const double ms = timer_period(rate);
    if (ms == -2) fire({"script", "invalid-facet-type"}, *rate);
    if (ms < 0) {
        timers::kill(h, FACE_TIMER_ID);
        return;
    }
    timers::set(h, FACE_TIMER_ID, uint32_t(std::min(std::lround(ms), 2147483647l)), loop::timer_proc);
}

void surface_to_image(cairo_surface_t* s, Cell* out) {
    cairo_surface_flush(s);
    const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    const uint8_t* data = cairo_image_surface_get_data(s);
    auto bm = os_image::new_bitmap(uint64_t(w), uint64_t(h));
    if (!bm) fire({"internal", "no-memory"});
    bm->pixels.resize(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        os_image::unpremultiply(reinterpret_cast<const uint32_t*>(data + size_t(y) * stride), &bm->pixels[size_t(y) * w],
                                uint64_t(w));
    os_image::init_image(out, std::move(bm));
}

bool face_to_image(const Cell* face, Cell* out) {
    cairo_surface_t* s = nullptr;
    if (facet_is(face, FACET_TYPE, "screen")) {
        double ox = 0, oy = 0, sw = 0, sh = 0;
        logical_of(face_slot(face, FACET_OFFSET), &ox, &oy);
        logical_of(face_slot(face, FACET_SIZE), &sw, &sh);
        s = display::capture_screen(to_pixels(ox), to_pixels(oy), to_pixels(sw), to_pixels(sh));
    } else {
        const Hwnd h = face_handle_q(face);
        if (!windows::alive(h)) return false;
        s = paint::render_window(h);
    }
    if (!s) return false;
    struct Free {
        cairo_surface_t* s;
        ~Free() { capture_release(s); }
    } free_it{s};
    surface_to_image(s, out);
    return true;
}

void set_dark(Hwnd h, bool on) {
    h = windows::root(h);
    if (!h) return;
    if (on)
        dark_windows.insert(h);
    else
        dark_windows.erase(h);
    paint::invalidate(h);
}

bool dark(Hwnd h) {
    return dark_windows.count(windows::root(h)) != 0;
}

}  // namespace kiv::gui::view
