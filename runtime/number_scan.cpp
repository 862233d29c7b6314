#include "runtime/number_scan.h"

#include <cstring>
#include <limits>

#include "runtime/float_text.h"
#include "runtime/lexer_tables.h"
#include "runtime/series.h"

namespace kiv::number {

namespace {

bool valid_unit(uint32_t unit) {
    return unit == 1 || unit == 2 || unit == 4;
}

// Character i of a run of units (buffers are only 4-byte aligned: no
// pointer casts to wider types).
inline uint32_t char_at(const uint8_t* p, uint32_t unit, uint32_t i) {
    return read_unit(p + size_t(i) * unit, unit);
}

inline bool is_digit(uint32_t c) {
    return c - '0' < 10;
}
inline bool is_ascii_letter(uint32_t c) {
    return (c | 0x20) - 'a' < 26;
}

// The scan for one unit width: the character reads compile to plain loads.
template <uint32_t Unit>
int32_t scan_integer_units(const uint8_t* p, uint32_t count, int* error) {
    uint32_t i = 0;
    bool negative = false;
    if (count > 0) {
        const uint32_t c = char_at(p, Unit, 0);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    // The magnitude accumulates up to 2147483648 for a negative number (the
    // one value whose magnitude has no positive counterpart), 2147483647
    // otherwise.
    // 64 bits hold ten times the limit plus a digit: the test after the step
    // needs no division.
    const uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    uint64_t magnitude = 0;
    bool digits = false;
    for (; i < count; ++i) {
        const uint32_t c = char_at(p, Unit, i);
        if (is_digit(c)) {
            magnitude = magnitude * 10 + (c - '0');
            if (magnitude > limit) {
                *error = SCAN_OVERFLOW;
                return 0;
            }
            digits = true;
        } else if (c != '\'') {
            *error = SCAN_BAD;
        }
    }
    if (!digits) *error = SCAN_BAD;
    return negative ? int32_t(0u - uint32_t(magnitude)) : int32_t(magnitude);
}

}  // namespace

int32_t scan_integer(const void* start, uint32_t count, uint32_t unit, int* error) {
    *error = SCAN_OK;
    if (!valid_unit(unit) || (count && !start)) {
        *error = SCAN_BAD;
        return 0;
    }
    const uint8_t* p = static_cast<const uint8_t*>(start);
    if (unit == 1) return scan_integer_units<1>(p, count, error);
    if (unit == 2) return scan_integer_units<2>(p, count, error);
    return scan_integer_units<4>(p, count, error);
}

bool float_syntax_ok(const uint8_t* text, size_t length) {
    using namespace lexer::tables;
    if (length > size_t(FLOAT_MAX_TEXT)) return false;
    uint32_t state = 0;
    for (size_t i = 0; i < length; ++i) {
        state = float_transitions[state * FLOAT_COLUMNS + float_classes[text[i]]];
    }
    return float_transitions[state * FLOAT_COLUMNS + FLOAT_END_COLUMN] != FLOAT_REJECT;
}

double scan_float(const void* start, uint32_t count, uint32_t unit, int* error) {
    *error = SCAN_BAD;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (!valid_unit(unit) || count == 0 || count > uint32_t(lexer::tables::FLOAT_MAX_TEXT) || !start)
        return nan;
    const uint8_t* p = static_cast<const uint8_t*>(start);
    uint8_t text[lexer::tables::FLOAT_MAX_TEXT];
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t c = char_at(p, unit, i);
        // A character above 255 is of no class the syntax check accepts.
        text[i] = c == ',' ? uint8_t('.') : c > 0xFF ? uint8_t(1) : uint8_t(c);
    }
    if (!float_syntax_ok(text, count)) return nan;
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (text[i] != '\'') text[n++] = text[i];
    }
    // The syntax check accepts a few texts that hold no number ("." alone,
    // repeated signs); the conversion must read the whole text.
    if (n == 0) return nan;
    ptrdiff_t left = 0;
    const double value = float_text::from_text(text, text + n, 0, &left);
    if (left != 0) return nan;
    *error = SCAN_OK;
    return value;
}

Cell* scan_tuple(const void* start, uint32_t count, uint32_t unit, int* error, Cell* result) {
    *error = SCAN_BAD;
    if (!valid_unit(unit) || count == 0 || !start) return result;
    const uint8_t* p = static_cast<const uint8_t*>(start);
    uint8_t bytes[12] = {};
    uint32_t parts = 0;
    uint32_t part = 0;
    bool digits = false;
    for (uint32_t i = 0; i <= count; ++i) {
        const uint32_t c = i < count ? char_at(p, unit, i) : '.';
        if (is_digit(c)) {
            part = part * 10 + (c - '0');
            if (part > 255) return result;
            digits = true;
        } else if (c == '.') {
            if (!digits || parts == 12) return result;  // an empty part, or a thirteenth
            bytes[parts++] = uint8_t(part);
            part = 0;
            digits = false;
        } else {
            return result;
        }
    }
    const uint32_t length = parts < 3 ? 3 : parts;
    result->header = TYPE_TUPLE | (length << header::TUPLE_LENGTH_SHIFT);
    uint32_t words[3];
    std::memcpy(words, bytes, sizeof words);  // byte 1 in the low byte of word 1 (little-endian)
    result->w1 = words[0];
    result->w2 = words[1];
    result->w3 = words[2];
    *error = SCAN_OK;
    return result;
}

bool scan_money_text(const void* start, uint32_t count, uint32_t unit, MoneyText* out) {
    if (!valid_unit(unit) || count == 0 || !start) return false;
    const uint8_t* p = static_cast<const uint8_t*>(start);
    MoneyText m;
    uint32_t i = 0;
    uint32_t c = char_at(p, unit, 0);
    if (c == '+' || c == '-') {
        m.negative = c == '-';
        ++i;
    }
    const uint32_t sign = i;
    if (i < count && is_ascii_letter(char_at(p, unit, i))) {
        // A currency code: three letters and `$`, with at least one digit
        // after it (five characters after the sign).
        if (count - sign < 5) return false;
        for (uint32_t k = 1; k < 3; ++k) {
            if (!is_ascii_letter(char_at(p, unit, i + k))) return false;
        }
        if (char_at(p, unit, i + 3) != '$') return false;
        m.currency = int32_t(i);
        i += 4;
    } else if (i < count && char_at(p, unit, i) == '$') {
        ++i;
    }
    // `'` and the point need a digit right before them, so neither may follow
    // the `$` (or the sign) directly.
    m.digits = i;
    enum { NONE, DIGIT, APOSTROPHE } last = NONE;
    for (; i < count; ++i) {
        c = char_at(p, unit, i);
        if (is_digit(c)) {
            last = DIGIT;
        } else if (c == '\'') {
            if (last != DIGIT) return false;  // right after `$`, or twice in a row
            last = APOSTROPHE;
        } else if (c == '.' || c == ',') {
            break;
        } else {
            return false;
        }
    }
    if (last != DIGIT) return false;  // no digit, or a `'` at the end or before the point
    m.point = i;
    m.end = count;
    if (i < count) {
        if (i + 1 == count) return false;  // the point at the end
        for (++i; i < count; ++i) {
            if (!is_digit(char_at(p, unit, i))) return false;
        }
    }
    *out = m;
    return true;
}

Cell* scan_money(const void* start, uint32_t count, uint32_t unit, int* error, Cell* result,
                 MoneyMaker make) {
    *error = SCAN_BAD;
    MoneyText m;
    if (!scan_money_text(start, count, unit, &m)) return result;
    if (!make || !make(result, m, start, unit)) return result;
    *error = SCAN_OK;
    return result;
}

void upcase_ascii(char* text) {
    for (; *text; ++text) {
        if (*text >= 'a' && *text <= 'z') *text = char(*text - 32);
    }
}

}  // namespace kiv::number
