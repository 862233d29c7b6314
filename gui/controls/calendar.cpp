// Calendars (the "SysMonthCal32" class): a month of days; the face's `data`
// is the chosen date!. Years are kept between 1601 and 9999, when a date is
// shown and when one is read back.

#include <time.h>

#include <algorithm>
#include <cmath>

#include "datatypes/lexer_values.h"
#include "gui/controls/controls.h"
#include "gui/window/accessors.h"
#include "gui/window/paint.h"
#include "gui/window/windows.h"
#include "runtime/stack.h"
#include "gui/draw/draw_cairo_calls.h"

namespace kiv::gui::controls {

namespace {

namespace values = lexer::values;

constexpr double HEAD = 24;  // the month's title row
constexpr int32_t FIRST_YEAR = 1601, LAST_YEAR = 9999;
const char* const MONTHS[12] = {"January", "February", "March",     "April",   "May",      "June",
                                "July",    "August",   "September", "October", "November", "December"};
const char* const DAYS[7] = {"Mo", "Tu", "We", "Th", "Fr", "Sa", "Su"};

struct Ymd {
    int32_t y, m, d;
};

int32_t month_length(int32_t y, int32_t m) {
    static const int32_t n[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && values::leap_year(y) ? 29 : n[m - 1];
}

Ymd clamp_year(Ymd v) {
    if (v.y < FIRST_YEAR) v.y = FIRST_YEAR;
    if (v.y > LAST_YEAR) v.y = LAST_YEAR;
    v.d = std::min(v.d, month_length(v.y, v.m));
    return v;
}

bool date_of(const Cell& face, Ymd* out) {
    const Cell* d = face_slot(&face, FACET_DATA);
    if (!d || d->type() != TYPE_DATE) return false;
    *out = clamp_year({values::date_year(d->w1), int32_t(values::date_month(d->w1)), int32_t(values::date_day(d->w1))});
    return true;
}

Ymd today() {
    const time_t t = time(nullptr);
    tm local{};
    localtime_r(&t, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

void store_date(Hwnd h, Ymd v) {
    v = clamp_year(v);
    Cell face = face_of(h);
    if (Cell* d = face_slot(&face, FACET_DATA)) values::make_date(d, v.y, v.m, v.d, 0, 0, 0, false);
    State& st = state_of(h);
    st.month_shown = v.y * 12 + v.m - 1;
    paint::invalidate(h);
}

// The month shown: the data's, else the one last shown, else today's.
int32_t shown_month(Hwnd h, const Cell& face) {
    State& st = state_of(h);
    Ymd v;
    if (!st.month_shown) st.month_shown = date_of(face, &v) ? v.y * 12 + v.m - 1 : today().y * 12 + today().m - 1;
    return st.month_shown;
}

// Monday-based weekday (0-6) of the first of the month.
int32_t first_weekday(int32_t y, int32_t m) {
    return (values::weekday(values::date_to_days(y, m, 1)) + 6) % 7;
}

struct Grid {
    double cell_w, cell_h, top;
};

Grid grid_of(double w, double height) {
    const double top = HEAD + 18;
    return {w / 7, std::max(1.0, (height - top) / 6), top};
}

void user_chose(Hwnd h, Ymd v) {
    store_date(h, v);
    notify(h, MCN_SELCHANGE);
}

void move_month(Hwnd h, int32_t by) {
    State& st = state_of(h);
    st.month_shown = std::clamp(st.month_shown + by, FIRST_YEAR * 12, LAST_YEAR * 12 + 11);
    paint::invalidate(h);
}

}  // namespace

void paint_calendar(cairo_t* cr, Hwnd h, const Cell& face, double w, double height) {
    const Palette& p = palette_of(h);
    uint32_t bg;
    if (!face_colour(face, &bg)) bg = p.field;
    fill_rect(cr, 0, 0, w, height, bg);
    const bool focused = windows::focus() == h;
    frame_rect(cr, 0, 0, w, height, focused ? p.accent : p.edge);
    const int32_t month = shown_month(h, face);
    const int32_t y = month / 12, m = month % 12 + 1;
    const uint32_t ink = windows::enabled(h) ? ink_of(face, p) : p.text_disabled;
    {
        const std::string title = std::string(MONTHS[m - 1]) + " " + std::to_string(y);
        TextLine t(face, title);
        t.draw(cr, (w - t.width()) / 2, (HEAD - t.height()) / 2, ink);
        set_rgb(cr, p.text);
        for (int k = 0; k < 2; ++k) {
            const double cx = k == 0 ? 10 : w - 10, d = k == 0 ? 3 : -3;
            cairo_move_to(cr, cx + d, HEAD / 2 - 5);
            cairo_line_to(cr, cx + d, HEAD / 2 + 5);
            cairo_line_to(cr, cx - d, HEAD / 2);
            cairo_close_path(cr);
            cairo_fill(cr);
        }
    }
    const Grid g = grid_of(w, height);
    for (int i = 0; i < 7; ++i) {
        TextLine t(face, DAYS[i]);
        t.draw(cr, i * g.cell_w + (g.cell_w - t.width()) / 2, HEAD, p.text_disabled);
    }
    Ymd chosen{0, 0, 0};
    const bool has = date_of(face, &chosen);
    const int32_t lead = first_weekday(y, m), days = month_length(y, m);
    for (int32_t d = 1; d <= days; ++d) {
        const int32_t slot = lead + d - 1;
        const double x0 = (slot % 7) * g.cell_w, y0 = g.top + (slot / 7) * g.cell_h;
        const bool on = has && chosen.y == y && chosen.m == m && chosen.d == d;
        if (on) fill_rect(cr, x0 + 1, y0, g.cell_w - 2, g.cell_h, focused ? p.select : p.track);
        TextLine t(face, std::to_string(d));
        t.draw(cr, x0 + (g.cell_w - t.width()) / 2, y0 + (g.cell_h - t.height()) / 2, on && focused ? p.select_text : ink);
    }
}

int32_t calendar_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_CREATE: {
            // A face without a date reads the control's: today.
            Cell face = face_of(h);
            Ymd v;
            if (date_of(face, &v)) state_of(h).month_shown = v.y * 12 + v.m - 1;
            else store_date(h, today());
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            windows::set_focus(h);
            if (!windows::alive(h)) return 0;
            double w, height;
            logical_size(h, &w, &height);
            const double x = lo16(lparam) / scale_factor, y = hi16(lparam) / scale_factor;
            if (y < HEAD) {
                if (x < 24) move_month(h, -1);
                else if (x > w - 24) move_month(h, 1);
                return 0;
            }
            const Grid g = grid_of(w, height);
            if (y < g.top) return 0;
            const int32_t month = state_of(h).month_shown, yy = month / 12, mm = month % 12 + 1;
            const int32_t slot = int32_t((y - g.top) / g.cell_h) * 7 + int32_t(x / g.cell_w);
            const int32_t d = slot - first_weekday(yy, mm) + 1;
            if (d >= 1 && d <= month_length(yy, mm)) user_chose(h, {yy, mm, d});
            return 0;
        }
        case WM_MOUSEWHEEL:
            move_month(h, hi16(int32_t(wparam)) > 0 ? -1 : 1);
            return 0;
        case WM_KEYDOWN: {
            Cell face = face_of(h);
            Ymd v;
            if (!date_of(face, &v)) v = today();
            int32_t days = values::date_to_days(v.y, v.m, v.d);
            switch (wparam) {
                case VK_LEFT: days -= 1; break;
                case VK_RIGHT: days += 1; break;
                case VK_UP: days -= 7; break;
                case VK_DOWN: days += 7; break;
                case VK_PRIOR:
                case VK_NEXT: {
                    int32_t mm = v.y * 12 + v.m - 1 + (wparam == VK_PRIOR ? -1 : 1);
                    user_chose(h, {mm / 12, mm % 12 + 1, std::min(v.d, month_length(mm / 12, mm % 12 + 1))});
                    return 0;
                }
                default: return 0;
            }
            const uint32_t word = values::days_to_date(days, 0, false);
            user_chose(h, {values::date_year(word), int32_t(values::date_month(word)), int32_t(values::date_day(word))});
            return 0;
        }
        default:
            break;
    }
    return control_default(h, message, wparam, lparam);
}

}  // namespace kiv::gui::controls
