// Runtime entry points: the literal table, argument checks, checked word and
// slot access, select-case, load-single, form-part, indentation.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/mold.h"
#include "datatypes/typeset.h"
#include "evaluator/literal_table.h"
#include "evaluator/runtime.h"
#include "object_test_support.h"
#include "runtime/lowlevel.h"

namespace kiv::test {
namespace {

class EntryTest : public ObjectTest {
  protected:
    void TearDown() override {
        runtime::lexer_load = nullptr;
        ObjectTest::TearDown();
    }
};

// ---- Literal table ---------------------------------------------------------------------------

TEST_F(EntryTest, LiteralTableAddressesCellsAndTheirNodes) {
    Off node = memory::alloc_fixed_series(4, sizeof(Cell), 0);
    SeriesBuffer* b = buffer_of(node);
    Cell* cells = b->head_cell();
    Cell blk = read("[1 2]");
    blk.w1 = 1;  // a position: word 1 is not the node
    Cell str = read("\"text\"");
    Cell obj = make_object(read("[a: 1]"));
    cells[0] = blk;
    cells[1] = str;
    cells[2] = obj;
    cells[3] = int_cell(7);
    // The boot image's table is in force; a nested table replaces it.
    Off old = literal_table::set_base(b->data_start());
    EXPECT_NE(old, 0u);
    EXPECT_EQ(literal_table::at(3)->w2, 7u);
    // Series literals keep their node in word 2, objects in word 1.
    EXPECT_EQ(literal_table::node_at(0), blk.w2);
    EXPECT_EQ(literal_table::node_at(1), str.w2);
    EXPECT_EQ(literal_table::node_at(2), obj.w1);
    EXPECT_EQ(literal_table::set_base(old), b->data_start());
}

// ---- Argument checks -------------------------------------------------------------------------

TEST_F(EntryTest, TypeCheckNamesTheFunctionTheTypeAndTheArgument) {
    Cell fn = make_function("[value [integer!] other]", "[]");
    Cell name = word::load("checked-fn");
    EXPECT_EQ(context::set_word(&name, &fn).code, UNWIND_NONE);
    stack::mark_native(&name);
    Cell ts = typeset::of_types({TYPE_INTEGER});
    Cell* i = stack::push(int_cell(3));
    EXPECT_EQ(runtime::check_arg_type(&ts, 0, i), i);
    EXPECT_EQ(runtime::check_arg_type_at(&ts, 0), stack::arg_base);
    EXPECT_EQ(runtime::check_arg_type_at(&ts, -1), stack::arg_base);  // unchecked
    Cell* f = stack::push(float_cell(1.5));
    RaisedError e = expect_error([&] { runtime::check_arg_type(&ts, 1, f); }, "script", "expect-arg");
    ASSERT_EQ(e.arg_count, 3);
    EXPECT_EQ(mold_text(e.args[1]), "float!");
    EXPECT_EQ(mold_text(e.args[2]), "other");
    // A refinement that is off checks nothing.
    Cell off = logic::cell(false);
    Cell on = logic::cell(true);
    EXPECT_EQ(runtime::check_refinement_arg(&off, &ts, 1, f), f);
    expect_error([&] { runtime::check_refinement_arg(&on, &ts, 1, f); }, "script", "expect-arg");
    Cell* u = stack::push(unset::cell());
    e = expect_error([&] { runtime::check_set(u, 0); }, "script", "expect-arg");
    EXPECT_EQ(mold_text(e.args[1]), "unset!");
    EXPECT_EQ(mold_text(e.args[2]), "value");
}

TEST_F(EntryTest, AFalseRefinementTurnsItsArgumentsIntoNone) {
    stack::mark_native(nullptr);
    for (int k = 0; k < 4; ++k) stack::push(int_cell(k));
    Cell no = none::cell();
    runtime::set_refinement(&no, 1, 2);
    EXPECT_EQ(mold_text(stack::arg_base[1]), "false");
    EXPECT_EQ(stack::arg_base[2].type(), TYPE_NONE);
    EXPECT_EQ(stack::arg_base[3].type(), TYPE_NONE);
    EXPECT_EQ(mold_text(stack::arg_base[0]), "0");
    Cell yes = int_cell(0);
    stack::arg_base[2] = int_cell(9);
    runtime::set_refinement(&yes, 1, 2);
    EXPECT_EQ(mold_text(stack::arg_base[1]), "true");
    EXPECT_EQ(mold_text(stack::arg_base[2]), "9");
    Cell u = unset::cell();
    expect_error([&] { runtime::set_refinement(&u, 1, 1); }, "script", "no-value");
}

// ---- Words and slots ---------------------------------------------------------------------------

TEST_F(EntryTest, CheckedWordAccessRefusesUnset) {
    Cell w = word::load("entry-word");
    stack::mark_native(nullptr);
    stack::push(int_cell(5));
    EXPECT_EQ(runtime::set_word_checked(&w).code, UNWIND_NONE);
    EXPECT_EQ(mold_text(*context::get_word(&w)), "5");
    EXPECT_EQ(mold_text(*runtime::get_word_checked(&w)), "5");
    stack::push(unset::cell());
    RaisedError e = expect_error([&] { (void)runtime::set_word_checked(&w); }, "script", "need-value");
    EXPECT_EQ(mold_text(e.args[0]), "entry-word");
    Cell fresh = word::load("entry-never-set");
    e = expect_error([&] { runtime::get_word_checked(&fresh); }, "script", "no-value");
    EXPECT_EQ(mold_text(e.args[0]), "entry-never-set");
    stack::push(int_cell(6));
    EXPECT_EQ(runtime::set_word_reset(&w), UNWIND_NONE);
    EXPECT_EQ(stack::top, stack::arg_base);
    EXPECT_EQ(mold_text(*context::get_word(&w)), "6");
}

TEST_F(EntryTest, ContextSlots) {
    Cell obj = make_object(read("[a: 1 b: 2]"));
    Off ctx = obj.w1;
    stack::mark_native(nullptr);
    stack::push(int_cell(40));
    runtime::set_ctx_slot(ctx, 1);
    EXPECT_EQ(mold_text(field_of(obj, "b")), "40");
    stack::push(unset::cell());
    RaisedError e = expect_error([&] { runtime::set_ctx_slot(ctx, 0); }, "script", "need-value");
    EXPECT_EQ(mold_text(e.args[0]), "a");
    stack::push(unset::cell());
    runtime::set_ctx_value(ctx, 0);  // no check; the word is marked as set
    EXPECT_EQ(field_of(obj, "a").type(), TYPE_UNSET);
    EXPECT_EQ(mold_text(reflect_of(obj, "changed")), "[a]");
    Cell a = word::load("a");
    EXPECT_EQ(runtime::ctx_slot(&a, ctx, 1)->w2, 40u);
    expect_error([&] { runtime::ctx_slot(&a, ctx, 9); }, "script", "not-in-context");
    // A function context whose function is not running has no values.
    Cell fn = make_function("[x y]", "[]");
    RaisedError nd = expect_error([&] { runtime::ctx_slot(&a, fn.w1, 1); }, "script", "not-defined");
    EXPECT_EQ(mold_text(nd.args[0]), "y");
}

// ---- select-case --------------------------------------------------------------------------------

TEST_F(EntryTest, SelectCaseTable) {
    struct Case {
        const char* value;
        const char* block;
        bool step, block_search;
        const char* expected;
    };
    const Case cases[] = {
        {"2", "[1 \"one\" 2 \"two\"]", true, false, "\"two\""},
        {"\"two\"", "[1 \"one\" 2 \"two\"]", true, false, "none"},  // values only at even steps
        {"\"one\"", "[1 \"one\" 2 \"two\"]", false, false, "2"},
        {"2", "[1 \"one\" 2]", false, false, "2"},  // the match itself when last
        {"2", "[1 [a] 2 3 [b] [c]]", true, true, "[b]"},
        {"3", "[1 [a] 2 [b]]", true, true, "none"},
        {"2.0", "[2 [a] 2.0 [b]]", true, true, "[b]"},  // same type only
        {"[2]", "[[2] [a]]", true, true, "none"},
    };
    for (const Case& c : cases) {
        stack::mark_native(nullptr);
        stack::push(read(c.value));
        stack::push(read(c.block));
        Cell r = *runtime::select_case(c.step, c.block_search, false);
        EXPECT_EQ(mold_text(r), c.expected) << c.value << " in " << c.block;
        Cell* pushed = runtime::select_case(c.step, c.block_search, true);
        EXPECT_EQ(pushed, stack::top - 1);
        stack::unwind_drop();
    }
}

// ---- load-single -------------------------------------------------------------------------------

// A stand-in lexer: words separated by spaces; a "!" stops the scan there.
uint32_t fake_lexer(const Cell* text, Cell* blk) {
    std::string s = form_text(*text);
    block::make_at(blk, 4);
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        if (s[i] == '!') return uint32_t(i);
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '!') ++j;
        Cell w = word::load(s.substr(i, j - i).c_str());
        block::cells_append(blk, &w);
        i = j;
    }
    return uint32_t(s.size());
}

TEST_F(EntryTest, LoadSingleGivesOneValueOrNone) {
    runtime::lexer_load = &fake_lexer;
    struct Case {
        const char* text;
        const char* expected;  // mold, or "unset"
    };
    const Case cases[] = {
        {"abc", "abc"},   {"  abc  ", "abc"}, {"", "unset"},
        {"   ", "unset"}, {"a b", "none"},  // several values are not one value
        {"ab!c", "none"},                   // the lexer stopped before the end
    };
    for (const Case& c : cases) {
        Cell t = read(("\"" + std::string(c.text) + "\"").c_str());
        Cell r = int_cell(0);
        runtime::load_single(&t, &r);
        if (std::string(c.expected) == "unset")
            EXPECT_EQ(r.type(), TYPE_UNSET) << c.text;
        else
            EXPECT_EQ(mold_text(r), c.expected) << c.text;
    }
    // The word layer's conversion relies on it: a text of two words is no word.
    Cell proto = type_cell(TYPE_WORD);
    EXPECT_EQ(mold_text(run_action(ACT_TO, {proto, read("\"single\"")})), "single");
    expect_error([&] { run_action(ACT_TO, {proto, read("\"two words\"")}); }, "script", "invalid-chars");
}

// ---- Text helpers -------------------------------------------------------------------------------

TEST_F(EntryTest, FormPartCutsAtTheLimit) {
    Cell b = read("[abc def ghi]");
    EXPECT_EQ(string_text(*runtime::form_part(&b, 5)), "abc d");
    EXPECT_EQ(string_text(*runtime::form_part(&b, 0)), "abc def ghi");
    EXPECT_EQ(string_text(*runtime::form_part(&b, 100)), "abc def ghi");
}

TEST_F(EntryTest, IndentWritesFourSpacesPerLevel) {
    for (int32_t levels : {0, 1, 3, 9}) {
        Cell* out = string::make_at(stack::push_slot(), 0);
        int32_t left = mold::indent(out, levels, 100);
        EXPECT_EQ(string_text(*out), std::string(size_t(levels) * 4, ' '));
        EXPECT_EQ(left, 100 - 4 * levels);
    }
}

TEST_F(EntryTest, ToIntegerChecked) {
    struct Case {
        double in;
        int32_t out;
    };
    const Case ok[] = {
        {2147483647.0, 2147483647}, {-2147483648.0, INT32_MIN}, {-1.9, -1}, {1.9, 1}, {0.0, 0}};
    for (const Case& c : ok) {
        Cell f = float_cell(c.in);
        EXPECT_EQ(runtime::to_integer_checked(&f), c.out) << c.in;
    }
    for (double bad : {2147483648.0, -2147483649.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        Cell f = float_cell(bad);
        expect_error([&] { runtime::to_integer_checked(&f); }, "script", "out-of-range");
    }
    Cell i = int_cell(-5);
    EXPECT_EQ(runtime::to_integer_checked(&i), -5);
}

TEST_F(EntryTest, FillRepeatCopiesTheFirstUnit) {
    for (uint32_t count : {1u, 2u, 3u, 7u, 16u}) {
        unsigned char buf[64];
        std::memset(buf, 0, sizeof buf);
        buf[0] = 'a';
        buf[1] = 'b';
        buf[2] = 'c';
        lowlevel::fill_repeat(buf, 3, count);
        std::string got(reinterpret_cast<char*>(buf), 3 * count);
        std::string want;
        for (uint32_t k = 0; k < count; ++k) want += "abc";
        EXPECT_EQ(got, want);
        EXPECT_EQ(buf[3 * count], 0) << count;  // nothing written past the end
    }
}

TEST_F(EntryTest, ReportErrorPrintsWithoutRaising) {
    static std::string printed;
    printed.clear();
    runtime::ErrorPrinter saved = runtime::print_error;
    runtime::print_error = [](const char* text, uint32_t length) { printed.assign(text, length); };
    Cell* top = stack::top;
    runtime::report_error("math", "zero-divide");
    runtime::print_error = saved;
    EXPECT_EQ(printed, "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none");
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(stack::frame_count(), 0u);
}

}  // namespace
}  // namespace kiv::test
