// Messages posted from another thread (the camera's capture thread) reach
// the GUI thread's queue, in order, and wake a waiting get() even without a
// display; with no thread that may post, such a wait ends at once as before.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "gui/window/queue.h"

using namespace kiv::gui;

namespace {

TEST(QueueFromThreads, AWaitingGetWakesForAnotherThreadsMessage) {
    queue::clear();
    queue::thread_poster(true);
    const auto start = std::chrono::steady_clock::now();
    std::thread poster([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (uint32_t i = 0; i < 3; ++i) queue::post_from_thread(7, WM_USER + 1, i, 0);
    });
    Msg m;
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(queue::get(&m, true), 1);
        EXPECT_EQ(m.hwnd, 7u);
        EXPECT_EQ(m.message, uint32_t(WM_USER + 1));
        EXPECT_EQ(m.wparam, i);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    poster.join();
    queue::thread_poster(false);
    EXPECT_EQ(queue::get(&m, false), -1);
}

TEST(QueueFromThreads, ThreadMessagesFollowThoseAlreadyPosted) {
    queue::clear();
    queue::post(1, WM_USER, 0, 0);
    std::thread([] { queue::post_from_thread(2, WM_USER, 0, 0); }).join();
    queue::post(3, WM_USER, 0, 0);
    Msg m;
    std::vector<Hwnd> order;
    while (queue::get(&m, false) == 1) order.push_back(m.hwnd);
    EXPECT_EQ(order, (std::vector<Hwnd>{1, 3, 2}));
}

TEST(QueueFromThreads, MessagesOfADestroyedWindowAreDropped) {
    queue::clear();
    std::thread([] {
        queue::post_from_thread(4, WM_USER, 0, 0);
        queue::post_from_thread(5, WM_USER, 0, 0);
    }).join();
    queue::drop_for(4);
    Msg m;
    ASSERT_EQ(queue::get(&m, false), 1);
    EXPECT_EQ(m.hwnd, 5u);
    EXPECT_EQ(queue::get(&m, false), -1);
}

TEST(QueueFromThreads, WithoutPostersAWaitEndsAsAQuit) {
    queue::clear();
    Msg m;
    EXPECT_EQ(queue::get(&m, true), 0);
    EXPECT_EQ(m.message, uint32_t(WM_QUIT));
}

}  // namespace
