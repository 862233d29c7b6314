// try, catch and the non-local exits break, continue, return, exit and
// throw, run through the interpreter; the stacks after each way out.
#include "datatypes/error.h"
#include "evaluator/natives_impl.h"
#include "natives_test_support.h"

namespace kiv::test {
namespace {

class TryNatives : public NativesTest {};

// The category and id words of an error value, as "category/id".
std::string error_name(const Cell& err) {
    if (err.type() != TYPE_ERROR) return "not an error: " + mold_text(err);
    Cell* keep = stack::push(err);
    std::string s =
        std::string(symbol::name(error::get_type(keep))) + "/" + symbol::name(error::get_id(keep));
    stack::pop(1);
    return s;
}

// ---- try --------------------------------------------------------------------------------

TEST_F(TryNatives, TryReturnsTheValueOrTheError) {
    EXPECT_EQ(run_mold("[try [1 + 1]]"), "2");
    EXPECT_EQ(run_mold("[try []]"), "unset");
    EXPECT_EQ(error_name(run("[try [1 / 0]]")), "math/zero-divide");
    // Errors raised deep inside calls end at the try.
    EXPECT_EQ(error_name(run("[f: func [x] [g x] g: func [y] [y / 0] try [f 1]]")), "math/zero-divide");
    EXPECT_EQ(error_name(run("[try [undefined-word-for-try]]")), "script/no-value");
    // The error names the function it was raised in.
    EXPECT_EQ(run_mold("[f: does [undefined-word-for-try] get in try [f] 'where]"), "f");
    // The code after the try goes on normally.
    EXPECT_EQ(run_mold("[a: try [1 / 0] 5]"), "5");
}

TEST_F(TryNatives, TryRestoresTheStacks) {
    // After the error, try's own frame is the topmost again, its base holds
    // the error and the data top is just above it, however deep the error
    // was raised.
    stack::mark_native(nullptr);
    stack::push(int_cell(1));
    Cell name = word::load("try");
    Cell* base = stack::mark_native(&name);
    stack::push(code("[f: func [x] [loop 2 [x / 0]] f 3]"));
    stack::Frame* own = stack::ctop();
    int32_t refs[2] = {-1, -1};
    EXPECT_EQ(natives::try_(refs), 0u);
    EXPECT_EQ(error_name(*base), "math/zero-divide");
    EXPECT_EQ(stack::arg_base, base);
    EXPECT_EQ(stack::top, base + 1);
    EXPECT_EQ(stack::ctop(), own);
    stack::reset_all();
}

TEST_F(TryNatives, TryRecoversFromStackOverflow) {
    EXPECT_EQ(error_name(run("[f: func [] [f] try [f]]")), "internal/stack-overflow");
    EXPECT_EQ(run_mold("[f: func [n] [1 + f n] try [f 1] 5]"), "5");
}

TEST_F(TryNatives, TryPassesNonLocalExitsOn) {
    EXPECT_EQ(run_mold("[catch [try [throw 1] 2]]"), "1");
    EXPECT_EQ(run_mold("[f: func [] [try [return 5] 6] f]"), "5");
    EXPECT_EQ(run_mold("[loop 3 [try [break/return 7]]]"), "7");
    EXPECT_EQ(run_mold("[n: 0 loop 3 [try [n: n + 1 continue] n: 100] n]"), "3");
    // A throw with no catch is an error like any other, and try takes it.
    EXPECT_EQ(error_name(run("[try [throw 1]]")), "throw/throw");
}

TEST_F(TryNatives, TryAllIsABarrier) {
    EXPECT_EQ(run_mold("[try/all [throw 1]]"), "1");
    EXPECT_EQ(run_mold("[catch [try/all [throw 1] 2]]"), "2");
    EXPECT_EQ(run_mold("[try/all [1 + 1]]"), "2");
    EXPECT_EQ(error_name(run("[try/all [1 / 0]]")), "math/zero-divide");
    // break, continue and return cannot cross it either.
    EXPECT_EQ(error_name(run("[loop 1 [try/all [break]]]")), "throw/break");
    EXPECT_EQ(error_name(run("[loop 1 [try/all [continue]]]")), "throw/continue");
    EXPECT_EQ(error_name(run("[f: func [] [try/all [return 3]] f]")), "throw/return");
    // Inside it, exits whose target lies inside work as usual.
    EXPECT_EQ(run_mold("[try/all [loop 3 [break/return 4]]]"), "4");
    EXPECT_EQ(run_mold("[try/all [catch [throw 5]]]"), "5");
}

TEST_F(TryNatives, TryKeepRecordsTheCallTrace) {
    error::TraceLevel saved = error::trace_level;
    error::trace_level = [] { return 1; };
    Cell err = run("[f: func [] [1 / 0] try/keep [f]]");
    error::trace_level = saved;
    Cell* keep = stack::push(err);
    EXPECT_EQ(error_name(err), "math/zero-divide");
    // The integer frame position has become a block of frame words.
    EXPECT_EQ(error::field(keep, error::FIELD_STACK)->type(), uint32_t(TYPE_BLOCK));
    stack::reset_all();
    // Without /keep the field keeps its frame position.
    err = run("[f: func [] [1 / 0] try [f]]");
    keep = stack::push(err);
    EXPECT_EQ(error::field(keep, error::FIELD_STACK)->type(), uint32_t(TYPE_INTEGER));
}

TEST_F(TryNatives, TryEndOfCompiledCode) {
    // A compiled try: its own frame, then try_end with the caught error.
    Cell* base = stack::push(none::cell());
    stack::arg_base = base;
    stack::Frame* frame = nullptr;
    Cell result = none::cell();
    stack::mark_try(&fixed::words[fixed::W_TRY]);
    frame = stack::ctop();
    try {
        fire("math", "zero-divide");
    } catch (const RaisedError& e) {
        natives::try_end(frame, e, false);
        result = *stack::arg_base;
    }
    EXPECT_EQ(error_name(result), "math/zero-divide");
    EXPECT_EQ(stack::frames_top, stack::frames_bottom);
    EXPECT_EQ(stack::top, base + 1);
    stack::reset_all();
    // The uncaught-throw error goes on to the next handler.
    stack::mark_try(&fixed::words[fixed::W_TRY]);
    frame = stack::ctop();
    bool raised_again = false;
    try {
        try {
            fire("throw", "throw", int_cell(1));
        } catch (const RaisedError& e) {
            natives::try_end(frame, e, false);
        }
    } catch (const RaisedError& e) {
        raised_again = e.category == "throw" && e.id == "throw";
    }
    EXPECT_TRUE(raised_again);
}

// ---- catch and throw --------------------------------------------------------------------

TEST_F(TryNatives, CatchAndThrow) {
    struct Case {
        const char* code;
        const char* result;
    };
    const Case cases[] = {
        {"[catch [throw 5]]", "5"},
        {"[catch [1 + 1]]", "2"},
        {"[catch [throw 5 6]]", "5"},
        {"[catch/name [throw/name 5 'a] 'a]", "5"},
        {"[catch [catch/name [throw 5] 'a 6]]", "5"},
        {"[catch/name [throw/name 5 'A] [b a]]", "5"},
        {"[catch [throw/name 1 'x]]", "1"},
        {"[catch/name [catch/name [throw/name 1 'outer] 'inner 2] 'outer]", "1"},
        {"[catch/name [catch/name [throw/name 1 'inner] 'inner] 'outer]", "1"},
        {"[catch/name [6] [b 1]]", "6"},
        {"[f: func [] [throw 3 4] catch [f 5]]", "3"},
        {"[f: func [] [loop 5 [throw 8]] catch [f]]", "8"},
        {"[catch [loop 3 [catch/name [throw 4] 'x]]]", "4"},
    };
    for (const Case& c : cases) EXPECT_EQ(run_mold(c.code), c.result) << c.code;
}

TEST_F(TryNatives, CatchNameErrors) {
    run_error("[catch/name [throw/name 5 'a] [b 1]]", "script", "invalid-refine-arg");
    std::string text = run_error("[throw 1]", "throw", "throw");
    EXPECT_NE(text.find("no catch for throw: 1"), std::string::npos) << text;
    run_error("[catch/name [throw/name 1 'b] 'a]", "throw", "throw");
    run_error("[catch/name [throw 1] 'a]", "throw", "throw");
}

TEST_F(TryNatives, ErrorsPassThroughCatch) {
    EXPECT_EQ(error_name(run("[try [catch [1 / 0]]]")), "math/zero-divide");
    run_error("[catch [1 / 0]]", "math", "zero-divide");
}

// ---- break, continue, return, exit -----------------------------------------------------

TEST_F(TryNatives, LoopExits) {
    EXPECT_EQ(run_mold("[loop 3 [break]]"), "unset");
    EXPECT_EQ(run_mold("[loop 3 [break/return 5]]"), "5");
    EXPECT_EQ(run_mold("[n: 0 loop 5 [n: n + 1 continue n: 100] n]"), "5");
    // The innermost loop is the target.
    EXPECT_EQ(run_mold("[n: 0 loop 3 [loop 3 [break] n: n + 1] n]"), "3");
    EXPECT_EQ(run_mold("[f: func [] [break] loop 3 [f] 1]"), "1");
}

TEST_F(TryNatives, FunctionExits) {
    EXPECT_EQ(run_mold("[f: func [] [return 7 8] f]"), "7");
    EXPECT_EQ(run_mold("[f: func [] [loop 3 [return 7] 8] f]"), "7");
    EXPECT_EQ(run_mold("[f: func [] [exit 8] type? f]"), "unset!");
    // The innermost function is the target.
    EXPECT_EQ(run_mold("[g: func [] [return 1] f: func [] [g 2] f]"), "2");
}

TEST_F(TryNatives, ExitsWithoutTargetRaiseThrowErrors) {
    EXPECT_NE(run_error("[break]", "throw", "break").find("no loop to break"), std::string::npos);
    EXPECT_NE(run_error("[continue]", "throw", "continue").find("no loop to continue"), std::string::npos);
    EXPECT_NE(run_error("[return 1]", "throw", "return").find("return or exit not in function"),
              std::string::npos);
    run_error("[exit]", "throw", "return");
    run_error("[f: does [break] f]", "throw", "break");
}

TEST_F(TryNatives, ExitNativesCalledDirectly) {
    // Called as compiled code does, under a loop frame: the stacks are
    // trimmed to the loop and the code is returned.
    Cell* loop_base = stack::mark_loop(nullptr);
    stack::push(none::cell());
    uint32_t code = 0;
    Cell v = call_native(natives::N_BREAK, {int_cell(9)}, {0}, false, &code);
    EXPECT_EQ(code, uint32_t(UNWIND_BREAK));
    EXPECT_EQ(mold_text(v), "9");
    EXPECT_EQ(stack::arg_base, loop_base);
    EXPECT_EQ(stack::ctop()->type(), uint32_t(stack::FRAME_LOOP));
    stack::reset_all();

    stack::mark_loop(nullptr);
    v = call_native(natives::N_CONTINUE, {}, {}, false, &code);
    EXPECT_EQ(code, uint32_t(UNWIND_CONTINUE));
    EXPECT_EQ(v.type(), uint32_t(TYPE_UNSET));
    stack::reset_all();

    stack::mark_catch(nullptr);
    Cell name = word::load("n");
    v = call_native(natives::N_THROW, {int_cell(4), name}, {1}, false, &code);
    EXPECT_EQ(code, uint32_t(UNWIND_THROW));
    EXPECT_EQ(mold_text(v), "4");
    EXPECT_EQ(mold_text(stack::arg_base[1]), "n");
}

}  // namespace
}  // namespace kiv::test
