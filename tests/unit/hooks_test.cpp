#include "runtime/hooks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/lowlevel.h"

using namespace kiv;

namespace {

std::vector<std::string> calls;

template <int N>
void print_hook(const Cell* value, uint32_t flag) {
    calls.push_back("A" + std::to_string(N) + ":" + std::to_string(value ? value->w1 : 0) + "/" +
                    std::to_string(flag));
}

template <int N>
void output_hook(const char* text, int32_t length, int32_t flag) {
    calls.push_back("B" + std::to_string(N) + ":" + std::string(text, size_t(length)) + "/" +
                    std::to_string(flag));
}

class Hooks : public testing::Test {
  protected:
    void SetUp() override {
        hooks::init();
        calls.clear();
    }
};

TEST_F(Hooks, StartEmptyWithRoomForFive) {
    EXPECT_EQ(hooks::count_a(), 0u);
    EXPECT_EQ(hooks::count_b(), 0u);
    EXPECT_EQ(hooks::capacity_a(), 5u);
    EXPECT_EQ(hooks::capacity_b(), 5u);
    Cell v{};
    hooks::fire_2(&v, 1);
    hooks::fire_3("x", 1, 0);
    EXPECT_TRUE(calls.empty());
}

TEST_F(Hooks, FireInRegistrationOrderEachListSeparately) {
    hooks::register_callbacks(print_hook<1>, output_hook<1>);
    hooks::register_callbacks(print_hook<2>, nullptr);
    hooks::register_callbacks(nullptr, output_hook<2>);
    hooks::register_callbacks(print_hook<1>, nullptr);  // twice: called twice
    EXPECT_EQ(hooks::count_a(), 3u);
    EXPECT_EQ(hooks::count_b(), 2u);

    Cell v{};
    v.w1 = 7;
    hooks::fire_2(&v, 1);
    hooks::fire_3("hello", 3, 0);
    std::vector<std::string> expected = {"A1:7/1", "A2:7/1", "A1:7/1", "B1:hel/0", "B2:hel/0"};
    EXPECT_EQ(calls, expected);
}

TEST_F(Hooks, UnregisterRemovesTheFirstOccurrenceOnly) {
    hooks::register_callbacks(print_hook<1>, output_hook<1>);
    hooks::register_callbacks(print_hook<2>, output_hook<2>);
    hooks::register_callbacks(print_hook<1>, output_hook<1>);
    hooks::unregister_callbacks(print_hook<1>, output_hook<2>);
    hooks::unregister_callbacks(print_hook<3>, output_hook<3>);  // not registered: no change
    hooks::unregister_callbacks(nullptr, nullptr);

    Cell v{};
    hooks::fire_2(&v, 0);
    hooks::fire_3("t", 1, 0);
    std::vector<std::string> expected = {"A2:0/0", "A1:0/0", "B1:t/0", "B1:t/0"};
    EXPECT_EQ(calls, expected);
}

TEST_F(Hooks, GrowByFiveKeepingOrder) {
    uint32_t blocks = lowlevel::tracked_heap_count();
    hooks::register_callbacks(print_hook<0>, nullptr);
    hooks::register_callbacks(print_hook<1>, nullptr);
    hooks::register_callbacks(print_hook<2>, nullptr);
    hooks::register_callbacks(print_hook<3>, nullptr);
    hooks::register_callbacks(print_hook<4>, nullptr);
    EXPECT_EQ(hooks::capacity_a(), 5u);
    hooks::register_callbacks(print_hook<5>, nullptr);
    EXPECT_EQ(hooks::capacity_a(), 10u);
    for (int i = 0; i < 5; ++i) hooks::register_callbacks(print_hook<9>, nullptr);
    EXPECT_EQ(hooks::capacity_a(), 15u);
    EXPECT_EQ(hooks::count_a(), 11u);
    EXPECT_EQ(hooks::capacity_b(), 5u);
    // The old arrays went back to the tracked heap.
    EXPECT_EQ(lowlevel::tracked_heap_count(), blocks);

    Cell v{};
    hooks::fire_2(&v, 0);
    ASSERT_EQ(calls.size(), 11u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(calls[size_t(i)], "A" + std::to_string(i) + ":0/0");
    EXPECT_EQ(calls[10], "A9:0/0");
}

void unregisters_itself(const char*, int32_t, int32_t) {
    calls.push_back("self");
    hooks::unregister_callbacks(nullptr, unregisters_itself);
}

void removes_first_and_adds(const char*, int32_t, int32_t) {
    calls.push_back("changer");
    hooks::unregister_callbacks(nullptr, output_hook<1>);
    hooks::register_callbacks(nullptr, output_hook<3>);
}

void fires_again(const char* text, int32_t, int32_t) {
    calls.push_back(std::string("nested:") + text);
    if (text[0] == 'o') {
        hooks::unregister_callbacks(nullptr, fires_again);
        hooks::fire_3("inner", 5, 0);
    }
}

TEST_F(Hooks, ACallbackMayChangeTheListWhileItIsFired) {
    hooks::register_callbacks(nullptr, unregisters_itself);
    hooks::register_callbacks(nullptr, output_hook<1>);
    hooks::fire_3("a", 1, 0);
    hooks::fire_3("b", 1, 0);
    // The callback after the removed one still runs in the same fire.
    std::vector<std::string> expected = {"self", "B1:a/0", "B1:b/0"};
    EXPECT_EQ(calls, expected);
}

TEST_F(Hooks, RemovalBeforeTheCurrentEntryDoesNotSkipOrRepeat) {
    hooks::register_callbacks(nullptr, output_hook<1>);
    hooks::register_callbacks(nullptr, removes_first_and_adds);
    hooks::register_callbacks(nullptr, output_hook<2>);
    hooks::fire_3("x", 1, 0);
    std::vector<std::string> expected = {"B1:x/0", "changer", "B2:x/0", "B3:x/0"};
    EXPECT_EQ(calls, expected);
}

TEST_F(Hooks, NestedFiresKeepTheirOwnPlace) {
    hooks::register_callbacks(nullptr, output_hook<1>);
    hooks::register_callbacks(nullptr, fires_again);
    hooks::register_callbacks(nullptr, output_hook<2>);
    hooks::fire_3("outer", 5, 0);
    std::vector<std::string> expected = {"B1:outer/0", "nested:outer", "B1:inner/0", "B2:inner/0",
                                         "B2:outer/0"};
    EXPECT_EQ(calls, expected);
}

void raises(const char*, int32_t, int32_t) {
    throw 42;
}

TEST_F(Hooks, AnErrorInACallbackLeavesTheListUsable) {
    hooks::register_callbacks(nullptr, raises);
    EXPECT_THROW(hooks::fire_3("a", 1, 0), int);
    hooks::unregister_callbacks(nullptr, raises);
    hooks::register_callbacks(nullptr, output_hook<1>);
    hooks::fire_3("b", 1, 0);
    std::vector<std::string> expected = {"B1:b/0"};
    EXPECT_EQ(calls, expected);
}

}  // namespace
