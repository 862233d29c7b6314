// The control natives: conditionals, any/all, the loops with break and
// continue, switch and case, and the natives table itself.
#include <string>
#include <utility>
#include <vector>

#include "interp_support.h"

namespace kiv::test {
namespace {

class ControlTest : public InterpTest {};

using Cases = std::vector<std::pair<const char*, const char*>>;

void check_all(const Cases& cases, std::string (*run)(const char*)) {
    for (const auto& [text, expected] : cases) EXPECT_EQ(run(text), expected) << text;
}

// ---- The table ----------------------------------------------------------------------------------

TEST_F(ControlTest, TableHoldsEveryNativeInOrder) {
    EXPECT_EQ(natives::next_number, natives::NATIVE_COUNT + 1);
    for (uint32_t n = 1; n <= natives::NATIVE_COUNT; ++n)
        EXPECT_NE(natives::natives_table[n - 1], nullptr) << n;
    for (uint32_t n = natives::NATIVE_COUNT + 1; n <= natives::TABLE_SLOTS; ++n)
        EXPECT_EQ(natives::natives_table[n - 1], nullptr) << n;
    EXPECT_STREQ(natives::NAMES[natives::N_IF - 1], "if");
    EXPECT_STREQ(natives::NAMES[natives::N_CASE - 1], "case");
    EXPECT_STREQ(natives::NAMES[natives::N_BREAK - 1], "break");
    EXPECT_STREQ(natives::NAMES[natives::N_APPLY - 1], "apply");
    EXPECT_STREQ(natives::SPECS[natives::N_LOOP - 1],
                 "[\"Evaluates body a number of times\" count [integer! float!] \"Number of repetitions\" body [block!] \"Block to evaluate\"]");
    // Every specification is a valid function specification.
    for (uint32_t n = 1; n <= natives::NATIVE_COUNT; ++n) {
        std::string spec = natives::SPECS[n - 1];
        Cell s = code(spec.substr(1, spec.size() - 2).c_str());
        EXPECT_NO_THROW(function::validate(&s)) << natives::NAMES[n - 1];
    }
}

TEST_F(ControlTest, CheckFlagTestsArgumentTypes) {
    // A native called with check set tests its fixed arguments itself.
    Cell* base = stack::mark_native(nullptr);
    stack::push(int_cell(1));
    stack::push(int_cell(2));  // then-blk must be a block
    RaisedError e = expect_error([&] { (void)natives::natives_table[natives::N_IF - 1](true, nullptr); }, "script", "expect-arg");
    EXPECT_EQ(mold_text(e.args[0]), "if");
    EXPECT_EQ(mold_text(e.args[2]), "then-blk");
    stack::reset_all();
    base = stack::mark_native(nullptr);
    stack::push(logic::cell(true));
    stack::push(code("1 + 1"));
    ASSERT_EQ(natives::natives_table[natives::N_IF - 1](true, nullptr), 0u);
    EXPECT_EQ(base->w2, 2u);
}

// ---- Conditionals ----------------------------------------------------------------------------------

TEST_F(ControlTest, Conditionals) {
    check_all(
        {
            {"if true [1]", "1"},
            {"if false [1]", "none"},
            {"if none [1]", "none"},
            {"if 0 [1]", "1"},
            {"if () [1]", "1"},  // unset counts as truthy
            {"if true []", "unset"},
            {"unless false [2]", "2"},
            {"unless true [2]", "none"},
            {"unless () [2]", "none"},
            {"either true [1] [2]", "1"},
            {"either none [1] [2]", "2"},
            {"either 1 < 2 [1 + 1] [2 + 2]", "2"},
        },
        eval_mold);
    eval_error("either () [1] [2]", "script", "no-return");
}

TEST_F(ControlTest, AnyAndAll) {
    check_all(
        {
            {"any []", "none"},
            {"any [none false 3]", "3"},
            {"any [none false]", "none"},
            {"any [1 + 1 record 9]", "2"},
            {"all []", "none"},
            {"all [1 2 3]", "3"},
            {"all [1 none record 9]", "none"},
            {"all [true 1 + 1]", "2"},
        },
        eval_mold);
    EXPECT_EQ(log_text(), "[]");  // short-circuit: record never ran
}

// ---- Loops ----------------------------------------------------------------------------------------------

TEST_F(ControlTest, CountedLoops) {
    set_global("two-nine", float_cell(2.9));
    set_global("minus-two-nine", float_cell(-2.9));
    check_all(
        {
            {"loop 0 [record 1]", "none"},
            {"loop -1 [record 1]", "none"},
            {"loop minus-two-nine [record 1]", "none"},
            {"n: 0 loop 3 [n: n + 1]", "3"},
            {"n: 0 loop two-nine [n: n + 1] n", "2"},
            {"repeat i 0 [record i]", "none"},
            {"repeat i 3 [i * 10]", "30"},
        },
        eval_mold);
    EXPECT_EQ(log_text(), "[]");
    eval_text("repeat i 3 [record i i: 10]");
    EXPECT_EQ(log_text(), "[1 2 3]");
    EXPECT_EQ(mold_text(global_value("i")), "10");
}

TEST_F(ControlTest, BreakAndContinue) {
    check_all(
        {
            {"loop 3 [break/return 5]", "5"},
            {"loop 3 [break]", "unset"},
            {"while [true] [break/return 5]", "unset"},
            {"n: 0 while [n < 3] [n: n + 1]", "unset"},
            {"n: 0 until [n: n + 1 n = 4]", "true"},
            {"until [break]", "unset"},
            {"until [break/return 7]", "7"},
            {"forever [break/return 8]", "8"},
            {"repeat i 10 [if i = 4 [break/return i]]", "4"},
        },
        eval_mold);
    eval_text("repeat i 5 [if even? i [continue] record i]");
    EXPECT_EQ(log_text(), "[1 3 5]");
    reset_log();
    // continue in until does not test the body's value.
    eval_text("n: 0 until [n: n + 1 if n < 3 [continue] record n true]");
    EXPECT_EQ(log_text(), "[3]");
    reset_log();
    // Nested loops: break leaves only the inner one.
    eval_text("repeat i 2 [repeat j 3 [if j = 2 [break] record j] record i]");
    EXPECT_EQ(log_text(), "[1 1 1 2]");
    // A continue on the last pass leaves unset as the result.
    EXPECT_EQ(eval_mold("loop 2 [continue]"), "unset");
}

TEST_F(ControlTest, WhileConditionRefusesBreak) {
    eval_error("while [break] [1]", "throw", "while-cond");
    eval_error("while [continue] [1]", "throw", "while-cond");
    eval_error("while [()] [1]", "script", "no-return");
}

TEST_F(ControlTest, ReturnFromLoopsInsideFunctions) {
    set_global("finder", make_func("blk", "foreach x blk [if x > 2 [return x]] none"));
    EXPECT_EQ(eval_mold("finder [1 2 3 4]"), "3");
    EXPECT_EQ(eval_mold("finder [1 2]"), "none");
    set_global("quitter", make_func("", "loop 3 [record 1 exit] record 2"));
    eval_text("quitter");
    EXPECT_EQ(log_text(), "[1]");
}

TEST_F(ControlTest, Foreach) {
    eval_text("foreach x [1 2 3] [record x]");
    EXPECT_EQ(log_text(), "[1 2 3]");
    reset_log();
    eval_text("foreach [a b] [1 2 3] [record a record b]");
    EXPECT_EQ(log_text(), "[1 2 3 none]");
    reset_log();
    eval_text("foreach c \"hey\" [record c]");
    EXPECT_EQ(log_text(), "[#\"h\" #\"e\" #\"y\"]");
    reset_log();
    // The series' own buffer is iterated: values appended during the loop are seen.
    eval_text("b: [1 2] foreach x b [record x if x = 1 [append b 3]]");
    EXPECT_EQ(log_text(), "[1 2 3]");
    check_all(
        {
            {"foreach x [] [record x]", "unset"},
            {"foreach x [1 2 3] [x * 2]", "6"},
            {"foreach x [1 2 3] [if x = 2 [break/return x]]", "2"},
        },
        eval_mold);
    eval_error("foreach [] [1 2] [1]", "script", "invalid-arg");
    eval_error("foreach [a 1] [1 2] [1]", "script", "invalid-arg");
}

TEST_F(ControlTest, Forall) {
    eval_text("s: [1 2 3] forall s [record s/1]");
    EXPECT_EQ(log_text(), "[1 2 3]");
    EXPECT_EQ(eval_mold("s: [1 2 3] forall s [] index? s"), "1");                    // set back at the end
    EXPECT_EQ(eval_mold("s: [1 2 3] forall s [if s/1 = 2 [break]] index? s"), "2");  // kept after break
    reset_log();
    // Moving within the same series is allowed.
    eval_text("s: [1 2 3 4 5] forall s [record s/1 s: next s]");
    EXPECT_EQ(log_text(), "[1 3 5]");
    eval_error("s: [1 2] forall s [s: copy [9]]", "script", "bad-loop-series");
    eval_error("s: 5 forall s [1]", "script", "expect-arg");
}

TEST_F(ControlTest, RemoveEach) {
    EXPECT_EQ(eval_mold("b: [1 2 3 4] remove-each x b [even? x] b"), "[1 3]");
    EXPECT_EQ(eval_mold("remove-each x [1 2 3 4] [even? x]"), "[1 3]");
    EXPECT_EQ(eval_mold("b: [1 2 3 4 5 6] remove-each [x y] b [x = 3] b"), "[1 2 5 6]");
    EXPECT_EQ(eval_mold("b: [1 2 3] remove-each x b [if x = 2 [continue] true] b"), "[2]");
    EXPECT_EQ(eval_mold("b: [1 2 3] remove-each x b [if x = 2 [break] true] b"), "[2 3]");
    EXPECT_EQ(eval_mold("b: next [1 2 3] remove-each x b [true] head b"), "[1]");
    set_global("char-b", char_cell('b'));
    EXPECT_EQ(eval_mold("s: \"abc\" remove-each c s [c = char-b] s"), "\"ac\"");
}

// ---- switch and case -------------------------------------------------------------------------------------

TEST_F(ControlTest, Switch) {
    set_global("one-point-o", float_cell(1.0));
    check_all(
        {
            {"switch 1 [one-point-o [1.0] 1 [2]]", "2"},
            {"switch 2 [1 [a]]", "none"},
            {"switch/default 2 [1 [a]] [3]", "3"},
            {"switch 1 [1 2 3 [4]]", "4"},
            {"switch 3 [1 [a] 3]", "none"},
            {"switch \"b\" [\"a\" [1] \"B\" [2]]", "2"},
            {"switch [1] [[1] [2]]", "none"},
            {"switch 'x [y [1] x [2]]", "2"},
        },
        eval_mold);
}

TEST_F(ControlTest, Case) {
    check_all(
        {
            {"case [false [1] true [2]]", "2"},
            {"case [false [1]]", "none"},
            {"case [true 1 + 1]", "2"},
            {"case/all [true [1] false [2]]", "none"},
            {"case/all [false [1] true [2]]", "2"},
            {"case/all [true [record 1] true [record 2]]", "2"},
            {"case []", "none"},
        },
        eval_mold);
    RaisedError e = eval_error("case [true]", "script", "need-value");
    EXPECT_EQ(mold_text(e.args[0]), "case");
    eval_error("case [false]", "script", "need-value");
    eval_error("case [() [1]]", "script", "no-return");
}

TEST_F(ControlTest, ErrorsLeaveLoopsCleanly) {
    eval_error("loop 3 [record 1 no-such-value-here]", "script", "no-value");
    EXPECT_EQ(log_text(), "[1]");
    EXPECT_EQ(stack::frame_count(), 0u);
    EXPECT_EQ(eval_mold("loop 2 [1]"), "1");
}

}  // namespace
}  // namespace kiv::test
