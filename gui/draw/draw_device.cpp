#include "gui/draw/draw_device.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "gui/draw/draw_cairo_calls.h"

namespace kiv::draw {

Rgba to_rgba(uint32_t colour) {
    return Rgba{(colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0, ((colour >> 16) & 0xFF) / 255.0,
                (255 - (colour >> 24)) / 255.0};
}

uint32_t to_pixel(uint32_t colour) {
    uint32_t a = 255 - (colour >> 24);
    auto pm = [a](uint32_t c) { return (c * a + 127) / 255; };
    return a << 24 | pm(colour & 0xFF) << 16 | pm((colour >> 8) & 0xFF) << 8 | pm((colour >> 16) & 0xFF);
}

cairo_surface_t* wrap_pixels(uint8_t* pixels, int width, int height, int stride) {
    need_device();
    return cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, stride);
}

cairo_surface_t* new_surface(int width, int height) {
    need_device();
    width = std::clamp(width, 1, MAX_SURFACE_SIDE);
    height = std::clamp(height, 1, MAX_SURFACE_SIDE);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

namespace {

// One box pass of radius r over n values with the given step, in place.
void box_pass(float* line, int n, int r, std::vector<float>& tmp) {
    if (r <= 0 || n <= 0) return;
    tmp.assign(line, line + n);
    double sum = 0;
    const double inv = 1.0 / (2 * r + 1);
    for (int i = -r; i <= r; ++i) sum += (i >= 0 && i < n) ? tmp[i] : 0;
    for (int i = 0; i < n; ++i) {
        line[i] = float(sum * inv);
        int add = i + r + 1, sub = i - r;
        if (add < n) sum += tmp[add];
        if (sub >= 0) sum -= tmp[sub];
    }
}

// Box radii of three passes whose combination approximates the Gaussian.
void box_radii(double sigma, int r[3]) {
    double wi = std::sqrt(12 * sigma * sigma / 3 + 1);
    int wl = int(std::floor(wi));
    if (wl % 2 == 0) --wl;
    int wu = wl + 2;
    double mi = (12 * sigma * sigma - 3.0 * wl * wl - 4.0 * 3 * wl - 3 * 3) / (-4.0 * wl - 4);
    int m = int(std::lround(mi));
    for (int i = 0; i < 3; ++i) r[i] = ((i < m ? wl : wu) - 1) / 2;
}

}  // namespace

void blur_surface(cairo_surface_t* surface, double sigma) {
    if (!(sigma > 0.0) || !std::isfinite(sigma)) return;
    sigma = std::min(sigma, 1000.0);
    cairo_surface_flush(surface);
    int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    int stride = cairo_image_surface_get_stride(surface);
    uint8_t* data = cairo_image_surface_get_data(surface);
    if (!data || w <= 0 || h <= 0) return;
    int r[3];
    box_radii(sigma, r);
    // The colour is uniform in a shadow, so only coverage is blurred; the
    // pixels are written back as premultiplied colour scaled by the new alpha
    // over the old one, keeping the colour of the source.
    std::vector<float> alpha(size_t(w) * h), line, tmp;
    uint32_t colour = 0;
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
        for (int x = 0; x < w; ++x) {
            alpha[size_t(y) * w + x] = float(row[x] >> 24);
            if ((row[x] >> 24) == 255 && !colour) colour = row[x];
            if (!colour && (row[x] >> 24)) colour = row[x];
        }
    }
    for (int y = 0; y < h; ++y)
        for (int k = 0; k < 3; ++k) box_pass(&alpha[size_t(y) * w], w, r[k], tmp);
    line.resize(h);
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) line[y] = alpha[size_t(y) * w + x];
        for (int k = 0; k < 3; ++k) box_pass(line.data(), h, r[k], tmp);
        for (int y = 0; y < h; ++y) alpha[size_t(y) * w + x] = line[y];
    }
    // The straight colour of the source (premultiplied pixel divided by its alpha).
    uint32_t ca = colour >> 24;
    double cr = 0, cg = 0, cb = 0;
    if (ca) {
        cr = ((colour >> 16) & 0xFF) * 255.0 / ca;
        cg = ((colour >> 8) & 0xFF) * 255.0 / ca;
        cb = (colour & 0xFF) * 255.0 / ca;
    }
    for (int y = 0; y < h; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
        for (int x = 0; x < w; ++x) {
            double a = std::clamp(double(alpha[size_t(y) * w + x]), 0.0, 255.0);
            auto c = [a](double v) { return uint32_t(std::lround(std::min(255.0, v) * a / 255.0)); };
            row[x] = uint32_t(std::lround(a)) << 24 | c(cr) << 16 | c(cg) << 8 | c(cb);
        }
    }
    cairo_surface_mark_dirty(surface);
}

namespace {

// Homography of the unit square onto a quadrilateral (p0 top-left, p1
// top-right, p2 bottom-right, p3 bottom-left): (u, v) -> (x, y).
bool square_to_quad(const double q[8], double m[9]) {
    double x0 = q[0], y0 = q[1], x1 = q[2], y1 = q[3], x2 = q[4], y2 = q[5], x3 = q[6], y3 = q[7];
    double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
    double sx = x0 - x1 + x2 - x3, sy = y0 - y1 + y2 - y3;
    double g = 0, h = 0;
    if (sx != 0 || sy != 0) {
        double det = dx1 * dy2 - dx2 * dy1;
        if (det == 0) return false;
        g = (sx * dy2 - dx2 * sy) / det;
        h = (dx1 * sy - sx * dy1) / det;
    }
    m[0] = x1 - x0 + g * x1;  // a
    m[1] = x3 - x0 + h * x3;  // b
    m[2] = x0;                // c
    m[3] = y1 - y0 + g * y1;  // d
    m[4] = y3 - y0 + h * y3;  // e
    m[5] = y0;                // f
    m[6] = g;
    m[7] = h;
    m[8] = 1;
    return true;
}

bool invert3(const double m[9], double o[9]) {
    double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                 m[2] * (m[3] * m[7] - m[4] * m[6]);
    if (det == 0 || !std::isfinite(det)) return false;
    o[0] = (m[4] * m[8] - m[5] * m[7]) / det;
    o[1] = (m[2] * m[7] - m[1] * m[8]) / det;
    o[2] = (m[1] * m[5] - m[2] * m[4]) / det;
    o[3] = (m[5] * m[6] - m[3] * m[8]) / det;
    o[4] = (m[0] * m[8] - m[2] * m[6]) / det;
    o[5] = (m[2] * m[3] - m[0] * m[5]) / det;
    o[6] = (m[3] * m[7] - m[4] * m[6]) / det;
    o[7] = (m[1] * m[6] - m[0] * m[7]) / det;
    o[8] = (m[0] * m[4] - m[1] * m[3]) / det;
    return true;
}

}  // namespace

void warp_quad(cairo_surface_t* src, double sx, double sy, double sw, double sh, cairo_surface_t* dst,
               const double quad[8], const double clip[4]) {
    for (int i = 0; i < 8; ++i)
        if (!std::isfinite(quad[i])) return;
    if (!(sw > 0) || !(sh > 0)) return;
    double m[9], inv[9];
    if (!square_to_quad(quad, m) || !invert3(m, inv)) return;
    cairo_surface_flush(src);
    cairo_surface_flush(dst);
    const uint8_t* sdata = cairo_image_surface_get_data(src);
    uint8_t* ddata = cairo_image_surface_get_data(dst);
    int swid = cairo_image_surface_get_width(src), shei = cairo_image_surface_get_height(src);
    int sstride = cairo_image_surface_get_stride(src);
    int dw = cairo_image_surface_get_width(dst), dh = cairo_image_surface_get_height(dst);
    int dstride = cairo_image_surface_get_stride(dst);
    if (!sdata || !ddata) return;
    double minx = quad[0], maxx = quad[0], miny = quad[1], maxy = quad[1];
    for (int i = 1; i < 4; ++i) {
        minx = std::min(minx, quad[2 * i]);
        maxx = std::max(maxx, quad[2 * i]);
        miny = std::min(miny, quad[2 * i + 1]);
        maxy = std::max(maxy, quad[2 * i + 1]);
    }
    int x0 = int(std::max({0.0, std::floor(minx), clip[0]}));
    int y0 = int(std::max({0.0, std::floor(miny), clip[1]}));
    int x1 = int(std::min({double(dw), std::ceil(maxx), clip[2]}));
    int y1 = int(std::min({double(dh), std::ceil(maxy), clip[3]}));
    auto texel = [&](int x, int y) -> uint32_t {
        x = std::clamp(x, 0, swid - 1);
        y = std::clamp(y, 0, shei - 1);
        uint32_t p;
        std::memcpy(&p, sdata + size_t(y) * sstride + size_t(x) * 4, 4);
        return p;
    };
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(ddata + size_t(y) * dstride);
        for (int x = x0; x < x1; ++x) {
            double px = x + 0.5, py = y + 0.5;
            double w = inv[6] * px + inv[7] * py + inv[8];
            if (w == 0) continue;
            double u = (inv[0] * px + inv[1] * py + inv[2]) / w;
            double v = (inv[3] * px + inv[4] * py + inv[5]) / w;
            if (!(u >= 0 && u < 1 && v >= 0 && v < 1)) continue;
            // Bilinear sample in source pixels, inside the source rectangle.
            double fx = sx + u * sw - 0.5, fy = sy + v * sh - 0.5;
            fx = std::clamp(fx, sx, sx + sw - 1);
            fy = std::clamp(fy, sy, sy + sh - 1);
            int ix = int(std::floor(fx)), iy = int(std::floor(fy));
            double ax = fx - ix, ay = fy - iy;
            uint32_t p00 = texel(ix, iy), p10 = texel(ix + 1, iy), p01 = texel(ix, iy + 1),
                     p11 = texel(ix + 1, iy + 1);
            uint32_t out = 0;
            for (int sh8 = 0; sh8 < 32; sh8 += 8) {
                double c = ((p00 >> sh8) & 0xFF) * (1 - ax) * (1 - ay) + ((p10 >> sh8) & 0xFF) * ax * (1 - ay) +
                           ((p01 >> sh8) & 0xFF) * (1 - ax) * ay + ((p11 >> sh8) & 0xFF) * ax * ay;
                out |= uint32_t(std::clamp(std::lround(c), 0l, 255l)) << sh8;
            }
            // Source-over onto the premultiplied destination.
            uint32_t sa = out >> 24, d = row[x], res = 0;
            for (int sh8 = 0; sh8 < 32; sh8 += 8) {
                uint32_t s = (out >> sh8) & 0xFF, dc = (d >> sh8) & 0xFF;
                res |= std::min(255u, s + (dc * (255 - sa) + 127) / 255) << sh8;
            }
            row[x] = res;
        }
    }
    cairo_surface_mark_dirty(dst);
}

}  // namespace kiv::draw
