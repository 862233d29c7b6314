// The external-resource registry, the GUI slot table, the ownership table
// and handle! values.
#include "datatypes/ownership.h"
#include "runtime/externals.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "test_support.h"

namespace kiv::test {
namespace {

struct Released {
    uint32_t kind;
    uint64_t address;
};
std::vector<Released> released;
void record_release(uint32_t kind, uint64_t address) {
    released.push_back({kind, address});
}

class ExternalsTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() {
        boot_runtime();
        static bool booted = false;
        if (!booted) {
            booted = true;
            define_type_words();
        }
    }
    void SetUp() override {
        RuntimeTest::SetUp();
        externals::init();
        released.clear();
        memory::collection_enabled = true;
    }
    void TearDown() override {
        memory::collection_enabled = false;
        RuntimeTest::TearDown();
    }
    // A root for the rest of the test (see collector_test.cpp).
    static Cell* keep(const Cell& v) {
        Cell* c = stack::push(v);
        stack::arg_base = stack::top;
        return c;
    }
    static bool node_is_free(Off node) {
        memory::NodeFrame* f = memory::node_frame_of(node);
        return f && f->owns_slot(node_content(node));
    }
    static Cell text(const char* s) {
        Cell* slot = stack::push(none::cell());
        string::make_at(slot, 8);
        string::concatenate_literal(slot, s);
        Cell v = *slot;
        stack::pop(1);
        return v;
    }
};

// ---- Registry ------------------------------------------------------------------------------

TEST_F(ExternalsTest, UnreachableResourcesAreReleasedExactlyOnce) {
    uint32_t kind = externals::register_type("test", record_release);
    uint32_t kept = externals::add(0x1111, kind);
    uint32_t dropped = externals::add(0x2222, kind);
    keep(handle::resource_cell(kept, handle::CLASS_FONT));
    // A handle! with word 3 negative refers to no entry, whatever its value.
    keep(handle::cell(dropped, handle::CLASS_WINDOW));
    collector::collect();
    collector::collect();
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0].kind, kind);
    EXPECT_EQ(released[0].address, 0x2222u);
    EXPECT_TRUE(externals::is_live(kept));
    EXPECT_FALSE(externals::is_live(dropped));
    EXPECT_EQ(externals::add(0x3333, kind), dropped) << "the freed entry is reused first";
    EXPECT_EQ(externals::live_count(), 2u);
    stack::reset_all();
    collector::collect();
    EXPECT_EQ(released.size(), 3u) << "both remaining entries released once";
    EXPECT_EQ(externals::live_count(), 0u);
}

TEST_F(ExternalsTest, ImageMarkerCanKeepEntriesAlive) {
    uint32_t kind = externals::register_type("image", record_release);
    uint32_t entry = externals::add(0xABCD, kind);
    static uint32_t marked_entry;
    marked_entry = entry;
    auto marker = [] { externals::mark(marked_entry, 0xBEEF); };
    collector::register_marker(marker);
    collector::collect();
    collector::unregister_marker(marker);
    EXPECT_TRUE(released.empty());
    EXPECT_EQ(externals::address_of(entry), 0xBEEFu) << "mark stores the address it is given";
    collector::collect();
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0].address, 0xBEEFu);
}

TEST_F(ExternalsTest, TableDoublesWhenTheLastFreeEntryIsTaken) {
    for (uint32_t i = 0; i < externals::INITIAL_ENTRIES - 1; ++i) EXPECT_EQ(externals::add(i + 1, 1), i);
    EXPECT_EQ(externals::capacity(), externals::INITIAL_ENTRIES);
    EXPECT_EQ(externals::add(5000, 1), externals::INITIAL_ENTRIES - 1);
    EXPECT_EQ(externals::capacity(), 2 * externals::INITIAL_ENTRIES);
    EXPECT_EQ(externals::add(5001, 1), externals::INITIAL_ENTRIES) << "the new half follows";
    EXPECT_EQ(externals::address_of(externals::INITIAL_ENTRIES - 1), 5000u);
}

TEST_F(ExternalsTest, ReleaseReplaceRemoveAndForEach) {
    uint32_t a = externals::register_type("a", record_release);
    uint32_t b = externals::register_type("b", nullptr);  // no release routine
    uint32_t x = externals::add(10, a);
    uint32_t y = externals::add(20, b);
    uint32_t z = externals::add(30, a);
    externals::release(y);
    EXPECT_TRUE(released.empty()) << "a kind without a routine releases nothing";
    externals::replace(x, 10);
    EXPECT_TRUE(released.empty()) << "the same address is not released";
    externals::replace(x, 11);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0].address, 10u);
    std::vector<uint64_t> seen;
    static std::vector<uint64_t>* sink;
    sink = &seen;
    externals::for_each(a, [](uint32_t, uint64_t address) { sink->push_back(address); });
    EXPECT_EQ(seen, (std::vector<uint64_t>{30, 11})) << "newest first, kind a only";
    released.clear();
    externals::remove(z, true);
    externals::remove(z, true);  // already free: ignored
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0].address, 30u);
    externals::remove(x, false);
    EXPECT_EQ(released.size(), 1u);
    EXPECT_EQ(externals::live_count(), 1u);
    EXPECT_EQ(externals::add(40, a), x) << "the last freed entry is the head of the free list";
    // A kind outside the registered ones releases nothing.
    uint32_t stray = externals::add(50, 19);
    externals::release(stray);
    EXPECT_EQ(released.size(), 1u);
    EXPECT_FALSE(externals::mark(99999));
}

TEST_F(ExternalsTest, KindTableHoldsTwentyKinds) {
    for (uint32_t i = 1; i <= externals::MAX_KINDS; ++i) EXPECT_EQ(externals::register_type("k", nullptr), i);
    expect_error([] { externals::register_type("one too many", nullptr); }, "internal", "limit-hit");
    EXPECT_STREQ(externals::kind_name(1), "k");
    EXPECT_EQ(externals::kind_name(21), nullptr);
}

// ---- GUI slots -------------------------------------------------------------------------------

TEST_F(ExternalsTest, SlotsGrowAndReuse) {
    slots::init();
    for (uint32_t i = 1; i <= slots::INITIAL_SLOTS; ++i) ASSERT_EQ(slots::alloc(int_cell(int32_t(i))), i);
    EXPECT_EQ(slots::capacity(), slots::INITIAL_SLOTS);
    EXPECT_EQ(slots::alloc(text("grown")), 101u);
    EXPECT_EQ(slots::capacity(), 2 * slots::INITIAL_SLOTS);
    slots::release(101);
    slots::release(101);  // already free: ignored
    slots::release(0);
    EXPECT_EQ(slots::at(101), nullptr);
    EXPECT_EQ(slots::alloc(int_cell(7)), 101u);
    EXPECT_EQ(slots::alloc(int_cell(8)), 102u);
    slots::release(5);
    slots::release(50);
    EXPECT_EQ(slots::alloc(int_cell(9)), 50u) << "the last released slot comes first";
    EXPECT_EQ(slots::alloc(int_cell(9)), 5u);
    EXPECT_EQ(slots::at(3)->w2, 3u);
}

TEST_F(ExternalsTest, SlotValuesStayReachable) {
    slots::init();
    uint32_t s = slots::alloc(text("in a slot"));
    Off node = slots::at(s)->w2;
    for (int i = 0; i < 200; ++i) memory::alloc_bytes(100);
    collector::collect();
    EXPECT_EQ(string_text(*slots::at(s)), "in a slot");
    slots::release(s);
    collector::collect();
    EXPECT_TRUE(node_is_free(node)) << "a released slot no longer keeps its value";
}

// ---- Ownership -------------------------------------------------------------------------------

std::vector<std::string> deep_actions;
std::vector<std::string> deep_words;
Unwind record_deep_change(const Cell*, Off) {
    Cell word = stack::arg_base[1];
    Cell action = stack::arg_base[3];
    deep_words.push_back(std::string(symbol::name_view(word.w2)));
    deep_actions.push_back(std::string(symbol::name_view(action.w2)));
    return UNWIND_NONE;
}

class OwnershipTest : public ExternalsTest {
  protected:
    void SetUp() override {
        ExternalsTest::SetUp();
        deep_actions.clear();
        deep_words.clear();
        saved_runner = object::hook_runner;
        object::hook_runner = record_deep_change;
    }
    void TearDown() override {
        object::hook_runner = saved_runner;
        ExternalsTest::TearDown();
    }
    object::HookRunner saved_runner = nullptr;
    // An object with the fields `items` (a block holding a string) and, when
    // asked, an on-deep-change* function, its hooks built.
    static Cell* make_owner(bool with_hook) {
        Cell* obj = keep(none::cell());
        object::make_at(obj, 4);
        Cell items = word::load("items");
        Cell* blk = stack::push(load("[1 \"two\"]"));
        context::put_word(obj->w1, &items, blk);
        stack::pop(1);
        if (with_hook) {
            Cell hook = word::load("on-deep-change*");
            Cell* fn =
                stack::push(run_action(ACT_MAKE, {type_cell(TYPE_FUNCTION),
                                                  load("[[owner word target action new index part] []]")}));
            context::put_word(obj->w1, &hook, fn);
            stack::pop(1);
        }
        object::init_hooks(obj);
        return obj;
    }
    static Cell field(const Cell* obj, const char* name) {
        Cell w = word::load(name);
        return *object::select_word(obj, &w);
    }
};

TEST_F(OwnershipTest, ChangesOfAnOwnedBlockAreReported) {
    Cell* obj = make_owner(true);
    Cell* items = keep(field(obj, "items"));
    ASSERT_EQ(items->type(), uint32_t(TYPE_BLOCK));
    EXPECT_TRUE(buffer_of(items->w2)->flags & series_flag::OWNED);
    EXPECT_TRUE(context::cell(obj->w1)->header & header::OWNS_SERIES);
    Cell* owner = ownership::get_owner(items->w2);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(owner->w1, obj->w1);
    // The string inside the block is owned too, under the same field.
    Cell inner = block::cells_head(items)[1];
    ASSERT_NE(ownership::get_owner(inner.w2), nullptr);
    EXPECT_EQ(ownership::get_owner(inner.w2)[1].w2, word::load("items").w2);

    run_action(ACT_CLEAR, {*items});
    EXPECT_EQ(deep_actions, (std::vector<std::string>{"clear", "cleared"}));
    EXPECT_EQ(deep_words, (std::vector<std::string>{"items", "items"}));

    deep_actions.clear();
    ownership::unbind(items);
    EXPECT_FALSE(buffer_of(items->w2)->flags & series_flag::OWNED);
    EXPECT_EQ(ownership::get_owner(items->w2), nullptr);
    run_action(ACT_CLEAR, {*items});
    EXPECT_TRUE(deep_actions.empty()) << "nothing is reported after unbind";
}

TEST_F(OwnershipTest, OwnersWithoutHooksAreNotReported) {
    Cell* obj = make_owner(false);
    Cell* blk = keep(load("[a b]"));
    Cell w = word::load("items");
    ownership::set_owner(blk, obj, &w);
    EXPECT_NE(ownership::get_owner(blk->w2), nullptr);
    Cell action = word::load("append");
    bool owned = true;
    EXPECT_EQ(ownership::check(blk, &action, nullptr, 0, 1, &owned), UNWIND_NONE);
    EXPECT_FALSE(owned) << "the owner has no on-set data";
    owned = true;
    EXPECT_EQ(series::notify_owner(keep(load("[x]")), ownership::OwnerEvent::APPEND, nullptr, 0, 1, &owned), UNWIND_NONE);
    EXPECT_FALSE(owned) << "unowned series";
}

TEST_F(OwnershipTest, SelfContainingBlockIsOwnedOnce) {
    Cell* obj = make_owner(false);
    Cell* blk = keep(load("[1 2]"));
    block::cells_append(blk, blk);
    Cell w = word::load("items");
    ownership::bind_set(blk, obj, &w);
    EXPECT_NE(ownership::get_owner(blk->w2), nullptr);
    EXPECT_EQ(cycles::depth(), 0u);
    ownership::unbind(blk);
    EXPECT_EQ(ownership::get_owner(blk->w2), nullptr);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(OwnershipTest, EntriesHoldTheirOwnerOnlyWhileTheSeriesLives) {
    Cell* obj = make_owner(true);
    Cell items = field(obj, "items");
    Off owner_ctx = obj->w1;
    Off items_node = items.w2;
    Cell* kept_items = keep(items);
    held_values = none::cell();  // what the test helpers kept
    *obj = none::cell();         // the object is now reachable only through the entry
    collector::collect();
    EXPECT_FALSE(node_is_free(owner_ctx)) << "the owned series keeps its owner";
    ASSERT_NE(ownership::get_owner(items_node), nullptr);
    run_action(ACT_CLEAR, {*kept_items});
    EXPECT_EQ(deep_actions.size(), 2u);
    *kept_items = none::cell();
    held_values = none::cell();
    collector::collect();
    EXPECT_TRUE(node_is_free(items_node)) << "an owned series no one reaches dies";
    EXPECT_TRUE(node_is_free(owner_ctx)) << "and so does its owner";
    EXPECT_EQ(hashtable::get_int(ownership::table, items_node), nullptr);
}

TEST_F(OwnershipTest, ObjectOwnershipCanBeDropped) {
    Cell* obj = make_owner(true);
    Cell* items = keep(field(obj, "items"));
    object::ownership_unbind(obj);
    EXPECT_FALSE(context::cell(obj->w1)->header & header::OWNS_SERIES);
    EXPECT_EQ(ownership::get_owner(items->w2), nullptr);
    run_action(ACT_CLEAR, {*items});
    EXPECT_TRUE(deep_actions.empty());
}

// ---- handle! ----------------------------------------------------------------------------------

TEST_F(ExternalsTest, HandleFormAndMold) {
    struct Case {
        uint32_t handle, cls;
        const char* form;
        const char* mold_all;
    };
    const Case cases[] = {
        {0x1A2B, handle::CLASS_WINDOW, "00001A2Bh", "#[handle! 00001A2Bh window]"},
        {0, handle::CLASS_NULL, "00000000h", "#[handle! 00000000h]"},
        {0xFFFFFFFF, handle::CLASS_FD, "FFFFFFFFh", "#[handle! FFFFFFFFh fd]"},
        {7, handle::CLASS_RICH_TEXT, "00000007h", "#[handle! 00000007h rich-text]"},
        {7, 77, "00000007h", "#[handle! 00000007h]"},  // unknown class: no name
    };
    for (const Case& c : cases) {
        Cell h = handle::cell(c.handle, c.cls);
        EXPECT_EQ(form_text(h), c.form);
        EXPECT_EQ(mold_text(h), "handle!");
        EXPECT_EQ(mold_text(h, false, true), c.mold_all);
    }
    EXPECT_EQ(form_text(handle::cell(0xABCDEF, 4), 3), "00A");
}

TEST_F(ExternalsTest, HandleBudgets) {
    Cell* out = keep(none::cell());
    string::make_at(out, 16);
    Cell h = handle::cell(0x1A2B, handle::CLASS_WINDOW);
    EXPECT_EQ(handle::form(&h, out, nullptr, 100), 91);
    EXPECT_EQ(handle::mold(&h, out, false, false, false, nullptr, 100, 0), 93);
    EXPECT_EQ(handle::mold(&h, out, false, true, false, nullptr, 100, 0), 100 - 11 - 9 - 7);
    Cell n = handle::cell(1, handle::CLASS_NULL);
    EXPECT_EQ(handle::mold(&n, out, false, true, false, nullptr, 100, 0), 100 - 11 - 9);
}

TEST_F(ExternalsTest, HandleCompare) {
    Cell a = handle::cell(5, handle::CLASS_WINDOW);
    Cell b = handle::cell(5, handle::CLASS_FONT);
    Cell c = handle::cell(0xFFFFFFFF, handle::CLASS_FD);  // -1 as a signed handle
    Cell i = int_cell(5);
    EXPECT_EQ(handle::compare(&a, &b, COMP_EQUAL), 0) << "the class is ignored";
    EXPECT_EQ(handle::compare(&a, &c, COMP_LESSER), 1) << "signed comparison";
    EXPECT_EQ(handle::compare(&c, &a, COMP_LESSER), -1);
    for (int32_t op : {COMP_EQUAL, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_LESSER, COMP_SORT})
        EXPECT_EQ(handle::compare(&a, &i, op), 1) << "another type is unequal for op " << op;
    EXPECT_EQ(datatype::names[TYPE_HANDLE].name, std::string("handle!"));
}

TEST_F(ExternalsTest, HandleMakers) {
    handle::push(0x10, handle::CLASS_MONITOR);
    Cell* h = stack::top_cell();
    EXPECT_EQ(h->type(), uint32_t(TYPE_HANDLE));
    EXPECT_EQ(h->w1, uint32_t(handle::CLASS_MONITOR));
    EXPECT_EQ(h->w2, 0x10u);
    EXPECT_EQ(int32_t(h->w3), -1);
    Cell* n = handle::push_null();
    EXPECT_EQ(n->w2, 0u);
    EXPECT_EQ(n->w1, uint32_t(handle::CLASS_NULL));
    Cell* blk = keep(load("[]"));
    handle::make_in(blk, 3, handle::CLASS_FD);
    EXPECT_EQ(mold_text(*blk, false, true), "[#[handle! 00000003h fd]]");
}

}  // namespace
}  // namespace kiv::test
