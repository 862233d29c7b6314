#include "runtime/arena.h"

#include <gtest/gtest.h>

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
