// Plane geometry and the bilinear quad warp (see image_warp.h).
#include "platform/image_warp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/image.h"

namespace kiv::geometry {

double length(Vector v) { return std::sqrt(v.x * v.x + v.y * v.y); }

Vector normalize(Vector v) {
    double l = length(v);
    return {v.x / l, v.y / l};
}

Vector vector_diff(float x1, float y1, float x2, float y2) {
    return {double(x2) - double(x1), double(y2) - double(y1)};
}

double cross(Vector a, Vector b) { return a.x * b.y - a.y * b.x; }

bool right_of_edge(float px, float py, float ax, float ay, float bx, float by) {
    return cross(vector_diff(ax, ay, px, py), vector_diff(ax, ay, bx, by)) > 0.0;
}

bool point_in_quad(const Quad& q, float px, float py) {
    for (int i = 0; i < 4; ++i) {
        const Point& a = q.p[i];
        const Point& b = q.p[(i + 1) % 4];
        if (right_of_edge(px, py, a.x, a.y, b.x, b.y)) return false;
    }
    return true;
}

void mirror_quad_x(Quad& q, float c) {
    for (Point& p : q.p) p.x = 2.0f * c - p.x;
}

void mirror_quad_y(Quad& q, float c) {
    for (Point& p : q.p) p.y = 2.0f * c - p.y;
}

bool copy_pixel_rect(const uint32_t* pixels, uint32_t width, uint32_t height, int32_t x, int32_t y, int32_t w,
                     int32_t h, uint32_t* out) {
    if (x < 0 || y < 0 || uint32_t(x) >= width || uint32_t(y) >= height) return false;
    w = int32_t(std::min<int64_t>(w, int64_t(width) - x));
    h = int32_t(std::min<int64_t>(h, int64_t(height) - y));
    for (int32_t r = 0; r < h; ++r)
        std::memcpy(out + uint64_t(r) * uint32_t(w), pixels + uint64_t(y + r) * width + uint32_t(x),
                    size_t(w) * 4);
    return true;
}

WarpResult warp(const uint32_t* pixels, uint32_t width, uint32_t height, const Quad& q) {
    WarpResult res;
    if (width < 1 || height < 1) return res;
    float minx = 3.4028234663852886e+38f, miny = minx, maxx = -minx, maxy = -minx;
    for (const Point& p : q.p) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            res.ok = false;
            return res;
        }
        minx = std::min(minx, p.x);
        maxx = std::max(maxx, p.x);
        miny = std::min(miny, p.y);
        maxy = std::max(maxy, p.y);
    }
    float fw = maxx - minx, fh = maxy - miny;
    // A box whose corner or size does not fit the integers, or whose area is
    // past the image size limit, is refused before anything is converted.
    if (!(minx > -2147483648.0f && minx < 2147483648.0f && miny > -2147483648.0f && miny < 2147483648.0f) ||
        !(fw < 65536.0f && fh < 65536.0f)) {
        res.ok = false;
        return res;
    }
    res.x = int32_t(minx);
    res.y = int32_t(miny);
    res.w = int32_t(fw);
    res.h = int32_t(fh);
    if (!os_image::fits(uint64_t(res.w), uint64_t(res.h))) {
        res.ok = false;
        return res;
    }
    Vector e[4];
    for (int i = 0; i < 4; ++i) {
        const Point& a = q.p[i];
        const Point& b = q.p[(i + 1) % 4];
        Vector d = vector_diff(a.x, a.y, b.x, b.y);
        if (!(length(d) > 0.0)) {  // a zero-length edge has no direction
            res.ok = false;
            return res;
        }
        e[i] = normalize(d);
    }
    if (res.w <= 0 || res.h <= 0) return res;
    try {
        res.pixels.assign(size_t(res.w) * size_t(res.h), 0u);
    } catch (const std::bad_alloc&) {
        res.ok = false;
        return res;
    }
    const uint8_t* src = reinterpret_cast<const uint8_t*>(pixels);
    for (int32_t r = 0; r < res.h; ++r) {
        for (int32_t c = 0; c < res.w; ++c) {
            float px = float(c + res.x), py = float(r + res.y);
            if (!point_in_quad(q, px, py)) continue;
            double d[4];
            for (int i = 0; i < 4; ++i)
                d[i] = std::fabs(cross(vector_diff(q.p[i].x, q.p[i].y, px, py), e[i]));
            float u = float(d[3] / (d[3] + d[1])) * float(width);
            float v = float(d[0] / (d[0] + d[2])) * float(height);
            if (std::isnan(u) || std::isnan(v)) {
                res.ok = false;
                res.pixels.clear();
                return res;
            }
            // Truncation toward zero keeps (-1, 0) at 0; the range test is
            // made on the floats so that no out-of-range value is converted.
            if (!(u > -1.0f && u < float(width) && v > -1.0f && v < float(height))) continue;
            int32_t iu = int32_t(u), iv = int32_t(v);
            if (iu < 0 || uint32_t(iu) >= width || iv < 0 || uint32_t(iv) >= height) continue;
            int32_t iu1 = uint32_t(iu + 1) == width ? iu : iu + 1;
            int32_t iv1 = uint32_t(iv + 1) == height ? iv : iv + 1;
            float fu = std::max(0.0f, u - float(iu)), fv = std::max(0.0f, v - float(iv));
            float w00 = (1 - fu) * (1 - fv), w10 = fu * (1 - fv), w01 = (1 - fu) * fv, w11 = fu * fv;
            const uint8_t* s00 = src + (uint64_t(iv) * width + uint32_t(iu)) * 4;
            const uint8_t* s10 = src + (uint64_t(iv) * width + uint32_t(iu1)) * 4;
            const uint8_t* s01 = src + (uint64_t(iv1) * width + uint32_t(iu)) * 4;
            const uint8_t* s11 = src + (uint64_t(iv1) * width + uint32_t(iu1)) * 4;
            uint8_t out[4];
            for (int k = 0; k < 4; ++k) {
                float acc = w00 * float(s00[k]);
                acc += w10 * float(s10[k]);
                acc += w01 * float(s01[k]);
                acc += w11 * float(s11[k]);
                out[k] = uint8_t(std::clamp(acc, 0.0f, 255.0f));
            }
            std::memcpy(&res.pixels[size_t(r) * size_t(res.w) + size_t(c)], out, 4);
        }
    }
    return res;
}

}  // namespace kiv::geometry
