#include "gui/text/routines.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "gui/draw/draw_context.h"
#include "gui/draw/draw_device.h"
#include "gui/text/facets.h"
#include "gui/text/pango_api.h"
#include "gui/text/text.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "gui/draw/draw_cairo_calls.h"
#include "gui/text/pango_calls.h"

namespace kiv::text {

void prepare() {
    need_text();
    intern_names();
    font_kind();
    object_kind();
}

// ---- What the window layer's routines of the same names call ---------------------------------------

Cell text_size(const Cell& face, const Cell& value) {
    prepare();
    Cell text = value;
    if (value.type() == TYPE_NONE) text = value_of(face, N_TEXT);
    else if (value.type() != TYPE_STRING) fire({"script", "invalid-type"}, datatype::cell(value.type()));
    if (text.type() != TYPE_STRING) return none::cell();
    double w, h;
    measure(face, unicode::to_utf8_string(&text), &w, &h);
    return point::make2(float(w), float(h));
}

Cell box_metrics(const Cell& box, const Cell& arg0, int32_t type) {
    prepare();
    Cell face_type = value_of(box, N_TYPE);
    if (!is_name(face_type, N_RICH_TEXT)) fire({"script", "face-type"}, face_type);
    if (value_of(box, N_TEXT).type() != TYPE_STRING) return none::cell();
    bool owned = false;
    Cell* flag = slot(value_of(box, N_HANDLES), 4);
    bool rebuild = !flag || (flag->type() == TYPE_LOGIC && logic::get(flag));
    Layout* l = rebuild ? build_face_layout(box, &owned) : face_layout(box, &owned);
    Cell out;
    metrics(l, arg0, type, &out);
    if (owned) delete l;
    return out;
}

void mark_para(const Cell& face) {
    prepare();
    if (value_of(face, N_PARA).type() != TYPE_OBJECT || value_of(face, N_TYPE).type() != TYPE_WORD) return;
    if (Cell* flag = slot(value_of(face, N_HANDLES), 4)) *flag = logic::cell(true);
    if (Cell* bits = slot(value_of(face, N_STATE), 2); bits && bits->type() == TYPE_INTEGER)
        *bits = integer::cell(integer::get(bits) | int32_t(1 << 18));
}

void mark_layout_stale(const Cell& face) {
    prepare();
    if (Cell* flag = slot(value_of(face, N_HANDLES), 4)) *flag = logic::cell(true);
}

void paint_face_text(cairo_t* cr, const Cell& face, double scale) {
    prepare();
    if (value_of(face, N_TEXT).type() != TYPE_STRING) return;
    bool owned = false;
    Layout* l = face_layout(face, &owned);
    cairo_save(cr);
    cairo_scale(cr, scale, scale);
    paint(cr, l, 0, 0, 0);  // black unless the font gives a colour
    cairo_restore(cr);
    if (owned) delete l;
}

namespace {

// ---- Draw's commands -------------------------------------------------------------------------------

void end_pass(draw::Context& c) {
    delete static_cast<Format*>(c.text_format);
    c.text_format = nullptr;
}

// The pass keeps its own copy of the font's description: a set-word later
// in the block may drop the font, and the collector release its format.
void set_font(draw::Context& c, const Cell& font) {
    prepare();
    Format* shared = format_of(font);
    Format* own = new Format;
    own->desc = pango_font_description_copy(shared->desc);
    end_pass(c);
    c.text_format = own;
    uint32_t colour;
    Cell fc = value_of(font, N_COLOR);
    if (fc.type() == TYPE_TUPLE && draw::colour_of(fc, &colour)) {
        c.st.font_colour = colour;
        c.st.font_has_colour = true;
    } else {
        c.st.font_colour = c.st.pen.colour;
        c.st.font_has_colour = false;
    }
}

void draw_text(draw::Context& c, double x, double y, const Cell& value) {
    prepare();
    if (value.type() == TYPE_STRING) {
        Format* f = c.text_format ? static_cast<Format*>(c.text_format) : default_format();
        std::string utf8 = unicode::to_utf8_string(&value);
        Layout* l = make_layout(f, std::move(utf8), 0, 0, 0, true, 0, 0);
        paint(c.cr, l, x, y, c.st.font_colour);
        delete l;
        return;
    }
    bool owned = false;
    Layout* l = face_layout(value, &owned);
    // The face's background behind the text given to the command.
    uint32_t bg;
    Cell colour = value_of(value, N_COLOR), size = value_of(value, N_SIZE);
    if (colour.type() == TYPE_TUPLE && draw::colour_of(colour, &bg) &&
        (size.type() == TYPE_PAIR || size.type() == TYPE_POINT2D)) {
        double w = size.type() == TYPE_PAIR ? pair::x_of(&size) : std::bit_cast<float>(size.w1);
        double h = size.type() == TYPE_PAIR ? pair::y_of(&size) : std::bit_cast<float>(size.w2);
        draw::Rgba rgba = draw::to_rgba(bg);
        cairo_set_source_rgba(c.cr, rgba.r, rgba.g, rgba.b, rgba.a);
        cairo_rectangle(c.cr, x, y, w, h);
        cairo_fill(c.cr);
    }
    paint(c.cr, l, x, y, c.st.font_colour);
    if (owned) delete l;
}

const draw::TextCommands COMMANDS{set_font, draw_text, end_pass};
// The Draw dialect reaches text through this hook (Draw lies below text).
const bool registered = (draw::text_commands = &COMMANDS, true);

}  // namespace

}  // namespace kiv::text
