// The lexer's token loop: classification of UTF-8 text into tokens, without
// building any value.
//
// `scan_token` runs the state machine of runtime/lexer_tables.h over the
// bytes from a cursor and stops at the first final state. It never reads
// outside [pos, end), never allocates and never raises: bad input ends in the
// error state (67) with the previous state telling which datatype was being
// read. The byte that ends a token is not consumed; the cursor stops on it.
// The value loaders and the callback events are not part of this file.
#pragma once

#include <cstdint>

#include "runtime/lexer_tables.h"

namespace kiv::lexer {

// Where the next token starts, and the line count so far.
struct Cursor {
    const uint8_t* pos = nullptr;
    const uint8_t* end = nullptr;
    uint32_t line = 1;
    uint8_t start_state = S_START;  // 0, S_BRACED, S_POINT or S_PATH
};

// One token as the state machine classified it.
struct Token {
    const uint8_t* start = nullptr;  // first byte of the token (blanks before it skipped)
    const uint8_t* end = nullptr;    // where the machine stopped; this byte is not part of the token
    uint32_t flags = 0;              // OR of the flag bits of every byte read, the stopping byte included
    uint32_t line = 1;               // line of the token's first byte
    uint32_t line_feeds = 0;         // line feeds read for this token, skipped ones included
    uint8_t state = F_END;           // final state 66..101
    uint8_t previous = 0;            // the state before the final transition
    uint8_t type = 0;                // tables::state_type[state]
    bool bad_utf8 = false;           // a word's first code points did not decode as UTF-8

    int token_class() const { return lexer::token_class(state); }
    // Datatype to report when the token is the error state: that of the
    // state the machine stopped in, 0 when it has none (a bad character).
    uint8_t error_type() const { return tables::state_type[previous]; }
};

// What follows an element or a container inside a path, at pos: `/` goes on
// with the next element (PATH_MORE), `:` ends the path as a set-path
// (PATH_SET; also when the element itself ended with a colon), anything
// else ends it (PATH_END). A `/` or `:` read here is taken (pos moves past).
enum PathNext { PATH_MORE, PATH_SET, PATH_END };
inline PathNext path_next(const uint8_t*& pos, const uint8_t* end, bool ended_with_colon) {
    if (ended_with_colon) return PATH_SET;
    if (pos < end && (*pos == '/' || *pos == ':')) return *pos++ == '/' ? PATH_MORE : PATH_SET;
    return PATH_END;
}

// The 21 code points that count as blanks although UTF-8 lead bytes are word
// characters: U+0085, U+00A0, U+1680, U+180E, U+2000-U+200B, U+2028, U+2029,
// U+202F, U+205F, U+3000.
bool is_unicode_blank(uint32_t cp);

// Classifies the next token from c.pos and moves c.pos to the token's end
// (updating c.line). At the end of the input the token is F_END with an empty
// extent.
//
// A word (F_WORD) that begins with Unicode blanks is not a word: they are
// skipped like ASCII blanks and the text after them is classified afresh, so
// that a no-break space before a number or a string separates them as a space
// would. Inside a path (start state S_PATH) such a blank is an error, as an
// ASCII blank is. When the first code points do not decode as UTF-8 the token
// becomes the error state with `bad_utf8` set (an invalid word!).
void scan_token(Cursor& c, Token& t);

// Whether the text after a `(` (at `p`) starts a point: at least four bytes
// follow, and the bytes up to the first one outside the point character set
// (TAB, space, #, +, -, ., digits, A E F I N a e f i n) end at a `,` or at
// the end of the input.
bool point_ahead(const uint8_t* p, const uint8_t* end);

}  // namespace kiv::lexer
