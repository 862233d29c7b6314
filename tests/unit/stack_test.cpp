// Data stack, call frames, unwinders and non-local exits.
#include "runtime/stack.h"

#include <gtest/gtest.h>

#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/cycles.h"
#include "runtime/memory.h"
#include "test_support.h"

using namespace kiv;
using kiv::test::expect_error;
using kiv::test::int_cell;
using stack::Frame;

namespace {

class StackTest : public test::RuntimeTest {
  protected:
    // A context node whose context cell's values word is `values`.
    static Off make_context(uint32_t values) {
        Off node = memory::alloc_cells(2);
        Cell* c = buffer_of(node)->head_cell();
        c[0] = Cell{TYPE_CONTEXT, 0, values, 0};
        c[1] = unset::cell();
        return node;
    }
    static uint32_t values_of(Off context) { return buffer_of(context)->head_cell()->w2; }
    // A word cell: binding context in word 1, symbol in word 2.
    static Cell word(uint32_t symbol, Off binding = 0) { return Cell{TYPE_WORD, binding, symbol, 0}; }
    static Cell* base_at(uint32_t i) { return stack::bottom + i; }
};

TEST_F(StackTest, StartsEmptyWithTheFixedSizes) {
    EXPECT_EQ(stack::top, stack::bottom);
    EXPECT_EQ(stack::arg_base, stack::bottom);
    EXPECT_EQ(stack::limit - stack::bottom, 20000);
    EXPECT_EQ(stack::frames_top, stack::frames_bottom);
    EXPECT_EQ(stack::frames_limit - stack::frames_bottom, 12000);
    EXPECT_EQ(stack::ctop(), nullptr);
    EXPECT_EQ(stack::top_cell(), stack::bottom);
}

TEST_F(StackTest, PushPopResetKeepSetLast) {
    Cell* a = stack::push(int_cell(1));
    Cell* b = stack::push(int_cell(2));
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(stack::top_cell(), b);
    EXPECT_EQ(stack::top_type(), uint32_t(TYPE_INTEGER));
    stack::pop(1);
    EXPECT_EQ(stack::top_cell(), a);
    stack::pop(50);  // never below the bottom
    EXPECT_EQ(stack::top, stack::bottom);

    stack::push(int_cell(7));
    stack::push(int_cell(8));
    stack::set_last(int_cell(9));
    EXPECT_EQ(stack::bottom->w2, 9u);
    EXPECT_EQ(stack::top - stack::bottom, 2);
    stack::keep();
    EXPECT_EQ(stack::top - stack::bottom, 1);
    stack::reset();
    EXPECT_EQ(stack::top, stack::arg_base);
    stack::push(int_cell(1));
    stack::push(int_cell(1));
    stack::set_last_keep(int_cell(4));
    EXPECT_EQ(stack::top - stack::bottom, 1);
    EXPECT_EQ(stack::bottom->w2, 4u);
}

TEST_F(StackTest, PushCopiesACellThatLiesOnTheStack) {
    Cell* a = stack::push(int_cell(5));
    Cell* b = stack::push(*a);
    EXPECT_EQ(b->w2, 5u);
}

TEST_F(StackTest, MarkWritesTheRecordAndMovesTheBase) {
    stack::push(int_cell(1));
    Off ctx = make_context(0);
    Cell w = word(0x1234, ctx);
    Cell* base = stack::mark(&w, stack::MARK_INTERP_NATIVE);
    EXPECT_EQ(base, stack::top);
    EXPECT_EQ(stack::arg_base, base);
    Frame* f = stack::ctop();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->header, (0x1234u << 8) | 0x82000000u);
    EXPECT_EQ(f->type(), stack::FRAME_NATIVE);
    EXPECT_EQ(f->symbol(), 0x1234u);
    EXPECT_EQ(f->saved_index(), 0u);
    EXPECT_EQ(f->binding, ctx);
    EXPECT_EQ(f->function_context, 0u);
    EXPECT_EQ(f->saved_values, 0u);

    // An anonymous call carries symbol 0 and no binding.
    stack::mark_loop(nullptr);
    EXPECT_EQ(stack::ctop()->header, stack::MARK_LOOP);
    EXPECT_EQ(stack::ctop()->binding, 0u);
    EXPECT_EQ(stack::ctop()->saved_index(), 1u);
}

TEST_F(StackTest, PushOperationsAddTheirHeaderBits) {
    struct Case {
        Cell* (*push)(const Cell*);
        uint32_t bits;
    };
    const Case cases[] = {
        {stack::mark_native, 0x02000000u},  {stack::mark_try, 0x04000000u},
        {stack::mark_try_all, 0x05000000u}, {stack::mark_catch, 0x06000000u},
        {stack::mark_eval, 0x87000000u},    {stack::mark_loop, 0x08000000u},
    };
    for (const Case& c : cases) {
        c.push(nullptr);
        EXPECT_EQ(stack::ctop()->header, c.bits);
        stack::unwind();
    }
}

TEST_F(StackTest, FunctionFramesSaveAndRestoreTheContextValues) {
    Off ctx = make_context(0xABCD);
    stack::push(int_cell(0));
    stack::mark_func(nullptr, ctx);
    Frame* f = stack::ctop();
    EXPECT_EQ(f->type(), stack::FRAME_FUNCTION);
    EXPECT_EQ(f->function_context, ctx);
    EXPECT_EQ(f->saved_values, 0xABCDu);
    stack::push(int_cell(10));  // argument
    Cell* body_base = stack::arg_base;
    stack::mark_func_on_stack(nullptr, ctx);
    EXPECT_EQ(values_of(ctx), arena::off(body_base));
    EXPECT_EQ(stack::ctop()->header, 0x12000000u);
    stack::unwind();  // the body frame (type 2) restores nothing
    EXPECT_EQ(values_of(ctx), arena::off(body_base));
    stack::unwind_func();
    EXPECT_EQ(values_of(ctx), 0xABCDu);
}

// Every single-frame pop, from the same starting picture: the caller has one
// value below the callee; the callee has pushed its result and one more cell.
TEST_F(StackTest, SingleFramePops) {
    enum Result { STAYS, DROPPED, COPIED };
    struct Case {
        const char* name;
        void (*pop)();
        bool restores;
        Result result;
    };
    const Case cases[] = {
        {"unwind", stack::unwind, false, STAYS},
        {"unwind_func", stack::unwind_func, true, STAYS},
        {"unwind_func_drop", stack::unwind_func_drop, true, DROPPED},
        {"unwind_drop", stack::unwind_drop, false, DROPPED},
        {"unwind_last", stack::unwind_last, false, COPIED},
        {"unwind_func_last", stack::unwind_func_last, true, COPIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stack::reset_all();
        Off ctx = make_context(77);
        stack::push(int_cell(1));  // caller's result slot
        Cell* callee = stack::mark_func(nullptr, ctx);
        buffer_of(ctx)->head_cell()->w2 = 99;  // as a function body would
        stack::push(int_cell(42));
        stack::push(int_cell(43));
        c.pop();
        EXPECT_EQ(stack::arg_base, stack::bottom);
        EXPECT_EQ(stack::frame_count(), 0u);
        EXPECT_EQ(values_of(ctx), c.restores ? 77u : 99u);
        switch (c.result) {
            case STAYS:
                EXPECT_EQ(stack::top, callee + 1);
                EXPECT_EQ(callee->w2, 42u);
                EXPECT_EQ(stack::bottom->w2, 1u);
                break;
            case DROPPED:
                EXPECT_EQ(stack::top, stack::bottom);
                break;
            case COPIED:
                EXPECT_EQ(stack::top, callee + 1);
                EXPECT_EQ(stack::bottom->w2, 42u);
                break;
        }
    }
}

TEST_F(StackTest, UnwindCheckedRestoresOnlyFunctionFramesAndEmptiesAtTheBottom) {
    Off ctx = make_context(5);
    stack::push(int_cell(1));
    stack::mark_func(nullptr, ctx);
    stack::push(int_cell(2));
    Cell* callee = stack::mark_native(nullptr);
    stack::push(int_cell(3));
    stack::unwind_checked();
    EXPECT_EQ(stack::top, callee);
    EXPECT_EQ(stack::frame_count(), 1u);
    buffer_of(ctx)->head_cell()->w2 = 6;
    stack::unwind_checked();
    EXPECT_EQ(values_of(ctx), 5u);
    EXPECT_EQ(stack::frame_count(), 0u);
    EXPECT_EQ(stack::top, stack::bottom);
    EXPECT_EQ(stack::arg_base, stack::bottom);
}

TEST_F(StackTest, UnrollStopsAtTheTypeOrATryAllFrame) {
    Off ctx = make_context(11);
    stack::push(int_cell(0));
    stack::mark_loop(nullptr);  // frame 0, saved base 0
    stack::push(int_cell(1));
    Cell* loop_own = stack::arg_base;
    stack::mark_func(nullptr, ctx);  // frame 1
    buffer_of(ctx)->head_cell()->w2 = 12;
    stack::push(int_cell(2));
    stack::mark_native(nullptr);  // frame 2
    Cell* former = stack::push(int_cell(3));
    stack::unroll_loop(true);
    EXPECT_EQ(stack::frame_count(), 1u);
    EXPECT_EQ(stack::ctop()->type(), stack::FRAME_LOOP);
    EXPECT_EQ(stack::arg_base, loop_own);  // keep: the loop's own base
    EXPECT_EQ(stack::top, former + 1);
    EXPECT_EQ(values_of(ctx), 11u);

    // keep = 0: the loop frame's saved base.
    stack::mark_native(nullptr);
    stack::push(int_cell(4));
    stack::unroll_loop(false);
    EXPECT_EQ(stack::frame_count(), 1u);
    EXPECT_EQ(stack::arg_base, stack::bottom);

    // A try/all frame stops any unroll.
    stack::reset_all();
    stack::mark_loop(nullptr);
    stack::mark_try_all(nullptr);
    stack::mark_native(nullptr);
    stack::unroll_loop(true);
    EXPECT_EQ(stack::ctop()->type(), stack::FRAME_TRY_ALL);

    // No frame of the type: everything goes.
    stack::reset_all();
    stack::mark_native(nullptr);
    stack::push(int_cell(1));
    stack::unroll(stack::FRAME_CATCH, false);
    EXPECT_EQ(stack::frame_count(), 0u);
    EXPECT_EQ(stack::top, stack::bottom);
    EXPECT_EQ(stack::arg_base, stack::bottom);
}

TEST_F(StackTest, UnrollLastCopiesTheResultIntoTheFrameSlot) {
    stack::mark_loop(nullptr);
    Cell* loop_own = stack::arg_base;
    stack::push(int_cell(0));
    stack::mark_native(nullptr);
    stack::push(int_cell(55));
    stack::unroll_last(stack::FRAME_LOOP);
    EXPECT_EQ(stack::arg_base, loop_own);
    EXPECT_EQ(stack::top, loop_own);
    EXPECT_EQ(loop_own->w2, 55u);
}

TEST_F(StackTest, DataStackOverflowRaisesAndLeavesTheStackUsable) {
    cycles::push(123);
    uint32_t pushed = 0;
    expect_error(
        [&] {
            for (;;) {
                stack::push(int_cell(int32_t(pushed)));
                ++pushed;
            }
        },
        "internal", "stack-overflow");
    EXPECT_EQ(pushed, 19999u);
    EXPECT_EQ(stack::top, stack::limit - 5);
    EXPECT_EQ(cycles::depth(), 0u);
    stack::reset_all();
    EXPECT_EQ(stack::push(int_cell(1)), stack::bottom);
}

TEST_F(StackTest, FrameStackOverflowRaisesAndLeavesTheStacksUsable) {
    stack::mark_try(nullptr);
    Frame* try_frame = stack::ctop();
    stack::push(int_cell(0));
    for (int i = 0; i < 10; ++i) stack::push(int_cell(i));
    Cell* top_before = stack::top;
    cycles::push(9);
    uint32_t frames = 1;
    expect_error(
        [&] {
            for (;;) {
                stack::mark_native(nullptr);
                ++frames;
            }
        },
        "internal", "stack-overflow");
    EXPECT_EQ(frames, 12000u);
    EXPECT_EQ(stack::top, top_before - 5);
    EXPECT_EQ(cycles::depth(), 0u);
    stack::catch_at(try_frame);
    EXPECT_EQ(stack::frame_count(), 0u);
    EXPECT_EQ(stack::arg_base, stack::bottom);
    stack::mark_native(nullptr);
    EXPECT_EQ(stack::frame_count(), 1u);
}

// ---- break and continue ------------------------------------------------------------

TEST_F(StackTest, BreakAndContinueStopAtTheNearestLoop) {
    struct Case {
        bool has_value, is_continue;
        uint32_t code;
        bool value_kept;
    };
    const Case cases[] = {
        {false, false, UNWIND_BREAK, false},
        {true, false, UNWIND_BREAK, true},
        {false, true, UNWIND_CONTINUE, false},
    };
    for (const Case& c : cases) {
        stack::reset_all();
        Off ctx = make_context(31);
        stack::push(int_cell(0));
        stack::mark_loop(nullptr);
        Cell* loop_own = stack::arg_base;
        stack::push(int_cell(1));
        stack::mark_func(nullptr, ctx);  // a function called in the loop body
        buffer_of(ctx)->head_cell()->w2 = 32;
        stack::push(int_cell(2));
        stack::mark_native(nullptr);  // the break native
        stack::push(int_cell(66));
        EXPECT_EQ(stack::throw_break(c.has_value, c.is_continue), c.code);
        EXPECT_EQ(stack::frame_count(), 1u);
        EXPECT_EQ(stack::ctop()->type(), stack::FRAME_LOOP);
        EXPECT_EQ(stack::arg_base, loop_own);
        EXPECT_EQ(stack::top, loop_own + 1);
        if (c.value_kept) {
            EXPECT_EQ(loop_own->type(), uint32_t(TYPE_INTEGER));
            EXPECT_EQ(loop_own->w2, 66u);
        } else {
            EXPECT_EQ(loop_own->type(), uint32_t(TYPE_UNSET));
        }
        EXPECT_EQ(values_of(ctx), 31u);  // the function frame on the way restored its context
    }
}

TEST_F(StackTest, BreakWithoutLoopOrAcrossTryAllRaisesAndKeepsTheStacks) {
    struct Case {
        bool with_loop;
        bool is_continue;
        const char* id;
    };
    const Case cases[] = {
        {false, false, "break"},
        {false, true, "continue"},
        {true, false, "break"},
        {true, true, "continue"},
    };
    for (const Case& c : cases) {
        stack::reset_all();
        if (c.with_loop) {
            stack::mark_loop(nullptr);
            stack::mark_try_all(nullptr);  // the barrier
        }
        stack::mark_native(nullptr);
        stack::push(int_cell(1));
        Cell* base = stack::arg_base;
        Cell* top = stack::top;
        uint32_t frames = stack::frame_count();
        expect_error([&] { (void)stack::throw_break(false, c.is_continue); }, "throw", c.id);
        EXPECT_EQ(stack::arg_base, base);
        EXPECT_EQ(stack::top, top);
        EXPECT_EQ(stack::frame_count(), frames);
    }
}

// ---- return and exit ------------------------------------------------------------------

TEST_F(StackTest, ReturnAndExitStopAtTheFunctionBody) {
    Off ctx = make_context(0);
    for (bool has_value : {true, false}) {
        stack::reset_all();
        stack::push(int_cell(0));
        stack::mark_func(nullptr, ctx);
        stack::push(int_cell(1));
        stack::mark_func_on_stack(nullptr, ctx);
        Cell* body_own = stack::arg_base;
        stack::push(int_cell(2));
        stack::mark_loop(nullptr);  // a loop inside the body is crossed
        stack::mark_eval(nullptr);
        stack::mark_native(nullptr);  // the return native
        stack::push(int_cell(88));
        uint32_t code = stack::throw_exit(has_value, false);
        EXPECT_EQ(code, has_value ? uint32_t(UNWIND_RETURN) : uint32_t(UNWIND_EXIT));
        EXPECT_EQ(stack::frame_count(), 2u);
        EXPECT_NE(stack::ctop()->header & stack::FRAME_RETURN_TARGET, 0u);
        EXPECT_EQ(stack::arg_base, body_own);
        EXPECT_EQ(stack::top, body_own + 1);
        if (has_value)
            EXPECT_EQ(body_own->w2, 88u);
        else
            EXPECT_EQ(body_own->type(), uint32_t(TYPE_UNSET));
    }
}

TEST_F(StackTest, ReturnFromTopSearchesFromTheTopmostFrame) {
    stack::mark_func_on_stack(nullptr, 0);
    Cell* own = stack::arg_base;
    stack::push(int_cell(3));
    // The topmost frame itself is the target when from_top is set.
    EXPECT_EQ(stack::throw_exit(true, true), uint32_t(UNWIND_RETURN));
    EXPECT_EQ(stack::frame_count(), 1u);
    EXPECT_EQ(stack::arg_base, own);
    EXPECT_EQ(own->w2, 3u);
    // Without from_top the same frame is dropped as the native's own frame.
    stack::reset_all();
    stack::mark_func_on_stack(nullptr, 0);
    expect_error([] { (void)stack::throw_exit(false, false); }, "throw", "return");
}

TEST_F(StackTest, ReturnOutsideAFunctionOrAcrossTryAllRaises) {
    for (bool barrier : {false, true}) {
        stack::reset_all();
        if (barrier) {
            stack::mark_func_on_stack(nullptr, 0);
            stack::mark_try_all(nullptr);
        }
        stack::mark_native(nullptr);
        Cell* base = stack::arg_base;
        uint32_t frames = stack::frame_count();
        expect_error([] { (void)stack::throw_exit(true, false); }, "throw", "return");
        EXPECT_EQ(stack::frame_count(), frames);
        EXPECT_EQ(stack::arg_base, base);
    }
}

// ---- throw and catch ---------------------------------------------------------------------

TEST_F(StackTest, ThrowStopsAtTheNearestCatchWithValueAndName) {
    stack::push(int_cell(0));
    stack::mark_catch(nullptr);
    Cell* catch_own = stack::arg_base;
    stack::push(int_cell(1));
    stack::mark_loop(nullptr);
    stack::mark_native(nullptr);  // throw's frame
    stack::push(int_cell(21));
    stack::push(Cell{TYPE_WORD, 0, 5, 0});
    EXPECT_EQ(stack::throw_value(UNWIND_THROW), uint32_t(UNWIND_THROW));
    EXPECT_EQ(stack::frame_count(), 1u);
    EXPECT_EQ(stack::ctop()->type(), stack::FRAME_CATCH);
    EXPECT_EQ(stack::arg_base, catch_own);
    EXPECT_EQ(stack::top, catch_own + 2);
    EXPECT_EQ(catch_own[0].w2, 21u);
    EXPECT_EQ(catch_own[1].type(), uint32_t(TYPE_WORD));
    stack::throw_position = nullptr;
}

TEST_F(StackTest, ThrowWithoutCatchRaisesWithTheValueAndRecordsWhereItStarted) {
    for (bool barrier : {false, true}) {
        stack::reset_all();
        if (barrier) {
            stack::mark_catch(nullptr);
            stack::mark_try_all(nullptr);
        }
        Cell name{TYPE_WORD, 0, 0x77, 0};
        stack::mark_native(&name);
        Frame* own = stack::ctop();
        stack::push(int_cell(13));
        uint32_t frames = stack::frame_count();
        RaisedError e = expect_error([] { (void)stack::throw_value(UNWIND_THROW); }, "throw", "throw");
        ASSERT_EQ(e.arg_count, 1);
        EXPECT_EQ(e.args[0].w2, 13u);
        EXPECT_EQ(stack::frame_count(), frames);
        EXPECT_EQ(stack::throw_position, own);
        EXPECT_EQ(stack::caller_frame(), own);  // the error's `where` is throw's own frame
        EXPECT_EQ(stack::throw_position, nullptr);
    }
}

// ---- errors ----------------------------------------------------------------------------------

TEST_F(StackTest, CatchAtRestoresTheStacksOfATry) {
    Off ctx = make_context(40);
    stack::push(int_cell(0));
    stack::push(int_cell(0));
    Cell* try_base = stack::arg_base;
    stack::mark_try(nullptr);
    Frame* try_frame = stack::ctop();
    stack::push(int_cell(1));
    stack::mark_func(nullptr, ctx);
    buffer_of(ctx)->head_cell()->w2 = 41;
    for (int i = 0; i < 5; ++i) {
        stack::push(int_cell(i));
        stack::mark_native(nullptr);
    }
    try {
        fire({"script", "no-value"});
    } catch (const RaisedError&) {
        stack::catch_at(try_frame);
    }
    EXPECT_EQ(stack::frame_count(), 0u);
    EXPECT_EQ(stack::arg_base, try_base);
    EXPECT_EQ(stack::top, try_base + 1);
    EXPECT_EQ(values_of(ctx), 40u);
    stack::catch_at(try_frame);  // a second call changes nothing
    EXPECT_EQ(stack::frame_count(), 0u);
    EXPECT_EQ(stack::arg_base, try_base);
}

TEST_F(StackTest, ThrowErrorTrimsToTheNearestTryAndRethrows) {
    stack::mark_native(nullptr);  // below the try: must stay
    stack::push(int_cell(0));
    Cell* try_caller = stack::arg_base;
    stack::mark_try(nullptr);
    Frame* try_frame = stack::ctop();
    stack::mark_loop(nullptr);
    stack::mark_native(nullptr);
    stack::push(int_cell(1));
    stack::push(int_cell(2));
    Cell* top = stack::top;
    RaisedError raised{"math", "zero-divide", {}, 0};
    try {
        stack::throw_error(raised);
        FAIL() << "throw_error returned";
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.id, "zero-divide");
        EXPECT_EQ(stack::frame_count(), 1u);
        EXPECT_EQ(stack::arg_base, try_caller);
        EXPECT_EQ(stack::top, top);
        stack::catch_at(try_frame);  // what the try does next: nothing more to pop
        EXPECT_EQ(stack::frame_count(), 1u);
        EXPECT_EQ(stack::arg_base, try_caller);
    }
    // No try frame at all: both stacks end empty and the error goes on.
    stack::reset_all();
    stack::mark_native(nullptr);
    stack::push(int_cell(1));
    EXPECT_THROW(stack::throw_error(raised), RaisedError);
    EXPECT_EQ(stack::frame_count(), 0u);
    EXPECT_EQ(stack::top, stack::bottom);
}

TEST_F(StackTest, KeepThrownKeepsAnErrorOnTop) {
    stack::push(int_cell(1));
    stack::push(Cell{TYPE_ERROR, 0, 7, 0});
    stack::keep_thrown();
    EXPECT_EQ(stack::bottom->type(), uint32_t(TYPE_ERROR));
    EXPECT_EQ(stack::top, stack::bottom + 1);
    stack::push(int_cell(2));
    stack::push(int_cell(3));
    stack::keep_thrown();
    EXPECT_EQ(stack::bottom->type(), uint32_t(TYPE_ERROR));
    EXPECT_EQ(stack::top, stack::bottom + 1);
}

TEST_F(StackTest, EvalQueryLooksForInterpreterFrames) {
    stack::mark_eval(nullptr);
    stack::mark_native(nullptr);
    stack::mark_native(nullptr);
    EXPECT_TRUE(stack::eval_q(nullptr, false));
    EXPECT_FALSE(stack::eval_q(nullptr, true));
    Frame* second = stack::frames_bottom + 1;
    EXPECT_TRUE(stack::eval_q(second, true));
    EXPECT_FALSE(stack::eval_q(stack::frames_bottom, false));
}

TEST_F(StackTest, CallerSkipsBodyAnonymousAndUnnamedFrames) {
    const uint32_t saved_body = stack::body_symbol, saved_anon = stack::anon_symbol;
    stack::body_symbol = 900;
    stack::anon_symbol = 901;
    Cell f{TYPE_WORD, 0, 50, 0}, body{TYPE_WORD, 0, 900, 0}, anon{TYPE_WORD, 0, 901, 0};
    stack::mark_native(&f);
    Frame* named = stack::ctop();
    stack::mark_func_on_stack(&body, 0);
    stack::mark_native(&anon);
    stack::mark_loop(nullptr);
    EXPECT_EQ(stack::caller_frame(), named);
    Cell caller = word::caller();  // the word of the named frame's symbol
    EXPECT_EQ(caller.type(), uint32_t(TYPE_WORD));
    EXPECT_EQ(caller.w2, 50u);
    stack::reset_all();
    stack::mark_native(&body);
    EXPECT_EQ(stack::caller_frame(), nullptr);
    stack::body_symbol = saved_body;
    stack::anon_symbol = saved_anon;
}

}  // namespace
