// The path types: make, to, form and mold of path!, lit-path!, set-path!
// and get-path!, and the actions they inherit from block! or leave empty.
#include "datatypes/path.h"

#include <string>
#include <vector>

#include "block_builder.h"
#include "interp_support.h"

namespace kiv::test {
namespace {

class PathTest : public InterpTest {
  protected:
    static Cell path_of(const char* text, uint32_t type) {
        Cell blk = code(text);
        Cell p = *block::cells_at(&blk, 0);
        p.set_type(type);
        return p;
    }
};

TEST_F(PathTest, MoldAndFormOfTheFourForms) {
    struct Case {
        uint32_t type;
        const char* mold;
    };
    const std::vector<Case> cases = {
        {TYPE_PATH, "a/b/1"},
        {TYPE_LIT_PATH, "'a/b/1"},
        {TYPE_SET_PATH, "a/b/1:"},
        {TYPE_GET_PATH, ":a/b/1"},
    };
    for (const Case& c : cases) {
        Cell p = hold(path_of("a/b/1", c.type));
        EXPECT_EQ(mold_text(p), c.mold);
        EXPECT_EQ(form_text(p), "a/b/1");
    }
    // From the position on; parens and blocks keep their delimiters.
    Cell p = hold(path_of("a/b/1", TYPE_PATH));
    EXPECT_EQ(mold_text(at_pos(p, 1)), "b/1");
    EXPECT_EQ(mold_text(path_of("a/(1 + 2)/c", TYPE_PATH)), "a/(1 + 2)/c");
    // /part stops the walk.
    EXPECT_EQ(mold_text(path_of("abc/def/ghi", TYPE_PATH), false, false, false, 5), "abc/d");
}

TEST_F(PathTest, SelfContainingPathMoldsAMarker) {
    Cell* p = stack::push(none::cell());
    path::make_at(p, 2);
    Cell a = word::load("a");
    block::cells_append(p, &a);
    Cell self = *p;
    block::cells_append(p, &self);
    EXPECT_EQ(mold_text(*p), "a/...");
}

TEST_F(PathTest, Make) {
    Cell proto = type_cell(TYPE_PATH);
    Cell empty = run_action(ACT_MAKE, {proto, int_cell(0)});
    EXPECT_EQ(empty.type(), uint32_t(TYPE_PATH));
    EXPECT_EQ(block::cells_length(&empty), 0u);
    Cell room = run_action(ACT_MAKE, {proto, float_cell(2.9)});
    EXPECT_EQ(block::cells_length(&room), 0u);
    EXPECT_GE(buffer_of(room.w2)->size, 2u * 16);
    Cell copy = run_action(ACT_MAKE, {type_cell(TYPE_SET_PATH), code("a b c")});
    EXPECT_EQ(mold_text(copy), "a/b/c:");
    expect_error([&] { run_action(ACT_MAKE, {proto, none::cell()}); }, "script", "bad-make-arg");
}

TEST_F(PathTest, To) {
    Cell proto = type_cell(TYPE_PATH);
    Cell ts = typeset::of_types({TYPE_INTEGER});
    Cell one = run_action(ACT_TO, {proto, ts});
    EXPECT_EQ(block::cells_length(&one), 1u);
    EXPECT_EQ(block::cells_at(&one, 0)->type(), uint32_t(TYPE_TYPESET));
    Cell wrapped = run_action(ACT_TO, {type_cell(TYPE_GET_PATH), word::load("w")});
    EXPECT_EQ(mold_text(wrapped), ":w");
    Cell converted = run_action(ACT_TO, {proto, code("x 1")});
    EXPECT_EQ(mold_text(converted), "x/1");
}

TEST_F(PathTest, InheritedAndEmptyActions) {
    Cell p = hold(path_of("a/b/c", TYPE_PATH));
    EXPECT_EQ(mold_text(call("next", {p})), "b/c");
    EXPECT_EQ(mold_text(call("length?", {p})), "3");
    EXPECT_EQ(mold_text(call("copy", {p})), "a/b/c");
    EXPECT_EQ(call("copy", {path_of("a/b", TYPE_LIT_PATH)}).type(), uint32_t(TYPE_LIT_PATH));
    expect_error([&] { call("sort", {p}); }, "script", "expect-arg");
    stack::reset_all();
    expect_error([&] { call("random", {p}); }, "script", "expect-arg");
    stack::reset_all();
    expect_error([&] { call("trim", {path_of("a/b", TYPE_GET_PATH)}); }, "script", "expect-arg");
}

}  // namespace
}  // namespace kiv::test
