#include "gui/controls/controls.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "gui/text/facets.h"
#include "gui/text/routines.h"
#include "gui/text/text.h"
#include "gui/draw/draw_device.h"
#include "gui/window/accessors.h"
#include "gui/window/classes.h"
#include "gui/window/control_hooks.h"
#include "gui/window/event.h"
#include "gui/window/paint.h"
#include "gui/window/view.h"
#include "gui/window/window_proc.h"
#include "gui/window/windows.h"
#include "library/library.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "gui/text/pango_calls.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::controls {

namespace {

std::unordered_map<Hwnd, State> states;

struct KindName {
    const char* type;
    Kind kind;
};
constexpr KindName KINDS[] = {
    {"button", Kind::BUTTON},       {"toggle", Kind::TOGGLE},       {"check", Kind::CHECK},
    {"radio", Kind::RADIO},         {"field", Kind::FIELD},         {"area", Kind::AREA},
    {"text-list", Kind::TEXT_LIST}, {"drop-list", Kind::DROP_LIST}, {"drop-down", Kind::DROP_DOWN},
    {"progress", Kind::PROGRESS},   {"slider", Kind::SLIDER},       {"scroller", Kind::SCROLLER},
    {"tab-panel", Kind::TAB_PANEL}, {"group-box", Kind::GROUP_BOX}, {"calendar", Kind::CALENDAR},
    {"text", Kind::TEXT},
};

// A text face: its colour, then its text laid out by the text layer in the
// colour of ink_of (the layer draws it black: its shape masks the ink).
// A face with an image or a font colour is left to the plain painting.
bool paint_static_text(cairo_t* cr, Hwnd h, Cell* face, int32_t w, int32_t height) {
    const Cell* image = face_slot(face, FACET_IMAGE);
    if ((image && image->type() != TYPE_NONE) || font_colour(*face, 0x1000000) != 0x1000000) return false;
    uint32_t bg;
    if (face_colour(*face, &bg)) fill_rect(cr, 0, 0, w, height, bg);
    cairo_surface_t* shape = draw::new_surface(w, height);
    if (!shape) return true;
    cairo_t* c2 = cairo_create(shape);
    text::paint_face_text(c2, *face, scale_factor);
    cairo_destroy(c2);
    cairo_surface_flush(shape);
    set_rgb(cr, windows::enabled(h) ? ink_of(*face, palette_of(h)) : palette_of(h).text_disabled);
    cairo_mask_surface(cr, shape, 0, 0);
    cairo_surface_destroy(shape);
    return true;
}

bool paint_hook(cairo_t* cr, Hwnd h, const Cell& face_in, int32_t w, int32_t height) {
    const Kind kind = kind_of_face(face_in);
    if (kind == Kind::NONE) return false;
    Cell* saved = stack::top;
    Cell* face = stack::push(face_in);
    text::prepare();
    if (kind == Kind::TEXT) {
        const bool done = paint_static_text(cr, h, face, w, height);
        stack::top = saved;
        return done;
    }
    cairo_save(cr);
    cairo_scale(cr, scale_factor, scale_factor);
    const double lw = w / scale_factor, lh = height / scale_factor;
    switch (kind) {
        case Kind::BUTTON:
        case Kind::TOGGLE:
        case Kind::CHECK:
        case Kind::RADIO:
            paint_button(cr, h, *face, kind, lw, lh);
            break;
        case Kind::FIELD:
        case Kind::AREA:
            paint_edit(cr, h, *face, kind, lw, lh);
            break;
        case Kind::TEXT_LIST:
            paint_list(cr, h, *face, lw, lh);
            break;
        case Kind::DROP_LIST:
        case Kind::DROP_DOWN:
            paint_combo(cr, h, *face, kind, lw, lh);
            break;
        case Kind::PROGRESS:
        case Kind::SLIDER:
        case Kind::SCROLLER:
            paint_range(cr, h, *face, kind, lw, lh);
            break;
        case Kind::TAB_PANEL:
            paint_tab_panel(cr, h, *face, lw, lh);
            break;
        case Kind::GROUP_BOX:
            paint_group_box(cr, h, *face, lw, lh);
            break;
        case Kind::CALENDAR:
            paint_calendar(cr, h, *face, lw, lh);
            break;
        case Kind::TEXT:
        case Kind::NONE:
            break;
    }
    cairo_restore(cr);
    stack::top = saved;
    return true;
}

void facets_hook(Hwnd h, const Cell* face_in, uint32_t bits) {
    Cell* saved = stack::top;
    Cell* face = stack::push(*face_in);
    const Kind kind = kind_of_face(*face);
    switch (kind) {
        case Kind::FIELD:
        case Kind::AREA:
        case Kind::DROP_DOWN:
            edit_facets(h, face, bits);
            break;
        case Kind::TAB_PANEL:
            tab_facets(h, face, bits);
            break;
        case Kind::TEXT_LIST:
        case Kind::DROP_LIST:
            list_facets(h, face, bits);
            break;
        case Kind::CALENDAR:
            // A date set by the script shows its month.
            if ((bits >> FACET_DATA) & 1) state_of(h).month_shown = 0;
            break;
        case Kind::RADIO:
            // A radio checked by the script unchecks its siblings.
            if ((bits >> FACET_DATA) & 1) {
                const Cell* d = face_slot(face, FACET_DATA);
                if (d && d->type() == TYPE_LOGIC && d->w1) command(h, RADIO_FOLLOW);
            }
            break;
        default:
            break;
    }
    if (kind != Kind::NONE && bits) paint::invalidate(h);
    stack::top = saved;
}

int32_t list_item_hook(Hwnd h, int32_t x, int32_t y) {
    return list_item_at(h, x, y);
}

const Palette LIGHT{0xE1E1E1, 0xE5F1FB, 0xCCE4F7, 0xADADAD, 0x7A7A7A, 0x000000, 0x8C8C8C,
                    0xFFFFFF, 0x0078D7, 0xFFFFFF, 0x0078D7, 0x0078D7, 0xC8C8C8};
const Palette DARK{0x3C3C3C, 0x4A4A4A, 0x2A5A8A, 0x6A6A6A, 0x8A8A8A, 0xF0F0F0, 0x808080,
                   0x1E1E1E, 0x2F80D0, 0xFFFFFF, 0x5AA0E6, 0x5AA0E6, 0x555555};

}  // namespace

void install() {
    static bool done = false;
    if (done) return;
    done = true;
    // The stand-ins for the system controls; the backend's superclasses
    // (KivButton, KivField, ...) copy these procedures when they are made.
    constexpr uint32_t STYLE = classes::CS_DBLCLKS;
    classes::register_class("BUTTON", button_proc, STYLE, EXTRA_BYTES);
    classes::register_class("EDIT", edit_proc, STYLE, EXTRA_BYTES);
    classes::register_class("ListBox", list_proc, STYLE, EXTRA_BYTES);
    classes::register_class("ComboBox", combo_proc, STYLE, EXTRA_BYTES);
    classes::register_class("msctls_progress32", range_proc, STYLE, EXTRA_BYTES);
    classes::register_class("msctls_trackbar32", range_proc, STYLE, EXTRA_BYTES);
    classes::register_class("SCROLLBAR", range_proc, STYLE, EXTRA_BYTES);
    classes::register_class("SysTabControl32", tab_proc, STYLE, EXTRA_BYTES);
    classes::register_class("SysMonthCal32", calendar_proc, STYLE, EXTRA_BYTES);
    control_hooks::paint = paint_hook;
    control_hooks::notify = relay;
    control_hooks::facets = facets_hook;
    event::list_item_at = list_item_hook;
}

Kind kind_of_face(const Cell& face) {
    const Cell* t = face_slot(&face, FACET_TYPE);
    if (!t || t->type() != TYPE_WORD) return Kind::NONE;
    const uint32_t sym = symbol::resolve(t->w2);
    // The words are interned once; comparing symbols allocates nothing after.
    static uint32_t syms[sizeof KINDS / sizeof KINDS[0]] = {};
    if (!syms[0])
        for (size_t i = 0; i < sizeof KINDS / sizeof KINDS[0]; ++i) {
            Cell w = word::load(KINDS[i].type);
            syms[i] = symbol::resolve(w.w2);
        }
    for (size_t i = 0; i < sizeof KINDS / sizeof KINDS[0]; ++i)
        if (syms[i] == sym) return KINDS[i].kind;
    return Kind::NONE;
}

State& state_of(Hwnd h) {
    auto it = states.find(h);
    if (it != states.end()) return it->second;
    State& s = states[h];
    const Cell face = face_of(h);
    s.kind = kind_of_face(face);
    return s;
}

void forget(Hwnd h) {
    states.erase(h);
}

Cell face_of(Hwnd h) {
    return window_face_cell(h);
}

std::vector<std::string> items_of(const Cell& face) {
    std::vector<std::string> out;
    const Cell* d = face_slot(&face, FACET_DATA);
    if (!d || (d->type() != TYPE_BLOCK && d->type() != TYPE_HASH)) return out;
    const Cell blk = *d;
    const uint32_t n = block::cells_length(&blk);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell v = *block::cells_at(&blk, blk.w1 + i);
        if (is_any_string(v.type())) out.push_back(library::to_utf8(v));
    }
    return out;
}

int32_t selected_of(const Cell& face, int32_t fallback) {
    const Cell* s = face_slot(&face, FACET_SELECTED);
    if (!s || s->type() != TYPE_INTEGER) return fallback;
    return integer::get(s);
}

void store_selected(Hwnd h, int32_t value) {
    Cell face = face_of(h);
    if (Cell* s = face_slot(&face, FACET_SELECTED)) *s = integer::cell(value);
}

double ratio_of(const Cell* v) {
    if (!v) return -1;
    double r;
    if (v->type() == TYPE_INTEGER)
        r = integer::get(v);
    else if (v->type() == TYPE_FLOAT || v->type() == TYPE_PERCENT)
        r = v->get_f64();
    else
        return -1;
    if (!(r >= 0)) return 0;  // below 0, and NaN
    return std::min(r, 1.0);
}

uint32_t flags_of(const Cell& face) {
    const Cell* f = face_slot(&face, FACET_FLAGS);
    if (!f) return 0;
    const Cell v = *f;
    // A face's flags were checked when its window was made.
    if (v.type() != TYPE_WORD && v.type() != TYPE_BLOCK) return 0;
    return view::get_flags(&v);
}

void store_text(Hwnd h, const std::string& utf8) {
    Cell* saved = stack::top;
    Cell* face = stack::push(face_of(h));
    if (face->type() != TYPE_OBJECT) {
        stack::top = saved;
        return;
    }
    Cell* fresh = string::load_push(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()),
                                    string::ENC_UTF8);
    Cell* slot = face_slot(face, FACET_TEXT);
    if (slot && slot->type() == TYPE_STRING) {
        Cell* old = stack::push(*slot);
        string::reset(old);
        string::concatenate(old, fresh, -1, 0, false, 0);
    } else if (slot) {
        *slot = *fresh;
    }
    slot = face_slot(face, FACET_TEXT);
    Cell* text = stack::push(*slot);
    Cell name = word::load("text");
    Cell* field = stack::push(name);
    ownership::bind_set(text, face, field);
    stack::top = saved;
}

void logical_size(Hwnd h, double* w, double* height) {
    const Window* win = windows::get(h);
    *w = win ? win->w / scale_factor : 0;
    *height = win ? win->h / scale_factor : 0;
}

// ---- Notifications ------------------------------------------------------------------------------

void command(Hwnd h, uint32_t code) {
    const Hwnd p = windows::parent(h);
    if (p) windows::send(p, WM_COMMAND, code << 16, int32_t(h));
}

int32_t notify(Hwnd h, int32_t code) {
    const Hwnd p = windows::parent(h);
    return p ? windows::send(p, WM_NOTIFY, uint32_t(code), int32_t(h)) : 0;
}

void scroll(Hwnd h, uint32_t code) {
    const Hwnd p = windows::parent(h);
    const Window* w = windows::get(h);
    if (p && w) windows::send(p, w->h > w->w ? WM_VSCROLL : WM_HSCROLL, code, int32_t(h));
}

int32_t control_default(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_NCCREATE:
            windows::set_slot(h, SLOT_FACE, lparam);
            return 1;
        case WM_DESTROY:
            forget(h);
            break;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            paint::invalidate(h);
            command(h, message == WM_SETFOCUS ? EN_SETFOCUS : EN_KILLFOCUS);
            return 0;
        default:
            break;
    }
    return windows::default_proc(h, message, wparam, lparam);
}

// ---- Drawing helpers -----------------------------------------------------------------------------

const Palette& palette_of(Hwnd h) {
    return view::dark(h) ? DARK : LIGHT;
}

void set_rgb(cairo_t* cr, uint32_t rgb) {
    cairo_set_source_rgba(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1.0);
}

void fill_rect(cairo_t* cr, double x, double y, double w, double h, uint32_t rgb) {
    set_rgb(cr, rgb);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

void frame_rect(cairo_t* cr, double x, double y, double w, double h, uint32_t rgb) {
    set_rgb(cr, rgb);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
    cairo_stroke(cr);
}

// Quarter circles as Bezier curves (k: the control points' distance).
void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r) {
    const double k = r * 0.5523;
    cairo_move_to(cr, x + r, y);
    cairo_line_to(cr, x + w - r, y);
    cairo_curve_to(cr, x + w - r + k, y, x + w, y + r - k, x + w, y + r);
    cairo_line_to(cr, x + w, y + h - r);
    cairo_curve_to(cr, x + w, y + h - r + k, x + w - r + k, y + h, x + w - r, y + h);
    cairo_line_to(cr, x + r, y + h);
    cairo_curve_to(cr, x + r - k, y + h, x, y + h - r + k, x, y + h - r);
    cairo_line_to(cr, x, y + r);
    cairo_curve_to(cr, x, y + r - k, x + r - k, y, x + r, y);
    cairo_close_path(cr);
}

void circle(cairo_t* cr, double cx, double cy, double r) {
    rounded_rect(cr, cx - r, cy - r, 2 * r, 2 * r, r);
}

void focus_ring(cairo_t* cr, double x, double y, double w, double h, uint32_t rgb) {
    set_rgb(cr, rgb);
    cairo_set_line_width(cr, 1);
    const double dash[] = {1, 1};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
}

namespace {
bool tuple_rgb(const Cell* v, uint32_t* rgb) {
    if (!v || v->type() != TYPE_TUPLE) return false;
    uint8_t b[12];
    tuple::get_bytes(v, b);
    *rgb = uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
    return true;
}
}  // namespace

uint32_t font_colour(const Cell& face, uint32_t fallback) {
    const Cell* font = face_slot(&face, FACET_FONT);
    if (!font || font->type() != TYPE_OBJECT) return fallback;
    uint32_t rgb;
    // font! fields: name size style angle color ...
    if (tuple_rgb(face_value_slot(font, 5), &rgb)) return rgb;
    return fallback;
}

uint32_t ink_of(const Cell& face, const Palette& p) {
    uint32_t bg;
    if (!face_colour(face, &bg)) return font_colour(face, p.text);
    const double light = 0.3 * (bg >> 16) + 0.59 * ((bg >> 8) & 0xFF) + 0.11 * (bg & 0xFF);
    return font_colour(face, light > 128 ? 0x000000 : 0xF0F0F0);
}

bool face_colour(const Cell& face, uint32_t* rgb) {
    return tuple_rgb(face_slot(&face, FACET_COLOR), rgb);
}

double VBar::thumb() const {
    return total > shown ? std::max(10.0, track() * shown / total) : track();
}

double VBar::thumb_at() const {
    const double room = total - shown;
    return y + BAR_WIDTH + (room > 0 ? (track() - thumb()) * std::clamp(first / room, 0.0, 1.0) : 0);
}

VBar::Part VBar::part(double py) const {
    if (py < y || py >= y + height) return NONE;
    if (py < y + BAR_WIDTH) return LINE_UP;
    if (py >= y + height - BAR_WIDTH) return LINE_DOWN;
    if (py < thumb_at()) return PAGE_UP;
    if (py >= thumb_at() + thumb()) return PAGE_DOWN;
    return THUMB;
}

double VBar::first_for(double thumb_top) const {
    const double span = track() - thumb();
    if (!(span > 0)) return 0;
    return std::clamp((thumb_top - y - BAR_WIDTH) / span, 0.0, 1.0) * std::max(0.0, total - shown);
}

void VBar::paint(cairo_t* cr, const Palette& p) const {
    fill_rect(cr, x, y, BAR_WIDTH, height, p.face);
    if (total <= shown) return;
    fill_rect(cr, x + 2, thumb_at(), BAR_WIDTH - 4, thumb(), p.edge_dark);
    set_rgb(cr, p.edge_dark);
    for (int k = 0; k < 2; ++k) {
        const double cy = k == 0 ? y + BAR_WIDTH / 2 : y + height - BAR_WIDTH / 2;
        const double d = k == 0 ? -3 : 3;
        cairo_move_to(cr, x + BAR_WIDTH / 2 - 4, cy - d / 2);
        cairo_line_to(cr, x + BAR_WIDTH / 2 + 4, cy - d / 2);
        cairo_line_to(cr, x + BAR_WIDTH / 2, cy + d / 2);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
}

// ---- Text lines -------------------------------------------------------------------------------------

std::u32string to_u32(const std::string& s) {
    // std::string keeps a NUL after its bytes: every sequence stops there.
    std::u32string out;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s.c_str());
    const uint8_t* end = p + s.size();
    while (p < end) {
        int32_t cp;
        p = unicode::fast_decode_utf8_char(p, &cp);
        out.push_back(cp < 0 ? U'\uFFFD' : char32_t(cp));
    }
    return out;
}

std::string to_utf8(const std::u32string& t) {
    std::string out;
    uint8_t buf[4];
    for (char32_t cp : t) out.append(reinterpret_cast<const char*>(buf), size_t(unicode::encode_utf8_char(cp, buf)));
    return out;
}

namespace {
PangoContext* context() {
    static PangoContext* ctx = pango_font_map_create_context(pango_cairo_font_map_get_default());
    return ctx;
}
PangoLayout* as_layout(void* p) {
    return static_cast<PangoLayout*>(p);
}
}  // namespace

TextLine::TextLine(const Cell& face, const std::string& utf8, double wrap_width) {
    text::prepare();
    const Cell* font = face_slot(&face, FACET_FONT);
    text::Format* f = font ? text::format_of(*font) : text::default_format();
    PangoLayout* l = pango_layout_new(context());
    pango_layout_set_font_description(l, f->desc);
    pango_layout_set_text(l, utf8.data(), int(utf8.size()));
    if (wrap_width > 0) {
        pango_layout_set_width(l, int(wrap_width * PANGO_SCALE));
        pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
    }
    layout_ = l;
    for (uint32_t i = 0; i < utf8.size(); ++i)
        if ((uint8_t(utf8[i]) & 0xC0) != 0x80) offsets_.push_back(i);
    offsets_.push_back(uint32_t(utf8.size()));
}

TextLine::~TextLine() {
    if (layout_) g_object_unref(layout_);
}

double TextLine::width() const {
    PangoRectangle ink, logical;
    pango_layout_get_extents(as_layout(layout_), &ink, &logical);
    return double(logical.width) / PANGO_SCALE;
}

double TextLine::height() const {
    PangoRectangle ink, logical;
    pango_layout_get_extents(as_layout(layout_), &ink, &logical);
    return double(logical.height) / PANGO_SCALE;
}

double TextLine::line_height() const {
    PangoRectangle pos;
    pango_layout_index_to_pos(as_layout(layout_), 0, &pos);
    return double(pos.height) / PANGO_SCALE;
}

void TextLine::caret_at(int32_t index, double* x, double* y) const {
    index = std::clamp(index, 0, chars());
    PangoRectangle pos;
    pango_layout_index_to_pos(as_layout(layout_), int(offsets_[size_t(index)]), &pos);
    *x = double(pos.x) / PANGO_SCALE;
    *y = double(pos.y) / PANGO_SCALE;
}

int32_t TextLine::index_at(double x, double y) const {
    int index = 0, trailing = 0;
    pango_layout_xy_to_index(as_layout(layout_), int(x * PANGO_SCALE), int(y * PANGO_SCALE), &index, &trailing);
    auto it = std::lower_bound(offsets_.begin(), offsets_.end(), uint32_t(index));
    int32_t n = int32_t(it - offsets_.begin());
    return std::clamp(n + trailing, 0, chars());
}

void TextLine::draw(cairo_t* cr, double x, double y, uint32_t rgb) const {
    set_rgb(cr, rgb);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, as_layout(layout_));
}

void TextLine::draw_selection(cairo_t* cr, double x, double y, int32_t from, int32_t to, uint32_t rgb) const {
    from = std::clamp(from, 0, chars());
    to = std::clamp(to, 0, chars());
    if (from >= to) return;
    set_rgb(cr, rgb);
    // One rectangle per line the selection crosses.
    int32_t at = from;
    while (at < to) {
        const int32_t line = line_of(at);
        int32_t end = at;
        while (end < to && line_of(end + 1) == line && end + 1 <= to) ++end;
        double x0, y0, x1, y1;
        caret_at(at, &x0, &y0);
        caret_at(end, &x1, &y1);
        if (end == at || y1 != y0) {
            // The selection reaches the line's end (its line feed).
            x1 = x0 + 4;
            ++end;
        }
        cairo_rectangle(cr, x + std::min(x0, x1), y + y0, std::max(2.0, std::fabs(x1 - x0)), line_height());
        at = end;
    }
    cairo_fill(cr);
}

int32_t TextLine::line_of(int32_t index) const {
    index = std::clamp(index, 0, chars());
    int line = 0, xpos = 0;
    pango_layout_index_to_line_x(as_layout(layout_), int(offsets_[size_t(index)]), 0, &line, &xpos);
    return line;
}

int32_t TextLine::lines() const {
    return pango_layout_get_line_count(as_layout(layout_));
}

// ---- The relay of the main window procedure -------------------------------------------------------

namespace {

// Raises an event for the control with the message's window set to it.
int32_t raise(Hwnd h, uint32_t type, int32_t data) {
    return raise_event(h, type, data, 0);
}

// The focused control becomes its window's `selected`.
void follow_focus(Hwnd h) {
    const Hwnd top = windows::root(h);
    Cell* saved = stack::top;
    Cell* win = stack::push(face_of(top));
    const Cell face = face_of(h);
    if (win->type() == TYPE_OBJECT && face.type() == TYPE_OBJECT)
        if (Cell* s = face_slot(win, FACET_SELECTED)) *s = face;
    stack::top = saved;
}

}  // namespace

int32_t relay(Hwnd parent, uint32_t message, uint32_t wparam, int32_t lparam) {
    (void)parent;
    const Hwnd h = Hwnd(lparam);
    if (!windows::alive(h) || !has_face(h)) return 0;
    const Kind kind = state_of(h).kind;
    const uint32_t flags = flags_of(face_of(h));
    if (message == WM_NOTIFY) {
        switch (int32_t(wparam)) {
            case TCN_SELCHANGING:
                // A `stop` from the select event keeps the current tab.
                // Its picked is the tab shown until now.
                return raise(h, event::SELECT, selected_of(face_of(h), 1) - 1) == 0 ? 1 : 0;
            case TCN_SELCHANGE: {
                const int32_t index = state_of(h).hover;
                store_selected(h, index + 1);
                tab_sync_panes(h);
                raise(h, event::CHANGE, index + 1);
                return 0;
            }
            case MCN_SELCHANGE:
                raise(h, event::CHANGE, 0);
                return 0;
            default:
                return 0;
        }
    }
    if (message == WM_HSCROLL || message == WM_VSCROLL) {
        // The end of a drag changes nothing more.
        if ((kind == Kind::SLIDER || kind == Kind::SCROLLER) && (wparam & 0xFFFF) != SB_ENDSCROLL)
            raise(h, event::CHANGE, 0);
        return 0;
    }
    // WM_COMMAND
    const uint32_t code = wparam >> 16;
    switch (code) {
        case BN_CLICKED:
            if (kind == Kind::BUTTON) raise(h, event::CLICK, 0);
            else if (kind == Kind::TOGGLE || kind == Kind::CHECK) raise(h, event::CHANGE, 0);
            else if (kind == Kind::RADIO) {
                // Only an unchecked radio changes; the engine's radio handler
                // turns this click into its change and unchecks the others.
                Cell f = face_of(h);
                const Cell* d = face_slot(&f, FACET_DATA);
                if (!(d && d->type() == TYPE_LOGIC && d->w1)) raise(h, event::CLICK, 0);
            }
            break;
        case RADIO_FOLLOW: {
            // The siblings of a checked radio are unchecked.
            Cell* saved = stack::top;
            Cell* face = stack::push(face_of(h));
            const Hwnd p = windows::parent(h);
            if (const Window* pw = windows::get(p)) {
                const std::vector<Hwnd> kids = pw->children;
                for (Hwnd k : kids) {
                    if (k == h || state_of(k).kind != Kind::RADIO) continue;
                    Cell f = face_of(k);
                    Cell* d = face_slot(&f, FACET_DATA);
                    if (d && d->type() == TYPE_LOGIC && d->w1) {
                        *d = logic::cell(false);
                        paint::invalidate(k);
                    }
                }
            }
            (void)face;
            stack::top = saved;
            break;
        }
        case EN_SETFOCUS:
            follow_focus(h);
            raise(h, event::FOCUS, 0);
            break;
        case EN_KILLFOCUS:
            raise(h, event::UNFOCUS, 0);
            break;
        case EN_CHANGE:
            if (!(flags & view::FLAG_NO_SYNC)) {
                const Window* w = windows::get(h);
                if (w) store_text(h, w->text);
            }
            raise(h, event::CHANGE, -1);
            break;
        case NOTIFY_SELCHANGE: {
            const int32_t index = selected_of(face_of(h), 0) - 1;
            if (kind == Kind::DROP_DOWN && index >= 0) {
                const std::vector<std::string> items = items_of(face_of(h));
                if (size_t(index) < items.size()) {
                    windows::set_text(h, items[size_t(index)].c_str());
                    store_text(h, items[size_t(index)]);
                }
            }
            raise(h, event::SELECT, index);
            if (windows::alive(h)) raise(h, event::CHANGE, 0);
            break;
        }
        default:
            break;
    }
    return 0;
}

}  // namespace kiv::gui::controls
