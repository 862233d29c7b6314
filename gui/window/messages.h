// The window layer's message record and the numbers every part of the GUI
// backend agrees on: message numbers, mouse-key bits, virtual-key codes and
// the event flag bits. The numbers follow the classic desktop window-message
// numbering, so the backend's procedures read like the tables they implement.
//
// wParam and lParam are 32 bits wide. Points packed into lParam hold x in the
// low 16 bits and y in the high 16 bits, both signed.
#pragma once

#include <cstdint>

namespace kiv::gui {

using Hwnd = uint32_t;  // index into the window table; 0 is no window

struct Msg {
    Hwnd hwnd = 0;
    uint32_t message = 0;
    uint32_t wparam = 0;
    int32_t lparam = 0;
    uint32_t time = 0;
    int32_t pt_x = 0, pt_y = 0;  // pointer position in screen pixels
    // Layer-private: the modifier and button state after the input that made
    // the message (event flag bits below), and for key messages the
    // character the key types (0 when none).
    uint32_t state = 0;
    uint32_t ch = 0;
};

inline int32_t lo16(int32_t v) {
    return int16_t(uint32_t(v) & 0xFFFFu);
}
inline int32_t hi16(int32_t v) {
    return int16_t(uint32_t(v) >> 16);
}
inline int32_t pack_point(int32_t x, int32_t y) {
    return int32_t((uint32_t(y) << 16) | (uint32_t(x) & 0xFFFFu));
}

// ---- Message numbers -----------------------------------------------------------------
enum : uint32_t {
    WM_NULL = 0x0000,
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_MOVE = 0x0003,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_SETFOCUS = 0x0007,
    WM_KILLFOCUS = 0x0008,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_ERASEBKGND = 0x0014,
    WM_SHOWWINDOW = 0x0018,
    WM_NOTIFY = 0x004E,
    WM_NCCREATE = 0x0081,
    WM_NCDESTROY = 0x0082,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    WM_SYSKEYDOWN = 0x0104,
    WM_SYSKEYUP = 0x0105,
    WM_SYSCHAR = 0x0106,
    WM_COMMAND = 0x0111,
    WM_TIMER = 0x0113,
    WM_HSCROLL = 0x0114,
    WM_VSCROLL = 0x0115,
    WM_MENUSELECT = 0x011F,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_RBUTTONDBLCLK = 0x0206,
    WM_MBUTTONDOWN = 0x0207,
    WM_MBUTTONUP = 0x0208,
    WM_MBUTTONDBLCLK = 0x0209,
    WM_MOUSEWHEEL = 0x020A,
    WM_XBUTTONDOWN = 0x020B,
    WM_XBUTTONUP = 0x020C,
    WM_XBUTTONDBLCLK = 0x020D,
    WM_MOUSEHWHEEL = 0x020E,
    WM_SIZING = 0x0214,
    WM_MOVING = 0x0216,
    WM_ENTERSIZEMOVE = 0x0231,
    WM_EXITSIZEMOVE = 0x0232,
    WM_MOUSELEAVE = 0x02A3,
    WM_USER = 0x0400,
};

// WM_ACTIVATE wParam, WM_SIZE wParam.
enum : uint32_t { WA_INACTIVE = 0, WA_ACTIVE = 1 };
enum : uint32_t { SIZE_RESTORED = 0, SIZE_MINIMIZED = 1, SIZE_MAXIMIZED = 2 };

// Mouse-key bits of a mouse message's wParam.
enum : uint32_t {
    MK_LBUTTON = 0x0001,
    MK_RBUTTON = 0x0002,
    MK_SHIFT = 0x0004,
    MK_CONTROL = 0x0008,
    MK_MBUTTON = 0x0010,
    MK_XBUTTON1 = 0x0020,
    MK_XBUTTON2 = 0x0040,
};
constexpr int32_t WHEEL_DELTA = 120;

// Key-message lParam bits: scan code in bits 16-23, the extended-key bit.
constexpr uint32_t KF_EXTENDED_BIT = 1u << 24;

// ---- Virtual-key codes ---------------------------------------------------------------
enum : uint32_t {
    VK_LBUTTON = 0x01,
    VK_RBUTTON = 0x02,
    VK_MBUTTON = 0x04,
    VK_XBUTTON1 = 0x05,
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_PAUSE = 0x13,
    VK_CAPITAL = 0x14,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_LWIN = 0x5B,
    VK_RWIN = 0x5C,
    VK_APPS = 0x5D,
    VK_NUMPAD0 = 0x60,
    VK_MULTIPLY = 0x6A,
    VK_ADD = 0x6B,
    VK_SUBTRACT = 0x6D,
    VK_DECIMAL = 0x6E,
    VK_DIVIDE = 0x6F,
    VK_F1 = 0x70,
    VK_F10 = 0x79,
    VK_F12 = 0x7B,
    VK_NUMLOCK = 0x90,
    VK_SCROLL = 0x91,
    VK_LSHIFT = 0xA0,
    VK_RSHIFT = 0xA1,
    VK_LCONTROL = 0xA2,
    VK_RCONTROL = 0xA3,
    VK_LMENU = 0xA4,
    VK_RMENU = 0xA5,
    VK_OEM_1 = 0xBA,
    VK_OEM_PLUS = 0xBB,
    VK_OEM_COMMA = 0xBC,
    VK_OEM_MINUS = 0xBD,
    VK_OEM_PERIOD = 0xBE,
    VK_OEM_2 = 0xBF,
    VK_OEM_3 = 0xC0,
    VK_OEM_4 = 0xDB,
    VK_OEM_5 = 0xDC,
    VK_OEM_6 = 0xDD,
    VK_OEM_7 = 0xDE,
    VK_OEM_102 = 0xE2,
    VK_PROCESSKEY = 0xE5,
    VK_PACKET = 0xE7,  // a key that only types a character (no key of its own)
};

// ---- Event flag bits (the flags word of an event! value) -------------------------------
enum : uint32_t {
    EVT_DATA_MASK = 0x0000FFFF,
    EVT_MADE = 0x00010000,
    EVT_AUX_DOWN = 0x00400000,
    EVT_ALT_DOWN = 0x00800000,
    EVT_MID_DOWN = 0x01000000,
    EVT_DOWN = 0x02000000,
    EVT_AWAY = 0x04000000,
    EVT_CONTROL = 0x10000000,
    EVT_SHIFT = 0x20000000,
    EVT_ALT = 0x40000000,
    EVT_COMMAND = 0x80000000,
    EVT_KEYS = EVT_CONTROL | EVT_SHIFT | EVT_ALT,
    EVT_BUTTONS = EVT_DOWN | EVT_ALT_DOWN | EVT_MID_DOWN | EVT_AUX_DOWN,
};

}  // namespace kiv::gui
