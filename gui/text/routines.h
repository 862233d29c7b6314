// The platform routines of text: size-text, text-box-metrics, update-font
// and update-para (rows of the object table `text`, which the window layer
// places into system/view/platform), and Draw's font and text commands.
#pragma once

#include "library/routine_table.h"

namespace kiv::text {

extern const routine::Table TABLE;

}  // namespace kiv::text
