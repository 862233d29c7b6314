// string!: storage and widening, loaders, hex helpers, and the actions
// through the generic entries on the data stack (mold/form text compared).
#include "datatypes/string.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "test_support.h"

namespace kiv {
namespace {

using test::expect_error;
using test::int_cell;
using test::run_action;

class StringTest : public test::RuntimeTest {};

// A string! holding UTF-8 text (unit chosen by content).
Cell S(const std::string& text) {
    Cell c{};
    string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), &c, string::ENC_UTF8);
    return test::hold(c);
}
std::string T(const Cell& c) {
    return test::string_text(c);
}
std::string Head(Cell c) {
    c.w1 = 0;
    return T(c);
}
uint32_t unit_of(const Cell& c) {
    return buffer_of(c.w2)->unit();
}
Cell binary_of(const std::string& bytes) {
    Off node = memory::alloc_bytes(uint32_t(bytes.size()));
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
    b->tail = b->head + uint32_t(bytes.size());
    return test::hold(Cell{TYPE_BINARY, 0, node, 0});
}
std::string bytes_of(const Cell& bin) {
    const SeriesBuffer* b = buffer_of(bin.w2);
    return std::string(reinterpret_cast<const char*>(b->head_ptr()) + bin.w1, b->byte_count() - bin.w1);
}
Cell block_of(std::initializer_list<Cell> cells) {
    Cell blk{};
    block::make_at(&blk, 4);
    blk = test::hold(blk);
    for (const Cell& c : cells) block::cells_append(&blk, &c);
    return blk;
}
Cell none_c() {
    return Cell{TYPE_NONE, 0, 0, 0};
}

// ---- Storage and widening -----------------------------------------------------------------

TEST_F(StringTest, AppendWidensByTheAppendRule) {
    struct Case {
        std::vector<uint32_t> chars;
        uint32_t unit;
    } cases[] = {
        {{'a', 'b'}, 1},     {{'a', 0x7F}, 1},      {{'a', 0xE9}, 2},
        {{0xE9}, 2},         {{'a', 0x100}, 2},     {{'a', 0xFFFF}, 2},
        {{'a', 0x10000}, 4}, {{0x100, 0x10000}, 4}, {{0x10FFFF, 'z'}, 4},
    };
    for (const Case& c : cases) {
        Cell s{};
        string::make_at(&s, 0);
        s = test::hold(s);
        for (uint32_t cp : c.chars) string::append_char(string::buffer(&s), cp);
        EXPECT_EQ(unit_of(s), c.unit);
        ASSERT_EQ(string::length(&s), c.chars.size());
        for (size_t i = 0; i < c.chars.size(); ++i) EXPECT_EQ(string::abs_at(&s, uint32_t(i)), c.chars[i]);
    }
}

TEST_F(StringTest, PokeKeepsLatin1InOneByte) {
    Cell s = S("abc");
    string::poke_char_at(string::buffer(&s), 1, 0xE9);
    EXPECT_EQ(unit_of(s), 1u);
    EXPECT_EQ(T(s),
              "a\xC3\xA9"
              "c");
    string::poke_char_at(string::buffer(&s), 2, 0x263A);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(T(s), "a\xC3\xA9\xE2\x98\xBA");
    // Past the tail: the tail moves, the skipped unit reads as NUL.
    string::poke_char_at(string::buffer(&s), 4, 'z');
    ASSERT_EQ(string::length(&s), 5u);
    EXPECT_EQ(string::abs_at(&s, 3), 0u);
    EXPECT_EQ(string::abs_at(&s, 4), uint32_t('z'));
    // insert keeps the write rule too.
    Cell t = S("ab");
    string::insert_char_at(string::buffer(&t), 1, 0xFF);
    EXPECT_EQ(unit_of(t), 1u);
    EXPECT_EQ(T(t),
              "a\xC3\xBF"
              "b");
    string::insert_char_at(string::buffer(&t), 0, 0x1F600);
    EXPECT_EQ(unit_of(t), 4u);
    EXPECT_EQ(T(t),
              "\xF0\x9F\x98\x80"
              "a\xC3\xBF"
              "b");
}

TEST_F(StringTest, RemovingNeverNarrowsOnlyResetDoes) {
    Cell s =
        S("a\xC4\x80"
          "b");  // a U+0100 b
    ASSERT_EQ(unit_of(s), 2u);
    string::remove_unit_at(&s, 1);
    EXPECT_EQ(T(s), "ab");
    EXPECT_EQ(unit_of(s), 2u);
    string::remove_units(&s, 5, 1);  // past the tail: nothing
    EXPECT_EQ(T(s), "ab");
    string::remove_units(&s, 0, 99);  // clamped to the rest
    EXPECT_EQ(T(s), "");
    string::reset(&s);
    EXPECT_EQ(unit_of(s), 1u);
}

TEST_F(StringTest, Latin1AndLiteralHelpers) {
    Cell s{};
    string::make_at(&s, 0);
    s = test::hold(s);
    string::concatenate_literal(&s, "");
    EXPECT_EQ(T(s), "");
    string::concatenate_literal(&s, "abc");
    EXPECT_EQ(unit_of(s), 1u);
    string::append_latin1(&s, "\xE9x", 2);  // byte 233 widens by the append rule
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(T(s), "abc\xC3\xA9x");
    // Text that lives in a series buffer (here the string itself) survives growth.
    Cell big{};
    string::make_at(&big, 0);
    big = test::hold(big);
    string::concatenate_literal(&big, "0123456789abcdef");
    for (int i = 0; i < 6; ++i) {
        SeriesBuffer* b = string::buffer(&big);
        string::append_latin1(&big, reinterpret_cast<const char*>(b->head_ptr()), b->byte_count());
    }
    std::string want = "0123456789abcdef";
    for (int i = 0; i < 6; ++i) want += want;
    EXPECT_EQ(T(big), want);
}

TEST_F(StringTest, HexHelpers) {
    struct Case {
        int32_t v;
        bool trim;
        const char* text;
    } cases[] = {{0, true, "00"},
                 {30, true, "1E"},
                 {-1, false, "FFFFFFFF"},
                 {255, false, "000000FF"},
                 {0, false, "00000000"},
                 {0x10FFFF, true, "10FFFF"},
                 {INT32_MIN, false, "80000000"},
                 {4096, true, "1000"}};
    for (const Case& c : cases) EXPECT_STREQ(string::to_hex(c.v, c.trim), c.text) << c.v;
    EXPECT_STREQ(string::byte_to_hex(0xAB), "AB");
    EXPECT_STREQ(string::byte_to_hex(0x05), "05");
    const char* text = "12.5e1xyz";
    EXPECT_DOUBLE_EQ(
        string::to_float(reinterpret_cast<const uint8_t*>(text), reinterpret_cast<const uint8_t*>(text + 6)),
        125.0);
}

TEST_F(StringTest, ConcatenateModes) {
    // Overwrite 5 characters starting 2 before the tail: extends by 3.
    Cell t = S("abcdef");
    t.w1 = 4;
    Cell src = S("VWXYZ");
    string::overwrite(&t, &src, -1, 0, false);
    EXPECT_EQ(Head(t), "abcdVWXYZ");
    // Insert moves the rest up.
    Cell u = S("abef");
    u.w1 = 2;
    Cell cd = S("cdXX");
    string::concatenate(&u, &cd, 2, 0, true, string::CONCAT_INSERT);
    EXPECT_EQ(Head(u), "abcdef");
    // A 0-length part changes nothing.
    Cell v = S("abc");
    string::concatenate(&v, &cd, 0, 0, true, string::CONCAT_APPEND);
    EXPECT_EQ(T(v), "abc");
    // A wider source widens the target; a narrower one converts.
    Cell w = S("ab");
    Cell wide = S("\xE2\x98\xBA");
    string::concatenate(&w, &wide, -1, 0, true, string::CONCAT_APPEND);
    EXPECT_EQ(unit_of(w), 2u);
    EXPECT_EQ(T(w), "ab\xE2\x98\xBA");
    Cell narrow = S("cd");
    string::concatenate(&w, &narrow, -1, 0, true, string::CONCAT_APPEND);
    EXPECT_EQ(unit_of(narrow), 1u);  // left as it is with the convert flag
    EXPECT_EQ(T(w),
              "ab\xE2\x98\xBA"
              "cd");
    // Inserting a string into itself reads the source before the move.
    Cell x = S("abc");
    x.w1 = 1;
    Cell whole = x;
    whole.w1 = 0;
    string::concatenate(&x, &whole, -1, 0, true, string::CONCAT_INSERT);
    EXPECT_EQ(Head(x), "aabcbc");
}

TEST_F(StringTest, ExchangeRunsAndFillRepeat) {
    Cell s = S("abcXYZ12");
    SeriesBuffer* b = string::buffer(&s);
    uint8_t* h = b->head_ptr();
    string::exchange_runs(b, h, 3, h + 6, 2, 3);  // [abc][XYZ][12] -> [12][XYZ][abc]
    EXPECT_EQ(T(s), "12XYZabc");
    Cell r = S("xaby");
    string::fill_repeat(&r, 1, 2, 3);
    EXPECT_EQ(T(r), "xababababy");
}

TEST_F(StringTest, StartsWithAndStepped) {
    Cell s = S("Hello");
    EXPECT_TRUE(string::starts_with_text(&s, "Hel"));
    EXPECT_FALSE(string::starts_with_text(&s, "hel"));
    EXPECT_FALSE(string::starts_with_text(&s, "Hello!"));
    Cell r = S("a1b2c3");
    EXPECT_TRUE(string::has_char_stepped(&r, 'B', 2, false));
    EXPECT_FALSE(string::has_char_stepped(&r, 'B', 2, true));
    EXPECT_FALSE(string::has_char_stepped(&r, '2', 2, false));  // not at a record start
    EXPECT_EQ(string::find_char(&r, '2'), 3);
    EXPECT_EQ(string::find_char(&r, 'z'), -1);
}

// ---- Loading --------------------------------------------------------------------------------

TEST_F(StringTest, LoadUtf8AndUtf16) {
    EXPECT_EQ(T(S("plain")), "plain");
    EXPECT_EQ(unit_of(S("plain")), 1u);
    EXPECT_EQ(unit_of(S("\xC3\xA9")), 1u);  // Latin-1 fits one byte
    EXPECT_EQ(unit_of(S("\xF0\x9F\x98\x80")), 4u);
    const uint16_t units[] = {'h', 0x263A, 0xD83D, 0xDE00};
    Cell* c = string::load_push(reinterpret_cast<const uint8_t*>(units), 4, string::ENC_UTF16LE);
    EXPECT_EQ(c->type(), uint32_t(TYPE_STRING));
    EXPECT_EQ(T(*c), "h\xE2\x98\xBA\xF0\x9F\x98\x80");
}

TEST_F(StringTest, LoadIntoABlock) {
    Cell blk{};
    block::make_at(&blk, 1);
    blk = test::hold(blk);
    string::load_in(reinterpret_cast<const uint8_t*>("a\"b"), 3, &blk, string::ENC_UTF8);
    string::load_in(reinterpret_cast<const uint8_t*>("c"), 1, &blk, string::ENC_UTF8);
    EXPECT_EQ(test::mold_text(blk), "[{a\"b} \"c\"]");
}

TEST_F(StringTest, StrictUtf8ReportsExactlyTheUndecodedBytes) {
    struct Case {
        std::string input, rest;
    } cases[] = {
        {"ab\xC3(xyz", "\xC3(xyz"},           // bad continuation
        {"ab\xE2\x82", "\xE2\x82"},           // input ends inside a character
        {"\xFFok", "\xFFok"},                 // bad lead byte first
        {"ok\xC0\x80tail", "\xC0\x80tail"},   // overlong NUL
        {"a\xF4\x90\x80\x80z", "\xF4\x90\x80\x80z"},  // above U+10FFFF
    };
    for (const Case& c : cases) {
        RaisedError e = expect_error(
            [&] {
                string::load_utf8_strict(reinterpret_cast<const uint8_t*>(c.input.data()),
                                         uint32_t(c.input.size()));
            },
            "access", "invalid-utf8");
        ASSERT_EQ(e.args[0].type(), uint32_t(TYPE_BINARY));
        EXPECT_EQ(bytes_of(e.args[0]), c.rest);
    }
    Cell* ok = string::load_utf8_strict(reinterpret_cast<const uint8_t*>("\xC3\xA9t\xC3\xA9"), 5);
    EXPECT_EQ(T(*ok), "\xC3\xA9t\xC3\xA9");
}

using StringDeathTest = StringTest;
TEST_F(StringDeathTest, UnsupportedEncodingEndsWithRuntimeError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(string::load_push(reinterpret_cast<const uint8_t*>("x"), 1, 1), testing::ExitedWithCode(98),
                "Runtime Error 98");
}

// ---- mold / form -----------------------------------------------------------------------------

TEST_F(StringTest, MoldEscapes) {
    struct Case {
        std::string in, out;
        bool all;
    } cases[] = {
        {"abc", "\"abc\"", false},
        {"", "\"\"", false},
        {"a\nb", "\"a^/b\"", false},
        {"a\tb", "\"a^-b\"", false},
        {"a^b", "\"a^^b\"", false},
        {std::string("\0", 1), "\"^@\"", false},
        {"\x01\x08\x0B\x1A", "\"^A^H^K^Z\"", false},
        {"\x1B\x1C\x1D\x1F", "\"^[^\\^]^_\"", false},
        {"\x1E", "\"^(1E)\"", false},
        {"\x7F", "\"^~\"", false},
        {"\xC2\x80", "\"^(80)\"", false},
        {"\xC2\x9F", "\"^(9F)\"", false},
        {"\xC3\xA9", "\"\xC3\xA9\"", false},
        {"\xC3\xA9", "\"^(E9)\"", true},
        {"\xE2\x98\xBA", "\"^(263A)\"", true},
        {"x{y}z", "\"x{y}z\"", false},
        {"a\"b", "{a\"b}", false},
        {"a\"{b}", "{a\"{b}}", false},
        {"a\"{b", "{a\"^{b}", false},
        {"a\"}b", "{a\"^}b}", false},
        {"\"{x}{", "{\"{x}^{}", false},
        {"\"{ {}", "{\"^{ ^{^}}", false},
        {"\"^\t\n", "{\"^^^-^/}", false},
        {"a\nb\nc", "\"a^/b^/c\"", false},
        {"a\nb\nc\nd", "{a^/b^/c^/d}", false},
    };
    for (const Case& c : cases) EXPECT_EQ(test::mold_text(S(c.in), false, c.all), c.out) << c.in;
}

TEST_F(StringTest, MoldLengthChoosesDelimiters) {
    EXPECT_EQ(test::mold_text(S(std::string(49, 'x'))), "\"" + std::string(49, 'x') + "\"");
    EXPECT_EQ(test::mold_text(S(std::string(50, 'x'))), "{" + std::string(50, 'x') + "}");
    // From the index on.
    Cell s = S("0123456789" + std::string(45, 'x'));
    s.w1 = 10;
    EXPECT_EQ(test::mold_text(s), "\"" + std::string(45, 'x') + "\"");
    // /part cuts the output.
    EXPECT_EQ(test::mold_text(S("abcdef"), false, false, false, 3), "\"ab");
    EXPECT_EQ(test::form_text(S("abcdef"), 4), "abcd");
    EXPECT_EQ(test::form_text(S("a\nb\xC3\xA9")), "a\nb\xC3\xA9");
}

// ---- compare -------------------------------------------------------------------------------------

TEST_F(StringTest, CompareFoldsCaseUnlessStrict) {
    Cell a = S("Hello"), b = S("hELLO"), c = S("help"), d = S("Hello!");
    EXPECT_EQ(string::compare(&a, &b, COMP_EQUAL), 0);
    EXPECT_NE(string::compare(&a, &b, COMP_STRICT_EQUAL), 0);
    EXPECT_TRUE(actions::compare(&a, &b, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &b, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &c, COMP_LESSER));
    EXPECT_TRUE(actions::compare(&c, &a, COMP_GREATER));
    EXPECT_TRUE(actions::compare(&a, &d, COMP_LESSER));
    EXPECT_FALSE(actions::compare(&a, &d, COMP_EQUAL));
    Cell e1 = S(""), e2 = S("");
    EXPECT_TRUE(actions::compare(&e1, &e2, COMP_EQUAL));
    // Wide and narrow text with the same characters.
    Cell w = S("\xC3\x89t\xC3\xA9\xE2\x98\xBA"), n = S("\xC3\xA9T\xC3\x89\xE2\x98\xBA");
    EXPECT_TRUE(actions::compare(&w, &n, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&w, &n, COMP_STRICT_EQUAL));
    // Other string-like types: equality only.
    Cell f = S("hello");
    f.set_type(TYPE_FILE);
    EXPECT_TRUE(actions::compare(&a, &f, COMP_EQUAL));
    EXPECT_EQ(string::compare(&a, &f, COMP_LESSER), NOT_COMPARABLE);
    expect_error([&] { actions::compare(&a, &f, COMP_LESSER); }, "script", "invalid-compare");
    Cell i = int_cell(1);
    EXPECT_FALSE(actions::compare(&a, &i, COMP_EQUAL));
    // same? is identity of series and position.
    Cell a2 = a;
    EXPECT_TRUE(actions::compare(&a, &a2, COMP_SAME));
    EXPECT_FALSE(actions::compare(&a, &b, COMP_SAME));
    // Match mode: the second is a prefix of the first.
    Cell he = S("HE");
    EXPECT_EQ(string::equal(&a, &he, COMP_EQUAL, true), 0);
    EXPECT_NE(string::equal(&a, &he, COMP_STRICT_EQUAL, true), 0);
    EXPECT_NE(string::equal(&he, &a, COMP_EQUAL, true), 0);
}

// ---- find / select -------------------------------------------------------------------------------

struct FindOpts {
    int32_t part = INT32_MIN;  // INT32_MIN: no /part
    bool cs = false, same = false, any = false;
    int32_t skip = 0;
    bool last = false, reverse = false, tail = false, match = false;
};

Cell run_find(Cell series, Cell value, FindOpts o, bool select = false) {
    std::vector<Cell> args{series, value};
    int32_t refs[11];
    for (int32_t& r : refs) r = -1;
    if (o.part != INT32_MIN) {
        refs[0] = int32_t(args.size());
        args.push_back(int_cell(o.part));
    }
    if (o.cs) refs[2] = 0;
    if (o.same) refs[3] = 0;
    if (o.any) refs[4] = 0;
    if (o.skip) {
        refs[6] = int32_t(args.size());
        args.push_back(int_cell(o.skip));
    }
    if (o.last) refs[7] = 0;
    if (o.reverse) refs[8] = 0;
    if (!select && o.tail) refs[9] = 0;
    if (!select && o.match) refs[10] = 0;
    Cell* base = stack::mark_native(nullptr);
    for (const Cell& a : args) stack::push(a);
    stack::Frame* mine = stack::ctop();
    try {
        EXPECT_EQ(actions::generic_table[select ? ACT_SELECT : ACT_FIND](refs), UNWIND_NONE);
    } catch (...) {
        stack::catch_at(mine);
        throw;
    }
    Cell r = *base;
    stack::unwind_drop();
    return r;
}

TEST_F(StringTest, FindWithRefinements) {
    struct Case {
        const char* series;
        uint32_t start;
        Cell value;
        FindOpts opts;
        int32_t index;  // -1: none
    };
    FindOpts none;
    FindOpts cs;
    cs.cs = true;
    FindOpts last;
    last.last = true;
    FindOpts match;
    match.match = true;
    FindOpts tail;
    tail.tail = true;
    FindOpts rev;
    rev.reverse = true;
    FindOpts part2;
    part2.part = 2;
    FindOpts skip2;
    skip2.skip = 2;
    FindOpts same;
    same.same = true;
    FindOpts last_tail = last;
    last_tail.tail = true;
    Case cases[] = {
        {"abc", 0, S("B"), none, 1},
        {"abc", 0, S("B"), cs, -1},
        {"abc", 0, S("b"), cs, 1},
        {"abc", 0, S("b"), same, 1},
        {"abc", 0, S("B"), same, -1},
        {"abcabc", 0, S("bc"), last, 4},
        {"abcabc", 0, S("bc"), last_tail, 6},
        {"abcabc", 0, S("bc"), tail, 3},
        {"abcabc", 0, S("bc"), match, -1},
        {"abcabc", 1, S("bc"), match, 1},
        {"abcabc", 6, S("bc"), rev, 4},
        {"abcabc", 4, S("bc"), rev, 1},
        {"abcabc", 0, S("bc"), rev, -1},
        {"abcabc", 0, S("ca"), part2, -1},
        {"abcabc", 0, S("ab"), part2, 0},
        {"a1b2c3", 0, S("2"), skip2, -1},
        {"a1b2c3", 0, S("C"), skip2, 4},
        {"abc", 0, test::char_cell('C'), none, 2},
        {"abc", 0, test::char_cell('C'), cs, -1},
        {"abc", 3, S("a"), none, -1},
        {"abc", 0, S(""), none, -1},
        {"a12b", 0, int_cell(12), none, 1},
        {"x<b>y", 0,
         [] {
             Cell t = S("b");
             t.set_type(TYPE_TAG);
             return t;
         }(),
         none, 1},
        {"\xC3\xA9t\xC3\xA9", 0, S("\xC3\x89"), none, 0},  // folding above ASCII
        {"a\xE2\x98\xBA"
         "b",
         0, S("B"), none, 2},  // 2-byte series, 1-byte value
        {"aaab", 0, S("ab"), cs, 2},
        {"abab", 0, S("ba"), cs, 1},
        {"xabc", 0, S("abcd"), cs, -1},
        {"abcabc", 1, S("ca"),
         [] {
             FindOpts o;
             o.cs = true;
             o.part = 2;
             return o;
         }(),
         -1},
        {"abcabc", 1, S("ca"),
         [] {
             FindOpts o;
             o.cs = true;
             o.part = 3;
             return o;
         }(),
         2},
        {"abc", 0, test::char_cell(0x263A), cs, -1},
    };
    for (const Case& c : cases) {
        Cell s = S(c.series);
        s.w1 = c.start;
        Cell r = run_find(s, c.value, c.opts);
        if (c.index < 0) {
            EXPECT_EQ(r.type(), uint32_t(TYPE_NONE)) << c.series << " " << T(c.value);
        } else {
            ASSERT_EQ(r.type(), uint32_t(TYPE_STRING)) << c.series << " " << T(c.value);
            EXPECT_EQ(r.w1, uint32_t(c.index)) << c.series << " " << T(c.value);
        }
    }
}

TEST_F(StringTest, FindErrorsAndBitsets) {
    FindOpts skip0;
    skip0.skip = -1;
    expect_error([&] { run_find(S("abc"), S("b"), skip0); }, "script", "out-of-range");
    expect_error([&] { run_find(S("abc"), binary_of("b"), FindOpts{}); }, "script", "invalid-arg");
    // A bitset holding the bits for "b" (98) and "c" (99): byte 12, mask 0x20 and 0x10.
    Cell bits = test::hold(Cell{TYPE_BITSET, 0, memory::alloc_bytes(13), 0});
    SeriesBuffer* b = buffer_of(bits.w2);
    std::memset(b->head_ptr(), 0, 13);
    b->head_ptr()[12] = 0x30;
    b->tail = b->head + 13;
    Cell r = run_find(S("xxCcb"), bits, FindOpts{});
    EXPECT_EQ(r.w1, 3u);  // never folded: "C" is not a member
    // Beyond the stored bits the complement flag answers.
    Cell r2 = run_find(S("a\xE2\x98\xBA"), bits, FindOpts{});
    EXPECT_EQ(r2.type(), uint32_t(TYPE_NONE));
    b->flags |= series_flag::COMPLEMENT;
    Cell r3 = run_find(S("a\xE2\x98\xBA"), bits, FindOpts{});
    EXPECT_EQ(r3.w1, 1u);
}

TEST_F(StringTest, SelectGivesTheNextCharacter) {
    Cell r = run_find(S("abc"), S("B"), FindOpts{}, true);
    ASSERT_EQ(r.type(), uint32_t(TYPE_CHAR));
    EXPECT_EQ(r.w2, uint32_t('c'));
    Cell r2 = run_find(S("abcd"), S("bc"), FindOpts{}, true);
    EXPECT_EQ(r2.w2, uint32_t('d'));
    EXPECT_EQ(run_find(S("abc"), S("c"), FindOpts{}, true).type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(run_find(S("abc"), S("z"), FindOpts{}, true).type(), uint32_t(TYPE_NONE));
    // binary! inherits select: the next byte as an integer.
    Cell bin = binary_of("a\x05z");
    Cell five = int_cell(5);
    Cell r3 =
        *string::select(&bin, &five, nullptr, false, false, false, false, nullptr, nullptr, false, false)
             .cell;
    ASSERT_EQ(r3.type(), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(r3.w2, uint32_t('z'));
}

// ---- trim ---------------------------------------------------------------------------------------

TEST_F(StringTest, TrimWithEveryRefinement) {
    struct Case {
        const char* in;
        bool head, tail, lines, all;
        int with;  // 0 none, 1 string "-", 2 char #"b", 3 integer 98, 4 string "ac", 5 empty string
        const char* out;
    } cases[] = {
        {"  a  \n  b  \n", false, false, false, false, 0, "a\nb\n"},
        {"  a  \n  b  \n", false, false, true, false, 0, "a b"},
        {"  a  \n  b  \n", true, false, false, false, 0, "a  \n  b  \n"},
        {"  a  \n  b  \n", false, true, false, false, 0, "  a  \n  b"},
        {"  a  \n  b  \n", true, true, false, false, 0, "a  \n  b"},
        {"a-b-c", false, false, false, false, 1, "abc"},
        {"abcb", false, false, false, false, 2, "ac"},
        {"abcb", false, false, false, false, 3, "ac"},
        {"abcabc", false, false, false, false, 4, "bb"},
        {"abc", false, false, false, false, 5, "abc"},
        {" a b\tc\r\n", false, false, false, true, 0, "abc"},
        {"\x01"
         "a\x02",
         false, false, false, true, 0,
         "\x01"
         "a\x02"},
        {"\n\na\n\n", false, false, false, false, 0, "a\n"},
        {"a \t\nb", false, false, false, false, 0, "a\nb"},
        {"a\n   b", false, false, false, false, 0, "a\nb"},
        {"a  b", false, false, false, false, 0, "a  b"},
        {"a\n", false, true, false, false, 0, "a"},
        {"\xE3\x80\x80"
         "a\xC2\xA0",
         false, false, false, false, 0, "a"},  // ideographic and no-break space
        {"  ", false, false, false, false, 0, ""},
        {"x\x0B\x0By", false, false, true, false, 0, "x y"},
    };
    for (const Case& c : cases) {
        std::vector<Cell> args{S(c.in)};
        int32_t with_pos = -1;
        if (c.with) {
            with_pos = 1;
            switch (c.with) {
                case 1:
                    args.push_back(S("-"));
                    break;
                case 2:
                    args.push_back(test::char_cell('b'));
                    break;
                case 3:
                    args.push_back(int_cell(98));
                    break;
                case 4:
                    args.push_back(S("ac"));
                    break;
                default:
                    args.push_back(S(""));
                    break;
            }
        }
        Cell* base = stack::mark_native(nullptr);
        for (const Cell& a : args) stack::push(a);
        int32_t refs[6] = {c.head ? 0 : -1, c.tail ? 0 : -1, -1, c.lines ? 0 : -1, c.all ? 0 : -1, with_pos};
        EXPECT_EQ(actions::generic_table[ACT_TRIM](refs), UNWIND_NONE);
        Cell r = *base;
        stack::unwind_drop();
        EXPECT_EQ(T(r), c.out) << c.in;
    }
    // Trimming starts at the index.
    Cell s = S("xx  a ");
    s.w1 = 2;
    Cell r = run_action(ACT_TRIM, {s}, {-1, -1, -1, -1, -1, -1});
    EXPECT_EQ(Head(r), "xxa");
    EXPECT_EQ(Head(run_action(ACT_TRIM, {S("  a\n   b")}, {-1, -1, 0, -1, -1, -1})), "a\n b");
}

// ---- sort ---------------------------------------------------------------------------------------

struct SortOpts {
    bool cs = false;
    int32_t skip = 0;
    Cell compare{};  // header 0: not used
    int32_t part = INT32_MIN;
    bool all = false, reverse = false, stable = false;
};

Cell run_sort(Cell s, SortOpts o) {
    std::vector<Cell> args{s};
    int32_t refs[7] = {o.cs ? 0 : -1, -1, -1, -1, o.all ? 0 : -1, o.reverse ? 0 : -1, o.stable ? 0 : -1};
    if (o.skip) {
        refs[1] = int32_t(args.size());
        args.push_back(int_cell(o.skip));
    }
    if (o.compare.header) {
        refs[2] = int32_t(args.size());
        args.push_back(o.compare);
    }
    if (o.part != INT32_MIN) {
        refs[3] = int32_t(args.size());
        args.push_back(int_cell(o.part));
    }
    Cell* base = stack::mark_native(nullptr);
    for (const Cell& a : args) stack::push(a);
    stack::Frame* mine = stack::ctop();
    try {
        EXPECT_EQ(actions::generic_table[ACT_SORT](refs), UNWIND_NONE);
    } catch (...) {
        stack::catch_at(mine);
        throw;
    }
    Cell r = *base;
    stack::unwind_drop();
    return r;
}

TEST_F(StringTest, SortWithRefinements) {
    auto opts = [](auto f) {
        SortOpts o;
        f(o);
        return o;
    };
    struct Case {
        const char* in;
        SortOpts o;
        const char* out;
    } cases[] = {
        {"dcBa", SortOpts{}, "aBcd"},
        {"dcBa", opts([](SortOpts& o) { o.cs = true; }), "Bacd"},
        {"dcBa", opts([](SortOpts& o) { o.reverse = true; }), "dcBa"},
        {"a_B", SortOpts{}, "aB_"},  // folded to upper case at every width
        {"\xC4\x80"
         "bA",
         SortOpts{}, "Ab\xC4\x80"},
        {"b2a1c0", opts([](SortOpts& o) { o.skip = 2; }), "a1b2c0"},
        {"b2a1c0", opts([](SortOpts& o) {
             o.skip = 2;
             o.compare = int_cell(2);
         }),
         "c0a1b2"},
        {"b2b1a9", opts([](SortOpts& o) {
             o.skip = 2;
             o.all = true;
         }),
         "a9b1b2"},
        {"a1b0c1d0", opts([](SortOpts& o) {
             o.skip = 2;
             o.compare = int_cell(2);
             o.stable = true;
         }),
         "b0d0a1c1"},
        {"a1b0c1d0", opts([](SortOpts& o) {
             o.skip = 2;
             o.compare = int_cell(2);
             o.stable = true;
             o.cs = true;
         }),
         "b0d0a1c1"},
        {"dcba", opts([](SortOpts& o) { o.part = 2; }), "cdba"},
        {"zyx", SortOpts{}, "xyz"},
        {"", SortOpts{}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(T(run_sort(S(c.in), c.o)), c.out) << c.in;
    // A negative /part sorts the units before the index.
    Cell s = S("dcbaX");
    s.w1 = 4;
    Cell r = run_sort(s, opts([](SortOpts& o) { o.part = -3; }));
    EXPECT_EQ(r.w1, 1u);
    EXPECT_EQ(Head(r), "dabcX");
}

TEST_F(StringTest, SortErrors) {
    SortOpts skip4;
    skip4.skip = 4;
    expect_error([&] { run_sort(S("abcdef"), skip4); }, "script", "invalid-refine-arg");
    SortOpts skip0;
    skip0.skip = 0;
    skip0.skip = -2;
    expect_error([&] { run_sort(S("abcdef"), skip0); }, "script", "invalid-refine-arg");
    SortOpts all;
    all.all = true;
    expect_error([&] { run_sort(S("ab"), all); }, "script", "bad-refines");
    SortOpts field;
    field.skip = 2;
    field.compare = int_cell(3);
    expect_error([&] { run_sort(S("abcd"), field); }, "script", "out-of-range");
    SortOpts nofield;
    nofield.compare = int_cell(1);
    expect_error([&] { run_sort(S("abcd"), nofield); }, "script", "bad-refines");
    SortOpts other;
    other.compare = S("x");
    expect_error([&] { run_sort(S("abcd"), other); }, "script", "invalid-refine-arg");
}

// A /compare function orders strings as it orders blocks: a positive answer
// puts the first argument first.
TEST_F(StringTest, CompareAnswerOrderFollowsTheBlockRule) {
    struct Case {
        Cell answer;
        int32_t order;
    } cases[] = {
        {Cell{TYPE_LOGIC, 1, 0, 0}, -1},
        {Cell{TYPE_LOGIC, 0, 0, 0}, 1},
        {int_cell(5), -1},
        {int_cell(-5), 1},
        {int_cell(0), 0},
        {test::float_cell(0.5), -1},
        {test::float_cell(-0.5), 1},
        {test::float_cell(0.0), 0},
        {none_c(), 1},
        {S("x"), -1},
    };
    for (const Case& c : cases) EXPECT_EQ(string::compare_answer_order(&c.answer), c.order);
}

// ---- append / insert / change / remove ----------------------------------------------------------

// Runs append or insert: refs /part (count), /only, /dup (count).
Cell run_insert(uint32_t slot, Cell s, Cell v, int32_t part = INT32_MIN, bool only = false,
                int32_t dup = INT32_MIN) {
    std::vector<Cell> args{s, v};
    int32_t refs[3] = {-1, only ? 0 : -1, -1};
    if (part != INT32_MIN) {
        refs[0] = int32_t(args.size());
        args.push_back(int_cell(part));
    }
    if (dup != INT32_MIN) {
        refs[2] = int32_t(args.size());
        args.push_back(int_cell(dup));
    }
    Cell* base = stack::mark_native(nullptr);
    for (const Cell& a : args) stack::push(a);
    stack::Frame* mine = stack::ctop();
    try {
        EXPECT_EQ(actions::generic_table[slot](refs), UNWIND_NONE);
    } catch (...) {
        stack::catch_at(mine);
        throw;
    }
    Cell r = *base;
    stack::unwind_drop();
    return r;
}

Cell tag(const char* text) {
    Cell t = S(text);
    t.set_type(TYPE_TAG);
    return t;
}

TEST_F(StringTest, AppendValues) {
    struct Case {
        Cell target, value;
        int32_t part, dup;
        bool only;
        const char* out;
    } cases[] = {
        {S("ab"), S("cd"), INT32_MIN, INT32_MIN, false, "abcd"},
        {S("ab"), S("cdef"), 2, INT32_MIN, false, "abcd"},
        {S("ab"), S("x"), INT32_MIN, 3, false, "abxxx"},
        {S("ab"), S("xy"), INT32_MIN, 0, false, "ab"},
        {S("ab"), test::char_cell(0xE9), INT32_MIN, INT32_MIN, false, "ab\xC3\xA9"},
        {S("ab"), int_cell(12), INT32_MIN, INT32_MIN, false, "ab12"},
        {S("ab"), int_cell(12345), 2, INT32_MIN, false, "ab12"},
        {S("a"), tag("b"), INT32_MIN, INT32_MIN, false, "a<b>"},
        {S("a"), tag("bc"), 2, INT32_MIN, false, "a<b"},
        {S("a"), tag("bc"), 3, INT32_MIN, false, "a<bc"},
        {S("a"), block_of({int_cell(1), S("x"), test::char_cell('y')}), INT32_MIN, INT32_MIN, false, "a1xy"},
        {S("a"), block_of({int_cell(1), S("x"), test::char_cell('y')}), 2, INT32_MIN, false, "a1x"},
        {S("a"), block_of({int_cell(123), S("xyz")}), 4, INT32_MIN, true, "a123x"},
        {S("a"), block_of({S("b")}), INT32_MIN, 3, false, "abbb"},
        {S("\xE2\x98\xBA"), S("ab"), INT32_MIN, INT32_MIN, false,
         "\xE2\x98\xBA"
         "ab"},
    };
    for (const Case& c : cases) {
        Cell r = run_insert(ACT_APPEND, c.target, c.value, c.part, c.only, c.dup);
        EXPECT_EQ(r.w1, 0u);
        EXPECT_EQ(T(r), c.out);
    }
    // Appending a string to itself.
    Cell s = S("ab");
    EXPECT_EQ(T(run_insert(ACT_APPEND, s, s, INT32_MIN, false, 3)), "abababab");
    Cell e = S("");
    Cell r = run_insert(ACT_APPEND, e, test::char_cell(0x1F600));
    EXPECT_EQ(unit_of(r), 4u);
}

TEST_F(StringTest, InsertValues) {
    struct Case {
        const char* target;
        uint32_t at;
        Cell value;
        int32_t part, dup;
        const char* out;
        uint32_t index;
    } cases[] = {
        {"cd", 0, S("ab"), INT32_MIN, INT32_MIN, "abcd", 2},
        {"ad", 1, S("bcX"), 2, INT32_MIN, "abcd", 3},
        {"ad", 1, S("bc"), INT32_MIN, 2, "abcbcd", 5},
        {"ac", 1, test::char_cell('b'), INT32_MIN, INT32_MIN, "abc", 2},
        {"ac", 1, test::char_cell('b'), INT32_MIN, 3, "abbbc", 4},
        {"ac", 1, int_cell(12), INT32_MIN, INT32_MIN, "a12c", 3},
        {"ac", 1, int_cell(12), INT32_MIN, 2, "a1212c", 5},
        {"ac", 1, tag("b"), INT32_MIN, INT32_MIN, "a<b>c", 4},
        {"ac", 2, S("d"), INT32_MIN, INT32_MIN, "acd", 3},
        {"ac", 9, S("d"), INT32_MIN, INT32_MIN, "acd", 3},
        {"ac", 1, S("\xE2\x98\xBA"), INT32_MIN, INT32_MIN,
         "a\xE2\x98\xBA"
         "c",
         2},
        {"ac", 1, block_of({int_cell(1), S("x")}), INT32_MIN, INT32_MIN, "a1xc", 3},
    };
    for (const Case& c : cases) {
        Cell s = S(c.target);
        s.w1 = std::min<uint32_t>(c.at, string::length_from_head(&s));
        Cell r = run_insert(ACT_INSERT, s, c.value, c.part, false, c.dup);
        EXPECT_EQ(Head(r), c.out) << c.target;
        EXPECT_EQ(r.w1, c.index) << c.target;
    }
}

Cell run_change(Cell s, Cell v, int32_t part = INT32_MIN, int32_t dup = INT32_MIN) {
    std::vector<Cell> args{s, v};
    int32_t refs[3] = {-1, -1, -1};
    if (part != INT32_MIN) {
        refs[0] = int32_t(args.size());
        args.push_back(int_cell(part));
    }
    if (dup != INT32_MIN) {
        refs[2] = int32_t(args.size());
        args.push_back(int_cell(dup));
    }
    Cell* base = stack::mark_native(nullptr);
    for (const Cell& a : args) stack::push(a);
    EXPECT_EQ(actions::generic_table[ACT_CHANGE](refs), UNWIND_NONE);
    Cell r = *base;
    stack::unwind_drop();
    return r;
}

TEST_F(StringTest, ChangeValues) {
    struct Case {
        const char* target;
        uint32_t at;
        Cell value;
        int32_t part, dup;
        const char* out;
        uint32_t index;
    } cases[] = {
        {"abcdef", 0, S("XY"), INT32_MIN, INT32_MIN, "XYcdef", 2},
        {"abcdef", 0, S("X"), 3, INT32_MIN, "Xdef", 1},
        {"abcdef", 1, S("XYZ"), 1, INT32_MIN, "aXYZcdef", 4},
        {"abcdef", 0, S("X"), 0, INT32_MIN, "Xabcdef", 1},
        {"ab", 0, S("WXYZ"), INT32_MIN, INT32_MIN, "WXYZ", 4},
        {"abcdef", 2, S("xy"), INT32_MIN, 2, "abxyxy", 6},
        {"abcdef", 2, test::char_cell('Z'), INT32_MIN, INT32_MIN, "abZdef", 3},
        {"abcdef", 2, test::char_cell(0xE9), INT32_MIN, INT32_MIN,
         "ab\xC3\xA9"
         "def",
         3},
        {"abcdef", 2, test::char_cell(0x263A), 2, INT32_MIN,
         "ab\xE2\x98\xBA"
         "ef",
         3},
        {"abcdef", 1, int_cell(42), INT32_MIN, INT32_MIN, "a42def", 3},
        {"abcdef", 1, tag("t"), INT32_MIN, INT32_MIN, "a<t>ef", 4},
        {"abc", 3, S("de"), INT32_MIN, INT32_MIN, "abcde", 5},
        {"abcdef", 0, block_of({int_cell(1), S("x")}), INT32_MIN, INT32_MIN, "1xcdef", 2},
        {"a\xE2\x98\xBA"
         "cd",
         0, S("xy"), INT32_MIN, INT32_MIN, "xycd", 2},
    };
    for (const Case& c : cases) {
        Cell s = S(c.target);
        s.w1 = c.at;
        Cell r = run_change(s, c.value, c.part, c.dup);
        EXPECT_EQ(Head(r), c.out) << c.target;
        EXPECT_EQ(r.w1, c.index) << c.target;
    }
    // A value that shares the series' buffer is read before anything moves.
    Cell s = S("abcdef");
    Cell v = s;
    v.w1 = 3;
    Cell r = run_change(s, v);
    EXPECT_EQ(Head(r), "defdef");
}

TEST_F(StringTest, RemoveIsInherited) {
    Cell r = run_action(ACT_REMOVE, {S("abc")}, {-1, -1});
    EXPECT_EQ(T(r), "bc");
    Cell r2 = run_action(ACT_REMOVE, {S("abcd"), int_cell(2)}, {1, -1});
    EXPECT_EQ(T(r2), "cd");
}

TEST_F(StringTest, NeededSizeOverflowIsNoMemory) {
    // (dup x 1000 + 1000) units would wrap a 32-bit product.
    Cell s = S(std::string(1000, 'x'));
    Cell v = S(std::string(1000, 'y'));
    expect_error([&] { run_insert(ACT_APPEND, s, v, INT32_MIN, false, 4294968); }, "internal", "no-memory");
    EXPECT_EQ(string::length(&s), 1000u);  // unchanged
    expect_error([&] { run_change(s, v, INT32_MIN, 2147483647); }, "internal", "no-memory");
}

// ---- swap / take / path ---------------------------------------------------------------------------

TEST_F(StringTest, SwapTakeAndPath) {
    Cell a = S("abc"), b = S("\xE2\x98\xBAyz");
    run_action(ACT_SWAP, {a, b});
    EXPECT_EQ(T(a),
              "\xE2\x98\xBA"
              "bc");
    EXPECT_EQ(unit_of(a), 2u);
    EXPECT_EQ(T(b), "ayz");
    expect_error([&] { run_action(ACT_SWAP, {a, block_of({})}); }, "script", "invalid-arg");

    Cell t = run_action(ACT_TAKE, {S("abc")}, {-1, -1, -1});
    ASSERT_EQ(t.type(), uint32_t(TYPE_CHAR));
    EXPECT_EQ(t.w2, uint32_t('a'));
    Cell tl = run_action(ACT_TAKE, {S("abc")}, {-1, -1, 0});
    EXPECT_EQ(tl.w2, uint32_t('c'));
    Cell tp = run_action(ACT_TAKE, {S("abcd"), int_cell(2)}, {1, -1, -1});
    EXPECT_EQ(tp.type(), uint32_t(TYPE_STRING));
    EXPECT_EQ(T(tp), "ab");

    Cell s = S("abc");
    Cell two = int_cell(2);
    Cell* got =
        string::eval_path(&s, &two, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false).cell;
    EXPECT_EQ(got->w2, uint32_t('b'));
    Cell key = S("b");
    Cell* sel =
        string::eval_path(&s, &key, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false).cell;
    EXPECT_EQ(sel->w2, uint32_t('c'));
    Cell z = test::char_cell('Z');
    (void)string::eval_path(&s, &key, &z, nullptr, nullptr, nullptr, -1, false, false, true, false);
    EXPECT_EQ(T(s), "abZ");
    Cell missing = S("q");
    expect_error(
        [&] {
            (void)string::eval_path(&s, &missing, &z, nullptr, nullptr, nullptr, -1, false, false, true, false);
        },
        "script", "bad-path-set");
}

// ---- make / to -------------------------------------------------------------------------------------

TEST_F(StringTest, MakeAndTo) {
    Cell m = run_action(ACT_MAKE, {test::type_cell(TYPE_STRING), int_cell(10)});
    EXPECT_EQ(m.type(), uint32_t(TYPE_STRING));
    EXPECT_EQ(T(m), "");
    // The other string types inherit these implementations.
    Cell proto = test::type_cell(TYPE_FILE), cap = test::float_cell(3.7);
    Cell mf = *string::make(&proto, &cap, TYPE_FILE).cell;
    EXPECT_EQ(mf.type(), uint32_t(TYPE_FILE));
    expect_error(
        [&] {
            run_action(ACT_MAKE, {test::type_cell(TYPE_STRING), int_cell(-1)});
        },
        "script", "out-of-range");
    EXPECT_EQ(T(run_action(ACT_TO, {test::type_cell(TYPE_STRING), int_cell(123)})), "123");
    EXPECT_EQ(T(run_action(ACT_MAKE, {test::type_cell(TYPE_STRING), test::char_cell('x')})), "x");
    Cell blk = block_of({int_cell(1), S("a b"), test::char_cell('c')});
    EXPECT_EQ(T(run_action(ACT_TO, {test::type_cell(TYPE_STRING), blk})), "1a bc");
    Cell src = S("hello");
    src.w1 = 2;
    Cell copy = run_action(ACT_TO, {test::type_cell(TYPE_STRING), src});
    EXPECT_EQ(T(copy), "llo");
    EXPECT_NE(copy.w2, src.w2);
    Cell uproto = test::type_cell(TYPE_URL), x = S("x");
    Cell url = *string::to(&uproto, &x, TYPE_URL).cell;
    EXPECT_EQ(url.type(), uint32_t(TYPE_URL));
    EXPECT_EQ(T(run_action(ACT_TO, {test::type_cell(TYPE_STRING), binary_of("a\xC3\xA9")})), "a\xC3\xA9");
    RaisedError e = expect_error(
        [&] {
            run_action(ACT_TO, {test::type_cell(TYPE_STRING), binary_of("ab\xC3")});
        },
        "access", "invalid-utf8");
    EXPECT_EQ(bytes_of(e.args[0]), "\xC3");
    expect_error(
        [&] {
            run_action(ACT_TO, {test::type_cell(TYPE_STRING), none_c()});
        },
        "script", "bad-to-arg");
}

// ---- set operations --------------------------------------------------------------------------------

Cell set_op(Cell a, Cell b, int32_t op, bool cs = false, int32_t skip = 0) {
    Cell* base = stack::mark_native(nullptr);
    stack::push(a);
    stack::push(b);
    Cell size = int_cell(skip);
    stack::Frame* mine = stack::ctop();
    try {
        string::do_set_op(cs, skip ? &size : nullptr, op);
    } catch (...) {
        stack::catch_at(mine);
        throw;
    }
    Cell r = *base;
    stack::unwind_drop();
    return r;
}

TEST_F(StringTest, SetOperations) {
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        bool cs;
        int32_t skip;
        const char* out;
    } cases[] = {
        {"abcabcA", "", 8, false, 0, "abc"},
        {"abcabcA", "", 8, true, 0, "abcA"},
        {"abc", "bcd", 9, false, 0, "abcd"},
        {"abc", "BCD", 9, true, 0, "abcBCD"},
        {"abcd", "db", 10, false, 0, "bd"},
        {"abcd", "DB", 10, false, 0, "bd"},
        {"abcd", "DB", 10, true, 0, ""},
        {"abcd", "db", 11, false, 0, "ac"},
        {"abc", "bcd", 12, false, 0, "ad"},
        {"a1a2b3", "", 8, false, 2, "a1b3"},
        {"a1b2c3", "b9", 11, false, 2, "a1c3"},
        {"a1b2", "1a", 10, false, 2, ""},  // "a" sits at no record start of the other
    };
    for (const Case& c : cases)
        EXPECT_EQ(T(set_op(S(c.a), S(c.b), c.op, c.cs, c.skip)), c.out) << c.a << c.op;
    // An empty first operand is the result itself.
    Cell e = S("");
    Cell r = set_op(e, S("x"), 10);
    EXPECT_EQ(r.w2, e.w2);
    EXPECT_EQ(T(set_op(e, S("xy"), 9)), "xy");
    expect_error([&] { set_op(S("ab"), S("b"), 9, false, -1); }, "script", "invalid-refine-arg");
}

TEST_F(StringTest, ParseCharacterTests) {
    Cell s = S("<ab>x");
    EXPECT_TRUE(string::tag_delimited(&s, 2));
    EXPECT_FALSE(string::tag_delimited(&s, 1));
    Cell t = tag("AB");
    EXPECT_TRUE(string::match_at(&s, &t, COMP_EQUAL));
    EXPECT_FALSE(string::match_at(&s, &t, COMP_STRICT_EQUAL));
    Cell c = test::char_cell('<');
    EXPECT_TRUE(string::match_at(&s, &c, COMP_STRICT_EQUAL));
    Cell ab = S("<A");
    EXPECT_TRUE(string::match_at(&s, &ab, COMP_EQUAL));
    Cell i = int_cell(1);
    EXPECT_FALSE(string::match_at(&s, &i, COMP_EQUAL));
}

}  // namespace
}  // namespace kiv
