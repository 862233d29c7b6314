// typeset! and triple!: making, molding, comparing and the set actions,
// run through the generic action entries.
#include "datatypes/typeset.h"
#include "test_support.h"

#include <string>
#include <vector>


namespace kiv::test {
namespace {

class TypesetTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() {
        boot_runtime();
        define_type_words();
        set_global("number!", typeset::of_types({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}));
        set_global("five", int_cell(5));
        set_global("a-word", word::load("integer!"));
    }

    static Cell make_ts(const char* text) {
        return run_action(ACT_MAKE, {type_cell(TYPE_TYPESET), load(text)});
    }
    static Cell to_ts(const Cell& v) { return run_action(ACT_TO, {type_cell(TYPE_TYPESET), v}); }
    static bool find_type(const Cell& ts, uint32_t type) {
        Cell r = run_action(ACT_FIND, {ts, type_cell(type)});
        EXPECT_EQ(r.type(), uint32_t(TYPE_LOGIC));
        return r.w1 != 0;
    }
};

TEST_F(TypesetTest, BitLayoutFollowsTheByteOrderOfThePayload) {
    // id n: byte n / 8 of the payload (byte 0 = low byte of word 1), mask 0x80 >> (n mod 8).
    Cell ts = typeset::of_types({TYPE_DATATYPE, TYPE_INTEGER, TYPE_TYPESET});
    EXPECT_EQ(ts.w1, 0x40u | (0x10u << 8));  // id 1 in byte 0, id 11 in byte 1
    EXPECT_EQ(ts.w2, 0x40u);                 // id 33 in byte 4
    EXPECT_EQ(ts.w3, 0u);
    Cell d = typeset::default_set();
    EXPECT_FALSE(typeset::has(&d, TYPE_UNSET));
    EXPECT_TRUE(typeset::has(&d, TYPE_NONE));
    EXPECT_TRUE(typeset::has(&d, 95));
    EXPECT_EQ(typeset::count(&d), datatype::highest_type_id - 1);
}

TEST_F(TypesetTest, MakeFromBlockAndMold) {
    struct Case {
        const char* spec;
        const char* mold;
    };
    const std::vector<Case> cases = {
        {"[]", "make typeset! []"},
        {"[integer!]", "make typeset! [integer!]"},
        {"[float! integer!]", "make typeset! [integer! float!]"},  // id order, not block order
        {"[number! integer!]", "make typeset! [integer! float! percent!]"},
        {"[block! unset! block!]", "make typeset! [unset! block!]"},
    };
    for (const Case& c : cases) {
        Cell ts = make_ts(c.spec);
        EXPECT_EQ(ts.type(), uint32_t(TYPE_TYPESET)) << c.spec;
        EXPECT_EQ(mold_text(ts), c.mold) << c.spec;
        EXPECT_EQ(form_text(ts), c.mold) << c.spec;
    }
}

TEST_F(TypesetTest, MakeStartsAtTheBlockIndex) {
    Cell b = load("[integer! float!]");
    b.w1 = 1;
    EXPECT_EQ(mold_text(run_action(ACT_MAKE, {type_cell(TYPE_TYPESET), b})), "make typeset! [float!]");
}

TEST_F(TypesetTest, MoldOnlyAndPart) {
    Cell ts = make_ts("[integer! float!]");
    EXPECT_EQ(mold_text(ts, true), "integer! float!");
    EXPECT_EQ(mold_text(make_ts("[]"), true), "");
    EXPECT_EQ(mold_text(ts, false, false, false, 20), "make typeset! [integ");
    EXPECT_EQ(mold_text(ts, false, false, false, 0), "");
    // A large typeset is cut at the limit.
    Cell all = typeset::default_set();
    EXPECT_EQ(mold_text(all, false, false, false, 16), "make typeset! [d");
}

TEST_F(TypesetTest, ToIsMake) {
    Cell ts = make_ts("[integer!]");
    Cell same = to_ts(ts);
    EXPECT_EQ(same.w1, ts.w1);
    EXPECT_EQ(same.w2, ts.w2);
    EXPECT_EQ(same.w3, ts.w3);
    EXPECT_EQ(mold_text(to_ts(load("[char!]"))), "make typeset! [char!]");
}

TEST_F(TypesetTest, MakeErrors) {
    RaisedError e = expect_error([] { to_ts(int_cell(3)); }, "script", "bad-to-arg");
    ASSERT_EQ(e.arg_count, 2);
    EXPECT_EQ(e.args[0].type(), uint32_t(TYPE_DATATYPE));
    EXPECT_EQ(e.args[0].w1, uint32_t(TYPE_TYPESET));
    EXPECT_EQ(e.args[1].w2, 3u);
    expect_error([] { make_ts("[integer! 5]"); }, "script", "invalid-arg");
    // A word is reported as written, not as its value.
    e = expect_error([] { make_ts("[five]"); }, "script", "invalid-arg");
    EXPECT_EQ(e.args[0].type(), uint32_t(TYPE_WORD));
    expect_error([] { make_ts("[no-such-type!]"); }, "script", "no-value");
}

TEST_F(TypesetTest, MakeInFromBlockForFunctionSpecs) {
    Cell blk = load("[]");
    Cell spec = load("[integer! [ignored] number! a-word]");
    Cell ts = *typeset::make_in_from_block(&blk, &spec);
    EXPECT_EQ(mold_text(ts), "make typeset! [integer! float! object! percent!]");
    Cell bad = load("[integer! 7]");
    RaisedError e =
        expect_error([&] { typeset::make_in_from_block(&blk, &bad); }, "script", "invalid-type-spec");
    EXPECT_EQ(e.args[0].w2, 7u);
    Cell d = *typeset::make_in_default(&blk);
    EXPECT_EQ(d.w1, typeset::DEFAULT_W1);
    EXPECT_EQ(block::cells_length(&blk), 2u);
}

TEST_F(TypesetTest, AddTypeAndToBlock) {
    Cell ts = typeset::empty();
    Cell dt = type_cell(TYPE_CHAR);
    typeset::add_type(&ts, &dt);
    Cell w = word::load("number!");
    typeset::add_type(&ts, &w);
    Cell five = int_cell(5);
    expect_error([&] { typeset::add_type(&ts, &five); }, "script", "invalid-arg");
    Cell b = none::cell();
    typeset::to_block(&ts, &b);
    EXPECT_EQ(mold_text(b), "[char! integer! float! percent!]");
    EXPECT_EQ(typeset::count(&ts), 4u);
    typeset::clear(&ts);
    EXPECT_EQ(typeset::count(&ts), 0u);
}

TEST_F(TypesetTest, CompareEqualityAndOrdering) {
    Cell a = make_ts("[integer! float!]");
    Cell b = make_ts("[float! integer!]");
    Cell c = make_ts("[integer! float! char!]");
    Cell single = make_ts("[block!]");
    EXPECT_TRUE(actions::compare(&a, &b, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &b, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &b, COMP_SAME));
    EXPECT_FALSE(actions::compare(&a, &c, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &c, COMP_NOT_EQUAL));
    // Sorting puts the typeset with fewer members first, whatever they are.
    EXPECT_EQ(actions::compare_value(&a, &c, COMP_SORT), -1);
    EXPECT_EQ(actions::compare_value(&c, &a, COMP_SORT), 1);
    EXPECT_EQ(actions::compare_value(&single, &a, COMP_CASE_SORT), -1);
    EXPECT_EQ(actions::compare_value(&a, &b, COMP_SORT), 0);
    // Orderings other than sorting are not defined.
    expect_error([&] { actions::compare(&a, &c, COMP_LESSER); }, "script", "invalid-compare");
    Cell i = int_cell(1);
    EXPECT_FALSE(actions::compare(&a, &i, COMP_EQUAL));
}

TEST_F(TypesetTest, ComplementAndFind) {
    Cell empty = make_ts("[]");
    Cell full = run_action(ACT_COMPLEMENT, {empty});
    for (uint32_t t : {TYPE_DATATYPE, TYPE_UNSET, TYPE_INTEGER, TYPE_POINT3D})
        EXPECT_TRUE(find_type(full, t));
    EXPECT_EQ(full.w1, 0xFFFFFFFFu);
    EXPECT_EQ(full.w3, 0xFFFFFFFFu);  // bits above the last datatype too
    Cell back = run_action(ACT_COMPLEMENT, {full});
    EXPECT_EQ(mold_text(back), "make typeset! []");
    Cell num = make_ts("[number!]");
    EXPECT_TRUE(find_type(num, TYPE_FLOAT));
    EXPECT_FALSE(find_type(num, TYPE_STRING));
    EXPECT_FALSE(find_type(run_action(ACT_COMPLEMENT, {num}), TYPE_FLOAT));
    expect_error([&] { run_action(ACT_FIND, {num, int_cell(11)}); }, "script", "invalid-arg");
}

TEST_F(TypesetTest, BitwiseActions) {
    Cell a = make_ts("[integer! float! char!]");
    Cell b = make_ts("[float! string!]");
    EXPECT_EQ(mold_text(run_action(ACT_AND_T, {a, b})), "make typeset! [float!]");
    EXPECT_EQ(mold_text(run_action(ACT_OR_T, {a, b})), "make typeset! [string! char! integer! float!]");
    EXPECT_EQ(mold_text(run_action(ACT_XOR_T, {a, b})), "make typeset! [string! char! integer!]");
    // A datatype counts as a one-member typeset.
    EXPECT_EQ(mold_text(run_action(ACT_OR_T, {a, type_cell(TYPE_BLOCK)})),
              "make typeset! [block! char! integer! float!]");
    RaisedError e = expect_error([&] { run_action(ACT_OR_T, {a, int_cell(4)}); }, "script", "invalid-arg");
    EXPECT_EQ(e.args[0].w2, 4u);
}

TEST_F(TypesetTest, SetOperationWorker) {
    Cell a = make_ts("[integer! float! char!]");
    Cell b = make_ts("[float! string!]");
    struct Case {
        int32_t op;
        const char* mold;
    };
    const std::vector<Case> cases = {
        {OP_OR, "make typeset! [string! char! integer! float!]"},
        {OP_AND, "make typeset! [float!]"},
        {OP_XOR, "make typeset! [string! char! integer!]"},
        {block::SET_UNIQUE, "make typeset! [char! integer! float!]"},
        {block::SET_UNION, "make typeset! [string! char! integer! float!]"},
        {block::SET_INTERSECT, "make typeset! [float!]"},
        {block::SET_EXCLUDE, "make typeset! [char! integer!]"},
        {block::SET_DIFFERENCE, "make typeset! [string! char! integer!]"},
    };
    for (const Case& c : cases) {
        Cell r = a;
        typeset::do_bitwise(&r, &b, c.op);
        EXPECT_EQ(mold_text(r), c.mold) << c.op;
    }
    // The union of a typeset and a datatype adds that type.
    Cell r = a;
    Cell dt = type_cell(TYPE_STRING);
    typeset::do_bitwise(&r, &dt, block::SET_UNION);
    EXPECT_TRUE(typeset::has(&r, TYPE_STRING));
    // Unique ignores the second value entirely.
    Cell junk = int_cell(1);
    r = a;
    typeset::do_bitwise(&r, &junk, block::SET_UNIQUE);
    EXPECT_EQ(r.w1, a.w1);
    expect_error([&] { typeset::do_bitwise(&r, &junk, block::SET_UNION); }, "script", "invalid-arg");
}

TEST_F(TypesetTest, OtherActionsAreEmpty) {
    Cell ts = make_ts("[integer!]");
    expect_error([&] { run_action(ACT_LENGTH_Q, {ts}); }, "script", "expect-arg");
}

TEST_F(TypesetTest, TripleFormAndMold) {
    Cell t = triple::cell(1, -2, 2147483647);
    EXPECT_EQ(mold_text(t), "make triple! [1 -2 2147483647]");
    EXPECT_EQ(form_text(t), "make triple! [1 -2 2147483647]");
    EXPECT_EQ(mold_text(t, false, false, false, 14), "make triple! [");
    expect_error(
        [&] {
            run_action(ACT_MAKE, {type_cell(TYPE_TRIPLE), load("[1 2 3]")});
        },
        "script", "expect-arg");
}

}  // namespace
}  // namespace kiv::test
