// Text lists (the "ListBox" class) and drop-downs (the "ComboBox" class).
//
// Their items are the string-like values of the face's `data` (string!,
// file!, url!, tag!, email!, ref!; other values are skipped, so an item's
// number and a `data` index differ by the values skipped before it). The
// selected item is the face's `selected` (1-based, -1 for none). A
// drop-down's open list is drawn below its box: the window grows to hold
// it while it is open and takes the pointer (capture) until it shuts.

#include <algorithm>
#include <cmath>

#include "datatypes/integer.h"
#include "gui/controls/controls.h"
#include "gui/window/accessors.h"
#include "gui/window/keyboard.h"
#include "gui/window/paint.h"
#include "gui/window/windows.h"
#include "runtime/stack.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::controls {

namespace {

constexpr double ARROW = 17;   // a drop-down's button width
constexpr int32_t SHOWN = 8;   // items an open drop-down shows at most

double item_height_of(const Cell& face) {
    TextLine t(face, "Ag");
    return std::ceil(t.line_height()) + 2;
}

int32_t visible_rows(Hwnd h, double height) {
    const State& st = state_of(h);
    return st.item_height > 0 ? std::max(1, int32_t((height - 2) / st.item_height)) : 1;
}

void clamp_top(Hwnd h, int32_t count, int32_t rows) {
    State& st = state_of(h);
    st.top = std::clamp(st.top, 0, std::max(0, count - rows));
}

// The selected item of a list, kept visible.
void reveal(Hwnd h, int32_t index, int32_t rows) {
    State& st = state_of(h);
    if (index < 0) return;
    if (index < st.top) st.top = index;
    if (index >= st.top + rows) st.top = index - rows + 1;
}

// Selects item `index` (0-based) as the user did: `selected`, the text of
// the face, the parent told.
void choose(Hwnd h, int32_t index) {
    Cell* saved = stack::top;
    Cell* face = stack::push(face_of(h));
    const std::vector<std::string> items = items_of(*face);
    stack::top = saved;
    if (index < 0 || index >= int32_t(items.size())) return;
    store_selected(h, index + 1);
    if (state_of(h).kind == Kind::DROP_DOWN) windows::set_text(h, items[size_t(index)].c_str());
    store_text(h, items[size_t(index)]);
    paint::invalidate(h);
    command(h, NOTIFY_SELCHANGE);
}

void paint_items(cairo_t* cr, Hwnd h, const Cell& face, const std::vector<std::string>& items, double x, double y,
                 double w, double height, int32_t first, int32_t current, int32_t hover, bool focused) {
    const Palette& p = palette_of(h);
    const double ih = state_of(h).item_height;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, height);
    cairo_clip(cr);
    const uint32_t ink = windows::enabled(h) ? ink_of(face, p) : p.text_disabled;
    for (int32_t i = first; i < int32_t(items.size()); ++i) {
        const double iy = y + (i - first) * ih;
        if (iy >= y + height) break;
        const bool sel = i == current;
        if (sel) fill_rect(cr, x, iy, w, ih, focused || hover >= 0 ? p.select : p.track);
        else if (i == hover) fill_rect(cr, x, iy, w, ih, p.face_hot);
        TextLine t(face, items[size_t(i)]);
        t.draw(cr, x + 3, iy + 1, sel && (focused || hover >= 0) ? p.select_text : ink);
        if (sel && focused && hover < 0) focus_ring(cr, x, iy, w, ih, p.select_text);
    }
    cairo_restore(cr);
}

void paint_arrow(cairo_t* cr, const Palette& p, double x, double height) {
    set_rgb(cr, p.text);
    const double cx = x + ARROW / 2, cy = height / 2;
    cairo_move_to(cr, cx - 4, cy - 2);
    cairo_line_to(cr, cx + 4, cy - 2);
    cairo_line_to(cr, cx, cy + 2);
    cairo_close_path(cr);
    cairo_fill(cr);
}

// The rows an open drop-down's list has room for.
int32_t open_rows(Hwnd h) {
    const State& st = state_of(h);
    const Window* w = windows::get(h);
    if (!w || st.item_height <= 0) return 1;
    return std::max(1, int32_t(((w->h - st.closed_height) / scale_factor - 2) / st.item_height));
}

// Opens or shuts a drop-down's list: the window grows below its box, or
// rises above it.
void set_open(Hwnd h, bool open) {
    State& st = state_of(h);
    Window* w = windows::get(h);
    if (!w || st.open == open) return;
    const Hwnd p = windows::parent(h);
    if (open) {
        Cell* saved = stack::top;
        Cell* face = stack::push(face_of(h));
        const int32_t count = int32_t(items_of(*face).size());
        st.item_height = item_height_of(*face);
        stack::top = saved;
        st.closed_height = w->h;
        const int32_t rows = std::clamp(count, 1, SHOWN);
        const int32_t need = int32_t(std::ceil((rows * st.item_height + 2) * scale_factor));
        // Below the box when the list fits there or there is more room
        // there than above it; else above (the parent clips its children).
        const Window* pw = windows::get(p);
        const int32_t below = pw ? pw->h - (w->y + w->h) : need, above = w->y;
        const bool up = below < need && above > below;
        const int32_t extra = std::max(0, std::min(need, up ? above : below));
        st.lifted = up ? extra : 0;
        st.open = true;
        st.hover = selected_of(face_of(h), 0) - 1;
        st.top = 0;
        paint::invalidate(h);
        windows::move(h, w->x, w->y - st.lifted, w->w, w->h + extra);
        reveal(h, st.hover, open_rows(h));
        windows::to_top(h);
        windows::set_capture(h);
    } else {
        st.open = false;
        if (windows::capture() == h) windows::release_capture();
        if (p) paint::invalidate_rect(p, w->x, w->y, w->w, w->h);
        windows::move(h, w->x, w->y + st.lifted, w->w, st.closed_height);
        st.lifted = 0;
        command(h, CBN_CLOSEUP);
    }
    paint::invalidate(h);
}

int32_t count_of(Hwnd h) {
    Cell face = face_of(h);
    return int32_t(items_of(face).size());
}

// Keys that move the selection of a list or a shut drop-down.
bool selection_key(Hwnd h, uint32_t vk, int32_t rows) {
    const int32_t n = count_of(h);
    if (n == 0) return false;
    const int32_t cur = selected_of(face_of(h), 0) - 1;
    int32_t to = cur;
    switch (vk) {
        case VK_UP: to = cur < 0 ? 0 : cur - 1; break;
        case VK_DOWN: to = cur + 1; break;
        case VK_HOME: to = 0; break;
        case VK_END: to = n - 1; break;
        case VK_PRIOR: to = cur - rows; break;
        case VK_NEXT: to = cur + rows; break;
        default: return false;
    }
    to = std::clamp(to, 0, n - 1);
    if (to != cur) {
        reveal(h, to, rows);
        choose(h, to);
    }
    return true;
}

}  // namespace

void paint_list(cairo_t* cr, Hwnd h, const Cell& face, double w, double height) {
    const Palette& p = palette_of(h);
    State& st = state_of(h);
    st.item_height = item_height_of(face);
    uint32_t bg;
    if (!face_colour(face, &bg)) bg = p.field;
    fill_rect(cr, 0, 0, w, height, bg);
    const std::vector<std::string> items = items_of(face);
    const int32_t rows = visible_rows(h, height);
    const int32_t n = int32_t(items.size());
    clamp_top(h, n, rows);
    const double iw = n > rows ? w - 1 - BAR_WIDTH : w - 2;
    const bool focused = windows::focus() == h;
    paint_items(cr, h, face, items, 1, 1, iw, height - 2, st.top, selected_of(face, 0) - 1, -1, focused);
    if (n > rows) VBar{w - 1 - BAR_WIDTH, 1, height - 2, double(n), double(rows), double(st.top)}.paint(cr, p);
    frame_rect(cr, 0, 0, w, height, focused ? p.accent : p.edge);
}

void paint_combo(cairo_t* cr, Hwnd h, const Cell& face, Kind kind, double w, double height) {
    const Palette& p = palette_of(h);
    State& st = state_of(h);
    const double box = st.open ? st.closed_height / scale_factor : height;
    // An open list lies below the box, or above it when the window rose.
    const double box_y = st.lifted / scale_factor, list_y = st.lifted ? 0 : box;
    const bool focused = windows::focus() == h;
    cairo_save(cr);
    cairo_translate(cr, 0, box_y);
    if (kind == Kind::DROP_DOWN) {
        cairo_save(cr);
        cairo_rectangle(cr, 0, 0, w - ARROW, box);
        cairo_clip(cr);
        paint_edit(cr, h, face, kind, w - ARROW + 1, box);
        cairo_restore(cr);
        fill_rect(cr, w - ARROW, 0, ARROW, box, st.open ? p.face_down : p.face);
    } else {
        uint32_t bg;
        if (!face_colour(face, &bg)) bg = p.face;
        fill_rect(cr, 0, 0, w, box, st.open ? p.face_down : bg);
        const std::vector<std::string> items = items_of(face);
        const int32_t sel = selected_of(face, 0) - 1;
        if (sel >= 0 && sel < int32_t(items.size())) {
            cairo_save(cr);
            cairo_rectangle(cr, 0, 0, w - ARROW, box);
            cairo_clip(cr);
            TextLine t(face, items[size_t(sel)]);
            t.draw(cr, 4, (box - t.height()) / 2, windows::enabled(h) ? ink_of(face, p) : p.text_disabled);
            cairo_restore(cr);
        }
        if (focused && !st.open) focus_ring(cr, 3, 3, w - ARROW - 5, box - 6, p.edge_dark);
    }
    paint_arrow(cr, p, w - ARROW, box);
    frame_rect(cr, 0, 0, w, box, focused ? p.accent : p.edge);
    cairo_restore(cr);
    if (!st.open) return;
    const std::vector<std::string> items = items_of(face);
    const double list_h = height - box;
    fill_rect(cr, 0, list_y, w, list_h, p.field);
    paint_items(cr, h, face, items, 1, list_y + 1, w - 2, list_h - 2, st.top, selected_of(face, 0) - 1, st.hover,
                focused);
    frame_rect(cr, 0, list_y, w, list_h, p.edge_dark);
}

void list_facets(Hwnd h, const Cell* face, uint32_t bits) {
    State& st = state_of(h);
    if (((bits >> FACET_DATA) & 1) && st.open) set_open(h, false);
    if ((bits >> FACET_SELECTED) & 1) {
        const Window* w = windows::get(h);
        if (w && st.kind == Kind::TEXT_LIST) reveal(h, selected_of(*face, 0) - 1, visible_rows(h, w->h / scale_factor));
    }
}

int32_t list_item_at(Hwnd h, int32_t x, int32_t y) {
    (void)x;
    if (!windows::alive(h) || !has_face(h)) return 0;
    const State& st = state_of(h);
    if (st.kind != Kind::TEXT_LIST || st.item_height <= 0) return 0;
    const int32_t i = st.top + int32_t((y / scale_factor - 1) / st.item_height);
    return i >= 0 && i < count_of(h) ? i + 1 : 0;
}

int32_t list_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_CREATE: {
            // A `selected` that is no integer becomes -1 (no item).
            Cell face = face_of(h);
            const Cell* s = face_slot(&face, FACET_SELECTED);
            if (s && s->type() != TYPE_INTEGER) store_selected(h, -1);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            windows::set_focus(h);
            if (!windows::alive(h)) return 0;
            State& st = state_of(h);
            double w, height;
            logical_size(h, &w, &height);
            const double x = lo16(lparam) / scale_factor, y = hi16(lparam) / scale_factor;
            const int32_t n = count_of(h), rows = visible_rows(h, height);
            const VBar bar{w - 1 - BAR_WIDTH, 1, height - 2, double(n), double(rows), double(st.top)};
            if (n > rows && x >= bar.x) {
                // The scroll bar: arrows step, the track pages, the thumb drags.
                switch (bar.part(y)) {
                    case VBar::LINE_UP: st.top -= 1; break;
                    case VBar::LINE_DOWN: st.top += 1; break;
                    case VBar::PAGE_UP: st.top -= rows; break;
                    case VBar::PAGE_DOWN: st.top += rows; break;
                    case VBar::THUMB:
                        st.drag_part = 1;
                        st.drag_from = y - bar.thumb_at();
                        windows::set_capture(h);
                        break;
                    case VBar::NONE: break;
                }
                clamp_top(h, n, rows);
                paint::invalidate(h);
                return 0;
            }
            const int32_t i = list_item_at(h, lo16(lparam), hi16(lparam));
            if (i > 0 && i != selected_of(face_of(h), 0)) choose(h, i - 1);
            return 0;
        }
        case WM_MOUSEMOVE: {
            State& st = state_of(h);
            if (st.drag_part != 1 || !(wparam & MK_LBUTTON)) return 0;
            double w, height;
            logical_size(h, &w, &height);
            const int32_t n = count_of(h), rows = visible_rows(h, height);
            const VBar bar{w - 1 - BAR_WIDTH, 1, height - 2, double(n), double(rows), double(st.top)};
            st.top = int32_t(std::lround(bar.first_for(hi16(lparam) / scale_factor - st.drag_from)));
            clamp_top(h, n, rows);
            paint::invalidate(h);
            return 0;
        }
        case WM_LBUTTONUP: {
            State& st = state_of(h);
            if (st.drag_part == 1) windows::release_capture();
            st.drag_part = 0;
            return 0;
        }
        case WM_MOUSEWHEEL: {
            State& st = state_of(h);
            double w, height;
            logical_size(h, &w, &height);
            st.top -= 3 * (hi16(int32_t(wparam)) / WHEEL_DELTA);
            clamp_top(h, count_of(h), visible_rows(h, height));
            paint::invalidate(h);
            return 0;
        }
        case WM_KEYDOWN: {
            double w, height;
            logical_size(h, &w, &height);
            selection_key(h, wparam, visible_rows(h, height));
            return 0;
        }
        default:
            break;
    }
    return control_default(h, message, wparam, lparam);
}

int32_t combo_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_CREATE:
            if (state_of(h).kind == Kind::DROP_DOWN) return edit_proc(h, message, wparam, lparam);
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            State& st = state_of(h);
            const Window* w = windows::get(h);
            if (!w) return 0;
            const int32_t x = lo16(lparam), y = hi16(lparam);
            if (st.open) {
                const int32_t list_y = st.lifted ? 0 : st.closed_height, list_h = w->h - st.closed_height;
                if (x >= 0 && x < w->w && y >= list_y && y < list_y + list_h) {
                    const int32_t i =
                        st.top + int32_t(((y - list_y) / scale_factor - 1) / std::max(1.0, st.item_height));
                    set_open(h, false);
                    if (windows::alive(h) && i >= 0 && i < count_of(h)) choose(h, i);
                } else {
                    set_open(h, false);
                }
                return 0;
            }
            windows::set_focus(h);
            if (!windows::alive(h)) return 0;
            const bool on_arrow = x >= w->w - int32_t(ARROW * scale_factor);
            if (st.kind == Kind::DROP_DOWN && !on_arrow) return edit_proc(h, message, wparam, lparam);
            set_open(h, true);
            return 0;
        }
        case WM_MOUSEMOVE: {
            State& st = state_of(h);
            if (st.open) {
                const Window* w = windows::get(h);
                const int32_t list_y = st.lifted ? 0 : st.closed_height, list_h = w ? w->h - st.closed_height : 0;
                const int32_t y = hi16(lparam) - list_y;
                const int32_t i = st.top + int32_t((y / scale_factor - 1) / std::max(1.0, st.item_height));
                const int32_t hover = y >= 0 && y < list_h && i < count_of(h) ? i : -1;
                if (hover != st.hover) {
                    st.hover = hover;
                    paint::invalidate(h);
                }
                return 0;
            }
            if (st.kind == Kind::DROP_DOWN) return edit_proc(h, message, wparam, lparam);
            return 0;
        }
        case WM_LBUTTONUP:
            if (state_of(h).kind == Kind::DROP_DOWN && !state_of(h).open) return edit_proc(h, message, wparam, lparam);
            return 0;
        case WM_MOUSEWHEEL: {
            State& st = state_of(h);
            const int32_t n = count_of(h);
            if (st.open) {
                st.top = std::clamp(st.top - hi16(int32_t(wparam)) / WHEEL_DELTA, 0, std::max(0, n - open_rows(h)));
                paint::invalidate(h);
            }
            return 0;
        }
        case WM_KEYDOWN: {
            State& st = state_of(h);
            const uint32_t keys = keyboard::key_state(true);
            if (!st.open && (wparam == VK_F1 + 3 || (wparam == VK_DOWN && (keys & EVT_ALT)))) {
                set_open(h, true);
                return 0;
            }
            if (st.open) {
                const int32_t n = count_of(h);
                if (wparam == VK_ESCAPE || wparam == VK_F1 + 3) set_open(h, false);
                else if (wparam == VK_RETURN) {
                    const int32_t i = st.hover;
                    set_open(h, false);
                    if (windows::alive(h) && i >= 0 && i < n) choose(h, i);
                } else if (wparam == VK_UP || wparam == VK_DOWN) {
                    st.hover = std::clamp(st.hover + (wparam == VK_UP ? -1 : 1), 0, std::max(0, n - 1));
                    reveal(h, st.hover, open_rows(h));
                    paint::invalidate(h);
                }
                return 0;
            }
            if ((wparam == VK_UP || wparam == VK_DOWN) && selection_key(h, wparam, 1)) return 0;
            if (st.kind == Kind::DROP_DOWN) return edit_proc(h, message, wparam, lparam);
            if (wparam == VK_HOME || wparam == VK_END || wparam == VK_PRIOR || wparam == VK_NEXT)
                selection_key(h, wparam, SHOWN);
            return 0;
        }
        case WM_KEYUP:
        case WM_CHAR:
            if (state_of(h).kind == Kind::DROP_DOWN && !state_of(h).open) return edit_proc(h, message, wparam, lparam);
            return 0;
        case WM_KILLFOCUS:
            set_open(h, false);
            break;
        default:
            break;
    }
    return control_default(h, message, wparam, lparam);
}

}  // namespace kiv::gui::controls
