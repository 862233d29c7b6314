#include "gui/window/event.h"

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "gui/window/accessors.h"
#include "gui/window/windows.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::gui::event {

int32_t key_code = -1;
uint32_t surrogate = 0;
int32_t right_click_x = 0, right_click_y = 0;
Cell (*menu_item_word)(uint32_t id) = nullptr;
int32_t (*list_item_at)(Hwnd h, int32_t x, int32_t y) = nullptr;
int32_t (*scroll_track_pos)(Hwnd h, bool vertical) = nullptr;

Cell record{TYPE_EVENT, 0, 0, 0};

namespace {

// ---- Words -------------------------------------------------------------------------------

const char* const TYPE_NAMES[TYPE_COUNT] = {
    "down",  "up",     "mid-down", "mid-up",   "alt-down", "alt-up",  "aux-down", "aux-up",    "click",
    "dbl-click", "wheel", "over",  "key",      "key-down", "key-up",  "ime",      "focus",     "unfocus",
    "enter", "zoom",   "pan",      "rotate",   "two-tap",  "press-tap", "select", "change",    "menu",
    "close", "move",   "resize",   "moving",   "resizing", "time",    "drawing",  "scroll"};
const char* const FIELD_NAMES[FIELD_COUNT] = {"type",     "face",      "window",    "offset",    "key",
                                              "picked",   "flags",     "away?",     "down?",     "mid-down?",
                                              "alt-down?", "aux-down?", "ctrl?",     "shift?",    "orientation"};
struct FlagWord {
    const char* name;
    uint32_t bit;
};
const FlagWord FLAG_WORDS[] = {{"control", EVT_CONTROL}, {"shift", EVT_SHIFT},       {"alt", EVT_ALT},
                               {"command", EVT_COMMAND}, {"away", EVT_AWAY},         {"down", EVT_DOWN},
                               {"mid-down", EVT_MID_DOWN}, {"alt-down", EVT_ALT_DOWN}, {"aux-down", EVT_AUX_DOWN}};
// The order in which the flags field lists the set flags.
const FlagWord FLAGS_LISTED[] = {{"away", EVT_AWAY},         {"down", EVT_DOWN},       {"mid-down", EVT_MID_DOWN},
                                 {"alt-down", EVT_ALT_DOWN}, {"aux-down", EVT_AUX_DOWN}, {"control", EVT_CONTROL},
                                 {"shift", EVT_SHIFT},       {"alt", EVT_ALT}};

struct KeyWord {
    uint32_t vk;
    const char* name;
};
const KeyWord KEY_WORDS[] = {
    {0x21, "page-up"},     {0x22, "page-down"},    {0x23, "end"},          {0x24, "home"},
    {0x25, "left"},        {0x26, "up"},           {0x27, "right"},        {0x28, "down"},
    {0x2D, "insert"},      {0x2E, "delete"},       {0x70, "F1"},           {0x71, "F2"},
    {0x72, "F3"},          {0x73, "F4"},           {0x74, "F5"},           {0x75, "F6"},
    {0x76, "F7"},          {0x77, "F8"},           {0x78, "F9"},           {0x79, "F10"},
    {0x7A, "F11"},         {0x7B, "F12"},          {0xA0, "left-shift"},   {0xA1, "right-shift"},
    {0xA2, "left-control"}, {0xA3, "right-control"}, {0x14, "caps-lock"},  {0x90, "num-lock"},
    {0xA4, "left-alt"},    {0xA5, "right-alt"},    {0x5B, "left-command"}, {0x5C, "right-command"},
    {0x91, "scroll-lock"}, {0x13, "pause"}};

// Canonical symbol ids, made on first use (the words exist by then).
uint32_t type_syms[TYPE_COUNT];
uint32_t field_syms[FIELD_COUNT];
uint32_t flag_syms[sizeof FLAG_WORDS / sizeof FLAG_WORDS[0]];
bool words_ready = false;

uint32_t canon(const Cell* w) {
    return symbol::resolve(w->w2);
}

void ready_words() {
    if (words_ready) return;
    for (uint32_t i = 0; i < TYPE_COUNT; ++i) {
        Cell w = word::load(TYPE_NAMES[i]);
        type_syms[i] = canon(&w);
    }
    for (uint32_t i = 0; i < FIELD_COUNT; ++i) {
        Cell w = word::load(FIELD_NAMES[i]);
        field_syms[i] = canon(&w);
    }
    for (size_t i = 0; i < sizeof FLAG_WORDS / sizeof FLAG_WORDS[0]; ++i) {
        Cell w = word::load(FLAG_WORDS[i].name);
        flag_syms[i] = canon(&w);
    }
    words_ready = true;
}

bool is_word_like(uint32_t t) {
    return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_SET_WORD;
}

// ---- The message store ----------------------------------------------------------------

struct Stored {
    uint32_t ref = 0;
    Msg msg;
};
Stored store[STORE_SIZE];
uint32_t next_ref = 1;

// ---- The flags block (one shared block, refilled on every read) ------------------------

Cell flags_block{TYPE_NONE, 0, 0, 0};
bool marker_registered = false;

void mark_flags_block() {
    if (flags_block.type() == TYPE_BLOCK) collector::mark_series(&flags_block.w2);
}

Cell flags_value(uint32_t flags) {
    if (flags_block.type() != TYPE_BLOCK) {
        if (!marker_registered) {
            collector::register_marker(mark_flags_block);
            marker_registered = true;
        }
        Cell* saved = stack::top;
        Cell* b = stack::push(none::cell());
        block::make_at(b, 8);
        flags_block = *b;
        stack::top = saved;
    }
    Cell blk = flags_block;
    block::cells_clear(&blk);
    for (const FlagWord& f : FLAGS_LISTED) {
        if (!(flags & f.bit)) continue;
        Cell w = word::load(f.name);
        block::cells_append(&flags_block, &w);
    }
    Cell out = flags_block;
    out.w1 = 0;
    return out;
}

// ---- Field computation --------------------------------------------------------------------

Cell point_value(double x, double y) {
    return point::make2(float(x), float(y));
}

// A client point in pixels as a logical point2D!.
Cell logical_point(int32_t x, int32_t y) {
    return point_value(to_logical(x), to_logical(y));
}

Cell key_value(uint32_t type, uint32_t flags) {
    if (key_code == -1) {
        if (type == KEY && surrogate > 0xFFFF) return char_::cell(surrogate);
        return char_::cell(flags & EVT_DATA_MASK);
    }
    for (const KeyWord& k : KEY_WORDS)
        if (uint32_t(key_code) == k.vk) return word::load(k.name);
    if (type == KEY) return none::cell();
    return char_::cell(flags & EVT_DATA_MASK);
}

Cell offset_of(uint32_t type, const Msg& m, uint32_t flags) {
    int32_t x, y;
    if (type == WHEEL) {
        x = lo16(m.lparam);
        y = hi16(m.lparam);
        windows::screen_to_client(m.hwnd, &x, &y);
        return logical_point(x, y);
    }
    if ((type >= DOWN && type <= OVER) || (type >= MOVE && type <= RESIZING)) {
        if (flags & EVT_AWAY) {
            x = m.pt_x;
            y = m.pt_y;
            windows::screen_to_client(m.hwnd, &x, &y);
        } else {
            x = lo16(m.lparam);
            y = hi16(m.lparam);
        }
        if ((type == RESIZE || type == RESIZING) && (windows::get_slot(m.hwnd, SLOT_STATE) & STATE_SIZE_AS_PAIR))
            return pair::make(int32_t(to_logical(x)), int32_t(to_logical(y)));
        return logical_point(x, y);
    }
    if (type == KEY || type == KEY_DOWN || type == KEY_UP) {
        x = m.pt_x;
        y = m.pt_y;
        windows::screen_to_client(m.hwnd, &x, &y);
        return logical_point(x, y);
    }
    if (type == MENU) return logical_point(right_click_x, right_click_y);
    return none::cell();
}

struct StoredText {
    uint32_t ref = 0;
    std::string text;
};
StoredText texts[TEXT_STORE_SIZE];
uint32_t next_text = 1;

// The composition text of an `ime` event: a string! (none once forgotten).
Cell composition_text(const Msg& m) {
    const uint32_t ref = uint32_t(m.lparam);
    const StoredText& t = texts[ref % TEXT_STORE_SIZE];
    if (ref == 0 || t.ref != ref) return none::cell();
    Cell* saved = stack::top;
    const std::string copy = t.text;  // loading may run the collector, not the layer
    const Cell s = *string::load_push(reinterpret_cast<const uint8_t*>(copy.data()), uint32_t(copy.size()),
                                      string::ENC_UTF8);
    stack::top = saved;
    return s;
}

Cell picked_of(uint32_t type, const Msg& m, uint32_t flags) {
    switch (type) {
        case IME:
            return composition_text(m);
        case DOWN:
        case MID_DOWN:
        case ALT_DOWN:
        case AUX_DOWN:
        case DBL_CLICK: {
            const int32_t item = list_item_at ? list_item_at(m.hwnd, lo16(m.lparam), hi16(m.lparam)) : 0;
            return item > 0 ? integer::cell(item) : none::cell();
        }
        case WHEEL: {
            int32_t d = hi16(int32_t(m.wparam));
            if (d < -24000) d += 30720;
            if (d > 24000) d -= 30720;
            return float_::cell(double(d) / 120.0);
        }
        case ZOOM:
        case PAN:
        case ROTATE:
        case TWO_TAP:
        case PRESS_TAP:
            return none::cell();  // no gesture input on this platform
        case MENU: {
            const uint32_t id = flags & EVT_DATA_MASK;
            if (id == 0xFFFF || !menu_item_word) return none::cell();
            return menu_item_word(id);
        }
        case SCROLL:
            return integer::cell(scroll_track_pos ? scroll_track_pos(m.hwnd, m.message == 0x0115) : 0);
        default:
            return integer::cell(int16_t(flags & EVT_DATA_MASK));
    }
}

Cell scroll_key(const Msg& m) {
    const bool vertical = m.message == 0x0115;  // WM_VSCROLL
    switch (m.wparam & 0xFFFF) {
        case 0:
            return word::load(vertical ? "up" : "left");
        case 1:
            return word::load(vertical ? "down" : "right");
        case 2:
            return word::load(vertical ? "page-up" : "page-left");
        case 3:
            return word::load(vertical ? "page-down" : "page-right");
        case 5:
            return word::load("track");
        default:
            return word::load("end");
    }
}

// The cell of a made event's block (1..4), or nullptr.
const Cell* made_cell(const Cell* ev, uint32_t n) {
    if (!(ev->w3 & EVT_MADE) || ev->w2 == 0) return nullptr;
    Cell blk{TYPE_BLOCK, 0, ev->w2, 0};
    if (block::cells_length(&blk) < n) return nullptr;
    return block::cells_at(&blk, n - 1);
}

// ---- Actions ----------------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t) {
    ready_words();
    uint32_t type = 0;
    uint32_t flags = EVT_MADE;
    // face, window, offset, picked wait on the data stack (a collection may
    // move what they point to).
    Cell* saved = stack::top;
    Cell* parts = stack::push(none::cell());
    stack::push(none::cell());
    stack::push(pair::make(0, 0));
    stack::push(integer::cell(0));
    bool has_block = false;
    if (spec->type() == TYPE_BLOCK) {
        Cell blk = *spec;
        const uint32_t n = block::cells_length(&blk);
        for (uint32_t i = 0; i < n; ++i) {
            const Cell key = *block::cells_at(&blk, blk.w1 + i);
            if (key.type() != TYPE_SET_WORD || i + 1 >= n) continue;
            Cell value = *block::cells_at(&blk, blk.w1 + i + 1);
            ++i;
            if ((value.type() == TYPE_WORD && value.w1 != 0) || value.type() == TYPE_GET_WORD)
                value = *context::get_word(&value);
            const int32_t field = field_index(&key);
            const uint32_t vt = value.type();
            switch (field) {
                case 1:  // type
                    if (vt == TYPE_WORD || vt == TYPE_LIT_WORD) type = word_to_type(&value);
                    break;
                case 2:  // face
                case 3:  // window
                    if (vt == TYPE_OBJECT) {
                        parts[field - 2] = value;
                        has_block = true;
                    }
                    break;
                case 4:  // offset
                    if (vt == TYPE_PAIR || vt == TYPE_POINT2D) {
                        parts[2] = value;
                        has_block = true;
                    }
                    break;
                case 5:  // key
                    if (vt == TYPE_CHAR) flags |= value.w2 & EVT_DATA_MASK;
                    break;
                case 6:  // picked (a wheel's steps, a composition's text)
                    if (vt == TYPE_INTEGER || vt == TYPE_FLOAT || vt == TYPE_STRING) {
                        parts[3] = value;
                        has_block = true;
                    }
                    break;
                case 7:  // flags
                    if (vt == TYPE_BLOCK) {
                        const uint32_t m = block::cells_length(&value);
                        for (uint32_t j = 0; j < m; ++j) {
                            const Cell f = *block::cells_at(&value, value.w1 + j);
                            flags |= flags_to_block(&f);
                        }
                    }
                    break;
                default:
                    break;
            }
        }
    }
    uint32_t node = 0;
    if (has_block) {
        Cell* b = stack::push(none::cell());
        block::make_at(b, 4);
        for (int k = 0; k < 4; ++k) block::cells_append(b, &parts[k]);
        node = b->w2;
    }
    stack::top = saved;
    *proto = Cell{TYPE_EVENT, type, node, flags};
    return proto;
}

int32_t form(Cell*, Cell* out, Cell*, int32_t budget) {
    string::concatenate_literal(out, "event");
    return budget - 5;
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    ready_words();
    const int32_t field = field_index(element);
    if (field < 0) scalar::invalid_path(path, element);
    if (!value) return scalar::result(get_field(parent, field));
    const Cell p = path ? *path : none::cell();
    if (field != 1 || (value->type() != TYPE_WORD && value->type() != TYPE_LIT_WORD))
        fire({"script", "bad-path-set"}, p, *element);
    const uint32_t type = word_to_type(value);
    if (type == 0) fire({"script", "bad-path-set"}, p, *element);
    parent->w1 = type;
    return value;
}

int32_t compare(Cell*, Cell* other, int32_t) {
    if (other->type() != TYPE_EVENT) return NOT_COMPARABLE;
    return 0;
}

Outcome pick(Cell* ev, int32_t, Cell* index_cell) {
    ready_words();
    int32_t field;
    if (index_cell->type() == TYPE_INTEGER) {
        field = integer::get(index_cell);
        if (field < 1 || field > int32_t(FIELD_COUNT)) fire({"script", "out-of-range"}, *index_cell);
    } else {
        field = is_word_like(index_cell->type()) ? field_index(index_cell) : -1;
        if (field < 0) fire({"script", "cannot-use"}, *index_cell, *ev);
    }
    return scalar::result(get_field(ev, field));
}

}  // namespace

uint32_t keep_text(const char* utf8, uint32_t length) {
    const uint32_t ref = next_text++;
    if (next_text == 0) next_text = 1;
    texts[ref % TEXT_STORE_SIZE] = StoredText{ref, std::string(utf8, length)};
    return ref;
}

uint32_t keep_message(const Msg& m) {
    uint32_t ref = next_ref++;
    if (next_ref == 0) next_ref = 1;
    store[ref % STORE_SIZE] = Stored{ref, m};
    return ref;
}

const Msg* message_of(uint32_t ref) {
    if (ref == 0 || store[ref % STORE_SIZE].ref != ref) return nullptr;
    return &store[ref % STORE_SIZE].msg;
}

void set_record(uint32_t type, const Msg& m, uint32_t flags) {
    record = Cell{TYPE_EVENT, type, keep_message(m), flags & ~EVT_MADE};
}

Cell* push_current() {
    return stack::push(record);
}

Cell type_to_word(uint32_t type) {
    if (type == 0 || type > TYPE_COUNT) return none::cell();
    return word::load(TYPE_NAMES[type - 1]);
}

uint32_t word_to_type(const Cell* w) {
    if (!is_word_like(w->type())) return 0;
    ready_words();
    const uint32_t s = canon(w);
    for (uint32_t i = 0; i < TYPE_COUNT; ++i)
        if (type_syms[i] == s) return i + 1;
    return 0;
}

uint32_t flags_to_block(const Cell* w) {
    if (!is_word_like(w->type())) return 0;
    ready_words();
    const uint32_t s = canon(w);
    for (size_t i = 0; i < sizeof FLAG_WORDS / sizeof FLAG_WORDS[0]; ++i)
        if (flag_syms[i] == s) return FLAG_WORDS[i].bit;
    return 0;
}

int32_t field_index(const Cell* w) {
    if (!is_word_like(w->type())) return -1;
    ready_words();
    const uint32_t s = canon(w);
    for (uint32_t i = 0; i < FIELD_COUNT; ++i)
        if (field_syms[i] == s) return int32_t(i + 1);
    return -1;
}

bool find_flag(const Cell* flags, const Cell* w) {
    if (!is_word_like(w->type())) return false;
    const uint32_t s = canon(w);
    if (flags->type() == TYPE_WORD) return canon(flags) == s;
    if (flags->type() != TYPE_BLOCK) return false;
    Cell blk = *flags;
    const uint32_t n = block::cells_length(&blk);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell* c = block::cells_at(&blk, blk.w1 + i);
        if ((c->type() == TYPE_WORD || c->type() == TYPE_LIT_WORD) && canon(c) == s) return true;
    }
    return false;
}

Cell get_field(const Cell* ev, int32_t index) {
    const uint32_t type = ev->w1;
    const uint32_t flags = ev->w3;
    switch (index) {
        case 1:
            return type_to_word(type);
        case 7:
            return flags_value(flags);
        case 8:
            return logic::cell(flags & EVT_AWAY);
        case 9:
            return logic::cell(flags & EVT_DOWN);
        case 10:
            return logic::cell(flags & EVT_MID_DOWN);
        case 11:
            return logic::cell(flags & EVT_ALT_DOWN);
        case 12:
            return logic::cell(flags & EVT_AUX_DOWN);
        case 13:
            return logic::cell(flags & EVT_CONTROL);
        case 14:
            return logic::cell(flags & EVT_SHIFT);
        default:
            break;
    }
    if (flags & EVT_MADE) {
        switch (index) {
            case 2:
            case 3:
            case 4:
            case 6: {
                const Cell* c = made_cell(ev, index == 6 ? 4 : uint32_t(index - 1));
                if (c) return *c;
                if (index == 4) return pair::make(0, 0);
                if (index == 6) return integer::cell(0);
                return none::cell();
            }
            case 5:
                return (flags & EVT_DATA_MASK) ? char_::cell(flags & EVT_DATA_MASK) : none::cell();
            default:
                return none::cell();
        }
    }
    const Msg* m = message_of(ev->w2);
    if (!m) return none::cell();
    switch (index) {
        case 2:
            return window_face_cell(m->hwnd);
        case 3:
            return window_face_cell(windows::root_owner(m->hwnd));
        case 4:
            return offset_of(type, *m, flags);
        case 5:
            if (type == WHEEL) return word::load("wheel");
            if (type == KEY || type == KEY_DOWN || type == KEY_UP) return key_value(type, flags);
            if (type == SCROLL) return scroll_key(*m);
            return none::cell();
        case 6:
            return picked_of(type, *m, flags);
        case 15:
            if (type != SCROLL) return none::cell();
            return word::load(m->message == 0x0115 ? "vertical" : "horizontal");
        default:
            return none::cell();
    }
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_EVENT, TYPE_INTEGER, "event!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_PICK>(pick);
    datatype::register_type(r);
}

}  // namespace kiv::gui::event
