// The window layer without a display: classes and procedure chaining, the
// window table, focus and capture, the widget hooks, timers, the keyboard
// tables and the quit protocol of nested waiting loops. (The display input
// and the events themselves are tested under Xvfb, tests/gui/.)
#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/window/classes.h"
#include "gui/window/keyboard.h"
#include "gui/window/loop.h"
#include "gui/window/queue.h"
#include "gui/window/timers.h"
#include "gui/window/windows.h"

using namespace kiv::gui;

namespace {

std::vector<std::string> seen;

int32_t recording_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    if (message == WM_DESTROY) seen.push_back("destroy " + std::to_string(h));
    if (message == WM_SETFOCUS) seen.push_back("setfocus " + std::to_string(h));
    if (message == WM_KILLFOCUS) seen.push_back("killfocus " + std::to_string(h));
    return windows::default_proc(h, message, wparam, lparam);
}

struct WindowLayer : ::testing::Test {
    void SetUp() override {
        classes::register_backend_classes(recording_proc, recording_proc);
        classes::register_class("Recorder", recording_proc, classes::CS_DBLCLKS, EXTRA_BYTES);
        seen.clear();
    }
    void TearDown() override {
        windows::destroy_all();
        classes::unregister_class("Recorder");
        classes::unregister_backend_classes();
        classes::clear_widgets();
        timers::clear();
        queue::clear();
        loop::reset();
    }
};

TEST_F(WindowLayer, ClassesAreFoundWithoutRegardToCase) {
    EXPECT_NE(classes::find("KivTabPanel"), 0u);
    EXPECT_EQ(classes::find("KivTabPanel"), classes::find("KIVTABPANEL"));
    EXPECT_EQ(classes::find("NoSuchClass"), 0u);
    EXPECT_FALSE(classes::register_class("kivwindow", nullptr, 0, 0));  // the name is taken
}

TEST_F(WindowLayer, FrontProceduresChainToTheCopiedClass) {
    // The static front procedure takes the mouse; the edit procedure of the
    // single-line field swallows Enter and Tab and passes the rest on.
    const Hwnd top = windows::create(0, "Recorder", "top", 0, 0, 0, 200, 100, 0, 0);
    const Hwnd text = windows::create(0, "KivFace", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, top, 0);
    ASSERT_NE(text, 0u);
    EXPECT_EQ(windows::send(text, WM_LBUTTONDOWN, 0, 0), 0);
    EXPECT_EQ(windows::capture(), text);
    windows::send(text, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(windows::capture(), 0u);
    const Hwnd field = windows::create(0, "KivField", "", WS_CHILD, 0, 0, 10, 10, top, 0);
    ASSERT_NE(field, 0u);
    EXPECT_EQ(windows::get(field)->proc, classes::at(classes::find("KivArea"))->proc);
    // A copied class that does not exist is reported and still registered.
    testing::internal::CaptureStdout();
    EXPECT_EQ(classes::register_superclass("KivOdd", "NoSuchClass", nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "*** Error in GetClassInfoEx\n");
    EXPECT_NE(classes::find("KivOdd"), 0u);
    classes::unregister_class("KivOdd");
}

TEST_F(WindowLayer, ChildrenAreHitTestedAndPlacedInTheirParent) {
    const Hwnd top = windows::create(0, "Recorder", "top", 0, 100, 50, 300, 200, 0, 0);
    const Hwnd a = windows::create(0, "Recorder", "", WS_CHILD | WS_VISIBLE, 10, 10, 100, 100, top, 0);
    const Hwnd b = windows::create(0, "Recorder", "", WS_CHILD | WS_VISIBLE, 20, 20, 30, 30, a, 0);
    const Hwnd hidden = windows::create(0, "Recorder", "", WS_CHILD, 200, 0, 50, 50, top, 0);
    ASSERT_TRUE(a && b && hidden);
    EXPECT_EQ(windows::child_at(top, 15, 15, true), a);
    EXPECT_EQ(windows::child_at(top, 210, 10, true), top);  // invisible children are skipped
    EXPECT_EQ(windows::child_at(top, 400, 10, true), 0u);   // outside the window
    EXPECT_EQ(windows::deepest_at(top, 35, 35), b);
    int32_t x = 0, y = 0;
    windows::client_to_screen(b, &x, &y);
    EXPECT_EQ(x, 130);
    EXPECT_EQ(y, 80);
    EXPECT_EQ(windows::root(b), top);
    // Destroying the top window tells it first, then its children.
    windows::destroy(top);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0], "destroy " + std::to_string(top));
    EXPECT_FALSE(windows::alive(a) || windows::alive(b) || windows::alive(top));
}

TEST_F(WindowLayer, FocusMovesWithKillThenSet) {
    const Hwnd top = windows::create(0, "Recorder", "top", 0, 0, 0, 300, 200, 0, 0);
    const Hwnd a = windows::create(0, "Recorder", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, top, 0);
    windows::set_focus(top);
    seen.clear();
    EXPECT_EQ(windows::set_focus(a), top);
    EXPECT_EQ(seen, (std::vector<std::string>{"killfocus " + std::to_string(top), "setfocus " + std::to_string(a)}));
    windows::destroy(a);
    EXPECT_EQ(windows::focus(), 0u);  // a destroyed window loses the focus
}

Hwnd hooked = 0;
void hook(Hwnd h, uint32_t message, uint32_t, int32_t) {
    if (message == WM_USER) hooked = h;
}

TEST_F(WindowLayer, WidgetTableAddsClassesAndHooks) {
    classes::register_widget("BUTTON", "KivFancy", 77, 0, 0x1, 0, nullptr, hook);
    const classes::Widget* w = classes::find_widget(77);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->class_name, "KivFancy");
    EXPECT_NE(classes::find("KivFancy"), 0u);
    EXPECT_EQ(classes::find_widget(78), nullptr);
    hooked = 0;
    classes::call_hooks(5, WM_USER, 0, 0);
    EXPECT_EQ(hooked, 5u);
    classes::unregister_class("KivFancy");
}

TEST(Keyboard, KeysAndCharacters) {
    EXPECT_EQ(keyboard::vk_from_keysym(GDK_KEY_a), uint32_t('A'));
    EXPECT_EQ(keyboard::vk_from_keysym(GDK_KEY_exclam), 0u);  // shifted symbols have no key of their own
    EXPECT_EQ(keyboard::vk_from_keysym(GDK_KEY_Left), VK_LEFT);
    EXPECT_EQ(keyboard::vk_from_keysym(GDK_KEY_F12), VK_F12);
    EXPECT_EQ(keyboard::vk_from_keysym(GDK_KEY_KP_7), VK_NUMPAD0 + 7);
    EXPECT_TRUE(keyboard::extended(GDK_KEY_Control_R));
    EXPECT_FALSE(keyboard::extended(GDK_KEY_Control_L));
    // With Control letters type 1-26 and Backspace 127; without, the symbol's character.
    EXPECT_EQ(keyboard::typed_char('A', 'a', true, false), 1u);
    EXPECT_EQ(keyboard::typed_char('Z', 'z', true, false), 26u);
    EXPECT_EQ(keyboard::typed_char(VK_BACK, 8, true, false), 127u);
    EXPECT_EQ(keyboard::typed_char(VK_BACK, 8, false, false), 8u);
    EXPECT_EQ(keyboard::typed_char('A', 'A', false, false), uint32_t('A'));
    EXPECT_EQ(keyboard::typed_char('1', 0, true, false), 0u);
    EXPECT_EQ(keyboard::typed_char(0, 0x1F600, false, false), 0x1F600u);
    EXPECT_EQ(keyboard::vk_to_char('A'), uint32_t('A'));
    EXPECT_EQ(keyboard::vk_to_char(VK_OEM_1), uint32_t(';'));
    EXPECT_EQ(keyboard::vk_to_char(VK_LEFT), 0u);
    EXPECT_EQ(keyboard::shift_from_scan(0x2A), VK_LSHIFT);
    EXPECT_EQ(keyboard::shift_from_scan(0x36), VK_RSHIFT);
    EXPECT_TRUE(keyboard::is_char_key('A') && keyboard::is_char_key(VK_SPACE) && keyboard::is_char_key(VK_PACKET));
    EXPECT_FALSE(keyboard::is_char_key(VK_LEFT) || keyboard::is_char_key(VK_SHIFT) || keyboard::is_char_key(0x6C));
    EXPECT_EQ(keyboard::vk_for_char('a'), uint32_t('A'));
    EXPECT_EQ(keyboard::vk_for_char('?'), VK_OEM_2);
    EXPECT_EQ(keyboard::vk_for_char(0x1F600), 0xFFu);
}

// ---- Timers and the quit protocol of nested loops -------------------------------------------

int ticks = 0;
std::vector<std::string> trace;
std::string state() {
    return std::to_string(loop::depth) + "/" + std::to_string(loop::pending);
}

// Tick 1 runs a nested loop; tick 2 (inside it) asks twice to quit, as the
// last windows of both loops closing in one event would.
void nesting_timer(Hwnd h, uint32_t, uint32_t, uint32_t) {
    ++ticks;
    trace.push_back("tick " + state());
    if (ticks == 1) {
        loop::do_events(false);
        trace.push_back("inner ended " + state());
    } else if (ticks == 2) {
        loop::request_quit();
        loop::request_quit();
        loop::request_quit();  // more requests than loops change nothing
        timers::kill(h, 1);
    }
}

TEST_F(WindowLayer, OneRequestPerLoopEndsNestedLoopsInTurn) {
    const Hwnd top = windows::create(0, "Recorder", "top", 0, 0, 0, 10, 10, 0, 0);
    ticks = 0;
    trace.clear();
    timers::set(top, 1, 10, nesting_timer);
    loop::do_events(false);
    EXPECT_EQ(trace, (std::vector<std::string>{"tick 1/0", "tick 2/0", "inner ended 1/1"}));
    EXPECT_EQ(state(), "0/0");
    EXPECT_FALSE(queue::quit_posted());
}

void counting_timer(Hwnd, uint32_t, uint32_t, uint32_t) {
    if (++ticks == 3) loop::request_quit();
}

TEST_F(WindowLayer, NoQuitIsKeptWhileNoLoopRuns) {
    const Hwnd top = windows::create(0, "Recorder", "top", 0, 0, 0, 10, 10, 0, 0);
    loop::request_quit();
    loop::sync_quit();
    EXPECT_EQ(state(), "0/0");
    EXPECT_FALSE(queue::quit_posted());
    ticks = 0;
    timers::set(top, 1, 10, counting_timer);
    const uint64_t t0 = timers::now_ms();
    EXPECT_TRUE(loop::do_events(false));
    EXPECT_EQ(ticks, 3);
    EXPECT_GE(timers::now_ms() - t0, 25u);  // three periods of 10 ms
    EXPECT_EQ(state(), "0/0");
    // A polling pass does not take the quit request of a waiting loop.
    loop::depth = 1;
    loop::request_quit();
    (void)loop::do_events(true);
    EXPECT_TRUE(queue::quit_posted());
}

TEST_F(WindowLayer, TimersComeOnePerPeriodWhateverWasMissed) {
    // A period long enough that a busy machine cannot pass it between two
    // neighbouring steps of the test.
    timers::set(3, 9, 100, nullptr);
    Msg m;
    EXPECT_FALSE(timers::take_due(&m));
    struct timespec t{0, 350 * 1000 * 1000};
    nanosleep(&t, nullptr);
    ASSERT_TRUE(timers::take_due(&m));
    EXPECT_EQ(m.hwnd, 3u);
    EXPECT_EQ(m.message, WM_TIMER);
    EXPECT_EQ(m.wparam, 9u);
    EXPECT_FALSE(timers::take_due(&m));  // the missed periods give no burst
    EXPECT_TRUE(timers::kill(3, 9));
    EXPECT_EQ(timers::next_due(), -1);
}

}  // namespace
