#include "gui/window/platform.h"

#include <cmath>
#include <string>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/window/accessors.h"
#include "gui/window/classes.h"
#include "gui/window/clipboard.h"
#include "gui/window/display.h"
#include "gui/window/event.h"
#include "gui/window/loop.h"
#include "gui/window/timers.h"
#include "gui/window/window_proc.h"
#include "gui/window/windows.h"
#include "library/library.h"
#include "library/routines.h"
#include "platform/console_output.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/stack.h"

namespace kiv::gui {

using routine::arg;
using routine::result;

namespace {

constexpr uint32_t FACE_TIMER_ID = 1;

Hwnd handle_arg(const Cell& c) {
    return c.type() == TYPE_HANDLE ? handle::get(&c) : 0;
}

bool word_named(const Cell* v, const char* name) {
    if (!v || v->type() != TYPE_WORD) return false;
    Cell w = word::load(name);
    return symbol::resolve(v->w2) == symbol::resolve(w.w2);
}

// A pair! or point2D! field in pixels.
void pixels_of(const Cell* v, int32_t* x, int32_t* y) {
    *x = *y = 0;
    if (!v) return;
    if (v->type() == TYPE_PAIR) {
        *x = to_pixels(int32_t(v->w2));
        *y = to_pixels(int32_t(v->w3));
    } else if (v->type() == TYPE_POINT2D) {
        *x = to_pixels(point::coord(v, 0));
        *y = to_pixels(point::coord(v, 1));
    }
}

// ---- Routines ---------------------------------------------------------------------------------

template <class A>
Unwind make_null_handle(A a) {
    result(a) = handle::cell(0, handle::CLASS_NULL);
    return UNWIND_NONE;
}

template <class A>
Unwind do_event_loop(A a) {
    result(a) =
        logic::cell(loop::do_events(arg<"no-wait?">(a).type() == TYPE_LOGIC && arg<"no-wait?">(a).w1 != 0));
    return UNWIND_NONE;
}

template <class A>
Unwind exit_event_loop(A a) {
    loop::request_quit();
    result(a) = none::cell();
    return UNWIND_NONE;
}

// make-window face parent: the face's `type` picks the class (`window`: a
// top-level KivWindow; `panel`: KivPanel; `text`: KivFace; a type of the
// widget table: its class; anything else: KivBase), `offset` and `size`
// the place, `text` the title.
template <class A>
Unwind make_window(A a) {
    Cell face = arg<"face">(a);
    const Hwnd parent = handle_arg(arg<"parent">(a));
    const Cell* type = face_field(&face, "type");
    const char* cls = "KivBase";
    uint32_t style = WS_CHILD | WS_VISIBLE;
    std::string class_name;
    if (word_named(type, "window")) {
        cls = "KivWindow";
        style = 0;
    } else if (word_named(type, "panel")) {
        cls = "KivPanel";
    } else if (word_named(type, "text")) {
        cls = "KivFace";
    } else if (type && type->type() == TYPE_WORD) {
        if (const classes::Widget* w = classes::find_widget(symbol::resolve(type->w2))) {
            class_name = w->class_name;
            cls = class_name.c_str();
            style |= w->style;
        }
    }
    if (!(style & WS_CHILD) && parent == 0) {
        // top-level: fine
    } else if (!windows::alive(parent)) {
        fire({"script", "invalid-arg"}, arg<"parent">(a));
    }
    int32_t x, y, w, h;
    pixels_of(face_field(&face, "offset"), &x, &y);
    pixels_of(face_field(&face, "size"), &w, &h);
    std::string title;
    if (const Cell* text = face_field(&face, "text"); text && is_any_string(text->type())) title = library::to_utf8(*text);
    const uint32_t slot = slots::alloc(face);
    const Hwnd win = windows::create(0, cls, title.c_str(), style, x, y, w, h, parent, int32_t(slot));
    if (!win) {
        slots::release(slot);
        fire({"script", "invalid-arg"}, arg<"face">(a));
    }
    result(a) = handle::cell(win, handle::CLASS_WINDOW);
    return UNWIND_NONE;
}

template <class A>
Unwind show_window(A a) {
    const Hwnd h = handle_arg(arg<"id">(a));
    windows::set_slot(h, SLOT_HIDDEN, 0);
    windows::show(h, true);
    result(a) = none::cell();
    return UNWIND_NONE;
}

// destroy-view face empty?: the face's window goes; when it was the last
// window of a running loop (empty?), that loop is asked to end.
template <class A>
Unwind destroy_view(A a) {
    Cell face = arg<"face">(a);
    const bool empty = arg<"empty?">(a).type() == TYPE_LOGIC && arg<"empty?">(a).w1 != 0;
    const Hwnd h = face_handle_q(&face);
    if (windows::alive(h)) windows::destroy(h);
    if (empty) loop::request_quit();
    result(a) = none::cell();
    return UNWIND_NONE;
}

// set-timer id rate: an integer is a count per second, a float a count
// per second too, a time! the period; none stops the timer.
template <class A>
Unwind set_timer(A a) {
    const Hwnd h = handle_arg(arg<"id">(a));
    const Cell rate = arg<"rate">(a);
    double ms = -1;
    if (rate.type() == TYPE_INTEGER && integer::get(&rate) > 0) ms = 1000.0 / integer::get(&rate);
    if (rate.type() == TYPE_FLOAT && rate.get_f64() > 0) ms = 1000.0 / rate.get_f64();
    if (rate.type() == TYPE_TIME && rate.get_f64() > 0) ms = rate.get_f64() * 1000.0;
    if (!windows::alive(h)) fire({"script", "invalid-arg"}, arg<"id">(a));
    if (ms < 0 || !std::isfinite(ms)) {
        timers::kill(h, FACE_TIMER_ID);
    } else {
        timers::set(h, FACE_TIMER_ID, uint32_t(std::min(ms, 2147483647.0)), loop::timer_proc);
    }
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind window_face(A a) {
    result(a) = window_face_cell(handle_arg(arg<"id">(a)));
    return UNWIND_NONE;
}

template <class A>
Unwind child_at_routine(A a) {
    const Hwnd h = handle_arg(arg<"id">(a));
    int32_t x, y;
    pixels_of(&arg<"point">(a), &x, &y);
    result(a) = handle::cell(child_at(h, x, y), handle::CLASS_WINDOW);
    return UNWIND_NONE;
}

template <class A>
Unwind to_pixels_routine(A a) {
    const double v = arg<"value">(a).type() == TYPE_INTEGER ? double(integer::get(&arg<"value">(a)))
                                                            : arg<"value">(a).get_f64();
    result(a) = integer::cell(to_pixels(v));
    return UNWIND_NONE;
}

template <class A>
Unwind to_logical_routine(A a) {
    result(a) = float_::cell(to_logical(integer::get(&arg<"value">(a))));
    return UNWIND_NONE;
}

template <class A>
Unwind window_xid(A a) {
    const Window* w = windows::get(handle_arg(arg<"id">(a)));
    result(a) = integer::cell(w ? int32_t(display::xid(w->native)) : 0);
    return UNWIND_NONE;
}

template <class A>
Unwind send_event(A a) {
    Cell ev = arg<"event">(a);
    loop::send_os_event(&ev, arg<"post?">(a).type() == TYPE_LOGIC && arg<"post?">(a).w1 != 0);
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind loop_state(A a) {
    Cell* saved = stack::top;
    Cell* b = stack::push(none::cell());
    block::make_at(b, 2);
    Cell d = integer::cell(loop::depth), p = integer::cell(loop::pending);
    block::cells_append(b, &d);
    block::cells_append(b, &p);
    result(a) = *b;
    stack::top = saved;
    return UNWIND_NONE;
}

// register-class spec: existing class, new class (0: none), type word,
// ex-style, style, menu, procedure, hook. A procedure or hook can only be
// given from native code here: from the language they must be 0 or none.
template <class A>
Unwind register_class(A a) {
    Cell spec = arg<"spec">(a);
    const uint32_t n = block::cells_length(&spec);
    Cell v[8];
    bool ok = n == 8;
    for (uint32_t i = 0; ok && i < 8; ++i) v[i] = *block::cells_at(&spec, spec.w1 + i);
    auto is_zero = [](const Cell& c) {
        return c.type() == TYPE_NONE || (c.type() == TYPE_INTEGER && integer::get(&c) == 0);
    };
    if (ok) {
        ok = is_any_string(v[0].type()) && (is_zero(v[1]) || is_any_string(v[1].type())) &&
             v[2].type() == TYPE_WORD && v[3].type() == TYPE_INTEGER && v[4].type() == TYPE_INTEGER &&
             v[5].type() == TYPE_INTEGER && is_zero(v[6]) && is_zero(v[7]);
    }
    if (!ok) {
        console::print_cstring("gui/register-class error: invalid spec block\n");
        result(a) = none::cell();
        return UNWIND_NONE;
    }
    const std::string existing = library::to_utf8(v[0]);
    const std::string fresh = is_zero(v[1]) ? std::string() : library::to_utf8(v[1]);
    classes::register_widget(existing.c_str(), fresh.c_str(), symbol::resolve(v[2].w2), uint32_t(integer::get(&v[3])),
                             uint32_t(integer::get(&v[4])), integer::get(&v[5]), nullptr, nullptr);
    result(a) = none::cell();
    return UNWIND_NONE;
}

// The window layer's platform routines: the object `load-gui` returns.
const routine::Row PLATFORM_ROWS[] = {
    KIV_ROUTINE("make-null-handle", "[return: [handle!]]", make_null_handle),
    KIV_ROUTINE("do-event-loop", "[no-wait? [logic!] return: [logic!]]", do_event_loop),
    KIV_ROUTINE("exit-event-loop", "[]", exit_event_loop),
    KIV_ROUTINE("make-window", "[face [object!] parent [handle!] return: [handle!]]", make_window),
    KIV_ROUTINE("show-window", "[id [handle!]]", show_window),
    KIV_ROUTINE("destroy-view", "[face [object!] empty? [logic!]]", destroy_view),
    KIV_ROUTINE("set-timer", "[id [handle!] rate [integer! float! time! none!]]", set_timer),
    KIV_ROUTINE("window-face", "[id [handle!]]", window_face),
    KIV_ROUTINE("child-at", "[id [handle!] point [pair! point2D!] return: [handle!]]", child_at_routine),
    KIV_ROUTINE("to-pixels", "[value [integer! float!] return: [integer!]]", to_pixels_routine),
    KIV_ROUTINE("to-logical", "[value [integer!] return: [float!]]", to_logical_routine),
    KIV_ROUTINE("window-xid", "[id [handle!] return: [integer!]]", window_xid),
    KIV_ROUTINE("send-event", "[event [event!] post? [logic!]]", send_event),
    KIV_ROUTINE("loop-state", "[return: [block!]]", loop_state),
    KIV_ROUTINE("register-class", "[spec [block!]]", register_class),
};

bool classes_ready = false;

}  // namespace

const routine::Table PLATFORM_TABLE = routine::table("platform", PLATFORM_ROWS, false);

namespace {

template <class A>
Unwind load_gui(A a) {
    library::need_group(library::Group::ENGINE);  // the GUI engine's modules, once
    std::string reason;
    if (!display::open(&reason)) {
        Cell* saved = stack::top;
        Cell* what = string::load_push(reinterpret_cast<const uint8_t*>(reason.data()), uint32_t(reason.size()),
                                       string::ENC_SYSTEM);
        const Cell arg = *what;
        stack::top = saved;
        fire({"access", "cannot-open"}, arg);
    }
    if (!classes_ready) {
        classes::register_backend_classes(window_proc, window_proc);
        set_dpi(display::dpi());
        clipboard::install();
        classes_ready = true;
    }
    Cell* saved = stack::top;
    Cell obj = *library::routines::push_table_object(PLATFORM_TABLE);
    result(a) = obj;
    stack::top = saved;
    return UNWIND_NONE;
}

const routine::Row GUI_ROWS[] = {
    KIV_ROUTINE("load-gui",
                "[\"Opens the display and returns the window layer's platform routines\" return: [object!]]",
                load_gui),
};

}  // namespace

const routine::Table GUI_TABLE = routine::table("gui", GUI_ROWS, true);

}  // namespace kiv::gui
