// Menus as data: a menu block of a face turned into a tree of items.
//
// The block is read value by value: a string is an item's caption; the
// value after it may be a block (the item opens a submenu built from it), a
// word (the item's word, kept as its symbol id) or anything else (not
// consumed: the item has no word); the word `---` (or a caption "---") is
// a separator; every
// other value is ignored (a leading `popup` word included). An item's id is
// its position in its own menu, separators counted.
//
// A caption is split at its first tab: the text after it (a shortcut such
// as "Ctrl+C") is shown right-aligned. In the text before it "&" marks the
// next character as the item's access key (shown underlined) and "&&"
// stands for a literal "&".
//
// The tree holds no language values (words are kept as symbol ids), so the
// code that runs open menus may read it anywhere.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace kiv::gui::menus {

// The data of an item without a word.
constexpr int64_t NO_WORD = -1;

struct Menu;

struct Item {
    std::string label;      // the caption before its tab, "&" marks resolved
    std::string shortcut;   // the caption after its first tab
    int32_t mnemonic = -1;  // byte offset in `label` of the access key, -1 none
    uint32_t key = 0;       // the access key in lower case, 0 none
    int64_t data = NO_WORD; // the item's word (symbol id)
    bool separator = false;
    std::unique_ptr<Menu> sub;
};

struct Menu {
    std::vector<Item> items;
};

// Fills the label, shortcut and access key of an item from a caption.
void parse_caption(const std::string& caption, Item* item);

// The tree of a menu block; nullptr when the value is not a block.
std::shared_ptr<Menu> build(const Cell* block);

// Whether a face's menu block is shown as a menu bar: the block is not
// empty, the face type is `window` and the block does not start with the
// word `popup`. Any other menu block is a popup menu.
bool is_menu_bar(const Cell* block, const Cell* face_type);

// The lower case of a character (ASCII and Latin-1 letters; others as they are).
uint32_t fold(uint32_t c);

}  // namespace kiv::gui::menus
