#include "gui/window/display.h"

#include "gui/window/gdk_calls.h"
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "gui/window/classes.h"
#include "gui/window/clipboard.h"
#include "gui/window/input_method.h"
#include "gui/window/keyboard.h"
#include "gui/window/timers.h"
#include "gui/window/paint.h"
#include "gui/window/queue.h"
#include "gui/window/windows.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::display {

namespace {

bool opened = false;
GdkDisplay* connection = nullptr;
double known_dpi = 96.0;
Hwnd leave_window = 0;
// Top-level windows the window manager shows maximised, or minimised.
std::vector<Hwnd> maximised, minimised;

bool among(const std::vector<Hwnd>& v, Hwnd h) {
    for (Hwnd x : v)
        if (x == h) return true;
    return false;
}

void mark(std::vector<Hwnd>& v, Hwnd h, bool on) {
    for (size_t i = 0; i < v.size(); ++i)
        if (v[i] == h) {
            if (!on) v.erase(v.begin() + ptrdiff_t(i));
            return;
        }
    if (on) v.push_back(h);
}
uint32_t x_buttons = 0;  // EVT_AUX_DOWN while X button 1 or 2 is held
std::vector<EventFilter> filters;
// What the layer keeps about a native window beside its record: the band
// above its client area and the size limits asked for the client area.
struct NativeInfo {
    int32_t band = 0;
    int32_t min_w = 0, min_h = 0, max_w = 0, max_h = 0;
};
std::unordered_map<const void*, NativeInfo> natives;

int32_t band_of(const void* native) {
    auto it = natives.find(native);
    return it == natives.end() ? 0 : it->second.band;
}

void apply_limits(void* native);

struct Press {
    uint32_t time = 0;
    int32_t x = 0, y = 0;
    uint32_t button = 0;
    Hwnd hwnd = 0;
    bool valid = false;
} last_press;

uint32_t flags_of(guint state) {
    uint32_t f = 0;
    if (state & GDK_CONTROL_MASK) f |= EVT_CONTROL;
    if (state & GDK_SHIFT_MASK) f |= EVT_SHIFT;
    if (state & GDK_MOD1_MASK) f |= EVT_ALT;
    if (state & GDK_BUTTON1_MASK) f |= EVT_DOWN;
    if (state & GDK_BUTTON2_MASK) f |= EVT_MID_DOWN;
    if (state & GDK_BUTTON3_MASK) f |= EVT_ALT_DOWN;
    return f | x_buttons;
}

uint32_t mk_of(uint32_t f) {
    uint32_t mk = 0;
    if (f & EVT_DOWN) mk |= MK_LBUTTON;
    if (f & EVT_ALT_DOWN) mk |= MK_RBUTTON;
    if (f & EVT_MID_DOWN) mk |= MK_MBUTTON;
    if (f & EVT_SHIFT) mk |= MK_SHIFT;
    if (f & EVT_CONTROL) mk |= MK_CONTROL;
    if (f & EVT_AUX_DOWN) mk |= MK_XBUTTON1;
    return mk;
}

uint32_t button_flag(uint32_t button) {
    switch (button) {
        case 1:
            return EVT_DOWN;
        case 2:
            return EVT_MID_DOWN;
        case 3:
            return EVT_ALT_DOWN;
        case 8:
        case 9:
            return EVT_AUX_DOWN;
        default:
            return 0;
    }
}

// The window a mouse event at client point (x, y) of `top` goes to, and the
// point in that window's client coordinates.
Hwnd route(Hwnd top, int32_t x, int32_t y, int32_t* cx, int32_t* cy) {
    Hwnd target = windows::capture();
    if (!target || windows::root(target) != top) target = windows::deepest_at(top, x, y);
    int32_t ox = 0, oy = 0, tx = 0, ty = 0;
    windows::client_to_screen(target, &ox, &oy);
    windows::client_to_screen(top, &tx, &ty);
    *cx = x - (ox - tx);
    *cy = y - (oy - ty);
    return target;
}

void leave_if_moved(Hwnd now_over) {
    if (leave_window && leave_window != now_over) {
        const Hwnd h = leave_window;
        leave_window = 0;
        if (windows::alive(h)) queue::post(h, WM_MOUSELEAVE, 0, 0);
    }
}

// The native window's pointer shape and its name, by native window.
struct Shown {
    void* native;
    int32_t cursor;
    Hwnd image_of;  // the window whose own shape is shown (CURSOR_IMAGE)
};
std::vector<Shown> shown;

// The windows' own shapes made from images.
struct OwnCursor {
    Hwnd h;
    GdkCursor* cursor;
};
std::vector<OwnCursor> own_cursors;

GdkCursor* own_cursor(Hwnd h) {
    for (const OwnCursor& o : own_cursors)
        if (o.h == h) return o.cursor;
    return nullptr;
}

const char* cursor_name(int32_t c) {
    switch (c) {
        case CURSOR_IBEAM: return "text";
        case CURSOR_HAND: return "pointer";
        case CURSOR_CROSS: return "crosshair";
        case CURSOR_RESIZE_NS: return "ns-resize";
        case CURSOR_RESIZE_EW: return "ew-resize";
        case CURSOR_IMAGE: return "image";
        default: return "default";
    }
}

// Shows the pointer shape the window under the pointer asks for.
void show_cursor(Hwnd top, Hwnd under) {
    Window* w = windows::get(top);
    if (!w || !w->native) return;
    int32_t c = windows::get_slot(under, SLOT_CURSOR) & 0x7FFFFFFF;
    if (c < CURSOR_DEFAULT || c > CURSOR_IMAGE || (c == CURSOR_IMAGE && !own_cursor(under))) c = CURSOR_DEFAULT;
    const Hwnd image_of = c == CURSOR_IMAGE ? under : 0;
    for (Shown& s : shown)
        if (s.native == w->native) {
            if (s.cursor == c && s.image_of == image_of) return;
            s.cursor = c;
            s.image_of = image_of;
            goto set;
        }
    shown.push_back(Shown{w->native, c, image_of});
set:
    if (c == CURSOR_IMAGE) {
        gdk_window_set_cursor(static_cast<GdkWindow*>(w->native), own_cursor(under));
        return;
    }
    GdkCursor* cur = c == CURSOR_DEFAULT ? nullptr : gdk_cursor_new_from_name(connection, cursor_name(c));
    gdk_window_set_cursor(static_cast<GdkWindow*>(w->native), cur);
    if (cur) g_object_unref(cur);
}

void mouse(Hwnd top, uint32_t message, double x, double y, uint32_t wparam_high, uint32_t after) {
    int32_t cx, cy;
    y -= band(top);
    const Hwnd target = route(top, int32_t(std::floor(x)), int32_t(std::floor(y)), &cx, &cy);
    leave_if_moved(target);
    show_cursor(top, target);
    queue::post(target, message, (wparam_high << 16) | mk_of(after), pack_point(cx, cy));
}

void on_button(Hwnd top, const GdkEventButton& b, bool press) {
    const uint32_t flag = button_flag(b.button);
    if (!flag) return;
    if (b.button >= 8) x_buttons = press ? uint32_t(EVT_AUX_DOWN) : 0u;
    uint32_t after = flags_of(b.state);
    after = press ? (after | flag) : (after & ~flag);
    queue::note_input(b.time, int32_t(b.x_root), int32_t(b.y_root), after);
    uint32_t message;
    uint32_t high = 0;
    switch (b.button) {
        case 1:
            message = press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
            break;
        case 2:
            message = press ? WM_MBUTTONDOWN : WM_MBUTTONUP;
            break;
        case 3:
            message = press ? WM_RBUTTONDOWN : WM_RBUTTONUP;
            break;
        default:
            message = press ? WM_XBUTTONDOWN : WM_XBUTTONUP;
            high = b.button == 8 ? 1 : 2;
            break;
    }
    if (press) {
        // A second press of the same button, soon and near, is a double
        // click for windows whose class asks for them.
        int32_t cx, cy;
        const Hwnd target = route(top, int32_t(b.x), int32_t(b.y) - band(top), &cx, &cy);
        const bool dbl = last_press.valid && last_press.button == b.button && last_press.hwnd == target &&
                         b.time - last_press.time <= double_click_time() &&
                         std::abs(int32_t(b.x_root) - last_press.x) <= double_click_distance() &&
                         std::abs(int32_t(b.y_root) - last_press.y) <= double_click_distance();
        const Window* w = windows::get(target);
        const classes::WindowClass* c = w ? classes::at(w->class_index) : nullptr;
        const bool wants = c && (c->style & classes::CS_DBLCLKS);
        if (dbl && wants) {
            message += 2;  // the double-click message follows the up message
            last_press.valid = false;
        } else {
            last_press = Press{b.time, int32_t(b.x_root), int32_t(b.y_root), b.button, target, true};
        }
    }
    mouse(top, message, b.x, b.y, high, after);
}

void on_key(Hwnd top, const GdkEventKey& k, bool press) {
    guint base = 0;
    GdkKeymap* map = gdk_keymap_get_for_display(connection);
    if (!gdk_keymap_translate_keyboard_state(map, k.hardware_keycode, GdkModifierType(0), k.group, &base, nullptr,
                                             nullptr, nullptr))
        base = gdk_keyval_to_lower(k.keyval);
    uint32_t vk = keyboard::vk_from_keysym(base);
    if (!vk) vk = keyboard::vk_from_keysym(k.keyval);
    uint32_t after = flags_of(k.state);
    uint32_t mod = 0;
    if (vk == VK_SHIFT) mod = EVT_SHIFT;
    if (vk == VK_CONTROL) mod = EVT_CONTROL;
    if (vk == VK_MENU) mod = EVT_ALT;
    after = press ? (after | mod) : (after & ~mod);
    int32_t px = 0, py = 0;
    queue::input_point(&px, &py);
    queue::note_input(k.time, px, py, after);
    const bool control = after & EVT_CONTROL;
    const bool alt = (after & EVT_ALT) || vk == VK_MENU;
    const uint32_t scan = (k.hardware_keycode - 8u) & 0xFFu;
    uint32_t lparam = 1u | (scan << 16);
    if (keyboard::extended(k.keyval) || keyboard::extended(base)) lparam |= KF_EXTENDED_BIT;
    if (!press) lparam |= 0xC0000000u;
    const bool sys = alt && !control;
    const uint32_t message = press ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    Hwnd target = windows::focus();
    if (!target || windows::root(target) != top) target = top;
    Msg m;
    m.hwnd = target;
    m.message = message;
    m.wparam = vk;
    m.lparam = int32_t(lparam);
    m.time = k.time;
    m.pt_x = px;
    m.pt_y = py;
    m.state = after;
    m.ch = keyboard::typed_char(vk, gdk_keyval_to_unicode(k.keyval), control, alt);
    // A key with no virtual key of its own that types a character (an
    // input method, a remapped key) is a character key.
    if (vk == 0 && m.ch) m.wparam = VK_PACKET;
    if (input_method::wants(target) &&
        input_method::filter(target, windows::get(top)->native, const_cast<GdkEventKey*>(&k), m) ==
            input_method::Outcome::TAKEN)
        return;
    queue::post_msg(m);
}

constexpr uint32_t SIZE_MOVE_TIMER = 0x534D;

void end_size_move(Hwnd h, uint32_t, uint32_t id, uint32_t) {
    timers::kill(h, id);
    windows::send(h, WM_EXITSIZEMOVE, 0, 0);
}

void on_configure(Hwnd top, const GdkEventConfigure& native_c) {
    Window* w = windows::get(top);
    if (!w) return;
    GdkEventConfigure c = native_c;
    const int32_t b = band_of(w->native);
    c.y += b;
    c.height -= b;
    // The notice of a geometry the program asked for: the record already
    // holds it, or a later request is on its way. Only a change made
    // outside the program (the user, the window manager) moves or sizes.
    auto& asked = w->requested;
    for (size_t i = 0; i < asked.size(); ++i) {
        const auto& r = asked[i];
        if (r[0] == c.x && r[1] == c.y && r[2] == c.width && r[3] == c.height) {
            asked.erase(asked.begin(), asked.begin() + ptrdiff_t(i) + 1);
            return;
        }
    }
    asked.clear();
    // A minimised window neither moves nor changes size for the program.
    if (among(minimised, top)) return;
    const bool moved = c.x != w->x || c.y != w->y;
    const bool sized = c.width != w->w || c.height != w->h;
    if (!moved && !sized) return;
    w->x = c.x;
    w->y = c.y;
    w->w = c.width;
    w->h = c.height;
    // A change made outside the program is a move or size loop (the user
    // dragging the window or its border): it opens with the first notice
    // and ends when no notice came for a while.
    if (!timers::proc_of(top, SIZE_MOVE_TIMER)) queue::post(top, WM_ENTERSIZEMOVE, 0, 0);
    timers::set(top, SIZE_MOVE_TIMER, SIZE_MOVE_QUIET_MS, end_size_move);
    if (moved) {
        queue::post(top, WM_MOVING, 0, pack_point(c.x, c.y));
        queue::post(top, WM_MOVE, 0, pack_point(c.x, c.y));
    }
    if (sized) {
        queue::post(top, WM_SIZING, 0, pack_point(c.width, c.height));
        queue::post(top, WM_SIZE, among(maximised, top) ? SIZE_MAXIMIZED : SIZE_RESTORED,
                    pack_point(c.width, c.height));
    }
}

// A change of the screen's resolution (its size in millimetres, or the
// desktop's font resolution): the windows follow the new DPI.
void check_dpi() {
    const double now = dpi();
    if (now == known_dpi) return;
    known_dpi = now;
    for (Hwnd h : windows::top_levels()) queue::post(h, WM_DPICHANGED, uint32_t(std::lround(now)), 0);
}

void on_screen_changed(GdkScreen*, gpointer) {
    const auto tops = windows::top_levels();
    if (!tops.empty()) queue::post(tops.front(), WM_DISPLAYCHANGE, 0, 0);
    check_dpi();
}

// A desktop setting changed (the display library names them as the
// toolkit does): the font resolution, or the theme and its font.
void on_setting(const GdkEventSetting& s) {
    const char* name = s.name ? s.name : "";
    if (std::strcmp(name, "gtk-xft-dpi") == 0) {
        check_dpi();
        return;
    }
    if (std::strcmp(name, "gtk-theme-name") == 0 || std::strcmp(name, "gtk-font-name") == 0)
        for (Hwnd h : windows::top_levels()) queue::post(h, WM_THEMECHANGED, 0, 0);
}

void handle(GdkEvent* ev, gpointer) {
    if (ev->type == GDK_SELECTION_CLEAR || ev->type == GDK_SELECTION_REQUEST || ev->type == GDK_SELECTION_NOTIFY) {
        clipboard::on_selection_event(ev);
        return;
    }
    if (ev->type == GDK_SETTING) {
        on_setting(ev->setting);
        return;
    }
    for (EventFilter f : filters)
        if (f(ev)) return;
    const Hwnd top = windows::from_native(ev->any.window);
    if (!top) return;
    switch (ev->type) {
        case GDK_MOTION_NOTIFY: {
            const GdkEventMotion& m = ev->motion;
            const uint32_t after = flags_of(m.state);
            queue::note_input(m.time, int32_t(m.x_root), int32_t(m.y_root), after);
            mouse(top, WM_MOUSEMOVE, m.x, m.y, 0, after);
            break;
        }
        case GDK_BUTTON_PRESS:
            on_button(top, ev->button, true);
            break;
        case GDK_BUTTON_RELEASE:
            on_button(top, ev->button, false);
            break;
        case GDK_SCROLL: {
            const GdkEventScroll& s = ev->scroll;
            const uint32_t after = flags_of(s.state);
            queue::note_input(s.time, int32_t(s.x_root), int32_t(s.y_root), after);
            int32_t delta = 0;
            uint32_t message = WM_MOUSEWHEEL;
            switch (s.direction) {
                case GDK_SCROLL_UP:
                    delta = WHEEL_DELTA;
                    break;
                case GDK_SCROLL_DOWN:
                    delta = -WHEEL_DELTA;
                    break;
                case GDK_SCROLL_LEFT:
                    message = WM_MOUSEHWHEEL;
                    delta = -WHEEL_DELTA;
                    break;
                case GDK_SCROLL_RIGHT:
                    message = WM_MOUSEHWHEEL;
                    delta = WHEEL_DELTA;
                    break;
                default:
                    delta = int32_t(std::lround(-s.delta_y * WHEEL_DELTA));
                    break;
            }
            int32_t cx, cy;
            const Hwnd target = route(top, int32_t(s.x), int32_t(s.y) - band(top), &cx, &cy);
            // The wheel message goes to the focus window when it lies in the
            // same top-level window, with the point in screen coordinates.
            Hwnd to = windows::focus();
            if (!to || windows::root(to) != top) to = target;
            queue::post(to, message, (uint32_t(delta) << 16) | mk_of(after),
                        pack_point(int32_t(s.x_root), int32_t(s.y_root)));
            break;
        }
        case GDK_KEY_PRESS:
            on_key(top, ev->key, true);
            break;
        case GDK_KEY_RELEASE:
            on_key(top, ev->key, false);
            break;
        case GDK_LEAVE_NOTIFY: {
            const GdkEventCrossing& c = ev->crossing;
            if (c.mode == GDK_CROSSING_NORMAL && c.detail != GDK_NOTIFY_INFERIOR && leave_window &&
                windows::root(leave_window) == top) {
                // The leave message reports where the pointer went: the
                // crossing's point, not that of the last motion inside.
                queue::note_input(c.time, int32_t(std::floor(c.x_root)), int32_t(std::floor(c.y_root)),
                                  flags_of(c.state));
                leave_if_moved(0);
            }
            break;
        }
        case GDK_FOCUS_CHANGE:
            if (!ev->focus_change.in) input_method::focus_out(ev->any.window);
            queue::post(top, WM_ACTIVATE, ev->focus_change.in ? WA_ACTIVE : WA_INACTIVE, 0);
            break;
        case GDK_WINDOW_STATE: {
            const GdkWindowState st = ev->window_state.new_window_state;
            mark(maximised, top, st & GDK_WINDOW_STATE_MAXIMIZED);
            mark(minimised, top, st & GDK_WINDOW_STATE_ICONIFIED);
            break;
        }
        case GDK_CONFIGURE:
            on_configure(top, ev->configure);
            break;
        case GDK_EXPOSE: {
            const GdkRectangle& r = ev->expose.area;
            const int32_t b = band(top);
            paint::expose(top, r.x, r.y - b, r.width, r.height);
            break;
        }
        case GDK_DELETE:
            queue::post(top, WM_CLOSE, 0, 0);
            break;
        default:
            break;
    }
}

gboolean wake_up(gpointer fired) {
    *static_cast<bool*>(fired) = true;
    return G_SOURCE_REMOVE;
}

}  // namespace

bool open(std::string* error) {
    if (opened) return true;
    const char* name = getenv("DISPLAY");
    if (!name || !*name) {
        if (error) *error = "display";
        return false;
    }
    std::string why;
    // The layer draws with Cairo (backing surfaces, screen captures) from
    // its first window on: its table is filled with the display's.
    if (!gdk_api::load(why) || !draw::cairo_api::load(why)) {
        if (error) *error = why;
        return false;
    }
    gdk_set_allowed_backends("x11");
    if (!gdk_init_check(nullptr, nullptr) || !gdk_display_get_default()) {
        if (error) *error = std::string("display ") + name;
        return false;
    }
    connection = gdk_display_get_default();
    gdk_event_handler_set(handle, nullptr, nullptr);
    GdkScreen* screen = gdk_screen_get_default();
    g_signal_connect_data(screen, "size-changed", G_CALLBACK(on_screen_changed), nullptr, nullptr, GConnectFlags(0));
    g_signal_connect_data(screen, "monitors-changed", G_CALLBACK(on_screen_changed), nullptr, nullptr,
                          GConnectFlags(0));
    opened = true;
    known_dpi = dpi();
    return true;
}

void reinstall_handler() {
    if (opened) gdk_event_handler_set(handle, nullptr, nullptr);
}

void set_image_cursor(Hwnd h, cairo_surface_t* image) {
    for (size_t i = 0; i < own_cursors.size(); ++i)
        if (own_cursors[i].h == h) {
            // A native window showing it shows the default until the pointer moves.
            for (Shown& s : shown)
                if (s.image_of == h) {
                    gdk_window_set_cursor(static_cast<GdkWindow*>(s.native), nullptr);
                    s = Shown{s.native, CURSOR_DEFAULT, 0};
                }
            g_object_unref(own_cursors[i].cursor);
            own_cursors.erase(own_cursors.begin() + ptrdiff_t(i));
            break;
        }
    if (!opened || !image) return;
    const int w = cairo_image_surface_get_width(image), height = cairo_image_surface_get_height(image);
    if (GdkCursor* c = gdk_cursor_new_from_surface(connection, image, w / 2.0, height / 2.0))
        own_cursors.push_back(OwnCursor{h, c});
}

const char* shown_cursor(void* native) {
    for (const Shown& s : shown)
        if (s.native == native) return cursor_name(s.cursor);
    return "default";
}

bool is_open() {
    return opened;
}

void pump(bool block, int32_t timeout_ms) {
    if (!opened) {
        if (block && timeout_ms > 0) {
            timespec t{timeout_ms / 1000, long(timeout_ms % 1000) * 1000000L};
            nanosleep(&t, nullptr);
        }
        return;
    }
    if (!block) {
        for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
        }
        return;
    }
    bool fired = false;
    guint source = timeout_ms >= 0 ? g_timeout_add(guint(timeout_ms), wake_up, &fired) : 0;
    g_main_context_iteration(nullptr, TRUE);
    if (source && !fired) g_source_remove(source);
}

void wake() {
    if (opened) g_main_context_wakeup(nullptr);
}

void* create_native(Hwnd, int32_t x, int32_t y, int32_t w, int32_t height, const char* title) {
    if (!opened) return nullptr;
    GdkWindowAttr a{};
    a.window_type = GDK_WINDOW_TOPLEVEL;
    a.wclass = GDK_INPUT_OUTPUT;
    a.x = x;
    a.y = y;
    a.width = w > 0 ? w : 1;
    a.height = height > 0 ? height : 1;
    a.title = const_cast<gchar*>(title ? title : "");
    a.event_mask = GDK_EXPOSURE_MASK | GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                   GDK_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_ENTER_NOTIFY_MASK |
                   GDK_LEAVE_NOTIFY_MASK | GDK_FOCUS_CHANGE_MASK | GDK_STRUCTURE_MASK;
    GdkWindow* win = gdk_window_new(nullptr, &a, GDK_WA_X | GDK_WA_Y | GDK_WA_TITLE);
    if (win) gdk_window_move(win, x, y);
    return win;
}

void destroy_native(void* native) {
    if (!native || !opened) return;
    if (leave_window && !windows::alive(leave_window)) leave_window = 0;
    if (last_press.hwnd && !windows::alive(last_press.hwnd)) last_press.valid = false;
    input_method::forget(native);
    const Hwnd gone = windows::from_native(native);
    mark(maximised, gone, false);
    mark(minimised, gone, false);
    for (size_t i = 0; i < shown.size(); ++i)
        if (shown[i].native == native) shown.erase(shown.begin() + ptrdiff_t(i));
    natives.erase(native);
    gdk_window_destroy(static_cast<GdkWindow*>(native));
}

void move_native(void* native, int32_t x, int32_t y, int32_t w, int32_t height) {
    if (!native) return;
    const int32_t b = band_of(native);
    gdk_window_move_resize(static_cast<GdkWindow*>(native), x, y - b, w > 0 ? w : 1, (height > 0 ? height : 1) + b);
}

void show_native(void* native, bool visible) {
    if (!native) return;
    if (visible)
        gdk_window_show(static_cast<GdkWindow*>(native));
    else
        gdk_window_hide(static_cast<GdkWindow*>(native));
    gdk_display_flush(connection);
}

void set_title(void* native, const char* title) {
    if (native) gdk_window_set_title(static_cast<GdkWindow*>(native), title ? title : "");
}

void focus_native(void* native) {
    if (!native || !gdk_window_is_viewable(static_cast<GdkWindow*>(native))) return;
    // Focusing a window the server cannot focus yet is an X error, not a fault.
    gdk_x11_display_error_trap_push(connection);
    gdk_window_focus(static_cast<GdkWindow*>(native), GDK_CURRENT_TIME);
    gdk_x11_display_error_trap_pop_ignored(connection);
}

uint32_t xid(void* native) {
    if (!native) return 0;
    return uint32_t(gdk_x11_window_get_xid(static_cast<GdkWindow*>(native)));
}

double dpi() {
    if (!opened) return 96.0;
    GdkScreen* screen = gdk_screen_get_default();
    const double r = gdk_screen_get_resolution(screen);
    if (r > 0 && r != 96.0) return r;
    const int mm = gdk_screen_get_width_mm(screen);
    if (mm <= 0) return r > 0 ? r : 96.0;
    return std::round(gdk_screen_get_width(screen) * 25.4 / mm);
}

void screen_size(int32_t* w, int32_t* h) {
    if (!opened) {
        *w = 1280;
        *h = 1024;
        return;
    }
    *w = gdk_screen_get_width(gdk_screen_get_default());
    *h = gdk_screen_get_height(gdk_screen_get_default());
}

void present(void* native, cairo_surface_t* surface, int32_t x, int32_t y, int32_t w, int32_t h) {
    if (!opened || !native || !surface || w <= 0 || h <= 0) return;
    GdkWindow* win = static_cast<GdkWindow*>(native);
    if (!gdk_window_is_viewable(win)) return;
    const int32_t b = band_of(native);
    cairo_t* cr = gdk_cairo_create(win);
    cairo_set_source_surface(cr, surface, 0, b);
    cairo_rectangle(cr, x, y + b, w, h);
    cairo_fill(cr);
    cairo_destroy(cr);
    gdk_display_flush(connection);
}

cairo_surface_t* capture_screen(int32_t x, int32_t y, int32_t w, int32_t h) {
    if (!opened || w <= 0 || h <= 0) return nullptr;
    gdk_display_flush(connection);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    gdk_cairo_set_source_window(cr, gdk_get_default_root_window(), -x, -y);
    // The root window's surface would otherwise serve a copy kept from an
    // earlier capture.
    cairo_surface_t* root = nullptr;
    if (cairo_pattern_get_surface(cairo_get_source(cr), &root) == CAIRO_STATUS_SUCCESS && root)
        cairo_surface_mark_dirty(root);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    return s;
}

void set_size_limits(void* native, int32_t min_w, int32_t min_h, int32_t max_w, int32_t max_h) {
    if (!opened || !native) return;
    NativeInfo& info = natives[native];
    info.min_w = min_w;
    info.min_h = min_h;
    info.max_w = max_w;
    info.max_h = max_h;
    apply_limits(native);
}

namespace {

// The limits of the client area, the band added to the heights.
void apply_limits(void* native) {
    const NativeInfo info = natives[native];
    const int32_t b = info.band;
    const int32_t min_w = info.min_w, min_h = info.min_h > 0 ? info.min_h + b : 0;
    const int32_t max_w = info.max_w, max_h = info.max_h > 0 ? info.max_h + b : 0;
    GdkGeometry g{};
    // The window stands where the program put it: a window manager keeps
    // the position instead of choosing one, and puts the frame around the
    // client area there (static gravity), as without a window manager.
    int mask = GDK_HINT_USER_POS | GDK_HINT_WIN_GRAVITY;
    g.win_gravity = GDK_GRAVITY_STATIC;
    if (min_w > 0 || min_h > 0) {
        g.min_width = std::max(1, min_w);
        g.min_height = std::max(1, min_h);
        mask |= GDK_HINT_MIN_SIZE;
    }
    if (max_w > 0 || max_h > 0) {
        g.max_width = max_w > 0 ? max_w : 32767;
        g.max_height = max_h > 0 ? max_h : 32767;
        mask |= GDK_HINT_MAX_SIZE;
    }
    gdk_window_set_geometry_hints(static_cast<GdkWindow*>(native), &g, GdkWindowHints(mask));
}

}  // namespace

void add_filter(EventFilter filter) {
    if (std::find(filters.begin(), filters.end(), filter) == filters.end()) filters.push_back(filter);
}

void set_band(Hwnd top, int32_t height) {
    Window* w = windows::get(top);
    if (!w || !w->native || !opened) return;
    NativeInfo& info = natives[w->native];
    height = std::max(0, height);
    if (info.band == height) return;
    info.band = height;
    apply_limits(w->native);
    move_native(w->native, w->x, w->y, w->w, w->h);
}

int32_t band(Hwnd top) {
    const Window* w = windows::get(top);
    return w ? band_of(w->native) : 0;
}

uint32_t double_click_time() {
    return 500;
}

int32_t double_click_distance() {
    return 4;
}

void track_leave(Hwnd h) {
    leave_window = h;
}

Hwnd tracked() {
    return windows::alive(leave_window) ? leave_window : 0;
}

}  // namespace kiv::gui::display
