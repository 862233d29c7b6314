// Fields and areas (the "EDIT" class), and the text part of drop-downs.
//
// The text lives in the window (Window::text, UTF-8); the caret and the
// other end of the selection are character indexes into it. A field shows
// one line scrolled sideways to keep the caret in view; an area shows the
// lines of its text (line feeds only: a line feed is one character) and
// scrolls both ways. Every change of the text by the user sets the window's
// text and tells the parent (EN_CHANGE), which writes it back to the face.

#include <algorithm>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/controls/controls.h"
#include "gui/window/accessors.h"
#include "gui/window/keyboard.h"
#include "gui/window/paint.h"
#include "gui/window/selection_formats.h"
#include "gui/window/view.h"
#include "gui/window/windows.h"
#include "library/library.h"
#include "platform/clipboard.h"
#include "runtime/stack.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::controls {

namespace {

constexpr double PAD_X = 3, PAD_Y = 2;
constexpr size_t UNDO_DEPTH = 100;
constexpr uint32_t ES_MULTILINE = 0x0004;

bool multi(Hwnd h) {
    return state_of(h).kind == Kind::AREA;
}

bool password(Hwnd h) {
    return flags_of(face_of(h)) & view::FLAG_PASSWORD;
}

std::u32string text_of(Hwnd h) {
    const Window* w = windows::get(h);
    return w ? to_u32(w->text) : std::u32string();
}

// What the control shows: a password's characters are dots.
std::string shown(Hwnd h, const std::u32string& t) {
    if (!password(h)) return to_utf8(t);
    return to_utf8(std::u32string(t.size(), U'\u2022'));
}

void clamp(Hwnd h, State& st, int32_t n) {
    (void)h;
    st.caret = std::clamp(st.caret, 0, n);
    st.anchor = std::clamp(st.anchor, 0, n);
}

// Writes the selection into the face's `selected`: none when empty, else
// a pair (start + 1) x end, in characters.
void store_selection(Hwnd h) {
    State& st = state_of(h);
    if (st.kind == Kind::DROP_DOWN) return;  // its `selected` is an item
    Cell face = face_of(h);
    Cell* s = face_slot(&face, FACET_SELECTED);
    if (!s) return;
    const int32_t a = std::min(st.caret, st.anchor), b = std::max(st.caret, st.anchor);
    *s = a == b ? none::cell() : Cell{TYPE_PAIR, 0, uint32_t(a + 1), uint32_t(b)};
}

void set_text(Hwnd h, const std::u32string& t, bool notify_parent) {
    State& st = state_of(h);
    const Window* w = windows::get(h);
    if (w) {
        st.undo.push_back(w->text);
        if (st.undo.size() > UNDO_DEPTH) st.undo.erase(st.undo.begin());
    }
    windows::set_text(h, to_utf8(t).c_str());
    st.shown_caret = -1;
    paint::invalidate(h);
    if (notify_parent) command(h, EN_CHANGE);
}

// Replaces the selection with `ins`.
void replace_selection(Hwnd h, const std::u32string& ins) {
    State& st = state_of(h);
    std::u32string t = text_of(h);
    clamp(h, st, int32_t(t.size()));
    const int32_t a = std::min(st.caret, st.anchor), b = std::max(st.caret, st.anchor);
    std::u32string piece = ins;
    if (!multi(h)) piece.erase(std::remove(piece.begin(), piece.end(), U'\n'), piece.end());
    t.replace(size_t(a), size_t(b - a), piece);
    st.caret = st.anchor = a + int32_t(piece.size());
    set_text(h, t, true);
}

// ---- Clipboard: the store's text, LF here (CR LF there) --------------------------------------------

void clip_put(const std::u32string& t) {
    auto& store = platform::clipboard::store();
    if (!store.open()) return;
    store.empty();
    store.put(platform::clipboard::TEXT, selection_formats::text_to_store(to_utf8(t)));
    store.close();
}

std::u32string clip_get() {
    auto& store = platform::clipboard::store();
    std::vector<uint8_t> bytes;
    if (!store.open()) return {};
    const bool ok = store.get(platform::clipboard::TEXT, bytes);
    store.close();
    if (!ok) return {};
    // Lines end with one line feed here, whatever ended them there.
    std::u32string t = to_u32(selection_formats::text_from_store(bytes)), out;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == U'\r' && i + 1 < t.size() && t[i + 1] == U'\n') continue;
        out.push_back(t[i] == U'\r' ? U'\n' : t[i]);
    }
    return out;
}

bool word_char(char32_t c) {
    return c == U'_' || (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c > 0x7F;
}

// The layout of what the control shows, for caret and hit questions.
// An area with a `para` object wraps its lines at its width (the room of
// a scroll bar kept); other areas and fields do not wrap.
double wrap_width(Hwnd h, const Cell& face) {
    if (!multi(h)) return 0;
    const Cell* para = face_slot(&face, FACET_PARA);
    if (!para || para->type() != TYPE_OBJECT) return 0;
    double w, height;
    logical_size(h, &w, &height);
    return std::max(1.0, w - 2 * PAD_X - BAR_WIDTH - 1);
}

struct Shown {
    std::u32string text;
    TextLine line;
    Shown(Hwnd h, const Cell& face) : text(text_of(h)), line(face, shown(h, text), wrap_width(h, face)) {}
};

// A field's hint: the string after `hint:` in its options, shown greyed
// while the field is empty and has no focus.
std::string hint_of(const Cell& face) {
    const Cell* o = face_slot(&face, FACET_OPTIONS);
    if (!o || o->type() != TYPE_BLOCK) return std::string();
    const Cell blk = *o;
    const Cell name = word::load("hint");
    const uint32_t n = block::cells_length(&blk);
    for (uint32_t i = 0; i + 1 < n; ++i) {
        const Cell k = *block::cells_at(&blk, blk.w1 + i);
        if (k.type() != TYPE_SET_WORD || symbol::resolve(k.w2) != symbol::resolve(name.w2)) continue;
        const Cell v = *block::cells_at(&blk, blk.w1 + i + 1);
        return is_any_string(v.type()) ? library::to_utf8(v) : std::string();
    }
    return std::string();
}

// The text's origin inside the control (logical units), scroll applied.
void origin(Hwnd h, const TextLine& l, double height, double* x, double* y) {
    const State& st = state_of(h);
    *x = PAD_X - st.scroll_x;
    *y = multi(h) ? PAD_Y - st.scroll_y : std::floor((height - l.line_height()) / 2);
}

// Scrolls so that the caret is inside the visible part.
void keep_caret_visible(Hwnd h, const TextLine& l, double w, double height) {
    State& st = state_of(h);
    double cx, cy;
    l.caret_at(st.caret, &cx, &cy);
    const double view_w = std::max(1.0, w - 2 * PAD_X - 1);
    if (cx - st.scroll_x > view_w) st.scroll_x = cx - view_w;
    if (cx - st.scroll_x < 0) st.scroll_x = cx;
    if (!multi(h)) {
        st.scroll_x = std::max(0.0, std::min(st.scroll_x, std::max(0.0, l.width() - view_w)));
        return;
    }
    const double view_h = std::max(1.0, height - 2 * PAD_Y);
    const double lh = l.line_height();
    if (cy + lh - st.scroll_y > view_h) st.scroll_y = cy + lh - view_h;
    if (cy - st.scroll_y < 0) st.scroll_y = cy;
    st.scroll_y = std::max(0.0, st.scroll_y);
}

// An area's scroll bar, when its lines do not fit (lines end at line
// feeds: each is one character).
bool area_bar(Hwnd h, const TextLine& l, double w, double height, VBar* bar) {
    if (!multi(h)) return false;
    const double view = height - 2 * PAD_Y;
    if (l.height() <= view) return false;
    *bar = VBar{w - 1 - BAR_WIDTH, 1, height - 2, l.height(), view, state_of(h).scroll_y};
    return true;
}

void clamp_scroll(Hwnd h, const TextLine& l, double height) {
    State& st = state_of(h);
    st.scroll_y = std::clamp(st.scroll_y, 0.0, std::max(0.0, l.height() - (height - 2 * PAD_Y)));
}

// A press on an area's scroll bar: true when it was there.
bool bar_press(Hwnd h, double x, double y) {
    Cell* saved = stack::top;
    Cell* face = stack::push(face_of(h));
    Shown s(h, *face);
    stack::top = saved;
    double w, height;
    logical_size(h, &w, &height);
    VBar bar;
    if (!area_bar(h, s.line, w, height, &bar) || x < bar.x) return false;
    State& st = state_of(h);
    switch (bar.part(y)) {
        case VBar::LINE_UP: st.scroll_y -= s.line.line_height(); break;
        case VBar::LINE_DOWN: st.scroll_y += s.line.line_height(); break;
        case VBar::PAGE_UP: st.scroll_y -= bar.shown; break;
        case VBar::PAGE_DOWN: st.scroll_y += bar.shown; break;
        case VBar::THUMB:
            st.drag_part = 1;
            st.drag_from = y - bar.thumb_at();
            windows::set_capture(h);
            break;
        case VBar::NONE: break;
    }
    clamp_scroll(h, s.line, height);
    paint::invalidate(h);
    return true;
}

void bar_drag(Hwnd h, double y) {
    Cell* saved = stack::top;
    Cell* face = stack::push(face_of(h));
    Shown s(h, *face);
    stack::top = saved;
    double w, height;
    logical_size(h, &w, &height);
    VBar bar;
    if (!area_bar(h, s.line, w, height, &bar)) return;
    state_of(h).scroll_y = bar.first_for(y - state_of(h).drag_from);
    paint::invalidate(h);
}

int32_t index_at_point(Hwnd h, int32_t px, int32_t py) {
    Cell* saved = stack::top;
    Cell* face = stack::push(face_of(h));
    Shown s(h, *face);
    double w, height, ox, oy;
    logical_size(h, &w, &height);
    origin(h, s.line, height, &ox, &oy);
    const int32_t i = s.line.index_at(px / scale_factor - ox, py / scale_factor - oy);
    stack::top = saved;
    return i;
}

// Caret moves by key; `extend` keeps the anchor (Shift held).
void move_caret(Hwnd h, uint32_t vk, bool extend, bool control) {
    State& st = state_of(h);
    Cell* saved = stack::top;
    Cell* face = stack::push(face_of(h));
    Shown s(h, *face);
    const int32_t n = int32_t(s.text.size());
    clamp(h, st, n);
    const bool had_selection = st.caret != st.anchor;
    int32_t c = st.caret;
    switch (vk) {
        case VK_LEFT:
            if (had_selection && !extend) c = std::min(st.caret, st.anchor);
            else if (control) {
                while (c > 0 && !word_char(s.text[size_t(c - 1)])) --c;
                while (c > 0 && word_char(s.text[size_t(c - 1)])) --c;
            } else c = std::max(0, c - 1);
            break;
        case VK_RIGHT:
            if (had_selection && !extend) c = std::max(st.caret, st.anchor);
            else if (control) {
                while (c < n && word_char(s.text[size_t(c)])) ++c;
                while (c < n && !word_char(s.text[size_t(c)])) ++c;
            } else c = std::min(n, c + 1);
            break;
        case VK_HOME:
            if (control || !multi(h)) c = 0;
            else while (c > 0 && s.text[size_t(c - 1)] != U'\n') --c;
            break;
        case VK_END:
            if (control || !multi(h)) c = n;
            else while (c < n && s.text[size_t(c)] != U'\n') ++c;
            break;
        case VK_UP:
        case VK_DOWN:
        case VK_PRIOR:
        case VK_NEXT: {
            if (!multi(h)) break;
            double x, y;
            s.line.caret_at(c, &x, &y);
            double lw, lh;
            logical_size(h, &lw, &lh);
            const double step = (vk == VK_UP || vk == VK_DOWN) ? s.line.line_height()
                                                               : std::max(s.line.line_height(), lh - 2 * PAD_Y);
            const double to = (vk == VK_UP || vk == VK_PRIOR) ? y - step : y + step;
            if (to < 0) c = 0;
            else if (to >= s.line.height()) c = n;
            else c = s.line.index_at(x, to + s.line.line_height() / 2);
            break;
        }
        default:
            break;
    }
    st.caret = c;
    if (!extend) st.anchor = c;
    stack::top = saved;
    paint::invalidate(h);
}

void delete_key(Hwnd h, bool back, bool control) {
    State& st = state_of(h);
    std::u32string t = text_of(h);
    clamp(h, st, int32_t(t.size()));
    if (st.caret == st.anchor) {
        if (back) {
            if (st.caret == 0) return;
            st.anchor = st.caret;
            if (control) {
                int32_t c = st.caret;
                while (c > 0 && !word_char(t[size_t(c - 1)])) --c;
                while (c > 0 && word_char(t[size_t(c - 1)])) --c;
                st.caret = c;
            } else {
                st.caret -= 1;
            }
        } else {
            if (st.caret >= int32_t(t.size())) return;
            st.anchor = st.caret + 1;
        }
    }
    replace_selection(h, std::u32string());
}

std::u32string selection_text(Hwnd h) {
    State& st = state_of(h);
    const std::u32string t = text_of(h);
    clamp(h, st, int32_t(t.size()));
    const int32_t a = std::min(st.caret, st.anchor), b = std::max(st.caret, st.anchor);
    return t.substr(size_t(a), size_t(b - a));
}

// Control characters typed with Control held: select all, copy, paste,
// cut, undo.
void control_char(Hwnd h, uint32_t c) {
    State& st = state_of(h);
    switch (c) {
        case 1:
            st.anchor = 0;
            st.caret = int32_t(text_of(h).size());
            paint::invalidate(h);
            store_selection(h);
            break;
        case 3:
            if (!password(h) && st.caret != st.anchor) clip_put(selection_text(h));
            break;
        case 24:
            if (!password(h) && st.caret != st.anchor) {
                clip_put(selection_text(h));
                replace_selection(h, std::u32string());
            }
            break;
        case 22:
            replace_selection(h, clip_get());
            break;
        case 26:
            if (!st.undo.empty()) {
                const std::string before = st.undo.back();
                st.undo.pop_back();
                windows::set_text(h, before.c_str());
                st.caret = st.anchor = int32_t(to_u32(before).size());
                paint::invalidate(h);
                command(h, EN_CHANGE);
            }
            break;
        default:
            break;
    }
}

}  // namespace

void paint_edit(cairo_t* cr, Hwnd h, const Cell& face, Kind kind, double w, double height) {
    const Palette& p = palette_of(h);
    const bool enabled = windows::enabled(h);
    const bool focused = windows::focus() == h;
    uint32_t bg;
    if (!face_colour(face, &bg)) bg = enabled ? p.field : p.face;
    fill_rect(cr, 0, 0, w, height, bg);
    const bool border = !(flags_of(face) & view::FLAG_NO_BORDER);
    if (border) frame_rect(cr, 0, 0, w, height, focused ? p.accent : p.edge);
    (void)kind;
    State& st = state_of(h);
    Shown s(h, face);
    clamp(h, st, int32_t(s.text.size()));
    VBar bar;
    const bool has_bar = area_bar(h, s.line, w, height, &bar);
    const double text_w = has_bar ? w - BAR_WIDTH : w;
    // The caret is brought into view when it moved or the text changed.
    if (focused && st.caret != st.shown_caret) {
        keep_caret_visible(h, s.line, text_w, height);
        st.shown_caret = st.caret;
    }
    if (multi(h)) clamp_scroll(h, s.line, height);
    if (has_bar) bar.first = st.scroll_y;
    double ox, oy;
    origin(h, s.line, height, &ox, &oy);
    cairo_save(cr);
    cairo_rectangle(cr, 1, 1, text_w - 2, height - 2);
    cairo_clip(cr);
    const int32_t a = std::min(st.caret, st.anchor), b = std::max(st.caret, st.anchor);
    const bool show_selection = a != b && (focused || state_of(h).kind == Kind::AREA || state_of(h).kind == Kind::FIELD);
    if (s.text.empty() && !focused) {
        const std::string hint = hint_of(face);
        if (!hint.empty()) {
            TextLine t(face, hint);
            t.draw(cr, ox, oy, p.text_disabled);
        }
    }
    if (show_selection) s.line.draw_selection(cr, ox, oy, a, b, focused ? p.select : p.track);
    s.line.draw(cr, ox, oy, enabled ? ink_of(face, p) : p.text_disabled);
    if (show_selection && focused) {
        // The selected characters again, in the selection's text colour.
        cairo_save(cr);
        const int32_t l0 = s.line.line_of(a), l1 = s.line.line_of(b);
        double x0, y0, x1, y1;
        s.line.caret_at(a, &x0, &y0);
        s.line.caret_at(b, &x1, &y1);
        if (l0 == l1) {
            cairo_rectangle(cr, ox + x0, oy + y0, x1 - x0, s.line.line_height());
            cairo_clip(cr);
            s.line.draw(cr, ox, oy, p.select_text);
        }
        cairo_restore(cr);
    }
    if (focused) {
        double cx, cy;
        s.line.caret_at(st.caret, &cx, &cy);
        set_rgb(cr, p.text);
        cairo_rectangle(cr, std::floor(ox + cx), oy + cy, 1, s.line.line_height());
        cairo_fill(cr);
    }
    cairo_restore(cr);
    if (has_bar) bar.paint(cr, p);
}

void edit_facets(Hwnd h, const Cell* face, uint32_t bits) {
    State& st = state_of(h);
    if ((bits >> FACET_TEXT) & 1) {
        // The script's text (also one changed in place) becomes the window's.
        const Cell* t = face_slot(face, FACET_TEXT);
        const std::string now = t && is_any_string(t->type()) ? library::to_utf8(*t) : std::string();
        const Window* w = windows::get(h);
        if (w && w->text != now) {
            windows::set_text(h, now.c_str());
            st.caret = st.anchor = int32_t(to_u32(now).size());
            st.scroll_x = st.scroll_y = 0;
        }
    }
    if ((bits >> FACET_SELECTED) & 1) {
        const Cell* s = face_slot(face, FACET_SELECTED);
        const int32_t n = int32_t(text_of(h).size());
        if (s && s->type() == TYPE_PAIR) {
            // (start x end): characters start..end selected, 1-based.
            st.anchor = std::clamp(int32_t(s->w2) - 1, 0, n);
            st.caret = std::clamp(int32_t(s->w3), 0, n);
        } else if (s && s->type() == TYPE_NONE) {
            st.anchor = st.caret;
        }
    }
}

int32_t edit_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_CREATE: {
            // The face's text is the window's first text; the caret at its end.
            Cell face = face_of(h);
            const Cell* t = face_slot(&face, FACET_TEXT);
            if (t && is_any_string(t->type())) windows::set_text(h, library::to_utf8(*t).c_str());
            State& st = state_of(h);
            st.caret = st.anchor = int32_t(text_of(h).size());
            // An area is a multi-line edit (its class's front procedure reads it).
            if (st.kind == Kind::AREA)
                if (Window* w = windows::get(h)) w->style |= ES_MULTILINE;
            return 0;
        }
        case WM_LBUTTONDOWN: {
            windows::set_focus(h);
            if (!windows::alive(h)) return 0;
            if (bar_press(h, lo16(lparam) / scale_factor, hi16(lparam) / scale_factor)) return 0;
            State& st = state_of(h);
            st.caret = index_at_point(h, lo16(lparam), hi16(lparam));
            if (!(wparam & MK_SHIFT)) st.anchor = st.caret;
            st.tracking = true;
            windows::set_capture(h);
            paint::invalidate(h);
            return 0;
        }
        case WM_LBUTTONDBLCLK: {
            // A double click selects the word under the pointer.
            State& st = state_of(h);
            const std::u32string t = text_of(h);
            int32_t a = index_at_point(h, lo16(lparam), hi16(lparam)), b = a;
            while (a > 0 && word_char(t[size_t(a - 1)])) --a;
            while (b < int32_t(t.size()) && word_char(t[size_t(b)])) ++b;
            st.anchor = a;
            st.caret = b;
            store_selection(h);
            paint::invalidate(h);
            return 0;
        }
        case WM_MOUSEMOVE: {
            State& st = state_of(h);
            if (st.drag_part == 1 && (wparam & MK_LBUTTON)) {
                bar_drag(h, hi16(lparam) / scale_factor);
                return 0;
            }
            if (st.tracking && (wparam & MK_LBUTTON)) {
                const int32_t c = index_at_point(h, lo16(lparam), hi16(lparam));
                if (c != st.caret) {
                    st.caret = c;
                    paint::invalidate(h);
                }
            }
            return 0;
        }
        case WM_LBUTTONUP: {
            State& st = state_of(h);
            if (st.drag_part == 1) {
                st.drag_part = 0;
                windows::release_capture();
                return 0;
            }
            if (st.tracking) windows::release_capture();
            st.tracking = false;
            store_selection(h);
            return 0;
        }
        case WM_MOUSEWHEEL: {
            if (!multi(h)) return 0;
            State& st = state_of(h);
            const int32_t notches = hi16(int32_t(wparam)) / WHEEL_DELTA;
            st.scroll_y = std::max(0.0, st.scroll_y - notches * 3 * 15.0);
            paint::invalidate(h);
            return 0;
        }
        case WM_KEYDOWN: {
            const uint32_t keys = keyboard::key_state(true);
            const bool shift = keys & EVT_SHIFT, control = keys & EVT_CONTROL;
            switch (wparam) {
                case VK_LEFT:
                case VK_RIGHT:
                case VK_HOME:
                case VK_END:
                case VK_UP:
                case VK_DOWN:
                case VK_PRIOR:
                case VK_NEXT:
                    move_caret(h, wparam, shift, control);
                    return 0;
                case VK_BACK:
                case VK_DELETE:
                    delete_key(h, wparam == VK_BACK, control);
                    return 0;
                case 'A':
                    // Control+A (an area's character for it is held back).
                    if (control) control_char(h, 1);
                    return 0;
                default:
                    return 0;
            }
        }
        case WM_KEYUP:
            store_selection(h);
            return 0;
        case WM_CHAR: {
            const uint32_t c = wparam;
            if (c == 1) return 0;  // by its key-down
            if (c < 32 && c != '\r' && c != '\t') {
                control_char(h, c);
                return 0;
            }
            if (c == 127) return 0;
            if (c >= 0xD800 && c <= 0xDBFF) {
                state_of(h).high_unit = c;  // the high half of a pair waits
                return 0;
            }
            char32_t ch = char32_t(c == '\r' ? '\n' : c);
            if (c >= 0xDC00 && c <= 0xDFFF) {
                const uint32_t hi = state_of(h).high_unit;
                state_of(h).high_unit = 0;
                if (hi < 0xD800 || hi > 0xDBFF) return 0;
                ch = char32_t(0x10000 + ((hi - 0xD800) << 10) + (c - 0xDC00));
            }
            if (ch == U'\n' && !multi(h)) return 0;
            replace_selection(h, std::u32string(1, ch));
            return 0;
        }
        default:
            break;
    }
    return control_default(h, message, wparam, lparam);
}

}  // namespace kiv::gui::controls
