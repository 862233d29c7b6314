#include "gui/backend/clipboard.h"

#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/backend/display.h"
#include "gui/backend/timers.h"
#include "gui/backend/uri_list.h"
#include "platform/clipboard.h"

namespace kiv::gui::clipboard {

namespace {

using platform::clipboard::Content;

GdkWindow* window = nullptr;
GdkAtom CLIPBOARD, TARGETS, UTF8_STRING, TEXT_PLAIN_UTF8, STRING_ATOM, TEXT, URI_LIST, ATOM_TYPE;
Content owned;
bool owning = false;

// The answer to the conversion in progress.
bool waiting = false, answered = false, answer_ok = false;
std::string answer;

constexpr int32_t ANSWER_TIMEOUT_MS = 1000;

guint32 server_time() {
    return gdk_x11_get_server_time(window);
}

// Asks the owner for the selection as `target`; the data, or false.
bool convert(GdkAtom target, std::string* data) {
    waiting = true;
    answered = answer_ok = false;
    answer.clear();
    gdk_selection_convert(window, CLIPBOARD, target, server_time());
    const uint64_t deadline = timers::now_ms() + ANSWER_TIMEOUT_MS;
    while (!answered) {
        const uint64_t now = timers::now_ms();
        if (now >= deadline) break;
        display::pump(true, int32_t(deadline - now));
    }
    waiting = false;
    if (!answered || !answer_ok) return false;
    *data = answer;
    return true;
}

bool has_target(const std::vector<GdkAtom>& list, GdkAtom a) {
    for (GdkAtom t : list)
        if (t == a) return true;
    return false;
}

bool x_read(Content& out) {
    out = Content{};
    // Another program may have taken the selection since (its clear event
    // may still wait in the queue): ask the server.
    owning = owning && gdk_selection_owner_get(CLIPBOARD) == window;
    if (owning) {
        out = owned;
        return true;
    }
    std::string data;
    std::vector<GdkAtom> targets;
    if (convert(TARGETS, &data)) {
        // The display layer hands an ATOM list over as its own atoms.
        const size_t n = data.size() / sizeof(GdkAtom);
        targets.resize(n);
        std::memcpy(targets.data(), data.data(), n * sizeof(GdkAtom));
    }
    for (GdkAtom t : {UTF8_STRING, TEXT_PLAIN_UTF8, STRING_ATOM}) {
        if (!targets.empty() && !has_target(targets, t)) continue;
        if (!convert(t, &data)) continue;
        out.kind = Content::TEXT;
        for (char c : data)
            if (c != '\r' && c != '\0') out.text += c;
        return true;
    }
    if (has_target(targets, URI_LIST) && convert(URI_LIST, &data)) {
        out.kind = Content::FILES;
        out.files = uri_list::decode(data);
        return true;
    }
    return true;  // nothing usable: empty
}

bool x_write(const Content& in) {
    owned = in;
    gdk_selection_owner_set(window, CLIPBOARD, server_time(), TRUE);
    owning = gdk_selection_owner_get(CLIPBOARD) == window;
    return owning;
}

const platform::clipboard::Backend X11_BACKEND{x_read, x_write};

void answer_request(const GdkEventSelection& e) {
    GdkAtom property = e.property != GDK_NONE ? e.property : e.target;
    GdkWindow* to = e.requestor;
    const bool text = owned.kind == Content::TEXT;
    const bool files = owned.kind == Content::FILES;
    if (!to || !owning) {
        property = GDK_NONE;
    } else if (e.target == TARGETS) {
        std::vector<GdkAtom> list{TARGETS};
        if (text) list.insert(list.end(), {UTF8_STRING, TEXT_PLAIN_UTF8, STRING_ATOM, TEXT});
        if (files) list.insert(list.end(), {URI_LIST, UTF8_STRING, TEXT_PLAIN_UTF8});
        gdk_property_change(to, property, ATOM_TYPE, 32, GDK_PROP_MODE_REPLACE,
                            reinterpret_cast<const guchar*>(list.data()), int(list.size()));
    } else if ((text || files) &&
               (e.target == UTF8_STRING || e.target == TEXT_PLAIN_UTF8 || e.target == STRING_ATOM ||
                e.target == TEXT || (files && e.target == URI_LIST))) {
        std::string data;
        if (text) {
            data = owned.text;
        } else if (e.target == URI_LIST) {
            data = uri_list::encode(owned.files);
        } else {
            for (const std::string& f : owned.files) data += f + "\n";
        }
        const GdkAtom type = e.target == TEXT || e.target == STRING_ATOM ? UTF8_STRING : e.target;
        gdk_property_change(to, property, type, 8, GDK_PROP_MODE_REPLACE,
                            reinterpret_cast<const guchar*>(data.data()), int(data.size()));
    } else {
        property = GDK_NONE;
    }
    gdk_selection_send_notify_for_display(gdk_display_get_default(), to, e.selection, e.target, property, e.time);
}

}  // namespace

void on_selection_event(void* ev) {
    GdkEvent* e = static_cast<GdkEvent*>(ev);
    if (e->selection.selection != CLIPBOARD) return;
    switch (e->type) {
        case GDK_SELECTION_CLEAR:
            owning = false;
            owned = Content{};
            break;
        case GDK_SELECTION_REQUEST:
            answer_request(e->selection);
            break;
        case GDK_SELECTION_NOTIFY: {
            if (!waiting) break;
            answered = true;
            if (e->selection.property == GDK_NONE) break;
            guchar* data = nullptr;
            GdkAtom type;
            gint format = 0;
            const gint n = gdk_selection_property_get(window, &data, &type, &format);
            if (data && n >= 0 && type != gdk_atom_intern_static_string("INCR")) {
                answer.assign(reinterpret_cast<const char*>(data), size_t(n));
                answer_ok = true;
            }
            g_free(data);
            break;
        }
        default:
            break;
    }
}

void install() {
    if (window || !display::is_open()) return;
    CLIPBOARD = gdk_atom_intern_static_string("CLIPBOARD");
    TARGETS = gdk_atom_intern_static_string("TARGETS");
    UTF8_STRING = gdk_atom_intern_static_string("UTF8_STRING");
    TEXT_PLAIN_UTF8 = gdk_atom_intern_static_string("text/plain;charset=utf-8");
    STRING_ATOM = gdk_atom_intern_static_string("STRING");
    TEXT = gdk_atom_intern_static_string("TEXT");
    URI_LIST = gdk_atom_intern_static_string("text/uri-list");
    ATOM_TYPE = gdk_atom_intern_static_string("ATOM");
    GdkWindowAttr a{};
    a.window_type = GDK_WINDOW_TOPLEVEL;
    a.wclass = GDK_INPUT_ONLY;
    a.x = a.y = -100;
    a.width = a.height = 1;
    a.event_mask = GDK_PROPERTY_CHANGE_MASK;
    window = gdk_window_new(nullptr, &a, GDK_WA_X | GDK_WA_Y);
    platform::clipboard::install(&X11_BACKEND);
}

}  // namespace kiv::gui::clipboard
