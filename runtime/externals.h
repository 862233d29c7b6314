// Three tables that tie language values to things outside the series heap.
//
// External-resource registry (kiv::externals). Resources that live outside
// the arena (images, fonts, C++ objects, file descriptors) are entered here
// and referred to by a 0-based entry index; handle! values (word 3 >= 0) and
// OS image records store that index. Each entry belongs to a kind, and each
// kind has a release routine. Every collection marks the entries that
// reachable values refer to, then releases (exactly once, through the kind's
// routine) and frees every live entry left unmarked. Entries are on one of
// two singly linked lists: live (newest first) and free.
//
// GUI slot table (kiv::slots). Values handed to the window layer as small
// integers stay reachable while their slot is in use: the slots are the
// cells of one block that the collector marks. Slot numbers are 1-based.
//
// Ownership table (kiv::ownership). An integer-keyed hash table (type 4) from
// the node of an owned series to [owned value, owner object, field word],
// so that an in-place change of the series can be reported to the owner's
// on-deep-change* handler (the walks and reports: datatypes/ownership.h). Owned series buffers carry
// series_flag::OWNED; an owned image! cell and the context cell of an owner object carry header::OWNS_SERIES.
// The table holds its entries weakly: an entry keeps its owner and word alive only while its series is
// reachable from elsewhere, and an entry whose series died is dropped by the collection.
//
// Release routines and the marking helpers run inside a collection: they
// must not allocate series or raise errors. Main thread only.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::externals {

constexpr uint32_t MAX_KINDS = 20;
constexpr uint32_t INITIAL_ENTRIES = 1000;

// Called with the kind index and the resource's address.
using Release = void (*)(uint32_t kind, uint64_t address);

// Makes the kind table and the handle table (INITIAL_ENTRIES entries, all
// free). Calling it again releases nothing and starts over empty.
void init();

// Appends a kind; returns its 1-based index. More than MAX_KINDS kinds raise
// internal limit-hit.
uint32_t register_type(const char* name, Release release);
uint32_t kind_count();
const char* kind_name(uint32_t kind);  // nullptr outside 1..kind_count()

// Takes the first free entry (doubling the table when it is the last free
// one), fills it and puts it at the head of the live list. Returns its index.
uint32_t add(uint64_t address, uint32_t kind);
// Calls the kind's release routine with the entry's address (nothing for a
// kind outside 1..kind_count() or without a routine, or a free entry).
void release(uint32_t index);
// Stores a new address; when it differs, the old one is released first.
void replace(uint32_t index, uint64_t address);
// Releases first when asked, then unlinks the entry and frees it (head of the
// free list). A free or out-of-range index is ignored.
void remove(uint32_t index, bool release_first);
// Sets the collector's mark (and stores the address when not 0); true when
// the entry was not marked before. Free and out-of-range entries: false.
bool mark(uint32_t index, uint64_t address = 0);
// Calls the routine with (kind, address) for every live entry of the kind,
// newest first.
void for_each(uint32_t kind, Release routine);
// Collector: unmarks marked entries; releases, unlinks and frees the others.
void sweep();

// Inspection.
bool is_live(uint32_t index);
uint64_t address_of(uint32_t index);  // 0 for free or out-of-range entries
uint32_t kind_of(uint32_t index);     // 0 for free or out-of-range entries
uint32_t capacity();
uint32_t live_count();

}  // namespace kiv::externals

namespace kiv::slots {

constexpr uint32_t INITIAL_SLOTS = 100;

// The slot block (a block! value; none before init). A collector root.
extern Cell block;

// Makes the slot block with INITIAL_SLOTS free slots (again: emptied).
void init();
// Copies the value into the first free slot (doubling the block when none is
// free) and returns its 1-based number.
uint32_t alloc(const Cell& value);
// The cell of a slot in use (valid until the next allocation); nullptr for 0,
// a free slot or a number past the table.
Cell* at(uint32_t slot);
// The slot becomes free (head of the free list). 0, free slots and numbers
// past the table are ignored.
void release(uint32_t slot);
uint32_t capacity();

}  // namespace kiv::slots

namespace kiv::ownership {

constexpr uint32_t TABLE_ENTRIES = 1000;

// The table node (0 before init_table). Keys are series nodes (object!: the
// context node); each entry holds [owned value, owner object, field word].
// The walks that fill it and the change reports to the owner are in
// datatypes/ownership.h: they know the layouts of blocks and objects.
extern Off table;

// Creates the empty table.
void init_table();

// The owner cell of a series node's entry, or nullptr (valid until the next
// allocation).
Cell* get_owner(Off node);

// Collector, once all other roots are marked: mark_table marks the table's
// own series (not the entries); then mark_entries marks the value, owner and
// word of every entry whose series is marked and that was not visited yet,
// and answers whether it visited any. The collector drains its work list and
// repeats mark_entries until it answers false.
void mark_table();
bool mark_entries();
// Collector, after marking: drops entries whose series was not reached.
void purge();

}  // namespace kiv::ownership
