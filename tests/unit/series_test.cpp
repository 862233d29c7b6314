// Series primitives: tail growth, 32-bit entry lists, byte access, copies.
#include "runtime/series.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "runtime/error.h"
#include "runtime/memory.h"

using namespace kiv;
namespace sf = kiv::series_flag;

namespace {

void expect_raise(const std::function<void()>& f, const char* category, const char* id) {
    try {
        f();
        ADD_FAILURE() << "expected " << category << " " << id;
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.category, category);
        EXPECT_EQ(e.id, id);
    }
}

// A series of 32-bit entries holding `values`.
Off entries(const std::vector<uint32_t>& values, uint32_t capacity = 0) {
    Off n = memory::alloc_series(capacity ? capacity : uint32_t(values.size()), 4, 0);
    for (uint32_t v : values) series::append_entry(n, v);
    return n;
}

std::vector<uint32_t> contents(Off n) {
    std::vector<uint32_t> out(series::count(n));
    std::memcpy(out.data(), series::head_of(n), out.size() * 4);
    return out;
}

class Series : public ::testing::Test {
  protected:
    void SetUp() override {
        memory::init();
        memory::init_frames();
    }
    void TearDown() override { memory::free_all(); }
};

TEST_F(Series, CopyingACellOntoItselfLeavesItUnchanged) {
    Cell c{TYPE_INTEGER | header::NEW_LINE, 7, 8, 9};
    copy_cell(&c, &c);
    EXPECT_EQ(c.header, TYPE_INTEGER | header::NEW_LINE);
    EXPECT_EQ(c.w1, 7u);
    EXPECT_EQ(c.w3, 9u);
    Cell d{};
    EXPECT_EQ(copy_cell(&c, &d), &d);
    EXPECT_EQ(std::memcmp(&c, &d, sizeof c), 0);
}

TEST_F(Series, AppendingToAFullBlockDoublesItAndTheNewCellIsUnset) {
    Off n = memory::alloc_cells(2);
    Cell block{TYPE_BLOCK, 0, n, 0};
    for (uint32_t i = 0; i < 2; ++i) *block_alloc_tail(&block) = Cell{TYPE_INTEGER, i, 0, 0};
    EXPECT_EQ(buffer_of(n)->size, 32u);
    Cell* c = block_alloc_tail(&block);
    EXPECT_EQ(c->type(), uint32_t(TYPE_UNSET));
    SeriesBuffer* b = buffer_of(n);
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(series::count(n), 3u);
    EXPECT_EQ(b->head_cell()[1].w1, 1u) << "content copied";
    EXPECT_EQ(c, b->head_cell() + 2);
}

TEST_F(Series, AppendingToAnEmptyZeroSizedBlockWorks) {
    Off n = memory::alloc_cells(0);
    ASSERT_EQ(buffer_of(n)->size, 0u);
    Cell* c = series::alloc_tail_cell(buffer_of(n));
    c->w1 = 5;
    EXPECT_EQ(buffer_of(n)->size, 16u);
    EXPECT_EQ(series::count(n), 1u);
}

TEST_F(Series, HeadCentredCellsNeverRunPastTheEnd) {
    // 3 cells: 48 bytes, head at byte 24, so the tail never lands exactly on the end.
    Off n = memory::alloc_series(3, 16, -1);
    for (uint32_t i = 0; i < 10; ++i) {
        Cell* c = series::alloc_tail_cell(buffer_of(n));
        c->w1 = i;
        SeriesBuffer* b = buffer_of(n);
        ASSERT_LE(b->tail, b->data_end());
        ASSERT_GE(b->head, b->data_start());
    }
    SeriesBuffer* b = buffer_of(n);
    EXPECT_EQ(series::count(n), 10u);
    for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(b->head_cell()[i].w1, i);
    EXPECT_NE(b->flags & sf::HEAD_CENTRED, 0u);
}

TEST_F(Series, ReserveTailGrowthRule) {
    struct Case {
        uint32_t size, used, reserve, grown;
    } cases[] = {
        {16, 16, 10, 32},                     // short: twice the current size
        {16, 8, 8, 16},                       // fits: no growth
        {16, 8, 9, 32},   {16, 0, 100, 208},  // more than the whole size: twice the request (200, rounded)
        {32, 32, 32, 64},                     // request equal to the size: twice the size
        {32, 32, 33, 80},                     // 66 rounded
    };
    for (auto c : cases) {
        Off n = memory::alloc_bytes(c.size);
        SeriesBuffer* b = buffer_of(n);
        std::memset(b->head_ptr(), 0x42, c.used);
        b->tail = b->head + c.used;
        Off old_tail = series::reserve_tail(b, c.reserve);
        b = buffer_of(n);
        EXPECT_EQ(b->size, c.grown) << c.size << "/" << c.used << " + " << c.reserve;
        EXPECT_EQ(old_tail, b->head + c.used);
        EXPECT_EQ(b->byte_count(), c.used + c.reserve);
        for (uint32_t i = 0; i < c.used; ++i) ASSERT_EQ(b->head_ptr()[i], 0x42);
    }
}

TEST_F(Series, AppendBytesAndByteAt) {
    Off n = memory::alloc_bytes(4);
    series::append_bytes(buffer_of(n), "hello, world", 12);
    series::append_byte(buffer_of(n), '!');
    ASSERT_EQ(series::count(n), 13u);
    EXPECT_EQ(std::memcmp(series::head_of(n), "hello, world!", 13), 0);
    EXPECT_EQ(series::byte_at(n, 1), 'h');
    EXPECT_EQ(series::byte_at(n, 13), '!');
    expect_raise([&] { series::byte_at(n, 0); }, "script", "out-of-range");
    expect_raise([&] { series::byte_at(n, buffer_of(n)->size + 1); }, "script", "out-of-range");
    series::append_bytes(buffer_of(n), nullptr, 0);
    EXPECT_EQ(series::count(n), 13u);
}

TEST_F(Series, AppendingASeriesToItselfAcrossAnExpansion) {
    Off n = memory::alloc_bytes(16);
    series::append_bytes(buffer_of(n), "0123456789abcdef", 16);
    SeriesBuffer* b = buffer_of(n);
    series::append_bytes(b, b->head_ptr(), 16);  // the source moves with the expansion
    EXPECT_EQ(series::count(n), 32u);
    EXPECT_EQ(std::memcmp(series::head_of(n), "0123456789abcdef0123456789abcdef", 32), 0);
}

TEST_F(Series, FindEntry) {
    EXPECT_EQ(series::find_entry(entries({}), 5), -1);
    Off n = entries({7, 5, 9, 5});
    EXPECT_EQ(series::find_entry(n, 5), 4) << "first of two";
    EXPECT_EQ(series::find_entry(n, 7), 0);
    EXPECT_EQ(series::find_entry(n, 9), 8);
    EXPECT_EQ(series::find_entry(n, 6), -1);
    EXPECT_EQ(series::find_entry(buffer_of(n), 5), 4);
}

TEST_F(Series, SetTailAt) {
    Off n = entries({1, 2, 3, 4});
    series::set_tail_at(n, 3);
    EXPECT_EQ(contents(n), (std::vector<uint32_t>{1, 2}));
    series::set_tail_at(n, 1);
    EXPECT_EQ(series::count(n), 0u) << "index 1 empties";
    series::set_tail_at(n, 5);
    EXPECT_EQ(contents(n), (std::vector<uint32_t>{1, 2, 3, 4}));
    expect_raise([&] { series::set_tail_at(n, 0); }, "script", "out-of-range");
    expect_raise([&] { series::set_tail_at(n, 6); }, "script", "out-of-range");
    EXPECT_EQ(series::count(n), 4u);
    EXPECT_EQ(series::reset_tail(n)->byte_count(), 0u);
}

TEST_F(Series, GetAndSetInt) {
    Off n = entries({10, 20, 30});
    EXPECT_EQ(series::get_int(n, 2), 20u);
    series::set_int(n, 3, 33);
    EXPECT_EQ(contents(n), (std::vector<uint32_t>{10, 20, 33}));
    series::set_int(n, 4, 44);  // inside the data area, past the tail
    EXPECT_EQ(series::get_int(n, 4), 44u);
    EXPECT_EQ(series::count(n), 3u);
    expect_raise([&] { series::get_int(n, 0); }, "script", "out-of-range");
    expect_raise([&] { series::set_int(n, 5, 1); }, "script", "out-of-range");
}

TEST_F(Series, InsertInt) {
    struct Case {
        std::vector<uint32_t> before;
        uint32_t index, value;
        std::vector<uint32_t> after;
    } cases[] = {
        {{}, 1, 9, {9}},
        {{1, 2, 3}, 1, 9, {9, 1, 2, 3}},
        {{1, 2, 3}, 2, 9, {1, 9, 2, 3}},
        {{1, 2, 3}, 4, 9, {1, 2, 3, 9}},
        {{1, 2, 3, 4}, 3, 9, {1, 2, 9, 3, 4}},  // full buffer: doubles
    };
    for (auto& c : cases) {
        Off n = entries(c.before);
        series::insert_int(buffer_of(n), c.value, c.index);
        EXPECT_EQ(contents(n), c.after);
    }
    Off full = entries({1, 2, 3, 4});
    series::insert_int(buffer_of(full), 0, 5);
    EXPECT_EQ(buffer_of(full)->size, 32u);
    Off n = entries({1, 2});
    expect_raise([&] { series::insert_int(buffer_of(n), 9, 0); }, "script", "out-of-range");
    expect_raise([&] { series::insert_int(buffer_of(n), 9, 4); }, "script", "out-of-range");
    EXPECT_EQ(contents(n), (std::vector<uint32_t>{1, 2}));
    Off empty = memory::alloc_series(0, 4, 0);
    series::insert_int(buffer_of(empty), 7, 1);
    EXPECT_EQ(contents(empty), (std::vector<uint32_t>{7}));
}

TEST_F(Series, RemoveIntAndRemoveBytes) {
    Off n = entries({4, 5, 6, 5});
    series::remove_int(n, 5);
    EXPECT_EQ(contents(n), (std::vector<uint32_t>{4, 6, 5}));
    series::remove_int(n, 8);
    EXPECT_EQ(contents(n), (std::vector<uint32_t>{4, 6, 5}));

    Off b = memory::alloc_bytes(16);
    series::append_bytes(buffer_of(b), "abcdefgh", 8);
    series::remove_bytes(b, 2, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(series::head_of(b)), series::count(b)), "abfgh");
    series::remove_bytes(b, 5, 0);
    series::remove_bytes(b, 3, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(series::head_of(b)), series::count(b)), "abf");
    expect_raise([&] { series::remove_bytes(b, 2, 2); }, "script", "out-of-range");
    expect_raise([&] { series::remove_bytes(b, 4, 0); }, "script", "out-of-range");
    EXPECT_EQ(series::count(b), 3u);
}

TEST_F(Series, CopyPart) {
    Off n = entries({1, 2, 3, 4, 5});
    series::set_flags(n, sf::OWNED | sf::OWNED_LOW | sf::COMPLEMENT);
    Off part = series::copy_part(n, 1, 3);
    SeriesBuffer* p = buffer_of(part);
    EXPECT_EQ(contents(part), (std::vector<uint32_t>{2, 3, 4}));
    EXPECT_EQ(p->unit(), 4u);
    EXPECT_EQ(p->flags & sf::OWNED, 0u) << "a partial copy is not owned";
    EXPECT_NE(p->flags & sf::OWNED_LOW, 0u);
    EXPECT_NE(p->flags & sf::COMPLEMENT, 0u);
    EXPECT_EQ(p->node, part);
    EXPECT_EQ(series::count(series::copy_part(n, 5, 0)), 0u);
    expect_raise([&] { series::copy_part(n, 3, 3); }, "script", "out-of-range");
}

TEST_F(Series, CopyNodeKeepsFlagsAndTheFilledCapacity) {
    Off bits = memory::alloc_bytes_filled(20, 0xFF);  // 32 bytes of capacity
    SeriesBuffer* b = buffer_of(bits);
    b->flags |= sf::COMPLEMENT;
    b->head_ptr()[0] = 0x0F;
    b->tail = b->head + 1;
    Off copy = series::copy_node(bits);
    SeriesBuffer* c = buffer_of(copy);
    EXPECT_NE(copy, bits);
    EXPECT_EQ(c->size, 32u);
    EXPECT_EQ(c->byte_count(), 1u);
    EXPECT_EQ(c->flags, 1u | sf::LIVE | sf::ALLOCATED | sf::COMPLEMENT);
    EXPECT_EQ(c->head_ptr()[0], 0x0F);
    for (int i = 1; i < 32; ++i) EXPECT_EQ(c->head_ptr()[i], 0xFF) << i;
}

TEST_F(Series, CopyOfAFixedOrBigSeriesIsAnOrdinarySeries) {
    Off fixed = memory::alloc_fixed_series(4, 16, 0);
    SeriesBuffer* f = buffer_of(series::copy_node(fixed));
    EXPECT_EQ(f->flags & sf::FIXED, 0u);
    Off big = memory::alloc_bytes(3000000);
    SeriesBuffer* part = buffer_of(series::copy_part(big, 0, 0));
    EXPECT_EQ(part->flags & sf::BIG, 0u);
    EXPECT_EQ(memory::fixed_buffers().size(), 1u);
}

TEST_F(Series, RecordSeries) {
    Off n = series::alloc_records(3, 12);
    SeriesBuffer* b = buffer_of(n);
    EXPECT_EQ(b->unit(), 12u);
    EXPECT_EQ(b->size, 48u);
    // Byte-count handling: reserve and fill two records.
    Off at = series::reserve_tail(b, 24);
    std::memset(arena::ptr(at), 1, 24);
    EXPECT_EQ(buffer_of(n)->byte_count(), 24u);
}

TEST_F(Series, CountUsesTheUnit) {
    struct Case {
        uint32_t unit, bytes, count;
    } cases[] = {{1, 7, 7}, {2, 8, 4}, {4, 12, 3}, {8, 16, 2}, {16, 48, 3}};
    for (auto c : cases) {
        Off n = memory::alloc_series(16, c.unit, 0);
        buffer_of(n)->tail += c.bytes;
        EXPECT_EQ(series::count(n), c.count) << "unit " << c.unit;
    }
}

}  // namespace
