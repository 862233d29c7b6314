// The dialogs' toolkit: GTK 3's file and font choosers, loaded on first use
// (platform/late_library.h) rather than linked: most runs never open a
// dialog, and the toolkit with the libraries under it would cost every
// start of kiv in the dynamic loader.
//
// The toolkit runs in the window layer's display connection and main
// context: once started it hands the display's event handler back to the
// window layer, which passes it the events of the toolkit's own windows
// (an event filter). A dialog then runs modally in that same main context.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "platform/late_library.h"

#define KIV_GTK_FUNCTIONS(X)                  \
    X(g_free)                                 \
    X(g_slist_free_full)                      \
    X(gdk_window_is_destroyed)                \
    X(gdk_window_set_transient_for)           \
    X(gtk_dialog_run)                         \
    X(gtk_dialog_set_default_response)        \
    X(gtk_file_chooser_add_filter)            \
    X(gtk_file_chooser_dialog_new)            \
    X(gtk_file_chooser_get_filename)          \
    X(gtk_file_chooser_get_filenames)         \
    X(gtk_file_chooser_set_current_folder)    \
    X(gtk_file_chooser_set_current_name)      \
    X(gtk_file_chooser_set_filename)          \
    X(gtk_file_chooser_set_select_multiple)   \
    X(gtk_file_filter_add_pattern)            \
    X(gtk_file_filter_new)                    \
    X(gtk_file_filter_set_name)               \
    X(gtk_font_chooser_dialog_new)            \
    X(gtk_font_chooser_get_font_desc)         \
    X(gtk_font_chooser_set_filter_func)       \
    X(gtk_font_chooser_set_font_desc)         \
    X(gtk_init_check)                         \
    X(gtk_main_do_event)                      \
    X(gtk_widget_destroy)                     \
    X(gtk_widget_get_window)                  \
    X(gtk_widget_realize)                     \
    X(pango_font_description_free)            \
    X(pango_font_description_get_family)      \
    X(pango_font_description_get_size)        \
    X(pango_font_description_get_style)       \
    X(pango_font_description_get_weight)      \
    X(pango_font_description_new)             \
    X(pango_font_description_set_family)      \
    X(pango_font_description_set_size)        \
    X(pango_font_description_set_style)       \
    X(pango_font_description_set_weight)      \
    X(pango_font_family_is_monospace)

namespace kiv::gui::dialogs {

struct GtkTable {
    KIV_GTK_FUNCTIONS(KIV_LATE_FIELD)
};
extern GtkTable gtk;

// Loads and starts the toolkit once (the display must be open); false
// with the reason in `why` when it cannot.
bool start_toolkit(std::string& why);

// Runs a dialog modally, owned by the active window of the process, and
// destroys nothing: true when the user accepted it. A pending mouse
// capture is released first.
bool run_modal(GtkWidget* dialog);

}  // namespace kiv::gui::dialogs
