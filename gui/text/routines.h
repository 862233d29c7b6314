// What the platform routines size-text, text-box-metrics, update-font and
// update-para (rows of the window layer's table, in system/view/platform)
// do with text, and Draw's font and text commands.
#pragma once

#include <cairo.h>

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::text {

// The bodies of the window layer's routines of the same names.
// size-text: the text (value, or the face's own when none) measured in the
// face's font, as a point2D!; none when there is no string.
Cell text_size(const Cell& face, const Cell& value);
// text-box-metrics of a rich-text face (an error for other types).
Cell box_metrics(const Cell& box, const Cell& arg0, int32_t type);
// update-para: marks the face's paragraph changed (bit 18 of its change
// flags) and its rich-text layout stale.
void mark_para(const Cell& face);
// Marks the rich-text layout of the face stale: its next measure or paint
// lays the text out again (a face without a window whose text changed).
void mark_layout_stale(const Cell& face);
// Paints the face's text laid out in its box (font, para) on a context in
// pixels, `scale` pixels a logical unit. May allocate: `face` must be a
// cell that the collector sees.
void paint_face_text(cairo_t* cr, const Cell& face, double scale);

}  // namespace kiv::text
