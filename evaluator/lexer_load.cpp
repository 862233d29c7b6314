// The lexer's value loaders: strings and the string-like types, words,
// issues, refinements, numbers, chars, points, construction syntax.
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/lexer_values.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/lexer_state.h"
#include "runtime/float_text.h"
#include "runtime/number_scan.h"
#include "runtime/unicode.h"

namespace kiv::lexer {

namespace {

inline bool is_digit(uint8_t c) {
    return uint8_t(c - '0') < 10;
}
inline int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
inline uint8_t lower(uint8_t c) {
    return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c;
}

bool valid_utf8(const uint8_t* p, const uint8_t* end) {
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        uint32_t cp;
        p = unicode::next_utf8_char(p, end, &cp);
        if (!p) return false;
    }
    return true;
}

// The unit the string loaders give a text, from the token's flags: 1 byte
// without UTF-8 lead bytes, 2 with 2- and 3-byte sequences, 4 with a 4-byte
// sequence (escapes may need more: the widest code point decides then).
uint32_t flag_widest(uint32_t flags) {
    if (flags & flag::UTF8_4) return 0x10000;
    if (flags & flag::UTF8_2_3) return 0x100;
    return 0;
}

}  // namespace

// ---- Text ------------------------------------------------------------------------------------

const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, uint32_t* cp) {
    if (end - p < 2) return nullptr;
    const uint8_t c = p[1];
    switch (c) {
        case '"':
            *cp = '"';
            return p + 2;
        case '-':
            *cp = 9;
            return p + 2;
        case '/':
            *cp = 10;
            return p + 2;
        case '@':
            *cp = 0;
            return p + 2;
        case '^':
            *cp = '^';
            return p + 2;
        case '{':
            *cp = '{';
            return p + 2;
        case '}':
            *cp = '}';
            return p + 2;
        case '~':
            *cp = 127;
            return p + 2;
        case '(': {
            const uint8_t* q = p + 2;
            static const struct {
                const char* name;
                uint32_t code;
            } names[] = {{"null", 0},  {"back", 8}, {"tab", 9},  {"line", 10},
                         {"page", 12}, {"esc", 27}, {"del", 127}};
            for (const auto& n : names) {
                const size_t len = std::strlen(n.name);
                if (size_t(end - q) <= len || q[len] != ')') continue;
                bool same = true;
                for (size_t i = 0; i < len && same; ++i) same = lower(q[i]) == uint8_t(n.name[i]);
                if (same) {
                    *cp = n.code;
                    return q + len + 1;
                }
            }
            uint32_t v = 0;
            int digits = 0;
            while (q < end && digits < 7) {
                const int h = hex_value(*q);
                if (h < 0) break;
                v = v * 16 + uint32_t(h);
                ++digits;
                ++q;
            }
            if (digits == 0 || digits > 6 || q >= end || *q != ')') return nullptr;
            *cp = v;
            return q + 1;
        }
        default:
            break;
    }
    if (c >= 'a' && c <= 'z') {
        *cp = c - 96u;
        return p + 2;
    }
    if (c >= 'A' && c <= '_') {
        *cp = c - 64u;
        return p + 2;
    }
    return unicode::next_utf8_char(p + 1, end, cp);
}

const uint8_t* load_text(const uint8_t* start, const uint8_t* end, uint32_t flags, bool escapes,
                         uint32_t type, Cell* cell) {
    // Pass 1: validate, count the characters, find the widest.
    uint32_t count = 0;
    uint32_t widest = flag_widest(flags);
    bool ascii = true;
    for (const uint8_t* p = start; p < end;) {
        uint32_t cp;
        const uint8_t* q;
        if (*p < 0x80 && (*p != '^' || !escapes)) {
            ++p;
            ++count;
            continue;
        }
        ascii = false;
        q = *p == '^' && escapes ? decode_escape(p, end, &cp) : unicode::next_utf8_char(p, end, &cp);
        if (!q || cp > 0x10FFFF) return p;
        if (cp > widest) widest = cp;
        ++count;
        p = q;
    }
    values::TextBuilder b;
    b.begin(count, widest);
    if (ascii && b.unit() == 1) {
        b.put_ascii(start, uint32_t(end - start));
    } else {
        for (const uint8_t* p = start; p < end;) {
            uint32_t cp = *p;
            if (cp < 0x80 && (cp != '^' || !escapes)) {
                ++p;
            } else {
                p = cp == '^' && escapes ? decode_escape(p, end, &cp) : unicode::next_utf8_char(p, end, &cp);
            }
            b.put(cp);
        }
    }
    b.finish(cell, type);
    return nullptr;
}

namespace {

// A string-like value of `type` from [start, end) in the slot; an error
// raises `invalid` of `type` at `near`.
void text_value(State& st, uint32_t slot, const uint8_t* start, const uint8_t* end, uint32_t flags,
                bool escapes, uint32_t type, const uint8_t* near) {
    Cell v;
    if (load_text(start, end, flags, escapes, type, &v)) invalid(st, near, type);
    store(slot, v);
}

// ---- Words ---------------------------------------------------------------------------------

uint32_t intern(State& st, const uint8_t* start, const uint8_t* end, uint32_t type, const uint8_t* near) {
    if (start >= end || !valid_utf8(start, end)) invalid(st, near, type);
    return symbol::make_from_utf8(start, uint32_t(end - start));
}

void word_value(uint32_t slot, uint32_t symbol, uint32_t type) {
    Cell w;
    word::make_at(symbol, &w);
    w.set_type(type);
    store(slot, w);
}

uint32_t load_word(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    uint32_t kind = TYPE_WORD;
    const uint8_t* p = s;
    const uint8_t* q = e;
    if (q - p >= 2 && q[-1] == ':') {
        kind = TYPE_SET_WORD;
        --q;
    }
    if (*p == '\'') {
        if (kind == TYPE_SET_WORD) invalid(st, s, TYPE_LIT_WORD);
        kind = TYPE_LIT_WORD;
        ++p;
    } else if (*p == ':') {
        if (kind == TYPE_SET_WORD) invalid(st, s, TYPE_GET_WORD);
        kind = TYPE_GET_WORD;
        ++p;
    }
    if (p >= q || std::memchr(p, ':', size_t(q - p))) invalid(st, s, TYPE_WORD);
    word_value(slot, intern(st, p, q, TYPE_WORD, s), kind);
    return kind;
}

uint32_t load_refinement(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    uint32_t kind = TYPE_WORD;
    const uint8_t* p = s;
    if (*p == '\'') kind = TYPE_LIT_WORD;
    if (*p == ':') kind = TYPE_GET_WORD;
    if (kind != TYPE_WORD) ++p;
    if (p >= e || *p != '/') invalid(st, s, TYPE_REFINEMENT);
    const size_t n = size_t(e - p);
    static const uint8_t slash[] = "//";
    if (n == 1 || (n == 2 && p[1] == '/')) {  // the words / and //
        word_value(slot, symbol::make_from_utf8(slash, uint32_t(n)), kind);
        return kind;
    }
    if (n == 2 && p[1] == ':') {  // /:
        if (kind != TYPE_WORD) invalid(st, s, kind);
        word_value(slot, symbol::make_from_utf8(slash, 1), TYPE_SET_WORD);
        return TYPE_SET_WORD;
    }
    if (kind != TYPE_WORD || std::memchr(p + 1, ':', n - 1) || std::memchr(p + 1, '/', n - 1)) {
        invalid(st, s, TYPE_REFINEMENT);
    }
    word_value(slot, intern(st, p + 1, e, TYPE_REFINEMENT, s), TYPE_REFINEMENT);
    return TYPE_REFINEMENT;
}

uint32_t load_issue(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    if (e - s < 2 || *s != '#') invalid(st, s, TYPE_ISSUE);
    const uint32_t sym = intern(st, s + 1, e, TYPE_ISSUE, s);
    store(slot, Cell{TYPE_ISSUE, context::global(), sym, 0xFFFFFFFFu});
    return TYPE_ISSUE;
}

// ---- Numbers -------------------------------------------------------------------------------

// Decimal float from the text (apostrophes dropped, `,` read as `.`).
bool read_float(const uint8_t* s, const uint8_t* e, double* out) {
    int err = 0;
    *out = number::scan_float(s, uint32_t(e - s), 1, &err);
    return err == number::SCAN_OK;
}

uint32_t load_float(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    if (std::memchr(s, '\'', size_t(e - s))) invalid(st, s, TYPE_FLOAT);
    double d;
    if (!read_float(s, e, &d)) invalid(st, s, TYPE_FLOAT);
    Cell v{TYPE_FLOAT, 0, 0, 0};
    v.set_f64(d);
    store(slot, v);
    return TYPE_FLOAT;
}

uint32_t load_integer(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot, uint32_t error_type) {
    const uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    uint32_t magnitude = 0;
    uint32_t digits = 0;
    bool overflow = false;
    bool quote = false;
    for (; p < e; ++p) {
        if (*p == '\'') {
            if (quote) invalid(st, s, error_type);
            quote = true;
            continue;
        }
        quote = false;
        if (!is_digit(*p)) invalid(st, s, error_type);
        const uint32_t d = *p - '0';
        ++digits;
        if (!overflow && magnitude > (limit - d) / 10) overflow = true;
        if (!overflow) magnitude = magnitude * 10 + d;
    }
    if (digits == 0) invalid(st, s, error_type);
    if (overflow || digits > 10) {
        if (error_type != TYPE_INTEGER) invalid(st, s, error_type);
        double d;
        if (!read_float(s, e, &d)) invalid(st, s, TYPE_INTEGER);
        Cell v{TYPE_FLOAT, 0, 0, 0};
        v.set_f64(d);
        store(slot, v);
        return TYPE_FLOAT;
    }
    const int32_t value = negative ? int32_t(0u - magnitude) : int32_t(magnitude);
    store(slot, Cell{TYPE_INTEGER, 0, uint32_t(value), 0});
    return TYPE_INTEGER;
}

uint32_t load_hex(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    const uint8_t* q = e - 1;  // the `h`
    const size_t n = size_t(q - s);
    if (n == 1 && !is_digit(*s)) invalid(st, s, TYPE_WORD);
    if (n < 2 || n > 8) invalid(st, s, TYPE_INTEGER);
    uint32_t v = 0;
    for (const uint8_t* p = s; p < q; ++p) {
        const int h = hex_value(*p);
        if (h < 0) invalid(st, s, TYPE_INTEGER);
        v = (v << 4) | uint32_t(h);
    }
    store(slot, Cell{TYPE_INTEGER, 0, v, 0});
    return TYPE_INTEGER;
}

uint32_t load_percent(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    const size_t n = size_t(e - s);
    if (n == 0 || n > size_t(tables::FLOAT_MAX_TEXT)) invalid(st, s, TYPE_PERCENT);
    uint8_t text[tables::FLOAT_MAX_TEXT];
    for (size_t i = 0; i < n; ++i) text[i] = s[i] == ',' ? uint8_t('.') : s[i];
    if (!number::float_syntax_ok(text, n)) invalid(st, s, TYPE_PERCENT);
    size_t m = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] != '\'') text[m++] = text[i];
    }
    ptrdiff_t left = 0;
    const double d = float_text::from_text(text, text + m, -2, &left);
    if (m == 0 || left != 0) invalid(st, s, TYPE_PERCENT);
    Cell v;
    store(slot, *values::make_percent(&v, d));
    return TYPE_PERCENT;
}

uint32_t load_special_float(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    const uint8_t* hash = static_cast<const uint8_t*>(std::memchr(s, '#', size_t(e - s)));
    if (!hash || e - hash != 4) invalid(st, s, TYPE_FLOAT);
    const uint8_t a = lower(hash[1]), b = lower(hash[2]), c = lower(hash[3]);
    if (!((a == 'i' && b == 'n' && c == 'f') || (a == 'n' && b == 'a' && c == 'n')))
        invalid(st, s, TYPE_FLOAT);
    ptrdiff_t left = 0;
    const double d = float_text::from_text(s, e, 0, &left);
    if (left != 0) invalid(st, s, TYPE_FLOAT);
    Cell v{TYPE_FLOAT, 0, 0, 0};
    v.set_f64(d);
    store(slot, v);
    return TYPE_FLOAT;
}

uint32_t load_tuple(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    int err = 0;
    Cell v{};
    number::scan_tuple(s, uint32_t(e - s), 1, &err, &v);
    if (err != number::SCAN_OK) invalid(st, s, TYPE_TUPLE);
    store(slot, v);
    return TYPE_TUPLE;
}

// One integer part of a pair; an error raises invalid pair!.
int32_t pair_part(State& st, const uint8_t* s, const uint8_t* e, const uint8_t* near) {
    const uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    uint32_t magnitude = 0;
    bool digits = false, quote = false;
    for (; p < e; ++p) {
        if (*p == '\'') {
            if (quote || !digits) invalid(st, near, TYPE_PAIR);
            quote = true;
            continue;
        }
        quote = false;
        if (!is_digit(*p)) invalid(st, near, TYPE_PAIR);
        const uint32_t d = *p - '0';
        if (magnitude > (limit - d) / 10) invalid(st, near, TYPE_PAIR);
        magnitude = magnitude * 10 + d;
        digits = true;
    }
    if (!digits) invalid(st, near, TYPE_PAIR);
    return negative ? int32_t(0u - magnitude) : int32_t(magnitude);
}

uint32_t load_pair(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    const uint8_t* x = s;
    while (x < e && *x != 'x' && *x != 'X') ++x;
    if (x == e || std::memchr(s, '.', size_t(e - s))) invalid(st, s, TYPE_PAIR);
    const int32_t a = pair_part(st, s, x, s);
    const int32_t b = pair_part(st, x + 1, e, s);
    Cell v;
    store(slot, *values::make_pair(&v, a, b));
    return TYPE_PAIR;
}

uint32_t load_time(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    const uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    double parts[3] = {0, 0, 0};
    int count = 0;
    while (count < 3) {
        const uint8_t* q = p;
        double v = 0;
        while (q < e && is_digit(*q)) v = v * 10 + (*q++ - '0');
        if (q == p) invalid(st, s, TYPE_TIME);
        if (q < e && (*q == '.' || *q == ',')) {
            if (count != 2) invalid(st, s, TYPE_TIME);  // only the seconds have a fraction
            const uint8_t* f = q + 1;
            while (f < e && is_digit(*f)) ++f;
            if (!read_float(p, f, &v)) invalid(st, s, TYPE_TIME);
            q = f;
        }
        parts[count++] = v;
        p = q;
        if (p == e) break;
        if (*p != ':') invalid(st, s, TYPE_TIME);
        ++p;
    }
    if (p != e || count < 2) invalid(st, s, TYPE_TIME);
    double seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
    if (negative) seconds = -seconds;
    Cell v;
    store(slot, *values::make_time(&v, seconds));
    return TYPE_TIME;
}

uint32_t load_money(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    int err = 0;
    Cell v{};
    number::scan_money(s, uint32_t(e - s), 1, &err, &v, &values::make_money);
    if (err != number::SCAN_OK) invalid(st, s, TYPE_MONEY);
    store(slot, v);
    return TYPE_MONEY;
}

// ---- Points ------------------------------------------------------------------------------

// One coordinate: [s, e) holds no blank, comma or parenthesis.
float coordinate(State& st, const uint8_t* s, const uint8_t* e) {
    double d;
    if (std::memchr(s, '#', size_t(e - s))) {
        const uint8_t* hash = static_cast<const uint8_t*>(std::memchr(s, '#', size_t(e - s)));
        ptrdiff_t left = 0;
        const bool named =
            e - hash == 4 && ((lower(hash[1]) == 'i' && lower(hash[2]) == 'n' && lower(hash[3]) == 'f') ||
                              (lower(hash[1]) == 'n' && lower(hash[2]) == 'a' && lower(hash[3]) == 'n'));
        d = float_text::from_text(s, e, 0, &left);
        if (!named || left != 0) invalid(st, s, TYPE_FLOAT);
    } else {
        if (e - s >= 313) invalid(st, s, TYPE_FLOAT);
        if (!read_float(s, e, &d)) invalid(st, s, TYPE_FLOAT);
    }
    return float(d);
}

uint32_t load_point(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    const uint8_t* near = st.point_start ? st.point_start : s;
    float c[3] = {0, 0, 0};
    int count = 0;
    const uint8_t* p = s;
    for (;;) {
        while (p < e && (*p == ' ' || *p == '\t')) ++p;
        const uint8_t* q = p;
        while (q < e && *q != ',' && *q != ')' && *q != ' ' && *q != '\t') ++q;
        if (q == p) invalid(st, near, TYPE_POINT2D);  // an empty coordinate
        if (count == 3) invalid(st, near, TYPE_POINT3D);
        c[count++] = coordinate(st, p, q);
        p = q;
        while (p < e && (*p == ' ' || *p == '\t')) ++p;
        if (p == e) break;
        if (*p != ',') invalid(st, near, count == 3 ? TYPE_POINT3D : TYPE_POINT2D);
        ++p;
    }
    if (count < 2) invalid(st, near, TYPE_POINT2D);
    Cell v;
    if (count == 2) {
        store(slot, *values::make_point2d(&v, c[0], c[1]));
        return TYPE_POINT2D;
    }
    store(slot, *values::make_point3d(&v, c[0], c[1], c[2]));
    return TYPE_POINT3D;
}

// ---- Strings and the string-like types -------------------------------------------------

uint32_t load_char(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    const uint8_t* p = s + 2;  // after #"
    uint32_t cp = 0;
    const uint8_t* q = nullptr;
    if (p < e) q = *p == '^' ? decode_escape(p, e, &cp) : unicode::next_utf8_char(p, e, &cp);
    if (!q || q != e || cp > 0x10FFFF) invalid(st, s, TYPE_CHAR);
    store(slot, Cell{TYPE_CHAR, 0, cp, 0});
    return TYPE_CHAR;
}

uint32_t load_file(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, uint32_t slot) {
    if (e - s >= 2 && s[1] == '"') {
        text_value(st, slot, s + 2, e, flags, (flags & flag::CARET) != 0, TYPE_FILE, s);
        return TYPE_FILE;
    }
    const uint8_t* text = s + 1;
    if (std::memchr(text, '%', size_t(e - text))) {
        Cell v;
        if (!percent_decode(text, e, TYPE_FILE, &v)) invalid(st, s, TYPE_FILE);
        store(slot, v);
    } else {
        text_value(st, slot, text, e, flags, false, TYPE_FILE, s);
    }
    return TYPE_FILE;
}

uint32_t load_url(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, uint32_t slot) {
    if (*s == ':') invalid(st, s, TYPE_GET_WORD);
    if (*s == '\'') invalid(st, s, TYPE_LIT_WORD);
    if (std::memchr(s, '%', size_t(e - s))) {
        Cell v;
        if (!percent_decode(s, e, TYPE_URL, &v)) invalid(st, s, TYPE_URL);
        store(slot, v);
    } else {
        text_value(st, slot, s, e, flags, false, TYPE_URL, s);
    }
    return TYPE_URL;
}

uint32_t load_email(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, uint32_t slot) {
    const uint8_t* at = static_cast<const uint8_t*>(std::memchr(s, '@', size_t(e - s)));
    if (!at || at == s || at + 1 == e) invalid(st, s, TYPE_EMAIL);
    // Escapes are decoded as in urls: an email molds the characters that
    // would end its token as escapes.
    if (std::memchr(s, '%', size_t(e - s))) {
        Cell v;
        if (!percent_decode(s, e, TYPE_EMAIL, &v)) invalid(st, s, TYPE_EMAIL);
        store(slot, v);
    } else {
        text_value(st, slot, s, e, flags, false, TYPE_EMAIL, s);
    }
    return TYPE_EMAIL;
}

uint32_t load_raw_string(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, uint32_t slot) {
    size_t open = 0;
    while (s + open < e && s[open] == '%') ++open;
    size_t close = 0;
    while (e - close > s && e[-1 - ptrdiff_t(close)] == '%') ++close;
    const uint8_t* body = s + open + 1;  // after the `{`
    const uint8_t* body_end = e - close - 1;
    if (open != close || s + open >= e || s[open] != '{' || body_end < body || *body_end != '}') {
        invalid(st, s, TYPE_STRING);
    }
    text_value(st, slot, body, body_end, flags, false, TYPE_STRING, s);
    return TYPE_STRING;
}

}  // namespace

// ---- Entry points ---------------------------------------------------------------------------

uint32_t load_value(State& st, uint8_t token, const uint8_t* s, const uint8_t* e, uint32_t flags,
                    uint32_t slot) {
    switch (token) {
        case F_STRING:
            text_value(st, slot, s + 1, e, flags, (flags & flag::CARET) != 0, TYPE_STRING, s);
            return TYPE_STRING;
        case F_WORD:
            return load_word(st, s, e, slot);
        case F_ISSUE:
            return load_issue(st, s, e, slot);
        case F_INTEGER:
            return load_integer(st, s, e, slot, TYPE_INTEGER);
        case F_REFINEMENT:
            return load_refinement(st, s, e, slot);
        case F_CHAR:
            return load_char(st, s, e, slot);
        case F_FILE:
            return load_file(st, s, e, flags, slot);
        case F_BINARY:
            load_binary(st, s, e, slot);
            return TYPE_BINARY;
        case F_PERCENT:
            return load_percent(st, s, e, slot);
        case F_FLOAT:
            return load_float(st, s, e, slot);
        case F_SPECIAL_FLOAT:
            return load_special_float(st, s, e, slot);
        case F_TUPLE:
            return load_tuple(st, s, e, slot);
        case F_DATE:
            load_date(st, s, e, slot);
            return TYPE_DATE;
        case F_PAIR:
            return load_pair(st, s, e, slot);
        case F_POINT:
            return load_point(st, s, e, slot);
        case F_TIME:
            return load_time(st, s, e, slot);
        case F_MONEY:
            return load_money(st, s, e, slot);
        case F_TAG:
            text_value(st, slot, s + 1, e, flags, false, TYPE_TAG, s);
            return TYPE_TAG;
        case F_URL:
            return load_url(st, s, e, flags, slot);
        case F_EMAIL:
            return load_email(st, s, e, flags, slot);
        case F_HEX:
            return load_hex(st, s, e, slot);
        case F_RAW_STRING:
            return load_raw_string(st, s, e, flags, slot);
        case F_REF:
            text_value(st, slot, s + 1, e, flags, false, TYPE_REF, s);
            return TYPE_REF;
        default:
            throw_error(st, s, KIND_BAD_CHAR);
    }
}

uint32_t load_element(State& st, uint8_t token, uint8_t previous, const uint8_t* s, const uint8_t* e,
                      uint32_t flags, uint32_t slot) {
    (void)previous;
    if (s >= e) invalid(st, s, TYPE_PATH);
    if (token == F_MONEY) return load_money(st, s, e, slot);
    if (*s == '#') return load_issue(st, s, e, slot);
    if (*s == '\'' || *s == ':') {
        if (e - s < 2) invalid(st, s, TYPE_WORD);
        word_value(slot, intern(st, s + 1, e, TYPE_WORD, s), *s == '\'' ? TYPE_LIT_WORD : TYPE_GET_WORD);
        return *s == '\'' ? TYPE_LIT_WORD : TYPE_GET_WORD;
    }
    const uint8_t* p = s;
    if (*p == '+' || *p == '-') ++p;
    bool number = p < e;
    for (const uint8_t* q = p; q < e && number; ++q) number = is_digit(*q);
    if (number) return load_integer(st, s, e, slot, TYPE_INTEGER);
    (void)flags;
    if (std::memchr(s, ':', size_t(e - s))) invalid(st, s, TYPE_WORD);
    word_value(slot, intern(st, s, e, TYPE_WORD, s), TYPE_WORD);
    return TYPE_WORD;
}

void load_plain_word(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    if (s >= e || std::memchr(s, ':', size_t(e - s))) invalid(st, s, TYPE_WORD);
    word_value(slot, intern(st, s, e, TYPE_WORD, s), TYPE_WORD);
}

uint32_t load_construct(State& st, const uint8_t* s, const uint8_t* e, uint32_t slot) {
    const uint8_t* near = s - 2;  // the #(
    while (s < e && (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\n')) ++s;
    while (e > s && (e[-1] == ' ' || e[-1] == '\t' || e[-1] == '\r' || e[-1] == '\n')) --e;
    const size_t n = size_t(e - s);
    auto is = [&](const char* name) {
        if (std::strlen(name) != n) return false;
        for (size_t i = 0; i < n; ++i) {
            if (lower(s[i]) != lower(uint8_t(name[i]))) return false;
        }
        return true;
    };
    if (is("true")) {
        store(slot, logic::cell(true));
        return TYPE_LOGIC;
    }
    if (is("false")) {
        store(slot, logic::cell(false));
        return TYPE_LOGIC;
    }
    if (is("none")) {
        store(slot, none::cell());
        return TYPE_NONE;
    }
    if (is("unset")) {
        store(slot, unset::cell());
        return TYPE_UNSET;
    }
    for (uint32_t id = 1; id <= datatype::highest_type_id && id <= TYPE_ID_LIMIT; ++id) {
        const char* name = datatype::names[id].name;
        if (name && is(name)) {
            store(slot, datatype::cell(id));
            return TYPE_DATATYPE;
        }
    }
    throw_error(st, near, KIND_MALCONSTRUCT);
}

void load_braced(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, uint32_t slot) {
    text_value(st, slot, s, e, flags, (flags & flag::CARET) != 0, TYPE_STRING, s - 1);
}

void close_point(State& st, uint32_t marker, uint32_t type) {
    const uint8_t* near = st.begin + cell_at(marker)->w3;
    const uint32_t want = type == TYPE_POINT3D ? 3 : 2;
    if (st.tail - (marker + 1) != want) invalid(st, near, type);
    float c[3] = {0, 0, 0};
    for (uint32_t i = 0; i < want; ++i) {
        const Cell* v = cell_at(marker + 1 + i);
        switch (v->type()) {
            case TYPE_INTEGER:
                c[i] = float(int32_t(v->w2));
                break;
            case TYPE_FLOAT:
            case TYPE_PERCENT:
                c[i] = float(v->get_f64());
                break;
            default:
                invalid(st, near, type);
        }
    }
    Cell p;
    if (want == 2) {
        values::make_point2d(&p, c[0], c[1]);
    } else {
        values::make_point3d(&p, c[0], c[1], c[2]);
    }
    *cell_at(marker) = p;
}

}  // namespace kiv::lexer
