// The fields of system events, worked out from the stored message: what
// the language reaches only through a display (tests/gui/ covers that
// path end to end) checked here message by message.
#include <gtest/gtest.h>

#include "gui/window/accessors.h"
#include "gui/window/classes.h"
#include "gui/window/event.h"
#include "gui/window/loop.h"
#include "gui/window/windows.h"
#include "test_support.h"

namespace kiv::test {
namespace {

using namespace kiv::gui;

class EventFields : public RuntimeTest {
protected:
    Hwnd top = 0, child = 0;
    void SetUp() override {
        RuntimeTest::SetUp();
        classes::register_class("Plain", nullptr, 0, EXTRA_BYTES);
        top = windows::create(0, "Plain", "top", 0, 100, 200, 300, 200, 0, 0);
        child = windows::create(0, "Plain", "", WS_CHILD | WS_VISIBLE, 10, 20, 50, 50, top, 0);
        event::key_code = -1;
        event::surrogate = 0;
        set_dpi(96);
    }
    void TearDown() override {
        windows::destroy_all();
        classes::unregister_class("Plain");
        event::menu_item_word = nullptr;
        set_dpi(96);
        RuntimeTest::TearDown();
    }
    // The field of an event of `type` from a message to window h.
    std::string field(uint32_t type, Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam, uint32_t flags,
                      const char* name, int32_t pt_x = 0, int32_t pt_y = 0) {
        Msg m;
        m.hwnd = h;
        m.message = message;
        m.wparam = wparam;
        m.lparam = lparam;
        m.pt_x = pt_x;
        m.pt_y = pt_y;
        event::set_record(type, m, flags);
        Cell w = word::load(name);
        return mold_text(event::get_field(&event::record, event::field_index(&w)));
    }
};

TEST_F(EventFields, OffsetByType) {
    // Mouse events: lParam's signed 16-bit halves, in logical units.
    EXPECT_EQ(field(event::DOWN, child, WM_LBUTTONDOWN, 0, pack_point(5, -3), 0, "offset"), "(5, -3)");
    // Away: the screen point made relative to the window's client origin.
    EXPECT_EQ(field(event::OVER, child, WM_MOUSELEAVE, 0, 0, EVT_AWAY, "offset", 100, 300), "(-10, 80)");
    // Wheel: lParam holds the screen point.
    EXPECT_EQ(field(event::WHEEL, top, WM_MOUSEWHEEL, 0, pack_point(150, 260), 0, "offset"), "(50, 60)");
    // Keys: the pointer position of the message.
    EXPECT_EQ(field(event::KEY, top, WM_CHAR, 'a', 0, 'a', "offset", 101, 202), "(1, 2)");
    // A size kept as a pair.
    EXPECT_EQ(field(event::RESIZE, top, WM_SIZE, 0, pack_point(300, 200), 0, "offset"), "(300, 200)");
    windows::set_slot(top, SLOT_STATE, STATE_SIZE_AS_PAIR);
    EXPECT_EQ(field(event::RESIZE, top, WM_SIZE, 0, pack_point(300, 200), 0, "offset"), "300x200");
    // Types without a place.
    EXPECT_EQ(field(event::FOCUS, top, WM_ACTIVATE, 1, 0, 0, "offset"), "none");
    // At 150% the pixels become fewer logical units.
    set_dpi(144);
    EXPECT_EQ(field(event::UP, top, WM_LBUTTONUP, 0, pack_point(30, 15), 0, "offset"), "(20, 10)");
    EXPECT_EQ(to_pixels(10), 15);
    set_dpi(96);
    EXPECT_EQ(to_pixels(0.3), 0);
}

TEST_F(EventFields, KeyByTypeAndKeyCode) {
    event::key_code = VK_LEFT;
    EXPECT_EQ(field(event::KEY_DOWN, top, WM_KEYDOWN, VK_LEFT, 0, VK_LEFT, "key"), "left");
    EXPECT_EQ(field(event::KEY, top, WM_KEYDOWN, VK_LEFT, 0, VK_LEFT, "key"), "left");
    event::key_code = VK_RCONTROL;
    EXPECT_EQ(field(event::KEY_UP, top, WM_KEYUP, VK_CONTROL, 0, VK_CONTROL, "key"), "right-control");
    event::key_code = 0x5F;  // a key without a word
    EXPECT_EQ(field(event::KEY_DOWN, top, WM_KEYDOWN, 0x5F, 0, 0x5F, "key"), "#\"_\"");
    EXPECT_EQ(field(event::KEY, top, WM_KEYDOWN, 0x5F, 0, 0x5F, "key"), "none");
    event::key_code = -1;
    EXPECT_EQ(field(event::KEY_DOWN, top, WM_KEYDOWN, 'A', 0, 'A', "key"), "#\"A\"");
    EXPECT_EQ(field(event::KEY, top, WM_CHAR, 1, 0, 1, "key"), "#\"^A\"");
    event::surrogate = 0x1F600;
    EXPECT_EQ(field(event::KEY, top, WM_CHAR, 0xDE00, 0, 0xDE00, "key"), "#\"\xF0\x9F\x98\x80\"");
    EXPECT_EQ(field(event::WHEEL, top, WM_MOUSEWHEEL, 0, 0, 0, "key"), "wheel");
    EXPECT_EQ(field(event::DOWN, top, WM_LBUTTONDOWN, 0, 0, 0, "key"), "none");
}

TEST_F(EventFields, ScrollKeyAndOrientation) {
    EXPECT_EQ(field(event::SCROLL, top, WM_VSCROLL, 3, 0, 0, "key"), "page-down");
    EXPECT_EQ(field(event::SCROLL, top, WM_HSCROLL, 0, 0, 0, "key"), "left");
    EXPECT_EQ(field(event::SCROLL, top, WM_HSCROLL, 5, 0, 0, "key"), "track");
    EXPECT_EQ(field(event::SCROLL, top, WM_VSCROLL, 8, 0, 0, "key"), "end");
    EXPECT_EQ(field(event::SCROLL, top, WM_VSCROLL, 0, 0, 0, "orientation"), "vertical");
    EXPECT_EQ(field(event::SCROLL, top, WM_HSCROLL, 0, 0, 0, "orientation"), "horizontal");
    EXPECT_EQ(field(event::DOWN, top, WM_LBUTTONDOWN, 0, 0, 0, "orientation"), "none");
}

Cell word_of_item(uint32_t id) {
    return id == 3 ? word::load("save") : none::cell();
}

TEST_F(EventFields, Picked) {
    // One wheel notch either way; the deltas of old drivers are folded back.
    EXPECT_EQ(field(event::WHEEL, top, WM_MOUSEWHEEL, 120u << 16, 0, 0, "picked"), "1.0");
    EXPECT_EQ(field(event::WHEEL, top, WM_MOUSEWHEEL, uint32_t(-120) << 16, 0, 0, "picked"), "-1.0");
    EXPECT_EQ(field(event::WHEEL, top, WM_MOUSEWHEEL, uint32_t(30600) << 16, 0, 0, "picked"), "-1.0");
    // No list under the point: none.
    EXPECT_EQ(field(event::DOWN, top, WM_LBUTTONDOWN, 0, 0, 0, "picked"), "none");
    // A menu item without a word gives none, as does the closed-menu id.
    event::menu_item_word = word_of_item;
    EXPECT_EQ(field(event::MENU, top, WM_COMMAND, 0, 0, 3, "picked"), "save");
    EXPECT_EQ(field(event::MENU, top, WM_COMMAND, 0, 0, 4, "picked"), "none");
    EXPECT_EQ(field(event::MENU, top, WM_COMMAND, 0, 0, 0xFFFF, "picked"), "none");
    // Others: the data as a signed 16-bit integer.
    EXPECT_EQ(field(event::SELECT, top, WM_COMMAND, 0, 0, 3, "picked"), "3");
    EXPECT_EQ(field(event::CHANGE, top, WM_COMMAND, 0, 0, 0xFFFF, "picked"), "-1");
}

TEST_F(EventFields, FlagsFaceAndStaleMessages) {
    EXPECT_EQ(field(event::DOWN, top, WM_LBUTTONDOWN, 0, 0, EVT_SHIFT | EVT_DOWN | EVT_COMMAND, "flags"),
              "[down shift]");
    EXPECT_EQ(field(event::DOWN, top, WM_LBUTTONDOWN, 0, 0, EVT_CONTROL, "ctrl?"), "true");
    // A window without a face gives none for face and window.
    EXPECT_EQ(field(event::DOWN, child, WM_LBUTTONDOWN, 0, 0, 0, "face"), "none");
    EXPECT_EQ(field(event::DOWN, child, WM_LBUTTONDOWN, 0, 0, 0, "window"), "none");
    // An event kept past the store's size reads none, never another message.
    Msg m;
    m.hwnd = top;
    m.lparam = pack_point(7, 7);
    event::set_record(event::DOWN, m, 0);
    const Cell kept = event::record;
    for (uint32_t i = 0; i < event::STORE_SIZE; ++i) event::set_record(event::UP, m, 0);
    EXPECT_EQ(mold_text(event::get_field(&kept, 4)), "none");
    EXPECT_EQ(mold_text(event::get_field(&kept, 1)), "down");
}

TEST_F(EventFields, FindFlag) {
    const Cell flags = load("[resize 'all-over no-border]");
    const Cell all_over = word::load("ALL-OVER");
    const Cell other = word::load("scrollable");
    EXPECT_TRUE(event::find_flag(&flags, &all_over));  // lit-words count, case does not
    EXPECT_FALSE(event::find_flag(&flags, &other));
    const Cell one = word::load("all-over");
    EXPECT_TRUE(event::find_flag(&one, &all_over));
    const Cell number = int_cell(3);
    EXPECT_FALSE(event::find_flag(&number, &all_over));
}

}  // namespace
}  // namespace kiv::test
