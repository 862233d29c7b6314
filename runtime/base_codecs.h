// Base-2, base-16, base-58 and base-64 text <-> bytes: the one implementation
// behind binary literals, `enbase`, `debase` and `to binary!` of an issue!.
//
// Decoders read `count` code units of width 1, 2 or 4 bytes (a string
// buffer, or UTF-8 source text read as bytes) and never look past them.
// Invalid text is reported, never truncated: a character outside the base's
// alphabet (anything above 127 included), an incomplete last group (a lone
// hex digit, 1-7 bits, 1-3 base-64 digits without padding) or "=" after
// fewer than two base-64 digits makes the whole text invalid, and the result
// says where. Skipped everywhere: ";" comments up to the next line feed; in
// bases 2 and 16 every code at or below 32; in bases 58 and 64 backspace,
// tab, line feed, form feed, carriage return, space and the apostrophe. In
// base 64 nothing after the first "=" is looked at.
//
// Encoders write ASCII only: no terminator, separators or line breaks.
#pragma once

#include <cstdint>

namespace kiv::base_codecs {

// True for 2, 16, 58 and 64.
bool known_base(int64_t base);

struct Decoded {
    bool ok;
    uint32_t bytes;     // bytes written (ok)
    uint32_t error_at;  // code units before the offending one (not ok)
};

// Room the decoder may need for `count` code units (an upper bound).
uint64_t decode_room(uint32_t base, uint32_t count);
// Decodes into `out` (decode_room bytes), or only checks and counts when
// `out` is null. `base` must be a known base.
Decoded decode(uint32_t base, const uint8_t* text, uint32_t count, uint32_t unit, uint8_t* out);

// Characters the encoding of n bytes takes at most (exact for 2, 16, 64).
uint64_t encode_room(uint32_t base, uint64_t n);
// Encodes n bytes into `out` (encode_room characters); returns the count
// written. `in` and `out` must not overlap.
uint32_t encode(uint32_t base, const uint8_t* in, uint32_t n, uint8_t* out);

// The value of a hexadecimal digit (either case), or -1; codes above 127
// are not digits.
inline int hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}
// Upper-case hexadecimal digits by value.
inline constexpr char HEX_UPPER[] = "0123456789ABCDEF";

}  // namespace kiv::base_codecs
