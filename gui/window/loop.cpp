#include "gui/window/loop.h"

#include <time.h>

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/point.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "gui/window/accessors.h"
#include "gui/window/display.h"
#include "gui/window/event.h"
#include "gui/window/keyboard.h"
#include "gui/window/menu_hooks.h"
#include "gui/window/queue.h"
#include "gui/window/timers.h"
#include "gui/window/windows.h"
#include "library/library.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::gui::loop {

int32_t depth = 0;
int32_t pending = 0;
int32_t flags_override = -1;
int32_t last_mouse = -1;
Hwnd hover = 0;
bool ime_active = false;

namespace {

Msg* current = nullptr;
Msg static_message;
bool draining = false;

uint32_t key_flags() {
    return flags_override >= 0 ? uint32_t(flags_override) : keyboard::key_state(false);
}

bool word_is(const Cell& v, const char* name) {
    if (v.type() != TYPE_WORD) return false;
    Cell w = word::load(name);
    return symbol::resolve(v.w2) == symbol::resolve(w.w2);
}

// Calls awake with a copy of the event record under a barrier that no
// error, throw or other exit crosses; returns its result (none when it
// raised or exited).
Cell call_awake() {
    Cell* slot = system_object::field({"view", "awake"});
    if (!slot) return none::cell();
    const Cell fn = *slot;
    const uint32_t t = fn.type();
    if (t != TYPE_FUNCTION && t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_ROUTINE) return none::cell();
    Cell* saved_top = stack::top;
    Cell* saved_base = stack::arg_base;
    stack::push(none::cell());
    const Cell name = word::load("awake");
    stack::mark_try_all(&name);
    stack::Frame* frame = stack::ctop();
    Cell result = none::cell();
    try {
        const Cell ev = event::record;
        if (interpreter::call_values(&fn, &ev, 1, &name) == UNWIND_NONE) result = *(stack::top - 1);
    } catch (const RaisedError&) {
        result = none::cell();
    }
    stack::catch_at(frame);
    stack::throw_position = nullptr;
    stack::top = saved_top;
    stack::arg_base = saved_base;
    return result;
}

uint32_t mouse_flags(const Msg& m) {
    uint32_t f = 0;
    if (m.wparam & MK_LBUTTON) f |= EVT_DOWN;
    if (m.wparam & MK_RBUTTON) f |= EVT_ALT_DOWN;
    if (m.wparam & MK_SHIFT) f |= EVT_SHIFT;
    if (m.wparam & MK_CONTROL) f |= EVT_CONTROL;
    if (m.wparam & MK_MBUTTON) f |= EVT_MID_DOWN;
    if (m.wparam & (MK_XBUTTON1 | MK_XBUTTON2)) f |= EVT_AUX_DOWN;
    return f;
}

// A key that types a character gets its character message(s) ahead of
// every other queued message: UTF-16 units, a pair above U+FFFF.
void translate(const Msg& m) {
    if ((m.message != WM_KEYDOWN && m.message != WM_SYSKEYDOWN) || m.ch == 0) return;
    Msg c = m;
    c.message = m.message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
    c.ch = 0;
    if (m.ch > 0xFFFF) {
        const uint32_t v = m.ch - 0x10000;
        c.wparam = 0xD800 + (v >> 10);
        queue::post_front(c, 0);
        c.wparam = 0xDC00 + (v & 0x3FF);
        queue::post_front(c, 1);
    } else {
        c.wparam = m.ch;
        queue::post_front(c, 0);
    }
}

void dispatch(Msg* m) {
    Msg* saved = current;
    current = m;
    translate(*m);
    if (m->message == WM_TIMER && m->lparam == 0) {
        if (timers::TimerProc p = timers::proc_of(m->hwnd, m->wparam)) {
            p(m->hwnd, WM_TIMER, m->wparam, m->time);
            current = saved;
            return;
        }
    }
    windows::send(m->hwnd, m->message, m->wparam, m->lparam);
    current = saved;
}

bool is_modifier_code(int32_t code) {
    return code == VK_SHIFT || code == VK_CONTROL || (code >= int32_t(VK_LSHIFT) && code <= int32_t(VK_RMENU));
}

}  // namespace

Msg* current_message() {
    if (current) return current;
    static_message = Msg{};
    queue::input_point(&static_message.pt_x, &static_message.pt_y);
    static_message.state = queue::input_state();
    return &static_message;
}

void sync_quit() {
    if (pending > depth) pending = depth;
    if (pending < 0) pending = 0;
    if (pending > 0 && !queue::quit_posted()) queue::post_quit();
}

void request_quit() {
    if (pending < depth) ++pending;
    sync_quit();
}

bool do_events(bool no_wait) {
    const int32_t saved_override = flags_override;
    flags_override = -1;
    bool result = false;
    if (!no_wait) ++depth;
    Msg m;
    for (;;) {
        if (queue::get(&m, !no_wait) <= 0) break;
        result = true;
        run_message(&m);
        if (no_wait) break;
    }
    if (!no_wait) {
        --depth;
        if (pending > 0) --pending;
        sync_quit();
    }
    flags_override = saved_override;
    return result;
}

void drain() {
    if (draining) return;
    draining = true;
    while (do_events(true)) {
    }
    draining = false;
}

void run_message(Msg* m) {
    keyboard::set_state(m->state);
    if (process_message(m) >= 1) dispatch(m);
    sync_quit();
}

int32_t make_event(Msg* m, int32_t data, uint32_t type) {
    uint32_t flags = 0;
    switch (type) {
        case event::OVER:
            flags = uint32_t(data);
            break;
        case event::KEY_DOWN:
        case event::KEY_UP: {
            uint32_t vk = m->wparam & 0xFFFF;
            if (type == event::KEY_DOWN && vk == VK_PROCESSKEY) {
                event::key_code = -1;
                return 1;
            }
            if ((type == event::KEY_DOWN && ime_active) || keyboard::is_char_key(vk)) {
                event::key_code = -1;
            } else {
                const bool ext = uint32_t(m->lparam) & KF_EXTENDED_BIT;
                if (vk == VK_SHIFT)
                    event::key_code = int32_t(keyboard::shift_from_scan((uint32_t(m->lparam) >> 16) & 0xFF));
                else if (vk == VK_CONTROL)
                    event::key_code = ext ? VK_RCONTROL : VK_LCONTROL;
                else if (vk == VK_MENU)
                    event::key_code = ext ? VK_RMENU : VK_LMENU;
                else
                    event::key_code = int32_t(vk);
            }
            if (event::key_code == -1) {
                if (const uint32_t c = keyboard::vk_to_char(vk)) vk = c;
                // Such a key stands for the character it types.
                if (vk == VK_PACKET) vk = m->ch <= 0xFFFF ? m->ch : 0xFFFD;
            }
            flags = key_flags() | vk;
            break;
        }
        case event::KEY: {
            const uint32_t unit = uint32_t(data) & 0xFFFF;
            uint32_t keys = key_flags();
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                event::surrogate = unit;
                return 1;
            }
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                event::surrogate = ((event::surrogate & 0x3FF) << 10) + 0x10000 + (unit & 0x3FF);
                keys = 0;
            } else {
                event::surrogate = 0;
            }
            // With Control held a letter arrives as its control code (1-26)
            // and stays so: key handlers bind those codes.
            if ((ime_active && (keys & EVT_SHIFT)) || event::key_code == int32_t(VK_LMENU) ||
                event::key_code == int32_t(VK_RMENU))
                event::key_code = -1;
            flags = unit | keys;
            break;
        }
        case event::SELECT:
            flags = uint32_t(data + 1) & 0xFFFF;
            break;
        case event::MENU:
            flags = uint32_t(data) & 0xFFFF;
            break;
        case event::CHANGE:
            // A tab panel's change carries the new tab (1-based).
            flags = data > 0 ? uint32_t(data) & 0xFFFF : 0;
            break;
        case event::WHEEL:
        case event::DBL_CLICK:
        case event::DOWN:
        case event::UP:
        case event::MID_DOWN:
        case event::MID_UP:
        case event::ALT_DOWN:
        case event::ALT_UP:
        case event::AUX_DOWN:
        case event::AUX_UP:
            flags = uint32_t(data) | key_flags();
            break;
        case event::CLICK:
            flags = keyboard::key_state(true);
            break;
        default:
            flags = 0;
            break;
    }
    event::set_record(type, *m, flags);
    const Hwnd saved_window = m->hwnd;
    const bool saved_tracing = interpreter::tracing;
    interpreter::tracing = false;
    const Cell result = call_awake();
    interpreter::tracing = saved_tracing;
    sync_quit();
    m->hwnd = saved_window;
    if (word_is(result, "stop")) return 0;
    return 1;
}

int32_t process_message(Msg* m) {
    const uint32_t mflags = mouse_flags(*m) | keyboard::key_state(true);
    switch (m->message) {
        case WM_KEYDOWN: {
            int32_t r = make_event(m, int32_t(m->wparam), event::KEY_DOWN);
            if (r != 0 && event::key_code != -1 && !is_modifier_code(event::key_code))
                r = make_event(m, int32_t(m->wparam), event::KEY);
            return r;
        }
        case WM_SYSKEYDOWN:
            return make_event(m, int32_t(m->wparam), event::KEY_DOWN);
        case WM_KEYUP:
        case WM_SYSKEYUP:
            return make_event(m, int32_t(m->wparam), event::KEY_UP);
        case WM_CHAR:
            event::key_code = -1;
            return make_event(m, int32_t(m->wparam), event::KEY);
        case WM_MOUSEMOVE: {
            if (m->lparam == last_mouse) return 0;
            last_mouse = m->lparam;
            const bool all_over = windows::get_slot(m->hwnd, SLOT_FLAGS) & FLAG_ALL_OVER;
            if (windows::enabled(m->hwnd) && (m->hwnd != hover || all_over)) {
                if (m->hwnd != hover) display::track_leave(m->hwnd);
                make_event(m, int32_t(mflags), event::OVER);
                hover = m->hwnd;
            }
            return 1;
        }
        case WM_MOUSELEAVE:
            last_mouse = -1;
            make_event(m, int32_t(mflags | EVT_AWAY), event::OVER);
            if (hover == m->hwnd) hover = 0;
            return 1;
        case WM_LBUTTONDOWN:
            return make_event(m, int32_t(mflags), event::DOWN);
        case WM_LBUTTONUP:
            return make_event(m, int32_t(mflags), event::UP);
        case WM_LBUTTONDBLCLK:
            make_event(m, 0, event::DOWN);
            make_event(m, int32_t(mflags), event::DBL_CLICK);
            return 1;
        case WM_RBUTTONDOWN:
            if (windows::capture()) return 1;
            event::right_click_x = lo16(m->lparam);
            event::right_click_y = hi16(m->lparam);
            {
                const int32_t r = make_event(m, int32_t(mflags), event::ALT_DOWN);
                // A face with a popup menu shows it; the press then goes no further.
                if (menu_hooks::show_popup && windows::alive(m->hwnd) && menu_hooks::show_popup(m, m->pt_x, m->pt_y))
                    return 0;
                return r;
            }
        case WM_RBUTTONUP:
            return make_event(m, int32_t(mflags), event::ALT_UP);
        case WM_MBUTTONDOWN:
            return make_event(m, int32_t(mflags), event::MID_DOWN);
        case WM_MBUTTONUP:
            return make_event(m, int32_t(mflags), event::MID_UP);
        case WM_XBUTTONDOWN:
            return make_event(m, int32_t(mflags), event::AUX_DOWN);
        case WM_XBUTTONUP:
            return make_event(m, int32_t(mflags), event::AUX_UP);
        case WM_MOUSEWHEEL:
            return make_event(m, int32_t(mouse_flags(*m)), event::WHEEL);
        default:
            return 1;
    }
}

void timer_proc(Hwnd h, uint32_t, uint32_t, uint32_t) {
    Msg* m = current_message();
    const Hwnd saved = m->hwnd;
    m->hwnd = h;
    make_event(m, 0, event::TIME);
    m->hwnd = saved;
}

uint64_t now_stamp() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000000000ull + uint64_t(t.tv_nsec);
}

double timer_elapsed(uint64_t stamp) {
    const uint64_t now = now_stamp();
    if (now < stamp) return 0.0;
    return double(now - stamp) / 1.0e6;
}

void send_os_event(const Cell* ev, bool post) {
    if (ev->type() != TYPE_EVENT || !(ev->w3 & EVT_MADE) || ev->w2 == 0) return;
    const Cell face = event::get_field(ev, 2);
    const Hwnd h = face_handle_q(&face);
    if (!windows::alive(h)) return;
    const uint32_t type = ev->w1;
    const uint32_t flags = ev->w3;
    Msg m;
    m.hwnd = h;
    uint32_t mk = 0;
    if (flags & EVT_CONTROL) mk |= MK_CONTROL;
    if (flags & EVT_SHIFT) mk |= MK_SHIFT;
    if (flags & EVT_DOWN) mk |= MK_LBUTTON;
    if (flags & EVT_ALT_DOWN) mk |= MK_RBUTTON;
    if (flags & EVT_MID_DOWN) mk |= MK_MBUTTON;
    if (flags & EVT_AUX_DOWN) mk |= MK_XBUTTON1;
    bool key = false;
    switch (type) {
        case event::DOWN: m.message = WM_LBUTTONDOWN; mk |= MK_LBUTTON; break;
        case event::UP: m.message = WM_LBUTTONUP; break;
        case event::MID_DOWN: m.message = WM_MBUTTONDOWN; mk |= MK_MBUTTON; break;
        case event::MID_UP: m.message = WM_MBUTTONUP; break;
        case event::ALT_DOWN: m.message = WM_RBUTTONDOWN; mk |= MK_RBUTTON; break;
        case event::ALT_UP: m.message = WM_RBUTTONUP; break;
        case event::AUX_DOWN: m.message = WM_XBUTTONDOWN; mk |= 0x10020; break;
        case event::AUX_UP: m.message = WM_XBUTTONUP; mk |= 0x10000; break;
        case event::DBL_CLICK: m.message = WM_LBUTTONDBLCLK; mk |= MK_LBUTTON; break;
        case event::WHEEL: m.message = WM_MOUSEWHEEL; break;
        case event::OVER: m.message = (flags & EVT_AWAY) ? WM_MOUSELEAVE : WM_MOUSEMOVE; break;
        case event::KEY: m.message = WM_CHAR; key = true; break;
        case event::KEY_DOWN: m.message = WM_KEYDOWN; key = true; break;
        case event::KEY_UP: m.message = WM_KEYUP; key = true; break;
        default: return;
    }
    if (key) {
        const uint32_t ch = flags & EVT_DATA_MASK;
        m.wparam = type == event::KEY ? ch : (keyboard::vk_for_char(ch) & 0xFF);
    } else {
        const Cell off = event::get_field(ev, 4);
        double ox = 0, oy = 0;
        if (off.type() == TYPE_PAIR) {
            ox = int32_t(off.w2);
            oy = int32_t(off.w3);
        } else if (off.type() == TYPE_POINT2D) {
            ox = point::coord(&off, 0);
            oy = point::coord(&off, 1);
        }
        int32_t x = to_pixels(ox), y = to_pixels(oy);
        if (type == event::WHEEL) {
            windows::client_to_screen(h, &x, &y);
            const Cell picked = event::get_field(ev, 6);
            if (picked.type() == TYPE_INTEGER) mk += uint32_t(int32_t(picked.w2)) * 0x780000u;
        }
        m.wparam = mk;
        m.lparam = pack_point(x, y);
        if (m.message == WM_MOUSEMOVE) last_mouse = -1;
    }
    int32_t sx = lo16(m.lparam), sy = hi16(m.lparam);
    if (!key && type != event::WHEEL) windows::client_to_screen(h, &sx, &sy);
    m.pt_x = sx;
    m.pt_y = sy;
    m.state = (flags & (EVT_KEYS | EVT_BUTTONS));
    if (post) {
        queue::post_msg(m);
        return;
    }
    const int32_t saved = flags_override;
    if (key) flags_override = int32_t(flags & 0x73C00000u);
    keyboard::set_state(m.state);
    process_message(&m);
    flags_override = saved;
}

void reset() {
    depth = pending = 0;
    flags_override = -1;
    last_mouse = -1;
    hover = 0;
    ime_active = false;
    current = nullptr;
    event::key_code = -1;
    event::surrogate = 0;
}

}  // namespace kiv::gui::loop
