// image!: the language's raster image, a series of 32-bit pixels with a
// position.
//
// Cell payload: word 1 = index (0-based pixel offset of the position, row
// after row from the top-left); word 2 = node of the image record (null for
// an image with no pixels: zero width or height); word 3 = size, width in
// the low 16 bits and height in the high 16 bits. The record and the pixel
// layout belong to the OS image layer (platform/image.h), which is also the
// way in for other C++ code: os_image::width/height/pixels(cell, write) and
// os_image::premultiplied(cell) for drawing.
//
// In the language a pixel is a 4-component tuple R.G.B.A whose A is
// transparency (0 opaque, 255 fully transparent); a stored pixel holds
// opacity: stored word = (255 - A) << 24 | R << 16 | G << 8 | B.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv::image {

// Path-word modes of extract_data/set_data.
enum DataMode : int32_t { MODE_ALPHA = 0, MODE_RGB = 1, MODE_ARGB = 2 };

// `to image! face`: the GUI backend's capture of a face, installed when the
// backend starts (false, and bad-to-arg, for a value it cannot capture).
extern bool (*face_capture)(const Cell* face, Cell* out);

// Registers image! and the registry kind "image".
void init();

// Pushes a new image! of width x height, every pixel 0 (transparent black);
// a size that does not fit raises script size-limit with the size as a pair.
Cell* push_new(int64_t width, int64_t height);

// The pixel at a 0-based offset as the language's tuple R.G.B.A; none when
// the offset equals the pixel count.
Cell get_pixel(const Cell* image, uint64_t offset);

// True when the bytes of the binary (index to tail) start with the
// signature of PNG, JPEG, BMP, GIF or TIFF.
bool known_format(const Cell* binary);
// Decodes the binary (index to tail) and pushes the new image!; pushes none
// when the format is not known; undecodable data raises access bad-media.
Cell* load_binary(const Cell* binary);
// Decodes a file into a pushed image!; failure raises access cannot-open.
Cell* load_file(const Cell* file);
// A binary! goes to load_binary, anything else (file!) to load_file.
Cell* load(const Cell* value);
// Encodes the image in a format (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF) and
// pushes the binary!; an empty image raises access bad-media; an unknown
// format prints "Cannot find image encoder" and pushes none.
Cell* encode(const Cell* image, int32_t format);
// Pushes a nearest-neighbour scaled copy.
Cell* push_resized(const Cell* image, int64_t width, int64_t height);

// A new binary! (pushed) with the pixel data of the whole image in a mode.
Cell* extract_data(const Cell* image, int32_t mode);
// Writes pixel data in a mode from a binary!, tuple! or integer!; answers the
// exit code of the image owner's handler.
Unwind set_data(Cell* image, const Cell* value, int32_t mode);

// The pixel offset for a position (integer! or pair!) with base 1 (at, pick,
// poke) or 0 (skip); sets *out_of_range when it lies outside (never clears it).
uint32_t resolve_index(const Cell* image, const Cell* position, int32_t base, bool* out_of_range);

// image/transform: warps the image onto the quad that 1..4 points make
// (pair! or point2D! cells from `first` to `last`, inclusive), with an
// optional crop (offset, size pairs; null when none). Pushes the new image!
// (none for more than four points or an empty warp) and stores the
// bounding box in out (x, y, w, h; w and h negated when mirrored).
Cell* transform(const Cell* image, const Cell* crop_offset, const Cell* crop_size, const Cell* first,
                const Cell* last, int32_t out[4]);

}  // namespace kiv::image
