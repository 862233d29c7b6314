// typeset!: a set of datatypes in one cell; triple!: three 32-bit integers.
//
// typeset! cell (id 33): payload words 1-3 form a 96-bit array, read as 12
// bytes with byte 0 the low byte of word 1. The bit of datatype id n is in
// byte n / 8 under the mask 0x80 >> (n mod 8). Id 0 is never a type; member
// ids run from 1 to the highest registered id, but every one of the 96 bits
// may be set (complement sets them all). Function specifications describe
// the types an argument accepts with typesets, and the argument checks read
// this same bit layout.
//
// The default argument typeset holds every type but unset! (id 2): all 96
// bits set except bit 2.
//
// triple! cell (id 31): words 1-3 hold three signed 32-bit integers; the
// type can only be formed and molded.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv::typeset {

// Payload word 1 of the default argument typeset (words 2 and 3 are all ones).
constexpr uint32_t DEFAULT_W1 = 0xFFFFFFDFu;

// ---- Bits ----------------------------------------------------------------------------
inline bool has(const Cell* ts, uint32_t type) {
    uint8_t bytes[12];
    std::memcpy(bytes, &ts->w1, 12);
    return type < 96 && (bytes[type >> 3] & (0x80u >> (type & 7))) != 0;
}
inline void set_bit(Cell* ts, uint32_t type) {
    if (type >= 96) return;
    uint8_t bytes[12];
    std::memcpy(bytes, &ts->w1, 12);
    bytes[type >> 3] |= uint8_t(0x80u >> (type & 7));
    std::memcpy(&ts->w1, bytes, 12);
}
// An empty typeset! cell, and one with given payload words.
inline Cell empty() {
    return Cell{TYPE_TYPESET, 0, 0, 0};
}
inline Cell of_words(uint32_t w1, uint32_t w2, uint32_t w3) {
    return Cell{TYPE_TYPESET, w1, w2, w3};
}
inline Cell default_set() {
    return Cell{TYPE_TYPESET, DEFAULT_W1, 0xFFFFFFFFu, 0xFFFFFFFFu};
}
// A typeset of the listed ids.
Cell of_types(std::initializer_list<uint32_t> ids);

// ---- Helpers ---------------------------------------------------------------------------
// Zeroes the three payload words.
void clear(Cell* ts);
// Number of member types among ids 1 .. the highest registered id.
uint32_t count(const Cell* ts);
// Appends a typeset cell with the given payload words to a block; returns the new cell.
Cell* make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3);
// Appends the default argument typeset to a block.
Cell* make_in_default(const Cell* block);
// Appends a typeset built from a type block of a function specification:
// each word! is replaced by its value; a datatype! sets its bit, a typeset!
// is merged, a word (a word whose value is a word) adds object!, a nested
// block is skipped; anything else raises script invalid-type-spec with the
// value as written.
Cell* make_in_from_block(const Cell* block, const Cell* spec);
// The same typeset as a value (nothing is allocated).
Cell from_block(const Cell* spec);
// Adds a datatype!, a typeset!, or the value of a word! naming one of them
// (an unset word raises script no-value); anything else raises script
// invalid-arg with the value as passed.
void add_type(Cell* ts, const Cell* value);
// The member types in id order as a new block in `result`.
Cell* to_block(const Cell* ts, Cell* result);
// Pushes a copy of the typeset cell.
Cell* push(const Cell* ts);

// The bitwise and set worker: value1 (a typeset!) receives the result of
// combining it with value2 (a typeset! or a datatype!, else script
// invalid-arg): 5 or, 6 and, 7 xor, 8 unique (value1 unchanged), 9 union,
// 10 intersect, 11 exclude, 12 difference. Returns value1.
Cell* do_bitwise(Cell* value1, const Cell* value2, int32_t op);

// ---- Actions (signatures of datatypes/actions.h) -----------------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);  // make and to
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
void and_t();
void or_t();
void xor_t();
Cell* complement(Cell* value);
Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);

// Registers typeset!.
void init();

}  // namespace kiv::typeset

namespace kiv::triple {

inline Cell cell(int32_t a, int32_t b, int32_t c) {
    return Cell{TYPE_TRIPLE, uint32_t(a), uint32_t(b), uint32_t(c)};
}
// form and mold write the same text: "make triple! [a b c]".
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);

// Registers triple!.
void init();

}  // namespace kiv::triple
