// The JSON kernels behind load-json and to-json (library/json.kiv).
//
// The decoder follows the library's JSON grammar step for step: the same
// rules in the same order, with the same side effects on the line counter,
// the position after the last line feed and the last good position (`mark`),
// also on the paths that fail, so that the message of an invalid text (line,
// index, column, the text near `mark`) is the one the grammar gives.
// Objects become map! values, arrays block! values; numbers are read as the
// lexer reads them. The text is read from a UTF-8 copy; positions are turned
// back into character counts only for the message.
//
// Values under construction are held on the data stack: every container is
// a pushed block, appended to its parent once complete.
#include <charconv>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/fixed_words.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "library/json.h"
#include "library/library.h"
#include "library/loading.h"
#include "runtime/error.h"
#include "runtime/number_scan.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::library::json {

namespace {

// Deeper nesting is refused as a stack overflow, as deep recursion is.
constexpr uint32_t MAX_DEPTH = 4000;

void put_utf8(std::string& out, uint32_t cp) {
    uint8_t bytes[4];
    const int n = unicode::encode_utf8_char(cp, bytes);
    out.append(reinterpret_cast<const char*>(bytes), size_t(n));
}

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads four hex digits at p (n bytes available); -1 when they are not.
int32_t read_unit(const uint8_t* p, size_t n) {
    if (n < 4) return -1;
    int32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        int h = hex_value(p[i]);
        if (h < 0) return -1;
        v = v * 16 + h;
    }
    return v;
}

[[noreturn]] void bad_escape(const uint8_t* raw, size_t n);

[[noreturn]] void bad_escape(const uint8_t* raw, size_t n) {
    Cell* text = loading::push_text(raw, n);
    fire({"script", "invalid-data"}, *text);
}

}  // namespace

void unescape(const uint8_t* raw, size_t n, std::string& out) {
    out.clear();
    for (size_t i = 0; i < n;) {
        uint8_t c = raw[i];
        if (c != '\\') {
            out += char(c);
            ++i;
            continue;
        }
        if (i + 1 >= n) bad_escape(raw, n);
        uint8_t e = raw[i + 1];
        i += 2;
        switch (e) {
            case '"': out += '"'; continue;
            case '\\': out += '\\'; continue;
            case '/': out += '/'; continue;
            case 'b': out += '\b'; continue;
            case 'f': out += '\f'; continue;
            case 'n': out += '\n'; continue;
            case 'r': out += '\r'; continue;
            case 't': out += '\t'; continue;
            case 'u': break;
            default: bad_escape(raw, n);
        }
        int32_t unit = read_unit(raw + i, n - i);
        if (unit < 0) bad_escape(raw, n);
        i += 4;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            // A high surrogate needs a low one in the escape right after it.
            if (n - i < 6 || raw[i] != '\\' || raw[i + 1] != 'u') bad_escape(raw, n);
            int32_t low = read_unit(raw + i + 2, n - i - 2);
            if (low < 0xDC00 || low > 0xDFFF) bad_escape(raw, n);
            i += 6;
            put_utf8(out, 0x10000 + ((uint32_t(unit) - 0xD800) << 10) + (uint32_t(low) - 0xDC00));
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            // A low surrogate alone stands for no character: refused.
            bad_escape(raw, n);
        } else {
            put_utf8(out, uint32_t(unit));
        }
    }
}

namespace {

class Decoder {
public:
    Decoder(const std::string& text) : s_(reinterpret_cast<const uint8_t*>(text.data())), n_(text.size()) {}

    // Matches the whole text; on success the value is appended to `out`.
    bool run(Cell* out) {
        if (!value(out, 0)) return false;
        return pos_ == n_;
    }

    size_t mark() const { return mark_; }
    size_t last_lf() const { return last_lf_; }
    int32_t lines() const { return line_ct_; }

private:
    const uint8_t* s_;
    size_t n_;
    size_t pos_ = 0, mark_ = 0, last_lf_ = 0;
    int32_t line_ct_ = 1;
    std::string scratch_;

    void ws() {
        while (pos_ < n_) {
            uint8_t c = s_[pos_];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '\n') {
                ++pos_;
                ++line_ct_;
                last_lf_ = mark_ = pos_;
            } else {
                break;
            }
        }
    }

    bool literal(const char* word) {
        size_t len = std::strlen(word);
        if (n_ - pos_ < len || std::memcmp(s_ + pos_, word, len) != 0) return false;
        pos_ += len;
        return true;
    }

    static void append(Cell* container, const Cell& v) {
        Cell* held = stack::push(v);
        block::cells_append(container, held);
        stack::pop(1);
    }

    // string-literal: the text between the quotes, or false.
    bool string_literal(size_t* start, size_t* end) {
        if (pos_ >= n_ || s_[pos_] != '"') return false;
        size_t p = pos_ + 1;
        *start = p;
        while (p < n_) {
            uint8_t c = s_[p];
            if (c == '"') break;
            if (c < 32) return false;
            if (c != '\\') {
                ++p;
                continue;
            }
            if (p + 1 >= n_) return false;
            uint8_t e = s_[p + 1];
            if (e == 'u') {
                if (read_unit(s_ + p + 2, n_ - p - 2) < 0) return false;
                p += 6;
            } else if (std::strchr("\"t\\/nrbf", e) && e) {
                p += 2;
            } else {
                return false;
            }
        }
        if (p >= n_) return false;
        *end = p;
        pos_ = p + 1;
        return true;
    }

    // The unescaped text of a literal, as a new string at the tail of `container`.
    void emit_string(Cell* container, size_t start, size_t end) {
        unescape(s_ + start, end - start, scratch_);
        Cell* text = loading::push_text(reinterpret_cast<const uint8_t*>(scratch_.data()), scratch_.size());
        block::cells_append(container, text);
        stack::pop(1);
    }

    bool number(Cell* container) {
        size_t p = pos_;
        if (p < n_ && s_[p] == '-') ++p;
        if (p >= n_ || s_[p] < '0' || s_[p] > '9') return false;
        if (s_[p] == '0') {
            ++p;
        } else {
            while (p < n_ && s_[p] >= '0' && s_[p] <= '9') ++p;
        }
        bool is_float = false;
        if (p + 1 < n_ && s_[p] == '.' && s_[p + 1] >= '0' && s_[p + 1] <= '9') {
            p += 2;
            while (p < n_ && s_[p] >= '0' && s_[p] <= '9') ++p;
            is_float = true;
        }
        if (p < n_ && (s_[p] == 'e' || s_[p] == 'E')) {
            size_t q = p + 1;
            if (q < n_ && (s_[q] == '+' || s_[q] == '-')) ++q;
            if (q < n_ && s_[q] >= '0' && s_[q] <= '9') {
                while (q < n_ && s_[q] >= '0' && s_[q] <= '9') ++q;
                p = q;
                is_float = true;
            }
        }
        // As the lexer reads the text: an integer, a float when it has a
        // fraction or exponent or does not fit 32 bits.
        int error = 0;
        Cell v;
        if (!is_float) {
            int32_t i = number::scan_integer(s_ + pos_, uint32_t(p - pos_), 1, &error);
            if (error == 0) v = integer::cell(i);
        }
        if (is_float || error != 0) v = float_::cell(number::scan_float(s_ + pos_, uint32_t(p - pos_), 1, &error));
        pos_ = p;
        append(container, v);
        return true;
    }

    // json-value: ws*, one of the alternatives, then mark and ws*.
    bool value(Cell* container, uint32_t depth) {
        const size_t start = pos_;
        ws();
        bool ok = false;
        if (literal("true")) {
            append(container, logic::cell(true));
            ok = true;
        } else if (literal("false")) {
            append(container, logic::cell(false));
            ok = true;
        } else if (literal("null")) {
            append(container, none::cell());
            ok = true;
        } else if (object(container, depth)) {
            ok = true;
        } else if (array(container, depth)) {
            ok = true;
        } else {
            size_t a, b;
            const size_t at = pos_;
            if (string_literal(&a, &b)) {
                emit_string(container, a, b);
                ok = true;
            } else {
                pos_ = at;
                ok = number(container);
            }
        }
        if (!ok) {
            pos_ = start;
            return false;
        }
        mark_ = pos_;
        ws();
        return true;
    }

    Cell* open(uint32_t depth) {
        if (depth >= MAX_DEPTH) fire({"internal", "stack-overflow"});
        Cell* blk = block::push_only(4);
        return blk;
    }

    bool sep() {
        const size_t start = pos_;
        ws();
        if (pos_ < n_ && s_[pos_] == ',') {
            ++pos_;
            ws();
            return true;
        }
        pos_ = start;
        return false;
    }

    bool array(Cell* container, uint32_t depth) {
        if (pos_ >= n_ || s_[pos_] != '[') return false;
        const size_t start = pos_++;
        Cell* saved = stack::top;
        Cell* blk = open(depth);
        ws();
        if (value(blk, depth + 1)) {
            for (;;) {
                const size_t before = pos_;
                if (!sep()) break;
                if (!value(blk, depth + 1)) {
                    pos_ = before;
                    break;
                }
            }
        }
        if (pos_ >= n_ || s_[pos_] != ']') {
            stack::top = saved;
            pos_ = start;
            return false;
        }
        ++pos_;
        append(container, *blk);
        stack::top = saved;
        return true;
    }

    // property: json-name, the key (a word when it reads as one), json-value.
    bool property(Cell* pairs, uint32_t depth) {
        const size_t start = pos_;
        ws();
        size_t a, b;
        if (!string_literal(&a, &b)) {
            pos_ = start;
            return false;
        }
        ws();
        if (pos_ >= n_ || s_[pos_] != ':') {
            pos_ = start;
            return false;
        }
        ++pos_;
        mark_ = pos_;
        emit_key(pairs, a, b);
        if (!value(pairs, depth + 1)) {
            block::cells_remove_last(pairs);
            pos_ = start;
            return false;
        }
        return true;
    }

    static bool not_word_char(uint32_t c) {
        return c < 128 ? std::strchr("/\\^,[](){}\"#%$@:;\n \t\r<>", int(c)) != nullptr && c != 0 : c == 0xA0;
    }

    void emit_key(Cell* pairs, size_t a, size_t b) {
        emit_string(pairs, a, b);
        // A word when the name is a word's first character and word characters.
        const std::string& name = scratch_;
        bool word = !name.empty();
        for (size_t i = 0; word && i < name.size();) {
            uint32_t len;
            const uint32_t cp =
                loading::utf8_at(reinterpret_cast<const uint8_t*>(name.data()), name.size(), i, &len);
            if (not_word_char(cp)) word = false;
            if (i == 0 && ((cp >= '0' && cp <= '9') || cp == '\'')) word = false;
            i += len;
        }
        if (!word) return;
        uint32_t sym = symbol::make_from_utf8(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()));
        Cell w;
        word::make_at(sym, &w);
        *block::cells_at(pairs, block::cells_length(pairs) - 1) = w;
    }

    bool object(Cell* container, uint32_t depth) {
        if (pos_ >= n_ || s_[pos_] != '{') return false;
        const size_t start = pos_++;
        Cell* saved = stack::top;
        Cell* pairs = open(depth);
        ws();
        if (property(pairs, depth)) {
            for (;;) {
                const size_t before = pos_;
                if (!sep()) break;
                if (!property(pairs, depth)) {
                    pos_ = before;
                    break;
                }
            }
        }
        if (pos_ >= n_ || s_[pos_] != '}') {
            stack::top = saved;
            pos_ = start;
            return false;
        }
        ++pos_;
        Cell* m = stack::push(none::cell());
        (void)map::make(m, pairs, TYPE_MAP);
        append(container, *m);
        stack::top = saved;
        return true;
    }
};

// Characters from byte offset `from` to `to` of UTF-8 text.
uint32_t char_count(const std::string& t, size_t from, size_t to) {
    uint32_t n = 0;
    for (size_t i = from; i < to && i < t.size(); ++i)
        if ((uint8_t(t[i]) & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace

bool decode_text(const std::string& text, Cell* out) {
    Decoder d(text);
    return d.run(out);
}

namespace {

// decode input out: true with the value appended to out, or the block
// [line index column near] of the message of an invalid text.
template <class A>
Unwind decode(A a) {
    Cell input = routine::arg<"input">(a);
    Cell out = routine::arg<"out">(a);
    const std::string text = library::to_utf8(input);
    Cell* saved = stack::top;
    Cell* held = stack::push(out);
    Decoder d(text);
    if (d.run(held)) {
        routine::result(a) = logic::cell(true);
        stack::top = saved;
        return UNWIND_NONE;
    }
    const size_t mark = d.mark();
    Cell* info = block::push_only(4);
    Cell v = integer::cell(d.lines());
    block::cells_append(info, &v);
    uint32_t index = input.w1 + 1 + char_count(text, 0, mark);
    v = integer::cell(int32_t(index));
    block::cells_append(info, &v);
    v = integer::cell(int32_t(char_count(text, d.last_lf(), mark)));
    block::cells_append(info, &v);
    if (mark >= text.size()) {
        Cell* s = string::load_push(reinterpret_cast<const uint8_t*>("<end of input>"), 14, string::ENC_UTF8);
        block::cells_append(info, s);
    } else {
        size_t end = mark;
        for (uint32_t chars = 0; end < text.size(); ++end) {
            if ((uint8_t(text[end]) & 0xC0) != 0x80 && chars++ == 40) break;
        }
        Cell* near = loading::push_text(reinterpret_cast<const uint8_t*>(text.data() + mark), end - mark);
        Cell* molded = string::push_molded(*near, false);
        block::cells_append(info, molded);
    }
    routine::result(a) = *info;
    stack::top = saved;
    return UNWIND_NONE;
}

// ---- Encoder --------------------------------------------------------------------------------

class Encoder {
public:
    Encoder(std::string indent, bool use_indent, bool ascii) : indent_(std::move(indent)), pretty_(use_indent), ascii_(ascii) {}

    std::string out;

    // By value: a cell read out of a container's buffer must not be held by
    // reference across the allocations below (they may move that buffer).
    void value(const Cell v, uint32_t depth) {
        if (depth >= MAX_DEPTH) fire({"internal", "stack-overflow"});
        const uint32_t t = v.type();
        switch (t) {
            case TYPE_NONE: out += "null"; return;
            case TYPE_LOGIC: out += logic::get(&v) ? "true" : "false"; return;
            case TYPE_INTEGER: out += std::to_string(int32_t(v.w2)); return;
            case TYPE_FLOAT: number(v, v.get_f64()); return;
            case TYPE_PERCENT: number(v, v.get_f64()); return;
            case TYPE_STRING: text(v); return;
            case TYPE_BLOCK: array(v, depth); return;
            case TYPE_MAP: map(v, depth); return;
            case TYPE_OBJECT: object(v, depth); return;
            default: break;
        }
        Cell* saved = stack::top;
        if (is_any_block(t)) {
            Cell b = v;
            b.set_type(TYPE_BLOCK);
            array(b, depth);
        } else if (is_any_string(t)) {
            text(*string::push_formed(v));
        } else {
            text(*string::push_molded(v, false));
        }
        stack::top = saved;
    }

private:
    std::string indent_;
    bool pretty_, ascii_;
    uint32_t level_ = 0;

    // The shortest text that reads back as the same float; a value with no
    // JSON form (NaN, an infinity) is refused.
    void number(const Cell& v, double d) {
        if (!std::isfinite(d)) fire({"script", "invalid-data"}, v);
        char buf[40];
        auto r = std::to_chars(buf, buf + sizeof buf, d);
        std::string t(buf, r.ptr);
        if (t.find_first_of(".e") == std::string::npos) t += ".0";
        out += t;
    }

    void new_line() {
        out += '\n';
        for (uint32_t i = 0; i < level_; ++i) out += indent_;
    }

    void escape(uint32_t cp) {
        static const char hex[] = "0123456789ABCDEF";
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(cp >> shift) & 15];
    }

    void text(const Cell& str) {
        out += '"';
        const SeriesBuffer* b = buffer_of(str.w2);
        const uint32_t unit = b->unit();
        const uint32_t len = b->byte_count() / unit;
        const uint8_t* p = b->head_ptr();
        for (uint32_t i = str.w1; i < len; ++i) {
            uint32_t c = string::get_char(p + size_t(i) * unit, unit);
            bool normal = ascii_ ? (c >= 32 && c <= 127 && c != 34 && c != 92) : (c >= 32 && c != 34 && c != 92);
            if (normal) {
                put_utf8(out, c);
                continue;
            }
            switch (c) {
                case '"': out += "\\\""; continue;
                case '\\': out += "\\\\"; continue;
                case 8: out += "\\b"; continue;
                case 12: out += "\\f"; continue;
                case 10: out += "\\n"; continue;
                case 13: out += "\\r"; continue;
                case 9: out += "\\t"; continue;
                default: break;
            }
            if (c <= 0xFFFF) {
                escape(c);
            } else {
                escape(((c - 0x10000) >> 10) + 0xD800);
                escape(((c - 0x10000) & 1023) + 0xDC00);
            }
        }
        out += '"';
    }

    // Opens a container; false when it is empty (written whole).
    void open(char c) {
        out += c;
        if (pretty_) {
            ++level_;
            new_line();
        }
    }
    void next() {
        out += ',';
        if (pretty_) new_line();
    }
    void close(char c) {
        if (pretty_) {
            --level_;
            new_line();
        }
        out += c;
    }

    void array(const Cell& blk, uint32_t depth) {
        Cell* held = stack::push(blk);
        const uint32_t n = block::cells_length(held);
        if (n == 0) {
            out += "[]";
        } else {
            open('[');
            for (uint32_t i = 0; i < n; ++i) {
                if (i) next();
                value(*block::cells_at(held, held->w1 + i), depth + 1);
            }
            close(']');
        }
        stack::pop(1);
    }

    void key(const Cell k) {
        Cell* saved = stack::top;
        if (is_any_word(k.type())) {
            // Copied out first: the name lies in the arena.
            const std::string name(symbol::name_view(k.w2));
            Cell* s = loading::push_text(reinterpret_cast<const uint8_t*>(name.data()), name.size());
            text(*s);
        } else if (k.type() == TYPE_STRING) {
            text(k);
        } else {
            text(*string::push_molded(k, false));
        }
        stack::top = saved;
        out += pretty_ ? ": " : ":";
    }

    void map(const Cell& m, uint32_t depth) {
        Cell* saved = stack::top;
        Cell* body = stack::push(m);
        map::reflect(body, fixed::sym[fixed::SYM_BODY]);
        const uint32_t n = block::cells_length(body);
        if (n < 2) {
            out += "{}";
        } else {
            open('{');
            for (uint32_t i = 0; i + 1 < n; i += 2) {
                if (i) next();
                key(*block::cells_at(body, body->w1 + i));
                value(*block::cells_at(body, body->w1 + i + 1), depth + 1);
            }
            close('}');
        }
        stack::top = saved;
    }

    void object(const Cell& o, uint32_t depth) {
        Cell* saved = stack::top;
        Cell* held = stack::push(o);
        const Off ctx = held->w1;
        const uint32_t n = context::word_count(ctx);
        if (n == 0) {
            out += "{}";
        } else {
            open('{');
            for (uint32_t i = 0; i < n; ++i) {
                if (i) next();
                Cell w = *context::word_at(ctx, i);
                w.header = TYPE_WORD;
                key(w);
                value(*context::values_at(ctx, i), depth + 1);
            }
            close('}');
        }
        stack::top = saved;
    }
};

}  // namespace

std::string encode_text(const Cell& value, const std::string* indent, bool ascii) {
    Encoder e(indent ? *indent : std::string(), indent != nullptr, ascii);
    Cell* saved = stack::top;
    stack::push(value);
    e.out.reserve(4000);
    e.value(value, 0);
    stack::top = saved;
    return std::move(e.out);
}

namespace {

// encode data indent ascii: the JSON text of data; indent is none for
// compact output.
template <class A>
Unwind encode(A a) {
    Cell data = routine::arg<"data">(a);
    Cell indent = routine::arg<"indent">(a);
    const std::string ind = is_any_string(indent.type()) ? library::to_utf8(indent) : std::string();
    const std::string out =
        encode_text(data, is_any_string(indent.type()) ? &ind : nullptr, logic::get(&routine::arg<"ascii">(a)));
    Cell* saved = stack::top;
    Cell* s = string::load_push(reinterpret_cast<const uint8_t*>(out.data()), uint32_t(out.size()),
                                string::ENC_UTF8);
    routine::result(a) = *s;
    stack::top = saved;
    return UNWIND_NONE;
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("decode", "[input [string!] out [block!]]", decode),
    KIV_ROUTINE("encode", "[data [any-type!] indent [string! none!] ascii [logic!]]", encode),
};

}  // namespace

const routine::Table TABLE = routine::table("json", ROWS, false);

}  // namespace kiv::library::json
