#include "datatypes/symbol.h"

#include <cstring>
#include <vector>

#include "datatypes/fixed_words.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::symbol {

namespace {

// Position of the symbol block's cell in the root block (the block is read
// through it, so it follows the node if the collector relocates it).
uint32_t block_slot = 0xFFFFFFFFu;

// Scratch for the UTF-8 text of string values being interned.
std::vector<uint8_t> scratch;

// Makes whatever of the root block, the symbol block and the index is still
// missing (start-up makes them in order; this only serves code that interns
// before start-up did, such as a test that boots a reduced runtime).
void bootstrap() {
    if (root::block.type() != TYPE_BLOCK) root::init();
    if (block_slot == 0xFFFFFFFFu) init_block();
    if (!root::symbol_index) init_index();
}

inline Off table() {
    if (!root::symbol_index) [[unlikely]]
        bootstrap();
    return root::symbol_index;
}

inline Off block_node() {
    if (root::symbol_index) return hashtable::record(root::symbol_index)->values;
    if (block_slot == 0xFFFFFFFFu) return 0;
    return root::at(block_slot)->w2;
}

// The cell of a valid id (caller checked).
inline Cell* cell_of(uint32_t id) {
    return buffer_of(block_node())->head_cell() + (id - 1);
}

[[noreturn]] void bad_id(uint32_t id) {
    Cell n{TYPE_INTEGER, 0, id, 0};
    fire({"script", "out-of-range"}, n);
}

inline Cell* checked_cell(uint32_t id) {
    if (!valid(id)) [[unlikely]]
        bad_id(id);
    return cell_of(id);
}

}  // namespace

// ---- Start-up ------------------------------------------------------------------------------

void init_block() {
    stack::canonical_symbol = &resolve;
    if (root::block.type() != TYPE_BLOCK) root::init();
    block_slot = root::count();
    block::make_in(&root::block, int32_t(TABLE_ROOM));
}

void init_index() {
    if (block_slot == 0xFFFFFFFFu) init_block();
    Off node = root::at(block_slot)->w2;
    root::symbol_index = hashtable::init(TABLE_ROOM, node, hashtable::WORDS, 1);
    hashtable::register_symbol_table(&root::symbol_index);
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_SYMBOL, 0, "symbol!");
    r.set<ACT_COMPARE>(compare);
    datatype::register_type(r);
}

// ---- Interning -----------------------------------------------------------------------------

uint32_t make(const char* name) {
    return make_from_utf8(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
}

uint32_t make_from_utf8(const uint8_t* bytes, uint32_t length) {
    static const uint8_t empty = 0;
    if (!bytes) bytes = &empty;  // the empty name given as a null pointer
    return hashtable::find_string(table(), bytes, length, false);
}

uint32_t make_from_string(const Cell* str) {
    Cell s = *str;
    const SeriesBuffer* b = buffer_of(s.w2);
    uint32_t unit = b->unit();
    const uint8_t* start = b->head_ptr() + uint64_t(s.w1) * unit;
    const uint8_t* end = b->tail_ptr();
    if (start > end) start = end;
    uint64_t bytes = unicode::utf8_length(start, end, unit);
    if (bytes > 0x7FFFFFF0u) fire({"internal", "no-memory"});
    if (scratch.size() < bytes + 1) scratch.resize(bytes + 1);
    uint32_t n = unicode::encode_utf8_string(&s, scratch.data(), -1, false);
    return make_from_utf8(scratch.data(), n);
}

uint32_t make_any_case(const char* name) {
    return hashtable::find_string(table(), reinterpret_cast<const uint8_t*>(name),
                                  uint32_t(std::strlen(name)), true);
}

// ---- Reading ---------------------------------------------------------------------------------

uint32_t count() {
    Off node = block_node();
    return node ? series::count(node) : 0;
}

Cell* cell(uint32_t id) {
    return checked_cell(id);
}

Off ensure_string(uint32_t id) {
    Cell* c = checked_cell(id);
    if (c->w2) return c->w2;
    Off node;
    {
        // The name bytes and the symbol cell must not move before the new
        // node is stored.
        memory::CollectionPause pause;
        const SeriesBuffer* names = buffer_of(c->w3);
        node = unicode::load_utf8_new(names->head_ptr(), names->byte_count());
        cell_of(id)->w2 = node;
    }
    return node;
}

Cell* get(uint32_t id) {
    ensure_string(id);
    return cell_of(id);
}

uint32_t resolve(uint32_t id) {
    // The symbol block read once: resolve runs for every word looked up.
    Off node = block_node();
    if (!node || id == 0 || id > series::count(node)) return id;
    int32_t alias = int32_t(buffer_of(node)->head_cell()[id - 1].w1);
    return alias > 0 ? uint32_t(alias) : id;
}

int32_t get_alias(uint32_t id) {
    return int32_t(checked_cell(id)->w1);
}

const char* name(uint32_t id) {
    return reinterpret_cast<const char*>(buffer_of(checked_cell(id)->w3)->head_ptr());
}

uint32_t name_length(uint32_t id) {
    return buffer_of(checked_cell(id)->w3)->byte_count();
}

const uint8_t* name_cstring(uint32_t id) {
    Off node = ensure_string(id);
    SeriesBuffer* b = buffer_of(node);
    uint32_t unit = b->unit();
    if (b->tail + unit > b->data_end()) {
        series::reserve_tail(b, unit);
        b = buffer_of(node);
        b->tail -= unit;
    }
    std::memset(b->tail_ptr(), 0, unit);
    return b->head_ptr();
}

bool is_any_type(const Cell* word) {
    uint32_t any = fixed::sym[fixed::SYM_ANY_TYPE_T];
    return any != 0 && resolve(word->w2) == resolve(any);
}

// ---- Actions -----------------------------------------------------------------------------------

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_SYMBOL) return -2;
    // Compare through string views of the table's name strings (built once
    // and kept there), not through the cells given, which may be copies.
    auto view = [](const Cell* sym) -> Cell {
        Off node = sym->w2;
        if (!node) {
            // Find the id of this symbol by its name bytes.
            const SeriesBuffer* names = buffer_of(sym->w3);
            uint32_t id = hashtable::find_string(table(), names->head_ptr(), names->byte_count(), false);
            node = ensure_string(id);
        }
        return Cell{TYPE_STRING, 0, node, 0};
    };
    Cell first = *value, second = *other;  // building a name string may move the cells given
    Cell a = view(&first);
    Cell b = view(&second);
    return string::equal(&a, &b, op, false);
}

}  // namespace kiv::symbol
