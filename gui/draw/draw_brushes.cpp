// Pens and fills: solid colours, gradients (stop list and offset forms),
// pattern and bitmap brushes, fitting to shapes, and the stroke style.
#include <algorithm>
#include <cmath>
#include <vector>

#include "datatypes/block.h"
#include "gui/draw/draw_context.h"
#include "gui/draw/draw_device.h"

#include "gui/draw/draw_cairo_calls.h"

namespace kiv::draw {

namespace {

constexpr int MAX_STOPS = 256;

struct Stop {
    uint32_t colour;
    double offset;
    bool has_offset;
};

bool word_kw(const Cell& v, int kw) {
    return v.type() == TYPE_WORD && keyword(v) == kw;
}

double finite_or(double v, double fallback) {
    return std::isfinite(v) ? v : fallback;
}

// Positions: a running position from 0.0 with step 1 / (n - 1); a stop with
// its own offset takes it and moves the running position there.
//
// The gradient is defined over [0, 1]: before the first stop it has the
// first stop's colour, after the last the last stop's. Repeated and
// reflected gradients wrap that whole interval, so the end colours are
// given as stops at 0 and 1; without them Cairo would blend the last stop
// into the first one of the next period. Cairo keeps stops of equal
// offset in the order they were added: the stop at 0 goes first, the one
// at 1 last.
void add_stops(cairo_pattern_t* p, const std::vector<Stop>& stops) {
    if (stops.empty()) return;
    double step = stops.size() > 1 ? 1.0 / double(stops.size() - 1) : 0.0;
    double run = 0.0;
    std::vector<double> at(stops.size());
    size_t first = 0, last = 0;
    for (size_t i = 0; i < stops.size(); ++i) {
        const Stop& s = stops[i];
        double a = run;
        if (s.has_offset) {
            a = s.offset;
            run = s.offset;
        } else {
            run += step;
        }
        at[i] = std::clamp(finite_or(a, 0.0), 0.0, 1.0);
        if (at[i] < at[first]) first = i;
        if (at[i] >= at[last]) last = i;
    }
    auto add = [p](double offset, uint32_t colour) {
        Rgba c = to_rgba(colour);
        cairo_pattern_add_color_stop_rgba(p, offset, c.r, c.g, c.b, c.a);
    };
    if (at[first] > 0.0) add(0.0, stops[first].colour);
    for (size_t i = 0; i < stops.size(); ++i) add(at[i], stops[i].colour);
    if (at[last] < 1.0) add(1.0, stops[last].colour);
}

void install(Brush& b, cairo_pattern_t* p, int type, int kind) {
    if (p && cairo_pattern_status(p) != CAIRO_STATUS_SUCCESS) {
        cairo_pattern_destroy(p);
        p = nullptr;
    }
    b.set_pattern(p);
    b.type = type;
    b.kind = kind;
    b.transform = Matrix{};
    b.base = Matrix{};
}

// A gradient pattern. Radial and diamond gradients are circles: the centre,
// the radius and a focal point where the gradient starts.
cairo_pattern_t* gradient(int kind, const double* g, bool has_focal) {
    for (int i = 0; i < 6; ++i)
        if (!std::isfinite(g[i])) return nullptr;
    if (kind == GRADIENT_LINEAR) return cairo_pattern_create_linear(g[0], g[1], g[2], g[3]);
    double r = std::fabs(g[2]);
    double fx = has_focal ? g[3] : g[0], fy = has_focal ? g[4] : g[1];
    return cairo_pattern_create_radial(fx, fy, 0.0, g[0], g[1], r);
}

// Makes the gradient and installs it as the brush; a gradient Cairo cannot
// make installs a clear brush instead and gives false.
bool install_gradient(Brush& b, int type, int kind, const double* g, bool has_focal,
                      const std::vector<Stop>& stops, cairo_extend_t extend) {
    cairo_pattern_t* p = gradient(kind, g, has_focal);
    if (!p) {
        install(b, cairo_pattern_create_rgba(0, 0, 0, 0), type, kind);
        return false;
    }
    add_stops(p, stops);
    cairo_pattern_set_extend(p, extend);
    install(b, p, type, kind);
    return true;
}

// The offset form: offset point, start and stop integers, up to three
// numbers (angle, scale x, scale y), then the colours.
void parse_offset_gradient(Context& c, Walk& w, Brush& b, int kind) {
    double ox, oy;
    point_of(w.at(w.pos++), &ox, &oy);
    double se[2];
    for (double& v : se) {
        Cell n = w.peek();
        if (n.type() != TYPE_INTEGER) invalid_at(c, w, w.pos);
        v = number_of(n);
        ++w.pos;
    }
    double nums[3] = {0.0, 1.0, 1.0};
    for (int i = 0; i < 3 && w.more() && is_number(w.peek()); ++i) nums[i] = number_of(w.at(w.pos++));
    uint32_t after_numbers = w.pos;
    std::vector<Stop> stops;
    while (w.more()) {
        Cell v = w.peek();
        uint32_t colour;
        if (v.type() == TYPE_FLOAT) {
            if (!stops.empty()) {
                stops.back().offset = v.get_f64();
                stops.back().has_offset = true;
            }
        } else if (colour_of(v, &colour)) {
            if (stops.size() >= MAX_STOPS) invalid_at(c, w, w.pos);
            stops.push_back({colour, 0.0, false});
        } else {
            break;
        }
        ++w.pos;
    }
    if (stops.size() < 2) invalid_at(c, w, after_numbers);
    double s = se[0], e = se[1];
    double g[6];
    if (kind == GRADIENT_LINEAR) {
        g[0] = ox + s, g[1] = oy, g[2] = ox + e, g[3] = oy;
    } else {
        g[0] = ox, g[1] = oy, g[2] = e - s;
    }
    g[4] = g[5] = 0;
    if (kind != GRADIENT_LINEAR) g[3] = 0;
    if (!install_gradient(b, BRUSH_GRADIENT, kind, g, false, stops, CAIRO_EXTEND_PAD)) return;
    Matrix t;
    if (nums[0] != 0.0) t = rotate(t, float(nums[0]), 0, 0, true);
    if (nums[1] != 1.0 || nums[2] != 1.0) t = scale(t, float(nums[1]), float(nums[2]), 0, 0, true);
    b.transform = t;
}

void parse_gradient(Context& c, Walk& w, Brush& b, int kind) {
    if (w.more() && is_point(w.peek())) return parse_offset_gradient(c, w, b, kind);
    std::vector<Stop> stops;
    auto take_offset = [&] {
        if (w.more() && w.peek().type() == TYPE_FLOAT) {
            stops.back().offset = w.peek().get_f64();
            stops.back().has_offset = true;
            ++w.pos;
        }
    };
    // The first two places must hold colours; then colours while they come.
    for (int i = 0; i < 2; ++i) {
        uint32_t colour;
        if (!w.more() || !colour_of(w.peek(), &colour)) invalid_at(c, w, w.pos);
        stops.push_back({colour, 0.0, false});
        ++w.pos;
        take_offset();
    }
    uint32_t colour;
    while (w.more() && colour_of(w.peek(), &colour)) {
        if (stops.size() >= MAX_STOPS) invalid_at(c, w, w.pos);
        stops.push_back({colour, 0.0, false});
        ++w.pos;
        take_offset();
    }
    // Geometry, all optional.
    double g[6] = {0, 0, 1, 0, 0, 0};
    bool unit = true, has_focal = false;
    auto need_point = [&](double* x, double* y) {
        if (!w.more() || !is_point(w.peek())) invalid_at(c, w, w.pos);
        point_of(w.at(w.pos++), x, y);
    };
    if (w.more() && is_point(w.peek())) {
        unit = false;
        point_of(w.at(w.pos++), &g[0], &g[1]);
        if (kind == GRADIENT_LINEAR) {
            need_point(&g[2], &g[3]);
        } else if (kind == GRADIENT_RADIAL) {
            if (!w.more() || !is_number(w.peek())) invalid_at(c, w, w.pos);
            g[2] = number_of(w.at(w.pos++));
            if (w.more() && is_point(w.peek())) {
                point_of(w.at(w.pos++), &g[3], &g[4]);
                has_focal = true;
            }
        } else {
            // Diamond: the centre, a point on the rim (its distance is the
            // radius), an optional focal point.
            double rx, ry;
            need_point(&rx, &ry);
            g[2] = std::hypot(rx - g[0], ry - g[1]);
            if (w.more() && is_point(w.peek())) {
                point_of(w.at(w.pos++), &g[3], &g[4]);
                has_focal = true;
            }
        }
    } else if (kind != GRADIENT_LINEAR) {
        g[0] = 1, g[1] = 1, g[2] = 1;  // unit circle of centre (1, 1)
    }
    cairo_extend_t extend = CAIRO_EXTEND_PAD;
    if (w.more()) {
        Cell v = w.peek();
        if (word_kw(v, KW_PAD)) {
            ++w.pos;
        } else if (word_kw(v, KW_REPEAT)) {
            extend = CAIRO_EXTEND_REPEAT;
            ++w.pos;
        } else if (word_kw(v, KW_REFLECT)) {
            extend = CAIRO_EXTEND_REFLECT;
            ++w.pos;
        }
    }
    install_gradient(b, unit ? BRUSH_UNIT_GRADIENT : BRUSH_GRADIENT, kind, g, has_focal, stops, extend);
}

// Optional start and end points and mode word of pattern and bitmap brushes.
struct TileArgs {
    bool has_start = false, has_end = false;
    double sx = 0, sy = 0, ex = 0, ey = 0;
    int mode = KW_TILE;
};

void parse_tile_args(Walk& w, TileArgs& a) {
    if (w.more() && is_point(w.peek())) {
        point_of(w.at(w.pos++), &a.sx, &a.sy);
        a.has_start = true;
        if (w.more() && is_point(w.peek())) {
            point_of(w.at(w.pos++), &a.ex, &a.ey);
            a.has_end = true;
        }
    }
    if (w.more() && w.peek().type() == TYPE_WORD) {
        int kw = keyword(w.peek());
        if (kw == KW_TILE || kw == KW_FLIP_X || kw == KW_FLIP_Y || kw == KW_FLIP_XY || kw == KW_CLAMP) {
            a.mode = kw;
            ++w.pos;
        }
    }
}

// The source rectangle of an image brush over content of the given size.
bool tile_rect(const TileArgs& a, double width, double height, int r[4]) {
    double l = a.has_start ? a.sx : 0, t = a.has_start ? a.sy : 0;
    double rt = a.has_end ? std::min(a.ex, width) : width, b = a.has_end ? std::min(a.ey, height) : height;
    if (!std::isfinite(l) || !std::isfinite(t) || !std::isfinite(rt) || !std::isfinite(b)) return false;
    if (rt - l < 1 || b - t < 1) return false;
    l = std::clamp(l, -1e6, 1e6);
    t = std::clamp(t, -1e6, 1e6);
    r[0] = int(std::floor(l));
    r[1] = int(std::floor(t));
    r[2] = int(std::min(double(MAX_SURFACE_SIDE), std::ceil(rt - l)));
    r[3] = int(std::min(double(MAX_SURFACE_SIDE), std::ceil(b - t)));
    return true;
}

// Makes the image brush from a tile surface (consumed) whose pixel (0, 0)
// lies at (l, t) of brush space.
void make_image_brush(Brush& b, cairo_surface_t* tile, int l, int t, int mode) {
    if (!tile) {
        install(b, nullptr, BRUSH_IMAGE, GRADIENT_NONE);
        return;
    }
    int w = cairo_image_surface_get_width(tile), h = cairo_image_surface_get_height(tile);
    cairo_extend_t extend = CAIRO_EXTEND_REPEAT;
    if (mode == KW_FLIP_XY) extend = CAIRO_EXTEND_REFLECT;
    if (mode == KW_CLAMP) extend = CAIRO_EXTEND_PAD;
    if (mode == KW_FLIP_X || mode == KW_FLIP_Y) {
        // Mirroring along one axis only: a tile of twice the size holding the
        // tile and its mirror image, repeated.
        bool x = mode == KW_FLIP_X;
        cairo_surface_t* big = new_surface(x ? 2 * w : w, x ? h : 2 * h);
        if (big) {
            cairo_t* cr = cairo_create(big);
            cairo_set_source_surface(cr, tile, 0, 0);
            cairo_paint(cr);
            cairo_matrix_t m;
            if (x)
                cairo_matrix_init(&m, -1, 0, 0, 1, 2 * w, 0);
            else
                cairo_matrix_init(&m, 1, 0, 0, -1, 0, 2 * h);
            cairo_set_matrix(cr, &m);
            cairo_set_source_surface(cr, tile, 0, 0);
            cairo_paint(cr);
            cairo_destroy(cr);
            cairo_surface_destroy(tile);
            tile = big;
        }
    }
    cairo_pattern_t* p = cairo_pattern_create_for_surface(tile);
    cairo_surface_destroy(tile);
    cairo_pattern_set_extend(p, extend);
    cairo_pattern_set_filter(p, CAIRO_FILTER_BILINEAR);
    install(b, p, BRUSH_IMAGE, GRADIENT_NONE);
    b.base = Matrix::translation(float(l), float(t));
}

Unwind parse_pattern(Context& c, Walk& w, bool is_fill) {
    if (!w.more() || !is_point(w.peek())) invalid_at(c, w, w.pos);
    double width, height;
    point_of(w.at(w.pos++), &width, &height);
    TileArgs a;
    parse_tile_args(w, a);
    if (!w.more() || w.peek().type() != TYPE_BLOCK) invalid_at(c, w, w.pos);
    Cell commands = w.at(w.pos++);
    int r[4] = {0, 0, 0, 0};
    cairo_surface_t* tile = tile_rect(a, width, height, r) ? new_surface(r[2], r[3]) : nullptr;
    // Owned here until the brush takes it, also when the block raises an error.
    struct Owned {
        cairo_surface_t* s;
        ~Owned() {
            if (s) cairo_surface_destroy(s);
        }
    } owned{tile};
    if (tile) {
        // Record the block's drawing on the tile: its own Cairo context, the
        // identity matrix, a saved state that the block cannot leak out of.
        cairo_surface_set_device_offset(tile, -r[0], -r[1]);
        State saved = c.st;
        cairo_t* outer = c.cr;
        c.cr = cairo_create(tile);
        c.st.matrix = Matrix{};
        c.st.clip_count = 0;
        struct Restore {
            Context& c;
            cairo_t* outer;
            State& saved;
            ~Restore() {
                cairo_destroy(c.cr);
                c.cr = outer;
                c.st = saved;
            }
        } restore{c, outer, saved};
        if (Unwind code = parse_draw(c, commands, false)) return code;
    }
    if (tile) cairo_surface_set_device_offset(tile, 0, 0);
    owned.s = nullptr;
    Brush& target = is_fill ? c.st.fill : c.st.pen;
    make_image_brush(target, tile, r[0], r[1], a.mode);
    return UNWIND_NONE;
}

void parse_bitmap(Context& c, Walk& w, Brush& b) {
    Cell v = w.peek();
    if (!w.more() || v.type() != TYPE_WORD) invalid_at(c, w, w.pos);
    Cell img = word_value(v);
    if (img.type() != TYPE_IMAGE) invalid_at(c, w, w.pos);
    ++w.pos;
    TileArgs a;
    parse_tile_args(w, a);
    cairo_surface_t* surface = image_surface(c, img);
    if (!surface) {
        b.type = BRUSH_OFF;
        return;
    }
    int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
    int r[4] = {0, 0, 0, 0};
    cairo_surface_t* tile = nullptr;
    if (tile_rect(a, width, height, r)) {
        tile = new_surface(r[2], r[3]);
        if (tile) {
            cairo_t* cr = cairo_create(tile);
            cairo_set_source_surface(cr, surface, -r[0], -r[1]);
            cairo_paint(cr);
            cairo_destroy(cr);
        }
    }
    cairo_surface_destroy(surface);
    make_image_brush(b, tile, r[0], r[1], a.mode);
}

}  // namespace

Unwind parse_pen(Context& c, Walk& w, bool is_fill) {
    Brush& b = is_fill ? c.st.fill : c.st.pen;
    if (!w.more()) invalid_at(c, w, w.pos);
    Cell v = w.peek();
    int kw = v.type() == TYPE_WORD ? keyword(v) : KW_NONE;
    switch (kw) {
        case KW_LINEAR:
        case KW_RADIAL:
        case KW_DIAMOND:
            ++w.pos;
            parse_gradient(c, w, b,
                           kw == KW_LINEAR ? GRADIENT_LINEAR : kw == KW_RADIAL ? GRADIENT_RADIAL : GRADIENT_DIAMOND);
            break;
        case KW_PATTERN:
            ++w.pos;
            return parse_pattern(c, w, is_fill);
        case KW_BITMAP:
            ++w.pos;
            parse_bitmap(c, w, b);
            break;
        case KW_OFF:
            ++w.pos;
            b.type = BRUSH_OFF;
            break;
        default: {
            uint32_t colour;
            if (!colour_of(v, &colour)) invalid_at(c, w, w.pos);
            ++w.pos;
            if (b.type != BRUSH_SOLID) install(b, nullptr, BRUSH_SOLID, GRADIENT_NONE);
            b.colour = colour;
            if (!is_fill && !c.st.font_has_colour) c.st.font_colour = colour;
        }
    }
    return UNWIND_NONE;
}

void parse_line_pattern(Context& c, Walk& w) {
    c.st.dashes.clear();
    while (w.more() && w.peek().type() == TYPE_INTEGER) {
        c.st.dashes.push_back(double(std::abs(int64_t(int32_t(w.peek().w2)))));
        ++w.pos;
    }
}

void set_stroke_style(Context& c) {
    cairo_t* cr = c.cr;
    double lw = c.st.line_width;
    cairo_set_line_width(cr, lw);
    static const cairo_line_cap_t caps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_SQUARE, CAIRO_LINE_CAP_ROUND};
    cairo_set_line_cap(cr, caps[std::clamp(c.st.line_cap, 0, 2)]);
    static const cairo_line_join_t joins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_BEVEL, CAIRO_LINE_JOIN_ROUND,
                                              CAIRO_LINE_JOIN_MITER};
    cairo_set_line_join(cr, joins[std::clamp(c.st.line_join, 0, 3)]);
    cairo_set_miter_limit(cr, 10.0);
    // Dash lengths are multiples of the line width; a pattern of zeros is solid.
    double sum = 0;
    for (double d : c.st.dashes) sum += d;
    if (c.st.dashes.empty() || sum <= 0 || lw <= 0) {
        cairo_set_dash(cr, nullptr, 0, 0);
        return;
    }
    double dashes[64];
    size_t n = std::min<size_t>(c.st.dashes.size(), 64);
    for (size_t i = 0; i < n; ++i) dashes[i] = c.st.dashes[i] * lw;
    cairo_set_dash(cr, dashes, int(n), 0);
}

// Whether Cairo can render the pattern under `full`, the matrix from device
// pixels to pattern space: its pixel pipeline keeps coordinates and matrix
// entries in 16.16 fixed point, so the pattern's geometry must land within
// about 32,000 pixels of the origin and its scale must stay moderate.
bool renderable(cairo_pattern_t* p, const cairo_matrix_t& full) {
    constexpr double LIMIT = 30000;
    const double k[] = {full.xx, full.yx, full.xy, full.yy, full.x0, full.y0};
    for (double v : k)
        if (!std::isfinite(v) || std::fabs(v) > LIMIT) return false;
    double det = full.xx * full.yy - full.xy * full.yx;
    if (!std::isfinite(det) || std::fabs(det) < 1e-9) return false;
    cairo_matrix_t to_device = full;
    if (cairo_matrix_invert(&to_device) != CAIRO_STATUS_SUCCESS) return false;
    auto near = [&](double x, double y) {
        cairo_matrix_transform_point(&to_device, &x, &y);
        return std::isfinite(x) && std::isfinite(y) && std::fabs(x) < LIMIT && std::fabs(y) < LIMIT;
    };
    double x0, y0, r0, x1, y1, r1;
    switch (cairo_pattern_get_type(p)) {
        case CAIRO_PATTERN_TYPE_LINEAR:
            cairo_pattern_get_linear_points(p, &x0, &y0, &x1, &y1);
            return near(x0, y0) && near(x1, y1);
        case CAIRO_PATTERN_TYPE_RADIAL:
            cairo_pattern_get_radial_circles(p, &x0, &y0, &r0, &x1, &y1, &r1);
            return near(x0, y0) && near(x1, y1) && near(x1 + r1, y1) && near(x1, y1 + r1) &&
                   near(x1 - r1, y1) && near(x1, y1 - r1);
        default:
            return true;
    }
}

bool source_renderable(cairo_t* cr) {
    cairo_pattern_t* p = cairo_get_source(cr);
    cairo_matrix_t to_pattern, device;
    cairo_pattern_get_matrix(p, &to_pattern);
    cairo_get_matrix(cr, &device);
    if (cairo_matrix_invert(&device) != CAIRO_STATUS_SUCCESS) return false;
    cairo_matrix_t full;
    cairo_matrix_multiply(&full, &device, &to_pattern);
    return renderable(p, full);
}

bool use_brush(Context& c, const Brush& b, double l, double t, double r, double bo) {
    if (b.type == BRUSH_SOLID) {
        Rgba col = to_rgba(b.colour);
        cairo_set_source_rgba(c.cr, col.r, col.g, col.b, col.a);
        return true;
    }
    if (!b.pattern) return false;
    Matrix m = b.base;
    if (b.type == BRUSH_UNIT_GRADIENT) {
        if (l > r) std::swap(l, r);
        if (t > bo) std::swap(t, bo);
        float w = float(r - l), h = float(bo - t);
        if (b.kind == GRADIENT_LINEAR) {
            m = Matrix{w, 0, 0, 1, 0, 0};
        } else if (b.kind == GRADIENT_RADIAL) {
            float k = std::min(w / 2, h / 2);
            m = Matrix{k, 0, 0, k, w / 2 - k, h / 2 - k};
        }
    }
    m = multiply(m, b.transform, false);
    if (b.type >= BRUSH_UNIT_GRADIENT) {
        if (l > r) std::swap(l, r);
        if (t > bo) std::swap(t, bo);
        m = translate(m, float(l), float(t), false);
    }
    // Cairo's pattern matrix maps drawing space to pattern space.
    if (!m.invert()) return false;
    cairo_matrix_t cm = m.to_cairo();
    if (cairo_matrix_invert(&cm) != CAIRO_STATUS_SUCCESS) return false;
    cm = m.to_cairo();
    // Cairo renders patterns in fixed point: a brush whose pattern space is
    // too large or too small against the pixels (a gradient fitted to a
    // shape of astronomic size) paints nothing rather than fail.
    cairo_matrix_t device;
    cairo_get_matrix(c.cr, &device);
    if (cairo_matrix_invert(&device) != CAIRO_STATUS_SUCCESS) return false;
    cairo_matrix_t full;
    cairo_matrix_multiply(&full, &device, &cm);
    if (!renderable(b.pattern, full)) return false;
    cairo_pattern_set_matrix(b.pattern, &cm);
    cairo_set_source(c.cr, b.pattern);
    return true;
}

}  // namespace kiv::draw
