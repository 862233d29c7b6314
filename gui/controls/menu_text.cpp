#include "gui/controls/menu_text.h"

#include "gui/text/text.h"
#include "gui/window/accessors.h"
#include "gui/text/pango_calls.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::menus::text {

namespace {

PangoFontDescription* font = nullptr;
PangoContext* context = nullptr;

// A layout of the text in logical units (drawn under a scale to pixels).
PangoLayout* layout_of(const std::string& utf8, int32_t underline) {
    if (!font) return nullptr;
    if (!context) context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    PangoLayout* l = pango_layout_new(context);
    pango_layout_set_font_description(l, font);
    pango_layout_set_text(l, utf8.data(), int(utf8.size()));
    if (underline >= 0 && size_t(underline) < utf8.size()) {
        size_t end = size_t(underline) + 1;
        while (end < utf8.size() && (uint8_t(utf8[end]) & 0xC0) == 0x80) ++end;
        PangoAttrList* attrs = pango_attr_list_new();
        PangoAttribute* a = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
        a->start_index = guint(underline);
        a->end_index = guint(end);
        pango_attr_list_insert(attrs, a);
        pango_layout_set_attributes(l, attrs);
        pango_attr_list_unref(attrs);
    }
    return l;
}

}  // namespace

void use_default_font() {
    kiv::text::prepare();
    const kiv::text::Format* f = kiv::text::default_format();
    if (!f || !f->desc) return;
    if (font && pango_font_description_equal(font, f->desc)) return;
    if (font) pango_font_description_free(font);
    font = pango_font_description_copy(f->desc);
}

void measure(const std::string& utf8, int32_t* w, int32_t* h) {
    *w = *h = 0;
    PangoLayout* l = layout_of(utf8.empty() ? std::string(" ") : utf8, -1);
    if (!l) return;
    PangoRectangle logical;
    pango_layout_get_extents(l, nullptr, &logical);
    g_object_unref(l);
    *w = utf8.empty() ? 0 : to_pixels(double(logical.width) / PANGO_SCALE);
    *h = to_pixels(double(logical.height) / PANGO_SCALE);
}

int32_t line_height() {
    int32_t w, h;
    measure("Ag", &w, &h);
    return h;
}

void draw(cairo_t* cr, const std::string& utf8, int32_t underline, double x, double y, uint32_t rgb) {
    PangoLayout* l = layout_of(utf8, underline);
    if (!l) return;
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, scale_factor, scale_factor);
    cairo_set_source_rgba(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1);
    cairo_move_to(cr, 0, 0);
    pango_cairo_show_layout(cr, l);
    cairo_restore(cr);
    g_object_unref(l);
}

}  // namespace kiv::gui::menus::text
