// Hash tables: one open-addressing design for every keyed lookup of the
// runtime, and the value hashes they use.
//
// Users: the index of a hash! value (type 0), the keys of a map! (type 1), the
// symbol table's name index and every context's word table (type 2), and
// integer-keyed tables keyed by node (type 3 and above; the ownership table
// is type 4 with three value cells). The collector's relocation map uses the
// same probing in C-heap memory (RelocationMap below).
//
// Invariants the rest of the runtime relies on:
//   - A table is a node. Its record, flags, keys and other parts are series,
//     so the collector moves them like any other; buckets hold small integers
//     (positions, indexes, byte offsets), never addresses.
//   - A table operation never starts a collection: it suspends collection
//     while it allocates, so the series it makes stay alive until they are
//     linked into the record. A raw pointer returned by a table operation
//     (put_int, get_int) is valid until the caller's next allocation.
//   - The caller keeps the table node (and the value block it indexes)
//     reachable: in a cell the collector marks, or in a marked root.
//   - Every hash! and map! key is hashed without case (KeyOps below), so that
//     a case-sensitive and a case-insensitive look-up share one probe
//     sequence; the case flag only decides the equality test.
//   - The hash seed and the table key are fixed before the first table is
//     made and never change.
//   - Keys that programs supply (hash! and map! keys, symbol names, context
//     words) are hashed under a secret key drawn at start-up (HashKey below),
//     so that a set of keys that collide cannot be computed in advance; no
//     order that a program sees depends on it (map!, hash! and contexts keep
//     their keys in insertion order beside the buckets).
//
// Record: a 44-byte series of eleven 32-bit fields (Record below). Buckets:
// a power of two, at least 4. Flags: 2 bits per bucket, 16 buckets to a 32-bit
// word, bucket i in word i / 16 at bits 2 * (i % 16):
//     10  empty      01  deleted      00  occupied
// (a new flags series is filled with bytes 0xAA: every bucket empty).
// Probing: bucket = hash & (buckets - 1), then steps of 1, 2, 3, ... buckets
// (triangular probing visits every bucket of a power-of-two table once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/series.h"

namespace kiv::hashtable {

// Table types (the record's type field).
enum Type : uint32_t {
    HASH = 0,       // hash! index: key = position of a value in the block
    MAP = 1,        // map! keys: key = position of a key cell in the pair block
    WORDS = 2,      // symbol names (value size 1) or context words (value size 2)
    INTEGER = 3,    // node-keyed tables; 3 and above
    OWNERSHIP = 4,  // the ownership table: integer keys, three value cells
};

struct Record {
    uint32_t live;      // keys present (hash!: indexed values)
    uint32_t index;     // hash!: node of the position index (bucket per value, -1 when none)
                        // types >= 3: entry size in bytes, (value cells + 1) x 16
                        // type 2: value size (1 symbol names, 2 context words)
    uint32_t chains;    // hash!: node of the duplicate chains
    uint32_t flags;     // node of the bucket flags
    uint32_t keys;      // node of the bucket keys (one 32-bit entry per bucket)
    uint32_t values;    // node of the value block
    uint32_t occupied;  // live plus deleted buckets
    uint32_t buckets;   // bucket count
    uint32_t upper;     // occupied limit that triggers growth
    uint32_t type;
    uint32_t stamp;     // 0, or 1 + node-compaction count when the keys were hashed
};
static_assert(sizeof(Record) == 44, "the table record is eleven 32-bit fields");

// The record of a table (valid until the next allocation).
inline Record* record(Off table) {
    return reinterpret_cast<Record*>(buffer_of(table)->head_ptr());
}

// ---- Hashing ------------------------------------------------------------------

// The process-wide seed of murmur3. Set once at start-up by the random-number
// initialisation, before the first table is made.
extern uint32_t seed;
void set_seed(uint32_t value);

// The murmur3 finaliser.
inline uint32_t mix32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return x;
}
uint32_t murmur3(const void* data, size_t length);  // x86 32-bit variant, seeded
// murmur3 of the bytes with ASCII A-Z taken as a-z (symbol names).
uint32_t murmur3_lower_ascii(const void* data, size_t length);
// The n bytes are equal with ASCII A-Z taken as a-z: symbol names that are
// the same word.
bool same_ascii_case_insensitive(const uint8_t* a, const uint8_t* b, uint32_t n);
// The hash of a symbol! cell's name (name_hash), the same for every key
// table.
uint32_t symbol_hash(const Cell* symbol);
uint32_t round_pow2(uint32_t n);  // smallest power of two >= n (1 for 0)
// One 32-bit block step of murmur3 (for hashes built a unit at a time);
// inline because string keys run it once per character.
inline uint32_t murmur3_step(uint32_t h, uint32_t k) {
    k *= 0xCC9E2D51u;
    k = (k << 15) | (k >> 17);
    k *= 0x1B873593u;
    h ^= k;
    h = (h << 13) | (h >> 19);
    return h * 5 + 0xE6546B64u;
}

// ---- Keyed hashes of program keys ---------------------------------------------------
//
// Strings and bytes go through SipHash-1-3 under the process's key, integers
// (and symbol ids of words) through a keyed multiply-xorshift mixer. Hashes
// are 32 bits: the two halves of the 64-bit result folded together.

struct HashKey {
    uint64_t k0, k1;
};
// The process-wide key. Set once at start-up by the random-number
// initialisation (from getrandom), before the first table is made.
extern HashKey key;
void set_key(HashKey value);

// Unaligned loads of 8 and 4 bytes (word-at-a-time hashing and comparing).
inline uint64_t load64(const void* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint32_t load32(const void* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint64_t rotl64(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// SipHash-1-3 state: one round per 8-byte block, three to finish.
struct Sip {
    uint64_t v0, v1, v2, v3;
    explicit Sip(const HashKey& k)
        : v0(k.k0 ^ 0x736F6D6570736575ull),
          v1(k.k1 ^ 0x646F72616E646F6Dull),
          v2(k.k0 ^ 0x6C7967656E657261ull),
          v3(k.k1 ^ 0x7465646279746573ull) {}
    [[gnu::always_inline]] void round() {
        v0 += v1;
        v1 = rotl64(v1, 13);
        v1 ^= v0;
        v0 = rotl64(v0, 32);
        v2 += v3;
        v3 = rotl64(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl64(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl64(v1, 17);
        v1 ^= v2;
        v2 = rotl64(v2, 32);
    }
    [[gnu::always_inline]] void block(uint64_t m) {
        v3 ^= m;
        round();
        v0 ^= m;
    }
    // Takes the last block (which must encode the length) and gives the hash.
    [[gnu::always_inline]] uint32_t finish(uint64_t last) {
        block(last);
        v2 ^= 0xFF;
        round();
        round();
        round();
        const uint64_t h = v0 ^ v1 ^ v2 ^ v3;
        return uint32_t(h ^ (h >> 32));
    }
};

// SipHash-1-3 of bytes under a key (`lower`: ASCII A-Z taken as a-z).
uint32_t sip_bytes(const HashKey& k, const void* data, size_t length, bool lower = false);
// The same under the process's key.
inline uint32_t keyed_bytes(const void* data, size_t length) { return sip_bytes(key, data, length); }

// The keyed mixer of a 32-bit key (integers, chars, symbol ids).
inline uint32_t mix_keyed(const HashKey& k, uint32_t x) {
    uint64_t v = (uint64_t(x) ^ k.k0) * (k.k1 | 1);
    v ^= v >> 29;
    v *= 0xBF58476D1CE4E5B9ull;
    v ^= v >> 32;
    return uint32_t(v);
}
inline uint32_t key_mix32(uint32_t x) { return mix_keyed(key, x); }

// The hash of a symbol name (ASCII case folded) under a key: names of up to
// 16 bytes (nearly every word) through two keyed 64x64->128-bit multiplies
// of their bytes, longer ones through SipHash. Both depend on every byte,
// the length and the whole key, so colliding names cannot be chosen without
// the key; the short path costs a fraction of SipHash's rounds, and start-up
// interns well over a thousand names.
uint32_t keyed_name_hash(const HashKey& k, const void* data, size_t length);
// The same under the process's key (the symbol table's hash).
inline uint32_t name_hash(const void* data, size_t length) { return keyed_name_hash(key, data, length); }

// ---- Collector link ---------------------------------------------------------------
//
// The collector installs these once. Until then: the node-compaction count is
// 0, no collection is running, and mark() does nothing.
struct CollectorLink {
    uint32_t (*compaction_count)() = nullptr;      // collections that compacted node frames
    bool (*collecting)() = nullptr;                // true while a collection runs
    bool (*set_node_compaction)(bool on) = nullptr;  // returns the previous setting
    // Marks the node held at *ref (rewriting *ref first when the node was
    // relocated); true when the node was not marked before. Null is skipped.
    bool (*mark_node)(Off* ref) = nullptr;
    // Marks what every cell of [first, end) refers to, by type.
    void (*mark_cells)(Cell* first, Cell* end) = nullptr;
};
void connect_collector(const CollectorLink& link);

// Keys of hash! and map! tables. The table knows nothing of value layouts:
// the value layer installs how a key hashes (always without case, so that
// case-sensitive and case-insensitive look-ups share one probe sequence), how
// two keys compare, and which keys hash by a node address (their tables are
// rehashed after node compaction). Until installed, a key is its type and
// payload.
struct KeyOps {
    uint32_t (*hash)(const Cell* key);
    bool (*equal)(const Cell* a, const Cell* b, bool case_sensitive);
    bool (*node_dependent)(const Cell* key);
};
void set_key_ops(const KeyOps& ops);
bool keys_equal(const Cell* a, const Cell* b, bool case_sensitive);

// The symbol table (type 2, value size 1) whose aliases give canonical symbol
// ids. The location is read at each use, so it follows the node when the
// collector relocates it. Until registered, every symbol is its own canonical.
void register_symbol_table(const Off* location);
uint32_t canonical_symbol(uint32_t id);
// The symbol block's cells and their count, for loops that compare many
// canonical ids (null and 0 until a table is registered). Valid until the
// next allocation.
const Cell* symbol_cells(uint32_t* count);
// canonical_symbol read from what symbol_cells gave.
inline uint32_t canonical_in(const Cell* symbols, uint32_t count, uint32_t id) {
    if (id == 0 || id > count) return id;
    int32_t alias = int32_t(symbols[id - 1].w1);
    return alias > 0 ? uint32_t(alias) : id;
}

// ---- Creating and copying -----------------------------------------------------------

// A table for `size` keys. value_block: the block to index (hash!, map!, the
// symbol block) or 0 to create one (context words, integer keys). With a block,
// its values are put (every value for hash!, every key for map!, every symbol
// or word for type 2). value_cells: type 2 value size (1 or 2); types >= 3 the
// value cells per entry.
Off init(uint32_t size, Off value_block, uint32_t type, uint32_t value_cells);
// hash! and map!: a new table over new_block with copies of the record, flags,
// keys and (hash!) position index and chains.
Off copy(Off table, Off new_block);
// Type 2: a new table with copies of the record, flags, keys and word series
// (the caller re-points the copied words at their new context).
Off copy_words(Off table);
// Zero counts, every bucket empty; hash!: index and chains emptied; types >= 3:
// entries dropped.
void clear(Off table);
// Nothing to do: the series are reclaimed by the collector.
inline void destroy(Off) {}
// Grows to hold at least `request` keys, rehashing every key.
void resize(Off table, uint32_t request);

// ---- hash! and map! --------------------------------------------------------------------
//
// Positions are 0-based cell indexes from the value block's head. The value
// at a position must already be in the block when it is put.

// Indexes the value at `pos`.
//   hash!: every value is indexed; a value equal (without case) to one already
//   present joins its duplicate chain. Returns the lowest position of an equal
//   value indexed before, or -1. A position already indexed is re-indexed.
//   map!: when an equal key (under case_sensitive) is indexed, nothing is
//   added and its position is returned; when that entry was removed (value
//   cell header 0) it counts as live again and the caller writes its value.
//   Returns -1 when the key was added. known_hash: the key's hash as find
//   gave it (map!: saves hashing the key twice when a missing key is added).
int32_t put(Off table, uint32_t pos, bool case_sensitive = false, const uint32_t* known_hash = nullptr);
// Puts every value from `start`, stepping by `step` (2 for map! keys). For a
// map!, a key equal to one already put hands its value to that entry and its
// own pair is marked removed (value header 0).
void put_all(Off table, uint32_t start, uint32_t step);

// Looks a key up. hash!: the lowest position holding an equal value; map!:
// the position of the key cell (removed entries included: check the value
// header). -1 when absent. map!: *hash_out (when given) receives the key's hash.
int32_t find(Off table, const Cell* key, bool case_sensitive = false, uint32_t* hash_out = nullptr);

// map!: find's probe walk for a caller that compares its kind of key faster
// than the installed equality. `hash` is the key's hash as the key operations
// give it; match(cell) sees the key cell of each occupied bucket on the probe
// sequence until it answers true, and that key cell is returned (removed
// entries included; valid until the next allocation), or nullptr. match must
// not allocate.
void refresh_stale(Off table);  // the rehash find does first when node-address keys went stale
template <class Match>
Cell* find_map_with(Off table, uint32_t hash, Match&& match) {
    const Record* r = record(table);
    if (r->stamp) [[unlikely]] {
        refresh_stale(table);
        r = record(table);
    }
    if (r->type != MAP) return nullptr;
    const uint32_t* f = reinterpret_cast<const uint32_t*>(buffer_of(r->flags)->head_ptr());
    const uint32_t* keys = reinterpret_cast<const uint32_t*>(buffer_of(r->keys)->head_ptr());
    Cell* base = buffer_of(r->values)->head_cell();
    uint32_t buckets = r->buckets, mask = buckets - 1, b = hash & mask;
    for (uint32_t step = 0; step < buckets;) {
        uint32_t fl = (f[b >> 4] >> ((b & 15) << 1)) & 3;
        if (fl & 2) return nullptr;  // empty
        if (!(fl & 1)) {             // occupied, not deleted
            Cell* c = base + keys[b];
            if (match(c)) return c;
        }
        ++step;
        b = (b + step) & mask;
    }
    return nullptr;
}
// hash!: the lowest position >= from holding an equal value (last: the
// highest position <= from), or -1.
int32_t find_from(Off table, const Cell* key, bool case_sensitive, uint32_t from, bool last = false);

// Every match of a key, one by one: find_first, then find_next until -1. The
// table must not change in between.
struct Cursor {
    uint32_t hash;
    uint32_t bucket;
    uint32_t step;
    uint32_t chain;   // hash!: chain being walked (0: none)
    uint32_t member;  // next chain member
    uint32_t state;   // 0 fresh, 1 walking, 2 done
};
int32_t find_first(Off table, const Cell* key, bool case_sensitive, Cursor& cursor);
int32_t find_next(Off table, const Cell* key, bool case_sensitive, Cursor& cursor);

// hash!: the value at `pos` leaves the table (its chain, or its bucket is
// marked deleted); positions do not shift. False when it was not indexed.
bool remove_position(Off table, uint32_t pos);
// map!: marks the entry of `key` removed (value cell header 0, live count
// down by one). False when the key is absent or already removed.
bool remove_key(Off table, const Cell* key, bool case_sensitive = false);

// hash! block changes. Call delete_range before the values leave the block:
// the run [pos, pos + count) (clipped to the block) leaves the table and the
// later positions shift down; removing every value resets the table.
void delete_range(Off table, uint32_t pos, uint32_t count);
// Call after `count` values were inserted at `pos`: later positions shift up
// and the new values are put. Above 30,000 values it does nothing and returns
// true: the caller rebuilds the table (reindex(table, 0, ALL)).
bool insert_values(Off table, uint32_t pos, uint32_t count);
// Values moved inside the block: the run of `count` values that was at `from`
// now starts at `to` (positions after the move).
void move(Off table, uint32_t from, uint32_t to, uint32_t count);
// Values of [pos, pos + count) changed in place (poke, swap, reverse, sort):
// they leave the table and are put again. With count ALL, every indexed
// position from pos on leaves (the block may have shrunk) and the values from
// pos to the block's tail are put.
constexpr uint32_t ALL = 0xFFFFFFFFu;
void reindex(Off table, uint32_t pos, uint32_t count);

// ---- Type 2: symbol names and context words -------------------------------------------------

// Symbol table: the 1-based id of the symbol named by `length` bytes of UTF-8.
// Exact look-ups match byte for byte; any_case look-ups also take the first
// match that differs only in ASCII case. When absent a symbol! cell is
// appended to the symbol block (alias: the canonical id of the first case
// variant, or -1; word 3: a byte series with the name and a NUL after its
// tail) and its id is returned.
uint32_t find_string(Off table, const uint8_t* utf8, uint32_t length, bool any_case);
// Context words: the 0-based index of the word for `symbol` (compared by
// canonical id when case_insensitive, else exactly), or -1. When absent and
// context is not 0, a word! cell (context, symbol, index) is appended to the
// word series, indexed, and its index stored in *added.
// A context's word table made for at most SMALL_WORDS words (init with
// value_cells 2 and no value block) has no index (no buckets) until a word
// past that many is added: its look-ups scan the words.
constexpr uint32_t SMALL_WORDS = 16;
// The scan of a small word table, also used by callers that hold the words
// of a small context: the 0-based index of the first word whose symbol is
// `symbol` (case_insensitive: either it or a word of the same canonical id),
// or -1. It meets the word the index's probe would: case variants share one
// probe sequence and enter it in order of addition (words are never
// removed), so the probe also meets the earliest match.
int32_t scan_symbols(const Cell* words, uint32_t n, uint32_t symbol, bool case_insensitive);
int32_t find_symbol(Off table, uint32_t symbol, bool case_insensitive, Off context,
                    int32_t* added = nullptr);

// ---- Types 3 and above: node keys -------------------------------------------------------------
//
// Entries live in the table's own cell series: a header cell (unset! with the
// key in word 1; header 0 once removed) followed by the value cells.

// The value cells of the key's entry, made (value cells unset!) when absent.
Cell* put_int(Off table, Off key);
// The value cells of the key's entry, or nullptr.
Cell* get_int(Off table, Off key);
// Removes the key's entry (its value cells become unset!). False when absent.
bool remove_int(Off table, Off key);

// ---- Collector hooks ---------------------------------------------------------------------

// Marks a table held at *ref: the record, its flags and keys; hash!: the index,
// chains and every chain; types >= 3: the key node of every live entry (with
// its cells when it holds cells); last the value block with its cells.
void mark(Off* ref);
// Types >= 3, during a collection after marking: drops entries whose key
// series is unmarked, or (type 4) whose owner's context is unmarked.
void purge(Off table);

// ---- Relocation map (collector only) ------------------------------------------------------------
//
// Old node -> new node, in tracked-heap memory for the span of one collection.
struct RelocationMap {
    uint32_t live;
    uint32_t* flags;
    uint32_t* entries;  // key, value pairs
    uint32_t occupied;
    uint32_t buckets;
    uint32_t upper;
};
RelocationMap* relocation_create(uint32_t size);
void relocation_put(RelocationMap* map, Off from, Off to);
Off relocation_get(const RelocationMap* map, Off from);  // 0 when absent
void relocation_destroy(RelocationMap* map);

}  // namespace kiv::hashtable
