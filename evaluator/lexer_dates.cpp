// The lexer's date and binary loaders, and the percent-decoding of file
// names and urls.
#include <cstring>

#include "datatypes/lexer_values.h"
#include "evaluator/lexer_state.h"
#include "runtime/base_codecs.h"
#include "runtime/float_text.h"
#include "runtime/percent_coding.h"
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
    const uint32_t length = uint32_t(end - text);
    const base_codecs::Decoded check = base_codecs::decode(base, text, length, 1, nullptr);
    if (!check.ok) invalid(st, text + check.error_at, TYPE_BINARY);
    Cell v;
    values::make_binary(&v, check.bytes);
    SeriesBuffer* b = buffer_of(v.w2);
    const base_codecs::Decoded done = base_codecs::decode(base, text, length, 1, b->head_ptr());
    b->tail = b->head + done.bytes;
    store(slot, v);
}

// ---- Percent-decoding ----------------------------------------------------------------------

bool percent_decode(const uint8_t* start, const uint8_t* end, uint32_t type, Cell* cell) {
    const percent_coding::Measure m = percent_coding::measure(start, end);
    if (!m.ok) return false;
    values::TextBuilder b;
    b.begin(m.chars, m.widest);
    for (const uint8_t* p = start; p < end;) {
        uint32_t cp;
        p = percent_coding::decode_char(p, end, &cp);
        b.put(cp);
    }
    b.finish(cell, type);
    return true;
}

}  // namespace kiv::lexer
