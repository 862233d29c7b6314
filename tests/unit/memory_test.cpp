// Memory manager: node frames, series frames, big and fixed series, expansion
// and statistics.
#include "runtime/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/error.h"
#include "runtime/lowlevel.h"

using namespace kiv;
namespace sf = kiv::series_flag;

namespace {

template <class T>
T* at(Off o) {
    return arena::ptr<T>(o);
}

std::vector<memory::SeriesFrame*> series_frames() {
    std::vector<memory::SeriesFrame*> out;
    for (Off o = memory::record.first_series_frame; o; o = at<memory::SeriesFrame>(o)->next)
        out.push_back(at<memory::SeriesFrame>(o));
    return out;
}

std::vector<memory::NodeFrame*> node_frames() {
    std::vector<memory::NodeFrame*> out;
    for (Off o = memory::record.first_node_frame; o; o = at<memory::NodeFrame>(o)->next)
        out.push_back(at<memory::NodeFrame>(o));
    return out;
}

std::vector<memory::BigBlock*> big_blocks() {
    std::vector<memory::BigBlock*> out;
    for (Off o = memory::record.big_list; o; o = at<memory::BigBlock>(o)->next)
        out.push_back(at<memory::BigBlock>(o));
    return out;
}

// Runs `f` and expects it to raise the given error.
void expect_raise(const std::function<void()>& f, const char* category, const char* id) {
    try {
        f();
        ADD_FAILURE() << "expected " << category << " " << id;
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.category, category);
        EXPECT_EQ(e.id, id);
    }
}

bool in_frames(const SeriesBuffer* b) {
    Off o = arena::off(b);
    for (auto* f : series_frames())
        if (o >= f->data_start() && o < f->end) return true;
    return false;
}

// Collector stand-in: counts calls and runs an optional action.
int hook_calls = 0;
std::function<void()> hook_action;
void test_hook() {
    ++hook_calls;
    if (hook_action) hook_action();
}

#ifdef KIV_GC_TORTURE
constexpr bool TORTURE = true;
#else
constexpr bool TORTURE = false;
#endif

class Memory : public ::testing::Test {
  protected:
    void SetUp() override {
        memory::init();
        memory::collection_enabled = false;
        memory::collect_hook = nullptr;
        hook_calls = 0;
        hook_action = nullptr;
    }
    void TearDown() override {
        memory::collection_enabled = false;
        memory::collect_hook = nullptr;
        hook_action = nullptr;
        memory::free_all();
        EXPECT_EQ(memory::record.total, 0u) << "every system block is returned";
    }
};

// ---- System blocks ----

TEST_F(Memory, SystemBlocksArePageRoundedWithTheirSizeInTheFirstWord) {
    struct Case {
        uint64_t size, rounded;
    } cases[] = {{0, 4096}, {4092, 4096}, {4093, 8192}, {1048576 + 20, 1052672}};
    for (auto c : cases) {
        uint64_t before = memory::record.total;
        Off block = memory::alloc_system_block(c.size);
        EXPECT_EQ(block % arena::PAGE_SIZE, 0u);
        EXPECT_EQ(*at<uint32_t>(block), c.rounded) << c.size;
        EXPECT_EQ(memory::record.total, before + c.rounded);
        memory::free_system_block(block);
        EXPECT_EQ(memory::record.total, before);
    }
}

TEST_F(Memory, ArenaExhaustionRaisesNoMemoryAndLeaksNothing) {
    memory::init_frames();
    uint64_t before = memory::record.total;
    // Fits the 32-bit size fields but not the arena.
    expect_raise([] { memory::alloc_series(0xFFF00000u, 1, 0); }, "internal", "no-memory");
    expect_raise([] { memory::alloc_fixed_series(0xFFF00000u, 1, 0); }, "internal", "no-memory");
    EXPECT_EQ(memory::record.total, before);
    EXPECT_TRUE(big_blocks().empty());
    EXPECT_TRUE(memory::fixed_buffers().empty());
}

TEST_F(Memory, SizesAbove32BitsRaiseNoMemoryInsteadOfWrapping) {
    struct Case {
        uint32_t count, unit;
    } cases[] = {{0x80000000u, 2}, {0x40000000u, 4}, {0xFFFFFFFFu, 16}, {0x10000001u, 16}, {0xFFFFFFF1u, 1}};
    for (auto c : cases) {
        expect_raise([&] { memory::alloc_series(c.count, c.unit, 0); }, "internal", "no-memory");
        expect_raise([&] { memory::alloc_series_buffer(c.count, c.unit, 0); }, "internal", "no-memory");
    }
}

TEST_F(Memory, BadUnitsAndHeadOffsetsAreRefused) {
    expect_raise([] { memory::alloc_series(4, 0, 0); }, "internal", "wrong-mem");
    expect_raise([] { memory::alloc_series(4, 32, 0); }, "internal", "wrong-mem");
    expect_raise([] { memory::alloc_series(1, 16, 17); }, "internal", "wrong-mem");
    expect_raise([] { memory::alloc_series(1, 16, -2); }, "internal", "wrong-mem");
    Off n = memory::alloc_series(1, 16, 16);  // head at the very end is allowed
    EXPECT_EQ(buffer_of(n)->head, buffer_of(n)->data_end());
}

// ---- Nodes ----

TEST_F(Memory, NodeFramesHoldTenThousandSlotsAndGrowBeyond) {
    std::set<Off> seen;
    for (uint32_t i = 0; i < memory::NODE_FRAME_SLOTS; ++i)
        ASSERT_TRUE(seen.insert(memory::alloc_node()).second);
    ASSERT_EQ(node_frames().size(), 1u);
    EXPECT_EQ(node_frames()[0]->used, memory::NODE_FRAME_SLOTS);
    EXPECT_EQ(node_frames()[0]->free_head, 0u);
    Off extra = memory::alloc_node();
    EXPECT_TRUE(seen.insert(extra).second);
    auto frames = node_frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1]->prev, arena::off(frames[0]));
    EXPECT_EQ(memory::record.last_node_frame, arena::off(frames[1]));
    EXPECT_EQ(memory::record.current_node_frame, arena::off(frames[1]));
    EXPECT_TRUE(frames[1]->owns_slot(extra));
    EXPECT_EQ(node_content(extra), 0u) << "a node just taken holds null";
    // 36-byte header + 10,000 slots + size word, page-rounded.
    EXPECT_EQ(*at<uint32_t>(arena::off(frames[1]) - 4), 40960u);
}

TEST_F(Memory, FreedNodesAreReusedAndNeverHandedOutTwice) {
    std::vector<Off> nodes;
    for (uint32_t i = 0; i < 2 * memory::NODE_FRAME_SLOTS; ++i) nodes.push_back(memory::alloc_node());
    ASSERT_EQ(node_frames().size(), 2u);
    Off victim = nodes[1234];  // in the first frame; both frames are full
    memory::NodeFrame* f = memory::node_frame_of(victim);
    ASSERT_EQ(f, node_frames()[0]);
    EXPECT_TRUE(memory::free_node(victim));
    EXPECT_EQ(f->used, memory::NODE_FRAME_SLOTS - 1);
    EXPECT_TRUE(f->owns_slot(node_content(victim))) << "a free slot points inside its frame";
    EXPECT_FALSE(memory::free_node(victim)) << "second release is refused";
    EXPECT_FALSE(memory::free_node(victim + 2)) << "not a slot boundary";
    EXPECT_FALSE(memory::free_node(12345678)) << "not a slot at all";
    EXPECT_EQ(f->used, memory::NODE_FRAME_SLOTS - 1);

    EXPECT_EQ(memory::alloc_node(), victim) << "search from the first frame finds the freed slot";
    Off next = memory::alloc_node();
    EXPECT_NE(next, victim);
    EXPECT_EQ(node_frames().size(), 3u);
}

TEST_F(Memory, FreeListIsLastInFirstOutWithinAFrame) {
    Off a = memory::alloc_node(), b = memory::alloc_node(), c = memory::alloc_node();
    EXPECT_EQ(b, a + 4);
    EXPECT_EQ(c, b + 4);
    memory::free_node(a);
    memory::free_node(c);
    EXPECT_EQ(memory::alloc_node(), c);
    EXPECT_EQ(memory::alloc_node(), a);
    EXPECT_EQ(memory::alloc_node(), c + 4);
}

TEST_F(Memory, SlotsTellBuffersFromFreeSlots) {
    Off used = memory::alloc_series(4, 1, 0);
    Off freed = memory::alloc_node();
    Off taken = memory::alloc_node();
    memory::free_node(freed);
    memory::NodeFrame* f = memory::node_frame_of(used);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->slot_holds_buffer(used));
    EXPECT_FALSE(f->slot_holds_buffer(freed));
    EXPECT_FALSE(f->slot_holds_buffer(taken)) << "null until linked";
    // Every free slot, including the list's last, points inside the frame.
    uint32_t free_count = 0;
    for (Off s = f->free_head; s; ++free_count) {
        ASSERT_TRUE(f->owns_slot(node_content(s)));
        Off next = node_content(s);
        s = next == s ? 0 : next;
    }
    EXPECT_EQ(free_count, f->capacity - f->used);
}

TEST_F(Memory, ReleasingNodeFramesAfterACollection) {
    std::vector<Off> nodes;
    for (uint32_t i = 0; i < 2 * memory::NODE_FRAME_SLOTS + 5; ++i) nodes.push_back(memory::alloc_node());
    ASSERT_EQ(node_frames().size(), 3u);
    // Empty the middle frame completely, and one slot of the first.
    for (uint32_t i = memory::NODE_FRAME_SLOTS; i < 2 * memory::NODE_FRAME_SLOTS; ++i)
        memory::free_node(nodes[i]);
    memory::free_node(nodes[7]);
    Off first = arena::off(node_frames()[0]);
    Off last = arena::off(node_frames()[2]);
    uint64_t total = memory::record.total;
    memory::release_node_frames();
    auto frames = node_frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(arena::off(frames[0]), first);
    EXPECT_EQ(arena::off(frames[1]), last);
    EXPECT_EQ(frames[1]->prev, first);
    EXPECT_EQ(memory::record.total, total - 40960);
    EXPECT_EQ(memory::record.current_node_frame, first) << "first frame with free slots";
    EXPECT_EQ(frames[0]->history & 1, 0u) << "used count changed since the last look";
    memory::release_node_frames();
    EXPECT_EQ(frames[0]->history & 3, 1u) << "unchanged since the previous collection";
    EXPECT_EQ(frames[0]->previous_used, memory::NODE_FRAME_SLOTS - 1);
}

// ---- Series frames ----

TEST_F(Memory, FirstSeriesFrameIsOneMegabyteAndLaterOnesTwo) {
    memory::init_frames();
    ASSERT_EQ(series_frames().size(), 1u);
    memory::SeriesFrame* f0 = series_frames()[0];
    EXPECT_EQ(f0->end - f0->data_start(), 1048576u);
    EXPECT_EQ(f0->size, 1048576u + 20);
    EXPECT_EQ(f0->first_free, f0->data_start());
    // 64 KB buffers: 15 fit in 1 MB (each takes 65,536 + 24 bytes).
    const uint32_t chunk = 65536;
    while (series_frames().size() < 4) memory::alloc_bytes(chunk);
    auto frames = series_frames();
    EXPECT_EQ(frames[0]->first_free - frames[0]->data_start(), 15u * (chunk + 24));
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i]->end - frames[i]->data_start(), 2097152u) << "frame " << i;
        EXPECT_GT(arena::off(frames[i]), arena::off(frames[i - 1])) << "address order";
        EXPECT_EQ(frames[i]->prev, arena::off(frames[i - 1]));
    }
    EXPECT_EQ(memory::record.last_series_frame, arena::off(frames.back()));
    EXPECT_EQ(memory::record.current_series_frame, arena::off(frames.back()));
}

TEST_F(Memory, BuffersAreBumpAllocatedWithTwentyFourBytesOfOverhead) {
    memory::init_frames();
    memory::SeriesFrame* f = series_frames()[0];
    struct Case {
        uint32_t count, unit, size;
    } cases[] = {{0, 1, 0},  {1, 1, 16}, {16, 1, 16}, {17, 1, 32},
                 {3, 4, 16}, {5, 4, 32}, {3, 16, 48}, {5, 12, 64}};
    Off expected = f->data_start();
    for (auto c : cases) {
        SeriesBuffer* b = memory::alloc_series_buffer(c.count, c.unit, 0);
        EXPECT_EQ(arena::off(b), expected) << c.count << "x" << c.unit;
        EXPECT_EQ(b->size, c.size);
        EXPECT_EQ(b->unit(), c.unit);
        EXPECT_EQ(b->flags & ~sf::UNIT_MASK, sf::LIVE | sf::ALLOCATED);
        EXPECT_EQ(b->head, b->data_start());
        EXPECT_EQ(b->tail, b->head);
        EXPECT_EQ(b->node, 0u);
        expected += c.size + 24;
    }
    EXPECT_EQ(f->first_free, expected);
}

TEST_F(Memory, ASeriesLinksBufferAndNodeBothWays) {
    Off n = memory::alloc_series(10, 4, 0);
    SeriesBuffer* b = buffer_of(n);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(node_content(n), arena::off(b));
    EXPECT_TRUE(in_frames(b));
}

TEST_F(Memory, FullFrameWithCollectionOffLeadsStraightToANewFrame) {
    memory::collect_hook = test_hook;
    memory::collection_enabled = false;
    while (series_frames().size() < 2) memory::alloc_bytes(100000);
    EXPECT_EQ(hook_calls, 0);
}

TEST_F(Memory, ACollectionRunsBeforeANewFrameIsMade) {
    memory::init_frames();
    memory::collect_hook = test_hook;
    memory::collection_enabled = true;
    std::vector<size_t> frames_at_call;
    hook_action = [&] { frames_at_call.push_back(series_frames().size()); };
    int allocations = 0;
    while (series_frames().size() < 2) {
        memory::alloc_bytes(100000);
        ++allocations;
    }
    EXPECT_EQ(allocations, 11);  // 10 fit in 1 MB
    // One collection for the full frame; a torture build also collects
    // before every allocation.
    ASSERT_EQ(hook_calls, 1 + (TORTURE ? allocations : 0));
    EXPECT_EQ(std::count(frames_at_call.begin(), frames_at_call.end(), 2u), 0)
        << "always before the new frame";
}

TEST_F(Memory, AFrameLeftNearlyFullByACollectionIsNotReused) {
    // The one frame holds about 1 MB. After the collection it is reused only
    // when it has room for a new buffer (52,428 bytes at least); and a new
    // frame gives the room the policy keeps (at least MIN_ROOM, and half
    // the live data) when the frames lack it.
    struct Case {
        uint32_t free_after_collection;
        bool reused;
    } cases[] = {{52427, false}, {52428, true}, {500000, true}, {1000000, true}};
    for (auto c : cases) {
        memory::init();
        memory::init_frames();
        memory::SeriesFrame* f = series_frames()[0];
        f->first_free = f->end - 100;  // full for the request below
        memory::collect_hook = test_hook;
        memory::collection_enabled = true;
        hook_calls = 0;
        hook_action = [&] {
            if (TORTURE && hook_calls == 1) return;  // the per-allocation call, not the one for a full frame
            f->first_free = f->end - c.free_after_collection;  // "frees" space
        };
        SeriesBuffer* b = memory::alloc_series_buffer(1000, 1, 0);
        // The frame cannot hold MIN_ROOM: a second frame is always made.
        EXPECT_EQ(series_frames().size(), 2u) << c.free_after_collection;
        EXPECT_EQ(arena::off(b) == f->end - c.free_after_collection, c.reused) << c.free_after_collection;
        uint64_t used = 0, room = 0;
        for (auto* g : series_frames()) {
            used += g->first_free - g->data_start();
            room += g->end - g->first_free;
        }
        EXPECT_GE(room + 1024 + 24, std::max<uint64_t>(memory::MIN_ROOM, used / 2)) << c.free_after_collection;
        memory::collection_enabled = false;
        hook_action = nullptr;
    }
}

TEST_F(Memory, TheFirstFrameWithRoomInAddressOrderIsTaken) {
    memory::init_frames();
    while (series_frames().size() < 3) memory::alloc_bytes(500000);
    auto frames = series_frames();
    // Make room again in the first frame: it wins over the later ones.
    frames[0]->first_free = frames[0]->data_start();
    frames[2]->first_free = frames[2]->end - 10;  // current frame is full
    SeriesBuffer* b = memory::alloc_series_buffer(64, 1, 0);
    EXPECT_EQ(arena::off(b), frames[0]->data_start());
    EXPECT_EQ(memory::record.current_series_frame, arena::off(frames[0]));
}

TEST_F(Memory, ARequestAtLeastTheNextFrameSizeGetsABigFrame) {
    // The first frame would be 1 MB; a 1.5 MB request cannot fit it.
    SeriesBuffer* b = memory::alloc_series_buffer(1536 * 1024, 1, 0);
    ASSERT_EQ(series_frames().size(), 1u);
    memory::SeriesFrame* f = series_frames()[0];
    EXPECT_EQ(f->end - f->data_start(), 2097152u);
    EXPECT_TRUE(in_frames(b));
    EXPECT_EQ(b->flags & sf::BIG, 0u);
}

TEST_F(Memory, ReleasingASeriesFrameKeepsTheListConsistent) {
    memory::init_frames();
    while (series_frames().size() < 3) memory::alloc_bytes(500000);
    auto frames = series_frames();
    uint64_t total = memory::record.total;
    memory::release_series_frame(frames[1]);
    auto now = series_frames();
    ASSERT_EQ(now.size(), 2u);
    EXPECT_EQ(now[0]->next, arena::off(frames[2]));
    EXPECT_EQ(now[1]->prev, arena::off(frames[0]));
    EXPECT_EQ(memory::record.total, total - (2097152 + 20 + 4 + 4095) / 4096 * 4096);
    // A new frame fills the hole at its address-ordered place.
    memory::new_series_frame();
    auto again = series_frames();
    ASSERT_EQ(again.size(), 3u);
    EXPECT_TRUE(std::is_sorted(again.begin(), again.end()));
}

// ---- Big series ----

TEST_F(Memory, BigSeriesThreshold) {
    memory::init_frames();
    struct Case {
        uint32_t count;  // bytes
        bool big;
    } cases[] = {
        {2097120, false},  // data 2,097,120 + 24 = 2,097,144: stays in a frame
        {2097121, true},   // rounds to 2,097,136: need 2,097,160
        {2097136, true},
        {3000000, true},
    };
    for (auto c : cases) {
        SeriesBuffer* b = memory::alloc_series_buffer(c.count, 1, 0);
        EXPECT_EQ((b->flags & sf::BIG) != 0, c.big) << c.count;
        EXPECT_EQ(in_frames(b), !c.big) << c.count;
        if (c.big) {
            auto* bb = reinterpret_cast<memory::BigBlock*>(reinterpret_cast<uint8_t*>(b) - 12);
            EXPECT_EQ(bb->size, b->size + 24);
            EXPECT_EQ(bb->link2, 0u);
            EXPECT_EQ(big_blocks().back(), bb) << "appended at the end of the big list";
        }
    }
    EXPECT_EQ(big_blocks().size(), 3u);
}

TEST_F(Memory, ANeedEqualToTheThresholdIsBig) {
    // Data sizes are multiples of 16, so a need of exactly 2 MB cannot occur
    // with the standard threshold; a threshold one step lower shows that the
    // comparison includes equality.
    memory::record.big_threshold = 2097144;
    SeriesBuffer* at_threshold = memory::alloc_series_buffer(2097120, 1, 0);
    SeriesBuffer* below = memory::alloc_series_buffer(2097104, 1, 0);
    EXPECT_NE(at_threshold->flags & sf::BIG, 0u);
    EXPECT_EQ(below->flags & sf::BIG, 0u);
}

TEST_F(Memory, ACollectionRunsBeforeABigBlockIsMade) {
    memory::collect_hook = test_hook;
    memory::collection_enabled = true;
    size_t big_before_hook = 99;
    hook_action = [&] { big_before_hook = big_blocks().size(); };
    memory::alloc_series_buffer(3000000, 1, 0);
    EXPECT_EQ(hook_calls, TORTURE ? 2 : 1);
    EXPECT_EQ(big_before_hook, 0u);
}

TEST_F(Memory, FreeBigUnlinksAndReleases) {
    SeriesBuffer* a = memory::alloc_big(3000000);
    SeriesBuffer* b = memory::alloc_big(2200000);
    SeriesBuffer* c = memory::alloc_big(2100000);
    uint64_t total = memory::record.total;
    memory::free_big(b);
    auto blocks = big_blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0]->buffer(), a);
    EXPECT_EQ(blocks[1]->buffer(), c);
    EXPECT_EQ(memory::record.total, total - ((2200000 + 12 + 4 + 4095) / 4096 * 4096));
    expect_raise([&] { memory::free_big(b); }, "internal", "wrong-mem");
    memory::free_big(a);
    memory::free_big(c);
    EXPECT_TRUE(big_blocks().empty());
}

// ---- Fixed series ----

TEST_F(Memory, FixedSeriesLiveOutsideTheFramesAndNeverMove) {
    memory::init_frames();
    Off frame_top = series_frames()[0]->first_free;
    Off n = memory::alloc_fixed_series(100, 16, 0);
    SeriesBuffer* b = buffer_of(n);
    EXPECT_EQ(b->flags, 16u | sf::LIVE | sf::ALLOCATED | sf::FIXED);
    EXPECT_EQ(b->size, 1600u);
    EXPECT_EQ(b->head, b->data_start());
    EXPECT_EQ(b->node, n);
    EXPECT_FALSE(in_frames(b));
    EXPECT_EQ(series_frames()[0]->first_free, frame_top);
    ASSERT_EQ(memory::fixed_buffers().size(), 1u);
    EXPECT_EQ(memory::fixed_buffers()[0], arena::off(b));
    Off where = node_content(n);
    for (int i = 0; i < 40; ++i) memory::alloc_bytes(100000);  // several new frames
    memory::alloc_series(3000000, 1, 0);
    EXPECT_EQ(node_content(n), where);

    Off centred = memory::alloc_fixed_series(10, 16, -1);
    EXPECT_EQ(buffer_of(centred)->head, buffer_of(centred)->data_start() + 80);
    EXPECT_NE(buffer_of(centred)->flags & sf::HEAD_CENTRED, 0u);
    EXPECT_EQ(memory::fixed_buffers().size(), 2u);
}

TEST_F(Memory, ExpandingAFixedSeriesKeepsItFixed) {
    memory::init_frames();
    Off n = memory::alloc_fixed_series(2, 16, 0);
    SeriesBuffer* b = buffer_of(n);
    b->tail += 32;
    std::memset(b->head_ptr(), 0x5A, 32);
    Off old = arena::off(b);
    uint64_t total = memory::record.total;
    SeriesBuffer* nb = memory::expand_series_copy(b, 0);
    EXPECT_NE(nb->flags & sf::FIXED, 0u);
    EXPECT_FALSE(in_frames(nb));
    EXPECT_EQ(nb->size, 64u);
    EXPECT_EQ(nb->byte_count(), 32u);
    EXPECT_EQ(nb->head_ptr()[31], 0x5A);
    ASSERT_EQ(memory::fixed_buffers().size(), 1u);
    EXPECT_EQ(memory::fixed_buffers()[0], arena::off(nb));
    EXPECT_NE(memory::fixed_buffers()[0], old);
    // The old block stays readable until the next allocation releases it.
    EXPECT_EQ(memory::record.total, total + 4096);
    memory::alloc_bytes(1);
    EXPECT_EQ(memory::record.total, total);
}

// ---- Expansion ----

TEST_F(Memory, ExpansionSizes) {
    struct Case {
        uint32_t count, unit;
        uint64_t request;
        uint32_t expected;
    } cases[] = {
        {1, 1, 0, 32},     // 16 doubles
        {3, 16, 0, 96},    // 48 doubles
        {2, 1, 100, 112},  // asked 100, rounded to 16
        {1, 16, 40, 48},   // 40 bytes of cells: three cells
        {1, 4, 40, 48},    // ten 4-byte units, rounded
        {1, 12, 30, 48},   // record unit 12: three records, rounded
        {64, 1, 20, 64},   // never below the content (64 bytes in use)
    };
    for (auto c : cases) {
        Off n = memory::alloc_series(c.count, c.unit, 0);
        SeriesBuffer* b = buffer_of(n);
        b->tail = b->data_end();
        SeriesBuffer* nb = memory::expand_series(b, c.request);
        EXPECT_EQ(nb->size, c.expected) << c.count << "x" << c.unit << " to " << c.request;
        EXPECT_EQ(nb->byte_count(), b->size) << "tail keeps the content length";
        EXPECT_EQ(nb->unit(), c.unit);
    }
}

TEST_F(Memory, ExpansionKeepsIdentityAndAbandonsTheOldBuffer) {
    Off n = memory::alloc_series(4, 4, 0);
    SeriesBuffer* b = buffer_of(n);
    b->flags |= sf::OWNED | sf::OWNED_LOW | sf::COMPLEMENT;
    for (uint32_t i = 0; i < 4; ++i) std::memcpy(b->head_ptr() + 4 * i, &i, 4);
    b->tail = b->head + 12;
    Off old_off = arena::off(b);
    SeriesBuffer* old = nullptr;
    SeriesBuffer* nb = memory::expand_series(b, 0, &old);
    EXPECT_EQ(arena::off(old), old_off);
    EXPECT_EQ(node_content(n), arena::off(nb));
    EXPECT_EQ(nb->node, n);
    EXPECT_EQ(old->node, 0u);
    EXPECT_EQ(old->flags & sf::LIVE, 0u);
    EXPECT_EQ(nb->flags, 4u | sf::LIVE | sf::ALLOCATED | sf::OWNED | sf::OWNED_LOW | sf::COMPLEMENT);
    EXPECT_EQ(nb->head, nb->data_start());
    EXPECT_EQ(nb->tail, nb->head + 12);
    EXPECT_EQ(nb->size, 32u);
    uint32_t v;
    std::memcpy(&v, old->head_ptr() + 8, 4);
    EXPECT_EQ(v, 2u) << "the old content stays readable until the next allocation";
    expect_raise([&] { memory::expand_series(old, 0); }, "internal", "wrong-mem");
}

TEST_F(Memory, ExpandingAHeadCentredBufferPutsTheContentAtTheStart) {
    Off n = memory::alloc_series(10, 16, -1);
    SeriesBuffer* b = buffer_of(n);
    EXPECT_NE(b->flags & sf::HEAD_CENTRED, 0u);
    EXPECT_EQ(b->head, b->data_start() + 80);
    b->head -= 16;  // grown at both ends
    b->tail += 32;
    std::memset(b->head_ptr(), 0xAB, 48);
    SeriesBuffer* nb = memory::expand_series_copy(b, 0);
    EXPECT_NE(nb->flags & sf::HEAD_CENTRED, 0u);
    EXPECT_EQ(nb->size, 320u);
    EXPECT_EQ(nb->head, nb->data_start());
    EXPECT_EQ(nb->byte_count(), 48u);
    for (int i = 0; i < 48; ++i) ASSERT_EQ(nb->head_ptr()[i], 0xAB);
}

TEST_F(Memory, ExpandingToNothingRaisesNoMemory) {
    Off n = memory::alloc_series(0, 16, 0);
    EXPECT_EQ(buffer_of(n)->size, 0u);
    expect_raise([&] { memory::expand_series(buffer_of(n), 0); }, "internal", "no-memory");
    Off m = memory::alloc_series(4, 1, 0);
    expect_raise([&] { memory::expand_series(buffer_of(m), uint64_t(5) << 32); }, "internal", "no-memory");
    EXPECT_EQ(buffer_of(m)->node, m) << "a failed expansion leaves the series as it was";
}

TEST_F(Memory, ExpansionAcrossTheThresholdSetsOrDropsTheBigFlag) {
    Off n = memory::alloc_series(1 << 20, 1, 0);
    SeriesBuffer* b = buffer_of(n);
    EXPECT_EQ(b->flags & sf::BIG, 0u);
    b->tail = b->head + 100;
    SeriesBuffer* big = memory::expand_series_copy(b, 0);
    EXPECT_NE(big->flags & sf::BIG, 0u);
    EXPECT_FALSE(in_frames(big));
    // Back into a frame: the placement is the new allocation's, not the old one's.
    SeriesBuffer* small = memory::expand_series_copy(big, 4096);
    EXPECT_EQ(small->flags & sf::BIG, 0u);
    EXPECT_TRUE(in_frames(small));
    EXPECT_EQ(small->byte_count(), 100u);
    // The replaced big block left the big list and goes at the next allocation.
    EXPECT_TRUE(big_blocks().empty());
    uint64_t total = memory::record.total;
    memory::alloc_bytes(1);
    EXPECT_LT(memory::record.total, total);
}

TEST_F(Memory, ExpandFillSetsTheNewBytes) {
    Off n = memory::alloc_bytes_filled(16, 0x00);
    SeriesBuffer* b = buffer_of(n);
    b->head_ptr()[3] = 0x11;
    b->tail = b->head + 4;
    SeriesBuffer* nb = memory::expand_series_fill(b, 40, 0xFF);
    ASSERT_EQ(nb->size, 48u);
    EXPECT_EQ(nb->byte_count(), 4u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(nb->head_ptr()[i], i == 3 ? 0x11 : 0x00) << i;
    for (int i = 16; i < 48; ++i) EXPECT_EQ(nb->head_ptr()[i], 0xFF) << i;
}

TEST_F(Memory, TheLastBufferOfTheFrameGrowsInPlace) {
    memory::init_frames();
    struct Case {
        int32_t head_offset;  // 0: head at the start; -1: centred
        bool last;            // nothing allocated after it
        bool fill;            // expand_series_fill rather than _copy
    } cases[] = {{0, true, false}, {-1, true, false}, {0, false, false}, {0, true, true}, {-1, true, true}};
    for (auto c : cases) {
        // 16 data bytes from the head either way (a centred head sits mid-buffer).
        Off n = memory::alloc_series(c.head_offset ? 8 : 4, 4, c.head_offset);
        SeriesBuffer* b = buffer_of(n);
        for (uint32_t i = 0; i < 3; ++i) std::memcpy(b->head_ptr() + 4 * i, &i, 4);
        b->tail = b->head + 12;
        if (!c.last) memory::alloc_bytes(1);
        Off before = arena::off(b);
        memory::SeriesFrame* frame = nullptr;
        for (auto* f : series_frames()) {
            if (before > arena::off(f) && before < f->end) frame = f;
        }
        ASSERT_NE(frame, nullptr);
        Off free_before = frame->first_free;
        SeriesBuffer* nb = c.fill ? memory::expand_series_fill(b, 64, 0xCD) : memory::expand_series_copy(b, 64);
        EXPECT_EQ(node_content(n), arena::off(nb));
        EXPECT_EQ(nb->size, 64u);
        EXPECT_EQ(nb->head, nb->data_start());
        EXPECT_EQ(nb->byte_count(), 12u);
        for (uint32_t i = 0; i < 3; ++i) {
            uint32_t v;
            std::memcpy(&v, nb->head_ptr() + 4 * i, 4);
            EXPECT_EQ(v, i);
        }
        if (c.fill) {
            for (uint32_t i = 16; i < 64; ++i) ASSERT_EQ(nb->head_ptr()[i], 0xCD) << i;
        }
        if (c.last) {
            EXPECT_EQ(arena::off(nb), before) << "grown where it was";
            EXPECT_EQ(frame->first_free, free_before + 64 - (c.head_offset ? 32 : 16)) << "the frame gave the room";
            EXPECT_EQ(nb->node, n);
            EXPECT_NE(nb->flags & sf::LIVE, 0u);
        } else {
            EXPECT_NE(arena::off(nb), before);
            EXPECT_EQ(b->node, 0u) << "the old buffer is abandoned";
        }
    }
}

// A stand-in for a compacting collection: moves one buffer to `spare` (a
// garbage buffer's place), rewrites its node and scribbles over the old place.
struct Mover {
    Off node = 0;
    SeriesBuffer* spare = nullptr;
    bool done = false;
    void operator()() {
        if (done || !node) return;
        done = true;
        SeriesBuffer* b = buffer_of(node);
        uint32_t bytes = sizeof(SeriesBuffer) + b->size;
        int64_t delta = int64_t(arena::off(spare)) - int64_t(arena::off(b));
        std::memmove(spare, b, bytes);
        spare->head = Off(int64_t(spare->head) + delta);
        spare->tail = Off(int64_t(spare->tail) + delta);
        *arena::ptr<Off>(node) = arena::off(spare);
        std::memset(b, 0xEE, bytes);
    }
};

// Marks every frame full so that the next allocation has to collect.
void fill_frames() {
    for (auto* f : series_frames()) f->first_free = f->end - 8;
}

TEST_F(Memory, ExpansionCopiesFromWhereACollectionMovedTheBuffer) {
    memory::init_frames();
    Off n = memory::alloc_series(64, 1, 0);
    SeriesBuffer* b = buffer_of(n);
    for (int i = 0; i < 64; ++i) b->head_ptr()[i] = uint8_t(i);
    b->tail = b->data_end();
    Mover mover{n, memory::alloc_series_buffer(64, 1, 0)};
    fill_frames();
    memory::collect_hook = test_hook;
    memory::collection_enabled = true;
    hook_action = [&] { mover(); };
    SeriesBuffer* nb = memory::expand_series_copy(b, 0);  // `b` is stale after this
    ASSERT_TRUE(mover.done);
    EXPECT_EQ(node_content(n), arena::off(nb));
    EXPECT_EQ(nb->byte_count(), 64u);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(nb->head_ptr()[i], i);
    EXPECT_EQ(mover.spare->node, 0u) << "the moved old buffer is abandoned";
}

TEST_F(Memory, CopySeriesReadsFromWhereACollectionMovedTheBuffer) {
    memory::init_frames();
    Off n = memory::alloc_series(8, 4, 0);
    SeriesBuffer* b = buffer_of(n);
    for (uint32_t i = 0; i < 8; ++i) std::memcpy(b->head_ptr() + 4 * i, &i, 4);
    b->tail = b->head + 24;
    b->flags |= sf::OWNED;
    Mover mover{n, memory::alloc_series_buffer(8, 4, 0)};
    fill_frames();
    memory::collect_hook = test_hook;
    memory::collection_enabled = true;
    hook_action = [&] { mover(); };
    Off copy = memory::copy_series(b);
    ASSERT_TRUE(mover.done);
    SeriesBuffer* c = buffer_of(copy);
    EXPECT_EQ(c->byte_count(), 24u);
    EXPECT_EQ(c->size, 32u);
    EXPECT_EQ(c->flags, 4u | sf::LIVE | sf::ALLOCATED | sf::OWNED);
    for (uint32_t i = 0; i < 8; ++i) {
        uint32_t v;
        std::memcpy(&v, c->head_ptr() + 4 * i, 4);
        ASSERT_EQ(v, i) << "whole data area from the head";
    }
    EXPECT_EQ(buffer_of(n)->node, n) << "the source keeps its identity";
}

// ---- Allocation variants ----

TEST_F(Memory, AllocationVariants) {
    EXPECT_EQ(buffer_of(memory::alloc_bytes(0))->size, 16u);
    EXPECT_EQ(buffer_of(memory::alloc_bytes(17))->size, 32u);
    struct Case {
        uint32_t count, unit, size;
    } texts[] = {{0, 1, 16}, {0, 2, 16}, {0, 4, 16}, {5, 2, 16}, {5, 4, 32}};
    for (auto c : texts) {
        SeriesBuffer* b = buffer_of(memory::alloc_codepoints(c.count, c.unit));
        EXPECT_EQ(b->size, c.size) << c.count << "x" << c.unit;
        EXPECT_EQ(b->unit(), c.unit);
    }
    SeriesBuffer* cells = buffer_of(memory::alloc_cells(3));
    EXPECT_EQ(cells->unit(), 16u);
    EXPECT_EQ(cells->size, 48u);
}

TEST_F(Memory, UnsetCellsFillTheWholeDataArea) {
    memory::init_frames();
    // Dirty the frame memory first so that the fill is visible.
    SeriesBuffer* junk = memory::alloc_series_buffer(64, 16, 0);
    std::memset(junk->head_ptr(), 0x77, junk->size);
    series_frames()[0]->first_free = arena::off(junk);
    Off n = memory::alloc_unset_cells(64);
    SeriesBuffer* b = buffer_of(n);
    EXPECT_EQ(b->tail, b->head);
    for (uint32_t i = 0; i < 64; ++i) {
        const Cell& c = b->head_cell()[i];
        ASSERT_EQ(c.header, uint32_t(TYPE_UNSET));
        ASSERT_EQ(c.w1 | c.w2 | c.w3, 0u);
    }
}

TEST_F(Memory, FilledBytesCoverTheRoundedSize) {
    SeriesBuffer* b = buffer_of(memory::alloc_bytes_filled(5, 0xC3));
    EXPECT_EQ(b->size, 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(b->head_ptr()[i], 0xC3);
    EXPECT_EQ(b->byte_count(), 0u);
}

TEST_F(Memory, FillRange) {
    uint8_t bytes[8] = {};
    memory::fill_range(bytes + 2, bytes + 5, 9);
    memory::fill_range(bytes + 6, bytes + 6, 9);
    memory::fill_range(bytes + 7, bytes + 6, 9);  // reversed: nothing
    uint8_t expected[8] = {0, 0, 9, 9, 9, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes, expected, 8), 0);
}

TEST_F(Memory, MemoryIsNeverHandedOutTwice) {
    std::mt19937 rng(42);
    std::set<Off> nodes;
    for (int i = 0; i < 3000; ++i) {
        uint32_t kind = rng() % 100;
        uint32_t count = kind < 2 ? 2100000 + rng() % 100000 : rng() % 5000;
        uint32_t unit = 1u << (rng() % 5);
        if (kind < 2) unit = 1;
        Off n = kind % 50 == 7 ? memory::alloc_fixed_series(count, unit, 0)
                               : memory::alloc_series(count, unit, 0);
        ASSERT_TRUE(nodes.insert(n).second);
        if (kind % 10 == 3) memory::expand_series_copy(buffer_of(n), 0);
    }
    std::vector<std::pair<Off, Off>> extents;  // [header, end of slack) of every live buffer
    for (Off n : nodes) extents.push_back({node_content(n), buffer_of(n)->data_end() + 4});
    std::sort(extents.begin(), extents.end());
    for (size_t i = 1; i < extents.size(); ++i)
        ASSERT_LE(extents[i - 1].second, extents[i].first) << "overlap at " << extents[i].first;
    for (Off n : nodes) ASSERT_EQ(buffer_of(n)->node, n);
}

// ---- Statistics ----

TEST_F(Memory, StatisticsFigures) {
    memory::init_frames();
    memory::alloc_series(10, 1, 0);       // 16 + 24
    memory::alloc_series(3, 16, 0);       // 48 + 24
    memory::alloc_series(3000000, 1, 0);  // big: 3,000,000 + 24
    memory::alloc_fixed_series(4, 16, 0);
    memory::collection_enabled = true;  // restored after the walk

    memory::Stats one = memory::collect_stats(1);
    uint64_t in_use = 4 * 4 + (40 + 72) + 3000024;
    EXPECT_EQ(one.in_use, in_use);
    EXPECT_TRUE(one.node_frames.empty());
    EXPECT_TRUE(memory::collection_enabled);

    memory::Stats two = memory::collect_stats(2);
    EXPECT_EQ(two.in_use, in_use);
    ASSERT_EQ(two.node_frames.size(), 1u);
    EXPECT_EQ(two.node_frames[0].free, 9996u);
    EXPECT_EQ(two.node_frames[0].used, 4u);
    EXPECT_EQ(two.node_frames[0].total, 10000u);
    ASSERT_EQ(two.series_frames.size(), 1u);
    EXPECT_EQ(two.series_frames[0].free, 1048576u - 112);
    EXPECT_EQ(two.series_frames[0].used, 112u);
    EXPECT_EQ(two.series_frames[0].total, 1048576u);
    ASSERT_EQ(two.big_blocks.size(), 1u);
    EXPECT_EQ(two.big_blocks[0], 3000024u);
    EXPECT_EQ(two.fixed, 64u + 24);
    uint64_t grand = (10000 * 4 + 36) + (1048576 + 20) + (3000024 + 12) + 88;
    EXPECT_EQ(two.grand_total, grand + two.tracked_heap);

    // Tracked-heap blocks count with a 16-byte header each.
    void* p = lowlevel::allocate(1000);
    void* q = lowlevel::allocate(24);
    memory::Stats three = memory::collect_stats(2);
    EXPECT_EQ(three.tracked_heap, two.tracked_heap + 1000 + 16 + 24 + 16);
    EXPECT_EQ(three.grand_total, grand + three.tracked_heap);
    lowlevel::free(p);
    lowlevel::free(q);
    EXPECT_TRUE(memory::collection_enabled);
}

TEST_F(Memory, InitReturnsEverythingAndResetsTheRecord) {
    memory::init_frames();
    memory::alloc_series(3000000, 1, 0);
    memory::alloc_fixed_series(10, 1, 0);
    while (series_frames().size() < 2) memory::alloc_bytes(500000);
    EXPECT_EQ(memory::record.next_frame_size, 2097152u);
    memory::init();
    EXPECT_EQ(memory::record.total, 0u);
    EXPECT_EQ(memory::record.first_node_frame, 0u);
    EXPECT_EQ(memory::record.first_series_frame, 0u);
    EXPECT_EQ(memory::record.big_list, 0u);
    EXPECT_EQ(memory::record.next_frame_size, 1048576u);
    EXPECT_EQ(memory::record.initial_frame_size, 1048576u);
    EXPECT_EQ(memory::record.big_threshold, 2097152u);
    EXPECT_TRUE(memory::fixed_buffers().empty());
    // And it works again from scratch.
    Off n = memory::alloc_bytes(5);
    EXPECT_EQ(buffer_of(n)->node, n);
}

}  // namespace
