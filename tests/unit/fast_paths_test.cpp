// The fast-path entry points against the action path: every variant (cell,
// immediate integer, stack top, condition, result slot) gives what the
// action's stack entry gives for the same operands, errors included.
#include "evaluator/fast_paths.h"

#include <functional>
#include <string>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "interp_support.h"

namespace kiv::test {
namespace {

class FastPathsTest : public InterpTest {
  protected:
    // The molded result of `run` (which pushes one cell), or the error's id.
    static std::string outcome(const std::function<void()>& run) {
        Cell* mark = stack::top;
        try {
            run();
        } catch (const RaisedError& e) {
            stack::reset_all();
            cycles::reset();
            return "error " + raised_text(e).substr(0, raised_text(e).find('\n'));
        }
        EXPECT_EQ(stack::top, mark + 1);
        Cell v = *mark;
        stack::top = mark;
        return mold_text(v);
    }
    // The action path by hand: native frame, operands, stack entry, pop.
    static std::string via_action(uint32_t slot, Cell a, const Cell* b) {
        Cell second = b ? *b : Cell{};
        return outcome([&] {
            stack::mark_native(nullptr);
            stack::push(a);
            if (b) stack::push(second);
            int32_t refs[4] = {-1, -1, -1, -1};
            EXPECT_EQ(actions::generic_table[slot](refs), UNWIND_NONE);
            stack::unwind();
        });
    }
};

struct MathCase {
    uint32_t op;
    uint32_t slot;
};
const MathCase MATH_OPS[] = {
    {OP_ADD, ACT_ADD}, {OP_SUB, ACT_SUBTRACT}, {OP_MUL, ACT_MULTIPLY},
    {OP_OR, ACT_OR_T}, {OP_AND, ACT_AND_T},           {OP_XOR, ACT_XOR_T},
    {OP_DIV, ACT_DIVIDE}, {OP_REM, ACT_REMAINDER},
};

TEST_F(FastPathsTest, MathMatchesTheActions) {
    std::vector<Cell> values = {integer::cell(2147483647), integer::cell(1),        integer::cell(65536),
                                integer::cell(-2147483647 - 1), integer::cell(-3), float_::cell(1.5),
                                float_::cell(-0.25),       hold(eval_text("3%")), integer::cell(0),
                                integer::cell(-1),         integer::cell(7),          float_::cell(0.0),
                                float_::cell(-0.0),        float_::cell(float_::POS_INF),
                                float_::cell(float_::QUIET_NAN), float_::cell(1e308)};
    for (const MathCase& m : MATH_OPS)
        for (const Cell& a : values)
            for (const Cell& b : values) {
                std::string expected = via_action(m.slot, a, &b);
                std::string where = std::to_string(m.op) + ": " + mold_text(a) + " " + mold_text(b);
                EXPECT_EQ(outcome([&] { actions::math_op_fast(nullptr, m.op, &a, &b); }), expected) << where;
                EXPECT_EQ(outcome([&] {
                              stack::push(a);
                              actions::math_op_top_fast(nullptr, m.op, &b);
                          }),
                          expected)
                    << where;
                if (b.type() == TYPE_INTEGER) {
                    int32_t i = int32_t(b.w2);
                    EXPECT_EQ(outcome([&] { actions::math_op_int_fast(nullptr, m.op, &a, i); }), expected) << where;
                    EXPECT_EQ(outcome([&] {
                                  stack::push(a);
                                  actions::math_op_top_int_fast(nullptr, m.op, i);
                              }),
                              expected)
                        << where;
                }
            }
    // The overflow rule by value.
    Cell big = integer::cell(2147483647), one = integer::cell(1), m = integer::cell(65536);
    EXPECT_EQ(outcome([&] { actions::math_op_fast(nullptr, OP_ADD, &big, &one); }), "2147483648.0");
    EXPECT_EQ(outcome([&] { actions::math_op_fast(nullptr, OP_MUL, &m, &m); }), "4294967296.0");
}

TEST_F(FastPathsTest, ComparisonsMatchTheComparisonAction) {
    std::vector<Cell> values = {integer::cell(3),    integer::cell(-7),        float_::cell(3.0),
                                hold(eval_text("\"a\"")), none::cell(),       logic::cell(true),
                                float_::cell(3.0000000000000004), float_::cell(-7.5), float_::cell(float_::POS_INF),
                                float_::cell(float_::NEG_INF), float_::cell(float_::QUIET_NAN), float_::cell(-0.0),
                                integer::cell(0)};
    const int32_t ops[] = {COMP_EQUAL,   COMP_NOT_EQUAL,    COMP_STRICT_EQUAL, COMP_LESSER,
                           COMP_LESSER_EQUAL, COMP_GREATER, COMP_GREATER_EQUAL, COMP_SAME};
    for (int32_t op : ops)
        for (const Cell& a : values)
            for (const Cell& b : values) {
                // compare-to-logic under a frame of its own is the reference.
                std::string expected = outcome([&] {
                    stack::mark_native(nullptr);
                    stack::push(a);
                    stack::push(b);
                    actions::compare_to_logic(op);
                    stack::unwind();
                });
                std::string where = std::to_string(op) + ": " + mold_text(a) + " " + mold_text(b);
                EXPECT_EQ(outcome([&] { actions::compare_op_fast(nullptr, op, &a, &b); }), expected) << where;
                EXPECT_EQ(outcome([&] {
                              stack::push(a);
                              actions::compare_op_top_fast(nullptr, op, &b);
                          }),
                          expected)
                    << where;
                for (bool negate : {false, true}) {
                    EXPECT_EQ(outcome([&] {
                                  bool c = actions::compare_op_cond(nullptr, op, &a, &b, negate);
                                  stack::push(logic::cell(c != negate));
                              }),
                              expected)
                        << where;
                }
                EXPECT_EQ(outcome([&] {
                              Cell* slot = stack::push(none::cell());
                              stack::mark_native(nullptr);
                              bool c = actions::compare_op_last_fast(nullptr, op, &a, &b);
                              Cell written = *stack::arg_base;
                              stack::unwind();
                              stack::top = slot + 1;
                              EXPECT_EQ(written.type(), uint32_t(TYPE_LOGIC));
                              EXPECT_EQ(written.w1 != 0, c);
                              *slot = written;
                          }),
                          expected)
                    << where;
                if (b.type() == TYPE_INTEGER) {
                    int32_t i = int32_t(b.w2);
                    EXPECT_EQ(outcome([&] { actions::compare_op_int_fast(nullptr, op, &a, i); }), expected) << where;
                    EXPECT_EQ(outcome([&] {
                                  stack::push(a);
                                  actions::compare_op_top_int_fast(nullptr, op, i);
                              }),
                              expected)
                        << where;
                    EXPECT_EQ(outcome([&] {
                                  stack::push(logic::cell(actions::compare_op_int_cond(nullptr, op, &a, i, false)));
                              }),
                              expected)
                        << where;
                }
            }
    Cell three = integer::cell(3), text = hold(eval_text("\"a\""));
    EXPECT_EQ(outcome([&] { actions::compare_op_fast(nullptr, COMP_LESSER, &three, &text); }),
              "error *** Script Error: cannot compare 3 with \"a\"");
    EXPECT_EQ(outcome([&] { actions::compare_op_fast(nullptr, COMP_EQUAL, &three, &text); }), "false");
}

TEST_F(FastPathsTest, BlockPicksAndStepsMatchTheActions) {
    Cell blk = hold(eval_text("next [1 2 3 4]"));
    Cell at_tail = blk;
    at_tail.w1 = 4;
    Cell at_head = blk;
    at_head.w1 = 0;
    Cell text = hold(eval_text("next \"abc\""));
    for (const Cell& s : {blk, at_tail, at_head, text}) {
        for (int32_t i : {-2, -1, 0, 1, 2, 3, 4, 9}) {
            Cell index = integer::cell(i);
            std::string expected = outcome([&] {
                Cell* at = stack::push(s);
                Cell* el = stack::push(index);
                Cell* v = actions::eval_path(at, el, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false).cell;
                Cell r = v ? *v : none::cell();
                stack::top = at;
                stack::push(r);
            });
            EXPECT_EQ(outcome([&] { actions::pick_fast(nullptr, &s, i); }), expected) << mold_text(s) << " " << i;
        }
        for (uint32_t op = 1; op <= 8; ++op) {
            static constexpr uint32_t slots[] = {0,        ACT_LENGTH_Q, ACT_INDEX_Q, ACT_HEAD_Q, ACT_TAIL_Q,
                                                 ACT_NEXT, ACT_BACK,     ACT_HEAD,    ACT_TAIL};
            ASSERT_EQ(actions::series_op_of_action(slots[op]), op);
            std::string expected = via_action(slots[op], s, nullptr);
            EXPECT_EQ(outcome([&] { EXPECT_EQ(actions::series_op_fast(nullptr, op, &s), UNWIND_NONE); }), expected)
                << op << " " << mold_text(s);
            // The positions too (a mold shows only the values): next at the
            // tail stays there, back at the head stays there.
            Cell r;
            if (actions::series_op_inline(op, &s, &r) && (op == actions::SO_NEXT || op == actions::SO_BACK)) {
                Cell* slot = stack::push(s);
                int32_t refs[4] = {-1, -1, -1, -1};
                stack::mark_native(nullptr);
                stack::push(s);
                EXPECT_EQ(actions::generic_table[slots[op]](refs), UNWIND_NONE);
                stack::unwind();
                EXPECT_EQ(r.w1, slot[1].w1) << op << " " << mold_text(s);
                stack::top = slot;
            }
        }
    }
}

}  // namespace
}  // namespace kiv::test
