// The shape sub-dialect: a path language of pen moves (`move`, `line`,
// `hline`, `vline`, `arc`, `curve`, `curv`, `qcurve`, `qcurv`, `close`).
// A command written as a word takes absolute coordinates, as a lit-word
// coordinates relative to the current point. The path is built as Cairo's
// current path; `shape` paints it, `clip` clips with it.
#include <cmath>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "gui/draw/draw_context.h"
#include "runtime/cycles.h"
#include "runtime/stack.h"

namespace kiv::draw {

namespace {

constexpr double PI = 3.14159265358979323846;

struct P {
    double x, y;
};

bool next_point(Walk& w, P* p) {
    if (!w.more() || !is_point(w.peek())) return false;
    point_of(w.at(w.pos++), &p->x, &p->y);
    return true;
}

double need_number(Context& c, Walk& w) {
    if (!w.more() || !is_number(w.peek())) invalid_at(c, w, w.pos);
    return number_of(w.at(w.pos++));
}

// The endpoint arc (from the current point to (x, y)) as a centre arc.
void endpoint_arc(Context& c, double x, double y, double rx, double ry, double degrees, bool sweep, bool large) {
    double x1 = c.cur_x, y1 = c.cur_y;
    rx = std::fabs(rx), ry = std::fabs(ry);
    if (!std::isfinite(rx) || !std::isfinite(ry) || !std::isfinite(degrees)) return;
    if ((x1 == x && y1 == y)) return;
    if (rx == 0 || ry == 0) {
        path_line(c, x, y);
        return;
    }
    double phi = std::fmod(degrees, 360.0) * PI / 180, cp = std::cos(phi), sp = std::sin(phi);
    double dx = (x1 - x) / 2, dy = (y1 - y) / 2;
    double x1p = cp * dx + sp * dy, y1p = -sp * dx + cp * dy;
    // Radii too small to reach are scaled up.
    double lambda = (x1p * x1p) / (rx * rx) + (y1p * y1p) / (ry * ry);
    if (lambda > 1) {
        double k = std::sqrt(lambda);
        rx *= k, ry *= k;
    }
    double num = rx * rx * ry * ry - rx * rx * y1p * y1p - ry * ry * x1p * x1p;
    double den = rx * rx * y1p * y1p + ry * ry * x1p * x1p;
    double co = den == 0 ? 0 : std::sqrt(std::max(0.0, num / den));
    if (large == sweep) co = -co;
    double cxp = co * rx * y1p / ry, cyp = -co * ry * x1p / rx;
    double cx = cp * cxp - sp * cyp + (x1 + x) / 2, cy = sp * cxp + cp * cyp + (y1 + y) / 2;
    auto angle = [](double ux, double uy, double vx, double vy) {
        return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
    };
    double t1 = angle(1, 0, (x1p - cxp) / rx, (y1p - cyp) / ry);
    double dt = angle((x1p - cxp) / rx, (y1p - cyp) / ry, (-x1p - cxp) / rx, (-y1p - cyp) / ry);
    if (!sweep && dt > 0) dt -= 2 * PI;
    if (sweep && dt < 0) dt += 2 * PI;
    path_arc(c, cx, cy, rx, ry, phi, t1, t1 + dt, false);
    path_line(c, x, y);
}

void begin_figure(Context& c) {
    path_move(c, c.cur_x, c.cur_y);
}

// Curve segments: n points each (n - 1 when smooth); a smooth segment's
// first control point reflects the last control point of the curve before.
void curves(Context& c, Walk& w, uint32_t kw_pos, bool rel, bool cubic, bool smooth) {
    int per = (cubic ? 3 : 2) - (smooth ? 1 : 0);
    std::vector<P> pts;
    P p;
    uint32_t first = w.pos;
    while (next_point(w, &p)) pts.push_back(p);
    if (int(pts.size()) < per) invalid_at(c, w, smooth && !cubic ? kw_pos : first);
    for (size_t i = 0; i + per <= pts.size(); i += per) {
        double ox = rel ? c.cur_x : 0, oy = rel ? c.cur_y : 0;
        P ctl[3];
        int k = 0;
        if (smooth) {
            ctl[k++] = c.last_was_curve ? P{2 * c.cur_x - c.last_cx, 2 * c.cur_y - c.last_cy} : P{c.cur_x, c.cur_y};
        }
        for (int j = 0; j < per; ++j) ctl[k++] = P{pts[i + j].x + ox, pts[i + j].y + oy};
        if (cubic) {
            path_curve(c, ctl[0].x, ctl[0].y, ctl[1].x, ctl[1].y, ctl[2].x, ctl[2].y);
            c.last_cx = ctl[1].x, c.last_cy = ctl[1].y;
            c.cur_x = ctl[2].x, c.cur_y = ctl[2].y;
        } else {
            // The quadratic piece as a cubic one.
            double x0 = c.cur_x, y0 = c.cur_y;
            path_curve(c, x0 + 2.0 / 3 * (ctl[0].x - x0), y0 + 2.0 / 3 * (ctl[0].y - y0),
                           ctl[1].x + 2.0 / 3 * (ctl[0].x - ctl[1].x), ctl[1].y + 2.0 / 3 * (ctl[0].y - ctl[1].y),
                           ctl[1].x, ctl[1].y);
            c.last_cx = ctl[0].x, c.last_cy = ctl[0].y;
            c.cur_x = ctl[1].x, c.cur_y = ctl[1].y;
        }
        c.last_was_curve = true;
    }
}

Unwind walk_shape(Context& c, const Cell& blk) {
    if (cycles::find(blk.w2)) infinite(c, blk);
    cycles::push(blk.w2);
    Cell* saved_top = stack::top;
    stack::push(blk);  // reachable while walked (see parse_draw)
    Walk w{blk, blk.w1, blk.w1 + block::cells_length(&blk)};
    while (w.more()) {
        Cell v = w.at(w.pos);
        uint32_t kw_pos = w.pos;
        if (v.type() == TYPE_SET_WORD) {
            Cell rest = w.blk;
            rest.w1 = w.pos + 1;
            if (Unwind code = context::set_in(&v, &rest, v.w1, true).code) [[unlikely]] {
                cycles::pop();  // the exit's target trimmed the stacks
                return code;
            }
            ++w.pos;
            w.tail = w.blk.w1 + block::cells_length(&w.blk);
            continue;
        }
        if (v.type() == TYPE_BLOCK) {
            ++w.pos;
            if (Unwind code = walk_shape(c, v)) [[unlikely]] {
                cycles::pop();
                return code;
            }
            continue;
        }
        if (v.type() != TYPE_WORD && v.type() != TYPE_LIT_WORD) invalid_at(c, w, w.pos);
        bool rel = v.type() == TYPE_LIT_WORD;
        int kw = keyword(v);
        ++w.pos;
        P p;
        switch (kw) {
            case KW_MOVE:
                if (!next_point(w, &p)) invalid_at(c, w, w.pos);
                c.cur_x = p.x + (rel ? c.cur_x : 0), c.cur_y = p.y + (rel ? c.cur_y : 0);
                begin_figure(c);
                c.last_was_curve = false;
                break;
            case KW_LINE:
                if (!next_point(w, &p)) invalid_at(c, w, w.pos);
                do {
                    c.cur_x = p.x + (rel ? c.cur_x : 0), c.cur_y = p.y + (rel ? c.cur_y : 0);
                    path_line(c, c.cur_x, c.cur_y);
                } while (next_point(w, &p));
                c.last_was_curve = false;
                break;
            case KW_HLINE:
                c.cur_x = need_number(c, w) + (rel ? c.cur_x : 0);
                path_line(c, c.cur_x, c.cur_y);
                break;
            case KW_VLINE:
                c.cur_y = need_number(c, w) + (rel ? c.cur_y : 0);
                path_line(c, c.cur_x, c.cur_y);
                break;
            case KW_ARC: {
                if (!next_point(w, &p)) invalid_at(c, w, w.pos);
                double rx = need_number(c, w), ry = need_number(c, w), angle = need_number(c, w);
                bool sweep = false, large = false;
                while (w.more() && w.peek().type() == TYPE_WORD) {
                    int k = keyword(w.peek());
                    if (k == KW_SWEEP)
                        sweep = true;
                    else if (k == KW_LARGE)
                        large = true;
                    else
                        break;
                    ++w.pos;
                }
                double x = p.x + (rel ? c.cur_x : 0), y = p.y + (rel ? c.cur_y : 0);
                endpoint_arc(c, x, y, rx, ry, angle, sweep, large);
                c.cur_x = x, c.cur_y = y;
                break;
            }
            case KW_CURVE: curves(c, w, kw_pos, rel, true, false); break;
            case KW_CURV: curves(c, w, kw_pos, rel, true, true); break;
            case KW_QCURVE: curves(c, w, kw_pos, rel, false, false); break;
            case KW_QCURV: curves(c, w, kw_pos, rel, false, true); break;
            case KW_CLOSE:
                path_close(c);
                begin_figure(c);
                break;
            default:
                invalid_at(c, w, kw_pos);
        }
    }
    stack::top = saved_top;
    cycles::pop();
    return UNWIND_NONE;
}

}  // namespace

Unwind parse_shape(Context& c, const Cell& block, bool for_clip) {
    path_clear(c);
    c.cur_x = c.cur_y = 0;
    c.last_was_curve = false;
    begin_figure(c);
    if (Unwind code = walk_shape(c, block)) return code;
    if (!for_clip) paint_path(c, nullptr);
    return UNWIND_NONE;
}

}  // namespace kiv::draw
