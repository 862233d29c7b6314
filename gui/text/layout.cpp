// Layouts of plain and rich text, their metrics and painting.
#include <algorithm>
#include <climits>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "gui/draw/draw_context.h"
#include "gui/draw/draw_device.h"
#include "gui/text/facets.h"
#include "gui/text/text.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "gui/draw/draw_cairo_calls.h"
#include "gui/text/pango_calls.h"

namespace kiv::text {

namespace {

PangoContext* measuring_context() {
    static PangoContext* ctx = pango_font_map_create_context(pango_cairo_font_map_get_default());
    return ctx;
}

void measure_format(Format* f) {
    if (f->measured) return;
    PangoLayout* m = pango_layout_new(measuring_context());
    pango_layout_set_font_description(m, f->desc);
    pango_layout_set_text(m, "I", 1);
    PangoLayoutIter* it = pango_layout_get_iter(m);
    int y0 = 0, y1 = 0;
    pango_layout_iter_get_line_yrange(it, &y0, &y1);
    pango_layout_iter_free(it);
    f->line_height = y1 - y0;
    f->baseline = pango_layout_get_baseline(m);
    g_object_unref(m);
    f->measured = true;
}

// A number! value as a double; false for other values.
bool number(const Cell& v, double* d) {
    if (v.type() == TYPE_INTEGER) return *d = integer::get(&v), true;
    if (v.type() == TYPE_FLOAT) return *d = float_::get(&v), std::isfinite(*d);
    return false;
}

// A pair! or point2D! as two doubles.
bool planar(const Cell& v, double* x, double* y) {
    if (v.type() == TYPE_PAIR) return *x = pair::x_of(&v), *y = pair::y_of(&v), true;
    if (v.type() == TYPE_POINT2D) {
        *x = std::bit_cast<float>(v.w1), *y = std::bit_cast<float>(v.w2);
        return std::isfinite(*x) && std::isfinite(*y);
    }
    return false;
}

// A colour tuple (or a word whose value is one) as 0xAABBGGRR.
bool colour(const Cell& v, uint32_t* c) {
    return draw::colour_of(v, c);
}

void set_range(PangoAttribute* a, uint32_t s, uint32_t e) {
    a->start_index = s;
    a->end_index = e;
}

void add_colour(PangoAttrList* list, uint32_t c, uint32_t s, uint32_t e) {
    uint16_t r = uint16_t((c & 0xFF) * 257), g = uint16_t((c >> 8 & 0xFF) * 257), b = uint16_t((c >> 16 & 0xFF) * 257);
    PangoAttribute* a = pango_attr_foreground_new(r, g, b);
    set_range(a, s, e);
    pango_attr_list_insert(list, a);
    if (c >> 24) {
        a = pango_attr_foreground_alpha_new(uint16_t((255 - (c >> 24)) * 257));
        set_range(a, s, e);
        pango_attr_list_insert(list, a);
    }
}

// The UTF-8 of a string! from its index, each character one character of
// the copy: NUL and lone surrogates (which Pango would replace by several
// bytes each) become U+FFFD, so that character counts stay aligned.
std::string text_utf8(const Cell& str) {
    std::string raw = unicode::to_utf8_string(&str);
    std::string out;
    out.reserve(raw.size());
    const uint8_t* p = reinterpret_cast<const uint8_t*>(raw.data());
    const uint8_t* end = p + raw.size();
    while (p < end) {
        int32_t cp = 0;
        const uint8_t* q = unicode::fast_decode_utf8_char(p, &cp);
        if (q <= p || q > end) break;
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp < 0) out += "\xEF\xBF\xBD";
        else out.append(reinterpret_cast<const char*>(p), size_t(q - p));
        p = q;
    }
    return out;
}

// Applies a style block to the layout's attributes: a pair! opens a range
// (1-based start, length in characters, cut at the text's end); the values
// after it style that range. A nested block is read as if its values stood
// in place of it (the syntax highlighter produces such blocks).
struct Styler {
    Layout* l;
    PangoAttrList* list;
    uint32_t chars;  // characters of the text
    uint32_t s = 0, e = 0;

    [[noreturn]] void invalid(const Cell& blk, uint32_t i) {
        Cell at = blk;
        at.w1 = i;
        fire({"script", "draw-invalid"}, at);
    }

    void add(PangoAttribute* a) {
        set_range(a, s, e);
        pango_attr_list_insert(list, a);
    }

    void walk(const Cell& blk, int depth) {
        if (depth > 32) fire({"script", "draw-infinite"}, blk);
        uint32_t n = block::cells_length(&blk);
        for (uint32_t i = 0; i < n; ++i) {
            Cell v = *block::cells_at(&blk, blk.w1 + i);
            auto next = [&](uint32_t k) { return i + k < n ? *block::cells_at(&blk, blk.w1 + i + k) : none::cell(); };
            double d;
            uint32_t c;
            switch (v.type()) {
                case TYPE_PAIR: {
                    int64_t start = int64_t(pair::x_of(&v)) - 1, len = pair::y_of(&v);
                    start = std::clamp<int64_t>(start, 0, chars);
                    len = std::clamp<int64_t>(len, 0, int64_t(chars) - start);
                    s = l->byte_at(uint32_t(start));
                    e = l->byte_at(uint32_t(start + len));
                    break;
                }
                case TYPE_TUPLE:
                    colour(v, &c);
                    add_colour(list, c, s, e);
                    break;
                case TYPE_STRING:
                    add(pango_attr_family_new(map_family(text_utf8(v)).c_str()));
                    break;
                case TYPE_INTEGER:
                case TYPE_FLOAT:
                    if (!number(v, &d) || d <= 0 || d > 1e5) invalid(blk, i);
                    add(pango_attr_size_new_absolute(int(d * 96.0 / 72.0 * PANGO_SCALE)));
                    break;
                case TYPE_BLOCK:
                    walk(v, depth + 1);
                    break;
                case TYPE_WORD:
                    if (is_name(v, N_BOLD)) {
                        add(pango_attr_weight_new(PANGO_WEIGHT_BOLD));
                    } else if (is_name(v, N_ITALIC)) {
                        add(pango_attr_style_new(PANGO_STYLE_ITALIC));
                    } else if (is_name(v, N_UNDERLINE) || is_name(v, N_STRIKE) || is_name(v, N_BORDER)) {
                        if (is_name(v, N_UNDERLINE)) add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
                        if (is_name(v, N_STRIKE)) add(pango_attr_strikethrough_new(TRUE));
                        // An optional colour and style follow; they are read and not used.
                        if (next(1).type() == TYPE_TUPLE) ++i;
                        if (next(1).type() == TYPE_LIT_WORD) ++i;
                    } else if (is_name(v, N_BACKDROP)) {
                        if (i + 1 >= n || !colour(next(1), &c)) invalid(blk, i + 1 < n ? i + 1 : i);
                        ++i;
                        l->backdrops.push_back({s, e, c});
                    } else {
                        invalid(blk, i);
                    }
                    break;
                default:
                    invalid(blk, i);
            }
        }
    }
};


}  // namespace

Layout::~Layout() {
    if (layout) g_object_unref(layout);
}

uint32_t Layout::byte_at(uint32_t n) const {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    return uint32_t(unicode::skip_utf8_chars(p, p + utf8.size(), n) - p);
}

uint32_t Layout::chars_to(uint32_t bytes) const {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    return unicode::count_utf8_chars(p, p + std::min<size_t>(bytes, utf8.size()));
}

void Layout::origin(double* x, double* y) const {
    *x = *y = 0;
    if (box_w <= 0 && box_h <= 0) return;
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    double lw = double(logical.width) / PANGO_SCALE, lh = double(logical.height) / PANGO_SCALE;
    // Wrapped text is aligned by Pango within the width; unwrapped text here.
    if (box_w > 0 && !(bits & PARA_WRAP))
        *x = (box_w - lw) * ((bits & PARA_CENTER) ? 0.5 : (bits & PARA_RIGHT) ? 1.0 : 0.0);
    if (box_h > 0) *y = (box_h - lh) * ((bits & PARA_MIDDLE) ? 0.5 : (bits & PARA_BOTTOM) ? 1.0 : 0.0);
}

Layout* make_layout(Format* f, std::string utf8, double w, double h, int bits, bool uniform, double spacing,
                    double tab) {
    Layout* l = new Layout;
    l->utf8 = std::move(utf8);
    l->box_w = w;
    l->box_h = h;
    l->bits = bits;
    l->layout = pango_layout_new(measuring_context());
    pango_layout_set_font_description(l->layout, f->desc);
    if (w > 0 && (bits & PARA_WRAP)) {
        pango_layout_set_width(l->layout, int((w + 0.5) * PANGO_SCALE));
        pango_layout_set_wrap(l->layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_alignment(l->layout, (bits & PARA_CENTER)  ? PANGO_ALIGN_CENTER
                                              : (bits & PARA_RIGHT) ? PANGO_ALIGN_RIGHT
                                                                    : PANGO_ALIGN_LEFT);
    }
    if (tab > 0 && tab < 1e5) {
        PangoTabArray* tabs = pango_tab_array_new(1, FALSE);
        pango_tab_array_set_tab(tabs, 0, PANGO_TAB_LEFT, int(tab * PANGO_SCALE));
        pango_layout_set_tabs(l->layout, tabs);
        pango_tab_array_free(tabs);
    }
    PangoAttrList* list = pango_attr_list_new();
    // Uniform lines: every line as high as the font's own line ("I"), so
    // that a fallback font with a taller line does not move the lines.
    if (uniform || spacing > 0) {
        measure_format(f);
        int lh = f->line_height;
        if (spacing > 0 && spacing < 1e5) lh = std::max(lh, int(spacing * PANGO_SCALE));
        pango_attr_list_insert(list, pango_attr_line_height_new_absolute(lh));
    }
    pango_layout_set_text(l->layout, l->utf8.data(), int(l->utf8.size()));
    pango_layout_set_attributes(l->layout, list);
    pango_attr_list_unref(list);
    return l;
}

Layout* build_face_layout(const Cell& face, bool* owned) {
    Cell type = value_of(face, N_TYPE);
    bool rich = is_name(type, N_RICH_TEXT);
    Format* f = format_of(value_of(face, N_FONT));  // may allocate the font's state
    // The handles block before the layout is registered (it allocates).
    if (rich) {
        stack::TopMark guard;
        Cell handles = value_of(face, N_HANDLES);
        if (handles.type() != TYPE_BLOCK || block::cells_length(&handles) < 4) {
            Cell* blk = block::push_only(4);
            const Cell none = none::cell(), target = handle::cell(0, handle::CLASS_NULL), no = logic::cell(false);
            block::cells_append(blk, &none);
            block::cells_append(blk, &target);
            block::cells_append(blk, &none);
            block::cells_append(blk, &no);
            set_quiet(face, N_HANDLES, *blk);
        }
        Cell text = value_of(face, N_TEXT);
        if (text.type() == TYPE_STRING) {
            std::string copy = unicode::to_utf8_string(&text);
            Cell* s = string::load_push(reinterpret_cast<const uint8_t*>(copy.data()), uint32_t(copy.size()),
                                        string::ENC_UTF8);
            if (Cell* c = slot(value_of(face, N_HANDLES), 3)) *c = *s;
        }
    }
    int bits = para_bits(face, rich ? PARA_WRAP : PARA_CENTER | PARA_MIDDLE);
    double tab = 0, spacing = 0, w = 0, h = 0;
    if (rich) {
        number(value_of(face, N_TABS), &tab);
        number(value_of(face, N_LINE_SPACING), &spacing);
    }
    if (planar(value_of(face, N_SIZE), &w, &h)) w = std::trunc(w + 0.5), h = std::trunc(h + 0.5);
    if (w < 0) w = 0;
    if (h < 0) h = 0;
    Cell text = value_of(face, N_TEXT);
    std::string utf8 = text.type() == TYPE_STRING ? text_utf8(text) : std::string();
    Layout* l = make_layout(f, std::move(utf8), w, h, bits, false, spacing, tab);
    // From here on nothing allocates until the layout is in the registry.
    if (rich) {
        *owned = false;
        Cell handles = value_of(face, N_HANDLES);
        uint32_t entry;
        if (live_entry(slot(handles, 1), object_kind(), &entry)) {
            externals::replace(entry, reinterpret_cast<uint64_t>(l));
        } else {
            entry = externals::add(reinterpret_cast<uint64_t>(l), object_kind());
            *slot(handles, 1) = handle::resource_cell(entry, handle::CLASS_RICH_TEXT);
        }
        *slot(handles, 4) = logic::cell(false);
    } else {
        *owned = true;
    }
    PangoAttrList* list = pango_attr_list_copy(pango_layout_get_attributes(l->layout));
    struct Commit {
        Layout* l;
        PangoAttrList* list;
        ~Commit() {
            if (l) pango_layout_set_attributes(l->layout, list);
            pango_attr_list_unref(list);
        }
    } commit{l, list};
    Cell font = value_of(face, N_FONT);
    uint32_t c;
    if (font.type() == TYPE_OBJECT && value_of(font, N_COLOR).type() == TYPE_TUPLE &&
        colour(value_of(font, N_COLOR), &c))
        add_colour(list, c, 0, uint32_t(l->utf8.size()));
    Cell data = value_of(face, N_DATA);
    if (rich && data.type() == TYPE_BLOCK && block::cells_length(&data) > 1) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(l->utf8.data());
        Styler st{l, list, unicode::count_utf8_chars(p, p + l->utf8.size())};
        if (!*owned) {
            st.walk(data, 0);
        } else {
            // A layout the caller owns must not leak when the block is refused.
            try {
                st.walk(data, 0);
            } catch (...) {
                commit.l = nullptr;
                delete l;
                throw;
            }
        }
    }
    return l;
}

Layout* face_layout(const Cell& face, bool* owned) {
    if (is_name(value_of(face, N_TYPE), N_RICH_TEXT)) {
        Cell handles = value_of(face, N_HANDLES);
        Cell* flag = slot(handles, 4);
        uint32_t entry;
        if (flag && !(flag->type() == TYPE_LOGIC && logic::get(flag)) && live_entry(slot(handles, 1), object_kind(), &entry)) {
            *owned = false;
            return reinterpret_cast<Layout*>(externals::address_of(entry));
        }
    }
    return build_face_layout(face, owned);
}

void metrics(Layout* l, const Cell& arg, int32_t type, Cell* out) {
    *out = none::cell();
    double ox, oy;
    l->origin(&ox, &oy);
    const uint32_t total = l->chars_to(uint32_t(l->utf8.size()));
    auto char_arg = [&](uint32_t* index) {
        if (arg.type() != TYPE_INTEGER) return false;
        int64_t i = int64_t(integer::get(&arg)) - 1;
        *index = uint32_t(std::clamp<int64_t>(i, 0, total));
        return true;
    };
    switch (type) {
        case 0:
        case 6: {
            uint32_t i;
            if (!char_arg(&i)) return;
            PangoRectangle r;
            pango_layout_index_to_pos(l->layout, int(l->byte_at(i)), &r);
            double x = double(r.x) / PANGO_SCALE, y = std::max(0.0, double(r.y) / PANGO_SCALE);
            if (type == 6) x += double(r.width) / PANGO_SCALE, y += double(r.height) / PANGO_SCALE;
            *out = point::make2(float(x + ox), float(y + oy));
            return;
        }
        case 1:
        case 5: {
            double x, y;
            if (!planar(arg, &x, &y)) return;
            int index = 0, trailing = 0;
            pango_layout_xy_to_index(l->layout, int((x - ox) * PANGO_SCALE), int((y - oy) * PANGO_SCALE), &index,
                                     &trailing);
            uint32_t n = l->chars_to(uint32_t(std::max(index, 0)));
            if (type == 1 && trailing > 0) n = std::min(n + 1, total);
            *out = integer::cell(int32_t(n + 1));
            return;
        }
        case 2: {
            // The line that holds the character: found by its byte index,
            // never by subtracting line lengths counted in other units.
            uint32_t i;
            if (!char_arg(&i)) return;
            int line = 0, x = 0;
            pango_layout_index_to_line_x(l->layout, int(l->byte_at(i)), FALSE, &line, &x);
            PangoLayoutIter* it = pango_layout_get_iter(l->layout);
            for (int k = 0; k < line && pango_layout_iter_next_line(it); ++k) {
            }
            int y0 = 0, y1 = 0;
            pango_layout_iter_get_line_yrange(it, &y0, &y1);
            pango_layout_iter_free(it);
            *out = float_::cell(double(y1 - y0) / PANGO_SCALE);
            return;
        }
        case 3: {
            PangoRectangle logical;
            pango_layout_get_extents(l->layout, nullptr, &logical);
            *out = point::make2(float(double(logical.width) / PANGO_SCALE), float(double(logical.height) / PANGO_SCALE));
            return;
        }
        case 4:
            *out = integer::cell(pango_layout_get_line_count(l->layout));
            return;
        default:
            return;
    }
}

void paint(cairo_t* cr, Layout* l, double x, double y, uint32_t colour) {
    double ox, oy;
    l->origin(&ox, &oy);
    x += ox, y += oy;
    for (const Layout::Backdrop& b : l->backdrops) {
        if (b.start >= b.end) continue;
        draw::Rgba c = draw::to_rgba(b.colour);
        cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
        PangoLayoutIter* it = pango_layout_get_iter(l->layout);
        do {
            PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
            int ls = line->start_index, le = line->start_index + line->length;
            int s = std::max(ls, int(b.start)), e = std::min(le, int(b.end));
            if (s >= e) continue;
            int y0, y1;
            pango_layout_iter_get_line_yrange(it, &y0, &y1);
            int* ranges = nullptr;
            int n = 0;
            pango_layout_line_get_x_ranges(line, s, e, &ranges, &n);
            for (int k = 0; k < n; ++k) {
                double left = x + double(ranges[2 * k]) / PANGO_SCALE, top = y + double(y0) / PANGO_SCALE;
                double width = double(ranges[2 * k + 1] - ranges[2 * k]) / PANGO_SCALE;
                double height = double(y1 - y0) / PANGO_SCALE;
                cairo_rectangle(cr, std::trunc(left + 0.5), std::trunc(top + 0.5), std::trunc(width + 0.5),
                                std::trunc(height + 0.99));
            }
            g_free(ranges);
            cairo_fill(cr);
        } while (pango_layout_iter_next_line(it));
        pango_layout_iter_free(it);
    }
    draw::Rgba c = draw::to_rgba(colour);
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, l->layout);
    cairo_new_path(cr);
}

void measure(const Cell& face, std::string utf8, double* w, double* h) {
    Format* f = format_of(value_of(face, N_FONT));
    Layout* l = make_layout(f, std::move(utf8), 0, 0, 0, false, 0, 0);
    PangoRectangle logical;
    pango_layout_get_extents(l->layout, nullptr, &logical);
    *w = double(logical.width) / PANGO_SCALE;
    *h = double(logical.height) / PANGO_SCALE;
    delete l;
}

}  // namespace kiv::text
