#include "evaluator/lexer_scan.h"

#include "runtime/cell.h"
#include "runtime/unicode.h"

namespace kiv::lexer {

bool is_unicode_blank(uint32_t cp) {
    if (cp < 0x85) return false;
    if (cp == 0x85 || cp == 0xA0 || cp == 0x1680 || cp == 0x180E) return true;
    if (cp >= 0x2000 && cp <= 0x200B) return true;
    return cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

namespace {

// The length of the `%` run that opens a raw string at text.
size_t raw_open_run(const uint8_t* text, const uint8_t* p) {
    size_t open = 0;
    while (text + open < p && text[open] == '%') ++open;
    return open;
}

// Whether the `%` run that ends [text, p) is shorter than `open` (the machine
// stopped on a raw string's possible end). Runs of successive stops do not
// overlap, so the whole body is read once.
bool raw_close_short(const uint8_t* text, const uint8_t* p, size_t open) {
    size_t close = 0;
    while (close < open && p - close > text && p[-1 - ptrdiff_t(close)] == '%') ++close;
    return close < open;
}

}  // namespace

void scan_token(Cursor& c, Token& t) {
    using namespace tables;
    uint32_t line_feeds = 0;
    for (;;) {
        const uint8_t* p = c.pos;
        const uint8_t* const end = c.end;
        const uint8_t* text = p;
        uint32_t state = c.start_state;
        uint32_t previous = state;
        uint32_t flags = 0;
        uint32_t line = c.line;
        uint32_t text_line = line;
        size_t raw_open = 0;  // the opening `%` run of a raw string, once met
        for (;;) {
            while (p < end) {
                const uint32_t entry = classes[*p];
                const uint32_t cls = entry & flag::CLASS_MASK;
                flags |= entry & ~flag::CLASS_MASK;
                previous = state;
                state = transitions[state * CLASS_COUNT + cls];
                if (state >= FINAL_FIRST) break;
                line += line_increment[cls];
                ++p;
                if (skip[state]) {
                    text = p;
                    text_line = line;
                }
            }
            // A raw string ends only at a `}` followed by as many `%` as
            // opened it: a shorter run before a delimiter is part of the body,
            // and the machine goes on there.
            if (state != F_RAW_STRING || p == end) break;
            if (raw_open == 0) raw_open = raw_open_run(text, p);
            if (!raw_close_short(text, p, raw_open)) break;
            state = S_RAW_BODY;
        }
        if (state < FINAL_FIRST) {  // the input ended inside the token
            previous = state;
            state = transitions[state * CLASS_COUNT + C_END];
        }
        line_feeds += line - c.line;
        c.pos = p;
        c.line = line;
        t.start = text;
        t.end = p;
        t.flags = flags;
        t.line = text_line;
        t.line_feeds = line_feeds;
        t.state = uint8_t(state);
        t.previous = uint8_t(previous);
        t.type = state_type[state];
        t.bad_utf8 = false;
        // A token that starts with a UTF-8 sequence went the way of a word:
        // leading Unicode blanks are blanks, not word characters.
        if (text == p || *text < 0x80 || c.start_state == S_BRACED || c.start_state == S_POINT) return;
        const uint8_t* q = text;
        while (q < p && *q >= 0x80) {
            uint32_t used = 0;
            const int32_t cp = unicode::check_utf8_char(q, uint32_t(p - q), &used);
            if (cp < 0) {
                if (state != F_ERROR) {  // an error found by the machine stands as it is
                    t.state = F_ERROR;
                    t.type = TYPE_ERROR;
                    t.bad_utf8 = true;
                }
                return;
            }
            if (!is_unicode_blank(uint32_t(cp))) break;
            q += used;
        }
        if (q == text) return;
        if (c.start_state != S_START) {  // a blank where a path element must start
            t.state = F_ERROR;
            t.previous = c.start_state;
            t.type = TYPE_ERROR;
            t.bad_utf8 = false;
            return;
        }
        c.pos = q;  // classify the rest afresh (no line feed can be inside a word)
        c.line = text_line;
    }
}

namespace {

// TAB, space, # + - . digits and A E F I N a e f i n.
bool is_point_char(uint8_t b) {
    switch (b) {
        case '\t':
        case ' ':
        case '#':
        case '+':
        case '-':
        case '.':
        case 'A':
        case 'E':
        case 'F':
        case 'I':
        case 'N':
        case 'a':
        case 'e':
        case 'f':
        case 'i':
        case 'n':
            return true;
        default:
            return b >= '0' && b <= '9';
    }
}

}  // namespace

bool point_ahead(const uint8_t* p, const uint8_t* end) {
    if (end - p < 4) return false;
    for (; p < end; ++p) {
        if (!is_point_char(*p)) return *p == ',';
    }
    return true;
}

}  // namespace kiv::lexer
