// block!: what scripts cannot reach. The actions' behaviour is covered by
// tests/scripts/series/block-actions.kiv; here: the cycle stack after walks,
// argument checks that the natives' typed specifications keep scripts from
// reaching, the new-line marker of a copied cell, the hash! table upkeep,
// word look-ups by symbol id and the block primitives.
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

// ---- cycles -------------------------------------------------------------------------------

// Walks over self-containing blocks (mold, form, compare, copy/deep) leave
// no entry on the cycle stack, also when they end with an error.
TEST_F(BlockTest, CycleWalksLeaveNoEntry) {
    Cell b = load("[]");
    call("append/only", {b, b});
    EXPECT_EQ(mold_text(b), "[[...]]");
    EXPECT_EQ(form_text(b), "...");
    EXPECT_EQ(cycles::depth(), 0u);
    Cell c = load("[]");
    call("append/only", {c, c});
    EXPECT_TRUE(actions::compare(&b, &c, COMP_EQUAL));
    EXPECT_EQ(cycles::depth(), 0u);
    expect_error([&] { call("copy/deep", {b}); }, "internal", "no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
    // A value whose type has no mold (context!) raises in the middle of the walk.
    Cell inner = load("[1 2]");
    Cell odd{TYPE_CONTEXT, 0, 0, 0};
    block::cells_append(&inner, &odd);
    Cell outer = load("[0]");
    call("append/only", {outer, inner});
    expect_error([&] { mold_text(outer); }, "script", "expect-arg");
    EXPECT_EQ(cycles::depth(), 0u);
}

// ---- arguments the typed specifications refuse --------------------------------------------

// Called from C++ with values a script cannot pass, the actions still
// refuse them with their own errors and leave the block as it was.
TEST_F(BlockTest, ArgumentsOutsideTheSpecificationAreRefused) {
    Cell b = load("[4 3 2 1]");
    expect_error([&] { call("find/skip", {b, int_cell(1), none::cell()}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("sort/compare", {b, none::cell()}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("sort/part", {b, none::cell()}); }, "script", "invalid-refine-arg");
    expect_error([&] { call("swap", {b, int_cell(1)}); }, "script", "invalid-arg");
    EXPECT_EQ(mold_text(b), "[4 3 2 1]");
}

std::string set_op(int32_t op, const char* a, const char* b, int32_t skip = 1, uint32_t a_pos = 0) {
    stack::mark_native(nullptr);
    stack::push(at_pos(load(a), a_pos));
    stack::push(b ? load(b) : none::cell());
    Cell r = *block::do_set_op(false, skip, op);
    stack::unwind_drop();
    return mold_text(r);
}

// unique on a paren! (the native takes blocks only) keeps the paren type.
TEST_F(BlockTest, SetOperationOnAParen) {
    EXPECT_EQ(set_op(block::SET_UNIQUE, "(1 1)", nullptr), "(1)");
}

// ---- copy ---------------------------------------------------------------------------------

TEST_F(BlockTest, CopyKeepsTheNewLineMarkerOfTheCopiedCell) {
    Cell lines = load("[1\n2]");
    lines.header |= header::NEW_LINE;
    Cell c = call("copy/deep", {lines});
    EXPECT_TRUE(c.new_line());
    EXPECT_EQ(mold_text(c), "[1\n2]");
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
    EXPECT_EQ(block::insert(&h, &v, -1, false, 1, false), UNWIND_NONE);
    expect_indexed(h, "insert");
    Cell nine = int_cell(9);
    EXPECT_EQ(block::insert(&h, &nine, -1, false, 2, true), UNWIND_NONE);
    expect_indexed(h, "append/dup");
    h.w1 = 2;
    EXPECT_EQ(block::change(&h, &v, 3, false, 1), UNWIND_NONE);
    expect_indexed(h, "change/part");
    h.w1 = 0;
    EXPECT_EQ(series::remove(&h, nullptr, nullptr), UNWIND_NONE);
    expect_indexed(h, "remove");
    Cell two = int_cell(2);
    EXPECT_EQ(series::remove(&h, &two, nullptr), UNWIND_NONE);
    expect_indexed(h, "remove/part");
    EXPECT_EQ(series::reverse(&h, nullptr, nullptr), UNWIND_NONE);
    expect_indexed(h, "reverse");
    EXPECT_EQ(series::poke(&h, 1, &nine, nullptr).code, UNWIND_NONE);
    expect_indexed(h, "poke");
    Cell twenty = int_cell(20);
    (void)block::put(&h, &twenty, &nine, false);
    expect_indexed(h, "put");
    Cell t = h;
    EXPECT_EQ(block::take(&t, nullptr, false, true).code, UNWIND_NONE);
    expect_indexed(h, "take/last");
    Cell none_v = none::cell();
    EXPECT_EQ(block::insert(&h, &none_v, -1, false, 1, false), UNWIND_NONE);
    EXPECT_EQ(block::trim(&h, false, false, false, false, false, nullptr), UNWIND_NONE);
    expect_indexed(h, "trim");
    Cell other = make_hash("[5 6]");
    EXPECT_EQ(block::swap(&h, &other), UNWIND_NONE);
    expect_indexed(h, "swap");
    expect_indexed(other, "swap (second)");
    Cell target = at_pos(h, 3);
    Cell one = int_cell(1);
    EXPECT_EQ(series::move(&h, &target, &one).code, UNWIND_NONE);
    expect_indexed(h, "move");
    Cell mid = at_pos(h, 2);
    EXPECT_EQ(series::clear(&mid), UNWIND_NONE);
    expect_indexed(h, "clear");
    // Searching goes through the table and agrees with a scan.
    Cell plain = at_pos(h, 0);
    plain.set_type(TYPE_BLOCK);
    for (uint32_t i = 0; i < block::cells_length(&plain); ++i) {
        Cell x = *block::cells_at(&plain, i);
        Cell* f = block::find(&h, &x, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                              false, false)
                      .cell;
        Cell* g = block::find(&plain, &x, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                              false, false)
                      .cell;
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
