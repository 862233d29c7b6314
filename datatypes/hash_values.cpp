// Hashes and equality of values as table keys (see hash_values.h).
#include "datatypes/hash_values.h"

#include <cstring>

#include "runtime/case_fold.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/unicode_tables.h"

namespace kiv::hash_values {

using hashtable::canonical_symbol;
using hashtable::mix32;
using hashtable::murmur3;

namespace {

bool is_word_type(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }
// Types whose hash depends on a node address.
bool depends_on_node(uint32_t t) {
    switch (t) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP:
        case TYPE_FUNCTION: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_HASH: case TYPE_MAP:
        case TYPE_PORT: case TYPE_IMAGE: case TYPE_EVENT:
            return true;
        default:
            return false;
    }
}

// Characters of a string-family cell from its position: unit, first unit, count.
struct Text {
    uint32_t unit;
    const uint8_t* at;
    uint32_t count;
};
[[gnu::always_inline]] inline Text text_of(const Cell* c) {
    const SeriesBuffer* b = buffer_of(series_node(c));
    uint32_t unit = b->unit();
    uint32_t shift = unit_shift(unit);
    uint32_t total = b->byte_count() >> shift;
    uint32_t index = series_index(c);
    uint32_t count = index < total ? total - index : 0;
    if (c->type() == TYPE_STRING_PART && int32_t(c->w3) >= 0 && c->w3 < count) count = c->w3;
    return {unit, b->head_ptr() + (uint64_t(index) << shift), count};
}
inline uint32_t char_at(const Text& t, uint32_t i) {
    switch (t.unit) {
        case 1: return t.at[i];
        case 2: {
            uint16_t v;
            std::memcpy(&v, t.at + 2 * uint64_t(i), 2);
            return v;
        }
        default: {
            uint32_t v;
            std::memcpy(&v, t.at + 4 * uint64_t(i), 4);
            return v;
        }
    }
}

// Bytes of a binary! from its position.
struct Bytes {
    const uint8_t* at;
    uint32_t count;
};
Bytes bytes_of(const Cell* c) {
    const SeriesBuffer* b = buffer_of(series_node(c));
    uint32_t total = b->byte_count();
    uint32_t index = series_index(c);
    return {b->head_ptr() + (index < total ? index : total), index < total ? total - index : 0};
}

// UTF-8 name of a symbol! cell.
Bytes name_of(const Cell* symbol) {
    const SeriesBuffer* b = buffer_of(symbol->w3);
    return {b->head_ptr(), b->byte_count()};
}

// money! with only the sign bit of its header and no sign on zero.
Cell normalised_money(const Cell* c) {
    Cell m = *c;
    bool zero = (c->w1 & 0xFFFFFF00u) == 0 && c->w2 == 0 && c->w3 == 0;
    m.header = TYPE_MONEY | (!zero && (c->header & header::MONEY_SIGN) ? header::MONEY_SIGN : 0);
    return m;
}

// Lower-case form of a code point below 0x10000 (one table load).
inline uint32_t lower_bmp(uint32_t cp) { return unicode_tables::lower_bmp[cp]; }

// A string-family value whose buffer has one-byte units (the usual key):
// its bytes from its position and their count. False for wider buffers.
[[gnu::always_inline]] inline bool narrow_text(const Cell* c, const uint8_t*& at, uint32_t& count) {
    const SeriesBuffer* b = buffer_of(c->w2);
    if (b->unit() != 1) return false;
    uint32_t total = b->byte_count(), index = c->w1;
    count = index < total ? total - index : 0;
    at = b->head_ptr() + (index < total ? index : total);
    return true;
}

// The hash of narrow text without case (hash_string's one-byte loop).
[[gnu::always_inline]] inline uint32_t hash_narrow_folded(const uint8_t* at, uint32_t count) {
    uint32_t h = hashtable::seed;
    for (uint32_t i = 0; i < count; ++i) h = hashtable::murmur3_step(h, lower_bmp(at[i]));
    h ^= 4 * count;
    return mix32(h);
}

bool strings_equal(const Cell* a, const Cell* b, bool case_sensitive) {
    Text x = text_of(a), y = text_of(b);
    if (x.count != y.count) return false;
    if (x.unit == y.unit && case_sensitive) return std::memcmp(x.at, y.at, uint64_t(x.count) * x.unit) == 0;
    if (x.unit == 1 && y.unit == 1) {
        // Both narrow (the usual keys): compare bytes, folding only where they differ.
        for (uint32_t i = 0; i < x.count; ++i) {
            uint32_t p = x.at[i], q = y.at[i];
            if (p != q && lower_bmp(p) != lower_bmp(q)) return false;
        }
        return true;
    }
    for (uint32_t i = 0; i < x.count; ++i) {
        uint32_t p = char_at(x, i), q = char_at(y, i);
        if (p == q) continue;
        if (case_sensitive || casefold::change_char(p, false) != casefold::change_char(q, false)) return false;
    }
    return true;
}

// Equality of two keys: words by symbol (canonical without case), strings by
// text, the fixed-layout scalars by payload, everything else by identity.
bool equal_values(const Cell* a, const Cell* b, bool case_sensitive) {
    uint32_t ta = a->type(), tb = b->type();
    if (is_word_type(ta) && is_word_type(tb))
        return case_sensitive ? a->w2 == b->w2 : canonical_symbol(a->w2) == canonical_symbol(b->w2);
    if (ta == TYPE_STRING_PART) ta = TYPE_STRING;
    if (tb == TYPE_STRING_PART) tb = TYPE_STRING;
    if (ta != tb) return false;
    switch (ta) {
        case TYPE_UNSET:
        case TYPE_NONE:
            return true;
        case TYPE_DATATYPE:
        case TYPE_LOGIC:
            return a->w1 == b->w1;
        case TYPE_CHAR:
        case TYPE_INTEGER:
            return a->w2 == b->w2;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
        case TYPE_PAIR:
            return a->w2 == b->w2 && a->w3 == b->w3;
        case TYPE_ISSUE:
            return case_sensitive ? a->w2 == b->w2 : canonical_symbol(a->w2) == canonical_symbol(b->w2);
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
            return strings_equal(a, b, case_sensitive);
        case TYPE_BINARY: {
            Bytes x = bytes_of(a), y = bytes_of(b);
            return x.count == y.count && std::memcmp(x.at, y.at, x.count) == 0;
        }
        case TYPE_SYMBOL: {
            Bytes x = name_of(a), y = name_of(b);
            if (x.count != y.count) return false;
            return case_sensitive ? std::memcmp(x.at, y.at, x.count) == 0
                                  : hashtable::same_ascii_case_insensitive(x.at, y.at, x.count);
        }
        case TYPE_TUPLE: {
            uint32_t n = (a->header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT;
            uint32_t m = (b->header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT;
            if (n != m) return false;
            if (n > 12) n = 12;
            return std::memcmp(&a->w1, &b->w1, n) == 0;
        }
        case TYPE_MONEY: {
            Cell x = normalised_money(a), y = normalised_money(b);
            return std::memcmp(&x, &y, sizeof(Cell)) == 0;
        }
        default:
            // Identity: the same payload (series at the same place, the same
            // context, the same entry point ...).
            return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
    }
}


}  // namespace

uint32_t hash_string(const Cell* value, bool case_sensitive) {
    Text t = text_of(value);
    uint32_t h = hashtable::seed;
    // One loop per unit width, each character one 32-bit step: the same text
    // hashes alike whatever width its buffer has.
    switch (t.unit) {
        case 1:
            if (!case_sensitive) return hash_narrow_folded(t.at, t.count);
            for (uint32_t i = 0; i < t.count; ++i) h = hashtable::murmur3_step(h, t.at[i]);
            break;
        case 2:
            for (uint32_t i = 0; i < t.count; ++i) {
                uint16_t v;
                std::memcpy(&v, t.at + 2 * uint64_t(i), 2);
                h = hashtable::murmur3_step(h, case_sensitive ? v : lower_bmp(v));
            }
            break;
        default:
            for (uint32_t i = 0; i < t.count; ++i) {
                uint32_t c = char_at(t, i);
                h = hashtable::murmur3_step(h, case_sensitive ? c : casefold::change_char(c, false));
            }
            break;
    }
    h ^= 4 * t.count;
    return mix32(h);
}

uint32_t hash(const Cell* c, bool case_sensitive) {
    switch (c->type()) {
        case TYPE_UNSET:
            return uint32_t(-2);
        case TYPE_NONE:
            return uint32_t(-1);
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
            return mix32(c->w1);
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_MAP: case TYPE_HANDLE: case TYPE_EVENT:
            return mix32(c->w2);
        case TYPE_NATIVE: case TYPE_ACTION:
            return mix32(c->w3);
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH: case TYPE_IMAGE: case TYPE_POINT2D:
            return murmur3(&c->w1, 8);
        case TYPE_FLOAT: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TIME:
            return murmur3(&c->w2, 8);
        case TYPE_OP: case TYPE_FUNCTION: case TYPE_TRIPLE: case TYPE_TYPESET: case TYPE_DATE:
        case TYPE_POINT3D:
            return murmur3(&c->w1, 12);
        case TYPE_TUPLE: {
            uint32_t n = (c->header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT;
            return murmur3(&c->w1, n > 12 ? 12 : n);
        }
        case TYPE_BINARY: {
            Bytes b = bytes_of(c);
            return murmur3(b.at, b.count);
        }
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        case TYPE_STRING_PART:
            return hash_string(c, case_sensitive);
        case TYPE_SYMBOL:
            return hashtable::symbol_hash(c);
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE:
            return mix32(canonical_symbol(c->w2));
        case TYPE_MONEY: {
            Cell m = normalised_money(c);
            return murmur3(&m, sizeof m);
        }
        default:
            // context!, routine!, bitset!, vector! and internal cells are not
            // keys: they all share one bucket chain.
            return 0;
    }
}

bool equal(const Cell* a, const Cell* b, bool case_sensitive) {
    // Text keys of one type (the usual case) compare without the type switch.
    uint32_t t = a->type();
    // So do integers and characters (hash! look-ups of numbers).
    if (t == b->type() && (t == TYPE_INTEGER || t == TYPE_CHAR)) return a->w2 == b->w2;
    if (t == b->type() && is_any_string(t)) {
        // Both narrow (the usual keys): lengths first, then the bytes, folded
        // only where they differ.
        const uint8_t *x, *y;
        uint32_t n, m;
        if (!narrow_text(a, x, n) || !narrow_text(b, y, m)) return strings_equal(a, b, case_sensitive);
        if (n != m) return false;
        if (case_sensitive) return std::memcmp(x, y, n) == 0;
        for (uint32_t i = 0; i < n; ++i)
            if (x[i] != y[i] && lower_bmp(x[i]) != lower_bmp(y[i])) return false;
        return true;
    }
    return equal_values(a, b, case_sensitive);
}

namespace {

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// n bytes equal, compared a word at a time (overlapping words at the end).
[[gnu::always_inline]] inline bool same_bytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
    if (n >= 8) {
        for (uint32_t i = 0; i + 8 < n; i += 8)
            if (load64(a + i) != load64(b + i)) return false;
        return load64(a + n - 8) == load64(b + n - 8);
    }
    if (n >= 4) return load32(a) == load32(b) && load32(a + n - 4) == load32(b + n - 4);
    for (uint32_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

}  // namespace

Cell* find_in_map(uint32_t table, const Cell* key, bool case_sensitive, uint32_t* hash_out) {
    uint32_t t = key->type();
    const uint8_t* at;
    uint32_t count;
    // The usual text key (not a part of a string): one folded hash, then a
    // byte compare against each candidate of the same type.
    if (!is_any_string(t) || t == TYPE_STRING_PART || !narrow_text(key, at, count)) [[unlikely]] {
        // Integer and character keys: their payload hashed, equal to a key of
        // the same type and payload.
        if (t == TYPE_INTEGER || t == TYPE_CHAR) {
            uint32_t v = key->w2;
            uint32_t h = mix32(v);
            if (hash_out) *hash_out = h;
            return hashtable::find_map_with(table, h,
                                            [=](const Cell* c) { return c->type() == t && c->w2 == v; });
        }
        // Word keys: by symbol, canonical without case.
        if (is_word_type(t)) {
            uint32_t sym = key->w2, canon = canonical_symbol(sym);
            uint32_t h = mix32(canon);
            if (hash_out) *hash_out = h;
            return hashtable::find_map_with(table, h, [=](const Cell* c) {
                if (!is_word_type(c->type())) return false;
                if (c->w2 == sym) return true;
                return !case_sensitive && canonical_symbol(c->w2) == canon;
            });
        }
        Cell k = *key;
        int32_t pos = hashtable::find(table, &k, case_sensitive, hash_out);
        if (pos < 0) return nullptr;
        return buffer_of(hashtable::record(table)->values)->head_cell() + pos;
    }
    uint32_t h = hash_narrow_folded(at, count);
    if (hash_out) *hash_out = h;
    return hashtable::find_map_with(table, h, [&](const Cell* c) {
        const uint8_t* y;
        uint32_t m;
        if (c->type() != t || !narrow_text(c, y, m)) [[unlikely]] return equal(c, key, case_sensitive);
        if (m != count) return false;
        if (same_bytes(at, y, count)) return true;
        if (case_sensitive) return false;
        for (uint32_t i = 0; i < count; ++i)
            if (at[i] != y[i] && lower_bmp(at[i]) != lower_bmp(y[i])) return false;
        return true;
    });
}

bool node_dependent(const Cell* value) { return depends_on_node(value->type()); }

void install() {
    hashtable::set_key_ops({[](const Cell* key) {
                                if (!is_any_string(key->type())) return hash(key, false);
                                const uint8_t* at;
                                uint32_t count;
                                return narrow_text(key, at, count) ? hash_narrow_folded(at, count)
                                                                   : hash_string(key, false);
                            },
                            equal, node_dependent});
}

}  // namespace kiv::hash_values
