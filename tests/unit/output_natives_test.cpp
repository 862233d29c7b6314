// print and prin through hook list A, the working block and the last line
// feed flag; the comparison natives, same?, not and type?.
#include <unistd.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "evaluator/natives_impl.h"
#include "natives_test_support.h"
#include "platform/console_output.h"
#include "runtime/hooks.h"

namespace kiv::test {
namespace {

// What hook list A received: the text and the new-line flag of each print.
std::vector<std::pair<std::string, uint32_t>> printed;

void capture(const Cell* value, uint32_t new_line) {
    EXPECT_EQ(value->type(), uint32_t(TYPE_STRING));
    printed.emplace_back(string_text(*value), new_line);
}

class OutputNatives : public NativesTest {
  protected:
    void SetUp() override {
        NativesTest::SetUp();
        printed.clear();
        hooks::register_callbacks(&capture, nullptr);
    }
    void TearDown() override {
        hooks::unregister_callbacks(&capture, nullptr);
        NativesTest::TearDown();
    }
};

uint32_t working_block_length() {
    Cell w = natives::working_block();
    return series::buffer_length(&w);
}

// ---- print and prin -------------------------------------------------------------------

TEST_F(OutputNatives, PrintFormsAndHandsTheTextToTheHooks) {
    struct Case {
        const char* code;
        const char* text;
    };
    const Case cases[] = {
        {"[print [1 + 2 \"x\"]]", "3 x"},
        {"[print []]", ""},
        {"[print 5]", "5"},
        {"[print \"abc\"]", "abc"},
        {"[print next \"abc\"]", "bc"},
        {"[print [\"a\" [b c] 1.5]]", "a b c 1.5"},
        {"[b: [1 + 1 \"y\"] print b]", "2 y"},
    };
    for (const Case& c : cases) {
        printed.clear();
        EXPECT_EQ(run_mold(c.code), "unset") << c.code;
        ASSERT_EQ(printed.size(), 1u) << c.code;
        EXPECT_EQ(printed[0].first, c.text) << c.code;
        EXPECT_EQ(printed[0].second, 1u) << c.code;
    }
}

TEST_F(OutputNatives, PrinHasNoLineFeed) {
    EXPECT_EQ(run_mold("[prin \"x\"]"), "unset");
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(printed[0], std::make_pair(std::string("x"), 0u));
    EXPECT_EQ(natives::last_line_feed, 0u);
    run("[print \"y\"]");
    EXPECT_EQ(natives::last_line_feed, 1u);
    run("[prin [1 2]]");
    EXPECT_EQ(printed.back(), std::make_pair(std::string("1 2"), 0u));
    EXPECT_EQ(natives::last_line_feed, 0u);
}

TEST_F(OutputNatives, NestedPrintsShareTheWorkingBlock) {
    run("[print [print \"a\" \"b\"]]");
    ASSERT_EQ(printed.size(), 2u);
    EXPECT_EQ(printed[0], std::make_pair(std::string("a"), 1u));
    // The inner print's own values are gone from the outer one.
    EXPECT_EQ(printed[1].first.back(), 'b');
    EXPECT_EQ(printed[1].first.find('a'), std::string::npos);
    EXPECT_EQ(working_block_length(), 0u);

    printed.clear();
    run("[print [1 prin [2 3] 4]]");
    ASSERT_EQ(printed.size(), 2u);
    EXPECT_EQ(printed[0].first, "2 3");
    EXPECT_EQ(printed[1].first.front(), '1');
    EXPECT_EQ(printed[1].first.back(), '4');
    EXPECT_EQ(working_block_length(), 0u);
}

TEST_F(OutputNatives, AnUnwindOutOfThePrintBlockLeavesNoTrace) {
    run("[prin \"\"]");
    printed.clear();
    EXPECT_EQ(natives::last_line_feed, 0u);
    run_error("[print [1 2 / 0]]", "math", "zero-divide");
    EXPECT_TRUE(printed.empty());
    EXPECT_EQ(working_block_length(), 0u);
    EXPECT_EQ(natives::last_line_feed, 0u);

    EXPECT_EQ(run_mold("[loop 2 [print [1 break/return 3]]]"), "3");
    EXPECT_EQ(run_mold("[catch [print [1 throw 4]]]"), "4");
    EXPECT_EQ(run_mold("[f: func [] [print [1 return 5]] f]"), "5");
    EXPECT_TRUE(printed.empty());
    EXPECT_EQ(working_block_length(), 0u);
    EXPECT_EQ(natives::last_line_feed, 0u);
}

TEST_F(OutputNatives, WithoutHooksPrintStillReturnsUnset) {
    hooks::unregister_callbacks(&capture, nullptr);
    EXPECT_EQ(run_mold("[print \"nobody listens\"]"), "unset");
    hooks::register_callbacks(&capture, nullptr);
    EXPECT_TRUE(printed.empty());
}

TEST_F(OutputNatives, ConsoleWriterSendsUtf8) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    console::use_fd(fds[1]);
    Cell s = code("\"caf\xC3\xA9\"");
    Cell* keep = stack::push(s);
    natives::write_to_console(keep, 1);
    natives::write_to_console(keep, 0);
    Cell n = int_cell(5);
    natives::write_to_console(&n, 1);  // not a string: ignored
    close(fds[1]);
    char buffer[64];
    ssize_t got = ::read(fds[0], buffer, sizeof buffer);
    close(fds[0]);
    console::use_fd(1);
    ASSERT_GT(got, 0);
    EXPECT_EQ(std::string(buffer, size_t(got)), "caf\xC3\xA9\ncaf\xC3\xA9");
}

// ---- comparison --------------------------------------------------------------------------

TEST_F(OutputNatives, ComparisonNatives) {
    struct Case {
        const char* code;
        const char* result;
    };
    const Case cases[] = {
        {"[equal? 1 1]", "true"},
        {"[equal? 1 2]", "false"},
        {"[equal? \"abc\" \"ABC\"]", "true"},
        {"[strict-equal? \"abc\" \"ABC\"]", "false"},
        {"[strict-equal? \"abc\" \"abc\"]", "true"},
        {"[equal? [1 2] [1 2]]", "true"},
        {"[equal? 1 \"1\"]", "false"},
        {"[not-equal? 1 2]", "true"},
        {"[not-equal? \"a\" \"A\"]", "false"},
        {"[lesser? 1 2]", "true"},
        {"[lesser? 2 1]", "false"},
        {"[greater? 2 1]", "true"},
        {"[lesser-or-equal? 2 2]", "true"},
        {"[greater-or-equal? 1 2]", "false"},
        {"[greater-or-equal? 2 2]", "true"},
        {"[lesser? \"a\" \"b\"]", "true"},
    };
    for (const Case& c : cases) EXPECT_EQ(run_mold(c.code), c.result) << c.code;
    run_error("[lesser? 1 \"a\"]", "script", "invalid-compare");
    run_error("[greater-or-equal? [1] 1]", "script", "invalid-compare");
}

TEST_F(OutputNatives, SameQ) {
    struct Case {
        const char* code;
        const char* result;
    };
    const Case cases[] = {
        {"[same? 1 1]", "true"},
        {"[same? 1 2]", "false"},
        {"[same? 1 1.0]", "false"},
        {"[same? [a] [a]]", "false"},
        {"[same? \"a\" \"a\"]", "false"},
        {"[s: [a b] same? s s]", "true"},
        {"[s: [a b] same? next s next s]", "true"},
        {"[s: [a b] same? s next s]", "false"},
        {"[same? none none]", "true"},
        {"[same? 0.0 -0.0]", "false"},
        {"[same? 1.5 1.5]", "true"},
        {"[same? 'a 'a]", "true"},
        {"[same? integer! integer!]", "true"},
        {"[same? integer! float!]", "false"},
        {"[same? true true]", "true"},
        {"[same? :print :print]", "true"},
        {"[same? :print :prin]", "false"},
        {"[o: construct [a: 1] same? o o]", "true"},
        {"[same? construct [a: 1] construct [a: 1]]", "false"},
        {"[f: does [1] same? :f :f]", "true"},
    };
    for (const Case& c : cases) EXPECT_EQ(run_mold(c.code), c.result) << c.code;
    // NaNs are the same when their bits are.
    Cell nan = float_cell(std::numeric_limits<double>::quiet_NaN());
    Cell other = float_cell(-std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(natives::same_value(&nan, &nan));
    EXPECT_FALSE(natives::same_value(&nan, &other));
    Cell u = unset::cell();
    EXPECT_TRUE(natives::same_value(&u, &u));
}

TEST_F(OutputNatives, NotQ) {
    EXPECT_EQ(run_mold("[not none]"), "true");
    EXPECT_EQ(run_mold("[not false]"), "true");
    EXPECT_EQ(run_mold("[not 0]"), "false");
    EXPECT_EQ(run_mold("[not []]"), "false");
    EXPECT_EQ(run_mold("[not get/any 'undefined-word-for-not]"), "false");
}

TEST_F(OutputNatives, TypeQ) {
    EXPECT_EQ(run_mold("[type? 1]"), "integer!");
    EXPECT_EQ(run_mold("[type? type? 1]"), "datatype!");
    EXPECT_EQ(run_mold("[same? type? 1 integer!]"), "true");
    EXPECT_EQ(run_mold("[type?/word 1]"), "integer!");
    EXPECT_EQ(run_mold("[type? type?/word 1]"), "word!");
    EXPECT_EQ(run_mold("[type?/word \"s\"]"), "string!");
    EXPECT_EQ(run_mold("[type? get/any 'undefined-word-for-type]"), "unset!");
    // The word is the global word naming the type: it evaluates to it.
    EXPECT_EQ(run_mold("[get type?/word [x]]"), "block!");
}

}  // namespace
}  // namespace kiv::test
