// symbol!: interned names. Every word refers to a symbol by its id.
//
// The symbol block holds one symbol! cell per distinct name (letter case
// counts); the id of a symbol is the 1-based position of its cell there, and
// id 0 is never a symbol. Symbols are only ever added, never removed, so an
// id stays valid for the whole run.
//
// A symbol! cell:
//   header  13, no flags
//   word 1  alias (signed): the id of the first-interned symbol with the same
//           name up to ASCII case, or -1 when there is none (0 or less = none)
//   word 2  node of the name as a string! (0 until first needed, then kept)
//   word 3  node of a byte series holding the name's UTF-8 bytes as interned,
//           with a NUL byte stored right after its tail
//
// Case-insensitivity of the language rests on the aliases: names that differ
// only in ASCII case are different symbols sharing one canonical id (the
// alias when > 0, else the id), and every case-insensitive comparison of
// words compares canonical ids. Non-ASCII letters are not folded.
//
// Interning goes through the symbol index (a type-2 hash table, value size 1,
// over the symbol block; runtime/hashtable.h) whose hash ignores ASCII case,
// so the case variants of a name share one probe sequence.
//
// Pointers returned here into the symbol block or a name buffer are valid
// only until the next allocation; ids are always safe.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace kiv::symbol {

// Room the symbol block and its index are made with (both grow).
constexpr uint32_t TABLE_ROOM = 4000;

// ---- Start-up ------------------------------------------------------------------
// Makes the symbol block and keeps it in the root block (after root::init).
void init_block();
// Makes the interning index over the symbol block, stores it in
// root::symbol_index and registers it with the hash tables so that canonical
// ids are known everywhere (after init_block).
void init_index();
// Registers the symbol! datatype.
void init();

// ---- Interning -----------------------------------------------------------------
// Default interning: an exact match returns its id; otherwise a new symbol is
// added whose alias is the first-interned case variant (or -1).
uint32_t make(const char* name);
uint32_t make_from_utf8(const uint8_t* bytes, uint32_t length);
inline uint32_t make_from_utf8(std::string_view name) {
    return make_from_utf8(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()));
}
// The characters of a string-like value from its index to its tail, as UTF-8.
uint32_t make_from_string(const Cell* str);
// Any-case interning (start-up only): any case variant already interned is
// returned as it is; otherwise a new symbol with alias -1 is added.
uint32_t make_any_case(const char* name);

// ---- Reading ---------------------------------------------------------------------
// Number of symbols interned so far (the highest id).
uint32_t count();
// True when id names a symbol.
inline bool valid(uint32_t id);
// The symbol's cell, its name string built first (valid until the next allocation).
Cell* get(uint32_t id);
// The symbol's cell as it is (valid until the next allocation).
Cell* cell(uint32_t id);
// Builds the name string when missing; returns its node.
Off ensure_string(uint32_t id);
// The canonical id: the alias when > 0, else the id.
uint32_t resolve(uint32_t id);
// Word 1 as stored: -1 or the twin's id.
int32_t get_alias(uint32_t id);
// The interned UTF-8 name, NUL-terminated (valid until the next allocation).
const char* name(uint32_t id);
// Its length in bytes.
uint32_t name_length(uint32_t id);
inline std::string_view name_view(uint32_t id) {
    return std::string_view(name(id), name_length(id));
}
// The name string's first unit, with a 0 byte stored right after its tail
// (room made when the buffer is full; the length is unchanged): a name held
// in 1-byte units reads as a NUL-terminated string. Valid until the next
// allocation.
const uint8_t* name_cstring(uint32_t id);
// True when the word's canonical id is that of `any-type!`.
bool is_any_type(const Cell* word);

// ---- Actions -----------------------------------------------------------------------
// Compares the two symbols' names as strings with the comparison code.
int32_t compare(Cell* value, Cell* other, int32_t op);

inline bool valid(uint32_t id) {
    return id != 0 && id <= count();
}

}  // namespace kiv::symbol
