#include "gui/window/clipboard.h"

#include "gui/window/gdk_calls.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gui/window/display.h"
#include "gui/window/selection_formats.h"
#include "gui/window/timers.h"
#include "platform/clipboard.h"

namespace kiv::gui::clipboard {

namespace {

namespace cb = platform::clipboard;
namespace sf = selection_formats;

GdkWindow* window = nullptr;
GdkAtom CLIPBOARD, TARGETS, UTF8_STRING, TEXT_PLAIN_UTF8, STRING_ATOM, TEXT, URI_LIST, ATOM_TYPE;

// The store's image formats and their selection targets.
struct ImageTarget {
    const char* format;
    const char* target;
};
const ImageTarget IMAGE_TARGETS[] = {{"PNG", "image/png"}, {"JFIF", "image/jpeg"}, {"GIF", "image/gif"}};

// The answer to the conversion in progress.
bool waiting = false, answered = false, answer_ok = false;
std::string answer;
constexpr int32_t ANSWER_TIMEOUT_MS = 1000;

guint32 server_time() {
    return gdk_x11_get_server_time(window);
}

// Asks the selection's owner for `target`; the data, or false.
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

// The store over the CLIPBOARD selection. Writing (empty, put..., close)
// collects the formats, then takes the selection; reading while another
// program owns it asks that program, format by format.
class SelectionStore : public cb::Store {
  public:
    bool open() override {
        writing_ = false;
        targets_.clear();
        targets_read_ = false;
        return true;
    }
    void close() override {
        if (!writing_) return;
        writing_ = false;
        gdk_selection_owner_set(window, CLIPBOARD, server_time(), TRUE);
        owning_ = gdk_selection_owner_get(CLIPBOARD) == window;
    }
    bool empty() override {
        writing_ = true;
        owned_.clear();
        return true;
    }
    bool put(const std::string& format, std::vector<uint8_t> bytes) override {
        writing_ = true;
        owned_[format] = std::move(bytes);
        return true;
    }
    bool get(const std::string& format, std::vector<uint8_t>& out) override {
        // Another program may have taken the selection since (its clear
        // event may still wait in the queue): ask the server.
        owning_ = owning_ && gdk_selection_owner_get(CLIPBOARD) == window;
        if (owning_) {
            auto it = owned_.find(format);
            if (it == owned_.end()) return false;
            out = it->second;
            return true;
        }
        std::string data;
        if (format == cb::TEXT) {
            for (GdkAtom t : {UTF8_STRING, TEXT_PLAIN_UTF8, STRING_ATOM}) {
                if (!offered(t) || !convert(t, &data)) continue;
                out = sf::text_to_store(data);
                return true;
            }
            return false;
        }
        if (format == cb::FILES) {
            if (!offered(URI_LIST) || !convert(URI_LIST, &data)) return false;
            out = sf::files_to_store(sf::decode_uri_list(data));
            return true;
        }
        for (const ImageTarget& i : IMAGE_TARGETS) {
            if (format != i.format) continue;
            const GdkAtom t = gdk_atom_intern_static_string(i.target);
            if (!offered(t) || !convert(t, &data)) return false;
            out.assign(data.begin(), data.end());
            return true;
        }
        return false;
    }

    // What the selection offers when the process owns it.
    std::vector<GdkAtom> targets() const {
        std::vector<GdkAtom> list{TARGETS};
        if (owned_.count(cb::TEXT)) list.insert(list.end(), {UTF8_STRING, TEXT_PLAIN_UTF8, STRING_ATOM, TEXT});
        if (owned_.count(cb::FILES)) list.push_back(URI_LIST);
        for (const ImageTarget& i : IMAGE_TARGETS)
            if (owned_.count(i.format)) list.push_back(gdk_atom_intern_static_string(i.target));
        return list;
    }
    // The bytes of a target when the process owns the selection.
    bool data_for(GdkAtom target, std::string* data) const {
        if (!owning_) return false;
        if (target == UTF8_STRING || target == TEXT_PLAIN_UTF8 || target == STRING_ATOM || target == TEXT) {
            auto it = owned_.find(cb::TEXT);
            if (it == owned_.end()) return false;
            *data = sf::text_from_store(it->second);
            return true;
        }
        if (target == URI_LIST) {
            auto it = owned_.find(cb::FILES);
            if (it == owned_.end()) return false;
            *data = sf::encode_uri_list(sf::files_from_store(it->second));
            return true;
        }
        for (const ImageTarget& i : IMAGE_TARGETS) {
            if (target != gdk_atom_intern_static_string(i.target)) continue;
            auto it = owned_.find(i.format);
            if (it == owned_.end()) return false;
            data->assign(it->second.begin(), it->second.end());
            return true;
        }
        return false;
    }
    void lost() {
        owning_ = false;
        owned_.clear();
    }

  private:
    // Whether the owner offers a target (asked once per opening; an owner
    // that does not answer TARGETS is asked for the target itself).
    bool offered(GdkAtom t) {
        if (!targets_read_) {
            targets_read_ = true;
            std::string data;
            if (convert(TARGETS, &data)) {
                // The display layer hands an ATOM list over as its own atoms.
                const size_t n = data.size() / sizeof(GdkAtom);
                targets_.resize(n);
                std::memcpy(targets_.data(), data.data(), n * sizeof(GdkAtom));
            }
        }
        if (targets_.empty()) return true;
        for (GdkAtom a : targets_)
            if (a == t) return true;
        return false;
    }

    std::map<std::string, std::vector<uint8_t>> owned_;
    bool owning_ = false;
    bool writing_ = false;
    std::vector<GdkAtom> targets_;
    bool targets_read_ = false;
};

SelectionStore* store = nullptr;

void answer_request(const GdkEventSelection& e) {
    GdkAtom property = e.property != GDK_NONE ? e.property : e.target;
    GdkWindow* to = e.requestor;
    std::string data;
    if (!to || !store) {
        property = GDK_NONE;
    } else if (e.target == TARGETS) {
        const std::vector<GdkAtom> list = store->targets();
        gdk_property_change(to, property, ATOM_TYPE, 32, GDK_PROP_MODE_REPLACE,
                            reinterpret_cast<const guchar*>(list.data()), int(list.size()));
    } else if (store->data_for(e.target, &data)) {
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
            if (store) store->lost();
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
    static SelectionStore the_store;
    store = &the_store;
    cb::set_store(store);
}

}  // namespace kiv::gui::clipboard
