#include "datatypes/lexer_values.h"

#include <cmath>
#include <cstring>

#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace kiv::lexer::values {

// ---- Immediate values ------------------------------------------------------------------

Cell* make_pair(Cell* cell, int32_t x, int32_t y) {
    *cell = Cell{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)};
    return cell;
}

Cell* make_point2d(Cell* cell, float x, float y) {
    *cell = Cell{TYPE_POINT2D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), 0};
    return cell;
}

Cell* make_point3d(Cell* cell, float x, float y, float z) {
    *cell = Cell{TYPE_POINT3D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
                 std::bit_cast<uint32_t>(z)};
    return cell;
}

Cell* make_tuple(Cell* cell, const uint8_t* bytes, uint32_t count) {
    if (count > 12) count = 12;
    uint8_t b[12] = {};
    std::memcpy(b, bytes, count);
    const uint32_t length = count < 3 ? 3 : count;
    uint32_t w[3];
    std::memcpy(w, b, sizeof w);  // byte 1 in the low byte of word 1 (little-endian)
    *cell = Cell{TYPE_TUPLE | (length << header::TUPLE_LENGTH_SHIFT), w[0], w[1], w[2]};
    return cell;
}

Cell* make_percent(Cell* cell, double fraction) {
    *cell = Cell{TYPE_PERCENT, 0, 0, 0};
    cell->set_f64(fraction);
    return cell;
}

Cell* make_time(Cell* cell, double seconds) {
    *cell = Cell{TYPE_TIME, 0, 0, 0};
    cell->set_f64(seconds);
    return cell;
}

// ---- date! -----------------------------------------------------------------------------------

bool leap_year(int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t date_to_days(int32_t year, int32_t month, int32_t day) {
    const int32_t m = (month + 9) % 12;  // March = 0 ... February = 11
    const int32_t y = year - m / 10;     // one less for January and February
    return 365 * y + y / 4 - y / 100 + y / 400 + (306 * m + 5) / 10 + day - 1;
}

uint32_t days_to_date(int32_t days, uint32_t zone_bits, bool time_flag) {
    const int64_t n = days;
    int64_t y = int64_t((10000.0 * double(n) + 14780.0) / 3652425.0);
    int64_t r = n - (365 * y + y / 4 - y / 100 + y / 400);
    if (r < 0) {
        --y;
        r = n - (365 * y + y / 4 - y / 100 + y / 400);
    }
    const int64_t mi = (100 * r + 52) / 3060;
    const int64_t month = (mi + 2) % 12 + 1;
    const int64_t year = y + (mi + 2) / 12;
    const int64_t day = r - (306 * mi + 5) / 10 + 1;
    return (uint32_t(int32_t(year)) << date_bits::YEAR_SHIFT) | (time_flag ? date_bits::TIME_FLAG : 0) |
           ((uint32_t(month) & date_bits::MONTH_MASK) << date_bits::MONTH_SHIFT) |
           ((uint32_t(day) & date_bits::DAY_MASK) << date_bits::DAY_SHIFT) |
           (zone_bits & date_bits::ZONE_MASK);
}

int32_t weekday(int32_t days) {
    int32_t r = (days + 2) % 7;
    if (r < 0) r += 7;
    return r + 1;
}

Cell* make_date(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                int32_t zone_minutes, bool has_time) {
    uint32_t word = (uint32_t(year) << date_bits::YEAR_SHIFT) |
                    ((uint32_t(month) & date_bits::MONTH_MASK) << date_bits::MONTH_SHIFT) |
                    ((uint32_t(day) & date_bits::DAY_MASK) << date_bits::DAY_SHIFT);
    double stored = 0.0;
    if (has_time) {
        const bool negative = zone_hours < 0 || zone_minutes < 0;
        const uint32_t hours = uint32_t(zone_hours < 0 ? -zone_hours : zone_hours) & 0xF;
        const uint32_t quarters = (uint32_t(zone_minutes < 0 ? -zone_minutes : zone_minutes) / 15) & 0x3;
        word |= date_bits::TIME_FLAG | (negative ? date_bits::ZONE_SIGN : 0) |
                (hours << date_bits::ZONE_HOURS_SHIFT) | quarters;
        const double offset = double(hours) * 3600.0 + double(quarters) * 900.0;
        stored = time - (negative ? -offset : offset);
    }
    cell->header = (cell->header & ~header::TYPE_MASK) | TYPE_DATE;
    cell->w1 = word;
    cell->set_f64(stored);
    return cell;
}

namespace {

void move_to_days(Cell* date, int32_t days) {
    const uint32_t word = date->w1;
    date->w1 = days_to_date(days, word & date_bits::ZONE_MASK, (word & date_bits::TIME_FLAG) != 0);
}

int32_t year_start_days(uint32_t word) {
    return date_to_days(date_year(word), 1, 1);
}

}  // namespace

void set_isoweek(Cell* date, int32_t week) {
    const int32_t first = year_start_days(date->w1);
    const int32_t w = weekday(first);
    const int32_t start = first + (w < 5 ? 1 : 8) - w;  // the Monday of ISO week 1
    move_to_days(date, start + (week - 1) * 7);
}

void set_weekday(Cell* date, int32_t day) {
    const int32_t days = date_to_days(date->w1);
    move_to_days(date, days - (weekday(days) - 1) + (day - 1));
}

void set_yearday(Cell* date, int32_t yearday) {
    move_to_days(date, year_start_days(date->w1) + yearday - 1);
}

// ---- money! ----------------------------------------------------------------------------------

namespace {

// The currency list the system starts with, in its order (index = position + 1).
constexpr char CURRENCIES[] =
    "AEDAFNALLAMDANGAOAARSAUDAWGAZNBAMBBDBDTBTCBGNBHDBIFBMDBNDBOBBRLBSDBTNBWPBYNBZDCADCDFCHFCKDCLPCNYCOP"
    "CRCCUCCUPCVECZKDJFDKKDOPDZDEGPERNETBETHEURFJDFKPFOKGBPGELGGPGHSGIPGMDGNFGTQGYDHKDHNLHRKHTGHUFIDRILS"
    "IMPINRIQDIRRISKJEPJMDJODJPYKESKGSKHRKIDKMFKPWKRWKWDKYDKZTLAKLBPLKRLRDLSLLYDMADMDLMGAMKDMMKMNTMOPMRU"
    "MURMVRMWKMXNMYRMZNNADNGNNIONOKNPRNZDOMRPABPENPGKPHPPKRPLNPNDPRBPYGQARKIVRONRSDRUBRWFSARSBDSCRSDGSEK"
    "SGDSHPSLLSLSSOSSRDSSPSTNSYPSZLTHBTJSTMTTNDTOPTRYTTDTVDTWDTZSUAHUGXUSDUYUUZSVESVNDVUVWSTCFAXAFXCDXOF"
    "CFPXPFYERZARZMW";
constexpr uint32_t CURRENCY_COUNT = (sizeof CURRENCIES - 1) / 3;
static_assert(CURRENCY_COUNT == 170, "the built-in currency list");

inline char upper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 32) : c;
}

inline uint32_t char_at(const uint8_t* p, uint32_t unit, uint32_t i) {
    return read_unit(p + size_t(i) * unit, unit);
}

}  // namespace

int32_t builtin_currency(const char code[3]) {
    const char c0 = upper(code[0]), c1 = upper(code[1]), c2 = upper(code[2]);
    for (uint32_t i = 0; i < CURRENCY_COUNT; ++i) {
        const char* e = CURRENCIES + i * 3;
        if (e[0] == c0 && e[1] == c1 && e[2] == c2) return int32_t(i + 1);
    }
    return -1;
}

bool builtin_currency_code(uint32_t index, char code[4]) {
    if (index == 0 || index > CURRENCY_COUNT) return false;
    std::memcpy(code, CURRENCIES + (index - 1) * 3, 3);
    code[3] = 0;
    return true;
}

CurrencyLookup find_currency = &builtin_currency;

bool make_money(Cell* result, const number::MoneyText& text, const void* start, uint32_t unit) {
    const uint8_t* p = static_cast<const uint8_t*>(start);
    uint32_t currency = 0;
    if (text.currency >= 0) {
        char code[3];
        for (int k = 0; k < 3; ++k) {
            const uint32_t c = char_at(p, unit, uint32_t(text.currency) + uint32_t(k));
            if (c > 0x7F) return false;
            code[k] = char(c);
        }
        const int32_t index = find_currency ? find_currency(code) : builtin_currency(code);
        if (index < 1 || index > 255) return false;
        currency = uint32_t(index);
    }
    uint8_t digits[MONEY_DIGITS + 1] = {};  // 1-based
    // Integer digits, right-aligned so that the last one is digit 17.
    uint32_t count = 0;
    bool significant = false;
    for (uint32_t i = text.digits; i < text.point; ++i) {
        const uint32_t c = char_at(p, unit, i);
        if (c == '\'') continue;
        if (c == '0' && !significant) continue;
        significant = true;
        ++count;
    }
    if (count > MONEY_INT_DIGITS) return false;
    uint32_t at = MONEY_INT_DIGITS - count + 1;
    significant = false;
    for (uint32_t i = text.digits; i < text.point; ++i) {
        const uint32_t c = char_at(p, unit, i);
        if (c == '\'') continue;
        if (c == '0' && !significant) continue;
        significant = true;
        digits[at++] = uint8_t(c - '0');
    }
    if (text.point < text.end) {
        if (text.end - text.point - 1 > MONEY_DIGITS - MONEY_INT_DIGITS) return false;
        at = MONEY_INT_DIGITS + 1;
        for (uint32_t i = text.point + 1; i < text.end; ++i)
            digits[at++] = uint8_t(char_at(p, unit, i) - '0');
    }
    uint8_t bytes[16] = {};
    bytes[4] = uint8_t(currency);
    for (uint32_t n = 1; n <= MONEY_DIGITS; ++n) {
        uint8_t& b = bytes[5 + (n - 1) / 2];
        b |= (n & 1) ? uint8_t(digits[n] << 4) : digits[n];
    }
    uint32_t w[3];
    std::memcpy(w, bytes + 4, sizeof w);
    result->header = TYPE_MONEY | (text.negative ? header::MONEY_SIGN : 0);
    result->w1 = w[0];
    result->w2 = w[1];
    result->w3 = w[2];
    return true;
}

uint32_t money_digit(const Cell* money, uint32_t n) {
    uint8_t bytes[12];
    std::memcpy(bytes, &money->w1, 12);  // payload bytes 4-15
    const uint8_t b = bytes[1 + (n - 1) / 2];
    return (n & 1) ? b >> 4 : b & 0xF;
}

// ---- Series values -------------------------------------------------------------------------

Cell* make_binary(Cell* cell, uint32_t capacity) {
    const Off node = memory::alloc_bytes(capacity ? capacity : 1);
    *cell = Cell{TYPE_BINARY, 0, node, 0};
    return cell;
}

void TextBuilder::begin(uint32_t count, uint32_t widest) {
    unit_ = unit_for(widest);
    node_ = memory::alloc_codepoints(count ? count : 1, unit_);
    at_ = buffer_of(node_)->head_ptr();
}

Cell* TextBuilder::finish(Cell* cell, uint32_t type) {
    SeriesBuffer* b = buffer_of(node_);
    b->tail = arena::off(at_);
    *cell = Cell{type, 0, node_, 0};
    node_ = 0;
    at_ = nullptr;
    return cell;
}

bool map_key_type(uint32_t type) {
    switch (type) {
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_CHAR:
        case TYPE_INTEGER:
        case TYPE_FLOAT:
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
        case TYPE_ISSUE:
        case TYPE_PAIR:
        case TYPE_PERCENT:
        case TYPE_TUPLE:
        case TYPE_BINARY:
        case TYPE_TIME:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_DATE:
        case TYPE_MONEY:
        case TYPE_REF:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            return true;
        default:
            return false;
    }
}

bool make_map(Cell* cell, Cell* pairs, uint32_t count) {
    if (count & 1) return false;
    for (uint32_t i = 0; i < count; i += 2) {
        if (!map_key_type(pairs[i].type())) return false;
    }
    const Off node = memory::alloc_cells(count ? count : 2);
    SeriesBuffer* b = buffer_of(node);
    Cell* dst = b->head_cell();
    for (uint32_t i = 0; i < count; ++i) {
        Cell c = pairs[i];
        c.clear_new_line();
        if ((i & 1) == 0) {
            const uint32_t t = c.type();
            if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) c.set_type(TYPE_SET_WORD);
        }
        dst[i] = c;
    }
    b->tail = b->head + count * uint32_t(sizeof(Cell));
    // The pair block is reachable through the cell while the table is made
    // (a block cell marks its cells; the map cell replaces it afterwards).
    *cell = Cell{TYPE_BLOCK, 0, node, 0};
    const Off table = hashtable::init(count / 2, node, hashtable::MAP, 0);
    *cell = Cell{TYPE_MAP, 0, node, table};
    return true;
}

Cell* make_container(Cell* cell, uint32_t type, const Cell* cells, uint32_t count) {
    const Off node = memory::alloc_cells(count ? count : 1);
    SeriesBuffer* b = buffer_of(node);
    if (count) std::memcpy(b->head_cell(), cells, size_t(count) * sizeof(Cell));
    b->tail = b->head + count * uint32_t(sizeof(Cell));
    *cell = Cell{type, 0, node, 0};
    return cell;
}

}  // namespace kiv::lexer::values
