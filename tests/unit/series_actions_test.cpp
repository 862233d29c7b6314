// series!: what scripts cannot reach. The actions' behaviour is covered by
// tests/scripts/series/series-actions.kiv; here: argument checks that the
// natives' typed specifications keep scripts from reaching, the length
// clamp primitive, the generator's draws behind random, and unit widths.
#include <algorithm>
#include <string>
#include <vector>

#include "block_builder.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/random.h"
#include "runtime/memory.h"

using namespace kiv;
using namespace kiv::test;

namespace {

class SeriesActionsTest : public RuntimeTest {};

std::string shown(const Cell& v) {
    return v.type() == TYPE_NONE ? "none" : mold_text(v);
}

// ---- Arguments the typed specifications refuse -----------------------------------------------

// Called from C++ with values a script cannot pass, the actions still
// refuse them with their own errors.
TEST_F(SeriesActionsTest, ArgumentsOutsideTheSpecificationAreRefused) {
    Cell b = load("[1 2 3 4 5 6]");
    struct Case {
        const char* path;
        Cell arg;
        const char* id;
    } cases[] = {
        {"at", none::cell(), "invalid-arg"},
        {"skip", load("1.5"), "invalid-arg"},
        {"remove/part", none::cell(), "invalid-refine-arg"},
        {"reverse/skip", none::cell(), "invalid-refine-arg"},
        {"take/part", none::cell(), "invalid-refine-arg"},
        {"copy/part", none::cell(), "invalid-refine-arg"},
    };
    for (const Case& c : cases) expect_error([&] { call(c.path, {b, c.arg}); }, "script", c.id);
    EXPECT_EQ(shown(call("pick", {b, none::cell()})), "none");
    EXPECT_EQ(mold_text(b), "[1 2 3 4 5 6]");
}

// ---- Length of a position past the tail ----------------------------------------------------------

TEST_F(SeriesActionsTest, GetLengthClampsAPositionPastTheTail) {
    Cell b = load("[1 2 3]");
    Cell later = at_pos(b, 3);
    call("clear", {at_pos(b, 1)});
    Cell clamped = later;
    EXPECT_EQ(series::get_length(&clamped, false), 0u);
    EXPECT_EQ(clamped.w1, 1u);  // clamped to the new tail
    EXPECT_EQ(series::get_length(&clamped, true), 1u);
}

// ---- random ---------------------------------------------------------------------------------

// Both forms draw from the generator's uniform 1..n: /only once over what
// remains, the shuffle once per place with the places left (itself included).
TEST_F(SeriesActionsTest, RandomUsesTheGeneratorsUniformDraw) {
    for (int32_t seed : {5, 77, 123456}) {
        call("random/seed", {int_cell(seed)});
        Cell b = load("[10 20 30 40 50 60 70 80 90]");
        Cell picked = call("random/only", {at_pos(b, 2)});
        call("random", {at_pos(b, 1)});
        std::vector<int32_t> got;
        for (int32_t i = 1; i <= 9; ++i) got.push_back(int32_t(call("pick", {b, int_cell(i)}).w2));

        random::seed(uint32_t(seed));
        EXPECT_EQ(int32_t(picked.w2), 10 * (2 + random::int_(7, false))) << seed;
        std::vector<int32_t> expected = {10, 20, 30, 40, 50, 60, 70, 80, 90};
        for (size_t i = 1; i + 1 < expected.size(); ++i)
            std::swap(expected[i], expected[i + size_t(random::int_(int32_t(expected.size() - i), false)) - 1]);
        EXPECT_EQ(got, expected) << seed;
    }
}

// ---- Unit widths ---------------------------------------------------------------------------

// A string! of the text, kept reachable until the next test.
Cell text(const char* s) {
    Cell* c = string::make_at(stack::push(none::cell()), 8);
    string::concatenate_literal(c, s);
    Cell v = *c;
    stack::pop(1);
    return hold(v);
}

TEST_F(SeriesActionsTest, TextWidensForAWideCharacterAndCopiesKeepTheWidth) {
    Cell s = text("abcd");
    EXPECT_EQ(series::buffer(&s)->unit(), 1u);
    Cell omega = char_cell(0x3A9);
    EXPECT_EQ(series::poke(&s, 3, &omega, nullptr).code, UNWIND_NONE);
    EXPECT_EQ(series::buffer(&s)->unit(), 2u);
    Cell* copy = stack::push(none::cell());
    EXPECT_EQ(series::copy(&s, copy, nullptr, false, nullptr).code, UNWIND_NONE);
    EXPECT_EQ(series::buffer(copy)->unit(), 2u);
    EXPECT_EQ(string_text(*copy),
              "ab\xCE\xA9"
              "d");
}

}  // namespace
