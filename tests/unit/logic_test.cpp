// unset!, none! and logic!: actions, constants and the truth tests.
#include "datatypes/logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "datatypes/none.h"
#include "datatypes/unset.h"
#include "runtime/random.h"
#include "test_support.h"

using namespace kiv;
using test::expect_error;
using test::float_cell;
using test::form_text;
using test::int_cell;
using test::mold_text;
using test::run_action;
using test::type_cell;

namespace {

class LogicTest : public test::RuntimeTest {};

Cell T() {
    return logic::cell(true);
}
Cell F() {
    return logic::cell(false);
}

TEST_F(LogicTest, ConstantsAreSetByTheRegistrations) {
    EXPECT_EQ(unset_value.type(), uint32_t(TYPE_UNSET));
    EXPECT_EQ(none_value.type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(true_value.type(), uint32_t(TYPE_LOGIC));
    EXPECT_EQ(true_value.w1, 1u);
    EXPECT_EQ(false_value.type(), uint32_t(TYPE_LOGIC));
    EXPECT_EQ(false_value.w1, 0u);
}

TEST_F(LogicTest, MoldAndForm) {
    struct Case {
        Cell value;
        const char* formed;
        const char* molded;
        const char* molded_all;
    };
    const Case cases[] = {
        {T(), "true", "true", "#(true)"},
        {F(), "false", "false", "#(false)"},
        {none::cell(), "none", "none", "#(none)"},
        {unset::cell(), "", "unset", "#(unset)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form_text(c.value), c.formed);
        EXPECT_EQ(mold_text(c.value), c.molded);
        EXPECT_EQ(mold_text(c.value, false, true), c.molded_all);
    }
}

TEST_F(LogicTest, BudgetsLeftByFormAndMold) {
    struct Case {
        Cell value;
        bool mold, all;
        int32_t left;
    };
    const Case cases[] = {
        {T(), false, false, 96},
        {F(), false, false, 95},
        {T(), true, true, 93},
        {F(), true, true, 92},
        {none::cell(), false, false, 96},
        {none::cell(), true, true, 93},
        {unset::cell(), false, false, 100},
        {unset::cell(), true, false, 95},
        {unset::cell(), true, true, 92},
    };
    for (const Case& c : cases) {
        Cell out;
        string::make_at(&out, 0);
        Cell v = c.value;
        int32_t left = c.mold ? actions::mold(&v, &out, false, c.all, false, nullptr, 100, 0)
                              : actions::form(&v, &out, nullptr, 100);
        EXPECT_EQ(left, c.left) << test::string_text(out);
    }
}

TEST_F(LogicTest, MakeLogic) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Cell percent_zero = float_cell(0.0);
    percent_zero.set_type(TYPE_PERCENT);
    struct Case {
        Cell spec;
        bool expected;
    };
    const Case cases[] = {
        {int_cell(0), false},
        {int_cell(2), true},
        {int_cell(-1), true},
        {float_cell(0.0), false},
        {float_cell(-0.0), false},
        {float_cell(0.5), true},
        {float_cell(nan), true},
        {percent_zero, false},
        {none::cell(), false},
        {T(), true},
        {F(), false},
        {type_cell(TYPE_NONE), true},
    };
    for (const Case& c : cases) {
        Cell r = run_action(ACT_MAKE, {type_cell(TYPE_LOGIC), c.spec});
        EXPECT_EQ(r.type(), uint32_t(TYPE_LOGIC));
        EXPECT_EQ(logic::get(&r), c.expected) << c.spec.type();
    }
}

TEST_F(LogicTest, ToLogic) {
    struct Case {
        Cell spec;
        bool expected;
    };
    const Case cases[] = {
        {none::cell(), false}, {int_cell(0), true}, {float_cell(0.0), true},
        {F(), false},          {T(), true},         {unset::cell(), true},
    };
    for (const Case& c : cases) {
        Cell r = run_action(ACT_TO, {type_cell(TYPE_LOGIC), c.spec});
        EXPECT_EQ(r.type(), uint32_t(TYPE_LOGIC));
        EXPECT_EQ(logic::get(&r), c.expected);
    }
}

TEST_F(LogicTest, MakeAndToOfUnsetAndNone) {
    for (uint32_t slot : {uint32_t(ACT_MAKE), uint32_t(ACT_TO)}) {
        EXPECT_EQ(run_action(slot, {type_cell(TYPE_NONE), int_cell(1)}).type(), uint32_t(TYPE_NONE));
        EXPECT_EQ(run_action(slot, {type_cell(TYPE_UNSET), int_cell(1)}).type(), uint32_t(TYPE_UNSET));
    }
}

TEST_F(LogicTest, BitwiseActions) {
    struct Case {
        uint32_t slot;
        bool a, b, expected;
    };
    const Case cases[] = {
        {ACT_AND_T, true, true, true},   {ACT_AND_T, true, false, false}, {ACT_AND_T, false, false, false},
        {ACT_OR_T, false, false, false}, {ACT_OR_T, true, false, true},   {ACT_OR_T, false, true, true},
        {ACT_XOR_T, true, true, false},  {ACT_XOR_T, true, false, true},  {ACT_XOR_T, false, false, false},
    };
    for (const Case& c : cases) {
        Cell r = run_action(c.slot, {logic::cell(c.a), logic::cell(c.b)});
        EXPECT_EQ(r.type(), uint32_t(TYPE_LOGIC));
        EXPECT_EQ(logic::get(&r), c.expected) << c.slot << " " << c.a << " " << c.b;
    }
}

TEST_F(LogicTest, BitwiseNeedsALogicSecondOperand) {
    for (uint32_t slot : {uint32_t(ACT_AND_T), uint32_t(ACT_OR_T), uint32_t(ACT_XOR_T)}) {
        RaisedError e = expect_error([&] { run_action(slot, {T(), int_cell(1)}); }, "script", "expect-arg");
        ASSERT_EQ(e.arg_count, 3);
        EXPECT_EQ(e.args[1].type(), uint32_t(TYPE_DATATYPE));
        EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_INTEGER));
    }
}

Cell random_of(Cell v, bool seed = false, bool secure = false) {
    return run_action(ACT_RANDOM, {v}, {seed ? 0 : -1, secure ? 0 : -1, -1});
}

TEST_F(LogicTest, RandomSplitsTheGeneratorsRangeInHalves) {
    for (uint32_t payload : {0u, 1u}) {
        // /seed takes the payload.
        EXPECT_EQ(random_of(logic::cell(payload != 0), true).type(), uint32_t(TYPE_UNSET));
        std::vector<bool> drawn, expected;
        for (int i = 0; i < 200; ++i) {
            Cell r = random_of(F());
            ASSERT_EQ(r.type(), uint32_t(TYPE_LOGIC));
            drawn.push_back(logic::get(&r));
        }
        random::seed(payload);
        for (int i = 0; i < 200; ++i) expected.push_back(random::next() > 0x3FFFFFFFu);
        EXPECT_EQ(drawn, expected) << payload;
        EXPECT_NE(std::count(drawn.begin(), drawn.end(), true), 0);
        EXPECT_NE(std::count(drawn.begin(), drawn.end(), false), 0);
        // Seeding with 0 makes the first output 0 itself: false.
        if (payload == 0) {
            EXPECT_FALSE(drawn.front());
        }
    }
    int trues = 0;
    for (int i = 0; i < 200; ++i) {
        Cell r = random_of(T(), false, true);
        ASSERT_EQ(r.type(), uint32_t(TYPE_LOGIC));
        trues += logic::get(&r) ? 1 : 0;
    }
    EXPECT_GT(trues, 0);  // 200 secure draws: one outcome missing has odds 2^-199
    EXPECT_LT(trues, 200);
}

TEST_F(LogicTest, Complement) {
    Cell r = run_action(ACT_COMPLEMENT, {T()});
    EXPECT_FALSE(logic::get(&r));
    r = run_action(ACT_COMPLEMENT, {F()});
    EXPECT_TRUE(logic::get(&r));
    EXPECT_EQ(r.type(), uint32_t(TYPE_LOGIC));
}

TEST_F(LogicTest, Comparisons) {
    struct Case {
        Cell a, b;
        int32_t op;
        bool expected;
    };
    const Case cases[] = {
        {T(), T(), COMP_EQUAL, true},
        {T(), F(), COMP_EQUAL, false},
        {T(), F(), COMP_NOT_EQUAL, true},
        {F(), F(), COMP_STRICT_EQUAL, true},
        {T(), T(), COMP_SAME, true},
        {T(), int_cell(1), COMP_EQUAL, false},
        {T(), int_cell(1), COMP_NOT_EQUAL, true},
        {none::cell(), none::cell(), COMP_EQUAL, true},
        {none::cell(), none::cell(), COMP_STRICT_EQUAL, true},
        {none::cell(), F(), COMP_EQUAL, false},
        {unset::cell(), unset::cell(), COMP_EQUAL, true},
        {unset::cell(), none::cell(), COMP_EQUAL, false},
        {unset::cell(), none::cell(), COMP_NOT_EQUAL, true},
    };
    for (const Case& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(actions::compare(&a, &b, c.op), c.expected)
            << a.type() << " " << b.type() << " op " << c.op;
    }
}

TEST_F(LogicTest, OrderingsOfTheSmallTypesRaiseInvalidCompare) {
    struct Case {
        Cell a, b;
    };
    const Case cases[] = {{T(), F()}, {none::cell(), none::cell()}, {unset::cell(), unset::cell()}};
    for (const Case& c : cases) {
        for (int32_t op : {COMP_LESSER, COMP_LESSER_EQUAL, COMP_GREATER, COMP_GREATER_EQUAL}) {
            Cell a = c.a, b = c.b;
            expect_error([&] { actions::compare(&a, &b, op); }, "script", "invalid-compare");
        }
    }
}

TEST_F(LogicTest, SortingPutsFalseBeforeTrue) {
    Cell t = T(), f = F(), n1 = none::cell(), n2 = none::cell();
    EXPECT_LT(actions::compare_value(&f, &t, COMP_SORT), 0);
    EXPECT_GT(actions::compare_value(&t, &f, COMP_SORT), 0);
    EXPECT_EQ(actions::compare_value(&t, &t, COMP_CASE_SORT), 0);
    EXPECT_EQ(actions::compare_value(&n1, &n2, COMP_SORT), 0);
    // The type's own compare agrees with the ordering routine.
    EXPECT_LT(logic::compare(&f, &t, COMP_SORT), 0);
}

TEST_F(LogicTest, NoneAnswersNoneToSeriesActions) {
    EXPECT_EQ(run_action(ACT_LENGTH_Q, {none::cell()}).type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(run_action(ACT_FIND, {none::cell(), int_cell(1)}).type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(run_action(ACT_SELECT, {none::cell(), int_cell(1)}).type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(run_action(ACT_TAKE, {none::cell()}).type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(run_action(ACT_CLEAR, {none::cell()}).type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(run_action(ACT_REMOVE, {none::cell()}).type(), uint32_t(TYPE_NONE));
    // Everything else is not an action of none!.
    expect_error([] { run_action(ACT_APPEND, {none::cell(), int_cell(1)}); }, "script", "expect-arg");
    expect_error([] { run_action(ACT_LENGTH_Q, {unset::cell()}); }, "script", "expect-arg");
}

// ---- Truth tests --------------------------------------------------------------------------

TEST_F(LogicTest, TruthRule) {
    struct Case {
        Cell v;
        bool truthy;
    };
    const Case cases[] = {
        {T(), true},
        {F(), false},
        {none::cell(), false},
        {int_cell(0), true},
        {float_cell(0.0), true},
        {type_cell(TYPE_NONE), true},
        {Cell{TYPE_BLOCK, 0, 0, 0}, true},
    };
    for (const Case& c : cases) {
        stack::push(c.v);
        EXPECT_EQ(logic::true_q(), c.truthy);
        EXPECT_EQ(logic::false_q(), !c.truthy);
        EXPECT_EQ(logic::top_false_q(), !c.truthy);
        EXPECT_EQ(logic::top_true_q(), c.truthy);
        EXPECT_EQ(logic::check_true_q(&c.v, true, nullptr), c.truthy);
        stack::reset_all();
    }
}

TEST_F(LogicTest, UnsetInTheTruthTests) {
    stack::push(unset::cell());
    expect_error([] { logic::true_q(); }, "script", "no-return");
    EXPECT_FALSE(logic::false_q());  // no error, unset counts as true
    EXPECT_FALSE(logic::top_false_q());
    Cell u = unset::cell();
    Cell w{TYPE_WORD, 0, 42, 0};
    RaisedError e = expect_error([&] { logic::check_true_q(&u, true, &w); }, "script", "no-value");
    ASSERT_EQ(e.arg_count, 1);
    EXPECT_EQ(e.args[0].w2, 42u);
    EXPECT_TRUE(logic::check_true_q(&u, false, &w));
}

TEST_F(LogicTest, TopTestsReadTheTopmostValue) {
    stack::push(T());
    stack::push(none::cell());
    EXPECT_TRUE(logic::top_false_q());
    EXPECT_FALSE(logic::false_q());  // the result slot still holds true
    // Nothing above the argument base: the base itself is tested.
    stack::reset_all();
    stack::push(F());
    stack::mark_native(nullptr);
    *stack::arg_base = none::cell();
    EXPECT_TRUE(logic::top_false_q());
    *stack::arg_base = int_cell(1);
    EXPECT_TRUE(logic::top_true_q());
}

// ---- Helper families ----------------------------------------------------------------------

TEST_F(LogicTest, HelperFamiliesWriteTheirCells) {
    stack::push(int_cell(5));
    EXPECT_EQ(unset::push_last(), stack::arg_base);
    EXPECT_EQ(stack::arg_base->type(), uint32_t(TYPE_UNSET));
    EXPECT_EQ(none::push_last()->type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(logic::box(true)->w1, 1u);
    EXPECT_EQ(stack::top - stack::bottom, 1);
    Cell* u = unset::push();
    Cell* n = none::push();
    Cell* l = logic::push(false);
    Cell* d = datatype::push(TYPE_MAP);
    EXPECT_EQ(u->type(), uint32_t(TYPE_UNSET));
    EXPECT_EQ(n->type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(l->type(), uint32_t(TYPE_LOGIC));
    EXPECT_EQ(l->w1, 0u);
    EXPECT_EQ(d->type(), uint32_t(TYPE_DATATYPE));
    EXPECT_EQ(d->w1, uint32_t(TYPE_MAP));
    EXPECT_EQ(stack::top - stack::bottom, 5);
}

TEST_F(LogicTest, MakeInAppendsToABlock) {
    Off node = memory::alloc_cells(4);
    Cell block{TYPE_BLOCK, 0, node, 0};
    unset::make_in(&block);
    none::make_in(&block);
    logic::make_in(&block, true);
    datatype::make_in(&block, TYPE_LOGIC);
    ASSERT_EQ(series::count(node), 4u);
    Cell* c = buffer_of(node)->head_cell();
    EXPECT_EQ(c[0].type(), uint32_t(TYPE_UNSET));
    EXPECT_EQ(c[1].type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(c[2].type(), uint32_t(TYPE_LOGIC));
    EXPECT_EQ(c[2].w1, 1u);
    EXPECT_EQ(c[3].type(), uint32_t(TYPE_DATATYPE));
    EXPECT_EQ(c[3].w1, uint32_t(TYPE_LOGIC));
}

}  // namespace
