#include "runtime/externals.h"

#include <vector>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"

// ==== External-resource registry ==========================================================

namespace kiv::externals {

namespace {

constexpr uint32_t KIND_MASK = 0xFFu;
constexpr uint32_t MARK_BIT = 0x80000000u;
constexpr uint32_t FREE_ENTRY = 0x40000000u;
constexpr int32_t END = -1;

struct Kind {
    const char* name;
    Release release;
};

struct Entry {
    uint32_t info;     // kind in bits 0-7, MARK_BIT, or FREE_ENTRY
    uint64_t address;  // the resource
    int32_t next;      // next entry of its list, END at the end
};

Kind kinds[MAX_KINDS];
uint32_t kinds_used = 0;
std::vector<Entry> entries;
int32_t live_head = END;
int32_t free_head = END;
uint32_t live = 0;

// Formats entries [from, to) as free entries linked in order; the last one
// links to `then`.
void format_free(uint32_t from, uint32_t to, int32_t then) {
    for (uint32_t i = from; i < to; ++i)
        entries[i] = Entry{FREE_ENTRY, 0, i + 1 < to ? int32_t(i + 1) : then};
}

inline bool valid(uint32_t index) {
    return index < entries.size() && !(entries[index].info & FREE_ENTRY);
}

void release_entry(const Entry& e) {
    uint32_t kind = e.info & KIND_MASK;
    if (kind < 1 || kind > kinds_used || !kinds[kind - 1].release) return;
    kinds[kind - 1].release(kind, e.address);
}

// Unlinks entry `index` (whose predecessor in the live list is `prev`, or
// END when it is the head) and puts it at the head of the free list.
void unlink_and_free(uint32_t index, int32_t prev) {
    Entry& e = entries[index];
    if (prev == END)
        live_head = e.next;
    else
        entries[prev].next = e.next;
    e = Entry{FREE_ENTRY, 0, free_head};
    free_head = int32_t(index);
    --live;
}

}  // namespace

void init() {
    kinds_used = 0;
    entries.assign(INITIAL_ENTRIES, Entry{});
    format_free(0, INITIAL_ENTRIES, END);
    free_head = 0;
    live_head = END;
    live = 0;
}

uint32_t register_type(const char* name, Release release) {
    if (kinds_used >= MAX_KINDS) fire({"internal", "limit-hit"}, Cell{TYPE_INTEGER, 0, MAX_KINDS, 0});
    kinds[kinds_used++] = Kind{name, release};
    return kinds_used;
}

uint32_t kind_count() {
    return kinds_used;
}

const char* kind_name(uint32_t kind) {
    return kind >= 1 && kind <= kinds_used ? kinds[kind - 1].name : nullptr;
}

uint32_t add(uint64_t address, uint32_t kind) {
    if (entries.empty()) init();
    uint32_t index = uint32_t(free_head);
    Entry& taken = entries[index];
    if (taken.next == END) {
        // The last free entry: double the table, the new half becoming the
        // free list after it.
        uint32_t old = uint32_t(entries.size());
        entries.resize(size_t(old) * 2);
        format_free(old, old * 2, END);
        entries[index].next = int32_t(old);
    }
    Entry& e = entries[index];
    free_head = e.next;
    e = Entry{kind & KIND_MASK, address, live_head};
    live_head = int32_t(index);
    ++live;
    return index;
}

void release(uint32_t index) {
    if (valid(index)) release_entry(entries[index]);
}

void replace(uint32_t index, uint64_t address) {
    if (!valid(index)) return;
    if (entries[index].address != address) release_entry(entries[index]);
    entries[index].address = address;
}

void remove(uint32_t index, bool release_first) {
    if (!valid(index)) return;
    if (release_first) release_entry(entries[index]);
    int32_t prev = END;
    for (int32_t i = live_head; i != END; prev = i, i = entries[i].next) {
        if (uint32_t(i) == index) {
            unlink_and_free(index, prev);
            return;
        }
    }
}

bool mark(uint32_t index, uint64_t address) {
    if (!valid(index)) return false;
    Entry& e = entries[index];
    if (address) e.address = address;
    bool fresh = !(e.info & MARK_BIT);
    e.info |= MARK_BIT;
    return fresh;
}

void for_each(uint32_t kind, Release routine) {
    for (int32_t i = live_head; i != END; i = entries[i].next)
        if ((entries[i].info & KIND_MASK) == kind) routine(kind, entries[i].address);
}

void sweep() {
    int32_t prev = END;
    for (int32_t i = live_head; i != END;) {
        Entry& e = entries[i];
        int32_t next = e.next;
        if (e.info & MARK_BIT) {
            e.info &= ~MARK_BIT;
            prev = i;
        } else {
            Entry gone = e;
            unlink_and_free(uint32_t(i), prev);
            release_entry(gone);
        }
        i = next;
    }
}

bool is_live(uint32_t index) {
    return valid(index);
}
uint64_t address_of(uint32_t index) {
    return valid(index) ? entries[index].address : 0;
}
uint32_t kind_of(uint32_t index) {
    return valid(index) ? entries[index].info & KIND_MASK : 0;
}
uint32_t capacity() {
    return uint32_t(entries.size());
}
uint32_t live_count() {
    return live;
}

}  // namespace kiv::externals

// ==== GUI slot table ======================================================================

namespace kiv::slots {

Cell block{TYPE_NONE, 0, 0, 0};

namespace {

constexpr uint32_t END = 0xFFFFFFFFu;
uint32_t free_head = END;
// Which slots are in use: a free slot is an integer! cell like any value, so
// releasing twice is recognised here instead of corrupting the free list.
std::vector<bool> used;

inline Cell free_cell(uint32_t next) {
    return Cell{TYPE_INTEGER, 0, next, 0};
}

inline Cell* cells() {
    return buffer_of(block.w2)->head_cell();
}

// Cells [from, to) become free slots linked in order, the last to `then`.
void format_free(uint32_t from, uint32_t to, uint32_t then) {
    Cell* c = cells();
    for (uint32_t i = from; i < to; ++i) c[i] = free_cell(i + 1 < to ? i + 1 : then);
}

void grow() {
    uint32_t old = capacity();
    SeriesBuffer* b = memory::expand_series_copy(buffer_of(block.w2), uint64_t(old) * 2 * sizeof(Cell));
    b->tail = b->head + old * 2 * sizeof(Cell);
    format_free(old, old * 2, END);
    used.resize(size_t(old) * 2, false);
    free_head = old;
}

}  // namespace

void init() {
    block = Cell{TYPE_BLOCK, 0, memory::alloc_cells(INITIAL_SLOTS), 0};
    SeriesBuffer* b = buffer_of(block.w2);
    b->tail = b->head + INITIAL_SLOTS * sizeof(Cell);
    format_free(0, INITIAL_SLOTS, END);
    used.assign(INITIAL_SLOTS, false);
    free_head = 0;
}

uint32_t alloc(const Cell& value) {
    if (block.type() != TYPE_BLOCK) init();
    // The value may lie in a buffer that growing moves, and may be held
    // nowhere else: keep it on the data stack meanwhile.
    Cell* held = stack::push(value);
    if (free_head == END) grow();
    uint32_t i = free_head;
    Cell* c = cells() + i;
    free_head = c->w2;
    *c = *held;
    stack::pop(1);
    used[i] = true;
    return i + 1;
}

Cell* at(uint32_t slot) {
    if (block.type() != TYPE_BLOCK || slot == 0 || slot > used.size() || !used[slot - 1]) return nullptr;
    return cells() + (slot - 1);
}

void release(uint32_t slot) {
    if (!at(slot)) return;
    uint32_t i = slot - 1;
    cells()[i] = free_cell(free_head);
    free_head = i;
    used[i] = false;
}

uint32_t capacity() {
    return block.type() == TYPE_BLOCK ? series::count(block.w2) : 0;
}

}  // namespace kiv::slots

// ==== Ownership ===========================================================================

namespace kiv::ownership {

Off table = 0;

namespace {
// Entries already visited by mark_entries in this collection (by entry
// number in the table's cell series).
std::vector<bool> visited;
}  // namespace

void init_table() {
    table = hashtable::init(TABLE_ENTRIES, 0, hashtable::OWNERSHIP, 3);
}

Cell* get_owner(Off node) {
    if (!table || !node) return nullptr;
    Cell* e = hashtable::get_int(table, node);
    return e ? e + 1 : nullptr;
}

// ---- Collector ------------------------------------------------------------------------------

void mark_table() {
    if (!table) return;
    collector::mark_node(&table);
    hashtable::Record* r = hashtable::record(table);
    collector::mark_node(&r->flags);
    collector::mark_node(&r->keys);
    collector::mark_node(&r->values);
    // Keys moved by node compaction are rewritten here; the table rehashes
    // them on its next use.
    SeriesBuffer* vb = buffer_of(r->values);
    uint32_t size = r->index;
    uint32_t n = size ? vb->byte_count() / size : 0;
    visited.assign(n, false);
    for (uint32_t i = 0; i < n; ++i) {
        Cell* h = reinterpret_cast<Cell*>(vb->head_ptr() + uint64_t(i) * size);
        if (h->header != 0) collector::follow(&h->w1);
    }
}

bool mark_entries() {
    if (!table) return false;
    hashtable::Record* r = hashtable::record(table);
    SeriesBuffer* vb = buffer_of(r->values);
    uint32_t size = r->index;
    uint32_t n = size ? vb->byte_count() / size : 0;
    if (visited.size() < n) visited.resize(n, false);
    bool any = false;
    for (uint32_t i = 0; i < n; ++i) {
        if (visited[i]) continue;
        Cell* h = reinterpret_cast<Cell*>(vb->head_ptr() + uint64_t(i) * size);
        if (h->header == 0 || !collector::is_marked(h->w1)) continue;
        visited[i] = true;
        any = true;
        collector::mark_cells(h + 1, h + size / sizeof(Cell));
    }
    return any;
}

void purge() {
    if (table) hashtable::purge(table);
}

}  // namespace kiv::ownership
