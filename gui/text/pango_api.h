// The text library's entry points, loaded when text is first laid out rather
// than linked into the executable (platform/late_library.h): Pango, its
// Cairo glue and the GLib object calls it needs (HarfBuzz and fontconfig
// come in under them). Most runs never lay out text.
//
// The table's fields take their types from the libraries' own declarations.
// The text files include pango_calls.h, which routes each name through the
// table; every entry of the text layer calls need_text() first.
#pragma once

#include <pango/pangocairo.h>

#include <string>

#include "platform/late_library.h"

#define KIV_PANGO_FUNCTIONS(X)                  \
    X(pango_attr_background_alpha_new)          \
    X(pango_attr_background_new)                \
    X(pango_attr_family_new)                    \
    X(pango_attr_foreground_alpha_new)          \
    X(pango_attr_foreground_new)                \
    X(pango_attr_line_height_new_absolute)      \
    X(pango_attr_list_insert)                   \
    X(pango_attr_list_new)                      \
    X(pango_attr_list_unref)                    \
    X(pango_attr_size_new_absolute)             \
    X(pango_attr_strikethrough_new)             \
    X(pango_attr_style_new)                     \
    X(pango_attr_underline_new)                 \
    X(pango_attr_weight_new)                    \
    X(pango_font_description_copy)              \
    X(pango_font_description_equal)             \
    X(pango_font_description_free)              \
    X(pango_font_description_new)               \
    X(pango_font_description_set_absolute_size) \
    X(pango_font_description_set_family)        \
    X(pango_font_description_set_style)         \
    X(pango_font_description_set_weight)        \
    X(pango_font_map_create_context)            \
    X(pango_layout_get_baseline)                \
    X(pango_layout_get_extents)                 \
    X(pango_layout_get_iter)                    \
    X(pango_layout_get_line_count)              \
    X(pango_layout_get_line_readonly)           \
    X(pango_layout_index_to_line_x)             \
    X(pango_layout_index_to_pos)                \
    X(pango_layout_iter_free)                   \
    X(pango_layout_iter_get_line_readonly)      \
    X(pango_layout_iter_get_line_yrange)        \
    X(pango_layout_iter_next_line)              \
    X(pango_layout_line_get_x_ranges)           \
    X(pango_layout_new)                         \
    X(pango_layout_set_alignment)               \
    X(pango_layout_set_attributes)              \
    X(pango_layout_set_font_description)        \
    X(pango_layout_set_tabs)                    \
    X(pango_layout_set_text)                    \
    X(pango_layout_set_width)                   \
    X(pango_layout_set_wrap)                    \
    X(pango_layout_xy_to_index)                 \
    X(pango_tab_array_free)                     \
    X(pango_tab_array_new)                      \
    X(pango_tab_array_set_tab)

#define KIV_PANGOCAIRO_FUNCTIONS(X)   \
    X(pango_cairo_font_map_get_default) \
    X(pango_cairo_show_layout)

#define KIV_GLIB_FUNCTIONS(X) X(g_free)

#define KIV_GOBJECT_FUNCTIONS(X) X(g_object_unref)

namespace kiv::text::pango_api {

struct Table {
    KIV_PANGO_FUNCTIONS(KIV_LATE_FIELD)
    KIV_PANGOCAIRO_FUNCTIONS(KIV_LATE_FIELD)
    KIV_GLIB_FUNCTIONS(KIV_LATE_FIELD)
    KIV_GOBJECT_FUNCTIONS(KIV_LATE_FIELD)
};

extern Table table;

// Loads the libraries and fills the table once; false (with the reason in
// `why`, the same on every later call) when they cannot be loaded.
bool load(std::string& why);

}  // namespace kiv::text::pango_api

namespace kiv::text {

// Loads the text and drawing libraries; raises access/cannot-open with the
// loader's reason when either cannot be loaded.
void need_text();

}  // namespace kiv::text
