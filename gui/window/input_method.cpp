#include "gui/window/input_method.h"

#include <gtk/gtk.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "gui/window/accessors.h"
#include "gui/window/display.h"
#include "gui/window/event.h"
#include "gui/window/queue.h"
#include "gui/window/windows.h"
#include "platform/late_library.h"

// The toolkit's input-method contexts, loaded when first needed (see
// gdk_api.h for why libraries are loaded late). Its GLib and Pango entry
// points resolve through the same handle.
#define KIV_IM_FUNCTIONS(X)                 \
    X(gtk_disable_setlocale)                \
    X(gtk_init_check)                       \
    X(gtk_im_multicontext_new)              \
    X(gtk_im_context_set_client_window)     \
    X(gtk_im_context_filter_keypress)       \
    X(gtk_im_context_focus_in)              \
    X(gtk_im_context_focus_out)             \
    X(gtk_im_context_get_preedit_string)    \
    X(gtk_im_context_set_cursor_location)   \
    X(gtk_im_context_reset)                 \
    X(g_signal_connect_data)                \
    X(g_free)                               \
    X(pango_attr_list_unref)

namespace kiv::gui::input_method {

namespace {

struct Table {
    KIV_IM_FUNCTIONS(KIV_LATE_FIELD)
};
Table table;

GtkIMContext* context = nullptr;
bool failed = false;
void* client = nullptr;  // the native window the context is bound to
bool focused = false;
bool composing = false;

// What the method made during one filter call, in order.
struct Made {
    uint32_t message;
    std::string text;
};
std::vector<Made> made;
bool filtering = false;
Hwnd target_window = 0;

Msg last_key;  // the last key given to the method: the time and state of what it makes later

void post_made(const Msg& key_down, Hwnd target, const Made& e);

// What the method makes while a key is filtered waits for the key's own
// message; what it makes later (a method that answers from another
// process) goes to the window at once.
void note(uint32_t message, std::string text = {}) {
    Made e{message, std::move(text)};
    if (filtering) {
        made.push_back(std::move(e));
        return;
    }
    if (windows::alive(target_window)) post_made(last_key, target_window, e);
}

void on_commit(GtkIMContext*, gchar* text, gpointer) {
    note(WM_CHAR, text ? text : "");
}

void on_preedit_start(GtkIMContext*, gpointer) {
    composing = true;
    note(WM_IME_STARTCOMPOSITION);
}

void on_preedit_end(GtkIMContext*, gpointer) {
    composing = false;
    note(WM_IME_ENDCOMPOSITION);
}

void on_preedit_changed(GtkIMContext* c, gpointer) {
    gchar* text = nullptr;
    PangoAttrList* attrs = nullptr;
    table.gtk_im_context_get_preedit_string(c, &text, &attrs, nullptr);
    note(WM_IME_COMPOSITION, text ? text : "");
    if (text) table.g_free(text);
    if (attrs) table.pango_attr_list_unref(attrs);
}

bool ready() {
    if (context) return true;
    if (failed) return false;
    static platform::LateLibrary library("libgtk-3.so.0", "cannot load the input-method library: ",
                                         RTLD_NOW | RTLD_GLOBAL);
    std::string why;
    if (!library.load(why, [](platform::LateLibrary& lib) { KIV_IM_FUNCTIONS(KIV_LATE_RESOLVE) })) {
        failed = true;
        return false;
    }
    // The process keeps its own locale (number formats): the toolkit must
    // not set it from the environment.
    table.gtk_disable_setlocale();
    // Only the input method is taken from the toolkit: its accessibility
    // bridge (a bus connection made at its start) serves no widget here.
    setenv("NO_AT_BRIDGE", "1", 0);
    if (!table.gtk_init_check(nullptr, nullptr)) {
        failed = true;
        return false;
    }
    // The toolkit takes the display's event handler at its start: the
    // window layer keeps it.
    display::reinstall_handler();
    context = table.gtk_im_multicontext_new();
    if (!context) {
        failed = true;
        return false;
    }
    table.g_signal_connect_data(context, "commit", G_CALLBACK(on_commit), nullptr, nullptr, GConnectFlags(0));
    table.g_signal_connect_data(context, "preedit-start", G_CALLBACK(on_preedit_start), nullptr, nullptr,
                                GConnectFlags(0));
    table.g_signal_connect_data(context, "preedit-end", G_CALLBACK(on_preedit_end), nullptr, nullptr,
                                GConnectFlags(0));
    table.g_signal_connect_data(context, "preedit-changed", G_CALLBACK(on_preedit_changed), nullptr, nullptr,
                                GConnectFlags(0));
    return true;
}

void bind(Hwnd target, void* native) {
    if (client != native) {
        if (focused) table.gtk_im_context_focus_out(context);
        focused = false;
        table.gtk_im_context_set_client_window(context, static_cast<GdkWindow*>(native));
        client = native;
    }
    if (target != target_window) {
        if (composing) table.gtk_im_context_reset(context);
        target_window = target;
        // The composition window of the method opens at the face.
        int32_t x = 0, y = 0, tx = 0, ty = 0;
        windows::client_to_screen(target, &x, &y);
        windows::client_to_screen(windows::root(target), &tx, &ty);
        const Window* w = windows::get(target);
        GdkRectangle r{x - tx, y - ty, 1, w ? w->h : 1};
        table.gtk_im_context_set_cursor_location(context, &r);
    }
    if (!focused) {
        table.gtk_im_context_focus_in(context);
        focused = true;
    }
}

void post_char(Msg m, uint32_t unit) {
    m.message = WM_CHAR;
    m.wparam = unit;
    m.lparam = 1;
    m.ch = 0;
    queue::post_msg(m);
}

// Posts the committed UTF-8 text as WM_CHAR units (pairs above U+FFFF).
void post_text(const Msg& base, const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        uint32_t c = *p, n = 0;
        if (c < 0x80) n = 0;
        else if ((c & 0xE0) == 0xC0) c &= 0x1F, n = 1;
        else if ((c & 0xF0) == 0xE0) c &= 0x0F, n = 2;
        else if ((c & 0xF8) == 0xF0) c &= 0x07, n = 3;
        else c = 0xFFFD;
        ++p;
        for (uint32_t i = 0; i < n && p < end && (*p & 0xC0) == 0x80; ++i, ++p) c = (c << 6) | (*p & 0x3F);
        if (c > 0xFFFF) {
            post_char(base, 0xD800 + ((c - 0x10000) >> 10));
            post_char(base, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            post_char(base, c);
        }
    }
}

void post_made(const Msg& key_down, Hwnd target, const Made& e) {
    Msg n = key_down;
    n.hwnd = target;
    n.ch = 0;
    n.wparam = 0;
    n.lparam = 0;
    switch (e.message) {
        case WM_CHAR:
            post_text(n, e.text);
            return;
        case WM_IME_COMPOSITION:
            n.lparam = int32_t(event::keep_text(e.text.data(), uint32_t(e.text.size())));
            break;
        default:
            break;
    }
    n.message = e.message;
    queue::post_msg(n);
}

}  // namespace

bool wants(Hwnd h) {
    const Cell face = window_face_cell(h);
    return facet_is(&face, FACET_TYPE, "base") || facet_is(&face, FACET_TYPE, "rich-text");
}

Outcome filter(Hwnd target, void* native, GdkEventKey* key, const Msg& key_down) {
    if (!native || filtering || !ready()) return Outcome::PLAIN;
    bind(target, native);
    last_key = key_down;
    last_key.hwnd = target;
    const bool was_composing = composing;
    made.clear();
    filtering = true;
    const bool took = table.gtk_im_context_filter_keypress(context, key);
    filtering = false;
    std::vector<Made> out;
    out.swap(made);
    if (key->type != GDK_KEY_PRESS) return Outcome::PLAIN;
    if (!took) return Outcome::PLAIN;
    // A key that only typed its own character, with no composition around
    // it, goes its ordinary way (its key-down event, then the character).
    if (!was_composing && !composing && out.size() == 1 && out[0].message == WM_CHAR && key_down.ch) {
        std::string own;
        const uint32_t c = key_down.ch;
        if (c < 0x80) {
            own = char(c);
        } else if (c < 0x800) {
            own = {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            own = {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        } else {
            own = {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)),
                   char(0x80 | (c & 0x3F))};
        }
        if (own == out[0].text) return Outcome::PLAIN;
    }
    Msg m = key_down;
    m.hwnd = target;
    m.wparam = VK_PROCESSKEY;
    m.ch = 0;
    queue::post_msg(m);
    for (const Made& e : out) post_made(key_down, target, e);
    return Outcome::TAKEN;
}

void focus_out(void* native) {
    if (!context || native != client || !focused) return;
    table.gtk_im_context_focus_out(context);
    focused = false;
}

void forget(void* native) {
    if (!context || native != client) return;
    focus_out(native);
    table.gtk_im_context_set_client_window(context, nullptr);
    client = nullptr;
    target_window = 0;
}

}  // namespace kiv::gui::input_method
