#include "gui/controls/menu_model.h"

#include "datatypes/block.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "library/library.h"
#include "runtime/stack.h"

namespace kiv::gui::menus {

namespace {

bool is_word(const Cell& v, const Cell& name) {
    return v.type() == TYPE_WORD && symbol::resolve(v.w2) == symbol::resolve(name.w2);
}

// The code point of the UTF-8 sequence at s[i] and its length.
uint32_t decode(const std::string& s, size_t i, size_t* len) {
    const auto b = uint8_t(s[i]);
    uint32_t c = b;
    size_t n = 1;
    if (b >= 0xF0) c = b & 0x07, n = 4;
    else if (b >= 0xE0) c = b & 0x0F, n = 3;
    else if (b >= 0xC0) c = b & 0x1F, n = 2;
    if (i + n > s.size()) n = 1;
    for (size_t k = 1; k < n; ++k) c = (c << 6) | (uint8_t(s[i + k]) & 0x3F);
    *len = n;
    return c;
}

// Fills `menu` from the block; `name` words are looked up before any read
// (loading a word may allocate), the block is re-read through its cell.
void fill(Menu* menu, const Cell& block, const Cell& separator) {
    const uint32_t n = block::cells_length(&block);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell v = *block::cells_at(&block, block.w1 + i);
        if (is_word(v, separator) || (v.type() == TYPE_STRING && library::to_utf8(v) == "---")) {
            Item item;
            item.separator = true;
            menu->items.push_back(std::move(item));
            continue;
        }
        if (v.type() != TYPE_STRING) continue;
        Item item;
        parse_caption(library::to_utf8(v), &item);
        if (i + 1 < n) {
            const Cell next = *block::cells_at(&block, block.w1 + i + 1);
            if (next.type() == TYPE_BLOCK) {
                item.sub = std::make_unique<Menu>();
                fill(item.sub.get(), next, separator);
                ++i;
            } else if (next.type() == TYPE_WORD && !is_word(next, separator)) {
                item.data = next.w2;
                ++i;
            }
        }
        menu->items.push_back(std::move(item));
    }
}

}  // namespace

uint32_t fold(uint32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    return c;
}

void parse_caption(const std::string& caption, Item* item) {
    const size_t tab = caption.find('\t');
    const std::string text = caption.substr(0, tab);
    item->shortcut = tab == std::string::npos ? std::string() : caption.substr(tab + 1);
    item->label.clear();
    item->mnemonic = -1;
    item->key = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&' || i + 1 >= text.size()) {
            item->label += text[i];
            continue;
        }
        ++i;
        if (text[i] == '&') {  // "&&": a literal "&"
            item->label += '&';
            continue;
        }
        size_t len;
        const uint32_t c = decode(text, i, &len);
        if (item->mnemonic < 0) {
            item->mnemonic = int32_t(item->label.size());
            item->key = fold(c);
        }
        item->label.append(text, i, len);
        i += len - 1;
    }
}

std::shared_ptr<Menu> build(const Cell* block) {
    if (!block || block->type() != TYPE_BLOCK) return nullptr;
    const Cell copy = *block;
    const Cell separator = word::load("---");
    auto menu = std::make_shared<Menu>();
    fill(menu.get(), copy, separator);
    return menu;
}

bool is_menu_bar(const Cell* block, const Cell* face_type) {
    if (!block || block->type() != TYPE_BLOCK || block::cells_length(block) == 0) return false;
    const Cell blk = *block;
    const Cell type = face_type ? *face_type : Cell{};
    const Cell window = word::load("window");
    const Cell popup = word::load("popup");
    if (!is_word(type, window) && !(type.type() == TYPE_LIT_WORD && symbol::resolve(type.w2) == symbol::resolve(window.w2)))
        return false;
    return !is_word(*block::cells_at(&blk, blk.w1), popup);
}

}  // namespace kiv::gui::menus
