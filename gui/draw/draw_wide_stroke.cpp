// Strokes of wide pens along long polylines.
//
// Cairo's stroker joins two segments on their inner side through the
// path's own vertex, so a pen much wider than the spacing of the points
// gives the rasteriser two edges per vertex that run across the whole
// target and cross one another: its work grows with the square of the
// segment count (a spline through 8,000 points is 200,000 segments).
//
// Such a stroke is drawn in runs of a bounded number of segments: Cairo
// strokes each run into a coverage mask of the target, the masks are merged
// by taking the larger coverage, and the pen's brush is painted once
// through the merged mask, so that a translucent pen still covers each
// pixel once. Consecutive runs share the segments within a pen's width of
// their meeting point, so every joint has its whole join in one run and the
// butt end of a run inside the path lies within the next run's share of
// the stroke. The path's own ends get their caps from a stroke of a short
// piece of the end segment, cut off before the piece's far end.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "gui/draw/draw_context.h"
#include "gui/draw/draw_device.h"

#include "gui/draw/draw_cairo_calls.h"

namespace kiv::draw {

namespace {

// Segments per run, and what makes a stroke take this way: more segments
// than a run holds, a pen at least WIDE device pixels wide, and a path
// dense under the pen: the segments times the pen's width (the length of
// the edges the stroker makes) is large for the area they fall in, so that
// the edges cross many times. Other strokes are drawn by Cairo in one piece.
constexpr size_t RUN = 64, OVERLAP = 32;
constexpr double WIDE = 4.0;
constexpr double DENSE = 1e7;

struct P {
    double x, y;
};

struct Sub {
    std::vector<P> pts;
    bool closed = false;
    bool lines = false;  // a line was drawn from the start (a dot when it went nowhere)
};

// Cairo keeps path points in 24.8 fixed point: points equal there are one
// point (a segment between them is skipped, and with it its joins).
bool same_fixed(P a, P b) {
    return std::lround(a.x * 256) == std::lround(b.x * 256) &&
           std::lround(a.y * 256) == std::lround(b.y * 256);
}

// Points closer than this (in pixels) to the last one kept are left out,
// the end of each line kept: runs then meet over a few pixels of path
// whatever the spacing of the points (see stroke_in_runs).
constexpr double STEP = 0.25;

// The device path as polylines; false when it holds a curve.
bool polylines(const std::vector<PathSeg>& dev, std::vector<Sub>* out, size_t* segments) {
    P start{0, 0};
    bool skipped = false;
    P last_skipped{0, 0};
    auto finish = [&] {
        if (!skipped || out->empty()) return;
        std::vector<P>& pts = out->back().pts;
        if (pts.size() > 1)
            pts.back() = last_skipped;
        else if (!same_fixed(pts.back(), last_skipped))
            pts.push_back(last_skipped);
        skipped = false;
    };
    for (const PathSeg& s : dev) {
        switch (s.type) {
            case CAIRO_PATH_MOVE_TO:
                finish();
                out->push_back({{{s.p[0], s.p[1]}}, false});
                start = {s.p[0], s.p[1]};
                break;
            case CAIRO_PATH_LINE_TO: {
                if (out->empty()) out->push_back({{start}, false});
                out->back().lines = true;
                P q{s.p[0], s.p[1]};
                const P k = out->back().pts.back();
                if (std::hypot(q.x - k.x, q.y - k.y) < STEP) {
                    skipped = true;
                    last_skipped = q;
                } else {
                    out->back().pts.push_back(q);
                    skipped = false;
                }
                break;
            }
            case CAIRO_PATH_CLOSE_PATH:
                finish();
                if (!out->empty()) out->back().closed = true;
                out->push_back({{start}, false});
                break;
            default:
                return false;
        }
    }
    finish();
    for (const Sub& sub : *out) *segments += sub.pts.size() - 1 + (sub.closed ? 1 : 0);
    return true;
}

// The linear part of m applied to (x, y).
void apply_linear(const cairo_matrix_t& m, double* x, double* y) {
    const double u = *x, v = *y;
    *x = m.xx * u + m.xy * v;
    *y = m.yx * u + m.yy * v;
}

struct Runner {
    cairo_t* cr;            // on `tmp`, with the pen of the stroke
    cairo_surface_t* tmp;   // one run's coverage
    cairo_surface_t* mask;  // the coverage merged so far
    int x, y, w, h;         // the region of the target the masks cover
    double reach;           // how far the pen reaches from the path, in pixels
    cairo_matrix_t ctm;

    // The rows and columns of the target that points within `reach` of the
    // given ones can touch.
    void span(const P* p, size_t n, int* x0, int* y0, int* x1, int* y1) const {
        double l = p[0].x, r = p[0].x, t = p[0].y, b = p[0].y;
        for (size_t i = 1; i < n; ++i) {
            l = std::min(l, p[i].x), r = std::max(r, p[i].x);
            t = std::min(t, p[i].y), b = std::max(b, p[i].y);
        }
        *x0 = int(std::clamp(std::floor(l - reach) - x, 0.0, double(w)));
        *x1 = int(std::clamp(std::ceil(r + reach) - x, 0.0, double(w)));
        *y0 = int(std::clamp(std::floor(t - reach) - y, 0.0, double(h)));
        *y1 = int(std::clamp(std::ceil(b + reach) - y, 0.0, double(h)));
    }

    void clear(int x0, int y0, int x1, int y1) {
        cairo_surface_flush(tmp);
        uint8_t* d = cairo_image_surface_get_data(tmp);
        const int stride = cairo_image_surface_get_stride(tmp);
        for (int row = y0; row < y1; ++row) std::memset(d + size_t(row) * stride + x0, 0, size_t(x1 - x0));
        cairo_surface_mark_dirty(tmp);
    }

    void merge(int x0, int y0, int x1, int y1) {
        cairo_surface_flush(tmp);
        const uint8_t* s = cairo_image_surface_get_data(tmp);
        uint8_t* d = cairo_image_surface_get_data(mask);
        const int ss = cairo_image_surface_get_stride(tmp), ds = cairo_image_surface_get_stride(mask);
        for (int row = y0; row < y1; ++row) {
            const uint8_t* a = s + size_t(row) * ss;
            uint8_t* b = d + size_t(row) * ds;
            for (int col = x0; col < x1; ++col) b[col] = std::max(a[col], b[col]);
        }
    }

    // Strokes the points (closed: back to the first) into the mask; one
    // point is a dot.
    void stroke(const P* p, size_t n, bool closed, cairo_line_cap_t cap) {
        int x0, y0, x1, y1;
        span(p, n, &x0, &y0, &x1, &y1);
        if (x0 >= x1 || y0 >= y1) return;
        clear(x0, y0, x1, y1);
        cairo_identity_matrix(cr);
        cairo_new_path(cr);
        cairo_move_to(cr, p[0].x, p[0].y);
        for (size_t i = 1; i < n; ++i) cairo_line_to(cr, p[i].x, p[i].y);
        if (n == 1) cairo_line_to(cr, p[0].x, p[0].y);
        if (closed) cairo_close_path(cr);
        cairo_set_matrix(cr, &ctm);
        cairo_set_line_cap(cr, cap);
        cairo_stroke(cr);
        merge(x0, y0, x1, y1);
    }

    // The cap at end point `a` of the segment towards `to`: a piece of the
    // segment, two pixels long to `b`, stroked with its caps and cut to a's
    // side of the butt line through `b` (the line along the pen's cross
    // direction there). The piece of stroke it draws besides the cap the
    // runs draw too, so that no seam shows where the cap meets the path.
    void end_cap(P a, P to, cairo_line_cap_t cap) {
        const double dl = std::hypot(to.x - a.x, to.y - a.y);
        if (!(dl > 0)) return;
        const P b{a.x + 2 * (to.x - a.x) / dl, a.y + 2 * (to.y - a.y) / dl};
        cairo_matrix_t inv = ctm;
        if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return;
        double ux = b.x - a.x, uy = b.y - a.y;
        apply_linear(inv, &ux, &uy);  // the segment in drawing space
        double ex = -uy, ey = ux;
        apply_linear(ctm, &ex, &ey);  // the butt line's direction on the device
        double len = std::hypot(ex, ey);
        if (!(len > 0) || !std::isfinite(len)) return;
        ex /= len, ey /= len;
        double ox = -ey, oy = ex;  // across the butt line, towards a
        if (ox * (b.x - a.x) + oy * (b.y - a.y) > 0) ox = -ox, oy = -oy;
        const double t = 2 * (std::fabs(b.x - x) + std::fabs(b.y - y) + w + h) + 16;
        int x0, y0, x1, y1;
        P seg[2] = {a, b};
        span(seg, 2, &x0, &y0, &x1, &y1);
        if (x0 >= x1 || y0 >= y1) return;
        clear(x0, y0, x1, y1);
        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_new_path(cr);
        cairo_move_to(cr, b.x + t * ex, b.y + t * ey);
        cairo_line_to(cr, b.x - t * ex, b.y - t * ey);
        cairo_line_to(cr, b.x - t * ex + t * ox, b.y - t * ey + t * oy);
        cairo_line_to(cr, b.x + t * ex + t * ox, b.y + t * ey + t * oy);
        cairo_close_path(cr);
        cairo_clip(cr);
        cairo_move_to(cr, a.x, a.y);
        cairo_line_to(cr, b.x, b.y);
        cairo_set_matrix(cr, &ctm);
        cairo_set_line_cap(cr, cap);
        cairo_stroke(cr);
        cairo_restore(cr);
        merge(x0, y0, x1, y1);
    }
};

}  // namespace

bool stroke_in_runs(Context& c) {
    const State& s = c.st;
    if (!c.device_in_range) return false;
    double dash_sum = 0;
    for (double d : s.dashes) dash_sum += d;
    if (dash_sum > 0) return false;
    cairo_matrix_t ctm;
    cairo_get_matrix(c.cr, &ctm);
    // The pen's largest device width: the line width under the matrix's
    // larger singular value.
    const double a = ctm.xx, b = ctm.xy, cc = ctm.yx, d = ctm.yy;
    const double s1 = a * a + b * b + cc * cc + d * d, dt = a * d - b * cc;
    const double big = std::sqrt(std::max(0.0, (s1 + std::sqrt(std::max(0.0, s1 * s1 - 4 * dt * dt))) / 2));
    const double pen = s.line_width * big;
    if (!(pen >= WIDE) || !std::isfinite(pen)) return false;
    std::vector<Sub> subs;
    size_t segments = 0;
    if (!polylines(c.device, &subs, &segments) || segments <= RUN) return false;
    cairo_surface_t* target = cairo_get_target(c.cr);
    const int tw = cairo_image_surface_get_width(target), th = cairo_image_surface_get_height(target);
    if (tw <= 0 || th <= 0) return false;
    static const cairo_line_cap_t caps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_SQUARE, CAIRO_LINE_CAP_ROUND};
    static const cairo_line_join_t joins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_BEVEL,
                                              CAIRO_LINE_JOIN_ROUND, CAIRO_LINE_JOIN_MITER};
    const cairo_line_cap_t cap = caps[std::clamp(s.line_cap, 0, 2)];
    const cairo_line_join_t join = joins[std::clamp(s.line_join, 0, 3)];
    Runner r{nullptr, nullptr, nullptr, 0, 0, tw, th, 0, ctm};
    // A miter reaches up to the miter limit times the half width; a square
    // cap the half width along and across.
    r.reach = pen / 2 * (join == CAIRO_LINE_JOIN_MITER ? 10.0 : 1.5) + 2;
    // The masks cover the part of the target the stroke can reach.
    std::vector<P> all;
    for (const Sub& sub : subs) all.insert(all.end(), sub.pts.begin(), sub.pts.end());
    int x0, y0, x1, y1;
    r.span(all.data(), all.size(), &x0, &y0, &x1, &y1);
    if (x0 >= x1 || y0 >= y1) return true;  // nothing of it lands on the target
    const double area = double(x1 - x0) * double(y1 - y0), load = double(segments) * pen;
    if (area > 64.0 * 1024 * 1024 || load * load / area < DENSE) return false;
    r.x = x0, r.y = y0, r.w = x1 - x0, r.h = y1 - y0;
    r.mask = cairo_image_surface_create(CAIRO_FORMAT_A8, r.w, r.h);
    r.tmp = cairo_image_surface_create(CAIRO_FORMAT_A8, r.w, r.h);
    if (cairo_surface_status(r.mask) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_status(r.tmp) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(r.mask);
        cairo_surface_destroy(r.tmp);
        return false;
    }
    cairo_surface_set_device_offset(r.tmp, -r.x, -r.y);
    r.cr = cairo_create(r.tmp);
    cairo_set_antialias(r.cr, s.antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(r.cr, s.line_width);
    cairo_set_line_join(r.cr, join);
    cairo_set_miter_limit(r.cr, 10.0);
    for (Sub& sub : subs) {
        std::vector<P>& p = sub.pts;
        if (sub.closed && p.size() > 1 && same_fixed(p.back(), p.front())) p.pop_back();
        const size_t n = p.size();
        if (n < 2) {
            if (sub.lines) r.stroke(p.data(), 1, sub.closed, cap);
            continue;
        }
        const size_t segs = sub.closed ? n : n - 1;
        if (segs <= RUN) {
            r.stroke(p.data(), n, sub.closed, cap);
            continue;
        }
        // Runs of RUN segments, each stroked with the segments around it up
        // to a pen's width of path (at most OVERLAP more on either side, at
        // least one after): where the path turns within the pen's width,
        // what the stroke covers depends on all the segments near the turn.
        auto at = [&](long k) { return p[size_t(((k % long(n)) + long(n)) % long(n))]; };
        auto length = [&](long k) { return std::hypot(at(k + 1).x - at(k).x, at(k + 1).y - at(k).y); };
        std::vector<P> run;
        for (long i = 0; i < long(segs); i += long(RUN)) {
            const long end = std::min(i + long(RUN), long(segs));
            long first = i, last = end;  // points
            double len = 0;
            // At least a few pixels, so that the butt ends of the runs lie
            // well inside their neighbours' share.
            const double want = std::max(pen, 4.0);
            while ((sub.closed || first > 0) && (i - first < long(OVERLAP) || len < 4.0) && len < want)
                len += length(--first);
            len = 0;
            while ((sub.closed || last < long(segs)) && (last - end < long(OVERLAP) || len < 4.0) &&
                   (last == end || len < want))
                len += length(last++);
            run.clear();
            for (long k = first; k <= last; ++k) run.push_back(at(k));
            r.stroke(run.data(), run.size(), false, CAIRO_LINE_CAP_BUTT);
        }
        if (!sub.closed && cap != CAIRO_LINE_CAP_BUTT) {
            r.end_cap(p[0], p[1], cap);
            r.end_cap(p[n - 1], p[n - 2], cap);
        }
    }
    cairo_destroy(r.cr);
    cairo_surface_destroy(r.tmp);
    cairo_surface_mark_dirty(r.mask);
    // The source is the pen's brush, set in drawing space; the mask lies
    // in device pixels.
    cairo_save(c.cr);
    cairo_identity_matrix(c.cr);
    cairo_mask_surface(c.cr, r.mask, r.x, r.y);
    cairo_restore(c.cr);
    cairo_surface_destroy(r.mask);
    return true;
}

}  // namespace kiv::draw
