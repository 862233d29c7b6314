// The text of menus: captions measured and drawn in the GUI's default font.
//
// use_default_font() runs where language code may run (it reads the
// default font); measuring and drawing then run anywhere, the open menus'
// event handling included. Sizes are in pixels.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>

namespace kiv::gui::menus::text {

// Takes the GUI's default font (loads the text libraries; raises access
// cannot-open when they cannot be loaded).
void use_default_font();

// The size of a caption's text (0 x 0 before use_default_font).
void measure(const std::string& utf8, int32_t* w, int32_t* h);
// The height of a line of text.
int32_t line_height();
// Draws a caption with its top-left corner at (x, y), the character at
// byte offset `underline` (-1: none) underlined; rgb is 0xRRGGBB.
void draw(cairo_t* cr, const std::string& utf8, int32_t underline, double x, double y, uint32_t rgb);

}  // namespace kiv::gui::menus::text
