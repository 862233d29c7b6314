// Affine matrices of the Draw dialect: 3x2, row vectors.
//
// A point (x, y) maps to (x*m11 + y*m21 + dx, x*m12 + y*m22 + dy). Every
// combining operation takes an `order` flag: false gives result = a x b (a
// acts first), true gives result = b x a (the new transformation acts first
// on coordinates). The Draw context combines with order true for the whole
// pass, so each new transformation acts before the ones already in place.
// Results never alias their inputs: every operation computes into a local
// and then stores.
#pragma once

#include <cairo.h>

namespace kiv::draw {

struct Matrix {
    float m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;

    static Matrix identity() { return Matrix{}; }
    static Matrix translation(float x, float y) { return Matrix{1, 0, 0, 1, x, y}; }
    // Rotation by degrees about (cx, cy), clockwise on a y-down surface.
    static Matrix rotation(float degrees, float cx, float cy);
    static Matrix scaling(float sx, float sy, float cx, float cy);
    // Skew by the two angles in degrees about (cx, cy).
    static Matrix skewing(float ax, float ay, float cx, float cy);

    void apply(double x, double y, double* ox, double* oy) const {
        *ox = x * m11 + y * m21 + dx;
        *oy = x * m12 + y * m22 + dy;
    }
    bool is_identity() const { return m11 == 1 && m12 == 0 && m21 == 0 && m22 == 1 && dx == 0 && dy == 0; }
    // The inverse, or false (and `*this` unchanged) when there is none.
    bool invert();
    // Axis-aligned: no rotation or skew beyond a millionth of the scale.
    bool axis_aligned() const;
    bool finite() const;

    cairo_matrix_t to_cairo() const { return cairo_matrix_t{m11, m12, m21, m22, dx, dy}; }
    static Matrix from_cairo(const cairo_matrix_t& m) {
        return Matrix{float(m.xx), float(m.yx), float(m.xy), float(m.yy), float(m.x0), float(m.y0)};
    }
};

// order false: a x b; order true: b x a.
Matrix multiply(const Matrix& a, const Matrix& b, bool order);
Matrix translate(const Matrix& m, float x, float y, bool order);
// Scaling about a centre keeps the centre in place; the centre (0, 0) is a
// plain scaling.
Matrix scale(const Matrix& m, float sx, float sy, float cx, float cy, bool order);
Matrix rotate(const Matrix& m, float degrees, float cx, float cy, bool order);
Matrix skew(const Matrix& m, float ax, float ay, float cx, float cy, bool order);
// The inverse; a matrix without one is returned unchanged.
Matrix invert(const Matrix& m);

}  // namespace kiv::draw
