// Compact forms of function bodies: which calls run them, that an abandoned
// run gives the interpreter's own result, and that a form follows changes
// made between runs. The script test evaluation/pure-calls.kiv compares
// many more bodies against the interpreter's ordinary path.
#include "evaluator/pure_calls.h"

#include <string>

#include "interp_support.h"

namespace kiv::test {
namespace {

class PureCallsTest : public InterpTest {
  protected:
    void SetUp() override {
        InterpTest::SetUp();
        // Operators made from the natives and actions the kernel computes
        // (the shared set-up makes some of them from test routines).
        set_global("<", make_op(global_value("lesser?")));
        set_global("=", make_op(global_value("equal?")));
        set_global("+", make_op(global_value("add")));
        set_global("-", make_op(global_value("subtract")));
        set_global("*", make_op(global_value("multiply")));
    }
    // Defines a function! under a global word, its next call from the
    // interpreter the one that makes its form (its code cell counts the
    // calls until then).
    static void define(const char* name, const char* spec, const char* body) {
        Cell fn = make_func(spec, body);
        function::series_cell(&fn, function::CELL_CODE)->w2 = interpreter::pure::CALLS_BEFORE_FORM - 1;
        set_global(name, fn);
    }
    // The counts' change over evaluating `text`, and its molded value.
    struct Run {
        std::string value;
        uint64_t forms, runs, abandoned;
    };
    static Run run(const char* text) {
        const interpreter::pure::Counts before = interpreter::pure::counts();
        std::string v = eval_mold(text);
        const interpreter::pure::Counts after = interpreter::pure::counts();
        return Run{v, after.forms - before.forms, after.runs - before.runs,
                   after.abandoned - before.abandoned};
    }
};

TEST_F(PureCallsTest, RecursiveBodiesRunAsForms) {
    define("fib", "n", "either n < 2 [n] [(fib n - 1) + fib n - 2]");
    Run r = run("fib 20");
    EXPECT_EQ(r.value, "6765");
    EXPECT_EQ(r.forms, 1u);
    EXPECT_EQ(r.runs, 1u);  // the recursion runs inside the one run
    EXPECT_EQ(r.abandoned, 0u);
    // Made once: the next call checks it and runs it.
    r = run("(fib 10) + fib 11");
    EXPECT_EQ(r.value, "144");
    EXPECT_EQ(r.forms, 0u);
    EXPECT_EQ(r.runs, 2u);

    // Mutual recursion, a leaf function called from a form, if and none.
    define("even-n?", "n", "either n = 0 [true] [odd-n? n - 1]");
    define("odd-n?", "n", "either n = 0 [false] [even-n? n - 1]");
    define("sq", "n", "n * n");
    define("sum-sq", "n", "either n = 0 [0] [(sq n) + sum-sq n - 1]");
    // Functions never called before, their layouts made with the form.
    define("inc", "n", "n + 1");
    define("dec", "n", "n - 1");
    define("wave", "n", "either n = 0 [0] [(inc n) - (dec n) + wave n - 1]");
    define("clip", "n", "if 10 < n [clip n - 1]");
    const struct {
        const char* code;
        const char* value;
    } cases[] = {
        {"even-n? 10", "true"}, {"odd-n? 7", "true"}, {"sum-sq 10", "385"},
        {"clip 15", "none"},    {"wave 5", "10"},
    };
    for (const auto& c : cases) {
        r = run(c.code);
        EXPECT_EQ(r.value, c.value) << c.code;
        EXPECT_EQ(r.runs, 1u) << c.code;
        EXPECT_EQ(r.abandoned, 0u) << c.code;
    }
    // A body that calls nothing keeps its form for its callers only.
    EXPECT_EQ(run("sq 7").runs, 0u);
}

TEST_F(PureCallsTest, FormsAreMadeAfterSeveralCalls) {
    // Functions made and called once or twice (closures in a loop) are not
    // worth a form.
    set_global("tri", make_func("n", "either n = 0 [0] [n + tri n - 1]"));
    Run r;
    for (uint32_t i = 1; i < interpreter::pure::CALLS_BEFORE_FORM; ++i) {
        r = run("tri 0");
        EXPECT_EQ(r.value, "0");
        EXPECT_EQ(r.forms, 0u);
    }
    r = run("tri 0");
    EXPECT_EQ(r.forms, 1u);
    EXPECT_EQ(r.runs, 1u);
    // Calls within the recursion count too: the first levels are the
    // interpreter's, the rest runs of the form.
    set_global("tri2", make_func("n", "either n = 0 [0] [n + tri2 n - 1]"));
    r = run("tri2 100");
    EXPECT_EQ(r.value, "5050");
    EXPECT_EQ(r.forms, 1u);
    EXPECT_EQ(r.runs, 1u);
}

TEST_F(PureCallsTest, AbandonedRunsGiveTheInterpretersResult) {
    // Overflow to float at the top of the recursion: the run is abandoned,
    // the interpreter evaluates the top call and its callee runs the form.
    define("pow2", "e", "either e = 0 [1] [2 * pow2 e - 1]");
    Run r = run("pow2 31");
    EXPECT_EQ(r.value, "2147483648.0");
    EXPECT_EQ(r.runs, 2u);
    EXPECT_EQ(r.abandoned, 1u);
    r = run("pow2 3");  // one abandoned run leaves the form in use
    EXPECT_EQ(r.value, "8");
    EXPECT_EQ(r.runs, 1u);
    EXPECT_EQ(r.abandoned, 0u);
    // Abandoned three times, the function keeps no form: the interpreter
    // runs it from then on.
    EXPECT_EQ(run("pow2 31").abandoned, 1u);
    EXPECT_EQ(run("pow2 31").abandoned, 1u);
    r = run("pow2 31");
    EXPECT_EQ(r.value, "2147483648.0");
    EXPECT_EQ(r.runs, 0u);

    // Floats are computed by the form, as the actions compute them.
    define("fact", "n", "either n < 2 [1] [n * fact n - 1]");
    r = run("fact 5.0");
    EXPECT_EQ(r.value, "120.0");
    EXPECT_EQ(r.abandoned, 0u);
    // Values the form does not compute: each level's run is abandoned
    // until the function keeps no form.
    r = run("fact 500%");
    EXPECT_EQ(r.value, "12000%");
    EXPECT_EQ(r.abandoned, 3u);
    r = run("fact 10");
    EXPECT_EQ(r.value, "3628800");
    EXPECT_EQ(r.runs, 0u);

    // The error is the interpreter's, not a stray one from the form.
    define("fact2", "n", "either n < 2 [1] [n * fact2 n - 1]");
    eval_error("fact2 \"a\"", "script", "invalid-compare");
    EXPECT_EQ(run("fact2 5").value, "120");
}

TEST_F(PureCallsTest, DepthBeyondTheFormsLimitIsTheInterpreters) {
    // A recursion deeper than a run may go is abandoned and evaluated by
    // the interpreter, which raises its own overflow or completes. Its
    // calls run the form again from their depth, until three runs were
    // abandoned.
    define("forever", "n", "forever n + 1");
    const interpreter::pure::Counts before = interpreter::pure::counts();
    eval_error("forever 0", "internal", "stack-overflow");
    EXPECT_EQ(interpreter::pure::counts().abandoned - before.abandoned, 3u);
    define("down", "n", "either n = 0 [0] [down n - 1]");
    define("down2", "n", "either n = 0 [0] [down2 n - 1]");
    EXPECT_EQ(run("down 150").abandoned, 0u);
    Run r = run("down2 1500");
    EXPECT_EQ(r.value, "0");
    EXPECT_EQ(r.abandoned, 3u);
    EXPECT_EQ(r.value, run("down2 1500").value);
}

TEST_F(PureCallsTest, FormsFollowChangesBetweenRuns) {
    // A data word is read when the run reaches it.
    eval_text("k: 10");
    define("addk", "n", "either n = 0 [k] [1 + addk n - 1]");
    EXPECT_EQ(run("addk 3").value, "13");
    eval_text("k: 20");
    Run r = run("addk 3");
    EXPECT_EQ(r.value, "23");
    EXPECT_EQ(r.forms, 0u);
    // A data word that comes to hold a function: the runs are abandoned and
    // the interpreter calls it.
    define("ten", "", "10");
    eval_text("k: :ten");
    r = run("addk 3");
    EXPECT_EQ(r.value, "13");
    EXPECT_EQ(r.abandoned, 3u);
    eval_text("k: 30");
    EXPECT_EQ(run("addk 3").value, "33");

    // The body changed in place: the form is made again.
    define("last", "n", "either n = 0 [100] [last n - 1]");
    EXPECT_EQ(run("last 3").value, "100");
    const Cell last = global_value("last");
    Cell body = function::body_of(&last);
    block::cells_at(block::cells_at(&body, 4), 0)->w2 = 200;
    r = run("last 3");
    EXPECT_EQ(r.value, "200");
    EXPECT_EQ(r.forms, 1u);
    EXPECT_EQ(r.runs, 1u);

    // A callee redefined: the caller's form calls the new one.
    define("step", "n", "n - 1");
    define("count", "n", "either n = 0 [0] [1 + count step n]");
    EXPECT_EQ(run("count 5").value, "5");
    define("step", "n", "n - 5");
    r = run("count 10");
    EXPECT_EQ(r.value, "2");
    EXPECT_EQ(r.abandoned, 0u);

    // A callee made anew before every call: after a few forms made again,
    // the caller keeps none (making them would cost more than it saves).
    define("apply-step", "n", "either n = 0 [0] [1 + apply-step step n]");
    uint64_t runs = 0;
    for (int i = 1; i <= 8; ++i) {
        define("step", "n", "n - 1");
        r = run("apply-step 3");
        EXPECT_EQ(r.value, "3");
        runs += r.runs;
    }
    EXPECT_EQ(runs, 5u);  // the first form and four made again
    EXPECT_EQ(run("apply-step 3").runs, 0u);

    // An operator rebound to one the kernel does not compute: no form.
    set_global("*", make_op(make_routine("a b", interp_detail::lt, "test-lt-as-times")));
    define("twice", "n", "either n = 0 [1] [n * twice n - 1]");
    r = run("twice 3");
    EXPECT_EQ(r.runs, 0u);
    EXPECT_EQ(r.value, "false");  // 3 < (2 < (1 < 1)), a logic! read as 0
}

}  // namespace
}  // namespace kiv::test
