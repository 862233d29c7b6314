// binary!: a series of bytes (a 1-byte-unit buffer), written "#{...}" in hex.
//
// A binary cell: word 1 the index in bytes, word 2 the node; word 3 unused.
// It shares string!'s storage and most of its series actions; what differs
// lives here: values turned into bytes (char! as UTF-8, integer! as one
// byte, text as UTF-8, blocks element by element), the hex mold, byte-wise
// comparison, the bitwise actions and trimming of zero bytes.
//
// The bytes a value stands for are gathered into a C++ scratch vector before
// the target buffer is touched, so a failing conversion leaves the binary as
// it was and a binary changed with a part of itself reads the old bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace kiv::binary {

// Pushes a new binary! holding a copy of `count` bytes (bytes outside the
// arena, or inside it when no allocation can move them: collection is
// paused for the one allocation).
Cell* push_bytes(const uint8_t* bytes, uint32_t count);
// Pushes a new binary! of `count` bytes for the caller to fill at once: the
// address of its bytes (valid until the next allocation) goes to `bytes`.
Cell* push_room(uint32_t count, uint8_t*& bytes);
// Cuts a binary!'s buffer to its first `count` bytes.
void cut(Cell* bin, uint32_t count);
// The address and count of a binary!'s bytes from its index (valid until the
// next allocation).
const uint8_t* bytes_at(Cell* bin, uint32_t& count);

// Appends the bytes a value stands for to `out`. part >= 0 cuts one value to
// that many bytes; for a block it counts values, or bytes across the values
// with `only`. Types that have no bytes of their own are formed (UTF-8) when
// `formed` is set, else they raise script bad-to-arg.
void gather(Cell* value, int32_t part, bool only, bool formed, std::vector<uint8_t>& out);

// `enbase`: a new string! on the data stack holding the bytes of a binary!
// (from its index) or the UTF-8 bytes of a string! in the base (2, 16, 58
// or 64); an encoding longer than a series can hold raises script too-long.
Cell* push_encoded(Cell* value, uint32_t base);
// `debase`: a new binary! on the data stack from the text of a string-like
// value (from its index) in the base, or null when the text is not valid in
// that base (runtime/base_codecs.h says what is valid).
Cell* push_decoded(Cell* text, uint32_t base);

// Registers binary! (after string!).
void init();

}  // namespace kiv::binary
