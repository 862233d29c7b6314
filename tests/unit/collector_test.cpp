// The collector: what survives a collection, how live buffers are compacted,
// deferred node frees, the big-series sweep, node-frame release, node
// compaction, mark callbacks, and the recycle and stats natives.
#include "runtime/collector.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "runtime/cycles.h"
#include "datatypes/ownership.h"
#include "runtime/externals.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "test_support.h"

namespace kiv::test {
namespace {

using memory::NodeFrame;
using memory::SeriesFrame;

template <class T>
T* at(Off o) {
    return arena::ptr<T>(o);
}

class CollectorTest : public RuntimeTest {
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
        collector::set_node_compaction(false);
        // The layout tests describe the compacting collection; the moving
        // one (on in a torture build) has tests of its own.
        moving_before = collector::set_moving(false);
        memory::collection_enabled = true;
        collector::collect();
    }
    void TearDown() override {
        collector::collect();
        expect_heap_consistent();
        expect_no_marks();
        memory::collection_enabled = false;
        collector::set_node_compaction(false);
        collector::set_moving(moving_before);
        RuntimeTest::TearDown();
    }
    bool moving_before = false;

    // A copy of the value on the data stack (a root) for the rest of the test:
    // the argument base moves above it, so calls that drop their arguments
    // (run_action) leave it in place.
    static Cell* keep(const Cell& v) {
        Cell* c = stack::push(v);
        stack::arg_base = stack::top;
        return c;
    }

    static Cell binary_of(Off node) { return Cell{TYPE_BINARY, 0, node, 0}; }

    // A byte series of `size` bytes filled with a pattern derived from `seed`.
    static Off patterned(uint32_t size, uint32_t seed) {
        Off node = memory::alloc_bytes(size);
        SeriesBuffer* b = buffer_of(node);
        for (uint32_t i = 0; i < size; ++i) b->head_ptr()[i] = uint8_t(seed * 31 + i * 7);
        b->tail = b->head + size;
        return node;
    }
    static bool pattern_intact(Off node, uint32_t size, uint32_t seed) {
        const SeriesBuffer* b = buffer_of(node);
        if (b->node != node || b->byte_count() != size) return false;
        for (uint32_t i = 0; i < size; ++i)
            if (b->head_ptr()[i] != uint8_t(seed * 31 + i * 7)) return false;
        return true;
    }

    // True when the node is a free slot of its frame.
    static bool node_is_free(Off node) {
        NodeFrame* f = memory::node_frame_of(node);
        return f && f->owns_slot(node_content(node));
    }

    static uint64_t used_nodes() {
        uint64_t n = 0;
        for (Off o = memory::record.first_node_frame; o; o = at<NodeFrame>(o)->next)
            n += at<NodeFrame>(o)->used;
        return n;
    }
    static uint32_t count_node_frames() {
        uint32_t n = 0;
        for (Off o = memory::record.first_node_frame; o; o = at<NodeFrame>(o)->next) ++n;
        return n;
    }
    static bool series_frame_listed(Off frame) {
        for (Off o = memory::record.first_series_frame; o; o = at<SeriesFrame>(o)->next)
            if (o == frame) return true;
        return false;
    }
    static Off frame_holding(Off buffer) {
        for (Off o = memory::record.first_series_frame; o; o = at<SeriesFrame>(o)->next) {
            SeriesFrame* f = at<SeriesFrame>(o);
            if (buffer >= f->data_start() && buffer < f->end) return o;
        }
        return 0;
    }

    // True when the offset is the header of a buffer in use: in a series frame
    // below its first free byte, a big block or a fixed buffer.
    static bool known_buffer(Off p) {
        for (Off o = memory::record.first_series_frame; o; o = at<SeriesFrame>(o)->next) {
            SeriesFrame* f = at<SeriesFrame>(o);
            if (p >= f->data_start() && p < f->first_free) return true;
        }
        for (Off o = memory::record.big_list; o; o = at<memory::BigBlock>(o)->next)
            if (arena::off(at<memory::BigBlock>(o)->buffer()) == p) return true;
        for (Off b : memory::fixed_buffers())
            if (b == p) return true;
        return false;
    }

    // Every node frame's free list stays inside the frame and accounts for
    // the slots not in use; every slot holding a buffer names a buffer in use
    // that names it back.
    static void expect_heap_consistent() {
        for (Off o = memory::record.first_node_frame; o; o = at<NodeFrame>(o)->next) {
            NodeFrame* f = at<NodeFrame>(o);
            uint32_t free_count = 0;
            for (Off slot = f->free_head; slot;) {
                ASSERT_TRUE(f->owns_slot(slot)) << "free list leaves its frame";
                ASSERT_LE(++free_count, f->capacity) << "free list cycle";
                Off next = node_content(slot);
                if (next == slot) break;
                slot = next;
            }
            EXPECT_EQ(free_count + f->used, f->capacity);
            for (Off slot = f->first_slot(); slot < f->slots_end(); slot += sizeof(Off)) {
                if (!f->slot_holds_buffer(slot)) continue;
                ASSERT_TRUE(known_buffer(node_content(slot))) << "slot " << slot << " names no buffer";
                ASSERT_EQ(buffer_of(slot)->node, slot);
            }
        }
    }

    // No buffer carries the mark outside a collection.
    static void expect_no_marks() {
        uint32_t marked = 0;
        for (Off o = memory::record.first_series_frame; o; o = at<SeriesFrame>(o)->next) {
            SeriesFrame* f = at<SeriesFrame>(o);
            for (Off p = f->data_start(); p < f->first_free;) {
                SeriesBuffer* b = at<SeriesBuffer>(p);
                if (b->flags & series_flag::MARKED) ++marked;
                p += b->size + BUFFER_OVERHEAD;
            }
        }
        for (Off o = memory::record.big_list; o; o = at<memory::BigBlock>(o)->next)
            if (at<memory::BigBlock>(o)->buffer()->flags & series_flag::MARKED) ++marked;
        for (Off b : memory::fixed_buffers())
            if (at<SeriesBuffer>(b)->flags & series_flag::MARKED) ++marked;
        EXPECT_EQ(marked, 0u) << "buffers left marked after a collection";
    }

    static Cell new_block(int32_t room) {
        Cell* slot = stack::push(none::cell());
        block::make_at(slot, room);
        Cell b = *slot;
        stack::pop(1);
        return b;
    }
    // Appends through a stack copy (the value may be held nowhere else).
    static void append(Cell* blk, const Cell& v) {
        Cell* held = stack::push(v);
        block::cells_append(blk, held);
        stack::pop(1);
    }
    // A string! of the code points (the widest decides the unit).
    static Cell make_text(const std::vector<uint32_t>& cps) {
        Cell* slot = stack::push(none::cell());
        string::make_at(slot, uint32_t(cps.size()));
        for (uint32_t cp : cps) string::append_char(buffer_of(slot->w2), cp);
        Cell s = *slot;
        stack::pop(1);
        return s;
    }
    static std::vector<uint32_t> code_points(const Cell& s) {
        std::vector<uint32_t> out;
        const SeriesBuffer* b = buffer_of(s.w2);
        uint32_t unit = b->unit();
        for (const uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p += unit)
            out.push_back(string::get_char(p, unit));
        return out;
    }

    // Allocates and drops `count` series of assorted sizes.
    static void churn(uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            Off n = memory::alloc_bytes(64 + (i % 7) * 48);
            std::memset(buffer_of(n)->head_ptr(), 0xEE, buffer_of(n)->size);
        }
    }
};

// ---- Survival ------------------------------------------------------------------------------

TEST_F(CollectorTest, DeepNestingSurvivesWithoutRecursion) {
    constexpr int DEPTH = 3000;
    Cell* outer = keep(new_block(1));
    append(outer, int_cell(42));
    for (int i = 0; i < DEPTH; ++i) {
        Cell b = new_block(1);
        append(&b, *outer);
        *outer = b;
    }
    churn(50);
    collector::collect();
    collector::collect();
    Cell cur = *outer;
    int depth = 0;
    while (block::cells_length(&cur) == 1 && block::cells_head(&cur)->type() == TYPE_BLOCK) {
        cur = *block::cells_head(&cur);
        ++depth;
    }
    EXPECT_EQ(depth, DEPTH);
    ASSERT_EQ(block::cells_length(&cur), 1u);
    EXPECT_EQ(block::cells_head(&cur)->type(), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(block::cells_head(&cur)->w2, 42u);
    expect_no_marks();
}

TEST_F(CollectorTest, CyclicBlocksSurviveAndAreScannedOnce) {
    Cell* a = keep(new_block(2));
    Cell b = new_block(2);
    append(a, b);
    append(a, *a);   // a contains itself
    append(&b, *a);  // and b contains a
    append(&b, make_text({'x', 'y'}));
    churn(100);
    collector::collect();
    EXPECT_EQ(mold_text(*a), "[[[...] \"xy\"] [...]]");
    expect_no_marks();
}

TEST_F(CollectorTest, StringsOfEveryWidthSurvive) {
    const std::vector<std::vector<uint32_t>> texts = {
        {'p', 'l', 'a', 'i', 'n'},
        {'c', 0xE9, 0x20AC, 'z'},  // é and € need 2 bytes
        {'a', 0x1F600, 0xE9},      // an emoji needs 4
        {},
    };
    Cell* holder = keep(new_block(4));
    for (const auto& t : texts) {
        churn(10);  // garbage between them, so compaction moves them
        append(holder, make_text(t));
    }
    churn(50);
    collector::collect();
    churn(50);
    collector::collect();
    const uint32_t units[] = {1, 2, 4, 1};
    for (size_t i = 0; i < texts.size(); ++i) {
        Cell s = block::cells_head(holder)[i];
        ASSERT_EQ(s.type(), uint32_t(TYPE_STRING));
        EXPECT_EQ(buffer_of(s.w2)->unit(), units[i]) << i;
        EXPECT_EQ(code_points(s), texts[i]) << i;
    }
}

TEST_F(CollectorTest, ObjectFieldsAndFunctionsSurvive) {
    Cell* obj = keep(none::cell());
    object::make_at(obj, 4);
    Cell field = word::load("payload");
    Cell text = make_text({'d', 'a', 't', 'a'});
    context::put_word(obj->w1, &field, stack::push(text));
    stack::pop(1);
    Cell* fn = keep(run_action(ACT_MAKE, {type_cell(TYPE_FUNCTION), load("[[a b] [a + b \"in body\"]]")}));
    std::string fn_before = mold_text(*fn);
    churn(200);
    collector::collect();
    churn(200);
    collector::collect();
    Cell* v = object::select_word(obj, &field);
    ASSERT_EQ(v->type(), uint32_t(TYPE_STRING));
    EXPECT_EQ(string_text(*v), "data");
    EXPECT_EQ(mold_text(*fn), fn_before);
    EXPECT_EQ(context::word_count(fn->w1), 2u);
}

TEST_F(CollectorTest, WordKeepsItsContextAlive) {
    Cell* w = keep(word::load("lonely"));
    w->w1 = context::create(2, false, false, 0, context::KIND_OBJECT);
    w->w3 = 0xFFFFFFFFu;
    EXPECT_EQ(context::set_word(w, stack::push(make_text({'o', 'k'}))).code, UNWIND_NONE);
    stack::pop(1);
    churn(200);
    collector::collect();
    Cell* v = context::get_word(w);
    ASSERT_EQ(v->type(), uint32_t(TYPE_STRING));
    EXPECT_EQ(string_text(*v), "ok");
}

TEST_F(CollectorTest, HashAndMapTablesSurvive) {
    Cell* blk = keep(new_block(8));
    for (int i = 0; i < 6; ++i) append(blk, make_text({uint32_t('a' + i)}));
    Cell* hash = keep(Cell{TYPE_HASH, 0, blk->w2, hashtable::init(6, blk->w2, hashtable::HASH, 0)});
    Cell* pairs = keep(new_block(8));
    for (int i = 0; i < 3; ++i) {
        append(pairs, make_text({uint32_t('k'), uint32_t('0' + i)}));
        append(pairs, int_cell(i * 10));
    }
    Cell* map = keep(Cell{TYPE_MAP, 0, pairs->w2, hashtable::init(3, pairs->w2, hashtable::MAP, 0)});
    churn(300);
    collector::collect();
    churn(300);
    collector::collect();
    for (int i = 0; i < 6; ++i) {
        Cell key = make_text({uint32_t('a' + i)});
        EXPECT_EQ(hashtable::find(hash->w3, stack::push(key)), i);
        stack::pop(1);
    }
    Cell key = make_text({'k', '2'});
    int32_t pos = hashtable::find(map->w3, stack::push(key));
    ASSERT_EQ(pos, 4);
    EXPECT_EQ(block::cells_head(map)[pos + 1].w2, 20u);
}

TEST_F(CollectorTest, CallFramesKeepBindingAndSavedValues) {
    // A heap context reached only through a function frame: its saved values
    // series must survive even after the context's values word changed.
    Cell w = word::load("slot");
    Cell bw = word::load("bound-word");
    Cell* root = keep(none::cell());  // roots the contexts while they are built
    Off ctx = context::create(2, false, false, 0, context::KIND_OBJECT);
    *root = Cell{TYPE_OBJECT, ctx, 0, 0};
    w.w1 = ctx;
    w.w3 = 0xFFFFFFFFu;
    EXPECT_EQ(context::set_word(&w, stack::push(make_text({'s', 'a', 'v', 'e', 'd'}))).code, UNWIND_NONE);
    stack::pop(1);
    Off saved_values = context::cell(ctx)->w2;
    stack::mark_func(nullptr, ctx);
    context::cell(ctx)->w2 = memory::alloc_unset_cells(2);
    // A context reached only through a frame's binding.
    Off bound = context::create(1, false, false, 0, context::KIND_OBJECT);
    bw.w1 = bound;
    stack::mark_native(&bw);
    *root = none::cell();
    churn(200);
    collector::collect();
    EXPECT_FALSE(node_is_free(saved_values));
    EXPECT_FALSE(node_is_free(bound));
    EXPECT_FALSE(node_is_free(ctx));
    EXPECT_EQ(string_text(at<SeriesBuffer>(node_content(saved_values))->head_cell()[0]), "saved");
    stack::unwind();
    stack::unwind_func();
    EXPECT_EQ(context::cell(ctx)->w2, saved_values);
}

TEST_F(CollectorTest, UnreachableSeriesLoseTheirNodes) {
    memory::collection_enabled = false;
    Off dropped = memory::alloc_bytes(100);
    Off kept = memory::alloc_bytes(100);
    keep(binary_of(kept));
    uint64_t before = used_nodes();
    memory::collection_enabled = true;
    collector::collect();
    EXPECT_TRUE(node_is_free(dropped));
    EXPECT_FALSE(node_is_free(kept));
    EXPECT_LT(used_nodes(), before);
    EXPECT_GE(collector::last_figures().freed_nodes, 1u);
}

// ---- Compaction ------------------------------------------------------------------------------

TEST_F(CollectorTest, LiveBuffersSlideDownInOrder) {
    memory::collection_enabled = false;  // lay the buffers out as written
    // In a frame of their own, whatever room start-up left in the last one:
    // live fillers up to a new frame (each below the least room a move takes).
    Off last = memory::record.last_series_frame;
    while (memory::record.last_series_frame == last) keep(binary_of(memory::alloc_bytes(16 * 1024)));
    Off a = patterned(100, 1);
    memory::alloc_bytes(300);  // garbage
    Off b = patterned(200, 2);
    memory::alloc_bytes(50);  // garbage
    Off c = patterned(40, 3);
    keep(binary_of(a));
    keep(binary_of(b));
    keep(binary_of(c));
    Off a0 = node_content(a);
    ASSERT_EQ(frame_holding(a0), frame_holding(node_content(c)));
    memory::collection_enabled = true;
    collector::collect();
    Off na = node_content(a), nb = node_content(b), nc = node_content(c);
    EXPECT_LE(na, a0);
    EXPECT_EQ(nb, na + buffer_of(a)->size + BUFFER_OVERHEAD) << "b follows a with the garbage gone";
    EXPECT_EQ(nc, nb + buffer_of(b)->size + BUFFER_OVERHEAD);
    EXPECT_TRUE(pattern_intact(a, 100, 1));
    EXPECT_TRUE(pattern_intact(b, 200, 2));
    EXPECT_TRUE(pattern_intact(c, 40, 3));
    // head and tail moved with the buffer
    EXPECT_EQ(buffer_of(b)->head, buffer_of(b)->data_start());
    EXPECT_GE(collector::last_figures().moved_buffers, 2u);
    expect_no_marks();
}

TEST_F(CollectorTest, RunsMoveIntoThePreviousFrameAndEmptiedFramesBeyondTheRoomKeptAreReleased) {
    memory::collection_enabled = false;
    constexpr uint32_t GARBAGE = 256 * 1024, LIVE = 64 * 1024, FILLER = 16 * 1024;
    // What start-up left must not decide where the runs go: a collection,
    // then live fillers in every frame's free room (each piece below the
    // least room a move takes), so that nothing moves below f, the first
    // frame made here; a live run keeps f listed and its room free.
    collector::collect();
    memory::collection_enabled = false;
    Off last = memory::record.last_series_frame;
    while (memory::record.last_series_frame == last) keep(binary_of(memory::alloc_bytes(FILLER)));
    Off f = memory::record.last_series_frame;
    Off x = patterned(LIVE, 6);
    keep(binary_of(x));
    ASSERT_EQ(frame_holding(node_content(x)), f);
    while (memory::record.last_series_frame == f) memory::alloc_bytes(GARBAGE);
    Off g = memory::record.last_series_frame;
    ASSERT_EQ(at<SeriesFrame>(g)->prev, f);
    Off y = patterned(LIVE, 7);
    keep(binary_of(y));
    ASSERT_EQ(frame_holding(node_content(y)), g);
    while (memory::record.last_series_frame == g) memory::alloc_bytes(GARBAGE);
    Off h = memory::record.last_series_frame;
    Off z = patterned(LIVE, 8);
    keep(binary_of(z));
    ASSERT_EQ(frame_holding(node_content(z)), h);
    memory::collection_enabled = true;
    collector::collect();
    EXPECT_TRUE(pattern_intact(x, LIVE, 6));
    EXPECT_TRUE(pattern_intact(y, LIVE, 7));
    EXPECT_TRUE(pattern_intact(z, LIVE, 8));
    EXPECT_LT(node_content(y), g) << "y moved into an earlier frame";
    EXPECT_LT(node_content(z), h) << "z moved into an earlier frame";
    // The frames before h keep more free room than the growth policy
    // wants (MIN_ROOM here: little is live), so the emptied last frame goes.
    EXPECT_FALSE(series_frame_listed(h)) << "the emptied frame is released";
    EXPECT_TRUE(series_frame_listed(g));
    EXPECT_GE(collector::last_figures().released_frames, 1u);
    expect_no_marks();
}

TEST_F(CollectorTest, AfterACollectionTheFramesKeepRoomOfHalfTheLiveData) {
    // Collections here come from full frames only (not at every allocation),
    // which is where the growth policy decides.
    const bool torture = memory::torture_on;
    memory::torture_on = false;
    constexpr uint32_t PIECE = 64 * 1024;
    for (int i = 0; i < 96; ++i) keep(binary_of(memory::alloc_bytes(PIECE)));  // 6 MB kept live
    struct Figures {
        uint64_t used = 0, room = 0;
    };
    auto figures = [] {
        Figures f;
        for (Off o = memory::record.first_series_frame; o; o = at<SeriesFrame>(o)->next) {
            const SeriesFrame* g = at<SeriesFrame>(o);
            f.used += g->first_free - g->data_start();
            f.room += g->free_bytes();
        }
        return f;
    };
    // Garbage until two collections have run; each check is made at the
    // allocation during which one ran.
    for (int collections = 0; collections < 2;) {
        const uint32_t cycles = memory::collection_cycles;
        memory::alloc_bytes(PIECE);
        if (memory::collection_cycles == cycles) continue;
        ++collections;
        const Figures f = figures();
        // At least half the live data (what the allocation itself took aside),
        // and far less than the live data itself: frames beyond the wanted
        // room are released, up to one frame's size (2 MB at most).
        EXPECT_GE(f.room + PIECE + 64, std::max<uint64_t>(memory::MIN_ROOM, f.used / 2)) << collections;
        EXPECT_LE(f.room, f.used / 2 + PIECE + 64 + memory::BIG_THRESHOLD) << collections;
        EXPECT_LT(f.room, f.used) << collections;
    }
    memory::torture_on = torture;
}

TEST_F(CollectorTest, BigSeriesAreSweptAndKeptOnesUnmarked) {
    memory::collection_enabled = false;
    constexpr uint32_t BIG = 2600 * 1024;
    Off dead = memory::alloc_bytes(BIG);
    Off live = patterned(BIG, 9);
    keep(binary_of(live));
    ASSERT_TRUE(buffer_of(dead)->flags & series_flag::BIG);
    ASSERT_TRUE(buffer_of(live)->flags & series_flag::BIG);
    Off live_buffer = node_content(live);
    memory::collection_enabled = true;
    collector::collect();
    EXPECT_EQ(collector::last_figures().freed_big, 1u);
    EXPECT_TRUE(node_is_free(dead));
    EXPECT_EQ(node_content(live), live_buffer) << "big series never move";
    EXPECT_TRUE(pattern_intact(live, BIG, 9));
    uint32_t bigs = 0;
    for (Off o = memory::record.big_list; o; o = at<memory::BigBlock>(o)->next) ++bigs;
    EXPECT_EQ(bigs, 1u);
    collector::collect();  // a kept big series stays across collections
    EXPECT_TRUE(pattern_intact(live, BIG, 9));
    expect_no_marks();
}

// A moving collection puts every live buffer (frames and big series) at a new
// place with its content, and the pages it left fault on access.
TEST_F(CollectorTest, MovingCollectionsMoveEveryLiveBuffer) {
    memory::collection_enabled = false;
    constexpr uint32_t BIG = 2600 * 1024;
    const uint32_t sizes[] = {16, 100, 5000, 300000, BIG};
    std::vector<Off> nodes;
    std::vector<Off> before;
    for (uint32_t i = 0; i < std::size(sizes); ++i) {
        memory::alloc_bytes(64);  // garbage between them
        nodes.push_back(patterned(sizes[i], i + 20));
        keep(binary_of(nodes.back()));
        before.push_back(node_content(nodes.back()));
    }
    Off dead = memory::alloc_bytes(100);
    memory::collection_enabled = true;
    collector::set_moving(true);
    collector::collect();
    for (uint32_t i = 0; i < std::size(sizes); ++i) {
        EXPECT_NE(node_content(nodes[i]), before[i]) << sizes[i];
        EXPECT_TRUE(pattern_intact(nodes[i], sizes[i], i + 20)) << sizes[i];
        EXPECT_EQ(buffer_of(nodes[i])->head, buffer_of(nodes[i])->data_start());
    }
    EXPECT_TRUE(node_is_free(dead));
    EXPECT_GE(collector::last_figures().moved_buffers, uint32_t(std::size(sizes)));
    // Round the ring of spaces twice: each collection moves them again.
    for (uint32_t round = 0; round < 2 * memory::MOVING_SPACES; ++round) {
        Off was = node_content(nodes[1]);
        memory::alloc_bytes(64);
        collector::collect();
        EXPECT_NE(node_content(nodes[1]), was);
        for (uint32_t i = 0; i < std::size(sizes); ++i)
            EXPECT_TRUE(pattern_intact(nodes[i], sizes[i], i + 20)) << sizes[i] << " round " << round;
    }
    // No series frame holds the places the buffers first left, and they fault.
    for (Off o : before) EXPECT_EQ(frame_holding(o), 0u);
    expect_heap_consistent();
    expect_no_marks();
    const volatile uint8_t* stale = arena::ptr(before[1]);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH({ (void)*stale; }, "");
    collector::set_moving(false);
}

// ---- Nodes --------------------------------------------------------------------------------

TEST_F(CollectorTest, DeferredFreesReturnNodesAcrossFrames) {
    memory::collection_enabled = false;
    uint32_t frames_before = count_node_frames();
    uint64_t used_before = used_nodes();
    std::vector<Off> nodes;
    for (int i = 0; i < 12000; ++i) nodes.push_back(memory::alloc_node());
    ASSERT_GT(count_node_frames(), frames_before);
    std::reverse(nodes.begin(), nodes.end());  // the queue sorts them
    collector::defer_free(0);                  // ignored
    for (Off n : nodes) collector::defer_free(n);
    EXPECT_EQ(used_nodes(), used_before + nodes.size()) << "nothing is freed before the flush";
    collector::flush_deferred();
    EXPECT_EQ(used_nodes(), used_before);
    for (Off n : {nodes.front(), nodes.back(), nodes[6000]}) EXPECT_TRUE(node_is_free(n));
    // The frame left empty is released by the next collection.
    memory::collection_enabled = true;
    collector::collect();
    EXPECT_EQ(count_node_frames(), frames_before);
}

TEST_F(CollectorTest, NodeFramesOfDeadSeriesAreReleased) {
    memory::collection_enabled = false;
    uint32_t frames_before = count_node_frames();
    for (int i = 0; i < 11000; ++i) memory::alloc_bytes(16);
    EXPECT_GT(count_node_frames(), frames_before);
    memory::collection_enabled = true;
    collector::collect();
    EXPECT_EQ(count_node_frames(), frames_before);
}

TEST_F(CollectorTest, NodeCompactionMovesNodesAndRewritesReferences) {
    memory::collection_enabled = false;
    Off start_last = memory::record.last_node_frame;
    while (memory::record.last_node_frame == start_last) memory::alloc_bytes(16);
    Off fresh_frame = memory::record.last_node_frame;
    auto* nf = at<NodeFrame>(fresh_frame);
    constexpr int LIVE = 50;
    Cell* first = nullptr;
    for (int i = 0; i < LIVE; ++i) {
        Cell* s = keep(make_text({'n', uint32_t('0' + i % 10)}));
        if (!first) first = s;
        ASSERT_TRUE(nf->owns_slot(s->w2));
    }
    // An ownership entry and a cycle-stack entry keyed by a node that moves.
    Cell owner = none::cell();
    Cell* owner_cell = keep(owner);
    object::make_at(owner_cell, 1);
    ownership::set_owner(first, owner_cell, nullptr);
    Off first_node = first->w2;
    cycles::push(first_node);
    memory::collection_enabled = true;
    // Collections without change fill the frame's history.
    for (uint32_t i = 0; i <= collector::HISTORY_DEPTH + 1; ++i) collector::collect();
    ASSERT_EQ(nf->history & 63u, 63u);
    uint32_t frames_before = count_node_frames();
    uint32_t compactions = collector::node_compaction_count();
    collector::set_node_compaction(true);
    collector::collect();
    collector::set_node_compaction(false);
    EXPECT_EQ(collector::node_compaction_count(), compactions + 1);
    EXPECT_GE(collector::last_figures().relocated_nodes, uint32_t(LIVE));
    EXPECT_EQ(count_node_frames(), frames_before - 1);
    // Every string on the stack now names a node outside the released frame.
    int seen = 0;
    for (Cell* c = stack::bottom; c < stack::top; ++c) {
        if (c->type() != TYPE_STRING) continue;
        EXPECT_NE(node_content(c->w2), 0u);
        EXPECT_EQ(buffer_of(c->w2)->node, c->w2);
        EXPECT_EQ(string_text(*c).substr(0, 1), "n");
        ++seen;
    }
    EXPECT_EQ(seen, LIVE);
    EXPECT_NE(first->w2, first_node) << "the reference was rewritten";
    EXPECT_TRUE(cycles::find(first->w2)) << "the cycle stack follows the move";
    EXPECT_NE(ownership::get_owner(first->w2), nullptr) << "the ownership table follows the move";
    EXPECT_EQ(ownership::get_owner(first_node), nullptr);
    cycles::reset();
    ownership::unbind(first);
    expect_no_marks();
}

// ---- Roots: fixed buffers, callbacks ---------------------------------------------------------

TEST_F(CollectorTest, FixedBlockContentsStayAliveAcrossCollections) {
    Cell* holder = keep(none::cell());
    block::make_at_fixed(holder, 4, true);
    append(holder, make_text({'f', 'i', 'x', 'e', 'd'}));
    Off text_node = block::cells_head(holder)->w2;
    for (int round = 0; round < 3; ++round) {
        collector::collect();
        EXPECT_FALSE(buffer_of(holder->w2)->flags & series_flag::MARKED);
        churn(300);
    }
    EXPECT_FALSE(node_is_free(text_node));
    EXPECT_EQ(string_text(*block::cells_head(holder)), "fixed");
    expect_no_marks();
}

Cell marker_held{TYPE_NONE, 0, 0, 0};
int marker_calls = 0;
void test_marker() {
    ++marker_calls;
    collector::mark_block(&marker_held);
}

TEST_F(CollectorTest, MarkCallbacksKeepTheirValues) {
    marker_held = new_block(2);
    Off node = marker_held.w2;
    collector::register_marker(test_marker);
    collector::register_marker(test_marker);
    marker_calls = 0;
    collector::collect();
    EXPECT_EQ(marker_calls, 2) << "registered twice, called twice";
    EXPECT_FALSE(node_is_free(node));
    collector::unregister_marker(test_marker);
    marker_calls = 0;
    collector::collect();
    EXPECT_EQ(marker_calls, 1);
    EXPECT_FALSE(node_is_free(node));
    collector::unregister_marker(test_marker);
    collector::unregister_marker(test_marker);  // not registered: nothing changes
    marker_calls = 0;
    collector::collect();
    EXPECT_EQ(marker_calls, 0);
    EXPECT_TRUE(node_is_free(node));
    marker_held = none::cell();
}

// ---- Memory stays flat --------------------------------------------------------------------

TEST_F(CollectorTest, MemoryStaysFlatOverAnAllocatingLoop) {
    collector::collect();
    uint64_t before = memory::collect_stats(1).in_use;
    for (int i = 0; i < 400; ++i) {
        Cell* b = stack::push(new_block(4));
        for (int j = 0; j < 4; ++j) append(b, make_text({'x', uint32_t('a' + j), 0x20AC}));
        Cell inner = new_block(2);
        append(b, inner);
        append(&inner, *b);  // a cycle, dropped with the rest
        stack::pop(1);
        memory::alloc_bytes(3000);
    }
    collector::collect();
    uint64_t after = memory::collect_stats(1).in_use;
    EXPECT_LE(after, before + 1024) << "before " << before << " after " << after;
}

// ---- The switch and the natives --------------------------------------------------------------

TEST_F(CollectorTest, RecycleOffStopsCollectionsAtAllocation) {
    collector::recycle_off();
    uint32_t cycles = collector::cycle_count();
    Off last = memory::record.last_series_frame;
    while (memory::record.last_series_frame == last) memory::alloc_bytes(200 * 1024);
    EXPECT_EQ(collector::cycle_count(), cycles) << "a full frame leads to a new frame, not a collection";
    collector::recycle_on();
    EXPECT_TRUE(collector::enabled());
    collector::collect();
    EXPECT_EQ(collector::cycle_count(), cycles + 1);
}

Cell run_native(void (*native)(bool, bool), int32_t r0, int32_t r1) {
    Cell* base = stack::mark_native(nullptr);
    stack::push(none::cell());
    stack::Frame* mine = stack::ctop();
    try {
        native(r0 >= 0, r1 >= 0);
    } catch (...) {
        stack::catch_at(mine);
        throw;
    }
    Cell result = *base;
    stack::unwind_drop();
    return result;
}

TEST_F(CollectorTest, RecycleNative) {
    Cell r = run_native(collector::native_recycle, -1, -1);
    ASSERT_EQ(r.type(), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(uint64_t(r.w2), memory::collect_stats(1).in_use);
    struct Case {
        int32_t on, off;
        bool enabled_after;
    };
    for (const Case& c : {Case{-1, 0, false}, Case{0, -1, true}, Case{-1, 0, false}, Case{0, 0, true}}) {
        Cell u = run_native(collector::native_recycle, c.on, c.off);
        EXPECT_EQ(u.type(), uint32_t(TYPE_UNSET));
        EXPECT_EQ(collector::enabled(), c.enabled_after) << c.on << " " << c.off;
    }
    // A collection runs even while the switch is off.
    collector::recycle_off();
    uint32_t cycles = collector::cycle_count();
    run_native(collector::native_recycle, -1, -1);
    EXPECT_EQ(collector::cycle_count(), cycles + 1);
    collector::recycle_on();
}

// Code that runs under a pause (holding buffer addresses) cannot collect,
// neither by recycle nor by switching collection on, nor by allocating.
TEST_F(CollectorTest, NothingCollectsWhileAPauseHolds) {
    uint32_t cycles = collector::cycle_count();
    {
        memory::CollectionPause outer;
        {
            memory::CollectionPause inner;
            run_native(collector::native_recycle, 0, -1);  // recycle/on
            Cell r = run_native(collector::native_recycle, -1, -1);
            EXPECT_EQ(r.type(), uint32_t(TYPE_INTEGER));
            Off last = memory::record.last_series_frame;
            while (memory::record.last_series_frame == last) memory::alloc_bytes(200 * 1024);
        }
        memory::alloc_bytes(200 * 1024);
        EXPECT_FALSE(memory::collection_allowed());
    }
    EXPECT_EQ(collector::cycle_count(), cycles);
    EXPECT_TRUE(memory::collection_allowed());
    run_native(collector::native_recycle, -1, -1);
    EXPECT_EQ(collector::cycle_count(), cycles + 1);
}

const Cell* shown_report = nullptr;
Cell shown_copy{TYPE_NONE, 0, 0, 0};
void fake_show(const Cell* report) {
    shown_report = report;
    shown_copy = *report;
}

TEST_F(CollectorTest, StatsNative) {
    Cell total = run_native(collector::native_stats, -1, -1);
    EXPECT_EQ(total.type(), uint32_t(TYPE_INTEGER));
    Cell* info = keep(run_native(collector::native_stats, -1, 0));
    ASSERT_EQ(info->type(), uint32_t(TYPE_BLOCK));
    ASSERT_EQ(block::cells_length(info), 6u);
    Cell* v = block::cells_head(info);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(v[i].type(), uint32_t(TYPE_BLOCK)) << i;
    EXPECT_EQ(v[3].type(), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(v[4].type(), uint32_t(TYPE_INTEGER));
    // The arena's size: a float! once it passes the integer range.
    double arena_size = v[5].type() == TYPE_INTEGER ? double(v[5].w2) : v[5].get_f64();
    EXPECT_EQ(arena_size, double(arena::reserved_bytes));
    // One [free used total] per node frame, each on its own line.
    Cell nodes = v[0];
    EXPECT_EQ(block::cells_length(&nodes), count_node_frames());
    Cell first = *block::cells_head(&nodes);
    EXPECT_TRUE(first.new_line());
    ASSERT_EQ(block::cells_length(&first), 3u);
    Cell* f = block::cells_head(&first);
    EXPECT_EQ(f[0].w2 + f[1].w2, f[2].w2) << "free + used = total";
    EXPECT_EQ(f[2].w2, memory::NODE_FRAME_SLOTS);
    // /show without the library's printer raises; with it, the report is shown.
    expect_error([] { run_native(collector::native_stats, 0, -1); }, "internal", "not-done");
    collector::show_memory_stats = fake_show;
    Cell shown = run_native(collector::native_stats, 0, 0);
    collector::show_memory_stats = nullptr;
    EXPECT_EQ(shown.type(), uint32_t(TYPE_UNSET));
    ASSERT_NE(shown_report, nullptr);
    EXPECT_EQ(shown_copy.type(), uint32_t(TYPE_BLOCK));
    EXPECT_EQ(series::count(shown_copy.w2), 6u);
}

}  // namespace
}  // namespace kiv::test
