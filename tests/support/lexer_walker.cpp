// The tests' scan-only walker over the lexer's token loop (lexer_walker.h).
#include "tests/support/lexer_walker.h"

#include "runtime/cell.h"

namespace kiv::lexer {

namespace {

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
