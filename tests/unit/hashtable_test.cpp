// Hash tables: hashing, sizing, probing with collisions and deletions, growth,
// hash! duplicate chains and block edits, map! keys, symbol and context word
// tables, node-keyed tables, stamps, marking and the relocation map.
#include "runtime/hashtable.h"

#include "datatypes/hash_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"

using namespace kiv;
namespace ht = kiv::hashtable;

namespace {

class HashTable : public ::testing::Test {
  protected:
    void SetUp() override {
        memory::init();
        memory::init_frames();
        ht::set_seed(0x9747B28Cu);
        ht::connect_collector({});
        hash_values::install();
        ht::register_symbol_table(nullptr);
    }
    void TearDown() override {
        ht::connect_collector({});
        ht::register_symbol_table(nullptr);
        memory::collection_enabled = false;
        memory::collect_hook = nullptr;
    }
};

Cell integer(int32_t v) { return Cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }

// A text series of the given unit holding the code points.
Off text_series(const std::vector<uint32_t>& cps, uint32_t unit) {
    Off node = memory::alloc_codepoints(uint32_t(cps.size()), unit);
    SeriesBuffer* b = buffer_of(node);
    for (size_t i = 0; i < cps.size(); ++i) {
        uint32_t v = cps[i];
        std::memcpy(b->head_ptr() + i * unit, &v, unit);  // little-endian: low bytes first
    }
    b->tail = b->head + uint32_t(cps.size()) * unit;
    return node;
}
std::vector<uint32_t> cps_of(const std::string& s) { return std::vector<uint32_t>(s.begin(), s.end()); }
Cell string_cell(const std::string& s, uint32_t unit = 1, uint32_t type = TYPE_STRING) {
    return Cell{type, 0, text_series(cps_of(s), unit), 0};
}

// A block of cells.
Off block_of(const std::vector<Cell>& cells) {
    Off node = memory::alloc_cells(uint32_t(cells.size() ? cells.size() : 1));
    for (const Cell& c : cells) *series::alloc_tail_cell(buffer_of(node)) = c;
    return node;
}
Cell* cell_at(Off block, uint32_t pos) { return buffer_of(block)->head_cell() + pos; }
uint32_t length_of(Off block) { return series::count(block); }

// Block edits as the datatypes make them.
void remove_cells(Off block, uint32_t pos, uint32_t count) { series::remove_bytes(block, pos * 16, count * 16); }
void insert_cells(Off block, uint32_t pos, const std::vector<Cell>& cells) {
    uint32_t n = uint32_t(cells.size());
    SeriesBuffer* b = buffer_of(block);
    series::reserve_tail(b, n * 16);
    b = buffer_of(block);
    Cell* at = b->head_cell() + pos;
    std::memmove(at + n, at, (b->byte_count() / 16 - pos - n) * 16);
    for (uint32_t i = 0; i < n; ++i) at[i] = cells[i];
}

// Every value of a hash! block is found, at its first position.
void expect_all_found(Off table, Off block) {
    for (uint32_t p = 0; p < length_of(block); ++p) {
        Cell v = *cell_at(block, p);
        uint32_t first = p;
        for (uint32_t q = 0; q < p; ++q)
            if (hash_values::equal(cell_at(block, q), &v, false)) {
                first = q;
                break;
            }
        ASSERT_EQ(ht::find(table, &v), int32_t(first)) << "value at " << p;
        ASSERT_EQ(ht::find_from(table, &v, false, p), int32_t(p)) << "value at " << p;
    }
}

uint32_t flag(Off table, uint32_t bucket) {
    const uint32_t* f = reinterpret_cast<const uint32_t*>(series::head_of(ht::record(table)->flags));
    return (f[bucket >> 4] >> ((bucket & 15) * 2)) & 3;
}

// ---- Hashing ---------------------------------------------------------------------------

TEST_F(HashTable, Murmur3MatchesTheReferenceVectors) {
    struct Case {
        uint32_t seed;
        std::string text;
        uint32_t hash;
    };
    const Case cases[] = {
        {0, "", 0},
        {1, "", 0x514E28B7u},
        {0, "hello", 0x248BFA47u},
        {0, "The quick brown fox jumps over the lazy dog", 0x2E4FF723u},
    };
    for (const Case& c : cases) {
        ht::set_seed(c.seed);
        EXPECT_EQ(ht::murmur3(c.text.data(), c.text.size()), c.hash) << c.text;
    }
    ht::set_seed(0);
    EXPECT_EQ(ht::murmur3_lower_ascii("HeLLo", 5), 0x248BFA47u);
    EXPECT_NE(ht::murmur3_lower_ascii("h\xC3\x89llo", 6), ht::murmur3_lower_ascii("h\xC3\xA9llo", 6));
}

TEST_F(HashTable, Mix32AndRoundPow2) {
    EXPECT_EQ(ht::mix32(0), 0u);
    EXPECT_NE(ht::mix32(1), ht::mix32(2));
    const std::pair<uint32_t, uint32_t> pow2[] = {{0, 1}, {1, 1}, {2, 2}, {3, 4}, {5, 8}, {8, 8}, {9, 16}, {1000, 1024}};
    for (auto [n, p] : pow2) EXPECT_EQ(ht::round_pow2(n), p) << n;
}

// SipHash-1-3 with the key bytes 0 to 15 over the bytes 0 to n-1 (every tail
// length, one and two blocks), against a plain byte-by-byte writing of the
// algorithm, folded to 32 bits as the tables use it.
TEST_F(HashTable, SipHash13MatchesItsDefinition) {
    const ht::HashKey k{0x0706050403020100ull, 0x0F0E0D0C0B0A0908ull};
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = uint8_t(i);
    auto reference = [&](size_t n) {
        auto rotl = [](uint64_t x, int r) { return (x << r) | (x >> (64 - r)); };
        uint64_t v0 = k.k0 ^ 0x736F6D6570736575ull, v1 = k.k1 ^ 0x646F72616E646F6Dull;
        uint64_t v2 = k.k0 ^ 0x6C7967656E657261ull, v3 = k.k1 ^ 0x7465646279746573ull;
        auto round = [&] {
            v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
            v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
            v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
            v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
        };
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t m = 0;
            for (int j = 7; j >= 0; --j) m = m << 8 | bytes[i + j];
            v3 ^= m; round(); v0 ^= m;
        }
        uint64_t b = uint64_t(n) << 56;
        for (size_t j = 0; i + j < n; ++j) b |= uint64_t(bytes[i + j]) << (8 * j);
        v3 ^= b; round(); v0 ^= b;
        v2 ^= 0xFF; round(); round(); round();
        uint64_t h = v0 ^ v1 ^ v2 ^ v3;
        return uint32_t(h ^ (h >> 32));
    };
    for (size_t n = 0; n <= 16; ++n) EXPECT_EQ(ht::sip_bytes(k, bytes, n), reference(n)) << n;
    // Folding ASCII case: "HeLLo" hashes as "hello" and differs from "h\xC3\x89llo".
    EXPECT_EQ(ht::sip_bytes(k, "HeLLo", 5, true), ht::sip_bytes(k, "hello", 5));
    EXPECT_NE(ht::sip_bytes(k, "h\xC3\x89llo", 6, true), ht::sip_bytes(k, "h\xC3\xA9llo", 6, true));
    // Case is folded a word at a time: every byte value, in every position
    // of a full block and of the tail, folds as a byte-by-byte fold does.
    for (size_t n : {size_t(8), size_t(13)}) {
        for (size_t at = 0; at < n; ++at) {
            for (int b = 0; b < 256; ++b) {
                char text[16], folded[16];
                for (size_t i = 0; i < n; ++i) text[i] = char("Zz@[`{aA\x80\xC1\xDA\xFF\x7F"[i]);
                text[at] = char(b);
                for (size_t i = 0; i < n; ++i)
                    folded[i] = text[i] >= 'A' && text[i] <= 'Z' ? char(text[i] + 32) : text[i];
                ASSERT_EQ(ht::sip_bytes(k, text, n, true), ht::sip_bytes(k, folded, n)) << n << ' ' << at << ' ' << b;
            }
        }
    }
}

// Symbol names hash without ASCII case at every length (the short and the
// long path), every byte counts, and names of one length rarely share a
// bucket.
TEST_F(HashTable, NameHashFoldsCaseAndUsesEveryByte) {
    const ht::HashKey k{0x0706050403020100ull, 0x0F0E0D0C0B0A0908ull};
    for (size_t n = 0; n <= 24; ++n) {
        std::string lower, upper;
        for (size_t i = 0; i < n; ++i) {
            lower += char('a' + (i * 7) % 26);
            upper += char((i % 2 ? 'A' : 'a') + (i * 7) % 26);
        }
        EXPECT_EQ(ht::keyed_name_hash(k, upper.data(), n), ht::keyed_name_hash(k, lower.data(), n)) << n;
        if (n > 16) {
            EXPECT_EQ(ht::keyed_name_hash(k, lower.data(), n), ht::sip_bytes(k, lower.data(), n, true));
        }
        // Changing any one byte (to a letter or a byte above ASCII) changes the hash.
        for (size_t at = 0; at < n; ++at) {
            for (char c : {'#', '\xC3'}) {
                std::string other = lower;
                other[at] = c;
                EXPECT_NE(ht::keyed_name_hash(k, other.data(), n), ht::keyed_name_hash(k, lower.data(), n)) << n << ' ' << at;
            }
        }
    }
    // "h\xC3\x89llo" and "h\xC3\xA9llo" differ beyond ASCII: not folded.
    EXPECT_NE(ht::keyed_name_hash(k, "h\xC3\x89llo", 6), ht::keyed_name_hash(k, "h\xC3\xA9llo", 6));
    // 4,096 names of each length up to 16 over 16 letters: few share a
    // bucket of a 65,536-bucket table (random hashes give about 120).
    for (size_t n = 3; n <= 16; ++n) {
        std::set<uint32_t> buckets;
        for (uint32_t v = 0; v < 4096; ++v) {
            std::string w(n, 'a');
            for (size_t i = 0; i < n && i < 3; ++i) w[n - 1 - i] = char('a' + ((v >> (4 * i)) & 15));
            buckets.insert(ht::keyed_name_hash(k, w.data(), n) & 0xFFFF);
        }
        EXPECT_GT(buckets.size(), 4096u - 200u) << n;
    }
}

// Keys that share a bucket under one key are spread under another: the
// table key decides collisions, so they cannot be computed without it.
TEST_F(HashTable, KeysThatCollideUnderOneKeyDoNotUnderAnother) {
    const ht::HashKey a{0x0123456789ABCDEFull, 0xFEDCBA9876543210ull};
    const ht::HashKey b{0x0F1E2D3C4B5A6978ull, 0x8796A5B4C3D2E1F0ull};
    const ht::HashKey saved = ht::key;
    constexpr uint32_t MASK = 1023, WANT = 32;
    auto spread = [](const std::vector<uint32_t>& hashes) {
        std::set<uint32_t> buckets;
        for (uint32_t h : hashes) buckets.insert(h & MASK);
        return buckets.size();
    };

    // Integers (map! and hash! keys): the keyed mixer.
    std::vector<uint32_t> ints, under_b;
    for (uint32_t v = 0; ints.size() < WANT; ++v)
        if ((ht::mix_keyed(a, v) & MASK) == 7) ints.push_back(v);
    for (uint32_t v : ints) under_b.push_back(ht::mix_keyed(b, v));
    EXPECT_GT(spread(under_b), WANT / 2);
    EXPECT_NE(ht::mix_keyed(a, 42), ht::mix_keyed(b, 42));

    // Strings, hashed as map! keys are (folded, through the value layer).
    std::vector<Cell> texts;
    std::vector<uint32_t> with_b;
    ht::set_key(a);
    for (uint32_t n = 0; texts.size() < WANT; ++n) {
        Cell t = string_cell("key-" + std::to_string(n));
        if ((hash_values::hash(&t, false) & MASK) == 7) texts.push_back(t);
    }
    ht::set_key(b);
    for (const Cell& t : texts) with_b.push_back(hash_values::hash(&t, false));
    ht::set_key(saved);
    EXPECT_GT(spread(with_b), WANT / 2);

    // Symbol names.
    std::vector<std::string> names;
    std::vector<uint32_t> names_b;
    for (uint32_t n = 0; names.size() < WANT; ++n) {
        std::string w = "w" + std::to_string(n);
        if ((ht::keyed_name_hash(a, w.data(), w.size()) & MASK) == 7) names.push_back(w);
    }
    for (const std::string& w : names) names_b.push_back(ht::keyed_name_hash(b, w.data(), w.size()));
    EXPECT_GT(spread(names_b), WANT / 2);
}

TEST_F(HashTable, StringsHashAlikeInEveryWidthAndWithoutCase) {
    Cell narrow = string_cell("Abc\xE9", 1);
    Cell wide = Cell{TYPE_STRING, 0, text_series({'A', 'b', 'c', 0xE9}, 2), 0};
    Cell ucs4 = Cell{TYPE_STRING, 0, text_series({'A', 'b', 'c', 0xE9}, 4), 0};
    Cell lower = string_cell("abc\xE9", 1);
    Cell upper = Cell{TYPE_STRING, 0, text_series({'A', 'B', 'C', 0xC9}, 2), 0};
    for (bool cs : {false, true}) {
        EXPECT_EQ(hash_values::hash(&narrow, cs), hash_values::hash(&wide, cs));
        EXPECT_EQ(hash_values::hash(&narrow, cs), hash_values::hash(&ucs4, cs));
    }
    EXPECT_EQ(hash_values::hash(&narrow, false), hash_values::hash(&lower, false));
    EXPECT_EQ(hash_values::hash(&narrow, false), hash_values::hash(&upper, false));  // folds beyond ASCII
    EXPECT_NE(hash_values::hash(&narrow, true), hash_values::hash(&lower, true));
    // From the value's position; a part string limits the count.
    Cell tail = narrow;
    tail.w1 = 1;
    Cell bc = string_cell("bc\xE9");
    EXPECT_EQ(hash_values::hash(&tail, false), hash_values::hash(&bc, false));
    Cell part = Cell{hash_values::TYPE_STRING_PART, 1, narrow.w2, 2};
    Cell just_bc = string_cell("bc");
    EXPECT_EQ(hash_values::hash(&part, false), hash_values::hash(&just_bc, false));
    EXPECT_TRUE(hash_values::equal(&part, &just_bc, true));
}

TEST_F(HashTable, NarrowTextHashesAsWideTextForEveryCodeBelow256) {
    // Narrow text is hashed four bytes at a time (ASCII folded by word
    // arithmetic), wider text a code at a time: every code below 256, at
    // every place of a step and with every tail length, hashes alike.
    const uint32_t filler[8] = {'A', 'b', '1', 'Z', 'z', '@', '[', '`'};
    for (uint32_t len = 1; len <= 8; ++len) {
        for (uint32_t pos = 0; pos < len; ++pos) {
            for (uint32_t c = 0; c < 256; ++c) {
                std::vector<uint32_t> cps(filler, filler + len);
                cps[pos] = c;
                Cell narrow = Cell{TYPE_STRING, 0, text_series(cps, 1), 0};
                Cell wide = Cell{TYPE_STRING, 0, text_series(cps, 2), 0};
                Cell ucs4 = Cell{TYPE_STRING, 0, text_series(cps, 4), 0};
                for (bool cs : {false, true}) {
                    uint32_t h = hash_values::hash(&narrow, cs);
                    ASSERT_EQ(h, hash_values::hash(&wide, cs)) << len << " " << pos << " " << c;
                    ASSERT_EQ(h, hash_values::hash(&ucs4, cs)) << len << " " << pos << " " << c;
                }
            }
        }
    }
    // Text that ends in the last bytes of its buffer (read from a position),
    // its last step put together byte by byte.
    std::vector<uint32_t> full;
    for (uint32_t i = 0; i < 16; ++i) full.push_back(i % 2 ? 'a' + i : 'A' + i);
    Cell narrow_full = Cell{TYPE_STRING, 0, text_series(full, 1), 0};
    Cell wide_full = Cell{TYPE_STRING, 0, text_series(full, 2), 0};
    for (uint32_t at = 0; at <= 16; ++at) {
        narrow_full.w1 = wide_full.w1 = at;
        for (bool cs : {false, true})
            EXPECT_EQ(hash_values::hash(&narrow_full, cs), hash_values::hash(&wide_full, cs)) << at;
    }
    // A wide code that folds below 256 (the Kelvin sign) hashes as its fold.
    Cell kelvin = Cell{TYPE_STRING, 0, text_series({'o', 0x212A, 'a', 'y'}, 2), 0};
    Cell okay = string_cell("okay");
    bool same_hash = hash_values::hash(&kelvin, false) == hash_values::hash(&okay, false);
    EXPECT_EQ(hash_values::equal(&kelvin, &okay, false), same_hash);
}

TEST_F(HashTable, ValueHashesByType) {
    Cell unset{TYPE_UNSET, 1, 2, 3}, none{TYPE_NONE, 1, 2, 3};
    EXPECT_EQ(hash_values::hash(&unset, false), uint32_t(-2));
    EXPECT_EQ(hash_values::hash(&none, false), uint32_t(-1));
    Cell i = integer(42), c{TYPE_CHAR, 0, 42, 0}, l{TYPE_LOGIC, 1, 0, 0}, d{TYPE_DATATYPE, TYPE_BLOCK, 0, 0};
    EXPECT_EQ(hash_values::hash(&i, false), ht::key_mix32(42));
    EXPECT_EQ(hash_values::hash(&c, false), ht::key_mix32(42));
    EXPECT_EQ(hash_values::hash(&l, false), ht::key_mix32(1));
    EXPECT_EQ(hash_values::hash(&d, false), ht::key_mix32(TYPE_BLOCK));
    Cell f{TYPE_FLOAT, 0, 0, 0};
    f.set_f64(2.5);
    uint32_t payload[2] = {f.w2, f.w3};
    EXPECT_EQ(hash_values::hash(&f, false), ht::keyed_bytes(payload, 8));
    // Words hash by symbol, whatever the word type; the payload word 1 (context) does not count.
    Cell w{TYPE_WORD, 100, 7, 3}, sw{TYPE_SET_WORD, 0, 7, uint32_t(-1)};
    EXPECT_EQ(hash_values::hash(&w, false), hash_values::hash(&sw, false));
    // binary! from its position.
    Off bytes = memory::alloc_bytes(4);
    series::append_bytes(buffer_of(bytes), "\x01\x02\x03\x04", 4);
    Cell bin{TYPE_BINARY, 1, bytes, 0};
    EXPECT_EQ(hash_values::hash(&bin, false), ht::keyed_bytes("\x02\x03\x04", 3));
    // money!: the new-line flag and a negative zero do not change the hash.
    Cell m1{TYPE_MONEY | header::NEW_LINE, 0x100, 5, 0}, m2{TYPE_MONEY, 0x100, 5, 0};
    EXPECT_EQ(hash_values::hash(&m1, false), hash_values::hash(&m2, false));
    Cell z1{TYPE_MONEY | header::MONEY_SIGN, 0, 0, 0}, z2{TYPE_MONEY, 0, 0, 0};
    EXPECT_EQ(hash_values::hash(&z1, false), hash_values::hash(&z2, false));
    // tuple!: only its length in bytes.
    Cell t1{TYPE_TUPLE | (3u << header::TUPLE_LENGTH_SHIFT), 0x00030201, 0xFF, 0};
    Cell t2{TYPE_TUPLE | (3u << header::TUPLE_LENGTH_SHIFT), 0xAA030201, 0, 7};
    EXPECT_EQ(hash_values::hash(&t1, false), hash_values::hash(&t2, false));
    EXPECT_TRUE(hash_values::equal(&t1, &t2, true));
}

// ---- Sizing ----------------------------------------------------------------------------

TEST_F(HashTable, SizingFollowsTheRules) {
    struct Case {
        uint32_t size, type, buckets, upper;
    };
    const Case cases[] = {
        {3, ht::HASH, 8, 6},       {0, ht::HASH, 8, 6},         {4, ht::MAP, 8, 6},
        {100, ht::HASH, 256, 197}, {100, ht::MAP, 256, 197},    {10, ht::INTEGER, 16, 12},
        {10, ht::HASH, 16, 12},    {4000, ht::WORDS, 16384, 12616},
    };
    for (const Case& c : cases) {
        Off block = c.type <= ht::MAP ? block_of({}) : 0;
        Off t = ht::init(c.size, block, c.type, c.type == ht::WORDS ? 2 : 1);
        EXPECT_EQ(ht::record(t)->buckets, c.buckets) << c.size << " type " << c.type;
        EXPECT_EQ(ht::record(t)->upper, c.upper) << c.size << " type " << c.type;
        EXPECT_EQ(ht::record(t)->type, c.type);
        EXPECT_EQ(buffer_of(t)->byte_count(), 44u);
        for (uint32_t b = 0; b < c.buckets; ++b) ASSERT_EQ(flag(t, b), 2u);  // all empty
    }
}

// ---- Probing: collisions, deletions, re-insertion --------------------------------------------

// Integers whose home bucket in an 8-bucket table is the same.
std::vector<int32_t> colliding(uint32_t count) {
    std::vector<int32_t> out;
    for (int32_t v = 1; out.size() < count; ++v)
        if ((ht::key_mix32(uint32_t(v)) & 7) == 3) out.push_back(v);
    return out;
}

TEST_F(HashTable, CollisionsDeletionsAndReinsertionInATinyTable) {
    std::vector<int32_t> vals = colliding(5);
    std::vector<Cell> cells;
    for (int32_t v : vals) cells.push_back(integer(v));
    Off block = block_of(cells);
    Off t = ht::init(3, block, ht::HASH, 0);
    ASSERT_EQ(ht::record(t)->buckets, 8u);
    EXPECT_EQ(ht::record(t)->live, 5u);
    EXPECT_EQ(ht::record(t)->occupied, 5u);
    // Triangular probing from bucket 3: 3, 4, 6, 1, 5.
    const uint32_t probe_order[] = {3, 4, 6, 1, 5};
    const uint32_t* keys = reinterpret_cast<const uint32_t*>(series::head_of(ht::record(t)->keys));
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(keys[probe_order[i]], i);
    expect_all_found(t, block);

    // Remove the second value: its bucket is marked deleted, the others stay reachable.
    EXPECT_TRUE(ht::remove_position(t, 1));
    EXPECT_FALSE(ht::remove_position(t, 1));
    EXPECT_EQ(flag(t, 4), 1u);
    EXPECT_EQ(ht::record(t)->live, 4u);
    EXPECT_EQ(ht::record(t)->occupied, 5u);
    Cell gone = integer(vals[1]);
    EXPECT_EQ(ht::find(t, &gone), -1);
    for (uint32_t p : {0u, 2u, 3u, 4u}) EXPECT_EQ(ht::find(t, cell_at(block, p)), int32_t(p));

    // Put it back: it goes into the deleted bucket, the occupied count stays.
    EXPECT_EQ(ht::put(t, 1), -1);
    EXPECT_EQ(flag(t, 4), 0u);
    EXPECT_EQ(ht::record(t)->occupied, 5u);
    expect_all_found(t, block);
}

TEST_F(HashTable, GrowthRebuildsWithMoreBucketsAndDropsDeletedMarks) {
    Off block = block_of({});
    Off t = ht::init(3, block, ht::HASH, 0);
    for (int32_t v = 0; v < 6; ++v) {
        *series::alloc_tail_cell(buffer_of(block)) = integer(v * 1000);
        ht::put(t, uint32_t(v));
    }
    EXPECT_EQ(ht::record(t)->buckets, 8u);
    EXPECT_EQ(ht::record(t)->occupied, 6u);
    *series::alloc_tail_cell(buffer_of(block)) = integer(6000);
    ht::put(t, 6);  // occupied reached the upper bound of 6 first
    EXPECT_EQ(ht::record(t)->buckets, 16u);
    EXPECT_EQ(ht::record(t)->upper, 12u);
    EXPECT_EQ(ht::record(t)->occupied, 7u);
    expect_all_found(t, block);

    // Many values: every rebuild keeps every value reachable.
    for (int32_t v = 7; v < 5000; ++v) {
        *series::alloc_tail_cell(buffer_of(block)) = integer(v * 7919);
        ht::put(t, uint32_t(v));
    }
    EXPECT_EQ(ht::record(t)->live, 5000u);
    EXPECT_LE(ht::record(t)->occupied, ht::record(t)->upper);
    expect_all_found(t, block);
}

TEST_F(HashTable, DeletedBucketsAreReclaimedWhenFewKeysAreLive) {
    // An integer-keyed table that keeps adding and removing: the table is
    // rehashed at the same size instead of growing without end.
    Off t = ht::init(10, 0, ht::INTEGER, 1);
    uint32_t buckets = ht::record(t)->buckets;
    for (uint32_t i = 1; i <= 2000; ++i) {
        ht::put_int(t, i * 16);
        ASSERT_TRUE(ht::remove_int(t, i * 16));
    }
    EXPECT_EQ(ht::record(t)->buckets, buckets);
    EXPECT_EQ(ht::record(t)->live, 0u);
    EXPECT_LT(series::count(ht::record(t)->values), 64u);  // removed entries were compacted away
}

TEST_F(HashTable, ResizeRehashesIntoTheRequestedRoom) {
    std::vector<Cell> vals;
    for (int i = 0; i < 50; ++i) vals.push_back(integer(i * 3));
    Off block = block_of(vals);
    Off t = ht::init(50, block, ht::HASH, 0);
    ht::resize(t, 100);  // hash!: 1.5 x the request, rounded up to a power of two
    EXPECT_EQ(ht::record(t)->buckets, 256u);
    EXPECT_EQ(ht::record(t)->occupied, 50u);
    expect_all_found(t, block);
    Off ints = ht::init(4, 0, ht::INTEGER, 1);
    for (Off k = 16; k <= 160; k += 16) ht::put_int(ints, k)[0] = integer(int32_t(k));
    ht::resize(ints, 1000);
    EXPECT_EQ(ht::record(ints)->buckets, 1024u);
    for (Off k = 16; k <= 160; k += 16) ASSERT_EQ(ht::get_int(ints, k)[0].w2, k);
}

TEST_F(HashTable, BadRequestsRaiseErrors) {
    Off block = block_of({integer(1)});
    Off t = ht::init(1, block, ht::HASH, 0);
    try {
        ht::put(t, 5);  // no value at position 5
        FAIL() << "no error";
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.id, "out-of-range");
    }
    EXPECT_TRUE(memory::collection_enabled == false);
    try {
        ht::init(0xF0000000u, 0, ht::INTEGER, 1);
        FAIL() << "no error";
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.id, "no-memory");
    }
    EXPECT_EQ(ht::record(t)->live, 1u);
}

// ---- hash!: duplicate chains and block edits -------------------------------------------------------

TEST_F(HashTable, DuplicatesFormAChainAndAreFoundInOrder) {
    Off block = block_of({string_cell("abc"), integer(2), string_cell("ABC"), integer(3), string_cell("abc")});
    Off t = ht::init(5, block, ht::HASH, 0);
    EXPECT_EQ(ht::record(t)->live, 5u);
    Cell key = string_cell("Abc");
    ht::Cursor c;
    std::vector<int32_t> all;
    for (int32_t p = ht::find_first(t, &key, false, c); p >= 0; p = ht::find_next(t, &key, false, c)) all.push_back(p);
    EXPECT_EQ(all, (std::vector<int32_t>{0, 2, 4}));
    EXPECT_EQ(ht::find_from(t, &key, false, 1), 2);
    EXPECT_EQ(ht::find_from(t, &key, false, 3), 4);
    EXPECT_EQ(ht::find_from(t, &key, false, 5), -1);
    EXPECT_EQ(ht::find_from(t, &key, false, 3, true), 2);
    // Case-sensitive: only the exact spellings.
    Cell exact = string_cell("abc");
    all.clear();
    for (int32_t p = ht::find_first(t, &exact, true, c); p >= 0; p = ht::find_next(t, &exact, true, c)) all.push_back(p);
    EXPECT_EQ(all, (std::vector<int32_t>{0, 4}));
    EXPECT_EQ(ht::find_from(t, &exact, true, 1), 4);
    EXPECT_EQ(ht::find(t, &key, true), -1);

    // Leaving the chain: the bucket stays while positions remain.
    ht::remove_position(t, 2);
    EXPECT_EQ(ht::find_from(t, &key, false, 1), 4);
    ht::remove_position(t, 0);
    EXPECT_EQ(ht::find(t, &key), 4);
    ht::remove_position(t, 4);
    EXPECT_EQ(ht::find(t, &key), -1);
    EXPECT_EQ(ht::record(t)->live, 2u);
    // And back again, into a new chain.
    ht::put(t, 4);
    EXPECT_EQ(ht::put(t, 0), 4);
    EXPECT_EQ(ht::find(t, &key), 0);
}

TEST_F(HashTable, DeleteRangeShiftsLaterPositions) {
    std::vector<Cell> vals;
    for (int i = 0; i < 40; ++i) vals.push_back(integer(i % 7));  // many duplicates
    Off block = block_of(vals);
    Off t = ht::init(40, block, ht::HASH, 0);
    struct Cut {
        uint32_t pos, count;
    };
    for (Cut cut : {Cut{3, 5}, Cut{0, 2}, Cut{20, 100}, Cut{10, 1}}) {
        uint32_t len = length_of(block);
        uint32_t n = cut.count < len - cut.pos ? cut.count : len - cut.pos;
        ht::delete_range(t, cut.pos, cut.count);  // before the cells leave the block
        remove_cells(block, cut.pos, n);
        EXPECT_EQ(ht::record(t)->live, length_of(block));
        expect_all_found(t, block);
    }
}

TEST_F(HashTable, DeleteRangeOfEveryValueResetsTheTable) {
    Off block = block_of({integer(1), integer(2), integer(1), string_cell("x")});
    Off t = ht::init(4, block, ht::HASH, 0);
    ht::delete_range(t, 0, 99);
    remove_cells(block, 0, 4);
    ht::Record* r = ht::record(t);
    EXPECT_EQ(r->live, 0u);
    EXPECT_EQ(r->occupied, 0u);
    EXPECT_EQ(series::count(r->index), 0u);
    EXPECT_EQ(series::count(r->chains), 1u);
    for (uint32_t b = 0; b < r->buckets; ++b) ASSERT_EQ(flag(t, b), 2u);
    Cell one = integer(1);
    EXPECT_EQ(ht::find(t, &one), -1);
    *series::alloc_tail_cell(buffer_of(block)) = integer(1);
    ht::put(t, 0);
    EXPECT_EQ(ht::find(t, &one), 0);
}

TEST_F(HashTable, InsertValuesShiftsLaterPositions) {
    std::vector<Cell> vals;
    for (int i = 0; i < 30; ++i) vals.push_back(integer(i % 5));
    Off block = block_of(vals);
    Off t = ht::init(30, block, ht::HASH, 0);
    insert_cells(block, 4, {integer(100), integer(3), integer(101)});
    EXPECT_FALSE(ht::insert_values(t, 4, 3));
    EXPECT_EQ(ht::record(t)->live, 33u);
    expect_all_found(t, block);
    insert_cells(block, 0, {integer(2)});
    ht::insert_values(t, 0, 1);
    insert_cells(block, length_of(block), {integer(4), integer(999)});
    ht::insert_values(t, length_of(block) - 2, 2);
    expect_all_found(t, block);
    // Large inserts are left to a rebuild by the caller.
    EXPECT_TRUE(ht::insert_values(t, 0, 30001));
}

TEST_F(HashTable, MoveAndReindexFollowTheBlock) {
    std::vector<Cell> vals;
    for (int i = 0; i < 20; ++i) vals.push_back(integer(i % 6));
    Off block = block_of(vals);
    Off t = ht::init(20, block, ht::HASH, 0);
    // Move 3 values from 2 to 10 (positions after the move).
    std::vector<Cell> moved(cell_at(block, 2), cell_at(block, 5));
    remove_cells(block, 2, 3);
    insert_cells(block, 10, moved);
    ht::move(t, 2, 10, 3);
    expect_all_found(t, block);
    // Reverse the block in place, then reindex everything.
    for (uint32_t i = 0, j = length_of(block) - 1; i < j; ++i, --j) std::swap(*cell_at(block, i), *cell_at(block, j));
    ht::reindex(t, 0, ht::ALL);
    expect_all_found(t, block);
    // Poke one value.
    *cell_at(block, 7) = string_cell("new");
    ht::reindex(t, 7, 1);
    expect_all_found(t, block);
    // A block that shrank: stale positions leave.
    remove_cells(block, 15, 5);
    ht::reindex(t, 12, ht::ALL);
    EXPECT_EQ(ht::record(t)->live, 15u);
    expect_all_found(t, block);
}

TEST_F(HashTable, RandomEditsAgreeWithALinearScan) {
    std::mt19937 rng(77);
    Off block = block_of({});
    Off t = ht::init(1, block, ht::HASH, 0);
    for (int step = 0; step < 3000; ++step) {
        uint32_t len = length_of(block);
        switch (rng() % 4) {
            case 0:
            case 1: {
                uint32_t pos = len ? rng() % (len + 1) : 0;
                std::vector<Cell> add;
                for (uint32_t i = rng() % 4 + 1; i > 0; --i) add.push_back(integer(int32_t(rng() % 50)));
                insert_cells(block, pos, add);
                ht::insert_values(t, pos, uint32_t(add.size()));
                break;
            }
            case 2:
                if (len) {
                    uint32_t pos = rng() % len, count = rng() % 4 + 1;
                    uint32_t n = count < len - pos ? count : len - pos;
                    ht::delete_range(t, pos, count);
                    remove_cells(block, pos, n);
                }
                break;
            default:
                if (len) {
                    uint32_t pos = rng() % len;
                    *cell_at(block, pos) = integer(int32_t(rng() % 50));
                    ht::reindex(t, pos, 1);
                }
        }
        if (step % 50 == 0) expect_all_found(t, block);
    }
    expect_all_found(t, block);
    EXPECT_EQ(ht::record(t)->live, length_of(block));
}

TEST_F(HashTable, CopyOfAHashIsIndependent) {
    Off block = block_of({integer(1), integer(2), integer(1)});
    Off t = ht::init(3, block, ht::HASH, 0);
    Off block2 = series::copy_node(block);
    Off t2 = ht::copy(t, block2);
    ht::remove_position(t, 0);
    ht::remove_position(t, 2);
    Cell one = integer(1);
    EXPECT_EQ(ht::find(t, &one), -1);
    EXPECT_EQ(ht::find(t2, &one), 0);
    EXPECT_EQ(ht::find_from(t2, &one, false, 1), 2);
    EXPECT_EQ(ht::record(t2)->values, block2);
}

// ---- map! ---------------------------------------------------------------------------------

TEST_F(HashTable, MapKeysRemovalAndRevival) {
    Cell none{TYPE_NONE, 0, 0, 0};
    Off pairs = block_of({string_cell("ABC"), integer(1), Cell{TYPE_SET_WORD, 0, 5, 0}, integer(2)});
    Off t = ht::init(2, pairs, ht::MAP, 0);
    EXPECT_EQ(ht::record(t)->live, 2u);
    Cell abc = string_cell("abc");
    Cell word{TYPE_WORD, 0, 5, uint32_t(-1)};
    EXPECT_EQ(ht::find(t, &abc), 0);
    EXPECT_EQ(ht::find(t, &abc, true), -1);
    EXPECT_EQ(ht::find(t, &word), 2);  // a word finds its set-word key
    EXPECT_EQ(ht::find(t, &none), -1);

    EXPECT_TRUE(ht::remove_key(t, &abc));
    EXPECT_FALSE(ht::remove_key(t, &abc));
    EXPECT_EQ(cell_at(pairs, 1)->header, 0u);
    EXPECT_EQ(ht::record(t)->live, 1u);
    EXPECT_EQ(ht::find(t, &abc), 0);  // the key stays, the entry is removed

    // Putting the key again revives the entry in place.
    *series::alloc_tail_cell(buffer_of(pairs)) = string_cell("Abc");
    *series::alloc_tail_cell(buffer_of(pairs)) = integer(9);
    EXPECT_EQ(ht::put(t, 4), 0);
    EXPECT_EQ(ht::record(t)->live, 2u);
    // A new key is added.
    *cell_at(pairs, 4) = string_cell("new");
    EXPECT_EQ(ht::put(t, 4), -1);
    EXPECT_EQ(ht::record(t)->live, 3u);
    Cell key = string_cell("NEW");
    EXPECT_EQ(ht::find(t, &key), 4);
}

TEST_F(HashTable, MapBuiltStrictlyKeepsCaseVariantsApart) {
    Off pairs = block_of({string_cell("abc"), integer(1), string_cell("ABC"), integer(2), string_cell("abc"),
                          integer(3)});
    Off t = ht::init(3, pairs, ht::MAP, 0);
    // "abc" twice: the first entry takes the later value, the repeat is dropped.
    EXPECT_EQ(ht::record(t)->live, 2u);
    EXPECT_EQ(cell_at(pairs, 1)->w2, 3u);
    EXPECT_EQ(cell_at(pairs, 5)->header, 0u);
    Cell key = string_cell("aBc");
    ht::Cursor c;
    std::set<int32_t> found;
    for (int32_t p = ht::find_first(t, &key, false, c); p >= 0; p = ht::find_next(t, &key, false, c)) found.insert(p);
    EXPECT_EQ(found, (std::set<int32_t>{0, 2}));
    Cell upper = string_cell("ABC");
    EXPECT_EQ(ht::find(t, &upper, true), 2);
}

TEST_F(HashTable, MapGrowsWhileKeysArePut) {
    Off pairs = block_of({});
    Off t = ht::init(1, pairs, ht::MAP, 0);
    for (int i = 0; i < 3000; ++i) {
        *series::alloc_tail_cell(buffer_of(pairs)) = string_cell("key" + std::to_string(i));
        *series::alloc_tail_cell(buffer_of(pairs)) = integer(i);
        ASSERT_EQ(ht::put(t, uint32_t(2 * i)), -1);
    }
    EXPECT_EQ(ht::record(t)->live, 3000u);
    for (int i = 0; i < 3000; i += 7) {
        Cell k = string_cell("KEY" + std::to_string(i), 2);
        ASSERT_EQ(ht::find(t, &k), 2 * i);
    }
    ht::clear(t);
    Cell k0 = string_cell("key0");
    EXPECT_EQ(ht::find(t, &k0), -1);
    EXPECT_EQ(ht::record(t)->live, 0u);
}

// ---- Symbols and context words ---------------------------------------------------------------

uint32_t intern(Off t, const std::string& s, bool any_case = false) {
    return ht::find_string(t, reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()), any_case);
}
Cell* symbol_cell(Off t, uint32_t id) { return cell_at(ht::record(t)->values, id - 1); }
std::string symbol_name(Off t, uint32_t id) {
    SeriesBuffer* b = buffer_of(symbol_cell(t, id)->w3);
    return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->byte_count());
}

TEST_F(HashTable, SymbolsInternWithCaseAliases) {
    Off symbols = memory::alloc_cells(16);
    Off t = ht::init(16, symbols, ht::WORDS, 1);
    uint32_t foo = intern(t, "Foo"), foo2 = intern(t, "foo"), foo3 = intern(t, "FOO");
    EXPECT_EQ(foo, 1u);
    EXPECT_EQ(foo2, 2u);
    EXPECT_EQ(foo3, 3u);
    EXPECT_EQ(int32_t(symbol_cell(t, foo)->w1), -1);
    EXPECT_EQ(symbol_cell(t, foo2)->w1, foo);
    EXPECT_EQ(symbol_cell(t, foo3)->w1, foo);
    EXPECT_EQ(symbol_cell(t, foo2)->type(), TYPE_SYMBOL);
    EXPECT_EQ(symbol_cell(t, foo2)->w2, 0u);
    EXPECT_EQ(symbol_name(t, foo3), "FOO");
    EXPECT_EQ(series::head_of(symbol_cell(t, foo3)->w3)[3], 0);  // NUL after the tail
    EXPECT_EQ(intern(t, "foo"), foo2);                           // the same name twice
    EXPECT_EQ(intern(t, "fOO", true), foo);                      // any case: the first variant
    uint32_t count = series::count(symbols);
    EXPECT_EQ(count, 3u);
    // Any-case interning of a new name adds it without alias.
    uint32_t bar = intern(t, "BAR", true);
    EXPECT_EQ(int32_t(symbol_cell(t, bar)->w1), -1);
    // Non-ASCII case differences are unrelated names; the empty name is valid.
    uint32_t e1 = intern(t, "\xC3\x89t\xC3\xA9"), e2 = intern(t, "\xC3\xA9t\xC3\xA9");
    EXPECT_NE(e1, e2);
    EXPECT_EQ(int32_t(symbol_cell(t, e2)->w1), -1);
    uint32_t empty = intern(t, "");
    EXPECT_EQ(intern(t, ""), empty);
    EXPECT_EQ(symbol_name(t, empty), "");
}

TEST_F(HashTable, SymbolTableGrowsAndKeepsEveryIdAndAlias) {
    Off symbols = memory::alloc_cells(16);
    static Off table;
    table = ht::init(8, symbols, ht::WORDS, 1);
    ht::register_symbol_table(&table);
    std::vector<uint32_t> ids;
    for (int i = 0; i < 20000; ++i) ids.push_back(intern(table, "name-" + std::to_string(i)));
    for (int i = 0; i < 20000; i += 3) ids.push_back(intern(table, "NAME-" + std::to_string(i)));
    EXPECT_GT(ht::record(table)->buckets, 20000u);
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(intern(table, "name-" + std::to_string(i)), ids[i]);
        ASSERT_EQ(ids[i], uint32_t(i + 1));
    }
    for (int i = 0, k = 20000; i < 20000; i += 3, ++k) {
        ASSERT_EQ(symbol_cell(table, ids[k])->w1, ids[i]);
        ASSERT_EQ(ht::canonical_symbol(ids[k]), ids[i]);
        ASSERT_EQ(intern(table, "Name-" + std::to_string(i), true), ids[i]);
    }
    // A table made over an existing symbol block indexes it in place order.
    Off again = ht::init(10, symbols, ht::WORDS, 1);
    EXPECT_EQ(ht::record(again)->live, series::count(symbols));
    EXPECT_EQ(intern(again, "name-123"), ids[123]);
    EXPECT_EQ(intern(again, "NAME-123"), ids[20000 + 41]);
}

TEST_F(HashTable, ContextWordsLookUpByCanonicalSymbol) {
    Off symbols = memory::alloc_cells(16);
    static Off table;
    table = ht::init(16, symbols, ht::WORDS, 1);
    ht::register_symbol_table(&table);
    uint32_t a = intern(table, "alpha"), A = intern(table, "ALPHA"), b = intern(table, "beta");
    Off words = ht::init(4, 0, ht::WORDS, 2);
    const Off context = 0x1234;  // any non-null node: stored in the new word cells
    int32_t added = -2;
    EXPECT_EQ(ht::find_symbol(words, a, true, 0), -1);  // absent, nothing added without a context
    EXPECT_EQ(ht::find_symbol(words, a, true, context, &added), -1);
    EXPECT_EQ(added, 0);
    EXPECT_EQ(ht::find_symbol(words, b, false, context, &added), -1);
    EXPECT_EQ(added, 1);
    EXPECT_EQ(ht::find_symbol(words, A, true, 0), 0);   // case-insensitive: the alias matches
    EXPECT_EQ(ht::find_symbol(words, A, false, 0), -1);  // exact: it does not
    Cell* w = cell_at(ht::record(words)->values, 1);
    EXPECT_EQ(w->type(), TYPE_WORD);
    EXPECT_EQ(w->w1, context);
    EXPECT_EQ(w->w2, b);
    EXPECT_EQ(w->w3, 1u);
    // Many words: the table grows by the word-table rule.
    for (int i = 0; i < 500; ++i) ht::find_symbol(words, intern(table, "w" + std::to_string(i)), true, context, &added);
    EXPECT_EQ(ht::record(words)->live, 502u);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(ht::find_symbol(words, intern(table, "W" + std::to_string(i)), true, 0), i + 2);
    // A copy is independent.
    Off copy = ht::copy_words(words);
    ht::find_symbol(copy, intern(table, "only-in-copy"), true, context, &added);
    EXPECT_EQ(ht::find_symbol(words, intern(table, "only-in-copy"), true, 0), -1);
    EXPECT_EQ(ht::find_symbol(copy, b, false, 0), 1);
    EXPECT_NE(ht::record(copy)->values, ht::record(words)->values);
}

// A small word table has no index until a word past SMALL_WORDS is added;
// before and after, every word is found exactly and by its case variant,
// and a copy of a small table is independent.
TEST_F(HashTable, SmallContextWordsAreScannedUntilTheyOutgrowIt) {
    Off symbols = memory::alloc_cells(16);
    static Off table;
    table = ht::init(16, symbols, ht::WORDS, 1);
    ht::register_symbol_table(&table);
    const Off context = 0x1234;
    Off words = ht::init(3, 0, ht::WORDS, 2);
    int32_t added = -2;
    for (uint32_t n = 0; n < ht::SMALL_WORDS + 4; ++n) {
        EXPECT_EQ(ht::record(words)->buckets == 0, n <= ht::SMALL_WORDS) << n;
        for (uint32_t i = 0; i < n; ++i) {
            ASSERT_EQ(ht::find_symbol(words, intern(table, "v" + std::to_string(i)), false, 0), int32_t(i));
            ASSERT_EQ(ht::find_symbol(words, intern(table, "V" + std::to_string(i)), true, 0), int32_t(i));
            ASSERT_EQ(ht::find_symbol(words, intern(table, "V" + std::to_string(i)), false, 0), -1);
        }
        EXPECT_EQ(ht::find_symbol(words, intern(table, "v" + std::to_string(n)), true, context, &added), -1);
        EXPECT_EQ(added, int32_t(n));
        EXPECT_EQ(ht::record(words)->live, n + 1);
        if (n == 5) {
            Off copy = ht::copy_words(words);
            ht::find_symbol(copy, intern(table, "only-in-copy"), true, context, &added);
            EXPECT_EQ(added, 6);
            EXPECT_EQ(ht::find_symbol(words, intern(table, "only-in-copy"), true, 0), -1);
            EXPECT_EQ(ht::find_symbol(copy, intern(table, "V3"), true, 0), 3);
        }
    }
    // A word table made for more words is indexed from the start.
    EXPECT_NE(ht::record(ht::init(ht::SMALL_WORDS + 1, 0, ht::WORDS, 2))->buckets, 0u);
}

TEST_F(HashTable, WordKeysOfAHashCompareByCanonicalSymbol) {
    Off symbols = memory::alloc_cells(16);
    static Off table;
    table = ht::init(16, symbols, ht::WORDS, 1);
    ht::register_symbol_table(&table);
    uint32_t x = intern(table, "x"), X = intern(table, "X");
    Off block = block_of({Cell{TYPE_WORD, 0, x, 0}, integer(1), Cell{TYPE_SET_WORD, 0, X, 0}});
    Off t = ht::init(3, block, ht::HASH, 0);
    Cell lit{TYPE_LIT_WORD, 0, X, 0};
    EXPECT_EQ(ht::find(t, &lit), 0);
    EXPECT_EQ(ht::find_from(t, &lit, false, 1), 2);
    EXPECT_EQ(ht::find(t, &lit, true), 2);
}

// ---- Node-keyed tables ---------------------------------------------------------------------------

TEST_F(HashTable, IntegerKeysPutGetRemove) {
    Off t = ht::init(4, 0, ht::OWNERSHIP, 3);
    EXPECT_EQ(ht::record(t)->index, 64u);  // (3 + 1) x 16
    EXPECT_EQ(ht::record(t)->stamp, 1u);
    std::mt19937 rng(3);
    std::map<Off, uint32_t> expect;
    for (int i = 0; i < 3000; ++i) {
        Off key = (rng() % 100000 + 1) * 4;
        Cell* v = ht::put_int(t, key);
        if (!expect.count(key)) {
            EXPECT_EQ(v[0].type(), TYPE_UNSET);
            EXPECT_EQ(v[2].type(), TYPE_UNSET);
        }
        v[0] = integer(i);
        expect[key] = uint32_t(i);
    }
    EXPECT_EQ(ht::record(t)->live, expect.size());
    uint32_t n = 0;
    std::vector<Off> removed;
    for (auto it = expect.begin(); it != expect.end(); ++n) {
        if (n % 2) {
            EXPECT_TRUE(ht::remove_int(t, it->first));
            EXPECT_FALSE(ht::remove_int(t, it->first));
            removed.push_back(it->first);
            it = expect.erase(it);
        } else {
            ++it;
        }
    }
    for (auto [key, value] : expect) {
        Cell* v = ht::get_int(t, key);
        ASSERT_NE(v, nullptr);
        ASSERT_EQ(v[0].w2, value);
    }
    for (Off key : removed) ASSERT_EQ(ht::get_int(t, key), nullptr);
    EXPECT_EQ(ht::record(t)->live, expect.size());
    // Re-inserting a removed key gives fresh unset cells.
    EXPECT_EQ(ht::put_int(t, removed[0])[0].type(), TYPE_UNSET);
    EXPECT_EQ(ht::record(t)->live, expect.size() + 1);
}

// ---- Stamps, marking, collection ---------------------------------------------------------------------

uint32_t fake_compactions = 0;
uint32_t compaction_count() { return fake_compactions; }

TEST_F(HashTable, AHashKeyedByNodesIsRebuiltAfterNodeCompaction) {
    ht::CollectorLink link;
    link.compaction_count = compaction_count;
    ht::connect_collector(link);
    fake_compactions = 0;
    Off inner = memory::alloc_cells(1);
    Off block = block_of({integer(1), integer(2)});
    Off t = ht::init(4, block, ht::HASH, 0);
    EXPECT_EQ(ht::record(t)->stamp, 0u);
    *series::alloc_tail_cell(buffer_of(block)) = Cell{TYPE_BLOCK, 0, inner, 0};
    ht::put(t, 2);
    EXPECT_EQ(ht::record(t)->stamp, 1u);
    // Node compaction moved the inner block to another node and rewrote the
    // cell: its hash changed, so the table must rebuild before the next look-up.
    Off moved_to = inner + 4;
    cell_at(block, 2)->w2 = moved_to;
    fake_compactions = 1;
    Off keys_before = ht::record(t)->keys;
    Cell key{TYPE_BLOCK, 0, moved_to, 0};
    EXPECT_EQ(ht::find(t, &key), 2);
    EXPECT_NE(ht::record(t)->keys, keys_before);
    EXPECT_EQ(ht::record(t)->stamp, 2u);
}

std::set<Off> marked_nodes;
std::vector<std::pair<Cell*, Cell*>> marked_ranges;
bool test_mark_node(Off* ref) {
    if (!*ref) return false;
    SeriesBuffer* b = buffer_of(*ref);
    bool fresh = !(b->flags & series_flag::MARKED);
    b->flags |= series_flag::MARKED;
    marked_nodes.insert(*ref);
    return fresh;
}
void test_mark_cells(Cell* first, Cell* end) { marked_ranges.push_back({first, end}); }

TEST_F(HashTable, MarkReachesEveryPartOfTheTable) {
    ht::CollectorLink link;
    link.mark_node = test_mark_node;
    link.mark_cells = test_mark_cells;
    ht::connect_collector(link);
    marked_nodes.clear();
    Off block = block_of({integer(1), integer(1), integer(2), integer(1)});
    Off t = ht::init(4, block, ht::HASH, 0);
    Off ref = t;
    ht::mark(&ref);
    ht::Record* r = ht::record(t);
    for (Off n : {t, r->flags, r->keys, r->index, r->chains, r->values}) EXPECT_TRUE(marked_nodes.count(n)) << n;
    const uint32_t* ch = reinterpret_cast<const uint32_t*>(series::head_of(r->chains));
    ASSERT_EQ(series::count(r->chains), 2u);
    EXPECT_TRUE(marked_nodes.count(ch[1]));  // the chain of the three 1s
    // A second mark does not descend again.
    size_t count = marked_nodes.size();
    marked_nodes.clear();
    ht::mark(&ref);
    EXPECT_EQ(marked_nodes.size(), 1u);
    EXPECT_GT(count, 6u);
}

TEST_F(HashTable, PurgeDropsEntriesWhoseSeriesOrOwnerIsUnmarked) {
    ht::CollectorLink link;
    link.mark_node = test_mark_node;
    link.mark_cells = test_mark_cells;
    ht::connect_collector(link);
    Off t = ht::init(8, 0, ht::OWNERSHIP, 3);
    Off kept = memory::alloc_cells(2), dropped = memory::alloc_bytes(8), orphan = memory::alloc_cells(1);
    Off owner_ctx = memory::alloc_cells(2), dead_ctx = memory::alloc_cells(2);
    ht::put_int(t, kept)[1] = Cell{TYPE_OBJECT, owner_ctx, 0, 0};
    ht::put_int(t, dropped)[1] = Cell{TYPE_OBJECT, owner_ctx, 0, 0};
    ht::put_int(t, orphan)[1] = Cell{TYPE_OBJECT, dead_ctx, 0, 0};
    // The collector marked these, not the others.
    for (Off n : {kept, orphan, owner_ctx}) buffer_of(n)->flags |= series_flag::MARKED;
    ht::purge(t);
    EXPECT_NE(ht::get_int(t, kept), nullptr);
    EXPECT_EQ(ht::get_int(t, dropped), nullptr);
    EXPECT_EQ(ht::get_int(t, orphan), nullptr);
    EXPECT_EQ(ht::record(t)->live, 1u);
    // Marking the table marks the key series of live entries, with their cells.
    for (Off n : {kept, orphan, owner_ctx}) buffer_of(n)->flags &= ~series_flag::MARKED;
    marked_nodes.clear();
    marked_ranges.clear();
    Off ref = t;
    ht::mark(&ref);
    EXPECT_TRUE(marked_nodes.count(kept));
    EXPECT_FALSE(marked_nodes.count(dropped));
    EXPECT_EQ(marked_ranges.size(), 2u);  // the kept series' cells, then the entry cells
}

int collections = 0;
void count_collection() { ++collections; }

TEST_F(HashTable, TableOperationsNeverStartACollection) {
    memory::collect_hook = count_collection;
    memory::collection_enabled = true;
    collections = 0;
    Off block = block_of({});
    memory::collection_enabled = false;  // building the test data may collect: not counted
    for (int i = 0; i < 20000; ++i) *series::alloc_tail_cell(buffer_of(block)) = integer(i % 1000);
    Off symbols = memory::alloc_cells(4);
    memory::collection_enabled = true;
    int before = collections;
    Off t = ht::init(2, block, ht::HASH, 0);
    Off ints = ht::init(2, 0, ht::INTEGER, 1);
    for (Off k = 4; k < 200000; k += 4) ht::put_int(ints, k);
    Off names = ht::init(2, symbols, ht::WORDS, 1);
    for (int i = 0; i < 5000; ++i) intern(names, std::to_string(i));
    EXPECT_EQ(collections, before);
    EXPECT_TRUE(memory::collection_enabled);  // restored after each operation
    EXPECT_EQ(ht::record(t)->live, 20000u);
}

// ---- Relocation map ----------------------------------------------------------------------------

TEST_F(HashTable, RelocationMapFindsEveryMovedNode) {
    ht::RelocationMap* m = ht::relocation_create(20000);
    EXPECT_EQ(m->buckets, 32768u);
    for (Off from = 4; from <= 4 * 60000; from += 4) ht::relocation_put(m, from, from + 0x100000);
    EXPECT_EQ(m->live, 60000u);
    EXPECT_GT(m->buckets, 60000u);
    for (Off from = 4; from <= 4 * 60000; from += 4) ASSERT_EQ(ht::relocation_get(m, from), from + 0x100000);
    EXPECT_EQ(ht::relocation_get(m, 3), 0u);
    EXPECT_EQ(ht::relocation_get(m, 4 * 60001), 0u);
    ht::relocation_put(m, 4, 8);
    EXPECT_EQ(ht::relocation_get(m, 4), 8u);
    EXPECT_EQ(m->live, 60000u);
    ht::relocation_destroy(m);
}

}  // namespace
