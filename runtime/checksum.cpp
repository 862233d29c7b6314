#include "runtime/checksum.h"

#include <cstring>

namespace kiv::checksum {

namespace {

// Slicing by 8: table[k][b] is the CRC of byte b followed by k zero bytes.
struct CrcTables {
    uint32_t t[8][256];
    constexpr CrcTables() : t{} {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t c = b;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][b] = c;
        }
        for (uint32_t b = 0; b < 256; ++b)
            for (int k = 1; k < 8; ++k) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    }
};
constexpr CrcTables crc_tables;

}  // namespace

uint32_t crc32(uint32_t crc, const uint8_t* p, size_t n) {
    const auto& t = crc_tables.t;
    uint32_t c = ~crc;
    while (n >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= c;
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return ~c;
}

uint32_t adler32(uint32_t adler, const uint8_t* p, size_t n) {
    constexpr uint32_t MOD = 65521;
    // 5552 is the largest run whose sums cannot overflow 32 bits.
    constexpr size_t RUN = 5552;
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (n) {
        size_t k = n < RUN ? n : RUN;
        n -= k;
        while (k--) {
            a += *p++;
            b += a;
        }
        a %= MOD;
        b %= MOD;
    }
    return (b << 16) | a;
}

uint32_t tcp(const uint8_t* p, size_t n) {
    uint64_t sum = 0;
    for (; n >= 2; n -= 2, p += 2) sum += uint32_t(p[0]) << 8 | p[1];
    if (n) sum += *p;
    while (sum >> 32) sum = (sum & 0xFFFFFFFF) + (sum >> 32);
    uint32_t s = uint32_t(sum);
    s = (s >> 16) + (s & 0xFFFF);
    s += s >> 16;
    return ~s & 0xFFFF;
}

}  // namespace kiv::checksum
