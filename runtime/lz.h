// The LZ codec of compressed serialized data: a bit-packed LZ77 stream.
//
// Stream: int32 compressed size (bytes of blocks after the two size words),
// int32 decompressed size, then blocks: int32 length L (1..1,048,576), then
// the block's bits, least significant first, until L bytes are produced:
//   0 + 8 bits           a literal byte
//   1 + length + dist    a copy of n + 3 bytes from b + 1 bytes back
// (the length and distance codes are in lz.cpp). Each block's bits start a
// new byte, and a copy never reaches before its own block.
//
// Every size in a stream is outside data: the decoder checks the block
// lengths against the declared size, the declared size against what the
// stream could produce and against the caller's bound, each copy against
// its block, and never reads past the given input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv::lz {

constexpr uint32_t MAX_BLOCK = 0x100000;
// Inputs shorter than this are not compressed.
constexpr uint32_t MIN_INPUT = 128;

// Decodes `in_len` bytes into *out (resized to the decompressed size).
// False for a corrupt stream or one that declares more than `max_size`
// bytes; *out is then empty.
bool decompress(const uint8_t* in, size_t in_len, std::vector<uint8_t>* out, size_t max_size);

// The stream of an input; empty for inputs shorter than MIN_INPUT.
std::vector<uint8_t> compress(const uint8_t* in, size_t n);

}  // namespace kiv::lz
