// Sliders, progress bars and scrollers: a value between two ends.
//
// A progress bar and a slider show their `data` as a ratio (float! or
// percent! from 0 to 1; a slider's user moves give a percent!); vertical
// when taller than wide, counted from the bottom. A scroller keeps a
// position in a range of 0 to 100 with a page (its `selected` ratio, at
// least 10%): `data` is the position's ratio of the range (so at most 1
// less the page), `selected` the page's. The thumb of a scroller whose
// page fills the range stays at the start, with the ratio 0.0.

#include <algorithm>
#include <cmath>

#include "datatypes/float.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "gui/controls/controls.h"
#include "gui/window/accessors.h"
#include "gui/window/keyboard.h"
#include "gui/window/paint.h"
#include "gui/window/windows.h"
#include "runtime/stack.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::controls {

namespace {

constexpr double THUMB = 10;   // a slider's thumb length
constexpr double ARROWS = 16;  // a scroller's arrow squares
constexpr double RANGE = 100;
constexpr double STEP = 0.1;   // a scroller's line step without `steps`, of the range

double page_of(const Cell& face) {
    const double r = ratio_of(face_slot(&face, FACET_SELECTED));
    return RANGE * (r < 0 ? 0.1 : std::max(0.1, r));
}

// The ratio a position has in a range: 0.0 when the range has no room.
double position_ratio(double pos, double min, double max) {
    const double room = max - min;
    if (!(room > 0)) return 0.0;
    return std::clamp((pos - min) / room, 0.0, 1.0);
}

void store_data(Hwnd h, const Cell& value) {
    Cell face = face_of(h);
    if (Cell* d = face_slot(&face, FACET_DATA)) *d = value;
    paint::invalidate(h);
}

// A slider set to a ratio by the user.
void slide_to(Hwnd h, double r, uint32_t code) {
    r = std::clamp(r, 0.0, 1.0);
    Cell face = face_of(h);
    const double before = ratio_of(face_slot(&face, FACET_DATA));
    if (before == r) return;
    store_data(h, percent::cell(r));
    scroll(h, code);
}

// A scroller moved to a position of its range.
void scroll_to(Hwnd h, double pos, uint32_t code) {
    Cell face = face_of(h);
    const double page = page_of(face);
    const double top = std::max(0.0, RANGE - page);
    pos = std::clamp(pos, 0.0, top);
    const double r = position_ratio(pos, 0, RANGE);
    const Cell* d = face_slot(&face, FACET_DATA);
    if (d && d->type() == TYPE_FLOAT && d->get_f64() == r) return;
    store_data(h, float_::cell(r));
    scroll(h, code);
}

// A scroller's line step: its face's `steps` ratio (0..1), else a tenth.
double step_of(const Cell& face) {
    Cell* saved = stack::top;
    Cell* f = stack::push(face);
    const Cell name = word::load("steps");
    const double r = ratio_of(object::select_word(f, &name));
    stack::top = saved;
    return r > 0 ? r : STEP;
}

double scroller_pos(const Cell& face) {
    const double r = std::max(0.0, ratio_of(face_slot(&face, FACET_DATA)));
    return std::min(r * RANGE, std::max(0.0, RANGE - page_of(face)));
}

// A scroller's thumb: where it starts and how long it is (logical units
// along the bar).
void thumb_of(const Cell& face, double length, double* at, double* size) {
    const double track = std::max(0.0, length - 2 * ARROWS);
    const double page = page_of(face);
    *size = std::max(8.0, track * std::min(1.0, page / RANGE));
    const double top = std::max(0.0, RANGE - page);
    *at = ARROWS + (track - *size) * position_ratio(scroller_pos(face), 0, top);
}

void triangle(cairo_t* cr, double cx, double cy, int dir, bool vert) {
    // dir -1: towards the start, +1: towards the end.
    const double a = 4, b = 2.5 * dir;
    if (vert) {
        cairo_move_to(cr, cx - a, cy - b);
        cairo_line_to(cr, cx + a, cy - b);
        cairo_line_to(cr, cx, cy + b);
    } else {
        cairo_move_to(cr, cx - b, cy - a);
        cairo_line_to(cr, cx - b, cy + a);
        cairo_line_to(cr, cx + b, cy);
    }
    cairo_close_path(cr);
    cairo_fill(cr);
}

}  // namespace

void paint_range(cairo_t* cr, Hwnd h, const Cell& face, Kind kind, double w, double height) {
    const Palette& p = palette_of(h);
    const bool vert = height > w;
    const bool focused = windows::focus() == h;
    uint32_t bg;
    const bool coloured = face_colour(face, &bg);
    const double r = std::max(0.0, ratio_of(face_slot(&face, FACET_DATA)));
    if (kind == Kind::PROGRESS) {
        fill_rect(cr, 0, 0, w, height, coloured ? bg : p.track);
        const uint32_t bar = font_colour(face, 0x06B025);
        if (vert) fill_rect(cr, 1, 1 + (height - 2) * (1 - r), w - 2, (height - 2) * r, bar);
        else fill_rect(cr, 1, 1, (w - 2) * r, height - 2, bar);
        frame_rect(cr, 0, 0, w, height, p.edge);
        return;
    }
    if (kind == Kind::SLIDER) {
        if (coloured) fill_rect(cr, 0, 0, w, height, bg);
        const double len = (vert ? height : w) - THUMB;
        const double at = vert ? (1 - r) * len : r * len;
        if (vert) {
            fill_rect(cr, w / 2 - 2, THUMB / 2, 4, height - THUMB, p.track);
            fill_rect(cr, w / 2 - 2, at + THUMB / 2, 4, height - THUMB / 2 - at - THUMB / 2, p.accent);
            rounded_rect(cr, 2, at, w - 4, THUMB, 2);
        } else {
            fill_rect(cr, THUMB / 2, height / 2 - 2, w - THUMB, 4, p.track);
            fill_rect(cr, THUMB / 2, height / 2 - 2, at, 4, p.accent);
            rounded_rect(cr, at, 2, THUMB, height - 4, 2);
        }
        set_rgb(cr, state_of(h).drag_part == 1 ? p.face_down : p.accent);
        cairo_fill(cr);
        if (focused) focus_ring(cr, 0, 0, w, height, p.edge_dark);
        return;
    }
    // Scroller.
    const double length = vert ? height : w, breadth = vert ? w : height;
    fill_rect(cr, 0, 0, w, height, coloured ? bg : p.face);
    double at, size;
    thumb_of(face, length, &at, &size);
    set_rgb(cr, state_of(h).drag_part == 1 ? p.accent : p.edge_dark);
    if (vert) cairo_rectangle(cr, 2, at, breadth - 4, size);
    else cairo_rectangle(cr, at, 2, size, breadth - 4);
    cairo_fill(cr);
    set_rgb(cr, p.text);
    if (vert) {
        triangle(cr, breadth / 2, ARROWS / 2, -1, true);
        triangle(cr, breadth / 2, length - ARROWS / 2, 1, true);
    } else {
        triangle(cr, ARROWS / 2, breadth / 2, -1, false);
        triangle(cr, length - ARROWS / 2, breadth / 2, 1, false);
    }
    frame_rect(cr, 0, 0, w, height, p.edge);
}

int32_t range_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_MOUSEMOVE: {
            State& st = state_of(h);
            if (st.kind == Kind::PROGRESS) return 0;
            if (message == WM_MOUSEMOVE && (st.drag_part != 1 || !(wparam & MK_LBUTTON))) return 0;
            double w, height;
            logical_size(h, &w, &height);
            const bool vert = height > w;
            const double x = lo16(lparam) / scale_factor, y = hi16(lparam) / scale_factor;
            const double along = vert ? y : x, length = vert ? height : w;
            if (message != WM_MOUSEMOVE) {
                if (st.kind == Kind::SLIDER) windows::set_focus(h);
                if (!windows::alive(h)) return 0;
            }
            Cell face = face_of(h);
            if (st.kind == Kind::SLIDER) {
                // The thumb follows the pointer, from a press anywhere on it.
                const double r = (along - THUMB / 2) / std::max(1.0, length - THUMB);
                if (message != WM_MOUSEMOVE) {
                    st.drag_part = 1;
                    windows::set_capture(h);
                }
                slide_to(h, vert ? 1 - r : r, SB_THUMBTRACK);
                return 0;
            }
            double at, size;
            thumb_of(face, length, &at, &size);
            const double page = page_of(face), pos = scroller_pos(face);
            if (message == WM_MOUSEMOVE) {
                const double track = std::max(1.0, length - 2 * ARROWS - size);
                scroll_to(h, (along - st.drag_from - ARROWS) / track * std::max(0.0, RANGE - page), SB_THUMBTRACK);
                return 0;
            }
            const double line = RANGE * step_of(face);
            if (along < ARROWS) scroll_to(h, pos - line, SB_LINEUP);
            else if (along >= length - ARROWS) scroll_to(h, pos + line, SB_LINEDOWN);
            else if (along < at) scroll_to(h, pos - page, SB_PAGEUP);
            else if (along >= at + size) scroll_to(h, pos + page, SB_PAGEDOWN);
            else {
                st.drag_part = 1;
                st.drag_from = along - at;
                windows::set_capture(h);
                paint::invalidate(h);
            }
            return 0;
        }
        case WM_LBUTTONUP: {
            State& st = state_of(h);
            if (st.drag_part == 1) {
                windows::release_capture();
                st.drag_part = 0;
                paint::invalidate(h);
                if (st.kind != Kind::PROGRESS) scroll(h, SB_ENDSCROLL);
            }
            return 0;
        }
        case WM_MOUSEWHEEL: {
            const State& st = state_of(h);
            const int32_t notches = hi16(int32_t(wparam)) / WHEEL_DELTA;
            Cell face = face_of(h);
            if (st.kind == Kind::SCROLLER)
                scroll_to(h, scroller_pos(face) - notches * RANGE * step_of(face), notches > 0 ? SB_LINEUP : SB_LINEDOWN);
            else if (st.kind == Kind::SLIDER)
                slide_to(h, std::max(0.0, ratio_of(face_slot(&face, FACET_DATA))) + notches * 0.05,
                         notches > 0 ? SB_LINEUP : SB_LINEDOWN);
            return 0;
        }
        case WM_KEYDOWN: {
            const State& st = state_of(h);
            if (st.kind == Kind::PROGRESS) return 0;
            Cell face = face_of(h);
            const Window* win = windows::get(h);
            const double longer = win ? std::max(1, std::max(win->w, win->h)) : 1;
            if (st.kind == Kind::SLIDER) {
                // Arrows move one pixel's worth, pages a fifth; up and right go up.
                const double r = std::max(0.0, ratio_of(face_slot(&face, FACET_DATA)));
                const double line = 1.0 / longer;
                switch (wparam) {
                    case VK_LEFT: case VK_DOWN: slide_to(h, r - line, SB_LINEUP); break;
                    case VK_RIGHT: case VK_UP: slide_to(h, r + line, SB_LINEDOWN); break;
                    case VK_PRIOR: slide_to(h, r + 0.2, SB_PAGEDOWN); break;
                    case VK_NEXT: slide_to(h, r - 0.2, SB_PAGEUP); break;
                    case VK_HOME: slide_to(h, 0, SB_PAGEUP); break;
                    case VK_END: slide_to(h, 1, SB_PAGEDOWN); break;
                    default: break;
                }
                return 0;
            }
            const double pos = scroller_pos(face), page = page_of(face), line = RANGE * step_of(face);
            switch (wparam) {
                case VK_LEFT: case VK_UP: scroll_to(h, pos - line, SB_LINEUP); break;
                case VK_RIGHT: case VK_DOWN: scroll_to(h, pos + line, SB_LINEDOWN); break;
                case VK_PRIOR: scroll_to(h, pos - page, SB_PAGEUP); break;
                case VK_NEXT: scroll_to(h, pos + page, SB_PAGEDOWN); break;
                case VK_HOME: scroll_to(h, 0, SB_PAGEUP); break;
                case VK_END: scroll_to(h, RANGE, SB_PAGEDOWN); break;
                default: break;
            }
            return 0;
        }
        default:
            break;
    }
    return control_default(h, message, wparam, lparam);
}

}  // namespace kiv::gui::controls
