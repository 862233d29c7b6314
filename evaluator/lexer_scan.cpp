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

bool is_path_type(uint8_t type) {
    return type >= TYPE_PATH && type <= TYPE_GET_PATH;
}

// The token that a path element loads as, from the state it stopped in.
uint8_t element_token(uint8_t type) {
    switch (type) {
        case TYPE_INTEGER:
            return F_INTEGER;
        case TYPE_ISSUE:
            return F_ISSUE;
        default:
            return F_WORD;
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

Walker::Walker(const uint8_t* begin, const uint8_t* end) {
    cursor_.pos = begin;
    cursor_.end = end;
}

bool Walker::in_path() const {
    return !stack_.empty() && is_path_type(stack_.back().type);
}

const Item& Walker::next() {
    if (taken_ < queued_) return queue_[taken_++];
    if (done_) return queue_[queued_ - 1];
    queued_ = taken_ = 0;
    while (queued_ == 0) step();
    return queue_[taken_++];
}

void Walker::push(Event e, uint8_t token, uint8_t type, const uint8_t* start, const uint8_t* end,
                  uint32_t flags, uint32_t line) {
    Item& it = queue_[queued_++];
    it = Item{};
    it.event = e;
    it.token = token;
    it.type = type;
    it.start = start;
    it.end = end;
    it.flags = flags;
    it.line = line;
    it.line_feeds = pending_line_feeds_;
    pending_line_feeds_ = 0;
    if (e == Event::end || e == Event::error) done_ = true;
}

void Walker::fail(ErrorKind kind, uint8_t type, const uint8_t* at, uint32_t line, char missing_char) {
    push(Event::error, F_ERROR, type, at, at, 0, line);
    Item& it = queue_[queued_ - 1];
    it.error = kind;
    it.missing = missing_char;
}

// The missing-closing error for the innermost open container. At the end of
// the input the found character counts as "_", otherwise it is the byte at
// `at`.
void Walker::missing(const uint8_t* at, uint32_t line, bool at_end) {
    const uint8_t type = stack_.back().type;
    if (is_path_type(type)) {
        fail(ErrorKind::bad_char, 0, at, line);
        return;
    }
    char found = '_';
    if (!at_end) found = at < cursor_.end ? char(*at) : char(cursor_.end[-1]);
    char want;
    if (type == TYPE_BLOCK || type == TYPE_MAP) {
        want = found == ']' ? '[' : ']';
    } else {
        want = found == ')' ? '(' : ')';
    }
    fail(ErrorKind::missing, 0, at, line, want);
}

void Walker::open(uint8_t token, uint8_t type, const uint8_t* start, const uint8_t* end, uint32_t line) {
    if (!stack_.empty() && stack_.back().type == TYPE_POINT2D) {
        fail(ErrorKind::invalid, TYPE_POINT2D, start, line);
        return;
    }
    stack_.push_back(Open{type, 0, start});
    push(Event::open, token, type, start, end, 0, line);
}

void Walker::after_path_part(bool ended_with_colon) {
    Open& path = stack_.back();
    const PathNext next = path_next(cursor_.pos, cursor_.end, ended_with_colon);
    if (next == PATH_MORE) {
        cursor_.start_state = S_PATH;
        return;
    }
    uint8_t type = path.type;
    if (next == PATH_SET) {
        if (type != TYPE_PATH) {  // 'a/b: and :a/b: are neither set-paths nor anything else
            fail(ErrorKind::invalid, type, path.at, cursor_.line);
            return;
        }
        type = TYPE_SET_PATH;
    }
    const uint8_t* start = path.at;
    stack_.pop_back();
    cursor_.start_state = S_START;
    push(Event::close, F_PATH, type, start, cursor_.pos, 0, cursor_.line);
}

void Walker::value(const Token& t) {
    const uint8_t* start = t.start;
    const uint8_t* end = t.end;
    uint8_t type = t.type;
    switch (t.state) {
        case F_STRING:
        case F_CHAR:
        case F_BINARY:
        case F_PERCENT:
        case F_TAG:
            ++end;  // the closing byte is the loader's
            break;
        case F_FILE:
            if (end - start >= 2 && start[1] == '"') ++end;
            break;
        case F_POINT: {
            ++end;
            start = point_start_;
            int commas = 0;
            for (const uint8_t* p = t.start; p < t.end; ++p) commas += *p == ',';
            if (commas == 2) type = TYPE_POINT3D;
            break;
        }
        case F_HEX:
            type = TYPE_INTEGER;
            break;
        default:
            break;
    }
    cursor_.pos = end;
    const bool element = cursor_.start_state == S_PATH;
    if (t.state == F_POINT) cursor_.start_state = S_START;
    push(Event::value, t.state, type, start, end, t.flags, t.line);
    if (element) {
        after_path_part(end > start && end[-1] == ':');
    } else if (t.state == F_POINT && in_path()) {
        after_path_part(false);
    }
}

void Walker::step() {
    Token t;
    const uint8_t from = cursor_.start_state;
    scan_token(cursor_, t);
    pending_line_feeds_ += t.line_feeds;
    switch (t.state) {
        case F_END:
            if (!stack_.empty()) {
                missing(t.end, t.line, true);
            } else {
                push(Event::end, F_END, 0, t.end, t.end, 0, t.line);
            }
            return;
        case F_ERROR:
            if (t.bad_utf8) {
                fail(ErrorKind::invalid, TYPE_WORD, t.start, t.line);
            } else if (uint8_t type = t.error_type()) {
                fail(ErrorKind::invalid, type, from == S_POINT ? point_start_ : t.start, t.line);
            } else {
                fail(ErrorKind::bad_char, 0, t.start, t.line);
            }
            return;
        case F_BLOCK_OPEN:
            cursor_.pos = t.end + 1;
            cursor_.start_state = S_START;
            open(F_BLOCK_OPEN, TYPE_BLOCK, t.end, t.end + 1, t.line);
            return;
        case F_MAP_OPEN:
            cursor_.pos = t.end + 1;
            cursor_.start_state = S_START;
            open(F_MAP_OPEN, TYPE_MAP, t.start, t.end + 1, t.line);
            return;
        case F_PAREN_OPEN:
            cursor_.pos = t.end + 1;
            if (point_ahead(cursor_.pos, cursor_.end)) {
                if (!stack_.empty() && stack_.back().type == TYPE_POINT2D) {
                    fail(ErrorKind::invalid, TYPE_POINT2D, t.end, t.line);
                    return;
                }
                point_start_ = t.end;
                cursor_.start_state = S_POINT;
                return;
            }
            cursor_.start_state = S_START;
            open(F_PAREN_OPEN, TYPE_PAREN, t.end, t.end + 1, t.line);
            return;
        case F_BLOCK_CLOSE:
        case F_PAREN_CLOSE: {
            const bool block = t.state == F_BLOCK_CLOSE;
            if (stack_.empty()) {  // nothing open: the opening character is missing
                fail(ErrorKind::missing, 0, t.end, t.line, block ? '[' : '(');
                return;
            }
            const uint8_t type = stack_.back().type;
            const bool match = block ? (type == TYPE_BLOCK || type == TYPE_MAP)
                                     : (type == TYPE_PAREN || type == TYPE_POINT2D);
            if (!match) {
                missing(t.end, t.line, false);
                return;
            }
            if (type == TYPE_POINT2D && stack_.back().commas > 2) {
                fail(ErrorKind::invalid, TYPE_POINT3D, stack_.back().at, t.line);
                return;
            }
            const uint8_t* start = stack_.back().at;
            uint8_t closed = type;
            if (type == TYPE_POINT2D && stack_.back().commas == 2) closed = TYPE_POINT3D;
            stack_.pop_back();
            cursor_.pos = t.end + 1;
            push(Event::close, t.state, closed, start, t.end + 1, 0, t.line);
            if (in_path()) after_path_part(false);
            return;
        }
        case F_BRACE_OPEN:
            if (brace_depth_ == 0) {
                brace_start_ = t.end;
                brace_flags_ = 0;
                brace_line_ = t.line;
            }
            ++brace_depth_;
            brace_flags_ |= t.flags;
            cursor_.pos = t.end + 1;
            cursor_.start_state = S_BRACED;
            return;
        case F_BRACE_CLOSE:  // only reachable from the braced state, so the depth is above 0
            brace_flags_ |= t.flags;
            cursor_.pos = t.end + 1;
            if (--brace_depth_ == 0) {
                cursor_.start_state = S_START;
                push(Event::value, F_STRING, TYPE_STRING, brace_start_, cursor_.pos, brace_flags_,
                     brace_line_);
            }
            return;
        case F_PATH:
            cursor_.pos = t.end + 1;
            if (from == S_PATH) {  // an element followed by another
                const uint8_t type = tables::state_type[t.previous];
                push(Event::value, element_token(type), type, t.start, t.end, t.flags, t.line);
                return;
            } else {
                uint8_t type = TYPE_PATH;
                if (*t.start == '\'') type = TYPE_LIT_PATH;
                if (*t.start == ':') type = TYPE_GET_PATH;
                open(F_PATH, type, t.start, t.start, t.line);
                if (done_) return;
                cursor_.start_state = S_PATH;
                const uint8_t* first = t.start + (type != TYPE_PATH);
                push(Event::value, F_WORD, TYPE_WORD, first, t.end, t.flags, t.line);
            }
            return;
        case F_CONSTRUCT:
            cursor_.pos = t.end + 1;
            push(Event::value, F_CONSTRUCT, 0, t.start, t.end + 1, t.flags, t.line);
            return;
        case F_COMMENT:
            return;
        case F_COMMA:
            cursor_.pos = t.end + 1;
            if (!stack_.empty() && stack_.back().type == TYPE_PAREN) {
                stack_.back().type = TYPE_POINT2D;
                stack_.back().commas = 1;
            } else if (!stack_.empty() && stack_.back().type == TYPE_POINT2D) {
                if (stack_.back().commas < 255) ++stack_.back().commas;
            } else {
                fail(ErrorKind::invalid, TYPE_POINT2D, t.end, t.line);
            }
            return;
        default:
            value(t);
            return;
    }
}

}  // namespace kiv::lexer
