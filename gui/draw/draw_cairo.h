// The drawing library's entry points, loaded when Draw first makes a
// surface rather than linked into the executable: Cairo and the libraries
// under it (X11, xcb, FreeType, fontconfig, pixman) cost every start of kiv
// a few milliseconds in the dynamic loader, while most runs never draw.
//
// The table's fields take their types from the library's own declarations.
// The Draw files include draw_cairo_calls.h, which routes each name through
// the table; the surface makers of draw_device.cpp (the first calls of any
// pass) load it first.
#pragma once

#include <cairo.h>

#include <string>

#include "platform/late_library.h"

#define KIV_CAIRO_FUNCTIONS(X)             \
    X(cairo_clip)                          \
    X(cairo_close_path)                    \
    X(cairo_create)                        \
    X(cairo_curve_to)                      \
    X(cairo_destroy)                       \
    X(cairo_fill)                          \
    X(cairo_fill_preserve)                 \
    X(cairo_get_matrix)                    \
    X(cairo_get_source)                    \
    X(cairo_get_target)                    \
    X(cairo_identity_matrix)               \
    X(cairo_image_surface_create)          \
    X(cairo_image_surface_create_for_data) \
    X(cairo_image_surface_get_data)        \
    X(cairo_image_surface_get_height)      \
    X(cairo_image_surface_get_stride)      \
    X(cairo_image_surface_get_width)       \
    X(cairo_line_to)                       \
    X(cairo_mask_surface)                  \
    X(cairo_matrix_init)                   \
    X(cairo_matrix_invert)                 \
    X(cairo_matrix_multiply)               \
    X(cairo_matrix_transform_point)        \
    X(cairo_move_to)                       \
    X(cairo_new_path)                      \
    X(cairo_paint)                         \
    X(cairo_pattern_add_color_stop_rgba)   \
    X(cairo_pattern_create_for_surface)    \
    X(cairo_pattern_create_linear)         \
    X(cairo_pattern_create_radial)         \
    X(cairo_pattern_create_rgba)           \
    X(cairo_pattern_destroy)               \
    X(cairo_pattern_get_linear_points)     \
    X(cairo_pattern_get_matrix)            \
    X(cairo_pattern_get_radial_circles)    \
    X(cairo_pattern_get_surface)           \
    X(cairo_pattern_get_type)              \
    X(cairo_pattern_reference)             \
    X(cairo_pattern_set_extend)            \
    X(cairo_pattern_set_filter)            \
    X(cairo_pattern_set_matrix)            \
    X(cairo_pattern_status)                \
    X(cairo_rectangle)                     \
    X(cairo_restore)                       \
    X(cairo_save)                          \
    X(cairo_scale)                         \
    X(cairo_set_antialias)                 \
    X(cairo_set_dash)                      \
    X(cairo_set_fill_rule)                 \
    X(cairo_set_line_cap)                  \
    X(cairo_set_line_join)                 \
    X(cairo_set_line_width)                \
    X(cairo_set_matrix)                    \
    X(cairo_set_miter_limit)               \
    X(cairo_set_source)                    \
    X(cairo_set_source_rgba)               \
    X(cairo_set_source_surface)            \
    X(cairo_status)                        \
    X(cairo_stroke)                        \
    X(cairo_stroke_extents)                \
    X(cairo_stroke_preserve)               \
    X(cairo_surface_destroy)               \
    X(cairo_surface_finish)                \
    X(cairo_surface_flush)                 \
    X(cairo_surface_mark_dirty)            \
    X(cairo_surface_reference)             \
    X(cairo_surface_set_device_offset)     \
    X(cairo_surface_set_device_scale)      \
    X(cairo_surface_status)                \
    X(cairo_translate)                     \
    X(cairo_user_to_device)

namespace kiv::draw::cairo_api {

struct Table {
    KIV_CAIRO_FUNCTIONS(KIV_LATE_FIELD)
};

extern Table table;

// Loads the library and fills the table once; false (with the reason in
// `why`, the same on every later call) when it cannot be loaded.
bool load(std::string& why);

}  // namespace kiv::draw::cairo_api

namespace kiv::draw {

// Loads the drawing library; raises access/cannot-open with the loader's
// reason when it cannot be loaded.
void need_device();

}  // namespace kiv::draw
