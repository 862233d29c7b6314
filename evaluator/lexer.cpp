#include "evaluator/lexer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/lexer_values.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer_state.h"
#include "evaluator/runtime.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::lexer {

CallbackInvoker invoke_callback = nullptr;
Unwind pending_exit = UNWIND_NONE;

namespace {

// ---- Shared buffers ----------------------------------------------------------------------

// The output cells of every live run, in C++ memory: a collection never moves
// them, only growing the buffer does (runs hold indexes).
Cell* out_cells = nullptr;
uint32_t out_capacity = 0;
// Above this the buffer is not grown: the internal error for exhausted memory.
constexpr uint32_t MAX_OUTPUT_CELLS = 1u << 27;

// The innermost live run (each links to the run it nests in).
State* live = nullptr;
uint32_t live_count = 0;

// The text buffer for input copies: the outermost run takes it when the
// text fits; a nested run or a larger text gets a buffer of its own for the
// length of the run, so no run ever replaces another's input.
uint8_t* shared_text = nullptr;
bool shared_text_busy = false;

bool initialized = false;

void grow_output(uint32_t needed) {
    uint64_t capacity = out_capacity ? uint64_t(out_capacity) * 2 : OUTPUT_CELLS;
    while (capacity < needed) capacity *= 2;
    if (capacity > MAX_OUTPUT_CELLS) fire({"internal", "no-memory"});
    void* p = std::realloc(out_cells, size_t(capacity) * sizeof(Cell));
    if (!p) fire({"internal", "no-memory"});
    out_cells = static_cast<Cell*>(p);
    out_capacity = uint32_t(capacity);
}

// The collector's mark callback: the cells of every live run, its input
// value and its callback.
void mark_states() {
    for (State* s = live; s; s = s->outer) {
        collector::mark_cells(out_cells + s->first, out_cells + s->tail);
        collector::mark_cells(&s->input, &s->input + 1);
        collector::mark_cells(&s->callback, &s->callback + 1);
    }
}

// A private copy of the input text, released when the run ends.
class TextCopy {
  public:
    uint8_t* reserve(uint32_t size) {
        if (!shared_text_busy && size <= TEXT_BUFFER_BYTES && shared_text) {
            shared_text_busy = true;
            shared_ = true;
            return shared_text;
        }
        own_.reset(new (std::nothrow) uint8_t[size ? size : 1]);
        if (!own_) fire({"internal", "no-memory"});
        return own_.get();
    }
    ~TextCopy() {
        if (shared_) shared_text_busy = false;
    }

  private:
    bool shared_ = false;
    std::unique_ptr<uint8_t[]> own_;
};

// Links a run into the live list for its lifetime.
class LiveRun {
  public:
    explicit LiveRun(State& st) : st_(st) {
        st.outer = live;
        st.first = live ? live->tail : 0;
        st.head = st.tail = st.first;
        live = &st;
        ++live_count;
    }
    ~LiveRun() {
        live = st_.outer;
        --live_count;
    }

  private:
    State& st_;
};

// ---- Positions, lines, indexes -------------------------------------------------------------

uint32_t count_lines(const uint8_t* from, const uint8_t* to) {
    uint32_t n = 0;
    for (const uint8_t* p = from; p < to; ++p) n += *p == '\n';
    return n;
}

// The line of a byte, from the line of the token being handled.
uint32_t line_of(const State& st, const uint8_t* at) {
    const uint8_t* ref = st.token_start ? st.token_start : st.begin;
    if (at >= ref) return st.token_line + count_lines(ref, at);
    return st.token_line - count_lines(at, ref);
}

// Index in the input value of a byte of the text.
uint32_t index_of(State& st, const uint8_t* p) {
    if (p < st.begin) p = st.begin;
    if (p > st.end) p = st.end;
    const uint32_t b = uint32_t(p - st.begin);
    if (!st.string_input) return st.input_base + b;
    if (b < st.cache_byte) st.cache_byte = st.cache_char = 0;
    st.cache_char += unicode::count_utf8_chars(st.begin + st.cache_byte, p);
    st.cache_byte = b;
    return st.input_base + st.cache_char;
}

// The byte of the text at an index of the input value (clamped to the text).
const uint8_t* byte_at_index(State& st, uint32_t index) {
    if (index <= st.input_base) return st.begin;
    const uint32_t rel = index - st.input_base;
    if (!st.string_input) return rel >= uint32_t(st.end - st.begin) ? st.end : st.begin + rel;
    if (rel < st.cache_char) st.cache_byte = st.cache_char = 0;
    const uint8_t* p = unicode::skip_utf8_chars(st.begin + st.cache_byte, st.end, rel - st.cache_char);
    st.cache_char += unicode::count_utf8_chars(st.begin + st.cache_byte, p);
    st.cache_byte = uint32_t(p - st.begin);
    return p;
}

// Moves the position (after a callback moved the input), keeping the line count.
void move_to(State& st, const uint8_t* p) {
    if (p > st.pos) {
        st.line += count_lines(st.pos, p);
    } else {
        st.line -= count_lines(p, st.pos);
    }
    st.pos = p;
}

// One character (UTF-8 sequence) on from p, at most to the end.
const uint8_t* next_char(const State& st, const uint8_t* p) {
    if (p >= st.end) return st.end;
    int n = unicode::utf8_lead_length(*p);
    if (n == 0) n = 1;
    return st.end - p < n ? st.end : p + n;
}

// ---- Events ------------------------------------------------------------------------------

// What a callback did to the input: where it moved it (null when it did not).
const uint8_t* moved_to = nullptr;

Cell event_word(uint32_t bit) {
    fixed::Word w = fixed::W_PRESCAN;
    switch (bit) {
        case EV_PRESCAN:
            w = fixed::W_PRESCAN;
            break;
        case EV_SCAN:
            w = fixed::W_SCAN;
            break;
        case EV_LOAD:
            w = fixed::W_LOAD;
            break;
        case EV_OPEN:
            w = fixed::W_OPEN;
            break;
        case EV_CLOSE:
            w = fixed::W_CLOSE;
            break;
        default:
            w = fixed::W_ERROR;
            break;
    }
    return fixed::words[w];
}

// The run's one way out from deep inside the scan: thrown instead of raising
// when the run only scans (the run reports the negated datatype in error),
// and when a callback ended with a non-local exit (the run reports the exit
// code through pending_exit). Caught only by scan().
struct RunEnded {
    int32_t type;
    Unwind exit;
};

// Sends one event. `token` is the value for `load`, else null (the extent
// [start, end) is sent as a pair of 1-based indexes). The input is given
// positioned at the token's start for prescan and open, at its end
// otherwise. Returns the callback's answer; `moved_to` tells whether it
// moved the input.
bool fire_event(State& st, uint32_t bit, const Cell& type, const Cell* token, const uint8_t* start,
                const uint8_t* end) {
    moved_to = nullptr;
    if (!(st.mask & bit)) return true;
    if (!invoke_callback) fire({"internal", "not-done"});
    const uint8_t* at = (bit == EV_PRESCAN || bit == EV_OPEN) ? start : end;
    const uint32_t given = index_of(st, at);
    Cell args[5];
    args[0] = event_word(bit);
    args[1] = st.input;
    args[1].w1 = given;
    args[2] = type;
    args[3] = Cell{TYPE_INTEGER, 0, st.token_line, 0};
    if (token) {
        args[4] = *token;
        args[4].clear_new_line();
    } else {
        values::make_pair(&args[4], int32_t(index_of(st, start) + 1), int32_t(index_of(st, end) + 1));
    }
    bool go_on = true;
    if (const Unwind code = invoke_callback(&st.callback, args, &go_on)) throw RunEnded{0, code};
    const Cell& back = args[1];
    if (back.type() == st.input.type() && back.w2 == st.input.w2 && back.w1 != given) {
        moved_to = byte_at_index(st, back.w1);
    }
    return go_on;
}

Cell type_cell(uint32_t type) {
    return type ? datatype::cell(type) : none::cell();
}

// The type sent with a prescan event: the datatype of the final state, or a
// word naming the token class for classes without one.
Cell prescan_type(const Token& t) {
    switch (t.state) {
        case F_END:
            return word::make_global(symbol::make("eof"));
        case F_BLOCK_OPEN:
        case F_BLOCK_CLOSE:
            return datatype::cell(TYPE_BLOCK);
        case F_PAREN_OPEN:
        case F_PAREN_CLOSE:
            return datatype::cell(TYPE_PAREN);
        case F_BRACE_OPEN:
        case F_BRACE_CLOSE:
            return datatype::cell(TYPE_STRING);
        case F_MAP_OPEN:
            return datatype::cell(TYPE_MAP);
        case F_PATH:
            return datatype::cell(TYPE_PATH);
        case F_CONSTRUCT:
            return word::make_global(symbol::make("construct"));
        case F_COMMENT:
            return fixed::words[fixed::W_COMMENT];
        case F_COMMA:
            return word::make_global(symbol::make("comma"));
        default:
            return type_cell(t.type);
    }
}

// ---- Errors --------------------------------------------------------------------------------

// Set by throw_error when the error it hands to a callback was found at the
// end of the input.
bool error_at_end = false;

// A string! of the near text: from `at`, at most NEAR_BYTES bytes, before
// any line feed, cut at a character boundary; bytes that do not decode
// become U+FFFD.
void make_near(const State& st, const uint8_t* at, Cell* cell) {
    if (at < st.begin) at = st.begin;
    if (at > st.end) at = st.end;
    const uint8_t* stop = at;
    const uint8_t* limit = st.end - at > NEAR_BYTES ? at + NEAR_BYTES : st.end;
    while (stop < limit && *stop != '\n') ++stop;
    if (stop == limit && stop < st.end) {  // cut: back to the start of a character
        const uint8_t* p = stop;
        while (p > at && (*p & 0xC0) == 0x80) --p;
        if (p > at) {
            uint32_t used = 0;
            const int32_t cp = unicode::check_utf8_char(p, uint32_t(st.end - p), &used);
            if (cp < 0 || p + used > stop) stop = p;  // a sequence the cut would split
        }
    }
    uint32_t count = 0, widest = 0;
    for (const uint8_t* p = at; p < stop;) {
        uint32_t used = 1;
        int32_t cp = *p < 0x80 ? int32_t(*p) : unicode::check_utf8_char(p, uint32_t(stop - p), &used);
        if (cp < 0) {
            cp = 0xFFFD;
            used = 1;
        }
        if (uint32_t(cp) > widest) widest = uint32_t(cp);
        ++count;
        p += used;
    }
    values::TextBuilder b;
    b.begin(count, widest);
    for (const uint8_t* p = at; p < stop;) {
        uint32_t used = 1;
        int32_t cp = *p < 0x80 ? int32_t(*p) : unicode::check_utf8_char(p, uint32_t(stop - p), &used);
        if (cp < 0) {
            cp = 0xFFFD;
            used = 1;
        }
        b.put(uint32_t(cp));
        p += used;
    }
    b.finish(cell, TYPE_STRING);
}

Cell* push_text(const char* text) {
    Cell* c = stack::push(none::cell());
    string::make_at(c, uint32_t(std::strlen(text)));
    string::concatenate_literal(c, text);
    return c;
}


}  // namespace

Cell* cell_at(uint32_t index) {
    return out_cells + index;
}

uint32_t alloc_slot(State& st, bool new_line) {
    if (st.tail >= out_capacity) grow_output(st.tail + 1);
    out_cells[st.tail] = Cell{TYPE_UNSET | (new_line ? header::NEW_LINE : 0), 0, 0, 0};
    return st.tail++;
}

[[noreturn]] void throw_error(State& st, const uint8_t* at, int32_t kind, char missing) {
    const uint32_t type = kind > 0 ? uint32_t(kind) : TYPE_ERROR;
    st.error_type = uint8_t(type);
    if (st.mask & EV_ERROR) {
        const uint8_t* end = st.token_end && st.token_end > at ? st.token_end : at;
        const bool go_on = fire_event(st, EV_ERROR, datatype::cell(type), nullptr, at, end);
        if (!go_on) {
            error_at_end = end >= st.end;
            throw Handled{};
        }
    }
    if (!st.raise) throw RunEnded{-int32_t(type), UNWIND_NONE};
    // The arguments stay on the data stack (reachable while the error value
    // is made); the frame that catches the error restores the stack.
    Cell* near = stack::push(none::cell());
    make_near(st, at, near);
    char line[32];
    std::snprintf(line, sizeof line, "(line %u)", line_of(st, at));
    Cell* line_text = push_text(line);
    if (kind > 0) fire({"syntax", "invalid"}, *line_text, datatype::cell(type), *near);
    if (kind == KIND_BAD_CHAR) fire({"syntax", "bad-char"}, *line_text, *near);
    if (kind == KIND_MALCONSTRUCT) fire({"syntax", "malconstruct"}, *line_text, *near);
    const char text[2] = {missing, 0};
    Cell* missing_text = push_text(text);
    fire({"syntax", "missing"}, *line_text, *missing_text, *near);
}

namespace {

// ---- Containers ------------------------------------------------------------------------------

inline uint32_t innermost(const State& st) {
    return st.head == st.first ? 0 : out_cells[st.head - 1].w1;
}
inline bool in_path(const State& st) {
    const uint32_t t = innermost(st);
    return t >= TYPE_PATH && t <= TYPE_GET_PATH;
}
inline bool is_path_type(uint32_t t) {
    return t >= TYPE_PATH && t <= TYPE_GET_PATH;
}

// A value starts a new line when a line feed came after the previous one.
bool new_line_before(State& st) {
    return !in_path(st) && st.token_line > st.value_line;
}

void value_done(State& st, uint32_t type) {
    st.value_line = st.line;
    if (st.head != st.first) return;
    if (st.top_values++ == 0) st.first_type = int32_t(type);
    if (st.one) st.stop = true;
}

// Opens a container at `at` ([at, end) is the opening text for the event).
// Returns false when the callback cancelled the opening.
bool open_container(State& st, uint32_t type, const uint8_t* at, const uint8_t* end) {
    if (innermost(st) == TYPE_POINT2D) invalid(st, at, TYPE_POINT2D);
    if (st.mask & EV_OPEN) {
        const bool go_on = fire_event(st, EV_OPEN, datatype::cell(type), nullptr, at, end);
        if (moved_to) move_to(st, moved_to);
        if (!go_on) return false;
    }
    const bool nl = new_line_before(st);
    const uint32_t m = alloc_slot(st, nl);
    Cell* mk = cell_at(m);
    mk->w1 = type;
    mk->w2 = st.head;
    mk->w3 = uint32_t(at - st.begin);
    st.head = m + 1;
    st.value_line = st.line;
    return true;
}

// Closes the innermost container as `type` (a path may close as set-path!);
// [end - 1, end) is the closing text for the event.
void close_container(State& st, uint32_t type, const uint8_t* end) {
    const uint32_t m = st.head - 1;
    const Cell marker = *cell_at(m);
    const uint8_t* opened = st.begin + marker.w3;
    const uint32_t count = st.tail - st.head;
    if (st.load) {
        if (type == TYPE_POINT2D || type == TYPE_POINT3D) {
            close_point(st, m, type);
        } else if (type == TYPE_MAP) {
            if (!values::make_map(cell_at(m), cell_at(st.head), count)) invalid(st, opened, TYPE_MAP);
        } else {
            values::make_container(cell_at(m), type, cell_at(st.head), count);
        }
        cell_at(m)->header |= marker.header & header::NEW_LINE;
        st.tail = m + 1;
    } else {
        st.tail = m;
    }
    st.head = marker.w2;
    if (st.mask & EV_CLOSE) {
        fire_event(st, EV_CLOSE, datatype::cell(type), nullptr, opened, end);
        if (moved_to) move_to(st, moved_to);
    }
    value_done(st, type);
}

// The missing-closing error for the innermost container. `found` is the
// byte found (0 at the end of the input, which counts as "_").
[[noreturn]] void missing_error(State& st, const uint8_t* at, uint8_t found) {
    const uint32_t type = innermost(st);
    if (is_path_type(type)) throw_error(st, at, KIND_BAD_CHAR);
    char want;
    if (type == TYPE_BLOCK || type == TYPE_MAP) {
        want = found == ']' ? '[' : ']';
    } else {
        want = found == ')' ? '(' : ')';
    }
    throw_error(st, at, found ? KIND_MISSING : KIND_MISSING_END, want);
}

void after_path_part(State& st, bool ended_with_colon);

// ---- Values ------------------------------------------------------------------------------------

// The datatype a value token has, without loading it (scan mode).
uint32_t classify(const Token& t, const uint8_t* start, const uint8_t* end) {
    switch (t.state) {
        case F_WORD: {
            const size_t n = size_t(end - start);
            if (n > 1 && end[-1] == ':')
                return start[0] == '\'' || start[0] == ':' ? TYPE_ERROR : TYPE_SET_WORD;
            if (start[0] == '\'') return TYPE_LIT_WORD;
            if (start[0] == ':') return TYPE_GET_WORD;
            return TYPE_WORD;
        }
        case F_REFINEMENT: {
            const uint8_t* p = start;
            uint32_t kind = TYPE_WORD;
            if (*p == '\'') kind = TYPE_LIT_WORD;
            if (*p == ':') kind = TYPE_GET_WORD;
            if (kind != TYPE_WORD) ++p;
            const size_t n = size_t(end - p);
            if (n == 1 || (n == 2 && p[1] == '/')) return kind;
            if (n == 2 && p[1] == ':') return kind == TYPE_WORD ? TYPE_SET_WORD : TYPE_ERROR;
            return kind == TYPE_WORD ? TYPE_REFINEMENT : TYPE_ERROR;
        }
        case F_ISSUE:
            return end - start > 1 && start[0] == '#' ? TYPE_ISSUE : TYPE_ERROR;
        case F_HEX:
            return TYPE_INTEGER;
        case F_POINT: {
            int commas = 0;
            for (const uint8_t* p = start; p < end; ++p) commas += *p == ',';
            return commas == 2 ? TYPE_POINT3D : TYPE_POINT2D;
        }
        default:
            return t.type;
    }
}

// The full extent of a value token's source, closing byte included.
const uint8_t* value_end(const Token& t) {
    switch (t.state) {
        case F_STRING:
        case F_CHAR:
        case F_BINARY:
        case F_PERCENT:
        case F_TAG:
        case F_POINT:
            return t.end + 1;
        case F_FILE:
            return (t.end - t.start >= 2 && t.start[1] == '"') ? t.end + 1 : t.end;
        default:
            return t.end;
    }
}

// Sends scan, loads, sends load. `make` builds the value in the slot it is
// given and returns its datatype; returns whether a value was kept.
template <class Make>
bool deliver(State& st, uint32_t scan_type, const uint8_t* start, const uint8_t* end, bool new_line,
             Make make, uint32_t* type_out) {
    if (st.mask & EV_SCAN) {
        const bool go_on = fire_event(st, EV_SCAN, type_cell(scan_type), nullptr, start, end);
        if (moved_to) move_to(st, moved_to);
        if (!go_on) return false;
    }
    if (!st.load) {
        *type_out = scan_type;
        return true;
    }
    const uint32_t slot = alloc_slot(st, new_line);
    const uint32_t type = make(slot);
    *type_out = type;
    if (st.mask & EV_LOAD) {
        const Cell value = *cell_at(slot);
        const bool go_on = fire_event(st, EV_LOAD, datatype::cell(type), &value, start, end);
        if (moved_to) move_to(st, moved_to);
        if (!go_on) {
            st.tail = slot;
            return false;
        }
    }
    return true;
}

// A value token (token classes 13 to 35).
void value_token(State& st, const Token& t) {
    const uint8_t* start = t.start;
    const uint8_t* end = value_end(t);
    const bool element = st.start_state == S_PATH;
    if (t.state == F_POINT) {
        start = st.point_start;
        st.start_state = S_START;
    }
    st.pos = end;
    st.token_end = end;
    const bool nl = new_line_before(st);
    uint32_t type = 0;
    bool kept;
    if (element) {
        const bool colon = end > t.start && end[-1] == ':';
        const uint8_t* text_end = colon ? end - 1 : end;
        const uint32_t guess = classify(t, t.start, text_end);
        kept = deliver(
            st, guess, t.start, end, false,
            [&](uint32_t slot) {
                return load_element(st, t.state, t.previous, t.start, text_end, t.flags, slot);
            },
            &type);
        (void)kept;
        after_path_part(st, colon);
        return;
    }
    const uint32_t guess = classify(t, t.start, t.end);
    kept = deliver(
        st, guess, start, end, nl,
        [&](uint32_t slot) { return load_value(st, t.state, t.start, t.end, t.flags, slot); }, &type);
    if (t.state == F_POINT && in_path(st)) {
        after_path_part(st, false);
        return;
    }
    if (kept) value_done(st, type);
}

// After an element or a container inside a path: `/` goes on with the next
// element, `:` ends the path as a set-path, anything else ends it.
void after_path_part(State& st, bool ended_with_colon) {
    const PathNext next = path_next(st.pos, st.end, ended_with_colon);
    if (next == PATH_MORE) {
        st.start_state = S_PATH;
        return;
    }
    uint32_t type = innermost(st);
    if (next == PATH_SET) {
        if (type != TYPE_PATH) {  // 'a/b: and :a/b: are neither set-paths nor anything else
            invalid(st, st.begin + cell_at(st.head - 1)->w3, type);
        }
        type = TYPE_SET_PATH;
    }
    st.start_state = S_START;
    close_container(st, type, st.pos);
}

// ---- The token loop ------------------------------------------------------------------------

// Handles one token; returns false once the input is finished.
bool step(State& st) {
    Cursor c;
    c.pos = st.pos;
    c.end = st.end;
    c.line = st.line;
    c.start_state = st.start_state;
    const uint8_t from = st.start_state;
    Token t;
    scan_token(c, t);
    st.token_start = t.start;
    st.token_end = t.end;
    st.token_line = t.line;
    st.previous = t.previous;

    if (st.mask & EV_PRESCAN) {
        // The token's extent as the scanners will take it.
        const uint8_t* full = t.end;
        switch (t.state) {
            case F_BLOCK_OPEN:
            case F_BLOCK_CLOSE:
            case F_PAREN_OPEN:
            case F_PAREN_CLOSE:
            case F_BRACE_OPEN:
            case F_BRACE_CLOSE:
            case F_MAP_OPEN:
            case F_PATH:
            case F_CONSTRUCT:
            case F_COMMA:
                full = t.end < st.end ? t.end + 1 : t.end;
                break;
            case F_END:
            case F_ERROR:
            case F_COMMENT:
                break;
            default:
                full = value_end(t);
                if (full > st.end) full = st.end;
                break;
        }
        const bool go_on = fire_event(st, EV_PRESCAN, prescan_type(t), nullptr, t.start, full);
        if (moved_to) {
            move_to(st, moved_to);
            return true;
        }
        if (!go_on) {
            if (t.state == F_END) {
                st.pos = st.end;
                return false;
            }
            const uint8_t* to = full > t.start ? full : next_char(st, t.start);
            st.line = c.line;
            st.pos = t.end;
            move_to(st, to);
            return true;
        }
    }
    st.pos = c.pos;
    st.line = c.line;

    switch (t.state) {
        case F_END:
            st.pos = st.end;
            if (st.head != st.first) missing_error(st, st.end, 0);
            return false;
        case F_ERROR:
            if (t.bad_utf8) invalid(st, t.start, TYPE_WORD);
            if (const uint8_t type = t.error_type()) {
                invalid(st, from == S_POINT ? st.point_start : t.start, type);
            }
            throw_error(st, t.start, KIND_BAD_CHAR);
        case F_BLOCK_OPEN:
            st.pos = t.end + 1;
            st.start_state = S_START;
            open_container(st, TYPE_BLOCK, t.end, t.end + 1);
            return true;
        case F_MAP_OPEN:
            st.pos = t.end + 1;
            st.start_state = S_START;
            open_container(st, TYPE_MAP, t.start, t.end + 1);
            return true;
        case F_PAREN_OPEN:
            st.pos = t.end + 1;
            if (point_ahead(st.pos, st.end)) {
                if (innermost(st) == TYPE_POINT2D) invalid(st, t.end, TYPE_POINT2D);
                st.point_start = t.end;
                st.start_state = S_POINT;
                return true;
            }
            st.start_state = S_START;
            open_container(st, TYPE_PAREN, t.end, t.end + 1);
            return true;
        case F_BLOCK_CLOSE:
        case F_PAREN_CLOSE: {
            const bool block = t.state == F_BLOCK_CLOSE;
            if (st.head == st.first) throw_error(st, t.end, KIND_MISSING, block ? '[' : '(');
            const uint32_t type = innermost(st);
            const bool match = block ? (type == TYPE_BLOCK || type == TYPE_MAP)
                                     : (type == TYPE_PAREN || type == TYPE_POINT2D);
            if (!match) missing_error(st, t.end, *t.end);
            const Cell& marker = *cell_at(st.head - 1);
            const uint32_t commas = (marker.header & MARKER_COMMA_MASK) >> MARKER_COMMA_SHIFT;
            uint32_t closed = type;
            if (type == TYPE_POINT2D) {
                if (commas > 2) invalid(st, st.begin + marker.w3, TYPE_POINT3D);
                if (commas == 2) closed = TYPE_POINT3D;
            }
            st.pos = t.end + 1;
            st.token_end = st.pos;
            close_container(st, closed, st.pos);
            if (in_path(st)) after_path_part(st, false);
            return true;
        }
        case F_BRACE_OPEN:
            if (st.brace_depth == 0) {
                st.brace_start = t.end;
                st.brace_flags = 0;
                st.brace_line = t.line;
            }
            ++st.brace_depth;
            st.brace_flags |= t.flags;
            st.pos = t.end + 1;
            st.start_state = S_BRACED;
            return true;
        case F_BRACE_CLOSE: {  // only reachable from the braced state: the depth is above 0
            st.brace_flags |= t.flags;
            st.pos = t.end + 1;
            if (--st.brace_depth > 0) return true;
            st.start_state = S_START;
            st.token_start = st.brace_start;
            st.token_line = st.brace_line;
            st.token_end = st.pos;
            const bool nl = new_line_before(st);
            const uint8_t* text = st.brace_start + 1;
            const uint8_t* text_end = t.end;
            const uint32_t flags = st.brace_flags;
            uint32_t type = 0;
            const bool kept = deliver(
                st, TYPE_STRING, st.brace_start, st.pos, nl,
                [&](uint32_t slot) {
                    load_braced(st, text, text_end, flags, slot);
                    return uint32_t(TYPE_STRING);
                },
                &type);
            if (kept && (st.mask & EV_CLOSE)) {
                fire_event(st, EV_CLOSE, datatype::cell(TYPE_STRING), nullptr, st.brace_start, st.pos);
                if (moved_to) move_to(st, moved_to);
            }
            if (kept) value_done(st, type);
            return true;
        }
        case F_PATH: {
            st.pos = t.end + 1;
            if (from == S_PATH) {  // an element followed by another
                st.token_end = t.end;
                uint32_t type = 0;
                deliver(
                    st, classify(t, t.start, t.end), t.start, t.end, false,
                    [&](uint32_t slot) {
                        return load_element(st, F_PATH, t.previous, t.start, t.end, t.flags, slot);
                    },
                    &type);
                return true;
            }
            uint32_t type = TYPE_PATH;
            if (*t.start == '\'') type = TYPE_LIT_PATH;
            if (*t.start == ':') type = TYPE_GET_PATH;
            if (!open_container(st, type, t.start, t.end + 1)) return true;
            st.start_state = S_PATH;
            const uint8_t* first = t.start + (type != TYPE_PATH);
            st.token_start = first;
            uint32_t element_type = 0;
            deliver(
                st, TYPE_WORD, first, t.end, false,
                [&](uint32_t slot) {
                    load_plain_word(st, first, t.end, slot);
                    return uint32_t(TYPE_WORD);
                },
                &element_type);
            return true;
        }
        case F_CONSTRUCT: {
            st.pos = t.end + 1;
            st.token_end = st.pos;
            const bool nl = new_line_before(st);
            uint32_t type = 0;
            const bool kept = deliver(
                st, 0, t.start, st.pos, nl,
                [&](uint32_t slot) { return load_construct(st, t.start + 2, t.end, slot); }, &type);
            if (kept) value_done(st, type);
            return true;
        }
        case F_COMMENT:
            return true;
        case F_COMMA: {
            st.pos = t.end + 1;
            const uint32_t type = innermost(st);
            if (type == TYPE_PAREN) {
                Cell* mk = cell_at(st.head - 1);
                mk->w1 = TYPE_POINT2D;
                mk->header = (mk->header & ~MARKER_COMMA_MASK) | (1u << MARKER_COMMA_SHIFT);
            } else if (type == TYPE_POINT2D) {
                Cell* mk = cell_at(st.head - 1);
                const uint32_t commas = (mk->header & MARKER_COMMA_MASK) >> MARKER_COMMA_SHIFT;
                if (commas < 255) {
                    mk->header = (mk->header & ~MARKER_COMMA_MASK) | ((commas + 1) << MARKER_COMMA_SHIFT);
                }
            } else {
                invalid(st, t.end, TYPE_POINT2D);
            }
            return true;
        }
        default:
            value_token(st, t);
            return true;
    }
}

// After a callback handled an error: the run goes on from where the callback
// left the input, and always past the start of the token in error.
void recover(State& st, const uint8_t* before, uint32_t head, uint32_t tail, uint8_t start_state) {
    const uint8_t* moved = moved_to;
    if (!moved && error_at_end) {
        st.aborted = true;
        st.stop = true;
        return;
    }
    st.head = head;
    st.tail = tail;
    st.start_state = start_state;
    const uint8_t* floor = st.token_start && st.token_start > before ? st.token_start : before;
    const uint8_t* to = moved ? moved : (st.token_end ? st.token_end : floor);
    if (to <= floor) to = next_char(st, floor);
    if (to <= before) to = next_char(st, before);
    if (st.brace_depth) st.start_state = S_BRACED;
    move_to(st, to);
    if (st.pos >= st.end && st.head != st.first && !moved) {
        // Nothing left to close the containers: the run ends without a result.
        st.aborted = true;
        st.stop = true;
    }
}

void run_tokens(State& st) {
    while (!st.stop) {
        const uint8_t* before = st.pos;
        const uint32_t head = st.head, tail = st.tail;
        const uint8_t start_state = st.start_state;
        const uint32_t line = st.line;
        try {
            if (!step(st)) return;
        } catch (const Handled&) {
            st.line = line;
            st.pos = before;
            recover(st, before, head, tail, start_state);
        }
    }
}

// The first token of the text, classified by the state machine alone.
int32_t prescan_first(State& st) {
    for (;;) {
        Cursor c;
        c.pos = st.pos;
        c.end = st.end;
        c.line = st.line;
        Token t;
        scan_token(c, t);
        st.token_start = t.start;
        st.token_end = t.end;
        st.token_line = t.line;
        if (st.mask & EV_PRESCAN) {
            const bool go_on = fire_event(st, EV_PRESCAN, prescan_type(t), nullptr, t.start, t.end);
            (void)go_on;
        }
        st.pos = c.pos;
        st.line = c.line;
        switch (t.state) {
            case F_END:
                return 0;
            case F_COMMENT:
                continue;
            case F_ERROR:
                if (t.bad_utf8) return -int32_t(TYPE_WORD);
                return -int32_t(t.error_type() ? uint32_t(t.error_type()) : uint32_t(TYPE_ERROR));
            case F_BLOCK_OPEN:
            case F_BLOCK_CLOSE:
                st.pos = t.end + 1;
                return TYPE_BLOCK;
            case F_PAREN_OPEN:
                st.pos = t.end + 1;
                return point_ahead(t.end + 1, st.end) ? TYPE_POINT2D : TYPE_PAREN;
            case F_PAREN_CLOSE:
                st.pos = t.end + 1;
                return TYPE_PAREN;
            case F_BRACE_OPEN:
                st.pos = t.end + 1;
                return TYPE_STRING;
            case F_MAP_OPEN:
                st.pos = t.end + 1;
                return TYPE_MAP;
            case F_PATH:
                st.pos = t.end + 1;
                return *t.start == '\'' ? TYPE_LIT_PATH : *t.start == ':' ? TYPE_GET_PATH : TYPE_PATH;
            case F_CONSTRUCT:
                st.pos = t.end + 1;
                return TYPE_DATATYPE;
            case F_COMMA:
                st.pos = t.end + 1;
                return TYPE_POINT2D;
            default: {
                const uint8_t* e = value_end(t);
                st.pos = e > st.end ? st.end : e;
                return int32_t(classify(t, t.start, t.end));
            }
        }
    }
}

// Builds the result of a loading run in `out`.
void store_result(State& st, Cell* out, const Options& o) {
    const uint32_t n = st.tail - st.first;
    if (st.one) {
        if (n > 0) {
            Cell v = *cell_at(st.first);
            v.clear_new_line();
            *out = v;
        }
        return;
    }
    if (o.into && o.into->type() != TYPE_NONE) {
        const Off node = o.into->w2;
        const Off at = series::reserve_tail(buffer_of(node), uint64_t(n) * sizeof(Cell));
        if (n) std::memcpy(arena::ptr(at), cell_at(st.first), size_t(n) * sizeof(Cell));
        *out = *o.into;
        return;
    }
    Cell blk;
    values::make_container(&blk, TYPE_BLOCK, cell_at(st.first), n);
    *out = blk;
}

}  // namespace

uint32_t event_mask(const Cell* callback) {
    if (!callback || (callback->type() != TYPE_FUNCTION && callback->type() != TYPE_ROUTINE)) return EV_ALL;
    // The filter block starts the callback's argument block or, as for the
    // evaluator's and parse's callbacks, the body (a function's only: a routine has no
    // Kiv body; a function cell made without one has no series there).
    auto leading_block = [](const Cell& blk) -> const Cell* {
        if (blk.type() != TYPE_BLOCK) return nullptr;
        const SeriesBuffer* b = buffer_of(blk.w2);
        const Cell* c = b->head_cell() + blk.w1;
        return c < b->tail_cell() && c->type() == TYPE_BLOCK ? c : nullptr;
    };
    const Cell spec = function::spec_of(callback);
    const Cell* c = leading_block(spec);
    Cell body;
    if (!c && callback->type() == TYPE_FUNCTION && callback->w3 != 0) {
        body = function::body_of(callback);
        c = leading_block(body);
    }
    if (!c) return EV_ALL;
    const SeriesBuffer* words = buffer_of(c->w2);
    uint32_t mask = 0;
    for (const Cell* w = words->head_cell() + c->w1; w < words->tail_cell(); ++w) {
        if (w->type() != TYPE_WORD) continue;
        const uint32_t s = symbol::resolve(w->w2);
        const struct {
            fixed::Word word;
            uint32_t bit;
        } names[] = {{fixed::W_PRESCAN, EV_PRESCAN}, {fixed::W_SCAN, EV_SCAN},   {fixed::W_LOAD, EV_LOAD},
                     {fixed::W_OPEN, EV_OPEN},       {fixed::W_CLOSE, EV_CLOSE}, {fixed::W_ERROR, EV_ERROR}};
        for (const auto& n : names) {
            if (symbol::resolve(fixed::words[n.word].w2) == s) mask |= n.bit;
        }
    }
    return mask;
}

int32_t scan(Cell* out, const uint8_t* text, uint32_t size, const Options& o, const Cell* input,
             uint32_t* consumed) {
    if (!initialized) init();
    State st;
    st.raise = o.scan && o.load;
    st.one = o.one || !o.load || !o.scan;
    st.load = o.load && o.scan;
    st.begin = text;
    st.end = text + size;
    st.pos = text;
    st.value_line = 1;
    if (input) {
        st.input = *input;
        st.input_base = input->w1;
        st.string_input = input->type() != TYPE_BINARY;
    }
    if (o.callback && (o.callback->type() == TYPE_FUNCTION || o.callback->type() == TYPE_ROUTINE)) {
        st.callback = *o.callback;
        st.mask = event_mask(o.callback);
    }
    LiveRun linked(st);
    pending_exit = UNWIND_NONE;
    int32_t result = 0;
    if (!o.scan) {
        try {
            result = prescan_first(st);
        } catch (const RunEnded& f) {
            pending_exit = f.exit;
            result = f.type;
        }
        if (consumed) *consumed = uint32_t(st.pos - st.begin);
        return result;
    }
    try {
        run_tokens(st);
    } catch (const RunEnded& f) {
        // After a non-local exit out of the callback nothing more is read and
        // nothing is stored (the stacks belong to the exit now).
        pending_exit = f.exit;
        if (consumed) *consumed = uint32_t(st.pos - st.begin);
        return f.type;
    }
    if (consumed) *consumed = uint32_t(st.pos - st.begin);
    if (st.aborted) {
        if (st.load) *out = none::cell();
        return 0;
    }
    if (!st.load) return st.first_type;
    store_result(st, out, o);
    return st.first_type;
}

int32_t load(Cell* out, const Cell* input, int32_t length, const Options& o, uint32_t* consumed) {
    if (!initialized) init();
    const uint32_t type = input->type();
    if (type != TYPE_BINARY && !is_any_string(type)) fire({"script", "invalid-arg"}, *input);
    const SeriesBuffer* b = buffer_of(input->w2);
    const uint32_t unit = type == TYPE_BINARY ? 1 : b->unit();
    const uint32_t total = (b->tail - b->head) >> unit_shift(unit);
    const uint32_t index = input->w1 < total ? input->w1 : total;
    uint32_t count = total - index;
    if (length >= 0 && uint32_t(length) < count) count = uint32_t(length);
    Cell in = *input;
    in.w1 = index;

    TextCopy copy;
    uint8_t* text;
    uint32_t size;
    if (type == TYPE_BINARY) {
        size = count;
        text = copy.reserve(size);
        std::memcpy(text, buffer_of(input->w2)->head_ptr() + index, size);
    } else {
        const uint8_t* start = b->head_ptr() + size_t(index) * unit;
        const uint64_t bytes = unicode::utf8_length(start, start + size_t(count) * unit, unit);
        if (bytes > 0xFFFFFFF0u) fire({"internal", "no-memory"});
        size = uint32_t(bytes);
        text = copy.reserve(size);
        // Read through the node again (reserving takes no series memory, so
        // nothing moved; the rule is kept all the same).
        const SeriesBuffer* sb = buffer_of(input->w2);
        const uint8_t* p = sb->head_ptr() + size_t(index) * unit;
        uint8_t* d = text;
        if (unit == 1) {  // Latin-1: ASCII as it is, the rest in two bytes
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t c = p[i];
                if (c < 0x80) {
                    *d++ = c;
                } else {
                    *d++ = uint8_t(0xC0 | (c >> 6));
                    *d++ = uint8_t(0x80 | (c & 0x3F));
                }
            }
        } else {
            for (uint32_t i = 0; i < count; ++i) {
                d += unicode::encode_utf8_char(string::get_char(p + size_t(i) * unit, unit), d);
            }
        }
    }
    uint32_t used = 0;
    const int32_t r = scan(out, text, size, o, &in, &used);
    if (consumed) {
        if (type == TYPE_BINARY) {
            *consumed = used;
        } else {
            *consumed = unicode::count_utf8_chars(text, text + used);
        }
    }
    return r;
}

Unwind transcode(const Cell* src_arg, const TranscodeArgs& a, Cell* result) {
    if (!initialized) init();
    Cell src = *src_arg;
    Cell* const saved_top = stack::top;
    Cell* out = stack::push(unset::cell());
    Cell* source = stack::push(src);
    const bool binary = src.type() == TYPE_BINARY;
    const SeriesBuffer* b = buffer_of(src.w2);
    const uint32_t unit = binary ? 1 : b->unit();
    const uint32_t total = (b->tail - b->head) >> unit_shift(unit);
    if (source->w1 > total) source->w1 = total;
    int64_t length = -1;
    if (a.part) {
        const Cell& p = *a.part;
        if (p.type() == TYPE_INTEGER) {
            length = int32_t(p.w2);
        } else {
            const bool part_binary = p.type() == TYPE_BINARY;
            if (part_binary != binary || (!part_binary && !is_any_string(p.type()))) {
                fire({"script", "not-same-type"});
            }
            const SeriesBuffer* pb = buffer_of(p.w2);
            const uint32_t pu = part_binary ? 1 : pb->unit();
            const uint32_t ptotal = (pb->tail - pb->head) >> unit_shift(pu);
            const uint32_t pindex = p.w1 < ptotal ? p.w1 : ptotal;
            length = int64_t(pindex) - int64_t(source->w1);
        }
        if (length < 0) length = 0;
    }
    const uint32_t available = total - source->w1;
    if (length < 0 || length > int64_t(available)) length = available;
    if (binary && length >= 3) {
        const uint8_t* p = buffer_of(src.w2)->head_ptr() + source->w1;
        if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
            source->w1 += 3;
            length -= 3;
        }
    }
    if ((a.prescan || a.scan) && length == 0) {
        stack::top = saved_top;
        *result = none::cell();
        return UNWIND_NONE;
    }
    Options o;
    o.one = a.next || a.one || a.scan;
    o.scan = !a.prescan;
    o.load = !a.scan;
    o.callback = a.trace;
    o.into = a.into;
    uint32_t consumed = 0;
    const int32_t r = load(out, source, int32_t(length), o, &consumed);
    if (pending_exit) return pending_exit;
    if (a.prescan || a.scan) *out = r == 0 ? none::cell() : datatype::cell(r < 0 ? TYPE_ERROR : uint32_t(r));
    Cell value = *out;
    if (a.next && (!a.one || a.scan)) {
        Cell pair[2];
        pair[0] = *out;
        pair[1] = *source;
        pair[1].w1 += consumed;
        values::make_container(&value, TYPE_BLOCK, pair, 2);
    }
    if (a.into && a.into->type() == TYPE_BLOCK) value = *a.into;
    stack::top = saved_top;
    *result = value;
    return UNWIND_NONE;
}

namespace {

// runtime::lexer_load: the whole text into a block.
uint32_t load_hook(const Cell* text, Cell* block) {
    Options o;
    uint32_t consumed = 0;
    load(block, text, -1, o, &consumed);
    return consumed;
}

// word::scan_type: the datatype of the first value (scan mode).
uint32_t scan_type_hook(const uint8_t* utf8, uint32_t length) {
    TextCopy copy;
    uint8_t* text = copy.reserve(length);
    std::memcpy(text, utf8, length);
    Options o;
    o.one = true;
    o.load = false;
    Cell none = none::cell();
    const int32_t r = scan(&none, text, length, o, nullptr, nullptr);
    return r < 0 ? uint32_t(TYPE_ERROR) : uint32_t(r);
}

// The interpreter's invoker: the five arguments are pushed and the
// callback called under a frame named <lexer-callback>.
Unwind call_callback(const Cell* callback, Cell* args, bool* go_on) {
    Cell* const saved = stack::top;
    Cell* first = stack::top;
    for (int i = 0; i < 5; ++i) stack::push(args[i]);
    const Cell fn = *callback;
    const Cell name = fixed::words[fixed::W_LEXER_CALLBACK];
    if (const Unwind code = interpreter::call_pushed(&name, &fn, first, false)) return code;
    const Cell answer = first[0];
    // The argument cells are the function's values: the input as the
    // callback left it is still in the second one.
    args[1] = first[1];
    stack::top = saved;
    const uint32_t t = answer.type();
    *go_on = !(t == TYPE_NONE || (t == TYPE_LOGIC && answer.w1 == 0));
    return UNWIND_NONE;
}

}  // namespace

void init() {
    if (initialized) return;
    initialized = true;
    if (!out_cells) grow_output(OUTPUT_CELLS);
    if (!shared_text) shared_text = new (std::nothrow) uint8_t[TEXT_BUFFER_BYTES];
    collector::register_marker(&mark_states);
    if (!invoke_callback) invoke_callback = &call_callback;
    runtime::lexer_load = &load_hook;
    word::scan_type = &scan_type_hook;
}

uint32_t live_runs() {
    return live_count;
}

uint32_t output_capacity() {
    return out_capacity;
}

}  // namespace kiv::lexer
