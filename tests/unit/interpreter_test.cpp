// The interpreter: evaluation order, infix operators, function calls with
// refinements and typed arguments, paths, word forms, return codes, stack
// overflow and trace events.
#include "evaluator/interpreter.h"

#include <string>
#include <utility>
#include <vector>

#include "interp_support.h"
#include "runtime/collector.h"

namespace kiv::test {
namespace {

class InterpreterTest : public InterpTest {};

// ---- Values and blocks --------------------------------------------------------------------------

TEST_F(InterpreterTest, LiteralsAndBlocks) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"1", "1"},       {"1 2 3", "3"},       {"\"text\"", "\"text\""}, {"[a b]", "[a b]"},
        {"none", "none"}, {"'word", "word"},    {"'a/b", "a/b"},          {"(1 2)", "2"},
        {"()", "unset"},  {"#issue", "#issue"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(eval_mold(text), expected) << text;
    Cell empty = eval_text("");
    EXPECT_EQ(empty.type(), uint32_t(TYPE_UNSET));
}

TEST_F(InterpreterTest, BlockIndexIsRespected) {
    Cell blk = code("record 1 record 2 record 3");
    blk.w1 = 2;  // from the second expression on
    Cell* slot = stack::top;
    ASSERT_EQ(interpreter::eval(&blk, false), 0u);
    EXPECT_EQ(mold_text(*slot), "3");
    EXPECT_EQ(log_text(), "[2 3]");
    blk.w1 = 100;  // past the tail: unset
    slot = stack::top;
    ASSERT_EQ(interpreter::eval(&blk, false), 0u);
    EXPECT_EQ(slot->type(), uint32_t(TYPE_UNSET));
}

TEST_F(InterpreterTest, EvalKeepWritesTheResultSlot) {
    // Under a native frame, eval with keep leaves the value in the frame's
    // result slot and the data top one cell above where it was.
    Cell* base = stack::mark_native(nullptr);
    stack::push(int_cell(99));
    Cell* top = stack::top;
    Cell blk = code("1 + 1");
    ASSERT_EQ(interpreter::eval(&blk, true), 0u);
    EXPECT_EQ(stack::top, top + 1);
    EXPECT_EQ(mold_text(*base), "2");
    stack::unwind();
}

// ---- Order and operators --------------------------------------------------------------------------

TEST_F(InterpreterTest, OperatorsApplyLeftToRight) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"1 + 2 * 3", "9"},
        {"2 * 3 + 1", "7"},
        {"1 + 2 * 3 - 4", "5"},
        {"1 + (2 * 3)", "7"},
        {"10 - 2 - 3", "5"},
        // An argument takes the look-ahead: the second argument is 2 * 10.
        {"add 1 2 * 10", "21"},
        // An operator's right operand is one expression without look-ahead
        // after it; the call inside still fetches its own arguments with
        // look-ahead: 1 + (add 2 (3 * 2)).
        {"1 + add 2 3 * 2", "9"},
        {"1 + 2 + add 1 1", "5"},
        {"1 < 2", "true"},
        {"3 + 4 = 7", "true"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(eval_mold(text), expected) << text;
}

TEST_F(InterpreterTest, ArgumentsAreEvaluatedLeftToRight) {
    set_global("three", make_func("a b c", "a"));
    eval_text("three (record 1) (record 2) (record 3)");
    EXPECT_EQ(log_text(), "[1 2 3]");
    reset_log();
    eval_text("record 1 record 2 + 0 record 3");
    EXPECT_EQ(log_text(), "[1 2 3]");
}

TEST_F(InterpreterTest, OperatorWithoutLeftOperand) {
    eval_error("+ 1 2", "script", "no-op-arg");
    // An op! value standing literally in code is reserved.
    Cell blk = code("x");
    Cell op = global_value("+");
    *block::cells_at(&blk, 0) = op;
    expect_error([&] { (void)interpreter::eval(&blk, false); }, "internal", "not-done");
}

// ---- Words -----------------------------------------------------------------------------------------

TEST_F(InterpreterTest, WordForms) {
    EXPECT_EQ(eval_mold("a: 5 a"), "5");
    EXPECT_EQ(eval_mold("a: b: 7 a + b"), "14");
    EXPECT_EQ(eval_mold("x: 1 + 2"), "3");
    EXPECT_EQ(eval_mold("f: :add f 2 3"), "5");
    EXPECT_EQ(eval_mold(":add"), "make action! [[value1 value2]]");
    EXPECT_EQ(eval_mold("'foo"), "foo");
    EXPECT_EQ(eval_text("'foo").type(), uint32_t(TYPE_WORD));
    EXPECT_EQ(eval_mold("t: 'foo :t"), "foo");
}

TEST_F(InterpreterTest, WordErrors) {
    RaisedError e = eval_error("no-such-word-here", "script", "no-value");
    EXPECT_EQ(mold_text(e.args[0]), "no-such-word-here");
    eval_error("a:", "script", "need-value");
    eval_error("a: ()", "script", "need-value");
    // A get-word reads unset without complaint.
    EXPECT_EQ(eval_text(":no-such-word-either").type(), uint32_t(TYPE_UNSET));
}

// ---- Function calls ------------------------------------------------------------------------------------

TEST_F(InterpreterTest, FunctionCallsAndReturn) {
    set_global("double", make_func("n [integer!]", "n * 2"));
    EXPECT_EQ(eval_mold("double 21"), "42");
    EXPECT_EQ(eval_mold("double double 3"), "12");
    set_global("pick-one", make_func("x", "if x > 1 [return 10] 20"));
    EXPECT_EQ(eval_mold("pick-one 5"), "10");
    EXPECT_EQ(eval_mold("pick-one 0"), "20");
    set_global("quit-early", make_func("", "exit 5"));
    EXPECT_EQ(eval_text("quit-early").type(), uint32_t(TYPE_UNSET));
    // Locals start as none; the context values live on the stack only during the call.
    set_global("loc", make_func("a /local b", "b"));
    EXPECT_EQ(eval_mold("loc 1"), "none");
    // Recursion: each call has its own values.
    set_global("fact", make_func("n", "either n <= 1 [1] [n * fact n - 1]"));
    EXPECT_EQ(eval_mold("fact 10"), "3628800");
}

TEST_F(InterpreterTest, ReturnAtTopLevelRaises) {
    eval_error("return 1", "throw", "return");
}

TEST_F(InterpreterTest, RefinementsInSpecificationOrder) {
    // Flags and arguments land in its specification's order whatever order
    // the path names them in; the arguments are fetched in path order.
    set_global("refs", make_func("a /add b /mul c", "reduce-test a add b mul c"));
    set_global("reduce-test", make_func("a f1 b f2 c", "record a record f1 record b record f2 record c"));
    eval_text("refs 1");
    EXPECT_EQ(log_text(), "[1 false none false none]");
    reset_log();
    eval_text("refs/mul/add 1 10 100");
    EXPECT_EQ(log_text(), "[1 true 100 true 10]");
    reset_log();
    eval_text("refs/add 1 10");
    EXPECT_EQ(log_text(), "[1 true 10 false none]");
    reset_log();
    // A get-word refinement is used when its value is truthy; its argument
    // is fetched either way.
    set_global("refs4", make_func("a /yes b /no c", "reduce-test a yes b no c"));
    eval_text("yes: true no: false refs4/:yes/:no 1 2 3");
    EXPECT_EQ(log_text(), "[1 true 2 false none]");
}

TEST_F(InterpreterTest, RefinementErrors) {
    set_global("refs2", make_func("a /add b", "a"));
    RaisedError e = eval_error("refs2/nope 1", "script", "no-refine");
    EXPECT_EQ(mold_text(e.args[1]), "nope");
    eval_error("refs2/add/add 1 2 3", "script", "dup-refine");
    eval_error("refs2/1 1", "script", "bad-refine");
    // Natives and actions check path refinements the same way.
    eval_error("add/only 1 2", "script", "no-refine");
}

TEST_F(InterpreterTest, TypedArguments) {
    set_global("ints", make_func("a [integer!] b [block! none!]", "a"));
    EXPECT_EQ(eval_mold("ints 1 none"), "1");
    RaisedError e = eval_error("ints \"x\" none", "script", "expect-arg");
    EXPECT_EQ(mold_text(e.args[0]), "ints");
    EXPECT_EQ(mold_text(e.args[1]), "string!");
    EXPECT_EQ(mold_text(e.args[2]), "a");
    eval_error("ints 1 2", "script", "expect-arg");
    // Arguments default to every type but unset!.
    set_global("any1", make_func("a", "a"));
    eval_error("any1 ()", "script", "expect-arg");
    e = eval_error("ints", "script", "no-arg");
    EXPECT_EQ(mold_text(e.args[1]), "a");
    eval_error("add 1", "script", "no-arg");
}

TEST_F(InterpreterTest, LiteralAndQuotedArguments) {
    set_global("lit", make_func(":v", "v"));
    set_global("quo", make_func("'v", "v"));
    set_global("n", int_cell(5));
    EXPECT_EQ(eval_mold("lit n"), "n");
    EXPECT_EQ(eval_mold("lit (1 + 1)"), "(1 + 1)");
    EXPECT_EQ(eval_mold("quo n"), "n");
    EXPECT_EQ(eval_mold("quo (1 + 1)"), "2");
    EXPECT_EQ(eval_mold("quo :n"), "5");
    EXPECT_EQ(eval_mold("b: [7 8] quo :b/2"), "8");
}

// ---- Paths ---------------------------------------------------------------------------------------------

TEST_F(InterpreterTest, PathGetSetAndParen) {
    EXPECT_EQ(eval_mold("b: [1 2 3] b/2"), "2");
    EXPECT_EQ(eval_mold("b: [1 2 3] i: 3 b/:i"), "3");
    EXPECT_EQ(eval_mold("b: [1 2 3] b/(1 + 1)"), "2");
    EXPECT_EQ(eval_mold("b: [1 2 3] b/2: 20 b"), "[1 20 3]");
    EXPECT_EQ(eval_mold("b: [1 2 3] b/2: 20"), "20");
    EXPECT_EQ(eval_mold("b: [[1 2] [3 4]] b/2/1"), "3");
    EXPECT_EQ(eval_mold("b: [[1 2] [3 4]] b/2/1: 30 b"), "[[1 2] [30 4]]");
    EXPECT_EQ(eval_mold("b: [x 10 y 20] b/y"), "20");
    EXPECT_EQ(eval_mold("b: [1 2] :b/1"), "1");
    EXPECT_EQ(eval_mold("b: [1 2] b/5"), "none");
}

TEST_F(InterpreterTest, PathCallsFunctions) {
    set_global("refs3", make_func("a /twice", "either twice [a * 2] [a]"));
    EXPECT_EQ(eval_mold("refs3/twice 4"), "8");
    // A function reached through a block is called with the rest of the
    // path as refinements.
    Cell* fns = stack::push(none::cell());
    block::make_at(fns, 1);
    Cell f = global_value("refs3");
    block::cells_append(fns, &f);
    set_global("fns", *fns);
    stack::pop(1);
    EXPECT_EQ(eval_mold("fns/1/twice 5"), "10");
}

TEST_F(InterpreterTest, PathErrors) {
    // A path whose first element is no word (the lexer never makes one).
    Cell numbers = code("[1 2]");
    block::cells_at(&numbers, 0)->set_type(TYPE_PATH);
    expect_error([&] { (void)interpreter::eval(&numbers, false); }, "script", "word-first");
    stack::reset_all();
    RaisedError e = eval_error("not-set-anywhere/1", "script", "unset-path");
    EXPECT_EQ(mold_text(e.args[1]), "not-set-anywhere");
    eval_error("b: [1 2] b/:never-set-anywhere", "script", "invalid-path");
    eval_error(":add/only", "script", "invalid-path-get");
    eval_error("add/only: 1", "script", "invalid-path-set");
    // An empty path.
    Cell blk = code("x");
    Cell* p = stack::push(none::cell());
    path::make_at(p, 1);
    *block::cells_at(&blk, 0) = *p;
    block::cells_at(&blk, 0)->set_type(TYPE_PATH);
    stack::pop(1);
    expect_error([&] { (void)interpreter::eval(&blk, false); }, "script", "empty-path");
}

TEST_F(InterpreterTest, IssueBeforeBlockNeedsCompilation) {
    eval_error("#system [a]", "internal", "kiv-system");
    EXPECT_EQ(eval_mold("#system"), "#system");
}

// ---- Native code calling in ----------------------------------------------------------------------------

TEST_F(InterpreterTest, EvalNextStepsThroughABlock) {
    Cell blk = code("1 + 2 record 7 3 * 3");
    uint32_t i = 0;
    std::vector<std::string> values;
    while (i < block::cells_length(&blk)) {
        Cell* slot = stack::top;
        ASSERT_EQ(interpreter::eval_next(&blk, i, &i), 0u);
        values.push_back(mold_text(*slot));
        stack::top = slot;
    }
    EXPECT_EQ(values, (std::vector<std::string>{"3", "7", "9"}));
    Cell* slot = stack::top;
    uint32_t next = 0;
    ASSERT_EQ(interpreter::eval_next(&blk, 99, &next), 0u);
    EXPECT_EQ(slot->type(), uint32_t(TYPE_UNSET));
    EXPECT_EQ(next, block::cells_length(&blk));
    // The single form stops before an operator.
    stack::top = slot;
    ASSERT_EQ(interpreter::eval_single(&blk, 0, &next), 0u);
    EXPECT_EQ(mold_text(*slot), "1");
    EXPECT_EQ(next, 1u);
}

TEST_F(InterpreterTest, CallValuesAndCallPushed) {
    Cell f = make_func("a b /neg", "either neg [b - a] [a - b]");
    Cell args[2] = {int_cell(10), int_cell(3)};
    Cell* slot = stack::top;
    ASSERT_EQ(interpreter::call_values(&f, args, 2), 0u);
    EXPECT_EQ(stack::top, slot + 1);
    EXPECT_EQ(mold_text(*slot), "7");
    // The full layout: arguments, then the refinement's flag.
    stack::top = slot;
    stack::push(int_cell(10));
    stack::push(int_cell(3));
    stack::push(logic::cell(true));
    ASSERT_EQ(interpreter::call_pushed(nullptr, &f, slot, true), 0u);
    EXPECT_EQ(stack::top, slot + 1);
    EXPECT_EQ(mold_text(*slot), "-7");
    // Natives and actions through the same door, with a type check.
    stack::top = slot;
    Cell add = global_value("add");
    ASSERT_EQ(interpreter::call_values(&add, args, 2), 0u);
    EXPECT_EQ(mold_text(*slot), "13");
    stack::top = slot;
    Cell ints = make_func("a [integer!]", "a");
    Cell bad = none::cell();
    expect_error([&] { (void)interpreter::call_values(&ints, &bad, 1); }, "script", "expect-arg");
    stack::reset_all();
    interpreter::Shape s = interpreter::shape_of(&f);
    EXPECT_EQ(s.fixed, 2u);
    EXPECT_EQ(s.refinements, 1u);
    EXPECT_EQ(s.frame_cells, 3u);
    EXPECT_EQ(interpreter::find_refinement(&f, symbol::make("NEG")), 0);
    EXPECT_EQ(interpreter::find_refinement(&f, symbol::make("other")), -1);
}

TEST_F(InterpreterTest, TypedSpecIsBuiltOnceAndShared) {
    Cell f = make_func("a [integer!]", "a");
    EXPECT_EQ(function::series_cell(&f, function::CELL_SPARE)->type(), uint32_t(TYPE_UNSET));
    set_global("once", f);
    eval_text("once 1");
    Cell cache = *function::series_cell(&f, function::CELL_SPARE);
    EXPECT_EQ(cache.type(), uint32_t(TYPE_BINARY));
    eval_text("once 2");
    EXPECT_EQ(function::series_cell(&f, function::CELL_SPARE)->w2, cache.w2);
    // An op! made from a function shares its source's typed spec.
    set_global("minus", make_func("a b", "a - b"));
    set_global("~~", make_op(global_value("minus")));
    EXPECT_EQ(eval_mold("10 ~~ 4"), "6");
}

TEST_F(InterpreterTest, RoutinesAreCalled) {
    eval_text("record 1 + 1");
    EXPECT_EQ(log_text(), "[2]");
}

// ---- Robustness ------------------------------------------------------------------------------------------

TEST_F(InterpreterTest, DeepRecursionRaisesStackOverflow) {
    set_global("deep", make_func("n", "deep n + 1"));
    eval_error("deep 1", "internal", "stack-overflow");
    // Both stacks are usable afterwards.
    EXPECT_EQ(eval_mold("1 + 1"), "2");
    set_global("deep2", make_func("n", "1 + deep2 n"));
    eval_error("deep2 1", "internal", "stack-overflow");
    EXPECT_EQ(eval_mold("deep2: 3 deep2"), "3");
}

TEST_F(InterpreterTest, UnwindCodesPassThroughUntouched) {
    // break outside any loop is refused before anything is trimmed.
    eval_error("break", "throw", "break");
    // A break inside a function body called in a loop ends the loop.
    set_global("stopper", make_func("", "break/return 42"));
    EXPECT_EQ(eval_mold("loop 5 [record 1 stopper record 2]"), "42");
    EXPECT_EQ(log_text(), "[1]");
}

TEST_F(InterpreterTest, SurvivesCollectionsDuringEvaluation) {
    // Collections between steps (at every allocation in a KIV_GC_TORTURE
    // build) must not lose the code, the arguments or the function values in
    // use: everything the interpreter needs is reachable from the stacks.
    set_global("grow", make_func("n /local b", "b: copy [] repeat i n [append/only b copy [x y]] b"));
    set_global("sum-len", make_func("blocks", "n: 0 foreach b blocks [n: n + length? b] n"));
    collector::init();
    uint32_t cycles_before = memory::collection_cycles;
    bool saved = memory::collection_enabled;
    memory::collection_enabled = true;
    std::string r = eval_mold("r: 0 loop 20 [r: r + sum-len grow 10] r");
    std::string p = eval_mold("b: grow 3 b/2/1: copy [z] b/2/1/1");
    collector::collect();
    std::string t = eval_mold("(func-value: :grow) length? func-value 4");
    memory::collection_enabled = saved;
    EXPECT_EQ(r, "400");
    EXPECT_EQ(p, "z");
    EXPECT_EQ(t, "4");
    EXPECT_GT(memory::collection_cycles, cycles_before);
}

// ---- Tracing ---------------------------------------------------------------------------------------------

std::vector<std::string>* trace_log = nullptr;
void hook(uint32_t event, const Cell& code, int32_t offset, const Cell& value, const Cell&, int32_t,
          int32_t) {
    std::string e = symbol::name(interpreter::event_word(event).w2);
    (void)code;
    (void)offset;
    if (value.type() != TYPE_NONE) e += " " + mold_text(value);
    trace_log->push_back(e);
}

TEST_F(InterpreterTest, TraceEventsInOrder) {
    std::vector<std::string> events;
    trace_log = &events;
    Cell blk = code("1 + 2");
    interpreter::trace_begin_hook(hook, 0xFFFF);
    Cell* slot = stack::top;
    ASSERT_EQ(interpreter::eval(&blk, false), 0u);
    (void)interpreter::trace_end();
    EXPECT_EQ(mold_text(*slot), "3");
    const std::vector<std::string> expected = {
        "init",     "enter [1 + 2]", "fetch 1",
        "push 1",   "fetch +",       "open +",
        "fetch 2",  "push 2",        "call make action! [[value1 value2]]",
        "return 3", "expr 3",        "exit 3",
        "end",
    };
    EXPECT_EQ(events, expected);
    trace_log = nullptr;
}

TEST_F(InterpreterTest, TraceFunctionEventsAndMask) {
    std::vector<std::string> events;
    trace_log = &events;
    set_global("tf", make_func("a", "a"));
    Cell blk = code("x: tf 4");
    interpreter::trace_begin_hook(hook, interpreter::EV_PROLOG | interpreter::EV_EPILOG |
                                            interpreter::EV_SET | interpreter::EV_CALL |
                                            interpreter::EV_RETURN);
    ASSERT_EQ(interpreter::eval(&blk, false), 0u);
    (void)interpreter::trace_end();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].substr(0, 4), "call");
    EXPECT_EQ(events[1].substr(0, 6), "prolog");
    EXPECT_EQ(events[2], "epilog 4");
    EXPECT_EQ(events[3], "return 4");
    EXPECT_EQ(events[4], "set 4");
    trace_log = nullptr;
}

TEST_F(InterpreterTest, TraceWithKivCallback) {
    // The callback's first body block selects the events; tracing is off
    // while it runs, so its own evaluation reports nothing.
    Cell cb = make_func("event code offset value ref frame", "[fetch] record value");
    Cell blk = code("10 20");
    ASSERT_EQ(interpreter::trace_begin(&cb), 0u);
    ASSERT_EQ(interpreter::eval(&blk, false), 0u);
    ASSERT_EQ(interpreter::trace_end(), 0u);
    EXPECT_EQ(log_text(), "[10 20]");
    EXPECT_FALSE(interpreter::tracing);
}

TEST_F(InterpreterTest, NoTraceAttributeSuspendsTracing) {
    std::vector<std::string> events;
    trace_log = &events;
    Cell quiet = make_func("[no-trace] a", "a + 1");
    set_global("quiet", quiet);
    Cell blk = code("quiet 1");
    interpreter::trace_begin_hook(hook, interpreter::EV_FETCH);
    ASSERT_EQ(interpreter::eval(&blk, false), 0u);
    (void)interpreter::trace_end();
    EXPECT_EQ(events, (std::vector<std::string>{"fetch quiet", "fetch 1"}));
    trace_log = nullptr;
}

}  // namespace
}  // namespace kiv::test
