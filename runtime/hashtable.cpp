#include "runtime/hashtable.h"

#include <cstring>

#include "runtime/case_fold.h"
#include "runtime/error.h"
#include "runtime/lowlevel.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace kiv::hashtable {

uint32_t seed = 0x9747B28Cu;
// A fixed key until start-up draws the process's own (tests made before
// that, and tools that never draw one, still hash consistently).
HashKey key = {0x0706050403020100ull, 0x0F0E0D0C0B0A0908ull};

namespace {

CollectorLink gc{};
const Off* symbol_table_ref = nullptr;

constexpr uint32_t NONE = 0xFFFFFFFFu;
constexpr uint32_t EMPTY_BIT = 2;
constexpr uint32_t DELETED_BIT = 1;
constexpr uint32_t MAX_BUCKETS = 1u << 28;  // keys of 1 GiB: beyond any real table
constexpr uint32_t INSERT_LIMIT = 30000;    // insert_values above this asks for a rebuild

// ---- Guards -------------------------------------------------------------------

// Table operations allocate several series before linking them into the
// record; they run under memory::CollectionPause so that no collection runs
// in between, and under NoNodeCompaction below.
struct NoNodeCompaction {
    bool saved = false;
    NoNodeCompaction() {
        if (gc.set_node_compaction) saved = gc.set_node_compaction(false);
    }
    ~NoNodeCompaction() {
        if (gc.set_node_compaction) gc.set_node_compaction(saved);
    }
    NoNodeCompaction(const NoNodeCompaction&) = delete;
    NoNodeCompaction& operator=(const NoNodeCompaction&) = delete;
};

[[noreturn]] void out_of_range(uint32_t pos) {
    fire({"script", "out-of-range"}, Cell{TYPE_INTEGER, 0, pos, 0});
}

uint32_t current_stamp() { return 1 + (gc.compaction_count ? gc.compaction_count() : 0); }
bool collecting() { return gc.collecting && gc.collecting(); }

// ---- Series access ---------------------------------------------------------------

Record* rec(Off table) { return reinterpret_cast<Record*>(buffer_of(table)->head_ptr()); }
uint32_t* words(Off node) { return reinterpret_cast<uint32_t*>(buffer_of(node)->head_ptr()); }
Cell* cells(Off node) { return buffer_of(node)->head_cell(); }
uint32_t word_count(Off node) { return buffer_of(node)->byte_count() >> 2; }
uint32_t cell_count(Off node) { return buffer_of(node)->byte_count() >> 4; }

// A series of `count` 32-bit entries, all of them in use.
Off alloc_words(uint32_t count) {
    Off node = memory::alloc_series(count ? count : 1, 4, 0);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + count * 4;
    return node;
}

uint32_t flag_words(uint32_t buckets) { return (buckets + 15) / 16; }

Off alloc_flags(uint32_t buckets) {
    uint32_t bytes = flag_words(buckets) * 4;
    Off node = memory::alloc_bytes_filled(bytes, 0xAA);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + bytes;
    return node;
}

void fill_flags(Off node) {
    SeriesBuffer* b = buffer_of(node);
    std::memset(b->head_ptr(), 0xAA, b->byte_count());
}

// ---- Bucket flags -------------------------------------------------------------------

inline uint32_t flag_of(const uint32_t* f, uint32_t i) { return (f[i >> 4] >> ((i & 15) << 1)) & 3; }
inline bool is_empty(const uint32_t* f, uint32_t i) { return flag_of(f, i) & EMPTY_BIT; }
inline bool is_live(const uint32_t* f, uint32_t i) { return flag_of(f, i) == 0; }
inline void set_occupied(uint32_t* f, uint32_t i) { f[i >> 4] &= ~(3u << ((i & 15) << 1)); }
inline void set_deleted(uint32_t* f, uint32_t i) {
    uint32_t s = (i & 15) << 1;
    f[i >> 4] = (f[i >> 4] & ~(3u << s)) | (DELETED_BIT << s);
}

// Fills bucket b: an empty bucket raises the occupied count, a deleted one
// was counted already.
inline void occupy(Record* r, uint32_t* f, uint32_t b) {
    if (is_empty(f, b)) ++r->occupied;
    set_occupied(f, b);
}

struct Probe {
    uint32_t found;  // bucket holding the key, or NONE
    uint32_t slot;   // where an insertion goes when not found (NONE: no room)
};

// Searches from the hash's home bucket until an empty bucket or a key that
// `match` accepts; deleted buckets are passed over. An insertion takes the
// last deleted bucket passed, else the empty bucket. `match` must not allocate.
template <class Match>
Probe probe(const uint32_t* f, const uint32_t* keys, uint32_t buckets, uint32_t hash, Match&& match) {
    uint32_t mask = buckets - 1, i = hash & mask, deleted = NONE;
    for (uint32_t step = 0; step < buckets;) {
        uint32_t fl = flag_of(f, i);
        if (fl & EMPTY_BIT) return {NONE, deleted != NONE ? deleted : i};
        if (fl & DELETED_BIT)
            deleted = i;
        else if (match(keys[i]))
            return {i, NONE};
        ++step;
        i = (i + step) & mask;
    }
    return {NONE, deleted};
}

// The first empty bucket on the key's probe sequence (rebuilds: no deleted
// buckets, no equal keys).
uint32_t free_bucket(const uint32_t* f, uint32_t buckets, uint32_t hash) {
    uint32_t mask = buckets - 1, i = hash & mask;
    for (uint32_t step = 0; !(flag_of(f, i) & EMPTY_BIT);) {
        ++step;
        i = (i + step) & mask;
    }
    return i;
}

uint32_t upper_bound_for(uint32_t type, uint32_t buckets) {
    double u = buckets * 0.77;
    if (type != HASH) u += 0.5;
    return static_cast<uint32_t>(u);
}

uint32_t initial_buckets(uint32_t size) {
    if (size < 4) size = 4;
    uint64_t b = static_cast<uint64_t>(size / 0.77);
    if (b > MAX_BUCKETS) fire({"internal", "no-memory"});
    uint32_t n = round_pow2(static_cast<uint32_t>(b));
    return n < 4 ? 4 : n;
}

// ---- Symbol names ---------------------------------------------------------------------

// UTF-8 name of a symbol! cell (word 3: a byte series holding the name).
struct Bytes {
    const uint8_t* at;
    uint32_t count;
};
Bytes name_of(const Cell* symbol) {
    const SeriesBuffer* b = buffer_of(symbol->w3);
    return {b->head_ptr(), b->byte_count()};
}

inline uint8_t lower_ascii(uint8_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// ---- Keys of hash! and map! tables ----------------------------------------------------------
//
// Until the value layer installs its operations (set_key_ops), a key is its
// type and payload: equal when both match, hashed over them.
uint32_t identity_hash(const Cell* c) {
    uint32_t w[4] = {c->type(), c->w1, c->w2, c->w3};
    return keyed_bytes(w, sizeof w);
}
bool identity_equal(const Cell* a, const Cell* b, bool) {
    return a->type() == b->type() && a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
}
bool always_node_dependent(const Cell*) { return true; }

KeyOps key_ops{identity_hash, identity_equal, always_node_dependent};

inline uint32_t hash_value(const Cell* c) { return key_ops.hash(c); }

// ---- hash! parts: position index and duplicate chains ---------------------------------------------
//
// Chains series: entry 0 heads the list of free entries; entry c >= 1 holds
// the node of chain c (a series of positions in ascending order) or, when
// free, (next free << 1) | 1. A bucket whose values have duplicates holds
// the key -c.

uint32_t index_count(const Record* r) { return word_count(r->index); }
uint32_t* index_words(const Record* r) { return words(r->index); }

uint32_t chain_number(uint32_t key) { return uint32_t(-int32_t(key)); }
Off chain_node(const Record* r, uint32_t c) { return words(r->chains)[c]; }
uint32_t chain_first(const Record* r, uint32_t key) { return words(chain_node(r, chain_number(key)))[0]; }

// Lowest entry index in the chain that is >= pos.
uint32_t chain_lower_bound(const uint32_t* w, uint32_t n, uint32_t pos) {
    uint32_t lo = 0, hi = n;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if (w[mid] < pos)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// A new chain holding a and b (a < b); returns its number.
uint32_t new_chain(Off table, uint32_t a, uint32_t b) {
    Off chain = alloc_words(2);
    uint32_t* cw = words(chain);
    cw[0] = a;
    cw[1] = b;
    Record* r = rec(table);
    uint32_t* ch = words(r->chains);
    uint32_t free_head = ch[0] >> 1;
    if (free_head) {
        ch[0] = ch[free_head];
        ch[free_head] = chain;
        return free_head;
    }
    uint32_t c = word_count(r->chains);
    series::append_entry(r->chains, chain);
    return c;
}

void free_chain(Record* r, uint32_t c) {
    uint32_t* ch = words(r->chains);
    ch[c] = ch[0];
    ch[0] = (c << 1) | 1;
}

void chain_insert(Off chain, uint32_t pos) {
    uint32_t n = word_count(chain);
    uint32_t i = chain_lower_bound(words(chain), n, pos);
    if (i == n)
        series::append_entry(chain, pos);
    else
        series::insert_int(buffer_of(chain), pos, i + 1);
}

// The index holds at least n entries (new ones -1).
void ensure_index(Off table, uint32_t n) {
    Off index = rec(table)->index;
    uint32_t have = word_count(index);
    if (have >= n) return;
    SeriesBuffer* b = buffer_of(index);
    uint32_t add = n - have;
    series::reserve_tail(b, uint64_t(add) * 4);
    uint32_t* w = words(index);
    for (uint32_t i = have; i < n; ++i) w[i] = NONE;
}

Cell* block_cell(const Record* r, uint32_t pos) { return cells(r->values) + pos; }

// ---- Hash of a stored key -------------------------------------------------------------------

uint32_t key_hash(const Record* r, uint32_t key) {
    switch (r->type) {
        case HASH: {
            uint32_t pos = int32_t(key) >= 0 ? key : chain_first(r, key);
            return hash_value(block_cell(r, pos));
        }
        case MAP:
            return hash_value(block_cell(r, key));
        case WORDS:
            if (r->index == 1) return symbol_hash(block_cell(r, key));
            return key_mix32(canonical_symbol(block_cell(r, key)->w2));
        default: {
            const Cell* h = reinterpret_cast<const Cell*>(buffer_of(r->values)->head_ptr() + key);
            return mix32(h->w1);
        }
    }
}

// ---- Rebuilding -----------------------------------------------------------------------------

// Rehashes every key into a fresh set of `buckets` buckets, dropping deleted
// marks. Keys go in in place order (their order in the value block) where
// that order is known, so that case variants keep their probe order. Tables
// with node keys also drop their removed entries.
void rebuild(Off table, uint32_t buckets) {
    memory::CollectionPause no_collect;
    NoNodeCompaction no_compaction;
    if (buckets < 4) buckets = 4;
    // Never fewer buckets than keys to place (a probe must meet an empty bucket).
    uint32_t keys_to_place = rec(table)->type == WORDS ? cell_count(rec(table)->values) : rec(table)->occupied;
    while (buckets <= keys_to_place && buckets < MAX_BUCKETS) buckets *= 2;
    if (buckets > MAX_BUCKETS) fire({"internal", "no-memory"});
    Off nflags = alloc_flags(buckets);
    Off nkeys = alloc_words(buckets);
    Record* r = rec(table);
    Off nvalues = 0;
    if (r->type >= INTEGER) {
        uint32_t entry_cells = r->index / 16;
        uint32_t live = r->live;
        nvalues = memory::alloc_cells(live * entry_cells + entry_cells * 4);
        r = rec(table);
    }
    // From here on nothing allocates: the pointers stay valid.
    uint32_t* of = r->flags ? words(r->flags) : nullptr;
    uint32_t* ok = r->keys ? words(r->keys) : nullptr;
    uint32_t* nf = words(nflags);
    uint32_t* nk = words(nkeys);
    uint32_t old_buckets = r->buckets;
    uint32_t occupied = 0;
    auto insert = [&](uint32_t key, uint32_t hash) {
        uint32_t j = free_bucket(nf, buckets, hash);
        nk[j] = key;
        set_occupied(nf, j);
        ++occupied;
        return j;
    };
    switch (r->type) {
        case HASH: {
            // Place each bucket's key once, when its first position comes up;
            // then point every position at its new bucket.
            uint32_t* idx = index_words(r);
            uint32_t n = index_count(r);
            for (uint32_t pos = 0; pos < n; ++pos) {
                uint32_t b = idx[pos];
                if (b == NONE) continue;
                uint32_t key = ok[b];
                if (int32_t(key) >= 0 ? key == pos : chain_first(r, key) == pos)
                    insert(key, hash_value(block_cell(r, pos)));
            }
            for (uint32_t j = 0; j < buckets; ++j) {
                if (!is_live(nf, j)) continue;
                uint32_t key = nk[j];
                if (int32_t(key) >= 0) {
                    idx[key] = j;
                    continue;
                }
                Off chain = chain_node(r, chain_number(key));
                const uint32_t* cw = words(chain);
                for (uint32_t i = 0, m = word_count(chain); i < m; ++i) idx[cw[i]] = j;
            }
            break;
        }
        case WORDS: {
            for (uint32_t pos = 0, n = cell_count(r->values); pos < n; ++pos) insert(pos, key_hash(r, pos));
            r->live = occupied;
            break;
        }
        case MAP: {
            for (uint32_t b = 0; b < old_buckets; ++b)
                if (is_live(of, b)) insert(ok[b], key_hash(r, ok[b]));
            break;
        }
        default: {
            // Copy the live entries, in entry order, into the new cell series.
            uint32_t size = r->index;
            SeriesBuffer* src = buffer_of(r->values);
            SeriesBuffer* dst = buffer_of(nvalues);
            const uint8_t* s = src->head_ptr();
            uint8_t* d = dst->head_ptr();
            uint32_t out = 0;
            for (uint32_t off = 0; off + size <= src->byte_count(); off += size) {
                const Cell* h = reinterpret_cast<const Cell*>(s + off);
                if (h->header == 0) continue;
                std::memcpy(d + out, s + off, size);
                insert(out, mix32(h->w1));
                out += size;
            }
            dst->tail = dst->head + out;
            r->values = nvalues;
            r->live = occupied;
            break;
        }
    }
    r->flags = nflags;
    r->keys = nkeys;
    r->buckets = buckets;
    r->upper = upper_bound_for(r->type, buckets);
    r->occupied = occupied;
    if (r->stamp) r->stamp = current_stamp();
}

uint32_t grown_buckets(uint32_t type, uint64_t request) {
    uint64_t n;
    switch (type) {
        case HASH: n = request * 3 / 2; break;
        case WORDS: n = request * 16; break;
        default: n = request; break;  // map! and node keys
    }
    if (n > MAX_BUCKETS) fire({"internal", "no-memory"});
    n = round_pow2(static_cast<uint32_t>(n));
    return n < 4 ? 4 : static_cast<uint32_t>(n);
}

// Called before an insertion: when the occupied count reached the upper
// bound, the table grows (or, with few live keys, is rehashed at about the
// same size to drop its deleted buckets).
void make_room(Off table) {
    Record* r = rec(table);
    if (r->occupied < r->upper || r->buckets == 0) return;
    uint32_t n = r->buckets;
    uint64_t request = (r->type != MAP && r->live < n / 2) ? n - 1 : uint64_t(n) + 1;
    rebuild(table, grown_buckets(r->type, request));
}

// Keys hashed from node addresses are rehashed after node compaction moved
// nodes (not while a collection runs).
void check_stamp(Off table) {
    Record* r = rec(table);
    if (r->stamp && r->stamp != current_stamp() && !collecting()) rebuild(table, r->buckets);
}

// ---- hash! and map! internals ---------------------------------------------------------------------

bool remove_position_in(Off table, uint32_t pos) {
    Record* r = rec(table);
    if (pos >= index_count(r)) return false;
    uint32_t* idx = index_words(r);
    uint32_t b = idx[pos];
    if (b == NONE) return false;
    uint32_t* keys = words(r->keys);
    uint32_t key = keys[b];
    if (int32_t(key) >= 0) {
        set_deleted(words(r->flags), b);
    } else {
        uint32_t c = chain_number(key);
        Off chain = chain_node(r, c);
        uint32_t n = word_count(chain);
        uint32_t i = chain_lower_bound(words(chain), n, pos);
        if (i < n && words(chain)[i] == pos) series::remove_bytes(chain, i * 4, 4);
        if (word_count(chain) == 1) {
            keys[b] = words(chain)[0];
            free_chain(r, c);
        }
    }
    idx[pos] = NONE;
    --r->live;
    return true;
}

int32_t put_hash(Off table, uint32_t pos) {
    check_stamp(table);
    Record* r = rec(table);
    if (pos >= cell_count(r->values)) out_of_range(pos);
    if (pos < index_count(r) && index_words(r)[pos] != NONE) remove_position_in(table, pos);
    make_room(table);
    ensure_index(table, pos + 1);
    r = rec(table);
    Cell key = *block_cell(r, pos);
    if (!r->stamp && key_ops.node_dependent(&key)) r->stamp = current_stamp();
    uint32_t h = hash_value(&key);
    const Cell* base = cells(r->values);
    Probe p = probe(words(r->flags), words(r->keys), r->buckets, h, [&](uint32_t k) {
        uint32_t first = int32_t(k) >= 0 ? k : chain_first(r, k);
        return keys_equal(base + first, &key, false);
    });
    if (p.found != NONE) {
        uint32_t k = words(r->keys)[p.found];
        uint32_t first;
        if (int32_t(k) >= 0) {
            first = k;
            uint32_t c = k < pos ? new_chain(table, k, pos) : new_chain(table, pos, k);
            r = rec(table);
            words(r->keys)[p.found] = uint32_t(-int32_t(c));
        } else {
            first = chain_first(r, k);
            chain_insert(chain_node(r, chain_number(k)), pos);
            r = rec(table);
        }
        index_words(r)[pos] = p.found;
        ++r->live;
        return int32_t(first);
    }
    if (p.slot == NONE) {  // no room on the probe sequence: cannot happen below the upper bound
        rebuild(table, grown_buckets(r->type, uint64_t(r->buckets) + 1));
        return put_hash(table, pos);
    }
    words(r->keys)[p.slot] = pos;
    occupy(r, words(r->flags), p.slot);
    index_words(r)[pos] = p.slot;
    ++r->live;
    return -1;
}

int32_t put_map(Off table, uint32_t pos, bool case_sensitive, const uint32_t* known_hash = nullptr) {
    check_stamp(table);
    make_room(table);
    Record* r = rec(table);
    if (pos >= cell_count(r->values)) out_of_range(pos);
    Cell key = *block_cell(r, pos);
    const Cell* base = cells(r->values);
    // A hash the caller's find computed stays valid unless the key hashes by
    // a node address (compaction may have moved it since).
    uint32_t h = known_hash && !key_ops.node_dependent(&key) ? *known_hash : hash_value(&key);
    Probe p = probe(words(r->flags), words(r->keys), r->buckets, h,
                    [&](uint32_t k) { return k == pos || keys_equal(base + k, &key, case_sensitive); });
    if (p.found != NONE) {
        uint32_t k = words(r->keys)[p.found];
        if (k != pos && k + 1 < cell_count(r->values) && base[k + 1].header == 0) ++r->live;  // revived
        return k == pos ? -1 : int32_t(k);
    }
    if (p.slot == NONE) {
        rebuild(table, grown_buckets(r->type, uint64_t(r->buckets) + 1));
        return put_map(table, pos, case_sensitive, known_hash);
    }
    words(r->keys)[p.slot] = pos;
    occupy(r, words(r->flags), p.slot);
    ++r->live;
    return -1;
}

// Does the stored key match? hash!: a bucket's group matches without case
// (its chain members are filtered one by one for case-sensitive look-ups).
[[gnu::always_inline]] inline bool bucket_matches(const Record* r, uint32_t k, const Cell* key,
                                                 bool case_sensitive) {
    if (r->type == HASH) {
        if (int32_t(k) >= 0) return key_ops.equal(block_cell(r, k), key, case_sensitive);
        return key_ops.equal(block_cell(r, chain_first(r, k)), key, false);
    }
    return key_ops.equal(block_cell(r, k), key, case_sensitive);
}

// Shifts every indexed position >= from by delta (hash!), keeping chains sorted.
void shift_positions(Record* r, uint32_t from, int32_t delta) {
    uint32_t* idx = index_words(r);
    uint32_t* keys = words(r->keys);
    for (uint32_t q = from, n = index_count(r); q < n; ++q) {
        uint32_t b = idx[q];
        if (b != NONE && int32_t(keys[b]) >= 0) keys[b] = uint32_t(int32_t(keys[b]) + delta);
    }
    const uint32_t* ch = words(r->chains);
    for (uint32_t c = 1, n = word_count(r->chains); c < n; ++c) {
        if (ch[c] & 1) continue;  // free entry
        uint32_t* cw = words(ch[c]);
        uint32_t m = word_count(ch[c]);
        for (uint32_t i = chain_lower_bound(cw, m, from); i < m; ++i) cw[i] = uint32_t(int32_t(cw[i]) + delta);
    }
}

void reset_hash_parts(Off table) {
    Record* r = rec(table);
    fill_flags(r->flags);
    r->live = 0;
    r->occupied = 0;
    if (r->type == HASH) {
        series::reset_tail(r->index);
        SeriesBuffer* ch = buffer_of(r->chains);
        ch->tail = ch->head + 4;
        words(r->chains)[0] = 1;
    } else if (r->type >= INTEGER) {
        series::reset_tail(r->values);
    }
}

Off new_record() {
    Off node = memory::alloc_bytes(sizeof(Record));
    SeriesBuffer* b = buffer_of(node);
    std::memset(b->head_ptr(), 0, sizeof(Record));
    b->tail = b->head + sizeof(Record);
    return node;
}

// A word! cell bound to a context.
void set_word(Cell* c, Off context, uint32_t symbol, uint32_t index) {
    c->header = TYPE_WORD;
    c->w1 = context;
    c->w2 = symbol;
    c->w3 = index;
}

template <class Visit>
void for_each_entry(Record* r, Visit&& visit) {
    uint32_t size = r->index;
    SeriesBuffer* b = buffer_of(r->values);
    uint8_t* s = b->head_ptr();
    for (uint32_t off = 0; off + size <= b->byte_count(); off += size) visit(reinterpret_cast<Cell*>(s + off), off);
}

}  // namespace

// ---- Hashing ------------------------------------------------------------------------------

void set_seed(uint32_t value) { seed = value; }

bool same_ascii_case_insensitive(const uint8_t* a, const uint8_t* b, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        if (a[i] != b[i] && lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    return true;
}

uint32_t symbol_hash(const Cell* symbol) {
    Bytes n = name_of(symbol);
    return name_hash(n.at, n.count);
}

void set_key(HashKey value) { key = value; }

namespace {
// ASCII A-Z to a-z in each of the 8 bytes of a word at once; other bytes
// (including every byte of 0x80 and above) are kept. A byte is upper case
// when its low 7 bits are at least 'A' and at most 'Z' and its top bit is
// clear: adding 0x80 - 'A' (resp. 0x80 - 'Z' - 1) to the low 7 bits sets a
// byte's top bit exactly when it is >= 'A' (resp. > 'Z'), with no carry out
// of the byte.
inline uint64_t lower_ascii8(uint64_t m) {
    constexpr uint64_t ONES = 0x0101010101010101ull;
    const uint64_t low7 = m & (0x7F * ONES);
    const uint64_t at_least_a = low7 + (0x80 - 'A') * ONES;
    const uint64_t above_z = low7 + (0x80 - 'Z' - 1) * ONES;
    const uint64_t upper = (at_least_a & ~above_z) & ~m & (0x80 * ONES);
    return m | (upper >> 2);
}
}  // namespace

uint32_t sip_bytes(const HashKey& k, const void* data, size_t length, bool lower) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    Sip s(k);
    const size_t blocks = length / 8;
    for (size_t i = 0; i < blocks; ++i, p += 8) {
        uint64_t m;
        std::memcpy(&m, p, 8);
        s.block(lower ? lower_ascii8(m) : m);
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, length & 7);
    if (lower) tail = lower_ascii8(tail);
    return s.finish(tail | uint64_t(length) << 56);
}

namespace {
// The high and low halves of a 64x64-bit product folded together.
inline uint64_t fold_product(uint64_t a, uint64_t b) {
    const unsigned __int128 m = static_cast<unsigned __int128>(a) * b;
    return uint64_t(m) ^ uint64_t(m >> 64);
}
}  // namespace

uint32_t keyed_name_hash(const HashKey& k, const void* data, size_t length) {
    if (length > 16) return sip_bytes(k, data, length, true);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    // Two words that together hold every byte for this length (the loads
    // overlap below 16 bytes; the length, mixed in below, tells them apart).
    uint64_t a = 0, b = 0;
    if (length >= 8) {
        a = load64(p);
        b = load64(p + length - 8);
    } else if (length >= 4) {
        a = load32(p);
        b = load32(p + length - 4);
    } else if (length > 0) {
        a = uint64_t(p[0]) | uint64_t(p[length / 2]) << 8 | uint64_t(p[length - 1]) << 16;
    }
    a = lower_ascii8(a);
    b = lower_ascii8(b);
    constexpr uint64_t S0 = 0xA0761D6478BD642Full, S1 = 0xE7037ED1A0B428DBull;
    const uint64_t x = fold_product(a ^ k.k1 ^ S0, b ^ k.k0 ^ S1);
    const uint64_t h = fold_product(x ^ k.k0 ^ length, (k.k1 ^ S1) | 1);
    return uint32_t(h ^ (h >> 32));
}

namespace {
constexpr uint32_t C1 = 0xCC9E2D51u;
constexpr uint32_t C2 = 0x1B873593u;
inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }
inline uint32_t mix_block(uint32_t h, uint32_t k) { return murmur3_step(h, k); }
template <bool Lower>
uint32_t murmur3_impl(const uint8_t* p, size_t length) {
    uint32_t h = seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; ++i, p += 4) {
        uint32_t k;
        if constexpr (Lower) {
            k = uint32_t(lower_ascii(p[0])) | uint32_t(lower_ascii(p[1])) << 8 |
                uint32_t(lower_ascii(p[2])) << 16 | uint32_t(lower_ascii(p[3])) << 24;
        } else {
            k = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        }
        h = mix_block(h, k);
    }
    uint32_t k = 0;
    auto byte = [](uint8_t b) -> uint32_t { return Lower ? lower_ascii(b) : b; };
    switch (length & 3) {
        case 3: k ^= byte(p[2]) << 16; [[fallthrough]];
        case 2: k ^= byte(p[1]) << 8; [[fallthrough]];
        case 1:
            k ^= byte(p[0]);
            k *= C1;
            k = rotl(k, 15);
            k *= C2;
            h ^= k;
    }
    h ^= static_cast<uint32_t>(length);
    return mix32(h);
}
}  // namespace

uint32_t murmur3(const void* data, size_t length) {
    return murmur3_impl<false>(static_cast<const uint8_t*>(data), length);
}

uint32_t murmur3_lower_ascii(const void* data, size_t length) {
    return murmur3_impl<true>(static_cast<const uint8_t*>(data), length);
}

uint32_t round_pow2(uint32_t n) {
    if (n <= 1) return 1;
    if (n > 0x80000000u) return 0x80000000u;
    return 1u << (32 - __builtin_clz(n - 1));
}

// ---- Links ------------------------------------------------------------------------------------

void connect_collector(const CollectorLink& link) { gc = link; }

void set_key_ops(const KeyOps& ops) { key_ops = ops; }

bool keys_equal(const Cell* a, const Cell* b, bool case_sensitive) { return key_ops.equal(a, b, case_sensitive); }

void register_symbol_table(const Off* location) { symbol_table_ref = location; }

const Cell* symbol_cells(uint32_t* count) {
    if (!symbol_table_ref || !*symbol_table_ref) {
        *count = 0;
        return nullptr;
    }
    const SeriesBuffer* b = buffer_of(rec(*symbol_table_ref)->values);
    *count = b->byte_count() >> 4;
    return b->head_cell();
}

uint32_t canonical_symbol(uint32_t id) {
    uint32_t count;
    const Cell* symbols = symbol_cells(&count);
    return canonical_in(symbols, count, id);
}

// ---- Creating and copying -----------------------------------------------------------------------

Off init(uint32_t size, Off value_block, uint32_t type, uint32_t value_cells) {
    memory::CollectionPause no_collect;
    if (size > MAX_BUCKETS) fire({"internal", "no-memory"});
    if (type == WORDS && size >= 4000) size *= 2;
    // A small context's words get no index until they outgrow SMALL_WORDS.
    const bool given = value_block != 0;
    const bool small = type == WORDS && value_cells == 2 && !given && size <= SMALL_WORDS;
    uint32_t buckets = small ? 0 : initial_buckets(size);
    Off table = new_record();
    Off flags = small ? 0 : alloc_flags(buckets);
    Off keys = small ? 0 : alloc_words(buckets);
    uint32_t index = 0, chains = 0;
    uint32_t room = size < 4 ? 4 : size;
    if (type == HASH) {
        index = memory::alloc_series(room, 4, 0);
        chains = alloc_words(1);
        words(chains)[0] = 1;  // no free entry
    } else if (type == WORDS) {
        index = value_cells == 1 ? 1 : 2;
        if (!value_block) value_block = memory::alloc_cells(room);
    } else if (type >= INTEGER) {
        if (value_cells > 0xFFFFFFu) fire({"internal", "no-memory"});
        index = (value_cells + 1) * 16;
        uint64_t n = uint64_t(room) * (value_cells + 1);
        if (n > 0xFFFFFFFu) fire({"internal", "no-memory"});
        value_block = memory::alloc_cells(static_cast<uint32_t>(n));
    }
    Record* r = rec(table);
    r->index = index;
    r->chains = chains;
    r->flags = flags;
    r->keys = keys;
    r->values = value_block;
    r->buckets = buckets;
    r->upper = small ? 0 : upper_bound_for(type, buckets);
    r->type = type;
    r->stamp = type >= INTEGER ? current_stamp() : 0;
    if (value_block) {
        if (type == HASH)
            put_all(table, 0, 1);
        else if (type == MAP)
            put_all(table, 0, 2);
        else if (type == WORDS && given) {
            // Every symbol or word of the block, in place order, in a table
            // grown by the usual rule until the block fits below its bound.
            uint32_t n = cell_count(rec(table)->values);
            while (upper_bound_for(WORDS, buckets) <= n) buckets = grown_buckets(WORDS, uint64_t(buckets) + 1);
            rebuild(table, buckets);
        }
    }
    return table;
}

Off copy(Off table, Off new_block) {
    memory::CollectionPause no_collect;
    Off copy = series::copy_node(table);
    Record* r = rec(copy);
    Off flags = series::copy_node(r->flags);
    r = rec(copy);
    r->flags = flags;
    Off keys = series::copy_node(r->keys);
    r = rec(copy);
    r->keys = keys;
    if (r->type == HASH) {
        Off index = series::copy_node(r->index);
        rec(copy)->index = index;
        Off chains = series::copy_node(rec(copy)->chains);
        rec(copy)->chains = chains;
        for (uint32_t c = 1, n = word_count(chains); c < n; ++c) {
            uint32_t e = words(chains)[c];
            if (e & 1) continue;
            Off chain = series::copy_node(e);
            words(chains)[c] = chain;
        }
    } else if (r->type >= INTEGER && !new_block) {
        new_block = series::copy_node(r->values);
    }
    rec(copy)->values = new_block;
    return copy;
}

Off copy_words(Off table) {
    memory::CollectionPause no_collect;
    Off copy = series::copy_node(table);
    if (rec(copy)->buckets) {
        Off flags = series::copy_node(rec(copy)->flags);
        rec(copy)->flags = flags;
        Off keys = series::copy_node(rec(copy)->keys);
        rec(copy)->keys = keys;
    }
    Off values = series::copy_node(rec(copy)->values);
    rec(copy)->values = values;
    return copy;
}

void clear(Off table) { reset_hash_parts(table); }

void resize(Off table, uint32_t request) {
    Record* r = rec(table);
    rebuild(table, grown_buckets(r->type, request));
}

// ---- hash! and map! ---------------------------------------------------------------------------

int32_t put(Off table, uint32_t pos, bool case_sensitive, const uint32_t* known_hash) {
    memory::CollectionPause no_collect;
    uint32_t type = rec(table)->type;
    if (type == HASH) return put_hash(table, pos);
    if (type == MAP) return put_map(table, pos, case_sensitive, known_hash);
    return -1;
}

void put_all(Off table, uint32_t start, uint32_t step) {
    memory::CollectionPause no_collect;
    if (step == 0) step = 1;
    uint32_t type = rec(table)->type;
    if (type != HASH && type != MAP) return;
    for (uint32_t pos = start; pos < cell_count(rec(table)->values); pos += step) {
        if (type == HASH) {
            put_hash(table, pos);
            continue;
        }
        int32_t k = put_map(table, pos, true);
        if (k < 0) continue;
        // A repeated key: its value goes to the first entry, its own pair is dropped.
        Record* r = rec(table);
        Cell* base = cells(r->values);
        uint32_t n = cell_count(r->values);
        if (pos + 1 < n) {
            if (uint32_t(k) + 1 < n) {
                // (A removed first entry was counted live again by the put.)
                base[k + 1] = base[pos + 1];
                if (base[k + 1].header == 0) base[k + 1].header = TYPE_UNSET;
            }
            base[pos + 1].header = 0;
        }
    }
}

int32_t find_first(Off table, const Cell* key, bool case_sensitive, Cursor& cursor) {
    Cell k = *key;
    check_stamp(table);
    cursor = Cursor{hash_value(&k), 0, 0, 0, 0, 0};
    return find_next(table, &k, case_sensitive, cursor);
}

int32_t find_next(Off table, const Cell* key, bool case_sensitive, Cursor& cursor) {
    Record* r = rec(table);
    if (r->type != HASH && r->type != MAP) return -1;
    uint32_t mask = r->buckets - 1;
    const uint32_t* f = words(r->flags);
    const uint32_t* keys = words(r->keys);
    for (;;) {
        if (cursor.state == 2) return -1;
        if (cursor.chain) {
            Off chain = chain_node(r, cursor.chain);
            const uint32_t* cw = words(chain);
            uint32_t n = word_count(chain);
            while (cursor.member < n) {
                uint32_t pos = cw[cursor.member++];
                if (!case_sensitive || keys_equal(block_cell(r, pos), key, true)) return int32_t(pos);
            }
            cursor.chain = 0;
        }
        if (cursor.state == 0) {
            cursor.bucket = cursor.hash & mask;
            cursor.step = 0;
            cursor.state = 1;
        } else {
            if (++cursor.step >= r->buckets) {
                cursor.state = 2;
                return -1;
            }
            cursor.bucket = (cursor.bucket + cursor.step) & mask;
        }
        uint32_t b = cursor.bucket;
        uint32_t fl = flag_of(f, b);
        if (fl & EMPTY_BIT) {
            cursor.state = 2;
            return -1;
        }
        if (fl & DELETED_BIT) continue;
        uint32_t k = keys[b];
        if (!bucket_matches(r, k, key, case_sensitive)) continue;
        if (r->type == HASH && int32_t(k) < 0) {
            cursor.chain = chain_number(k);
            cursor.member = 0;
            continue;
        }
        return int32_t(k);
    }
}

int32_t find(Off table, const Cell* key, bool case_sensitive, uint32_t* hash_out) {
    if (rec(table)->type == HASH) return find_from(table, key, case_sensitive, 0, false);
    // map!: the first key on the probe sequence that matches (find_first's
    // answer without the cursor). The key is copied first: it may lie in a
    // buffer that a rehash moves.
    Cell k = *key;
    const Record* r = rec(table);
    if (r->stamp) {
        check_stamp(table);
        r = rec(table);
    }
    if (r->type != MAP) return -1;
    uint32_t h = hash_value(&k);
    if (hash_out) *hash_out = h;
    const uint32_t* f = words(r->flags);
    const uint32_t* keys = words(r->keys);
    const Cell* base = cells(r->values);
    uint32_t buckets = r->buckets, mask = buckets - 1, b = h & mask;
    for (uint32_t step = 0; step < buckets;) {
        uint32_t fl = flag_of(f, b);
        if (fl & EMPTY_BIT) return -1;
        if (!(fl & DELETED_BIT) && keys_equal(base + keys[b], &k, case_sensitive)) return int32_t(keys[b]);
        ++step;
        b = (b + step) & mask;
    }
    return -1;
}

void refresh_stale(Off table) { check_stamp(table); }

int32_t find_from(Off table, const Cell* key, bool case_sensitive, uint32_t from, bool last) {
    Cell k = *key;
    check_stamp(table);
    Record* r = rec(table);
    if (r->type != HASH) {
        Cursor c;
        return find_first(table, &k, case_sensitive, c);
    }
    int64_t best = -1;
    auto consider = [&](uint32_t pos) {
        if (last ? pos <= from && (best < 0 || pos > best) : pos >= from && (best < 0 || pos < best)) best = pos;
    };
    uint32_t mask = r->buckets - 1, b = hash_value(&k) & mask;
    const uint32_t* f = words(r->flags);
    const uint32_t* keys = words(r->keys);
    for (uint32_t step = 0; step < r->buckets; b = (b + ++step) & mask) {
        uint32_t fl = flag_of(f, b);
        if (fl & EMPTY_BIT) break;
        if (fl & DELETED_BIT) continue;
        uint32_t key_b = keys[b];
        if (!bucket_matches(r, key_b, &k, case_sensitive)) continue;
        if (int32_t(key_b) >= 0) {
            consider(key_b);
            continue;
        }
        Off chain = chain_node(r, chain_number(key_b));
        const uint32_t* cw = words(chain);
        uint32_t n = word_count(chain);
        if (!case_sensitive) {
            // Every member is equal: the sorted chain answers directly.
            uint32_t i = chain_lower_bound(cw, n, last ? from + 1 : from);
            if (last) {
                if (from == 0xFFFFFFFFu) i = n;
                if (i > 0) consider(cw[i - 1]);
            } else if (i < n) {
                consider(cw[i]);
            }
            continue;
        }
        for (uint32_t i = 0; i < n; ++i)
            if (keys_equal(block_cell(r, cw[i]), &k, true)) consider(cw[i]);
    }
    return int32_t(best);
}

bool remove_position(Off table, uint32_t pos) {
    memory::CollectionPause no_collect;
    if (rec(table)->type != HASH) return false;
    return remove_position_in(table, pos);
}

bool remove_key(Off table, const Cell* key, bool case_sensitive) {
    Record* r = rec(table);
    if (r->type != MAP) return false;
    Cursor c;
    Cell k = *key;
    for (int32_t pos = find_first(table, &k, case_sensitive, c); pos >= 0;
         pos = find_next(table, &k, case_sensitive, c)) {
        r = rec(table);
        Cell* base = cells(r->values);
        if (uint32_t(pos) + 1 >= cell_count(r->values) || base[pos + 1].header == 0) continue;
        base[pos + 1].header = 0;
        --r->live;
        return true;
    }
    return false;
}

void delete_range(Off table, uint32_t pos, uint32_t count) {
    memory::CollectionPause no_collect;
    Record* r = rec(table);
    if (r->type != HASH) return;
    uint32_t length = cell_count(r->values);
    if (pos >= length || count == 0) return;
    if (count > length - pos) count = length - pos;
    if (pos == 0 && count == length) {
        reset_hash_parts(table);
        return;
    }
    for (uint32_t p = pos; p < pos + count; ++p) remove_position_in(table, p);
    r = rec(table);
    shift_positions(r, pos + count, -int32_t(count));
    uint32_t n = index_count(r);
    if (pos < n) {
        uint32_t end = pos + count < n ? pos + count : n;
        series::remove_bytes(r->index, pos * 4, (end - pos) * 4);
    }
}

bool insert_values(Off table, uint32_t pos, uint32_t count) {
    if (count > INSERT_LIMIT) return true;
    memory::CollectionPause no_collect;
    Record* r = rec(table);
    if (r->type != HASH || count == 0) return false;
    uint32_t n = index_count(r);
    if (pos < n) {
        shift_positions(r, pos, int32_t(count));
        SeriesBuffer* b = buffer_of(r->index);
        series::reserve_tail(b, uint64_t(count) * 4);
        uint32_t* idx = index_words(rec(table));
        std::memmove(idx + pos + count, idx + pos, uint64_t(n - pos) * 4);
        for (uint32_t i = pos; i < pos + count; ++i) idx[i] = NONE;
    }
    for (uint32_t p = pos; p < pos + count; ++p) put_hash(table, p);
    return false;
}

void move(Off table, uint32_t from, uint32_t to, uint32_t count) {
    if (count == 0 || from == to) return;
    uint32_t lo = from < to ? from : to;
    uint64_t hi = uint64_t(from < to ? to : from) + count;
    reindex(table, lo, static_cast<uint32_t>(hi - lo > 0xFFFFFFFEu ? 0xFFFFFFFEu : hi - lo));
}

void reindex(Off table, uint32_t pos, uint32_t count) {
    memory::CollectionPause no_collect;
    Record* r = rec(table);
    if (r->type != HASH) return;
    uint32_t n = index_count(r);
    uint64_t end = count == ALL ? n : uint64_t(pos) + count;
    for (uint32_t p = pos; p < end && p < n; ++p) remove_position_in(table, p);
    r = rec(table);
    uint32_t length = cell_count(r->values);
    if (count == ALL) {
        if (pos < index_count(r)) buffer_of(r->index)->tail = buffer_of(r->index)->head + pos * 4;
        end = length;
    }
    for (uint64_t p = pos; p < end && p < length; ++p) put_hash(table, uint32_t(p));
}

// ---- Type 2 -----------------------------------------------------------------------------------

uint32_t find_string(Off table, const uint8_t* utf8, uint32_t length, bool any_case) {
    memory::CollectionPause no_collect;
    make_room(table);
    Record* r = rec(table);
    uint32_t h = name_hash(utf8, length);
    const Cell* base = cells(r->values);
    uint32_t twin = 0;  // 1-based id of the first case variant met
    Probe p = probe(words(r->flags), words(r->keys), r->buckets, h, [&](uint32_t k) {
        Bytes n = name_of(base + k);
        if (n.count != length) return false;
        if (std::memcmp(n.at, utf8, length) == 0) return true;
        if (!same_ascii_case_insensitive(n.at, utf8, length)) return false;
        if (any_case) return true;
        if (!twin) twin = k + 1;
        return false;
    });
    if (p.found != NONE) return words(r->keys)[p.found] + 1;
    if (p.slot == NONE) {
        rebuild(table, grown_buckets(WORDS, uint64_t(r->buckets) + 1));
        return find_string(table, utf8, length, any_case);
    }
    // The name may lie in a series buffer: copy it before allocating.
    Off name = memory::alloc_bytes(length + 1);
    SeriesBuffer* nb = buffer_of(name);
    std::memmove(nb->head_ptr(), utf8, length);
    nb->head_ptr()[length] = 0;
    nb->tail = nb->head + length;
    r = rec(table);
    uint32_t pos = cell_count(r->values);
    Cell* c = series::alloc_tail_cell(buffer_of(r->values));
    c->header = TYPE_SYMBOL;
    // The alias names the first-interned variant: the twin's own alias if it has one.
    uint32_t alias = 0xFFFFFFFFu;
    if (twin) {
        int32_t a = int32_t(cells(r->values)[twin - 1].w1);
        alias = a > 0 ? uint32_t(a) : twin;
    }
    c->w1 = alias;
    c->w2 = 0;
    c->w3 = name;
    r = rec(table);
    words(r->keys)[p.slot] = pos;
    occupy(r, words(r->flags), p.slot);
    ++r->live;
    return pos + 1;
}

int32_t scan_symbols(const Cell* words, uint32_t n, uint32_t symbol, bool case_insensitive) {
    if (!case_insensitive) {
        for (uint32_t i = 0; i < n; ++i)
            if (words[i].w2 == symbol) return int32_t(i);
        return -1;
    }
    uint32_t count;
    const Cell* symbols = symbol_cells(&count);
    const uint32_t canon = canonical_in(symbols, count, symbol);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t s = words[i].w2;
        if (s == symbol || canonical_in(symbols, count, s) == canon) return int32_t(i);
    }
    return -1;
}

namespace {
// A word table without an index (SMALL_WORDS words at most): its words are
// scanned in order of addition (scan_symbols). The index is built when a
// word past SMALL_WORDS is added.
int32_t find_small_symbol(Off table, uint32_t symbol, bool case_insensitive, Off context, int32_t* added) {
    Record* r = rec(table);
    const uint32_t n = cell_count(r->values);
    const int32_t found = scan_symbols(cells(r->values), n, symbol, case_insensitive);
    if (found >= 0) return found;
    if (!context) return -1;
    if (n >= SMALL_WORDS) {
        rebuild(table, initial_buckets(n + 1));
        return find_symbol(table, symbol, case_insensitive, context, added);
    }
    Cell* c = series::alloc_tail_cell(buffer_of(r->values));
    set_word(c, context, symbol, n);
    ++rec(table)->live;
    if (added) *added = int32_t(n);
    return -1;
}
}  // namespace

int32_t find_symbol(Off table, uint32_t symbol, bool case_insensitive, Off context, int32_t* added) {
    memory::CollectionPause no_collect;
    if (rec(table)->buckets == 0) return find_small_symbol(table, symbol, case_insensitive, context, added);
    if (context) make_room(table);
    Record* r = rec(table);
    uint32_t canon = canonical_symbol(symbol);
    const Cell* base = cells(r->values);
    Probe p = probe(words(r->flags), words(r->keys), r->buckets, key_mix32(canon), [&](uint32_t k) {
        uint32_t s = base[k].w2;
        return case_insensitive ? canonical_symbol(s) == canon : s == symbol;
    });
    if (p.found != NONE) return int32_t(words(r->keys)[p.found]);
    if (!context) return -1;
    if (p.slot == NONE) {
        rebuild(table, grown_buckets(WORDS, uint64_t(r->buckets) + 1));
        return find_symbol(table, symbol, case_insensitive, context, added);
    }
    uint32_t index = cell_count(r->values);
    Cell* c = series::alloc_tail_cell(buffer_of(r->values));
    set_word(c, context, symbol, index);
    r = rec(table);
    words(r->keys)[p.slot] = index;
    occupy(r, words(r->flags), p.slot);
    ++r->live;
    if (added) *added = int32_t(index);
    return -1;
}

// ---- Types 3 and above ------------------------------------------------------------------------

namespace {
Probe probe_int(Record* r, Off key) {
    const uint8_t* base = buffer_of(r->values)->head_ptr();
    return probe(words(r->flags), words(r->keys), r->buckets, mix32(key), [&](uint32_t k) {
        const Cell* h = reinterpret_cast<const Cell*>(base + k);
        return h->header != 0 && h->w1 == key;
    });
}
Cell* entry_cells(Record* r, uint32_t offset) {
    return reinterpret_cast<Cell*>(buffer_of(r->values)->head_ptr() + offset) + 1;
}
}  // namespace

Cell* put_int(Off table, Off key) {
    memory::CollectionPause no_collect;
    check_stamp(table);
    make_room(table);
    Record* r = rec(table);
    Probe p = probe_int(r, key);
    if (p.found != NONE) return entry_cells(r, words(r->keys)[p.found]);
    if (p.slot == NONE) {
        rebuild(table, grown_buckets(r->type, uint64_t(r->buckets) + 1));
        return put_int(table, key);
    }
    uint32_t size = r->index;
    SeriesBuffer* vb = buffer_of(r->values);
    Off at = series::reserve_tail(vb, size);
    r = rec(table);
    uint32_t offset = at - buffer_of(r->values)->head;
    Cell* h = arena::ptr<Cell>(at);
    h[0] = Cell{TYPE_UNSET, key, 0, 0};
    for (uint32_t i = 1; i < size / 16; ++i) h[i] = Cell{TYPE_UNSET, 0, 0, 0};
    words(r->keys)[p.slot] = offset;
    occupy(r, words(r->flags), p.slot);
    ++r->live;
    return h + 1;
}

Cell* get_int(Off table, Off key) {
    check_stamp(table);
    Record* r = rec(table);
    Probe p = probe_int(r, key);
    return p.found == NONE ? nullptr : entry_cells(r, words(r->keys)[p.found]);
}

namespace {
void drop_entry(Record* r, uint32_t bucket) {
    Cell* h = entry_cells(r, words(r->keys)[bucket]) - 1;
    h->header = 0;
    h->w1 = 0;
    for (uint32_t i = 1; i < r->index / 16; ++i) h[i] = Cell{TYPE_UNSET, 0, 0, 0};
    set_deleted(words(r->flags), bucket);
    --r->live;
}
}  // namespace

bool remove_int(Off table, Off key) {
    check_stamp(table);
    Record* r = rec(table);
    Probe p = probe_int(r, key);
    if (p.found == NONE) return false;
    drop_entry(r, p.found);
    return true;
}

// ---- Collector hooks ----------------------------------------------------------------------------

void mark(Off* ref) {
    if (!gc.mark_node || !ref || !*ref) return;
    if (!gc.mark_node(ref)) return;
    Record* r = rec(*ref);
    gc.mark_node(&r->flags);
    gc.mark_node(&r->keys);
    if (r->type == HASH) {
        gc.mark_node(&r->index);
        if (gc.mark_node(&r->chains)) {
            uint32_t* ch = words(r->chains);
            for (uint32_t c = 1, n = word_count(r->chains); c < n; ++c)
                if (!(ch[c] & 1)) gc.mark_node(&ch[c]);
        }
    }
    // The value block's node is taken (and rewritten when relocated) before
    // its entries are walked; its cells are marked last.
    bool fresh_values = r->values && gc.mark_node(&r->values);
    if (r->type >= INTEGER && fresh_values) {
        for_each_entry(r, [&](Cell* h, uint32_t) {
            if (h->header == 0 || !h->w1) return;
            if (gc.mark_node(&h->w1)) {
                SeriesBuffer* b = buffer_of(h->w1);
                if (b->unit() == sizeof(Cell) && gc.mark_cells) gc.mark_cells(b->head_cell(), b->tail_cell());
            }
        });
    }
    if (fresh_values && gc.mark_cells) {
        SeriesBuffer* b = buffer_of(r->values);
        gc.mark_cells(b->head_cell(), b->tail_cell());
    }
}

void purge(Off table) {
    Record* r = rec(table);
    if (r->type < INTEGER) return;
    const uint32_t* keys = words(r->keys);
    const uint32_t* f = words(r->flags);
    auto marked = [](Off node) { return node && (buffer_of(node)->flags & series_flag::MARKED); };
    for (uint32_t b = 0; b < r->buckets; ++b) {
        if (!is_live(f, b)) continue;
        Cell* v = entry_cells(r, keys[b]);
        bool drop = !marked(v[-1].w1);
        if (!drop && r->type == OWNERSHIP && v[1].type() != TYPE_UNSET) drop = !marked(v[1].w1);
        if (drop) drop_entry(r, b);
    }
}

// ---- Relocation map ------------------------------------------------------------------------------

namespace {
void relocation_alloc(RelocationMap* m, uint32_t buckets) {
    m->buckets = buckets;
    m->upper = upper_bound_for(INTEGER, buckets);
    m->occupied = 0;
    m->live = 0;
    m->flags = static_cast<uint32_t*>(lowlevel::allocate(size_t(flag_words(buckets)) * 4));
    std::memset(m->flags, 0xAA, size_t(flag_words(buckets)) * 4);
    m->entries = static_cast<uint32_t*>(lowlevel::allocate(size_t(buckets) * 8));
}
}  // namespace

RelocationMap* relocation_create(uint32_t size) {
    auto* m = static_cast<RelocationMap*>(lowlevel::allocate(sizeof(RelocationMap)));
    relocation_alloc(m, initial_buckets(size));
    return m;
}

void relocation_put(RelocationMap* m, Off from, Off to) {
    if (m->occupied >= m->upper) {
        RelocationMap old = *m;
        uint32_t request = old.live < old.buckets / 2 ? old.buckets - 1 : old.buckets + 1;
        relocation_alloc(m, grown_buckets(INTEGER, request));
        for (uint32_t b = 0; b < old.buckets; ++b) {
            if (!is_live(old.flags, b)) continue;
            uint32_t j = free_bucket(m->flags, m->buckets, mix32(old.entries[2 * b]));
            m->entries[2 * j] = old.entries[2 * b];
            m->entries[2 * j + 1] = old.entries[2 * b + 1];
            set_occupied(m->flags, j);
            ++m->occupied;
            ++m->live;
        }
        lowlevel::free(old.flags);
        lowlevel::free(old.entries);
    }
    uint32_t mask = m->buckets - 1, i = mix32(from) & mask, deleted = NONE;
    for (uint32_t step = 0;; i = (i + ++step) & mask) {
        uint32_t fl = flag_of(m->flags, i);
        if (fl & EMPTY_BIT) break;
        if (fl & DELETED_BIT) {
            deleted = i;
        } else if (m->entries[2 * i] == from) {
            m->entries[2 * i + 1] = to;
            return;
        }
    }
    if (deleted != NONE) i = deleted;
    if (is_empty(m->flags, i)) ++m->occupied;
    set_occupied(m->flags, i);
    m->entries[2 * i] = from;
    m->entries[2 * i + 1] = to;
    ++m->live;
}

Off relocation_get(const RelocationMap* m, Off from) {
    uint32_t mask = m->buckets - 1, i = mix32(from) & mask;
    for (uint32_t step = 0; step < m->buckets; i = (i + ++step) & mask) {
        uint32_t fl = flag_of(m->flags, i);
        if (fl & EMPTY_BIT) return 0;
        if (!(fl & DELETED_BIT) && m->entries[2 * i] == from) return m->entries[2 * i + 1];
    }
    return 0;
}

void relocation_destroy(RelocationMap* m) {
    if (!m) return;
    lowlevel::free(m->flags);
    lowlevel::free(m->entries);
    lowlevel::free(m);
}

}  // namespace kiv::hashtable
