// The commands of the Draw dialect: argument rules, primitives, images,
// transformations, clips and shadows.
#include <algorithm>
#include <cmath>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "gui/draw/draw_context.h"
#include "gui/draw/draw_device.h"

#include "gui/draw/draw_cairo_calls.h"

namespace kiv::draw {

namespace {

constexpr double PI = 3.14159265358979323846;

struct Pt {
    double x, y;
};

// ---- Argument readers -----------------------------------------------------------------------------

Pt need_point(Context& c, Walk& w) {
    if (!w.more() || !is_point(w.peek())) invalid_at(c, w, w.pos);
    Pt p;
    point_of(w.at(w.pos++), &p.x, &p.y);
    return p;
}

double need_number(Context& c, Walk& w) {
    if (!w.more() || !is_number(w.peek())) invalid_at(c, w, w.pos);
    return number_of(w.at(w.pos++));
}

// A scale factor: a number or a percent!.
double need_factor(Context& c, Walk& w) {
    Cell v = w.peek();
    if (!w.more() || !(is_number(v) || v.type() == TYPE_PERCENT)) invalid_at(c, w, w.pos);
    ++w.pos;
    return number_of(v);
}

bool take_point(Walk& w, Pt* p) {
    if (!w.more() || !is_point(w.peek())) return false;
    point_of(w.at(w.pos++), &p->x, &p->y);
    return true;
}

bool take_number(Walk& w, double* v) {
    if (!w.more() || !is_number(w.peek())) return false;
    *v = number_of(w.at(w.pos++));
    return true;
}

// The keyword of the word at the position; any other value is refused.
int need_keyword(Context& c, Walk& w) {
    if (!w.more() || w.peek().type() != TYPE_WORD) invalid_at(c, w, w.pos);
    return keyword(w.at(w.pos++));
}

Cell need_block(Context& c, Walk& w) {
    if (!w.more() || w.peek().type() != TYPE_BLOCK) invalid_at(c, w, w.pos);
    return w.at(w.pos++);
}

// Saves the drawing state and restores it when the scope ends, by error
// too (nothing when `on` is false).
class SavedState {
public:
    explicit SavedState(Context& c, bool on = true) : c_(c), on_(on) {
        if (on_) state_push(c_, saved_);
    }
    ~SavedState() {
        if (on_) state_pop(c_, saved_);
    }
    SavedState(const SavedState&) = delete;
    SavedState& operator=(const SavedState&) = delete;

private:
    Context& c_;
    bool on_;
    State saved_;
};

bool take_word(Walk& w, int kw) {
    if (!w.more() || w.peek().type() != TYPE_WORD || keyword(w.peek()) != kw) return false;
    ++w.pos;
    return true;
}

std::vector<Pt> take_points(Walk& w) {
    std::vector<Pt> pts;
    Pt p;
    while (take_point(w, &p)) pts.push_back(p);
    return pts;
}

// ---- Painting -------------------------------------------------------------------------------------

bool matrix_usable(const Context& c) {
    cairo_matrix_t m = c.st.matrix.to_cairo();
    return c.st.matrix.finite() && cairo_matrix_invert(&m) == CAIRO_STATUS_SUCCESS;
}

}  // namespace

void path_clear(Context& c) {
    c.path.clear();
}
void path_move(Context& c, double x, double y) {
    c.path.push_back({CAIRO_PATH_MOVE_TO, {x, y, 0, 0, 0, 0}});
}
void path_line(Context& c, double x, double y) {
    c.path.push_back({CAIRO_PATH_LINE_TO, {x, y, 0, 0, 0, 0}});
}
void path_curve(Context& c, double x1, double y1, double x2, double y2, double x3, double y3) {
    c.path.push_back({CAIRO_PATH_CURVE_TO, {x1, y1, x2, y2, x3, y3}});
}
void path_close(Context& c) {
    c.path.push_back({CAIRO_PATH_CLOSE_PATH, {0, 0, 0, 0, 0, 0}});
}

namespace {

void ellipse_path(Context& c, double l, double t, double w, double h) {
    double rx = w / 2, ry = h / 2;
    path_arc(c, l + rx, t + ry, rx, ry, 0, 0, 2 * PI, true);
    path_close(c);
}

void rounded_rect_path(Context& c, double l, double t, double w, double h, double r) {
    r = std::min({r, w / 2, h / 2});
    if (!(r > 0)) {
        path_move(c, l, t);
        path_line(c, l + w, t);
        path_line(c, l + w, t + h);
        path_line(c, l, t + h);
        path_close(c);
        return;
    }
    path_arc(c, l + w - r, t + r, r, r, 0, -PI / 2, 0, true);
    path_arc(c, l + w - r, t + h - r, r, r, 0, 0, PI / 2, false);
    path_arc(c, l + r, t + h - r, r, r, 0, PI / 2, PI, false);
    path_arc(c, l + r, t + r, r, r, 0, PI, 3 * PI / 2, false);
    path_close(c);
}

}  // namespace

// Appends an elliptical arc of centre (cx, cy), radii rx and ry, turned by
// phi radians, from parametric angle a to e, as cubic pieces of at most a
// quarter turn each.
void path_arc(Context& c, double cx, double cy, double rx, double ry, double phi, double a, double e, bool move) {
    double span = e - a;
    if (!std::isfinite(span)) return;
    int n = int(std::ceil(std::fabs(span) / (PI / 2) - 1e-9));
    n = std::clamp(n, 1, 8);
    double step = span / n;
    double k = 4.0 / 3.0 * std::tan(step / 4);
    double cp = std::cos(phi), sp = std::sin(phi);
    auto at = [&](double x, double y, double* ox, double* oy) {
        *ox = cx + x * cp - y * sp;
        *oy = cy + x * sp + y * cp;
    };
    double x0, y0;
    at(rx * std::cos(a), ry * std::sin(a), &x0, &y0);
    if (move)
        path_move(c, x0, y0);
    else
        path_line(c, x0, y0);
    for (int i = 0; i < n; ++i) {
        double t0 = a + step * i, t1 = t0 + step;
        double c0 = std::cos(t0), s0 = std::sin(t0), c1 = std::cos(t1), s1 = std::sin(t1);
        double p[6];
        at(rx * (c0 - k * s0), ry * (s0 + k * c0), &p[0], &p[1]);
        at(rx * (c1 + k * s1), ry * (s1 - k * c1), &p[2], &p[3]);
        at(rx * c1, ry * s1, &p[4], &p[5]);
        path_curve(c, p[0], p[1], p[2], p[3], p[4], p[5]);
    }
}

void paint_path(Context& c, const double* fit, bool fill_allowed) {
    cairo_t* cr = c.cr;
    if (!matrix_usable(c) || !prepare_path(c)) {
        path_clear(c);
        return;
    }
    set_stroke_style(c);
    // Figures are filled by the alternate rule: a region inside an even
    // number of loops (the centre of a five-point star) stays empty. Only
    // clip paths use the winding rule (push_clip).
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    const State& s = c.st;
    bool fill = fill_allowed && s.fill.type != BRUSH_OFF, stroke = s.pen.type != BRUSH_OFF && s.line_width > 0;
    double b[4] = {0, 0, 0, 0};
    bool have = false;
    // Fitted brushes fit the shape's rectangle, or the path's stroke extents.
    auto bounds = [&] {
        if (have) return;
        have = true;
        if (fit) {
            std::copy(fit, fit + 4, b);
        } else {
            if (!c.device_in_range) emit_device(c, EMIT_STROKE);
            cairo_stroke_extents(cr, &b[0], &b[1], &b[2], &b[3]);
        }
    };
    if (c.device_in_range) {
        // One path serves both.
        emit_device(c, EMIT_FILL);
        if (fill && s.fill.type >= BRUSH_UNIT_GRADIENT) bounds();
        if (fill && use_brush(c, s.fill, b[0], b[1], b[2], b[3])) cairo_fill_preserve(cr);
        if (stroke && s.pen.type >= BRUSH_UNIT_GRADIENT) bounds();
        if (stroke && use_brush(c, s.pen, b[0], b[1], b[2], b[3]) && !stroke_in_runs(c))
            cairo_stroke_preserve(cr);
        cairo_new_path(cr);
        c.device.clear();
        return;
    }
    if (fill) {
        if (s.fill.type >= BRUSH_UNIT_GRADIENT) bounds();
        emit_device(c, EMIT_FILL);
        if (use_brush(c, s.fill, b[0], b[1], b[2], b[3])) cairo_fill(cr);
    }
    if (stroke) {
        if (s.pen.type >= BRUSH_UNIT_GRADIENT) bounds();
        emit_device(c, EMIT_STROKE);
        if (use_brush(c, s.pen, b[0], b[1], b[2], b[3])) cairo_stroke(cr);
    }
    cairo_new_path(cr);
    c.device.clear();
}

namespace {

// ---- Shadows ----------------------------------------------------------------------------------------

// Draws a box or an ellipse of bounds (l, t, w, h) through its shadows: the
// shape is drawn on a bitmap of its size plus the line width, each shadow is
// made from the bitmap's coverage (grown by the spread, blurred, coloured)
// and drawn under it, then the bitmap. `shape` adds the shape's path at
// (x, y) with the size (w, h).
// A shape too large for a bitmap is drawn without its shadows (false).
template <class Shape>
bool draw_shadowed(Context& c, double l, double t, double w, double h, Shape shape) {
    double lw = c.st.line_width, half = lw / 2;
    double bw = std::trunc(w + lw), bh = std::trunc(h + lw);
    if (!matrix_usable(c) || !std::isfinite(l) || !std::isfinite(t)) return true;
    if (!(bw >= 1) || !(bh >= 1)) return true;
    if (bw > MAX_SURFACE_SIDE || bh > MAX_SURFACE_SIDE) return false;
    cairo_surface_t* bitmap = new_surface(int(bw), int(bh));
    if (!bitmap) return false;
    cairo_t* outer = c.cr;
    Matrix m = c.st.matrix;
    c.cr = cairo_create(bitmap);
    c.st.matrix = Matrix{};
    shape(half, half);
    double fit[4] = {half, half, half + w, half + h};
    paint_path(c, fit);
    cairo_destroy(c.cr);
    c.cr = outer;
    c.st.matrix = m;
    cairo_surface_flush(bitmap);
    // The shape lies at (half, half) in the bitmap: the bitmap goes at
    // (l - half, t - half) so that the shape keeps its place.
    double x = l - half, y = t - half;
    for (const Shadow& s : c.shadows) {
        double sp = s.spread;
        double kx = (2 * sp + bw) / bw, ky = (2 * sp + bh) / bh;
        if (!(kx > 0) || !(ky > 0) || !std::isfinite(kx) || !std::isfinite(ky)) continue;
        double sigma = std::min(1000.0, std::max(0.0, double(s.blur)) / 1.8799711);
        int pad = int(std::ceil(3 * sigma)) + 1;
        double sw = bw * kx + 2 * pad, sh = bh * ky + 2 * pad;
        if (sw > MAX_SURFACE_SIDE || sh > MAX_SURFACE_SIDE) continue;
        cairo_surface_t* shadow = new_surface(int(std::ceil(sw)), int(std::ceil(sh)));
        if (!shadow) continue;
        cairo_t* scr = cairo_create(shadow);
        Rgba col = to_rgba(s.colour);
        cairo_set_source_rgba(scr, col.r, col.g, col.b, col.a);
        cairo_translate(scr, pad, pad);
        cairo_scale(scr, kx, ky);
        cairo_mask_surface(scr, bitmap, 0, 0);
        cairo_destroy(scr);
        blur_surface(shadow, sigma);
        cairo_set_source_surface(outer, shadow, x + s.ox - sp - pad, y + s.oy - sp - pad);
        if (source_renderable(outer)) cairo_paint(outer);
        cairo_surface_destroy(shadow);
    }
    cairo_set_source_surface(outer, bitmap, x, y);
    if (source_renderable(outer)) cairo_paint(outer);
    cairo_surface_destroy(bitmap);
    return true;
}

// ---- Primitives -----------------------------------------------------------------------------------

void draw_box(Context& c, Pt a, Pt b, double radius) {
    double l = std::min(a.x, b.x), r = std::max(a.x, b.x), t = std::min(a.y, b.y), bo = std::max(a.y, b.y);
    double w = r - l, h = bo - t;
    if (!std::isfinite(radius) || radius < 0) radius = 0;
    if (c.st.shadow_on && !c.shadows.empty() &&
        draw_shadowed(c, l, t, w, h, [&](double x, double y) { rounded_rect_path(c, x, y, w, h, radius); }))
        return;
    rounded_rect_path(c, l, t, w, h, radius);
    double fit[4] = {l, t, r, bo};
    paint_path(c, fit);
}

void draw_ellipse_box(Context& c, double l, double t, double w, double h) {
    if (w < 0) {
        l += w;
        w = -w;
    }
    if (h < 0) {
        t += h;
        h = -h;
    }
    if (c.st.shadow_on && !c.shadows.empty() &&
        draw_shadowed(c, l, t, w, h, [&](double x, double y) { ellipse_path(c, x, y, w, h); }))
        return;
    ellipse_path(c, l, t, w, h);
    double fit[4] = {l, t, l + w, t + h};
    paint_path(c, fit);
}

void draw_polyline(Context& c, const std::vector<Pt>& pts, bool closed) {
    path_move(c, pts[0].x, pts[0].y);
    for (size_t i = 1; i < pts.size(); ++i) path_line(c, pts[i].x, pts[i].y);
    if (closed) path_close(c);
    paint_path(c, nullptr);
}

void draw_line(Context& c, Pt a, Pt b) {
    path_move(c, a.x, a.y);
    path_line(c, b.x, b.y);
    double fit[4] = {a.x, a.y, b.x, b.y};
    paint_path(c, fit, false);
}

void draw_arc(Context& c, Pt centre, Pt radius, double start, double sweep, bool closed) {
    double rx = radius.x, ry = radius.y;
    if (sweep >= 359.998993 || sweep <= -359.998993) {
        draw_ellipse_box(c, centre.x - rx, centre.y - ry, 2 * rx, 2 * ry);
        return;
    }
    if (!std::isfinite(start) || !std::isfinite(sweep)) return;
    start = std::fmod(start, 360.0);
    double a = start * PI / 180, e = (start + sweep) * PI / 180;
    if (rx != ry) {
        a = std::atan2(std::sin(a) * rx, std::cos(a) * ry);
        e = std::atan2(std::sin(e) * rx, std::cos(e) * ry);
    }
    // The one arc in the sweep's direction between the two points.
    if (sweep >= 0) {
        while (e < a) e += 2 * PI;
        while (e - a > 2 * PI) e -= 2 * PI;
    } else {
        while (e > a) e -= 2 * PI;
        while (a - e > 2 * PI) e += 2 * PI;
    }
    if (closed) {
        path_move(c, centre.x, centre.y);
        path_arc(c, centre.x, centre.y, rx, ry, 0, a, e, false);
        path_close(c);
    } else {
        path_arc(c, centre.x, centre.y, rx, ry, 0, a, e, true);
    }
    // An open arc is a hollow figure: only a closed one (a pie) is filled.
    // Fitted brushes fit the arc's whole ellipse.
    double fit[4] = {centre.x - rx, centre.y - ry, centre.x + rx, centre.y + ry};
    paint_path(c, fit, closed);
}

void draw_curve(Context& c, const std::vector<Pt>& p) {
    path_move(c, p[0].x, p[0].y);
    if (p.size() == 3) {
        path_curve(c, (p[0].x + 2 * p[1].x) / 3, (p[0].y + 2 * p[1].y) / 3, (2 * p[1].x + p[2].x) / 3,
                       (2 * p[1].y + p[2].y) / 3, p[2].x, p[2].y);
    } else {
        path_curve(c, p[1].x, p[1].y, p[2].x, p[2].y, p[3].x, p[3].y);
    }
    paint_path(c, nullptr, false);
}

// Catmull-Rom piece from b to c in 25 lines.
void spline_piece(Context& cx, Pt a, Pt b, Pt c, Pt d) {
    for (int i = 1; i <= 25; ++i) {
        double t = i * 0.04, t2 = t * t, t3 = t2 * t;
        auto f = [&](double A, double B, double C, double D) {
            return 0.5 * (2 * B + (C - A) * t + (2 * A - 5 * B + 4 * C - D) * t2 + (3 * (B - C) + D - A) * t3);
        };
        path_line(cx, f(a.x, b.x, c.x, d.x), f(a.y, b.y, c.y, d.y));
    }
}

void draw_spline(Context& c, const std::vector<Pt>& p, bool closed) {
    if (p.size() == 2) return draw_line(c, p[0], p[1]);
    size_t n = p.size() - 1;
    path_move(c, p[0].x, p[0].y);
    spline_piece(c, closed ? p[n] : p[0], p[0], p[1], p[2]);
    for (size_t i = 0; i + 3 <= n; ++i) spline_piece(c, p[i], p[i + 1], p[i + 2], p[i + 3]);
    if (closed) {
        spline_piece(c, p[n - 2], p[n - 1], p[n], p[0]);
        spline_piece(c, p[n - 1], p[n], p[0], p[1]);
        path_close(c);
    } else {
        spline_piece(c, p[n - 2], p[n - 1], p[n], p[n]);
    }
    paint_path(c, nullptr);
}

// ---- Images ------------------------------------------------------------------------------------------

void draw_image(Context& c, const Cell& img, const std::vector<Pt>& pts, bool crop, Pt co, Pt cs) {
    if (!matrix_usable(c)) return;
    cairo_surface_t* src = image_surface(c, img);
    if (!src) return;
    struct Free {
        cairo_surface_t* s;
        ~Free() { cairo_surface_destroy(s); }
    } free_src{src};
    double w = cairo_image_surface_get_width(src), h = cairo_image_surface_get_height(src);
    double sl = 0, st = 0, sr = w, sb = h, shift_x = 0, shift_y = 0;
    if (crop) {
        sl = std::min(co.x, co.x + cs.x), sr = std::max(co.x, co.x + cs.x);
        st = std::min(co.y, co.y + cs.y), sb = std::max(co.y, co.y + cs.y);
        if (!(sr > 0) || !(sb > 0)) return;
        if (sl <= 0) shift_x = -sl, sl = 0;
        if (st <= 0) shift_y = -st, st = 0;
        sr = std::min(sr, w), sb = std::min(sb, h);
        if (!(sr > sl) || !(sb > st)) return;
    }
    double cw = sr - sl, ch = sb - st;
    cairo_t* cr = c.cr;
    if (pts.size() <= 2) {
        double x1 = 0, y1 = 0, x2, y2;
        if (!pts.empty()) x1 = pts[0].x, y1 = pts[0].y;
        if (pts.size() == 2) {
            x2 = pts[1].x, y2 = pts[1].y;
        } else {
            x1 += shift_x, y1 += shift_y;
            x2 = x1 + cw, y2 = y1 + ch;
        }
        double kx = (x2 - x1) / cw, ky = (y2 - y1) / ch;
        if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(kx) || !std::isfinite(ky) || kx == 0 ||
            ky == 0)
            return;
        cairo_save(cr);
        cairo_translate(cr, x1, y1);
        cairo_scale(cr, kx, ky);
        path_clear(c);
        path_move(c, 0, 0);
        path_line(c, cw, 0);
        path_line(c, cw, ch);
        path_line(c, 0, ch);
        path_close(c);
        cairo_set_source_surface(cr, src, -sl, -st);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        if (source_renderable(cr) && prepare_path(c)) {
            emit_device(c, EMIT_FILL);
            cairo_fill(cr);
        }
        path_clear(c);
        cairo_new_path(cr);
        cairo_restore(cr);
        return;
    }
    // Three or four corners (a fifth and later points are not used): the
    // image is mapped projectively onto the quadrilateral, whose fourth
    // corner is (P0.x, P2.y) when only three are given.
    Pt q[4] = {pts[0], pts[1], pts[2], pts.size() >= 4 ? pts[3] : Pt{pts[0].x, pts[2].y}};
    double dq[8];
    double minx = 1e300, miny = 1e300, maxx = -1e300, maxy = -1e300;
    for (int i = 0; i < 4; ++i) {
        double x = q[i].x, y = q[i].y;
        cairo_user_to_device(cr, &x, &y);
        if (!std::isfinite(x) || !std::isfinite(y)) return;
        dq[2 * i] = x, dq[2 * i + 1] = y;
        minx = std::min(minx, x), maxx = std::max(maxx, x), miny = std::min(miny, y), maxy = std::max(maxy, y);
    }
    // Only the part over the target is drawn.
    minx = std::max(std::floor(minx), 0.0), miny = std::max(std::floor(miny), 0.0);
    maxx = std::min(std::ceil(maxx), double(c.width)), maxy = std::min(std::ceil(maxy), double(c.height));
    if (!(maxx > minx) || !(maxy > miny)) return;
    cairo_surface_t* out = new_surface(int(maxx - minx), int(maxy - miny));
    if (!out) return;
    for (int i = 0; i < 4; ++i) dq[2 * i] -= minx, dq[2 * i + 1] -= miny;
    double bounds[4] = {0, 0, maxx - minx, maxy - miny};
    warp_quad(src, sl, st, cw, ch, out, dq, bounds);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_surface(cr, out, minx, miny);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(out);
}

// ---- Transformations ------------------------------------------------------------------------------

// The optional 'pen or 'fill-pen before a transformation's arguments:
// 0 the drawing, 1 the pen, 2 the fill.
int transform_target(Context& c, Walk& w) {
    if (!w.more() || w.peek().type() != TYPE_LIT_WORD) return 0;
    int kw = keyword(w.peek());
    if (kw == KW_PEN) return ++w.pos, 1;
    if (kw == KW_FILL_PEN) return ++w.pos, 2;
    invalid_at(c, w, w.pos);
}

// Combines the matrix of the target; a brush that is solid or off keeps its own.
template <class Op>
void transform(Context& c, int target, Op op) {
    if (target == 0) {
        c.st.matrix = op(c.st.matrix);
        apply_matrix(c);
        return;
    }
    Brush& b = target == 1 ? c.st.pen : c.st.fill;
    if (b.type > BRUSH_SOLID) b.transform = op(b.transform);
}

// A transformation's optional block: the change holds only inside it.
template <class Op>
Unwind transform_command(Context& c, Walk& w, int target, Op op) {
    if (w.more() && w.peek().type() == TYPE_BLOCK) {
        Cell body = w.at(w.pos++);
        SavedState saved(c);
        transform(c, target, op);
        return parse_draw(c, body, c.catch_errors);
    }
    transform(c, target, op);
    return UNWIND_NONE;
}

// ---- Clips ----------------------------------------------------------------------------------------------

void push_clip(Context& c, bool rect, Pt a, Pt b) {
    cairo_t* cr = c.cr;
    if (rect) {
        path_clear(c);
        path_move(c, a.x, a.y);
        path_line(c, b.x, a.y);
        path_line(c, b.x, b.y);
        path_line(c, a.x, b.y);
    }
    path_close(c);
    ++c.st.clip_count;
    if (matrix_usable(c) && prepare_path(c)) {
        emit_device(c, EMIT_FILL);
    } else {
        path_clear(c);
        // A clip that cannot be computed shows nothing.
        cairo_new_path(cr);
        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_rectangle(cr, 0, 0, 0, 0);
        cairo_restore(cr);
    }
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr);
}

}  // namespace

Unwind run_command(Context& c, Walk& w, int kw, uint32_t kw_pos) {
    switch (kw) {
        case KW_PEN:
        case KW_FILL_PEN:
            return parse_pen(c, w, kw == KW_FILL_PEN);
        case KW_BOX: {
            Pt a = need_point(c, w), b = need_point(c, w);
            double r = 0;
            take_number(w, &r);
            draw_box(c, a, b, r);
            break;
        }
        case KW_LINE: {
            std::vector<Pt> pts = take_points(w);
            // One point draws nothing: it is refused as a missing second point.
            if (pts.size() < 2) invalid_at(c, w, pts.empty() ? w.pos : w.pos - 1);
            if (pts.size() == 2)
                draw_line(c, pts[0], pts[1]);
            else
                draw_polyline(c, pts, false);
            break;
        }
        case KW_LINE_WIDTH: {
            double v = need_number(c, w);
            float lw = std::isfinite(v) ? float(std::clamp(v, 0.0, 8000.0)) : 0.0f;
            State& s = c.st;
            if (lw == 0) {
                if (s.line_width != 0) s.saved_pen_type = s.pen.type;
                s.pen.type = BRUSH_OFF;
            } else if (s.line_width == 0) {
                s.pen.type = s.saved_pen_type;
            }
            s.line_width = lw;
            break;
        }
        case KW_LINE_JOIN: {
            int k = need_keyword(c, w);
            c.st.line_join = k == KW_BEVEL ? 1 : k == KW_ROUND ? 2 : k == KW_MITER_BEVEL ? 3 : 0;
            break;
        }
        case KW_LINE_CAP: {
            int k = need_keyword(c, w);
            c.st.line_cap = k == KW_SQUARE ? 1 : k == KW_ROUND ? 2 : 0;
            break;
        }
        case KW_LINE_PATTERN:
            parse_line_pattern(c, w);
            break;
        case KW_TRIANGLE: {
            std::vector<Pt> pts;
            for (int i = 0; i < 3; ++i) pts.push_back(need_point(c, w));
            draw_polyline(c, pts, true);
            break;
        }
        case KW_POLYGON: {
            std::vector<Pt> pts = take_points(w);
            if (pts.size() < 3) invalid_at(c, w, w.pos);
            draw_polyline(c, pts, true);
            break;
        }
        case KW_CIRCLE: {
            Pt ctr = need_point(c, w);
            double rx = need_number(c, w), ry = rx;
            take_number(w, &ry);
            rx = std::fabs(rx), ry = std::fabs(ry);
            draw_ellipse_box(c, ctr.x - rx, ctr.y - ry, 2 * rx, 2 * ry);
            break;
        }
        case KW_ELLIPSE: {
            Pt a = need_point(c, w), s = need_point(c, w);
            draw_ellipse_box(c, a.x, a.y, s.x, s.y);
            break;
        }
        case KW_ANTI_ALIAS: {
            c.st.antialias = need_keyword(c, w) != KW_OFF;
            cairo_set_antialias(c.cr, c.st.antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
            break;
        }
        case KW_FONT: {
            // Text is drawn by the text layer (gui/text) when it is there.
            if (!text_commands) not_supported(c, w, kw_pos);
            Cell v = w.more() ? w.peek() : none::cell();
            Cell font = v.type() == TYPE_WORD ? word_value(v) : none::cell();
            if (font.type() != TYPE_OBJECT) invalid_at(c, w, w.pos);
            ++w.pos;
            text_commands->set_font(c, font);
            break;
        }
        case KW_TEXT: {
            if (!text_commands) not_supported(c, w, kw_pos);
            Pt at = need_point(c, w);
            Cell v = w.more() ? w.peek() : none::cell();
            if (v.type() == TYPE_WORD) v = word_value(v);
            if (v.type() != TYPE_STRING && v.type() != TYPE_OBJECT) invalid_at(c, w, w.pos);
            ++w.pos;
            text_commands->text(c, at.x, at.y, v);
            break;
        }
        case KW_ARC: {
            Pt ctr = need_point(c, w), r = need_point(c, w);
            double s = need_number(c, w), sw = need_number(c, w);
            bool closed = take_word(w, KW_CLOSED);
            draw_arc(c, ctr, r, s, sw, closed);
            break;
        }
        case KW_CURVE: {
            std::vector<Pt> pts;
            for (int i = 0; i < 3; ++i) pts.push_back(need_point(c, w));
            Pt p;
            if (take_point(w, &p)) pts.push_back(p);
            draw_curve(c, pts);
            break;
        }
        case KW_SPLINE: {
            std::vector<Pt> pts = take_points(w);
            if (pts.size() < 2) invalid_at(c, w, w.pos);
            bool closed = take_word(w, KW_CLOSED);
            draw_spline(c, pts, closed);
            break;
        }
        case KW_IMAGE: {
            if (!w.more()) invalid_at(c, w, w.pos);
            Cell img = w.peek();
            if (img.type() == TYPE_WORD) img = word_value(img);
            if (img.type() != TYPE_IMAGE) invalid_at(c, w, w.pos);
            ++w.pos;
            std::vector<Pt> pts = take_points(w);
            uint32_t key;
            if (w.more() && colour_of(w.peek(), &key)) ++w.pos;  // accepted, no effect
            bool crop = false;
            Pt co{0, 0}, cs{0, 0};
            if (!take_word(w, KW_BORDER) && take_word(w, KW_CROP)) {
                crop = true;
                co = need_point(c, w);
                cs = need_point(c, w);
            }
            draw_image(c, img, pts, crop, co, cs);
            break;
        }
        case KW_SHADOW: {
            if (w.more() && w.peek().type() == TYPE_WORD) {
                if (keyword(w.peek()) != KW_OFF) invalid_at(c, w, w.pos);
                ++w.pos;
                c.st.shadow_on = false;
                if (c.shadows.size() > 1) c.shadows.resize(1);
                break;
            }
            if (!w.more() || w.peek().type() != TYPE_PAIR) invalid_at(c, w, w.pos);
            Shadow s;
            double ox, oy;
            point_of(w.at(w.pos++), &ox, &oy);
            s.ox = float(ox), s.oy = float(oy);
            if (w.more() && w.peek().type() == TYPE_INTEGER) {
                s.blur = float(number_of(w.at(w.pos++)));
                if (w.more() && w.peek().type() == TYPE_INTEGER) s.spread = float(number_of(w.at(w.pos++)));
            }
            // A word in the colour's place must hold a colour, unless it is
            // a command of the dialect, which is left for the walk.
            if (w.more() && (w.peek().type() == TYPE_TUPLE || w.peek().type() == TYPE_WORD)) {
                Cell v = w.peek();
                int k = keyword(v);
                bool command = v.type() == TYPE_WORD && k != KW_NONE && k <= KW_INVERT_MATRIX;
                if (!command) {
                    if (!colour_of(v, &s.colour)) invalid_at(c, w, w.pos);
                    ++w.pos;
                }
            }
            s.inset = take_word(w, KW_INSET);
            if (c.st.shadow_on && !c.shadows.empty()) {
                if (c.shadows.size() < 64) c.shadows.push_back(s);
            } else {
                c.shadows.assign(1, s);
            }
            c.st.shadow_on = true;
            break;
        }
        case KW_CLIP: {
            bool rect = true;
            Pt a{0, 0}, b{0, 0};
            if (w.more() && w.peek().type() == TYPE_BLOCK) {
                rect = false;
            } else {
                a = need_point(c, w);
                b = need_point(c, w);
            }
            Cell path = rect ? Cell{} : w.at(w.pos++);
            if (w.more() && w.peek().type() == TYPE_WORD) {
                int k = keyword(w.peek());
                if (k == KW_REPLACE || k == KW_INTERSECT || k == KW_UNION || k == KW_XOR || k == KW_EXCLUDE)
                    ++w.pos;
            }
            bool has_body = w.more() && w.peek().type() == TYPE_BLOCK;
            Cell body = has_body ? w.at(w.pos++) : Cell{};
            SavedState saved(c, has_body);
            if (Unwind code = rect ? UNWIND_NONE : parse_shape(c, path, true)) return code;
            push_clip(c, rect, a, b);
            if (has_body) return parse_draw(c, body, c.catch_errors);
            break;
        }
        case KW_SHAPE: {
            return parse_shape(c, need_block(c, w), false);
        }
        case KW_ROTATE: {
            int target = transform_target(c, w);
            float angle = float(need_number(c, w));
            Pt ctr{0, 0};
            take_point(w, &ctr);
            return transform_command(c, w, target, [&](const Matrix& m) {
                return rotate(m, angle, float(ctr.x), float(ctr.y), true);
            });
        }
        case KW_SCALE: {
            int target = transform_target(c, w);
            float sx = float(need_factor(c, w)), sy = float(need_factor(c, w));
            Pt ctr{0, 0};
            take_point(w, &ctr);
            return transform_command(c, w, target, [&](const Matrix& m) {
                return scale(m, sx, sy, float(ctr.x), float(ctr.y), true);
            });
        }
        case KW_TRANSLATE: {
            int target = transform_target(c, w);
            Pt p = need_point(c, w);
            return transform_command(c, w, target,
                                     [&](const Matrix& m) { return translate(m, float(p.x), float(p.y), true); });
        }
        case KW_SKEW: {
            int target = transform_target(c, w);
            float ax = float(need_number(c, w));
            double ay = 0;
            take_number(w, &ay);
            Pt ctr{0, 0};
            take_point(w, &ctr);
            return transform_command(c, w, target, [&](const Matrix& m) {
                return skew(m, ax, float(ay), float(ctr.x), float(ctr.y), true);
            });
        }
        case KW_TRANSFORM: {
            int target = transform_target(c, w);
            Pt ctr{0, 0};
            take_point(w, &ctr);
            float angle = float(need_number(c, w));
            float sx = float(need_factor(c, w)), sy = float(need_factor(c, w));
            Pt t = need_point(c, w);
            return transform_command(c, w, target, [&](const Matrix& m) {
                Matrix r = rotate(m, angle, float(ctr.x), float(ctr.y), true);
                r = scale(r, sx, sy, float(ctr.x), float(ctr.y), true);
                return translate(r, float(t.x), float(t.y), true);
            });
        }
        case KW_PUSH: {
            Cell body = need_block(c, w);
            SavedState saved(c);
            return parse_draw(c, body, c.catch_errors);
        }
        case KW_MATRIX: {
            int target = transform_target(c, w);
            uint32_t before = w.pos - 1;
            if (!w.more() || w.peek().type() != TYPE_BLOCK) invalid_at(c, w, w.pos);
            Cell blk = w.at(w.pos);
            if (block::cells_length(&blk) != 6) invalid_at(c, w, before);
            float v[6];
            for (uint32_t i = 0; i < 6; ++i) {
                Cell n = *block::cells_at(&blk, blk.w1 + i);
                if (!is_number(n)) invalid_at(c, w, before);
                v[i] = float(number_of(n));
            }
            ++w.pos;
            Matrix given{v[0], v[1], v[2], v[3], v[4], v[5]};
            transform(c, target, [&](const Matrix& m) { return multiply(m, given, true); });
            break;
        }
        case KW_RESET_MATRIX: {
            int target = transform_target(c, w);
            transform(c, target, [](const Matrix&) { return Matrix{}; });
            break;
        }
        case KW_INVERT_MATRIX: {
            int target = transform_target(c, w);
            transform(c, target, [](const Matrix& m) { return invert(m); });
            break;
        }
        default:
            raise_error(c, w, kw_pos);
    }
    return UNWIND_NONE;
}

}  // namespace kiv::draw
