// CRC-32 (the IEEE polynomial, reflected, as in zlib and gzip streams) and
// Adler-32 over byte ranges. Both take the running value so that a caller
// can feed data in pieces; start with the initial values below. Also the
// 16-bit internet checksum of the `checksum` native's tcp method.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::checksum {

constexpr uint32_t CRC32_INIT = 0;
constexpr uint32_t ADLER32_INIT = 1;

uint32_t crc32(uint32_t crc, const uint8_t* data, size_t n);
uint32_t adler32(uint32_t adler, const uint8_t* data, size_t n);

// The ones'-complement sum of big-endian 16-bit words, 0..65535. A final odd
// byte is added as the low-order byte as it stands (not padded into the high
// byte): the language has always computed it so, and scripts rely on it.
uint32_t tcp(const uint8_t* data, size_t n);

}  // namespace kiv::checksum
