// float! and percent!: form modes with and without pretty-printing, shortest
// mold, math and its result datatypes, the 10-ULP equality, round with every
// refinement and scale, conversions and random, through the generic actions.
#include "datatypes/float.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "datatypes/integer.h"
#include "runtime/random.h"
#include "test_support.h"

using namespace kiv;
using namespace kiv::test;

namespace {

class FloatTest : public RuntimeTest {
  protected:
    void TearDown() override {
        float_::pretty_print = true;
        RuntimeTest::TearDown();
    }
};

const double INF = float_::POS_INF;
const double NaN = float_::QUIET_NAN;

Cell none_cell() {
    return Cell{TYPE_NONE, 0, 0, 0};
}
Cell pct_cell(double d) {
    return percent::cell(d);
}
Cell time_cell(double seconds) {
    Cell c{TYPE_TIME, 0, 0, 0};
    c.set_f64(seconds);
    return c;
}
// The value makers build on the data stack and keep what they return with
// hold(): appending may allocate, and so collect.
Cell text_cell(const char* text) {
    Cell* s = string::make_at(stack::push(none_cell()), 0);
    string::concatenate_literal(s, text);
    Cell v = *s;
    stack::pop(1);
    return hold(v);
}
Cell binary_cell(std::initializer_list<uint8_t> bytes) {
    Cell* c = stack::push(Cell{TYPE_BINARY, 0, memory::alloc_bytes(uint32_t(bytes.size())), 0});
    for (uint8_t b : bytes) series::append_byte(buffer_of(c->w2), b);
    Cell v = *c;
    stack::pop(1);
    return hold(v);
}
Cell block_cell(std::initializer_list<Cell> values) {
    Cell* blk = stack::push(Cell{TYPE_BLOCK, 0, memory::alloc_cells(uint32_t(values.size())), 0});
    for (const Cell& v : values) {
        Cell* tail = block_alloc_tail(blk);
        *tail = v;
    }
    Cell v = *blk;
    stack::pop(1);
    return hold(v);
}
// The double `steps` units of least precision above (or below) v.
double ulps(double v, int steps) {
    for (int i = 0; i < std::abs(steps); ++i) v = std::nextafter(v, steps > 0 ? INF : -INF);
    return v;
}

std::string typed(const Cell& c) {
    return std::string(datatype::names[c.type()].name) + " " + mold_text(c);
}

template <class F>
std::string outcome(F f) {
    try {
        return typed(f());
    } catch (const RaisedError& e) {
        return e.category + "/" + e.id;
    }
}

std::string math(uint32_t slot, Cell a, Cell b) {
    return outcome([&] { return run_action(slot, {a, b}); });
}

// e /even, d /down, h /half-down, f /floor, c /ceiling, C /half-ceiling.
std::string rounded(Cell v, const Cell* scale, const std::string& flags = "") {
    auto on = [&](char f) { return flags.find(f) != std::string::npos ? 0 : -1; };
    return outcome([&] {
        if (scale)
            return run_action(ACT_ROUND, {v, *scale},
                              {1, on('e'), on('d'), on('h'), on('f'), on('c'), on('C')});
        return run_action(ACT_ROUND, {v}, {-1, on('e'), on('d'), on('h'), on('f'), on('c'), on('C')});
    });
}

std::string converted(uint32_t slot, uint32_t target, Cell spec) {
    return outcome([&] { return run_action(slot, {type_cell(target), spec}); });
}

// ---- Text ----------------------------------------------------------------------------

TEST_F(FloatTest, FormAndMold) {
    struct Case {
        double v;
        const char* pretty_form;
        const char* plain_form;
        const char* mold;
    } cases[] = {
        {0.1, "0.1", "0.1", "0.1"},
        {0.1 + 0.2, "0.3", "0.3", "0.30000000000000004"},
        {0.7 + 0.1, "0.8", "0.7999999999999999", "0.7999999999999999"},
        {1e23, "1.0e23", "9.999999999999999e22", "1.0e23"},
        {1.0, "1.0", "1.0", "1.0"},
        {3.0, "3.0", "3.0", "3.0"},
        {100.0, "100.0", "100.0", "100.0"},
        {-0.0, "0.0", "-0.0", "-0.0"},
        {0.0, "0.0", "0.0", "0.0"},
        {INF, "1.#INF", "1.#INF", "1.#INF"},
        {-INF, "-1.#INF", "-1.#INF", "-1.#INF"},
        {NaN, "1.#NaN", "1.#NaN", "1.#NaN"},
        {1e20, "1.0e20", "1.0e20", "1.0e20"},
        {1e-5, "1.0e-5", "1.0e-5", "0.00001"},
        {1e-7, "1.0e-7", "1.0e-7", "0.0000001"},
        {1e-17, "0.0", "1.0e-17", "1.0e-17"},
        {-1e-17, "0.0", "-1.0e-17", "-1.0e-17"},
        {1e16, "1.0e16", "1.0e16", "10000000000000000.0"},
        {1e15, "1000000000000000.0", "1000000000000000.0", "1000000000000000.0"},
        {1e17, "1.0e17", "1.0e17", "1.0e17"},
        {123.456, "123.456", "123.456", "123.456"},
        {-2.5e-10, "-2.5e-10", "-2.5e-10", "-2.5e-10"},
        {2.0 / 3.0, "0.6666666666666666", "0.6666666666666666", "0.6666666666666666"},
        {DBL_MAX, "1.797693134862316e308", "1.797693134862316e308", "1.7976931348623157e308"},
        {5e-324, "0.0", "4.940656458412465e-324", "5.0e-324"},
        // noisy with an exponent: printed again with 14 digits
        {1.234567890123499e-10, "1.2345678901235e-10", "1.234567890123499e-10", "1.234567890123499e-10"},
        // long but not noisy: kept
        {0.1234567890123456, "0.1234567890123456", "0.1234567890123456", "0.1234567890123456"},
        {1234567.123456789, "1234567.123456789", "1234567.123456789", "1234567.123456789"},
    };
    for (const Case& c : cases) {
        float_::pretty_print = true;
        EXPECT_EQ(form_text(float_cell(c.v)), c.pretty_form) << c.mold;
        EXPECT_EQ(mold_text(float_cell(c.v)), c.mold);
        float_::pretty_print = false;
        EXPECT_EQ(form_text(float_cell(c.v)), c.plain_form) << c.mold;
        EXPECT_EQ(mold_text(float_cell(c.v)), c.mold);
    }
}

TEST_F(FloatTest, PercentText) {
    struct Case {
        double v;
        const char* pretty;
        const char* plain;
    } cases[] = {
        {0.1, "10%", "10%"},
        {0.005, "0.5%", "0.5%"},
        {0.5, "50%", "50%"},
        {0.001, "0.1%", "0.1%"},
        {0.12345, "12.345%", "12.345%"},
        {1.0, "100%", "100%"},
        {-0.05, "-5%", "-5%"},
        {0.0, "0%", "0%"},
        {1.0 / 3.0, "33.33333333333%", "33.33333333333%"},
        {1e-19, "0%", "1e-17%"},
        {1e20, "1e22%", "1e22%"},
        {INF, "1.#INF", "1.#INF"},
        {NaN, "1.#NaN", "1.#NaN"},
    };
    for (const Case& c : cases) {
        float_::pretty_print = true;
        EXPECT_EQ(form_text(pct_cell(c.v)), c.pretty) << c.v;
        EXPECT_EQ(mold_text(pct_cell(c.v)), c.pretty) << c.v;
        float_::pretty_print = false;
        EXPECT_EQ(mold_text(pct_cell(c.v)), c.plain) << c.v;
    }
}

TEST_F(FloatTest, FormModes) {
    struct Case {
        double v;
        int mode;
        const char* pretty;
        const char* plain;
    } cases[] = {
        {0.1f, float_::MODE_FLOAT32, "0.1", "0.1"},
        {3.0, float_::MODE_FLOAT32, "3.0", "3.0"},
        {1e20, float_::MODE_FLOAT32, "1.0e20", "1.0e20"},
        {1e-20, float_::MODE_FLOAT32, "0.0", "1.0e-20"},
        {50.0, float_::MODE_PERCENT32, "50%", "50%"},
        {1e-20, float_::MODE_PERCENT32, "0%", "1e-20%"},
        {5.5, float_::MODE_TIME, "5.5", "5.5"},
        {5.0, float_::MODE_TIME, "5", "5"},
        {1.0 / 3.0, float_::MODE_TIME, "0.333333", "0.333333"},
        {1e-20, float_::MODE_TIME, "0.0", "1e-20"},
        {2.5, float_::MODE_POINT, "2.5", "2.5"},
        {3.0, float_::MODE_POINT, "3", "3"},
        {1e-20, float_::MODE_POINT, "0", "1e-20"},
        {1e-5, float_::MODE_POINT, "1e-5", "1e-5"},
        {-INF, float_::MODE_POINT, "-1.#INF", "-1.#INF"},
    };
    for (const Case& c : cases) {
        float_::pretty_print = true;
        EXPECT_STREQ(float_::form_float(c.v, c.mode), c.pretty) << c.v << " mode " << c.mode;
        float_::pretty_print = false;
        EXPECT_STREQ(float_::form_float(c.v, c.mode), c.plain) << c.v << " mode " << c.mode;
    }
}

TEST_F(FloatTest, FormRespectsPart) {
    EXPECT_EQ(form_text(float_cell(123.456), 4), "123.");
    EXPECT_EQ(mold_text(pct_cell(0.5), false, false, false, 2), "50");
}

// ---- Equality and ordering -----------------------------------------------------------

TEST_F(FloatTest, TenUlpEquality) {
    const double bases[] = {1.0, -1.0, 1e6, -1e6, 123.456, 1e300, 2.0};
    for (double b : bases) {
        for (int steps : {1, 10, -10}) {
            Cell x = float_cell(b), y = float_cell(ulps(b, steps));
            EXPECT_TRUE(actions::compare(&x, &y, COMP_EQUAL)) << b << " and " << steps << " ulps";
            EXPECT_FALSE(actions::compare(&x, &y, COMP_STRICT_EQUAL)) << b;
        }
        for (int steps : {11, -11, 100}) {
            Cell x = float_cell(b), y = float_cell(ulps(b, steps));
            EXPECT_FALSE(actions::compare(&x, &y, COMP_EQUAL)) << b << " and " << steps << " ulps";
            EXPECT_TRUE(actions::compare(&x, &y, COMP_NOT_EQUAL)) << b;
        }
    }
    // Below the machine epsilon apart: equal whatever the units.
    EXPECT_TRUE(float_::almost_equal64_q(1e-300, -1e-300));
    EXPECT_TRUE(float_::almost_equal64_q(0.0, 1e-17));
    EXPECT_FALSE(float_::almost_equal64_q(0.0, 1e-15));
}

TEST_F(FloatTest, CompareTable) {
    struct Case {
        Cell a, b;
        int32_t op;
        bool expected;
    } cases[] = {
        {float_cell(0.1 + 0.2), float_cell(0.3), COMP_EQUAL, true},
        {float_cell(0.1 + 0.2), float_cell(0.3), COMP_STRICT_EQUAL, false},
        {float_cell(0.1 + 0.2), float_cell(0.3), COMP_FIND, false},
        {float_cell(1.0), float_cell(INF), COMP_LESSER, false},
        {float_cell(1.0), float_cell(INF), COMP_GREATER, false},
        {float_cell(INF), float_cell(INF), COMP_EQUAL, false},
        {float_cell(INF), float_cell(INF), COMP_STRICT_EQUAL, true},
        {float_cell(INF), float_cell(INF), COMP_LESSER_EQUAL, false},
        {float_cell(NaN), float_cell(NaN), COMP_EQUAL, false},
        {float_cell(NaN), float_cell(NaN), COMP_STRICT_EQUAL, false},
        {float_cell(NaN), float_cell(NaN), COMP_SAME, true},
        {float_cell(NaN), float_cell(1.0), COMP_GREATER_EQUAL, false},
        {float_cell(-0.0), float_cell(0.0), COMP_EQUAL, true},
        {float_cell(-0.0), float_cell(0.0), COMP_STRICT_EQUAL, true},
        {float_cell(-0.0), float_cell(0.0), COMP_SAME, false},
        {float_cell(1.0), int_cell(1), COMP_EQUAL, true},
        {float_cell(1.0), int_cell(1), COMP_STRICT_EQUAL, false},
        {float_cell(1.5), int_cell(2), COMP_LESSER, true},
        {pct_cell(0.5), float_cell(0.5), COMP_EQUAL, true},
        {pct_cell(0.5), float_cell(0.5), COMP_STRICT_EQUAL, false},
        {pct_cell(0.5), pct_cell(0.5), COMP_STRICT_EQUAL, true},
        {pct_cell(0.5), pct_cell(0.25), COMP_GREATER, true},
        {float_cell(60.0), time_cell(60.0), COMP_EQUAL, true},
        {float_cell(97.0), char_cell('a'), COMP_EQUAL, false},
        {float_cell(1.0), text_cell("1"), COMP_EQUAL, false},
    };
    for (Case& c : cases)
        EXPECT_EQ(actions::compare(&c.a, &c.b, c.op), c.expected)
            << typed(c.a) << " op " << c.op << " " << typed(c.b);
    Cell a = float_cell(1.0), s = text_cell("x");
    expect_error([&] { actions::compare(&a, &s, COMP_LESSER); }, "script", "invalid-compare");
}

TEST_F(FloatTest, SingleTolerance) {
    auto fulps = [](float v, int n) {
        for (int i = 0; i < n; ++i) v = std::nextafter(v, 2 * v);
        return v;
    };
    EXPECT_TRUE(float_::almost_equal_q(1.0f, fulps(1.0f, 10)));
    EXPECT_FALSE(float_::almost_equal_q(1.0f, fulps(1.0f, 11)));
    EXPECT_TRUE(float_::almost_equal_q(-1.0f, fulps(-1.0f, 10)));
    EXPECT_TRUE(float_::almost_equal_q(FLT_MAX, std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(float_::almost_equal_q(FLT_MAX, -std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(float_::almost_equal_q(std::nanf(""), std::nanf("")));
    EXPECT_TRUE(float_::almost_equal_q(-0.0f, 0.0f));
    EXPECT_TRUE(float_::almost_equal_q(1e-45f, -1e-45f));  // two units apart across zero
}

// ---- Math ------------------------------------------------------------------------------

TEST_F(FloatTest, MathAndResultTypes) {
    struct Case {
        uint32_t slot;
        Cell a, b;
        const char* expected;
    } cases[] = {
        {ACT_DIVIDE, float_cell(1.0), int_cell(0), "float! 1.#INF"},
        {ACT_DIVIDE, float_cell(0.0), int_cell(0), "float! 1.#NaN"},
        {ACT_DIVIDE, float_cell(-1.0), int_cell(0), "float! -1.#INF"},
        {ACT_ADD, float_cell(0.1), float_cell(0.2), "float! 0.30000000000000004"},
        {ACT_MULTIPLY, float_cell(10.0), pct_cell(0.5), "float! 5.0"},
        {ACT_MULTIPLY, pct_cell(0.5), int_cell(10), "percent! 500%"},
        {ACT_ADD, pct_cell(0.5), int_cell(1), "percent! 150%"},
        {ACT_ADD, pct_cell(0.5), pct_cell(0.25), "percent! 75%"},
        {ACT_SUBTRACT, float_cell(1.0), char_cell('a'), "float! -96.0"},
        {ACT_REMAINDER, float_cell(7.5), int_cell(2), "float! 1.5"},
        {ACT_REMAINDER, float_cell(-7.5), int_cell(2), "float! -1.5"},
        {ACT_REMAINDER, float_cell(5.0), float_cell(INF), "float! 1.#NaN"},
        {ACT_REMAINDER, float_cell(5.0), float_cell(0.0), "float! 1.#NaN"},
        {ACT_ADD, float_cell(DBL_MAX), float_cell(DBL_MAX), "float! 1.#INF"},
        {ACT_ADD, float_cell(1.5), time_cell(10.0), "time! 11.5"},
        {ACT_ADD, int_cell(2), time_cell(10.0), "time! 12.0"},
        {ACT_MULTIPLY, float_cell(2.0), time_cell(3.0), "time! 6.0"},
        {ACT_ADD, pct_cell(0.5), char_cell('a'), "script/invalid-type"},
        {ACT_ADD, float_cell(1.0), text_cell("1"), "script/invalid-type"},
        {ACT_ADD, float_cell(1.0), none_cell(), "script/invalid-type"},
    };
    for (const Case& c : cases) {
        std::string got = math(c.slot, c.a, c.b);
        if (std::string(c.expected).rfind("time!", 0) == 0) {
            // time! has no text of its own here: check the type and seconds.
            Cell r = run_action(c.slot, {c.a, c.b});
            EXPECT_EQ(r.type(), uint32_t(TYPE_TIME)) << c.expected;
            EXPECT_EQ(std::string("time! ") + float_::form_float(r.get_f64(), float_::MODE_FLOAT),
                      c.expected);
        } else {
            EXPECT_EQ(got, c.expected) << typed(c.a) << " slot " << c.slot;
        }
    }
    expect_error([] { float_::do_math_op(1.0, 2.0, OP_OR); }, "script", "cannot-use");
    // float! has no bitwise actions at all.
    EXPECT_EQ(math(ACT_AND_T, float_cell(1.0), float_cell(2.0)), "script/expect-arg");
}

TEST_F(FloatTest, TimeLeftOperand) {
    // time! registers its own actions later; its math runs this worker.
    stack::mark_native(nullptr);
    stack::push(time_cell(10.0));
    stack::push(float_cell(1.5));
    Cell* r = float_::do_math(OP_ADD);
    EXPECT_EQ(r->type(), uint32_t(TYPE_TIME));
    EXPECT_EQ(r->get_f64(), 11.5);
    stack::reset_all();
    stack::mark_native(nullptr);
    stack::push(time_cell(10.0));
    stack::push(char_cell('a'));
    expect_error([] { float_::do_math(OP_ADD); }, "script", "invalid-type");
}

TEST_F(FloatTest, SingleOperandActions) {
    struct Case {
        uint32_t slot;
        Cell v;
        const char* expected;
    } cases[] = {
        {ACT_NEGATE, float_cell(1.5), "float! -1.5"},   {ACT_NEGATE, float_cell(0.0), "float! 0.0"},
        {ACT_NEGATE, pct_cell(0.25), "percent! -25%"},  {ACT_ABSOLUTE, float_cell(-1.5), "float! 1.5"},
        {ACT_ABSOLUTE, float_cell(-0.0), "float! 0.0"}, {ACT_ABSOLUTE, float_cell(-INF), "float! 1.#INF"},
        {ACT_ABSOLUTE, pct_cell(-0.5), "percent! 50%"}, {ACT_EVEN_Q, float_cell(2.5), "logic! true"},
        {ACT_ODD_Q, float_cell(3.9), "logic! true"},    {ACT_ODD_Q, float_cell(-3.2), "logic! true"},
        {ACT_EVEN_Q, float_cell(-0.5), "logic! true"},  {ACT_ODD_Q, float_cell(5e9 + 1), "logic! true"},
        {ACT_EVEN_Q, float_cell(INF), "logic! true"},   {ACT_ODD_Q, float_cell(NaN), "logic! false"},
        {ACT_ODD_Q, pct_cell(1.0), "logic! true"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(outcome([&] { return run_action(c.slot, {c.v}); }), c.expected)
            << typed(c.v) << " slot " << c.slot;
}

TEST_F(FloatTest, Power) {
    EXPECT_EQ(math(ACT_POWER, float_cell(2.0), float_cell(0.5)), "float! 1.4142135623730951");
    EXPECT_EQ(math(ACT_POWER, float_cell(2.0), int_cell(-2)), "float! 0.25");
    EXPECT_EQ(math(ACT_POWER, float_cell(0.0), int_cell(0)), "float! 1.0");
    EXPECT_EQ(math(ACT_POWER, float_cell(-8.0), float_cell(1.0 / 3.0)), "float! 1.#NaN");
    EXPECT_EQ(math(ACT_POWER, pct_cell(0.5), int_cell(2)), "percent! 25%");
    EXPECT_EQ(math(ACT_POWER, float_cell(2.0), text_cell("2")), "script/expect-arg");
    EXPECT_EQ(math(ACT_POWER, float_cell(2.0), pct_cell(0.5)), "script/expect-arg");
}

// ---- Round -------------------------------------------------------------------------------

TEST_F(FloatTest, RoundRefinements) {
    struct Case {
        double v;
        const char* flags;
        const char* expected;
    } cases[] = {
        {2.5, "", "float! 3.0"},    {2.5, "e", "float! 2.0"},      {3.5, "e", "float! 4.0"},
        {2.5, "h", "float! 2.0"},   {-2.5, "", "float! -3.0"},     {-2.5, "C", "float! -2.0"},
        {2.5, "C", "float! 3.0"},   {-2.5, "e", "float! -2.0"},    {-2.5, "h", "float! -2.0"},
        {2.7, "d", "float! 2.0"},   {-2.7, "d", "float! -2.0"},    {-2.3, "f", "float! -3.0"},
        {2.7, "f", "float! 2.0"},   {-2.7, "c", "float! -2.0"},    {2.1, "c", "float! 3.0"},
        {2.4, "", "float! 2.0"},    {2.6, "h", "float! 3.0"},      {-0.4, "", "float! -0.0"},
        {2.7, "dc", "float! 2.0"},  {1e300, "", "float! 1.0e300"}, {INF, "", "float! 1.#INF"},
        {NaN, "", "float! 1.#NaN"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rounded(float_cell(c.v), nullptr, c.flags), c.expected) << c.v << " " << c.flags;
}

TEST_F(FloatTest, RoundToScales) {
    struct Case {
        Cell v, scale;
        const char* flags;
        const char* expected;
    } cases[] = {
        {float_cell(1.2345), float_cell(0.01), "", "float! 1.23"},
        {float_cell(1.235), float_cell(0.01), "d", "float! 1.23"},
        {float_cell(-1.2345), float_cell(0.001), "f", "float! -1.235"},
        {float_cell(7.3), int_cell(2), "", "integer! 8"},
        {float_cell(2.5), int_cell(1), "", "integer! 3"},
        {float_cell(2.5), int_cell(-1), "e", "integer! 2"},
        {float_cell(17.0), float_cell(5.0), "", "float! 15.0"},
        {float_cell(0.5), pct_cell(0.1), "", "percent! 50%"},
        {float_cell(1234.0), float_cell(0.0), "", "float! 1234.0"},
        {pct_cell(0.12345), int_cell(1), "", "integer! 0"},  // 12% (0.12) truncated to integer!
        {pct_cell(0.12345), pct_cell(0.01), "", "percent! 12%"},
        {pct_cell(0.12345), pct_cell(0.001), "", "percent! 12.3%"},
        {pct_cell(0.12345), float_cell(0.5), "", "float! 0.125"},
        {float_cell(3.3e-310), float_cell(1e-310), "", "float! 3.0e-310"},
        {float_cell(1e300), int_cell(1), "", "float! 1.0e300"},  // nothing to round: unchanged
        {float_cell(3e9), int_cell(1), "", "math/overflow"},
        {float_cell(-2147483649.0), int_cell(1), "", "math/overflow"},
        {float_cell(-2147483648.4), int_cell(1), "", "integer! -2147483648"},
        {float_cell(NaN), int_cell(1), "", "math/overflow"},
        {float_cell(1.6e308), float_cell(1e308), "", "math/overflow"},
        {float_cell(5.0), float_cell(INF), "", "float! 5.0"},
        {float_cell(5.0), Cell{TYPE_MONEY, 0, 0, 0}, "", "script/not-related"},
        {float_cell(5.0), text_cell("1"), "", "script/invalid-type"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rounded(c.v, &c.scale, c.flags), c.expected) << typed(c.v) << " /to " << typed(c.scale);
    // Without /to a percent! rounds to whole percents and stays percent!.
    EXPECT_EQ(rounded(pct_cell(0.12345), nullptr), "percent! 12%");
    EXPECT_EQ(rounded(pct_cell(0.125), nullptr, "e"), "percent! 12%");
}

// ---- Conversions ------------------------------------------------------------------------

TEST_F(FloatTest, ToFloatAndPercent) {
    struct Case {
        uint32_t target;
        Cell spec;
        const char* expected;
    } cases[] = {
        {TYPE_FLOAT, int_cell(3), "float! 3.0"},
        {TYPE_FLOAT, int_cell(INT_MIN), "float! -2147483648.0"},
        {TYPE_FLOAT, char_cell('a'), "float! 97.0"},
        {TYPE_FLOAT, pct_cell(0.5), "float! 0.5"},
        {TYPE_PERCENT, float_cell(0.5), "percent! 50%"},
        {TYPE_PERCENT, int_cell(1), "percent! 100%"},
        {TYPE_FLOAT, time_cell(90.5), "float! 90.5"},
        {TYPE_FLOAT, text_cell("1.5"), "float! 1.5"},
        {TYPE_FLOAT, text_cell("1,5"), "float! 1.5"},
        {TYPE_FLOAT, text_cell("1'000.5"), "float! 1000.5"},
        {TYPE_FLOAT, text_cell("-0.0"), "float! -0.0"},
        {TYPE_FLOAT, text_cell(".5"), "float! 0.5"},
        {TYPE_FLOAT, text_cell("5."), "float! 5.0"},
        {TYPE_FLOAT, text_cell("+2e3"), "float! 2000.0"},
        {TYPE_FLOAT, text_cell("1e400"), "float! 1.#INF"},
        {TYPE_FLOAT, text_cell("0.1"), "float! 0.1"},
        {TYPE_FLOAT, text_cell(""), "script/bad-to-arg"},
        {TYPE_FLOAT, text_cell("abc"), "script/bad-to-arg"},
        {TYPE_FLOAT, text_cell("1e"), "script/bad-to-arg"},
        {TYPE_FLOAT, text_cell("1.2.3"), "script/bad-to-arg"},
        {TYPE_FLOAT, text_cell("--1"), "script/bad-to-arg"},
        {TYPE_FLOAT, text_cell(" 1.5"), "script/bad-to-arg"},
        {TYPE_FLOAT, text_cell("1.#INF"), "script/bad-to-arg"},
        {TYPE_FLOAT, text_cell("12%"), "script/bad-to-arg"},
        {TYPE_PERCENT, text_cell("50%"), "percent! 50%"},
        {TYPE_PERCENT, text_cell(" 5.5% "), "percent! 5.5%"},
        {TYPE_PERCENT, text_cell("0.5"), "percent! 50%"},
        {TYPE_PERCENT, text_cell("12"), "percent! 1200%"},
        {TYPE_PERCENT, text_cell("abc"), "script/bad-to-arg"},
        {TYPE_PERCENT, text_cell("%"), "script/bad-to-arg"},
        {TYPE_PERCENT, text_cell(""), "script/bad-to-arg"},
        {TYPE_FLOAT, block_cell({float_cell(1.5), int_cell(3)}), "float! 1500.0"},
        {TYPE_FLOAT, block_cell({int_cell(3), int_cell(-1)}), "float! 0.3"},
        {TYPE_FLOAT, block_cell({int_cell(1), float_cell(2.9)}), "float! 100.0"},
        {TYPE_FLOAT, block_cell({int_cell(1), int_cell(400)}), "float! 1.#INF"},
        {TYPE_PERCENT, block_cell({int_cell(5), int_cell(-1)}), "percent! 50%"},
        {TYPE_FLOAT, block_cell({int_cell(1), int_cell(2), int_cell(3)}), "script/bad-to-arg"},
        {TYPE_FLOAT, block_cell({}), "script/bad-to-arg"},
        {TYPE_FLOAT, block_cell({int_cell(1), text_cell("x")}), "script/bad-to-arg"},
        {TYPE_FLOAT, binary_cell({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "float! 1.0"},
        {TYPE_FLOAT, binary_cell({0x01}), "float! 5.0e-324"},
        {TYPE_FLOAT, binary_cell({}), "float! 0.0"},
        {TYPE_FLOAT, none_cell(), "script/bad-to-arg"},
        {TYPE_PERCENT, logic::cell(true), "script/bad-to-arg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(converted(ACT_TO, c.target, c.spec), c.expected)
            << datatype::names[c.target].name << " " << typed(c.spec);
    EXPECT_EQ(converted(ACT_MAKE, TYPE_FLOAT, int_cell(5)), "float! 5.0");
    EXPECT_EQ(converted(ACT_MAKE, TYPE_PERCENT, float_cell(0.25)), "percent! 25%");
    // A float! prototype converts the same way.
    EXPECT_EQ(outcome([] { return run_action(ACT_TO, {float_cell(0), int_cell(2)}); }), "float! 2.0");
}

TEST_F(FloatTest, Helpers) {
    EXPECT_EQ(float_::to_integer_part(2.4), 2);
    EXPECT_EQ(float_::to_integer_part(1.5), 2);
    EXPECT_EQ(float_::to_integer_part(-2.4), -1);
    EXPECT_EQ(float_::to_integer_part(1e20), INT_MAX);
    EXPECT_EQ(float_::to_integer_part(-1e20), INT_MIN);
    EXPECT_EQ(float_::to_integer_part(NaN), 0);
    EXPECT_TRUE(float_::special_q(INF));
    EXPECT_TRUE(float_::special_q(NaN));
    EXPECT_FALSE(float_::special_q(DBL_MAX));
    EXPECT_EQ(float_::BELOW_HALF, 0.49999999999999994);
    EXPECT_EQ(std::bit_cast<uint64_t>(float_::QUIET_NAN), 0x7FF8000000000000ull);
    Cell* c = float_::push64(0x3FF00000u, 0);
    EXPECT_EQ(c->get_f64(), 1.0);
    EXPECT_EQ(c->type(), uint32_t(TYPE_FLOAT));
    Cell* p = percent::push64(0x3FE00000u, 0);
    EXPECT_EQ(typed(*p), "percent! 50%");
}

// ---- Random -------------------------------------------------------------------------------

Cell random_of(Cell v, bool seed = false, bool secure = false) {
    return run_action(ACT_RANDOM, {v}, {seed ? 0 : -1, secure ? 0 : -1, -1});
}

TEST_F(FloatTest, Random) {
    double lo = 10.0, hi = 0.0;
    for (int i = 0; i < 2000; ++i) {
        Cell r = random_of(float_cell(10.0));
        ASSERT_EQ(r.type(), uint32_t(TYPE_FLOAT));
        ASSERT_GE(r.get_f64(), 0.0);
        ASSERT_LE(r.get_f64(), 10.0);
        lo = std::min(lo, r.get_f64());
        hi = std::max(hi, r.get_f64());
        Cell s = random_of(float_cell(-3.0), false, true);
        ASSERT_LE(s.get_f64(), 0.0);
        ASSERT_GE(s.get_f64(), -3.0);
    }
    EXPECT_LT(lo, 1.0);  // the draws spread over the range
    EXPECT_GT(hi, 9.0);
    EXPECT_EQ(random_of(pct_cell(0.5)).type(), uint32_t(TYPE_PERCENT));
    EXPECT_EQ(random_of(float_cell(2.5), true).type(), uint32_t(TYPE_UNSET));
    // The same seed gives the same draws.
    std::vector<double> first, second;
    for (int i = 0; i < 10; ++i) first.push_back(random_of(float_cell(1.0)).get_f64());
    random_of(float_cell(2.5), true);
    for (int i = 0; i < 10; ++i) second.push_back(random_of(float_cell(1.0)).get_f64());
    EXPECT_EQ(first, second);
}

TEST_F(FloatTest, RandomScalesTheGeneratorsDraw) {
    // /seed takes the exclusive-or of the value's two halves.
    const Cell seed = float_cell(-1234.5678);
    random_of(seed, true);
    std::vector<double> drawn, expected;
    for (int i = 0; i < 200; ++i) drawn.push_back(random_of(float_cell(i % 2 ? 10.0 : -0.25)).get_f64());
    random::seed(seed.w2 ^ seed.w3);
    for (int i = 0; i < 200; ++i) {
        const double n = random::next();
        expected.push_back((i % 2 ? 10.0 : -0.25) * (n / 2147483647.0));
    }
    EXPECT_EQ(drawn, expected);
}

}  // namespace
