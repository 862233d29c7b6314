#include "gui/window/keyboard.h"

#include <gdk/gdkkeysyms.h>

namespace kiv::gui::keyboard {

namespace {

uint32_t current_state = 0;

// The character keys, one bit per virtual key.
constexpr struct CharKeys {
    uint8_t bits[32] = {};
    constexpr void set(uint32_t from, uint32_t to) {
        for (uint32_t v = from; v <= to; ++v) bits[v >> 3] |= uint8_t(0x80 >> (v & 7));
    }
    constexpr CharKeys() {
        set(0x08, 0x09);
        set(0x0D, 0x0D);
        set(0x1B, 0x1B);
        set(0x20, 0x20);
        set(0x30, 0x39);
        set(0x41, 0x5A);
        set(0x60, 0x6B);
        set(0x6D, 0x6F);
        set(0xBA, 0xC0);
        set(0xDB, 0xDF);
        set(0xE2, 0xE4);
        set(0xE7, 0xE7);  // keys that only type a character
        set(0xE9, 0xF5);
    }
} CHAR_KEYS;

struct Pair {
    uint32_t keysym;
    uint32_t vk;
};
constexpr Pair KEYS[] = {
    {GDK_KEY_BackSpace, VK_BACK},   {GDK_KEY_Tab, VK_TAB},           {GDK_KEY_ISO_Left_Tab, VK_TAB},
    {GDK_KEY_Return, VK_RETURN},    {GDK_KEY_KP_Enter, VK_RETURN},   {GDK_KEY_Escape, VK_ESCAPE},
    {GDK_KEY_space, VK_SPACE},      {GDK_KEY_Prior, VK_PRIOR},       {GDK_KEY_Next, VK_NEXT},
    {GDK_KEY_End, VK_END},          {GDK_KEY_Home, VK_HOME},         {GDK_KEY_Left, VK_LEFT},
    {GDK_KEY_Up, VK_UP},            {GDK_KEY_Right, VK_RIGHT},       {GDK_KEY_Down, VK_DOWN},
    {GDK_KEY_Insert, VK_INSERT},    {GDK_KEY_Delete, VK_DELETE},     {GDK_KEY_Shift_L, VK_SHIFT},
    {GDK_KEY_Shift_R, VK_SHIFT},    {GDK_KEY_Control_L, VK_CONTROL}, {GDK_KEY_Control_R, VK_CONTROL},
    {GDK_KEY_Alt_L, VK_MENU},       {GDK_KEY_Alt_R, VK_MENU},        {GDK_KEY_Meta_L, VK_MENU},
    {GDK_KEY_Meta_R, VK_MENU},      {GDK_KEY_ISO_Level3_Shift, VK_MENU},
    {GDK_KEY_Pause, VK_PAUSE},      {GDK_KEY_Caps_Lock, VK_CAPITAL}, {GDK_KEY_Num_Lock, VK_NUMLOCK},
    {GDK_KEY_Scroll_Lock, VK_SCROLL}, {GDK_KEY_Super_L, VK_LWIN},    {GDK_KEY_Super_R, VK_RWIN},
    {GDK_KEY_Menu, VK_APPS},        {GDK_KEY_KP_Multiply, VK_MULTIPLY}, {GDK_KEY_KP_Add, VK_ADD},
    {GDK_KEY_KP_Subtract, VK_SUBTRACT}, {GDK_KEY_KP_Decimal, VK_DECIMAL}, {GDK_KEY_KP_Divide, VK_DIVIDE},
    {GDK_KEY_KP_Home, VK_HOME},     {GDK_KEY_KP_End, VK_END},        {GDK_KEY_KP_Left, VK_LEFT},
    {GDK_KEY_KP_Right, VK_RIGHT},   {GDK_KEY_KP_Up, VK_UP},          {GDK_KEY_KP_Down, VK_DOWN},
    {GDK_KEY_KP_Prior, VK_PRIOR},   {GDK_KEY_KP_Next, VK_NEXT},      {GDK_KEY_KP_Insert, VK_INSERT},
    {GDK_KEY_KP_Delete, VK_DELETE}, {GDK_KEY_semicolon, VK_OEM_1},   {GDK_KEY_equal, VK_OEM_PLUS},
    {GDK_KEY_comma, VK_OEM_COMMA},  {GDK_KEY_minus, VK_OEM_MINUS},   {GDK_KEY_period, VK_OEM_PERIOD},
    {GDK_KEY_slash, VK_OEM_2},      {GDK_KEY_grave, VK_OEM_3},       {GDK_KEY_bracketleft, VK_OEM_4},
    {GDK_KEY_backslash, VK_OEM_5},  {GDK_KEY_bracketright, VK_OEM_6}, {GDK_KEY_apostrophe, VK_OEM_7},
    {GDK_KEY_less, VK_OEM_102},
};

// The unshifted character of each punctuation key of a US layout.
constexpr Pair OEM_CHARS[] = {{VK_OEM_1, ';'},      {VK_OEM_PLUS, '='}, {VK_OEM_COMMA, ','}, {VK_OEM_MINUS, '-'},
                              {VK_OEM_PERIOD, '.'}, {VK_OEM_2, '/'},    {VK_OEM_3, '`'},     {VK_OEM_4, '['},
                              {VK_OEM_5, '\\'},     {VK_OEM_6, ']'},    {VK_OEM_7, '\''},    {VK_OEM_102, '<'}};

// Characters that a shifted key of a US layout types, with that key.
constexpr Pair SHIFTED[] = {{'!', '1'}, {'@', '2'}, {'#', '3'}, {'$', '4'}, {'%', '5'}, {'^', '6'}, {'&', '7'},
                            {'*', '8'}, {'(', '9'}, {')', '0'}, {':', VK_OEM_1}, {'+', VK_OEM_PLUS},
                            {'<', VK_OEM_COMMA}, {'_', VK_OEM_MINUS}, {'>', VK_OEM_PERIOD}, {'?', VK_OEM_2},
                            {'~', VK_OEM_3}, {'{', VK_OEM_4}, {'|', VK_OEM_5}, {'}', VK_OEM_6}, {'"', VK_OEM_7}};

}  // namespace

uint32_t vk_from_keysym(uint32_t k) {
    if (k >= GDK_KEY_a && k <= GDK_KEY_z) return 'A' + (k - GDK_KEY_a);
    if (k >= GDK_KEY_A && k <= GDK_KEY_Z) return k;
    if (k >= GDK_KEY_0 && k <= GDK_KEY_9) return k;
    if (k >= GDK_KEY_KP_0 && k <= GDK_KEY_KP_9) return VK_NUMPAD0 + (k - GDK_KEY_KP_0);
    if (k >= GDK_KEY_F1 && k <= GDK_KEY_F24) return VK_F1 + (k - GDK_KEY_F1);
    for (const Pair& p : KEYS)
        if (p.keysym == k) return p.vk;
    return 0;
}

bool extended(uint32_t k) {
    switch (k) {
        case GDK_KEY_Control_R:
        case GDK_KEY_Alt_R:
        case GDK_KEY_ISO_Level3_Shift:
        case GDK_KEY_Left:
        case GDK_KEY_Right:
        case GDK_KEY_Up:
        case GDK_KEY_Down:
        case GDK_KEY_Insert:
        case GDK_KEY_Delete:
        case GDK_KEY_Home:
        case GDK_KEY_End:
        case GDK_KEY_Prior:
        case GDK_KEY_Next:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_KP_Divide:
        case GDK_KEY_Num_Lock:
        case GDK_KEY_Super_L:
        case GDK_KEY_Super_R:
        case GDK_KEY_Menu:
            return true;
        default:
            return false;
    }
}

uint32_t typed_char(uint32_t vk, uint32_t typed, bool control, bool alt) {
    switch (vk) {
        case VK_BACK:
            return control ? 127 : 8;
        case VK_TAB:
            return control ? 0 : 9;
        case VK_RETURN:
            return control ? 10 : 13;
        case VK_ESCAPE:
            return 27;
        default:
            break;
    }
    if (control && !alt) {
        if (vk >= 'A' && vk <= 'Z') return vk - 'A' + 1;
        if (vk == VK_OEM_4) return 27;
        if (vk == VK_OEM_5) return 28;
        if (vk == VK_OEM_6) return 29;
        if (vk == VK_SPACE) return ' ';
        return 0;
    }
    if (typed == 0 || typed > 0x10FFFF || (typed >= 0xD800 && typed <= 0xDFFF)) return 0;
    return typed;
}

uint32_t vk_to_char(uint32_t vk) {
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return vk;
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) return '0' + (vk - VK_NUMPAD0);
    switch (vk) {
        case VK_BACK:
            return 8;
        case VK_TAB:
            return 9;
        case VK_RETURN:
            return 13;
        case VK_ESCAPE:
            return 27;
        case VK_SPACE:
            return ' ';
        case VK_MULTIPLY:
            return '*';
        case VK_ADD:
            return '+';
        case VK_SUBTRACT:
            return '-';
        case VK_DECIMAL:
            return '.';
        case VK_DIVIDE:
            return '/';
        default:
            break;
    }
    for (const Pair& p : OEM_CHARS)
        if (p.keysym == vk) return p.vk;
    return 0;
}

uint32_t shift_from_scan(uint32_t scan) {
    return scan == 0x36 ? VK_RSHIFT : VK_LSHIFT;
}

bool is_char_key(uint32_t vk) {
    return vk < 256 && (CHAR_KEYS.bits[vk >> 3] & (0x80 >> (vk & 7)));
}

uint32_t vk_for_char(uint32_t ch) {
    if (ch >= 'a' && ch <= 'z') return ch - 'a' + 'A';
    if ((ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')) return ch;
    if (ch >= 1 && ch <= 26) return ch - 1 + 'A';
    switch (ch) {
        case 8:
            return VK_BACK;
        case 9:
            return VK_TAB;
        case 13:
            return VK_RETURN;
        case 27:
            return VK_ESCAPE;
        case ' ':
            return VK_SPACE;
        default:
            break;
    }
    for (const Pair& p : OEM_CHARS)
        if (p.vk == ch) return p.keysym;
    for (const Pair& p : SHIFTED)
        if (p.keysym == ch) return p.vk;
    return 0xFF;
}

uint32_t key_state(bool keys_only) {
    return keys_only ? (current_state & EVT_KEYS) : (current_state & (EVT_KEYS | EVT_BUTTONS));
}

void set_state(uint32_t flags) {
    current_state = flags;
}

}  // namespace kiv::gui::keyboard
