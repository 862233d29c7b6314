// block!: mold/form layouts, cycles, compare, find/select, insertion,
// sorting, set operations, path access and the hash! table upkeep.
#include "datatypes/block.h"

#include <string>
#include <vector>

#include "block_builder.h"
#include "datatypes/object.h"
#include "runtime/cycles.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

using namespace kiv;
using namespace kiv::test;

namespace {

class BlockTest : public RuntimeTest {};

// The text of a result: "none" for none!, else the molded value.
std::string shown(const Cell& v) {
    return v.type() == TYPE_NONE ? "none" : mold_text(v);
}

// ---- mold and form ------------------------------------------------------------------------

struct MoldCase {
    const char* source;
    bool only, flat;
    const char* expected;
};

TEST_F(BlockTest, MoldLayouts) {
    const MoldCase cases[] = {
        {"[1 [2 3] 4]", false, false, "[1 [2 3] 4]"},
        {"[]", false, false, "[]"},
        {"[1 2]", true, false, "1 2"},
        {"(1 (2) [3])", false, false, "(1 (2) [3])"},
        {"(1 2)", true, false, "1 2"},
        // Markers on the second and third values: new lines at the block's own level.
        {"[1\n2\n3]", false, false, "[1\n2\n3]"},
        // A marker on the first value: indented lines, closing bracket on its own line.
        {"[\n1\n2]", false, false, "[\n    1\n    2\n]"},
        {"[\n1 2\n3]", false, false, "[\n    1 2\n    3\n]"},
        // Nested blocks indent one level deeper than their parent's lines.
        {"[\n[\n1]]", false, false, "[\n    [\n        1\n    ]\n]"},
        {"[\n1 [2\n3]]", false, false, "[\n    1 [2\n    3]\n]"},
        {"(\n1)", false, false, "(\n    1\n)"},
        // /only: no line break before the first value and no extra level.
        {"[\n1\n2]", true, false, "1\n2"},
        // /flat ignores the markers.
        {"[\n1\n[\n2]]", false, true, "[1 [2]]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mold_text(load(c.source), c.only, false, c.flat), c.expected) << c.source;
    }
}

TEST_F(BlockTest, MoldFromPositionAndPart) {
    Cell b = load("[1 2 3 4]");
    EXPECT_EQ(mold_text(at_pos(b, 2)), "[3 4]");
    EXPECT_EQ(mold_text(at_pos(b, 9)), "[]");  // past the tail
    EXPECT_EQ(mold_text(b, false, false, false, 4), "[1 2");
    EXPECT_EQ(mold_text(b, false, false, false, 0), "");
    EXPECT_EQ(form_text(b, 3), "1 2");
}

TEST_F(BlockTest, FormSeparatesWithSpaces) {
    EXPECT_EQ(form_text(load("[1 [2 3] #(none) (4 5)]")), "1 2 3 none 4 5");
    EXPECT_EQ(form_text(load("[]")), "");
    EXPECT_EQ(form_text(load("[[] 1]")), " 1");  // an empty output still gets the space
}

TEST_F(BlockTest, FormAddsNoSpaceAfterLineBreak) {
    // A value whose text ends in a line feed: no space after it.
    Cell s = *string::make_at(stack::push(none::cell()), 4);
    string::concatenate_literal(&s, "a\n");
    Cell outer = load("[]");
    block::cells_append(&outer, &s);
    Cell one = int_cell(1);
    block::cells_append(&outer, &one);
    EXPECT_EQ(form_text(outer), "a\n1");
}

TEST_F(BlockTest, CyclesAreMarked) {
    Cell b = load("[]");
    call("append/only", {b, b});
    EXPECT_EQ(mold_text(b), "[[...]]");
    EXPECT_EQ(form_text(b), "...");
    Cell p = load("(1)");
    call("append/only", {p, p});
    EXPECT_EQ(mold_text(p), "(1 (...))");

    // The same block twice side by side is not a cycle.
    Cell x = load("[1]");
    Cell twice = load("[]");
    call("append/only", {twice, x});
    call("append/only", {twice, x});
    EXPECT_EQ(mold_text(twice), "[[1] [1]]");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(BlockTest, MoldLeavesNoCycleEntryAfterAnError) {
    // A value whose type has no mold (context!) raises in the middle of the walk.
    Cell inner = load("[1 2]");
    Cell odd{TYPE_CONTEXT, 0, 0, 0};
    block::cells_append(&inner, &odd);
    Cell b = load("[0]");
    call("append/only", {b, inner});
    expect_error([&] { mold_text(b); }, "script", "expect-arg");
    EXPECT_EQ(cycles::depth(), 0u);
}

// ---- compare -------------------------------------------------------------------------------

struct CompareCase {
    const char* a;
    const char* b;
    int32_t op;
    bool expected;
};

TEST_F(BlockTest, CompareTable) {
    const CompareCase cases[] = {
        {"[1 2]", "[1 2]", COMP_EQUAL, true},
        {"[1 2]", "[1 3]", COMP_EQUAL, false},
        {"[1 2]", "[1 2 3]", COMP_EQUAL, false},
        {"[1 2]", "[1 2 3]", COMP_NOT_EQUAL, true},
        {"[1]", "[1.0]", COMP_EQUAL, true},
        {"[1 [2 3]]", "[1 [2 3]]", COMP_STRICT_EQUAL, true},
        {"[1 2]", "[1 3]", COMP_LESSER, true},
        {"[1 3]", "[1 2]", COMP_GREATER, true},
        {"[]", "[1]", COMP_LESSER, true},
        {"[1]", "[1 2]", COMP_LESSER, true},  // the shorter block orders first
        {"[1 2]", "[1]", COMP_GREATER_EQUAL, true},
        {"[#(none)]", "[1]", COMP_LESSER, true},   // different types order by type id
        {"[1 2]", "(1 2)", COMP_EQUAL, false},  // block! and paren! are not comparable
        {"[1]", "[1]", COMP_SAME, false},       // equal but not the same series
    };
    for (const auto& c : cases) {
        Cell a = load(c.a), b = load(c.b);
        EXPECT_EQ(actions::compare(&a, &b, c.op), c.expected) << c.a << " op " << c.op << " " << c.b;
    }
}

TEST_F(BlockTest, CompareIdentityAndOrderErrors) {
    Cell a = load("[1 2]");
    Cell a2 = a;
    EXPECT_TRUE(actions::compare(&a, &a2, COMP_SAME));
    Cell b = at_pos(a, 1);
    EXPECT_FALSE(actions::compare(&a, &b, COMP_SAME));
    Cell p = load("(1 2)");
    expect_error([&] { actions::compare(&a, &p, COMP_LESSER); }, "script", "invalid-compare");
}

TEST_F(BlockTest, CompareSelfContainingBlocksTerminates) {
    Cell a = load("[1]");
    Cell b = load("[1]");
    call("append/only", {a, a});
    call("append/only", {b, b});
    EXPECT_TRUE(actions::compare(&a, &b, COMP_EQUAL));
    EXPECT_EQ(cycles::depth(), 0u);
}

// ---- find / select -------------------------------------------------------------------------

struct SearchCase {
    const char* source;
    uint32_t position;
    const char* path;
    std::vector<const char*> args;  // "@N": the series at position N
    const char* expected;           // molded result, "none", or the index "#N"
};

Cell arg_value(const Cell& series, const char* text) {
    if (text[0] == '@') return at_pos(series, uint32_t(std::atoi(text + 1)));
    return load(text);
}

void run_search_cases(const std::vector<SearchCase>& cases) {
    for (const auto& c : cases) {
        Cell s = at_pos(load(c.source), c.position);
        std::vector<Cell> args{s};
        for (const char* a : c.args) args.push_back(arg_value(s, a));
        Cell r = call(c.path, args);
        std::string got = shown(r);
        if (c.expected[0] == '#') {
            ASSERT_NE(r.type(), TYPE_NONE) << c.path << " " << c.source;
            got = "#" + std::to_string(r.w1);
        }
        EXPECT_EQ(got, c.expected) << c.path << " in " << c.source << " at " << c.position;
    }
}

TEST_F(BlockTest, FindTable) {
    run_search_cases({
        {"[1 2 3 2]", 0, "find", {"2"}, "#1"},
        {"[1 2 3 2]", 0, "find/last", {"2"}, "#3"},
        {"[1 2 3 2]", 0, "find/tail", {"2"}, "#2"},
        {"[1 2 3 2]", 0, "find/match", {"1"}, "#0"},
        {"[1 2 3 2]", 0, "find/match", {"2"}, "none"},
        {"[1 2 3 2]", 0, "find/match/tail", {"1"}, "#1"},
        {"[1 2 3 2]", 2, "find", {"1"}, "none"},
        {"[1 2 3 2]", 4, "find", {"2"}, "none"},
        {"[]", 0, "find", {"1"}, "none"},
        // A block value is a sequence; with /only a nested block.
        {"[1 2 3 2 3]", 0, "find", {"[2 3]"}, "#1"},
        {"[1 2 3 2 3]", 0, "find/last", {"[2 3]"}, "#3"},
        {"[1 2 3 2 3]", 0, "find/tail", {"[2 3]"}, "#3"},
        {"[1 2 3 2 3]", 0, "find", {"[3 4]"}, "none"},
        {"[1 2 3 2 3]", 0, "find", {"[]"}, "none"},
        {"[1 [2 3] 2 3]", 0, "find/only", {"[2 3]"}, "#1"},
        {"[1 [2 3] 2 3]", 0, "find", {"[2 3]"}, "#2"},
        // Datatypes match values of that type; with /only the datatype itself.
        {"[#(none) 1 2]", 0, "find", {"#(integer!)"}, "#1"},
        {"[1 #(integer!) 2]", 0, "find/only", {"#(integer!)"}, "#1"},
        {"[#(none) #(true)]", 0, "find", {"#(logic!)"}, "#1"},
        // /skip examines every n-th place from the position.
        {"[1 2 2 1]", 0, "find/skip", {"2", "2"}, "#2"},
        {"[1 2 3 4]", 0, "find/skip", {"2", "2"}, "none"},
        {"[1 9 1 8]", 0, "find/skip/last", {"1", "2"}, "#2"},
        {"[5 1 9 1 8]", 1, "find/skip/last", {"1", "2"}, "#3"},
        // /part: a count, or the series at the end of the range.
        {"[1 2 3]", 0, "find/part", {"3", "2"}, "none"},
        {"[1 2 3]", 0, "find/part", {"3", "3"}, "#2"},
        {"[1 2 3]", 0, "find/part", {"3", "0"}, "none"},
        {"[1 2 3]", 0, "find/part", {"3", "@2"}, "none"},
        {"[1 2 3]", 0, "find/part", {"2", "@2"}, "#1"},
        {"[1 2 3 2]", 0, "find/part/last", {"2", "3"}, "#1"},
        {"[1 2 3 2 3]", 0, "find/part", {"[2 3]", "2"}, "none"},  // the sequence must fit the range
        // /reverse searches backwards from the place before the position.
        {"[1 2 3 2]", 4, "find/reverse", {"2"}, "#3"},
        {"[1 2 3 2]", 3, "find/reverse", {"2"}, "#1"},
        {"[1 2 3 2]", 0, "find/reverse", {"1"}, "none"},
        {"[1 2 3 2 3]", 5, "find/reverse", {"[2 3]"}, "#3"},
        {"[1 2 3 2 3]", 4, "find/reverse", {"[2 3]"}, "#1"},
        {"[1 2 3 2]", 9, "find/reverse", {"3"}, "#2"},  // a position past the tail starts at the tail
        {"[1 2 3 2]", 4, "find/reverse/part", {"1", "3"}, "none"},  // /part bounds the search backwards
        {"[1 2 3 2]", 4, "find/reverse/part", {"2", "1"}, "#3"},
        {"[1 2 3 2]", 3, "find/reverse/part", {"1", "3"}, "#0"},
    });
}

TEST_F(BlockTest, FindSameAndCase) {
    Cell inner = load("[1]");
    Cell b = load("[]");
    call("append/only", {b, inner});
    Cell other = load("[1]");
    EXPECT_EQ(shown(call("find/only", {b, other})), "[[1]]");
    EXPECT_EQ(shown(call("find/only/same", {b, other})), "none");
    EXPECT_EQ(shown(call("find/only/same", {b, inner})), "[[1]]");
    // /case compares strictly: an integer! is not a float!.
    Cell nums = load("[1.0 1]");
    EXPECT_EQ(call("find/case", {nums, int_cell(1)}).w1, 1u);
}

TEST_F(BlockTest, FindRefinementErrors) {
    Cell b = load("[1 2]");
    expect_error([&] { call("find/skip", {b, int_cell(1), int_cell(0)}); }, "script", "out-of-range");
    expect_error([&] { call("find/skip", {b, int_cell(1), none::cell()}); }, "script", "invalid-refine-arg");
    expect_error(
        [&] {
            call("find/part", {b, int_cell(1), load("[1 2]")});
        },
        "script", "invalid-refine-arg");
}

TEST_F(BlockTest, SelectTable) {
    run_search_cases({
        {"[1 10 2 20]", 0, "select", {"2"}, "20"},
        {"[1 10 2 20]", 0, "select", {"20"}, "none"},  // nothing follows
        {"[1 10 2 20]", 0, "select", {"7"}, "none"},
        {"[1 10 2 20]", 0, "select/skip", {"10", "2"}, "none"},
        {"[1 10 2 20]", 0, "select/skip", {"2", "2"}, "20"},
        {"[1 10 5]", 0, "select", {"[1 10]"}, "5"},  // the value after the whole sequence
        {"[1 [10] 5]", 0, "select/only", {"[10]"}, "5"},
        {"[2 1 2 3]", 0, "select/last", {"2"}, "3"},
        {"[2 1 2 3]", 3, "select/reverse", {"2"}, "3"},
    });
}

// ---- append / insert / change ------------------------------------------------------------

struct EditCase {
    const char* source;
    uint32_t position;
    const char* path;
    std::vector<const char*> args;
    const char* whole;   // the block from its head afterwards
    const char* result;  // the result, molded
};

void run_edit_cases(const std::vector<EditCase>& cases) {
    for (const auto& c : cases) {
        Cell s = at_pos(load(c.source), c.position);
        std::vector<Cell> args{s};
        for (const char* a : c.args) args.push_back(arg_value(s, a));
        Cell r = call(c.path, args);
        EXPECT_EQ(mold_from_head(s), c.whole) << c.path << " on " << c.source;
        EXPECT_EQ(shown(r), c.result) << c.path << " on " << c.source;
    }
}

TEST_F(BlockTest, AppendAndInsertTable) {
    run_edit_cases({
        {"[1]", 0, "append", {"[2 3]"}, "[1 2 3]", "[1 2 3]"},
        {"[1]", 0, "append/only", {"[2 3]"}, "[1 [2 3]]", "[1 [2 3]]"},
        {"[1]", 1, "append", {"(2)"}, "[1 2]", "[1 2]"},  // append answers the head
        {"[]", 0, "insert/dup", {"0", "3"}, "[0 0 0]", "[]"},
        {"[1 4]", 1, "insert", {"[2 3]"}, "[1 2 3 4]", "[4]"},
        {"[1 4]", 1, "insert/only", {"[2 3]"}, "[1 [2 3] 4]", "[4]"},
        {"[1 2]", 7, "insert", {"9"}, "[1 2 9]", "[]"},  // a position past the tail inserts at the tail
        {"[1]", 0, "append/part", {"[2 3 4]", "2"}, "[1 2 3]", "[1 2 3]"},
        {"[1]", 0, "append/part", {"[2 3 4]", "9"}, "[1 2 3 4]", "[1 2 3 4]"},
        {"[0]", 0, "append/dup", {"[1 2]", "2"}, "[0 1 2 1 2]", "[0 1 2 1 2]"},
        {"[0]", 0, "append/dup", {"[1 2]", "0"}, "[0]", "[0]"},
        {"[0]", 0, "append", {"[]"}, "[0]", "[0]"},
        {"[0]", 0, "insert/dup/only", {"[1]", "2"}, "[[1] [1] 0]", "[0]"},
    });
}

TEST_F(BlockTest, InsertBlockIntoItself) {
    Cell b = load("[1 2]");
    call("append", {b, b});
    EXPECT_EQ(mold_text(b), "[1 2 1 2]");
    Cell c = load("[1 2]");
    call("insert", {at_pos(c, 1), c});
    EXPECT_EQ(mold_text(c), "[1 1 2 2]");
    Cell d = load("[1 2 3]");
    call("change", {d, at_pos(d, 1)});
    EXPECT_EQ(mold_text(d), "[2 3 3]");
}

TEST_F(BlockTest, InsertGrowsLargeBlocks) {
    Cell b = load("[]");
    for (int i = 0; i < 2000; ++i) call("append", {b, int_cell(i)});
    EXPECT_EQ(block::cells_length(&b), 2000u);
    EXPECT_EQ(call("pick", {b, int_cell(1234)}).w2, 1233u);
    Cell big = load("[7]");
    call("append/dup", {big, int_cell(1), int_cell(100000)});
    EXPECT_EQ(block::cells_length(&big), 100001u);
    EXPECT_EQ(call("pick", {big, int_cell(100001)}).w2, 1u);
}

TEST_F(BlockTest, HugeDupIsRefused) {
    // cells x dup beyond the 32-bit size range: no-memory, nothing changed.
    Cell b = load("[1]");
    Cell v = load("[1 2 3 4 5 6 7 8]");
    expect_error([&] { block::insert(&b, &v, -1, false, 0x7FFFFFFF, true); }, "internal", "no-memory");
    EXPECT_EQ(mold_text(b), "[1]");
}

TEST_F(BlockTest, ChangeTable) {
    run_edit_cases({
        {"[1 2 3]", 0, "change", {"9"}, "[9 2 3]", "[2 3]"},
        {"[1 2 3]", 0, "change", {"[8 9]"}, "[8 9 3]", "[3]"},
        {"[1 2 3]", 0, "change/only", {"[8 9]"}, "[[8 9] 2 3]", "[2 3]"},
        {"[1 2 3]", 0, "change/part", {"9", "2"}, "[9 3]", "[3]"},
        {"[1 2 3]", 0, "change/part", {"[7 8 9]", "1"}, "[7 8 9 2 3]", "[2 3]"},
        {"[1 2 3]", 0, "change/part", {"9", "@3"}, "[9]", "[]"},
        {"[1 2 3]", 2, "change/part", {"9", "-1"}, "[1 9 3]", "[3]"},  // a negative part counts back
        {"[1 2 3]", 0, "change/part", {"[]", "2"}, "[3]", "[3]"},
        {"[1 2]", 1, "change", {"[7 8 9]"}, "[1 7 8 9]", "[]"},
        {"[1 2]", 2, "change", {"9"}, "[1 2 9]", "[]"},
        {"[1 2 3]", 0, "change/dup", {"0", "2"}, "[0 0 3]", "[3]"},
        {"[1 2 3]", 0, "change/dup", {"0", "-1"}, "[1 2 3]", "[1 2 3]"},
    });
}

// ---- put and path access -------------------------------------------------------------------

TEST_F(BlockTest, Put) {
    Cell b = load("[1 10]");
    EXPECT_EQ(shown(call("put", {b, int_cell(2), int_cell(20)})), "20");
    EXPECT_EQ(mold_text(b), "[1 10 2 20]");
    call("put", {b, int_cell(1), int_cell(11)});
    EXPECT_EQ(mold_text(b), "[1 11 2 20]");
    Cell last = load("[1]");
    call("put", {last, int_cell(1), int_cell(5)});
    EXPECT_EQ(mold_text(last), "[1 5]");
}

TEST_F(BlockTest, PathAccess) {
    Cell b = load("[1 10 2 20]");
    Cell path = load("[]");
    auto get = [&](Cell blk, Cell element) {
        return shown(*block::eval_path(&blk, &element, nullptr, &path, nullptr, nullptr, -1, false, false,
                                       true, false).cell);
    };
    auto set = [&](Cell blk, Cell element, Cell value) {
        (void)block::eval_path(&blk, &element, &value, &path, nullptr, nullptr, -1, false, false, true, true);
    };
    EXPECT_EQ(get(b, int_cell(2)), "10");
    EXPECT_EQ(get(at_pos(b, 2), int_cell(-1)), "10");  // negative counts go back from the position
    EXPECT_EQ(get(b, int_cell(9)), "none");
    EXPECT_EQ(get(b, load("2.0")), "none");  // a float! element is not the integer! 2
    set(b, int_cell(1), int_cell(99));
    EXPECT_EQ(mold_text(b), "[99 10 2 20]");
    set(b, int_cell(2), int_cell(5));  // by index
    EXPECT_EQ(mold_text(b), "[99 5 2 20]");
    Cell key = int_cell(2);
    set(b, key, int_cell(7));  // the integer element is an index, not a key
    EXPECT_EQ(mold_text(b), "[99 7 2 20]");
    Cell lb = load("[[1] 10 [2]]");
    EXPECT_EQ(get(lb, load("[1]")), "10");  // other elements select with /only
    set(lb, load("[2]"), int_cell(3));      // a key that is the last value gets a new cell
    EXPECT_EQ(mold_text(lb), "[[1] 10 [2] 3]");
    expect_error([&] { set(lb, load("[9]"), int_cell(3)); }, "script", "bad-path-set");
    expect_error([&] { set(b, int_cell(9), int_cell(3)); }, "script", "out-of-range");
}

// ---- copy / take / swap / trim --------------------------------------------------------------

TEST_F(BlockTest, CopyShallowAndDeep) {
    Cell b = load("[1 [2] 3]");
    Cell shallow = call("copy", {b});
    Cell deep = call("copy/deep", {b});
    EXPECT_EQ(mold_text(shallow), "[1 [2] 3]");
    EXPECT_EQ(mold_text(deep), "[1 [2] 3]");
    EXPECT_NE(shallow.w2, b.w2);
    Cell inner = call("pick", {b, int_cell(2)});
    call("poke", {inner, int_cell(1), int_cell(5)});
    EXPECT_EQ(mold_text(shallow), "[1 [5] 3]");  // shares the nested block
    EXPECT_EQ(mold_text(deep), "[1 [2] 3]");     // has its own

    // The copy keeps the new-line marker of the copied cell and of its values.
    Cell lines = load("[1\n2]");
    lines.header |= header::NEW_LINE;
    Cell c = call("copy/deep", {lines});
    EXPECT_TRUE(c.new_line());
    EXPECT_EQ(mold_text(c), "[1\n2]");
}

TEST_F(BlockTest, CopyDeepRefusesCycles) {
    Cell b = load("[1]");
    call("append/only", {b, b});
    expect_error([&] { call("copy/deep", {b}); }, "internal", "no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
    // The same block twice is copied twice.
    Cell x = load("[1]");
    Cell twice = load("[]");
    call("append/only", {twice, x});
    call("append/only", {twice, x});
    Cell d = call("copy/deep", {twice});
    Cell first = call("pick", {d, int_cell(1)});
    Cell second = call("pick", {d, int_cell(2)});
    EXPECT_NE(first.w2, second.w2);
    EXPECT_NE(first.w2, x.w2);
}

TEST_F(BlockTest, CopyTypes) {
    Cell b = load("[[1] (2)]");
    Cell c = call("copy/types", {b, type_cell(TYPE_PAREN)});
    EXPECT_EQ(call("pick", {c, int_cell(1)}).w2, call("pick", {b, int_cell(1)}).w2);  // block! shared
    EXPECT_NE(call("pick", {c, int_cell(2)}).w2, call("pick", {b, int_cell(2)}).w2);  // paren! copied
    expect_error([&] { call("copy/types", {b, int_cell(1)}); }, "script", "expect-arg");
}

TEST_F(BlockTest, TakeDeep) {
    Cell b = load("[[1] 2]");
    Cell inner = call("pick", {b, int_cell(1)});
    Cell t = call("take/deep", {b});
    EXPECT_EQ(mold_text(t), "[1]");
    EXPECT_NE(t.w2, inner.w2);
    Cell c = load("[[1] [2] 3]");
    Cell inner2 = call("pick", {c, int_cell(2)});
    Cell tp = call("take/part/deep", {c, int_cell(2)});
    EXPECT_EQ(mold_text(tp), "[[1] [2]]");
    EXPECT_NE(call("pick", {tp, int_cell(2)}).w2, inner2.w2);
    EXPECT_EQ(mold_text(c), "[3]");
}

TEST_F(BlockTest, SwapAndTrim) {
    Cell a = load("[1 2]");
    Cell b = load("[3 4]");
    call("swap", {a, at_pos(b, 1)});
    EXPECT_EQ(mold_text(a), "[4 2]");
    EXPECT_EQ(mold_text(b), "[3 1]");
    call("swap", {a, at_pos(b, 2)});  // at a tail: nothing
    EXPECT_EQ(mold_text(a), "[4 2]");
    expect_error([&] { call("swap", {a, int_cell(1)}); }, "script", "invalid-arg");

    Cell t = load("[#(none) 1 #(none) #(none) 2 #(none)]");
    call("trim", {at_pos(t, 1)});
    EXPECT_EQ(mold_text(t), "[none 1 2]");
    Cell p = load("(#(none))");
    expect_error([&] { call("trim", {p}); }, "script", "expect-arg");  // empty for paren!
}

// ---- make / to -------------------------------------------------------------------------------

TEST_F(BlockTest, MakeAndTo) {
    auto make = [](uint32_t type, Cell spec) {
        Cell proto = type_cell(type);
        return *actions::make(&proto, &spec).cell;
    };
    auto to = [](uint32_t type, Cell spec) {
        Cell proto = type_cell(type);
        return *actions::to(&proto, &spec).cell;
    };
    Cell src = load("[1 2]");
    Cell m = make(TYPE_BLOCK, at_pos(src, 1));
    EXPECT_EQ(mold_text(m), "[2]");
    EXPECT_NE(m.w2, src.w2);
    EXPECT_EQ(mold_text(make(TYPE_BLOCK, int_cell(10))), "[]");
    EXPECT_EQ(mold_text(make(TYPE_BLOCK, load("2.5"))), "[]");
    EXPECT_EQ(mold_text(make(TYPE_PAREN, src)), "(1 2)");
    expect_error([&] { make(TYPE_BLOCK, none::cell()); }, "script", "bad-make-arg");
    EXPECT_EQ(mold_text(to(TYPE_BLOCK, int_cell(5))), "[5]");
    EXPECT_EQ(mold_text(to(TYPE_PAREN, src)), "(1 2)");
    EXPECT_EQ(mold_text(to(TYPE_BLOCK, load("(3)"))), "[3]");
    // A typeset: the datatypes it holds, in id order.
    Cell ts{TYPE_TYPESET, 0, 0, 0};
    uint8_t bytes[12] = {};
    for (uint32_t id : {uint32_t(TYPE_INTEGER), uint32_t(TYPE_NONE)})
        bytes[id >> 3] |= uint8_t(0x80u >> (id & 7));
    std::memcpy(&ts.w1, bytes, 12);
    EXPECT_EQ(mold_text(to(TYPE_BLOCK, ts)), "[none! integer!]");
}

TEST_F(BlockTest, ObjectBodyToBlock) {
    Cell spec = load("[a: 1 b: [2]]");
    Cell obj = *object::construct(&spec, nullptr, false);
    Cell proto = type_cell(TYPE_BLOCK);
    Cell o = obj;
    EXPECT_EQ(mold_text(*actions::to(&proto, &o).cell, false, false, true), "[a: 1 b: [2]]");
    Cell proto2 = type_cell(TYPE_PAREN);
    Cell o2 = obj;
    EXPECT_EQ(mold_text(*actions::make(&proto2, &o2).cell, false, false, true), "(a: 1 b: [2])");
}

TEST_F(BlockTest, ToBlockFromVector) {
    // A vector! of 16-bit integers: elements read sign-extended.
    Cell* v = stack::push(none::cell());
    Off node = memory::alloc_series(3, 2, 0);
    SeriesBuffer* buf = buffer_of(node);
    int16_t items[3] = {1, -2, 300};
    std::memcpy(buf->head_ptr(), items, sizeof items);
    buf->tail = buf->head + sizeof items;
    *v = Cell{TYPE_VECTOR, 0, node, TYPE_INTEGER};
    Cell proto = type_cell(TYPE_BLOCK);
    EXPECT_EQ(mold_text(*actions::to(&proto, v).cell), "[1 -2 300]");
}

// ---- sort --------------------------------------------------------------------------------------

TEST_F(BlockTest, SortTable) {
    run_edit_cases({
        {"[3 1 2]", 0, "sort", {}, "[1 2 3]", "[1 2 3]"},
        {"[3 1 2]", 0, "sort/reverse", {}, "[3 2 1]", "[3 2 1]"},
        {"[3 1 2]", 0, "sort/stable", {}, "[1 2 3]", "[1 2 3]"},
        {"[9 3 1 2]", 1, "sort", {}, "[9 1 2 3]", "[1 2 3]"},
        {"[2 #(none) 1.5 1]", 0, "sort", {}, "[none 1 1.5 2]", "[none 1 1.5 2]"},
        {"[[2] [1 5] [1]]", 0, "sort", {}, "[[1] [1 5] [2]]", "[[1] [1 5] [2]]"},
        {"[2 20 1 10]", 0, "sort/skip", {"2"}, "[1 10 2 20]", "[1 10 2 20]"},
        {"[1 20 2 10]", 0, "sort/skip/compare", {"2", "2"}, "[2 10 1 20]", "[2 10 1 20]"},
        {"[1 2 1 1]", 0, "sort/skip/all", {"2"}, "[1 1 1 2]", "[1 1 1 2]"},
        {"[3 2 1]", 0, "sort/part", {"2"}, "[2 3 1]", "[2 3 1]"},
        {"[3 2 1]", 0, "sort/part", {"@2"}, "[2 3 1]", "[2 3 1]"},
        {"[3 2 1 0]", 2, "sort/part", {"-2"}, "[2 3 1 0]", "[1 0]"},  // the cells before the position
        {"[1 2]", 2, "sort", {}, "[1 2]", "[]"},
        // Stable: equal keys keep their order.
        {"[2 1 1 2 2 3 1 4]",
         0,
         "sort/skip/compare/stable",
         {"2", "1"},
         "[1 2 1 4 2 1 2 3]",
         "[1 2 1 4 2 1 2 3]"},
        {"[2 1 1 2 2 3 1 4]",
         0,
         "sort/skip/compare/stable/reverse",
         {"2", "1"},
         "[2 1 2 3 1 2 1 4]",
         "[2 1 2 3 1 2 1 4]"},
    });
}

TEST_F(BlockTest, SortStableLargeMatchesOrderOfEqualKeys) {
    // Records [key seq]: after a stable sort by key, seq rises within each key.
    Cell b = load("[]");
    for (int i = 0; i < 500; ++i) {
        call("append", {b, int_cell((i * 7919) % 13)});
        call("append", {b, int_cell(i)});
    }
    call("sort/skip/compare/stable", {b, int_cell(2), int_cell(1)});
    int32_t prev_key = -1, prev_seq = -1;
    for (uint32_t i = 0; i < 1000; i += 2) {
        int32_t key = int32_t(call("pick", {b, int_cell(int32_t(i) + 1)}).w2);
        int32_t seq = int32_t(call("pick", {b, int_cell(int32_t(i) + 2)}).w2);
        ASSERT_GE(key, prev_key);
        if (key == prev_key) {
            ASSERT_GT(seq, prev_seq);
        }
        prev_key = key;
        prev_seq = seq;
    }
}

TEST_F(BlockTest, SortErrors) {
    Cell b = load("[4 3 2 1]");
    expect_error([&] { call("sort/all", {b}); }, "script", "bad-refines");
    expect_error([&] { call("sort/skip", {b, int_cell(3)}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("sort/skip", {b, int_cell(0)}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("sort/skip", {b, int_cell(8)}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("sort/skip/compare", {b, int_cell(2), int_cell(3)}); }, "script", "out-of-range");
    expect_error([&] { call("sort/compare", {b, int_cell(1)}); }, "script", "bad-refines");
    expect_error(
        [&] {
            call("sort/skip/compare/all", {b, int_cell(2), int_cell(1)});
        },
        "script", "bad-refines");
    expect_error([&] { call("sort/compare", {b, none::cell()}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("sort/part", {b, none::cell()}); }, "script", "invalid-refine-arg");
    EXPECT_EQ(mold_text(b), "[4 3 2 1]");  // errors leave the block unchanged
}

// ---- set operations ----------------------------------------------------------------------------

std::string set_op(int32_t op, const char* a, const char* b, int32_t skip = 1, uint32_t a_pos = 0) {
    stack::mark_native(nullptr);
    stack::push(at_pos(load(a), a_pos));
    stack::push(b ? load(b) : none::cell());
    Cell r = *block::do_set_op(false, skip, op);
    stack::unwind_drop();
    return mold_text(r);
}

TEST_F(BlockTest, SetOperations) {
    using namespace block;
    EXPECT_EQ(set_op(SET_UNIQUE, "[1 2 1 3 2]", nullptr), "[1 2 3]");
    EXPECT_EQ(set_op(SET_UNION, "[1 2]", "[2 3 1 4]"), "[1 2 3 4]");
    EXPECT_EQ(set_op(SET_INTERSECT, "[1 2 3 3]", "[3 4 2]"), "[2 3]");
    EXPECT_EQ(set_op(SET_EXCLUDE, "[1 2 3 1]", "[2]"), "[1 3]");
    EXPECT_EQ(set_op(SET_DIFFERENCE, "[1 2 3]", "[2 3 4 4]"), "[1 4]");
    EXPECT_EQ(set_op(SET_UNION, "[]", "[]"), "[]");
    EXPECT_EQ(set_op(SET_INTERSECT, "[1 2 3]", "[1 2]", 1, 1), "[2]");  // from the position
    EXPECT_EQ(set_op(SET_UNIQUE, "[[1] [1] [2]]", nullptr), "[[1] [2]]");
    EXPECT_EQ(set_op(SET_UNIQUE, "(1 1)", nullptr), "(1)");
    // Records of /skip size: the first value is the key.
    EXPECT_EQ(set_op(SET_UNIQUE, "[1 10 1 20 2 30]", nullptr, 2), "[1 10 2 30]");
    EXPECT_EQ(set_op(SET_UNIQUE, "[1 2 2 1]", nullptr, 2), "[1 2 2 1]");  // 1 in a value place is no key
    EXPECT_EQ(set_op(SET_INTERSECT, "[1 10 2 20]", "[2 99 10 1]", 2), "[2 20]");
    EXPECT_EQ(set_op(SET_UNIQUE, "[1 2 1]", nullptr, 2), "[1 2]");
    expect_error([&] { set_op(SET_UNIQUE, "[1]", nullptr, 0); }, "script", "invalid-refine-arg");
}

// ---- hash! table upkeep ------------------------------------------------------------------------

// A hash! over the block of `text`, with its table.
Cell make_hash(const char* text) {
    Cell h = load(text);
    h.w3 = hashtable::init(block::cells_length(&h) + 1, h.w2, hashtable::HASH, 0);
    h.set_type(TYPE_HASH);
    return hold(h);
}

// Every cell of the hash can be found at its own place through the table,
// and the table holds exactly the cells of the block.
void expect_indexed(const Cell& h, const char* what) {
    Cell head = at_pos(h, 0);
    uint32_t n = block::cells_length(&head);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *block::cells_at(&h, i);
        EXPECT_EQ(hashtable::find_from(h.w3, &v, false, i), int32_t(i)) << what << " at " << i;
    }
    EXPECT_EQ(hashtable::record(h.w3)->live, n) << what;
}

TEST_F(BlockTest, HashTableFollowsEveryChange) {
    Cell h = make_hash("[1 2 3 4]");
    Cell v = load("[7 8]");
    block::insert(&h, &v, -1, false, 1, false);
    expect_indexed(h, "insert");
    Cell nine = int_cell(9);
    block::insert(&h, &nine, -1, false, 2, true);
    expect_indexed(h, "append/dup");
    h.w1 = 2;
    block::change(&h, &v, 3, false, 1);
    expect_indexed(h, "change/part");
    h.w1 = 0;
    series::remove(&h, nullptr, nullptr);
    expect_indexed(h, "remove");
    Cell two = int_cell(2);
    series::remove(&h, &two, nullptr);
    expect_indexed(h, "remove/part");
    series::reverse(&h, nullptr, nullptr);
    expect_indexed(h, "reverse");
    series::poke(&h, 1, &nine, nullptr);
    expect_indexed(h, "poke");
    Cell twenty = int_cell(20);
    (void)block::put(&h, &twenty, &nine, false);
    expect_indexed(h, "put");
    Cell t = h;
    block::take(&t, nullptr, false, true);
    expect_indexed(h, "take/last");
    Cell none_v = none::cell();
    block::insert(&h, &none_v, -1, false, 1, false);
    block::trim(&h, false, false, false, false, false, nullptr);
    expect_indexed(h, "trim");
    Cell other = make_hash("[5 6]");
    block::swap(&h, &other);
    expect_indexed(h, "swap");
    expect_indexed(other, "swap (second)");
    Cell target = at_pos(h, 3);
    Cell one = int_cell(1);
    series::move(&h, &target, &one);
    expect_indexed(h, "move");
    Cell mid = at_pos(h, 2);
    series::clear(&mid);
    expect_indexed(h, "clear");
    // Searching goes through the table and agrees with a scan.
    Cell plain = at_pos(h, 0);
    plain.set_type(TYPE_BLOCK);
    for (uint32_t i = 0; i < block::cells_length(&plain); ++i) {
        Cell x = *block::cells_at(&plain, i);
        Cell* f = block::find(&h, &x, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                              false, false);
        Cell* g = block::find(&plain, &x, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                              false, false);
        EXPECT_EQ(f->w1, g->w1);
    }
}

// ---- words -----------------------------------------------------------------------------------

// A word cell of a symbol id (unbound; with no symbol table every id is its
// own canonical form).
Cell word_cell(uint32_t type, uint32_t symbol) {
    return Cell{type, 0, symbol, uint32_t(-1)};
}

TEST_F(BlockTest, FindWordAndPathByWord) {
    Cell b = load("[]");
    Cell values[] = {word_cell(TYPE_WORD, 5), int_cell(1), word_cell(TYPE_SET_WORD, 6), int_cell(2),
                     word_cell(TYPE_LIT_WORD, 7)};
    for (const Cell& v : values) block::cells_append(&b, &v);
    Cell w6 = word_cell(TYPE_WORD, 6);
    EXPECT_EQ(block::cells_find_word(&b, &w6, true)->w2, 2u);  // a set-word matches by symbol
    Cell w7 = word_cell(TYPE_GET_WORD, 7);
    EXPECT_EQ(block::cells_find_word(&b, &w7, false)->type(), TYPE_NONE);  // the last value: nothing follows
    Cell w9 = word_cell(TYPE_WORD, 9);
    EXPECT_EQ(block::cells_find_word(&b, &w9, false)->type(), TYPE_NONE);
    Cell refinement{TYPE_REFINEMENT, 0, 5, uint32_t(-1)};
    Cell path_word = word_cell(TYPE_WORD, 5);
    Cell* got =
        block::eval_path(&b, &path_word, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false).cell;
    EXPECT_EQ(got->w2, 1u);
    EXPECT_EQ(block::cells_find_word(&b, &refinement, false)->w2, 1u);
    Cell later = at_pos(b, 1);
    EXPECT_EQ(block::cells_find_word(&later, &path_word, false)->type(), TYPE_NONE);  // from the position
}

// ---- words and strings --------------------------------------------------------------------------

TEST_F(BlockTest, WordsAndStrings) {
    EXPECT_EQ(mold_text(load("[a [b c] d]")), "[a [b c] d]");
    EXPECT_EQ(mold_text(load("[a: 'b :c]")), "[a: 'b :c]");
    EXPECT_EQ(form_text(load("[1 \"a\" [b]]")), "1 a b");
    run_search_cases({
        {"[a b c b c]", 0, "find", {"[b c]"}, "#1"},
        {"[a b c b c]", 0, "find/only", {"[b c]"}, "none"},
        {"[a [b c] b c]", 0, "find/only", {"[b c]"}, "#1"},
        {"[a 1 b 2]", 0, "select", {"b"}, "2"},
        {"[a 1 b]", 0, "select", {"b"}, "none"},
        {"[a 1 B 2]", 0, "select", {"b"}, "2"},
        {"[\"a\" \"B\"]", 0, "find", {"\"b\""}, "#1"},
        {"[\"a\" \"B\"]", 0, "find/case", {"\"b\""}, "none"},
    });
    Cell b = load("[a 1 B 2]");
    Cell w = load("b");
    EXPECT_EQ(block::eval_path(&b, &w, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false).cell->w2,
              2u);
    EXPECT_EQ(
        block::eval_path(&b, &w, nullptr, nullptr, nullptr, nullptr, -1, true, false, true, false).cell->type(),
        TYPE_NONE);  // case-sensitive path access
    Cell missing = load("zz");
    Cell v = int_cell(1);
    Cell path = load("[]");
    expect_error(
        [&] { (void)block::eval_path(&b, &missing, &v, &path, nullptr, nullptr, -1, false, false, true, true); },
        "script", "bad-path-set");
}

TEST_F(BlockTest, SortAndSetOperationsOnStrings) {
    Cell s = load("[\"b\" \"B\" \"a\"]");
    call("sort/stable", {s});
    EXPECT_EQ(mold_text(s), "[\"a\" \"b\" \"B\"]");
    call("sort/case", {s});
    EXPECT_EQ(mold_text(s), "[\"B\" \"a\" \"b\"]");
    EXPECT_EQ(set_op(block::SET_UNIQUE, "[\"a\" \"A\" \"b\"]", nullptr), "[\"a\" \"b\"]");
    stack::mark_native(nullptr);
    stack::push(load("[\"a\" \"A\"]"));
    stack::push(none::cell());
    EXPECT_EQ(mold_text(*block::do_set_op(true, 1, block::SET_UNIQUE)), "[\"a\" \"A\"]");
    stack::unwind_drop();
}

TEST_F(BlockTest, ErrorArgumentsNameTheRefinement) {
    Cell b = load("[1 2]");
    RaisedError e = expect_error(
        [&] {
            call("sort/skip", {b, int_cell(3)});
        },
        "script", "invalid-refine-arg");
    EXPECT_EQ(e.args[0].type(), TYPE_WORD);
    EXPECT_EQ(mold_text(e.args[0]), "skip");
    EXPECT_EQ(e.args[1].w2, 3u);
    e = expect_error([&] { call("copy/part", {b, load("[1]")}); }, "script", "invalid-refine-arg");
    EXPECT_EQ(mold_text(e.args[0]), "part");
}

// ---- primitives -------------------------------------------------------------------------------

TEST_F(BlockTest, Primitives) {
    Cell b = load("[1 2 3]");
    EXPECT_EQ(block::cells_length(&b), 3u);
    Cell at2 = at_pos(b, 1);
    EXPECT_FALSE(block::cells_next(&at2));
    EXPECT_TRUE(block::cells_next(&at2));
    EXPECT_TRUE(block::cells_at_tail(&at2));
    EXPECT_TRUE(block::cells_next(&at2));  // stays at the tail
    EXPECT_EQ(at2.w1, 3u);
    block::cells_append_all(&b, &b);
    EXPECT_EQ(mold_text(b), "[1 2 3 1 2 3]");
    block::cells_remove_last(&b);
    EXPECT_EQ(mold_text(b), "[1 2 3 1 2]");
    Cell two = int_cell(2);
    EXPECT_EQ(block::select_value(&b, &two)->w2, 3u);
    block::remove_value(&b, &two, true);
    EXPECT_EQ(mold_text(b), "[1 3 1 2]");
    Cell tail_b = at_pos(b, 4);
    block::insert_value(&tail_b, &two, true, true);
    EXPECT_EQ(mold_text(b), "[2 1 3 1 2]");
    EXPECT_EQ(tail_b.w1, 1u);
    Cell nested = load("[[1] (2) 3]");
    Cell& out = *root_slot();
    block::copy_part(&nested, &out, true, false);
    EXPECT_EQ(mold_text(out), "[[1] (2) 3]");
    EXPECT_NE(block::cells_at(&out, 0)->w2, block::cells_at(&nested, 0)->w2);  // block copied
    EXPECT_EQ(block::cells_at(&out, 1)->w2, block::cells_at(&nested, 1)->w2);  // paren shared without any
    block::cells_clear_at(&b, 1);
    EXPECT_EQ(mold_text(b), "[2]");
    Cell pushed = hold(*block::push_only(0));
    EXPECT_EQ(mold_text(pushed), "[]");
    Cell* child = block::make_in(&pushed, 2);
    EXPECT_EQ(child->type(), TYPE_BLOCK);
    EXPECT_EQ(mold_text(pushed), "[[]]");
}

}  // namespace
