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
#include "gui/window/control_hooks.h"
#include "gui/window/dialog_hooks.h"
#include "gui/window/display.h"
#include "gui/window/event.h"
#include "gui/window/loop.h"
#include "gui/window/timers.h"
#include "gui/window/window_proc.h"
#include "gui/window/windows.h"
#include "gui/window/paint.h"
#include "gui/window/view.h"
#include "gui/draw/draw_context.h"
#include "gui/draw/draw_image.h"
#include "gui/text/routines.h"
#include "gui/text/text.h"
#include "datatypes/datatype.h"
#include "datatypes/ownership.h"
#include "datatypes/tuple.h"
#include "library/library.h"
#include "library/routines.h"
#include "platform/console_output.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/stack.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui {

using routine::arg;
using routine::result;

namespace {

Hwnd handle_arg(const Cell& c) {
    return c.type() == TYPE_HANDLE ? handle::get(&c) : 0;
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

// ---- The routines of system/view/platform, in the order of its words ---------------------------

// mouse-event? event: whether the event comes from the mouse (a button,
// the wheel, or the pointer moving over or away).
template <class A>
Unwind mouse_event_q(A a) {
    const Cell ev = arg<"event">(a);
    const uint32_t t = ev.w1;
    result(a) = logic::cell(t >= event::DOWN && t <= event::OVER);
    return UNWIND_NONE;
}

template <class A>
Unwind make_null_handle(A a) {
    result(a) = handle::cell(0, handle::CLASS_NULL);
    return UNWIND_NONE;
}

// One block per screen: [offset size-in-pixels scale handle]. Without a
// display there is one virtual screen.
template <class A>
Unwind fetch_all_screens(A a) {
    view::start();
    Cell* saved = stack::top;
    Cell* list = stack::push(none::cell());
    block::make_at(list, 2);
    Cell* one = stack::push(none::cell());
    block::make_at(one, 4);
    int32_t w, h;
    display::screen_size(&w, &h);
    const Cell values[4] = {Cell{TYPE_PAIR, 0, 0, 0}, Cell{TYPE_PAIR, 0, uint32_t(w), uint32_t(h)},
                            float_::cell(scale_factor), handle::cell(1, handle::CLASS_MONITOR)};
    for (const Cell& v : values) block::cells_append(one, &v);
    block::cells_append(list, one);
    result(a) = *list;
    stack::top = saved;
    return UNWIND_NONE;
}

template <class A>
Unwind get_current_screen(A a) {
    result(a) = handle::cell(1, handle::CLASS_MONITOR);
    return UNWIND_NONE;
}

// The screen's size in logical units (integer division by the scale).
template <class A>
Unwind get_screen_size(A a) {
    view::start();
    int32_t w, h;
    display::screen_size(&w, &h);
    const int32_t dpi = int32_t(std::lround(scale_factor * 96.0));
    result(a) = Cell{TYPE_PAIR, 0, uint32_t(w * 96 / dpi), uint32_t(h * 96 / dpi)};
    return UNWIND_NONE;
}

template <class A>
Unwind size_text(A a) {
    result(a) = text::text_size(arg<"face">(a), arg<"value">(a));
    return UNWIND_NONE;
}

// on-change-facet: a series change inside a facet. A changed pane orders
// the windows of its faces again; any other change repaints the face.
template <class A>
Unwind on_change_facet(A a) {
    Cell owner = arg<"owner">(a);
    const Cell word = arg<"word">(a);
    const Hwnd h = face_handle_q(&owner);
    if (windows::alive(h)) {
        Cell pane = word::load("pane");
        if (symbol::resolve(word.w2) == symbol::resolve(pane.w2)) {
            Cell* st = face_slot(&owner, FACET_STATE);
            if (st && st->type() == TYPE_BLOCK && block::cells_length(st) >= 2) {
                Cell* flags = block::cells_at(st, st->w1 + 1);
                if (flags->type() == TYPE_INTEGER)
                    *flags = integer::cell(int32_t(uint32_t(integer::get(flags)) | (1u << FACET_PANE)));
            }
            view::update_view(&owner);
        } else {
            paint::invalidate(h);
            // A control follows a series of its facets changed in place.
            const uint32_t changed = symbol::resolve(word.w2);
            for (uint32_t i = 0; i < FACET_COUNT; ++i) {
                Cell name = word::load(FACET_NAMES[i]);
                if (symbol::resolve(name.w2) == changed && control_hooks::facets) {
                    control_hooks::facets(h, &owner, 1u << i);
                    break;
                }
            }
        }
    }
    result(a) = none::cell();
    return UNWIND_NONE;
}

// update-text: the face's text is already what its window shows (the
// layer's controls read it from the face).
template <class A>
Unwind update_text(A a) {
    result(a) = none::cell();
    return UNWIND_NONE;
}

// update-font: every face that uses the font (the font's `parent` block) repaints.
template <class A>
Unwind update_font(A a) {
    Cell font = arg<"font">(a);
    const Cell index = arg<"flags">(a);
    text::prepare();
    text::update_font(font, integer::get(&index));  // its cached resources go
    Cell* saved = stack::top;
    const Cell* parents = face_value_slot(&font, 9);  // name size style angle color anti-alias? shadow state parent
    if (parents && parents->type() == TYPE_BLOCK) {
        Cell* blk = stack::push(*parents);
        for (uint32_t i = 0; i < block::cells_length(blk); ++i) {
            const Cell f = *block::cells_at(blk, blk->w1 + i);
            if (const Hwnd h = face_handle_q(&f)) paint::invalidate(h);
        }
    }
    stack::top = saved;
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind update_para(A a) {
    Cell face = arg<"face">(a);
    text::mark_para(face);
    if (const Hwnd h = face_handle_q(&face)) paint::invalidate(h);
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind destroy_view(A a) {
    Cell face = arg<"face">(a);
    const bool empty = arg<"empty?">(a).type() == TYPE_LOGIC && arg<"empty?">(a).w1 != 0;
    view::destroy_view(&face, empty);
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind detach_image(A a) {
    ownership::unbind(&arg<"img">(a));
    result(a) = none::cell();
    return UNWIND_NONE;
}

// update-view: a face, or a block of faces (every value an object, checked
// before any face is updated).
template <class A>
Unwind update_view(A a) {
    Cell v = arg<"face">(a);
    if (v.type() == TYPE_BLOCK) {
        const uint32_t n = block::cells_length(&v);
        for (uint32_t i = 0; i < n; ++i) {
            const Cell f = *block::cells_at(&v, v.w1 + i);
            if (f.type() != TYPE_OBJECT) fire({"script", "invalid-type"}, datatype::cell(f.type()));
        }
        for (uint32_t i = 0; i < block::cells_length(&v); ++i) {
            const Cell f = *block::cells_at(&v, v.w1 + i);
            view::update_view(&f);
        }
    } else if (v.type() == TYPE_OBJECT) {
        view::update_view(&v);
    } else {
        fire({"script", "invalid-type"}, datatype::cell(v.type()));
    }
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind refresh_window(A a) {
    paint::update_window(handle_arg(arg<"h">(a)));
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind redraw(A a) {
    Cell face = arg<"face">(a);
    if (const Hwnd h = face_handle_q(&face); windows::alive(h)) {
        paint::invalidate(h);
        paint::update_window(h);
    }
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind show_window(A a) {
    view::show_window(handle_arg(arg<"id">(a)));
    result(a) = none::cell();
    return UNWIND_NONE;
}

// make-view face parent: the window of the face (a class-3 handle!).
template <class A>
Unwind make_view(A a) {
    Cell face = arg<"face">(a);
    const Hwnd h = view::make_view(&face, handle_arg(arg<"parent">(a)));
    result(a) = handle::cell(h, handle::CLASS_WINDOW);
    return UNWIND_NONE;
}

// draw-image: Draw's own routine (gui/draw).
template <class A>
Unwind draw_image(A a) {
    return draw::TABLE.rows[0].fn(a.base);
}

// draw-face face cmds: draws on the face while its `drawing` event runs.
template <class A>
Unwind draw_face(A a) {
    Cell face = arg<"face">(a);
    (void)view::get_flags(face_slot(&face, FACET_FLAGS));
    const Hwnd h = face_handle_q(&face);
    cairo_surface_t* s = paint::drawing_target(h);
    result(a) = none::cell();
    if (!s) return UNWIND_NONE;
    Cell* cmds = stack::push(arg<"cmds">(a));
    cairo_surface_set_device_scale(s, scale_factor, scale_factor);
    const Unwind code = draw::run_pass(s, *cmds, true, 0);
    cairo_surface_set_device_scale(s, 1, 1);
    return code;
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

// The scroll bars are another part of the backend; until they are there
// update-scroller answers none.
template <class A>
Unwind answer_none(A a) {
    result(a) = none::cell();
    return UNWIND_NONE;
}

bool flag_arg(const Cell& c) {
    return c.type() == TYPE_LOGIC && c.w1 != 0;
}

// request-font, request-file, request-dir: the dialogs (none until the
// dialog layer is installed).
template <class A>
Unwind request_font(A a) {
    Cell font = arg<"font">(a);
    const Cell selected = arg<"selected">(a);
    result(a) = dialog_hooks::request_font ? dialog_hooks::request_font(&font, &selected, flag_arg(arg<"mono?">(a)))
                                           : none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind request_file(A a) {
    const Cell title = arg<"title">(a), name = arg<"name">(a), filter = arg<"filter">(a);
    result(a) = dialog_hooks::request_file ? dialog_hooks::request_file(&title, &name, &filter, flag_arg(arg<"save?">(a)),
                                                                        flag_arg(arg<"multi?">(a)))
                                           : none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind request_dir(A a) {
    const Cell title = arg<"title">(a), dir = arg<"dir">(a), filter = arg<"filter">(a);
    result(a) = dialog_hooks::request_dir ? dialog_hooks::request_dir(&title, &dir, &filter, flag_arg(arg<"keep?">(a)),
                                                                      flag_arg(arg<"multi?">(a)))
                                          : none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind text_box_metrics(A a) {
    const Cell type = arg<"type">(a);
    result(a) = text::box_metrics(arg<"box">(a), arg<"arg0">(a), integer::get(&type));
    return UNWIND_NONE;
}

template <class A>
Unwind set_dark_mode(A a) {
    Cell face = arg<"face">(a);
    view::set_dark(face_handle_q(&face), arg<"dark?">(a).w1 != 0);
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind support_dark_mode_q(A a) {
    result(a) = logic::cell(true);
    return UNWIND_NONE;
}

// toggle-GPU: the backing surfaces are made again and every window repaints.
template <class A>
Unwind toggle_gpu(A a) {
    paint::release_all();
    for (Hwnd h : windows::top_levels()) paint::invalidate(h);
    result(a) = none::cell();
    return UNWIND_NONE;
}

// ---- The layer's own routines (the object load-gui returns) ---------------------------------

// start-backend: opens the display when there is one (headless otherwise)
// and answers [dpi scroller-size version build product].
template <class A>
Unwind start_backend(A a) {
    view::start();
    Cell* saved = stack::top;
    Cell* b = stack::push(none::cell());
    block::make_at(b, 5);
    const int32_t dpi = int32_t(std::lround(scale_factor * 96.0));
    uint8_t version[12] = {10, 0, 0};
    const Cell values[5] = {integer::cell(dpi), Cell{TYPE_PAIR, 0, uint32_t(to_pixels(17)), uint32_t(to_pixels(17))},
                            tuple::make(version, 3), integer::cell(0), integer::cell(1)};
    for (const Cell& v : values) block::cells_append(b, &v);
    result(a) = *b;
    stack::top = saved;
    return UNWIND_NONE;
}

// set-timer id rate: the face timer of a window (see view::set_timer).
template <class A>
Unwind set_timer(A a) {
    const Hwnd h = handle_arg(arg<"id">(a));
    if (!windows::alive(h)) fire({"script", "invalid-arg"}, arg<"id">(a));
    const Cell rate = arg<"rate">(a);
    view::set_timer(h, &rate);
    result(a) = none::cell();
    return UNWIND_NONE;
}

template <class A>
Unwind timer_period(A a) {
    const Cell rate = arg<"rate">(a);
    const double ms = view::timer_period(&rate);
    if (ms == -2) fire({"script", "invalid-facet-type"}, rate);
    result(a) = ms < 0 ? none::cell() : float_::cell(ms);
    return UNWIND_NONE;
}

template <class A>
Unwind face_to_image(A a) {
    Cell face = arg<"face">(a);
    Cell* out = stack::push(none::cell());
    view::face_to_image(&face, out);
    result(a) = *out;
    return UNWIND_NONE;
}

template <class A>
Unwind window_style(A a) {
    const Window* w = windows::get(handle_arg(arg<"id">(a)));
    result(a) = integer::cell(w ? int32_t(w->style) : 0);
    return UNWIND_NONE;
}

template <class A>
Unwind paint_count(A a) {
    result(a) = integer::cell(int32_t(paint::paint_count));
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

// The platform routines: first those of system/view/platform in the order
// of its words (the engine's init in gui/engine/view.kiv copies them into that object), then
// the layer's own. This is the object `load-gui` returns.
const routine::Row PLATFORM_ROWS[] = {
    KIV_ROUTINE("mouse-event?", "[event [event!] return: [logic!]]", mouse_event_q),
    KIV_ROUTINE("make-null-handle", "[return: [handle!]]", make_null_handle),
    KIV_ROUTINE("fetch-all-screens", "[return: [block!]]", fetch_all_screens),
    KIV_ROUTINE("get-current-screen", "[return: [handle!]]", get_current_screen),
    KIV_ROUTINE("get-screen-size", "[id [integer!] return: [pair!]]", get_screen_size),
    KIV_ROUTINE("size-text", "[face [object!] value [any-type!]]", size_text),
    KIV_ROUTINE("on-change-facet", "[owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] index [integer!] part [integer!]]", on_change_facet),
    KIV_ROUTINE("update-text", "[face [object!]]", update_text),
    KIV_ROUTINE("update-font", "[font [object!] flags [integer!]]", update_font),
    KIV_ROUTINE("update-para", "[face [object!] flags [integer!]]", update_para),
    KIV_ROUTINE("destroy-view", "[face [object!] empty? [logic!]]", destroy_view),
    KIV_ROUTINE("detach-image", "[img [image!]]", detach_image),
    KIV_ROUTINE("update-view", "[face [any-type!]]", update_view),
    KIV_ROUTINE("refresh-window", "[h [handle!]]", refresh_window),
    KIV_ROUTINE("redraw", "[face [object!]]", redraw),
    KIV_ROUTINE("show-window", "[id [handle!]]", show_window),
    KIV_ROUTINE("make-view", "[face [object!] parent [handle!] return: [handle!]]", make_view),
    KIV_ROUTINE("draw-image", "[image [image!] cmds [block!]]", draw_image),
    KIV_ROUTINE("draw-face", "[face [object!] cmds [block!]]", draw_face),
    KIV_ROUTINE("do-event-loop", "[no-wait? [logic!] return: [logic!]]", do_event_loop),
    KIV_ROUTINE("exit-event-loop", "[]", exit_event_loop),
    KIV_ROUTINE("request-font", "[font [object!] selected [any-type!] mono? [logic!]]", request_font),
    KIV_ROUTINE("request-file", "[title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]]", request_file),
    KIV_ROUTINE("request-dir", "[title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]]", request_dir),
    KIV_ROUTINE("text-box-metrics", "[box [object!] arg0 [any-type!] type [integer!]]", text_box_metrics),
    KIV_ROUTINE("update-scroller", "[scroller [object!] flags [integer!]]", answer_none),
    KIV_ROUTINE("set-dark-mode", "[face [object!] dark? [logic!]]", set_dark_mode),
    KIV_ROUTINE("support-dark-mode?", "[return: [logic!]]", support_dark_mode_q),
    KIV_ROUTINE("toggle-GPU", "[]", toggle_gpu),
    // The layer's own.
    KIV_ROUTINE("start-backend", "[return: [block!]]", start_backend),
    KIV_ROUTINE("make-window", "[face [object!] parent [handle!] return: [handle!]]", make_view),
    KIV_ROUTINE("set-timer", "[id [handle!] rate [any-type!]]", set_timer),
    KIV_ROUTINE("timer-period", "[rate [any-type!]]", timer_period),
    KIV_ROUTINE("face-to-image", "[face [object!]]", face_to_image),
    KIV_ROUTINE("window-style", "[id [handle!] return: [integer!]]", window_style),
    KIV_ROUTINE("paint-count", "[return: [integer!]]", paint_count),
    KIV_ROUTINE("window-face", "[id [handle!]]", window_face),
    KIV_ROUTINE("child-at", "[id [handle!] point [pair! point2D!] return: [handle!]]", child_at_routine),
    KIV_ROUTINE("to-pixels", "[value [integer! float!] return: [integer!]]", to_pixels_routine),
    KIV_ROUTINE("to-logical", "[value [integer!] return: [float!]]", to_logical_routine),
    KIV_ROUTINE("window-xid", "[id [handle!] return: [integer!]]", window_xid),
    KIV_ROUTINE("send-event", "[event [event!] post? [logic!]]", send_event),
    KIV_ROUTINE("loop-state", "[return: [block!]]", loop_state),
    KIV_ROUTINE("register-class", "[spec [block!]]", register_class),
};


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
    view::start();
    Cell* saved = stack::top;
    Cell obj = *library::routines::push_table_object(PLATFORM_TABLE);
    result(a) = obj;
    stack::top = saved;
    return UNWIND_NONE;
}

// load-engine: runs the GUI engine's modules (once) without opening the
// display, for what works headless, such as layout.
template <class A>
Unwind load_engine(A a) {
    library::need_group(library::Group::ENGINE);
    result(a) = none::cell();
    return UNWIND_NONE;
}

const routine::Row GUI_ROWS[] = {
    KIV_ROUTINE("load-engine", "[\"Internal Use Only\"]", load_engine),
    KIV_ROUTINE("load-gui",
                "[\"Opens the display and returns the window layer's platform routines\" return: [object!]]",
                load_gui),
};

}  // namespace

const routine::Table GUI_TABLE = routine::table("gui", GUI_ROWS, true);

}  // namespace kiv::gui
