// Value cells: the one representation of every Kiv value.
//
// A cell is four 32-bit words, 16 bytes, 4-byte aligned. Word 0 is the header:
// the datatype id in bits 0-7, flag bits above (see the table below, the only
// place that lists them). Words 1-3 are payload whose meaning each datatype
// fixes. Series values keep their position index in word 1 and the node of
// their series in word 2. A node is a 32-bit arena offset (see arena.h).
//
// Cells live inside series buffers, which are only 4-byte aligned: never give
// Cell a larger alignment and never form a double* into a buffer. 64-bit
// payloads are read and written through get_u64/set_u64 and get_f64/set_f64.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kiv {

using Off = uint32_t;  // offset into the series arena; 0 is null

// Datatype ids, as carried in the low byte of a cell header.
enum TypeId : uint32_t {
    TYPE_DATATYPE = 1,
    TYPE_UNSET = 2,
    TYPE_NONE = 3,
    TYPE_LOGIC = 4,
    TYPE_BLOCK = 5,
    TYPE_PAREN = 6,
    TYPE_STRING = 7,
    TYPE_FILE = 8,
    TYPE_URL = 9,
    TYPE_CHAR = 10,
    TYPE_INTEGER = 11,
    TYPE_FLOAT = 12,
    TYPE_SYMBOL = 13,
    TYPE_CONTEXT = 14,
    TYPE_WORD = 15,
    TYPE_SET_WORD = 16,
    TYPE_LIT_WORD = 17,
    TYPE_GET_WORD = 18,
    TYPE_REFINEMENT = 19,
    TYPE_ISSUE = 20,
    TYPE_NATIVE = 21,
    TYPE_ACTION = 22,
    TYPE_OP = 23,
    TYPE_FUNCTION = 24,
    TYPE_PATH = 25,
    TYPE_LIT_PATH = 26,
    TYPE_SET_PATH = 27,
    TYPE_GET_PATH = 28,
    TYPE_ROUTINE = 29,
    TYPE_BITSET = 30,
    TYPE_TRIPLE = 31,
    TYPE_OBJECT = 32,
    TYPE_TYPESET = 33,
    TYPE_ERROR = 34,
    TYPE_VECTOR = 35,
    TYPE_HASH = 36,
    TYPE_PAIR = 37,
    TYPE_PERCENT = 38,
    TYPE_TUPLE = 39,
    TYPE_MAP = 40,
    TYPE_BINARY = 41,
    TYPE_SERIES = 42,  // abstract parent, never carried by a value
    TYPE_TIME = 43,
    TYPE_TAG = 44,
    TYPE_EMAIL = 45,
    TYPE_HANDLE = 46,
    TYPE_DATE = 47,
    TYPE_PORT = 48,
    TYPE_MONEY = 49,
    TYPE_REF = 50,
    TYPE_POINT2D = 51,
    TYPE_POINT3D = 52,
    TYPE_IMAGE = 53,
    TYPE_EVENT = 54,
    TYPE_ID_LIMIT = 57,  // ids 55..57 have table rows but no type
};

// Header flag bits. Each datatype owns the bits listed for it; no two uses of
// one bit may meet in the same cell.
namespace header {
constexpr uint32_t TYPE_MASK = 0xFFu;             // bits 0-7: datatype id
constexpr uint32_t FUNC_NO_TRACE = 0x200u;         // bit 9: function! attribute no-trace
constexpr uint32_t FUNC_TRACE = 0x400u;            // bit 10: function! attribute trace
constexpr uint32_t CONTEXT_KIND_SHIFT = 11;        // bits 11-12: context kind
constexpr uint32_t CONTEXT_KIND_MASK = 0x1800u;
constexpr uint32_t WORD_SET = 0x2000u;             // bit 13: object word was set
constexpr uint32_t MONEY_SIGN = 0x4000u;           // bit 14: money! sign
constexpr uint32_t ROUTINE_DIRECT = 0x8000u;       // bit 15: routine! takes its argument cells as they are
constexpr uint32_t OWNS_SERIES = 0x10000u;         // bit 16: context owns series / image owned
constexpr uint32_t OP_TYPE_SHIFT = 16;             // bits 16-23: op! wrapped type
constexpr uint32_t OP_TYPE_MASK = 0xFF0000u;
constexpr uint32_t TUPLE_LENGTH_SHIFT = 19;        // bits 19-22: tuple! length
constexpr uint32_t TUPLE_LENGTH_MASK = 0x780000u;
constexpr uint32_t STACK_VALUES = 0x400000u;       // bit 22: context values on the data stack
constexpr uint32_t HAS_SELF = 0x1000000u;          // bit 24: context has a self word
constexpr uint32_t ROUTINE_ARITY_SHIFT = 25;       // bits 25-29: routine! word! entry count
constexpr uint32_t ROUTINE_ARITY_MASK = 0x3E000000u;
constexpr uint32_t NEW_LINE = 0x40000000u;         // bit 30: new line before this value
}  // namespace header

struct Cell {
    uint32_t header;
    uint32_t w1;
    uint32_t w2;
    uint32_t w3;

    uint32_t type() const { return header & header::TYPE_MASK; }
    void set_type(uint32_t t) { header = (header & ~header::TYPE_MASK) | t; }
    bool new_line() const { return (header & header::NEW_LINE) != 0; }
    void clear_new_line() { header &= ~header::NEW_LINE; }

    // 64-bit payloads sit in words 2-3 (low word first).
    uint64_t get_u64() const { return uint64_t(w2) | (uint64_t(w3) << 32); }
    void set_u64(uint64_t v) {
        w2 = uint32_t(v);
        w3 = uint32_t(v >> 32);
    }
    double get_f64() const { return std::bit_cast<double>(get_u64()); }
    void set_f64(double d) { set_u64(std::bit_cast<uint64_t>(d)); }
};

static_assert(sizeof(Cell) == 16, "cells are 16 bytes");
static_assert(alignof(Cell) == 4, "cells must stay 4-byte aligned");

// Copies the four words; copying a cell onto itself changes nothing.
inline Cell* copy_cell(const Cell* src, Cell* dst) {
    if (src != dst) std::memcpy(dst, src, sizeof(Cell));
    return dst;
}

// ---- Kinds of values ------------------------------------------------------------------------
// One bit per datatype id; the predicates below test a type against the
// typesets of the same name in the library.
constexpr uint64_t type_bit(uint32_t t) {
    return t < 64 ? uint64_t(1) << t : 0;
}
namespace kinds {
constexpr uint64_t ANY_WORD = type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) | type_bit(TYPE_GET_WORD) |
                              type_bit(TYPE_LIT_WORD);
constexpr uint64_t ALL_WORD = ANY_WORD | type_bit(TYPE_REFINEMENT) | type_bit(TYPE_ISSUE);
constexpr uint64_t ANY_PATH = type_bit(TYPE_PATH) | type_bit(TYPE_SET_PATH) | type_bit(TYPE_GET_PATH) |
                              type_bit(TYPE_LIT_PATH);
constexpr uint64_t ANY_LIST = type_bit(TYPE_BLOCK) | type_bit(TYPE_PAREN) | type_bit(TYPE_HASH);
constexpr uint64_t ANY_BLOCK = ANY_PATH | ANY_LIST;
constexpr uint64_t ANY_STRING = type_bit(TYPE_STRING) | type_bit(TYPE_FILE) | type_bit(TYPE_URL) |
                                type_bit(TYPE_TAG) | type_bit(TYPE_EMAIL) | type_bit(TYPE_REF);
constexpr uint64_t SERIES = ANY_BLOCK | ANY_STRING | type_bit(TYPE_BINARY) | type_bit(TYPE_IMAGE) |
                            type_bit(TYPE_VECTOR);
}  // namespace kinds

// word!, set-word!, get-word!, lit-word!.
inline bool is_any_word(uint32_t t) {
    return (kinds::ANY_WORD & type_bit(t)) != 0;
}
// The any-words plus refinement! and issue!.
inline bool is_all_word(uint32_t t) {
    return (kinds::ALL_WORD & type_bit(t)) != 0;
}
// block!, paren!, hash!.
inline bool is_any_list(uint32_t t) {
    return (kinds::ANY_LIST & type_bit(t)) != 0;
}
// block!, paren!, hash! and the four path types.
inline bool is_any_block(uint32_t t) {
    return (kinds::ANY_BLOCK & type_bit(t)) != 0;
}
// string!, file!, url!, tag!, email!, ref!.
inline bool is_any_string(uint32_t t) {
    return (kinds::ANY_STRING & type_bit(t)) != 0;
}
// Any value whose payload is position + node of a series buffer.
inline bool is_series(uint32_t t) {
    return (kinds::SERIES & type_bit(t)) != 0;
}

// ---- Payload of series values -----------------------------------------------------------------
// A series value keeps its position (in units from the buffer head) in word 1
// and the node of its buffer in word 2.
inline Off series_node(const Cell* c) {
    return c->w2;
}
inline uint32_t series_index(const Cell* c) {
    return c->w1;
}
inline void set_series_node(Cell* c, Off node) {
    c->w2 = node;
}
inline void set_series_index(Cell* c, uint32_t index) {
    c->w1 = index;
}

}  // namespace kiv
