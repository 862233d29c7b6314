// The datatype registry, the generic action table and the dispatchers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/registry.h"
#include "runtime/cycles.h"
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

// ---- A scratch type at the unused ids 55..57 with recording implementations ----------

constexpr uint32_t SCRATCH = 55;

struct Seen {
    int calls = 0;
    std::vector<const Cell*> cells;
    std::vector<int64_t> ints;  // flags as 0/1, counts and indexes as they came
    void reset() { *this = Seen{}; }
};
Seen seen;

int32_t rec_compare(Cell* a, Cell* b, int32_t op) {
    ++seen.calls;
    seen.cells = {a, b};
    seen.ints = {op};
    return int32_t(a->w2) - int32_t(b->w2);  // scratch values are ordered by word 2
}
Unwind rec_insert(Cell* s, Cell* v, int32_t part, bool only, int32_t dup, bool append) {
    ++seen.calls;
    seen.cells = {s, v};
    seen.ints = {part, only, dup, append};
    return UNWIND_NONE;
}
Unwind rec_change(Cell* s, Cell* v, int32_t part, bool only, int32_t dup) {
    ++seen.calls;
    seen.cells = {s, v};
    seen.ints = {part, only, dup};
    return UNWIND_NONE;
}
Outcome rec_find(Cell* s, Cell* v, Cell* part, bool only, bool cs, bool same, bool any, Cell* with,
                 Cell* skip, bool last, bool reverse, bool tail, bool match) {
    ++seen.calls;
    seen.cells = {s, v, part, with, skip};
    seen.ints = {only, cs, same, any, last, reverse, tail, match};
    return v;
}
Outcome rec_pick(Cell* s, int32_t index, Cell* index_cell) {
    ++seen.calls;
    seen.cells = {s, index_cell};
    seen.ints = {index};
    return index_cell;
}
Outcome rec_poke(Cell* s, int32_t index, Cell* value, Cell* index_cell) {
    ++seen.calls;
    seen.cells = {s, value, index_cell};
    seen.ints = {index};
    return s;
}
Count rec_length(Cell* v) {
    return int32_t(v->w2);
}
Outcome rec_copy(Cell* s, Cell* result, Cell* part, bool deep, Cell* types) {
    ++seen.calls;
    seen.cells = {s, result, part, types};
    seen.ints = {deep};
    return result;
}
Outcome rec_make(Cell* proto, Cell* spec, uint32_t type) {
    ++seen.calls;
    seen.cells = {proto, spec};
    seen.ints = {type};
    *proto = Cell{SCRATCH, 0, spec->w2 + 1000, 0};
    return proto;
}
Unwind rec_add() {
    ++seen.calls;
    stack::arg_base->w2 += stack::arg_base[1].w2;
    return UNWIND_NONE;
}
Outcome rec_modify(Cell* t, Cell* f, Cell* v, bool cs) {
    ++seen.calls;
    seen.cells = {t, f, v};
    seen.ints = {cs};
    return v;
}
Outcome rec_read(Cell* src, Cell*, Cell*, bool, bool, bool, Cell*) {
    ++seen.calls;
    return src;
}
Outcome rec_write(Cell* dst, Cell*, bool, bool, bool, bool, Cell*, Cell*, Cell*, Cell*) {
    ++seen.calls;
    return dst;
}

class DispatchTest : public test::RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        for (uint32_t id = 55; id <= 57; ++id) {
            saved_names[id - 55] = datatype::names[id];
            std::memcpy(saved_rows[id - 55], &datatype::action_table[id * 256], sizeof saved_rows[0]);
        }
        saved_highest = datatype::highest_type_id;
        seen.reset();
        datatype::Registration r = datatype::blank(SCRATCH, 0, "scratch!");
        r.set<ACT_MAKE>(rec_make);
        r.set<ACT_COMPARE>(rec_compare);
        r.set<ACT_ADD>(rec_add);
        r.set<ACT_APPEND>(rec_insert);
        r.set<ACT_INSERT>(rec_insert);
        r.set<ACT_CHANGE>(rec_change);
        r.set<ACT_COPY>(rec_copy);
        r.set<ACT_FIND>(rec_find);
        r.set<ACT_LENGTH_Q>(rec_length);
        r.set<ACT_PICK>(rec_pick);
        r.set<ACT_POKE>(rec_poke);
        r.set<ACT_MODIFY>(rec_modify);
        datatype::register_type(r);
    }
    void TearDown() override {
        for (uint32_t id = 55; id <= 57; ++id) {
            datatype::names[id] = saved_names[id - 55];
            std::memcpy(&datatype::action_table[id * 256], saved_rows[id - 55], sizeof saved_rows[0]);
        }
        datatype::highest_type_id = saved_highest;
        actions::port_actor_table = nullptr;
        RuntimeTest::TearDown();
    }
    static Cell scratch(uint32_t v) { return Cell{SCRATCH, 0, v, 0}; }
    // A string! "abcdef" on the data stack at the given index.
    static Cell text(const char* s, uint32_t index = 0) {
        Cell* c = string::make_at(stack::push_slot(), 0);
        string::concatenate_literal(c, s);
        c->w1 = index;
        Cell copy = *c;
        stack::pop(1);
        return test::hold(copy);
    }

    datatype::NameRecord saved_names[3];
    ActionEntry saved_rows[3][256];
    uint32_t saved_highest = 0;
};

// ---- Registry ------------------------------------------------------------------------------

TEST_F(DispatchTest, TheTableHasARowForEveryIdUpToTheHighest) {
    // The last id's row holds its own entries without touching anything else.
    datatype::Registration r = datatype::blank(TYPE_ID_LIMIT, 0, "last!");
    r.set<ACTION_COUNT>(rec_write);
    r.set<ACT_MAKE>(rec_make);
    datatype::register_type(r);
    EXPECT_EQ(datatype::lookup<ACT_WRITE>(TYPE_ID_LIMIT), &rec_write);
    EXPECT_EQ(datatype::lookup<ACT_MAKE>(TYPE_ID_LIMIT), &rec_make);
    EXPECT_EQ(datatype::highest_type_id, uint32_t(TYPE_ID_LIMIT));
    EXPECT_STREQ(datatype::names[TYPE_ID_LIMIT].name, "last!");
    EXPECT_EQ(datatype::names[TYPE_ID_LIMIT].length, 4);
}

TEST_F(DispatchTest, EveryStartUpTypeIsRegisteredUnderItsName) {
    struct Case {
        uint32_t id;
        const char* name;
    };
    const Case cases[] = {
        {TYPE_DATATYPE, "datatype!"}, {TYPE_UNSET, "unset!"},       {TYPE_NONE, "none!"},
        {TYPE_LOGIC, "logic!"},       {TYPE_BLOCK, "block!"},       {TYPE_CHAR, "char!"},
        {TYPE_INTEGER, "integer!"},   {TYPE_SERIES, "series!"},     {TYPE_POINT2D, "point2D!"},
        {TYPE_POINT3D, "point3D!"},   {TYPE_GET_PATH, "get-path!"}, {TYPE_REF, "ref!"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(datatype::names[c.id].name, nullptr) << c.name;
        EXPECT_STREQ(datatype::names[c.id].name, c.name);
        EXPECT_EQ(datatype::names[c.id].length, int32_t(std::strlen(c.name)) - 1);
    }
    for (uint32_t id = 1; id <= TYPE_POINT3D; ++id) EXPECT_NE(datatype::names[id].name, nullptr) << id;
}

TEST_F(DispatchTest, InheritanceCopiesTheParentsEntriesAtRegistration) {
    datatype::Registration child = datatype::blank(56, SCRATCH, "child!");
    child.inherit_all();
    child.drop(ACT_FIND);  // explicitly empty
    datatype::register_type(child);
    EXPECT_EQ(datatype::lookup<ACT_COMPARE>(56), &rec_compare);
    EXPECT_EQ(datatype::lookup(56, ACT_FIND), nullptr);
    EXPECT_EQ(datatype::lookup(56, ACT_FORM), nullptr);  // the parent has none
    // A later change to the parent's row does not reach the child.
    datatype::action_table[SCRATCH * 256 + ACT_COMPARE - 1] = nullptr;
    EXPECT_EQ(datatype::lookup<ACT_COMPARE>(56), &rec_compare);
    // With no parent an INHERIT entry is empty.
    datatype::Registration orphan = datatype::blank(57, 0, "orphan!");
    orphan.inherit(ACT_ADD);
    datatype::register_type(orphan);
    EXPECT_EQ(datatype::lookup(57, ACT_ADD), nullptr);
}

using DispatchDeathTest = DispatchTest;

TEST_F(DispatchDeathTest, AWrongActionCountEndsWithARuntimeError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    datatype::Registration r = datatype::blank(56, 0, "broken!");
    r.count = 61;
    EXPECT_EXIT(datatype::register_type(r), ::testing::ExitedWithCode(98), "Runtime Error 98");
}

// ---- datatype! ------------------------------------------------------------------------------

TEST_F(DispatchTest, DatatypeFormAndMold) {
    struct Case {
        uint32_t id;
        const char* formed;
        const char* molded;
        const char* molded_all;
    };
    const Case cases[] = {
        {TYPE_INTEGER, "integer", "integer!", "#(integer!)"},
        {TYPE_DATATYPE, "datatype", "datatype!", "#(datatype!)"},
        {TYPE_POINT2D, "point2D", "point2D!", "#(point2D!)"},
        {TYPE_SET_WORD, "set-word", "set-word!", "#(set-word!)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form_text(type_cell(c.id)), c.formed);
        EXPECT_EQ(mold_text(type_cell(c.id)), c.molded);
        EXPECT_EQ(mold_text(type_cell(c.id), false, true), c.molded_all);
    }
}

TEST_F(DispatchTest, DatatypeFormAndMoldReturnTheBudgetLeft) {
    Cell out;
    string::make_at(&out, 0);
    out = test::hold(out);
    Cell v = type_cell(TYPE_INTEGER);
    EXPECT_EQ(actions::form(&v, &out, nullptr, 100), 93);
    EXPECT_EQ(actions::mold(&v, &out, false, false, false, nullptr, 100, 0), 92);
    EXPECT_EQ(actions::mold(&v, &out, false, true, false, nullptr, 100, 0), 89);
}

TEST_F(DispatchTest, PartLimitsCutTheText) {
    EXPECT_EQ(mold_text(type_cell(TYPE_INTEGER), false, true, false, 4), "#(in");
    EXPECT_EQ(form_text(type_cell(TYPE_INTEGER), 3), "int");
    EXPECT_EQ(form_text(type_cell(TYPE_INTEGER), 0), "");
    EXPECT_EQ(form_text(type_cell(TYPE_INTEGER), -4), "");
    EXPECT_EQ(mold_text(type_cell(TYPE_INTEGER), false, false, false, 50), "integer!");
}

TEST_F(DispatchTest, DatatypeComparison) {
    Cell i1 = type_cell(TYPE_INTEGER), i2 = type_cell(TYPE_INTEGER), f = type_cell(TYPE_FLOAT);
    Cell n = int_cell(11);  // an integer whose number is the id of integer!
    EXPECT_TRUE(actions::compare(&i1, &i2, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&i1, &f, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(&i1, &f, COMP_NOT_EQUAL));
    EXPECT_TRUE(actions::compare(&i1, &i2, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(&i1, &i2, COMP_SAME));
    EXPECT_TRUE(actions::compare(&i1, &i2, COMP_FIND));
    EXPECT_FALSE(actions::compare(&i1, &n, COMP_EQUAL));
    for (int32_t op : {COMP_LESSER, COMP_LESSER_EQUAL, COMP_GREATER, COMP_GREATER_EQUAL}) {
        RaisedError e = expect_error([&] { actions::compare(&i1, &f, op); }, "script", "invalid-compare");
        ASSERT_EQ(e.arg_count, 2);
        EXPECT_EQ(e.args[0].w1, uint32_t(TYPE_INTEGER));
        EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_FLOAT));
    }
}

// ---- Lookup errors ------------------------------------------------------------------------------

TEST_F(DispatchTest, AMissingActionRaisesExpectArgWithTheDatatype) {
    RaisedError e = expect_error(
        [] {
            run_action(ACT_APPEND, {int_cell(1), int_cell(2)});
        },
        "script", "expect-arg");
    ASSERT_EQ(e.arg_count, 3);
    EXPECT_EQ(e.args[1].type(), uint32_t(TYPE_DATATYPE));
    EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_INTEGER));
    EXPECT_STREQ(actions::slot_name(ACT_APPEND), "append");
    EXPECT_STREQ(actions::first_arg_name(ACT_APPEND), "series");
    EXPECT_EQ(stack::frame_count(), 0u);  // run_action's frame was restored
    // A header byte past the table is a type without actions, not a read past it.
    Cell odd{200, 0, 0, 0};
    e = expect_error([&] { actions::get_action(&odd, ACT_MOLD); }, "script", "expect-arg");
    EXPECT_EQ(e.args[1].w1, 200u);
}

TEST_F(DispatchTest, EvalPathWithoutImplementationRaisesBadPathType) {
    Cell parent = int_cell(1), element = int_cell(2), path{TYPE_PATH, 0, 0, 0};
    RaisedError e = expect_error(
        [&] {
            (void)actions::eval_path(&parent, &element, nullptr, &path, nullptr, nullptr, 1, false, false, true,
                               false);
        },
        "script", "bad-path-type");
    EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_INTEGER));
    e = expect_error(
        [&] {
            (void)actions::eval_path(&parent, &element, nullptr, nullptr, nullptr, nullptr, -1, false, false, true,
                               false);
        },
        "script", "bad-path-type2");
    EXPECT_EQ(e.args[0].w2, 2u);
}

const ActionEntry scheme_table[ACTION_COUNT - 24] = {};
const ActionEntry* fake_actor(const Cell* port) {
    return port->w3 ? scheme_table : nullptr;
}

TEST_F(DispatchTest, PortsWithANativeActorUseTheSchemeTable) {
    datatype::Registration r = datatype::blank(TYPE_PORT, TYPE_OBJECT, "port!");
    r.set<ACT_READ>(rec_read);
    datatype::Registration saved_port = datatype::blank(TYPE_PORT, TYPE_OBJECT, "port!");
    for (uint32_t k = 1; k <= ACTION_COUNT; ++k) saved_port.entries[k - 1] = datatype::lookup(TYPE_PORT, k);
    datatype::register_type(r);
    actions::port_actor_table = fake_actor;
    Cell plain{TYPE_PORT, 0, 0, 0}, native{TYPE_PORT, 0, 0, 1};
    (void)actions::read(&plain, nullptr, nullptr, false, false, false, nullptr);
    EXPECT_EQ(seen.calls, 1);
    expect_error([&] { (void)actions::read(&native, nullptr, nullptr, false, false, false, nullptr); },
                 "access", "no-port-action");
    datatype::register_type(saved_port);
}

// ---- make/to dispatch -------------------------------------------------------------------------------

TEST_F(DispatchTest, MakeDispatchesOnTheNamedTypeOrThePrototypesOwn) {
    Cell proto = type_cell(SCRATCH), spec = int_cell(5);
    Cell* r = actions::make(&proto, &spec).cell;
    EXPECT_EQ(seen.ints[0], int64_t(SCRATCH));
    EXPECT_EQ(r->w2, 1005u);
    seen.reset();
    Cell own = scratch(1);
    EXPECT_EQ(actions::make(&own, &spec).code, UNWIND_NONE);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.ints[0], int64_t(SCRATCH));
    // Through the stack entry the result lands in the result slot.
    Cell res = run_action(ACT_MAKE, {type_cell(SCRATCH), int_cell(7)});
    EXPECT_EQ(res.type(), SCRATCH);
    EXPECT_EQ(res.w2, 1007u);
}

// ---- Stack entries: arguments and refinements ------------------------------------------------------------

TEST_F(DispatchTest, StackOpsRunOnTheArgumentBase) {
    Cell r = run_action(ACT_ADD, {scratch(2), scratch(40)});
    EXPECT_EQ(r.w2, 42u);
}

TEST_F(DispatchTest, FindPassesRefinementsAsFlagsAndCells) {
    // find series value /part 3 /case /skip 2 /last /match
    Cell* base_before = stack::arg_base;
    run_action(ACT_FIND, {scratch(0), int_cell(9), int_cell(3), int_cell(2)},
               {2, -1, 0, -1, -1, -1, 3, 0, -1, -1, 0});
    EXPECT_EQ(stack::arg_base, base_before);
    ASSERT_EQ(seen.calls, 1);
    ASSERT_NE(seen.cells[2], nullptr);
    EXPECT_EQ(seen.cells[2]->w2, 3u);   // part
    EXPECT_EQ(seen.cells[3], nullptr);  // with
    ASSERT_NE(seen.cells[4], nullptr);
    EXPECT_EQ(seen.cells[4]->w2, 2u);  // skip
    EXPECT_EQ(seen.ints, (std::vector<int64_t>{0, 1, 0, 0, 1, 0, 0, 1}));
}

TEST_F(DispatchTest, PickAndPokeTakeTheIndexArgument) {
    struct Case {
        Cell index;
        int32_t expected;
    };
    const Case cases[] = {
        {logic::cell(true), 1},    {logic::cell(false), 2}, {int_cell(-3), -3},
        {test::char_cell(65), 65}, {none::cell(), 0},       {float_cell(2.0), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(actions::index_argument(&c.index), c.expected);
        seen.reset();
        run_action(ACT_PICK, {scratch(0), c.index});
        EXPECT_EQ(seen.ints[0], c.expected);
        seen.reset();
        Cell r = run_action(ACT_POKE, {scratch(0), c.index, int_cell(77)});
        EXPECT_EQ(seen.ints[0], c.expected);
        EXPECT_EQ(r.type(), uint32_t(TYPE_INTEGER));  // poke answers the value
        EXPECT_EQ(r.w2, 77u);
    }
}

TEST_F(DispatchTest, LengthMinusOneIsNone) {
    Cell r = run_action(ACT_LENGTH_Q, {scratch(uint32_t(-1))});
    EXPECT_EQ(r.type(), uint32_t(TYPE_NONE));
    r = run_action(ACT_LENGTH_Q, {scratch(4)});
    EXPECT_EQ(r.type(), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(r.w2, 4u);
}

TEST_F(DispatchTest, AppendAndInsertPartAndDupRules) {
    struct Case {
        const char* name;
        bool append;
        Cell value;
        bool use_part;
        Cell part;
        int32_t dup;  // -1: no /dup
        bool called;
        int32_t part_passed;
        int32_t dup_passed;
        uint32_t value_index_after;
    };
    Cell s = text("abcdef", 4);
    const Case cases[] = {
        {"no refinement", true, int_cell(1), false, {}, -1, true, -1, 1, 0},
        {"count", true, s, true, int_cell(2), -1, true, 2, 1, 4},
        {"count 0", true, s, true, int_cell(0), -1, false, 0, 0, 4},
        {"negative count moves back", true, s, true, int_cell(-3), -1, true, 3, 1, 1},
        {"negative count past head", true, s, true, int_cell(-9), -1, true, 4, 1, 0},
        {"negative count at head", true, text("abc", 0), true, int_cell(-1), -1, false, 0, 0, 0},
        {"position after", false, s, true, text("x", 0), -1, true, 0, 1, 4},  // replaced below
        {"dup 3", false, int_cell(1), false, {}, 3, true, -1, 3, 0},
        {"dup 0", false, int_cell(1), false, {}, 0, false, 0, 0, 0},
        {"dup negative", true, int_cell(1), false, {}, -2, false, 0, 0, 0},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "position after") {
            c.part = s;
            c.part.w1 = 6;  // same series, two past the value's position
            c.part_passed = 2;
        }
        seen.reset();
        std::vector<Cell> args = {scratch(0), c.value};
        int32_t refs[3] = {-1, -1, -1};
        if (c.use_part) {
            refs[0] = int32_t(args.size());
            args.push_back(c.part);
        }
        if (c.dup >= -2 && c.dup != -1) {
            refs[2] = int32_t(args.size());
            args.push_back(int_cell(c.dup));
        }
        Cell* base = stack::mark_native(nullptr);
        for (const Cell& a : args) stack::push(a);
        EXPECT_EQ(actions::generic_table[c.append ? ACT_APPEND : ACT_INSERT](refs), UNWIND_NONE);
        EXPECT_EQ(seen.calls, c.called ? 1 : 0);
        if (c.called) {
            EXPECT_EQ(seen.ints[0], c.part_passed);
            EXPECT_EQ(seen.ints[2], c.dup_passed);
            EXPECT_EQ(seen.ints[3], c.append ? 1 : 0);
        }
        EXPECT_EQ(base->type(), SCRATCH);  // the result slot still holds the series
        if (c.value.type() == TYPE_STRING) {
            EXPECT_EQ(base[1].w1, c.value_index_after);
        }
        stack::unwind_drop();
    }
}

TEST_F(DispatchTest, PartPositionErrors) {
    Cell s = text("abcdef", 2), other = text("xyz", 1);
    RaisedError e = expect_error(
        [&] {
            run_action(ACT_APPEND, {scratch(0), s, other}, {2});
        },
        "script", "invalid-refine-arg");
    EXPECT_EQ(e.args[1].w2, other.w2);
    e = expect_error(
        [&] {
            run_action(ACT_INSERT, {scratch(0), int_cell(1), s}, {2});
        },
        "script", "invalid-part");
    EXPECT_EQ(e.args[0].w2, s.w2);
    expect_error(
        [&] {
            run_action(ACT_CHANGE, {scratch(0), int_cell(1), s}, {2});
        },
        "script", "invalid-refine-arg");
}

TEST_F(DispatchTest, InsertClampsTheTargetToItsTail) {
    datatype::Registration r = datatype::blank(56, TYPE_STRING, "text!");
    r.set<ACT_INSERT>(rec_insert);
    r.set<ACT_APPEND>(rec_insert);
    datatype::register_type(r);
    // A string-typed target past its tail: insert clamps, append leaves it.
    Cell target = text("abc", 9);
    target.set_type(TYPE_STRING);
    datatype::Registration saved = datatype::blank(TYPE_STRING, TYPE_SERIES, "string!");
    for (uint32_t k = 1; k <= ACTION_COUNT; ++k) saved.entries[k - 1] = datatype::lookup(TYPE_STRING, k);
    datatype::Registration with_rec = saved;
    with_rec.set<ACT_INSERT>(rec_insert);
    with_rec.set<ACT_APPEND>(rec_insert);
    datatype::register_type(with_rec);
    Cell r1 = run_action(ACT_INSERT, {target, int_cell(1)});
    Cell r2 = run_action(ACT_APPEND, {target, int_cell(1)});
    datatype::register_type(saved);
    EXPECT_EQ(r1.w1, 3u);
    EXPECT_EQ(r2.w1, 9u);
}

TEST_F(DispatchTest, ChangePartRules) {
    Cell s = text("abcdef", 3);
    s.set_type(SCRATCH);  // a scratch series sharing the string's node
    struct Case {
        Cell part;
        int32_t passed;
        uint32_t index_after;
    };
    Cell pos = s;
    pos.w1 = 5;
    Cell back = s;
    back.w1 = 1;
    const Case cases[] = {
        {int_cell(2), 2, 3}, {int_cell(-2), 2, 1}, {int_cell(-10), 3, 0}, {pos, 2, 3}, {back, 2, 1},
    };
    for (const Case& c : cases) {
        seen.reset();
        Cell* base = stack::mark_native(nullptr);
        stack::push(s);
        stack::push(int_cell(0));
        stack::push(c.part);
        int32_t refs[3] = {2, -1, -1};
        EXPECT_EQ(actions::generic_table[ACT_CHANGE](refs), UNWIND_NONE);
        ASSERT_EQ(seen.calls, 1);
        EXPECT_EQ(seen.ints[0], c.passed);
        EXPECT_EQ(base->w1, c.index_after);
        stack::unwind_drop();
    }
}

TEST_F(DispatchTest, CopyTypesMustBeADatatypeOrTypeset) {
    Cell r = run_action(ACT_COPY, {scratch(1), type_cell(TYPE_INTEGER)}, {-1, 0, 1});
    EXPECT_EQ(r.type(), uint32_t(TYPE_NONE));  // the recorder answers the pushed result cell
    EXPECT_EQ(seen.ints[0], 1);
    RaisedError e = expect_error(
        [&] {
            run_action(ACT_COPY, {scratch(1), int_cell(3)}, {-1, -1, 1});
        },
        "script", "expect-arg");
    EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_INTEGER));
}

TEST_F(DispatchTest, ModifyAnswersTheTarget) {
    Cell r = run_action(ACT_MODIFY, {scratch(8), int_cell(1), int_cell(2)}, {0});
    EXPECT_EQ(r.type(), SCRATCH);
    EXPECT_EQ(r.w2, 8u);
    EXPECT_EQ(seen.ints[0], 1);
}

TEST_F(DispatchTest, EveryWordedSlotHasAStackEntry) {
    for (uint32_t slot = 1; slot <= ACTION_COUNT; ++slot) {
        bool internal = slot == ACT_EVAL_PATH || slot == ACT_SET_PATH || slot == ACT_COMPARE;
        EXPECT_EQ(actions::generic_table[slot] == nullptr, internal) << slot;
        EXPECT_EQ(std::strlen(actions::slot_name(slot)) == 0, internal) << slot;
    }
}

// ---- compare_value ---------------------------------------------------------------------------------------

TEST_F(DispatchTest, CompareValueOrdersSpecialTypesByPayload) {
    struct Case {
        Cell a, b;
        int32_t expected;
    };
    const Case cases[] = {
        {logic::cell(false), logic::cell(true), -1},
        {logic::cell(true), logic::cell(false), 1},
        {logic::cell(true), logic::cell(true), 0},
        {Cell{TYPE_NATIVE, 3, 0, 0}, Cell{TYPE_NATIVE, 0x80000000u, 0, 0}, -1},  // unsigned order
        {Cell{TYPE_ACTION, 9, 0, 0}, Cell{TYPE_ACTION, 9, 0, 0}, 0},
        {Cell{TYPE_FUNCTION, 0, 0, 7}, Cell{TYPE_FUNCTION, 0, 0, 5}, 1},
        {Cell{TYPE_ROUTINE, 0, 0, 5}, Cell{TYPE_ROUTINE, 0, 0, 6}, -1},
    };
    for (const Case& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(actions::compare_value(&a, &b, COMP_SORT), c.expected);
    }
    Cell a = scratch(3), b = scratch(9);
    EXPECT_LT(actions::compare_value(&a, &b, COMP_CASE_SORT), 0);
    EXPECT_EQ(seen.ints[0], COMP_CASE_SORT);
}

// ---- Cycle stack -----------------------------------------------------------------------------------------

TEST_F(DispatchTest, CycleStackPushPopFind) {
    cycles::push(10);
    cycles::push(20);
    cycles::push(30);
    EXPECT_TRUE(cycles::find(20));
    EXPECT_FALSE(cycles::find(40));
    cycles::pop();
    EXPECT_FALSE(cycles::find(30));
    cycles::drop(5);
    EXPECT_EQ(cycles::depth(), 0u);
    cycles::pop();  // on an empty stack: nothing
    EXPECT_EQ(cycles::depth(), 0u);
    cycles::push(1);
    cycles::reset();
    EXPECT_FALSE(cycles::find(1));
}

TEST_F(DispatchTest, CycleStackTooDeepAtTheThousandthEntry) {
    for (uint32_t i = 1; i < cycles::ENTRIES; ++i) cycles::push(i);
    EXPECT_EQ(cycles::depth(), 999u);
    expect_error([] { cycles::push(5000); }, "internal", "too-deep");
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_FALSE(cycles::find(1));
    cycles::push(7);  // usable again
    EXPECT_TRUE(cycles::find(7));
}

TEST_F(DispatchTest, CycleMarkers) {
    struct Case {
        uint32_t type;
        const char* mold;
    };
    const Case cases[] = {
        {TYPE_BLOCK, "[...]"},
        {TYPE_HASH, "[...]"},
        {TYPE_PAREN, "(...)"},
        {TYPE_MAP, "#[...]"},
        {TYPE_PATH, "..."},
        {TYPE_SET_PATH, "..."},
        {TYPE_OBJECT, "make object! [...]"},
    };
    for (const Case& c : cases) {
        for (bool mold : {true, false}) {
            cycles::reset();
            Cell v = c.type == TYPE_OBJECT ? Cell{c.type, 777, 1, 0} : Cell{c.type, 1, 777, 0};
            Cell out;
            string::make_at(&out, 0);
            out = test::hold(out);
            int32_t budget = 100;
            EXPECT_FALSE(string::append_cycle_marker(&v, &out, budget, mold));
            EXPECT_EQ(budget, 100);
            cycles::push(777);
            EXPECT_TRUE(string::append_cycle_marker(&v, &out, budget, mold));
            std::string expected = mold ? c.mold : "...";
            EXPECT_EQ(test::string_text(out), expected);
            EXPECT_EQ(budget, 100 - int32_t(expected.size()));
        }
    }
}

}  // namespace
