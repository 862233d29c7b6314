// Drawing into image! values, and the platform routines of Draw.
#pragma once

#include "library/routine_table.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv::draw {

// Runs the Draw commands on the image (nothing when its width or height is
// 0, or the block is empty); its pixels change as drawn. Errors as the
// dialect raises them (runtime/error.h); what was drawn before an error
// stays drawn. The image must stay reachable by the collector (a stack cell).
// Answers the unwind code of an exit from a change handler that a set-word
// of the commands ran (the pass ends there; what was drawn stays drawn).
[[nodiscard]] Unwind draw_into_image(const Cell& image, const Cell& commands, bool catch_errors);

// The object table `draw`: the platform routine `draw-image`, which the GUI
// engine puts into system/view/platform (gui/engine/draw.kiv).
extern const routine::Table TABLE;

}  // namespace kiv::draw
