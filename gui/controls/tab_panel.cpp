// Tab panels (the "SysTabControl32" class).
//
// The tabs' titles are the string-like values of the face's `data`; its
// `pane` holds one face per tab (normally a panel), whose window is a child
// of the tab panel's; `selected` is the shown tab (1-based). The panes lie
// in the display area under the tabs: 1 unit in from the left, 24 down,
// 4 narrower and 25 lower than the panel (the paddings layouts give tab
// panels). Choosing another tab asks first (TCN_SELCHANGING: a `stop` from
// the `select` event keeps the tab), then shows it (TCN_SELCHANGE).

#include <algorithm>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/point.h"
#include "gui/controls/controls.h"
#include "gui/window/accessors.h"
#include "gui/window/paint.h"
#include "gui/window/windows.h"
#include "runtime/stack.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::controls {

namespace {

constexpr double STRIP = 24;  // the height of the tabs' strip
constexpr double GAP = 16;    // a title's room beside its text

std::vector<double> tab_edges(const Cell& face, const std::vector<std::string>& titles) {
    std::vector<double> edges{2};
    for (const std::string& t : titles) {
        TextLine l(face, t);
        edges.push_back(edges.back() + std::ceil(l.width()) + GAP);
    }
    return edges;
}

// The tab under a client point (0-based), -1 when none.
int32_t tab_at(Hwnd h, int32_t px, int32_t py) {
    const double x = px / scale_factor, y = py / scale_factor;
    if (y < 0 || y >= STRIP) return -1;
    Cell* saved = stack::top;
    Cell* face = stack::push(face_of(h));
    const std::vector<double> edges = tab_edges(*face, items_of(*face));
    stack::top = saved;
    for (size_t i = 0; i + 1 < edges.size(); ++i)
        if (x >= edges[i] && x < edges[i + 1]) return int32_t(i);
    return -1;
}

int32_t tab_count(Hwnd h) {
    Cell face = face_of(h);
    return int32_t(items_of(face).size());
}

// The user picks a tab: asked, then shown.
void pick(Hwnd h, int32_t index) {
    const int32_t n = tab_count(h);
    if (index < 0 || index >= n || index == selected_of(face_of(h), 1) - 1) return;
    state_of(h).hover = index;
    if (notify(h, TCN_SELCHANGING) != 0) return;  // refused
    if (!windows::alive(h)) return;
    state_of(h).hover = index;
    notify(h, TCN_SELCHANGE);
    if (windows::alive(h)) paint::invalidate(h);
}

// `selected` made a tab number: below 1 is 1, above the count the count,
// anything else 1.
void clamp_selected(Hwnd h) {
    Cell face = face_of(h);
    const int32_t n = tab_count(h);
    const Cell* s = face_slot(&face, FACET_SELECTED);
    int32_t v = s && s->type() == TYPE_INTEGER ? integer::get(s) : 1;
    v = std::clamp(v, 1, std::max(1, n));
    if (!s || s->type() != TYPE_INTEGER || integer::get(s) != v) store_selected(h, v);
}

}  // namespace

void tab_sync_panes(Hwnd h) {
    const Window* tw = windows::get(h);
    if (!tw) return;
    Cell* saved = stack::top;
    Cell* face = stack::push(face_of(h));
    const int32_t sel = selected_of(*face, 1);
    const bool shown = tw->visible;
    const int32_t tw_w = tw->w, tw_h = tw->h;
    const Cell* p = face_slot(face, FACET_PANE);
    if (p && p->type() == TYPE_BLOCK) {
        Cell* pane = stack::push(*p);
        const uint32_t n = block::cells_length(pane);
        for (uint32_t i = 0; i < n; ++i) {
            Cell* kid = stack::push(*block::cells_at(pane, pane->w1 + i));
            const Hwnd k = face_handle_q(kid);
            if (kid->type() == TYPE_OBJECT && windows::alive(k)) {
                const double ox = 1, oy = STRIP, sw = tw_w / scale_factor - 4, sh = tw_h / scale_factor - STRIP - 1;
                if (Cell* o = face_slot(kid, FACET_OFFSET)) *o = point::make2(float(ox), float(oy));
                Cell* sz = face_slot(kid, FACET_SIZE);
                if (sz && sz->type() == TYPE_PAIR)
                    *sz = Cell{TYPE_PAIR, 0, uint32_t(int32_t(sw)), uint32_t(int32_t(sh))};
                else if (sz)
                    *sz = point::make2(float(sw), float(sh));
                windows::move(k, to_pixels(ox), to_pixels(oy), to_pixels(sw), to_pixels(sh));
                const bool on = shown && int32_t(i) + 1 == sel;
                if (Cell* v = face_slot(kid, FACET_VISIBLE)) *v = logic::cell(int32_t(i) + 1 == sel);
                windows::set_slot(k, SLOT_HIDDEN, on ? 0 : 1);
                windows::show(k, on);
                if (on) windows::to_top(k);
            }
            stack::top = pane + 1;
        }
        state_of(h).top = int32_t(n);
    }
    stack::top = saved;
    paint::invalidate(h);
}

void paint_tab_panel(cairo_t* cr, Hwnd h, const Cell& face, double w, double height) {
    const Palette& p = palette_of(h);
    State& st = state_of(h);
    // Panes made since the last look are laid out now.
    if (const Window* win = windows::get(h); win && int32_t(win->children.size()) != st.top) tab_sync_panes(h);
    const std::vector<std::string> titles = items_of(face);
    const std::vector<double> edges = tab_edges(face, titles);
    const int32_t sel = selected_of(face, 1) - 1;
    uint32_t body;
    if (!face_colour(face, &body)) body = p.field;
    fill_rect(cr, 0, STRIP - 1, w, height - STRIP + 1, body);
    frame_rect(cr, 0, STRIP - 1, w, height - STRIP + 1, p.edge);
    const bool focused = windows::focus() == h;
    const uint32_t ink = windows::enabled(h) ? ink_of(face, p) : p.text_disabled;
    for (size_t i = 0; i < titles.size(); ++i) {
        const bool on = int32_t(i) == sel;
        const double x0 = edges[i], x1 = edges[i + 1];
        const double top = on ? 0 : 2;
        fill_rect(cr, x0, top, x1 - x0, STRIP - top - (on ? 0 : 1), on ? body : p.face);
        set_rgb(cr, p.edge);
        cairo_set_line_width(cr, 1);
        cairo_move_to(cr, x0 + 0.5, STRIP - (on ? 0 : 1));
        cairo_line_to(cr, x0 + 0.5, top + 0.5);
        cairo_line_to(cr, x1 - 0.5, top + 0.5);
        cairo_line_to(cr, x1 - 0.5, STRIP - (on ? 0 : 1));
        cairo_stroke(cr);
        if (on) fill_rect(cr, x0 + 1, top + 1, x1 - x0 - 2, 2, p.accent);
        TextLine t(face, titles[i]);
        // A tab not shown lies on the palette's face colour.
        const uint32_t tab_ink = on || !windows::enabled(h) ? ink : font_colour(face, p.text);
        t.draw(cr, x0 + GAP / 2, top + (STRIP - top - t.height()) / 2, tab_ink);
        if (on && focused) focus_ring(cr, x0 + 3, top + 4, x1 - x0 - 6, STRIP - top - 6, p.edge_dark);
    }
}

void tab_facets(Hwnd h, const Cell* face, uint32_t bits) {
    (void)face;
    if ((bits >> FACET_DATA) & 1 || (bits >> FACET_SELECTED) & 1) clamp_selected(h);
    if (bits & ((1u << FACET_SELECTED) | (1u << FACET_PANE) | (1u << FACET_SIZE) | (1u << FACET_VISIBLE) |
                (1u << FACET_DATA)))
        tab_sync_panes(h);
}

int32_t tab_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_CREATE:
            clamp_selected(h);
            state_of(h).top = -1;
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            const int32_t i = tab_at(h, lo16(lparam), hi16(lparam));
            if (i < 0) return 0;
            windows::set_focus(h);
            if (windows::alive(h)) pick(h, i);
            return 0;
        }
        case WM_KEYDOWN: {
            const int32_t cur = selected_of(face_of(h), 1) - 1;
            if (wparam == VK_LEFT) pick(h, cur - 1);
            else if (wparam == VK_RIGHT) pick(h, cur + 1);
            else if (wparam == VK_HOME) pick(h, 0);
            else if (wparam == VK_END) pick(h, tab_count(h) - 1);
            return 0;
        }
        default:
            break;
    }
    return control_default(h, message, wparam, lparam);
}

}  // namespace kiv::gui::controls
