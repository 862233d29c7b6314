// The display library's entry points, loaded when the display is first
// opened rather than linked into the executable: GDK and the libraries under
// it cost every start of kiv about 15 ms in the dynamic loader, while most
// runs never open a window.
//
// The table's fields take their types from the library's own declarations.
// Code of the window layer includes gdk_calls.h, which routes each name
// through the table; only display::open may run before the table is loaded,
// and it loads it first.
#pragma once

#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <string>

#include "platform/late_library.h"

#define KIV_GDK_FUNCTIONS(X)                                                                     \
    X(g_free)                                                                                    \
    X(g_main_context_iteration)                                                                  \
    X(g_main_context_wakeup)                                                                     \
    X(g_source_remove)                                                                           \
    X(g_timeout_add)                                                                             \
    X(gdk_atom_intern_static_string)                                                             \
    X(gdk_cairo_create)                                                                          \
    X(gdk_cairo_set_source_window)                                                               \
    X(gdk_display_flush)                                                                         \
    X(gdk_display_get_default)                                                                   \
    X(gdk_event_handler_set)                                                                     \
    X(gdk_get_default_root_window)                                                               \
    X(gdk_init_check)                                                                            \
    X(gdk_keymap_get_for_display)                                                                \
    X(gdk_keymap_translate_keyboard_state)                                                       \
    X(gdk_keyval_to_lower)                                                                       \
    X(gdk_keyval_to_unicode)                                                                     \
    X(gdk_property_change)                                                                       \
    X(gdk_screen_get_default)                                                                    \
    X(gdk_screen_get_height)                                                                     \
    X(gdk_screen_get_height_mm)                                                                  \
    X(gdk_screen_get_resolution)                                                                 \
    X(gdk_screen_get_width)                                                                      \
    X(gdk_screen_get_width_mm)                                                                   \
    X(gdk_selection_convert)                                                                     \
    X(gdk_selection_owner_get)                                                                   \
    X(gdk_selection_owner_set)                                                                   \
    X(gdk_selection_property_get)                                                                \
    X(gdk_selection_send_notify_for_display)                                                     \
    X(gdk_set_allowed_backends)                                                                  \
    X(gdk_window_destroy)                                                                        \
    X(gdk_window_focus)                                                                          \
    X(gdk_window_hide)                                                                           \
    X(gdk_window_invalidate_rect)                                                                \
    X(gdk_window_is_viewable)                                                                    \
    X(gdk_window_move)                                                                           \
    X(gdk_window_move_resize)                                                                    \
    X(gdk_window_new)                                                                            \
    X(gdk_window_set_geometry_hints)                                                             \
    X(gdk_window_set_title)                                                                      \
    X(gdk_window_show)                                                                           \
    X(gdk_x11_display_error_trap_pop_ignored)                                                    \
    X(gdk_x11_display_error_trap_push)                                                           \
    X(gdk_x11_get_server_time)                                                                   \
    X(gdk_x11_window_get_xid)                                                                    \
    X(gdk_display_get_default_seat)                                                              \
    X(gdk_seat_grab)                                                                             \
    X(gdk_seat_ungrab)

namespace kiv::gui::gdk_api {

struct Table {
    KIV_GDK_FUNCTIONS(KIV_LATE_FIELD)
};

extern Table table;

// Loads the library and fills the table once; false (with the reason in
// `why`) when the library or one of its entry points is missing.
bool load(std::string& why);

}  // namespace kiv::gui::gdk_api
