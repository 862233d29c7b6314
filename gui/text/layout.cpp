// Layouts of plain and rich text, their metrics and painting.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

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

void add_colour(std::vector<Style>& styles, uint32_t c, uint32_t s, uint32_t e) {
    styles.push_back({Style::COLOUR, c & 0xFFFFFF, {}, s, e});
    if (c >> 24) styles.push_back({Style::ALPHA, (255 - (c >> 24)) * 257, {}, s, e});
}

// The Pango attribute of a style, over [s, e) of a paragraph.
PangoAttribute* attribute(const Style& st, uint32_t s, uint32_t e) {
    PangoAttribute* a = nullptr;
    uint32_t v = st.value;
    switch (st.kind) {
        case Style::COLOUR:
            a = pango_attr_foreground_new(uint16_t((v & 0xFF) * 257), uint16_t((v >> 8 & 0xFF) * 257),
                                          uint16_t((v >> 16 & 0xFF) * 257));
            break;
        case Style::ALPHA: a = pango_attr_foreground_alpha_new(uint16_t(v)); break;
        case Style::FAMILY: a = pango_attr_family_new(st.family.c_str()); break;
        case Style::SIZE: a = pango_attr_size_new_absolute(int(v)); break;
        case Style::BOLD: a = pango_attr_weight_new(PANGO_WEIGHT_BOLD); break;
        case Style::ITALIC: a = pango_attr_style_new(PANGO_STYLE_ITALIC); break;
        case Style::UNDERLINE: a = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE); break;
        case Style::STRIKE: a = pango_attr_strikethrough_new(TRUE); break;
        case Style::LINE_HEIGHT: a = pango_attr_line_height_new_absolute(int(v)); break;
    }
    a->start_index = s;
    a->end_index = e;
    return a;
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
    uint32_t chars;  // characters of the text
    uint32_t s = 0, e = 0;

    [[noreturn]] void invalid(const Cell& blk, uint32_t i) {
        Cell at = blk;
        at.w1 = i;
        fire({"script", "draw-invalid"}, at);
    }

    void add(Style::Kind kind, uint32_t value = 0, std::string family = {}) {
        l->styles.push_back({kind, value, std::move(family), s, e});
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
                    add_colour(l->styles, c, s, e);
                    break;
                case TYPE_STRING:
                    add(Style::FAMILY, 0, map_family(text_utf8(v)));
                    break;
                case TYPE_INTEGER:
                case TYPE_FLOAT:
                    if (!number(v, &d) || d <= 0 || d > 1e5) invalid(blk, i);
                    add(Style::SIZE, uint32_t(int(d * 96.0 / 72.0 * PANGO_SCALE)));
                    break;
                case TYPE_BLOCK:
                    walk(v, depth + 1);
                    break;
                case TYPE_WORD:
                    if (is_name(v, N_BOLD)) {
                        add(Style::BOLD);
                    } else if (is_name(v, N_ITALIC)) {
                        add(Style::ITALIC);
                    } else if (is_name(v, N_UNDERLINE) || is_name(v, N_STRIKE) || is_name(v, N_BORDER)) {
                        if (is_name(v, N_UNDERLINE)) add(Style::UNDERLINE);
                        if (is_name(v, N_STRIKE)) add(Style::STRIKE);
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
    for (Para& p : paras)
        if (p.layout) g_object_unref(p.layout);
    if (desc) pango_font_description_free(desc);
}

uint32_t Layout::byte_at(uint32_t n) const {
    // Through the paragraph that holds the character: only its text is walked.
    auto it = std::upper_bound(paras.begin(), paras.end(), n, [](uint32_t c, const Para& p) { return c < p.chars; });
    uint32_t from = it == paras.begin() ? 0 : (it - 1)->byte, skip = it == paras.begin() ? n : n - (it - 1)->chars;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    return uint32_t(unicode::skip_utf8_chars(p + from, p + utf8.size(), skip) - p);
}

uint32_t Layout::chars_to(uint32_t bytes) const {
    bytes = uint32_t(std::min<size_t>(bytes, utf8.size()));
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    if (paras.empty()) return unicode::count_utf8_chars(p, p + bytes);
    const Para& para = para_at_byte(bytes);
    return para.chars + unicode::count_utf8_chars(p + para.byte, p + bytes);
}

const Layout::Para& Layout::para_at_byte(uint32_t byte) const {
    auto it = std::upper_bound(paras.begin(), paras.end(), byte, [](uint32_t b, const Para& p) { return b < p.byte; });
    return it == paras.begin() ? paras.front() : *(it - 1);
}

const Layout::Para& Layout::para_at_y(int y) const {
    auto it = std::upper_bound(paras.begin(), paras.end(), y, [](int v, const Para& p) { return v < p.y; });
    return it == paras.begin() ? paras.front() : *(it - 1);
}

void Layout::origin(double* x, double* y) const {
    *x = *y = 0;
    if (box_w <= 0 && box_h <= 0) return;
    double lw = double(logical.width) / PANGO_SCALE, lh = double(logical.height) / PANGO_SCALE;
    // Wrapped text is aligned by Pango within the width; unwrapped text here.
    if (box_w > 0 && !(bits & PARA_WRAP))
        *x = (box_w - lw) * ((bits & PARA_CENTER) ? 0.5 : (bits & PARA_RIGHT) ? 1.0 : 0.0);
    if (box_h > 0) *y = (box_h - lh) * ((bits & PARA_MIDDLE) ? 0.5 : (bits & PARA_BOTTOM) ? 1.0 : 0.0);
}

namespace {

// A paragraph of `l` (its text from `text`) laid out by Pango.
PangoLayout* new_para_layout(const Layout* l, const char* text, const Layout::Para& p) {
    PangoLayout* pl = pango_layout_new(measuring_context());
    pango_layout_set_font_description(pl, l->desc);
    if (l->box_w > 0 && (l->bits & PARA_WRAP)) {
        pango_layout_set_width(pl, int((l->box_w + 0.5) * PANGO_SCALE));
        pango_layout_set_wrap(pl, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_alignment(pl, (l->bits & PARA_CENTER)  ? PANGO_ALIGN_CENTER
                                       : (l->bits & PARA_RIGHT) ? PANGO_ALIGN_RIGHT
                                                                : PANGO_ALIGN_LEFT);
    }
    if (l->tab > 0 && l->tab < 1e5) {
        PangoTabArray* tabs = pango_tab_array_new(1, FALSE);
        pango_tab_array_set_tab(tabs, 0, PANGO_TAB_LEFT, int(l->tab * PANGO_SCALE));
        pango_layout_set_tabs(pl, tabs);
        pango_tab_array_free(tabs);
    }
    pango_layout_set_text(pl, text + p.byte, int(p.length));
    PangoAttrList* list = pango_attr_list_new();
    for (const Style& st : p.styles) pango_attr_list_insert(list, attribute(st, st.start, st.end));
    pango_layout_set_attributes(pl, list);
    pango_attr_list_unref(list);
    return pl;
}

}  // namespace

void Layout::split() {
    // The paragraphs: split at LF; a CR before it belongs to the line end,
    // as Pango reads CR LF as one line end.
    paras.clear();
    const char* text = utf8.data();
    const uint32_t size = uint32_t(utf8.size());
    const uint8_t* u = reinterpret_cast<const uint8_t*>(text);
    uint32_t at = 0, chars = 0;
    for (;;) {
        const void* lf = at < size ? std::memchr(text + at, '\n', size - at) : nullptr;
        Para p;
        p.byte = at;
        p.chars = chars;
        uint32_t end = lf ? uint32_t(static_cast<const char*>(lf) - text) : size;
        p.length = end - at - (lf && end > at && text[end - 1] == '\r' ? 1 : 0);
        p.next = lf ? end + 1 : size;
        chars += unicode::count_utf8_chars(u + at, u + p.next);
        paras.push_back(std::move(p));
        if (!lf) break;
        at = end + 1;
    }
}

void Layout::lay_out(Layout* old) {
    const char* text = utf8.data();
    const uint32_t size = uint32_t(utf8.size());
    // Each style's share of each paragraph it touches, from the paragraph's
    // start and cut at the next one's (the last takes the rest), in the
    // order Pango would keep them in one list: by start, then as given.
    std::vector<uint32_t> order(styles.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return styles[a].start < styles[b].start; });
    for (uint32_t i : order) {
        const Style& st = styles[i];
        uint32_t e = st.end > size ? UINT32_MAX : st.end;
        if (st.start >= e) continue;
        size_t k = &para_at_byte(st.start) - paras.data();
        for (; k < paras.size(); ++k) {
            Para& p = paras[k];
            bool last = k + 1 == paras.size();
            if (p.byte >= e) break;
            if (!last && st.start >= p.next) continue;
            Style cut = st;
            cut.start = std::max(st.start, p.byte) - p.byte;
            cut.end = e == UINT32_MAX ? UINT32_MAX : (last ? e : std::min(e, p.next)) - p.byte;
            p.styles.push_back(std::move(cut));
        }
    }
    // Without tab stops of its own, Pango sets tabs every eight spaces of
    // the font at the start of its text: the first paragraph's, for all.
    if (!(tab > 0 && tab < 1e5) && paras.size() > 1 && std::memchr(text + paras[1].byte, '\t', size - paras[1].byte)) {
        Para space;
        space.length = 1;
        for (const Style& st : paras[0].styles)
            if (st.start == 0 && st.end > 0) space.styles.push_back(st);
        PangoLayout* pl = new_para_layout(this, " ", space);
        PangoRectangle r;
        pango_layout_get_extents(pl, nullptr, &r);
        g_object_unref(pl);
        tab = 8.0 * r.width / PANGO_SCALE;
    }
    // Paragraphs unchanged since the last layout (same box and font, same
    // text and styles) keep their layouts: each is looked for where it was,
    // counted from the end of the text (after the edit) or from its start
    // (before it).
    if (old && old->desc && desc && !old->paras.empty() && old->box_w == box_w && old->box_h == box_h &&
        old->bits == bits && old->tab == tab && pango_font_description_equal(old->desc, desc)) {
        auto same = [&](const Para& a, const Para& b) {
            return a.layout && a.length == b.length && a.next - a.byte == b.next - b.byte && a.styles == b.styles &&
                   std::memcmp(old->utf8.data() + a.byte, text + b.byte, a.next - a.byte) == 0;
        };
        const ptrdiff_t shift = ptrdiff_t(old->paras.size()) - ptrdiff_t(paras.size());
        for (size_t k = 0; k < paras.size(); ++k) {
            for (ptrdiff_t at : {ptrdiff_t(k) + shift, ptrdiff_t(k)}) {
                if (at < 0 || at >= ptrdiff_t(old->paras.size())) continue;
                Para &to = paras[k], &from = old->paras[size_t(at)];
                if (!same(from, to)) continue;
                to.layout = from.layout;
                from.layout = nullptr;
                to.height = from.height;
                to.lines = from.lines;
                to.logical = from.logical;
                break;
            }
        }
    }
    // The others laid out anew; then every paragraph placed below the last.
    int y = 0, left = INT_MAX, right = INT_MIN, top = INT_MAX, bottom = INT_MIN;
    lines = 0;
    for (Para& p : paras) {
        if (!p.layout) {
            p.layout = new_para_layout(this, text, p);
            pango_layout_get_extents(p.layout, nullptr, &p.logical);
            p.lines = pango_layout_get_line_count(p.layout);
            p.height = -1;
        }
        // Its height (where the line after its last would start) places the
        // paragraphs after it: a text of one paragraph (a label) needs none.
        if (p.height < 0 && paras.size() > 1) {
            PangoLayoutIter* it = pango_layout_get_iter(p.layout);
            while (pango_layout_iter_next_line(it)) {
            }
            int y0 = 0, y1 = 0;
            pango_layout_iter_get_line_yrange(it, &y0, &y1);
            pango_layout_iter_free(it);
            p.height = y1;
        }
        p.y = y;
        y += p.height;
        lines += p.lines;
        left = std::min(left, p.logical.x);
        right = std::max(right, p.logical.x + p.logical.width);
        top = std::min(top, p.y + p.logical.y);
        bottom = std::max(bottom, p.y + p.logical.y + p.logical.height);
    }
    logical = {left, top, right - left, bottom - top};
}

namespace {

// A layout not laid out yet: its text, box and base styles.
Layout* start_layout(Format* f, std::string utf8, double w, double h, int bits, bool uniform, double spacing,
                     double tab) {
    Layout* l = new Layout;
    l->utf8 = std::move(utf8);
    l->box_w = w;
    l->box_h = h;
    l->bits = bits;
    l->tab = tab;
    l->desc = pango_font_description_copy(f->desc);
    l->split();
    // Uniform lines: every line as high as the font's own line ("I"), so
    // that a fallback font with a taller line does not move the lines.
    if (uniform || spacing > 0) {
        measure_format(f);
        int lh = f->line_height;
        if (spacing > 0 && spacing < 1e5) lh = std::max(lh, int(spacing * PANGO_SCALE));
        l->styles.push_back({Style::LINE_HEIGHT, uint32_t(lh), {}, 0, UINT32_MAX});
    }
    return l;
}

}  // namespace

Layout* make_layout(Format* f, std::string utf8, double w, double h, int bits, bool uniform, double spacing,
                    double tab) {
    Layout* l = start_layout(f, std::move(utf8), w, h, bits, uniform, spacing, tab);
    l->lay_out(nullptr);
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
    // A rich-text face keeps its layout in its handles block; one made
    // without that field (not through the style) gets an owned layout.
    bool kept = false;
    if (rich) {
        const Cell handles = value_of(face, N_HANDLES);
        kept = handles.type() == TYPE_BLOCK && block::cells_length(&handles) >= 4;
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
    Layout* l = start_layout(f, std::move(utf8), w, h, bits, false, spacing, tab);
    // From here on nothing allocates until the layout is in the registry.
    // The layout it replaces gives up its paragraphs first, so that the
    // unchanged ones are not laid out again.
    std::unique_ptr<Layout> old;
    if (kept) {
        *owned = false;
        Cell handles = value_of(face, N_HANDLES);
        uint32_t entry;
        if (live_entry(slot(handles, 1), object_kind(), &entry)) {
            Layout* was = reinterpret_cast<Layout*>(externals::address_of(entry));
            old.reset(new Layout);
            old->paras = std::move(was->paras);
            old->utf8 = std::move(was->utf8);
            old->desc = was->desc;
            was->desc = nullptr;
            old->box_w = was->box_w, old->box_h = was->box_h, old->bits = was->bits, old->tab = was->tab;
            was->paras.clear();
            externals::replace(entry, reinterpret_cast<uint64_t>(l));
        } else {
            entry = externals::add(reinterpret_cast<uint64_t>(l), object_kind());
            *slot(handles, 1) = handle::resource_cell(entry, handle::CLASS_RICH_TEXT);
        }
        *slot(handles, 4) = logic::cell(false);
    } else {
        *owned = true;
    }
    // The styles are laid out however the walk ends: a refused style block
    // leaves the styles read before it (the layout the face keeps is whole).
    struct Commit {
        Layout* l;
        Layout* old;
        ~Commit() {
            if (l) l->lay_out(old);
        }
    } commit{l, old.get()};
    Cell font = value_of(face, N_FONT);
    uint32_t c;
    if (font.type() == TYPE_OBJECT && value_of(font, N_COLOR).type() == TYPE_TUPLE &&
        colour(value_of(font, N_COLOR), &c))
        add_colour(l->styles, c, 0, uint32_t(l->utf8.size()));
    Cell data = value_of(face, N_DATA);
    if (rich && data.type() == TYPE_BLOCK && block::cells_length(&data) > 1) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(l->utf8.data());
        Styler st{l, unicode::count_utf8_chars(p, p + l->utf8.size())};
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
            uint32_t b = l->byte_at(i);
            const Layout::Para& p = l->para_at_byte(b);
            pango_layout_index_to_pos(p.layout, int(std::min(b - p.byte, p.length)), &r);
            r.y += p.y;
            double x = double(r.x) / PANGO_SCALE, y = std::max(0.0, double(r.y) / PANGO_SCALE);
            if (type == 6) x += double(r.width) / PANGO_SCALE, y += double(r.height) / PANGO_SCALE;
            *out = point::make2(float(x + ox), float(y + oy));
            return;
        }
        case 1:
        case 5: {
            double x, y;
            if (!planar(arg, &x, &y)) return;
            int index = 0, trailing = 0, py = int((y - oy) * PANGO_SCALE);
            const Layout::Para& p = l->para_at_y(py);
            pango_layout_xy_to_index(p.layout, int((x - ox) * PANGO_SCALE), py - p.y, &index, &trailing);
            uint32_t n = l->chars_to(p.byte + uint32_t(std::max(index, 0)));
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
            uint32_t b = l->byte_at(i);
            const Layout::Para& p = l->para_at_byte(b);
            pango_layout_index_to_line_x(p.layout, int(std::min(b - p.byte, p.length)), FALSE, &line, &x);
            PangoLayoutIter* it = pango_layout_get_iter(p.layout);
            for (int k = 0; k < line && pango_layout_iter_next_line(it); ++k) {
            }
            int y0 = 0, y1 = 0;
            pango_layout_iter_get_line_yrange(it, &y0, &y1);
            pango_layout_iter_free(it);
            *out = float_::cell(double(y1 - y0) / PANGO_SCALE);
            return;
        }
        case 3: {
            const PangoRectangle& logical = l->logical;
            *out = point::make2(float(double(logical.width) / PANGO_SCALE), float(double(logical.height) / PANGO_SCALE));
            return;
        }
        case 4:
            *out = integer::cell(l->lines);
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
        for (size_t k = &l->para_at_byte(b.start) - l->paras.data(); k < l->paras.size(); ++k) {
            const Layout::Para& p = l->paras[k];
            if (p.byte >= b.end) break;
            PangoLayoutIter* it = pango_layout_get_iter(p.layout);
            do {
                PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
                int ls = int(p.byte) + line->start_index, le = ls + line->length;
                int s = std::max(ls, int(b.start)), e = std::min(le, int(b.end));
                if (s >= e) continue;
                int y0, y1;
                pango_layout_iter_get_line_yrange(it, &y0, &y1);
                y0 += p.y, y1 += p.y;
                int* ranges = nullptr;
                int n = 0;
                pango_layout_line_get_x_ranges(line, s - int(p.byte), e - int(p.byte), &ranges, &n);
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
    }
    draw::Rgba c = draw::to_rgba(colour);
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
    for (const Layout::Para& p : l->paras) {
        cairo_move_to(cr, x, y + double(p.y) / PANGO_SCALE);
        pango_cairo_show_layout(cr, p.layout);
    }
    cairo_new_path(cr);
}

void measure(const Cell& face, std::string utf8, double* w, double* h) {
    Format* f = format_of(value_of(face, N_FONT));
    Layout* l = make_layout(f, std::move(utf8), 0, 0, 0, false, 0, 0);
    *w = double(l->logical.width) / PANGO_SCALE;
    *h = double(l->logical.height) / PANGO_SCALE;
    delete l;
}

}  // namespace kiv::text
