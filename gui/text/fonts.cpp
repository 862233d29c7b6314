// Text formats from font! objects, cached in the font's `state`; the font
// names of the GUI mapped to installed families; paragraph style bits.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "gui/text/facets.h"
#include "gui/text/text.h"
#include "library/library.h"
#include "runtime/externals.h"
#include "runtime/lowlevel.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "gui/text/pango_calls.h"

namespace kiv::text {

namespace {

// The one table of font names: the names the GUI engine and scripts use
// (system/view/fonts, the console's and dialogs' defaults) and the installed
// families fontconfig resolves them to. A name not in the table goes to
// fontconfig as it is (which substitutes its own default when missing).
struct FontMapping {
    const char* name;
    const char* family;
};
const FontMapping FONT_TABLE[] = {
    {"Segoe UI", "DejaVu Sans"},         {"Tahoma", "DejaVu Sans"},
    {"Arial", "DejaVu Sans"},            {"Verdana", "DejaVu Sans"},
    {"MS Shell Dlg", "DejaVu Sans"},     {"sans-serif", "DejaVu Sans"},
    {"Consolas", "DejaVu Sans Mono"},    {"Courier New", "DejaVu Sans Mono"},
    {"Lucida Console", "DejaVu Sans Mono"}, {"monospace", "DejaVu Sans Mono"},
    {"Times New Roman", "DejaVu Serif"}, {"serif", "DejaVu Serif"},
};
// The system's message font where system/view/fonts does not say.
constexpr const char* DEFAULT_NAME = "Segoe UI";
constexpr double DEFAULT_SIZE = 9;
// Font names are cut to this many characters.
constexpr uint32_t MAX_NAME_CHARS = 31;

uint32_t font_kind_id = 0, object_kind_id = 0;

void release_font(uint32_t, uint64_t address) {
    pango_font_description_free(reinterpret_cast<PangoFontDescription*>(address));
}
void release_object(uint32_t, uint64_t address) {
    delete reinterpret_cast<Resource*>(address);
}

// The name cut to MAX_NAME_CHARS characters.
std::string cut_name(std::string s) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s.data());
    const uint8_t* end = unicode::skip_utf8_chars(p, p + s.size(), MAX_NAME_CHARS);
    s.resize(size_t(end - p));
    return s;
}

std::string default_name() {
    Cell* c = system_object::field({"view", "fonts", "system"});
    if (c && c->type() == TYPE_STRING) return cut_name(unicode::to_utf8_string(c));
    return DEFAULT_NAME;
}

// A positive integer or float is a size in points.
bool positive_size(const Cell& v, double* points) {
    if (v.type() == TYPE_INTEGER && integer::get(&v) > 0) return *points = integer::get(&v), true;
    if (v.type() == TYPE_FLOAT && float_::get(&v) > 0 && float_::get(&v) < 1e5) return *points = float_::get(&v), true;
    return false;
}

double default_size() {
    Cell* c = system_object::field({"view", "fonts", "size"});
    double s;
    if (c && positive_size(*c, &s)) return s;
    return DEFAULT_SIZE;
}

PangoFontDescription* make_desc(const std::string& name, double points, bool bold, bool italic) {
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, map_family(name).c_str());
    // Points to pixels at 96 per inch: a 12-point font is 16 pixels.
    pango_font_description_set_absolute_size(d, points * 96.0 / 72.0 * PANGO_SCALE);
    pango_font_description_set_weight(d, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(d, italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
}

// The description of a font! object's facets (allocates nothing).
PangoFontDescription* font_desc(const Cell& font) {
    Cell name = value_of(font, N_NAME), size = value_of(font, N_SIZE), style = value_of(font, N_STYLE);
    std::string family = name.type() == TYPE_STRING ? cut_name(unicode::to_utf8_string(&name)) : default_name();
    double points;
    if (!positive_size(size, &points)) points = default_size();
    bool bold = false, italic = false;
    auto word = [&](const Cell& w) {
        if (is_name(w, N_BOLD)) bold = true;
        if (is_name(w, N_ITALIC)) italic = true;
    };
    if (style.type() == TYPE_BLOCK) {
        for (uint32_t i = 0, n = block::cells_length(&style); i < n; ++i)
            word(*block::cells_at(&style, style.w1 + i));
    } else {
        word(style);
    }
    return make_desc(family, points, bold, italic);
}

}  // namespace

namespace {

// The fonts and layouts still held when the process ends are released then
// (once, at quit or at exit, whichever comes first).
void release_all() {
    static bool done = false;
    if (done) return;
    done = true;
    externals::for_each(object_kind_id, release_object);
    externals::for_each(font_kind_id, release_font);
}

void register_kinds() {
    if (font_kind_id) return;
    font_kind_id = externals::register_type("font", release_font);
    object_kind_id = externals::register_type("com-object", release_object);
    lowlevel::at_quit(release_all);
    std::atexit(release_all);
}

}  // namespace

uint32_t font_kind() {
    register_kinds();
    return font_kind_id;
}
uint32_t object_kind() {
    register_kinds();
    return object_kind_id;
}

Format::~Format() {
    if (desc) pango_font_description_free(desc);
}

std::string map_family(const std::string& name) {
    for (const FontMapping& m : FONT_TABLE)
        if (strcasecmp(m.name, name.c_str()) == 0) return m.family;
    return name;
}

Format* default_format() {
    static Format* cached = nullptr;
    static std::string cached_name;
    static double cached_size = 0;
    std::string name = default_name();
    double size = default_size();
    if (cached && cached_name == name && cached_size == size) return cached;
    delete cached;
    cached = new Format;
    cached->desc = make_desc(name, size, false, false);
    cached_name = name;
    cached_size = size;
    return cached;
}

Format* format_of(const Cell& font) {
    if (font.type() != TYPE_OBJECT || !field(font, N_STATE)) return default_format();
    uint32_t entry;
    if (live_entry(slot(value_of(font, N_STATE), 2), object_kind(), &entry))
        return reinterpret_cast<Format*>(externals::address_of(entry));
    // The state block first (it allocates), then the resources: an entry no
    // handle! refers to yet would not survive a collection.
    {
        stack::TopMark guard;
        Cell state = value_of(font, N_STATE);
        if (state.type() != TYPE_BLOCK) {
            Cell* blk = block::push_only(3);
            set_quiet(font, N_STATE, *blk);
            state = *blk;
        }
        Cell* held = block::push(&state);
        const Cell none = none::cell();
        while (block::cells_length(held) < 3) block::cells_append(held, &none);
    }
    Cell state = value_of(font, N_STATE);
    Format* f = new Format;
    f->desc = font_desc(font);
    Cell* s1 = slot(state, 1);
    if (!live_entry(s1, font_kind(), &entry)) {
        uint32_t e = externals::add(reinterpret_cast<uint64_t>(font_desc(font)), font_kind());
        *slot(state, 1) = handle::resource_cell(e, handle::CLASS_FONT);
    }
    uint32_t e = externals::add(reinterpret_cast<uint64_t>(f), object_kind());
    *slot(state, 2) = handle::resource_cell(e, handle::CLASS_FONT);
    return f;
}

void update_font(const Cell& font, int32_t index) {
    // Colour, shadow and the rest are read at paint time.
    if (!(index >= 0 && index <= 3) && index != 5) return;
    Cell state = value_of(font, N_STATE);
    bool released = false;
    for (uint32_t k = 1; k <= 3; ++k) {
        Cell* c = slot(state, k);
        if (c && c->type() == TYPE_HANDLE && int32_t(c->w3) >= 0 && externals::is_live(c->w3)) {
            uint32_t kind = externals::kind_of(c->w3);
            if (kind == font_kind() || kind == object_kind()) {
                externals::remove(c->w3, true);
                *c = none::cell();
                released = true;
            }
        }
    }
    if (released) set_quiet(font, N_STATE, none::cell());
    format_of(font);
}

int para_bits(const Cell& face, int fallback) {
    Cell type = value_of(face, N_TYPE), para = value_of(face, N_PARA);
    if (para.type() != TYPE_OBJECT) return fallback;
    bool base = is_name(type, N_BASE);
    if (!base && !is_name(type, N_RICH_TEXT)) return fallback;
    Cell align = value_of(para, N_ALIGN), valign = value_of(para, N_V_ALIGN), wrap = value_of(para, N_WRAP);
    int bits = is_name(align, N_LEFT)     ? 0
               : is_name(align, N_CENTER) ? PARA_CENTER
               : is_name(align, N_RIGHT)  ? PARA_RIGHT
               : base                     ? PARA_CENTER
                                          : 0;
    bits |= is_name(valign, N_TOP)      ? 0
            : is_name(valign, N_MIDDLE) ? PARA_MIDDLE
            : is_name(valign, N_BOTTOM) ? PARA_BOTTOM
            : base                      ? PARA_MIDDLE
                                        : 0;
    // wrap?: none counts as on, a logic! as itself, anything else as off.
    bool on = wrap.type() == TYPE_NONE || (wrap.type() == TYPE_LOGIC && logic::get(&wrap));
    return on ? bits | PARA_WRAP : bits;
}

}  // namespace kiv::text
