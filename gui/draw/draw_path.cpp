// Paths of the Draw dialect: built in drawing coordinates, handed to Cairo
// in device pixels.
//
// Cairo's image pipeline keeps coordinates in fixed point (24.8 for paths,
// 16.16 in the rasteriser), so device coordinates must stay within about
// 32,000 pixels of the origin. A path whose points all lie within LIMIT goes
// to Cairo as it is. Otherwise it is flattened and cut to the square
// [-LIMIT, LIMIT]: polygon clipping for filling (edges along the square are
// far outside every surface) and segment clipping for stroking (pieces
// outside the square are not drawn, and the pen is narrower than the margin
// between the square and the largest surface).
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "gui/draw/draw_context.h"

#include "gui/draw/draw_cairo_calls.h"

namespace kiv::draw {

namespace {

constexpr double LIMIT = 24000;

struct P {
    double x, y;
};

struct Sub {
    std::vector<P> pts;
    bool closed = false;
};

// The device path as polylines; curves are flattened in pieces from their
// control polygon's length.
std::vector<Sub> flatten(const std::vector<PathSeg>& dev) {
    std::vector<Sub> subs;
    P cur{0, 0}, start{0, 0};
    for (const PathSeg& s : dev) {
        switch (s.type) {
            case CAIRO_PATH_MOVE_TO:
                subs.push_back({{{s.p[0], s.p[1]}}, false});
                cur = start = {s.p[0], s.p[1]};
                break;
            case CAIRO_PATH_LINE_TO:
                if (subs.empty()) subs.push_back({{cur}, false});
                subs.back().pts.push_back({s.p[0], s.p[1]});
                cur = {s.p[0], s.p[1]};
                break;
            case CAIRO_PATH_CURVE_TO: {
                if (subs.empty()) subs.push_back({{cur}, false});
                P p0 = cur, p1{s.p[0], s.p[1]}, p2{s.p[2], s.p[3]}, p3{s.p[4], s.p[5]};
                double len = std::hypot(p1.x - p0.x, p1.y - p0.y) + std::hypot(p2.x - p1.x, p2.y - p1.y) +
                             std::hypot(p3.x - p2.x, p3.y - p2.y);
                int n = int(std::clamp(len / 4, 4.0, 1024.0));
                for (int i = 1; i <= n; ++i) {
                    double t = double(i) / n, u = 1 - t;
                    double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
                    subs.back().pts.push_back(
                        {a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
                }
                cur = p3;
                break;
            }
            default:
                if (!subs.empty()) subs.back().closed = true;
                cur = start;
                subs.push_back({{cur}, false});
        }
    }
    return subs;
}

// Sutherland-Hodgman: the polygon cut to the square.
std::vector<P> clip_polygon(const std::vector<P>& in) {
    std::vector<P> poly = in, out;
    for (int edge = 0; edge < 4; ++edge) {
        auto inside = [edge](P p) {
            switch (edge) {
                case 0: return p.x >= -LIMIT;
                case 1: return p.x <= LIMIT;
                case 2: return p.y >= -LIMIT;
                default: return p.y <= LIMIT;
            }
        };
        auto cross = [edge](P a, P b) {
            double k = edge < 2 ? ((edge == 0 ? -LIMIT : LIMIT) - a.x) / (b.x - a.x)
                                : ((edge == 2 ? -LIMIT : LIMIT) - a.y) / (b.y - a.y);
            return P{a.x + (b.x - a.x) * k, a.y + (b.y - a.y) * k};
        };
        out.clear();
        for (size_t i = 0; i < poly.size(); ++i) {
            P a = poly[i], b = poly[(i + 1) % poly.size()];
            bool ia = inside(a), ib = inside(b);
            if (ia) out.push_back(a);
            if (ia != ib) out.push_back(cross(a, b));
        }
        poly.swap(out);
        if (poly.empty()) break;
    }
    return poly;
}

// Liang-Barsky: the part of segment a-b inside the square, or false.
bool clip_segment(P& a, P& b) {
    double t0 = 0, t1 = 1, dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x + LIMIT, LIMIT - a.x, a.y + LIMIT, LIMIT - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        double r = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, r);
        else
            t1 = std::min(t1, r);
        if (t0 > t1) return false;
    }
    P na{a.x + t0 * dx, a.y + t0 * dy}, nb{a.x + t1 * dx, a.y + t1 * dy};
    a = na, b = nb;
    return true;
}

}  // namespace

bool prepare_path(Context& c) {
    cairo_matrix_t m;
    cairo_get_matrix(c.cr, &m);
    c.device.clear();
    c.device_in_range = true;
    for (const PathSeg& s : c.path) {
        PathSeg d = s;
        int n = s.type == CAIRO_PATH_CURVE_TO ? 3 : s.type == CAIRO_PATH_CLOSE_PATH ? 0 : 1;
        for (int k = 0; k < n; ++k) {
            double x = s.p[2 * k], y = s.p[2 * k + 1];
            cairo_matrix_transform_point(&m, &x, &y);
            if (!std::isfinite(x) || !std::isfinite(y)) {
                c.path.clear();
                c.device.clear();
                return false;
            }
            if (std::fabs(x) > LIMIT || std::fabs(y) > LIMIT) c.device_in_range = false;
            d.p[2 * k] = x, d.p[2 * k + 1] = y;
        }
        c.device.push_back(d);
    }
    c.path.clear();
    return true;
}

void emit_device(Context& c, EmitMode mode) {
    cairo_t* cr = c.cr;
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    cairo_identity_matrix(cr);
    cairo_new_path(cr);
    if (c.device_in_range) {
        for (const PathSeg& s : c.device) {
            switch (s.type) {
                case CAIRO_PATH_MOVE_TO: cairo_move_to(cr, s.p[0], s.p[1]); break;
                case CAIRO_PATH_LINE_TO: cairo_line_to(cr, s.p[0], s.p[1]); break;
                case CAIRO_PATH_CURVE_TO: cairo_curve_to(cr, s.p[0], s.p[1], s.p[2], s.p[3], s.p[4], s.p[5]); break;
                default: cairo_close_path(cr);
            }
        }
    } else {
        for (const Sub& sub : flatten(c.device)) {
            if (sub.pts.size() < 2) continue;
            if (mode == EMIT_FILL) {
                std::vector<P> poly = clip_polygon(sub.pts);
                if (poly.size() < 3) continue;
                cairo_move_to(cr, poly[0].x, poly[0].y);
                for (size_t i = 1; i < poly.size(); ++i) cairo_line_to(cr, poly[i].x, poly[i].y);
                cairo_close_path(cr);
                continue;
            }
            // Stroking: the visible runs of segments, each its own subpath.
            size_t n = sub.pts.size(), segs = sub.closed ? n : n - 1;
            bool all_inside = true, open_run = false;
            P last{0, 0};
            for (size_t i = 0; i < segs; ++i) {
                P a = sub.pts[i], b = sub.pts[(i + 1) % n], ca = a, cb = b;
                if (!clip_segment(ca, cb)) {
                    all_inside = false;
                    open_run = false;
                    continue;
                }
                bool cut_a = ca.x != a.x || ca.y != a.y, cut_b = cb.x != b.x || cb.y != b.y;
                if (cut_a || cut_b) all_inside = false;
                if (!open_run || cut_a || ca.x != last.x || ca.y != last.y) cairo_move_to(cr, ca.x, ca.y);
                cairo_line_to(cr, cb.x, cb.y);
                last = cb;
                open_run = !cut_b;
            }
            if (sub.closed && all_inside) cairo_close_path(cr);
        }
    }
    cairo_set_matrix(cr, &m);
}

}  // namespace kiv::draw
