// The lexer's date and binary loaders, and the percent-decoding of file
// names and urls.
#include <cstring>

#include "evaluator/lexer_state.h"
#include "evaluator/lexer_values.h"
#include "runtime/float_text.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace kiv::lexer {

namespace {

inline bool is_digit(uint8_t c) {
    return uint8_t(c - '0') < 10;
}
inline uint8_t lower(uint8_t c) {
    return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c;
}

// ---- Dates ------------------------------------------------------------------------------

const char* const MONTHS[12] = {"january", "february", "march",     "april",   "may",      "june",
                                "july",    "august",   "september", "october", "november", "december"};
const int MONTH_DAYS[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Reads the date token; any failure is `invalid` date!.
class DateReader {
  public:
    DateReader(State& st, const uint8_t* start, const uint8_t* end)
        : st_(st), s_(start), p_(start), e_(end) {}

    [[noreturn]] void fail() { invalid(st_, s_, TYPE_DATE); }

    // At most `max` decimal digits; fails at the token end, when no digit
    // was read, or (exact) when another number of digits was read.
    int32_t digits(int max, bool exact, int* count = nullptr) {
        if (p_ >= e_) fail();
        int n = 0;
        int32_t v = 0;
        while (n < max && p_ < e_ && is_digit(*p_)) {
            v = v * 10 + (*p_++ - '0');
            ++n;
        }
        if (n == 0 || (exact && n != max)) fail();
        if (count) *count = n;
        return v;
    }
    // An optional `-`, then 1 to 4 digits (the sign kept).
    int32_t number(int* count, int* chars) {
        const uint8_t* from = p_;
        bool negative = false;
        if (p_ < e_ && *p_ == '-') {
            negative = true;
            ++p_;
        }
        const int32_t v = digits(4, false, count);
        *chars = int(p_ - from);
        return negative ? -v : v;
    }
    // The longest run of digits and `.`, read as a decimal number.
    double seconds() {
        const uint8_t* from = p_;
        while (p_ < e_ && (is_digit(*p_) || *p_ == '.')) ++p_;
        if (p_ == from) fail();
        ptrdiff_t left = 0;
        const double v = float_text::from_text(from, p_, 0, &left);
        if (left != 0 || !is_digit(*from)) fail();
        return v;
    }
    bool at(uint8_t c) const { return p_ < e_ && *p_ == c; }
    bool done() const { return p_ >= e_; }
    uint8_t peek(int k = 0) const { return p_ + k < e_ ? p_[k] : 0; }
    void skip(int k = 1) { p_ += k; }
    void expect(uint8_t c) {
        if (!at(c)) fail();
        ++p_;
    }

    // A month name up to the next `sep` (or the end): 3 to 9 characters, a
    // prefix of a month's name ignoring case, the first in order winning.
    int32_t month_name(uint8_t sep) {
        const uint8_t* from = p_;
        while (p_ < e_ && *p_ != sep) ++p_;
        const size_t n = size_t(p_ - from);
        if (n < 3 || n > 9) fail();
        for (int m = 0; m < 12; ++m) {
            const char* name = MONTHS[m];
            if (std::strlen(name) < n) continue;
            bool same = true;
            for (size_t i = 0; i < n && same; ++i) same = lower(from[i]) == uint8_t(name[i]);
            if (same) return m + 1;
        }
        fail();
    }

    // The time part after `T` or `/`: hours, `:`, minutes, optionally `:`
    // and seconds, then optionally `Z` or a zone.
    void time_part() {
        const int32_t h = digits(2, false);
        expect(':');
        const int32_t m = digits(2, false);
        double s = 0;
        if (at(':')) {
            skip();
            s = seconds();
        }
        hour = h;
        minute = m;
        second = s;
        has_time = true;
        if (at('Z')) {
            skip();
        } else if (at('+') || at('-')) {
            const bool negative = *p_ == '-';
            skip();
            int32_t zh = digits(2, false);
            if (at(':')) skip();
            int32_t zm = 0;
            if (!done() && is_digit(*p_)) zm = digits(2, false);
            zone_hours = negative ? -zh : zh;
            zone_minutes = negative ? -zm : zm;
        }
        if (!done()) fail();
    }

    void read();

    int32_t year = 0, month = 1, day = 1;
    int32_t hour = 0, minute = 0;
    double second = 0;
    int32_t zone_hours = 0, zone_minutes = 0;
    bool has_time = false;
    int32_t week = -1, week_day = 0;  // week date (week -1: none)
    int32_t year_day = 0;             // ordinal date (0: none)

  private:
    State& st_;
    const uint8_t* s_;
    const uint8_t* p_;
    const uint8_t* e_;
};

// A year written with at most two digits (0..99) is in 1950..2049.
int32_t full_year(int32_t value, int count) {
    if (count <= 2 && value >= 0 && value <= 99) return value > 49 ? 1900 + value : 2000 + value;
    return value;
}

void DateReader::read() {
    int count = 0, chars = 0;
    const int32_t first = number(&count, &chars);
    if (done()) fail();
    const uint8_t c = peek();
    if (is_digit(c)) {
        // Compact form: yyyymmddThhmm then Z, or seconds and nothing, Z or a zone.
        if (count != 4 || first < 0) fail();
        year = first;
        month = digits(2, true);
        day = digits(2, true);
        if (done()) fail();
        expect('T');
        hour = digits(2, true);
        if (done()) fail();
        minute = digits(2, true);
        if (done()) fail();
        has_time = true;
        if (at('Z')) {
            skip();
        } else {
            second = seconds();
            if (at('Z')) {
                skip();
            } else if (at('+') || at('-')) {
                const bool negative = peek() == '-';
                skip();
                const int32_t zh = digits(2, true);
                const int32_t zm = digits(2, true);
                zone_hours = negative ? -zh : zh;
                zone_minutes = negative ? -zm : zm;
            }
        }
        if (!done()) fail();
        return;
    }
    if (c == '-' && peek(1) == 'W' && chars == 4) {  // week date
        skip(2);
        year = first;
        week = digits(2, true);
        if (at('-')) {
            skip();
            week_day = digits(1, true);
            if (week_day > 7) fail();
        }
        if (at('T')) {
            skip();
            time_part();
        }
        if (!done()) fail();
        return;
    }
    if (c == '-' && is_digit(peek(1)) && is_digit(peek(2)) && is_digit(peek(3)) && !is_digit(peek(4))) {
        skip();  // ordinal date
        year = first;
        year_day = digits(3, true);
        if (year_day == 0) fail();
        if (at('T')) {
            skip();
            time_part();
        }
        if (!done()) fail();
        return;
    }
    if (c != '-' && c != '/') fail();
    const uint8_t sep = c;
    skip();
    if (!done() && is_digit(peek())) {
        month = digits(2, false);
    } else {
        month = month_name(sep);
    }
    expect(sep);
    int third_count = 0, third_chars = 0;
    const int32_t third = number(&third_count, &third_chars);
    if (third < 0 || third > 31 || first <= 99) {
        day = first;
        year = full_year(third, third_count);
    } else {
        year = full_year(first, count);
        day = third;
    }
    if (at('/') || at('T')) {
        skip();
        time_part();
    }
    if (!done()) fail();
}

}  // namespace

void load_date(State& st, const uint8_t* start, const uint8_t* end, uint32_t slot) {
    DateReader r(st, start, end);
    r.read();
    // Validation, for every form.
    if (r.month < 1 || r.month > 12) r.fail();
    if (r.day < 1 || r.day > MONTH_DAYS[r.month - 1]) r.fail();
    if (r.month == 2 && r.day == 29 && !values::leap_year(r.year)) r.fail();
    if (r.year < -9999 || r.year > 9999) r.fail();
    if (r.has_time) {
        if (r.hour > 23 || r.minute > 59 || !(r.second < 60.0)) r.fail();
        if (r.zone_hours < -15 || r.zone_hours > 15) r.fail();
        // The zone's minutes are kept in quarters of an hour: 60 or more
        // would not fit the date word.
        if (r.zone_minutes < -59 || r.zone_minutes > 59) r.fail();
    }
    const double time = double(r.hour) * 3600.0 + double(r.minute) * 60.0 + r.second;
    Cell v{TYPE_DATE, 0, 0, 0};
    values::make_date(&v, r.year, r.month, r.day, time, r.zone_hours, r.zone_minutes, r.has_time);
    if (r.week >= 0 && (r.week != 0 || r.week_day != 0)) {
        values::set_isoweek(&v, r.week);
        if (r.week_day >= 1) values::set_weekday(&v, r.week_day);
    }
    if (r.year_day > 0) values::set_yearday(&v, r.year_day);
    store(slot, v);
}

// ---- Binaries ----------------------------------------------------------------------------

namespace {

// Base-16 byte classes: 1 blank (skipped), 2 hexadecimal digit, 3 `;`, 0 invalid.
struct Base16Classes {
    uint8_t cls[256] = {};
    uint8_t nibble[256] = {};
    constexpr Base16Classes() {
        cls[uint8_t('\t')] = cls[uint8_t('\n')] = cls[uint8_t('\r')] = cls[uint8_t(' ')] = 1;
        for (int c = '0'; c <= '9'; ++c) {
            cls[c] = 2;
            nibble[c] = uint8_t(c - '0');
        }
        for (int c = 'A'; c <= 'F'; ++c) {
            cls[c] = 2;
            nibble[c] = uint8_t(c - 'A' + 10);
        }
        for (int c = 'a'; c <= 'f'; ++c) {
            cls[c] = 2;
            nibble[c] = uint8_t(c - 'a' + 10);
        }
        cls[uint8_t(';')] = 3;
    }
};
constexpr Base16Classes BASE16;

// Base-64 values: 0-63 digits, 64 skipped, 128 invalid; `=` is padding.
constexpr uint8_t B64_SKIP = 64;
constexpr uint8_t B64_BAD = 128;
struct Base64Table {
    uint8_t v[128] = {};
    constexpr Base64Table() {
        for (int i = 0; i < 128; ++i) v[i] = B64_BAD;
        for (int i = 0; i < 26; ++i) {
            v['A' + i] = uint8_t(i);
            v['a' + i] = uint8_t(26 + i);
        }
        for (int i = 0; i < 10; ++i) v['0' + i] = uint8_t(52 + i);
        v[uint8_t('+')] = 62;
        v[uint8_t('/')] = 63;
        for (char c : {'\b', '\t', '\n', '\f', '\r', ' ', '\''}) v[uint8_t(c)] = B64_SKIP;
    }
};
constexpr Base64Table BASE64;

const uint8_t* skip_comment(const uint8_t* p, const uint8_t* end) {
    while (p < end && *p != '\n') ++p;
    return p;
}

// Each decoder writes to `out` when it is not null and counts the bytes in
// *n; returns the first offending byte, or null.
const uint8_t* decode16(const uint8_t* p, const uint8_t* end, uint8_t* out, uint32_t* n) {
    uint32_t count = 0;
    int high = -1;
    while (p < end) {
        const uint8_t c = *p;
        switch (BASE16.cls[c]) {
            case 1:
                ++p;
                break;
            case 2:
                if (high < 0) {
                    high = BASE16.nibble[c];
                } else {
                    if (out) out[count] = uint8_t((high << 4) | BASE16.nibble[c]);
                    ++count;
                    high = -1;
                }
                ++p;
                break;
            case 3:
                p = skip_comment(p, end);
                break;
            default:
                return p;
        }
    }
    *n = count;
    return high >= 0 ? end : nullptr;
}

const uint8_t* decode64(const uint8_t* p, const uint8_t* end, uint8_t* out, uint32_t* n) {
    uint32_t count = 0;
    uint32_t bits = 0;
    int pending = 0;
    while (p < end) {
        const uint8_t c = *p;
        if (c == ';') {
            p = skip_comment(p, end);
            continue;
        }
        if (c == '=') {
            if (pending == 3) {
                if (out) {
                    out[count] = uint8_t(bits >> 10);
                    out[count + 1] = uint8_t(bits >> 2);
                }
                count += 2;
            } else if (pending == 2) {
                if (out) out[count] = uint8_t(bits >> 4);
                count += 1;
            } else {
                return p + 1 < end ? p + 1 : end;
            }
            *n = count;
            return nullptr;  // nothing after the padding is examined
        }
        if (c >= 128 || BASE64.v[c] == B64_BAD) return p;
        ++p;
        if (BASE64.v[c] == B64_SKIP) continue;
        bits = (bits << 6) | BASE64.v[c];
        if (++pending == 4) {
            if (out) {
                out[count] = uint8_t(bits >> 16);
                out[count + 1] = uint8_t(bits >> 8);
                out[count + 2] = uint8_t(bits);
            }
            count += 3;
            bits = 0;
            pending = 0;
        }
    }
    *n = count;
    return pending ? end : nullptr;
}

const uint8_t* decode2(const uint8_t* p, const uint8_t* end, uint8_t* out, uint32_t* n) {
    uint32_t count = 0;
    uint32_t byte = 0;
    int bits = 0;
    while (p < end) {
        const uint8_t c = *p;
        if (c == '\t' || c == '\n' || c == '\r' || c == ' ') {
            ++p;
            continue;
        }
        if (c == ';') {
            p = skip_comment(p, end);
            continue;
        }
        if (c != '0' && c != '1') return p;
        byte = (byte << 1) | uint32_t(c - '0');
        ++p;
        if (++bits == 8) {
            if (out) out[count] = uint8_t(byte);
            ++count;
            byte = 0;
            bits = 0;
        }
    }
    *n = count;
    return bits ? end : nullptr;
}

}  // namespace

void load_binary(State& st, const uint8_t* start, const uint8_t* end, uint32_t slot) {
    // The base is the decimal number before `#` (none: 16).
    const uint8_t* p = start;
    uint32_t base = 0;
    while (p < end && is_digit(*p)) {
        if (base < 1000) base = base * 10 + (*p - '0');
        ++p;
    }
    if (p == start) base = 16;
    if ((base != 2 && base != 16 && base != 64) || end - p < 2 || p[0] != '#' || p[1] != '{') {
        invalid(st, start, TYPE_BINARY);
    }
    const uint8_t* text = p + 2;
    using Decoder = const uint8_t* (*)(const uint8_t*, const uint8_t*, uint8_t*, uint32_t*);
    const Decoder decode = base == 16 ? decode16 : base == 64 ? decode64 : decode2;
    uint32_t count = 0;
    if (const uint8_t* bad = decode(text, end, nullptr, &count)) invalid(st, bad, TYPE_BINARY);
    Cell v;
    values::make_binary(&v, count);
    SeriesBuffer* b = buffer_of(v.w2);
    uint32_t written = 0;
    decode(text, end, b->head_ptr(), &written);
    b->tail = b->head + written;
    store(slot, v);
}

// ---- Percent-decoding ----------------------------------------------------------------------

namespace {

inline int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// An escape `%` and two hexadecimal digits at p.
inline bool escape_at(const uint8_t* p, const uint8_t* end, uint8_t* byte) {
    if (end - p < 3 || p[0] != '%') return false;
    const int h = hex_value(p[1]), l = hex_value(p[2]);
    if (h < 0 || l < 0) return false;
    *byte = uint8_t((h << 4) | l);
    return true;
}

// One character at p: an escape (a run of escapes forming one UTF-8
// sequence decodes as one character), else one raw UTF-8 character. Null
// when it does not decode.
const uint8_t* decoded_char(const uint8_t* p, const uint8_t* end, uint32_t* cp) {
    uint8_t b;
    if (escape_at(p, end, &b)) {
        if (b < 0xC0) {
            *cp = b;
            return p + 3;
        }
        const int n = unicode::utf8_lead_length(b);
        uint8_t seq[4] = {b, 0, 0, 0};
        bool escaped = true;
        for (int i = 1; i < n && escaped; ++i) escaped = escape_at(p + 3 * i, end, &seq[i]);
        if (escaped) {
            uint32_t used = 0;
            const int32_t c = unicode::check_utf8_char(seq, uint32_t(n), &used);
            if (c < 0 || used != uint32_t(n)) return nullptr;
            *cp = uint32_t(c);
            return p + 3 * n;
        }
        // A lead byte whose continuation is not escaped: the `%` stays.
    }
    if (*p < 0x80) {
        *cp = *p;
        return p + 1;
    }
    uint32_t used = 0;
    const int32_t c = unicode::check_utf8_char(p, uint32_t(end - p), &used);
    if (c < 0) return nullptr;
    *cp = uint32_t(c);
    return p + used;
}

}  // namespace

bool percent_decode(const uint8_t* start, const uint8_t* end, uint32_t type, Cell* cell) {
    uint32_t count = 0, widest = 0;
    for (const uint8_t* p = start; p < end;) {
        uint32_t cp;
        p = decoded_char(p, end, &cp);
        if (!p) return false;
        if (cp > widest) widest = cp;
        ++count;
    }
    values::TextBuilder b;
    b.begin(count, widest);
    for (const uint8_t* p = start; p < end;) {
        uint32_t cp;
        p = decoded_char(p, end, &cp);
        b.put(cp);
    }
    b.finish(cell, type);
    return true;
}

}  // namespace kiv::lexer
