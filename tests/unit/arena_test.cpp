#include "runtime/arena.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kiv;

TEST(Arena, BlocksArePageAlignedNonNullAndReused) {
    arena::init();
    Off a = arena::alloc_pages(1);
    Off b = arena::alloc_pages(5000);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(a % arena::PAGE_SIZE, 0u);
    EXPECT_EQ(b % arena::PAGE_SIZE, 0u);
    EXPECT_GE(b, a + arena::PAGE_SIZE);
    arena::ptr(b)[8191] = 7;  // both pages of the 2-page block are writable
    EXPECT_TRUE(arena::free_pages(a, 1));
    Off c = arena::alloc_pages(100);
    EXPECT_EQ(c, a);                 // the lowest free range is taken first
    EXPECT_EQ(arena::ptr(c)[0], 0);  // and comes back zero-filled
    EXPECT_FALSE(arena::free_pages(123, 1));
    arena::free_pages(b, 5000);
    arena::free_pages(c, 100);
}

// Released blocks stay committed for the next allocations: whatever the
// earlier owner wrote, a block handed out again is zero-filled, a larger
// released block serves a smaller request from its low end, and a
// quarantine releases them all (its released pages must fault).
TEST(Arena, ReusedBlocksComeBackZeroFilled) {
    arena::init();
    const uint64_t sizes[] = {1, 3 * arena::PAGE_SIZE, 40960, uint64_t(2) << 20};
    for (uint64_t size : sizes) {
        Off a = arena::alloc_pages(size);
        ASSERT_NE(a, 0u);
        std::memset(arena::ptr(a), 0x5A, size);
        ASSERT_TRUE(arena::free_pages(a, size));
        Off b = arena::alloc_pages(size);  // the lowest kept range that fits: it overlaps a
        ASSERT_LE(b, a) << size;
        for (uint64_t i = 0; i < size; i += 509) ASSERT_EQ(arena::ptr(b)[i], 0) << size << " at " << i;
        EXPECT_EQ(arena::ptr(b)[size - 1], 0) << size;
        ASSERT_TRUE(arena::free_pages(b, size));
    }
    // A released 4-page block serves a 1-page and then a 3-page request.
    Off big = arena::alloc_pages(4 * arena::PAGE_SIZE);
    std::memset(arena::ptr(big), 0x77, 4 * arena::PAGE_SIZE);
    ASSERT_TRUE(arena::free_pages(big, 4 * arena::PAGE_SIZE));
    Off part = arena::alloc_pages(arena::PAGE_SIZE);
    EXPECT_EQ(part, big);
    Off rest = arena::alloc_pages(3 * arena::PAGE_SIZE);
    EXPECT_EQ(rest, big + arena::PAGE_SIZE);
    EXPECT_EQ(arena::ptr(rest)[3 * arena::PAGE_SIZE - 1], 0);
    EXPECT_TRUE(arena::free_pages(part, arena::PAGE_SIZE));
    EXPECT_TRUE(arena::free_pages(rest, 3 * arena::PAGE_SIZE));
    EXPECT_FALSE(arena::free_pages(rest, 3 * arena::PAGE_SIZE));  // a block is released once

    // Under a quarantine a released block is not handed out again at once.
    arena::set_quarantine(uint64_t(1) << 20);
    Off q = arena::alloc_pages(arena::PAGE_SIZE);
    ASSERT_TRUE(arena::free_pages(q, arena::PAGE_SIZE));
    Off r = arena::alloc_pages(arena::PAGE_SIZE);
    EXPECT_NE(r, q);
    arena::free_pages(r, arena::PAGE_SIZE);
    arena::set_quarantine(0);
}
