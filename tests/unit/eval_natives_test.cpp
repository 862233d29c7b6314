// The evaluation and function natives run through the interpreter: func,
// function, does, has, do, get, set, reduce, compose, bind, in, construct,
// value?, unset, context?, extend and apply.
#include "datatypes/function.h"
#include "evaluator/natives_impl.h"
#include "natives_test_support.h"
#include "evaluator/runtime.h"

namespace kiv::test {
namespace {

class EvalNatives : public NativesTest {};

std::string argument_text(const char* code_text) {
    Cell f = run(code_text);
    EXPECT_EQ(f.type(), uint32_t(TYPE_FUNCTION)) << code_text;
    if (f.type() != TYPE_FUNCTION) return "";
    Cell* keep = stack::push(f);
    Cell spec = function::spec_of(keep);
    std::string s = mold_text(spec, false, false, true);
    stack::reset_all();
    return s;
}

// ---- Function making -------------------------------------------------------------------

TEST_F(EvalNatives, FuncArgumentsRefinementsAndLocals) {
    EXPECT_EQ(run_mold("[f: func [a /r b /local c] [c: a either r [c + b] [c]] reduce [f 1 f/r 1 2]]"),
              "[1 3]");
    // Locals do not leak into the global context.
    EXPECT_EQ(run_mold("[c: 100 f: func [/local c] [c: 5 c] reduce [f c]]"), "[5 100]");
    // Recursion: each call has its own arguments.
    EXPECT_EQ(run_mold("[fact: func [n] [either n < 2 [1] [n * fact n - 1]] fact 10]"), "3628800");
}

TEST_F(EvalNatives, FuncCopiesItsBody) {
    // Changing the body block after making the function changes nothing.
    EXPECT_EQ(run_mold("[b: [1] f: func [] b append b 2 f]"), "1");
}

TEST_F(EvalNatives, FuncSpecErrors) {
    run_error("[func [a a] []]", "script", "dup-vars");
    run_error("[func [1] []]", "script", "bad-func-def");
}

TEST_F(EvalNatives, FuncClipsItsIndexes) {
    // A spec at its tail makes a function without arguments.
    EXPECT_EQ(run_mold("[f: func tail [x] [5] f]"), "5");
    EXPECT_EQ(run_mold("[f: func [] tail [5] type? f]"), "unset!");
}

TEST_F(EvalNatives, FunctionCollectsSetWordsAndLoopWords) {
    EXPECT_EQ(argument_text("[function [a] [b: 1 foreach [c d] x [] repeat e 2 [(f: 1)]]]"),
              "[a /local b c d e f]");
    EXPECT_EQ(argument_text("[function [/extern b] [b: 1]]"), "[]");
    EXPECT_EQ(argument_text("[function [x /extern y /local z] [w: 1]]"), "[x /local z w]");
    // Each word once, an existing /local is reused, `local` itself is dropped.
    EXPECT_EQ(argument_text("[function [/local a] [a: 1 b: 2 b: 3 local: 4]]"), "[/local a b]");
    // Arguments are not made local again.
    EXPECT_EQ(argument_text("[function [a] [a: 1]]"), "[a]");
}

TEST_F(EvalNatives, FunctionLocalsShieldGlobals) {
    EXPECT_EQ(run_mold("[x: 10 f: function [] [x: 5 x] reduce [f x]]"), "[5 10]");
    EXPECT_EQ(run_mold("[y: 10 g: function [/extern y] [y: 5] g y]"), "5");
    run_error("[function [/extern 1] []]", "script", "bad-func-extern");
}

TEST_F(EvalNatives, DoesAndHas) {
    EXPECT_EQ(argument_text("[does [1]]"), "[]");
    EXPECT_EQ(run_mold("[f: does [1 + 1] f]"), "2");
    EXPECT_EQ(argument_text("[has [a] [a]]"), "[/local a]");
    EXPECT_EQ(run_mold("[a: 1 f: has [a] [a: 5 a] reduce [f a]]"), "[5 1]");
    // The vars block itself is not changed.
    EXPECT_EQ(run_mold("[v: [a] has v [] v]"), "[a]");
}

TEST_F(EvalNatives, CheckedCallsTestArgumentTypes) {
    Cell* body = stack::push(code("[1]"));
    expect_error(
        [&] {
            call_native(natives::N_FUNC, {int_cell(1), *body}, {}, true);
        },
        "script", "expect-arg");
    Cell f = call_native(natives::N_DOES, {*body}, {}, true);
    EXPECT_EQ(f.type(), uint32_t(TYPE_FUNCTION));
}

// ---- do -------------------------------------------------------------------------------------

TEST_F(EvalNatives, DoValues) {
    EXPECT_EQ(run_mold("[do [1 + 2]]"), "3");
    EXPECT_EQ(run_mold("[do 5]"), "5");
    EXPECT_EQ(run_mold("[a: 7 do 'a]"), "7");
    EXPECT_EQ(run_mold("[f: does [8] do :f]"), "8");
    EXPECT_EQ(run_mold("[do []]"), "unset");
    EXPECT_EQ(run_mold("[o: construct [a: 5] do 'o/a]"), "5");
    EXPECT_EQ(run_mold("[f: func [/r] [either r [1] [2]] do 'f/r]"), "1");
    run_error("[do 'undefined-word-for-do]", "script", "no-value");
}

// Stands in for the lexer: loads the text with the test reader.
uint32_t reader_load(const Cell* text, Cell* block) {
    std::string source = "[" + string_text(*text) + "]";
    *block = code(source.c_str());
    return uint32_t(source.size() - 2);
}

TEST_F(EvalNatives, DoParenAndString) {
    Cell paren = code("(1 + 2 3 * 4)");
    EXPECT_EQ(mold_text(call_native(natives::N_DO, {paren, none::cell(), none::cell(), none::cell()})), "12");
    runtime::LexerLoad saved = runtime::lexer_load;
    runtime::lexer_load = &reader_load;
    EXPECT_EQ(run_mold("[do \"1 + 2\"]"), "3");
    EXPECT_EQ(run_mold("[s: \"a: 4\" do s a]"), "4");
    runtime::lexer_load = saved;
}

TEST_F(EvalNatives, DoNext) {
    EXPECT_EQ(run_mold("[reduce [do/next [1 + 2 3] 'p p]]"), "[3 [3]]");
    EXPECT_EQ(run_mold("[reduce [type? do/next [] 'p p]]"), "[unset! []]");
    // Stepping through a block one expression at a time.
    EXPECT_EQ(run_mold("[b: [1 + 1 2 * 3] r: copy [] while [not tail? b] [append r do/next b 'b] r]"),
              "[2 6]");
}

TEST_F(EvalNatives, DoRaisesAnErrorValue) {
    RaisedError e = expect_error([&] { run("[e: try [1 / 0] do :e]"); }, "math", "zero-divide");
    EXPECT_EQ(e.value.type(), uint32_t(TYPE_ERROR));
    stack::reset_all();
    // Only evaluation raises it: an error value as data is harmless.
    EXPECT_EQ(run_mold("[type? try [1 / 0]]"), "error!");
}

TEST_F(EvalNatives, DoPassesExitsOn) {
    EXPECT_EQ(run_mold("[loop 3 [do [break/return 4]]]"), "4");
    EXPECT_EQ(run_mold("[f: func [] [do [return 6] 7] f]"), "6");
    EXPECT_EQ(run_mold("[catch [do [throw 9]]]"), "9");
}

TEST_F(EvalNatives, DoFilesAreNotYetDone) {
    Cell file = code("\"x.kiv\"");
    file.set_type(TYPE_FILE);
    expect_error(
        [&] {
            call_native(natives::N_DO, {file, none::cell(), none::cell(), none::cell()});
        },
        "internal", "not-done");
}

// Records the events a do/trace callback receives.
TEST_F(EvalNatives, DoTraceStartsAndEndsTracing) {
    Cell events =
        run("[events: copy [] cb: func [event code offset value ref frame] [append events event] "
            "do/trace [1 + 2] :cb events]");
    Cell* keep = stack::push(events);
    std::string text = mold_text(*keep, false, false, true);
    EXPECT_EQ(text.rfind("[init ", 0), 0u) << text;
    EXPECT_NE(text.find(" end]"), std::string::npos) << text;
    EXPECT_FALSE(interpreter::tracing);
    stack::reset_all();
    // The traced code's value is do's result.
    EXPECT_EQ(run_mold("[cb: func [event code offset value ref frame] [] do/trace [1 + 2] :cb]"), "3");
    EXPECT_FALSE(interpreter::tracing);
}

TEST_F(EvalNatives, DoTraceNestedKeepsTheOuterCallback) {
    // The inner do/trace neither replaces the callback nor ends tracing.
    Cell events =
        run("[events: copy [] cb: func [event code offset value ref frame] [append events event] "
            "cb2: func [event code offset value ref frame] [append events 'other] "
            "do/trace [do/trace [1] :cb2 2] :cb events]");
    Cell* keep = stack::push(events);
    std::string text = mold_text(*keep, false, false, true);
    EXPECT_EQ(text.find("other"), std::string::npos) << text;
    size_t ends = 0;
    for (size_t at = text.find("end"); at != std::string::npos; at = text.find("end", at + 1)) ++ends;
    EXPECT_EQ(ends, 1u) << text;
    stack::reset_all();
}

TEST_F(EvalNatives, DoTraceEndsAfterErrorsAndExits) {
    run_error("[cb: func [event code offset value ref frame] [] do/trace [1 / 0] :cb]", "math",
              "zero-divide");
    EXPECT_FALSE(interpreter::tracing);
    // return inside traced code goes on to the enclosing function.
    EXPECT_EQ(
        run_mold(
            "[cb: func [event code offset value ref frame] [] f: func [] [do/trace [return 5] :cb 6] f]"),
        "5");
    EXPECT_FALSE(interpreter::tracing);
    run_error("[cb: func [event code offset value ref frame] [] do/trace [return 1] :cb]", "throw", "return");
    EXPECT_FALSE(interpreter::tracing);
    // The frame mark of do/trace does not outlive it.
    for (stack::Frame* f = stack::frames_bottom; f < stack::frames_top; ++f)
        EXPECT_EQ(f->header & stack::FRAME_RETURN_TARGET, 0u);
}

// ---- get and set ----------------------------------------------------------------------------

TEST_F(EvalNatives, GetWordsObjectsAndPaths) {
    EXPECT_EQ(run_mold("[a: 1 get 'a]"), "1");
    EXPECT_EQ(run_mold("[type? get/any 'undefined-word-for-get]"), "unset!");
    run_error("[get 'undefined-word-for-get]", "script", "no-value");
    EXPECT_EQ(run_mold("[o: construct [a: 1 b: \"x\"] get o]"), "[1 \"x\"]");
    EXPECT_EQ(run_mold("[o: construct [a: 1 b: 2] get 'o/b]"), "2");
    // A function at the end of a path is returned, not called.
    EXPECT_EQ(run_mold("[o: construct [f: none] o/f: does [1] type? get 'o/f]"), "function!");
}

TEST_F(EvalNatives, SetWordsAndBlocks) {
    EXPECT_EQ(run_mold("[set 'a 5 a]"), "5");
    EXPECT_EQ(run_mold("[set [a b c] [1 2] reduce [a b c]]"), "[1 2 none]");
    EXPECT_EQ(run_mold("[a: 0 b: 7 set/some [a b] reduce [1 none] reduce [a b]]"), "[1 7]");
    EXPECT_EQ(run_mold("[set/only [a b] [1 2] reduce [a b]]"), "[[1 2] [1 2]]");
    EXPECT_EQ(run_mold("[set [a b] 3 reduce [a b]]"), "[3 3]");
    // The result is the value.
    EXPECT_EQ(run_mold("[set [a b] [1 2]]"), "[1 2]");
}

TEST_F(EvalNatives, SetChecksBeforeAssigning) {
    run(" [a: 0]");
    run_error("[set [a 1] [2 3]]", "script", "invalid-arg");
    EXPECT_EQ(mold_text(global_value("a")), "0");
    run_error("[set 'a get/any 'undefined-word-for-set]", "script", "need-value");
    run_error("[set [a b] reduce [1 get/any 'undefined-word-for-set]]", "script", "need-value");
    EXPECT_EQ(mold_text(global_value("a")), "0");
    EXPECT_EQ(run_mold("[set/any 'a get/any 'undefined-word-for-set type? get/any 'a]"), "unset!");
}

TEST_F(EvalNatives, SetObjectsAndPaths) {
    EXPECT_EQ(run_mold("[o: construct [a: 1 b: 2] set o [5 6] get o]"), "[5 6]");
    EXPECT_EQ(run_mold("[o: construct [a: 1 b: 2] set 'o/b 9 o/b]"), "9");
}

// ---- reduce and compose ---------------------------------------------------------------------

TEST_F(EvalNatives, ReduceBlocks) {
    EXPECT_EQ(run_mold("[reduce [1 + 1 2 * 3]]"), "[2 6]");
    EXPECT_EQ(run_mold("[reduce []]"), "[]");
    EXPECT_EQ(run_mold("[a: 5 reduce 'a]"), "5");
    EXPECT_EQ(run_mold("[type? reduce :print]"), "native!");
    EXPECT_EQ(run_mold("[reduce 7]"), "7");
    // New-line markers do not survive.
    Cell r = run("[b: [x y] reduce [\n 1\n 'b\n b]]");
    Cell* keep = stack::push(r);
    for (uint32_t i = 0; i < block::cells_length(keep); ++i) EXPECT_FALSE(block::cells_at(keep, i)->new_line());
    stack::reset_all();
}

TEST_F(EvalNatives, ReduceInto) {
    // At the tail: appended, the target keeps its position.
    EXPECT_EQ(run_mold("[b: [x] r: reduce/into [1 + 1 3] tail b reduce [r head b]]"), "[[2 3] [x 2 3]]");
    // Elsewhere: inserted in order, the result just past them.
    EXPECT_EQ(run_mold("[b: [x] r: reduce/into [1 + 1 3] b reduce [r b]]"), "[[x] [2 3 x]]");
    EXPECT_EQ(run_mold("[b: [x] reduce/into 5 tail b b]"), "[x 5]");
}

TEST_F(EvalNatives, ReducePassesExitsAndErrors) {
    EXPECT_EQ(run_mold("[loop 2 [reduce [1 break/return 8]]]"), "8");
    run_error("[reduce [1 1 / 0]]", "math", "zero-divide");
}

TEST_F(EvalNatives, ComposeParensAndBlocks) {
    EXPECT_EQ(run_mold("[compose [(1 + 1) ([a b]) ()]]"), "[2 a b]");
    EXPECT_EQ(run_mold("[compose/only [(1 + 1) ([a b]) ()]]"), "[2 [a b]]");
    EXPECT_EQ(run_mold("[compose [x ([]) (get/any 'undefined-word-for-compose) y]]"), "[x y]");
    EXPECT_EQ(run_mold("[compose [[(1)]]]"), "[[(1)]]");
    EXPECT_EQ(run_mold("[compose/deep [[(1)] [[(2 + 2)]]]]"), "[[1] [[4]]]");
    // Without /deep the inner block is the same block, not a copy.
    EXPECT_EQ(run_mold("[b: [(1)] same? b pick compose reduce [b] 1]"), "true");
    EXPECT_EQ(run_mold("[b: [(1)] same? b pick compose/deep reduce [b] 1]"), "false");
}

TEST_F(EvalNatives, ComposeInto) {
    EXPECT_EQ(run_mold("[b: [x] compose/into [(1 + 1) y] tail b b]"), "[x 2 y]");
    EXPECT_EQ(run_mold("[b: [x] r: compose/into [(1 + 1) y] b reduce [r b]]"), "[[x] [2 y x]]");
}

TEST_F(EvalNatives, ComposeRefusesOtherValues) {
    Cell five = int_cell(5);
    expect_error([&] { call_native(natives::N_COMPOSE, {five, none::cell()}); }, "script", "expect-val");
    expect_error(
        [&] {
            call_native(natives::N_COMPOSE, {five, none::cell()}, {}, true);
        },
        "script", "expect-arg");
}

TEST_F(EvalNatives, ComposeDeepOfACyclicBlockStops) {
    run_error("[b: copy [(1)] append/only b b compose/deep b]", "internal", "too-deep");
    EXPECT_EQ(cycles::depth(), 0u);
}

// ---- bind, in, construct, value?, unset, context? -----------------------------------------

TEST_F(EvalNatives, BindBlocksAndWords) {
    EXPECT_EQ(run_mold("[a: 100 o: construct [a: 1] b: [a] bind b o do b]"), "1");
    EXPECT_EQ(run_mold("[a: 100 o: construct [a: 1] get bind 'a o]"), "1");
    EXPECT_EQ(run_mold("[a: 100 o: construct [a: 1] x: [a] y: bind/copy x o reduce [do x do y]]"), "[100 1]");
    // A word names the context it is bound to.
    EXPECT_EQ(run_mold("[a: 100 o: construct [a: 1 b: 2] w: in o 'b do bind [a] w]"), "1");
    // Words the context lacks keep their binding.
    EXPECT_EQ(run_mold("[zz: 3 o: construct [a: 1] do bind [zz] o]"), "3");
    // Deeply, into nested blocks and parens.
    EXPECT_EQ(run_mold("[a: 100 o: construct [a: 1] do bind [do [(a)]] o]"), "1");
}

TEST_F(EvalNatives, InWordsOfObjectsAndFunctions) {
    EXPECT_EQ(run_mold("[o: construct [a: 1] in o 'missing]"), "none");
    EXPECT_EQ(run_mold("[o: construct [a: 1] get in o 'a]"), "1");
    EXPECT_EQ(run_mold("[o: construct [field: 4] w: in o /field reduce [type? w get w]]"), "[word! 4]");
    EXPECT_EQ(run_mold("[f: func [x] [get in :f 'x] f 12]"), "12");
}

TEST_F(EvalNatives, Construct) {
    EXPECT_EQ(run_mold("[o: construct [a: 1 + 2] get o]"), "[1]");
    EXPECT_EQ(run_mold("[p: construct [a: 1] o: construct/with [b: 2] p reduce [o/a o/b]]"), "[1 2]");
}

TEST_F(EvalNatives, ValueQ) {
    EXPECT_EQ(run_mold("[a: 1 value? 'a]"), "true");
    EXPECT_EQ(run_mold("[value? 'undefined-word-for-value]"), "false");
    // Other values (reachable from native code only) count unless unset.
    EXPECT_EQ(mold_text(call_native(natives::N_VALUE_Q, {int_cell(5)})), "true");
    EXPECT_EQ(mold_text(call_native(natives::N_VALUE_Q, {unset::cell()})), "false");
    EXPECT_EQ(run_mold("[o: construct [a: 1] value? in o 'a]"), "true");
    // A function's word has no value outside a call of it.
    EXPECT_EQ(run_mold("[f: func [x] [] value? in :f 'x]"), "false");
    EXPECT_EQ(run_mold("[f: func [x] [value? 'x] f 1]"), "true");
}

TEST_F(EvalNatives, UnsetWords) {
    EXPECT_EQ(run_mold("[a: 1 unset 'a value? 'a]"), "false");
    EXPECT_EQ(run_mold("[a: 1 b: 2 unset [a 5 b] reduce [value? 'a value? 'b]]"), "[false false]");
    EXPECT_EQ(run_mold("[type? unset 'a]"), "unset!");
}

TEST_F(EvalNatives, ContextQ) {
    EXPECT_EQ(run_mold("[o: construct [a: 1] same? o context? in o 'a]"), "true");
    EXPECT_EQ(run_mold("[context? 'print]"), "none");
    EXPECT_EQ(run_mold("[f: func [x] [context? 'x] same? :f f 1]"), "true");
}

// ---- apply ----------------------------------------------------------------------------------

TEST_F(EvalNatives, ApplyFixedArguments) {
    EXPECT_EQ(run_mold("[apply :add [1 2]]"), "3");
    EXPECT_EQ(run_mold("[apply 'add [1 + 1 2 * 3]]"), "8");
    EXPECT_EQ(run_mold("[apply :+ [1 2]]"), "3");
    run_error("[apply :add [1]]", "script", "no-arg");
    run_error("[x: 5 apply 'x []]", "script", "invalid-arg");
}

TEST_F(EvalNatives, ApplyRefinements) {
    run("[f: func [a /r b] [either r [a + b] [a]]]");
    EXPECT_EQ(run_mold("[apply :f [1 /r true 5]]"), "6");
    EXPECT_EQ(run_mold("[apply :f [1 /r false 5]]"), "1");
    EXPECT_EQ(run_mold("[apply/all :f [1 true 5]]"), "6");
    EXPECT_EQ(run_mold("[apply/all :f [1]]"), "1");
    EXPECT_EQ(run_mold("[apply 'f/r [1 5]]"), "6");
    run_error("[apply :f [1 /q true]]", "script", "no-refine");
    // /safer skips the arguments of an inactive refinement unevaluated.
    EXPECT_EQ(run_mold("[n: 0 apply :f [1 /r false (n: n + 1)] n]"), "1");
    EXPECT_EQ(run_mold("[n: 0 apply/safer :f [1 /r false (n: n + 1)] n]"), "0");
}

TEST_F(EvalNatives, ApplyNatives) {
    EXPECT_EQ(run_mold("[apply :reduce [[1 + 1] /into true tail b: [x]] b]"), "[x 2]");
    EXPECT_EQ(run_mold("[apply 'compose/deep [[[(1 + 1)]]]]"), "[[2]]");
}

// ---- the one-value evaluation shared with other natives ------------------------------

TEST_F(EvalNatives, EvalValueLeavesInertValuesAlone) {
    Cell* slot = stack::push(code("[a b]"));
    Cell before = *slot;
    EXPECT_EQ(natives::eval_value(slot), 0u);
    EXPECT_EQ(slot->w2, before.w2);
    EXPECT_EQ(stack::top, slot + 1);
}

}  // namespace
}  // namespace kiv::test
