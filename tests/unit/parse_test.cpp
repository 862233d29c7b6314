// The parse engine's work stacks: every way a parse ends (a result, a raised
// error, a non-local exit, a callback that stops it) leaves both stacks as
// the call found them, and a parse that runs inside another keeps the outer
// one's frames intact. Scripts cannot see the stacks themselves.
#include "evaluator/parse.h"

#include <string>
#include <utility>
#include <vector>

#include "evaluator/parse_internal.h"
#include "interp_support.h"

namespace kiv::test {
namespace {

class ParseTest : public InterpTest {
  protected:
    void SetUp() override {
        InterpTest::SetUp();
        parser::init();
    }
};

TEST_F(ParseTest, EveryEndingCutsTheWorkStacksBack) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"parse \"ab\" [\"a\" \"b\"]", "true"},
        {"parse \"ab\" [\"a\" [\"x\" | \"b\"]]", "true"},
        {"parse [a [b]] [word! into [word!]]", "true"},
        {"parse [a [b]] [word! into [integer!]]", "false"},
        {"parse \"a\" [some [\"a\" (1)]]", "true"},
        {"parse [1 2] [collect [some keep integer!]]", "[1 2]"},
        {"parse \"ab\" [\"a\" (parse \"x\" [\"x\"]) \"b\"]", "true"},
        {"parse \"ab\" [\"a\" (try [parse [[1]] [into [x/y]]]) \"b\"]", "true"},
        {"parse/trace \"ab\" [\"a\" \"b\"] func [e m r i s] [false]", "true"},
        {"loop 2 [parse [[1]] [into [(break)]]]", "unset"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(eval_mold(text), expected) << text;
        EXPECT_EQ(parser::rule_stack_cells(), 0u) << text;
        EXPECT_EQ(parser::input_stack_cells(), 0u) << text;
    }
}

TEST_F(ParseTest, ErrorsLeaveTheStacksEmpty) {
    const char* failing[] = {
        "parse \"a\" [x/y]",
        "parse [[[[1]]]] [into [into [into [(undefined-word)]]]]",
        "parse \"aaa\" [some [\"a\" [\"a\" [-1 \"a\"]]]]",
        "parse [1] [collect [keep (undefined-word)]]",
    };
    for (const char* text : failing) {
        std::string got = eval_mold(text);
        EXPECT_EQ(got.rfind("*** ", 0), 0u) << text << " gave " << got;
        EXPECT_EQ(parser::rule_stack_cells(), 0u) << text;
        EXPECT_EQ(parser::input_stack_cells(), 0u) << text;
    }
}

TEST_F(ParseTest, DepthIsBoundedByTheStackLimit) {
    // A rule that refers to itself nests frames until the limit, on the
    // work stacks, not on the machine stack.
    std::string got = eval_mold("r: [r] parse \"a\" r");
    EXPECT_NE(got.find("PARSE - stack limit reached"), std::string::npos) << got;
    EXPECT_EQ(parser::rule_stack_cells(), 0u);
}

TEST(ParseRounds, AnUnboundedRepetitionStopsCountingAtTheLargestBound) {
    // A while loop may run more than 2^31 rounds; its count stays at the
    // largest bound a rule can name instead of overflowing.
    EXPECT_EQ(parser::count_round(0), 1u);
    EXPECT_EQ(parser::count_round(INT32_MAX - 1), uint32_t(INT32_MAX));
    EXPECT_EQ(parser::count_round(INT32_MAX), uint32_t(INT32_MAX));
}

}  // namespace
}  // namespace kiv::test
