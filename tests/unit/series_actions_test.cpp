// series!: navigation, pick/poke, remove, reverse, take, copy, clear, move
// and random, on blocks through the generic entries and on the other unit
// sizes (strings, binary!, vector!) through the shared implementations.
#include <algorithm>
#include <string>
#include <vector>

#include "block_builder.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/random.h"
#include "runtime/memory.h"

using namespace kiv;
using namespace kiv::test;

namespace {

class SeriesActionsTest : public RuntimeTest {};

std::string shown(const Cell& v) {
    return v.type() == TYPE_NONE ? "none" : mold_text(v);
}

// ---- Navigation ----------------------------------------------------------------------------

struct NavCase {
    const char* path;
    uint32_t position;
    int32_t offset;  // for at and skip
    uint32_t expected;
};

TEST_F(SeriesActionsTest, NavigationTable) {
    Cell b = load("[1 2 3]");
    const NavCase cases[] = {
        {"at", 0, 1, 0},   {"at", 0, 0, 0},     {"at", 0, 2, 1},    {"at", 2, -1, 1},   {"at", 2, 0, 2},
        {"at", 1, 1, 1},   {"at", 0, 100, 3},   {"at", 2, -100, 0}, {"at", 3, 1, 3},    {"skip", 0, 1, 1},
        {"skip", 0, 0, 0}, {"skip", 0, 100, 3}, {"skip", 2, -1, 1}, {"skip", 1, -5, 0}, {"skip", 3, 0, 3},
        {"next", 0, 0, 1}, {"next", 2, 0, 3},   {"next", 3, 0, 3},  {"back", 2, 0, 1},  {"back", 0, 0, 0},
        {"head", 2, 0, 0}, {"tail", 1, 0, 3},   {"back", 5, 0, 2},  // past the tail: clamped first
    };
    for (const auto& c : cases) {
        Cell s = at_pos(b, c.position);
        bool offset = std::string(c.path) == "at" || std::string(c.path) == "skip";
        Cell r = offset ? call(c.path, {s, int_cell(c.offset)}) : call(c.path, {s});
        EXPECT_EQ(r.w1, c.expected) << c.path << " from " << c.position << " by " << c.offset;
        EXPECT_EQ(r.w2, b.w2);
        EXPECT_EQ(r.type(), TYPE_BLOCK);
    }
    expect_error([&] { call("at", {b, none::cell()}); }, "script", "invalid-arg");
    expect_error([&] { call("skip", {b, load("1.5")}); }, "script", "invalid-arg");
}

TEST_F(SeriesActionsTest, Queries) {
    Cell b = load("[1 2 3]");
    EXPECT_EQ(call("head?", {b}).w1, 1u);
    EXPECT_EQ(call("head?", {at_pos(b, 1)}).w1, 0u);
    EXPECT_EQ(call("tail?", {at_pos(b, 3)}).w1, 1u);
    EXPECT_EQ(call("tail?", {at_pos(b, 2)}).w1, 0u);
    EXPECT_EQ(call("index?", {at_pos(b, 3)}).w2, 4u);  // tail: length + 1
    EXPECT_EQ(call("length?", {at_pos(b, 1)}).w2, 2u);
    EXPECT_EQ(call("length?", {at_pos(b, 1)}).type(), TYPE_INTEGER);
    // A position left past the tail by a change through another reference.
    Cell later = at_pos(b, 3);
    call("clear", {at_pos(b, 1)});
    EXPECT_EQ(call("length?", {later}).w2, 0u);
    EXPECT_EQ(call("tail?", {later}).w1, 1u);
    Cell clamped = later;
    EXPECT_EQ(series::get_length(&clamped, false), 0u);
    EXPECT_EQ(clamped.w1, 1u);  // clamped to the new tail
    EXPECT_EQ(series::get_length(&clamped, true), 1u);
}

// ---- pick / poke ----------------------------------------------------------------------------

TEST_F(SeriesActionsTest, PickTable) {
    Cell b = load("[1 2 3]");
    struct {
        uint32_t position;
        Cell index;
        const char* expected;
    } cases[] = {
        {0, int_cell(1), "1"},        {0, int_cell(3), "3"},     {0, int_cell(4), "none"},
        {0, int_cell(0), "none"},     {2, int_cell(-1), "2"},    {2, int_cell(-2), "1"},
        {2, int_cell(-3), "none"},    {1, int_cell(1), "2"},     {0, logic::cell(true), "1"},
        {0, logic::cell(false), "2"}, {0, none::cell(), "none"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shown(call("pick", {at_pos(b, c.position), c.index})), c.expected)
            << "pick at " << c.position << " index " << int32_t(c.index.w2);
    }
}

TEST_F(SeriesActionsTest, Poke) {
    Cell b = load("[1 2 3]");
    EXPECT_EQ(shown(call("poke", {b, int_cell(2), int_cell(9)})), "9");
    EXPECT_EQ(mold_text(b), "[1 9 3]");
    call("poke", {at_pos(b, 2), int_cell(-2), load("[5]")});
    EXPECT_EQ(mold_text(b), "[[5] 9 3]");
    for (int32_t bad : {0, 4, -1}) {
        RaisedError e = expect_error(
            [&] {
                call("poke", {b, int_cell(bad), int_cell(1)});
            },
            "script", "out-of-range");
        EXPECT_EQ(int32_t(e.args[0].w2), bad);
    }
    EXPECT_EQ(mold_text(b), "[[5] 9 3]");
}

// ---- remove / reverse / clear ---------------------------------------------------------------

struct ChangeCase {
    const char* source;
    uint32_t position;
    const char* path;
    std::vector<const char*> args;
    const char* whole;
};

Cell arg_value(const Cell& series, const char* text) {
    if (text[0] == '@') return at_pos(series, uint32_t(std::atoi(text + 1)));
    return load(text);
}

void run_cases(const std::vector<ChangeCase>& cases) {
    for (const auto& c : cases) {
        Cell s = at_pos(load(c.source), c.position);
        std::vector<Cell> args{s};
        for (const char* a : c.args) args.push_back(arg_value(s, a));
        call(c.path, args);
        EXPECT_EQ(mold_from_head(s), c.whole) << c.path << " on " << c.source << " at " << c.position;
    }
}

TEST_F(SeriesActionsTest, RemoveTable) {
    run_cases({
        {"[1 2 3]", 0, "remove", {}, "[2 3]"},
        {"[1 2 3]", 2, "remove", {}, "[1 2]"},
        {"[1 2 3]", 3, "remove", {}, "[1 2 3]"},
        {"[1 2 3]", 0, "remove/part", {"2"}, "[3]"},
        {"[1 2 3]", 0, "remove/part", {"9"}, "[]"},
        {"[1 2 3]", 0, "remove/part", {"0"}, "[1 2 3]"},
        {"[1 2 3]", 0, "remove/part", {"-1"}, "[1 2 3]"},
        {"[1 2 3]", 0, "remove/part", {"@2"}, "[3]"},
        {"[1 2 3]", 2, "remove/part", {"@1"}, "[1 2 3]"},
        {"[1 10 2 20]", 0, "remove/key", {"2"}, "[1 10]"},
        {"[1 10 2 20 3]", 0, "remove/key/part", {"2", "2"}, "[1 10]"},
        {"[1 10 2 20]", 0, "remove/key", {"7"}, "[1 10 2 20]"},
        {"[1 10 2]", 0, "remove/key", {"2"}, "[1 10]"},
    });
    Cell b = load("[1 2]");
    expect_error([&] { call("remove/part", {b, none::cell()}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("remove/part", {b, load("[1 2]")}); }, "script", "invalid-refine-arg");
}

TEST_F(SeriesActionsTest, ReverseTable) {
    run_cases({
        {"[1 2 3]", 0, "reverse", {}, "[3 2 1]"},
        {"[1 2 3 4]", 0, "reverse", {}, "[4 3 2 1]"},
        {"[1 2 3 4]", 1, "reverse", {}, "[1 4 3 2]"},
        {"[1 2 3]", 3, "reverse", {}, "[1 2 3]"},
        {"[1 2 3 4 5 6]", 0, "reverse/skip", {"2"}, "[5 6 3 4 1 2]"},
        {"[1 2 3 4 5 6]", 0, "reverse/skip", {"3"}, "[4 5 6 1 2 3]"},
        {"[1 2 3 4 5 6]", 0, "reverse/skip", {"6"}, "[1 2 3 4 5 6]"},
        {"[1 2 3]", 0, "reverse/part", {"2"}, "[2 1 3]"},
        {"[1 2 3]", 0, "reverse/part", {"@2"}, "[2 1 3]"},
        {"[1 2 3]", 0, "reverse/part", {"9"}, "[3 2 1]"},
        {"[1 2 3]", 0, "reverse/part", {"0"}, "[1 2 3]"},
        {"[1 2 3 4 5 6]", 0, "reverse/part/skip", {"4", "2"}, "[3 4 1 2 5 6]"},
        {"[1 2 3 4 5 6]", 0, "reverse/part/skip", {"3", "3"}, "[1 2 3 4 5 6]"},
    });
    Cell b = load("[1 2 3 4 5 6]");
    expect_error([&] { call("reverse/skip", {b, int_cell(4)}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("reverse/skip", {b, int_cell(0)}); }, "script", "out-of-range");
    expect_error([&] { call("reverse/skip", {b, int_cell(7)}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("reverse/skip", {b, none::cell()}); }, "script", "invalid-refine-arg");
    EXPECT_EQ(mold_text(b), "[1 2 3 4 5 6]");
}

TEST_F(SeriesActionsTest, Clear) {
    run_cases({
        {"[1 2 3]", 1, "clear", {}, "[1]"},
        {"[1 2 3]", 0, "clear", {}, "[]"},
        {"[1 2 3]", 3, "clear", {}, "[1 2 3]"},
    });
}

// ---- take -----------------------------------------------------------------------------------

struct TakeCase {
    const char* source;
    uint32_t position;
    const char* path;
    std::vector<const char*> args;
    const char* result;
    const char* whole;
};

TEST_F(SeriesActionsTest, TakeTable) {
    const std::vector<TakeCase> cases = {
        {"[1 2 3]", 0, "take", {}, "1", "[2 3]"},
        {"[[1] 2 3]", 0, "take", {}, "[1]", "[2 3]"},  // the value itself, not a block of one
        {"[1 2 3]", 0, "take/last", {}, "3", "[1 2]"},
        {"[1 2 3]", 1, "take/last", {}, "3", "[1 2]"},
        {"[1 2 3]", 0, "take/part", {"2"}, "[1 2]", "[3]"},
        {"[1 2 3]", 0, "take/part", {"9"}, "[1 2 3]", "[]"},
        {"[1 2 3]", 0, "take/part", {"-2"}, "[1 2]", "[3]"},
        {"[1 2 3]", 0, "take/last/part", {"2"}, "[2 3]", "[1]"},
        {"[1 2 3]", 0, "take/part", {"@2"}, "[1 2]", "[3]"},
        {"[1 2 3]", 2, "take/part", {"@1"}, "[]", "[1 2 3]"},
        {"[1 2 3]", 0, "take/last/part", {"@1"}, "[2 3]", "[1]"},
        // A /part count of 0 takes nothing.
        {"[1 2 3]", 0, "take/part", {"0"}, "[]", "[1 2 3]"},
        {"[1 2 3]", 0, "take/last/part", {"0"}, "[]", "[1 2 3]"},
        {"[1 2 3]", 3, "take", {}, "none", "[1 2 3]"},
        {"[]", 0, "take/part", {"2"}, "none", "[]"},
    };
    for (const auto& c : cases) {
        Cell s = at_pos(load(c.source), c.position);
        std::vector<Cell> args{s};
        for (const char* a : c.args) args.push_back(arg_value(s, a));
        Cell r = call(c.path, args);
        EXPECT_EQ(shown(r), c.result) << c.path << " on " << c.source;
        EXPECT_EQ(mold_from_head(s), c.whole) << c.path << " on " << c.source;
        if (r.type() == TYPE_BLOCK && c.args.size()) {
            EXPECT_NE(r.w2, s.w2) << "a new block";
        }
    }
    Cell b = load("[1 2]");
    expect_error([&] { call("take/part", {b, none::cell()}); }, "script", "invalid-refine-arg");
}

// ---- copy -----------------------------------------------------------------------------------

TEST_F(SeriesActionsTest, CopyTable) {
    const std::vector<TakeCase> cases = {
        {"[1 2 3]", 0, "copy", {}, "[1 2 3]", ""},
        {"[1 2 3]", 1, "copy", {}, "[2 3]", ""},
        {"[1 2 3]", 3, "copy", {}, "[]", ""},
        {"[1 2 3]", 5, "copy", {}, "[]", ""},
        {"[1 2 3]", 0, "copy/part", {"2"}, "[1 2]", ""},
        {"[1 2 3]", 0, "copy/part", {"9"}, "[1 2 3]", ""},
        {"[1 2 3 4]", 3, "copy/part", {"-2"}, "[2 3]", ""},
        {"[1 2 3 4]", 1, "copy/part", {"-5"}, "[1]", ""},
        {"[1 2 3 4]", 1, "copy/part", {"@3"}, "[2 3]", ""},
        {"[1 2 3 4]", 3, "copy/part", {"@1"}, "[2 3]", ""},
    };
    for (const auto& c : cases) {
        Cell s = at_pos(load(c.source), c.position);
        std::vector<Cell> args{s};
        for (const char* a : c.args) args.push_back(arg_value(s, a));
        Cell r = call(c.path, args);
        EXPECT_EQ(shown(r), c.result) << c.path << " on " << c.source << " at " << c.position;
        EXPECT_EQ(r.w1, 0u);
        EXPECT_NE(r.w2, s.w2);
    }
    // A pair! selects from x (1-based) to y.
    Cell b = load("[1 2 3 4 5]");
    EXPECT_EQ(mold_text(call("copy/part", {b, Cell{TYPE_PAIR, 0, 2, 4}})), "[2 3]");
    EXPECT_EQ(mold_text(call("copy/part", {b, Cell{TYPE_PAIR, 0, 4, 2}})), "[]");
    expect_error([&] { call("copy/part", {b, none::cell()}); }, "script", "invalid-refine-arg");
}

// ---- move -----------------------------------------------------------------------------------

TEST_F(SeriesActionsTest, MoveWithinOneSeries) {
    run_cases({
        {"[1 2 3 4]", 0, "move", {"@2"}, "[2 1 3 4]"},
        {"[1 2 3 4]", 0, "move", {"@4"}, "[2 3 4 1]"},
        {"[1 2 3 4]", 0, "move/part", {"@4", "2"}, "[3 4 1 2]"},
        {"[1 2 3 4]", 3, "move", {"@0"}, "[4 1 2 3]"},
        {"[1 2 3 4]", 2, "move/part", {"@0", "9"}, "[3 4 1 2]"},
        {"[1 2 3 4]", 0, "move/part", {"@1", "2"}, "[1 2 3 4]"},  // target inside the moved run
        {"[1 2 3 4]", 0, "move/part", {"@2", "0"}, "[1 2 3 4]"},
        {"[1 2 3 4]", 4, "move", {"@0"}, "[1 2 3 4]"},
    });
}

TEST_F(SeriesActionsTest, MoveBetweenSeries) {
    Cell a = load("[1 2 3]");
    Cell b = load("[7 8]");
    Cell r = call("move/part", {at_pos(a, 1), at_pos(b, 1), int_cell(2)});
    EXPECT_EQ(mold_text(a), "[1]");
    EXPECT_EQ(mold_text(b), "[7 2 3 8]");
    EXPECT_EQ(r.w2, b.w2);
    EXPECT_EQ(r.w1, 1u);
    // Into a paren (both block-like), growing it.
    Cell p = load("()");
    Cell big = load("[]");
    for (int i = 0; i < 50; ++i) call("append", {big, int_cell(i)});
    call("move/part", {big, p, int_cell(50)});
    EXPECT_EQ(block::cells_length(&p), 50u);
    EXPECT_EQ(block::cells_length(&big), 0u);
    // Block into text: move-bad, nothing moved.
    Cell s = *string::make_at(stack::push(none::cell()), 4);
    RaisedError e = expect_error([&] { call("move", {a, s}); }, "script", "move-bad");
    EXPECT_EQ(e.args[0].w1, uint32_t(TYPE_BLOCK));
    EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_STRING));
    EXPECT_EQ(mold_text(a), "[1]");
}

// ---- random ---------------------------------------------------------------------------------

TEST_F(SeriesActionsTest, RandomShufflesAPermutation) {
    Cell b = load("[]");
    for (int i = 0; i < 40; ++i) call("append", {b, int_cell(i)});
    Cell from = at_pos(b, 5);
    call("random", {from});
    std::vector<int32_t> seen;
    bool moved = false;
    for (int32_t i = 1; i <= 40; ++i) {
        int32_t v = int32_t(call("pick", {b, int_cell(i)}).w2);
        if (i <= 5) {
            EXPECT_EQ(v, i - 1) << "before the position nothing moves";
        }
        if (v != i - 1) moved = true;
        seen.push_back(v);
    }
    std::sort(seen.begin(), seen.end());
    for (int32_t i = 0; i < 40; ++i) EXPECT_EQ(seen[size_t(i)], i);
    EXPECT_TRUE(moved);  // 35! orderings: staying sorted is practically impossible
    Cell one = call("random/only", {b});
    EXPECT_EQ(one.type(), TYPE_INTEGER);
    EXPECT_EQ(call("random/only", {at_pos(b, 40)}).type(), TYPE_NONE);
}

TEST_F(SeriesActionsTest, RandomSeedRepeatsTheDraws) {
    auto shuffled = [&] {
        call("random/seed", {load("[1 2 3]")});
        Cell b = load("[1 2 3 4 5 6 7 8 9 10]");
        call("random", {b});
        return mold_text(b);
    };
    EXPECT_EQ(shuffled(), shuffled());
    EXPECT_EQ(call("random/seed", {load("[1]")}).type(), TYPE_UNSET);
}

// Both forms draw from the generator's uniform 1..n: /only once over what
// remains, the shuffle once per place with the places left (itself included).
TEST_F(SeriesActionsTest, RandomUsesTheGeneratorsUniformDraw) {
    for (int32_t seed : {5, 77, 123456}) {
        call("random/seed", {int_cell(seed)});
        Cell b = load("[10 20 30 40 50 60 70 80 90]");
        Cell picked = call("random/only", {at_pos(b, 2)});
        call("random", {at_pos(b, 1)});
        std::vector<int32_t> got;
        for (int32_t i = 1; i <= 9; ++i) got.push_back(int32_t(call("pick", {b, int_cell(i)}).w2));

        random::seed(uint32_t(seed));
        EXPECT_EQ(int32_t(picked.w2), 10 * (2 + random::int_(7, false))) << seed;
        std::vector<int32_t> expected = {10, 20, 30, 40, 50, 60, 70, 80, 90};
        for (size_t i = 1; i + 1 < expected.size(); ++i)
            std::swap(expected[i], expected[i + size_t(random::int_(int32_t(expected.size() - i), false)) - 1]);
        EXPECT_EQ(got, expected) << seed;
    }
}

// ---- reflect / modify ---------------------------------------------------------------------------

TEST_F(SeriesActionsTest, ReflectOwned) {
    Cell b = load("[1 2]");
    Cell owned = load("OWNED");  // fields compare without case
    Cell r = b;
    series::reflect(&r, owned.w2);
    EXPECT_EQ(r.type(), TYPE_NONE);  // no series has an owner yet
    Cell other = load("body");
    Cell r2 = b;
    expect_error([&] { series::reflect(&r2, other.w2); }, "internal", "not-done");
}

// ---- Other unit sizes -------------------------------------------------------------------------

// A string! of the text, kept reachable until the next test.
Cell text(const char* s) {
    Cell* c = string::make_at(stack::push(none::cell()), 8);
    string::concatenate_literal(c, s);
    Cell v = *c;
    stack::pop(1);
    return hold(v);
}

TEST_F(SeriesActionsTest, TextUnits) {
    Cell s = text("abcd");
    Cell* p = series::pick(&s, 2, nullptr);
    EXPECT_EQ(p->type(), TYPE_CHAR);
    EXPECT_EQ(p->w2, uint32_t('b'));
    stack::pop(1);
    Cell omega = char_cell(0x3A9);
    series::poke(&s, 3, &omega, nullptr);  // widens the buffer
    EXPECT_EQ(string_text(s),
              "ab\xCE\xA9"
              "d");
    EXPECT_EQ(series::buffer(&s)->unit(), 2u);
    Cell one = int_cell(1);
    expect_error([&] { series::poke(&s, 1, &one, nullptr); }, "script", "invalid-arg");
    series::reverse(&s, nullptr, nullptr);
    EXPECT_EQ(string_text(s),
              "d\xCE\xA9"
              "ba");
    Cell two = int_cell(2);
    series::remove(&s, &two, nullptr);
    EXPECT_EQ(string_text(s), "ba");
    Cell t = s;
    series::take(&t, nullptr, false, true);
    EXPECT_EQ(t.type(), TYPE_CHAR);
    EXPECT_EQ(t.w2, uint32_t('a'));
    EXPECT_EQ(string_text(s), "b");
    Cell* copy = stack::push(none::cell());
    series::copy(&s, copy, nullptr, false, nullptr);
    EXPECT_EQ(copy->type(), TYPE_STRING);
    EXPECT_EQ(string_text(*copy), "b");
    EXPECT_EQ(series::buffer(copy)->unit(), 2u);
}

TEST_F(SeriesActionsTest, MoveTextBetweenWidths) {
    Cell wide = text("xy");
    Cell omega = char_cell(0x3A9);
    series::poke(&wide, 1, &omega, nullptr);
    Cell narrow = text("ab");
    narrow.w1 = 1;
    Cell two = int_cell(2);
    series::move(&wide, &narrow, &two);
    EXPECT_EQ(string_text(at_pos(narrow, 0)), "a\xCE\xA9yb");
    EXPECT_EQ(string_text(wide), "");
}

TEST_F(SeriesActionsTest, BinaryUnits) {
    Cell* b = stack::push(none::cell());
    Off node = memory::alloc_bytes(8);
    SeriesBuffer* buf = buffer_of(node);
    const uint8_t bytes[] = {1, 2, 255};
    std::memcpy(buf->head_ptr(), bytes, 3);
    buf->tail = buf->head + 3;
    *b = Cell{TYPE_BINARY, 0, node, 0};
    Cell* p = series::pick(b, 3, nullptr);
    EXPECT_EQ(p->type(), TYPE_INTEGER);
    EXPECT_EQ(p->w2, 255u);
    Cell v = int_cell(7);
    series::poke(b, 1, &v, nullptr);
    EXPECT_EQ(buffer_of(node)->head_ptr()[0], 7);
    Cell big = int_cell(256);
    expect_error([&] { series::poke(b, 1, &big, nullptr); }, "script", "out-of-range");
    Cell neg = int_cell(-1);
    expect_error([&] { series::poke(b, 1, &neg, nullptr); }, "script", "out-of-range");
    EXPECT_EQ(series::buffer_length(b), 3u);
}

TEST_F(SeriesActionsTest, VectorUnits) {
    Cell* v = stack::push(none::cell());
    Off node = memory::alloc_series(4, 2, 0);
    SeriesBuffer* buf = buffer_of(node);
    const uint16_t items[] = {0xFFFF, 5};
    std::memcpy(buf->head_ptr(), items, sizeof items);
    buf->tail = buf->head + sizeof items;
    *v = Cell{TYPE_VECTOR, 0, node, TYPE_INTEGER};
    Cell* p = series::pick(v, 1, nullptr);
    EXPECT_EQ(p->type(), TYPE_INTEGER);
    EXPECT_EQ(int32_t(p->w2), -1);  // integer elements are signed
    Cell chars = *v;
    chars.w3 = TYPE_CHAR;
    p = series::pick(&chars, 1, nullptr);
    EXPECT_EQ(p->type(), TYPE_CHAR);
    EXPECT_EQ(p->w2, 0xFFFFu);  // char elements never read negative
    Cell f = float_cell(1.0);
    expect_error([&] { series::poke(v, 1, &f, nullptr); }, "script", "invalid-arg");
    Cell n = int_cell(-300);
    series::poke(v, 2, &n, nullptr);
    EXPECT_EQ(int32_t(series::pick(v, 2, nullptr)->w2), -300);
    Cell* c = stack::push(none::cell());
    series::copy(v, c, nullptr, false, nullptr);
    EXPECT_EQ(c->type(), TYPE_VECTOR);
    EXPECT_EQ(c->w3, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(series::buffer_length(c), 2u);
}

}  // namespace
