#include "gui/draw/draw_matrix.h"

#include <cmath>

namespace kiv::draw {

namespace {
constexpr double DEG = 3.14159265358979323846 / 180.0;
}

Matrix Matrix::rotation(float degrees, float cx, float cy) {
    double a = double(degrees) * DEG;
    float s = float(std::sin(a)), c = float(std::cos(a));
    // T(-c) R T(c): rotate about the centre.
    Matrix r{c, s, -s, c, 0, 0};
    r.dx = cx - cx * c + cy * s;
    r.dy = cy - cx * s - cy * c;
    return r;
}

Matrix Matrix::scaling(float sx, float sy, float cx, float cy) {
    return Matrix{sx, 0, 0, sy, cx - sx * cx, cy - sy * cy};
}

Matrix Matrix::skewing(float ax, float ay, float cx, float cy) {
    float tx = float(std::tan(double(ax) * DEG)), ty = float(std::tan(double(ay) * DEG));
    // Row vectors: x' = x + y*tx, y' = x*ty + y; the centre stays in place.
    return Matrix{1, ty, tx, 1, -cy * tx, -cx * ty};
}

bool Matrix::invert() {
    double det = double(m11) * m22 - double(m12) * m21;
    if (det == 0 || !std::isfinite(det)) return false;
    double i11 = m22 / det, i12 = -m12 / det, i21 = -m21 / det, i22 = m11 / det;
    double idx = -(dx * i11 + dy * i21), idy = -(dx * i12 + dy * i22);
    Matrix r{float(i11), float(i12), float(i21), float(i22), float(idx), float(idy)};
    if (!r.finite()) return false;
    *this = r;
    return true;
}

bool Matrix::axis_aligned() const {
    constexpr float e = 0.000001f;
    return (std::fabs(m12) <= std::fabs(m11) * e && std::fabs(m21) <= std::fabs(m22) * e) ||
           (std::fabs(m11) <= std::fabs(m12) * e && std::fabs(m22) <= std::fabs(m21) * e);
}

bool Matrix::finite() const {
    return std::isfinite(m11) && std::isfinite(m12) && std::isfinite(m21) && std::isfinite(m22) &&
           std::isfinite(dx) && std::isfinite(dy);
}

Matrix multiply(const Matrix& a, const Matrix& b, bool order) {
    const Matrix& l = order ? b : a;
    const Matrix& r = order ? a : b;
    Matrix out;
    out.m11 = l.m11 * r.m11 + l.m12 * r.m21;
    out.m12 = l.m11 * r.m12 + l.m12 * r.m22;
    out.m21 = l.m21 * r.m11 + l.m22 * r.m21;
    out.m22 = l.m21 * r.m12 + l.m22 * r.m22;
    out.dx = l.dx * r.m11 + l.dy * r.m21 + r.dx;
    out.dy = l.dx * r.m12 + l.dy * r.m22 + r.dy;
    return out;
}

Matrix translate(const Matrix& m, float x, float y, bool order) {
    return multiply(m, Matrix::translation(x, y), order);
}

Matrix scale(const Matrix& m, float sx, float sy, float cx, float cy, bool order) {
    if (cx == 0 && cy == 0) return multiply(m, Matrix{sx, 0, 0, sy, 0, 0}, order);
    return multiply(m, Matrix::scaling(sx, sy, cx, cy), order);
}

Matrix rotate(const Matrix& m, float degrees, float cx, float cy, bool order) {
    return multiply(m, Matrix::rotation(degrees, cx, cy), order);
}

Matrix skew(const Matrix& m, float ax, float ay, float cx, float cy, bool order) {
    return multiply(m, Matrix::skewing(ax, ay, cx, cy), order);
}

Matrix invert(const Matrix& m) {
    Matrix r = m;
    r.invert();
    return r;
}

}  // namespace kiv::draw
