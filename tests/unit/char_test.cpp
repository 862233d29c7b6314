// char!: make/to range checks, mold escapes, comparison and range-checked math,
// through the generic entries on the data stack.
#include "datatypes/char.h"

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "test_support.h"

namespace kiv {
namespace {

using test::char_cell;
using test::expect_error;
using test::float_cell;
using test::int_cell;
using test::run_action;
using test::type_cell;

class CharTest : public test::RuntimeTest {};

Cell S(const std::string& text) {
    Cell c{};
    string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), &c, string::ENC_UTF8);
    return test::hold(c);
}
Cell binary_of(const std::string& bytes) {
    Off node = memory::alloc_bytes(uint32_t(bytes.size()));
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
    b->tail = b->head + uint32_t(bytes.size());
    return test::hold(Cell{TYPE_BINARY, 0, node, 0});
}

TEST_F(CharTest, MoldAndForm) {
    struct Case {
        uint32_t cp;
        bool all;
        const char* mold;
    } cases[] = {
        {'a', false, "#\"a\""},
        {'"', false, "#\"^\"\""},
        {'^', false, "#\"^^\""},
        {'\n', false, "#\"^/\""},
        {'\t', false, "#\"^-\""},
        {0, false, "#\"^@\""},
        {30, false, "#\"^(1E)\""},
        {27, false, "#\"^[\""},
        {127, false, "#\"^~\""},
        {128, false, "#\"^(80)\""},
        {159, false, "#\"^(9F)\""},
        {233, false, "#\"\xC3\xA9\""},
        {233, true, "#\"^(E9)\""},
        {0x10FFFF, true, "#\"^(10FFFF)\""},
        {0x263A, false, "#\"\xE2\x98\xBA\""},
        {'{', false, "#\"{\""},
    };
    for (const Case& c : cases) EXPECT_EQ(test::mold_text(char_cell(c.cp), false, c.all), c.mold) << c.cp;
    EXPECT_EQ(test::form_text(char_cell('a')), "a");
    EXPECT_EQ(test::form_text(char_cell(0x1F600)), "\xF0\x9F\x98\x80");
    EXPECT_EQ(test::form_text(char_cell('"')), "\"");
}

TEST_F(CharTest, MakeAndToRangeChecked) {
    struct Ok {
        Cell spec;
        uint32_t cp;
    } oks[] = {
        {int_cell(1114111), 0x10FFFF},  {int_cell(0), 0},      {float_cell(65.9), 'A'},
        {float_cell(0.5), 0},           {char_cell('z'), 'z'}, {S("abc"), 'a'},
        {binary_of("\xC3\xA9x"), 0xE9}, {binary_of("A"), 'A'}, {binary_of("\xF0\x9F\x98\x80"), 0x1F600},
    };
    for (uint32_t slot : {uint32_t(ACT_MAKE), uint32_t(ACT_TO)}) {
        for (const Ok& o : oks) {
            Cell r = run_action(slot, {type_cell(TYPE_CHAR), o.spec});
            ASSERT_EQ(r.type(), uint32_t(TYPE_CHAR));
            EXPECT_EQ(r.w2, o.cp);
        }
    }
    Cell at1 = S("abc");
    at1.w1 = 1;
    EXPECT_EQ(run_action(ACT_TO, {type_cell(TYPE_CHAR), at1}).w2, uint32_t('b'));
    struct Bad {
        Cell spec;
        const char* category;
        const char* id;
    } bads[] = {
        {int_cell(1114112), "script", "out-of-range"},
        {int_cell(-1), "script", "out-of-range"},
        {float_cell(-1.0), "script", "out-of-range"},
        {float_cell(1114112.0), "script", "out-of-range"},
        {float_cell(__builtin_nan("")), "script", "out-of-range"},
        {S(""), "script", "bad-to-arg"},
        {binary_of(""), "script", "bad-to-arg"},
        {binary_of("\xC3"), "access", "invalid-utf8"},
        {binary_of("\xC3("), "access", "invalid-utf8"},
        {binary_of("\x80"), "access", "invalid-utf8"},
        {Cell{TYPE_NONE, 0, 0, 0}, "script", "bad-to-arg"},
        {Cell{TYPE_LOGIC, 1, 0, 0}, "script", "bad-to-arg"},
    };
    for (const Bad& b : bads)
        expect_error([&] { run_action(ACT_MAKE, {type_cell(TYPE_CHAR), b.spec}); }, b.category, b.id);
}

TEST_F(CharTest, Compare) {
    Cell a = char_cell('a'), a97 = int_cell(97), b = char_cell('b'), s = S("a");
    EXPECT_TRUE(actions::compare(&a, &a97, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &a97, COMP_STRICT_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &a97, COMP_FIND));
    EXPECT_TRUE(actions::compare(&a, &b, COMP_LESSER));
    EXPECT_TRUE(actions::compare(&b, &a97, COMP_GREATER));
    EXPECT_FALSE(actions::compare(&a, &s, COMP_EQUAL));
    expect_error([&] { actions::compare(&a, &s, COMP_LESSER); }, "script", "invalid-compare");
    Cell upper_a = char_cell('A');
    EXPECT_FALSE(actions::compare(&a, &upper_a, COMP_EQUAL));  // code points, not folded
    Cell neg = int_cell(-1);
    EXPECT_TRUE(actions::compare(&a, &neg, COMP_GREATER));
}

TEST_F(CharTest, MathIsRangeChecked) {
    struct Ok {
        uint32_t slot;
        Cell left, right;
        uint32_t cp;
    } oks[] = {
        {ACT_ADD, char_cell('a'), int_cell(1), 'b'},
        {ACT_ADD, char_cell('a'), char_cell(1), 'b'},
        {ACT_ADD, char_cell('a'), float_cell(1.9), 'b'},
        {ACT_SUBTRACT, char_cell('a'), int_cell(97), 0},
        {ACT_SUBTRACT, char_cell('b'), char_cell('a'), 1},
        {ACT_MULTIPLY, char_cell(0x8000), int_cell(2), 0x10000},
        {ACT_DIVIDE, char_cell('b'), int_cell(2), 49},
        {ACT_REMAINDER, char_cell('a'), int_cell(10), 7},
        {ACT_AND_T, char_cell('a'), int_cell(0x5F), 'A'},
        {ACT_OR_T, char_cell('A'), int_cell(0x20), 'a'},
        {ACT_XOR_T, char_cell('a'), int_cell(0x20), 'A'},
        {ACT_ADD, char_cell(0x10FFFE), int_cell(1), 0x10FFFF},
    };
    for (const Ok& o : oks) {
        Cell r = run_action(o.slot, {o.left, o.right});
        ASSERT_EQ(r.type(), uint32_t(TYPE_CHAR)) << o.slot;
        EXPECT_EQ(r.w2, o.cp) << o.slot;
    }
    struct Bad {
        uint32_t slot;
        Cell left, right;
        const char* category;
        const char* id;
    } bads[] = {
        {ACT_SUBTRACT, char_cell('a'), int_cell(98), "math", "overflow"},
        {ACT_MULTIPLY, char_cell(0x10FFFF), int_cell(2), "math", "overflow"},
        {ACT_ADD, char_cell(0x10FFFF), int_cell(1), "math", "overflow"},
        {ACT_ADD, char_cell('a'), int_cell(2147483647), "math", "overflow"},
        {ACT_MULTIPLY, char_cell(0x10FFFF), int_cell(0x10FFFF), "math", "overflow"},
        {ACT_DIVIDE, char_cell('a'), int_cell(2), "math", "overflow"},  // 48.5 is no code point
        {ACT_DIVIDE, char_cell('a'), int_cell(0), "math", "zero-divide"},
        {ACT_REMAINDER, char_cell('a'), int_cell(0), "math", "zero-divide"},
        {ACT_ADD, char_cell('a'), float_cell(1e12), "math", "overflow"},
        {ACT_ADD, char_cell('a'), S("x"), "script", "invalid-type"},
        {ACT_ADD, char_cell('a'), Cell{TYPE_NONE, 0, 0, 0}, "script", "invalid-type"},
    };
    for (const Bad& b : bads) expect_error([&] { run_action(b.slot, {b.left, b.right}); }, b.category, b.id);
}

TEST_F(CharTest, InheritsFromIntegerAndLeavesTheRestEmpty) {
    for (uint32_t slot :
         {uint32_t(ACT_RANDOM), uint32_t(ACT_ABSOLUTE), uint32_t(ACT_EVEN_Q), uint32_t(ACT_ODD_Q)})
        EXPECT_EQ(datatype::lookup(TYPE_CHAR, slot), datatype::lookup(TYPE_INTEGER, slot)) << slot;
    for (uint32_t slot : {uint32_t(ACT_NEGATE), uint32_t(ACT_POWER), uint32_t(ACT_ROUND),
                          uint32_t(ACT_APPEND), uint32_t(ACT_COMPLEMENT), uint32_t(ACT_PICK)})
        EXPECT_EQ(datatype::lookup(TYPE_CHAR, slot), nullptr) << slot;
    EXPECT_STREQ(datatype::names[TYPE_CHAR].name, "char!");
}

TEST_F(CharTest, HelpersBuildCells) {
    Cell* c = char_::push(0x263A);
    EXPECT_EQ(c->type(), uint32_t(TYPE_CHAR));
    EXPECT_EQ(char_::get(c), 0x263Au);
    Cell blk{};
    block::make_at(&blk, 2);
    Cell* in = char_::make_in(&blk, 'q');
    EXPECT_EQ(in->w2, uint32_t('q'));
    EXPECT_EQ(test::mold_text(blk), "[#\"q\"]");
}

}  // namespace
}  // namespace kiv
