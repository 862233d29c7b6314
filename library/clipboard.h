// Images on the clipboard (platform/clipboard.h): the 32-bit bitmap block
// written beside the PNG encoding, and the reader of such blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace kiv::library::clipboard {

// The image's pixels as a bitmap block: the 124-byte header (32 bits, bit
// fields with the BGRA masks, rows top-down) and the rows.
std::vector<uint8_t> bitmap_of(const Cell* image);

// Pushes the image! that a bitmap block holds: 32-bit bit fields with the
// BGRA masks directly (a bottom-up block is turned upright); any other
// bitmap through the BMP reader with its alpha ignored. The block's size is
// checked against its header before a pixel is read. Pushes none when the
// block is not a bitmap.
Cell* push_dib_image(const std::vector<uint8_t>& dib);

}  // namespace kiv::library::clipboard
