// Cell constructors for the literal datatypes the lexer makes, kept in one
// place until each datatype's own module takes its constructor over.
//
// Every function here writes a cell exactly as its datatype lays it out:
//
//   pair!      word 2 = x, word 3 = y (signed 32-bit)
//   point2D!   word 1 = x, word 2 = y (IEEE single precision)
//   point3D!   word 1 = x, word 2 = y, word 3 = z (single precision)
//   tuple!     header bits 19-22 = length (3..12); bytes in words 1-3, byte 1
//              in the low byte of word 1
//   percent!   words 2-3 = the fraction as binary64 (50% is 0.5)
//   time!      words 2-3 = seconds as binary64
//   date!      word 1 = the packed date word (below), words 2-3 = the time in
//              seconds as binary64, stored in UTC (the zone offset removed)
//   money!     header bit 14 = sign; payload byte 4 (low byte of word 1) =
//              currency index (0 none); payload bytes 5-15 = 22 BCD digits,
//              high nibble first, digits 1-17 the integer part, 18-22 the
//              fraction
//   binary!    word 1 = index, word 2 = node of a 1-byte-unit series
//   map!       word 1 = 0, word 2 = node of the pair block (key, value, ...),
//              word 3 = its hash table (map kind)
//   string-like (string!, file!, url!, tag!, email!, ref!): word 1 = index,
//              word 2 = node of a text buffer of 1-, 2- or 4-byte units,
//              word 3 = conversion cache (0)
//
// The date word:
//   bits 17-31  year, signed
//   bit 16      time flag (the date carries a time and a zone)
//   bits 12-15  month 1-12
//   bits 7-11   day 1-31
//   bit 6       zone sign (1 = negative)
//   bits 2-5    zone hours 0-15
//   bits 0-1    zone quarter hours 0-3
//
// Functions that allocate may collect: the cell they fill must not lie in a
// series buffer that an allocation may move (the lexer's output buffer and
// the data stack are safe).
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/number_scan.h"

namespace kiv::lexer::values {

// ---- Immediate values ------------------------------------------------------------------

Cell* make_pair(Cell* cell, int32_t x, int32_t y);
Cell* make_point2d(Cell* cell, float x, float y);
Cell* make_point3d(Cell* cell, float x, float y, float z);
// `count` bytes (at most 12), padded with zero bytes to 3.
Cell* make_tuple(Cell* cell, const uint8_t* bytes, uint32_t count);
Cell* make_percent(Cell* cell, double fraction);
Cell* make_time(Cell* cell, double seconds);

// ---- date! -----------------------------------------------------------------------------------

namespace date_bits {
constexpr uint32_t YEAR_SHIFT = 17;
constexpr uint32_t TIME_FLAG = 1u << 16;
constexpr uint32_t MONTH_SHIFT = 12;
constexpr uint32_t MONTH_MASK = 0xFu;
constexpr uint32_t DAY_SHIFT = 7;
constexpr uint32_t DAY_MASK = 0x1Fu;
constexpr uint32_t ZONE_MASK = 0x7Fu;  // sign, hours and quarters
constexpr uint32_t ZONE_SIGN = 1u << 6;
constexpr uint32_t ZONE_HOURS_SHIFT = 2;
}  // namespace date_bits

inline int32_t date_year(uint32_t word) {
    return int32_t(word) >> date_bits::YEAR_SHIFT;
}
inline uint32_t date_month(uint32_t word) {
    return (word >> date_bits::MONTH_SHIFT) & date_bits::MONTH_MASK;
}
inline uint32_t date_day(uint32_t word) {
    return (word >> date_bits::DAY_SHIFT) & date_bits::DAY_MASK;
}

bool leap_year(int32_t year);
// Day number of a date (year, month, day); all divisions truncate toward
// zero. A Monday has (days + 2) mod 7 = 0.
int32_t date_to_days(int32_t year, int32_t month, int32_t day);
inline int32_t date_to_days(uint32_t word) {
    return date_to_days(date_year(word), int32_t(date_month(word)), int32_t(date_day(word)));
}
// The date word of a day number, with the given zone bits and time flag.
uint32_t days_to_date(int32_t days, uint32_t zone_bits, bool time_flag);
// Monday = 1 ... Sunday = 7.
int32_t weekday(int32_t days);

// Fills a date! from its fields. The zone is given as signed hours and
// minutes carrying the same sign (-5:30 is -5 and -30; -0:30 is 0 and -30);
// the minutes are kept in quarters. With a time, the time flag is set and
// the time (local seconds) is stored with the zone offset removed; without,
// the time is 0 and the zone 0.
Cell* make_date(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                int32_t zone_minutes, bool has_time);
// Move the date, keeping its zone, time and time flag: to the Monday of ISO
// week `week` of its year, to weekday `day` (1-7) of its Monday-based week,
// to day `yearday` of its year.
void set_isoweek(Cell* date, int32_t week);
void set_weekday(Cell* date, int32_t day);
void set_yearday(Cell* date, int32_t yearday);

// ---- money! ----------------------------------------------------------------------------------

constexpr uint32_t MONEY_DIGITS = 22;
constexpr uint32_t MONEY_INT_DIGITS = 17;

// Index (1-based) of a three-letter currency code in the currency list, or
// -1. The default lookup reads the built-in list of the 170 codes the system
// starts with; the library installs one that reads the live list.
using CurrencyLookup = int32_t (*)(const char code[3]);
extern CurrencyLookup find_currency;
int32_t builtin_currency(const char code[3]);
// The code at a 1-based index of the built-in list, as three letters and a
// NUL; false when the list has no such entry.
bool builtin_currency_code(uint32_t index, char code[4]);

// The money maker of the number scanners (number::MoneyMaker): builds the
// value from checked pieces. Refuses a currency that is not in the list,
// more than 17 integer digits (leading zeros aside) and more than 5
// fraction digits.
bool make_money(Cell* result, const number::MoneyText& text, const void* start, uint32_t unit);
// Digit n (1..22) of a money! cell.
uint32_t money_digit(const Cell* money, uint32_t n);

// ---- Series values -------------------------------------------------------------------------

// An empty binary! with room for `capacity` bytes (at least 1).
Cell* make_binary(Cell* cell, uint32_t capacity);

// Builds a text series: given the number of characters and the widest code
// point, `begin` allocates a buffer of exactly that room, `put` stores the
// characters one by one and `finish` sets the tail and fills the cell (the
// type given, index 0). No allocation happens between begin and finish.
class TextBuilder {
  public:
    void begin(uint32_t count, uint32_t widest);
    void put(uint32_t cp) {
        if (unit_ == 1) {
            *at_++ = uint8_t(cp);
        } else if (unit_ == 2) {
            at_[0] = uint8_t(cp);
            at_[1] = uint8_t(cp >> 8);
            at_ += 2;
        } else {
            __builtin_memcpy(at_, &cp, 4);
            at_ += 4;
        }
    }
    // Copies ASCII bytes as they are (1-byte units only).
    void put_ascii(const uint8_t* p, uint32_t n) {
        __builtin_memcpy(at_, p, n);
        at_ += n;
    }
    uint32_t unit() const { return unit_; }
    Cell* finish(Cell* cell, uint32_t type);

  private:
    Off node_ = 0;
    uint32_t unit_ = 1;
    uint8_t* at_ = nullptr;
};

// The unit a text needs for its widest code point.
inline uint32_t unit_for(uint32_t widest) {
    return widest < 0x100 ? 1 : widest < 0x10000 ? 2 : 4;
}

// map!: the datatypes a key may have.
bool map_key_type(uint32_t type);
// Builds a map! in `cell` from `count` cells (key, value, ...). Word keys
// become set-word!; new-line markers are cleared. The cells may be those of
// the lexer's output buffer (they are read before anything is allocated and
// copied into the pair block). Returns false, making nothing, when the count
// is odd or a key has a type a map does not accept.
bool make_map(Cell* cell, Cell* pairs, uint32_t count);

// A new cell-series container (block!, paren!, a path type) holding copies
// of `count` cells.
Cell* make_container(Cell* cell, uint32_t type, const Cell* cells, uint32_t count);

}  // namespace kiv::lexer::values
