// The render device of the Draw dialect: Cairo image surfaces over 32-bit
// premultiplied ARGB pixels, colour conversion, and the pixel kernels that
// Cairo lacks (Gaussian blur, projective warping).
//
// Pixel layout of every buffer handled here: one little-endian 32-bit word per
// pixel, A << 24 | R << 16 | G << 8 | B, premultiplied by A (opacity, 255 =
// opaque); rows `stride` bytes apart. This is Cairo's ARGB32 format.
//
// Colours of the language are 0xAABBGGRR words (the first tuple byte lowest)
// whose top byte is transparency: 0 opaque, 255 invisible.
#pragma once

#include <cairo.h>

#include <cstdint>

namespace kiv::draw {

struct Rgba {
    double r, g, b, a;  // straight colour, each 0.0 to 1.0; a is opacity
};

// R/255, G/255, B/255 and (255 - A)/255.
Rgba to_rgba(uint32_t colour);
// The premultiplied ARGB pixel of a colour.
uint32_t to_pixel(uint32_t colour);

// The largest width or height of a surface Draw makes (targets, patterns,
// shadow bitmaps); larger requests are limited to it.
constexpr int MAX_SURFACE_SIDE = 16384;

// The surface makers load the drawing library on first use (draw_cairo.h),
// raising access/cannot-open when it cannot be loaded: every pass starts
// with one of them.
//
// A Cairo surface over caller-owned pixels (not copied, not freed).
cairo_surface_t* wrap_pixels(uint8_t* pixels, int width, int height, int stride);
// A new transparent ARGB32 surface of at least 1x1, sides limited to
// MAX_SURFACE_SIDE; null when Cairo cannot make it.
cairo_surface_t* new_surface(int width, int height);

// Gaussian blur of the alpha of an ARGB32 surface in place (three box
// passes per axis approximate the Gaussian of the given standard deviation).
void blur_surface(cairo_surface_t* surface, double sigma);

// Draws `src` (ARGB32) projectively onto `dst` so that its corners land on
// the four device-space points, in order top-left, top-right, bottom-right,
// bottom-left, sampling bilinearly. Only pixels inside the quadrilateral are
// written (source-over); `clip` (device rectangle x0, y0, x1, y1) bounds them.
void warp_quad(cairo_surface_t* src, double sx, double sy, double sw, double sh, cairo_surface_t* dst,
               const double quad[8], const double clip[4]);

}  // namespace kiv::draw
