// CRC-32 (the IEEE polynomial, reflected, as in zlib and gzip streams) and
// Adler-32 over byte ranges. Both take the running value so that a caller
// can feed data in pieces; start with the initial values below.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::checksum {

constexpr uint32_t CRC32_INIT = 0;
constexpr uint32_t ADLER32_INIT = 1;

uint32_t crc32(uint32_t crc, const uint8_t* data, size_t n);
uint32_t adler32(uint32_t adler, const uint8_t* data, size_t n);

}  // namespace kiv::checksum
