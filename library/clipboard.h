// The clipboard routines `read-clipboard` and `write-clipboard` over the
// clipboard store of platform/clipboard.h: text, file lists and images.
#pragma once

#include <cstdint>
#include <vector>

#include "library/routine_table.h"
#include "runtime/cell.h"

namespace kiv::library::clipboard {

// The global table `clipboard`: read-clipboard and write-clipboard.
extern const routine::Table TABLE;

// Pushes the image! that a DIBV5 block holds: 32-bit bit fields with the
// BGRA masks directly (a bottom-up block is turned upright); any other
// bitmap through the BMP reader with its alpha ignored. The block's size is
// checked against its header before a pixel is read. Pushes none when the
// block is not a bitmap.
Cell* push_dib_image(const std::vector<uint8_t>& dib);

}  // namespace kiv::library::clipboard
