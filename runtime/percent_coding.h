// Percent-encoding ("%" and two hexadecimal digits per byte): the one
// implementation behind url! and file! text, `enhex`, `dehex` and the
// lexer's url and file loaders.
//
// Decoding reads UTF-8 text and never looks past its end. An escape whose
// byte is below 0xC0 is that code point; a lead byte followed by escapes of
// its whole sequence is one character, validated as UTF-8; a "%" that starts
// no complete escape (or a lead byte whose sequence is not fully escaped)
// stays a literal "%". Escaped bytes that do not form valid UTF-8, and raw
// bytes that are not valid UTF-8, make the text invalid: the decoder says
// so, it never drops or guesses a character.
//
// Encoding looks up bytes below 128 in one of two tables; every byte of 128
// and above is always escaped, with upper-case digits.
#pragma once

#include <cstdint>

namespace kiv::percent_coding {

enum Table : uint8_t {
    // url!/file! text: letters, digits and ! # $ & ' ( ) * + , - . / : = ? @ _ ~ kept.
    GENERAL,
    // `enhex` of a string!: letters, digits and - . _ ~ kept.
    STRICT,
};

// True when the table writes the byte as itself.
bool keeps(Table table, uint8_t byte);

// Writes the byte as itself (returns 1) or as "%XY" (returns 3).
int encode_byte(Table table, uint8_t byte, uint8_t out[3]);

// Decodes one character at p (p < end). Returns the position after it and
// the code point in *cp, or null when the text is invalid there.
const uint8_t* decode_char(const uint8_t* p, const uint8_t* end, uint32_t* cp);

// The bytes of the run of escapes at p (at most 4, those of one UTF-8
// sequence), for reporting text that does not decode; 0 when p holds none.
uint32_t escaped_bytes(const uint8_t* p, const uint8_t* end, uint8_t out[4]);

struct Measure {
    bool ok;
    uint32_t chars;     // characters the decoded text holds (ok)
    uint32_t widest;    // the highest code point among them (ok)
    uint32_t error_at;  // bytes before the invalid character (not ok)
};
// Walks the whole text once: whether it decodes, how long it is.
Measure measure(const uint8_t* start, const uint8_t* end);

}  // namespace kiv::percent_coding
