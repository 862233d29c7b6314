// How values behave as keys of hash! and map! tables: their hash and their
// equality. The generic table (runtime/hashtable.h) knows no value layouts;
// install() hands it these operations at start-up.
//
// Every key hashes without case (strings folded to lower case, words by their
// canonical symbol), so that a case-sensitive look-up and a case-insensitive
// one probe the same buckets; only the equality test takes the case flag.
// A string hashes by its characters from its position, one 32-bit unit each
// whatever the buffer's unit, so the same text hashes alike in every width.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::hash_values {

// Internal string type whose word 3, when not negative, limits the characters
// hashed and compared (a look-up key over part of a string).
constexpr uint32_t TYPE_STRING_PART = 56;

uint32_t hash_string(const Cell* value, bool case_sensitive);
uint32_t hash(const Cell* value, bool case_sensitive = false);
bool equal(const Cell* a, const Cell* b, bool case_sensitive);
// True for the types whose hash depends on a node address.
bool node_dependent(const Cell* value);

// map! look-up: the key cell of the entry whose key equals `key` (removed
// entries included: check the value cell after it), or nullptr; valid until
// the next allocation. *hash_out receives the key's hash. A key of narrow
// text is hashed once and compared a word at a time here, any other key goes
// to hashtable::find.
Cell* find_in_map(uint32_t table, const Cell* key, bool case_sensitive, uint32_t* hash_out = nullptr);

// Gives the hash tables these operations (runs with the datatype registration).
void install();

}  // namespace kiv::hash_values
