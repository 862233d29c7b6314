// Plane geometry on small vectors and quadrilaterals, and the warp that maps
// a source image onto a convex quadrilateral with bilinear resampling.
//
// Pixel buffers are 32-bit pixels in the stored byte order of the image
// layer (B, G, R, A), rows packed back to back. A quad's points go round it
// p0 top-left, p1 top-right, p2 bottom-right, p3 bottom-left; its edges are
// e0 = p0->p1, e1 = p1->p2, e2 = p2->p3, e3 = p3->p0.
#pragma once

#include <cstdint>
#include <vector>

namespace kiv::geometry {

struct Point {
    float x, y;
};
struct Vector {
    double x, y;
};
struct Quad {
    Point p[4];
};

double length(Vector v);
Vector normalize(Vector v);
Vector vector_diff(float x1, float y1, float x2, float y2);  // (x2 - x1, y2 - y1)
double cross(Vector a, Vector b);
// True when cross(P - A, B - A) > 0.
bool right_of_edge(float px, float py, float ax, float ay, float bx, float by);
// False as soon as the point is right of one of the edges; points on an
// edge are inside.
bool point_in_quad(const Quad& q, float px, float py);
void mirror_quad_x(Quad& q, float c);  // x := 2c - x
void mirror_quad_y(Quad& q, float c);  // y := 2c - y
// Copies the rectangle (x, y, w, h), cut to the image, into `out` as packed
// w-pixel rows; false (nothing copied) when x or y is negative or x >= width
// or y >= height.
bool copy_pixel_rect(const uint32_t* pixels, uint32_t width, uint32_t height, int32_t x, int32_t y, int32_t w,
                     int32_t h, uint32_t* out);

struct WarpResult {
    bool ok = true;                // false: the quad is degenerate, not finite or too large
    int32_t x = 0, y = 0, w = 0, h = 0;  // the quad's bounding box
    std::vector<uint32_t> pixels;  // w * h pixels; empty when nothing was made
};

// Warps the source onto the quad. A source with no pixels gives an empty
// result; a quad with a zero-length edge, a coordinate that is not finite,
// a sample position that is not a number or a bounding box past the image
// size limit gives ok = false instead of converting such values to integers.
WarpResult warp(const uint32_t* pixels, uint32_t width, uint32_t height, const Quad& quad);

}  // namespace kiv::geometry
