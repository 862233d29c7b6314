// vector!: a series of fixed-size numbers of one kind, packed in a buffer.
//
// A vector value: word 1 = index (in elements), word 2 = node of the element
// buffer, word 3 = the element type id (char!, integer!, float! or
// percent!). The buffer's unit is the element size in bytes: 1, 2 or 4 for
// char! and integer!; 4 or 8 for float!; 8 for percent!.
//
// Elements are little-endian. Integer elements are two's complement, read
// sign-extended (an 8-bit element holds -128..127) and written as their low
// 8, 16 or 32 bits, so integer math wraps around. Char elements read
// unsigned (an 8-bit char element holds 0..255): a char! never gets a
// negative code point. Float elements are single (4 bytes) or double (8)
// precision; percent elements hold the fraction (50% is 0.5).
//
// The series actions of string! work on vectors through the unit size
// (series.cpp reads and writes elements with get_element and set_element).
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "datatypes/actions.h"

namespace kiv::vector {

// Largest element area a vector may take; beyond it make, append and insert
// raise internal no-memory instead of exhausting memory.
constexpr uint64_t MAX_BYTES = uint64_t(1) << 28;

// The element at an address as a value of the element type.
Cell get_element(const uint8_t* p, uint32_t unit, uint32_t elem_type);
// Stores a char!, integer!, float! or percent! value at an address by unit.
void set_element(uint8_t* p, uint32_t unit, const Cell* value);
// Makes the cell an empty vector with room for n elements.
Cell* make_at(Cell* cell, uint64_t n, uint32_t unit, uint32_t elem_type);
Cell* push(const Cell* vec);

// ---- Actions (signatures of datatypes/actions.h) ------------------------------------------
Outcome make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_t();
void or_t();
void xor_t();
Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Unwind change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);

// Registers vector! (a string! child).
void init();

}  // namespace kiv::vector
