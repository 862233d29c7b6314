#include "runtime/base_codecs.h"

#include <cstring>
#include <vector>

namespace kiv::base_codecs {

namespace {

constexpr char B58_DIGITS[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char B64_DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr uint8_t SKIP = 64;
constexpr uint8_t BAD = 128;

// Digit values of the codes below 128 for bases 58 and 64: SKIP for the
// skipped characters, BAD for everything else that is not a digit.
struct Table {
    uint8_t v[128] = {};
    constexpr explicit Table(const char* digits) {
        for (auto& e : v) e = BAD;
        for (int i = 0; digits[i]; ++i) v[uint8_t(digits[i])] = uint8_t(i);
        for (char c : {'\b', '\t', '\n', '\f', '\r', ' ', '\''}) v[uint8_t(c)] = SKIP;
    }
};
constexpr Table B58(B58_DIGITS);
constexpr Table B64(B64_DIGITS);

struct Reader {
    const uint8_t* text;
    uint32_t count;
    uint32_t unit;
    uint32_t at(uint32_t i) const {
        const uint8_t* p = text + size_t(i) * unit;
        switch (unit) {
            case 1:
                return *p;
            case 2:
                return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
            default: {
                uint32_t v;
                std::memcpy(&v, p, 4);
                return v;
            }
        }
    }
    // From a ";" at i: the index of the next line feed, or count.
    uint32_t comment_end(uint32_t i) const {
        while (i < count && at(i) != '\n') ++i;
        return i;
    }
};

inline Decoded fail(uint32_t at) {
    return Decoded{false, 0, at};
}

Decoded decode_2(const Reader& r, uint8_t* out) {
    uint32_t n = 0, byte = 0, bits = 0;
    for (uint32_t i = 0; i < r.count; ++i) {
        uint32_t c = r.at(i);
        if (c <= 32) continue;
        if (c == ';') {
            i = r.comment_end(i);
            continue;
        }
        if (c != '0' && c != '1') return fail(i);
        byte = (byte << 1) | (c - '0');
        if (++bits == 8) {
            if (out) out[n] = uint8_t(byte);
            ++n;
            byte = bits = 0;
        }
    }
    if (bits) return fail(r.count);
    return Decoded{true, n, 0};
}

Decoded decode_16(const Reader& r, uint8_t* out) {
    uint32_t n = 0;
    int high = -1;
    for (uint32_t i = 0; i < r.count; ++i) {
        uint32_t c = r.at(i);
        if (c <= 32) continue;
        if (c == ';') {
            i = r.comment_end(i);
            continue;
        }
        int d = hex_digit(c);
        if (d < 0) return fail(i);
        if (high < 0) {
            high = d;
        } else {
            if (out) out[n] = uint8_t((high << 4) | d);
            ++n;
            high = -1;
        }
    }
    if (high >= 0) return fail(r.count);
    return Decoded{true, n, 0};
}

Decoded decode_64(const Reader& r, uint8_t* out) {
    uint32_t n = 0, acc = 0, pending = 0;
    for (uint32_t i = 0; i < r.count; ++i) {
        uint32_t c = r.at(i);
        if (c == ';') {
            i = r.comment_end(i);
            continue;
        }
        if (c == '=') {
            // Padding ends the text: the pending digits give their bytes.
            if (pending == 3) {
                if (out) {
                    out[n] = uint8_t(acc >> 10);
                    out[n + 1] = uint8_t(acc >> 2);
                }
                n += 2;
            } else if (pending == 2) {
                if (out) out[n] = uint8_t(acc >> 4);
                n += 1;
            } else {
                return fail(i + 1 < r.count ? i + 1 : r.count);
            }
            return Decoded{true, n, 0};
        }
        uint8_t v = c < 128 ? B64.v[c] : BAD;
        if (v == SKIP) continue;
        if (v == BAD) return fail(i);
        acc = (acc << 6) | v;
        if (++pending == 4) {
            if (out) {
                out[n] = uint8_t(acc >> 16);
                out[n + 1] = uint8_t(acc >> 8);
                out[n + 2] = uint8_t(acc);
            }
            n += 3;
            acc = pending = 0;
        }
    }
    if (pending) return fail(r.count);
    return Decoded{true, n, 0};
}

// Base 58: the digits are one big number, most significant first; each
// leading "1" (digit 0) stands for one leading zero byte.
Decoded decode_58(const Reader& r, uint8_t* out) {
    std::vector<uint8_t> digits;
    digits.reserve(r.count);
    for (uint32_t i = 0; i < r.count; ++i) {
        uint32_t c = r.at(i);
        if (c == ';') {
            i = r.comment_end(i);
            continue;
        }
        uint8_t v = c < 128 ? B58.v[c] : BAD;
        if (v == SKIP) continue;
        if (v == BAD) return fail(i);
        digits.push_back(v);
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) ++zeros;
    // Little-endian base-256 accumulator; `used` bytes are significant.
    std::vector<uint8_t> num(digits.size() - zeros + 1, 0);
    size_t used = 0;
    for (size_t k = zeros; k < digits.size(); ++k) {
        uint32_t carry = digits[k];
        for (size_t j = 0; j < used; ++j) {
            carry += uint32_t(num[j]) * 58;
            num[j] = uint8_t(carry);
            carry >>= 8;
        }
        while (carry) {
            num[used++] = uint8_t(carry);
            carry >>= 8;
        }
    }
    uint32_t total = uint32_t(zeros + used);
    if (out) {
        std::memset(out, 0, zeros);
        for (size_t j = 0; j < used; ++j) out[zeros + j] = num[used - 1 - j];
    }
    return Decoded{true, total, 0};
}

uint32_t encode_58(const uint8_t* in, uint32_t n, uint8_t* out) {
    uint32_t zeros = 0;
    while (zeros < n && in[zeros] == 0) ++zeros;
    // Little-endian base-58 digits of the number after the zero bytes.
    std::vector<uint8_t> digits(size_t(n - zeros) * 2 + 1, 0);
    size_t used = 0;
    for (uint32_t k = zeros; k < n; ++k) {
        uint32_t carry = in[k];
        for (size_t j = 0; j < used; ++j) {
            carry += uint32_t(digits[j]) << 8;
            digits[j] = uint8_t(carry % 58);
            carry /= 58;
        }
        while (carry) {
            digits[used++] = uint8_t(carry % 58);
            carry /= 58;
        }
    }
    uint8_t* p = out;
    for (uint32_t i = 0; i < zeros; ++i) *p++ = '1';
    for (size_t j = used; j > 0; --j) *p++ = uint8_t(B58_DIGITS[digits[j - 1]]);
    return uint32_t(p - out);
}

uint32_t encode_64(const uint8_t* in, uint32_t n, uint8_t* out) {
    uint8_t* p = out;
    uint32_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        *p++ = uint8_t(B64_DIGITS[v >> 18]);
        *p++ = uint8_t(B64_DIGITS[(v >> 12) & 63]);
        *p++ = uint8_t(B64_DIGITS[(v >> 6) & 63]);
        *p++ = uint8_t(B64_DIGITS[v & 63]);
    }
    if (n - i == 1) {
        *p++ = uint8_t(B64_DIGITS[in[i] >> 2]);
        *p++ = uint8_t(B64_DIGITS[(in[i] & 3) << 4]);
        *p++ = '=';
        *p++ = '=';
    } else if (n - i == 2) {
        *p++ = uint8_t(B64_DIGITS[in[i] >> 2]);
        *p++ = uint8_t(B64_DIGITS[((in[i] & 3) << 4) | (in[i + 1] >> 4)]);
        *p++ = uint8_t(B64_DIGITS[(in[i + 1] & 15) << 2]);
        *p++ = '=';
    }
    return uint32_t(p - out);
}

}  // namespace

bool known_base(int64_t base) {
    return base == 2 || base == 16 || base == 58 || base == 64;
}

uint64_t decode_room(uint32_t base, uint32_t count) {
    switch (base) {
        case 2:
            return count / 8;
        case 16:
            return count / 2;
        case 64:
            return (uint64_t(count) + 3) / 4 * 3;
        default:
            return count;
    }
}

Decoded decode(uint32_t base, const uint8_t* text, uint32_t count, uint32_t unit, uint8_t* out) {
    Reader r{text, count, unit};
    switch (base) {
        case 2:
            return decode_2(r, out);
        case 16:
            return decode_16(r, out);
        case 58:
            return decode_58(r, out);
        default:
            return decode_64(r, out);
    }
}

uint64_t encode_room(uint32_t base, uint64_t n) {
    switch (base) {
        case 2:
            return n * 8;
        case 16:
        case 58:
            return n * 2;
        default:
            return (n + 2) / 3 * 4;
    }
}

uint32_t encode(uint32_t base, const uint8_t* in, uint32_t n, uint8_t* out) {
    switch (base) {
        case 2: {
            uint8_t* p = out;
            for (uint32_t i = 0; i < n; ++i)
                for (int b = 7; b >= 0; --b) *p++ = uint8_t('0' + ((in[i] >> b) & 1));
            return uint32_t(p - out);
        }
        case 16: {
            for (uint32_t i = 0; i < n; ++i) {
                out[2 * i] = uint8_t(HEX_UPPER[in[i] >> 4]);
                out[2 * i + 1] = uint8_t(HEX_UPPER[in[i] & 15]);
            }
            return 2 * n;
        }
        case 58:
            return encode_58(in, n, out);
        default:
            return encode_64(in, n, out);
    }
}

}  // namespace kiv::base_codecs
