// Unicode transcoding: UTF-8 and UTF-16 in and out of string buffers.
//
// A string buffer holds one fixed-width unit per code point: the unit in the
// low 5 bits of the buffer flags is 1 (every code point <= 0xFF, Latin-1),
// 2 (<= 0xFFFF, little-endian) or 4 (any code point). A buffer never holds
// UTF-8 or UTF-16. Units widen (1->2, 1->4, 2->4) as whole buffers, never per
// character; narrowing belongs to the string datatype.
//
// String values are string cells: word 1 the index in units from the buffer
// head, word 2 the node, word 3 the conversion cache (0 or the node of a
// scratch byte series that outgoing conversions write into and reuse).
//
// Pointers and collection. The loaders and the cache conversions allocate at
// most once per call (plus the error argument when they raise), with
// collection paused for that allocation: nothing moves but the one series
// being made or expanded. So a raw source pointer into another series buffer
// stays valid through the call, a Cell* into a block stays valid, and a node
// made by the call cannot be reclaimed before the caller stores it (it must
// store or root it before its own next allocation). A returned data pointer
// (to_utf8, to_utf16, cache_buffer) is valid until the next allocation that
// may move series or the next conversion through the same cell. The widening
// functions and casefold::change_units allocate without pausing: the caller
// keeps the node reachable and uses the buffer they return.
//
// Errors: a code point above 0x10FFFF met while encoding or measuring UTF-8
// raises script `invalid-char` (arg1 the code point as an integer!); malformed
// UTF-8 or UTF-16 while decoding or loading raises access `invalid-utf8` (arg1
// a binary! holding the bytes from the bad sequence on, at most 4).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/series.h"

namespace kiv::unicode {

// ---- Fast strict UTF-8 decoding (a DFA) ----------------------------------------

// 256 byte classes followed by the transitions (9 states x 12 classes, states
// pre-multiplied by 12). Accepts well-formed UTF-8 and encoded surrogates:
// no overlong forms, nothing above 0x10FFFF.
//
// Surrogates (U+D800-U+DFFF) follow one rule: a lone surrogate is a code
// point text may hold like any other (the ^(D800) escape, to char! 55296 and
// its three encoded bytes ED A0 80 in a script or any UTF-8 input all give
// it), it encodes as those three bytes, and output that must be well formed
// (the console, the terminal) shows it as U+FFFD.
constexpr uint32_t UTF8_ACCEPT = 0;
constexpr uint32_t UTF8_REJECT = 12;
extern const std::array<uint8_t, 256 + 108> utf8_dfa;

// Decodes one character at p into *cp and returns the position after it. On a
// rejected sequence *cp is -1 and the position is after the byte that caused
// the rejection (a bad lead byte consumes one byte, a bad continuation byte is
// consumed with its lead). No end check: the bytes must be readable up to the
// end of the character (a NUL-terminated text stops every sequence at its NUL).
inline const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t* cp) {
    uint32_t b = *p++;
    if (b < 0x80) {  // source text is mostly ASCII
        *cp = static_cast<int32_t>(b);
        return p;
    }
    uint32_t c = utf8_dfa[b];
    uint32_t code = (0xFFu >> c) & b;
    uint32_t state = utf8_dfa[256 + c];
    while (state > UTF8_REJECT) {
        b = *p++;
        c = utf8_dfa[b];
        code = (code << 6) | (b & 0x3Fu);
        state = utf8_dfa[256 + state + c];
    }
    *cp = state == UTF8_ACCEPT ? static_cast<int32_t>(code) : -1;
    return p;
}

// Number of characters in [start, end), counting as the fast decoder steps (a
// rejected sequence counts as one character; a character cut by the end counts
// as one). Never reads at or past end.
uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end);

// Advances by up to n characters (as count_utf8_chars steps), stopping at end.
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n);

// 4, 3 or 2 for the lead byte of a multi-byte sequence (tested by the patterns
// 0xF0, 0xE0, 0xC0 in that order), 0 for ASCII and continuation bytes.
inline int utf8_lead_length(uint8_t b) {
    if ((b & 0xF0) == 0xF0) return 4;
    if ((b & 0xE0) == 0xE0) return 3;
    if ((b & 0xC0) == 0xC0) return 2;
    return 0;
}

// ---- UTF-8 encoding ---------------------------------------------------------------

// Bytes of the UTF-8 form of cp (1-4); above 0x10FFFF raises `invalid-char`.
int utf8_char_size(uint32_t cp);

// UTF-8 byte count of the units in [start, end) of the given unit (1, 2, 4).
uint64_t utf8_length(const uint8_t* start, const uint8_t* end, uint32_t unit);

// Writes the UTF-8 form of cp (surrogates encode like any 3-byte value);
// returns the bytes written.
int encode_utf8_char(uint32_t cp, uint8_t* dst);

// As encode_utf8_char, but writes only the bytes of the sequence whose index
// is below room (nothing when room < 1); returns the bytes written.
int encode_utf8_char_bounded(uint32_t cp, uint8_t* dst, int32_t room);

// The characters of a string value from its index to its tail (cut to limit
// when limit >= 0 and smaller), as UTF-8 into dst, followed by a NUL when nul
// is set. Returns the bytes of text written (the NUL not counted). dst must
// have room for the UTF-8 length of the text, plus 1 for the NUL.
uint32_t encode_utf8_string(const Cell* str, uint8_t* dst, int32_t limit, bool nul);

// As encode_utf8_string into at most `room` bytes: only whole characters are
// written, and with nul set one byte of the room is kept for the NUL.
uint32_t encode_utf8_bounded(const Cell* str, uint8_t* dst, int32_t room, int32_t limit, bool nul);

// The string value from its index (all of it when *length is -1 on entry, else
// at most *length characters) as NUL-terminated UTF-8 in the cell's conversion
// cache. *length receives the byte count without the NUL.
uint8_t* to_utf8(Cell* str, int32_t* length);
// As to_utf8; with crlf set every LF is written as CR LF.
uint8_t* to_utf8_bytes(Cell* str, int32_t* length, bool crlf);
// The string value from its index to its tail as UTF-8, copied out of the
// conversion cache (so it stays valid across allocations).
std::string to_utf8_string(const Cell* str);

// ---- Widening ---------------------------------------------------------------------

// Rewrites the whole content (head to tail) at the wider unit, zero-extending
// every unit, after making room for the converted content plus one unit. The
// series keeps its node; the buffer may move: use the one returned.
SeriesBuffer* widen_1_to_2(SeriesBuffer* buf);
SeriesBuffer* widen_1_to_4(SeriesBuffer* buf);
SeriesBuffer* widen_2_to_4(SeriesBuffer* buf);
// Widens from the buffer's unit to `unit` (no change when it is not wider).
SeriesBuffer* widen_to(SeriesBuffer* buf, uint32_t unit);

// ---- Validating UTF-8 decoding ------------------------------------------------

// Results of check_utf8_char besides a code point.
constexpr int32_t UTF8_INCOMPLETE = -1;  // the input ends inside a valid prefix
constexpr int32_t UTF8_INVALID = -2;     // malformed

// Decodes one character from `available` bytes (at least 1) without raising.
// Refuses overlong forms, code points above 0x10FFFF and the noncharacter
// U+FFFE (surrogates decode, see above). Returns the code point and sets *used,
// or UTF8_INCOMPLETE when every available byte is a valid prefix of a longer
// character, or UTF8_INVALID.
int32_t check_utf8_char(const uint8_t* p, uint32_t available, uint32_t* used);

// One character at p (p < end), ASCII without a call: sets *cp and returns
// the position after it, or null when the bytes there are not one whole
// valid character.
inline const uint8_t* next_utf8_char(const uint8_t* p, const uint8_t* end, uint32_t* cp) {
    if (*p < 0x80) {
        *cp = *p;
        return p + 1;
    }
    uint32_t used = 0;
    const int32_t c = check_utf8_char(p, uint32_t(end - p), &used);
    if (c < 0) return nullptr;
    *cp = uint32_t(c);
    return p + used;
}

// The validating decoder of the loaders and of char! construction: *length in
// is the bytes available, out the bytes used. Returns -1, leaving *length as
// it was, when the input ends inside the character; raises `invalid-utf8` on
// malformed input.
int32_t decode_utf8_char(const uint8_t* p, int32_t* length);

// Raises access `invalid-utf8` with the bytes from p on (at most 4, fewer when
// end comes sooner).
[[noreturn]] void fire_invalid_utf8(const uint8_t* p, const uint8_t* end);

// ---- Loading UTF-8 ---------------------------------------------------------------

// Decodes `count` bytes of UTF-8 into a text buffer and returns its node.
// target 0: a new series whose unit fits the widest character. Else the target
// series is reused from its head (its content replaced) at its current unit or
// wider. A leading byte-order mark EF BB BF is skipped. With cr set, CR LF
// becomes LF and a lone CR becomes LF. Input that ends inside a character:
// with bytes_left given, the load stops there and the count of bytes not
// decoded goes to *bytes_left (0 after a complete load), for a caller that
// feeds the rest later; with bytes_left null, those last bytes are malformed
// input like any other (no byte is dropped without a word). Malformed input
// raises `invalid-utf8` before the target is touched.
Off load_utf8(const uint8_t* src, uint32_t count, Off target, uint32_t* bytes_left, bool cr);
// Into the buffer of a string cell (word 2), CR kept.
Off load_utf8_into(const uint8_t* src, uint32_t count, Cell* str, uint32_t* bytes_left);
// Into a new series, CR kept; input ending inside a character raises.
Off load_utf8_new(const uint8_t* src, uint32_t count);

// ---- Bytes from and to the system ---------------------------------------------------
//
// File names, arguments, environment variables, the current folder and what a
// child process writes are bytes, most often but not always UTF-8. They are
// decoded without loss: each byte that is not part of a valid character
// becomes one code point U+DC80..U+DCFF (byte 0x80..0xFF; bytes below 0x80
// are always valid), and encoding for the system turns each of those code
// points back into its single byte. A valid UTF-8 form of U+DC80..U+DCFF
// (ED B2 80 to ED B3 BF) would come back as one byte, so its three bytes are
// escaped one by one instead; everything else decodes as load_utf8 decodes
// it (other encoded surrogates included), no byte-order mark skipped. Every
// byte string thus decodes to a text that encodes back to the same bytes.
constexpr uint32_t ESCAPED_BYTE_BASE = 0xDC00;
inline bool is_escaped_byte(uint32_t cp) {
    return cp >= 0xDC80 && cp <= 0xDCFF;
}

// Decodes `count` bytes from the system into a new series and returns its
// node (allocation as load_utf8: once, collection paused). With cr set, CR LF
// becomes LF and a lone CR becomes LF. Never raises on the bytes.
Off load_escaped(const uint8_t* src, uint32_t count, bool cr);

// The string value from its index to its tail as bytes for the system:
// UTF-8, each U+DC80..U+DCFF as its byte. A code point above 0x10FFFF raises
// `invalid-char`. Allocates nothing in the series memory.
std::string to_system_bytes(const Cell* str);

// ---- UTF-16 -------------------------------------------------------------------------

// Unit width a UTF-16LE text of `count` units needs: 4 when any unit is a
// surrogate, else 2 when any unit is above 0xFF, else 1.
uint32_t utf16_unit_width(const uint8_t* src, uint32_t count);

// Decodes `count` UTF-16LE units into a text buffer and returns its node. src
// null: the units are read from the target cell's conversion cache (text that
// a system call wrote there). target null: a new series; else the series of
// the target cell (word 2), content replaced, at the width the text needs.
// With cr set every CR unit is dropped. A surrogate that is not part of a
// high-low pair raises access `invalid-utf8` (arg1 the bytes of the bad unit
// and the unit after it, when there is one) before anything is written.
Off load_utf16(const uint8_t* src, uint32_t count, Cell* target, bool cr);

// Bytes that UTF-16 with CR LF line breaks needs beyond 2 per unit: 2 per LF
// and 2 per code point from 0x10000 up, over the units in [start, end).
uint64_t utf16_extra_bytes(const uint8_t* start, const uint8_t* end, uint32_t unit);

// The string value from its index (at most *length characters when *length is
// not -1 on entry) as NUL-terminated UTF-16LE in the cell's conversion cache;
// with crlf set a CR is written before each LF. *length receives the units
// written without the NUL. Returns null when the string holds a value of
// 0x110000 or above.
uint16_t* to_utf16_part(Cell* str, int32_t* length, bool crlf);
// The whole string from its index, LF written as CR LF.
uint16_t* to_utf16(Cell* str);

// Each byte of the NUL-terminated text becomes one unit; a NUL unit ends it.
uint16_t* latin1_to_utf16(const char* src, uint16_t* dst);

// Writes cp as UTF-16: 1 unit below 0x10000, a surrogate pair below 0x110000,
// nothing (0) above.
int encode_utf16_char(uint32_t cp, uint16_t* dst);

// ---- Conversion cache ------------------------------------------------------------

// A scratch byte area of at least `bytes` bytes kept with the string cell (its
// node in word 3): made on first use, expanded when too small, reused after.
uint8_t* cache_buffer(Cell* str, uint64_t bytes);

}  // namespace kiv::unicode
