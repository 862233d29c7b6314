// Hashes and equality of values as table keys (see hash_values.h).
#include "datatypes/hash_values.h"

#include <bit>
#include <cstring>

#include "runtime/case_fold.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/unicode_tables.h"

namespace kiv::hash_values {

using hashtable::canonical_symbol;
using hashtable::key_mix32;
using hashtable::keyed_bytes;

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
// The end of a text cell's data area (bytes up to it may be read).
inline const uint8_t* data_end_of(const Cell* c) {
    return arena::ptr(buffer_of(c->w2)->data_end());
}

// ---- Text hashes ----
//
// A text hashes by its code points from its position (folded to lower case
// unless the hash is case-sensitive), whatever its buffer's width. When every
// one is below 256 they go four to a 32-bit word, packed first one lowest,
// the last word padded with zeros; else each takes a word of its own. The
// words go two to a SipHash-1-3 block under the process's key (TextSip); the
// last block holds the count.

// SipHash-1-3 fed 32-bit words: two make a block, first one lowest.
struct TextSip {
    hashtable::Sip sip{hashtable::key};
    uint64_t pending = 0;
    bool half = false;
    [[gnu::always_inline]] void word(uint32_t w) {
        if (half) {
            sip.block(pending | uint64_t(w) << 32);
            half = false;
        } else {
            pending = w;
            half = true;
        }
    }
    // The last block: a pending word below the count, else the count alone.
    [[gnu::always_inline]] uint32_t finish(uint32_t count) {
        return sip.finish((half ? pending : 0) | uint64_t(count) << 32 | (half ? 0 : 1));
    }
};

static_assert(std::endian::native == std::endian::little, "narrow text is packed by 32-bit loads");

inline uint32_t load_word(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The hash of code points one step each (text with one of 256 or above).
template <class Get>
uint32_t hash_per_char(uint32_t count, Get get) {
    TextSip h;
    for (uint32_t i = 0; i < count; ++i) h.word(get(i));
    return h.finish(count);
}

// The hash of code points given one by one (wide buffers).
template <class Get>
uint32_t hash_units(uint32_t count, Get get) {
    TextSip h;
    uint32_t word = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = get(i);
        if (c > 0xFF) return hash_per_char(count, get);
        word |= c << (8 * (i & 3));
        if ((i & 3) == 3) {
            h.word(word);
            word = 0;
        }
    }
    if (count & 3) h.word(word);
    return h.finish(count);
}

// Four packed bytes below 128 with A-Z taken as a-z (lower_bmp's ASCII rows):
// a byte's high bit is set by adding 0x3F from 'A' up and by adding 0x25
// above 'Z'; no sum carries into the next byte.
inline uint32_t fold_ascii_word(uint32_t w) {
    uint32_t upper = (w + 0x3F3F3F3Fu) & ~(w + 0x25252525u) & 0x80808080u;
    return w | (upper >> 2);
}
// Four packed bytes, some of 128 or above, folded by the table; -1 when one
// folds to 256 or above.
[[gnu::noinline]] int64_t fold_latin_word(uint32_t w) {
    uint32_t out = 0;
    for (uint32_t k = 0; k < 32; k += 8) {
        uint32_t c = lower_bmp((w >> k) & 0xFF);
        if (c > 0xFF) return -1;
        out |= c << k;
    }
    return out;
}
[[gnu::noinline]] uint32_t hash_narrow_per_char(const uint8_t* at, uint32_t count) {
    return hash_per_char(count, [at](uint32_t j) { return lower_bmp(at[j]); });
}

// The hash of one-byte text, folded or not. The bytes up to `end` may be
// read (past the text's own: a buffer's data area), so that a last step of
// 1 to 3 bytes is one load when there is room for 4.
[[gnu::always_inline]] inline uint32_t hash_narrow(const uint8_t* at, uint32_t count, const uint8_t* end,
                                                   bool fold) {
    TextSip h;
    uint32_t i = 0;
    for (;; i += 4) {
        uint32_t w;
        uint32_t rest = count - i;
        if (rest >= 4) {
            w = load_word(at + i);
        } else if (rest == 0) {
            break;
        } else if (end - (at + i) >= 4) [[likely]] {
            w = load_word(at + i) & (0xFFFFFFFFu >> (32 - 8 * rest));
        } else {
            w = at[i];
            if (rest > 1) w |= uint32_t(at[i + 1]) << 8;
            if (rest > 2) w |= uint32_t(at[i + 2]) << 16;
        }
        if (fold) {
            if (!(w & 0x80808080u)) [[likely]] {
                w = fold_ascii_word(w);
            } else {
                int64_t folded = fold_latin_word(w);
                if (folded < 0) return hash_narrow_per_char(at, count);
                w = uint32_t(folded);
            }
        }
        h.word(w);
        if (rest <= 4) break;
    }
    return h.finish(count);
}
// The folded hash of a narrow text cell's bytes (see narrow_text).
[[gnu::always_inline]] inline uint32_t hash_narrow_folded(const uint8_t* at, uint32_t count,
                                                          const uint8_t* end) {
    return hash_narrow(at, count, end, true);
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
    switch (t.unit) {
        case 1: {
            const uint8_t* end = data_end_of(value);
            return case_sensitive ? hash_narrow(t.at, t.count, end, false)
                                  : hash_narrow(t.at, t.count, end, true);
        }
        case 2:
            return hash_units(t.count, [&t, case_sensitive](uint32_t i) {
                uint16_t v;
                std::memcpy(&v, t.at + 2 * uint64_t(i), 2);
                return case_sensitive ? uint32_t(v) : lower_bmp(v);
            });
        default:
            return hash_units(t.count, [&t, case_sensitive](uint32_t i) {
                uint32_t c = char_at(t, i);
                return case_sensitive ? c : casefold::change_char(c, false);
            });
    }
}

uint32_t hash(const Cell* c, bool case_sensitive) {
    switch (c->type()) {
        case TYPE_UNSET:
            return uint32_t(-2);
        case TYPE_NONE:
            return uint32_t(-1);
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
            return key_mix32(c->w1);
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_MAP: case TYPE_HANDLE: case TYPE_EVENT:
            return key_mix32(c->w2);
        case TYPE_NATIVE: case TYPE_ACTION:
            return key_mix32(c->w3);
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH: case TYPE_IMAGE: case TYPE_POINT2D:
            return keyed_bytes(&c->w1, 8);
        case TYPE_FLOAT: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TIME:
            return keyed_bytes(&c->w2, 8);
        case TYPE_OP: case TYPE_FUNCTION: case TYPE_TRIPLE: case TYPE_TYPESET: case TYPE_DATE:
        case TYPE_POINT3D:
            return keyed_bytes(&c->w1, 12);
        case TYPE_TUPLE: {
            uint32_t n = (c->header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT;
            return keyed_bytes(&c->w1, n > 12 ? 12 : n);
        }
        case TYPE_BINARY: {
            Bytes b = bytes_of(c);
            return keyed_bytes(b.at, b.count);
        }
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        case TYPE_STRING_PART:
            return hash_string(c, case_sensitive);
        case TYPE_SYMBOL:
            return hashtable::symbol_hash(c);
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE:
            return key_mix32(canonical_symbol(c->w2));
        case TYPE_MONEY: {
            Cell m = normalised_money(c);
            return keyed_bytes(&m, sizeof m);
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

using hashtable::load32;
using hashtable::load64;

// n bytes equal, compared a word at a time (overlapping words at the end).
[[gnu::always_inline]] inline bool same_bytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
    if (n >= 8) {
        for (uint32_t i = 0; i + 8 < n; i += 8)
            if (load64(a + i) != load64(b + i)) return false;
        return load64(a + n - 8) == load64(b + n - 8);
    }
    if (n >= 4) return load32(a) == load32(b) && load32(a + n - 4) == load32(b + n - 4);
    if (n == 0) return true;
    // 1 to 3 bytes: the first, middle and last cover them all.
    return ((a[0] ^ b[0]) | (a[n >> 1] ^ b[n >> 1]) | (a[n - 1] ^ b[n - 1])) == 0;
}

}  // namespace

namespace {

// find_in_map for every key but narrow text.
[[gnu::noinline]] Cell* find_other_in_map(uint32_t table, const Cell* key, bool case_sensitive,
                                          uint32_t* hash_out) {
    uint32_t t = key->type();
    // Integer and character keys: their payload hashed, equal to a key of
    // the same type and payload.
    if (t == TYPE_INTEGER || t == TYPE_CHAR) {
        uint32_t v = key->w2;
        uint32_t h = key_mix32(v);
        if (hash_out) *hash_out = h;
        return hashtable::find_map_with(table, h,
                                        [=](const Cell* c) { return c->type() == t && c->w2 == v; });
    }
    // Word keys: by symbol, canonical without case.
    if (is_word_type(t)) {
        uint32_t sym = key->w2, canon = canonical_symbol(sym);
        uint32_t h = key_mix32(canon);
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

// A candidate that is not narrow text of the key's type: the general
// equality, out of line.
[[gnu::noinline]] bool text_key_matches_other(const Cell* c, const Cell* key, bool case_sensitive) {
    return equal(c, key, case_sensitive);
}

}  // namespace

Cell* find_in_map(uint32_t table, const Cell* key, bool case_sensitive, uint32_t* hash_out) {
    uint32_t t = key->type();
    // The usual text key (not a part of a string): one folded hash, then a
    // byte compare against each candidate of the same type. The key's
    // buffer is read once for its bytes and its data end.
    if (!is_any_string(t) || t == TYPE_STRING_PART) [[unlikely]]
        return find_other_in_map(table, key, case_sensitive, hash_out);
    const SeriesBuffer* kb = buffer_of(key->w2);
    if (kb->unit() != 1) [[unlikely]]
        return find_other_in_map(table, key, case_sensitive, hash_out);
    uint32_t total = kb->byte_count(), index = key->w1;
    uint32_t count = index < total ? total - index : 0;
    const uint8_t* at = kb->head_ptr() + (index < total ? index : total);
    uint32_t h = hash_narrow_folded(at, count, arena::ptr(kb->data_end()));
    if (hash_out) *hash_out = h;
    return hashtable::find_map_with(table, h, [&](const Cell* c) {
        const uint8_t* y;
        uint32_t m;
        if (c->type() != t || !narrow_text(c, y, m)) [[unlikely]]
            return text_key_matches_other(c, key, case_sensitive);
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
                                if (!narrow_text(key, at, count)) return hash_string(key, false);
                                return hash_narrow_folded(at, count, data_end_of(key));
                            },
                            equal, node_dependent});
}

}  // namespace kiv::hash_values
