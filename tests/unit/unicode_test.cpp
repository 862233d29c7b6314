// Unicode transcoding: the UTF-8 decoders, encoders, widening, the UTF-8 and
// UTF-16 loaders and the conversion cache.
#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "runtime/error.h"
#include "runtime/memory.h"

using namespace kiv;
namespace uc = kiv::unicode;

namespace {

using Bytes = std::vector<uint8_t>;
using Units = std::vector<uint32_t>;

Bytes bytes(std::initializer_list<int> list) {
    Bytes b;
    for (int x : list) b.push_back(uint8_t(x));
    return b;
}

Bytes bytes_of(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Reference encoder, written from the UTF-8 bit layout.
Bytes utf8_of(const Units& cps) {
    Bytes out;
    for (uint32_t c : cps) {
        if (c < 0x80) {
            out.push_back(uint8_t(c));
        } else if (c < 0x800) {
            out.push_back(uint8_t(0xC0 | (c >> 6)));
            out.push_back(uint8_t(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(uint8_t(0xE0 | (c >> 12)));
            out.push_back(uint8_t(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(uint8_t(0x80 | (c & 0x3F)));
        } else {
            out.push_back(uint8_t(0xF0 | (c >> 18)));
            out.push_back(uint8_t(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(uint8_t(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(uint8_t(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// Reference for well-formed UTF-8 (the table of well-formed byte sequences),
// encoded surrogates included (text may hold them, unicode.h): the code
// point, or -1 with the 1-based index of the byte that breaks it.
struct RefResult {
    int32_t cp;
    int consumed;
};
RefResult ref_decode(const uint8_t* b) {
    uint32_t b0 = b[0];
    if (b0 < 0x80) return {int32_t(b0), 1};
    int n;
    uint32_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
    } else if (b0 == 0xE0) {
        n = 3, lo = 0xA0;
    } else if (b0 >= 0xE1 && b0 <= 0xEF) {
        n = 3;
    } else if (b0 == 0xF0) {
        n = 4, lo = 0x90;
    } else if (b0 >= 0xF1 && b0 <= 0xF3) {
        n = 4;
    } else if (b0 == 0xF4) {
        n = 4, hi = 0x8F;
    } else {
        return {-1, 1};
    }
    if (b[1] < lo || b[1] > hi) return {-1, 2};
    for (int i = 2; i < n; ++i)
        if (b[i] < 0x80 || b[i] > 0xBF) return {-1, i + 1};
    uint32_t cp = n == 2 ? b0 & 0x1F : n == 3 ? b0 & 0x0F : b0 & 0x07;
    for (int i = 1; i < n; ++i) cp = (cp << 6) | (b[i] & 0x3F);
    return {int32_t(cp), n};
}

RaisedError expect_fire(const std::function<void()>& f) {
    try {
        f();
    } catch (const RaisedError& e) {
        return e;
    }
    ADD_FAILURE() << "no error was raised";
    return RaisedError{};
}

class Memory : public ::testing::Test {
  protected:
    void SetUp() override {
        memory::init();
        memory::init_frames();
    }
};

Off make_text(const Units& cps, uint32_t unit, int32_t head_offset = 0) {
    // A head-centred buffer has only half its size after the head.
    uint32_t count = uint32_t(cps.size()) + 1;
    Off node = memory::alloc_series(head_offset < 0 ? 2 * count : count, unit, head_offset);
    SeriesBuffer* b = buffer_of(node);
    uint8_t* p = b->head_ptr();
    for (uint32_t c : cps) {
        std::memcpy(p, &c, unit);  // little-endian host: the low bytes
        p += unit;
    }
    b->tail = b->head + uint32_t(cps.size()) * unit;
    return node;
}

Cell string_cell(Off node, uint32_t index = 0) {
    return Cell{TYPE_STRING, index, node, 0};
}

Units contents(Off node) {
    const SeriesBuffer* b = buffer_of(node);
    uint32_t unit = b->unit();
    Units out;
    for (Off o = b->head; o < b->tail; o += unit) {
        uint32_t v = 0;
        std::memcpy(&v, arena::ptr(o), unit);
        out.push_back(v);
    }
    return out;
}

uint32_t unit_of(Off node) {
    return buffer_of(node)->unit();
}

Bytes binary_arg(const RaisedError& e) {
    EXPECT_EQ(e.arg_count, 1);
    EXPECT_EQ(e.args[0].type(), uint32_t(TYPE_BINARY));
    const SeriesBuffer* b = buffer_of(e.args[0].w2);
    return Bytes(b->head_ptr() + e.args[0].w1, b->tail_ptr());
}

}  // namespace

// ---- The fast decoder -------------------------------------------------------------

TEST(Utf8Dfa, ByteClassesFollowTheClassList) {
    struct Range {
        int lo, hi, cls;
    };
    const Range ranges[] = {{0x00, 0x7F, 0}, {0x80, 0x8F, 1}, {0x90, 0x9F, 9},  {0xA0, 0xBF, 7},
                            {0xC0, 0xC1, 8}, {0xC2, 0xDF, 2}, {0xE0, 0xE0, 10}, {0xE1, 0xEC, 3},
                            {0xED, 0xED, 4}, {0xEE, 0xEF, 3}, {0xF0, 0xF0, 11}, {0xF1, 0xF3, 6},
                            {0xF4, 0xF4, 5}, {0xF5, 0xFF, 8}};
    for (const Range& r : ranges)
        for (int b = r.lo; b <= r.hi; ++b) EXPECT_EQ(uc::utf8_dfa[b], r.cls) << std::hex << b;
    // The start state's row: the published first transition row.
    const uint8_t row0[12] = {0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72};
    for (int c = 0; c < 12; ++c) EXPECT_EQ(uc::utf8_dfa[256 + c], row0[c]);
    // The reject state only leads to reject.
    for (int c = 0; c < 12; ++c) EXPECT_EQ(uc::utf8_dfa[256 + 12 + c], 12);
}

// Every sequence of one to three bytes, and every four-byte sequence over a
// set of bytes that covers each byte class: the fast decoder and the
// validating decoder both agree with the reference, and the fast decoder stops
// right after the offending byte.
TEST(Utf8Dfa, AgreesWithTheReferenceOnAllShortSequences) {
    const uint8_t probe[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                             0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                             0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFF};
    long mismatches = 0;
    auto check = [&](const uint8_t* buf) {
        RefResult ref = ref_decode(buf);
        int32_t cp;
        const uint8_t* next = uc::fast_decode_utf8_char(buf, &cp);
        if (cp != ref.cp || next - buf != ref.consumed) ++mismatches;
        uint32_t used = 0;
        int32_t v = uc::check_utf8_char(buf, 4, &used);
        int32_t want = ref.cp == 0xFFFE ? uc::UTF8_INVALID : ref.cp < 0 ? uc::UTF8_INVALID : ref.cp;
        if (v != want || (v >= 0 && int(used) != ref.consumed)) ++mismatches;
    };
    uint8_t buf[8] = {};
    for (int a = 0; a < 256; ++a) {
        buf[0] = uint8_t(a);
        for (int b = 0; b < 256; ++b) {
            buf[1] = uint8_t(b);
            for (int c = 0; c < 256; ++c) {
                buf[2] = uint8_t(c);
                buf[3] = 0x00;  // ends any four-byte sequence
                check(buf);
            }
        }
    }
    for (int a = 0xF0; a < 256; ++a)
        for (uint8_t b : probe)
            for (uint8_t c : probe)
                for (uint8_t d : probe) {
                    const uint8_t seq[4] = {uint8_t(a), b, c, d};
                    check(seq);
                }
    EXPECT_EQ(mismatches, 0);
}

TEST(Utf8Dfa, EveryScalarValueRoundTrips) {
    uint8_t buf[8];
    for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        int n = uc::encode_utf8_char(cp, buf);
        ASSERT_EQ(n, uc::utf8_char_size(cp));
        int32_t got;
        const uint8_t* next = uc::fast_decode_utf8_char(buf, &got);
        ASSERT_EQ(got, int32_t(cp)) << std::hex << cp;  // surrogates included
        ASSERT_EQ(next - buf, n);
        uint32_t used;
        int32_t v = uc::check_utf8_char(buf, uint32_t(n), &used);
        ASSERT_EQ(v, cp == 0xFFFE ? uc::UTF8_INVALID : int32_t(cp)) << std::hex << cp;
    }
}

TEST(Utf8Count, CountsAndSkipsLikeTheDecoder) {
    struct Case {
        Bytes in;
        uint32_t chars;
    };
    const std::vector<Case> cases = {
        {{}, 0},
        {bytes_of("abc"), 3},
        {bytes_of(std::string(100, 'x')), 100},
        {bytes({0x61, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}), 4},
        {bytes({0x80, 0x80}), 2},              // each stray continuation byte is one
        {bytes({0x61, 0xE2}), 2},              // a character cut by the end counts as one
        {bytes({0x61, 0xF0, 0x9F, 0x98}), 2},  // idem, three bytes before the end
        {bytes({0xE2, 0x41, 0x42}), 2},        // bad continuation consumed with its lead
        {bytes({0xC0, 0x80, 0x41}), 3},        // overlong: rejected lead, then stray 80
    };
    for (const Case& c : cases) {
        // Exactly sized heap copies: a read past the end shows under ASan.
        std::vector<uint8_t> in(c.in);
        const uint8_t* b = in.data();
        EXPECT_EQ(uc::count_utf8_chars(b, b + in.size()), c.chars);
        EXPECT_EQ(uc::skip_utf8_chars(b, b + in.size(), 1000), b + in.size());
    }
    std::string mixed = "aa\xC3\xA9" + std::string(20, 'b') + "\xE2\x82\xAC" + "cc";
    const uint8_t* m = reinterpret_cast<const uint8_t*>(mixed.data());
    const uint8_t* end = m + mixed.size();
    EXPECT_EQ(uc::skip_utf8_chars(m, end, 0), m);
    EXPECT_EQ(uc::skip_utf8_chars(m, end, 2), m + 2);
    EXPECT_EQ(uc::skip_utf8_chars(m, end, 3), m + 4);
    EXPECT_EQ(uc::skip_utf8_chars(m, end, 23), m + 24);
    EXPECT_EQ(uc::skip_utf8_chars(m, end, 24), m + 27);
    EXPECT_EQ(uc::skip_utf8_chars(m, end, 25), m + 28);
}

// The word-at-a-time paths give the same answers as stepping the decoder.
TEST(Utf8Count, FastPathsMatchStepping) {
    std::mt19937 rng(12345);
    const uint8_t pool[] = {'a', 'b', 0x0A, 0x80, 0xBF, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0xED, 0xFF};
    for (int round = 0; round < 3000; ++round) {
        size_t n = rng() % 90;
        std::vector<uint8_t> in(n);
        bool ascii_heavy = rng() % 2;
        for (auto& b : in)
            b = ascii_heavy && rng() % 8 ? uint8_t('a' + rng() % 26) : pool[rng() % sizeof pool];
        std::vector<uint8_t> padded(in);
        padded.resize(n + 4, 0);
        uint32_t expect = 0;
        std::vector<const uint8_t*> starts;
        for (const uint8_t* p = padded.data(); p < padded.data() + n; ++expect) {
            starts.push_back(p);
            int32_t cp;
            p = uc::fast_decode_utf8_char(p, &cp);
        }
        const uint8_t* b = in.data();
        ASSERT_EQ(uc::count_utf8_chars(b, b + n), expect);
        uint32_t k = expect ? uint32_t(rng() % expect) : 0;
        if (k < starts.size()) {
            ASSERT_EQ(uc::skip_utf8_chars(b, b + n, k), b + (starts[k] - padded.data()));
        }
    }
}

TEST(Utf8Encode, LeadLengths) {
    const std::pair<int, int> cases[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC2, 2}, {0xDF, 2},
                                         {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF4, 4}, {0xFF, 4}};
    for (auto [b, n] : cases) EXPECT_EQ(uc::utf8_lead_length(uint8_t(b)), n) << std::hex << b;
}

TEST(Utf8Encode, SizesAndTheCodePointLimit) {
    const std::pair<uint32_t, int> cases[] = {{0, 1},     {0x7F, 1},   {0x80, 2},    {0x7FF, 2},
                                              {0x800, 3}, {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}};
    for (auto [cp, n] : cases) EXPECT_EQ(uc::utf8_char_size(cp), n) << std::hex << cp;
    for (uint32_t bad : {0x110000u, 0xFFFFFFFFu}) {
        RaisedError e = expect_fire([&] { uc::utf8_char_size(bad); });
        EXPECT_EQ(e.category, "script");
        EXPECT_EQ(e.id, "invalid-char");
        ASSERT_EQ(e.arg_count, 1);
        EXPECT_EQ(e.args[0].type(), uint32_t(TYPE_INTEGER));
        EXPECT_EQ(e.args[0].w1, bad);
        uint8_t buf[4];
        EXPECT_EQ(expect_fire([&] { uc::encode_utf8_char(bad, buf); }).id, "invalid-char");
    }
    EXPECT_EQ(uint32_t(1114112), expect_fire([] { uc::utf8_char_size(0x110000); }).args[0].w1);
}

TEST(Utf8Encode, BoundedCharacter) {
    uint8_t buf[4] = {0, 0, 0, 0};
    EXPECT_EQ(uc::encode_utf8_char_bounded(0xE9, buf, 1), 1);
    EXPECT_EQ(buf[0], 0xC3);
    EXPECT_EQ(buf[1], 0);
    EXPECT_EQ(uc::encode_utf8_char_bounded(0x20AC, buf, 0), 0);
    EXPECT_EQ(uc::encode_utf8_char_bounded(0x20AC, buf, 2), 2);
    EXPECT_EQ(buf[0], 0xE2);
    EXPECT_EQ(buf[1], 0x82);
    EXPECT_EQ(uc::encode_utf8_char_bounded(0x41, buf, 4), 1);
}

TEST(Utf8Encode, LengthOfUnits) {
    const uint8_t u1[] = {'a', 0xE9, 0x80, 'b'};
    EXPECT_EQ(uc::utf8_length(u1, u1 + 4, 1), 6u);
    std::vector<uint8_t> many(1000, 0xFF);
    EXPECT_EQ(uc::utf8_length(many.data(), many.data() + many.size(), 1), 2000u);
    const uint16_t u2[] = {0x41, 0xE9, 0x7FF, 0x800, 0xFFFF};
    EXPECT_EQ(
        uc::utf8_length(reinterpret_cast<const uint8_t*>(u2), reinterpret_cast<const uint8_t*>(u2 + 5), 2),
        1u + 2 + 2 + 3 + 3);
    const uint32_t u4[] = {0x41, 0x1F600, 0x10FFFF};
    EXPECT_EQ(
        uc::utf8_length(reinterpret_cast<const uint8_t*>(u4), reinterpret_cast<const uint8_t*>(u4 + 3), 4),
        9u);
    const uint32_t bad[] = {0x41, 0x110000};
    EXPECT_EQ(expect_fire([&] {
                  uc::utf8_length(reinterpret_cast<const uint8_t*>(bad),
                                  reinterpret_cast<const uint8_t*>(bad + 2), 4);
              }).id,
              "invalid-char");
}

// ---- The validating decoder ---------------------------------------------------------

TEST(Utf8Validate, Table) {
    struct Case {
        Bytes in;
        int32_t want;  // code point, UTF8_INCOMPLETE or UTF8_INVALID
    };
    const int32_t INC = uc::UTF8_INCOMPLETE, BAD = uc::UTF8_INVALID;
    const std::vector<Case> cases = {
        {bytes({0x41}), 0x41},
        {bytes({0xC3, 0xA9}), 0xE9},
        {bytes({0xE2, 0x82, 0xAC}), 0x20AC},
        {bytes({0xF0, 0x9F, 0x98, 0x80}), 0x1F600},
        {bytes({0xF4, 0x8F, 0xBF, 0xBF}), 0x10FFFF},
        {bytes({0xEF, 0xBF, 0xBF}), 0xFFFF},
        {bytes({0xEF, 0xBB, 0xBF}), 0xFEFF},
        {bytes({0xEE, 0x80, 0x80}), 0xE000},
        // overlong forms
        {bytes({0xC0, 0x80}), BAD},
        {bytes({0xC1, 0xBF}), BAD},
        {bytes({0xE0, 0x80, 0x80}), BAD},
        {bytes({0xE0, 0x9F, 0xBF}), BAD},
        {bytes({0xF0, 0x80, 0x80, 0x80}), BAD},
        {bytes({0xF0, 0x8F, 0xBF, 0xBF}), BAD},
        // surrogates are code points like any other
        {bytes({0xED, 0xA0, 0x80}), 0xD800},
        {bytes({0xED, 0xAF, 0xBF}), 0xDBFF},
        {bytes({0xED, 0xB0, 0x80}), 0xDC00},
        {bytes({0xED, 0xBF, 0xBF}), 0xDFFF},
        {bytes({0xED, 0x9F, 0xBF}), 0xD7FF},
        // above 0x10FFFF
        {bytes({0xF4, 0x90, 0x80, 0x80}), BAD},
        {bytes({0xF5, 0x80, 0x80, 0x80}), BAD},
        {bytes({0xF8, 0x88, 0x80, 0x80}), BAD},
        {bytes({0xFF}), BAD},
        // the noncharacter U+FFFE
        {bytes({0xEF, 0xBF, 0xBE}), BAD},
        // stray continuation bytes and bad continuations
        {bytes({0x80}), BAD},
        {bytes({0xBF, 0x41}), BAD},
        {bytes({0xC3, 0x41}), BAD},
        {bytes({0xE2, 0x82, 0x41}), BAD},
        {bytes({0xF0, 0x9F, 0x98, 0xC0}), BAD},
        // the input ends inside a character
        {bytes({0xC3}), INC},
        {bytes({0xE2, 0x82}), INC},
        {bytes({0xF0, 0x9F, 0x98}), INC},
        {bytes({0xF0}), INC},
        // ...but what is there already shows it is malformed
        {bytes({0xE2, 0x41}), BAD},
        {bytes({0xE0, 0x80}), BAD},
        {bytes({0xED, 0xA0}), INC},
        {bytes({0xF4, 0x90}), BAD},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> in(c.in);
        uint32_t used = 99;
        int32_t got = uc::check_utf8_char(in.data(), uint32_t(in.size()), &used);
        EXPECT_EQ(got, c.want) << "first byte " << std::hex << int(in[0]) << " length " << in.size();
        if (c.want >= 0) {
            EXPECT_EQ(used, in.size());
        }
    }
}

TEST(Utf8Validate, DecoderRaisesWithTheBadBytes) {
    memory::init();
    memory::init_frames();
    Bytes in = bytes({0xF4, 0x90, 0x80, 0x41, 0x42, 0x43});
    int32_t len = int32_t(in.size());
    RaisedError e = expect_fire([&] { uc::decode_utf8_char(in.data(), &len); });
    EXPECT_EQ(e.category, "access");
    EXPECT_EQ(e.id, "invalid-utf8");
    EXPECT_EQ(binary_arg(e), bytes({0xF4, 0x90, 0x80, 0x41}));

    Bytes shortin = bytes({0xC0, 0x80});
    len = 2;
    EXPECT_EQ(binary_arg(expect_fire([&] { uc::decode_utf8_char(shortin.data(), &len); })), shortin);

    Bytes cut = bytes({0xE2, 0x82});
    len = 2;
    EXPECT_EQ(uc::decode_utf8_char(cut.data(), &len), -1);
    EXPECT_EQ(len, 2);  // untouched
    Bytes ok = bytes({0xE2, 0x82, 0xAC, 0x41});
    len = 4;
    EXPECT_EQ(uc::decode_utf8_char(ok.data(), &len), 0x20AC);
    EXPECT_EQ(len, 3);
}

// ---- Loading UTF-8 ----------------------------------------------------------------

using LoadUtf8 = Memory;

TEST_F(LoadUtf8, EdgeCases) {
    struct Case {
        Bytes in;
        Units want;
        uint32_t unit;
        uint32_t left;
    };
    const std::vector<Case> cases = {
        {{}, {}, 1, 0},
        {bytes({0xEF, 0xBB, 0xBF}), {}, 1, 0},
        {bytes({0xEF, 0xBB, 0xBF, 0x41}), {0x41}, 1, 0},
        {bytes({0xEF, 0xBB}), {}, 1, 2},  // a cut byte-order mark is a cut character
        {bytes({0xC3, 0xA9}), {0xE9}, 1, 0},
        {bytes({0x41, 0xE2, 0x82, 0xAC}), {0x41, 0x20AC}, 2, 0},
        {bytes({0x41, 0xF0, 0x9F, 0x98, 0x80, 0xC3, 0xA9}), {0x41, 0x1F600, 0xE9}, 4, 0},
        {bytes({0xC3}), {}, 1, 1},
        {bytes({0x61, 0x62, 0xF0, 0x9F, 0x98}), {0x61, 0x62}, 1, 3},
        {bytes({0x41, 0xEF, 0xBB, 0xBF}), {0x41, 0xFEFF}, 2, 0},            // only a leading mark is skipped
        {bytes({0x61, 0x0D, 0x0A, 0x62}), {0x61, 0x0D, 0x0A, 0x62}, 1, 0},  // CR kept without the flag
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> in(c.in);
        uint32_t left = 77;
        Off node = uc::load_utf8(in.data(), uint32_t(in.size()), 0, &left, false);
        EXPECT_EQ(contents(node), c.want);
        EXPECT_EQ(unit_of(node), c.unit);
        EXPECT_EQ(left, c.left);
    }
}

TEST_F(LoadUtf8, MalformedInputRaisesWithTheBytes) {
    struct Case {
        Bytes in;
        Bytes arg;
    };
    const std::vector<Case> cases = {
        {bytes({0x41, 0xC0, 0x80}), bytes({0xC0, 0x80})},                          // overlong NUL
        {bytes({0xE0, 0x9F, 0x80, 0x41, 0x42}), bytes({0xE0, 0x9F, 0x80, 0x41})},  // overlong
        {bytes({0xEF, 0xBF, 0xBE}), bytes({0xEF, 0xBF, 0xBE})},                    // U+FFFE
        {bytes({0xF4, 0x90, 0x80, 0x80}), bytes({0xF4, 0x90, 0x80, 0x80})},        // 0x110000
        {bytes({0x61, 0x62, 0x80}), bytes({0x80})},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> in(c.in);
        RaisedError e =
            expect_fire([&] { uc::load_utf8(in.data(), uint32_t(in.size()), 0, nullptr, false); });
        EXPECT_EQ(e.category, "access");
        EXPECT_EQ(e.id, "invalid-utf8");
        EXPECT_EQ(binary_arg(e), c.arg);
    }
    // The target is left as it was.
    Off target = make_text({'x', 'y'}, 1);
    Bytes bad = bytes({0x41, 0x42, 0xFF});
    expect_fire([&] { uc::load_utf8(bad.data(), 3, target, nullptr, false); });
    EXPECT_EQ(contents(target), Units({'x', 'y'}));
}

TEST_F(LoadUtf8, CrFolding) {
    struct Case {
        std::string in;
        std::string want;
    };
    const std::vector<Case> cases = {
        {"a\r\nb", "a\nb"},
        {"a\rb", "a\nb"},
        {"a\r", "a\n"},
        {"\r\r\n", "\n\n"},
        {"\r\n\r\n", "\n\n"},
        {std::string(20, 'x') + "\r\n" + std::string(20, 'y') + "\r",
         std::string(20, 'x') + "\n" + std::string(20, 'y') + "\n"},
        {"\xC3\xA9\r\n\xE2\x82\xAC\r", "\xC3\xA9\n\xE2\x82\xAC\n"},
    };
    for (const Case& c : cases) {
        Bytes in = bytes_of(c.in);
        Off node = uc::load_utf8(in.data(), uint32_t(in.size()), 0, nullptr, true);
        Off want =
            uc::load_utf8_new(reinterpret_cast<const uint8_t*>(c.want.data()), uint32_t(c.want.size()));
        EXPECT_EQ(contents(node), contents(want)) << c.in;
        EXPECT_EQ(unit_of(node), unit_of(want));
    }
}

TEST_F(LoadUtf8, RandomTextRoundTrips) {
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        Units cps;
        uint32_t max = 0;
        size_t n = rng() % 70;
        int kind = int(rng() % 4);  // widest character: ASCII, Latin-1, BMP, any
        for (size_t i = 0; i < n; ++i) {
            uint32_t c;
            switch (rng() % (kind + 1)) {
                case 0:
                    c = 0x20 + rng() % 0x5F;
                    break;
                case 1:
                    c = 0x80 + rng() % 0x80;
                    break;
                case 2:
                    c = 0x100 + rng() % 0xD700;
                    break;
                default:
                    c = 0x10000 + rng() % 0x100000;
                    break;
            }
            cps.push_back(c);
            max = std::max(max, c);
        }
        Bytes utf8 = utf8_of(cps);
        uint32_t left = 9;
        Off node = uc::load_utf8(utf8.data(), uint32_t(utf8.size()), 0, &left, false);
        ASSERT_EQ(contents(node), cps);
        ASSERT_EQ(unit_of(node), max <= 0xFF ? 1u : max <= 0xFFFF ? 2u : 4u);
        ASSERT_EQ(left, 0u);
        // Back to UTF-8 through the conversion cache.
        Cell s = string_cell(node);
        int32_t len = -1;
        uint8_t* out = uc::to_utf8(&s, &len);
        ASSERT_EQ(Bytes(out, out + len), utf8);
        ASSERT_EQ(out[len], 0);
    }
}

TEST_F(LoadUtf8, IntoATarget) {
    // A wider target keeps its unit; its old content is replaced.
    Off wide = make_text({0x1F600, 'q', 'r', 's'}, 4);
    Bytes in = bytes_of("ab");
    EXPECT_EQ(uc::load_utf8(in.data(), 2, wide, nullptr, false), wide);
    EXPECT_EQ(unit_of(wide), 4u);
    EXPECT_EQ(contents(wide), Units({'a', 'b'}));

    // A narrow, small target widens and grows; the node stays.
    Off small = make_text({'z'}, 1);
    Units cps;
    for (uint32_t i = 0; i < 300; ++i) cps.push_back(i % 3 ? 'k' : 0x20AC);
    Bytes text = utf8_of(cps);
    Cell s = string_cell(small);
    uint32_t left = 5;
    EXPECT_EQ(uc::load_utf8_into(text.data(), uint32_t(text.size()), &s, &left), small);
    EXPECT_EQ(contents(small), cps);
    EXPECT_EQ(unit_of(small), 2u);
    EXPECT_EQ(left, 0u);

    // Zero bytes empty the target.
    EXPECT_EQ(uc::load_utf8(in.data(), 0, small, &left, false), small);
    EXPECT_TRUE(contents(small).empty());
}

TEST_F(LoadUtf8, SourceInsideASeriesBuffer) {
    std::string text = std::string(100, 'a') + "\xE2\x82\xAC" + std::string(100, 'b');
    Off bin = memory::alloc_bytes(uint32_t(text.size()));
    SeriesBuffer* b = buffer_of(bin);
    std::memcpy(b->head_ptr(), text.data(), text.size());
    b->tail = b->head + uint32_t(text.size());
    Off node = uc::load_utf8_new(buffer_of(bin)->head_ptr(), uint32_t(text.size()));
    Units want(100, 'a');
    want.push_back(0x20AC);
    want.insert(want.end(), 100, 'b');
    EXPECT_EQ(contents(node), want);
}

// ---- Widening -----------------------------------------------------------------------

using Widen = Memory;

TEST_F(Widen, KeepsContentAndNode) {
    struct Case {
        uint32_t from, to;
        int32_t head_offset;
        uint32_t n;
    };
    const Case cases[] = {{1, 2, 0, 0},  {1, 2, 0, 5},   {1, 2, 0, 100}, {1, 4, 0, 37},
                          {2, 4, 0, 64}, {1, 2, -1, 40}, {1, 4, -1, 13}, {2, 4, -1, 21}};
    for (const Case& c : cases) {
        Units cps;
        for (uint32_t i = 0; i < c.n; ++i)
            cps.push_back(c.from == 1 ? (i * 37 + 11) & 0xFF : (i * 4099 + 7) & 0xFFFF);
        Off node = make_text(cps, c.from, c.head_offset);
        SeriesBuffer* buf = buffer_of(node);
        SeriesBuffer* out = c.from == 2 ? uc::widen_2_to_4(buf)
                            : c.to == 2 ? uc::widen_1_to_2(buf)
                                        : uc::widen_1_to_4(buf);
        EXPECT_EQ(out, buffer_of(node));
        EXPECT_EQ(out->node, node);
        EXPECT_EQ(out->unit(), c.to);
        EXPECT_EQ(contents(node), cps);
        // Room for one more unit after the content, inside the data area.
        EXPECT_LE(uint64_t(out->tail) + c.to, uint64_t(out->data_end()));
    }
}

TEST_F(Widen, FullBufferMoves) {
    Units cps(32, 'm');
    Off node = make_text(cps, 1);
    SeriesBuffer* before = buffer_of(node);
    std::memset(before->head_ptr(), 'm', before->size);
    before->tail = before->head + before->size;  // completely full
    cps.assign(before->size, 'm');
    SeriesBuffer* after = uc::widen_1_to_2(before);
    EXPECT_EQ(after->node, node);
    EXPECT_EQ(node_content(node), arena::off(after));
    EXPECT_EQ(contents(node), cps);
    EXPECT_EQ(uc::widen_to(after, 2), after);  // not wider: nothing to do
    after = uc::widen_to(after, 4);
    EXPECT_EQ(after->unit(), 4u);
    EXPECT_EQ(contents(node), cps);
}

// ---- Outgoing UTF-8 ----------------------------------------------------------------

using ToUtf8 = Memory;

TEST_F(ToUtf8, UnitsIndexesLimitsAndLineBreaks) {
    struct Case {
        Units cps;
        uint32_t unit, index;
        int32_t limit;
        bool crlf;
        std::string want;
    };
    const std::vector<Case> cases = {
        {{'a', 'b', 'c'}, 1, 0, -1, false, "abc"},
        {{'a', 'b', 'c'}, 1, 1, -1, false, "bc"},
        {{'a', 'b', 'c'}, 1, 5, -1, false, ""},  // index past the tail
        {{'a', 'b', 'c'}, 1, 0, 2, false, "ab"},
        {{'a', 'b', 'c'}, 1, 0, 9, false, "abc"},
        {{'a', '\n', 0xE9}, 1, 0, -1, true, "a\r\n\xC3\xA9"},
        {{'\n', '\n'}, 1, 0, -1, true, "\r\n\r\n"},
        {{0x20AC, '\n', 'x'}, 2, 0, -1, true, "\xE2\x82\xAC\r\nx"},
        {{0x1F600, 0xD800, '\n'}, 4, 0, -1, false, "\xF0\x9F\x98\x80\xED\xA0\x80\n"},
    };
    for (const Case& c : cases) {
        Off node = make_text(c.cps, c.unit);
        Cell s = string_cell(node, c.index);
        int32_t len = c.limit;
        uint8_t* out = uc::to_utf8_bytes(&s, &len, c.crlf);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), size_t(len)), c.want);
        EXPECT_EQ(out[len], 0);
    }
    // A value above 0x10FFFF in a 4-byte string cannot be encoded.
    Cell bad = string_cell(make_text({'a', 0x110000}, 4));
    int32_t len = -1;
    EXPECT_EQ(expect_fire([&] { uc::to_utf8(&bad, &len); }).id, "invalid-char");
}

TEST_F(ToUtf8, CacheIsKeptInWordThreeAndReused) {
    Off node = make_text(Units(10, 'a'), 1);
    Cell s = string_cell(node);
    int32_t len = -1;
    uc::to_utf8(&s, &len);
    Off cache = s.w3;
    ASSERT_NE(cache, 0u);
    uint32_t size = buffer_of(cache)->size;
    s.w1 = 5;
    len = -1;
    uint8_t* out = uc::to_utf8(&s, &len);
    EXPECT_EQ(s.w3, cache);
    EXPECT_EQ(buffer_of(cache)->size, size);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(out, arena::ptr(buffer_of(cache)->data_start()));
    // A longer string through the same cell grows the same cache series.
    Off big = make_text(Units(1000, 0x20AC), 2);
    s.w1 = 0;
    s.w2 = big;
    len = -1;
    out = uc::to_utf8(&s, &len);
    EXPECT_EQ(s.w3, cache);
    EXPECT_GE(buffer_of(cache)->size, 3001u);
    EXPECT_EQ(len, 3000);
    EXPECT_EQ(out[2999], 0xAC);
}

TEST_F(ToUtf8, EncodeIntoCallerBuffers) {
    Cell s = string_cell(make_text({'a', 0xE9, 0x20AC, 'z'}, 2));
    uint8_t buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(uc::encode_utf8_string(&s, buf, -1, true), 7u);
    EXPECT_EQ(Bytes(buf, buf + 8), bytes({0x61, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0x7A, 0x00}));
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(uc::encode_utf8_string(&s, buf, 2, false), 3u);
    EXPECT_EQ(buf[3], 0xEE);

    struct Case {
        int32_t room;
        bool nul;
        uint32_t written;
    };
    // Whole characters only; with the NUL flag one byte is kept for it.
    const Case cases[] = {{0, true, 0},  {1, true, 0},  {1, false, 1}, {3, false, 3}, {3, true, 1},
                          {5, false, 3}, {6, false, 6}, {7, true, 6},  {8, true, 7},  {16, true, 7}};
    for (const Case& c : cases) {
        std::memset(buf, 0xEE, sizeof buf);
        uint32_t n = uc::encode_utf8_bounded(&s, buf, c.room, -1, c.nul);
        EXPECT_EQ(n, c.written) << "room " << c.room;
        if (c.nul && c.room > 0) {
            EXPECT_EQ(buf[n], 0);
        }
        for (int i = int(n) + (c.nul ? 1 : 0); i < 16; ++i) EXPECT_EQ(buf[i], 0xEE);
    }
}

// ---- UTF-16 -------------------------------------------------------------------------

namespace {
Bytes utf16le(const std::vector<uint16_t>& units) {
    Bytes b;
    for (uint16_t u : units) {
        b.push_back(uint8_t(u));
        b.push_back(uint8_t(u >> 8));
    }
    return b;
}
}  // namespace

using Utf16 = Memory;

TEST_F(Utf16, UnitWidth) {
    struct Case {
        std::vector<uint16_t> in;
        uint32_t width;
    };
    const std::vector<Case> cases = {{{}, 1},       {{'a', 0xFF}, 1},           {{'a', 0x100}, 2},
                                     {{0xFFFF}, 2}, {{'a', 0xD83D, 0xDE00}, 4}, {{0xDC00}, 4}};
    for (const Case& c : cases) {
        Bytes b = utf16le(c.in);
        EXPECT_EQ(uc::utf16_unit_width(b.data(), uint32_t(c.in.size())), c.width);
    }
}

TEST_F(Utf16, Loading) {
    struct Case {
        std::vector<uint16_t> in;
        bool cr;
        Units want;
        uint32_t unit;
    };
    const std::vector<Case> cases = {
        {{}, false, {}, 1},
        {{'a', 0x0D, 'b'}, true, {'a', 'b'}, 1},
        {{'a', 0x0D, 0x0A, 'b', 0x0D}, true, {'a', 0x0A, 'b'}, 1},
        {{'a', 0x0D, 'b'}, false, {'a', 0x0D, 'b'}, 1},
        {{0xE9, 0x20AC}, false, {0xE9, 0x20AC}, 2},
        {{0x20AC, 0x0D, 0x0A}, true, {0x20AC, 0x0A}, 2},
        {{'x', 0xD83D, 0xDE00, 0x0D, 'y'}, true, {'x', 0x1F600, 'y'}, 4},
        {{0xDBFF, 0xDFFF}, false, {0x10FFFF}, 4},
    };
    for (const Case& c : cases) {
        Bytes b = utf16le(c.in);
        Off node = uc::load_utf16(b.data(), uint32_t(c.in.size()), nullptr, c.cr);
        EXPECT_EQ(contents(node), c.want);
        EXPECT_EQ(unit_of(node), c.unit);
    }
}

// An unpaired surrogate is an error the caller can catch, not the end of the
// process.
TEST_F(Utf16, UnpairedSurrogatesRaise) {
    struct Case {
        std::vector<uint16_t> in;
        Bytes arg;
    };
    const std::vector<Case> cases = {
        {{'a', 0xD83D}, bytes({0x3D, 0xD8})},                         // high at the end
        {{0xD83D, 'b', 'c'}, bytes({0x3D, 0xD8, 'b', 0})},            // high, then no low
        {{0xD83D, 0xD83D, 0xDE00}, bytes({0x3D, 0xD8, 0x3D, 0xD8})},  // high, then high
        {{'a', 0xDE00, 'b'}, bytes({0x00, 0xDE, 'b', 0})},            // lone low
    };
    for (const Case& c : cases) {
        Bytes b = utf16le(c.in);
        Off target = make_text({'k', 'e', 'e', 'p'}, 1);
        Cell t = string_cell(target);
        RaisedError e = expect_fire([&] { uc::load_utf16(b.data(), uint32_t(c.in.size()), &t, false); });
        EXPECT_EQ(e.category, "access");
        EXPECT_EQ(e.id, "invalid-utf8");
        EXPECT_EQ(binary_arg(e), c.arg);
        EXPECT_EQ(contents(target), Units({'k', 'e', 'e', 'p'}));
    }
}

TEST_F(Utf16, LoadIntoTargetAndFromItsCache) {
    Off target = make_text({0x1F600, 'a'}, 4);
    Cell t = string_cell(target);
    Bytes b = utf16le({'h', 'i'});
    EXPECT_EQ(uc::load_utf16(b.data(), 2, &t, false), target);
    EXPECT_EQ(contents(target), Units({'h', 'i'}));
    EXPECT_EQ(unit_of(target), 1u);  // set to what the text needs

    // A system call writes UTF-16 into the cache; the loader reads it there.
    std::vector<uint16_t> units(50, 0x4E2D);
    units.push_back(0x0D);
    units.push_back(0x0A);
    Bytes os = utf16le(units);
    uint8_t* cache = uc::cache_buffer(&t, os.size());
    std::memcpy(cache, os.data(), os.size());
    EXPECT_EQ(uc::load_utf16(nullptr, uint32_t(units.size()), &t, true), target);
    Units want(50, 0x4E2D);
    want.push_back(0x0A);
    EXPECT_EQ(contents(target), want);
    EXPECT_EQ(unit_of(target), 2u);
}

TEST_F(Utf16, ToUtf16) {
    Cell s = string_cell(make_text({0x1F600, 0x0A}, 4));
    uint16_t* out = uc::to_utf16(&s);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::vector<uint16_t>(out, out + 5),
              std::vector<uint16_t>({0xD83D, 0xDE00, 0x000D, 0x000A, 0}));
    int32_t len = -1;
    uc::to_utf16_part(&s, &len, true);
    EXPECT_EQ(len, 4);

    struct Case {
        Units cps;
        uint32_t unit;
        int32_t limit;
        bool crlf;
        std::vector<uint16_t> want;
    };
    const std::vector<Case> cases = {
        {{'a', '\n', 0xE9}, 1, -1, false, {'a', '\n', 0xE9}},
        {{'a', '\n', 0xE9}, 1, -1, true, {'a', '\r', '\n', 0xE9}},
        {{'a', '\n', 0xE9}, 1, 2, true, {'a', '\r', '\n'}},
        {{0x20AC, '\n'}, 2, -1, false, {0x20AC, '\n'}},
        {{0x20AC, '\n'}, 2, -1, true, {0x20AC, '\r', '\n'}},
        {{0x10FFFF, 'b'}, 4, 1, false, {0xDBFF, 0xDFFF}},
        {{}, 1, -1, true, {}},
    };
    for (const Case& c : cases) {
        Cell t = string_cell(make_text(c.cps, c.unit));
        int32_t n = c.limit;
        uint16_t* r = uc::to_utf16_part(&t, &n, c.crlf);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(std::vector<uint16_t>(r, r + n), c.want);
        EXPECT_EQ(r[n], 0);
    }
    Cell bad = string_cell(make_text({'a', 0x110000}, 4));
    len = -1;
    EXPECT_EQ(uc::to_utf16_part(&bad, &len, false), nullptr);
}

TEST(Utf16Small, ExtraBytesLatin1AndCharEncoding) {
    const uint8_t u1[] = {'a', '\n', 'b', '\n'};
    EXPECT_EQ(uc::utf16_extra_bytes(u1, u1 + 4, 1), 4u);
    const uint32_t u4[] = {'\n', 0x1F600, 0xFFFF};
    EXPECT_EQ(uc::utf16_extra_bytes(reinterpret_cast<const uint8_t*>(u4),
                                    reinterpret_cast<const uint8_t*>(u4 + 3), 4),
              4u);

    uint16_t dst[8];
    std::memset(dst, 0xEE, sizeof dst);
    EXPECT_EQ(uc::latin1_to_utf16("a\xE9z", dst), dst);
    EXPECT_EQ(std::vector<uint16_t>(dst, dst + 5), std::vector<uint16_t>({'a', 0xE9, 'z', 0, 0xEEEE}));

    EXPECT_EQ(uc::encode_utf16_char(0xFFFF, dst), 1);
    EXPECT_EQ(dst[0], 0xFFFF);
    EXPECT_EQ(uc::encode_utf16_char(0x10000, dst), 2);
    EXPECT_EQ(dst[0], 0xD800);
    EXPECT_EQ(dst[1], 0xDC00);
    EXPECT_EQ(uc::encode_utf16_char(0x110000, dst), 0);
}

// ---- Allocation inside conversions --------------------------------------------------

namespace {
int collections = 0;
}

// The loaders and the cache conversions hold raw pointers to their source
// and to a node not yet stored anywhere across their one allocation, so that
// allocation must never collect. In the collect-at-every-allocation build the
// hook would run on every allocation that is not paused.
TEST_F(Memory, ConversionsNeverCollectAndRestoreTheSwitch) {
    auto saved_hook = memory::collect_hook;
    memory::collect_hook = [] { ++collections; };
    memory::collection_enabled = true;
    collections = 0;
    std::vector<bool> still_enabled;

    Bytes text = utf8_of({'a', 0x20AC, 0x1F600, 'z'});
    Off fresh = uc::load_utf8_new(text.data(), uint32_t(text.size()));
    still_enabled.push_back(memory::collection_enabled);
    Off target = memory::alloc_codepoints(1, 1);
    int before = collections;  // alloc_codepoints itself may collect
    uc::load_utf8(text.data(), uint32_t(text.size()), target, nullptr, false);  // expands the target
    Cell s = string_cell(fresh);
    int32_t len = -1;
    uc::to_utf8(&s, &len);  // makes the cache
    uc::to_utf16(&s);       // grows it
    Bytes u16 = {0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE};
    uc::load_utf16(u16.data(), 3, nullptr, false);
    Bytes bad = bytes({0x41, 0xC0, 0x80});
    expect_fire([&] { uc::load_utf8_new(bad.data(), 3); });
    still_enabled.push_back(memory::collection_enabled);
    int during = collections - before;

#ifdef KIV_GC_TORTURE
    memory::alloc_bytes(10);
    int plain = collections - before - during;
#endif
    memory::collection_enabled = false;
    memory::collect_hook = saved_hook;

    EXPECT_EQ(during, 0);
    EXPECT_EQ(still_enabled, std::vector<bool>({true, true}));
    EXPECT_EQ(contents(target), Units({'a', 0x20AC, 0x1F600, 'z'}));
#ifdef KIV_GC_TORTURE
    EXPECT_EQ(plain, 1);  // the hook does run for an ordinary allocation
#endif
}
