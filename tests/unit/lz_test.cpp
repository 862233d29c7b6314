// The LZ codec: round trips, the bit layout of a hand-written stream, and
// corrupt streams refused without reading or writing out of bounds.
#include "runtime/lz.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace kiv;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t MAX = 64 << 20;

// Writes fields least significant bit first, as the stream reads them.
struct Bits {
    Bytes out;
    uint32_t cnt = 0;
    void put(uint32_t v, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i, ++cnt) {
            if (cnt % 8 == 0) out.push_back(0);
            out.back() |= uint8_t(((v >> i) & 1) << (cnt % 8));
        }
    }
    void literal(char c) {
        put(0, 1);
        put(uint8_t(c), 8);
    }
};

void le32(Bytes& b, uint32_t v) {
    for (int k = 0; k < 4; ++k) b.push_back(uint8_t(v >> (8 * k)));
}

// A stream of one block.
Bytes stream(uint32_t size, uint32_t block_len, const Bytes& bits) {
    Bytes s;
    le32(s, uint32_t(bits.size() + 4));
    le32(s, size);
    le32(s, block_len);
    s.insert(s.end(), bits.begin(), bits.end());
    return s;
}

// "abc" then a copy of 6 from 3 back: n = 3 (prefix 1, extra 3), j = 2, b = 2.
Bits abc_copy(uint32_t b) {
    Bits w;
    w.literal('a');
    w.literal('b');
    w.literal('c');
    w.put(1, 1);
    w.put(1, 1);
    w.put(3, 2);
    w.put(0, 4);
    w.put(b, 3);
    return w;
}

std::vector<Bytes> inputs() {
    std::vector<Bytes> v;
    std::mt19937 rng(3);
    Bytes text;
    const std::string words[] = {"serialize ", "block ", "word ", "context ", "value "};
    while (text.size() < 300000) {
        const std::string& w = words[rng() % 5];
        text.insert(text.end(), w.begin(), w.end());
    }
    v.push_back(text);
    Bytes random(200000);
    for (auto& b : random) b = uint8_t(rng());
    v.push_back(random);
    v.push_back(Bytes(3 << 20, 7));  // several blocks
    v.push_back(Bytes(128, 'x'));
    return v;
}

}  // namespace

TEST(Lz, RoundTrips) {
    for (const Bytes& in : inputs()) {
        const Bytes z = lz::compress(in.data(), in.size());
        ASSERT_FALSE(z.empty());
        Bytes out;
        ASSERT_TRUE(lz::decompress(z.data(), z.size(), &out, MAX));
        EXPECT_EQ(out, in);
    }
    EXPECT_TRUE(lz::compress(inputs()[0].data(), 127).empty());
}

TEST(Lz, ReadsAHandWrittenStream) {
    Bytes out;
    ASSERT_TRUE(lz::decompress(stream(9, 9, abc_copy(2).out).data(), stream(9, 9, abc_copy(2).out).size(),
                               &out, MAX));
    EXPECT_EQ(std::string(out.begin(), out.end()), "abcabcabc");
}

TEST(Lz, RefusesCorruptStreams) {
    const Bytes good = abc_copy(2).out;
    struct Case {
        const char* what;
        Bytes s;
    };
    Bytes short_packed = stream(9, 9, good);
    short_packed[0] += 1;  // compressed size past the input
    Bytes two_blocks = stream(9, 9, good);
    le32(two_blocks, 1);  // one more block, beyond the declared size
    two_blocks[0] += 4;
    const Case cases[] = {
        {"no header", {1, 2, 3}},
        {"copy before the block", stream(9, 9, abc_copy(3).out)},
        {"copy past the block", stream(8, 8, good)},
        {"block longer than the size", stream(6, 9, good)},
        {"size never reached", stream(12, 9, good)},
        {"empty block", stream(9, 0, good)},
        {"block over 1 MiB", stream(0x200000, 0x100001, good)},
        {"bits run out", stream(9, 9, Bytes(good.begin(), good.end() - 1))},
        {"compressed size past the input", short_packed},
        {"declared size beyond what the stream can hold", stream(100000, 9, good)},
        {"trailing bytes inside the compressed size", two_blocks},
    };
    for (const Case& c : cases) {
        Bytes out = {1};
        EXPECT_FALSE(lz::decompress(c.s.data(), c.s.size(), &out, MAX)) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
    // The caller's bound.
    const Bytes z = lz::compress(inputs()[2].data(), inputs()[2].size());
    Bytes out;
    EXPECT_FALSE(lz::decompress(z.data(), z.size(), &out, (3 << 20) - 1));
    // Every cut of a valid stream.
    const Bytes t = lz::compress(inputs()[0].data(), 5000);
    for (size_t cut = 0; cut < t.size(); ++cut) EXPECT_FALSE(lz::decompress(t.data(), cut, &out, MAX)) << cut;
}
