#include "gui/backend/platform.h"

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
#include "gui/backend/accessors.h"
#include "gui/backend/classes.h"
#include "gui/backend/clipboard.h"
#include "gui/backend/display.h"
#include "gui/backend/event.h"
#include "gui/backend/loop.h"
#include "gui/backend/timers.h"
#include "gui/backend/window_proc.h"
#include "gui/backend/windows.h"
#include "library/library.h"
#include "library/routines.h"
#include "platform/console_output.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/stack.h"

namespace kiv::gui {

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

Unwind make_null_handle(Cell* a) {
    a[0] = handle::cell(0, handle::CLASS_NULL);
    return UNWIND_NONE;
}

Unwind do_event_loop(Cell* a) {
    a[0] = logic::cell(loop::do_events(a[0].type() == TYPE_LOGIC && a[0].w1 != 0));
    return UNWIND_NONE;
}

Unwind exit_event_loop(Cell* a) {
    loop::request_quit();
    a[0] = none::cell();
    return UNWIND_NONE;
}

// make-window face parent: the face's `type` picks the class (`window`: a
// top-level KivWindow; `panel`: KivPanel; `text`: KivFace; a type of the
// widget table: its class; anything else: KivBase), `offset` and `size`
// the place, `text` the title.
Unwind make_window(Cell* a) {
    Cell face = a[0];
    const Hwnd parent = handle_arg(a[1]);
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
        fire({"script", "invalid-arg"}, a[1]);
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
        fire({"script", "invalid-arg"}, a[0]);
    }
    a[0] = handle::cell(win, handle::CLASS_WINDOW);
    return UNWIND_NONE;
}

Unwind show_window(Cell* a) {
    const Hwnd h = handle_arg(a[0]);
    windows::set_slot(h, SLOT_HIDDEN, 0);
    windows::show(h, true);
    a[0] = none::cell();
    return UNWIND_NONE;
}

// destroy-view face empty?: the face's window goes; when it was the last
// window of a running loop (empty?), that loop is asked to end.
Unwind destroy_view(Cell* a) {
    Cell face = a[0];
    const bool empty = a[1].type() == TYPE_LOGIC && a[1].w1 != 0;
    const Hwnd h = face_handle_q(&face);
    if (windows::alive(h)) windows::destroy(h);
    if (empty) loop::request_quit();
    a[0] = none::cell();
    return UNWIND_NONE;
}

// set-timer id rate: an integer is a count per second, a float a count
// per second too, a time! the period; none stops the timer.
Unwind set_timer(Cell* a) {
    const Hwnd h = handle_arg(a[0]);
    const Cell rate = a[1];
    double ms = -1;
    if (rate.type() == TYPE_INTEGER && integer::get(&rate) > 0) ms = 1000.0 / integer::get(&rate);
    if (rate.type() == TYPE_FLOAT && rate.get_f64() > 0) ms = 1000.0 / rate.get_f64();
    if (rate.type() == TYPE_TIME && rate.get_f64() > 0) ms = rate.get_f64() * 1000.0;
    if (!windows::alive(h)) fire({"script", "invalid-arg"}, a[0]);
    if (ms < 0 || !std::isfinite(ms)) {
        timers::kill(h, FACE_TIMER_ID);
    } else {
        timers::set(h, FACE_TIMER_ID, uint32_t(std::min(ms, 2147483647.0)), loop::timer_proc);
    }
    a[0] = none::cell();
    return UNWIND_NONE;
}

Unwind window_face(Cell* a) {
    a[0] = window_face_cell(handle_arg(a[0]));
    return UNWIND_NONE;
}

Unwind child_at_routine(Cell* a) {
    const Hwnd h = handle_arg(a[0]);
    int32_t x, y;
    pixels_of(&a[1], &x, &y);
    a[0] = handle::cell(child_at(h, x, y), handle::CLASS_WINDOW);
    return UNWIND_NONE;
}

Unwind to_pixels_routine(Cell* a) {
    const double v = a[0].type() == TYPE_INTEGER ? double(integer::get(&a[0])) : a[0].get_f64();
    a[0] = integer::cell(to_pixels(v));
    return UNWIND_NONE;
}

Unwind to_logical_routine(Cell* a) {
    a[0] = float_::cell(to_logical(integer::get(&a[0])));
    return UNWIND_NONE;
}

Unwind window_xid(Cell* a) {
    const Window* w = windows::get(handle_arg(a[0]));
    a[0] = integer::cell(w ? int32_t(display::xid(w->native)) : 0);
    return UNWIND_NONE;
}

Unwind send_event(Cell* a) {
    Cell ev = a[0];
    loop::send_os_event(&ev, a[1].type() == TYPE_LOGIC && a[1].w1 != 0);
    a[0] = none::cell();
    return UNWIND_NONE;
}

Unwind loop_state(Cell* a) {
    Cell* saved = stack::top;
    Cell* b = stack::push(none::cell());
    block::make_at(b, 2);
    Cell d = integer::cell(loop::depth), p = integer::cell(loop::pending);
    block::cells_append(b, &d);
    block::cells_append(b, &p);
    a[0] = *b;
    stack::top = saved;
    return UNWIND_NONE;
}

// register-class spec: existing class, new class (0: none), type word,
// ex-style, style, menu, procedure, hook. A procedure or hook can only be
// given from native code here: from the language they must be 0 or none.
Unwind register_class(Cell* a) {
    Cell spec = a[0];
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
        a[0] = none::cell();
        return UNWIND_NONE;
    }
    const std::string existing = library::to_utf8(v[0]);
    const std::string fresh = is_zero(v[1]) ? std::string() : library::to_utf8(v[1]);
    classes::register_widget(existing.c_str(), fresh.c_str(), symbol::resolve(v[2].w2), uint32_t(integer::get(&v[3])),
                             uint32_t(integer::get(&v[4])), integer::get(&v[5]), nullptr, nullptr);
    a[0] = none::cell();
    return UNWIND_NONE;
}

struct Entry {
    const char* name;
    const char* spec;
    routine::Fn fn;
};
const Entry ENTRIES[] = {
    {"make-null-handle", "[return: [handle!]]", make_null_handle},
    {"do-event-loop", "[no-wait? [logic!] return: [logic!]]", do_event_loop},
    {"exit-event-loop", "[]", exit_event_loop},
    {"make-window", "[face [object!] parent [handle!] return: [handle!]]", make_window},
    {"show-window", "[id [handle!]]", show_window},
    {"destroy-view", "[face [object!] empty? [logic!]]", destroy_view},
    {"set-timer", "[id [handle!] rate [integer! float! time! none!]]", set_timer},
    {"window-face", "[id [handle!]]", window_face},
    {"child-at", "[id [handle!] point [pair! point2D!] return: [handle!]]", child_at_routine},
    {"to-pixels", "[value [integer! float!] return: [integer!]]", to_pixels_routine},
    {"to-logical", "[value [integer!] return: [float!]]", to_logical_routine},
    {"window-xid", "[id [handle!] return: [integer!]]", window_xid},
    {"send-event", "[event [event!] post? [logic!]]", send_event},
    {"loop-state", "[return: [block!]]", loop_state},
    {"register-class", "[spec [block!]]", register_class},
};

bool classes_ready = false;

}  // namespace

Unwind load_gui(Cell* a) {
    library::need_group(library::Group::ENGINE);  // the GUI engine's modules, once
    std::string reason;
    if (!display::open(&reason)) {
        Cell* saved = stack::top;
        Cell* what = string::load_push(reinterpret_cast<const uint8_t*>(reason.data()), uint32_t(reason.size()),
                                       string::ENC_UTF8);
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
    Cell* spec = stack::push(none::cell());
    constexpr uint32_t count = sizeof ENTRIES / sizeof ENTRIES[0];
    block::make_at(spec, int32_t(count * 2));
    for (const Entry& e : ENTRIES) {
        Cell name = word::load(e.name);
        name.set_type(TYPE_SET_WORD);
        block::cells_append(spec, &name);
        Cell* fn = library::routines::push_routine(e.name, e.spec, e.fn);
        block::cells_append(spec, fn);
        stack::top = fn;
    }
    Cell* obj = object::construct(spec, nullptr, true);
    a[0] = *obj;
    stack::top = saved;
    return UNWIND_NONE;
}

}  // namespace kiv::gui
