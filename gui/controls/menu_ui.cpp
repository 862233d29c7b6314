#include "gui/controls/menu_ui.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "datatypes/none.h"
#include "datatypes/word.h"
#include "gui/controls/controls.h"
#include "gui/controls/menu_model.h"
#include "gui/controls/menu_text.h"
#include "gui/window/accessors.h"
#include "gui/window/display.h"
#include "gui/window/event.h"
#include "gui/window/menu_hooks.h"
#include "gui/window/queue.h"
#include "gui/window/view.h"
#include "gui/window/window_proc.h"
#include "gui/window/windows.h"
#include "gui/window/gdk_calls.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::menus {

namespace {

// ---- Looks -----------------------------------------------------------------------------------------

struct MenuPalette {
    uint32_t bar, popup, border, separator, label, shortcut, hot;
};
constexpr MenuPalette LIGHT{0xF0F0F0, 0xF9F9F9, 0x9A9A9A, 0xD4D4D4, 0x1E1E1E, 0x5F5F5F, 0xC8E0F7};
constexpr MenuPalette DARK{0x2B2B2B, 0x2E2E2E, 0x5F5F5F, 0x4A4A4A, 0xF0F0F0, 0xB4B4B4, 0x3D5A80};

const MenuPalette& menu_palette(Hwnd h) {
    return view::dark(h) ? DARK : LIGHT;
}

// Spacing in logical units.
constexpr double BAR_PAD_X = 8, BAR_PAD_Y = 3;
constexpr double ITEM_PAD_Y = 4, SEPARATOR_H = 7, LEFT_PAD = 24, SHORTCUT_GAP = 28, RIGHT_PAD = 22;

using controls::fill_rect;
using controls::set_rgb;

// ---- Menu bars -------------------------------------------------------------------------------------

struct Bar {
    std::shared_ptr<Menu> menu;
    std::vector<std::pair<int32_t, int32_t>> xs;  // each item's left and right edge
    int32_t height = 0;
};
std::unordered_map<Hwnd, Bar> bars;

// ---- The open menu ---------------------------------------------------------------------------------

struct Popup {
    const Menu* menu = nullptr;
    GdkWindow* win = nullptr;
    int32_t x = 0, y = 0, w = 0, h = 0;  // screen pixels
    std::vector<int32_t> tops;           // each item's top, then the bottom of the last
    int32_t label_w = 0;
    int32_t hot = -1;
};

struct Session {
    bool open = false;
    Hwnd owner = 0;  // the window that opened the menu
    Hwnd top = 0;    // its top-level window
    bool bar = false;
    std::shared_ptr<Menu> root;
    int32_t bar_item = -1;  // the bar item open or highlighted
    std::vector<Popup> chain;
    bool entered = false;  // the pointer moved or pressed in a menu since it opened
    bool grabbed = false;
};
Session session;

// The choice waiting for its WM_COMMAND.
struct Pending {
    bool set = false;
    Hwnd owner = 0;
    uint32_t id = 0;
    int64_t data = NO_WORD;
};
Pending pending;
bool alt_armed = false;

// The words of chosen items, by the number a `menu` event carries.
std::vector<int64_t> chosen_words;
constexpr uint32_t NO_ITEM_WORD = 0xFFFF;

uint32_t intern(int64_t data) {
    if (data < 0) return NO_ITEM_WORD;
    for (size_t i = 0; i < chosen_words.size(); ++i)
        if (chosen_words[i] == data) return uint32_t(i);
    if (chosen_words.size() >= NO_ITEM_WORD) chosen_words.clear();
    chosen_words.push_back(data);
    return uint32_t(chosen_words.size() - 1);
}

Cell word_of(uint32_t id) {
    if (id >= chosen_words.size()) return none::cell();
    return word::make_global(uint32_t(chosen_words[id]));
}

bool selectable(const Menu* m, int32_t i) {
    return m && i >= 0 && size_t(i) < m->items.size() && !m->items[size_t(i)].separator;
}

// The next selectable item from i in direction dir (wrapping), -1 when none.
int32_t step(const Menu* m, int32_t i, int32_t dir) {
    const auto n = int32_t(m->items.size());
    for (int32_t k = 1; k <= n; ++k) {
        const int32_t j = ((i + dir * k) % n + n) % n;
        if (selectable(m, j)) return j;
    }
    return -1;
}

GdkWindow* native_of(Hwnd top) {
    const Window* w = windows::get(top);
    return w ? static_cast<GdkWindow*>(w->native) : nullptr;
}

// ---- Painting ---------------------------------------------------------------------------------------

void paint_bar(Hwnd top) {
    auto it = bars.find(top);
    GdkWindow* native = native_of(top);
    const int32_t band = display::band(top);
    if (it == bars.end() || !native || band <= 0 || !gdk_window_is_viewable(native)) return;
    const Bar& bar = it->second;
    const MenuPalette& p = menu_palette(top);
    const Window* w = windows::get(top);
    cairo_t* cr = gdk_cairo_create(native);
    cairo_rectangle(cr, 0, 0, w->w, band);
    cairo_clip(cr);
    fill_rect(cr, 0, 0, w->w, band, p.bar);
    const int32_t pad_x = to_pixels(BAR_PAD_X), pad_y = to_pixels(BAR_PAD_Y);
    for (size_t j = 0; j < bar.menu->items.size(); ++j) {
        const Item& item = bar.menu->items[j];
        const auto [x0, x1] = bar.xs[j];
        if (item.separator) {
            fill_rect(cr, (x0 + x1) / 2, pad_y, 1, band - 2 * pad_y, p.separator);
            continue;
        }
        const bool hot = session.open && session.bar && session.top == top && session.bar_item == int32_t(j);
        if (hot) fill_rect(cr, x0, 1, x1 - x0, band - 2, p.hot);
        text::draw(cr, item.label, item.mnemonic, x0 + pad_x, pad_y, p.label);
    }
    fill_rect(cr, 0, band - 1, w->w, 1, p.separator);
    cairo_destroy(cr);
}

void paint_popup(const Popup& pop) {
    if (!pop.win) return;
    const MenuPalette& p = menu_palette(session.top);
    cairo_t* cr = gdk_cairo_create(pop.win);
    fill_rect(cr, 0, 0, pop.w, pop.h, p.border);
    fill_rect(cr, 1, 1, pop.w - 2, pop.h - 2, p.popup);
    const int32_t pad_y = to_pixels(ITEM_PAD_Y), left = to_pixels(LEFT_PAD), right = to_pixels(RIGHT_PAD);
    for (size_t i = 0; i < pop.menu->items.size(); ++i) {
        const Item& item = pop.menu->items[i];
        const int32_t y0 = pop.tops[i], y1 = pop.tops[i + 1];
        if (item.separator) {
            fill_rect(cr, to_pixels(4), (y0 + y1) / 2, pop.w - 2 * to_pixels(4), 1, p.separator);
            continue;
        }
        if (int32_t(i) == pop.hot) fill_rect(cr, 2, y0, pop.w - 4, y1 - y0, p.hot);
        text::draw(cr, item.label, item.mnemonic, left, y0 + pad_y, p.label);
        if (!item.shortcut.empty()) {
            int32_t sw, sh;
            text::measure(item.shortcut, &sw, &sh);
            text::draw(cr, item.shortcut, -1, pop.w - right - sw, y0 + pad_y, p.shortcut);
        }
        if (item.sub) {
            // A small arrow points at the submenu.
            const double cy = (y0 + y1) / 2.0, ax = pop.w - right / 2.0, s = to_pixels(3.5);
            set_rgb(cr, p.label);
            cairo_move_to(cr, ax - s / 2, cy - s);
            cairo_line_to(cr, ax + s / 2, cy);
            cairo_line_to(cr, ax - s / 2, cy + s);
            cairo_close_path(cr);
            cairo_fill(cr);
        }
    }
    cairo_destroy(cr);
}

// ---- Opening and closing -------------------------------------------------------------------------

void close_from(size_t level) {
    while (session.chain.size() > level) {
        if (session.chain.back().win) gdk_window_destroy(session.chain.back().win);
        session.chain.pop_back();
    }
    if (session.chain.empty() && session.grabbed) {
        gdk_seat_ungrab(gdk_display_get_default_seat(gdk_display_get_default()));
        session.grabbed = false;
    }
}

void end_session() {
    if (!session.open) return;
    close_from(0);
    const bool bar = session.bar;
    const Hwnd top = session.top;
    session = Session{};
    if (bar) paint_bar(top);
}

// Opens a menu with its top-left corner near (x, y), kept on the screen;
// `avoid_x` is the left edge of the menu it opens from (it goes to that
// side when it does not fit on the right).
void open_level(const Menu* menu, int32_t x, int32_t y, int32_t avoid_x, int32_t hot) {
    if (!display::is_open() || !menu || menu->items.empty()) return;
    Popup pop;
    pop.menu = menu;
    pop.hot = hot;
    int32_t label_w = 0, short_w = 0;
    const int32_t line = text::line_height();
    pop.tops.push_back(1);
    for (const Item& item : menu->items) {
        int32_t w, h;
        if (!item.separator) {
            text::measure(item.label, &w, &h);
            label_w = std::max(label_w, w);
            text::measure(item.shortcut, &w, &h);
            short_w = std::max(short_w, w);
        }
        pop.tops.push_back(pop.tops.back() + (item.separator ? to_pixels(SEPARATOR_H) : line + 2 * to_pixels(ITEM_PAD_Y)));
    }
    pop.label_w = label_w;
    pop.w = 2 + to_pixels(LEFT_PAD) + label_w + (short_w ? to_pixels(SHORTCUT_GAP) + short_w : 0) + to_pixels(RIGHT_PAD);
    pop.h = pop.tops.back() + 1;
    int32_t sw, sh;
    display::screen_size(&sw, &sh);
    if (x + pop.w > sw) x = avoid_x >= 0 ? std::max(0, avoid_x - pop.w) : std::max(0, sw - pop.w);
    if (y + pop.h > sh) y = std::max(0, sh - pop.h);
    pop.x = x;
    pop.y = y;
    GdkWindowAttr a{};
    a.window_type = GDK_WINDOW_TEMP;
    a.wclass = GDK_INPUT_OUTPUT;
    a.x = x;
    a.y = y;
    a.width = pop.w;
    a.height = pop.h;
    a.type_hint = GDK_WINDOW_TYPE_HINT_POPUP_MENU;
    a.event_mask = GDK_EXPOSURE_MASK | GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                   GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK;
    pop.win = gdk_window_new(nullptr, &a, GDK_WA_X | GDK_WA_Y | GDK_WA_TYPE_HINT);
    if (!pop.win) return;
    gdk_window_show(pop.win);
    session.chain.push_back(pop);
    if (!session.grabbed) {
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        session.grabbed = gdk_seat_grab(seat, pop.win, GDK_SEAT_CAPABILITY_ALL, TRUE, nullptr, nullptr, nullptr,
                                        nullptr) == GDK_GRAB_SUCCESS;
    }
    paint_popup(session.chain.back());
    gdk_display_flush(gdk_display_get_default());
}

// Opens the submenu of item i of level k.
void open_sub(size_t k, int32_t i, bool keyboard) {
    const Popup& pop = session.chain[k];
    const Item& item = pop.menu->items[size_t(i)];
    if (!item.sub || item.sub->items.empty()) return;
    close_from(k + 1);
    const Menu* sub = item.sub.get();
    const int32_t hot = keyboard ? step(sub, -1, 1) : -1;
    open_level(sub, pop.x + pop.w - 3, pop.y + pop.tops[size_t(i)] - 1, pop.x, hot);
}

void set_hot(size_t k, int32_t i) {
    Popup& pop = session.chain[k];
    if (pop.hot == i) return;
    pop.hot = i;
    paint_popup(pop);
}

// Records the choice and posts its WM_COMMAND to the window owning the menu.
void choose(const Item& item, uint32_t id) {
    pending = Pending{true, session.owner, id, item.data};
    Hwnd to = session.owner;
    if (!session.bar && windows::parent(to)) to = windows::parent(to);
    end_session();
    queue::post(to, WM_COMMAND, id, 0);
}

// The bar item j: its menu opens (with its first item highlighted when the
// keyboard opened it), an item without a menu is chosen at once.
void open_bar_item(Hwnd top, int32_t j, bool keyboard, bool choose_plain) {
    auto it = bars.find(top);
    if (it == bars.end() || !selectable(it->second.menu.get(), j)) return;
    if (session.open && !(session.bar && session.top == top)) end_session();
    close_from(0);
    session.open = true;
    session.bar = true;
    session.owner = session.top = top;
    session.root = it->second.menu;
    session.bar_item = j;
    session.entered = false;
    const Item& item = it->second.menu->items[size_t(j)];
    if (!item.sub && choose_plain) {
        choose(item, uint32_t(j));
        return;
    }
    paint_bar(top);
    if (item.sub) {
        int32_t x = 0, y = 0;
        windows::client_to_screen(top, &x, &y);
        open_level(item.sub.get(), x + it->second.xs[size_t(j)].first, y, -1, keyboard ? step(item.sub.get(), -1, 1) : -1);
    }
}

// Moves along the bar (keyboard), keeping a menu open when one was.
void move_bar(int32_t dir) {
    auto it = bars.find(session.top);
    if (it == bars.end()) return;
    const int32_t j = step(it->second.menu.get(), session.bar_item, dir);
    if (j < 0) return;
    if (session.chain.empty()) {
        session.bar_item = j;
        paint_bar(session.top);
        return;
    }
    open_bar_item(session.top, j, true, false);
}

// Enter on item i of level k (or on the bar item when k is -1).
void activate(int32_t k, int32_t i) {
    if (k < 0) {
        open_bar_item(session.top, i, true, true);
        return;
    }
    const Item& item = session.chain[size_t(k)].menu->items[size_t(i)];
    if (item.sub) {
        set_hot(size_t(k), i);
        open_sub(size_t(k), i, true);
    } else {
        choose(item, uint32_t(i));
    }
}

// ---- Input while a menu is open --------------------------------------------------------------------

// The level and item under a screen point (item -1 between items); false
// when the point is on no open menu.
bool hit_popup(double xr, double yr, size_t* level, int32_t* item) {
    for (size_t k = session.chain.size(); k-- > 0;) {
        const Popup& p = session.chain[k];
        if (xr < p.x || yr < p.y || xr >= p.x + p.w || yr >= p.y + p.h) continue;
        *level = k;
        *item = -1;
        const double ly = yr - p.y;
        for (size_t i = 0; i + 1 < p.tops.size(); ++i)
            if (ly >= p.tops[i] && ly < p.tops[i + 1]) *item = int32_t(i);
        return true;
    }
    return false;
}

// The bar item under a point of the top-level's native window, -1 when none.
int32_t hit_bar(Hwnd top, double x, double y) {
    auto it = bars.find(top);
    if (it == bars.end() || y < 0 || y >= display::band(top)) return -1;
    for (size_t j = 0; j < it->second.xs.size(); ++j)
        if (x >= it->second.xs[j].first && x < it->second.xs[j].second) return int32_t(j);
    return -1;
}

bool on_key_press(guint keyval) {
    const size_t depth = session.chain.size();
    Popup* deep = depth ? &session.chain.back() : nullptr;
    switch (keyval) {
        case GDK_KEY_Escape:
            if (depth > 1) {
                close_from(depth - 1);
            } else if (depth == 1 && session.bar) {
                close_from(0);
                paint_bar(session.top);
            } else {
                end_session();
            }
            return true;
        case GDK_KEY_Up:
        case GDK_KEY_Down:
        case GDK_KEY_KP_Up:
        case GDK_KEY_KP_Down: {
            const int32_t dir = (keyval == GDK_KEY_Up || keyval == GDK_KEY_KP_Up) ? -1 : 1;
            if (deep) {
                const int32_t j = step(deep->menu, deep->hot < 0 && dir < 0 ? 0 : deep->hot, dir);
                if (j >= 0) {
                    close_from(depth);
                    set_hot(depth - 1, j);
                }
            } else if (session.bar) {
                open_bar_item(session.top, session.bar_item, true, false);
            }
            return true;
        }
        case GDK_KEY_Home:
        case GDK_KEY_End:
            if (deep) {
                const int32_t j = keyval == GDK_KEY_Home ? step(deep->menu, -1, 1) : step(deep->menu, 0, -1);
                if (j >= 0) set_hot(depth - 1, j);
            }
            return true;
        case GDK_KEY_Left:
        case GDK_KEY_KP_Left:
            if (depth > 1)
                close_from(depth - 1);
            else if (session.bar)
                move_bar(-1);
            return true;
        case GDK_KEY_Right:
        case GDK_KEY_KP_Right:
            if (deep && selectable(deep->menu, deep->hot) && deep->menu->items[size_t(deep->hot)].sub)
                open_sub(depth - 1, deep->hot, true);
            else if (session.bar)
                move_bar(1);
            return true;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_space:
            if (deep && selectable(deep->menu, deep->hot))
                activate(int32_t(depth - 1), deep->hot);
            else if (!deep && session.bar)
                activate(-1, session.bar_item);
            return true;
        case GDK_KEY_Alt_L:
        case GDK_KEY_Alt_R:
        case GDK_KEY_Meta_L:
        case GDK_KEY_Meta_R:
        case GDK_KEY_F10:
            end_session();
            return true;
        default:
            break;
    }
    const uint32_t c = fold(gdk_keyval_to_unicode(keyval));
    if (!c) return true;
    if (deep) {
        for (size_t i = 0; i < deep->menu->items.size(); ++i)
            if (!deep->menu->items[i].separator && deep->menu->items[i].key == c) {
                activate(int32_t(depth - 1), int32_t(i));
                break;
            }
    } else if (session.bar) {
        auto it = bars.find(session.top);
        if (it != bars.end())
            for (size_t j = 0; j < it->second.menu->items.size(); ++j)
                if (!it->second.menu->items[j].separator && it->second.menu->items[j].key == c) {
                    activate(-1, int32_t(j));
                    break;
                }
    }
    return true;
}

// Pointer input while a menu is open. Everything is used, except a press
// outside the menus while only the bar is entered (no menu shown): that
// leaves the bar and goes on to the face under it.
bool on_pointer(GdkEvent* ev) {
    double x, y, xr, yr;
    if (ev->type == GDK_MOTION_NOTIFY) {
        x = ev->motion.x, y = ev->motion.y, xr = ev->motion.x_root, yr = ev->motion.y_root;
    } else {
        x = ev->button.x, y = ev->button.y, xr = ev->button.x_root, yr = ev->button.y_root;
    }
    const bool on_top_native = session.bar && ev->any.window == native_of(session.top);
    const int32_t bar_item = on_top_native ? hit_bar(session.top, x, y) : -1;
    size_t level;
    int32_t item;
    const bool in_menu = hit_popup(xr, yr, &level, &item);
    switch (ev->type) {
        case GDK_MOTION_NOTIFY:
            if (in_menu) {
                session.entered = true;
                Popup& pop = session.chain[level];
                if (selectable(pop.menu, item) && item != pop.hot) {
                    set_hot(level, item);
                    close_from(level + 1);
                    if (pop.menu->items[size_t(item)].sub) open_sub(level, item, false);
                }
            } else if (bar_item >= 0 && bar_item != session.bar_item) {
                open_bar_item(session.top, bar_item, false, false);
            }
            return true;
        case GDK_BUTTON_PRESS:
            if (in_menu) {
                session.entered = true;
                return true;
            }
            if (bar_item >= 0) {
                if (bar_item == session.bar_item && !session.chain.empty())
                    end_session();
                else
                    open_bar_item(session.top, bar_item, false, true);
                return true;
            }
            {
                const bool shown = !session.chain.empty();
                end_session();
                return shown;
            }
        case GDK_BUTTON_RELEASE:
            if (in_menu && session.entered && selectable(session.chain[level].menu, item)) {
                const Item& it = session.chain[level].menu->items[size_t(item)];
                if (!it.sub) choose(it, uint32_t(item));
            }
            return true;
        default:
            return true;
    }
}

// The display's event filter: the bands of menu bars, and all input while
// a menu is open.
bool filter(GdkEvent* ev) {
    if (ev->type == GDK_EXPOSE) {
        for (const Popup& p : session.chain)
            if (p.win == ev->any.window) {
                paint_popup(p);
                return true;
            }
        const Hwnd top = windows::from_native(ev->any.window);
        if (top && bars.count(top) && ev->expose.area.y < display::band(top)) paint_bar(top);
        return false;
    }
    if (session.open) {
        switch (ev->type) {
            case GDK_MOTION_NOTIFY:
            case GDK_BUTTON_PRESS:
            case GDK_BUTTON_RELEASE:
                return on_pointer(ev);
            case GDK_2BUTTON_PRESS:
            case GDK_3BUTTON_PRESS:
                return true;
            case GDK_KEY_PRESS:
                return on_key_press(ev->key.keyval);
            case GDK_KEY_RELEASE:
                return true;
            case GDK_GRAB_BROKEN:
                end_session();
                return false;
            case GDK_FOCUS_CHANGE:
                if (!ev->focus_change.in && session.chain.empty()) end_session();
                return false;
            default:
                return false;
        }
    }
    // No menu open: input in a band belongs to its bar.
    if (ev->type != GDK_MOTION_NOTIFY && ev->type != GDK_BUTTON_PRESS && ev->type != GDK_BUTTON_RELEASE &&
        ev->type != GDK_2BUTTON_PRESS && ev->type != GDK_3BUTTON_PRESS)
        return false;
    const Hwnd top = windows::from_native(ev->any.window);
    if (!top || !bars.count(top)) return false;
    const double x = ev->type == GDK_MOTION_NOTIFY ? ev->motion.x : ev->button.x;
    const double y = ev->type == GDK_MOTION_NOTIFY ? ev->motion.y : ev->button.y;
    if (y >= display::band(top)) return false;
    if (ev->type == GDK_BUTTON_PRESS && ev->button.button == 1) {
        const int32_t j = hit_bar(top, x, y);
        if (j >= 0) open_bar_item(top, j, false, true);
    }
    return true;
}

// ---- The window layer's hooks ----------------------------------------------------------------------

void set_menu(Hwnd top, const Cell* face) {
    if (session.open && session.top == top && session.bar) end_session();
    const Cell* m = face_slot(face, FACET_MENU);
    const Cell* t = face_slot(face, FACET_TYPE);
    const Cell menu = m ? *m : none::cell();
    const Cell type = t ? *t : none::cell();
    if (!is_menu_bar(&menu, &type)) {
        bars.erase(top);
        display::set_band(top, 0);
        return;
    }
    text::use_default_font();
    Bar bar;
    bar.menu = build(&menu);
    const int32_t pad = to_pixels(BAR_PAD_X);
    int32_t x = 0;
    for (const Item& item : bar.menu->items) {
        int32_t w = 0, h;
        if (!item.separator) text::measure(item.label, &w, &h);
        bar.xs.emplace_back(x, x + w + 2 * pad);
        x += w + 2 * pad;
    }
    bar.height = text::line_height() + 2 * to_pixels(BAR_PAD_Y) + 1;
    bars[top] = std::move(bar);
    display::set_band(top, bars[top].height);
    paint_bar(top);
}

bool show_popup(Msg* m, int32_t sx, int32_t sy) {
    const Cell face = window_face_cell(m->hwnd);
    if (face.type() != TYPE_OBJECT) return false;
    const Cell* mp = face_slot(&face, FACET_MENU);
    const Cell* tp = face_slot(&face, FACET_TYPE);
    const Cell menu = mp ? *mp : none::cell();
    const Cell type = tp ? *tp : none::cell();
    if (menu.type() != TYPE_BLOCK || is_menu_bar(&menu, &type)) return false;
    std::shared_ptr<Menu> tree = build(&menu);
    if (!tree || tree->items.empty()) return false;
    text::use_default_font();
    end_session();
    pending = Pending{};
    session.open = true;
    session.owner = m->hwnd;
    session.top = windows::root(m->hwnd);
    session.root = tree;
    open_level(tree.get(), sx, sy, -1, -1);
    if (session.chain.empty()) end_session();
    return true;
}

bool command(Hwnd h, uint32_t id) {
    if (!pending.set || pending.id != id) return false;
    const Hwnd to = windows::alive(pending.owner) ? pending.owner : h;
    const uint32_t data = intern(pending.data);
    pending = Pending{};
    raise_event(to, event::MENU, int32_t(data), 0);
    return true;
}

// The key value of a virtual key that menus use (0 for others).
guint keyval_of(uint32_t vk) {
    static const struct {
        uint32_t vk;
        guint keyval;
    } keys[] = {{VK_UP, GDK_KEY_Up},         {VK_DOWN, GDK_KEY_Down},     {VK_LEFT, GDK_KEY_Left},
                {VK_RIGHT, GDK_KEY_Right},   {VK_HOME, GDK_KEY_Home},     {VK_END, GDK_KEY_End},
                {VK_RETURN, GDK_KEY_Return}, {VK_ESCAPE, GDK_KEY_Escape}, {VK_SPACE, GDK_KEY_space},
                {VK_F10, GDK_KEY_F10},       {VK_MENU, GDK_KEY_Alt_L}};
    for (const auto& k : keys)
        if (k.vk == vk) return k.keyval;
    if (vk >= 'A' && vk <= 'Z') return GDK_KEY_a + (vk - 'A');
    if (vk >= '0' && vk <= '9') return GDK_KEY_0 + (vk - '0');
    return 0;
}

// The bar is entered from the keyboard: its first item highlighted, no menu shown.
void enter_bar(Hwnd top) {
    auto it = bars.find(top);
    if (it == bars.end()) return;
    session = Session{};
    session.open = true;
    session.bar = true;
    session.owner = session.top = top;
    session.root = it->second.menu;
    session.bar_item = step(it->second.menu.get(), -1, 1);
    paint_bar(top);
}

void key(Hwnd h, uint32_t message, uint32_t wparam, int32_t) {
    const Hwnd top = windows::root(h);
    if (session.open) {
        // Keys typed before the menu opened reach it when their turn comes.
        if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) {
            alt_armed = false;
            if (const guint keyval = keyval_of(wparam)) on_key_press(keyval);
        }
        return;
    }
    auto it = bars.find(top);
    if (it == bars.end()) {
        alt_armed = false;
        return;
    }
    const Menu* bar = it->second.menu.get();
    switch (message) {
        case WM_SYSKEYDOWN:
        case WM_KEYDOWN:
            alt_armed = message == WM_SYSKEYDOWN && wparam == VK_MENU;
            if (wparam == VK_F10) enter_bar(top);
            break;
        case WM_SYSKEYUP:
            if (wparam == VK_MENU && alt_armed) enter_bar(top);
            alt_armed = false;
            break;
        case WM_SYSCHAR: {
            alt_armed = false;
            const uint32_t c = fold(wparam);
            for (size_t j = 0; j < bar->items.size(); ++j)
                if (!bar->items[j].separator && bar->items[j].key == c) {
                    open_bar_item(top, int32_t(j), true, true);
                    break;
                }
            break;
        }
        default:
            break;
    }
}

void forget(Hwnd h) {
    if (session.open && (session.owner == h || session.top == h)) end_session();
    if (pending.owner == h) pending = Pending{};
    bars.erase(h);
}

}  // namespace

void install() {
    static bool done = false;
    if (done) return;
    done = true;
    menu_hooks::set_menu = set_menu;
    menu_hooks::show_popup = show_popup;
    menu_hooks::command = command;
    menu_hooks::key = key;
    menu_hooks::forget = forget;
    event::menu_item_word = word_of;
    display::add_filter(filter);
}

}  // namespace kiv::gui::menus
